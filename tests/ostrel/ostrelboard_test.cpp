// The whole road on the simulated board: the device manager loads the driver, a
// capture client opens CAM1: and PIN1:, the real engine (from the image's modules)
// streams the sensor's chart through the VFE into the client's buffers, and a still
// comes back as a JPEG with its EXIF block and thumbnail. Then the same through the
// camcapture tool.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "camcapture.h"
#include "jpegcheck.h"
#include "ostrelboardfixture.h"

namespace {

using ostrel_board::OstrelBoardTest;
using ostrel_board::kWait;
using ostrel_board::ToolText;
using camclient::BufferMemory;
using camclient::Pin;

TEST_F(OstrelBoardTest, PreviewFramesAndAJpegStillThroughTheDriver) {
  camclient::Camera camera;
  ASSERT_EQ(camera.Open(), ERROR_SUCCESS);
  {
    Pin preview;
    Start(camera, preview, CS_PIN_PREVIEW, 640, 480, 0, BufferMemory::Contiguous);
    int64_t lastPicture = 0;
    for (int i = 0; i < 8; ++i) {
      CS_STREAM_DESCRIPTOR* d = nullptr;
      ASSERT_EQ(preview.NextBuffer(&d, kWait), ERROR_SUCCESS) << "frame " << i;
      EXPECT_EQ(d->CsStreamHeader.DataUsed, 640u * 480 * 3 / 2);
      // The port's frame counter when the frame was handed over: it never goes back.
      EXPECT_GE(d->CsFrameInfo.PictureNumber, lastPicture) << "frame " << i;
      EXPECT_GT(d->CsFrameInfo.PictureNumber, 0) << "frame " << i;
      lastPicture = d->CsFrameInfo.PictureNumber;
      // The chart: its patches and ramp make the luma far from flat.
      const uint8_t* y = Pin::Data(*d);
      uint32_t low = 255, high = 0;
      for (uint32_t at = 0; at < 640 * 480; at += 97) low = std::min<uint32_t>(low, y[at]), high = std::max<uint32_t>(high, y[at]);
      EXPECT_GT(high - low, 64u) << "frame " << i;
      ASSERT_EQ(preview.Enqueue(d), ERROR_SUCCESS);
    }
    ASSERT_EQ(preview.SetState(CSSTATE_STOP), ERROR_SUCCESS);
    ASSERT_EQ(preview.DeallocateBuffers(), ERROR_SUCCESS);
  }
  TakeJpegStill(camera, "Ostrel board test");
  EXPECT_EQ(camera.Close(), ERROR_SUCCESS);
}

// Another client setting brightness back to back, on the camera's own handle, while
// the preview runs: the preview loses no frame to it. The preview client gives each
// buffer straight back and streams on until the setter has finished as many sets as
// it has taken frames, so the sets and the frames interleave however the threads are
// scheduled; the sensor waits for the client's buffers (client lock-step), so a
// loaded machine that runs the client late costs no frame either. Every frame
// arrives, numbered one after the other, with no drop counted and no discontinuity
// after the first, and every set succeeds, with no lock-step wait running out.
TEST_F(OstrelBoardTest, ABackToBackPropertySetterCostsThePreviewNoFrame) {
  camclient::Camera camera;
  ASSERT_EQ(camera.Open(), ERROR_SUCCESS);
  BoardVfeSetClientLockStep(true, kVfeOutput1);
  {
    Pin preview;
    Start(camera, preview, CS_PIN_PREVIEW, 320, 240, 0, BufferMemory::Contiguous);
    std::atomic<bool> stop{false};
    std::atomic<uint32_t> sets{0}, failed{0};
    std::thread setter([&] {
      for (int32_t i = 0; !stop; ++i) {
        if (camera.SetValue(PROPSETID_VIDCAP_VIDEOPROCAMP, 0, (i & 1) ? 40 : -40) != ERROR_SUCCESS) ++failed;
        ++sets;
      }
    });
    int64_t firstPicture = -1, firstDrops = -1;
    const uint32_t kFrames = 24;
    for (uint32_t i = 0; i < kFrames || sets < i; ++i) {
      CS_STREAM_DESCRIPTOR* d = nullptr;
      ASSERT_EQ(preview.NextBuffer(&d, kWait), ERROR_SUCCESS) << "frame " << i << ", " << sets << " sets";
      if (i == 0) {
        firstPicture = d->CsFrameInfo.PictureNumber;
        firstDrops = d->CsFrameInfo.DropCount;
      } else {
        EXPECT_EQ(d->CsFrameInfo.PictureNumber, firstPicture + i) << "frame " << i;
        EXPECT_EQ(d->CsFrameInfo.DropCount, firstDrops) << "frame " << i;
        EXPECT_FALSE(d->CsStreamHeader.OptionsFlags & CSSTREAM_HEADER_OPTIONSF_DATADISCONTINUITY) << "frame " << i;
      }
      ASSERT_EQ(preview.Enqueue(d), ERROR_SUCCESS) << "frame " << i;
      BoardVfeClientReturnedFrame();
    }
    stop = true;
    setter.join();
    EXPECT_EQ(failed, 0u) << "of " << sets << " sets";
    EXPECT_EQ(BoardVfeCounts().serviceTimeouts, 0u) << BoardVfeLastTimeout();
    EXPECT_GE(BoardVfeCounts().framesDone[kVfeOutput1], kFrames) << "the preview's path";
    ASSERT_EQ(preview.SetState(CSSTATE_STOP), ERROR_SUCCESS);
    ASSERT_EQ(preview.DeallocateBuffers(), ERROR_SUCCESS);
  }
  EXPECT_EQ(camera.Close(), ERROR_SUCCESS);
}

// The main job: stream, focus while streaming (the lens ends at the chart's
// best focus), and a still.
TEST_F(OstrelBoardTest, TheCaptureToolStreamsFocusesAndTakesAStill) {
  BoardSetSpeedUp(1);
  // The focus climb reads each frame's statistics before the next frame starts, as on
  // the phone, however slowly a loaded machine runs the board.
  BoardVfeSetStatsLockStep(true);
  char dir[] = "/tmp/ostrelboard_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string y4m = std::string(dir) + "/preview.y4m", jpg = std::string(dir) + "/still.jpg";
  std::vector<std::string> args = {"camcapture", "--stream", "6", y4m, "--size", "320x240", "--focus",
                                   "--still", jpg, "--exif", "0x010F=Vantor tool"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  EXPECT_EQ(RunCamCapture(int(argv.size()), argv.data(), out, err), kCamCaptureOk) << ToolText(err);
  std::fclose(out);
  std::fclose(err);
  std::ifstream a(y4m, std::ios::binary), b(jpg, std::ios::binary);
  std::string stream((std::istreambuf_iterator<char>(a)), {}), jpeg((std::istreambuf_iterator<char>(b)), {});
  const std::string header = "YUV4MPEG2 W320 H240 ";
  EXPECT_EQ(stream.compare(0, header.size(), header), 0);
  EXPECT_EQ(stream.size(), stream.find('\n') + 1 + 6 * (6 + 320 * 240 * 3 / 2));
  CheckJpeg(reinterpret_cast<const uint8_t*>(jpeg.data()), jpeg.size(), "Vantor tool", 2592, 1944);
  // In focus the chart's fine bars keep their contrast in the still; out of
  // focus they fade into grey (some 20 luma steps apart).
  hostsvc::test::Decoded gray = hostsvc::test::DecodeWithDjpeg(std::vector<uint8_t>(jpeg.begin(), jpeg.end()), true);
  ASSERT_TRUE(gray.ok) << gray.error;
  ASSERT_EQ(gray.width, 2592u);
  uint8_t lo = 255, hi = 0;
  for (uint32_t y = kChartFineDetail.y + 200; y < kChartFineDetail.y + 300; ++y) {
    for (uint32_t x = kChartFineDetail.x + 64; x < kChartFineDetail.x + 384; ++x) {
      lo = std::min(lo, gray.pixels[size_t(y) * gray.width + x]);
      hi = std::max(hi, gray.pixels[size_t(y) * gray.width + x]);
    }
  }
  EXPECT_GT(hi - lo, 150) << "the fine bars between luma " << int(lo) << " and " << int(hi);
  std::remove(y4m.c_str());
  std::remove(jpg.c_str());
  rmdir(dir);
}

}  // namespace
