#include "outputcbcrscalerconfiguration.h"

#include "mainscalerconfiguration.h"

PvlResult COutputCbCrScalerConfiguration::Compute() {
  memset(&m_payload, 0, sizeof m_payload);
  IVideoOutputControl* out1 = m_service->GetCurrentOutput1();
  if (!out1 || !out1->IsCurrentModeEnabled()) return PVL_OK;
  CMainScalerConfiguration* main = m_service->GetMainScalerConfiguration();
  if (!main) return PVL_E_NOTREADY;
  uint32_t mw = main->GetPayload().horizontal.outputSize, mh = main->GetPayload().vertical.outputSize;
  VfeSize o = out1->GetOutputSize();
  // Always halves, even when the luma scaler is off.
  PvlResult r = ComputeScaleFactor(&m_payload.horizontal, mw, o.width / 2);
  if (r != PVL_OK) return r;
  r = ComputeScaleFactor(&m_payload.vertical, mh, o.height / 2);
  if (r != PVL_OK) return r;
  m_payload.enable = ByteToBool(m_payload.horizontal.enable | m_payload.vertical.enable);
  return PVL_OK;
}
