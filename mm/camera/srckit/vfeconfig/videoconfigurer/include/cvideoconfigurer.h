// The video configurer: switches the outputs to their video mode, resets the
// VFE and programs every block in order, then records the operation mode the
// next start uses. Only while the service is Idle (its reset answers 13
// otherwise).
#pragma once

#include "vfeconfigurer.h"

class CVideoConfigurer final : public CVfeConfigurer {
 public:
  static PvlResult Create(IVfeServiceInternal* service, IConfigCommand** out) {
    return CreateAs<CVideoConfigurer>(service, out);
  }
  PvlResult ConfigureCore() override;
  PvlResult ConfigureOutputs() override;

  CVideoConfigurer(IVfeServiceInternal* service, PvlResult* result) : CVfeConfigurer(service, result) {}
};
