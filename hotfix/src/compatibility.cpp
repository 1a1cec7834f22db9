// Device compatibility: is this phone one the package was built for?
//
// The package was built for the "VQ40" model with a ROM from 0.0.0.0 to 1.60.0.0, and
// must never replace a newer camera package. Eight checks exist; the enable switches
// below choose them (the shipped program runs model, ROM version and package version).
// What the checks look at is gathered once, when the main window is made; anything that
// cannot be read stays empty, and an empty item never matches (an empty package version
// means no package is installed yet, which passes).
#include <cstring>

#include "hotfix_setup.h"

#ifndef HOTFIX_PACKAGE_VERSION
#error "HOTFIX_PACKAGE_VERSION must name the package version the cabinet records"
#endif

BYTE g_checkEnabled[kCheckCount] = {
    0,   // platform
    1,   // model
    0,   // CID
    0,   // radio
    0,   // CE build
    1,   // ROM version
    1,   // package version
    0,   // language
};

DeviceInformation g_device;
const WCHAR kPackageVersion[] = HOTFIX_PACKAGE_VERSION;

namespace {

constexpr DWORD kIoctlDeviceInfo = 0x01012C00;
constexpr DWORD kIoctlDeviceString = 0x01013408;
constexpr DWORD kIoctlCid = 0x0101340C;
constexpr DWORD kDeviceInfoSize = 2128;
constexpr DWORD kCidOffset = 192;
constexpr WCHAR kModel[] = u"VQ40";
constexpr WCHAR kRomLowest[] = u"0.0.0.0";
constexpr WCHAR kRomHighest[] = u"1.60.0.0";
constexpr DWORD kNewestRadio = 0x20080602;
constexpr DWORD kNewestCeBuild = 465;
constexpr LANGID kLanguage = 0x0404;

// Bytes of an OEM record, one character each, up to a NUL.
template <size_t N>
void CopyBytes(WCHAR (&out)[N], const BYTE* bytes, size_t count) {
  size_t i = 0;
  for (; i < count && i + 1 < N && bytes[i] != 0; ++i) out[i] = bytes[i];
  out[i] = 0;
}

// A string value of at most 128 bytes; empty when absent, of another type or too long.
template <size_t N>
void ReadRegistryText(LPCWSTR keyName, LPCWSTR valueName, WCHAR (&out)[N]) {
  static_assert(N * sizeof(WCHAR) == 128, "registry items are read into 128 bytes");
  out[0] = 0;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyName, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  DWORD type = 0;
  DWORD size = sizeof out - sizeof(WCHAR);   // room kept for a NUL the value may lack
  LONG rc = RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(out), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || type != REG_SZ) {
    out[0] = 0;
    return;
  }
  out[size / sizeof(WCHAR)] = 0;
}

bool StartsWithModel(LPCWSTR text) { return wcsncmp(text, kModel, 4) == 0 && wcslen(text) >= 4; }

bool PlatformPasses() { return wcscmp(g_device.platformType, u"PocketPC") == 0; }

bool ModelPasses() {
  if (StartsWithModel(g_device.modelId) || StartsWithModel(g_device.deviceString) ||
      StartsWithModel(g_device.oemInfo))
    return true;
  HotfixLog(u"this is not a %s device (model \"%s\", device \"%s\", OEM \"%s\")", kModel, g_device.modelId,
            g_device.deviceString, g_device.oemInfo);
  return false;
}

bool CidPasses() {
  return wcscmp(g_device.cid, u"00000000") == 0 || wcscmp(g_device.cid, u"11111111") == 0;
}

bool RadioPasses() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Drivers\\Builtin\\KORRADIO\\", 0, KEY_READ, &key) != ERROR_SUCCESS)
    return true;
  DWORD version = 0;
  DWORD type = 0;
  DWORD size = sizeof version;
  LONG rc = RegQueryValueExW(key, u"version", nullptr, &type, reinterpret_cast<BYTE*>(&version), &size);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || type != REG_DWORD || version <= kNewestRadio) return true;
  MessageBoxW(nullptr, u"Please use the correct version to install this Hotfix program\n", u"Incorrect version",
              MB_OK | MB_TOPMOST);
  return false;
}

bool CeBuildPasses() {
  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (GetVersionExW(&version) && version.dwBuildNumber <= kNewestCeBuild) return true;
  MessageBoxW(nullptr, u"Update Fail,CE BuildNumber is invalid\n", u"CE version judge", MB_OK | MB_TOPMOST);
  return false;
}

bool RomVersionPasses() {
  if (g_device.romVersion[0] == 0) {
    HotfixLog(u"the ROM version cannot be read");
    return false;
  }
  ULONGLONG rom[kMaxVersionGroups], highest[kMaxVersionGroups], lowest[kMaxVersionGroups];
  if (SplitVersionNumbers(g_device.romVersion, rom) < 4 || SplitVersionNumbers(kRomHighest, highest) < 4 ||
      SplitVersionNumbers(kRomLowest, lowest) < 4) {
    HotfixLog(u"the ROM version \"%s\" is not a version of four numbers", g_device.romVersion);
    return false;
  }
  if (CompareNumberArrays(rom, highest, 4) <= 0 && CompareNumberArrays(rom, lowest, 4) >= 0) return true;
  HotfixLog(u"the ROM version %s is outside %s to %s", g_device.romVersion, kRomLowest, kRomHighest);
  return false;
}

bool PackageVersionPasses() {
  if (g_device.packageVersion[0] == 0) return true;
  int order = CompareVersionStrings(g_device.packageVersion, kPackageVersion);
  if (order == 1 || order == 2) return true;
  if (order == 0) {
    HotfixLog(u"the installed package version \"%s\" cannot be compared with %s", g_device.packageVersion,
              kPackageVersion);
  } else {
    HotfixLog(u"the installed package %s is newer than %s", g_device.packageVersion, kPackageVersion);
  }
  return false;
}

}  // namespace

void CollectDeviceInformation() {
  g_device = DeviceInformation{};
  if (!SystemParametersInfoW(SPI_GETPLATFORMTYPE, sizeof g_device.platformType, g_device.platformType, 0))
    g_device.platformType[0] = 0;
  if (!SystemParametersInfoW(SPI_GETOEMINFO, sizeof g_device.oemInfo, g_device.oemInfo, 0)) g_device.oemInfo[0] = 0;

  WORD request = 4096;
  BYTE info[kDeviceInfoSize] = {};
  DWORD returned = 0;
  if (KernelIoControl(kIoctlDeviceInfo, &request, sizeof request, info, sizeof info, &returned)) {
    CopyBytes(g_device.modelId, info, 9);
    CopyBytes(g_device.cid, info + kCidOffset, 8);
  } else {
    BYTE cid[128] = {};
    returned = 0;
    if (KernelIoControl(kIoctlCid, nullptr, 0, cid, sizeof cid, &returned) || returned != 0)
      CopyBytes(g_device.cid, cid, 8);
  }

  WCHAR deviceString[64] = {};
  if (KernelIoControl(kIoctlDeviceString, nullptr, 0, deviceString, sizeof deviceString, &returned)) {
    deviceString[63] = 0;
    wcslcpy(g_device.deviceString, deviceString, 64);
  }
  g_device.platformType[63] = 0;
  g_device.oemInfo[63] = 0;

  ReadRegistryText(u"Software\\OEM", u"ROMVersion", g_device.romVersion);
  ReadRegistryText(u"Drivers\\BuiltIn\\Hotfix", u"CameraDLL_version", g_device.packageVersion);
  ReadRegistryText(u"Drivers\\BuiltIn\\Hotfix", u"RILPHONE_Version", g_device.radioVersion);
}

bool RunCompatibilityChecks() {
  bool passes = true;
  if (g_checkEnabled[kCheckPlatform]) passes = PlatformPasses() && passes;
  if (g_checkEnabled[kCheckModel]) passes = ModelPasses() && passes;
  if (g_checkEnabled[kCheckCid]) passes = CidPasses() && passes;
  if (g_checkEnabled[kCheckRadio]) passes = RadioPasses() && passes;
  if (g_checkEnabled[kCheckCeBuild]) passes = CeBuildPasses() && passes;
  if (g_checkEnabled[kCheckRomVersion]) passes = RomVersionPasses() && passes;
  if (g_checkEnabled[kCheckPackageVersion]) passes = PackageVersionPasses() && passes;
  if (g_checkEnabled[kCheckLanguage] && GetSystemDefaultLangID() != kLanguage) return false;
  return passes;
}

int SplitVersionNumbers(LPCWSTR text, ULONGLONG numbers[kMaxVersionGroups]) {
  if (text == nullptr) return 0;
  int groups = 0;
  int digits = 0;
  ULONGLONG value = 0;
  for (int i = 0;; ++i) {
    WCHAR c = text[i];
    if (c != 0 && i == kMaxVersionChars) return 0;   // longer than 128 characters
    if (c >= u'0' && c <= u'9') {
      if (++digits > kMaxGroupDigits) return 0;
      value = value * 10 + static_cast<ULONGLONG>(c - u'0');
      continue;
    }
    if (groups == kMaxVersionGroups) return 0;
    numbers[groups++] = value;
    value = 0;
    digits = 0;
    if (c == 0) break;
  }
  return groups;
}

int CompareNumberArrays(const ULONGLONG* a, const ULONGLONG* b, int count) {
  for (int i = 0; i < count; ++i) {
    if (a[i] < b[i]) return -1;
    if (a[i] > b[i]) return 1;
  }
  return 0;
}

int CompareVersionStrings(LPCWSTR device, LPCWSTR package) {
  ULONGLONG d[kMaxVersionGroups], p[kMaxVersionGroups];
  int dn = SplitVersionNumbers(device, d);
  int pn = SplitVersionNumbers(package, p);
  if (dn == 0 || pn == 0 || dn != pn) return 0;
  switch (CompareNumberArrays(d, p, dn)) {
    case -1:
      return 1;
    case 0:
      return 2;
    default:
      return 3;
  }
}
