// CEngineStateMachine: every engine operation, whether a client asked for it
// through the front end or a service raised it through the event sink, runs as
// one event of this machine. The machine serialises the events with one
// re-entrant lock, hands each to the current state, and carries out, times and
// logs the transitions the states ask for. Frames are the exception: they come
// on the VFE service's receive thread for every frame and must never wait for a
// client event, so FrameAvailable goes to the current state without the lock.
//
// Locks, in the order they are taken (a thread holding one may take only those
// below it; nothing is taken upwards):
//   1. The machine's lock (CEngineLock, re-entrant). Client events hold it for
//      the whole event: the state's handler, Transition, Leave and Enter and
//      every engine and service call they make. The receive thread takes it for
//      a delivery (a frame's engine pass, statistics, the end of a still)
//      through LockForDelivery only, which gives up instead of waiting once the
//      current state no longer takes deliveries.
//   2. Under it, each held briefly and never while calling into the engine:
//      - the engine's frame guard (CCameraEngine::m_frameGuard): the frame
//        path's copies of the port manager, plug-in list and preview output;
//        Initialize and Uninitialize swap them under it;
//      - the engine's pending-configuration guard;
//      - each port's own lock (queue, started flag, mode); frames leaving the
//        queue are released after it is given up, so a pool's lock is never
//        taken under it;
//      - the VFE service's locks, when an event calls into the service (the
//        service takes its outputs' and pools' locks below its own).
//   The lock's own gate (a mutex inside CEngineLock) is held only inside its
//   calls. The receive thread enters the engine holding none of these: the
//   VFE service gives up its output's and its own lock before raising an event.
//
// Why deliveries may give up: the event holding the machine's lock may be
// stopping the stream or the capture (Leave of Video or Snapshot, Video's
// Suspend) and wait in the VFE service for the receive thread. So:
//   - Video and Snapshot keep their own flag (m_streaming, m_capturing):
//     raised before the stream or capture starts in Enter (frames may arrive
//     before Enter returns and then wait for the lock), lowered first thing in
//     Leave and Suspend, raised again if the stop fails;
//   - TakesDeliveries reports that flag; a delivery waits for the lock only
//     while the current state's answer is true, and lowering it is followed by
//     DeliveriesChanged, which wakes the waiters so that they re-check and go;
//   - Transition publishes the new state before its Enter (and the old one
//     again if Enter fails) and wakes the waiters each time; the identifier
//     changes only when Enter succeeded;
//   - a delivery that did get the lock checks the identifier again: a frame
//     that waited out a stop belongs to no stream.
//
// The answers to a frame (FrameAvailable, on the receive thread):
//   0   the engine took it: queued on its port with the port's own reference
//       (the client's Release after GetNextFrame, or the port's Stop or mode 0,
//       gives it back), or kept back on purpose (a still beyond the count asked
//       for, or one a plug-in withholds), which then returns to its pool.
//   13  dropped: no state that takes frames (any but Video and the two
//       Snapshot states, logged as an invalid event), a stop began before the
//       frame came or while it waited for the lock, the state changed
//       meanwhile, or the engine has no ports (between Uninitialize and the
//       next Initialize).
//   other  a plug-in's frame pass or the port refused it (39: no port on that
//       output); a still whose frame no port takes raises Stop.
// Whatever the answer, nothing in the engine holds a dropped frame: the VFE
// output's reference, released when the event returns, sends the buffer back
// to its pool, from which the output re-arms. The engine never releases a
// frame it did not queue.
// Statistics and the end of a still answer 13 when dropped the same way
// ("Event ... dropped" in the log): the statistics stay the VFE's (its stats
// output drops its reference to the buffer after the event and acknowledges
// it), and a still's end is not needed, since the stop under way ends the
// capture.
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
#include "cpvlobject.h"
#include "icamerastatemachine.h"
#include "iclock.h"
#include "ilock.h"

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
  // The same for a thread that holds the machine's lock already (a delivery
  // that got it): no second pass through the lock.
  int32_t CurrentStateIdHeld() const { return m_currentId.load(); }
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
