// Channel gain: four per-channel gains on the Bayer data, the first place the
// VFE can multiply the signal. It carries the tuning's channel gains times the
// global gain, the part of the exposure's digital gain the sensor could not
// give (settings slot 13) and, for a still, the white-balance gains (slot 21).
// What would push a gain past 7.99 is left as a residual that the colour
// correction multiplies into its matrix. Sends VFE_CMD_CHANNEL_GAIN (7), or
// VFE_CMD_CHANNEL_GAIN_UPDATE (28) while frames flow, with 8 bytes of Q7
// gains. Keys "ChannelGain-ControlEnable" and the four current gains.
#pragma once

#include "cvfeconfiguration.h"
#include "cvfetuning.h"

class IVfeSettings;

class CChannelGainConfiguration : public CVfeConfiguration<VfeChannelGainCmd> {
 public:
  int32_t GetCommandId() override { return VFE_CMD_CHANNEL_GAIN; }

  PvlResult Configure(IVfeSettings* settings, VfeChain chain);
  PvlResult SendUpdate();
  bool HasTuningChanged() const { return m_controlEnable.changed != 0; }
  void ClearTuningChanged() { m_controlEnable.changed = 0; }

  // The digital gain the channel gains could not carry; 0 when none.
  float GetDigitalGain() const { return m_digitalGain; }
  // The largest gain the current chain may ask of the VFE (GetLimits).
  float GetGainLimit() const { return m_gainLimit; }

  CTuningFlag& ControlEnable() { return m_controlEnable; }

  // Payload order: green even rows, green odd rows, blue, red.
  enum : uint32_t { kGreenEven = 0, kGreenOdd = 1, kBlue = 2, kRed = 3 };

  CChannelGainConfiguration(IVfeServiceInternal* service, PvlResult* result);

 private:
  float m_digitalGain;
  float m_gainLimit;
  CTuningFlag m_controlEnable;
};
