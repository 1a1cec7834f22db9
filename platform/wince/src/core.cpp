// Errors, processes and callers, kernel I/O controls, time and debug output.
#include <setjmp.h>
#include <signal.h>
#include <sys/syscall.h>
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
#include <mutex>
#include <vector>

#include "internal.h"
#include "sim_ring.h"

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
// Whether any plan is set: the calls that may fail (a safe copy per row of a frame)
// take no lock while none is.
std::atomic<bool> g_faultsPlanned{false};

// True when this call of kind `f` is to fail.
bool FaultHits(CeSimFault f) {
  if (!g_faultsPlanned.load(std::memory_order_acquire)) return false;
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

// Guarded access to memory that may go bad under us (a caller's buffer unmapped or
// freed by another thread): the phone catches the access fault in the kernel; here a
// SIGSEGV/SIGBUS handler jumps back to the guarded call of the thread that faulted.
// A fault outside a guarded call goes on to the handler that was there before.
#if defined(__SANITIZE_ADDRESS__)
#define CESIM_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CESIM_ASAN 1
#endif
#endif

#if defined(CESIM_ASAN)
extern "C" void* __asan_region_is_poisoned(void* begin, size_t size);
#define CESIM_NO_ASAN __attribute__((no_sanitize("address")))
#else
#define CESIM_NO_ASAN
#endif

struct FaultGuard {
  sigjmp_buf resume;
  volatile sig_atomic_t armed = 0;
};
thread_local FaultGuard t_guard;
struct sigaction g_previousSegv {};
struct sigaction g_previousBus {};
std::once_flag g_handlersOnce;

void GuardHandler(int signal, siginfo_t* info, void* context) {
  FaultGuard& guard = t_guard;
  if (guard.armed) {
    guard.armed = 0;
    siglongjmp(guard.resume, 1);
  }
  const struct sigaction& previous = signal == SIGBUS ? g_previousBus : g_previousSegv;
  if (previous.sa_flags & SA_SIGINFO) {
    if (previous.sa_sigaction) previous.sa_sigaction(signal, info, context);
    return;
  }
  if (previous.sa_handler == SIG_IGN) return;
  if (previous.sa_handler == SIG_DFL) {
    // Back to the default: returning re-runs the access, which then ends the process.
    ::sigaction(signal, &previous, nullptr);
    return;
  }
  previous.sa_handler(signal);
}

void InstallGuardHandlers() {
  std::call_once(g_handlersOnce, [] {
    struct sigaction action {};
    action.sa_sigaction = GuardHandler;
    // Not deferred: the handler leaves by a jump that does not restore the mask.
    action.sa_flags = SA_SIGINFO | SA_NODEFER | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGSEGV, &action, &g_previousSegv);
    ::sigaction(SIGBUS, &action, &g_previousBus);
  });
}

// Under the address sanitizer freed or red-zone memory is as bad as unmapped memory.
bool Poisoned(const void* p, size_t length) {
#if defined(CESIM_ASAN)
  return __asan_region_is_poisoned(const_cast<void*>(p), length) != nullptr;
#else
  (void)p;
  (void)length;
  return false;
#endif
}

bool RangeWraps(const void* p, size_t length) {
  const uintptr_t first = reinterpret_cast<uintptr_t>(p);
  return first == 0 || first + (length - 1) < first;
}

CESIM_NO_ASAN void CopyBytes(void* dst, const void* src, size_t length) {
#if defined(CESIM_ASAN)
  // The sanitizer's own memmove would report what the guard is there to refuse.
  auto* d = static_cast<volatile uint8_t*>(dst);
  auto* s = static_cast<const volatile uint8_t*>(src);
  if (d + length <= s || s + length <= d) {
    // Apart: a word at a time (volatile, so that no call to the sanitizer's memcpy
    // takes its place), then the tail.
    size_t i = 0;
    for (; i < length && (reinterpret_cast<uintptr_t>(d + i) & 7) != 0; ++i) d[i] = s[i];
    if ((reinterpret_cast<uintptr_t>(s + i) & 7) == 0) {
      for (; i + 8 <= length; i += 8)
        *reinterpret_cast<volatile uint64_t*>(d + i) = *reinterpret_cast<const volatile uint64_t*>(s + i);
    }
    for (; i < length; ++i) d[i] = s[i];
  } else if (d < s) {
    for (size_t i = 0; i < length; ++i) d[i] = s[i];
  } else {
    for (size_t i = length; i-- > 0;) d[i] = s[i];
  }
#else
  std::memmove(dst, src, length);
#endif
}

// Touches one byte of each page of [p, p + length): read, and with `write` written
// back as it was (callers probe memory they are about to fill).
CESIM_NO_ASAN void TouchPages(const void* p, size_t length, bool write) {
  static const uintptr_t page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
  const uintptr_t last = reinterpret_cast<uintptr_t>(p) + (length - 1);
  for (uintptr_t a = reinterpret_cast<uintptr_t>(p);;) {
    auto* byte = reinterpret_cast<volatile uint8_t*>(a);
    const uint8_t value = *byte;
    if (write) *byte = value;
    const uintptr_t next = (a & ~(page - 1)) + page;
    if (next == 0 || next > last) break;
    a = next;
  }
}

// Whether [p, p + length) can be read (and, with `write`, written) without a fault.
bool Accessible(const void* p, size_t length, bool write) {
  if (length == 0) return true;
  if (RangeWraps(p, length) || Poisoned(p, length)) return false;
  InstallGuardHandlers();
  FaultGuard& guard = t_guard;
  if (guard.armed) return false;  // never nested: a signal handler's own probe
  if (sigsetjmp(guard.resume, 0) != 0) return false;
  guard.armed = 1;
  TouchPages(p, length, write);
  guard.armed = 0;
  return true;
}

// Whether [p, p + length) spans more than one page: the copy's first access to a
// range within one page faults before anything is written, a longer range is
// touched first.
bool SpansPages(const void* p, size_t length) {
  static const uintptr_t page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
  const uintptr_t first = reinterpret_cast<uintptr_t>(p);
  return (first & ~(page - 1)) != ((first + (length - 1)) & ~(page - 1));
}

// Copies under the guard; false when either range faults. Both ranges are touched
// first, so a range bad from the start leaves the target as it was; only one that
// goes bad during the copy leaves it written in part.
bool GuardedCopy(void* dst, const void* src, size_t length) {
  if (RangeWraps(src, length) || RangeWraps(dst, length) || Poisoned(src, length) || Poisoned(dst, length))
    return false;
  InstallGuardHandlers();
  FaultGuard& guard = t_guard;
  if (guard.armed) return false;
  if (sigsetjmp(guard.resume, 0) != 0) return false;
  guard.armed = 1;
  if (SpansPages(src, length)) TouchPages(src, length, false);
  if (SpansPages(dst, length)) TouchPages(dst, length, true);
  CopyBytes(dst, src, length);
  guard.armed = 0;
  return true;
}

struct IoAnswer {
  BOOL result;
  std::vector<BYTE> out;
  DWORD error;
};
std::mutex g_ioLock;
std::map<DWORD, IoAnswer> g_ioAnswers;
SimRing<CeSimKernelIoCall> g_ioCalls{kCeSimKernelIoLogCapacity};

using Clock = std::chrono::steady_clock;
const Clock::time_point g_start = Clock::now();
std::atomic<LONGLONG> g_perfOffset{0};
std::atomic<DWORD> g_tickOffset{0};

std::mutex g_debugLock;
bool g_capturing = false;
std::vector<std::string> g_captured;
std::vector<int64_t> g_capturedAt;  // steady-clock nanoseconds of each captured line
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

LPVOID MapCallerPtr(LPVOID ptr, DWORD length) {
  // As on the phone: a range the caller cannot read is refused, not mapped.
  if (FaultHits(CE_SIM_FAULT_MAP_CALLER_PTR) || (length != 0 && !Accessible(ptr, length, false))) {
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
  return GuardedCopy(dst, src, length) ? TRUE : FALSE;
}

void CeSimInjectFault(CeSimFault fault, DWORD skip, DWORD count) {
  if (fault >= CE_SIM_FAULT_COUNT) return;
  std::lock_guard<std::mutex> lk(g_faultLock);
  g_faults[fault] = FaultPlan{skip, count};
  if (count != 0) g_faultsPlanned.store(true, std::memory_order_release);
}

void CeSimClearFaults(void) {
  std::lock_guard<std::mutex> lk(g_faultLock);
  g_faults.fill(FaultPlan{});
  g_faultsPlanned.store(false, std::memory_order_release);
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
  g_ioCalls.Push(std::move(call));
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
  g_ioCalls.Clear();
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
  g_capturedAt.clear();
}

void CeSimDebugCaptureEnd(void) {
  std::lock_guard<std::mutex> lk(g_debugLock);
  g_capturing = false;
  g_captured.clear();
  g_capturedAt.clear();
}

void CeSimDebugSetQuiet(BOOL quiet) {
  std::lock_guard<std::mutex> lk(g_debugLock);
  g_quiet = quiet ? 1 : 0;
}

}  // extern "C"

std::vector<CeSimKernelIoCall> CeSimKernelIoControlCalls() {
  std::lock_guard<std::mutex> lk(g_ioLock);
  return g_ioCalls.Snapshot();
}

std::vector<std::string> CeSimDebugCaptured() {
  std::lock_guard<std::mutex> lk(g_debugLock);
  return g_captured;
}

std::vector<std::pair<int64_t, std::string>> CeSimDebugCapturedTimed() {
  std::lock_guard<std::mutex> lk(g_debugLock);
  std::vector<std::pair<int64_t, std::string>> out;
  for (size_t i = 0; i < g_captured.size() && i < g_capturedAt.size(); ++i) out.emplace_back(g_capturedAt[i], g_captured[i]);
  return out;
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
  if (g_capturing) {
    g_captured.emplace_back(utf8);
    g_capturedAt.push_back(std::chrono::duration_cast<std::chrono::nanoseconds>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count());
  }
}

}  // namespace cesim
