// CEngineStateSnapshot: a still capture started from Ready. Entering starts the
// engine's capture (sensor and VFE in snapshot mode, EXIF collected); the
// main-image and thumbnail frames and the capture's statistics go to the
// engine under the machine's lock, so that a Stop never runs beside them.
// The capture ends with the VFE's snapshot-done event (back to Ready), a Stop,
// or a raw capture handed to offline processing. Leaving says how long the
// still took, from entry to the end of the engine's stop.
#pragma once

#include <atomic>

#include "cenginestate.h"
#include "cpvlptr.h"
#include "iclock.h"

class CEngineStateSnapshot : public CEngineState {
 public:
  CEngineStateSnapshot();
  ~CEngineStateSnapshot() override;

  PvlResult Stop() override;
  PvlResult CaptureComplete() override;
  PvlResult RawCaptureComplete() override;
  PvlResult FatalError() override;
  PvlResult FrameAvailable(uint32_t outputId, IPvlMediaBuffer* buffer) override;
  PvlResult StatsAvailable(uint32_t kind, IPvlBase* statistics) override;
  PvlResult GetEnabledPortFormats(CameraPortFormat* formats, uint32_t capacity, uint32_t* count) override;
  PvlResult Enter(uint32_t reason) override;
  PvlResult Leave(uint32_t reason) override;
  const char* GetName() override { return "Snapshot"; }
  bool TakesDeliveries() const override { return m_capturing.load(); }

 protected:
  virtual int32_t Id() const { return ENGINE_STATE_SNAPSHOT; }
  // Where a completed capture and a raw capture go from this state.
  virtual int32_t CompletedState() const { return ENGINE_STATE_READY; }
  virtual int32_t OfflineState() const { return ENGINE_STATE_OFFLINE_PROCESS; }

 private:
  uint32_t Now();

  CPvlPtr<IClock> m_clock;  // may stay empty: every reading is then 0
  uint32_t m_startTime = 0;
  // Open from the start of Enter until a stop begins; read on the receive thread.
  std::atomic<bool> m_capturing{false};
};
