// CSensorWatchdog: a sensor that vanishes while the preview runs steadily says
// nothing. Nothing is written to it (exposure rests), so no write fails; its
// frames just stop, and the VFE with them. The engine notes every sign of the
// frame path (a frame, statistics, a frame the VFE lost: each means a start of
// frame reached the VFE); when none came for kSilentPeriods frame periods (at
// least kMinimumSilenceMs) the watchdog asks its owner to check the sensor.
// The check decides: a sensor that answers is merely slow, and the watch goes
// on; only one that does not is lost.
//
// The watch runs on a host thread of its own between Start and Stop, counting
// time on the host's clock. Its owner's check may wait for the engine's lock: it
// must give up once Stopping() is true (the owner wakes it after RequestStop),
// so that Stop can join from an event that holds that lock.
#pragma once

#include <stdint.h>

#include <atomic>
#include <functional>

#include "cpvlptr.h"
#include "cpvlthread.h"
#include "iclock.h"
#include "ienv.h"

class CSensorWatchdog {
 public:
  static constexpr uint32_t kSilentPeriods = 30;
  static constexpr uint32_t kMinimumSilenceMs = 500;
  // A frame period that cannot be true (0, or longer than a few seconds) is
  // taken as the preview's usual one.
  static constexpr uint32_t kDefaultPeriodUs = 33333;
  static constexpr uint32_t kLongestPeriodUs = 4000000;

  // The silence that asks for a check, for a frame period in microseconds.
  static uint32_t SilenceLimitMs(uint32_t framePeriodUs);

  // When to check, apart from the thread: fed with the time and the signs seen
  // so far, answers true once the signs stood still for the limit, then counts
  // the limit again from there.
  class Decision {
   public:
    void Arm(uint32_t limitMs, uint32_t nowMs, uint32_t signs);
    bool Due(uint32_t nowMs, uint32_t signs);

   private:
    uint32_t m_limitMs = 0;
    uint32_t m_sinceMs = 0;
    uint32_t m_signs = 0;
  };

  // True to keep watching, false once the sensor was found lost (or the check
  // gave up because the watch stops).
  using Check = std::function<bool()>;

  CSensorWatchdog() = default;
  ~CSensorWatchdog() { Stop(); }
  CSensorWatchdog(const CSensorWatchdog&) = delete;
  CSensorWatchdog& operator=(const CSensorWatchdog&) = delete;

  // Starts watching on a thread of the environment's host (a watch that runs is
  // stopped first). False when the thread, its wake-up or the clock could not be
  // had: the stream runs unwatched.
  bool Start(IEnv* env, uint32_t framePeriodUs, Check check);
  // The first half of Stop: a check in progress sees Stopping() from now on.
  void RequestStop();
  // Ends the watch and waits for its thread; what Start took from the host is
  // given back.
  void Stop();
  bool Stopping() const { return m_stopping.load(); }
  // A start of frame reached the VFE. From any thread, never blocks.
  void NoteSign() { m_signs.fetch_add(1, std::memory_order_relaxed); }

 private:
  static uint32_t Entry(void* context);
  uint32_t Run();
  uint32_t NowMs();
  void Release();

  std::atomic<uint32_t> m_signs{0};
  std::atomic<bool> m_stopping{false};
  CPvlPtr<CPvlThread> m_thread;
  CPvlPtr<IClock> m_clock;
  // A kernel event, manual reset: set by RequestStop, it ends the timed wait
  // between two looks at once.
  void* m_wake = nullptr;
  uint32_t m_limitMs = 0;
  uint32_t m_pollMs = 1;
  Check m_check;
};
