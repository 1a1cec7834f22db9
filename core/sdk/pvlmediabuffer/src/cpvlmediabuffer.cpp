// CPvlMediaBuffer: one frame buffer, returned to its owner at its last Release.
#include "cpvlmediabuffer.h"

#include "hostsymbols.h"
#include "ienv.h"
#include "ipropertystore.h"
#include "pvlheap.h"
#include "pvllog.h"
#include "pvlstring.h"

namespace {

// Readers copy [offset, offset + actual size): that range must stay inside the buffer.
bool InsideBuffer(uint32_t offset, uint32_t size, uint32_t capacity) {
  return static_cast<uint64_t>(offset) + size <= capacity;
}

}  // namespace

CPvlMediaBuffer::CPvlMediaBuffer(IPvlMediaBufferOwner* owner, IEnv* env)
    : m_link(0), m_count(0), m_owner(owner), m_virtual(0), m_physical(0), m_capacity(0), m_actualSize(0),
      m_offset(0), m_time1(0), m_time2(0), m_time3(0), m_flags(0), m_env(env), m_propertyFace(nullptr),
      m_attachedFlag(0) {
  if (!owner) PvlAssertBreak(0);
}

CPvlMediaBuffer::~CPvlMediaBuffer() {
  IPvlBase* face = m_propertyFace;
  m_propertyFace = nullptr;
  if (face) face->Release();
}

int32_t CPvlMediaBuffer::AddRef() { return atomic_atomic_Add(&m_count, 1); }

int32_t CPvlMediaBuffer::Release() {
  const int32_t left = atomic_atomic_Add(&m_count, -1);
  if (left < 0) {
    // A release with no reference left is the caller's bug: the buffer is
    // home already. It stays as it was, and the fault is reported.
    atomic_atomic_Add(&m_count, 1);
    PvlAssertBreak(reinterpret_cast<uintptr_t>(this));
    return 0;
  }
  if (left == 0) {
    if (m_owner) m_owner->BufferReturned(this);
    else PvlAssertBreak(reinterpret_cast<uintptr_t>(this));
  }
  return 0;
}

PvlResult CPvlMediaBuffer::QueryInterface(ZUEUID iid, void** out) {
  if (!out) return PVL_E_NULLPTR;
  *out = nullptr;
  if (iid == ZUEUID_IFACE_BASE || iid == ZUEUID_IFACE_MEDIA_BUFFER) {
    AddRef();
    *out = static_cast<IPvlMediaBuffer*>(this);
    return PVL_OK;
  }
  if (iid == ZUEUID_IFACE_MEDIA_ATTACHED_A || iid == ZUEUID_IFACE_MEDIA_ATTACHED_B) {
    if (m_attachedFlag && m_attached) return m_attached->QueryInterface(iid, out);
    return PVL_E_NOTSUPPORTED;
  }
  if (iid == ZUEUID_IFACE_PROPERTIES || iid == ZUEUID_IFACE_PROPERTIES_ALT) {
    IPvlBase* face = __atomic_load_n(&m_propertyFace, __ATOMIC_ACQUIRE);
    if (!face) {
      if (!m_env) return PVL_E_NOTSUPPORTED;
      CPvlPtr<IPropertyStore> store;
      PvlResult r = m_env->CreateInstance(ZUEUID_CLASS_PROPERTY_STORE, store.Out());
      if (r != PVL_OK) return r;
      if (!store) return PVL_E_FAIL;
      IProperties* made = nullptr;
      r = store->CreateBoundFace(static_cast<IPvlMediaBuffer*>(this), &made);
      if (r != PVL_OK) return r;
      if (!made) return PVL_E_FAIL;
      // Two first queries may race: one face is kept, the other dropped.
      IPvlBase* expected = nullptr;
      if (__atomic_compare_exchange_n(&m_propertyFace, &expected, static_cast<IPvlBase*>(made), false, __ATOMIC_ACQ_REL,
                                      __ATOMIC_ACQUIRE)) {
        face = made;
      } else {
        made->Release();
        face = expected;
      }
    }
    return face->QueryInterface(iid, out);
  }
  return PVL_E_NOTSUPPORTED;
}

PvlResult CPvlMediaBuffer::GetVirtualAddress(uint64_t* address) {
  if (!address) return PVL_E_NULLPTR;
  *address = m_virtual;
  return PVL_OK;
}

PvlResult CPvlMediaBuffer::GetPhysicalAddress(uint64_t* address) {
  if (!address) return PVL_E_NULLPTR;
  if (!(m_flags & PVL_MB_FLAG_PHYSICAL)) return PVL_E_VALUENOTPRESENT;
  *address = m_physical;
  return PVL_OK;
}

PvlResult CPvlMediaBuffer::GetCapacity(uint32_t* capacity) {
  if (!capacity) return PVL_E_NULLPTR;
  *capacity = m_capacity;
  return PVL_OK;
}

PvlResult CPvlMediaBuffer::GetActualSize(uint32_t* size) {
  if (!size) return PVL_E_NULLPTR;
  *size = m_actualSize;
  return PVL_OK;
}

PvlResult CPvlMediaBuffer::SetActualSize(uint32_t size) {
  if (!InsideBuffer(m_offset, size, m_capacity)) return PVL_E_BADARG;
  m_actualSize = size;
  return PVL_OK;
}

PvlResult CPvlMediaBuffer::GetOffset(uint32_t* offset) {
  if (!offset) return PVL_E_NULLPTR;
  *offset = m_offset;
  return PVL_OK;
}

PvlResult CPvlMediaBuffer::SetOffset(uint32_t offset) {
  if (!InsideBuffer(offset, m_actualSize, m_capacity)) return PVL_E_BADARG;
  m_offset = offset;
  return PVL_OK;
}

PvlResult CPvlMediaBuffer::GetTime(const uint64_t& value, uint32_t flag, uint64_t* time) const {
  if (!time) return PVL_E_NULLPTR;
  if (!(m_flags & flag)) return PVL_E_VALUENOTPRESENT;
  *time = value;
  return PVL_OK;
}

PvlResult CPvlMediaBuffer::GetTime1(uint64_t* time) { return GetTime(m_time1, PVL_MB_FLAG_TIME1, time); }
PvlResult CPvlMediaBuffer::GetTime2(uint64_t* time) { return GetTime(m_time2, PVL_MB_FLAG_TIME2, time); }
PvlResult CPvlMediaBuffer::GetTime3(uint64_t* time) { return GetTime(m_time3, PVL_MB_FLAG_TIME3, time); }

PvlResult CPvlMediaBuffer::SetTime1(uint64_t time) {
  m_time1 = time;
  m_flags |= PVL_MB_FLAG_TIME1;
  return PVL_OK;
}
PvlResult CPvlMediaBuffer::SetTime2(uint64_t time) {
  m_time2 = time;
  m_flags |= PVL_MB_FLAG_TIME2;
  return PVL_OK;
}
PvlResult CPvlMediaBuffer::SetTime3(uint64_t time) {
  m_time3 = time;
  m_flags |= PVL_MB_FLAG_TIME3;
  return PVL_OK;
}

PvlResult CPvlMediaBuffer::GetFlags(uint32_t* flags) {
  if (!flags) return PVL_E_NULLPTR;
  *flags = m_flags;
  return PVL_OK;
}

PvlResult CPvlMediaBuffer::SetFlags(uint32_t flags) {
  m_flags = (m_flags & ~PVL_MB_CLIENT_FLAGS) | (flags & PVL_MB_CLIENT_FLAGS);
  return PVL_OK;
}

PvlResult CPvlMediaBuffer::GetInfo(CPvlMediaBufferInfo* info) {
  if (!info) return PVL_E_NULLPTR;
  *info = CPvlMediaBufferInfo{};
  info->virtualAddress = m_virtual;
  if (m_flags & PVL_MB_FLAG_PHYSICAL) info->physicalAddress = m_physical;
  info->capacity = m_capacity;
  info->actualSize = m_actualSize;
  info->offset = m_offset;
  if (m_flags & PVL_MB_FLAG_TIME1) info->time1 = m_time1;
  if (m_flags & PVL_MB_FLAG_TIME2) info->time2 = m_time2;
  if (m_flags & PVL_MB_FLAG_TIME3) info->time3 = m_time3;
  info->flags = m_flags;
  return PVL_OK;
}

PvlResult CPvlMediaBuffer::SetInfo(const CPvlMediaBufferInfo* info) {
  if (!info) return PVL_E_NULLPTR;
  // The valid data must lie inside the buffer.
  if (!InsideBuffer(info->offset, info->actualSize, m_capacity)) return PVL_E_BADARG;
  m_actualSize = info->actualSize;
  m_offset = info->offset;
  if (info->flags & PVL_MB_FLAG_TIME1) m_time1 = info->time1;
  if (info->flags & PVL_MB_FLAG_TIME2) m_time2 = info->time2;
  if (info->flags & PVL_MB_FLAG_TIME3) m_time3 = info->time3;
  m_flags = (m_flags & ~PVL_MB_INFO_FLAGS) | (info->flags & PVL_MB_INFO_FLAGS);
  return PVL_OK;
}

PvlResult CPvlMediaBuffer::ClearTimes() {
  m_flags &= ~(PVL_MB_FLAG_TIME1 | PVL_MB_FLAG_TIME2 | PVL_MB_FLAG_TIME3);
  return PVL_OK;
}

void CPvlMediaBuffer::SetMemory(uint64_t virtualAddress, uint64_t physicalAddress, bool physicalValid,
                                uint32_t capacity) {
  m_virtual = virtualAddress;
  m_capacity = capacity;
  if (physicalValid) {
    m_physical = physicalAddress;
    m_flags |= PVL_MB_FLAG_PHYSICAL;
  } else {
    m_flags &= ~PVL_MB_FLAG_PHYSICAL;
  }
  if (!InsideBuffer(m_offset, m_actualSize, capacity)) {
    m_actualSize = 0;
    m_offset = 0;
  }
}

void CPvlMediaBuffer::Reset() {
  m_actualSize = 0;
  m_offset = 0;
  m_flags &= PVL_MB_FLAG_PHYSICAL;
}

void* CPvlMediaBuffer::operator new(size_t size) { return pvlheap_New(size); }
void* CPvlMediaBuffer::operator new(size_t size, const std::nothrow_t&) noexcept { return pvlheap_NewNoThrow(size); }
void CPvlMediaBuffer::operator delete(void* p) noexcept { pvlheap_Free(p); }
void CPvlMediaBuffer::operator delete(void* p, const std::nothrow_t&) noexcept { pvlheap_Free(p); }
