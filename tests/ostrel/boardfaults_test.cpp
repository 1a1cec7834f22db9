// The board misbehaves while the camera works: the VFE loses an interrupt or
// overruns a frame, the sensor refuses I2C transfers, frames come slowly, the
// stop is never acknowledged. Whatever the fault, the client is told when frames
// were lost (the drop count of the next buffer) or when the stream could not start
// (the request's error), the stream goes on or stops cleanly, STOP gives every
// buffer back, nothing hangs or leaks, and the camera opens and streams again.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <ostream>

#include "board_led.h"
#include "ostrelboardfixture.h"

namespace {

using camclient::BufferMemory;
using camclient::Pin;
using ostrel_board::BufferLedger;
using ostrel_board::kWait;
using ostrel_board::OstrelBoardTest;
using ostrel_board::Resources;

// Registers of the sensor the faults aim at.
constexpr uint16_t kSensorModeSelect = 0x0100;  // streaming on and off
constexpr uint16_t kSensorGain = 0x0204;        // written by exposure control while streaming

class BoardFaultsTest : public OstrelBoardTest {
 protected:
  void SetUp() override {
    OstrelBoardTest::SetUp();
    // The driver and engine print thousands of lines; the capture keeps them for the checks.
    CeSimDebugSetQuiet(TRUE);
    CeSimDebugCaptureBegin();
    // The first open of the process maps the modules, which stay: the baseline is taken after one.
    const DWORD threadsBefore = CeSimLiveThreadCount();
    {
      camclient::Camera camera;
      ASSERT_EQ(camera.Open(), ERROR_SUCCESS);
      ASSERT_EQ(camera.Close(), ERROR_SUCCESS);
    }
    base_ = Resources::AfterWarmUp(threadsBefore);
  }
  void TearDown() override {
    // A fault that outlives its test would fail the next one: the board goes back to power-on.
    CeSimDebugCaptureEnd();
    CeSimDebugSetQuiet(FALSE);
    OstrelBoardTest::TearDown();
  }

  // The smallest size the pin offers in `fourcc` (0: any).
  static bool SmallestSize(camclient::Camera& camera, uint32_t pin, uint32_t fourcc, uint32_t* w, uint32_t* h) {
    std::vector<CS_DATARANGE_VIDEO> ranges;
    if (camera.PinDataRanges(pin, &ranges) != ERROR_SUCCESS) return false;
    const CS_DATARANGE_VIDEO* r = ostrel_board::SmallestRange(ranges, fourcc);
    if (!r) return false;
    *w = uint32_t(r->VideoInfoHeader.bmiHeader.biWidth);
    *h = uint32_t(std::abs(r->VideoInfoHeader.bmiHeader.biHeight));
    return true;
  }

  // The preview pin at its smallest size, every buffer queued: 0, or the error the
  // enqueue that starts the stream gave.
  DWORD StartPreview(camclient::Camera& camera, Pin& pin) {
    std::vector<CS_DATARANGE_VIDEO> ranges;
    EXPECT_EQ(camera.PinDataRanges(CS_PIN_PREVIEW, &ranges), ERROR_SUCCESS);
    const CS_DATARANGE_VIDEO* r = ostrel_board::SmallestRange(ranges, 0);
    if (!r) return ERROR_NOT_FOUND;
    w_ = uint32_t(r->VideoInfoHeader.bmiHeader.biWidth);
    h_ = uint32_t(std::abs(r->VideoInfoHeader.bmiHeader.biHeight));
    EXPECT_EQ(pin.Open(), ERROR_SUCCESS);
    EXPECT_EQ(pin.Instantiate(CS_PIN_PREVIEW), ERROR_SUCCESS);
    EXPECT_EQ(pin.SetFormat(camclient::FormatOfRange(*r)), ERROR_SUCCESS);
    EXPECT_EQ(pin.SetState(CSSTATE_PAUSE), ERROR_SUCCESS);
    EXPECT_EQ(pin.AllocateBuffers(BufferMemory::Contiguous), ERROR_SUCCESS);
    EXPECT_EQ(pin.SetState(CSSTATE_RUN), ERROR_SUCCESS);
    return pin.EnqueueAll();
  }

  // The next preview frame, checked and given straight back; its drop count in *drops.
  void Frame(BufferLedger& ledger, int64_t* drops, const char* when) {
    CS_STREAM_DESCRIPTOR* d = nullptr;
    ASSERT_EQ(ledger.Next(&d, kWait), ERROR_SUCCESS) << "no frame " << when;
    EXPECT_EQ(d->CsStreamHeader.DataUsed, w_ * h_ * 3 / 2) << when;
    EXPECT_GE(d->CsFrameInfo.PictureNumber, lastPicture_) << when;
    lastPicture_ = d->CsFrameInfo.PictureNumber;
    *drops = d->CsFrameInfo.DropCount;
    if (d->CsStreamHeader.OptionsFlags & CSSTREAM_HEADER_OPTIONSF_DATADISCONTINUITY) ++discontinuities_;
    ASSERT_EQ(ledger.Give(d), ERROR_SUCCESS);
  }

  // STOP gives every buffer back; they are given back to the driver and the camera closes.
  void StopAndClose(camclient::Camera& camera, Pin& pin, BufferLedger& ledger) {
    ASSERT_EQ(pin.SetState(CSSTATE_STOP), ERROR_SUCCESS);
    ledger.CollectAfterStop();
    EXPECT_EQ(ledger.WithDriver(), 0u) << "buffers kept by the driver after STOP";
    EXPECT_EQ(ledger.Strangers(), 0u);
    EXPECT_EQ(pin.DeallocateBuffers(), ERROR_SUCCESS);
    EXPECT_EQ(pin.Close(), ERROR_SUCCESS);
    EXPECT_EQ(camera.Close(), ERROR_SUCCESS);
  }

  // Afterwards: the camera opens and streams again, nothing was left behind and no
  // capture thread had to be killed.
  void OpensAndStreamsAgain() {
    {
      camclient::Camera camera;
      ASSERT_EQ(camera.Open(), ERROR_SUCCESS) << "the camera does not open again";
      Pin pin;
      ASSERT_EQ(StartPreview(camera, pin), ERROR_SUCCESS);
      BufferLedger ledger(pin);
      ledger.AllQueued();
      int64_t drops = 0;
      lastPicture_ = 0;
      for (int i = 0; i < 3; ++i) ASSERT_NO_FATAL_FAILURE(Frame(ledger, &drops, "after reopening"));
      ASSERT_NO_FATAL_FAILURE(StopAndClose(camera, pin, ledger));
    }
    const Resources now = Resources::Settled(base_);
    EXPECT_TRUE(now == base_) << "left behind: " << now.Versus(base_);
    EXPECT_FALSE(CeSimDebugCapturedContains("Terminating capture thread")) << "a capture thread hung";
  }

  Resources base_;
  uint32_t w_ = 0, h_ = 0;
  int64_t lastPicture_ = 0;
  uint32_t discontinuities_ = 0;  // buffers delivered with the discontinuity flag
};

// ---- Faults while preview streams -------------------------------------------------------

struct StreamingFault {
  const char* name;
  std::function<void()> inject;
  std::function<void()> heal;
  uint32_t lostFrames;  // preview frames the fault itself destroys
  int framesDuring = 8;  // preview frames that still come before the fault heals
};

// Frames the VFE lost: never written (overflowed or stalled) or refused by the bus.
uint32_t VfeLostFrames() {
  const BoardVfeCounters c = BoardVfeCounts();
  return c.overflows + c.busErrors;
}
void PrintTo(const StreamingFault& c, std::ostream* os) { *os << c.name; }

class StreamingFaults : public BoardFaultsTest, public ::testing::WithParamInterface<StreamingFault> {};

// Frames keep coming through the fault and after it; every frame the board lost
// shows in the drop count of a later buffer.
TEST_P(StreamingFaults, TheStreamGoesOnAndCountsEveryLostFrame) {
  const StreamingFault& c = GetParam();
  {
    camclient::Camera camera;
    ASSERT_EQ(camera.Open(), ERROR_SUCCESS);
    Pin pin;
    ASSERT_EQ(StartPreview(camera, pin), ERROR_SUCCESS);
    BufferLedger ledger(pin);
    ledger.AllQueued();
    int64_t dropsBefore = 0, drops = 0;
    for (int i = 0; i < 3; ++i) ASSERT_NO_FATAL_FAILURE(Frame(ledger, &dropsBefore, "before the fault"));
    const uint32_t lostBefore = VfeLostFrames();
    discontinuities_ = 0;
    c.inject();
    for (int i = 0; i < c.framesDuring; ++i) ASSERT_NO_FATAL_FAILURE(Frame(ledger, &drops, "during the fault"));
    c.heal();
    for (int i = 0; i < 3; ++i) ASSERT_NO_FATAL_FAILURE(Frame(ledger, &drops, "after the fault"));
    // The board's lost frames are frames no buffer received (a loaded machine may add
    // overflows of its own); each must be counted by the time a later frame arrives.
    const uint32_t lost = VfeLostFrames() - lostBefore;
    EXPECT_GE(lost, c.lostFrames);
    EXPECT_GE(drops - dropsBefore, int64_t(lost)) << "frames lost without a word to the client";
    if (lost > 0) {
      EXPECT_GT(discontinuities_, 0u) << "a gap in the stream without the discontinuity flag";
    }
    ASSERT_NO_FATAL_FAILURE(StopAndClose(camera, pin, ledger));
  }
  OpensAndStreamsAgain();
}

const StreamingFault kStreamingFaults[] = {
    {"LostInterrupt", [] { BoardVfeLoseInterrupts(1); }, [] {}, 0},
    {"VfeOverrun", [] { BoardVfeOverrunNext(kVfeOutput1, 2); }, [] {}, 2},
    {"SensorNacksThreeTransfers", [] { BoardI2cNackNext(3); }, [] { BoardI2cNackNext(0); }, 0},
    {"SensorNacksItsGainRegister", [] { BoardSensorNackRegister(kSensorGain, true); },
     [] { BoardSensorNackRegister(kSensorGain, false); }, 0},
    {"SlowFrames", [] { BoardSensorSetSlowFrames(4.0); }, [] { BoardSensorSetSlowFrames(1.0); }, 0},
    {"VfeBusErrors", [] { BoardVfeBusErrorNext(kVfeOutput1, 5); }, [] {}, 5},
    // No frame comes while the path is stalled: the fault lasts until the VFE has lost five.
    {"VfeStall",
     [] {
       const uint32_t before = BoardVfeCounts().overflows;
       BoardVfeStallOutput(kVfeOutput1, true);
       for (int i = 0; i < 20000 && BoardVfeCounts().overflows < before + 5; ++i) Sleep(1);
     },
     [] { BoardVfeStallOutput(kVfeOutput1, false); }, 5, 0},
};

INSTANTIATE_TEST_SUITE_P(Board, StreamingFaults, ::testing::ValuesIn(kStreamingFaults),
                         [](const ::testing::TestParamInfo<StreamingFault>& info) { return std::string(info.param.name); });

// ---- Faults at the ends of a stream --------------------------------------------------------

// The sensor refuses the write that starts streaming: the enqueue that starts the
// stream says so, STOP gives back every buffer unused, and once the sensor answers
// again the camera streams.
TEST_F(BoardFaultsTest, ASensorThatWillNotStreamFailsTheStartAndStopsCleanly) {
  {
    camclient::Camera camera;
    ASSERT_EQ(camera.Open(), ERROR_SUCCESS);
    BoardSensorNackRegister(kSensorModeSelect, true);
    Pin pin;
    EXPECT_EQ(StartPreview(camera, pin), ERROR_FUNCTION_FAILED);
    BufferLedger ledger(pin);
    ledger.AllQueued();
    ASSERT_EQ(pin.SetState(CSSTATE_STOP), ERROR_SUCCESS);
    EXPECT_EQ(ledger.CollectAfterStop(), pin.BufferCount()) << "every buffer comes back unused";
    EXPECT_EQ(ledger.WithDriver(), 0u);
    EXPECT_EQ(pin.DeallocateBuffers(), ERROR_SUCCESS);
    EXPECT_EQ(pin.Close(), ERROR_SUCCESS);
    EXPECT_EQ(camera.Close(), ERROR_SUCCESS);
    BoardSensorNackRegister(kSensorModeSelect, false);
  }
  OpensAndStreamsAgain();
}

// The VFE loses every frame of the stream from its start: the start itself
// succeeded, and the client hears of the stream that did not begin from its first
// buffer, which comes back with no data, the discontinuity flag and the lost
// frames in its drop count. Once the path heals, frames come; STOP returns the rest.
struct NeverBegins {
  const char* name;
  uint32_t pin;  // CS_PIN_PREVIEW or CS_PIN_CAPTURE
  std::function<void()> inject;
  std::function<void()> heal;
};
void PrintTo(const NeverBegins& c, std::ostream* os) { *os << c.name; }
class StreamsThatNeverBegin : public BoardFaultsTest, public ::testing::WithParamInterface<NeverBegins> {};

TEST_P(StreamsThatNeverBegin, TheFirstBufferReportsTheLostFramesAndFramesFollowTheHeal) {
  const NeverBegins& c = GetParam();
  {
    camclient::Camera camera;
    ASSERT_EQ(camera.Open(), ERROR_SUCCESS);
    ASSERT_TRUE(SmallestSize(camera, c.pin, 0, &w_, &h_));
    c.inject();
    Pin pin;
    ASSERT_NO_FATAL_FAILURE(Start(camera, pin, c.pin, w_, h_, 0, BufferMemory::Contiguous));
    BufferLedger ledger(pin);
    ledger.AllQueued();
    CS_STREAM_DESCRIPTOR* d = nullptr;
    ASSERT_EQ(ledger.Next(&d, kWait), ERROR_SUCCESS) << "a stream that never began was never reported";
    EXPECT_EQ(d->CsStreamHeader.DataUsed, 0u);
    EXPECT_TRUE(d->CsStreamHeader.OptionsFlags & CSSTREAM_HEADER_OPTIONSF_DATADISCONTINUITY);
    int64_t drops = d->CsFrameInfo.DropCount;
    EXPECT_GE(drops, 3) << "the lost frames are not in the count";
    ASSERT_EQ(ledger.Give(d), ERROR_SUCCESS);
    c.heal();
    // Reports of frames lost before the heal may still be on their way: each is
    // empty and flagged, and the count never goes back.
    int full = 0, empty = 0;
    while (full < 3) {
      ASSERT_EQ(ledger.Next(&d, kWait), ERROR_SUCCESS) << "no frame after the heal";
      EXPECT_GE(d->CsFrameInfo.DropCount, drops) << "the drop count went back";
      drops = d->CsFrameInfo.DropCount;
      if (d->CsStreamHeader.DataUsed == 0) {
        ASSERT_EQ(full, 0) << "an empty buffer once frames flow";
        EXPECT_TRUE(d->CsStreamHeader.OptionsFlags & CSSTREAM_HEADER_OPTIONSF_DATADISCONTINUITY);
        ASSERT_LT(++empty, 20) << "reports go on after the heal";
      } else {
        EXPECT_EQ(d->CsStreamHeader.DataUsed, w_ * h_ * 3 / 2);
        ++full;
      }
      ASSERT_EQ(ledger.Give(d), ERROR_SUCCESS);
    }
    ASSERT_NO_FATAL_FAILURE(StopAndClose(camera, pin, ledger));
  }
  OpensAndStreamsAgain();
}

void StallBoth(bool stall) {
  BoardVfeStallOutput(kVfeOutput1, stall);
  BoardVfeStallOutput(kVfeOutput2, stall);
}
const NeverBegins kNeverBegins[] = {
    {"PreviewPathStalled", CS_PIN_PREVIEW, [] { StallBoth(true); }, [] { StallBoth(false); }},
    {"CapturePathStalled", CS_PIN_CAPTURE, [] { StallBoth(true); }, [] { StallBoth(false); }},
    {"PreviewWritesRefusedByTheBus", CS_PIN_PREVIEW,
     [] { BoardVfeBusErrorNext(kVfeOutput1, 1000); BoardVfeBusErrorNext(kVfeOutput2, 1000); },
     [] { BoardVfeBusErrorNext(kVfeOutput1, 0); BoardVfeBusErrorNext(kVfeOutput2, 0); }},
    {"PreviewFramesOverrun", CS_PIN_PREVIEW,
     [] { BoardVfeOverrunNext(kVfeOutput1, 1000); BoardVfeOverrunNext(kVfeOutput2, 1000); },
     [] { BoardVfeOverrunNext(kVfeOutput1, 0); BoardVfeOverrunNext(kVfeOutput2, 0); }},
};
INSTANTIATE_TEST_SUITE_P(Board, StreamsThatNeverBegin, ::testing::ValuesIn(kNeverBegins),
                         [](const ::testing::TestParamInfo<NeverBegins>& info) { return std::string(info.param.name); });

// ---- A sensor that vanishes mid-preview ------------------------------------------------

// The sensor stopped answering while the preview ran. Frames the stream had made
// before may still come with their data; then every buffer the driver holds
// comes back empty, the first with the discontinuity flag, and one given back
// afterwards comes straight back empty too: the client is told, nothing hangs.
// STOP gives back whatever is left; once the sensor answers again the camera
// opens and streams.
struct Vanishing {
  const char* name;
  std::function<void(camclient::Camera&)> inject;
  std::function<void()> heal;
  bool framesStop;  // else only the failed write can tell
};
void PrintTo(const Vanishing& c, std::ostream* os) { *os << c.name; }
class SensorsThatVanish : public BoardFaultsTest, public ::testing::WithParamInterface<Vanishing> {};

TEST_P(SensorsThatVanish, EveryBufferComesBackEmptyAndTheCameraStreamsAgainOnceItAnswers) {
  const Vanishing& c = GetParam();
  {
    camclient::Camera camera;
    ASSERT_EQ(camera.Open(), ERROR_SUCCESS);
    Pin pin;
    ASSERT_EQ(StartPreview(camera, pin), ERROR_SUCCESS);
    BufferLedger ledger(pin);
    ledger.AllQueued();
    int64_t drops = 0;
    for (int i = 0; i < 3; ++i) ASSERT_NO_FATAL_FAILURE(Frame(ledger, &drops, "before the sensor vanished"));
    c.inject(camera);
    CS_STREAM_DESCRIPTOR* d = nullptr;
    bool told = false;
    int framesBefore = 0;
    while (ledger.WithDriver() > 0) {
      ASSERT_EQ(ledger.Next(&d, kWait), ERROR_SUCCESS) << "the driver kept a buffer: the stream hangs";
      if (d->CsStreamHeader.DataUsed != 0) {
        ASSERT_FALSE(told) << "a frame after the client was told";
        ASSERT_LT(++framesBefore, 1000) << "the lost sensor was never reported";
        ASSERT_EQ(ledger.Give(d), ERROR_SUCCESS);
        continue;
      }
      if (!told) {
        EXPECT_TRUE(d->CsStreamHeader.OptionsFlags & CSSTREAM_HEADER_OPTIONSF_DATADISCONTINUITY)
            << "the first empty buffer does not say the stream broke";
      }
      told = true;
    }
    ASSERT_TRUE(told);
    ASSERT_EQ(ledger.Give(d), ERROR_SUCCESS);
    ASSERT_EQ(ledger.Next(&d, kWait), ERROR_SUCCESS) << "a buffer given back after the loss was kept";
    EXPECT_EQ(d->CsStreamHeader.DataUsed, 0u);
    EXPECT_TRUE(CeSimDebugCapturedContains("Camera sensor lost while streaming"));
    if (!c.framesStop) {
      EXPECT_FALSE(CeSimDebugCapturedContains("No frame from the sensor for a while")) << "frames came all along";
    }
    ASSERT_NO_FATAL_FAILURE(StopAndClose(camera, pin, ledger));
    c.heal();
  }
  OpensAndStreamsAgain();
}

const Vanishing kVanishing[] = {
    // Exposure rests, nothing is written: only the frames that stopped tell.
    {"InASteadyPreview", [](camclient::Camera&) { BoardSensorSetPresent(false); },
     [] { BoardSensorSetPresent(true); }, true},
    // Frames still come, but the bus stopped answering: the exposure the new
    // compensation asks for cannot be written, and the chip id is not answered.
    {"WhileExposureWrites",
     [](camclient::Camera& camera) {
       BoardI2cSetNoAnswer(true);
       ASSERT_EQ(camera.SetValue(PROPSETID_VIDCAP_CAMERACONTROL, 0x101, 300), ERROR_SUCCESS);
     },
     [] { BoardI2cSetNoAnswer(false); }, false},
};
INSTANTIATE_TEST_SUITE_P(Board, SensorsThatVanish, ::testing::ValuesIn(kVanishing),
                         [](const ::testing::TestParamInfo<Vanishing>& info) { return std::string(info.param.name); });

// Reads of the sensor's chip id: the presence checks.
size_t ChipIdReads() {
  size_t n = 0;
  for (const BoardI2cTransfer& t : BoardI2cTransfers())
    if (t.slave == 0x20 && !t.write && t.reg == 0x0000) ++n;
  return n;
}

// Frames so slow that the frame watchdog has the sensor checked between two of
// them: the sensor answers, so the stream goes on with every frame whole.
TEST_F(BoardFaultsTest, AMerelySlowSensorIsCheckedButNeverReportedLost) {
  {
    camclient::Camera camera;
    ASSERT_EQ(camera.Open(), ERROR_SUCCESS);
    Pin pin;
    ASSERT_EQ(StartPreview(camera, pin), ERROR_SUCCESS);
    BufferLedger ledger(pin);
    ledger.AllQueued();
    int64_t drops = 0;
    for (int i = 0; i < 3; ++i) ASSERT_NO_FATAL_FAILURE(Frame(ledger, &drops, "before the frames slowed"));
    // A frame period of two and a half seconds of real time, whatever the board's speed.
    BoardI2cClearRecords();
    BoardSensorSetSlowFrames(75.0 * BoardSpeedUp());
    for (int i = 0; ChipIdReads() == 0; ++i) {
      ASSERT_LT(i, 20) << "the watchdog never asked the sensor";
      ASSERT_NO_FATAL_FAILURE(Frame(ledger, &drops, "while slow, before the check"));
    }
    ASSERT_NO_FATAL_FAILURE(Frame(ledger, &drops, "after the check"));
    BoardSensorSetSlowFrames(1.0);
    for (int i = 0; i < 3; ++i) ASSERT_NO_FATAL_FAILURE(Frame(ledger, &drops, "after the frames sped up"));
    EXPECT_FALSE(CeSimDebugCapturedContains("Camera sensor lost while streaming"));
    ASSERT_NO_FATAL_FAILURE(StopAndClose(camera, pin, ledger));
  }
  OpensAndStreamsAgain();
}

// The VFE never acknowledges the stop: STOP waits its bounded time and the stream
// ends all the same.
TEST_F(BoardFaultsTest, AStopTheVfeNeverAcknowledgesStillStops) {
  {
    camclient::Camera camera;
    ASSERT_EQ(camera.Open(), ERROR_SUCCESS);
    Pin pin;
    ASSERT_EQ(StartPreview(camera, pin), ERROR_SUCCESS);
    BufferLedger ledger(pin);
    ledger.AllQueued();
    int64_t drops = 0;
    for (int i = 0; i < 3; ++i) ASSERT_NO_FATAL_FAILURE(Frame(ledger, &drops, "before the stop"));
    BoardVfeWithholdStopAck(true);
    ASSERT_NO_FATAL_FAILURE(StopAndClose(camera, pin, ledger));
    BoardVfeWithholdStopAck(false);
  }
  OpensAndStreamsAgain();
}

// The VFE loses the still's frame: the trigger is answered by the still pin's
// next buffer coming back empty, with the discontinuity flag and one more drop,
// never by silence; the next trigger takes a still.
struct LostStill {
  const char* name;
  std::function<void()> inject;
  std::function<void()> heal;
};
void PrintTo(const LostStill& c, std::ostream* os) { *os << c.name; }
class LostStills : public BoardFaultsTest, public ::testing::WithParamInterface<LostStill> {};

TEST_P(LostStills, TheTriggerIsAnsweredByAFailedBufferAndTheNextTakesOne) {
  const LostStill& c = GetParam();
  {
    camclient::Camera camera;
    ASSERT_EQ(camera.Open(), ERROR_SUCCESS);
    uint32_t w = 0, h = 0;
    ASSERT_TRUE(SmallestSize(camera, CS_PIN_STILL, CAMERA_FOURCC_IJPG, &w, &h));
    Pin still;
    ASSERT_NO_FATAL_FAILURE(Start(camera, still, CS_PIN_STILL, w, h, CAMERA_FOURCC_IJPG, BufferMemory::Contiguous));
    BufferLedger ledger(still);
    ledger.AllQueued();
    c.inject();
    ASSERT_EQ(camera.Trigger(CS_PIN_STILL), ERROR_SUCCESS);
    CS_STREAM_DESCRIPTOR* d = nullptr;
    ASSERT_EQ(ledger.Next(&d, kWait), ERROR_SUCCESS) << "the failed still was never reported";
    EXPECT_EQ(d->CsStreamHeader.DataUsed, 0u);
    EXPECT_TRUE(d->CsStreamHeader.OptionsFlags & CSSTREAM_HEADER_OPTIONSF_DATADISCONTINUITY);
    const int64_t drops = d->CsFrameInfo.DropCount;
    EXPECT_GE(drops, 1);
    EXPECT_TRUE(CeSimDebugCapturedContains("Got Snapshot done Event"));
    ASSERT_EQ(ledger.Give(d), ERROR_SUCCESS);
    c.heal();
    ASSERT_EQ(camera.Trigger(CS_PIN_STILL), ERROR_SUCCESS);
    ASSERT_EQ(ledger.Next(&d, kWait), ERROR_SUCCESS) << "no still from the second trigger";
    CheckJpeg(Pin::Data(*d), d->CsStreamHeader.DataUsed, "", w, h);
    EXPECT_FALSE(d->CsStreamHeader.OptionsFlags & CSSTREAM_HEADER_OPTIONSF_DATADISCONTINUITY);
    EXPECT_GE(d->CsFrameInfo.DropCount, drops) << "the drop count went back";
    ASSERT_EQ(ledger.Give(d), ERROR_SUCCESS);
    ASSERT_EQ(still.SetState(CSSTATE_STOP), ERROR_SUCCESS);
    ledger.CollectAfterStop();
    EXPECT_EQ(ledger.WithDriver(), 0u);
    EXPECT_EQ(ledger.Strangers(), 0u);
    EXPECT_EQ(still.DeallocateBuffers(), ERROR_SUCCESS);
    EXPECT_EQ(still.Close(), ERROR_SUCCESS);
    EXPECT_EQ(camera.Close(), ERROR_SUCCESS);
  }
  OpensAndStreamsAgain();
}

const LostStill kLostStills[] = {
    {"Overrun", [] { BoardVfeOverrunNext(kVfeOutput1, 1); BoardVfeOverrunNext(kVfeOutput2, 1); }, [] {}},
    {"BusError", [] { BoardVfeBusErrorNext(kVfeOutput1, 1); BoardVfeBusErrorNext(kVfeOutput2, 1); }, [] {}},
    {"Stall", [] { BoardVfeStallOutput(kVfeOutput1, true); BoardVfeStallOutput(kVfeOutput2, true); },
     [] { BoardVfeStallOutput(kVfeOutput1, false); BoardVfeStallOutput(kVfeOutput2, false); }},
};
INSTANTIATE_TEST_SUITE_P(Board, LostStills, ::testing::ValuesIn(kLostStills),
                         [](const ::testing::TestParamInfo<LostStill>& info) { return std::string(info.param.name); });

// ---- The flash --------------------------------------------------------------------------

// The flash is on and its GPIO line cannot be driven: the trigger answers the
// failure (no still is taken without the flash it was asked for), nothing comes
// on the still pin, the LED is off, and once the line answers again the next
// trigger takes a still.
struct FlashFault {
  const char* name;
  uint32_t flashMode;  // the maker's flash set: 2 on
  std::function<void()> inject;
  std::function<void()> heal;
};
void PrintTo(const FlashFault& c, std::ostream* os) { *os << c.name; }
class FlashFaults : public BoardFaultsTest, public ::testing::WithParamInterface<FlashFault> {};

TEST_P(FlashFaults, TheTriggerFailsAndTheNextAfterTheHealTakesAStill) {
  const FlashFault& c = GetParam();
  {
    camclient::Camera camera;
    ASSERT_EQ(camera.Open(), ERROR_SUCCESS);
    ASSERT_EQ(camera.MakerSet(VANTOR_PROPERTY_FLASH_MODE, c.flashMode), ERROR_SUCCESS);
    uint32_t w = 0, h = 0;
    ASSERT_TRUE(SmallestSize(camera, CS_PIN_STILL, CAMERA_FOURCC_IJPG, &w, &h));
    Pin still;
    ASSERT_NO_FATAL_FAILURE(Start(camera, still, CS_PIN_STILL, w, h, CAMERA_FOURCC_IJPG, BufferMemory::Contiguous));
    BufferLedger ledger(still);
    ledger.AllQueued();
    c.inject();
    EXPECT_EQ(camera.Trigger(CS_PIN_STILL), ERROR_FUNCTION_FAILED) << "a still without its flash answered as taken";
    EXPECT_EQ(BoardLedNow().mode, kLedOff);
    c.heal();
    ASSERT_EQ(camera.Trigger(CS_PIN_STILL), ERROR_SUCCESS);
    CS_STREAM_DESCRIPTOR* d = nullptr;
    ASSERT_EQ(ledger.Next(&d, kWait), ERROR_SUCCESS) << "no still from the trigger after the heal";
    CheckJpeg(Pin::Data(*d), d->CsStreamHeader.DataUsed, "", w, h);
    EXPECT_EQ(ledger.Give(d), ERROR_SUCCESS);
    EXPECT_EQ(ledger.Next(&d, 0), ERROR_TIMEOUT) << "the failed trigger left an image behind";
    ASSERT_EQ(still.SetState(CSSTATE_STOP), ERROR_SUCCESS);
    ledger.CollectAfterStop();
    EXPECT_EQ(ledger.WithDriver(), 0u);
    EXPECT_EQ(ledger.Strangers(), 0u);
    EXPECT_EQ(still.DeallocateBuffers(), ERROR_SUCCESS);
    EXPECT_EQ(still.Close(), ERROR_SUCCESS);
    EXPECT_EQ(camera.Close(), ERROR_SUCCESS);
  }
  EXPECT_EQ(BoardLedNow().mode, kLedOff);
  OpensAndStreamsAgain();
}

const FlashFault kFlashFaults[] = {
    {"GpioControlsFail", 2, [] { BoardGpioSetFailing(true); }, [] { BoardGpioSetFailing(false); }},
};
INSTANTIATE_TEST_SUITE_P(Board, FlashFaults, ::testing::ValuesIn(kFlashFaults),
                         [](const ::testing::TestParamInfo<FlashFault>& info) { return std::string(info.param.name); });

}  // namespace
