// Block 22: the output clamp, fixed at the full 0-255 range. Sends
// VFE_CMD_BLOCK22 (22) with 6 bytes; no tuning keys, no settings.
#pragma once

#include "cvfeconfiguration.h"

class CBlock22Configuration : public CVfeConfiguration<VfeBlock22Cmd> {
 public:
  int32_t GetCommandId() override { return VFE_CMD_BLOCK22; }
  PvlResult Configure();

  CBlock22Configuration(IVfeServiceInternal* service, PvlResult* result)
      : CVfeConfiguration(service, result) {}
};
