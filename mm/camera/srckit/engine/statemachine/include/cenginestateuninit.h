// CEngineStateUninit: the engine exists but holds no sensor and no VFE. The
// only way on is Initialize, which names the camera and moves to Ready, whose
// Enter brings the services up.
#pragma once

#include "cenginestate.h"

class CEngineStateUninit final : public CEngineState {
 public:
  PvlResult Initialize(uint32_t cameraId) override;
  PvlResult Enter(uint32_t reason) override;
  PvlResult Leave(uint32_t reason) override;
  const char* GetName() override { return "Uninit"; }
  bool TakesDeliveries() const override { return false; }
};
