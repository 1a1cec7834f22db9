// Output write master: tells the VFE which outputs run and the luma and chroma
// plane sizes each writes, and hands every running output its first buffers
// while it is computed. Sends VFE_CMD_OUTPUT (4) with 48 bytes; no tuning keys;
// fed by the outputs' enables, sizes and buffer pools.
#pragma once

#include "cvfeconfiguration.h"

class COutputConfiguration : public CVfeConfiguration<VfeOutputCmd> {
 public:
  int32_t GetCommandId() override { return VFE_CMD_OUTPUT; }

  // Rebuilds the payload from zero and pre-queues the running outputs.
  PvlResult Configure();

  COutputConfiguration(IVfeServiceInternal* service, PvlResult* result)
      : CVfeConfiguration(service, result) {}

 private:
  static void FillRecord(VfeOutputPathRecord* record, VfeSize size, bool raw);
  static PvlResult PreQueue(IVideoOutputControl* output, VfeOutputPathRecord* record, uint32_t minimum);
};
