// The singleton registry: one instance per class, counted hand-outs, forgetting an
// instance at its last release, creation once under concurrency.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "ienv.h"
#include "isingletonregistry.h"
#include "orbhost_test.h"

namespace {

const ZUEUID kClass = 0x7e571001u;
const ZUEUID kOther = 0x7e571002u;

std::atomic<int> g_constructed{0};
std::atomic<int> g_destroyed{0};

// A singleton in the engine's manner: its count lives in the object and changes
// only through the registry.
class Single final : public IPvlBase {
 public:
  Single(ISingletonRegistry* registry, ZUEUID clsid) : m_registry(registry), m_clsid(clsid) {
    g_constructed++;
  }
  ~Single() { g_destroyed++; }
  int32_t AddRef() override { return m_registry->AdjustRefCount(m_clsid, &m_count, 1); }
  int32_t Release() override {
    int32_t n = m_registry->AdjustRefCount(m_clsid, &m_count, -1);
    if (n == 0) delete this;
    return n;
  }
  PvlResult QueryInterface(ZUEUID, void** out) override {
    *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }
  int32_t Count() const { return m_count; }

 private:
  ISingletonRegistry* m_registry;
  ZUEUID m_clsid;
  volatile int32_t m_count = 0;
};

// Like the engine's creator: counts the object once, hands out a reference, drops
// its own.
PvlResult Construct(void* context, ZUEUID clsid, void** out) {
  auto* registry = static_cast<ISingletonRegistry*>(context);
  auto* s = new Single(registry, clsid);
  s->AddRef();
  s->AddRef();
  *out = s;
  s->Release();
  return PVL_OK;
}

PvlResult Refuse(void*, ZUEUID, void** out) {
  *out = nullptr;
  return 39;
}

class SingletonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(PVL_OK, env_env_GetCurrent()->QueryInterface(ZUEUID_IFACE_SINGLETON_REGISTRY,
                                                            reinterpret_cast<void**>(&registry)));
    g_constructed = 0;
    g_destroyed = 0;
  }
  void TearDown() override { registry->Release(); }
  Single* Get(ZUEUID clsid = kClass) {
    void* out = nullptr;
    EXPECT_EQ(PVL_OK, registry->GetOrCreate(clsid, &out, Construct, registry));
    return static_cast<Single*>(out);
  }
  ISingletonRegistry* registry = nullptr;
};

TEST_F(SingletonTest, HandsOutTheOneInstanceWithACountedReference) {
  Single* a = Get();
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(1, a->Count());
  Single* b = Get();
  EXPECT_EQ(a, b);
  EXPECT_EQ(2, a->Count());  // the second holder has its own reference
  EXPECT_EQ(1, g_constructed.load());
  EXPECT_EQ(1, b->Release());
  EXPECT_EQ(0, g_destroyed.load());
  EXPECT_EQ(0, a->Release());
  EXPECT_EQ(1, g_destroyed.load());
  // Forgotten at its last release: the next request constructs a new one.
  Single* c = Get();
  ASSERT_NE(nullptr, c);
  EXPECT_EQ(2, g_constructed.load());
  EXPECT_EQ(1, c->Count());
  c->Release();
}

TEST_F(SingletonTest, ClassesAreIndependent) {
  Single* a = Get(kClass);
  Single* b = Get(kOther);
  EXPECT_NE(a, b);
  a->Release();
  Single* again = Get(kOther);
  EXPECT_EQ(b, again);
  again->Release();
  b->Release();
  EXPECT_EQ(2, g_destroyed.load());
}

TEST_F(SingletonTest, FailedCreationLeavesNoInstance) {
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(39, registry->GetOrCreate(kClass, &out, Refuse, nullptr));
  EXPECT_EQ(nullptr, out);
  Single* s = Get();
  ASSERT_NE(nullptr, s);
  s->Release();
}

TEST_F(SingletonTest, BadArguments) {
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(PVL_E_NULLPTR, registry->GetOrCreate(kClass, nullptr, Construct, registry));
  EXPECT_EQ(PVL_E_NULLPTR, registry->GetOrCreate(kClass, &out, nullptr, registry));
  EXPECT_EQ(reinterpret_cast<void*>(1), out);
  const uint32_t breaks = OrbhostTest_BreakCount();
  EXPECT_EQ(-1, registry->AdjustRefCount(kClass, nullptr, 1));
  EXPECT_EQ(breaks + 1, OrbhostTest_BreakCount());
}

PvlResult AskForItself(void* context, ZUEUID clsid, void** out) {
  auto* registry = static_cast<ISingletonRegistry*>(context);
  void* inner = reinterpret_cast<void*>(1);
  EXPECT_EQ(PVL_E_NOTREADY, registry->GetOrCreate(clsid, &inner, Construct, registry));
  EXPECT_EQ(nullptr, inner);
  // Another class from inside a creator works.
  void* other = nullptr;
  EXPECT_EQ(PVL_OK, registry->GetOrCreate(kOther, &other, Construct, registry));
  static_cast<IPvlBase*>(other)->Release();
  return Construct(context, clsid, out);
}

TEST_F(SingletonTest, NestedCreationsDoNotDeadlock) {
  void* out = nullptr;
  ASSERT_EQ(PVL_OK, registry->GetOrCreate(kClass, &out, AskForItself, registry));
  static_cast<IPvlBase*>(out)->Release();
  EXPECT_EQ(2, g_constructed.load());
  EXPECT_EQ(2, g_destroyed.load());
}

std::atomic<bool> g_go{false};
PvlResult SlowConstruct(void* context, ZUEUID clsid, void** out) {
  // Holds the creation open until every thread has asked.
  while (!g_go.load()) std::this_thread::yield();
  return Construct(context, clsid, out);
}

TEST_F(SingletonTest, ConcurrentFirstRequestsConstructOnce) {
  const int kThreads = 8;
  std::vector<void*> got(kThreads, nullptr);
  std::atomic<int> asked{0};
  g_go = false;
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i)
    threads.emplace_back([&, i] {
      asked++;
      EXPECT_EQ(PVL_OK, registry->GetOrCreate(kClass, &got[i], SlowConstruct, registry));
    });
  while (asked.load() < kThreads) std::this_thread::yield();
  g_go = true;
  for (auto& t : threads) t.join();
  EXPECT_EQ(1, g_constructed.load());
  for (void* p : got) EXPECT_EQ(got[0], p);
  EXPECT_EQ(kThreads, static_cast<Single*>(got[0])->Count());
  for (void* p : got) static_cast<IPvlBase*>(p)->Release();
  EXPECT_EQ(1, g_destroyed.load());
}

TEST_F(SingletonTest, ReleaseAndRequestRaceNeverHandsOutADeadInstance) {
  for (int round = 0; round < 200; ++round) {
    Single* first = Get();
    std::thread releaser([&] { first->Release(); });
    Single* second = Get();
    releaser.join();
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(1, second->Count());
    second->Release();
  }
  EXPECT_EQ(g_constructed.load(), g_destroyed.load());
}

}  // namespace
