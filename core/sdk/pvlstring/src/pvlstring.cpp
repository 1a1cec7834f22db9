// Bounded string helpers of the framework runtime.
#include "pvlstring.h"

namespace {

inline int AsciiLower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }
inline const char* OrEmpty(const char* s) { return s ? s : ""; }

}  // namespace

uint32_t pvl_strlen(const char* s) {
  if (!s) return 0;
  uint32_t n = 0;
  while (s[n]) ++n;
  return n;
}

uint32_t pvl_wcslen(const char16_t* s) {
  if (!s) return 0;
  uint32_t n = 0;
  while (s[n]) ++n;
  return n;
}

int32_t pvl_strcmp(const char* a, const char* b) {
  const unsigned char* pa = reinterpret_cast<const unsigned char*>(OrEmpty(a));
  const unsigned char* pb = reinterpret_cast<const unsigned char*>(OrEmpty(b));
  while (*pa && *pa == *pb) {
    ++pa;
    ++pb;
  }
  return static_cast<int32_t>(*pa) - static_cast<int32_t>(*pb);
}

int32_t pvl_stricmp(const char* a, const char* b) {
  const unsigned char* pa = reinterpret_cast<const unsigned char*>(OrEmpty(a));
  const unsigned char* pb = reinterpret_cast<const unsigned char*>(OrEmpty(b));
  while (*pa && AsciiLower(*pa) == AsciiLower(*pb)) {
    ++pa;
    ++pb;
  }
  return AsciiLower(*pa) - AsciiLower(*pb);
}

int32_t pvl_strnicmp(const char* a, const char* b, int32_t n) {
  if (n < 1) return 0;
  const unsigned char* pa = reinterpret_cast<const unsigned char*>(OrEmpty(a));
  const unsigned char* pb = reinterpret_cast<const unsigned char*>(OrEmpty(b));
  for (int32_t i = 0; i < n; ++i) {
    int ca = AsciiLower(pa[i]);
    int cb = AsciiLower(pb[i]);
    if (ca != cb || ca == 0) return ca - cb;
  }
  return 0;
}

const char* pvl_strchrend(const char* s, int c) {
  if (!s) return nullptr;
  const char ch = static_cast<char>(c);
  while (*s && *s != ch) ++s;
  return s;
}

const char* pvl_strbegins(const char* s, const char* prefix) {
  if (!s || !prefix) return nullptr;
  while (*prefix) {
    if (*s != *prefix) return nullptr;
    ++s;
    ++prefix;
  }
  return s;
}

uint32_t pvl_strlcpy(char* dst, const char* src, uint32_t size) {
  const uint32_t len = pvl_strlen(src);
  if (dst && size > 0) {
    const uint32_t n = len < size - 1 ? len : size - 1;
    for (uint32_t i = 0; i < n; ++i) dst[i] = src[i];
    dst[n] = '\0';
  }
  return len;
}

uint32_t pvl_strlcat(char* dst, const char* src, uint32_t size) {
  const uint32_t srcLen = pvl_strlen(src);
  if (!dst) return srcLen;
  uint32_t dstLen = 0;
  while (dstLen < size && dst[dstLen]) ++dstLen;
  if (dstLen == size) return size + srcLen;  // not terminated within size: nothing to append to
  uint32_t i = 0;
  for (; i < srcLen && dstLen + i < size - 1; ++i) dst[dstLen + i] = src[i];
  dst[dstLen + i] = '\0';
  return dstLen + srcLen;
}

uint32_t pvl_wcslcpy(char16_t* dst, const char16_t* src, uint32_t size) {
  const uint32_t len = pvl_wcslen(src);
  if (dst && size > 0) {
    const uint32_t n = len < size - 1 ? len : size - 1;
    for (uint32_t i = 0; i < n; ++i) dst[i] = src[i];
    dst[n] = u'\0';
  }
  return len;
}

void* pvl_memset(void* p, int c, int32_t n) {
  if (!p || n < 0) return p;
  unsigned char* d = static_cast<unsigned char*>(p);
  for (int32_t i = 0; i < n; ++i) d[i] = static_cast<unsigned char>(c);
  return p;
}

void* pvl_memmove(void* dst, const void* src, int32_t n) {
  if (!dst || !src || n <= 0 || dst == src) return dst;
  unsigned char* d = static_cast<unsigned char*>(dst);
  const unsigned char* s = static_cast<const unsigned char*>(src);
  if (d < s) {
    for (int32_t i = 0; i < n; ++i) d[i] = s[i];
  } else {
    for (int32_t i = n; i > 0; --i) d[i - 1] = s[i - 1];
  }
  return dst;
}

uint32_t pvl_strtoul(const char* s, const char** end, int32_t base, int32_t* status) {
  int32_t st = PVL_STRTOUL_OK;
  uint32_t value = 0;
  const char* p = s;
  const char* stop = s;
  if (base != 0 && (base < 2 || base > 36)) {
    st = PVL_STRTOUL_BADBASE;
  } else if (!s) {
    st = PVL_STRTOUL_NODIGITS;
  } else {
    while (*p == ' ' || *p == '\t') ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
      negative = *p == '-';
      ++p;
    }
    const bool hexPrefix = p[0] == '0' && (p[1] == 'x' || p[1] == 'X');
    // Base 0: "0x" introduces hexadecimal, a leading "0" octal, else decimal (the
    // engine's configuration reader relies on this).
    if (base == 0) base = hexPrefix ? 16 : (p[0] == '0' ? 8 : 10);
    // "0x" is a prefix only when a hexadecimal digit follows it.
    if (base == 16 && hexPrefix) {
      const char c = p[2];
      if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')) p += 2;
    }
    bool any = false;
    bool overflow = false;
    for (;; ++p) {
      int digit;
      const char c = *p;
      if (c >= '0' && c <= '9') digit = c - '0';
      else if (c >= 'a' && c <= 'z') digit = c - 'a' + 10;
      else if (c >= 'A' && c <= 'Z') digit = c - 'A' + 10;
      else break;
      if (digit >= base) break;
      any = true;
      const uint64_t next = static_cast<uint64_t>(value) * static_cast<uint32_t>(base) + static_cast<uint32_t>(digit);
      if (next > 0xFFFFFFFFull) overflow = true;
      else value = static_cast<uint32_t>(next);
    }
    if (!any) {
      st = PVL_STRTOUL_NODIGITS;
      value = 0;
    } else {
      stop = p;
      if (overflow) {
        st = PVL_STRTOUL_OVERFLOW;
        value = 0xFFFFFFFFu;
      } else if (negative) {
        value = 0u - value;
      }
    }
  }
  if (end) *end = stop;
  if (status) *status = st;
  return value;
}
