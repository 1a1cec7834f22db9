// IMod_New and the module object. Linked into modules only; each module
// supplies its class switch as Mod_ClassFactory.
#include "hostsymbols.h"
#include "ienv.h"

namespace {

int32_t Mod_AddRef(PvlModule* self) { return atomic_atomic_Add(&self->count, 1); }

int32_t Mod_Release(PvlModule* self) {
  const int32_t count = atomic_atomic_Add(&self->count, -1);
  if (count == 0) {
    void* block = self;
    self->env->Realloc(0, &block);
  }
  return count;
}

int32_t Mod_QueryInterface(PvlModule* self, ZUEUID iid, void** out) {
  if (!out) return PVL_E_NULLPTR;
  if (iid == ZUEUID_IFACE_BASE || iid == ZUEUID_CLASS_MODULE) {
    Mod_AddRef(self);
    *out = self;
    return PVL_OK;
  }
  *out = nullptr;
  return PVL_E_NOTSUPPORTED;
}

int32_t Mod_ReturnSuccess(PvlModule*) { return PVL_OK; }

int32_t Mod_CreateInstance(PvlModule* self, ZUEUID clsid, void* argument, void** out) {
  if (!out) return PVL_E_NULLPTR;
  return self->factory(self->env, clsid, argument, out);
}

int32_t Mod_ReturnArgument(PvlModule*, int32_t value) { return value; }

}  // namespace

extern "C" __attribute__((visibility("default"))) int32_t IMod_New(IEnv* env, ZUEUID clsid, void** out) {
  if (clsid != ZUEUID_CLASS_MODULE) return PVL_E_NOTSUPPORTED;
  if (!out) return PVL_E_NULLPTR;
  if (!env) {
    *out = nullptr;
    return PVL_E_NULLPTR;
  }
  void* block = nullptr;
  PvlResult r = env->Realloc(sizeof(PvlModule), &block);
  if (r != PVL_OK || !block) {
    *out = nullptr;
    return r != PVL_OK ? r : PVL_E_OUTOFMEMORY;
  }
  PvlModule* module = static_cast<PvlModule*>(block);
  module->table.AddRef = Mod_AddRef;
  module->table.Release = Mod_Release;
  module->table.QueryInterface = Mod_QueryInterface;
  module->table.ReturnSuccess = Mod_ReturnSuccess;
  module->table.CreateInstance = Mod_CreateInstance;
  module->table.ReturnArgument = Mod_ReturnArgument;
  module->ops = &module->table;
  module->count = 1;
  module->env = env;  // not referenced: the host keeps it alive
  module->factory = Mod_ClassFactory;
  *out = module;
  return PVL_OK;
}
