// CPinDevice: one open handle on the pin device ("PIN1:"). A pin carries one stream
// of the camera (capture, still or preview) once the client instantiates it; until
// then its identifier is CS_PIN_NONE. Its stream requests run under the camera
// device's lock (a pin has no lock of its own).
#pragma once

#include <stdint.h>

#include "csprotocol.h"
#include "wince.h"

class CCameraDevice;

class CPinDevice {
 public:
  CPinDevice() = default;
  ~CPinDevice();
  CPinDevice(const CPinDevice&) = delete;
  CPinDevice& operator=(const CPinDevice&) = delete;

  BOOL InitializeSubDevice(CCameraDevice* device);
  CCameraDevice* Device() const { return m_device; }
  uint32_t PinId() const { return m_pinId; }
  // Releases the pin's slot in the device when it holds one.
  void Close();

  // Stream requests (connection, EXIF, JPEG, instantiation, buffers): Win32 codes.
  DWORD StreamInstantiate(const CSPROPERTY_STREAMEX_S& request, void* out, DWORD outLength, DWORD* returned);
  DWORD HandleConnectionRequest(const void* in, DWORD inLength, void* out, DWORD outLength, DWORD* returned);
  DWORD HandleExifRequest(const void* in, DWORD inLength, void* out, DWORD outLength, DWORD* returned);
  DWORD HandleJpegRequest(const void* in, DWORD inLength, void* out, DWORD outLength, DWORD* returned);
  DWORD HandleBufferRequest(uint32_t command, void* out, DWORD outLength);
  // Video control's trigger: the pin to RUN; whether the still pin awaits a still.
  DWORD SetRunState();
  bool IsStillTriggerAllowed() const { return m_stillTriggerAllowed; }

  // Dropped-frame counters of a capture stream.
  int64_t PictureNumber() const { return m_pictureNumber; }
  int64_t DropCount() const { return m_dropCount; }
  uint32_t AverageFrameSize() const { return m_averageFrameSize; }

 private:
  CCameraDevice* m_device = nullptr;
  uint32_t m_pinId = CS_PIN_NONE;
  bool m_stillTriggerAllowed = false;
  int64_t m_pictureNumber = 0;
  int64_t m_dropCount = 0;
  uint32_t m_averageFrameSize = 0;
};
