// Property-set dispatch and the standard sets. The client's buffers are mapped but
// still the client's: every read and write goes through CeSafeCopyMemory, and every
// size is checked before anything is touched.
#include "propertysets.h"

#include <cstring>
#include <vector>

#include "ccameradevice.h"
#include "cpindevice.h"
#include "csprotocol.h"
#include "propertytranslation.h"

namespace {

typedef DWORD (*Handler)(CCameraDevice*, void*, DWORD, void*, DWORD, DWORD*);

DWORD VersionRoute(CCameraDevice* d, void*, DWORD, void* out, DWORD outLength, DWORD* returned) {
  return AdapterHandleVersion(d, out, outLength, returned);
}

struct Route {
  const CsGuid* set;
  Handler handler;
  const WCHAR* failure;  // null: no line of its own
};

const Route kRoutes[] = {
    {&CSPROPSETID_Pin, AdapterHandlePinRequests, u"CSPROPSETID_Pin failed: %u\r\n"},
    {&CSPROPSETID_VERSION, VersionRoute, u"CSPROPSETID_VERSION failed: %u\r\n"},
    {&PROPSETID_VIDCAP_CAMERACONTROL, AdapterHandleCameraControlRequests, u"PROPSETID_VIDCAP_CAMERACONTROL failed: %u\r\n"},
    {&KORCSPROPSETID_EX_CAMERACONTROL_ADV, AdapterHandleCameraControlAdvRequests, u"KORCSPROPSETID_EX_CAMERACONTROL_ADV failed: %u\r\n"},
    {&PROPSETID_VIDCAP_VIDEOPROCAMP, AdapterHandleVideoProcAmpRequests, u"PROPSETID_VIDCAP_VIDEOPROCAMP failed: %u\r\n"},
    {&PROPSETID_VIDCAP_VIDEOCOMPRESSION, AdapterHandleVideoCompressionRequests, u"PROPSETID_VIDCAP_VIDEOCOMPRESSION failed: %u\r\n"},
    {&PROPSETID_VIDCAP_VIDEOCONTROL, AdapterHandleVideoControlRequests, u"PROPSETID_VIDCAP_VIDEOCONTROL failed: %u\r\n"},
    {&PROPSETID_VIDCAP_DROPPEDFRAMES, AdapterHandleDroppedFramesRequests, u"PROPSETID_VIDCAP_DROPPEDFRAMES failed: %u\r\n"},
    {&VANTOR_PROPSETID_CAMERA, AdapterHandleVantorPropertyRequests, nullptr},
};

const WCHAR* const kPinNames[] = {u"Capture", u"Still", u"Preview", u"Thumbnail"};

bool CopyIn(void* dst, const void* src, DWORD length) { return src && CeSafeCopyMemory(dst, src, length); }
bool CopyOut(void* dst, const void* src, DWORD length) { return dst && CeSafeCopyMemory(dst, src, length); }

}  // namespace

bool AdapterOpenTableRequest(void* in, DWORD inLength, void* out, DWORD outLength, DWORD* returned,
                             CSPROPERTY* header, const WCHAR* invalidLine, const WCHAR* requestLine, DWORD* answer) {
  if (!out && outLength) {
    if (returned) *returned = outLength;
    *answer = ERROR_MORE_DATA;
    return false;
  }
  if (!in || inLength < sizeof(CSPROPERTY) || !returned) {
    NKDbgPrintfW(invalidLine);
    *answer = ERROR_INVALID_PARAMETER;
    return false;
  }
  *returned = 0;
  if (!CopyIn(header, in, sizeof *header)) {
    *answer = ERROR_INVALID_PARAMETER;
    return false;
  }
  NKDbgPrintfW(requestLine, header->Id, header->Flags);
  *answer = ERROR_SUCCESS;
  return header->Flags != CSPROPERTY_TYPE_SETSUPPORT;
}

DWORD AdapterDispatchPropertyRequest(CCameraDevice* device, void* in, DWORD inLength, void* out, DWORD outLength,
                                     DWORD* returned) {
  CsGuid set;
  if (!CopyIn(&set, in, sizeof set)) return ERROR_INVALID_PARAMETER;
  for (const Route& route : kRoutes) {
    if (!CsGuidEqual(set, *route.set)) continue;
    DWORD r = route.handler(device, in, inLength, out, outLength, returned);
    if (r != ERROR_SUCCESS && route.failure) NKDbgPrintfW(route.failure, r);
    return r;
  }
  NKDbgPrintfW(u"CAM_IOControl(): Context=0x%08x: Unsupported PropertySet Request: %u\r\n", device, set.Data1);
  return ERROR_NOT_SUPPORTED;
}

DWORD AdapterHandleVersion(CCameraDevice*, void* out, DWORD outLength, DWORD* returned) {
  if (outLength < sizeof(uint32_t)) return ERROR_INSUFFICIENT_BUFFER;
  if (!returned) return ERROR_INVALID_PARAMETER;
  *returned = sizeof(uint32_t);
  uint32_t version = 1;
  return CopyOut(out, &version, sizeof version) ? ERROR_SUCCESS : ERROR_INVALID_USER_BUFFER;
}

DWORD AdapterHandlePinRequests(CCameraDevice* device, void* in, DWORD inLength, void* out, DWORD outLength,
                               DWORD* returned) {
  if (!in || (!out && outLength) || !returned) {
    NKDbgPrintfW(u"CAM_IOControl(%08x): Invalid parameter for AdapterHandlePinRequests()\r\n", device);
    return ERROR_INVALID_PARAMETER;
  }
  CSPROPERTY header;
  if (inLength < sizeof header || !CopyIn(&header, in, sizeof header)) return ERROR_INVALID_PARAMETER;
  *returned = 0;
  if (header.Flags != CSPROPERTY_TYPE_GET) {
    NKDbgPrintfW(u"CAM_IOControl(%08x): Invalid property request: %d\r\n", device, header.Flags);
    return ERROR_INVALID_PARAMETER;
  }
  if (header.Id > CSPROPERTY_PIN_DEVICENAME) return ERROR_INVALID_PARAMETER;

  CSP_PIN request{};
  bool namesPin = header.Id != CSPROPERTY_PIN_CTYPES && header.Id != CSPROPERTY_PIN_DEVICENAME;
  if (namesPin) {
    DWORD error = 0;
    void* mapped = MapCallerBuffer(in, inLength, sizeof request, &error);
    if (!mapped || !CopyIn(&request, mapped, sizeof request)) return ERROR_MORE_DATA;
    if (!device->IsValidPin(request.PinId)) return ERROR_INVALID_PARAMETER;
  }
  const uint32_t pin = request.PinId;

  switch (header.Id) {
    case CSPROPERTY_PIN_CINSTANCES: {
      *returned = sizeof(CSPIN_CINSTANCES);
      if (outLength < sizeof(CSPIN_CINSTANCES)) return ERROR_MORE_DATA;
      CSPIN_CINSTANCES reply{1, device->Pin(pin).instances};
      return CopyOut(out, &reply, sizeof reply) ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
    }
    case CSPROPERTY_PIN_CTYPES: {
      *returned = sizeof(uint32_t);
      if (outLength < sizeof(uint32_t)) return ERROR_MORE_DATA;
      // The hidden thumbnail pin is never offered as a type.
      uint32_t count = device->PinCount() < 3 ? device->PinCount() : 3;
      return CopyOut(out, &count, sizeof count) ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
    }
    case CSPROPERTY_PIN_DATARANGES: {
      const std::vector<CS_DATARANGE_VIDEO>& ranges = device->Pin(pin).ranges;
      uint64_t bytes = uint64_t(ranges.size()) * sizeof(CS_DATARANGE_VIDEO) + sizeof(CSMULTIPLE_ITEM);
      if (bytes > 0xFFFFFFFFu) return ERROR_ARITHMETIC_OVERFLOW;
      *returned = DWORD(bytes);
      if (outLength < bytes) return ERROR_MORE_DATA;
      CSMULTIPLE_ITEM item{DWORD(bytes), DWORD(ranges.size())};
      if (!CopyOut(out, &item, sizeof item)) return ERROR_INVALID_PARAMETER;
      if (!ranges.empty() &&
          !CopyOut(static_cast<uint8_t*>(out) + sizeof item, ranges.data(), DWORD(bytes - sizeof item)))
        return ERROR_INVALID_PARAMETER;
      return ERROR_SUCCESS;
    }
    case CSPROPERTY_PIN_DATAINTERSECTION: {
      // The offered ranges follow the pin request: a list header, then count items
      // of the client's item size, each at least one whole data range.
      CSMULTIPLE_ITEM item{};
      if (inLength < sizeof request + sizeof item ||
          !CopyIn(&item, static_cast<uint8_t*>(in) + sizeof request, sizeof item))
        return ERROR_MORE_DATA;
      uint64_t listBytes = uint64_t(item.Count) * item.Size;
      if (item.Count && item.Size < sizeof(CS_DATARANGE_VIDEO)) return ERROR_INVALID_PARAMETER;
      if (sizeof request + sizeof item + listBytes > inLength) return ERROR_MORE_DATA;
      *returned = sizeof(CS_DATAFORMAT_VIDEOINFOHEADER);
      if (outLength < sizeof(CS_DATAFORMAT_VIDEOINFOHEADER)) return ERROR_MORE_DATA;
      const uint8_t* offered = static_cast<uint8_t*>(in) + sizeof request + sizeof item;
      for (uint32_t i = 0; i < item.Count; ++i) {
        CS_DATARANGE_VIDEO range;
        if (!CopyIn(&range, offered + uint64_t(i) * item.Size, sizeof range)) return ERROR_INVALID_PARAMETER;
        const CS_DATARANGE_VIDEO* match = nullptr;
        if (!device->MatchDataRange(pin, range, &match, true)) continue;
        CS_DATAFORMAT_VIDEOINFOHEADER answer;
        answer.DataFormat = match->DataRange;
        answer.DataFormat.FormatSize = sizeof answer;
        answer.VideoInfoHeader = match->VideoInfoHeader;
        return CopyOut(out, &answer, sizeof answer) ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
      }
      return ERROR_INVALID_PARAMETER;
    }
    case CSPROPERTY_PIN_CATEGORY: {
      *returned = sizeof(CsGuid);
      if (outLength < sizeof(CsGuid)) return ERROR_MORE_DATA;
      return CopyOut(out, &device->Pin(pin).category, sizeof(CsGuid)) ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
    }
    case CSPROPERTY_PIN_NAME:
    case CSPROPERTY_PIN_DEVICENAME: {
      // The device name is the pin device this camera activated.
      const WCHAR* name = header.Id == CSPROPERTY_PIN_NAME ? kPinNames[pin < 4 ? pin : 0]
                          : device->CameraIndex() == 0      ? u"PIN1:"
                                                            : u"PIN2:";
      DWORD bytes = DWORD((wcslen(name) + 1) * sizeof(WCHAR));
      *returned = bytes;
      if (outLength < bytes) return ERROR_MORE_DATA;
      return CopyOut(out, name, bytes) ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
    }
  }
  return ERROR_INVALID_PARAMETER;
}

DWORD AdapterHandleDroppedFramesRequests(CCameraDevice* device, void* in, DWORD inLength, void* out,
                                         DWORD outLength, DWORD* returned) {
  CSPROPERTY header;
  if (!returned || !in || inLength < sizeof header) return ERROR_INVALID_PARAMETER;
  *returned = 0;
  if (!CopyIn(&header, in, sizeof header)) return ERROR_INVALID_PARAMETER;
  if (header.Id != CSPROPERTY_DROPPEDFRAMES_CURRENT || header.Flags != CSPROPERTY_TYPE_GET)
    return ERROR_INVALID_PARAMETER;
  *returned = sizeof(CSPROPERTY_DROPPEDFRAMES_CURRENT_S);
  if (outLength < sizeof(CSPROPERTY_DROPPEDFRAMES_CURRENT_S)) return ERROR_MORE_DATA;
  const CPinDevice* capture = device->PinCount() > CS_PIN_CAPTURE ? device->Pin(CS_PIN_CAPTURE).pin : nullptr;
  if (!capture) return ERROR_INVALID_PARAMETER;
  CSPROPERTY_DROPPEDFRAMES_CURRENT_S reply{};
  reply.Property = header;
  reply.PictureNumber = capture->PictureNumber();
  reply.DropCount = capture->DropCount();
  reply.AverageFrameSize = capture->AverageFrameSize();
  return CopyOut(out, &reply, sizeof reply) ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
}

DWORD AdapterHandleVideoControlRequests(CCameraDevice* device, void* in, DWORD inLength, void* out,
                                        DWORD outLength, DWORD* returned) {
  CSPROPERTY header;
  DWORD answer;
  if (!AdapterOpenTableRequest(in, inLength, out, outLength, returned, &header,
                               u"Invalid parameter for AdapterHandleVideoControlRequests()\r\n",
                               u"AdapterHandleVideoControlRequests(): Id=%d, Flags=%d\r\n", &answer))
    return answer;
  if (header.Id > CSPROPERTY_VIDEOCONTROL_MODE) {
    NKDbgPrintfW(u"CAM_IOControl(%08x): Invalid Property: Id=%d\r\n", device, header.Id);
    return ERROR_INVALID_PARAMETER;
  }
  if (header.Id != CSPROPERTY_VIDEOCONTROL_CAPS && header.Id != CSPROPERTY_VIDEOCONTROL_MODE) {
    NKDbgPrintfW(u"CAM_IOControl(%08x): Invalid VideoControl property\r\n", device);
    return ERROR_INVALID_PARAMETER;
  }
  CSPROPERTY_VIDEOCONTROL_S request;
  DWORD error = 0;
  void* mapped = MapCallerBuffer(in, inLength, sizeof request, &error);
  if (!mapped || !CopyIn(&request, mapped, sizeof request)) return ERROR_MORE_DATA;
  if (!device->IsValidPin(request.StreamIndex)) {
    NKDbgPrintfW(u"CAM_IOControl(%08x): Invalid pin: Id=%d\r\n", device, request.StreamIndex);
    return ERROR_INVALID_PARAMETER;
  }
  const uint32_t pin = request.StreamIndex;

  if (header.Id == CSPROPERTY_VIDEOCONTROL_CAPS) {
    if (header.Flags == CSPROPERTY_TYPE_SET) {
      if (request.Value & ~0xFu) {
        NKDbgPrintfW(u"CAM_IOControl(%08x): Invalid flag specified for VideoControl Caps\r\n", device);
        return ERROR_INVALID_PARAMETER;
      }
      device->SetVideoControlCaps(pin, request.Value);
      return ERROR_SUCCESS;
    }
    if (header.Flags == CSPROPERTY_TYPE_GET || header.Flags == CSPROPERTY_TYPE_DEFAULTVALUES) {
      *returned = sizeof(CSPROPERTY_VIDEOCONTROL_S);
      if (outLength < sizeof(CSPROPERTY_VIDEOCONTROL_S)) return ERROR_MORE_DATA;
      CSPROPERTY_VIDEOCONTROL_S reply{header, pin, device->VideoControlCaps(pin)};
      return CopyOut(out, &reply, sizeof reply) ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
    }
    NKDbgPrintfW(u"CAM_IOControl(%08x): Invalid VideoControl property request\r\n", device);
    return ERROR_INVALID_PARAMETER;
  }

  // Mode: only the trigger, and only on an instantiated capture or still pin.
  if (header.Flags != CSPROPERTY_TYPE_SET) {
    NKDbgPrintfW(u"CAM_IOControl(%08x): Invalid property request\r\n", device);
    return ERROR_INVALID_PARAMETER;
  }
  if (request.Value != CS_VIDEOCONTROL_FLAG_TRIGGER) {
    NKDbgPrintfW(u"CAM_IOControl(%08x): Invalid flag specified for VideoControl Mode\r\n", device);
    return ERROR_INVALID_PARAMETER;
  }
  CPinDevice* pinDevice = device->Pin(pin).pin;
  if ((pin != CS_PIN_CAPTURE && pin != CS_PIN_STILL) || !pinDevice) {
    NKDbgPrintfW(u"CAM_IOControl(%08x): Invalid pin for trigger\r\n", device);
    return ERROR_INVALID_PARAMETER;
  }
  NKDbgPrintfW(u"CAM_IOControl(%08x): Setting Pin %d state to CSSTATE_RUN\r\n", device, pin);
  DWORD state = pinDevice->SetRunState();
  if (state != ERROR_SUCCESS) NKDbgPrintfW(u"CAM_IOControl(%08x): Could not set Pin %d to CSSTATE_RUN\r\n", device, pin);
  if (pin == CS_PIN_CAPTURE) return state;
  NKDbgPrintfW(u"CAM_IOControl(%08x): Triggering snapshot...\r\n", device);
  if (pinDevice->IsStillTriggerAllowed() && pinDevice->DropStillWithoutBuffer()) {
    NKDbgPrintfW(u"No buffer from the client; snapshot dropped\r\n");
    return ERROR_SUCCESS;
  }
  if (pinDevice->IsStillTriggerAllowed() && device->StartStill()) {
    NKDbgPrintfW(u"Snapshot triggered\r\n");
    return ERROR_SUCCESS;
  }
  NKDbgPrintfW(u"Cannot trigger snapshot\r\n");
  return ERROR_FUNCTION_FAILED;
}
