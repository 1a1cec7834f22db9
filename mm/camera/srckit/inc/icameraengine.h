// ICameraEngine: the engine-control face that a client (the driver) holds. Each
// operation but the two device lists becomes one event of the engine's state
// machine, so the engine's state decides whether it runs; an operation the
// current state refuses answers 13 and changes nothing.
#pragma once

#include <stdint.h>

#include "pvlbase.h"

struct CameraSensorDescriptor;  // icamerasensorservice.h
struct CameraFlashDevice;       // icameraflashservice.h
class ICameraPort;
class ICameraSettingsListener;

#ifndef ZUEUID_CLASS_CAMERA_ENGINE
#define ZUEUID_CLASS_CAMERA_ENGINE 0x01061a6fu
#endif
#define ZUEUID_CLASS_CAMERA_ENGINE_DEBUG 0x01046412u
#define ZUEUID_IFACE_CAMERAENGINE 0x01046237u
#define ZUEUID_IFACE_CAMERAENGINE_ALT 0x0108a2bau  // second identifier of the same face

class ICameraEngine : public IPvlBase {
 public:
  // The detected sensors: the count, and up to `capacity` records.
  virtual PvlResult GetCameras(CameraSensorDescriptor* cameras, uint32_t capacity, uint32_t* count) = 0;  // 3
  // The detected flash devices: the count, and up to `capacity` records.
  virtual PvlResult GetFlashDevices(CameraFlashDevice* devices, uint32_t capacity, uint32_t* count) = 0;  // 4
  // Opens the sensor given by its driver class and sets up the services.
  virtual PvlResult Initialize(uint32_t cameraId) = 0;  // 5
  virtual PvlResult Uninitialize() = 0;                 // 6
  // Up to `capacity` ports (each counted) and their count; 14 for a null count,
  // or a null array with a capacity.
  virtual PvlResult GetPorts(ICameraPort** ports, uint32_t capacity, uint32_t* count) = 0;  // 7
  // continuous: non-zero for continuous focus; `listener` is told when a run ends.
  virtual PvlResult StartFocus(uint8_t continuous, ICameraSettingsListener* listener) = 0;  // 8
  virtual PvlResult StopFocus() = 0;                                                      // 9
  virtual PvlResult StartVideo() = 0;                                                     // 10
  virtual PvlResult StartStill(uint32_t snapshotCount) = 0;                               // 11
  virtual PvlResult Stop() = 0;                                                           // 12
  // `listener` is told when the pre-flash (or the exposure run before a still) ends.
  virtual PvlResult StartPreSnapshotFlash(ICameraSettingsListener* listener) = 0;  // 13
  virtual PvlResult StopPreSnapshotFlash() = 0;                                    // 14
  virtual PvlResult Suspend() = 0;                                                 // 15
  virtual PvlResult Resume() = 0;                                                  // 16

 protected:
  ~ICameraEngine() = default;
};
