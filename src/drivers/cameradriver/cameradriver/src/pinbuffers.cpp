// The pin's buffers: the client's allocation, queueing and release of its buffers,
// the pool behind them, and their return when the stream stops.
//
// A frame normally reaches the client without a copy: in allocation modes 1 and 2
// the client's buffers are the frame buffers of the pool the pin hands to its port,
// so the capture thread only finds the entry that owns the frame and tells the
// client. Only when the client's memory is not physically contiguous (the fallback)
// does the pool own its memory, and the thread copies each frame out.
#include <cstdlib>
#include <cstring>

#include "ccameradevice.h"
#include "chipset.h"
#include "cpindevice.h"
#include "pininternal.h"
#include "plindor.h"

using namespace pinimpl;

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
  if (Kind().startsOnFullQueue && m_phase != RunPhase::Started && m_table->queued == m_table->allocated) {
    NKDbgPrintfW(u"[%s] %d of %d buffers received; starting the pin\r\n", Name(), m_table->queued,
                 m_table->allocated);
    ok = StartWithBuffers();
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
    // A still cannot be taken without its buffers: the trigger is disarmed.
    if (Kind().start == PinStart::Snapshot) {
      m_phase = RunPhase::NotStarted;
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
