// The process environment, the host's class table and the fourteen host symbols.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "internal.h"
#include "isingletonregistry.h"
#include "orbhost_test.h"
#include "wince.h"

namespace orbhost {

std::atomic<int32_t> g_liveHostObjects{0};

void Log(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  NKDbgPrintfW(u"Orbhost: %hs\r\n", text);
}

namespace {

// The environment is one static object: every start hands it out, fresh
// environments are this one too, and modules keep it unreferenced (their module
// object's word 8), so it must never go away. Its count is kept for honesty only.
class Environment final : public IEnv {
 public:
  int32_t AddRef() override { return m_count.fetch_add(1) + 1; }
  int32_t Release() override {
    int32_t n = m_count.fetch_sub(1) - 1;
    if (n < 1) {
      // The host's own reference stays: the environment outlives every user.
      Log("environment released more often than referenced");
      m_count.fetch_add(1);
      n = 1;
    }
    return n;
  }
  PvlResult QueryInterface(ZUEUID iid, void** out) override {
    if (!out) return PVL_E_NULLPTR;
    if (iid == ZUEUID_IFACE_BASE || iid == ZUEUID_IFACE_ENV || iid == ZUEUID_CLASS_ENV) {
      AddRef();
      *out = static_cast<IEnv*>(this);
      return PVL_OK;
    }
    if (iid == ZUEUID_IFACE_SINGLETON_REGISTRY) {
      ISingletonRegistry* registry = Registry();
      registry->AddRef();
      *out = registry;
      return PVL_OK;
    }
    *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }
  PvlResult Realloc(uint32_t size, void** block) override { return AllocatorRealloc(size, block, nullptr); }
  PvlResult ReallocTagged(uint32_t size, void** block, const char* tag) override {
    return AllocatorRealloc(size, block, tag);
  }
  PvlResult Reserved5() override { return PVL_E_UNSUPPORTED; }
  PvlResult Reserved6() override { return PVL_E_UNSUPPORTED; }
  PvlResult CreateInstance(ZUEUID clsid, void** out) override {
    if (!out) return PVL_E_NULLPTR;
    *out = nullptr;
    PvlResult r = TestClassCreateInstance(clsid, out);
    if (r == PVL_E_NOTSUPPORTED) r = CreateHostObject(clsid, out);
    if (r == PVL_E_NOTSUPPORTED) r = orbhost::services::CreateServiceInstance(clsid, out);
    if (r == PVL_E_NOTSUPPORTED) r = LoaderCreateInstance(clsid, out);
    if (r == PVL_OK && !*out) {
      Log("creation of class 0x%08x succeeded without an object", clsid);
      r = PVL_E_FAIL;
    }
    if (r != PVL_OK && *out) {
      Log("creation of class 0x%08x failed (%d) but left an object", clsid, r);
      *out = nullptr;
    }
    return r;
  }

 private:
  std::atomic<int32_t> m_count{1};
};

Environment g_environment;

// --- Test doubles --------------------------------------------------------------
std::mutex g_testMutex;
std::unordered_map<ZUEUID, PvlClassFactory>& TestClasses() {
  static auto* classes = new std::unordered_map<ZUEUID, PvlClassFactory>;
  return *classes;
}

// --- Debug output ------------------------------------------------------------------
std::mutex g_debugMutex;
bool g_capturing = false;
std::vector<OrbhostTestMessage>* g_captured = nullptr;
std::atomic<uint32_t> g_breakCount{0};
std::atomic<uintptr_t> g_lastBreak{0};

thread_local void* t_tlsContext = nullptr;
std::atomic<void*> g_plsContext{nullptr};

}  // namespace

IEnv* ProcessEnv() { return &g_environment; }

PvlResult CreateHostObject(ZUEUID clsid, void** out) {
  switch (clsid) {
    case ZUEUID_CLASS_ENV:
      g_environment.AddRef();
      *out = static_cast<IEnv*>(&g_environment);
      return PVL_OK;
    case ZUEUID_CLASS_LOCK:
      return CreateLock(out);
    case ZUEUID_CLASS_CLOCK:
      return CreateClock(out);
    case ZUEUID_CLASS_SIGNAL_QUEUE:
      return CreateSignalQueue(out);
    case ZUEUID_CLASS_THREAD:
      return CreateThreadHost(out);
    case ZUEUID_CLASS_PROPERTY_STORE:
      return CreatePropertyStore(out);
    default:
      return PVL_E_NOTSUPPORTED;
  }
}

PvlResult TestClassCreateInstance(ZUEUID clsid, void** out) {
  PvlClassFactory factory = nullptr;
  {
    std::lock_guard<std::mutex> lock(g_testMutex);
    auto it = TestClasses().find(clsid);
    if (it == TestClasses().end()) return PVL_E_NOTSUPPORTED;
    factory = it->second;
  }
  return factory(&g_environment, clsid, &g_environment, out);
}

}  // namespace orbhost

// The services' weak default: a host built without them makes none of their classes.
namespace orbhost::services {
__attribute__((weak)) PvlResult CreateServiceInstance(ZUEUID, void**) { return PVL_E_NOTSUPPORTED; }
}  // namespace orbhost::services

using orbhost::g_environment;

// --- The fourteen host symbols -----------------------------------------------------
extern "C" {

void* tls_tls_GetContext(void) { return orbhost::t_tlsContext; }
int32_t tls_tls_SetContext(void* value) {
  orbhost::t_tlsContext = value;
  return PVL_OK;
}
int32_t atomic_atomic_Add(volatile int32_t* counter, int32_t delta) {
  if (!counter) return 0;
  return __atomic_add_fetch(counter, delta, __ATOMIC_SEQ_CST);
}
int32_t atomic_atomic_Exchange(volatile int32_t* target, int32_t value) {
  if (!target) return 0;
  return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}
int32_t atomic_atomic_CompareAndExchange(volatile int32_t* target, int32_t value, int32_t comparand) {
  if (!target) return 0;
  int32_t expected = comparand;
  __atomic_compare_exchange_n(target, &expected, value, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return expected;
}
int32_t atomic_atomic_CompareOrAdd(volatile int32_t* target, int32_t comparand, int32_t delta) {
  if (!target) return 0;
  int32_t old = __atomic_load_n(target, __ATOMIC_SEQ_CST);
  while (old != comparand &&
         !__atomic_compare_exchange_n(target, &old, old + delta, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST)) {
  }
  return old;
}

void dbg_dbg_Message(const char* text, int32_t level, const char* fileName, int32_t line) {
  if (!text) text = "";
  if (!fileName) fileName = "";
  // The caller's text may end in its own line end; the debug output adds one.
  size_t n = strlen(text);
  while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r')) --n;
  {
    std::lock_guard<std::mutex> lock(orbhost::g_debugMutex);
    if (orbhost::g_capturing)
      orbhost::g_captured->push_back(OrbhostTestMessage{std::string(text, n), level, fileName, line});
  }
  // Most lines end in no line end of their own: they go out without a copy.
  if (text[n] == '\0') {
    NKDbgPrintfW(u"%hs(%d): %hs\r\n", fileName, static_cast<int>(line), text);
    return;
  }
  std::string line_text(text, n);
  NKDbgPrintfW(u"%hs(%d): %hs\r\n", fileName, static_cast<int>(line), line_text.c_str());
}

void dbg_dbg_Event(uint32_t, uintptr_t) {}

void dbg_dbg_Break(uintptr_t value) {
  orbhost::g_breakCount.fetch_add(1);
  orbhost::g_lastBreak.store(value);
  orbhost::Log("assertion break (0x%08lx)", static_cast<unsigned long>(value));
}

void* pls_pls_GetContext(void) { return orbhost::g_plsContext.load(); }
int32_t pls_pls_SetContext(void* value) {
  orbhost::g_plsContext.store(value);
  return PVL_OK;
}

IEnv* env_env_GetCurrent(void) { return &g_environment; }

int32_t env_env_CreateInstance(ZUEUID clsid, void** out) { return g_environment.CreateInstance(clsid, out); }

int32_t env_env_Init(void) { return PVL_OK; }

// --- Test controls -----------------------------------------------------------------
int32_t OrbhostTest_RegisterClass(ZUEUID clsid, PvlClassFactory factory) {
  if (!factory) return PVL_E_NULLPTR;
  std::lock_guard<std::mutex> lock(orbhost::g_testMutex);
  orbhost::TestClasses()[clsid] = factory;
  return PVL_OK;
}
int32_t OrbhostTest_UnregisterClass(ZUEUID clsid) {
  std::lock_guard<std::mutex> lock(orbhost::g_testMutex);
  return orbhost::TestClasses().erase(clsid) ? PVL_OK : PVL_E_BADARG;
}
void OrbhostTest_UnregisterAllClasses(void) {
  std::lock_guard<std::mutex> lock(orbhost::g_testMutex);
  orbhost::TestClasses().clear();
}
int32_t OrbhostTest_LiveHostObjects(void) { return orbhost::g_liveHostObjects.load(); }
uint32_t OrbhostTest_BreakCount(void) { return orbhost::g_breakCount.load(); }
uintptr_t OrbhostTest_LastBreakValue(void) { return orbhost::g_lastBreak.load(); }

}  // extern "C"

void OrbhostTest_MessageCaptureBegin() {
  std::lock_guard<std::mutex> lock(orbhost::g_debugMutex);
  if (!orbhost::g_captured) orbhost::g_captured = new std::vector<OrbhostTestMessage>;
  orbhost::g_captured->clear();
  orbhost::g_capturing = true;
}

std::vector<OrbhostTestMessage> OrbhostTest_MessageCaptureEnd() {
  std::lock_guard<std::mutex> lock(orbhost::g_debugMutex);
  orbhost::g_capturing = false;
  std::vector<OrbhostTestMessage> out;
  if (orbhost::g_captured) out.swap(*orbhost::g_captured);
  return out;
}
