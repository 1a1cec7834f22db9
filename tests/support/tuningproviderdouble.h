// A tuning-data provider double: serves the table it was made with (null: a
// provider without a table), so that a test chooses the values the tuning-data
// service loads. Counts the providers alive where a test asks it to, to show
// that the service lets every one go.
#pragma once

#include <atomic>

#include "tuningdataprovider.h"

namespace camera::test {

class TuningProviderDouble final : public ITuningDataProvider {
 public:
  explicit TuningProviderDouble(const void* table, std::atomic<int>* live = nullptr) : m_table(table), m_live(live) {
    if (m_live) ++*m_live;
  }
  int32_t AddRef() override { return ++m_refs; }
  int32_t Release() override {
    int32_t n = --m_refs;
    if (n == 0) delete this;
    return n;
  }
  PvlResult QueryInterface(ZUEUID iid, void** out) override {
    if (!out) return PVL_E_BADARG;
    if (iid != ZUEUID_IFACE_TUNING_DATA_PROVIDER) return PVL_E_UNSUPPORTED;
    *out = static_cast<ITuningDataProvider*>(this);
    AddRef();
    return PVL_OK;
  }
  PvlResult GetTable(const void** table) override { return GetTableEx(table); }
  PvlResult GetTableEx(const void** table) override {
    *table = m_table;
    return PVL_OK;
  }

 private:
  ~TuningProviderDouble() {
    if (m_live) --*m_live;
  }
  std::atomic<int32_t> m_refs{1};
  const void* m_table;
  std::atomic<int>* m_live;
};

}  // namespace camera::test
