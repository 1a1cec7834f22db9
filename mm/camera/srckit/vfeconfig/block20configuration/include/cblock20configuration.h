// Block 20: a fixed set of six flag bytes, switched on only while the output
// serving as OUTPUT2 runs. Sends VFE_CMD_BLOCK20 (20) with 16 bytes; no tuning
// keys; fed only by OUTPUT2's enable.
#pragma once

#include "cvfeconfiguration.h"

class IVfeSettings;

class CBlock20Configuration : public CVfeConfiguration<VfeBlock20Cmd> {
 public:
  int32_t GetCommandId() override { return VFE_CMD_BLOCK20; }
  PvlResult Configure(IVfeSettings* settings);

  CBlock20Configuration(IVfeServiceInternal* service, PvlResult* result)
      : CVfeConfiguration(service, result) {}
};
