// Frame drop: a repeating keep/drop pattern per video output, so that an
// output asking for a longer frame interval than the sensor delivers gets
// about the right number of frames; snapshots keep all and clear single or
// leading frames. Sends VFE_CMD_FRAME_DROP (21) with 16 bytes; no tuning keys;
// fed by the sensor's frame interval (settings slot 18) and the outputs'.
#pragma once

#include "cvfeconfiguration.h"

class IVfeSettings;

class CFrameDropConfiguration : public CVfeConfiguration<VfeFrameDropCmd> {
 public:
  int32_t GetCommandId() override { return VFE_CMD_FRAME_DROP; }

  // Keep every frame, period 31.
  PvlResult Reset();
  // 14 for a bit of 32 or more (pattern unchanged).
  static PvlResult DropFrame(uint32_t* pattern, uint32_t n);
  static PvlResult DropLeadingFrames(uint32_t* pattern, uint32_t n);
  // The video patterns from the sensor's and the outputs' frame intervals.
  PvlResult ConfigureVideo(IVfeSettings* settings);
  // The keep pattern for d frames dropped of every 30 (d clamped to 0-30).
  static uint32_t PatternFor(uint32_t drops);

  CFrameDropConfiguration(IVfeServiceInternal* service, PvlResult* result)
      : CVfeConfiguration(service, result) {}
};
