#include "cenginestatemachine.h"

#include <new>

#include "ccameralockguard.h"
#include "ienv.h"
#include "pvllog.h"

namespace {

// A delivery that gave up waiting: its state stopped taking it meanwhile.
PvlResult Dropped(const char* event) {
  CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Event %s dropped: the state stopped taking it", event);
  return PVL_E_NOTREADY;
}

}  // namespace

PvlResult CEngineStateMachine::Create(IEnv* env, ICameraEngineInternal* engine, CEngineStateMachine** out) {
  return Create(env, engine, nullptr, out, true);
}

PvlResult CEngineStateMachine::Create(IEnv* env, ICameraEngineInternal* engine, CEngineState* const* states,
                                      CEngineStateMachine** out) {
  return Create(env, engine, states, out, false);
}

PvlResult CEngineStateMachine::Create(IEnv* env, ICameraEngineInternal* engine, CEngineState* const* states,
                                      CEngineStateMachine** out, bool ownStates) {
  if (!env || !out) return PVL_E_NULLPTR;
  *out = nullptr;
  auto* self = new (std::nothrow) CEngineStateMachine(env, engine, states, ownStates);
  if (!self) return PVL_E_OUTOFMEMORY;
  self->AddRef();
  PvlResult r = self->Construct();
  if (r != PVL_OK) {
    self->Release();
    return r;
  }
  *out = self;
  return PVL_OK;
}

CEngineStateMachine::CEngineStateMachine(IEnv* env, ICameraEngineInternal* engine, CEngineState* const* states,
                                         bool ownStates)
    : CPvlObject(env), m_engine(engine) {
  if (ownStates) {
    CEngineState* const own[kEngineStateCount] = {&m_uninit,  &m_ready,   &m_video,
                                                  &m_snapshot, &m_offline, &m_snapshotVideoPaused,
                                                  &m_offlineVideoPaused, &m_invalid};
    for (int32_t id = 0; id < kEngineStateCount; ++id) m_states[id] = own[id];
    return;
  }
  for (int32_t id = 0; id < ENGINE_STATE_INVALID; ++id) m_states[id] = states && states[id] ? states[id] : &m_invalid;
  m_states[ENGINE_STATE_INVALID] = &m_invalid;
}

PvlResult CEngineStateMachine::Construct() {
  CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Creating Camera Engine State Machine");
  CEngineLock* lock = nullptr;
  PvlResult r = CEngineLock::Create(GetEnv(), &lock);
  if (r != PVL_OK) return r;
  m_lock = lock;
  lock->Release();
  // The states fetch the lock: it must exist first.
  for (CEngineState* state : m_states) state->SetContext(this);
  r = GetEnv()->CreateInstance(ZUEUID_CLASS_CLOCK, m_clock.Out());
  if (r != PVL_OK) return r;
  m_current.store(&m_invalid);
  return PVL_OK;
}

CEngineStateMachine::~CEngineStateMachine() {
  CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Destroying Camera Engine State Machine");
  m_engine = nullptr;
  m_current.store(nullptr);
  // The states give the lock back, Invalid first.
  for (int32_t id = kEngineStateCount - 1; id >= 0; --id) {
    CEngineState* state = m_states[id];
    if (state != &m_invalid || id == ENGINE_STATE_INVALID) state->SetContext(nullptr);
  }
  m_clock.Reset();
  m_lock.Reset();
}

CEngineState* CEngineStateMachine::StateFor(int32_t id) const {
  return id >= 0 && id < ENGINE_STATE_INVALID ? m_states[id] : m_states[ENGINE_STATE_INVALID];
}

uint32_t CEngineStateMachine::Now() {
  uint32_t ms = 0;
  if (m_clock) m_clock->GetTime(&ms);
  return ms;
}

// 1. Leave the current state; a refusal keeps it, and raises FatalError the
//    first time (after a FatalError it raises nothing more). Ordinary events
//    such as a format query or a tuning change leave that rule alone, or the
//    first stream start would already disarm it.
// 2. Publish the new state, then Enter it; a refusal goes back to the old one.
// 3. Only a completed transition changes the identifier and logs its times.
PvlResult CEngineStateMachine::Transition(int32_t id, uint32_t reason) {
  CCameraLockGuard guard(m_lock);
  CEngineState* previous = m_current.load();
  const uint32_t t0 = Now();
  PvlResult r = previous->Leave(reason);
  const uint32_t t1 = Now();
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "Leaving state %s took %d ms", previous->GetName(), int32_t(t1 - t0));
  if (r != PVL_OK) {
    if (!m_fatalErrorRaised) FatalError();
    return r;
  }
  CEngineState* next = StateFor(id);
  // Published before Enter: frames that a starting stream delivers while the
  // state is entered already belong to it.
  m_current.store(next);
  DeliveriesChanged();
  const uint32_t t2 = Now();
  r = next->Enter(reason);
  if (r != PVL_OK) {
    m_current.store(previous);
    DeliveriesChanged();
    return r;
  }
  m_currentId.store(id);
  const uint32_t t3 = Now();
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "Entering state %s took %d ms", next->GetName(), int32_t(t3 - t2));
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "State transition from state %s to %s took %d ms", previous->GetName(),
                   next->GetName(), int32_t(t3 - t0));
  return PVL_OK;
}

int32_t CEngineStateMachine::GetCurrentStateId() {
  CCameraLockGuard guard(m_lock);
  return m_currentId.load();
}

void CEngineStateMachine::GetLock(ILock** lock) {
  if (!lock) return;
  *lock = m_lock.Get();
  if (*lock) (*lock)->AddRef();
}

bool CEngineStateMachine::DeliveryRefused(void* self) {
  CEngineState* state = static_cast<CEngineStateMachine*>(self)->m_current.load();
  return !state || !state->TakesDeliveries();
}

bool CEngineStateMachine::LockForDelivery() { return m_lock && m_lock->LockUnless(&DeliveryRefused, this); }

bool CEngineStateMachine::LockForDeliveryUnless(CEngineLock::GiveUp also, void* context) {
  struct Both {
    CEngineStateMachine* machine;
    CEngineLock::GiveUp also;
    void* context;
  } both{this, also, context};
  auto giveUp = [](void* p) {
    const Both* b = static_cast<const Both*>(p);
    return DeliveryRefused(b->machine) || (b->also && b->also(b->context));
  };
  return m_lock && m_lock->LockUnless(giveUp, &both);
}

void CEngineStateMachine::DeliveriesChanged() {
  if (m_lock) m_lock->Wake();
}

PvlResult CEngineStateMachine::Start() {
  CCameraLockGuard guard(m_lock);
  if (m_started || m_current.load() != &m_invalid) return PVL_E_NOTREADY;
  m_started = 1;
  return Transition(ENGINE_STATE_UNINIT, 0);
}

PvlResult CEngineStateMachine::Initialize(uint32_t cameraId) {
  CCameraLockGuard guard(m_lock);
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "Event Initialize");
  return m_current.load()->Initialize(cameraId);
}

PvlResult CEngineStateMachine::Uninitialize() {
  CCameraLockGuard guard(m_lock);
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "Event Uninitialize");
  return m_current.load()->Uninitialize();
}

PvlResult CEngineStateMachine::GetPorts(ICameraPort** ports, uint32_t capacity, uint32_t* count) {
  CCameraLockGuard guard(m_lock);
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "Event GetPorts");
  return m_current.load()->GetPorts(ports, capacity, count);
}

PvlResult CEngineStateMachine::StartSnapshot(uint32_t snapshotCount) {
  CCameraLockGuard guard(m_lock);
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "Event Start Snapshot");
  return m_current.load()->StartSnapshot(snapshotCount);
}

PvlResult CEngineStateMachine::StartVideo() {
  CCameraLockGuard guard(m_lock);
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "Event Start Video");
  return m_current.load()->StartVideo();
}

PvlResult CEngineStateMachine::Stop() {
  CCameraLockGuard guard(m_lock);
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "Event Stop");
  return m_current.load()->Stop();
}

// The end of a still and the statistics come on the receive thread.
PvlResult CEngineStateMachine::CaptureComplete() {
  CEngineDeliveryGuard guard(this);
  if (!guard.Held()) return Dropped("Capture Complete");
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "Event Capture Complete");
  return m_current.load()->CaptureComplete();
}

PvlResult CEngineStateMachine::RawCaptureComplete() {
  CEngineDeliveryGuard guard(this);
  if (!guard.Held()) return Dropped("Raw Capture Complete");
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "Event Raw Capture Complete");
  return m_current.load()->RawCaptureComplete();
}

PvlResult CEngineStateMachine::ApplyProperty(uint32_t propertyId) {
  CCameraLockGuard guard(m_lock);
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "Event Apply property");
  return m_current.load()->ApplyProperty(propertyId);
}

PvlResult CEngineStateMachine::StartFocus(uint8_t continuous, ICameraSettingsListener* listener) {
  CCameraLockGuard guard(m_lock);
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "Event Start Focus");
  return m_current.load()->StartFocus(continuous, listener);
}

PvlResult CEngineStateMachine::StopFocus() {
  CCameraLockGuard guard(m_lock);
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "Event Stop Focus");
  return m_current.load()->StopFocus();
}

PvlResult CEngineStateMachine::FrameAvailable(uint32_t outputId, IPvlMediaBuffer* buffer) {
  // No lock: the receive thread never waits for a client event. The states that
  // take frames lock for what they share.
  CEngineState* state = m_current.load();
  if (!m_lock || !state) return PVL_E_NOTREADY;
  return state->FrameAvailable(outputId, buffer);
}

PvlResult CEngineStateMachine::StatsAvailable(uint32_t kind, IPvlBase* statistics) {
  CEngineDeliveryGuard guard(this);
  if (!guard.Held()) return Dropped("Stats Available");
  return m_current.load()->StatsAvailable(kind, statistics);
}

PvlResult CEngineStateMachine::GetEnabledPortFormats(CameraPortFormat* formats, uint32_t capacity, uint32_t* count) {
  CCameraLockGuard guard(m_lock);
  return m_current.load()->GetEnabledPortFormats(formats, capacity, count);
}

PvlResult CEngineStateMachine::Suspend() {
  CCameraLockGuard guard(m_lock);
  return m_current.load()->Suspend();
}

PvlResult CEngineStateMachine::Resume() {
  CCameraLockGuard guard(m_lock);
  return m_current.load()->Resume();
}

PvlResult CEngineStateMachine::ApplyRuntimeTuningChanges() {
  CCameraLockGuard guard(m_lock);
  CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Event Apply Runtime Tuning Changes");
  return m_current.load()->ApplyRuntimeTuningChanges();
}

PvlResult CEngineStateMachine::FatalError() {
  CCameraLockGuard guard(m_lock);
  CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "Event Fatal Error!!!");
  m_fatalErrorRaised = 1;
  return m_current.load()->FatalError();
}

PvlResult CEngineStateMachine::StartPreSnapshotFlash(ICameraSettingsListener* listener) {
  CCameraLockGuard guard(m_lock);
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "Event Start PreSnapshot Flash");
  return m_current.load()->StartPreSnapshotFlash(listener);
}

PvlResult CEngineStateMachine::StopPreSnapshotFlash() {
  CCameraLockGuard guard(m_lock);
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "Event Stop PreSnapshot Flash");
  return m_current.load()->StopPreSnapshotFlash();
}
