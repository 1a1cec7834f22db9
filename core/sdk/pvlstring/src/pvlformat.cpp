// pvl_vsnprintf: the bounded printf-style formatter of the framework runtime.
#include <stdio.h>
#include <string.h>

#include "pvlstring.h"

namespace {

constexpr uint32_t kMaxCount = 0x7fffffffu;

// Output cursor: counts everything, stores what fits before the end.
struct Cursor {
  char* start;
  uint32_t size;   // 0 when the buffer is absent or the size negative
  uint32_t count;  // saturates at 0x7fffffff

  void Advance(uint64_t n) { count = static_cast<uint32_t>(count + n > kMaxCount ? kMaxCount : count + n); }
  // Bytes that still fit before the end.
  uint32_t Room() const { return count < size ? size - count : 0; }
  void Put(char c) {
    if (count < size) start[count] = c;
    Advance(1);
  }
  void Write(const char* s, uint32_t n) {
    const uint32_t fit = n < Room() ? n : Room();
    if (fit > 0) memcpy(start + count, s, fit);
    Advance(n);
  }
  void Pad(char c, int32_t n) {
    if (n <= 0) return;
    const uint32_t want = static_cast<uint32_t>(n);
    const uint32_t fit = want < Room() ? want : Room();
    for (uint32_t i = 0; i < fit; ++i) start[count + i] = c;
    Advance(want);
  }
  void Finish() {
    if (count < size) start[count] = '\0';
    else if (size > 0) start[size - 1] = '\0';
  }
};

// a - b saturated to the signed 32-bit range.
int32_t SatSub(int64_t a, int64_t b) {
  const int64_t d = a - b;
  if (d > 0x7fffffff) return 0x7fffffff;
  if (d < -0x7fffffffLL - 1) return static_cast<int32_t>(-0x7fffffffLL - 1);
  return static_cast<int32_t>(d);
}

enum Length { kNone, kZ, kHH, kH, kJ, kBigL, kLL, kL };

struct Spec {
  bool plus = false, left = false, alt = false, blank = false, zero = false;
  int32_t width = 0;
  int32_t precision = -1;
  Length length = kNone;
};

bool Is64(Length l) { return l == kJ || l == kBigL || l == kLL; }

void FormatInteger(Cursor& out, const Spec& specIn, char conv, uint64_t magnitude, bool negative) {
  Spec spec = specIn;
  const char* digitsSet = "0123456789abcdef";
  uint32_t radix = 10;
  if (conv == 'p') {
    conv = 'X';
    spec.precision = 8;
    spec.zero = false;
  }
  if (conv == 'X') digitsSet = "0123456789ABCDEF";
  if (conv == 'x' || conv == 'X') radix = 16;
  else if (conv == 'o') radix = 8;

  if (spec.precision >= 0) spec.zero = false;
  int32_t precision = spec.precision < 0 ? 1 : spec.precision;

  // Digits fill the buffer from its end, so that they go out in one piece.
  char buffer[24];
  char* const end = buffer + sizeof buffer;
  char* digits = end;
  if (radix == 10) {  // the common case, with a division the compiler turns into a multiply
    for (uint64_t v = magnitude; v != 0; v /= 10) *--digits = static_cast<char>('0' + v % 10);
  } else {
    for (uint64_t v = magnitude; v != 0; v /= radix) *--digits = digitsSet[v % radix];
  }
  const int32_t nDigits = static_cast<int32_t>(end - digits);

  char prefix[3];
  int32_t nPrefix = 0;
  if (conv == 'd' || conv == 'i') {
    if (negative) prefix[nPrefix++] = '-';
    else if (spec.plus) prefix[nPrefix++] = '+';
    else if (spec.blank) prefix[nPrefix++] = ' ';
  } else if (spec.alt && magnitude != 0) {
    if (radix == 16) {
      prefix[nPrefix++] = '0';
      prefix[nPrefix++] = conv;
    } else if (radix == 8 && precision <= nDigits) {
      precision = nDigits + 1;  // the leading 0 counts towards the precision
    }
  }

  if (spec.zero && !spec.left) {
    const int32_t wanted = SatSub(spec.width, nPrefix);
    if (wanted > precision) precision = wanted;
  }
  const int32_t zeros = precision > nDigits ? precision - nDigits : 0;
  const int32_t body = static_cast<int32_t>(static_cast<int64_t>(nPrefix) + zeros + nDigits > 0x7fffffff
                                                ? 0x7fffffff
                                                : static_cast<int64_t>(nPrefix) + zeros + nDigits);
  const int32_t pad = SatSub(spec.width, body);
  if (!spec.left) out.Pad(' ', pad);
  out.Write(prefix, static_cast<uint32_t>(nPrefix));
  out.Pad('0', zeros);
  out.Write(digits, static_cast<uint32_t>(nDigits));
  if (spec.left) out.Pad(' ', pad);
}

void FormatString(Cursor& out, const Spec& spec, const char* s) {
  if (!s) s = "(null)";
  uint32_t len = 0;
  if (spec.precision >= 0) {
    while (len < static_cast<uint32_t>(spec.precision) && s[len]) ++len;
  } else {
    len = pvl_strlen(s);
  }
  const int32_t pad = SatSub(spec.width, len);
  if (!spec.left) out.Pad(' ', pad);
  out.Write(s, len);
  if (spec.left) out.Pad(' ', pad);
}

// Floating conversions go through the C library into a local buffer.
void FormatFloating(Cursor& out, const Spec& spec, char conv, long double value, bool isLong) {
  char fmt[32];
  int n = 0;
  fmt[n++] = '%';
  if (spec.plus) fmt[n++] = '+';
  if (spec.left) fmt[n++] = '-';
  if (spec.alt) fmt[n++] = '#';
  if (spec.blank) fmt[n++] = ' ';
  if (spec.zero) fmt[n++] = '0';
  fmt[n++] = '*';
  fmt[n++] = '.';
  fmt[n++] = '*';
  if (isLong) fmt[n++] = 'L';
  fmt[n++] = conv;
  fmt[n] = '\0';
  // Bounded so that the whole result fits the local buffer.
  const int width = spec.width > 64 ? 64 : spec.width;
  const int precision = spec.precision < 0 ? 6 : (spec.precision > 64 ? 64 : spec.precision);
  char text[5120];
  int len;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  if (isLong) len = snprintf(text, sizeof text, fmt, width, precision, value);
  else len = snprintf(text, sizeof text, fmt, width, precision, static_cast<double>(value));
#pragma GCC diagnostic pop
  if (len < 0) return;
  if (static_cast<size_t>(len) >= sizeof text) len = sizeof text - 1;
  const int32_t pad = SatSub(spec.width, len);  // width beyond the local cap
  if (!spec.left) out.Pad(' ', pad);
  out.Write(text, static_cast<uint32_t>(len));
  if (spec.left) out.Pad(' ', pad);
}

}  // namespace

int32_t pvl_vsnprintf(char* buffer, int32_t size, const char* format, va_list args) {
  Cursor out{buffer, (buffer && size > 0) ? static_cast<uint32_t>(size) : 0u, 0};
  if (!format) {
    out.Finish();
    return 0;
  }
  va_list ap;
  va_copy(ap, args);
  for (const char* f = format; *f; ++f) {
    if (*f != '%') {
      // A run of plain text goes out in one piece.
      const char* run = f;
      while (f[1] != '\0' && f[1] != '%') ++f;
      out.Write(run, static_cast<uint32_t>(f - run + 1));
      continue;
    }
    ++f;
    Spec spec;
    for (;; ++f) {
      if (*f == '+') spec.plus = true;
      else if (*f == '-') spec.left = true;
      else if (*f == '#') spec.alt = true;
      else if (*f == ' ') spec.blank = true;
      else if (*f == '0') spec.zero = true;
      else break;
    }
    if (*f == '*') {
      int32_t w = va_arg(ap, int32_t);
      if (w < 0) {
        spec.left = true;
        w = (w == static_cast<int32_t>(0x80000000u)) ? 0x7fffffff : -w;
      }
      spec.width = w;
      ++f;
    } else {
      int64_t w = 0;
      while (*f >= '0' && *f <= '9') {
        w = w * 10 + (*f++ - '0');
        if (w > 0x7fffffff) w = 0x7fffffff;
      }
      spec.width = static_cast<int32_t>(w);
    }
    if (*f == '.') {
      ++f;
      if (*f == '*') {
        const int32_t p = va_arg(ap, int32_t);
        spec.precision = p < 0 ? -1 : p;
        ++f;
      } else {
        int64_t p = 0;
        while (*f >= '0' && *f <= '9') {
          p = p * 10 + (*f++ - '0');
          if (p > 0x7fffffff) p = 0x7fffffff;
        }
        spec.precision = static_cast<int32_t>(p);
      }
    }
    if (f[0] == 'z') { spec.length = kZ; ++f; }
    else if (f[0] == 'h' && f[1] == 'h') { spec.length = kHH; f += 2; }
    else if (f[0] == 'h') { spec.length = kH; ++f; }
    else if (f[0] == 'j') { spec.length = kJ; ++f; }
    else if (f[0] == 'L') { spec.length = kBigL; ++f; }
    else if (f[0] == 'l' && f[1] == 'l') { spec.length = kLL; f += 2; }
    else if (f[0] == 'l') { spec.length = kL; ++f; }

    const char conv = *f;
    if (conv == '\0') break;
    switch (conv) {
      case 's':
        FormatString(out, spec, va_arg(ap, const char*));
        break;
      case 'c': {
        char c = static_cast<char>(va_arg(ap, int));
        const int32_t pad = SatSub(spec.width, 1);
        if (!spec.left) out.Pad(' ', pad);
        out.Put(c);
        if (spec.left) out.Pad(' ', pad);
        break;
      }
      case 'd':
      case 'i': {
        int64_t v;
        if (Is64(spec.length)) v = va_arg(ap, int64_t);
        else {
          int32_t v32 = va_arg(ap, int32_t);
          if (spec.length == kHH) v32 = static_cast<signed char>(v32);
          else if (spec.length == kH) v32 = static_cast<int16_t>(v32);
          v = v32;
        }
        const bool negative = v < 0;
        const uint64_t magnitude = negative ? 0ull - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
        FormatInteger(out, spec, conv, magnitude, negative);
        break;
      }
      case 'u':
      case 'o':
      case 'x':
      case 'X':
      case 'p': {
        uint64_t v;
        if (conv == 'p') v = reinterpret_cast<uintptr_t>(va_arg(ap, void*));
        else if (Is64(spec.length)) v = va_arg(ap, uint64_t);
        else {
          uint32_t v32 = va_arg(ap, uint32_t);
          if (spec.length == kHH) v32 = static_cast<uint8_t>(v32);
          else if (spec.length == kH) v32 = static_cast<uint16_t>(v32);
          v = v32;
        }
        FormatInteger(out, spec, conv, v, false);
        break;
      }
      case 'f':
      case 'F':
      case 'e':
      case 'E':
      case 'g':
      case 'G':
      case 'a':
      case 'A':
        // Always consume the argument so that the conversions after it stay
        // on their own arguments.
        if (spec.length == kBigL) FormatFloating(out, spec, conv, va_arg(ap, long double), true);
        else FormatFloating(out, spec, conv, va_arg(ap, double), false);
        break;
      default:
        out.Put(conv);  // "%%" and unknown conversion characters
        break;
    }
  }
  va_end(ap);
  out.Finish();
  return static_cast<int32_t>(out.count);
}

int32_t pvl_snprintf(char* buffer, int32_t size, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  const int32_t n = pvl_vsnprintf(buffer, size, format, ap);
  va_end(ap);
  return n;
}
