// The VFE's register file. The driver reaches it through the chipset's
// register window; every access lands in the hooks below on the accessing
// thread. Configuration registers are held twice, as written and as active:
// an update (0x190) copies the written image into the active one, at once when
// the camera interface is idle and at the next frame start while it runs.
// Command registers (reset, start, stop, camera-interface and write-master
// commands) act at once; their acknowledgements come later from the frame
// engine's thread, never from inside a register write.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "../board_internal.h"
#include "chipset_sim.h"
#include "vfe_model.h"

namespace board::vfe {
namespace {

// Registers that take effect when written rather than at an update.
bool Immediate(uint32_t offset) {
  switch (offset) {
    case kRegResetCmd:
    case kRegClockEnable:
    case kRegIrqMask:
    case kRegIrqClear:
    case kRegOutputSelect:
    case kRegStartControl:
    case kRegOut2YPing:
    case kRegOut2YPong:
    case kRegOut2CPing:
    case kRegOut2CPong:
    case kRegOut1YPing:
    case kRegOut1YPong:
    case kRegOut1CPing:
    case kRegOut1CPong:
    case kRegCamifCommand:
    case kRegUpdate:
    case kRegTableSelect:
    case kRegTableIndex:
    case kRegTableData:
    case kRegBlock23Control:
      return true;
    default:
      break;
  }
  if (offset >= kRegAfPing && offset <= 0x084) return true;   // statistics buffers
  if (offset >= 0x0C0 && offset <= kRegStopStatus) return true;  // write-master and stop block
  return false;
}

void LogAccess(Model& m, uint32_t offset, uint32_t value, bool write) {
  m.accesses.Add({BoardNowNs(), offset, value, write});
}

uint32_t ReadRegister(Model& m, uint32_t offset);

uint32_t ReadHook(void*, uint32_t offset, volatile uint32_t*) {
  Model& m = M();
  bool clock = ClockOn();
  std::lock_guard<std::mutex> g(m.lock);
  uint32_t value = ReadRegister(m, offset);
  LogAccess(m, offset, value, false);
  if (!clock && offset < kVfeRegisterSpan) ++m.counters.clockOffAccesses;
  return value;
}

uint32_t ReadRegister(Model& m, uint32_t offset) {
  if (offset >= kVfeRegisterSpan || (offset & 3) != 0) {
    ++m.counters.outOfWindowAccesses;
    return 0;
  }
  switch (offset) {
    case kRegVersion: return kVfeHardwareVersion;
    case kRegIrqStatus: return m.status;
    case kRegPingPongStatus: return m.pingPong;
    case kRegStopStatus: return m.stopStatus;
    case kRegCamifStatus: return m.camifStatus;
    case kRegStatus1D8:
    case kRegStatus264: return 0;
    default: break;
  }
  if (offset >= kRegPathStatusOut2 && offset <= kRegPathStatusOut1 + 12) return m.pathStatus[(offset - kRegPathStatusOut2) / 4];
  return Written(m, offset);
}

// The planes of a path in the output control word (bits 4-7: OUT2 Y, OUT2
// CbCr, OUT1 Y, OUT1 CbCr).
uint32_t PathPlanes(uint32_t outputControl, int path) {
  return path == kVfeOutput2 ? (outputControl >> 4) & 3 : (outputControl >> 6) & 3;
}

bool StartsCamif(uint32_t offset, uint32_t value) {
  return offset == kRegCamifCommand && (value == kCamifStart || value == kCamifRestart);
}

// Returns true when the interrupt line must be raised. `sensorStartNs`: for a
// camera-interface start, the board time of the sensor's latest frame start.
bool Write(Model& m, uint32_t offset, uint32_t value, int64_t sensorStartNs) {
  m.written[offset / 4] = value;
  // The statistics were answered, or nothing will answer them now.
  if ((offset == kRegUpdate && (value & 1)) || offset == kRegResetCmd ||
      (offset == kRegCamifCommand && (value == kCamifStopNow || value == kCamifStopAfterFrame)) ||
      (offset == kRegWriteMasterCmd && value == kWriteMastersStop))
    GateAwaitUpdate(false);
  if (Immediate(offset)) m.active[offset / 4] = value;
  switch (offset) {
    case kRegResetCmd: {
      ResetRunState(m);
      ++m.generation;
      Event e{EventKind::kResetDone, BoardNowNs() + kVfeAckDelayNs, {}, m.generation};
      Schedule(m, e);
      return false;
    }
    case kRegIrqMask:
      return LineWanted(m);
    case kRegIrqClear:
      m.status &= ~value;
      m.cv.notify_all();
      return false;
    case kRegStartControl:
      if (value & (1u << 4)) m.pipelineStarted = true;
      if (value & (1u << 5)) m.statsStarted = true;
      return false;
    case kRegWriteMasterCmd:
      if (value == kWriteMastersStart) {
        m.writeMastersRunning = true;
        uint32_t control = Written(m, kRegOutputControl);
        if (PathPlanes(control, kVfeOutput2)) m.pathStatus[3] |= 1;
        if (PathPlanes(control, kVfeOutput1)) m.pathStatus[7] |= 1;
      } else if (value == kWriteMastersStop) {
        m.writeMastersRunning = false;
      }
      return false;
    case kRegStopRequest:
      m.stopRequested = (value & 1) != 0;
      if (m.stopRequested && !m.writing && !m.withholdStopAck) m.stopStatus |= kStopAcknowledged;
      return false;
    case kRegCamifCommand:
      switch (value) {
        case kCamifArmStart:
        case kCamifArmRestart:
          m.camifArmed = true;
          break;
        case kCamifStart:
        case kCamifRestart:
          m.camifRunning = true;
          m.camifStartedAfterNs = sensorStartNs;
          m.camifStopAfterFrame = false;
          m.camifArmed = false;
          if (value == kCamifRestart) m.camifStatus = 0;
          break;
        case kCamifStopAfterFrame:
          if (m.frame.valid) {
            m.camifStopAfterFrame = true;
          } else {
            m.camifRunning = false;
          }
          break;
        case kCamifStopNow:
          m.camifRunning = false;
          m.camifStopAfterFrame = false;
          if (m.frame.valid) m.frame.aborted = true;
          break;
        default:
          break;
      }
      return false;
    case kRegUpdate:
      if ((value & 1) == 0) return false;
      if (m.camifRunning) {
        m.updatePending = true;
        return false;
      }
      LatchUpdate(m);
      return SetStatus(m, 1u << kVfeIrqUpdate);
    case kRegTableSelect:
      m.tableSelect = value >= 256 ? value - 256 : 0;
      m.tableIndex = 0;
      return false;
    case kRegTableIndex:
      m.tableIndex = value;
      return false;
    case kRegTableData:
      if (m.tableSelect > 0 && m.tableSelect < kTableCount && m.tableIndex < kTableWords) {
        auto& t = m.tables[m.tableSelect];
        if (t.size() < kTableWords) t.resize(kTableWords);
        t[m.tableIndex++] = value;
      }
      return false;
    default:
      return false;
  }
}

void WriteHook(void*, uint32_t offset, uint32_t value, volatile uint32_t* cell) {
  Model& m = M();
  bool clock = ClockOn();
  bool raise = false;
  uint32_t generation = 0;
  // The interface captures from the next start of frame on. Asked before the
  // model's lock is taken: the sensor's is never taken under it.
  int64_t sensorStartNs = INT64_MIN;
  BoardFrameInfo latest;
  if (StartsCamif(offset, value) && BoardSensorLatestFrame(&latest)) sensorStartNs = latest.startNs;
  {
    std::lock_guard<std::mutex> g(m.lock);
    LogAccess(m, offset, value, true);
    if (offset >= kVfeRegisterSpan || (offset & 3) != 0) {
      ++m.counters.outOfWindowAccesses;
      return;
    }
    if (!clock) ++m.counters.clockOffAccesses;
    *cell = value;
    raise = Write(m, offset, value, sensorStartNs);
    generation = m.generation;
  }
  if (raise) Raise(generation);
}

std::once_flag gHookOnce;

}  // namespace

Model& M() {
  static Model* m = new Model;  // outlives every thread that may still touch it
  return *m;
}

bool ClockOn() {
  // Asked on every register access: the regimes below 64 in one read.
  static constexpr uint64_t kLow = [] {
    uint64_t m = 0;
    for (uint32_t regime : kVfeClockRegimes)
      if (regime < 64) m |= uint64_t(1) << regime;
    return m;
  }();
  if ((ChipSimLowRegimesEnabled() & kLow) != kLow) return false;
  for (uint32_t regime : kVfeClockRegimes)
    if (regime >= 64 && !ChipSimRegimeEnabled(regime)) return false;
  return true;
}

void LatchUpdate(Model& m) {
  for (uint32_t i = 0; i < kRegWords; ++i)
    if (!Immediate(i * 4)) m.active[i] = m.written[i];
}

void ResetRunState(Model& m) {
  m.pipelineStarted = m.statsStarted = false;
  m.writeMastersRunning = false;
  m.camifArmed = m.camifRunning = m.camifStopAfterFrame = false;
  m.camifStartedAfterNs = INT64_MIN;
  m.updatePending = false;
  m.stopRequested = false;
  m.pingPong = 0;
  m.stopStatus = 0;
  m.camifStatus = 0;
  m.pathStatus.fill(0);
  for (PathState& p : m.path) {
    p.pingNext = true;
    p.dropIndex = 0;
  }
  for (StatsSide& s : m.statsSide) s.pingNext = true;
  m.frame = FrameInFlight{};
}

void HookWindow() {
  std::call_once(gHookOnce, [] {
    BoardSimInit();
    static const ChipSimWindowHooks hooks{ReadHook, WriteHook};
    ChipSimSetWindowHooks(kVfeRegistersPhys, &hooks, nullptr);
    Model& m = M();
    m.listenerId = BoardSensorAddFrameListener(OnSensorFrame, nullptr);
    std::lock_guard<std::mutex> g(m.lock);
    m.hooked = true;
  });
}

namespace {
// The model is part of the board library: hooked as soon as it is loaded.
__attribute__((constructor)) void LoadVfeModel() {
  HookWindow();
  if (BoardVfePacedByEnvironment()) BoardVfeSetPacing(true);
}
__attribute__((destructor)) void UnloadVfeModel() { StopEngine(); }
}  // namespace

}  // namespace board::vfe

using namespace board::vfe;

namespace {
void ResetModel();
}  // namespace

void BoardVfeReset() {
  HookWindow();
  {
    StatsGate& g = Gate();
    std::lock_guard<std::mutex> hold(g.lock);
    g.paced = false;
  }
  BoardVfeSetStatsLockStep(false);
  BoardVfeSetClientLockStep(false);
  {
    StatsGate& g = Gate();
    std::lock_guard<std::mutex> hold(g.lock);
    g.timeouts = 0;
    g.lastTimeout.clear();
    g.modelLate = false;
  }
  ResetModel();
  if (BoardVfePacedByEnvironment()) BoardVfeSetPacing(true);
}

void BoardVfeSetPacing(bool on) {
  BoardVfeSetLockStep(on, kBoardPacingTimeoutMs);
  {
    StatsGate& g = Gate();
    std::lock_guard<std::mutex> hold(g.lock);
    g.paced = on;
  }
  // Frame by frame, without waiting for updates: a test without a 3A loop never
  // answers its statistics. A loop's test adds the statistics lock-step.
  BoardVfeSetStatsLockStep(false);
}

bool BoardVfePacedByEnvironment() {
  const char* v = getenv("CAMERA_BOARD_PACED");
  return v && std::strcmp(v, "1") == 0;
}

namespace {

void ResetModel() {
  Model& m = M();
  std::lock_guard<std::mutex> g(m.lock);
  m.written.fill(0);
  m.active.fill(0);
  m.status = 0;
  ResetRunState(m);
  ++m.generation;
  m.events.clear();
  for (auto& t : m.tables) t.clear();
  m.tableSelect = m.tableIndex = 0;
  m.serial = 0;
  for (PathState& p : m.path) p = PathState{};
  m.counters = BoardVfeCounters{};
  m.lastTimeout.clear();
  m.accesses.Clear();
  m.lockStep = false;
  m.lockStepTimeoutMs = 5000;
  m.loseInterrupts = 0;
  m.withheldBits = 0;
  m.withholdStopAck = false;
  m.lastRaiseLost = false;
  m.delayNextFrameMs = 0;
  m.tap = nullptr;
  m.cv.notify_all();
}

}  // namespace

namespace board::vfe {

StatsGate& Gate() {
  static StatsGate* g = new StatsGate;
  return *g;
}

void GateFrameEnded(uint32_t frame) {
  StatsGate& g = Gate();
  std::lock_guard<std::mutex> hold(g.lock);
  g.endedFrame = frame;
  g.modelLate = false;
}

void GateModelLate() {
  StatsGate& g = Gate();
  std::lock_guard<std::mutex> hold(g.lock);
  g.modelLate = true;
}

void GateFrameWritten(int path) {
  StatsGate& g = Gate();
  std::lock_guard<std::mutex> hold(g.lock);
  if (g.clientStep && path == g.clientPath) ++g.written;
}

void GateAwaitUpdate(bool awaiting) {
  StatsGate& g = Gate();
  std::lock_guard<std::mutex> hold(g.lock);
  g.awaitingUpdate = awaiting;
}

namespace {

// The sensor's question before each frame start.
bool MayStart(uint32_t latestStarted, bool* timeStands) {
  StatsGate& g = Gate();
  std::lock_guard<std::mutex> hold(g.lock);
  *timeStands = !g.modelLate;
  bool ready = !g.on || latestStarted == 0 ||
               (g.endedFrame == latestStarted && !(g.awaitUpdates && g.awaitingUpdate));
  if (g.clientStep && g.written >= g.returned + g.clientAhead) ready = false;
  if (ready) {
    g.heldAfter = 0;
    return true;
  }
  const int64_t now = MonoNs();
  const bool modelDone = g.endedFrame == latestStarted;
  if (g.heldAfter != latestStarted + 1) {
    g.heldAfter = latestStarted + 1;
    g.heldSinceNs = now;
    g.answerSinceNs = modelDone ? now : 0;
    return false;
  }
  // The model's own work is no one's answer: however long a busy machine makes it
  // take, only the pacing guard bounds it. The time-out runs from the frame's end.
  if (!modelDone) {
    if (now - g.heldSinceNs < int64_t(std::max(g.timeoutMs, kBoardPacingTimeoutMs)) * 1000000) return false;
  } else {
    if (g.answerSinceNs == 0) g.answerSinceNs = now;
    if (now - g.answerSinceNs < int64_t(g.timeoutMs) * 1000000) return false;
  }
  ++g.timeouts;
  char why[160];
  if (!modelDone) {
    std::snprintf(why, sizeof why, "the model had not ended frame %u (latest ended %u)", latestStarted, g.endedFrame);
  } else if (g.awaitUpdates && g.awaitingUpdate) {
    std::snprintf(why, sizeof why, "no update command answered frame %u's statistics", latestStarted);
  } else {
    std::snprintf(why, sizeof why, "the client had given back %u of %u frames", g.returned, g.written);
  }
  g.lastTimeout = "the start after frame " + std::to_string(latestStarted) + " was let go after " +
                  std::to_string(g.timeoutMs) + " ms: " + why;
  g.heldAfter = 0;
  g.awaitingUpdate = false;
  if (g.clientStep) g.returned = g.written + 1 - g.clientAhead;
  return true;
}

// Installs or removes the sensor's start gate as the switches ask. Called
// without the gate's lock: the sensor takes its own lock first.
void InstallGate(bool gated) { board::SensorSetStartGate(gated ? MayStart : nullptr); }

}  // namespace
}  // namespace board::vfe

void BoardVfeSetStatsLockStep(bool on, int timeoutMs) {
  bool gated;
  {
    StatsGate& g = Gate();
    std::lock_guard<std::mutex> hold(g.lock);
    g.on = on || g.paced;
    g.awaitUpdates = on;
    g.timeoutMs = std::max(1, on ? timeoutMs : kBoardPacingTimeoutMs);
    g.heldAfter = 0;
    g.awaitingUpdate = false;
    gated = g.on || g.clientStep;
  }
  InstallGate(gated);
}

void BoardVfeSetClientLockStep(bool on, BoardVfePath path, uint32_t ahead) {
  bool gated;
  {
    StatsGate& g = Gate();
    std::lock_guard<std::mutex> hold(g.lock);
    g.clientStep = on;
    g.clientPath = path & 1;
    g.clientAhead = std::max(1u, ahead);
    g.written = g.returned = 0;
    g.heldAfter = 0;
    gated = g.on || g.clientStep;
  }
  InstallGate(gated);
}

void BoardVfeClientReturnedFrame() {
  StatsGate& g = Gate();
  std::lock_guard<std::mutex> hold(g.lock);
  ++g.returned;
}

void BoardVfeSetLockStep(bool on, int timeoutMs) {
  Model& m = M();
  std::lock_guard<std::mutex> g(m.lock);
  m.lockStep = on;
  m.lockStepTimeoutMs = std::max(1, timeoutMs);
  m.cv.notify_all();
}

BoardVfeCounters BoardVfeCounts() {
  Model& m = M();
  BoardVfeCounters counts;
  {
    std::lock_guard<std::mutex> g(m.lock);
    counts = m.counters;
  }
  StatsGate& gate = Gate();
  std::lock_guard<std::mutex> hold(gate.lock);
  counts.serviceTimeouts += gate.timeouts;
  return counts;
}

std::string BoardVfeLastTimeout() {
  std::string model;
  {
    Model& m = M();
    std::lock_guard<std::mutex> g(m.lock);
    model = m.lastTimeout;
  }
  StatsGate& gate = Gate();
  std::lock_guard<std::mutex> hold(gate.lock);
  if (model.empty()) return gate.lastTimeout;
  if (gate.lastTimeout.empty()) return model;
  return gate.lastTimeout + "; " + model;
}

std::vector<BoardVfeAccess> BoardVfeAccessLog() {
  Model& m = M();
  std::lock_guard<std::mutex> g(m.lock);
  return m.accesses.Snapshot();
}

uint32_t BoardVfeWrittenRegister(uint32_t offset) {
  Model& m = M();
  std::lock_guard<std::mutex> g(m.lock);
  return offset < kVfeRegisterSpan ? Written(m, offset & ~3u) : 0;
}

uint32_t BoardVfeActiveRegister(uint32_t offset) {
  Model& m = M();
  std::lock_guard<std::mutex> g(m.lock);
  return offset < kVfeRegisterSpan ? Active(m, offset & ~3u) : 0;
}

std::vector<uint32_t> BoardVfeTable(uint32_t code) {
  Model& m = M();
  std::lock_guard<std::mutex> g(m.lock);
  return code < kTableCount ? m.tables[code] : std::vector<uint32_t>{};
}

void BoardVfeSetTap(std::function<void(const BoardVfeTappedFrame&)> tap) {
  Model& m = M();
  std::lock_guard<std::mutex> g(m.lock);
  m.tap = std::move(tap);
}
