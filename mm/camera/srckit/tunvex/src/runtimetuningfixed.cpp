#include "runtimetuningfixed.h"

#include <cstring>

#include "cfixedpoint.h"

// Elements may sit at any address in the owner's memory: work on a copy.
PvlResult RuntimeTuningFixedToDouble(const void* p, double* out) {
  CFixedPoint v;
  std::memcpy(static_cast<void*>(&v), p, sizeof v);
  return v.GetDouble(out);
}

void RuntimeTuningFixedAssign(void* p, double d) {
  CFixedPoint v;
  std::memcpy(static_cast<void*>(&v), p, sizeof v);
  v = d;
  std::memcpy(p, static_cast<const void*>(&v), sizeof v);
}
