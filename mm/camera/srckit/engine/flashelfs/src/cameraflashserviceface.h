// The flash service's face as the flash plug-in uses it. Its one home is
// icameraflashservice.h, which comes with the flash service; until that header
// is in the tree the plug-in builds against the same slots declared here.
// Delete the #else part when the service has landed.
#pragma once

#if __has_include("icameraflashservice.h")
#include "icameraflashservice.h"
#else

#include <stddef.h>
#include <stdint.h>

#include "iconfigcommand.h"
#include "pvlbase.h"

#define ZUEUID_CLASS_FLASH_SERVICE 0x010707a7u
#define ZUEUID_IFACE_FLASH_SERVICE 0x0106e8f9u
#ifndef ZUEUID_IFACE_CAMERA_SERVICE
#define ZUEUID_IFACE_CAMERA_SERVICE 0x0103ed71u
#endif
#ifndef ZUEUID_IFACE_CAMERA_COMPONENT
#define ZUEUID_IFACE_CAMERA_COMPONENT 0x0108a2bbu
#endif
#ifndef PVL_E_NODEVICE
#define PVL_E_NODEVICE 39
#endif
#define ZUEUID_CONFIG_VIDEO 0x0106298du
#define ZUEUID_CONFIG_SNAPSHOT 0x0106298eu
#define ZUEUID_CONFIG_LAMP 0x0106c316u
#define ZUEUID_CONFIG_STROBE 0x0106c317u

struct CameraFlashDevice {
  uint32_t deviceType;   // 2 the white LED
  uint32_t driverClass;  // the class the service creates for it
};
static_assert(sizeof(CameraFlashDevice) == 8);
static_assert(offsetof(CameraFlashDevice, driverClass) == 4);

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
  virtual PvlResult GetFlashDevices(CameraFlashDevice* devices, int32_t capacity, uint32_t* count) = 0;  // 11
  virtual PvlResult GetDeviceType(uint32_t* out) = 0;                                             // 12
  virtual PvlResult GetDeviceFlags(uint32_t* out) = 0;                                            // 13
  virtual PvlResult GetDeviceExtra(uint32_t* out) = 0;                                            // 14
  virtual PvlResult SetDeviceState(uint32_t deviceState, uint32_t signal) = 0;                    // 15

 protected:
  ~ICameraFlashService() = default;
};

#endif
