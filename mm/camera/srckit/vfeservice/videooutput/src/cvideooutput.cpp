// CVideoOutput: formats, modes, the buffers the VFE holds and the frame path
// of one VFE video output.
#include "cvideooutput.h"

#include <string.h>

#include "camerasettings.h"
#include "ccameralockguard.h"
#include "csensorinfo.h"
#include "pvllog.h"
#include "vfedriver.h"

namespace {

bool ValidMode(uint32_t mode) { return mode == VIDEO_OUTPUT_MODE_STILL || mode == VIDEO_OUTPUT_MODE_VIDEO; }

const char* FourccLabel(uint32_t fourcc) {
  switch (fourcc) {
    case 0x3132564Eu: return "YUV_NV21";
    case 0x3231564Eu: return "YUV_NV12";
    case 0x30323449u: return "YUV_I420";
    case 0x56555949u: return "YUV_IYUV";
    case 0x52474742u: return "BAYER_RGGB";
    case 0x47524247u: return "BAYER_GRBG";
    case 0x47425247u: return "BAYER_GBRG";
    case 0x42474752u: return "BAYER_BGGR";
    case 0u: return "RGB_BIRGB";
    default: return nullptr;
  }
}

}  // namespace

CVideoOutput::CVideoOutput(IVfeOutputHost* service, const VideoOutputTraits& traits, PvlResult* result)
    : CPvlObject(service ? service->GetEnv() : nullptr),
      m_service(service),
      m_traits(traits),
      m_modes{},
      m_currentMode(VIDEO_OUTPUT_NO_MODE),
      m_current(),
      m_running(0),
      m_supported(),
      m_ackCommand(traits.ackCommand) {
  *result = PVL_OK;
  if (!service) {
    *result = PVL_E_BADARG;
    return;
  }
  for (uint32_t i = 0; i < 2; ++i) {
    m_modes[i].id = i;
    m_modes[i].count = 1;
    m_modes[i].enabled = 0;
    CVideoBufferManager* manager = nullptr;
    PvlResult r = CVideoBufferManager::Create(GetEnv(), &manager);
    if (r != PVL_OK) {
      *result = r;
      return;
    }
    m_modes[i].manager = manager;
    manager->Release();
  }
  m_supported.idColorSpace = traits.colorSpace;
  m_supported.FourCC = traits.fourcc;
  m_supported.Depth = traits.depth;
  IVfeSettings* settings = service->GetVfeSettings();
  if (!settings) {
    *result = PVL_E_NOTREADY;
    return;
  }
  SensorGeometry geometry{};
  PvlResult r = settings->GetSensorGeometry(&geometry);
  if (r != PVL_OK) {
    *result = r;
    return;
  }
  uint32_t width = geometry.Words[9];
  uint32_t height = geometry.Words[10];
  if (traits.limitTo1024x768 && static_cast<int32_t>(width) >= 1024 && static_cast<int32_t>(height) >= 768) {
    width = 1024;
    height = 768;
  }
  m_supported.Width = width;
  m_supported.Height = height;
  m_supported.HorizontalSampling = traits.sampling;
  m_supported.VerticalSampling = traits.sampling;
  m_supported.Stride = width * traits.depth / 8;
  SensorTiming timing{};
  r = settings->GetSensorTiming(&timing);
  if (r != PVL_OK) {
    *result = r;
    return;
  }
  m_supported.FrameInterval = timing.Words[0];
  CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "format0.nFrameRate=%d (microseconds))", static_cast<int>(timing.Words[0]));
  m_supported.AutoFrameRate = 0;
  m_supported.ClipLeft = 0;
  m_supported.ClipTop = 0;
  m_supported.ClipRight = static_cast<int32_t>(width);
  m_supported.ClipBottom = static_cast<int32_t>(height);
  FormatDump(m_supported);
}

CVideoOutput::~CVideoOutput() { m_outstanding.clear(); }

ILock* CVideoOutput::Lock() const { return m_service->GetLock(); }

PvlResult CVideoOutput::QueryInterface(ZUEUID iid, void** out) {
  if (!out) return PVL_E_BADARG;
  if (iid == ZUEUID_IFACE_VIDEO_OUTPUT) {
    *out = static_cast<IVideoOutput*>(this);
    AddRef();
    return PVL_OK;
  }
  return CPvlObject::QueryInterface(iid, out);
}

PvlResult CVideoOutput::GetFormats(CameraPortFormat* formats, int32_t capacity, int32_t* count) {
  if (!count) return PVL_E_BADARG;
  if (formats ? capacity < 0 : capacity != 0) return PVL_E_BADARG;
  const int32_t supported = static_cast<int32_t>(GetSupportedFormatCount());
  *count = supported;
  if (formats) {
    const int32_t n = capacity < supported ? capacity : supported;
    for (int32_t i = 0; i < n; ++i) formats[i] = GetSupportedFormats()[i];
  }
  return PVL_OK;
}

PvlResult CVideoOutput::GetOutputId(uint32_t* id) {
  if (!id) return PVL_E_NULLPTR;
  *id = m_traits.outputId;
  return PVL_OK;
}

PvlResult CVideoOutput::IsEnabled(uint32_t mode, uint8_t* enabled) {
  if (!ValidMode(mode) || !enabled) return PVL_E_BADARG;
  *enabled = m_modes[mode].enabled;
  return PVL_OK;
}

PvlResult CVideoOutput::Enable(uint32_t mode, uint8_t on) {
  if (!ValidMode(mode)) return PVL_E_BADARG;
  m_modes[mode].enabled = on != 0 ? 1 : 0;
  m_service->UpdateMaxCropFactor();
  return PVL_OK;
}

PvlResult CVideoOutput::IsFormatScalable(uint8_t* scalable, uint32_t index) {
  if (!scalable || index >= GetSupportedFormatCount()) return PVL_E_BADARG;
  *scalable = m_traits.outputFlag;
  return PVL_OK;
}

PvlResult CVideoOutput::GetBufferInfo(uint32_t mode, BufferRequest* records, int32_t capacity, uint32_t* count) {
  if (!ValidMode(mode)) return PVL_E_BADARG;
  if ((!records && capacity != 0) || !count) return PVL_E_BADARG;
  *count = 1;
  if (capacity > 0) m_modes[mode].manager->GetBufferRequest(records);
  return PVL_OK;
}

PvlResult CVideoOutput::GetBufferAllocator(uint32_t mode, ICameraBufferManager** allocator) {
  if (!ValidMode(mode) || !allocator) return PVL_E_BADARG;
  CCameraLockGuard guard(Lock());
  ICameraBufferManager* held = m_modes[mode].manager->GetAllocator();
  // Asked before the engine gave one: nothing to hand out.
  if (!held) {
    *allocator = nullptr;
    return PVL_E_NOTREADY;
  }
  held->AddRef();
  *allocator = held;
  return PVL_OK;
}

PvlResult CVideoOutput::SetBufferManager(uint32_t mode, ICameraBufferManager* manager) {
  CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Setting Buffer Managager for mode %d", static_cast<int>(mode));
  if (!ValidMode(mode)) return PVL_E_BADARG;
  CCameraLockGuard guard(Lock());
  m_modes[mode].manager->SetAllocator(manager);
  return PVL_OK;
}

PvlResult CVideoOutput::GetFormat(uint32_t mode, CameraPortFormat* format) {
  if (!ValidMode(mode) || !format) return PVL_E_BADARG;
  CCameraLockGuard guard(Lock());
  *format = m_modes[mode].format;
  return PVL_OK;
}

// The mode keeps its format until the buffer side has accepted the new one, so
// a refused format never leaves the mode describing buffers it cannot have.
PvlResult CVideoOutput::SetFormat(uint32_t mode, const CameraPortFormat* format) {
  if (!format || !ValidMode(mode)) return PVL_E_BADARG;
  if (!IsFormatSupported(m_supported, *format)) return PVL_E_BADARG;
  CCameraLockGuard guard(Lock());
  Mode& part = m_modes[mode];
  if (!part.manager) return PVL_E_NOTREADY;
  PvlResult r = part.manager->SetFormat(*format, part.BufferCount());
  if (r != PVL_OK) return r;
  part.format = *format;
  m_service->UpdateMaxCropFactor();
  return PVL_OK;
}

PvlResult CVideoOutput::QueryStatus(uint32_t* first, uint32_t* second) {
  if (m_traits.statusWord == 0) return PVL_E_UNSUPPORTED;
  if (!first || !second) return PVL_E_BADARG;
  VfeOutputQuery query{};
  PvlResult r = m_service->SendCommand(VFE_CMD_QUERY_OUTPUT, &query, sizeof query);
  if (r != PVL_OK) return r;
  *first = query.frameCounter;
  *second = m_traits.statusWord == 1 ? query.output1Dropped : query.output2Dropped;
  return PVL_OK;
}

PvlResult CVideoOutput::GetReadySignal(ISignalControl** signal) {
  if (!signal) return PVL_E_BADARG;
  *signal = nullptr;
  if (m_traits.readySignal == 0) return PVL_OK;
  ISignalControl* control = m_service->GetAckSignal(m_traits.readySignal);
  if (control) control->AddRef();
  *signal = control;
  return PVL_OK;
}

PvlResult CVideoOutput::AckBuffer(IPvlMediaBuffer* buffer) {
  if (!buffer || !m_currentManager) return PVL_E_BADARG;
  BufferAddressPair pair{};
  PvlResult r = m_currentManager->GetBufferAddressPair(buffer, &pair, true);
  if (r != PVL_OK) return r;
  VfeBufferEntry entry;
  for (uint32_t i = 0; i < 4; ++i) {
    entry.luma[i] = pair.luma;
    entry.chroma[i] = pair.chroma;
  }
  VfeAckOutputCmd ack{};
  ack.count = 1;
  ack.entries = &entry;
  r = m_service->SendCommand(static_cast<int32_t>(m_ackCommand), &ack, sizeof ack);
  if (r != PVL_OK && m_traits.outputId == 1) CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "***!!! ERROR ACKING OUTPUT !!!***");
  return r;
}

PvlResult CVideoOutput::SetAckMode(uint32_t path) {
  if (!m_traits.followsAckMode) return PVL_OK;
  if (path == 1) {
    m_ackCommand = VFE_CMD_ACK_OUTPUT_MODE1;
  } else if (path == 0 || path == 2) {
    m_ackCommand = VFE_CMD_ACK_OUTPUT;
  }
  return PVL_OK;
}

// ---- The service's side ----

PvlResult CVideoOutput::SetCurrentMode(uint32_t mode, uint32_t count) {
  CheckState();
  if (m_running) return PVL_E_NOTREADY;
  if (!ValidMode(mode)) return PVL_E_BADARG;
  Mode& part = m_modes[mode];
  if (mode == VIDEO_OUTPUT_MODE_STILL) part.count = count;
  // A new configuration starts from a reset VFE: buffers queued for the last
  // one are no longer the VFE's and go back to their pool.
  DropOutstanding();
  if (m_currentManager) m_currentManager->UnbindReadySignal();
  m_currentMode = part.id;
  m_currentManager = part.manager.Get();
  m_current = part.format;
  CPvlPtr<ISignalControl> signal;
  if (GetReadySignal(&signal) == PVL_OK && signal) m_currentManager->BindReadySignal(signal);
  return PVL_OK;
}

PvlResult CVideoOutput::Start() {
  CCameraLockGuard guard(Lock());
  m_running = 1;
  return PVL_OK;
}

PvlResult CVideoOutput::Stop() {
  CCameraLockGuard guard(Lock());
  if (!m_running) return PVL_OK;
  CheckState();
  m_running = 0;
  m_currentMode = VIDEO_OUTPUT_NO_MODE;
  // Only the buffers the VFE held are dropped; frames the engine's readers
  // hold are theirs and come back to the pool when they let go.
  DropOutstanding();
  if (m_currentManager) m_currentManager->UnbindReadySignal();
  CheckState();
  return PVL_OK;
}

void CVideoOutput::DropOutstanding() {
  std::vector<CPvlPtr<IPvlMediaBuffer>> dropped;
  dropped.swap(m_outstanding);
}

PvlResult CVideoOutput::QueueNewBuffer(IPvlMediaBuffer** buffer) {
  if (!buffer) return PVL_E_BADARG;
  if (!m_currentManager) return PVL_E_NOTREADY;
  CPvlPtr<IPvlMediaBuffer> taken;
  PvlResult r = m_currentManager->GetBuffer(&taken, 0);
  if (r != PVL_OK) return r;
  CCameraLockGuard guard(Lock());
  // Handed out without a reference: the outstanding list holds the buffer for
  // as long as the VFE does.
  *buffer = taken.Get();
  m_outstanding.push_back(std::move(taken));
  return PVL_OK;
}

bool CVideoOutput::IsRunning() { return m_running != 0; }

bool CVideoOutput::IsCurrentModeEnabled() {
  return ValidMode(m_currentMode) && m_modes[m_currentMode].enabled != 0;
}

PvlResult CVideoOutput::GetCurrentFormat(CameraPortFormat* format) {
  if (!format) return PVL_E_BADARG;
  CCameraLockGuard guard(Lock());
  if (!ValidMode(m_currentMode)) return PVL_E_BADARG;
  *format = m_current;
  return PVL_OK;
}

PvlResult CVideoOutput::GetCurrentBufferCount() {
  if (!ValidMode(m_currentMode)) return PVL_E_BADARG;
  return static_cast<PvlResult>(m_modes[m_currentMode].BufferCount());
}

PvlResult CVideoOutput::ReArm() {
  CCameraLockGuard guard(Lock());
  if (!m_running || !m_currentManager) return PVL_OK;
  CPvlPtr<IPvlMediaBuffer> buffer;
  PvlResult r = m_currentManager->GetBuffer(&buffer, 0);
  if (r == CAMERA_BM_E_NO_FREE_BUFFER) return PVL_OK;  // the ready signal brings us back
  if (r != PVL_OK) return r;
  r = AckBuffer(buffer);
  if (r == PVL_OK) m_outstanding.push_back(buffer);
  return r;  // a refused buffer goes back to the pool with the holder
}

PvlResult CVideoOutput::OnOutput(uint32_t luma, uint32_t chroma, uint64_t startOfFrame, uint64_t messageTime) {
  PvlResult result = PVL_E_FAIL;
  CPvlPtr<IPvlMediaBuffer> frame;
  {
    CCameraLockGuard guard(Lock());
    if (!m_outstanding.empty()) result = PVL_OK;
    for (auto it = m_outstanding.begin(); it != m_outstanding.end(); ++it) {
      BufferAddressPair pair{};
      result = m_currentManager ? m_currentManager->GetBufferAddressPair(*it, &pair, true) : PVL_E_NOTREADY;
      if (result != PVL_OK) {
        CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Error retrieving address pair from outstanding buffer vector!!!");
        continue;
      }
      if (pair.luma == luma && pair.chroma == chroma) {
        frame = it->Get();
        m_outstanding.erase(it);
        frame->SetTime1(startOfFrame);
        frame->SetTime2(messageTime);
        break;
      }
    }
    if (!frame && result == PVL_OK)
      CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "OUTPUT%u: no buffer at 0x%x/0x%x, message dropped", m_traits.outputId,
                       luma, chroma);
    ReArm();
  }
  if (result == PVL_OK && frame) {
    uint32_t id = 0;
    result = GetOutputId(&id);
    if (result == PVL_OK) result = m_service->RaiseEvent(EVENT_OUTPUT, id, frame.Get());
    if (result != PVL_OK)
      CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Error Sending EVENT_OUTPUT callback to camera engine :%d!!!",
                       static_cast<int>(result));
  }
  return result;
}

// One event per frame lost (a report covers a few at most: the path reports at
// every interrupt).
PvlResult CVideoOutput::OnFramesLost(uint32_t lost) {
  uint32_t id = 0;
  PvlResult r = GetOutputId(&id);
  for (uint32_t i = 0; r == PVL_OK && i < lost && i < kMaxLostEvents; ++i)
    r = m_service->RaiseEvent(EVENT_OUTPUT_LOST, id, nullptr);
  return r;
}

// ---- Formats ----

bool CVideoOutput::IsFormatSupported(const CameraPortFormat& supported, const CameraPortFormat& format) {
  if (supported.FourCC != format.FourCC) return false;
  if (supported.idColorSpace != format.idColorSpace) return false;
  if (format.Width < 1 || format.Width > supported.Width) return false;
  if (format.Height < 1 || format.Height > supported.Height) return false;
  if (format.HorizontalSampling != supported.HorizontalSampling) return false;
  if (format.VerticalSampling != supported.VerticalSampling) return false;
  const int32_t w = static_cast<int32_t>(format.Width);
  const int32_t h = static_cast<int32_t>(format.Height);
  return format.ClipLeft >= 0 && format.ClipRight <= w && format.ClipTop >= 0 && format.ClipBottom <= h;
}

void CVideoOutput::FormatDump(const CameraPortFormat& format) {
  if (format.idColorSpace == ZUEUID_COLORSPACE_YUV) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "format.idColorSpace=YUV");
  } else if (format.idColorSpace == ZUEUID_COLORSPACE_RAW) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "format.idColorSpace=RGB");
  } else {
    CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "format.idColorSpace=0x%x", format.idColorSpace);
  }
  const char* label = FourccLabel(format.FourCC);
  if (label) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "format.fourcc=%s", label);
  } else {
    CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "format.fourcc=0x%x", format.FourCC);
  }
  CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "format.nDepth=%d", static_cast<int>(format.Depth));
  CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "format.nWidth=%d", static_cast<int>(format.Width));
  CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "format.nHeight=%d", static_cast<int>(format.Height));
  CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "format.nColorSamplingX=%d", static_cast<int>(format.HorizontalSampling));
  CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "format.nColorSamplingY=%d", static_cast<int>(format.VerticalSampling));
  CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "format.nStride=%d", static_cast<int>(format.Stride));
  CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "format.nFrameRate=%d", static_cast<int>(format.FrameInterval));
  CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "format.bAutoFrameRate=%s", format.AutoFrameRate ? "TRUE" : "FALSE");
  CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "format.clipping(L,T,R,B))=(%d,%d,%d,%d)", static_cast<int>(format.ClipLeft),
                   static_cast<int>(format.ClipTop), static_cast<int>(format.ClipRight),
                   static_cast<int>(format.ClipBottom));
}

// A running output must have a mode, its buffer side and a valid format; a
// stopped one holds no buffer of the VFE. Reported, not enforced.
void CVideoOutput::CheckState() {
  if (m_running) {
    if (!ValidMode(m_currentMode) || !m_currentManager || !IsFormatSupported(m_supported, m_current))
      PvlAssertBreak(m_currentMode);
  }
}
