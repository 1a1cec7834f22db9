// Common set-up of the VFE driver tests: the board with its VFE hardware model
// in lock-step (one interrupt at a time, the model waits for the driver's
// routine), the sensor model powered but not streaming until a test starts it,
// a host environment, and one driver object made through its class entry. The
// helpers send commands with hand-built payloads and read the driver's rings.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "sensor_bus.h"
#include "board_sensor.h"
#include "board_sim.h"
#include "board_vfe.h"
#include "camera_module_power.h"
#include "chipset.h"
#include "chipset_sim.h"
#include "ienv.h"
#include "orbhost_test.h"
#include "plindor.h"
#include "vfedriver.h"
#include "vfedriverobject.h"
#include "vfepreviewpipeline.h"
#include "wince.h"

namespace vfedrivertest {

// Table cases print as their names.
template <class Case, class = decltype(std::declval<const Case&>().name)>
std::ostream& operator<<(std::ostream& os, const Case& c) {
  return os << c.name;
}

struct Buffer {
  void* virt = nullptr;
  uint32_t phys = 0;
  uint32_t size = 0;
};

// The preview read-out, its demosaic area, the main scaler to half and
// OUTPUT1 at 320 x 240 (NV21 planes).
using namespace vfepipeline;

class VfeDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BoardSimReset();
    BoardVfeReset();
    BoardSceneSetIlluminant(kIlluminantNeutral);
    ASSERT_EQ(CameraSensorI2C_Init(), 1);
    ASSERT_TRUE(camera::test::PowerUpCameraModule());
    ASSERT_EQ(PVL_OK, env_env_CreateInstance(ZUEUID_CLASS_ENV, reinterpret_cast<void**>(&env_)));
    BoardVfeSetLockStep(true);
    BoardSetSpeedUp(4);
    void* out = nullptr;
    ASSERT_EQ(PVL_OK, VfeDriver_CreateInstance(env_, ZUEUID_CLASS_VFE_DRIVER, nullptr, &out));
    drv_ = static_cast<ICameraDriver*>(out);
    regs_ = static_cast<volatile uint8_t*>(vfe_get_virtual_address());
  }

  void TearDown() override {
    BoardVfeSetLockStep(false);
    SensorWrite(0x0100, 0);
    if (drv_) {
      drv_->Stop();
      drv_->Release();
      drv_ = nullptr;
    }
    BoardVfeReset();  // no frame is written after this returns
    for (Buffer& b : buffers_) pmem_free(b.virt);
    while (CameraSensorI2C_DeInit() == 1 && BoardI2cOpenCount() > 0) {
    }
    BoardSimReset();
    if (env_) env_->Release();
  }

  // ---- Commands ----
  PvlResult Cmd(uint32_t id) { return drv_->Command(id, nullptr, 0, nullptr, 0, nullptr); }
  template <class T>
  PvlResult Cmd(uint32_t id, T& record) {
    return drv_->Command(id, &record, sizeof record, nullptr, 0, nullptr);
  }
  PvlResult Start(uint32_t snapshot = 0, uint8_t frames = 0) {
    VfeOperationMode m{};
    m.snapshot = snapshot;
    m.snapshotFrames = frames;
    m.pixelOrder = kSensorVfePixelOrder;
    return Cmd(VFE_CMD_START, m);
  }
  const VfeDriverState& State() const { return VfeDriverStateForTest(); }

  // ---- Messages ----
  PvlResult Read(uint32_t ring, VfeMessage* m) {
    return Cmd(ring == 1 ? VFE_CMD_READ_MESSAGE : VFE_CMD_READ_MESSAGE2, *m);
  }
  std::vector<VfeMessage> Drain(uint32_t ring) {
    std::vector<VfeMessage> out;
    VfeMessage m;
    while (Read(ring, &m) == PVL_OK) out.push_back(m);
    return out;
  }
  // Reads ring 1 (keeping every message in seen_) until `id` arrives.
  bool WaitFor(uint32_t id, int timeoutMs = 20000, uint32_t ring = 1) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
      VfeMessage m;
      while (Read(ring, &m) == PVL_OK) {
        seen_.push_back(m);
        if (m.id == id) return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }
  std::vector<uint32_t> SeenIds() const {
    std::vector<uint32_t> ids;
    for (const VfeMessage& m : seen_) ids.push_back(m.id);
    return ids;
  }

  // ---- Registers and interrupts ----
  uint32_t Reg(uint32_t offset) { return chip_reg_read32(regs_ + offset); }
  void SetReg(uint32_t offset, uint32_t value) { chip_reg_write32(regs_ + offset, value); }
  // Raises status bits and returns once the driver's routine has handled them
  // (the routine clears the status first and holds the driver lock throughout,
  // so a command after the clear waits for its end).
  void RaiseAndWait(uint32_t bits) {
    BoardVfeRaiseStatus(bits);
    for (int i = 0; i < 20000 && (Reg(0x020) & bits); ++i) std::this_thread::sleep_for(std::chrono::microseconds(100));
    VfeOutputQuery q;
    Cmd(VFE_CMD_QUERY_OUTPUT, q);
  }

  // ---- Sensor ----
  static bool SensorWrite(uint16_t reg, uint8_t value) { return camera::test::SensorWrite(reg, value); }
  static void StartSensor() { camera::test::StartSensorStreaming(); }

  // ---- Buffers ----
  Buffer Allocate(uint32_t size) {
    Buffer b;
    b.size = size;
    b.virt = pmem_malloc(size, 0);
    EXPECT_NE(b.virt, nullptr);
    if (b.virt) std::memset(b.virt, 0xEE, size);
    b.phys = pmem_get_phys_addr(b.virt);
    buffers_.push_back(b);
    return b;
  }
  static bool Untouched(const Buffer& b) {
    const auto* p = static_cast<const uint8_t*>(b.virt);
    for (uint32_t i = 0; i < b.size; ++i)
      if (p[i] != 0xEE) return false;
    return true;
  }
  // An NV21 frame buffer of the path's size, as a ring entry.
  struct Frame {
    Buffer y, c;
    VfeBufferEntry entry{};
  };
  Frame NewFrame(uint32_t path) {
    uint32_t w = path == 0 ? kOut1W : kMainW, h = path == 0 ? kOut1H : kMainH;
    Frame f;
    f.y = Allocate(w * h);
    f.c = Allocate(w * (h / 2));
    f.entry.luma[0] = f.y.phys;
    f.entry.chroma[0] = f.c.phys;
    return f;
  }
  PvlResult Queue(uint32_t path, const std::vector<VfeBufferEntry>& entries) {
    VfeAckOutputCmd a{};
    a.count = uint8_t(entries.size());
    a.entries = entries.data();
    return Cmd(path == 0 ? VFE_CMD_ACK_OUTPUT_MODE1 : VFE_CMD_ACK_OUTPUT, a);
  }
  PvlResult Queue(uint32_t path, const Frame& f) { return Queue(path, std::vector<VfeBufferEntry>{f.entry}); }

  // ---- Pipeline ----
  // Camera interface on the whole read-out, black level, demosaic, crop, main
  // scaler to half, OUTPUT1 scalers to 320 x 240, and the output mode.
  void ConfigurePipeline(uint32_t outputMode) {
    vfepipeline::SendPreview(
        [this](uint32_t id, void* record, uint32_t size) {
          return drv_->Command(id, record, size, nullptr, 0, nullptr);
        },
        outputMode);
  }

  IEnv* env_ = nullptr;
  ICameraDriver* drv_ = nullptr;
  volatile uint8_t* regs_ = nullptr;
  std::vector<Buffer> buffers_;
  std::vector<VfeMessage> seen_;
};

}  // namespace vfedrivertest
