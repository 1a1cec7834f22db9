// The registry's bridge to the fixed-point type (type code 10).
#pragma once

#include "pvlresult.h"

// Value of the CFixedPoint at p as a double; 16 when its Q is out of range.
PvlResult RuntimeTuningFixedToDouble(const void* p, double* out);
// Assigns d to the CFixedPoint at p at its own Q (a value that does not fit
// leaves it unchanged).
void RuntimeTuningFixedAssign(void* p, double d);
