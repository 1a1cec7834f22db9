// Demosaic, adaptive Bayer filter (ABF) and bad-pixel correction (BPC): the
// Bayer-domain block that interpolates the colour planes, filters noise once
// the scene is dark enough and replaces defective pixels. Sends
// VFE_CMD_DEMOSAIC (8) with 26 bytes, or while video runs its ABF half as
// VFE_CMD_DEMOSAIC_UPDATE1 (30) and then its BPC half as
// VFE_CMD_DEMOSAIC_UPDATE2 (29), 12 bytes each. Keys "Demosaic-Enable",
// "Demosaic-ControlEnable" and the "ABF-" fields; fed by the lux index
// (settings slot 24), the sensor gain (slot 29) and the ABF and BPC tuning
// tables with their light-range triggers.
#pragma once

#include "cvfeconfiguration.h"
#include "cvfetuning.h"

class IVfeSettings;

class CDemosaicConfiguration : public CVfeConfiguration<VfeDemosaicCmd> {
 public:
  // The ABF filter table has this many entries, one per step of its light range.
  static constexpr uint32_t kAbfEntries = 20;

  int32_t GetCommandId() override { return VFE_CMD_DEMOSAIC; }

  // Recomputes the payload; 0 or the first failing read's code. Does not send.
  PvlResult Configure(IVfeSettings* settings, VfeChain chain);
  // Sends the ABF half (30), then, only when that was taken, the BPC half (29).
  PvlResult SendUpdate();

  bool HasTuningChanged() const;
  void ClearTuningChanged();

  CTuningFlag& Enable() { return m_enable; }
  CTuningFlag& ControlEnable() { return m_controlEnable; }
  CTuningFlag& AbfOn() { return m_abfOn; }
  CTuningFlag& AbfControl() { return m_abfControl; }
  CTuningFlag& BpcOn() { return m_bpcOn; }
  CTuningFlag& BpcControl() { return m_bpcControl; }

  // The ABF table entry for a light level inside (start, end), with step =
  // (end - start) / 20. The tuned tables are laid out for the level itself
  // divided by the step, not for its distance from the start: by lux the half
  // widens the step, by gain it rounds the quotient. A range that does not
  // start near zero gives quotients past the table; they take its last entry.
  static uint32_t AbfLuxRow(int32_t lux, int32_t start, int32_t end);
  static uint32_t AbfGainRow(float gain, float start, float end);

  CDemosaicConfiguration(IVfeServiceInternal* service, PvlResult* result);

 private:
  void SetDefaults();
  void ConfigureAbf(IVfeSettings* settings, VfeChain chain);
  void ConfigureBpc(IVfeSettings* settings, VfeChain chain);

  CTuningFlag m_enable;
  CTuningFlag m_controlEnable;
  CTuningFlag m_abfOn;
  CTuningFlag m_abfControl;
  CTuningFlag m_bpcOn;
  CTuningFlag m_bpcControl;
};
