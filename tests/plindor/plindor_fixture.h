// Common set-up of the platform library's tests: a board at power-on, empty
// records and a debug-output capture.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board_sim.h"
#include "chipset_sim.h"
#include "image_copy.h"
#include "plindor.h"
#include "wince_sim.h"

class PlindorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BoardSimReset();
    ChipSimClearCalls();
    ChipSimClearMessages();
    CeSimClearFaults();
  }
  void TearDown() override { CeSimClearFaults(); }

  static volatile uint8_t* Shared() {
    return static_cast<volatile uint8_t*>(get_virtual_address(CAMERA_SHARED_STATUS_PHYS, CAMERA_SHARED_STATUS_SIZE));
  }
  static void SetShared(uint32_t offset, uint32_t value) { chip_reg_write32(Shared() + offset, value); }
  static uint32_t GetShared(uint32_t offset) { return chip_reg_read32(Shared() + offset); }
  static std::vector<ChipSimCall> CallsNamed(const std::string& name) {
    std::vector<ChipSimCall> out;
    for (const ChipSimCall& c : ChipSimCalls())
      if (c.name == name) out.push_back(c);
    return out;
  }
  static std::vector<std::string> CallNames() {
    std::vector<std::string> out;
    for (const ChipSimCall& c : ChipSimCalls()) out.push_back(c.name);
    return out;
  }

  camera::test::DebugCapture capture_;
};
