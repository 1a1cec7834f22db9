// Test and user controls of the application-level stand-ins (wince_app.h): the
// headless shell, resources, the device's identity and the programs of the device.
//
// Only tests, tools and the program start-up of platform/wince call these; the phone's
// own code never does.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "wince_app.h"

// ---------------------------------------------------------------------------
// The shell. Nothing is drawn: what a user would have seen is recorded, and a test plays
// the user (answers message boxes, taps menu-bar buttons).
// ---------------------------------------------------------------------------
struct CeSimMessageBox {
  HWND owner;
  std::u16string text;
  std::u16string caption;
  UINT type;
};
struct CeSimWindowInfo {
  HWND window;
  std::u16string className;
  std::u16string title;
  bool visible;
  bool otherProcess;   // a window of the simulated other instance
};
struct CeSimMenuButton {
  WORD command;
  std::u16string label;
  bool enabled;
  bool hidden;
};
struct CeSimForegroundRequest {
  HWND window;         // without the "owned windows" bit
  bool withOwnedWindows;
};

// Every message box shown since the last reset, in order.
std::vector<CeSimMessageBox> CeSimMessageBoxes();
// Who answers message boxes; an empty function answers IDOK.
void CeSimSetMessageBoxAnswer(std::function<int(const CeSimMessageBox&)> answer);
// Windows alive now, in creation order.
std::vector<CeSimWindowInfo> CeSimWindows();
// Every text drawn by DrawTextW since the last reset, in order.
std::vector<std::u16string> CeSimDrawnTexts();
// The buttons of the menu bar owned by `owner` (empty when it has none).
std::vector<CeSimMenuButton> CeSimMenuBarButtons(HWND owner);
std::vector<CeSimForegroundRequest> CeSimForegroundRequests();
// Queues a tap on the menu-bar button with `command`: GetMessageW delivers it as
// WM_COMMAND to the bar's owner once its queue is empty and the button is shown.
void CeSimTapMenuBarButton(WORD command);
// Forgets every window, class, queue, record, tap and the other instance.
void CeSimResetShell();
// A user at the console plays the user: message boxes and the menu bar are printed on
// stdout, and taps are read from stdin (for a program run by hand).
void CeSimUseConsoleUser(bool on);

// The other instance of a program, as another process would hold it: it owns the named
// mutex `mutexName` and shows a window of `className` titled `title`. The window is found
// only from the `lookupsBeforeWindow`+1-th FindWindowW call on (0xFFFFFFFF: never), as
// when the other instance is still starting.
HWND CeSimStartOtherInstance(const WCHAR* mutexName, const WCHAR* className, const WCHAR* title,
                             DWORD lookupsBeforeWindow);
void CeSimEndOtherInstance();

// ---------------------------------------------------------------------------
// Resources of the program (the table it exports), changed per test.
// ---------------------------------------------------------------------------
// Replaces resource (type, id) with a copy of `data`.
void CeSimOverrideResource(LPCWSTR type, WORD id, const void* data, DWORD size);
// Makes resource (type, id) absent.
void CeSimRemoveResource(LPCWSTR type, WORD id);
void CeSimClearResourceOverrides();

// ---------------------------------------------------------------------------
// The device's identity, as its OEM kernel I/O controls, system parameters, version,
// language and OEM registry values give it.
// ---------------------------------------------------------------------------
#define CE_SIM_IOCTL_DEVICE_INFO 0x01012C00u    // 2,128-byte record: model id at 0, CID at 192
#define CE_SIM_IOCTL_DEVICE_STRING 0x01013408u  // 128 bytes: UTF-16 text
#define CE_SIM_IOCTL_CID 0x0101340Cu            // 128 bytes: the CID's 8 bytes first
#define CE_SIM_IOCTL_REBOOT 0x0101003Cu         // no input or output
#define CE_SIM_DEVICE_INFO_SIZE 2128u

struct CeSimDeviceIdentity {
  std::string modelId;          // up to 9 characters; empty: the device-information call fails
  std::string cid;              // up to 8 characters
  std::u16string deviceString;  // empty: the device-string call fails
  std::u16string platformType;  // empty: the system parameter is unset
  std::u16string oemInfo;       // empty: the system parameter is unset
  std::u16string romVersion;    // HKLM "Software\OEM" "ROMVersion"; empty: removed
  DWORD osBuild;
  LANGID language;
  bool rebootSucceeds;          // the answer to the reboot request
};
// The simulated phone: a "VQ40" Pocket PC with ROM 1.52.0.0.
CeSimDeviceIdentity CeSimDefaultDeviceIdentity();
// Sets the kernel I/O control answers, system parameters, version, language and the ROM
// version value. Reloading the registry drops the ROM version again.
void CeSimSetDeviceIdentity(const CeSimDeviceIdentity& identity);
// The parts one by one.
void CeSimSetSystemParameterText(UINT action, const WCHAR* text);   // null: unset
void CeSimSetOsVersion(DWORD major, DWORD minor, DWORD build);
void CeSimSetLanguage(LANGID language);

// ---------------------------------------------------------------------------
// Programs of the device. CreateProcessW runs a registered program on a thread of this
// process, so that it shares the registry and the image with its caller.
// ---------------------------------------------------------------------------
typedef DWORD (*CeSimProgramMain)(const WCHAR* commandLine);
// Registers (or with null removes) the program behind the image file "\Windows\<exeName>".
void CeSimRegisterProgram(const WCHAR* exeName, CeSimProgramMain main);
struct CeSimStartedProcess {
  std::u16string application;
  std::u16string commandLine;
};
std::vector<CeSimStartedProcess> CeSimStartedProcesses();
void CeSimClearStartedProcesses();
// A running process of another program, listed by the tool-help snapshot.
DWORD CeSimAddRunningProcess(const WCHAR* exeName);
// FALSE while it runs; else its exit code.
BOOL CeSimProcessExitCode(DWORD processId, DWORD* exitCode);
void CeSimClearRunningProcesses();

// The system's CAB installer ("\Windows\wceload.exe"), registered from the start:
// "[/noui] [/silent] <cabinet>" unpacks the cabinet (with cabextract) and applies its
// provisioning document "_setup.xml": files extracted into their folders, registry values
// set. Nothing is changed unless every file and value can be placed. Exit codes: 0
// installed, 1 bad command line, 2 cabinet unreadable or corrupt, 3 provisioning document
// missing or invalid, 4 a file could not be placed, 5 a registry value could not be set.
extern "C" DWORD CeSimWceload(const WCHAR* commandLine);
