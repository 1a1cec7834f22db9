// Range mapping shared by the flash intensities and the sensor's picture
// controls. Every integer goes to single precision before it is used, in one
// fixed order of operations, so that the same setting always gives the same
// driver value.
#include "configrange.h"

int32_t ConfigMapRange(int32_t dMin, int32_t dMax, int32_t rMin, int32_t rMax, int32_t rVal) {
  if (dMax == dMin) return dMax;
  // An empty setting range has no place to keep: take the middle of the
  // driver's range (the half width alone would fall outside it when dMin > 0).
  if (rMax == rMin) return static_cast<int32_t>(static_cast<int64_t>(dMin) + (static_cast<int64_t>(dMax) - dMin) / 2);
  if (dMax == rMax && dMin == rMin) return rVal;
  const float scale = (static_cast<float>(rMax) - static_cast<float>(rMin)) /
                      (static_cast<float>(dMax) - static_cast<float>(dMin));
  const float x = (static_cast<float>(rVal) - static_cast<float>(rMin)) / scale + static_cast<float>(dMin);
  const float rounded = x > 0.0f ? x + 0.5f : x - 0.5f;
  // A setting far outside its range must not turn into an undefined conversion.
  if (!(rounded < 2147483648.0f)) return INT32_MAX;
  if (!(rounded > -2147483648.0f)) return INT32_MIN;
  return static_cast<int32_t>(rounded);
}

float ConfigMapRangeFloat(float dMin, float dMax, float rMin, float rMax, float rVal) {
  if (dMax == dMin) return dMax;
  if (rMax == rMin) return dMin + (dMax - dMin) / 2.0f;
  if (dMax == rMax && dMin == rMin) return rVal;
  const float scale = (rMax - rMin) / (dMax - dMin);
  return (rVal - rMin) / scale + dMin;
}
