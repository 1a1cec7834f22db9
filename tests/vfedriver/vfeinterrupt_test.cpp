// The VFE driver's interrupt side against the VFE hardware model: the message
// rings, the free-buffer rings, the continuous frame exchange, snapshots of
// one, two and three frames, raw mode, the statistics swap and the error
// reports of a failing model.
#include <algorithm>
#include <set>

#include "casename.h"
#include "vfedriver_fixture.h"
#include "vferegistermap.h"

namespace vfedrivertest {
namespace {

using Interrupts = VfeDriverTest;

// ---- Message rings ----------------------------------------------------------------------------

// Status bits 21 and 22 are handled whatever the mask, but only an enabled bit
// raises the line: each report rides on a start of frame (the sensor is not
// streaming, so no real frame comes).
constexpr uint32_t kSof = 1u << 1;

TEST_F(Interrupts, AFullRingDropsTheNewMessageAndKeepsOrderAcrossTheWrap) {
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_RESET));
  ASSERT_EQ(PVL_OK, Start());
  for (int i = 0; i < 21; ++i) RaiseAndWait(kSof | (i % 2 ? 1u << 22 : 1u << 21));
  EXPECT_EQ(kVfeMessageRingSize, State().ring[1].count);
  VfeMessage m;
  ASSERT_EQ(PVL_OK, Read(2, &m));
  EXPECT_EQ(uint32_t(MSG_VFE_STATUS_18), m.id);
  RaiseAndWait(kSof | 1u << 22);  // lands in the slot after the last one written
  std::vector<VfeMessage> rest = Drain(2);
  ASSERT_EQ(kVfeMessageRingSize, rest.size());
  for (size_t i = 0; i + 1 < rest.size(); ++i)
    EXPECT_EQ(i % 2 ? uint32_t(MSG_VFE_STATUS_18) : uint32_t(MSG_VFE_STATUS_19), rest[i].id) << i;
  EXPECT_EQ(uint32_t(MSG_VFE_STATUS_19), rest.back().id);
  EXPECT_EQ(0u, rest.back().reserved);
  EXPECT_EQ(PVL_E_STOPPED, Read(2, &m));
}

TEST_F(Interrupts, ACameraInterfaceErrorRestartsItAndReportsOnRingTwo) {
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_RESET));
  ASSERT_EQ(PVL_OK, Start());
  size_t before = BoardVfeAccessLog().size();
  RaiseAndWait(kSof | 1u << 0);
  std::vector<uint32_t> camif;
  std::vector<BoardVfeAccess> log = BoardVfeAccessLog();
  for (size_t i = before; i < log.size(); ++i)
    if (log[i].write && log[i].offset == 0x110) camif.push_back(log[i].value);
  EXPECT_EQ((std::vector<uint32_t>{7, 3}), camif);
  std::vector<VfeMessage> ring2 = Drain(2);
  ASSERT_EQ(1u, ring2.size());
  EXPECT_EQ(uint32_t(MSG_VFE_CAMIF_STATUS), ring2[0].id);
  EXPECT_EQ(1u, ring2[0].payload.words[0]);  // bit 31 of 0x134
  EXPECT_TRUE(Drain(1).empty());
}

// ---- Free-buffer rings -------------------------------------------------------------------------

TEST_F(Interrupts, AFreeBufferRingTakesThirtyTwoEntriesAndRefusesMore) {
  std::vector<VfeBufferEntry> many(32);
  for (uint32_t i = 0; i < 32; ++i) many[i].luma[0] = 0x1000 * (i + 1);
  EXPECT_EQ(PVL_OK, Queue(0, many));
  EXPECT_EQ(VFE_E_RING_FULL, Queue(0, std::vector<VfeBufferEntry>(1)));
  EXPECT_EQ(32u, State().path[0].ringCount);
  VfeAckOutputCmd none{};
  none.count = 3;  // entries missing
  EXPECT_EQ(PVL_E_NULLPTR, Cmd(VFE_CMD_ACK_OUTPUT, none));
  EXPECT_EQ(0u, State().path[1].ringCount);
}

// ---- Continuous frames ----------------------------------------------------------------------------

TEST_F(Interrupts, ContinuousFramesExchangeBuffersInOrderAndCountDropsWhenNoneIsFree) {
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_RESET));
  ConfigurePipeline(1);  // OUTPUT2 only
  Frame a = NewFrame(1), b = NewFrame(1), c = NewFrame(1);
  ASSERT_EQ(PVL_OK, Queue(1, std::vector<VfeBufferEntry>{a.entry, b.entry, c.entry}));
  ASSERT_EQ(PVL_OK, Start());
  StartSensor();
  ASSERT_TRUE(WaitFor(MSG_VFE_OUTPUT2));
  const VfeFrameRecord& first = seen_.back().payload.frame;
  EXPECT_EQ(a.y.phys, first.luma);
  EXPECT_EQ(a.c.phys, first.chroma);
  EXPECT_FALSE(Untouched(a.y));
  EXPECT_FALSE(Untouched(a.c));
  EXPECT_EQ(c.y.phys, BoardVfeWrittenRegister(0x030));  // the ping side got the third buffer
  EXPECT_GE(first.frameCounter, 1u);
  // The client keeps A: with no free buffer left the hardware keeps writing B
  // and C, and those frames are dropped and counted, not delivered.
  VfeOutputQuery q{};
  for (int i = 0; i < 20000 && q.output2Dropped < 2; ++i) {
    ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_QUERY_OUTPUT, q));
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_GE(q.output2Dropped, 2u);
  for (const VfeMessage& m : Drain(1)) EXPECT_NE(uint32_t(MSG_VFE_OUTPUT2), m.id);
  // A comes back: the next frame done delivers the buffer it completed (B or C)
  // and puts A in its place.
  ASSERT_EQ(PVL_OK, Queue(1, a));
  seen_.clear();
  ASSERT_TRUE(WaitFor(MSG_VFE_OUTPUT2));
  uint32_t next = seen_.back().payload.frame.luma;
  EXPECT_TRUE(next == b.y.phys || next == c.y.phys);
  EXPECT_EQ(a.y.phys, BoardVfeWrittenRegister(next == b.y.phys ? 0x034 : 0x030));
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_STOP));
}

TEST_F(Interrupts, BothPathsDeliverTheirOwnBuffers) {
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_RESET));
  ConfigurePipeline(2);
  Frame p1[3] = {NewFrame(0), NewFrame(0), NewFrame(0)};
  Frame p2[3] = {NewFrame(1), NewFrame(1), NewFrame(1)};
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(PVL_OK, Queue(0, p1[i]));
    ASSERT_EQ(PVL_OK, Queue(1, p2[i]));
  }
  ASSERT_EQ(PVL_OK, Start());
  StartSensor();
  ASSERT_TRUE(WaitFor(MSG_VFE_OUTPUT1));
  ASSERT_TRUE(WaitFor(MSG_VFE_OUTPUT2));
  for (const VfeMessage& m : seen_) {
    if (m.id == MSG_VFE_OUTPUT1) {
      EXPECT_EQ(p1[0].y.phys, m.payload.frame.luma);
    }
    if (m.id == MSG_VFE_OUTPUT2) {
      EXPECT_EQ(p2[0].y.phys, m.payload.frame.luma);
    }
  }
  // Returning the buffer keeps the exchange going.
  ASSERT_EQ(PVL_OK, Queue(0, p1[0]));
  seen_.clear();
  ASSERT_TRUE(WaitFor(MSG_VFE_OUTPUT1));
  EXPECT_EQ(p1[1].y.phys, seen_.back().payload.frame.luma);
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_STOP));
}

// ---- Snapshots -------------------------------------------------------------------------------------

struct SnapshotCase {
  const char* name;
  uint8_t frames;
  uint32_t queued;     // buffers on OUTPUT2 before START
  uint32_t delivered;  // frame messages before the snapshot's end
};

class Snapshots : public VfeDriverTest, public ::testing::WithParamInterface<SnapshotCase> {};

// The path's last frames land in the buffers armed at START, so a burst of one
// or two frames needs no buffer beyond them; a third frame needs a third buffer.
TEST_P(Snapshots, EveryFrameThatHasABufferIsDeliveredOnceThenTheSnapshotEnds) {
  const SnapshotCase& c = GetParam();
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_RESET));
  ConfigurePipeline(1);
  std::vector<Frame> frames;
  for (uint32_t i = 0; i < c.queued; ++i) {
    frames.push_back(NewFrame(1));
    ASSERT_EQ(PVL_OK, Queue(1, frames.back()));
  }
  ASSERT_EQ(PVL_OK, Start(1, c.frames));
  StartSensor();
  ASSERT_TRUE(WaitFor(MSG_VFE_SNAPSHOT_DONE));
  std::vector<uint32_t> lumas;
  for (const VfeMessage& m : seen_)
    if (m.id == MSG_VFE_OUTPUT2) lumas.push_back(m.payload.frame.luma);
  ASSERT_EQ(c.delivered, lumas.size());
  // With a buffer for every frame they come in queue order; with one short, the
  // frame that found no free buffer is dropped and the last two land in the
  // armed pair, each delivered once.
  std::vector<uint32_t> expected;
  for (uint32_t i = 0; i < c.delivered; ++i) expected.push_back(frames[i].y.phys);
  if (c.queued < c.frames) {
    std::sort(lumas.begin(), lumas.end());
    std::sort(expected.begin(), expected.end());
  }
  EXPECT_EQ(expected, lumas);
  EXPECT_EQ(uint32_t(MSG_VFE_SNAPSHOT_DONE), seen_.back().id);
  EXPECT_EQ(VfePhase::Idle, State().phase);
  EXPECT_EQ(2u, BoardVfeWrittenRegister(0x36C));
  EXPECT_EQ(2u, BoardVfeWrittenRegister(0x0C8));
  EXPECT_EQ(0u, BoardVfeCounts().refusedWrites);
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_STOP));
}

INSTANTIATE_TEST_SUITE_P(Bursts, Snapshots,
                         ::testing::Values(SnapshotCase{"OneFrame", 1, 1, 1}, SnapshotCase{"TwoFrames", 2, 2, 2},
                                           SnapshotCase{"ThreeFrames", 3, 3, 3},
                                           SnapshotCase{"ThreeFramesTwoBuffers", 3, 2, 2}),
                         camera::test::CaseName<SnapshotCase>);

TEST_F(Interrupts, RawSnapshotDeliversTheBayerFrameThroughTheChromaMaster) {
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_RESET));
  ConfigurePipeline(3);
  Buffer raw = Allocate(uint32_t(kWindowW) * kWindowH);
  VfeBufferEntry e{};
  e.luma[0] = raw.phys;
  e.chroma[0] = raw.phys;
  ASSERT_EQ(PVL_OK, Queue(1, std::vector<VfeBufferEntry>{e}));
  ASSERT_EQ(PVL_OK, Start(1, 1));
  StartSensor();
  ASSERT_TRUE(WaitFor(MSG_VFE_SNAPSHOT_DONE));
  int frames = 0;
  for (const VfeMessage& m : seen_) {
    if (m.id != MSG_VFE_OUTPUT2) continue;
    ++frames;
    EXPECT_EQ(raw.phys, m.payload.frame.chroma);
  }
  EXPECT_EQ(1, frames);
  EXPECT_FALSE(Untouched(raw));
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_STOP));
}

// ---- Statistics ------------------------------------------------------------------------------------

class Statistics : public VfeDriverTest {
 protected:
  // AF statistics on, both statistics buffers placed, no output path. With
  // `fullRing`, ring 1 is filled (camera-interface line messages raised by hand)
  // before the sensor streams.
  void StartAf(bool fullRing = false) {
    ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_RESET));
    ConfigurePipeline(6);  // a mode that enables no path
    if (fullRing) {
      VfeCamifCmd camif{};
      camif.lastPixel = kWindowW - 1;
      camif.lastLine = kWindowH - 1;
      camif.pixelSkipPattern = 0xFFFF;
      camif.lineSkipPattern = 0xFFFF;
      camif.irq1Enable = 1;
      ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_CAMIF, camif));
    }
    for (int i = 0; i < 4; ++i) af_[i] = Allocate(4096);
    VfeWbExpStatsCmd s{};
    s.areaWidth = kAreaW - 1;
    s.areaHeight = kAreaH - 1;
    s.afBuffer[0] = af_[0].phys;
    s.afBuffer[1] = af_[1].phys;
    s.afBuffer[2] = af_[2].phys;
    ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_WB_EXP_STATS, s));
    VfeAfStatsCmd a{};
    a.enable = 1;
    a.firstPixel = 100;
    a.lastPixel = 1000;
    a.firstLine = 100;
    a.lastLine = 700;
    ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_AF_STATS, a));
    ASSERT_EQ(PVL_OK, Start());
    if (fullRing) {
      for (uint32_t i = 0; i < kVfeMessageRingSize; ++i) RaiseAndWait(1u << 4);
      ASSERT_EQ(kVfeMessageRingSize, State().ring[0].count);
    }
    StartSensor();
  }
  bool WaitStatsDone(uint32_t n) {
    for (int i = 0; i < 30000; ++i) {
      if (BoardVfeCounts().statsDone[0] >= n) {
        VfeOutputQuery q;  // the routine of the latest one has finished
        Cmd(VFE_CMD_QUERY_OUTPUT, q);
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }
  Buffer af_[4];
};

TEST_F(Statistics, TheFilledBufferIsReportedAndTheNextOneTakesItsPlace) {
  StartAf();
  ASSERT_TRUE(WaitFor(MSG_VFE_STATS_AF));
  uint32_t filled = seen_.back().payload.stats.buffer;
  EXPECT_TRUE(filled == af_[0].phys || filled == af_[1].phys);
  EXPECT_FALSE(Untouched(filled == af_[0].phys ? af_[0] : af_[1]));
  uint32_t side = filled == af_[0].phys ? 0x070 : 0x074;
  EXPECT_EQ(af_[2].phys, BoardVfeWrittenRegister(side));
  // Until a buffer comes back, statistics are dropped and counted.
  uint32_t done = BoardVfeCounts().statsDone[0];
  ASSERT_TRUE(WaitStatsDone(done + 2));
  EXPECT_GE(State().stats[0].overflows, 1u);
  for (const VfeMessage& m : Drain(1)) EXPECT_NE(uint32_t(MSG_VFE_STATS_AF), m.id);
  VfeStatsAckCmd ack{af_[3].phys};
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_ACK_STATS_AF, ack));
  seen_.clear();
  ASSERT_TRUE(WaitFor(MSG_VFE_STATS_AF));
  EXPECT_NE(BoardVfeWrittenRegister(0x070), BoardVfeWrittenRegister(0x074));
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_STOP));
}

// A statistics message that cannot be posted (ring full) still leaves the slot
// busy: the next interrupt must not put the same buffer into the other register.
TEST_F(Statistics, AFailedPostStillHoldsTheSlotUntilABufferComesBack) {
  StartAf(true);
  uint32_t done = BoardVfeCounts().statsDone[0];
  ASSERT_TRUE(WaitStatsDone(done + 3));
  EXPECT_TRUE(State().stats[0].busy);
  EXPECT_GE(State().stats[0].overflows, 1u);
  EXPECT_NE(BoardVfeWrittenRegister(0x070), BoardVfeWrittenRegister(0x074));
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_STOP));
}

// ---- A failing model -------------------------------------------------------------------------------

TEST_F(Interrupts, AnOverrunIsReportedOnRingTwoAndTheFrameIsNotDelivered) {
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_RESET));
  ConfigurePipeline(1);
  Frame a = NewFrame(1), b = NewFrame(1), c = NewFrame(1);
  ASSERT_EQ(PVL_OK, Queue(1, std::vector<VfeBufferEntry>{a.entry, b.entry, c.entry}));
  BoardVfeOverrunNext(kVfeOutput2, 1);
  ASSERT_EQ(PVL_OK, Start());
  StartSensor();
  ASSERT_TRUE(WaitFor(MSG_VFE_OUTPUT_STATUS, 20000, 2));
  EXPECT_TRUE(seen_.back().payload.words[0] & kVfePathOverflow);  // OUTPUT2 status word 0
  ASSERT_TRUE(WaitFor(MSG_VFE_OUTPUT2));
  // The delivered frame was written: the overrun one named no buffer.
  uint32_t luma = seen_.back().payload.frame.luma;
  for (const Frame& f : {a, b, c}) {
    if (f.y.phys == luma) {
      EXPECT_FALSE(Untouched(f.y));
    }
  }
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_STOP));
}

// The overrun frame is lost: it counts with the path's drops, as a frame with no
// free buffer does, so that the client's drop count shows the gap. The ring holds
// enough buffers that no frame goes without one meanwhile.
TEST_F(Interrupts, AnOverrunFrameCountsWithThePathsDrops) {
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_RESET));
  ConfigurePipeline(1);
  std::vector<Frame> frames;
  for (int i = 0; i < 16; ++i) {
    frames.push_back(NewFrame(1));
    ASSERT_EQ(PVL_OK, Queue(1, frames.back()));
  }
  ASSERT_EQ(PVL_OK, Start());
  StartSensor();
  ASSERT_TRUE(WaitFor(MSG_VFE_OUTPUT2));
  VfeOutputQuery q{};
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_QUERY_OUTPUT, q));
  const uint32_t dropsBefore = q.output2Dropped, overflowsBefore = BoardVfeCounts().overflows;
  BoardVfeOverrunNext(kVfeOutput2, 2);
  for (int i = 0; i < 20000 && BoardVfeCounts().overflows < overflowsBefore + 2; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  // Every overflow up to here is counted by the time a later frame is delivered
  // (an unserviced frame done on a loaded machine overflows too, and counts).
  const uint32_t atLeast = BoardVfeCounts().overflows - overflowsBefore;
  ASSERT_GE(atLeast, 2u);
  Drain(1);
  seen_.clear();
  ASSERT_TRUE(WaitFor(MSG_VFE_OUTPUT2));
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_QUERY_OUTPUT, q));
  const uint32_t atMost = BoardVfeCounts().overflows - overflowsBefore;
  EXPECT_GE(q.output2Dropped - dropsBefore, atLeast);
  EXPECT_LE(q.output2Dropped - dropsBefore, atMost);
  EXPECT_EQ(0u, q.output1Dropped);
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_STOP));
  // A reset starts the count again, with the hardware's.
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_RESET));
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_QUERY_OUTPUT, q));
  EXPECT_EQ(0u, q.output2Dropped);
}

// The driver's own map of the path status words names what the hardware
// reports: the fault flags carry the hardware's values, and for each fault a
// lost frame shows in the word the driver counts drops from, for either path.
static_assert(vfereg::kFaultOverflow == kVfePathOverflow);
static_assert(vfereg::kFaultBusError == kVfePathBusError);
static_assert(vfereg::kFaultGeometryMismatch == kVfePathGeometryMismatch);
static_assert(vfereg::kFaultAddressRefused == kVfePathAddressRefused);
static_assert(vfereg::kFaultPayloadRefused == kVfePathPayloadRefused);

struct PathFaultCase {
  const char* name;
  uint32_t identity;  // 0 OUTPUT1, 1 OUTPUT2
  BoardVfePath modelPath;
  enum Fault { kOverrun, kBusError, kStall } fault;
  uint32_t flag;
};
void PrintTo(const PathFaultCase& c, std::ostream* os) { *os << c.name; }

class PathStatusMap : public VfeDriverTest, public ::testing::WithParamInterface<PathFaultCase> {};

TEST_P(PathStatusMap, TheDriversNamesReadWhatTheHardwareReports) {
  const PathFaultCase& c = GetParam();
  const uint32_t block = c.identity == 0 ? vfereg::kPathStatusOutput1 : vfereg::kPathStatusOutput2;
  const uint32_t lostWord = c.identity == 0 ? vfereg::kOutput1LostFrames : vfereg::kOutput2LostFrames;
  EXPECT_EQ(block + 4 * vfereg::kPathLostFrames, lostWord);
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_RESET));
  ConfigurePipeline(c.identity);  // output mode 0: OUTPUT1 alone, 1: OUTPUT2 alone
  for (int i = 0; i < 16; ++i) ASSERT_EQ(PVL_OK, Queue(c.identity, NewFrame(c.identity)));
  switch (c.fault) {
    case PathFaultCase::kOverrun: BoardVfeOverrunNext(c.modelPath, 2); break;
    case PathFaultCase::kBusError: BoardVfeBusErrorNext(c.modelPath, 2); break;
    case PathFaultCase::kStall: BoardVfeStallOutput(c.modelPath, true); break;
  }
  ASSERT_EQ(PVL_OK, Start());
  StartSensor();
  for (int i = 0; i < 20000 && Reg(lostWord) < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  if (c.fault == PathFaultCase::kStall) BoardVfeStallOutput(c.modelPath, false);
  EXPECT_GE(Reg(lostWord), 2u);
  EXPECT_EQ(c.flag, Reg(block + 4 * vfereg::kPathFaults) & c.flag);
  // The other path lost nothing.
  const uint32_t otherLost = c.identity == 0 ? vfereg::kOutput2LostFrames : vfereg::kOutput1LostFrames;
  EXPECT_EQ(0u, Reg(otherLost));
  // The driver counts them with the path's drops by the next interrupt.
  const uint32_t lost = Reg(lostWord);
  RaiseAndWait(kSof);
  VfeOutputQuery q{};
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_QUERY_OUTPUT, q));
  EXPECT_GE(c.identity == 0 ? q.output1Dropped : q.output2Dropped, lost);
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_STOP));
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_RESET));
  EXPECT_EQ(0u, Reg(lostWord)) << "a reset clears the count";
}

INSTANTIATE_TEST_SUITE_P(
    Faults, PathStatusMap,
    ::testing::Values(
        PathFaultCase{"Output1Overrun", 0, kVfeOutput1, PathFaultCase::kOverrun, vfereg::kFaultOverflow},
        PathFaultCase{"Output2Overrun", 1, kVfeOutput2, PathFaultCase::kOverrun, vfereg::kFaultOverflow},
        PathFaultCase{"Output1BusError", 0, kVfeOutput1, PathFaultCase::kBusError, vfereg::kFaultBusError},
        PathFaultCase{"Output2BusError", 1, kVfeOutput2, PathFaultCase::kBusError, vfereg::kFaultBusError},
        PathFaultCase{"Output1Stalled", 0, kVfeOutput1, PathFaultCase::kStall, vfereg::kFaultOverflow},
        PathFaultCase{"Output2Stalled", 1, kVfeOutput2, PathFaultCase::kStall, vfereg::kFaultOverflow}),
    camera::test::CaseName<PathFaultCase>);

// The one frame of a snapshot overruns: the camera interface stops after it all
// the same, so the snapshot ends (no frame, one drop) instead of waiting for a
// frame that never comes. Output status is not in the mask: the driver reads the
// path's status at the next interrupt (on the camera, the frame's statistics).
TEST_F(Interrupts, ASnapshotWhoseFrameOverranStillEnds) {
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_RESET));
  ConfigurePipeline(1);
  Frame a = NewFrame(1);
  ASSERT_EQ(PVL_OK, Queue(1, a));
  BoardVfeOverrunNext(kVfeOutput2, 1);
  ASSERT_EQ(PVL_OK, Start(1, 1));
  StartSensor();
  for (int i = 0; i < 20000 && BoardVfeCounts().overflows == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_EQ(1u, BoardVfeCounts().overflows);
  RaiseAndWait(kSof);
  ASSERT_TRUE(WaitFor(MSG_VFE_SNAPSHOT_DONE));
  for (const VfeMessage& m : seen_) EXPECT_NE(uint32_t(MSG_VFE_OUTPUT2), m.id);
  EXPECT_TRUE(Untouched(a.y));
  EXPECT_EQ(VfePhase::Idle, State().phase);
  VfeOutputQuery q{};
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_QUERY_OUTPUT, q));
  EXPECT_EQ(1u, q.output2Dropped);
  ASSERT_EQ(PVL_OK, Cmd(VFE_CMD_STOP));
}

}  // namespace
}  // namespace vfedrivertest
