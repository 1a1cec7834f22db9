// CBayroxAF: the auto-focus plug-in. A focus run starts when the engine sets
// the focus state to 1 or 2 (a focus request, or the metering of a still
// without flash). The plug-in homes the lens (code 0, focus at infinity), then
// climbs toward near one step at a time (the actuator moves 27 codes a step),
// reading the sum of the focus statistics at each position. Sharpness rises to
// the best-focus position and falls after it: once it has fallen below the
// best seen by DropPercent on DropCount positions in a row, or the lens is at
// the end of its travel, the lens returns to the best position and the run
// ends with focus state 3 (4 when no position gave any sharpness). The proxy
// tells the focus listener when the state leaves 1 or 2. A lens move takes
// most of a frame, and the frames already running when it started were
// exposed before it, so their statistics are skipped. Sharpness follows the
// picture's brightness too: while the exposure plug-in still moves the exposure
// (a run asked for as the preview starts), the climb waits at home for it to
// hold, a second at most.
//
// Tunables ("AF"): StepSize (actuator steps per move), MaxSteps (travel from
// home), DropPercent, DropCount, SettleFrames, VerifyFrames.
#pragma once

#include <stdint.h>

#include "camerasettings.h"
#include "cbayroxelfs.h"

class CBayroxAF final : public CBayroxELFS {
 public:
  explicit CBayroxAF(IEnv* env) : CBayroxELFS(env) {}
  PvlResult Construct();
  static int32_t ClassEntry(IEnv* env, ZUEUID clsid, void* argument, void** out) {
    return CBayroxELFS::ClassEntry<CBayroxAF>(env, clsid, argument, out);
  }

  PvlResult Initialize(IPvlBase* client) override;
  PvlResult Configure() override;
  PvlResult OnStartVideo(const CameraPortFormat* preview) override;
  PvlResult OnStats(IPvlBase* statistics) override;

  // Where the run is (for tests and the log).
  enum class Phase { Idle, WaitingForExposure, Scanning, Verifying, Returning };
  Phase GetPhase() const { return m_phase; }
  uint32_t Position() const { return m_position; }

 private:
  ~CBayroxAF() override = default;
  // The one transition function of the run.
  PvlResult Step(uint32_t state, uint32_t frame, uint64_t sharpness);
  PvlResult Scan(uint32_t frame, uint64_t sharpness);
  PvlResult MoveTo(uint32_t position, uint32_t frame);
  PvlResult Move(uint32_t direction, uint32_t steps, uint8_t reset, uint32_t frame);
  PvlResult Finish(uint32_t state);

  CPvlPtr<IAfSettings> m_settings;
  // Tunables.
  uint32_t m_stepSize = 1;
  uint32_t m_maxSteps = 37;  // 37 x 27 codes: the actuator's 0..1023
  uint32_t m_dropPercent = 5;
  uint32_t m_dropCount = 2;
  // A move takes most of a frame (five sub-moves with their settling pauses),
  // so the frame after the one it started in may still begin at the old code.
  uint32_t m_settleFrames = 2;
  uint32_t m_verifyFrames = 4;
  // The run.
  Phase m_phase = Phase::Idle;
  uint32_t m_position = 0;  // steps from home
  uint32_t m_bestPosition = 0;
  uint64_t m_best = 0;
  uint32_t m_drops = 0;
  uint32_t m_movedAt = 0;  // the frame during which the lens last moved
  // The best position and its neighbours, read again.
  static constexpr uint32_t kVerifyPositions = 4;
  uint32_t m_verifyPositions[kVerifyPositions] = {};
  uint64_t m_verifyValues[kVerifyPositions] = {};
  bool m_homing = false;
  uint32_t m_exposureWaits = 0;  // readings passed over at home while the exposure moved
  uint32_t m_verifyCount = 0;
  uint32_t m_verifyIndex = 0;
};
