#include "cbayroxaec.h"

#include <math.h>

#include <algorithm>
#include <vector>

#include "ivfestats.h"
#include "pvllog.h"

namespace {

constexpr uint32_t kRegions = 256;
constexpr uint32_t kGainOne = 32;        // the sensor's gain code for 1.0
constexpr uint32_t kFrameMargin = 4;     // lines of a frame integration cannot use
constexpr uint32_t kDefaultMaxLines = 990;
constexpr double kMaxStep = 16.0;        // one correction changes exposure by at most this
constexpr uint32_t kMaxStaleFrames = 3;  // late statistics waited out after a change

// Pre-snapshot states of the engine's flash sequence.
constexpr uint32_t kPreSnapshotMeter = 1;      // no flash: meter once and report
constexpr uint32_t kPreSnapshotLedOff = 4;     // white balance decided, LED out
constexpr uint32_t kPreSnapshotDone = 5;       // becomes 10 and tells the listener
constexpr uint32_t kPreSnapshotLedOn = 6;      // LED asked for
constexpr uint32_t kPreSnapshotLedMetered = 7; // becomes 8: white balance's turn

}  // namespace

PvlResult CBayroxAEC::Construct() {
  OpenTunables();
  if (CRuntimeTuning* t = Tunables()) {
    t->Register("LumaTarget", &m_target, TUNING_TYPE_U32, 1, 0);
    t->Register("LumaTolerancePercent", &m_tolerancePercent, TUNING_TYPE_U32, 1, 0);
    t->Register("MaxLineCount", &m_maxLineCount, TUNING_TYPE_U32, 1, 0);
    t->Register("MaxGain", &m_maxGain, TUNING_TYPE_FLOAT, 1, 0);
    t->Register("SettleFrames", &m_settleFrames, TUNING_TYPE_U32, 1, 0);
    t->Register("PreFlashFrames", &m_preFlashFrames, TUNING_TYPE_U32, 1, 0);
    PublishTunables("AEC");
  }
  return PVL_OK;
}

PvlResult CBayroxAEC::Initialize(IPvlBase* client) {
  if (!client) return PVL_E_NULLPTR;
  m_settings.Reset();
  m_sensor.Reset();
  PvlResult r = client->QueryInterface(ZUEUID_AEC_SETTINGS, m_settings.Out());
  if (r == PVL_OK) r = client->QueryInterface(ZUEUID_SENSOR_SETTINGS, m_sensor.Out());
  if (r != PVL_OK) {
    // Half a client is no client: every later call answers "not ready".
    m_settings.Reset();
    m_sensor.Reset();
  }
  return r;
}

PvlResult CBayroxAEC::Configure() {
  if (!m_settings) return PVL_E_NOTREADY;
  return LoadExposure();
}

PvlResult CBayroxAEC::OnStartVideo(const CameraPortFormat*) {
  if (!m_settings) return PVL_E_NOTREADY;
  m_waiting = false;
  m_litFrames = 0;
  return LoadExposure();
}

PvlResult CBayroxAEC::LoadExposure() {
  uint32_t frameLength = 0;
  if (m_settings->GetGainInfoWord4(&frameLength) == PVL_OK) m_frameLength = frameLength;
  uint32_t lines = 0;
  CFixedPoint gain;
  PvlResult r = m_sensor->GetExposureLineCount(&lines);
  if (r == PVL_OK) r = m_sensor->GetExposureGain(&gain);
  if (r != PVL_OK) return r;
  double g = 1.0;
  gain.GetDouble(&g);
  m_lines = std::clamp<uint32_t>(lines, 1, MaxLines());
  m_gainCode = uint32_t(std::clamp(g, 1.0, double(m_maxGain)) * kGainOne);
  return PVL_OK;
}

uint32_t CBayroxAEC::MaxLines() const {
  if (m_maxLineCount) return m_maxLineCount;
  return m_frameLength > kFrameMargin ? m_frameLength - kFrameMargin : kDefaultMaxLines;
}

PvlResult CBayroxAEC::Meter(IPvlBase* statistics, uint32_t* mean, uint32_t* frame) {
  CPvlPtr<IWBExpStats> stats;
  if (statistics->QueryInterface(ZUEUID_IFACE_WB_EXP_STATS, stats.Out()) != PVL_OK) return PVL_E_UNSUPPORTED;
  uint32_t values[kRegions] = {};
  uint32_t count = 0, pixels = 0;
  PvlResult r = stats->GetRegionWord4(values, kRegions, &count);
  if (r == PVL_OK) r = stats->GetPixelsPerRegion(&pixels);
  if (r == PVL_OK) r = stats->GetFrameId(frame);
  if (r != PVL_OK) return r;
  count = std::min(count, kRegions);
  // Word 4 sums Y over the quads of a region; a quad is four pixels.
  uint64_t quads = uint64_t(pixels / 4) * count;
  if (quads == 0) return PVL_E_NOTREADY;
  uint64_t sum = 0;
  for (uint32_t i = 0; i < count; ++i) sum += values[i];
  *mean = uint32_t((sum + quads / 2) / quads);
  return PVL_OK;
}

PvlResult CBayroxAEC::Apply(double exposure) {
  exposure = std::clamp(exposure, 1.0, MaxExposure());
  // Lines first, then gain in the sensor's steps.
  uint32_t lines = uint32_t(std::clamp(exposure, 1.0, double(MaxLines())) + 0.5);
  double gain = exposure / double(lines);
  uint32_t code = uint32_t(std::clamp(gain, 1.0, double(m_maxGain)) * kGainOne + 0.5);
  code = std::clamp<uint32_t>(code, kGainOne, uint32_t(double(m_maxGain) * kGainOne));
  CFixedPoint fixed(8u, 0);
  fixed.SetRawValue(int32_t(code * 8));  // 1/32 steps at Q8
  PvlResult r = m_settings->SetExposureLineCount(lines);
  if (r == PVL_OK) r = m_settings->SetExposureGain(&fixed);
  if (r != PVL_OK) return r;
  m_lines = lines;
  m_gainCode = code;
  return PVL_OK;
}

PvlResult CBayroxAEC::OnStats(IPvlBase* statistics) {
  if (!statistics) return PVL_E_NULLPTR;
  if (!m_settings) return PVL_E_NOTREADY;
  uint32_t mean = 0, frame = 0;
  PvlResult r = Meter(statistics, &mean, &frame);
  if (r == PVL_E_UNSUPPORTED) return r;  // the focus statistics: not ours
  // Statistics without regions (the VFE's statistics not configured yet) say
  // nothing about exposure, but a pre-flash sequence must not hang on them.
  if (r == PVL_E_NOTREADY) return PreSnapshot(frame);
  if (r != PVL_OK) return r;
  m_lastMean = mean;
  m_settings->SetHJRFrameCount(1);

  // A frame that started before the last change still shows the old exposure
  // (a frame counter that went back means the VFE restarted: nothing is pending).
  bool restarted = frame <= m_changedAt;
  bool settled = !m_waiting || restarted || frame > m_changedAt + m_settleFrames;
  // Statistics handled late may still show the old exposure after that: a
  // mean unchanged by a real change is waited out, a few frames at most.
  if (settled && m_waiting && !restarted && m_staleFrames < kMaxStaleFrames &&
      (m_changeStep > 1.1 || m_changeStep < 0.9) && mean * 50 >= m_meanAtChange * 49 &&
      mean * 50 <= m_meanAtChange * 51) {
    ++m_staleFrames;
    settled = false;
  }
  bool changed = false;
  if (settled) {
    m_waiting = false;
    m_staleFrames = 0;
    double exposure = double(m_lines) * double(m_gainCode) / kGainOne;
    uint32_t tolerance = m_target * m_tolerancePercent / 100;
    bool atMaximum = exposure >= MaxExposure() - 0.5;
    if (mean + tolerance < m_target || mean > m_target + tolerance) {
      double step = mean ? double(m_target) / double(mean) : kMaxStep;
      step = std::clamp(step, 1.0 / kMaxStep, kMaxStep);
      double next = std::clamp(exposure * step, 1.0, MaxExposure());
      if (fabs(next - exposure) >= 0.5) {
        r = Apply(next);
        if (r != PVL_OK) return r;
        m_waiting = true;
        changed = true;
        m_changedAt = frame;
        m_meanAtChange = mean;
        m_changeStep = next / exposure;
      }
    }
    // A scene that stays dark with nothing left to give needs the flash.
    r = m_settings->SetFlashNeeded(atMaximum && mean + tolerance < m_target ? 1 : 0);
    if (r != PVL_OK) return r;
  }
  r = Publish(settled && !changed ? kBayroxExposureSteady : kBayroxExposureMoving);
  if (r != PVL_OK) return r;
  return PreSnapshot(frame);
}

// Only a change is written: the flag marks the VFE's settings changed.
PvlResult CBayroxAEC::Publish(BayroxExposureFlag flag) {
  if (flag == m_published) return PVL_OK;
  PvlResult r = m_settings->SetAecFlagA(flag);
  if (r == PVL_OK) m_published = flag;
  return r;
}

PvlResult CBayroxAEC::PreSnapshot(uint32_t) {
  uint32_t state = 0;
  PvlResult r = m_settings->GetPreSnapshotState(&state);
  if (r != PVL_OK) return r;
  switch (state) {
    case kPreSnapshotMeter:
    case kPreSnapshotLedOff:
      m_litFrames = 0;
      return m_settings->SetPreSnapshotState(kPreSnapshotDone);
    case kPreSnapshotLedOn: {
      uint32_t flash = 0;
      r = m_settings->GetFlashWord(&flash);
      if (r != PVL_OK) return r;
      // Only statistics of frames exposed under the lit LED count.
      if (flash == 0) {
        m_litFrames = 0;
        return PVL_OK;
      }
      if (++m_litFrames <= m_preFlashFrames) return PVL_OK;
      m_litFrames = 0;
      return m_settings->SetPreSnapshotState(kPreSnapshotLedMetered);
    }
    default:
      return PVL_OK;
  }
}
