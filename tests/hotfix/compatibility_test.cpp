// Device compatibility: the version arithmetic, and each check as the phone answers it.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "hotfix_fixture.h"

namespace hotfix_test {
namespace {

// ---- version texts -------------------------------------------------------------------

struct SplitCase {
  const char* name;
  std::u16string text;
  std::vector<ULONGLONG> groups;   // empty: not a version
};
void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.name; }

std::u16string Repeat(const std::u16string& s, int n) {
  std::u16string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

class SplitVersionNumbersTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitVersionNumbersTest, GivesTheDigitRuns) {
  const SplitCase& c = GetParam();
  ULONGLONG numbers[kMaxVersionGroups] = {};
  int n = SplitVersionNumbers(c.text.c_str(), numbers);
  ASSERT_EQ(n, static_cast<int>(c.groups.size()));
  EXPECT_EQ(std::vector<ULONGLONG>(numbers, numbers + n), c.groups);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SplitVersionNumbersTest,
    ::testing::Values(
        SplitCase{"RomVersion", u"1.60.0.0", {1, 60, 0, 0}},
        SplitCase{"DatedPackage", u"20091208-00", {20091208, 0}},
        SplitCase{"EmptyGroupBetweenTwoDots", u"1..2", {1, 0, 2}},
        SplitCase{"EmptyTextIsOneEmptyGroup", u"", {0}},
        SplitCase{"FifteenDigits", u"123456789012345", {123456789012345ull}},
        SplitCase{"SixteenDigitsIsNoVersion", u"1.1234567890123456", {}},
        SplitCase{"SixteenGroups", u"1.2.3.4.5.6.7.8.9.10.11.12.13.14.15.16",
                  {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}},
        SplitCase{"SeventeenGroupsIsNoVersion", u"1.2.3.4.5.6.7.8.9.10.11.12.13.14.15.16.17", {}},
        SplitCase{"OneHundredTwentyEightCharacters", Repeat(u"123456789012345.", 7) + u"123456789012345",
                  {123456789012345ull, 123456789012345ull, 123456789012345ull, 123456789012345ull,
                   123456789012345ull, 123456789012345ull, 123456789012345ull, 123456789012345ull}},
        SplitCase{"LongerThan128CharactersIsNoVersion", Repeat(u"123456789012345.", 8) + u"1", {}}),
    [](const auto& info) { return std::string(info.param.name); });

struct CompareCase {
  const char* name;
  std::u16string device;
  int expected;   // against the package version 20091208-00
};
void PrintTo(const CompareCase& c, std::ostream* os) { *os << c.name; }

class CompareVersionStringsTest : public ::testing::TestWithParam<CompareCase> {};

TEST_P(CompareVersionStringsTest, OrdersTheDeviceAgainstThePackage) {
  EXPECT_EQ(CompareVersionStrings(GetParam().device.c_str(), u"20091208-00"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, CompareVersionStringsTest,
    ::testing::Values(CompareCase{"Equal", u"20091208-00", 2}, CompareCase{"OlderDate", u"20090710-00", 1},
                      CompareCase{"OlderBuildOfTheDay", u"20091207-99", 1},
                      CompareCase{"NewerDate", u"20100104-00", 3}, CompareCase{"NewerBuildOfTheDay", u"20091208-01", 3},
                      CompareCase{"FewerGroups", u"20091208", 0}, CompareCase{"MoreGroups", u"20091208-00-1", 0},
                      CompareCase{"AbsurdDigitRun", u"20091208000000000000-00", 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CompareNumberArrays, TheFirstDifferenceDecides) {
  const ULONGLONG a[] = {1, 5, 9};
  const ULONGLONG b[] = {1, 6, 0};
  EXPECT_EQ(CompareNumberArrays(a, b, 3), -1);
  EXPECT_EQ(CompareNumberArrays(b, a, 3), 1);
  EXPECT_EQ(CompareNumberArrays(a, a, 3), 0);
  EXPECT_EQ(CompareNumberArrays(a, b, 1), 0);
}

// ---- the checks on a phone -----------------------------------------------------------

class Checks : public HotfixTest {
 protected:
  static bool Passes(const CeSimDeviceIdentity& id) {
    CeSimSetDeviceIdentity(id);
    CollectDeviceInformation();
    return RunCompatibilityChecks();
  }
};

struct RomCase {
  const char* name;
  std::u16string rom;
  bool passes;
};
void PrintTo(const RomCase& c, std::ostream* os) { *os << c.name; }

class RomVersionCheck : public Checks, public ::testing::WithParamInterface<RomCase> {};

TEST_P(RomVersionCheck, AcceptsTheRangeOfRoms) {
  CeSimDeviceIdentity id = CeSimDefaultDeviceIdentity();
  id.romVersion = GetParam().rom;
  EXPECT_EQ(Passes(id), GetParam().passes) << Utf8(GetParam().rom);
}

INSTANTIATE_TEST_SUITE_P(
    Roms, RomVersionCheck,
    ::testing::Values(RomCase{"Highest", u"1.60.0.0", true}, RomCase{"Lowest", u"0.0.0.0", true},
                      RomCase{"Inside", u"1.52.0.0", true}, RomCase{"JustAbove", u"1.60.0.1", false},
                      RomCase{"TooFewGroups", u"1.61", false}, RomCase{"OnlyFirstFourCount", u"1.5.0.0.7", true},
                      RomCase{"NextMajor", u"2.0.0.0", false}, RomCase{"Absent", u"", false},
                      RomCase{"AbsurdDigitRun", u"1.1234567890123456.0.0", false},
                      RomCase{"FifteenDigitGroupOutOfRange", u"1.600000000000000.0.0", false}),
    [](const auto& info) { return std::string(info.param.name); });

struct PackageCase {
  const char* name;
  std::u16string installed;   // empty: no package installed
  bool passes;
};
void PrintTo(const PackageCase& c, std::ostream* os) { *os << c.name; }

class PackageVersionCheck : public Checks, public ::testing::WithParamInterface<PackageCase> {};

TEST_P(PackageVersionCheck, NeverReplacesANewerPackage) {
  if (!GetParam().installed.empty())
    SetText(u"Drivers\\BuiltIn\\Hotfix", u"CameraDLL_version", GetParam().installed);
  EXPECT_EQ(Passes(CeSimDefaultDeviceIdentity()), GetParam().passes) << Utf8(GetParam().installed);
}

INSTANTIATE_TEST_SUITE_P(
    Packages, PackageVersionCheck,
    ::testing::Values(PackageCase{"NoneInstalled", u"", true}, PackageCase{"Same", u"20091208-00", true},
                      PackageCase{"Older", u"20090710-00", true}, PackageCase{"Newer", u"20091209-00", false},
                      PackageCase{"OneGroupOnly", u"20091208", false},
                      PackageCase{"AbsurdDigitRun", u"200912080000000000-00", false},
                      PackageCase{"AbsurdGroupCount", u"1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16-17", false}),
    [](const auto& info) { return std::string(info.param.name); });

struct ModelCase {
  const char* name;
  std::string modelId;
  std::u16string deviceString;
  std::u16string oemInfo;
  bool passes;
};
void PrintTo(const ModelCase& c, std::ostream* os) { *os << c.name; }

class ModelCheck : public Checks, public ::testing::WithParamInterface<ModelCase> {};

TEST_P(ModelCheck, AnyOfTheThreeNamesTheModel) {
  CeSimDeviceIdentity id = CeSimDefaultDeviceIdentity();
  id.modelId = GetParam().modelId;
  id.deviceString = GetParam().deviceString;
  id.oemInfo = GetParam().oemInfo;
  EXPECT_EQ(Passes(id), GetParam().passes);
}

INSTANTIATE_TEST_SUITE_P(
    Models, ModelCheck,
    ::testing::Values(ModelCase{"ByModelId", "VQ40V0100", u"", u"", true},
                      ModelCase{"ByDeviceString", "XX99", u"VQ40", u"Other", true},
                      ModelCase{"ByOemInfoAlone", "XX99", u"XX99", u"VQ40 Vantor", true},
                      ModelCase{"ByOemInfoWithoutModelId", "", u"", u"VQ40", true},
                      ModelCase{"NoneOfThem", "XX99", u"XX99", u"XX99", false},
                      ModelCase{"NothingReadable", "", u"", u"", false},
                      ModelCase{"ShortPrefix", "VQ4", u"VQ4", u"VQ4", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Checks, DeviceInformationComesFromTheOemCallsAndTheRegistry) {
  CeSimDeviceIdentity id = CeSimDefaultDeviceIdentity();
  id.cid = "12345678";
  CeSimSetDeviceIdentity(id);
  SetText(u"Drivers\\BuiltIn\\Hotfix", u"RILPHONE_Version", u"4.1.13");
  CollectDeviceInformation();
  EXPECT_EQ(Utf8(g_device.platformType), "PocketPC");
  EXPECT_EQ(Utf8(g_device.modelId), "VQ40V0100");
  EXPECT_EQ(Utf8(g_device.cid), "12345678");
  EXPECT_EQ(Utf8(g_device.deviceString), "VQ40");
  EXPECT_EQ(Utf8(g_device.oemInfo), "VQ40 Vantor");
  EXPECT_EQ(Utf8(g_device.romVersion), "1.52.0.0");
  EXPECT_EQ(Utf8(g_device.radioVersion), "4.1.13");
  EXPECT_EQ(Utf8(g_device.packageVersion), "");
  bool asked = false;
  for (const auto& c : CeSimKernelIoControlCalls()) {
    if (c.code != CE_SIM_IOCTL_DEVICE_INFO) continue;
    asked = true;
    EXPECT_EQ(c.input, (std::vector<BYTE>{0x00, 0x10}));   // 4096
    EXPECT_EQ(c.outLen, CE_SIM_DEVICE_INFO_SIZE);
  }
  EXPECT_TRUE(asked);
}

TEST_F(Checks, TheCidFallsBackToItsOwnCallWhenTheDeviceRecordFails) {
  CeSimDeviceIdentity id = CeSimDefaultDeviceIdentity();
  id.modelId = "";
  id.cid = "87654321";
  CeSimSetDeviceIdentity(id);
  CollectDeviceInformation();
  EXPECT_EQ(Utf8(g_device.modelId), "");
  EXPECT_EQ(Utf8(g_device.cid), "87654321");
}

TEST_F(Checks, AValueLongerThanItsBufferIsLeftEmpty) {
  SetText(u"Drivers\\BuiltIn\\Hotfix", u"CameraDLL_version", std::u16string(100, u'1'));
  CollectDeviceInformation();
  EXPECT_EQ(Utf8(g_device.packageVersion), "");
}

// The switched-off checks still do what they say once switched on.
class SwitchedOnCheck : public Checks {
 protected:
  void TearDown() override {
    std::memcpy(g_checkEnabled, kShipped, sizeof kShipped);
    Checks::TearDown();
  }
  static constexpr BYTE kShipped[kCheckCount] = {0, 1, 0, 0, 0, 1, 1, 0};
};

TEST_F(SwitchedOnCheck, ShippedSwitchesRunModelRomAndPackageOnly) {
  EXPECT_EQ(std::vector<BYTE>(g_checkEnabled, g_checkEnabled + kCheckCount),
            std::vector<BYTE>(kShipped, kShipped + kCheckCount));
}

TEST_F(SwitchedOnCheck, PlatformCidLanguageAndBuildDecideWhenOn) {
  g_checkEnabled[kCheckPlatform] = g_checkEnabled[kCheckCid] = g_checkEnabled[kCheckLanguage] = 1;
  g_checkEnabled[kCheckCeBuild] = 1;
  CeSimDeviceIdentity id = CeSimDefaultDeviceIdentity();
  EXPECT_TRUE(Passes(id));
  id.platformType = u"Smartphone";
  EXPECT_FALSE(Passes(id));
  id = CeSimDefaultDeviceIdentity();
  id.cid = "12345678";
  EXPECT_FALSE(Passes(id));
  id = CeSimDefaultDeviceIdentity();
  id.language = 0x0409;
  EXPECT_FALSE(Passes(id));
  EXPECT_TRUE(CeSimMessageBoxes().empty());
  id = CeSimDefaultDeviceIdentity();
  id.osBuild = 466;
  EXPECT_FALSE(Passes(id));
  EXPECT_EQ(Captions(), std::vector<std::u16string>{u"CE version judge"});
}

TEST_F(SwitchedOnCheck, RadioNewerThanTheKnownOneFailsWithItsOwnBox) {
  g_checkEnabled[kCheckRadio] = 1;
  EXPECT_TRUE(Passes(CeSimDefaultDeviceIdentity()));   // no radio key: passes
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\Builtin\\KORRADIO", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  DWORD version = 0x20080602;
  RegSetValueExW(key, u"version", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&version), 4);
  EXPECT_TRUE(Passes(CeSimDefaultDeviceIdentity()));
  version = 0x20080603;
  RegSetValueExW(key, u"version", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&version), 4);
  RegCloseKey(key);
  EXPECT_FALSE(Passes(CeSimDefaultDeviceIdentity()));
  EXPECT_EQ(Captions(), std::vector<std::u16string>{u"Incorrect version"});
}

}  // namespace
}  // namespace hotfix_test
