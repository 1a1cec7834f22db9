// The device manager: loading a stream driver from its key, re-entrant
// activation from a driver's Init, the client's calls under the device name
// and the power manager's path.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "devmgr.h"
#include "devmgr_test_driver.h"
#include "wince_sim.h"

namespace {

const WCHAR kTstKey[] = u"Drivers\\BuiltIn\\DevMgrTest";
const WCHAR kTspKey[] = u"Drivers\\DevMgrTestPin";
const WCHAR kDll[] = u"DevMgrTestDriver.dll";

void SetString(HKEY key, const WCHAR* name, const std::u16string& value) {
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), DWORD((value.size() + 1) * 2));
}

void SetDword(HKEY key, const WCHAR* name, DWORD value) {
  RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), 4);
}

HKEY CreateKey(const WCHAR* path) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, &disposition),
            ERROR_SUCCESS);
  return key;
}

std::u16string QueryString(HKEY root, const std::u16string& path, const WCHAR* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return u"<no key>";
  WCHAR buf[256] = {};
  DWORD type = 0, size = sizeof buf;
  LONG r = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(buf), &size);
  RegCloseKey(key);
  return r == ERROR_SUCCESS ? std::u16string(buf) : u"<no value>";
}

class DevMgrTest : public ::testing::Test {
 protected:
  void SetUp() override {
    HKEY tst = CreateKey(kTstKey);
    SetString(tst, u"Prefix", u"TST");
    SetString(tst, u"Dll", kDll);
    SetDword(tst, u"Index", 1);
    SetString(tst, u"SubDevice", kTspKey);
    RegCloseKey(tst);
    HKEY tsp = CreateKey(kTspKey);
    SetString(tsp, u"Prefix", u"TSP");
    SetString(tsp, u"Dll", kDll);
    RegCloseKey(tsp);
    // The test's own reference keeps the driver's state readable.
    module_ = LoadLibraryW(kDll);
    ASSERT_NE(module_, nullptr);
    auto get = reinterpret_cast<TestDriverGetStateFn>(
        reinterpret_cast<void*>(GetProcAddressW(module_, u"TestDriverGetState")));
    ASSERT_NE(get, nullptr);
    state_ = get();
    std::memset(state_, 0, sizeof *state_);
  }
  void TearDown() override {
    DevMgrDeactivateAll();
    CeSimSetCallerProcess(CeSimDefaultCallerProcess());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kTstKey);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kTspKey);
    if (module_) FreeLibrary(module_);
  }

  HMODULE module_ = nullptr;
  TestDriverState* state_ = nullptr;
};

TEST_F(DevMgrTest, ActivationCreatesTheActiveKeyAndTheDeviceName) {
  HANDLE dev = ActivateDeviceEx(kTstKey, nullptr, 0, nullptr);
  ASSERT_NE(dev, INVALID_HANDLE_VALUE) << GetLastError();
  EXPECT_EQ(state_->tstInits, 1);
  std::u16string active = state_->tstActiveKey;
  EXPECT_EQ(active, std::u16string(DevMgrActiveKeyPath(dev)));
  EXPECT_EQ(active.rfind(u"Drivers\\Active\\", 0), 0u);
  EXPECT_EQ(QueryString(HKEY_LOCAL_MACHINE, active, u"Key"), kTstKey);
  EXPECT_EQ(QueryString(HKEY_LOCAL_MACHINE, active, u"Name"), u"TST1:");
  // The driver found its own key (and its "Index") through the active key.
  EXPECT_EQ(state_->indexFromDeviceKey, 1u);
  EXPECT_EQ(DevMgrFindDevice(u"tst1:"), dev);
  EXPECT_EQ(DevMgrDeviceContext(dev), 0x5454u);

  ASSERT_TRUE(DeactivateDevice(dev));
  EXPECT_EQ(state_->tstDeinits, 1);
  EXPECT_EQ(QueryString(HKEY_LOCAL_MACHINE, active, u"Key"), u"<no key>");
  HANDLE h = CreateFileW(u"TST1:", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_TRUE(h == INVALID_HANDLE_VALUE || h == nullptr);
  EXPECT_FALSE(DeactivateDevice(dev));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

TEST_F(DevMgrTest, AnInitMayActivateADeviceOfItsOwnLibrary) {
  HANDLE dev = ActivateDeviceEx(kTstKey, nullptr, 0, nullptr);
  ASSERT_NE(dev, INVALID_HANDLE_VALUE);
  ASSERT_NE(state_->subDevice, INVALID_HANDLE_VALUE) << state_->subDeviceError;
  EXPECT_EQ(state_->tspInits, 1);
  EXPECT_EQ(state_->tspBusContext, &state_->tstContext);
  EXPECT_NE(std::u16string(state_->tspActiveKey), std::u16string(state_->tstActiveKey));
  EXPECT_EQ(DevMgrFindDevice(u"TSP1:"), state_->subDevice);
  EXPECT_EQ(state_->attaches, 0);  // one library, already attached before the test's reset

  ASSERT_TRUE(DeactivateDevice(dev));
  EXPECT_EQ(state_->tspDeinits, 1);
  EXPECT_EQ(DevMgrFindDevice(u"TSP1:"), nullptr);
}

TEST_F(DevMgrTest, ClientCallsReachTheEntryPointsAsTheClientProcess) {
  ASSERT_NE(ActivateDeviceEx(kTstKey, nullptr, 0, nullptr), INVALID_HANDLE_VALUE);
  HANDLE client = reinterpret_cast<HANDLE>(uintptr_t(0x00C11E47));
  CeSimSetCallerProcess(client);
  HANDLE h = CreateFileW(u"TST1:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(state_->opens, 1);
  EXPECT_EQ(state_->lastOpenCaller, client);
  DWORD caller = 0, ret = 0;
  ASSERT_TRUE(DeviceIoControl(h, TEST_IOCTL_CALLER, nullptr, 0, &caller, 4, &ret, nullptr));
  EXPECT_EQ(caller, 0x00C11E47u);
  EXPECT_EQ(ret, 4u);
  EXPECT_FALSE(DeviceIoControl(h, TEST_IOCTL_CALLER, nullptr, 0, &caller, 2, &ret, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_FALSE(DeviceIoControl(h, 0x999, nullptr, 0, nullptr, 0, &ret, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_SUPPORTED));
  char buf[4] = {};
  DWORD got = 0;
  ASSERT_TRUE(ReadFile(h, buf, 4, &got, nullptr));
  EXPECT_EQ(got, 4u);
  EXPECT_EQ(buf[3], 'r');
  DWORD put = 0;
  EXPECT_FALSE(WriteFile(h, buf, 4, &put, nullptr));  // the driver has no Write
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(state_->closes, 1);

  // The second device answers as the same client too.
  HANDLE pin = CreateFileW(u"TSP1:", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(pin, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(DeviceIoControl(pin, TEST_IOCTL_CALLER, nullptr, 0, &caller, 4, &ret, nullptr));
  EXPECT_EQ(caller, 0x00C11E47u);
  CloseHandle(pin);
}

TEST_F(DevMgrTest, DeactivationWaitsForClientCallsInsideTheDriver) {
  HANDLE dev = ActivateDeviceEx(kTstKey, nullptr, 0, nullptr);
  ASSERT_NE(dev, INVALID_HANDLE_VALUE);
  state_->entered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  state_->release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE h = CreateFileW(u"TST1:", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  BOOL blockedResult = FALSE;
  std::thread client([&] {
    DWORD ret = 0;
    blockedResult = DeviceIoControl(h, TEST_IOCTL_BLOCK, nullptr, 0, nullptr, 0, &ret, nullptr);
  });
  EXPECT_EQ(WaitForSingleObject(state_->entered, 10000), WAIT_OBJECT_0);
  // PreDeinit releases the waiting call; Deinit comes only after it has left.
  EXPECT_TRUE(DeactivateDevice(dev));
  client.join();
  EXPECT_TRUE(blockedResult);
  EXPECT_EQ(state_->preDeinits, 1);
  EXPECT_EQ(state_->deinitsSeenByBlockedCall, 0);
  EXPECT_EQ(state_->tstDeinits, 1);

  // The client's handle outlives the device: calls fail, closing never reaches the driver.
  DWORD caller = 0, ret = 0;
  EXPECT_FALSE(DeviceIoControl(h, TEST_IOCTL_CALLER, nullptr, 0, &caller, 4, &ret, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
  const int closes = state_->closes;
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(state_->closes, closes);
  CloseHandle(state_->entered);
  CloseHandle(state_->release);
}

TEST_F(DevMgrTest, PowerManagerCallsComeFromItsOwnProcess) {
  ASSERT_NE(ActivateDeviceEx(kTstKey, nullptr, 0, nullptr), INVALID_HANDLE_VALUE);
  HANDLE client = reinterpret_cast<HANDLE>(uintptr_t(0x00C11E47));
  CeSimSetCallerProcess(client);
  DWORD state = 4, ret = 0;
  ASSERT_TRUE(DevMgrPowerIoControl(u"TST1:", IOCTL_POWER_SET, nullptr, 0, &state, 4, &ret));
  EXPECT_EQ(state_->powerState, 4u);
  DWORD caller = 0;
  ASSERT_TRUE(DevMgrPowerIoControl(u"TST1:", TEST_IOCTL_CALLER, nullptr, 0, &caller, 4, &ret));
  EXPECT_EQ(caller, DWORD(reinterpret_cast<uintptr_t>(DevMgrPowerManagerProcess())));
  EXPECT_EQ(GetCallerProcess(), client);
  EXPECT_FALSE(DevMgrPowerIoControl(u"TST1:", 0x999, nullptr, 0, nullptr, 0, &ret));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_SUPPORTED));
  EXPECT_FALSE(DevMgrPowerIoControl(u"NONE9:", IOCTL_POWER_SET, nullptr, 0, &state, 4, &ret));
  EXPECT_EQ(state_->opens, state_->closes);
}

TEST_F(DevMgrTest, BadKeysAndFailingDriversLeaveNothingBehind) {
  EXPECT_EQ(ActivateDeviceEx(u"Drivers\\NoSuchKey", nullptr, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(ActivateDeviceEx(nullptr, nullptr, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));

  HKEY noDll = CreateKey(u"Drivers\\DevMgrNoDll");
  SetString(noDll, u"Prefix", u"NDL");
  RegCloseKey(noDll);
  EXPECT_EQ(ActivateDeviceEx(u"Drivers\\DevMgrNoDll", nullptr, 0, nullptr), INVALID_HANDLE_VALUE);

  HKEY missing = CreateKey(u"Drivers\\DevMgrMissing");
  SetString(missing, u"Prefix", u"MIS");
  SetString(missing, u"Dll", u"NoSuchDriver.dll");
  RegCloseKey(missing);
  EXPECT_EQ(ActivateDeviceEx(u"Drivers\\DevMgrMissing", nullptr, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(DevMgrFindDevice(u"MIS1:"), nullptr);

  // Device names carry one digit.
  HKEY wide = CreateKey(u"Drivers\\DevMgrIndex12");
  SetString(wide, u"Prefix", u"TSP");
  SetString(wide, u"Dll", kDll);
  SetDword(wide, u"Index", 12);
  RegCloseKey(wide);
  EXPECT_EQ(ActivateDeviceEx(u"Drivers\\DevMgrIndex12", nullptr, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(state_->tspInits, 0);

  HKEY tst = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTstKey, 0, KEY_ALL_ACCESS, &tst), ERROR_SUCCESS);
  SetDword(tst, u"FailInit", 1);
  RegCloseKey(tst);
  EXPECT_EQ(ActivateDeviceEx(kTstKey, nullptr, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_GEN_FAILURE));
  EXPECT_EQ(DevMgrFindDevice(u"TST1:"), nullptr);
  HANDLE h = CreateFileW(u"TST1:", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_TRUE(h == INVALID_HANDLE_VALUE || h == nullptr);
  EXPECT_EQ(QueryString(HKEY_LOCAL_MACHINE, state_->tstActiveKey, u"Key"), u"<no key>");

  EXPECT_EQ(OpenDeviceKey(u"Drivers\\Active\\99"), nullptr);
  EXPECT_EQ(OpenDeviceKey(nullptr), nullptr);
  EXPECT_FALSE(DeactivateDevice(nullptr));
  EXPECT_FALSE(DeactivateDevice(reinterpret_cast<HANDLE>(uintptr_t(0x44001234))));
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Drivers\\DevMgrNoDll");
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Drivers\\DevMgrMissing");
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Drivers\\DevMgrIndex12");
}

TEST_F(DevMgrTest, ANameInUseIsNotTakenTwice) {
  HANDLE first = ActivateDeviceEx(kTspKey, nullptr, 0, nullptr);
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  // Without an "Index" the next free one is taken.
  HANDLE second = ActivateDeviceEx(kTspKey, nullptr, 0, nullptr);
  ASSERT_NE(second, INVALID_HANDLE_VALUE);
  EXPECT_EQ(DevMgrFindDevice(u"TSP2:"), second);
  // With a fixed "Index" a taken name is refused.
  HKEY tst = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTstKey, 0, KEY_ALL_ACCESS, &tst), ERROR_SUCCESS);
  RegDeleteValueW(tst, u"SubDevice");
  RegCloseKey(tst);
  ASSERT_NE(ActivateDeviceEx(kTstKey, nullptr, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(ActivateDeviceEx(kTstKey, nullptr, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(state_->tstInits, 1);
}

TEST_F(DevMgrTest, BuiltInDriversStartInTheirOrder) {
  // Only this test's keys stay under BuiltIn.
  HKEY builtIn = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn", 0, KEY_ALL_ACCESS, &builtIn), ERROR_SUCCESS);
  for (;;) {
    WCHAR name[256];
    DWORD chars = 256;
    DWORD index = 0;
    bool removed = false;
    while (RegEnumKeyExW(builtIn, index, name, &chars, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS) {
      if (std::u16string(name) != u"DevMgrTest") {
        RegDeleteKeyW(builtIn, name);
        removed = true;
        break;
      }
      ++index;
      chars = 256;
    }
    if (!removed) break;
  }
  RegCloseKey(builtIn);
  HKEY early = CreateKey(u"Drivers\\BuiltIn\\AAEarly");
  SetString(early, u"Prefix", u"TSP");
  SetString(early, u"Dll", kDll);
  SetDword(early, u"Index", 5);
  SetDword(early, u"Order", 1);
  RegCloseKey(early);
  HKEY tst = CreateKey(kTstKey);
  SetDword(tst, u"Order", 2);
  RegCloseKey(tst);

  EXPECT_EQ(DevMgrActivateBuiltIn(), 2u);
  EXPECT_NE(DevMgrFindDevice(u"TSP5:"), nullptr);
  EXPECT_NE(DevMgrFindDevice(u"TST1:"), nullptr);
  EXPECT_EQ(state_->tspBusContext, &state_->tstContext);  // the later TSP1 came from TST_Init
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Drivers\\BuiltIn\\AAEarly");
}

}  // namespace
