// Chroma suppression: fades colour out in near-black and near-white pixels
// and in faint chroma, where sensor noise and clipping would otherwise show
// as coloured speckle. The thresholds come from a normal-light and a
// low-light tuning table blended by the low-light trigger (settings slots
// 24, 29); each pair goes out as a start and a power-of-two width. Sends
// VFE_CMD_CHROMA_SUPP (16), or VFE_CMD_CHROMA_SUPP_UPDATE (37) while frames
// flow, with 7 bytes. Keys "ChromaSupp-Enable", "ChromaSupp-ControlEnable"
// and the six threshold bytes.
#pragma once

#include "cvfeconfiguration.h"
#include "cvfetuning.h"
#include "tuningblock.h"

class IVfeSettings;

class CChromaSuppConfiguration : public CVfeSwitchedConfiguration<VfeChromaSuppCmd> {
 public:
  int32_t GetCommandId() override { return VFE_CMD_CHROMA_SUPP; }

  PvlResult Configure(IVfeSettings* settings, VfeChain chain);
  PvlResult SendUpdate();

  // 2 to the power floor(log2(x) + 0.5), kept to 8 bits (0 for 0 and for 182 up).
  static uint8_t RoundToPowerOfTwo(uint8_t x);

  CChromaSuppConfiguration(IVfeServiceInternal* service, PvlResult* result);

 private:
  void Reset();
};
