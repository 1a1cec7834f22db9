// CPvlVariant: one tagged value as an object.
#include "cpvlvariant.h"
#include "pvlheap.h"
#include "pvllog.h"

namespace {

inline void MakeEmpty(PvlValueRecord* r, uint32_t type) {
  r->type = type;
  r->reserved = 0;
  r->payload = PvlValuePayload{};
}

}  // namespace

CPvlVariant::CPvlVariant() : PvlValueRecord{}, m_status(PVL_OK), m_owns(false) {}

CPvlVariant::CPvlVariant(float value) : CPvlVariant() { SetFloat(value); }
CPvlVariant::CPvlVariant(int32_t value) : CPvlVariant() { SetInt(value, PVL_VT_SINT32); }
CPvlVariant::CPvlVariant(int32_t value, uint32_t type) : CPvlVariant() { SetInt(value, type); }
CPvlVariant::CPvlVariant(int64_t eightBytes) : CPvlVariant() { SetEightBytes(eightBytes); }
CPvlVariant::CPvlVariant(uint32_t value) : CPvlVariant() { SetUInt32(value); }
CPvlVariant::CPvlVariant(const CPvlRect& rect) : CPvlVariant() { SetRect(rect); }
CPvlVariant::CPvlVariant(const CPvlPair& pair) : CPvlVariant() { SetPair(pair); }
CPvlVariant::CPvlVariant(const PvlValueRecord* records, int32_t count, bool deep) : CPvlVariant() {
  SetArray(records, count, deep);
}

CPvlVariant::~CPvlVariant() { Clear(); }

void CPvlVariant::Clear() {
  // An interface value always holds its reference; other payloads only when owned.
  if (m_owns || type == PVL_VT_INTERFACE) PvlValue_Clear(this);
  MakeEmpty(this, PVL_VT_EMPTY);
  m_owns = false;
}

void CPvlVariant::ClearForType(uint32_t newType) {
  if (type != newType || PvlValue_IsArrayType(type) || type == PVL_VT_INTERFACE) Clear();
  MakeEmpty(this, newType);
  m_status = PVL_OK;
}

void CPvlVariant::SetFloat(float value) {
  ClearForType(PVL_VT_FLOAT);
  payload.f = value;
}

PvlResult CPvlVariant::SetInt(int32_t value, uint32_t newType) {
  if (newType != PVL_VT_INT32 && newType != PVL_VT_SINT32) {
    Clear();
    m_status = PVL_E_NOTREADY;
    PvlAssertBreak(newType);
    return m_status;
  }
  ClearForType(newType);
  payload.i32 = value;
  return PVL_OK;
}

void CPvlVariant::SetEightBytes(int64_t value) {
  ClearForType(PVL_VT_8BYTES);
  payload.i64 = value;
}

void CPvlVariant::SetUInt32(uint32_t value) {
  ClearForType(PVL_VT_UINT32);
  payload.u32 = value;
}

void CPvlVariant::SetRect(const CPvlRect& rect) {
  ClearForType(PVL_VT_RECT);
  payload.rect = rect;
}

void CPvlVariant::SetPair(const CPvlPair& pair) {
  ClearForType(PVL_VT_PAIR);
  payload.pair = pair;
}

PvlResult CPvlVariant::SetArray(const PvlValueRecord* records, int32_t count, bool deep) {
  if (!deep || !records) {
    if (records == nullptr && deep && count != 0) {
      m_status = PVL_E_BADARG;
      return m_status;
    }
    ClearForType(PVL_VT_ARRAY);
    return PVL_OK;
  }
  if (count < 0) {
    m_status = PVL_E_BADARG;
    return m_status;
  }
  if (records == this) return PVL_OK;  // its own record: nothing to do
  // The source may be (inside) the current value: build the copy first.
  PvlValueRecord* array = nullptr;
  if (count > 0) {
    if (static_cast<uint64_t>(count) * sizeof(PvlValueRecord) > PVLHEAP_MAX_REQUEST) {
      m_status = PVL_E_OUTOFMEMORY;
      return m_status;
    }
    array = static_cast<PvlValueRecord*>(pvlheap_NewNoThrow(static_cast<size_t>(count) * sizeof(PvlValueRecord)));
    if (!array) {
      m_status = PVL_E_OUTOFMEMORY;
      return m_status;
    }
    for (int32_t i = 0; i < count; ++i) {
      array[i] = PvlValueRecord{};
      const PvlResult r = PvlValue_Copy(&array[i], &records[i], true);
      if (r != PVL_OK) {
        for (int32_t j = 0; j < i; ++j) PvlValue_Clear(&array[j]);
        pvlheap_Free(array);
        m_status = r;
        return r;
      }
    }
  }
  ClearForType(PVL_VT_ARRAY);
  payload.array.data = array;
  payload.array.capacity = count;
  payload.array.filled = count;  // the variant holds all count records
  m_owns = true;
  return PVL_OK;
}
