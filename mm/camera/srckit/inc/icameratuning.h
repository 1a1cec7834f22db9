// The camera engine's runtime-tuning face, as the tuning server calls it.
#pragma once

#include "pvlbase.h"

#ifndef ZUEUID_CLASS_CAMERA_ENGINE
#define ZUEUID_CLASS_CAMERA_ENGINE 0x01061a6fu
#endif
#ifndef ZUEUID_IFACE_CAMERATUNING
#define ZUEUID_IFACE_CAMERATUNING 0x01080718u
#endif

class ICameraTuning : public IPvlBase {
 public:
  // Unnamed operation of the face: answers 20.
  virtual PvlResult Reserved3(uint32_t argument) = 0;
  // Makes the engine take over the tuning values changed through the registries.
  virtual PvlResult ApplyRuntimeTuningChanges() = 0;

 protected:
  ~ICameraTuning() = default;
};
