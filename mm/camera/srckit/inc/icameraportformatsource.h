// ICameraPortFormatSource: the engine's enabled output formats, as its state
// machine answers them to the settings views.
#pragma once

#include <stdint.h>

#include "cameraportformat.h"
#include "pvlbase.h"

// Fills at most capacity records and the number enabled.
class ICameraPortFormatSource : public IPvlBase {
 public:
  virtual PvlResult GetEnabledPortFormats(CameraPortFormat* formats, uint32_t capacity, uint32_t* count) = 0;  // 3

 protected:
  ~ICameraPortFormatSource() = default;
};
