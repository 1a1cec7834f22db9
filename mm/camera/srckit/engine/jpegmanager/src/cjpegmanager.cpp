// The JPEG manager (see the header).
//
// Lock discipline: m_lock (re-entrant) serialises every state operation, on
// the engine's thread and on the encoder's threads alike; Stop gives it up
// while it waits for the encoder's abort event, which fires the signal it
// waits on. That event fires the signal in any state: a done or error event of
// the aborted image may come first and move the manager to Idle.
#include "cjpegmanager.h"

#include <new>
#include <utility>

#include "ccameralockguard.h"
#include "ienv.h"
#include "pvllog.h"

class CJpegManager::JpegManagerStateIdle final : public State {
 public:
  using State::State;
  PvlResult OnMainFrame(IPvlMediaBuffer* frame) override {
    CCameraLockGuard guard(m->m_lock);
    m->m_current = Job{};
    m->m_current.main = frame;
    return m->Transition(m->m_encode, true);
  }
  PvlResult OnThumbnailFrame(IPvlMediaBuffer* frame) override {
    CCameraLockGuard guard(m->m_lock);
    m->m_current = Job{};
    m->m_current.thumbnail = frame;
    return m->Transition(m->m_encode, true);
  }
  PvlResult Enter() override {
    CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "CJpegManager: Enter Idle State.");
    return PVL_OK;
  }
  PvlResult Stop() override { return PVL_OK; }
  PvlResult EncodeDone() override { return PVL_E_NOTREADY; }
  PvlResult EncodeError() override { return PVL_E_NOTREADY; }
  PvlResult EncodeAbort() override {
    // The abort may overtake nothing and still be awaited (see the file comment).
    CCameraLockGuard guard(m->m_lock);
    m->m_abortControl->Fire();
    return PVL_E_NOTREADY;
  }
};

class CJpegManager::JpegManagerStateEncode final : public State {
 public:
  using State::State;
  PvlResult OnMainFrame(IPvlMediaBuffer* frame) override { return m->FrameInEncode(frame, false); }
  PvlResult OnThumbnailFrame(IPvlMediaBuffer* frame) override { return m->FrameInEncode(frame, true); }
  PvlResult Enter() override {
    CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "CJpegManager Enter Encode State.");
    CCameraLockGuard guard(m->m_lock);
    PvlResult r = m->m_service->StartEncode(m->m_store);
    if (r != PVL_OK) {
      // No image was started, so no event will end this job: give its frames back.
      m->DropJobs();
      m->Transition(m->m_idle, true);
      return r;
    }
    return m->SendCurrent();
  }
  PvlResult Stop() override {
    CCameraLockGuard guard(m->m_lock);
    CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "CJpegManager::JpegManagerStateEncode::Stop.");
    m->m_stopping = true;
    m->DropJobs();
    PvlResult r = m->m_abortSignal->ReArm();
    PvlResult aborted = m->m_service->Abort();
    if (r == PVL_OK) r = aborted;
    // The wait has no time-out and needs none: it runs only when the service
    // took the Abort, and the service answers every Abort it takes with one
    // abort event, which fires the re-armed signal in either state.
    if (r == PVL_OK) {
      CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "CJpegManager::JpegManagerStateEncode::Stop - Wait for EncodeAbort.");
      guard.Unlock();
      PvlSignalWaitRecord record;
      r = m->m_signalQueue->Wait(&record);
      guard.Lock();
      CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "CJpegManager::JpegManagerStateEncode::Stop - Got Encode Abort.");
      m->Transition(m->m_idle, false);
    }
    m->m_stopping = false;
    return r;
  }
  PvlResult EncodeDone() override { return m->JobFinished("CJpegManager::JpegManagerStateEncode::EncodeDone."); }
  PvlResult EncodeError() override { return m->JobFinished("CJpegManager::JpegManagerStateEncode::EncodeError."); }
  PvlResult EncodeAbort() override {
    CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "CJpegManager::JpegManagerStateEncode::EncodeAbort.");
    CCameraLockGuard guard(m->m_lock);
    m->m_abortControl->Fire();
    return PVL_OK;
  }
};

PvlResult CJpegManager::Create(IEnv* env, Client* port, CJpegManager** manager) {
  if (!env || !manager) return PVL_E_NULLPTR;
  *manager = nullptr;
  CJpegManager* self = new (std::nothrow) CJpegManager(env, port);
  if (!self) return PVL_E_OUTOFMEMORY;
  self->AddRef();
  PvlResult r = self->Construct();
  if (r != PVL_OK) {
    self->Release();
    return r;
  }
  *manager = self;
  return PVL_OK;
}

CJpegManager::CJpegManager(IEnv* env, Client* port)
    : CPvlObject(env), m_port(port), m_state(nullptr), m_encode(nullptr), m_idle(nullptr), m_stopping(false) {}

PvlResult CJpegManager::Construct() {
  IEnv* env = GetEnv();
  PvlResult r = env->CreateInstance(ZUEUID_CLASS_LOCK, m_lock.Out());
  if (r == PVL_OK) r = env->CreateInstance(ZUEUID_CLASS_SIGNAL_QUEUE, m_signalQueue.Out());
  if (r == PVL_OK) r = m_signalQueue->CreateSignal(this, 0, &m_abortControl, &m_abortSignal);
  if (r == PVL_OK) {
    CPvlPtr<IPvlBase> object;
    r = env->CreateInstance(ZUEUID_CLASS_JPEGSERVICE, object.Out());
    if (r == PVL_OK) r = object->QueryInterface(ZUEUID_IFACE_JPEGSERVICE, m_service.Out());
  }
  if (r == PVL_OK) r = m_service->SetListener(this);
  if (r == PVL_OK) {
    CPvlPtr<IPvlBase> object;
    r = env->CreateInstance(ZUEUID_CLASS_PROPERTY_STORE, object.Out());
    if (r == PVL_OK) r = object->QueryInterface(ZUEUID_IFACE_PROPERTY_STORE, m_store.Out());
  }
  if (r == PVL_OK) r = m_service->SetProperties(m_store);
  if (r != PVL_OK) return r;
  m_idle = new (std::nothrow) JpegManagerStateIdle(this);
  m_encode = new (std::nothrow) JpegManagerStateEncode(this);
  if (!m_idle || !m_encode) return PVL_E_OUTOFMEMORY;
  m_state = m_idle;
  return PVL_OK;
}

CJpegManager::~CJpegManager() {
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "CJpegManager Destructor!");
  if (m_state) m_state->Stop();
  if (m_service) m_service->SetListener(nullptr);
  m_state = nullptr;
  delete m_idle;
  delete m_encode;
  DropJobs();
}

PvlResult CJpegManager::QueryInterface(ZUEUID iid, void** out) {
  if (!out) return PVL_E_NULLPTR;
  if (iid == ZUEUID_IFACE_JPEGSERVICE_LISTENER || iid == ZUEUID_IFACE_BASE) {
    AddRef();
    *out = static_cast<IJpegServiceListener*>(this);
    return PVL_OK;
  }
  return CPvlObject::QueryInterface(iid, out);
}

PvlResult CJpegManager::Transition(State* next, bool enter) {
  m_state = next;
  return enter ? next->Enter() : PVL_OK;
}

void CJpegManager::DropJobs() {
  m_current = Job{};
  m_pending.clear();
}

PvlResult CJpegManager::SendCurrent() {
  PvlResult r = PVL_OK;
  if (m_current.main && !m_current.mainSent) {
    r = m_service->DeliverMainFrame(m_current.main);
    if (r == PVL_OK) m_current.mainSent = true;
  }
  if (r == PVL_OK && m_current.thumbnail && !m_current.thumbnailSent) {
    r = m_service->DeliverThumbnailFrame(m_current.thumbnail);
    if (r == PVL_OK) m_current.thumbnailSent = true;
  }
  if (r != PVL_OK) {
    // The started image cannot be completed: end it, and give every frame back
    // (the abort event that follows finds nobody waiting).
    m_service->Abort();
    DropJobs();
    Transition(m_idle, true);
  }
  return r;
}

PvlResult CJpegManager::FrameInEncode(IPvlMediaBuffer* frame, bool thumbnail) {
  CCameraLockGuard guard(m_lock);
  if (m_stopping) return PVL_OK;
  CPvlPtr<IPvlMediaBuffer>& slot = thumbnail ? m_current.thumbnail : m_current.main;
  const bool sent = thumbnail ? m_current.thumbnailSent : m_current.mainSent;
  if (!sent && !slot) {
    slot = frame;
    return SendCurrent();
  }
  if (!m_pending.empty()) {
    Job& last = m_pending.back();
    CPvlPtr<IPvlMediaBuffer>& lastSlot = thumbnail ? last.thumbnail : last.main;
    if (!lastSlot) {
      lastSlot = frame;
      return PVL_OK;
    }
  }
  m_pending.emplace_back();
  (thumbnail ? m_pending.back().thumbnail : m_pending.back().main) = frame;
  return PVL_OK;
}

PvlResult CJpegManager::JobFinished(const char* line) {
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "%s", line);
  CCameraLockGuard guard(m_lock);
  if (m_pending.empty()) {
    m_current = Job{};
    return Transition(m_idle, true);
  }
  m_current = m_pending.front();
  m_pending.pop_front();
  return Transition(m_encode, true);
}

PvlResult CJpegManager::OnMainFrame(IPvlMediaBuffer* frame) {
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "CJpegManager::OnMainFrame");
  if (!frame) return PVL_E_NULLPTR;
  CCameraLockGuard guard(m_lock);
  return m_state->OnMainFrame(frame);
}

PvlResult CJpegManager::OnThumbnailFrame(IPvlMediaBuffer* frame) {
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "CJpegManager::OnThumbnailFrame");
  if (!frame) return PVL_E_NULLPTR;
  CCameraLockGuard guard(m_lock);
  return m_state->OnThumbnailFrame(frame);
}

PvlResult CJpegManager::Stop() {
  // The state's Stop gives the lock up while it waits: it must not be held here too.
  State* state;
  {
    CCameraLockGuard guard(m_lock);
    state = m_state;
  }
  return state->Stop();
}

bool CJpegManager::IsEncoding() {
  CCameraLockGuard guard(m_lock);
  return m_state == m_encode;
}

uint32_t CJpegManager::PendingJobs() {
  CCameraLockGuard guard(m_lock);
  return uint32_t(m_pending.size());
}

PvlResult CJpegManager::GetProperties(IPropertyStore** store) {
  if (!store) return PVL_E_NULLPTR;
  *store = m_store.Get();
  if (*store) (*store)->AddRef();
  return *store ? PVL_OK : PVL_E_NOTREADY;
}

PvlResult CJpegManager::QueryBufferInfo(BufferRequest* request) {
  if (!request) return PVL_E_NULLPTR;
  return m_service->QueryBufferInfo(request);
}

PvlResult CJpegManager::GetOutputBufferRequirements(BufferRequest* request) {
  if (!request) return PVL_E_NULLPTR;
  return m_service->GetOutputBufferRequirements(request);
}

PvlResult CJpegManager::SetThumbnailFormat(const CameraPortFormat* format) {
  if (!format) return PVL_E_NULLPTR;
  return m_service->SetThumbnailFormat(format);
}

PvlResult CJpegManager::SetMainFormat(const CameraPortFormat* format) {
  if (!format) return PVL_E_NULLPTR;
  return m_service->SetMainFormat(format);
}

PvlResult CJpegManager::GetDeliveryBuffer(void* /*context*/, uint32_t flag, IPvlMediaBuffer** buffer) {
  if (!buffer) return PVL_E_NULLPTR;
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "CJpegManager::GetDeliveryBuffer");
  if (!m_port) return PVL_E_NOTREADY;
  return m_port->GetDeliveryBuffer(flag, buffer);
}

PvlResult CJpegManager::OnEvent(void* /*context*/, uint32_t event) {
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "JPEG Event: %d received.", int(event));
  switch (event) {
    case EVENT_ENCODE_DONE:
    case EVENT_ENCODE_ERROR:
    case EVENT_ENCODE_ABORT:
      break;
    default:
      return PVL_E_UNSUPPORTED;
  }
  CCameraLockGuard guard(m_lock);
  State* state = m_state;
  if (!state) return PVL_E_NOTREADY;
  if (event == EVENT_ENCODE_DONE) return state->EncodeDone();
  if (event == EVENT_ENCODE_ERROR) return state->EncodeError();
  return state->EncodeAbort();
}

PvlResult CJpegManager::OutputProducedHandler(void* /*context*/, IPvlMediaBuffer* buffer) {
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "CJpegManager::OutputProducedHandler");
  if (!buffer) return PVL_E_NULLPTR;
  if (!m_port) return PVL_E_NOTREADY;
  return m_port->QueueFrame(buffer);
}
