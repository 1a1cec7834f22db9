// Colour correction: a 3x3 matrix and per-channel offsets on every
// demosaiced RGB pixel, undoing the sensor's colour response so that patches
// come out in their own colours. The tuned default and low-light matrices are
// blended by the low-light trigger (settings slots 24, 29), re-saturated for
// the user's saturation while a hue rotation is on (slots 10, 11) and scaled
// by the digital gain the channel gains could not carry. Sends
// VFE_CMD_COLOR_CORR (12), or VFE_CMD_COLOR_CORR_UPDATE (33) while frames
// flow, with 32 bytes: Q, then coefficients at Q + 7 fraction bits in the
// hardware's green, blue, red order. Keys "ColorCorr-Enable",
// "ColorCorr-ControlEnable" and the current matrix.
#pragma once

#include "cvfeconfiguration.h"
#include "cvfetuning.h"
#include "tuningblock.h"

class IVfeSettings;

class CColorCorrConfiguration : public CVfeSwitchedConfiguration<VfeColorCorrCmd> {
 public:
  int32_t GetCommandId() override { return VFE_CMD_COLOR_CORR; }

  PvlResult Configure(IVfeSettings* settings, VfeChain chain);
  PvlResult SendUpdate();

  // Writes a matrix record into the payload (enable 1).
  void Pack(const TuningColorCorrMatrix& m);
  // A + r (B - A): coefficients in single precision, offsets truncated.
  static TuningColorCorrMatrix Blend(const TuningColorCorrMatrix& a, const TuningColorCorrMatrix& b, float r);
  // The matrix re-saturated by s: luma kept, chroma scaled.
  static TuningColorCorrMatrix Saturate(const TuningColorCorrMatrix& m, float s);

  CColorCorrConfiguration(IVfeServiceInternal* service, PvlResult* result);

 private:
  PvlResult ApplySaturation(IVfeSettings* settings, TuningColorCorrMatrix* m);
};
