// Errors, processes and callers, kernel I/O controls, time and debug output.
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "internal.h"

namespace {

thread_local DWORD t_lastError = 0;
thread_local HANDLE t_callerProcess = nullptr;
thread_local bool t_callerProcessSet = false;
thread_local DWORD t_callerTrust = OEM_CERTIFY_TRUST;
std::atomic<DWORD> g_permissions{0xFFFFFFFFu};

// A fixed value that stands for "the process that called the driver" until a test
// client says otherwise.
HANDLE const kDefaultCaller = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x00000042u));

struct FaultPlan {
  DWORD skip = 0;
  DWORD count = 0;
};
std::mutex g_faultLock;
std::array<FaultPlan, CE_SIM_FAULT_COUNT> g_faults;

// True when this call of kind `f` is to fail.
bool FaultHits(CeSimFault f) {
  std::lock_guard<std::mutex> lk(g_faultLock);
  FaultPlan& p = g_faults[f];
  if (p.count == 0) return false;
  if (p.skip > 0) {
    --p.skip;
    return false;
  }
  if (p.count != 0xFFFFFFFFu) --p.count;
  return true;
}

// Probes whether [p, p + length) can be read (and, with `write`, written) without a
// fault: the kernel touches one byte of each page on our behalf and reports a bad
// address instead of raising a signal. Where the host refuses the probe itself, only a
// null pointer counts as bad.
bool Accessible(const void* p, size_t length, bool write) {
  if (length == 0) return true;
  uintptr_t first = reinterpret_cast<uintptr_t>(p);
  if (first == 0 || first + (length - 1) < first) return false;
  const uintptr_t last = first + (length - 1);
  static const uintptr_t page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
  const pid_t self = ::getpid();
  for (uintptr_t a = first;;) {
    char byte;
    iovec local{&byte, 1};
    iovec remote{reinterpret_cast<void*>(a), 1};
    ssize_t n = ::process_vm_readv(self, &local, 1, &remote, 1, 0);
    // Writing back the byte just read leaves the memory as it was (unless another thread
    // writes that very byte in between: callers probe memory they are about to fill).
    if (n == 1 && write) n = ::process_vm_writev(self, &local, 1, &remote, 1, 0);
    if (n != 1) return errno != EFAULT;
    // One byte a page tells for the whole page.
    uintptr_t next = (a & ~(page - 1)) + page;
    if (next == 0 || next > last) return true;
    a = next;
  }
}

struct IoAnswer {
  BOOL result;
  std::vector<BYTE> out;
  DWORD error;
};
std::mutex g_ioLock;
std::map<DWORD, IoAnswer> g_ioAnswers;
std::vector<CeSimKernelIoCall> g_ioCalls;

using Clock = std::chrono::steady_clock;
const Clock::time_point g_start = Clock::now();
std::atomic<LONGLONG> g_perfOffset{0};
std::atomic<DWORD> g_tickOffset{0};

std::mutex g_debugLock;
bool g_capturing = false;
std::vector<std::string> g_captured;
int g_quiet = -1;   // -1: not decided yet

}  // namespace

extern "C" {

DWORD GetLastError(void) { return t_lastError; }
void SetLastError(DWORD error) { t_lastError = error; }

HANDLE GetCurrentProcess(void) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); }
DWORD GetCurrentProcessId(void) { return static_cast<DWORD>(getpid()); }
DWORD GetCurrentThreadId(void) { return static_cast<DWORD>(syscall(SYS_gettid)); }

HANDLE GetCallerProcess(void) { return t_callerProcessSet ? t_callerProcess : kDefaultCaller; }
void CeSimSetCallerProcess(HANDLE process) {
  t_callerProcess = process;
  t_callerProcessSet = true;
}
HANDLE CeSimDefaultCallerProcess(void) { return kDefaultCaller; }
DWORD CeGetCallerTrust(void) { return t_callerTrust; }
void CeSimSetCallerTrust(DWORD trust) { t_callerTrust = trust; }

LPVOID MapCallerPtr(LPVOID ptr, DWORD /*length*/) {
  if (FaultHits(CE_SIM_FAULT_MAP_CALLER_PTR)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return ptr;
}

LPVOID MapPtrToProcess(LPVOID ptr, HANDLE /*process*/) {
  if (FaultHits(CE_SIM_FAULT_MAP_PTR_TO_PROCESS)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return ptr;
}

BOOL CeSafeCopyMemory(LPVOID dst, LPCVOID src, DWORD length) {
  if (FaultHits(CE_SIM_FAULT_SAFE_COPY)) return FALSE;
  if (length == 0) return TRUE;
  // On the phone a bad pointer raises an exception that this call catches; here the
  // ranges are probed first.
  if (!Accessible(src, length, false) || !Accessible(dst, length, true)) return FALSE;
  std::memmove(dst, src, length);
  return TRUE;
}

void CeSimInjectFault(CeSimFault fault, DWORD skip, DWORD count) {
  if (fault >= CE_SIM_FAULT_COUNT) return;
  std::lock_guard<std::mutex> lk(g_faultLock);
  g_faults[fault] = FaultPlan{skip, count};
}

void CeSimClearFaults(void) {
  std::lock_guard<std::mutex> lk(g_faultLock);
  g_faults.fill(FaultPlan{});
}

DWORD SetProcPermissions(DWORD permissions) { return g_permissions.exchange(permissions); }
DWORD GetCurrentPermissions(void) { return g_permissions.load(); }

BOOL IsBadReadPtr(LPCVOID ptr, UINT_PTR length) { return !Accessible(ptr, length, false); }
BOOL IsBadWritePtr(LPVOID ptr, UINT_PTR length) { return !Accessible(ptr, length, true); }

BOOL KernelIoControl(DWORD code, LPVOID in, DWORD inLen, LPVOID out, DWORD outLen, LPDWORD returned) {
  std::unique_lock<std::mutex> lk(g_ioLock);
  CeSimKernelIoCall call{code, {}, outLen};
  if (in != nullptr && inLen != 0) {
    const BYTE* b = static_cast<const BYTE*>(in);
    call.input.assign(b, b + inLen);
  }
  g_ioCalls.push_back(std::move(call));
  auto it = g_ioAnswers.find(code);
  if (it == g_ioAnswers.end()) {
    lk.unlock();
    if (returned) *returned = 0;
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  IoAnswer a = it->second;
  lk.unlock();
  DWORD n = 0;
  if (out != nullptr && outLen != 0 && !a.out.empty()) {
    n = static_cast<DWORD>(std::min<size_t>(outLen, a.out.size()));
    std::memcpy(out, a.out.data(), n);
  }
  if (returned) *returned = n;
  if (!a.result) SetLastError(a.error);
  return a.result;
}

void CeSimSetKernelIoControlAnswer(DWORD code, BOOL result, const void* out, DWORD outLen, DWORD error) {
  IoAnswer a{result, {}, error};
  if (out != nullptr && outLen != 0) {
    const BYTE* b = static_cast<const BYTE*>(out);
    a.out.assign(b, b + outLen);
  }
  std::lock_guard<std::mutex> lk(g_ioLock);
  g_ioAnswers[code] = std::move(a);
}

void CeSimClearKernelIoControl(void) {
  std::lock_guard<std::mutex> lk(g_ioLock);
  g_ioAnswers.clear();
  g_ioCalls.clear();
}

BOOL QueryPerformanceCounter(LARGE_INTEGER* count) {
  if (count == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - g_start).count();
  // 19.2 MHz: 12 counts every 625 ns.
  LONGLONG counts = static_cast<LONGLONG>(ns / 625) * 12 + (ns % 625) * 12 / 625;
  count->QuadPart = counts + g_perfOffset.load();
  return TRUE;
}

BOOL QueryPerformanceFrequency(LARGE_INTEGER* frequency) {
  if (frequency == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  frequency->QuadPart = CE_SIM_PERF_FREQUENCY;
  return TRUE;
}

DWORD GetTickCount(void) {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - g_start).count();
  return static_cast<DWORD>(ms) + g_tickOffset.load();
}

void CeSimSetPerformanceCounterOffset(LONGLONG counts) { g_perfOffset = counts; }
void CeSimSetTickCountOffset(DWORD milliseconds) { g_tickOffset = milliseconds; }

void NKDbgPrintfW(LPCWSTR format, ...) {
  if (format == nullptr) return;
  // Formatting costs more than most callers' own work: skip it when no one hears.
  if (!cesim::DebugHeard()) return;
  va_list ap;
  va_start(ap, format);
  std::u16string text = cesim::VFormat(format, ap);
  va_end(ap);
  std::string utf8 = cesim::Narrow(text);
  // Each call ends at least one line; "\r\n" and "\n" split lines.
  size_t start = 0;
  while (start <= utf8.size()) {
    size_t nl = utf8.find('\n', start);
    std::string_view line(utf8.data() + start, (nl == std::string::npos ? utf8.size() : nl) - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (nl == std::string::npos) {
      if (!line.empty() || start == 0) cesim::DebugLine(line);
      break;
    }
    cesim::DebugLine(line);
    start = nl + 1;
    if (start == utf8.size()) break;
  }
}

void OutputDebugStringW(LPCWSTR text) {
  if (text != nullptr) NKDbgPrintfW(u"%s", text);
}

BOOL RegisterDbgZones(HMODULE /*module*/, LPDBGPARAM dbgParam) { return dbgParam != nullptr; }

void CeSimDebugCaptureBegin(void) {
  std::lock_guard<std::mutex> lk(g_debugLock);
  g_capturing = true;
  g_captured.clear();
}

void CeSimDebugCaptureEnd(void) {
  std::lock_guard<std::mutex> lk(g_debugLock);
  g_capturing = false;
  g_captured.clear();
}

void CeSimDebugSetQuiet(BOOL quiet) {
  std::lock_guard<std::mutex> lk(g_debugLock);
  g_quiet = quiet ? 1 : 0;
}

}  // extern "C"

std::vector<CeSimKernelIoCall> CeSimKernelIoControlCalls() {
  std::lock_guard<std::mutex> lk(g_ioLock);
  return g_ioCalls;
}

std::vector<std::string> CeSimDebugCaptured() {
  std::lock_guard<std::mutex> lk(g_debugLock);
  return g_captured;
}

bool CeSimDebugCapturedContains(std::string_view text) {
  std::lock_guard<std::mutex> lk(g_debugLock);
  for (const auto& l : g_captured)
    if (l.find(text) != std::string::npos) return true;
  return false;
}

namespace cesim {

namespace {

// Called with g_debugLock held.
bool QuietLocked() {
  if (g_quiet < 0) {
    const char* q = std::getenv("CAMERA_DEBUG_QUIET");
    g_quiet = (q != nullptr && q[0] != '\0' && q[0] != '0') ? 1 : 0;
  }
  return g_quiet != 0;
}

}  // namespace

bool DebugHeard() {
  std::lock_guard<std::mutex> lk(g_debugLock);
  return !QuietLocked() || g_capturing;
}

void DebugLine(std::string_view utf8) {
  std::lock_guard<std::mutex> lk(g_debugLock);
  QuietLocked();
  if (!g_quiet) {
    std::fwrite(utf8.data(), 1, utf8.size(), stderr);
    std::fputc('\n', stderr);
  }
  if (g_capturing) g_captured.emplace_back(utf8);
}

}  // namespace cesim
