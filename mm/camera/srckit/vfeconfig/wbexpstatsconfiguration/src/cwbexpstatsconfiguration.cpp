#include "cwbexpstatsconfiguration.h"

namespace {

constexpr uint8_t kStatsConfig[6] = {1, 7, 1, 7, 1, 7};

// The two buffers the VFE writes into must be free now. The pool has just the
// three: when the VFE restarts while a reader still holds the last statistics
// (a focus run's restart, a still from the preview), the spare follows later.
PvlResult QueueThree(IStatsOutput* output, uint32_t* addresses) {
  if (!output) return PVL_E_NOTREADY;
  for (int i = 0; i < 2; ++i) {
    PvlResult r = output->QueueNewBuffer(&addresses[i]);
    if (r != PVL_OK) return r;
  }
  return output->QueueSpareBuffer(&addresses[2]);
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

PvlResult CWBExpStatsConfiguration::ConfigureForWindow(uint32_t width, uint32_t pixelSkip, uint32_t height,
                                                       uint32_t lineSkip) {
  if (pixelSkip == 0 || lineSkip == 0) return PVL_E_BADARG;
  SetArea(width / pixelSkip - 12, height / lineSkip - 6);
  if (IStatsOutput* grid = m_service->GetWBExpStatsOutput()) grid->SetStatsGrid(m_width, m_height);
  return Configure();
}
