// CEngineLock: the engine state machine's lock. Every engine event runs under
// it; it is re-entrant, like the host's lock it keeps underneath. What it adds
// is a wait that can be given up: the VFE service's receive thread delivers
// statistics, the end of a still and frames into the machine, and the client
// event that holds the lock at that moment may be stopping the stream and go
// on to close the service, which waits for that very thread. A delivery waits
// for the lock only while its state still takes deliveries; once a stop began
// the holder wakes it and it gives up instead of waiting forever.
#pragma once

#include <stdint.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "cpvlobject.h"
#include "ilock.h"

class CEngineLock final : public CPvlObject, public ILock {
 public:
  // Answers true when waiting for the lock has become pointless.
  using GiveUp = bool (*)(void* context);

  // A free lock counted once in *out; the host lock's creation result.
  static PvlResult Create(IEnv* env, CEngineLock** out);

  PVL_FORWARD_IPVLBASE_TO(CPvlObject)
  PvlResult QueryInterface(ZUEUID iid, void** out) override;

  // ILock
  PvlResult Lock() override;
  PvlResult Unlock() override;

  // Takes the lock like Lock, but while another thread holds it gives up as
  // soon as giveUp(context) answers true (checked at once and on every Wake
  // and release). True when the lock was taken.
  bool LockUnless(GiveUp giveUp, void* context);
  // Tells the waiters of LockUnless that their condition may have changed.
  void Wake();

 private:
  explicit CEngineLock(IEnv* env) : CPvlObject(env) {}
  ~CEngineLock() override = default;
  void TakeLocked(std::unique_lock<std::mutex>& gate);

  std::mutex m_gate;
  std::condition_variable m_changed;
  std::thread::id m_owner;
  uint32_t m_depth = 0;
  CPvlPtr<ILock> m_host;
};
