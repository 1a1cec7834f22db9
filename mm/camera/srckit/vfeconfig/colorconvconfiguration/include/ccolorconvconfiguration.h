// Colour conversion: RGB to the YCbCr the outputs carry. The coefficients
// come from the table of the light the white balance found (settings slot 22)
// or, in low light, a blend towards the low-light table by the trigger
// (slots 24, 26, 29); runtime updates move towards the new table a little
// each time so colours do not jump. An image effect (slots 6-9) takes its own
// table; the user's hue (slot 11) turns and saturation (slot 10) scales the
// chroma coefficients. Sends VFE_CMD_COLOR_CONV (15), or
// VFE_CMD_COLOR_CONV_UPDATE (36) while frames flow, with 30 bytes of Q8
// coefficients. Keys "ColorConv-Enable", "ColorConv-ControlEnable" and the
// current coefficients.
#pragma once

#include "cvfeconfiguration.h"
#include "cvfetuning.h"
#include "tuningblock.h"

class IVfeSettings;

class CColorConvConfiguration : public CVfeSwitchedConfiguration<VfeColorConvCmd> {
 public:
  int32_t GetCommandId() override { return VFE_CMD_COLOR_CONV; }

  PvlResult Configure(IVfeSettings* settings, VfeChain chain);
  PvlResult SendUpdate();

  // The plain BT.601 record used where a computation has no valid result.
  static TuningColorConvMatrix DefaultRecord();
  // Turns the chroma plane by angle (radians) and scales it by saturation;
  // the default record when a scale vanishes or a coefficient leaves the
  // range the payload can carry.
  static TuningColorConvMatrix HueSaturation(const TuningColorConvMatrix& r, float saturation, double angle);
  // Writes a record into the payload (enable 1) and keeps the Y-offset residual.
  void Pack(const TuningColorConvMatrix& r);
  // The same with the Y offset's low byte and no residual.
  void PackTuned(const TuningColorConvMatrix& r);

  // The last record chosen before hue and saturation: where the next runtime
  // update starts from.
  const TuningColorConvMatrix& GetStoredRecord() const { return m_stored; }
  int32_t GetYOffsetResidual() const { return m_residual; }

  CColorConvConfiguration(IVfeServiceInternal* service, PvlResult* result);

 private:
  PvlResult SelectByLight(IVfeSettings* settings, VfeChain chain, TuningColorConvMatrix* r);
  PvlResult IlluminantRecord(IVfeSettings* settings, VfeChain chain, TuningColorConvMatrix* r);
  PvlResult LowLightBlend(IVfeSettings* settings, float ratio, TuningColorConvMatrix* r);
  PvlResult EffectRecord(IVfeSettings* settings, TuningColorConvMatrix* r);

  int32_t m_residual;
  TuningColorConvMatrix m_stored;
};
