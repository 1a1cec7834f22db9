#include "csensorwatchdog.h"

#include <algorithm>
#include <chrono>
#include <system_error>

namespace {
uint32_t NowMs() {
  using namespace std::chrono;
  return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}
}  // namespace

uint32_t CSensorWatchdog::SilenceLimitMs(uint32_t framePeriodUs) {
  if (framePeriodUs == 0 || framePeriodUs > kLongestPeriodUs) framePeriodUs = kDefaultPeriodUs;
  const uint32_t limit = uint32_t((uint64_t(framePeriodUs) * kSilentPeriods + 999) / 1000);
  return std::max(limit, kMinimumSilenceMs);
}

void CSensorWatchdog::Decision::Arm(uint32_t limitMs, uint32_t nowMs, uint32_t signs) {
  m_limitMs = limitMs;
  m_sinceMs = nowMs;
  m_signs = signs;
}

bool CSensorWatchdog::Decision::Due(uint32_t nowMs, uint32_t signs) {
  if (signs != m_signs) {
    m_signs = signs;
    m_sinceMs = nowMs;
    return false;
  }
  // Unsigned differences: the millisecond clock may wrap.
  if (nowMs - m_sinceMs < m_limitMs) return false;
  m_sinceMs = nowMs;
  return true;
}

bool CSensorWatchdog::Start(uint32_t framePeriodUs, Check check) {
  Stop();
  const uint32_t limit = SilenceLimitMs(framePeriodUs);
  // Looked at a few times per limit: a check comes at most a quarter late.
  const uint32_t poll = std::max<uint32_t>(limit / 4, 1);
  m_check = std::move(check);
  m_stopping.store(false);
  try {
    m_thread = std::thread(&CSensorWatchdog::Run, this, limit, poll);
  } catch (const std::system_error&) {
    m_check = nullptr;
    return false;
  }
  return true;
}

void CSensorWatchdog::RequestStop() {
  {
    std::lock_guard<std::mutex> hold(m_mutex);
    m_stopping.store(true);
  }
  m_wake.notify_all();
}

void CSensorWatchdog::Stop() {
  RequestStop();
  if (m_thread.joinable()) m_thread.join();
  m_check = nullptr;
}

void CSensorWatchdog::Run(uint32_t limitMs, uint32_t pollMs) {
  Decision decision;
  decision.Arm(limitMs, NowMs(), m_signs.load());
  std::unique_lock<std::mutex> hold(m_mutex);
  for (;;) {
    m_wake.wait_for(hold, std::chrono::milliseconds(pollMs), [this] { return m_stopping.load(); });
    if (m_stopping.load()) return;
    if (!decision.Due(NowMs(), m_signs.load())) continue;
    hold.unlock();
    const bool goOn = m_check();
    hold.lock();
    if (!goOn) return;
  }
}
