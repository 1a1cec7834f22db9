// A test that plays the VFE driver's part against the VFE hardware model:
// clocks through the platform library, registers through the chipset window,
// interrupts on line 70 serviced as the driver's routine does (read status,
// clear it, InterruptDone), frame buffers from contiguous memory. The sensor
// model streams the preview read-out, exposed for the chart's white at ~85 %.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "sensor_bus.h"
#include "board_sensor.h"
#include "board_sim.h"
#include "board_vfe.h"
#include "camera_module_power.h"
#include "chipset.h"
#include "plindor.h"
#include "wince.h"

namespace vfetest {

// One serviced interrupt: the status the routine read and 0x0C4 at that time.
struct Serviced {
  uint32_t status;
  uint32_t pingPong;
};

struct Buffer {
  void* virt = nullptr;
  uint32_t phys = 0;
  uint32_t size = 0;
};

// Output geometry the tests programme: the 1296 x 972 window, its demosaic area
// 1284 x 966, the main scaler to half (642 x 483), OUTPUT1 to 320 x 240.
constexpr uint32_t kWindowW = 1296, kWindowH = 972;
constexpr uint32_t kAreaW = kWindowW - 12, kAreaH = kWindowH - 6;
constexpr uint32_t kMainW = 642, kMainH = 483;
constexpr uint32_t kOut1W = 320, kOut1H = 240;

constexpr uint32_t Bit(uint32_t b) { return 1u << b; }

class VfeModelTest : public ::testing::Test {
 public:
  void SetUp() override {
    BoardSimReset();
    BoardVfeReset();
    BoardSceneSetIlluminant(kIlluminantNeutral);
    ASSERT_EQ(CameraSensorI2C_Init(), 1);
    ASSERT_TRUE(camera::test::PowerUpCameraModule());
    vfe_config_clks_common(1);
    vfe_config_clks_sensor();
    regs_ = static_cast<volatile uint8_t*>(vfe_get_virtual_address());
    ASSERT_NE(regs_, nullptr);
    event_ = CreateEvent(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(event_, nullptr);
    ASSERT_TRUE(InterruptInitialize(kVfeInterrupt, event_, nullptr, 0));
    BoardVfeSetLockStep(true);
    BoardSetSpeedUp(4);
  }

  void TearDown() override {
    SensorWrite(0x0100, 0);
    BoardVfeReset();  // no frame is written after this returns
    InterruptDisable(kVfeInterrupt);
    CloseHandle(event_);
    for (Buffer& b : buffers_) pmem_free(b.virt);
    vfe_unconfig_clks();
    while (CameraSensorI2C_DeInit() == 1 && BoardI2cOpenCount() > 0) {
    }
    BoardSimReset();
  }

  // ---- Registers ----
  uint32_t Read(uint32_t offset) { return chip_reg_read32(regs_ + offset); }
  void Write(uint32_t offset, uint32_t value) { chip_reg_write32(regs_ + offset, value); }

  // ---- Sensor ----
  static bool SensorWrite(uint16_t reg, uint8_t value) { return camera::test::SensorWrite(reg, value); }
  static void StartSensor() { camera::test::StartSensorStreaming(); }

  // ---- Memory ----
  Buffer Allocate(uint32_t size) {
    Buffer b;
    b.size = size;
    b.virt = pmem_malloc(size, 0);
    EXPECT_NE(b.virt, nullptr);
    std::memset(b.virt, 0xEE, size);
    b.phys = pmem_get_phys_addr(b.virt);
    buffers_.push_back(b);
    return b;
  }
  static std::vector<uint8_t> Bytes(const Buffer& b, uint32_t length) {
    const auto* p = static_cast<const uint8_t*>(b.virt);
    return std::vector<uint8_t>(p, p + std::min(length, b.size));
  }
  static bool Untouched(const Buffer& b) {
    const auto* p = static_cast<const uint8_t*>(b.virt);
    for (uint32_t i = 0; i < b.size; ++i)
      if (p[i] != 0xEE) return false;
    return true;
  }

  // ---- Interrupts ----
  // Services interrupts until every bit of `bits` has been seen (or the time-out).
  // `routine`, when given, acts on each status inside the routine, before
  // InterruptDone, where the driver acts.
  uint32_t Service(uint32_t bits, int timeoutMs = 20000, const std::function<void(uint32_t)>& routine = nullptr) {
    uint32_t seen = 0;
    DWORD start = GetTickCount();
    while ((seen & bits) != bits) {
      DWORD elapsed = GetTickCount() - start;
      if (elapsed >= DWORD(timeoutMs)) break;
      if (WaitForSingleObject(event_, DWORD(timeoutMs) - elapsed) != WAIT_OBJECT_0) break;
      uint32_t status = Read(0x020);
      uint32_t pingPong = Read(0x0C4);
      Write(0x01C, status);
      if (status) log_.push_back({status, pingPong});
      seen |= status;
      if (routine) routine(status);
      InterruptDone(kVfeInterrupt);
    }
    return seen;
  }
  // Waits for `count` interrupts carrying `bit`.
  bool ServiceCount(uint32_t bit, int count, int timeoutMs = 30000) {
    DWORD start = GetTickCount();
    while (CountLogged(bit) < count) {
      if (GetTickCount() - start > DWORD(timeoutMs)) return false;
      Service(bit, 2000);
    }
    return true;
  }
  int CountLogged(uint32_t bit) const {
    int n = 0;
    for (const Serviced& s : log_) n += (s.status & bit) != 0;
    return n;
  }

  // ---- Driver sequences ----
  void Reset() {
    Write(0x018, 0);
    Write(0x01C, 0xFFFFFFFF);
    Write(0x018, Bit(9));
    Write(0x004, 0x3FF);
    ASSERT_TRUE(Service(Bit(9)) & Bit(9));
    // The reset defaults.
    Write(0x1B4, 0x00800080);
    Write(0x1B8, 0x00800080);
    Write(0x00C, 0x000FFFFF);
    for (uint32_t r : {0x2CCu, 0x2D0u, 0x2DCu, 0x2E0u}) Write(r, 31);
    for (uint32_t r : {0x2D4u, 0x2D8u, 0x2E4u, 0x2E8u}) Write(r, 0xFFFFFFFF);
    Write(0x2F0, 0);
    Write(0x2EC, 0x00FFFFFF);
    log_.clear();
  }

  // Camera interface, black level, demosaic order, crop and scalers.
  void ConfigurePipeline(uint32_t window = (0u << 16) | (kWindowW - 1), uint32_t lines = (0u << 16) | (kWindowH - 1)) {
    Write(0x120, window);
    Write(0x124, lines);
    Write(0x128, 0xFFFFFFFF);
    for (uint32_t r = 0x194; r <= 0x1A0; r += 4) Write(r, kSensorBlackLevel);
    Write(0x1E0, (0u << 16) | (kAreaW - 1));
    Write(0x1E4, (0u << 16) | (kAreaH - 1));
    Scaler(0x270, 0x274, 0x280, kAreaW, kAreaH, kMainW, kMainH);
    Scaler(0x28C, 0x290, 0x298, kMainW, kMainH, kOut1W, kOut1H);
    Scaler(0x2A0, 0x2A4, 0x2AC, kMainW, kMainH, kOut1W / 2, kOut1H / 2);
  }

  // A scaler's words: both directions on, sizes and steps as the driver packs
  // them (input / output with 12 + N fraction bits, N by the ratio).
  static uint32_t Phase(uint32_t in, uint32_t out) {
    double ratio = double(in) / out;
    uint32_t k = uint32_t(ratio), n = k < 4 ? 3 : k < 8 ? 2 : k < 16 ? 1 : 0;
    return (uint32_t(std::lround(ratio * 4096)) << n) | (n << 20);
  }
  void Scaler(uint32_t base, uint32_t hWord, uint32_t vWord, uint32_t inW, uint32_t inH, uint32_t outW, uint32_t outH) {
    Write(base, 3);
    Write(hWord, inW | (outW << 16));
    Write(hWord + 4, Phase(inW, outW));
    Write(vWord, inH | (outH << 16));
    Write(vWord + 4, Phase(inH, outH));
  }

  // A table through the table port (code + 256 selects, index 0, data words).
  void WriteTable(uint32_t code, const std::vector<uint32_t>& words) {
    Write(0x340, code + 256);
    Write(0x344, 0);
    for (uint32_t w : words) Write(0x34C, w);
    Write(0x340, 256);
  }
  // A gamma table from a curve of the 10-bit input to 0..255: value at every
  // fourth input, signed step to the next in bits 8-15.
  template <class Curve>
  static std::vector<uint32_t> GammaTable(Curve curve) {
    std::vector<uint32_t> t(256);
    for (int i = 0; i < 256; ++i) {
      int v = curve(4 * i), next = i < 255 ? curve(4 * i + 4) : v;
      t[i] = uint32_t(int32_t(int16_t(v | ((next - v) << 8))));
    }
    return t;
  }
  static int Srgb(int x) {
    double v = std::min(1.0, x / 1023.0);
    return int(std::lround(255 * (v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055)));
  }
  // The colour stages the chart needs under the neutral light: the sensor's
  // colour correction (its response inverted; Q7, rows and columns G, B, R)
  // and the sRGB curve on the three gamma channels.
  static constexpr int16_t kSensorCorrection[9] = {169, -21, -20, -43, 177, -6, -29, -7, 164};
  static constexpr uint32_t kColourModules = Bit(9) | Bit(13);
  void ProgramColour() {
    for (int i = 0; i < 9; ++i) Write(0x1E8 + 4 * i, uint32_t(kSensorCorrection[i]) & 0xFFF);
    for (uint32_t r : {0x20Cu, 0x210u, 0x214u, 0x218u}) Write(r, 0);
    ProgramSrgbGamma();
  }
  // The sRGB curve on the three gamma channels (bank 0); module bit 13.
  static constexpr uint32_t kGammaModule = Bit(13);
  void ProgramSrgbGamma() {
    Write(0x220, 0);
    std::vector<uint32_t> gamma = GammaTable(Srgb);
    for (uint32_t code : {2u, 4u, 6u}) WriteTable(code, gamma);
  }

  static constexpr uint32_t Ceil8(uint32_t x) { return (x + 7) / 8; }
  // Write masters of both paths for NV21 (burst divisor 8).
  void ConfigureOutputs() {
    Write(0x058, kOut1H | (Ceil8(kOut1W) << 16));
    Write(0x05C, 1 | (kOut1H << 4) | (Ceil8(kOut1W) << 16));
    Write(0x068, (kOut1H / 2) | (Ceil8(kOut1W) << 16));
    Write(0x06C, 1 | ((kOut1H / 2) << 4) | (Ceil8(kOut1W) << 16));
    Write(0x038, kMainH | (Ceil8(kMainW) << 16));
    Write(0x03C, 1 | (kMainH << 4) | (Ceil8(kMainW) << 16));
    Write(0x048, (kMainH / 2) | (Ceil8(kMainW) << 16));
    Write(0x04C, 1 | ((kMainH / 2) << 4) | (Ceil8(kMainW) << 16));
  }

  // Ping and pong buffers of both NV21 paths.
  struct PathBuffers {
    Buffer y[2], c[2];
  };
  PathBuffers out1_, out2_;
  // The driver's way into a stream: the VFE reset, the pipeline and both
  // outputs configured, and the outputs' buffers armed.
  void PrepareStream() {
    Reset();
    ConfigurePipeline();
    ConfigureOutputs();
    ArmOutputs();
  }
  void ArmOutputs() {
    for (int s = 0; s < 2; ++s) {
      out1_.y[s] = Allocate(kOut1W * kOut1H);
      out1_.c[s] = Allocate(kOut1W * (kOut1H / 2));
      out2_.y[s] = Allocate(kMainW * kMainH);
      out2_.c[s] = Allocate(kMainW * (kMainH / 2));
    }
    Write(0x050, out1_.y[0].phys);
    Write(0x054, out1_.y[1].phys);
    Write(0x060, out1_.c[0].phys);
    Write(0x064, out1_.c[1].phys);
    Write(0x030, out2_.y[0].phys);
    Write(0x034, out2_.y[1].phys);
    Write(0x040, out2_.c[0].phys);
    Write(0x044, out2_.c[1].phys);
  }

  // START: module enables, output control, mask, write masters, update (idle:
  // acknowledged at once), start control, camera interface.
  void Start(uint32_t outputControl, uint32_t moduleEnables, uint32_t mask, uint32_t startControl = Bit(4)) {
    Write(0x010, moduleEnables);
    Write(0x02C, outputControl);
    Write(0x014, kSensorVfePixelOrder);
    Write(0x01C, 0xFFFFFFFF);
    Write(0x018, mask);
    Write(0x0CC, (outputControl >> 4) & 0xF);
    Write(0x0C8, 1);
    Write(0x190, 1);
    Write(0x028, startControl);
    Write(0x110, 4);
    Write(0x110, 1);
  }

  static constexpr uint32_t kModules = Bit(0) | Bit(2) | Bit(4) | Bit(7) | Bit(18) | Bit(19);
  static constexpr uint32_t kBothPaths = 0xF0;
  static constexpr uint32_t kFrameMask = Bit(0) | Bit(1) | Bit(8) | Bit(9) | Bit(15) | Bit(16) | Bit(18) | Bit(19) | Bit(20);

  volatile uint8_t* regs_ = nullptr;
  HANDLE event_ = nullptr;
  std::vector<Buffer> buffers_;
  std::vector<Serviced> log_;
};

}  // namespace vfetest
