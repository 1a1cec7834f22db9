#include "ccolorcorrconfiguration.h"

#include <cmath>

#include "camerasettings.h"
#include "cchannelgainconfiguration.h"
#include "cvfetuning.h"
#include "tuningdata.h"
#include "vfetuningkeys.h"

namespace {

constexpr TuningParamId kSelector = 0x80000F00;

struct Ids {
  TuningParamId trigger, normal, lowLight;
};
constexpr Ids kPreview = {0x80000F02, 0x80000000, 0x80000001};
constexpr Ids kSnapshot = {0x80000F01, 0x80000002, 0x80000003};

float* Coefficients(TuningColorCorrMatrix* m) { return &m->RtoR; }
const float* Coefficients(const TuningColorCorrMatrix* m) { return &m->RtoR; }
int16_t* Offsets(TuningColorCorrMatrix* m) { return &m->ROffset; }
const int16_t* Offsets(const TuningColorCorrMatrix* m) { return &m->ROffset; }

// round(c x 2^bits), halves away from zero, kept to 16 bits; the value is
// limited first so that no tuning value can overflow the conversion.
int16_t ToRaw(float c, uint32_t bits) {
  double v = std::ldexp(static_cast<double>(c), static_cast<int>(bits));
  v = v < 0 ? -std::floor(-v + 0.5) : std::floor(v + 0.5);
  if (!(v > -4.0e18)) v = -4.0e18;
  if (v > 4.0e18) v = 4.0e18;
  return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint64_t>(static_cast<int64_t>(v))));
}

}  // namespace

CColorCorrConfiguration::CColorCorrConfiguration(IVfeServiceInternal* service, PvlResult* result)
    : CVfeSwitchedConfiguration(service, result) {
  if (*result == PVL_OK)
    VfeTuningKeys_Register(service, VfeKeyBlock::ColorCorr, &m_payload, &m_enable, &m_controlEnable);
}

void CColorCorrConfiguration::Pack(const TuningColorCorrMatrix& m) {
  const uint32_t q = m.Reserved[0];  // the record's coefQFactor
  uint32_t bits = (q + 7) & 0xFFu;
  if (bits > 31) bits = 31;
  m_payload.enable = ByteToBool(1);
  m_payload.qFactor = q;
  // Hardware rows green, blue, red; inside each row green, blue, red inputs.
  const float c[9] = {m.GtoG, m.BtoG, m.RtoG, m.GtoB, m.BtoB, m.RtoB, m.GtoR, m.BtoR, m.RtoR};
  for (int i = 0; i < 9; ++i) m_payload.coefficient[i] = ToRaw(c[i], bits);
  m_payload.offset[0] = m.GOffset;
  m_payload.offset[1] = m.BOffset;
  m_payload.offset[2] = m.ROffset;
}

TuningColorCorrMatrix CColorCorrConfiguration::Blend(const TuningColorCorrMatrix& a, const TuningColorCorrMatrix& b,
                                                     float r) {
  TuningColorCorrMatrix out = a;
  for (int i = 0; i < 9; ++i) {
    Coefficients(&out)[i] = Coefficients(&a)[i] + r * (Coefficients(&b)[i] - Coefficients(&a)[i]);
  }
  for (int i = 0; i < 3; ++i) {
    int32_t d = static_cast<int32_t>(Offsets(&b)[i]) - Offsets(&a)[i];
    Offsets(&out)[i] = static_cast<int16_t>(static_cast<int32_t>(Offsets(&a)[i] + r * static_cast<float>(d)));
  }
  return out;
}

TuningColorCorrMatrix CColorCorrConfiguration::Saturate(const TuningColorCorrMatrix& m, float s) {
  // RGB to YCbCr (rows Y, Cb, Cr) and back (rows R, G, B).
  static const float kL[3][3] = {{0.299f, 0.587f, 0.114f}, {-0.168f, -0.33f, 0.498f}, {0.498f, -0.417f, -0.081f}};
  static const float kK[3][3] = {{1.0f, 0.0f, 1.4075f}, {1.0f, -0.3455f, -0.7169f}, {1.0f, 1.779f, 0.0f}};
  const float scale[3] = {1.0f, s, s};
  float t[3][3];
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      float sum = 0.0f;
      for (int k = 0; k < 3; ++k) sum += kK[i][k] * scale[k] * kL[k][j];
      t[i][j] = sum;
    }
  }
  TuningColorCorrMatrix out = m;
  const float* in = Coefficients(&m);
  float* res = Coefficients(&out);
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      float sum = 0.0f;
      for (int k = 0; k < 3; ++k) sum += t[i][k] * in[3 * k + j];
      res[3 * i + j] = sum;
    }
  }
  return out;
}

PvlResult CColorCorrConfiguration::ApplySaturation(IVfeSettings* settings, TuningColorCorrMatrix* m) {
  CameraFloatRange hue{};
  PvlResult r = settings->GetHueAngle(&hue);
  if (r != PVL_OK) return r;
  if (hue.Value == 0.0f) return PVL_OK;
  CameraRange saturation{};
  r = settings->GetSaturation(&saturation);
  if (r != PVL_OK) return r;
  const int32_t v = saturation.Value > 200 ? 200 : saturation.Value;
  const float s = static_cast<float>(v) / 100.0f;
  if (s != 1.0f) *m = Saturate(*m, s);
  return PVL_OK;
}

PvlResult CColorCorrConfiguration::Configure(IVfeSettings* settings, VfeChain chain) {
  const Ids& ids = chain == VfeChain::Snapshot ? kSnapshot : kPreview;
  TuningColorCorrMatrix normal{};
  PvlResult r = CVfeTuning::GetColorCorrMatrix(ids.normal, &normal);
  if (r != PVL_OK) return r;
  Pack(normal);
  if (SwitchedOff()) return PVL_OK;
  if (!settings) return PVL_E_NULLPTR;
  TuningColorCorrMatrix m = normal;
  uint32_t effectMode = 0;
  r = settings->GetImageEffectMode(&effectMode);
  if (r != PVL_OK) return r;
  if (effectMode == 0) {
    if (m_controlEnable.value) {
      float ratio = 0.0f;
      r = VfeReadTriggerRatio(settings, kSelector, ids.trigger, &ratio);
      if (r != PVL_OK) return r;
      if (ratio > 0.0f) {
        TuningColorCorrMatrix low{};
        r = CVfeTuning::GetColorCorrMatrix(ids.lowLight, &low);
        if (r != PVL_OK) return r;
        m = ratio >= 1.0f ? low : Blend(normal, low, ratio);
      }
    }
    r = ApplySaturation(settings, &m);
    if (r != PVL_OK) return r;
  }
  CChannelGainConfiguration* channelGain = m_service->GetChannelGainConfiguration();
  const float digital = channelGain ? channelGain->GetDigitalGain() : 0.0f;
  if (digital != 0.0f) {
    for (int i = 0; i < 9; ++i) Coefficients(&m)[i] *= digital;
  }
  Pack(m);
  ClearTuningChanged();
  return PVL_OK;
}

PvlResult CColorCorrConfiguration::SendUpdate() {
  return m_service->SendCommand(VFE_CMD_COLOR_CORR_UPDATE, &m_payload, sizeof m_payload);
}
