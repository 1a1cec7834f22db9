// Caller-buffer access, kernel I/O controls, time and debug output.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>

#include "image_copy.h"
#include "wince.h"
#include "wince_sim.h"

namespace {

class CallerAccess : public ::testing::Test {
 protected:
  void TearDown() override {
    CeSimClearFaults();
    CeSimSetCallerTrust(OEM_CERTIFY_TRUST);
    CeSimSetCallerProcess(CeSimDefaultCallerProcess());
  }
};

TEST_F(CallerAccess, MappingIsTheIdentityUntilMadeToFail) {
  int x = 5;
  EXPECT_EQ(MapCallerPtr(&x, sizeof x), &x);
  EXPECT_EQ(MapPtrToProcess(&x, GetCurrentProcess()), &x);
  CeSimInjectFault(CE_SIM_FAULT_MAP_CALLER_PTR, 1, 1);   // the second call fails once
  EXPECT_EQ(MapCallerPtr(&x, 4), &x);
  SetLastError(0);
  EXPECT_EQ(MapCallerPtr(&x, 4), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(MapCallerPtr(&x, 4), &x);
  CeSimInjectFault(CE_SIM_FAULT_MAP_PTR_TO_PROCESS, 0, 0xFFFFFFFFu);
  EXPECT_EQ(MapPtrToProcess(&x, GetCurrentProcess()), nullptr);
  EXPECT_EQ(MapPtrToProcess(&x, GetCurrentProcess()), nullptr);
  CeSimClearFaults();
  EXPECT_EQ(MapPtrToProcess(&x, GetCurrentProcess()), &x);
}

TEST_F(CallerAccess, SafeCopyCopiesAndFailsWithoutCrashing) {
  char src[4] = {1, 2, 3, 4}, dst[4] = {};
  EXPECT_TRUE(CeSafeCopyMemory(dst, src, 4));
  EXPECT_EQ(std::memcmp(dst, src, 4), 0);
  EXPECT_FALSE(CeSafeCopyMemory(nullptr, src, 4));
  EXPECT_FALSE(CeSafeCopyMemory(dst, nullptr, 4));
  CeSimInjectFault(CE_SIM_FAULT_SAFE_COPY, 0, 1);
  char other[4] = {9, 9, 9, 9};
  EXPECT_FALSE(CeSafeCopyMemory(dst, other, 4));
  EXPECT_EQ(dst[0], 1);   // nothing copied
  EXPECT_TRUE(IsBadReadPtr(nullptr, 4));
  EXPECT_FALSE(IsBadReadPtr(src, 4));
}

// A readable page followed by one that faults on any access, and a read-only page.
class BadMemory : public ::testing::Test {
 protected:
  void SetUp() override {
    page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    void* m = ::mmap(nullptr, 3 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(m, MAP_FAILED);
    base = static_cast<char*>(m);
    std::memset(base, 7, 3 * page);
    ASSERT_EQ(::mprotect(base + page, page, PROT_NONE), 0);
    ASSERT_EQ(::mprotect(base + 2 * page, page, PROT_READ), 0);
  }
  void TearDown() override {
    if (base) ::munmap(base, 3 * page);
  }
  size_t page = 0;
  char* base = nullptr;
  char* Good() { return base; }
  char* Fault() { return base + page; }
  char* ReadOnly() { return base + 2 * page; }
};

TEST_F(BadMemory, PointerChecksProbeTheWholeRange) {
  EXPECT_FALSE(IsBadReadPtr(Good(), page));
  EXPECT_FALSE(IsBadWritePtr(Good(), page));
  EXPECT_TRUE(IsBadReadPtr(Fault(), 4));
  EXPECT_TRUE(IsBadReadPtr(Good() + page - 2, 4));   // runs into the faulting page
  EXPECT_FALSE(IsBadReadPtr(ReadOnly(), page));
  EXPECT_TRUE(IsBadWritePtr(ReadOnly(), 4));
  EXPECT_EQ(ReadOnly()[0], 7);
  EXPECT_TRUE(IsBadReadPtr(reinterpret_cast<void*>(~uintptr_t{0} - 2), 8));   // wraps around
  EXPECT_FALSE(IsBadReadPtr(Fault(), 0));
}

TEST_F(BadMemory, SafeCopyRefusesBadRangesWithoutFaulting) {
  char buf[8] = {1, 1, 1, 1, 1, 1, 1, 1};
  EXPECT_FALSE(CeSafeCopyMemory(buf, Fault(), 4));
  EXPECT_FALSE(CeSafeCopyMemory(buf, Good() + page - 4, 8));
  EXPECT_EQ(buf[0], 1);   // nothing copied
  EXPECT_FALSE(CeSafeCopyMemory(Fault(), buf, 4));
  EXPECT_FALSE(CeSafeCopyMemory(ReadOnly(), buf, 4));
  EXPECT_EQ(ReadOnly()[0], 7);
  // A target that runs into a bad page is refused before its good part is written.
  EXPECT_FALSE(CeSafeCopyMemory(Good() + page - 4, buf, 8));
  EXPECT_EQ(Good()[page - 4], 7);
  EXPECT_TRUE(CeSafeCopyMemory(buf, ReadOnly(), 8));
  EXPECT_EQ(buf[7], 7);
}

// MapCallerPtr refuses what the caller could not read, as the phone's does.
TEST_F(BadMemory, MappingRefusesARangeTheCallerCannotRead) {
  struct Case {
    const char* name;
    char* p;
    DWORD length;
    bool mapped;
  };
  const DWORD p = DWORD(page);
  const Case cases[] = {
      {"a whole readable page", Good(), p, true},
      {"read-only memory", ReadOnly(), p, true},
      {"16 readable bytes, then the faulting page", Good() + page - 16, 1000000, false},
      {"the faulting page", Fault(), 1, false},
      {"null", nullptr, 4, false},
      {"wraps around", reinterpret_cast<char*>(~uintptr_t{0} - 2), 8, false},
      {"no length maps anything", Fault(), 0, true},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    void* m = MapCallerPtr(c.p, c.length);
    EXPECT_EQ(m != nullptr || (c.p == nullptr && c.mapped), c.mapped) << c.name;
    if (!c.mapped) {
      EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER)) << c.name;
    }
  }
}

// Memory taken away after it was handed over is refused, on any thread, and a fault in
// a guarded copy leaves the next copy working.
TEST_F(BadMemory, SafeCopyRefusesUnmappedMemoryOnAnyThread) {
  // Taken away but kept reserved: a page given back could be mapped again by anyone.
  void* m = ::mmap(nullptr, page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(m, MAP_FAILED);
  ASSERT_EQ(::mprotect(m, page, PROT_NONE), 0);
  static char* gone;
  gone = static_cast<char*>(m);
  HANDLE th = CreateThread(
      nullptr, 0,
      [](LPVOID) -> DWORD {
        char buf[64] = {};
        DWORD bad = 0;
        for (int i = 0; i < 100; ++i) {
          if (CeSafeCopyMemory(gone, buf, sizeof buf)) ++bad;
          if (CeSafeCopyMemory(buf, gone + 8, sizeof buf)) ++bad;
          if (!CeSafeCopyMemory(buf, buf + 32, 16)) ++bad;
        }
        return bad;
      },
      nullptr, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(th, INFINITE), WAIT_OBJECT_0);
  DWORD code = 1;
  GetExitCodeThread(th, &code);
  EXPECT_EQ(code, 0u);
  CloseHandle(th);
  EXPECT_EQ(MapCallerPtr(gone, 4), nullptr);
  ::munmap(m, page);
}

// Overlapping ranges copy as memmove does, both ways.
TEST_F(CallerAccess, SafeCopyOverlapsLikeMemmove) {
  char b[16];
  for (int i = 0; i < 16; ++i) b[i] = char(i);
  EXPECT_TRUE(CeSafeCopyMemory(b + 2, b, 8));
  EXPECT_EQ(b[2], 0);
  EXPECT_EQ(b[9], 7);
  EXPECT_TRUE(CeSafeCopyMemory(b, b + 2, 8));
  EXPECT_EQ(b[0], 0);
  EXPECT_EQ(b[7], 7);
}

// A fault outside a guarded call still ends the process: the guard hides nothing.
TEST(FaultGuardDeathTest, AFaultOutsideAGuardedCallStillCrashes) {
  char buf[4] = {};
  ASSERT_TRUE(CeSafeCopyMemory(buf, buf + 1, 2));  // the guard's handler is in place
  EXPECT_DEATH(
      {
        volatile char* p = nullptr;
        *p = 1;
      },
      "");
}

TEST_F(CallerAccess, TrustAndProcessArePerThread) {
  EXPECT_EQ(CeGetCallerTrust(), static_cast<DWORD>(OEM_CERTIFY_TRUST));
  EXPECT_EQ(GetCallerProcess(), CeSimDefaultCallerProcess());
  HANDLE client = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x2222));
  CeSimSetCallerProcess(client);
  CeSimSetCallerTrust(OEM_CERTIFY_RUN);
  EXPECT_EQ(GetCallerProcess(), client);
  EXPECT_EQ(CeGetCallerTrust(), static_cast<DWORD>(OEM_CERTIFY_RUN));
  HANDLE th = CreateThread(
      nullptr, 0,
      [](LPVOID) -> DWORD {
        return GetCallerProcess() == CeSimDefaultCallerProcess() && CeGetCallerTrust() == OEM_CERTIFY_TRUST ? 0 : 1;
      },
      nullptr, 0, nullptr);
  ASSERT_EQ(WaitForSingleObject(th, 10000), WAIT_OBJECT_0);
  DWORD code = 1;
  GetExitCodeThread(th, &code);
  EXPECT_EQ(code, 0u);
  CloseHandle(th);
}

// A long run keeps only the latest calls, in order: the record neither grows
// without bound nor loses its newest entries.
TEST(KernelIoControl, TheRecordKeepsTheLatestCallsInOrder) {
  CeSimClearKernelIoControl();
  const DWORD extra = 5;
  for (DWORD i = 0; i < kCeSimKernelIoLogCapacity + extra; ++i) KernelIoControl(i, nullptr, 0, nullptr, 0, nullptr);
  auto calls = CeSimKernelIoControlCalls();
  ASSERT_EQ(calls.size(), kCeSimKernelIoLogCapacity);
  EXPECT_EQ(calls.front().code, extra);
  EXPECT_EQ(calls.back().code, kCeSimKernelIoLogCapacity + extra - 1);
  for (size_t i = 1; i < calls.size(); ++i) ASSERT_EQ(calls[i].code, calls[i - 1].code + 1) << i;
  CeSimClearKernelIoControl();
  EXPECT_TRUE(CeSimKernelIoControlCalls().empty());
  KernelIoControl(7, nullptr, 0, nullptr, 0, nullptr);
  ASSERT_EQ(CeSimKernelIoControlCalls().size(), 1u);
  EXPECT_EQ(CeSimKernelIoControlCalls()[0].code, 7u);
  CeSimClearKernelIoControl();
}

TEST(KernelIoControl, CallsAreRecordedAndAnswered) {
  CeSimClearKernelIoControl();
  DWORD cookie = 0x1234ABCD;
  CeSimSetKernelIoControlAnswer(0x01012EFC, TRUE, &cookie, 4, 0);
  struct Registration {
    const char* name;
    BYTE one;
    BYTE pad[3];
  } in = {"CameraDriver", 1, {}};
  DWORD out = 0, ret = 0;
  EXPECT_TRUE(KernelIoControl(0x01012EFC, &in, sizeof in, &out, 4, &ret));
  EXPECT_EQ(out, cookie);
  EXPECT_EQ(ret, 4u);
  SetLastError(0);
  EXPECT_FALSE(KernelIoControl(0x01012EF8, &cookie, 4, nullptr, 0, &ret));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  CeSimSetKernelIoControlAnswer(0x0101003C, FALSE, nullptr, 0, ERROR_ACCESS_DENIED);
  EXPECT_FALSE(KernelIoControl(0x0101003C, nullptr, 0, nullptr, 0, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  auto calls = CeSimKernelIoControlCalls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].code, 0x01012EFCu);
  ASSERT_EQ(calls[0].input.size(), sizeof in);
  EXPECT_EQ(calls[0].input[offsetof(Registration, one)], 1);
  EXPECT_EQ(calls[1].code, 0x01012EF8u);
  EXPECT_EQ(calls[1].outLen, 0u);
  CeSimClearKernelIoControl();
  EXPECT_TRUE(CeSimKernelIoControlCalls().empty());
}

TEST(Time, PerformanceCounterIs64BitAndCanBePutNearAWrap) {
  LARGE_INTEGER f{}, a{}, b{};
  ASSERT_TRUE(QueryPerformanceFrequency(&f));
  EXPECT_EQ(f.QuadPart, CE_SIM_PERF_FREQUENCY);
  // Put the counter 20 ms before its low word wraps, then watch it go over.
  CeSimSetPerformanceCounterOffset(0);
  ASSERT_TRUE(QueryPerformanceCounter(&a));
  const LONGLONG wrap = 0x100000000LL;
  CeSimSetPerformanceCounterOffset(wrap - CE_SIM_PERF_FREQUENCY / 50 - a.QuadPart);
  ASSERT_TRUE(QueryPerformanceCounter(&a));
  do {
    Sleep(1);
    ASSERT_TRUE(QueryPerformanceCounter(&b));
    ASSERT_GE(b.QuadPart, a.QuadPart);
  } while (b.QuadPart < wrap);
  EXPECT_EQ(b.u.HighPart, 1);
  EXPECT_LT(b.u.LowPart, static_cast<DWORD>(CE_SIM_PERF_FREQUENCY));
  CeSimSetPerformanceCounterOffset(0);
  EXPECT_FALSE(QueryPerformanceCounter(nullptr));
  DWORD t0 = GetTickCount();
  CeSimSetTickCountOffset(0xFFFFFFF0u);
  EXPECT_GE(GetTickCount() - t0, 0xFFFFFFF0u);   // unsigned: wraps as on the phone
  CeSimSetTickCountOffset(0);
}

TEST(DebugOutput, LinesAreCapturedWithZones) {
  DBGPARAM dpCurSettings = {u"test", {u"Init", u"Error"}, 0x0002};
  camera::test::DebugCapture capture;
  RETAILMSG(1, (u"CAM_Init(): pContext=0x%08x\r\n", 0x1234u));
  DEBUGMSG(DEBUGZONE(0), (u"zone 0 is off\r\n"));
  DEBUGMSG(DEBUGZONE(1), (u"two\nlines\r\n"));
  NKDbgPrintfW(u"no line end");
  auto lines = CeSimDebugCaptured();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "CAM_Init(): pContext=0x00001234");
  EXPECT_EQ(lines[1], "two");
  EXPECT_EQ(lines[2], "lines");
  EXPECT_EQ(lines[3], "no line end");
  EXPECT_TRUE(CeSimDebugCapturedContains("pContext"));
  EXPECT_FALSE(CeSimDebugCapturedContains("zone 0"));
}

}  // namespace
