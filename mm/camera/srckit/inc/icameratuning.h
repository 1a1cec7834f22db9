// The camera engine's runtime-tuning face, as the tuning server calls it.
#pragma once

#include "icameraengine.h"  // the engine's class
#include "pvlbase.h"

#define ZUEUID_IFACE_CAMERATUNING 0x01080718u

class ICameraTuning : public IPvlBase {
 public:
  // Unnamed operation of the face: answers 20.
  virtual PvlResult Reserved3(uint32_t argument) = 0;
  // Makes the engine take over the tuning values changed through the registries.
  virtual PvlResult ApplyRuntimeTuningChanges() = 0;

 protected:
  ~ICameraTuning() = default;
};
