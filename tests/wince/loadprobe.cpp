// A small library for the loader tests: its DllMain counts its calls in the registry,
// which outlives the library, and fails the attach when asked to.
#include "wince.h"

namespace {

void Count(const char16_t* name) {
  HKEY k = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\LoadProbe", 0, nullptr, 0, 0, nullptr, &k, nullptr) != 0) return;
  DWORD v = 0, size = sizeof v;
  RegQueryValueExW(k, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size);
  ++v;
  RegSetValueExW(k, name, 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), sizeof v);
  RegCloseKey(k);
}

bool FailAttach() {
  HKEY k = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\LoadProbe", 0, 0, &k) != 0) return false;
  DWORD v = 0, size = sizeof v;
  RegQueryValueExW(k, u"FailAttach", nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size);
  RegCloseKey(k);
  return v != 0;
}

}  // namespace

extern "C" BOOL DllMain(HANDLE, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) {
    Count(u"Attach");
    return FailAttach() ? FALSE : TRUE;
  }
  if (reason == DLL_PROCESS_DETACH) Count(u"Detach");
  return TRUE;
}

extern "C" int LoadProbe_Answer() { return 42; }
