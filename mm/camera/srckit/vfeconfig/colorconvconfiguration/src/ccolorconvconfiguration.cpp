#include "ccolorconvconfiguration.h"

#include <stddef.h>
#include <stdint.h>

#include <cmath>

#include "camerasettings.h"
#include "cfixedpoint.h"
#include "cvfetuning.h"
#include "tuningdata.h"
#include "vfetuningkeys.h"

namespace {

enum : TuningParamId {
  kTL84 = 0x80100000,
  kA = 0x80100001,
  kD65 = 0x80100002,
  kLowLight = 0x80100003,
  kMono = 0x80100004,
  kSepia = 0x80100005,
  kNegative = 0x80100006,
  kSelector = 0x80100F00,
  kTrigger = 0x80100F01,
  kSmoothingSpeed = 0x00200016,
};

// The exposure's settled count below which low light may take over (or its
// flag says the scene is dark).
constexpr uint32_t kLowLightCount = 20;
constexpr double kPi = 3.14159265358979323846;

float* Chroma(TuningColorConvMatrix* r) { return &r->CbScalingNegative_am; }
const float* Chroma(const TuningColorConvMatrix* r) { return &r->CbScalingNegative_am; }
float* Luma(TuningColorConvMatrix* r) { return &r->RtoY; }

// The f32 at Q12 and then at Q8, both rounding half away.
int32_t RawQ8(float v) {
  int32_t raw = 0;
  if (CFixedPoint(v).GetRawAtQ(8, &raw) != PVL_OK) raw = 0;
  return raw;
}

// The low 16 bits of the Q8 value.
int16_t Q8(float v) { return static_cast<int16_t>(static_cast<uint16_t>(RawQ8(v))); }

// Whether the payload's signed 16-bit field holds the value, -128.0 included.
bool FitsQ8(double v) {
  if (!(v > -129.0 && v < 128.0)) return false;  // also NaN
  const int32_t raw = RawQ8(static_cast<float>(v));
  return raw >= INT16_MIN && raw <= INT16_MAX;
}

}  // namespace

TuningColorConvMatrix CColorConvConfiguration::DefaultRecord() {
  TuningColorConvMatrix r{};
  r.CbScalingNegative_am = r.CbScalingPositive_ap = 0.5f;
  r.DiffRGtoCbShearingNegative_bm = r.DiffRGtoCbShearingPositive_bp = -0.338f;
  r.CrScalingNegative_cm = r.CrScalingPositive_cp = 0.5f;
  r.DiffBGtoCrShearingNegative_dm = r.DiffBGtoCrShearingPositive_dp = -0.162f;
  r.CBOffset_k_cb = r.CROffset_k_cr = 128;
  r.RtoY = 0.299f;
  r.GtoY = 0.587f;
  r.BtoY = 0.114f;
  r.Yoffset = 0;
  return r;
}

CColorConvConfiguration::CColorConvConfiguration(IVfeServiceInternal* service, PvlResult* result)
    : CVfeSwitchedConfiguration(service, result), m_residual(0), m_stored(DefaultRecord()) {
  if (*result == PVL_OK)
    VfeTuningKeys_Register(service, VfeKeyBlock::ColorConv, &m_payload, &m_enable, &m_controlEnable);
}

// The preview's first fill, before the block decides whether it is on: the
// Y offset's low byte, nothing left over. A block left off sends it as is; an
// enabled one packs its record again below with the offset clamped.
void CColorConvConfiguration::PackTuned(const TuningColorConvMatrix& r) {
  Pack(r);
  m_payload.field28 = static_cast<uint8_t>(r.Yoffset);
  m_residual = 0;
}

void CColorConvConfiguration::Pack(const TuningColorConvMatrix& r) {
  m_payload.enable = ByteToBool(1);
  for (int i = 0; i < 8; ++i) m_payload.matrix[i] = Q8(Chroma(&r)[i]);
  m_payload.matrix[8] = r.CROffset_k_cr;
  m_payload.matrix[9] = r.CBOffset_k_cb;
  m_payload.offset[kColorConvGtoY] = Q8(r.GtoY);
  m_payload.offset[kColorConvBtoY] = Q8(r.BtoY);
  m_payload.offset[kColorConvRtoY] = Q8(r.RtoY);
  const uint16_t clamped = r.Yoffset > 255 ? 255 : r.Yoffset;
  m_payload.field28 = static_cast<uint8_t>(clamped);
  m_residual = static_cast<int32_t>(clamped) - static_cast<int32_t>(r.Yoffset);
}

TuningColorConvMatrix CColorConvConfiguration::HueSaturation(const TuningColorConvMatrix& r, float saturation,
                                                             double angle) {
  const double S = saturation, c = std::cos(angle), s = std::sin(angle);
  const double am = r.CbScalingNegative_am, ap = r.CbScalingPositive_ap, bm = r.DiffRGtoCbShearingNegative_bm,
               bp = r.DiffRGtoCbShearingPositive_bp, cm = r.CrScalingNegative_cm, cp = r.CrScalingPositive_cp,
               dm = r.DiffBGtoCrShearingNegative_dm, dp = r.DiffBGtoCrShearingPositive_dp;
  const double am2 = S * am * c - S * cm * dm * s;
  const double ap2 = S * ap * c - S * cp * dp * s;
  const double cm2 = S * am * bm * s + S * cm * c;
  const double cp2 = S * ap * bp * s + S * cp * c;
  if (am2 == 0.0 || ap2 == 0.0 || cm2 == 0.0 || cp2 == 0.0) return DefaultRecord();
  const double v[8] = {am2,
                       ap2,
                       (S * am * bm * c - S * cm * s) / am2,
                       (S * ap * bp * c - S * cp * s) / ap2,
                       cm2,
                       cp2,
                       (S * am * s + S * cm * dm * c) / cm2,
                       (S * ap * s + S * cp * dp * c) / cp2};
  // Below 4.0 as the hardware takes them, and no lower than -128, the lowest
  // a Q8 field holds: a near-vanishing scale makes a shear term huge and
  // negative, which would wrap into a wrong colour rather than be refused.
  for (double x : v) {
    if (!(x < 4.0 && FitsQ8(x))) return DefaultRecord();
  }
  TuningColorConvMatrix out = r;
  for (int i = 0; i < 8; ++i) Chroma(&out)[i] = static_cast<float>(v[i]);
  return out;
}

PvlResult CColorConvConfiguration::IlluminantRecord(IVfeSettings* settings, VfeChain chain,
                                                    TuningColorConvMatrix* r) {
  uint32_t illuminant = 0;
  PvlResult rc = settings->GetWhiteBalanceIlluminant(&illuminant);
  if (rc != PVL_OK) return rc;
  const TuningParamId id = illuminant <= 3 ? kD65 : (illuminant == 6 || illuminant == 7) ? kA : kTL84;
  TuningColorConvMatrix t{};
  rc = CVfeTuning::GetColorConvTable(id, &t);
  if (rc != PVL_OK) return rc;
  int32_t speed = 0;
  rc = TuningData_GetIntParam(kSmoothingSpeed, &speed);
  if (rc != PVL_OK) return rc;
  if (chain != VfeChain::Runtime) {
    *r = t;
    return PVL_OK;
  }
  // Runtime updates move from the stored record towards the table.
  const float w = GetColorConvStep(static_cast<uint32_t>(speed));
  auto smooth = [w](float now, float before) { return now * w + (1.0f - w) * before; };
  TuningColorConvMatrix out = t;
  for (int i = 0; i < 8; ++i) Chroma(&out)[i] = smooth(Chroma(&t)[i], Chroma(&m_stored)[i]);
  for (int i = 0; i < 3; ++i) Luma(&out)[i] = smooth(Luma(&t)[i], Luma(&m_stored)[i]);
  out.CBOffset_k_cb = static_cast<int16_t>(static_cast<int32_t>(smooth(t.CBOffset_k_cb, m_stored.CBOffset_k_cb)));
  out.CROffset_k_cr = static_cast<int16_t>(static_cast<int32_t>(smooth(t.CROffset_k_cr, m_stored.CROffset_k_cr)));
  out.Yoffset = static_cast<uint16_t>(static_cast<uint32_t>(smooth(t.Yoffset, m_stored.Yoffset)));
  *r = out;
  return PVL_OK;
}

PvlResult CColorConvConfiguration::LowLightBlend(IVfeSettings* settings, float ratio, TuningColorConvMatrix* r) {
  TuningColorConvMatrix a{}, b{};
  PvlResult rc = IlluminantRecord(settings, VfeChain::Video, &a);
  if (rc == PVL_OK) rc = CVfeTuning::GetColorConvTable(kLowLight, &b);
  if (rc != PVL_OK) return rc;
  TuningColorConvMatrix out = a;
  for (int i = 0; i < 8; ++i) Chroma(&out)[i] = Chroma(&a)[i] + ratio * (Chroma(&b)[i] - Chroma(&a)[i]);
  for (int i = 0; i < 3; ++i) Luma(&out)[i] = Luma(&a)[i] + ratio * (Luma(&b)[i] - Luma(&a)[i]);
  auto mix = [ratio](int32_t x, int32_t y) { return static_cast<float>(x) + ratio * static_cast<float>(y - x); };
  out.CBOffset_k_cb = static_cast<int16_t>(static_cast<int32_t>(mix(a.CBOffset_k_cb, b.CBOffset_k_cb)));
  out.CROffset_k_cr = static_cast<int16_t>(static_cast<int32_t>(mix(a.CROffset_k_cr, b.CROffset_k_cr)));
  out.Yoffset = static_cast<uint16_t>(static_cast<uint32_t>(mix(a.Yoffset, b.Yoffset)));
  *r = out;
  return PVL_OK;
}

PvlResult CColorConvConfiguration::SelectByLight(IVfeSettings* settings, VfeChain chain, TuningColorConvMatrix* r) {
  uint32_t selector = 0;
  PvlResult rc = TuningData_GetModuleEnable(kSelector, &selector);
  if (rc != PVL_OK) return rc;
  TuningTrigger trigger = CVfeTuning::GetValue(kTrigger, &rc);
  if (rc != PVL_OK) return rc;
  uint32_t settled = 0;
  uint8_t dark = 0;
  rc = settings->GetAecPair(&settled, &dark);
  if (rc != PVL_OK) return rc;
  const bool lowLightAllowed = settled < kLowLightCount || dark != 0;
  if (selector == 0) {
    uint32_t lux = 0;
    rc = settings->GetAecIndex(&lux);
    if (rc != PVL_OK) return rc;
    const int32_t index = static_cast<int32_t>(lux);
    if (index <= trigger.LuxIndexStart) return IlluminantRecord(settings, chain, r);
    if (!lowLightAllowed) return PVL_OK;
    if (index >= trigger.LuxIndexEnd) return CVfeTuning::GetColorConvTable(kLowLight, r);
    float ratio = 0.0f;
    rc = GetInterpolationFactor(index, trigger.LuxIndexStart, trigger.LuxIndexEnd, &ratio);
    return rc != PVL_OK ? rc : LowLightBlend(settings, ratio, r);
  }
  CFixedPoint gain;
  rc = settings->GetExposureGain(&gain);
  if (rc != PVL_OK) return rc;
  if (gain <= CFixedPoint(static_cast<double>(trigger.GainStart))) return IlluminantRecord(settings, chain, r);
  if (!lowLightAllowed) return PVL_OK;
  if (gain >= CFixedPoint(static_cast<double>(trigger.GainEnd))) return CVfeTuning::GetColorConvTable(kLowLight, r);
  float g = 0.0f, ratio = 0.0f;
  rc = gain.GetFloat(&g);
  if (rc == PVL_OK) rc = GetInterpolationFactorF(g, trigger.GainStart, trigger.GainEnd, &ratio);
  return rc != PVL_OK ? rc : LowLightBlend(settings, ratio, r);
}

PvlResult CColorConvConfiguration::EffectRecord(IVfeSettings* settings, TuningColorConvMatrix* r) {
  *r = TuningColorConvMatrix{};
  uint32_t effect = 0;
  PvlResult rc = settings->GetImageEffect(&effect);
  if (rc != PVL_OK) return rc;
  const TuningParamId id = effect == 2 ? kNegative : effect == 3 ? kSepia : effect == 4 ? kTL84 : kMono;
  TuningColorConvMatrix t{};
  rc = CVfeTuning::GetColorConvTable(id, &t);
  if (rc != PVL_OK) return rc;
  if (effect == 0) {
    // A fixed tint: the user's own Cb and Cr.
    CameraRange cb{}, cr{};
    rc = settings->GetFixedCbOffset(&cb);
    if (rc == PVL_OK) rc = settings->GetFixedCrOffset(&cr);
    if (rc != PVL_OK) return rc;
    t.CBOffset_k_cb = static_cast<int16_t>(cb.Value);
    t.CROffset_k_cr = static_cast<int16_t>(cr.Value);
  }
  *r = t;
  return PVL_OK;
}

PvlResult CColorConvConfiguration::Configure(IVfeSettings* settings, VfeChain chain) {
  if (chain == VfeChain::Video) {
    TuningColorConvMatrix t{};
    if (CVfeTuning::GetColorConvTable(kTL84, &t) == PVL_OK) PackTuned(t);
  }
  if (SwitchedOff()) return PVL_OK;
  if (!settings) return PVL_E_NULLPTR;
  TuningColorConvMatrix r = m_stored;
  uint32_t effectMode = 0;
  PvlResult rc = settings->GetImageEffectMode(&effectMode);
  if (rc != PVL_OK) return rc;
  if (effectMode == 1) {
    rc = EffectRecord(settings, &r);
    if (rc != PVL_OK) return rc;
  } else if (effectMode == 0) {
    float saturation = 1.0f;
    double angle = 0.0;
    CameraFloatRange hue{};
    rc = settings->GetHueAngle(&hue);
    if (rc != PVL_OK) return rc;
    if (hue.Value != 0.0f) {
      r = DefaultRecord();
      angle = static_cast<double>(hue.Value) * kPi / 180.0;
    } else {
      CameraRange sat{};
      rc = settings->GetSaturation(&sat);
      if (rc != PVL_OK) return rc;
      saturation = static_cast<float>(sat.Value > 200 ? 200 : sat.Value) / 100.0f;
      if (m_controlEnable.value) {
        rc = SelectByLight(settings, chain, &r);
        if (rc != PVL_OK) return rc;
      }
    }
    m_stored = r;
    r = HueSaturation(r, saturation, angle);
  } else {
    return PVL_E_FAIL;
  }
  Pack(r);
  ClearTuningChanged();
  return PVL_OK;
}

PvlResult CColorConvConfiguration::SendUpdate() {
  return m_service->SendCommand(VFE_CMD_COLOR_CONV_UPDATE, &m_payload, sizeof m_payload);
}
