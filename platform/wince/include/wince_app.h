// What a Windows CE application calls beyond the core services: windows and their
// messages, painting, message boxes, the Pocket PC shell's menu bar, resources, system
// parameters and version, and processes.
//
// The shell here is headless: windows are records that receive their messages, painting
// records what was drawn, and a test (or the console front end of a program run by hand)
// plays the user. See wince_app_sim.h.
#pragma once

#include "wince.h"

// ---------------------------------------------------------------------------
// Handles and records
// ---------------------------------------------------------------------------
struct HWND__;
typedef HWND__* HWND;
struct HDC__;
typedef HDC__* HDC;
struct HMENU__;
typedef HMENU__* HMENU;
struct HICON__;
typedef HICON__* HICON;
typedef HICON HCURSOR;
struct HBRUSH__;
typedef HBRUSH__* HBRUSH;
struct HRSRC__;
typedef HRSRC__* HRSRC;
typedef HANDLE HGLOBAL;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef DWORD COLORREF;
typedef WORD LANGID;

typedef LRESULT (*WNDPROC)(HWND, UINT, WPARAM, LPARAM);

typedef struct tagPOINT {
  LONG x;
  LONG y;
} POINT, *LPPOINT;

typedef struct tagRECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
} RECT, *LPRECT;

typedef struct tagMSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
} MSG, *LPMSG;

typedef struct tagWNDCLASSW {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCWSTR lpszMenuName;
  LPCWSTR lpszClassName;
} WNDCLASSW, WNDCLASS;

typedef struct tagPAINTSTRUCT {
  HDC hdc;
  BOOL fErase;
  RECT rcPaint;
  BOOL fRestore;
  BOOL fIncUpdate;
  BYTE rgbReserved[32];
} PAINTSTRUCT, *LPPAINTSTRUCT;

#define MAKEINTRESOURCE(i) ((LPWSTR)(ULONG_PTR)(WORD)(i))
#define IS_INTRESOURCE(p) ((((ULONG_PTR)(p)) >> 16) == 0)
#define MAKELONG(lo, hi) ((LONG)(((WORD)(lo)) | (((DWORD)((WORD)(hi))) << 16)))
#define MAKELPARAM(lo, hi) ((LPARAM)MAKELONG(lo, hi))

// ---------------------------------------------------------------------------
// Messages, styles, commands
// ---------------------------------------------------------------------------
#define WM_NULL 0x0000u
#define WM_CREATE 0x0001u
#define WM_DESTROY 0x0002u
#define WM_MOVE 0x0003u
#define WM_SIZE 0x0005u
#define WM_PAINT 0x000Fu
#define WM_CLOSE 0x0010u
#define WM_QUIT 0x0012u
#define WM_COMMAND 0x0111u
#define WM_USER 0x0400u
#define WM_APP 0x8000u

#define CS_VREDRAW 0x0001u
#define CS_HREDRAW 0x0002u

#define WS_VISIBLE 0x10000000u
#define WS_CLIPCHILDREN 0x02000000u
#define WS_CHILD 0x40000000u
#define CW_USEDEFAULT ((int)0x80000000)

#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5

#define SWP_NOSIZE 0x0001u
#define SWP_NOMOVE 0x0002u
#define SWP_NOZORDER 0x0004u

#define DT_CENTER 0x00000001u
#define DT_VCENTER 0x00000004u
#define DT_SINGLELINE 0x00000020u

#define MB_OK 0x00000000u
#define MB_OKCANCEL 0x00000001u
#define MB_ICONERROR 0x00000010u
#define MB_ICONINFORMATION 0x00000040u
#define MB_SETFOREGROUND 0x00010000u
#define MB_TOPMOST 0x00040000u
#define IDOK 1
#define IDCANCEL 2

// Tool-bar (menu-bar) button request: wParam the command, LOWORD(lParam) TRUE to hide.
#define TB_HIDEBUTTON (WM_USER + 4)

typedef struct tagCREATESTRUCTW {
  LPVOID lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  LPCWSTR lpszName;
  LPCWSTR lpszClass;
  DWORD dwExStyle;
} CREATESTRUCTW, CREATESTRUCT;

typedef WORD ATOM;

extern "C" {
// Windows of this process: a class by name, windows created from it get their messages
// through its procedure. CreateWindowExW sends WM_CREATE before it returns; a -1 answer
// destroys the window and makes the creation fail.
ATOM RegisterClassW(const WNDCLASSW* windowClass);
BOOL UnregisterClassW(LPCWSTR className, HINSTANCE instance);
HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param);
BOOL DestroyWindow(HWND window);
BOOL IsWindow(HWND window);
BOOL ShowWindow(HWND window, int command);
BOOL UpdateWindow(HWND window);      // sends WM_PAINT now when some of the window is invalid
BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase);
BOOL GetClientRect(HWND window, LPRECT rect);
BOOL GetWindowRect(HWND window, LPRECT rect);
BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint);
BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
// Finds a window of any process by class and title (either may be null: any).
HWND FindWindowW(LPCWSTR className, LPCWSTR windowName);
// A handle with its lowest bit set brings the window's owned windows along.
BOOL SetForegroundWindow(HWND window);
LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
// The calling thread's queue. 0 on WM_QUIT (its wParam is the exit code), -1 on error.
BOOL GetMessageW(LPMSG message, HWND window, UINT filterMin, UINT filterMax);
BOOL TranslateMessage(const MSG* message);
LRESULT DispatchMessageW(const MSG* message);

HDC BeginPaint(HWND window, LPPAINTSTRUCT paint);
BOOL EndPaint(HWND window, const PAINTSTRUCT* paint);
int DrawTextW(HDC dc, LPCWSTR text, int length, LPRECT rect, UINT format);

// Top-most boxes are answered by whoever plays the user; IDOK, IDCANCEL, or 0 on failure.
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
}
#define RegisterClass RegisterClassW
#define CreateWindowEx CreateWindowExW
#define CreateWindow(c, n, s, x, y, w, h, p, m, i, a) CreateWindowExW(0, c, n, s, x, y, w, h, p, m, i, a)
#define FindWindow FindWindowW
#define DefWindowProc DefWindowProcW
#define SendMessage SendMessageW
#define PostMessage PostMessageW
#define GetMessage GetMessageW
#define DispatchMessage DispatchMessageW
#define DrawText DrawTextW
#define MessageBox MessageBoxW

// ---------------------------------------------------------------------------
// The shell's menu bar
// ---------------------------------------------------------------------------
#define SHCMBF_EMPTYBAR 0x0001u
#define SHCMBF_HIDDEN 0x0002u
#define SHCMBF_HMENU 0x0010u

typedef struct tagSHMENUBARINFO {
  DWORD cbSize;
  HWND hwndParent;
  DWORD dwFlags;
  UINT nToolBarId;       // menu-bar description resource
  HINSTANCE hInstRes;    // module holding it and its strings
  int nBmpId;
  int cBmpImages;
  HWND hwndMB;           // out: the menu bar
  COLORREF clrBk;
} SHMENUBARINFO, *PSHMENUBARINFO;

// The menu-bar description resource (type RT_RCDATA): a header, then one record per
// button. The label is a string resource of the same module.
#define TBSTATE_ENABLED 0x04u
#define TBSTYLE_BUTTON 0x00u
#define TBSTYLE_AUTOSIZE 0x10u
#define I_IMAGENONE (-2)

typedef struct tagSHMENUBARBUTTON {
  int imageIndex;        // I_IMAGENONE: a text button
  WORD command;
  BYTE state;            // TBSTATE_*
  BYTE style;            // TBSTYLE_*
  WORD labelStringId;
  WORD menuId;           // drop-down menu resource, 0 for none
} SHMENUBARBUTTON;
static_assert(sizeof(SHMENUBARBUTTON) == 12, "a menu-bar button record is 12 bytes");

typedef struct tagSHMENUBARDESC {
  WORD menuId;           // the menu resource the bar belongs to
  WORD buttonCount;
} SHMENUBARDESC;
static_assert(sizeof(SHMENUBARDESC) == 4, "a menu-bar description header is 4 bytes");

extern "C" {
BOOL SHCreateMenuBar(SHMENUBARINFO* info);
}

// ---------------------------------------------------------------------------
// Resources
// ---------------------------------------------------------------------------
#define RT_STRING MAKEINTRESOURCE(6)
#define RT_MENU MAKEINTRESOURCE(4)
#define RT_RCDATA MAKEINTRESOURCE(10)

// A module's resources: the table its resource script compiles to, exported under the
// name CE_RESOURCE_SYMBOL. A string resource's data is its UTF-16 text without a NUL.
typedef struct CeResourceEntry {
  LPCWSTR type;          // MAKEINTRESOURCE(n) or a name ("BIN")
  WORD id;
  WORD language;         // 0: neutral
  const void* data;
  DWORD size;
} CeResourceEntry;

typedef struct CeResourceDirectory {
  DWORD count;
  const CeResourceEntry* entries;
} CeResourceDirectory;

#define CE_RESOURCE_SYMBOL "CeModuleResources"

extern "C" {
// Null or the program's own handle: the program. Other module names are not supported.
HMODULE GetModuleHandleW(LPCWSTR moduleName);
// The language is not matched: each (type, id) exists once.
HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
DWORD SizeofResource(HMODULE module, HRSRC resource);
LPVOID LockResource(HGLOBAL data);
// Copies at most maxChars - 1 characters and a NUL; the number copied, 0 when absent.
int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int maxChars);
}
#define GetModuleHandle GetModuleHandleW
#define FindResource FindResourceW
#define LoadString LoadStringW

// ---------------------------------------------------------------------------
// System parameters, version, language
// ---------------------------------------------------------------------------
#define SPI_GETPLATFORMTYPE 257u
#define SPI_GETOEMINFO 258u

typedef struct _OSVERSIONINFOW {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  WCHAR szCSDVersion[128];
} OSVERSIONINFOW, OSVERSIONINFO, *LPOSVERSIONINFOW, *LPOSVERSIONINFO;

extern "C" {
// Text parameters: size in bytes of `param`; FALSE with ERROR_INSUFFICIENT_BUFFER when the
// text and its NUL do not fit, ERROR_NOT_SUPPORTED for an unknown or unset parameter.
BOOL SystemParametersInfoW(UINT action, UINT size, PVOID param, UINT winIni);
BOOL GetVersionExW(LPOSVERSIONINFOW info);
LANGID GetSystemDefaultLangID(void);
LANGID GetUserDefaultLangID(void);
}
#define SystemParametersInfo SystemParametersInfoW
#define GetVersionEx GetVersionExW

// ---------------------------------------------------------------------------
// Processes
// ---------------------------------------------------------------------------
#define PROCESS_ALL_ACCESS 0x001F0FFFu
#define TH32CS_SNAPPROCESS 0x00000002u
#define TH32CS_SNAPNOHEAPS 0x40000000u

typedef struct _STARTUPINFOW STARTUPINFOW, *LPSTARTUPINFOW;

typedef struct _PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
} PROCESS_INFORMATION, *LPPROCESS_INFORMATION;

typedef struct tagPROCESSENTRY32 {
  DWORD dwSize;
  DWORD cntUsage;
  DWORD th32ProcessID;
  DWORD th32DefaultHeapID;
  DWORD th32ModuleID;
  DWORD cntThreads;
  DWORD th32ParentProcessID;
  LONG pcPriClassBase;
  DWORD dwFlags;
  WCHAR szExeFile[MAX_PATH];
  DWORD th32MemoryBase;
  DWORD th32AccessKey;
} PROCESSENTRY32, *LPPROCESSENTRY32;

extern "C" {
// Starts a program of the device. The process handle is signalled when it ends and
// answers GetExitCodeProcess; close both handles.
BOOL CreateProcessW(LPCWSTR applicationName, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                    LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD creationFlags,
                    LPVOID environment, LPCWSTR currentDirectory, LPSTARTUPINFOW startupInfo,
                    LPPROCESS_INFORMATION processInformation);
HANDLE OpenProcess(DWORD access, BOOL inherit, DWORD processId);
BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode);   // STILL_ACTIVE while it runs
BOOL TerminateProcess(HANDLE process, UINT exitCode);
HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD processId);
BOOL Process32FirstW(HANDLE snapshot, LPPROCESSENTRY32 entry);
BOOL Process32NextW(HANDLE snapshot, LPPROCESSENTRY32 entry);   // FALSE + ERROR_NO_MORE_FILES at the end
BOOL CloseToolhelp32Snapshot(HANDLE snapshot);
}
#define ERROR_NO_MORE_FILES 18
#define CreateProcess CreateProcessW
#define Process32First Process32FirstW
#define Process32Next Process32NextW

// ---------------------------------------------------------------------------
// Program entry
// ---------------------------------------------------------------------------
// A program defines WinMain; the platform's start-up (library coredll_winmain) calls it
// with the program's handle and the command line after the program's name.
extern "C" int WinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int showCommand);
