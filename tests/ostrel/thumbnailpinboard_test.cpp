// The driver's hidden thumbnail pin on the simulated board, through the real engine:
// with "ThumbnailPinSupport" a still leaves its review image in a preview buffer on the
// preview queue, which is written as a picture to look at and checked for the chart.
#include <string>
#include <vector>

#include "chartcolour.h"
#include "ostrelboardfixture.h"

namespace {

using camclient::BufferMemory;
using camclient::Pin;
using ostrel_board::kWait;
using ostrel_board::OstrelBoardTest;

// With "ThumbnailPinSupport" the preview pin brings the hidden thumbnail pin; a still
// then leaves its review image, the preview-sized picture the engine made for the
// JPEG's thumbnail, in a preview buffer on the preview queue: in place (NV21, the
// client's contiguous memory) or copied as YV12 (plain memory).
struct ReviewCase {
  const char* name;
  BufferMemory memory;
};

class ThumbnailPinBoardTest : public OstrelBoardTest, public ::testing::WithParamInterface<ReviewCase> {};

// An NV21 copy of a review frame in the client's buffer (YV12: V plane then U plane).
std::vector<uint8_t> AsNv21(const uint8_t* p, uint32_t w, uint32_t h, bool yv12) {
  const size_t n = size_t(w) * h;
  std::vector<uint8_t> nv21(p, p + n * 3 / 2);
  if (yv12)
    for (size_t i = 0; i < n / 4; ++i) nv21[n + 2 * i] = p[n + i], nv21[n + 2 * i + 1] = p[n + n / 4 + i];
  return nv21;
}

TEST_P(ThumbnailPinBoardTest, AStillLeavesItsReviewFrameOnThePreviewQueue) {
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
    const std::vector<uint8_t> nv21 = AsNv21(Pin::Data(*review), kW, kH, true);
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

INSTANTIATE_TEST_SUITE_P(Board, ThumbnailPinBoardTest,
                         ::testing::Values(ReviewCase{"nv21-zero-copy", BufferMemory::Contiguous},
                                           ReviewCase{"yv12-copied", BufferMemory::Heap}),
                         [](const ::testing::TestParamInfo<ReviewCase>& i) {
                           std::string name = i.param.name;
                           for (char& ch : name)
                             if (ch == '-') ch = '_';
                           return name;
                         });

}  // namespace
