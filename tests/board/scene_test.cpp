// What the sensor makes of the scene: black level, colour filter phase, patch
// values under each illuminant, clipping, the lens's contrast on the fine
// detail, the LED's light, a PPM picture as the scene, and the frames of a
// streaming sensor.
#include <cmath>
#include <string>
#include <vector>

#include "camera_module_fixture.h"
#include "image_copy.h"

namespace {

using SceneTest = CameraModuleTest;

struct Mode {
  const char* name;
  uint32_t width, height, binning;
};
constexpr Mode kPreview = {"preview", 1296, 972, 2};
constexpr Mode kFull = {"full", 2608, 1960, 1};

BoardFrameInfo Settings(const Mode& m, BoardIlluminant illuminant, double exposureSeconds = 0.012,
                        uint32_t gainCode = 32, uint32_t lens = kSceneFocusLensCode) {
  BoardFrameInfo f;
  f.width = m.width;
  f.height = m.height;
  f.binning = m.binning;
  f.illuminant = illuminant;
  f.exposureSeconds = exposureSeconds;
  f.gainCode = gainCode;
  f.lensCode = lens;
  return f;
}

std::vector<uint16_t> Render(const BoardFrameInfo& f) {
  std::vector<uint16_t> out(size_t(f.width) * f.height, 0xFFFF);
  EXPECT_TRUE(BoardSensorRenderFrame(f, out.data(), f.width));
  return out;
}

// Mean of the samples at (x, y) with x % 2 == px and y % 2 == py in a square
// around (cx, cy) in output coordinates.
double Mean(const std::vector<uint16_t>& frame, uint32_t width, uint32_t cx, uint32_t cy, uint32_t half, int px,
            int py) {
  double sum = 0;
  int n = 0;
  for (uint32_t y = cy - half; y < cy + half; ++y)
    for (uint32_t x = cx - half; x < cx + half; ++x)
      if (int(x % 2) == px && int(y % 2) == py) {
        sum += frame[size_t(y) * width + x];
        ++n;
      }
  return sum / n;
}

double Linear(uint8_t v) {
  double c = v / 255.0;
  return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

// The value a site of colour c (0 R, 1 G, 2 B) should read on a surface of this
// sRGB colour: black + scale x illuminant x (M x linear sRGB).
double Expected(const uint8_t srgb[3], int c, BoardIlluminant illuminant, double exposure, double gain,
                double led = 0) {
  double response = 0;
  for (int k = 0; k < 3; ++k) response += kSensorColourMatrix[c][k] * Linear(srgb[k]);
  double v = kSensorBlackLevel + kSceneScale * exposure * gain * (kIlluminantRgb[illuminant][c] + led) * response;
  return std::min(v, double(kSensorMaxSample));
}

// GRBG with literal positions, so that a changed order cannot hide behind a shared helper.
constexpr int kRedAt[2] = {1, 0}, kGreenAt[2] = {0, 0}, kBlueAt[2] = {0, 1}, kGreen2At[2] = {1, 1};

TEST_F(SceneTest, NoLightReadsTheBlackLevelEverywhere) {
  for (const Mode& m : {kPreview, kFull}) {
    SCOPED_TRACE(m.name);
    auto frame = Render(Settings(m, kIlluminantDaylight, 0.0));
    for (uint16_t v : frame) ASSERT_EQ(v, kSensorBlackLevel);
  }
}

TEST_F(SceneTest, PatchesReadTheirColourThroughTheGrbgFilter) {
  for (BoardIlluminant illuminant : {kIlluminantNeutral, kIlluminantDaylight}) {
    for (const Mode& m : {kPreview, kFull}) {
      auto frame = Render(Settings(m, illuminant));
      for (const BoardChartPatch& p : kChartPatches) {
        SCOPED_TRACE(std::string(p.name) + ", " + m.name + ", illuminant " + std::to_string(illuminant));
        uint32_t cx = p.centreX / m.binning, cy = p.centreY / m.binning, half = kChartPatchSize / m.binning / 4;
        EXPECT_NEAR(Mean(frame, m.width, cx, cy, half, kRedAt[0], kRedAt[1]),
                    Expected(p.srgb, 0, illuminant, 0.012, 1), 0.6);
        EXPECT_NEAR(Mean(frame, m.width, cx, cy, half, kGreenAt[0], kGreenAt[1]),
                    Expected(p.srgb, 1, illuminant, 0.012, 1), 0.6);
        EXPECT_NEAR(Mean(frame, m.width, cx, cy, half, kGreen2At[0], kGreen2At[1]),
                    Expected(p.srgb, 1, illuminant, 0.012, 1), 0.6);
        EXPECT_NEAR(Mean(frame, m.width, cx, cy, half, kBlueAt[0], kBlueAt[1]),
                    Expected(p.srgb, 2, illuminant, 0.012, 1), 0.6);
      }
    }
  }
}

TEST_F(SceneTest, TheScaleBringsWhiteToAboutEightyFivePercentAtTwelveMilliseconds) {
  auto frame = Render(Settings(kPreview, kIlluminantNeutral));
  const BoardChartPatch& white = kChartPatches[18];
  double g = Mean(frame, kPreview.width, white.centreX / 2, white.centreY / 2, 32, kGreenAt[0], kGreenAt[1]);
  EXPECT_NEAR(g / kSensorMaxSample, 0.85, 0.02);
}

TEST_F(SceneTest, ExposureAndGainScaleAndClip) {
  const BoardChartPatch& grey = kChartPatches[21];
  struct Case {
    const char* name;
    double exposure;
    uint32_t gainCode;
  };
  for (Case c : {Case{"twice the gain", 0.012, 64}, Case{"half the exposure", 0.006, 32},
                 Case{"sixteen times, clipped", 0.012, 512}, Case{"a long exposure, clipped", 1.0, 32}}) {
    SCOPED_TRACE(c.name);
    auto frame = Render(Settings(kPreview, kIlluminantDaylight, c.exposure, c.gainCode));
    for (int ch = 0; ch < 3; ++ch) {
      const int* at = ch == 0 ? kRedAt : ch == 1 ? kGreenAt : kBlueAt;
      EXPECT_NEAR(Mean(frame, kPreview.width, grey.centreX / 2, grey.centreY / 2, 16, at[0], at[1]),
                  Expected(grey.srgb, ch, kIlluminantDaylight, c.exposure, c.gainCode / 32.0), 0.6);
    }
  }
  for (uint16_t v : Render(Settings(kFull, kIlluminantDaylight, 1.0, 512))) ASSERT_LE(v, kSensorMaxSample);
}

TEST_F(SceneTest, TheGreyRampRisesFromLeftToRight) {
  auto frame = Render(Settings(kFull, kIlluminantNeutral));
  const BoardChartRect& r = kChartGreyRamp;
  uint32_t y = r.y + r.height / 2;
  y -= y % 2;  // a G R row
  EXPECT_EQ(frame[size_t(y) * kFull.width + r.x], kSensorBlackLevel);  // sRGB 0
  uint16_t last = 0;
  for (uint32_t x = r.x; x < r.x + r.width; x += 64) {
    uint16_t g = frame[size_t(y) * kFull.width + x];
    EXPECT_GE(g, last) << "column " << x;
    last = g;
  }
  EXPECT_GT(last, 800);
}

// Mean absolute difference of neighbouring green samples across the bars.
double DetailContrast(uint32_t lens, const Mode& m) {
  auto frame = Render(Settings(m, kIlluminantNeutral, 0.012, 32, lens));
  const BoardChartRect& d = kChartFineDetail;
  uint32_t x0 = d.x / m.binning, y = (d.y + d.height / 4) / m.binning;
  y -= y % 2;
  double sum = 0;
  int n = 0;
  for (uint32_t x = x0; x + 2 < x0 + d.width / m.binning; x += 2) {
    sum += std::abs(int(frame[size_t(y) * m.width + x]) - int(frame[size_t(y) * m.width + x + 2]));
    ++n;
  }
  return sum / n;
}

TEST_F(SceneTest, FineDetailIsSharpestAtTheFocusCode) {
  for (const Mode& m : {kPreview, kFull}) {
    SCOPED_TRACE(m.name);
    double best = DetailContrast(kSceneFocusLensCode, m);
    for (uint32_t lens : {0u, 200u, 336u, 399u, 401u, 464u, 600u, 1023u})
      EXPECT_LT(DetailContrast(lens, m), best) << "lens " << lens;
    // One clean peak: 1 / (1 + |p - 400| / 64), the same on both sides.
    EXPECT_NEAR(DetailContrast(336, m) / best, 0.5, 0.02);
    EXPECT_NEAR(DetailContrast(464, m) / best, 0.5, 0.02);
    EXPECT_NEAR(DetailContrast(0, m) / best, 1.0 / (1.0 + 400.0 / 64.0), 0.02);
  }
}

TEST_F(SceneTest, TheLedAddsWhiteLight) {
  const BoardChartPatch& blue = kChartPatches[12];
  for (float led : {kLedTorchLight, kLedFlashLight}) {
    SCOPED_TRACE(led);
    BoardFrameInfo f = Settings(kPreview, kIlluminantIncandescent, 0.004);
    f.ledLight = led;
    auto frame = Render(f);
    for (int ch = 0; ch < 3; ++ch) {
      const int* at = ch == 0 ? kRedAt : ch == 1 ? kGreenAt : kBlueAt;
      EXPECT_NEAR(Mean(frame, kPreview.width, blue.centreX / 2, blue.centreY / 2, 16, at[0], at[1]),
                  Expected(blue.srgb, ch, kIlluminantIncandescent, 0.004, 1, led), 0.6);
    }
  }
}

TEST_F(SceneTest, RenderRefusesSettingsOutsideTheReadOut) {
  std::vector<uint16_t> buffer(size_t(2608) * 1960);
  struct Case {
    const char* name;
    uint32_t width, height, binning;
    size_t stride;
  };
  for (Case c : {Case{"wider than the binned read-out", 1400, 972, 2, 1400},
                 Case{"taller than the array", 2608, 1962, 1, 2608}, Case{"binning 3", 800, 600, 3, 800},
                 Case{"stride below the width", 1296, 972, 2, 1000}, Case{"empty", 0, 972, 2, 1296}}) {
    SCOPED_TRACE(c.name);
    BoardFrameInfo f = Settings(kPreview, kIlluminantDaylight);
    f.width = c.width;
    f.height = c.height;
    f.binning = c.binning;
    EXPECT_FALSE(BoardSensorRenderFrame(f, buffer.data(), c.stride));
  }
  BoardFrameInfo inside = Settings(kPreview, kIlluminantDaylight);
  inside.width = 1304;
  inside.height = 980;  // the whole binned read-out
  EXPECT_TRUE(BoardSensorRenderFrame(inside, buffer.data(), 1304));
}

TEST_F(SceneTest, AStreamingSensorRendersItsLatestFrameWithItsOwnSettings) {
  EXPECT_FALSE(BoardSensorRender(std::vector<uint16_t>(16).data(), 4, nullptr));  // no frame yet
  BoardSetSpeedUp(40);
  PowerUp();
  ASSERT_TRUE(Write16(0x0202, 351));  // about 12 ms
  ASSERT_TRUE(Write16(0x0204, 48));
  ASSERT_TRUE(Write8(0x0100, 1));
  ASSERT_TRUE(WaitFrames(1));
  std::vector<uint16_t> frame(size_t(1300) * 972);
  BoardFrameInfo info;
  ASSERT_TRUE(BoardSensorRender(frame.data(), 1300, &info));
  ASSERT_TRUE(Write8(0x0100, 0));
  EXPECT_EQ(info.width, 1296u);
  EXPECT_EQ(info.height, 972u);
  EXPECT_EQ(info.binning, 2u);
  EXPECT_EQ(info.illuminant, kDefaultIlluminant);
  EXPECT_NEAR(info.exposureSeconds, 351 * 2732 / 80e6, 1e-12);
  EXPECT_EQ(info.gainCode, 48u);
  const BoardChartPatch& grey = kChartPatches[20];
  std::vector<uint16_t> packed(size_t(1296) * 972);
  for (uint32_t y = 0; y < 972; ++y)
    std::copy_n(&frame[size_t(y) * 1300], 1296, &packed[size_t(y) * 1296]);
  EXPECT_NEAR(Mean(packed, 1296, grey.centreX / 2, grey.centreY / 2, 16, kGreenAt[0], kGreenAt[1]),
              Expected(grey.srgb, 1, kDefaultIlluminant, info.exposureSeconds, 1.5), 0.6);
  EXPECT_FALSE(BoardSensorRender(frame.data(), 1000, nullptr));  // stride too small
}

// A 2 x 2 picture: red, green / blue, white.
std::string FourColourPpm() {
  std::string ppm = "P6\n# four patches\n2 2\n255\n";
  const unsigned char pixels[] = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255};
  ppm.append(reinterpret_cast<const char*>(pixels), sizeof pixels);
  return ppm;
}

class SceneSettingsTest : public SceneTest {
 protected:
  void TearDown() override {
    camera::test::RemoveImageFile("board.cfg");
    camera::test::RemoveImageFile("scene.ppm");
    SceneTest::TearDown();
  }
};

TEST_F(SceneSettingsTest, APictureNamedInTheSettingsFileReplacesTheChart) {
  camera::test::WriteImageFile("scene.ppm", FourColourPpm());
  camera::test::WriteImageFile("board.cfg", "# the board\n Scene = \\scene.ppm\nILLUMINANT=neutral\n");
  ASSERT_TRUE(BoardReloadSettings());
  EXPECT_EQ(BoardSceneIlluminant(), kIlluminantNeutral);
  auto frame = Render(Settings(kFull, kIlluminantNeutral));
  struct Quadrant {
    const char* name;
    uint32_t x, y;
    uint8_t srgb[3];
  };
  for (Quadrant q : {Quadrant{"red", 652, 490, {255, 0, 0}}, Quadrant{"green", 1956, 490, {0, 255, 0}},
                     Quadrant{"blue", 652, 1470, {0, 0, 255}}, Quadrant{"white", 1956, 1470, {255, 255, 255}}}) {
    SCOPED_TRACE(q.name);
    for (int ch = 0; ch < 3; ++ch) {
      const int* at = ch == 0 ? kRedAt : ch == 1 ? kGreenAt : kBlueAt;
      EXPECT_NEAR(Mean(frame, kFull.width, q.x, q.y, 32, at[0], at[1]),
                  Expected(q.srgb, ch, kIlluminantNeutral, 0.012, 1), 0.6);
    }
  }
  // Without the file the chart and the default illuminant come back.
  camera::test::RemoveImageFile("board.cfg");
  ASSERT_TRUE(BoardReloadSettings());
  EXPECT_EQ(BoardSceneIlluminant(), kDefaultIlluminant);
  const BoardChartPatch& white = kChartPatches[18];
  frame = Render(Settings(kFull, kIlluminantNeutral));
  EXPECT_NEAR(Mean(frame, kFull.width, white.centreX, white.centreY, 32, kGreenAt[0], kGreenAt[1]),
              Expected(white.srgb, 1, kIlluminantNeutral, 0.012, 1), 0.6);
}

TEST_F(SceneSettingsTest, BadSettingsAreLoggedAndKeepTheChart) {
  struct Case {
    const char* name;
    const char* cfg;
    const char* ppm;  // null: no picture file
    const char* log;
  };
  const Case cases[] = {
      {"unknown illuminant", "Illuminant=moonlight\n", nullptr, "unknown illuminant"},
      {"missing picture", "Scene=\\scene.ppm\n", nullptr, "cannot be used"},
      {"text PPM", "Scene=\\scene.ppm\n", "P3\n1 1\n255\n0 0 0\n", "is not a binary PPM"},
      {"picture cut short", "Scene=\\scene.ppm\n", "P6\n4 4\n255\nabc", "is cut short"},
      {"unknown key", "Lens=400\n", nullptr, "unknown key"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BoardSensorClearLogs();
    camera::test::RemoveImageFile("scene.ppm");
    if (c.ppm) camera::test::WriteImageFile("scene.ppm", c.ppm);
    camera::test::WriteImageFile("board.cfg", c.cfg);
    EXPECT_FALSE(BoardReloadSettings());
    EXPECT_TRUE(BoardSensorLogContains(c.log));
    EXPECT_EQ(BoardSceneIlluminant(), kDefaultIlluminant);
    auto frame = Render(Settings(kPreview, kIlluminantNeutral));
    const BoardChartPatch& red = kChartPatches[14];
    EXPECT_NEAR(Mean(frame, kPreview.width, red.centreX / 2, red.centreY / 2, 16, kRedAt[0], kRedAt[1]),
                Expected(red.srgb, 0, kIlluminantNeutral, 0.012, 1), 0.6);
  }
}

}  // namespace
