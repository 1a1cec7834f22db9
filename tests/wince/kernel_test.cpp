// Threads, events, waits, mutexes and critical sections.
#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>

#include <atomic>

#include "wince.h"
#include "wince_sim.h"

namespace {

constexpr DWORD kLong = 10000;   // generous: a wait that should succeed at once

HANDLE const kBogus = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7000));

TEST(Events, AutoResetReleasesOneWaitAndManualResetStaysSet) {
  HANDLE autoEv = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE manual = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(autoEv, nullptr);
  ASSERT_NE(manual, nullptr);
  EXPECT_EQ(WaitForSingleObject(autoEv, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(SetEvent(autoEv));
  EXPECT_EQ(WaitForSingleObject(autoEv, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(autoEv, 0), WAIT_TIMEOUT);   // consumed

  EXPECT_TRUE(EventModify(manual, EVENT_SET));
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(EventModify(manual, EVENT_RESET));
  EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(CloseHandle(autoEv));
  EXPECT_TRUE(CloseHandle(manual));
}

TEST(Events, SameNameIsTheSameEvent) {
  HANDLE a = CreateEventW(nullptr, FALSE, FALSE, u"ShutterSoundNotifyEvent");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  HANDLE b = CreateEventW(nullptr, TRUE, TRUE, u"shuttersoundnotifyevent");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_NE(a, b);
  // The first creation's settings hold: not signalled, auto-reset.
  EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_TIMEOUT);
  SetEvent(a);
  EXPECT_EQ(WaitForSingleObject(b, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(a, 0), WAIT_TIMEOUT);
  CloseHandle(a);
  CloseHandle(b);
  // With every handle closed the name is free again.
  HANDLE c = CreateEventW(nullptr, TRUE, TRUE, u"ShutterSoundNotifyEvent");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(WaitForSingleObject(c, 0), WAIT_OBJECT_0);
  CloseHandle(c);
}

TEST(Events, WaitWakesWhenAnotherThreadSets) {
  HANDLE ev = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE th = CreateThread(
      nullptr, 0, [](LPVOID p) -> DWORD { return SetEvent(static_cast<HANDLE>(p)) ? 0 : 1; }, ev, 0, nullptr);
  ASSERT_NE(th, nullptr);
  EXPECT_EQ(WaitForSingleObject(ev, kLong), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(th, kLong), WAIT_OBJECT_0);
  CloseHandle(th);
  CloseHandle(ev);
}

// Waits up to kLong for `count` threads to block on `h`.
bool WaitersReach(HANDLE h, DWORD count) {
  for (DWORD start = GetTickCount(); GetTickCount() - start < kLong; Sleep(1))
    if (CeSimWaitingThreads(h) == count) return true;
  return false;
}

DWORD WaitOnEvent(LPVOID p) { return WaitForSingleObject(static_cast<HANDLE>(p), kLong); }

TEST(Events, PulseReleasesTheThreadsWaitingAtThatMoment) {
  struct Case {
    const char* what;
    BOOL manualReset;
    DWORD released;   // of the two waiters
  } cases[] = {{"manual reset: every waiter", TRUE, 2}, {"auto reset: one waiter", FALSE, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    HANDLE ev = CreateEventW(nullptr, c.manualReset, FALSE, nullptr);
    EXPECT_TRUE(PulseEvent(ev));   // nobody waits: nothing is kept
    EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT);
    HANDLE th[2];
    for (auto& t : th) t = CreateThread(nullptr, 0, WaitOnEvent, ev, 0, nullptr);
    ASSERT_TRUE(WaitersReach(ev, 2));
    EXPECT_TRUE(PulseEvent(ev));
    if (c.released == 2) {
      ASSERT_EQ(WaitForMultipleObjects(2, th, TRUE, kLong), WAIT_OBJECT_0);
    } else {
      DWORD w = WaitForMultipleObjects(2, th, FALSE, kLong);
      ASSERT_LT(w, 2u);
      // The other thread stays blocked until the event is set.
      EXPECT_TRUE(WaitersReach(ev, 1));
      EXPECT_EQ(WaitForSingleObject(th[1 - w], 0), WAIT_TIMEOUT);
    }
    // The pulse leaves the event reset.
    EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT);
    SetEvent(ev);
    EXPECT_EQ(WaitForMultipleObjects(2, th, TRUE, kLong), WAIT_OBJECT_0);
    for (HANDLE t : th) {
      DWORD code = 1;
      EXPECT_TRUE(GetExitCodeThread(t, &code));
      EXPECT_EQ(code, WAIT_OBJECT_0);   // no waiter timed out
    }
    for (HANDLE t : th) CloseHandle(t);
    CloseHandle(ev);
  }
}

TEST(Waits, TimeOutAfterTheGivenTime) {
  HANDLE ev = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  DWORD before = GetTickCount();
  EXPECT_EQ(WaitForSingleObject(ev, 50), WAIT_TIMEOUT);
  EXPECT_GE(GetTickCount() - before, 45u);
  CloseHandle(ev);
}

TEST(Waits, MultipleObjectsAnyAndAll) {
  HANDLE a = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE b = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  HANDLE both[] = {a, b};
  EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0 + 1);
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_TIMEOUT);
  SetEvent(a);
  EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_OBJECT_0);
  CloseHandle(a);
  CloseHandle(b);
}

// Each of two waiters on one object; it tells `got` once its wait is granted and, for a
// mutex, holds it until `proceed`.
struct OneOfTwo {
  HANDLE object;
  bool mutex;
  HANDLE proceed;
  HANDLE got[2];
};

template <int kIndex>
DWORD WaitAsOneOfTwo(LPVOID p) {
  auto* o = static_cast<OneOfTwo*>(p);
  DWORD w = WaitForSingleObject(o->object, kLong);
  if (w != WAIT_OBJECT_0) return w;
  SetEvent(o->got[kIndex]);
  if (o->mutex) {
    WaitForSingleObject(o->proceed, kLong);
    if (!ReleaseMutex(o->object)) return 100;
  }
  return w;
}

TEST(Waits, OneSignalReleasesExactlyOneOfTwoWaiters) {
  struct Case {
    const char* what;
    bool mutex;
  } cases[] = {{"auto-reset event set once", false}, {"mutex released by its owner", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    OneOfTwo o{c.mutex ? CreateMutexW(nullptr, TRUE, nullptr) : CreateEventW(nullptr, FALSE, FALSE, nullptr), c.mutex,
               CreateEventW(nullptr, TRUE, FALSE, nullptr),
               {CreateEventW(nullptr, TRUE, FALSE, nullptr), CreateEventW(nullptr, TRUE, FALSE, nullptr)}};
    HANDLE th[2] = {CreateThread(nullptr, 0, WaitAsOneOfTwo<0>, &o, 0, nullptr),
                    CreateThread(nullptr, 0, WaitAsOneOfTwo<1>, &o, 0, nullptr)};
    ASSERT_TRUE(WaitersReach(o.object, 2));
    if (c.mutex) EXPECT_TRUE(ReleaseMutex(o.object));
    else EXPECT_TRUE(SetEvent(o.object));
    DWORD first = WaitForMultipleObjects(2, o.got, FALSE, kLong);
    ASSERT_LT(first, 2u);
    // The other stays blocked: the signal was taken.
    EXPECT_TRUE(WaitersReach(o.object, 1));
    EXPECT_EQ(WaitForSingleObject(o.got[1 - first], 0), WAIT_TIMEOUT);
    if (c.mutex) SetEvent(o.proceed);   // the first releases it to the second
    else SetEvent(o.object);
    EXPECT_EQ(WaitForMultipleObjects(2, th, TRUE, kLong), WAIT_OBJECT_0);
    for (HANDLE t : th) {
      DWORD code = 1;
      EXPECT_TRUE(GetExitCodeThread(t, &code));
      EXPECT_EQ(code, WAIT_OBJECT_0);
    }
    if (c.mutex) {
      EXPECT_EQ(WaitForSingleObject(o.object, 0), WAIT_OBJECT_0) << "free again";
      EXPECT_TRUE(ReleaseMutex(o.object));
    } else {
      EXPECT_EQ(WaitForSingleObject(o.object, 0), WAIT_TIMEOUT) << "nothing kept";
    }
    for (HANDLE h : {th[0], th[1], o.object, o.proceed, o.got[0], o.got[1]}) CloseHandle(h);
  }
}

// A wait for all objects takes none of them until every one is signalled at once, however
// their signals come.
TEST(Waits, WaitAllTakesNothingUntilEveryObjectIsSignalled) {
  static HANDLE both[2];
  for (auto& h : both) h = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE th = CreateThread(
      nullptr, 0, [](LPVOID) -> DWORD { return WaitForMultipleObjects(2, both, TRUE, kLong); }, nullptr, 0, nullptr);
  ASSERT_TRUE(WaitersReach(both[1], 1));
  SetEvent(both[0]);
  // Still there for anyone else: the waiting thread may not take it alone.
  EXPECT_EQ(WaitForSingleObject(both[0], 0), WAIT_OBJECT_0);
  SetEvent(both[1]);
  EXPECT_EQ(WaitForSingleObject(th, 0), WAIT_TIMEOUT);
  EXPECT_EQ(CeSimWaitingThreads(both[0]), 1u);
  SetEvent(both[0]);
  ASSERT_EQ(WaitForSingleObject(th, kLong), WAIT_OBJECT_0);
  DWORD code = 1;
  EXPECT_TRUE(GetExitCodeThread(th, &code));
  EXPECT_EQ(code, WAIT_OBJECT_0);
  for (HANDLE h : both) {
    EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_TIMEOUT) << "both taken";
    EXPECT_EQ(CeSimWaitingThreads(h), 0u);
  }
  CloseHandle(th);
  for (HANDLE h : both) CloseHandle(h);
}

// Changes of other objects, with threads waiting on them, neither end a wait nor keep it
// from running out.
TEST(Waits, ATimeOutRunsOutWhileOtherObjectsChange) {
  static HANDLE quiet, busy, never;
  quiet = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  busy = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE busyWaiter = CreateThread(
      nullptr, 0,
      [](LPVOID) -> DWORD {
        HANDLE h[] = {busy, never};
        return WaitForMultipleObjects(2, h, TRUE, INFINITE);
      },
      nullptr, 0, nullptr);
  ASSERT_TRUE(WaitersReach(busy, 1));
  HANDLE quietWaiter = CreateThread(
      nullptr, 0, [](LPVOID) -> DWORD { return WaitForSingleObject(quiet, 50); }, nullptr, 0, nullptr);
  DWORD changes = 0;
  for (DWORD start = GetTickCount(); WaitForSingleObject(quietWaiter, 0) == WAIT_TIMEOUT && GetTickCount() - start < kLong;
       ++changes) {
    SetEvent(busy);
    ResetEvent(busy);
  }
  ASSERT_EQ(WaitForSingleObject(quietWaiter, 0), WAIT_OBJECT_0) << "the time-out never ran out";
  EXPECT_GT(changes, 0u);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(quietWaiter, &code));
  EXPECT_EQ(code, static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(CeSimWaitingThreads(quiet), 0u);
  EXPECT_EQ(WaitForSingleObject(busyWaiter, 0), WAIT_TIMEOUT);
  SetEvent(never);
  SetEvent(busy);
  ASSERT_EQ(WaitForSingleObject(busyWaiter, kLong), WAIT_OBJECT_0);
  EXPECT_TRUE(GetExitCodeThread(busyWaiter, &code));
  EXPECT_EQ(code, WAIT_OBJECT_0);
  for (HANDLE h : {busyWaiter, quietWaiter, quiet, busy, never}) CloseHandle(h);
}

// The handle a thread waits through may be closed: the wait goes on, on the object.
TEST(Handles, ClosingTheHandleAWaitUsesLeavesTheWaitOnTheObject) {
  static HANDLE through;
  through = CreateEventW(nullptr, FALSE, FALSE, u"WaitedThroughEvent");
  HANDLE other = CreateEventW(nullptr, FALSE, FALSE, u"WaitedThroughEvent");
  HANDLE th = CreateThread(
      nullptr, 0, [](LPVOID) -> DWORD { return WaitForSingleObject(through, kLong); }, nullptr, 0, nullptr);
  ASSERT_TRUE(WaitersReach(other, 1));
  EXPECT_TRUE(CloseHandle(through));
  EXPECT_EQ(WaitForSingleObject(th, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(SetEvent(other));
  ASSERT_EQ(WaitForSingleObject(th, kLong), WAIT_OBJECT_0);
  DWORD code = 1;
  EXPECT_TRUE(GetExitCodeThread(th, &code));
  EXPECT_EQ(code, WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(other, 0), WAIT_TIMEOUT) << "taken by the waiter";
  CloseHandle(th);
  CloseHandle(other);
}

TEST(Handles, BadHandlesFailWithInvalidHandle) {
  HANDLE ev = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  ASSERT_TRUE(CloseHandle(ev));
  struct Case {
    const char* what;
    HANDLE h;
  } cases[] = {{"null", nullptr}, {"closed", ev}, {"never issued", kBogus}, {"invalid value", INVALID_HANDLE_VALUE}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SetLastError(0);
    EXPECT_EQ(WaitForSingleObject(c.h, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SetLastError(0);
    EXPECT_FALSE(SetEvent(c.h));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(c.h));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    DWORD code = 0;
    EXPECT_FALSE(GetExitCodeThread(c.h, &code));
    EXPECT_EQ(ResumeThread(c.h), 0xFFFFFFFFu);
  }
  // A handle of the wrong kind.
  HANDLE mutex = CreateMutexW(nullptr, FALSE, nullptr);
  SetLastError(0);
  EXPECT_FALSE(SetEvent(mutex));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  CloseHandle(mutex);
}

TEST(LastError, IsPerThread) {
  SetLastError(1234);
  HANDLE th = CreateThread(
      nullptr, 0,
      [](LPVOID) -> DWORD {
        DWORD seen = GetLastError();
        SetLastError(99);
        return seen;
      },
      nullptr, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(th, kLong), WAIT_OBJECT_0);
  DWORD code = 1;
  EXPECT_TRUE(GetExitCodeThread(th, &code));
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(GetLastError(), 1234u);
  CloseHandle(th);
}

struct Gate {
  HANDLE started;
  HANDLE release;
};

DWORD GatedThread(LPVOID p) {
  auto* g = static_cast<Gate*>(p);
  SetEvent(g->started);
  WaitForSingleObject(g->release, INFINITE);
  return 42;
}

TEST(Threads, SuspendedStartResumeCountsAndExitCode) {
  Gate g{CreateEventW(nullptr, FALSE, FALSE, nullptr), CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  DWORD id = 0;
  HANDLE th = CreateThread(nullptr, 0, GatedThread, &g, CREATE_SUSPENDED, &id);
  ASSERT_NE(th, nullptr);
  EXPECT_NE(id, 0u);
  EXPECT_EQ(SuspendThread(th), 1u);   // not yet running: counts up
  EXPECT_EQ(WaitForSingleObject(g.started, 30), WAIT_TIMEOUT);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(th, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  EXPECT_EQ(ResumeThread(th), 2u);
  EXPECT_EQ(WaitForSingleObject(g.started, 30), WAIT_TIMEOUT);
  EXPECT_EQ(ResumeThread(th), 1u);
  EXPECT_EQ(WaitForSingleObject(g.started, kLong), WAIT_OBJECT_0);
  EXPECT_EQ(ResumeThread(th), 0u);   // running: nothing to resume
  EXPECT_EQ(WaitForSingleObject(th, 20), WAIT_TIMEOUT);
  SetEvent(g.release);
  EXPECT_EQ(WaitForSingleObject(th, kLong), WAIT_OBJECT_0);
  EXPECT_TRUE(GetExitCodeThread(th, &code));
  EXPECT_EQ(code, 42u);
  EXPECT_EQ(WaitForSingleObject(th, 0), WAIT_OBJECT_0);   // stays signalled
  CloseHandle(th);
  CloseHandle(g.started);
  CloseHandle(g.release);
}

TEST(Threads, PrioritiesAreRecorded) {
  HANDLE ev = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE th = CreateThread(
      nullptr, 0, [](LPVOID p) -> DWORD { return WaitForSingleObject(static_cast<HANDLE>(p), INFINITE); }, ev,
      CREATE_SUSPENDED, nullptr);
  EXPECT_EQ(CeGetThreadPriority(th), CE_THREAD_PRIO_256_NORMAL);
  EXPECT_TRUE(CeSetThreadPriority(th, 100));
  EXPECT_EQ(CeGetThreadPriority(th), 100);
  EXPECT_FALSE(CeSetThreadPriority(th, 256));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(SetThreadPriority(th, THREAD_PRIORITY_HIGHEST));
  EXPECT_EQ(GetThreadPriority(th), THREAD_PRIORITY_HIGHEST);
  EXPECT_EQ(CeGetThreadPriority(th), 249);
  EXPECT_TRUE(CeSetThreadPriority(GetCurrentThread(), 130));
  EXPECT_EQ(CeGetThreadPriority(GetCurrentThread()), 130);
  ResumeThread(th);
  SetEvent(ev);
  EXPECT_EQ(WaitForSingleObject(th, kLong), WAIT_OBJECT_0);
  CloseHandle(th);
  CloseHandle(ev);
}

// A thread's own priority in the real-time band runs it with real-time scheduling,
// as the phone would not preempt it for normal work; back in the normal band it is
// scheduled normally again. Another thread's priority is only recorded.
TEST(Threads, AThreadsOwnRealTimePriorityIsScheduledAsRealTime) {
  struct Seen {
    int realTime = -1, normal = -1, afterOther = -1;
    bool permitted = true;
  } seen;
  HANDLE th = CreateThread(
      nullptr, 0,
      [](LPVOID p) -> DWORD {
        Seen& s = *static_cast<Seen*>(p);
        sched_param probe{};
        probe.sched_priority = 1;
        if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &probe) != 0) {
          s.permitted = false;
          return 0;
        }
        probe.sched_priority = 0;
        pthread_setschedparam(pthread_self(), SCHED_OTHER, &probe);
        CeSetThreadPriority(GetCurrentThread(), 100);
        s.realTime = sched_getscheduler(0);
        CeSetThreadPriority(GetCurrentThread(), CE_THREAD_PRIO_256_NORMAL);
        s.normal = sched_getscheduler(0);
        HANDLE other = CreateThread(
            nullptr, 0, [](LPVOID) -> DWORD { return 0; }, nullptr, CREATE_SUSPENDED, nullptr);
        CeSetThreadPriority(other, 100);
        s.afterOther = sched_getscheduler(0);
        ResumeThread(other);
        WaitForSingleObject(other, INFINITE);
        CloseHandle(other);
        return 0;
      },
      &seen, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(th, kLong), WAIT_OBJECT_0);
  CloseHandle(th);
  if (!seen.permitted) GTEST_SKIP() << "this process may not use real-time scheduling";
  EXPECT_EQ(seen.realTime, SCHED_FIFO);
  EXPECT_EQ(seen.normal, SCHED_OTHER);
  EXPECT_EQ(seen.afterOther, SCHED_OTHER);
}

// A thread is counted out by the time its handle is signalled, and a mark counts only
// the threads made after it.
TEST(Threads, LiveCountsAreExactOnceTheHandleIsSignalled) {
  Gate older{CreateEventW(nullptr, FALSE, FALSE, nullptr), CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  HANDLE old = CreateThread(nullptr, 0, GatedThread, &older, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(older.started, kLong), WAIT_OBJECT_0);
  const DWORD mark = CeSimThreadMark();
  EXPECT_EQ(CeSimLiveThreadsSince(mark), 0u);
  Gate g{CreateEventW(nullptr, FALSE, FALSE, nullptr), CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  HANDLE th = CreateThread(nullptr, 0, GatedThread, &g, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(g.started, kLong), WAIT_OBJECT_0);
  EXPECT_EQ(CeSimLiveThreadsSince(mark), 1u);
  const DWORD live = CeSimLiveThreadCount();
  SetEvent(older.release);
  ASSERT_EQ(WaitForSingleObject(old, kLong), WAIT_OBJECT_0);
  EXPECT_EQ(CeSimLiveThreadCount(), live - 1) << "counted out when signalled";
  EXPECT_EQ(CeSimLiveThreadsSince(mark), 1u) << "an older thread's end is not the marked ones'";
  SetEvent(g.release);
  ASSERT_EQ(WaitForSingleObject(th, kLong), WAIT_OBJECT_0);
  EXPECT_EQ(CeSimLiveThreadsSince(mark), 0u);
  for (HANDLE h : {old, th, older.started, older.release, g.started, g.release}) CloseHandle(h);
}

TEST(Threads, TerminateLogsDetachesAndReportsEnded) {
  Gate g{CreateEventW(nullptr, FALSE, FALSE, nullptr), CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  HANDLE th = CreateThread(nullptr, 0, GatedThread, &g, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(g.started, kLong), WAIT_OBJECT_0);
  CeSimDebugCaptureBegin();
  EXPECT_TRUE(TerminateThread(th, 7));
  EXPECT_TRUE(CeSimDebugCapturedContains("TerminateThread"));
  CeSimDebugCaptureEnd();
  EXPECT_EQ(WaitForSingleObject(th, 0), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(th, &code));
  EXPECT_EQ(code, 7u);
  // The detached thread really ends when released; its own return does not change the code.
  const DWORD live = CeSimLiveThreadCount();
  ASSERT_GE(live, 1u);
  SetEvent(g.release);
  for (DWORD start = GetTickCount(); CeSimLiveThreadCount() >= live && GetTickCount() - start < kLong;) Sleep(1);
  EXPECT_EQ(CeSimLiveThreadCount(), live - 1);
  EXPECT_TRUE(GetExitCodeThread(th, &code));
  EXPECT_EQ(code, 7u);
  CloseHandle(th);
  CloseHandle(g.started);
  CloseHandle(g.release);
}

// A thread given up while still suspended never runs its routine, and goes.
TEST(Threads, TerminatedBeforeItRanNeverRunsAndGoes) {
  static std::atomic<bool> ran{false};
  const DWORD mark = CeSimThreadMark();
  HANDLE th = CreateThread(
      nullptr, 0,
      [](LPVOID) -> DWORD {
        ran = true;
        return 0;
      },
      nullptr, CREATE_SUSPENDED, nullptr);
  ASSERT_NE(th, nullptr);
  EXPECT_EQ(CeSimLiveThreadsSince(mark), 1u);
  CeSimDebugCaptureBegin();
  EXPECT_TRUE(TerminateThread(th, 5));
  EXPECT_FALSE(CeSimDebugCapturedContains("TerminateThread")) << "nothing was left running";
  CeSimDebugCaptureEnd();
  EXPECT_EQ(WaitForSingleObject(th, 0), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_TRUE(GetExitCodeThread(th, &code));
  EXPECT_EQ(code, 5u);
  for (DWORD start = GetTickCount(); CeSimLiveThreadsSince(mark) != 0 && GetTickCount() - start < kLong;) Sleep(1);
  EXPECT_EQ(CeSimLiveThreadsSince(mark), 0u);
  EXPECT_FALSE(ran.load());
  CloseHandle(th);
}

TEST(Threads, NullStartRoutineIsRefused) {
  SetLastError(0);
  EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(CriticalSections, AreRecursiveAndExclude) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EXPECT_EQ(cs.LockCount, 2u);
  EXPECT_EQ(cs.OwnerThread, GetCurrentThreadId());
  struct Ctx {
    CRITICAL_SECTION* cs;
    HANDLE tried;
    std::atomic<int> got{0};
  } ctx{&cs, CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  HANDLE th = CreateThread(
      nullptr, 0,
      [](LPVOID p) -> DWORD {
        auto* c = static_cast<Ctx*>(p);
        if (TryEnterCriticalSection(c->cs)) {
          LeaveCriticalSection(c->cs);
          return 1;
        }
        SetEvent(c->tried);
        EnterCriticalSection(c->cs);
        c->got = 1;
        LeaveCriticalSection(c->cs);
        return 0;
      },
      &ctx, 0, nullptr);
  // The other thread's try fails while this one holds the section, however late it runs.
  ASSERT_EQ(WaitForSingleObject(ctx.tried, kLong), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(th, 20), WAIT_TIMEOUT);
  LeaveCriticalSection(&cs);
  EXPECT_EQ(WaitForSingleObject(th, 20), WAIT_TIMEOUT);   // still held once
  LeaveCriticalSection(&cs);
  EXPECT_EQ(WaitForSingleObject(th, kLong), WAIT_OBJECT_0);
  DWORD code = 9;
  GetExitCodeThread(th, &code);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(ctx.got.load(), 1);
  CloseHandle(th);
  CloseHandle(ctx.tried);
  DeleteCriticalSection(&cs);
}

TEST(Mutexes, NamedOwnershipAndRelease) {
  HANDLE a = CreateMutexW(nullptr, TRUE, u"HelloApp");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  HANDLE b = CreateMutexW(nullptr, FALSE, u"HelloApp");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  HANDLE th = CreateThread(
      nullptr, 0,
      [](LPVOID p) -> DWORD {
        HANDLE m = static_cast<HANDLE>(p);
        if (WaitForSingleObject(m, 0) != WAIT_TIMEOUT) return 1;
        if (ReleaseMutex(m) || GetLastError() != ERROR_NOT_OWNER) return 2;
        return 0;
      },
      b, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(th, kLong), WAIT_OBJECT_0);
  DWORD code = 9;
  GetExitCodeThread(th, &code);
  EXPECT_EQ(code, 0u);
  EXPECT_TRUE(ReleaseMutex(a));
  EXPECT_FALSE(ReleaseMutex(a));
  CloseHandle(th);
  CloseHandle(a);
  CloseHandle(b);
}

}  // namespace
