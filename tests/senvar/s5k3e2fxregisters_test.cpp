// The S5K3E2FX register programming as the sensor model sees it: the
// initialisation and the two mode sequences, the frames the model then makes,
// gain and line tables, and the bus failures that must reach the command's
// answer.
#include <algorithm>
#include <cstring>
#include <functional>

#include "board_vfe.h"
#include "ccamerasensordriver_s5k3e2fx_5m_bayer.h"
#include "s5k3e2fxregisters.h"
#include "senvar_fixture.h"

namespace senvartest {
namespace {

using senvartest::operator<<;

using Writes_t = std::vector<std::pair<uint16_t, uint8_t>>;

class RegisterTest : public SenvarTest {
 protected:
  CPvlPtr<ICameraDriver> CreatedSensor() {
    CPvlPtr<ICameraDriver> sensor;
    EXPECT_EQ(PVL_OK, CreateSensor(sensor));
    BoardI2cClearRecords();
    return sensor;
  }
  static SensorModeRecord ModeRequest(int32_t width, int32_t height, int32_t gain = 256, int32_t lines = 500) {
    SensorModeRecord r{};
    r.resolution = {width, height};
    r.decimation = {1, 1, 1};
    r.exposureConfig = {gain, lines};
    return r;
  }
  static size_t CountWrites(const Writes_t& w, uint16_t reg) {
    return size_t(std::count_if(w.begin(), w.end(), [&](const auto& p) { return p.first == reg; }));
  }
  static std::vector<uint8_t> ValuesOf(const Writes_t& w, uint16_t reg) {
    std::vector<uint8_t> out;
    for (const auto& p : w)
      if (p.first == reg) out.push_back(p.second);
    return out;
  }
  static size_t IndexOf(const Writes_t& w, uint16_t reg, uint8_t value) {
    for (size_t i = 0; i < w.size(); ++i)
      if (w[i].first == reg && w[i].second == value) return i;
    return w.size();
  }
};

// The initialisation on the tuned revision and on another one.
struct InitCase {
  const char* name;
  uint16_t revision;
  size_t writes;
  std::vector<uint8_t> v3001, v3003, v3008;
  bool extraGroup;  // 0x3060-0x3063 and 0x3023
};

class InitSequenceTest : public RegisterTest, public ::testing::WithParamInterface<InitCase> {};

TEST_P(InitSequenceTest, ProgramsPreviewAndStreams) {
  const InitCase& c = GetParam();
  BoardSensorSetRevision(c.revision);
  CPvlPtr<ICameraDriver> sensor = CreatedSensor();
  ASSERT_EQ(PVL_OK, Run(sensor.Get(), ZUEUID_SENSOR_CMD_POWER_UP));
  EXPECT_EQ(ReadRegisters(), std::vector<uint16_t>{0x0002});
  Writes_t w = Writes();
  ASSERT_EQ(w.size(), c.writes);
  EXPECT_EQ(w[0], std::make_pair(uint16_t(0x0103), uint8_t(0x01)));
  EXPECT_EQ(w[1], std::make_pair(uint16_t(0x0100), uint8_t(0x00)));
  EXPECT_EQ(w[2], std::make_pair(uint16_t(0x0305), uint8_t(0x06)));
  EXPECT_EQ(w.back(), std::make_pair(uint16_t(0x0100), uint8_t(0x01)));
  EXPECT_EQ(ValuesOf(w, 0x3001), c.v3001);
  EXPECT_EQ(ValuesOf(w, 0x3003), c.v3003);
  EXPECT_EQ(ValuesOf(w, 0x3008), c.v3008);
  EXPECT_EQ(CountWrites(w, 0x3060), c.extraGroup ? 1u : 0u);
  EXPECT_EQ(CountWrites(w, 0x3023), c.extraGroup ? 1u : 0u);
  // The analogue block, once per register in ascending order.
  size_t first = IndexOf(w, 0x3200, g_S5K3E2FXBlock[0]);
  ASSERT_LT(first + S5K3E2FX_BLOCK_SIZE, w.size());
  for (uint32_t i = 0; i < S5K3E2FX_BLOCK_SIZE; ++i)
    ASSERT_EQ(w[first + i], std::make_pair(uint16_t(0x3200 + i), g_S5K3E2FXBlock[i])) << i;

  // The model now makes preview frames at 80 MHz.
  BoardSensorSummary s = BoardSensorState();
  EXPECT_TRUE(s.streaming);
  EXPECT_EQ(s.pclkHz, 80000000u);
  EXPECT_EQ(s.width, 1296u);
  EXPECT_EQ(s.height, 972u);
  EXPECT_EQ(s.binning, 2u);
  EXPECT_EQ(s.fll, 994u);
  EXPECT_EQ(s.llp, 2732u);
  EXPECT_EQ(s.periodNs / 1000, 33945);
}

INSTANTIATE_TEST_SUITE_P(Sensor, InitSequenceTest,
                         ::testing::Values(InitCase{"TunedRevision", 0x4009, 504, {0x94}, {0x95}, {0x93, 0x93}, false},
                                           InitCase{"OtherRevision", 0x4008, 509, {0x99}, {0x9A}, {0x26, 0x93}, true}),
                         [](const ::testing::TestParamInfo<InitCase>& info) { return std::string(info.param.name); });

TEST_F(RegisterTest, InitWaitsAfterTheAnalogueResetToggle) {
  CPvlPtr<ICameraDriver> sensor = CreatedSensor();
  ASSERT_EQ(PVL_OK, Run(sensor.Get(), ZUEUID_SENSOR_CMD_POWER_UP));
  std::vector<Transfer> t = Transfers();
  auto toggle = std::find_if(t.begin(), t.end(), [](const Transfer& x) { return x.reg == 0x3112 && x.value == 0x09; });
  ASSERT_NE(toggle, t.end());
  ASSERT_NE(toggle + 1, t.end());
  EXPECT_EQ((toggle + 1)->reg, 0x30AC);
  EXPECT_GE((toggle + 1)->timeNs - toggle->timeNs, 5000000);
}

// The two modes from a streaming preview.
struct ModeCase {
  const char* name;
  int32_t width, height;
  uint32_t outWidth, outHeight, fll, binning;
  std::vector<uint32_t> timing;
  uint32_t decimation;
};

class ModeSequenceTest : public RegisterTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(ModeSequenceTest, StopsReprogramsAndRestarts) {
  const ModeCase& c = GetParam();
  CPvlPtr<ICameraDriver> sensor = PoweredSensor();
  ASSERT_EQ(PVL_OK, Apply(sensor.Get(), ZUEUID_SENSOR_CMD_SENSOR_MODE, ModeRequest(c.width, c.height, 256, 500)));
  EXPECT_EQ(ReadRegisters(), std::vector<uint16_t>{0x0002});
  Writes_t w = Writes();
  ASSERT_EQ(w.size(), 79u);  // 73 for the mode, then gain, line length and integration
  EXPECT_EQ(w[0], std::make_pair(uint16_t(0x0100), uint8_t(0x00)));
  EXPECT_EQ(w[72], std::make_pair(uint16_t(0x0100), uint8_t(0x01)));
  EXPECT_EQ(ValuesOf(w, 0x3130), std::vector<uint8_t>{0x03});
  EXPECT_EQ(ValuesOf(w, 0x3008), std::vector<uint8_t>{0x93});
  EXPECT_EQ(Writes_t(w.begin() + 73, w.end()),
            (Writes_t{{0x0204, 0x00}, {0x0205, 0x20}, {0x0342, 0x0A}, {0x0343, 0xAC}, {0x0202, 0x01}, {0x0203, 0xF4}}));
  // The exposure follows the restart only after the sensor settled.
  std::vector<Transfer> t = Transfers();
  auto restart = std::find_if(t.begin(), t.end(), [](const Transfer& x) { return x.reg == 0x0100 && x.value == 1; });
  ASSERT_NE(restart + 1, t.end());
  EXPECT_GE((restart + 1)->timeNs - restart->timeNs, 5000000);

  BoardSensorSummary s = BoardSensorState();
  EXPECT_TRUE(s.streaming);
  EXPECT_EQ(s.width, c.outWidth);
  EXPECT_EQ(s.height, c.outHeight);
  EXPECT_EQ(s.fll, c.fll);
  EXPECT_EQ(s.llp, 2732u);
  EXPECT_EQ(s.binning, c.binning);
  EXPECT_EQ(uint32_t(s.periodNs / 1000), c.timing[0]);

  SensorTiming timing{};
  ASSERT_EQ(PVL_OK, Read(sensor.Get(), ZUEUID_SENSOR_PROPERTY_TIMING, &timing));
  EXPECT_EQ(std::vector<uint32_t>(timing.Words, timing.Words + 4), c.timing);
  SensorGeometry g{};
  ASSERT_EQ(PVL_OK, Read(sensor.Get(), ZUEUID_SENSOR_PROPERTY_GEOMETRY, &g));
  EXPECT_EQ(std::vector<uint32_t>(g.Words, g.Words + 3), (std::vector<uint32_t>{2732, c.outHeight, c.outWidth}));
  EXPECT_EQ(g.Words[11], c.decimation);
  SensorGainInfo gain{};
  ASSERT_EQ(PVL_OK, Read(sensor.Get(), ZUEUID_SENSOR_PROPERTY_GAIN_INFO, &gain));
  EXPECT_EQ(gain.Words[1], 256u);
  EXPECT_EQ(gain.Words[4], c.fll);
}

INSTANTIATE_TEST_SUITE_P(
    Sensor, ModeSequenceTest,
    ::testing::Values(ModeCase{"Preview", 640, 480, 1296, 972, 994, 2, {33945, 33945, 80000000, 80000000}, 2},
                      ModeCase{"Full", 2608, 1960, 2608, 1960, 1974, 1, {67412, 67412, 80000000, 80000000}, 1}),
    [](const ::testing::TestParamInfo<ModeCase>& info) { return std::string(info.param.name); });

TEST_F(RegisterTest, ModeOnAnotherRevisionWritesItsSubstitutes) {
  BoardSensorSetRevision(0x4008);
  CPvlPtr<ICameraDriver> sensor = PoweredSensor();
  ASSERT_EQ(PVL_OK, Apply(sensor.Get(), ZUEUID_SENSOR_CMD_SENSOR_MODE, ModeRequest(2608, 1960)));
  Writes_t w = Writes();
  EXPECT_EQ(ValuesOf(w, 0x3001), std::vector<uint8_t>{0x99});
  EXPECT_EQ(ValuesOf(w, 0x3003), std::vector<uint8_t>{0x9A});
  EXPECT_EQ(ValuesOf(w, 0x3008), std::vector<uint8_t>{0x26});
  EXPECT_EQ(ValuesOf(w, 0x3062), std::vector<uint8_t>{0x01});
  EXPECT_EQ(ValuesOf(w, 0x3063), std::vector<uint8_t>{0x16});
}

// Gain: the real gain in 1/256 clamped to 1..16, the code 32 times it; the
// applied gain is the code's.
struct GainCase {
  const char* name;
  int32_t nGain;
  uint32_t code;
  int32_t applied;
};

class GainTest : public RegisterTest, public ::testing::WithParamInterface<GainCase> {};

TEST_P(GainTest, CodeAndAppliedGain) {
  const GainCase& c = GetParam();
  CPvlPtr<ICameraDriver> sensor = PoweredSensor();
  SensorExposureRecord request{c.nGain, 500}, reply{};
  uint32_t length = 0;
  ASSERT_EQ(PVL_OK, sensor->Command(ZUEUID_SENSOR_CMD_EXPOSURE, &request, 8, &reply, 8, &length));
  EXPECT_EQ(Register16(0x0204), c.code);
  EXPECT_EQ(reply.nGain, c.applied);
  EXPECT_EQ(reply.nIntegrationLineCount, 500);
  SensorGainInfo gain{};
  ASSERT_EQ(PVL_OK, Read(sensor.Get(), ZUEUID_SENSOR_PROPERTY_GAIN_INFO, &gain));
  EXPECT_EQ(int32_t(gain.Words[1]), c.applied);
}

INSTANTIATE_TEST_SUITE_P(Sensor, GainTest,
                         ::testing::Values(GainCase{"BelowOne", 100, 32, 256}, GainCase{"Unity", 256, 32, 256},
                                           GainCase{"Fraction", 300, 37, 296}, GainCase{"Three", 768, 96, 768},
                                           GainCase{"Sixteen", 4096, 512, 4096},
                                           GainCase{"AboveSixteen", 8192, 512, 4096},
                                           GainCase{"Negative", -256, 32, 256}),
                         [](const ::testing::TestParamInfo<GainCase>& info) { return std::string(info.param.name); });

// Lines: within the frame as asked; beyond it every line is stretched so the
// frame keeps its length, up to the longest line the register holds.
struct LineCase {
  const char* name;
  bool full;
  int32_t lines;
  uint32_t lineLength, integration;
};

class LineTest : public RegisterTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(LineTest, LineLengthAndIntegration) {
  const LineCase& c = GetParam();
  CPvlPtr<ICameraDriver> sensor = PoweredSensor();
  if (c.full) {
    ASSERT_EQ(PVL_OK, Apply(sensor.Get(), ZUEUID_SENSOR_CMD_SENSOR_MODE, ModeRequest(2608, 1960)));
  }
  ASSERT_EQ(PVL_OK, Apply(sensor.Get(), ZUEUID_SENSOR_CMD_EXPOSURE, SensorExposureRecord{256, c.lines}));
  EXPECT_EQ(Register16(0x0342), c.lineLength);
  EXPECT_EQ(Register16(0x0202), c.integration);
  EXPECT_EQ(Register16(0x0340), c.full ? 1974u : 994u);  // the frame keeps its length
}

INSTANTIATE_TEST_SUITE_P(Sensor, LineTest,
                         ::testing::Values(LineCase{"Short", false, 500, 2732, 500},
                                           LineCase{"WholeFrame", false, 994, 2732, 994},
                                           LineCase{"JustBeyond", false, 995, 2745, 989},
                                           LineCase{"TwiceTheFrame", false, 2000, 5519, 990},
                                           LineCase{"FullShort", true, 1500, 2732, 1500},
                                           LineCase{"FullStretched", true, 4000, 5547, 1970},
                                           // The longest line the register holds, not a wrapped one.
                                           LineCase{"LongestLine", false, 23800, 65535, 990},
                                           LineCase{"FarBeyond", false, 100000, 65535, 990}),
                         [](const ::testing::TestParamInfo<LineCase>& info) { return std::string(info.param.name); });

TEST_F(RegisterTest, ExposureBeforeAnyModeUsesThePreviewTiming) {
  // Straight after creation (no power-up, no mode): the sensor is clocked and
  // answers; the stretch must use the preview frame, not an unset one.
  CPvlPtr<ICameraDriver> sensor = CreatedSensor();
  ASSERT_EQ(PVL_OK, Apply(sensor.Get(), ZUEUID_SENSOR_CMD_EXPOSURE, SensorExposureRecord{256, 2000}));
  EXPECT_EQ(Register16(0x0342), 5519u);
  EXPECT_EQ(Register16(0x0202), 990u);
  ASSERT_EQ(PVL_OK, Apply(sensor.Get(), ZUEUID_SENSOR_CMD_EXPOSURE, SensorExposureRecord{256, 500}));
  EXPECT_EQ(Register16(0x0342), 2732u);
  EXPECT_EQ(Register16(0x0202), 500u);
}

TEST_F(RegisterTest, ExposureActsOnTheNextFrame) {
  // Writes against the sensor's own frame starts, in real time: no VFE runs, and a
  // paced board's time would stand while a start waits for the VFE model.
  BoardVfeSetPacing(false);
  BoardSetSpeedUp(20);
  CPvlPtr<ICameraDriver> sensor = PoweredSensor();
  ASSERT_TRUE(BoardSensorWaitFrameEnd(1, 5000));
  ASSERT_EQ(PVL_OK, Apply(sensor.Get(), ZUEUID_SENSOR_CMD_EXPOSURE, SensorExposureRecord{768, 600}));
  BoardFrameInfo now{};
  ASSERT_TRUE(BoardSensorLatestFrame(&now));
  ASSERT_TRUE(BoardSensorWaitFrameEnd(now.frame + 1, 5000));
  BoardFrameInfo next{};
  ASSERT_TRUE(BoardSensorLatestFrame(&next));
  EXPECT_EQ(next.gainCode, 96u);
  EXPECT_EQ(next.integrationLines, 600u);
  EXPECT_NEAR(next.exposureSeconds, 600 * 2732 / 80e6, 1e-9);
}

// A transfer the bus refuses three times ends the sequence and reaches the
// command's answer; the log names the register once.
struct BusFaultCase {
  const char* name;
  uint16_t nackRegister;
  bool viaMode;  // a mode change, else the exposure command
  const char* logged;
};

class BusFaultTest : public RegisterTest, public ::testing::WithParamInterface<BusFaultCase> {};

TEST_P(BusFaultTest, AnswersFailureAndStopsThere) {
  const BusFaultCase& c = GetParam();
  CPvlPtr<ICameraDriver> sensor = PoweredSensor();
  SensorTiming before{};
  ASSERT_EQ(PVL_OK, Read(sensor.Get(), ZUEUID_SENSOR_PROPERTY_TIMING, &before));
  BoardSensorNackRegister(c.nackRegister, true);
  PvlResult r = PVL_OK;
  std::vector<std::string> log = LogLines([&] {
    r = c.viaMode ? Apply(sensor.Get(), ZUEUID_SENSOR_CMD_SENSOR_MODE, ModeRequest(2608, 1960))
                  : Apply(sensor.Get(), ZUEUID_SENSOR_CMD_EXPOSURE, SensorExposureRecord{512, 700});
  });
  BoardSensorNackRegister(c.nackRegister, false);
  EXPECT_EQ(r, PVL_E_FAIL);
  EXPECT_EQ(CountContaining(log, c.logged), 1u);
  std::vector<Transfer> t = Transfers();
  ASSERT_FALSE(t.empty());
  EXPECT_EQ(t.back().reg, c.nackRegister);  // nothing after the refused one
  EXPECT_FALSE(t.back().ack);
  // The records still describe what the sensor runs.
  SensorTiming after{};
  ASSERT_EQ(PVL_OK, Read(sensor.Get(), ZUEUID_SENSOR_PROPERTY_TIMING, &after));
  EXPECT_EQ(0, std::memcmp(&before, &after, sizeof before));
  SensorExposureRecord exposure{};
  ASSERT_EQ(PVL_OK, Read(sensor.Get(), ZUEUID_SENSOR_CMD_EXPOSURE, &exposure));
  EXPECT_EQ(exposure.nIntegrationLineCount, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Sensor, BusFaultTest,
    ::testing::Values(BusFaultCase{"ModeMidway", 0x309E, true, "I2C writing failed with register = 309e, value = 52"},
                      BusFaultCase{"ModeRevisionRead", 0x0002, true, "I2C reading failed with register = 2"},
                      BusFaultCase{"ExposureLineLength", 0x0342, false,
                                   "I2C writing failed with register = 342, value = a"}),
    [](const ::testing::TestParamInfo<BusFaultCase>& info) { return std::string(info.param.name); });

// The mode change reports its failed exposure and leaves the timing record
// alone; the change asked again writes it.
TEST_F(RegisterTest, AModeWhoseExposureFailsIsReportedAndKeepsTheTiming) {
  CPvlPtr<ICameraDriver> sensor = PoweredSensor();
  SensorTiming before{};
  ASSERT_EQ(PVL_OK, Read(sensor.Get(), ZUEUID_SENSOR_PROPERTY_TIMING, &before));
  BoardSensorNackRegister(0x0202, true);
  EXPECT_EQ(PVL_E_FAIL, Apply(sensor.Get(), ZUEUID_SENSOR_CMD_SENSOR_MODE, ModeRequest(2608, 1960)));
  BoardSensorNackRegister(0x0202, false);
  EXPECT_TRUE(BoardSensorState().streaming);
  EXPECT_EQ(BoardSensorState().width, 2608u);
  SensorTiming timing{};
  ASSERT_EQ(PVL_OK, Read(sensor.Get(), ZUEUID_SENSOR_PROPERTY_TIMING, &timing));
  EXPECT_EQ(0, std::memcmp(&before, &timing, sizeof before)) << "the timing record is not written";
  SensorExposureRecord exposure{};
  ASSERT_EQ(PVL_OK, Read(sensor.Get(), ZUEUID_SENSOR_CMD_EXPOSURE, &exposure));
  EXPECT_EQ(exposure.nIntegrationLineCount, 0);  // never applied

  ASSERT_EQ(PVL_OK, Apply(sensor.Get(), ZUEUID_SENSOR_CMD_SENSOR_MODE, ModeRequest(2608, 1960)));
  ASSERT_EQ(PVL_OK, Read(sensor.Get(), ZUEUID_SENSOR_PROPERTY_TIMING, &timing));
  EXPECT_EQ(timing.Words[0], 67412u);
}

TEST_F(RegisterTest, InitFailureIsReportedAndEndsTheSequence) {
  CPvlPtr<ICameraDriver> sensor = CreatedSensor();
  BoardSensorNackRegister(0x3112, true);
  PvlResult r = PVL_OK;
  std::vector<std::string> log = LogLines([&] { r = Run(sensor.Get(), ZUEUID_SENSOR_CMD_POWER_UP); });
  BoardSensorNackRegister(0x3112, false);
  EXPECT_EQ(r, PVL_E_FAIL);
  EXPECT_EQ(CountContaining(log, "I2C writing failed with register = 3112, value = a"), 1u);
  EXPECT_EQ(Transfers().back().reg, 0x3112);
  EXPECT_FALSE(BoardSensorState().streaming);
  // RESET runs the same sequence and answers the same way.
  BoardSensorNackRegister(0x0103, true);
  EXPECT_EQ(PVL_E_FAIL, Run(sensor.Get(), ZUEUID_SENSOR_CMD_RESET));
  BoardSensorNackRegister(0x0103, false);
}

TEST_F(RegisterTest, RetriesAWriteTwiceBeforeGivingUp) {
  CPvlPtr<ICameraDriver> sensor = PoweredSensor();
  // Two refusals: the third try goes through, nothing is logged.
  BoardI2cNackNext(2);
  std::vector<std::string> log =
      LogLines([&] { EXPECT_EQ(PVL_OK, Apply(sensor.Get(), ZUEUID_SENSOR_CMD_EXPOSURE, SensorExposureRecord{256, 400})); });
  EXPECT_EQ(CountContaining(log, "I2C writing failed"), 0u);
  std::vector<Transfer> t = Transfers();
  ASSERT_GE(t.size(), 3u);
  EXPECT_EQ(t[0].reg, 0x0204);
  EXPECT_EQ(t[1].reg, 0x0204);
  EXPECT_EQ(t[2].reg, 0x0204);
  EXPECT_TRUE(t[2].ack);
  EXPECT_EQ(Register16(0x0202), 400u);
  // Three refusals: one log line, the command fails.
  BoardI2cClearRecords();
  BoardI2cNackNext(3);
  log = LogLines([&] { EXPECT_EQ(PVL_E_FAIL, Apply(sensor.Get(), ZUEUID_SENSOR_CMD_EXPOSURE, SensorExposureRecord{256, 400})); });
  EXPECT_EQ(CountContaining(log, "I2C writing failed with register = 204, value = 0"), 1u);
  EXPECT_EQ(Transfers().size(), 3u);
}

// The presence check reads the chip id with the register layer's three tries:
// a sensor that answers within them is there, whatever else fails.
TEST_F(RegisterTest, ThePresenceCheckCountsOnlyAChipThatNeverAnswers) {
  struct Case {
    const char* name;
    std::function<void()> fault;
    PvlResult expected;
    size_t transfers;
  };
  const Case cases[] = {
      {"answers", [] {}, PVL_OK, 1},
      {"answers on the third try", [] { BoardI2cNackNext(2); }, PVL_OK, 3},
      {"a refused register elsewhere", [] { BoardSensorNackRegister(0x0204, true); }, PVL_OK, 1},
      {"gone", [] { BoardSensorSetPresent(false); }, PVL_E_DEVICE_LOST, 3},
      {"bus answers nothing", [] { BoardI2cSetNoAnswer(true); }, PVL_E_DEVICE_LOST, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BoardSimReset();
    CPvlPtr<ICameraDriver> sensor = PoweredSensor();
    BoardI2cClearRecords();
    c.fault();
    EXPECT_EQ(c.expected, Run(sensor.Get(), ZUEUID_SENSOR_CMD_CHECK_PRESENCE));
    std::vector<Transfer> t = Transfers();
    EXPECT_EQ(t.size(), c.transfers);
    for (const Transfer& one : t) EXPECT_EQ(one.reg, 0x0000);
    BoardSensorNackRegister(0x0204, false);
  }
}

TEST_F(RegisterTest, CommandsToAPoweredDownSensorFailAtTheBus) {
  CPvlPtr<ICameraDriver> sensor = PoweredSensor();
  ASSERT_EQ(PVL_OK, Run(sensor.Get(), ZUEUID_SENSOR_CMD_POWER_DOWN));
  EXPECT_EQ(PVL_E_FAIL, Apply(sensor.Get(), ZUEUID_SENSOR_CMD_EXPOSURE, SensorExposureRecord{256, 400}));
  EXPECT_EQ(PVL_E_FAIL, Apply(sensor.Get(), ZUEUID_SENSOR_CMD_SENSOR_MODE, ModeRequest(640, 480)));
  // Nothing to ask of a sensor held in reset.
  EXPECT_EQ(PVL_E_NOTREADY, Run(sensor.Get(), ZUEUID_SENSOR_CMD_CHECK_PRESENCE));
  // Properties and frame timing answer in either state.
  SensorTiming timing{};
  EXPECT_EQ(PVL_OK, Read(sensor.Get(), ZUEUID_SENSOR_PROPERTY_TIMING, &timing));
}

}  // namespace
}  // namespace senvartest
