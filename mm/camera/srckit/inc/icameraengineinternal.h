// ICameraEngineInternal: the engine's own operations, each one piece of work on
// the services. The engine states call them from inside state-machine events
// (so under the machine's lock) and the front end asks for the lists; none of
// them checks the engine state, which the machine's order of events guarantees.
// Clients never see this face: they get ICameraEngine from the front end.
#pragma once

#include <stdint.h>

#include "cameraportformat.h"
#include "icameraflashservice.h"  // CameraFlashDevice
#include "icamerasensorservice.h"  // CameraSensorDescriptor
#include "pvlbase.h"

class ICameraPort;
class ICameraSettingsListener;
class ICameraStateMachine;
class IPvlMediaBuffer;
class CEngineStateMachine;

#define ZUEUID_IFACE_CAMERAENGINE_INTERNAL 0x01061d0cu

class ICameraEngineInternal : public IPvlBase {
 public:
  virtual PvlResult Initialize() = 0;                                                          // 3
  virtual PvlResult Uninitialize() = 0;                                                        // 4
  virtual PvlResult StartSensor() = 0;                                                         // 5
  virtual PvlResult StopSensor() = 0;                                                          // 6
  virtual PvlResult OnStartVideo() = 0;                                                        // 7
  virtual PvlResult OnStopVideo() = 0;                                                         // 8
  virtual PvlResult OnStartSnapshot() = 0;                                                     // 9
  virtual PvlResult OnStopSnapshot() = 0;                                                      // 10
  virtual PvlResult OnReserved() = 0;                                                          // 11 (answers 20)
  virtual PvlResult SetSnapshotCount(uint32_t count) = 0;                                      // 12
  virtual PvlResult SetCameraId(uint32_t cameraId) = 0;                                        // 13
  virtual PvlResult OnApplyPropertyYuv(uint32_t propertyId) = 0;                               // 14
  virtual PvlResult OnApplyProperty(uint32_t propertyId) = 0;                                  // 15
  virtual PvlResult OnStartFocus(uint8_t continuous, ICameraSettingsListener* listener) = 0;   // 16
  virtual PvlResult OnStopFocus() = 0;                                                         // 17
  virtual PvlResult GetPorts(ICameraPort** ports, uint32_t capacity, uint32_t* count) = 0;     // 18
  virtual PvlResult OnFrameAvailable(uint32_t outputId, IPvlMediaBuffer* buffer) = 0;          // 19
  virtual PvlResult OnSnapshotFrameAvailable(uint32_t outputId, IPvlMediaBuffer* buffer) = 0;  // 20
  virtual PvlResult OnVideoStatsAvailable(uint32_t kind, IPvlBase* statistics) = 0;            // 21
  virtual PvlResult OnSnapshotStatsAvailable(uint32_t kind, IPvlBase* statistics) = 0;         // 22
  virtual PvlResult GetEnabledPortFormats(CameraPortFormat* formats, uint32_t capacity, uint32_t* count) = 0;  // 23
  virtual PvlResult GetCurrentPortFormats(CameraPortFormat* formats, uint32_t capacity, uint32_t* count) = 0;  // 24
  virtual PvlResult Suspend() = 0;                                                             // 25
  virtual PvlResult Resume() = 0;                                                              // 26
  virtual PvlResult ApplyRuntimeTuning() = 0;                                                  // 27
  virtual PvlResult StartPreSnapshotFlash(ICameraSettingsListener* listener) = 0;              // 28
  virtual PvlResult StopPreSnapshotFlash() = 0;                                                // 29
  virtual ~ICameraEngineInternal() = default;                                                  // 30 (deleting destructor)
  virtual PvlResult GetCameras(CameraSensorDescriptor* cameras, uint32_t capacity, uint32_t* count) = 0;  // 31
  virtual PvlResult GetFlashDevices(CameraFlashDevice* devices, uint32_t capacity, uint32_t* count) = 0;  // 32
  // 13 without a machine; otherwise the machine, counted.
  virtual PvlResult GetStateMachine(CEngineStateMachine** machine) = 0;                        // 33
};
