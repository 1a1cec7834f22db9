// The sensor service's face: the common service operations, then the sensor's
// records read through the current driver; and the sensor family of the
// configuration values (one per configurable driver record) with the set that
// holds them.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "csensorinfo.h"
#include "iconfigcommand.h"
#include "pvlbase.h"

#define ZUEUID_CLASS_SENSOR_SERVICE 0x010707a1u
// Created by the debug engine in place of the sensor service; no module provides it.
#define ZUEUID_CLASS_SENSOR_SIMULATOR 0x01060c21u
#define ZUEUID_IFACE_SENSOR_SERVICE 0x0105d521u
#define ZUEUID_IFACE_SENSOR_CONFIGURATION 0x010610aeu
#define ZUEUID_IFACE_SENSOR_CONFIGURATION_SET 0x01061032u

// The sensor's white-balance calibration (ZUEUID_SENSOR_PROPERTY_WB_CALIBRATION):
// four factors in the order the tuning data's CalibrateWhiteBalance takes them.
struct SensorWbCalibrationRecord {
  float red;
  float blue;
  float greenOdd;
  float greenEven;
};
static_assert(sizeof(SensorWbCalibrationRecord) == 16);
static_assert(offsetof(SensorWbCalibrationRecord, greenEven) == 12);

// Sensor configurations that the sensor-information proxy runs.
#define ZUEUID_SENSOR_CONFIG_LENS_MOVE 0x01062975u
#define ZUEUID_SENSOR_CONFIG_AF_SEARCH_MODE 0x01062976u
#define ZUEUID_SENSOR_CONFIG_FOCUS_STATE 0x01062977u

// One detected sensor as the service lists it.
struct CameraSensorDescriptor {
  uint32_t DriverClass;
  uintptr_t NameBuffer;  // char*
  uint32_t NameCapacity;
  uint32_t NameLength;
  uint32_t FullWidth;
  uint32_t FullHeight;
  uint32_t FrameInterval;
  uint32_t ExtraInfo[3];
};
#if INTPTR_MAX == INT32_MAX  // the phone's layout: a 64-bit build widens its pointers
static_assert(sizeof(CameraSensorDescriptor) == 40);
#endif

// Slots 3-22. GetTiming's second argument is ignored (callers pass 0);
// GetExtraInfo writes the three words of SensorExtraInfo.
class ICameraSensorService : public IPvlBase {
 public:
  virtual PvlResult Initialize(uint32_t sensorClass, IPvlBase* client) = 0;                       // 3
  virtual PvlResult Uninitialize() = 0;                                                           // 4
  virtual PvlResult Start() = 0;                                                                  // 5
  virtual PvlResult Stop() = 0;                                                                   // 6
  virtual PvlResult Reset() = 0;                                                                  // 7
  virtual PvlResult GetConfigurer(uint32_t configuration, IConfigCommand** out) = 0;              // 8
  virtual PvlResult Suspend() = 0;                                                                // 9
  virtual PvlResult Resume() = 0;                                                                 // 10
  virtual PvlResult GetSensors(CameraSensorDescriptor* sensors, uint32_t capacity, uint32_t* count) = 0;  // 11
  virtual PvlResult GetCapabilities(SensorCapabilities* out) = 0;                                 // 12
  virtual PvlResult GetIdentity(SensorIdentity* record) = 0;                                      // 13
  virtual PvlResult GetOptics(SensorOptics* out) = 0;                                             // 14
  virtual PvlResult GetExtraInfo(uint32_t* out3) = 0;                                             // 15
  virtual PvlResult GetOutputFormat(SensorOutputFormat* out) = 0;                                 // 16
  virtual PvlResult GetTiming(SensorTiming* out, uint32_t reserved) = 0;                          // 17
  virtual PvlResult GetGeometry(SensorGeometry* out) = 0;                                         // 18
  virtual PvlResult GetModeInfo(SensorModeInfo* out) = 0;                                         // 19
  virtual PvlResult GetGainInfo(SensorGainInfo* out) = 0;                                         // 20
  virtual PvlResult GetFrameTiming(const SensorFrameTimingRequest* request, SensorFrameTimingAnswer* out) = 0;  // 21
  // Whether the open sensor still answers on its bus: 0, PVL_E_DEVICE_LOST, or
  // 13 without an open driver.
  virtual PvlResult CheckPresence() = 0;                                                          // 22

 protected:
  ~ICameraSensorService() = default;
};

// One sensor configuration value. Set and Get copy exactly the record size of
// the value's class; the caller's pointer must hold that many bytes.
class ISensorConfiguration : public IConfiguration {
 public:
  // Apply (slot 3): 20 when unsupported, else the driver's answer to the record.
  // Reads the driver's record in place: 20 when unsupported.
  virtual PvlResult Refresh() = 0;                  // 4
  // Zeroes the record (supported or not); 0.
  virtual PvlResult Reset() = 0;                   // 5
  virtual PvlResult Set(const void* record) = 0;    // 6: 20 when unsupported
  virtual PvlResult Get(void* record) = 0;          // 7: 20 when unsupported
  // Settled by the driver's answer to the first read: 20 means no.
  virtual bool IsSupported() = 0;                   // 8
  // One log line with the record's fields; 0.
  virtual PvlResult Dump() = 0;                     // 9

 protected:
  ~ISensorConfiguration() = default;
};

// The twenty values of a sensor driver, value i bound to driver command
// ZUEUID_SENSOR_CMD_ANTIBANDING + i. Each accessor stores its value with a
// reference of the caller's and answers 0.
class ISensorConfigurationSet : public IPvlBase {
 public:
  virtual PvlResult ResetAll() = 0;                                          // 3
  virtual PvlResult GetAntibanding(ISensorConfiguration** out) = 0;          // 4
  virtual PvlResult GetBrightness(ISensorConfiguration** out) = 0;           // 5
  virtual PvlResult GetContrast(ISensorConfiguration** out) = 0;             // 6
  virtual PvlResult GetExposure(ISensorConfiguration** out) = 0;             // 7
  virtual PvlResult GetExposureCompensation(ISensorConfiguration** out) = 0; // 8
  virtual PvlResult GetExposureMetering(ISensorConfiguration** out) = 0;     // 9
  virtual PvlResult GetFocus(ISensorConfiguration** out) = 0;                // 10
  virtual PvlResult GetFocusMode(ISensorConfiguration** out) = 0;            // 11
  virtual PvlResult GetFocusState(ISensorConfiguration** out) = 0;           // 12
  virtual PvlResult GetFrameInterval(ISensorConfiguration** out) = 0;        // 13
  virtual PvlResult GetGamma(ISensorConfiguration** out) = 0;                // 14
  virtual PvlResult GetHue(ISensorConfiguration** out) = 0;                  // 15
  virtual PvlResult GetImageEffect(ISensorConfiguration** out) = 0;          // 16
  virtual PvlResult GetIso(ISensorConfiguration** out) = 0;                  // 17
  virtual PvlResult GetApertureShutter(ISensorConfiguration** out) = 0;      // 18
  virtual PvlResult GetOpticalZoom(ISensorConfiguration** out) = 0;          // 19
  virtual PvlResult GetSensorMode(ISensorConfiguration** out) = 0;           // 20
  virtual PvlResult GetSaturation(ISensorConfiguration** out) = 0;           // 21
  virtual PvlResult GetSharpness(ISensorConfiguration** out) = 0;            // 22
  virtual PvlResult GetWhiteBalance(ISensorConfiguration** out) = 0;         // 23

 protected:
  ~ISensorConfigurationSet() = default;
};
