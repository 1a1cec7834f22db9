// CCameraSensorService: owns the camera's sensor driver for the engine.
//
// Created through the environment, it detects which sensor drivers exist by
// creating the candidate driver classes in turn and keeps a descriptor of up
// to two (name, full size, frame interval). Initialize opens the driver of the
// chosen class, powers it up and builds the configuration set and configurer
// registry over it, through which the engine and the settings turn user and 3A
// settings into sensor commands; the property reads of the settings views and
// the VFE service are forwarded to the driver. Suspend closes the driver (the
// sensor sleeps) and Resume opens it again with new configurers. Which
// operation each state takes is the table in ccamerasensorservice.cpp.
//
// No lock of its own: the engine serialises every call.
#pragma once

#include <stdint.h>

#include "camerasettings.h"
#include "ccameradriverservice.h"
#include "icamerasensorservice.h"
#include "ienv.h"

class CCameraSensorService final
    : public CCameraDriverService<ICameraSensorService, ISensorSettings, ISensorConfigurationSet> {
 public:
  static constexpr uint32_t kMaxSensors = 2;

  // The class switch's entry: (environment, class, creation argument, &out).
  // 29 for a null environment, argument or out; 3 for another class; the
  // detection's answer when no sensor is found (39).
  static PvlResult CreateInstance(IEnv* env, ZUEUID clsid, void* argument, void** out);

  PvlResult QueryInterface(ZUEUID iid, void** out) override;

  PvlResult GetSensors(CameraSensorDescriptor* sensors, uint32_t capacity, uint32_t* count) override;
  PvlResult GetCapabilities(SensorCapabilities* out) override;
  PvlResult GetIdentity(SensorIdentity* record) override;
  PvlResult GetOptics(SensorOptics* out) override;
  PvlResult GetExtraInfo(uint32_t* out3) override;
  PvlResult GetOutputFormat(SensorOutputFormat* out) override;
  PvlResult GetTiming(SensorTiming* out, uint32_t reserved) override;
  PvlResult GetGeometry(SensorGeometry* out) override;
  PvlResult GetModeInfo(SensorModeInfo* out) override;
  PvlResult GetGainInfo(SensorGainInfo* out) override;
  PvlResult GetFrameTiming(const SensorFrameTimingRequest* request, SensorFrameTimingAnswer* out) override;
  PvlResult CheckPresence() override;  // camerasensorservicepresence.cpp

 private:
  explicit CCameraSensorService(IEnv* env);
  ~CCameraSensorService() override;

  PvlResult DetectSensors();
  PvlResult RecordSensor(CameraSensorDescriptor* descriptor, ZUEUID driverClass, ICameraDriver* driver);
  PvlResult SelectDevice(uint32_t sensorClass) override;
  PvlResult OpenDriver() override;
  void Opened() override;
  template <class Record>
  PvlResult ReadProperty(uint32_t property, Record* out);

  CameraSensorDescriptor m_sensors[kMaxSensors];
  uint32_t m_sensorCount;
  uint32_t m_current;
};
