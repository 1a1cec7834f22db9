// White balance: red, green and blue gains after demosaic that make grey look
// grey under the light the AWB decided (settings slot 21). A still instead
// carries the snapshot's digital gain (slot 13) on all three channels, at
// most 3.99, since its white balance already went into the channel gains.
// Sends VFE_CMD_WHITE_BALANCE (11), or VFE_CMD_WHITE_BALANCE_UPDATE (32) while
// frames flow, with 8 bytes of Q7 gains in the order red, blue, green. Keys
// "AWB-Enable", "AWB-ControlEnable", "AWB-rGain", "AWB-gGain", "AWB-bGain".
#pragma once

#include "cfixedpoint.h"
#include "cvfeconfiguration.h"
#include "cvfetuning.h"

class IVfeSettings;

class CWhiteBalanceConfiguration : public CVfeSwitchedConfiguration<VfeWhiteBalanceCmd> {
 public:
  int32_t GetCommandId() override { return VFE_CMD_WHITE_BALANCE; }

  PvlResult Configure(IVfeSettings* settings, VfeChain chain);
  PvlResult SendUpdate();
  // Stores the three gains at Q7; the first that does not fit ends it with
  // its code, the ones before it stay.
  PvlResult SetGains(const CFixedPoint& red, const CFixedPoint& green, const CFixedPoint& blue);

  CWhiteBalanceConfiguration(IVfeServiceInternal* service, PvlResult* result);
};
