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

// The views' mode word of a control the user set by hand.
constexpr uint32_t kModeManual = 3;
constexpr uint32_t kIsoPerGain = 100;         // ISO 100 is the sensor's gain 1.0
constexpr uint32_t kMaxStillLines = 65535;    // the sensor stretches its lines beyond the frame
constexpr uint32_t kGrid = 16;                // the statistics' regions, 16 x 16
// The highest mean the compensation may aim at (10-bit statistics).
constexpr uint32_t kMaxTarget = 900;
constexpr double kMaxEv = 2.0;
constexpr double kEngineRange = 100.0;

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
    t->Register("InitialLines", &m_initialLines, TUNING_TYPE_U32, 1, 0);
    t->Register("InitialGain", &m_initialGain, TUNING_TYPE_FLOAT, 1, 0);
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
    return r;
  }
  return PVL_OK;
}

void CBayroxAEC::ReadControls() {
  CameraFraction ev{};
  m_ev = 0.0;
  if (m_settings->GetExposureCompensation(&ev) == PVL_OK && ev.Denominator > 0) {
    // The engine's range (-100..100 as a quotient) spans the +-2 EV this sensor gives.
    m_ev = double(ev.Numerator) / double(ev.Denominator) * kMaxEv / kEngineRange;
    m_ev = std::clamp(m_ev, -kMaxEv, kMaxEv);
  }
  uint32_t metering = kMeterAverage;
  m_metering = m_settings->GetExposureMeteringMode(&metering) == PVL_OK ? metering : kMeterAverage;
  uint32_t mode = 0, value = 0;
  m_isoGainCode = 0;
  if (m_settings->GetISOMode(&mode) == PVL_OK && mode == kModeManual && m_settings->GetISO(&value) == PVL_OK &&
      value > 0) {
    const double gain = std::clamp(double(value) / kIsoPerGain, 1.0, double(m_maxGain));
    m_isoGainCode = uint32_t(gain * kGainOne + 0.5);
  }
  m_antibandingHz = 0;
  if (m_settings->GetAntibandingMode(&mode) == PVL_OK && mode == kModeManual &&
      m_settings->GetAntibanding(&value) == PVL_OK && (value == 50 || value == 60))
    m_antibandingHz = value;
  // The engine reads an automatic shutter speed as 0.
  m_shutterUs = 0;
  if (m_sensor->GetSnapshotShutterSpeed(&value) == PVL_OK) m_shutterUs = value;
  uint32_t lineLength = 0, clock = 0;
  if (m_settings->GetLineLength(&lineLength) == PVL_OK && m_settings->GetPixelClock(&clock) == PVL_OK) {
    m_lineLength = lineLength;
    m_pixelClock = clock;
  }
}

PvlResult CBayroxAEC::Configure() {
  if (!m_settings) return PVL_E_NOTREADY;
  return FollowControls();
}

// The first preview or still starts from the tuned exposure (near a lit room's
// or daylight's, under the compensation), not from whatever the engine was
// built with: the first frames are then close to where the loop ends.
PvlResult CBayroxAEC::StartExposure() {
  if (m_started) return PVL_OK;
  m_started = true;
  if (!m_initialLines) return PVL_OK;
  return Apply(double(m_initialLines) * double(m_initialGain) * exp2(m_ev));
}

PvlResult CBayroxAEC::FollowControls() {
  PvlResult r = LoadExposure();
  if (r != PVL_OK) return r;
  const double ev = m_ev;
  const uint32_t iso = m_isoGainCode, antibanding = m_antibandingHz;
  ReadControls();
  if (ev == m_ev && iso == m_isoGainCode && antibanding == m_antibandingHz) return PVL_OK;
  // A change of the controls takes effect at once, not only once the preview's
  // loop has metered: a still may follow without one.
  const double exposure = double(m_lines) * double(m_gainCode) / kGainOne * exp2(m_ev - ev);
  r = Apply(exposure);
  if (r != PVL_OK) return r;
  m_waiting = false;
  return PVL_OK;
}

uint32_t CBayroxAEC::EffectiveTarget() const {
  const double target = double(m_target) * exp2(m_ev);
  return uint32_t(std::clamp(target + 0.5, 1.0, double(kMaxTarget)));
}

uint32_t CBayroxAEC::RegionWeight(uint32_t mode, uint32_t i) {
  const uint32_t row = i / kGrid, column = i % kGrid;
  auto inside = [&](uint32_t r0, uint32_t r1, uint32_t c0, uint32_t c1) {
    return row >= r0 && row <= r1 && column >= c0 && column <= c1;
  };
  switch (mode) {
    case kMeterCentre:
      // The middle quarter of the frame counts four times, the ring around it twice.
      if (inside(4, 11, 4, 11)) return 4;
      if (inside(2, 13, 2, 13)) return 2;
      return 1;
    case kMeterSpot:
      return inside(7, 8, 7, 8) ? 1 : 0;
    default:
      break;
  }
  if (mode >= kMeterFirstZone && mode <= kMeterLastZone) {
    // The bands of the maker's touch exposure: rows 0-4, 5-10, 11-15; columns 0-3, 4-8, 9-12.
    static constexpr uint32_t kRows[3][2] = {{0, 4}, {5, 10}, {11, 15}};
    static constexpr uint32_t kColumns[3][2] = {{0, 3}, {4, 8}, {9, 12}};
    const uint32_t zone = mode - kMeterFirstZone;
    const uint32_t* r = kRows[zone / 3];
    const uint32_t* c = kColumns[zone % 3];
    return inside(r[0], r[1], c[0], c[1]) ? 1 : 0;
  }
  return 1;
}

double CBayroxAEC::LineMicroseconds() const {
  return m_pixelClock ? double(m_lineLength) * 1e6 / double(m_pixelClock) : 0.0;
}

uint32_t CBayroxAEC::AntibandingLines() const {
  const double line = LineMicroseconds();
  if (!m_antibandingHz || line <= 0) return 0;
  return uint32_t(1e6 / (2.0 * m_antibandingHz) / line + 0.5);
}

PvlResult CBayroxAEC::OnStartSnapshot(const CameraPortFormat*, const CameraPortFormat*) {
  if (!m_settings) return PVL_E_NOTREADY;
  // Controls set while no preview ran reach the engine only now.
  PvlResult r = FollowControls();
  if (r == PVL_OK) r = StartExposure();
  if (r != PVL_OK) return r;
  const double line = LineMicroseconds();
  if (!m_shutterUs || line <= 0) return PVL_OK;
  const double exposure = double(m_lines) * double(m_gainCode) / kGainOne;
  const uint32_t lines = uint32_t(std::clamp(double(m_shutterUs) / line + 0.5, 1.0, double(kMaxStillLines)));
  const double gain = m_isoGainCode ? double(m_isoGainCode) / kGainOne : exposure / double(lines);
  const uint32_t code = uint32_t(std::clamp(gain, 1.0, double(m_maxGain)) * kGainOne + 0.5);
  CFixedPoint fixed(8u, 0);
  fixed.SetRawValue(int32_t(code * 8));
  r = m_settings->SetExposureLineCount(lines);
  if (r == PVL_OK) r = m_settings->SetExposureGain(&fixed);
  if (r != PVL_OK) return r;
  m_savedLines = m_lines;
  m_savedGainCode = m_gainCode;
  m_stillFixed = true;
  return PVL_OK;
}

PvlResult CBayroxAEC::OnStopSnapshot() {
  if (!m_settings) return PVL_E_NOTREADY;
  if (!m_stillFixed) return PVL_OK;
  m_stillFixed = false;
  CFixedPoint fixed(8u, 0);
  fixed.SetRawValue(int32_t(m_savedGainCode * 8));
  PvlResult r = m_settings->SetExposureLineCount(m_savedLines);
  if (r == PVL_OK) r = m_settings->SetExposureGain(&fixed);
  return r;
}

PvlResult CBayroxAEC::OnStartVideo(const CameraPortFormat*) {
  if (!m_settings) return PVL_E_NOTREADY;
  m_waiting = false;
  m_litFrames = 0;
  PvlResult r = LoadExposure();
  if (r == PVL_OK) r = StartExposure();
  return r;
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
  uint32_t values[kRegions] = {}, green[kRegions] = {};
  uint32_t count = 0, greens = 0, pixels = 0;
  PvlResult r = stats->GetRegionWord4(values, kRegions, &count);
  if (r == PVL_OK) r = stats->GetPixelsPerRegion(&pixels);
  if (r == PVL_OK) r = stats->GetFrameId(frame);
  if (r != PVL_OK) return r;
  count = std::min(count, kRegions);
  // Word 4 sums Y over the quads of a region (a quad is four pixels), before
  // white balance; word 6 sums their green on an 8-bit scale. White balance
  // lifts red and blue of the scene's greys to their green, so green is the
  // luma the picture will have: metered on it, a grey comes out as bright
  // under every light (Y before white balance is darker, the more so the
  // further the light is from the sensor's own white).
  if (stats->GetRegionWord6(green, kRegions, &greens) == PVL_OK && std::min(greens, kRegions) == count) {
    uint64_t any = 0;
    for (uint32_t i = 0; i < count; ++i) any += green[i];
    if (any)
      for (uint32_t i = 0; i < count; ++i) values[i] = green[i] * 4;
  }
  // The metering mode weighs the regions; a grid other than 16 x 16 is averaged.
  const bool grid = count == kRegions;
  uint64_t weights = 0, sum = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t w = grid ? RegionWeight(m_metering, i) : 1;
    sum += uint64_t(values[i]) * w;
    weights += w;
  }
  uint64_t quads = uint64_t(pixels / 4) * weights;
  if (quads == 0) return PVL_E_NOTREADY;
  *mean = uint32_t((sum + quads / 2) / quads);
  return PVL_OK;
}

PvlResult CBayroxAEC::Apply(double exposure) {
  exposure = std::clamp(exposure, 1.0, MaxExposure());
  // Lines first, then gain in the sensor's steps; a fixed ISO fixes the gain.
  const double isoGain = double(m_isoGainCode) / kGainOne;
  uint32_t lines = uint32_t(std::clamp(m_isoGainCode ? exposure / isoGain : exposure, 1.0, double(MaxLines())) + 0.5);
  // Under mains light an exposure of whole half-periods does not band.
  const uint32_t band = AntibandingLines();
  if (band && band <= MaxLines() && lines >= band) lines = lines / band * band;
  double gain = m_isoGainCode ? isoGain : exposure / double(lines);
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
    const uint32_t target = EffectiveTarget();
    uint32_t tolerance = target * m_tolerancePercent / 100;
    bool atMaximum = exposure >= MaxExposure() - 0.5;
    if (mean + tolerance < target || mean > target + tolerance) {
      double step = mean ? double(target) / double(mean) : kMaxStep;
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
    r = m_settings->SetFlashNeeded(atMaximum && mean + tolerance < target ? 1 : 0);
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
