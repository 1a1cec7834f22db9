// The module's host-symbol table, its fixup export and the forwarders through
// which the module's code reaches the host. Linked into modules only.
//
// Static constructors of the module run inside dlopen, before the fixup: every
// forwarder copes with an empty slot.
#include "hostsymbols.h"

#define PVL_MODULE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

typedef void* (*GetContextFn)(void);
typedef int32_t (*SetContextFn)(void*);
typedef int32_t (*AtomicAddFn)(volatile int32_t*, int32_t);
typedef int32_t (*AtomicExchangeFn)(volatile int32_t*, int32_t);
typedef int32_t (*AtomicCompareAndExchangeFn)(volatile int32_t*, int32_t, int32_t);
typedef int32_t (*AtomicCompareOrAddFn)(volatile int32_t*, int32_t, int32_t);
typedef void (*DbgMessageFn)(const char*, int32_t, const char*, int32_t);
typedef void (*DbgEventFn)(uint32_t, uintptr_t);
typedef void (*DbgBreakFn)(uintptr_t);
typedef IEnv* (*EnvGetCurrentFn)(void);
typedef int32_t (*EnvCreateInstanceFn)(ZUEUID, void**);
typedef int32_t (*EnvInitFn)(void);

void* g_slots[PVL_HOST_SYMBOL_COUNT];

enum Slot {
  kTlsGet, kTlsSet, kAtomicAdd, kAtomicExchange, kAtomicCompareAndExchange, kAtomicCompareOrAdd,
  kDbgMessage, kDbgEvent, kDbgBreak, kPlsGet, kPlsSet, kEnvGetCurrent, kEnvCreateInstance, kEnvInit
};

struct HostSymbolEntry {
  const char* name;
  void** slot;
};

#if INTPTR_MAX == INT32_MAX  // the phone's layout: a 64-bit build widens its pointers
static_assert(sizeof(HostSymbolEntry) == 8, "a table entry is (name, slot)");
#endif

constexpr const char* kNames[PVL_HOST_SYMBOL_COUNT] = PVL_HOST_SYMBOL_NAMES;

// The table the host binds: (name, slot) in the fixed order.
constexpr HostSymbolEntry g_table[PVL_HOST_SYMBOL_COUNT] = {
    {kNames[0], &g_slots[0]},   {kNames[1], &g_slots[1]},   {kNames[2], &g_slots[2]},
    {kNames[3], &g_slots[3]},   {kNames[4], &g_slots[4]},   {kNames[5], &g_slots[5]},
    {kNames[6], &g_slots[6]},   {kNames[7], &g_slots[7]},   {kNames[8], &g_slots[8]},
    {kNames[9], &g_slots[9]},   {kNames[10], &g_slots[10]}, {kNames[11], &g_slots[11]},
    {kNames[12], &g_slots[12]}, {kNames[13], &g_slots[13]},
};
#if INTPTR_MAX == INT32_MAX  // the phone's layout: a 64-bit build widens its pointers
static_assert(sizeof(g_table) == 14 * 8, "fourteen (name, slot) pairs");
#endif

template <class Fn>
Fn SlotFn(Slot s) {
  return reinterpret_cast<Fn>(__atomic_load_n(&g_slots[s], __ATOMIC_ACQUIRE));
}

}  // namespace

PVL_MODULE_EXPORT int32_t ModImage_SymbolFixup(PvlSymbolResolver callback, void* context) {
  if (!callback) return 1;
  for (int i = 0; i < PVL_HOST_SYMBOL_COUNT; ++i) {
    const HostSymbolEntry& entry = g_table[i];
    void* address = nullptr;
    if (callback(context, entry.name, &address) != 0) return 1;
    __atomic_store_n(entry.slot, address, __ATOMIC_RELEASE);
  }
  return 0;
}

// --- Forwarders (hidden in the module) ---

extern "C" {

void* tls_tls_GetContext(void) {
  GetContextFn fn = SlotFn<GetContextFn>(kTlsGet);
  return fn ? fn() : nullptr;
}

int32_t tls_tls_SetContext(void* value) {
  SetContextFn fn = SlotFn<SetContextFn>(kTlsSet);
  return fn ? fn(value) : 1;
}

int32_t atomic_atomic_Add(volatile int32_t* counter, int32_t delta) {
  AtomicAddFn fn = SlotFn<AtomicAddFn>(kAtomicAdd);
  return fn ? fn(counter, delta) : __atomic_add_fetch(counter, delta, __ATOMIC_SEQ_CST);
}

int32_t atomic_atomic_Exchange(volatile int32_t* target, int32_t value) {
  AtomicExchangeFn fn = SlotFn<AtomicExchangeFn>(kAtomicExchange);
  return fn ? fn(target, value) : __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}

int32_t atomic_atomic_CompareAndExchange(volatile int32_t* target, int32_t value, int32_t comparand) {
  AtomicCompareAndExchangeFn fn = SlotFn<AtomicCompareAndExchangeFn>(kAtomicCompareAndExchange);
  if (fn) return fn(target, value, comparand);
  int32_t expected = comparand;
  __atomic_compare_exchange_n(target, &expected, value, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return expected;
}

int32_t atomic_atomic_CompareOrAdd(volatile int32_t* target, int32_t comparand, int32_t delta) {
  AtomicCompareOrAddFn fn = SlotFn<AtomicCompareOrAddFn>(kAtomicCompareOrAdd);
  if (fn) return fn(target, comparand, delta);
  int32_t old = __atomic_load_n(target, __ATOMIC_SEQ_CST);
  while (old != comparand &&
         !__atomic_compare_exchange_n(target, &old, old + delta, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST)) {
  }
  return old;
}

void dbg_dbg_Message(const char* text, int32_t level, const char* fileName, int32_t line) {
  DbgMessageFn fn = SlotFn<DbgMessageFn>(kDbgMessage);
  if (fn) fn(text, level, fileName, line);
}

void dbg_dbg_Event(uint32_t event, uintptr_t value) {
  DbgEventFn fn = SlotFn<DbgEventFn>(kDbgEvent);
  if (fn) fn(event, value);
}

void dbg_dbg_Break(uintptr_t value) {
  DbgBreakFn fn = SlotFn<DbgBreakFn>(kDbgBreak);
  if (fn) fn(value);
}

void* pls_pls_GetContext(void) {
  GetContextFn fn = SlotFn<GetContextFn>(kPlsGet);
  return fn ? fn() : nullptr;
}

int32_t pls_pls_SetContext(void* value) {
  SetContextFn fn = SlotFn<SetContextFn>(kPlsSet);
  return fn ? fn(value) : 1;
}

IEnv* env_env_GetCurrent(void) {
  EnvGetCurrentFn fn = SlotFn<EnvGetCurrentFn>(kEnvGetCurrent);
  return fn ? fn() : nullptr;
}

int32_t env_env_CreateInstance(ZUEUID clsid, void** out) {
  EnvCreateInstanceFn fn = SlotFn<EnvCreateInstanceFn>(kEnvCreateInstance);
  if (fn) return fn(clsid, out);
  if (out) *out = nullptr;
  return 1;  // not bound yet
}

int32_t env_env_Init(void) {
  EnvInitFn fn = SlotFn<EnvInitFn>(kEnvInit);
  return fn ? fn() : 1;
}

}  // extern "C"
