// Carrying a client setting onto a driver's range. A client property runs over
// its own range (the engine's intensities over 0..10000, say) while the driver
// reports the range it accepts; the value sent keeps its place in the range.
#pragma once

#include <stdint.h>

// dMin..dMax is the driver's range, rMin..rMax the setting's, rVal the
// setting's current value. An empty driver range gives its one value; an
// empty setting range gives the middle of the driver's range; equal ranges
// pass the value unchanged; otherwise the value is scaled in single precision
// and rounded half away from zero. A value outside its range stays outside
// (no clamping); results beyond 32 bits saturate.
int32_t ConfigMapRange(int32_t dMin, int32_t dMax, int32_t rMin, int32_t rMax, int32_t rVal);
// The same on floats, unrounded.
float ConfigMapRangeFloat(float dMin, float dMax, float rMin, float rMax, float rVal);
