// CEngineStateOfflineProcessVideoPaused: offline processing of a still taken
// while the preview ran; when it completes the stream resumes.
#pragma once

#include "cenginestateofflineprocess.h"

class CEngineStateOfflineProcessVideoPaused final : public CEngineStateOfflineProcess {
 public:
  const char* GetName() override { return "OfflineProcessVideoPaused"; }

 protected:
  int32_t CompletedState() const override;
};
