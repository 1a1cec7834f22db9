// The Windows CE core API (coredll) as the phone's code calls it.
//
// ILP32, CE-like types. Wide strings are 16-bit (WCHAR = char16_t); write wide
// literals as u"...". Functions with CE-only names have C linkage. The few whose
// names collide with the C library's wchar_t functions (wcslen, swprintf, ...) are
// C++ overloads on WCHAR, so that the C library keeps its own.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
// The C++ library takes the addresses of the wchar_t functions (std::stol uses
// &std::wcstol); it must see them before the WCHAR overloads below make them ambiguous.
#include <cwchar>
#include <string>

// ---------------------------------------------------------------------------
// Types
// ---------------------------------------------------------------------------
typedef uint32_t DWORD;
typedef int BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int32_t INT;
typedef uint32_t UINT;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef uint64_t DWORD64;
typedef uint16_t USHORT;
typedef uint8_t UCHAR;
typedef char CHAR;
typedef char16_t WCHAR;
typedef WCHAR TCHAR;
typedef void* HANDLE;
typedef void* PVOID;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef DWORD* LPDWORD;
typedef DWORD* PDWORD;
typedef BYTE* LPBYTE;
typedef BYTE* PBYTE;
typedef const BYTE* LPCBYTE;
typedef BOOL* LPBOOL;
typedef LONG* PLONG;
typedef WCHAR* LPWSTR;
typedef WCHAR* PWSTR;
typedef const WCHAR* LPCWSTR;
typedef const WCHAR* PCWSTR;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef LPWSTR LPTSTR;
typedef LPCWSTR LPCTSTR;
typedef uintptr_t UINT_PTR;
typedef intptr_t INT_PTR;
typedef uintptr_t ULONG_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t DWORD_PTR;
typedef LONG HRESULT;
typedef DWORD ACCESS_KEY;

struct HKEY__;
typedef HKEY__* HKEY;
typedef HKEY* PHKEY;
struct HINSTANCE__;
typedef HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef int (*FARPROC)();
typedef DWORD REGSAM;

#define WINAPI
#define CALLBACK
#define APIENTRY

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#ifndef NULL
#define NULL nullptr
#endif

#define TEXT(s) u##s
#define _T(s) u##s

#define INFINITE 0xFFFFFFFFu
#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)
#define MAX_PATH 260

#define MAKEWORD(lo, hi) ((WORD)(((BYTE)(lo)) | (((WORD)((BYTE)(hi))) << 8)))
#define LOWORD(l) ((WORD)((DWORD)(l) & 0xFFFF))
#define HIWORD(l) ((WORD)(((DWORD)(l) >> 16) & 0xFFFF))
#define LOBYTE(w) ((BYTE)((w) & 0xFF))
#define HIBYTE(w) ((BYTE)(((WORD)(w) >> 8) & 0xFF))

typedef union _LARGE_INTEGER {
  struct {
    DWORD LowPart;
    LONG HighPart;
  } u;
  LONGLONG QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;

typedef struct _SECURITY_ATTRIBUTES {
  DWORD nLength;
  LPVOID lpSecurityDescriptor;
  BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

// ---------------------------------------------------------------------------
// Error codes (GetLastError)
// ---------------------------------------------------------------------------
#define ERROR_SUCCESS 0
#define NO_ERROR 0
#define ERROR_INVALID_FUNCTION 1
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_BAD_FORMAT 11
#define ERROR_OUTOFMEMORY 14
#define ERROR_GEN_FAILURE 31
#define ERROR_SHARING_VIOLATION 32
#define ERROR_HANDLE_EOF 38
#define ERROR_NOT_SUPPORTED 50
#define ERROR_FILE_EXISTS 80
#define ERROR_INVALID_PARAMETER 87
#define ERROR_BROKEN_PIPE 109
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_INVALID_NAME 123
#define ERROR_MOD_NOT_FOUND 126
#define ERROR_PROC_NOT_FOUND 127
#define ERROR_ALREADY_EXISTS 183
#define ERROR_MORE_DATA 234
#define ERROR_NO_MORE_ITEMS 259
#define ERROR_NOT_OWNER 288
#define ERROR_DLL_INIT_FAILED 1114
#define ERROR_INVALID_USER_BUFFER 1784
#define ERROR_INVALID_FLAGS 1004
#define ERROR_BADKEY 1010
#define ERROR_KEY_DELETED 1018
#define ERROR_TIMEOUT 1460
#define ERROR_NOT_FOUND 1168
#define ERROR_INVALID_ACCESS 12
#define ERROR_INVALID_DATA 13
#define ERROR_NOT_READY 21
#define ERROR_OPEN_FAILED 110
#define ERROR_ARITHMETIC_OVERFLOW 534
#define ERROR_SERVICE_NOT_ACTIVE 1062
#define ERROR_ALREADY_INITIALIZED 1247
#define ERROR_FUNCTION_FAILED 1627
#define ERROR_DEVICE_IN_USE 2404
#define ERROR_INVALID_OPERATION 4317
#define ERROR_DEVICE_NOT_AVAILABLE 4319
#define ERROR_INVALID_STATE 5023

// ---------------------------------------------------------------------------
// Errors, processes, permissions
// ---------------------------------------------------------------------------
extern "C" {
DWORD GetLastError(void);
void SetLastError(DWORD error);

HANDLE GetCurrentProcess(void);          // pseudo handle
DWORD GetCurrentProcessId(void);
HANDLE GetCurrentThread(void);           // pseudo handle, valid for thread calls on the caller
DWORD GetCurrentThreadId(void);

// Caller-buffer access. On this system one address space serves every caller, so
// mappings are the identity; the caller's process is what the calling thread set.
HANDLE GetCallerProcess(void);
LPVOID MapCallerPtr(LPVOID ptr, DWORD length);            // nullptr on a refused mapping
LPVOID MapPtrToProcess(LPVOID ptr, HANDLE process);       // nullptr on a refused mapping
BOOL CeSafeCopyMemory(LPVOID dst, LPCVOID src, DWORD length);
DWORD CeGetCallerTrust(void);
DWORD SetProcPermissions(DWORD permissions);               // returns the previous ones
DWORD GetCurrentPermissions(void);
BOOL IsBadReadPtr(LPCVOID ptr, UINT_PTR length);
BOOL IsBadWritePtr(LPVOID ptr, UINT_PTR length);
}

#define OEM_CERTIFY_RUN 1
#define OEM_CERTIFY_TRUST 2
#define CE_CALLER_TRUST_DEFAULT OEM_CERTIFY_TRUST

// ---------------------------------------------------------------------------
// Threads and waits
// ---------------------------------------------------------------------------
typedef DWORD (*LPTHREAD_START_ROUTINE)(LPVOID parameter);
typedef LPTHREAD_START_ROUTINE PTHREAD_START_ROUTINE;

#define CREATE_SUSPENDED 0x00000004u
#define STILL_ACTIVE 259u
#define WAIT_OBJECT_0 0u
#define WAIT_ABANDONED 0x80u
#define WAIT_TIMEOUT 258u
#define WAIT_FAILED 0xFFFFFFFFu
#define MAXIMUM_WAIT_OBJECTS 64

// CE thread priorities: 0 (highest) .. 255; the eight "application" levels are 248..255.
#define THREAD_PRIORITY_TIME_CRITICAL 0
#define THREAD_PRIORITY_HIGHEST 1
#define THREAD_PRIORITY_ABOVE_NORMAL 2
#define THREAD_PRIORITY_NORMAL 3
#define THREAD_PRIORITY_BELOW_NORMAL 4
#define THREAD_PRIORITY_LOWEST 5
#define THREAD_PRIORITY_ABOVE_IDLE 6
#define THREAD_PRIORITY_IDLE 7
#define CE_THREAD_PRIO_256_NORMAL 251
#define THREAD_PRIORITY_ERROR_RETURN 0x7FFFFFFF

extern "C" {
HANDLE CreateThread(LPSECURITY_ATTRIBUTES attributes, DWORD stackSize, LPTHREAD_START_ROUTINE start,
                    LPVOID parameter, DWORD flags, LPDWORD threadId);
DWORD ResumeThread(HANDLE thread);           // previous suspend count, 0xFFFFFFFF on failure
DWORD SuspendThread(HANDLE thread);          // only a not yet started thread can be suspended
BOOL GetExitCodeThread(HANDLE thread, LPDWORD exitCode);
BOOL TerminateThread(HANDLE thread, DWORD exitCode);  // no safe equivalent: logs and detaches
BOOL CeSetThreadPriority(HANDLE thread, int priority);
int CeGetThreadPriority(HANDLE thread);
BOOL SetThreadPriority(HANDLE thread, int priority);
int GetThreadPriority(HANDLE thread);
void Sleep(DWORD milliseconds);
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* objects, BOOL waitAll, DWORD milliseconds);
BOOL CloseHandle(HANDLE object);
BOOL DisableThreadLibraryCalls(HMODULE module);
}

// ---------------------------------------------------------------------------
// Events and mutexes
// ---------------------------------------------------------------------------
#define EVENT_PULSE 1
#define EVENT_RESET 2
#define EVENT_SET 3

extern "C" {
// Same name, same event: a second create returns a new handle to the existing event
// and sets ERROR_ALREADY_EXISTS (its reset mode and state stay as they were).
HANDLE CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCWSTR name);
BOOL EventModify(HANDLE event, DWORD function);
HANDLE CreateMutexW(LPSECURITY_ATTRIBUTES attributes, BOOL initialOwner, LPCWSTR name);
BOOL ReleaseMutex(HANDLE mutex);
}
#define CreateEvent CreateEventW
#define CreateMutex CreateMutexW
inline BOOL SetEvent(HANDLE h) { return EventModify(h, EVENT_SET); }
inline BOOL ResetEvent(HANDLE h) { return EventModify(h, EVENT_RESET); }
inline BOOL PulseEvent(HANDLE h) { return EventModify(h, EVENT_PULSE); }

// ---------------------------------------------------------------------------
// Critical sections (recursive)
// ---------------------------------------------------------------------------
typedef struct CRITICAL_SECTION {
  void* impl;          // owned by the stand-in between Initialize and Delete
  DWORD OwnerThread;   // id of the owning thread, 0 when free
  DWORD LockCount;     // recursion depth of the owner
} CRITICAL_SECTION, *LPCRITICAL_SECTION, *PCRITICAL_SECTION;

extern "C" {
void InitializeCriticalSection(LPCRITICAL_SECTION cs);
void DeleteCriticalSection(LPCRITICAL_SECTION cs);
void EnterCriticalSection(LPCRITICAL_SECTION cs);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs);
void LeaveCriticalSection(LPCRITICAL_SECTION cs);
}

// ---------------------------------------------------------------------------
// Point-to-point message queues
// ---------------------------------------------------------------------------
#define MSGQUEUE_NOPRECOMMIT 0x00000001u
#define MSGQUEUE_ALLOW_BROKEN 0x00000002u
#define MSGQUEUE_MSGALERT 0x00000001u

typedef struct MSGQUEUEOPTIONS_OS {
  DWORD dwSize;          // sizeof(MSGQUEUEOPTIONS)
  DWORD dwFlags;         // MSGQUEUE_NOPRECOMMIT, MSGQUEUE_ALLOW_BROKEN
  DWORD dwMaxMessages;   // 0: no bound
  DWORD cbMaxMessage;    // largest message in bytes
  BOOL bReadAccess;      // TRUE: this handle is the read end
} MSGQUEUEOPTIONS, *LPMSGQUEUEOPTIONS, *PMSGQUEUEOPTIONS;
static_assert(sizeof(MSGQUEUEOPTIONS) == 20, "MSGQUEUEOPTIONS is five 32-bit words");

typedef struct MSGQUEUEINFO {
  DWORD dwSize;
  DWORD dwFlags;
  DWORD dwMaxMessages;
  DWORD cbMaxMessage;
  DWORD dwCurrentMessages;
  DWORD dwMaxQueueMessages;
  WORD wNumReaders;
  WORD wNumWriters;
} MSGQUEUEINFO, *LPMSGQUEUEINFO, *PMSGQUEUEINFO;

extern "C" {
// A write end is signalled while the queue has room, a read end while it holds messages.
// Without MSGQUEUE_ALLOW_BROKEN a read end's reads and a write end's writes fail with
// ERROR_PIPE_NOT_CONNECTED when the other side has no handle left.
HANDLE CreateMsgQueue(LPCWSTR name, LPMSGQUEUEOPTIONS options);
HANDLE OpenMsgQueue(HANDLE sourceProcess, HANDLE queue, LPMSGQUEUEOPTIONS options);
BOOL ReadMsgQueue(HANDLE queue, LPVOID buffer, DWORD bufferSize, LPDWORD bytesRead, DWORD timeoutMs,
                  DWORD* flags);
BOOL WriteMsgQueue(HANDLE queue, LPVOID buffer, DWORD dataSize, DWORD timeoutMs, DWORD flags);
BOOL GetMsgQueueInfo(HANDLE queue, LPMSGQUEUEINFO info);
BOOL CloseMsgQueue(HANDLE queue);
}
#define ERROR_PIPE_NOT_CONNECTED 233

// ---------------------------------------------------------------------------
// Registry
// ---------------------------------------------------------------------------
#define HKEY_CLASSES_ROOT ((HKEY)(uintptr_t)0x80000000u)
#define HKEY_CURRENT_USER ((HKEY)(uintptr_t)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002u)
#define HKEY_USERS ((HKEY)(uintptr_t)0x80000003u)

#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_MULTI_SZ 7u

#define KEY_QUERY_VALUE 0x0001u
#define KEY_SET_VALUE 0x0002u
#define KEY_CREATE_SUB_KEY 0x0004u
#define KEY_ENUMERATE_SUB_KEYS 0x0008u
#define KEY_READ 0x20019u
#define KEY_WRITE 0x20006u
#define KEY_ALL_ACCESS 0xF003Fu
#define REG_OPTION_NON_VOLATILE 0u
#define REG_OPTION_VOLATILE 1u
#define REG_CREATED_NEW_KEY 1u
#define REG_OPENED_EXISTING_KEY 2u

extern "C" {
// The registry calls return their error code (ERROR_SUCCESS on success); they do not
// change the last error.
LONG RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result);
LONG RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR className, DWORD options,
                     REGSAM access, LPSECURITY_ATTRIBUTES attributes, PHKEY result, LPDWORD disposition);
// A null data pointer asks only for type and size. A short buffer gives ERROR_MORE_DATA
// with *dataSize set to the size needed. String sizes count bytes including the NUL.
LONG RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                      LPDWORD dataSize);
LONG RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data, DWORD dataSize);
LONG RegDeleteValueW(HKEY key, LPCWSTR valueName);
LONG RegDeleteKeyW(HKEY key, LPCWSTR subKey);   // removes the key with everything below it
LONG RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameChars, LPDWORD reserved, LPWSTR className,
                   LPDWORD classChars, void* lastWriteTime);
LONG RegEnumValueW(HKEY key, DWORD index, LPWSTR name, LPDWORD nameChars, LPDWORD reserved, LPDWORD type,
                   LPBYTE data, LPDWORD dataSize);
LONG RegFlushKey(HKEY key);
LONG RegCloseKey(HKEY key);
}
#define RegOpenKeyEx RegOpenKeyExW
#define RegCreateKeyEx RegCreateKeyExW
#define RegQueryValueEx RegQueryValueExW
#define RegSetValueEx RegSetValueExW
#define RegDeleteValue RegDeleteValueW
#define RegDeleteKey RegDeleteKeyW
#define RegEnumKeyEx RegEnumKeyExW
#define RegEnumValue RegEnumValueW

// ---------------------------------------------------------------------------
// Files and device I/O
// ---------------------------------------------------------------------------
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define GENERIC_EXECUTE 0x20000000u
#define GENERIC_ALL 0x10000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define TRUNCATE_EXISTING 5u
#define FILE_ATTRIBUTE_READONLY 0x00000001u
#define FILE_ATTRIBUTE_HIDDEN 0x00000002u
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFu
#define INVALID_FILE_SIZE 0xFFFFFFFFu
#define INVALID_SET_FILE_POINTER 0xFFFFFFFFu
#define FILE_BEGIN 0u
#define FILE_CURRENT 1u
#define FILE_END 2u

typedef struct _OVERLAPPED OVERLAPPED, *LPOVERLAPPED;

extern "C" {
// A name registered as a device ("CAM1:", "CI2C1:") opens that device; any other name is a
// file of the device image ("\Windows\x.txt", "fs:/...").
HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES attributes, DWORD creation,
                   DWORD flags, HANDLE templateFile);
BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inLen, LPVOID out, DWORD outLen,
                     LPDWORD returned, LPOVERLAPPED overlapped);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped);
DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh);
DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method);
BOOL SetEndOfFile(HANDLE file);
BOOL FlushFileBuffers(HANDLE file);
BOOL DeleteFileW(LPCWSTR name);
BOOL CreateDirectoryW(LPCWSTR name, LPSECURITY_ATTRIBUTES attributes);
BOOL RemoveDirectoryW(LPCWSTR name);
DWORD GetFileAttributesW(LPCWSTR name);
BOOL MoveFileW(LPCWSTR from, LPCWSTR to);
BOOL CopyFileW(LPCWSTR from, LPCWSTR to, BOOL failIfExists);
}
#define CreateFile CreateFileW
#define DeleteFile DeleteFileW
#define CreateDirectory CreateDirectoryW
#define RemoveDirectory RemoveDirectoryW
#define GetFileAttributes GetFileAttributesW
#define MoveFile MoveFileW
#define CopyFile CopyFileW

// ---------------------------------------------------------------------------
// Libraries
// ---------------------------------------------------------------------------
#define DLL_PROCESS_ATTACH 1u
#define DLL_THREAD_ATTACH 2u
#define DLL_THREAD_DETACH 3u
#define DLL_PROCESS_DETACH 0u

extern "C" {
// Loads "<image>/Windows/<name>" (a path's directory part is ignored, the name matched
// without regard to case). The loader calls an exported DllMain on the first load and
// on the last FreeLibrary.
HMODULE LoadLibraryW(LPCWSTR name);
FARPROC GetProcAddressW(HMODULE module, LPCWSTR procName);
FARPROC GetProcAddressA(HMODULE module, LPCSTR procName);
BOOL FreeLibrary(HMODULE module);
DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size);
}
#define LoadLibrary LoadLibraryW
#define GetProcAddress GetProcAddressW

// ---------------------------------------------------------------------------
// Interrupts and kernel I/O controls
// ---------------------------------------------------------------------------
#define SYSINTR_NOP 0u
#define SYSINTR_UNDEFINED 0xFFFFFFFFu

extern "C" {
BOOL InterruptInitialize(DWORD sysIntr, HANDLE event, LPVOID data, DWORD size);
void InterruptDone(DWORD sysIntr);
void InterruptDisable(DWORD sysIntr);
BOOL KernelIoControl(DWORD code, LPVOID in, DWORD inLen, LPVOID out, DWORD outLen, LPDWORD returned);
}

// ---------------------------------------------------------------------------
// Time
// ---------------------------------------------------------------------------
extern "C" {
BOOL QueryPerformanceCounter(LARGE_INTEGER* count);
BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency);
DWORD GetTickCount(void);
}

// ---------------------------------------------------------------------------
// Debug output with zones
// ---------------------------------------------------------------------------
typedef struct _DBGPARAM {
  WCHAR lpszName[32];
  WCHAR rglpszZones[16][32];
  ULONG ulZoneMask;
} DBGPARAM, *LPDBGPARAM;

extern "C" {
// Prints to stderr (UTF-8) and to the test capture; see CeSimDebugCaptureBegin.
void NKDbgPrintfW(LPCWSTR format, ...);
void OutputDebugStringW(LPCWSTR text);
BOOL RegisterDbgZones(HMODULE module, LPDBGPARAM dbgParam);
}

// Each module that uses DEBUGZONE defines its own `DBGPARAM dpCurSettings`.
#define DEBUGZONE(n) (dpCurSettings.ulZoneMask & (0x00000001u << (n)))
#define DEBUGREGISTER(hMod) RegisterDbgZones((HMODULE)(hMod), &dpCurSettings)
#define RETAILREGISTERZONES(hMod) RegisterDbgZones((HMODULE)(hMod), &dpCurSettings)
#define RETAILMSG(cond, printf_exp) ((void)((cond) ? (NKDbgPrintfW printf_exp), 1 : 0))
#define DEBUGMSG(cond, printf_exp) ((void)((cond) ? (NKDbgPrintfW printf_exp), 1 : 0))
#define ERRORMSG(cond, printf_exp) \
  ((void)((cond) ? (NKDbgPrintfW(u"ERROR: %hs line %d: ", __FILE__, __LINE__), NKDbgPrintfW printf_exp), 1 : 0))
#define DEBUGCHK(exp) ((void)((exp) ? 1 : (NKDbgPrintfW(u"DEBUGCHK failed in %hs line %d\r\n", __FILE__, __LINE__), 0)))

// ---------------------------------------------------------------------------
// Wide strings and their formatting
// ---------------------------------------------------------------------------
// Formatting (one implementation for all the functions below): %s and %ls take a wide
// string, %S and %hs a narrow (UTF-8) one; %c/%lc a wide character, %C/%hc a narrow one;
// %d %i %u %x %X %o %p %f %e %g %%, flags "-+ 0#", width and precision (also '*'),
// length modifiers h hh l ll I64 z. A null string argument prints "(null)".
extern "C" {
int wsprintfW(LPWSTR buffer, LPCWSTR format, ...);                 // at most 1024 characters with the NUL
int wvsprintfW(LPWSTR buffer, LPCWSTR format, va_list args);
int lstrlenW(LPCWSTR s);
LPWSTR lstrcpyW(LPWSTR dst, LPCWSTR src);
LPWSTR lstrcpynW(LPWSTR dst, LPCWSTR src, int maxChars);
LPWSTR lstrcatW(LPWSTR dst, LPCWSTR src);
int lstrcmpW(LPCWSTR a, LPCWSTR b);
int lstrcmpiW(LPCWSTR a, LPCWSTR b);
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR src, int srcLen, LPWSTR dst, int dstChars);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR src, int srcChars, LPSTR dst, int dstLen,
                        LPCSTR defaultChar, LPBOOL usedDefault);
}
#define wsprintf wsprintfW
#define lstrlen lstrlenW
#define lstrcpy lstrcpyW
#define lstrcmpi lstrcmpiW
#define CP_ACP 0u
#define CP_UTF8 65001u

// Counted forms: write at most `count` characters including the terminating NUL (the
// result is always terminated when count > 0). They return the number of characters
// written without the NUL, or -1 when the output was cut.
int _snwprintf(WCHAR* buffer, size_t count, const WCHAR* format, ...);
int _vsnwprintf(WCHAR* buffer, size_t count, const WCHAR* format, va_list args);
int swprintf(WCHAR* buffer, size_t count, const WCHAR* format, ...);
int vswprintf(WCHAR* buffer, size_t count, const WCHAR* format, va_list args);

size_t wcslen(const WCHAR* s);
size_t wcsnlen(const WCHAR* s, size_t maxChars);
WCHAR* wcscpy(WCHAR* dst, const WCHAR* src);
WCHAR* wcsncpy(WCHAR* dst, const WCHAR* src, size_t count);
size_t wcslcpy(WCHAR* dst, const WCHAR* src, size_t size);   // size in characters; returns wcslen(src)
WCHAR* wcscat(WCHAR* dst, const WCHAR* src);
WCHAR* wcsncat(WCHAR* dst, const WCHAR* src, size_t count);
int wcscmp(const WCHAR* a, const WCHAR* b);
int wcsncmp(const WCHAR* a, const WCHAR* b, size_t count);
int _wcsicmp(const WCHAR* a, const WCHAR* b);
int _wcsnicmp(const WCHAR* a, const WCHAR* b, size_t count);
const WCHAR* wcschr(const WCHAR* s, WCHAR c);
WCHAR* wcschr(WCHAR* s, WCHAR c);
const WCHAR* wcsrchr(const WCHAR* s, WCHAR c);
WCHAR* wcsrchr(WCHAR* s, WCHAR c);
const WCHAR* wcsstr(const WCHAR* s, const WCHAR* sub);
WCHAR* wcsstr(WCHAR* s, const WCHAR* sub);
long wcstol(const WCHAR* s, WCHAR** end, int base);
unsigned long wcstoul(const WCHAR* s, WCHAR** end, int base);
int _wtoi(const WCHAR* s);
