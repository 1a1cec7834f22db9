#include "cbayroxaf.h"

#include <algorithm>

#include "ivfestats.h"
#include "pvllog.h"

namespace {

constexpr uint32_t kMaxWindows = 16;
// Lens directions of the AF view: 0 toward near (codes up), 1 toward far.
constexpr uint32_t kTowardNear = 0;
constexpr uint32_t kTowardFar = 1;
// Focus states.
constexpr uint32_t kFocusing = 1;
constexpr uint32_t kFocusingContinuous = 2;
constexpr uint32_t kFocused = 3;
constexpr uint32_t kFocusFailed = 4;
// The exposure plug-in brings a scene 8x off its target within ten frames.
constexpr uint32_t kMaxExposureWaits = 30;

// Two readings of a lens at rest (a quarter of a per cent apart at most).
bool Same(uint64_t a, uint64_t b) {
  const uint64_t high = std::max(a, b), low = std::min(a, b);
  return (high - low) * 400 <= high;
}

}  // namespace

PvlResult CBayroxAF::Construct() {
  OpenTunables();
  if (CRuntimeTuning* t = Tunables()) {
    t->Register("StepSize", &m_stepSize, TUNING_TYPE_U32, 1, 0);
    t->Register("CoarseStep", &m_coarseStep, TUNING_TYPE_U32, 1, 0);
    t->Register("MaxSteps", &m_maxSteps, TUNING_TYPE_U32, 1, 0);
    t->Register("DropPercent", &m_dropPercent, TUNING_TYPE_U32, 1, 0);
    t->Register("DropCount", &m_dropCount, TUNING_TYPE_U32, 1, 0);
    t->Register("SettleFrames", &m_settleFrames, TUNING_TYPE_U32, 1, 0);
    PublishTunables("AF");
  }
  return PVL_OK;
}

PvlResult CBayroxAF::Initialize(IPvlBase* client) {
  if (!client) return PVL_E_NULLPTR;
  m_settings.Reset();
  return client->QueryInterface(ZUEUID_AF_SETTINGS, m_settings.Out());
}

PvlResult CBayroxAF::Configure() { return m_settings ? PVL_OK : PVL_E_NOTREADY; }

PvlResult CBayroxAF::OnStartVideo(const CameraPortFormat*) {
  if (!m_settings) return PVL_E_NOTREADY;
  m_phase = Phase::Idle;
  return PVL_OK;
}

uint32_t CBayroxAF::Travel() const { return std::min(m_maxSteps, kMaxPositions - 1); }

PvlResult CBayroxAF::Move(uint32_t direction, uint32_t steps, uint8_t reset, uint32_t frame) {
  PvlResult r = m_settings->MoveLens(direction, steps, reset);
  if (r != PVL_OK) return r;
  m_movedAt = frame;
  m_staleWaits = 0;
  m_haveCandidate = false;
  return PVL_OK;
}

PvlResult CBayroxAF::Finish(uint32_t state, uint32_t frame) {
  m_phase = Phase::Idle;
  CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "Focus run ended in state %d at step %d, %d frames after its start", int(state),
                   int(m_position), int(frame - m_startFrame));
  return m_settings->SetFocusState(state);
}

PvlResult CBayroxAF::OnStats(IPvlBase* statistics) {
  if (!statistics) return PVL_E_NULLPTR;
  if (!m_settings) return PVL_E_NOTREADY;
  CPvlPtr<IAFStats> stats;
  if (statistics->QueryInterface(ZUEUID_IFACE_AF_STATS, stats.Out()) != PVL_OK) return PVL_E_UNSUPPORTED;
  uint32_t state = 0, frame = 0;
  PvlResult r = m_settings->GetFocusState(&state);
  if (r == PVL_OK) r = stats->GetFrameId(&frame);
  if (r != PVL_OK) return r;
  uint32_t values[kMaxWindows] = {};
  int32_t count = 0;
  r = stats->GetFocusValues(values, kMaxWindows, &count);
  if (r != PVL_OK) return r;
  uint64_t sharpness = 0;
  for (int32_t i = 0; i < std::min<int32_t>(count, kMaxWindows); ++i) sharpness += values[i];
  r = Step(state, frame, sharpness);
  m_last = sharpness;
  return r;
}

PvlResult CBayroxAF::MoveTo(uint32_t position, uint32_t frame) {
  const uint32_t from = m_position;
  if (position == from) {
    m_movedAt = frame;  // no move, but the next readings must still be fresh ones
    m_haveBeforeMove = false;
    m_staleWaits = 0;
    m_haveCandidate = false;
    return PVL_OK;
  }
  m_haveBeforeMove = m_read[from];
  m_beforeMove = m_values[from];
  m_position = position;
  return position > from ? Move(kTowardNear, position - from, 0, frame) : Move(kTowardFar, from - position, 0, frame);
}

PvlResult CBayroxAF::Step(uint32_t state, uint32_t frame, uint64_t sharpness) {
  if (state != kFocusing && state != kFocusingContinuous) {
    // Cancelled or ended elsewhere.
    m_phase = Phase::Idle;
    return PVL_OK;
  }
  if (m_phase == Phase::Idle) {
    m_phase = Phase::WaitingForExposure;
    m_startFrame = frame;
    std::fill(std::begin(m_read), std::end(m_read), false);
    m_bestPosition = 0;
    m_best = 0;
    m_drops = 0;
    m_exposureWaits = 0;
    // Homing from elsewhere changes the reading: until it does, the readings
    // are of the lens where the run found it.
    uint32_t at = 0;
    m_haveBeforeMove = m_settings->GetLensPosition(&at) == PVL_OK && at != 0;
    m_beforeMove = sharpness;
    m_position = 0;
    return Move(kTowardNear, 0, 1, frame);
  }
  if (m_phase == Phase::Returning) return Finish(kFocused, frame);
  // Exposed while the lens moved (a counter that went back: the VFE restarted).
  if (frame > m_movedAt && frame <= m_movedAt + m_settleFrames) return PVL_OK;

  if (m_phase == Phase::WaitingForExposure) {
    uint8_t exposure = kBayroxExposureUnknown;
    m_settings->GetAecFlagA(&exposure);
    if (exposure == kBayroxExposureMoving && m_exposureWaits < kMaxExposureWaits) {
      ++m_exposureWaits;
      return PVL_OK;
    }
  }
  // A reading counts once the next one agrees with it (the lens was at rest
  // for both) and it is not the reading from before the move (statistics that
  // fell behind); after kMaxStaleWaits readings the latest counts.
  const bool agreed = m_haveCandidate && Same(sharpness, m_candidate) &&
                      !(m_haveBeforeMove && m_beforeMove > 0 && Same(sharpness, m_beforeMove));
  if (!agreed && m_staleWaits < kMaxStaleWaits) {
    ++m_staleWaits;
    m_candidate = sharpness;
    m_haveCandidate = true;
    return PVL_OK;
  }
  m_haveBeforeMove = false;
  m_values[m_position] = sharpness;
  m_read[m_position] = true;
  if (sharpness > m_best || m_best == 0) {
    m_best = sharpness;
    m_bestPosition = m_position;
  }

  switch (m_phase) {
    case Phase::WaitingForExposure:
      m_phase = Phase::Sweeping;
      return Sweep(frame);
    case Phase::Sweeping:
      return Sweep(frame);
    case Phase::Narrowing:
      return Narrow(frame);
    case Phase::Idle:
    case Phase::Returning:
      break;
  }
  return PVL_OK;
}

PvlResult CBayroxAF::Sweep(uint32_t frame) {
  const uint64_t sharpness = m_values[m_position];
  if (m_position == m_bestPosition)
    m_drops = 0;
  else if (sharpness * 100 < m_best * (100 - std::min<uint32_t>(m_dropPercent, 100)))
    ++m_drops;
  else
    m_drops = 0;
  const bool past = m_drops >= std::max<uint32_t>(m_dropCount, 1);
  if (!past && m_position < Travel())
    return MoveTo(std::min(m_position + std::max<uint32_t>(m_coarseStep, 1), Travel()), frame);
  if (m_best == 0) return Finish(kFocusFailed, frame);
  m_phase = Phase::Narrowing;
  return Narrow(frame);
}

PvlResult CBayroxAF::Narrow(uint32_t frame) {
  // The peak lies between the best position's nearest read neighbours.
  const uint32_t best = m_bestPosition;
  uint32_t left = best, right = best;
  for (uint32_t p = best; p-- > 0;)
    if (m_read[p]) {
      left = p;
      break;
    }
  for (uint32_t p = best + 1; p <= Travel(); ++p)
    if (m_read[p]) {
      right = p;
      break;
    }
  const uint32_t step = std::max<uint32_t>(m_stepSize, 1);
  const bool openLeft = best - left > step, openRight = right - best > step;
  if (!openLeft && !openRight) {
    if (m_position == best) return Finish(kFocused, frame);
    // The run ends with the next statistics, once the move has been made.
    m_phase = Phase::Returning;
    return MoveTo(best, frame);
  }
  const uint32_t leftProbe = best - std::max(step, (best - left) / 2);
  const uint32_t rightProbe = best + std::max(step, (right - best) / 2);
  // The side nearer the lens first: the shorter move.
  auto distance = [this](uint32_t p) { return p > m_position ? p - m_position : m_position - p; };
  if (openLeft && (!openRight || distance(leftProbe) <= distance(rightProbe))) return MoveTo(leftProbe, frame);
  return MoveTo(rightProbe, frame);
}
