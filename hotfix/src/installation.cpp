// Installation and reboot: what happens when the user taps "Setup" (or at once in a
// silent run).
//
// The device is checked, the user confirms, the cabinet carried as resource "BIN" 121 is
// written to "\Install.cab", and the system's CAB installer ("\Windows\wceload.exe
// /noui \Install.cab") installs it; the cabinet's own provisioning copies the camera
// stack into \Windows and records the package version. Only an installation that
// really happened is recorded ("NeedReboot", the marker key) and followed by a restart:
// a missing resource, a cabinet that cannot be written or an installer that fails or
// reports an error ends the run with 0, a message (a log line when silent) and nothing
// recorded.
#include "hotfix_setup.h"

DWORD g_rebootSwitch = 1;
DWORD g_serviceStopSwitch = 0;
WORD g_cabinetResourceId = IDR_CABINET;

namespace {

constexpr WCHAR kHotfixKey[] = u"Software\\Vantor\\Hotfix";
constexpr WCHAR kMarkerName[] = u"Quarn_07477";
constexpr WCHAR kCabinetFile[] = u"\\Install.cab";
constexpr WCHAR kCabInstaller[] = u"\\Windows\\wceload.exe";
constexpr WCHAR kCabInstallerArguments[] = u"/noui \\Install.cab";
constexpr WCHAR kServiceName[] = u"VantorIMSSvc.exe";
constexpr DWORD kIoctlReboot = 0x0101003C;

// Closes a kernel handle when it goes out of scope.
class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE h = nullptr) : h_(h) {}
  ~ScopedHandle() {
    if (h_ != nullptr && h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  HANDLE get() const { return h_; }
  bool valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE h_;
};

class ScopedKey {
 public:
  ~ScopedKey() {
    if (key != nullptr) RegCloseKey(key);
  }
  HKEY key = nullptr;
};

class ScopedSnapshot {
 public:
  explicit ScopedSnapshot(HANDLE h) : h_(h) {}
  ~ScopedSnapshot() {
    if (h_ != INVALID_HANDLE_VALUE && h_ != nullptr) CloseToolhelp32Snapshot(h_);
  }
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

// A failed step: a log line always, a box unless silent.
int Fail(LPCWSTR message, LPCWSTR detail) {
  HotfixLog(u"%s (%s)", message, detail);
  ShowMessage(message, u"Error", 1);
  return 0;
}

bool StopService() {
  ScopedSnapshot snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS | TH32CS_SNAPNOHEAPS, 0));
  if (snapshot.get() == INVALID_HANDLE_VALUE) {
    HotfixLog(u"the process list cannot be read (error %u)", GetLastError());
    return false;
  }
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    if (_wcsicmp(entry.szExeFile, kServiceName) != 0) continue;
    ScopedHandle process(OpenProcess(PROCESS_ALL_ACCESS, FALSE, entry.th32ProcessID));
    if (!process.valid()) continue;
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    TerminateProcess(process.get(), code);
    HotfixLog(u"stopped %s", kServiceName);
  }
  return true;
}

void HideMenuButtons() {
  SendMessageW(g_menuBar, TB_HIDEBUTTON, IDM_SETUP, MAKELPARAM(TRUE, 0));
  SendMessageW(g_menuBar, TB_HIDEBUTTON, IDM_CANCEL, MAKELPARAM(TRUE, 0));
}

// Writes the cabinet resource to "\Install.cab"; a partial file is removed again.
int WriteCabinet() {
  HRSRC found = FindResourceW(g_instance, MAKEINTRESOURCE(g_cabinetResourceId), u"BIN");
  HGLOBAL loaded = found != nullptr ? LoadResource(g_instance, found) : nullptr;
  const BYTE* bytes = loaded != nullptr ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
  DWORD size = found != nullptr ? SizeofResource(g_instance, found) : 0;
  if (bytes == nullptr || size == 0)
    return Fail(u"The installation package is missing from this program.", u"resource BIN 121");

  bool written = false;
  {
    ScopedHandle file(CreateFileW(kCabinetFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
    if (!file.valid()) return Fail(u"Can't write the installation package.", kCabinetFile);
    DWORD done = 0;
    written = WriteFile(file.get(), bytes, size, &done, nullptr) && done == size && FlushFileBuffers(file.get());
  }
  if (!written) {
    DeleteFileW(kCabinetFile);
    return Fail(u"Can't write the installation package.", kCabinetFile);
  }
  return 1;
}

// Runs the CAB installer and waits for it; 1 only when it ran and reported success.
int RunCabInstaller() {
  WCHAR arguments[] = u"/noui \\Install.cab";
  static_assert(sizeof arguments == sizeof kCabInstallerArguments, "one command line");
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(kCabInstaller, arguments, nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr, &info)) {
    HotfixLog(u"%s cannot be started (error %u)", kCabInstaller, GetLastError());
    return 0;
  }
  ScopedHandle process(info.hProcess);
  ScopedHandle thread(info.hThread);
  WaitForSingleObject(process.get(), INFINITE);
  DWORD code = 0;
  if (!GetExitCodeProcess(process.get(), &code)) code = static_cast<DWORD>(-1);
  if (code != 0) {
    WCHAR message[64];
    _snwprintf(message, 64, u"The installation failed (error %u).", code);
    return Fail(message, kCabInstaller);
  }
  return 1;
}

}  // namespace

bool SetNeedReboot(DWORD flag) {
  ScopedKey k;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kHotfixKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k.key, nullptr) !=
      ERROR_SUCCESS)
    return false;
  DWORD value = flag == 1 ? 1 : 0;
  return RegSetValueExW(k.key, u"NeedReboot", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value) ==
         ERROR_SUCCESS;
}

void InitNeedReboot() {
  ScopedKey k;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kHotfixKey, 0, KEY_READ, &k.key) == ERROR_SUCCESS &&
      RegQueryValueExW(k.key, u"NeedReboot", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
    return;
  SetNeedReboot(0);
}

bool CreateHotfixMarkerKey() {
  WCHAR path[64];
  _snwprintf(path, 64, u"%s\\%s", kHotfixKey, kMarkerName);
  ScopedKey k;
  return RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k.key, nullptr) ==
         ERROR_SUCCESS;
}

int InstallHotfix() {
  RECT client{};
  GetClientRect(g_mainWindow, &client);

  if (!RunCompatibilityChecks()) {
    HotfixLog(u"this hotfix is not compatible with this device");
    ShowMessage(u"This hotfix is not compatible with your device.", u"Incorrect Device", 1);
    return 0;
  }
  if (g_serviceStopSwitch == 1 && !StopService()) return 0;
  if (!g_silent) HideMenuButtons();
  ShowMessage(u"The installation will now start. Press OK to continue.", u"Installation", 1);
  if (!g_silent) SetProgressText(u"Installing Hotfix. Please wait.");

  if (!WriteCabinet() || !RunCabInstaller()) return 0;

  if (!g_silent) SetProgressText(u"Installation Complete");
  if (g_rebootSwitch == 1 && !SetNeedReboot(1)) HotfixLog(u"\"NeedReboot\" cannot be recorded");
  if (!CreateHotfixMarkerKey()) HotfixLog(u"the marker key cannot be created");
  HotfixLog(u"installed package %s", kPackageVersion);

  if (g_rebootSwitch != 1 || g_silent) {
    ShowMessage(u"Installation complete!", u"Installation Complete", 1);
    return 1;
  }
  ShowMessage(u"Please tap the OK button to restart your device!", u"Installation Complete", 1);
  if (!KernelIoControl(kIoctlReboot, nullptr, 0, nullptr, 0, nullptr)) {
    HotfixLog(u"the restart request failed (error %u)", GetLastError());
    ShowMessage(u"Can't reset device!", u"Error", 1);
    return 0;
  }
  return 1;
}
