// The camera device's property sets: routing by set GUID and the handlers of the
// standard sets (pin, version, video control, dropped frames). Each handler takes
// the device, the mapped input and output with their lengths and the caller's
// bytes-returned word, and answers a Win32 code.
#pragma once

#include "wince.h"

class CCameraDevice;

// Routes one IOCTL_CS_PROPERTY request (the input holds at least the 24-byte
// header); ERROR_NOT_SUPPORTED for a set the driver does not serve.
DWORD AdapterDispatchPropertyRequest(CCameraDevice* device, void* in, DWORD inLength, void* out, DWORD outLength,
                                     DWORD* returned);

DWORD AdapterHandleVersion(CCameraDevice* device, void* out, DWORD outLength, DWORD* returned);
DWORD AdapterHandlePinRequests(CCameraDevice* device, void* in, DWORD inLength, void* out, DWORD outLength,
                               DWORD* returned);
DWORD AdapterHandleDroppedFramesRequests(CCameraDevice* device, void* in, DWORD inLength, void* out,
                                         DWORD outLength, DWORD* returned);
DWORD AdapterHandleVideoControlRequests(CCameraDevice* device, void* in, DWORD inLength, void* out,
                                        DWORD outLength, DWORD* returned);
