// CPvlThread over a fake signal queue and thread host.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "cpvlthread.h"
#include "fakehost.h"

using runtime_test::Env;

namespace {

// --- A small signal queue: fire once until re-armed, pending fires kept. ---
struct QueueState {
  std::mutex mutex;
  std::condition_variable cv;
  struct Signal {
    void* context;
    ZUEUID id;
    int state = 0;  // 0 armed, 1 pending, 2 taken
  };
  std::deque<std::shared_ptr<Signal>> pending;
};

template <class Face>
class Counted : public Face {
 public:
  int32_t AddRef() override { return ++refs_; }
  int32_t Release() override {
    const int32_t n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  PvlResult QueryInterface(ZUEUID, void** out) override {
    if (out) *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }
  virtual ~Counted() = default;

 private:
  std::atomic<int32_t> refs_{1};
};

class FakeControl : public Counted<ISignalControl> {
 public:
  FakeControl(std::shared_ptr<QueueState> q, std::shared_ptr<QueueState::Signal> s) : q_(q), s_(s) {}
  PvlResult Fire() override {
    std::lock_guard<std::mutex> lock(q_->mutex);
    if (s_->state == 0) {
      s_->state = 1;
      q_->pending.push_back(s_);
      q_->cv.notify_all();
    }
    return PVL_OK;
  }

 private:
  std::shared_ptr<QueueState> q_;
  std::shared_ptr<QueueState::Signal> s_;
};

class FakeSignal : public Counted<ISignal> {
 public:
  FakeSignal(std::shared_ptr<QueueState> q, std::shared_ptr<QueueState::Signal> s) : q_(q), s_(s) {}
  PvlResult ReArm() override {
    std::lock_guard<std::mutex> lock(q_->mutex);
    if (s_->state == 1) {
      for (auto it = q_->pending.begin(); it != q_->pending.end(); ++it) {
        if (*it == s_) {
          q_->pending.erase(it);
          break;
        }
      }
    }
    s_->state = 0;
    return PVL_OK;
  }

 private:
  std::shared_ptr<QueueState> q_;
  std::shared_ptr<QueueState::Signal> s_;
};

class FakeQueue : public Counted<ISignalQueue> {
 public:
  PvlResult Wait(PvlSignalWaitRecord* record) override {
    if (!record) return PVL_E_NULLPTR;
    std::unique_lock<std::mutex> lock(q_->mutex);
    q_->cv.wait(lock, [&] { return !q_->pending.empty(); });
    auto s = q_->pending.front();
    q_->pending.pop_front();
    s->state = 2;
    record->context = s->context;
    record->id = s->id;
    return PVL_OK;
  }
  PvlResult CreateSignal(void* context, ZUEUID id, ISignalControl** control, ISignal** signal) override {
    if (!control || !signal) return PVL_E_NULLPTR;
    auto s = std::make_shared<QueueState::Signal>();
    s->context = context;
    s->id = id;
    *control = new FakeControl(q_, s);
    *signal = new FakeSignal(q_, s);
    return PVL_OK;
  }
  PvlResult FireRegistered() override { return PVL_OK; }
  PvlResult Reserved6() override { return PVL_E_UNSUPPORTED; }
  PvlResult RegisterControl(ISignalControl*, uint32_t) override { return PVL_E_UNSUPPORTED; }
  PvlResult UnregisterControl(ISignalControl*) override { return PVL_E_UNSUPPORTED; }

 private:
  std::shared_ptr<QueueState> q_ = std::make_shared<QueueState>();
};

// --- A thread host on std::thread, with recorded calls and settable results. ---
struct HostLog {
  std::mutex mutex;
  int starts = 0, suspends = 0, resumes = 0, joins = 0;
  PvlResult startResult = PVL_OK, suspendResult = PVL_OK, resumeResult = PVL_OK;
  uint32_t lastPass[4] = {};
  int lastPassOp = 0;
  void* lastStack = nullptr;
  uint32_t lastStackSize = 0;
};
HostLog* g_host = nullptr;

class FakeThreadHost : public Counted<IThreadHost> {
 public:
  ~FakeThreadHost() override {
    if (thread_.joinable()) thread_.join();
  }
  PvlResult Start(const PvlThreadStartRecord* record, const char*) override {
    std::lock_guard<std::mutex> lock(g_host->mutex);
    ++g_host->starts;
    if (g_host->startResult != PVL_OK) return g_host->startResult;
    g_host->lastStack = record->stack;
    g_host->lastStackSize = record->stackSize;
    PvlThreadEntry entry = record->entry;
    void* context = record->context;
    thread_ = std::thread([entry, context] { entry(context); });
    return PVL_OK;
  }
  PvlResult Suspend(uint32_t, uint32_t) override {
    std::lock_guard<std::mutex> lock(g_host->mutex);
    ++g_host->suspends;
    return g_host->suspendResult;
  }
  PvlResult Resume(uint32_t) override {
    std::lock_guard<std::mutex> lock(g_host->mutex);
    ++g_host->resumes;
    return g_host->resumeResult;
  }
  PvlResult Reserved6() override { return PVL_E_UNSUPPORTED; }
  PvlResult Join(ISignalControl* exitControl) override {
    {
      std::lock_guard<std::mutex> lock(g_host->mutex);
      ++g_host->joins;
    }
    if (thread_.joinable()) thread_.join();
    if (exitControl) exitControl->Fire();
    return PVL_OK;
  }
  PvlResult PassThrough8(uint32_t a, uint32_t b, uint32_t c) override { return Pass(8, a, b, c); }
  PvlResult PassThrough9(uint32_t a, uint32_t b) override { return Pass(9, a, b, 0xEE); }
  PvlResult PassThrough10(uint32_t a) override { return Pass(10, a, 0xEE, 0xEE); }
  PvlResult PassThrough11(uint32_t a, uint32_t b, uint32_t c) override { return Pass(11, a, b, c); }

 private:
  PvlResult Pass(int op, uint32_t a, uint32_t b, uint32_t c) {
    std::lock_guard<std::mutex> lock(g_host->mutex);
    g_host->lastPassOp = op;
    g_host->lastPass[0] = a;
    g_host->lastPass[1] = b;
    g_host->lastPass[2] = c;
    return PVL_OK;
  }
  std::thread thread_;
};

// The body: waits on the thread's queue for the stop signal.
struct Body {
  CPvlThread* thread;
  std::atomic<int> runs{0};
  std::atomic<uint32_t> stopId{0};
};

uint32_t BodyEntry(void* context) {
  Body* body = static_cast<Body*>(context);
  ++body->runs;
  CPvlPtr<ISignalQueue> queue;
  if (body->thread->GetSignalQueue(&queue) != PVL_OK) return 1;
  PvlSignalWaitRecord record = {};
  queue->Wait(&record);
  body->stopId = record.id;
  return 0;
}

class ThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    runtime_test::ResetHost();
    g_host = &log_;
    Env().Register(ZUEUID_CLASS_SIGNAL_QUEUE, [](void** out) {
      *out = static_cast<ISignalQueue*>(new FakeQueue);
      return PVL_OK;
    });
    Env().Register(ZUEUID_CLASS_THREAD, [](void** out) {
      *out = static_cast<IThreadHost*>(new FakeThreadHost);
      return PVL_OK;
    });
    ASSERT_EQ(CPvlThread::Create(&Env(), &thread_), PVL_OK);
    body_.thread = thread_;
    info_.entry = BodyEntry;
    info_.context = &body_;
  }
  void TearDown() override {
    if (thread_) thread_->Release();
    EXPECT_EQ(Env().LiveBlocks(), 0u) << "leaked blocks";
    g_host = nullptr;
  }
  uint32_t State() {
    uint32_t s = 99;
    EXPECT_EQ(thread_->GetState(&s), PVL_OK);
    return s;
  }
  HostLog log_;
  CPvlThread* thread_ = nullptr;
  Body body_;
  CPvlThreadStartInfo info_;
};

TEST_F(ThreadTest, StartStopAndRestart) {
  EXPECT_EQ(State(), PVL_THREAD_CREATED);
  for (int run = 1; run <= 3; ++run) {
    ASSERT_EQ(thread_->Start(&info_, "runtime test"), PVL_OK);
    EXPECT_EQ(State(), PVL_THREAD_RUNNING);
    EXPECT_EQ(thread_->Start(&info_, "again"), PVL_E_NOTREADY);
    EXPECT_EQ(log_.lastStackSize, PVL_THREAD_DEFAULT_STACK);
    EXPECT_NE(log_.lastStack, nullptr);
    EXPECT_EQ(Env().LiveBlocks(), 2u);  // the object and its stack
    ASSERT_EQ(thread_->Stop(), PVL_OK);
    EXPECT_EQ(State(), PVL_THREAD_CREATED);
    EXPECT_EQ(body_.runs, run);
    EXPECT_EQ(body_.stopId, PVL_THREAD_STOP_SIGNAL);
    EXPECT_EQ(Env().LiveBlocks(), 1u);  // the stack went back
  }
  EXPECT_EQ(thread_->Stop(), PVL_E_NOTREADY);
}

TEST_F(ThreadTest, BadStarts) {
  CPvlThreadStartInfo noStack = info_;
  noStack.stackSize = 0;
  EXPECT_EQ(thread_->Start(&noStack, "x"), PVL_E_BADARG);
  EXPECT_EQ(State(), PVL_THREAD_CREATED);
  EXPECT_EQ(thread_->Start(nullptr, "x"), PVL_E_NULLPTR);
  CPvlThreadStartInfo noEntry = info_;
  noEntry.entry = nullptr;
  EXPECT_EQ(thread_->Start(&noEntry, "x"), PVL_E_NULLPTR);

  Env().FailNth(1);  // the stack
  EXPECT_EQ(thread_->Start(&info_, "x"), PVL_E_OUTOFMEMORY);
  EXPECT_EQ(State(), PVL_THREAD_CREATED);

  log_.startResult = PVL_E_FAIL;
  EXPECT_EQ(thread_->Start(&info_, "x"), PVL_E_FAIL);
  EXPECT_EQ(State(), PVL_THREAD_CREATED);
  EXPECT_EQ(Env().LiveBlocks(), 1u);  // no stack left behind
  log_.startResult = PVL_OK;
  ASSERT_EQ(thread_->Start(&info_, "x"), PVL_OK);
  EXPECT_EQ(thread_->Stop(), PVL_OK);
  EXPECT_EQ(body_.runs, 1);
}

TEST_F(ThreadTest, SuspendResumeAndStopWhileSuspended) {
  EXPECT_EQ(thread_->Suspend(0), PVL_E_NOTREADY);
  EXPECT_EQ(thread_->Resume(0), PVL_E_NOTREADY);
  ASSERT_EQ(thread_->Start(&info_, "x"), PVL_OK);
  EXPECT_EQ(thread_->Resume(0), PVL_E_NOTREADY);
  log_.suspendResult = PVL_E_UNSUPPORTED;
  EXPECT_EQ(thread_->Suspend(0), PVL_E_UNSUPPORTED);
  EXPECT_EQ(State(), PVL_THREAD_RUNNING);
  log_.suspendResult = PVL_OK;
  EXPECT_EQ(thread_->Suspend(0), PVL_OK);
  EXPECT_EQ(State(), PVL_THREAD_SUSPENDED);
  EXPECT_EQ(thread_->Resume(0), PVL_OK);
  EXPECT_EQ(State(), PVL_THREAD_RUNNING);
  EXPECT_EQ(thread_->Suspend(0), PVL_OK);
  const int resumes = log_.resumes;
  EXPECT_EQ(thread_->Stop(), PVL_OK);  // resumes before joining
  EXPECT_EQ(log_.resumes, resumes + 1);
  EXPECT_EQ(log_.joins, 1);
  EXPECT_EQ(State(), PVL_THREAD_CREATED);
}

TEST_F(ThreadTest, AFailingResumeLeavesTheThreadSuspended) {
  ASSERT_EQ(thread_->Start(&info_, "x"), PVL_OK);
  ASSERT_EQ(thread_->Suspend(0), PVL_OK);
  log_.resumeResult = PVL_E_FAIL;
  EXPECT_EQ(thread_->Stop(), PVL_E_FAIL);
  EXPECT_EQ(State(), PVL_THREAD_SUSPENDED);
  log_.resumeResult = PVL_OK;
  EXPECT_EQ(thread_->Stop(), PVL_OK);
}

TEST_F(ThreadTest, PassThroughs) {
  EXPECT_EQ(thread_->PassThrough1(1), PVL_E_NOTREADY);
  EXPECT_EQ(thread_->PassThrough4(1, 2, 3), PVL_E_NOTREADY);
  ASSERT_EQ(thread_->Start(&info_, "x"), PVL_OK);
  struct Case {
    const char* name;
    std::function<PvlResult()> call;
    int op;
    uint32_t a, b, c;
  } cases[] = {
      {"PassThrough1", [&] { return thread_->PassThrough1(5); }, 10, 5, 0xEE, 0xEE},
      {"PassThrough2", [&] { return thread_->PassThrough2(6); }, 9, 6, 0, 0xEE},
      {"PassThrough3", [&] { return thread_->PassThrough3(7, 8); }, 8, 7, 8, 0},
      {"PassThrough4", [&] { return thread_->PassThrough4(1, 2, 3); }, 11, 1, 2, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.call(), PVL_OK);
    EXPECT_EQ(log_.lastPassOp, c.op);
    EXPECT_EQ(log_.lastPass[0], c.a);
    EXPECT_EQ(log_.lastPass[1], c.b);
    EXPECT_EQ(log_.lastPass[2], c.c);
  }
  EXPECT_EQ(thread_->Stop(), PVL_OK);
}

TEST_F(ThreadTest, ReleasingARunningThreadStopsItFirst) {
  ASSERT_EQ(thread_->Start(&info_, "x"), PVL_OK);
  EXPECT_EQ(thread_->Release(), 0);
  thread_ = nullptr;
  EXPECT_EQ(body_.runs, 1);
  EXPECT_EQ(body_.stopId, PVL_THREAD_STOP_SIGNAL);
  EXPECT_EQ(log_.joins, 1);
}

TEST_F(ThreadTest, CreationFailures) {
  CPvlThread* t = reinterpret_cast<CPvlThread*>(1);
  EXPECT_EQ(CPvlThread::Create(nullptr, &t), PVL_E_NULLPTR);
  EXPECT_EQ(t, nullptr);
  EXPECT_EQ(CPvlThread::Create(&Env(), nullptr), PVL_E_NULLPTR);
  Env().FailNth(1);  // the object itself: a result, not an exception
  EXPECT_EQ(CPvlThread::Create(&Env(), &t), PVL_E_BADARG);
  EXPECT_EQ(t, nullptr);
  Env().Register(ZUEUID_CLASS_SIGNAL_QUEUE, [](void** out) {
    *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  });
  EXPECT_EQ(CPvlThread::Create(&Env(), &t), PVL_E_NOTSUPPORTED);
  EXPECT_EQ(t, nullptr);
}

}  // namespace
