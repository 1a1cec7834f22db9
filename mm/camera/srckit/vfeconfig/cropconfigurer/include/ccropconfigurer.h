// The zoom configurer: recomputes the crop window and the three scalers from
// the current crop factor while frames flow, sends their update commands and
// latches them with VFE_CMD_UPDATE.
#pragma once

#include "vfeconfigurer.h"

class CCropConfigurer final : public CVfeConfigurer {
 public:
  static PvlResult Create(IVfeServiceInternal* service, IConfigCommand** out) {
    return CreateAs<CCropConfigurer>(service, out);
  }
  PvlResult ConfigureCore() override;
  PvlResult ConfigureOutputs() override { return PVL_E_UNSUPPORTED; }

  CCropConfigurer(IVfeServiceInternal* service, PvlResult* result) : CVfeConfigurer(service, result) {}
};
