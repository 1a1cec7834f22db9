// Simulation and test controls of the operating-system stand-in.
//
// Only stand-ins (board, device manager, host) and tests call these; the phone's own
// code never does.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "wince.h"

// ---------------------------------------------------------------------------
// Named devices: CreateFileW("CI2C1:") opens a registered device; DeviceIoControl,
// ReadFile, WriteFile and CloseHandle on its handle call the device's operations.
// A null operation makes the call fail with ERROR_NOT_SUPPORTED. No lock of the
// stand-in is held while an operation runs, so operations may call back into it.
// ---------------------------------------------------------------------------
struct CeSimDeviceOps {
  void* (*open)(void* devCtx, DWORD access, DWORD share);   // open ctx, or nullptr + SetLastError
  BOOL (*close)(void* openCtx);
  BOOL (*ioctl)(void* openCtx, DWORD code, void* in, DWORD inLen, void* out, DWORD outLen, DWORD* returned);
  DWORD (*read)(void* openCtx, void* buf, DWORD len);          // bytes, or (DWORD)-1 on failure
  DWORD (*write)(void* openCtx, const void* buf, DWORD len);   // bytes, or (DWORD)-1 on failure
};

extern "C" {
// Names compare without regard to case. Registering a taken name fails with
// ERROR_ALREADY_EXISTS. The ops record is copied.
BOOL CeSimRegisterDevice(const WCHAR* name, const CeSimDeviceOps* ops, void* devCtx);
// Unregistering a device whose handles are still open is allowed: later calls on those
// handles fail with ERROR_INVALID_HANDLE, CloseHandle still calls close.
BOOL CeSimUnregisterDevice(const WCHAR* name);

// ---------------------------------------------------------------------------
// Interrupts: a board model raises a line; the event bound by InterruptInitialize is
// set and the line stays masked until InterruptDone. A raise while masked (or before
// any InterruptInitialize) stays pending and is delivered at InterruptDone (or at the
// InterruptInitialize). A line switched off by InterruptDisable drops raises until it is
// initialised again. TRUE when the raise was delivered or left pending, FALSE when dropped.
// ---------------------------------------------------------------------------
BOOL CeSimRaiseInterrupt(DWORD sysIntr);
BOOL CeSimInterruptMasked(DWORD sysIntr);
BOOL CeSimInterruptPending(DWORD sysIntr);

// ---------------------------------------------------------------------------
// Callers: GetCallerProcess answers what the calling thread set (default
// CeSimDefaultCallerProcess()). CeGetCallerTrust answers the calling thread's trust
// (default OEM_CERTIFY_TRUST).
// ---------------------------------------------------------------------------
void CeSimSetCallerProcess(HANDLE process);
HANDLE CeSimDefaultCallerProcess(void);
void CeSimSetCallerTrust(DWORD trust);
}

// Fault injection for caller-buffer access: after `skip` successful calls, the next
// `count` calls of that kind fail (count 0xFFFFFFFF: until cleared). Process-wide.
enum CeSimFault : DWORD {
  CE_SIM_FAULT_MAP_CALLER_PTR = 0,     // MapCallerPtr answers nullptr (ERROR_INVALID_PARAMETER)
  CE_SIM_FAULT_MAP_PTR_TO_PROCESS = 1, // MapPtrToProcess answers nullptr (ERROR_INVALID_PARAMETER)
  CE_SIM_FAULT_SAFE_COPY = 2,          // CeSafeCopyMemory answers FALSE without copying
  CE_SIM_FAULT_COUNT = 3
};
extern "C" void CeSimInjectFault(CeSimFault fault, DWORD skip, DWORD count);
extern "C" void CeSimClearFaults(void);

// ---------------------------------------------------------------------------
// Kernel I/O controls: every call is recorded (the latest
// kCeSimKernelIoLogCapacity, oldest first). A code with a set answer copies the
// answer's bytes (up to outLen) and returns its result and error; any other code fails
// with ERROR_NOT_SUPPORTED.
// ---------------------------------------------------------------------------
struct CeSimKernelIoCall {
  DWORD code;
  std::vector<BYTE> input;
  DWORD outLen;
};
extern "C" void CeSimSetKernelIoControlAnswer(DWORD code, BOOL result, const void* out, DWORD outLen,
                                              DWORD error);
constexpr size_t kCeSimKernelIoLogCapacity = 100000;
extern "C" void CeSimClearKernelIoControl(void);   // answers and record
std::vector<CeSimKernelIoCall> CeSimKernelIoControlCalls();

// ---------------------------------------------------------------------------
// Time: the performance counter runs at CE_SIM_PERF_FREQUENCY counts a second from the
// process start, plus a settable offset (for instance to put it near a wrap).
// GetTickCount counts milliseconds, with its own offset.
// ---------------------------------------------------------------------------
#define CE_SIM_PERF_FREQUENCY 19200000LL
extern "C" void CeSimSetPerformanceCounterOffset(LONGLONG counts);
extern "C" void CeSimSetTickCountOffset(DWORD milliseconds);

// ---------------------------------------------------------------------------
// Debug output capture: while a capture runs, every NKDbgPrintfW/RETAILMSG/DEBUGMSG line
// is also kept (UTF-8, without the line end). Each print call ends at least one line.
// Output to stderr can be silenced (CAMERA_DEBUG_QUIET=1 in the environment does the same).
// ---------------------------------------------------------------------------
extern "C" void CeSimDebugCaptureBegin(void);
extern "C" void CeSimDebugCaptureEnd(void);
extern "C" void CeSimDebugSetQuiet(BOOL quiet);
std::vector<std::string> CeSimDebugCaptured();
// The same lines with the steady-clock time (nanoseconds) each was printed at.
std::vector<std::pair<int64_t, std::string>> CeSimDebugCapturedTimed();
// TRUE when some captured line contains `text`.
bool CeSimDebugCapturedContains(std::string_view text);

// ---------------------------------------------------------------------------
// The device image. Its root is CAMERA_IMAGE_ROOT, else the build's image directory.
// "\x\y" maps to <root>/x/y, "fs:/x/y" to <root>/fs/x/y (path separators either way,
// names kept as they are). Names holding ".." are refused. FALSE with
// ERROR_INSUFFICIENT_BUFFER when the host path does not fit, ERROR_INVALID_NAME for a
// name that is neither form.
// ---------------------------------------------------------------------------
extern "C" BOOL CeSimMapPath(const WCHAR* path, char* out, DWORD outLen);
extern "C" const char* CeSimImageRoot(void);
// Re-points the image and reloads the registry from its seed (every open key becomes
// invalid). Null goes back to the default.
extern "C" BOOL CeSimSetImageRoot(const char* root);
// Drops every change and reloads the registry from the image's seed.
extern "C" BOOL CeSimReloadRegistry(void);
std::string CeSimHostPath(const WCHAR* path);   // "" when the path does not map
std::string CeSimHostPath(std::u16string_view path);

// ---------------------------------------------------------------------------
// Wide strings for stand-ins and tests.
// ---------------------------------------------------------------------------
std::string CeSimNarrow(std::u16string_view s);   // UTF-16 to UTF-8
std::u16string CeSimWiden(std::string_view s);     // UTF-8 to UTF-16
std::u16string CeSimFormat(const WCHAR* format, ...);   // the wide formatter, unbounded

// ---------------------------------------------------------------------------
// Threads: how many threads made by CreateThread are still running their routine
// (a thread given up by TerminateThread counts until its routine really returns).
// ---------------------------------------------------------------------------
extern "C" DWORD CeSimLiveThreadCount(void);
// A mark in the order of thread creation, and how many threads made after it still
// run their routine: what a test started, apart from threads older than the mark.
extern "C" DWORD CeSimThreadMark(void);
extern "C" DWORD CeSimLiveThreadsSince(DWORD mark);
// How many threads wait on the object behind `object` now (0 for a bad handle), so
// that a test can act once its threads are blocked.
extern "C" DWORD CeSimWaitingThreads(HANDLE object);
