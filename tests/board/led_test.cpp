// The LED model driven by the platform library's flash calls: the torch pulse
// program decoded, flash and torch together, off, the hold warning, and the
// LED's light in the frames.
#include <numeric>
#include <string>
#include <vector>

#include "camera_module_fixture.h"

namespace {

class LedTest : public CameraModuleTest {
 protected:
  void SetUp() override {
    CameraModuleTest::SetUp();
    ASSERT_EQ(InitFlashLight(), 1);
  }
  void TearDown() override {
    PMICFlashLED_SetCurrent(0);
    CameraModuleTest::TearDown();
  }
  // Long enough for every decision of the decoder, even for a program the
  // loaded machine has cut into odd bursts.
  static BoardLedState Settled() {
    Plindor_WaitMicroSeconds(uint32_t(kLedProgramEndNs / 1000 + 10000));
    return BoardLedNow();
  }
  // The state's name without the torch level: a burst cut by the loaded machine
  // changes the level the decoder reads (checked where the program came whole).
  static std::string Shape(const std::string& name) {
    const size_t open = name.find("torch(");
    if (open == std::string::npos) return name;
    const size_t close = name.find(')', open);
    return name.substr(0, open) + "torch" + name.substr(close + 1);
  }
  static std::vector<std::string> Names(const std::vector<BoardLedState>& states) {
    std::vector<std::string> names;
    for (const BoardLedState& s : states) names.push_back(Shape(BoardLedStateName(s)));
    return names;
  }
  // True when `wanted` appears in `seen` in order (a loaded machine may add
  // short-lived states between them).
  static bool InOrder(const std::vector<std::string>& seen, const std::vector<std::string>& wanted) {
    size_t i = 0;
    for (const std::string& s : seen)
      if (i < wanted.size() && s == wanted[i]) ++i;
    return i == wanted.size();
  }
};

TEST_F(LedTest, TheTorchProgramIsDecodedFromItsPulseBursts) {
  ASSERT_EQ(PMICFlashLED_SetCurrent(30), 1);
  BoardLedState s = Settled();
  EXPECT_EQ(s.mode, kLedTorch);
  auto history = BoardLedHistory();
  ASSERT_FALSE(history.empty());
  // Plindor sends bursts of 20, 5, 19 and 4 pulses; the level is the last burst.
  if (s.torchProgram == std::vector<uint32_t>{20, 5, 19, 4}) {
    EXPECT_EQ(s.torchLevel, 4u);
    EXPECT_EQ(BoardLedStateName(s), "torch(4)");
    EXPECT_EQ(BoardLedStateName(history.back()), "torch(4)");
  } else {
    EXPECT_EQ(s.torchLevel, s.torchProgram.empty() ? 0u : s.torchProgram.back());
  }
  // All 48 pulses arrive, whatever the machine's load did to the gaps.
  uint32_t pulses = 0;
  for (const BoardLedState& h : history) pulses += std::accumulate(h.torchProgram.begin(), h.torchProgram.end(), 0u);
  EXPECT_EQ(pulses, 48u) << ::testing::PrintToString(Names(history)) << " " << [&] {
    std::string t;
    for (const BoardLedState& h : history) {
      t += "[";
      for (uint32_t b : h.torchProgram) t += std::to_string(b) + " ";
      t += "@" + std::to_string(h.sinceNs) + "] ";
    }
    return t;
  }();
  if (history.size() == 1) { EXPECT_EQ(s.torchProgram, (std::vector<uint32_t>{20, 5, 19, 4})); }
}

TEST_F(LedTest, StatesFollowTheDriverCallsWithTimes) {
  struct Step {
    const char* name;
    uint32_t level;
    const char* state;
  };
  const Step steps[] = {
      {"torch for the preview", 30, "torch"},
      {"strobe on top", 100, "torch+flash"},
      {"stop", 0, "off"},
      {"strobe alone", 100, "flash"},
      {"stop again", 0, "off"},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.name);
    ASSERT_EQ(PMICFlashLED_SetCurrent(s.level), 1);
    EXPECT_EQ(Shape(BoardLedStateName(Settled())), s.state);
  }
  // The stop drops the flash line before the torch line: the torch burns alone
  // for the moment between.
  const std::vector<std::string> expected = {"torch", "torch+flash", "torch", "off", "flash", "off"};
  auto history = BoardLedHistory();
  EXPECT_TRUE(InOrder(Names(history), expected)) << ::testing::PrintToString(Names(history));
  for (size_t i = 1; i < history.size(); ++i) EXPECT_GE(history[i].sinceNs, history[i - 1].sinceNs) << "change " << i;
  EXPECT_TRUE(BoardLedWarnings().empty());
}

TEST_F(LedTest, AFlashHeldTooLongIsWarnedAbout) {
  BoardSetSpeedUp(100);  // the hold limit is board time
  ASSERT_EQ(PMICFlashLED_SetCurrent(100), 1);
  Plindor_WaitMicroSeconds(30000);  // three seconds of board time
  auto warnings = BoardLedWarnings();
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("flash held on"), std::string::npos);
  ASSERT_EQ(PMICFlashLED_SetCurrent(0), 1);
  EXPECT_EQ(BoardLedWarnings().size(), 1u);  // once per hold
}

TEST_F(LedTest, UnconfiguredLinesStillLightTheLed) {
  // A module test that skips the flash initialisation still drives the lines.
  BoardSimReset();
  ASSERT_EQ(PMICFlashLED_SetCurrent(100), 1);
  EXPECT_EQ(BoardLedNow().mode, kLedFlash);
  EXPECT_GT(BoardGpioLineState(kLedFlashGpio).unconfiguredDrives, 0u);
}

TEST_F(LedTest, FramesExposedWhileTheLedIsOnGetItsLight) {
  BoardSetSpeedUp(40);
  PowerUp();
  ASSERT_TRUE(Write8(0x0100, 1));
  ASSERT_TRUE(WaitFrames(1));
  BoardFrameInfo f;
  ASSERT_TRUE(BoardSensorLatestFrame(&f));
  EXPECT_EQ(f.ledLight, 0.0f);
  ASSERT_EQ(PMICFlashLED_SetCurrent(30), 1);
  Settled();
  ASSERT_TRUE(WaitFrames(2));
  ASSERT_TRUE(BoardSensorLatestFrame(&f));
  EXPECT_EQ(f.ledLight, kLedTorchLight);
  ASSERT_EQ(PMICFlashLED_SetCurrent(100), 1);
  ASSERT_TRUE(WaitFrames(2));
  ASSERT_TRUE(BoardSensorLatestFrame(&f));
  EXPECT_EQ(f.ledLight, kLedTorchLight + kLedFlashLight);
  const std::string summary = BoardSensorSummaryText();
  EXPECT_NE(summary.find("led=torch("), std::string::npos) << summary;
  EXPECT_NE(summary.find(")+flash"), std::string::npos) << summary;
  ASSERT_TRUE(Write8(0x0100, 0));
}

}  // namespace
