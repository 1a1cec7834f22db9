// A small stream driver with two prefixes: TST activates a TSP device of the
// same library from its Init, as the camera driver activates its pins.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "devmgr.h"
#include "devmgr_test_driver.h"

namespace {

TestDriverState gState;
DWORD gTspContext = 0x7575;

struct OpenRecord {
  DWORD_PTR device;
};
// Open records still held by clients; Deinit frees those never closed (a
// deactivated device's handles no longer reach its Close).
std::vector<OpenRecord*> gOpen;

bool ReadDword(HKEY key, const WCHAR* name, DWORD* value) {
  DWORD type = 0, size = 4;
  return RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(value), &size) == ERROR_SUCCESS &&
         type == REG_DWORD;
}

BOOL Caller(PBYTE out, DWORD outLen, PDWORD returned) {
  if (!out || outLen < 4) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  DWORD caller = DWORD(reinterpret_cast<uintptr_t>(GetCallerProcess()));
  std::memcpy(out, &caller, 4);
  if (returned) *returned = 4;
  return TRUE;
}

}  // namespace

extern "C" {

TestDriverState* TestDriverGetState() { return &gState; }

BOOL DllMain(HANDLE, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) ++gState.attaches;
  if (reason == DLL_PROCESS_DETACH) ++gState.detaches;
  return TRUE;
}

DWORD_PTR TST_Init(LPCWSTR activeKey, LPCVOID) {
  ++gState.tstInits;
  lstrcpynW(gState.tstActiveKey, activeKey, 64);
  HKEY key = OpenDeviceKey(activeKey);
  if (!key) return 0;
  DWORD fail = 0;
  ReadDword(key, u"FailInit", &fail);
  ReadDword(key, u"Index", &gState.indexFromDeviceKey);
  WCHAR sub[128] = {};
  DWORD type = 0, size = sizeof sub;
  bool hasSub = RegQueryValueExW(key, u"SubDevice", nullptr, &type, reinterpret_cast<LPBYTE>(sub), &size) ==
                ERROR_SUCCESS;
  RegCloseKey(key);
  if (fail) {
    SetLastError(ERROR_GEN_FAILURE);
    return 0;
  }
  gState.tstContext = 0x5454;
  if (hasSub) {
    gState.subDevice = ActivateDeviceEx(sub, nullptr, 0, &gState.tstContext);
    gState.subDeviceError = gState.subDevice != INVALID_HANDLE_VALUE ? 0 : GetLastError();
  }
  return gState.tstContext;
}

BOOL TST_Deinit(DWORD_PTR) {
  ++gState.tstDeinits;
  for (OpenRecord* r : gOpen) delete r;
  gOpen.clear();
  if (gState.subDevice && gState.subDevice != INVALID_HANDLE_VALUE) DeactivateDevice(gState.subDevice);
  gState.subDevice = nullptr;
  return TRUE;
}

DWORD_PTR TST_Open(DWORD_PTR context, DWORD, DWORD) {
  ++gState.opens;
  gState.lastOpenCaller = GetCallerProcess();
  gOpen.push_back(new OpenRecord{context});
  return reinterpret_cast<DWORD_PTR>(gOpen.back());
}

BOOL TST_Close(DWORD_PTR open) {
  ++gState.closes;
  auto* record = reinterpret_cast<OpenRecord*>(uintptr_t(open));
  gOpen.erase(std::find(gOpen.begin(), gOpen.end(), record));
  delete record;
  return TRUE;
}

void TST_PreDeinit(DWORD_PTR) {
  ++gState.preDeinits;
  if (gState.release) SetEvent(gState.release);
}

BOOL TST_IOControl(DWORD_PTR, DWORD code, PBYTE, DWORD, PBYTE out, DWORD outLen, PDWORD returned) {
  if (code == TEST_IOCTL_CALLER) return Caller(out, outLen, returned);
  if (code == TEST_IOCTL_BLOCK) {
    SetEvent(gState.entered);
    WaitForSingleObject(gState.release, INFINITE);
    gState.deinitsSeenByBlockedCall = gState.tstDeinits;
    return TRUE;
  }
  if (code == IOCTL_POWER_SET && out && outLen >= 4) {
    std::memcpy(&gState.powerState, out, 4);
    return TRUE;
  }
  SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}

DWORD TST_Read(DWORD_PTR, LPVOID buffer, DWORD length) {
  std::memset(buffer, 'r', length);
  return length;
}

DWORD_PTR TSP_Init(LPCWSTR activeKey, LPCVOID busContext) {
  ++gState.tspInits;
  lstrcpynW(gState.tspActiveKey, activeKey, 64);
  gState.tspBusContext = busContext;
  return gTspContext;
}

BOOL TSP_Deinit(DWORD_PTR) {
  ++gState.tspDeinits;
  return TRUE;
}

DWORD_PTR TSP_Open(DWORD_PTR context, DWORD, DWORD) { return context; }

BOOL TSP_Close(DWORD_PTR) { return TRUE; }

BOOL TSP_IOControl(DWORD_PTR, DWORD code, PBYTE, DWORD, PBYTE out, DWORD outLen, PDWORD returned) {
  if (code == TEST_IOCTL_CALLER) return Caller(out, outLen, returned);
  SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}

}  // extern "C"
