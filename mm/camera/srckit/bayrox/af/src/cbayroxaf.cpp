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

}  // namespace

PvlResult CBayroxAF::Construct() {
  OpenTunables();
  if (CRuntimeTuning* t = Tunables()) {
    t->Register("StepSize", &m_stepSize, TUNING_TYPE_U32, 1, 0);
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

PvlResult CBayroxAF::Step(uint32_t state, uint32_t frame, uint64_t sharpness) {
  if (state != kFocusing && state != kFocusingContinuous) {
    // Cancelled or ended elsewhere.
    m_phase = Phase::Idle;
    return PVL_OK;
  }
  if (m_phase == Phase::Idle) {
    m_phase = Phase::Scanning;
    m_position = 0;
    m_bestPosition = 0;
    m_best = 0;
    m_drops = 0;
    return Move(kTowardNear, 0, 1, frame);
  }
  // Exposed while the lens moved (a counter that went back: the VFE restarted).
  if (frame > m_movedAt && frame <= m_movedAt + m_settleFrames) return PVL_OK;
  if (m_phase == Phase::Returning) return Finish(m_best ? kFocused : kFocusFailed);

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
  if (!past && m_position + step <= m_maxSteps) {
    m_position += step;
    return Move(kTowardNear, step, 0, frame);
  }
  if (m_best == 0) return Finish(kFocusFailed);
  m_phase = Phase::Returning;
  uint32_t back = m_position - m_bestPosition;
  m_position = m_bestPosition;
  if (back == 0) return Finish(kFocused);
  return Move(kTowardFar, back, 0, frame);
}
