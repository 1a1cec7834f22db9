// CEngineStateVideo: the preview (or video) stream runs: the sensor and the
// VFE are configured for video and frames flow from the VFE service through
// the engine to the video port. Entering starts the stream and leaving stops
// it; while it runs, properties, focus, statistics, runtime tuning and the
// pre-snapshot flash go to the engine, and a still pauses the stream.
// It also says how long the stream took to deliver its first frame and, once a
// second, how many frames came: the numbers field logs are read for.
#pragma once

#include <atomic>

#include "cenginestate.h"
#include "cpvlptr.h"
#include "iclock.h"

class CEngineStateVideo final : public CEngineState {
 public:
  CEngineStateVideo();
  ~CEngineStateVideo() override;

  PvlResult StartSnapshot(uint32_t snapshotCount) override;
  PvlResult StartVideo() override;
  PvlResult Stop() override;
  PvlResult CaptureComplete() override;
  PvlResult ApplyProperty(uint32_t propertyId) override;
  PvlResult StartFocus(uint8_t continuous, ICameraSettingsListener* listener) override;
  PvlResult StopFocus() override;
  PvlResult FrameAvailable(uint32_t outputId, IPvlMediaBuffer* buffer) override;
  PvlResult StatsAvailable(uint32_t kind, IPvlBase* statistics) override;
  PvlResult GetEnabledPortFormats(CameraPortFormat* formats, uint32_t capacity, uint32_t* count) override;
  PvlResult ApplyRuntimeTuningChanges() override;
  PvlResult Suspend() override;
  PvlResult Resume() override;
  PvlResult FatalError() override;
  PvlResult StartPreSnapshotFlash(ICameraSettingsListener* listener) override;
  PvlResult StopPreSnapshotFlash() override;
  PvlResult Enter(uint32_t reason) override;
  PvlResult Leave(uint32_t reason) override;
  const char* GetName() override { return "Video"; }
  bool TakesDeliveries() const override { return m_streaming.load(); }

 private:
  uint32_t Now();

  CPvlPtr<IClock> m_clock;  // may stay empty: every reading is then 0
  uint8_t m_suspended = 0;
  // Frames come on the VFE receive thread without the machine's lock, also
  // while Enter runs: the measurement is shared with Enter through atomics.
  std::atomic<uint32_t> m_windowStart{0};
  std::atomic<bool> m_firstFrame{false};
  std::atomic<uint32_t> m_frameCount{0};
  // Open from the start of Enter (or Resume) until a stop begins.
  std::atomic<bool> m_streaming{false};
};
