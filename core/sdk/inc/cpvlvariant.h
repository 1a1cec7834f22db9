// Tagged values (value records), the variant object and the property descriptor.
//
// A value record is 24 bytes: type code, reserved word, 16-byte payload. For the
// block, string and array types the payload is {data pointer, capacity in
// elements, filled count}; for strings (16, 25) both counts include the NUL.
// Copies are shallow (the payload is shared, nothing owned) or deep (strings and
// arrays duplicated through the framework heap and owned by the copy).
#ifndef CPVLVARIANT_H
#define CPVLVARIANT_H

#include <stddef.h>
#include <stdint.h>

#include "pvlbase.h"

// Type codes.
#define PVL_VT_EMPTY 0
#define PVL_VT_BLOCK 2        // byte block
#define PVL_VT_FLOAT 7        // 32-bit float
#define PVL_VT_INT32 8
#define PVL_VT_SINT32 9       // the engine's (signed) integer properties
#define PVL_VT_INTERFACE 11   // IPvlBase*; a copy holds a reference
#define PVL_VT_8BYTES 13
#define PVL_VT_RECT 14        // CPvlRect
#define PVL_VT_PAIR 15        // CPvlPair
#define PVL_VT_STRING 16      // 8-bit string
#define PVL_VT_UINT8 17       // 8-bit value in the first payload byte
#define PVL_VT_UINT16 18
#define PVL_VT_UINT32 19      // 32-bit value
#define PVL_VT_URATIONAL 21   // numerator, denominator
#define PVL_VT_ARRAY16 23
#define PVL_VT_ARRAY32 24
#define PVL_VT_WSTRING 25     // 16-bit string
#define PVL_VT_ARRAY 26       // array of value records

struct CPvlRect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};
static_assert(sizeof(CPvlRect) == 16, "");

struct CPvlPair {
  int32_t first;
  int32_t second;
};
static_assert(sizeof(CPvlPair) == 8, "");

struct PvlValueRecord;

struct PvlValueArray {
  void* data;        // elements, or null
  int32_t capacity;  // elements (characters for strings, with the NUL)
  int32_t filled;    // elements in use
  uint32_t unused;
};
#if INTPTR_MAX == INT32_MAX  // the phone's layout: a 64-bit build widens its pointers
static_assert(sizeof(PvlValueArray) == 16, "");
#endif

union PvlValuePayload {
  uint8_t bytes[16];
  float f;
  int32_t i32;
  uint32_t u32;
  uint16_t u16;
  int64_t i64;
  IPvlBase* iface;
  CPvlRect rect;
  CPvlPair pair;
  struct {
    uint32_t numerator;
    uint32_t denominator;
  } rational;
  PvlValueArray array;
};
#if INTPTR_MAX == INT32_MAX  // the phone's layout: a 64-bit build widens its pointers
static_assert(sizeof(PvlValuePayload) == 16, "the payload is 16 bytes");
#endif

struct PvlValueRecord {
  uint32_t type;
  uint32_t reserved;
  PvlValuePayload payload;
};
#if INTPTR_MAX == INT32_MAX  // the phone's layout: a 64-bit build widens its pointers
static_assert(sizeof(PvlValueRecord) == 24, "a value record is 24 bytes");
static_assert(offsetof(PvlValueRecord, payload) == 8, "");
static_assert(offsetof(PvlValueRecord, payload.array.data) == 8, "data pointer at 8");
static_assert(offsetof(PvlValueRecord, payload.array.capacity) == 12, "capacity at 12");
static_assert(offsetof(PvlValueRecord, payload.array.filled) == 16, "filled count at 16");
#endif

// True for the types whose payload is {pointer, capacity, filled}. Inline: the host
// reads value records too and does not link the runtime.
inline bool PvlValue_IsArrayType(uint32_t type) {
  switch (type) {
    case PVL_VT_BLOCK:
    case PVL_VT_STRING:
    case PVL_VT_ARRAY16:
    case PVL_VT_ARRAY32:
    case PVL_VT_WSTRING:
    case PVL_VT_ARRAY:
      return true;
    default:
      return false;
  }
}
// Bytes per element of an array type (0 for other types).
inline uint32_t PvlValue_ElementSize(uint32_t type) {
  switch (type) {
    case PVL_VT_BLOCK:
    case PVL_VT_STRING:
      return 1;
    case PVL_VT_ARRAY16:
    case PVL_VT_WSTRING:
      return 2;
    case PVL_VT_ARRAY32:
      return 4;
    case PVL_VT_ARRAY:
      return sizeof(PvlValueRecord);
    default:
      return 0;
  }
}
// Copies source into destination (see the runtime's notes on deep and shallow
// copies). 0; 29 for a null record; 14 for mismatched types (shallow), a null
// pointer with a count, a negative count or capacity, or a count over the
// source's capacity; 2 out of memory. A cut copy sets the filled count to what
// was copied.
PvlResult PvlValue_Copy(PvlValueRecord* destination, const PvlValueRecord* source, bool deep);
// Frees what the record owns (blocks, strings, arrays with their elements;
// releases an interface) and zeroes the payload; the type stays.
void PvlValue_Clear(PvlValueRecord* record);

// A value as an object: the record, the status of the last setter and whether
// the payload is owned. The record is its base, so a CPvlVariant* is usable
// wherever a PvlValueRecord* is expected.
class CPvlVariant : public PvlValueRecord {
 public:
  CPvlVariant();                             // empty
  explicit CPvlVariant(float value);         // 7
  explicit CPvlVariant(int32_t value);       // 9
  CPvlVariant(int32_t value, uint32_t type); // 8 or 9; else empty, status 13 and the assertion break
  explicit CPvlVariant(int64_t eightBytes);  // 13
  explicit CPvlVariant(uint32_t value);      // 19
  explicit CPvlVariant(const CPvlRect& rect);  // 14
  explicit CPvlVariant(const CPvlPair& pair);  // 15
  CPvlVariant(const PvlValueRecord* records, int32_t count, bool deep);  // 26
  virtual ~CPvlVariant();

  CPvlVariant(const CPvlVariant&) = delete;
  CPvlVariant& operator=(const CPvlVariant&) = delete;

  void SetFloat(float value);
  PvlResult SetInt(int32_t value, uint32_t type = PVL_VT_SINT32);
  void SetEightBytes(int64_t value);
  void SetUInt32(uint32_t value);
  void SetRect(const CPvlRect& rect);
  void SetPair(const CPvlPair& pair);
  // Deep: the records are copied into a fresh owned array (capacity = filled =
  // count). Not deep, or a null array: an empty type-26 value.
  PvlResult SetArray(const PvlValueRecord* records, int32_t count, bool deep);
  // Frees what the variant owns and leaves it empty.
  void Clear();

  PvlValueRecord* Record() { return this; }
  const PvlValueRecord* Record() const { return this; }
  PvlResult GetStatus() const { return m_status; }
  bool OwnsPayload() const { return m_owns; }

 private:
  void ClearForType(uint32_t type);

  PvlResult m_status;
  bool m_owns;
};

// Name or description of a property descriptor.
struct PvlDescString {
  char* text;
  int32_t capacity;
  int32_t length;  // with the NUL
};
#if INTPTR_MAX == INT32_MAX  // the phone's layout: a 64-bit build widens its pointers
static_assert(sizeof(PvlDescString) == 12, "");
#endif

#define PVL_DESC_COPY_DEEP 1

class CPvlPropertyDesc {
 public:
  CPvlPropertyDesc();  // empty
  // Null value records read as empty ones. copyMode 1 is deep, anything else shallow.
  CPvlPropertyDesc(uint32_t id, const char* name, const char* description, const PvlValueRecord* value,
                   const PvlValueRecord* minimum, const PvlValueRecord* maximum, const PvlValueRecord* def,
                   const PvlValueRecord* step, uint32_t attribute, uint8_t byteAttribute, uint32_t copyMode);
  ~CPvlPropertyDesc();

  CPvlPropertyDesc(const CPvlPropertyDesc&) = delete;
  CPvlPropertyDesc& operator=(const CPvlPropertyDesc&) = delete;

  // As the constructor, with minimum, maximum, default and step empty records of
  // the value's type. Returns the new status.
  PvlResult Set(uint32_t id, const char* name, const char* description, const PvlValueRecord* value,
                uint32_t attribute, uint8_t byteAttribute, uint32_t copyMode);
  // Full form of Set (what the constructor does).
  PvlResult Set(uint32_t id, const char* name, const char* description, const PvlValueRecord* value,
                const PvlValueRecord* minimum, const PvlValueRecord* maximum, const PvlValueRecord* def,
                const PvlValueRecord* step, uint32_t attribute, uint8_t byteAttribute, uint32_t copyMode);
  void Clear();

  PvlValueRecord* GetValue() { return &m_values[0]; }
  PvlValueRecord* GetMinimum() { return &m_values[1]; }
  PvlValueRecord* GetMaximum() { return &m_values[2]; }
  PvlValueRecord* GetDefault() { return &m_values[3]; }
  PvlValueRecord* GetStep() { return &m_values[4]; }
  const PvlValueRecord* GetValue() const { return &m_values[0]; }
  const PvlValueRecord* GetMinimum() const { return &m_values[1]; }
  const PvlValueRecord* GetMaximum() const { return &m_values[2]; }
  const PvlValueRecord* GetDefault() const { return &m_values[3]; }
  const PvlValueRecord* GetStep() const { return &m_values[4]; }
  // 0, 2 no memory, 14 null name or description, 43 deep copy into a descriptor
  // that does not own its data.
  PvlResult GetStatus() const { return m_status; }
  uint32_t GetId() const { return m_id; }
  const char* GetName() const { return m_name.text; }
  const char* GetDescription() const { return m_description.text; }
  uint32_t GetAttribute() const { return m_attribute; }
  uint8_t GetByteAttribute() const { return static_cast<uint8_t>(m_byteAttribute); }
  bool OwnsData() const { return m_owns != 0; }

 private:
  PvlResult CopyString(PvlDescString* field, const char* text);
  PvlResult Fill(uint32_t id, const char* name, const char* description, const PvlValueRecord* value,
                 const PvlValueRecord* minimum, const PvlValueRecord* maximum, const PvlValueRecord* def,
                 const PvlValueRecord* step, uint32_t attribute, uint8_t byteAttribute, uint32_t copyMode);

  uint32_t m_id;
  PvlDescString m_name;
  PvlDescString m_description;
  PvlValueRecord m_values[5];  // current, minimum, maximum, default, step
  uint32_t m_byteAttribute;
  uint32_t m_attribute;
  PvlResult m_status;
  uint32_t m_owns;

  friend struct PvlPropertyDescLayout;
};

struct PvlPropertyDescLayout {
#if INTPTR_MAX == INT32_MAX  // the phone's layout: a 64-bit build widens its pointers
  static_assert(sizeof(CPvlPropertyDesc) == 164, "a property descriptor is 164 bytes");
  static_assert(offsetof(CPvlPropertyDesc, m_name) == 4, "");
  static_assert(offsetof(CPvlPropertyDesc, m_description) == 16, "");
  static_assert(offsetof(CPvlPropertyDesc, m_values) == 28, "");
  static_assert(offsetof(CPvlPropertyDesc, m_byteAttribute) == 148, "");
  static_assert(offsetof(CPvlPropertyDesc, m_attribute) == 152, "");
  static_assert(offsetof(CPvlPropertyDesc, m_status) == 156, "");
  static_assert(offsetof(CPvlPropertyDesc, m_owns) == 160, "");
#endif
};

#endif
