// Stand-in for the Bayer image-processing blocks still without their tuned
// computations (roll-off, demosaic, ASF, AF and AWB-extended statistics):
// each step sends the block's configure or update command with a payload that
// leaves the picture as it is (the block off, the demosaic on with its filters
// off, the AWB-extended statistics collecting so that the WB/exposure
// statistics run).
#pragma once

#include "vfeconfiguration.h"

class CNeutralBlockStub {
 public:
  // 14 for a command that is not a Bayer block's.
  static PvlResult Apply(IVfeServiceInternal* service, int32_t command);
};
