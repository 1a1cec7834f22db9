// pvlheap: every dynamic allocation of a module goes through here to the
// environment's tagged allocator, with an 8-byte header naming the owner.
#include "pvlheap.h"

#include <new>

#include "hostsymbols.h"
#include "ienv.h"

#define PVLHEAP_TAG(line) "core/sdk/pvlheap/src/pvlheap.cpp:" #line

namespace {

const char kTagDefault[] = PVLHEAP_TAG(172);
const char kTagNew[] = PVLHEAP_TAG(224);
const char kTagNewArray[] = PVLHEAP_TAG(237);
const char kTagNewNoThrow[] = PVLHEAP_TAG(244);
const char kTagFree[] = PVLHEAP_TAG(404);

class PvlBadAlloc : public std::bad_alloc {
 public:
  const char* what() const noexcept override { return "bad allocation"; }
};

}  // namespace

pvlheap_BlockHeaderRecord* pvlheap_BlockHeader(void* user) {
  return user ? reinterpret_cast<pvlheap_BlockHeaderRecord*>(static_cast<char*>(user) - sizeof(pvlheap_BlockHeaderRecord))
              : nullptr;
}

void* pvlheap_Realloc(void* old, uint32_t size, IEnv* env, const char* tag) {
  void* header = nullptr;
  uint32_t holdsRef = 0;
  if (old) {
    pvlheap_BlockHeaderRecord* h = pvlheap_BlockHeader(old);
    header = h;
    env = h->env;
    holdsRef = h->holdsRef;
  } else if (size == 0) {
    return nullptr;  // freeing nothing
  }
  // The header must fit in the 32-bit size; a request that would wrap is refused.
  if (size > PVLHEAP_MAX_REQUEST) return nullptr;
  const uint32_t total = size > 0 ? size + static_cast<uint32_t>(sizeof(pvlheap_BlockHeaderRecord)) : 0;

  bool created = false;
  if (!env) {
    void* fresh = nullptr;
    if (env_env_CreateInstance(ZUEUID_CLASS_ENV, &fresh) == PVL_OK && fresh) {
      env = static_cast<IEnv*>(fresh);
      holdsRef = 1;
      created = true;
    }
  }
  if (!env) return nullptr;
  if (!tag) tag = kTagDefault;

  void* block = header;
  const PvlResult r = env->ReallocTagged(total, &block, tag);

  if (total == 0) {
    // A free: the block's reference on its environment goes with it. When the
    // environment refused the free, the block (and its reference) stays.
    if (r == PVL_OK && holdsRef) env->Release();
    return nullptr;
  }
  if (r != PVL_OK || !block) {
    // Failed allocation or resize: the old block, its header and its
    // reference stay as they were; only a reference taken for this call goes.
    if (created) env->Release();
    return nullptr;
  }
  pvlheap_BlockHeaderRecord* h = static_cast<pvlheap_BlockHeaderRecord*>(block);
  h->env = env;
  h->holdsRef = holdsRef;
  return static_cast<char*>(block) + sizeof(pvlheap_BlockHeaderRecord);
}

void* pvlheap_Malloc(uint32_t size, IEnv* env, const char* tag) {
  try {
    return pvlheap_Realloc(nullptr, size == 0 ? 1 : size, env, tag);
  } catch (...) {
    return nullptr;
  }
}

void* pvlheap_NewOrThrow(void* block) {
  if (!block) throw PvlBadAlloc();
  return block;
}

void* pvlheap_New(size_t size) {
  return pvlheap_NewOrThrow(pvlheap_Malloc(static_cast<uint32_t>(size), nullptr, kTagNew));
}

void* pvlheap_NewArray(size_t size) {
  return pvlheap_NewOrThrow(pvlheap_Malloc(static_cast<uint32_t>(size), nullptr, kTagNewArray));
}

void* pvlheap_NewNoThrow(size_t size) { return pvlheap_Malloc(static_cast<uint32_t>(size), nullptr, kTagNewNoThrow); }

void pvlheap_Free(void* p) {
  if (!p) return;
  try {
    pvlheap_Realloc(p, 0, nullptr, kTagFree);
  } catch (...) {
  }
}

void pvlheap_FreeArray(void* p) { pvlheap_Free(p); }
void pvlheap_FreeScalar(void* p) { pvlheap_Free(p); }

PvlResult Heap_AllocBlock(IEnv* heap, uint32_t size, void** out) {
  if (!out) return PVL_E_NULLPTR;
  *out = nullptr;
  if (!heap) return PVL_E_NULLPTR;
  return heap->Realloc(size, out);
}

PvlResult Heap_FreeBlock(IEnv* heap, void** block) {
  if (!heap || !block) return PVL_E_NULLPTR;
  return heap->Realloc(0, block);
}
