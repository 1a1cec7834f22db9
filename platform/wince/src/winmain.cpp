// The start-up of a program run by hand on the simulated phone: the phone's identity is
// put in place (keeping a ROM version that the image's registry already holds), the
// console plays the user, and WinMain gets the command line.
#include <string>

#include "internal.h"
#include "wince_app_sim.h"

namespace {

std::u16string StoredRomVersion() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\OEM", 0, KEY_READ, &key) != ERROR_SUCCESS) return u"";
  WCHAR text[128] = {};
  DWORD size = sizeof text - sizeof(WCHAR);
  DWORD type = 0;
  LONG rc = RegQueryValueExW(key, u"ROMVersion", nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS && type == REG_SZ ? std::u16string(text) : u"";
}

}  // namespace

int main(int argc, char** argv) {
  CeSimDeviceIdentity identity = CeSimDefaultDeviceIdentity();
  std::u16string stored = StoredRomVersion();
  if (!stored.empty()) identity.romVersion = stored;
  CeSimSetDeviceIdentity(identity);
  CeSimUseConsoleUser(true);
  std::u16string commandLine;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) commandLine += u' ';
    commandLine += cesim::Widen(argv[i]);
  }
  return WinMain(GetModuleHandleW(nullptr), nullptr, commandLine.data(), SW_SHOW);
}
