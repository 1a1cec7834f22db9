// The frame-buffer manager (see the header for its role in the camera).
//
// Lock discipline: every list, count and flag changes under m_lock; a waiting
// GetBuffer never holds it while it sleeps; the manager's own references are
// dropped only after the lock is given up (the last one may destroy it).
#include "cmcamerabuffermanager.h"

#include <string.h>

#include <new>

#include "ccameralockguard.h"
#include "ienv.h"
#include "plindor.h"
#include "pvlheap.h"
#include "pvllog.h"

namespace {

// Above either size the contiguous memory is taken buffer by buffer.
constexpr uint32_t kLargeBuffer = 0x80000;
constexpr uint32_t kLargePool = 0x800000;
// The free list's end marker: a link word of 0 means "not on the list".
constexpr uintptr_t kListEnd = 1;

bool IsHeapSource(uint32_t source) { return source == 0 || source == ZUEUID_BUFFER_SOURCE_HEAP; }

// The registration handed out by Attach: ends it on its last Release.
class CNotifyRegistration final : public CPvlObject {
 public:
  CNotifyRegistration(IEnv* env, IPvlBase* manager, ISignalQueue* queue, ISignalControl* control)
      : CPvlObject(env), m_manager(manager), m_queue(queue), m_control(control) {}
  ~CNotifyRegistration() override { m_queue->UnregisterControl(m_control); }

 private:
  CPvlPtr<IPvlBase> m_manager;
  CPvlPtr<ISignalQueue> m_queue;
  CPvlPtr<ISignalControl> m_control;
};

}  // namespace

// A thread waiting in GetBuffer: its own queue and signal, registered once with
// the manager's notification queue.
struct CMCameraBufferManager::Waiter {
  CPvlPtr<ISignalQueue> queue;
  CPvlPtr<ISignalControl> control;
  CPvlPtr<ISignal> signal;
  Waiter* next = nullptr;
};

PvlResult CMCameraBufferManager::CreateInstance(IEnv* env, ZUEUID clsid, void* /*argument*/, void** out) {
  if (!out) return PVL_E_NULLPTR;
  *out = nullptr;
  if (clsid != ZUEUID_CLASS_BUFFER_MANAGER) return PVL_E_NOTSUPPORTED;
  if (!env) return PVL_E_NULLPTR;
  CMCameraBufferManager* self = new (std::nothrow) CMCameraBufferManager(env);
  if (!self) return PVL_E_OUTOFMEMORY;
  self->CPvlObject::AddRef();
  PvlResult r = self->Construct();
  if (r == PVL_OK) r = self->QueryInterface(ZUEUID_IFACE_CAMERABUFFERMANAGER, out);
  self->CPvlObject::Release();
  return r;
}

CMCameraBufferManager::CMCameraBufferManager(IEnv* env)
    : CPvlObject(env),
      m_notifyFace(this),
      m_request{},
      m_alignedSize(0),
      m_requirementsSet(false),
      m_external(false),
      m_mayShrink(false),
      m_allocated(false),
      m_freePending(false),
      m_buffers(nullptr),
      m_built(0),
      m_freeHead(nullptr),
      m_freeCount(0),
      m_fromHeap(false),
      m_perBuffer(false),
      m_block(nullptr),
      m_perBufferMemory(nullptr),
      m_idleWaiters(nullptr) {}

PvlResult CMCameraBufferManager::Construct() {
  PvlResult r = GetEnv()->CreateInstance(ZUEUID_CLASS_LOCK, m_lock.Out());
  if (r == PVL_OK) r = GetEnv()->CreateInstance(ZUEUID_CLASS_SIGNAL_QUEUE, m_notifyQueue.Out());
  return r;
}

CMCameraBufferManager::~CMCameraBufferManager() {
  // Buffers still out hold a reference on the manager, so every buffer is home.
  Clear();
  while (m_idleWaiters) {
    Waiter* w = m_idleWaiters;
    m_idleWaiters = w->next;
    delete w;
  }
}

PvlResult CMCameraBufferManager::QueryInterface(ZUEUID iid, void** out) {
  if (!out) return PVL_E_NULLPTR;
  *out = nullptr;
  if (iid == ZUEUID_IFACE_CAMERABUFFERMANAGER) {
    AddRef();
    *out = static_cast<ICameraBufferManager*>(this);
    return PVL_OK;
  }
  if (iid == ZUEUID_IFACE_BUFFER_NOTIFY) {
    AddRef();
    *out = static_cast<ICameraBufferNotify*>(&m_notifyFace);
    return PVL_OK;
  }
  return CPvlObject::QueryInterface(iid, out);
}

bool CMCameraBufferManager::AlignedSize(uint32_t size, uint8_t alignment, uint32_t* aligned) {
  if (alignment > 31) return false;
  const uint32_t mask = (uint32_t(1) << alignment) - 1;
  if ((size & mask) == 0) {
    *aligned = size;
    return true;
  }
  const uint64_t up = uint64_t(size & ~mask) + (uint64_t(1) << alignment);
  if (up > UINT32_MAX) return false;
  *aligned = uint32_t(up);
  return true;
}

// Checks and takes a request: a sane alignment and a pool that fits 32 bits.
PvlResult CMCameraBufferManager::TakeRequirements(const BufferRequest* request) {
  uint32_t aligned = 0;
  if (!AlignedSize(request->size, request->alignment, &aligned)) return PVL_E_BADARG;
  if (uint64_t(aligned) * request->count > UINT32_MAX) return PVL_E_BADARG;
  m_request = *request;
  m_alignedSize = aligned;
  m_requirementsSet = true;
  return PVL_OK;
}

PvlResult CMCameraBufferManager::GetRequirements(BufferRequest* request) {
  if (!request) return PVL_E_NULLPTR;
  CCameraLockGuard guard(m_lock);
  *request = m_request;
  request->size = m_alignedSize;
  memset(request->reserved, 0, sizeof request->reserved);
  return PVL_OK;
}

PvlResult CMCameraBufferManager::SetRequirements(const BufferRequest* request) {
  CCameraLockGuard guard(m_lock);
  if (m_allocated) return PVL_E_BUFFERSALLOCATED;
  if (!request) return PVL_E_NULLPTR;
  if (!m_mayShrink && m_requirementsSet && (request->count < m_request.count || request->size < m_request.size))
    return PVL_E_BUFFERTOOSMALL;
  // Once initialised, the alignment stays the one given then; a manager set up
  // by SetRequirements alone takes the request's.
  BufferRequest next = *request;
  if (m_requirementsSet) next.alignment = m_request.alignment;
  memset(next.reserved, 0, sizeof next.reserved);
  PvlResult r = TakeRequirements(&next);
  if (r != PVL_OK) return r;
  CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Buffer reqs set to #B=%d, BS=%d, ABS=%d, SRC=0x%x, A=%d", int(m_request.count),
                   int(m_request.size), int(m_alignedSize), unsigned(m_request.source), int(m_request.alignment));
  return PVL_OK;
}

PvlResult CMCameraBufferManager::InitRequirements(const BufferRequest* request, uint8_t externalMemory,
                                                  uint8_t mayShrink) {
  if (!request) return PVL_E_NULLPTR;
  CCameraLockGuard guard(m_lock);
  if (m_allocated) return PVL_E_BUFFERSALLOCATED;
  PvlResult r = TakeRequirements(request);
  if (r != PVL_OK) return r;
  m_external = externalMemory != 0;
  m_mayShrink = mayShrink != 0;
  CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Buffer reqs init'd to #B=%d, BS=%d, ABS=%d, SRC=0x%x, A=%d, AE=%d, S=%d\n",
                   int(m_request.count), int(m_request.size), int(m_alignedSize), unsigned(m_request.source),
                   int(m_request.alignment), int(m_external), int(m_mayShrink));
  return PVL_OK;
}

PvlResult CMCameraBufferManager::Allocate() {
  CCameraLockGuard guard(m_lock);
  if (m_external) return PVL_OK;
  if (m_allocated) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Buffers already allocated; returning early");
    return PVL_OK;
  }
  if (!m_requirementsSet || m_request.count == 0 || m_request.size == 0) return PVL_E_BADARG;
  PvlResult r = AllocateLocked();
  if (r != PVL_OK) Clear();
  return r;
}

PvlResult CMCameraBufferManager::AllocateLocked() {
  m_allocated = true;
  PvlResult r = MakeBuffers();
  if (r != PVL_OK) return r;
  r = AllocateMemory();
  if (r != PVL_OK) return r;
  for (uint32_t i = m_built; i-- > 0;) PushFree(m_buffers[i]);
  return PVL_OK;
}

PvlResult CMCameraBufferManager::MakeBuffers() {
  const uint32_t count = m_request.count;
  m_buffers = static_cast<CPvlMediaBuffer**>(pvlheap_Malloc(count * sizeof(CPvlMediaBuffer*), GetEnv(),
                                                            __FILE__ ":buffers"));
  if (!m_buffers) return PVL_E_OUTOFMEMORY;
  for (uint32_t i = 0; i < count; ++i) {
    CPvlMediaBuffer* b = new (std::nothrow) CPvlMediaBuffer(this, GetEnv());
    if (!b) return PVL_E_OUTOFMEMORY;
    m_buffers[m_built++] = b;
  }
  return PVL_OK;
}

PvlResult CMCameraBufferManager::AllocateMemory() {
  const uint32_t count = m_request.count;
  const uint32_t abs = m_alignedSize;
  const uint32_t total = count * abs;  // checked to fit when the requirements were taken
  m_fromHeap = IsHeapSource(m_request.source);
  if (m_fromHeap) {
    PvlResult r = Heap_AllocBlock(GetEnv(), total, &m_block);
    if (r != PVL_OK) return r;
    for (uint32_t i = 0; i < count; ++i)
      m_buffers[i]->SetMemory(uintptr_t(m_block) + uint64_t(i) * abs, 0, false, m_request.size);
    return PVL_OK;
  }
  CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Allocating %d buffers of size %d (actual aligned size %d) from heap id 0x%x\n",
                   int(count), int(m_request.size), int(abs), unsigned(m_request.source));
  if (abs > kLargeBuffer || total > kLargePool) {
    m_perBuffer = true;
    m_perBufferMemory = static_cast<void**>(pvlheap_Malloc(count * sizeof(void*), GetEnv(), __FILE__ ":memory"));
    if (!m_perBufferMemory) return PVL_E_OUTOFMEMORY;
    memset(m_perBufferMemory, 0, count * sizeof(void*));
    for (uint32_t i = 0; i < count; ++i) {
      void* p = CameraPMEMMalloc(abs);
      if (!p) {
        CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "CameraPMEMMalloc failed: size=%d", int(abs));
        return PVL_E_OUTOFMEMORY;
      }
      m_perBufferMemory[i] = p;
      // Two buffers of one pool over the same memory would overwrite each
      // other's frames: refuse rather than alias.
      for (uint32_t j = 0; j < i; ++j) {
        if (m_perBufferMemory[j] == p) {
          m_perBufferMemory[i] = nullptr;
          CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "CameraPMEMMalloc failed: size=%d", int(abs));
          return PVL_E_OUTOFMEMORY;
        }
      }
      const uint32_t phys = CameraPMEMGetPhysicalAddress(p);
      CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "CameraPMEMMalloc succeeded for buffer %d: virt addr=0x%x, phys addr=0x%x, size=%d\n",
                       int(i), unsigned(uintptr_t(p)), unsigned(phys), int(abs));
      m_buffers[i]->SetMemory(uintptr_t(p), phys, true, m_request.size);
    }
    return PVL_OK;
  }
  m_block = CameraPMEMMalloc(total);
  if (!m_block) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "CameraPMEMMalloc failed: block size=%d", int(total));
    return PVL_E_OUTOFMEMORY;
  }
  CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "CameraPMEMMalloc succeeded: block size=%d\n", int(total));
  const uint32_t phys = CameraPMEMGetPhysicalAddress(m_block);
  for (uint32_t i = 0; i < count; ++i) {
    const uintptr_t virt = reinterpret_cast<uintptr_t>(m_block) + i * abs;
    CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Buffer %d: virt addr=0x%x, phys addr=0x%x, size=%d\n", int(i), unsigned(virt),
                     unsigned(phys + i * abs), int(abs));
    m_buffers[i]->SetMemory(virt, phys + i * abs, true, m_request.size);
  }
  return PVL_OK;
}

void CMCameraBufferManager::Clear() {
  for (uint32_t i = 0; i < m_built; ++i) delete m_buffers[i];
  m_built = 0;
  pvlheap_Free(m_buffers);
  m_buffers = nullptr;
  m_freeHead = nullptr;
  m_freeCount = 0;
  if (m_perBufferMemory) {
    for (uint32_t i = 0; i < m_request.count; ++i)
      if (m_perBufferMemory[i]) CameraPMEMFree(m_perBufferMemory[i]);
    pvlheap_Free(m_perBufferMemory);
    m_perBufferMemory = nullptr;
  }
  if (m_block) {
    if (m_fromHeap)
      Heap_FreeBlock(GetEnv(), &m_block);
    else
      CameraPMEMFree(m_block);
    m_block = nullptr;
  }
  m_perBuffer = false;
  m_allocated = false;
  m_freePending = false;
}

void CMCameraBufferManager::LogFreeing(const char* what) {
  CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "%s freeing %d buffers of size %d (actual aligned size %d) from heap id 0x%x\n",
                   what, int(m_request.count), int(m_request.size), int(m_alignedSize), unsigned(m_request.source));
}

PvlResult CMCameraBufferManager::Free() {
  LogFreeing("Starting");
  {
    CCameraLockGuard guard(m_lock);
    if (!m_allocated) return PVL_OK;
    m_freePending = true;
    if (m_freeCount == m_built) {
      Clear();
      LogFreeing("Completed");
      return PVL_OK;
    }
  }
  // Waiting takers see the pending free and give up.
  m_notifyQueue->FireRegistered();
  return PVL_OK;
}

void CMCameraBufferManager::PushFree(CPvlMediaBuffer* buffer) {
  buffer->SetLink(m_freeHead ? reinterpret_cast<uintptr_t>(m_freeHead) : kListEnd);
  m_freeHead = buffer;
  ++m_freeCount;
}

CPvlMediaBuffer* CMCameraBufferManager::PopFree() {
  CPvlMediaBuffer* b = m_freeHead;
  if (!b) return nullptr;
  const uintptr_t link = b->GetLink();
  m_freeHead = link == kListEnd ? nullptr : reinterpret_cast<CPvlMediaBuffer*>(link);
  b->SetLink(0);
  --m_freeCount;
  return b;
}

bool CMCameraBufferManager::Owns(CPvlMediaBuffer* buffer) const {
  for (uint32_t i = 0; i < m_built; ++i)
    if (m_buffers[i] == buffer) return true;
  return false;
}

PvlResult CMCameraBufferManager::GetBuffer(uint8_t noWait, IPvlMediaBuffer** buffer) {
  if (!buffer) return PVL_E_NULLPTR;
  *buffer = nullptr;
  if (!m_requirementsSet) return PVL_E_OUTERREFUSED;
  CCameraLockGuard guard(m_lock);
  for (;;) {
    // A pending free refuses buffers, so a producer that keeps cycling them
    // cannot hold the free off.
    if (!m_allocated || m_freePending) return CAMERA_BM_E_NOT_ALLOCATED;
    CPvlMediaBuffer* b = PopFree();
    if (b) {
      CPvlObject::AddRef();  // held for the buffer while it is out
      b->AddRef();
      *buffer = b;
      return PVL_OK;
    }
    if (noWait) return CAMERA_BM_E_NO_FREE_BUFFER;

    Waiter* w = m_idleWaiters;
    if (w) {
      m_idleWaiters = w->next;
    } else {
      w = new (std::nothrow) Waiter;
      if (!w) return PVL_E_OUTOFMEMORY;
      PvlResult r = GetEnv()->CreateInstance(ZUEUID_CLASS_SIGNAL_QUEUE, w->queue.Out());
      if (r == PVL_OK) r = w->queue->CreateSignal(nullptr, 0, &w->control, &w->signal);
      if (r != PVL_OK) {
        delete w;
        return r;
      }
    }
    PvlResult r = m_notifyQueue->RegisterControl(w->control, PVL_SIGNAL_REGISTER_ONCE);
    if (r == PVL_OK) {
      guard.Unlock();
      PvlSignalWaitRecord record;
      r = w->queue->Wait(&record);
      if (r == PVL_OK) r = w->signal->ReArm();
      guard.Lock();
      // A fire that was not taken (the wait failed) leaves the registration behind.
      if (r != PVL_OK) m_notifyQueue->UnregisterControl(w->control);
    }
    w->next = m_idleWaiters;
    m_idleWaiters = w;
    if (r != PVL_OK) return r;
  }
}

void CMCameraBufferManager::BufferReturned(CPvlMediaBuffer* buffer) {
  {
    CCameraLockGuard guard(m_lock);
    if (!buffer || !Owns(buffer) || buffer->GetLink() != 0) {
      // Not one of ours, or already home: refused, nothing changes.
      PvlAssertBreak(uintptr_t(buffer));
      return;
    }
    buffer->Reset();
    PushFree(buffer);
    if (m_freePending && m_freeCount == m_built) {
      Clear();
      LogFreeing("Completed");
    }
  }
  m_notifyQueue->FireRegistered();
  CPvlObject::Release();  // the reference held for this buffer; may be the last
}

PvlResult CMCameraBufferManager::Attach(ISignalControl* control, IPvlBase** registration) {
  if (!control || !registration) return PVL_E_NULLPTR;
  *registration = nullptr;
  PvlResult r = m_notifyQueue->RegisterControl(control, 0);
  if (r != PVL_OK) return r;
  CNotifyRegistration* handle =
      new (std::nothrow) CNotifyRegistration(GetEnv(), static_cast<ICameraBufferManager*>(this), m_notifyQueue, control);
  if (!handle) {
    m_notifyQueue->UnregisterControl(control);
    return PVL_E_OUTOFMEMORY;
  }
  handle->AddRef();
  *registration = handle;
  return PVL_OK;
}

PvlResult CMCameraBufferManager::AddExternalBuffer(uintptr_t virtualAddress, uint32_t physicalAddress,
                                                   uint8_t physicalValid, uint32_t capacity,
                                                   IPvlMediaBuffer** buffer) {
  if (!virtualAddress || !buffer || (physicalValid && physicalAddress == 0)) return PVL_E_NULLPTR;
  *buffer = nullptr;
  CCameraLockGuard guard(m_lock);
  if (!m_external || !m_requirementsSet) return PVL_E_NOTREADY;
  if (capacity != 0 && capacity != m_request.size) return PVL_E_BADARG;
  if (m_built >= m_request.count) return PVL_E_NOTREADY;
  if (!m_buffers) {
    m_buffers = static_cast<CPvlMediaBuffer**>(
        pvlheap_Malloc(m_request.count * sizeof(CPvlMediaBuffer*), GetEnv(), __FILE__ ":buffers"));
    if (!m_buffers) return PVL_E_OUTOFMEMORY;
  }
  CPvlMediaBuffer* b = new (std::nothrow) CPvlMediaBuffer(this, GetEnv());
  if (!b) return PVL_E_OUTOFMEMORY;
  b->SetMemory(virtualAddress, physicalAddress, physicalValid != 0, m_request.size);
  m_buffers[m_built++] = b;
  m_allocated = true;
  CPvlObject::AddRef();
  b->AddRef();
  *buffer = b;
  return PVL_OK;
}

PvlResult CMCameraBufferManager::GetNotify(ICameraBufferNotify** notify) {
  if (!notify) return PVL_E_NULLPTR;
  AddRef();
  *notify = &m_notifyFace;
  return PVL_OK;
}

PvlResult CMCameraBufferManager::GetCounts(uint32_t* total, uint32_t* free) {
  if (!total || !free) return PVL_E_NULLPTR;
  CCameraLockGuard guard(m_lock);
  *total = m_built;
  *free = m_freeCount;
  return PVL_OK;
}
