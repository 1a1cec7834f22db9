#include "cchromasuppconfiguration.h"

#include <cmath>

#include "cvfetuning.h"
#include "tuningdata.h"
#include "vfetuningkeys.h"

namespace {

constexpr TuningParamId kSelector = 0x80A00F00;

struct Ids {
  TuningParamId trigger, normal, lowLight;
};
constexpr Ids kPreview = {0x80A00F02, 0x80A00000, 0x80A00001};
constexpr Ids kSnapshot = {0x80A00F01, 0x80A00002, 0x80A00003};

uint8_t* Bytes(TuningChromaSupp* t) { return &t->LumaThresh1; }

}  // namespace

CChromaSuppConfiguration::CChromaSuppConfiguration(IVfeServiceInternal* service, PvlResult* result)
    : CVfeSwitchedConfiguration(service, result) {
  if (*result == PVL_OK)
    VfeTuningKeys_Register(service, VfeKeyBlock::ChromaSupp, &m_payload, &m_enable, &m_controlEnable);
}

uint8_t CChromaSuppConfiguration::RoundToPowerOfTwo(uint8_t x) {
  if (x == 0) return 0;
  double exponent = std::floor(std::log2(static_cast<double>(x)) + 0.5);
  return static_cast<uint8_t>(static_cast<uint32_t>(std::pow(2.0, exponent)) & 0xFFu);
}

void CChromaSuppConfiguration::Reset() {
  m_payload.enable = ByteToBool(1);
  m_payload.lumaThreshold[0] = 10;
  m_payload.lumaThreshold[1] = 230;
  m_payload.lumaShift[0] = 16;
  m_payload.lumaShift[1] = 16;
  m_payload.chromaShift = 8;
  m_payload.chromaThreshold = 12;
}

PvlResult CChromaSuppConfiguration::Configure(IVfeSettings* settings, VfeChain chain) {
  const Ids& ids = chain == VfeChain::Snapshot ? kSnapshot : kPreview;
  Reset();
  if (SwitchedOff()) return PVL_OK;
  if (m_controlEnable.value) {
    float ratio = 0.0f;
    PvlResult r = VfeReadTriggerRatio(settings, kSelector, ids.trigger, &ratio);
    if (r != PVL_OK) return r;
    TuningChromaSupp t{};
    r = CVfeTuning::GetChromaSuppTable(ratio >= 1.0f ? ids.lowLight : ids.normal, &t);
    if (r != PVL_OK) return r;
    if (ratio > 0.0f && ratio < 1.0f) {
      TuningChromaSupp low{};
      r = CVfeTuning::GetChromaSuppTable(ids.lowLight, &low);
      if (r != PVL_OK) return r;
      for (int i = 0; i < 6; ++i) {
        int32_t a = Bytes(&t)[i], b = Bytes(&low)[i];
        float v = static_cast<float>(a) + ratio * static_cast<float>(b - a);
        Bytes(&t)[i] = static_cast<uint8_t>(static_cast<uint32_t>(v));
      }
    }
    m_payload.lumaThreshold[0] = t.LumaThresh1;
    m_payload.lumaShift[0] = RoundToPowerOfTwo(static_cast<uint8_t>(t.LumaThresh2 - t.LumaThresh1));
    m_payload.lumaThreshold[1] = t.LumaThresh3;
    m_payload.lumaShift[1] = RoundToPowerOfTwo(static_cast<uint8_t>(t.LumaThresh4 - t.LumaThresh3));
    m_payload.chromaThreshold = t.ChromaThresh1;
    m_payload.chromaShift = RoundToPowerOfTwo(static_cast<uint8_t>(t.ChromaThresh2 - t.ChromaThresh1));
  }
  ClearTuningChanged();
  return PVL_OK;
}

PvlResult CChromaSuppConfiguration::SendUpdate() {
  return m_service->SendCommand(VFE_CMD_CHROMA_SUPP_UPDATE, &m_payload, sizeof m_payload);
}
