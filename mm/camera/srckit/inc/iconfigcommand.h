// A configuration command: a step that a service builds on request and runs.
#pragma once

#include "pvlbase.h"

#define ZUEUID_IFACE_CONFIG_COMMAND 0x0105e138u

class IConfigCommand : public IPvlBase {
 public:
  virtual PvlResult Configure() = 0;  // 3

 protected:
  ~IConfigCommand() = default;
};
