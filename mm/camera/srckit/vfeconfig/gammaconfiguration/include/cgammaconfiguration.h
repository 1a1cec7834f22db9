// Gamma: the curve that maps linear sensor light to the 8-bit values a
// display expects. The tuned 1024-point curve is picked (or blended) by scene
// brightness from a bright, a normal and a low-light table (settings slots
// 24, 26, 29), replaced by a solarize curve for that image effect (slots 6,
// 7), bent by the user's contrast (slot 3) and shifted by the brightness
// (slot 4). Sends VFE_CMD_GAMMA (14), or VFE_CMD_GAMMA_UPDATE (35) while
// frames flow, with 520 bytes: 256 entries of a value and the signed step to
// the next. Keys "Gamma-Enable" and "Gamma-ControlEnable".
#pragma once

#include "cvfeconfiguration.h"
#include "cvfetuning.h"
#include "tuningblock.h"

class IVfeSettings;

class CGammaConfiguration : public CVfeSwitchedConfiguration<VfeGammaCmd> {
 public:
  int32_t GetCommandId() override { return VFE_CMD_GAMMA; }

  // The video and runtime chains recompute the curve from tuning; a still
  // with luma adaptation on keeps the curve the adaptation was built on.
  PvlResult Configure(IVfeSettings* settings, VfeChain chain);
  PvlResult SendUpdate();

  // 1024 points to 256 entries {value, signed step to the next}.
  static void Pack(const uint8_t* points, int16_t* entries);
  // The S-curve of contrast/100 about 127.5 (100 leaves the curve).
  static void ApplyContrast(int16_t* entries, int32_t contrast);
  // Adds brightness/100 to every value, clamped to 0..255; steps kept.
  static void ApplyBrightness(int16_t* entries, int32_t brightness);
  // The user's gamma on the chosen curve: each value v becomes
  // 255 x (v / 255)^(1 / gamma), so gamma above 1 lifts the mid-tones and
  // below 1 darkens them; black and white stay.
  static void ApplyGamma(int16_t* entries, float gamma);

  // The solarize curve is in the payload (the contrast is not applied to it).
  bool IsSolarized() const { return m_solarize != 0; }

  CGammaConfiguration(IVfeServiceInternal* service, PvlResult* result);

 private:
  PvlResult Run(IVfeSettings* settings, VfeChain chain);
  PvlResult RunSnapshot(IVfeSettings* settings);
  PvlResult ChooseByBrightness(IVfeSettings* settings, VfeChain chain, TuningGammaTable* table);
  PvlResult Solarize(IVfeSettings* settings, TuningGammaTable* table);

  uint8_t m_solarize;
};
