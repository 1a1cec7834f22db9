#include "cgammaconfiguration.h"

#include <cmath>

#include "camerasettings.h"
#include "cfixedpoint.h"
#include "cvfetuning.h"
#include "pvllog.h"
#include "tuningdata.h"
#include "vfetuningkeys.h"

namespace {

constexpr uint32_t kAllChannels = 6;
constexpr uint32_t kSolarizeEffect = 4;
constexpr uint32_t kSettledCount = 20;
constexpr TuningParamId kSelector = 0x80400F00;
constexpr TuningParamId kSolarizeReflection = 0x80400004;

struct Ids {
  TuningParamId bright, lowLight, normal, lowLightTrigger, brightTrigger;
};
constexpr Ids kPreview = {0x80400002, 0x80400001, 0x80400000, 0x80400F03, 0x80400F04};
constexpr Ids kSnapshot = {0x80400102, 0x80400101, 0x80400100, 0x80400F01, 0x80400F02};

uint8_t Low(int16_t entry) { return static_cast<uint8_t>(static_cast<uint16_t>(entry) & 0xFFu); }

// Each entry's step byte from its value and the next entry's value.
void Restep(int16_t* entries) {
  for (int i = 0; i < 255; ++i) {
    int32_t v = Low(entries[i]), w = Low(entries[i + 1]);
    entries[i] = static_cast<int16_t>(static_cast<uint16_t>(v + 256 * (w - v)));
  }
  entries[255] = static_cast<int16_t>(Low(entries[255]));
}

// X + t (Y - X) at every point, truncated.
void Blend(const TuningGammaTable& x, const TuningGammaTable& y, float t, TuningGammaTable* out) {
  out->Mode = 0;
  for (uint32_t j = 0; j < TUNING_GAMMA_TABLE_SIZE; ++j) {
    float v = static_cast<float>(x.Table[j]) + t * (static_cast<float>(y.Table[j]) - static_cast<float>(x.Table[j]));
    out->Table[j] = static_cast<uint8_t>(static_cast<uint32_t>(v < 0.0f ? 0.0f : v));
  }
}

}  // namespace

CGammaConfiguration::CGammaConfiguration(IVfeServiceInternal* service, PvlResult* result)
    : CVfeSwitchedConfiguration(service, result), m_solarize(0) {
  if (*result == PVL_OK)
    VfeTuningKeys_Register(service, VfeKeyBlock::Gamma, &m_payload, &m_enable, &m_controlEnable);
}

void CGammaConfiguration::Pack(const uint8_t* points, int16_t* entries) {
  for (int i = 0; i < 255; ++i) {
    int32_t v = points[4 * i], w = points[4 * i + 4];
    entries[i] = static_cast<int16_t>(static_cast<uint16_t>(v + 256 * (w - v)));
  }
  entries[255] = static_cast<int16_t>(points[1023]);
}

void CGammaConfiguration::ApplyContrast(int16_t* entries, int32_t contrast) {
  const double k = static_cast<double>(static_cast<float>(contrast) / 100.0f);
  if (k == 1.0) return;
  const double a = std::pow(255.0, 1.0 - k), b = std::pow(2.0, 1.0 - k);
  for (int i = 0; i < 256; ++i) {
    const double y = Low(entries[i]);
    double v = y > 127 ? 255.0 - std::pow(255.0 - y, k) * a / b : std::pow(y, k) * a / b;
    // A contrast at or below zero would give an infinite or undefined value.
    if (!(v >= 0.0)) v = 0.0;
    if (v > 255.0) v = 255.0;
    entries[i] = static_cast<int16_t>(static_cast<int32_t>(v));
  }
  Restep(entries);
}

void CGammaConfiguration::ApplyGamma(int16_t* entries, float gamma) {
  // 1.0 (and a value no curve can have) keeps the tuned curve.
  if (!(gamma > 0.0f) || gamma == 1.0f) return;
  const double exponent = 1.0 / static_cast<double>(gamma);
  for (int i = 0; i < 256; ++i) {
    double v = 255.0 * std::pow(Low(entries[i]) / 255.0, exponent);
    if (v > 255.0) v = 255.0;
    entries[i] = static_cast<int16_t>(static_cast<int32_t>(v));
  }
  Restep(entries);
}

void CGammaConfiguration::ApplyBrightness(int16_t* entries, int32_t brightness) {
  const int32_t d = brightness / 100;
  for (int i = 0; i < 256; ++i) {
    int32_t v = Low(entries[i]) + d;
    v = v < 0 ? 0 : v > 255 ? 255 : v;
    entries[i] = static_cast<int16_t>((static_cast<uint16_t>(entries[i]) & 0xFF00u) | static_cast<uint16_t>(v));
  }
}

PvlResult CGammaConfiguration::Solarize(IVfeSettings* settings, TuningGammaTable* table) {
  uint32_t effect = 0;
  PvlResult r = settings->GetImageEffect(&effect);
  if (r != PVL_OK) return r;
  if (effect != kSolarizeEffect) return PVL_OK;
  int32_t n = 0;
  r = TuningData_GetIntParam(kSolarizeReflection, &n);
  if (r != PVL_OK) return r;
  // The reflection point must lie inside the curve and below white, else the
  // curve stays as tuned.
  if (n < 1 || n > 256) return PVL_OK;
  const uint32_t k = 4u * static_cast<uint32_t>(n);
  const uint32_t knee = table->Table[k - 1];
  if (knee >= 255) return PVL_OK;
  for (uint32_t j = k; j < TUNING_GAMMA_TABLE_SIZE; ++j) {
    float v = static_cast<float>(255u - table->Table[j]) * static_cast<float>(knee) / static_cast<float>(255u - knee);
    table->Table[j] = static_cast<uint8_t>(static_cast<uint32_t>(v));
  }
  m_solarize = 1;
  return PVL_OK;
}

PvlResult CGammaConfiguration::ChooseByBrightness(IVfeSettings* settings, VfeChain chain, TuningGammaTable* table) {
  const Ids& ids = chain == VfeChain::Snapshot ? kSnapshot : kPreview;
  uint32_t selector = 0;
  PvlResult r = TuningData_GetModuleEnable(kSelector, &selector);
  if (r != PVL_OK) return r;
  TuningTrigger bright = CVfeTuning::GetValue(ids.brightTrigger, &r);
  if (r != PVL_OK) return r;
  TuningTrigger low = CVfeTuning::GetValue(ids.lowLightTrigger, &r);
  if (r != PVL_OK) return r;
  // Where x lies on the ladder bright .. normal .. low light. The bright
  // range runs downwards (its end is the brighter bound), so its blend
  // measures from the end. The gain is compared as the fixed-point value it
  // is, against the triggers turned into Q12 (the lux index as an integer);
  // the blend factors are worked out in float.
  float x = 0.0f, brightEnd, brightStart, lowStart, lowEnd;
  bool atBright, inBrightBlend, atNormal, inLowBlend;
  if (selector != 0) {
    CFixedPoint gain;
    r = settings->GetExposureGain(&gain);
    if (r == PVL_OK) r = gain.GetFloat(&x);
    if (r != PVL_OK) return r;
    brightStart = bright.GainStart, brightEnd = bright.GainEnd, lowStart = low.GainStart, lowEnd = low.GainEnd;
    atBright = gain <= CFixedPoint(brightEnd);
    inBrightBlend = gain < CFixedPoint(brightStart);
    atNormal = gain <= CFixedPoint(lowStart);
    inLowBlend = gain < CFixedPoint(lowEnd);
  } else {
    uint32_t lux = 0;
    r = settings->GetAecIndex(&lux);
    if (r != PVL_OK) return r;
    const int32_t index = static_cast<int32_t>(lux);
    x = static_cast<float>(index);
    brightStart = static_cast<float>(bright.LuxIndexStart), brightEnd = static_cast<float>(bright.LuxIndexEnd);
    lowStart = static_cast<float>(low.LuxIndexStart), lowEnd = static_cast<float>(low.LuxIndexEnd);
    atBright = index <= bright.LuxIndexEnd;
    inBrightBlend = index < bright.LuxIndexStart;
    atNormal = index <= low.LuxIndexStart;
    inLowBlend = index < low.LuxIndexEnd;
  }
  auto read = [](TuningParamId id, TuningGammaTable* t) { return CVfeTuning::GetGammaTable(id, t); };
  if (atBright) return read(ids.bright, table);
  if (inBrightBlend) {
    TuningGammaTable b{}, n{};
    r = read(ids.bright, &b);
    if (r == PVL_OK) r = read(ids.normal, &n);
    if (r != PVL_OK) return r;
    if (brightStart == brightEnd) return PVL_E_BADARG;
    Blend(b, n, (x - brightEnd) / (brightStart - brightEnd), table);
    return PVL_OK;
  }
  if (atNormal) return read(ids.normal, table);
  if (inLowBlend) {
    TuningGammaTable n{}, l{};
    r = read(ids.normal, &n);
    if (r == PVL_OK) r = read(ids.lowLight, &l);
    if (r != PVL_OK) return r;
    if (lowStart == lowEnd) return PVL_E_BADARG;
    Blend(n, l, (x - lowStart) / (lowEnd - lowStart), table);
    return PVL_OK;
  }
  return read(ids.lowLight, table);
}

PvlResult CGammaConfiguration::Run(IVfeSettings* settings, VfeChain chain) {
  const Ids& ids = chain == VfeChain::Snapshot ? kSnapshot : kPreview;
  // Solarize holds only for the run that loads its curve.
  m_solarize = 0;
  TuningGammaTable normal{};
  PvlResult r = CVfeTuning::GetGammaTable(ids.normal, &normal);
  if (r != PVL_OK) return r;
  m_payload.enable = ByteToBool(1);
  m_payload.channels = kAllChannels;
  Pack(normal.Table, m_payload.table);
  if (SwitchedOff()) return PVL_OK;
  if (!settings) return PVL_E_NULLPTR;
  uint32_t effectMode = 0;
  r = settings->GetImageEffectMode(&effectMode);
  if (r != PVL_OK) return r;
  TuningGammaTable buf = normal;
  if (effectMode == 1) {
    r = Solarize(settings, &buf);
    if (r != PVL_OK) return r;
    Pack(buf.Table, m_payload.table);
  } else {
    if (effectMode != 0) PvlAssertBreak(effectMode);
    if (m_controlEnable.value) {
      uint32_t settled = 0;
      uint8_t dark = 0;
      r = settings->GetAecPair(&settled, &dark);
      if (r != PVL_OK) return r;
      if (!(settled >= kSettledCount && dark == 0)) {
        r = ChooseByBrightness(settings, chain, &buf);
        if (r != PVL_OK) return r;
        Pack(buf.Table, m_payload.table);
      }
    }
  }
  CameraRange contrast{}, brightness{};
  CameraFloatRange gamma{};
  r = settings->GetContrast(&contrast);
  if (r == PVL_OK) r = settings->GetBrightness(&brightness);
  if (r == PVL_OK) r = settings->GetGammaCurve(&gamma);
  if (r != PVL_OK) return r;
  ApplyGamma(m_payload.table, gamma.Value);
  if (!m_solarize) ApplyContrast(m_payload.table, contrast.Value);
  ApplyBrightness(m_payload.table, brightness.Value);
  m_payload.enable = ByteToBool(1);
  m_payload.channels = kAllChannels;
  ClearTuningChanged();
  return PVL_OK;
}

PvlResult CGammaConfiguration::RunSnapshot(IVfeSettings* settings) {
  if (!settings) return PVL_E_NULLPTR;
  uint32_t mode = 0, effectMode = 0, effect = 0;
  PvlResult r = settings->GetLumaAdaptationMode(&mode);
  if (r == PVL_OK) r = settings->GetImageEffectMode(&effectMode);
  if (r == PVL_OK && effectMode == 1) r = settings->GetImageEffect(&effect);
  if (r != PVL_OK) return r;
  // The preview's curve, already bent and shifted, is what the luma
  // adaptation was computed against: send it as it is. Bending it again would
  // double the contrast and brightness of every such still. A curve never
  // loaded is computed afresh.
  if (mode == 1 && effect != kSolarizeEffect && m_payload.channels == kAllChannels) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "luma adaptation is on");
    m_payload.enable = m_enable.value ? ByteToBool(1) : 0;
    ClearTuningChanged();
    return PVL_OK;
  }
  return Run(settings, VfeChain::Snapshot);
}

PvlResult CGammaConfiguration::Configure(IVfeSettings* settings, VfeChain chain) {
  return chain == VfeChain::Snapshot ? RunSnapshot(settings) : Run(settings, chain);
}

PvlResult CGammaConfiguration::SendUpdate() {
  return m_service->SendCommand(VFE_CMD_GAMMA_UPDATE, &m_payload, sizeof m_payload);
}
