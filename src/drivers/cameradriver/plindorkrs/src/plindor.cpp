// Library start-up: the register windows and the shared status area.
#include "plindor_internal.h"

namespace plindor {

volatile uint8_t* gBoardWindow;
volatile uint8_t* gVfeWindow;
volatile uint8_t* gVfeInputWindow;
volatile uint8_t* gSharedArea;
volatile uint8_t* gFlashWindow;

uint32_t SharedRead(uint32_t offset) {
  if (!gSharedArea || offset + 4 > CAMERA_SHARED_STATUS_SIZE) return 0;
  return chip_reg_read32(gSharedArea + offset);
}

void SharedWrite(uint32_t offset, uint32_t value) {
  if (!gSharedArea || offset + 4 > CAMERA_SHARED_STATUS_SIZE) return;
  chip_reg_write32(gSharedArea + offset, value);
}

namespace {

volatile uint8_t* Map(uint32_t phys, uint32_t size) {
  return static_cast<volatile uint8_t*>(get_virtual_address(phys, size));
}

void Unmap(volatile uint8_t*& window) {
  if (window) free_virtual_address(window);
  window = nullptr;
}

// The library is linked by its users, so it attaches and detaches with the
// process rather than through a loader call.
__attribute__((constructor)) void ProcessAttach() {
  NKDbgPrintfW(u"Plindor DLL_PROCESS_ATTACH - Current Process=0x%x, ID=0x%x\r\n",
               unsigned(uintptr_t(GetCurrentProcess())), unsigned(GetCurrentProcessId()));
  gBoardWindow = Map(kBoardDescriptionPhys, kWindowSize);
  gVfeInputWindow = Map(kVfeInputPhys, kWindowSize);
  gVfeWindow = Map(kVfeRegistersPhys, kWindowSize);
  gSharedArea = Map(CAMERA_SHARED_STATUS_PHYS, CAMERA_SHARED_STATUS_SIZE);
}

__attribute__((destructor)) void ProcessDetach() {
  NKDbgPrintfW(u"Plindor DLL_PROCESS_DETACH - Current Process=0x%x, ID=0x%x\r\n",
               unsigned(uintptr_t(GetCurrentProcess())), unsigned(GetCurrentProcessId()));
  Unmap(gBoardWindow);
  Unmap(gVfeInputWindow);
  Unmap(gVfeWindow);
  Unmap(gSharedArea);
}

}  // namespace
}  // namespace plindor
