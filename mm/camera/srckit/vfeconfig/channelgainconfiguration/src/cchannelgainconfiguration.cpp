#include "cchannelgainconfiguration.h"

#include <string.h>

#include "camerasettings.h"
#include "cfixedpoint.h"
#include "cvfetuning.h"
#include "tuningdata.h"
#include "vfetuningkeys.h"

namespace {

constexpr TuningParamId kChannelGains = 0x80300000;
constexpr TuningParamId kGlobalGain = 0x80300201;
constexpr float kMaxChannelGain = 7.99f;
constexpr double kSnapshotDigitalGainLimit = 3.99;
constexpr float kVideoGainLimit = 6.0f;
constexpr float kSnapshotGainLimit = 16.0f;
constexpr uint16_t kUnity = 128;  // 1.0 at Q7

float AsFloat(const CFixedPoint& f) {
  float v = 0.0f;
  (void)f.GetFloat(&v);
  return v;
}

}  // namespace

CChannelGainConfiguration::CChannelGainConfiguration(IVfeServiceInternal* service, PvlResult* result)
    : CVfeConfiguration(service, result), m_digitalGain(0.0f), m_gainLimit(kVideoGainLimit), m_controlEnable(1) {
  if (*result == PVL_OK)
    VfeTuningKeys_Register(service, VfeKeyBlock::ChannelGain, &m_payload, nullptr, &m_controlEnable);
}

PvlResult CChannelGainConfiguration::Configure(IVfeSettings* settings, VfeChain chain) {
  const bool snapshot = chain == VfeChain::Snapshot;
  m_gainLimit = snapshot ? kSnapshotGainLimit : kVideoGainLimit;
  for (uint16_t& gain : m_payload.gain) gain = kUnity;
  if (!m_controlEnable.value) {
    // The digital gain left over from the last computation stays with the
    // colour correction, so the picture keeps its brightness.
    ClearTuningChanged();
    return PVL_OK;
  }
  if (!settings) return PVL_E_NULLPTR;
  TuningChannelGains tuned{};
  PvlResult r = CVfeTuning::GetChannelGains(kChannelGains, &tuned);
  if (r != PVL_OK) return r;
  uint32_t globalWord = 0;
  r = TuningData_GetWordParam(kGlobalGain, &globalWord);
  if (r != PVL_OK) return r;
  float global = 0.0f;
  memcpy(&global, &globalWord, sizeof global);
  // Payload order from the tuning's green, green, red, blue.
  float g[4] = {tuned.GreenEvenRow * global, tuned.GreenOddRow * global, tuned.Blue * global, tuned.Red * global};
  if (snapshot) {
    CFixedPoint red, green, blue;
    r = settings->GetWhiteBalanceGains(&red, &green, &blue);
    if (r != PVL_OK) return r;
    g[kGreenEven] *= AsFloat(green);
    g[kGreenOdd] *= AsFloat(green);
    g[kBlue] *= AsFloat(blue);
    g[kRed] *= AsFloat(red);
  }
  float largest = g[0];
  for (float v : g) largest = v > largest ? v : largest;
  if (largest == 0.0f) return PVL_E_BADARG;
  const float headroom = kMaxChannelGain / largest;
  CFixedPoint digital;
  r = settings->GetDigitalGain(&digital);
  if (r != PVL_OK) return r;
  float d = AsFloat(digital);
  if (snapshot) d = d <= kSnapshotDigitalGainLimit ? 1.0f : static_cast<float>(d / kSnapshotDigitalGainLimit);
  float residual = 0.0f;
  if (d > headroom) {
    residual = d / headroom;
    d = headroom;
  }
  uint16_t packed[4];
  for (int i = 0; i < 4; ++i) {
    int32_t raw = 0;
    r = CFixedPoint(g[i] * d).GetRawAtQ(7, &raw);
    if (r != PVL_OK) return r;
    packed[i] = static_cast<uint16_t>(raw);
  }
  memcpy(m_payload.gain, packed, sizeof packed);
  m_digitalGain = residual;
  ClearTuningChanged();
  return PVL_OK;
}

PvlResult CChannelGainConfiguration::SendUpdate() {
  return m_service->SendCommand(VFE_CMD_CHANNEL_GAIN_UPDATE, &m_payload, sizeof m_payload);
}
