// 16-bit wide strings: the one printf-style formatter, the string helpers and the
// UTF-8 conversions.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "internal.h"

namespace cesim {

std::string Narrow(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::u16string Widen(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    uint32_t c;
    size_t n;
    if (b < 0x80) {
      c = b;
      n = 1;
    } else if ((b & 0xE0) == 0xC0) {
      c = b & 0x1F;
      n = 2;
    } else if ((b & 0xF0) == 0xE0) {
      c = b & 0x0F;
      n = 3;
    } else if ((b & 0xF8) == 0xF0) {
      c = b & 0x07;
      n = 4;
    } else {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    if (i + n > s.size()) {
      out += u'\uFFFD';
      break;
    }
    bool ok = true;
    for (size_t k = 1; k < n; ++k) {
      unsigned char cb = static_cast<unsigned char>(s[i + k]);
      if ((cb & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      c = (c << 6) | (cb & 0x3F);
    }
    if (!ok) {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    i += n;
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

char16_t FoldCase(char16_t c) {
  if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 32);
  // Latin-1 capitals (not the multiplication sign).
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 32);
  return c;
}

bool EqualNoCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  return true;
}

std::u16string LowerCase(std::u16string_view s) {
  std::u16string out(s);
  for (auto& c : out) c = FoldCase(c);
  return out;
}

std::string LowerCaseAscii(std::string_view s) {
  std::string out(s);
  for (auto& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return out;
}

namespace {

void Pad(std::u16string& out, size_t n, char16_t c) { out.append(n, c); }

// One number through the C library's formatter, however wide its field.
template <typename T>
std::u16string FormatNumber(const std::string& spec, T v) {
  char small[128];
  int n = std::snprintf(small, sizeof small, spec.c_str(), v);
  if (n < 0) return std::u16string();
  if (n < static_cast<int>(sizeof small)) return Widen(small);
  std::vector<char> big(static_cast<size_t>(n) + 1);
  std::snprintf(big.data(), big.size(), spec.c_str(), v);
  return Widen(big.data());
}

void PutField(std::u16string& out, std::u16string_view text, int width, bool left) {
  size_t w = width > 0 ? static_cast<size_t>(width) : 0;
  if (!left && text.size() < w) Pad(out, w - text.size(), u' ');
  out.append(text);
  if (left && text.size() < w) Pad(out, w - text.size(), u' ');
}

}  // namespace

std::u16string VFormat(const char16_t* format, va_list args) {
  std::u16string out;
  if (format == nullptr) return out;
  va_list ap;
  va_copy(ap, args);
  const char16_t* p = format;
  while (*p) {
    if (*p != u'%') {
      out += *p++;
      continue;
    }
    const char16_t* specStart = p;
    ++p;
    if (*p == u'%') {
      out += u'%';
      ++p;
      continue;
    }
    std::string flags;
    while (*p == u'-' || *p == u'+' || *p == u' ' || *p == u'0' || *p == u'#') {
      if (flags.find(static_cast<char>(*p)) == std::string::npos) flags += static_cast<char>(*p);
      ++p;
    }
    int width = -1;
    if (*p == u'*') {
      width = va_arg(ap, int);
      if (width < 0) {
        flags += '-';
        width = width == INT_MIN ? 4096 : -width;
      }
      if (width > 4096) width = 4096;
      ++p;
    } else {
      while (*p >= u'0' && *p <= u'9') {
        width = (width < 0 ? 0 : width) * 10 + (*p - u'0');
        if (width > 4096) width = 4096;
        ++p;
      }
    }
    int precision = -1;
    if (*p == u'.') {
      ++p;
      precision = 0;
      if (*p == u'*') {
        precision = va_arg(ap, int);
        if (precision < 0) precision = -1;
        if (precision > 4096) precision = 4096;
        ++p;
      } else {
        while (*p >= u'0' && *p <= u'9') {
          precision = precision * 10 + (*p - u'0');
          if (precision > 4096) precision = 4096;
          ++p;
        }
      }
    }
    // Length: 'h' narrow, 'l' wide/long, "ll"/"I64" 64-bit.
    int size = 0;   // -2 hh, -1 h, 0 none, 1 l, 2 ll
    bool sizeT = false;
    if (*p == u'h') {
      size = -1;
      ++p;
      if (*p == u'h') {
        size = -2;
        ++p;
      }
    } else if (*p == u'l') {
      size = 1;
      ++p;
      if (*p == u'l') {
        size = 2;
        ++p;
      }
    } else if (*p == u'I' && p[1] == u'6' && p[2] == u'4') {
      size = 2;
      p += 3;
    } else if (*p == u'I' && p[1] == u'3' && p[2] == u'2') {
      size = 0;
      p += 3;
    } else if (*p == u'z' || *p == u't' || *p == u'j') {
      sizeT = (*p != u'j');
      if (*p == u'j') size = 2;
      ++p;
    } else if (*p == u'L') {
      ++p;
    }
    char16_t conv = *p;
    if (conv == 0) {
      // A lone '%' at the end prints as it stands.
      out.append(specStart, p);
      break;
    }
    ++p;
    bool left = flags.find('-') != std::string::npos;
    switch (conv) {
      case u'd':
      case u'i':
      case u'u':
      case u'x':
      case u'X':
      case u'o': {
        bool isSigned = (conv == u'd' || conv == u'i');
        std::string f = "%" + flags;
        if (width >= 0) f += std::to_string(width);
        if (precision >= 0) f += "." + std::to_string(precision);
        f += "ll";
        f += static_cast<char>(conv);
        if (isSigned) {
          long long v;
          if (size == 2) v = va_arg(ap, long long);
          else if (sizeT) v = va_arg(ap, ptrdiff_t);
          else if (size == 1) v = va_arg(ap, long);
          else v = va_arg(ap, int);
          if (size == -1) v = static_cast<short>(v);
          if (size == -2) v = static_cast<signed char>(v);
          out += FormatNumber(f, v);
        } else {
          unsigned long long v;
          if (size == 2) v = va_arg(ap, unsigned long long);
          else if (sizeT) v = va_arg(ap, size_t);
          else if (size == 1) v = va_arg(ap, unsigned long);
          else v = va_arg(ap, unsigned int);
          if (size == -1) v = static_cast<unsigned short>(v);
          if (size == -2) v = static_cast<unsigned char>(v);
          out += FormatNumber(f, v);
        }
        break;
      }
      case u'p': {
        void* v = va_arg(ap, void*);
        char buf[32];
        std::snprintf(buf, sizeof buf, "%08lX", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(v)));
        PutField(out, Widen(buf), width, left);
        break;
      }
      case u'f':
      case u'F':
      case u'e':
      case u'E':
      case u'g':
      case u'G': {
        double v = va_arg(ap, double);
        std::string f = "%" + flags;
        if (width >= 0) f += std::to_string(width);
        if (precision >= 0) f += "." + std::to_string(precision > 300 ? 300 : precision);
        f += static_cast<char>(conv);
        out += FormatNumber(f, v);
        break;
      }
      case u'c':
      case u'C': {
        int v = va_arg(ap, int);
        char16_t ch;
        bool narrow = (conv == u'C' && size != 1) || size == -1;
        if (narrow) ch = static_cast<unsigned char>(v);
        else ch = static_cast<char16_t>(v);
        PutField(out, std::u16string_view(&ch, 1), width, left);
        break;
      }
      case u's':
      case u'S': {
        bool narrow = (conv == u'S' && size != 1) || size == -1;
        std::u16string text;
        if (narrow) {
          const char* s = va_arg(ap, const char*);
          if (s == nullptr) {
            text = u"(null)";
          } else {
            size_t n = precision >= 0 ? strnlen(s, static_cast<size_t>(precision)) : std::strlen(s);
            text = Widen(std::string_view(s, n));
          }
        } else {
          const char16_t* s = va_arg(ap, const char16_t*);
          if (s == nullptr) {
            text = u"(null)";
          } else {
            size_t n = 0;
            while (s[n] && (precision < 0 || n < static_cast<size_t>(precision))) ++n;
            text.assign(s, n);
          }
        }
        if (precision >= 0 && text.size() > static_cast<size_t>(precision)) text.resize(precision);
        PutField(out, text, width, left);
        break;
      }
      case u'n': {
        // Writing through an argument is never safe here: the pointer is skipped.
        (void)va_arg(ap, void*);
        break;
      }
      default:
        // Unknown conversion: print it as it stands, consume nothing.
        out.append(specStart, p);
        break;
    }
  }
  va_end(ap);
  return out;
}

// Copies `text` into a buffer of `count` characters; always terminated when count > 0.
int PutBounded(WCHAR* buffer, size_t count, const std::u16string& text) {
  if (buffer == nullptr || count == 0) return text.empty() ? 0 : -1;
  if (text.size() < count) {
    std::memcpy(buffer, text.data(), text.size() * sizeof(WCHAR));
    buffer[text.size()] = 0;
    return static_cast<int>(text.size());
  }
  std::memcpy(buffer, text.data(), (count - 1) * sizeof(WCHAR));
  buffer[count - 1] = 0;
  return -1;
}

}  // namespace cesim

using cesim::PutBounded;
using cesim::VFormat;

namespace {
constexpr size_t kWsprintfMax = 1024;
}

extern "C" {

int wvsprintfW(LPWSTR buffer, LPCWSTR format, va_list args) {
  if (buffer == nullptr || format == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::u16string text = VFormat(format, args);
  int n = PutBounded(buffer, kWsprintfMax, text);
  return n < 0 ? static_cast<int>(kWsprintfMax - 1) : n;
}

int wsprintfW(LPWSTR buffer, LPCWSTR format, ...) {
  va_list ap;
  va_start(ap, format);
  int n = wvsprintfW(buffer, format, ap);
  va_end(ap);
  return n;
}

int lstrlenW(LPCWSTR s) { return s ? static_cast<int>(wcslen(s)) : 0; }

LPWSTR lstrcpyW(LPWSTR dst, LPCWSTR src) {
  if (dst == nullptr || src == nullptr) return nullptr;
  return wcscpy(dst, src);
}

LPWSTR lstrcpynW(LPWSTR dst, LPCWSTR src, int maxChars) {
  if (dst == nullptr || src == nullptr || maxChars <= 0) return nullptr;
  wcslcpy(dst, src, static_cast<size_t>(maxChars));
  return dst;
}

LPWSTR lstrcatW(LPWSTR dst, LPCWSTR src) {
  if (dst == nullptr || src == nullptr) return nullptr;
  return wcscat(dst, src);
}

int lstrcmpW(LPCWSTR a, LPCWSTR b) {
  if (a == nullptr || b == nullptr) return (a == b) ? 0 : (a == nullptr ? -1 : 1);
  return wcscmp(a, b);
}

int lstrcmpiW(LPCWSTR a, LPCWSTR b) {
  if (a == nullptr || b == nullptr) return (a == b) ? 0 : (a == nullptr ? -1 : 1);
  return _wcsicmp(a, b);
}

int MultiByteToWideChar(UINT /*codePage*/, DWORD /*flags*/, LPCSTR src, int srcLen, LPWSTR dst, int dstChars) {
  if (src == nullptr || dstChars < 0 || (dst == nullptr && dstChars != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t n = srcLen < 0 ? std::strlen(src) + 1 : static_cast<size_t>(srcLen);
  std::u16string w = cesim::Widen(std::string_view(src, n));
  if (dstChars == 0) return static_cast<int>(w.size());
  if (w.size() > static_cast<size_t>(dstChars)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(dst, w.data(), w.size() * sizeof(WCHAR));
  return static_cast<int>(w.size());
}

int WideCharToMultiByte(UINT /*codePage*/, DWORD /*flags*/, LPCWSTR src, int srcChars, LPSTR dst, int dstLen,
                        LPCSTR /*defaultChar*/, LPBOOL usedDefault) {
  if (src == nullptr || dstLen < 0 || (dst == nullptr && dstLen != 0)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (usedDefault) *usedDefault = FALSE;
  size_t n = srcChars < 0 ? wcslen(src) + 1 : static_cast<size_t>(srcChars);
  std::string s = cesim::Narrow(std::u16string_view(src, n));
  if (dstLen == 0) return static_cast<int>(s.size());
  if (s.size() > static_cast<size_t>(dstLen)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(dst, s.data(), s.size());
  return static_cast<int>(s.size());
}

}  // extern "C"

int _vsnwprintf(WCHAR* buffer, size_t count, const WCHAR* format, va_list args) {
  if (format == nullptr) return -1;
  return PutBounded(buffer, count, VFormat(format, args));
}

int _snwprintf(WCHAR* buffer, size_t count, const WCHAR* format, ...) {
  va_list ap;
  va_start(ap, format);
  int n = _vsnwprintf(buffer, count, format, ap);
  va_end(ap);
  return n;
}

int vswprintf(WCHAR* buffer, size_t count, const WCHAR* format, va_list args) {
  return _vsnwprintf(buffer, count, format, args);
}

int swprintf(WCHAR* buffer, size_t count, const WCHAR* format, ...) {
  va_list ap;
  va_start(ap, format);
  int n = _vsnwprintf(buffer, count, format, ap);
  va_end(ap);
  return n;
}

size_t wcslen(const WCHAR* s) {
  size_t n = 0;
  while (s[n]) ++n;
  return n;
}

size_t wcsnlen(const WCHAR* s, size_t maxChars) {
  size_t n = 0;
  while (n < maxChars && s[n]) ++n;
  return n;
}

WCHAR* wcscpy(WCHAR* dst, const WCHAR* src) {
  size_t i = 0;
  do {
    dst[i] = src[i];
  } while (src[i++]);
  return dst;
}

WCHAR* wcsncpy(WCHAR* dst, const WCHAR* src, size_t count) {
  size_t i = 0;
  for (; i < count && src[i]; ++i) dst[i] = src[i];
  for (; i < count; ++i) dst[i] = 0;
  return dst;
}

size_t wcslcpy(WCHAR* dst, const WCHAR* src, size_t size) {
  size_t n = wcslen(src);
  if (size > 0 && dst != nullptr) {
    size_t c = n < size - 1 ? n : size - 1;
    std::memmove(dst, src, c * sizeof(WCHAR));
    dst[c] = 0;
  }
  return n;
}

WCHAR* wcscat(WCHAR* dst, const WCHAR* src) {
  wcscpy(dst + wcslen(dst), src);
  return dst;
}

WCHAR* wcsncat(WCHAR* dst, const WCHAR* src, size_t count) {
  WCHAR* d = dst + wcslen(dst);
  size_t i = 0;
  for (; i < count && src[i]; ++i) d[i] = src[i];
  d[i] = 0;
  return dst;
}

int wcscmp(const WCHAR* a, const WCHAR* b) {
  while (*a && *a == *b) {
    ++a;
    ++b;
  }
  return static_cast<int>(*a) - static_cast<int>(*b);
}

int wcsncmp(const WCHAR* a, const WCHAR* b, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    if (a[i] != b[i] || a[i] == 0) return static_cast<int>(a[i]) - static_cast<int>(b[i]);
  }
  return 0;
}

int _wcsicmp(const WCHAR* a, const WCHAR* b) { return _wcsnicmp(a, b, SIZE_MAX); }

int _wcsnicmp(const WCHAR* a, const WCHAR* b, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    int ca = cesim::FoldCase(a[i]);
    int cb = cesim::FoldCase(b[i]);
    if (ca != cb || ca == 0) return ca - cb;
  }
  return 0;
}

const WCHAR* wcschr(const WCHAR* s, WCHAR c) {
  for (;; ++s) {
    if (*s == c) return s;
    if (*s == 0) return nullptr;
  }
}
WCHAR* wcschr(WCHAR* s, WCHAR c) { return const_cast<WCHAR*>(wcschr(static_cast<const WCHAR*>(s), c)); }

const WCHAR* wcsrchr(const WCHAR* s, WCHAR c) {
  const WCHAR* found = nullptr;
  for (;; ++s) {
    if (*s == c) found = s;
    if (*s == 0) return found;
  }
}
WCHAR* wcsrchr(WCHAR* s, WCHAR c) { return const_cast<WCHAR*>(wcsrchr(static_cast<const WCHAR*>(s), c)); }

const WCHAR* wcsstr(const WCHAR* s, const WCHAR* sub) {
  size_t n = wcslen(sub);
  if (n == 0) return s;
  for (; *s; ++s)
    if (wcsncmp(s, sub, n) == 0) return s;
  return nullptr;
}
WCHAR* wcsstr(WCHAR* s, const WCHAR* sub) { return const_cast<WCHAR*>(wcsstr(static_cast<const WCHAR*>(s), sub)); }

long wcstol(const WCHAR* s, WCHAR** end, int base) {
  std::string n = cesim::Narrow(std::u16string_view(s, wcslen(s)));
  char* e = nullptr;
  long v = std::strtol(n.c_str(), &e, base);
  // The narrow text is ASCII up to where the number ends, so offsets agree.
  if (end) *end = const_cast<WCHAR*>(s) + (e - n.c_str());
  return v;
}

unsigned long wcstoul(const WCHAR* s, WCHAR** end, int base) {
  std::string n = cesim::Narrow(std::u16string_view(s, wcslen(s)));
  char* e = nullptr;
  unsigned long v = std::strtoul(n.c_str(), &e, base);
  if (end) *end = const_cast<WCHAR*>(s) + (e - n.c_str());
  return v;
}

int _wtoi(const WCHAR* s) {
  if (s == nullptr) return 0;
  return static_cast<int>(wcstol(s, nullptr, 10));
}

std::u16string CeSimFormat(const WCHAR* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::u16string s = VFormat(format, ap);
  va_end(ap);
  return s;
}

std::string CeSimNarrow(std::u16string_view s) { return cesim::Narrow(s); }
std::u16string CeSimWiden(std::string_view s) { return cesim::Widen(s); }
