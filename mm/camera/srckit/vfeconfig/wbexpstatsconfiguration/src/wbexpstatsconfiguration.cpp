#include "wbexpstatsconfiguration.h"

namespace {

constexpr uint8_t kStatsConfig[6] = {1, 7, 1, 7, 1, 7};

PvlResult QueueThree(IStatsOutput* output, uint32_t* addresses) {
  if (!output) return PVL_E_NOTREADY;
  for (int i = 0; i < 3; ++i) {
    PvlResult r = output->QueueNewBuffer(&addresses[i]);
    if (r != PVL_OK) return r;
  }
  return PVL_OK;
}

}  // namespace

PvlResult CWBExpStatsConfiguration::Configure() {
  memset(&m_payload, 0, sizeof m_payload);
  m_payload.areaWidth = static_cast<uint16_t>(m_width - 1);
  m_payload.areaHeight = static_cast<uint16_t>(m_height - 1);
  memcpy(m_payload.config, kStatsConfig, sizeof kStatsConfig);
  PvlResult r = QueueThree(m_service->GetAFStatsOutput(), m_payload.afBuffer);
  if (r != PVL_OK) return r;
  return QueueThree(m_service->GetWBExpStatsOutput(), m_payload.wbExpBuffer);
}
