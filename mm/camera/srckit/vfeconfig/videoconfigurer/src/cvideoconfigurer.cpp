#include "cvideoconfigurer.h"

#include "cblock20configuration.h"
#include "cblock22configuration.h"
#include "ccamifconfiguration.h"
#include "cframedropconfiguration.h"
#include "coutputconfiguration.h"

namespace {

// The Bayer blocks in chain order, before the WB/exposure statistics.
constexpr int32_t kBayerBlocks[] = {
    VFE_CMD_BLACK_LEVEL,  VFE_CMD_ROLLOFF, VFE_CMD_CHANNEL_GAIN, VFE_CMD_DEMOSAIC,
    VFE_CMD_WHITE_BALANCE, VFE_CMD_COLOR_CORR, VFE_CMD_GAMMA, VFE_CMD_COLOR_CONV,
    VFE_CMD_ASF, VFE_CMD_CHROMA_SUPP, VFE_CMD_AF_STATS, VFE_CMD_AWBEXT_STATS,
};

}  // namespace

PvlResult CVideoConfigurer::ConfigureOutputs() { return VfeEnterOutputMode(m_service, VIDEO_OUTPUT_MODE_VIDEO, 0); }

PvlResult CVideoConfigurer::ConfigureCore() {
  PvlResult r = ConfigureOutputs();
  if (r == PVL_OK) r = m_service->SendReset();
  if (r != PVL_OK) return r;

  CCamifConfiguration* camif = m_service->GetCamifConfiguration();
  if (camif) camif->SetPatternSelector(0);
  r = VfeConfigureWindowAndScalers(m_service, m_settings);
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
  if (r == PVL_OK && m_sensor.IsBayer()) r = VfeConfigureBayerChain(m_service, m_settings, VfeChain::Video, kBayerBlocks);
  if (r != PVL_OK) return r;
  return SetOperationMode(0, 0, 0);
}
