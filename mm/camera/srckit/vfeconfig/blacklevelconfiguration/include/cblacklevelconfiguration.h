// Black level: the offset the sensor adds to every sample, taken off each of
// the four Bayer channels before anything multiplies the data. Sends
// VFE_CMD_BLACK_LEVEL (5), or VFE_CMD_BLACK_LEVEL_UPDATE (27) while frames
// flow, with 10 bytes. The levels come from the tuning's normal-light table,
// moved towards a low-light table (the normal levels lowered by MaxIncrease)
// by the low-light trigger on lux index or gain (settings slots 24, 29).
// Keys "BlackLevel-Enable", "BlackLevel-ControlEnable" and the four current
// levels.
#pragma once

#include "cvfeconfiguration.h"
#include "cvfetuning.h"
#include "tuningblock.h"

class IVfeSettings;

class CBlackLevelConfiguration : public CVfeSwitchedConfiguration<VfeBlackLevelCmd> {
 public:
  int32_t GetCommandId() override { return VFE_CMD_BLACK_LEVEL; }

  // Recomputes the payload for a chain; a failed read ends it with its code
  // and leaves the changed markers set.
  PvlResult Configure(IVfeSettings* settings, VfeChain chain);
  PvlResult SendUpdate();

  // The normal levels lowered by amount, stopping at 0: a black level below
  // zero would wrap to a huge offset and turn the picture black.
  static TuningBlackLevel4Channel Subtract(const TuningBlackLevel4Channel& levels, int32_t amount);

  CBlackLevelConfiguration(IVfeServiceInternal* service, PvlResult* result);
};
