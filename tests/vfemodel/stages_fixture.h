// Set-up shared by the tests of the model's Bayer, luma and statistics stages:
// blocks are programmed from hand-built payloads through the VFE driver's own
// register writers (the same words the driver writes for each command), and
// one frame's OUTPUT2 luma and statistics are copied inside the interrupt
// routine, where the driver reads them. OUTPUT2 carries the crop unscaled so
// that every sample of the stages can be looked at.
#pragma once

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "vfe_driver_fixture.h"
#include "vfedriverstate.h"

namespace vfetest {

// Table cases print as their names.
template <class Case, class = decltype(std::declval<const Case&>().name)>
std::ostream& operator<<(std::ostream& os, const Case& c) {
  return os << c.name;
}

// A payload built field by field at its byte offsets (little-endian).
struct Payload {
  std::vector<uint8_t> bytes;
  explicit Payload(size_t size) : bytes(size, 0) {}
  Payload& U8(size_t at, uint32_t v) {
    bytes[at] = uint8_t(v);
    return *this;
  }
  Payload& U16(size_t at, int32_t v) {
    bytes[at] = uint8_t(v);
    bytes[at + 1] = uint8_t(uint32_t(v) >> 8);
    return *this;
  }
  const uint8_t* data() const { return bytes.data(); }
};

// One frame as the driver's routine sees it.
struct Captured {
  std::vector<uint8_t> y;      // OUTPUT2 luma, kAreaW x kAreaH
  std::vector<uint8_t> chroma; // OUTPUT2 Cr, Cb pairs, kAreaW x kAreaH / 2
  std::vector<uint32_t> af;    // AF statistics words
  std::vector<uint32_t> wb;    // WB/exposure statistics words
  uint32_t sensorFrame = 0;
};

class StagesTest : public VfeModelTest {
 public:
  static constexpr uint32_t kWbBytes = 4 + 256 * 32;
  static constexpr uint32_t kAfBytes = ((kWindowH - 1) / 2 + 1) * 4;
  static constexpr uint32_t kModuleDemosaic = Bit(4), kModuleRolloff = Bit(1), kModuleAsf = Bit(15);
  // Black level, demosaic, statistics and gamma (the sRGB curve: the pictures
  // are judged through it); no scaler.
  static constexpr uint32_t kBaseModules = Bit(0) | Bit(2) | Bit(4) | Bit(5) | kGammaModule;

  void SetUp() override {
    VfeModelTest::SetUp();
    VfeMapRegisters();
    Reset();
    // Camera interface on the whole read-out, black level, crop = demosaic area.
    Write(0x120, kWindowW - 1);
    Write(0x124, kWindowH - 1);
    Write(0x128, 0xFFFFFFFF);
    for (uint32_t r = 0x194; r <= 0x1A0; r += 4) Write(r, kSensorBlackLevel);
    SetCrop(0, 0, kAreaW, kAreaH);
    // OUTPUT2 luma and chroma unscaled.
    Write(0x038, kAreaH | (Ceil8(kAreaW) << 16));
    Write(0x03C, 1 | (kAreaH << 4) | (Ceil8(kAreaW) << 16));
    Write(0x048, (kAreaH / 2) | (Ceil8(kAreaW) << 16));
    Write(0x04C, 1 | ((kAreaH / 2) << 4) | (Ceil8(kAreaW) << 16));
    y_ = Allocate(kAreaW * kAreaH);
    c_ = Allocate(kAreaW * (kAreaH / 2));
    Write(0x030, y_.phys);
    Write(0x034, y_.phys);
    Write(0x040, c_.phys);
    Write(0x044, c_.phys);
    af_ = Allocate(kAfBytes);
    wb_ = Allocate(kWbBytes);
    Write(0x070, af_.phys);
    Write(0x074, af_.phys);
    Write(0x078, wb_.phys);
    Write(0x07C, wb_.phys);
    Write(0x33C, (kAreaW - 1) | ((kAreaH - 1) << 16));
    ProgramSrgbGamma();
  }

  void SetCrop(uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
    Write(0x1E0, (x << 16) | (x + w - 1));
    Write(0x1E4, (y << 16) | (y + h - 1));
  }

  // Streams with the given module and statistics enables, OUTPUT2 luma and chroma on.
  void Run(uint32_t modules, uint32_t statsEnables = 0) {
    Write(0x2F4, statsEnables);
    StartSensor();
    Start(0x30, modules, kFrameMask, statsEnables ? (Bit(4) | Bit(5)) : Bit(4));
    running_ = true;
  }

  // The next frame that started after sensor frame `after` (0: any), with its
  // OUTPUT2 luma and the statistics the enables produce.
  Captured Next(uint32_t after = 0) {
    Captured c;
    uint32_t stats = Read(0x2F4);
    uint32_t want = Bit(18) | ((stats & 1) ? Bit(15) : 0) | ((stats & 2) ? Bit(16) : 0);
    for (int attempt = 0; attempt < 40; ++attempt) {
      uint32_t got = 0;
      uint32_t frame = 0;
      auto routine = [&](uint32_t status) {
        if (status & Bit(1)) got = 0;  // a new frame: what was copied belongs to the last one
        if (status & Bit(18)) {
          frame = lastTapped_;
          c.y.assign(static_cast<const uint8_t*>(y_.virt), static_cast<const uint8_t*>(y_.virt) + y_.size);
          c.chroma.assign(static_cast<const uint8_t*>(c_.virt), static_cast<const uint8_t*>(c_.virt) + c_.size);
        }
        if (status & Bit(15)) c.af.assign(static_cast<const uint32_t*>(af_.virt), static_cast<const uint32_t*>(af_.virt) + kAfBytes / 4);
        if (status & Bit(16)) c.wb.assign(static_cast<const uint32_t*>(wb_.virt), static_cast<const uint32_t*>(wb_.virt) + kWbBytes / 4);
        got |= status & want;
      };
      BoardVfeSetTap([this](const BoardVfeTappedFrame& t) { lastTapped_ = t.sensorFrame; });
      Service(want, 20000, routine);
      if ((got & want) == want && frame > after) {
        c.sensorFrame = frame;
        return c;
      }
    }
    ADD_FAILURE() << "no complete frame";
    return c;
  }

  // Changes blocks while streaming: written copies latch at the next frame.
  void Update() { Write(0x190, 1); }

  // Luma of OUTPUT2 at demosaic-area (x, y).
  static uint8_t Luma(const Captured& c, uint32_t x, uint32_t y) { return c.y[size_t(y) * kAreaW + x]; }
  // Mean and standard deviation of a rectangle of OUTPUT2 luma.
  struct Spread {
    double mean, deviation;
  };
  static Spread LumaSpread(const Captured& c, uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
    double s = 0, s2 = 0;
    for (uint32_t j = y; j < y + h; ++j)
      for (uint32_t i = x; i < x + w; ++i) {
        double v = Luma(c, i, j);
        s += v;
        s2 += v * v;
      }
    double n = double(w) * h, mean = s / n;
    return {mean, std::sqrt(std::max(0.0, s2 / n - mean * mean))};
  }

  // Preview (binned) demosaic-area coordinates of a full-array point.
  static uint32_t AreaX(uint32_t fullX) { return fullX / 2 - kDemosaicMarginX; }
  static uint32_t AreaY(uint32_t fullY) { return fullY / 2 - kDemosaicMarginY; }
  static constexpr uint32_t kDemosaicMarginX = 6, kDemosaicMarginY = 3;

  Buffer y_, c_, af_, wb_;
  bool running_ = false;
  std::atomic<uint32_t> lastTapped_{0};
};

}  // namespace vfetest
