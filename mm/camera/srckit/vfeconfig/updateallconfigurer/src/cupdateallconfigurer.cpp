#include "cupdateallconfigurer.h"

#include <string.h>

#include "cafstatsconfiguration.h"
#include "casfconfiguration.h"
#include "cawbextstatsconfiguration.h"
#include "camerasettings.h"
#include "cblacklevelconfiguration.h"
#include "cfixedpoint.h"
#include "cdemosaicconfiguration.h"
#include "cchannelgainconfiguration.h"
#include "cchromasuppconfiguration.h"
#include "ccolorconvconfiguration.h"
#include "ccolorcorrconfiguration.h"
#include "cgammaconfiguration.h"
#include "cwhitebalanceconfiguration.h"
#include "cfovcropconfiguration.h"
#include "cmainscalerconfiguration.h"
#include "coutputcbcrscalerconfiguration.h"
#include "coutputyscalerconfiguration.h"

namespace {

// A fixed-point number as plain data, so that the table needs no constructor.
struct FixedWords {
  uint32_t q;
  int32_t raw;
};

struct LastApplied {
  int32_t brightness[5];
  int32_t contrast[5];
  uint32_t illuminant;
  uint32_t effectMode;
  uint32_t effect;
  uint32_t aecIndex;
  FixedWords exposureGain;
  FixedWords digitalGain;
  uint8_t afWholeFrame;
  int32_t afCellCount;
  uint8_t fullUpdate;
};

constexpr LastApplied kAtLoad = {{0}, {0}, 10, 0, 0, 0, {12, 0}, {12, 0}, 1, 0, 0};
// Touched only under the VFE service's lock.
constinit LastApplied g_last = kAtLoad;

FixedWords Words(const CFixedPoint& f) { return {f.GetQ(), f.GetRawValue()}; }
bool Differs(const CFixedPoint& now, const FixedWords& then) {
  CFixedPoint old;
  old.SetQ(then.q);
  old.SetRawValue(then.raw);
  return now != old;
}

// An optional runtime step of a computed block: its failure is dropped too.
template <class Block, class Compute>
void OptionalUpdate(Block* block, bool needed, Compute compute) {
  if (!needed || !block) return;
  if (compute(block) == PVL_OK) (void)block->SendUpdate();
}

}  // namespace

void CUpdateAllConfigurer::ResetLastApplied() { g_last = kAtLoad; }

PvlResult CUpdateAllConfigurer::ConfigureCore() {
  IVfeSettings* s = m_settings;
  if (!s) return PVL_E_NOTREADY;
  CameraRange brightness{}, contrast{};
  uint32_t illuminant = 0, effectMode = 0, effect = 0, aecIndex = 0;
  CFixedPoint exposureGain, digitalGain, red, green, blue;
  uint8_t afWholeFrame = 1;
  int32_t afCellCount = 0;
  PvlResult r = s->GetBrightness(&brightness);
  if (r == PVL_OK) r = s->GetContrast(&contrast);
  if (r == PVL_OK) r = s->GetWhiteBalanceIlluminant(&illuminant);
  if (r == PVL_OK) r = s->GetImageEffectMode(&effectMode);
  if (r == PVL_OK) r = s->GetImageEffect(&effect);
  if (r == PVL_OK) r = s->GetAecIndex(&aecIndex);
  if (r == PVL_OK) r = s->GetExposureGain(&exposureGain);
  if (r == PVL_OK) r = s->GetDigitalGain(&digitalGain);
  if (r == PVL_OK) r = s->GetAFWindowConfig(&afWholeFrame, nullptr, 0, &afCellCount);
  if (r == PVL_OK) r = s->GetWhiteBalanceGains(&red, &green, &blue);
  if (r != PVL_OK) return r;

  const bool brightnessChanged = brightness.Value != g_last.brightness[4];
  const bool contrastChanged = contrast.Value != g_last.contrast[4];
  const bool exposureChanged = aecIndex != g_last.aecIndex || Differs(exposureGain, g_last.exposureGain);
  const bool digitalGainChanged = Differs(digitalGain, g_last.digitalGain);
  const bool afChanged = afWholeFrame != g_last.afWholeFrame || afCellCount != g_last.afCellCount;
  const bool pictureChanged = exposureChanged || illuminant != g_last.illuminant ||
                              effectMode != g_last.effectMode || effect != g_last.effect || brightnessChanged ||
                              contrastChanged;
  const bool full = g_last.fullUpdate != 0;

  CFovCropConfiguration* crop = m_service->GetFovCropConfiguration();
  CMainScalerConfiguration* main = m_service->GetMainScalerConfiguration();
  COutputYScalerConfiguration* luma = m_service->GetOutputYScalerConfiguration();
  COutputCbCrScalerConfiguration* chroma = m_service->GetOutputCbCrScalerConfiguration();
  if (!crop || !main || !luma || !chroma) return PVL_E_NOTREADY;
  r = crop->Recompute(s);
  if (r == PVL_OK) r = crop->SendUpdate();
  if (r == PVL_OK) r = main->Compute();
  if (r == PVL_OK) r = main->SendUpdate();
  if (r == PVL_OK) r = luma->Compute();
  if (r == PVL_OK) r = luma->SendUpdate();
  if (r == PVL_OK) r = chroma->Compute();
  if (r == PVL_OK) r = chroma->SendUpdate();
  if (r != PVL_OK) return r;

  // A block also runs when the tuning tool changed one of its switches.
  CBlackLevelConfiguration* blackLevel = m_service->GetBlackLevelConfiguration();
  CChannelGainConfiguration* channelGain = m_service->GetChannelGainConfiguration();
  CDemosaicConfiguration* demosaic = m_service->GetDemosaicConfiguration();
  CWhiteBalanceConfiguration* whiteBalance = m_service->GetWhiteBalanceConfiguration();
  CColorCorrConfiguration* colorCorr = m_service->GetColorCorrConfiguration();
  CGammaConfiguration* gamma = m_service->GetGammaConfiguration();
  CColorConvConfiguration* colorConv = m_service->GetColorConvConfiguration();
  CASFConfiguration* asf = m_service->GetASFConfiguration();
  CChromaSuppConfiguration* chromaSupp = m_service->GetChromaSuppConfiguration();
  CAFStatsConfiguration* af = m_service->GetAFStatsConfiguration();
  if (exposureChanged || (blackLevel && blackLevel->HasTuningChanged())) (void)VfeUpdateBlock(blackLevel, s);
  if (digitalGainChanged || (channelGain && channelGain->HasTuningChanged())) (void)VfeUpdateBlock(channelGain, s);
  OptionalUpdate(demosaic, exposureChanged || (demosaic && demosaic->HasTuningChanged()),
                 [&](CDemosaicConfiguration* b) { return b->Configure(s, VfeChain::Runtime); });
  (void)VfeUpdateBlock(whiteBalance, s);
  if (exposureChanged || !full || (colorCorr && colorCorr->HasTuningChanged())) r = VfeUpdateBlock(colorCorr, s);
  if (r == PVL_OK && (pictureChanged || !full || (gamma && gamma->HasTuningChanged()))) r = VfeUpdateBlock(gamma, s);
  if (r == PVL_OK) r = VfeUpdateBlock(colorConv, s);
  if (r != PVL_OK) return r;
  OptionalUpdate(asf, exposureChanged || (asf && asf->HasTuningChanged()),
                 [&](CASFConfiguration* b) { return b->Configure(s, VfeChain::Runtime); });
  if (exposureChanged || (chromaSupp && chromaSupp->HasTuningChanged())) (void)VfeUpdateBlock(chromaSupp, s);
  OptionalUpdate(m_service->GetAWBExtStatsConfiguration(), true,
                 [&](CAWBExtStatsConfiguration* b) { return b->Configure(s, VfeChain::Runtime); });
  OptionalUpdate(af, afChanged || (af && af->HasTuningChanged()),
                 [&](CAFStatsConfiguration* b) { return b->Configure(s); });

  r = m_service->SendCommand(VFE_CMD_UPDATE, nullptr, 0);
  if (r != PVL_OK) return r;
  g_last.aecIndex = aecIndex;
  g_last.exposureGain = Words(exposureGain);
  g_last.digitalGain = Words(digitalGain);
  g_last.illuminant = illuminant;
  g_last.afWholeFrame = afWholeFrame;
  g_last.afCellCount = afCellCount;
  g_last.fullUpdate = 1;
  g_last.effectMode = effectMode;
  g_last.effect = effect;
  memcpy(g_last.brightness, &brightness, sizeof g_last.brightness);
  memcpy(g_last.contrast, &contrast, sizeof g_last.contrast);
  return PVL_OK;
}
