// The capture client over the device manager's file calls and message queues.
#include "camclient.h"

#include <cstdlib>
#include <cstring>

#include "chipset.h"

namespace camclient {

DWORD DeviceHandle::Open(const WCHAR* name) {
  Close();
  HANDLE h = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE || h == nullptr) {
    DWORD error = GetLastError();
    return error ? error : ERROR_OPEN_FAILED;
  }
  handle_ = h;
  return ERROR_SUCCESS;
}

DWORD DeviceHandle::Close() {
  if (!handle_) return ERROR_SUCCESS;
  HANDLE h = handle_;
  handle_ = nullptr;
  return CloseHandle(h) ? ERROR_SUCCESS : GetLastError();
}

DWORD DeviceHandle::IoControl(DWORD code, const void* in, DWORD inLength, void* out, DWORD outLength,
                              DWORD* returned) const {
  DWORD bytes = 0;
  SetLastError(ERROR_SUCCESS);
  BOOL ok = DeviceIoControl(handle_, code, const_cast<void*>(in), inLength, out, outLength, &bytes, nullptr);
  if (returned) *returned = bytes;
  if (ok) return ERROR_SUCCESS;
  DWORD error = GetLastError();
  return error ? error : ERROR_GEN_FAILURE;
}

DWORD Camera::Property(const CsGuid& set, uint32_t id, uint32_t flags, void* record, DWORD recordSize, void* out,
                       DWORD outLength, DWORD* returned) const {
  if (recordSize < sizeof(CSPROPERTY)) return ERROR_INVALID_PARAMETER;
  CSPROPERTY header{set, id, flags};
  std::memcpy(record, &header, sizeof header);
  return IoControl(IOCTL_CS_PROPERTY, record, recordSize, out, outLength, returned);
}

DWORD Camera::Get(const CsGuid& set, uint32_t id, void* record, DWORD size, DWORD* returned) const {
  std::vector<uint8_t> in(static_cast<uint8_t*>(record), static_cast<uint8_t*>(record) + size);
  if (size < sizeof(CSPROPERTY)) return ERROR_INVALID_PARAMETER;
  return Property(set, id, CSPROPERTY_TYPE_GET, in.data(), size, record, size, returned);
}

DWORD Camera::Set(const CsGuid& set, uint32_t id, void* record, DWORD size) const {
  return Property(set, id, CSPROPERTY_TYPE_SET, record, size, nullptr, 0, nullptr);
}

DWORD Camera::Version(uint32_t* version) const {
  CSPROPERTY header{};
  return Property(CSPROPSETID_VERSION, 0, CSPROPERTY_TYPE_GET, &header, sizeof header, version, sizeof *version);
}

DWORD Camera::PinTypeCount(uint32_t* count) const {
  CSPROPERTY header{};
  return Property(CSPROPSETID_Pin, CSPROPERTY_PIN_CTYPES, CSPROPERTY_TYPE_GET, &header, sizeof header, count,
                  sizeof *count);
}

DWORD Camera::PinInstances(uint32_t pin, CSPIN_CINSTANCES* instances) const {
  CSP_PIN request{};
  request.PinId = pin;
  return Property(CSPROPSETID_Pin, CSPROPERTY_PIN_CINSTANCES, CSPROPERTY_TYPE_GET, &request, sizeof request,
                  instances, sizeof *instances);
}

DWORD Camera::PinCategory(uint32_t pin, CsGuid* category) const {
  CSP_PIN request{};
  request.PinId = pin;
  return Property(CSPROPSETID_Pin, CSPROPERTY_PIN_CATEGORY, CSPROPERTY_TYPE_GET, &request, sizeof request, category,
                  sizeof *category);
}

namespace {

// A name reply: ask for the size, then the name.
DWORD ReadName(const Camera& camera, uint32_t id, uint32_t pin, std::u16string* name) {
  CSP_PIN request{};
  request.PinId = pin;
  DWORD needed = 0;
  DWORD r = camera.Property(CSPROPSETID_Pin, id, CSPROPERTY_TYPE_GET, &request, sizeof request, nullptr, 0, &needed);
  if (r != ERROR_MORE_DATA) return r == ERROR_SUCCESS ? ERROR_INVALID_DATA : r;
  std::u16string buffer(needed / sizeof(WCHAR), u'\0');
  r = camera.Property(CSPROPSETID_Pin, id, CSPROPERTY_TYPE_GET, &request, sizeof request, buffer.data(), needed);
  if (r != ERROR_SUCCESS) return r;
  while (!buffer.empty() && buffer.back() == u'\0') buffer.pop_back();
  *name = buffer;
  return ERROR_SUCCESS;
}

}  // namespace

DWORD Camera::PinName(uint32_t pin, std::u16string* name) const { return ReadName(*this, CSPROPERTY_PIN_NAME, pin, name); }

DWORD Camera::PinDeviceName(std::u16string* name) const { return ReadName(*this, CSPROPERTY_PIN_DEVICENAME, 0, name); }

DWORD Camera::PinDataRanges(uint32_t pin, std::vector<CS_DATARANGE_VIDEO>* ranges) const {
  CSP_PIN request{};
  request.PinId = pin;
  DWORD needed = 0;
  DWORD r = Property(CSPROPSETID_Pin, CSPROPERTY_PIN_DATARANGES, CSPROPERTY_TYPE_GET, &request, sizeof request,
                     nullptr, 0, &needed);
  if (r != ERROR_MORE_DATA) return r == ERROR_SUCCESS ? ERROR_INVALID_DATA : r;
  if (needed < sizeof(CSMULTIPLE_ITEM)) return ERROR_INVALID_DATA;
  std::vector<uint8_t> buffer(needed);
  r = Property(CSPROPSETID_Pin, CSPROPERTY_PIN_DATARANGES, CSPROPERTY_TYPE_GET, &request, sizeof request,
               buffer.data(), needed);
  if (r != ERROR_SUCCESS) return r;
  CSMULTIPLE_ITEM item;
  std::memcpy(&item, buffer.data(), sizeof item);
  if (item.Size != needed || uint64_t(item.Count) * sizeof(CS_DATARANGE_VIDEO) + sizeof item != needed)
    return ERROR_INVALID_DATA;
  ranges->resize(item.Count);
  if (item.Count) std::memcpy(ranges->data(), buffer.data() + sizeof item, needed - sizeof item);
  return ERROR_SUCCESS;
}

DWORD Camera::PinDataIntersection(uint32_t pin, const std::vector<CS_DATARANGE_VIDEO>& offered,
                                  CS_DATAFORMAT_VIDEOINFOHEADER* format) const {
  std::vector<uint8_t> in(sizeof(CSP_PIN) + sizeof(CSMULTIPLE_ITEM) + offered.size() * sizeof(CS_DATARANGE_VIDEO));
  CSP_PIN request{};
  request.PinId = pin;
  std::memcpy(in.data(), &request, sizeof request);
  CSMULTIPLE_ITEM item{DWORD(sizeof(CS_DATARANGE_VIDEO)), DWORD(offered.size())};
  std::memcpy(in.data() + sizeof request, &item, sizeof item);
  if (!offered.empty())
    std::memcpy(in.data() + sizeof request + sizeof item, offered.data(), offered.size() * sizeof(CS_DATARANGE_VIDEO));
  return Property(CSPROPSETID_Pin, CSPROPERTY_PIN_DATAINTERSECTION, CSPROPERTY_TYPE_GET, in.data(), DWORD(in.size()),
                  format, sizeof *format);
}

DWORD Camera::GetValue(const CsGuid& set, uint32_t id, int32_t* value, uint32_t* flags) const {
  CSPROPERTY_VIDEOPROCAMP_S record{};
  DWORD r = Get(set, id, &record, sizeof record);
  if (r != ERROR_SUCCESS) return r;
  if (value) *value = record.Value;
  if (flags) *flags = record.Flags;
  return ERROR_SUCCESS;
}

DWORD Camera::SetValue(const CsGuid& set, uint32_t id, int32_t value, uint32_t flags) const {
  CSPROPERTY_VIDEOPROCAMP_S record{};
  record.Value = value;
  record.Flags = flags;
  return Set(set, id, &record, sizeof record);
}

DWORD Camera::Range(const CsGuid& set, uint32_t id, int32_t* minimum, int32_t* maximum, int32_t* defaultValue) const {
  CSPROPERTY header{};
  CSPROPERTY_BASICSUPPORT_REPLY basic{};
  DWORD r = Property(set, id, CSPROPERTY_TYPE_BASICSUPPORT, &header, sizeof header, &basic, sizeof basic);
  if (r != ERROR_SUCCESS) return r;
  CSPROPERTY_DEFAULTVALUES_REPLY def{};
  r = Property(set, id, CSPROPERTY_TYPE_DEFAULTVALUES, &header, sizeof header, &def, sizeof def);
  if (r != ERROR_SUCCESS) return r;
  if (minimum) *minimum = basic.Stepping.SignedMinimum;
  if (maximum) *maximum = basic.Stepping.SignedMaximum;
  if (defaultValue) *defaultValue = def.Default;
  return ERROR_SUCCESS;
}

DWORD Camera::MakerSet(uint32_t id, uint32_t value) const {
  CSPROPERTY header{};
  return Property(VANTOR_PROPSETID_CAMERA, id, CSPROPERTY_TYPE_SET, &header, sizeof header, &value, sizeof value);
}

DWORD Camera::Trigger(uint32_t pin) const {
  CSPROPERTY_VIDEOCONTROL_S request{};
  request.StreamIndex = pin;
  request.Value = CS_VIDEOCONTROL_FLAG_TRIGGER;
  return Property(PROPSETID_VIDCAP_VIDEOCONTROL, CSPROPERTY_VIDEOCONTROL_MODE, CSPROPERTY_TYPE_SET, &request,
                  sizeof request, nullptr, 0);
}

CS_DATAFORMAT_VIDEOINFOHEADER FormatOfRange(const CS_DATARANGE_VIDEO& range) {
  CS_DATAFORMAT_VIDEOINFOHEADER f{};
  f.DataFormat = range.DataRange;
  f.DataFormat.FormatSize = sizeof f;
  f.VideoInfoHeader = range.VideoInfoHeader;
  return f;
}

uint32_t RangeFourcc(const CS_DATARANGE_VIDEO& range) {
  return range.VideoInfoHeader.bmiHeader.biCompression & ~0x8000u;
}

const CS_DATARANGE_VIDEO* FindRange(const std::vector<CS_DATARANGE_VIDEO>& ranges, uint32_t width, uint32_t height,
                                    uint32_t fourcc, bool largest) {
  const CS_DATARANGE_VIDEO* best = nullptr;
  uint64_t bestPixels = 0;
  for (const CS_DATARANGE_VIDEO& r : ranges) {
    const CS_BITMAPINFOHEADER& b = r.VideoInfoHeader.bmiHeader;
    uint32_t h = uint32_t(b.biHeight < 0 ? -b.biHeight : b.biHeight);
    if ((width && uint32_t(b.biWidth) != width) || (height && h != height)) continue;
    if (fourcc && RangeFourcc(r) != (fourcc & ~0x8000u)) continue;
    if (!largest) return &r;
    uint64_t pixels = uint64_t(uint32_t(b.biWidth)) * h;
    if (!best || pixels > bestPixels) best = &r, bestPixels = pixels;
  }
  return best;
}

Pin::~Pin() {
  // Stopped first: the driver refuses to give back a buffer it still holds, and the
  // memory is freed all the same.
  if (IsOpen()) SetState(CSSTATE_STOP);
  DeallocateBuffers();
  Close();
  CloseQueue();
}

void Pin::CloseQueue() {
  if (queue_) CloseMsgQueue(queue_);
  queue_ = nullptr;
}

DWORD Pin::Instantiate(uint32_t pinId, uint32_t maxMessages) {
  if (!queue_) {
    MSGQUEUEOPTIONS options{};
    options.dwSize = sizeof options;
    options.dwFlags = MSGQUEUE_ALLOW_BROKEN;
    options.dwMaxMessages = maxMessages;
    options.cbMaxMessage = sizeof(CS_MSGQUEUE_BUFFER_MESSAGE);
    options.bReadAccess = TRUE;
    queue_ = CreateMsgQueue(nullptr, &options);
    if (!queue_) {
      DWORD error = GetLastError();
      return error ? error : ERROR_OPEN_FAILED;
    }
  }
  CSPROPERTY_STREAMEX_S request{};
  request.CsPin = {CSPROPSETID_StreamEx, 0, CSPROPERTY_TYPE_SET};
  request.PinId = pinId;
  request.hMsgQueue = reinterpret_cast<uintptr_t>(queue_);
  DWORD returned = 0;
  return IoControl(IOCTL_STREAM_INSTANTIATE, &request, sizeof request, nullptr, 0, &returned);
}

DWORD Pin::Property(const CsGuid& set, uint32_t id, uint32_t flags, void* value, DWORD valueSize,
                    DWORD* returned) const {
  CSPROPERTY header{set, id, flags};
  DWORD bytes = 0;
  DWORD r = IoControl(IOCTL_CS_PROPERTY, &header, sizeof header, value, valueSize, &bytes);
  if (returned) *returned = bytes;
  return r;
}

DWORD Pin::SetFormat(const CS_DATAFORMAT_VIDEOINFOHEADER& format) const {
  CS_DATAFORMAT_VIDEOINFOHEADER copy = format;
  return Property(CSPROPSETID_Connection, CSPROPERTY_CONNECTION_DATAFORMAT, CSPROPERTY_TYPE_SET, &copy, sizeof copy);
}

DWORD Pin::Framing(CSALLOCATOR_FRAMING* framing) const {
  return Property(CSPROPSETID_Connection, CSPROPERTY_CONNECTION_ALLOCATORFRAMING, CSPROPERTY_TYPE_GET, framing,
                  sizeof *framing);
}

DWORD Pin::SetState(uint32_t state) const {
  return Property(CSPROPSETID_Connection, CSPROPERTY_CONNECTION_STATE, CSPROPERTY_TYPE_SET, &state, sizeof state);
}

DWORD Pin::State(uint32_t* state) const {
  return Property(CSPROPSETID_Connection, CSPROPERTY_CONNECTION_STATE, CSPROPERTY_TYPE_GET, state, sizeof *state);
}

DWORD Pin::BufferCommand(uint32_t command, CS_STREAM_DESCRIPTOR* descriptor) const {
  uint32_t in[2] = {command, uint32_t(reinterpret_cast<uintptr_t>(descriptor))};  // the driver reads the command only
  DWORD returned = 0;
  return IoControl(IOCTL_CS_BUFFERS, in, sizeof in, descriptor, sizeof *descriptor, &returned);
}

DWORD Pin::Enqueue(CS_STREAM_DESCRIPTOR* descriptor) const { return BufferCommand(CS_ENQUEUE, descriptor); }

void Pin::FreeMemory(Buffer& b) {
  if (b.kind == BufferMemory::Contiguous && b.memory) pmem_free(b.memory);
  if (b.kind == BufferMemory::Heap) std::free(b.memory);
  b.memory = nullptr;
}

DWORD Pin::AllocateBuffers(BufferMemory memory) {
  CSALLOCATOR_FRAMING framing{};
  DWORD r = Framing(&framing);
  if (r != ERROR_SUCCESS) return r;
  // The pin says whose buffers it takes: the driver's (mode 1) or the client's.
  if (framing.RequirementsFlags == 1) memory = BufferMemory::Driver;
  else if (memory == BufferMemory::Driver) memory = BufferMemory::Contiguous;
  for (uint32_t i = 0; i < framing.Frames; ++i) {
    auto b = std::make_unique<Buffer>();
    b->kind = memory;
    CSSTREAM_HEADER& h = b->descriptor.CsStreamHeader;
    h.Size = sizeof(CSSTREAM_HEADER);
    h.FrameExtent = framing.FrameSize;
    b->descriptor.CsFrameInfo.ExtendedHeaderSize = sizeof(CS_FRAME_INFO);
    if (memory == BufferMemory::Contiguous) b->memory = pmem_malloc(framing.FrameSize, 0);
    if (memory == BufferMemory::Heap) b->memory = std::calloc(1, framing.FrameSize);
    if (memory != BufferMemory::Driver && !b->memory) return ERROR_OUTOFMEMORY;
    h.Data = reinterpret_cast<uintptr_t>(b->memory);
    r = BufferCommand(CS_ALLOCATE, &b->descriptor);
    if (r != ERROR_SUCCESS) {
      FreeMemory(*b);
      return r;
    }
    buffers_.push_back(std::move(b));
  }
  return ERROR_SUCCESS;
}

DWORD Pin::EnqueueAll() {
  for (auto& b : buffers_) {
    DWORD r = Enqueue(&b->descriptor);
    if (r != ERROR_SUCCESS) return r;
  }
  return ERROR_SUCCESS;
}

DWORD Pin::DeallocateBuffers() {
  DWORD result = ERROR_SUCCESS;
  for (auto& b : buffers_) {
    if (IsOpen()) {
      DWORD r = BufferCommand(CS_DEALLOCATE, &b->descriptor);
      if (r != ERROR_SUCCESS && result == ERROR_SUCCESS) result = r;
    }
    FreeMemory(*b);
  }
  buffers_.clear();
  return result;
}

DWORD Pin::NextBuffer(CS_STREAM_DESCRIPTOR** descriptor, DWORD timeoutMs) const {
  if (!queue_) return ERROR_INVALID_HANDLE;
  CS_MSGQUEUE_BUFFER_MESSAGE message{};
  DWORD bytes = 0, flags = 0;
  if (!ReadMsgQueue(queue_, &message, sizeof message, &bytes, timeoutMs, &flags)) {
    DWORD error = GetLastError();
    return error ? error : ERROR_GEN_FAILURE;
  }
  if (bytes != sizeof message || message.Size != 12 || message.Flags != 1 || !message.pStreamDescriptor)
    return ERROR_INVALID_DATA;
  *descriptor = reinterpret_cast<CS_STREAM_DESCRIPTOR*>(uintptr_t(message.pStreamDescriptor));
  return ERROR_SUCCESS;
}

DWORD Pin::ReviewFrame(CS_STREAM_DESCRIPTOR** descriptor, DWORD timeoutMs) const {
  CS_STREAM_DESCRIPTOR* newest = nullptr;
  DWORD r = NextBuffer(&newest, timeoutMs);
  if (r != ERROR_SUCCESS) return r;
  CS_STREAM_DESCRIPTOR* next = nullptr;
  while (NextBuffer(&next, 0) == ERROR_SUCCESS) {
    // An older preview frame: back to the driver.
    if ((r = Enqueue(newest)) != ERROR_SUCCESS) return r;
    newest = next;
  }
  *descriptor = newest;
  return ERROR_SUCCESS;
}

DWORD AsyncQueueReader::Open() {
  Close();
  MSGQUEUEOPTIONS options{};
  options.dwSize = sizeof options;
  options.dwFlags = MSGQUEUE_ALLOW_BROKEN;
  options.dwMaxMessages = CAM_ASYNC_QUEUE_MAX_MESSAGES;
  options.cbMaxMessage = sizeof(AsyncCameraMessage);
  options.bReadAccess = TRUE;
  queue_ = CreateMsgQueue(CAM_ASYNC_QUEUE_NAME, &options);
  if (!queue_) {
    DWORD error = GetLastError();
    return error ? error : ERROR_OPEN_FAILED;
  }
  return ERROR_SUCCESS;
}

void AsyncQueueReader::Close() {
  if (queue_) CloseMsgQueue(queue_);
  queue_ = nullptr;
}

DWORD AsyncQueueReader::Read(AsyncCameraMessage* message, DWORD timeoutMs) const {
  if (!queue_) return ERROR_INVALID_HANDLE;
  DWORD bytes = 0, flags = 0;
  if (!ReadMsgQueue(queue_, message, sizeof *message, &bytes, timeoutMs, &flags)) {
    DWORD error = GetLastError();
    return error ? error : ERROR_GEN_FAILURE;
  }
  return bytes == sizeof *message ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

}  // namespace camclient
