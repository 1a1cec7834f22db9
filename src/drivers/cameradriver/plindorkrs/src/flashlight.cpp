// Flash LED and torch, the time base, the time-stamp mailbox, the status
// flags and the bridge to the chipset's diagnostic channel.
#include <mutex>

#include "plindor_internal.h"

using namespace plindor;

namespace {

constexpr DWORD kGpioHigh = 0x220C00;
constexpr DWORD kGpioLow = 0x220C04;
constexpr DWORD kGpioConfigure = 0x220C10;
constexpr uint32_t kGpioConfigWord = 0x9000;
constexpr uint32_t kTorchLine = 159;
constexpr uint32_t kFlashLine = 143;
constexpr uint32_t kTorchMaxLevel = 30;
constexpr int kTorchPriority = 100;
constexpr int kDefaultPriority = 251;
constexpr uint32_t kBursts[] = {20, 5, 19, 4};
constexpr uint32_t kBurstGapUs = 500;
constexpr uint32_t kPulseHalfUs = 2;
constexpr uint32_t kDiagSubsystem = 41;
constexpr uint32_t kDiagLevels = 0x1c;

// Per-process words.
HANDLE gGpio = INVALID_HANDLE_VALUE;
uint16_t gLastLevel = 0;
bool gLevelKnown = true;  // false after a refused line change
uint32_t gSnapshotStatus = 0;
uint32_t gAutoFlashRequired = 0;

std::mutex gTimeLock;
uint32_t gLastLow = 0;
uint32_t gWraps = 0;
bool gCounterIs64Bit = false;

std::mutex gStampLock;
CameraTimeStampInfo gStamp;
bool gStampFull = false;

bool GpioOpen() { return gGpio != INVALID_HANDLE_VALUE && gGpio != nullptr; }

bool Line(DWORD code, uint32_t line) {
  DWORD returned = 0;
  return DeviceIoControl(gGpio, code, &line, sizeof line, nullptr, 0, &returned, nullptr) != FALSE;
}

// False when the GPIO device refused a line change: the torch did not light.
bool TorchProgram() {
  bool ok = true;
  HANDLE self = GetCurrentThread();
  int saved = CeGetThreadPriority(self);
  CeSetThreadPriority(self, kTorchPriority);
  NKDbgPrintfW(u"+EableFlashLight_PreviewOn = %d\n", kTorchPriority);
  for (uint32_t pulses : kBursts) {
    for (uint32_t i = 0; i < pulses; ++i) {
      FlashWait(kPulseHalfUs);
      ok = Line(kGpioLow, kTorchLine) && ok;
      FlashWait(kPulseHalfUs);
      ok = Line(kGpioHigh, kTorchLine) && ok;
    }
    FlashWait(kBurstGapUs);
  }
  // The caller gets its own priority back.
  int restore = saved == THREAD_PRIORITY_ERROR_RETURN ? kDefaultPriority : saved;
  CeSetThreadPriority(self, restore);
  NKDbgPrintfW(u"-EableFlashLight_PreviewOn = %d\n", restore);
  return ok;
}

}  // namespace

namespace plindor {

void FlashWait(uint32_t microseconds) {
  uint32_t part = microseconds % 1000;
  uint32_t ms = microseconds / 1000;
  if (part) clk_pause(part);
  if (!ms) return;
  if (!gFlashWindow) {
    Sleep(ms);
    return;
  }
  volatile uint8_t* counter = gFlashWindow + kFlashCounterOffset;
  const uint32_t start = chip_reg_read32(counter);
  const uint32_t ticks = ms * kFlashCounterTicksPerMs;
  // A counter that does not run must not hang the caller: give up after
  // twice the time by the tick count.
  const DWORD deadline = GetTickCount() + 2 * ms + 10;
  while (chip_reg_read32(counter) - start < ticks) {
    if (int32_t(GetTickCount() - deadline) > 0) return;
  }
}

}  // namespace plindor

extern "C" PLINDOR_API int InitFlashLight(void) {
  if (!gFlashWindow) gFlashWindow = static_cast<volatile uint8_t*>(get_virtual_address(kFlashPhys, kWindowSize));
  if (!GpioOpen()) {
    HANDLE h = CreateFileW(u"CGIO1:", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE || h == nullptr) {
      NKDbgPrintfW(u"InitFlashLight: CGIO1: cannot be opened, error %d\r\n", int(GetLastError()));
      return 0;
    }
    gGpio = h;
  }
  for (uint32_t line : {kTorchLine, kFlashLine}) {
    uint32_t in[2] = {line, kGpioConfigWord};
    DWORD returned = 0;
    DeviceIoControl(gGpio, kGpioConfigure, in, sizeof in, nullptr, 0, &returned, nullptr);
  }
  return 1;
}

// A light that could not be lit answers 0, so that a still never counts on a
// flash that did not fire. Putting the light out always answers 1: a stop must
// not fail for it (the failure is logged, and the next change tries again).
extern "C" PLINDOR_API int PMICFlashLED_SetCurrent(uint32_t level) {
  uint16_t lvl = level > 0xFFFF ? 0xFFFF : uint16_t(level);
  if (gLevelKnown && lvl == gLastLevel) return 1;
  if (!GpioOpen()) {
    NKDbgPrintfW(u"PMICFlashLED_SetCurrent(%u): flash light not initialised\r\n", level);
    return lvl == 0 ? 1 : 0;
  }
  bool ok = true;
  if (lvl > kTorchMaxLevel) {
    ok = Line(kGpioHigh, kFlashLine);
  } else if (lvl > 0) {
    ok = TorchProgram();
  } else {
    ok = Line(kGpioLow, kFlashLine);
    ok = Line(kGpioLow, kTorchLine) && ok;
    FlashWait(kBurstGapUs);
  }
  if (!ok) {
    NKDbgPrintfW(u"PMICFlashLED_SetCurrent(%u): the GPIO device refused the light's line\r\n", level);
    // The line's level is not known: the next request drives it again.
    gLevelKnown = false;
    return lvl == 0 ? 1 : 0;
  }
  gLastLevel = lvl;
  gLevelKnown = true;
  return 1;
}

extern "C" PLINDOR_API int PMICFlashLED_SetMode(uint32_t) { return 1; }

extern "C" PLINDOR_API int CameraGetTime(uint64_t* time) {
  if (!time) return 0;
  LARGE_INTEGER count{}, frequency{};
  uint64_t ticks;
  {
    // Only a counter whose high word stays 0 needs the software wrap count; a
    // 64-bit counter already carries into its high word, and once one has
    // shown a high word its carries are never counted a second time. The
    // counter is read under the lock so that callers on other threads (the
    // VFE interrupt thread) cannot make a late, smaller reading look like a wrap.
    std::lock_guard<std::mutex> g(gTimeLock);
    if (!QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0 || !QueryPerformanceCounter(&count)) {
      *time = 0;
      return 0;
    }
    ticks = uint64_t(count.QuadPart);
    uint32_t low = uint32_t(ticks), high = uint32_t(ticks >> 32);
    if (high != 0) gCounterIs64Bit = true;
    if (!gCounterIs64Bit) {
      if (low < gLastLow) ++gWraps;
      gLastLow = low;
      ticks = (uint64_t(gWraps) << 32) | low;
    }
  }
  *time = uint64_t(double(ticks) / double(frequency.QuadPart) * 10000000.0);
  return 1;
}

extern "C" PLINDOR_API int VantorUpdateTimeStamp(const CameraTimeStampInfo* record) {
  void* mapped = MapCallerPtr(const_cast<CameraTimeStampInfo*>(record), sizeof(CameraTimeStampInfo));
  if (!mapped) {
    if (record) NKDbgPrintfW(u"VantorUpdateTimeStamp MapCallerPtr() failed for incoming buffer.\r\n");
    return 0;
  }
  CameraTimeStampInfo copy;
  if (!CeSafeCopyMemory(&copy, mapped, sizeof copy)) {
    NKDbgPrintfW(u"VantorUpdateTimeStamp CeSafeCopyMemory() failed for incoming buffer.\r\n");
    return 0;
  }
  copy.pb = MapPtrToProcess(copy.pb, GetCallerProcess());
  NKDbgPrintfW(u"VantorUpdateTimeStamp pb=0x%x, aW=%d, aH=%d, ImgH=%d, ImgW=%d, cx=%d, cy=%d, dwFormat=%d\r\n",
               unsigned(uintptr_t(copy.pb)), int(copy.aW), int(copy.aH), int(copy.ImgH), int(copy.ImgW),
               int(copy.cx), int(copy.cy), int(copy.dwFormat));
  std::lock_guard<std::mutex> g(gStampLock);
  gStamp = copy;
  gStampFull = true;
  return 1;
}

extern "C" PLINDOR_API int VantorGetTimeStamp(CameraTimeStampInfo* record) {
  CameraTimeStampInfo stamp;
  {
    std::lock_guard<std::mutex> g(gStampLock);
    if (!gStampFull) {
      NKDbgPrintfW(u"VantorGetTimeStamp NO TimeStamp!!!\r\n");
      return 0;
    }
    gStampFull = false;
    stamp = gStamp;
  }
  void* mapped = MapCallerPtr(record, sizeof(CameraTimeStampInfo));
  if (!mapped) {
    NKDbgPrintfW(u"VantorGetTimeStamp MapCallerPtr() failed for incoming buffer.\r\n");
    return 0;
  }
  if (!CeSafeCopyMemory(mapped, &stamp, sizeof stamp)) {
    NKDbgPrintfW(u"VantorGetTimeStamp CeSafeCopyMemory() failed for incoming buffer.\r\n");
    return 0;
  }
  return 1;
}

extern "C" PLINDOR_API uint32_t GetSnapshotStatus(void) { return gSnapshotStatus; }

extern "C" PLINDOR_API int SetSnapshotStatus(uint32_t value) {
  gSnapshotStatus = value;
  return 1;
}

extern "C" PLINDOR_API uint32_t GetAutoFlashRequired(void) { return gAutoFlashRequired; }

extern "C" PLINDOR_API uint32_t SetAutoFlashRequired(uint32_t value) {
  gAutoFlashRequired = value;
  return value;
}

extern "C" PLINDOR_API uint8_t VantorIsCameraLTKRunning(void) {
  uint32_t word = SharedRead(CAMERA_SHARED_LTK_OFFSET);
  NKDbgPrintfW(u"VantorIsCameraLTKRunning: %d\r\n", int(word));
  return uint8_t(word);
}

extern "C" PLINDOR_API uint8_t VantorIsCameraIOTest(void) {
  uint32_t word = SharedRead(CAMERA_SHARED_IOTEST_OFFSET);
  NKDbgPrintfW(u"VantorIsCameraIOTest: %d\r\n", int(word));
  return uint8_t(word);
}

extern "C" PLINDOR_API int VantorSetIsCamOpen(uint32_t flag) {
  uint32_t open = flag ? 1 : 0;
  SharedWrite(CAMERA_SHARED_CAMOPEN_OFFSET, open);
  NKDbgPrintfW(u"VantorSetIsCamOpen: bCamOpen=%d\r\n", int(open));
  return 1;
}

extern "C" PLINDOR_API void DiagMessageSend(const char* fileName, uint32_t line, uint32_t levelMask, const char* text,
                                            uint32_t argument) {
  if (!(levelMask & kDiagLevels)) return;
  const msg_desc_type desc{uint16_t(line), uint16_t(kDiagSubsystem), levelMask, text, fileName};
  msg_send_1(&desc, argument, levelMask, text);
}
