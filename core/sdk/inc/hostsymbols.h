// The host's entry points that every module binds at load time, and the two
// exports of a module image.
//
// The host (Orbhost) defines and exports the fourteen functions below under
// exactly these names; code linked with the host (the host itself, the driver,
// tests) calls them directly. A module instead carries hidden forwarders of the
// same names that call through its host-symbol table, which the host fills by
// calling the module's ModImage_SymbolFixup with a name-resolving callback.
#ifndef HOSTSYMBOLS_H
#define HOSTSYMBOLS_H

#include <stdint.h>

#include "pvlbase.h"

#ifdef __cplusplus
class IEnv;
extern "C" {
#else
typedef struct IEnv IEnv;
#endif

// --- The fourteen host entry points, in the order of the module's table. ---

// 1, 2: thread-local context word.
void* tls_tls_GetContext(void);
int32_t tls_tls_SetContext(void* value);
// 3: atomic add; returns the new value.
int32_t atomic_atomic_Add(volatile int32_t* counter, int32_t delta);
// 4: atomic exchange; returns the old value.
int32_t atomic_atomic_Exchange(volatile int32_t* target, int32_t value);
// 5: when *target equals comparand, stores value; returns the old value.
int32_t atomic_atomic_CompareAndExchange(volatile int32_t* target, int32_t value, int32_t comparand);
// 6: unless *target equals comparand, adds delta; returns the old value.
int32_t atomic_atomic_CompareOrAdd(volatile int32_t* target, int32_t comparand, int32_t delta);
// 7: one debug line (the log function's text, level, file name, line).
void dbg_dbg_Message(const char* text, int32_t level, const char* fileName, int32_t line);
// 8: a debug event (id, value).
void dbg_dbg_Event(uint32_t event, uintptr_t value);
// 9: assertion break: reports a broken precondition and returns.
void dbg_dbg_Break(uintptr_t value);
// 10, 11: process-local context word.
void* pls_pls_GetContext(void);
int32_t pls_pls_SetContext(void* value);
// 12: the current (process) environment, no reference added.
IEnv* env_env_GetCurrent(void);
// 13: creates an object by class where no environment is at hand
//     (ZUEUID_CLASS_ENV gives a fresh environment); 0 with one reference, or a code with *out null.
int32_t env_env_CreateInstance(ZUEUID clsid, void** out);
// 14: host initialisation hook; returns 0.
int32_t env_env_Init(void);

#define PVL_HOST_SYMBOL_COUNT 14

// The names in table order (what the fixup callback is asked to resolve).
#define PVL_HOST_SYMBOL_NAMES                                                              \
  {"tls_tls_GetContext", "tls_tls_SetContext", "atomic_atomic_Add", "atomic_atomic_Exchange", \
   "atomic_atomic_CompareAndExchange", "atomic_atomic_CompareOrAdd", "dbg_dbg_Message",        \
   "dbg_dbg_Event", "dbg_dbg_Break", "pls_pls_GetContext", "pls_pls_SetContext",              \
   "env_env_GetCurrent", "env_env_CreateInstance", "env_env_Init"}

// --- The module image's two exports. ---

// Callback of the fixup: stores the address of the named entry point into *slot
// and returns 0, or returns non-zero when it cannot resolve the name.
typedef int32_t (*PvlSymbolResolver)(void* context, const char* name, void** slot);

// Walks the 14 entries in order; the first non-zero callback result stops the
// walk and gives 1; after all 14, 0.
typedef int32_t (*PvlModImageSymbolFixupFn)(PvlSymbolResolver callback, void* context);

// Creates the module object: only ZUEUID_CLASS_MODULE (else 3, *out untouched).
// *out receives a PvlModule* (null when the allocation failed).
typedef int32_t (*PvlIModNewFn)(IEnv* env, ZUEUID clsid, void** out);

#define PVL_EXPORT_SYMBOL_FIXUP "ModImage_SymbolFixup"
#define PVL_EXPORT_IMOD_NEW "IMod_New"

// Each module's class switch, which IMod_New's module object calls for every class
// the module makes: 3 for a class it does not make.
int32_t Mod_ClassFactory(IEnv* env, ZUEUID clsid, void* argument, void** out);

// --- The module object: ten 32-bit words carrying their own table. ---
//
// Call it through ops, never as a C++ interface: the table is hand-made.

typedef struct PvlModule PvlModule;

// A module's class switch: (environment, class identifier, argument, &out).
typedef int32_t (*PvlClassFactory)(IEnv* env, ZUEUID clsid, void* argument, void** out);

typedef struct PvlModuleOps {
  int32_t (*AddRef)(PvlModule* self);
  int32_t (*Release)(PvlModule* self);
  int32_t (*QueryInterface)(PvlModule* self, ZUEUID iid, void** out);
  int32_t (*ReturnSuccess)(PvlModule* self);
  int32_t (*CreateInstance)(PvlModule* self, ZUEUID clsid, void* argument, void** out);
  int32_t (*ReturnArgument)(PvlModule* self, int32_t value);
} PvlModuleOps;

struct PvlModule {
  const PvlModuleOps* ops;  // word 0: points at the table below
  PvlModuleOps table;       // words 1-6
  volatile int32_t count;   // word 7: 1 at creation
  IEnv* env;                // word 8: not referenced; must outlive the module object
  PvlClassFactory factory;  // word 9: the module's class switch
};

#ifdef __cplusplus
}  // extern "C"
#if INTPTR_MAX == INT32_MAX  // the phone's layout: a 64-bit build widens its pointers
static_assert(sizeof(PvlModuleOps) == 24, "module table is six words");
static_assert(sizeof(PvlModule) == 40, "module object is ten words");
static_assert(__builtin_offsetof(PvlModule, count) == 28, "count is word 7");
static_assert(__builtin_offsetof(PvlModule, env) == 32, "environment is word 8");
static_assert(__builtin_offsetof(PvlModule, factory) == 36, "class switch is word 9");
#endif

// The address of the named host entry point in this program (null for any other
// name): what a host's fixup callback stores into the module's slot.
inline void* PvlHostSymbolAddress(const char* name) {
  static const struct {
    const char* name;
    void* address;
  } kSymbols[PVL_HOST_SYMBOL_COUNT] = {
      {"tls_tls_GetContext", reinterpret_cast<void*>(&tls_tls_GetContext)},
      {"tls_tls_SetContext", reinterpret_cast<void*>(&tls_tls_SetContext)},
      {"atomic_atomic_Add", reinterpret_cast<void*>(&atomic_atomic_Add)},
      {"atomic_atomic_Exchange", reinterpret_cast<void*>(&atomic_atomic_Exchange)},
      {"atomic_atomic_CompareAndExchange", reinterpret_cast<void*>(&atomic_atomic_CompareAndExchange)},
      {"atomic_atomic_CompareOrAdd", reinterpret_cast<void*>(&atomic_atomic_CompareOrAdd)},
      {"dbg_dbg_Message", reinterpret_cast<void*>(&dbg_dbg_Message)},
      {"dbg_dbg_Event", reinterpret_cast<void*>(&dbg_dbg_Event)},
      {"dbg_dbg_Break", reinterpret_cast<void*>(&dbg_dbg_Break)},
      {"pls_pls_GetContext", reinterpret_cast<void*>(&pls_pls_GetContext)},
      {"pls_pls_SetContext", reinterpret_cast<void*>(&pls_pls_SetContext)},
      {"env_env_GetCurrent", reinterpret_cast<void*>(&env_env_GetCurrent)},
      {"env_env_CreateInstance", reinterpret_cast<void*>(&env_env_CreateInstance)},
      {"env_env_Init", reinterpret_cast<void*>(&env_env_Init)},
  };
  if (!name) return nullptr;
  for (const auto& s : kSymbols)
    if (__builtin_strcmp(s.name, name) == 0) return s.address;
  return nullptr;
}
#endif

#endif
