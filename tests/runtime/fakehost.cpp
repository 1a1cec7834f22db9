#include "fakehost.h"

#include <cstdlib>
#include <cstring>

#include "hostsymbols.h"
#include "plindor.h"

namespace runtime_test {

namespace {

std::mutex g_captureMutex;
std::vector<DebugLine> g_debug;
std::vector<DiagLine> g_diag;
uint32_t g_breaks = 0;
uintptr_t g_lastBreak = 0;

}  // namespace

FakeEnv& Env() {
  static FakeEnv env;
  return env;
}

int32_t FakeEnv::AddRef() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return ++m_refs;
}

int32_t FakeEnv::Release() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return --m_refs;  // static: never freed
}

PvlResult FakeEnv::QueryInterface(ZUEUID iid, void** out) {
  if (!out) return PVL_E_NULLPTR;
  if (iid == ZUEUID_IFACE_BASE || iid == ZUEUID_IFACE_ENV) {
    AddRef();
    *out = static_cast<IEnv*>(this);
    return PVL_OK;
  }
  *out = nullptr;
  return PVL_E_NOTSUPPORTED;
}

PvlResult FakeEnv::Realloc(uint32_t size, void** block) { return DoRealloc(size, block, "untagged"); }

PvlResult FakeEnv::ReallocTagged(uint32_t size, void** block, const char* tag) {
  return DoRealloc(size, block, tag ? tag : "untagged");
}

PvlResult FakeEnv::DoRealloc(uint32_t size, void** block, const char* tag) {
  if (!block) return PVL_E_NULLPTR;
  std::lock_guard<std::mutex> lock(m_mutex);
  ++m_calls;
  m_lastSize = size;
  m_lastTag = tag;
  if (*block && m_blocks.find(*block) == m_blocks.end()) return PVL_E_BADARG;
  if (size == 0) {
    if (*block) {
      m_blocks.erase(*block);
      std::free(*block);
    }
    *block = nullptr;
    return PVL_OK;
  }
  if (m_failIn && --m_failIn == 0) return PVL_E_OUTOFMEMORY;
  if (size > 0x10000000u) return PVL_E_OUTOFMEMORY;  // far beyond any test
  void* p = std::realloc(*block, size);
  if (!p) return PVL_E_OUTOFMEMORY;
  if (*block) m_blocks.erase(*block);
  m_blocks[p] = tag;
  *block = p;
  return PVL_OK;
}

PvlResult FakeEnv::CreateInstance(ZUEUID clsid, void** out) {
  if (!out) return PVL_E_NULLPTR;
  *out = nullptr;
  if (clsid == ZUEUID_CLASS_ENV) {
    AddRef();
    *out = static_cast<IEnv*>(this);
    return PVL_OK;
  }
  Factory factory;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_factories.find(clsid);
    if (it == m_factories.end()) return PVL_E_NOTSUPPORTED;
    factory = it->second;
  }
  return factory(out);
}

void FakeEnv::Reset() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_refs = 1;
  m_lastSize = 0;
  m_lastTag.clear();
  m_calls = 0;
  m_failIn = 0;
  m_factories.clear();
  // Blocks left by a test are that test's leak; forget them here.
  for (auto& b : m_blocks) std::free(b.first);
  m_blocks.clear();
}

int32_t FakeEnv::RefCount() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_refs;
}

size_t FakeEnv::LiveBlocks() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_blocks.size();
}

size_t FakeEnv::LiveBlocksTagged(const std::string& suffix) {
  std::lock_guard<std::mutex> lock(m_mutex);
  size_t n = 0;
  for (auto& b : m_blocks) {
    if (b.second.size() >= suffix.size() && b.second.compare(b.second.size() - suffix.size(), suffix.size(), suffix) == 0)
      ++n;
  }
  return n;
}

uint32_t FakeEnv::LastSize() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_lastSize;
}

std::string FakeEnv::LastTag() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_lastTag;
}

uint32_t FakeEnv::ReallocCalls() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_calls;
}

void FakeEnv::FailNth(uint32_t n) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_failIn = n;
}

void FakeEnv::Register(ZUEUID clsid, Factory factory) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_factories[clsid] = std::move(factory);
}

std::vector<DebugLine> DebugLines() {
  std::lock_guard<std::mutex> lock(g_captureMutex);
  return g_debug;
}

std::vector<DiagLine> DiagLines() {
  std::lock_guard<std::mutex> lock(g_captureMutex);
  return g_diag;
}

uint32_t BreakCount() {
  std::lock_guard<std::mutex> lock(g_captureMutex);
  return g_breaks;
}

uintptr_t LastBreakValue() {
  std::lock_guard<std::mutex> lock(g_captureMutex);
  return g_lastBreak;
}

void ResetHost() {
  {
    std::lock_guard<std::mutex> lock(g_captureMutex);
    g_debug.clear();
    g_diag.clear();
    g_breaks = 0;
    g_lastBreak = 0;
  }
  Env().Reset();
}

}  // namespace runtime_test

using runtime_test::Env;

// --- The host's entry points, as the host exports them. ---
extern "C" {

namespace {
thread_local void* t_tls = nullptr;
void* g_pls = nullptr;
}  // namespace

void* tls_tls_GetContext(void) { return t_tls; }
int32_t tls_tls_SetContext(void* value) {
  t_tls = value;
  return 0;
}
int32_t atomic_atomic_Add(volatile int32_t* counter, int32_t delta) {
  return __atomic_add_fetch(counter, delta, __ATOMIC_SEQ_CST);
}
int32_t atomic_atomic_Exchange(volatile int32_t* target, int32_t value) {
  return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}
int32_t atomic_atomic_CompareAndExchange(volatile int32_t* target, int32_t value, int32_t comparand) {
  int32_t expected = comparand;
  __atomic_compare_exchange_n(target, &expected, value, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return expected;
}
int32_t atomic_atomic_CompareOrAdd(volatile int32_t* target, int32_t comparand, int32_t delta) {
  int32_t old = __atomic_load_n(target, __ATOMIC_SEQ_CST);
  while (old != comparand &&
         !__atomic_compare_exchange_n(target, &old, old + delta, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST)) {
  }
  return old;
}
void dbg_dbg_Message(const char* text, int32_t level, const char* fileName, int32_t line) {
  std::lock_guard<std::mutex> lock(runtime_test::g_captureMutex);
  runtime_test::g_debug.push_back({text ? text : "", level, fileName ? fileName : "", line});
}
void dbg_dbg_Event(uint32_t, uintptr_t) {}
void dbg_dbg_Break(uintptr_t value) {
  std::lock_guard<std::mutex> lock(runtime_test::g_captureMutex);
  ++runtime_test::g_breaks;
  runtime_test::g_lastBreak = value;
}
void* pls_pls_GetContext(void) { return g_pls; }
int32_t pls_pls_SetContext(void* value) {
  g_pls = value;
  return 0;
}
IEnv* env_env_GetCurrent(void) { return &Env(); }
int32_t env_env_CreateInstance(ZUEUID clsid, void** out) { return Env().CreateInstance(clsid, out); }
int32_t env_env_Init(void) { return 0; }

void DiagMessageSend(const char* fileName, uint32_t line, uint32_t levelMask, const char* text, uint32_t) {
  std::lock_guard<std::mutex> lock(runtime_test::g_captureMutex);
  runtime_test::g_diag.push_back({fileName ? fileName : "", line, levelMask, text ? text : ""});
}

}  // extern "C"
