// AWB-extended statistics: how the VFE picks the near-white pixels that the
// white-balance algorithm averages. A pixel counts when its luma lies in a
// range and its chroma inside four boundary lines; the normal-light set of
// lines is used, or the low-light set once the scene is as dark as the end of
// the colour correction's light range. Sends VFE_CMD_AWBEXT_STATS (59) with
// 20 bytes, or the classification alone as VFE_CMD_AWBEXT_STATS_UPDATE (45, 16
// bytes) while video runs. Keys "AWBExt-Enable", "AWBExt-ControlEnable"; fed
// by the lux index (settings slot 24), gain (29), the luma floor the AWB
// algorithm stores (23) and the AWB statistics tuning.
#pragma once

#include "cvfeconfiguration.h"
#include "cvfetuning.h"

class IVfeSettings;

class CAWBExtStatsConfiguration : public CVfeSwitchedConfiguration<VfeAwbExtStatsCmd> {
 public:
  static constexpr uint32_t kStatsRegions = 256;

  int32_t GetCommandId() override { return VFE_CMD_AWBEXT_STATS; }

  // Recomputes the payload; 0 or the failing read's code. Does not send.
  PvlResult Configure(IVfeSettings* settings, VfeChain chain);
  // The classification of the last Configure as the update command.
  PvlResult SendUpdate();

  CAWBExtStatsConfiguration(IVfeServiceInternal* service, PvlResult* result);

 private:
  void SetDefaults();
};
