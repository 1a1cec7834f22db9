// CPvlObject: reference counting, interface query and aggregation.
#include "cpvlobject.h"

#include "hostsymbols.h"
#include "ienv.h"
#include "pvlheap.h"
#include "pvllog.h"

CPvlObject::CPvlObject(IEnv* env) : m_count(0), m_outer(nullptr), m_env(env) {
  if (!env) PvlAssertBreak(0);
  CPvlObject::SetOuter(nullptr);
}

CPvlObject::~CPvlObject() = default;  // drops the owner and the environment

int32_t CPvlObject::AddRef() { return atomic_atomic_Add(&m_count, 1); }

int32_t CPvlObject::Release() {
  const int32_t count = atomic_atomic_Add(&m_count, -1);
  if (count == 0) {
    if (m_owner) {
      this->~CPvlObject();  // embedded: the memory belongs to the owner
    } else {
      // The block may live in this object's environment: keep it alive until
      // the memory is back.
      CPvlPtr<IEnv> env(m_env.Get());
      delete this;
    }
  }
  return count;
}

PvlResult CPvlObject::QueryInterface(ZUEUID iid, void** out) {
  if (!out) return PVL_E_NULLPTR;
  IPvlBase* face = nullptr;
  if (iid == ZUEUID_IFACE_BASE || iid == ZUEUID_IFACE_OBJECT) face = static_cast<IPvlBase*>(this);
  else if (iid == ZUEUID_IFACE_DELEGATE) face = &m_delegate;
  if (!face) {
    *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }
  face->AddRef();
  *out = face;
  return PVL_OK;
}

PvlResult CPvlObject::SetOuter(IPvlBase* outer) {
  if (!outer) {
    m_outer = static_cast<IPvlBase*>(this);
    return PVL_OK;
  }
  if (m_owner) return PVL_E_OUTERREFUSED;
  m_outer = outer;
  while (m_count > 1) {
    outer->AddRef();
    atomic_atomic_Add(&m_count, -1);
  }
  return PVL_OK;
}

void CPvlObject::SetOwner(IPvlBase* owner) { m_owner = owner; }

void* CPvlObject::operator new(size_t size) { return pvlheap_New(size); }
void* CPvlObject::operator new(size_t size, const std::nothrow_t&) noexcept { return pvlheap_NewNoThrow(size); }
void CPvlObject::operator delete(void* p) noexcept { pvlheap_Free(p); }
void CPvlObject::operator delete(void* p, const std::nothrow_t&) noexcept { pvlheap_Free(p); }

// The face sits right after the primary table pointer.
CPvlObject* CPvlObject::CDelegateFace::Self() {
  return reinterpret_cast<CPvlObject*>(reinterpret_cast<char*>(this) - sizeof(void*));
}
int32_t CPvlObject::CDelegateFace::AddRef() { return Self()->GetOuter()->AddRef(); }
int32_t CPvlObject::CDelegateFace::Release() { return Self()->GetOuter()->Release(); }
PvlResult CPvlObject::CDelegateFace::QueryInterface(ZUEUID iid, void** out) {
  return Self()->GetOuter()->QueryInterface(iid, out);
}
