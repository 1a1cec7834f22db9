// AF statistics: where in the picture the VFE measures sharpness for the
// focus algorithm. It sets the focus window inside the field-of-view window
// (the tuned centre part, or the whole window split into the cells the
// focus algorithm picked), the focus-value metric and the high-pass filter
// whose output is summed into focus values, and tells the AF statistics output
// the window size so that it can read the values back. Sends VFE_CMD_AF_STATS
// (57) with 38 bytes, or the window alone as VFE_CMD_AF_STATS_UPDATE (44, 10
// bytes) while video runs. Keys "AF-Enable", "AF-ControlEnable"; fed by the
// AF window configuration (settings slot 31), the crop window and the AF
// tuning (high-pass filter, window ratios, metric).
#pragma once

#include "cvfeconfiguration.h"
#include "cvfetuning.h"

class IVfeSettings;

class CAFStatsConfiguration : public CVfeSwitchedConfiguration<VfeAfStatsCmd> {
 public:
  static constexpr int32_t kCells = 16;

  int32_t GetCommandId() override { return VFE_CMD_AF_STATS; }

  // Recomputes the payload; 0 or the failing read's code. Does not send.
  PvlResult Configure(IVfeSettings* settings);
  // The window of the last Configure as the update command.
  PvlResult SendUpdate();

  CAFStatsConfiguration(IVfeServiceInternal* service, PvlResult* result);

 private:
  void SetDefaults();
};
