#include "cawbextstatsconfiguration.h"

#include "camerasettings.h"
#include "cfixedpoint.h"
#include "vfetuningkeys.h"

namespace {

constexpr TuningParamId kSelector = 0x80000F00u;
constexpr TuningParamId kPreviewTrigger = 0x80000F02u;
constexpr TuningParamId kSnapshotTrigger = 0x80000F01u;
constexpr TuningParamId kNormalLight = 0x80300101u;
constexpr TuningParamId kLowLight = 0x80300100u;

}  // namespace

CAWBExtStatsConfiguration::CAWBExtStatsConfiguration(IVfeServiceInternal* service, PvlResult* result)
    : CVfeSwitchedConfiguration(service, result) {
  if (*result == PVL_OK)
    VfeTuningKeys_Register(service, VfeKeyBlock::AWBExtStats, &m_payload, &m_enable, &m_controlEnable);
}

void CAWBExtStatsConfiguration::SetDefaults() {
  memset(&m_payload, 0, sizeof m_payload);
  m_payload.enable = 1;
  m_payload.flags[0] = m_payload.flags[1] = 1;
  m_payload.lumaMin = 0;
  m_payload.lumaMax = 255;
  const int8_t slopes[4] = {16, -16, 16, -16};
  memcpy(m_payload.slope, slopes, sizeof slopes);
  const int16_t offsets[4] = {39, 165, -106, 257};
  memcpy(m_payload.offset, offsets, sizeof offsets);
  m_payload.field18 = 127;
}

PvlResult CAWBExtStatsConfiguration::Configure(IVfeSettings* settings, VfeChain chain) {
  SetDefaults();
  if (IStatsOutput* output = m_service->GetWBExpStatsOutput()) output->SetStatsCount(kStatsRegions);
  if (SwitchedOff()) return PVL_OK;
  m_payload.enable = 1;
  if (!ByteToBool(m_controlEnable.value)) {
    ClearTuningChanged();
    return PVL_OK;
  }
  if (!settings) return PVL_E_NULLPTR;
  PvlResult r = VfeGuarded([&] {
    const uint32_t selector = TuningData_MustGetModuleEnable(kSelector);
    TuningTrigger trigger{};
    CVfeTuning::MustGetValue(chain == VfeChain::Snapshot ? kSnapshotTrigger : kPreviewTrigger, &trigger);
    bool lowLight = false;
    if (selector == 0) {
      uint32_t lux = 0;
      VfeMust(settings->GetAecIndex(&lux));
      lowLight = !(static_cast<int32_t>(lux) < trigger.LuxIndexEnd);
    } else {
      CFixedPoint gain;
      VfeMust(settings->GetExposureGain(&gain));
      lowLight = gain >= CFixedPoint(trigger.GainEnd);
    }
    TuningAwbStatConfig record{};
    VfeMustRead([&](ITuningParams* p) { return p->GetAwbStatConfig(lowLight ? kLowLight : kNormalLight, &record); });
    uint8_t lumaFloor = 0;
    VfeMust(settings->GetAwbFlagB(&lumaFloor));
    m_payload.flags[0] = m_payload.flags[1] = 1;
    // The floor is the AWB algorithm's, not the tuned one.
    m_payload.lumaMin = lumaFloor;
    m_payload.lumaMax = record.LumaMax;
    const int16_t slopes[4] = {record.Slope1, record.Slope2, record.Slope3, record.Slope4};
    for (int i = 0; i < 4; ++i) m_payload.slope[i] = static_cast<uint8_t>(slopes[i]);
    m_payload.offset[0] = record.CbOffset1;
    m_payload.offset[1] = record.CrOffset2;
    m_payload.offset[2] = record.CbOffset3;
    m_payload.offset[3] = record.CrOffset4;
    m_payload.field18 = 127;
  });
  if (r == PVL_OK) ClearTuningChanged();
  return r;
}

PvlResult CAWBExtStatsConfiguration::SendUpdate() {
  if (!m_service) return PVL_E_NOTREADY;
  VfeAwbExtStatsUpdateCmd update{};
  memcpy(update.flags, m_payload.flags, 2);
  update.lumaMin = m_payload.lumaMin;
  update.lumaMax = m_payload.lumaMax;
  memcpy(update.slope, m_payload.slope, 4);
  memcpy(update.offset, m_payload.offset, 8);
  return m_service->SendCommand(VFE_CMD_AWBEXT_STATS_UPDATE, &update, sizeof update);
}
