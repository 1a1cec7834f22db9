// The camera used the way a phone uses it all day: open CAM1:, preview a few frames,
// take a JPEG still, stop, give the buffers back, close; again and again. Each round
// must leave nothing behind (the framework's tagged heap, contiguous memory, host
// objects and threads back where they were), every buffer must come home, and the
// camera must open again. The rounds use the smallest preview and still the pins
// offer, and every tenth still is full size, so that a round stays cheap under the
// sanitizers while the big buffers are soaked too. OSTREL_SOAK_CYCLES sets the
// number of rounds (the "long" run sets 1000).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "ostrelboardfixture.h"

namespace {

using camclient::BufferMemory;
using camclient::Pin;
using ostrel_board::BufferLedger;
using ostrel_board::kWait;
using ostrel_board::OstrelBoardTest;
using ostrel_board::Resources;

constexpr int kDefaultCycles = 100;
constexpr int kPreviewFrames = 3;
constexpr int kFullStillEvery = 10;

int Cycles() {
  const char* text = std::getenv("OSTREL_SOAK_CYCLES");
  const int n = text ? std::atoi(text) : 0;
  return n > 0 ? n : kDefaultCycles;
}

class SoakTest : public OstrelBoardTest {
 protected:
  void SetUp() override {
    OstrelBoardTest::SetUp();
    // A round prints thousands of driver and engine lines: keep the log readable.
    CeSimDebugSetQuiet(TRUE);
  }
  void TearDown() override {
    CeSimDebugSetQuiet(FALSE);
    OstrelBoardTest::TearDown();
  }

  // The sizes the rounds use: the smallest preview, the smallest and largest stills.
  void PickSizes() {
    camclient::Camera camera;
    ASSERT_EQ(camera.Open(), ERROR_SUCCESS);
    std::vector<CS_DATARANGE_VIDEO> ranges;
    ASSERT_EQ(camera.PinDataRanges(CS_PIN_PREVIEW, &ranges), ERROR_SUCCESS);
    const CS_DATARANGE_VIDEO* preview = ostrel_board::SmallestRange(ranges, 0);
    ASSERT_NE(preview, nullptr);
    previewW_ = uint32_t(preview->VideoInfoHeader.bmiHeader.biWidth);
    previewH_ = uint32_t(std::abs(preview->VideoInfoHeader.bmiHeader.biHeight));
    previewFourcc_ = camclient::RangeFourcc(*preview);
    ASSERT_EQ(camera.PinDataRanges(CS_PIN_STILL, &ranges), ERROR_SUCCESS);
    const CS_DATARANGE_VIDEO* still = ostrel_board::SmallestRange(ranges, CAMERA_FOURCC_IJPG);
    ASSERT_NE(still, nullptr);
    stillW_[0] = uint32_t(still->VideoInfoHeader.bmiHeader.biWidth);
    stillH_[0] = uint32_t(std::abs(still->VideoInfoHeader.bmiHeader.biHeight));
    still = camclient::FindRange(ranges, 0, 0, CAMERA_FOURCC_IJPG, true);
    ASSERT_NE(still, nullptr);
    stillW_[1] = uint32_t(still->VideoInfoHeader.bmiHeader.biWidth);
    stillH_[1] = uint32_t(std::abs(still->VideoInfoHeader.bmiHeader.biHeight));
    ASSERT_EQ(camera.Close(), ERROR_SUCCESS);
  }

  // One round, with the full-size still or the smallest; `round` names it in every failure.
  void Round(int round, bool fullStill) {
    SCOPED_TRACE("round " + std::to_string(round) + (fullStill ? " (full-size still)" : ""));
    const uint32_t stillW = stillW_[fullStill], stillH = stillH_[fullStill];
    camclient::Camera camera;
    ASSERT_EQ(camera.Open(), ERROR_SUCCESS) << "the camera does not open again";
    {
      Pin preview;
      ASSERT_NO_FATAL_FAILURE(
          Start(camera, preview, CS_PIN_PREVIEW, previewW_, previewH_, previewFourcc_, BufferMemory::Contiguous));
      BufferLedger ledger(preview);
      ledger.AllQueued();
      for (int i = 0; i < kPreviewFrames; ++i) {
        CS_STREAM_DESCRIPTOR* d = nullptr;
        ASSERT_EQ(ledger.Next(&d, kWait), ERROR_SUCCESS) << "preview frame " << i;
        EXPECT_EQ(d->CsStreamHeader.DataUsed, previewW_ * previewH_ * 3 / 2) << "preview frame " << i;
        ASSERT_EQ(ledger.Give(d), ERROR_SUCCESS);
      }
      ASSERT_EQ(preview.SetState(CSSTATE_STOP), ERROR_SUCCESS);
      ledger.CollectAfterStop();
      EXPECT_EQ(ledger.WithDriver(), 0u) << "preview buffers kept by the driver after STOP";
      EXPECT_EQ(ledger.Strangers(), 0u);
      ASSERT_EQ(preview.DeallocateBuffers(), ERROR_SUCCESS);
    }
    {
      Pin still;
      ASSERT_NO_FATAL_FAILURE(
          Start(camera, still, CS_PIN_STILL, stillW, stillH, CAMERA_FOURCC_IJPG, BufferMemory::Contiguous));
      BufferLedger ledger(still);
      ledger.AllQueued();
      ASSERT_EQ(camera.Trigger(CS_PIN_STILL), ERROR_SUCCESS);
      CS_STREAM_DESCRIPTOR* d = nullptr;
      ASSERT_EQ(ledger.Next(&d, kWait), ERROR_SUCCESS) << "no still";
      // A whole JPEG: EXIF block with its thumbnail, the frame of the size asked for.
      CheckJpeg(Pin::Data(*d), d->CsStreamHeader.DataUsed, "", stillW, stillH);
      ASSERT_EQ(still.SetState(CSSTATE_STOP), ERROR_SUCCESS);
      // Every buffer the driver still held comes back empty.
      EXPECT_EQ(ledger.CollectAfterStop(), still.BufferCount() - 1);
      EXPECT_EQ(ledger.WithDriver(), 0u) << "still buffers kept by the driver after STOP";
      EXPECT_EQ(ledger.Strangers(), 0u);
      ASSERT_EQ(still.DeallocateBuffers(), ERROR_SUCCESS);
    }
    ASSERT_EQ(camera.Close(), ERROR_SUCCESS);
  }

  uint32_t previewW_ = 0, previewH_ = 0, previewFourcc_ = 0, stillW_[2] = {}, stillH_[2] = {};
};

TEST_F(SoakTest, OpenStreamStillCloseRoundsLeaveNothingBehind) {
  const DWORD threadsBefore = CeSimLiveThreadCount();
  ASSERT_NO_FATAL_FAILURE(PickSizes());
  // The first rounds map the modules and fill what stays for the process.
  ASSERT_NO_FATAL_FAILURE(Round(0, false));
  ASSERT_NO_FATAL_FAILURE(Round(0, true));
  const Resources base = Resources::AfterWarmUp(threadsBefore);
  const int cycles = Cycles();
  const auto t0 = std::chrono::steady_clock::now();
  for (int round = 1; round <= cycles; ++round) {
    ASSERT_NO_FATAL_FAILURE(Round(round, round % kFullStillEvery == 0));
    if (HasFailure()) break;
    const Resources now = Resources::Settled(base);
    ASSERT_TRUE(now == base) << "round " << round << " left behind: " << now.Versus(base);
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("%d rounds of %ux%u preview and a %ux%u JPEG still (%ux%u every %dth) in %.1f s\n", cycles, previewW_,
              previewH_, stillW_[0], stillH_[0], stillW_[1], stillH_[1], kFullStillEvery, seconds);
}

}  // namespace
