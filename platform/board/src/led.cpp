// The white LED: a flash enable line and a pulse-programmed torch.
//
// The flash burns while line 143 is high; an LED held at flash current for long
// overheats, so a hold longer than kLedFlashLimitNs (board time) is warned about.
// The torch's driver chip is programmed by bursts of rising edges on line 159: a
// gap of kLedBurstGapNs between rises starts a new burst. A program is two
// (register, value) pairs; once its fourth burst has ended (the line rests high
// for a burst gap) it is latched and the torch burns at the level of its last
// burst; a shorter program is latched after kLedProgramEndNs of rest. A low
// resting kLedOffNs switches the torch off; the program's own 2 us lows never
// come near that. Linux cannot time the driver's pulses exactly, so decoding
// counts edges and only trusts the long gaps. The driver programs the chip from
// a thread in the real-time band, which the phone never preempts for normal
// work; the time a loaded machine kept such a writer waiting to run between two
// of its edges is taken out of the gap, so its pulse train keeps the shape the
// driver timed. The decision is taken lazily, at the next edge or when someone
// looks, and time-stamped with the edge that caused it.
#include <fcntl.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <mutex>

#include "board_internal.h"

namespace {

struct Led {
  std::mutex lock;
  BoardLedState state;
  std::vector<BoardLedState> history;
  std::vector<std::string> warnings;
  // Line 143.
  bool flashHigh = false;
  int64_t flashSinceBoard = 0;
  bool flashWarned = false;
  // Line 159. Decisions use line time: monotonic time less shiftNs, the waits
  // to run that real-time writers met between their consecutive edges.
  int torchLevel = 0;
  int64_t lastRiseMono = 0;  // line time
  int64_t lowSinceMono = 0;  // line time
  int64_t lastRiseStamp = 0, lowSinceStamp = 0;  // monotonic, for the history
  int64_t shiftNs = 0;
  uint64_t lastWriter = 0;
  int64_t lastWriterWaitNs = -1;
  bool collecting = false;
  std::vector<uint32_t> bursts;
};

Led& L() {
  static Led* l = new Led;
  return *l;
}

BoardLedMode ModeOf(bool torch, bool flash) {
  return torch ? (flash ? kLedTorchAndFlash : kLedTorch) : (flash ? kLedFlash : kLedOff);
}

void Change(Led& l, BoardLedMode mode, uint32_t level, const std::vector<uint32_t>& program, int64_t boardNs) {
  if (mode == l.state.mode && level == l.state.torchLevel && program == l.state.torchProgram) return;
  l.state.mode = mode;
  l.state.torchLevel = level;
  l.state.torchProgram = program;
  l.state.sinceNs = boardNs;
  l.history.push_back(l.state);
  if (l.history.size() > 10000) l.history.erase(l.history.begin());
}

bool TorchOn(const Led& l) { return l.state.mode == kLedTorch || l.state.mode == kLedTorchAndFlash; }

void CheckFlashHold(Led& l, int64_t boardNow) {
  if (!l.flashHigh || l.flashWarned) return;
  int64_t held = boardNow - l.flashSinceBoard;
  if (held <= kLedFlashLimitNs) return;
  char text[80];
  std::snprintf(text, sizeof text, "flash held on for more than %lld ms", (long long)(kLedFlashLimitNs / 1000000));
  l.warnings.push_back(text);
  l.flashWarned = true;
}

// Takes the decisions that the time passed since the last edge allows.
void Settle(Led& l, int64_t monoNow) {
  int64_t rest = monoNow - l.lastRiseMono;
  bool complete = l.bursts.size() >= kLedProgramBursts && rest >= kLedBurstGapNs;
  if (l.torchLevel == 1 && l.collecting && (complete || rest >= kLedProgramEndNs)) {
    l.collecting = false;
    uint32_t level = l.bursts.empty() ? 0 : l.bursts.back();
    Change(l, ModeOf(true, l.flashHigh), level, l.bursts, board::BoardTimeOfMono(l.lastRiseStamp));
  }
  if (l.torchLevel == 0 && monoNow - l.lowSinceMono >= kLedOffNs) {
    l.collecting = false;
    if (TorchOn(l)) Change(l, ModeOf(false, l.flashHigh), 0, {}, board::BoardTimeOfMono(l.lowSinceStamp));
  }
  CheckFlashHold(l, board::BoardTimeOfMono(monoNow + l.shiftNs));
}

}  // namespace

namespace board {

LineWriter CurrentLineWriter() {
  LineWriter w;
  w.id = uint64_t(syscall(SYS_gettid));
  const int policy = sched_getscheduler(0);
  w.realTime = policy == SCHED_FIFO || policy == SCHED_RR;
  if (policy != SCHED_FIFO) return w;
  // The thread's schedstat: time on the CPU, time runnable but waiting for one, slices.
  int fd = open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return w;
  char text[96] = {};
  ssize_t n = read(fd, text, sizeof text - 1);
  close(fd);
  unsigned long long run = 0, wait = 0;
  if (n > 0 && std::sscanf(text, "%llu %llu", &run, &wait) == 2) w.runWaitNs = int64_t(wait);
  return w;
}

void LedOnLine(uint32_t line, int level, int64_t monoNs, const LineWriter& writer) {
  if (line != kLedFlashGpio && line != kLedTorchGpio) return;
  Led& l = L();
  std::lock_guard<std::mutex> g(l.lock);
  if (writer.runWaitNs >= 0 && writer.id == l.lastWriter && l.lastWriterWaitNs >= 0)
    l.shiftNs += std::max<int64_t>(0, writer.runWaitNs - l.lastWriterWaitNs);
  l.lastWriter = writer.id;
  l.lastWriterWaitNs = writer.runWaitNs;
  const int64_t stamp = monoNs;
  monoNs -= l.shiftNs;
  Settle(l, monoNs);
  int64_t boardNs = BoardTimeOfMono(stamp);
  if (line == kLedFlashGpio) {
    bool high = level != 0;
    if (high == l.flashHigh) return;
    if (!high) CheckFlashHold(l, boardNs);
    l.flashHigh = high;
    l.flashSinceBoard = boardNs;
    l.flashWarned = false;
    Change(l, ModeOf(TorchOn(l), high), l.state.torchLevel, l.state.torchProgram, boardNs);
    return;
  }
  if (level == l.torchLevel) return;
  l.torchLevel = level;
  if (!level) {
    l.lowSinceMono = monoNs;
    l.lowSinceStamp = stamp;
    return;
  }
  if (!l.collecting) {
    l.collecting = true;
    l.bursts.assign(1, 1);
  } else if (monoNs - l.lastRiseMono >= kLedBurstGapNs) {
    l.bursts.push_back(1);
  } else {
    ++l.bursts.back();
  }
  l.lastRiseMono = monoNs;
  l.lastRiseStamp = stamp;
}

void LedReset() {
  Led& l = L();
  std::lock_guard<std::mutex> g(l.lock);
  l.state = BoardLedState{};
  l.state.sinceNs = BoardNowNs();
  l.history.clear();
  l.warnings.clear();
  l.flashHigh = false;
  l.flashWarned = false;
  l.torchLevel = 0;
  l.collecting = false;
  l.bursts.clear();
  l.lowSinceMono = l.lowSinceStamp = 0;
  l.lastRiseMono = l.lastRiseStamp = 0;
  l.shiftNs = 0;
  l.lastWriter = 0;
  l.lastWriterWaitNs = -1;
}

}  // namespace board

BoardLedState BoardLedNow() {
  Led& l = L();
  std::lock_guard<std::mutex> g(l.lock);
  Settle(l, board::MonoNs() - l.shiftNs);
  return l.state;
}

std::vector<BoardLedState> BoardLedHistory() {
  Led& l = L();
  std::lock_guard<std::mutex> g(l.lock);
  Settle(l, board::MonoNs() - l.shiftNs);
  return l.history;
}

std::vector<std::string> BoardLedWarnings() {
  Led& l = L();
  std::lock_guard<std::mutex> g(l.lock);
  Settle(l, board::MonoNs() - l.shiftNs);
  return l.warnings;
}

std::string BoardLedStateName(const BoardLedState& state) {
  std::string torch = "torch(" + std::to_string(state.torchLevel) + ")";
  switch (state.mode) {
    case kLedOff: return "off";
    case kLedTorch: return torch;
    case kLedFlash: return "flash";
    case kLedTorchAndFlash: return torch + "+flash";
  }
  return "off";
}

float BoardLedLight(const BoardLedState& state) {
  switch (state.mode) {
    case kLedOff: return 0.0f;
    case kLedTorch: return kLedTorchLight;
    case kLedFlash: return kLedFlashLight;
    case kLedTorchAndFlash: return kLedTorchLight + kLedFlashLight;
  }
  return 0.0f;
}

void BoardLedClearRecords() {
  Led& l = L();
  std::lock_guard<std::mutex> g(l.lock);
  Settle(l, board::MonoNs() - l.shiftNs);
  l.history.clear();
  l.warnings.clear();
}
