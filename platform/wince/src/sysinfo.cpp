// The device's identity: system parameters, version, language, and the OEM kernel I/O
// controls and registry values that describe the phone. A test sets the identity it
// needs; a program run by hand gets the simulated phone's.
#include <algorithm>
#include <cstring>
#include <map>

#include "internal.h"
#include "wince_app_sim.h"

namespace {

std::mutex g_lock;
std::map<UINT, std::u16string> g_texts;   // SPI text parameters that are set
OSVERSIONINFOW g_version{sizeof(OSVERSIONINFOW), 5, 2, 465, 3, {}};
LANGID g_language = 0x0404;

void SetRomVersion(const std::u16string& version) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\OEM", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return;
  if (version.empty()) {
    RegDeleteValueW(key, u"ROMVersion");
  } else {
    RegSetValueExW(key, u"ROMVersion", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                   static_cast<DWORD>((version.size() + 1) * sizeof(WCHAR)));
  }
  RegCloseKey(key);
}

}  // namespace

extern "C" {

BOOL SystemParametersInfoW(UINT action, UINT size, PVOID param, UINT) {
  std::lock_guard<std::mutex> lk(g_lock);
  auto it = g_texts.find(action);
  if (it == g_texts.end()) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  size_t bytes = (it->second.size() + 1) * sizeof(WCHAR);
  if (param == nullptr || size < bytes) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(param, it->second.c_str(), bytes);
  return TRUE;
}

BOOL GetVersionExW(LPOSVERSIONINFOW info) {
  if (info == nullptr || info->dwOSVersionInfoSize < sizeof(OSVERSIONINFOW)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> lk(g_lock);
  *info = g_version;
  return TRUE;
}

LANGID GetSystemDefaultLangID(void) {
  std::lock_guard<std::mutex> lk(g_lock);
  return g_language;
}

LANGID GetUserDefaultLangID(void) { return GetSystemDefaultLangID(); }

}  // extern "C"

void CeSimSetSystemParameterText(UINT action, const WCHAR* text) {
  std::lock_guard<std::mutex> lk(g_lock);
  if (text == nullptr) {
    g_texts.erase(action);
  } else {
    g_texts[action] = text;
  }
}

void CeSimSetOsVersion(DWORD major, DWORD minor, DWORD build) {
  std::lock_guard<std::mutex> lk(g_lock);
  g_version.dwMajorVersion = major;
  g_version.dwMinorVersion = minor;
  g_version.dwBuildNumber = build;
}

void CeSimSetLanguage(LANGID language) {
  std::lock_guard<std::mutex> lk(g_lock);
  g_language = language;
}

CeSimDeviceIdentity CeSimDefaultDeviceIdentity() {
  CeSimDeviceIdentity id;
  id.modelId = "VQ40V0100";
  id.cid = "11111111";
  id.deviceString = u"VQ40";
  id.platformType = u"PocketPC";
  id.oemInfo = u"VQ40 Vantor";
  id.romVersion = u"1.52.0.0";
  id.osBuild = 465;
  id.language = 0x0404;
  id.rebootSucceeds = true;
  return id;
}

void CeSimSetDeviceIdentity(const CeSimDeviceIdentity& id) {
  if (id.modelId.empty()) {
    CeSimSetKernelIoControlAnswer(CE_SIM_IOCTL_DEVICE_INFO, FALSE, nullptr, 0, ERROR_NOT_SUPPORTED);
  } else {
    std::vector<BYTE> info(CE_SIM_DEVICE_INFO_SIZE, 0);
    std::memcpy(info.data(), id.modelId.data(), std::min<size_t>(id.modelId.size(), 9));
    std::memcpy(info.data() + 192, id.cid.data(), std::min<size_t>(id.cid.size(), 8));
    CeSimSetKernelIoControlAnswer(CE_SIM_IOCTL_DEVICE_INFO, TRUE, info.data(), CE_SIM_DEVICE_INFO_SIZE, 0);
  }
  std::vector<BYTE> cid(128, 0);
  std::memcpy(cid.data(), id.cid.data(), std::min<size_t>(id.cid.size(), 8));
  CeSimSetKernelIoControlAnswer(CE_SIM_IOCTL_CID, !id.cid.empty(), cid.data(), id.cid.empty() ? 0 : 128,
                                ERROR_NOT_SUPPORTED);
  if (id.deviceString.empty()) {
    CeSimSetKernelIoControlAnswer(CE_SIM_IOCTL_DEVICE_STRING, FALSE, nullptr, 0, ERROR_NOT_SUPPORTED);
  } else {
    std::vector<BYTE> text(128, 0);
    std::memcpy(text.data(), id.deviceString.data(), std::min<size_t>(id.deviceString.size(), 63) * sizeof(WCHAR));
    CeSimSetKernelIoControlAnswer(CE_SIM_IOCTL_DEVICE_STRING, TRUE, text.data(), 128, 0);
  }
  CeSimSetKernelIoControlAnswer(CE_SIM_IOCTL_REBOOT, id.rebootSucceeds ? TRUE : FALSE, nullptr, 0,
                                ERROR_NOT_SUPPORTED);
  CeSimSetSystemParameterText(SPI_GETPLATFORMTYPE, id.platformType.empty() ? nullptr : id.platformType.c_str());
  CeSimSetSystemParameterText(SPI_GETOEMINFO, id.oemInfo.empty() ? nullptr : id.oemInfo.c_str());
  CeSimSetOsVersion(5, 2, id.osBuild);
  CeSimSetLanguage(id.language);
  SetRomVersion(id.romVersion);
}
