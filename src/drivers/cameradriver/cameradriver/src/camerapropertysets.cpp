// The camera's control sets: camera control (exposure, focus, flash, zoom and the
// driver's own focus, angle and power controls), the advanced set (focus grid and
// rectangles, still count, stop-before-still, video restart), video proc amp (the
// picture controls, three of them bent around their defaults before they reach the
// engine), video compression (the still port's JPEG quality) and the maker's set,
// which turns simple coded values into requests of the other sets.
//
// Every value crosses the engine through the property translators; a refused engine
// call is reported to the client, never answered as success.
#include <cmath>
#include <cstring>
#include <memory>

#include "casyncmsgqueue.h"
#include "ccameradevice.h"
#include "cpindevice.h"
#include "plindor.h"
#include "propertysets.h"
#include "propertytranslation.h"

namespace {

bool CopyIn(void* dst, const void* src, DWORD length) { return src && CeSafeCopyMemory(dst, src, length); }
bool CopyOut(void* dst, const void* src, DWORD length) { return dst && CeSafeCopyMemory(dst, src, length); }

bool ValidFlags(uint32_t flags) { return flags == 1 || flags == 2 || flags == 4 || flags == 8; }

// The engine's record of a row, fetched; a refusal is logged with `failure` (the
// engine id and the result its arguments).
PvlResult FetchEngineRecord(CCameraDevice* device, const DevicePropertyRecord& row, PVLPropertyRecord* record,
                            const WCHAR* failure) {
  InitPVLPropertyRecord(record, row.engineId, row.type);
  IProperties* props = device->EngineProperties();
  PvlResult result = PVL_OK;
  PvlResult pr = props ? props->GetProperties(PvlPropertyDescOf(&record->head), 1, &result) : PVL_E_NOTREADY;
  if (pr != PVL_OK) NKDbgPrintfW(failure, row.engineId, pr);
  return pr;
}

constexpr const WCHAR* kFetchFailed = u"Could not retrieve property from Camera Engine: PVLID=%x, result=%d\r\n";
// Camera control's reads end their lines with a comma.
constexpr const WCHAR* kFetchFailedForRead =
    u"Could not retrieve property from Camera Engine: PVLID=%x, result=%d,\r\n";

PvlResult WriteEngineRecord(CCameraDevice* device, const PVLPropertyRecord& record) {
  PVLPropertyValue value;
  MakePVLPropertyValue(record, &value);
  return device->EngineProperties()->SetProperties(&value, 1);
}

// A client's SET of an engine row (camera control or proc amp): the engine's record
// fetched for its current range, the client's value translated into it, written back.
DWORD SetEngineRow(CCameraDevice* device, const DevicePropertyRecord& row, const CSPROPERTY_VIDEOPROCAMP_S& request,
                   PvlResult (*translate)(PVLPropertyRecord*, const CSPROPERTY_VIDEOPROCAMP_S&,
                                          const DevicePropertyRecord&)) {
  PVLPropertyRecord engine;
  PvlResult pr = FetchEngineRecord(device, row, &engine, kFetchFailed);
  if (pr != PVL_OK) return ERROR_INVALID_PARAMETER;
  pr = translate(&engine, request, row);
  if (pr != PVL_OK) {
    NKDbgPrintfW(u"Translation from DS to PVL property failed: PVLID=%x, result=%d\r\n", row.engineId, pr);
    return ERROR_INVALID_PARAMETER;
  }
  pr = WriteEngineRecord(device, engine);
  if (pr != PVL_OK) {
    // A refused value is the client's to know.
    NKDbgPrintfW(u"Could not set property on Camera Engine: PVLID=%x, result=%d\r\n", row.engineId, pr);
    return ERROR_INVALID_PARAMETER;
  }
  NKDbgPrintfW(u"Property successfully set on Camera Engine: PVLID=%x, result=%d\r\n", row.engineId, pr);
  return ERROR_SUCCESS;
}

// The device's row of a client id (`index` in the set's table, -1 for none), or null
// with the code to answer.
DevicePropertyRecord* ServedRow(CCameraDevice* device, DevicePropertyRecord* rows, int index, uint32_t id,
                                const WCHAR* unsupported, DWORD* answer) {
  if (index < 0) {
    NKDbgPrintfW(u"CAM_IOControl(%08x): Invalid Property: Id=%d\r\n", device, id);
    *answer = ERROR_INVALID_PARAMETER;
    return nullptr;
  }
  DevicePropertyRecord* row = &rows[index];
  if (!row->supported) {
    NKDbgPrintfW(unsupported, device, id);
    *answer = ERROR_NOT_SUPPORTED;
    return nullptr;
  }
  return row;
}

// A request the maker's set builds for another set: a 40-byte record whose header
// names that set.
CSPROPERTY_VIDEOPROCAMP_S MakeRecord(const CsGuid& set, uint32_t id, uint32_t type, int32_t value, uint32_t flags) {
  CSPROPERTY_VIDEOPROCAMP_S r{};
  r.Property = {set, id, type};
  r.Value = value;
  r.Flags = flags;
  return r;
}

DWORD SendCameraControl(CCameraDevice* device, uint32_t id, int32_t value, uint32_t flags) {
  CSPROPERTY_VIDEOPROCAMP_S r = MakeRecord(PROPSETID_VIDCAP_CAMERACONTROL, id, CSPROPERTY_TYPE_SET, value, flags);
  DWORD returned = 0;
  return AdapterHandleCameraControlRequests(device, &r, sizeof r, &r, sizeof r, &returned);
}

DWORD SendProcAmp(CCameraDevice* device, uint32_t id, int32_t value, uint32_t flags) {
  CSPROPERTY_VIDEOPROCAMP_S r = MakeRecord(PROPSETID_VIDCAP_VIDEOPROCAMP, id, CSPROPERTY_TYPE_SET, value, flags);
  DWORD returned = 0;
  return AdapterHandleVideoProcAmpRequests(device, &r, sizeof r, &r, sizeof r, &returned);
}

// The still pin's JPEG set; refused while the still pin has no stream.
DWORD SendJpeg(CCameraDevice* device, uint32_t id, const void* value, DWORD valueSize) {
  CPinDevice* still = device->IsValidPin(CS_PIN_STILL) ? device->Pin(CS_PIN_STILL).pin : nullptr;
  if (!still) return ERROR_INVALID_STATE;
  CSPROPERTY header{VANTOR_PROPSETID_JPEG, id, CSPROPERTY_TYPE_SET};
  uint8_t record[40] = {};
  std::memcpy(record, &header, sizeof header);
  std::memcpy(record + 24, value, valueSize < 16 ? valueSize : 16);
  DWORD returned = 0;
  return still->HandleJpegRequest(&header, sizeof header, record, sizeof record, &returned);
}

DWORD SendJpegValue(CCameraDevice* device, uint32_t id, int32_t value) {
  int32_t v[2] = {value, CSPROPERTY_FLAGS_MANUAL};
  return SendJpeg(device, id, v, sizeof v);
}

// The engine's array value of `count` focus rectangles, each typed; rects is null
// when memory runs out.
struct FocusRectArray {
  std::unique_ptr<PvlValueRecord[]> rects;
  PvlValueRecord value{};
  explicit FocusRectArray(uint32_t count) : rects(new (std::nothrow) PvlValueRecord[count ? count : 1]()) {
    if (!rects) return;
    for (uint32_t i = 0; i < count; ++i) rects[i].type = PVL_VT_RECT;
    value.type = PVL_VT_ARRAY;
    value.payload.array = {rects.get(), int32_t(count), int32_t(count), 0};
  }
};

DWORD SendFocusRects(CCameraDevice* device, const CPvlRect* rects, uint32_t count) {
  uint8_t buffer[8 + 16 * 16];
  uint32_t total = 8 + 16 * count;
  std::memcpy(buffer, &total, 4);
  std::memcpy(buffer + 4, &count, 4);
  std::memcpy(buffer + 8, rects, 16 * count);
  CSPROPERTY header{KORCSPROPSETID_EX_CAMERACONTROL_ADV, CSPROPERTY_CAMERACONTROL_ADV_FOCUS_RECTS, CSPROPERTY_TYPE_SET};
  DWORD returned = 0;
  return AdapterHandleCameraControlAdvRequests(device, &header, sizeof header, buffer, total, &returned);
}

// The proc-amp re-map table (brightness, contrast, saturation): each bent
// around its default; contrast and saturation only below it.
struct RemapEntry {
  uint32_t enabled;
  int32_t upper;
  int32_t lower;
  int32_t lastClientValue;
};
RemapEntry g_remap[kVideoProcAmpRows] = {{1, 3000, -3000, 0}, {1, 140, 60, 0}, {0, 0, 0, 0}, {1, 200, 1, 0}};

}  // namespace

int32_t RemapVideoProcAmpValue(const CCameraDevice* device, uint32_t row, int32_t value, int32_t minimum,
                               int32_t maximum) {
  if (row >= kVideoProcAmpRows || !g_remap[row].enabled) return value;
  const int32_t d = device->VideoProcAmpRecord(int(row)).defaultValue;
  const int32_t U = g_remap[row].upper, L = g_remap[row].lower;
  if (value == d || d == minimum || d == maximum) return value;
  int32_t r;
  if (value > d && row != 0) {
    // Contrast and saturation above their defaults are the engine's own
    // percent: bent onto d..U, the published 100..10000 lost every setting a
    // user makes (200 arrived as 100 or 101). They pass unchanged.
    r = value;
  } else if (value > d)
    r = int32_t(d + (int64_t(value - d) * (U - d)) / (maximum - d));
  else
    r = int32_t(L + (int64_t(value - minimum) * (d - L)) / (d - minimum));
  NKDbgPrintfW(u"Vantor re-mapping value = %d\r\n", r);
  return r;
}

// ---- Camera control -----------------------------------------------------------------------

DWORD AdapterHandleCameraControlRequests(CCameraDevice* device, void* in, DWORD inLength, void* out,
                                         DWORD outLength, DWORD* returned) {
  CSPROPERTY header;
  DWORD answer;
  if (!AdapterOpenTableRequest(in, inLength, out, outLength, returned, &header,
                               u"Invalid parameter for AdapterHandleCameraControlRequests()\r\n",
                               u"AdapterHandleCameraControlRequests(): Id=%d, Flags=%d\r\n", &answer))
    return answer;
  const uint32_t id = header.Id;
  DevicePropertyRecord* served =
      ServedRow(device, device->m_cameraControl.data(), CameraControlRow(id), id,
                u"CAM_IOControl(%08x): Unsupported CameraControl property: Id=%d\r\n", &answer);
  if (!served) return answer;
  DevicePropertyRecord& row = *served;
  if (id == CSPROPERTY_CAMERACONTROL_ZOOM_MAGNIFICATION) {
    // Published range and range checks follow the engine's zoom limits.
    PVLPropertyRecord zoom;
    if (FetchEngineRecord(device, row, &zoom, kFetchFailedForRead) != PVL_OK) return ERROR_INVALID_PARAMETER;
    row.minimum = int32_t(zoom.head.values[1].payload.f * 100.0);
    row.maximum = int32_t(zoom.head.values[2].payload.f * 100.0);
  }
  if (AdapterReplyDescription(header.Flags, out, outLength, returned, row, &answer)) return answer;
  DWORD error = 0;
  if (header.Flags == CSPROPERTY_TYPE_GET) {
    void* mapped = MapCallerBuffer(out, outLength, sizeof(CSPROPERTY_CAMERACONTROL_S), &error);
    if (!mapped) return ERROR_MORE_DATA;
    CSPROPERTY_CAMERACONTROL_S reply{};
    reply.Property = header;
    reply.Capabilities = row.capabilities;
    bool local = true;
    switch (id) {
      case CSPROPERTY_CAMERACONTROL_FOCUS_CONTROL: reply.Value = int32_t(device->GetFocusState()), reply.Flags = 2; break;
      case CSPROPERTY_CAMERACONTROL_FIXED_FRAME_RATE: reply.Value = int32_t(device->m_fixedFrameRate), reply.Flags = 2; break;
      case CSPROPERTY_CAMERACONTROL_PAN_ANGLE:
      case CSPROPERTY_CAMERACONTROL_ROLL_ANGLE:
      case CSPROPERTY_CAMERACONTROL_TILT_ANGLE:
        reply.Value = int32_t(device->m_angles[id - CSPROPERTY_CAMERACONTROL_PAN_ANGLE]), reply.Flags = 1;
        break;
      case CSPROPERTY_CAMERACONTROL_POWER: reply.Value = int32_t(device->m_powerControl), reply.Flags = 2; break;
      default: local = false;
    }
    if (!local) {
      PVLPropertyRecord engine;
      PvlResult pr = FetchEngineRecord(device, row, &engine, kFetchFailedForRead);
      if (pr != PVL_OK) return ERROR_INVALID_PARAMETER;
      pr = TranslatePVLToCameraControl(&reply, engine, row);
      if (pr != PVL_OK) {
        NKDbgPrintfW(u"Translation from PVL to DS property failed: PVLID=%x, result=%d,\r\n", row.engineId, pr);
        return ERROR_INVALID_PARAMETER;
      }
      reply.Property = header;
      NKDbgPrintfW(u"Property successfully retrieved from Camera Engine: PVLID=%x, result=%d,\r\n", row.engineId, pr);
    }
    if (!CopyOut(mapped, &reply, sizeof reply)) return ERROR_INVALID_PARAMETER;
    *returned = sizeof reply;
    return ERROR_SUCCESS;
  }
  if (header.Flags != CSPROPERTY_TYPE_SET) {
    NKDbgPrintfW(u"CAM_IOControl(%08x): Invalid CameraControl property request\r\n", device);
    return ERROR_INVALID_PARAMETER;
  }
  CSPROPERTY_CAMERACONTROL_S request;
  if (inLength < sizeof request || !CopyIn(&request, in, sizeof request)) return ERROR_MORE_DATA;
  if (!ValidFlags(request.Flags)) return ERROR_INVALID_PARAMETER;
  if (request.Flags == CSPROPERTY_FLAGS_AUTO) {
    if (request.Value < row.minimum) request.Value = row.minimum;
    if (request.Value > row.maximum) request.Value = row.maximum;
  } else if (request.Flags != CSPROPERTY_FLAGS_SELECTOR4 &&
             (request.Value < row.minimum || request.Value > row.maximum)) {
    NKDbgPrintfW(u"Value outside CameraControl property range: Id=%d, Value=%d\r\n", id, request.Value);
    return ERROR_INVALID_PARAMETER;
  }
  switch (id) {
    case CSPROPERTY_CAMERACONTROL_FOCUS_CONTROL: {
      ICameraEngine* control = device->EngineControl();
      FocusState state = device->GetFocusState();
      // A failed run leaves nothing running: the failed state takes a start or stop
      // like the idle one, so auto-focus is never dead until the camera is re-opened.
      bool idle = state == FocusState::Idle || state == FocusState::Failed;
      if (idle && (request.Value == CS_FOCUS_CONTROL_SINGLE || request.Value == CS_FOCUS_CONTROL_CONTINUOUS)) {
        const uint8_t mode = request.Value == CS_FOCUS_CONTROL_SINGLE ? 0 : 1;
        // Running before the engine starts: its signal may fire (and the focus
        // thread set idle) before StartFocus returns.
        device->SetFocusState(FocusState::Running);
        PvlResult pr = control ? control->StartFocus(
                                     mode, reinterpret_cast<uintptr_t>(device->FocusSignalControl()))
                               : PVL_E_NOTREADY;
        if (pr != PVL_OK) {
          NKDbgPrintfW(u"Focusing failed\r\n");
          device->SetFocusState(mode == 1 ? FocusState::Failed : state);
          return ERROR_FUNCTION_FAILED;
        }
        NKDbgPrintfW(mode == 0 ? u"Focusing started\r\n" : u"Continuous focusing started\r\n");
        return ERROR_SUCCESS;
      }
      if ((state == FocusState::Running || state == FocusState::Failed) && request.Value == CS_FOCUS_CONTROL_STOP) {
        PvlResult pr = control ? control->StopFocus() : PVL_E_NOTREADY;
        device->SetFocusState(pr == PVL_OK ? FocusState::Idle : FocusState::Failed);
        return pr == PVL_OK ? ERROR_SUCCESS : ERROR_FUNCTION_FAILED;
      }
      return ERROR_INVALID_OPERATION;
    }
    case CSPROPERTY_CAMERACONTROL_FIXED_FRAME_RATE:
      device->m_fixedFrameRate = uint32_t(request.Value);
      return ERROR_SUCCESS;
    case CSPROPERTY_CAMERACONTROL_PAN_ANGLE:
    case CSPROPERTY_CAMERACONTROL_ROLL_ANGLE:
    case CSPROPERTY_CAMERACONTROL_TILT_ANGLE:
      return ERROR_NOT_SUPPORTED;
    case CSPROPERTY_CAMERACONTROL_POWER:
      device->m_powerControl = uint32_t(request.Value);
      if (request.Value == 0 && !device->SetPowerState(CS_POWER_D4)) {
        NKDbgPrintfW(u"Could not set power state D4\r\n");
        return ERROR_FUNCTION_FAILED;
      }
      if (request.Value == 1 && !device->SetPowerState(CS_POWER_D0)) {
        NKDbgPrintfW(u"Could not set power state D0\r\n");
        return ERROR_FUNCTION_FAILED;
      }
      return ERROR_SUCCESS;
  }
  return SetEngineRow(device, row, request, TranslateCameraControlToPVL);
}

// ---- Advanced camera control ------------------------------------------------------------------

DWORD AdapterHandleCameraControlAdvRequests(CCameraDevice* device, void* in, DWORD inLength, void* out,
                                            DWORD outLength, DWORD* returned) {
  CSPROPERTY header;
  DWORD answer;
  if (!AdapterOpenTableRequest(in, inLength, out, outLength, returned, &header,
                               u"Invalid parameter for AdapterHandleCameraControlAdvRequests()\r\n",
                               u"AdapterHandleCameraControlAdvRequests(): Id=%u, Flags=%u\r\n", &answer))
    return answer;
  const uint32_t id = header.Id;
  if (id > CSPROPERTY_CAMERACONTROL_ADV_RESTART_VIDEO) {
    NKDbgPrintfW(u"CAM_IOControl(%08x): Invalid CameraControl Advanced property\r\n", device);
    return ERROR_INVALID_PARAMETER;
  }
  const bool get = header.Flags == CSPROPERTY_TYPE_GET, set = header.Flags == CSPROPERTY_TYPE_SET;
  static const uint8_t kServes[6][2] = {{1, 0}, {1, 1}, {0, 1}, {0, 1}, {1, 1}, {0, 1}};  // get, set
  if (!((get && kServes[id][0]) || (set && kServes[id][1]))) {
    NKDbgPrintfW(id <= CSPROPERTY_CAMERACONTROL_ADV_STILL_COUNT ? u"CAM_IOControl(%08x): Invalid CameraControl Advanced property request\r\n"
                         : u"CAM_IOControl(%08x): Invalid property request\r\n",
                 device);
    return ERROR_INVALID_PARAMETER;
  }
  IProperties* props = device->EngineProperties();
  if (!props) return ERROR_INVALID_STATE;
  DWORD error = 0;
  switch (id) {
    case CSPROPERTY_CAMERACONTROL_ADV_FOCUS_RECT_GRID: {
      void* mapped = MapCallerBuffer(out, outLength, 8, &error);
      if (!mapped) return ERROR_MORE_DATA;
      *returned = 8;
      PvlValueRecord v{};
      v.type = PVL_VT_8BYTES;
      PvlResult pr = props->GetProperty(ZUEUID_PROPERTY_FOCUS_RECT_GRID, &v);
      if (pr != PVL_OK) {
        NKDbgPrintfW(u"Could not retrieve ZUEUID_PROPERTY_FOCUS_RECT_GRID from Camera Engine: result=%d\r\n", pr);
        return ERROR_INVALID_PARAMETER;
      }
      if (!CopyOut(mapped, &v.payload, 8)) return ERROR_INVALID_PARAMETER;
      NKDbgPrintfW(u"ZUEUID_PROPERTY_FOCUS_RECT_GRID successfully retrieved from Camera Engine:result=%d\r\n", pr);
      return ERROR_SUCCESS;
    }
    case CSPROPERTY_CAMERACONTROL_ADV_FOCUS_RECTS: {
      if (get) {
        PvlValueRecord v{};
        v.type = PVL_VT_ARRAY;
        PvlResult pr = props->GetProperty(ZUEUID_PROPERTY_FOCUS_RECTS, &v);
        uint32_t count = pr == PVL_OK ? uint32_t(v.payload.array.filled) : 0;
        if (pr != PVL_OK || count > 4096) {
          NKDbgPrintfW(u"Could not retrieve ZUEUID_PROPERTY_FOCUS_RECTS from Camera Engine: result=%d\r\n", pr);
          return ERROR_INVALID_PARAMETER;
        }
        const uint32_t bytes = count * 16 + 8;
        *returned = bytes;
        void* mapped = MapCallerBuffer(out, outLength, bytes, &error);
        if (!mapped) return ERROR_MORE_DATA;
        FocusRectArray rects(count);
        if (!rects.rects) return ERROR_OUTOFMEMORY;
        pr = props->GetProperty(ZUEUID_PROPERTY_FOCUS_RECTS, &rects.value);
        if (pr != PVL_OK) {
          NKDbgPrintfW(u"Could not retrieve ZUEUID_PROPERTY_FOCUS_RECTS from Camera Engine: result=%d\r\n", pr);
          return ERROR_INVALID_PARAMETER;
        }
        uint32_t head[2] = {bytes, count};
        if (!CopyOut(mapped, head, sizeof head)) return ERROR_INVALID_PARAMETER;
        for (uint32_t i = 0; i < count; ++i)
          if (!CopyOut(static_cast<uint8_t*>(mapped) + 8 + 16 * i, &rects.rects[i].payload.rect, 16))
            return ERROR_INVALID_PARAMETER;
        return ERROR_SUCCESS;
      }
      void* mapped = MapCallerBuffer(out, outLength, 8, &error);
      uint32_t head[2];
      if (!mapped || !CopyIn(head, mapped, sizeof head)) return ERROR_MORE_DATA;
      // The rectangles the count names must all be in the buffer.
      if (uint64_t(head[1]) * 16 + 8 > outLength) return ERROR_MORE_DATA;
      *returned = head[0];
      const uint32_t count = head[1];
      FocusRectArray rects(count);
      if (!rects.rects) return ERROR_OUTOFMEMORY;
      for (uint32_t i = 0; i < count; ++i)
        if (!CopyIn(&rects.rects[i].payload.rect, static_cast<uint8_t*>(mapped) + 8 + 16 * i, 16))
          return ERROR_INVALID_PARAMETER;
      PvlResult pr = props->SetProperty(ZUEUID_PROPERTY_FOCUS_RECTS, &rects.value);
      if (pr != PVL_OK) {
        NKDbgPrintfW(u"Could not set ZUEUID_PROPERTY_FOCUS_RECTS on Camera Engine: result=%d\r\n", pr);
        return ERROR_INVALID_PARAMETER;
      }
      NKDbgPrintfW(u"ZUEUID_PROPERTY_FOCUS_RECTS successfully set on Camera Engine: result=%d\r\n", pr);
      return ERROR_SUCCESS;
    }
    case CSPROPERTY_CAMERACONTROL_ADV_STILL_COUNT: {
      void* mapped = MapCallerBuffer(out, outLength, 4, &error);
      uint32_t count = 0;
      if (!mapped || !CopyIn(&count, mapped, sizeof count)) return ERROR_MORE_DATA;
      *returned = 4;
      device->m_stillCount = count;
      return ERROR_SUCCESS;
    }
    case CSPROPERTY_CAMERACONTROL_ADV_ARM_STILL_COUNT:
      device->m_stillRemaining = device->m_stillCount;
      return ERROR_SUCCESS;
    case CSPROPERTY_CAMERACONTROL_ADV_STOP_BEFORE_STILL: {
      void* mapped = MapCallerBuffer(out, outLength, 1, &error);
      if (!mapped) return ERROR_MORE_DATA;
      *returned = 1;
      uint8_t b = 0;
      if (get) {
        b = device->m_stopBeforeStill ? 1 : 0;
        return CopyOut(mapped, &b, 1) ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
      }
      if (!CopyIn(&b, mapped, 1)) return ERROR_INVALID_PARAMETER;
      device->m_stopBeforeStill = b != 0;
      return ERROR_SUCCESS;
    }
    case CSPROPERTY_CAMERACONTROL_ADV_RESTART_VIDEO: {
      PvlResult pr = device->Engine() ? device->Engine()->StartVideo() : PVL_E_NOTREADY;
      if (pr != PVL_OK) {
        NKDbgPrintfW(u"CAM_IOControl(%08x): Failed to resue video with result %d\r\n", device, pr);
        return ERROR_INVALID_PARAMETER;
      }
      return ERROR_SUCCESS;
    }
  }
  return ERROR_INVALID_PARAMETER;
}

// ---- Video proc amp ---------------------------------------------------------------------------

DWORD AdapterHandleVideoProcAmpRequests(CCameraDevice* device, void* in, DWORD inLength, void* out,
                                        DWORD outLength, DWORD* returned) {
  CSPROPERTY header;
  DWORD answer;
  if (!AdapterOpenTableRequest(in, inLength, out, outLength, returned, &header,
                               u"Invalid parameter for AdapterHandleVideoProcAmpRequests()\r\n",
                               u"AdapterHandleVideoProcAmpRequests(): Id=%d, Flags=%d\r\n", &answer))
    return answer;
  const uint32_t id = header.Id;
  const int index = VideoProcAmpRow(id);
  const DevicePropertyRecord* served =
      ServedRow(device, device->m_videoProcAmp.data(), index, id,
                u"CAM_IOControl(%08x): Unsupported VideoProcAmp property: Id=%d\r\n", &answer);
  if (!served) return answer;
  const DevicePropertyRecord& row = *served;
  if (AdapterReplyDescription(header.Flags, out, outLength, returned, row, &answer)) return answer;
  DWORD error = 0;
  if (header.Flags == CSPROPERTY_TYPE_GET) {
    void* mapped = MapCallerBuffer(out, outLength, sizeof(CSPROPERTY_VIDEOPROCAMP_S), &error);
    if (!mapped) return ERROR_MORE_DATA;
    PVLPropertyRecord engine;
    PvlResult pr = FetchEngineRecord(device, row, &engine, kFetchFailed);
    if (pr != PVL_OK) return ERROR_INVALID_PARAMETER;
    CSPROPERTY_VIDEOPROCAMP_S reply{};
    pr = TranslatePVLToVideoProcAmp(&reply, engine, row);
    if (pr != PVL_OK) {
      NKDbgPrintfW(u"Translation from PVL to DS property failed: PVLID=%x, result=%d\r\n", row.engineId, pr);
      return ERROR_FUNCTION_FAILED;
    }
    reply.Property = header;
    // A test tool reads back what it wrote, not the re-mapped value.
    if (VantorIsCameraLTKRunning() == 1 && g_remap[index].enabled) reply.Value = g_remap[index].lastClientValue;
    if (!CopyOut(mapped, &reply, sizeof reply)) return ERROR_INVALID_PARAMETER;
    *returned = sizeof reply;
    NKDbgPrintfW(u"Property successfully retrieved from Camera Engine: PVLID=%x, result=%d\r\n", row.engineId, pr);
    return ERROR_SUCCESS;
  }
  if (header.Flags != CSPROPERTY_TYPE_SET) {
    NKDbgPrintfW(u"CAM_IOControl(%08x): Invalid VideoProcAmp property request\r\n", device);
    return ERROR_INVALID_PARAMETER;
  }
  CSPROPERTY_VIDEOPROCAMP_S request;
  if (inLength < sizeof request || !CopyIn(&request, in, sizeof request)) return ERROR_MORE_DATA;
  if (!ValidFlags(request.Flags)) return ERROR_INVALID_PARAMETER;
  if (request.Flags == CSPROPERTY_FLAGS_MANUAL || request.Flags == CSPROPERTY_FLAGS_SELECTOR8) {
    if (request.Value < row.minimum || request.Value > row.maximum) {
      NKDbgPrintfW(u"Value outside VideoProcAmp property range: Id=%d, Value=%d\r\n", id, request.Value);
      return ERROR_INVALID_PARAMETER;
    }
    if (g_remap[index].enabled) {
      g_remap[index].lastClientValue = request.Value;
      request.Value = RemapVideoProcAmpValue(device, index, request.Value, row.minimum, row.maximum);
    }
  }
  return SetEngineRow(device, row, request, TranslateVideoProcAmpToPVL);
}

// ---- Video compression ------------------------------------------------------------------------

DWORD AdapterHandleVideoCompressionRequests(CCameraDevice* device, void* in, DWORD inLength, void* out,
                                            DWORD outLength, DWORD* returned) {
  CSPROPERTY header;
  DWORD answer;
  if (!AdapterOpenTableRequest(in, inLength, out, outLength, returned, &header,
                               u"Invalid parameter for AdapterHandleVideoCompressionRequests()\r\n",
                               u"AdapterHandleVideoCompressionRequests(): Id=%d, Flags=%d\r\n", &answer))
    return answer;
  const uint32_t id = header.Id;
  if (id > kVideoCompressionRows) {
    NKDbgPrintfW(u"CAM_IOControl(%08x): Invalid Property: Id=%d\r\n", device, id);
    return ERROR_INVALID_PARAMETER;
  }
  const DevicePropertyRecord& quality = device->m_videoCompression[VideoCompressionRow(CSPROPERTY_VIDEOCOMPRESSION_QUALITY)];
  auto stillPort = [&](uint32_t pin, IProperties** props) -> DWORD {
    if (!device->IsValidPin(pin) || pin != CS_PIN_STILL) {
      NKDbgPrintfW(u"CAM_IOControl(%08x): Invalid Pin: Id=%d\r\n", device, pin);
      return ERROR_INVALID_PARAMETER;
    }
    const PinEntry& entry = device->Pin(pin);
    if (!entry.pin || !entry.portProperties) {
      NKDbgPrintfW(u"CAM_IOControl(%08x): Invalid state for AdapterHandleVideoCompressionRequests()\r\n", device);
      return ERROR_INVALID_STATE;
    }
    *props = entry.portProperties;
    return ERROR_SUCCESS;
  };
  DWORD error = 0;
  if (id == CSPROPERTY_VIDEOCOMPRESSION_GETINFO) {
    // Basic support of the information: its one fixed range, the quality settings.
    if (header.Flags == CSPROPERTY_TYPE_BASICSUPPORT) return AdapterReplyBasicSupport(out, outLength, returned, quality);
    if (header.Flags != CSPROPERTY_TYPE_GET && header.Flags != CSPROPERTY_TYPE_DEFAULTVALUES) {
      NKDbgPrintfW(u"CAM_IOControl(%08x): Invalid VideoCompression property request\r\n", device);
      return ERROR_INVALID_PARAMETER;
    }
    CSPROPERTY_VIDEOCOMPRESSION_GETINFO_S info;
    if (inLength < sizeof info || !CopyIn(&info, in, sizeof info)) return ERROR_MORE_DATA;
    IProperties* props = nullptr;
    DWORD r = stillPort(info.StreamIndex, &props);
    if (r != ERROR_SUCCESS) return r;
    *returned = sizeof info;
    void* mapped = MapCallerBuffer(out, outLength, sizeof info, &error);
    if (!mapped) return ERROR_MORE_DATA;
    info.Property = header;
    info.DefaultKeyFrameRate = 1;
    info.DefaultPFrameRate = 1;
    info.DefaultQuality = quality.defaultValue;
    info.NumberOfQualitySettings = quality.maximum - quality.minimum + 1;
    info.Capabilities = 1;
    return CopyOut(mapped, &info, sizeof info) ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
  }
  const DevicePropertyRecord& row = device->m_videoCompression[VideoCompressionRow(id)];
  if (id != CSPROPERTY_VIDEOCOMPRESSION_QUALITY) {
    if (header.Flags == CSPROPERTY_TYPE_BASICSUPPORT) return AdapterReplyBasicSupport(out, outLength, returned, row);
    NKDbgPrintfW(u"CAM_IOControl(%08x): Unsupported VideoCompression property: Id=%d\r\n", device, id);
    return ERROR_NOT_SUPPORTED;
  }
  if (AdapterReplyDescription(header.Flags, out, outLength, returned, row, &answer)) return answer;
  if (header.Flags != CSPROPERTY_TYPE_GET && header.Flags != CSPROPERTY_TYPE_SET) {
    NKDbgPrintfW(u"CAM_IOControl(%08x): Invalid VideoCompression property request\r\n", device);
    return ERROR_INVALID_PARAMETER;
  }
  CSPROPERTY_VIDEOCOMPRESSION_S request;
  if (inLength < sizeof request || !CopyIn(&request, in, sizeof request)) return ERROR_MORE_DATA;
  if (!device->IsValidPin(request.StreamIndex) || request.StreamIndex != CS_PIN_STILL) {
    NKDbgPrintfW(u"CAM_IOControl(%08x): Invalid pin: Id=%d\r\n", device, request.StreamIndex);
    return ERROR_INVALID_PARAMETER;
  }
  IProperties* props = nullptr;
  DWORD r = stillPort(request.StreamIndex, &props);
  if (r != ERROR_SUCCESS) return r;
  if (header.Flags == CSPROPERTY_TYPE_GET) {
    void* mapped = MapCallerBuffer(out, outLength, sizeof request, &error);
    if (!mapped) return ERROR_MORE_DATA;
    PvlValueRecord v{};
    v.type = row.type;
    PvlResult pr = props->GetProperty(row.engineId, &v);
    if (pr != PVL_OK) {
      NKDbgPrintfW(u"Could not retrieve property from Camera Port: PVLID=%x, result=%d\r\n", row.engineId, pr);
      return ERROR_INVALID_PARAMETER;
    }
    CSPROPERTY_VIDEOCOMPRESSION_S reply{};
    pr = TranslatePVLToVideoCompression(&reply, row.engineId, v, row, CS_PIN_STILL);
    if (pr != PVL_OK) {
      NKDbgPrintfW(u"Translation from PVL to DS property failed: PVLID=%x, result=%d\r\n", row.engineId, pr);
      return ERROR_FUNCTION_FAILED;
    }
    reply.Property = header;
    if (!CopyOut(mapped, &reply, sizeof reply)) return ERROR_INVALID_PARAMETER;
    *returned = sizeof reply;
    NKDbgPrintfW(u"Property successfully retrieved from Camera Port: PVLID=%x, result=%d\r\n", row.engineId, pr);
    return ERROR_SUCCESS;
  }
  if (request.Value < row.minimum || request.Value > row.maximum) {
    NKDbgPrintfW(u"Value outside VideoCompression property range: Id=%d, Value=%d\r\n", id, request.Value);
    return ERROR_INVALID_PARAMETER;
  }
  PvlValueRecord v;
  PvlResult pr = TranslateVideoCompressionToPVL(&v, request, row);
  if (pr != PVL_OK) {
    NKDbgPrintfW(u"Translation from DS to PVL property failed: PVLID=%x, result=%d\r\n", row.engineId, pr);
    return ERROR_INVALID_PARAMETER;
  }
  for (uint32_t target : {ZUEUID_PROPERTY_JPEG_QUALITY, ZUEUID_PROPERTY_JPEG_THUMBNAIL_QUALITY}) {
    pr = props->SetProperty(target, &v);
    if (pr != PVL_OK) {
      NKDbgPrintfW(u"Could not set property on Camera Port: PVLID=%x, result=%d\r\n", target, pr);
      return ERROR_INVALID_PARAMETER;
    }
  }
  NKDbgPrintfW(u"Property successfully set on Camera Port: PVLID=%x, result=%d\r\n", row.engineId, pr);
  return ERROR_SUCCESS;
}

// ---- The maker's set --------------------------------------------------------------------------

namespace {

DWORD FocusZones(CCameraDevice* device, uint32_t mask) {
  const uint32_t z = (mask >> 8) & 0xFFu;
  const int32_t c = int32_t(z % 16), row = int32_t(z / 16);
  if (c == 7 && row == 8) {
    CPvlRect rects[16];
    int n = 0;
    for (int32_t left : {4, 6, 8, 10})
      for (int32_t top : {4, 6, 8, 10}) rects[n++] = {left, top, left + 1, top + 1};
    return SendFocusRects(device, rects, 16);
  }
  CPvlRect one{c, row, c + 1, row + 1};
  return SendFocusRects(device, &one, 1);
}

// A focus started in an auto-flash mode reports status 3 when it completes. The flag
// is raised before the request, so that a focus quicker than this thread still sees it.
DWORD StartAutoFlashFocus(CCameraDevice* device) {
  g_autoFlashFocus = 1;
  DWORD r = SendCameraControl(device, CSPROPERTY_CAMERACONTROL_FOCUS_CONTROL, CS_FOCUS_CONTROL_SINGLE, 2);
  if (r != ERROR_SUCCESS) g_autoFlashFocus = 0;
  return r;
}

DWORD AutoFocus(CCameraDevice* device, uint32_t v) {
  switch (v) {
    case VANTOR_AUTO_FOCUS_DISABLE:
      NKDbgPrintfW(u"AUTO_FOCUS_DISABLE\r\n");
      return SendCameraControl(device, CSPROPERTY_CAMERACONTROL_FOCUS_CONTROL, CS_FOCUS_CONTROL_STOP, 2);
    case VANTOR_AUTO_FOCUS_ENABLE:
      NKDbgPrintfW(u"AUTO_FOCUS_ENABLE\r\n");
      return SendCameraControl(device, CSPROPERTY_CAMERACONTROL_FOCUS_CONTROL, CS_FOCUS_CONTROL_SINGLE, 2);
    case 2:
      return ERROR_SUCCESS;
    case VANTOR_AUTO_FOCUS_AUTO_FLASH: {
      NKDbgPrintfW(u"AUTO_FOCUS_AUTO_FLASH\r\n");
      DWORD r = SendCameraControl(device, CSPROPERTY_CAMERACONTROL_LAMP_MODE, 0, 8);
      if (r != ERROR_SUCCESS) {
        NKDbgPrintfW(u"AUTO_FOCUS_AUTO_FLASH failed = %d\r\n", r);
      } else {
        FocusZones(device, device->m_autoFocusZones);
      }
      return StartAutoFlashFocus(device);
    }
    case VANTOR_AUTO_FOCUS_AUTO_FLASH_NO_TOUCH: {
      NKDbgPrintfW(u"AUTO_FOCUS_AUTO_FLASH_NO_TOUCH\r\n");
      DWORD r = SendCameraControl(device, CSPROPERTY_CAMERACONTROL_LAMP_MODE, 0, 8);
      if (r != ERROR_SUCCESS) NKDbgPrintfW(u"AUTO_FOCUS_AUTO_FLASH_NO_TOUCH failed = %d\r\n", r);
      NKDbgPrintfW(u"AUTO_FOCUS_ENABLE\r\n");
      return StartAutoFlashFocus(device);
    }
  }
  device->m_autoFocusZones = v;
  NKDbgPrintfW(u"AUTO_FOCUS_ZONES_MASK = %x\r\n", v);
  FocusZones(device, v);
  return SendCameraControl(device, CSPROPERTY_CAMERACONTROL_FOCUS_CONTROL, CS_FOCUS_CONTROL_SINGLE, 2);
}

DWORD Zoom(CCameraDevice* device, uint32_t step) {
  CSPROPERTY_VIDEOPROCAMP_S request =
      MakeRecord(PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_ZOOM_MAGNIFICATION, CSPROPERTY_TYPE_BASICSUPPORT, 0, 0);
  CSPROPERTY_BASICSUPPORT_REPLY limits{};
  DWORD returned = 0;
  DWORD r = AdapterHandleCameraControlRequests(device, &request, sizeof request, &limits, sizeof limits, &returned);
  if (r != ERROR_SUCCESS) return r;
  const double minF = limits.Stepping.SignedMinimum / 100.0, maxF = limits.Stepping.SignedMaximum / 100.0;
  // Bounded: a step far away moves no further than the limits.
  uint32_t n = step > device->m_zoomStep ? step - device->m_zoomStep : device->m_zoomStep - step;
  if (n > 1000) n = 1000;
  for (uint32_t i = 0; i < n; ++i) {
    if (step <= device->m_zoomStep) {
      device->m_totalZoom /= 1.023;
      if (device->m_totalZoom < minF) device->m_totalZoom = minF;
    } else {
      device->m_totalZoom *= 1.023;
      if (device->m_totalZoom > maxF) device->m_totalZoom = maxF;
    }
  }
  NKDbgPrintfW(u"g_dTotalZoomFactor = %d.%03d\r\n", int(device->m_totalZoom),
               int(std::fmod(device->m_totalZoom, 1.0) * 1000));
  const uint32_t width = OstrelPinGlobals().stillWidth;
  const double sensorLimit = width == 2592 ? 1.0 : width == 2048 ? 1.26 : 1.6;
  double extra = device->m_totalZoom >= sensorLimit ? device->m_totalZoom / sensorLimit : 1.0;
  SendJpeg(device, VANTOR_JPEG_CROP_FACTOR, &extra, sizeof extra);  // no still stream yet: the crop waits for one
  device->m_zoomStep = step;
  return SendCameraControl(device, CSPROPERTY_CAMERACONTROL_ZOOM_MAGNIFICATION, int32_t(device->m_totalZoom * 100.0), 2);
}

void ReadRegistryString(const WCHAR* path, const WCHAR* name, char* out, size_t size) {
  out[0] = 0;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  WCHAR text[64] = {};
  DWORD type = 0, bytes = sizeof text - sizeof(WCHAR);
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(text), &bytes) == ERROR_SUCCESS &&
      type == REG_SZ) {
    size_t i = 0;
    for (; i + 1 < size && text[i]; ++i) out[i] = char(text[i] < 128 ? text[i] : '?');
    out[i] = 0;
  }
  RegCloseKey(key);
}

// The client's 32 bytes: orientation (u16), flash (u16), then the date and time as
// year, month, day, hour, minute, second (u16 each), then 16 bytes kept for later.
struct ExifInfoBlock {
  uint16_t orientation;
  uint16_t flash;
  uint16_t year, month, day, hour, minute, second;
  uint8_t reserved[16];
};
static_assert(sizeof(ExifInfoBlock) == 32);

DWORD ExifInformation(CCameraDevice* device, void* out, DWORD outLength) {
  ExifInfoBlock block;
  if (outLength < sizeof block || !CopyIn(&block, out, sizeof block)) return ERROR_INVALID_PARAMETER;
  CPinDevice* still = device->IsValidPin(CS_PIN_STILL) ? device->Pin(CS_PIN_STILL).pin : nullptr;
  if (!still) return ERROR_INVALID_STATE;
  char make[64], model[64], when[20];
  ReadRegistryString(u"Software\\Vantor\\Camera\\Captparam\\ExifInfo", u"Make", make, sizeof make);
  ReadRegistryString(u"Software\\Vantor\\Camera\\Captparam\\ExifInfo", u"Model", model, sizeof model);
  static const char kSoftware[] = "Ostrel";
  snprintf(when, sizeof when, "%04u:%02u:%02u %02u:%02u:%02u", block.year % 10000u, block.month % 100u,
           block.day % 100u, block.hour % 100u, block.minute % 100u, block.second % 100u);
  struct Tag {
    uint32_t tag;
    uint16_t type;
    const void* value;
    uint32_t length;
  } tags[] = {
      {271, 2, make, uint32_t(strlen(make) + 1)},   {272, 2, model, uint32_t(strlen(model) + 1)},
      {305, 2, kSoftware, sizeof kSoftware},        {306, 2, when, sizeof when},
      {36867, 2, when, sizeof when},                {36868, 2, when, sizeof when},
      {274, 3, &block.orientation, 2},              {37385, 3, &block.flash, 2},
  };
  DWORD result = ERROR_SUCCESS;
  for (const Tag& t : tags) {
    if (t.length <= 1 && t.type == 2) continue;  // no such registry value
    PropertyItem item{t.tag, t.length, uint16_t(t.type), 0, reinterpret_cast<uintptr_t>(t.value)};
    CSPROPERTY header{VANTOR_PROPSETID_EXIF, VANTOR_EXIF_TAG, CSPROPERTY_TYPE_SET};
    DWORD returned = 0;
    DWORD r = still->HandleExifRequest(&header, sizeof header, &item, sizeof item, &returned);
    if (r != ERROR_SUCCESS) result = r;
  }
  return result;
}

}  // namespace

DWORD AdapterHandleVantorPropertyRequests(CCameraDevice* device, void* in, DWORD inLength, void* out,
                                          DWORD outLength, DWORD* returned) {
  if (!in || inLength < sizeof(CSPROPERTY) || (!out && outLength)) {
    NKDbgPrintfW(u"Invalid parameter for AdapterHandleVantorPropertyRequests()\r\n");
    return ERROR_INVALID_PARAMETER;
  }
  CSPROPERTY header;
  if (!CopyIn(&header, in, sizeof header)) return ERROR_INVALID_PARAMETER;
  NKDbgPrintfW(u"AdapterHandleVantorPropertyRequests(): Id=%u, Flags=%u\r\n", header.Id, header.Flags);
  if (header.Flags == CSPROPERTY_TYPE_SETSUPPORT) return ERROR_SUCCESS;
  if (!out || outLength < sizeof(uint32_t)) {
    NKDbgPrintfW(u"pOutBuf is NULL\r\n");
    return ERROR_INVALID_PARAMETER;
  }
  if (returned) *returned = 0;
  if (header.Flags == CSPROPERTY_TYPE_GET) {
    if (header.Id != VANTOR_PROPERTY_FLASH_MODE) return ERROR_INVALID_PARAMETER;
    SetSnapshotStatus(1);
    uint32_t required = GetAutoFlashRequired();
    if (!CopyOut(out, &required, sizeof required)) return ERROR_INVALID_PARAMETER;
    if (returned) *returned = sizeof required;
    return ERROR_SUCCESS;  // served: the client has its answer
  }
  if (header.Flags != CSPROPERTY_TYPE_SET) return ERROR_INVALID_PARAMETER;
  uint32_t v = 0;
  if (!CopyIn(&v, out, sizeof v)) return ERROR_INVALID_PARAMETER;
  switch (header.Id) {
    case VANTOR_PROPERTY_ANTIBANDING:
      if (v == 1 || v == 4) return SendCameraControl(device, CSPROPERTY_CAMERACONTROL_ANTIBANDING, 60, 2);
      if (v == 2) return SendCameraControl(device, CSPROPERTY_CAMERACONTROL_ANTIBANDING, 50, 2);
      return ERROR_INVALID_PARAMETER;
    case VANTOR_PROPERTY_IMAGE_EFFECT: {
      struct Effect {
        uint32_t code;
        int32_t value;
        uint32_t flags;
      } static const kEffects[] = {{1, 0, 4}, {2, 1, 8}, {4, 3, 8}, {8, 0, 4}, {16, 2, 8}, {128, 4, 8}, {256, 0, 4}};
      for (const Effect& e : kEffects)
        if (e.code == v) return SendProcAmp(device, CSPROPERTY_VIDEOPROCAMP_IMAGE_EFFECT, e.value, e.flags);
      return ERROR_INVALID_PARAMETER;
    }
    case VANTOR_PROPERTY_METERING:
      if (v == 1 || v == 2) return SendCameraControl(device, CSPROPERTY_CAMERACONTROL_METERING, v == 1 ? 1 : 0, 2);
      return ERROR_INVALID_PARAMETER;
    case VANTOR_PROPERTY_AUTO_FOCUS:
      return AutoFocus(device, v);
    case VANTOR_PROPERTY_FLASH_MODE: {
      uint32_t flags = v == VANTOR_FLASH_MODE_OFF ? 4 : v == VANTOR_FLASH_MODE_ON ? 8 : v == VANTOR_FLASH_MODE_AUTO ? 1 : 0;
      if (!flags) return ERROR_INVALID_PARAMETER;
      NKDbgPrintfW(v == VANTOR_FLASH_MODE_OFF  ? u"MODE_CAMERA_FLASH_OFF\r\n"
                   : v == VANTOR_FLASH_MODE_ON ? u"MODE_CAMERA_FLASH_ON\r\n"
                                               : u"MODE_CAMERA_FLASH_AUTO\r\n");
      SendCameraControl(device, CSPROPERTY_CAMERACONTROL_SNAPSHOT_FLASH_MODE, 0, flags);
      return SendCameraControl(device, CSPROPERTY_CAMERACONTROL_LAMP_MODE, 0, flags);
    }
    case VANTOR_PROPERTY_JPEG_ROTATION:
      return SendJpegValue(device, VANTOR_JPEG_ROTATION, int32_t(v));
    case VANTOR_PROPERTY_ZOOM:
      return Zoom(device, v);
    case VANTOR_PROPERTY_TIME_STAMP: {
      CameraTimeStampInfo info;
      if (outLength < sizeof info || !CopyIn(&info, out, sizeof info) || !VantorUpdateTimeStamp(&info)) {
        NKDbgPrintfW(u"CVantorUpdateTimeStamp failed for incoming buffer.\r\n");
        return ERROR_INVALID_PARAMETER;
      }
      return ERROR_SUCCESS;
    }
    case VANTOR_PROPERTY_EXIF_INFORMATION:
      return ExifInformation(device, out, outLength);
    case VANTOR_PROPERTY_JPEG_QUALITY: {
      DWORD r = SendJpegValue(device, VANTOR_JPEG_QUALITY, int32_t(v));
      if (r != ERROR_SUCCESS) return r;
      return SendJpegValue(device, VANTOR_JPEG_THUMBNAIL_QUALITY, int32_t(v));
    }
    case VANTOR_PROPERTY_FLASH_INTENSITY:
      if (v <= 1) return SendCameraControl(device, CSPROPERTY_CAMERACONTROL_SNAPSHOT_FLASH_INTENSITY, int32_t(v), 2);
      return ERROR_INVALID_PARAMETER;
    case VANTOR_PROPERTY_TOUCH_EXPOSURE: {
      if (v <= 1) return ERROR_SUCCESS;
      NKDbgPrintfW(u"TOUCH_AEC_ZONE_MASK = %x\r\n", v);
      const uint32_t z = (v >> 8) & 0xFFu, c = z % 16, row = z / 16;
      const int32_t rowBand = row <= 4 ? 0 : row <= 10 ? 1 : 2;
      const int32_t colBand = c <= 3 ? 0 : c <= 8 ? 1 : 2;  // columns 13-15 with the right band
      return SendCameraControl(device, CSPROPERTY_CAMERACONTROL_METERING, 3 + 3 * rowBand + colBand, 2);
    }
    case VANTOR_PROPERTY_PRE_FLASH: {
      ICameraEngine* control = device->EngineControl();
      if (control)
        control->StartPreSnapshotFlash(reinterpret_cast<uintptr_t>(device->PreFlashSignalControl()));
      return ERROR_SUCCESS;
    }
  }
  return ERROR_SUCCESS;
}
