// The package end to end: a phone without the camera stack, a silent installation, and
// the stack is in \Windows, its version recorded, and its libraries load.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <strings.h>
#include <vector>

#include "devmgr.h"
#include "hotfix_fixture.h"
#include "hotfix_package.h"

namespace hotfix_test {
namespace {

namespace fs = std::filesystem;

class Package : public HotfixTest {
 protected:
  void SetUp() override {
    HotfixTest::SetUp();
    for (const char* f : kHotfixDeliverables) fs::remove(camera::test::ImagePath(std::string("Windows/") + f));
  }
  static std::string Bytes(const std::string& path) {
    std::string out;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return out;
    char buf[65536];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) out.append(buf, n);
    std::fclose(f);
    return out;
  }
};

TEST_F(Package, ASilentInstallationPutsTheStackIntoAnEmptyImage) {
  ASSERT_EQ(Utf8(PackageVersion()), "(absent)");
  EXPECT_EQ(Run(u"/silent"), kExitInstalled);
  for (const char* f : kHotfixDeliverables) {
    std::string built = Bytes(BuildWindows(f));
    ASSERT_FALSE(built.empty()) << f << " is listed in the package but missing from the build image";
    std::string installed;
    ASSERT_TRUE(camera::test::ReadImageFile(std::string("Windows/") + f, &installed)) << f << " was not installed";
    EXPECT_TRUE(installed == built) << f << " differs from the one built";
  }
  EXPECT_EQ(Utf8(PackageVersion()), "20091208-00");
  EXPECT_EQ(NeedReboot(), 1);
  EXPECT_TRUE(MarkerExists());
  for (const char* f : kHotfixDeliverables) {
    std::string name = f;
    if (name.size() < 4 || name.substr(name.size() - 4) != ".dll") continue;
    std::u16string wide = CeSimWiden(name);
    HMODULE m = LoadLibraryW(wide.c_str());
    EXPECT_NE(m, nullptr) << name << " does not load from the installed image";
    if (m != nullptr) FreeLibrary(m);
  }
}

// The drivers among the deliverables: built-in keys whose "Dll" the package installs.
std::vector<std::u16string> InstalledDriverKeys() {
  std::vector<std::u16string> out;
  HKEY builtIn = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn", 0, KEY_READ, &builtIn) != ERROR_SUCCESS) return out;
  WCHAR name[128];
  for (DWORD i = 0;; ++i) {
    DWORD chars = 128;
    if (RegEnumKeyExW(builtIn, i, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    std::u16string key = std::u16string(u"Drivers\\BuiltIn\\") + name;
    std::string dll = CeSimNarrow(HotfixTest::Text(key.c_str(), u"Dll"));
    for (const char* f : kHotfixDeliverables)
      if (strcasecmp(dll.c_str(), f) == 0) out.push_back(key);
  }
  RegCloseKey(builtIn);
  return out;
}

TEST_F(Package, TheDeviceManagerLoadsTheInstalledDrivers) {
  ASSERT_EQ(Run(u"/silent"), kExitInstalled);
  std::vector<std::u16string> drivers = InstalledDriverKeys();
  EXPECT_GE(DevMgrActivateBuiltIn(), drivers.size());
  for (const auto& key : drivers) {
    std::u16string prefix = Text(key.c_str(), u"Prefix");
    long long index = Dword(key.c_str(), u"Index");
    std::u16string device = prefix + static_cast<char16_t>(u'0' + (index < 0 ? 1 : index)) + u":";
    EXPECT_NE(DevMgrFindDevice(device.c_str()), nullptr) << Utf8(device) << " did not come up from " << Utf8(key);
  }
  DevMgrDeactivateAll();
}

TEST_F(Package, TheRecordedVersionLetsTheSamePackageInstallAgainButNoOlderOne) {
  ASSERT_EQ(Run(u"/silent"), kExitInstalled);
  CeSimResetShell();
  EXPECT_EQ(Run(u"/silent"), kExitInstalled) << "the same package must install over itself";
  SetText(u"Drivers\\BuiltIn\\Hotfix", u"CameraDLL_version", u"20100301-00");
  CeSimResetShell();
  EXPECT_EQ(Run(u"/silent"), kExitFailed) << "an older package replaced a newer one";
}

TEST_F(Package, ATruncatedCabinetInstallsNothing) {
  std::string cab = Bytes(kHotfixCabinetPath);
  std::string half = cab.substr(0, cab.size() - 1000);
  CeSimOverrideResource(u"BIN", IDR_CABINET, half.data(), static_cast<DWORD>(half.size()));
  EXPECT_EQ(Run(u"/silent"), kExitFailed);
  for (const char* f : kHotfixDeliverables)
    EXPECT_FALSE(camera::test::ReadImageFile(std::string("Windows/") + f, nullptr)) << f << " was half-installed";
  EXPECT_EQ(Utf8(PackageVersion()), "(absent)");
}

}  // namespace
}  // namespace hotfix_test
