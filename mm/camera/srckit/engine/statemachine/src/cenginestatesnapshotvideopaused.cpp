#include "cenginestatesnapshotvideopaused.h"

int32_t CEngineStateSnapshotVideoPaused::CompletedState() const { return ENGINE_STATE_VIDEO; }

int32_t CEngineStateSnapshotVideoPaused::OfflineState() const { return ENGINE_STATE_OFFLINE_PROCESS_VIDEO_PAUSED; }
