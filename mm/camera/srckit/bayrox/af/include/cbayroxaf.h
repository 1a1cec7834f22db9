// CBayroxAF: the auto-focus plug-in. A focus run starts when the engine sets
// the focus state to 1 or 2 (a focus request, or the metering of a still
// without flash). The plug-in homes the lens (code 0, focus at infinity), then
// sweeps toward near in coarse moves (CoarseStep actuator steps of 27 codes),
// reading the sum of the focus statistics at each position, until sharpness
// has fallen below the best seen by DropPercent on DropCount positions in a
// row or the lens is at the end of its travel. The peak then lies within a
// coarse move of the best position: the plug-in halves the bracket around it,
// reading the middle of each side, until the best position's neighbours one
// step away have been read, moves there and ends with focus state 3 (4 when no
// position gave any sharpness). The lens crosses the peak on the sweep and at
// most twice more while the bracket closes. The proxy tells the focus listener
// when the state leaves 1 or 2.
//
// With the chart's peak mid-travel a run takes eight positions: about 22
// preview frames from the request, well inside a second at 30 frames a second.
//
// A move made while frame n's statistics are handled shows from frame n + 2
// (frame n + 1 was already exposing), later when the statistics fell behind,
// and a frame exposed while the lens travelled shows neither position. So
// after SettleFrames skipped readings, a reading counts once the next agrees
// with it (within a quarter of a per cent: the lens was at rest for both) and
// it differs from the reading before the move; after kMaxStaleWaits readings
// the latest counts. Sharpness follows the picture's brightness too: while the exposure plug-in still moves the exposure (a run
// asked for as the preview starts), the run waits at home for it to hold, a
// second at most.
//
// Tunables ("AF"): StepSize (the finest move, actuator steps), CoarseStep
// (the sweep's move), MaxSteps (travel from home), DropPercent, DropCount,
// SettleFrames.
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
  enum class Phase { Idle, WaitingForExposure, Sweeping, Narrowing, Returning };
  Phase GetPhase() const { return m_phase; }
  uint32_t Position() const { return m_position; }

 private:
  ~CBayroxAF() override = default;
  // The one transition function of the run.
  PvlResult Step(uint32_t state, uint32_t frame, uint64_t sharpness);
  PvlResult Sweep(uint32_t frame);
  PvlResult Narrow(uint32_t frame);
  PvlResult MoveTo(uint32_t position, uint32_t frame);
  PvlResult Move(uint32_t direction, uint32_t steps, uint8_t reset, uint32_t frame);
  PvlResult Finish(uint32_t state, uint32_t frame);
  uint32_t Travel() const;

  CPvlPtr<IAfSettings> m_settings;
  // Tunables.
  uint32_t m_stepSize = 1;
  uint32_t m_coarseStep = 6;
  uint32_t m_maxSteps = 37;  // 37 x 27 codes: the actuator's 0..1023
  uint32_t m_dropPercent = 5;
  uint32_t m_dropCount = 1;
  uint32_t m_settleFrames = 1;
  // The run.
  static constexpr uint32_t kMaxPositions = 64;
  static constexpr uint32_t kMaxStaleWaits = 6;
  Phase m_phase = Phase::Idle;
  uint32_t m_position = 0;  // steps from home
  uint32_t m_bestPosition = 0;
  uint64_t m_best = 0;
  uint32_t m_drops = 0;
  uint32_t m_startFrame = 0;
  uint32_t m_movedAt = 0;  // the frame during which the lens last moved
  uint64_t m_beforeMove = 0;  // the reading of the lens where it was before the move
  bool m_haveBeforeMove = false;
  uint32_t m_staleWaits = 0;
  uint64_t m_candidate = 0;  // the latest reading since the move, waiting for one that agrees
  bool m_haveCandidate = false;
  uint32_t m_exposureWaits = 0;  // readings passed over at home while the exposure moved
  uint64_t m_last = 0;  // the latest reading, whatever it showed
  // The readings of this run, by position.
  uint64_t m_values[kMaxPositions] = {};
  bool m_read[kMaxPositions] = {};
};
