// The camera's 3A loops through the driver on the board, counted in preview
// frames: a focus run from several lens positions, and the preview's first
// frames. The board runs paced with the statistics in lock-step, so each
// frame's statistics are answered before the next frame starts however busy
// the machine is.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

#include "camcapture.h"
#include "chartcolour.h"
#include "jpegcheck.h"
#include "ostrelboardfixture.h"

namespace {

using camclient::AsyncQueueReader;
using camclient::BufferMemory;
using camclient::Pin;
using ostrel_board::kWait;
using ostrel_board::OstrelBoardTest;

constexpr uint32_t kW = 320, kH = 240;
constexpr uint32_t kFourccYV12 = CAMERA_FOURCC('Y', 'V', '1', '2');
constexpr uint32_t kCodesPerStep = 27;
constexpr uint32_t kLastStep = 1023 / kCodesPerStep;

class ThreeABoardTest : public OstrelBoardTest {
 protected:
  void SetUp() override {
    OstrelBoardTest::SetUp();
    BoardVfeSetStatsLockStep(true);
  }
  // Takes the next preview frame and gives its buffer back; false when none came.
  // A YV12 frame comes back as NV21.
  bool NextFrame(Pin& pin, std::vector<uint8_t>* nv21 = nullptr) {
    CS_STREAM_DESCRIPTOR* d = nullptr;
    if (pin.NextBuffer(&d, kWait) != ERROR_SUCCESS || !d) {
      ADD_FAILURE() << "no frame came";
      return false;
    }
    if (nv21) {
      const uint8_t* p = Pin::Data(*d);
      const size_t luma = size_t(kW) * kH, quarter = luma / 4;
      nv21->assign(p, p + luma + 2 * quarter);
      for (size_t i = 0; i < quarter; ++i) {
        (*nv21)[luma + 2 * i] = p[luma + i];
        (*nv21)[luma + 2 * i + 1] = p[luma + quarter + i];
      }
    }
    EXPECT_EQ(pin.Enqueue(d), ERROR_SUCCESS);
    return true;
  }
  camclient::Camera camera_;
};

// The lens step whose focus is sharpest on the chart.
uint32_t SharpestStep() {
  uint32_t best = 0;
  for (uint32_t s = 1; s <= kLastStep; ++s)
    if (BoardFocusContrast(s * kCodesPerStep) > BoardFocusContrast(best * kCodesPerStep)) best = s;
  return best;
}

// A single focus run over the whole frame, from lens positions across the
// travel, ends within 30 preview frames (a second at 30 frames a second) on
// the sharpest step, and the lens does not go back over the peak again once
// the run has narrowed in on it.
TEST_F(ThreeABoardTest, FocusEndsWithinASecondOnTheSharpestStepFromAnyStart) {
  const struct {
    const char* name;
    uint32_t startStep;
  } kCases[] = {
      {"from home (far end)", 0},
      {"from between home and the peak", 8},
      {"from the sharpest step", SharpestStep()},
      {"from past the peak", 26},
      {"from the near end", kLastStep},
  };
  AsyncQueueReader notifications;
  ASSERT_EQ(notifications.Open(), ERROR_SUCCESS);
  ASSERT_EQ(camera_.Open(), ERROR_SUCCESS);
  Pin preview;
  Start(camera_, preview, CS_PIN_PREVIEW, kW, kH, kFourccYV12, BufferMemory::Contiguous);
  // Exposure and white balance find the scene first; the run measures the whole frame.
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(NextFrame(preview));
  ASSERT_EQ(camera_.SetValue(PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_FOCUS_RECT_MODE, 0), ERROR_SUCCESS);
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(camera_.SetValue(PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_FOCUS_STEP, int32_t(c.startStep)), ERROR_SUCCESS);
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(NextFrame(preview));
    BoardFrameInfo info;
    ASSERT_TRUE(BoardSensorLatestFrame(&info));
    ASSERT_EQ(info.lensCode, c.startStep * kCodesPerStep) << "the manual step placed the lens";
    AsyncCameraMessage m{};
    while (notifications.Read(&m, 0) == ERROR_SUCCESS) {
    }
    BoardSensorClearLogs();
    ASSERT_EQ(camera_.SetValue(PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_FOCUS_CONTROL, 1), ERROR_SUCCESS) << "single focus";
    int frames = 0;
    DWORD r = ERROR_TIMEOUT;
    while (r != ERROR_SUCCESS && frames < 200) {
      ASSERT_TRUE(NextFrame(preview));
      ++frames;
      r = notifications.Read(&m, 0);
    }
    ASSERT_EQ(r, ERROR_SUCCESS) << "no focus notice";
    EXPECT_EQ(m.event, 0u);
    EXPECT_EQ(m.status, 0u) << "focused";
    EXPECT_LE(frames, 30) << "preview frames from the request to the notice";
    // The lens rests on the sharpest step.
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(NextFrame(preview));
    ASSERT_TRUE(BoardSensorLatestFrame(&info));
    EXPECT_EQ(info.lensCode, SharpestStep() * kCodesPerStep);
    // No second hunt: from home, the lens crosses the sharpest code at most
    // three times (on the sweep past the peak, and twice while the bracket
    // around it closes).
    int crossings = 0;
    std::string moves;
    const int peak = int(kSceneFocusLensCode);
    int at = -1;
    for (const BoardLensMove& move : BoardLensHistory()) {
      if (!move.moved) continue;
      moves += " " + std::to_string(move.to);
      if (at >= 0 && (at - peak) * (int(move.to) - peak) < 0) ++crossings;
      at = int(move.to);
    }
    ASSERT_FALSE(moves.empty());
    EXPECT_EQ(moves.substr(0, 2), " 0") << "the run starts at home";
    std::printf("%s: %d frames, lens codes%s\n", c.name, frames, moves.c_str());
    EXPECT_LE(crossings, 3) << "lens codes" << moves;
  }
  ASSERT_EQ(preview.SetState(CSSTATE_STOP), ERROR_SUCCESS);
}

// The grey patch of a preview frame, in CIELAB.
camera::test::Lab GreyPatch(const std::vector<uint8_t>& nv21) {
  const BoardChartPatch& p = kChartPatches[21];
  const uint32_t x = uint32_t(double(p.centreX) * kW / kSensorArrayWidth);
  const uint32_t y = uint32_t(double(p.centreY) * kH / kSensorArrayHeight);
  const uint32_t half = std::max<uint32_t>(1, uint32_t(double(kChartPatchSize) * kW / kSensorArrayWidth / 4));
  return camera::test::SrgbToLab(camera::test::Nv21MeanRgb(nv21.data(), kW, kH, x, y, half));
}
// CIE relative luminance of a lightness.
double Luminance(double l) { return l > 8.0 ? std::pow((l + 16.0) / 116.0, 3.0) : l / 903.3; }

// The board's four light sources.
struct Light {
  const char* name;
  BoardIlluminant light;
};
const Light kLights[] = {
    {"neutral", kIlluminantNeutral},
    {"daylight", kIlluminantDaylight},
    {"incandescent", kIlluminantIncandescent},
    {"fluorescent", kIlluminantFluorescent},
};

// A preview's first frames under each light: the first within one EV of where
// the exposure comes to rest, none blown out, and exposure and white balance
// at rest (the grey patch within 2 of its final L*, a* and b*) from the fifth
// frame (frame 4) on.
TEST_F(ThreeABoardTest, ThePreviewStartsNearItsRestingExposureAndIsAtRestByFrameFour) {
  for (const Light& c : kLights) {
    SCOPED_TRACE(c.name);
    BoardSceneSetIlluminant(c.light);
    camclient::Camera camera;
    ASSERT_EQ(camera.Open(), ERROR_SUCCESS);
    Pin preview;
    Start(camera, preview, CS_PIN_PREVIEW, kW, kH, kFourccYV12, BufferMemory::Contiguous);
    constexpr int kFrames = 40;
    std::vector<camera::test::Lab> grey;
    std::vector<uint8_t> f;
    for (int i = 0; i < kFrames; ++i) {
      ASSERT_TRUE(NextFrame(preview, &f));
      grey.push_back(GreyPatch(f));
    }
    const camera::test::Lab rest = grey.back();
    std::string seen;
    for (int i = 0; i < 8; ++i) {
      char line[64];
      std::snprintf(line, sizeof line, " [%d] %.1f %.1f %.1f", i, grey[i].l, grey[i].a, grey[i].b);
      seen += line;
    }
    std::printf("%s: at rest L* %.1f a* %.1f b* %.1f; first frames%s\n", c.name, rest.l, rest.a, rest.b, seen.c_str());
    const double ratio = Luminance(grey[0].l) / Luminance(rest.l);
    EXPECT_GE(ratio, 0.5) << "frame 0 more than one EV under" << seen;
    EXPECT_LE(ratio, 2.0) << "frame 0 more than one EV over" << seen;
    for (int i = 0; i < kFrames; ++i) EXPECT_LT(grey[i].l, 90.0) << "frame " << i << " blown out";
    for (int i = 4; i < kFrames; ++i) {
      EXPECT_NEAR(grey[i].l, rest.l, 2.0) << "frame " << i << seen;
      EXPECT_NEAR(grey[i].a, rest.a, 2.0) << "frame " << i << seen;
      EXPECT_NEAR(grey[i].b, rest.b, 2.0) << "frame " << i << seen;
    }
    ASSERT_EQ(preview.SetState(CSSTATE_STOP), ERROR_SUCCESS);
  }
}

// The still under each light with automatic white balance, after a preview
// that lets exposure and white balance find the scene: the grey patch at L*
// 50 +- 1.5 and the 24 patches within a mean CIEDE2000 of 3 of the chart's
// published colours. The stills are kept in the build directory to look at.
TEST_F(ThreeABoardTest, TheStillsGreyIsMidGreyAndItsColoursTrueUnderEveryLight) {
  char dir[] = "/tmp/threeastill_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  for (const Light& c : kLights) {
    SCOPED_TRACE(c.name);
    BoardSceneSetIlluminant(c.light);
    const std::string jpg = std::string(OSTREL_OUTPUT_DIR) + "/threea-still-" + c.name + ".jpg";
    std::vector<std::string> args = {"camcapture", "--stream", "20", std::string(dir) + "/preview.y4m", "--size",
                                     "320x240", "--still-size", "640x480", "--still", jpg};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    std::FILE* sink = std::tmpfile();
    ASSERT_EQ(RunCamCapture(int(argv.size()), argv.data(), sink, sink), kCamCaptureOk);
    std::fclose(sink);
    std::vector<uint8_t> jpeg;
    ASSERT_TRUE(hostsvc::test::ReadFile(jpg, jpeg));
    const hostsvc::test::Decoded d = hostsvc::test::DecodeWithDjpeg(jpeg, false);
    ASSERT_TRUE(d.ok) << d.error;
    const double scale = double(d.width) / double(kSensorArrayWidth);
    auto patch = [&](const BoardChartPatch& p) {
      const int x0 = int(p.centreX * scale), y0 = int(p.centreY * scale), half = int(kChartPatchSize * scale / 4);
      double sum[3] = {};
      int n = 0;
      for (int y = y0 - half; y <= y0 + half; ++y)
        for (int x = x0 - half; x <= x0 + half; ++x, ++n)
          for (int k = 0; k < 3; ++k) sum[k] += d.pixels[(size_t(y) * d.width + x) * 3 + k];
      return camera::test::SrgbToLab({sum[0] / n, sum[1] / n, sum[2] / n});
    };
    double total = 0;
    for (const BoardChartPatch& p : kChartPatches)
      total += camera::test::Ciede2000(camera::test::SrgbToLab({double(p.srgb[0]), double(p.srgb[1]), double(p.srgb[2])}),
                                       patch(p));
    const camera::test::Lab grey = patch(kChartPatches[21]);
    std::printf("%s: grey L* %.1f a* %.1f b* %.1f, mean dE00 %.2f\n", c.name, grey.l, grey.a, grey.b, total / 24);
    EXPECT_NEAR(grey.l, 50.0, 1.5);
    EXPECT_LE(total / 24, 3.0);
  }
  std::string command = std::string("rm -rf ") + dir;
  (void)std::system(command.c_str());
}

// A still through the capture tool with the given controls (NAME=VALUE); its JPEG.
std::vector<uint8_t> ToolStill(const std::vector<std::string>& sets, const std::string& path) {
  std::vector<std::string> args = {"camcapture"};
  for (const std::string& s : sets) args.insert(args.end(), {"--set", s});
  args.insert(args.end(), {"--still-size", "640x480", "--still", path});
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  std::FILE* sink = std::tmpfile();
  const int r = RunCamCapture(int(argv.size()), argv.data(), sink, sink);
  std::fclose(sink);
  std::vector<uint8_t> jpeg;
  EXPECT_EQ(r, kCamCaptureOk);
  EXPECT_TRUE(hostsvc::test::ReadFile(path, jpeg));
  return jpeg;
}

// The scene type the still's EXIF names follows the best-shot mode set: the
// driver's values are the scenes in alphabetical order, and the engine's
// scenes 1, 3 and 4 are landscapes, 5 night and 6 portrait.
TEST_F(ThreeABoardTest, TheStillsSceneTypeFollowsTheBestShotMode) {
  const struct {
    const char* name;
    const char* set;
    const char* sceneType;  // 0 standard, 1 landscape, 2 portrait, 3 night
  } kCases[] = {
      {"best shot off", "bestshot=0", "0"},          {"value 1 (scene 7): standard", "bestshot=1", "0"},
      {"value 2 (scene 3): landscape", "bestshot=2", "1"}, {"value 5 (scene 1): landscape", "bestshot=5", "1"},
      {"value 6 (scene 5): night", "bestshot=6", "3"},     {"value 7 (scene 6): portrait", "bestshot=7", "2"},
      {"value 10 (scene 4): landscape", "bestshot=10", "1"}, {"back off", "bestshot=0", "0"},
  };
  const std::string path = hostsvc::test::TempPath(".jpg");
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> jpeg = ToolStill({c.set}, path);
    std::map<std::string, std::string> tags = hostsvc::test::ReadExif(jpeg);
    EXPECT_EQ(tags["ExifIFD:SceneCaptureType"], c.sceneType);
  }
  std::remove(path.c_str());
}

}  // namespace
