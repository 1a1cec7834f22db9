#include "cenginestate.h"

#include "cenginestatemachine.h"
#include "enginetransitionreason.h"
#include "icameraengineinternal.h"
#include "pvllog.h"

namespace {

PvlResult Refuse(const char* what) {
  CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "%s", what);
  return PVL_E_NOTREADY;
}

}  // namespace

// The texts are the ones field logs have always shown, spelling included.
PvlResult CEngineState::Constructed() { return Refuse("Invalid Event!!! Event Constructed"); }
PvlResult CEngineState::Initialize(uint32_t) { return Refuse("Invalid Event!!! Event Initialize"); }
PvlResult CEngineState::Uninitialize() { return Refuse("Invalid Event!!! Event Uninitialize"); }
PvlResult CEngineState::GetPorts(ICameraPort**, uint32_t, uint32_t*) { return Refuse("Invalid Event!!! GetPorts"); }
PvlResult CEngineState::StartSnapshot(uint32_t) { return Refuse("Invalid Event!!! Event Start Snapshot"); }
PvlResult CEngineState::StartVideo() { return Refuse("Invalid Event!!! Event Start Video"); }
PvlResult CEngineState::Stop() { return Refuse("Invalid Event!!! Event Stop"); }
PvlResult CEngineState::CaptureComplete() { return Refuse("Invalid Event!!! Event Capture Complete"); }
PvlResult CEngineState::RawCaptureComplete() { return Refuse("Invalid Event!!! Event Raw Capture Complete"); }
PvlResult CEngineState::ApplyProperty(uint32_t) { return Refuse("Invalid Event!!! Event Apply Property"); }
PvlResult CEngineState::StartFocus(uint8_t, ICameraSettingsListener*) {
  return Refuse("Invalid Event!!! Event Start Focus");
}
PvlResult CEngineState::StopFocus() { return Refuse("Invalid Event!!! Event Stop Focus"); }
PvlResult CEngineState::FrameAvailable(uint32_t, IPvlMediaBuffer*) {
  return Refuse("Invlaid Event!!! Event Frame Available");
}
PvlResult CEngineState::StatsAvailable(uint32_t, IPvlBase*) { return Refuse("Invlaid Event!!! Event Stats Available"); }
PvlResult CEngineState::GetEnabledPortFormats(CameraPortFormat*, uint32_t, uint32_t*) {
  return Refuse("Invlaid Event!!! Get Enabled Port Formats");
}
PvlResult CEngineState::ApplyRuntimeTuningChanges() {
  return Refuse("Invlaid Event!!! Get Apply Runtime Tuning Changes");
}
PvlResult CEngineState::Suspend() { return Refuse("Invlaid Event!!! Event Suspend"); }
PvlResult CEngineState::Resume() { return Refuse("Invlaid Event!!! Event Resume"); }
PvlResult CEngineState::FatalError() { return Refuse("Invalid Event!!! Event Fatal Error"); }
PvlResult CEngineState::StartPreSnapshotFlash(ICameraSettingsListener*) {
  return Refuse("Invalid Event!!! Event Start PreSnapshot Flash");
}
PvlResult CEngineState::StopPreSnapshotFlash() { return Refuse("Invalid Event!!! Event Stop PreSnapshot Flash"); }

CEngineState::~CEngineState() {
  m_lock.Reset();
  m_machine = nullptr;
}

ICameraEngineInternal* CEngineState::Engine() const { return m_machine ? m_machine->GetEngine() : nullptr; }

PvlResult CEngineState::RefuseWhileSuspended(const char* event) {
  CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "%s refused: the camera is suspended", event);
  return PVL_E_NOTREADY;
}

PvlResult CEngineState::StartSnapshotInto(int32_t next, uint32_t snapshotCount, bool suspended) {
  ICameraEngineInternal* engine = Engine();
  if (!engine) return PVL_E_FAIL;
  if (snapshotCount == 0) return PVL_E_BADARG;
  if (suspended) return RefuseWhileSuspended("Start Snapshot");
  PvlResult r = engine->SetSnapshotCount(snapshotCount);
  if (r != PVL_OK) return r;
  return m_machine->Transition(next, ENGINE_REASON_START_SNAPSHOT);
}

PvlResult CEngineState::StartVideoFor(uint32_t reason, bool suspended) {
  if (!m_machine) return PVL_E_FAIL;
  if (suspended) return RefuseWhileSuspended("Start Video");
  return m_machine->Transition(ENGINE_STATE_VIDEO, reason);
}

void CEngineState::SetContext(CEngineStateMachine* machine) {
  m_lock.Reset();
  m_machine = machine;
  if (machine) machine->GetLock(&m_lock);
}
