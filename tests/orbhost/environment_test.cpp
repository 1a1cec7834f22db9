// The environment: interface answers, the allocator and its test controls, creation
// by class, start and stop.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "ienv.h"
#include "isingletonregistry.h"
#include "orbhost.h"
#include "orbhost_test.h"
#include "pvlheap.h"

namespace {

IEnv* Env() { return env_env_GetCurrent(); }

TEST(Environment, AnswersItsIdentifiersAndTheRegistry) {
  struct Case {
    const char* name;
    ZUEUID iid;
    PvlResult result;
    bool isEnv;
  } cases[] = {
      {"base", ZUEUID_IFACE_BASE, PVL_OK, true},
      {"environment", ZUEUID_IFACE_ENV, PVL_OK, true},
      {"environment class", ZUEUID_CLASS_ENV, PVL_OK, true},
      {"singleton registry", ZUEUID_IFACE_SINGLETON_REGISTRY, PVL_OK, false},
      {"media buffer", ZUEUID_IFACE_MEDIA_BUFFER, PVL_E_NOTSUPPORTED, false},
      {"zero", 0, PVL_E_NOTSUPPORTED, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(c.result, Env()->QueryInterface(c.iid, &out));
    if (c.result != PVL_OK) {
      EXPECT_EQ(nullptr, out);
      continue;
    }
    ASSERT_NE(nullptr, out);
    if (c.isEnv) {
      EXPECT_EQ(Env(), out);
    }
    static_cast<IPvlBase*>(out)->Release();
  }
  EXPECT_EQ(PVL_E_NULLPTR, Env()->QueryInterface(ZUEUID_IFACE_ENV, nullptr));
}

TEST(Environment, RegistryLeadsBackToTheEnvironment) {
  ISingletonRegistry* registry = nullptr;
  ASSERT_EQ(PVL_OK, Env()->QueryInterface(ZUEUID_IFACE_SINGLETON_REGISTRY, reinterpret_cast<void**>(&registry)));
  IEnv* env = nullptr;
  ASSERT_EQ(PVL_OK, registry->QueryInterface(ZUEUID_IFACE_ENV, reinterpret_cast<void**>(&env)));
  EXPECT_EQ(Env(), env);
  env->Release();
  registry->Release();
}

TEST(Environment, ReallocAllocatesResizesKeepingContentsAndFrees) {
  const uint32_t before = OrbhostTest_LiveBlocks(nullptr);
  void* p = nullptr;
  ASSERT_EQ(PVL_OK, Env()->ReallocTagged(16, &p, "test_environment.cpp:1"));
  ASSERT_NE(nullptr, p);
  memcpy(p, "0123456789abcdef", 16);
  EXPECT_EQ(1u, OrbhostTest_LiveBlocks("test_environment.cpp:1"));
  ASSERT_EQ(PVL_OK, Env()->ReallocTagged(4096, &p, "test_environment.cpp:2"));
  EXPECT_EQ(0, memcmp(p, "0123456789abcdef", 16));
  // A resize keeps the block's first tag.
  EXPECT_EQ(1u, OrbhostTest_LiveBlocks("test_environment.cpp:1"));
  ASSERT_EQ(PVL_OK, Env()->Realloc(0, &p));
  EXPECT_EQ(nullptr, p);
  EXPECT_EQ(0u, OrbhostTest_LiveBlocks("test_environment.cpp:1"));
  EXPECT_EQ(before, OrbhostTest_LiveBlocks(nullptr));
  // Freeing nothing is fine.
  EXPECT_EQ(PVL_OK, Env()->Realloc(0, &p));
}

TEST(Environment, ReallocFailuresLeaveTheBlockAlone) {
  void* p = nullptr;
  ASSERT_EQ(PVL_OK, Env()->Realloc(8, &p));
  void* const kept = p;

  OrbhostTest_FailAllocation(1);
  EXPECT_EQ(PVL_E_OUTOFMEMORY, Env()->Realloc(64, &p));
  EXPECT_EQ(kept, p);
  EXPECT_EQ(PVL_E_OUTOFMEMORY, Env()->Realloc(0xFFFFFFF0u, &p));  // no wrap, no crash
  EXPECT_EQ(kept, p);

  void* fresh = nullptr;
  EXPECT_EQ(PVL_E_OUTOFMEMORY, Env()->Realloc(0xFFFFFFFFu, &fresh));
  EXPECT_EQ(nullptr, fresh);
  EXPECT_EQ(PVL_E_NULLPTR, Env()->Realloc(8, nullptr));

  int onStack = 0;
  void* foreign = &onStack;
  EXPECT_EQ(PVL_E_BADARG, Env()->Realloc(0, &foreign));
  EXPECT_EQ(&onStack, foreign);
  EXPECT_EQ(PVL_E_BADARG, Env()->Realloc(16, &foreign));

  EXPECT_EQ(PVL_OK, Env()->Realloc(0, &p));
}

TEST(Environment, FailsExactlyTheNthAllocation) {
  void* blocks[3] = {};
  OrbhostTest_FailAllocation(3);
  EXPECT_EQ(PVL_OK, Env()->Realloc(4, &blocks[0]));
  EXPECT_EQ(PVL_OK, Env()->Realloc(4, &blocks[1]));
  EXPECT_EQ(PVL_E_OUTOFMEMORY, Env()->Realloc(4, &blocks[2]));
  EXPECT_EQ(PVL_OK, Env()->Realloc(4, &blocks[2]));  // only once
  OrbhostTest_FailAllocation(2);
  OrbhostTest_FailAllocation(0);  // cancelled
  void* more = nullptr;
  EXPECT_EQ(PVL_OK, Env()->Realloc(4, &more));
  EXPECT_EQ(PVL_OK, Env()->Realloc(4, &more));
  for (void*& b : blocks) Env()->Realloc(0, &b);
  Env()->Realloc(0, &more);
}

TEST(Environment, CountsLiveBlocksByTag) {
  void* a = nullptr;
  void* b = nullptr;
  char tag[32];
  strcpy(tag, "counted.cpp:10");
  Env()->ReallocTagged(4, &a, tag);
  strcpy(tag, "counted.cpp:20");  // the same buffer, re-used with another text
  Env()->ReallocTagged(4, &b, tag);
  EXPECT_EQ(1u, OrbhostTest_LiveBlocks("counted.cpp:10"));
  EXPECT_EQ(1u, OrbhostTest_LiveBlocks("counted.cpp:20"));
  bool listed = false;
  for (auto& [name, n] : OrbhostTest_LiveBlocksByTag())
    if (name == "counted.cpp:10") listed = n == 1;
  EXPECT_TRUE(listed);
  Env()->Realloc(0, &a);
  Env()->Realloc(0, &b);
  EXPECT_EQ(0u, OrbhostTest_LiveBlocks("counted.cpp:10"));
  void* untagged = nullptr;
  Env()->Realloc(4, &untagged);
  EXPECT_EQ(1u, OrbhostTest_LiveBlocks("untagged"));
  Env()->Realloc(0, &untagged);
}

TEST(Environment, FreshEnvironmentSharesTheAllocator) {
  IEnv* fresh = nullptr;
  ASSERT_EQ(PVL_OK, env_env_CreateInstance(ZUEUID_CLASS_ENV, reinterpret_cast<void**>(&fresh)));
  ASSERT_NE(nullptr, fresh);
  void* p = nullptr;
  ASSERT_EQ(PVL_OK, fresh->ReallocTagged(8, &p, "fresh.cpp:1"));
  // Another environment frees it: there is one allocator per process.
  EXPECT_EQ(PVL_OK, Env()->ReallocTagged(0, &p, "fresh.cpp:2"));
  EXPECT_EQ(0u, OrbhostTest_LiveBlocks("fresh.cpp:1"));
  fresh->Release();
}

TEST(Environment, UnknownClassesAnswerThreeQuicklyWithNullOut) {
  IEnv* env = nullptr;
  ASSERT_EQ(PVL_OK, Orbhost_Start("\\device.cs", 0, &env));
  const auto start = std::chrono::steady_clock::now();
  for (ZUEUID clsid : {0x01060c21u, 0x01051066u, 0x00000000u, 0xFFFFFFFFu}) {
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(PVL_E_NOTSUPPORTED, env->CreateInstance(clsid, &out)) << std::hex << clsid;
    EXPECT_EQ(nullptr, out);
  }
  // No module is mapped to find out that nobody makes these.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_EQ(PVL_E_NULLPTR, env->CreateInstance(ZUEUID_CLASS_LOCK, nullptr));
  env->Release();
  Orbhost_Stop();
}

PvlResult MakeEnvAsDouble(IEnv* env, ZUEUID, void* argument, void** out) {
  EXPECT_EQ(env, argument);
  env->AddRef();
  *out = env;
  return PVL_OK;
}
PvlResult RefuseDouble(IEnv*, ZUEUID, void*, void** out) {
  *out = nullptr;
  return 2;
}
PvlResult LyingDouble(IEnv*, ZUEUID, void*, void** out) {
  *out = nullptr;
  return PVL_OK;
}

TEST(Environment, TestDoublesComeFirstAndCanBeRemoved) {
  const ZUEUID kClass = 0x7e570999u;
  void* out = nullptr;
  EXPECT_EQ(PVL_E_NOTSUPPORTED, Env()->CreateInstance(kClass, &out));
  ASSERT_EQ(PVL_OK, OrbhostTest_RegisterClass(kClass, MakeEnvAsDouble));
  ASSERT_EQ(PVL_OK, Env()->CreateInstance(kClass, &out));
  EXPECT_EQ(Env(), out);
  Env()->Release();
  // A double in place of a host class.
  ASSERT_EQ(PVL_OK, OrbhostTest_RegisterClass(ZUEUID_CLASS_CLOCK, RefuseDouble));
  EXPECT_EQ(2, Env()->CreateInstance(ZUEUID_CLASS_CLOCK, &out));
  EXPECT_EQ(nullptr, out);
  // A factory claiming success without an object is a failure, not a null object.
  ASSERT_EQ(PVL_OK, OrbhostTest_RegisterClass(kClass, LyingDouble));
  EXPECT_EQ(PVL_E_FAIL, Env()->CreateInstance(kClass, &out));
  EXPECT_EQ(PVL_OK, OrbhostTest_UnregisterClass(kClass));
  EXPECT_EQ(PVL_E_BADARG, OrbhostTest_UnregisterClass(kClass));
  EXPECT_EQ(PVL_E_NULLPTR, OrbhostTest_RegisterClass(kClass, nullptr));
  OrbhostTest_UnregisterAllClasses();
  ASSERT_EQ(PVL_OK, Env()->CreateInstance(ZUEUID_CLASS_CLOCK, &out));
  static_cast<IPvlBase*>(out)->Release();
}

TEST(Environment, RepeatedStartsHandOutTheSameEnvironment) {
  IEnv* first = nullptr;
  IEnv* second = nullptr;
  ASSERT_EQ(PVL_OK, Orbhost_Start("\\device.cs", 0, &first));
  ASSERT_EQ(PVL_OK, Orbhost_Start("\\device.cs", 0, &second));
  EXPECT_EQ(first, second);
  EXPECT_EQ(Env(), first);
  // The driver takes a reference of its own and gives back one at stop: the host
  // copes with the one left over.
  first->AddRef();
  first->Release();
  EXPECT_EQ(PVL_OK, Orbhost_Stop());
  second->Release();
  EXPECT_EQ(PVL_OK, Orbhost_Stop());
  EXPECT_EQ(PVL_E_NOTREADY, Orbhost_Stop());
  IEnv* none = reinterpret_cast<IEnv*>(1);
  EXPECT_EQ(PVL_E_NULLPTR, Orbhost_Start(nullptr, 0, &none));
  EXPECT_EQ(nullptr, none);
  EXPECT_EQ(PVL_E_NULLPTR, Orbhost_Start("\\device.cs", 0, nullptr));
  // Over-releasing the environment never destroys it.
  Env()->Release();
  Env()->Release();
  void* p = nullptr;
  EXPECT_EQ(PVL_OK, Env()->Realloc(4, &p));
  Env()->Realloc(0, &p);
}

// The driver's start with a start-up script that cannot be read fails with a code
// and no environment; a later start with a good script still works. Run in a
// process of its own, since the first good start in a process is the one that counts.
TEST(Environment, AFailedStartGivesACodeAndNoEnvironment) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        int bad = 0;
        IEnv* env = reinterpret_cast<IEnv*>(1);
        if (Orbhost_Start("\\nowhere.cs", 0, &env) == PVL_OK) bad |= 1;
        if (env != nullptr) bad |= 2;
        if (Orbhost_Stop() == PVL_OK) bad |= 4;  // nothing was started
        if (Orbhost_Start("\\device.cs", 0, &env) != PVL_OK || env == nullptr) bad |= 8;
        _exit(bad);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(Environment, ReservedOperationsAnswerUnsupported) {
  EXPECT_EQ(PVL_E_UNSUPPORTED, Env()->Reserved5());
  EXPECT_EQ(PVL_E_UNSUPPORTED, Env()->Reserved6());
}

TEST(HostSymbols, AtomicsAndContexts) {
  volatile int32_t v = 5;
  EXPECT_EQ(7, atomic_atomic_Add(&v, 2));
  EXPECT_EQ(7, atomic_atomic_Exchange(&v, 1));
  EXPECT_EQ(1, atomic_atomic_CompareAndExchange(&v, 9, 1));
  EXPECT_EQ(9, v);
  EXPECT_EQ(9, atomic_atomic_CompareAndExchange(&v, 3, 1));  // no match: unchanged
  EXPECT_EQ(9, v);
  EXPECT_EQ(9, atomic_atomic_CompareOrAdd(&v, 9, 5));  // equal: no add
  EXPECT_EQ(9, atomic_atomic_CompareOrAdd(&v, 0, 5));
  EXPECT_EQ(14, v);
  EXPECT_EQ(0, atomic_atomic_Add(nullptr, 1));
  int marker = 0;
  EXPECT_EQ(PVL_OK, tls_tls_SetContext(&marker));
  EXPECT_EQ(&marker, tls_tls_GetContext());
  EXPECT_EQ(PVL_OK, pls_pls_SetContext(&marker));
  EXPECT_EQ(&marker, pls_pls_GetContext());
  EXPECT_EQ(PVL_OK, env_env_Init());
}

TEST(HostSymbols, MessagesAndBreaksReturn) {
  OrbhostTest_MessageCaptureBegin();
  dbg_dbg_Message("Buffer reqs set\n", 0, "cmcamerabuffermanager.cpp", 42);
  dbg_dbg_Message(nullptr, 3, nullptr, 0);
  auto lines = OrbhostTest_MessageCaptureEnd();
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ("Buffer reqs set", lines[0].text);
  EXPECT_EQ(0, lines[0].level);
  EXPECT_EQ("cmcamerabuffermanager.cpp", lines[0].fileName);
  EXPECT_EQ(42, lines[0].line);
  const uint32_t breaks = OrbhostTest_BreakCount();
  dbg_dbg_Break(0x1234);
  EXPECT_EQ(breaks + 1, OrbhostTest_BreakCount());
  EXPECT_EQ(0x1234u, OrbhostTest_LastBreakValue());
}

}  // namespace
