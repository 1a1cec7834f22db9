// The VFE driver object at its command level against the VFE hardware model:
// creation and release, the argument and size rules, the gate by phase, and
// the START, RESET, STOP and UPDATE sequences with their acknowledges and
// time-outs.
#include <algorithm>
#include <atomic>

#include "casename.h"
#include "isignalqueue.h"
#include "vfedriver_fixture.h"

namespace vfedrivertest {
namespace {

using Driver = VfeDriverTest;

// ---- Object --------------------------------------------------------------------------------

TEST_F(Driver, AnswersItsInterfacesAndNoOptionalOperation) {
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(PVL_E_NOTSUPPORTED, drv_->QueryInterface(0x12345678, &out));
  EXPECT_EQ(nullptr, out);
  ASSERT_EQ(PVL_OK, drv_->QueryInterface(ZUEUID_IFACE_CAMERA_DRIVER, &out));
  EXPECT_EQ(drv_, out);
  EXPECT_EQ(1, drv_->Release());
  uint32_t length = 7;
  EXPECT_EQ(PVL_E_UNSUPPORTED, drv_->OptionalQueryA(nullptr, 5, nullptr));
  EXPECT_EQ(PVL_E_UNSUPPORTED, drv_->OptionalQueryB(&length, 4, &length));
  EXPECT_EQ(PVL_E_UNSUPPORTED, drv_->OptionalSetA(nullptr));
  EXPECT_EQ(PVL_E_UNSUPPORTED, drv_->OptionalSetB(&length));
  EXPECT_EQ(7u, length);
}

TEST_F(Driver, ASecondDriverIsRefusedWithoutTouchingTheClocksOfTheFirst) {
  ChipSimClearCalls();
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(PVL_E_NOTREADY, VfeDriver_CreateInstance(env_, ZUEUID_CLASS_VFE_DRIVER, nullptr, &out));
  for (const ChipSimCall& c : ChipSimCalls()) EXPECT_EQ(std::string::npos, c.name.find("clk_regime")) << c.name;
  // The first one still works.
  EXPECT_EQ(PVL_OK, Cmd(VFE_CMD_RESET));
}

TEST_F(Driver, TheLastReleaseSwitchesTheClocksOffAndAllowsANewDriver) {
  ASSERT_TRUE(ChipSimRegimeEnabled(40));
  EXPECT_EQ(PVL_OK, drv_->Stop());
  EXPECT_EQ(0, drv_->Release());
  drv_ = nullptr;
  EXPECT_FALSE(ChipSimRegimeEnabled(40));
  void* out = nullptr;
  ASSERT_EQ(PVL_OK, VfeDriver_CreateInstance(env_, ZUEUID_CLASS_VFE_DRIVER, nullptr, &out));
  drv_ = static_cast<ICameraDriver*>(out);
  EXPECT_EQ(PVL_OK, Cmd(VFE_CMD_RESET));
}

// ---- Arguments and sizes -----------------------------------------------------------------

TEST_F(Driver, RecordAndSizeMustAgreeAndTheOutputArgumentsAreNeverTouched) {
  VfeMessage m{};
  EXPECT_EQ(PVL_E_NULLPTR, drv_->Command(VFE_CMD_READ_MESSAGE, nullptr, sizeof m, nullptr, 0, nullptr));
  EXPECT_EQ(PVL_E_NULLPTR, drv_->Command(VFE_CMD_READ_MESSAGE, &m, 0, nullptr, 0, nullptr));
  uint32_t outRecord = 0xAAAAAAAA, outLength = 0xBBBBBBBB;
  VfeOutputQuery q{};
  EXPECT_EQ(PVL_OK, drv_->Command(VFE_CMD_QUERY_OUTPUT, &q, sizeof q, &outRecord, 4, &outLength));
  EXPECT_EQ(0xAAAAAAAAu, outRecord);
  EXPECT_EQ(0xBBBBBBBBu, outLength);
}

struct SizeCase {
  const char* name;
  uint32_t command;
  uint32_t size;
  PvlResult expected;
};

class DriverSizes : public VfeDriverTest, public ::testing::WithParamInterface<SizeCase> {};

// A payload of the wrong size is refused before anything is read or written:
// a short record would be over-read, and the reading commands would write
// past it.
TEST_P(DriverSizes, PayloadSizeIsChecked) {
  const SizeCase& c = GetParam();
  std::vector<uint8_t> record(std::max<uint32_t>(c.size, 1) + 64, 0x5A);
  ChipSimTraceWindow(kVfeRegistersPhys, true);
  ChipSimTakeTrace();
  EXPECT_EQ(c.expected, drv_->Command(c.command, record.data(), c.size, nullptr, 0, nullptr));
  if (c.expected == PVL_E_BADARG) {
    EXPECT_TRUE(ChipSimTakeTrace().empty());
    for (uint32_t i = c.size; i < record.size(); ++i) ASSERT_EQ(0x5A, record[i]) << i;
  }
  ChipSimTraceWindow(kVfeRegistersPhys, false);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, DriverSizes,
    ::testing::Values(SizeCase{"StartShort", VFE_CMD_START, 19, PVL_E_BADARG},
                      SizeCase{"BlackLevelLong", VFE_CMD_BLACK_LEVEL, 11, PVL_E_BADARG},
                      SizeCase{"RolloffShort", VFE_CMD_ROLLOFF, 1783, PVL_E_BADARG},
                      SizeCase{"GammaShort", VFE_CMD_GAMMA, 8, PVL_E_BADARG},
                      SizeCase{"Block2Short", VFE_CMD_BLOCK2, 65, PVL_E_BADARG},
                      SizeCase{"Block2Longer", VFE_CMD_BLOCK2, 72, PVL_OK},
                      SizeCase{"ResetWithRecord", VFE_CMD_RESET, 4, PVL_E_BADARG},
                      SizeCase{"ReadMessageShort", VFE_CMD_READ_MESSAGE, 71, PVL_E_BADARG},
                      SizeCase{"HwInfoShort", VFE_CMD_GET_HW_INFO, 11, PVL_E_BADARG},
                      SizeCase{"QueryShort", VFE_CMD_QUERY_OUTPUT, 8, PVL_E_BADARG},
                      SizeCase{"AckOutputShort", VFE_CMD_ACK_OUTPUT, 7, PVL_E_BADARG},
                      SizeCase{"NotifyLong", VFE_CMD_SET_NOTIFY, uint32_t(sizeof(VfeNotifyCmd) + 4), PVL_E_BADARG},
                      SizeCase{"UnknownAnySize", 65, 3, PVL_E_UNSUPPORTED},
                      SizeCase{"Unassigned61", 61, 16, PVL_E_UNSUPPORTED}),
    camera::test::CaseName<SizeCase>);

TEST_F(Driver, HardwareInfoSplitsTheVersionRegister) {
  VfeHwInfo info{};
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_GET_HW_INFO, info));
  EXPECT_EQ(kVfeHardwareVersion & 0xFF, info.minor);
  EXPECT_EQ((kVfeHardwareVersion >> 8) & 0xFF, info.major);
  EXPECT_EQ((kVfeHardwareVersion >> 16) & 0xF, info.family);
}

// ---- The gate ---------------------------------------------------------------------------------

enum class Setup { Idle, Running, UpdatePending };
struct GateCase {
  const char* name;
  Setup setup;
  uint32_t command;
  PvlResult expected;
};

class DriverGate : public VfeDriverTest, public ::testing::WithParamInterface<GateCase> {};

// Without a streaming sensor no frame boundary comes, so an update stays pending.
TEST_P(DriverGate, CommandsByPhase) {
  const GateCase& c = GetParam();
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_RESET));
  if (c.setup != Setup::Idle) {
    ASSERT_EQ(PVL_OK, Start());
  }
  if (c.setup == Setup::UpdatePending) {
    ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_UPDATE));
  }
  std::vector<uint8_t> payload(2048, 0);
  uint32_t size = 0;
  switch (c.command) {
    case VFE_CMD_BLACK_LEVEL: case VFE_CMD_BLACK_LEVEL_UPDATE: size = sizeof(VfeBlackLevelCmd); break;
    case VFE_CMD_SET_NOTIFY: size = sizeof(VfeNotifyCmd); break;
    case VFE_CMD_START: size = sizeof(VfeOperationMode); break;
    case VFE_CMD_ACK_STATS_AF: case VFE_CMD_ACK_STATS_WB_EXP: size = 4; break;
    case VFE_CMD_AF_STATS: size = sizeof(VfeAfStatsCmd); break;
    case VFE_CMD_READ_MESSAGE: size = sizeof(VfeMessage); break;
    case VFE_CMD_ACK_OUTPUT_MODE1: size = sizeof(VfeAckOutputCmd); break;
    case VFE_CMD_QUERY_OUTPUT: size = sizeof(VfeOutputQuery); break;
    default: size = 0;
  }
  EXPECT_EQ(c.expected, drv_->Command(c.command, size ? payload.data() : nullptr, size, nullptr, 0, nullptr));
}

INSTANTIATE_TEST_SUITE_P(
    Matrix, DriverGate,
    ::testing::Values(
        GateCase{"IdleBlockConfig", Setup::Idle, VFE_CMD_BLACK_LEVEL, PVL_OK},
        GateCase{"IdleUpdateRefused", Setup::Idle, VFE_CMD_UPDATE, PVL_E_FAIL},
        GateCase{"IdleBlockUpdateRefused", Setup::Idle, VFE_CMD_BLACK_LEVEL_UPDATE, PVL_E_FAIL},
        GateCase{"IdleStatsAckRefused", Setup::Idle, VFE_CMD_ACK_STATS_AF, PVL_E_FAIL},
        GateCase{"Idle46Refused", Setup::Idle, 46, PVL_E_FAIL},
        GateCase{"IdleReadEmpty", Setup::Idle, VFE_CMD_READ_MESSAGE, PVL_E_STOPPED},
        GateCase{"IdleAfStats", Setup::Idle, VFE_CMD_AF_STATS, PVL_OK},
        GateCase{"Idle65", Setup::Idle, 65, PVL_E_UNSUPPORTED},
        GateCase{"IdleStop", Setup::Idle, VFE_CMD_STOP, PVL_OK},
        GateCase{"RunningStartRefused", Setup::Running, VFE_CMD_START, PVL_E_FAIL},
        GateCase{"RunningResetRefused", Setup::Running, VFE_CMD_RESET, PVL_E_FAIL},
        GateCase{"RunningBlockConfigRefused", Setup::Running, VFE_CMD_BLACK_LEVEL, PVL_E_FAIL},
        GateCase{"RunningNotifyRefused", Setup::Running, VFE_CMD_SET_NOTIFY, PVL_E_FAIL},
        GateCase{"RunningBlockUpdate", Setup::Running, VFE_CMD_BLACK_LEVEL_UPDATE, PVL_OK},
        GateCase{"RunningUpdate", Setup::Running, VFE_CMD_UPDATE, PVL_OK},
        GateCase{"Running46Unknown", Setup::Running, 46, PVL_E_UNSUPPORTED},
        GateCase{"Running65", Setup::Running, 65, PVL_E_UNSUPPORTED},
        GateCase{"RunningStatsAck", Setup::Running, VFE_CMD_ACK_STATS_WB_EXP, PVL_OK},
        GateCase{"RunningStop", Setup::Running, VFE_CMD_STOP, PVL_OK},
        GateCase{"PendingBlockUpdateRefused", Setup::UpdatePending, VFE_CMD_BLACK_LEVEL_UPDATE, PVL_E_FAIL},
        GateCase{"PendingUpdateRefused", Setup::UpdatePending, VFE_CMD_UPDATE, PVL_E_FAIL},
        GateCase{"PendingAfStatsRefused", Setup::UpdatePending, VFE_CMD_AF_STATS, PVL_E_FAIL},
        GateCase{"PendingStatsAck", Setup::UpdatePending, VFE_CMD_ACK_STATS_AF, PVL_OK},
        GateCase{"PendingStatsAck2", Setup::UpdatePending, VFE_CMD_ACK_STATS_WB_EXP, PVL_OK},
        GateCase{"PendingRead", Setup::UpdatePending, VFE_CMD_READ_MESSAGE, PVL_E_STOPPED},
        GateCase{"PendingAckOutput", Setup::UpdatePending, VFE_CMD_ACK_OUTPUT_MODE1, PVL_OK},
        GateCase{"PendingQuery", Setup::UpdatePending, VFE_CMD_QUERY_OUTPUT, PVL_OK},
        GateCase{"PendingStop", Setup::UpdatePending, VFE_CMD_STOP, PVL_OK}),
    camera::test::CaseName<GateCase>);

TEST_F(Driver, ABlockUpdateIsAcceptedAgainAfterTheUpdateAcknowledge) {
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_RESET));
  ASSERT_EQ(PVL_OK, Start());
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_UPDATE));
  VfeBlackLevelCmd black{};
  EXPECT_EQ(PVL_E_FAIL, Cmd(VFE_CMD_BLACK_LEVEL_UPDATE, black));
  StartSensor();  // the next frame boundary latches the update
  ASSERT_TRUE(WaitFor(MSG_VFE_UPDATE_ACK));
  EXPECT_EQ(PVL_OK, Cmd(VFE_CMD_BLACK_LEVEL_UPDATE, black));
}

// ---- RESET ----------------------------------------------------------------------------------------

TEST_F(Driver, ResetProgramsTheMaskAndWritesTheDefaultsAtItsAcknowledge) {
  BoardVfeAccessLog();
  uint64_t before = BoardVfeAccessLog().size();
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_RESET));
  std::vector<BoardVfeAccess> log = BoardVfeAccessLog();
  std::vector<std::pair<uint32_t, uint32_t>> writes;
  for (size_t i = before; i < log.size(); ++i)
    if (log[i].write && log[i].offset != 0x01C) writes.emplace_back(log[i].offset, log[i].value);
  ASSERT_GE(writes.size(), 3u);
  EXPECT_EQ(std::make_pair(0x018u, 0u), writes[0]);
  EXPECT_EQ(std::make_pair(0x018u, 0x200u), writes[1]);
  EXPECT_EQ(std::make_pair(0x004u, 0x3FFu), writes[2]);
  EXPECT_EQ(0x00800080u, BoardVfeWrittenRegister(0x1B4));
  EXPECT_EQ(0x000FFFFFu, BoardVfeWrittenRegister(0x00C));
  EXPECT_EQ(31u, BoardVfeWrittenRegister(0x2DC));
  EXPECT_EQ(0xFFFFFFFFu, BoardVfeWrittenRegister(0x2E8));
  EXPECT_EQ(0x00FFFFFFu, BoardVfeWrittenRegister(0x2EC));
  EXPECT_EQ(VfePhase::Idle, State().phase);
}

TEST_F(Driver, ResetWithoutItsAcknowledgeTimesOutAndCanBeSentAgain) {
  BoardVfeWithholdBit(9, true);
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(PVL_E_TIMEOUT, Cmd(VFE_CMD_RESET));
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(1900));
  BoardVfeWithholdBit(9, false);
  EXPECT_EQ(PVL_OK, Cmd(VFE_CMD_RESET));
}

TEST_F(Driver, ALostInterruptGivesATimeOutNotAHang) {
  BoardVfeLoseInterrupts(1);
  EXPECT_EQ(PVL_E_TIMEOUT, Cmd(VFE_CMD_RESET));
  // The next interrupt carries the bits that were left: the driver recovers.
  EXPECT_EQ(PVL_OK, Cmd(VFE_CMD_RESET));
}

TEST_F(Driver, TheResetAcknowledgeOfAStopDiscardsUnreadMessages) {
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_RESET));
  ASSERT_EQ(PVL_OK, Start());
  RaiseAndWait(1u << 1 | 1u << 21);  // a start of frame carrying a ring-2 report
  ASSERT_EQ(1u, State().ring[1].count);
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_STOP));
  VfeMessage m;
  EXPECT_EQ(PVL_E_STOPPED, Read(2, &m));
}

// ---- START ------------------------------------------------------------------------------------------

// OUTPUT1 has its two buffers, OUTPUT2 one: START refuses before taking any,
// so OUTPUT1's entries are not lost.
TEST_F(Driver, StartWithTooFewBuffersTakesNothingAndStaysIdle) {
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_RESET));
  ConfigurePipeline(2);
  Frame a = NewFrame(1), b = NewFrame(1), p = NewFrame(0), q = NewFrame(0);
  ASSERT_EQ(PVL_OK, Queue(0, std::vector<VfeBufferEntry>{p.entry, q.entry}));
  ASSERT_EQ(PVL_OK, Queue(1, a));
  EXPECT_EQ(VFE_E_TOO_FEW_BUFFERS, Start());
  EXPECT_EQ(VfePhase::Idle, State().phase);
  EXPECT_EQ(2u, State().path[0].ringCount);
  EXPECT_EQ(1u, State().path[1].ringCount);
  // With the second buffer the same START runs, the first buffers still first.
  ASSERT_EQ(PVL_OK, Queue(1, b));
  ASSERT_EQ(PVL_OK, Start());
  EXPECT_EQ(a.y.phys, BoardVfeWrittenRegister(0x030));
  EXPECT_EQ(b.y.phys, BoardVfeWrittenRegister(0x034));
  EXPECT_EQ(a.c.phys, BoardVfeWrittenRegister(0x040));
  EXPECT_EQ(b.c.phys, BoardVfeWrittenRegister(0x044));
  EXPECT_EQ(p.y.phys, BoardVfeWrittenRegister(0x050));
  EXPECT_EQ(q.c.phys, BoardVfeWrittenRegister(0x064));
}

TEST_F(Driver, StartOfASnapshotOfNoFramesIsRefused) {
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_RESET));
  EXPECT_EQ(PVL_E_BADARG, Start(1, 0));
  EXPECT_EQ(VfePhase::Idle, State().phase);
}

TEST_F(Driver, StartProgramsTheUpdateBeforeTheCameraInterface) {
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_RESET));
  size_t before = BoardVfeAccessLog().size();
  ASSERT_EQ(PVL_OK, Start());
  std::vector<BoardVfeAccess> log = BoardVfeAccessLog();
  std::vector<std::pair<uint32_t, uint32_t>> tail;
  for (size_t i = before; i < log.size(); ++i)
    if (log[i].write && (log[i].offset == 0x190 || log[i].offset == 0x028 || log[i].offset == 0x110 ||
                         log[i].offset == 0x0C8 || log[i].offset == 0x018))
      tail.emplace_back(log[i].offset, log[i].value);
  std::vector<std::pair<uint32_t, uint32_t>> expected = {
      {0x018, (1u << 1) | (1u << 8) | (1u << 9)}, {0x0C8, 1}, {0x190, 1}, {0x028, 0x10}, {0x110, 4}, {0x110, 1}};
  EXPECT_EQ(expected, tail);
  EXPECT_EQ(VfePhase::Running, State().phase);
  EXPECT_EQ(uint32_t(kSensorVfePixelOrder), BoardVfeWrittenRegister(0x014));
  EXPECT_EQ(0x9Cu, BoardVfeWrittenRegister(0x1BC));  // order 1
}

TEST_F(Driver, StartWithoutItsAcknowledgeStopsTheCameraInterfaceAndStaysIdle) {
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_RESET));
  BoardVfeWithholdBit(8, true);
  EXPECT_EQ(PVL_E_TIMEOUT, Start());
  BoardVfeWithholdBit(8, false);
  EXPECT_EQ(VfePhase::Idle, State().phase);
  EXPECT_EQ(2u, BoardVfeWrittenRegister(0x110));
  VfeBlackLevelCmd black{};
  EXPECT_EQ(PVL_OK, Cmd(VFE_CMD_BLACK_LEVEL, black));  // idle: configuration accepted
}

// ---- STOP -------------------------------------------------------------------------------------------

TEST_F(Driver, StopFromRunningEndsIdleWithoutResetDefaults) {
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_RESET));
  ASSERT_EQ(PVL_OK, Start());
  VfeChannelGainCmd gain{{100, 200, 300, 400}};
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_CHANNEL_GAIN_UPDATE, gain));
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_STOP));
  EXPECT_EQ(VfePhase::Idle, State().phase);
  EXPECT_EQ(100u | (200u << 16), BoardVfeWrittenRegister(0x1B4));  // no defaults after a stop
  EXPECT_EQ(0x3EFu, BoardVfeWrittenRegister(0x004));
  EXPECT_EQ(0x3C000200u, BoardVfeWrittenRegister(0x018));
}

TEST_F(Driver, StopGoesOnWhenTheStopStatusNeverComes) {
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_RESET));
  ASSERT_EQ(PVL_OK, Start());
  BoardVfeWithholdStopAck(true);
  EXPECT_EQ(PVL_OK, Cmd(VFE_CMD_STOP));
  BoardVfeWithholdStopAck(false);
  EXPECT_EQ(VfePhase::Idle, State().phase);
}

TEST_F(Driver, AStopThatTimesOutRefusesConfigurationUntilAStopCompletes) {
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_RESET));
  ASSERT_EQ(PVL_OK, Start());
  BoardVfeWithholdBit(9, true);
  EXPECT_EQ(PVL_E_TIMEOUT, Cmd(VFE_CMD_STOP));
  EXPECT_EQ(PVL_E_FAIL, Start());
  EXPECT_EQ(PVL_E_FAIL, Cmd(VFE_CMD_UPDATE));
  BoardVfeWithholdBit(9, false);
  EXPECT_EQ(PVL_OK, Cmd(VFE_CMD_STOP));
  EXPECT_EQ(PVL_OK, Cmd(VFE_CMD_RESET));
}

// Once a stop has begun only the reset acknowledge and bits 26-29 count.
TEST_F(Driver, WhileStoppingOnlyTheResetAndLateStatusBitsAreHandled) {
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_RESET));
  ASSERT_EQ(PVL_OK, Start());
  BoardVfeWithholdBit(9, true);
  EXPECT_EQ(PVL_E_TIMEOUT, Cmd(VFE_CMD_STOP));
  uint32_t frames = State().frameCounter;
  RaiseAndWait(1u << 26 | 1u << 21 | 1u << 1);
  std::vector<VfeMessage> ring1 = Drain(1);
  ASSERT_EQ(1u, ring1.size());
  EXPECT_EQ(uint32_t(MSG_VFE_STATUS_14), ring1[0].id);
  EXPECT_TRUE(Drain(2).empty());
  EXPECT_EQ(frames, State().frameCounter);
  BoardVfeWithholdBit(9, false);
  EXPECT_EQ(PVL_OK, Cmd(VFE_CMD_STOP));
}

// While an acknowledged command waits (its lock given up), no other
// configuration or acknowledged command slips in.
TEST_F(Driver, NothingRunsBesideAWaitingAcknowledgedCommand) {
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_RESET));
  BoardVfeWithholdBit(9, true);
  std::thread reset([&] { EXPECT_EQ(PVL_E_TIMEOUT, Cmd(VFE_CMD_RESET)); });
  while (!State().ackWaiting) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  VfeBlackLevelCmd black{};
  EXPECT_EQ(PVL_E_FAIL, Cmd(VFE_CMD_BLACK_LEVEL, black));
  EXPECT_EQ(PVL_E_FAIL, Start());
  EXPECT_EQ(PVL_E_FAIL, Cmd(VFE_CMD_STOP));
  VfeOutputQuery q;
  EXPECT_EQ(PVL_OK, Cmd(VFE_CMD_QUERY_OUTPUT, q));
  reset.join();
  BoardVfeWithholdBit(9, false);
  EXPECT_EQ(PVL_OK, Cmd(VFE_CMD_RESET));
}

// ---- UPDATE -------------------------------------------------------------------------------------------

TEST_F(Driver, UpdateWritesTheEnablesAndStartsStatisticsOnce) {
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_RESET));
  ASSERT_EQ(PVL_OK, Start());
  VfeAfStatsCmd af{};
  af.enable = 1;
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_AF_STATS, af));
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_UPDATE));
  EXPECT_EQ(0x21u, BoardVfeWrittenRegister(0x2F4) & 0x21);        // AF and Bayer input
  EXPECT_TRUE(BoardVfeWrittenRegister(0x010) & (1u << 5));      // statistics module
  EXPECT_EQ(0x20u, BoardVfeWrittenRegister(0x028));              // statistics start
  EXPECT_TRUE(BoardVfeWrittenRegister(0x018) & (1u << 15));
  EXPECT_EQ(VfePhase::UpdatePending, State().phase);
}

// ---- Notify signals ---------------------------------------------------------------------------------

struct CountingSignal final : ISignalControl {
  std::atomic<int32_t> refs{1};
  std::atomic<int> fires{0};
  int32_t AddRef() override { return ++refs; }
  int32_t Release() override { return --refs; }
  PvlResult QueryInterface(ZUEUID iid, void** out) override {
    if (iid != ZUEUID_IFACE_SIGNAL_CONTROL && iid != ZUEUID_IFACE_BASE) return PVL_E_NOTSUPPORTED;
    *out = static_cast<ISignalControl*>(this);
    AddRef();
    return PVL_OK;
  }
  PvlResult Fire() override {
    ++fires;
    return PVL_OK;
  }
};

TEST_F(Driver, NotifySignalsFireAfterPostsAndAReplacedOneIsReleased) {
  CountingSignal first, second;
  VfeNotifyCmd n{&first};
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_RESET));
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_SET_NOTIFY2, n));
  EXPECT_EQ(2, first.refs);
  ASSERT_EQ(PVL_OK, Start());
  RaiseAndWait(1u << 1 | 1u << 22);  // MSG_VFE_STATUS_19 on ring 2
  // The notify fires once the routine has let go of the driver's lock, which can
  // be after the status bits read clear; and it holds a reference while firing.
  for (int i = 0; i < 50000 && (first.fires.load() < 1 || first.refs.load() != 2); ++i)
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  EXPECT_EQ(1, first.fires.load());
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_STOP));  // notify objects survive the reset acknowledge
  n.notify = &second;
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_SET_NOTIFY2, n));
  EXPECT_EQ(1, first.refs);
  EXPECT_EQ(2, second.refs);
  n.notify = nullptr;
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_SET_NOTIFY2, n));  // cleared
  EXPECT_EQ(1, second.refs);
  ASSERT_EQ(PVL_OK, Start());
  RaiseAndWait(1u << 1 | 1u << 22);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // room for a wrong fire to show
  EXPECT_EQ(0, second.fires.load());
  std::vector<VfeMessage> ring2 = Drain(2);  // the stop emptied the ring of the first
  ASSERT_EQ(1u, ring2.size());
  EXPECT_EQ(uint32_t(MSG_VFE_STATUS_19), ring2[0].id);
}

}  // namespace
}  // namespace vfedrivertest
