// Powers the board's camera module up the way the sensor driver does: the
// master clock selected, the reset line (GPIO 144) released, and a wait until
// the sensor answers. For tests that talk to the sensor model without a driver.
#pragma once

#include <thread>

#include "board_sensor.h"
#include "board_sim.h"
#include "chipset.h"

namespace camera::test {

inline volatile uint8_t* ResetBankOut() {
  // GPIO 144 is bit 22 of bank 6, whose output register is at offset 20 of the
  // third GPIO window.
  auto* window = static_cast<volatile uint8_t*>(get_virtual_address(kTlmmWindowPhys[2], kTlmmWindowSize));
  return window + 20;
}

inline void SetSensorResetLine(bool high) {
  volatile uint8_t* out = ResetBankOut();
  uint32_t bit = 1u << (kSensorResetGpio - 122);
  uint32_t v = chip_reg_read32(out);
  chip_reg_write32(out, high ? v | bit : v & ~bit);
}

// True once the sensor answers (up to two seconds of real time).
inline bool PowerUpCameraModule(uint32_t mclkHz = kSensorNominalMclkHz) {
  clk_regime_krs_sel_camclk(mclkHz, 0);
  SetSensorResetLine(true);
  for (int i = 0; i < 2000; ++i) {
    if (BoardSensorState().ready) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

}  // namespace camera::test
