// Library loading over the image's \Windows with DllMain calls.
#include <gtest/gtest.h>

#include "wince.h"
#include "wince_sim.h"

namespace {

DWORD Counter(const char16_t* name) {
  HKEY k = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\LoadProbe", 0, 0, &k) != 0) return 0;
  DWORD v = 0, size = sizeof v;
  RegQueryValueExW(k, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size);
  RegCloseKey(k);
  return v;
}

class Loader : public ::testing::Test {
 protected:
  void SetUp() override { CeSimReloadRegistry(); }
};

TEST_F(Loader, DllMainRunsOnFirstLoadAndLastFree) {
  HMODULE a = LoadLibraryW(u"LoadProbe.dll");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(Counter(u"Attach"), 1u);
  HMODULE b = LoadLibraryW(u"\\Windows\\loadprobe.DLL");   // same library, any case, with a path
  EXPECT_EQ(b, a);
  EXPECT_EQ(Counter(u"Attach"), 1u);
  auto answer = reinterpret_cast<int (*)()>(GetProcAddressW(a, u"LoadProbe_Answer"));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);
  EXPECT_TRUE(FreeLibrary(b));
  EXPECT_EQ(Counter(u"Detach"), 0u);
  EXPECT_TRUE(FreeLibrary(a));
  EXPECT_EQ(Counter(u"Detach"), 1u);
  SetLastError(0);
  EXPECT_FALSE(FreeLibrary(a));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(Loader, NameWithoutExtensionGetsDll) {
  HMODULE m = LoadLibraryW(u"LoadProbe");
  ASSERT_NE(m, nullptr);
  WCHAR name[64];
  EXPECT_GT(GetModuleFileNameW(m, name, 64), 0u);
  EXPECT_EQ(std::u16string(name), u"\\Windows\\LoadProbe.dll");
  FreeLibrary(m);
}

TEST_F(Loader, FailedAttachFailsTheLoad) {
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\LoadProbe", 0, nullptr, 0, 0, nullptr, &k, nullptr), 0);
  DWORD one = 1;
  RegSetValueExW(k, u"FailAttach", 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4);
  RegCloseKey(k);
  SetLastError(0);
  EXPECT_EQ(LoadLibraryW(u"LoadProbe.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DLL_INIT_FAILED));
  EXPECT_EQ(Counter(u"Detach"), 0u);
}

TEST_F(Loader, SymbolsAreTheLibrarysOwn) {
  HMODULE m = LoadLibraryW(u"LoadProbe.dll");
  ASSERT_NE(m, nullptr);
  SetLastError(0);
  // Found by dlsym through the library's dependencies, but not the library's export.
  EXPECT_EQ(GetProcAddressW(m, u"RegOpenKeyExW"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  EXPECT_EQ(GetProcAddressW(m, u"NoSuchExport"), nullptr);
  EXPECT_EQ(GetProcAddressW(m, nullptr), nullptr);
  for (uintptr_t ordinal : {1u, 0xFFFFu}) {   // by ordinal: refused, never read as a name
    SetLastError(0);
    EXPECT_EQ(GetProcAddressW(m, reinterpret_cast<LPCWSTR>(ordinal)), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_EQ(GetProcAddressA(m, reinterpret_cast<LPCSTR>(ordinal)), nullptr);
  }
  FreeLibrary(m);
}

TEST_F(Loader, UnknownLibrariesAndHandles) {
  SetLastError(0);
  EXPECT_EQ(LoadLibraryW(u"NoSuchLibrary.dll"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(LoadLibraryW(nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(LoadLibraryW(u"..\\..\\etc\\passwd"), nullptr);
  EXPECT_EQ(GetProcAddressW(reinterpret_cast<HMODULE>(0x1234), u"x"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(FreeLibrary(nullptr));
}

}  // namespace
