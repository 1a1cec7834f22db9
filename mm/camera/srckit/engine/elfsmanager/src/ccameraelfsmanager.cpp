#include "ccameraelfsmanager.h"

#include "hostsymbols.h"
#include "ienv.h"
#include "pvllog.h"

namespace {

// 0 and 20 let the pass go on.
bool EndsThePass(PvlResult r) { return r != PVL_OK && r != PVL_E_UNSUPPORTED; }

constexpr uint32_t kAveragedPasses = 100;

}  // namespace

CCameraELFSManager::CCameraELFSManager() {
  CPvlPtr<IEnv> env;
  if (env_env_CreateInstance(ZUEUID_CLASS_ENV, env.Out()) == PVL_OK) {
    if (env->CreateInstance(ZUEUID_CLASS_CLOCK, m_clock.Out()) != PVL_OK) m_clock.Reset();
  }
}

CCameraELFSManager::~CCameraELFSManager() {
  m_clock.Reset();
  m_others.clear();
  m_af.plugin.Reset();
  m_awb.plugin.Reset();
  m_aec.plugin.Reset();
}

void CCameraELFSManager::AddELFS(IELFS* plugin) {
  if (plugin) m_others.emplace_back(plugin);
}

uint32_t CCameraELFSManager::Now() {
  uint32_t ms = 0;
  if (m_clock) m_clock->GetTime(&ms);
  return ms;
}

template <class Call>
PvlResult CCameraELFSManager::CallRoles(Call call, bool consultEnable) {
  for (Slot* slot : {&m_aec, &m_awb, &m_af}) {
    if (!slot->plugin || (consultEnable && !slot->enabled)) continue;
    PvlResult r = call(slot->plugin.Get());
    if (EndsThePass(r)) return r;
  }
  return PVL_OK;
}

template <class Call>
PvlResult CCameraELFSManager::CallOthers(Call call) {
  for (const CPvlPtr<IELFS>& plugin : m_others) {
    PvlResult r = call(plugin.Get());
    if (EndsThePass(r)) return r;
  }
  return PVL_OK;
}

template <class Call>
PvlResult CCameraELFSManager::FanOut(Call call) {
  PvlResult r = CallRoles(call, true);
  return r != PVL_OK ? r : CallOthers(call);
}

PvlResult CCameraELFSManager::Configure() {
  auto call = [](IELFS* p) { return p->Configure(); };
  PvlResult r = CallRoles(call, false);
  return r != PVL_OK ? r : CallOthers(call);
}

PvlResult CCameraELFSManager::ConfigureAEC() {
  return m_aec.plugin ? m_aec.plugin->Configure() : PvlResult(PVL_E_UNSUPPORTED);
}

// A focus-mode change reaches here also when the configuration names no focus
// plug-in: answer as ConfigureAEC does, never call through the empty slot.
PvlResult CCameraELFSManager::ConfigureAF() {
  return m_af.plugin ? m_af.plugin->Configure() : PvlResult(PVL_E_UNSUPPORTED);
}

PvlResult CCameraELFSManager::OnStartVideo(const CameraPortFormat* preview) {
  auto call = [preview](IELFS* p) { return p->OnStartVideo(preview); };
  uint32_t marks[5];
  marks[0] = Now();
  Slot* slots[] = {&m_aec, &m_awb, &m_af};
  for (int i = 0; i < 3; ++i) {
    Slot* slot = slots[i];
    if (slot->plugin && slot->enabled) {
      PvlResult r = call(slot->plugin.Get());
      if (EndsThePass(r)) return r;
    }
    marks[i + 1] = Now();
  }
  PvlResult r = CallOthers(call);
  if (r != PVL_OK) return r;
  marks[4] = Now();
  CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL,
                   "FRAME TIMING - AEC Time: %d, AWB Time: %d Af Time: %d Other ELFS Time %d Total Time %d",
                   int32_t(marks[1] - marks[0]), int32_t(marks[2] - marks[1]), int32_t(marks[3] - marks[2]),
                   int32_t(marks[4] - marks[3]), int32_t(marks[4] - marks[0]));
  return PVL_OK;
}

PvlResult CCameraELFSManager::OnFrame(IPvlMediaBuffer* frame) {
  return FanOut([frame](IELFS* p) { return p->OnFrame(frame); });
}

template <class Call>
PvlResult CCameraELFSManager::TimedStats(TimedRole role, Call call) {
  const uint32_t start = Now();
  PvlResult r = call();
  if (EndsThePass(r)) return r;
  Timing& t = m_timing[role];
  ++t.count;
  t.sumMs += Now() - start;
  if (t.count >= kAveragedPasses) {
    const uint32_t average = t.sumMs / t.count;
    switch (role) {
      case kTimeAEC:
        CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Average AEC Time: %d", int32_t(average));
        break;
      case kTimeAF:
        CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Average AF Time: %d", int32_t(average));
        break;
      case kTimeAWB:
        CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Average AWB Time: %d", int32_t(average));
        break;
      case kTimeOthers:
        CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Average Other ELFS Time: %d", int32_t(average));
        break;
    }
    t = Timing();
  }
  return PVL_OK;
}

namespace {

PvlResult StatsOf(const CPvlPtr<IELFS>& plugin, uint8_t enabled, IPvlBase* statistics) {
  if (!plugin || !enabled) return PVL_OK;
  return plugin->OnStats(statistics);
}

}  // namespace

PvlResult CCameraELFSManager::OnStatsAEC(IPvlBase* statistics) {
  return TimedStats(kTimeAEC, [&] { return StatsOf(m_aec.plugin, m_aec.enabled, statistics); });
}

PvlResult CCameraELFSManager::OnStatsAF(IPvlBase* statistics) {
  return TimedStats(kTimeAF, [&] { return StatsOf(m_af.plugin, m_af.enabled, statistics); });
}

PvlResult CCameraELFSManager::OnStatsAWB(IPvlBase* statistics) {
  return TimedStats(kTimeAWB, [&] { return StatsOf(m_awb.plugin, m_awb.enabled, statistics); });
}

PvlResult CCameraELFSManager::OnStatsOthers(IPvlBase* statistics) {
  return TimedStats(kTimeOthers, [&] { return CallOthers([statistics](IELFS* p) { return p->OnStats(statistics); }); });
}

PvlResult CCameraELFSManager::OnSnapshotStats(IPvlBase* statistics) {
  if (!m_aec.plugin || !m_aec.enabled) return PVL_OK;
  PvlResult r = m_aec.plugin->OnSnapshotStats(statistics);
  return r == PVL_E_UNSUPPORTED ? PvlResult(PVL_OK) : r;
}

PvlResult CCameraELFSManager::OnStartSnapshot(const CameraPortFormat* main, const CameraPortFormat* thumbnail) {
  return FanOut([=](IELFS* p) { return p->OnStartSnapshot(main, thumbnail); });
}

PvlResult CCameraELFSManager::OnSnapshotMainFrame(IPvlMediaBuffer* frame, uint8_t* deliver) {
  return FanOut([=](IELFS* p) { return p->OnSnapshotMainFrame(frame, deliver); });
}

PvlResult CCameraELFSManager::OnSnapshotSecondFrame(IPvlMediaBuffer* frame, uint8_t* deliver) {
  return FanOut([=](IELFS* p) { return p->OnSnapshotSecondFrame(frame, deliver); });
}

PvlResult CCameraELFSManager::OnStopSnapshot() {
  return FanOut([](IELFS* p) { return p->OnStopSnapshot(); });
}

PvlResult CCameraELFSManager::OnStopVideo() {
  return CallOthers([](IELFS* p) { return p->OnStopVideo(); });
}
