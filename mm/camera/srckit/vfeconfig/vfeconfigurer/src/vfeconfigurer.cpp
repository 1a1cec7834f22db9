#include "vfeconfigurer.h"

#include "cafstatsconfiguration.h"
#include "casfconfiguration.h"
#include "cawbextstatsconfiguration.h"
#include "cblacklevelconfiguration.h"
#include "ccamifconfiguration.h"
#include "cchannelgainconfiguration.h"
#include "cchromasuppconfiguration.h"
#include "ccolorconvconfiguration.h"
#include "ccolorcorrconfiguration.h"
#include "cdemosaicconfiguration.h"
#include "cfovcropconfiguration.h"
#include "cgammaconfiguration.h"
#include "clumaadaptationconfiguration.h"
#include "cmainscalerconfiguration.h"
#include "coutputcbcrscalerconfiguration.h"
#include "coutputyscalerconfiguration.h"
#include "crolloffconfiguration.h"
#include "cwhitebalanceconfiguration.h"
#include "cwbexpstatsconfiguration.h"

PvlResult VfeBayerBlockStep(IVfeServiceInternal* service, IVfeSettings* settings, VfeChain chain, int32_t command) {
  if (!service) return PVL_E_NULLPTR;
  switch (command) {
    case VFE_CMD_BLACK_LEVEL:
      return VfeConfigureBlock(service->GetBlackLevelConfiguration(), settings, chain);
    case VFE_CMD_CHANNEL_GAIN:
      return VfeConfigureBlock(service->GetChannelGainConfiguration(), settings, chain);
    case VFE_CMD_WHITE_BALANCE:
      return VfeConfigureBlock(service->GetWhiteBalanceConfiguration(), settings, chain);
    case VFE_CMD_COLOR_CORR:
      return VfeConfigureBlock(service->GetColorCorrConfiguration(), settings, chain);
    case VFE_CMD_LUMA_ADAPTATION:
      return VfeConfigureBlock(service->GetLumaAdaptationConfiguration(), settings, chain);
    case VFE_CMD_GAMMA:
      return VfeConfigureBlock(service->GetGammaConfiguration(), settings, chain);
    case VFE_CMD_COLOR_CONV:
      return VfeConfigureBlock(service->GetColorConvConfiguration(), settings, chain);
    case VFE_CMD_CHROMA_SUPP:
      return VfeConfigureBlock(service->GetChromaSuppConfiguration(), settings, chain);
    case VFE_CMD_ROLLOFF:
      return VfeConfigureBlock(service->GetRolloffConfiguration(), settings, chain);
    case VFE_CMD_DEMOSAIC:
      return VfeConfigureBlock(service->GetDemosaicConfiguration(), settings, chain);
    case VFE_CMD_ASF:
      return VfeConfigureBlock(service->GetASFConfiguration(), settings, chain);
    case VFE_CMD_AWBEXT_STATS:
      return VfeConfigureBlock(service->GetAWBExtStatsConfiguration(), settings, chain);
    case VFE_CMD_AF_STATS: {
      CAFStatsConfiguration* block = service->GetAFStatsConfiguration();
      return VfeComputeThenApply(block, [&] { return block->Configure(settings); });
    }
    default:
      return PVL_E_BADARG;
  }
}

PvlResult VfeEnterOutputMode(IVfeServiceInternal* service, uint32_t mode, uint32_t count) {
  service->UpdateOutputOrder(mode);
  IVideoOutputControl* outputs[] = {service->GetRawOutput(), service->GetCurrentOutput1(),
                                    service->GetCurrentOutput2()};
  for (IVideoOutputControl* output : outputs) {
    if (!output) continue;
    uint8_t enabled = 0;
    if (output->IsEnabled(mode, &enabled) != PVL_OK || !enabled) continue;
    PvlResult r = output->SetCurrentMode(mode, count);
    if (r != PVL_OK) return r;
  }
  return PVL_OK;
}

PvlResult VfeConfigureWindowAndScalers(IVfeServiceInternal* service, IVfeSettings* settings) {
  CCamifConfiguration* camif = service->GetCamifConfiguration();
  PvlResult r = VfeComputeThenApply(camif, [&] { return camif->Configure(settings); });
  CFovCropConfiguration* crop = service->GetFovCropConfiguration();
  if (r == PVL_OK) r = VfeComputeThenApply(crop, [&] { return crop->Recompute(settings); });
  CMainScalerConfiguration* main = service->GetMainScalerConfiguration();
  if (r == PVL_OK) r = VfeComputeThenApply(main, [&] { return main->Compute(); });
  COutputYScalerConfiguration* luma = service->GetOutputYScalerConfiguration();
  if (r == PVL_OK) r = VfeComputeThenApply(luma, [&] { return luma->Compute(); });
  COutputCbCrScalerConfiguration* chroma = service->GetOutputCbCrScalerConfiguration();
  if (r == PVL_OK) r = VfeComputeThenApply(chroma, [&] { return chroma->Compute(); });
  return r;
}

PvlResult VfeConfigureBayerChain(IVfeServiceInternal* service, IVfeSettings* settings, VfeChain chain,
                                 std::span<const int32_t> commands) {
  for (int32_t command : commands) {
    PvlResult r = VfeBayerBlockStep(service, settings, chain, command);
    if (r != PVL_OK) return r;
  }
  CCamifConfiguration* camif = service->GetCamifConfiguration();
  CWBExpStatsConfiguration* stats = service->GetWBExpStatsConfiguration();
  if (!camif || !stats) return PVL_E_NOTREADY;
  return VfeComputeThenApply(stats, [&] {
    return stats->ConfigureForWindow(camif->GetWindowWidth(), camif->GetPixelSkipFactor(), camif->GetWindowHeight(),
                                     camif->GetLineSkipFactor());
  });
}
