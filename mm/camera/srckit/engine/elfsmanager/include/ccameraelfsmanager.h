// CCameraELFSManager: the engine's plug-ins (exposure, white balance, focus,
// flash and others) and the one order they are called in. Exposure runs before
// white balance and focus because both read what it decided for the frame; the
// further plug-ins (the flash among them) come last, in the order they were
// added. A plug-in answers 0 (done) or 20 (not handled) and the pass goes on;
// any other answer ends the pass and is the result. The manager also times the
// statistics passes, so that a plug-in that eats the frame budget shows in the
// log.
//
// No lock: the manager runs on the thread of the engine event that calls it.
#pragma once

#include <stdint.h>

#include <vector>

#include "cpvlptr.h"
#include "iclock.h"
#include "ielfs.h"

class CCameraELFSManager {
 public:
  // Makes its own clock; without one it works untimed.
  CCameraELFSManager();
  ~CCameraELFSManager();
  CCameraELFSManager(const CCameraELFSManager&) = delete;
  CCameraELFSManager& operator=(const CCameraELFSManager&) = delete;

  void SetAEC(IELFS* plugin) { m_aec.plugin = plugin; }
  void SetAWB(IELFS* plugin) { m_awb.plugin = plugin; }
  void SetAF(IELFS* plugin) { m_af.plugin = plugin; }
  void AddELFS(IELFS* plugin);

  // Every plug-in (the enable flags not consulted).
  PvlResult Configure();
  // The one role's plug-in; 20 when there is none.
  PvlResult ConfigureAEC();
  PvlResult ConfigureAF();

  PvlResult OnStartVideo(const CameraPortFormat* preview);  // timed, one line per pass
  PvlResult OnFrame(IPvlMediaBuffer* frame);
  // Statistics by role; the averages are logged every 100 passes.
  PvlResult OnStatsAEC(IPvlBase* statistics);
  PvlResult OnStatsAF(IPvlBase* statistics);
  PvlResult OnStatsAWB(IPvlBase* statistics);
  PvlResult OnStatsOthers(IPvlBase* statistics);
  // The exposure plug-in alone; 0 without one, and its 20 is 0.
  PvlResult OnSnapshotStats(IPvlBase* statistics);
  PvlResult OnStartSnapshot(const CameraPortFormat* main, const CameraPortFormat* thumbnail);
  PvlResult OnSnapshotMainFrame(IPvlMediaBuffer* frame, uint8_t* deliver);
  PvlResult OnSnapshotSecondFrame(IPvlMediaBuffer* frame, uint8_t* deliver);
  PvlResult OnStopSnapshot();
  // The further plug-ins only: the role plug-ins keep their state across streams.
  PvlResult OnStopVideo();

 private:
  struct Slot {
    CPvlPtr<IELFS> plugin;
    uint8_t enabled = 1;
  };
  struct Timing {
    uint32_t count = 0;
    uint32_t sumMs = 0;
  };
  enum TimedRole { kTimeAEC, kTimeAF, kTimeAWB, kTimeOthers };

  template <class Call>
  PvlResult CallRoles(Call call, bool consultEnable);
  template <class Call>
  PvlResult CallOthers(Call call);
  template <class Call>
  PvlResult FanOut(Call call);
  template <class Call>
  PvlResult TimedStats(TimedRole role, Call call);
  uint32_t Now();

  Slot m_aec;
  Slot m_awb;
  Slot m_af;
  std::vector<CPvlPtr<IELFS>> m_others;
  CPvlPtr<IClock> m_clock;
  Timing m_timing[4];
};
