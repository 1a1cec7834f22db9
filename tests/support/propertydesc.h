// Property descriptors and value records for tests that talk to the host's property
// store without the framework runtime (which owns CPvlPropertyDesc): the descriptor's
// head from ipropertystore.h, padded to the runtime descriptor's size so that arrays
// of them have its stride.
#pragma once

#include <cstdint>

#include "cpvlvariant.h"
#include "ipropertystore.h"

namespace camera::test {

// A descriptor as the runtime lays it out: the head the store reads and fills, then
// the status and ownership words it never touches.
struct PropertyDescImage : PvlPropertyDescHead {
  PropertyDescImage() : PvlPropertyDescHead{} {}
  int32_t status = 0;
  uint32_t owns = 0;
  CPvlPropertyDesc* Ptr() { return reinterpret_cast<CPvlPropertyDesc*>(this); }
  const CPvlPropertyDesc* Ptr() const { return reinterpret_cast<const CPvlPropertyDesc*>(this); }
};
static_assert(sizeof(PropertyDescImage) == sizeof(CPvlPropertyDesc), "a descriptor's stride");

// The five values of a descriptor by name, for the failures of checks over them.
inline constexpr const char* kDescValueNames[5] = {"current", "minimum", "maximum", "default", "step"};

inline PvlValueRecord TypedValue(uint32_t type) {
  PvlValueRecord r{};
  r.type = type;
  return r;
}
inline PvlValueRecord IntValue(int32_t v, uint32_t type = PVL_VT_SINT32) {
  PvlValueRecord r = TypedValue(type);
  r.payload.i32 = v;
  return r;
}
inline PvlValueRecord PairValue(int32_t a, int32_t b) {
  PvlValueRecord r = TypedValue(PVL_VT_PAIR);
  r.payload.pair = {a, b};
  return r;
}
// A value over the caller's text: a string with its terminator, or (another type) the
// bytes without it. The store copies it.
inline PvlValueRecord TextValue(const char* text, uint32_t type = PVL_VT_STRING) {
  PvlValueRecord r = TypedValue(type);
  int32_t n = 0;
  while (text[n]) ++n;
  if (type == PVL_VT_STRING) ++n;
  r.payload.array.data = const_cast<char*>(text);
  r.payload.array.capacity = r.payload.array.filled = n;
  return r;
}

// A descriptor with its five values (current, minimum, maximum, default, step).
inline PropertyDescImage Describe(uint32_t id, const char* name, PvlValueRecord value, PvlValueRecord minimum,
                                  PvlValueRecord maximum, PvlValueRecord def, PvlValueRecord step,
                                  uint32_t attribute = 0) {
  PropertyDescImage d;
  d.id = id;
  if (name) d.name = PvlDescText(name);
  d.values[0] = value;
  d.values[1] = minimum;
  d.values[2] = maximum;
  d.values[3] = def;
  d.values[4] = step;
  d.attribute = attribute;
  return d;
}
// A descriptor with its current value only (the others empty), as the engine adds an
// EXIF tag.
inline PropertyDescImage Describe(uint32_t id, const char* name, PvlValueRecord value) {
  const PvlValueRecord none{};
  PropertyDescImage d = Describe(id, name, value, none, none, none, none);
  d.description = PvlDescText("");
  return d;
}

}  // namespace camera::test
