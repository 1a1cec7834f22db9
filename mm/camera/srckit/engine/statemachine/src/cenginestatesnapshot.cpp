#include "cenginestatesnapshot.h"

#include "ccameralockguard.h"
#include "cenginestatemachine.h"
#include "enginetransitionreason.h"
#include "hostsymbols.h"
#include "icameraengineinternal.h"
#include "ienv.h"
#include "pvllog.h"

CEngineStateSnapshot::CEngineStateSnapshot() {
  CPvlPtr<IEnv> env;
  if (env_env_CreateInstance(ZUEUID_CLASS_ENV, env.Out()) == PVL_OK) {
    if (env->CreateInstance(ZUEUID_CLASS_CLOCK, m_clock.Out()) != PVL_OK) m_clock.Reset();
  }
}

CEngineStateSnapshot::~CEngineStateSnapshot() { m_clock.Reset(); }

uint32_t CEngineStateSnapshot::Now() {
  uint32_t ms = 0;
  if (m_clock) m_clock->GetTime(&ms);
  return ms;
}

// A stopped capture always ends in Ready: the client asked for no stream.
PvlResult CEngineStateSnapshot::Stop() {
  if (!Machine()) return PVL_E_FAIL;
  return Machine()->Transition(ENGINE_STATE_READY, ENGINE_REASON_STOP_CAPTURE);
}

// A capture that cannot be stopped would hold the engine here for good: the
// fatal error takes it down through Ready (whose Leave then uninitialises the
// engine) to Invalid, from which the client can close it.
PvlResult CEngineStateSnapshot::FatalError() {
  if (!Machine()) return PVL_E_FAIL;
  PvlResult r = Machine()->Transition(ENGINE_STATE_READY, ENGINE_REASON_FATAL_ERROR);
  if (r != PVL_OK) return r;
  return Machine()->FatalError();
}

PvlResult CEngineStateSnapshot::CaptureComplete() {
  if (!Machine()) return PVL_E_FAIL;
  return Machine()->Transition(CompletedState(), ENGINE_REASON_CAPTURE_COMPLETE);
}

PvlResult CEngineStateSnapshot::RawCaptureComplete() {
  if (!Machine()) return PVL_E_FAIL;
  return Machine()->Transition(OfflineState(), ENGINE_REASON_RAW_CAPTURE);
}

// Under the lock, like every event; once the capture is being stopped a frame
// does not wait for it (the stopping event may close the VFE service, which
// waits for this thread).
PvlResult CEngineStateSnapshot::FrameAvailable(uint32_t outputId, IPvlMediaBuffer* buffer) {
  if (!Machine()) return PVL_E_FAIL;
  if (!m_capturing.load()) return PVL_E_NOTREADY;
  // A frame that was already waiting when the stop began gives up too.
  CEngineDeliveryGuard guard(Machine());
  if (!guard.Held()) return PVL_E_NOTREADY;
  // A frame that waited while the capture stopped belongs to no capture.
  if (Machine()->GetCurrentStateId() != Id()) return PVL_E_NOTREADY;
  ICameraEngineInternal* engine = Engine();
  if (!engine) return PVL_E_FAIL;
  return engine->OnSnapshotFrameAvailable(outputId, buffer);
}

PvlResult CEngineStateSnapshot::StatsAvailable(uint32_t kind, IPvlBase* statistics) {
  if (!Machine()) return PVL_E_FAIL;
  CCameraLockGuard guard(Lock());
  ICameraEngineInternal* engine = Engine();
  if (!engine) return PVL_E_FAIL;
  return engine->OnSnapshotStatsAvailable(kind, statistics);
}

// During a capture the formats are the ones in use, not the enabled ones.
PvlResult CEngineStateSnapshot::GetEnabledPortFormats(CameraPortFormat* formats, uint32_t capacity, uint32_t* count) {
  ICameraEngineInternal* engine = Engine();
  if (!engine) return PVL_E_FAIL;
  return engine->GetCurrentPortFormats(formats, capacity, count);
}

PvlResult CEngineStateSnapshot::Enter(uint32_t) {
  m_startTime = Now();
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "Entering State: Snapshot");
  ICameraEngineInternal* engine = Engine();
  if (!engine) return PVL_E_FAIL;
  m_capturing.store(true);
  PvlResult r = engine->OnStartSnapshot();
  if (r != PVL_OK) m_capturing.store(false);
  return r;
}

PvlResult CEngineStateSnapshot::Leave(uint32_t reason) {
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "Leaving State: Snapshot");
  ICameraEngineInternal* engine = Engine();
  if (!engine) return PVL_E_FAIL;
  m_capturing.store(false);
  Machine()->DeliveriesChanged();
  PvlResult r = engine->OnStopSnapshot();
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "Snapshot took %d ms", static_cast<int>(Now() - m_startTime));
  if (r != PVL_OK && reason == ENGINE_REASON_FATAL_ERROR) {
    // The engine goes down whatever the capture says.
    CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "Stopping the snapshot failed: %d", static_cast<int>(r));
    return PVL_OK;
  }
  // Still in the capture: its frames go on.
  if (r != PVL_OK) m_capturing.store(true);
  return r;
}
