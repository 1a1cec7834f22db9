// The small numeric helpers every block computation shares.
#include "vfeconfiguration.h"

PvlResult GetInterpolationFactor(int32_t x, int32_t lower, int32_t upper, float* out) {
  if (!out) return PVL_E_NULLPTR;
  if (lower == upper) return PVL_E_BADARG;
  // The difference is taken as an integer first, as the trigger ranges are.
  *out = static_cast<float>(x - lower) / static_cast<float>(upper - lower);
  return PVL_OK;
}

PvlResult GetInterpolationFactorF(float x, float lower, float upper, float* out) {
  if (!out) return PVL_E_NULLPTR;
  if (lower == upper) return PVL_E_BADARG;
  *out = (x - lower) / (upper - lower);
  return PVL_OK;
}

float GetColorConvStep(uint32_t index) {
  switch (index) {
    case 1:
      return 0.15f;
    case 2:
      return 0.45f;
    default:
      return 0.05f;
  }
}
