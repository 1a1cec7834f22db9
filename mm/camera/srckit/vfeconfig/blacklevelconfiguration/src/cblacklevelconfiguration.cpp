#include "cblacklevelconfiguration.h"

#include <stddef.h>

#include "camerasettings.h"
#include "cvfetuning.h"
#include "tuningdata.h"
#include "vfetuningkeys.h"

namespace {

constexpr TuningParamId kSelector = 0x80500F00;

struct Ids {
  TuningParamId trigger, normal, maxIncrease;
};
constexpr Ids kPreview = {0x80500F01, 0x80500003, 0x80500000};
constexpr Ids kSnapshot = {0x80500F02, 0x80500103, 0x80500100};

uint16_t* Levels(TuningBlackLevel4Channel* t) { return &t->EvenRowEvenCol; }
const uint16_t* Levels(const TuningBlackLevel4Channel* t) { return &t->EvenRowEvenCol; }

}  // namespace

CBlackLevelConfiguration::CBlackLevelConfiguration(IVfeServiceInternal* service, PvlResult* result)
    : CVfeSwitchedConfiguration(service, result) {
  if (*result == PVL_OK)
    VfeTuningKeys_Register(service, VfeKeyBlock::BlackLevel, &m_payload, &m_enable, &m_controlEnable);
}

TuningBlackLevel4Channel CBlackLevelConfiguration::Subtract(const TuningBlackLevel4Channel& levels, int32_t amount) {
  TuningBlackLevel4Channel out = levels;
  for (int i = 0; i < 4; ++i) {
    int64_t v = static_cast<int64_t>(Levels(&levels)[i]) - amount;
    Levels(&out)[i] = static_cast<uint16_t>(v < 0 ? 0 : v > 0xFFFF ? 0xFFFF : v);
  }
  return out;
}

PvlResult CBlackLevelConfiguration::Configure(IVfeSettings* settings, VfeChain chain) {
  const Ids& ids = chain == VfeChain::Snapshot ? kSnapshot : kPreview;
  m_payload.enable = ByteToBool(1);
  for (uint16_t& level : m_payload.level) level = 0;
  if (SwitchedOff()) return PVL_OK;
  if (m_controlEnable.value) {
    float ratio = 0.0f;
    PvlResult r = VfeReadTriggerRatio(settings, kSelector, ids.trigger, &ratio);
    if (r != PVL_OK) return r;
    TuningBlackLevel4Channel normal{};
    r = CVfeTuning::GetBlackLevelValue(ids.normal, &normal);
    if (r != PVL_OK) return r;
    TuningBlackLevel4Channel chosen = normal;
    if (ratio > 0.0f) {
      int32_t maxIncrease = 0;
      r = TuningData_GetIntParam(ids.maxIncrease, &maxIncrease);
      if (r != PVL_OK) return r;
      TuningBlackLevel4Channel low = Subtract(normal, maxIncrease);
      for (int i = 0; i < 4; ++i) {
        int32_t a = Levels(&normal)[i], b = Levels(&low)[i];
        float v = static_cast<float>(a) + ratio * static_cast<float>(b - a);
        Levels(&chosen)[i] = static_cast<uint16_t>(static_cast<uint32_t>(v));
      }
    }
    for (int i = 0; i < 4; ++i) m_payload.level[i] = Levels(&chosen)[i];
  }
  ClearTuningChanged();
  return PVL_OK;
}

PvlResult CBlackLevelConfiguration::SendUpdate() {
  return m_service->SendCommand(VFE_CMD_BLACK_LEVEL_UPDATE, &m_payload, sizeof m_payload);
}
