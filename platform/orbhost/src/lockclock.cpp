// The re-entrant lock and the millisecond clock.
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

#include "iclock.h"
#include "ilock.h"
#include "internal.h"
#include "wince.h"

namespace orbhost {
namespace {

class HostLock final : public HostObject<ILock> {
 public:
  PvlResult QueryInterface(ZUEUID iid, void** out) override { return AnswerQuery(iid, out, ZUEUID_IFACE_LOCK); }

  PvlResult Lock() override {
    const std::thread::id self = std::this_thread::get_id();
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_depth > 0 && m_owner == self) {
      ++m_depth;
      return PVL_OK;
    }
    m_free.wait(lock, [this] { return m_depth == 0; });
    m_owner = self;
    m_depth = 1;
    return PVL_OK;
  }

  PvlResult Unlock() override {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_depth == 0 || m_owner != std::this_thread::get_id()) return PVL_E_NOTREADY;
    if (--m_depth == 0) {
      m_owner = std::thread::id();
      lock.unlock();
      m_free.notify_one();
    }
    return PVL_OK;
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_free;
  std::thread::id m_owner;
  uint32_t m_depth = 0;
};

class Clock final : public HostObject<IClock> {
 public:
  PvlResult QueryInterface(ZUEUID iid, void** out) override { return AnswerQuery(iid, out, ZUEUID_IFACE_CLOCK); }
  PvlResult GetTime(uint32_t* milliseconds) override {
    if (!milliseconds) return PVL_E_NULLPTR;
    *milliseconds = GetTickCount();
    return PVL_OK;
  }
};

template <class T>
PvlResult Make(void** out) {
  T* object = new (std::nothrow) T;
  if (!object) return PVL_E_OUTOFMEMORY;
  *out = static_cast<typename T::Interface*>(object);
  return PVL_OK;
}

}  // namespace

PvlResult CreateLock(void** out) { return Make<HostLock>(out); }
PvlResult CreateClock(void** out) { return Make<Clock>(out); }

}  // namespace orbhost
