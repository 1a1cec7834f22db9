// The sensor service's face: the common service operations, then the sensor's
// records read through the current driver.
#pragma once

#include <stdint.h>

#include "iconfigcommand.h"
#include "pvlbase.h"
#include "sensorinfo.h"

#define ZUEUID_IFACE_SENSOR_SERVICE 0x0105d521u

// Sensor configurations that the sensor-information proxy runs.
#define ZUEUID_SENSOR_CONFIG_LENS_MOVE 0x01062975u
#define ZUEUID_SENSOR_CONFIG_AF_SEARCH_MODE 0x01062976u
#define ZUEUID_SENSOR_CONFIG_FOCUS_STATE 0x01062977u

// One detected sensor as the service lists it.
struct CameraSensorDescriptor {
  uint32_t DriverClass;
  uint32_t NameBuffer;  // char* on the phone's 32-bit build
  uint32_t NameCapacity;
  uint32_t NameLength;
  uint32_t FullWidth;
  uint32_t FullHeight;
  uint32_t FrameInterval;
  uint32_t ExtraInfo[3];
};
static_assert(sizeof(CameraSensorDescriptor) == 40);

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

 protected:
  ~ICameraSensorService() = default;
};
