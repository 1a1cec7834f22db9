// Talks to the board's sensor over the platform library's bus the way a test that
// plays the driver needs to: one register written, and the sensor set streaming
// with a fixed exposure. For VFE tests that take frames without the sensor driver.
#pragma once

#include <stdint.h>

#include <gtest/gtest.h>

#include "board_sim.h"
#include "plindor.h"

namespace camera::test {

inline bool SensorWrite(uint16_t reg, uint8_t value) {
  CameraSensorI2C_Command c{};
  c.slaveAddress = kSensorSlave;
  c.flags = 0x22;
  c.data = &value;
  c.registerAddress = reg;
  c.length = 1;
  return CameraSensorI2C_Write(&c) == 1;
}

// 12 ms of exposure at the preview line length (351 lines), gain 1; streaming.
inline void StartSensorStreaming() {
  ASSERT_TRUE(SensorWrite(0x0202, 351 >> 8));
  ASSERT_TRUE(SensorWrite(0x0203, 351 & 0xFF));
  ASSERT_TRUE(SensorWrite(0x0100, 1));
}

}  // namespace camera::test
