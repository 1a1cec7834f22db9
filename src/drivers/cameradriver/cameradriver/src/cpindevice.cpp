// The pin handle: instantiation, the connection set (state, format, framing), the
// stream-state machine, the client's buffers and the capture thread.
//
// A frame normally reaches the client without a copy: in allocation modes 1 and 2
// the client's buffers are the frame buffers of the pool the pin hands to its port,
// so the capture thread only finds the entry that owns the frame and tells the
// client. Only when the client's memory is not physically contiguous (the fallback)
// does the pool own its memory, and the thread copies each frame out (NV21 turned
// into YV12 for a YV12 pin, as it is for any other format).
#include "cpindevice.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

#include "ccameradevice.h"
#include "chipset.h"
#include "formattranslation.h"
#include "nv21toyv12.h"
#include "plindor.h"

namespace {

constexpr DWORD kNotActive = 1062;
constexpr uint32_t kVideoSource = 0x0106E42Au;  // the video outputs' pools
constexpr uint32_t kStillSource = ZUEUID_BUFFER_SOURCE_CONTIGUOUS;
constexpr DWORD kThreadEndWaitMs = 1000;
constexpr DWORD kMessageWriteTimeoutMs = 250;

template <typename T>
void ReleaseAndClear(T*& p) {
  if (p) p->Release();
  p = nullptr;
}

const WCHAR* StateName(uint32_t s) {
  switch (s) {
    case CSSTATE_STOP: return u"STOP";
    case CSSTATE_PAUSE: return u"PAUSE";
    case CSSTATE_RUN: return u"RUN";
  }
  return u"UNKNOWN";
}

bool CopyIn(void* dst, const void* src, DWORD length) { return src && CeSafeCopyMemory(dst, src, length); }

// The buffer table's lock for one scope.
class TableLock {
 public:
  explicit TableLock(PinBufferTable* table) : m_lock(&table->lock) { EnterCriticalSection(m_lock); }
  ~TableLock() { LeaveCriticalSection(m_lock); }
  TableLock(const TableLock&) = delete;
  TableLock& operator=(const TableLock&) = delete;

 private:
  CRITICAL_SECTION* m_lock;
};
bool CopyOut(void* dst, const void* src, DWORD length) { return dst && CeSafeCopyMemory(dst, src, length); }

PinGlobals g_pinGlobals;

}  // namespace

// clang-format off
const DSPropertyMapEntry g_JpegEncodePropMap[kPinJpegProperties] = {
  // id                          engine property                         type           step min max  def dflg caps supp
  {VANTOR_JPEG_QUALITY,           ZUEUID_PROPERTY_JPEG_QUALITY,           PVL_VT_UINT32, 1, 1, 100,  75, 2, 2, 1},
  {VANTOR_JPEG_THUMBNAIL_QUALITY, ZUEUID_PROPERTY_JPEG_THUMBNAIL_QUALITY, PVL_VT_UINT32, 1, 1, 100,  75, 2, 2, 1},
  {VANTOR_JPEG_ROTATION,          ZUEUID_PROPERTY_JPEG_ROTATION,          PVL_VT_INT32,  1, 0, 360,   0, 2, 2, 1},
  {VANTOR_JPEG_OPTION,            ZUEUID_PROPERTY_JPEG_OPTION,            PVL_VT_UINT8,  1, 0,   1,   0, 2, 2, 1},
  {VANTOR_JPEG_CROP_FACTOR,       0,                                      PVL_VT_EMPTY,  1, 1,   4,   1, 2, 2, 1},
};
// clang-format on

PinGlobals& OstrelPinGlobals() { return g_pinGlobals; }

CPinDevice::CPinDevice() {
  m_shutterEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  m_triggerEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!g_pinGlobals.actionScreen) g_pinGlobals.actionScreen = VantorGetActionScreenVirtBuffer();
  std::memcpy(m_jpeg, g_JpegEncodePropMap, sizeof m_jpeg);
}

CPinDevice::~CPinDevice() {
  NKDbgPrintfW(u"[%s] Destroying CPinDevice\r\n", Name());
  Close();
  if (m_shutterEvent) CloseHandle(m_shutterEvent);
  if (m_triggerEvent) CloseHandle(m_triggerEvent);
}

const WCHAR* CPinDevice::Name() const {
  static const WCHAR* const kNames[] = {u"Capture", u"Still", u"Preview", u"Thumbnail"};
  return m_pinId < 4 ? kNames[m_pinId] : u"UNKNOWN";
}

BOOL CPinDevice::InitializeSubDevice(CCameraDevice* device) {
  if (!device) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // The environment is the open camera's, taken from the device when it is needed:
  // the pin may outlive one opening of the camera.
  m_device = device;
  return TRUE;
}

void CPinDevice::Close() {
  m_exit = 1;
  if (m_ownsSlot) {
    if (m_pinId == CS_PIN_STILL) m_snapshotAllowed = 0;
    if (m_state != CSSTATE_STOP) m_device->StopVideo(m_pinId);
    if (m_port && m_state != CSSTATE_STOP) m_port->Stop();
  }
  EndCaptureThread();
  m_state = CSSTATE_STOP;
  FreeBuffers();
  if (m_clientQueue) CloseMsgQueue(m_clientQueue);
  m_clientQueue = nullptr;
  if (m_ownsSlot) m_device->RemovePinInstance(m_pinId);
  m_ownsSlot = false;
  ReleaseAndClear(m_portProperties);
  ReleaseAndClear(m_port);
}

void CPinDevice::OnDeviceUnprepared() {
  if (!m_ownsSlot) return;
  m_exit = 1;
  if (m_pinId == CS_PIN_STILL) m_snapshotAllowed = 0;
  if (m_port) m_port->Stop();
  EndCaptureThread();
  if (!SharesBufferTable()) ReturnQueuedBuffers();
  m_state = CSSTATE_STOP;
  m_videoStarted = m_thumbnailStarted = 0;
  FreeBuffers();
  m_ownsSlot = false;  // the device forgets its slots itself
  ReleaseAndClear(m_portProperties);
  ReleaseAndClear(m_port);
}

uint32_t CPinDevice::CompressionCode() const { return VideoInfoCompressionCode(m_range.VideoInfoHeader); }

void CPinDevice::ShareBufferTable(CPinDevice* preview) {
  if (preview && preview != this) m_table = &preview->m_ownTable;
}

void CPinDevice::ReceiveBuffersOf(const CPinDevice& preview) {
  if (m_bufferManager != preview.m_bufferManager) {
    ReleaseAndClear(m_bufferManager);
    m_bufferManager = preview.m_bufferManager;
    if (m_bufferManager) m_bufferManager->AddRef();
  }
  m_clientMemoryFallback = preview.m_clientMemoryFallback;
}

// ---- Instantiation --------------------------------------------------------------------

DWORD CPinDevice::StreamInstantiate(const CSPROPERTY_STREAMEX_S& request, void* out, DWORD outLength,
                                    DWORD* returned) {
  if ((!out && outLength) || !returned) {
    NKDbgPrintfW(u"PIN_IOControl(%08x): Invalid parameter for StreamInstantiate()\r\n", this);
    return ERROR_INVALID_PARAMETER;
  }
  if (m_pinId != CS_PIN_NONE) {
    NKDbgPrintfW(u"PIN_IOControl(%08x): \"%s\" pin is already instantiated\r\n", this, Name());
    return ERROR_INVALID_PARAMETER;
  }
  if (!m_device->IsValidPin(request.PinId)) {
    NKDbgPrintfW(u"PIN_IOControl(%08x): Invalid Pin Id: %d\r\n", this, request.PinId);
    return ERROR_INVALID_PARAMETER;
  }
  // A handle opened before another process took the camera gets none of its streams.
  if (!m_device->MayUsePins(GetCallerProcess())) {
    NKDbgPrintfW(u"PIN_IOControl(%08x): the camera belongs to another process\r\n", this);
    return ERROR_ACCESS_DENIED;
  }
  // The handle stays bound to the pin even when a later step fails, but it touches
  // the device's slot and the shared port only once it owns them.
  m_pinId = request.PinId;
  if (!request.hMsgQueue) {
    NKDbgPrintfW(u"[%s] NULL Handle provided for msgqueue\r\n", Name());
    return ERROR_INVALID_PARAMETER;
  }
  // The slot first: a second handle must not reconfigure the port another streams on.
  if (!m_device->AddPinInstance(m_pinId, this)) {
    NKDbgPrintfW(u"[%s] Only one instance of this pin is allowed\r\n", Name());
    return ERROR_INVALID_PARAMETER;
  }
  DWORD result = ERROR_INVALID_PARAMETER;
  auto fail = [&](DWORD code) {
    m_device->RemovePinInstance(m_pinId);
    ReleaseAndClear(m_portProperties);
    ReleaseAndClear(m_port);
    return code;
  };
  if (!m_device->GetPort(m_pinId, &m_port)) {
    m_port = nullptr;
    NKDbgPrintfW(u"[%s] No port provided for pin\r\n", Name());
    return fail(ERROR_INVALID_PARAMETER);
  }
  if (m_port->QueryInterface(ZUEUID_IFACE_PROPERTIES_ALT, reinterpret_cast<void**>(&m_portProperties)) != PVL_OK ||
      !m_portProperties) {
    m_portProperties = nullptr;
    NKDbgPrintfW(u"[%s] CameraPort does not support ImProperties\r\n", Name());
    return fail(ERROR_FUNCTION_FAILED);
  }
  ReadBufferMode();
  const CS_DATARANGE_VIDEO* range = nullptr;
  if (!m_device->GetDataRange(m_pinId, 0, &range)) {
    NKDbgPrintfW(u"[%s] No pin format provided for pin\r\n", Name());
    return fail(ERROR_INVALID_PARAMETER);
  }
  m_range = *range;
  const CS_BITMAPINFOHEADER& bmi = m_range.VideoInfoHeader.bmiHeader;
  NKDbgPrintfW(u"[%s] Setting initial m_CsDataRangeVideo to: W=%d, H=%d, D=%d, S=%d, FR=%d, FCC=%x\r\n", Name(),
               bmi.biWidth, bmi.biHeight, bmi.biBitCount, bmi.biSizeImage,
               int32_t(m_range.VideoInfoHeader.AvgTimePerFrame), bmi.biCompression);
  if (!ConfigurePort()) {
    NKDbgPrintfW(u"[%s] Could not update camera port configuration\r\n", Name());
    return fail(ERROR_FUNCTION_FAILED);
  }
  MSGQUEUEOPTIONS options{};
  options.dwSize = sizeof options;
  options.bReadAccess = FALSE;
  m_clientQueue = OpenMsgQueue(GetCallerProcess(), reinterpret_cast<HANDLE>(uintptr_t(request.hMsgQueue)), &options);
  if (!m_clientQueue) {
    NKDbgPrintfW(u"[%s] Failed to open MsgQueue\r\n", Name());
    return fail(ERROR_INVALID_PARAMETER);
  }
  m_ownsSlot = true;
  result = ERROR_SUCCESS;
  return result;
}

void CPinDevice::ReadBufferMode() {
  const WCHAR* name = m_pinId == CS_PIN_CAPTURE ? u"CaptureBufferAllocationMode"
                      : m_pinId == CS_PIN_STILL ? u"StillBufferAllocationMode"
                                                : u"PreviewBufferAllocationMode";
  DWORD fallback = m_pinId == CS_PIN_STILL ? kBufferModeDriver : kBufferModeClient;
  DWORD mode = ReadPinSetting(name, fallback);
  if (mode != kBufferModeDriver && mode != kBufferModeClient && mode != kBufferModeClientAny) mode = fallback;
  m_bufferMode = mode;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Apps\\KorCamcorder", 0, KEY_READ, &key) == ERROR_SUCCESS) {
    DWORD v = 0, type = 0, size = sizeof v;
    if (RegQueryValueExW(key, u"EnableBufferMessages", nullptr, &type, reinterpret_cast<LPBYTE>(&v), &size) ==
            ERROR_SUCCESS &&
        type == REG_DWORD && size == sizeof v && v) {
      m_bufferMessages = v;
      NKDbgPrintfW(u"[%s] Enabling buffer messages\r\n", Name());
    }
    RegCloseKey(key);
  }
}

// ---- Port configuration ---------------------------------------------------------------

bool CPinDevice::ConfigurePort() {
  CameraPortFormat format;
  VideoInfoToPortFormat(m_range.VideoInfoHeader, &format);
  uint32_t fixed = 0;
  if (!m_device->GetFixedFrameRate(&fixed)) return false;
  format.AutoFrameRate = fixed == 0 ? 1 : 0;
  if (m_port->SetFormat(&format) != PVL_OK) return false;
  NKDbgPrintfW(u"[%s] Set camera port config to: W=%d, H=%d, D=%d, FR=%d, FCC=%x\r\n", Name(), format.Width,
               format.Height, format.Depth, format.FrameInterval, format.FourCC);
  if (m_pinId == CS_PIN_STILL) {
    uint32_t fourcc = CompressionCode();
    if (fourcc == kFourccIJPG) {
      if (VantorIsCameraLTKRunning() == 1) m_bufferMode = kBufferModeDriver;
      if (!LoadJpegDefaults()) return false;
    } else if (fourcc == 0) {
      m_bufferMode = kBufferModeDriver;
    } else {
      m_bufferMode = kBufferModeClient;
    }
  }
  UpdateBufferRequirements();
  return true;
}

bool CPinDevice::LoadJpegDefaults() {
  std::memcpy(m_jpeg, g_JpegEncodePropMap, sizeof m_jpeg);
  for (const DSPropertyMapEntry& row : m_jpeg) {
    if (!row.supported || !row.engineId) continue;
    CSPROPERTY_VIDEOPROCAMP_S client{};
    CreateDSPropertyFromDefaults(row, &client);
    PvlValueRecord value{};
    PvlResult r = TranslateJpegToPVL(&value, nullptr, client, row);
    if (r == kTranslateUnsupported) continue;
    if (r != PVL_OK) {
      NKDbgPrintfW(u"[%s] Translation from DS to PVL property failed: PVLID=%x, result=%d\r\n", Name(), row.engineId,
                   r);
      return false;
    }
    r = m_portProperties->SetProperty(row.engineId, &value);
    if (r != PVL_OK && r != PVL_E_BADARG) {
      NKDbgPrintfW(u"[%s] Could not set property on Camera Port: PVLID=%x, result=%d\r\n", Name(), row.engineId, r);
      return false;
    }
  }
  return true;
}

bool CPinDevice::UpdateBufferRequirements() {
  uint32_t count = 0;
  PvlResult r = m_port->GetBufferRequirements(nullptr, 0, &count);
  if (r != PVL_OK) {
    NKDbgPrintfW(u"[%s] Could not get buffer requirements from Camera Port: result=%d\r\n", Name(), r);
    return false;
  }
  const uint32_t imageSize = m_range.VideoInfoHeader.bmiHeader.biSizeImage;
  BufferRequest chosen{};
  if (count == 0) {
    chosen.count = 4;
    chosen.size = imageSize;
    chosen.source = kStillSource;
    chosen.passThrough0 = imageSize;
    chosen.alignment = 8;
  } else {
    if (uint64_t(count) * sizeof(BufferRequest) > std::numeric_limits<uint32_t>::max()) {
      SetLastError(ERROR_ARITHMETIC_OVERFLOW);
      return false;
    }
    std::unique_ptr<BufferRequest[]> list(new (std::nothrow) BufferRequest[count]());
    if (!list) return false;
    uint32_t filled = count;
    if (m_port->GetBufferRequirements(list.get(), count, &filled) != PVL_OK || filled == 0) return false;
    if (filled < count) count = filled;
    chosen = list[0];
    const uint32_t wanted = m_pinId == CS_PIN_STILL ? kStillSource : kVideoSource;
    for (uint32_t i = 0; i < count; ++i) {
      if (list[i].source == wanted) {
        chosen = list[i];
        break;
      }
    }
    if (m_pinId == CS_PIN_STILL) chosen.count = 1;
    if (m_pinId == CS_PIN_CAPTURE) chosen.count += 1;
    if (m_pinId == CS_PIN_PREVIEW) {
      NKDbgPrintfW(u"[%s] nBuffers: old=%u, new=%u\r\n", Name(), chosen.count, chosen.count + 2);
      chosen.count += 2;
    }
  }
  if (chosen.size < imageSize) chosen.size = imageSize;
  m_requirements = chosen;
  if (!SharesBufferTable()) m_table->frameCount = chosen.count;  // the preview's count stays the preview's
  m_frameSize = chosen.size;
  NKDbgPrintfW(u"[%s] Updated buffer requirements: #F=%d, FS=%d, SRC=0x%08x, A=%d\r\n", Name(), m_table->frameCount,
               m_frameSize, chosen.source, chosen.alignment);
  return true;
}

// ---- Connection set -------------------------------------------------------------------

DWORD CPinDevice::HandleConnectionRequest(const void* in, DWORD inLength, void* out, DWORD outLength,
                                          DWORD* returned) {
  if (!in || inLength < sizeof(CSPROPERTY) || (outLength && !out) || !returned) {
    NKDbgPrintfW(u"[%s] Invalid parameter for PinHandleConnectionRequests()\r\n", Name());
    return ERROR_INVALID_PARAMETER;
  }
  CSPROPERTY header;
  if (!CopyIn(&header, in, sizeof header)) return ERROR_INVALID_PARAMETER;
  switch (header.Id) {
    case CSPROPERTY_CONNECTION_STATE: return ConnectionState(header.Flags, out, outLength, returned);
    case CSPROPERTY_CONNECTION_DATAFORMAT: return ConnectionFormat(header.Flags, out, outLength, returned);
    case CSPROPERTY_CONNECTION_ALLOCATORFRAMING: return ConnectionFraming(header.Flags, out, outLength, returned);
    case CSPROPERTY_CONNECTION_PROPOSEDATAFORMAT:
      NKDbgPrintfW(u"[%s] PinHandleConnectionRequests: unsupported property "
                   u"(CSPROPERTY_CONNECTION_PROPOSEDATAFORMAT)\r\n",
                   Name());
      return ERROR_INVALID_PARAMETER;
  }
  NKDbgPrintfW(u"[%s] PinHandleConnectionRequests: Invalid connection request\r\n", Name());
  return ERROR_INVALID_PARAMETER;
}

DWORD CPinDevice::ConnectionState(uint32_t flags, void* value, DWORD valueSize, DWORD* returned) {
  if (valueSize < sizeof(uint32_t)) return ERROR_INVALID_PARAMETER;
  if (flags == CSPROPERTY_TYPE_GET) {
    NKDbgPrintfW(u"[%s] PinHandleConnectionStateSubReqs(CSPROPERTY_TYPE_GET)\r\n", Name());
    uint32_t state = m_state;
    if (!CopyOut(value, &state, sizeof state)) return ERROR_INVALID_PARAMETER;
    *returned = sizeof state;
    return ERROR_SUCCESS;
  }
  if (flags != CSPROPERTY_TYPE_SET) {
    NKDbgPrintfW(u"[%s] Invalid state property type\r\n", Name());
    return ERROR_INVALID_PARAMETER;
  }
  NKDbgPrintfW(u"[%s] PinHandleConnectionStateSubReqs(CSPROPERTY_TYPE_SET)\r\n", Name());
  uint32_t to = 0;
  if (!CopyIn(&to, value, sizeof to)) return ERROR_FUNCTION_FAILED;
  NKDbgPrintfW(u"[%s] State transition from %s to %s\r\n", Name(), StateName(m_state), StateName(to));
  if (to > CSSTATE_RUN) {
    NKDbgPrintfW(u"[%s] Unknown state\r\n", Name());
    return ERROR_INVALID_PARAMETER;
  }
  DWORD r = Transition(CsStreamState(to));
  if (r != ERROR_SUCCESS)
    NKDbgPrintfW(u"[%s] State transition to %s failed; result=%d\r\n", Name(), StateName(m_state), r);
  else
    NKDbgPrintfW(u"[%s] State transition to %s completed successfully\r\n", Name(), StateName(m_state));
  return r;
}

DWORD CPinDevice::SetRunState() {
  NKDbgPrintfW(u"[%s] Setting state to: %s\r\n", Name(), StateName(CSSTATE_RUN));
  return Transition(CSSTATE_RUN);
}

DWORD CPinDevice::Transition(CsStreamState to) {
  const uint32_t from = m_state;
  if (to == from) return ERROR_SUCCESS;
  if (!m_ownsSlot) return ERROR_INVALID_STATE;  // no stream: nothing to move
  switch (to) {
    case CSSTATE_STOP:
      return StopStream();
    case CSSTATE_PAUSE:
      if (from == CSSTATE_STOP) {
        // The Thumbnail pin fills the Preview pin's table: it never makes one.
        if (!m_table->entries && !SharesBufferTable()) {
          const uint32_t count = m_table->frameCount;
          if (uint64_t(count) * sizeof(PinBufferEntry) > std::numeric_limits<uint32_t>::max())
            return ERROR_ARITHMETIC_OVERFLOW;
          auto* entries = static_cast<PinBufferEntry*>(std::calloc(count ? count : 1, sizeof(PinBufferEntry)));
          if (!entries) return ERROR_OUTOFMEMORY;
          TableLock hold(m_table);
          m_table->entries = entries;
        }
        m_exit = 0;
        m_thread = CreateThread(nullptr, 0, CaptureThreadEntry, this, CREATE_SUSPENDED, nullptr);
        if (!m_thread) {
          NKDbgPrintfW(u"[%s] Failed to create Capture Thread\r\n", Name());
          return ERROR_FUNCTION_FAILED;
        }
        NKDbgPrintfW(u"[%s] Capture Thread created\r\n", Name());
        m_state = CSSTATE_PAUSE;
        m_videoStarted = 0;
        return ERROR_SUCCESS;
      }
      // From RUN.
      if (m_pinId == CS_PIN_STILL) m_snapshotAllowed = 0;
      if (!m_device->StopVideo(m_pinId)) return ERROR_FUNCTION_FAILED;
      m_state = CSSTATE_PAUSE;
      m_videoStarted = 0;
      return ERROR_SUCCESS;
    case CSSTATE_RUN: {
      if (from == CSSTATE_STOP) {
        NKDbgPrintfW(u"[%s] CSSTATE_STOP to CSSTATE_RUN is not a supported transition.\r\n", Name());
        return ERROR_INVALID_STATE;
      }
      if (m_bufferManager && m_port->SetBufferManager(m_bufferManager) != PVL_OK) return ERROR_FUNCTION_FAILED;
      m_firstFrameTime = -1;
      m_pictureNumber = -1;
      m_streamLost = false;
      m_state = CSSTATE_RUN;
      BOOL ok = TRUE;
      if (m_pinId == CS_PIN_STILL) {
        NKDbgPrintfW(u"[%s] RUN state entered; calling PinDevice::SetTriggerSnapshotAllowed()\r\n", Name());
        if (!m_snapshotAllowed) ok = SetTriggerSnapshotAllowed();
      } else if (m_pinId == CS_PIN_THUMBNAIL) {
        NKDbgPrintfW(u"[%s] RUN state entered; calling PinDevice::StartThumbnail()\r\n", Name());
        if (!m_thumbnailStarted) ok = StartThumbnail();
      } else {
        NKDbgPrintfW(u"[%s] RUN state entered; calling PinDevice::StartVideo()\r\n", Name());
        if (!m_videoStarted) ok = StartVideo();
      }
      return ok ? ERROR_SUCCESS : ERROR_FUNCTION_FAILED;
    }
  }
  return ERROR_INVALID_PARAMETER;
}

DWORD CPinDevice::StopStream() {
  if (m_pinId == CS_PIN_STILL) m_snapshotAllowed = 0;
  m_exit = 1;
  m_device->SetPinStopped(true);
  if (!m_device->StopVideo(m_pinId)) return ERROR_FUNCTION_FAILED;
  m_port->Stop();
  EndCaptureThread();
  // The port is stopped: nothing writes into the client's buffers any more. The
  // Preview pin's buffers stay queued with the Preview pin when the Thumbnail stops.
  if (!SharesBufferTable()) ReturnQueuedBuffers();
  m_state = CSSTATE_STOP;
  m_videoStarted = 0;
  m_thumbnailStarted = 0;
  return ERROR_SUCCESS;
}

void CPinDevice::EndCaptureThread() {
  if (!m_thread) return;
  DWORD code = 0;
  BOOL known = GetExitCodeThread(m_thread, &code);
  DWORD wait = WAIT_OBJECT_0;
  if (known && code == STILL_ACTIVE) {
    for (;;) {
      DWORD previous = ResumeThread(m_thread);
      if (previous == 0xFFFFFFFFu || previous <= 1) break;
    }
    SetEvent(m_triggerEvent);
    wait = WaitForSingleObject(m_thread, kThreadEndWaitMs);
  }
  if (!known || wait == WAIT_TIMEOUT) {
    NKDbgPrintfW(u"[%s] Terminating capture thread!!!\r\n", Name());
    TerminateThread(m_thread, 0);
  }
  CloseHandle(m_thread);
  m_thread = nullptr;
}

DWORD CPinDevice::ConnectionFormat(uint32_t flags, void* value, DWORD valueSize, DWORD*) {
  if (valueSize < sizeof(uint32_t)) return ERROR_INVALID_PARAMETER;
  if (!m_ownsSlot) return ERROR_INVALID_STATE;
  // A format is one whole record with a plain bitmap header: never read past it.
  if (valueSize < sizeof(CS_DATAFORMAT_VIDEOINFOHEADER)) return ERROR_INVALID_PARAMETER;
  std::unique_ptr<CS_DATAFORMAT_VIDEOINFOHEADER> format(new (std::nothrow) CS_DATAFORMAT_VIDEOINFOHEADER{});
  if (!format) return ERROR_OUTOFMEMORY;
  if (!CopyIn(format.get(), value, sizeof *format)) return ERROR_FUNCTION_FAILED;
  if (format->VideoInfoHeader.bmiHeader.biSize != sizeof(CS_BITMAPINFOHEADER)) return ERROR_INVALID_PARAMETER;
  if (flags != CSPROPERTY_TYPE_SET) {
    NKDbgPrintfW(u"[%s] Invalid format property type\r\n", Name());
    return ERROR_INVALID_PARAMETER;
  }
  // A running port cannot change its frames under the buffers it fills, and buffers
  // already handed out were sized for the old format: change it in STOP, without them.
  if (m_state != CSSTATE_STOP || (m_table->allocated && !SharesBufferTable())) {
    NKDbgPrintfW(u"[%s] Format cannot change in state %s with %u buffers allocated\r\n", Name(), StateName(m_state),
                 m_table->allocated);
    return ERROR_INVALID_STATE;
  }
  const CS_DATARANGE_VIDEO* match = nullptr;
  if (!m_device->MatchDataFormat(m_pinId, *format, &match, true)) return ERROR_INVALID_PARAMETER;
  CS_DATARANGE_VIDEO previous = m_range;
  m_range = *match;
  m_range.DataRange = format->DataFormat;
  m_range.VideoInfoHeader = format->VideoInfoHeader;
  const CS_BITMAPINFOHEADER& bmi = m_range.VideoInfoHeader.bmiHeader;
  NKDbgPrintfW(u"[%s] Setting m_CsDataRangeVideo to:W=%d, H=%d, D=%d, S=%d, FR=%d, FCC=%x\r\n", Name(), bmi.biWidth,
               bmi.biHeight, bmi.biBitCount, bmi.biSizeImage, int32_t(m_range.VideoInfoHeader.AvgTimePerFrame),
               bmi.biCompression);
  uint32_t height = uint32_t(bmi.biHeight < 0 ? -bmi.biHeight : bmi.biHeight);
  if (m_pinId == CS_PIN_PREVIEW) {
    g_pinGlobals.previewWidth = uint32_t(bmi.biWidth);
    g_pinGlobals.previewHeight = height;
  } else if (m_pinId == CS_PIN_STILL) {
    g_pinGlobals.stillWidth = uint32_t(bmi.biWidth);
    g_pinGlobals.stillHeight = height;
  }
  if (!ConfigurePort()) {
    NKDbgPrintfW(u"[%s] Could not update camera port configuration\r\n", Name());
    m_range = previous;
    return ERROR_FUNCTION_FAILED;
  }
  return ERROR_SUCCESS;
}

DWORD CPinDevice::ConnectionFraming(uint32_t flags, void* value, DWORD valueSize, DWORD* returned) {
  if (valueSize < sizeof(CSALLOCATOR_FRAMING)) return ERROR_INVALID_PARAMETER;
  if (flags == CSPROPERTY_TYPE_GET || flags == CSPROPERTY_TYPE_BASICSUPPORT) {
    CSALLOCATOR_FRAMING framing{m_bufferMode, 1, m_table->frameCount, m_frameSize, 0, 0};
    NKDbgPrintfW(u"[%s] Returning allocator with: BAM=%d, #F=%d, FS=%d, A=%d\r\n", Name(), m_bufferMode,
                 m_table->frameCount, m_frameSize, 0);
    if (!CopyOut(value, &framing, sizeof framing)) return ERROR_INVALID_PARAMETER;
    *returned = sizeof framing;
    return ERROR_SUCCESS;
  }
  if (flags != CSPROPERTY_TYPE_SET) {
    NKDbgPrintfW(u"[%s] Invalid allocator property type\r\n", Name());
    return ERROR_INVALID_PARAMETER;
  }
  CSALLOCATOR_FRAMING framing;
  if (!CopyIn(&framing, value, sizeof framing)) return ERROR_INVALID_PARAMETER;
  if (m_state != CSSTATE_STOP || framing.RequirementsFlags != m_bufferMode || !m_port) return ERROR_INVALID_PARAMETER;
  // Buffers already handed out keep their table: the count changes only without them.
  if (m_table->allocated) return ERROR_INVALID_STATE;
  uint32_t count = 0;
  if (m_port->GetBufferRequirements(nullptr, 0, &count) != PVL_OK) return ERROR_FUNCTION_FAILED;
  if (count) {
    if (uint64_t(count) * sizeof(BufferRequest) > std::numeric_limits<uint32_t>::max()) {
      SetLastError(ERROR_ARITHMETIC_OVERFLOW);
      return ERROR_ARITHMETIC_OVERFLOW;
    }
    std::unique_ptr<BufferRequest[]> list(new (std::nothrow) BufferRequest[count]());
    if (!list) return ERROR_OUTOFMEMORY;
    uint32_t filled = count;
    if (m_port->GetBufferRequirements(list.get(), count, &filled) != PVL_OK) return ERROR_FUNCTION_FAILED;
    const BufferRequest* chosen = nullptr;
    for (uint32_t i = 0; i < filled && i < count; ++i) {
      if (list[i].count <= framing.Frames && list[i].size <= framing.FrameSize) {
        chosen = &list[i];
        break;
      }
    }
    if (!chosen) {
      NKDbgPrintfW(u"[%s] Cannot set buffer requirements to: #F=%d, FS=%d\r\n", Name(), framing.Frames,
                   framing.FrameSize);
      return ERROR_INVALID_PARAMETER;
    }
    m_requirements = *chosen;
    m_requirements.count = framing.Frames;
    m_requirements.size = framing.FrameSize;
  }
  if (!SharesBufferTable()) {
    TableLock hold(m_table);
    if (m_table->entries && m_requirements.count != m_table->frameCount) {
      std::free(m_table->entries);
      m_table->entries = nullptr;
    }
    m_table->frameCount = m_requirements.count;
  }
  m_frameSize = m_requirements.size;
  NKDbgPrintfW(u"[%s] Set buffer requirements to: #F=%d, FS=%d, SRC=0x%08x, A=%d\r\n", Name(), m_table->frameCount,
               m_frameSize, m_requirements.source, m_requirements.alignment);
  return ERROR_SUCCESS;
}

// ---- Starting the streams ---------------------------------------------------------------

BOOL CPinDevice::StartVideo() {
  if (m_videoStarted || m_state != CSSTATE_RUN || !m_bufferManager || m_table->queued != m_table->allocated ||
      !m_table->allocated) {
    NKDbgPrintfW(u"[%s] Not all conditions met to start video, skipping\r\n", Name());
    if (m_videoStarted) NKDbgPrintfW(u"[%s]     Video already started\r\n", Name());
    if (m_state != CSSTATE_RUN) NKDbgPrintfW(u"[%s]     Not in the RUN state\r\n", Name());
    if (!m_bufferManager) NKDbgPrintfW(u"[%s]     \"m_piBufferManager\" is NULL\r\n", Name());
    if (m_table->queued != m_table->allocated || !m_table->allocated)
      NKDbgPrintfW(u"[%s]     Need %u buffers but only got %u\r\n", Name(), m_table->allocated, m_table->queued);
    return TRUE;
  }
  // The pool may have come after RUN: the port takes it before it starts.
  if (m_port->SetBufferManager(m_bufferManager) != PVL_OK) return FALSE;
  if (m_port->Start() != PVL_OK) return FALSE;
  NKDbgPrintfW(u"[%s] RUN state entered and %d of %d buffers received for video; calling "
               u"CameraDevice::StartVideo()\r\n",
               Name(), m_table->queued, m_table->allocated);
  if (!m_device->StartVideo(m_pinId)) return FALSE;
  m_videoStarted = 1;
  ResumeThread(m_thread);
  NKDbgPrintfW(u"[%s] Capture thread resumed\r\n", Name());
  return TRUE;
}

BOOL CPinDevice::SetTriggerSnapshotAllowed() {
  if (m_snapshotAllowed || m_state != CSSTATE_RUN || !m_bufferManager || m_table->queued != m_table->allocated ||
      !m_table->allocated) {
    NKDbgPrintfW(u"[%s] Not all conditions met to allow snapshot triggering, skipping\r\n", Name());
    if (m_snapshotAllowed) NKDbgPrintfW(u"[%s]     Trigger snapshot not allowed\r\n", Name());
    if (m_state != CSSTATE_RUN) NKDbgPrintfW(u"[%s]     Not in the RUN state\r\n", Name());
    if (!m_bufferManager) NKDbgPrintfW(u"[%s]     \"m_piBufferManager\" is NULL\r\n", Name());
    if (m_table->queued != m_table->allocated || !m_table->allocated)
      NKDbgPrintfW(u"[%s]     Need %u buffers but only got %u\r\n", Name(), m_table->allocated, m_table->queued);
    return TRUE;
  }
  if (m_port->SetBufferManager(m_bufferManager) != PVL_OK) return FALSE;
  if (m_port->Start() != PVL_OK) return FALSE;
  NKDbgPrintfW(u"[%s] RUN state entered and %d of %d buffers received for snapshot; ready for trigger\r\n", Name(),
               m_table->queued, m_table->allocated);
  m_snapshotAllowed = 1;
  ResumeThread(m_thread);
  NKDbgPrintfW(u"[%s] Capture thread resumed\r\n", Name());
  return TRUE;
}

BOOL CPinDevice::StartThumbnail() {
  if (m_thumbnailStarted || m_state != CSSTATE_RUN || !m_bufferManager) {
    NKDbgPrintfW(u"[%s] Not all conditions met to start thumbnail, skipping\r\n", Name());
    return TRUE;
  }
  if (!ConfigurePort()) {
    NKDbgPrintfW(u"[%s] Could not update camera port configuration\r\n", Name());
    return FALSE;
  }
  if (m_port->Start() != PVL_OK) return FALSE;
  m_thumbnailStarted = 1;
  ResumeThread(m_thread);
  NKDbgPrintfW(u"[%s] Capture thread resumed\r\n", Name());
  return TRUE;
}

// ---- Buffers ---------------------------------------------------------------------------

uint32_t CPinDevice::HandleFor(uint32_t index, const void* data) const {
  uint32_t process = uint32_t(reinterpret_cast<uintptr_t>(GetCallerProcess()));
  return process ^ ((uint32_t(reinterpret_cast<uintptr_t>(data)) & 0xFFFFu) + index * 65536u);
}

int CPinDevice::FindEntry(const CS_STREAM_DESCRIPTOR& descriptor, void** mapped) {
  void* data = reinterpret_cast<void*>(uintptr_t(descriptor.CsStreamHeader.Data));
  *mapped = data ? MapCallerPtr(data, m_frameSize) : nullptr;
  if (!*mapped) {
    NKDbgPrintfW(u"[%s] MapCallerPtr failed for incoming pointer\r\n", Name());
    return -2;
  }
  uint32_t handle = descriptor.CsStreamHeader.BufferHandle;
  uint32_t index = (handle ^ uint32_t(reinterpret_cast<uintptr_t>(GetCallerProcess()))) / 65536u;
  if (!m_table->entries || index >= m_table->frameCount ||
      m_table->entries[index].copy.CsStreamHeader.BufferHandle != handle ||
      m_table->entries[index].copy.CsStreamHeader.Data != reinterpret_cast<uintptr_t>(*mapped)) {
    NKDbgPrintfW(u"[%s] No index found for dwHandle=0x%x, lpBuffer=0x%x.\r\n", Name(), handle, data);
    return -1;
  }
  return int(index);
}

DWORD CPinDevice::HandleBufferRequest(uint32_t command, void* out, DWORD outLength) {
  if (!out || outLength < sizeof(CS_STREAM_DESCRIPTOR)) return ERROR_INVALID_PARAMETER;
  auto* client = static_cast<CS_STREAM_DESCRIPTOR*>(out);
  switch (command) {
    case CS_ALLOCATE:
      NKDbgPrintfW(u"[%s] PinHandleBufferRequest(CS_ALLOCATE)\r\n", Name());
      return Allocate(client);
    case CS_ENQUEUE:
      return Enqueue(client);
    case CS_DEALLOCATE:
      NKDbgPrintfW(u"[%s] PinHandleBufferRequest(CS_DEALLOCATE)\r\n", Name());
      return Deallocate(client);
  }
  NKDbgPrintfW(u"[%s] PinHandleBufferRequest: Invalid buffer request\r\n", Name());
  return ERROR_INVALID_PARAMETER;
}

DWORD CPinDevice::Allocate(CS_STREAM_DESCRIPTOR* client) {
  // Buffers go into the table that PAUSE allocates.
  if (!m_table->entries || !m_ownsSlot || m_table->allocated >= m_table->frameCount) return ERROR_INVALID_PARAMETER;
  uint32_t index = m_table->allocated;
  if (m_bufferMode == kBufferModeClientAny) {
    index = m_table->frameCount;
    for (uint32_t i = 0; i < m_table->frameCount; ++i) {
      if (!m_table->entries[i].held && !m_table->entries[i].queued && !m_table->entries[i].copy.CsStreamHeader.Data) {
        index = i;
        break;
      }
    }
    if (index == m_table->frameCount) return ERROR_INVALID_PARAMETER;
  }
  PinBufferEntry& entry = m_table->entries[index];
  DWORD r;
  if (m_bufferMode == kBufferModeDriver) {
    r = DriverBuffer(index);
    if (r != ERROR_SUCCESS) return r;
    if (!CopyOut(client, &entry.copy, sizeof entry.copy)) {
      ReleaseAndClear(entry.buffer);
      entry.reserved = 0;
      return ERROR_INVALID_PARAMETER;
    }
  } else if (m_bufferMode == kBufferModeClient || m_bufferMode == kBufferModeClientAny) {
    if (!CopyIn(&entry.copy, client, sizeof entry.copy)) return ERROR_INVALID_PARAMETER;
    // Every frame is written whole: a buffer that cannot hold one is refused.
    if (entry.copy.CsStreamHeader.FrameExtent < m_frameSize) {
      NKDbgPrintfW(u"[%s] Buffer of %u bytes is smaller than a frame of %u\r\n", Name(),
                   entry.copy.CsStreamHeader.FrameExtent, m_frameSize);
      std::memset(&entry.copy, 0, sizeof entry.copy);
      return ERROR_INVALID_PARAMETER;
    }
    r = RegisterClientBuffer(index, client);
    if (r != ERROR_SUCCESS) {
      std::memset(&entry.copy, 0, sizeof entry.copy);
      return r;
    }
  } else {
    return ERROR_INVALID_PARAMETER;
  }
  TableLock hold(m_table);
  entry.queued = nullptr;
  entry.held = 1;
  ++m_table->allocated;
  return ERROR_SUCCESS;
}

DWORD CPinDevice::CreateBufferManager(bool ownMemory) {
  if (m_bufferManager) return ERROR_SUCCESS;
  IEnv* env = m_device->Env();
  if (!env || env->CreateInstance(ZUEUID_CLASS_BUFFER_MANAGER, reinterpret_cast<void**>(&m_bufferManager)) != PVL_OK ||
      !m_bufferManager) {
    m_bufferManager = nullptr;
    return ERROR_FUNCTION_FAILED;
  }
  NKDbgPrintfW(u"[%s] Created buffer manager: m_piBufferManager=0x%08x\r\n", Name(), m_bufferManager);
  BufferRequest request = m_requirements;
  request.count = m_table->frameCount;
  request.size = m_frameSize;
  if (m_bufferManager->InitRequirements(&request, ownMemory ? 0 : 1, 0) != PVL_OK ||
      (ownMemory && m_bufferManager->Allocate() != PVL_OK)) {
    ReleaseAndClear(m_bufferManager);
    return ERROR_FUNCTION_FAILED;
  }
  NKDbgPrintfW(u"[%s] Initialized buffer manager: #B=%d, BS=%d, BSRC=0x%x, A=%d\r\n", Name(), request.count,
               request.size, request.source, request.alignment);
  return ERROR_SUCCESS;
}

void CPinDevice::ReleaseBufferManager() {
  if (!m_bufferManager) return;
  m_bufferManager->Free();
  NKDbgPrintfW(u"[%s] BufferManager freed all buffers.\r\n", Name());
  ReleaseAndClear(m_bufferManager);
  NKDbgPrintfW(u"[%s] BufferManager released.\r\n", Name());
}

DWORD CPinDevice::DriverBuffer(uint32_t index) {
  if (index > m_table->allocated) return ERROR_INVALID_PARAMETER;
  PinBufferEntry& entry = m_table->entries[index];
  std::memset(&entry.copy, 0, sizeof entry.copy);
  CSSTREAM_HEADER& h = entry.copy.CsStreamHeader;
  h.Size = sizeof(CSSTREAM_HEADER);
  h.Numerator = h.Denominator = 1;
  h.FrameExtent = h.DataUsed = m_frameSize;
  h.OptionsFlags = CSSTREAM_HEADER_OPTIONSF_DATADISCONTINUITY;
  entry.copy.CsFrameInfo.ExtendedHeaderSize = sizeof(CS_FRAME_INFO);
  if (CreateBufferManager(true) != ERROR_SUCCESS) return ERROR_FUNCTION_FAILED;
  IPvlMediaBuffer* buffer = nullptr;
  // Never wait for a buffer under the device lock.
  if (m_bufferManager->GetBuffer(1, &buffer) != PVL_OK || !buffer) return ERROR_OUTOFMEMORY;
  uint64_t address = 0;
  buffer->GetVirtualAddress(&address);
  h.Data = uintptr_t(address);
  h.BufferHandle = HandleFor(index, reinterpret_cast<void*>(uintptr_t(address)));
  TableLock hold(m_table);
  entry.buffer = buffer;
  entry.reserved = 1;  // the entry holds the buffer's reference
  NKDbgPrintfW(u"[%s] Allocated buffer %d: virtual addr=0x%x, size=%u\r\n", Name(), index, h.Data, m_frameSize);
  return ERROR_SUCCESS;
}

DWORD CPinDevice::RegisterClientBuffer(uint32_t index, CS_STREAM_DESCRIPTOR* client) {
  PinBufferEntry& entry = m_table->entries[index];
  void* data = reinterpret_cast<void*>(uintptr_t(entry.copy.CsStreamHeader.Data));
  void* mapped = data ? MapCallerPtr(data, m_frameSize) : nullptr;
  if (!mapped) {
    NKDbgPrintfW(u"[%s] MapCallerPtr failed for incoming pointer\r\n", Name());
    return ERROR_INVALID_USER_BUFFER;
  }
  entry.copy.CsStreamHeader.Data = reinterpret_cast<uintptr_t>(mapped);
  uint32_t handle = HandleFor(index, mapped);
  entry.copy.CsStreamHeader.BufferHandle = handle;
  if (!CopyOut(&client->CsStreamHeader.BufferHandle, &handle, sizeof handle)) return ERROR_INVALID_PARAMETER;
  uint32_t physical = 0;
  if (!m_clientMemoryFallback) {
    physical = pmem_get_phys_addr(mapped);
    if (!physical) {
      m_clientMemoryFallback = 1;
      NKDbgPrintfW(u"[%s] PMEM_GET_PHYS_ADDR failed with addr=%d, allocating from PMEM heap\r\n", Name(), mapped);
    }
  }
  if (CreateBufferManager(m_clientMemoryFallback != 0) != ERROR_SUCCESS) return ERROR_FUNCTION_FAILED;
  if (!m_clientMemoryFallback) {
    IPvlMediaBuffer* buffer = nullptr;
    if (m_bufferManager->AddExternalBuffer(reinterpret_cast<uintptr_t>(mapped), physical, 1, m_frameSize,
                                           &buffer) != PVL_OK ||
        !buffer)
      return ERROR_FUNCTION_FAILED;
    TableLock hold(m_table);
    entry.buffer = buffer;
    entry.reserved = 1;
  }
  NKDbgPrintfW(u"[%s] Allocated buffer %d: virtual addr=0x%x, size=%u\r\n", Name(), index, mapped, m_frameSize);
  return ERROR_SUCCESS;
}

DWORD CPinDevice::Enqueue(CS_STREAM_DESCRIPTOR* client) {
  if (m_state == CSSTATE_STOP) return kNotActive;
  CS_STREAM_DESCRIPTOR descriptor;
  if (!CopyIn(&descriptor, client, sizeof descriptor)) return ERROR_INVALID_PARAMETER;
  void* mapped = nullptr;
  int index = FindEntry(descriptor, &mapped);
  if (index == -2) return ERROR_INVALID_USER_BUFFER;
  if (index < 0) return ERROR_INVALID_PARAMETER;
  PinBufferEntry& entry = m_table->entries[index];
  // A client buffer shrunk since its allocation would be overrun by the next frame.
  if (m_bufferMode != kBufferModeDriver && descriptor.CsStreamHeader.FrameExtent < m_frameSize) {
    NKDbgPrintfW(u"[%s] Buffer of %u bytes is smaller than a frame of %u\r\n", Name(),
                 descriptor.CsStreamHeader.FrameExtent, m_frameSize);
    return ERROR_INVALID_PARAMETER;
  }
  IPvlMediaBuffer* release = nullptr;
  {
    TableLock hold(m_table);
    if (entry.queued) {
      NKDbgPrintfW(u"[%s] Stream descriptor already enqueued.\r\n", Name());
      return ERROR_INVALID_STATE;
    }
    if (!QueueEntry(uint32_t(index), client, &release)) {
      NKDbgPrintfW(u"[%s] Stream descriptor not initialized. Call CS_ALLOCATE first.\r\n", Name());
      return ERROR_INVALID_PARAMETER;
    }
  }
  if (release) release->Release();
  // A stream that lost its sensor hands the buffer straight back.
  if (m_streamLost) return GiveBackQueuedEmpty() ? ERROR_SUCCESS : ERROR_FUNCTION_FAILED;
  BOOL ok = TRUE;
  if (m_pinId == CS_PIN_STILL) {
    if (!m_snapshotAllowed && m_table->queued == m_table->allocated) {
      NKDbgPrintfW(u"[%s] %d of %d buffers received; calling PinDevice::SetTriggerSnapshotAllowed()\r\n", Name(),
                   m_table->queued, m_table->allocated);
      ok = SetTriggerSnapshotAllowed();
    }
  } else if (m_pinId == CS_PIN_CAPTURE || m_pinId == CS_PIN_PREVIEW) {
    if (!m_videoStarted && m_table->queued == m_table->allocated) {
      NKDbgPrintfW(u"[%s] %d of %d buffers received; calling PinDevice::StartVideo()\r\n", Name(), m_table->queued,
                   m_table->allocated);
      ok = StartVideo();
    }
  }
  return ok ? ERROR_SUCCESS : ERROR_FUNCTION_FAILED;
}

DWORD CPinDevice::Deallocate(CS_STREAM_DESCRIPTOR* client) {
  if (!m_table->entries) return ERROR_INVALID_PARAMETER;
  // The request is checked whole before the stream is touched: a refusal changes nothing.
  CS_STREAM_DESCRIPTOR descriptor;
  if (!CopyIn(&descriptor, client, sizeof descriptor)) return ERROR_INVALID_PARAMETER;
  void* mapped = nullptr;
  int index = FindEntry(descriptor, &mapped);
  if (index == -2) return ERROR_INVALID_USER_BUFFER;
  if (index < 0) return ERROR_INVALID_PARAMETER;
  PinBufferEntry& entry = m_table->entries[index];
  if (!entry.held || entry.queued) {
    NKDbgPrintfW(u"[%s] Cannot deallocate; not under client control.\r\n", Name());
    return ERROR_INVALID_PARAMETER;
  }
  if (m_table->allocated == m_table->frameCount) {
    if (m_pinId == CS_PIN_STILL) {
      m_snapshotAllowed = 0;
    } else if (m_state != CSSTATE_STOP && !m_device->StopVideo(m_pinId)) {
      return ERROR_FUNCTION_FAILED;
    }
  }
  IPvlMediaBuffer* release = nullptr;
  {
    TableLock hold(m_table);
    entry.held = 0;
    --m_table->allocated;
    if (entry.buffer && entry.reserved) release = entry.buffer;
    entry.buffer = nullptr;
    entry.reserved = 0;
    entry.copy.CsStreamHeader.Data = 0;
  }
  if (release) release->Release();
  uint32_t zero = 0;
  CopyOut(&client->CsStreamHeader.Data, &zero, sizeof zero);
  NKDbgPrintfW(u"[%s] Deallocated buffer %d\r\n", Name(), index);
  if (m_table->allocated == 0) {
    ReleaseBufferManager();
    m_clientMemoryFallback = 0;
  }
  return ERROR_SUCCESS;
}

void CPinDevice::ReturnQueuedBuffers() {
  if (!m_clientQueue) {
    NKDbgPrintfW(u"[%s] MsgQueue is not initialized\r\n", Name());
    return;
  }
  DWORD old = SetProcPermissions(0xFFFFFFFFu);
  bool full = false;
  for (uint32_t i = 0;; ++i) {
    CS_STREAM_DESCRIPTOR* client = nullptr;
    {
      TableLock hold(m_table);
      if (!m_table->entries || i >= m_table->frameCount) break;
      PinBufferEntry& entry = m_table->entries[i];
      if (!entry.queued) continue;
      // Every queued buffer comes back, whether its memory sits in the pool or not; the
      // client's hold on a pooled buffer is its entry, no reference is taken for it.
      client = entry.queued;
      entry.queued = nullptr;
      entry.held = 1;
      --m_table->queued;
    }
    CS_MSGQUEUE_BUFFER_MESSAGE message;
    CS_STREAM_DESCRIPTOR descriptor;
    uintptr_t data = 0;
    if (CopyIn(&descriptor, client, sizeof descriptor)) data = descriptor.CsStreamHeader.Data;
    if (!InitMsgQueueDescriptor(&message, nullptr, client, data, false)) continue;
    // The buffer is the client's again either way; once the queue is full the rest are
    // not waited for (the client cannot read while it waits for this request).
    if (!WriteMsgQueue(m_clientQueue, &message, sizeof message, full ? 0 : kMessageWriteTimeoutMs, 0)) {
      NKDbgPrintfW(u"[%s] WriteMsgQueue returned false\r\n", Name());
      full = true;
    }
  }
  SetProcPermissions(old);
}

void CPinDevice::FreeBuffers() {
  if (SharesBufferTable()) {
    // The table, its counters and the pool are the Preview pin's: let go of the pool only.
    ReleaseAndClear(m_bufferManager);
    m_clientMemoryFallback = 0;
    g_pinGlobals.actionScreen = nullptr;
    return;
  }
  PinBufferEntry* entries = nullptr;
  uint32_t count = 0;
  {
    TableLock hold(m_table);
    entries = m_table->entries;
    count = m_table->frameCount;
    m_table->entries = nullptr;
    m_table->allocated = m_table->queued = 0;
  }
  for (uint32_t i = 0; entries && i < count; ++i) {
    PinBufferEntry& entry = entries[i];
    if (entry.buffer && entry.reserved) entry.buffer->Release();
    entry.buffer = nullptr;
  }
  std::free(entries);
  ReleaseBufferManager();
  g_pinGlobals.actionScreen = nullptr;
}

// ---- The capture thread -----------------------------------------------------------------

DWORD WINAPI CPinDevice::CaptureThreadEntry(LPVOID pin) {
  if (!pin) return ERROR_INVALID_PARAMETER;
  return static_cast<CPinDevice*>(pin)->CaptureThread();
}

uint32_t CPinDevice::PortCounter(uint32_t id) const {
  if ((m_state != CSSTATE_PAUSE && m_state != CSSTATE_RUN) || !m_portProperties) return 0;
  PvlValueRecord v{};
  v.type = PVL_VT_UINT32;
  if (m_portProperties->GetProperty(id, &v) != PVL_OK) return 0;
  return v.payload.u32;
}

int64_t CPinDevice::PictureNumber() const { return PortCounter(ZUEUID_PROPERTY_PORT_FRAME_COUNT); }
// A trigger pin's port count starts again with each capture (the VFE is reset
// for it), and the images it loses come back as failed captures, which the pin
// counts itself: only a streaming pin adds the port's count.
uint32_t CPinDevice::PortDrops() const {
  if (m_pinId == CS_PIN_STILL || m_pinId == CS_PIN_THUMBNAIL) return 0;
  return PortCounter(ZUEUID_PROPERTY_PORT_STATUS_2);
}

int64_t CPinDevice::DropCount() const { return int64_t(m_droppedFrames) + PortDrops(); }

bool CPinDevice::QueueEntry(uint32_t index, CS_STREAM_DESCRIPTOR* client, IPvlMediaBuffer** release) {
  *release = nullptr;
  if (!m_table->entries || index >= m_table->frameCount) return false;
  PinBufferEntry& entry = m_table->entries[index];
  if (!entry.held || entry.queued) return false;
  entry.queued = client;
  entry.held = 0;
  ++m_table->queued;
  // The entry's own buffer goes back to its pool for a coming frame.
  if (entry.buffer && entry.reserved) {
    entry.reserved = 0;
    *release = entry.buffer;
  }
  return true;
}

void CPinDevice::RequeueBuffer(int index, CS_STREAM_DESCRIPTOR* client) {
  IPvlMediaBuffer* release = nullptr;
  if (index >= 0) {
    TableLock hold(m_table);
    QueueEntry(uint32_t(index), client, &release);
  }
  if (release) release->Release();
}

void CPinDevice::NumberFrame() {
  // Frames the port lost since the last one are a gap the client is told of; the
  // frame is numbered from the previous one, never from the port's live counter
  // (frames queued behind it have already moved that on).
  const uint32_t portDrops = PortDrops();
  const uint32_t lost = portDrops > m_portDropsSeen ? portDrops - m_portDropsSeen : 0;
  if (lost) m_frameDropped = 1;
  m_portDropsSeen = portDrops;
  if (m_pictureNumber < 0) {
    const uint32_t counted = PortCounter(ZUEUID_PROPERTY_PORT_FRAME_COUNT);
    m_pictureNumber = counted ? counted : 1;
  } else {
    m_pictureNumber += 1 + lost;
  }
}

bool CPinDevice::RemoveBufferFromList(IPvlMediaBuffer* frame, CS_STREAM_DESCRIPTOR** client, void** mapped,
                                      uintptr_t* data, int* index) {
  if (!client || !mapped || !data || !index) {
    NKDbgPrintfW(u"[%s] Invalid buffer pointer.\r\n", Name());
    return false;
  }
  *client = nullptr;
  *mapped = nullptr;
  *data = 0;
  *index = -1;
  TableLock hold(m_table);
  bool ours = false;
  for (uint32_t i = 0; m_table->entries && i < m_table->frameCount; ++i)
    if (m_table->entries[i].buffer && m_table->entries[i].buffer == frame) ours = true;
  for (uint32_t i = 0; m_table->entries && i < m_table->frameCount; ++i) {
    PinBufferEntry& entry = m_table->entries[i];
    if (!entry.queued || IsBadReadPtr(entry.queued, 4)) continue;
    // A frame of the pin's own pool belongs to one entry; any other frame is copied.
    if (ours && entry.buffer != frame) continue;
    *client = entry.queued;
    *mapped = reinterpret_cast<void*>(uintptr_t(entry.copy.CsStreamHeader.Data));
    CS_STREAM_DESCRIPTOR descriptor;
    if (CopyIn(&descriptor, entry.queued, sizeof descriptor)) *data = descriptor.CsStreamHeader.Data;
    entry.queued = nullptr;
    entry.held = 1;
    --m_table->queued;
    *index = int(i);
    if (entry.buffer == frame && frame) {
      frame->AddRef();  // the client's hold
      entry.reserved = 1;
    }
    if (m_bufferMessages)
      NKDbgPrintfW(u"[%s] Found matching stream descriptor: ImBuffer=0x%0x, ppCsStreamDesc=0x%0x, "
                   u"ppMappedData=0x%0x, ppUnmappedData=0x%0x\r\n",
                   Name(), frame, *client, *mapped, *data);
    break;
  }
  return true;
}

bool CPinDevice::InitMsgQueueDescriptor(CS_MSGQUEUE_BUFFER_MESSAGE* message, IPvlMediaBuffer* frame,
                                        CS_STREAM_DESCRIPTOR* client, uintptr_t data, bool isFrame) {
  if (!message || !client || (isFrame && !frame)) {
    NKDbgPrintfW(u"[%s] Invalid parameter for InitMsgQueueDescriptor()\r\n", Name());
    return false;
  }
  CS_STREAM_DESCRIPTOR d;
  // A buffer the client can no longer be told of stays lost to it; the stream goes on.
  if (!CopyIn(&d, client, sizeof d)) return true;
  CSSTREAM_HEADER& h = d.CsStreamHeader;
  h.Numerator = h.Denominator = 1;
  if (!isFrame) {
    h.PresentationTime = 0;
    h.Duration = 0;
    h.DataUsed = 0;
  } else {
    uint64_t t1 = 0, t2 = 0;
    frame->GetTime1(&t1);
    frame->GetTime2(&t2);
    int64_t presentation, duration = int64_t(t2) - int64_t(t1);
    if (m_firstFrameTime < 0) {
      m_firstFrameTime = int64_t(t1);
      presentation = 0;
      // The first frame ends where the next may begin.
      m_nextPresentation = duration;
    } else {
      presentation = int64_t(t1) - m_firstFrameTime;
      if (presentation < m_nextPresentation) {
        duration -= m_nextPresentation + 1 - presentation;
        if (duration <= 0) duration = 1;
        presentation = m_nextPresentation + 1;
      }
      m_nextPresentation = presentation + duration;
    }
    h.PresentationTime = presentation;
    h.Duration = duration;
    if (CompressionCode() == kFourccIJPG) {
      uint32_t actual = 0;
      frame->GetActualSize(&actual);
      h.DataUsed = actual;
    } else {
      h.DataUsed = m_frameSize;
    }
    d.CsFrameInfo.PictureNumber = m_pictureNumber;
    // Frames the port lost (counted when the frame was taken) are a gap in the stream
    // as much as the pin's own drops: the client is told by the flag.
    const uint32_t portDrops = m_portDropsSeen;
    d.CsFrameInfo.DropCount = VantorIsCameraIOTest() == 1 ? int64_t(portDrops) + 1
                                                           : int64_t(m_droppedFrames) + int64_t(portDrops);
  }
  h.Data = data;
  h.OptionsFlags = CSSTREAM_HEADER_OPTIONSF_SPLICEPOINT;
  if (isFrame && m_frameDropped) {
    h.OptionsFlags |= CSSTREAM_HEADER_OPTIONSF_DATADISCONTINUITY;
    m_frameDropped = 0;
  }
  if (!CopyOut(client, &d, sizeof d)) return false;
  *message = {12, 1, 0, reinterpret_cast<uintptr_t>(client)};
  return true;
}

// The hardware lost the trigger's image, or a stream's frames before it gave
// any: the client's next buffer comes back at once with no data, the
// discontinuity flag and the drop count, so a trigger or a start is answered by
// a failure, not by silence. A trigger pin counts its lost image itself; a
// stream's lost frames are in the port's count. Without a client buffer only
// the count and the flag (on the next buffer) remain.
bool CPinDevice::DeliverFailedCapture() {
  if (m_pinId == CS_PIN_STILL || m_pinId == CS_PIN_THUMBNAIL) {
    NKDbgPrintfW(u"[%s] The still could not be made; frame dropped.\r\n", Name());
    ++m_droppedFrames;
  } else {
    NKDbgPrintfW(u"[%s] The stream lost its frames before the first came; client told.\r\n", Name());
  }
  m_frameDropped = 1;
  if (m_state != CSSTATE_RUN) return true;
  CS_STREAM_DESCRIPTOR* client = nullptr;
  void* mapped = nullptr;
  uintptr_t data = 0;
  int index = -1;
  if (!RemoveBufferFromList(nullptr, &client, &mapped, &data, &index)) return m_exit;
  if (!client) return true;
  return GiveBackEmpty(client, data, index);
}

bool CPinDevice::GiveBackEmpty(CS_STREAM_DESCRIPTOR* client, uintptr_t data, int index) {
  CS_STREAM_DESCRIPTOR d;
  if (!CopyIn(&d, client, sizeof d)) return false;
  CSSTREAM_HEADER& h = d.CsStreamHeader;
  h.Numerator = h.Denominator = 1;
  h.PresentationTime = 0;
  h.Duration = 0;
  h.DataUsed = 0;
  h.Data = data;
  h.OptionsFlags = CSSTREAM_HEADER_OPTIONSF_SPLICEPOINT | CSSTREAM_HEADER_OPTIONSF_DATADISCONTINUITY;
  m_frameDropped = 0;
  d.CsFrameInfo.PictureNumber = m_pictureNumber < 0 ? 1 : m_pictureNumber;
  d.CsFrameInfo.DropCount = DropCount();
  if (!CopyOut(client, &d, sizeof d)) return true;
  CS_MSGQUEUE_BUFFER_MESSAGE message = {12, 1, 0, reinterpret_cast<uintptr_t>(client)};
  if (!WriteMsgQueue(m_clientQueue, &message, sizeof message, kMessageWriteTimeoutMs, 0)) {
    NKDbgPrintfW(u"[%s] WriteMsgQueue() failed\r\n", Name());
    RequeueBuffer(index, client);
  }
  return true;
}

// A stream whose sensor is gone gives nothing more: the client gets its buffers
// back rather than waiting for frames that will not come, and STOP still
// collects whatever is left.
bool CPinDevice::DeliverLostStream() {
  NKDbgPrintfW(u"[%s] The camera sensor stopped answering; the stream ended.\r\n", Name());
  m_streamLost = true;
  m_frameDropped = 1;
  return GiveBackQueuedEmpty();
}

bool CPinDevice::GiveBackQueuedEmpty() {
  if (m_state != CSSTATE_RUN) return true;
  for (;;) {
    CS_STREAM_DESCRIPTOR* client = nullptr;
    void* mapped = nullptr;
    uintptr_t data = 0;
    int index = -1;
    if (!RemoveBufferFromList(nullptr, &client, &mapped, &data, &index)) return m_exit;
    if (!client) return true;
    if (!GiveBackEmpty(client, data, index)) return false;
  }
}

// The frame's address and the pin's size, checked: never read past the frame nor
// past the line buffer, never write past the client's.
bool CPinDevice::CheckNv21Frame(IPvlMediaBuffer* frame, uint64_t* address, uint32_t* width,
                                uint32_t* height) {
  *address = 0;
  if (!frame || frame->GetVirtualAddress(address) != PVL_OK || !*address) return false;
  const CS_BITMAPINFOHEADER& bmi = m_range.VideoInfoHeader.bmiHeader;
  *width = uint32_t(bmi.biWidth);
  *height = uint32_t(bmi.biHeight < 0 ? -bmi.biHeight : bmi.biHeight);
  const uint64_t n = uint64_t(*width) * *height;
  uint32_t actual = 0;
  frame->GetActualSize(&actual);
  if (*width > sizeof m_lineBuffer) {
    NKDbgPrintfW(u"[%s] A row of %u bytes does not fit the line buffer\r\n", Name(), *width);
    return false;
  }
  if (n + (n / 4) * 2 > actual || n + (n / 4) * 2 > m_frameSize) {
    NKDbgPrintfW(u"[%s] cbInput != piFrameBuffer->GetActualSize() : %u != %u\r\n", Name(), uint32_t(n + n / 2),
                 actual);
    return false;
  }
  return true;
}

bool CPinDevice::CopyNV21ToYV12(IPvlMediaBuffer* frame, uint8_t* destination, bool* writable) {
  *writable = true;
  uint64_t address = 0;
  uint32_t width = 0, height = 0;
  if (!destination || !CheckNv21Frame(frame, &address, &width, &height)) return false;
  const uint8_t* source = reinterpret_cast<const uint8_t*>(uintptr_t(address));
  static_assert(sizeof m_lineBuffer == kNv21LineBufferBytes);
  const Nv21ToYv12Status status =
      ConvertNv21ToYv12(source, destination, width, height, m_lineBuffer, sizeof m_lineBuffer);
  if (status == Nv21ToYv12Status::kLineCopyFailed) {
    NKDbgPrintfW(u"[%s] !!! Failed to copy line buffer !!!\r\n", Name());
    *writable = false;
  }
  return status == Nv21ToYv12Status::kOk;
}

bool CPinDevice::ConvertNV21ToYV12InPlace(IPvlMediaBuffer* frame, bool* writable) {
  *writable = true;
  uint64_t address = 0;
  uint32_t width = 0, height = 0;
  if (!CheckNv21Frame(frame, &address, &width, &height)) return false;
  const uint64_t n = uint64_t(width) * height;
  const uint32_t chromaBytes = uint32_t(n / 2);
  if (m_chromaBytes < chromaBytes) {
    m_chroma.reset(new (std::nothrow) uint8_t[chromaBytes]);
    m_chromaBytes = m_chroma ? chromaBytes : 0;
    if (!m_chroma) {
      NKDbgPrintfW(u"[%s] No memory to convert a frame\r\n", Name());
      return false;
    }
  }
  const Nv21ToYv12Status status = ConvertNv21ToYv12InPlace(reinterpret_cast<uint8_t*>(uintptr_t(address)), width,
                                                           height, m_chroma.get(), m_lineBuffer, sizeof m_lineBuffer);
  if (status == Nv21ToYv12Status::kLineCopyFailed) {
    NKDbgPrintfW(u"[%s] !!! Failed to copy line buffer !!!\r\n", Name());
    *writable = false;
  }
  return status == Nv21ToYv12Status::kOk;
}

void CPinDevice::PostCaptureScreen(IPvlMediaBuffer* frame) {
  const CS_BITMAPINFOHEADER& bmi = m_range.VideoInfoHeader.bmiHeader;
  const uint32_t width = uint32_t(bmi.biWidth);
  const uint32_t height = uint32_t(bmi.biHeight < 0 ? -bmi.biHeight : bmi.biHeight);
  void* screen = g_pinGlobals.actionScreen;
  uint64_t address = 0;
  if (!screen || frame->GetVirtualAddress(&address) != PVL_OK) return;
  auto* source = static_cast<uint32_t*>(pmem_malloc(44, 6));
  auto* target = static_cast<uint32_t*>(pmem_malloc(44, 6));
  auto* params = static_cast<uint32_t*>(pmem_malloc(16, 6));
  if (source && target && params) {
    double z = g_pinGlobals.zoomCropFactor >= 1.0 ? g_pinGlobals.zoomCropFactor : 1.0;
    int32_t cropW = int32_t(width / z), cropH = int32_t(height / z);
    int32_t left = int32_t((width - cropW) / 2.0), top = int32_t((height - cropH) / 2.0);
    uint32_t luma = pmem_get_phys_addr(reinterpret_cast<void*>(uintptr_t(address)));
    const uint32_t src[11] = {3, luma, luma + width * height, 0, width, height, 0,
                              uint32_t(left), uint32_t(top), uint32_t(cropW), uint32_t(cropH)};
    std::memcpy(source, src, sizeof src);
    NKDbgPrintfW(u"thumbCropWindow._u.rect.top = %d\n", top);
    NKDbgPrintfW(u"thumbCropWindow._u.rect.left = %d\n", left);
    NKDbgPrintfW(u"thumbCropWindow._u.rect.bottom = %d\n", cropH + top - 1);
    NKDbgPrintfW(u"thumbCropWindow._u.rect.right = %d\n", cropW + left - 1);
    const uint32_t pw = g_pinGlobals.previewWidth, ph = g_pinGlobals.previewHeight;
    const uint32_t dst[11] = {0, pmem_get_phys_addr(screen), 0, 0, pw, ph, 0, 0, 0, pw, ph};
    std::memcpy(target, dst, sizeof dst);
    const uint32_t par[4] = {1, 0, 0, 0};
    std::memcpy(params, par, sizeof par);
    if (ddi_disp2d_blt(source, target, params, 0) == 0 && m_device->AsyncQueue()) {
      AsyncCameraMessage message{m_pinId == CS_PIN_CAPTURE ? 2u : 1u, sizeof(AsyncCameraMessage), 0,
                                 uint32_t(reinterpret_cast<uintptr_t>(screen)), pw * ph * 2};
      // Never wait for room: a full queue (no reader) must not hold up the frames.
      if (!WriteMsgQueue(m_device->AsyncQueue()->Handle(), &message, sizeof message, 0, 0))
        NKDbgPrintfW(u"[%s] Post-capture notice dropped\r\n", Name());
      NKDbgPrintfW(u"Pin %d: %d, %d, %d\r\n", m_pinId, m_snapshotAllowed, height, width);
    }
  } else {
    NKDbgPrintfW(u"Failed to allocate memory\r\n");
  }
  if (source) pmem_free(source);
  if (target) pmem_free(target);
  if (params) pmem_free(params);
  m_device->SetPinStopped(true);
}

DWORD CPinDevice::CaptureThread() {
  NKDbgPrintfW(u"[%s] Capture thread started\r\n", Name());
  DWORD old = SetProcPermissions(0xFFFFFFFFu);
  DWORD result = ERROR_SUCCESS;
  bool screenDone = false;
  const bool waitsForTrigger = m_pinId == CS_PIN_STILL || m_pinId == CS_PIN_THUMBNAIL;
  for (;;) {
    if (m_exit) break;
    if (g_pinGlobals.snapshotTriggerWait && waitsForTrigger) {
      DWORD w = WaitForSingleObject(m_triggerEvent, INFINITE);
      if (m_exit) break;
      if (w != WAIT_OBJECT_0) {
        NKDbgPrintfW(u"[%s] WaitForSingleObject() returned error=0x%x\r\n", Name(), w);
        result = ERROR_FUNCTION_FAILED;
        break;
      }
    }
    IPvlMediaBuffer* frame = nullptr;
    PvlResult r = m_port->GetNextFrame(&frame);
    if (m_exit || r == PVL_E_STOPPED) {
      if (frame) frame->Release();
      break;
    }
    if (r == PVL_E_CAPTURE_FAILED) {
      if (!DeliverFailedCapture()) {
        result = ERROR_FUNCTION_FAILED;
        break;
      }
      continue;
    }
    if (r == PVL_E_DEVICE_LOST) {
      if (!DeliverLostStream()) {
        result = ERROR_FUNCTION_FAILED;
        break;
      }
      continue;
    }
    if (r != PVL_OK || !frame) {
      NKDbgPrintfW(u"[%s] GetNextFrame() returned error=0x%x\r\n", Name(), r);
      result = ERROR_FUNCTION_FAILED;
      break;
    }
    if (m_state != CSSTATE_RUN) {
      NKDbgPrintfW(u"[%s] Pin not in CSSTATE_RUN; frame dropped.\r\n", Name());
      frame->Release();
      continue;
    }
    NumberFrame();
    CS_STREAM_DESCRIPTOR* client = nullptr;
    void* mapped = nullptr;
    uintptr_t data = 0;
    int index = -1;
    if (!RemoveBufferFromList(frame, &client, &mapped, &data, &index)) {
      frame->Release();
      if (!m_exit) {
        NKDbgPrintfW(u"[%s] RemoveBufferFromList() failed\r\n", Name());
        result = ERROR_FUNCTION_FAILED;
      }
      break;
    }
    const uint32_t height = uint32_t(std::abs(m_range.VideoInfoHeader.bmiHeader.biHeight));
    if ((m_pinId == CS_PIN_CAPTURE || m_pinId == CS_PIN_THUMBNAIL) && !screenDone &&
        VantorIsCameraLTKRunning() != 1 && height != 1552) {
      screenDone = true;
      PostCaptureScreen(frame);
    }
    if (!client) {
      ++m_droppedFrames;
      m_frameDropped = 1;
      NKDbgPrintfW(u"[%s] No buffer available from client; frame dropped.\r\n", Name());
      frame->Release();
      continue;
    }
    uint64_t address = 0;
    frame->GetVirtualAddress(&address);
    bool written = true;
    if (mapped && reinterpret_cast<void*>(uintptr_t(address)) != mapped) {
      // Not the client's own memory: the frame is copied out, turned into YV12 only
      // for the fallback (the client's memory then is plain memory with a YV12 format).
      if (m_clientMemoryFallback && CompressionCode() == kFourccYV12) {
        // A frame that cannot be converted still goes out; a buffer that cannot be written does not.
        if (!CopyNV21ToYV12(frame, static_cast<uint8_t*>(mapped), &written))
          NKDbgPrintfW(u"[%s] CopyNV21ToYV12() failed\r\n", Name());
      } else {
        uint32_t actual = 0;
        frame->GetActualSize(&actual);
        if (actual > m_frameSize) actual = m_frameSize;
        written = address && CeSafeCopyMemory(mapped, reinterpret_cast<void*>(uintptr_t(address)), actual);
        if (!written) NKDbgPrintfW(u"[%s] Frame copy failed\r\n", Name());
      }
    } else if (mapped && CompressionCode() == kFourccYV12) {
      // The port wrote its NV21 straight into the client's buffer, which the client
      // reads as the YV12 it negotiated: the chroma is rearranged there.
      if (!ConvertNV21ToYV12InPlace(frame, &written)) NKDbgPrintfW(u"[%s] ConvertNV21ToYV12InPlace() failed\r\n", Name());
    }
    // A buffer the client can no longer be given (its memory or its descriptor gone
    // bad) stays out of the stream; the frame is lost and counted, the stream goes on.
    CS_MSGQUEUE_BUFFER_MESSAGE message;
    if (!written || !InitMsgQueueDescriptor(&message, frame, client, data, true)) {
      NKDbgPrintfW(u"[%s] Client buffer %d cannot be written; frame dropped.\r\n", Name(), index);
      ++m_droppedFrames;
      m_frameDropped = 1;
      frame->Release();
      continue;
    }
    if (!WriteMsgQueue(m_clientQueue, &message, sizeof message, kMessageWriteTimeoutMs, 0)) {
      // No room in the client's queue: the buffer goes back to the driver's queue (it
      // comes back at STOP or with a later frame) and the frame counts as dropped.
      NKDbgPrintfW(u"[%s] WriteMsgQueue() failed; frame dropped.\r\n", Name());
      RequeueBuffer(index, client);
      ++m_droppedFrames;
      m_frameDropped = 1;
      frame->Release();
      continue;
    }
    frame->Release();
  }
  SetProcPermissions(old);
  if (result == ERROR_SUCCESS)
    NKDbgPrintfW(u"[%s] Capture thread exiting successfully\r\n", Name());
  else
    NKDbgPrintfW(u"[%s] Capture thread exiting due to error\r\n", Name());
  return result;
}

// ---- The still pin's EXIF and JPEG-encode sets ---------------------------------------------

namespace {

// Element size and variant type of each EXIF item type (0: refused).
struct ExifType {
  uint32_t size;
  uint32_t variant;
};
constexpr ExifType kExifTypes[11] = {{0, 0},  {1, PVL_VT_UINT8},  {1, PVL_VT_STRING}, {2, PVL_VT_UINT16},
                                     {4, PVL_VT_UINT32}, {8, PVL_VT_URATIONAL}, {0, 0}, {1, PVL_VT_BLOCK},
                                     {0, 0},  {4, PVL_VT_SINT32}, {8, PVL_VT_PAIR}};

// An EXIF tag's value as a variant; an array payload and a text or block value
// (copied out of the client's memory) are owned by the guard.
struct ExifVariant {
  PvlValueRecord value{};
  PvlValueRecord* elements = nullptr;
  uint8_t* bytes = nullptr;
  ~ExifVariant() {
    delete[] elements;
    delete[] bytes;
  }
};

DWORD ConvertExifItem(const PropertyItem& item, ExifVariant* out) {
  if (!item.value || item.type > 10 || !kExifTypes[item.type].variant) return ERROR_INVALID_PARAMETER;
  const ExifType t = kExifTypes[item.type];
  const uint32_t count = item.length / t.size;
  // The whole value must be the caller's to read; a length running past its memory is refused.
  if (count == 0 || item.length > uint32_t(std::numeric_limits<int32_t>::max())) return ERROR_INVALID_PARAMETER;
  void* mapped = MapCallerPtr(reinterpret_cast<void*>(item.value), item.length);
  if (!mapped) return ERROR_INVALID_PARAMETER;
  if (t.variant == PVL_VT_STRING || t.variant == PVL_VT_BLOCK) {
    // The store copies later: it gets the driver's copy, never the client's memory.
    out->bytes = new (std::nothrow) uint8_t[item.length];
    if (!out->bytes) return ERROR_OUTOFMEMORY;
    if (!CeSafeCopyMemory(out->bytes, mapped, item.length)) return ERROR_INVALID_PARAMETER;
    out->value.type = t.variant;
    out->value.payload.array = {out->bytes, int32_t(item.length), int32_t(item.length), 0};
    return ERROR_SUCCESS;
  }
  PvlValueRecord* target = &out->value;
  if (count >= 2) {
    out->elements = new (std::nothrow) PvlValueRecord[count]();
    if (!out->elements) return ERROR_OUTOFMEMORY;
    out->value.type = PVL_VT_ARRAY;
    out->value.payload.array = {out->elements, int32_t(count), int32_t(count), 0};
    target = out->elements;
  }
  const uint8_t* bytes = static_cast<const uint8_t*>(mapped);
  for (uint32_t i = 0; i < count; ++i) {
    PvlValueRecord& v = target[i];
    v.type = t.variant;
    if (!CeSafeCopyMemory(&v.payload, bytes + uint64_t(i) * t.size, t.size)) return ERROR_INVALID_PARAMETER;
  }
  return ERROR_SUCCESS;
}

}  // namespace

DWORD CPinDevice::HandleExifRequest(const void* in, DWORD inLength, void* out, DWORD outLength, DWORD* returned) {
  if (!m_portProperties || m_pinId != CS_PIN_STILL || CompressionCode() != kFourccIJPG) {
    NKDbgPrintfW(u"[%s] Invalid state for PinHandleEXIFRequests()\r\n", Name());
    return ERROR_INVALID_STATE;
  }
  if (!in || inLength < sizeof(CSPROPERTY) || (outLength && !out) || !returned) {
    NKDbgPrintfW(u"[%s] Invalid parameter for PinHandleEXIFRequests()\r\n", Name());
    return ERROR_INVALID_PARAMETER;
  }
  *returned = 0;
  CSPROPERTY header;
  if (!CopyIn(&header, in, sizeof header)) return ERROR_INVALID_PARAMETER;
  NKDbgPrintfW(u"[%s] PinHandleEXIFRequests(): Id=%u, Flags=%u\r\n", Name(), header.Id, header.Flags);
  if (header.Flags == CSPROPERTY_TYPE_SETSUPPORT) return ERROR_SUCCESS;
  if (header.Flags == CSPROPERTY_TYPE_GET) {
    NKDbgPrintfW(u"[%s] EXIF property retrieval not supported\r\n", Name());
    return ERROR_NOT_SUPPORTED;
  }
  if (header.Flags != CSPROPERTY_TYPE_SET) return ERROR_INVALID_PARAMETER;
  DWORD error = 0;
  void* mapped = MapCallerBuffer(out, outLength, sizeof(PropertyItem), &error);
  PropertyItem item;
  if (!mapped || !CopyIn(&item, mapped, sizeof item)) return ERROR_MORE_DATA;
  ExifVariant variant;
  DWORD r = ConvertExifItem(item, &variant);
  if (r != ERROR_SUCCESS) {
    NKDbgPrintfW(u"[%s] Could not convert PropertyItem to Parvel Variant\r\n", Name());
    return r;
  }
  // Declare the tag a member of the EXIF group, then set it.
  PvlPropertyDescHead desc{};
  desc.id = item.tag;
  desc.values[0] = variant.value;
  m_portProperties->AddProperty(PvlPropertyDescOf(&desc), ZUEUID_PROPERTY_GROUP_EXIF, PVL_PROPERTY_ADD_REPLACE);
  PvlResult pr = m_portProperties->SetProperty(item.tag, &variant.value);
  if (pr != PVL_OK) {
    NKDbgPrintfW(u"[%s] Could not set EXIF property on Camera Port: PVLID=%x, result=%d\r\n", Name(), item.tag, pr);
    return ERROR_FUNCTION_FAILED;
  }
  NKDbgPrintfW(u"[%s] EXIF property successfully set on Camera Port: PVLID=%x, result=%d\r\n", Name(), item.tag, pr);
  return ERROR_SUCCESS;
}

DWORD CPinDevice::HandleJpegRequest(const void* in, DWORD inLength, void* out, DWORD outLength, DWORD* returned) {
  if (!m_portProperties || m_pinId != CS_PIN_STILL || CompressionCode() != kFourccIJPG) {
    NKDbgPrintfW(u"[%s] Invalid state for PinHandleJPEGEncodeRequests()\r\n", Name());
    return ERROR_INVALID_STATE;
  }
  if (!in || inLength < sizeof(CSPROPERTY) || (outLength && !out) || !returned) {
    NKDbgPrintfW(u"[%s] Invalid parameter for PinHandleJPEGEncodeRequests()\r\n", Name());
    return ERROR_INVALID_PARAMETER;
  }
  *returned = 0;
  CSPROPERTY header;
  if (!CopyIn(&header, in, sizeof header)) return ERROR_INVALID_PARAMETER;
  NKDbgPrintfW(u"[%s] PinHandleJPEGRequests(): Id=%u, Flags=%u\r\n", Name(), header.Id, header.Flags);
  if (header.Flags == CSPROPERTY_TYPE_SETSUPPORT) return ERROR_SUCCESS;
  if (header.Id >= kPinJpegProperties) {
    NKDbgPrintfW(u"[%s] Invalid JPEG Property, Id=%d\r\n", Name(), header.Id);
    return ERROR_INVALID_PARAMETER;
  }
  const DSPropertyMapEntry& row = m_jpeg[header.Id];
  if (!row.supported) return ERROR_NOT_SUPPORTED;
  if (header.Flags == CSPROPERTY_TYPE_BASICSUPPORT) return AdapterReplyBasicSupport(out, outLength, returned, row);
  if (header.Flags == CSPROPERTY_TYPE_DEFAULTVALUES) return AdapterReplyDefaultValues(out, outLength, returned, row);
  DWORD error = 0;
  if (header.Flags == CSPROPERTY_TYPE_GET) {
    if (header.Id == VANTOR_JPEG_CROP_FACTOR) return ERROR_NOT_SUPPORTED;
    void* mapped = MapCallerBuffer(out, outLength, sizeof(CSPROPERTY_VIDEOPROCAMP_S), &error);
    if (!mapped) return ERROR_MORE_DATA;
    PvlValueRecord value{};
    value.type = row.type;
    PvlResult r = m_portProperties->GetProperty(row.engineId, &value);
    if (r != PVL_OK) {
      NKDbgPrintfW(u"[%s] Could not retrieve JPEG property from Camera Port: PVLID=%x, result=%d\r\n", Name(),
                   row.engineId, r);
      return ERROR_INVALID_PARAMETER;
    }
    CSPROPERTY_VIDEOPROCAMP_S reply{};
    reply.Property = header;
    r = TranslatePVLToJpeg(&reply, row.engineId, value, 2, row);
    if (r != PVL_OK) {
      NKDbgPrintfW(u"[%s] Translation from PVL JPEG to DS property failed: PVLID=%x, result=%d\r\n", Name(),
                   row.engineId, r);
      return ERROR_FUNCTION_FAILED;
    }
    if (!CopyOut(mapped, &reply, sizeof reply)) return ERROR_INVALID_PARAMETER;
    *returned = sizeof reply;
    NKDbgPrintfW(u"[%s] JPEG property successfully retrieved from Camera Port: PVLID=%x, result=%d\r\n", Name(),
                 row.engineId, r);
    return ERROR_SUCCESS;
  }
  if (header.Flags != CSPROPERTY_TYPE_SET) {
    NKDbgPrintfW(u"[%s] Invalid JPEGEncode property request\r\n", Name());
    return ERROR_INVALID_PARAMETER;
  }
  if (header.Id == VANTOR_JPEG_CROP_FACTOR) {
    // The crop factor: a double where the other ids carry their value (byte 24).
    void* mapped = MapCallerBuffer(out, outLength, 32, &error);
    double z = 1.0;
    if (!mapped || !CopyIn(&z, static_cast<uint8_t*>(mapped) + 24, sizeof z)) return ERROR_MORE_DATA;
    if (!(z >= 1.0)) z = 1.0;  // NaN too
    if (z > 4.0) z = 4.0;
    const CS_BITMAPINFOHEADER& bmi = m_range.VideoInfoHeader.bmiHeader;
    const double W = bmi.biWidth, H = std::abs(bmi.biHeight);
    const int32_t w = int32_t(W / z), h = int32_t(H / z);
    const int32_t left = int32_t((W - w) / 2), top = int32_t((H - h) / 2);
    g_pinGlobals.zoomCropFactor = z;
    PvlValueRecord crop{};
    crop.type = PVL_VT_RECT;
    crop.payload.rect = {left, top, w + left - 1, h + top - 1};
    PvlResult r = m_portProperties->SetProperty(ZUEUID_PROPERTY_JPEG_MAIN_CROP, &crop);
    if (r != PVL_OK) {
      NKDbgPrintfW(u"[%s] Could not set JPEG property on Camera Port: PVLID=%x, result=%d\r\n", Name(),
                   ZUEUID_PROPERTY_JPEG_MAIN_CROP, r);
      return ERROR_INVALID_PARAMETER;
    }
    NKDbgPrintfW(u"[%s] JPEG property successfully set on Camera Port: PVLID=%x, result=%d\r\n", Name(),
                 ZUEUID_PROPERTY_JPEG_MAIN_CROP, r);
    return ERROR_SUCCESS;
  }
  void* mapped = MapCallerBuffer(out, outLength, sizeof(CSPROPERTY_VIDEOPROCAMP_S), &error);
  CSPROPERTY_VIDEOPROCAMP_S record;
  if (!mapped || !CopyIn(&record, mapped, sizeof record)) return ERROR_MORE_DATA;
  record.Property = header;
  return SetJpegValue(header.Id, record);
}

DWORD CPinDevice::SetJpegValue(uint32_t id, const CSPROPERTY_VIDEOPROCAMP_S& record) {
  const DSPropertyMapEntry& row = m_jpeg[id];
  const uint32_t flags = record.Flags;
  if (flags != 1 && flags != 2 && flags != 4 && flags != 8) return ERROR_INVALID_PARAMETER;
  if (record.Value < row.minimum || record.Value > row.maximum) {
    if (flags == CSPROPERTY_FLAGS_AUTO) return ERROR_SUCCESS;
    NKDbgPrintfW(u"[%s] Value outside JPEGEncode property range: Id=%d, Value=%d\r\n", Name(), id, record.Value);
    SetLastError(ERROR_INVALID_PARAMETER);
    return ERROR_INVALID_PARAMETER;
  }
  PvlValueRecord value{};
  PvlResult r = TranslateJpegToPVL(&value, nullptr, record, row);
  if (r != PVL_OK) {
    NKDbgPrintfW(u"[%s] Translation from DS to PVL JPEG property failed: PVLID=%x, result=%d\r\n", Name(),
                 row.engineId, r);
    return ERROR_INVALID_PARAMETER;
  }
  r = m_portProperties->SetProperty(row.engineId, &value);
  if (r != PVL_OK) {
    NKDbgPrintfW(u"[%s] Could not set JPEG property on Camera Port: PVLID=%x, result=%d\r\n", Name(), row.engineId, r);
    return ERROR_INVALID_PARAMETER;
  }
  NKDbgPrintfW(u"[%s] JPEG property successfully set on Camera Port: PVLID=%x, result=%d\r\n", Name(), row.engineId, r);
  return ERROR_SUCCESS;
}
