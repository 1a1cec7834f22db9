// A zoom is one picture: the crop and the scalers sized for it go out
// together or not at all. A failing computation or a refused update ends the
// zoom with its code before VFE_CMD_UPDATE, so the hardware never latches
// scalers sized for a window it did not get, and the engine learns that the
// change (for instance one made while an earlier update is still pending) was
// not applied.
#include "ccropconfigurer.h"

#include "cfovcropconfiguration.h"
#include "cmainscalerconfiguration.h"
#include "coutputcbcrscalerconfiguration.h"
#include "coutputyscalerconfiguration.h"

PvlResult CCropConfigurer::ConfigureCore() {
  CFovCropConfiguration* crop = m_service->GetFovCropConfiguration();
  CMainScalerConfiguration* main = m_service->GetMainScalerConfiguration();
  COutputYScalerConfiguration* luma = m_service->GetOutputYScalerConfiguration();
  COutputCbCrScalerConfiguration* chroma = m_service->GetOutputCbCrScalerConfiguration();
  if (!crop || !main || !luma || !chroma) return PVL_E_NOTREADY;

  // Everything is computed before anything is sent.
  PvlResult r = crop->Recompute(m_settings);
  if (r == PVL_OK) r = main->Compute();
  if (r == PVL_OK) r = luma->Compute();
  if (r == PVL_OK) r = chroma->Compute();
  if (r != PVL_OK) return r;

  r = crop->SendUpdate();
  if (r == PVL_OK) r = main->SendUpdate();
  if (r == PVL_OK) r = luma->SendUpdate();
  if (r == PVL_OK) r = chroma->SendUpdate();
  if (r != PVL_OK) return r;
  return m_service->SendCommand(VFE_CMD_UPDATE, nullptr, 0);
}
