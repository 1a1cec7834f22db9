// Stand-in for the Bayer image-processing blocks (black level, roll-off,
// channel gain, demosaic, white balance, colour correction, gamma, colour
// conversion, ASF, chroma suppression, AF and AWB-extended statistics) until
// their tuned computations exist: each step sends the block's configure or
// update command with a payload that leaves the picture as it is (the block
// off, unity channel gains, the demosaic on with its filters off, the
// AWB-extended statistics collecting so that the WB/exposure statistics run).
#pragma once

#include "vfeconfiguration.h"

class CNeutralBlockStub {
 public:
  // 14 for a command that is not a Bayer block's.
  static PvlResult Apply(IVfeServiceInternal* service, int32_t command);
};
