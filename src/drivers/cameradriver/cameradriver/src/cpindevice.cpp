// The pin handle. Streams (instantiation, formats, buffers, the capture thread) are
// not served yet: their requests answer ERROR_NOT_SUPPORTED after the entry point's
// own checks.
#include "cpindevice.h"

#include "ccameradevice.h"

CPinDevice::~CPinDevice() { Close(); }

BOOL CPinDevice::InitializeSubDevice(CCameraDevice* device) {
  if (!device) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  m_device = device;
  return TRUE;
}

void CPinDevice::Close() {
  if (m_device && m_pinId != CS_PIN_NONE) m_device->RemovePinInstance(m_pinId);
  m_pinId = CS_PIN_NONE;
}

DWORD CPinDevice::StreamInstantiate(const CSPROPERTY_STREAMEX_S&, void*, DWORD, DWORD*) {
  return ERROR_NOT_SUPPORTED;
}
DWORD CPinDevice::HandleConnectionRequest(const void*, DWORD, void*, DWORD, DWORD*) { return ERROR_NOT_SUPPORTED; }
DWORD CPinDevice::HandleExifRequest(const void*, DWORD, void*, DWORD, DWORD*) { return ERROR_NOT_SUPPORTED; }
DWORD CPinDevice::HandleJpegRequest(const void*, DWORD, void*, DWORD, DWORD*) { return ERROR_NOT_SUPPORTED; }
DWORD CPinDevice::HandleBufferRequest(uint32_t, void*, DWORD) { return ERROR_NOT_SUPPORTED; }
DWORD CPinDevice::SetRunState() { return ERROR_NOT_SUPPORTED; }
