#include "clumaadaptationconfiguration.h"

#include <vector>

#include "camerasettings.h"
#include "cgammaconfiguration.h"
#include "pvllog.h"
#include "vfetuningkeys.h"

namespace {

constexpr uint32_t kLevels = 256;
constexpr uint32_t kPoints = 1021;  // 4 x 255 + 1: the positions a lookup can reach
constexpr int32_t kMinRatio = 48, kMaxRatio = 196;

}  // namespace

CLumaAdaptationConfiguration::CLumaAdaptationConfiguration(IVfeServiceInternal* service, PvlResult* result)
    : CVfeSwitchedConfiguration(service, result) {
  if (*result == PVL_OK)
    VfeTuningKeys_Register(service, VfeKeyBlock::LumaAdaptation, &m_payload, &m_enable, &m_controlEnable);
}

PvlResult CLumaAdaptationConfiguration::InverseGamma(const uint8_t* gamma, uint8_t* inverse) {
  if (!gamma || !inverse) return PVL_E_NULLPTR;
  bool marked[kLevels] = {};
  for (uint32_t k = 0; k < kLevels; ++k) inverse[k] = 0;
  for (uint32_t i = 0; i < kLevels; ++i) {
    inverse[gamma[i]] = static_cast<uint8_t>(i);
    marked[gamma[i]] = true;
  }
  uint8_t exact[kLevels];
  for (uint32_t k = 0; k < kLevels; ++k) exact[k] = inverse[k];
  for (int32_t k = 0; k < static_cast<int32_t>(kLevels); ++k) {
    if (marked[k]) continue;
    int32_t below = k - 1, above = k + 1;
    while (below >= 0 && !marked[below]) --below;
    while (above < static_cast<int32_t>(kLevels) && !marked[above]) ++above;
    if (below < 0) {
      inverse[k] = exact[above];
    } else if (above >= static_cast<int32_t>(kLevels)) {
      inverse[k] = exact[below];
    } else {
      const int32_t d1 = k - below, d2 = above - k;
      const int32_t v = ((d2 * exact[below] + d1 * exact[above]) * (4096 / (d1 + d2)) + 2048) >> 12;
      inverse[k] = static_cast<uint8_t>(v);
    }
  }
  return PVL_OK;
}

PvlResult CLumaAdaptationConfiguration::BuildRatioTable(const uint8_t* gamma, const uint8_t* y, int16_t* table) {
  if (!gamma || !y || !table) return PVL_E_NULLPTR;
  uint8_t inverse[kLevels];
  PvlResult r = InverseGamma(gamma, inverse);
  if (r != PVL_OK) return r;
  // Four times the 8-bit scale, interpolated at quarter steps.
  std::vector<uint16_t> gammaInterp(kPoints), inverseInterp(kPoints), yInterp(kPoints);
  for (uint32_t n = 0; n < kPoints; ++n) {
    const uint32_t i = n >> 2, f = n & 3;
    const uint32_t next = f ? i + 1 : i;  // a zero weight needs no neighbour
    gammaInterp[n] = static_cast<uint16_t>((4 - f) * gamma[i] + f * gamma[next]);
    inverseInterp[n] = static_cast<uint16_t>((4 - f) * inverse[i] + f * inverse[next]);
    yInterp[n] = static_cast<uint16_t>((4 - f) * y[i] + f * y[next]);
  }
  uint32_t mapped[kLevels];
  mapped[0] = 0;
  mapped[255] = 255;
  for (uint32_t i = 1; i < 255; ++i) {
    uint32_t sum = 0;
    for (uint32_t p = 4 * i; p < 4 * i + 4; ++p) sum += inverseInterp[yInterp[gammaInterp[p]]];
    mapped[i] = (sum + 8) >> 4;
  }
  int32_t ratio[kLevels];
  ratio[0] = kMinRatio;
  table[0] = static_cast<int16_t>(kMinRatio);
  for (uint32_t i = 1; i < kLevels; ++i) {
    int32_t v = static_cast<int32_t>(mapped[i] * 64 / i);
    v = v < kMinRatio ? kMinRatio : v > kMaxRatio ? kMaxRatio : v;
    ratio[i] = v;
    table[i] = static_cast<int16_t>(v);
    int32_t d = v - ratio[i - 1];
    d = d < -32 ? -32 : d > 31 ? 31 : d;
    table[i - 1] = static_cast<int16_t>(ratio[i - 1] | ((d & 0x3F) << 8));
    CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "LumaRatioLUTTable[%3d]=%7d", static_cast<int>(i), static_cast<int>(v));
  }
  return PVL_OK;
}

PvlResult CLumaAdaptationConfiguration::Configure(IVfeSettings* settings, VfeChain) {
  if (!settings) return PVL_E_NULLPTR;
  uint32_t mode = 0;
  PvlResult r = settings->GetLumaAdaptationMode(&mode);
  if (r != PVL_OK) return r;
  if (mode == 0) return PVL_OK;
  if (SwitchedOff()) return PVL_OK;
  uint8_t y[kLevels];
  uint32_t size = 0;
  r = settings->GetVfeBlock(y, sizeof y, &size);
  if (r != PVL_OK) return r;
  if (size != kLevels) return PVL_E_FAIL;
  CGammaConfiguration* gamma = m_service->GetGammaConfiguration();
  if (!gamma) return PVL_E_NOTREADY;
  uint8_t curve[kLevels];
  for (uint32_t i = 0; i < kLevels; ++i) {
    curve[i] = static_cast<uint8_t>(static_cast<uint16_t>(gamma->GetPayload().table[i]) & 0xFFu);
  }
  r = BuildRatioTable(curve, y, m_payload.table);
  if (r != PVL_OK) return r;
  m_payload.enable = ByteToBool(1);
  ClearTuningChanged();
  return PVL_OK;
}
