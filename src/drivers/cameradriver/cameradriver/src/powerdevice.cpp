// The power device CPM_: the power manager queries the camera's power states and
// moves it between D0 and D4. It acts on the camera only while a client has it
// open, under the camera device's lock so that it never runs beside a client's
// request.
#include <cstring>

#include "ccameradevice.h"
#include "csprotocol.h"
#include "devmgr.h"
#include "ostrel.h"

OSTREL_EXPORT DWORD_PTR CPM_Init(LPCWSTR activeKey, LPCVOID) {
  NKDbgPrintfW(u"CPM_Init: pContext %s\n", activeKey ? activeKey : u"<null>");
  return 1;
}

OSTREL_EXPORT BOOL CPM_Deinit(DWORD_PTR context) {
  NKDbgPrintfW(u"CPM_Deinit(): Deleting dwContext=0x%08x\r\n", context);
  return TRUE;
}

OSTREL_EXPORT DWORD_PTR CPM_Open(DWORD_PTR context, DWORD access, DWORD share) {
  NKDbgPrintfW(u"CPM_Open(%x, 0x%x, 0x%x)\r\n", context, access, share);
  return context;
}

OSTREL_EXPORT BOOL CPM_Close(DWORD_PTR context) {
  NKDbgPrintfW(u"CPM_Close(%x)\r\n", context);
  return TRUE;
}

namespace {

// The 32-bit state the request carries in its out buffer.
bool ReadState(const void* out, DWORD outLength, DWORD* state) {
  return out && outLength >= sizeof(DWORD) && CeSafeCopyMemory(state, out, sizeof *state);
}

}  // namespace

OSTREL_EXPORT BOOL CPM_IOControl(DWORD_PTR context, DWORD code, PBYTE inBytes, DWORD inLength, PBYTE outBytes, DWORD outLength,
                                 LPDWORD returned) {
  LPVOID in = inBytes;
  LPVOID out = outBytes;
  NKDbgPrintfW(u"CPM_IOControl(%08x): IOCTL:0x%x, InBuf:0x%x, InBufLen:%d, OutBuf:0x%x, OutBufLen:0x%x\r\n", context,
               code, in, inLength, out, outLength);
  if (in && !(in = MapCallerPtr(in, inLength))) {
    NKDbgPrintfW(u"CPM_IOControl(): MapCallerPtr() failed for incoming buffer.\r\n");
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (out && !(out = MapCallerPtr(out, outLength))) {
    NKDbgPrintfW(u"CPM_IOControl(): MapCallerPtr() failed for outgoing buffer.\r\n");
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (returned && !(returned = static_cast<LPDWORD>(MapCallerPtr(returned, sizeof(DWORD))))) {
    NKDbgPrintfW(u"CPM_IOControl(): MapCallerPtr() failed for dwBytesTransferred.\r\n");
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD result = ERROR_INVALID_PARAMETER;
  switch (code) {
    case IOCTL_POWER_CAPABILITIES: {
      NKDbgPrintfW(u"CPM_IOControl(): IOCTL_POWER_CAPABILITIES\r\n");
      CS_POWER_CAPABILITIES caps{};
      caps.DeviceDx = 0x11;  // D0 and D4
      if (out && outLength >= sizeof caps && returned && CeSafeCopyMemory(out, &caps, sizeof caps)) {
        *returned = sizeof caps;
        result = ERROR_SUCCESS;
      } else {
        NKDbgPrintfW(u"CPM_IOControl(): Error in power capabilities ioctl\r\n");
        result = CS_E_FAIL;
      }
      break;
    }
    case IOCTL_POWER_GET: {
      NKDbgPrintfW(u"CPM_IOControl(): IOCTL_POWER_GET\r\n");
      DWORD state = OstrelDevicePowerState();
      if (out && outLength >= sizeof state && CeSafeCopyMemory(out, &state, sizeof state)) {
        if (returned) *returned = sizeof state;
        result = ERROR_SUCCESS;
      }
      break;
    }
    case IOCTL_POWER_QUERY: {
      NKDbgPrintfW(u"CPM_IOControl(): IOCTL_POWER_QUERY\r\n");
      DWORD state = 0;
      if (ReadState(out, outLength, &state) && state <= CS_POWER_D4) result = ERROR_SUCCESS;
      break;
    }
    case IOCTL_POWER_SET: {
      CCameraDevice* device = OstrelOpenCameraDevice();
      if (!device) return TRUE;  // no client: nothing to power
      DWORD state = 0;
      result = CS_E_FAIL;
      if (!ReadState(out, outLength, &state) || state > CS_POWER_D4) break;
      if (state == CS_POWER_D0 || state == CS_POWER_D4) {
        const bool resume = state == CS_POWER_D0;
        NKDbgPrintfW(resume ? u"CPM_IOControl(): IOCTL_POWER_SET D0(resume)\r\n"
                            : u"CPM_IOControl(): IOCTL_POWER_SET D4(suspend)\r\n");
        device->LockForRequest();
        // Closed meanwhile: nothing to power, and the closed camera is at D0 again.
        if (device->IsPrepared()) {
          OstrelSetDevicePowerState(state);
          device->SetPowerState(state);
        }
        device->UnlockForRequest();
        result = ERROR_SUCCESS;
        NKDbgPrintfW(resume ? u"CPM_IOControl(): IOCTL_POWER_SET D0(resume) Done\r\n"
                            : u"CPM_IOControl(): IOCTL_POWER_SET D4(suspend) Done\r\n");
      } else {
        NKDbgPrintfW(u"CPM_IOControl(): Unsupported IOCTL_POWER_SET %u\r\n", state);
        result = ERROR_NOT_SUPPORTED;
      }
      break;
    }
    default:
      NKDbgPrintfW(u"CPM_IOControl(): Unsupported IOCTL code %u\r\n", code);
      result = ERROR_NOT_SUPPORTED;
  }
  SetLastError(result);
  return result == ERROR_SUCCESS;
}
