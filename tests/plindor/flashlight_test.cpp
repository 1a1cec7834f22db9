// Flash LED and torch, time base, time-stamp mailbox, status words and the
// diagnostic channel.
#include <cstdlib>
#include <cstring>

#include "plindor_fixture.h"

namespace {

constexpr uint32_t kTorch = 159;
constexpr uint32_t kFlash = 143;

class FlashLightTest : public PlindorTest {
 protected:
  void SetUp() override {
    PlindorTest::SetUp();
    ASSERT_EQ(InitFlashLight(), 1);
    BoardGpioClearRecords();
  }
  void TearDown() override {
    PMICFlashLED_SetCurrent(0);
    PlindorTest::TearDown();
  }
};

TEST_F(FlashLightTest, InitConfiguresBothLines) {
  BoardSimReset();
  ASSERT_EQ(InitFlashLight(), 1);
  for (uint32_t line : {kTorch, kFlash}) {
    BoardGpioLine l = BoardGpioLineState(line);
    EXPECT_TRUE(l.configured) << line;
    EXPECT_EQ(l.config, 0x9000u) << line;
  }
  EXPECT_EQ(BoardGpioOpenCount(), 1);  // opened once per process
}

// The torch line's pulse count at each 500 us pause: where the bursts end.
void NoteBurstEnd(void* context, const ChipSimCall& call) {
  if (call.name == "clk_pause" && call.args.size() == 1 && call.args[0] == 500)
    static_cast<std::vector<uint32_t>*>(context)->push_back(BoardGpioLineState(kTorch).rises);
}

TEST_F(FlashLightTest, TorchLevelsRunThePulseProgramOncePerChange) {
  std::vector<uint32_t> burstEnds;
  const int listener = ChipSimAddCallListener(NoteBurstEnd, &burstEnds);
  EXPECT_EQ(PMICFlashLED_SetCurrent(5), 1);
  EXPECT_EQ(BoardGpioLineState(kTorch).rises, 48u);
  EXPECT_EQ(PMICFlashLED_SetCurrent(5), 1);  // same level: nothing
  EXPECT_EQ(BoardGpioLineState(kTorch).rises, 48u);
  EXPECT_EQ(PMICFlashLED_SetCurrent(30), 1);
  ChipSimRemoveCallListener(listener);
  EXPECT_EQ(BoardGpioLineState(kTorch).rises, 96u);
  EXPECT_EQ(BoardGpioLineState(kTorch).level, 1);
  EXPECT_EQ(BoardGpioLineState(kFlash).level, 0);
  // Four bursts of 20, 5, 19 and 4 pulses, each followed by the pause.
  EXPECT_EQ(burstEnds, (std::vector<uint32_t>{20, 25, 44, 48, 68, 73, 92, 96}));
  // Every pulse is a low then a high, each after a 2 us pause.
  size_t shortPauses = 0;
  for (const ChipSimCall& c : CallsNamed("clk_pause")) shortPauses += c.args[0] == 2;
  EXPECT_EQ(shortPauses, 2u * 96u);
}

TEST_F(FlashLightTest, HighLevelsRaiseTheFlashLineAndZeroTurnsBothOff) {
  ASSERT_EQ(PMICFlashLED_SetCurrent(10), 1);
  ASSERT_EQ(PMICFlashLED_SetCurrent(100), 1);
  EXPECT_EQ(BoardGpioLineState(kFlash).level, 1);
  EXPECT_EQ(BoardGpioLineState(kTorch).level, 1);
  BoardGpioClearRecords();
  ASSERT_EQ(PMICFlashLED_SetCurrent(0), 1);
  auto events = BoardGpioEvents();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].line, kFlash);
  EXPECT_EQ(events[0].level, 0);
  EXPECT_EQ(events[1].line, kTorch);
  EXPECT_EQ(events[1].level, 0);
  EXPECT_EQ(PMICFlashLED_SetMode(3), 1);
}

TEST_F(FlashLightTest, TheTorchProgramGivesTheCallerItsPriorityBack) {
  HANDLE self = GetCurrentThread();
  ASSERT_TRUE(CeSetThreadPriority(self, 200));
  ASSERT_EQ(PMICFlashLED_SetCurrent(12), 1);
  EXPECT_EQ(CeGetThreadPriority(self), 200);
  EXPECT_TRUE(CeSimDebugCapturedContains("+EableFlashLight_PreviewOn = 100"));
  EXPECT_TRUE(CeSimDebugCapturedContains("-EableFlashLight_PreviewOn = 200"));
  CeSetThreadPriority(self, 251);
}

// The GPIO device refuses every control: a level that lights the torch or the
// flash answers 0 (the light did not come on), putting it out answers 1, and once
// the device answers again the same level is driven and answers 1.
TEST_F(FlashLightTest, ALightTheGpioDeviceRefusesAnswersZero) {
  struct Case {
    const char* name;
    uint32_t level;
    uint32_t line;
  };
  const Case cases[] = {{"Torch", 5, kTorch}, {"TorchTop", 30, kTorch}, {"Flash", 31, kFlash}, {"FlashFull", 100, kFlash}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BoardGpioSetFailing(true);
    EXPECT_EQ(PMICFlashLED_SetCurrent(c.level), 0);
    EXPECT_EQ(PMICFlashLED_SetCurrent(c.level), 0) << "a refused level is tried again";
    EXPECT_EQ(PMICFlashLED_SetCurrent(0), 1);
    EXPECT_EQ(PMICFlashLED_SetCurrent(c.level), 0);
    BoardGpioSetFailing(false);
    EXPECT_EQ(PMICFlashLED_SetCurrent(c.level), 1);
    EXPECT_EQ(BoardGpioLineState(c.line).level, 1);
    EXPECT_EQ(PMICFlashLED_SetCurrent(0), 1);
    EXPECT_EQ(BoardGpioLineState(kTorch).level, 0);
    EXPECT_EQ(BoardGpioLineState(kFlash).level, 0);
  }
}

TEST(FlashLightStart, WithoutTheGpioDeviceNothingIsDriven) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        BoardSimReset();
        BoardGpioSetPresent(false);
        bool ok = InitFlashLight() == 0;
        // A light that cannot be lit says so; putting it out never fails.
        ok = ok && PMICFlashLED_SetCurrent(40) == 0 && BoardGpioEvents().empty();
        ok = ok && PMICFlashLED_SetCurrent(0) == 1;
        BoardGpioSetPresent(true);
        ok = ok && InitFlashLight() == 1 && PMICFlashLED_SetCurrent(40) == 1;
        ok = ok && BoardGpioLineState(kFlash).level == 1;
        std::exit(ok ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

// ---- Time --------------------------------------------------------------------

class TimeTest : public PlindorTest {
 protected:
  void TearDown() override {
    CeSimSetPerformanceCounterOffset(0);
    PlindorTest::TearDown();
  }
  static LONGLONG Counter() {
    LARGE_INTEGER c{};
    QueryPerformanceCounter(&c);
    return c.QuadPart;
  }
};

TEST_F(TimeTest, OneSecondOfTicksIsTenMillionUnits) {
  uint64_t a = 0, b = 0;
  CeSimSetPerformanceCounterOffset(0);
  ASSERT_EQ(CameraGetTime(&a), 1);
  CeSimSetPerformanceCounterOffset(CE_SIM_PERF_FREQUENCY);
  ASSERT_EQ(CameraGetTime(&b), 1);
  EXPECT_GE(b - a, 10000000u);
  EXPECT_LT(b - a, 10000000u + 50000000u);  // plus the real time between the calls
  EXPECT_EQ(CameraGetTime(nullptr), 0);
}

TEST_F(TimeTest, CrossingTheLowWordCountsTheCarryOnce) {
  CeSimSetPerformanceCounterOffset(0);
  const LONGLONG now = Counter();
  const LONGLONG beforeWrap = (LONGLONG(1) << 32) - CE_SIM_PERF_FREQUENCY / 1000;  // 1 ms before
  CeSimSetPerformanceCounterOffset(beforeWrap - now);
  uint64_t a = 0, b = 0, c = 0;
  ASSERT_EQ(CameraGetTime(&a), 1);
  CeSimSetPerformanceCounterOffset(beforeWrap - now + CE_SIM_PERF_FREQUENCY / 500);  // 2 ms on
  ASSERT_EQ(CameraGetTime(&b), 1);
  ASSERT_EQ(CameraGetTime(&c), 1);
  EXPECT_GE(b - a, 20000u);
  EXPECT_LT(b - a, 10000000u);  // not 2^32 ticks (about 224 s) ahead
  EXPECT_GE(c, b);
  EXPECT_LT(c - b, 10000000u);
}

// ---- Time-stamp mailbox ---------------------------------------------------------

class TimeStampTest : public PlindorTest {
 protected:
  void SetUp() override {
    PlindorTest::SetUp();
    CameraTimeStampInfo drain;
    while (VantorGetTimeStamp(&drain) == 1) {
    }
    CeSimDebugCaptureBegin();
  }
  static CameraTimeStampInfo Stamp(uint32_t seed) {
    static uint8_t frame[16];
    return CameraTimeStampInfo{frame, seed, seed + 1, seed + 2, seed + 3, seed + 4, seed + 5, seed + 6};
  }
};

TEST_F(TimeStampTest, OneUpdateIsReadOnce) {
  CameraTimeStampInfo in = Stamp(10), out{};
  ASSERT_EQ(VantorUpdateTimeStamp(&in), 1);
  ASSERT_EQ(VantorGetTimeStamp(&out), 1);
  EXPECT_EQ(std::memcmp(&in, &out, sizeof in), 0);
  EXPECT_EQ(VantorGetTimeStamp(&out), 0);
  EXPECT_TRUE(CeSimDebugCapturedContains("VantorGetTimeStamp NO TimeStamp!!!"));
  EXPECT_TRUE(CeSimDebugCapturedContains("VantorUpdateTimeStamp pb=0x"));
  EXPECT_TRUE(CeSimDebugCapturedContains("aW=10, aH=11, ImgH=13, ImgW=12"));
}

TEST_F(TimeStampTest, ANewerRecordReplacesAnUnreadOne) {
  CameraTimeStampInfo first = Stamp(1), second = Stamp(2), out{};
  ASSERT_EQ(VantorUpdateTimeStamp(&first), 1);
  ASSERT_EQ(VantorUpdateTimeStamp(&second), 1);
  ASSERT_EQ(VantorGetTimeStamp(&out), 1);
  EXPECT_EQ(out.aW, 2u);
  EXPECT_EQ(VantorGetTimeStamp(&out), 0);
}

TEST_F(TimeStampTest, BadCallerBuffersAreRefused) {
  CameraTimeStampInfo in = Stamp(3), out{};
  EXPECT_EQ(VantorUpdateTimeStamp(nullptr), 0);
  CeSimInjectFault(CE_SIM_FAULT_MAP_CALLER_PTR, 0, 1);
  EXPECT_EQ(VantorUpdateTimeStamp(&in), 0);
  EXPECT_TRUE(CeSimDebugCapturedContains("VantorUpdateTimeStamp MapCallerPtr() failed for incoming buffer."));
  CeSimInjectFault(CE_SIM_FAULT_SAFE_COPY, 0, 1);
  EXPECT_EQ(VantorUpdateTimeStamp(&in), 0);
  EXPECT_TRUE(CeSimDebugCapturedContains("VantorUpdateTimeStamp CeSafeCopyMemory() failed for incoming buffer."));
  EXPECT_EQ(VantorGetTimeStamp(&out), 0);  // nothing was stored

  // A record whose copy-out fails is consumed all the same.
  ASSERT_EQ(VantorUpdateTimeStamp(&in), 1);
  CeSimInjectFault(CE_SIM_FAULT_SAFE_COPY, 0, 1);
  EXPECT_EQ(VantorGetTimeStamp(&out), 0);
  EXPECT_TRUE(CeSimDebugCapturedContains("VantorGetTimeStamp CeSafeCopyMemory() failed for incoming buffer."));
  EXPECT_EQ(VantorGetTimeStamp(&out), 0);
  ASSERT_EQ(VantorUpdateTimeStamp(&in), 1);
  EXPECT_EQ(VantorGetTimeStamp(nullptr), 0);
  EXPECT_TRUE(CeSimDebugCapturedContains("VantorGetTimeStamp MapCallerPtr() failed for incoming buffer."));
}

// ---- Status words and diagnostics -----------------------------------------------

class StatusTest : public PlindorTest {
 protected:
  void TearDown() override {
    SetShared(CAMERA_SHARED_LTK_OFFSET, 0);
    SetShared(CAMERA_SHARED_IOTEST_OFFSET, 0);
    SetShared(CAMERA_SHARED_CAMOPEN_OFFSET, 0);
    PlindorTest::TearDown();
  }
};

TEST_F(StatusTest, PerProcessWordsKeepWhatIsSet) {
  EXPECT_EQ(SetSnapshotStatus(1), 1);
  EXPECT_EQ(GetSnapshotStatus(), 1u);
  EXPECT_EQ(SetSnapshotStatus(0), 1);
  EXPECT_EQ(GetSnapshotStatus(), 0u);
  EXPECT_EQ(SetAutoFlashRequired(7), 7u);
  EXPECT_EQ(GetAutoFlashRequired(), 7u);
  SetAutoFlashRequired(0);
}

TEST_F(StatusTest, SharedWordsAreReadByTheirLowByte) {
  SetShared(CAMERA_SHARED_LTK_OFFSET, 0x101);
  SetShared(CAMERA_SHARED_IOTEST_OFFSET, 0x200);
  EXPECT_EQ(VantorIsCameraLTKRunning(), 1);
  EXPECT_EQ(VantorIsCameraIOTest(), 0);
  EXPECT_TRUE(CeSimDebugCapturedContains("VantorIsCameraLTKRunning: 257"));
  EXPECT_TRUE(CeSimDebugCapturedContains("VantorIsCameraIOTest: 512"));
  EXPECT_EQ(VantorSetIsCamOpen(7), 1);
  EXPECT_EQ(GetShared(CAMERA_SHARED_CAMOPEN_OFFSET), 1u);
  EXPECT_TRUE(CeSimDebugCapturedContains("VantorSetIsCamOpen: bCamOpen=1"));
  EXPECT_EQ(VantorSetIsCamOpen(0), 1);
  EXPECT_EQ(GetShared(CAMERA_SHARED_CAMOPEN_OFFSET), 0u);
}

TEST_F(StatusTest, DiagnosticLinesGoOutForTheHigherLevelsOnly) {
  const struct {
    uint32_t mask;
    bool sent;
  } cases[] = {{0, false}, {1, false}, {2, false}, {4, true}, {8, true}, {0x10, true}, {0x20, false}, {0x23, false},
               {0x7, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "level mask 0x" << std::hex << c.mask);
    ChipSimClearMessages();
    DiagMessageSend("cameradriver", 42, c.mask, "CAM_Init()", 9);
    auto m = ChipSimMessages();
    ASSERT_EQ(m.size(), c.sent ? 1u : 0u) << c.mask;
    if (!c.sent) continue;
    EXPECT_EQ(m[0].kind, 1);
    EXPECT_EQ(m[0].line, 42);
    EXPECT_EQ(m[0].subsystem, 41);
    EXPECT_EQ(m[0].levelMask, c.mask);
    EXPECT_EQ(m[0].text, "CAM_Init()");
    EXPECT_EQ(m[0].fileName, "cameradriver");
    EXPECT_EQ(m[0].args[0], 9u);
  }
  DiagMessageSend(nullptr, 1, 4, nullptr, 0);  // no text, no name: still no crash
}

}  // namespace
