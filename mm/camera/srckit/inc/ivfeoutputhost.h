// What the VFE service's video and statistics outputs need of the service that
// owns them: its environment, its lock, the settings, the driver's command
// path, the engine's event sink and the ready signals the receive thread
// waits on. The outputs see the service only through this face, so they build
// without it; the service implements it.
#pragma once

#include <stdint.h>

#include "pvlbase.h"

class IEnv;
class ILock;
class ISignalControl;
class IVfeSettings;

class IVfeOutputHost {
 public:
  virtual IEnv* GetEnv() = 0;
  // The service lock, which the outputs share with the configure chains.
  virtual ILock* GetLock() = 0;
  virtual IVfeSettings* GetVfeSettings() = 0;
  // The driver's answer, or 13 without a driver.
  virtual PvlResult SendCommand(int32_t command, const void* payload, uint32_t size) = 0;
  virtual PvlResult RaiseEvent(uint32_t kind, uint32_t argument, IPvlBase* object) = 0;
  // The output sizes changed.
  virtual void UpdateMaxCropFactor() = 0;
  // The ready signal of one output (ZUEUID_SIGNAL_ACK_*): the output's pool
  // fires it, the receive thread then acks the VFE. Null while the service has
  // no signals, or for an identifier that is none of them.
  virtual ISignalControl* GetAckSignal(ZUEUID signal) = 0;

 protected:
  ~IVfeOutputHost() = default;
};
