#include "cenginestateofflineprocessvideopaused.h"

int32_t CEngineStateOfflineProcessVideoPaused::CompletedState() const { return ENGINE_STATE_VIDEO; }
