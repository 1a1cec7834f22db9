// The capture client: what a capture application does to use the camera, over the
// device names ("CAM1:", "PIN1:"), DeviceIoControl and message queues. Every call
// answers the Win32 code the driver gave (0 for success), so tests and tools see
// exactly what an application would.
#pragma once

#include <stdint.h>

#include <memory>
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

  // A camera-control or proc-amp value (the 40-byte record): get, set, range.
  DWORD GetValue(const CsGuid& set, uint32_t id, int32_t* value, uint32_t* flags = nullptr) const;
  DWORD SetValue(const CsGuid& set, uint32_t id, int32_t value, uint32_t flags = CSPROPERTY_FLAGS_MANUAL) const;
  DWORD Range(const CsGuid& set, uint32_t id, int32_t* minimum, int32_t* maximum, int32_t* defaultValue) const;
  // The maker's set: a coded value in the first word of the output.
  DWORD MakerSet(uint32_t id, uint32_t value) const;
  // Video control's trigger on a pin (the still pin takes a still).
  DWORD Trigger(uint32_t pin) const;
};

// The format record a pin takes (the data-format header and the video information
// of an offered range).
CS_DATAFORMAT_VIDEOINFOHEADER FormatOfRange(const CS_DATARANGE_VIDEO& range);
// The first range of the given size (0: any) and FOURCC (0: any; compared without
// bit 15), or null; with `largest`, the one of most pixels among those that fit.
const CS_DATARANGE_VIDEO* FindRange(const std::vector<CS_DATARANGE_VIDEO>& ranges, uint32_t width, uint32_t height,
                                    uint32_t fourcc, bool largest = false);
uint32_t RangeFourcc(const CS_DATARANGE_VIDEO& range);

// Where a pin's buffers live: the driver's own (allocation mode 1), or the
// client's, physically contiguous (zero-copy) or plain heap memory (the driver
// copies each frame in).
enum class BufferMemory { Driver, Contiguous, Heap };

// A pin handle on "PIN1:" with its stream: the read queue the driver writes buffer
// messages to, the negotiated format and the buffers.
class Pin : public DeviceHandle {
 public:
  ~Pin();
  DWORD Open(const WCHAR* name = u"PIN1:") { return DeviceHandle::Open(name); }

  // Creates the read queue and instantiates the stream of `pinId` on this handle.
  DWORD Instantiate(uint32_t pinId, uint32_t maxMessages = 32);
  // A pin request with any set, id and flags; the value travels in `value`.
  DWORD Property(const CsGuid& set, uint32_t id, uint32_t flags, void* value, DWORD valueSize,
                 DWORD* returned = nullptr) const;
  DWORD SetFormat(const CS_DATAFORMAT_VIDEOINFOHEADER& format) const;
  DWORD Framing(CSALLOCATOR_FRAMING* framing) const;
  DWORD SetState(uint32_t state) const;
  DWORD State(uint32_t* state) const;

  // Allocates every buffer the framing asks for (CS_ALLOCATE): the driver's when the
  // pin's mode is 1, else the client's in `memory` (contiguous when it names the driver's).
  DWORD AllocateBuffers(BufferMemory memory);
  DWORD EnqueueAll();
  DWORD Enqueue(CS_STREAM_DESCRIPTOR* descriptor) const;
  DWORD BufferCommand(uint32_t command, CS_STREAM_DESCRIPTOR* descriptor) const;
  // Gives every buffer back (CS_DEALLOCATE) and frees the client memory.
  DWORD DeallocateBuffers();
  // The next buffer the driver hands back: ERROR_TIMEOUT when none came in time.
  DWORD NextBuffer(CS_STREAM_DESCRIPTOR** descriptor, DWORD timeoutMs) const;
  // On the Preview pin, after a still with the driver's hidden thumbnail pin (its
  // "ThumbnailPinSupport"): the still's review image, a preview-format frame in one of
  // this pin's buffers. Ask once the still's own image has come: the review frame is
  // then the newest buffer on the queue, and preview frames that were still on their
  // way when the still began go back to the driver. Give it back with Enqueue.
  DWORD ReviewFrame(CS_STREAM_DESCRIPTOR** descriptor, DWORD timeoutMs) const;
  // The bytes of a delivered buffer (the client's view of its data pointer).
  static const uint8_t* Data(const CS_STREAM_DESCRIPTOR& descriptor) {
    return reinterpret_cast<const uint8_t*>(uintptr_t(descriptor.CsStreamHeader.Data));
  }
  size_t BufferCount() const { return buffers_.size(); }
  CS_STREAM_DESCRIPTOR* Descriptor(size_t i) { return &buffers_[i]->descriptor; }
  HANDLE Queue() const { return queue_; }
  void CloseQueue();

 private:
  struct Buffer {
    CS_STREAM_DESCRIPTOR descriptor{};
    void* memory = nullptr;
    BufferMemory kind = BufferMemory::Driver;
  };
  void FreeMemory(Buffer& b);

  HANDLE queue_ = nullptr;
  std::vector<std::unique_ptr<Buffer>> buffers_;
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
