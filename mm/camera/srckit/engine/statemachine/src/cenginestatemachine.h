// CEngineStateMachine: every engine operation, whether a client asked for it
// through the front end or a service raised it through the event sink, runs as
// one event of this machine. The machine serialises the events with one
// re-entrant lock, hands each to the current state, and carries out, times and
// logs the transitions the states ask for. Frames are the exception: they come
// on the VFE service's receive thread for every frame and must never wait for a
// client event, so FrameAvailable goes to the current state without the lock.
//
// Lock discipline: the machine's lock is held for the whole of every event but
// FrameAvailable, including the state's Transition and every engine call it
// makes; the current state is published atomically so that the unlocked frame
// path always sees one whole state. What the receive thread delivers (frames'
// engine pass, statistics, the end of a still) waits for the lock only while
// the state still takes deliveries (CEngineLock): the event holding the lock
// may be stopping the stream on its way to closing the VFE service, which
// waits for the receive thread.
#pragma once

#include <stdint.h>

#include <atomic>

#include "cenginelock.h"
#include "cenginestate.h"
#include "cenginestateinvalid.h"
#include "cenginestateofflineprocess.h"
#include "cenginestateofflineprocessvideopaused.h"
#include "cenginestateready.h"
#include "cenginestatesnapshot.h"
#include "cenginestatesnapshotvideopaused.h"
#include "cenginestateuninit.h"
#include "cenginestatevideo.h"
#include "icamerastatemachine.h"
#include "iclock.h"
#include "ilock.h"
#include "pvlobject.h"

class ICameraEngineInternal;

class CEngineStateMachine final : public CPvlObject, public ICameraStateMachine {
 public:
  // A machine in Invalid, not started, counted once in *out, running the
  // engine's own states. 2 out of memory; the lock's or the clock's creation
  // result.
  static PvlResult Create(IEnv* env, ICameraEngineInternal* engine, CEngineStateMachine** out);
  // The same with other states for identifiers 0 to 6 (they outlive the
  // machine; a null entry, or a null table, stands for Invalid): the machine's
  // own tests run it over state doubles.
  static PvlResult Create(IEnv* env, ICameraEngineInternal* engine, CEngineState* const* states,
                          CEngineStateMachine** out);

  PVL_FORWARD_IPVLBASE_TO(CPvlObject)
  PvlResult QueryInterface(ZUEUID iid, void** out) override { return CPvlObject::QueryInterface(iid, out); }

  // Leaves the current state and enters state `id` (see the .cpp for the
  // order, the rollback and the fatal-error rule).
  virtual PvlResult Transition(int32_t id, uint32_t reason);
  virtual int32_t GetCurrentStateId();
  // The machine's lock with one reference; the holder must be empty.
  virtual void GetLock(ILock** lock);
  // Uncounted: the engine owns the machine.
  virtual ICameraEngineInternal* GetEngine() { return m_engine; }
  // Invalid to Uninit, once; 13 afterwards.
  virtual PvlResult Start();

  // The events: each goes to the current state's handler of the same name.
  virtual PvlResult Initialize(uint32_t cameraId);
  virtual PvlResult Uninitialize();
  virtual PvlResult GetPorts(ICameraPort** ports, uint32_t capacity, uint32_t* count);
  virtual PvlResult StartSnapshot(uint32_t snapshotCount);
  virtual PvlResult StartVideo();
  virtual PvlResult Stop();
  virtual PvlResult CaptureComplete();
  virtual PvlResult RawCaptureComplete();
  virtual PvlResult ApplyProperty(uint32_t propertyId);
  virtual PvlResult StartFocus(uint8_t continuous, ICameraSettingsListener* listener);
  virtual PvlResult StopFocus();
  virtual PvlResult FrameAvailable(uint32_t outputId, IPvlMediaBuffer* buffer);  // without the lock
  virtual PvlResult StatsAvailable(uint32_t kind, IPvlBase* statistics);
  virtual PvlResult GetEnabledPortFormats(CameraPortFormat* formats, uint32_t capacity, uint32_t* count);
  virtual PvlResult Suspend();
  virtual PvlResult Resume();
  virtual PvlResult ApplyRuntimeTuningChanges();
  virtual PvlResult FatalError();
  virtual PvlResult StartPreSnapshotFlash(ICameraSettingsListener* listener);
  virtual PvlResult StopPreSnapshotFlash();

  // ICameraStateMachine: the port manager's way to stop a still it cannot route.
  PvlResult RaiseStop() override { return Stop(); }

  // The receive thread's side of the lock: taken unless the current state no
  // longer takes deliveries while another thread holds it (true when taken;
  // give it back with the lock's Unlock). DeliveriesChanged wakes such waiters
  // after a state stopped taking deliveries.
  bool LockForDelivery();
  // The same, giving up also as soon as also(context) answers true (a waker
  // calls DeliveriesChanged after changing what it answers).
  bool LockForDeliveryUnless(CEngineLock::GiveUp also, void* context);
  void Unlock() { m_lock->Unlock(); }
  void DeliveriesChanged();

  // The name a state reports, by identifier (other identifiers: Invalid's).
  const char* GetStateName(int32_t id) { return StateFor(id)->GetName(); }

 private:
  static PvlResult Create(IEnv* env, ICameraEngineInternal* engine, CEngineState* const* states,
                          CEngineStateMachine** out, bool ownStates);
  CEngineStateMachine(IEnv* env, ICameraEngineInternal* engine, CEngineState* const* states, bool ownStates);
  ~CEngineStateMachine() override;
  PvlResult Construct();
  CEngineState* StateFor(int32_t id) const;
  uint32_t Now();
  static bool DeliveryRefused(void* self);

  ICameraEngineInternal* m_engine;
  std::atomic<int32_t> m_currentId{ENGINE_STATE_INVALID};
  std::atomic<CEngineState*> m_current{nullptr};
  CPvlPtr<CEngineLock> m_lock;
  uint8_t m_started = 0;
  uint8_t m_fatalErrorRaised = 0;
  CPvlPtr<IClock> m_clock;
  // The eight states, by value, in identifier order.
  CEngineStateUninit m_uninit;
  CEngineStateReady m_ready;
  CEngineStateVideo m_video;
  CEngineStateSnapshot m_snapshot;
  CEngineStateOfflineProcess m_offline;
  CEngineStateSnapshotVideoPaused m_snapshotVideoPaused;
  CEngineStateOfflineProcessVideoPaused m_offlineVideoPaused;
  CEngineStateInvalid m_invalid;
  // The states events go to: the embedded ones, or a test's.
  CEngineState* m_states[kEngineStateCount] = {};
};

// Holds the machine's lock for one delivery from the receive thread, or
// nothing when the delivery gave up (see LockForDelivery).
class CEngineDeliveryGuard {
 public:
  explicit CEngineDeliveryGuard(CEngineStateMachine* machine)
      : m_machine(machine), m_held(machine && machine->LockForDelivery()) {}
  ~CEngineDeliveryGuard() {
    if (m_held) m_machine->Unlock();
  }
  bool Held() const { return m_held; }
  CEngineDeliveryGuard(const CEngineDeliveryGuard&) = delete;
  CEngineDeliveryGuard& operator=(const CEngineDeliveryGuard&) = delete;

 private:
  CEngineStateMachine* m_machine;
  bool m_held;
};
