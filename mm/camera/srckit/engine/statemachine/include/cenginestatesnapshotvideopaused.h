// CEngineStateSnapshotVideoPaused: a still taken while the preview ran. It is
// the Snapshot state with another way out: a completed capture (or its
// offline processing) resumes the stream, a stopped one does not.
#pragma once

#include "cenginestatesnapshot.h"

class CEngineStateSnapshotVideoPaused final : public CEngineStateSnapshot {
 public:
  const char* GetName() override { return "SnapshotVideoPaused"; }

 protected:
  int32_t Id() const override { return ENGINE_STATE_SNAPSHOT_VIDEO_PAUSED; }
  int32_t CompletedState() const override;
  int32_t OfflineState() const override;
};
