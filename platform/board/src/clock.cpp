// Board time: monotonic time that a test may run faster by one factor, so that
// frame periods and the board's own delays shrink while the system's time-outs
// (which run on the OS clock) stay as they are. The mapping is re-anchored at
// every change of the factor, so board time never jumps.
#include <pthread.h>
#include <stdio.h>
#include <time.h>

#include <atomic>
#include <mutex>

#include "board_internal.h"

namespace board {
namespace {

struct Clock {
  std::mutex lock;
  int64_t monoAnchor = 0;
  int64_t boardAnchor = 0;
  double factor = 1.0;
  // Held (a paced frame start waits for the system): board time stands still, so
  // the board's own delays measure frames and blanking, never the system's lateness.
  bool held = false;
  int64_t heldAt = 0;  // board time while held
  // The mapping as last published, for readers that take no lock (the VFE
  // model stamps every register access): `seq` is odd while it changes.
  std::atomic<uint32_t> seq{0};
  std::atomic<int64_t> pubMonoAnchor{0}, pubBoardAnchor{0}, pubHeldAt{0};
  std::atomic<double> pubFactor{1.0};
  std::atomic<bool> pubHeld{false};
};

// Caller holds the lock.
void Publish(Clock& c) {
  const uint32_t s = c.seq.load(std::memory_order_relaxed);
  c.seq.store(s + 1, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
  c.pubMonoAnchor.store(c.monoAnchor, std::memory_order_relaxed);
  c.pubBoardAnchor.store(c.boardAnchor, std::memory_order_relaxed);
  c.pubHeldAt.store(c.heldAt, std::memory_order_relaxed);
  c.pubFactor.store(c.factor, std::memory_order_relaxed);
  c.pubHeld.store(c.held, std::memory_order_relaxed);
  c.seq.store(s + 2, std::memory_order_release);
}

Clock& C() {
  static Clock* c = new Clock;
  return *c;
}

int64_t Map(const Clock& c, int64_t mono) {
  if (c.held) return c.heldAt;
  return c.boardAnchor + int64_t(double(mono - c.monoAnchor) * c.factor);
}

// While held, a wait for a later board time is a short poll: the hold ends when
// other models let the frame go.
constexpr int64_t kHeldPollNs = 1000000;

}  // namespace

void NameModelThread(const char* what) {
  char name[16];
  snprintf(name, sizeof name, "board %s", what);
  pthread_setname_np(pthread_self(), name);
}

int64_t MonoNs() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

int64_t BoardTimeOfMono(int64_t monoNs) {
  Clock& c = C();
  for (;;) {
    const uint32_t before = c.seq.load(std::memory_order_acquire);
    if (before & 1) continue;
    const bool held = c.pubHeld.load(std::memory_order_relaxed);
    const int64_t heldAt = c.pubHeldAt.load(std::memory_order_relaxed);
    const int64_t monoAnchor = c.pubMonoAnchor.load(std::memory_order_relaxed);
    const int64_t boardAnchor = c.pubBoardAnchor.load(std::memory_order_relaxed);
    const double factor = c.pubFactor.load(std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_acquire);
    if (c.seq.load(std::memory_order_relaxed) != before) continue;
    if (held) return heldAt;
    return boardAnchor + int64_t(double(monoNs - monoAnchor) * factor);
  }
}

int64_t RealNsUntil(int64_t boardNs) {
  std::lock_guard<std::mutex> g(C().lock);
  int64_t now = Map(C(), MonoNs());
  if (boardNs <= now) return 0;
  if (C().held) return kHeldPollNs;
  return int64_t(double(boardNs - now) / C().factor) + 1;
}

void HoldTime(bool held) {
  Clock& c = C();
  std::lock_guard<std::mutex> g(c.lock);
  if (held == c.held) return;
  int64_t mono = MonoNs();
  if (held) {
    c.heldAt = Map(c, mono);
    c.held = true;
  } else {
    c.held = false;
    c.boardAnchor = c.heldAt;
    c.monoAnchor = mono;
  }
  Publish(c);
}

void ResetTime() {
  HoldTime(false);
  BoardSetSpeedUp(1.0);
}

}  // namespace board

void BoardSetSpeedUp(double factor) {
  if (!(factor >= 1.0)) factor = 1.0;
  {
    board::Clock& c = board::C();
    std::lock_guard<std::mutex> g(c.lock);
    int64_t mono = board::MonoNs();
    c.boardAnchor = board::Map(c, mono);
    c.monoAnchor = mono;
    c.factor = factor;  // a hold keeps standing: its end re-anchors
    board::Publish(c);
  }
  board::SensorKick();
}

double BoardSpeedUp() {
  std::lock_guard<std::mutex> g(board::C().lock);
  return board::C().factor;
}

int64_t BoardNowNs() { return board::BoardTimeOfMono(board::MonoNs()); }
