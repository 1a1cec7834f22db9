// The picture controls' acceptance through the driver on the board: each row
// sets controls with the capture tool, takes a 640 x 480 still of the chart
// and checks the change it must make against the still taken with the
// controls at their defaults (measured on the chart's patches, its grey ramp
// and its bars).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "board_led.h"
#include "board_sensor.h"
#include "board_vfe.h"
#include "camcapture.h"
#include "jpegcheck.h"
#include "ostrelboardfixture.h"

namespace {

using ostrel_board::OstrelBoardTest;
using ostrel_board::ToolText;

constexpr uint32_t kStillW = 640, kStillH = 480;

double Linear(double c) {
  c /= 255.0;
  return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}
double LightnessOf(const double rgb[3]) {
  const double y = 0.2126 * Linear(rgb[0]) + 0.7152 * Linear(rgb[1]) + 0.0722 * Linear(rgb[2]);
  return y > 0.008856 ? 116.0 * std::cbrt(y) - 16.0 : 903.3 * y;
}

// What a row is judged by.
struct Measures {
  double grey = 0, white = 0, black = 0;  // L* of the patches
  double chroma = 0;                      // mean |R - Y| + |B - Y| of the 18 coloured patches
  double ramp = 0;                        // luma at 3/4 of the grey ramp less luma at 1/4
  double sharpness = 0;                   // mean |dY/dx| over the bars
};

Measures Measure(const hostsvc::test::Decoded& d) {
  const double scale = double(d.width) / double(kSensorArrayWidth);
  auto mean = [&](double cx, double cy, int half, double out[3]) {
    const int x0 = int(cx * scale), y0 = int(cy * scale);
    double s[3] = {};
    int n = 0;
    for (int y = y0 - half; y < y0 + half; ++y)
      for (int x = x0 - half; x < x0 + half; ++x) {
        const uint8_t* p = &d.pixels[(size_t(y) * d.width + x) * 3];
        for (int k = 0; k < 3; ++k) s[k] += p[k];
        ++n;
      }
    for (int k = 0; k < 3; ++k) out[k] = s[k] / n;
  };
  auto luma = [](const double m[3]) { return 0.299 * m[0] + 0.587 * m[1] + 0.114 * m[2]; };
  Measures out;
  double m[3];
  mean(kChartPatches[18].centreX, kChartPatches[18].centreY, 12, m);
  out.white = LightnessOf(m);
  mean(kChartPatches[21].centreX, kChartPatches[21].centreY, 12, m);
  out.grey = LightnessOf(m);
  mean(kChartPatches[23].centreX, kChartPatches[23].centreY, 12, m);
  out.black = LightnessOf(m);
  for (int i = 0; i < 18; ++i) {
    mean(kChartPatches[i].centreX, kChartPatches[i].centreY, 12, m);
    out.chroma += (std::fabs(m[0] - luma(m)) + std::fabs(m[2] - luma(m))) / 18.0;
  }
  const BoardChartRect& r = kChartGreyRamp;
  double low[3], high[3];
  mean(r.x + r.width / 4.0, r.y + r.height / 2.0, 4, low);
  mean(r.x + 3 * r.width / 4.0, r.y + r.height / 2.0, 4, high);
  out.ramp = luma(high) - luma(low);
  // The bars: right of the patches, above the ramp.
  const int x0 = int((6 * kChartPatchPitch + 32) * scale), x1 = int((kSensorArrayWidth - 32) * scale);
  const int y0 = int(96 * scale), y1 = int((r.y - 64) * scale);
  double sum = 0;
  int n = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x + 1 < x1; ++x) {
      const uint8_t* p = &d.pixels[(size_t(y) * d.width + x) * 3];
      sum += std::fabs(0.299 * (p[3] - p[0]) + 0.587 * (p[4] - p[1]) + 0.114 * (p[5] - p[2]));
      ++n;
    }
  out.sharpness = n ? sum / n : 0;
  return out;
}

class PictureControlsBoardTest : public OstrelBoardTest {
 protected:
  void SetUp() override {
    OstrelBoardTest::SetUp();
    // Statistics are read before the next frame starts, however slowly the
    // machine runs the board: the exposure a preview settles on does not
    // depend on the load.
    BoardVfeSetStatsLockStep(true);
    char dir[] = "/tmp/picturecontrols_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
  }
  void TearDown() override {
    std::string command = "rm -rf " + dir_;
    (void)std::system(command.c_str());
    OstrelBoardTest::TearDown();
  }
  // A still through the capture tool with the given controls (NAME=VALUE),
  // after a preview of `preview` frames when asked for.
  bool Still(const std::vector<std::string>& sets, int preview, const std::string& name, Measures* out) {
    const std::string jpg = dir_ + "/" + name + ".jpg";
    std::vector<std::string> args = {"camcapture"};
    for (const std::string& s : sets) args.insert(args.end(), {"--set", s});
    if (preview) args.insert(args.end(), {"--stream", std::to_string(preview), dir_ + "/preview.y4m", "--size", "320x240"});
    args.insert(args.end(), {"--still-size", "640x480", "--still", jpg});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    std::FILE* sink = std::tmpfile();
    const int r = RunCamCapture(int(argv.size()), argv.data(), sink, sink);
    const std::string said = r != kCamCaptureOk ? ToolText(sink) : std::string();
    std::fclose(sink);
    if (r != kCamCaptureOk) {
      ADD_FAILURE() << name << ": the tool answered " << r << "\n" << said;
      return false;
    }
    std::vector<uint8_t> jpeg;
    if (!hostsvc::test::ReadFile(jpg, jpeg)) return false;
    hostsvc::test::Decoded d = hostsvc::test::DecodeWithDjpeg(jpeg, false);
    if (!d.ok || d.width != kStillW || d.height != kStillH) {
      ADD_FAILURE() << name << ": " << d.error;
      return false;
    }
    *out = Measure(d);
    return true;
  }
  std::string dir_;
};

struct ControlRow {
  const char* name;
  std::vector<std::string> sets;
  int preview;  // frames streamed before the still (0: none)
  // The change the row must make, against the default still.
  std::function<void(const Measures& base, const Measures& row)> check;
};

TEST_F(PictureControlsBoardTest, EachControlChangesThePictureAsItShould) {
  const ControlRow rows[] = {
      {"PlusOneEvLiftsTheGrey", {"ev=300"}, 0,
       [](const Measures& b, const Measures& m) {
         EXPECT_GE(m.grey - b.grey, 10.0);
         EXPECT_LE(m.grey - b.grey, 20.0);
       }},
      {"MinusOneEvLowersTheGrey", {"ev=-300"}, 0,
       [](const Measures& b, const Measures& m) {
         EXPECT_GE(b.grey - m.grey, 10.0);
         EXPECT_LE(b.grey - m.grey, 20.0);
       }},
      {"Contrast200WidensTheRamp", {"contrast=200"}, 0,
       [](const Measures& b, const Measures& m) { EXPECT_GT(m.ramp, b.ramp * 1.2); }},
      {"Contrast0NarrowsTheRamp", {"contrast=0"}, 0,
       [](const Measures& b, const Measures& m) { EXPECT_LT(m.ramp, b.ramp * 0.8); }},
      {"Saturation200RaisesChromaByHalf", {"saturation=200"}, 0,
       [](const Measures& b, const Measures& m) { EXPECT_GE(m.chroma, b.chroma * 1.5); }},
      {"Saturation0IsGrey", {"saturation=0"}, 0, [](const Measures&, const Measures& m) { EXPECT_LT(m.chroma, 2.0); }},
      {"MonoHasNoChroma", {"effect=1"}, 0, [](const Measures&, const Measures& m) { EXPECT_LT(m.chroma, 2.0); }},
      {"NegativeInvertsLuma", {"effect=2"}, 0,
       [](const Measures& b, const Measures& m) {
         EXPECT_LT(m.white, b.black + 10.0);
         EXPECT_GT(m.black, b.white - 25.0);
       }},
      {"Gamma200LiftsTheGrey", {"gamma=200"}, 0,
       [](const Measures& b, const Measures& m) { EXPECT_GE(m.grey - b.grey, 10.0); }},
      {"Gamma50DarkensTheGrey", {"gamma=50"}, 0,
       [](const Measures& b, const Measures& m) { EXPECT_GE(b.grey - m.grey, 10.0); }},
      {"SharpnessFullSharpensTheBars", {"sharpness=100"}, 0,
       [](const Measures& b, const Measures& m) { EXPECT_GT(m.sharpness, b.sharpness * 1.1); }},
  };
  Measures base;
  ASSERT_TRUE(Still({}, 0, "default", &base));
  for (const ControlRow& row : rows) {
    SCOPED_TRACE(row.name);
    Measures m;
    if (Still(row.sets, row.preview, row.name, &m)) row.check(base, m);
  }
}

// Metering needs the preview's statistics: after the same preview, spot
// metering on the white patch (the left cell of the middle row of the 3 x 3
// grid) darkens the picture.
TEST_F(PictureControlsBoardTest, SpotMeteringOnTheWhitePatchDarkens) {
  Measures average, spot;
  ASSERT_TRUE(Still({"metering=0"}, 10, "average", &average));
  ASSERT_TRUE(Still({"metering=6"}, 10, "spot", &spot));
  EXPECT_GE(average.grey - spot.grey, 3.0);
}

// Manual focus: sharpest at the tuned best step (the chart's lens code 400 is
// step 15 at 27 codes a step), blurred at both ends of the travel.
TEST_F(PictureControlsBoardTest, ManualFocusIsSharpestAtTheBestStep) {
  Measures best, far, near;
  ASSERT_TRUE(Still({"focus=15"}, 0, "focus15", &best));
  ASSERT_TRUE(Still({"focus=0"}, 0, "focus0", &far));
  ASSERT_TRUE(Still({"focus=30"}, 0, "focus30", &near));
  EXPECT_GT(best.sharpness, far.sharpness * 1.3);
  EXPECT_GT(best.sharpness, near.sharpness * 1.3);
}

// The flash modes, each on a still: "on" fires the strobe for the still,
// "off" leaves the LED dark throughout, and "auto" fires it only for a scene
// the exposure cannot reach without it (a dark room, not the lit chart).
TEST_F(PictureControlsBoardTest, FlashModesLightTheLedAsSet) {
  const std::string dark = dir_ + "/dark.ppm";
  {
    std::FILE* f = std::fopen(dark.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fprintf(f, "P6\n64 48\n255\n");
    for (int i = 0; i < 64 * 48 * 3; ++i) std::fputc(1, f);
    std::fclose(f);
  }
  const struct {
    const char* name;
    const char* set;
    bool darkRoom;
    bool strobe;
  } kCases[] = {
      {"FlashOnFiresTheStrobe", "flash=on", false, true},
      {"FlashOffKeepsTheLedDark", "flash=off", false, false},
      {"FlashOffKeepsTheLedDarkInTheDark", "flash=off", true, false},
      {"AutoFlashOnALitSceneKeepsTheLedDark", "flash=auto", false, false},
      {"AutoFlashInTheDarkFiresTheStrobe", "flash=auto", true, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    if (c.darkRoom) {
      ASSERT_TRUE(BoardSceneUsePpm(dark));
    } else {
      BoardSceneUseChart();
    }
    BoardLedClearRecords();
    Measures m;
    ASSERT_TRUE(Still({c.set}, 10, c.name, &m));
    bool strobe = false, lit = false;
    for (const BoardLedState& s : BoardLedHistory()) {
      strobe = strobe || s.mode == kLedFlash || s.mode == kLedTorchAndFlash;
      lit = lit || s.mode != kLedOff;
    }
    EXPECT_EQ(strobe, c.strobe);
    if (!c.strobe) {
      EXPECT_FALSE(lit) << "the LED came on";
    }
    EXPECT_EQ(BoardLedNow().mode, kLedOff) << "the LED is out after the still";
    EXPECT_TRUE(BoardLedWarnings().empty());
  }
  BoardSceneUseChart();
}

}  // namespace
