// The update-all configurer: while video runs, reads the settings that drive
// the image blocks, compares them with what it applied last, recomputes the
// crop and scalers and every block whose inputs changed, sends their update
// commands and latches them with one VFE_CMD_UPDATE. The last-applied values
// are shared by every instance for the life of the module.
#pragma once

#include "vfeconfigurer.h"

class CUpdateAllConfigurer final : public CVfeConfigurer {
 public:
  static PvlResult Create(IVfeServiceInternal* service, IConfigCommand** out) {
    return CreateAs<CUpdateAllConfigurer>(service, out);
  }
  PvlResult ConfigureCore() override;
  PvlResult ConfigureOutputs() override { return PVL_E_BADARG; }
  // Back to the values at module load (for tests and a service reload).
  static void ResetLastApplied();

  CUpdateAllConfigurer(IVfeServiceInternal* service, PvlResult* result) : CVfeConfigurer(service, result) {}
};
