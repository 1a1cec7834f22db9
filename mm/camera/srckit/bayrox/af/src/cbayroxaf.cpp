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

}  // namespace

PvlResult CBayroxAF::Construct() {
  OpenTunables();
  if (CRuntimeTuning* t = Tunables()) {
    t->Register("StepSize", &m_stepSize, TUNING_TYPE_U32, 1, 0);
    t->Register("MaxSteps", &m_maxSteps, TUNING_TYPE_U32, 1, 0);
    t->Register("DropPercent", &m_dropPercent, TUNING_TYPE_U32, 1, 0);
    t->Register("DropCount", &m_dropCount, TUNING_TYPE_U32, 1, 0);
    t->Register("SettleFrames", &m_settleFrames, TUNING_TYPE_U32, 1, 0);
    t->Register("VerifyFrames", &m_verifyFrames, TUNING_TYPE_U32, 1, 0);
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

PvlResult CBayroxAF::Move(uint32_t direction, uint32_t steps, uint8_t reset, uint32_t frame) {
  PvlResult r = m_settings->MoveLens(direction, steps, reset);
  if (r != PVL_OK) return r;
  m_movedAt = frame;
  return PVL_OK;
}

PvlResult CBayroxAF::Finish(uint32_t state) {
  m_phase = Phase::Idle;
  CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "Focus run ended in state %d at step %d", int(state), int(m_position));
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
  return Step(state, frame, sharpness);
}

PvlResult CBayroxAF::MoveTo(uint32_t position, uint32_t frame) {
  uint32_t from = m_position;
  m_position = position;
  if (position == from) {
    m_movedAt = frame;  // no move, but the next reading must still be a fresh one
    return PVL_OK;
  }
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
    m_position = 0;
    m_bestPosition = 0;
    m_best = 0;
    m_drops = 0;
    m_exposureWaits = 0;
    m_homing = true;  // the longest move: given the verification's time to settle
    return Move(kTowardNear, 0, 1, frame);
  }
  // Exposed while the lens moved (a counter that went back: the VFE restarted).
  uint32_t settle = m_phase == Phase::Verifying || m_homing ? std::max(m_verifyFrames, m_settleFrames) : m_settleFrames;
  if (frame > m_movedAt && frame <= m_movedAt + settle) return PVL_OK;
  m_homing = false;

  switch (m_phase) {
    case Phase::WaitingForExposure: {
      uint8_t exposure = kBayroxExposureUnknown;
      m_settings->GetAecFlagA(&exposure);
      if (exposure == kBayroxExposureMoving && m_exposureWaits < kMaxExposureWaits) {
        ++m_exposureWaits;
        return PVL_OK;
      }
      m_phase = Phase::Scanning;
      return Scan(frame, sharpness);
    }
    case Phase::Scanning:
      return Scan(frame, sharpness);
    case Phase::Verifying: {
      m_verifyValues[m_verifyIndex] = sharpness;
      if (++m_verifyIndex < m_verifyCount) return MoveTo(m_verifyPositions[m_verifyIndex], frame);
      uint32_t chosen = 0;
      for (uint32_t i = 1; i < m_verifyCount; ++i)
        if (m_verifyValues[i] > m_verifyValues[chosen]) chosen = i;
      m_phase = Phase::Returning;
      if (m_verifyPositions[chosen] == m_position) return Finish(kFocused);
      return MoveTo(m_verifyPositions[chosen], frame);
    }
    case Phase::Returning:
      return Finish(kFocused);
    case Phase::Idle:
      break;
  }
  return PVL_OK;
}

PvlResult CBayroxAF::Scan(uint32_t frame, uint64_t sharpness) {
  if (sharpness > m_best) {
    m_best = sharpness;
    m_bestPosition = m_position;
    m_drops = 0;
  } else if (sharpness * 100 < m_best * (100 - std::min<uint32_t>(m_dropPercent, 100))) {
    ++m_drops;
  } else {
    m_drops = 0;
  }
  uint32_t step = std::max<uint32_t>(m_stepSize, 1);
  bool past = m_drops >= std::max<uint32_t>(m_dropCount, 1);
  if (!past && m_position + step <= m_maxSteps) return MoveTo(m_position + step, frame);
  if (m_best == 0) return Finish(kFocusFailed);
  // The climb read each position soon after the move; late statistics make
  // its best reading belong to a position up to two moves earlier. Read the
  // best one, its near neighbour and the two before it again with time to
  // settle, from the near side back toward far.
  m_phase = Phase::Verifying;
  m_verifyCount = 0;
  uint32_t first = std::min(m_bestPosition + step, m_position);
  for (int32_t p = int32_t(first); p >= 0 && m_verifyCount < kVerifyPositions && p + 3 * int32_t(step) >= int32_t(first);
       p -= int32_t(step))
    m_verifyPositions[m_verifyCount++] = uint32_t(p);
  m_verifyIndex = 0;
  return MoveTo(m_verifyPositions[0], frame);
}
