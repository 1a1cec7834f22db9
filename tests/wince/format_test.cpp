// Wide strings and the wide formatter.
#include <gtest/gtest.h>

#include <cstring>

#include "wince.h"
#include "wince_sim.h"

namespace {

TEST(WideFormat, Conversions) {
  const WCHAR wide[] = u"Pin";
  struct Case {
    std::u16string got;
    std::u16string expected;
  } cases[] = {
      {CeSimFormat(u"[%s] %d", wide, -5), u"[Pin] -5"},
      {CeSimFormat(u"%ls|%S|%hs", u"w", "n1", "n2"), u"w|n1|n2"},
      {CeSimFormat(u"0x%08x %X %u", 0xbeefu, 0xabcu, 4000000000u), u"0x0000beef ABC 4000000000"},
      {CeSimFormat(u"%c%c%C", u'a', 0x263A, 'z'), u"a\u263Az"},
      {CeSimFormat(u"%5d|%-5d|%05d|%+d", 42, 42, 42, 42), u"   42|42   |00042|+42"},
      {CeSimFormat(u"%.2f %8.3f %e", 3.14159, -2.5, 1000.0), u"3.14   -2.500 1.000000e+03"},
      {CeSimFormat(u"%6s|%-6s|%.2s", u"ab", u"ab", u"abcdef"), u"    ab|ab    |ab"},
      {CeSimFormat(u"%*d|%.*s", 4, 7, 3, u"abcdef"), u"   7|abc"},
      {CeSimFormat(u"%I64d %lld %llu", -5LL, 1LL << 40, ~0ULL), u"-5 1099511627776 18446744073709551615"},
      {CeSimFormat(u"%hd %hu %ld", 70000, 70000, -1L), u"4464 4464 -1"},
      {CeSimFormat(u"100%% %s", static_cast<const WCHAR*>(nullptr)), u"100% (null)"},
      {CeSimFormat(u"%p", reinterpret_cast<void*>(0x1234)), u"00001234"},
      {CeSimFormat(u"%hs", "caf\xc3\xa9"), u"caf\u00e9"},
      {CeSimFormat(u"trailing %"), u"trailing %"},
      {CeSimFormat(u"%q"), u"%q"},
      // Wide fields are kept whole.
      {CeSimFormat(u"%200d|", 7), std::u16string(199, u' ') + u"7|"},
      {CeSimFormat(u"%-*x|", 150, 0xabu), u"ab" + std::u16string(148, u' ') + u"|"},
  };
  for (const auto& c : cases) EXPECT_EQ(CeSimNarrow(c.got), CeSimNarrow(c.expected));
}

TEST(WideFormat, CountedFormsNeverOverrun) {
  WCHAR buf[8];
  for (auto& c : buf) c = u'#';
  EXPECT_EQ(_snwprintf(buf, 4, u"%s", u"abcdef"), -1);
  EXPECT_EQ(std::u16string(buf), u"abc");
  EXPECT_EQ(buf[4], u'#');
  EXPECT_EQ(swprintf(buf, 8, u"%d", 1234567), 7);
  EXPECT_EQ(std::u16string(buf), u"1234567");
  EXPECT_EQ(swprintf(buf, 8, u"%d", 12345678), -1);
  EXPECT_EQ(std::u16string(buf), u"1234567");
  EXPECT_EQ(_snwprintf(buf, 0, u"x"), -1);
  WCHAR big[2000];
  std::u16string longText(1500, u'x');
  EXPECT_EQ(wsprintfW(big, u"%s", longText.c_str()), 1023);   // wsprintf's own 1024-character limit
  EXPECT_EQ(wcslen(big), 1023u);
}

TEST(WideStrings, Helpers) {
  WCHAR buf[16];
  EXPECT_EQ(wcslcpy(buf, u"CamAsyncMSGQueue", 8), 16u);
  EXPECT_EQ(std::u16string(buf), u"CamAsyn");
  EXPECT_EQ(wcslen(u"abc"), 3u);
  EXPECT_EQ(_wcsicmp(u"CAM1:", u"cam1:"), 0);
  EXPECT_LT(wcscmp(u"a", u"b"), 0);
  EXPECT_EQ(_wcsnicmp(u"ABCx", u"abcy", 3), 0);
  EXPECT_EQ(wcsncmp(u"abcx", u"abcy", 4) < 0, true);
  const WCHAR name[] = u"a:b";
  EXPECT_EQ(wcschr(name, u':'), name + 1);
  EXPECT_EQ(wcschr(name, u'z'), nullptr);
  const WCHAR path[] = u"\\Windows\\x.dll";
  EXPECT_EQ(wcsrchr(path, u'\\'), path + 8);
  EXPECT_EQ(wcsstr(path, u"x.dll"), path + 9);
  EXPECT_EQ(_wtoi(u"  -42x"), -42);
  WCHAR* end = nullptr;
  const WCHAR hex[] = u"0x1Fz";
  EXPECT_EQ(wcstoul(hex, &end, 16), 31u);
  EXPECT_EQ(end, hex + 4);
  wcscpy(buf, u"ab");
  wcscat(buf, u"cd");
  EXPECT_EQ(std::u16string(buf), u"abcd");
  EXPECT_EQ(lstrlenW(nullptr), 0);
  EXPECT_EQ(lstrcmpiW(u"X.DLL", u"x.dll"), 0);
}

TEST(WideStrings, Utf8Conversions) {
  EXPECT_EQ(CeSimWiden("Gr\xc3\xbc\xc3\x9f" "e \xf0\x9f\x93\xb7"), u"Gr\u00fc\u00dfe \U0001F4F7");
  EXPECT_EQ(CeSimNarrow(u"Gr\u00fc\u00dfe \U0001F4F7"), "Gr\xc3\xbc\xc3\x9f" "e \xf0\x9f\x93\xb7");
  EXPECT_EQ(CeSimWiden("bad\xff"), u"bad\uFFFD");
  WCHAR w[8];
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abc", -1, w, 8), 4);
  EXPECT_EQ(std::u16string(w), u"abc");
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "abcdefghij", -1, w, 8), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  char n[8];
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"xyz", -1, n, 8, nullptr, nullptr), 4);
  EXPECT_STREQ(n, "xyz");
}

}  // namespace
