// Block 23: no chain computes or sends it; its payload stays zero. The crop
// reads its words at 20 and 22 as a fallback window (size minus one).
// Sends VFE_CMD_BLOCK23 (23) with 56 bytes; no tuning keys, no settings.
#pragma once

#include "cvfeconfiguration.h"

class CBlock23Configuration : public CVfeConfiguration<VfeBlock23Cmd> {
 public:
  int32_t GetCommandId() override { return VFE_CMD_BLOCK23; }

  CBlock23Configuration(IVfeServiceInternal* service, PvlResult* result)
      : CVfeConfiguration(service, result) {}
};
