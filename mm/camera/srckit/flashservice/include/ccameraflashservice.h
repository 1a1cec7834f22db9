// CCameraFlashService: owns the flash driver for the flash plug-in and the
// engine.
//
// Created through the environment, it finds the flash drivers that exist by
// creating the candidate driver classes in turn and records up to two (device
// type and class). Initialize opens the chosen driver, powers it up (the LED
// off) and builds the flash configuration set and configurer registry over it;
// the plug-in then runs the lamp, strobe, video and snapshot configurers to
// light the torch, arm the flash and choose which of the two the LED shows.
// Suspend closes the driver and Resume opens it again. Which operation each
// state takes is the table in ccameraflashservice.cpp.
//
// No lock of its own: callers serialise their calls.
#pragma once

#include <stdint.h>

#include "camerasettings.h"
#include "ccameradriverservice.h"
#include "icameraflashservice.h"
#include "ienv.h"

class CCameraFlashService final
    : public CCameraDriverService<ICameraFlashService, IFlashSettings, IFlashConfigurationSet> {
 public:
  static constexpr uint32_t kMaxDevices = 2;

  // The class switch's entry: 29 for a null environment, argument or out; 3
  // for another class; 39 when no flash device exists.
  static PvlResult CreateInstance(IEnv* env, ZUEUID clsid, void* argument, void** out);

  PvlResult QueryInterface(ZUEUID iid, void** out) override;

  PvlResult GetFlashDevices(CameraFlashDevice* devices, int32_t capacity, uint32_t* count) override;
  PvlResult GetDeviceType(uint32_t* out) override;
  PvlResult GetDeviceFlags(uint32_t* out) override;
  PvlResult GetDeviceExtra(uint32_t* out) override;
  PvlResult SetDeviceState(uint32_t deviceState, uint32_t signal) override;

 private:
  explicit CCameraFlashService(IEnv* env);

  PvlResult DetectFlashDevices();
  PvlResult SelectDevice(uint32_t flashClass) override;
  PvlResult OpenDriver() override;
  PvlResult ReadDeviceProperty(uint32_t property, uint32_t* out);

  CameraFlashDevice m_devices[kMaxDevices];
  uint32_t m_deviceCount;
  uint32_t m_selected;
};
