// The capture client over the device manager's file calls and message queues.
#include "camclient.h"

#include <cstring>

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
