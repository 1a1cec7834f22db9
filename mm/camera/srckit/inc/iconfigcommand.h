// Configuration values and commands, shared by the sensor, flash and VFE
// services. A configuration value owns one driver record bound to one driver
// command; a configuration command (a configurer) reads the client's settings
// at the moment it runs, writes them into its value's record and applies it; a
// service's registry makes the configurers and hands them out by
// configuration identifier.
//
// Interfaces carry no destructor; the concrete classes put their deleting
// destructor in the slot after the last operation.
#pragma once

#include <stdint.h>

#include "pvlbase.h"

// The services that hand configurers out (sensor, flash, VFE) share their
// first slots: 3-8 as a component, 3-10 as a service.
#define ZUEUID_IFACE_CAMERA_COMPONENT 0x0108a2bbu
#define ZUEUID_IFACE_CAMERA_SERVICE 0x0103ed71u
// A service's answer when no device of its kind was detected, or none of the
// class asked for.
#define PVL_E_NODEVICE 39

#define ZUEUID_IFACE_CONFIG_COMMAND 0x0105e138u
#define ZUEUID_IFACE_CONFIG_COMMAND_REGISTRY 0x01061031u

// Configuration identifiers: 0x01062971 + k. Each service's registry answers
// only for the configurers it has; the same identifier may name configurers of
// several services (the two modes in the sensor, flash and VFE services).
#define ZUEUID_CONFIG_BASE 0x01062971u
#define ZUEUID_CONFIG_ANTIBANDING 0x01062971u
#define ZUEUID_CONFIG_EXPOSURE 0x01062972u
#define ZUEUID_CONFIG_EXPOSURE_COMPENSATION 0x01062973u
#define ZUEUID_CONFIG_EXPOSURE_METERING 0x01062974u
#define ZUEUID_CONFIG_FOCUS 0x01062975u
#define ZUEUID_CONFIG_FOCUS_MODE 0x01062976u
#define ZUEUID_CONFIG_FOCUS_STATE 0x01062977u
#define ZUEUID_CONFIG_FRAME_INTERVAL 0x01062978u
#define ZUEUID_CONFIG_ISO 0x01062979u
#define ZUEUID_CONFIG_APERTURE_SHUTTER 0x0106297au
#define ZUEUID_CONFIG_OPTICAL_ZOOM 0x0106297bu
#define ZUEUID_CONFIG_WHITE_BALANCE 0x0106297cu
#define ZUEUID_CONFIG_BRIGHTNESS 0x01062980u
#define ZUEUID_CONFIG_CONTRAST 0x01062981u
#define ZUEUID_CONFIG_GAMMA 0x01062982u
#define ZUEUID_CONFIG_HUE 0x01062984u
#define ZUEUID_CONFIG_IMAGE_EFFECT 0x01062987u
#define ZUEUID_CONFIG_SATURATION 0x01062989u
#define ZUEUID_CONFIG_SHARPNESS 0x0106298bu
#define ZUEUID_CONFIG_VIDEO 0x0106298du
#define ZUEUID_CONFIG_SNAPSHOT 0x0106298eu

// A configuration step. Configure answers 0 when the driver took the record.
class IConfigCommand : public IPvlBase {
 public:
  // QueryInterface: ZUEUID_IFACE_BASE and ZUEUID_IFACE_CONFIG_COMMAND; a null
  // out gives 14, any other identifier 3.
  virtual PvlResult Configure() = 0;  // 3

 protected:
  ~IConfigCommand() = default;
};

// A configuration value as seen by whoever only applies it.
class IConfiguration : public IPvlBase {
 public:
  virtual PvlResult Apply() = 0;  // 3

 protected:
  ~IConfiguration() = default;
};

// The per-service maker of configurers. Its configurers hold it, so the two
// keep each other alive until ReleaseConfigurers breaks the cycle.
class IConfigCommandRegistry : public IPvlBase {
 public:
  // Makes the configurer of every supported value. A failure leaves the
  // registry not ready (GetConfigurer 13) with what it made so far held.
  virtual PvlResult CreateConfigurers() = 0;  // 3
  // Drops every configurer; the registry is not ready afterwards. Answers 0.
  virtual PvlResult ReleaseConfigurers() = 0;  // 4
  // 13 not ready (before anything else), 29 null out, 14 an identifier the
  // registry does not serve, 20 a served one whose value the driver does not
  // support; else 0 with *out holding a reference of the caller's.
  virtual PvlResult GetConfigurer(uint32_t configuration, IConfigCommand** out) = 0;  // 5

 protected:
  ~IConfigCommandRegistry() = default;
};
