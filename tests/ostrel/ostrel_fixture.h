// The camera driver as the device manager loads it, over the board model and the
// fake engine: a fresh registry, board and engine for each test, the driver's
// devices activated from their built-in keys, and the capture client.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "board_sensor.h"
#include "board_sim.h"
#include "camclient.h"
#include "ccameradevice.h"
#include "devmgr.h"
#include "fakecameraengine.h"
#include "image_copy.h"
#include "wince_sim.h"

namespace ostrel_test {

using camera::test::FakeCameraEngine;
using camera::test::FakeEngineConfig;

inline constexpr DWORD kOemRegister = 0x01012EFC;
inline constexpr DWORD kOemCameraOpened = 0x01012EF8;
inline constexpr DWORD kOemCameraClosed = 0x01012EF4;
inline constexpr uint32_t kCookie = 0xC0C0;

inline DWORD ReadDword(HKEY root, const WCHAR* path, const WCHAR* name, DWORD missing = 0xDEADBEEF) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return missing;
  DWORD v = 0, type = 0, size = sizeof v;
  LONG r = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(&v), &size);
  RegCloseKey(key);
  return r == ERROR_SUCCESS ? v : missing;
}

inline void WriteDword(const WCHAR* path, const WCHAR* name, DWORD v) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, &disposition),
            ERROR_SUCCESS);
  RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
  RegCloseKey(key);
}

class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override { Reset(FakeEngineConfig()); }

  // Starts again from the image's registry, a board at power-on and a new engine.
  void Reset(const FakeEngineConfig& config) {
    DevMgrDeactivateAll();
    CeSimClearFaults();
    CeSimSetCallerTrust(OEM_CERTIFY_TRUST);
    ASSERT_TRUE(CeSimReloadRegistry());
    BoardSimReset();
    FakeCameraEngine::Install(config);
    CeSimClearKernelIoControl();
    uint32_t cookie = kCookie;
    CeSimSetKernelIoControlAnswer(kOemRegister, TRUE, &cookie, sizeof cookie, 0);
    baseThreads_ = CeSimLiveThreadCount();
  }

  void TearDown() override {
    camera_.Close();
    DevMgrDeactivateAll();
    CeSimClearFaults();
    CeSimSetCallerTrust(OEM_CERTIFY_TRUST);
    FakeCameraEngine::Uninstall();
  }

  // Loads the driver's built-in devices (camera, its pins, power).
  void Load() {
    DevMgrActivateBuiltIn();
    ASSERT_NE(DevMgrFindDevice(u"CAM1:"), nullptr);
    ASSERT_NE(DevMgrFindDevice(u"PIN1:"), nullptr);
    ASSERT_NE(DevMgrFindDevice(u"CPM1:"), nullptr);
  }
  void LoadAndOpen() {
    Load();
    ASSERT_EQ(camera_.Open(), ERROR_SUCCESS);
  }

  // The camera device behind "CAM1:" (the driver's device context).
  static CCameraDevice* Device() {
    return reinterpret_cast<CCameraDevice*>(uintptr_t(DevMgrDeviceContext(DevMgrFindDevice(u"CAM1:"))));
  }

  static std::vector<DWORD> KernelCodes() {
    std::vector<DWORD> codes;
    for (const CeSimKernelIoCall& c : CeSimKernelIoControlCalls()) codes.push_back(c.code);
    return codes;
  }

  // Threads of the driver still running beyond those alive at set-up; threads end
  // asynchronously after their handles are waited for, so allow them time (a loaded
  // sanitized build can take seconds).
  DWORD ExtraThreads() const {
    for (int i = 0; i < 2000 && CeSimLiveThreadCount() > baseThreads_; ++i) Sleep(10);
    // Fewer than at set-up: a thread of the previous test was still ending then.
    const DWORD live = CeSimLiveThreadCount();
    return live > baseThreads_ ? live - baseThreads_ : 0;
  }

  camclient::Camera camera_;
  DWORD baseThreads_ = 0;
};

}  // namespace ostrel_test
