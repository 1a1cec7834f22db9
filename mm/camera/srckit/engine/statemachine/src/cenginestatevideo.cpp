#include "cenginestatevideo.h"

#include "ccameralockguard.h"
#include "cenginestatemachine.h"
#include "enginetransitionreason.h"
#include "hostsymbols.h"
#include "icameraengineinternal.h"
#include "ienv.h"
#include "pvllog.h"

namespace {
constexpr uint32_t kFrameRateWindowMs = 1000;
}  // namespace

CEngineStateVideo::CEngineStateVideo() {
  CPvlPtr<IEnv> env;
  if (env_env_CreateInstance(ZUEUID_CLASS_ENV, env.Out()) == PVL_OK) {
    if (env->CreateInstance(ZUEUID_CLASS_CLOCK, m_clock.Out()) != PVL_OK) m_clock.Reset();
  }
}

CEngineStateVideo::~CEngineStateVideo() { m_clock.Reset(); }

uint32_t CEngineStateVideo::Now() {
  uint32_t ms = 0;
  if (m_clock) m_clock->GetTime(&ms);
  return ms;
}

PvlResult CEngineStateVideo::StartSnapshot(uint32_t snapshotCount) {
  return StartSnapshotInto(ENGINE_STATE_SNAPSHOT_VIDEO_PAUSED, snapshotCount, m_suspended != 0);
}

// Leave and Enter of this same state: the stream stops and starts again.
PvlResult CEngineStateVideo::StartVideo() { return StartVideoFor(ENGINE_REASON_RESTART_VIDEO, m_suspended != 0); }

PvlResult CEngineStateVideo::Stop() {
  if (!Machine()) return PVL_E_FAIL;
  // While suspended the stream is down: Resume comes first.
  if (m_suspended) return RefuseWhileSuspended("Stop");
  return Machine()->Transition(ENGINE_STATE_READY, ENGINE_REASON_STOP_VIDEO);
}

// A still's completion that arrives after the stream resumed: nothing to do.
PvlResult CEngineStateVideo::CaptureComplete() { return Machine() ? PVL_OK : PVL_E_FAIL; }

PvlResult CEngineStateVideo::ApplyProperty(uint32_t propertyId) {
  ICameraEngineInternal* engine = Engine();
  if (!engine) return PVL_E_FAIL;
  return engine->OnApplyProperty(propertyId);
}

PvlResult CEngineStateVideo::StartFocus(uint8_t continuous, ICameraSettingsListener* listener) {
  ICameraEngineInternal* engine = Engine();
  if (!engine) return PVL_E_FAIL;
  return engine->OnStartFocus(continuous, listener);
}

PvlResult CEngineStateVideo::StopFocus() {
  ICameraEngineInternal* engine = Engine();
  if (!engine) return PVL_E_FAIL;
  return engine->OnStopFocus();
}

// On the VFE receive thread, without the machine's lock: the measurement first,
// then the engine's frame pass under the lock, so that a frame is never handled
// while a client event (Stop, a property) changes what the pass uses.
// Once the stream is being stopped a frame does not wait for the lock at all:
// the event that stops it may go on to close the VFE service, which waits for
// this thread.
PvlResult CEngineStateVideo::FrameAvailable(uint32_t outputId, IPvlMediaBuffer* buffer) {
  if (!Machine()) return PVL_E_FAIL;
  if (!m_streaming.load()) return PVL_E_NOTREADY;
  const uint32_t now = Now();
  const uint32_t counted = m_frameCount.fetch_add(1) + 1;
  if (m_firstFrame.exchange(false)) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "Video config to first frame took %d ms",
                     static_cast<int>(now - m_windowStart.load()));
    m_frameCount.store(0);
    m_windowStart.store(now);
  } else if (now - m_windowStart.load() >= kFrameRateWindowMs) {
    // The frames of the window as counted, not scaled to its real length.
    CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "Current frame rate: %d fps", static_cast<int>(counted));
    m_frameCount.store(0);
    m_windowStart.store(now);
  }
  // A frame that was already waiting when the stop began gives up too.
  CEngineDeliveryGuard guard(Machine());
  if (!guard.Held()) return PVL_E_NOTREADY;
  // A frame that waited while the stream stopped is not handed on: it would
  // run the plug-ins' frame pass (the torch) after their stop.
  if (Machine()->CurrentStateIdHeld() != ENGINE_STATE_VIDEO) return PVL_E_NOTREADY;
  ICameraEngineInternal* engine = Engine();
  if (!engine) return PVL_E_FAIL;
  return engine->OnFrameAvailable(outputId, buffer);
}

PvlResult CEngineStateVideo::StatsAvailable(uint32_t kind, IPvlBase* statistics) {
  if (!Machine()) return PVL_E_FAIL;
  CCameraLockGuard guard(Lock());
  ICameraEngineInternal* engine = Engine();
  if (!engine) return PVL_E_FAIL;
  return engine->OnVideoStatsAvailable(kind, statistics);
}

PvlResult CEngineStateVideo::GetEnabledPortFormats(CameraPortFormat* formats, uint32_t capacity, uint32_t* count) {
  ICameraEngineInternal* engine = Engine();
  if (!engine) return PVL_E_FAIL;
  return engine->GetEnabledPortFormats(formats, capacity, count);
}

PvlResult CEngineStateVideo::ApplyRuntimeTuningChanges() {
  ICameraEngineInternal* engine = Engine();
  if (!engine) return PVL_E_FAIL;
  return engine->ApplyRuntimeTuning();
}

PvlResult CEngineStateVideo::Suspend() {
  ICameraEngineInternal* engine = Engine();
  if (!engine) return PVL_E_FAIL;
  if (m_suspended) return PVL_OK;
  m_streaming.store(false);
  Machine()->DeliveriesChanged();
  PvlResult r = engine->OnStopVideo();
  if (r == PVL_OK) r = engine->StopSensor();
  if (r == PVL_OK) r = engine->Suspend();
  if (r == PVL_OK) m_suspended = 1;
  // Not suspended: whatever still streams is delivered as before.
  if (r != PVL_OK) m_streaming.store(true);
  return r;
}

PvlResult CEngineStateVideo::Resume() {
  ICameraEngineInternal* engine = Engine();
  if (!engine) return PVL_E_FAIL;
  if (!m_suspended) return PVL_OK;
  PvlResult r = engine->Resume();
  if (r == PVL_OK) r = engine->StartSensor();
  if (r == PVL_OK) {
    m_streaming.store(true);
    r = engine->OnStartVideo();
    if (r != PVL_OK) m_streaming.store(false);
  }
  if (r == PVL_OK) m_suspended = 0;
  return r;
}

// Down to Ready (whose Leave, on the fatal error that follows, takes the engine
// down) once. When the stream cannot be stopped, asking again would only fail
// again: the failure is returned and the machine's own fatal-error rule applies.
PvlResult CEngineStateVideo::FatalError() {
  if (!Machine()) return PVL_E_FAIL;
  PvlResult r = Machine()->Transition(ENGINE_STATE_READY, ENGINE_REASON_FATAL_ERROR);
  if (r != PVL_OK) return r;
  return Machine()->FatalError();
}

PvlResult CEngineStateVideo::StartPreSnapshotFlash(ICameraSettingsListener* listener) {
  ICameraEngineInternal* engine = Engine();
  if (!engine) return PVL_E_FAIL;
  return engine->StartPreSnapshotFlash(listener);
}

PvlResult CEngineStateVideo::StopPreSnapshotFlash() {
  ICameraEngineInternal* engine = Engine();
  if (!engine) return PVL_E_FAIL;
  return engine->StopPreSnapshotFlash();
}

PvlResult CEngineStateVideo::Enter(uint32_t) {
  m_windowStart.store(Now());
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "Entering State: Video");
  ICameraEngineInternal* engine = Engine();
  if (!engine) return PVL_E_FAIL;
  // Armed before the stream starts: its first frame may come before this returns
  // (and waits for the lock until it has).
  m_firstFrame.store(true);
  m_streaming.store(true);
  PvlResult r = engine->OnStartVideo();
  if (r != PVL_OK) m_streaming.store(false);
  return r;
}

PvlResult CEngineStateVideo::Leave(uint32_t) {
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "Leaving State: Video");
  ICameraEngineInternal* engine = Engine();
  if (!engine) return PVL_E_FAIL;
  m_streaming.store(false);
  Machine()->DeliveriesChanged();
  PvlResult r = engine->OnStopVideo();
  // Still in Video with a stream that did not stop: its frames go on.
  if (r != PVL_OK) m_streaming.store(true);
  return r;
}
