// CEngineStateInvalid: where the machine starts and where a fatal error ends
// it. It accepts no event; the engine must be created again to recover.
#pragma once

#include "cenginestate.h"

class CEngineStateInvalid final : public CEngineState {
 public:
  PvlResult Enter(uint32_t reason) override;
  PvlResult Leave(uint32_t reason) override;
  const char* GetName() override { return "Invalid"; }
  bool TakesDeliveries() const override { return false; }
};
