#include "casfconfiguration.h"

#include <math.h>

#include "camerasettings.h"
#include "cfixedpoint.h"
#include "cfovcropconfiguration.h"
#include "pvllog.h"
#include "vfetuningkeys.h"

namespace {

constexpr TuningParamId kSelector = 0x80800F00u;
constexpr TuningParamId kLowLightTrigger = 0x80800F01u;
constexpr TuningParamId kBrightTrigger = 0x80800F02u;

struct AsfIds {
  TuningParamId bright, lowLight, normal, minRatio, maxRatio, peak;
};
constexpr AsfIds kPreview = {0x80800203u, 0x80800201u, 0x80800202u, 0x80700F03u, 0x80700F04u, 0x80700100u};
constexpr AsfIds kSnapshot = {0x80800103u, 0x80800101u, 0x80800102u, 0x80800F03u, 0x80800F04u, 0x80800001u};

constexpr uint8_t kDefaults[32] = {1,  0,  2,  96, 4,  0,  8,  8,  20, 40, 0xDD, 40, 0xDD, 0xFE, 0xFA, 16,
                                   0xFE, 0xFA, 16, 0xFE, 0xFA, 16, 0xFE, 0xFE, 0xFE, 0xFA, 0xFA, 0xFA, 16, 16, 16, 0};

float WordAsFloat(TuningParamId id) {
  const uint32_t word = TuningData_MustGetWordParam(id);
  float f;
  memcpy(&f, &word, sizeof f);
  return f;
}

// Through Q12 (rounded) down to n fraction bits (rounded); the low byte.
uint8_t ToQ(float value, uint32_t n) {
  int32_t raw = 0;
  VfeMust(CFixedPoint(value).GetRawAtQ(n, &raw));
  return static_cast<uint8_t>(raw);
}

// t of x between two bounds; equal bounds cannot be blended between.
float Factor(float x, float from, float to) {
  if (from == to) throw Camera::CZUEException(PVL_E_BADARG);
  return (x - from) / (to - from);
}

TuningAsf5x5Setting Blend(const TuningAsf5x5Setting& x, const TuningAsf5x5Setting& y, float t) {
  TuningAsf5x5Setting out = x;
  auto e = [t](int16_t a, int16_t b) {
    return static_cast<int16_t>(static_cast<float>(a) + t * (static_cast<float>(b) - static_cast<float>(a)));
  };
  out.LowThresh = e(x.LowThresh, y.LowThresh);
  out.UpThresh = e(x.UpThresh, y.UpThresh);
  out.NegThresh = e(x.NegThresh, y.NegThresh);
  out.UpThreshF2 = e(x.UpThreshF2, y.UpThreshF2);
  out.NegThreshF2 = e(x.NegThreshF2, y.NegThreshF2);
  out.SharpAmtF1 = x.SharpAmtF1 + t * (y.SharpAmtF1 - x.SharpAmtF1);
  out.SharpAmtF2 = x.SharpAmtF2 + t * (y.SharpAmtF2 - x.SharpAmtF2);
  const float degree = static_cast<float>(x.SmoothPct) +
                       t * (static_cast<float>(y.SmoothPct) - static_cast<float>(x.SmoothPct));
  out.SmoothPct = static_cast<uint8_t>(degree > 0.0f ? static_cast<uint32_t>(degree) : 0u);
  return out;
}

TuningAsf5x5Setting ReadSetting(TuningParamId id) {
  TuningAsf5x5Setting s{};
  VfeMustRead([&](ITuningParams* p) { return p->GetAsf5x5Setting(id, &s); });
  return s;
}

// The bright, normal or low-light setting, or a blend of two neighbours, by
// where x stands against the bright trigger (below its end: bright) and the
// low-light trigger (above its end: low light).
template <class Value>
TuningAsf5x5Setting Select(const AsfIds& ids, Value x, Value brightEnd, Value brightStart, Value lowStart,
                           Value lowEnd, float tx, float tBrightEnd, float tBrightStart, float tLowStart,
                           float tLowEnd) {
  if (x <= brightEnd) return ReadSetting(ids.bright);
  if (x < brightStart) {
    const float t = Factor(tx, tBrightEnd, tBrightStart);
    return Blend(ReadSetting(ids.bright), ReadSetting(ids.normal), t);
  }
  if (x <= lowStart) return ReadSetting(ids.normal);
  if (x < lowEnd) {
    const float t = Factor(tx, tLowStart, tLowEnd);
    return Blend(ReadSetting(ids.normal), ReadSetting(ids.lowLight), t);
  }
  return ReadSetting(ids.lowLight);
}

}  // namespace

CASFConfiguration::CASFConfiguration(IVfeServiceInternal* service, PvlResult* result)
    : CVfeSwitchedConfiguration(service, result) {
  if (*result == PVL_OK)
    VfeTuningKeys_Register(service, VfeKeyBlock::ASF, &m_payload, &m_enable, &m_controlEnable);
}

void CASFConfiguration::SetDefaults() { memcpy(&m_payload, kDefaults, sizeof kDefaults); }

PvlResult CASFConfiguration::Configure(IVfeSettings* settings, VfeChain chain) {
  return VfeGuarded([&] { Run(settings, chain); });
}

PvlResult CASFConfiguration::SendUpdate() {
  if (!m_service) return PVL_E_NOTREADY;
  return m_service->SendCommand(VFE_CMD_ASF_UPDATE, &m_payload, sizeof(VfeAsfUpdateCmd));
}

float CASFConfiguration::DownscaleRatio(VfeChain chain) {
  CFovCropConfiguration* crop = m_service->GetFovCropConfiguration();
  if (!crop) throw Camera::CZUEException(PVL_E_NOTREADY);
  IVideoOutputControl* out1 = m_service->GetCurrentOutput1();
  IVideoOutputControl* out2 = m_service->GetCurrentOutput2();
  const bool on1 = out1 && out1->IsCurrentModeEnabled();
  const bool on2 = out2 && out2->IsCurrentModeEnabled();
  if (!on1 && !on2) throw Camera::CZUEException(PVL_E_FAIL);
  const uint32_t a = on1 ? out1->GetOutputSize().width : 0;
  const uint32_t b = on2 ? out2->GetOutputSize().width : 0;
  uint32_t width = a > b ? a : b;
  // Preview sharpens for the smaller picture when two are made; a still for the larger.
  if (chain != VfeChain::Snapshot && a != 0 && b != 0) width = a < b ? a : b;
  if (width == 0) throw Camera::CZUEException(PVL_E_FAIL);
  return static_cast<float>(crop->GetWindowWidth()) / static_cast<float>(width);
}

void CASFConfiguration::Run(IVfeSettings* settings, VfeChain chain) {
  SetDefaults();
  if (SwitchedOff()) return;
  m_payload.enable = 1;
  if (!ByteToBool(m_controlEnable.value)) {
    ClearTuningChanged();
    return;
  }
  if (!settings) throw Camera::CZUEException(PVL_E_NULLPTR);
  const AsfIds& ids = chain == VfeChain::Snapshot ? kSnapshot : kPreview;
  m_downscaleRatio = DownscaleRatio(chain);
  const float r = m_downscaleRatio;

  // The setting for the scene's brightness.
  const uint32_t selector = TuningData_MustGetModuleEnable(kSelector);
  TuningTrigger bright{}, low{};
  CVfeTuning::MustGetValue(kBrightTrigger, &bright);
  CVfeTuning::MustGetValue(kLowLightTrigger, &low);
  TuningAsf5x5Setting setting{};
  if (selector != 0) {
    if (selector != 1) dbg_dbg_Break(selector);
    CFixedPoint gain;
    VfeMust(settings->GetExposureGain(&gain));
    float g = 0.0f;
    VfeMust(gain.GetFloat(&g));
    setting = Select(ids, gain, CFixedPoint(bright.GainEnd), CFixedPoint(bright.GainStart),
                     CFixedPoint(low.GainStart), CFixedPoint(low.GainEnd), g, bright.GainEnd, bright.GainStart,
                     low.GainStart, low.GainEnd);
  } else {
    uint32_t luxWord = 0;
    VfeMust(settings->GetAecIndex(&luxWord));
    const int32_t lux = static_cast<int32_t>(luxWord);
    setting = Select(ids, lux, bright.LuxIndexEnd, bright.LuxIndexStart, low.LuxIndexStart, low.LuxIndexEnd,
                     static_cast<float>(lux), static_cast<float>(bright.LuxIndexEnd),
                     static_cast<float>(bright.LuxIndexStart), static_cast<float>(low.LuxIndexStart),
                     static_cast<float>(low.LuxIndexEnd));
  }

  // Less sharpening the more the picture is shrunk; none outside (lo, hi).
  const float lo = WordAsFloat(ids.minRatio);
  const float hi = WordAsFloat(ids.maxRatio);
  const float peak = WordAsFloat(ids.peak);
  float g = 0.0f;
  if (lo < r && r < hi) {
    if (r >= 1.0f) {
      if (!(hi - 1.0f > 0.0f)) dbg_dbg_Break(0);
      g = peak - peak * (r - 1.0f) / (hi - 1.0f);
    } else {
      if (!(1.0f - lo > 0.0f)) dbg_dbg_Break(0);
      g = peak * (r - lo) / (1.0f - lo);
    }
  }

  // The user's sharpness: 0.5 at its minimum, 1 in the middle, 2 at its maximum.
  CameraRange sharpness{};
  VfeMust(settings->GetSharpness(&sharpness));
  const float mid = (static_cast<float>(sharpness.Minimum) + static_cast<float>(sharpness.Maximum)) / 2.0f;
  const float half = (static_cast<float>(sharpness.Maximum) - static_cast<float>(sharpness.Minimum)) / 2.0f;
  if (half == 0.0f) throw Camera::CZUEException(PVL_E_FAIL);
  const float u = static_cast<float>(pow(2.0, static_cast<double>((static_cast<float>(sharpness.Value) - mid) / half)));

  TuningAsf5x5Filter filter{};
  const TuningParamId filterId =
      chain == VfeChain::Snapshot && !(r > 2.0f) ? 0x80800100u : 0x80800200u;
  VfeMustRead([&](ITuningParams* p) { return p->GetAsf5x5Filter(filterId, &filter); });

  uint8_t* b = reinterpret_cast<uint8_t*>(&m_payload);
  b[1] = 1;
  b[2] = 2;
  // A degree past 100 (or a blend below 0) would make the smoothing weights wrap.
  const uint32_t degree = setting.SmoothPct > 100 ? 100u : setting.SmoothPct;
  const uint32_t k = static_cast<uint32_t>((1.0 - static_cast<double>(degree) / 100.0) * 14.0);
  b[3] = static_cast<uint8_t>(8 * k + 16);
  b[4] = static_cast<uint8_t>(14 - k);
  b[5] = 0;
  b[6] = ToQ(setting.SharpAmtF1 * u * g, 3);
  b[7] = ToQ(setting.SharpAmtF2 * u * g, 3);
  const int16_t e[5] = {setting.LowThresh, setting.UpThresh, setting.NegThresh, setting.UpThreshF2,
                        setting.NegThreshF2};
  for (int i = 0; i < 5; ++i) b[8 + i] = static_cast<uint8_t>(e[i]);
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col) {
      b[13 + row * 3 + col] = ToQ(static_cast<float>(filter.Filter1[row * 5 + col]) * filter.Normal1, 4);
      b[22 + row * 3 + col] = ToQ(static_cast<float>(filter.Filter2[row * 5 + col]) * filter.Normal2, 4);
    }
  }
  b[31] = 0;
  if (b[2] == 2) {
    const int32_t e1 = e[0], e2 = e[1], e3 = e[2], e4 = e[3], e5 = e[4];
    if (!(e3 >= -128 && e3 <= -e1 && e1 >= 0 && e2 >= e1))
      CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "Invalid ASF E1, E2, E3 coefficients");
    if (!(e5 >= -128 && e5 <= -e1 && e1 >= 0 && e4 >= e1))
      CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "Invalid ASF E1, E4, E5 coefficients");
  }
  ClearTuningChanged();
}
