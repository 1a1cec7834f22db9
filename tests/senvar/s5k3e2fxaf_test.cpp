// The S5K3E2FX focus actuator driver through the sensor driver's focus
// command, against the board's actuator model: homing, the five sub-moves with
// their spacing, the travel limits, and bus failures.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "board_vfe.h"
#include "sensorafdriver_s5k3e2fx.h"
#include "senvar_fixture.h"

namespace senvartest {
namespace {

using senvartest::operator<<;

class FocusTest : public SenvarTest {
 protected:
  void SetUp() override {
    SenvarTest::SetUp();
    // The actuator's settling pauses are real time: board time must run through
    // them, not stand while paced frame starts wait for a VFE this test never runs.
    BoardVfeSetPacing(false);
    sensor_ = PoweredSensor().Get();
    // As the camera runs it: a mode first (it enables the actuator too, which
    // a sensor power cycle disables again).
    SensorModeRecord preview{};
    preview.resolution = {1296, 972};
    preview.exposureConfig = {256, 500};
    ASSERT_EQ(PVL_OK, Apply(sensor_.Get(), ZUEUID_SENSOR_CMD_SENSOR_MODE, preview));
    BoardI2cClearRecords();
    BoardSensorClearLogs();
  }
  void TearDown() override {
    sensor_.Reset();
    SenvarTest::TearDown();
  }
  PvlResult Focus(int32_t direction, int32_t steps, uint8_t reset, SensorFocusRecord* reply = nullptr) {
    SensorFocusRecord request{direction, steps, {reset, {0, 0, 0}}};
    uint32_t length = 0;
    return sensor_->Command(ZUEUID_SENSOR_CMD_FOCUS, &request, sizeof request, reply, reply ? sizeof *reply : 0,
                            reply ? &length : nullptr);
  }
  // Homes the lens, then moves it up to `code` (a multiple of 27) in one move.
  void LensAt(int32_t code) {
    ASSERT_EQ(PVL_OK, Focus(0, 0, 1));
    if (code) {
      ASSERT_EQ(PVL_OK, Focus(1, code / 27, 0));
    }
    ASSERT_EQ(S5K3E2FX_AF_LensPosition(), code);
    BoardI2cClearRecords();
    BoardSensorClearLogs();
  }
  // Lens codes written, in order (each 0x3132 write completes one).
  static std::vector<int32_t> CodesWritten() {
    std::vector<int32_t> codes;
    int32_t high = 0;
    for (const auto& w : Writes()) {
      if (w.first == 0x3131) high = w.second & 3;
      if (w.first == 0x3132) codes.push_back((high << 8) | w.second);
    }
    return codes;
  }

  CPvlPtr<ICameraDriver> sensor_;
};

struct MoveCase {
  const char* name;
  int32_t start, direction, steps;
  std::vector<int32_t> codes;  // after each sub-move
  int64_t settleNs;            // the pause after each
};

class MoveTest : public FocusTest, public ::testing::WithParamInterface<MoveCase> {};

TEST_P(MoveTest, FiveSubMovesWithTheirPauses) {
  const MoveCase& c = GetParam();
  LensAt(c.start);
  ASSERT_EQ(PVL_OK, Focus(c.direction, c.steps, 0));
  EXPECT_EQ(CodesWritten(), c.codes);
  EXPECT_EQ(S5K3E2FX_AF_LensPosition(), c.codes.back());
  // The lens went where it was told, no sub-move sooner than the last settled.
  std::vector<BoardLensMove> moves = BoardLensHistory();
  ASSERT_EQ(moves.size(), c.codes.size());
  for (size_t i = 0; i < moves.size(); ++i) {
    EXPECT_TRUE(moves[i].moved) << i;
    EXPECT_EQ(int32_t(moves[i].to), c.codes[i]) << i;
    if (i) {
      EXPECT_GE(moves[i].timeNs - moves[i - 1].timeNs, c.settleNs) << i;
    }
  }
  EXPECT_EQ(int32_t(BoardSensorState().lensCode), c.codes.back());
}

INSTANTIATE_TEST_SUITE_P(
    Sensor, MoveTest,
    ::testing::Values(MoveCase{"UpTwoSteps", 108, 1, 2, {119, 130, 140, 151, 162}, 6000000},
                      MoveCase{"DownOneStep", 108, 2, 1, {103, 97, 92, 86, 81}, 4000000},
                      MoveCase{"UpOneStep", 0, 1, 1, {5, 11, 16, 22, 27}, 4000000},
                      MoveCase{"StopsAtTheTop", 972, 1, 4, {994, 1015, 1023, 1023, 1023}, 6000000},
                      MoveCase{"StopsAtHome", 54, 2, 3, {38, 22, 5, 0, 0}, 6000000},
                      MoveCase{"NoSteps", 108, 1, 0, {108, 108, 108, 108, 108}, 4000000},
                      MoveCase{"NegativeStepsGoTheOtherWay", 108, 1, -1, {103, 97, 92, 86, 81}, 4000000}),
    [](const ::testing::TestParamInfo<MoveCase>& info) { return std::string(info.param.name); });

TEST_F(FocusTest, ResetEnablesTheActuatorOnceThenHomes) {
  const bool enabledBefore = S5K3E2FX_AF_Initialised();
  ASSERT_EQ(PVL_OK, Focus(0, 0, 1));
  std::vector<std::pair<uint16_t, uint8_t>> home = {{0x3131, 0x00}, {0x3132, 0x00}};
  std::vector<std::pair<uint16_t, uint8_t>> first = {{0x3146, 0x80}, {0x3130, 0x03}, {0x3131, 0x00}, {0x3132, 0x00}};
  EXPECT_EQ(Writes(), enabledBefore ? home : first);
  EXPECT_TRUE(S5K3E2FX_AF_Initialised());
  BoardI2cClearRecords();
  ASSERT_EQ(PVL_OK, Focus(0, 0, 1));
  EXPECT_EQ(Writes(), home);
  EXPECT_TRUE(BoardSensorState().actuatorEnabled);
}

// A sensor reset clears the enable, which only a mode sets again: a move ahead
// of the mode (a focus step set before the preview) enables the actuator and
// counts from home, where the sensor's power-up parked the lens; once enabled,
// a move writes only codes.
TEST_F(FocusTest, AMoveFindsTheActuatorDisabledAndEnablesItFirst) {
  LensAt(54);
  uint8_t off = 0;
  CameraSensorI2C_Command clear{};
  clear.slaveAddress = 0x20;
  clear.flags = 0x22;
  clear.registerAddress = 0x3130;
  clear.data = &off;
  clear.length = 1;
  ASSERT_TRUE(CameraSensorI2C_Write(&clear));
  ASSERT_FALSE(BoardSensorState().actuatorEnabled);
  BoardI2cClearRecords();
  BoardSensorClearLogs();
  ASSERT_EQ(PVL_OK, Focus(1, 1, 0));
  std::vector<std::pair<uint16_t, uint8_t>> writes = Writes();
  ASSERT_GE(writes.size(), 4u);
  std::vector<std::pair<uint16_t, uint8_t>> enable = {{0x3146, 0x80}, {0x3130, 0x03}, {0x3131, 0x00}, {0x3132, 0x00}};
  const std::vector<std::pair<uint16_t, uint8_t>> first(writes.begin(), writes.begin() + 4);
  EXPECT_EQ(first, enable);
  const std::vector<int32_t> codes = {0, 5, 11, 16, 22, 27};
  EXPECT_EQ(CodesWritten(), codes);
  for (const BoardLensMove& m : BoardLensHistory()) EXPECT_TRUE(m.moved) << m.to;
  EXPECT_EQ(BoardSensorState().lensCode, 27u);
  BoardI2cClearRecords();
  ASSERT_EQ(PVL_OK, Focus(1, 1, 0));
  for (const auto& w : Writes()) EXPECT_TRUE(w.first == 0x3131 || w.first == 0x3132) << std::hex << w.first;
  EXPECT_EQ(S5K3E2FX_AF_LensPosition(), 54);
}

TEST_F(FocusTest, NoDirectionWritesNothingAndEchoes) {
  LensAt(54);
  for (int32_t direction : {0, 3}) {
    SensorFocusRecord reply{};
    EXPECT_EQ(PVL_OK, Focus(direction, 2, 0, &reply)) << direction;
    EXPECT_EQ(reply.focusDirection, direction);
    EXPECT_EQ(reply.nFocusSteps, 2);
  }
  EXPECT_TRUE(Transfers().empty());
  EXPECT_EQ(S5K3E2FX_AF_LensPosition(), 54);
}

TEST_F(FocusTest, RecordRules) {
  uint32_t length = 0;
  SensorFocusRecord record{};
  // Nothing applied yet (in this driver object): the stored record reads zero.
  std::memset(&record, 0x5A, sizeof record);
  ASSERT_EQ(PVL_OK, sensor_->Command(ZUEUID_SENSOR_CMD_FOCUS, nullptr, 0, &record, sizeof record, &length));
  EXPECT_EQ(length, 12u);
  EXPECT_EQ(record.focusDirection, 0);
  EXPECT_EQ(record.nFocusSteps, 0);
  EXPECT_EQ(record.bResetFocus.value, 0);
  EXPECT_EQ(PVL_E_BADARG, sensor_->Command(ZUEUID_SENSOR_CMD_FOCUS, nullptr, 0, nullptr, 0, &length));
  EXPECT_EQ(PVL_E_BADARG, sensor_->Command(ZUEUID_SENSOR_CMD_FOCUS, &record, 8, nullptr, 0, nullptr));
  EXPECT_EQ(PVL_E_BADARG, sensor_->Command(ZUEUID_SENSOR_CMD_FOCUS, nullptr, 0, &record, 16, &length));
  EXPECT_TRUE(Transfers().empty());
}

TEST_F(FocusTest, TheLensDriverOnItsOwn) {
  CPvlPtr<ICameraDriver> lens;
  ASSERT_EQ(PVL_OK, Mod_ClassFactory(env_.Get(), ZUEUID_CLASS_S5K3E2FX_AF_DRIVER, nullptr,
                                        reinterpret_cast<void**>(lens.Out())));
  EXPECT_EQ(PVL_E_UNSUPPORTED, lens->Stop());
  EXPECT_EQ(PVL_E_UNSUPPORTED, Run(lens.Get(), ZUEUID_SENSOR_CMD_POWER_UP));
  uint32_t length = 5;
  EXPECT_EQ(PVL_E_UNSUPPORTED, lens->OptionalQueryB(nullptr, 0, &length));
  EXPECT_EQ(length, 0u);
  void* out = nullptr;
  EXPECT_EQ(PVL_E_NOTSUPPORTED, S5K3E2FX_AF_CreateInstance(env_.Get(), ZUEUID_CLASS_S5K3E2FX_SENSOR_DRIVER, nullptr, &out));
  EXPECT_EQ(PVL_E_NULLPTR, S5K3E2FX_AF_CreateInstance(nullptr, ZUEUID_CLASS_S5K3E2FX_AF_DRIVER, nullptr, &out));
  OrbhostTest_FailAllocation(1);
  EXPECT_EQ(PVL_E_OUTOFMEMORY, S5K3E2FX_AF_CreateInstance(env_.Get(), ZUEUID_CLASS_S5K3E2FX_AF_DRIVER, nullptr, &out));
  EXPECT_EQ(out, nullptr);
}

struct FocusFaultCase {
  const char* name;
  uint16_t nackRegister;
  bool reset;
};

class FocusFaultTest : public FocusTest, public ::testing::WithParamInterface<FocusFaultCase> {};

TEST_P(FocusFaultTest, ABusFailureIsTheAnswer) {
  const FocusFaultCase& c = GetParam();
  LensAt(108);
  BoardSensorNackRegister(c.nackRegister, true);
  PvlResult r = PVL_OK;
  std::vector<std::string> log = LogLines([&] { r = c.reset ? Focus(0, 0, 1) : Focus(1, 2, 0); });
  BoardSensorNackRegister(c.nackRegister, false);
  EXPECT_EQ(r, PVL_E_FAIL);
  EXPECT_EQ(CountContaining(log, "I2C write failed with register = " + [&] {
              char hex[8];
              snprintf(hex, sizeof hex, "%x", c.nackRegister);
              return std::string(hex);
            }()),
            1u);
  // The driver's position is the last one the actuator took.
  EXPECT_EQ(S5K3E2FX_AF_LensPosition(), 108);
  EXPECT_EQ(int32_t(BoardSensorState().lensTarget), 108);
}

INSTANTIATE_TEST_SUITE_P(Sensor, FocusFaultTest,
                         ::testing::Values(FocusFaultCase{"MoveLowByte", 0x3132, false},
                                           FocusFaultCase{"MoveHighByte", 0x3131, false},
                                           FocusFaultCase{"Home", 0x3132, true}),
                         [](const ::testing::TestParamInfo<FocusFaultCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace senvartest
