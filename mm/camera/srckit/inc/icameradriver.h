// ICameraDriver: the one interface of every camera hardware driver (sensor,
// lens actuator, flash LED, VFE). Its owner sends numbered commands, each with
// an input record and an output record whose sizes the handler checks exactly;
// the records themselves live beside the commands (sensorconfigrecords.h,
// flashconfigrecords.h, csensorinfo.h).
#pragma once

#include <stdint.h>

#include "pvlbase.h"

#define ZUEUID_IFACE_CAMERA_DRIVER 0x01056898u

// Driver classes of the sensor module Senvar.
#define ZUEUID_CLASS_S5K3E2FX_SENSOR_DRIVER 0x0108aed0u
#define ZUEUID_CLASS_S5K3E2FX_AF_DRIVER 0x0108aecfu
#define ZUEUID_CLASS_WHITE_LED_FLASH_DRIVER 0x0106c427u
// ZUEUID_CLASS_S5K3E2FX_TUNING_DATA (0x0108aece) is in tuningdataprovider.h.
// The VFE driver of Corvane; its commands and records are in vfedriver.h.
#define ZUEUID_CLASS_VFE_DRIVER 0x0106193cu

// Results the drivers answer besides 0: 1 a hardware step failed (I2C, GPIO,
// clock, power, LED), 2 out of memory, 3 class or interface not supported,
// 14 wrong record size or value, 20 command not supported, 29 null argument.

// Slots in order. Every operation answers 29 when the driver object behind the
// interface is missing.
class ICameraDriver : public IPvlBase {
 public:
  // QueryInterface: ZUEUID_IFACE_BASE and ZUEUID_IFACE_CAMERA_DRIVER give the
  // driver with one reference; anything else clears *out and answers 3.

  // No driver offers the optional operations: after the argument check (29 for
  // a null length, or a null buffer of non-zero size) the length becomes 0 and
  // the answer is 20. The VFE driver answers 20 at once and writes nothing.
  virtual PvlResult OptionalQueryA(void* buffer, uint32_t bufferSize, uint32_t* length) = 0;  // 3
  virtual PvlResult OptionalSetA(void* value) = 0;                                            // 4: 29 null, else 20
  virtual PvlResult OptionalQueryB(void* buffer, uint32_t bufferSize, uint32_t* length) = 0;  // 5
  virtual PvlResult OptionalSetB(void* value) = 0;                                            // 6
  // The working entry. 29 for a null input of non-zero size, a null output of
  // non-zero size, or an output without an output-length pointer; then the
  // handler of the command checks its sizes (14) or answers 20 for a command it
  // does not know. A null output of size 0 with a length pointer is a size query.
  // The VFE driver writes the replies of its reading commands into the input.
  virtual PvlResult Command(uint32_t command, void* input, uint32_t inputSize, void* output, uint32_t outputSize,
                            uint32_t* outputLength) = 0;  // 7
  // Brings the device to rest.
  virtual PvlResult Stop() = 0;  // 8

 protected:
  ~ICameraDriver() = default;
};

// The argument rule of Command shared by every driver, before any handler runs.
inline bool CameraDriverCommandArgumentsValid(const void* input, uint32_t inputSize, const void* output,
                                              uint32_t outputSize, const uint32_t* outputLength) {
  if (!input && inputSize != 0) return false;
  if (!output && outputSize != 0) return false;
  if (output && !outputLength) return false;
  return true;
}

// The argument rule of the optional query operations.
inline bool CameraDriverQueryArgumentsValid(const void* buffer, uint32_t bufferSize, const uint32_t* length) {
  return length && (buffer || bufferSize == 0);
}
