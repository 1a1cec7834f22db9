// The S5K3E2FX sensor with its focus actuator, at I2C slave 0x20.
//
// Power and control: GPIO 144 low holds the chip in hardware reset (registers
// at their defaults, every transfer refused, the lens parked at 0); after the
// line rises the chip needs kReadyDelayNs before it answers, and it answers only
// while a master clock is selected. Its registers are bytes at 16-bit addresses
// with auto-increment; the chip id and revision are read-only and 0x0103 = 1 is
// a software reset that leaves the lens where it is.
//
// Timing: the pixel clock is mclk / pre-divider x multiplier / system divider /
// pixel divider; a frame lasts FLL lines of LLP pixel clocks and its active
// lines end after height x LLP / pclk. Streaming starts frame 1 at the write of
// 0x0100 = 1 and the frames follow back to back on the frame thread, in board
// time; everything a frame depends on (size, lengths, integration, gain, lens,
// LED, illuminant) is latched at its start, so exposure and gain written while
// streaming act from the next frame. A stop lets the frame in flight end.
//
// Read-out: 0x3014 = 0x06 bins 2:1 horizontally, vertical sub-sampling is
// (0x0387 + 1) / 2; equal factors of 1 or 2 are supported and the output is
// the top-left width x height of the read-out.
//
// Focus actuator: the position code is ((0x3131 & 3) << 8) | 0x3132, acted on
// when 0x3132 is written; the lens moves only while 0x3130 == 0x03 and
// 0x3146 == 0x80, and travels linearly to its target in kLensSettleNs.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

#include "board_internal.h"
#include "sim_ring.h"
#include "chipset_sim.h"

namespace {

constexpr int64_t kReadyDelayNs = 1000000;
constexpr int64_t kLensSettleNs = 4000000;
constexpr int kResetBank = 6;
constexpr uint32_t kResetBit = 1u << (kSensorResetGpio - 122);  // bank 6 starts at GPIO 122

constexpr uint16_t kRegModeSelect = 0x0100;
constexpr uint16_t kRegSoftwareReset = 0x0103;
constexpr uint16_t kRegIntegration = 0x0202;
constexpr uint16_t kRegGain = 0x0204;
constexpr uint16_t kRegPllPixDiv = 0x0301;
constexpr uint16_t kRegPllSysDiv = 0x0303;
constexpr uint16_t kRegPllPreDiv = 0x0305;
constexpr uint16_t kRegPllMultiplier = 0x0306;
constexpr uint16_t kRegFrameLength = 0x0340;
constexpr uint16_t kRegLineLength = 0x0342;
constexpr uint16_t kRegOutputWidth = 0x034C;
constexpr uint16_t kRegOutputHeight = 0x034E;
constexpr uint16_t kRegYOddIncrement = 0x0387;
constexpr uint16_t kRegBinning = 0x3014;
constexpr uint16_t kRegActuatorEnable = 0x3130;
constexpr uint16_t kRegLensHigh = 0x3131;
constexpr uint16_t kRegLensLow = 0x3132;
constexpr uint16_t kRegActuatorPower = 0x3146;

// Power-on values of the writable registers that matter: the preview set.
constexpr struct {
  uint16_t reg;
  uint8_t value;
} kDefaults[] = {
    {0x0112, 0x0A}, {0x0113, 0x0A}, {0x0202, 0x03}, {0x0203, 0x84}, {0x0204, 0x00}, {0x0205, 0x20},
    {0x0301, 0x08}, {0x0303, 0x01}, {0x0305, 0x06}, {0x0306, 0x00}, {0x0307, 0xA0}, {0x0309, 0x08},
    {0x030B, 0x01}, {0x0340, 0x03}, {0x0341, 0xE2}, {0x0342, 0x0A}, {0x0343, 0xAC}, {0x034C, 0x05},
    {0x034D, 0x10}, {0x034E, 0x03}, {0x034F, 0xCC}, {0x0381, 0x01}, {0x0383, 0x01}, {0x0385, 0x01},
    {0x0387, 0x03}, {0x3014, 0x06},
};

struct Listener {
  int id;
  BoardFrameListener fn;
  void* context;
};

struct Sensor {
  std::mutex lock;
  std::condition_variable cv;  // the frame thread and frame waiters
  uint8_t regs[65536] = {};

  // Faults.
  bool present = true;
  uint16_t chipId = kSensorChipId;
  uint16_t revision = kSensorRevision;
  std::set<uint16_t> nackRegs;
  bool stayInReset = false;
  double slowFactor = 1.0;

  // Power.
  bool lineHigh = false;
  bool inReset = true;
  int64_t releaseNs = 0;
  uint32_t mclkHz = 0;

  // Lens.
  uint32_t lensFrom = 0, lensTo = 0;
  int64_t lensMoveNs = 0;

  // Frames.
  uint32_t frames = 0;
  uint32_t lastDispatchedEnd = 0;  // the listeners have seen this frame's end
  uint32_t epoch = 0;              // counts hardware resets: late events of before are not counted
  bool scheduled = false;
  bool nextIsStart = true;
  int64_t nextEventNs = 0;
  int64_t restartNs = -1;  // a restart asked for while a frame was still in flight
  bool haveLatest = false;
  BoardFrameInfo latest;
  std::string lastProblem;

  // A test's pacing of frame starts (board_internal.h), and a start it holds.
  board::SensorStartGate startGate = nullptr;
  bool gateClosed = false;  // the next start waits for the gate
  bool held = false;

  std::deque<BoardFrameInfo> recent;     // the latest frames started
  std::deque<BoardFrameEvent> pending;   // events the listeners have not seen yet

  // Records.
  std::deque<BoardFrameEvent> events;
  SimRing<BoardLogLine> log{10000};
  std::vector<BoardLensMove> lensHistory;
  std::vector<Listener> listeners;
  int nextListenerId = 1;

  std::thread thread;
  bool quit = false;
  bool dispatching = false;  // listeners are being called (outside the lock)
};

Sensor& S() {
  static Sensor* s = new Sensor;
  return *s;
}

uint32_t U16(const Sensor& s, uint16_t reg) { return uint32_t(s.regs[reg]) << 8 | s.regs[uint16_t(reg + 1)]; }

void Log(Sensor& s, const std::string& text) {
  s.log.Push({BoardNowNs(), text});
}

void Defaults(Sensor& s) {
  // The lens registers belong to the actuator: cleared like the rest, but the
  // lens itself does not move.
  std::memset(s.regs, 0, sizeof s.regs);
  for (const auto& d : kDefaults) s.regs[d.reg] = d.value;
}

uint32_t LensAt(const Sensor& s, int64_t now) {
  if (now >= s.lensMoveNs + kLensSettleNs) return s.lensTo;
  double f = double(now - s.lensMoveNs) / double(kLensSettleNs);
  if (f < 0) f = 0;
  return uint32_t(double(s.lensFrom) + (double(s.lensTo) - double(s.lensFrom)) * f + 0.5);
}

bool ActuatorEnabled(const Sensor& s) {
  return s.regs[kRegActuatorEnable] == 0x03 && s.regs[kRegActuatorPower] == 0x80;
}

uint32_t PclkHz(const Sensor& s) {
  uint64_t pre = s.regs[kRegPllPreDiv], mult = U16(s, kRegPllMultiplier), pix = s.regs[kRegPllPixDiv],
           sys = s.regs[kRegPllSysDiv];
  if (!pre || !mult || !sys || !pix) return 0;
  return uint32_t(uint64_t(s.mclkHz) * mult / (pre * sys * pix));
}

uint32_t HBinning(const Sensor& s) { return s.regs[kRegBinning] == 0x06 ? 2 : 1; }
uint32_t VBinning(const Sensor& s) { return (s.regs[kRegYOddIncrement] + 1u) / 2u; }

bool Ready(const Sensor& s, int64_t now) { return !s.inReset && now >= s.releaseNs + kReadyDelayNs; }

// Why no frame can start now; empty when one can.
std::string Problem(const Sensor& s, int64_t now) {
  if (!(s.regs[kRegModeSelect] & 1)) return "standby";
  if (!s.present) return "the module is gone";
  if (s.inReset) return "in reset";
  if (!Ready(s, now)) return "not ready after reset";
  if (!s.mclkHz) return "no master clock";
  if (!PclkHz(s)) return "a PLL divider or multiplier is zero";
  uint32_t hb = HBinning(s), vb = VBinning(s);
  if (hb != vb || (hb != 1 && hb != 2))
    return "read-out " + std::to_string(hb) + ":1 x " + std::to_string(vb) + ":1 is not supported";
  uint32_t w = U16(s, kRegOutputWidth), h = U16(s, kRegOutputHeight);
  if (!w || !h || w > kSensorArrayWidth / hb || h > kSensorArrayHeight / vb)
    return "output " + std::to_string(w) + "x" + std::to_string(h) + " does not fit the read-out";
  if (!U16(s, kRegFrameLength) || !U16(s, kRegLineLength)) return "frame or line length is zero";
  return "";
}

void NoteProblem(Sensor& s, const std::string& problem) {
  if (problem == s.lastProblem) return;
  s.lastProblem = problem;
  if (problem != "standby" && !problem.empty()) Log(s, "no frames: " + problem);
}

void StartThread(Sensor& s);

// A held start that will not come lets board time run again.
void Unhold(Sensor& s) {
  if (s.held) board::HoldTime(false);
  s.held = false;
  s.gateClosed = false;
}

// Frames start when streaming is on and nothing stands in the way.
void Reschedule(Sensor& s, int64_t now) {
  if (s.scheduled) {
    s.cv.notify_all();
    return;
  }
  std::string problem = Problem(s, now);
  NoteProblem(s, problem);
  if (!problem.empty()) return;
  s.scheduled = true;
  s.nextIsStart = true;
  s.nextEventNs = now;
  s.restartNs = -1;
  StartThread(s);
  s.cv.notify_all();
}

void Latch(Sensor& s, int64_t start, BoardFrameInfo* f) {
  f->frame = ++s.frames;
  f->startNs = start;
  f->width = U16(s, kRegOutputWidth);
  f->height = U16(s, kRegOutputHeight);
  f->binning = HBinning(s);
  f->fll = U16(s, kRegFrameLength);
  f->llp = U16(s, kRegLineLength);
  f->pclkHz = PclkHz(s);
  // A frame shorter than its active lines plus the margin is lengthened.
  uint32_t lines = std::max(f->fll, f->height + kSensorExposureMarginLines);
  double lineNs = double(f->llp) * 1e9 / double(f->pclkHz) * s.slowFactor;
  f->periodNs = int64_t(lines * lineNs);
  f->endNs = start + int64_t(f->height * lineNs);
  f->integrationLines = U16(s, kRegIntegration);
  f->gainCode = std::clamp<uint32_t>(U16(s, kRegGain), 32, 512);
  uint32_t exposed = std::min(f->integrationLines, f->fll > kSensorExposureMarginLines ? f->fll - kSensorExposureMarginLines : 0);
  f->exposureSeconds = double(exposed) * double(f->llp) / double(f->pclkHz);
  f->lensCode = LensAt(s, start);
  f->ledLight = BoardLedLight(BoardLedNow());
  f->illuminant = BoardSceneIlluminant();
}

void Queue(Sensor& s, const BoardFrameEvent& e) {
  s.events.push_back(e);
  if (s.events.size() > 10000) s.events.pop_front();
  s.pending.push_back(e);
  s.cv.notify_all();
}

// Takes every frame event due by `now`, in order. Whoever holds the lock first
// after a frame boundary does it (a register write before it applies, so that a
// late frame thread cannot make a frame see a write made after its start); the
// frame thread hands the queued events to the listeners.
void Advance(Sensor& s, int64_t now) {
  while (s.scheduled && s.nextEventNs <= now) {
    if (s.nextIsStart) {
      std::string problem = Problem(s, s.nextEventNs);
      NoteProblem(s, problem);
      if (!problem.empty()) {
        s.scheduled = false;
        Unhold(s);
        return;
      }
      bool timeStands = true;
      if (s.startGate && !s.startGate(s.haveLatest ? s.latest.frame : 0, &timeStands)) {
        // Board time stands while the start waits for the system: to the sensor,
        // the lens and the LED the system took no time at all. A wait on the
        // board's own lateness lets it run.
        if (timeStands && !s.held) board::HoldTime(true);
        if (!timeStands) Unhold(s);
        s.held = timeStands;
        s.gateClosed = true;
        return;
      }
      s.gateClosed = false;
      Unhold(s);
      BoardFrameInfo f;
      Latch(s, s.nextEventNs, &f);
      s.latest = f;
      s.haveLatest = true;
      s.recent.push_back(f);
      // Kept until the listeners have seen the frame's end, however far they lag,
      // so that a listener can always look its frame up.
      while (s.recent.size() > 16 && s.recent.front().frame <= s.lastDispatchedEnd) s.recent.pop_front();
      s.nextIsStart = false;
      s.nextEventNs = f.endNs;
      Queue(s, {kBoardStartOfFrame, f.frame, f.startNs});
    } else {
      const BoardFrameInfo f = s.latest;
      s.nextIsStart = true;
      s.nextEventNs = f.startNs + f.periodNs;
      if (s.restartNs >= 0) s.nextEventNs = std::max(s.restartNs, f.endNs);
      s.restartNs = -1;
      Queue(s, {kBoardEndOfFrame, f.frame, f.endNs});
    }
  }
}

void Run() {
  board::NameModelThread("sensor");
  Sensor& s = S();
  std::unique_lock<std::mutex> lk(s.lock);
  while (!s.quit) {
    Advance(s, BoardNowNs());
    if (!s.pending.empty()) {
      BoardFrameEvent e = s.pending.front();
      s.pending.pop_front();
      std::vector<Listener> listeners = s.listeners;
      const uint32_t epoch = s.epoch;
      s.dispatching = true;
      lk.unlock();
      for (const Listener& l : listeners) l.fn(l.context, e);
      lk.lock();
      s.dispatching = false;
      if (e.kind == kBoardEndOfFrame && epoch == s.epoch) s.lastDispatchedEnd = e.frame;
      s.cv.notify_all();
      continue;
    }
    if (!s.scheduled) {
      s.cv.wait(lk);
      continue;
    }
    if (s.gateClosed) {
      // The gate is polled: what opens it happens in other models.
      s.cv.wait_for(lk, std::chrono::milliseconds(1));
      continue;
    }
    int64_t wait = board::RealNsUntil(s.nextEventNs);
    if (wait > 0) s.cv.wait_for(lk, std::chrono::nanoseconds(wait));
  }
}

void StartThread(Sensor& s) {
  if (!s.thread.joinable()) s.thread = std::thread(Run);
}

// GPIO 144 low: everything back to power-on, the lens parked.
void HardReset(Sensor& s, int64_t now) {
  Defaults(s);
  s.scheduled = false;
  Unhold(s);
  s.restartNs = -1;
  s.haveLatest = false;
  s.frames = 0;
  ++s.epoch;
  s.lastDispatchedEnd = 0;
  s.recent.clear();  // numbers start again at 1
  s.lastProblem.clear();
  uint32_t at = LensAt(s, now);
  if (at != 0 || s.lensTo != 0) s.lensHistory.push_back({now, at, 0, true});
  s.lensFrom = s.lensTo = 0;
  s.lensMoveNs = now;
  s.cv.notify_all();
}

void SetResetLine(Sensor& s, bool high, int64_t now) {
  s.lineHigh = high;
  Advance(s, now);
  if (!high) {
    if (!s.inReset) HardReset(s, now);
    s.inReset = true;
    return;
  }
  if (!s.inReset) return;
  if (s.stayInReset) {
    Log(s, "reset released, but the sensor stays in reset (fault)");
    return;
  }
  s.inReset = false;
  s.releaseNs = now;
  // What the first frame of this read-out needs is made ready beside the
  // system's start-up, as the real parts are ready once powered.
  board::ScenePrepare();
  board::VfePrepare(U16(s, kRegOutputWidth), U16(s, kRegOutputHeight));
}

void ResetObserver(void*, int bank, uint32_t oldOut, uint32_t newOut, uint32_t) {
  if (bank != kResetBank || ((oldOut ^ newOut) & kResetBit) == 0) return;
  Sensor& s = S();
  std::lock_guard<std::mutex> g(s.lock);
  SetResetLine(s, (newOut & kResetBit) != 0, BoardNowNs());
}

void ClockListener(void*, const ChipSimCall& call) {
  if (call.name != "clk_regime_krs_sel_camclk" || call.args.empty()) return;
  Sensor& s = S();
  std::lock_guard<std::mutex> g(s.lock);
  s.mclkHz = call.args[0];
  Reschedule(s, BoardNowNs());
}

bool Answers(Sensor& s, uint16_t reg, uint16_t length, int64_t now) {
  if (!s.present || !Ready(s, now) || !s.mclkHz) return false;
  for (uint32_t i = 0; i < length; ++i)
    if (s.nackRegs.count(uint16_t(reg + i))) return false;
  return true;
}

void LensWritten(Sensor& s, int64_t now) {
  uint32_t target = (uint32_t(s.regs[kRegLensHigh] & 0x03) << 8) | s.regs[kRegLensLow];
  uint32_t at = LensAt(s, now);
  if (!ActuatorEnabled(s)) {
    s.lensHistory.push_back({now, at, target, false});
    Log(s, "lens code " + std::to_string(target) + " written while the actuator is disabled");
    return;
  }
  s.lensHistory.push_back({now, at, target, true});
  s.lensFrom = at;
  s.lensTo = target;
  s.lensMoveNs = now;
}

void StreamingWritten(Sensor& s, bool wasOn, int64_t now) {
  bool on = s.regs[kRegModeSelect] & 1;
  if (on == wasOn) return;
  if (!on) {
    // The frame in flight ends; no further frame starts.
    s.restartNs = -1;
    s.cv.notify_all();
    return;
  }
  s.lastProblem.clear();
  if (s.scheduled && s.nextIsStart) {
    s.nextEventNs = now;  // a stopped stream restarts at the write
    s.cv.notify_all();
  } else if (s.scheduled) {
    s.restartNs = now;
  } else {
    Reschedule(s, now);
  }
}

class SensorDevice : public BoardI2cDevice {
 public:
  bool Write(uint16_t reg, const uint8_t* data, uint16_t length) override {
    Sensor& s = S();
    std::lock_guard<std::mutex> g(s.lock);
    int64_t now = BoardNowNs();
    if (!Answers(s, reg, length, now)) return false;
    Advance(s, now);
    for (uint16_t i = 0; i < length; ++i) {
      uint16_t r = uint16_t(reg + i);
      uint8_t v = data[i];
      if (r <= 0x0003) continue;  // identification is read-only
      if (r == kRegSoftwareReset) {
        if (v & 1) {
          bool wasOn = s.regs[kRegModeSelect] & 1;
          Defaults(s);
          StreamingWritten(s, wasOn, now);
        }
        continue;
      }
      bool wasOn = s.regs[kRegModeSelect] & 1;
      s.regs[r] = v;
      if (r == kRegModeSelect) StreamingWritten(s, wasOn, now);
      if (r == kRegLensLow) LensWritten(s, now);
      if (r == kRegGain + 1) {
        uint32_t code = U16(s, kRegGain);
        if (code < 32 || code > 512)
          Log(s, "gain code " + std::to_string(code) + " outside 32..512, clamped");
      }
    }
    if (s.scheduled) s.cv.notify_all();
    return true;
  }

  bool Read(uint16_t reg, uint8_t* data, uint16_t length) override {
    Sensor& s = S();
    std::lock_guard<std::mutex> g(s.lock);
    if (!Answers(s, reg, length, BoardNowNs())) return false;
    for (uint16_t i = 0; i < length; ++i) data[i] = RegisterValue(s, uint16_t(reg + i));
    return true;
  }

  static uint8_t RegisterValue(const Sensor& s, uint16_t r) {
    switch (r) {
      case 0x0000: return uint8_t(s.chipId >> 8);
      case 0x0001: return uint8_t(s.chipId);
      case 0x0002: return uint8_t(s.revision >> 8);
      case 0x0003: return uint8_t(s.revision);
      case kRegSoftwareReset: return 0;
      default: return s.regs[r];
    }
  }
};

std::shared_ptr<SensorDevice>& Device() {
  static auto* d = new std::shared_ptr<SensorDevice>(std::make_shared<SensorDevice>());
  return *d;
}

std::once_flag gHooksOnce;

}  // namespace

namespace board {

std::shared_ptr<BoardI2cDevice> SensorDevice() { return Device(); }

void SensorInit() {
  std::call_once(gHooksOnce, [] {
    BoardTlmmAddObserver(ResetObserver, nullptr);
    ChipSimAddCallListener(ClockListener, nullptr);
  });
  SensorReset();
}

void SensorReset() {
  Sensor& s = S();
  uint32_t mclk = ChipSimClocks().cameraClockHz;
  bool line = (BoardTlmmRead(kResetBank, kTlmmOut) & kResetBit) != 0;
  std::lock_guard<std::mutex> g(s.lock);
  int64_t now = BoardNowNs();
  s.present = true;
  s.chipId = kSensorChipId;
  s.revision = kSensorRevision;
  s.nackRegs.clear();
  s.stayInReset = false;
  s.slowFactor = 1.0;
  s.mclkHz = mclk;
  s.inReset = false;
  HardReset(s, now);
  s.inReset = true;
  SetResetLine(s, line, now);
  s.events.clear();
  s.pending.clear();
  s.recent.clear();
  s.log.Clear();
  s.lensHistory.clear();
}

void SensorStopThread() {
  Sensor& s = S();
  std::thread t;
  {
    std::lock_guard<std::mutex> g(s.lock);
    s.quit = true;
    s.cv.notify_all();
    t = std::move(s.thread);
  }
  if (t.joinable()) t.join();
}

void SensorKick() {
  Sensor& s = S();
  std::lock_guard<std::mutex> g(s.lock);
  s.cv.notify_all();
}

void SensorSetStartGate(SensorStartGate gate) {
  Sensor& s = S();
  std::lock_guard<std::mutex> g(s.lock);
  s.startGate = gate;
  s.cv.notify_all();
}

void SensorLogLine(const std::string& text) {
  Sensor& s = S();
  std::lock_guard<std::mutex> g(s.lock);
  Log(s, text);
}

}  // namespace board

int BoardSensorAddFrameListener(BoardFrameListener listener, void* context) {
  if (!listener) return 0;
  Sensor& s = S();
  std::lock_guard<std::mutex> g(s.lock);
  int id = s.nextListenerId++;
  s.listeners.push_back({id, listener, context});
  return id;
}

void BoardSensorRemoveFrameListener(int id) {
  Sensor& s = S();
  std::unique_lock<std::mutex> lk(s.lock);
  auto& l = s.listeners;
  l.erase(std::remove_if(l.begin(), l.end(), [id](const Listener& x) { return x.id == id; }), l.end());
  // Once removed, the listener is not running either (its context may go away),
  // unless it removes itself from inside a call.
  if (std::this_thread::get_id() == s.thread.get_id()) return;
  s.cv.wait(lk, [&] { return !s.dispatching; });
}

std::vector<BoardFrameEvent> BoardSensorFrameEvents() {
  std::lock_guard<std::mutex> g(S().lock);
  return {S().events.begin(), S().events.end()};
}

bool BoardSensorWaitFrameEnd(uint32_t frame, int timeoutMs) {
  Sensor& s = S();
  std::unique_lock<std::mutex> lk(s.lock);
  return s.cv.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] { return s.lastDispatchedEnd >= frame; });
}

bool BoardSensorLatestFrame(BoardFrameInfo* info) {
  std::lock_guard<std::mutex> g(S().lock);
  Advance(S(), BoardNowNs());
  if (!S().haveLatest) return false;
  if (info) *info = S().latest;
  return true;
}

bool BoardSensorFrame(uint32_t frame, BoardFrameInfo* info) {
  std::lock_guard<std::mutex> g(S().lock);
  Advance(S(), BoardNowNs());
  for (const BoardFrameInfo& f : S().recent) {
    if (f.frame != frame) continue;
    if (info) *info = f;
    return true;
  }
  return false;
}

bool BoardSensorRender(uint16_t* dst, size_t strideSamples, BoardFrameInfo* info) {
  BoardFrameInfo f;
  if (!dst || !BoardSensorLatestFrame(&f) || strideSamples < f.width) return false;
  board::SceneRender(f, dst, strideSamples);
  if (info) *info = f;
  return true;
}

bool BoardSensorRenderFrame(const BoardFrameInfo& settings, uint16_t* dst, size_t strideSamples) {
  return board::SensorRenderFrame(settings, dst, strideSamples, {});
}

bool board::SensorRenderFrame(const BoardFrameInfo& settings, uint16_t* dst, size_t strideSamples,
                              const RowRunner& runner) {
  const BoardFrameInfo& f = settings;
  if (!dst || (f.binning != 1 && f.binning != 2) || !f.width || !f.height || f.width > kSensorArrayWidth / f.binning ||
      f.height > kSensorArrayHeight / f.binning || strideSamples < f.width || f.illuminant < 0 ||
      f.illuminant >= kIlluminantCount)
    return false;
  board::SceneRender(f, dst, strideSamples, runner);
  return true;
}

BoardSensorSummary BoardSensorState() {
  BoardSensorSummary m;
  std::string led = BoardLedStateName(BoardLedNow());
  Sensor& s = S();
  std::lock_guard<std::mutex> g(s.lock);
  int64_t now = BoardNowNs();
  Advance(s, now);
  m.present = s.present;
  m.inReset = s.inReset;
  m.ready = Ready(s, now);
  m.clocked = s.mclkHz != 0;
  m.streaming = s.regs[kRegModeSelect] & 1;
  m.producing = s.scheduled && Problem(s, now).empty();
  m.mclkHz = s.mclkHz;
  m.pclkHz = PclkHz(s);
  m.width = U16(s, kRegOutputWidth);
  m.height = U16(s, kRegOutputHeight);
  m.binning = HBinning(s);
  m.fll = U16(s, kRegFrameLength);
  m.llp = U16(s, kRegLineLength);
  if (m.pclkHz) {
    uint32_t lines = std::max(m.fll, m.height + kSensorExposureMarginLines);
    m.periodNs = int64_t(double(lines) * m.llp * 1e9 / m.pclkHz * s.slowFactor);
  }
  m.integrationLines = U16(s, kRegIntegration);
  m.gainCode = U16(s, kRegGain);
  m.lensCode = LensAt(s, now);
  m.lensTarget = s.lensTo;
  m.actuatorEnabled = ActuatorEnabled(s);
  m.frames = s.frames;
  m.led = led;
  return m;
}

std::string BoardSensorSummaryText() {
  BoardSensorSummary m = BoardSensorState();
  char text[320];
  std::snprintf(text, sizeof text,
                "W=%u H=%u FLL=%u LLP=%u pclk=%u T=%lldus integration=%u gain=%u streaming=%d producing=%d "
                "reset=%d clocked=%d lens=%u led=%s frames=%u",
                m.width, m.height, m.fll, m.llp, m.pclkHz, (long long)(m.periodNs / 1000), m.integrationLines,
                m.gainCode, int(m.streaming), int(m.producing), int(m.inReset), int(m.clocked), m.lensCode,
                m.led.c_str(), m.frames);
  return text;
}

uint8_t BoardSensorRegister(uint16_t reg) {
  std::lock_guard<std::mutex> g(S().lock);
  return SensorDevice::RegisterValue(S(), reg);
}

std::vector<BoardLogLine> BoardSensorLog() {
  std::lock_guard<std::mutex> g(S().lock);
  return S().log.Snapshot();
}

bool BoardSensorLogContains(const std::string& text) {
  std::lock_guard<std::mutex> g(S().lock);
  bool found = false;
  S().log.ForEach([&](const BoardLogLine& l) { found = found || l.text.find(text) != std::string::npos; });
  return found;
}

std::vector<BoardLensMove> BoardLensHistory() {
  std::lock_guard<std::mutex> g(S().lock);
  return S().lensHistory;
}

void BoardSensorClearLogs() {
  std::lock_guard<std::mutex> g(S().lock);
  S().log.Clear();
  S().lensHistory.clear();
  S().events.clear();
}

void BoardSensorSetPresent(bool present) {
  Sensor& s = S();
  std::lock_guard<std::mutex> g(s.lock);
  const int64_t now = BoardNowNs();
  // The frame in flight ends; no other starts while the module is gone, and one
  // that streams when it comes back goes on from there.
  Advance(s, now);
  s.present = present;
  if (present) Reschedule(s, now);
}

void BoardSensorSetChipId(uint16_t chipId) {
  std::lock_guard<std::mutex> g(S().lock);
  S().chipId = chipId;
}

void BoardSensorSetRevision(uint16_t revision) {
  std::lock_guard<std::mutex> g(S().lock);
  S().revision = revision;
}

void BoardSensorNackRegister(uint16_t reg, bool nack) {
  std::lock_guard<std::mutex> g(S().lock);
  if (nack)
    S().nackRegs.insert(reg);
  else
    S().nackRegs.erase(reg);
}

void BoardSensorStayInReset(bool stay) {
  Sensor& s = S();
  std::lock_guard<std::mutex> g(s.lock);
  s.stayInReset = stay;
  if (!stay && s.lineHigh && s.inReset) SetResetLine(s, true, BoardNowNs());
}

void BoardSensorSetSlowFrames(double factor) {
  std::lock_guard<std::mutex> g(S().lock);
  S().slowFactor = factor >= 1.0 ? factor : 1.0;
}
