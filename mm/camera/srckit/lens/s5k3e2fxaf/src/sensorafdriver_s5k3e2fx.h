// The S5K3E2FX's focus actuator driver. The lens is moved by a 10-bit voice-coil
// actuator programmed through the sensor's own I2C address (0x3131 holds bits
// 9-8 of the lens code, 0x3132 bits 7-0; 0x3146 = 0x80 and 0x3130 = 0x03
// enable it). Only the sensor driver creates it and forwards
// ZUEUID_SENSOR_CMD_FOCUS to it, so the lens moves when the sensor service
// applies the focus configuration: a reset homes the lens to code 0, a move
// goes 27 codes per step in direction 1 (up) or 2 (down), split into five
// sub-moves with a settling pause after each so that the lens never jumps.
//
// The lens position and the enable are module-wide: they outlive driver
// objects. A sensor power-up parks the lens at home and its reset disables
// the actuator; a move that finds it so enables it and counts from home.
#pragma once

#include <stdint.h>

#include "icameradriver.h"
#include "ienv.h"
#include "senvarobject.h"
#include "sensorconfigrecords.h"

// The last Release leaves the lens where it is and the module-wide state as it is.
struct S5K3E2FXAFDriver final : SenvarDriver<S5K3E2FXAFDriver> {
  PvlResult Execute(uint32_t command, void* input, uint32_t inputSize, void* output, uint32_t outputSize,
                    uint32_t* outputLength);
  PvlResult Stop() override;

  SensorFocusRecord lastFocus;  // the last record applied (zero until then)
};

PvlResult S5K3E2FX_AF_CreateInstance(IEnv* env, ZUEUID clsid, void* argument, void** out);

// Actuator control (camerasensoraf_s5k3e2fx.cpp).
enum S5K3E2FXAFMoveResult {
  S5K3E2FX_AF_MOVED,
  S5K3E2FX_AF_NO_DIRECTION,  // neither direction: nothing written
  S5K3E2FX_AF_BUS_FAILED,
};
PvlResult S5K3E2FX_AF_Focus(S5K3E2FXAFDriver* driver, const void* input, uint32_t inputSize, void* output,
                            uint32_t outputSize, uint32_t* outputLength);
S5K3E2FXAFMoveResult S5K3E2FX_AF_Move(int32_t direction, int32_t steps);
bool S5K3E2FX_AF_I2CWrite(uint16_t reg, uint8_t value);
// The module-wide lens code (0..1023) and the actuator's enable state.
int16_t S5K3E2FX_AF_LensPosition();
bool S5K3E2FX_AF_Initialised();
