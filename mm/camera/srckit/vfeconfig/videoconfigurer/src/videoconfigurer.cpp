#include "videoconfigurer.h"

#include "afstatsconfiguration.h"
#include "asfconfiguration.h"
#include "awbextstatsconfiguration.h"
#include "block20configuration.h"
#include "block22configuration.h"
#include "camifconfiguration.h"
#include "demosaicconfiguration.h"
#include "fovcropconfiguration.h"
#include "framedropconfiguration.h"
#include "mainscalerconfiguration.h"
#include "outputcbcrscalerconfiguration.h"
#include "outputconfiguration.h"
#include "outputyscalerconfiguration.h"
#include "rolloffconfiguration.h"
#include "wbexpstatsconfiguration.h"

namespace {

// The Bayer blocks in chain order, before the WB/exposure statistics.
constexpr int32_t kBayerBlocks[] = {
    VFE_CMD_BLACK_LEVEL,  VFE_CMD_ROLLOFF, VFE_CMD_CHANNEL_GAIN, VFE_CMD_DEMOSAIC,
    VFE_CMD_WHITE_BALANCE, VFE_CMD_COLOR_CORR, VFE_CMD_GAMMA, VFE_CMD_COLOR_CONV,
    VFE_CMD_ASF, VFE_CMD_CHROMA_SUPP, VFE_CMD_AF_STATS, VFE_CMD_AWBEXT_STATS,
};

}  // namespace

PvlResult CVideoConfigurer::ConfigureOutputs() {
  m_service->UpdateOutputOrder(VIDEO_OUTPUT_MODE_VIDEO);
  IVideoOutputControl* outputs[] = {m_service->GetRawOutput(), m_service->GetCurrentOutput1(),
                                    m_service->GetCurrentOutput2()};
  for (IVideoOutputControl* output : outputs) {
    if (!output) continue;
    uint8_t enabled = 0;
    if (output->IsEnabled(VIDEO_OUTPUT_MODE_VIDEO, &enabled) != PVL_OK || !enabled) continue;
    PvlResult r = output->SetCurrentMode(VIDEO_OUTPUT_MODE_VIDEO, 0);
    if (r != PVL_OK) return r;
  }
  return PVL_OK;
}

PvlResult CVideoConfigurer::ConfigureCore() {
  PvlResult r = ConfigureOutputs();
  if (r == PVL_OK) r = m_service->SendReset();
  if (r != PVL_OK) return r;

  CCamifConfiguration* camif = m_service->GetCamifConfiguration();
  if (camif) camif->SetPatternSelector(0);
  r = VfeComputeThenApply(camif, [&] { return camif->Configure(m_settings); });
  CFovCropConfiguration* crop = m_service->GetFovCropConfiguration();
  if (r == PVL_OK) r = VfeComputeThenApply(crop, [&] { return crop->Recompute(m_settings); });
  CMainScalerConfiguration* main = m_service->GetMainScalerConfiguration();
  if (r == PVL_OK) r = VfeComputeThenApply(main, [&] { return main->Compute(); });
  COutputYScalerConfiguration* luma = m_service->GetOutputYScalerConfiguration();
  if (r == PVL_OK) r = VfeComputeThenApply(luma, [&] { return luma->Compute(); });
  COutputCbCrScalerConfiguration* chroma = m_service->GetOutputCbCrScalerConfiguration();
  if (r == PVL_OK) r = VfeComputeThenApply(chroma, [&] { return chroma->Compute(); });
  IVideoOutputControl* out2 = m_service->GetCurrentOutput2();
  if (r == PVL_OK && out2 && out2->IsCurrentModeEnabled()) {
    CBlock20Configuration* block20 = m_service->GetBlock20Configuration();
    r = VfeComputeThenApply(block20, [&] { return block20->Configure(m_settings); });
  }
  CFrameDropConfiguration* frameDrop = m_service->GetFrameDropConfiguration();
  if (r == PVL_OK) r = VfeComputeThenApply(frameDrop, [&] { return frameDrop->ConfigureVideo(m_settings); });
  CBlock22Configuration* block22 = m_service->GetBlock22Configuration();
  if (r == PVL_OK) r = VfeComputeThenApply(block22, [&] { return block22->Configure(); });
  COutputConfiguration* output = m_service->GetOutputConfiguration();
  if (r == PVL_OK) r = VfeComputeThenApply(output, [&] { return output->Configure(); });
  if (r == PVL_OK && m_sensor.IsBayer()) r = ConfigureBayerBlocks();
  if (r != PVL_OK) return r;
  return SetOperationMode(0, 0, 0);
}

PvlResult CVideoConfigurer::ConfigureBayerBlocks() {
  for (int32_t command : kBayerBlocks) {
    PvlResult r = VfeBayerBlockStep(m_service, m_settings, VfeChain::Video, command);
    if (r != PVL_OK) return r;
  }
  CCamifConfiguration* camif = m_service->GetCamifConfiguration();
  CWBExpStatsConfiguration* stats = m_service->GetWBExpStatsConfiguration();
  if (!camif || !stats) return PVL_E_NOTREADY;
  return VfeComputeThenApply(stats, [&] {
    return stats->ConfigureForWindow(camif->GetWindowWidth(), camif->GetPixelSkipFactor(), camif->GetWindowHeight(),
                                     camif->GetLineSkipFactor());
  });
}
