// Adaptive spatial filter (ASF): sharpens luma with two 3 x 3 edge filters and
// smooths it with a centre/surround kernel. The tuning holds a bright, a
// normal and a low-light setting, chosen (and blended between) by the lux
// index or the sensor gain; the sharpening is scaled by the user's sharpness
// and by how far the picture is being shrunk, since a downscaled picture needs
// less of it. Sends VFE_CMD_ASF (17) with 40 bytes, or its first 32 as
// VFE_CMD_ASF_UPDATE (41) while video runs. Keys "ASF-Enable",
// "ASF-ControlEnable" and the "ASF-SettingCurrent..." fields; fed by the
// sharpness (settings slot 12), lux index (24), gain (29), the crop window and
// the output widths.
#pragma once

#include "cvfeconfiguration.h"
#include "cvfetuning.h"

class IVfeSettings;

class CASFConfiguration : public CVfeSwitchedConfiguration<VfeAsfCmd> {
 public:
  int32_t GetCommandId() override { return VFE_CMD_ASF; }

  // Writes the default filter into payload bytes 0-31.
  void SetDefaults();
  // Recomputes the payload; 0 or the failing read's code. Does not send.
  PvlResult Configure(IVfeSettings* settings, VfeChain chain);
  // Sends payload bytes 0-31 as the update command.
  PvlResult SendUpdate();

  float GetDownscaleRatio() const { return m_downscaleRatio; }

  CASFConfiguration(IVfeServiceInternal* service, PvlResult* result);

 private:
  void Run(IVfeSettings* settings, VfeChain chain);
  float DownscaleRatio(VfeChain chain);

  float m_downscaleRatio = 1.0f;
};
