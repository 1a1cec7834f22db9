// CPvlPropertyDesc: identifier, name, description and five values of a property.
#include "cpvlvariant.h"
#include "pvlheap.h"
#include "pvlstring.h"

namespace {

const PvlValueRecord kEmptyRecord = {};

inline const PvlValueRecord* OrEmpty(const PvlValueRecord* r) { return r ? r : &kEmptyRecord; }

}  // namespace

CPvlPropertyDesc::CPvlPropertyDesc()
    : m_id(0), m_name{}, m_description{}, m_values{}, m_byteAttribute(0), m_attribute(0), m_status(PVL_OK),
      m_owns(1) {}

CPvlPropertyDesc::CPvlPropertyDesc(uint32_t id, const char* name, const char* description,
                                   const PvlValueRecord* value, const PvlValueRecord* minimum,
                                   const PvlValueRecord* maximum, const PvlValueRecord* def,
                                   const PvlValueRecord* step, uint32_t attribute, uint8_t byteAttribute,
                                   uint32_t copyMode)
    : CPvlPropertyDesc() {
  Set(id, name, description, value, minimum, maximum, def, step, attribute, byteAttribute, copyMode);
}

CPvlPropertyDesc::~CPvlPropertyDesc() { Clear(); }

void CPvlPropertyDesc::Clear() {
  if (m_owns) {
    pvlheap_Free(m_name.text);
    pvlheap_Free(m_description.text);
    for (PvlValueRecord& v : m_values) PvlValue_Clear(&v);
  }
  m_name = PvlDescString{};
  m_description = PvlDescString{};
  for (PvlValueRecord& v : m_values) v = PvlValueRecord{};
  m_byteAttribute = 0;
  m_attribute = 0;
  m_owns = 1;
}

PvlResult CPvlPropertyDesc::CopyString(PvlDescString* field, const char* text) {
  if (!m_owns) return PVL_E_OUTERREFUSED;
  const uint32_t length = pvl_strlen(text) + 1;
  char* copy = static_cast<char*>(pvlheap_NewNoThrow(length));
  if (!copy) return PVL_E_OUTOFMEMORY;
  pvl_strlcpy(copy, text, length);
  pvlheap_Free(field->text);
  field->text = copy;
  field->capacity = static_cast<int32_t>(length);
  field->length = static_cast<int32_t>(length);
  return PVL_OK;
}

PvlResult CPvlPropertyDesc::Set(uint32_t id, const char* name, const char* description,
                                const PvlValueRecord* value, uint32_t attribute, uint8_t byteAttribute,
                                uint32_t copyMode) {
  PvlValueRecord empty = {};
  empty.type = OrEmpty(value)->type;
  return Set(id, name, description, value, &empty, &empty, &empty, &empty, attribute, byteAttribute, copyMode);
}

PvlResult CPvlPropertyDesc::Set(uint32_t id, const char* name, const char* description,
                                const PvlValueRecord* value, const PvlValueRecord* minimum,
                                const PvlValueRecord* maximum, const PvlValueRecord* def,
                                const PvlValueRecord* step, uint32_t attribute, uint8_t byteAttribute,
                                uint32_t copyMode) {
  if (copyMode == PVL_DESC_COPY_DEEP) {
    // Copy into a fresh descriptor first: the sources may be this descriptor's own data.
    CPvlPropertyDesc next;
    next.Fill(id, name, description, value, minimum, maximum, def, step, attribute, byteAttribute, copyMode);
    Clear();
    m_id = next.m_id;
    m_name = next.m_name;
    m_description = next.m_description;
    for (int i = 0; i < 5; ++i) m_values[i] = next.m_values[i];
    m_byteAttribute = next.m_byteAttribute;
    m_attribute = next.m_attribute;
    m_status = next.m_status;
    m_owns = next.m_owns;
    next.m_owns = 0;  // the data moved here
    return m_status;
  }
  Clear();
  return Fill(id, name, description, value, minimum, maximum, def, step, attribute, byteAttribute, copyMode);
}

PvlResult CPvlPropertyDesc::Fill(uint32_t id, const char* name, const char* description,
                                 const PvlValueRecord* value, const PvlValueRecord* minimum,
                                 const PvlValueRecord* maximum, const PvlValueRecord* def,
                                 const PvlValueRecord* step, uint32_t attribute, uint8_t byteAttribute,
                                 uint32_t copyMode) {
  m_status = PVL_OK;
  if (!name || !description) {
    m_status = PVL_E_BADARG;
    return m_status;
  }
  m_id = id;
  m_attribute = attribute;
  m_byteAttribute = byteAttribute;
  const PvlValueRecord* sources[5] = {OrEmpty(value), OrEmpty(minimum), OrEmpty(maximum), OrEmpty(def),
                                      OrEmpty(step)};
  if (copyMode != PVL_DESC_COPY_DEEP) {
    m_name.text = const_cast<char*>(name);
    m_name.capacity = m_name.length = static_cast<int32_t>(pvl_strlen(name) + 1);
    m_description.text = const_cast<char*>(description);
    m_description.capacity = m_description.length = static_cast<int32_t>(pvl_strlen(description) + 1);
    for (int i = 0; i < 5; ++i) m_values[i] = *sources[i];
    m_owns = 0;
    return m_status;
  }
  PvlResult r = CopyString(&m_name, name);
  if (r == PVL_OK) r = CopyString(&m_description, description);
  if (r != PVL_OK) {
    Clear();
    m_status = r;
    return m_status;
  }
  for (int i = 0; i < 5; ++i) {
    PvlValue_Clear(&m_values[i]);
    if (PvlValue_Copy(&m_values[i], sources[i], true) != PVL_OK) {
      Clear();
      m_status = PVL_E_OUTOFMEMORY;
      return m_status;
    }
  }
  m_owns = 1;
  return m_status;
}
