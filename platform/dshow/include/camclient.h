// The capture client: what a capture application does to use the camera, over the
// device names ("CAM1:", "PIN1:"), DeviceIoControl and message queues. Every call
// answers the Win32 code the driver gave (0 for success), so tests and tools see
// exactly what an application would.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "csprotocol.h"
#include "wince.h"

namespace camclient {

// One handle on a stream-interface device.
class DeviceHandle {
 public:
  DeviceHandle() = default;
  ~DeviceHandle() { Close(); }
  DeviceHandle(const DeviceHandle&) = delete;
  DeviceHandle& operator=(const DeviceHandle&) = delete;

  // 0, or the last error of CreateFile.
  DWORD Open(const WCHAR* name);
  // 0, or the last error of CloseHandle (an unopened handle closes with 0).
  DWORD Close();
  bool IsOpen() const { return handle_ != nullptr; }
  HANDLE Handle() const { return handle_; }

  // One DeviceIoControl; *returned (when given) receives the bytes-returned word.
  DWORD IoControl(DWORD code, const void* in, DWORD inLength, void* out, DWORD outLength,
                  DWORD* returned = nullptr) const;

 private:
  HANDLE handle_ = nullptr;
};

// The camera device: property requests on "CAM1:".
class Camera : public DeviceHandle {
 public:
  DWORD Open(const WCHAR* name = u"CAM1:") { return DeviceHandle::Open(name); }

  // A request whose input is `record` (its leading CSPROPERTY is filled from set,
  // id and flags) and whose answer lands in `out`.
  DWORD Property(const CsGuid& set, uint32_t id, uint32_t flags, void* record, DWORD recordSize, void* out,
                 DWORD outLength, DWORD* returned = nullptr) const;
  // Get: the record goes in, the answer comes back into the same record.
  DWORD Get(const CsGuid& set, uint32_t id, void* record, DWORD size, DWORD* returned = nullptr) const;
  // Set: the record goes in; nothing comes back.
  DWORD Set(const CsGuid& set, uint32_t id, void* record, DWORD size) const;

  // The pin set.
  DWORD Version(uint32_t* version) const;
  DWORD PinTypeCount(uint32_t* count) const;
  DWORD PinInstances(uint32_t pin, CSPIN_CINSTANCES* instances) const;
  DWORD PinCategory(uint32_t pin, CsGuid* category) const;
  DWORD PinName(uint32_t pin, std::u16string* name) const;
  DWORD PinDeviceName(std::u16string* name) const;
  DWORD PinDataRanges(uint32_t pin, std::vector<CS_DATARANGE_VIDEO>* ranges) const;
  // The driver's format for the first of `offered` that the pin matches.
  DWORD PinDataIntersection(uint32_t pin, const std::vector<CS_DATARANGE_VIDEO>& offered,
                            CS_DATAFORMAT_VIDEOINFOHEADER* format) const;
};

// A pin handle on "PIN1:".
class Pin : public DeviceHandle {
 public:
  DWORD Open(const WCHAR* name = u"PIN1:") { return DeviceHandle::Open(name); }
};

// The reading end of the camera's notification queue "CamAsyncMSGQueue".
class AsyncQueueReader {
 public:
  AsyncQueueReader() = default;
  ~AsyncQueueReader() { Close(); }
  AsyncQueueReader(const AsyncQueueReader&) = delete;
  AsyncQueueReader& operator=(const AsyncQueueReader&) = delete;

  DWORD Open();
  void Close();
  // 0 with the message, ERROR_TIMEOUT when none came within the time.
  DWORD Read(AsyncCameraMessage* message, DWORD timeoutMs) const;

 private:
  HANDLE queue_ = nullptr;
};

}  // namespace camclient
