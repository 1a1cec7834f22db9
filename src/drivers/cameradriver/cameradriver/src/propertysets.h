// The camera device's property sets: routing by set GUID and the handlers of the
// standard sets (pin, version, video control, dropped frames). Each handler takes
// the device, the mapped input and output with their lengths and the caller's
// bytes-returned word, and answers a Win32 code.
#pragma once

#include "csprotocol.h"
#include "wince.h"

class CCameraDevice;

// Routes one IOCTL_CS_PROPERTY request (the input holds at least the 24-byte
// header); ERROR_NOT_SUPPORTED for a set the driver does not serve.
DWORD AdapterDispatchPropertyRequest(CCameraDevice* device, void* in, DWORD inLength, void* out, DWORD outLength,
                                     DWORD* returned);

// The shared opening of the table-driven handlers: true with the header copied when
// the handler goes on; false when the opening answered the request itself (bad
// parameters, or a set-support query, which every table set serves) with *answer.
bool AdapterOpenTableRequest(void* in, DWORD inLength, void* out, DWORD outLength, DWORD* returned,
                             CSPROPERTY* header, const WCHAR* invalidLine, const WCHAR* requestLine, DWORD* answer);

DWORD AdapterHandleVersion(CCameraDevice* device, void* out, DWORD outLength, DWORD* returned);
DWORD AdapterHandlePinRequests(CCameraDevice* device, void* in, DWORD inLength, void* out, DWORD outLength,
                               DWORD* returned);
DWORD AdapterHandleDroppedFramesRequests(CCameraDevice* device, void* in, DWORD inLength, void* out,
                                         DWORD outLength, DWORD* returned);
DWORD AdapterHandleVideoControlRequests(CCameraDevice* device, void* in, DWORD inLength, void* out,
                                        DWORD outLength, DWORD* returned);

// Camera control, advanced camera control, video proc amp, video compression and
// the maker's set (camerapropertysets.cpp).
DWORD AdapterHandleCameraControlRequests(CCameraDevice* device, void* in, DWORD inLength, void* out,
                                         DWORD outLength, DWORD* returned);
DWORD AdapterHandleCameraControlAdvRequests(CCameraDevice* device, void* in, DWORD inLength, void* out,
                                            DWORD outLength, DWORD* returned);
DWORD AdapterHandleVideoProcAmpRequests(CCameraDevice* device, void* in, DWORD inLength, void* out,
                                        DWORD outLength, DWORD* returned);
DWORD AdapterHandleVideoCompressionRequests(CCameraDevice* device, void* in, DWORD inLength, void* out,
                                            DWORD outLength, DWORD* returned);
DWORD AdapterHandleVantorPropertyRequests(CCameraDevice* device, void* in, DWORD inLength, void* out,
                                          DWORD outLength, DWORD* returned);
// The proc-amp re-mapping of brightness, contrast and saturation around their defaults.
int32_t RemapVideoProcAmpValue(const CCameraDevice* device, uint32_t row, int32_t value, int32_t minimum,
                               int32_t maximum);
