// Strings and the bounded formatter.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "pvlstring.h"

namespace {

std::string VFmt(int32_t size, const char* format, va_list ap) {
  char buffer[256];
  std::memset(buffer, 'Z', sizeof buffer);
  pvl_vsnprintf(buffer, size, format, ap);
  return std::string(buffer);
}

std::string Fmt(int32_t size, const char* format, ...) __attribute__((format(printf, 2, 3)));
std::string Fmt(int32_t size, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::string s = VFmt(size, format, ap);
  va_end(ap);
  return s;
}

// The same, for formats that the compiler's format check would question.
std::string FmtRaw(int32_t size, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::string s = VFmt(size, format, ap);
  va_end(ap);
  return s;
}

TEST(PvlString, ComparisonsAndSearch) {
  EXPECT_EQ(pvl_strlen("abc"), 3u);
  EXPECT_EQ(pvl_strlen(nullptr), 0u);
  EXPECT_EQ(pvl_strcmp("abc", "abc"), 0);
  EXPECT_LT(pvl_strcmp("abc", "abd"), 0);
  EXPECT_GT(pvl_strcmp("abcd", "abc"), 0);
  EXPECT_EQ(pvl_stricmp("TuningData", "tuningdata"), 0);
  EXPECT_NE(pvl_stricmp("abc", "abd"), 0);
  EXPECT_EQ(pvl_strnicmp("ABCx", "abcy", 3), 0);
  EXPECT_NE(pvl_strnicmp("ABCx", "abcy", 4), 0);
  EXPECT_EQ(pvl_strnicmp("a", "b", 0), 0);
  EXPECT_EQ(pvl_strnicmp("a", "b", -5), 0);

  const char* s = "fs:/~0x";
  EXPECT_EQ(pvl_strchrend(s, '~'), s + 4);
  EXPECT_EQ(pvl_strchrend(s, 'q'), s + 7);  // the terminating NUL
  EXPECT_EQ(pvl_strbegins(s, "fs:/"), s + 4);
  EXPECT_EQ(pvl_strbegins(s, "fs:\\"), nullptr);
  EXPECT_EQ(pvl_strbegins("fs", "fs:/"), nullptr);
}

TEST(PvlString, BoundedCopiesAlwaysTerminate) {
  char dst[8];
  std::memset(dst, 'x', sizeof dst);
  EXPECT_EQ(pvl_strlcpy(dst, "0123456789", sizeof dst), 10u);
  EXPECT_STREQ(dst, "0123456");
  std::memset(dst, 'x', sizeof dst);
  EXPECT_EQ(pvl_strlcpy(dst, "abc", 0), 3u);  // size 0 writes nothing
  EXPECT_EQ(dst[0], 'x');

  char cat[8] = "abc";
  EXPECT_EQ(pvl_strlcat(cat, "defgh", sizeof cat), 8u);
  EXPECT_STREQ(cat, "abcdefg");
  char full[4] = {'a', 'b', 'c', 'd'};  // not terminated within its size
  EXPECT_EQ(pvl_strlcat(full, "xy", sizeof full), 6u);
  EXPECT_EQ(full[3], 'd');

  char16_t w[4];
  EXPECT_EQ(pvl_wcslcpy(w, u"camera", 4), 6u);
  EXPECT_EQ(std::u16string(w), u"cam");
}

TEST(PvlString, MemoryHelpersIgnoreNonPositiveCounts) {
  char b[6] = "hello";
  pvl_memset(b, 'x', -1);
  pvl_memmove(b, "ab", 0);
  pvl_memmove(b, "ab", -3);
  EXPECT_STREQ(b, "hello");
  pvl_memset(b, 'x', 2);
  EXPECT_STREQ(b, "xxllo");
  pvl_memmove(b + 1, b, 4);  // overlapping
  EXPECT_STREQ(b, "xxxll");
}

TEST(PvlString, Strtoul) {
  struct Case {
    const char* text;
    int32_t base;
    uint32_t value;
    int32_t status;
    int consumed;
  } cases[] = {
      {"0x1F", 0, 31, PVL_STRTOUL_OK, 4},
      {" \t42z", 0, 42, PVL_STRTOUL_OK, 4},
      {"017", 0, 15, PVL_STRTOUL_OK, 3},  // base 0: a leading 0 is octal
      {"089", 0, 0, PVL_STRTOUL_OK, 1},
      {"0", 0, 0, PVL_STRTOUL_OK, 1},
      {"0X1f", 0, 31, PVL_STRTOUL_OK, 4},
      {"017", 10, 17, PVL_STRTOUL_OK, 3},
      {"ff", 16, 255, PVL_STRTOUL_OK, 2},
      {"0x10", 16, 16, PVL_STRTOUL_OK, 4},
      {"101", 2, 5, PVL_STRTOUL_OK, 3},
      {"zz", 36, 1295, PVL_STRTOUL_OK, 2},
      {"-1", 10, 0xFFFFFFFFu, PVL_STRTOUL_OK, 2},
      {"+7", 10, 7, PVL_STRTOUL_OK, 2},
      {"4294967295", 10, 0xFFFFFFFFu, PVL_STRTOUL_OK, 10},
      {"4294967296", 10, 0xFFFFFFFFu, PVL_STRTOUL_OVERFLOW, 10},
      {"99999999999", 0, 0xFFFFFFFFu, PVL_STRTOUL_OVERFLOW, 11},
      {"", 0, 0, PVL_STRTOUL_NODIGITS, 0},
      {"  x", 10, 0, PVL_STRTOUL_NODIGITS, 0},
      {"0xg", 0, 0, PVL_STRTOUL_OK, 1},
      {"12", 37, 0, PVL_STRTOUL_BADBASE, 0},
      {"12", 1, 0, PVL_STRTOUL_BADBASE, 0},
  };
  for (const Case& c : cases) {
    const char* end = nullptr;
    int32_t status = -1;
    EXPECT_EQ(pvl_strtoul(c.text, &end, c.base, &status), c.value) << c.text;
    EXPECT_EQ(status, c.status) << c.text;
    EXPECT_EQ(end - c.text, c.consumed) << c.text;
  }
  int32_t status = -1;
  EXPECT_EQ(pvl_strtoul(nullptr, nullptr, 10, &status), 0u);
  EXPECT_EQ(status, PVL_STRTOUL_NODIGITS);
}

TEST(PvlFormat, Conversions) {
  EXPECT_EQ(Fmt(64, "%5.3d", 7), "  007");
  EXPECT_EQ(Fmt(64, "%-4x|", 255), "ff  |");
  EXPECT_EQ(Fmt(64, "%#o", 8), "010");
  EXPECT_EQ(Fmt(64, "%#.3o", 8), "010");
  EXPECT_EQ(Fmt(64, "%p", reinterpret_cast<void*>(0x1a)), "0000001A");
  EXPECT_EQ(Fmt(64, "%lld", -1LL), "-1");
  EXPECT_EQ(Fmt(64, "%llu %d", 0x100000000ULL, 5), "4294967296 5");
  EXPECT_EQ(Fmt(64, "%hhd|%d", 300, 9), "44|9");  // 32-bit argument, shown as a char
  EXPECT_EQ(Fmt(64, "%hu", 70000), "4464");
  EXPECT_EQ(Fmt(64, "%zu", static_cast<size_t>(12)), "12");
  EXPECT_EQ(Fmt(64, "%+d % d %d", 5, 5, -5), "+5  5 -5");
  EXPECT_EQ(FmtRaw(64, "%05d|%-05d|", -42, 42), "-0042|42   |");
  EXPECT_EQ(Fmt(64, "%#x %#X %#x", 255, 255, 0), "0xff 0XFF 0");
  EXPECT_EQ(FmtRaw(64, "%08.3d", 5), "     005");  // a precision turns zero padding off
  EXPECT_EQ(Fmt(64, "%*d|%-*d|", 4, 1, 3, 2), "   1|2  |");
  EXPECT_EQ(Fmt(64, "%*d|", -3, 1), "1  |");
  EXPECT_EQ(Fmt(64, "%.*s", 3, "camera"), "cam");
  EXPECT_EQ(Fmt(64, "%6s|%-6s|", "ab", "cd"), "    ab|cd    |");
  const char* volatile nothing = nullptr;
  EXPECT_EQ(FmtRaw(64, "%s", nothing), "(null)");
  EXPECT_EQ(Fmt(64, "%c%c", 'o', 'k'), "ok");
  EXPECT_EQ(Fmt(64, "100%%"), "100%");
  EXPECT_EQ(Fmt(64, "%.0d", 0), "");
  EXPECT_EQ(Fmt(64, "%u", 0xFFFFFFFFu), "4294967295");
  EXPECT_EQ(Fmt(64, "%d", static_cast<int32_t>(0x80000000u)), "-2147483648");
}

TEST(PvlFormat, FloatingConversionsConsumeTheirArgument) {
  // "%f" takes its double, so later conversions stay on their own arguments.
  EXPECT_EQ(Fmt(64, "fApertureStop: %f; nShutterTime: %d", 2.8, 33), "fApertureStop: 2.800000; nShutterTime: 33");
  EXPECT_EQ(Fmt(64, "%.2f %s", -1.005, "x"), "-1.00 x");
  EXPECT_EQ(Fmt(64, "%8.3e|%g|%d", 12345.678, 0.5, 7), "1.235e+04|0.5|7");
  EXPECT_EQ(Fmt(64, "%Lf %d", 1.5L, 3), "1.500000 3");
}

TEST(PvlFormat, BoundsAndReturnedLength) {
  char b[8];
  std::memset(b, 'x', sizeof b);
  EXPECT_EQ(pvl_snprintf(b, 8, "%d", 1234567890), 10);
  EXPECT_STREQ(b, "1234567");

  std::memset(b, 'x', sizeof b);
  EXPECT_EQ(pvl_snprintf(b, 0, "%s", "abcdef"), 6);  // size 0: nothing written
  EXPECT_EQ(b[0], 'x');
  EXPECT_EQ(pvl_snprintf(b, -4, "%s", "abcdef"), 6);  // negative counts as 0
  EXPECT_EQ(b[0], 'x');
  EXPECT_EQ(pvl_snprintf(nullptr, 10, "%d", 12), 2);

  // Plain text around a conversion, cut by the end of the buffer.
  std::memset(b, 'x', sizeof b);
  EXPECT_EQ(pvl_snprintf(b, 8, "ab%dcdefghij", 12), 12);
  EXPECT_STREQ(b, "ab12cde");

  EXPECT_EQ(pvl_snprintf(b, 1, "abc"), 3);
  EXPECT_EQ(b[0], '\0');
  EXPECT_EQ(pvl_snprintf(b, 8, nullptr), 0);
  EXPECT_EQ(b[0], '\0');

  // Unknown conversion characters are written out; a format cut after '%' ends.
  EXPECT_EQ(FmtRaw(64, "%k%"), "k");
  // Huge widths saturate instead of wrapping.
  char small[4];
  EXPECT_EQ(pvl_snprintf(small, sizeof small, "%2147483647d", 1), 0x7fffffff);
  EXPECT_STREQ(small, "   ");
}

}  // namespace
