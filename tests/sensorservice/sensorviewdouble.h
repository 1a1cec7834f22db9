// A sensor settings view for the sensor service's tests: every getter hands out
// its field, logs its name, and answers the failure a test set for it. The view
// is also the client object handed to Initialize.
#pragma once

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "camerasettings.h"
#include "cfixedpoint.h"
#include "sensorconfigrecords.h"

namespace sensortest {

class SensorViewDouble final : public ISensorSettings {
 public:
  SensorViewDouble() : gain(8, 3.0) {}

  int32_t AddRef() override { return ++refs; }
  int32_t Release() override { return --refs; }
  PvlResult QueryInterface(ZUEUID iid, void** out) override {
    if (!out) return PVL_E_NULLPTR;
    if (iid == ZUEUID_IFACE_BASE || (iid == ZUEUID_SENSOR_SETTINGS && answersSettings)) {
      AddRef();
      *out = static_cast<ISensorSettings*>(this);
      return PVL_OK;
    }
    *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }

#define VIEW_GETTER(Name, Type, field)                     \
  PvlResult Name(Type* out) override {                     \
    reads.push_back(#Name);                                \
    auto f = fail.find(#Name);                             \
    if (f != fail.end()) return f->second;                 \
    *out = field;                                          \
    return PVL_OK;                                         \
  }
  VIEW_GETTER(GetAntibandingMode, uint32_t, antibandingMode)
  VIEW_GETTER(GetAntibanding, uint32_t, flicker)
  VIEW_GETTER(GetBrightness, CameraRange, brightness)
  VIEW_GETTER(GetContrast, CameraRange, contrast)
  VIEW_GETTER(GetExposureGain, CFixedPoint, gain)
  VIEW_GETTER(GetExposureLineCount, uint32_t, lines)
  VIEW_GETTER(GetExposureCompensation, CameraFraction, compensation)
  VIEW_GETTER(GetExposureMeteringMode, uint32_t, metering)
  VIEW_GETTER(GetLensMoveDirection, uint32_t, direction)
  VIEW_GETTER(GetLensMoveSteps, uint32_t, steps)
  VIEW_GETTER(GetLensReset, uint8_t, lensReset)
  VIEW_GETTER(GetAFSearchMode, uint32_t, focusMode)
  VIEW_GETTER(GetFocusState, uint32_t, focusState)
  VIEW_GETTER(AreAllOutputsFlagged, uint8_t, autoFrame)
  VIEW_GETTER(GetFrameInterval, uint32_t, frameInterval)
  VIEW_GETTER(GetGammaCurve, CameraFloatRange, gamma)
  VIEW_GETTER(GetHueAngle, CameraFloatRange, hue)
  VIEW_GETTER(GetImageEffectMode, uint32_t, effectSelector)
  VIEW_GETTER(GetImageEffect, uint32_t, effectKind)
  VIEW_GETTER(GetFixedCbOffset, CameraRange, cb)
  VIEW_GETTER(GetFixedCrOffset, CameraRange, cr)
  VIEW_GETTER(GetISOMode, uint32_t, isoMode)
  VIEW_GETTER(GetISO, uint32_t, iso)
  VIEW_GETTER(GetAperture, float, aperture)
  VIEW_GETTER(GetSnapshotShutterSpeed, uint32_t, shutter)
  VIEW_GETTER(GetOutputSize, CameraSize, outputSize)
  VIEW_GETTER(GetSaturation, CameraRange, saturation)
  VIEW_GETTER(GetSharpness, CameraRange, sharpness)
  VIEW_GETTER(GetWhiteBalanceMode, uint32_t, wbMode)
  VIEW_GETTER(GetWhiteBalanceValue, uint32_t, wbValue)
#undef VIEW_GETTER
  // The view of the system offers neither the centre rectangle, its weighting
  // nor a zoom range; a test may provide them.
  PvlResult GetUnsupportedA(void* out) override { return Optional("GetMeteringCenterRect", out, &centerRect, sizeof centerRect); }
  PvlResult GetUnsupportedB(void* out) override { return Optional("GetMeteringCenterWeighting", out, &weighting, sizeof weighting); }
  PvlResult GetUnsupportedC(void* out) override { return Optional("GetOpticalZoomRange", out, &zoom, sizeof zoom); }

  bool Read(const std::string& name) const {
    for (const std::string& r : reads)
      if (r == name) return true;
    return false;
  }

  std::atomic<int32_t> refs{0};
  bool answersSettings = true;
  bool providesOptional = false;
  std::vector<std::string> reads;
  std::map<std::string, PvlResult> fail;

  uint32_t antibandingMode = 0, flicker = 60;
  CameraRange brightness{0, 10, 1, 5, 5}, contrast{0, 10, 1, 5, 5}, saturation{0, 10, 1, 5, 5},
      sharpness{0, 10, 1, 5, 5}, cb{0, 10, 1, 5, 5}, cr{0, 10, 1, 5, 5};
  CFixedPoint gain;
  uint32_t lines = 900;
  CameraFraction compensation{0, 6};
  uint32_t metering = 0;
  SensorRect centerRect{1, 2, 3, 4};
  float weighting = 0.5f;
  uint32_t direction = 0, steps = 0;
  uint8_t lensReset = 0;
  uint32_t focusMode = 0, focusState = 0;
  uint8_t autoFrame = 0;
  uint32_t frameInterval = 33333;
  CameraFloatRange gamma{0, 100, 1, 50, 50}, hue{0, 100, 1, 50, 50};
  uint32_t effectSelector = 0, effectKind = 0;
  uint32_t isoMode = 2, iso = 100;
  float aperture = 2.8f;
  uint32_t shutter = 1000;
  CameraSize outputSize{652, 486};
  uint32_t wbMode = 2, wbValue = 5000;
  CameraRange zoom{0, 10, 1, 0, 5};

 private:
  PvlResult Optional(const char* name, void* out, const void* value, size_t size) {
    reads.push_back(name);
    if (!out) return PVL_E_NULLPTR;
    if (!providesOptional) return PVL_E_UNSUPPORTED;
    memcpy(out, value, size);
    return PVL_OK;
  }
};

}  // namespace sensortest
