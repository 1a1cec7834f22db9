// CEngineState: the common base of the engine's eight states. The engine's
// behaviour differs by state (a still may start from Ready or from Video, but
// not from Uninit), so each state is a class that overrides exactly the events
// it accepts; every other event lands here, is logged as invalid and refused
// with 13, and nothing changes.
#pragma once

#include <stdint.h>

#include "cpvlptr.h"
#include "ilock.h"

class CEngineStateMachine;
class ICameraEngineInternal;
class ICameraPort;
class ICameraSettingsListener;
class IPvlMediaBuffer;
struct CameraPortFormat;

// State identifiers, in the order the machine keeps its states.
enum EngineStateId : int32_t {
  ENGINE_STATE_UNINIT = 0,
  ENGINE_STATE_READY = 1,
  ENGINE_STATE_VIDEO = 2,
  ENGINE_STATE_SNAPSHOT = 3,
  ENGINE_STATE_OFFLINE_PROCESS = 4,
  ENGINE_STATE_SNAPSHOT_VIDEO_PAUSED = 5,
  ENGINE_STATE_OFFLINE_PROCESS_VIDEO_PAUSED = 6,
  ENGINE_STATE_INVALID = 7,
};
constexpr int32_t kEngineStateCount = 8;

class CEngineState {
 public:
  CEngineState() = default;
  CEngineState(const CEngineState&) = delete;
  CEngineState& operator=(const CEngineState&) = delete;

  // The events, in table order. The base answers 13 with an error line.
  virtual PvlResult Constructed();
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
  virtual PvlResult FrameAvailable(uint32_t outputId, IPvlMediaBuffer* buffer);
  virtual PvlResult StatsAvailable(uint32_t kind, IPvlBase* statistics);
  virtual PvlResult GetEnabledPortFormats(CameraPortFormat* formats, uint32_t capacity, uint32_t* count);
  virtual PvlResult ApplyRuntimeTuningChanges();
  virtual PvlResult Suspend();
  virtual PvlResult Resume();
  virtual PvlResult FatalError();
  virtual PvlResult StartPreSnapshotFlash(ICameraSettingsListener* listener);
  virtual PvlResult StopPreSnapshotFlash();
  virtual ~CEngineState();

  // Binds the state to its machine and takes (a counted hold on) the machine's
  // lock; null unbinds and gives the lock back.
  virtual void SetContext(CEngineStateMachine* machine);
  // The machine's transition hooks; a non-zero result refuses the transition.
  virtual PvlResult Enter(uint32_t reason) = 0;
  virtual PvlResult Leave(uint32_t reason) = 0;
  virtual const char* GetName() = 0;
  // Whether a delivery from the receive thread (a frame's engine pass,
  // statistics, the end of a still) may still wait for the machine's lock to
  // reach this state. A state that stops taking them says so to the machine
  // (DeliveriesChanged) so that waiting deliveries give up.
  virtual bool TakesDeliveries() const { return true; }

 protected:
  CEngineStateMachine* Machine() const { return m_machine; }
  // The machine's engine; null when the state is unbound or the machine has none.
  ICameraEngineInternal* Engine() const;
  ILock* Lock() const { return m_lock.Get(); }

  // A client's still or stream start, as the idle and the streaming state both
  // take it. While the camera is suspended the sensor is off and the engine
  // powered down: leaving the state now would lose the suspension (Resume looks
  // for it where it was set), so Resume comes first. A still of no image would
  // let no frame through and never complete.
  PvlResult StartSnapshotInto(int32_t next, uint32_t snapshotCount, bool suspended);
  PvlResult StartVideoFor(uint32_t reason, bool suspended);
  // The refusal of an event while suspended, with its error line.
  static PvlResult RefuseWhileSuspended(const char* event);

 private:
  CEngineStateMachine* m_machine = nullptr;
  CPvlPtr<ILock> m_lock;
};
