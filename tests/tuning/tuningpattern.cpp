#include "tuningpattern.h"

#include <stdexcept>

namespace tuningtest {

std::unique_ptr<TuningDataTable> MakePatternedTable() {
  auto t = std::make_unique<TuningDataTable>();
  uint8_t* b = Bytes(t.get());
  for (uint32_t i = 0; i < sizeof(TuningDataTable); ++i) b[i] = static_cast<uint8_t>((i * 131u + (i >> 8) * 7u + 5u) & 0x7F);
  return t;
}

const TuningKeyDef& Key(const std::string& name) {
  for (const TuningKeyDef& k : g_TuningDataKeys)
    if (name == k.name) return k;
  throw std::runtime_error("no tuning key " + name);
}

}  // namespace tuningtest
