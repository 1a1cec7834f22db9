// Default text converters of the runtime tuning registry.
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtimetuningitem.h"
#include "runtimetuningfixed.h"

namespace {

// Texts of one element are formatted into a buffer of this size: at most 49
// characters. The buffer is the caller's stack, never shared between threads.
constexpr uint32_t kTextSize = 50;

void* ElementAddress(const RuntimeTuningItem* item, uint16_t element) {
  return static_cast<uint8_t*>(item->value) + size_t(element) * TuningValueTypeSize(item->type);
}

template <typename T>
T Load(const void* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <typename T>
void Store(void* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

// double -> float without undefined behaviour: beyond the float range the
// value becomes an infinity of its sign, as the FPU would give.
float NarrowToFloat(double d) {
  if (d > double(FLT_MAX)) return HUGE_VALF;
  if (d < -double(FLT_MAX)) return -HUGE_VALF;
  return float(d);
}

}  // namespace

uint32_t TuningValueTypeSize(uint32_t type) {
  switch (type) {
    case TUNING_TYPE_S8:
    case TUNING_TYPE_U8:
      return 1;
    case TUNING_TYPE_S16:
    case TUNING_TYPE_U16:
      return 2;
    case TUNING_TYPE_S32:
    case TUNING_TYPE_U32:
    case TUNING_TYPE_FLOAT:
    case TUNING_TYPE_Q10:
      return 4;
    case TUNING_TYPE_S64:
    case TUNING_TYPE_U64:
    case TUNING_TYPE_DOUBLE:
    case TUNING_TYPE_FIXED:
      return 8;
    default:
      return 0;
  }
}

uint32_t RuntimeTuningCopyText(char* buffer, uint32_t size, const char* text) {
  size_t len = std::strlen(text);
  if (buffer && size > 0) {
    size_t n = len < size - 1 ? len : size - 1;
    std::memcpy(buffer, text, n);
    buffer[n] = '\0';
  }
  return uint32_t(len);
}

int32_t ToQ10(double x) {
  if (std::isnan(x)) return 0;
  double s = x < 0 ? -1.0 : 1.0;
  double r = std::trunc(x * 1024.0 + s * 0.5);
  if (r >= 2147483647.0) return INT32_MAX;
  if (r <= -2147483648.0) return INT32_MIN;
  return int32_t(r);
}

float FromQ10(int32_t raw) { return float(double(raw) / 1024.0); }

int32_t DefaultValueToText(const RuntimeTuningItem* item, uint16_t element, char* text, uint32_t size,
                           uint32_t* length) {
  if (!item || element >= item->count) return TUNING_RESULT_BAD_INDEX;
  if (item->type >= TUNING_TYPE_UNKNOWN) return TUNING_RESULT_NO_TEXT;
  if (!item->value) return TUNING_RESULT_BAD_INDEX;

  const void* p = ElementAddress(item, element);
  char buf[kTextSize];
  int n = 0;
  double d = 0;
  switch (item->type) {
    case TUNING_TYPE_S8: n = std::snprintf(buf, sizeof buf, "%d", int(Load<int8_t>(p))); break;
    case TUNING_TYPE_U8: n = std::snprintf(buf, sizeof buf, "%u", unsigned(Load<uint8_t>(p))); break;
    case TUNING_TYPE_S16: n = std::snprintf(buf, sizeof buf, "%d", int(Load<int16_t>(p))); break;
    case TUNING_TYPE_U16: n = std::snprintf(buf, sizeof buf, "%u", unsigned(Load<uint16_t>(p))); break;
    case TUNING_TYPE_S32: n = std::snprintf(buf, sizeof buf, "%d", int(Load<int32_t>(p))); break;
    case TUNING_TYPE_U32: n = std::snprintf(buf, sizeof buf, "%u", unsigned(Load<uint32_t>(p))); break;
    case TUNING_TYPE_S64:
    case TUNING_TYPE_U64:
      return TUNING_RESULT_NO_TEXT;
    case TUNING_TYPE_FLOAT: d = double(Load<float>(p)); break;
    case TUNING_TYPE_DOUBLE: d = Load<double>(p); break;
    case TUNING_TYPE_FIXED: {
      PvlResult r = RuntimeTuningFixedToDouble(p, &d);
      if (r != 0) return r;
      break;
    }
    case TUNING_TYPE_Q10: d = double(FromQ10(Load<int32_t>(p))); break;
    default:
      return TUNING_RESULT_NO_TEXT;
  }
  if (item->type >= TUNING_TYPE_FLOAT) {
    n = std::snprintf(buf, sizeof buf, "%f", d);
    buf[kTextSize - 1] = '\0';
  }
  if (n < 0) n = 0;
  // What a caller can receive is the text as cut to the 50-byte buffer: report
  // that length, so that callers which advance by it stay inside what was written.
  uint32_t len = RuntimeTuningCopyText(text, size, buf);
  if (length) *length = len + 1;
  return TUNING_RESULT_OK;
}

int32_t DefaultTextToValue(const RuntimeTuningItem* item, uint16_t element, const char* text) {
  if (!item || element >= item->count) return TUNING_RESULT_BAD_INDEX;
  if (item->type >= TUNING_TYPE_UNKNOWN || item->type == TUNING_TYPE_S64 || item->type == TUNING_TYPE_U64)
    return TUNING_RESULT_NO_TEXT;
  if (!item->value || !text) return TUNING_RESULT_BAD_INDEX;

  void* p = ElementAddress(item, element);
  int saved = errno;
  switch (item->type) {
    case TUNING_TYPE_S8:
    case TUNING_TYPE_S16:
    case TUNING_TYPE_S32: {
      // Stored at the element's width, cut without a range check.
      uint32_t v = uint32_t(std::strtol(text, nullptr, 10));
      if (item->type == TUNING_TYPE_S8) Store<uint8_t>(p, uint8_t(v));
      else if (item->type == TUNING_TYPE_S16) Store<uint16_t>(p, uint16_t(v));
      else Store<uint32_t>(p, v);
      break;
    }
    case TUNING_TYPE_U8:
    case TUNING_TYPE_U16:
    case TUNING_TYPE_U32: {
      uint32_t v = uint32_t(std::strtoul(text, nullptr, 10));
      if (item->type == TUNING_TYPE_U8) Store<uint8_t>(p, uint8_t(v));
      else if (item->type == TUNING_TYPE_U16) Store<uint16_t>(p, uint16_t(v));
      else Store<uint32_t>(p, v);
      break;
    }
    case TUNING_TYPE_FLOAT: Store<float>(p, NarrowToFloat(std::strtod(text, nullptr))); break;
    case TUNING_TYPE_DOUBLE: Store<double>(p, std::strtod(text, nullptr)); break;
    case TUNING_TYPE_FIXED: RuntimeTuningFixedAssign(p, std::strtod(text, nullptr)); break;
    case TUNING_TYPE_Q10: Store<int32_t>(p, ToQ10(std::strtod(text, nullptr))); break;
    default:
      return TUNING_RESULT_NO_TEXT;
  }
  errno = saved;
  return TUNING_RESULT_OK;
}
