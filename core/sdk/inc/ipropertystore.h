// IProperties and IPropertyStore (class ZUEUID_CLASS_PROPERTY_STORE): named,
// typed properties with their ranges, a mode word each and groups.
//
// A store keeps its own deep copies of everything it is given. Values handed out
// follow one rule: the caller's record selects the type wanted (0: whatever is
// stored; the 32-bit integer kinds 8, 9 and 19 stand in for one another); a string,
// block or array goes into the caller's buffer when the record brings one (cut to
// its capacity, the filled count saying what was copied), otherwise GetProperty
// allocates it from the environment's heap for the caller, who owns it
// (PvlValue_Clear frees it), and GetProperties reports only its type and count.
// Descriptors are read and written through their head (PvlPropertyDescHead below:
// identifier, name, description, the five values, byte attribute, attribute = mode
// word), never past it; arrays of descriptors have the stride of CPvlPropertyDesc.
#ifndef IPROPERTYSTORE_H
#define IPROPERTYSTORE_H

#include <stddef.h>
#include <stdint.h>

#include "cpvlvariant.h"
#include "pvlbase.h"

#define ZUEUID_IFACE_PROPERTY_STORE ZUEUID_CLASS_PROPERTY_STORE

// The part of a property descriptor (CPvlPropertyDesc) that the store reads and
// fills. The control mode is the attribute, at byte 152. The driver's 160-byte
// property record is this head and one word more (the descriptor's status word at
// 156), which the store neither reads nor writes; such a record goes one at a time
// (an array would need CPvlPropertyDesc's stride).
struct PvlPropertyDescHead {
  uint32_t id;
  PvlDescString name;
  PvlDescString description;
  PvlValueRecord values[5];  // current, minimum, maximum, default, step
  uint32_t byteAttribute;
  uint32_t attribute;        // the control mode
};
#if INTPTR_MAX == INT32_MAX  // the phone's layout: a 64-bit build widens its pointers
static_assert(sizeof(PvlPropertyDescHead) == 156, "a descriptor's head is 156 bytes");
static_assert(offsetof(PvlPropertyDescHead, name) == 4, "");
static_assert(offsetof(PvlPropertyDescHead, description) == 16, "");
static_assert(offsetof(PvlPropertyDescHead, values) == 28, "");
static_assert(offsetof(PvlPropertyDescHead, byteAttribute) == 148, "");
static_assert(offsetof(PvlPropertyDescHead, attribute) == 152, "the control mode is at 152");
#endif
static_assert(sizeof(CPvlPropertyDesc) >= sizeof(PvlPropertyDescHead) + 4, "the head and the status word");
#define PVL_PROPERTY_RECORD_SIZE (sizeof(PvlPropertyDescHead) + 4)  // the driver's record (160): the head and the status word

// A text for a head's name or description: the caller's string, not copied (the
// store takes its own copy).
inline PvlDescString PvlDescText(const char* text) {
  int32_t length = 1;
  for (const char* p = text; *p; ++p) ++length;
  return PvlDescString{const_cast<char*>(text), length, length};
}

// A head where a descriptor is taken: for one descriptor only (AddProperty,
// GetProperties with a count of 1), since the store reads the head and nothing past it.
inline const CPvlPropertyDesc* PvlPropertyDescOf(const PvlPropertyDescHead* head) {
  return reinterpret_cast<const CPvlPropertyDesc*>(head);
}
inline CPvlPropertyDesc* PvlPropertyDescOf(PvlPropertyDescHead* head) {
  return reinterpret_cast<CPvlPropertyDesc*>(head);
}

// One value of SetProperties: identifier, an unread word, the value, the mode word
// (the client's control mode, kept as the property's attribute), an unread word.
struct PvlPropertyValueRecord {
  uint32_t id;
  uint32_t reserved0;
  PvlValueRecord value;
  uint32_t mode;
  uint32_t reserved1;
};
#if INTPTR_MAX == INT32_MAX  // the phone's layout: a 64-bit build widens its pointers
static_assert(sizeof(PvlPropertyValueRecord) == 40, "a property value record is 40 bytes");
static_assert(offsetof(PvlPropertyValueRecord, value) == 8, "");
static_assert(offsetof(PvlPropertyValueRecord, mode) == 32, "");
#endif

// One range of SetRanges: identifier, then minimum, maximum, default and step.
struct PvlPropertyRangeRecord {
  uint32_t id;
  PvlValueRecord minimum;
  PvlValueRecord maximum;
  PvlValueRecord def;
  PvlValueRecord step;
};
#if INTPTR_MAX == INT32_MAX  // the phone's layout: a 64-bit build widens its pointers
static_assert(sizeof(PvlPropertyRangeRecord) == 100, "a range record is 100 bytes");
static_assert(offsetof(PvlPropertyRangeRecord, minimum) == 4, "");
static_assert(offsetof(PvlPropertyRangeRecord, step) == 76, "");
#endif

// Flags of AddProperty.
#define PVL_PROPERTY_ADD_REPLACE 1u  // an existing property takes the descriptor's value

class IProperties : public IPvlBase {
 public:
  // QueryInterface answers ZUEUID_IFACE_BASE, ZUEUID_IFACE_PROPERTIES and
  // ZUEUID_IFACE_PROPERTIES_ALT (a store also ZUEUID_IFACE_PROPERTY_STORE).

  virtual PvlResult Reserved3(uint32_t a, uint32_t b) = 0;  // 3: answers 20
  // The current value (see the rule above). 29 for a null value, 14 for an unknown
  // identifier or a type other than the stored one, 2 out of memory.
  virtual PvlResult GetProperty(uint32_t id, PvlValueRecord* value) = 0;  // 4
  // Replaces the current value with a copy. 14 for an unknown identifier (nothing is
  // added: see AddProperty), 29 for a null value.
  virtual PvlResult SetProperty(uint32_t id, const PvlValueRecord* value) = 0;  // 5
  // Adds the descriptor's property (identifier, value, minimum, maximum, default,
  // step, attribute, name and description) as a member of `group` (0: none). An
  // existing property only joins the group, and takes the value when flags has
  // PVL_PROPERTY_ADD_REPLACE. 29 for a null descriptor, 14 for other flags.
  virtual PvlResult AddProperty(const CPvlPropertyDesc* desc, uint32_t group, uint32_t flags) = 0;  // 6
  virtual PvlResult Reserved7(uint32_t a, uint32_t b) = 0;  // 7: answers 20
  virtual PvlResult Reserved8(uint32_t a, uint32_t b) = 0;  // 8: answers 20
  // Fills each descriptor (found by its identifier) with the five values and the
  // attribute; name and description stay the caller's. results (may be null)
  // receives one code per descriptor; the result is the first failure (14 for an
  // unknown identifier), else 0. 29 for a null array with a count.
  virtual PvlResult GetProperties(CPvlPropertyDesc* descs, uint32_t count, PvlResult* results) = 0;  // 9
  // Stores every record's value and mode word. All or nothing: an unknown
  // identifier (14) or a failed copy stores none. 29 for a null array with a count.
  virtual PvlResult SetProperties(const PvlPropertyValueRecord* records, uint32_t count) = 0;  // 10
  // Replaces minimum, maximum, default and step; all or nothing as SetProperties.
  virtual PvlResult SetRanges(const PvlPropertyRangeRecord* records, uint32_t count) = 0;  // 11
  // Registers (adds, or redefines) every descriptor of the array of pointers as a
  // member of `group`. All or nothing; 29 for a null array with a count or a null
  // entry.
  virtual PvlResult RegisterGroup(CPvlPropertyDesc* const* descs, uint32_t count, uint32_t group) = 0;  // 12
  virtual PvlResult Reserved13(uint32_t a, uint32_t b, uint32_t c) = 0;  // 13: answers 20
  virtual PvlResult Reserved14(uint32_t a, uint32_t b) = 0;              // 14: answers 20

 protected:
  ~IProperties() = default;
};

class IPropertyStore : public IProperties {
 public:
  // The identifiers of a group's members in the order they joined: *count receives
  // how many there are, up to capacity of them are copied to ids (may be null).
  // 29 for a null count.
  virtual PvlResult GetGroupMembers(uint32_t group, uint32_t* ids, uint32_t capacity, uint32_t* count) = 0;  // 15
  virtual PvlResult Reserved16() = 0;  // 16-20: answer 20
  virtual PvlResult Reserved17() = 0;
  virtual PvlResult Reserved18() = 0;
  virtual PvlResult Reserved19() = 0;
  virtual PvlResult Reserved20() = 0;
  // A property face (IProperties) over this store's properties for an owner object
  // (a media buffer). The face holds no reference on its owner, so the owner's last
  // Release still happens; the face keeps the properties alive. 29 for a null owner
  // or out.
  virtual PvlResult CreateBoundFace(IPvlBase* owner, IProperties** face) = 0;  // 21

 protected:
  ~IPropertyStore() = default;
};

#endif
