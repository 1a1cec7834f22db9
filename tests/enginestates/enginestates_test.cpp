// The engine's states over a recording engine: per state, what each event asks
// of the engine, what it answers, where the machine ends and what the states
// log; the refusals; the undo of a half-done initialisation; the bounded fatal
// error while the stream cannot be stopped; suspend and resume; the stream's
// first-frame and frame-rate lines; and frames waiting for a running event.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cenginestatemachine.h"
#include "clockdouble.h"
#include "hostsymbols.h"
#include "icameraengineinternal.h"
#include "ienv.h"
#include "orbhost_test.h"
#include "pvllog.h"

namespace {

// One millisecond clock for the machine and the states: it stands still unless
// a test moves it. The first `failures` creations fail (the states create
// theirs before the machine does).
camera::test::ClockDouble g_clock{5000, 0};
constexpr auto& ClockFactory = camera::test::ClockFactory<g_clock>;

// The engine's internal face, recording every call as "Name argument" and
// answering what the test sets (0 by default, 20 for OnReserved as the engine does).
class RecordingEngine final : public ICameraEngineInternal {
 public:
  int32_t AddRef() override { return 1; }
  int32_t Release() override { return 1; }
  PvlResult QueryInterface(ZUEUID, void** out) override {
    if (out) *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }
  PvlResult Initialize() override { return Call("Initialize"); }
  PvlResult Uninitialize() override { return Call("Uninitialize"); }
  PvlResult StartSensor() override { return Call("StartSensor"); }
  PvlResult StopSensor() override { return Call("StopSensor"); }
  PvlResult OnStartVideo() override { return Call("OnStartVideo"); }
  PvlResult OnStopVideo() override { return Call("OnStopVideo"); }
  PvlResult OnStartSnapshot() override { return Call("OnStartSnapshot"); }
  PvlResult OnStopSnapshot() override { return Call("OnStopSnapshot"); }
  PvlResult OnReserved() override { return Call("OnReserved"); }
  PvlResult SetSnapshotCount(uint32_t count) override { return Call("SetSnapshotCount", count); }
  PvlResult SetCameraId(uint32_t id) override { return Call("SetCameraId", id); }
  PvlResult OnApplyPropertyYuv(uint32_t id) override { return Call("OnApplyPropertyYuv", id); }
  PvlResult OnApplyProperty(uint32_t id) override { return Call("OnApplyProperty", id); }
  PvlResult OnStartFocus(uint8_t continuous, ICameraSettingsListener*) override {
    return Call("OnStartFocus", continuous);
  }
  PvlResult OnStopFocus() override { return Call("OnStopFocus"); }
  PvlResult GetPorts(ICameraPort**, uint32_t capacity, uint32_t*) override { return Call("GetPorts", capacity); }
  PvlResult OnFrameAvailable(uint32_t output, IPvlMediaBuffer*) override { return Call("OnFrameAvailable", output); }
  PvlResult OnSnapshotFrameAvailable(uint32_t output, IPvlMediaBuffer*) override {
    return Call("OnSnapshotFrameAvailable", output);
  }
  PvlResult OnVideoStatsAvailable(uint32_t kind, IPvlBase*) override { return Call("OnVideoStatsAvailable", kind); }
  PvlResult OnSnapshotStatsAvailable(uint32_t kind, IPvlBase*) override {
    return Call("OnSnapshotStatsAvailable", kind);
  }
  PvlResult GetEnabledPortFormats(CameraPortFormat*, uint32_t capacity, uint32_t*) override {
    return Call("GetEnabledPortFormats", capacity);
  }
  PvlResult GetCurrentPortFormats(CameraPortFormat*, uint32_t capacity, uint32_t*) override {
    return Call("GetCurrentPortFormats", capacity);
  }
  PvlResult Suspend() override { return Call("Suspend"); }
  PvlResult Resume() override { return Call("Resume"); }
  PvlResult ApplyRuntimeTuning() override { return Call("ApplyRuntimeTuning"); }
  PvlResult StartPreSnapshotFlash(ICameraSettingsListener*) override { return Call("StartPreSnapshotFlash"); }
  PvlResult StopPreSnapshotFlash() override { return Call("StopPreSnapshotFlash"); }
  PvlResult GetCameras(CameraSensorDescriptor*, uint32_t, uint32_t*) override { return Call("GetCameras"); }
  PvlResult GetFlashDevices(CameraFlashDevice*, uint32_t, uint32_t*) override { return Call("GetFlashDevices"); }
  PvlResult GetStateMachine(CEngineStateMachine** machine) override {
    *machine = nullptr;
    return PVL_E_NOTREADY;
  }

  std::vector<std::string> Calls() {
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_calls;
  }
  void Clear() {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_calls.clear();
  }

  std::map<std::string, PvlResult> answers{{"OnReserved", PVL_E_UNSUPPORTED}};
  std::function<void(const std::string&)> onCall;  // runs before the call is recorded

 private:
  PvlResult Call(const std::string& name, uint32_t argument) { return Call(name + " " + std::to_string(argument)); }
  PvlResult Call(const std::string& text) {
    if (onCall) onCall(text);
    std::lock_guard<std::mutex> hold(m_mutex);
    m_calls.push_back(text);
    const std::string name = text.substr(0, text.find(' '));
    auto it = answers.find(name);
    return it == answers.end() ? PVL_OK : it->second;
  }
  std::mutex m_mutex;
  std::vector<std::string> m_calls;
};

using Event = std::function<PvlResult(CEngineStateMachine*)>;

// Every event, with the state base's refusal line.
struct EventDef {
  const char* name;
  Event raise;
  const char* refusal;
};
const std::map<std::string, EventDef>& Events() {
  static const std::map<std::string, EventDef> events = [] {
    std::vector<EventDef> list = {
        {"Initialize", [](CEngineStateMachine* m) { return m->Initialize(0x1234); },
         "Invalid Event!!! Event Initialize"},
        {"Uninitialize", [](CEngineStateMachine* m) { return m->Uninitialize(); },
         "Invalid Event!!! Event Uninitialize"},
        {"GetPorts",
         [](CEngineStateMachine* m) {
           uint32_t n = 0;
           return m->GetPorts(nullptr, 4, &n);
         },
         "Invalid Event!!! GetPorts"},
        {"StartSnapshot", [](CEngineStateMachine* m) { return m->StartSnapshot(2); },
         "Invalid Event!!! Event Start Snapshot"},
        {"StartSnapshot of none", [](CEngineStateMachine* m) { return m->StartSnapshot(0); },
         "Invalid Event!!! Event Start Snapshot"},
        {"StartVideo", [](CEngineStateMachine* m) { return m->StartVideo(); }, "Invalid Event!!! Event Start Video"},
        {"Stop", [](CEngineStateMachine* m) { return m->Stop(); }, "Invalid Event!!! Event Stop"},
        {"CaptureComplete", [](CEngineStateMachine* m) { return m->CaptureComplete(); },
         "Invalid Event!!! Event Capture Complete"},
        {"RawCaptureComplete", [](CEngineStateMachine* m) { return m->RawCaptureComplete(); },
         "Invalid Event!!! Event Raw Capture Complete"},
        {"ApplyProperty", [](CEngineStateMachine* m) { return m->ApplyProperty(7); },
         "Invalid Event!!! Event Apply Property"},
        {"StartFocus", [](CEngineStateMachine* m) { return m->StartFocus(1, nullptr); },
         "Invalid Event!!! Event Start Focus"},
        {"StopFocus", [](CEngineStateMachine* m) { return m->StopFocus(); }, "Invalid Event!!! Event Stop Focus"},
        {"FrameAvailable", [](CEngineStateMachine* m) { return m->FrameAvailable(1, nullptr); },
         "Invlaid Event!!! Event Frame Available"},
        {"StatsAvailable", [](CEngineStateMachine* m) { return m->StatsAvailable(1, nullptr); },
         "Invlaid Event!!! Event Stats Available"},
        {"GetEnabledPortFormats",
         [](CEngineStateMachine* m) {
           uint32_t n = 0;
           return m->GetEnabledPortFormats(nullptr, 3, &n);
         },
         "Invlaid Event!!! Get Enabled Port Formats"},
        {"ApplyRuntimeTuningChanges", [](CEngineStateMachine* m) { return m->ApplyRuntimeTuningChanges(); },
         "Invlaid Event!!! Get Apply Runtime Tuning Changes"},
        {"Suspend", [](CEngineStateMachine* m) { return m->Suspend(); }, "Invlaid Event!!! Event Suspend"},
        {"Resume", [](CEngineStateMachine* m) { return m->Resume(); }, "Invlaid Event!!! Event Resume"},
        {"FatalError", [](CEngineStateMachine* m) { return m->FatalError(); }, "Invalid Event!!! Event Fatal Error"},
        {"StartPreSnapshotFlash", [](CEngineStateMachine* m) { return m->StartPreSnapshotFlash(nullptr); },
         "Invalid Event!!! Event Start PreSnapshot Flash"},
        {"StopPreSnapshotFlash", [](CEngineStateMachine* m) { return m->StopPreSnapshotFlash(); },
         "Invalid Event!!! Event Stop PreSnapshot Flash"},
    };
    std::map<std::string, EventDef> byName;
    for (const EventDef& e : list) byName.emplace(e.name, e);
    return byName;
  }();
  return events;
}

const char* const kStateNames[] = {"Uninit",         "Ready",          "Video",
                                   "Snapshot",       "OfflineProcess", "SnapshotVideoPaused",
                                   "OfflineProcessVideoPaused", "Invalid"};

class EngineStatesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(PVL_OK, env_env_CreateInstance(ZUEUID_CLASS_ENV, env.Out()));
    ASSERT_EQ(PVL_OK, OrbhostTest_RegisterClass(ZUEUID_CLASS_CLOCK, &ClockFactory));
    g_clock.failures = 0;
    blocks_ = OrbhostTest_LiveBlocks(nullptr);
    hostObjects_ = OrbhostTest_LiveHostObjects();
  }
  void TearDown() override {
    machine.Reset();
    EXPECT_EQ(0, g_clock.refs.load()) << "clock still held";
    OrbhostTest_UnregisterAllClasses();
    EXPECT_EQ(OrbhostTest_LiveBlocks(nullptr), blocks_) << "framework heap blocks left behind";
    EXPECT_EQ(OrbhostTest_LiveHostObjects(), hostObjects_) << "host objects left behind";
  }

  // A started machine (in Uninit) over the recording engine.
  void Make(ICameraEngineInternal* over = nullptr) {
    machine.Reset();
    ASSERT_EQ(PVL_OK, CEngineStateMachine::Create(env, over ? over : &engine, &machine));
    ASSERT_EQ(ENGINE_STATE_INVALID, machine->GetCurrentStateId());
    ASSERT_EQ(PVL_OK, machine->Start());
  }

  // Drives a fresh machine into `state` through the events a client would send.
  void MakeIn(int32_t state) {
    Make();
    DriveTo(state);
    ASSERT_EQ(state, machine->GetCurrentStateId());
    engine.Clear();
  }
  void DriveTo(int32_t state) {
    CEngineStateMachine* m = machine.Get();
    auto step = [&](const Event& e) { ASSERT_EQ(PVL_OK, e(m)); };
    switch (state) {
      case ENGINE_STATE_UNINIT:
        break;
      case ENGINE_STATE_READY:
        step([](CEngineStateMachine* x) { return x->Initialize(1); });
        break;
      case ENGINE_STATE_VIDEO:
        DriveTo(ENGINE_STATE_READY);
        step([](CEngineStateMachine* x) { return x->StartVideo(); });
        break;
      case ENGINE_STATE_SNAPSHOT:
        DriveTo(ENGINE_STATE_READY);
        step([](CEngineStateMachine* x) { return x->StartSnapshot(1); });
        break;
      case ENGINE_STATE_SNAPSHOT_VIDEO_PAUSED:
        DriveTo(ENGINE_STATE_VIDEO);
        step([](CEngineStateMachine* x) { return x->StartSnapshot(1); });
        break;
      case ENGINE_STATE_OFFLINE_PROCESS:
      case ENGINE_STATE_OFFLINE_PROCESS_VIDEO_PAUSED: {
        DriveTo(state == ENGINE_STATE_OFFLINE_PROCESS ? ENGINE_STATE_SNAPSHOT : ENGINE_STATE_SNAPSHOT_VIDEO_PAUSED);
        // An engine that can process raw stills.
        engine.answers["OnReserved"] = PVL_OK;
        step([](CEngineStateMachine* x) { return x->RawCaptureComplete(); });
        engine.answers["OnReserved"] = PVL_E_UNSUPPORTED;
        break;
      }
      case ENGINE_STATE_INVALID:
        DriveTo(ENGINE_STATE_READY);
        step([](CEngineStateMachine* x) { return x->FatalError(); });
        break;
    }
  }

  // Runs f and returns its log lines as "level: text".
  static std::vector<std::string> Lines(const std::function<void()>& f) {
    OrbhostTest_MessageCaptureBegin();
    f();
    std::vector<std::string> lines;
    for (const OrbhostTestMessage& m : OrbhostTest_MessageCaptureEnd())
      lines.push_back(std::to_string(m.level) + ": " + m.text);
    return lines;
  }
  // The lines that say what the states did: entries, exits, transitions,
  // durations and refusals (not the machine's per-event lines).
  static std::vector<std::string> StateLines(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    for (const std::string& l : lines) {
      const std::string text = l.substr(3);
      for (const char* prefix :
           {"Entering State", "Leaving State", "State transition", "Snapshot took", "Invalid Event", "Invlaid Event"}) {
        if (text.rfind(prefix, 0) == 0) {
          out.push_back(l);
          break;
        }
      }
    }
    return out;
  }

  CPvlPtr<IEnv> env;
  RecordingEngine engine;
  CPvlPtr<CEngineStateMachine> machine;

 private:
  uint32_t blocks_ = 0;
  int32_t hostObjects_ = 0;
};

std::string Moved(const char* from, const char* to) {
  return std::string("1: State transition from state ") + from + " to " + to + " took 0 ms";
}

// What an accepted event does in each state.
struct AcceptCase {
  const char* name;
  int32_t from;
  const char* event;
  std::vector<std::string> calls;
  PvlResult result;
  int32_t next;
  std::vector<std::string> lines;  // the states' lines (see StateLines)
};

TEST_F(EngineStatesTest, EachStateRunsItsEventsOnTheEngine) {
  const std::vector<AcceptCase> cases = {
      // Uninit
      {"Uninit: Initialize names the camera, brings the engine up and starts the sensor", ENGINE_STATE_UNINIT,
       "Initialize", {"SetCameraId 4660", "Initialize", "StartSensor"}, PVL_OK, ENGINE_STATE_READY,
       {"1: Leaving State: Uninit", "1: Entering State: Ready", Moved("Uninit", "Ready")}},
      // Ready
      {"Ready: Uninitialize takes the engine down, then the sensor", ENGINE_STATE_READY, "Uninitialize",
       {"Uninitialize", "StopSensor"}, PVL_OK, ENGINE_STATE_UNINIT,
       {"1: Leaving State: Ready", "1: Entering State: Uninit", Moved("Ready", "Uninit")}},
      {"Ready: GetPorts", ENGINE_STATE_READY, "GetPorts", {"GetPorts 4"}, PVL_OK, ENGINE_STATE_READY, {}},
      {"Ready: StartSnapshot keeps the sensor and starts the capture", ENGINE_STATE_READY, "StartSnapshot",
       {"SetSnapshotCount 2", "OnStartSnapshot"}, PVL_OK, ENGINE_STATE_SNAPSHOT,
       {"1: Leaving State: Ready", "1: Entering State: Snapshot", Moved("Ready", "Snapshot")}},
      {"Ready: StartSnapshot of no image is refused", ENGINE_STATE_READY, "StartSnapshot of none", {}, PVL_E_BADARG,
       ENGINE_STATE_READY, {}},
      {"Ready: StartVideo keeps the sensor and starts the stream", ENGINE_STATE_READY, "StartVideo",
       {"OnStartVideo"}, PVL_OK, ENGINE_STATE_VIDEO,
       {"1: Leaving State: Ready", "1: Entering State: Video", Moved("Ready", "Video")}},
      {"Ready: Stop has nothing to stop", ENGINE_STATE_READY, "Stop", {}, PVL_OK, ENGINE_STATE_READY, {}},
      {"Ready: ApplyProperty only for a YUV sensor", ENGINE_STATE_READY, "ApplyProperty", {"OnApplyPropertyYuv 7"},
       PVL_OK, ENGINE_STATE_READY, {}},
      {"Ready: GetEnabledPortFormats", ENGINE_STATE_READY, "GetEnabledPortFormats", {"GetEnabledPortFormats 3"},
       PVL_OK, ENGINE_STATE_READY, {}},
      {"Ready: ApplyRuntimeTuningChanges waits for the stream", ENGINE_STATE_READY, "ApplyRuntimeTuningChanges", {},
       PVL_OK, ENGINE_STATE_READY, {}},
      {"Ready: Suspend stops the sensor, then suspends", ENGINE_STATE_READY, "Suspend", {"StopSensor", "Suspend"},
       PVL_OK, ENGINE_STATE_READY, {}},
      {"Ready: Resume when not suspended does nothing", ENGINE_STATE_READY, "Resume", {}, PVL_OK, ENGINE_STATE_READY,
       {}},
      {"Ready: FatalError takes the engine down and ends in Invalid", ENGINE_STATE_READY, "FatalError",
       {"Uninitialize", "StopSensor"}, PVL_OK, ENGINE_STATE_INVALID,
       {"1: Leaving State: Ready", "3: Entering State: Invalid", Moved("Ready", "Invalid")}},
      // Video
      {"Video: StartSnapshot pauses the stream for the capture", ENGINE_STATE_VIDEO, "StartSnapshot",
       {"SetSnapshotCount 2", "OnStopVideo", "OnStartSnapshot"}, PVL_OK, ENGINE_STATE_SNAPSHOT_VIDEO_PAUSED,
       {"1: Leaving State: Video", "1: Entering State: Snapshot", Moved("Video", "SnapshotVideoPaused")}},
      {"Video: StartSnapshot of no image is refused", ENGINE_STATE_VIDEO, "StartSnapshot of none", {}, PVL_E_BADARG,
       ENGINE_STATE_VIDEO, {}},
      {"Video: StartVideo restarts the stream", ENGINE_STATE_VIDEO, "StartVideo", {"OnStopVideo", "OnStartVideo"},
       PVL_OK, ENGINE_STATE_VIDEO, {"1: Leaving State: Video", "1: Entering State: Video", Moved("Video", "Video")}},
      {"Video: Stop ends the stream, not the sensor", ENGINE_STATE_VIDEO, "Stop", {"OnStopVideo"}, PVL_OK,
       ENGINE_STATE_READY, {"1: Leaving State: Video", "1: Entering State: Ready", Moved("Video", "Ready")}},
      {"Video: a late CaptureComplete", ENGINE_STATE_VIDEO, "CaptureComplete", {}, PVL_OK, ENGINE_STATE_VIDEO, {}},
      {"Video: ApplyProperty", ENGINE_STATE_VIDEO, "ApplyProperty", {"OnApplyProperty 7"}, PVL_OK,
       ENGINE_STATE_VIDEO, {}},
      {"Video: StartFocus", ENGINE_STATE_VIDEO, "StartFocus", {"OnStartFocus 1"}, PVL_OK, ENGINE_STATE_VIDEO, {}},
      {"Video: StopFocus", ENGINE_STATE_VIDEO, "StopFocus", {"OnStopFocus"}, PVL_OK, ENGINE_STATE_VIDEO, {}},
      {"Video: FrameAvailable", ENGINE_STATE_VIDEO, "FrameAvailable", {"OnFrameAvailable 1"}, PVL_OK,
       ENGINE_STATE_VIDEO, {}},
      {"Video: StatsAvailable", ENGINE_STATE_VIDEO, "StatsAvailable", {"OnVideoStatsAvailable 1"}, PVL_OK,
       ENGINE_STATE_VIDEO, {}},
      {"Video: GetEnabledPortFormats", ENGINE_STATE_VIDEO, "GetEnabledPortFormats", {"GetEnabledPortFormats 3"},
       PVL_OK, ENGINE_STATE_VIDEO, {}},
      {"Video: ApplyRuntimeTuningChanges", ENGINE_STATE_VIDEO, "ApplyRuntimeTuningChanges", {"ApplyRuntimeTuning"},
       PVL_OK, ENGINE_STATE_VIDEO, {}},
      {"Video: Suspend stops stream and sensor, then suspends", ENGINE_STATE_VIDEO, "Suspend",
       {"OnStopVideo", "StopSensor", "Suspend"}, PVL_OK, ENGINE_STATE_VIDEO, {}},
      {"Video: Resume when not suspended does nothing", ENGINE_STATE_VIDEO, "Resume", {}, PVL_OK, ENGINE_STATE_VIDEO,
       {}},
      {"Video: FatalError goes through Ready to Invalid", ENGINE_STATE_VIDEO, "FatalError",
       {"OnStopVideo", "Uninitialize", "StopSensor"}, PVL_OK, ENGINE_STATE_INVALID,
       {"1: Leaving State: Video", "1: Entering State: Ready", Moved("Video", "Ready"), "1: Leaving State: Ready",
        "3: Entering State: Invalid", Moved("Ready", "Invalid")}},
      {"Video: StartPreSnapshotFlash", ENGINE_STATE_VIDEO, "StartPreSnapshotFlash", {"StartPreSnapshotFlash"},
       PVL_OK, ENGINE_STATE_VIDEO, {}},
      {"Video: StopPreSnapshotFlash", ENGINE_STATE_VIDEO, "StopPreSnapshotFlash", {"StopPreSnapshotFlash"}, PVL_OK,
       ENGINE_STATE_VIDEO, {}},
      // Snapshot
      {"Snapshot: Stop ends the capture in Ready", ENGINE_STATE_SNAPSHOT, "Stop", {"OnStopSnapshot"}, PVL_OK,
       ENGINE_STATE_READY,
       {"1: Leaving State: Snapshot", "1: Snapshot took 0 ms", "1: Entering State: Ready", Moved("Snapshot", "Ready")}},
      {"Snapshot: CaptureComplete ends in Ready", ENGINE_STATE_SNAPSHOT, "CaptureComplete", {"OnStopSnapshot"},
       PVL_OK, ENGINE_STATE_READY,
       {"1: Leaving State: Snapshot", "1: Snapshot took 0 ms", "1: Entering State: Ready", Moved("Snapshot", "Ready")}},
      {"Snapshot: RawCaptureComplete finds no offline processing and stays", ENGINE_STATE_SNAPSHOT,
       "RawCaptureComplete", {"OnStopSnapshot", "OnReserved"}, PVL_E_UNSUPPORTED, ENGINE_STATE_SNAPSHOT,
       {"1: Leaving State: Snapshot", "1: Snapshot took 0 ms", "1: Entering State: Offline Process"}},
      {"Snapshot: FrameAvailable", ENGINE_STATE_SNAPSHOT, "FrameAvailable", {"OnSnapshotFrameAvailable 1"}, PVL_OK,
       ENGINE_STATE_SNAPSHOT, {}},
      {"Snapshot: StatsAvailable", ENGINE_STATE_SNAPSHOT, "StatsAvailable", {"OnSnapshotStatsAvailable 1"}, PVL_OK,
       ENGINE_STATE_SNAPSHOT, {}},
      {"Snapshot: the formats in use", ENGINE_STATE_SNAPSHOT, "GetEnabledPortFormats", {"GetCurrentPortFormats 3"},
       PVL_OK, ENGINE_STATE_SNAPSHOT, {}},
      // SnapshotVideoPaused
      {"SnapshotVideoPaused: Stop ends in Ready without the stream", ENGINE_STATE_SNAPSHOT_VIDEO_PAUSED, "Stop",
       {"OnStopSnapshot"}, PVL_OK, ENGINE_STATE_READY,
       {"1: Leaving State: Snapshot", "1: Snapshot took 0 ms", "1: Entering State: Ready",
        Moved("SnapshotVideoPaused", "Ready")}},
      {"SnapshotVideoPaused: CaptureComplete resumes the stream", ENGINE_STATE_SNAPSHOT_VIDEO_PAUSED,
       "CaptureComplete", {"OnStopSnapshot", "OnStartVideo"}, PVL_OK, ENGINE_STATE_VIDEO,
       {"1: Leaving State: Snapshot", "1: Snapshot took 0 ms", "1: Entering State: Video",
        Moved("SnapshotVideoPaused", "Video")}},
      {"SnapshotVideoPaused: RawCaptureComplete stays", ENGINE_STATE_SNAPSHOT_VIDEO_PAUSED, "RawCaptureComplete",
       {"OnStopSnapshot", "OnReserved"}, PVL_E_UNSUPPORTED, ENGINE_STATE_SNAPSHOT_VIDEO_PAUSED,
       {"1: Leaving State: Snapshot", "1: Snapshot took 0 ms", "1: Entering State: Offline Process"}},
      {"SnapshotVideoPaused: FrameAvailable", ENGINE_STATE_SNAPSHOT_VIDEO_PAUSED, "FrameAvailable",
       {"OnSnapshotFrameAvailable 1"}, PVL_OK, ENGINE_STATE_SNAPSHOT_VIDEO_PAUSED, {}},
      {"SnapshotVideoPaused: StatsAvailable", ENGINE_STATE_SNAPSHOT_VIDEO_PAUSED, "StatsAvailable",
       {"OnSnapshotStatsAvailable 1"}, PVL_OK, ENGINE_STATE_SNAPSHOT_VIDEO_PAUSED, {}},
      {"SnapshotVideoPaused: the formats in use", ENGINE_STATE_SNAPSHOT_VIDEO_PAUSED, "GetEnabledPortFormats",
       {"GetCurrentPortFormats 3"}, PVL_OK, ENGINE_STATE_SNAPSHOT_VIDEO_PAUSED, {}},
      // The offline states (over an engine that can process raw stills)
      {"OfflineProcess: Stop ends in Ready", ENGINE_STATE_OFFLINE_PROCESS, "Stop", {}, PVL_OK, ENGINE_STATE_READY,
       {"1: Leaving State: Offline Process", "1: Entering State: Ready", Moved("OfflineProcess", "Ready")}},
      {"OfflineProcess: CaptureComplete ends in Ready", ENGINE_STATE_OFFLINE_PROCESS, "CaptureComplete", {}, PVL_OK,
       ENGINE_STATE_READY,
       {"1: Leaving State: Offline Process", "1: Entering State: Ready", Moved("OfflineProcess", "Ready")}},
      {"OfflineProcessVideoPaused: Stop ends in Ready", ENGINE_STATE_OFFLINE_PROCESS_VIDEO_PAUSED, "Stop", {}, PVL_OK,
       ENGINE_STATE_READY,
       {"1: Leaving State: Offline Process", "1: Entering State: Ready",
        Moved("OfflineProcessVideoPaused", "Ready")}},
      {"OfflineProcessVideoPaused: CaptureComplete resumes the stream", ENGINE_STATE_OFFLINE_PROCESS_VIDEO_PAUSED,
       "CaptureComplete", {"OnStartVideo"}, PVL_OK, ENGINE_STATE_VIDEO,
       {"1: Leaving State: Offline Process", "1: Entering State: Video",
        Moved("OfflineProcessVideoPaused", "Video")}},
  };
  for (const AcceptCase& c : cases) {
    SCOPED_TRACE(c.name);
    MakeIn(c.from);
    PvlResult r = PVL_OK;
    std::vector<std::string> lines = Lines([&] { r = Events().at(c.event).raise(machine.Get()); });
    EXPECT_EQ(c.result, r);
    EXPECT_EQ(c.calls, engine.Calls());
    EXPECT_EQ(c.next, machine->GetCurrentStateId());
    EXPECT_EQ(c.lines, StateLines(lines));
  }
}

// The events a state refuses: 13 with the base's line, no engine call, the
// state as it was.
TEST_F(EngineStatesTest, EachStateRefusesTheOtherEvents) {
  struct RefuseCase {
    int32_t state;
    std::vector<const char*> events;
  };
  const std::vector<const char*> captureRefuses = {
      "Initialize",    "Uninitialize",          "GetPorts",  "StartSnapshot", "StartVideo",
      "ApplyProperty", "StartFocus",            "StopFocus", "Suspend",       "Resume",
      "ApplyRuntimeTuningChanges", "StartPreSnapshotFlash", "StopPreSnapshotFlash"};
  const std::vector<const char*> offlineRefuses = {
      "Initialize", "Uninitialize", "GetPorts",       "StartSnapshot",         "StartVideo",
      "RawCaptureComplete", "ApplyProperty", "StartFocus", "StopFocus",      "FrameAvailable",
      "StatsAvailable", "GetEnabledPortFormats", "ApplyRuntimeTuningChanges", "Suspend", "Resume",
      "FatalError", "StartPreSnapshotFlash", "StopPreSnapshotFlash"};
  std::vector<const char*> all;
  for (const auto& e : Events()) all.push_back(e.first.c_str());
  const std::vector<RefuseCase> cases = {
      {ENGINE_STATE_UNINIT,
       {"Uninitialize", "GetPorts", "StartSnapshot", "StartVideo", "Stop", "CaptureComplete", "RawCaptureComplete",
        "ApplyProperty", "StartFocus", "StopFocus", "FrameAvailable", "StatsAvailable", "GetEnabledPortFormats",
        "ApplyRuntimeTuningChanges", "Suspend", "Resume", "FatalError", "StartPreSnapshotFlash",
        "StopPreSnapshotFlash"}},
      {ENGINE_STATE_READY,
       {"Initialize", "CaptureComplete", "RawCaptureComplete", "StartFocus", "StopFocus", "FrameAvailable",
        "StatsAvailable", "StartPreSnapshotFlash", "StopPreSnapshotFlash"}},
      {ENGINE_STATE_VIDEO, {"Initialize", "Uninitialize", "GetPorts", "RawCaptureComplete"}},
      {ENGINE_STATE_SNAPSHOT, captureRefuses},
      {ENGINE_STATE_SNAPSHOT_VIDEO_PAUSED, captureRefuses},
      {ENGINE_STATE_OFFLINE_PROCESS, offlineRefuses},
      {ENGINE_STATE_OFFLINE_PROCESS_VIDEO_PAUSED, offlineRefuses},
      {ENGINE_STATE_INVALID, all},
  };
  for (const RefuseCase& c : cases) {
    MakeIn(c.state);
    for (const char* name : c.events) {
      SCOPED_TRACE(std::string(kStateNames[c.state]) + ": " + name);
      const EventDef& event = Events().at(name);
      PvlResult r = PVL_OK;
      std::vector<std::string> lines = Lines([&] { r = event.raise(machine.Get()); });
      EXPECT_EQ(PVL_E_NOTREADY, r);
      EXPECT_EQ(std::vector<std::string>{std::string("3: ") + event.refusal}, StateLines(lines));
      EXPECT_TRUE(engine.Calls().empty());
      EXPECT_EQ(c.state, machine->GetCurrentStateId());
    }
  }
}

// A failing engine step in Enter or Leave: the result comes back, the state
// stays, and what Enter had done is undone.
TEST_F(EngineStatesTest, FailuresKeepTheStateAndUndoWhatWasDone) {
  struct FailCase {
    const char* name;
    int32_t from;
    const char* event;
    const char* failing;  // the engine step that answers 9
    std::vector<std::string> calls;
    int32_t stays;
  };
  const std::vector<FailCase> cases = {
      {"sensor start fails: the engine is taken down again", ENGINE_STATE_UNINIT, "Initialize", "StartSensor",
       {"SetCameraId 4660", "Initialize", "StartSensor", "Uninitialize"}, ENGINE_STATE_UNINIT},
      {"engine initialisation fails: it undoes its own steps", ENGINE_STATE_UNINIT, "Initialize", "Initialize",
       {"SetCameraId 4660", "Initialize"}, ENGINE_STATE_UNINIT},
      {"the camera cannot be named", ENGINE_STATE_UNINIT, "Initialize", "SetCameraId", {"SetCameraId 4660"},
       ENGINE_STATE_UNINIT},
      // Leave fails: the machine raises FatalError once, which tries Ready's way
      // down again and fails the same.
      {"engine uninitialisation fails: the sensor stays", ENGINE_STATE_READY, "Uninitialize", "Uninitialize",
       {"Uninitialize", "Uninitialize"}, ENGINE_STATE_READY},
      {"snapshot count refused", ENGINE_STATE_READY, "StartSnapshot", "SetSnapshotCount", {"SetSnapshotCount 2"},
       ENGINE_STATE_READY},
      {"stream does not start", ENGINE_STATE_READY, "StartVideo", "OnStartVideo", {"OnStartVideo"},
       ENGINE_STATE_READY},
      {"capture does not start from Ready", ENGINE_STATE_READY, "StartSnapshot", "OnStartSnapshot",
       {"SetSnapshotCount 2", "OnStartSnapshot"}, ENGINE_STATE_READY},
      {"capture does not start from Video", ENGINE_STATE_VIDEO, "StartSnapshot", "OnStartSnapshot",
       {"SetSnapshotCount 2", "OnStopVideo", "OnStartSnapshot"}, ENGINE_STATE_VIDEO},
      {"stream does not restart", ENGINE_STATE_VIDEO, "StartVideo", "OnStartVideo", {"OnStopVideo", "OnStartVideo"},
       ENGINE_STATE_VIDEO},
      // Leave fails: the fatal error it raises takes the engine down through
      // Ready to Invalid, whatever the capture says the second time.
      {"capture does not stop", ENGINE_STATE_SNAPSHOT, "CaptureComplete", "OnStopSnapshot",
       {"OnStopSnapshot", "OnStopSnapshot", "Uninitialize", "StopSensor"}, ENGINE_STATE_INVALID},
      {"paused capture does not stop", ENGINE_STATE_SNAPSHOT_VIDEO_PAUSED, "Stop", "OnStopSnapshot",
       {"OnStopSnapshot", "OnStopSnapshot", "Uninitialize", "StopSensor"}, ENGINE_STATE_INVALID},
      {"stream does not resume after the capture", ENGINE_STATE_SNAPSHOT_VIDEO_PAUSED, "CaptureComplete",
       "OnStartVideo", {"OnStopSnapshot", "OnStartVideo"}, ENGINE_STATE_SNAPSHOT_VIDEO_PAUSED},
  };
  for (const FailCase& c : cases) {
    SCOPED_TRACE(c.name);
    MakeIn(c.from);
    engine.answers[c.failing] = 9;
    EXPECT_EQ(9, Events().at(c.event).raise(machine.Get()));
    engine.answers.erase(c.failing);
    EXPECT_EQ(c.calls, engine.Calls());
    EXPECT_EQ(c.stays, machine->GetCurrentStateId());
  }
}

// After a sensor start failed inside Initialize, the engine can be brought up again.
TEST_F(EngineStatesTest, InitializeWorksAgainAfterTheSensorFailedToStart) {
  MakeIn(ENGINE_STATE_UNINIT);
  engine.answers["StartSensor"] = 9;
  ASSERT_EQ(9, machine->Initialize(1));
  engine.answers.erase("StartSensor");
  engine.Clear();
  EXPECT_EQ(PVL_OK, machine->Initialize(1));
  EXPECT_EQ((std::vector<std::string>{"SetCameraId 1", "Initialize", "StartSensor"}), engine.Calls());
  EXPECT_EQ(ENGINE_STATE_READY, machine->GetCurrentStateId());
}

// A fatal error while the stream cannot be stopped tries once and returns the
// failure, instead of asking itself again without end.
TEST_F(EngineStatesTest, AFatalErrorInVideoIsBoundedWhenTheStreamCannotStop) {
  struct Case {
    const char* name;
    const char* event;
    std::vector<std::string> calls;
  };
  const std::vector<Case> cases = {
      {"FatalError event", "FatalError", {"OnStopVideo"}},
      // Stop's failing Leave raises FatalError once; its own attempt fails the same.
      {"Stop whose Leave fails", "Stop", {"OnStopVideo", "OnStopVideo"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MakeIn(ENGINE_STATE_VIDEO);
    engine.answers["OnStopVideo"] = 9;
    EXPECT_EQ(9, Events().at(c.event).raise(machine.Get()));
    EXPECT_EQ(c.calls, engine.Calls());
    EXPECT_EQ(ENGINE_STATE_VIDEO, machine->GetCurrentStateId());
    // Once the stream stops, a fatal error still ends in Invalid.
    engine.answers.erase("OnStopVideo");
    engine.Clear();
    EXPECT_EQ(PVL_OK, machine->FatalError());
    EXPECT_EQ(ENGINE_STATE_INVALID, machine->GetCurrentStateId());
    EXPECT_EQ((std::vector<std::string>{"OnStopVideo", "Uninitialize", "StopSensor"}), engine.Calls());
  }
}

// A fatal error during a capture takes the engine down through Ready to
// Invalid, also when the capture cannot be stopped: no capture holds the
// engine for good.
TEST_F(EngineStatesTest, AFatalErrorDuringACaptureEndsInInvalid) {
  struct Case {
    const char* name;
    int32_t from;
    bool stopFails;
  };
  const std::vector<Case> cases = {
      {"capture", ENGINE_STATE_SNAPSHOT, false},
      {"capture that cannot stop", ENGINE_STATE_SNAPSHOT, true},
      {"paused capture", ENGINE_STATE_SNAPSHOT_VIDEO_PAUSED, false},
      {"paused capture that cannot stop", ENGINE_STATE_SNAPSHOT_VIDEO_PAUSED, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MakeIn(c.from);
    if (c.stopFails) engine.answers["OnStopSnapshot"] = 9;
    EXPECT_EQ(PVL_OK, machine->FatalError());
    engine.answers.erase("OnStopSnapshot");
    EXPECT_EQ((std::vector<std::string>{"OnStopSnapshot", "Uninitialize", "StopSensor"}), engine.Calls());
    EXPECT_EQ(ENGINE_STATE_INVALID, machine->GetCurrentStateId());
    engine.Clear();
    machine->FrameAvailable(1, nullptr);
    EXPECT_TRUE(engine.Calls().empty()) << "no frame reaches the engine taken down";
  }
}

// Suspend and Resume in Ready and Video: each runs once, a failed step leaves
// the camera as not suspended (or still suspended) so that it can be asked again.
TEST_F(EngineStatesTest, SuspendAndResumeRunOnceAndCanBeRetried) {
  struct Step {
    const char* event;
    const char* failing;  // null: nothing fails
    PvlResult result;
    std::vector<std::string> calls;
  };
  struct Case {
    const char* name;
    int32_t state;
    std::vector<Step> steps;
  };
  const std::vector<Case> cases = {
      {"Ready",
       ENGINE_STATE_READY,
       {{"Suspend", nullptr, PVL_OK, {"StopSensor", "Suspend"}},
        {"Suspend", nullptr, PVL_OK, {}},
        {"Resume", nullptr, PVL_OK, {"Resume", "StartSensor"}},
        {"Resume", nullptr, PVL_OK, {}}}},
      {"Ready, failing steps",
       ENGINE_STATE_READY,
       {{"Suspend", "Suspend", 9, {"StopSensor", "Suspend"}},
        {"Suspend", nullptr, PVL_OK, {"StopSensor", "Suspend"}},
        {"Resume", "StartSensor", 9, {"Resume", "StartSensor"}},
        {"Resume", nullptr, PVL_OK, {"Resume", "StartSensor"}},
        {"Resume", nullptr, PVL_OK, {}}}},
      {"Video",
       ENGINE_STATE_VIDEO,
       {{"Suspend", nullptr, PVL_OK, {"OnStopVideo", "StopSensor", "Suspend"}},
        {"Suspend", nullptr, PVL_OK, {}},
        {"Resume", nullptr, PVL_OK, {"Resume", "StartSensor", "OnStartVideo"}},
        {"Resume", nullptr, PVL_OK, {}}}},
      {"Video, failing steps",
       ENGINE_STATE_VIDEO,
       {{"Suspend", "StopSensor", 9, {"OnStopVideo", "StopSensor"}},
        {"Suspend", nullptr, PVL_OK, {"OnStopVideo", "StopSensor", "Suspend"}},
        {"Resume", "OnStartVideo", 9, {"Resume", "StartSensor", "OnStartVideo"}},
        {"Resume", nullptr, PVL_OK, {"Resume", "StartSensor", "OnStartVideo"}}}},
  };
  for (const Case& c : cases) {
    MakeIn(c.state);
    int n = 0;
    for (const Step& s : c.steps) {
      SCOPED_TRACE(std::string(c.name) + ", step " + std::to_string(++n) + ": " + s.event);
      if (s.failing) engine.answers[s.failing] = 9;
      EXPECT_EQ(s.result, Events().at(s.event).raise(machine.Get()));
      if (s.failing) engine.answers.erase(s.failing);
      EXPECT_EQ(s.calls, engine.Calls());
      EXPECT_EQ(c.state, machine->GetCurrentStateId());
      engine.Clear();
    }
  }
}

// While suspended, nothing may start or stop a stream or a capture: leaving
// the state would leave the suspension behind where Resume does not look
// (Resume would answer 0 and the camera would stay powered down).
TEST_F(EngineStatesTest, WhileSuspendedTheStateKeepsItsSuspensionUntilResume) {
  struct Case {
    int32_t state;
    std::vector<const char*> refused;
    std::vector<std::string> resumeCalls;
  };
  const std::vector<Case> cases = {
      {ENGINE_STATE_READY, {"StartVideo", "StartSnapshot"}, {"Resume", "StartSensor"}},
      {ENGINE_STATE_VIDEO, {"Stop", "StartVideo", "StartSnapshot"}, {"Resume", "StartSensor", "OnStartVideo"}},
  };
  for (const Case& c : cases) {
    MakeIn(c.state);
    ASSERT_EQ(PVL_OK, machine->Suspend());
    engine.Clear();
    for (const char* name : c.refused) {
      SCOPED_TRACE(std::string(kStateNames[c.state]) + ": " + name);
      std::vector<std::string> lines;
      const std::vector<std::string> all =
          Lines([&] { EXPECT_EQ(PVL_E_NOTREADY, Events().at(name).raise(machine.Get())); });
      for (const std::string& l : all)
        if (l.find("suspended") != std::string::npos) lines.push_back(l);
      EXPECT_EQ(1u, lines.size()) << "no line says why";
      EXPECT_TRUE(engine.Calls().empty());
      EXPECT_EQ(c.state, machine->GetCurrentStateId());
    }
    SCOPED_TRACE(std::string(kStateNames[c.state]) + ": Resume");
    EXPECT_EQ(PVL_OK, machine->Resume());
    EXPECT_EQ(c.resumeCalls, engine.Calls());
    EXPECT_EQ(PVL_OK, machine->StartVideo()) << "a resumed camera streams again";
  }
}

// The stream's timing lines: the first frame after each entry gives the time
// from the configuration; then a line per window of at least a second with the
// frames counted in it.
TEST_F(EngineStatesTest, VideoLogsTheFirstFrameAndTheFrameRate) {
  struct Case {
    const char* name;
    std::vector<uint32_t> frameTimes;  // ms after entry
    std::vector<std::string> lines;
  };
  std::vector<uint32_t> thirtyFps;
  for (uint32_t i = 0; i <= 60; ++i) thirtyFps.push_back(120 + (i * 100) / 3);
  const std::vector<Case> cases = {
      {"first frame only", {45}, {"1: Video config to first frame took 45 ms"}},
      {"30 frames a second",
       thirtyFps,
       {"1: Video config to first frame took 120 ms", "1: Current frame rate: 30 fps",
        "1: Current frame rate: 30 fps"}},
      // Four frames, nothing for 1100 ms, then one: the window of 1500 ms reports
      // the five it counted, not a rate.
      {"a window of 1500 ms",
       {80, 180, 280, 380, 480, 1580},
       {"1: Video config to first frame took 80 ms", "1: Current frame rate: 5 fps"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MakeIn(ENGINE_STATE_READY);
    const uint32_t entry = g_clock.now.load();
    ASSERT_EQ(PVL_OK, machine->StartVideo());
    std::vector<std::string> lines = Lines([&] {
      for (uint32_t t : c.frameTimes) {
        g_clock.now = entry + t;
        EXPECT_EQ(PVL_OK, machine->FrameAvailable(1, nullptr));
      }
    });
    EXPECT_EQ(c.lines, lines);
  }
}

TEST_F(EngineStatesTest, EveryEntryToVideoMeasuresItsFirstFrameAgain) {
  MakeIn(ENGINE_STATE_VIDEO);
  g_clock.now += 10;
  ASSERT_EQ(PVL_OK, machine->FrameAvailable(1, nullptr));
  g_clock.now += 10;
  ASSERT_EQ(PVL_OK, machine->StartVideo());
  g_clock.now += 70;
  std::vector<std::string> lines = Lines([&] { ASSERT_EQ(PVL_OK, machine->FrameAvailable(1, nullptr)); });
  EXPECT_EQ(std::vector<std::string>{"1: Video config to first frame took 70 ms"}, lines);
}

TEST_F(EngineStatesTest, SnapshotTookCountsFromEntryToTheEndOfTheStop) {
  MakeIn(ENGINE_STATE_READY);
  ASSERT_EQ(PVL_OK, machine->StartSnapshot(1));
  g_clock.now += 250;
  engine.onCall = [](const std::string& call) {
    if (call == "OnStopSnapshot") g_clock.now += 40;
  };
  std::vector<std::string> lines = Lines([&] { ASSERT_EQ(PVL_OK, machine->CaptureComplete()); });
  engine.onCall = nullptr;
  EXPECT_EQ("1: Snapshot took 290 ms", StateLines(lines).at(1));
}

// States whose clock could not be made read 0: no frame-rate line ever, the
// first frame and the snapshot at 0 ms.
TEST_F(EngineStatesTest, WithoutAClockTheStatesLogZero) {
  g_clock.failures = 3;  // Video's, Snapshot's and SnapshotVideoPaused's; the machine's works
  MakeIn(ENGINE_STATE_VIDEO);
  std::vector<std::string> lines = Lines([&] {
    for (int i = 0; i < 5; ++i) {
      g_clock.now += 1000;
      ASSERT_EQ(PVL_OK, machine->FrameAvailable(1, nullptr));
    }
  });
  EXPECT_EQ(std::vector<std::string>{"1: Video config to first frame took 0 ms"}, lines);
  ASSERT_EQ(PVL_OK, machine->StartSnapshot(1));
  g_clock.now += 1000;
  lines = StateLines(Lines([&] { ASSERT_EQ(PVL_OK, machine->Stop()); }));
  EXPECT_EQ("1: Snapshot took 0 ms", lines.at(1));
}

// Over a machine without an engine, the states' handlers answer 1.
TEST_F(EngineStatesTest, WithoutAnEngineTheHandlersAnswer1) {
  machine.Reset();
  ASSERT_EQ(PVL_OK, CEngineStateMachine::Create(env, nullptr, &machine));
  ASSERT_EQ(PVL_OK, machine->Start());
  EXPECT_EQ(PVL_E_FAIL, machine->Initialize(1));
  EXPECT_EQ(ENGINE_STATE_UNINIT, machine->GetCurrentStateId());
}

// The states by identifier, as the machine runs them.
TEST_F(EngineStatesTest, TheMachineRunsTheEightStatesByIdentifier) {
  Make();
  for (int32_t id = 0; id < kEngineStateCount; ++id) EXPECT_STREQ(kStateNames[id], machine->GetStateName(id));
  EXPECT_STREQ("Invalid", machine->GetStateName(-1));
}

bool WaitFor(const std::function<bool()>& done) {
  for (int i = 0; i < 30000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return done();
}

// Runs the client event `blocking` with its engine call `blocks` held, and
// `delivery` from a receive thread meanwhile: the delivery must wait for the
// event. The delivery's result, once both are done.
PvlResult DeliverDuringEvent(RecordingEngine& engine, CEngineStateMachine* machine, const Event& blocking,
                             const std::string& blocks, const Event& delivery) {
  std::atomic<bool> inside{false}, release{false}, delivered{false};
  engine.onCall = [&](const std::string& call) {
    if (call != blocks) return;
    inside = true;
    WaitFor([&] { return release.load(); });
  };
  std::thread client([&] { blocking(machine); });
  EXPECT_TRUE(WaitFor([&] { return inside.load(); })) << "the event never reached " << blocks;
  PvlResult result = PVL_E_FAIL;
  std::thread receiver([&] {
    result = delivery(machine);
    delivered = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_FALSE(delivered.load()) << "the delivery ran beside the event";
  release = true;
  client.join();
  receiver.join();
  engine.onCall = nullptr;
  return result;
}

// A frame's engine pass waits while a client event runs on the engine, in
// Video and in a capture.
TEST_F(EngineStatesTest, AFramesEnginePassWaitsForARunningEvent) {
  struct Case {
    const char* name;
    int32_t state;
    Event blocking;      // a client event whose engine call blocks
    const char* blocks;  // that engine call
    const char* frameCall;
  };
  const std::vector<Case> cases = {
      {"Video, ApplyProperty", ENGINE_STATE_VIDEO, [](CEngineStateMachine* m) { return m->ApplyProperty(7); },
       "OnApplyProperty 7", "OnFrameAvailable 1"},
      {"Snapshot, GetEnabledPortFormats", ENGINE_STATE_SNAPSHOT,
       [](CEngineStateMachine* m) {
         uint32_t n = 0;
         return m->GetEnabledPortFormats(nullptr, 3, &n);
       },
       "GetCurrentPortFormats 3", "OnSnapshotFrameAvailable 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MakeIn(c.state);
    const PvlResult frameResult = DeliverDuringEvent(
        engine, machine.Get(), c.blocking, c.blocks, [](CEngineStateMachine* m) { return m->FrameAvailable(1, nullptr); });
    EXPECT_EQ((std::vector<std::string>{c.blocks, c.frameCall}), engine.Calls());
    EXPECT_EQ(PVL_OK, frameResult);
  }
}

// Once a stop has begun, a frame is refused at once: it neither waits for the
// stopping event (which may go on to close the VFE service and wait for the
// receive thread) nor reaches the engine (the torch would light again).
TEST_F(EngineStatesTest, AFrameAfterAStopBeganNeitherWaitsNorIsHandedOn) {
  struct Case {
    const char* name;
    int32_t state;
    Event stopping;
    const char* blocks;  // the stopping engine call, held while the frame comes
  };
  const std::vector<Case> cases = {
      {"Video, Stop", ENGINE_STATE_VIDEO, [](CEngineStateMachine* m) { return m->Stop(); }, "OnStopVideo"},
      {"Video, restart", ENGINE_STATE_VIDEO, [](CEngineStateMachine* m) { return m->StartVideo(); }, "OnStopVideo"},
      {"Video, Suspend", ENGINE_STATE_VIDEO, [](CEngineStateMachine* m) { return m->Suspend(); }, "OnStopVideo"},
      {"Video, still", ENGINE_STATE_VIDEO, [](CEngineStateMachine* m) { return m->StartSnapshot(1); },
       "OnStopVideo"},
      {"Snapshot, Stop", ENGINE_STATE_SNAPSHOT, [](CEngineStateMachine* m) { return m->Stop(); }, "OnStopSnapshot"},
      {"SnapshotVideoPaused, CaptureComplete", ENGINE_STATE_SNAPSHOT_VIDEO_PAUSED,
       [](CEngineStateMachine* m) { return m->CaptureComplete(); }, "OnStopSnapshot"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MakeIn(c.state);
    std::atomic<bool> inside{false}, release{false};
    engine.onCall = [&](const std::string& call) {
      if (call != c.blocks || inside.load()) return;
      inside = true;
      WaitFor([&] { return release.load(); });
    };
    std::thread client([&] { c.stopping(machine.Get()); });
    ASSERT_TRUE(WaitFor([&] { return inside.load(); }));
    std::atomic<bool> frameDone{false};
    PvlResult frameResult = PVL_OK;
    std::thread receiver([&] {
      frameResult = machine->FrameAvailable(1, nullptr);
      frameDone = true;
    });
    EXPECT_TRUE(WaitFor([&] { return frameDone.load(); })) << "the frame waited for the stopping event";
    release = true;
    client.join();
    receiver.join();
    engine.onCall = nullptr;
    EXPECT_EQ(PVL_E_NOTREADY, frameResult);
    for (const std::string& call : engine.Calls())
      EXPECT_EQ(std::string::npos, call.find("FrameAvailable")) << "the frame reached the engine";
  }
}

// A stop that failed leaves the stream running: its frames still reach the
// engine. (A capture that fails to stop is taken down: see the fatal error
// during a capture.)
TEST_F(EngineStatesTest, AStreamThatDidNotStopStillDeliversItsFrames) {
  struct Case {
    const char* name;
    int32_t state;
    Event stopping;
    const char* failing;
    const char* frameCall;
  };
  const std::vector<Case> cases = {
      {"Video, Stop", ENGINE_STATE_VIDEO, [](CEngineStateMachine* m) { return m->Stop(); }, "OnStopVideo",
       "OnFrameAvailable 1"},
      {"Video, Suspend", ENGINE_STATE_VIDEO, [](CEngineStateMachine* m) { return m->Suspend(); }, "OnStopVideo",
       "OnFrameAvailable 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MakeIn(c.state);
    engine.answers[c.failing] = 9;
    EXPECT_EQ(9, c.stopping(machine.Get()));
    engine.answers.erase(c.failing);
    EXPECT_EQ(c.state, machine->GetCurrentStateId());
    engine.Clear();
    EXPECT_EQ(PVL_OK, machine->FrameAvailable(1, nullptr));
    EXPECT_EQ(std::vector<std::string>{c.frameCall}, engine.Calls());
  }
}

// What the receive thread delivers into the machine.
const Event kStats = [](CEngineStateMachine* m) { return m->StatsAvailable(0, nullptr); };
const Event kStillDone = [](CEngineStateMachine* m) { return m->CaptureComplete(); };
const Event kFrame = [](CEngineStateMachine* m) { return m->FrameAvailable(1, nullptr); };

// The hang between the engine and the VFE service: a client event stops the
// stream under the machine's lock and goes on to wait for the receive thread
// (the service joins it on close), while that thread waits for the lock with
// a delivery. The engine call named `joins` stands for that wait: it waits
// for the delivery to return, generously, and the test fails instead of
// hanging. The delivery comes either while the event still holds the lock
// before the stop (it is then already waiting) or after the stop began.
TEST_F(EngineStatesTest, ADeliveryGivesUpOnceAStopBeganSoTheReceiveThreadCanBeJoined) {
  struct Case {
    const char* name;
    int32_t state;
    Event delivery;
    Event stopping;
    const char* joins;
  };
  const Event stop = [](CEngineStateMachine* m) { return m->Stop(); };
  const std::vector<Case> cases = {
      {"Video, statistics, Stop", ENGINE_STATE_VIDEO, kStats, stop, "OnStopVideo"},
      {"Video, frame, Stop", ENGINE_STATE_VIDEO, kFrame, stop, "OnStopVideo"},
      {"Video, statistics, Suspend", ENGINE_STATE_VIDEO, kStats,
       [](CEngineStateMachine* m) { return m->Suspend(); }, "OnStopVideo"},
      {"Video, statistics, still", ENGINE_STATE_VIDEO, kStats,
       [](CEngineStateMachine* m) { return m->StartSnapshot(1); }, "OnStopVideo"},
      {"Video, statistics, FatalError closes the engine", ENGINE_STATE_VIDEO, kStats,
       [](CEngineStateMachine* m) { return m->FatalError(); }, "Uninitialize"},
      {"Snapshot, end of still, Stop", ENGINE_STATE_SNAPSHOT, kStillDone, stop, "OnStopSnapshot"},
      {"Snapshot, statistics, Stop", ENGINE_STATE_SNAPSHOT, kStats, stop, "OnStopSnapshot"},
      {"SnapshotVideoPaused, end of still, Stop", ENGINE_STATE_SNAPSHOT_VIDEO_PAUSED, kStillDone, stop,
       "OnStopSnapshot"},
      {"Ready, statistics, Uninitialize", ENGINE_STATE_READY, kStats,
       [](CEngineStateMachine* m) { return m->Uninitialize(); }, "Uninitialize"},
      {"Ready, end of still, Uninitialize", ENGINE_STATE_READY, kStillDone,
       [](CEngineStateMachine* m) { return m->Uninitialize(); }, "Uninitialize"},
  };
  for (const Case& c : cases) {
    for (bool waitingBefore : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (waitingBefore ? ", delivery already waiting" : ", delivery after the stop"));
      MakeIn(c.state);
      std::thread receiver;
      std::atomic<bool> delivered{false};
      PvlResult deliveryResult = PVL_OK;
      auto deliver = [&] {
        receiver = std::thread([&] {
          deliveryResult = c.delivery(machine.Get());
          delivered = true;
        });
      };
      bool joined = false;
      engine.onCall = [&](const std::string& call) {
        if (call != c.joins) return;
        if (!receiver.joinable()) deliver();
        joined = WaitFor([&] { return delivered.load(); });
      };
      std::thread client([&] {
        CPvlPtr<ILock> lock;
        machine->GetLock(&lock);
        lock->Lock();
        if (waitingBefore) {
          deliver();
          std::this_thread::sleep_for(std::chrono::milliseconds(20));  // most likely waiting by now
        }
        c.stopping(machine.Get());
        lock->Unlock();
      });
      client.join();
      receiver.join();
      engine.onCall = nullptr;
      EXPECT_TRUE(joined) << "the stopping event and the receive thread waited for each other";
      EXPECT_EQ(PVL_E_NOTREADY, deliveryResult);
      for (const std::string& call : engine.Calls()) {
        EXPECT_EQ(std::string::npos, call.find("Available")) << "the delivery reached the engine: " << call;
        EXPECT_NE("OnReserved", call) << "a still's end was acted on after its stop";
      }
    }
  }
}

// While its state takes it, a delivery waits for a running client event and
// then is handled, also when it came while a still was being started.
TEST_F(EngineStatesTest, ADeliveryWaitsForARunningEventWhileItsStateTakesIt) {
  struct Case {
    const char* name;
    int32_t state;
    Event blocking;
    const char* blocks;
    Event delivery;
    std::vector<std::string> after;  // the engine calls after the blocking one
    int32_t finalState;
  };
  const std::vector<Case> cases = {
      {"Video, statistics during ApplyProperty", ENGINE_STATE_VIDEO,
       [](CEngineStateMachine* m) { return m->ApplyProperty(7); }, "OnApplyProperty 7", kStats,
       {"OnVideoStatsAvailable 0"}, ENGINE_STATE_VIDEO},
      {"Snapshot, statistics during GetEnabledPortFormats", ENGINE_STATE_SNAPSHOT,
       [](CEngineStateMachine* m) {
         uint32_t n = 0;
         return m->GetEnabledPortFormats(nullptr, 3, &n);
       },
       "GetCurrentPortFormats 3", kStats, {"OnSnapshotStatsAvailable 0"}, ENGINE_STATE_SNAPSHOT},
      {"Ready, end of still while the still starts", ENGINE_STATE_READY,
       [](CEngineStateMachine* m) { return m->StartSnapshot(1); }, "OnStartSnapshot", kStillDone,
       {"OnStopSnapshot"}, ENGINE_STATE_READY},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MakeIn(c.state);
    const PvlResult deliveryResult = DeliverDuringEvent(engine, machine.Get(), c.blocking, c.blocks, c.delivery);
    const std::vector<std::string> calls = engine.Calls();
    auto blocked = std::find(calls.begin(), calls.end(), c.blocks);
    ASSERT_NE(calls.end(), blocked);
    EXPECT_EQ(c.after, std::vector<std::string>(blocked + 1, calls.end()));
    EXPECT_EQ(PVL_OK, deliveryResult);
    EXPECT_EQ(c.finalState, machine->GetCurrentStateId());
  }
}

}  // namespace
