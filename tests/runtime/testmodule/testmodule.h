// The runtime's test module "Pvltestmod": built with camera_add_module, placed
// in the image's Windows/ with its .mif, for the runtime's and the host's
// loader tests.
#pragma once

#include <stdint.h>

#include "pvlbase.h"

#define TESTMOD_DEVICE_NAME "Pvltestmod"

#define TESTMOD_IFACE_ECHO 0x7e5b0101u
// An echo object.
#define TESTMOD_CLASS_ECHO 0x7e5b0001u
// Creates an echo object through the environment while being created (nested creation).
#define TESTMOD_CLASS_NESTED 0x7e5b0002u
// Listed in the .mif, but the class switch answers 3.
#define TESTMOD_CLASS_LISTED_ONLY 0x7e5b0003u

class ITestModEcho : public IPvlBase {
 public:
  virtual int32_t Echo(int32_t value) = 0;  // 3: returns value
  // 4: the creation argument the class switch received.
  virtual void* CreationArgument() = 0;
  // 5: echo objects of this module alive now.
  virtual int32_t LiveObjects() = 0;
  // 6: builds strings and vectors on the module's heap; returns the length of
  // text repeated `times` times.
  virtual int32_t HeapRoundTrip(const char* text, int32_t times) = 0;
  // 7: the object made during this one's creation (nested class), with a
  // reference, or null.
  virtual ITestModEcho* Inner() = 0;

 protected:
  ~ITestModEcho() = default;
};
