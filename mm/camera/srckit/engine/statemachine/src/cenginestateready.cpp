#include "cenginestateready.h"

#include "cenginestatemachine.h"
#include "enginetransitionreason.h"
#include "icameraengineinternal.h"
#include "pvllog.h"

PvlResult CEngineStateReady::Uninitialize() {
  if (!Machine()) return PVL_E_FAIL;
  return Machine()->Transition(ENGINE_STATE_UNINIT, ENGINE_REASON_UNINITIALIZE);
}

PvlResult CEngineStateReady::GetPorts(ICameraPort** ports, uint32_t capacity, uint32_t* count) {
  ICameraEngineInternal* engine = Engine();
  if (!engine) return PVL_E_FAIL;
  return engine->GetPorts(ports, capacity, count);
}

PvlResult CEngineStateReady::StartSnapshot(uint32_t snapshotCount) {
  return StartSnapshotInto(ENGINE_STATE_SNAPSHOT, snapshotCount, m_suspended != 0);
}

PvlResult CEngineStateReady::StartVideo() { return StartVideoFor(ENGINE_REASON_START_VIDEO, m_suspended != 0); }

// Nothing streams: already stopped.
PvlResult CEngineStateReady::Stop() { return Machine() ? PVL_OK : PVL_E_FAIL; }

PvlResult CEngineStateReady::ApplyProperty(uint32_t propertyId) {
  ICameraEngineInternal* engine = Engine();
  if (!engine) return PVL_E_FAIL;
  return engine->OnApplyPropertyYuv(propertyId);
}

PvlResult CEngineStateReady::GetEnabledPortFormats(CameraPortFormat* formats, uint32_t capacity, uint32_t* count) {
  ICameraEngineInternal* engine = Engine();
  if (!engine) return PVL_E_FAIL;
  return engine->GetEnabledPortFormats(formats, capacity, count);
}

// The tuning is applied when the next stream starts.
PvlResult CEngineStateReady::ApplyRuntimeTuningChanges() { return Machine() ? PVL_OK : PVL_E_FAIL; }

PvlResult CEngineStateReady::Suspend() {
  ICameraEngineInternal* engine = Engine();
  if (!engine) return PVL_E_FAIL;
  if (m_suspended) return PVL_OK;
  PvlResult r = engine->StopSensor();
  if (r == PVL_OK) r = engine->Suspend();
  if (r == PVL_OK) m_suspended = 1;
  return r;
}

PvlResult CEngineStateReady::Resume() {
  ICameraEngineInternal* engine = Engine();
  if (!engine) return PVL_E_FAIL;
  if (!m_suspended) return PVL_OK;
  PvlResult r = engine->Resume();
  if (r == PVL_OK) r = engine->StartSensor();
  if (r == PVL_OK) m_suspended = 0;
  return r;
}

PvlResult CEngineStateReady::FatalError() {
  if (!Machine()) return PVL_E_FAIL;
  return Machine()->Transition(ENGINE_STATE_INVALID, ENGINE_REASON_FATAL_ERROR);
}

PvlResult CEngineStateReady::Enter(uint32_t reason) {
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "Entering State: Ready");
  if (reason != ENGINE_REASON_INITIALIZE) return PVL_OK;
  ICameraEngineInternal* engine = Engine();
  if (!engine) return PVL_E_FAIL;
  PvlResult r = engine->Initialize();
  if (r != PVL_OK) return r;  // the engine undoes its own steps
  r = engine->StartSensor();
  if (r != PVL_OK) {
    // The machine goes back to Uninit: the engine must be there too, or the
    // next Initialize finds it half up.
    PvlResult undo = engine->Uninitialize();
    if (undo != PVL_OK)
      CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "Uninitialize after a failed sensor start failed: %d", static_cast<int>(undo));
  }
  return r;
}

PvlResult CEngineStateReady::Leave(uint32_t reason) {
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "Leaving State: Ready");
  if (reason != ENGINE_REASON_UNINITIALIZE && reason != ENGINE_REASON_FATAL_ERROR) return PVL_OK;
  ICameraEngineInternal* engine = Engine();
  if (!engine) return PVL_E_FAIL;
  PvlResult r = engine->Uninitialize();
  if (r == PVL_OK) r = engine->StopSensor();
  return r;
}
