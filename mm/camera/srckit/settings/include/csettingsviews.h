// The six settings views. Each is a small framework object whose interface
// face forwards AddRef, Release and QueryInterface to its outer object (the
// user-data aggregate) and answers from three engine-owned records: the user
// data, the engine settings and the sensor-information proxy.
#pragma once

#include <new>

#include "camerasettings.h"
#include "cenginesettings.h"
#include "cpvlobject.h"
#include "csensorinfoproxy.h"
#include "cuserdata.h"

struct SettingsViewContext {
  CPvlObject* self;
  CUserData* ud;
  CEngineSettings* es;
  CSensorInfoProxy* sip;
};

// The largest enabled output, with the YUV-output margins (12 by 6) of a Bayer sensor.
PvlResult SettingsOutputDescription(const SettingsViewContext& c, CameraOutputDescription* out);

#define SETTINGS_VIEW_FORWARDS                                                           \
  int32_t AddRef() override { return m_ctx.self->GetOuter()->AddRef(); }                 \
  int32_t Release() override { return m_ctx.self->GetOuter()->Release(); }               \
  PvlResult QueryInterface(ZUEUID iid, void** out) override {                            \
    return m_ctx.self->GetOuter()->QueryInterface(iid, out);                             \
  }

class CVfeSettingsFace final : public IVfeSettings {
 public:
  SETTINGS_VIEW_FORWARDS
  PvlResult GetContrast(CameraRange* out) override;
  PvlResult GetBrightness(CameraRange* out) override;
  PvlResult GetGammaCurve(CameraFloatRange* out) override;
  PvlResult GetImageEffectMode(uint32_t* out) override;
  PvlResult GetImageEffect(uint32_t* out) override;
  PvlResult GetFixedCbOffset(CameraRange* out) override;
  PvlResult GetFixedCrOffset(CameraRange* out) override;
  PvlResult GetSaturation(CameraRange* out) override;
  PvlResult GetHueAngle(CameraFloatRange* out) override;
  PvlResult GetSharpness(CameraRange* out) override;
  PvlResult GetDigitalGain(CFixedPoint* out) override;
  PvlResult GetCropFactor(CFixedPoint* out) override;
  PvlResult SetMaxCropFactor(const CFixedPoint* factor) override;
  PvlResult GetReservedFlag(uint8_t* out) override;
  PvlResult GetSensorFormat(SensorOutputFormat* out) override;
  PvlResult GetSensorTiming(SensorTiming* out) override;
  PvlResult GetSensorGeometry(SensorGeometry* out) override;
  PvlResult GetSensorModeInfo(SensorModeInfo* out) override;
  PvlResult GetWhiteBalanceGains(CFixedPoint* red, CFixedPoint* green, CFixedPoint* blue) override;
  PvlResult GetWhiteBalanceIlluminant(uint32_t* out) override;
  PvlResult GetAwbFlagB(uint8_t* out) override;
  PvlResult GetAecIndex(uint32_t* out) override;
  PvlResult GetAecFlagA(uint8_t* out) override;
  PvlResult GetAecPair(uint32_t* word, uint8_t* byte) override;
  PvlResult GetFlashNeeded(uint8_t* out) override;
  PvlResult GetFocusState(uint32_t* out) override;
  PvlResult GetExposureGain(CFixedPoint* out) override;
  PvlResult GetAecWordB(uint32_t* out) override;
  PvlResult GetAFWindowConfig(uint8_t* wholeFrame, uint8_t* cells, int32_t capacity, int32_t* count) override;
  PvlResult GetVfeBlock(void* buffer, int32_t size, uint32_t* sizeOut) override;
  PvlResult SetVfeBlock(const void* buffer, uint32_t size) override;
  PvlResult GetLumaAdaptationMode(uint32_t* out) override;
  PvlResult GetOutputDescription(CameraOutputDescription* out) override;
  PvlResult GetModeTimingWord0(uint32_t* out) override;

  SettingsViewContext m_ctx{};
};

class CSensorSettingsFace final : public ISensorSettings {
 public:
  SETTINGS_VIEW_FORWARDS
  PvlResult GetAntibandingMode(uint32_t* out) override;
  PvlResult GetAntibanding(uint32_t* out) override;
  PvlResult GetBrightness(CameraRange* out) override;
  PvlResult GetContrast(CameraRange* out) override;
  PvlResult GetExposureGain(CFixedPoint* out) override;
  PvlResult GetExposureLineCount(uint32_t* out) override;
  PvlResult GetExposureCompensation(CameraFraction* out) override;
  PvlResult GetExposureMeteringMode(uint32_t* out) override;
  PvlResult GetUnsupportedA(void* out) override;
  PvlResult GetUnsupportedB(void* out) override;
  PvlResult GetLensMoveDirection(uint32_t* out) override;
  PvlResult GetLensMoveSteps(uint32_t* out) override;
  PvlResult GetLensReset(uint8_t* out) override;
  PvlResult GetAFSearchMode(uint32_t* out) override;
  PvlResult GetFocusState(uint32_t* out) override;
  PvlResult AreAllOutputsFlagged(uint8_t* out) override;
  PvlResult GetFrameInterval(uint32_t* out) override;
  PvlResult GetGammaCurve(CameraFloatRange* out) override;
  PvlResult GetHueAngle(CameraFloatRange* out) override;
  PvlResult GetImageEffectMode(uint32_t* out) override;
  PvlResult GetImageEffect(uint32_t* out) override;
  PvlResult GetFixedCbOffset(CameraRange* out) override;
  PvlResult GetFixedCrOffset(CameraRange* out) override;
  PvlResult GetISOMode(uint32_t* out) override;
  PvlResult GetISO(uint32_t* out) override;
  PvlResult GetAperture(float* out) override;
  PvlResult GetSnapshotShutterSpeed(uint32_t* out) override;
  PvlResult GetUnsupportedC(void* out) override;
  PvlResult GetOutputSize(CameraSize* out) override;
  PvlResult GetSaturation(CameraRange* out) override;
  PvlResult GetSharpness(CameraRange* out) override;
  PvlResult GetWhiteBalanceMode(uint32_t* out) override;
  PvlResult GetWhiteBalanceValue(uint32_t* out) override;

  SettingsViewContext m_ctx{};
};

class CFlashSettingsFace final : public IFlashSettings {
 public:
  SETTINGS_VIEW_FORWARDS
  PvlResult GetLampIntensity(CameraRange* out) override;
  PvlResult GetSnapshotFlashIntensity(CameraRange* out) override;
  PvlResult GetRedEyeReductionMode(uint32_t* out) override;
  PvlResult GetUnsupportedD(void* out) override;
  PvlResult GetUnsupportedE(void* out) override;
  PvlResult GetLampMode(uint32_t* out) override;
  PvlResult GetSnapshotFlashMode(uint32_t* out) override;
  PvlResult GetCurrentFlashDeviceId(uint32_t* out) override;
  PvlResult IsFlashRequired(uint8_t* out) override;
  PvlResult GetFlashNeeded(uint8_t* out) override;
  PvlResult SetFlashWord(uint32_t word) override;
  PvlResult GetPreSnapshotState(uint32_t* out) override;

  SettingsViewContext m_ctx{};
};

class CAwbSettingsFace final : public IAwbSettings {
 public:
  SETTINGS_VIEW_FORWARDS
  PvlResult GetWhiteBalanceMode(uint32_t* out) override;
  PvlResult GetAecIndex(uint32_t* out) override;
  PvlResult SetAwbWordA(uint32_t word) override;
  PvlResult SetWhiteBalanceGains(const CFixedPoint* red, const CFixedPoint* green, const CFixedPoint* blue) override;
  PvlResult SetAwbFlagB(uint8_t flag) override;
  PvlResult GetAecFlagC(uint8_t* out) override;
  PvlResult GetFlashWord(uint32_t* out) override;
  PvlResult GetGainTripleB(CFixedPoint* a, CFixedPoint* b, CFixedPoint* c) override;
  PvlResult GetPreSnapshotState(uint32_t* out) override;
  PvlResult SetPreSnapshotState(uint32_t state) override;
  PvlResult IsAwbSupported(uint32_t* out) override;

  SettingsViewContext m_ctx{};
};

class CAfSettingsFace final : public IAfSettings {
 public:
  SETTINGS_VIEW_FORWARDS
  PvlResult GetFocusMode(uint32_t* out) override;
  PvlResult GetFocusState(uint32_t* out) override;
  PvlResult GetLensPosition(uint32_t* out) override;
  PvlResult GetLensReset(uint8_t* out) override;
  PvlResult GetOnSensorFocusResult(uint32_t* out) override;
  PvlResult GetFrameRateA(CFixedPoint* out) override;
  PvlResult GetAecFlagA(uint8_t* out) override;
  PvlResult GetAecPair(uint32_t* word, uint8_t* byte) override;
  PvlResult SetFocusState(uint32_t state) override;
  PvlResult MoveLens(uint32_t direction, uint32_t steps, uint8_t reset) override;
  PvlResult GetPreSnapshotState(uint32_t* out) override;
  PvlResult SetPreSnapshotState(uint32_t state) override;
  PvlResult GetSensorGeometry(SensorGeometry* out) override;
  PvlResult GetAecIndex(uint32_t* out) override;

  SettingsViewContext m_ctx{};
};

class CAecSettingsFace final : public IAecSettings {
 public:
  SETTINGS_VIEW_FORWARDS
  PvlResult GetAntibandingMode(uint32_t* out) override;
  PvlResult GetAntibanding(uint32_t* out) override;
  PvlResult GetExposureMeteringMode(uint32_t* out) override;
  PvlResult GetExposureCompensation(CameraFraction* out) override;
  PvlResult AreAllOutputsFlagged(uint8_t* out) override;
  PvlResult GetUnityFactor(CFixedPoint* out) override;
  PvlResult GetMaxFrameRate(CFixedPoint* out) override;
  PvlResult GetFrameRateB(CFixedPoint* out) override;
  PvlResult GetISOMode(uint32_t* out) override;
  PvlResult GetISO(uint32_t* out) override;
  PvlResult GetSnapshotHJRMode(uint32_t* out) override;
  PvlResult GetFrameRateA(CFixedPoint* out) override;
  PvlResult GetPixelClock(uint32_t* out) override;
  PvlResult GetLineLength(uint32_t* out) override;
  PvlResult GetGainInfoWord4(uint32_t* out) override;
  PvlResult GetModeFrameRateA(CFixedPoint* out) override;
  PvlResult GetModeFrameRateB(CFixedPoint* out) override;
  PvlResult GetModeTimingWord5(uint32_t* out) override;
  PvlResult GetModeTimingWord2(uint32_t* out) override;
  PvlResult GetModeTimingWord1(uint32_t* out) override;
  PvlResult GetOutputDescription(CameraOutputDescription* out) override;
  PvlResult GetUnsupportedF(void* out) override;
  PvlResult GetFixedCount(uint32_t* out) override;
  PvlResult SetExposureGain(const CFixedPoint* gain) override;
  PvlResult SetExposureLineCount(uint32_t lines) override;
  PvlResult SetExposureValueB(const CFixedPoint* value) override;
  PvlResult SetAecIndex(uint32_t index) override;
  PvlResult SetAecFlagA(uint8_t flag) override;
  PvlResult SetAecPair(uint32_t word, uint8_t byte) override;
  PvlResult SetFlashNeeded(uint8_t needed) override;
  PvlResult SetAecWordB(uint32_t word) override;
  PvlResult GetAecWordB(uint32_t* out) override;
  PvlResult SetHJRFrameCount(uint32_t count) override;
  PvlResult GetHJRFrameCount(uint32_t* out) override;
  PvlResult SetExposureCompensationRange(uint32_t denominator, uint32_t step, uint32_t minimum,
                                         uint32_t maximum) override;
  PvlResult SetAecFlagC(uint8_t flag) override;
  PvlResult GetAecFlagC(uint8_t* out) override;
  PvlResult IsBurstWithoutHJR(uint8_t* out) override;
  PvlResult SetGainTripleB(const CFixedPoint* a, const CFixedPoint* b, const CFixedPoint* c) override;
  PvlResult GetFlashWord(uint32_t* out) override;
  PvlResult GetPreSnapshotState(uint32_t* out) override;
  PvlResult SetPreSnapshotState(uint32_t state) override;
  PvlResult IsAwbSupported(uint32_t* out) override;
  PvlResult GetLampMode(uint32_t* out) override;
  PvlResult GetLensPosition(uint32_t* out) override;

  SettingsViewContext m_ctx{};
};

// A view object: the base object and its one interface face.
template <class Face, ZUEUID kIid>
class CSettingsView final : public CPvlObject {
 public:
  // 29 without an environment, 2 out of memory; else the view with one reference.
  static PvlResult New(IEnv* env, CUserData* ud, CEngineSettings* es, CSensorInfoProxy* sip, CPvlObject** out) {
    if (!out) return PVL_E_NULLPTR;
    *out = nullptr;
    if (!env) return PVL_E_NULLPTR;
    CSettingsView* view = new (std::nothrow) CSettingsView(env, ud, es, sip);
    if (!view) return PVL_E_OUTOFMEMORY;
    view->GetDelegate()->AddRef();
    *out = view;
    return PVL_OK;
  }

  PvlResult QueryInterface(ZUEUID iid, void** out) override {
    if (iid != kIid) return CPvlObject::QueryInterface(iid, out);
    if (!out) return PVL_E_NULLPTR;
    *out = static_cast<IPvlBase*>(&m_face);
    GetDelegate()->AddRef();
    return PVL_OK;
  }

  Face* GetFace() { return &m_face; }

 private:
  CSettingsView(IEnv* env, CUserData* ud, CEngineSettings* es, CSensorInfoProxy* sip) : CPvlObject(env) {
    m_face.m_ctx = SettingsViewContext{this, ud, es, sip};
  }
  ~CSettingsView() override = default;

  Face m_face;
};

using CVfeSettings = CSettingsView<CVfeSettingsFace, ZUEUID_VFE_SETTINGS>;
using CSensorSettings = CSettingsView<CSensorSettingsFace, ZUEUID_SENSOR_SETTINGS>;
using CFlashSettings = CSettingsView<CFlashSettingsFace, ZUEUID_FLASH_SETTINGS>;
using CAwbSettings = CSettingsView<CAwbSettingsFace, ZUEUID_AWB_SETTINGS>;
using CAfSettings = CSettingsView<CAfSettingsFace, ZUEUID_AF_SETTINGS>;
using CAecSettings = CSettingsView<CAecSettingsFace, ZUEUID_AEC_SETTINGS>;
