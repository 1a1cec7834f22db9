// The small numeric helpers every block computation shares.
#include "cvfeconfiguration.h"

#include <cmath>

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

PvlResult ComputeScaleFactor(VfeScaleRecord* record, uint32_t in, uint32_t out) {
  if (!record) return PVL_E_NULLPTR;
  if (in == 0 || out == 0) return PVL_E_FAIL;
  record->inputSize = static_cast<uint16_t>(in);
  record->outputSize = static_cast<uint16_t>(out);
  if (in == out) {
    record->enable = 0;
    return PVL_OK;
  }
  record->enable = ByteToBool(1);
  double ratio = static_cast<double>(in) / out;
  uint32_t k = static_cast<uint32_t>(ratio);
  uint8_t n;
  if (k >= 1 && k <= 3) {
    n = 3;
  } else if (k >= 4 && k <= 7) {
    n = 2;
  } else if (k >= 8 && k <= 15) {
    n = 1;
  } else if (k >= 16 && k <= 32) {
    n = 0;
  } else {
    return PVL_E_FAIL;  // enlarging, or more than the scaler shrinks
  }
  // Q12 rounded half away from zero, then N more fraction bits: below 2^18.
  uint32_t q12 = static_cast<uint32_t>(std::floor(ratio * 4096.0 + 0.5));
  record->phaseStep = q12 << n;
  record->fractionBits = n;
  return PVL_OK;
}
