// The engine state machine's face for the engine's own parts: the port manager
// stops the engine through it when a still frame cannot be routed.
#pragma once

#include <stdint.h>

#include "pvlbase.h"

class ICameraStateMachine : public IPvlBase {
 public:
  // Runs the machine's Stop event (no arguments) and returns its result.
  virtual PvlResult RaiseStop() = 0;  // 3

 protected:
  ~ICameraStateMachine() = default;
};
