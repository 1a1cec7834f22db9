// Actuator control of the S5K3E2FX focus driver: homing, the five-part lens
// move with its settling pauses, and the actuator's register writes. See
// sensorafdriver_s5k3e2fx.h.
#include <string.h>

#include "plindor.h"
#include "pvllog.h"
#include "sensorafdriver_s5k3e2fx.h"

namespace {

constexpr uint16_t kRegEnableA = 0x3146;
constexpr uint16_t kRegEnableB = 0x3130;
constexpr uint16_t kRegCodeHigh = 0x3131;
constexpr uint16_t kRegCodeLow = 0x3132;
constexpr int32_t kCodesPerStep = 27;
constexpr int kSubMoves = 5;
constexpr int32_t kMaxCode = 1023;
// A single step settles faster than a longer travel.
constexpr uint32_t kShortSettleMicroseconds = 4000;
constexpr uint32_t kLongSettleMicroseconds = 6000;
constexpr int kTries = 3;

uint32_t s_initialised;
int16_t s_position;
CameraSensorI2C_Command s_bus;

// Rounds half away from zero on the side of the whole move.
int32_t RoundOnSide(float x, bool negative) { return int32_t(negative ? x - 0.5f : x + 0.5f); }

bool WriteCode(int32_t code) {
  return S5K3E2FX_AF_I2CWrite(kRegCodeHigh, uint8_t((code >> 8) & 0x03)) &&
         S5K3E2FX_AF_I2CWrite(kRegCodeLow, uint8_t(code & 0xFF));
}

// The sensor's power-up parks the lens at home and its reset clears the
// actuator's enable, which only a sensor mode sets again: a move asked for
// before that (a focus step set ahead of the preview) enables it first and
// counts from home, where the lens is and where the engine counts from.
bool EnsureEnabled() {
  uint8_t value = 0;
  s_bus.busMode = 0;
  s_bus.slaveAddress = 0x20;
  s_bus.flags = 0x22;
  s_bus.registerAddress = kRegEnableB;
  s_bus.data = &value;
  s_bus.length = 1;
  bool read = false;
  for (int i = 0; i < kTries && !read; ++i) read = CameraSensorI2C_Read(&s_bus) != 0;
  if (read && value == 0x03) return true;
  if (!S5K3E2FX_AF_I2CWrite(kRegEnableA, 0x80) || !S5K3E2FX_AF_I2CWrite(kRegEnableB, 0x03)) return false;
  s_initialised = 1;
  if (!WriteCode(0)) return false;
  s_position = 0;
  return true;
}

}  // namespace

int16_t S5K3E2FX_AF_LensPosition() { return s_position; }
bool S5K3E2FX_AF_Initialised() { return s_initialised != 0; }

bool S5K3E2FX_AF_I2CWrite(uint16_t reg, uint8_t value) {
  uint8_t byte = value;
  s_bus.busMode = 0;
  s_bus.slaveAddress = 0x20;
  s_bus.flags = 0x22;
  s_bus.registerAddress = reg;
  s_bus.data = &byte;
  s_bus.length = 1;
  for (int i = 0; i < kTries; ++i)
    if (CameraSensorI2C_Write(&s_bus)) return true;
  CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "I2C write failed with register = %x, value = %x", reg, value);
  return false;
}

S5K3E2FXAFMoveResult S5K3E2FX_AF_Move(int32_t direction, int32_t steps) {
  int32_t perStep;
  if (direction == 1)
    perStep = kCodesPerStep;
  else if (direction == 2)
    perStep = -kCodesPerStep;
  else
    return S5K3E2FX_AF_NO_DIRECTION;
  if (!EnsureEnabled()) return S5K3E2FX_AF_BUS_FAILED;
  double total = double(steps) * perStep;
  float sub = float(total / kSubMoves);
  bool negative = total < 0;
  uint32_t settle = steps < 2 ? kShortSettleMicroseconds : kLongSettleMicroseconds;
  for (int i = 0; i < kSubMoves; ++i) {
    int32_t move = RoundOnSide(float(i + 1) * sub, negative) - RoundOnSide(float(i) * sub, negative);
    int32_t target = int32_t(s_position) + move;
    if (target < 0) target = 0;
    if (target > kMaxCode) target = kMaxCode;
    if (!WriteCode(target)) return S5K3E2FX_AF_BUS_FAILED;
    s_position = int16_t(target);
    Plindor_WaitMicroSeconds(settle);
  }
  return S5K3E2FX_AF_MOVED;
}

PvlResult S5K3E2FX_AF_Focus(S5K3E2FXAFDriver* driver, const void* input, uint32_t inputSize, void* output,
                            uint32_t outputSize, uint32_t* outputLength) {
  if (!driver) return PVL_E_NULLPTR;
  PvlResult result = PVL_OK;
  if (input) {
    if (inputSize != sizeof(SensorFocusRecord)) return PVL_E_BADARG;
    SensorFocusRecord request;
    memcpy(&request, input, sizeof request);
    if (request.bResetFocus.value == 1) {
      if (!s_initialised) {
        if (!S5K3E2FX_AF_I2CWrite(kRegEnableA, 0x80) || !S5K3E2FX_AF_I2CWrite(kRegEnableB, 0x03))
          return PVL_E_FAIL;
        s_initialised = 1;
      }
      if (WriteCode(0))
        s_position = 0;
      else
        result = PVL_E_FAIL;
    } else if (S5K3E2FX_AF_Move(request.focusDirection, request.nFocusSteps) == S5K3E2FX_AF_BUS_FAILED) {
      result = PVL_E_FAIL;
    }
    driver->lastFocus = request;
  }
  if (outputLength) *outputLength = sizeof(SensorFocusRecord);
  if (result != PVL_OK) return result;
  if (!output) return input ? PVL_OK : PVL_E_BADARG;
  if (outputSize != sizeof(SensorFocusRecord)) return PVL_E_BADARG;
  memcpy(output, &driver->lastFocus, sizeof driver->lastFocus);
  return PVL_OK;
}
