// ICameraEngine: the camera engine's control face as its client (the driver) sees
// it. Every operation but the two lists is one event of the engine's state machine;
// the engine is one per process, created by class through the host's environment.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "icameraflashservice.h"  // CameraFlashDevice, the flash list's record
#include "icamerasensorservice.h"
#include "pvlbase.h"

class ICameraPort;

// The engine class (both the release and the debug class answer under this one).
#define ZUEUID_CLASS_CAMERAENGINE 0x01061a6fu
// The debug engine's class: the engine over the services' simulators.
#define ZUEUID_CLASS_CAMERA_ENGINE_DEBUG 0x01046412u
// The control face, and its second identifier (the driver's suspend/resume face).
#define ZUEUID_IFACE_CAMERAENGINE 0x01046237u
#define ZUEUID_IFACE_CAMERAENGINE_CONTROL 0x0108a2bau

class ICameraEngine : public IPvlBase {
 public:
  // The detected sensors: *count receives how many, up to capacity records copied.
  virtual PvlResult GetCameras(CameraSensorDescriptor* cameras, uint32_t capacity, uint32_t* count) = 0;  // 3
  virtual PvlResult GetFlashDevices(CameraFlashDevice* devices, uint32_t capacity, uint32_t* count) = 0;   // 4
  // Initialises the engine for the sensor of this driver class.
  virtual PvlResult Initialize(uint32_t sensorClass) = 0;                                                 // 5
  virtual PvlResult Uninitialize() = 0;                                                                   // 6
  // The output ports (video ports first, then main image, then thumbnail), one
  // reference each; 14 for a null count or a null array with a capacity.
  virtual PvlResult GetPorts(ICameraPort** ports, uint32_t capacity, uint32_t* count) = 0;                // 7
  // Starts a focus run; the signal control (an ISignalControl*) is fired when it ends.
  virtual PvlResult StartFocus(uint8_t mode, uintptr_t signalControl) = 0;                                // 8
  virtual PvlResult StopFocus() = 0;                                                                      // 9
  virtual PvlResult StartVideo() = 0;                                                                     // 10
  virtual PvlResult StartStill(uint32_t count) = 0;                                                       // 11
  virtual PvlResult Stop() = 0;                                                                           // 12
  virtual PvlResult StartPreSnapshotFlash(uintptr_t signalControl) = 0;                                   // 13
  virtual PvlResult StopPreSnapshotFlash() = 0;                                                           // 14
  virtual PvlResult Suspend() = 0;                                                                        // 15
  virtual PvlResult Resume() = 0;                                                                         // 16

 protected:
  ~ICameraEngine() = default;
};
