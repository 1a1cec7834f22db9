// Runtime tuning registry: a named table of typed values that live in their
// owner's memory, listed, read and written as text by the tuning server.
#pragma once

#include "pvlbase.h"
#include "runtimetuningitem.h"

#define ZUEUID_RUNTIME_TUNING 0x01074a8eu

// The text face of a registry. AddRef, Release and QueryInterface go to the
// registry's owner (its outer object).
class IRuntimeTuning : public IPvlBase {
 public:
  // 14 for a null out-pointer.
  virtual PvlResult GetNumItems(uint16_t* count) = 0;
  // 14 for an index at or beyond the number of items. The name is copied cut to
  // `size` and terminated; `nameLength` receives the full name length + 1.
  virtual PvlResult GetItemInfo(uint16_t item, char* name, uint32_t size, uint32_t* nameLength,
                                uint16_t* count, uint32_t* flags) = 0;
  // The item's to-text converter for one element; 14 for an unknown item.
  virtual PvlResult GetValue(uint16_t item, uint16_t element, char* text, uint32_t size,
                             uint32_t* length) = 0;
  // The item's from-text converter for one element; 14 for an unknown item.
  virtual PvlResult SetValue(uint16_t item, uint16_t element, const char* text) = 0;

 protected:
  ~IRuntimeTuning() = default;
};

#ifdef __cplusplus
#include "cpvlobject.h"

// The registry object. Aggregated into its owner: New, SetOuter(owner), then
// every registration during the owner's construction, then the text face for
// the rest of the owner's life. The owner's QueryInterface hands
// ZUEUID_RUNTIME_TUNING to the registry's.
class CRuntimeTuning : public CPvlObject {
 public:
  // 29 without an environment, 2 when allocation fails; else 0 and the new
  // registry holding one reference.
  static PvlResult New(IEnv* env, CRuntimeTuning** out);

  // ZUEUID_RUNTIME_TUNING: the text face, one reference added through the
  // delegating face (so the outer's count rises); else CPvlObject's answer.
  PvlResult QueryInterface(ZUEUID iid, void** out) override;

  // RegisterWithConverters with DefaultValueToText and DefaultTextToValue.
  virtual PvlResult Register(const char* name, void* value, TuningValueType type, uint16_t count,
                             uint32_t flags);
  // The first registration of a name wins: a name already present changes
  // nothing and gives 0. 2 when the item cannot be stored, 14 for a null name.
  virtual PvlResult RegisterWithConverters(const char* name, void* value, TuningValueType type,
                                           uint16_t count, uint32_t flags, RuntimeTuningToText toText,
                                           RuntimeTuningFromText fromText);
  // The integer type of a field of `size` bytes; TUNING_TYPE_UNKNOWN for other sizes.
  virtual TuningValueType TypeFromSize(uint32_t size, uint8_t isSigned);

  IRuntimeTuning* Face() { return &m_face; }  // not AddRef'd
  uint16_t ItemCount() const { return m_count; }
  const RuntimeTuningItem* Item(uint16_t index) const { return index < m_count ? &m_items[index] : nullptr; }

 protected:
  explicit CRuntimeTuning(IEnv* env);
  ~CRuntimeTuning() override;

 private:
  class CFace final : public IRuntimeTuning {
   public:
    int32_t AddRef() override;
    int32_t Release() override;
    PvlResult QueryInterface(ZUEUID iid, void** out) override;
    PvlResult GetNumItems(uint16_t* count) override;
    PvlResult GetItemInfo(uint16_t item, char* name, uint32_t size, uint32_t* nameLength, uint16_t* count,
                          uint32_t* flags) override;
    PvlResult GetValue(uint16_t item, uint16_t element, char* text, uint32_t size, uint32_t* length) override;
    PvlResult SetValue(uint16_t item, uint16_t element, const char* text) override;

    explicit CFace(CRuntimeTuning* self) : m_self(self) {}

   private:
    CRuntimeTuning* Self() { return m_self; }
    CRuntimeTuning* m_self;
  };

  CFace m_face;
  RuntimeTuningItem* m_items;  // framework heap, grown by doubling
  uint16_t m_count;
  uint16_t m_capacity;
};
#endif
