// The VFE configurers: the objects through which the engine puts the VFE into
// a state (video, still, zoom, one picture control). Each applies a fixed
// sequence of block configurations under the VFE service's lock, only while
// the service is Idle or Running (13 otherwise).
#pragma once

#include <stdint.h>

#include "iconfigcommand.h"

class IVfeServiceInternal;

#define ZUEUID_CONFIG_UNSUPPORTED 0x0105df09u
#define ZUEUID_CONFIG_RAW_SNAPSHOT 0x0105df0au
#define ZUEUID_CONFIG_UPDATE_ALL 0x0106298fu
#define ZUEUID_CONFIG_CROP 0x0105df1eu

// The still configurer's face: the number of frames the capture takes, set by
// the engine before Configure (the service lock is taken for both).
#define ZUEUID_IFACE_SNAPSHOT_CONFIG_COMMAND 0x0106298eu
class ISnapshotConfigCommand : public IConfigCommand {
 public:
  virtual PvlResult GetCaptureCount(uint32_t* count) = 0;  // 14 for a null out
  virtual PvlResult SetCaptureCount(int32_t count) = 0;    // 14 below 1

 protected:
  ~ISnapshotConfigCommand() = default;
};

// Makes the configurer of one configuration identifier for the service's
// GetConfigurer: 14 null out (set to null first otherwise), 14 an identifier
// without a configurer, else the creator's code; *out holds one reference.
// The still identifier picks the raw-still configurer when the raw output is
// enabled in mode 0.
PvlResult VfeConfigurer_Create(IVfeServiceInternal* service, uint32_t configuration, IConfigCommand** out);
