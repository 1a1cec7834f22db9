#include "csensorwatchdog.h"

#include <algorithm>

#include "wince.h"

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

bool CSensorWatchdog::Start(IEnv* env, uint32_t framePeriodUs, Check check) {
  Stop();
  if (!env) return false;
  m_limitMs = SilenceLimitMs(framePeriodUs);
  // Looked at a few times per limit: a check comes at most a quarter late.
  m_pollMs = std::max<uint32_t>(m_limitMs / 4, 1);
  if (env->CreateInstance(ZUEUID_CLASS_CLOCK, m_clock.Out()) != PVL_OK || !m_clock) {
    Release();
    return false;
  }
  m_wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  CPvlThread* thread = nullptr;
  if (!m_wake || CPvlThread::Create(env, &thread) != PVL_OK) {
    Release();
    return false;
  }
  m_thread = thread;
  thread->Release();
  m_check = std::move(check);
  m_stopping.store(false);
  CPvlThreadStartInfo start;
  start.entry = &CSensorWatchdog::Entry;
  start.context = this;
  if (m_thread->Start(&start, "Camera Watchdog") != PVL_OK) {
    Release();
    return false;
  }
  return true;
}

void CSensorWatchdog::RequestStop() {
  m_stopping.store(true);
  if (m_wake) SetEvent(m_wake);
}

void CSensorWatchdog::Stop() {
  RequestStop();
  if (m_thread) {
    uint32_t state = PVL_THREAD_NOT_CREATED;
    m_thread->GetState(&state);
    if (state == PVL_THREAD_RUNNING || state == PVL_THREAD_SUSPENDED) m_thread->Stop();
  }
  Release();
}

void CSensorWatchdog::Release() {
  m_thread.Reset();
  m_clock.Reset();
  if (m_wake) CloseHandle(m_wake);
  m_wake = nullptr;
  m_check = nullptr;
}

uint32_t CSensorWatchdog::Entry(void* context) {
  if (!context) return PVL_E_BADARG;
  return static_cast<CSensorWatchdog*>(context)->Run();
}

uint32_t CSensorWatchdog::NowMs() {
  uint32_t now = 0;
  m_clock->GetTime(&now);
  return now;
}

uint32_t CSensorWatchdog::Run() {
  Decision decision;
  decision.Arm(m_limitMs, NowMs(), m_signs.load());
  for (;;) {
    const uint32_t waited = WaitForSingleObject(m_wake, m_pollMs);
    if (m_stopping.load()) return PVL_OK;
    // Only the stop sets the event: any other answer is a wait that failed.
    if (waited != WAIT_TIMEOUT) return PVL_E_FAIL;
    if (!decision.Due(NowMs(), m_signs.load())) continue;
    if (!m_check()) return PVL_OK;
  }
}
