// CreateFileW and device I/O routed to registered named devices.
#include <gtest/gtest.h>

#include <cstring>

#include "wince.h"
#include "wince_sim.h"

namespace {

struct FakeDevice {
  int opens = 0;
  int closes = 0;
  DWORD lastCode = 0;
  BYTE reg = 0x5A;
  HANDLE event = nullptr;
};

struct Open {
  FakeDevice* dev;
};

const CeSimDeviceOps kOps = {
    [](void* devCtx, DWORD, DWORD) -> void* {
      auto* d = static_cast<FakeDevice*>(devCtx);
      ++d->opens;
      return new Open{d};
    },
    [](void* openCtx) -> BOOL {
      auto* o = static_cast<Open*>(openCtx);
      ++o->dev->closes;
      delete o;
      return TRUE;
    },
    [](void* openCtx, DWORD code, void* in, DWORD inLen, void* out, DWORD outLen, DWORD* returned) -> BOOL {
      auto* d = static_cast<Open*>(openCtx)->dev;
      d->lastCode = code;
      // Device operations may call back into the stand-in.
      if (d->event) SetEvent(d->event);
      if (outLen < inLen) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
      }
      if (inLen) std::memcpy(out, in, inLen);
      *returned = inLen;
      return TRUE;
    },
    [](void* openCtx, void* buf, DWORD len) -> DWORD {
      if (len < 1) return static_cast<DWORD>(-1);
      *static_cast<BYTE*>(buf) = static_cast<Open*>(openCtx)->dev->reg;
      return 1;
    },
    [](void* openCtx, const void* buf, DWORD len) -> DWORD {
      if (len < 1) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return static_cast<DWORD>(-1);
      }
      static_cast<Open*>(openCtx)->dev->reg = *static_cast<const BYTE*>(buf);
      return len;
    },
};

class Devices : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(CeSimRegisterDevice(u"CI2C1:", &kOps, &dev)); }
  void TearDown() override { CeSimUnregisterDevice(u"CI2C1:"); }
  FakeDevice dev;
};

TEST_F(Devices, CallsRouteToTheDevice) {
  HANDLE h = CreateFileW(u"ci2c1:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(dev.opens, 1);
  dev.event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  DWORD in = 0x1234, out = 0, got = 0;
  EXPECT_TRUE(DeviceIoControl(h, 0x80002000, &in, 4, &out, 4, &got, nullptr));
  EXPECT_EQ(out, 0x1234u);
  EXPECT_EQ(got, 4u);
  EXPECT_EQ(dev.lastCode, 0x80002000u);
  EXPECT_EQ(WaitForSingleObject(dev.event, 0), WAIT_OBJECT_0);
  SetLastError(0);
  EXPECT_FALSE(DeviceIoControl(h, 1, &in, 4, &out, 2, &got, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

  BYTE b = 0;
  DWORD n = 0;
  EXPECT_TRUE(ReadFile(h, &b, 1, &n, nullptr));
  EXPECT_EQ(b, 0x5A);
  EXPECT_EQ(n, 1u);
  b = 0x77;
  EXPECT_TRUE(WriteFile(h, &b, 1, &n, nullptr));
  EXPECT_EQ(dev.reg, 0x77);
  EXPECT_FALSE(WriteFile(h, &b, 0, &n, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(dev.closes, 1);
  EXPECT_FALSE(DeviceIoControl(h, 1, nullptr, 0, nullptr, 0, &got, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  CloseHandle(dev.event);
}

TEST_F(Devices, MissingOperationsAreNotSupported) {
  CeSimDeviceOps openOnly{};
  openOnly.open = [](void* devCtx, DWORD, DWORD) -> void* { return devCtx; };
  ASSERT_TRUE(CeSimRegisterDevice(u"CGIO1:", &openOnly, &dev));
  HANDLE h = CreateFileW(u"CGIO1:", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  BYTE b;
  DWORD n;
  EXPECT_FALSE(ReadFile(h, &b, 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  EXPECT_FALSE(DeviceIoControl(h, 1, nullptr, 0, nullptr, 0, &n, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  EXPECT_TRUE(CloseHandle(h));   // no close operation: the handle still goes
  CeSimUnregisterDevice(u"CGIO1:");
}

TEST_F(Devices, RegistrationErrorsAndUnknownDevices) {
  SetLastError(0);
  EXPECT_FALSE(CeSimRegisterDevice(u"CI2C1:", &kOps, &dev));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  EXPECT_FALSE(CeSimRegisterDevice(nullptr, &kOps, &dev));
  EXPECT_EQ(CreateFileW(u"CAM9:", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(CreateFileW(nullptr, 0, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(CeSimUnregisterDevice(u"CAM9:"));
}

TEST_F(Devices, OpenFailureKeepsTheDevicesError) {
  CeSimDeviceOps refusing = kOps;
  refusing.open = [](void*, DWORD, DWORD) -> void* {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  };
  ASSERT_TRUE(CeSimRegisterDevice(u"PIN1:", &refusing, &dev));
  EXPECT_EQ(CreateFileW(u"PIN1:", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  CeSimUnregisterDevice(u"PIN1:");
}

TEST_F(Devices, HandleOfAnUnregisteredDeviceFailsButCloses) {
  HANDLE h = CreateFileW(u"CI2C1:", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(CeSimUnregisterDevice(u"CI2C1:"));
  DWORD n = 0;
  EXPECT_FALSE(DeviceIoControl(h, 1, nullptr, 0, nullptr, 0, &n, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_TRUE(CloseHandle(h));
  EXPECT_EQ(dev.closes, 1);
}

}  // namespace
