// White-balance and exposure statistics set-up: the area the statistics are
// gathered over and the first three buffers of each statistics stream (AF,
// then WB/exposure), taken from the service's two statistics outputs. Sends
// VFE_CMD_WB_EXP_STATS (56) with 48 bytes; no tuning keys; fed by the area the
// configure chains store (camera-interface window over its skip factors).
#pragma once

#include "cvfeconfiguration.h"

class CWBExpStatsConfiguration : public CVfeConfiguration<VfeWbExpStatsCmd> {
 public:
  int32_t GetCommandId() override { return VFE_CMD_WB_EXP_STATS; }

  void SetArea(uint32_t width, uint32_t height) {
    m_width = width;
    m_height = height;
  }
  // Fills the payload and queues three buffers on each statistics output.
  PvlResult Configure();
  // The area of a camera-interface window (over its skip factors, less the
  // Bayer borders), handed to the statistics output as its grid; then Configure.
  PvlResult ConfigureForWindow(uint32_t width, uint32_t pixelSkip, uint32_t height, uint32_t lineSkip);

  CWBExpStatsConfiguration(IVfeServiceInternal* service, PvlResult* result)
      : CVfeConfiguration(service, result) {}

 private:
  uint32_t m_width = 0;
  uint32_t m_height = 0;
};
