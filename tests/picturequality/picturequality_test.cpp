// The picture the camera makes of the chart, judged as a person would: a
// full-resolution still of the built-in chart under the board's default
// daylight, taken by the still configure chain with the camera's shipped
// tuning on the real VFE driver and the VFE hardware model, the exposure set
// so that the white patch is not clipped and the white balance at the tuning's
// daylight preset. Each of the 24 patches is compared with its known sRGB
// colour by CIEDE2000, the grey ramp must rise left to right, and the picture
// is saved as picturequality-chart.png in the build directory to look at.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "board_sensor.h"
#include "board_vfe.h"
#include "chartcolour.h"
#include "vfeconfigdoubles.h"
#include "vfeconfigurerids.h"
#include "vfedriver_fixture.h"
#include "vfetuningfixture.h"

namespace {

using vfeconfigtest::VfeServiceDouble;
using vfeconfigtest::VfeSettingsDouble;

// ---- Colour science (the shared measures of the test support) -------------------------------

using camera::test::Lab;

Lab LabOf(double r8, double g8, double b8) { return camera::test::SrgbToLab({r8, g8, b8}); }
double DeltaE2000(const Lab& p, const Lab& q) { return camera::test::Ciede2000(p, q); }

// The published CIEDE2000 test pairs (Sharma, Wu and Dalal) that exercise the
// hue wrap and the rotation term.
TEST(Ciede2000, MatchesTheReferencePairs) {
  struct Pair {
    Lab p, q;
    double expected;
  } pairs[] = {
      {{50.0, 2.6772, -79.7751}, {50.0, 0.0, -82.7485}, 2.0425},
      {{50.0, -1.0, 2.0}, {50.0, 0.0, 0.0}, 2.3669},
      {{50.0, 2.49, -0.001}, {50.0, -2.49, 0.0011}, 7.2195},
      {{60.2574, -34.0099, 36.2677}, {60.4626, -34.1751, 39.4387}, 1.2644},
      {{22.7233, 20.0904, -46.6940}, {23.0331, 14.9730, -42.5619}, 2.0373},
      {{90.9257, -0.5406, -0.9208}, {88.6381, -0.8985, -0.7239}, 1.5381},
  };
  for (const Pair& pr : pairs) EXPECT_NEAR(DeltaE2000(pr.p, pr.q), pr.expected, 1e-4);
}

bool SavePng(const std::string& path, uint32_t w, uint32_t h, const std::vector<uint8_t>& rgb) {
  return camera::test::WriteRgbPng(path, rgb, w, h);
}

// ---- The still --------------------------------------------------------------------------------

// The full read-out and the demosaic area the still covers.
constexpr uint32_t kFullW = kSensorArrayWidth, kFullH = kSensorArrayHeight;
constexpr uint32_t kStillW = kFullW - 12, kStillH = kFullH - 6;

// A still as R, G, B bytes (full-range BT.601 back from its NV21).
struct Still {
  uint32_t w = 0, h = 0;
  std::vector<uint8_t> rgb;
  // Mean R, G, B over a square of the still around (x, y).
  void Mean(int x, int y, int half, double out[3]) const {
    double s[3] = {};
    int n = 0;
    for (int yy = y - half; yy <= y + half; ++yy)
      for (int xx = x - half; xx <= x + half; ++xx) {
        const uint8_t* p = &rgb[(size_t(yy) * w + xx) * 3];
        for (int k = 0; k < 3; ++k) s[k] += p[k];
        ++n;
      }
    for (int k = 0; k < 3; ++k) out[k] = s[k] / n;
  }
};

class PictureQuality : public vfedrivertest::VfeDriverTest, public vfeconfigtest::VfeTuningFixture {
 protected:
  void SetUp() override {
    VfeDriverTest::SetUp();
    ASSERT_NE(drv_, nullptr);
    BoardSceneSetIlluminant(kDefaultIlluminant);
    SetUpTuning();
    service_ = new VfeServiceDouble(env_);
    service_->settings = &settings_;
    service_->driver = drv_;
    ASSERT_EQ(PVL_OK, service_->CreateBlocks());
  }
  void TearDown() override {
    delete service_;
    TearDownTuning();
    VfeDriverTest::TearDown();
  }

  // The sensor's full read-out (2608 x 1960, no binning) at the preview's line
  // time, exposed `lines` lines at gain 1.
  void FullReadOut(uint16_t lines) {
    auto write16 = [](uint16_t reg, uint16_t v) { return SensorWrite(reg, uint8_t(v >> 8)) && SensorWrite(reg + 1, uint8_t(v)); };
    ASSERT_TRUE(write16(0x034C, kFullW));
    ASSERT_TRUE(write16(0x034E, kFullH));
    ASSERT_TRUE(SensorWrite(0x3014, 0x00));
    ASSERT_TRUE(SensorWrite(0x0387, 0x01));
    ASSERT_TRUE(write16(0x0340, 1974));
    ASSERT_TRUE(write16(0x0202, lines));
    ASSERT_TRUE(write16(0x0204, 32));  // gain code 32: 1x
  }

  // One still through the still chain, its OUTPUT1 the whole demosaic area.
  Still TakeStill() {
    Still s;
    settings_.SetActive(0, 0, kFullW, kFullH);
    settings_.settleFrames = 0;
    service_->out1.enabled = true;
    service_->out1.size = service_->out1.mode1 = service_->out1.mode0 = {kStillW, kStillH};
    service_->out1.onAck = [this] {
      Frame f;
      f.y = Allocate(kStillW * kStillH);
      f.c = Allocate(kStillW * (kStillH / 2));
      f.entry.luma[0] = f.y.phys;
      f.entry.chroma[0] = f.c.phys;
      frames_.push_back(f);
      return Queue(0, f);
    };
    service_->wbExpOutput.nextAddress = service_->afOutput.nextAddress = [this] { return Allocate(16384).phys; };

    IConfigCommand* configurer = nullptr;
    EXPECT_EQ(PVL_OK, VfeConfigurer_Create(service_, ZUEUID_CONFIG_SNAPSHOT, &configurer));
    if (!configurer) return s;
    ISnapshotConfigCommand* still = nullptr;
    if (configurer->QueryInterface(ZUEUID_IFACE_SNAPSHOT_CONFIG_COMMAND, reinterpret_cast<void**>(&still)) == PVL_OK) {
      still->SetCaptureCount(1);
      still->Release();
    }
    EXPECT_EQ(PVL_OK, configurer->Configure());
    configurer->Release();
    EXPECT_EQ(PVL_OK, Cmd(VFE_CMD_START, service_->operationMode));
    EXPECT_TRUE(SensorWrite(0x0100, 1));
    if (!WaitFor(MSG_VFE_OUTPUT1, 60000)) {
      ADD_FAILURE() << "no still";
      return s;
    }
    uint32_t luma = seen_.back().payload.frame.luma;
    for (const Frame& f : frames_) {
      if (f.y.phys != luma) continue;
      const auto* y = static_cast<const uint8_t*>(f.y.virt);
      const auto* c = static_cast<const uint8_t*>(f.c.virt);
      s.w = kStillW;
      s.h = kStillH;
      s.rgb.resize(size_t(s.w) * s.h * 3);
      for (uint32_t yy = 0; yy < s.h; ++yy)
        for (uint32_t x = 0; x < s.w; ++x) {
          size_t ci = size_t(std::min(yy / 2, s.h / 2 - 1)) * s.w + (x & ~1u);
          double Y = y[size_t(yy) * s.w + x], V = c[ci] - 128.0, U = c[ci + 1] - 128.0;
          double rgb[3] = {Y + 1.402 * V, Y - 0.344136 * U - 0.714136 * V, Y + 1.772 * U};
          for (int k = 0; k < 3; ++k)
            s.rgb[(size_t(yy) * s.w + x) * 3 + k] = uint8_t(std::lround(std::clamp(rgb[k], 0.0, 255.0)));
        }
    }
    EXPECT_FALSE(s.rgb.empty()) << "the still is in none of our buffers";
    return s;
  }

  VfeSettingsDouble settings_;
  VfeServiceDouble* service_ = nullptr;
  std::vector<Frame> frames_;
};

// Where a chart point (full-array pixels) lies in the still.
int StillX(double x) { return int(std::lround(x - 6)); }
int StillY(double y) { return int(std::lround(y - 3)); }

TEST_F(PictureQuality, TheChartsColoursComeOutTrueUnderDaylight) {
  // The daylight preset of the shipped tuning, sensor and digital gain 1,
  // normal light, the picture controls at their middles.
  const TuningMwbGains& sunny = Tuning().MWB[MWB_SUNNY];
  settings_.wbRed = CFixedPoint(double(sunny.RGain));
  settings_.wbGreen = CFixedPoint(double(sunny.GGain));
  settings_.wbBlue = CFixedPoint(double(sunny.BGain));
  settings_.illuminant = 0;  // daylight
  settings_.digitalGain = CFixedPoint(1.0);
  settings_.exposureGain = CFixedPoint(1.0);
  settings_.contrast.Value = 100;
  settings_.brightness.Value = 0;
  settings_.saturation.Value = 100;
  // About 12 ms: the white patch's green well below full scale.
  FullReadOut(351);
  Still still = TakeStill();
  ASSERT_EQ(kStillW, still.w);

  std::string png = std::string(PICTUREQUALITY_OUTPUT_DIR) + "/picturequality-chart.png";
  EXPECT_TRUE(SavePng(png, still.w, still.h, still.rgb)) << png;

  // Each patch's middle half against its known colour.
  const int half = int(kChartPatchSize / 4);
  double sum = 0, worst = 0;
  const char* worstName = "";
  std::string report;
  for (const BoardChartPatch& p : kChartPatches) {
    double m[3];
    still.Mean(StillX(p.centreX), StillY(p.centreY), half, m);
    double dE = DeltaE2000(LabOf(m[0], m[1], m[2]), LabOf(p.srgb[0], p.srgb[1], p.srgb[2]));
    char line[160];
    std::snprintf(line, sizeof line, "  %-14s known %3d %3d %3d  taken %5.1f %5.1f %5.1f  dE00 %5.2f\n", p.name,
                  p.srgb[0], p.srgb[1], p.srgb[2], m[0], m[1], m[2], dE);
    report += line;
    sum += dE;
    if (dE > worst) {
      worst = dE;
      worstName = p.name;
    }
  }
  double mean = sum / 24;
  std::printf("Chart under daylight, CIEDE2000 against the known sRGB values:\n%s  mean %.2f, max %.2f (%s)\n",
              report.c_str(), mean, worst, worstName);
  EXPECT_LE(mean, 5.0) << report;
  EXPECT_LE(worst, 10.0) << worstName;

  // The white patch is not clipped.
  double white[3];
  const BoardChartPatch& w = kChartPatches[18];
  still.Mean(StillX(w.centreX), StillY(w.centreY), half, white);
  for (double v : white) EXPECT_LT(v, 254.0) << "white clipped";

  // The grey ramp rises from left to right: means of 16-column bins along its
  // middle never fall.
  const BoardChartRect& ramp = kChartGreyRamp;
  int y0 = StillY(ramp.y + ramp.height / 4.0), y1 = StillY(ramp.y + 3 * ramp.height / 4.0);
  double previous = -1;
  int bins = 0;
  for (uint32_t x = ramp.x + 8; x + 16 <= ramp.x + ramp.width - 8; x += 16, ++bins) {
    double level = 0;
    int n = 0;
    for (int yy = y0; yy < y1; ++yy)
      for (uint32_t xx = x; xx < x + 16; ++xx) {
        const uint8_t* px = &still.rgb[(size_t(yy) * still.w + StillX(xx)) * 3];
        level += 0.299 * px[0] + 0.587 * px[1] + 0.114 * px[2];
        ++n;
      }
    level /= n;
    EXPECT_GE(level, previous) << "the ramp falls at x " << x;
    previous = level;
  }
  EXPECT_GT(bins, 100);
  EXPECT_GT(previous, 200) << "the ramp's right end is near white";
}

}  // namespace
