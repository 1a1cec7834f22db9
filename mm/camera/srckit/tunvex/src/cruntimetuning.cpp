#include <cstring>
#include <new>

#include "cruntimetuning.h"
#include "pvlheap.h"

namespace {
constexpr uint16_t kMaxItems = 0xFFFF;  // indices are 16 bits
}

PvlResult CRuntimeTuning::New(IEnv* env, CRuntimeTuning** out) {
  if (!out) return PVL_E_NULLPTR;
  *out = nullptr;
  if (!env) return PVL_E_NULLPTR;
  CRuntimeTuning* self = new (std::nothrow) CRuntimeTuning(env);
  if (!self) return PVL_E_OUTOFMEMORY;
  self->GetDelegate()->AddRef();
  *out = self;
  return PVL_OK;
}

CRuntimeTuning::CRuntimeTuning(IEnv* env) : CPvlObject(env), m_face(this), m_items(nullptr), m_count(0), m_capacity(0) {}

CRuntimeTuning::~CRuntimeTuning() {
  // The registered values belong to the owner; only the records are ours.
  if (m_items) pvlheap_Realloc(m_items, 0, GetEnv(), __FILE__);
  m_items = nullptr;
}

PvlResult CRuntimeTuning::QueryInterface(ZUEUID iid, void** out) {
  if (iid == ZUEUID_RUNTIME_TUNING) {
    if (!out) return PVL_E_NULLPTR;
    GetDelegate()->AddRef();
    *out = static_cast<IRuntimeTuning*>(&m_face);
    return PVL_OK;
  }
  return CPvlObject::QueryInterface(iid, out);
}

PvlResult CRuntimeTuning::Register(const char* name, void* value, TuningValueType type, uint16_t count,
                                   uint32_t flags) {
  return RegisterWithConverters(name, value, type, count, flags, DefaultValueToText, DefaultTextToValue);
}

PvlResult CRuntimeTuning::RegisterWithConverters(const char* name, void* value, TuningValueType type,
                                                 uint16_t count, uint32_t flags, RuntimeTuningToText toText,
                                                 RuntimeTuningFromText fromText) {
  if (!name) return PVL_E_BADARG;
  // Compare with the name as it would be stored (cut to 59 characters).
  char stored[RUNTIME_TUNING_NAME_SIZE];
  RuntimeTuningCopyText(stored, sizeof stored, name);
  for (uint16_t i = 0; i < m_count; ++i) {
    if (std::strcmp(m_items[i].name, stored) == 0) return PVL_OK;
  }
  if (m_count == kMaxItems) return PVL_E_OUTOFMEMORY;
  if (m_count == m_capacity) {
    uint32_t capacity = m_capacity ? uint32_t(m_capacity) * 2 : 64;
    if (capacity > kMaxItems) capacity = kMaxItems;
    void* grown = pvlheap_Realloc(m_items, uint32_t(capacity * sizeof(RuntimeTuningItem)), GetEnv(), __FILE__);
    if (!grown) return PVL_E_OUTOFMEMORY;
    m_items = static_cast<RuntimeTuningItem*>(grown);
    m_capacity = uint16_t(capacity);
  }
  RuntimeTuningItem& item = m_items[m_count];
  std::memcpy(item.name, stored, sizeof stored);
  item.value = value;
  item.type = type;
  item.count = count;
  item.flags = flags;
  item.toText = toText;
  item.fromText = fromText;
  ++m_count;
  return PVL_OK;
}

TuningValueType CRuntimeTuning::TypeFromSize(uint32_t size, uint8_t isSigned) {
  switch (size) {
    case 1: return isSigned ? TUNING_TYPE_S8 : TUNING_TYPE_U8;
    case 2: return isSigned ? TUNING_TYPE_S16 : TUNING_TYPE_U16;
    case 4: return isSigned ? TUNING_TYPE_S32 : TUNING_TYPE_U32;
    case 8: return isSigned ? TUNING_TYPE_S64 : TUNING_TYPE_U64;
    default: return TUNING_TYPE_UNKNOWN;
  }
}

int32_t CRuntimeTuning::CFace::AddRef() { return Self()->GetDelegate()->AddRef(); }
int32_t CRuntimeTuning::CFace::Release() { return Self()->GetDelegate()->Release(); }
PvlResult CRuntimeTuning::CFace::QueryInterface(ZUEUID iid, void** out) {
  return Self()->GetDelegate()->QueryInterface(iid, out);
}

PvlResult CRuntimeTuning::CFace::GetNumItems(uint16_t* count) {
  if (!count) return PVL_E_BADARG;
  *count = Self()->m_count;
  return PVL_OK;
}

PvlResult CRuntimeTuning::CFace::GetItemInfo(uint16_t item, char* name, uint32_t size, uint32_t* nameLength,
                                             uint16_t* count, uint32_t* flags) {
  CRuntimeTuning* self = Self();
  if (item >= self->m_count) return PVL_E_BADARG;
  const RuntimeTuningItem& it = self->m_items[item];
  uint32_t len = RuntimeTuningCopyText(name, name ? size : 0, it.name);
  if (nameLength) *nameLength = len + 1;
  if (count) *count = it.count;
  if (flags) *flags = it.flags;
  return PVL_OK;
}

PvlResult CRuntimeTuning::CFace::GetValue(uint16_t item, uint16_t element, char* text, uint32_t size,
                                          uint32_t* length) {
  CRuntimeTuning* self = Self();
  if (item >= self->m_count) return PVL_E_BADARG;
  const RuntimeTuningItem& it = self->m_items[item];
  if (!it.toText) return TUNING_RESULT_NO_TEXT;
  return it.toText(&it, element, text, size, length);
}

PvlResult CRuntimeTuning::CFace::SetValue(uint16_t item, uint16_t element, const char* text) {
  CRuntimeTuning* self = Self();
  if (item >= self->m_count) return PVL_E_BADARG;
  const RuntimeTuningItem& it = self->m_items[item];
  if (!it.fromText) return TUNING_RESULT_NO_TEXT;
  return it.fromText(&it, element, text);
}
