// Luma adaptation: a per-level gain that lifts shadows or holds highlights
// of a still, as the statistics module's luma algorithm decided. Its 256-entry
// mapping (settings slot 32, used when slot 34 says on) is meant for
// gamma-encoded values, so it is carried back through the gamma curve in the
// gamma payload and its inverse, and turned into gain ratios per linear
// level. Sends VFE_CMD_LUMA_ADAPTATION (13) with 514 bytes, in the snapshot
// chain only. Keys "LumaAdaptation-Enable" and "LumaAdaptation-ControlEnable".
#pragma once

#include "cvfeconfiguration.h"
#include "cvfetuning.h"

class IVfeSettings;

class CLumaAdaptationConfiguration : public CVfeSwitchedConfiguration<VfeLumaAdaptationCmd> {
 public:
  int32_t GetCommandId() override { return VFE_CMD_LUMA_ADAPTATION; }

  // With the mode off the payload stays as it was.
  PvlResult Configure(IVfeSettings* settings, VfeChain chain);

  // The inverse of a 256-entry curve: exact where the curve reaches a value,
  // interpolated between the nearest reached values elsewhere, and the
  // nearest reached value beyond the curve's lowest or highest one.
  static PvlResult InverseGamma(const uint8_t* gamma, uint8_t* inverse);
  // The ratio table {ratio Q6 in 48..196, 6-bit step to the next} for a
  // mapping y through the curve gamma.
  static PvlResult BuildRatioTable(const uint8_t* gamma, const uint8_t* y, int16_t* table);

  CLumaAdaptationConfiguration(IVfeServiceInternal* service, PvlResult* result);
};
