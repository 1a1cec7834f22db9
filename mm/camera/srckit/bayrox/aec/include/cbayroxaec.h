// CBayroxAEC: the auto-exposure plug-in. Every white-balance/exposure
// statistics delivery gives the frame's mean luma (the sum of Y over all quads
// of the 256 regions, linear 10-bit scale, before white balance); the plug-in
// scales the exposure (line count x gain) by target / mean and writes the line
// count and the gain through the AEC settings view, after which the engine
// programmes the sensor. Lines come first (up to the frame length less the
// sensor's 4-line margin, so the frame rate holds), gain after (1.0 to 16.0 in
// the sensor's 1/32 steps). A new exposure reaches the sensor at the next frame
// start, so the statistics of the frame already running when it was written
// are skipped rather than corrected twice; statistics handled so late that
// they still show the old mean after that are waited out too (a few frames).
//
// Whether the exposure is still moving or holds (inside the tolerance, or at
// its limit) goes to the AEC flag A of the settings for the focus plug-in.
//
// It also decides whether a still needs the flash (the scene stays below the
// target at the longest exposure and the highest gain) and runs the
// statistics side of the engine's pre-flash sequence: state 1 (no flash) and
// 4 (LED out, white balance decided) are answered with 5, which the settings
// turn into 10 and a call to the pre-snapshot listener; state 6 (LED asked
// for) is answered with 7 once the statistics of frames exposed under the lit
// LED have been metered.
//
// The user's controls, read at every Configure (the engine calls it whenever
// one changes) and applied at once to the exposure the engine holds, so that a
// still taken without a preview follows them too:
// - exposure compensation, the pair (steps, steps per EV): the target is
//   LumaTarget x 2^EV, the engine's range of -100..100 spanning -2..+2 EV;
// - metering: 0 average, 1 centre-weighted, 2 spot (the middle of the frame),
//   3..11 spot on one cell of a 3 x 3 grid of the statistics' regions (the
//   cells of the maker's touch exposure), anything else average;
// - ISO (manual): the gain the sensor uses, ISO 100 = 1.0; the line count takes
//   the rest;
// - antibanding (manual, 50 or 60 Hz): an exposure of one mains half-period or
//   more is a whole number of half-periods, the gain makes up the rest;
// - the snapshot shutter speed (manual, microseconds): the still's exposure
//   time; the gain keeps the metered brightness (or the ISO's gain). The
//   preview's exposure comes back when the still ends.
//
// Tunables ("AEC"): LumaTarget (10-bit linear mean), LumaTolerancePercent
// (no change inside it), MaxLineCount (0: from the sensor's frame length),
// MaxGain, SettleFrames (deliveries skipped after a change), PreFlashFrames
// (lit deliveries metered before the pre-flash decision), InitialLines and
// InitialGain (the first exposure).
#pragma once

#include <stdint.h>

#include "camerasettings.h"
#include "cbayroxelfs.h"

class CBayroxAEC final : public CBayroxELFS {
 public:
  explicit CBayroxAEC(IEnv* env) : CBayroxELFS(env) {}
  PvlResult Construct();
  static int32_t ClassEntry(IEnv* env, ZUEUID clsid, void* argument, void** out) {
    return CBayroxELFS::ClassEntry<CBayroxAEC>(env, clsid, argument, out);
  }

  PvlResult Initialize(IPvlBase* client) override;
  PvlResult Configure() override;
  PvlResult OnStartVideo(const CameraPortFormat* preview) override;
  PvlResult OnStats(IPvlBase* statistics) override;
  PvlResult OnStartSnapshot(const CameraPortFormat* main, const CameraPortFormat* thumbnail) override;
  PvlResult OnStopSnapshot() override;

  // The metering modes.
  enum Metering : uint32_t { kMeterAverage = 0, kMeterCentre = 1, kMeterSpot = 2, kMeterFirstZone = 3, kMeterLastZone = 11 };

  // The last metered mean luma (10-bit linear), for the tuning tool and tests.
  uint32_t LastMeanLuma() const { return m_lastMean; }
  uint32_t LumaTarget() const { return m_target; }
  // The mean the loop steers to: LumaTarget under the compensation.
  uint32_t EffectiveTarget() const;
  // The weight of region `i` of a 16 x 16 grid under a metering mode.
  static uint32_t RegionWeight(uint32_t mode, uint32_t i);

 private:
  ~CBayroxAEC() override = default;
  // Reads the exposure the engine holds now and the sensor's limits.
  PvlResult LoadExposure();
  PvlResult Meter(IPvlBase* statistics, uint32_t* mean, uint32_t* frame);
  PvlResult Apply(double exposure);
  PvlResult PreSnapshot(uint32_t frame);
  PvlResult Publish(BayroxExposureFlag flag);
  // Reads the user's controls; a control the engine does not offer keeps its default.
  void ReadControls();
  // The first exposure, then the controls' change since the last call.
  PvlResult FollowControls();
  PvlResult StartExposure();
  double LineMicroseconds() const;
  uint32_t AntibandingLines() const;
  uint32_t MaxLines() const;
  double MaxExposure() const {
    return double(MaxLines()) * (m_isoGainCode ? double(m_isoGainCode) / 32.0 : double(m_maxGain));
  }

  CPvlPtr<IAecSettings> m_settings;
  CPvlPtr<ISensorSettings> m_sensor;
  // Tunables.
  // A mid-grey scene (18 % after daylight white balance) on the statistics'
  // scale before white balance: the chart then comes out at its own values.
  uint32_t m_target = 192;
  uint32_t m_tolerancePercent = 4;
  uint32_t m_maxLineCount = 0;
  float m_maxGain = 16.0f;
  uint32_t m_settleFrames = 1;
  uint32_t m_preFlashFrames = 2;
  // The exposure the first preview or still starts from (0 lines: the engine's).
  uint32_t m_initialLines = 400;
  float m_initialGain = 1.0f;
  bool m_started = false;
  // The exposure last written and what the sensor allows.
  uint32_t m_lines = 0;
  uint32_t m_gainCode = 32;  // gain x 32
  uint32_t m_frameLength = 0;
  // The frame whose statistics led to the last change; the next SettleFrames
  // frames still show the previous exposure.
  uint32_t m_changedAt = 0;
  // The mean that led to it and the factor it changed exposure by.
  uint32_t m_meanAtChange = 0;
  double m_changeStep = 1.0;
  uint32_t m_staleFrames = 0;
  bool m_waiting = false;
  uint32_t m_lastMean = 0;
  uint32_t m_litFrames = 0;
  // The controls.
  double m_ev = 0.0;
  uint32_t m_metering = kMeterAverage;
  uint32_t m_isoGainCode = 0;     // 0: automatic
  uint32_t m_antibandingHz = 0;   // 0: off
  uint32_t m_shutterUs = 0;       // 0: automatic
  uint32_t m_lineLength = 0, m_pixelClock = 0;
  // The preview's exposure while a still with its own shutter time runs.
  bool m_stillFixed = false;
  uint32_t m_savedLines = 0, m_savedGainCode = 0;
  BayroxExposureFlag m_published = kBayroxExposureUnknown;
};
