// The sensor model through its bus, reset line and clock: power gating, the
// register file, frame timing from the registers, latching at frame start, the
// focus actuator and the fault switches.
#include <algorithm>
#include <cmath>
#include <functional>
#include <string>

#include "board_vfe.h"
#include "camera_module_fixture.h"

namespace {

using SensorTest = CameraModuleTest;

constexpr double kPclk = 80e6;

TEST_F(SensorTest, AnswersOnlyWhenClockedAndOutOfReset) {
  struct Case {
    const char* name;
    uint32_t mclkHz;
    bool releaseReset;
    bool stayInReset;
    bool answers;
  };
  const Case cases[] = {
      {"unclocked and in reset", 0, false, false, false},
      {"clocked but in reset", 24000000, false, false, false},
      {"out of reset but unclocked", 0, true, false, false},
      {"clocked and out of reset", 24000000, true, false, true},
      {"refuses to leave reset", 24000000, true, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BoardSimReset();
    BoardSensorStayInReset(c.stayInReset);
    CameraSensorCLK_ConfigMclk(c.mclkHz, CAMERA_MCLK_ARG);
    if (c.releaseReset) CameraSensorGPIO_Out(CAMERA_GPIO_KIND_RESET, 1);
    Plindor_WaitMicroSeconds(10000);
    uint16_t id = 0;
    EXPECT_EQ(Read16(0x0000, &id), c.answers);
    if (c.answers) { EXPECT_EQ(id, kSensorChipId); }
    EXPECT_EQ(Write8(0x0202, 1), c.answers);
  }
  // The reset fault shows in the log and clears: the held line then counts.
  EXPECT_TRUE(BoardSensorLogContains("stays in reset"));
  BoardSensorStayInReset(false);
  Plindor_WaitMicroSeconds(10000);
  uint16_t id = 0;
  EXPECT_TRUE(Read16(0x0000, &id));
}

TEST_F(SensorTest, IdentificationIsReadOnlyAndTheRestStoresWhatIsWritten) {
  PowerUp();
  uint16_t v = 0;
  ASSERT_TRUE(Read16(0x0000, &v));
  EXPECT_EQ(v, 0x3E2F);
  ASSERT_TRUE(Read16(0x0002, &v));
  EXPECT_EQ(v, kSensorRevision);
  ASSERT_TRUE(Write16(0x0000, 0x1234));  // acknowledged, ignored
  ASSERT_TRUE(Read16(0x0000, &v));
  EXPECT_EQ(v, 0x3E2F);
  // Auto-increment both ways: one transfer of three bytes, read back in two.
  uint8_t bytes[3] = {0x11, 0x22, 0x33};
  CameraSensorI2C_Command c = Command(0x3200, bytes, 3);
  ASSERT_EQ(CameraSensorI2C_Write(&c), 1);
  ASSERT_TRUE(Read16(0x3201, &v));
  EXPECT_EQ(v, 0x2233);
  // The power-on values of the preview set.
  struct Default {
    uint16_t reg;
    uint16_t value;
  };
  for (Default d : {Default{0x0340, 994}, Default{0x0342, 2732}, Default{0x034C, 1296}, Default{0x034E, 972},
                    Default{0x0202, 900}, Default{0x0204, 32}, Default{0x0100, 0}}) {
    ASSERT_TRUE(Read16(d.reg, &v));
    EXPECT_EQ(d.reg == 0x0100 ? v >> 8 : v, d.value) << std::hex << "register 0x" << d.reg;
  }
}

TEST_F(SensorTest, SoftwareResetRestoresRegistersButKeepsTheLens) {
  PowerUp();
  ASSERT_TRUE(Program({{0x3146, 0x80}, {0x3130, 0x03}, {0x3131, 0x01}, {0x3132, 0x2C}}));  // lens 300
  ASSERT_TRUE(Write16(0x0340, 1000));
  ASSERT_TRUE(Write8(0x0100, 1));
  ASSERT_TRUE(Write8(0x0103, 1));
  uint16_t v = 0;
  ASSERT_TRUE(Read16(0x0340, &v));
  EXPECT_EQ(v, 994);
  EXPECT_EQ(BoardSensorRegister(0x0103), 0);
  EXPECT_FALSE(BoardSensorState().streaming);
  EXPECT_FALSE(BoardSensorState().actuatorEnabled);
  EXPECT_EQ(BoardSensorState().lensTarget, 300u);
}

TEST_F(SensorTest, HardwareResetRefusesTransfersAndParksTheLens) {
  PowerUp();
  ASSERT_TRUE(Program({{0x3146, 0x80}, {0x3130, 0x03}, {0x3131, 0x01}, {0x3132, 0x2C}}));
  ASSERT_TRUE(Write16(0x0340, 1000));
  CameraSensorGPIO_Out(CAMERA_GPIO_KIND_RESET, 0);
  uint16_t v = 0;
  EXPECT_FALSE(Read16(0x0340, &v));
  EXPECT_EQ(BoardSensorState().lensCode, 0u);
  EXPECT_TRUE(BoardSensorState().inReset);
  CameraSensorGPIO_Out(CAMERA_GPIO_KIND_RESET, 1);
  Plindor_WaitMicroSeconds(10000);
  ASSERT_TRUE(Read16(0x0340, &v));
  EXPECT_EQ(v, 994);
  auto lens = BoardLensHistory();
  ASSERT_FALSE(lens.empty());
  EXPECT_EQ(lens.back().to, 0u);
}

// Frame timing is read from the frames' own time stamps in board time.
TEST_F(SensorTest, FramePeriodAndActiveTimeFollowTheRegisters) {
  struct Case {
    const char* name;
    bool full;
    uint16_t llp;
    uint32_t mclkHz;
    uint32_t width, height;
    double periodUs;
  };
  const Case cases[] = {
      {"preview", false, 2732, 24000000, 1296, 972, 994 * 2732 / kPclk * 1e6},      // 33,945.1
      {"full resolution", true, 2732, 24000000, 2608, 1960, 1974 * 2732 / kPclk * 1e6},  // 67,412.1
      {"preview with stretched lines", false, 5519, 24000000, 1296, 972, 994 * 5519 / kPclk * 1e6},
      {"preview at a 19.2 MHz clock", false, 2732, 19200000, 1296, 972, 994 * 2732 / 64e6 * 1e6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BoardSimReset();
    BoardSetSpeedUp(40);
    PowerUp(c.mclkHz);
    FrameRecorder& rec = *Recorder();
    if (c.full) { ASSERT_TRUE(ProgramFull()); }
    ASSERT_TRUE(Write16(0x0342, c.llp));
    int64_t before = BoardNowNs();
    ASSERT_TRUE(Write8(0x0100, 1));
    int64_t after = BoardNowNs();
    ASSERT_TRUE(BoardSensorWaitFrameEnd(3, 20000));
    ASSERT_TRUE(Write8(0x0100, 0));
    auto frames = rec.Take();
    ASSERT_GE(frames.size(), 3u);
    // Frame 1 starts at the write that starts streaming.
    EXPECT_EQ(frames[0].frame, 1u);
    EXPECT_GE(frames[0].startNs, before);
    EXPECT_LE(frames[0].startNs, after);
    EXPECT_EQ(frames[0].width, c.width);
    EXPECT_EQ(frames[0].height, c.height);
    for (size_t i = 1; i < 3; ++i)
      EXPECT_NEAR(double(frames[i].startNs - frames[i - 1].startNs) / 1000.0, c.periodUs, 0.01);
    double lineUs = c.periodUs / (c.full ? 1974 : 994);
    EXPECT_NEAR(double(frames[0].endNs - frames[0].startNs) / 1000.0, c.height * lineUs, 0.01);
    // The events carry the same times.
    auto events = BoardSensorFrameEvents();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[0].kind, kBoardStartOfFrame);
    EXPECT_EQ(events[0].timeNs, frames[0].startNs);
    EXPECT_EQ(events[1].kind, kBoardEndOfFrame);
    EXPECT_EQ(events[1].timeNs, frames[0].endNs);
  }
}

TEST_F(SensorTest, ExposureAndGainWrittenWhileStreamingActFromTheNextFrame) {
  // Writes against the sensor's own frame starts, in real time: no VFE runs, and a
  // paced board's time would stand while a start waits for the VFE model.
  BoardVfeSetPacing(false);
  BoardSetSpeedUp(20);
  PowerUp();
  FrameRecorder& rec = *Recorder();
  ASSERT_TRUE(Write16(0x0202, 500));
  ASSERT_TRUE(Write8(0x0100, 1));
  ASSERT_TRUE(WaitFrames(2));
  int64_t firstWrite = BoardNowNs();
  ASSERT_TRUE(Write16(0x0204, 64));
  ASSERT_TRUE(Write16(0x0202, 700));
  int64_t lastWrite = BoardNowNs();
  ASSERT_TRUE(WaitFrames(3));
  ASSERT_TRUE(Write8(0x0100, 0));
  auto frames = rec.Take();
  int before = 0, after = 0;
  for (const BoardFrameInfo& f : frames) {
    if (f.startNs < firstWrite) {
      ++before;
      EXPECT_EQ(f.gainCode, 32u) << "frame " << f.frame;
      EXPECT_EQ(f.integrationLines, 500u) << "frame " << f.frame;
      EXPECT_DOUBLE_EQ(f.exposureSeconds, 500 * 2732 / kPclk);
    } else if (f.startNs > lastWrite) {
      ++after;
      EXPECT_EQ(f.gainCode, 64u) << "frame " << f.frame;
      EXPECT_EQ(f.integrationLines, 700u) << "frame " << f.frame;
    }
  }
  EXPECT_GE(before, 2);
  EXPECT_GE(after, 2);
}

TEST_F(SensorTest, ExposureIsLimitedToTheFrameLengthAndGainCodesAreClamped) {
  struct Case {
    const char* name;
    uint16_t integration, gain, llp;
    double exposureSeconds;
    uint32_t gainCode;
    const char* log;
  };
  const Case cases[] = {
      {"within the frame", 500, 32, 2732, 500 * 2732 / kPclk, 32, nullptr},
      {"longer than the frame", 2000, 32, 2732, 990 * 2732 / kPclk, 32, nullptr},
      {"stretched lines", 990, 100, 5519, 990 * 5519 / kPclk, 100, nullptr},
      {"gain below 1x", 500, 16, 2732, 500 * 2732 / kPclk, 32, "gain code 16 outside 32..512"},
      {"gain above 16x", 500, 600, 2732, 500 * 2732 / kPclk, 512, "gain code 600 outside 32..512"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BoardSimReset();
    BoardSetSpeedUp(40);
    PowerUp();
    ASSERT_TRUE(Write16(0x0202, c.integration));
    ASSERT_TRUE(Write16(0x0204, c.gain));
    ASSERT_TRUE(Write16(0x0342, c.llp));
    ASSERT_TRUE(Write8(0x0100, 1));
    ASSERT_TRUE(WaitFrames(1));
    BoardFrameInfo f;
    ASSERT_TRUE(BoardSensorLatestFrame(&f));
    EXPECT_NEAR(f.exposureSeconds, c.exposureSeconds, 1e-9);
    EXPECT_EQ(f.gainCode, c.gainCode);
    if (c.log) { EXPECT_TRUE(BoardSensorLogContains(c.log)); }
    ASSERT_TRUE(Write8(0x0100, 0));
  }
}

// A spoilt setting stops the frames at the next frame start, with a log line.
TEST_F(SensorTest, NoFramesWhenTheRegistersOrTheClockCannotMakeOne) {
  struct Case {
    const char* name;
    std::function<bool()> spoil;
    const char* log;
  };
  const Case cases[] = {
      {"zero PLL divider", [] { return Write8(0x0305, 0); }, "PLL divider"},
      {"output wider than the binned read-out", [] { return Write16(0x034C, 1400); }, "does not fit the read-out"},
      {"unequal binning", [] { return Write8(0x3014, 0x00); }, "is not supported"},
      {"zero line length", [] { return Write16(0x0342, 0); }, "frame or line length is zero"},
      {"clock removed", [] { return CameraSensorCLK_ConfigMclk(0, CAMERA_MCLK_ARG) == 1; }, "no master clock"},
      {"module gone", [] { BoardSensorSetPresent(false); return true; }, "the module is gone"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BoardSimReset();
    BoardSetSpeedUp(40);
    PowerUp();
    ASSERT_TRUE(Write8(0x0100, 1));
    ASSERT_TRUE(WaitFrames(1));
    ASSERT_TRUE(c.spoil());
    for (int i = 0; i < 2000 && !BoardSensorLogContains(c.log); ++i) Plindor_WaitMicroSeconds(1000);
    EXPECT_TRUE(BoardSensorLogContains(c.log)) << BoardSensorSummaryText();
    EXPECT_FALSE(BoardSensorState().producing);
    uint32_t frames = BoardSensorState().frames;
    Plindor_WaitMicroSeconds(5000);  // 200 ms of board time
    EXPECT_EQ(BoardSensorState().frames, frames);
  }
}

// A module that comes back while its registers still say stream goes on.
TEST_F(SensorTest, AModuleThatComesBackStreamsOn) {
  BoardSetSpeedUp(40);
  PowerUp();
  ASSERT_TRUE(Write8(0x0100, 1));
  ASSERT_TRUE(WaitFrames(1));
  BoardSensorSetPresent(false);
  const uint32_t goneAt = BoardSensorState().frames;
  ASSERT_TRUE(BoardSensorWaitFrameEnd(goneAt, 20000));
  EXPECT_EQ(BoardSensorState().frames, goneAt);
  uint16_t id = 0;
  EXPECT_FALSE(Read16(0x0000, &id));
  BoardSensorSetPresent(true);
  ASSERT_TRUE(BoardSensorWaitFrameEnd(goneAt + 1, 20000)) << BoardSensorSummaryText();
  ASSERT_TRUE(Write8(0x0100, 0));
}

TEST_F(SensorTest, AStoppedStreamFinishesItsFrameAndRestartsAtTheWrite) {
  BoardSetSpeedUp(40);
  PowerUp();
  ASSERT_TRUE(Write8(0x0100, 1));
  ASSERT_TRUE(WaitFrames(1));
  ASSERT_TRUE(Write8(0x0100, 0));
  uint32_t stoppedAt = BoardSensorState().frames;
  // Every started frame ends; no new one starts in standby.
  ASSERT_TRUE(BoardSensorWaitFrameEnd(stoppedAt, 20000));
  Plindor_WaitMicroSeconds(5000);
  EXPECT_EQ(BoardSensorState().frames, stoppedAt);
  int64_t before = BoardNowNs();
  ASSERT_TRUE(Write8(0x0100, 1));
  ASSERT_TRUE(BoardSensorWaitFrameEnd(stoppedAt + 1, 20000));
  BoardFrameInfo f;
  ASSERT_TRUE(BoardSensorLatestFrame(&f));
  if (f.frame == stoppedAt + 1) { EXPECT_GE(f.startNs, before); }
  ASSERT_TRUE(Write8(0x0100, 0));
}

TEST_F(SensorTest, SlowFramesStretchThePeriodButNotTheExposure) {
  BoardSetSpeedUp(40);
  PowerUp();
  BoardSensorSetSlowFrames(2.0);
  FrameRecorder& rec = *Recorder();
  ASSERT_TRUE(Write8(0x0100, 1));
  ASSERT_TRUE(WaitFrames(2));
  ASSERT_TRUE(Write8(0x0100, 0));
  auto frames = rec.Take();
  ASSERT_GE(frames.size(), 2u);
  EXPECT_NEAR(double(frames[1].startNs - frames[0].startNs) / 1000.0, 2 * 994 * 2732 / kPclk * 1e6, 0.01);
  EXPECT_DOUBLE_EQ(frames[0].exposureSeconds, 900 * 2732 / kPclk);
}

TEST_F(SensorTest, TheActuatorMovesOnlyWhenEnabledAndSettlesWithinFourMilliseconds) {
  struct Case {
    const char* name;
    uint8_t enable, power;
    bool moves;
  };
  const Case cases[] = {
      {"enabled", 0x03, 0x80, true},
      {"enable register not written", 0x00, 0x80, false},
      {"power register not written", 0x03, 0x00, false},
      {"another enable value", 0x01, 0x80, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BoardSimReset();
    PowerUp();
    ASSERT_TRUE(Program({{0x3146, c.power}, {0x3130, c.enable}, {0x3131, 0x01}, {0x3132, 0x90}}));  // 400
    int64_t written = TransferTime(0x3132);
    auto lens = BoardLensHistory();
    ASSERT_EQ(lens.size(), 1u);
    EXPECT_EQ(lens[0].to, 400u);
    EXPECT_EQ(lens[0].moved, c.moves);
    EXPECT_LE(lens[0].timeNs, written);
    Plindor_WaitMicroSeconds(4000);
    EXPECT_EQ(BoardSensorState().lensCode, c.moves ? 400u : 0u);
    EXPECT_EQ(BoardSensorLogContains("written while the actuator is disabled"), !c.moves);
  }
}

TEST_F(SensorTest, FramesCarryTheLensPositionAtTheirStart) {
  BoardSetSpeedUp(40);
  PowerUp();
  ASSERT_TRUE(Program({{0x3146, 0x80}, {0x3130, 0x03}, {0x3131, 0x00}, {0x3132, 0xC8}}));  // 200
  Plindor_WaitMicroSeconds(1000);  // 40 ms of board time: settled
  ASSERT_TRUE(Write8(0x0100, 1));
  ASSERT_TRUE(WaitFrames(1));
  BoardFrameInfo f;
  ASSERT_TRUE(BoardSensorLatestFrame(&f));
  EXPECT_EQ(f.lensCode, 200u);
  ASSERT_TRUE(Write8(0x0100, 0));
}

TEST_F(SensorTest, FaultSwitchesAreSeenOnTheBus) {
  struct Case {
    const char* name;
    std::function<void()> fault;
    uint16_t reg;
    int failures;  // of three reads of `reg`
    uint16_t value;
  };
  const Case cases[] = {
      {"device absent", [] { BoardSensorSetPresent(false); }, 0x0000, 3, 0},
      {"wrong chip id", [] { BoardSensorSetChipId(0x1234); }, 0x0000, 0, 0x1234},
      {"revision override", [] { BoardSensorSetRevision(0x4008); }, 0x0002, 0, 0x4008},
      {"next two transfers refused", [] { BoardI2cNackNext(2); }, 0x0000, 2, 0x3E2F},
      {"one register refused", [] { BoardSensorNackRegister(0x0003, true); }, 0x0002, 3, 0},
      {"its neighbour still answers", [] { BoardSensorNackRegister(0x0003, true); }, 0x0000, 0, 0x3E2F},
      {"bus answers nothing", [] { BoardI2cSetNoAnswer(true); }, 0x0000, 3, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BoardSimReset();
    PowerUp();
    c.fault();
    int failures = 0;
    uint16_t v = 0;
    for (int i = 0; i < 3; ++i) failures += Read16(c.reg, &v) ? 0 : 1;
    EXPECT_EQ(failures, c.failures);
    if (failures < 3) { EXPECT_EQ(v, c.value); }
  }
}

TEST_F(SensorTest, ARefusedRegisterFailsOnlyTheWritesThatTouchIt) {
  PowerUp();
  BoardSensorNackRegister(0x3112, true);
  EXPECT_FALSE(Write8(0x3112, 0x0A));
  EXPECT_TRUE(Write8(0x3111, 0x0A));
  auto log = BoardI2cTransfers();
  ASSERT_GE(log.size(), 2u);
  EXPECT_FALSE(log[log.size() - 2].ack);
  EXPECT_TRUE(log.back().ack);
  BoardSensorNackRegister(0x3112, false);
  EXPECT_TRUE(Write8(0x3112, 0x0A));
}

TEST_F(SensorTest, TheSummaryNamesTheCurrentMode) {
  PowerUp();
  ASSERT_TRUE(Program({{0x3146, 0x80}, {0x3130, 0x03}, {0x3131, 0x01}, {0x3132, 0x90}}));
  Plindor_WaitMicroSeconds(5000);
  std::string text = BoardSensorSummaryText();
  for (const char* part : {"W=1296 ", "H=972 ", "FLL=994 ", "LLP=2732 ", "pclk=80000000 ", "T=33945us ",
                           "integration=900 ", "gain=32 ", "streaming=0 ", "lens=400 ", "led=off"})
    EXPECT_NE(text.find(part), std::string::npos) << part << " in " << text;
  BoardSensorSummary m = BoardSensorState();
  EXPECT_TRUE(m.clocked);
  EXPECT_FALSE(m.inReset);
  EXPECT_EQ(m.mclkHz, 24000000u);
}

}  // namespace
