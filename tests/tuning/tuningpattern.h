// Test helpers: a patterned provider table and key look-up by name.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "tuningblock.h"
#include "tuningdatakeys.h"

namespace tuningtest {

// Every byte derived from its offset, so that a value read from the wrong
// place shows.
std::unique_ptr<TuningDataTable> MakePatternedTable();

const TuningKeyDef& Key(const std::string& name);

inline uint8_t* Bytes(TuningDataTable* t) { return reinterpret_cast<uint8_t*>(t); }

template <class T>
T ReadAt(const TuningDataTable& t, uint32_t offset) {
  T v;
  std::memcpy(&v, reinterpret_cast<const uint8_t*>(&t) + offset, sizeof v);
  return v;
}
template <class T>
void WriteAt(TuningDataTable* t, uint32_t offset, T v) {
  std::memcpy(Bytes(t) + offset, &v, sizeof v);
}
template <class T>
T ReadKey(const TuningDataTable& t, const std::string& name, uint32_t element = 0) {
  const TuningKeyDef& k = Key(name);
  return ReadAt<T>(t, k.offset + element * sizeof(T));
}
template <class T>
void WriteKey(TuningDataTable* t, const std::string& name, T v, uint32_t element = 0) {
  const TuningKeyDef& k = Key(name);
  WriteAt<T>(t, k.offset + element * sizeof(T), v);
}

inline uint32_t Bits(float f) {
  uint32_t w;
  std::memcpy(&w, &f, sizeof w);
  return w;
}

}  // namespace tuningtest
