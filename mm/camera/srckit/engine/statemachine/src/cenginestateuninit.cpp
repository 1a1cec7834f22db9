#include "cenginestateuninit.h"

#include "cenginestatemachine.h"
#include "enginetransitionreason.h"
#include "icameraengineinternal.h"
#include "pvllog.h"

PvlResult CEngineStateUninit::Initialize(uint32_t cameraId) {
  ICameraEngineInternal* engine = Engine();
  if (!engine) return PVL_E_FAIL;
  PvlResult r = engine->SetCameraId(cameraId);
  if (r != PVL_OK) return r;
  return Machine()->Transition(ENGINE_STATE_READY, ENGINE_REASON_INITIALIZE);
}

PvlResult CEngineStateUninit::Enter(uint32_t) {
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "Entering State: Uninit");
  return PVL_OK;
}

PvlResult CEngineStateUninit::Leave(uint32_t) {
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "Leaving State: Uninit");
  return PVL_OK;
}
