// The registry: seeding from the image, values, keys and errors.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "image_copy.h"
#include "wince.h"
#include "wince_sim.h"

namespace {

class Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    camera::test::WriteImageFile("registry.d/50-test.reg",
                                 "REGEDIT4\r\n"
                                 "; a test fragment\r\n"
                                 "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\Camera]\r\n"
                                 "\"Prefix\"=\"CAM\"\r\n"
                                 "\"Index\"=dword:00000001\r\n"
                                 "\"Dll\"=\"Ostrel.dll\"\r\n"
                                 "\"Quote\"=\"a \\\"b\\\" \\\\c\"\r\n"
                                 "\"Bytes\"=hex:01,02,\\\r\n"
                                 "  03,\\\r\n"
                                 "  04\r\n"
                                 "\"List\"=multi_sz:\"one\",\"two\"\r\n"
                                 "[HKEY_CURRENT_USER\\Software\\Test]\r\n"
                                 "@=\"default\"\r\n"
                                 "\"Bad\"=dword:zz\r\n");
    camera::test::WriteImageFile("registry.d/60-later.reg",
                                 "[HKEY_LOCAL_MACHINE\\Drivers\\BuiltIn\\Camera]\n"
                                 "\"Index\"=dword:00000002\n"
                                 "\"Dll\"=-\n");
    CeSimReloadRegistry();
  }
  void TearDown() override {
    camera::test::RemoveImageFile("registry.d/50-test.reg");
    camera::test::RemoveImageFile("registry.d/60-later.reg");
    CeSimReloadRegistry();
  }
  static DWORD ReadDword(HKEY k, const char16_t* name) {
    DWORD v = 0, type = 0, size = sizeof v;
    EXPECT_EQ(RegQueryValueExW(k, name, nullptr, &type, reinterpret_cast<BYTE*>(&v), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(size, 4u);
    return v;
  }
};

TEST_F(Registry, SeedFragmentsLoadInNameOrder) {
  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"drivers\\builtin\\CAMERA", 0, 0, &k), ERROR_SUCCESS);
  EXPECT_EQ(ReadDword(k, u"Index"), 2u);   // the later fragment wins
  WCHAR text[16];
  DWORD type = 0, size = sizeof text;
  ASSERT_EQ(RegQueryValueExW(k, u"Prefix", nullptr, &type, reinterpret_cast<BYTE*>(text), &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 8u);   // "CAM" and its NUL
  EXPECT_EQ(std::u16string(text), u"CAM");
  EXPECT_EQ(RegQueryValueExW(k, u"Dll", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
  size = sizeof text;
  ASSERT_EQ(RegQueryValueExW(k, u"Quote", nullptr, &type, reinterpret_cast<BYTE*>(text), &size), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(text), u"a \"b\" \\c");
  BYTE bytes[8];
  size = sizeof bytes;
  ASSERT_EQ(RegQueryValueExW(k, u"Bytes", nullptr, &type, bytes, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_BINARY);
  ASSERT_EQ(size, 4u);   // continued over three lines
  EXPECT_EQ(bytes[2], 3);
  EXPECT_EQ(bytes[3], 4);
  WCHAR list[16];
  size = sizeof list;
  ASSERT_EQ(RegQueryValueExW(k, u"List", nullptr, &type, reinterpret_cast<BYTE*>(list), &size), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_MULTI_SZ);
  EXPECT_EQ(size, 18u);
  EXPECT_EQ(std::u16string(list + 4), u"two");
  EXPECT_EQ(RegCloseKey(k), ERROR_SUCCESS);

  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Test", 0, 0, &k), ERROR_SUCCESS);
  size = sizeof text;
  ASSERT_EQ(RegQueryValueExW(k, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(text), &size), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(text), u"default");
  EXPECT_EQ(RegQueryValueExW(k, u"Bad", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
  RegCloseKey(k);
}

TEST_F(Registry, SizesTypesAndShortBuffers) {
  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\Camera", 0, 0, &k), ERROR_SUCCESS);
  DWORD type = 0, size = 0;
  EXPECT_EQ(RegQueryValueExW(k, u"Prefix", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(type, REG_SZ);
  WCHAR two[2] = {u'x', u'y'};
  size = sizeof two;
  EXPECT_EQ(RegQueryValueExW(k, u"Prefix", nullptr, &type, reinterpret_cast<BYTE*>(two), &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(two[0], u'x');   // nothing written
  EXPECT_EQ(RegQueryValueExW(k, u"Prefix", nullptr, &type, reinterpret_cast<BYTE*>(two), nullptr),
            ERROR_INVALID_PARAMETER);
  RegCloseKey(k);
}

TEST_F(Registry, CreateSetDeleteAndReload) {
  HKEY k = nullptr;
  DWORD disp = 0;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\Hotfix", 0, nullptr, 0, 0, nullptr, &k, &disp),
            ERROR_SUCCESS);
  EXPECT_EQ(disp, REG_CREATED_NEW_KEY);
  DWORD one = 1;
  EXPECT_EQ(RegSetValueExW(k, u"NeedReboot", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4), ERROR_SUCCESS);
  EXPECT_EQ(ReadDword(k, u"NeedReboot"), 1u);
  // A string stored without its NUL still reads back terminated.
  const char16_t ver[] = u"20091208-00";
  EXPECT_EQ(RegSetValueExW(k, u"CameraDLL_version", 0, REG_SZ, reinterpret_cast<const BYTE*>(ver), 22), ERROR_SUCCESS);
  WCHAR out[32];
  DWORD type = 0, size = sizeof out;
  ASSERT_EQ(RegQueryValueExW(k, u"CameraDLL_version", nullptr, &type, reinterpret_cast<BYTE*>(out), &size),
            ERROR_SUCCESS);
  EXPECT_EQ(size, 24u);
  EXPECT_EQ(std::u16string(out), ver);
  EXPECT_EQ(RegSetValueExW(k, u"Short", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 2), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegDeleteValueW(k, u"NeedReboot"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueW(k, u"NeedReboot"), ERROR_FILE_NOT_FOUND);

  HKEY again = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\Hotfix", 0, nullptr, 0, 0, nullptr, &again, &disp),
            ERROR_SUCCESS);
  EXPECT_EQ(disp, REG_OPENED_EXISTING_KEY);
  RegCloseKey(again);

  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\Hotfix"), ERROR_SUCCESS);
  EXPECT_NE(RegSetValueExW(k, u"X", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4), ERROR_SUCCESS);   // deleted key
  RegCloseKey(k);
  HKEY gone = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\Hotfix", 0, 0, &gone), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(gone, nullptr);

  // Changes live in memory only: a reload brings back the seed.
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Temp", 0, nullptr, 0, 0, nullptr, &k, nullptr), ERROR_SUCCESS);
  CeSimReloadRegistry();
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Temp", 0, 0, &gone), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegSetValueExW(k, u"X", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(k), ERROR_SUCCESS);
}

TEST_F(Registry, BadKeysAndNames) {
  HKEY k = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"No\\Such\\Key", 0, 0, &k), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyExW(nullptr, u"Drivers", 0, 0, &k), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Drivers", 0, 0, nullptr), ERROR_INVALID_PARAMETER);
  DWORD size = 4;
  EXPECT_EQ(RegQueryValueExW(reinterpret_cast<HKEY>(0x1234), u"x", nullptr, nullptr, nullptr, &size),
            ERROR_INVALID_HANDLE);
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Drivers", 0, 0, &k), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(k), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(k), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, nullptr), ERROR_INVALID_PARAMETER);
}

TEST_F(Registry, EnumeratesKeysAndValues) {
  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\Camera", 0, 0, &k), ERROR_SUCCESS);
  WCHAR name[32];
  DWORD n = 32;
  int count = 0;
  for (DWORD i = 0;; ++i) {
    n = 32;
    LONG r = RegEnumValueW(k, i, name, &n, nullptr, nullptr, nullptr, nullptr);
    if (r == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(r, ERROR_SUCCESS);
    ++count;
  }
  EXPECT_EQ(count, 5);   // Prefix, Index, Quote, Bytes, List
  RegCloseKey(k);
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Drivers", 0, 0, &k), ERROR_SUCCESS);
  n = 32;
  bool builtIn = false;
  for (DWORD i = 0; RegEnumKeyExW(k, i, name, &(n = 32), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS; ++i)
    builtIn |= std::u16string(name) == u"BuiltIn";
  EXPECT_TRUE(builtIn);
  RegCloseKey(k);
}

// A seed fragment of its own, loaded with the debug output captured.
class RegistrySeed : public ::testing::Test {
 protected:
  void Load(std::string_view text) {
    camera::test::WriteImageFile("registry.d/70-seed.reg", text);
    CeSimReloadRegistry();
    CeSimDebugCaptureBegin();
    HKEY k = nullptr;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Drivers", 0, 0, &k);  // the first use loads the seed
    if (k) RegCloseKey(k);
  }
  void TearDown() override {
    CeSimDebugCaptureEnd();
    camera::test::RemoveImageFile("registry.d/70-seed.reg");
    CeSimReloadRegistry();
  }
  // The names of a key's values, in enumeration order; "?" when it does not open.
  static std::vector<std::u16string> ValueNames(const char16_t* path) {
    HKEY k = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, 0, &k) != ERROR_SUCCESS) return {u"?"};
    std::vector<std::u16string> names;
    WCHAR name[64];
    for (DWORD i = 0, n = 64; RegEnumValueW(k, i, name, &n, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++i, n = 64)
      names.emplace_back(name, n);
    RegCloseKey(k);
    return names;
  }
};

// Names end at their first NUL when asked for: a NUL inside a name in the seed
// would make a value that enumerates but cannot be read, shadow the default
// value, or open the key "a<NUL>b" as "a". Such lines are refused, and so are
// texts that would be cut short at a NUL; each says which file and line.
TEST_F(RegistrySeed, RefusesNulCharactersNamingFileAndLine) {
  static const char kSeed[] =
      "[HKEY_LOCAL_MACHINE\\SeedNul]\n"           // 1
      "@=\"default\"\n"                             // 2
      "\"\0\"=multi_sz:\"x\"\n"                     // 3
      "\"a\0b\"=\"x\"\n"                            // 4
      "\"Text\"=\"a\0b\"\n"                         // 5
      "\"List\"=multi_sz:\"one\",\"t\0o\"\n"        // 6
      "\"Good\"=dword:00000001\n"                   // 7
      "[HKEY_LOCAL_MACHINE\\SeedNul\\a\0b]\n"       // 8
      "\"Lost\"=dword:00000002\n";                  // 9
  Load(std::string_view(kSeed, sizeof kSeed - 1));
  struct Case {
    int line;
    const char* message;
  } cases[] = {
      {3, "NUL character in a value name"},     {4, "NUL character in a value name"},
      {5, "NUL character in a string value"},   {6, "NUL character in a multi_sz string"},
      {8, "NUL character in a key name"},       {9, "value outside a key"},
  };
  for (const Case& k : cases) {
    std::string expected = "registry seed 70-seed.reg line " + std::to_string(k.line) + ": " + k.message;
    EXPECT_TRUE(CeSimDebugCapturedContains(expected)) << expected;
  }

  EXPECT_EQ(ValueNames(u"SeedNul"), (std::vector<std::u16string>{u"", u"Good"}));
  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SeedNul", 0, 0, &k), ERROR_SUCCESS);
  WCHAR text[16];
  DWORD type = 0, size = sizeof text;
  ASSERT_EQ(RegQueryValueExW(k, u"", nullptr, &type, reinterpret_cast<BYTE*>(text), &size), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(text), u"default");
  EXPECT_EQ(RegQueryValueExW(k, u"a", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
  RegCloseKey(k);
  EXPECT_EQ(ValueNames(u"SeedNul\\a"), std::vector<std::u16string>{u"?"});
}

// A hex value continued with a trailing backslash: outside a key it is refused
// like any value, and one continued past the last line keeps its bytes.
TEST_F(RegistrySeed, ContinuedValuesAtTheEdges) {
  Load("\"Early\"=hex:01,\\\n"  // 1
       "  02\n"                 // 2
       "[HKEY_LOCAL_MACHINE\\SeedEdge]\n"
       "\"Last\"=hex:0a,\\\n"
       "  0b,\\");
  EXPECT_TRUE(CeSimDebugCapturedContains("registry seed 70-seed.reg line 1: value outside a key"));
  EXPECT_EQ(ValueNames(u"SeedEdge"), std::vector<std::u16string>{u"Last"});
  HKEY k = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SeedEdge", 0, 0, &k), ERROR_SUCCESS);
  BYTE bytes[4];
  DWORD type = 0, size = sizeof bytes;
  ASSERT_EQ(RegQueryValueExW(k, u"Last", nullptr, &type, bytes, &size), ERROR_SUCCESS);
  ASSERT_EQ(size, 2u);
  EXPECT_EQ(bytes[0], 0x0a);
  EXPECT_EQ(bytes[1], 0x0b);
  RegCloseKey(k);
}

}  // namespace
