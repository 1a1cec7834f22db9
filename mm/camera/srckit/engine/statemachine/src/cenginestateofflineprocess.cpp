#include "cenginestateofflineprocess.h"

#include "cenginestatemachine.h"
#include "enginetransitionreason.h"
#include "icameraengineinternal.h"
#include "pvllog.h"

PvlResult CEngineStateOfflineProcess::Stop() {
  if (!Machine()) return PVL_E_FAIL;
  return Machine()->Transition(ENGINE_STATE_READY, ENGINE_REASON_STOP_CAPTURE);
}

PvlResult CEngineStateOfflineProcess::CaptureComplete() {
  if (!Machine()) return PVL_E_FAIL;
  return Machine()->Transition(CompletedState(), ENGINE_REASON_CAPTURE_COMPLETE);
}

PvlResult CEngineStateOfflineProcess::Enter(uint32_t) {
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "Entering State: Offline Process");
  ICameraEngineInternal* engine = Engine();
  if (!engine) return PVL_E_FAIL;
  return engine->OnReserved();
}

PvlResult CEngineStateOfflineProcess::Leave(uint32_t) {
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "Leaving State: Offline Process");
  return PVL_OK;
}
