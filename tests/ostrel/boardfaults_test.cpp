// The board misbehaves while the camera streams preview: the VFE loses an
// interrupt or overruns a frame, the sensor refuses an I2C transfer, frames come
// slowly. Whatever the fault, the client is told when frames were lost (the next
// buffer's discontinuity flag and drop count), the stream goes on or stops cleanly,
// STOP gives every buffer back, nothing hangs or leaks, and the camera opens and
// streams again afterwards.
#include <gtest/gtest.h>

#include <functional>

#include "ostrelboardfixture.h"

namespace {

using camclient::BufferMemory;
using camclient::Pin;
using ostrel_board::BufferLedger;
using ostrel_board::kWait;
using ostrel_board::OstrelBoardTest;
using ostrel_board::Resources;

struct Delivered {
  int64_t picture = 0;
  int64_t drops = 0;
  bool discontinuity = false;
  int64_t presentation = 0;
  int64_t duration = 0;
};

class BoardFaultsTest : public OstrelBoardTest {
 protected:
  void SetUp() override {
    OstrelBoardTest::SetUp();
    CeSimDebugSetQuiet(TRUE);
    CeSimDebugCaptureBegin();
  }
  void TearDown() override {
    CeSimDebugCaptureEnd();
    CeSimDebugSetQuiet(FALSE);
    OstrelBoardTest::TearDown();
  }

  void OpenPreview(camclient::Camera& camera, Pin& pin) {
    std::vector<CS_DATARANGE_VIDEO> ranges;
    ASSERT_EQ(camera.PinDataRanges(CS_PIN_PREVIEW, &ranges), ERROR_SUCCESS);
    const CS_DATARANGE_VIDEO* r = ostrel_board::SmallestRange(ranges, 0);
    ASSERT_NE(r, nullptr);
    w_ = uint32_t(r->VideoInfoHeader.bmiHeader.biWidth);
    h_ = uint32_t(std::abs(r->VideoInfoHeader.bmiHeader.biHeight));
    ASSERT_NO_FATAL_FAILURE(Start(camera, pin, CS_PIN_PREVIEW, w_, h_, camclient::RangeFourcc(*r), BufferMemory::Contiguous));
  }

  // The next frame, given straight back.
  DWORD Frame(BufferLedger& ledger, Delivered* out) {
    CS_STREAM_DESCRIPTOR* d = nullptr;
    DWORD r = ledger.Next(&d, kWait);
    if (r != ERROR_SUCCESS) return r;
    out->picture = d->CsFrameInfo.PictureNumber;
    out->drops = d->CsFrameInfo.DropCount;
    out->discontinuity = (d->CsStreamHeader.OptionsFlags & CSSTREAM_HEADER_OPTIONSF_DATADISCONTINUITY) != 0;
    out->presentation = d->CsStreamHeader.PresentationTime;
    out->duration = d->CsStreamHeader.Duration;
    EXPECT_EQ(d->CsStreamHeader.DataUsed, w_ * h_ * 3 / 2);
    return ledger.Give(d);
  }

  uint32_t w_ = 0, h_ = 0;
};

struct FaultCase {
  const char* name;
  std::function<void()> inject;
  std::function<void()> heal;
};

class BoardFaultCases : public BoardFaultsTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(BoardFaultCases, TheStreamReportsTheFaultRecoversAndTheCameraOpensAgain) {
  const FaultCase& c = GetParam();
  {
    camclient::Camera camera;
    ASSERT_EQ(camera.Open(), ERROR_SUCCESS);
    Pin pin;
    ASSERT_NO_FATAL_FAILURE(OpenPreview(camera, pin));
    BufferLedger ledger(pin);
    ledger.AllQueued();
    Delivered f;
    for (int i = 0; i < 3; ++i) ASSERT_EQ(Frame(ledger, &f), ERROR_SUCCESS) << "before the fault";
    const BoardVfeCounters before = BoardVfeCounts();
    std::printf("before: picture %lld drops %lld\n", (long long)f.picture, (long long)f.drops);
    BoardI2cClearRecords();
    CeSimDebugCaptureEnd();
    CeSimDebugCaptureBegin();
    c.inject();
    for (int i = 0; i < 12; ++i) {
      DWORD r = Frame(ledger, &f);
      std::printf("frame %d: r %u picture %lld drops %lld disc %d pts %lld dur %lld\n", i, r, (long long)f.picture,
                  (long long)f.drops, f.discontinuity, (long long)f.presentation, (long long)f.duration);
      if (r) break;
    }
    if (c.heal) c.heal();
    for (const BoardI2cTransfer& t : BoardI2cTransfers())
      if (!t.ack) std::printf("nack: slave %x reg %04x write %d len %zu\n", t.slave, t.reg, t.write, t.data.size());
    for (const std::string& line : CeSimDebugCaptured())
      if (line.find("rror") != std::string::npos || line.find("ail") != std::string::npos) std::printf("log: %s\n", line.c_str());
    const BoardVfeCounters after = BoardVfeCounts();
    std::printf("vfe: overflows %u lost %u missed %u done %u/%u\n", after.overflows - before.overflows,
                after.interruptsLost - before.interruptsLost, after.framesMissed - before.framesMissed,
                after.framesDone[0] - before.framesDone[0], after.framesDone[1] - before.framesDone[1]);
    ASSERT_EQ(pin.SetState(CSSTATE_STOP), ERROR_SUCCESS);
    ledger.CollectAfterStop();
    EXPECT_EQ(ledger.WithDriver(), 0u);
    EXPECT_EQ(ledger.Strangers(), 0u);
    EXPECT_EQ(pin.DeallocateBuffers(), ERROR_SUCCESS);
    EXPECT_EQ(camera.Close(), ERROR_SUCCESS);
  }
  EXPECT_FALSE(CeSimDebugCapturedContains("Terminating capture thread"));
}

const FaultCase kFaults[] = {
    {"LostInterrupt", [] { BoardVfeLoseInterrupts(1); }, nullptr},
    {"VfeOverrun", [] { BoardVfeOverrunNext(kVfeOutput1, 1); BoardVfeOverrunNext(kVfeOutput2, 1); }, nullptr},
    {"SensorNack", [] { BoardI2cNackNext(3); }, nullptr},
    {"SlowFrames", [] { BoardSensorSetSlowFrames(3.0); }, [] { BoardSensorSetSlowFrames(1.0); }},
};

INSTANTIATE_TEST_SUITE_P(Faults, BoardFaultCases, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

}  // namespace
