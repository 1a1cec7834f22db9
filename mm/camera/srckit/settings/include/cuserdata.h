// CUserData: reads the client's camera properties from the engine's property
// store and turns each into the plain value that the settings views hand out.
// Getters write their output only on success.
#pragma once

#include <stdint.h>

#include "icameraportformatsource.h"
#include "camerasettings.h"
#include "cfixedpoint.h"
#include "ipropertystore.h"
#include "cpvlptr.h"

class CUserData {
 public:
  CUserData();

  // The engine hands over its property store and state machine once.
  void SetSources(IProperties* store, ICameraPortFormatSource* formats);

  PvlResult GetAntibandingMode(uint32_t* out);
  PvlResult GetAntibanding(uint32_t* out);
  PvlResult GetExposureCompensation(CameraFraction* out);
  PvlResult GetExposureMeteringMode(uint32_t* out);
  PvlResult GetSnapshotHJRMode(uint32_t* out);
  PvlResult GetISORange(CameraRange* out);
  PvlResult GetISOMode(uint32_t* out);
  PvlResult GetAperture(float* out);
  PvlResult GetSnapshotShutterSpeed(uint32_t* out);
  // Mode words 2..6 give 1, 0, 2, 3, 4; any other word leaves *out as it was (result 0).
  PvlResult GetWhiteBalanceMode(uint32_t* out);
  PvlResult GetWhiteBalanceValue(uint32_t* out);
  PvlResult GetLampIntensity(CameraRange* out);
  PvlResult GetLampMode(uint32_t* out);
  PvlResult GetSnapshotFlashIntensity(CameraRange* out);
  PvlResult GetSnapshotFlashMode(uint32_t* out);
  PvlResult GetRedEyeReductionMode(uint32_t* out);
  PvlResult GetCurrentFlashDeviceId(uint32_t* out);
  PvlResult GetFocusMode(uint32_t* out);
  PvlResult GetFocusStep(uint32_t* out);
  PvlResult GetFocusRectangleMode(uint32_t* out);
  PvlResult GetContrast(CameraRange* out);
  PvlResult GetBrightness(CameraRange* out);
  PvlResult GetGammaCurve(CameraFloatRange* out);
  PvlResult GetImageEffect(uint32_t* out);
  PvlResult GetImageEffectMode(uint32_t* out);
  PvlResult GetFixedCbOffset(CameraRange* out);
  PvlResult GetFixedCrOffset(CameraRange* out);
  PvlResult GetSaturation(CameraRange* out);
  PvlResult GetHueAngle(CameraFloatRange* out);
  PvlResult GetSharpness(CameraRange* out);
  PvlResult GetLumaAdaptationMode(uint32_t* out);
  PvlResult GetCropFactor(CFixedPoint* out);
  // 0 best shot off, else the best-shot mode 1..11; a property value outside 0..10 gives 39.
  PvlResult GetBestShotMode(uint32_t* out);
  PvlResult GetMinFrameInterval(uint32_t* out);
  PvlResult GetMaxFrameRate(CFixedPoint* out);
  PvlResult GetLargestOutputFormat(CameraPortFormat* out);
  PvlResult AreAllOutputsFlagged(uint8_t* out);
  PvlResult IsAwbSupported(uint32_t* out);
  PvlResult GetFocusCells(uint8_t* cells, int32_t capacity, int32_t* count);
  uint32_t GetSnapshotCount() const { return m_snapshotCount; }
  void SetSnapshotCount(uint32_t count) { m_snapshotCount = count; }

  PvlResult SetFocusStep(int32_t step);
  PvlResult UpdateFocusRectangleGrid();
  PvlResult SetMaxCropFactor(const CFixedPoint& factor);
  PvlResult SetExposureCompensationRange(uint32_t denominator, uint32_t step, uint32_t minimum, uint32_t maximum);

  // 0 -> 0, 1 -> 1, 2 -> 3, 3 -> 2, other -> 0.
  static uint32_t MapModeWord(uint32_t mode);

 private:
  struct Summary {
    uint32_t minimum, maximum, step, def, value, mode;
  };
  PvlResult ReadValue(uint32_t type, uint32_t id, PvlValueRecord* out);
  // These throw Camera::CZUEException with the store's code.
  void FetchValue(uint32_t type, uint32_t id, PvlValueRecord* out);
  Summary FetchSummary(uint32_t id, bool isFloat);
  PvlResult GetRange(uint32_t id, CameraRange* out);
  PvlResult GetFloatRange(uint32_t id, CameraFloatRange* out);
  PvlResult GetMappedMode(uint32_t id, uint32_t* out);
  PvlResult GetInt(uint32_t id, int32_t* out);
  PvlResult GetUInt(uint32_t id, uint32_t* out);
  PvlResult GetIntUpTo(uint32_t id, int32_t maximum, uint32_t* out);
  PvlResult EnabledFormats(CameraPortFormat* formats, uint32_t* count);

  CPvlPtr<IProperties> m_store;
  CPvlPtr<ICameraPortFormatSource> m_formats;
  uint32_t m_snapshotCount;
};
