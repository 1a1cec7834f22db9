// The settings views' operations.
#include "csettingsviews.h"

#include <cmath>
#include <cstring>

#include "cameraportformat.h"
#include "tuningdata.h"

#define NULL_CHECK(p) \
  if (!(p)) return PVL_E_NULLPTR

namespace {

CFixedPoint Q8Raw(int32_t raw) {
  CFixedPoint f(8u, 0);
  f.SetRawValue(raw);
  return f;
}

float WordAsFloat(uint32_t w) {
  float f;
  std::memcpy(&f, &w, sizeof f);
  return f;
}

}  // namespace

PvlResult SettingsOutputDescription(const SettingsViewContext& c, CameraOutputDescription* out) {
  NULL_CHECK(out);
  CameraPortFormat format{};
  PvlResult r = c.ud->GetLargestOutputFormat(&format);
  if (r != PVL_OK) return r;
  if (!c.sip->IsYuvSensor() && format.idColorSpace == ZUEUID_COLORSPACE_YUV) {
    format.Width += 12;
    format.Height += 6;
  }
  CameraOutputDescription d{};
  d.Width = format.Width;
  d.Height = format.Height;
  d.FrameInterval = format.FrameInterval;
  d.Flag = format.AutoFrameRate;
  *out = d;
  return PVL_OK;
}

namespace {

// The ISO the client chose: the value of its ISO range.
PvlResult SettingsIso(const SettingsViewContext& c, uint32_t* out) {
  NULL_CHECK(out);
  CameraRange range;
  PvlResult r = c.ud->GetISORange(&range);
  if (r == PVL_OK) *out = static_cast<uint32_t>(range.Value);
  return r;
}

// A word of the sensor's frame-timing answer for the largest enabled output.
PvlResult ModeTimingWord(const SettingsViewContext& c, uint32_t word, uint32_t* out) {
  NULL_CHECK(out);
  CameraOutputDescription d;
  PvlResult r = SettingsOutputDescription(c, &d);
  return r != PVL_OK ? r : c.sip->GetModeTimingWord(d, word, out);
}

// A frame rate of the sensor's frame-timing answer for the largest enabled output.
PvlResult ModeFrameRate(const SettingsViewContext& c,
                        PvlResult (CSensorInfoProxy::*rate)(const CameraOutputDescription&, CFixedPoint*),
                        CFixedPoint* out) {
  NULL_CHECK(out);
  CameraOutputDescription d;
  PvlResult r = SettingsOutputDescription(c, &d);
  return r != PVL_OK ? r : (c.sip->*rate)(d, out);
}

}  // namespace

// ---------------------------------------------------------------------------
// IVfeSettings

PvlResult CVfeSettingsFace::GetContrast(CameraRange* out) { NULL_CHECK(out); return m_ctx.ud->GetContrast(out); }
PvlResult CVfeSettingsFace::GetBrightness(CameraRange* out) { NULL_CHECK(out); return m_ctx.ud->GetBrightness(out); }
PvlResult CVfeSettingsFace::GetGammaCurve(CameraFloatRange* out) { NULL_CHECK(out); return m_ctx.ud->GetGammaCurve(out); }
PvlResult CVfeSettingsFace::GetImageEffectMode(uint32_t* out) { NULL_CHECK(out); return m_ctx.ud->GetImageEffectMode(out); }
PvlResult CVfeSettingsFace::GetImageEffect(uint32_t* out) { NULL_CHECK(out); return m_ctx.ud->GetImageEffect(out); }
PvlResult CVfeSettingsFace::GetFixedCbOffset(CameraRange* out) { NULL_CHECK(out); return m_ctx.ud->GetFixedCbOffset(out); }
PvlResult CVfeSettingsFace::GetFixedCrOffset(CameraRange* out) { NULL_CHECK(out); return m_ctx.ud->GetFixedCrOffset(out); }
PvlResult CVfeSettingsFace::GetSaturation(CameraRange* out) { NULL_CHECK(out); return m_ctx.ud->GetSaturation(out); }
PvlResult CVfeSettingsFace::GetHueAngle(CameraFloatRange* out) { NULL_CHECK(out); return m_ctx.ud->GetHueAngle(out); }
PvlResult CVfeSettingsFace::GetSharpness(CameraRange* out) { NULL_CHECK(out); return m_ctx.ud->GetSharpness(out); }

PvlResult CVfeSettingsFace::GetDigitalGain(CFixedPoint* out) {
  NULL_CHECK(out);
  CFixedPoint gain;
  PvlResult r = m_ctx.es->GetExposureGain(&gain);
  if (r != PVL_OK) return r;
  CFixedPoint base;
  r = m_ctx.sip->GetBaseGain(&base);
  if (r != PVL_OK) return r;
  // Until the sensor reports a base gain the digital gain is unity, not the
  // whole exposure gain.
  if (base.GetRawValue() == 0) {
    *out = Q8Raw(256);
    return PVL_OK;
  }
  *out = gain / base;
  return PVL_OK;
}

PvlResult CVfeSettingsFace::GetCropFactor(CFixedPoint* out) { NULL_CHECK(out); return m_ctx.ud->GetCropFactor(out); }
PvlResult CVfeSettingsFace::SetMaxCropFactor(const CFixedPoint* factor) {
  NULL_CHECK(factor);
  return m_ctx.ud->SetMaxCropFactor(*factor);
}
PvlResult CVfeSettingsFace::GetReservedFlag(uint8_t* out) {
  NULL_CHECK(out);
  *out = 0;
  return PVL_OK;
}
PvlResult CVfeSettingsFace::GetSensorFormat(SensorOutputFormat* out) { NULL_CHECK(out); return m_ctx.sip->GetSensorFormat(out); }
PvlResult CVfeSettingsFace::GetSensorTiming(SensorTiming* out) { NULL_CHECK(out); return m_ctx.sip->GetSensorTiming(out); }
PvlResult CVfeSettingsFace::GetSensorGeometry(SensorGeometry* out) { NULL_CHECK(out); return m_ctx.sip->GetSensorGeometry(out); }
PvlResult CVfeSettingsFace::GetSensorModeInfo(SensorModeInfo* out) { NULL_CHECK(out); return m_ctx.sip->GetSensorModeInfo(out); }

PvlResult CVfeSettingsFace::GetWhiteBalanceGains(CFixedPoint* red, CFixedPoint* green, CFixedPoint* blue) {
  if (!red || !green || !blue) return PVL_E_NULLPTR;
  uint32_t mode = 0;  // automatic unless the client's mode word says otherwise
  PvlResult r = m_ctx.ud->GetWhiteBalanceMode(&mode);
  if (r != PVL_OK) return r;
  CFixedPoint g[3];
  if (mode == 1) {
    uint32_t kelvin = 0;
    r = m_ctx.ud->GetWhiteBalanceValue(&kelvin);
    if (r != PVL_OK) return r;
    uint32_t index;
    switch (kelvin) {
      case 2350: index = MWB_SUNNY; break;
      case 2800: index = MWB_TUNGSTEN; break;
      case 5000: index = MWB_SUNNY; break;
      case 5500: index = MWB_LED; break;
      case 6500: case 7500: index = MWB_CLOUDY; break;
      default: index = MWB_FLUORESCENT; break;  // 3000, 4000, 4200 and any other value
    }
    CPvlPtr<ITuningParams> params;
    r = TuningData_GetParamsInterface(&params);
    if (r != PVL_OK) return r;
    TuningMwbGains mwb;
    r = params->GetMwbGains(TUNING_ID_MWB_BASE + index, &mwb);
    if (r != PVL_OK) return r;
    g[0] = CFixedPoint(7u, static_cast<double>(mwb.RGain));
    g[1] = CFixedPoint(7u, static_cast<double>(mwb.GGain));
    g[2] = CFixedPoint(7u, static_cast<double>(mwb.BGain));
  } else {
    r = m_ctx.es->GetWhiteBalanceGains(&g[0], &g[1], &g[2]);
    if (r != PVL_OK) return r;
  }
  uint32_t redAdjust = 0, blueAdjust = 0;
  r = TuningData_GetWordParam(TUNING_ID_WB_RED_ADJUST, &redAdjust);
  if (r != PVL_OK) return r;
  r = TuningData_GetWordParam(TUNING_ID_WB_BLUE_ADJUST, &blueAdjust);
  if (r != PVL_OK) return r;
  *red = g[0] * static_cast<double>(WordAsFloat(redAdjust));
  *green = g[1];
  *blue = g[2] * static_cast<double>(WordAsFloat(blueAdjust));
  return PVL_OK;
}

PvlResult CVfeSettingsFace::GetWhiteBalanceIlluminant(uint32_t* out) {
  NULL_CHECK(out);
  uint32_t mode = 0;
  PvlResult r = m_ctx.ud->GetWhiteBalanceMode(&mode);
  if (r != PVL_OK) return r;
  if (mode != 1) return m_ctx.es->GetAwbWordA(out);
  uint32_t kelvin = 0;
  r = m_ctx.ud->GetWhiteBalanceValue(&kelvin);
  if (r != PVL_OK) return r;
  switch (kelvin) {
    case 2350: *out = 7; break;
    case 2800: *out = 6; break;
    case 4200: case 5500: *out = 4; break;
    case 5000: *out = 3; break;
    case 6500: *out = 1; break;
    case 7500: *out = 0; break;
    default: *out = 5; break;  // 3000, 4000 and any other value
  }
  return PVL_OK;
}

PvlResult CVfeSettingsFace::GetAwbFlagB(uint8_t* out) { return m_ctx.es->GetAwbFlagB(out); }
PvlResult CVfeSettingsFace::GetAecIndex(uint32_t* out) { return m_ctx.es->GetAecIndex(out); }
PvlResult CVfeSettingsFace::GetAecFlagA(uint8_t* out) { return m_ctx.es->GetAecFlagA(out); }
PvlResult CVfeSettingsFace::GetAecPair(uint32_t* word, uint8_t* byte) { return m_ctx.es->GetAecPair(word, byte); }
PvlResult CVfeSettingsFace::GetFlashNeeded(uint8_t* out) { return m_ctx.es->GetFlashNeeded(out); }
PvlResult CVfeSettingsFace::GetFocusState(uint32_t* out) { return m_ctx.sip->GetFocusState(out); }
PvlResult CVfeSettingsFace::GetExposureGain(CFixedPoint* out) { return m_ctx.es->GetExposureGain(out); }
PvlResult CVfeSettingsFace::GetAecWordB(uint32_t* out) { return m_ctx.es->GetAecWordB(out); }

PvlResult CVfeSettingsFace::GetAFWindowConfig(uint8_t* wholeFrame, uint8_t* cells, int32_t capacity, int32_t* count) {
  if (!wholeFrame) return PVL_E_BADARG;
  uint32_t mode = 0;
  PvlResult r = m_ctx.ud->GetFocusRectangleMode(&mode);
  if (r == PVL_OK) *wholeFrame = (mode == 0 || mode == 2) ? 1 : 0;
  if (!count) return r;
  PvlResult cellsResult = m_ctx.ud->GetFocusCells(cells, capacity, count);
  return r != PVL_OK ? r : cellsResult;
}

PvlResult CVfeSettingsFace::GetVfeBlock(void* buffer, int32_t size, uint32_t* sizeOut) {
  if (!buffer || !sizeOut) return PVL_E_NULLPTR;
  return m_ctx.es->GetVfeBlock(buffer, size, sizeOut);
}

PvlResult CVfeSettingsFace::SetVfeBlock(const void* buffer, uint32_t size) {
  if (!buffer || size == 0) return PVL_E_NULLPTR;
  return m_ctx.es->SetVfeBlock(buffer, size);
}

PvlResult CVfeSettingsFace::GetLumaAdaptationMode(uint32_t* out) { NULL_CHECK(out); return m_ctx.ud->GetLumaAdaptationMode(out); }
PvlResult CVfeSettingsFace::GetOutputDescription(CameraOutputDescription* out) { return SettingsOutputDescription(m_ctx, out); }

PvlResult CVfeSettingsFace::GetModeTimingWord0(uint32_t* out) { return ModeTimingWord(m_ctx, 0, out); }

// ---------------------------------------------------------------------------
// ISensorSettings

PvlResult CSensorSettingsFace::GetAntibandingMode(uint32_t* out) { NULL_CHECK(out); return m_ctx.ud->GetAntibandingMode(out); }
PvlResult CSensorSettingsFace::GetAntibanding(uint32_t* out) { NULL_CHECK(out); return m_ctx.ud->GetAntibanding(out); }
PvlResult CSensorSettingsFace::GetBrightness(CameraRange* out) { NULL_CHECK(out); return m_ctx.ud->GetBrightness(out); }
PvlResult CSensorSettingsFace::GetContrast(CameraRange* out) { NULL_CHECK(out); return m_ctx.ud->GetContrast(out); }
PvlResult CSensorSettingsFace::GetExposureGain(CFixedPoint* out) { return m_ctx.es->GetExposureGain(out); }
PvlResult CSensorSettingsFace::GetExposureLineCount(uint32_t* out) { return m_ctx.es->GetExposureLineCount(out); }
PvlResult CSensorSettingsFace::GetExposureCompensation(CameraFraction* out) { NULL_CHECK(out); return m_ctx.ud->GetExposureCompensation(out); }
PvlResult CSensorSettingsFace::GetExposureMeteringMode(uint32_t* out) { NULL_CHECK(out); return m_ctx.ud->GetExposureMeteringMode(out); }
PvlResult CSensorSettingsFace::GetUnsupportedA(void* out) { NULL_CHECK(out); return PVL_E_UNSUPPORTED; }
PvlResult CSensorSettingsFace::GetUnsupportedB(void* out) { NULL_CHECK(out); return PVL_E_UNSUPPORTED; }
PvlResult CSensorSettingsFace::GetLensMoveDirection(uint32_t* out) { return m_ctx.sip->GetLensMoveDirection(out); }
PvlResult CSensorSettingsFace::GetLensMoveSteps(uint32_t* out) { return m_ctx.sip->GetLensMoveSteps(out); }
PvlResult CSensorSettingsFace::GetLensReset(uint8_t* out) { return m_ctx.sip->GetLensReset(out); }
PvlResult CSensorSettingsFace::GetAFSearchMode(uint32_t* out) { return m_ctx.sip->GetAFSearchMode(out); }
PvlResult CSensorSettingsFace::GetFocusState(uint32_t* out) { return m_ctx.sip->GetFocusState(out); }
PvlResult CSensorSettingsFace::AreAllOutputsFlagged(uint8_t* out) { NULL_CHECK(out); return m_ctx.ud->AreAllOutputsFlagged(out); }

PvlResult CSensorSettingsFace::GetFrameInterval(uint32_t* out) {
  NULL_CHECK(out);
  uint8_t onSensor = 0;
  PvlResult r = m_ctx.sip->IsOnSensorAutoExposure(&onSensor);
  if (r != PVL_OK) return r;
  uint8_t allFlagged = 0;
  r = m_ctx.ud->AreAllOutputsFlagged(&allFlagged);
  if (r != PVL_OK) return r;
  if (!allFlagged || onSensor) return m_ctx.ud->GetMinFrameInterval(out);
  // The AEC plug-in leaves the frame rate it wants, in frames per second.
  CFixedPoint rate;
  r = m_ctx.es->GetExposureValueB(&rate);
  if (r != PVL_OK) return r;
  double fps = 0.0;
  r = rate.GetDouble(&fps);
  if (r != PVL_OK) return r;
  if (!(fps > 0.0)) return m_ctx.ud->GetMinFrameInterval(out);
  double interval = std::floor(1000000.0 / fps + 0.5);
  *out = interval >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(interval);
  return PVL_OK;
}

PvlResult CSensorSettingsFace::GetGammaCurve(CameraFloatRange* out) { NULL_CHECK(out); return m_ctx.ud->GetGammaCurve(out); }
PvlResult CSensorSettingsFace::GetHueAngle(CameraFloatRange* out) { NULL_CHECK(out); return m_ctx.ud->GetHueAngle(out); }
PvlResult CSensorSettingsFace::GetImageEffectMode(uint32_t* out) { NULL_CHECK(out); return m_ctx.ud->GetImageEffectMode(out); }
PvlResult CSensorSettingsFace::GetImageEffect(uint32_t* out) { NULL_CHECK(out); return m_ctx.ud->GetImageEffect(out); }
PvlResult CSensorSettingsFace::GetFixedCbOffset(CameraRange* out) { NULL_CHECK(out); return m_ctx.ud->GetFixedCbOffset(out); }
PvlResult CSensorSettingsFace::GetFixedCrOffset(CameraRange* out) { NULL_CHECK(out); return m_ctx.ud->GetFixedCrOffset(out); }
PvlResult CSensorSettingsFace::GetISOMode(uint32_t* out) { NULL_CHECK(out); return m_ctx.ud->GetISOMode(out); }

PvlResult CSensorSettingsFace::GetISO(uint32_t* out) { return SettingsIso(m_ctx, out); }

PvlResult CSensorSettingsFace::GetAperture(float* out) { NULL_CHECK(out); return m_ctx.ud->GetAperture(out); }
PvlResult CSensorSettingsFace::GetSnapshotShutterSpeed(uint32_t* out) { NULL_CHECK(out); return m_ctx.ud->GetSnapshotShutterSpeed(out); }
PvlResult CSensorSettingsFace::GetUnsupportedC(void* out) { NULL_CHECK(out); return PVL_E_UNSUPPORTED; }

PvlResult CSensorSettingsFace::GetOutputSize(CameraSize* out) {
  NULL_CHECK(out);
  CameraOutputDescription d;
  PvlResult r = SettingsOutputDescription(m_ctx, &d);
  if (r == PVL_OK) *out = CameraSize{d.Width, d.Height};
  return r;
}

PvlResult CSensorSettingsFace::GetSaturation(CameraRange* out) { NULL_CHECK(out); return m_ctx.ud->GetSaturation(out); }
PvlResult CSensorSettingsFace::GetSharpness(CameraRange* out) { NULL_CHECK(out); return m_ctx.ud->GetSharpness(out); }

PvlResult CSensorSettingsFace::GetWhiteBalanceMode(uint32_t* out) {
  NULL_CHECK(out);
  uint32_t mode = 0;
  PvlResult r = m_ctx.ud->GetWhiteBalanceMode(&mode);
  if (r == PVL_OK) *out = mode == 1 ? 3 : 2;
  return r;
}

PvlResult CSensorSettingsFace::GetWhiteBalanceValue(uint32_t* out) { NULL_CHECK(out); return m_ctx.ud->GetWhiteBalanceValue(out); }

// ---------------------------------------------------------------------------
// IFlashSettings

PvlResult CFlashSettingsFace::GetLampIntensity(CameraRange* out) { NULL_CHECK(out); return m_ctx.ud->GetLampIntensity(out); }
PvlResult CFlashSettingsFace::GetSnapshotFlashIntensity(CameraRange* out) { NULL_CHECK(out); return m_ctx.ud->GetSnapshotFlashIntensity(out); }
PvlResult CFlashSettingsFace::GetRedEyeReductionMode(uint32_t* out) { NULL_CHECK(out); return m_ctx.ud->GetRedEyeReductionMode(out); }
PvlResult CFlashSettingsFace::GetUnsupportedD(void* out) { NULL_CHECK(out); return PVL_E_UNSUPPORTED; }
PvlResult CFlashSettingsFace::GetUnsupportedE(void* out) { NULL_CHECK(out); return PVL_E_UNSUPPORTED; }
PvlResult CFlashSettingsFace::GetLampMode(uint32_t* out) { NULL_CHECK(out); return m_ctx.ud->GetLampMode(out); }
PvlResult CFlashSettingsFace::GetSnapshotFlashMode(uint32_t* out) { NULL_CHECK(out); return m_ctx.ud->GetSnapshotFlashMode(out); }
PvlResult CFlashSettingsFace::GetCurrentFlashDeviceId(uint32_t* out) { NULL_CHECK(out); return m_ctx.ud->GetCurrentFlashDeviceId(out); }

PvlResult CFlashSettingsFace::IsFlashRequired(uint8_t* out) {
  NULL_CHECK(out);
  PvlResult r = m_ctx.es->GetFlashNeeded(out);
  if (r != PVL_OK) return r;
  uint32_t lampMode = 0;
  r = GetLampMode(&lampMode);
  if (r != PVL_OK) return r;
  if (lampMode == 1 || *out != 0) *out = 1;
  return PVL_OK;
}

PvlResult CFlashSettingsFace::GetFlashNeeded(uint8_t* out) { return m_ctx.es->GetFlashNeeded(out); }
PvlResult CFlashSettingsFace::SetFlashWord(uint32_t word) { return m_ctx.es->SetFlashWord(word); }
PvlResult CFlashSettingsFace::GetPreSnapshotState(uint32_t* out) { return m_ctx.es->GetPreSnapshotState(out); }

// ---------------------------------------------------------------------------
// IAwbSettings

PvlResult CAwbSettingsFace::GetWhiteBalanceMode(uint32_t* out) { NULL_CHECK(out); return m_ctx.ud->GetWhiteBalanceMode(out); }
PvlResult CAwbSettingsFace::GetAecIndex(uint32_t* out) { return m_ctx.es->GetAecIndex(out); }
PvlResult CAwbSettingsFace::SetAwbWordA(uint32_t word) { return m_ctx.es->SetAwbWordA(word); }
PvlResult CAwbSettingsFace::SetWhiteBalanceGains(const CFixedPoint* red, const CFixedPoint* green, const CFixedPoint* blue) {
  if (!red || !green || !blue) return PVL_E_NULLPTR;
  return m_ctx.es->SetWhiteBalanceGains(*red, *green, *blue);
}
PvlResult CAwbSettingsFace::SetAwbFlagB(uint8_t flag) { return m_ctx.es->SetAwbFlagB(flag); }
PvlResult CAwbSettingsFace::GetAecFlagC(uint8_t* out) { return m_ctx.es->GetAecFlagC(out); }
PvlResult CAwbSettingsFace::GetFlashWord(uint32_t* out) { return m_ctx.es->GetFlashWord(out); }
PvlResult CAwbSettingsFace::GetGainTripleB(CFixedPoint* a, CFixedPoint* b, CFixedPoint* c) { return m_ctx.es->GetGainTripleB(a, b, c); }
PvlResult CAwbSettingsFace::GetPreSnapshotState(uint32_t* out) { return m_ctx.es->GetPreSnapshotState(out); }
PvlResult CAwbSettingsFace::SetPreSnapshotState(uint32_t state) { return m_ctx.es->SetPreSnapshotState(state); }
PvlResult CAwbSettingsFace::IsAwbSupported(uint32_t* out) { NULL_CHECK(out); return m_ctx.ud->IsAwbSupported(out); }

// ---------------------------------------------------------------------------
// IAfSettings

PvlResult CAfSettingsFace::GetFocusMode(uint32_t* out) { NULL_CHECK(out); return m_ctx.ud->GetFocusMode(out); }
PvlResult CAfSettingsFace::GetFocusState(uint32_t* out) { return m_ctx.sip->GetFocusState(out); }
PvlResult CAfSettingsFace::GetLensPosition(uint32_t* out) { return m_ctx.sip->GetLensPosition(out); }
PvlResult CAfSettingsFace::GetLensReset(uint8_t* out) { return m_ctx.sip->GetLensReset(out); }
PvlResult CAfSettingsFace::GetOnSensorFocusResult(uint32_t* out) { NULL_CHECK(out); return m_ctx.sip->GetOnSensorFocusResult(out); }
PvlResult CAfSettingsFace::GetFrameRateA(CFixedPoint* out) { NULL_CHECK(out); return m_ctx.sip->GetFrameRateA(out); }
PvlResult CAfSettingsFace::GetAecFlagA(uint8_t* out) { return m_ctx.es->GetAecFlagA(out); }
PvlResult CAfSettingsFace::GetAecPair(uint32_t* word, uint8_t* byte) { return m_ctx.es->GetAecPair(word, byte); }
PvlResult CAfSettingsFace::SetFocusState(uint32_t state) { return m_ctx.sip->SetFocusState(state); }

PvlResult CAfSettingsFace::MoveLens(uint32_t direction, uint32_t steps, uint8_t reset) {
  PvlResult r = m_ctx.sip->SetLensMove(direction, steps, reset);
  if (r != PVL_OK) return r;
  uint32_t position = 0;
  r = m_ctx.sip->GetLensPosition(&position);
  if (r != PVL_OK) return r;
  return m_ctx.ud->SetFocusStep(static_cast<int32_t>(position));
}

PvlResult CAfSettingsFace::GetPreSnapshotState(uint32_t* out) { return m_ctx.es->GetPreSnapshotState(out); }
PvlResult CAfSettingsFace::SetPreSnapshotState(uint32_t state) { return m_ctx.es->SetPreSnapshotState(state); }
PvlResult CAfSettingsFace::GetSensorGeometry(SensorGeometry* out) { NULL_CHECK(out); return m_ctx.sip->GetSensorGeometry(out); }
PvlResult CAfSettingsFace::GetAecIndex(uint32_t* out) { return m_ctx.es->GetAecIndex(out); }

// ---------------------------------------------------------------------------
// IAecSettings

PvlResult CAecSettingsFace::GetAntibandingMode(uint32_t* out) { NULL_CHECK(out); return m_ctx.ud->GetAntibandingMode(out); }
PvlResult CAecSettingsFace::GetAntibanding(uint32_t* out) { NULL_CHECK(out); return m_ctx.ud->GetAntibanding(out); }
PvlResult CAecSettingsFace::GetExposureMeteringMode(uint32_t* out) { NULL_CHECK(out); return m_ctx.ud->GetExposureMeteringMode(out); }
PvlResult CAecSettingsFace::GetExposureCompensation(CameraFraction* out) { NULL_CHECK(out); return m_ctx.ud->GetExposureCompensation(out); }
PvlResult CAecSettingsFace::AreAllOutputsFlagged(uint8_t* out) { NULL_CHECK(out); return m_ctx.ud->AreAllOutputsFlagged(out); }
PvlResult CAecSettingsFace::GetUnityFactor(CFixedPoint* out) {
  NULL_CHECK(out);
  *out = Q8Raw(256);
  return PVL_OK;
}
PvlResult CAecSettingsFace::GetMaxFrameRate(CFixedPoint* out) { NULL_CHECK(out); return m_ctx.ud->GetMaxFrameRate(out); }
PvlResult CAecSettingsFace::GetFrameRateB(CFixedPoint* out) { NULL_CHECK(out); return m_ctx.sip->GetFrameRateB(out); }
PvlResult CAecSettingsFace::GetISOMode(uint32_t* out) { NULL_CHECK(out); return m_ctx.ud->GetISOMode(out); }
PvlResult CAecSettingsFace::GetISO(uint32_t* out) { return SettingsIso(m_ctx, out); }
PvlResult CAecSettingsFace::GetSnapshotHJRMode(uint32_t* out) { NULL_CHECK(out); return m_ctx.ud->GetSnapshotHJRMode(out); }
PvlResult CAecSettingsFace::GetFrameRateA(CFixedPoint* out) { NULL_CHECK(out); return m_ctx.sip->GetFrameRateA(out); }
PvlResult CAecSettingsFace::GetPixelClock(uint32_t* out) { NULL_CHECK(out); return m_ctx.sip->GetPixelClock(out); }
PvlResult CAecSettingsFace::GetLineLength(uint32_t* out) { NULL_CHECK(out); return m_ctx.sip->GetLineLength(out); }
PvlResult CAecSettingsFace::GetGainInfoWord4(uint32_t* out) { NULL_CHECK(out); return m_ctx.sip->GetGainInfoWord4(out); }

PvlResult CAecSettingsFace::GetModeFrameRateA(CFixedPoint* out) {
  return ModeFrameRate(m_ctx, &CSensorInfoProxy::GetModeFrameRateA, out);
}
PvlResult CAecSettingsFace::GetModeFrameRateB(CFixedPoint* out) {
  return ModeFrameRate(m_ctx, &CSensorInfoProxy::GetModeFrameRateB, out);
}
PvlResult CAecSettingsFace::GetModeTimingWord5(uint32_t* out) { return ModeTimingWord(m_ctx, 5, out); }
PvlResult CAecSettingsFace::GetModeTimingWord2(uint32_t* out) { return ModeTimingWord(m_ctx, 2, out); }
PvlResult CAecSettingsFace::GetModeTimingWord1(uint32_t* out) { return ModeTimingWord(m_ctx, 1, out); }
PvlResult CAecSettingsFace::GetOutputDescription(CameraOutputDescription* out) { return SettingsOutputDescription(m_ctx, out); }
PvlResult CAecSettingsFace::GetUnsupportedF(void*) { return PVL_E_UNSUPPORTED; }
PvlResult CAecSettingsFace::GetFixedCount(uint32_t* out) {
  NULL_CHECK(out);
  *out = 256;
  return PVL_OK;
}
PvlResult CAecSettingsFace::SetExposureGain(const CFixedPoint* gain) {
  NULL_CHECK(gain);
  return m_ctx.es->SetExposureGain(*gain);
}
PvlResult CAecSettingsFace::SetExposureLineCount(uint32_t lines) { return m_ctx.es->SetExposureLineCount(lines); }
PvlResult CAecSettingsFace::SetExposureValueB(const CFixedPoint* value) {
  NULL_CHECK(value);
  return m_ctx.es->SetExposureValueB(*value);
}
PvlResult CAecSettingsFace::SetAecIndex(uint32_t index) { return m_ctx.es->SetAecIndex(index); }
PvlResult CAecSettingsFace::SetAecFlagA(uint8_t flag) { return m_ctx.es->SetAecFlagA(flag); }
PvlResult CAecSettingsFace::SetAecPair(uint32_t word, uint8_t byte) { return m_ctx.es->SetAecPair(word, byte); }
PvlResult CAecSettingsFace::SetFlashNeeded(uint8_t needed) { return m_ctx.es->SetFlashNeeded(needed); }
PvlResult CAecSettingsFace::SetAecWordB(uint32_t word) { return m_ctx.es->SetAecWordB(word); }
PvlResult CAecSettingsFace::GetAecWordB(uint32_t* out) { return m_ctx.es->GetAecWordB(out); }
PvlResult CAecSettingsFace::SetHJRFrameCount(uint32_t count) { return m_ctx.es->SetHJRFrameCount(count); }
PvlResult CAecSettingsFace::GetHJRFrameCount(uint32_t* out) { return m_ctx.es->GetHJRFrameCount(out); }
PvlResult CAecSettingsFace::SetExposureCompensationRange(uint32_t denominator, uint32_t step, uint32_t minimum,
                                                         uint32_t maximum) {
  return m_ctx.ud->SetExposureCompensationRange(denominator, step, minimum, maximum);
}
PvlResult CAecSettingsFace::SetAecFlagC(uint8_t flag) { return m_ctx.es->SetAecFlagC(flag); }
PvlResult CAecSettingsFace::GetAecFlagC(uint8_t* out) { return m_ctx.es->GetAecFlagC(out); }

PvlResult CAecSettingsFace::IsBurstWithoutHJR(uint8_t* out) {
  NULL_CHECK(out);
  *out = 0;
  if (m_ctx.ud->GetSnapshotCount() < 2) return PVL_OK;
  uint32_t mode = 0;
  PvlResult r = m_ctx.ud->GetSnapshotHJRMode(&mode);
  if (r == PVL_OK && mode == 0) *out = 1;
  return r;
}

PvlResult CAecSettingsFace::SetGainTripleB(const CFixedPoint* a, const CFixedPoint* b, const CFixedPoint* c) {
  if (!a || !b || !c) return PVL_E_NULLPTR;
  return m_ctx.es->SetGainTripleB(*a, *b, *c);
}
PvlResult CAecSettingsFace::GetFlashWord(uint32_t* out) { return m_ctx.es->GetFlashWord(out); }
PvlResult CAecSettingsFace::GetPreSnapshotState(uint32_t* out) { return m_ctx.es->GetPreSnapshotState(out); }
PvlResult CAecSettingsFace::SetPreSnapshotState(uint32_t state) { return m_ctx.es->SetPreSnapshotState(state); }
PvlResult CAecSettingsFace::IsAwbSupported(uint32_t* out) { NULL_CHECK(out); return m_ctx.ud->IsAwbSupported(out); }
PvlResult CAecSettingsFace::GetLampMode(uint32_t* out) { NULL_CHECK(out); return m_ctx.ud->GetLampMode(out); }
PvlResult CAecSettingsFace::GetLensPosition(uint32_t* out) { return m_ctx.sip->GetLensPosition(out); }
