// The installer program: its start-up, its one window and the single-instance rule.
//
// One window ("HelloApp") shows a line of text and a two-button menu bar, Setup and
// Cancel; Setup runs the installation, then the program ends. With "/silent" anywhere
// on the command line the window is never shown, no message box appears and the
// installation runs at once. A second start while the program runs brings the first
// window to the front and ends. The exit code tells a script what happened (see
// HotfixExitCode).
#include <cstdarg>

#include "hotfix_setup.h"

HINSTANCE g_instance;
HWND g_mainWindow;
HWND g_menuBar;
BYTE g_silent;
WCHAR g_commandLine[MAX_PATH];
WCHAR g_windowText[kWindowTextChars];
SetupState g_state = SetupState::kStarting;

namespace {

constexpr WCHAR kClassName[] = u"HelloApp";
constexpr UINT WM_SILENT_INSTALL = WM_APP + 1;   // a silent run installs once the window exists
constexpr int kInstanceAttempts = 5;
constexpr DWORD kInstanceRetryMs = 500;

int g_exitCode = kExitInstalled;

// Owns the single-instance mutex for the program's lifetime.
class InstanceMutex {
 public:
  InstanceMutex() = default;
  explicit InstanceMutex(HANDLE h) : h_(h) {}
  InstanceMutex(InstanceMutex&& o) noexcept : h_(o.h_) { o.h_ = nullptr; }
  InstanceMutex& operator=(InstanceMutex&&) = delete;
  ~InstanceMutex() {
    if (h_ != nullptr) CloseHandle(h_);
  }
  explicit operator bool() const { return h_ != nullptr; }

 private:
  HANDLE h_ = nullptr;
};

// Keeps the window class registered while the program runs.
class RegisteredClass {
 public:
  explicit RegisteredClass(const WNDCLASSW& wc) : ok_(RegisterClassW(&wc) != 0), instance_(wc.hInstance) {}
  ~RegisteredClass() {
    if (ok_) UnregisterClassW(kClassName, instance_);
  }
  explicit operator bool() const { return ok_; }

 private:
  bool ok_;
  HINSTANCE instance_;
};

// The one transition function of the program's run.
void EnterState(SetupState next) {
  static const WCHAR* const kNames[] = {u"starting", u"waiting for a command", u"installing", u"finished"};
  HotfixLog(u"%s -> %s", kNames[static_cast<int>(g_state)], kNames[static_cast<int>(next)]);
  g_state = next;
}

void ReadCommandLine(LPCWSTR commandLine) {
  if (commandLine == nullptr) commandLine = u"";
  g_silent = wcsstr(commandLine, u"/silent") != nullptr ? 1 : 0;
  wcslcpy(g_commandLine, commandLine, MAX_PATH);
}

// Null when this is the only instance: then the mutex is held. Otherwise the other
// instance's window was brought to the front (or could not be found) and this run ends.
InstanceMutex EnsureSingleInstance(LPCWSTR className, LPCWSTR title) {
  for (int attempt = 0; attempt < kInstanceAttempts; ++attempt) {
    HANDLE mutex = CreateMutexW(nullptr, FALSE, className);
    if (mutex == nullptr) return InstanceMutex();
    if (GetLastError() != ERROR_ALREADY_EXISTS) return InstanceMutex(mutex);
    CloseHandle(mutex);
    HWND other = FindWindowW(className, title);
    if (other == nullptr) {
      Sleep(kInstanceRetryMs);
      other = FindWindowW(className, title);
    }
    if (other != nullptr) {
      HotfixLog(u"another instance runs: bringing it to the front");
      SetForegroundWindow(reinterpret_cast<HWND>(reinterpret_cast<uintptr_t>(other) | 1u));
      return InstanceMutex();
    }
  }
  HotfixLog(u"another instance holds the mutex but shows no window: giving up");
  return InstanceMutex();
}

bool CreateMenuBar(HWND window) {
  SHMENUBARINFO info{};
  info.cbSize = sizeof info;
  info.hwndParent = window;
  info.nToolBarId = IDR_MENUBAR;
  info.hInstRes = g_instance;
  if (!SHCreateMenuBar(&info)) {
    HotfixLog(u"the menu bar cannot be made (error %u)", GetLastError());
    return false;
  }
  g_menuBar = info.hwndMB;
  return true;
}

void RunInstallation(HWND window) {
  EnterState(SetupState::kInstalling);
  g_exitCode = InstallHotfix() == 1 ? kExitInstalled : kExitFailed;
  EnterState(SetupState::kFinished);
  DestroyWindow(window);
}

void Paint(HWND window) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  RECT rc;
  GetClientRect(window, &rc);
  DrawTextW(dc, g_windowText, -1, &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  EndPaint(window, &ps);
}

}  // namespace

void HotfixLog(LPCWSTR format, ...) {
  WCHAR line[256];
  va_list args;
  va_start(args, format);
  _vsnwprintf(line, 256, format, args);
  va_end(args);
  NKDbgPrintfW(u"hotfix_setup: %s\r\n", line);
}

void ShowMessage(LPCWSTR text, LPCWSTR caption, int show) {
  if (show != 1 || g_silent) return;
  MessageBoxW(g_mainWindow, text, caption, MB_OK | MB_TOPMOST | MB_SETFOREGROUND);
}

void SetProgressText(LPCWSTR text) {
  wcslcpy(g_windowText, text, kWindowTextChars);
  RECT r;
  if (!GetWindowRect(g_mainWindow, &r)) return;
  // A move and resize forces a full repaint, drawn before the next step starts.
  MoveWindow(g_mainWindow, r.left, r.top, r.right - r.left, r.bottom - r.top - 1, TRUE);
  MoveWindow(g_mainWindow, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
  UpdateWindow(g_mainWindow);
}

LRESULT MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      g_mainWindow = window;
      if (!g_silent && !CreateMenuBar(window)) return -1;
      if (LoadStringW(g_instance, IDS_TAP_SETUP, g_windowText, kWindowTextChars) == 0) {
        HotfixLog(u"the window text is missing");
        return -1;
      }
      CollectDeviceInformation();
      if (g_silent) PostMessageW(window, WM_SILENT_INSTALL, 0, 0);
      return 0;
    case WM_SILENT_INSTALL:
      RunInstallation(window);
      return 0;
    case WM_COMMAND:
      if (g_state != SetupState::kWaitingForCommand) return 0;
      if (LOWORD(wParam) == IDM_SETUP) {
        RunInstallation(window);
      } else if (LOWORD(wParam) == IDM_CANCEL) {
        EnterState(SetupState::kFinished);
        DestroyWindow(window);
      }
      return 0;
    case WM_PAINT:
      Paint(window);
      return 0;
    case WM_DESTROY:
      g_mainWindow = nullptr;
      g_menuBar = nullptr;
      PostQuitMessage(g_exitCode);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

int WinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int showCommand) {
  // Program-wide state starts afresh, so that a test may run the program more than once.
  g_instance = instance;
  g_mainWindow = nullptr;
  g_menuBar = nullptr;
  g_windowText[0] = 0;
  g_state = SetupState::kStarting;
  g_exitCode = kExitInstalled;

  InitNeedReboot();
  ReadCommandLine(commandLine);
  WCHAR title[kTitleChars + 1] = {};
  LoadStringW(instance, IDS_TITLE, title, kTitleChars + 1);

  InstanceMutex instanceMutex = EnsureSingleInstance(kClassName, title);
  if (!instanceMutex) return kExitNotStarted;

  WNDCLASSW wc{};
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = MainWindowProc;
  wc.hInstance = instance;
  wc.lpszClassName = kClassName;
  RegisteredClass windowClass(wc);
  if (!windowClass) return kExitNotStarted;

  HWND window = CreateWindow(kClassName, title, WS_CLIPCHILDREN, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                             CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return kExitNotStarted;
  if (!g_silent) {
    EnterState(SetupState::kWaitingForCommand);
    ShowWindow(window, showCommand);
    UpdateWindow(window);
  }

  MSG msg{};
  BOOL got;
  while ((got = GetMessageW(&msg, nullptr, 0, 0)) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return got == 0 ? static_cast<int>(msg.wParam) : kExitFailed;
}
