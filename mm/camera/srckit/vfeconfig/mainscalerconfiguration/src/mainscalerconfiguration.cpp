#include "mainscalerconfiguration.h"

#include <algorithm>

#include "fovcropconfiguration.h"

PvlResult CMainScalerConfiguration::Compute() {
  memset(&m_payload, 0, sizeof m_payload);
  IVideoOutputControl* out1 = m_service->GetCurrentOutput1();
  IVideoOutputControl* out2 = m_service->GetCurrentOutput2();
  bool on1 = out1 && out1->IsCurrentModeEnabled();
  bool on2 = out2 && out2->IsCurrentModeEnabled();
  if (!on1 && !on2) return PVL_E_FAIL;
  VfeSize s1 = on1 ? out1->GetOutputSize() : VfeSize{0, 0};
  VfeSize s2 = on2 ? out2->GetOutputSize() : VfeSize{0, 0};
  CFovCropConfiguration* crop = m_service->GetFovCropConfiguration();
  if (!crop) return PVL_E_NOTREADY;
  PvlResult r = ComputeScaleFactor(&m_payload.horizontal, crop->GetWindowWidth(), std::max(s1.width, s2.width));
  if (r != PVL_OK) return r;
  r = ComputeScaleFactor(&m_payload.vertical, crop->GetWindowHeight(), std::max(s1.height, s2.height));
  if (r != PVL_OK) return r;
  m_payload.enable = ByteToBool(m_payload.horizontal.enable | m_payload.vertical.enable);
  return PVL_OK;
}
