#include "runtimetuningfixed.h"

#include <cmath>
#include <cstdint>
#include <cstring>

// Layout of CFixedPoint: {u8 fraction bits, 3 padding bytes, i32 raw value}.
// TODO(tunvex): use CFixedPoint's own GetDouble and assignment once it is in core/sdk/inc.
double RuntimeTuningFixedToDouble(const void* p) {
  uint8_t q;
  int32_t raw;
  std::memcpy(&q, p, 1);
  std::memcpy(&raw, static_cast<const uint8_t*>(p) + 4, 4);
  if (q > 31) return 0.0;
  return double(raw) / double(1u << q);
}

void RuntimeTuningFixedAssign(void* p, double d) {
  uint8_t q;
  std::memcpy(&q, p, 1);
  if (q > 31) q = 31;
  double r = std::isnan(d) ? 0.0 : std::trunc(d * double(1u << q) + (d < 0 ? -0.5 : 0.5));
  int32_t raw = r >= 2147483647.0 ? INT32_MAX : r <= -2147483648.0 ? INT32_MIN : int32_t(r);
  std::memcpy(static_cast<uint8_t*>(p) + 4, &raw, 4);
}
