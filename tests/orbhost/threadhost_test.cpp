// The thread host: start, join with the exit signal, restart, refusals.
#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <cstring>
#include <string>

#include "ienv.h"
#include "isignalqueue.h"
#include "ithreadhost.h"
#include "orbhost_test.h"

namespace {

template <class T>
T* Create(ZUEUID clsid) {
  void* out = nullptr;
  EXPECT_EQ(PVL_OK, env_env_GetCurrent()->CreateInstance(clsid, &out));
  return static_cast<T*>(out);
}

struct Body {
  std::atomic<int> runs{0};
  std::string name;
  ISignalQueue* stopQueue = nullptr;  // when set, the body waits for a signal on it
};

uint32_t BodyMain(void* context) {
  auto* body = static_cast<Body*>(context);
  char name[16] = {};
  pthread_getname_np(pthread_self(), name, sizeof name);
  body->name = name;
  if (body->stopQueue) {
    PvlSignalWaitRecord r{};
    body->stopQueue->Wait(&r);
  }
  body->runs++;
  return 1234;
}

TEST(ThreadHost, RunsTheBodyAndFiresTheExitSignalAfterIt) {
  const int32_t live = OrbhostTest_LiveHostObjects();
  IThreadHost* host = Create<IThreadHost>(ZUEUID_CLASS_THREAD);
  ISignalQueue* exitQueue = Create<ISignalQueue>(ZUEUID_CLASS_SIGNAL_QUEUE);
  ISignalQueue* stopQueue = Create<ISignalQueue>(ZUEUID_CLASS_SIGNAL_QUEUE);
  ISignalControl *exitControl = nullptr, *stopControl = nullptr;
  ISignal *exitSignal = nullptr, *stopSignal = nullptr;
  ASSERT_EQ(PVL_OK, exitQueue->CreateSignal(nullptr, 0, &exitControl, &exitSignal));
  ASSERT_EQ(PVL_OK, stopQueue->CreateSignal(nullptr, 0x01061256u, &stopControl, &stopSignal));

  Body body;
  body.stopQueue = stopQueue;
  uint8_t stack[64];
  PvlThreadStartRecord record{4, 0, BodyMain, &body, stack, sizeof stack};
  ASSERT_EQ(PVL_OK, host->Start(&record, "Camera VFE RxThread"));
  EXPECT_EQ(PVL_E_NOTREADY, host->Start(&record, "again"));
  EXPECT_EQ(PVL_E_UNSUPPORTED, host->Suspend(0, 0));
  EXPECT_EQ(PVL_OK, host->Resume(0));
  stopControl->Fire();
  ASSERT_EQ(PVL_OK, host->Join(exitControl));
  EXPECT_EQ(1, body.runs.load());
  EXPECT_EQ("Camera VFE RxT", body.name.substr(0, 14));  // cut to the platform's 15
  PvlSignalWaitRecord r{};
  ASSERT_EQ(PVL_OK, exitQueue->Wait(&r));  // fired when the body returned
  EXPECT_EQ(0u, r.id);
  EXPECT_EQ(PVL_E_NOTREADY, host->Join(nullptr));  // nothing started any more

  for (ISignalControl* c : {exitControl, stopControl}) c->Release();
  for (ISignal* s : {exitSignal, stopSignal}) s->Release();
  exitQueue->Release();
  stopQueue->Release();
  host->Release();
  EXPECT_EQ(live, OrbhostTest_LiveHostObjects());
}

TEST(ThreadHost, StartsAgainAfterEachJoin) {
  IThreadHost* host = Create<IThreadHost>(ZUEUID_CLASS_THREAD);
  Body body;
  PvlThreadStartRecord record{4, 0, BodyMain, &body, nullptr, 8192};
  for (int i = 0; i < 100; ++i) {
    ASSERT_EQ(PVL_OK, host->Start(&record, nullptr));
    ASSERT_EQ(PVL_OK, host->Join(nullptr));
  }
  EXPECT_EQ(100, body.runs.load());
  host->Release();
}

TEST(ThreadHost, RefusesBadStartsAndSurvivesARunningRelease) {
  IThreadHost* host = Create<IThreadHost>(ZUEUID_CLASS_THREAD);
  PvlThreadStartRecord noEntry{4, 0, nullptr, nullptr, nullptr, 8192};
  EXPECT_EQ(PVL_E_NULLPTR, host->Start(nullptr, "x"));
  EXPECT_EQ(PVL_E_NULLPTR, host->Start(&noEntry, "x"));
  EXPECT_EQ(PVL_E_NOTREADY, host->Join(nullptr));
  EXPECT_EQ(PVL_E_UNSUPPORTED, host->PassThrough8(1, 2, 0));
  EXPECT_EQ(PVL_E_UNSUPPORTED, host->PassThrough9(1, 0));
  EXPECT_EQ(PVL_E_UNSUPPORTED, host->PassThrough10(1));
  EXPECT_EQ(PVL_E_UNSUPPORTED, host->PassThrough11(1, 2, 3));

  // Released while its body still runs: the thread is let go and ends by itself.
  ISignalQueue* stopQueue = Create<ISignalQueue>(ZUEUID_CLASS_SIGNAL_QUEUE);
  ISignalControl* stop = nullptr;
  ISignal* stopSignal = nullptr;
  stopQueue->CreateSignal(nullptr, 1, &stop, &stopSignal);
  static Body body;  // outlives the detached thread
  body.stopQueue = stopQueue;
  PvlThreadStartRecord record{4, 0, BodyMain, &body, nullptr, 8192};
  ASSERT_EQ(PVL_OK, host->Start(&record, "detached"));
  host->Release();
  stop->Fire();
  while (body.runs.load() == 0) sched_yield();
  stop->Release();
  stopSignal->Release();
  stopQueue->Release();
}

uint32_t JoinsItself(void* context) {
  auto* host = static_cast<IThreadHost*>(context);
  return host->Join(nullptr) == PVL_E_NOTREADY ? 0 : 1;
}

TEST(ThreadHost, AThreadCannotJoinItself) {
  IThreadHost* host = Create<IThreadHost>(ZUEUID_CLASS_THREAD);
  PvlThreadStartRecord record{4, 0, JoinsItself, host, nullptr, 8192};
  ASSERT_EQ(PVL_OK, host->Start(&record, "self"));
  EXPECT_EQ(PVL_OK, host->Join(nullptr));
  host->Release();
}

}  // namespace
