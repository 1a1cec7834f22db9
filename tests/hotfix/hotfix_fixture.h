// A phone ready for the installer: the simulated phone's identity, a fresh registry and
// shell, the real CAB installer and the program's own resources, on a private image
// whose \Windows the test may write.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "hotfix_package.h"
#include "hotfix_setup.h"
#include "image_copy.h"
#include "private_windows.h"
#include "wince_app_sim.h"
#include "wince_sim.h"

namespace hotfix_test {

class HotfixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    camera::test::UsePrivateWindowsCopy();
    RestoreImage();
    CeSimReloadRegistry();
    CeSimResetShell();
    CeSimClearResourceOverrides();
    CeSimClearKernelIoControl();
    CeSimClearStartedProcesses();
    CeSimClearRunningProcesses();
    CeSimRegisterProgram(u"wceload.exe", CeSimWceload);
    CeSimSetDeviceIdentity(CeSimDefaultDeviceIdentity());
    g_rebootSwitch = 1;
    g_serviceStopSwitch = 0;
  }

  void TearDown() override {
    CeSimResetShell();
    CeSimClearResourceOverrides();
    CeSimRegisterProgram(u"wceload.exe", CeSimWceload);
  }


 public:
  // The build image's \Windows, where the deliverables are made.
  static std::string BuildWindows(const std::string& file) { return std::string(HOTFIX_TEST_BUILD_WINDOWS) + "/" + file; }

  // Every deliverable back in the private \Windows, and no cabinet file in the root.
  static void RestoreImage() {
    namespace fs = std::filesystem;
    fs::remove_all(camera::test::ImagePath("Install.cab"));
    for (const char* f : kHotfixDeliverables) {
      fs::path target = camera::test::ImagePath(std::string("Windows/") + f);
      fs::remove_all(target);
      fs::copy_file(BuildWindows(f), target);
    }
  }

  // Runs the program as the shell would start it; its exit code.
  static int Run(std::u16string commandLine) {
    return WinMain(GetModuleHandleW(nullptr), nullptr, commandLine.data(), SW_SHOW);
  }

  static std::vector<std::u16string> Captions() {
    std::vector<std::u16string> out;
    for (const auto& b : CeSimMessageBoxes()) out.push_back(b.caption);
    return out;
  }
  static std::vector<std::u16string> Texts() {
    std::vector<std::u16string> out;
    for (const auto& b : CeSimMessageBoxes()) out.push_back(b.text);
    return out;
  }

  static bool KeyExists(const char16_t* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
  }
  // The DWORD value, or -1 when absent.
  static long long Dword(const char16_t* path, const char16_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return -1;
    DWORD value = 0, type = 0, size = sizeof value;
    LONG rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS && type == REG_DWORD ? static_cast<long long>(value) : -1;
  }
  // The string value, or "(absent)".
  static std::u16string Text(const char16_t* path, const char16_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return u"(absent)";
    WCHAR value[128] = {};
    DWORD type = 0, size = sizeof value - 2;
    LONG rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS && type == REG_SZ ? std::u16string(value) : u"(absent)";
  }
  static void SetText(const char16_t* path, const char16_t* name, const std::u16string& value) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * 2));
    RegCloseKey(key);
  }

  static long long NeedReboot() { return Dword(u"Software\\Vantor\\Hotfix", u"NeedReboot"); }
  static bool MarkerExists() { return KeyExists(u"Software\\Vantor\\Hotfix\\Quarn_07477"); }
  static std::u16string PackageVersion() { return Text(u"Drivers\\BuiltIn\\Hotfix", u"CameraDLL_version"); }
  static bool CabinetWritten() { return camera::test::ReadImageFile("Install.cab", nullptr); }

  static size_t RebootRequests() {
    size_t n = 0;
    for (const auto& c : CeSimKernelIoControlCalls())
      if (c.code == CE_SIM_IOCTL_REBOOT) ++n;
    return n;
  }
};

inline std::string Utf8(const std::u16string& s) { return CeSimNarrow(s); }

}  // namespace hotfix_test
