// CEngineStateReady: the engine is initialised and the sensor runs, but no
// stream does. From here a client starts the preview or a still, reads the
// ports, applies properties (YUV sensors only: a Bayer sensor's settings go to
// the VFE while it streams) and suspends the camera for the power manager.
// Entering from Uninit brings the engine up and starts the sensor; leaving for
// Uninit or after a fatal error takes both down again. While suspended no
// stream or capture starts: Resume comes first.
#pragma once

#include "cenginestate.h"

class CEngineStateReady final : public CEngineState {
 public:
  PvlResult Uninitialize() override;
  PvlResult GetPorts(ICameraPort** ports, uint32_t capacity, uint32_t* count) override;
  PvlResult StartSnapshot(uint32_t snapshotCount) override;
  PvlResult StartVideo() override;
  PvlResult Stop() override;
  PvlResult ApplyProperty(uint32_t propertyId) override;
  PvlResult GetEnabledPortFormats(CameraPortFormat* formats, uint32_t capacity, uint32_t* count) override;
  PvlResult ApplyRuntimeTuningChanges() override;
  PvlResult Suspend() override;
  PvlResult Resume() override;
  PvlResult FatalError() override;
  PvlResult Enter(uint32_t reason) override;
  PvlResult Leave(uint32_t reason) override;
  const char* GetName() override { return "Ready"; }
  // Nothing streams: what the receive thread still delivers is late.
  bool TakesDeliveries() const override { return false; }

 private:
  // Set by Suspend, cleared by Resume; kept while the machine is in other states.
  uint8_t m_suspended = 0;
};
