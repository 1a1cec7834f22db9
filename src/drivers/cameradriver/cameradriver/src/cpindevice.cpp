// The pin handle: instantiation, the port's configuration, the connection set
// (state, format, framing) with the stream-state machine, and starting the streams.
// Its buffers are in pinbuffers.cpp, its capture thread in pincapture.cpp, the
// still pin's EXIF and JPEG-encode sets in pinproperties.cpp.
#include "cpindevice.h"

#include <cstring>
#include <limits>
#include <memory>

#include "ccameradevice.h"
#include "chipset.h"
#include "formattranslation.h"
#include "pininternal.h"
#include "plindor.h"
#include "scopeexit.h"

using namespace pinimpl;

namespace {

constexpr uint32_t kVideoSource = 0x0106E42Au;  // the video outputs' pools
constexpr uint32_t kStillSource = ZUEUID_BUFFER_SOURCE_CONTIGUOUS;

const WCHAR* StateName(uint32_t s) {
  switch (s) {
    case CSSTATE_STOP: return u"STOP";
    case CSSTATE_PAUSE: return u"PAUSE";
    case CSSTATE_RUN: return u"RUN";
  }
  return u"UNKNOWN";
}

}  // namespace

PinGlobals pinimpl::g_pinGlobals;

namespace {

// clang-format off
// The pin kinds by pin id; the last row answers any other id.
constexpr PinKind kPinKinds[CS_PIN_NONE + 1] = {
  // name          buffer mode setting             default mode        source        fixed extra start
  //   full-queue start, keeps start through pause, triggered, still image, screen notice, noted size
  {u"Capture",   u"CaptureBufferAllocationMode", kBufferModeClient, kVideoSource, 0, 1, PinStart::Video,
     true,  false, false, false, 2, nullptr, nullptr},
  {u"Still",     u"StillBufferAllocationMode",   kBufferModeDriver, kStillSource, 1, 0, PinStart::Snapshot,
     true,  false, true,  true,  0, &PinGlobals::stillWidth, &PinGlobals::stillHeight},
  {u"Preview",   u"PreviewBufferAllocationMode", kBufferModeClient, kVideoSource, 0, 2, PinStart::Video,
     true,  false, false, false, 0, &PinGlobals::previewWidth, &PinGlobals::previewHeight},
  {u"Thumbnail", u"PreviewBufferAllocationMode", kBufferModeClient, kVideoSource, 0, 0, PinStart::Thumbnail,
     false, true,  true,  false, 1, nullptr, nullptr},
  {u"UNKNOWN",   u"PreviewBufferAllocationMode", kBufferModeClient, kVideoSource, 0, 0, PinStart::Video,
     false, false, false, false, 0, nullptr, nullptr},
};
// clang-format on
static_assert(CS_PIN_CAPTURE == 0 && CS_PIN_STILL == 1 && CS_PIN_PREVIEW == 2 && CS_PIN_THUMBNAIL == 3,
              "the rows follow the pin ids");

}  // namespace

const PinKind& pinimpl::PinKindOf(uint32_t pinId) { return kPinKinds[pinId < CS_PIN_NONE ? pinId : CS_PIN_NONE]; }

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

const pinimpl::PinKind& CPinDevice::Kind() const { return PinKindOf(m_pinId); }

const WCHAR* CPinDevice::Name() const { return Kind().name; }

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
    m_phase = RunPhase::NotStarted;
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
  m_phase = RunPhase::NotStarted;
  if (m_port) m_port->Stop();
  EndCaptureThread();
  if (!SharesBufferTable()) ReturnQueuedBuffers();
  m_state = CSSTATE_STOP;
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
  // Until the pin owns its stream, a failed step gives the slot and the port back.
  ScopeExit giveBack([this] {
    m_device->RemovePinInstance(m_pinId);
    ReleaseAndClear(m_portProperties);
    ReleaseAndClear(m_port);
  });
  if (!m_device->GetPort(m_pinId, &m_port)) {
    m_port = nullptr;
    NKDbgPrintfW(u"[%s] No port provided for pin\r\n", Name());
    return ERROR_INVALID_PARAMETER;
  }
  if (m_port->QueryInterface(ZUEUID_IFACE_PROPERTIES_ALT, reinterpret_cast<void**>(&m_portProperties)) != PVL_OK ||
      !m_portProperties) {
    m_portProperties = nullptr;
    NKDbgPrintfW(u"[%s] CameraPort does not support ImProperties\r\n", Name());
    return ERROR_FUNCTION_FAILED;
  }
  ReadBufferMode();
  const CS_DATARANGE_VIDEO* range = nullptr;
  if (!m_device->GetDataRange(m_pinId, 0, &range)) {
    NKDbgPrintfW(u"[%s] No pin format provided for pin\r\n", Name());
    return ERROR_INVALID_PARAMETER;
  }
  m_range = *range;
  const CS_BITMAPINFOHEADER& bmi = m_range.VideoInfoHeader.bmiHeader;
  NKDbgPrintfW(u"[%s] Setting initial m_CsDataRangeVideo to: W=%d, H=%d, D=%d, S=%d, FR=%d, FCC=%x\r\n", Name(),
               bmi.biWidth, bmi.biHeight, bmi.biBitCount, bmi.biSizeImage,
               int32_t(m_range.VideoInfoHeader.AvgTimePerFrame), bmi.biCompression);
  if (!ConfigurePort()) {
    NKDbgPrintfW(u"[%s] Could not update camera port configuration\r\n", Name());
    return ERROR_FUNCTION_FAILED;
  }
  MSGQUEUEOPTIONS options{};
  options.dwSize = sizeof options;
  options.bReadAccess = FALSE;
  m_clientQueue = OpenMsgQueue(GetCallerProcess(), reinterpret_cast<HANDLE>(uintptr_t(request.hMsgQueue)), &options);
  if (!m_clientQueue) {
    NKDbgPrintfW(u"[%s] Failed to open MsgQueue\r\n", Name());
    return ERROR_INVALID_PARAMETER;
  }
  m_ownsSlot = true;
  giveBack.Dismiss();
  return ERROR_SUCCESS;
}

void CPinDevice::ReadBufferMode() {
  const DWORD fallback = Kind().defaultBufferMode;
  DWORD mode = ReadPinSetting(Kind().bufferModeSetting, fallback);
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
  if (Kind().stillImage) {
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
    const PinKind& kind = Kind();
    for (uint32_t i = 0; i < count; ++i) {
      if (list[i].source == kind.bufferSource) {
        chosen = list[i];
        break;
      }
    }
    if (kind.fixedCount) chosen.count = kind.fixedCount;
    if (kind.extraBuffers) {
      NKDbgPrintfW(u"[%s] nBuffers: old=%u, new=%u\r\n", Name(), chosen.count, chosen.count + kind.extraBuffers);
      chosen.count += kind.extraBuffers;
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
        m_phase = RunPhase::NotStarted;
        return ERROR_SUCCESS;
      }
      // From RUN. The thumbnail's port runs on with the still: its start stands.
      if (!Kind().keepsStartThroughPause) m_phase = RunPhase::NotStarted;
      if (!m_device->StopVideo(m_pinId)) return ERROR_FUNCTION_FAILED;
      m_state = CSSTATE_PAUSE;
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
      NKDbgPrintfW(u"[%s] RUN state entered; starting the pin\r\n", Name());
      BOOL ok = TRUE;
      if (m_phase != RunPhase::Started)
        ok = Kind().start == PinStart::Thumbnail ? StartThumbnail() : StartWithBuffers();
      return ok ? ERROR_SUCCESS : ERROR_FUNCTION_FAILED;
    }
  }
  return ERROR_INVALID_PARAMETER;
}

DWORD CPinDevice::StopStream() {
  if (Kind().start == PinStart::Snapshot) m_phase = RunPhase::NotStarted;  // the trigger is disarmed at once
  m_exit = 1;
  m_device->SetPinStopped(true);
  if (!m_device->StopVideo(m_pinId)) return ERROR_FUNCTION_FAILED;
  m_port->Stop();
  EndCaptureThread();
  // The port is stopped: nothing writes into the client's buffers any more. The
  // Preview pin's buffers stay queued with the Preview pin when the Thumbnail stops.
  if (!SharesBufferTable()) ReturnQueuedBuffers();
  m_state = CSSTATE_STOP;
  m_phase = RunPhase::NotStarted;
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
  if (Kind().noteWidth) {
    g_pinGlobals.*Kind().noteWidth = uint32_t(bmi.biWidth);
    g_pinGlobals.*Kind().noteHeight = height;
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

// A video or still pin starts once RUN has come, the pool exists and every buffer
// allocated is queued: the port starts on the pool, and a video pin starts the
// engine's video too (a still pin's engine waits for the trigger).
BOOL CPinDevice::StartWithBuffers() {
  const bool video = Kind().start == PinStart::Video;
  const bool started = m_phase == RunPhase::Started;
  const bool allQueued = m_table->allocated && m_table->queued == m_table->allocated;
  if (started || m_state != CSSTATE_RUN || !m_bufferManager || !allQueued) {
    NKDbgPrintfW(video ? u"[%s] Not all conditions met to start video, skipping\r\n"
                       : u"[%s] Not all conditions met to allow snapshot triggering, skipping\r\n",
                 Name());
    if (started) NKDbgPrintfW(u"[%s]     Already started\r\n", Name());
    if (m_state != CSSTATE_RUN) NKDbgPrintfW(u"[%s]     Not in the RUN state\r\n", Name());
    if (!m_bufferManager) NKDbgPrintfW(u"[%s]     \"m_piBufferManager\" is NULL\r\n", Name());
    if (!allQueued)
      NKDbgPrintfW(u"[%s]     Need %u buffers but only got %u\r\n", Name(), m_table->allocated, m_table->queued);
    return TRUE;
  }
  // The pool may have come after RUN: the port takes it before it starts.
  if (m_port->SetBufferManager(m_bufferManager) != PVL_OK) return FALSE;
  if (m_port->Start() != PVL_OK) return FALSE;
  NKDbgPrintfW(u"[%s] RUN state entered and %d of %d buffers received; %s\r\n", Name(), m_table->queued,
               m_table->allocated, video ? u"starting video" : u"ready for trigger");
  if (video && !m_device->StartVideo(m_pinId)) return FALSE;
  m_phase = RunPhase::Started;
  ResumeThread(m_thread);
  NKDbgPrintfW(u"[%s] Capture thread resumed\r\n", Name());
  return TRUE;
}

BOOL CPinDevice::StartThumbnail() {
  if (m_phase == RunPhase::Started || m_state != CSSTATE_RUN || !m_bufferManager) {
    NKDbgPrintfW(u"[%s] Not all conditions met to start thumbnail, skipping\r\n", Name());
    return TRUE;
  }
  if (!ConfigurePort()) {
    NKDbgPrintfW(u"[%s] Could not update camera port configuration\r\n", Name());
    return FALSE;
  }
  if (m_port->Start() != PVL_OK) return FALSE;
  m_phase = RunPhase::Started;
  ResumeThread(m_thread);
  NKDbgPrintfW(u"[%s] Capture thread resumed\r\n", Name());
  return TRUE;
}
