// A small table of tunable values behind IRuntimeTuning, for tests of the
// tuning server's side. Reference counting is not needed by the server.
#pragma once

#include <cstring>
#include <vector>

#include "cruntimetuning.h"

class FakeRegistry final : public IRuntimeTuning {
 public:
  int32_t AddRef() override { return ++refs; }
  int32_t Release() override { return --refs; }
  PvlResult QueryInterface(ZUEUID, void** out) override {
    if (out) *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }
  PvlResult GetNumItems(uint16_t* count) override {
    if (failNumItems) return failNumItems;
    if (!count) return PVL_E_BADARG;
    *count = uint16_t(items.size());
    return PVL_OK;
  }
  PvlResult GetItemInfo(uint16_t item, char* name, uint32_t size, uint32_t* nameLength, uint16_t* count,
                        uint32_t* flags) override {
    if (item >= items.size()) return PVL_E_BADARG;
    if (failInfo == int(item)) return PVL_E_FAIL;
    uint32_t len = RuntimeTuningCopyText(name, name ? size : 0, items[item].name);
    if (nameLength) *nameLength = len + 1;
    if (count) *count = items[item].count;
    if (flags) *flags = items[item].flags;
    return PVL_OK;
  }
  PvlResult GetValue(uint16_t item, uint16_t element, char* text, uint32_t size, uint32_t* length) override {
    if (item >= items.size()) return PVL_E_BADARG;
    return items[item].toText(&items[item], element, text, size, length);
  }
  PvlResult SetValue(uint16_t item, uint16_t element, const char* text) override {
    if (item >= items.size()) return PVL_E_BADARG;
    return items[item].fromText(&items[item], element, text);
  }

  void Add(const char* name, void* value, TuningValueType type, uint16_t count, uint32_t flags = 0) {
    RuntimeTuningItem it{};
    RuntimeTuningCopyText(it.name, sizeof it.name, name);
    it.value = value;
    it.type = type;
    it.count = count;
    it.flags = flags;
    it.toText = DefaultValueToText;
    it.fromText = DefaultTextToValue;
    items.push_back(it);
  }

  std::vector<RuntimeTuningItem> items;
  int refs = 0;
  PvlResult failNumItems = 0;
  int failInfo = -1;
};
