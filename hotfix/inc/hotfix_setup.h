// hotfix_setup: the self-extracting installer of the camera stack.
//
// A small shell program that carries the install cabinet as a resource, checks that the
// phone is one the package was built for, writes the cabinet out, has the system's CAB
// installer install it and asks for a restart. Run with "/silent" it shows nothing,
// installs at once and never restarts. Plain functions over program-wide state; this
// header is shared by the program's files and its tests.
#pragma once

#include "wince.h"
#include "wince_app.h"

// ---- resources and commands --------------------------------------------------------
#define IDR_MENUBAR 101        // menu-bar description and menu
#define IDS_SETUP 102          // "Setup"
#define IDS_CANCEL 103         // "Cancel"
#define IDS_TITLE 104          // "HotFix Installation"
#define IDS_TAP_SETUP 105      // "Tap Setup button to install"
#define IDR_CABINET 121        // the install cabinet, type "BIN"
#define IDM_SETUP 1
#define IDM_CANCEL 7
#define HOTFIX_CABINET_LANGUAGE 1028

// What the program's exit code says (the message loop's quit code).
enum HotfixExitCode : int {
  kExitInstalled = 0,    // installed, or the user cancelled
  kExitFailed = 1,       // the device did not pass the checks, or a step of the installation failed
  kExitNotStarted = 2,   // another instance runs, or the window could not be made
};

// ---- the program (hotfixsetup.cpp) -------------------------------------------------
// Where the program is in its one run.
enum class SetupState { kStarting, kWaitingForCommand, kInstalling, kFinished };

constexpr int kTitleChars = 20;
constexpr int kWindowTextChars = 32;   // the longest progress text is 31 characters

extern HINSTANCE g_instance;
extern HWND g_mainWindow;
extern HWND g_menuBar;
extern BYTE g_silent;
extern WCHAR g_commandLine[MAX_PATH];
extern WCHAR g_windowText[kWindowTextChars];
extern SetupState g_state;

// Shows a top-most box owned by the main window when `show` is 1 and the run is not silent.
void ShowMessage(LPCWSTR text, LPCWSTR caption, int show);
// Replaces the window text (cut to fit) and repaints the window at once.
void SetProgressText(LPCWSTR text);
// One line of the program's log (the debug output), also in silent runs.
void HotfixLog(LPCWSTR format, ...);
LRESULT MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// ---- device compatibility (compatibility.cpp) --------------------------------------
enum CompatibilityCheck {
  kCheckPlatform,
  kCheckModel,
  kCheckCid,
  kCheckRadio,
  kCheckCeBuild,
  kCheckRomVersion,
  kCheckPackageVersion,
  kCheckLanguage,
  kCheckCount
};
// The enable switches, fixed in the program's data (model, ROM and package version on).
extern BYTE g_checkEnabled[kCheckCount];

// What the checks look at, gathered once when the main window is made. Every item is a
// NUL-terminated wide string, empty when it could not be read.
struct DeviceInformation {
  WCHAR platformType[64];      // system parameter 257
  WCHAR modelId[10];           // OEM I/O control 0x01012C00, bytes 0-8
  WCHAR deviceString[64];      // OEM I/O control 0x01013408
  WCHAR oemInfo[64];           // system parameter 258
  WCHAR cid[9];                // bytes 192-199 of 0x01012C00, else 0x0101340C
  WCHAR romVersion[64];        // HKLM "Software\OEM" "ROMVersion"
  WCHAR packageVersion[64];    // HKLM "Drivers\BuiltIn\Hotfix" "CameraDLL_version"
  WCHAR radioVersion[64];      // HKLM "Drivers\BuiltIn\Hotfix" "RILPHONE_Version"
};
extern DeviceInformation g_device;

void CollectDeviceInformation();
bool RunCompatibilityChecks();

// Version texts: digit runs separated by anything else. A text longer than 128
// characters, a run of more than 15 digits or more than 16 groups is no version: 0.
constexpr int kMaxVersionGroups = 16;
constexpr int kMaxGroupDigits = 15;
constexpr int kMaxVersionChars = 128;
int SplitVersionNumbers(LPCWSTR text, ULONGLONG numbers[kMaxVersionGroups]);
int CompareNumberArrays(const ULONGLONG* a, const ULONGLONG* b, int count);
// 0 not comparable, 1 device older, 2 equal, 3 device newer.
int CompareVersionStrings(LPCWSTR device, LPCWSTR package);

// The package version this program installs (what the cabinet records).
extern const WCHAR kPackageVersion[];

// ---- installation (installation.cpp) -----------------------------------------------
// Switches fixed in the program's data.
extern DWORD g_rebootSwitch;        // 1: restart after installing
extern DWORD g_serviceStopSwitch;   // 1: stop "VantorIMSSvc.exe" before installing
extern WORD g_cabinetResourceId;    // IDR_CABINET

// 1 when the package was installed (and, interactively with the reboot switch on, the
// restart was requested); 0 otherwise.
int InstallHotfix();
// Writes HKLM "Software\Vantor\Hotfix" "NeedReboot"; false when the registry refused.
bool SetNeedReboot(DWORD flag);
// At start-up: records "NeedReboot" = 0 only when no value is there, so that a restart
// still pending from an earlier silent installation is kept.
void InitNeedReboot();
bool CreateHotfixMarkerKey();
