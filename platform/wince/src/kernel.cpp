// Handles, waits, events, mutexes, critical sections and threads.
#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <set>
#include <span>
#include <thread>
#include <vector>

#include "internal.h"

namespace cesim {

std::mutex& KernelLock() {
  static std::mutex* m = new std::mutex;   // never destroyed: threads may outlive statics
  return *m;
}

namespace {

// Handle values count up from here in steps of 4 and are never reused, so a closed
// handle is always recognised.
uintptr_t g_nextHandle = 0x00010000u;
std::map<uintptr_t, std::shared_ptr<KObject>>& Table() {
  static auto* t = new std::map<uintptr_t, std::shared_ptr<KObject>>;
  return *t;
}

const uintptr_t kCurrentThread = 0xFFFFFFFEu;

}  // namespace

HANDLE AddHandleLocked(std::shared_ptr<KObject> obj) {
  uintptr_t v = g_nextHandle;
  g_nextHandle += 4;
  if (g_nextHandle >= 0x7FFF0000u) g_nextHandle = 0x00010000u;
  Table()[v] = std::move(obj);
  return reinterpret_cast<HANDLE>(v);
}

HANDLE AddHandle(std::shared_ptr<KObject> obj) {
  std::lock_guard<std::mutex> lk(KernelLock());
  return AddHandleLocked(std::move(obj));
}

std::shared_ptr<KObject> FindHandleLocked(HANDLE h) {
  auto it = Table().find(reinterpret_cast<uintptr_t>(h));
  return it == Table().end() ? nullptr : it->second;
}

std::shared_ptr<KObject> FindHandle(HANDLE h) {
  std::lock_guard<std::mutex> lk(KernelLock());
  return FindHandleLocked(h);
}

std::shared_ptr<KObject> RemoveHandleLocked(HANDLE h) {
  auto it = Table().find(reinterpret_cast<uintptr_t>(h));
  if (it == Table().end()) return nullptr;
  auto obj = std::move(it->second);
  Table().erase(it);
  return obj;
}

// ---------------------------------------------------------------------------
// Events and mutexes share one name space.
// ---------------------------------------------------------------------------
struct EventObj : KObject {
  EventObj(bool manual, bool initial) : KObject(Kind::Event), manualReset(manual), state(initial) {}
  bool manualReset;
  bool state;
  int pulseCredits = 0;   // waiters a pulse still releases
  bool Waitable() const override { return true; }
  bool Signaled() const override { return state || pulseCredits > 0; }
  void Acquire() override {
    if (!state && pulseCredits > 0) --pulseCredits;
    else if (!manualReset) state = false;
  }
  void WaitLeft() override {
    if (pulseCredits > waiters) pulseCredits = waiters;
  }
};

struct MutexObj : KObject {
  MutexObj() : KObject(Kind::Mutex) {}
  DWORD owner = 0;
  DWORD count = 0;
  bool Waitable() const override { return true; }
  bool Signaled() const override { return owner == 0 || owner == GetCurrentThreadId(); }
  void Acquire() override {
    owner = GetCurrentThreadId();
    ++count;
  }
};

namespace {

std::map<std::u16string, std::weak_ptr<KObject>>& Names() {
  static auto* n = new std::map<std::u16string, std::weak_ptr<KObject>>;
  return *n;
}

// Looks up a named object; under the kernel lock.
std::shared_ptr<KObject> FindNamedLocked(const std::u16string& key) {
  auto it = Names().find(key);
  if (it == Names().end()) return nullptr;
  auto obj = it->second.lock();
  if (!obj) Names().erase(it);
  return obj;
}

}  // namespace

std::shared_ptr<EventObj> FindEvent(HANDLE h) { return FindAs<EventObj>(h, Kind::Event); }

void SetEventObjLocked(EventObj& e) {
  e.state = true;
  e.Changed();
}

// ---------------------------------------------------------------------------
// Threads
// ---------------------------------------------------------------------------
struct ThreadObj : KObject {
  ThreadObj() : KObject(Kind::Thread) {}
  DWORD id = 0;
  DWORD suspendCount = 0;
  bool started = false;    // the routine has been let run
  bool ended = false;      // signalled: the routine returned or the thread was given up
  bool terminated = false;
  DWORD exitCode = STILL_ACTIVE;
  int priority = CE_THREAD_PRIO_256_NORMAL;
  DWORD serial = 0;        // order of creation (CeSimThreadMark)
  bool Waitable() const override { return true; }
  bool Signaled() const override { return ended; }
};

namespace {

std::atomic<DWORD> g_liveThreads{0};
// Serials of the threads still running their routine (under the kernel lock).
DWORD g_lastThreadSerial = 0;
std::set<DWORD>& LiveSerials() {
  static std::set<DWORD>* s = new std::set<DWORD>;
  return *s;
}
thread_local std::shared_ptr<ThreadObj> t_self;

// The record of the calling thread; threads not made by CreateThread get one on demand.
std::shared_ptr<ThreadObj> SelfLocked() {
  if (!t_self) {
    t_self = std::make_shared<ThreadObj>();
    t_self->id = GetCurrentThreadId();
    t_self->started = true;
  }
  return t_self;
}

std::shared_ptr<ThreadObj> ThreadFromHandleLocked(HANDLE h) {
  if (reinterpret_cast<uintptr_t>(h) == kCurrentThread) return SelfLocked();
  return FindAsLocked<ThreadObj>(h, Kind::Thread);
}

}  // namespace

}  // namespace cesim

using namespace cesim;

extern "C" {

HANDLE GetCurrentThread(void) { return reinterpret_cast<HANDLE>(kCurrentThread); }

BOOL CloseHandle(HANDLE object) {
  std::shared_ptr<KObject> obj;
  {
    std::lock_guard<std::mutex> lk(KernelLock());
    obj = FindHandleLocked(object);
    if (!obj) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    if (obj->kind != Kind::File && obj->kind != Kind::Device) {
      RemoveHandleLocked(object);
      obj->Closed();
      obj->Changed();
      return TRUE;
    }
  }
  // Files and devices close outside the kernel lock: a device's close may call back in.
  return CloseFileLike(object, obj);
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
  return WaitForMultipleObjects(1, &object, FALSE, milliseconds);
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL waitAll, DWORD milliseconds) {
  if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || objects == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
  }
  std::unique_lock<std::mutex> lk(KernelLock());
  std::vector<std::shared_ptr<KObject>> objs;
  for (DWORD i = 0; i < count; ++i) {
    std::shared_ptr<KObject> o = reinterpret_cast<uintptr_t>(objects[i]) == kCurrentThread
                                     ? std::static_pointer_cast<KObject>(SelfLocked())
                                     : FindHandleLocked(objects[i]);
    if (!o || !o->Waitable()) {
      SetLastError(ERROR_INVALID_HANDLE);
      return WAIT_FAILED;
    }
    objs.push_back(std::move(o));
  }
  DWORD which = 0;
  auto ready = [&] {
    if (waitAll) {
      for (auto& o : objs)
        if (!o->Signaled()) return false;
      return true;
    }
    for (DWORD i = 0; i < count; ++i) {
      if (objs[i]->Signaled()) {
        which = i;
        return true;
      }
    }
    return false;
  };
  WakeList* lists[MAXIMUM_WAIT_OBJECTS];
  for (DWORD i = 0; i < count; ++i) {
    ++objs[i]->waiters;
    lists[i] = &objs[i]->Wakes();
  }
  bool ok = WaitLocked(lk, milliseconds, std::span<WakeList*>(lists, count), ready);
  // Take what the wait was granted before leaving the waiter counts: a pulse's credits
  // are trimmed to the threads still waiting, and this one is no longer among them.
  if (ok) {
    if (waitAll) {
      for (auto& o : objs) o->Acquire();
    } else {
      objs[which]->Acquire();
    }
  }
  for (auto& o : objs) {
    --o->waiters;
    o->WaitLeft();
  }
  // A granted wait only takes from its objects (an auto-reset event resets, a mutex
  // gets an owner, a pulse's credit is spent): nothing another waiter waits for appears.
  if (!ok) return WAIT_TIMEOUT;
  return waitAll ? WAIT_OBJECT_0 : WAIT_OBJECT_0 + which;
}

DWORD CeSimWaitingThreads(HANDLE object) {
  std::lock_guard<std::mutex> lk(KernelLock());
  auto o = FindHandleLocked(object);
  return o ? static_cast<DWORD>(o->waiters) : 0;
}

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCWSTR name) {
  std::lock_guard<std::mutex> lk(KernelLock());
  if (name != nullptr && name[0] != 0) {
    if (wcslen(name) >= MAX_PATH) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    std::u16string key = LowerCase(name);
    if (auto existing = FindNamedLocked(key)) {
      if (existing->kind != Kind::Event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
      }
      HANDLE h = AddHandleLocked(existing);
      SetLastError(ERROR_ALREADY_EXISTS);
      return h;
    }
    auto e = std::make_shared<EventObj>(manualReset != FALSE, initialState != FALSE);
    Names()[key] = e;
    SetLastError(ERROR_SUCCESS);
    return AddHandleLocked(e);
  }
  SetLastError(ERROR_SUCCESS);
  return AddHandleLocked(std::make_shared<EventObj>(manualReset != FALSE, initialState != FALSE));
}

BOOL EventModify(HANDLE event, DWORD function) {
  std::lock_guard<std::mutex> lk(KernelLock());
  auto e = FindAsLocked<EventObj>(event, Kind::Event);
  if (!e) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  switch (function) {
    case EVENT_SET:
      e->state = true;
      break;
    case EVENT_RESET:
      e->state = false;
      break;
    case EVENT_PULSE:
      // Releases the threads waiting now (one of them for an auto-reset event) and
      // leaves the event reset.
      e->state = false;
      e->pulseCredits = e->manualReset ? e->waiters : (e->waiters > 0 ? 1 : 0);
      break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
  }
  e->Changed();
  return TRUE;
}

HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL initialOwner, LPCWSTR name) {
  std::lock_guard<std::mutex> lk(KernelLock());
  std::shared_ptr<MutexObj> m;
  if (name != nullptr && name[0] != 0) {
    std::u16string key = LowerCase(name);
    if (auto existing = FindNamedLocked(key)) {
      if (existing->kind != Kind::Mutex) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
      }
      HANDLE h = AddHandleLocked(existing);
      SetLastError(ERROR_ALREADY_EXISTS);
      return h;
    }
    m = std::make_shared<MutexObj>();
    Names()[key] = m;
  } else {
    m = std::make_shared<MutexObj>();
  }
  if (initialOwner) m->Acquire();
  SetLastError(ERROR_SUCCESS);
  return AddHandleLocked(m);
}

BOOL ReleaseMutex(HANDLE mutex) {
  std::lock_guard<std::mutex> lk(KernelLock());
  auto m = FindAsLocked<MutexObj>(mutex, Kind::Mutex);
  if (!m) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (m->owner != GetCurrentThreadId() || m->count == 0) {
    SetLastError(ERROR_NOT_OWNER);
    return FALSE;
  }
  if (--m->count == 0) m->owner = 0;
  m->Changed();
  return TRUE;
}

// ---------------------------------------------------------------------------
// Critical sections
// ---------------------------------------------------------------------------
void InitializeCriticalSection(LPCRITICAL_SECTION cs) {
  if (cs == nullptr) return;
  cs->impl = new std::recursive_mutex;
  cs->OwnerThread = 0;
  cs->LockCount = 0;
}

void DeleteCriticalSection(LPCRITICAL_SECTION cs) {
  if (cs == nullptr || cs->impl == nullptr) return;
  delete static_cast<std::recursive_mutex*>(cs->impl);
  cs->impl = nullptr;
  cs->OwnerThread = 0;
  cs->LockCount = 0;
}

void EnterCriticalSection(LPCRITICAL_SECTION cs) {
  if (cs == nullptr || cs->impl == nullptr) {
    NKDbgPrintfW(u"EnterCriticalSection: uninitialised critical section %p\r\n", cs);
    return;
  }
  static_cast<std::recursive_mutex*>(cs->impl)->lock();
  cs->OwnerThread = GetCurrentThreadId();
  ++cs->LockCount;
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs) {
  if (cs == nullptr || cs->impl == nullptr) return FALSE;
  if (!static_cast<std::recursive_mutex*>(cs->impl)->try_lock()) return FALSE;
  cs->OwnerThread = GetCurrentThreadId();
  ++cs->LockCount;
  return TRUE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION cs) {
  if (cs == nullptr || cs->impl == nullptr) return;
  if (cs->OwnerThread != GetCurrentThreadId() || cs->LockCount == 0) {
    NKDbgPrintfW(u"LeaveCriticalSection: %p is not held by this thread\r\n", cs);
    return;
  }
  if (--cs->LockCount == 0) cs->OwnerThread = 0;
  static_cast<std::recursive_mutex*>(cs->impl)->unlock();
}

// ---------------------------------------------------------------------------
// Threads
// ---------------------------------------------------------------------------
HANDLE CreateThread(LPSECURITY_ATTRIBUTES, DWORD /*stackSize*/, LPTHREAD_START_ROUTINE start, LPVOID parameter,
                    DWORD flags, LPDWORD threadId) {
  if (start == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto t = std::make_shared<ThreadObj>();
  t->suspendCount = (flags & CREATE_SUSPENDED) ? 1 : 0;
  HANDLE h;
  {
    std::lock_guard<std::mutex> lk(KernelLock());
    h = AddHandleLocked(t);
    t->serial = ++g_lastThreadSerial;
    LiveSerials().insert(t->serial);
  }
  ++g_liveThreads;
  try {
    std::thread th([t, start, parameter] {
      {
        std::unique_lock<std::mutex> lk(KernelLock());
        t->id = GetCurrentThreadId();
        t_self = t;
        t->Changed();   // the creator waits for the id
        WaitLocked(lk, INFINITE, t->Wakes(), [&] { return t->suspendCount == 0 || t->ended; });
        if (t->ended) {   // given up before it ever ran
          LiveSerials().erase(t->serial);
          --g_liveThreads;
          lk.unlock();
          t_self.reset();
          return;
        }
        t->started = true;
      }
      DWORD code = start(parameter);
      {
        std::lock_guard<std::mutex> lk(KernelLock());
        if (!t->ended) {
          t->exitCode = code;
          t->ended = true;
        }
        // Counted out before anyone can see the handle signalled.
        LiveSerials().erase(t->serial);
        --g_liveThreads;
        t->Changed();
      }
      t_self.reset();
    });
    th.detach();
  } catch (const std::system_error&) {
    --g_liveThreads;
    std::lock_guard<std::mutex> lk(KernelLock());
    LiveSerials().erase(t->serial);
    RemoveHandleLocked(h);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  DWORD id;
  {
    std::unique_lock<std::mutex> lk(KernelLock());
    WaitLocked(lk, INFINITE, t->Wakes(), [&] { return t->id != 0; });
    id = t->id;
  }
  if (threadId) *threadId = id;
  return h;
}

DWORD ResumeThread(HANDLE thread) {
  std::lock_guard<std::mutex> lk(KernelLock());
  auto t = ThreadFromHandleLocked(thread);
  if (!t) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0xFFFFFFFFu;
  }
  DWORD previous = t->suspendCount;
  if (t->suspendCount > 0) --t->suspendCount;
  t->Changed();
  return previous;
}

DWORD SuspendThread(HANDLE thread) {
  std::lock_guard<std::mutex> lk(KernelLock());
  auto t = ThreadFromHandleLocked(thread);
  if (!t) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0xFFFFFFFFu;
  }
  if (t->started) {
    // A running thread cannot be stopped at an arbitrary point here.
    SetLastError(ERROR_NOT_SUPPORTED);
    return 0xFFFFFFFFu;
  }
  return t->suspendCount++;
}

BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode) {
  std::lock_guard<std::mutex> lk(KernelLock());
  auto t = ThreadFromHandleLocked(thread);
  if (!t) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (exitCode == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *exitCode = t->ended ? t->exitCode : STILL_ACTIVE;
  return TRUE;
}

BOOL TerminateThread(HANDLE thread, DWORD exitCode) {
  DWORD id;
  bool running;
  {
    std::lock_guard<std::mutex> lk(KernelLock());
    auto t = ThreadFromHandleLocked(thread);
    if (!t) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    if (t->ended) return TRUE;
    id = t->id;
    running = t->started;
    t->ended = true;
    t->terminated = true;
    t->exitCode = exitCode;
    t->Changed();
  }
  if (running) {
    NKDbgPrintfW(u"*** TerminateThread(thread %u, code %u): threads cannot be killed safely; the thread is "
                 u"detached and left running, its handle reports it ended ***\r\n",
                 id, exitCode);
  }
  return TRUE;
}

namespace {

// The phone never lets normal work preempt a thread in the real-time band (below
// 248): the torch's pulse program, timed in microseconds, relies on it. A thread's
// own priority is honoured here with real-time scheduling where the process may
// have it (best effort: otherwise it keeps the normal policy); another thread's is
// only recorded.
constexpr int kFirstNormalPriority = 248;

void ScheduleSelfAs(int priority) {
  sched_param p{};
  if (priority < kFirstNormalPriority) {
    p.sched_priority = 1;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &p);
  } else {
    pthread_setschedparam(pthread_self(), SCHED_OTHER, &p);
  }
}

}  // namespace

BOOL CeSetThreadPriority(HANDLE thread, int priority) {
  if (priority < 0 || priority > 255) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  bool self;
  {
    std::lock_guard<std::mutex> lk(KernelLock());
    auto t = ThreadFromHandleLocked(thread);
    if (!t) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    t->priority = priority;
    self = t == SelfLocked();
  }
  if (self) ScheduleSelfAs(priority);
  return TRUE;
}

int CeGetThreadPriority(HANDLE thread) {
  std::lock_guard<std::mutex> lk(KernelLock());
  auto t = ThreadFromHandleLocked(thread);
  if (!t) {
    SetLastError(ERROR_INVALID_HANDLE);
    return THREAD_PRIORITY_ERROR_RETURN;
  }
  return t->priority;
}

BOOL SetThreadPriority(HANDLE thread, int priority) {
  if (priority < THREAD_PRIORITY_TIME_CRITICAL || priority > THREAD_PRIORITY_IDLE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return CeSetThreadPriority(thread, 248 + priority);
}

int GetThreadPriority(HANDLE thread) {
  int p = CeGetThreadPriority(thread);
  if (p == THREAD_PRIORITY_ERROR_RETURN) return p;
  return p >= 248 ? p - 248 : THREAD_PRIORITY_TIME_CRITICAL;
}

void Sleep(DWORD milliseconds) {
  if (milliseconds == 0) {
    std::this_thread::yield();
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

BOOL DisableThreadLibraryCalls(HMODULE) { return TRUE; }

DWORD CeSimLiveThreadCount(void) { return g_liveThreads.load(); }

DWORD CeSimThreadMark(void) {
  std::lock_guard<std::mutex> lk(KernelLock());
  return g_lastThreadSerial;
}

DWORD CeSimLiveThreadsSince(DWORD mark) {
  std::lock_guard<std::mutex> lk(KernelLock());
  const std::set<DWORD>& live = LiveSerials();
  return DWORD(std::distance(live.upper_bound(mark), live.end()));
}

}  // extern "C"
