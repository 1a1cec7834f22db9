// The flash service's face, the flash devices it detects, and the flash family
// of the configuration values (torch and flash intensity, output mode, strobe
// mode and charging) with the set that holds them. The records are in
// flashconfigrecords.h.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "flashconfigrecords.h"
#include "iconfigcommand.h"
#include "pvlbase.h"

#define ZUEUID_CLASS_FLASH_SERVICE 0x010707a7u
#define ZUEUID_IFACE_FLASH_SERVICE 0x0106e8f9u
#define ZUEUID_IFACE_FLASH_CONFIGURATION 0x0106c37bu
#define ZUEUID_IFACE_FLASH_CONFIGURATION_SET 0x0106c38cu

// The flash service's configuration identifiers besides ZUEUID_CONFIG_VIDEO
// and ZUEUID_CONFIG_SNAPSHOT (iconfigcommand.h).
#define ZUEUID_CONFIG_LAMP 0x0106c316u
#define ZUEUID_CONFIG_STROBE 0x0106c317u
#define ZUEUID_CONFIG_STROBE_MODE 0x0106c318u
#define ZUEUID_CONFIG_STROBE_CHARGING 0x0106c319u

// One detected flash device as the service lists it.
struct CameraFlashDevice {
  uint32_t deviceType;   // the driver's ZUEUID_FLASH_PROPERTY_DEVICE_TYPE: 2 the white LED
  uint32_t driverClass;  // the class the service creates for it
};
static_assert(sizeof(CameraFlashDevice) == 8);
static_assert(offsetof(CameraFlashDevice, driverClass) == 4);

// Slots 3-10 are the common service shape of the sensor and VFE services.
class ICameraFlashService : public IPvlBase {
 public:
  virtual PvlResult Initialize(uint32_t flashClass, IPvlBase* client) = 0;                       // 3
  virtual PvlResult Uninitialize() = 0;                                                           // 4
  virtual PvlResult Start() = 0;                                                                  // 5
  virtual PvlResult Stop() = 0;                                                                   // 6
  virtual PvlResult Reset() = 0;                                                                  // 7
  virtual PvlResult GetConfigurer(uint32_t configuration, IConfigCommand** out) = 0;              // 8
  virtual PvlResult Suspend() = 0;                                                                // 9
  virtual PvlResult Resume() = 0;                                                                 // 10
  // The count of detected devices and up to `capacity` of them (at most two).
  virtual PvlResult GetFlashDevices(CameraFlashDevice* devices, int32_t capacity, uint32_t* count) = 0;  // 11
  virtual PvlResult GetDeviceType(uint32_t* out) = 0;                                             // 12
  virtual PvlResult GetDeviceFlags(uint32_t* out) = 0;                                            // 13
  virtual PvlResult GetDeviceExtra(uint32_t* out) = 0;                                            // 14
  virtual PvlResult SetDeviceState(uint32_t deviceState, uint32_t signal) = 0;                    // 15

 protected:
  ~ICameraFlashService() = default;
};

// One flash configuration value; the operations are those of
// ISensorConfiguration (icamerasensorservice.h).
class IFlashConfiguration : public IConfiguration {
 public:
  virtual PvlResult Refresh() = 0;                // 4
  virtual PvlResult Reset() = 0;                  // 5
  virtual PvlResult Set(const void* record) = 0;  // 6
  virtual PvlResult Get(void* record) = 0;        // 7
  virtual bool IsSupported() = 0;                 // 8
  virtual PvlResult Dump() = 0;                   // 9

 protected:
  ~IFlashConfiguration() = default;
};

class IFlashConfigurationSet : public IPvlBase {
 public:
  virtual PvlResult ResetAll() = 0;                                        // 3
  virtual PvlResult GetDeviceState(IFlashConfiguration** out) = 0;         // 4
  virtual PvlResult GetLampIntensity(IFlashConfiguration** out) = 0;       // 5
  virtual PvlResult GetStrobeIntensity(IFlashConfiguration** out) = 0;     // 6
  virtual PvlResult GetOutputMode(IFlashConfiguration** out) = 0;          // 7
  virtual PvlResult GetStrobeMode(IFlashConfiguration** out) = 0;          // 8
  virtual PvlResult GetStrobeCharging(IFlashConfiguration** out) = 0;      // 9

 protected:
  ~IFlashConfigurationSet() = default;
};
