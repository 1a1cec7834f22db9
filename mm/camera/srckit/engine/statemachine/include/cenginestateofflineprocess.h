// CEngineStateOfflineProcess: a raw still handed on for processing after the
// capture. The engine has no offline processing (its step answers 20), so
// entering fails and the capture stays in its snapshot state, where it ends
// normally; should the engine grow one, the state ends with CaptureComplete
// (to Ready) or Stop.
#pragma once

#include "cenginestate.h"

class CEngineStateOfflineProcess : public CEngineState {
 public:
  PvlResult Stop() override;
  PvlResult CaptureComplete() override;
  PvlResult Enter(uint32_t reason) override;
  PvlResult Leave(uint32_t reason) override;
  const char* GetName() override { return "OfflineProcess"; }

 protected:
  // Where a completed processing goes from this state.
  virtual int32_t CompletedState() const { return ENGINE_STATE_READY; }
};
