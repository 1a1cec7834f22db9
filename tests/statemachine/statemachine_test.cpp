// The engine state machine: the event table (which line each event logs, and
// that it reaches the current state with its arguments), refusals by the state
// base, transitions with their timing lines and their rollbacks, the
// fatal-error rule, and the lock (events serialised, frames never waiting).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "cenginestatemachine.h"
#include "clockdouble.h"
#include "hostsymbols.h"
#include "ienv.h"
#include "orbhost_test.h"
#include "pvllog.h"

namespace {

// A millisecond clock that moves on by `step` at every reading.
camera::test::ClockDouble g_clock{1000, 5};
constexpr auto& ClockFactory = camera::test::ClockFactory<g_clock>;
int32_t FailingFactory(IEnv*, ZUEUID, void*, void** out) {
  *out = nullptr;
  return PVL_E_OUTOFMEMORY;
}

// A state that accepts the events it is told to, records what reached it, and
// answers Enter and Leave as told.
class DoubleState final : public CEngineState {
 public:
  explicit DoubleState(const char* name) : m_name(name) {}
  PvlResult Enter(uint32_t reason) override {
    log.push_back("Enter " + std::to_string(reason));
    return enterResult;
  }
  PvlResult Leave(uint32_t reason) override {
    log.push_back("Leave " + std::to_string(reason));
    return leaveResult;
  }
  const char* GetName() override { return m_name; }

  PvlResult Initialize(uint32_t id) override { return Took("Initialize", id, [&] { return CEngineState::Initialize(id); }); }
  PvlResult Uninitialize() override { return Took("Uninitialize", 0, [&] { return CEngineState::Uninitialize(); }); }
  PvlResult GetPorts(ICameraPort** p, uint32_t c, uint32_t* n) override {
    return Took("GetPorts", c, [&] { return CEngineState::GetPorts(p, c, n); });
  }
  PvlResult StartSnapshot(uint32_t n) override {
    return Took("StartSnapshot", n, [&] { return CEngineState::StartSnapshot(n); });
  }
  PvlResult StartVideo() override {
    if (onStartVideo && accepts("StartVideo")) onStartVideo();
    return Took("StartVideo", 0, [&] { return CEngineState::StartVideo(); });
  }
  PvlResult Stop() override { return Took("Stop", 0, [&] { return CEngineState::Stop(); }); }
  PvlResult CaptureComplete() override {
    return Took("CaptureComplete", 0, [&] { return CEngineState::CaptureComplete(); });
  }
  PvlResult RawCaptureComplete() override {
    return Took("RawCaptureComplete", 0, [&] { return CEngineState::RawCaptureComplete(); });
  }
  PvlResult ApplyProperty(uint32_t id) override {
    return Took("ApplyProperty", id, [&] { return CEngineState::ApplyProperty(id); });
  }
  PvlResult StartFocus(uint8_t b, ICameraSettingsListener* l) override {
    return Took("StartFocus", b, [&] { return CEngineState::StartFocus(b, l); });
  }
  PvlResult StopFocus() override { return Took("StopFocus", 0, [&] { return CEngineState::StopFocus(); }); }
  PvlResult FrameAvailable(uint32_t o, IPvlMediaBuffer* b) override {
    if (onFrame && accepts("FrameAvailable")) onFrame();
    return Took("FrameAvailable", o, [&] { return CEngineState::FrameAvailable(o, b); });
  }
  PvlResult StatsAvailable(uint32_t k, IPvlBase* s) override {
    return Took("StatsAvailable", k, [&] { return CEngineState::StatsAvailable(k, s); });
  }
  PvlResult GetEnabledPortFormats(CameraPortFormat* f, uint32_t c, uint32_t* n) override {
    return Took("GetEnabledPortFormats", c, [&] { return CEngineState::GetEnabledPortFormats(f, c, n); });
  }
  PvlResult ApplyRuntimeTuningChanges() override {
    return Took("ApplyRuntimeTuningChanges", 0, [&] { return CEngineState::ApplyRuntimeTuningChanges(); });
  }
  PvlResult Suspend() override { return Took("Suspend", 0, [&] { return CEngineState::Suspend(); }); }
  PvlResult Resume() override { return Took("Resume", 0, [&] { return CEngineState::Resume(); }); }
  PvlResult FatalError() override { return Took("FatalError", 0, [&] { return CEngineState::FatalError(); }); }
  PvlResult StartPreSnapshotFlash(ICameraSettingsListener* l) override {
    return Took("StartPreSnapshotFlash", 0, [&] { return CEngineState::StartPreSnapshotFlash(l); });
  }
  PvlResult StopPreSnapshotFlash() override {
    return Took("StopPreSnapshotFlash", 0, [&] { return CEngineState::StopPreSnapshotFlash(); });
  }

  ILock* HeldLock() const { return Lock(); }

  std::vector<std::string> accepted;  // events this state takes (all when "*")
  std::vector<std::string> log;
  PvlResult enterResult = PVL_OK;
  PvlResult leaveResult = PVL_OK;
  PvlResult answer = 100;  // what an accepted event returns
  std::function<void()> onStartVideo;
  std::function<void()> onFrame;

 private:
  bool accepts(const std::string& event) const {
    for (const std::string& a : accepted)
      if (a == event || a == "*") return true;
    return false;
  }
  PvlResult Took(const char* event, uint32_t argument, const std::function<PvlResult()>& base) {
    if (!accepts(event)) return base();
    log.push_back(std::string(event) + " " + std::to_string(argument));
    return answer;
  }
  const char* m_name;
};

class StateMachineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(PVL_OK, env_env_CreateInstance(ZUEUID_CLASS_ENV, env.Out()));
    ASSERT_EQ(PVL_OK, OrbhostTest_RegisterClass(ZUEUID_CLASS_CLOCK, &ClockFactory));
    blocks_ = OrbhostTest_LiveBlocks(nullptr);
    hostObjects_ = OrbhostTest_LiveHostObjects();
  }
  void TearDown() override {
    machine.Reset();
    for (DoubleState* s : states) s->SetContext(nullptr);
    EXPECT_EQ(0, g_clock.refs.load()) << "clock still held";
    OrbhostTest_UnregisterAllClasses();
    EXPECT_EQ(OrbhostTest_LiveBlocks(nullptr), blocks_) << "framework heap blocks left behind";
    EXPECT_EQ(OrbhostTest_LiveHostObjects(), hostObjects_) << "host objects left behind";
  }
  void Make() {
    CEngineState* table[7] = {&uninit, &ready, &video, &snapshot, &offline, &snapshotPaused, &offlinePaused};
    ASSERT_EQ(PVL_OK, CEngineStateMachine::Create(env, nullptr, table, &machine));
  }
  // Runs f and returns the log lines it produced, as "level: text".
  static std::vector<std::string> Lines(const std::function<void()>& f) {
    OrbhostTest_MessageCaptureBegin();
    f();
    std::vector<std::string> lines;
    for (const OrbhostTestMessage& m : OrbhostTest_MessageCaptureEnd())
      lines.push_back(std::to_string(m.level) + ": " + m.text);
    return lines;
  }

  CPvlPtr<IEnv> env;
  DoubleState uninit{"Uninit"}, ready{"Ready"}, video{"Video"}, snapshot{"Snapshot"}, offline{"OfflineProcess"},
      snapshotPaused{"SnapshotVideoPaused"}, offlinePaused{"OfflineProcessVideoPaused"};
  DoubleState* states[7] = {&uninit, &ready, &video, &snapshot, &offline, &snapshotPaused, &offlinePaused};
  CPvlPtr<CEngineStateMachine> machine;

 private:
  uint32_t blocks_ = 0;
  int32_t hostObjects_ = 0;
};

using Event = std::function<PvlResult(CEngineStateMachine*)>;
struct EventRow {
  const char* name;
  Event raise;
  const char* machineLine;  // "level: text" or null
  const char* refusal;      // the state base's line (level 3)
  uint32_t argument;        // what the accepting double records
};

const std::vector<EventRow>& EventTable() {
  static const std::vector<EventRow> rows = {
      {"Initialize", [](CEngineStateMachine* m) { return m->Initialize(0x0108aed0); }, "1: Event Initialize",
       "Invalid Event!!! Event Initialize", 0x0108aed0},
      {"Uninitialize", [](CEngineStateMachine* m) { return m->Uninitialize(); }, "1: Event Uninitialize",
       "Invalid Event!!! Event Uninitialize", 0},
      {"GetPorts",
       [](CEngineStateMachine* m) {
         uint32_t n = 0;
         return m->GetPorts(nullptr, 4, &n);
       },
       "1: Event GetPorts", "Invalid Event!!! GetPorts", 4},
      {"StartSnapshot", [](CEngineStateMachine* m) { return m->StartSnapshot(3); }, "1: Event Start Snapshot",
       "Invalid Event!!! Event Start Snapshot", 3},
      {"StartVideo", [](CEngineStateMachine* m) { return m->StartVideo(); }, "1: Event Start Video",
       "Invalid Event!!! Event Start Video", 0},
      {"Stop", [](CEngineStateMachine* m) { return m->Stop(); }, "1: Event Stop", "Invalid Event!!! Event Stop", 0},
      {"CaptureComplete", [](CEngineStateMachine* m) { return m->CaptureComplete(); }, "1: Event Capture Complete",
       "Invalid Event!!! Event Capture Complete", 0},
      {"RawCaptureComplete", [](CEngineStateMachine* m) { return m->RawCaptureComplete(); },
       "1: Event Raw Capture Complete", "Invalid Event!!! Event Raw Capture Complete", 0},
      {"ApplyProperty", [](CEngineStateMachine* m) { return m->ApplyProperty(0x0103f4e1); }, "1: Event Apply property",
       "Invalid Event!!! Event Apply Property", 0x0103f4e1},
      {"StartFocus", [](CEngineStateMachine* m) { return m->StartFocus(1, nullptr); }, "1: Event Start Focus",
       "Invalid Event!!! Event Start Focus", 1},
      {"StopFocus", [](CEngineStateMachine* m) { return m->StopFocus(); }, "1: Event Stop Focus",
       "Invalid Event!!! Event Stop Focus", 0},
      {"FrameAvailable", [](CEngineStateMachine* m) { return m->FrameAvailable(2, nullptr); }, nullptr,
       "Invlaid Event!!! Event Frame Available", 2},
      {"StatsAvailable", [](CEngineStateMachine* m) { return m->StatsAvailable(1, nullptr); }, nullptr,
       "Invlaid Event!!! Event Stats Available", 1},
      {"GetEnabledPortFormats",
       [](CEngineStateMachine* m) {
         uint32_t n = 0;
         return m->GetEnabledPortFormats(nullptr, 0, &n);
       },
       nullptr, "Invlaid Event!!! Get Enabled Port Formats", 0},
      {"Suspend", [](CEngineStateMachine* m) { return m->Suspend(); }, nullptr, "Invlaid Event!!! Event Suspend", 0},
      {"Resume", [](CEngineStateMachine* m) { return m->Resume(); }, nullptr, "Invlaid Event!!! Event Resume", 0},
      {"ApplyRuntimeTuningChanges", [](CEngineStateMachine* m) { return m->ApplyRuntimeTuningChanges(); },
       "0: Event Apply Runtime Tuning Changes", "Invlaid Event!!! Get Apply Runtime Tuning Changes", 0},
      {"FatalError", [](CEngineStateMachine* m) { return m->FatalError(); }, "3: Event Fatal Error!!!",
       "Invalid Event!!! Event Fatal Error", 0},
      {"StartPreSnapshotFlash", [](CEngineStateMachine* m) { return m->StartPreSnapshotFlash(nullptr); },
       "1: Event Start PreSnapshot Flash", "Invalid Event!!! Event Start PreSnapshot Flash", 0},
      {"StopPreSnapshotFlash", [](CEngineStateMachine* m) { return m->StopPreSnapshotFlash(); },
       "1: Event Stop PreSnapshot Flash", "Invalid Event!!! Event Stop PreSnapshot Flash", 0},
      {"Stop through the port manager's face", [](CEngineStateMachine* m) { return m->RaiseStop(); }, "1: Event Stop",
       "Invalid Event!!! Event Stop", 0},
  };
  return rows;
}

TEST_F(StateMachineTest, StartsInInvalidAndStartsOnce) {
  Make();
  EXPECT_EQ(ENGINE_STATE_INVALID, machine->GetCurrentStateId());
  EXPECT_STREQ("Invalid", machine->GetStateName(ENGINE_STATE_INVALID));
  EXPECT_STREQ("Invalid", machine->GetStateName(99));
  EXPECT_STREQ("Ready", machine->GetStateName(ENGINE_STATE_READY));
  EXPECT_EQ(PVL_OK, machine->Start());
  EXPECT_EQ(ENGINE_STATE_UNINIT, machine->GetCurrentStateId());
  EXPECT_EQ(std::vector<std::string>{"Enter 0"}, uninit.log);
  EXPECT_EQ(PVL_E_NOTREADY, machine->Start());
  EXPECT_EQ(ENGINE_STATE_UNINIT, machine->GetCurrentStateId());
}

// Every event in a state that refuses it: 13, the machine's line (when it has
// one) then the base's error line, and the state stays.
TEST_F(StateMachineTest, EventsTheStateRefusesAnswer13AndLogWhich) {
  Make();
  ASSERT_EQ(PVL_OK, machine->Start());
  for (const EventRow& row : EventTable()) {
    SCOPED_TRACE(row.name);
    PvlResult r = PVL_OK;
    std::vector<std::string> lines = Lines([&] { r = row.raise(machine.Get()); });
    EXPECT_EQ(PVL_E_NOTREADY, r);
    std::vector<std::string> expected;
    if (row.machineLine) expected.push_back(row.machineLine);
    expected.push_back(std::string("3: ") + row.refusal);
    EXPECT_EQ(expected, lines);
    EXPECT_EQ(ENGINE_STATE_UNINIT, machine->GetCurrentStateId());
  }
  EXPECT_EQ(std::vector<std::string>{"Enter 0"}, uninit.log);
}

// The same in Invalid (the machine not started), whose handlers are all the base's.
TEST_F(StateMachineTest, InvalidRefusesEveryEvent) {
  Make();
  for (const EventRow& row : EventTable()) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(PVL_E_NOTREADY, row.raise(machine.Get()));
    EXPECT_EQ(ENGINE_STATE_INVALID, machine->GetCurrentStateId());
  }
}

TEST_F(StateMachineTest, EventsReachTheCurrentStateWithTheirArguments) {
  uninit.accepted = {"*"};
  Make();
  ASSERT_EQ(PVL_OK, machine->Start());
  for (const EventRow& row : EventTable()) {
    SCOPED_TRACE(row.name);
    uninit.log.clear();
    EXPECT_EQ(uninit.answer, row.raise(machine.Get()));
    std::string event = row.name;
    if (event.rfind("Stop through", 0) == 0) event = "Stop";
    EXPECT_EQ(std::vector<std::string>{event + " " + std::to_string(row.argument)}, uninit.log);
  }
}

TEST_F(StateMachineTest, ATransitionLeavesEntersAndLogsItsTimes) {
  Make();
  ASSERT_EQ(PVL_OK, machine->Start());
  uninit.log.clear();
  // Clock readings: before Leave, after Leave, before Enter, after Enter, 5 ms apart.
  std::vector<std::string> lines = Lines([&] { EXPECT_EQ(PVL_OK, machine->Transition(ENGINE_STATE_READY, 4)); });
  EXPECT_EQ(std::vector<std::string>{"Leave 4"}, uninit.log);
  EXPECT_EQ(std::vector<std::string>{"Enter 4"}, ready.log);
  EXPECT_EQ(ENGINE_STATE_READY, machine->GetCurrentStateId());
  EXPECT_EQ((std::vector<std::string>{"1: Leaving state Uninit took 5 ms", "1: Entering state Ready took 5 ms",
                                      "1: State transition from state Uninit to Ready took 15 ms"}),
            lines);
}

TEST_F(StateMachineTest, ARefusedEnterGoesBackToTheOldState) {
  ready.accepted = {"Stop"};
  Make();
  ASSERT_EQ(PVL_OK, machine->Start());
  ASSERT_EQ(PVL_OK, machine->Transition(ENGINE_STATE_READY, 0));
  video.enterResult = 7;
  std::vector<std::string> lines = Lines([&] { EXPECT_EQ(7, machine->Transition(ENGINE_STATE_VIDEO, 2)); });
  EXPECT_EQ(ENGINE_STATE_READY, machine->GetCurrentStateId());
  EXPECT_EQ(std::vector<std::string>{"1: Leaving state Ready took 5 ms"}, lines);
  // Events still go to Ready.
  EXPECT_EQ(ready.answer, machine->Stop());
  EXPECT_EQ(std::vector<std::string>{"Enter 2"}, video.log);
}

// A refused Leave keeps the state and raises FatalError, once: after a
// FatalError it raises nothing; ordinary events such as a format query or a
// tuning change do not disarm it.
TEST_F(StateMachineTest, ARefusedLeaveRaisesFatalErrorUntilTheFlagIsSet) {
  struct Case {
    const char* name;
    Event before;  // raised before the failing Leave; null: none
    bool raises;
  };
  const Case cases[] = {
      {"fresh machine", nullptr, true},
      {"after FatalError", [](CEngineStateMachine* m) { return m->FatalError(); }, false},
      {"after GetEnabledPortFormats",
       [](CEngineStateMachine* m) {
         uint32_t n = 0;
         return m->GetEnabledPortFormats(nullptr, 0, &n);
       },
       true},
      {"after ApplyRuntimeTuningChanges", [](CEngineStateMachine* m) { return m->ApplyRuntimeTuningChanges(); }, true},
      {"after Stop", [](CEngineStateMachine* m) { return m->Stop(); }, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    uninit.log.clear();
    uninit.accepted = {"FatalError"};
    uninit.leaveResult = 9;
    Make();
    ASSERT_EQ(PVL_OK, machine->Start());
    if (c.before) c.before(machine.Get());
    uninit.log.clear();
    EXPECT_EQ(9, machine->Transition(ENGINE_STATE_READY, 1));
    EXPECT_EQ(ENGINE_STATE_UNINIT, machine->GetCurrentStateId());
    std::vector<std::string> expected = {"Leave 1"};
    if (c.raises) expected.push_back("FatalError 0");
    EXPECT_EQ(expected, uninit.log);
    // Once raised, never again.
    uninit.log.clear();
    EXPECT_EQ(9, machine->Transition(ENGINE_STATE_READY, 1));
    EXPECT_EQ(std::vector<std::string>{"Leave 1"}, uninit.log);
    machine.Reset();
    for (DoubleState* s : states) s->SetContext(nullptr);
    EXPECT_TRUE(ready.log.empty());
  }
}

TEST_F(StateMachineTest, ATransitionToInvalidEntersIt) {
  Make();
  ASSERT_EQ(PVL_OK, machine->Start());
  std::vector<std::string> lines = Lines([&] { EXPECT_EQ(PVL_OK, machine->Transition(ENGINE_STATE_INVALID, 13)); });
  EXPECT_EQ(ENGINE_STATE_INVALID, machine->GetCurrentStateId());
  EXPECT_EQ("3: Entering State: Invalid", lines.at(1));
  // No way back but a new engine: Start refuses once started.
  EXPECT_EQ(PVL_E_NOTREADY, machine->Start());
  // An identifier out of range is Invalid too.
  EXPECT_EQ(PVL_OK, machine->Transition(42, 0));
  EXPECT_EQ(42, machine->GetCurrentStateId());
  EXPECT_EQ(PVL_E_NOTREADY, machine->StartVideo());
}

TEST_F(StateMachineTest, StatesHoldTheMachinesLockWhileBound) {
  Make();
  CPvlPtr<ILock> lock;
  machine->GetLock(&lock);
  ASSERT_TRUE(lock);
  for (DoubleState* s : states) EXPECT_EQ(lock.Get(), s->HeldLock()) << s->GetName();
  machine.Reset();
  for (DoubleState* s : states) EXPECT_EQ(nullptr, s->HeldLock()) << s->GetName();
}

TEST_F(StateMachineTest, CreationFailsWhenTheLockOrTheClockCannotBeMade) {
  for (ZUEUID failing : {ZUEUID_CLASS_LOCK, ZUEUID_CLASS_CLOCK}) {
    SCOPED_TRACE(failing == ZUEUID_CLASS_LOCK ? "lock" : "clock");
    ASSERT_EQ(PVL_OK, OrbhostTest_RegisterClass(failing, &FailingFactory));
    CEngineStateMachine* m = reinterpret_cast<CEngineStateMachine*>(1);
    EXPECT_EQ(PVL_E_OUTOFMEMORY, CEngineStateMachine::Create(env, nullptr, nullptr, &m));
    EXPECT_EQ(nullptr, m);
    OrbhostTest_UnregisterClass(failing);
    ASSERT_EQ(PVL_OK, OrbhostTest_RegisterClass(ZUEUID_CLASS_CLOCK, &ClockFactory));
  }
  for (DoubleState* s : states) EXPECT_EQ(nullptr, s->HeldLock());
}

bool WaitFor(const std::atomic<bool>& flag) {
  for (int i = 0; i < 30000 && !flag.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return flag.load();
}

// The machine's lock keeps the host lock's contract (re-entrant; only its
// holder gives it back) and a delivery gives up only while another thread
// holds it, never when it is free or already its own.
TEST_F(StateMachineTest, TheMachinesLockIsReentrantAndADeliveryGivesUpOnlyOnAnotherHolder) {
  Make();
  CPvlPtr<ILock> lock;
  machine->GetLock(&lock);
  ASSERT_TRUE(lock);
  struct Case {
    const char* name;
    bool heldByOther;
    bool heldHere;
    bool taken;
  };
  const Case cases[] = {
      {"free", false, false, true},
      {"held by this thread", false, true, true},
      {"held by another thread", true, false, false},
  };
  // With the doubles' Invalid as the current state, every delivery is refused.
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::atomic<bool> holding{false}, release{false};
    std::thread other;
    if (c.heldByOther) {
      other = std::thread([&] {
        lock->Lock();
        holding = true;
        while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        lock->Unlock();
      });
      ASSERT_TRUE(WaitFor(holding));
      EXPECT_EQ(PVL_E_NOTREADY, lock->Unlock()) << "given back by a thread that does not hold it";
    }
    if (c.heldHere) {
      ASSERT_EQ(PVL_OK, lock->Lock());
    }
    const bool taken = machine->LockForDelivery();
    EXPECT_EQ(c.taken, taken);
    if (taken) {
      EXPECT_EQ(PVL_OK, lock->Unlock());
    }
    if (c.heldHere) {
      EXPECT_EQ(PVL_OK, lock->Unlock());
    }
    EXPECT_EQ(PVL_E_NOTREADY, lock->Unlock()) << "held once more than taken";
    release = true;
    if (other.joinable()) other.join();
  }
}

// While a client event holds the lock, a frame still reaches the state, and a
// second event waits for the first to finish.
TEST_F(StateMachineTest, FramesDoNotWaitForAnEventButEventsWaitForEachOther) {
  uninit.accepted = {"StartVideo", "FrameAvailable", "Stop"};
  std::atomic<bool> inside{false}, frameSeen{false}, release{false}, stopped{false};
  std::atomic<bool> stopDuringVideo{false};
  uninit.onStartVideo = [&] {
    inside = true;
    WaitFor(release);
    stopDuringVideo = stopped.load();
  };
  uninit.onFrame = [&] { frameSeen = true; };
  Make();
  ASSERT_EQ(PVL_OK, machine->Start());
  std::thread client([&] { machine->StartVideo(); });
  ASSERT_TRUE(WaitFor(inside));
  std::thread receiver([&] { machine->FrameAvailable(1, nullptr); });
  EXPECT_TRUE(WaitFor(frameSeen)) << "the frame waited for the client's event";
  std::thread other([&] {
    machine->Stop();
    stopped = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  release = true;
  client.join();
  receiver.join();
  other.join();
  EXPECT_FALSE(stopDuringVideo.load()) << "Stop ran inside StartVideo";
  EXPECT_TRUE(stopped.load());
}

}  // namespace
