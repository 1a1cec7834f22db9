#include "cmainscalerconfiguration.h"

#include <algorithm>

#include "cfovcropconfiguration.h"

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

PvlResult ComputeOutput1Scaler(IVfeServiceInternal* service, uint32_t divisor, bool keepOffAtSameSize,
                               VfeOutputScalerCmd* payload) {
  memset(payload, 0, sizeof *payload);
  IVideoOutputControl* out1 = service->GetCurrentOutput1();
  if (!out1 || !out1->IsCurrentModeEnabled()) return PVL_OK;
  CMainScalerConfiguration* main = service->GetMainScalerConfiguration();
  if (!main) return PVL_E_NOTREADY;
  uint32_t mw = main->GetPayload().horizontal.outputSize, mh = main->GetPayload().vertical.outputSize;
  VfeSize o = out1->GetOutputSize();
  if (keepOffAtSameSize && mw == o.width && mh == o.height) return PVL_OK;
  PvlResult r = ComputeScaleFactor(&payload->horizontal, mw, o.width / divisor);
  if (r != PVL_OK) return r;
  r = ComputeScaleFactor(&payload->vertical, mh, o.height / divisor);
  if (r != PVL_OK) return r;
  payload->enable = ByteToBool(payload->horizontal.enable | payload->vertical.enable);
  return PVL_OK;
}
