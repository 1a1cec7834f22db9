#include "cenginestateinvalid.h"

#include "pvllog.h"

PvlResult CEngineStateInvalid::Enter(uint32_t) {
  // Only a fatal error brings the machine here once it has started.
  CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "Entering State: Invalid");
  return PVL_OK;
}

// Left only by the machine's Start.
PvlResult CEngineStateInvalid::Leave(uint32_t) { return PVL_OK; }
