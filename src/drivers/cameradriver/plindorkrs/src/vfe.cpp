// VFE clocks, input selection, register window and the interrupt thread.
#include <atomic>
#include <chrono>

#include "plindor_internal.h"

using namespace plindor;

namespace {

constexpr DWORD kVfeIrq = 70;
constexpr int kIstPriority = 80;
constexpr uint32_t kInputReset = 1u << 20;
constexpr uint32_t kKeepLow20 = 0xFFFFF;
constexpr uint32_t kSensorKeep = 0x107f7d;
constexpr uint32_t kSensorInput = 0x60002;
constexpr uint32_t kTestGenInput = 0x60080;
constexpr uint32_t kCamClockDefault = 19200000;

// The interrupt control block: zero while idle.
struct VfeControl {
  HANDLE thread;
  HANDLE hVfeDrvIstEvent;
  std::atomic<uint8_t> stop;
  vfe_ist_callback istCB;
};
#if INTPTR_MAX == INT32_MAX  // the phone's layout: a 64-bit build widens its pointers
static_assert(sizeof(VfeControl) == 16);
#endif

VfeControl vfe_control;

void Clear() {
  vfe_control.thread = nullptr;
  vfe_control.hVfeDrvIstEvent = nullptr;
  vfe_control.stop.store(0);
  vfe_control.istCB = nullptr;
}

void BusyWaitMicroseconds(uint32_t us) {
  auto end = std::chrono::steady_clock::now() + std::chrono::microseconds(us);
  while (std::chrono::steady_clock::now() < end) {
  }
}

// One read-modify-write of the input register with interrupts locked.
void InputUpdate(uint32_t keep, uint32_t set) {
  if (!gVfeInputWindow) return;
  int locked = chip_int_lock();
  uint32_t v = chip_reg_read32(gVfeInputWindow);
  chip_reg_write32(gVfeInputWindow, (v & keep) | set);
  if (locked == 0) chip_int_free();
  BusyWaitMicroseconds(10);
}

void PulseInputReset() {
  InputUpdate(kKeepLow20, kInputReset);
  InputUpdate(kKeepLow20, 0);
}

void SelectInput(uint32_t inputBits, uint32_t source) {
  PulseInputReset();
  InputUpdate(kSensorKeep, inputBits);
  clk_regime_sel_vfe_src(source);
  BusyWaitMicroseconds(10);
  PulseInputReset();
}

DWORD vfe_driver_ist(LPVOID) {
  for (;;) {
    if (WaitForSingleObject(vfe_control.hVfeDrvIstEvent, INFINITE) != WAIT_OBJECT_0) {
      NKDbgPrintfW(u"wait for hVfeDrvIstEvent failed, GetLastErr = %d.\n", int(GetLastError()));
      return 1;
    }
    if (vfe_control.stop.load()) {
      NKDbgPrintfW(u"VFE driver exiting the thread.\n");
      return 0;
    }
    if (vfe_control.istCB)
      vfe_control.istCB(0);
    else
      NKDbgPrintfW(u"vfe_control.istCB is NULL.\n");
    InterruptDone(kVfeIrq);
  }
}

}  // namespace

extern "C" PLINDOR_API int vfe_config_clks_common(uint32_t type) {
  clk_regime_krs_enable(24);
  clk_regime_krs_enable(41);
  clk_regime_sel_vfe_clk(type <= 3 ? type + 1 : 5);
  clk_regime_krs_enable(40);
  clk_regime_krs_enable(53);
  return 1;
}

extern "C" PLINDOR_API int vfe_unconfig_clks(void) {
  clk_regime_krs_disable(53);
  clk_regime_krs_disable(40);
  clk_regime_krs_disable(41);
  clk_regime_krs_disable(24);
  clk_regime_sel_vfe_src(0);
  clk_regime_krs_sel_camclk(kCamClockDefault, 0);
  return 1;
}

extern "C" PLINDOR_API int vfe_config_clks_sensor(void) {
  SelectInput(kSensorInput, 1);
  return 1;
}

extern "C" PLINDOR_API int vfe_config_clks_testgen(void) {
  SelectInput(kTestGenInput, 0);
  return 1;
}

extern "C" PLINDOR_API volatile void* vfe_get_virtual_address(void) { return gVfeWindow; }

extern "C" PLINDOR_API int vfe_init(vfe_ist_callback istCB, void*) {
  if (vfe_control.thread) {
    NKDbgPrintfW(u"VFE driver thread already exists.\n");
    return 1;
  }
  Clear();
  vfe_control.istCB = istCB;
  InterruptDisable(kVfeIrq);

  NKDbgPrintfW(u"VFE driver create event.\n");
  vfe_control.hVfeDrvIstEvent = CreateEventW(nullptr, FALSE, FALSE, u"vfe_driver_ist_event");
  if (!vfe_control.hVfeDrvIstEvent) {
    NKDbgPrintfW(u"VFE Driver Event Creation Failed!\n");
    Clear();
    return 1;
  }

  NKDbgPrintfW(u"VFE driver register interrupt to the system.\n");
  if (!InterruptInitialize(kVfeIrq, vfe_control.hVfeDrvIstEvent, nullptr, 0)) {
    NKDbgPrintfW(u"InterruptInitialize for VFE failed.\n");
    // Nothing is left behind for the next attempt.
    CloseHandle(vfe_control.hVfeDrvIstEvent);
    Clear();
    return 1;
  }
  NKDbgPrintfW(u"InterruptInitialize for VFE success.\n");

  NKDbgPrintfW(u"VFE driver creating IST.\n");
  HANDLE thread = CreateThread(nullptr, 0, vfe_driver_ist, nullptr, 0, nullptr);
  if (!thread) {
    NKDbgPrintfW(u"VFE Driver Thread Creation Failed!\n");
    InterruptDisable(kVfeIrq);
    CloseHandle(vfe_control.hVfeDrvIstEvent);
    Clear();
    return 1;
  }
  vfe_control.thread = thread;
  CeSetThreadPriority(thread, kIstPriority);
  return 0;
}

extern "C" PLINDOR_API int vfe_stop(void) {
  if (!vfe_control.thread) return 0;  // never started, or already stopped
  vfe_control.stop.store(1);
  SetEvent(vfe_control.hVfeDrvIstEvent);
  NKDbgPrintfW(u"VFE Driver to stop the winmobile thread!\n");
  if (WaitForSingleObject(vfe_control.thread, INFINITE) != WAIT_OBJECT_0)
    NKDbgPrintfW(u"wait for vfe driver ist to exit failed, GetLastErr = %d.\n", int(GetLastError()));
  InterruptDisable(kVfeIrq);
  if (!CloseHandle(vfe_control.hVfeDrvIstEvent)) NKDbgPrintfW(u"Close VFE driver IST failed!\n");
  if (!CloseHandle(vfe_control.thread)) NKDbgPrintfW(u"Close VFE driver thread failed!\n");
  Clear();
  NKDbgPrintfW(u"wait for vfe driver ist to exit.\n");
  return 0;
}
