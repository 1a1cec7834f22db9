// The VFE hardware model driven through its registers and line 70 as the
// driver drives it: acknowledgements, frames into the programmed buffers with
// ping-pong and frame drop, snapshot stop, raw mode, statistics buffers,
// refused writes and the fault hooks.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <functional>

#include "vfe_driver_fixture.h"

namespace vfetest {
namespace {

using VfeModel = VfeModelTest;

TEST_F(VfeModel, ResetIsAcknowledgedAndKeepsTheMask) {
  EXPECT_EQ(Read(0x000), kVfeHardwareVersion);
  Reset();
  EXPECT_EQ(Read(0x018), Bit(9));
  // A second reset while one is acknowledged: bit 9 again, nothing else.
  Write(0x004, 0x3FF);
  EXPECT_EQ(Service(Bit(9)), Bit(9));
  EXPECT_EQ(BoardVfeCounts().clockOffAccesses, 0u);
}

TEST_F(VfeModel, UpdateWhileIdleLatchesAtOnce) {
  Reset();
  Write(0x018, Bit(8) | Bit(9));
  Write(0x010, 0x5);
  Write(0x1E0, 0x00100200);
  EXPECT_EQ(BoardVfeActiveRegister(0x010), 0u) << "latched registers wait for the update";
  EXPECT_EQ(Read(0x010), 0x5u) << "reads give what was written";
  Write(0x190, 1);
  EXPECT_EQ(Service(Bit(8)), Bit(8));
  EXPECT_EQ(BoardVfeActiveRegister(0x010), 0x5u);
  EXPECT_EQ(BoardVfeActiveRegister(0x1E0), 0x00100200u);
}

TEST_F(VfeModel, StopRequestIsAcknowledgedThenTheStopResetGivesBit9) {
  Reset();
  Write(0x0C8, 2);
  Write(0x018, 0);
  Write(0x110, 2);
  Write(0x00C, 0);
  Write(0x104, 1);
  EXPECT_EQ(Read(0x10C) & 0x20, 0x20u);
  Write(0x104, 0);
  Write(0x01C, 0xFFFFFFFF);
  Write(0x018, 0x3C000200);
  Write(0x004, 0x3EF);
  EXPECT_EQ(Service(Bit(9)), Bit(9));
  EXPECT_EQ(Read(0x10C) & 0x20, 0u) << "the reset clears the stop status";
  EXPECT_EQ(Read(0x018), 0x3C000200u);
}

TEST_F(VfeModel, AccessesBeyondTheRegistersAreRefusedAndCounted) {
  Write(0x3A0, 1);
  EXPECT_EQ(Read(0x800), 0u);
  EXPECT_EQ(BoardVfeCounts().outOfWindowAccesses, 2u);
  vfe_unconfig_clks();
  Read(0x000);
  EXPECT_EQ(BoardVfeCounts().clockOffAccesses, 1u);
}

TEST_F(VfeModel, TablePortStoresWithAutoIncrement) {
  Write(0x340, 256 + 6);
  Write(0x344, 0);
  for (uint32_t i = 0; i < 4; ++i) Write(0x34C, 100 + i);
  Write(0x340, 256);
  Write(0x34C, 7);  // closed: ignored
  std::vector<uint32_t> t = BoardVfeTable(6);
  ASSERT_GE(t.size(), 4u);
  EXPECT_EQ(std::vector<uint32_t>(t.begin(), t.begin() + 5), (std::vector<uint32_t>{100, 101, 102, 103, 0}));
}

TEST_F(VfeModel, ContinuousFramesAlternatePingAndPongInHardwareOrder) {
  PrepareStream();
  StartSensor();
  Start(kBothPaths, kModules, kFrameMask);
  ASSERT_TRUE(ServiceCount(Bit(18), 4));
  // The update of START first (the first start of frame may already be in the
  // status when it is serviced), then per frame a start of frame and then both
  // frame dones as one interrupt.
  ASSERT_FALSE(log_.empty());
  EXPECT_TRUE(log_[0].status & Bit(8));
  std::vector<Serviced> frames;  // what follows START's update
  for (size_t i = 0; i < log_.size(); ++i) {
    Serviced s = log_[i];
    if (i == 0) s.status &= ~Bit(8);
    if (s.status) frames.push_back(s);
  }
  ASSERT_GE(frames.size(), 8u);
  for (size_t i = 0; i < 8; ++i) {
    if (i % 2 == 0) {
      EXPECT_EQ(frames[i].status, Bit(1)) << "interrupt " << i;
      continue;
    }
    EXPECT_EQ(frames[i].status, Bit(18) | Bit(19)) << "interrupt " << i;
    uint32_t ping = (i / 2) % 2 == 0 ? 1 : 0;
    EXPECT_EQ((frames[i].pingPong >> 5) & 1, ping) << "OUTPUT2 frame " << i / 2;
    EXPECT_EQ((frames[i].pingPong >> 7) & 1, ping) << "OUTPUT1 frame " << i / 2;
  }
  for (int s = 0; s < 2; ++s) {
    EXPECT_FALSE(Untouched(out2_.y[s])) << "OUTPUT2 luma side " << s;
    EXPECT_FALSE(Untouched(out2_.c[s])) << "OUTPUT2 chroma side " << s;
    EXPECT_FALSE(Untouched(out1_.y[s])) << "OUTPUT1 luma side " << s;
    EXPECT_FALSE(Untouched(out1_.c[s])) << "OUTPUT1 chroma side " << s;
  }
  BoardVfeCounters c = BoardVfeCounts();
  EXPECT_EQ(c.bytesWritten, uint64_t(c.framesDone[kVfeOutput2]) * (kMainW * kMainH + kMainW * (kMainH / 2)) +
                                uint64_t(c.framesDone[kVfeOutput1]) * (kOut1W * kOut1H + kOut1W * (kOut1H / 2)));
  EXPECT_EQ(c.geometryMismatches, 0u);
  EXPECT_EQ(c.refusedWrites, 0u);
}

TEST_F(VfeModel, UpdateWhileRunningLatchesWithTheNextStartOfFrame) {
  PrepareStream();
  StartSensor();
  Start(kBothPaths, kModules, kFrameMask);
  // The driver's update, written from the routine of a frame done.
  uint32_t before = BoardVfeActiveRegister(0x2B4), held = ~before;
  bool written = false;
  auto routine = [&](uint32_t status) {
    if (!(status & Bit(18)) || written) return;
    written = true;
    Write(0x2B4, 0x01020304);
    Write(0x190, 1);
    held = BoardVfeActiveRegister(0x2B4);
  };
  ASSERT_TRUE(Service(Bit(18), 20000, routine) & Bit(18));
  EXPECT_EQ(held, before) << "held until the frame boundary";
  log_.clear();
  ASSERT_TRUE(Service(Bit(8)) & Bit(8));
  EXPECT_EQ(log_.back().status, Bit(8) | Bit(1)) << "the update is acknowledged with the start of frame";
  EXPECT_EQ(BoardVfeActiveRegister(0x2B4), 0x01020304u);
}

// The camera interface starts capturing at the next start of frame after its
// start command. A frame the sensor began before the command was exposed
// before the system started the capture; the model hears of it late when its
// threads are slow to run, and must not take it then.
TEST_F(VfeModel, TheCameraInterfaceTakesNoFrameThatStartedBeforeItsStart) {
  PrepareStream();
  // Holds the sensor's frame thread in a frame's end (the model has had the
  // end already) until let go, so that the next start reaches it only then.
  struct Hold {
    std::mutex lock;
    std::condition_variable cv;
    bool armed = false, holding = false, released = false;
    uint32_t frame = 0;
  };
  auto hold = std::make_shared<Hold>();
  auto listener = [](void* context, const BoardFrameEvent& e) {
    Hold& h = *static_cast<Hold*>(context);
    std::unique_lock<std::mutex> lk(h.lock);
    if (e.kind != kBoardEndOfFrame || !h.armed) return;
    h.armed = false;
    h.holding = true;
    h.frame = e.frame;
    h.cv.notify_all();
    h.cv.wait(lk, [&] { return h.released; });
  };
  const int id = BoardSensorAddFrameListener(listener, hold.get());
  struct Remove {
    int id;
    std::shared_ptr<Hold> hold;
    ~Remove() {
      {
        std::lock_guard<std::mutex> g(hold->lock);
        hold->released = true;
        hold->cv.notify_all();
      }
      BoardSensorRemoveFrameListener(id);
    }
  } remove{id, hold};
  // The sensor frames the outputs were made of (the tap may outlive the test's scope).
  struct Taken {
    std::mutex lock;
    std::vector<uint32_t> frames;
  };
  auto taken = std::make_shared<Taken>();
  BoardVfeSetTap([taken](const BoardVfeTappedFrame& t) {
    std::lock_guard<std::mutex> g(taken->lock);
    taken->frames.push_back(t.sensorFrame);
  });

  StartSensor();
  uint32_t ended = 0;
  {
    std::unique_lock<std::mutex> lk(hold->lock);
    hold->armed = true;
    ASSERT_TRUE(hold->cv.wait_for(lk, std::chrono::seconds(20), [&] { return hold->holding; }));
    ended = hold->frame;
  }
  // The next frame starts on the board; its start is not delivered yet.
  BoardFrameInfo latest;
  for (int i = 0; i < 20000 && !(BoardSensorLatestFrame(&latest) && latest.frame > ended); ++i) Sleep(1);
  ASSERT_EQ(latest.frame, ended + 1);
  Start(0x30, kModules, kFrameMask);
  {
    std::lock_guard<std::mutex> g(hold->lock);
    hold->released = true;
    hold->cv.notify_all();
  }
  ASSERT_TRUE(ServiceCount(Bit(18), 2));
  std::lock_guard<std::mutex> g(taken->lock);
  ASSERT_GE(taken->frames.size(), 2u);
  EXPECT_EQ(taken->frames[0], ended + 2) << "the first frame taken is the first to start after the camera interface's start";
  EXPECT_EQ(taken->frames[1], ended + 3);
}

TEST_F(VfeModel, FreeRunningAFrameDoneLeftUnservicedOverflows) {
  PrepareStream();
  BoardVfeSetPacing(false);
  StartSensor();
  Start(0x30, kModules, kFrameMask);
  // Nobody services line 70: the second frame done finds the first one pending.
  DWORD start = GetTickCount();
  while (BoardVfeCounts().overflows == 0 && GetTickCount() - start < 20000) Sleep(5);
  EXPECT_GE(BoardVfeCounts().overflows, 1u);
  EXPECT_EQ(Read(0x020) & (Bit(18) | Bit(20)), Bit(18) | Bit(20));
  EXPECT_EQ(Read(0x0D0) & kVfePathOverflow, kVfePathOverflow);
  EXPECT_EQ(BoardVfeCounts().framesDone[kVfeOutput2], 1u);
}

TEST_F(VfeModel, AModelFarBehindLetsSensorFramesPass) {
  PrepareStream();
  BoardVfeSetPacing(false);  // the sensor runs free of the model
  BoardVfeSetLockStep(true, 60000);
  StartSensor();
  Start(0x30, kModules, kFrameMask);
  // The first start of frame stays unserviced while the sensor goes on.
  ASSERT_TRUE(BoardSensorWaitFrameEnd(12, 20000));
  EXPECT_GT(BoardVfeCounts().framesMissed, 0u);
  ASSERT_TRUE(ServiceCount(Bit(18), 2)) << "serviced again, frames flow again";
}

// Statistics lock-step: the sensor's next frame waits until the driver
// answered the frame's WB/exposure statistics with the update command; an
// answer that never comes holds it only for the time-out.
TEST_F(VfeModel, StatisticsLockStepHoldsTheNextFrameUntilTheUpdateCommand) {
  const struct {
    const char* name;
    bool answer;
    int timeoutMs;
  } kCases[] = {{"answered", true, 60000}, {"never answered", false, 200}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    PrepareStream();
    Buffer wb[2] = {Allocate(4 + 256 * 32), Allocate(4 + 256 * 32)};
    Write(0x078, wb[0].phys);
    Write(0x07C, wb[1].phys);
    Write(0x33C, (kAreaW - 1) | ((kAreaH - 1) << 16));
    Write(0x2F4, 0x2);
    BoardVfeSetStatsLockStep(true, c.timeoutMs);
    StartSensor();
    Start(kBothPaths, kModules | Bit(5), kFrameMask, Bit(4) | Bit(5));
    ASSERT_TRUE(ServiceCount(Bit(16), 1));
    const uint32_t held = BoardSensorState().frames;
    if (c.answer) {
      // Many frame periods pass without a start.
      EXPECT_FALSE(BoardSensorWaitFrameEnd(held + 1, 300)) << "the next frame did not wait";
      EXPECT_EQ(held, BoardSensorState().frames);
      Write(0x190, 1);
    }
    EXPECT_TRUE(BoardSensorWaitFrameEnd(held + 1, 20000)) << "the next frame never came";
    if (c.answer) {
      EXPECT_EQ(0u, BoardVfeCounts().serviceTimeouts) << BoardVfeLastTimeout();
    } else {
      EXPECT_GE(BoardVfeCounts().serviceTimeouts, 1u);
      EXPECT_NE(std::string::npos, BoardVfeLastTimeout().find("no update command answered")) << BoardVfeLastTimeout();
    }
    SensorWrite(0x0100, 0);
    Write(0x0C8, 2);
    BoardSensorWaitFrameEnd(BoardSensorState().frames, 5000);
    BoardVfeReset();
    BoardVfeSetLockStep(true);
    log_.clear();
  }
}

// A frame every output drops (a still's settling frame) feeds no preview:
// nothing answers its statistics with an update, so the next frame does not
// wait for one.
TEST_F(VfeModel, StatisticsLockStepDoesNotHoldAfterAFrameEveryOutputDrops) {
  PrepareStream();
  for (uint32_t period : {0x2CCu, 0x2DCu}) Write(period, 31);
  for (uint32_t pattern : {0x2D4u, 0x2E4u}) Write(pattern, 0xFFFFFFFE);  // the first frame dropped
  Buffer wb[2] = {Allocate(4 + 256 * 32), Allocate(4 + 256 * 32)};
  Write(0x078, wb[0].phys);
  Write(0x07C, wb[1].phys);
  Write(0x33C, (kAreaW - 1) | ((kAreaH - 1) << 16));
  Write(0x2F4, 0x2);
  BoardVfeSetStatsLockStep(true, 60000);
  StartSensor();
  Start(kBothPaths, kModules | Bit(5), kFrameMask, Bit(4) | Bit(5));
  ASSERT_TRUE(ServiceCount(Bit(16), 1));
  EXPECT_EQ(BoardVfeCounts().framesDropped[kVfeOutput2], 1u);
  // The next frame's statistics come with no update written; serviced as
  // they come, as the paced model waits for every interrupt's service.
  EXPECT_TRUE(ServiceCount(Bit(16), 2)) << "the next frame waited for an update";
  EXPECT_EQ(0u, BoardVfeCounts().serviceTimeouts) << BoardVfeLastTimeout();
}

// Client lock-step: a frame written on the client's path holds the next start
// until the client gives a frame back.
TEST_F(VfeModel, ClientLockStepHoldsTheSensorUntilTheClientGivesAFrameBack) {
  PrepareStream();
  BoardVfeSetClientLockStep(true, kVfeOutput1);
  StartSensor();
  Start(kBothPaths, kModules, kFrameMask);
  ASSERT_TRUE(ServiceCount(Bit(18), 1));
  const uint32_t held = BoardSensorState().frames;
  EXPECT_FALSE(BoardSensorWaitFrameEnd(held + 1, 300)) << "the next frame did not wait";
  EXPECT_EQ(1u, BoardVfeCounts().framesDone[kVfeOutput1]);
  BoardVfeClientReturnedFrame();
  EXPECT_TRUE(ServiceCount(Bit(18), 2)) << "the next frame never came";
  EXPECT_EQ(2u, BoardVfeCounts().framesDone[kVfeOutput1]);
  EXPECT_EQ(0u, BoardVfeCounts().serviceTimeouts) << BoardVfeLastTimeout();
}

TEST_F(VfeModel, WithTheClockOffNoInterruptComes) {
  vfe_unconfig_clks();
  Write(0x018, Bit(9));
  Write(0x004, 0x3FF);
  EXPECT_EQ(Service(Bit(9), 300), 0u);
  EXPECT_EQ(BoardVfeCounts().interruptsRaised, 0u);
  EXPECT_GT(BoardVfeCounts().clockOffAccesses, 0u) << "use after the clocks went off is seen";
}

TEST_F(VfeModel, TheCameraInterfaceRestartsAfterAnError) {
  Reset();
  ConfigurePipeline((0u << 16) | (kWindowW + 63), (0u << 16) | (kWindowH - 1));
  ConfigureOutputs();
  ArmOutputs();
  StartSensor();
  Start(0x30, kModules, kFrameMask);
  // The driver's answer to bit 0: a corrected window with an update, then 7 and 3.
  bool answered = false;
  auto routine = [&](uint32_t status) {
    if (!(status & Bit(0)) || answered) return;
    answered = true;
    Write(0x120, (0u << 16) | (kWindowW - 1));
    Write(0x190, 1);
    Write(0x110, 7);
    Write(0x110, 3);
  };
  ASSERT_TRUE(Service(Bit(0), 20000, routine) & Bit(0));
  EXPECT_TRUE(ServiceCount(Bit(18), 1)) << "frames flow after the restart";
  EXPECT_EQ(Read(0x134), 0u) << "the restart clears the camera-interface status";
}

TEST_F(VfeModel, EveryAccessIsLoggedWithItsTime) {
  Write(0x018, 0x200);
  int64_t between = BoardNowNs();
  EXPECT_EQ(Read(0x018), 0x200u);
  std::vector<BoardVfeAccess> log = BoardVfeAccessLog();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_TRUE(log[0].write && log[0].offset == 0x018 && log[0].value == 0x200 && log[0].timeNs <= between);
  EXPECT_TRUE(!log[1].write && log[1].offset == 0x018 && log[1].timeNs >= between);
}

TEST_F(VfeModel, FrameDropPatternsKeepTheFramesTheirBitsSelect) {
  struct Case {
    const char* name;
    uint32_t period;
    uint32_t pattern;
    std::vector<bool> kept;  // for frames 0, 1, ...
  };
  const Case cases[] = {
      {"keep all", 31, 0xFFFFFFFF, {true, true, true, true, true, true}},
      {"every other frame", 1, 0x1, {true, false, true, false, true, false}},
      {"two of three, period counted 0..2", 2, 0x3, {true, true, false, true, true, false}},
      {"leading two dropped", 31, 0xFFFFFFFC, {false, false, true, true, true, true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PrepareStream();
    Write(0x2CC, c.period);
    Write(0x2D4, c.pattern);
    StartSensor();
    Start(0x30, kModules, kFrameMask);
    int frames = int(c.kept.size());
    ASSERT_TRUE(ServiceCount(Bit(1), frames + 1));
    std::vector<bool> kept;
    for (size_t i = 0; i < log_.size(); ++i) {
      if (!(log_[i].status & Bit(1)) || int(kept.size()) == frames) continue;
      // A kept frame's done is the next interrupt before the next start of frame.
      bool done = false;
      for (size_t j = i + 1; j < log_.size() && !(log_[j].status & Bit(1)); ++j) done |= (log_[j].status & Bit(18)) != 0;
      kept.push_back(done);
    }
    EXPECT_EQ(kept, c.kept);
    SensorWrite(0x0100, 0);
    Write(0x110, 2);
    Write(0x0C8, 2);
    BoardSensorWaitFrameEnd(BoardSensorState().frames, 5000);
  }
}

TEST_F(VfeModel, SnapshotStopsAfterItsFrames) {
  for (int n : {1, 2, 3}) {
    SCOPED_TRACE(std::to_string(n) + "-frame snapshot");
    PrepareStream();
    StartSensor();
    uint32_t before = BoardVfeCounts().framesDone[kVfeOutput2];
    Start(kBothPaths, kModules, kFrameMask);
    // The driver writes 0x110 <- 0 at the start of the n-th frame.
    int starts = 0;
    auto routine = [&](uint32_t status) {
      if ((status & Bit(1)) && ++starts == n) Write(0x110, 0);
    };
    while (CountLogged(Bit(18)) < n) ASSERT_TRUE(Service(Bit(18), 20000, routine) & Bit(18));
    Write(0x36C, 2);
    Write(0x0C8, 2);
    // Two more sensor frames: nothing more from the model.
    uint32_t f = BoardSensorState().frames;
    ASSERT_TRUE(BoardSensorWaitFrameEnd(f + 2, 10000));
    Service(Bit(1), 300);
    EXPECT_EQ(CountLogged(Bit(1)), n);
    EXPECT_EQ(BoardVfeCounts().framesDone[kVfeOutput2] - before, uint32_t(n));
    SensorWrite(0x0100, 0);
  }
}

TEST_F(VfeModel, RawModeWritesTheBayerWindowThroughOutput2Chroma) {
  struct Case {
    const char* name;
    uint32_t skip;            // 0x128: lines in bits 16-31, pixels in bits 0-15
    uint32_t width, height;   // of the window after skipping
    uint32_t (*toWindow)(uint32_t);  // sensor coordinate of a kept sample's neighbourhood
  };
  const Case cases[] = {
      {"whole window", 0xFFFFFFFF, kWindowW, kWindowH, [](uint32_t v) { return v; }},
      // 0xCCCC keeps samples 2, 3 of every 4: half the size, the Bayer phase kept.
      {"every other pair skipped", 0xCCCCCCCC, kWindowW / 2, kWindowH / 2, [](uint32_t v) { return (v - 2) / 2; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    log_.clear();
    Reset();
    ConfigurePipeline();
    Write(0x128, c.skip);
    // Mode 3: the raw window through the OUTPUT2 chroma write master.
    Write(0x048, c.height | ((c.width / 8) << 16));
    Write(0x04C, 1 | (c.height << 4) | ((c.width / 8) << 16));
    Buffer raw = Allocate(kWindowW * kWindowH);
    Write(0x040, raw.phys);
    Write(0x044, raw.phys);
    StartSensor();
    uint32_t control = Bit(5) | (1u << 10);
    Write(0x010, kModules);
    Write(0x02C, control);
    Write(0x014, kSensorVfePixelOrder);
    Write(0x01C, 0xFFFFFFFF);
    Write(0x018, kFrameMask);
    Write(0x0CC, 0x2);
    Write(0x0C8, 1);
    EXPECT_NE(Read(0x0DC) & 0xFF, 0u) << "START's poll of 0x0DC ends";
    Write(0x190, 1);
    Write(0x028, Bit(4));
    Write(0x110, 4);
    Write(0x110, 1);
    uint64_t bytesBefore = BoardVfeCounts().bytesWritten;
    auto routine = [this](uint32_t status) {
      if (status & Bit(1)) Write(0x110, 0);
    };
    ASSERT_TRUE(Service(Bit(18), 20000, routine) & Bit(18));
    EXPECT_EQ(log_.back().pingPong & Bit(5), Bit(5));
    EXPECT_EQ(BoardVfeCounts().bytesWritten - bytesBefore, uint64_t(c.width) * c.height);
    // The red patch: R sites (odd x, even y) far brighter than B sites (even
    // x, odd y) in GRBG.
    const auto* p = static_cast<const uint8_t*>(raw.virt);
    uint32_t cx = c.toWindow(kChartPatches[14].centreX / 2) & ~1u, cy = c.toWindow(kChartPatches[14].centreY / 2) & ~1u;
    uint32_t r = p[cy * c.width + cx + 1], g = p[cy * c.width + cx], b = p[(cy + 1) * c.width + cx];
    EXPECT_GT(r, 2 * b) << "R " << r << " G " << g << " B " << b;
    EXPECT_GT(r, g);
    EXPECT_GE(std::min({r, g, b}), kSensorBlackLevel / 4u) << "black level kept in raw";
    SensorWrite(0x0100, 0);
    Write(0x0C8, 2);
    BoardSensorWaitFrameEnd(BoardSensorState().frames, 5000);
  }
}

TEST_F(VfeModel, StatisticsBuffersAlternateAndHoldThePixels) {
  PrepareStream();
  constexpr uint32_t kWbBytes = 4 + 256 * 32;
  constexpr uint32_t kAfBytes = ((kWindowH - 1) / 2 + 1) * 4;
  Buffer af[2] = {Allocate(kAfBytes), Allocate(kAfBytes)};
  Buffer wb[2] = {Allocate(kWbBytes), Allocate(kWbBytes)};
  Write(0x070, af[0].phys);
  Write(0x074, af[1].phys);
  Write(0x078, wb[0].phys);
  Write(0x07C, wb[1].phys);
  Write(0x33C, (kAreaW - 1) | ((kAreaH - 1) << 16));
  Write(0x2F4, 0x3);
  // Whole-window focus over the fine-detail bars, default filter, sum of |v|.
  uint32_t fx = kChartFineDetail.x / 2 - 6, fy = kChartFineDetail.y / 2 - 3;
  Write(0x2F8, (fx << 16) | fy);
  Write(0x2FC, (200u << 16) | 200u);
  auto s5 = [](int v) { return uint32_t(v) & 0x1F; };
  Write(0x314, s5(-2) | (s5(-2) << 5) | (2047u << 10));
  Write(0x318, s5(-1) | (s5(-1) << 5) | (s5(8) << 10) | (s5(-1) << 15) | (s5(-1) << 20));
  StartSensor();
  Start(kBothPaths, kModules | Bit(5), kFrameMask, Bit(4) | Bit(5));
  ASSERT_TRUE(ServiceCount(Bit(16), 2));
  ASSERT_GE(CountLogged(Bit(15)), 2);
  std::vector<uint32_t> wbSides, afSides;
  for (const Serviced& s : log_) {
    if (s.status & Bit(16)) wbSides.push_back((s.pingPong >> 9) & 1);
    if (s.status & Bit(15)) afSides.push_back((s.pingPong >> 8) & 1);
  }
  EXPECT_EQ(std::vector<uint32_t>(wbSides.begin(), wbSides.begin() + 2), (std::vector<uint32_t>{1, 0}));
  EXPECT_EQ(std::vector<uint32_t>(afSides.begin(), afSides.begin() + 2), (std::vector<uint32_t>{1, 0}));

  // Every quad counts as near-grey with classification off; a grey patch's
  // region has Cb and Cr at the centre.
  const auto* words = static_cast<const uint32_t*>(wb[0].virt);
  uint64_t quads = 0;
  for (int r = 0; r < 256; ++r) quads += words[1 + r * 8 + 3];
  EXPECT_EQ(quads, uint64_t(kAreaW / 2) * (kAreaH / 2));
  const BoardChartPatch& grey = kChartPatches[20];
  uint32_t rx = (grey.centreX / 2 - 6) * 16 / kAreaW, ry = (grey.centreY / 2 - 3) * 16 / kAreaH;
  const uint32_t* reg = &words[1 + (ry * 16 + rx) * 8];
  ASSERT_GT(reg[3], 0u);
  EXPECT_NEAR(double(reg[1]) / reg[3], 512.0, 12.0);
  EXPECT_NEAR(double(reg[2]) / reg[3], 512.0, 12.0);
  EXPECT_GT(reg[4], 0u);

  const auto* focus = static_cast<const uint32_t*>(af[0].virt);
  uint32_t pairs = (200 - 1) / 2;
  uint32_t nonZero = 0;
  for (uint32_t k = 1; k <= pairs; ++k) nonZero += (focus[k] & 0x3FFFFF) > 0;
  EXPECT_EQ(nonZero, pairs) << "the bars give focus energy on every line pair";
}

TEST_F(VfeModel, FocusValuesAreHighestAtTheSharpLensPosition) {
  PrepareStream();
  constexpr uint32_t kAfBytes = ((kWindowH - 1) / 2 + 1) * 4;
  Buffer af = Allocate(kAfBytes);
  Write(0x070, af.phys);
  Write(0x074, af.phys);
  Write(0x2F4, 0x1);
  // Whole-window focus over the vertical bars of the fine-detail area.
  uint32_t fx = kChartFineDetail.x / 2 - 6 + 8, fy = kChartFineDetail.y / 2 - 3 + 8;
  Write(0x2F8, (fx << 16) | fy);
  Write(0x2FC, (200u << 16) | 200u);
  auto s5 = [](int v) { return uint32_t(v) & 0x1F; };
  Write(0x314, s5(-2) | (s5(-2) << 5) | (2047u << 10));
  Write(0x318, s5(-1) | (s5(-1) << 5) | (s5(8) << 10) | (s5(-1) << 15) | (s5(-1) << 20));
  ASSERT_TRUE(SensorWrite(0x3130, 0x03));
  ASSERT_TRUE(SensorWrite(0x3146, 0x80));
  StartSensor();
  Start(0x30, kModules | Bit(5), kFrameMask, Bit(4) | Bit(5));
  // The sensor frame of each frame written (the tap runs before the interrupt).
  auto lastFrame = std::make_shared<std::atomic<uint32_t>>(0);
  BoardVfeSetTap([lastFrame](const BoardVfeTappedFrame& t) { lastFrame->store(t.sensorFrame); });
  // The focus sum of the first frame that started well after the lens moved to `code`.
  auto focusAt = [&](uint32_t code) {
    EXPECT_TRUE(SensorWrite(0x3131, uint8_t(code >> 8)));
    EXPECT_TRUE(SensorWrite(0x3132, uint8_t(code)));
    uint32_t settled = BoardSensorState().frames + 2;
    uint64_t sum = 0;
    bool taken = false;
    auto routine = [&](uint32_t status) {
      if (!(status & Bit(15)) || taken || lastFrame->load() < settled) return;
      // The statistics of a frame exposed with the lens at rest at `code`.
      BoardFrameInfo exposed;
      if (!BoardSensorFrame(lastFrame->load(), &exposed) || exposed.lensCode != code) return;
      taken = true;
      const auto* w = static_cast<const uint32_t*>(af.virt);
      for (uint32_t k = 1; k <= (200 - 1) / 2; ++k) sum += w[k] & 0x3FFFFF;
    };
    while (!taken)
      if (!(Service(Bit(15), 20000, routine) & Bit(15))) break;
    return sum;
  };
  uint64_t atZero = focusAt(0);
  uint64_t atSharp = focusAt(kSceneFocusLensCode);
  uint64_t atFar = focusAt(800);
  EXPECT_GT(atSharp, atZero * 3 / 2) << "lens 0: " << atZero << ", sharp: " << atSharp;
  EXPECT_GT(atSharp, atFar * 3 / 2) << "lens 800: " << atFar << ", sharp: " << atSharp;
}

TEST_F(VfeModel, WritesOutsideAnAllocationAreRefusedAndCounted) {
  struct Case {
    const char* name;
    std::function<uint32_t(VfeModel*)> address;
  };
  const Case cases[] = {
      {"address zero", [](VfeModel*) { return 0u; }},
      {"buffer one page short", [](VfeModel* t) { return t->Allocate(kMainW * kMainH - 4096).phys; }},
      {"the register window", [](VfeModel*) { return kVfeRegistersPhys; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PrepareStream();
    uint32_t bad = c.address(this);
    Write(0x030, bad);
    Write(0x034, bad);
    uint32_t refused = BoardVfeCounts().refusedWrites;
    StartSensor();
    Start(0x30, kModules, kFrameMask);
    ASSERT_TRUE(Service(Bit(20)) & Bit(20));
    EXPECT_GT(BoardVfeCounts().refusedWrites, refused);
    EXPECT_EQ(Read(0x0D0) & kVfePathAddressRefused, kVfePathAddressRefused);
    EXPECT_EQ(Read(0x0D8), bad);
    EXPECT_EQ(CountLogged(Bit(18)), 0);
    SensorWrite(0x0100, 0);
    Write(0x110, 2);
    Write(0x0C8, 2);
    BoardSensorWaitFrameEnd(BoardSensorState().frames, 5000);
  }
}

TEST_F(VfeModel, FaultHooks) {
  struct Case {
    const char* name;
    std::function<void()> inject;
    std::function<void(VfeModel*)> check;
  };
  const Case cases[] = {
      {"lost interrupt: the bits stay in the status", [] { BoardVfeLoseInterrupts(1); },
       [](VfeModel* t) {
         ASSERT_TRUE(t->ServiceCount(Bit(18), 2));
         EXPECT_EQ(BoardVfeCounts().interruptsLost, 1u);
         EXPECT_EQ(t->log_[0].status, Bit(8) | Bit(1)) << "the lost update is read with the next interrupt";
       }},
      {"overrun", [] { BoardVfeOverrunNext(kVfeOutput2, 1); },
       [](VfeModel* t) {
         ASSERT_TRUE(t->Service(Bit(20) | Bit(18)) & Bit(20));
         EXPECT_EQ(t->Read(0x0D0) & kVfePathOverflow, kVfePathOverflow);
         EXPECT_EQ(t->Read(0x0D4), 1u);
         EXPECT_EQ(BoardVfeCounts().overflows, 1u);
         EXPECT_TRUE(t->ServiceCount(Bit(18), 1)) << "the next frame is written again";
       }},
      {"bus error", [] { BoardVfeBusErrorNext(kVfeOutput2, 1); },
       [](VfeModel* t) {
         bool untouched = false;
         auto routine = [&](uint32_t status) {
           if (status & Bit(20)) untouched = Untouched(t->out2_.y[0]);
         };
         ASSERT_TRUE(t->Service(Bit(20), 20000, routine) & Bit(20));
         EXPECT_EQ(t->Read(0x0D0) & kVfePathBusError, kVfePathBusError);
         EXPECT_EQ(t->Read(0x0D8), t->out2_.y[0].phys);
         EXPECT_TRUE(untouched) << "nothing written where the bus failed";
       }},
      {"stalled output", [] { BoardVfeStallOutput(kVfeOutput2, true); },
       [](VfeModel* t) {
         ASSERT_TRUE(t->ServiceCount(Bit(19), 3));
         EXPECT_EQ(t->CountLogged(Bit(18)), 0);
         BoardVfeStallOutput(kVfeOutput2, false);
         EXPECT_TRUE(t->ServiceCount(Bit(18), 1));
       }},
      {"injected status bits", [] {},
       [](VfeModel* t) {
         BoardVfeRaiseStatus(Bit(0) | Bit(23) | Bit(29));
         uint32_t seen = t->Service(Bit(0) | Bit(23) | Bit(29));
         EXPECT_EQ(seen & (Bit(0) | Bit(23) | Bit(29)), Bit(0) | Bit(23) | Bit(29));
         EXPECT_EQ(t->Read(0x134) >> 31, 1u) << "a camera-interface error shows in 0x134";
         EXPECT_TRUE(t->ServiceCount(Bit(18), 1)) << "frames go on";
       }},
      {"late frame", [] { BoardVfeDelayNextFrame(200); },
       [](VfeModel* t) {
         ASSERT_TRUE(t->Service(Bit(1)) & Bit(1));
         int64_t start = BoardNowNs();
         ASSERT_TRUE(t->Service(Bit(18)) & Bit(18));
         EXPECT_GE(BoardNowNs() - start, 200 * 1000000LL - 34000000LL);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PrepareStream();
    for (int s = 0; s < 2; ++s) std::memset(out2_.y[s].virt, 0xEE, out2_.y[s].size);
    c.inject();
    StartSensor();
    Start(kBothPaths, kModules, kFrameMask);
    c.check(this);
    SensorWrite(0x0100, 0);
    Write(0x110, 2);
    Write(0x0C8, 2);
    BoardSensorWaitFrameEnd(BoardSensorState().frames, 5000);
    BoardVfeReset();
    BoardVfeSetLockStep(true);
  }
}

TEST_F(VfeModel, WithheldAcknowledgementsNeverCome) {
  BoardVfeWithholdBit(9, true);
  Write(0x018, Bit(9));
  Write(0x004, 0x3FF);
  EXPECT_EQ(Service(Bit(9), 300), 0u);
  BoardVfeWithholdStopAck(true);
  Write(0x104, 1);
  EXPECT_EQ(Read(0x10C) & 0x20, 0u);
}

TEST_F(VfeModel, AWindowBeyondTheSensorOutputIsACameraInterfaceError) {
  Reset();
  ConfigurePipeline((0u << 16) | (kWindowW + 63), (0u << 16) | (kWindowH - 1));
  ConfigureOutputs();
  ArmOutputs();
  StartSensor();
  Start(kBothPaths, kModules, kFrameMask);
  ASSERT_TRUE(Service(Bit(0)) & Bit(0));
  EXPECT_EQ(Read(0x134) >> 31, 1u);
  EXPECT_EQ(CountLogged(Bit(1)), 0);
  EXPECT_GE(BoardVfeCounts().camifErrors, 1u);
}

}  // namespace
}  // namespace vfetest
