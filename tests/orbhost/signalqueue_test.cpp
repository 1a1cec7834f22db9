// Signal queues: pending fires, fire once until re-armed, first in first out,
// outside registrations, and fires after the queue is gone.
#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <future>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "ienv.h"
#include "isignalqueue.h"
#include "orbhost_test.h"

namespace {

struct Pair {
  ISignalControl* control = nullptr;
  ISignal* signal = nullptr;
  void Release() {
    if (control) control->Release();
    if (signal) signal->Release();
    control = nullptr;
    signal = nullptr;
  }
};

class SignalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    live = OrbhostTest_LiveHostObjects();
    queue = NewQueue();
  }
  void TearDown() override {
    for (Pair& p : pairs) p.Release();
    if (queue) queue->Release();
    EXPECT_EQ(live, OrbhostTest_LiveHostObjects());  // nothing leaked
  }
  static ISignalQueue* NewQueue() {
    void* out = nullptr;
    EXPECT_EQ(PVL_OK, env_env_GetCurrent()->CreateInstance(ZUEUID_CLASS_SIGNAL_QUEUE, &out));
    return static_cast<ISignalQueue*>(out);
  }
  Pair& Make(ZUEUID id, void* context = nullptr, ISignalQueue* q = nullptr) {
    pairs.emplace_back();
    EXPECT_EQ(PVL_OK, (q ? q : queue)->CreateSignal(context, id, &pairs.back().control, &pairs.back().signal));
    return pairs.back();
  }
  int32_t live = 0;
  ISignalQueue* queue = nullptr;
  std::vector<Pair> pairs;  // reserved in tests that keep references into it
};

TEST_F(SignalTest, FireWithoutWaiterStaysPending) {
  int context = 0;
  Pair& s = Make(0x01061256u, &context);
  ASSERT_EQ(PVL_OK, s.control->Fire());
  PvlSignalWaitRecord r{};
  ASSERT_EQ(PVL_OK, queue->Wait(&r));
  EXPECT_EQ(&context, r.context);
  EXPECT_EQ(0x01061256u, r.id);
}

TEST_F(SignalTest, FiresOnceUntilReArmed) {
  pairs.reserve(2);
  Pair& a = Make(1);
  Pair& b = Make(2);
  a.control->Fire();
  a.control->Fire();  // coalesced
  b.control->Fire();
  PvlSignalWaitRecord r{};
  ASSERT_EQ(PVL_OK, queue->Wait(&r));
  EXPECT_EQ(1u, r.id);
  a.control->Fire();  // taken, not re-armed: still nothing
  ASSERT_EQ(PVL_OK, queue->Wait(&r));
  EXPECT_EQ(2u, r.id);
  // After the re-arm, a fire from another thread wakes a blocked wait.
  ASSERT_EQ(PVL_OK, a.signal->ReArm());
  std::thread firer([&] { a.control->Fire(); });
  ASSERT_EQ(PVL_OK, queue->Wait(&r));
  EXPECT_EQ(1u, r.id);
  firer.join();
}

TEST_F(SignalTest, DeliversInFiringOrder) {
  pairs.reserve(5);
  for (ZUEUID id = 1; id <= 5; ++id) Make(id);
  for (ZUEUID id : {3u, 1u, 5u, 2u, 4u}) pairs[id - 1].control->Fire();
  for (ZUEUID want : {3u, 1u, 5u, 2u, 4u}) {
    PvlSignalWaitRecord r{};
    ASSERT_EQ(PVL_OK, queue->Wait(&r));
    EXPECT_EQ(want, r.id);
  }
}

TEST_F(SignalTest, ReArmWithdrawsAFireNotYetTaken) {
  pairs.reserve(2);
  Pair& stale = Make(1);
  Pair& fresh = Make(2);
  stale.control->Fire();
  stale.signal->ReArm();
  fresh.control->Fire();
  PvlSignalWaitRecord r{};
  ASSERT_EQ(PVL_OK, queue->Wait(&r));
  EXPECT_EQ(2u, r.id);
}

TEST_F(SignalTest, ManyFiringThreadsOneWaiter) {
  const int kSignals = 16;
  pairs.reserve(kSignals);
  for (int i = 0; i < kSignals; ++i) Make(100 + i);
  std::vector<std::thread> firers;
  for (int i = 0; i < kSignals; ++i) firers.emplace_back([&, i] { pairs[i].control->Fire(); });
  std::vector<bool> seen(kSignals, false);
  for (int i = 0; i < kSignals; ++i) {
    PvlSignalWaitRecord r{};
    ASSERT_EQ(PVL_OK, queue->Wait(&r));
    ASSERT_GE(r.id, 100u);
    ASSERT_LT(r.id, 100u + kSignals);
    EXPECT_FALSE(seen[r.id - 100]);
    seen[r.id - 100] = true;
  }
  for (auto& t : firers) t.join();
}

TEST_F(SignalTest, FireAfterTheQueueIsGoneIsAnErrorNotACrash) {
  Pair& s = Make(7);
  queue->Release();
  queue = nullptr;
  EXPECT_EQ(PVL_E_DETACHED, s.control->Fire());
  EXPECT_EQ(PVL_E_DETACHED, s.signal->ReArm());
}

TEST_F(SignalTest, WaitWithNothingThatCouldFire) {
  PvlSignalWaitRecord r{};
  EXPECT_EQ(PVL_E_NOTREADY, queue->Wait(&r));
  EXPECT_EQ(PVL_E_NULLPTR, queue->Wait(nullptr));
  ISignalControl* c = nullptr;
  ISignal* s = nullptr;
  EXPECT_EQ(PVL_E_NULLPTR, queue->CreateSignal(nullptr, 1, nullptr, &s));
  EXPECT_EQ(PVL_E_NULLPTR, queue->CreateSignal(nullptr, 1, &c, nullptr));
  EXPECT_EQ(nullptr, s);
  EXPECT_EQ(PVL_E_NOTREADY, queue->Wait(&r));  // nothing was made
  EXPECT_EQ(PVL_E_UNSUPPORTED, queue->Reserved6());
}

// True once the thread is asleep in the kernel (blocked), as /proc tells it.
bool Blocked(pid_t tid) {
  std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const size_t close = text.rfind(')');
  return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'S';
}

// A wait blocked on a queue ends with 13 when the last signal that could wake it
// goes.
TEST_F(SignalTest, WaitEndsWhenItsLastSignalGoes) {
  Pair& s = Make(3);
  std::atomic<pid_t> tid{0};
  std::promise<PvlResult> done;
  std::thread waiter([&] {
    tid = static_cast<pid_t>(syscall(SYS_gettid));
    PvlSignalWaitRecord r{};
    done.set_value(queue->Wait(&r));
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while ((tid == 0 || !Blocked(tid)) && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  s.Release();
  auto result = done.get_future();
  if (result.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    ADD_FAILURE() << "the wait did not end";
    queue->Release();  // ends it with 10
    queue = nullptr;
  }
  waiter.join();
  EXPECT_EQ(PVL_E_NOTREADY, result.get());
}

TEST_F(SignalTest, RegisteredControlsFireOnRequest) {
  ISignalQueue* other = NewQueue();
  pairs.reserve(2);
  Pair& kept = Make(1, nullptr, other);
  Pair& once = Make(2, nullptr, other);
  ASSERT_EQ(PVL_OK, queue->RegisterControl(kept.control, 0));
  ASSERT_EQ(PVL_OK, queue->RegisterControl(once.control, PVL_SIGNAL_REGISTER_ONCE));
  ASSERT_EQ(PVL_OK, queue->FireRegistered());
  PvlSignalWaitRecord r{};
  ASSERT_EQ(PVL_OK, other->Wait(&r));
  EXPECT_EQ(1u, r.id);
  ASSERT_EQ(PVL_OK, other->Wait(&r));
  EXPECT_EQ(2u, r.id);
  kept.signal->ReArm();
  once.signal->ReArm();
  ASSERT_EQ(PVL_OK, queue->FireRegistered());  // the one-shot registration is gone
  ASSERT_EQ(PVL_OK, other->Wait(&r));
  EXPECT_EQ(1u, r.id);
  EXPECT_EQ(PVL_E_BADARG, queue->UnregisterControl(once.control));
  EXPECT_EQ(PVL_OK, queue->UnregisterControl(kept.control));
  EXPECT_EQ(PVL_E_BADARG, queue->UnregisterControl(kept.control));
  EXPECT_EQ(PVL_E_NULLPTR, queue->RegisterControl(nullptr, 0));
  EXPECT_EQ(PVL_E_BADARG, queue->RegisterControl(kept.control, 8));
  // A registration still in place when its queue goes is dropped with it; a
  // registered control whose own queue is gone is skipped.
  ASSERT_EQ(PVL_OK, queue->RegisterControl(kept.control, 0));
  other->Release();
  EXPECT_EQ(PVL_OK, queue->FireRegistered());
}

TEST_F(SignalTest, AControlMayBeRegisteredOnItsOwnQueue) {
  Pair& s = Make(9);
  ASSERT_EQ(PVL_OK, queue->RegisterControl(s.control, 0));
  ASSERT_EQ(PVL_OK, queue->FireRegistered());
  PvlSignalWaitRecord r{};
  ASSERT_EQ(PVL_OK, queue->Wait(&r));
  EXPECT_EQ(9u, r.id);
}

TEST_F(SignalTest, SidesAnswerTheirIdentifiers) {
  Pair& s = Make(1);
  void* out = nullptr;
  EXPECT_EQ(PVL_OK, s.control->QueryInterface(ZUEUID_IFACE_SIGNAL_CONTROL, &out));
  static_cast<IPvlBase*>(out)->Release();
  EXPECT_EQ(PVL_OK, s.signal->QueryInterface(ZUEUID_IFACE_SIGNAL, &out));
  static_cast<IPvlBase*>(out)->Release();
  EXPECT_EQ(PVL_E_NOTSUPPORTED, s.signal->QueryInterface(ZUEUID_IFACE_SIGNAL_CONTROL, &out));
  EXPECT_EQ(PVL_OK, queue->QueryInterface(ZUEUID_IFACE_SIGNAL_QUEUE, &out));
  static_cast<IPvlBase*>(out)->Release();
}

}  // namespace
