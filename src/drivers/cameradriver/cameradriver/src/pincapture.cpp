// The pin's capture thread: it takes each frame of the port, finds the client
// buffer for it, copies or converts it when the buffer is not the frame's own
// memory (NV21 turned into YV12 for a YV12 pin on the fallback), numbers and
// times it, and tells the client through its queue. Lost captures and a lost
// sensor come back to the client as empty buffers.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "ccameradevice.h"
#include "chipset.h"
#include "cpindevice.h"
#include "formattranslation.h"
#include "nv21toyv12.h"
#include "pininternal.h"
#include "plindor.h"

using namespace pinimpl;

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
  if (Kind().triggered) return 0;
  return PortCounter(ZUEUID_PROPERTY_PORT_STATUS_2);
}

int64_t CPinDevice::DropCount() const { return int64_t(m_droppedFrames) + PortDrops(); }

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
  if (Kind().triggered) {
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
  const uint32_t chromaBytes = Nv21InPlaceScratchBytes(width, height, sizeof m_lineBuffer);
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
  // The blitter reads its source, target and parameters from physical memory.
  const PmemBlock source(44, 6), target(44, 6), params(16, 6);
  if (source && target && params) {
    double z = g_pinGlobals.zoomCropFactor >= 1.0 ? g_pinGlobals.zoomCropFactor : 1.0;
    int32_t cropW = int32_t(width / z), cropH = int32_t(height / z);
    int32_t left = int32_t((width - cropW) / 2.0), top = int32_t((height - cropH) / 2.0);
    uint32_t luma = pmem_get_phys_addr(reinterpret_cast<void*>(uintptr_t(address)));
    const uint32_t src[11] = {3, luma, luma + width * height, 0, width, height, 0,
                              uint32_t(left), uint32_t(top), uint32_t(cropW), uint32_t(cropH)};
    std::memcpy(source.get(), src, sizeof src);
    NKDbgPrintfW(u"thumbCropWindow._u.rect.top = %d\n", top);
    NKDbgPrintfW(u"thumbCropWindow._u.rect.left = %d\n", left);
    NKDbgPrintfW(u"thumbCropWindow._u.rect.bottom = %d\n", cropH + top - 1);
    NKDbgPrintfW(u"thumbCropWindow._u.rect.right = %d\n", cropW + left - 1);
    const uint32_t pw = g_pinGlobals.previewWidth, ph = g_pinGlobals.previewHeight;
    const uint32_t dst[11] = {0, pmem_get_phys_addr(screen), 0, 0, pw, ph, 0, 0, 0, pw, ph};
    std::memcpy(target.get(), dst, sizeof dst);
    const uint32_t par[4] = {1, 0, 0, 0};
    std::memcpy(params.get(), par, sizeof par);
    if (ddi_disp2d_blt(source.get(), target.get(), params.get(), 0) == 0 && m_device->AsyncQueue()) {
      AsyncCameraMessage message{Kind().screenNotice, sizeof(AsyncCameraMessage), 0,
                                 uint32_t(reinterpret_cast<uintptr_t>(screen)), pw * ph * 2};
      // Never wait for room: a full queue (no reader) must not hold up the frames.
      if (!WriteMsgQueue(m_device->AsyncQueue()->Handle(), &message, sizeof message, 0, 0))
        NKDbgPrintfW(u"[%s] Post-capture notice dropped\r\n", Name());
      NKDbgPrintfW(u"Pin %d: %d, %d, %d\r\n", m_pinId, int(m_phase == RunPhase::Started), height, width);
    }
  } else {
    NKDbgPrintfW(u"Failed to allocate memory\r\n");
  }
  m_device->SetPinStopped(true);
}

DWORD CPinDevice::CaptureThread() {
  NKDbgPrintfW(u"[%s] Capture thread started\r\n", Name());
  DWORD old = SetProcPermissions(0xFFFFFFFFu);
  DWORD result = ERROR_SUCCESS;
  bool screenDone = false;
  const bool waitsForTrigger = Kind().triggered;
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
    if (Kind().screenNotice && !screenDone &&
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
