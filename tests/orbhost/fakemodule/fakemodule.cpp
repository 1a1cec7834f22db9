// A small module image for the loader tests, built in several variants (see
// CMakeLists.txt): it binds its host-symbol table, makes its module object through
// the environment and creates probe objects by class.
#include <atomic>
#include <chrono>
#include <cstring>
#include <new>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "hostsymbols.h"
#include "ienv.h"
#include "probe.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

void* g_slots[PVL_HOST_SYMBOL_COUNT];
#ifdef FAKE_BAD_SYMBOL
const char* const g_names[PVL_HOST_SYMBOL_COUNT] = {
    "tls_tls_GetContext", "tls_tls_SetContext", "atomic_atomic_Bogus", "atomic_atomic_Exchange",
    "atomic_atomic_CompareAndExchange", "atomic_atomic_CompareOrAdd", "dbg_dbg_Message", "dbg_dbg_Event",
    "dbg_dbg_Break", "pls_pls_GetContext", "pls_pls_SetContext", "env_env_GetCurrent",
    "env_env_CreateInstance", "env_env_Init"};
#else
const char* const g_names[PVL_HOST_SYMBOL_COUNT] = PVL_HOST_SYMBOL_NAMES;
#endif
int32_t g_boundBeforeNew = 0;

#ifdef FAKE_GLOBAL_CTOR
// Globals with constructors that run when the image is mapped, before the host is bound: a real
// module's allocation there reaches the unbound framework heap and aborts the process.
struct HeapBeforeBinding {
  HeapBeforeBinding() {
    if (!g_slots[0]) std::abort();
  }
};
HeapBeforeBinding g_heapUser;
std::vector<std::string> g_modeNames = {"preview", "still"};
#endif

int32_t Add(volatile int32_t* p, int32_t d) {
  return reinterpret_cast<int32_t (*)(volatile int32_t*, int32_t)>(g_slots[2])(p, d);
}

class Probe final : public IFakeProbe {
 public:
  Probe(void* argument, IPvlBase* inner) : m_argument(argument), m_inner(inner) {}
  int32_t AddRef() override { return Add(&m_count, 1); }
  int32_t Release() override {
    int32_t n = Add(&m_count, -1);
    if (n == 0) {
      if (m_inner) m_inner->Release();
      delete this;
    }
    return n;
  }
  PvlResult QueryInterface(ZUEUID iid, void** out) override {
    if (!out) return PVL_E_NULLPTR;
    if (iid == ZUEUID_IFACE_BASE || iid == FAKE_IFACE_PROBE) {
      AddRef();
      *out = static_cast<IFakeProbe*>(this);
      return PVL_OK;
    }
    *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }
  const char* ModuleName() override { return FAKE_MODULE_NAME; }
  int32_t BoundBeforeNew() override { return g_boundBeforeNew; }
  void* CreationArgument() override { return m_argument; }
  IPvlBase* Inner() override { return m_inner; }

 private:
  volatile int32_t m_count = 1;
  void* m_argument;
  IPvlBase* m_inner;
};

#ifndef FAKE_NO_NEW
int32_t ClassSwitch(IEnv* env, ZUEUID clsid, void* argument, void** out) {
  IPvlBase* inner = nullptr;
  switch (clsid) {
#ifdef FAKE_ALPHA
    case FAKE_CLASS_ALPHA_PROBE:
      break;
    case FAKE_CLASS_ALPHA_NESTED: {
      // A creation inside a creation, reaching another module through the host.
      auto create = reinterpret_cast<int32_t (*)(ZUEUID, void**)>(g_slots[12]);
      int32_t r = create(FAKE_CLASS_BETA_PROBE, reinterpret_cast<void**>(&inner));
      if (r != PVL_OK) return r;
      break;
    }
#endif
#ifdef FAKE_BETA
    case FAKE_CLASS_BETA_PROBE:
    case FAKE_CLASS_SHARED:
      break;
#endif
    default:
      (void)env;
      return PVL_E_NOTSUPPORTED;
  }
  *out = static_cast<IFakeProbe*>(new Probe(argument, inner));
  return PVL_OK;
}

int32_t ModAddRef(PvlModule* self) { return Add(&self->count, 1); }
int32_t ModRelease(PvlModule* self) {
  int32_t n = Add(&self->count, -1);
  if (n == 0) {
    void* block = self;
    self->env->Realloc(0, &block);
  }
  return n;
}
int32_t ModQueryInterface(PvlModule* self, ZUEUID iid, void** out) {
  if (iid == ZUEUID_IFACE_BASE || iid == ZUEUID_CLASS_MODULE) {
    ModAddRef(self);
    *out = self;
    return PVL_OK;
  }
  *out = nullptr;
  return PVL_E_NOTSUPPORTED;
}
int32_t ModReturnSuccess(PvlModule*) { return PVL_OK; }
int32_t ModCreateInstance(PvlModule* self, ZUEUID clsid, void* argument, void** out) {
  return self->factory(self->env, clsid, argument, out);
}
int32_t ModReturnArgument(PvlModule*, int32_t value) { return value; }
#endif

}  // namespace

EXPORT int32_t ModImage_SymbolFixup(PvlSymbolResolver callback, void* context) {
  for (int i = 0; i < PVL_HOST_SYMBOL_COUNT; ++i)
    if (callback(context, g_names[i], &g_slots[i]) != 0) return 1;
  return 0;
}

#ifndef FAKE_NO_NEW
EXPORT int32_t IMod_New(IEnv* env, ZUEUID clsid, void** out) {
  if (clsid != ZUEUID_CLASS_MODULE) return PVL_E_NOTSUPPORTED;
  g_boundBeforeNew = 1;
  for (void* slot : g_slots)
    if (!slot) g_boundBeforeNew = 0;
#ifdef FAKE_FAIL_NEW
  *out = nullptr;
  return PVL_E_OUTOFMEMORY;
#endif
#ifdef FAKE_SLOW_NEW
  // Widens the window in which other threads ask for the module being mapped.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
#endif
  void* block = nullptr;
  int32_t r = env->Realloc(sizeof(PvlModule), &block);
  if (r != PVL_OK) {
    *out = nullptr;
    return r;
  }
  auto* m = static_cast<PvlModule*>(block);
  m->ops = &m->table;
  m->table = PvlModuleOps{ModAddRef, ModRelease, ModQueryInterface, ModReturnSuccess, ModCreateInstance,
                          ModReturnArgument};
  m->count = 1;
  m->env = env;
  m->factory = ClassSwitch;
  *out = m;
  return PVL_OK;
}
#endif
