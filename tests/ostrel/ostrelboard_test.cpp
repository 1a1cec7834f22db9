// The whole road on the simulated board: the device manager loads the driver, a
// capture client opens CAM1: and PIN1:, the real engine (from the image's modules)
// streams the sensor's chart through the VFE into the client's buffers, and a still
// comes back as a JPEG with its EXIF block and thumbnail. Then the same through the
// camcapture tool. And with the driver's hidden thumbnail pin: a still's review image
// on the preview queue, looked at as a picture.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "board_sensor.h"
#include "board_sim.h"
#include "board_vfe.h"
#include "camcapture.h"
#include "cameraportformat.h"
#include "camclient.h"
#include "chartcolour.h"
#include "devmgr.h"
#include "orbhost_test.h"
#include "wince_sim.h"

namespace {

using camclient::BufferMemory;
using camclient::Pin;

constexpr DWORD kWait = 20000;  // generous: the machine is shared and the board runs in real time

class OstrelBoardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DevMgrDeactivateAll();
    OrbhostTest_UnregisterAllClasses();
    ASSERT_TRUE(CeSimReloadRegistry());
    BoardSimReset();
    BoardVfeReset();
    BoardSceneSetIlluminant(kIlluminantNeutral);
    BoardSetSpeedUp(4);
    DevMgrActivateBuiltIn();
    ASSERT_NE(DevMgrFindDevice(u"CAM1:"), nullptr);
  }
  void TearDown() override {
    DevMgrDeactivateAll();
    BoardSetSpeedUp(1);
    BoardVfeReset();
    BoardSimReset();
  }

  // Start a pin of the given size and FOURCC (0: any), its buffers queued and running.
  void Start(const camclient::Camera& camera, Pin& pin, uint32_t id, uint32_t w, uint32_t h, uint32_t fourcc,
             BufferMemory memory) {
    ASSERT_EQ(pin.Open(), ERROR_SUCCESS);
    ASSERT_EQ(pin.Instantiate(id), ERROR_SUCCESS);
    std::vector<CS_DATARANGE_VIDEO> ranges;
    ASSERT_EQ(camera.PinDataRanges(id, &ranges), ERROR_SUCCESS);
    const CS_DATARANGE_VIDEO* range = camclient::FindRange(ranges, w, h, fourcc);
    ASSERT_NE(range, nullptr);
    ASSERT_EQ(pin.SetFormat(camclient::FormatOfRange(*range)), ERROR_SUCCESS);
    ASSERT_EQ(pin.SetState(CSSTATE_PAUSE), ERROR_SUCCESS);
    ASSERT_EQ(pin.AllocateBuffers(memory), ERROR_SUCCESS);
    ASSERT_EQ(pin.SetState(CSSTATE_RUN), ERROR_SUCCESS);
    ASSERT_EQ(pin.EnqueueAll(), ERROR_SUCCESS);
  }

  // The JPEG's parts: the EXIF block holds `text`, a thumbnail sits inside it, and the
  // frame header gives the image size.
  static void CheckJpeg(const uint8_t* p, size_t size, const char* text, uint32_t w, uint32_t h) {
    ASSERT_GT(size, 1000u);
    ASSERT_EQ(p[0], 0xFF);
    ASSERT_EQ(p[1], 0xD8);
    EXPECT_EQ(p[size - 2], 0xFF);
    EXPECT_EQ(p[size - 1], 0xD9);
    bool exif = false, thumbnail = false, frame = false;
    for (size_t at = 2; at + 4 <= size && p[at] == 0xFF;) {
      const uint8_t marker = p[at + 1];
      const size_t length = size_t(p[at + 2]) << 8 | p[at + 3];
      if (marker == 0xE1 && std::memcmp(p + at + 4, "Exif\0\0", 6) == 0) {
        exif = true;
        std::string block(reinterpret_cast<const char*>(p + at + 4), length - 2);
        EXPECT_NE(block.find(text), std::string::npos) << "the tag the client set";
        thumbnail = block.find("\xFF\xD8") != std::string::npos;
      }
      if (marker == 0xC0) {
        frame = true;
        EXPECT_EQ((uint32_t(p[at + 5]) << 8) | p[at + 6], h);
        EXPECT_EQ((uint32_t(p[at + 7]) << 8) | p[at + 8], w);
      }
      if (marker == 0xDA) break;
      at += 2 + length;
    }
    EXPECT_TRUE(exif);
    EXPECT_TRUE(thumbnail);
    EXPECT_TRUE(frame);
  }
};

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
  Pin still;
  Start(camera, still, CS_PIN_STILL, 2592, 1944, CAMERA_FOURCC_IJPG, BufferMemory::Contiguous);
  static const char make[] = "Ostrel board test";
  uint32_t item[4] = {0x010F, sizeof make, 2, uint32_t(uintptr_t(make))};
  ASSERT_EQ(still.Property(VANTOR_PROPSETID_EXIF, 0, CSPROPERTY_TYPE_SET, item, sizeof item), ERROR_SUCCESS);
  ASSERT_EQ(camera.Trigger(CS_PIN_STILL), ERROR_SUCCESS);
  CS_STREAM_DESCRIPTOR* d = nullptr;
  ASSERT_EQ(still.NextBuffer(&d, kWait), ERROR_SUCCESS);
  CheckJpeg(Pin::Data(*d), d->CsStreamHeader.DataUsed, make, 2592, 1944);
  EXPECT_EQ(still.SetState(CSSTATE_STOP), ERROR_SUCCESS);
  EXPECT_EQ(still.DeallocateBuffers(), ERROR_SUCCESS);
  EXPECT_EQ(camera.Close(), ERROR_SUCCESS);
}

// With "ThumbnailPinSupport" the preview pin brings the hidden thumbnail pin; a still
// then leaves its review image, the preview-sized picture the engine made for the
// JPEG's thumbnail, in a preview buffer on the preview queue: in place (NV21, the
// client's contiguous memory) or copied as YV12 (plain memory).
struct ReviewCase {
  const char* name;
  BufferMemory memory;
};

class OstrelBoardReviewTest : public OstrelBoardTest, public ::testing::WithParamInterface<ReviewCase> {};

// An NV21 copy of a review frame in the client's buffer (YV12: V plane then U plane).
std::vector<uint8_t> AsNv21(const uint8_t* p, uint32_t w, uint32_t h, bool yv12) {
  const size_t n = size_t(w) * h;
  std::vector<uint8_t> nv21(p, p + n * 3 / 2);
  if (yv12)
    for (size_t i = 0; i < n / 4; ++i) nv21[n + 2 * i] = p[n + i], nv21[n + 2 * i + 1] = p[n + n / 4 + i];
  return nv21;
}

TEST_P(OstrelBoardReviewTest, AStillLeavesItsReviewFrameOnThePreviewQueue) {
  const ReviewCase& c = GetParam();
  constexpr uint32_t kW = 640, kH = 480;
  HKEY key = nullptr;
  DWORD disposition = 0, on = 1;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\Capture\\Pin", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            &disposition),
            ERROR_SUCCESS);
  RegSetValueExW(key, u"ThumbnailPinSupport", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on), sizeof on);
  RegCloseKey(key);
  camclient::AsyncQueueReader notices;
  ASSERT_EQ(notices.Open(), ERROR_SUCCESS);
  camclient::Camera camera;
  ASSERT_EQ(camera.Open(), ERROR_SUCCESS);
  {
    Pin preview, still;
    Start(camera, preview, CS_PIN_PREVIEW, kW, kH, 0, c.memory);
    CS_STREAM_DESCRIPTOR* d = nullptr;
    for (int i = 0; i < 4; ++i) {
      ASSERT_EQ(preview.NextBuffer(&d, kWait), ERROR_SUCCESS) << "preview frame " << i;
      ASSERT_EQ(preview.Enqueue(d), ERROR_SUCCESS);
    }
    Start(camera, still, CS_PIN_STILL, 2592, 1944, CAMERA_FOURCC_IJPG, BufferMemory::Contiguous);
    CeSimDebugCaptureBegin();
    ASSERT_EQ(camera.Trigger(CS_PIN_STILL), ERROR_SUCCESS);
    ASSERT_EQ(still.NextBuffer(&d, kWait), ERROR_SUCCESS) << "the still";
    EXPECT_EQ(Pin::Data(*d)[0], 0xFF);
    EXPECT_EQ(Pin::Data(*d)[1], 0xD8);
    EXPECT_GT(d->CsStreamHeader.DataUsed, 1000u);

    CS_STREAM_DESCRIPTOR* review = nullptr;
    ASSERT_EQ(preview.ReviewFrame(&review, kWait), ERROR_SUCCESS) << "the review frame";
    EXPECT_EQ(review->CsStreamHeader.DataUsed, kW * kH * 3 / 2);
    const std::vector<uint8_t> nv21 = AsNv21(Pin::Data(*review), kW, kH, c.memory == BufferMemory::Heap);
    const std::string png = std::string(OSTREL_OUTPUT_DIR) + "/ostrel-review-" + c.name + ".png";
    EXPECT_TRUE(camera::test::WriteRgbPng(png, camera::test::Nv21ToRgb(nv21.data(), kW, kH), kW, kH)) << png;
    // The chart: its patches where the preview shows them, in their colours.
    auto patch = [&](int index) {
      const BoardChartPatch& p = kChartPatches[index];
      return camera::test::Nv21MeanRgb(nv21.data(), kW, kH, p.centreX * kW / kSensorArrayWidth,
                                       p.centreY * kH / kSensorArrayHeight, 8);
    };
    const camera::test::Rgb white = patch(18), black = patch(23), red = patch(14), blue = patch(12);
    EXPECT_GT(white.g, black.g + 60) << "white against black";
    EXPECT_GT(red.r, red.b + 30) << "the red patch";
    EXPECT_GT(blue.b, blue.r + 30) << "the blue patch";

    AsyncCameraMessage m{};
    ASSERT_EQ(notices.Read(&m, kWait), ERROR_SUCCESS);
    EXPECT_EQ(m.event, 1u) << "the post-capture notice of the thumbnail pin";
    EXPECT_EQ(m.size, 20u);
    EXPECT_EQ(m.reserved1, kW * kH * 2);
    // The notice comes once the thumbnail pin has its frame; it found a preview buffer for it.
    EXPECT_FALSE(CeSimDebugCapturedContains("[Thumbnail] No buffer available from client"));
    CeSimDebugCaptureEnd();

    // The review buffer goes back; the preview restarts and streams on.
    ASSERT_EQ(preview.Enqueue(review), ERROR_SUCCESS);
    ASSERT_EQ(still.Enqueue(d), ERROR_SUCCESS);
    CSPROPERTY header{};
    uint8_t none = 0;
    ASSERT_EQ(camera.Property(KORCSPROPSETID_EX_CAMERACONTROL_ADV, 5, CSPROPERTY_TYPE_SET, &header, sizeof header,
                              &none, sizeof none),
              ERROR_SUCCESS);
    for (int i = 0; i < 4; ++i) {
      ASSERT_EQ(preview.NextBuffer(&d, kWait), ERROR_SUCCESS) << "preview frame " << i << " after the still";
      EXPECT_EQ(d->CsStreamHeader.DataUsed, kW * kH * 3 / 2);
      ASSERT_EQ(preview.Enqueue(d), ERROR_SUCCESS);
    }
    EXPECT_EQ(still.SetState(CSSTATE_STOP), ERROR_SUCCESS);
    EXPECT_EQ(preview.SetState(CSSTATE_STOP), ERROR_SUCCESS);
    EXPECT_EQ(still.DeallocateBuffers(), ERROR_SUCCESS);
    EXPECT_EQ(preview.DeallocateBuffers(), ERROR_SUCCESS);
  }
  EXPECT_EQ(camera.Close(), ERROR_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(Board, OstrelBoardReviewTest,
                         ::testing::Values(ReviewCase{"nv21-zero-copy", BufferMemory::Contiguous},
                                           ReviewCase{"yv12-copied", BufferMemory::Heap}),
                         [](const ::testing::TestParamInfo<ReviewCase>& i) {
                           std::string name = i.param.name;
                           for (char& ch : name)
                             if (ch == '-') ch = '_';
                           return name;
                         });

TEST_F(OstrelBoardTest, TheCaptureToolStreamsAndTakesAStill) {
  char dir[] = "/tmp/ostrelboard_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string y4m = std::string(dir) + "/preview.y4m", jpg = std::string(dir) + "/still.jpg";
  std::vector<std::string> args = {"camcapture", "--stream", "6", y4m, "--size", "320x240", "--still", jpg,
                                   "--exif", "0x010F=Vantor tool"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  EXPECT_EQ(RunCamCapture(int(argv.size()), argv.data(), out, err), kCamCaptureOk);
  std::fclose(out);
  std::fclose(err);
  std::ifstream a(y4m, std::ios::binary), b(jpg, std::ios::binary);
  std::string stream((std::istreambuf_iterator<char>(a)), {}), jpeg((std::istreambuf_iterator<char>(b)), {});
  const std::string header = "YUV4MPEG2 W320 H240 ";
  EXPECT_EQ(stream.compare(0, header.size(), header), 0);
  EXPECT_EQ(stream.size(), stream.find('\n') + 1 + 6 * (6 + 320 * 240 * 3 / 2));
  CheckJpeg(reinterpret_cast<const uint8_t*>(jpeg.data()), jpeg.size(), "Vantor tool", 2592, 1944);
  std::remove(y4m.c_str());
  std::remove(jpg.c_str());
  rmdir(dir);
}

}  // namespace
