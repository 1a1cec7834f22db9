// Common set-up of the camera module's tests: a board at power-on reached the
// way the drivers reach it, through the platform library's bus, line and clock
// calls.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <list>
#include <mutex>
#include <utility>
#include <vector>

#include "board_led.h"
#include "board_sensor.h"
#include "board_sim.h"
#include "chipset_sim.h"
#include "plindor.h"

class CameraModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BoardSimReset();
    ASSERT_EQ(CameraSensorI2C_Init(), 1);
  }
  void TearDown() override {
    for (int id : listeners_) BoardSensorRemoveFrameListener(id);
    while (CameraSensorI2C_DeInit() == 1 && BoardI2cOpenCount() > 0) {
    }
    CameraSensorCLK_ConfigMclk(0, CAMERA_MCLK_ARG);
    BoardSimReset();
  }

  // The sensor driver's power-up: clock, wait, reset released, wait.
  static void PowerUp(uint32_t mclkHz = kSensorNominalMclkHz) {
    CameraSensorCLK_ConfigMclk(mclkHz, CAMERA_MCLK_ARG);
    Plindor_WaitMicroSeconds(10000);
    CameraSensorGPIO_Out(CAMERA_GPIO_KIND_RESET, 1);
    Plindor_WaitMicroSeconds(10000);
  }

  static CameraSensorI2C_Command Command(uint16_t reg, void* data, uint16_t length) {
    CameraSensorI2C_Command c{};
    c.slaveAddress = kSensorSlave;
    c.flags = 0x22;
    c.data = data;
    c.registerAddress = reg;
    c.length = length;
    return c;
  }
  static bool Write8(uint16_t reg, uint8_t value) {
    CameraSensorI2C_Command c = Command(reg, &value, 1);
    return CameraSensorI2C_Write(&c) == 1;
  }
  // High byte first, to the lower address, one byte per transfer as the driver does.
  static bool Write16(uint16_t reg, uint16_t value) {
    return Write8(reg, uint8_t(value >> 8)) && Write8(uint16_t(reg + 1), uint8_t(value));
  }
  static bool Read16(uint16_t reg, uint16_t* value) {
    uint8_t b[2] = {};
    CameraSensorI2C_Command c = Command(reg, b, 2);
    if (CameraSensorI2C_Read(&c) != 1) return false;
    *value = uint16_t(b[0] << 8 | b[1]);
    return true;
  }
  static bool Program(std::initializer_list<std::pair<uint16_t, uint8_t>> writes) {
    for (const auto& w : writes)
      if (!Write8(w.first, w.second)) return false;
    return true;
  }
  // The full-resolution mode's size, frame length and read-out.
  static bool ProgramFull() {
    return Program({{0x034C, 0x0A}, {0x034D, 0x30}, {0x034E, 0x07}, {0x034F, 0xA8}, {0x0387, 0x01},
                    {0x3014, 0x00}, {0x0340, 0x07}, {0x0341, 0xB6}});
  }
  // Board time of the last transfer to `reg` in the bus log.
  static int64_t TransferTime(uint16_t reg) {
    int64_t t = -1;
    for (const BoardI2cTransfer& x : BoardI2cTransfers())
      if (x.reg == reg) t = x.timeNs;
    return t;
  }

  // Collects the settings of every frame as it starts.
  struct FrameRecorder {
    std::mutex lock;
    std::vector<BoardFrameInfo> frames;
    std::vector<BoardFrameInfo> Take() {
      std::lock_guard<std::mutex> g(lock);
      return frames;
    }
  };
  // A recorder that lives until the fixture's tear-down has removed its listener.
  FrameRecorder* Recorder() {
    recorders_.emplace_back();
    FrameRecorder* recorder = &recorders_.back();
    listeners_.push_back(BoardSensorAddFrameListener(
        [](void* context, const BoardFrameEvent& e) {
          if (e.kind != kBoardStartOfFrame) return;
          BoardFrameInfo f;
          if (!BoardSensorFrame(e.frame, &f)) return;
          auto* r = static_cast<FrameRecorder*>(context);
          std::lock_guard<std::mutex> g(r->lock);
          r->frames.push_back(f);
        },
        recorder));
    return recorder;
  }

  // Waits for the end of `count` more frames (generous real time-out).
  static bool WaitFrames(uint32_t count) {
    return BoardSensorWaitFrameEnd(BoardSensorState().frames + count, 20000);
  }

  std::vector<int> listeners_;
  std::list<FrameRecorder> recorders_;
};
