// Stand-in for the Bayer image-processing blocks (black level, channel gain,
// white balance, colour correction, gamma, colour conversion, chroma
// suppression, luma adaptation) until their tuned computations exist: each
// step sends the block's configure or update command with a payload that
// leaves the picture as it is (the block off, unity channel gains).
#pragma once

#include "vfeconfiguration.h"

class CNeutralBlockStub {
 public:
  // 14 for a command that is not a Bayer block's.
  static PvlResult Apply(IVfeServiceInternal* service, int32_t command);
};
