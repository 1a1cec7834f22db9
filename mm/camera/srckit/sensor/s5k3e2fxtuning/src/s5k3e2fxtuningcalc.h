// Compile-time arithmetic behind the S5K3E2FX tuning table: the colour matrix
// inverse, the tone curves, the exposure ladder and the flat shading tables.
// Everything here is constexpr so that the table stays constant data of the
// module (no code runs to build it when the module loads).
#pragma once

#include <stdint.h>

#include "tuningblock.h"

namespace s5k3e2fxtuning {

// ---- Scalar helpers (the library's exp/log are not constant expressions) ----

constexpr double kLn2 = 0.69314718055994530942;

constexpr double Exp(double x) {
  // x = n ln2 + r with |r| <= ln2 / 2, then a Taylor series for e^r.
  int n = static_cast<int>(x / kLn2 + (x < 0 ? -0.5 : 0.5));
  double r = x - n * kLn2;
  double term = 1.0, sum = 1.0;
  for (int k = 1; k < 30; ++k) {
    term *= r / k;
    sum += term;
  }
  for (; n > 0; --n) sum *= 2.0;
  for (; n < 0; ++n) sum /= 2.0;
  return sum;
}

constexpr double Log(double x) {  // x > 0
  int e = 0;
  while (x > 1.5) {
    x /= 2.0;
    ++e;
  }
  while (x < 0.75) {
    x *= 2.0;
    --e;
  }
  // ln x = 2 atanh((x - 1) / (x + 1)).
  double z = (x - 1.0) / (x + 1.0), z2 = z * z, term = z, sum = 0.0;
  for (int k = 1; k < 60; k += 2) {
    sum += term / k;
    term *= z2;
  }
  return 2.0 * sum + e * kLn2;
}

constexpr double Pow(double x, double y) { return x <= 0.0 ? 0.0 : Exp(y * Log(x)); }

constexpr int32_t Round(double x) { return static_cast<int32_t>(x < 0 ? x - 0.5 : x + 0.5); }

// ---- Colour ----

struct Matrix3 {
  double m[3][3];
};

constexpr Matrix3 Inverse(const Matrix3& a) {
  const auto& m = a.m;
  double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
               m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
               m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
  Matrix3 r{};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      // Cofactor of (j, i) over the determinant.
      int j1 = (j + 1) % 3, j2 = (j + 2) % 3, i1 = (i + 1) % 3, i2 = (i + 2) % 3;
      r.m[i][j] = (m[j1][i1] * m[j2][i2] - m[j1][i2] * m[j2][i1]) / det;
    }
  }
  return r;
}

// weight x a + (1 - weight) x identity.
constexpr Matrix3 TowardsIdentity(const Matrix3& a, double weight) {
  Matrix3 r{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r.m[i][j] = weight * a.m[i][j] + (1.0 - weight) * (i == j ? 1.0 : 0.0);
  return r;
}

// A colour-correction record: output rows R, G, B by input columns R, G, B, no
// offsets; the byte after the offsets is the coefficients' Q factor (the block
// packs each coefficient with Q + 7 fraction bits).
constexpr TuningColorCorrMatrix ColorCorrection(const Matrix3& a, uint8_t qFactor) {
  const auto& m = a.m;
  TuningColorCorrMatrix r{};
  r.RtoR = static_cast<float>(m[0][0]);
  r.GtoR = static_cast<float>(m[0][1]);
  r.BtoR = static_cast<float>(m[0][2]);
  r.RtoG = static_cast<float>(m[1][0]);
  r.GtoG = static_cast<float>(m[1][1]);
  r.BtoG = static_cast<float>(m[1][2]);
  r.RtoB = static_cast<float>(m[2][0]);
  r.GtoB = static_cast<float>(m[2][1]);
  r.BtoB = static_cast<float>(m[2][2]);
  r.Reserved[0] = qFactor;
  return r;
}

// RGB to YCbCr: Cb = a ((B - G) + b (R - G)) + k_cb, Cr = c ((R - G) + d (B - G)) + k_cr,
// Y = RtoY R + GtoY G + BtoY B + Yoffset; the same a, b, c, d either side of zero.
struct YCbCr {
  float a, b, c, d;
  int16_t kCb, kCr;
  float rToY, gToY, bToY;
  uint16_t yOffset;
};
constexpr TuningColorConvMatrix ColorConversion(const YCbCr& v) {
  TuningColorConvMatrix r{};
  r.CbScalingNegative_am = r.CbScalingPositive_ap = v.a;
  r.DiffRGtoCbShearingNegative_bm = r.DiffRGtoCbShearingPositive_bp = v.b;
  r.CrScalingNegative_cm = r.CrScalingPositive_cp = v.c;
  r.DiffBGtoCrShearingNegative_dm = r.DiffBGtoCrShearingPositive_dp = v.d;
  r.CBOffset_k_cb = v.kCb;
  r.CROffset_k_cr = v.kCr;
  r.RtoY = v.rToY;
  r.GtoY = v.gToY;
  r.BtoY = v.bToY;
  r.Yoffset = v.yOffset;
  return r;
}
// BT.601 with both chroma scales multiplied by saturation.
constexpr YCbCr Bt601(float saturation) {
  return {0.5f * saturation, -0.338f, 0.5f * saturation, -0.162f, 128, 128, 0.299f, 0.587f, 0.114f, 0};
}

// The white-balance gains that make grey neutral under light whose channel
// levels on grey are (r, 1, b): G/R and G/B.
constexpr TuningMwbGains GainsFor(double r, double b) {
  return {static_cast<float>(1.0 / r), 1.0f, static_cast<float>(1.0 / b)};
}
constexpr TuningAwbRefPoint RefPointFor(double r, double b) {
  return {static_cast<float>(1.0 / r), static_cast<float>(1.0 / b), 1.0f, 1.0f};
}

// ---- Tone curves ----

// sRGB encoding of linear x in 0..1.
constexpr double Srgb(double x) { return x <= 0.0031308 ? 12.92 * x : 1.055 * Pow(x, 1.0 / 2.4) - 0.055; }

// 1024 points over the whole input range, 8-bit output; exponent 0 gives sRGB,
// otherwise a pure power curve x^(1 / exponent).
constexpr TuningGammaStored Gamma(double exponent) {
  TuningGammaStored g{};
  for (uint32_t j = 0; j < TUNING_GAMMA_TABLE_SIZE; ++j) {
    double x = j / double(TUNING_GAMMA_TABLE_SIZE - 1);
    double y = exponent == 0.0 ? Srgb(x) : Pow(x, 1.0 / exponent);
    int32_t v = Round(255.0 * y);
    g.Table[j] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
  }
  return g;
}

// ---- Exposure ----

// The exposure ladder: entry k aims at 2^(k / stepsPerEv) lines at unity gain.
// Line counts carry it up to maxLines (rounded; entries that round to the line
// count before them are dropped, so the bright end steps a line at a time), then
// the gain code (32 = 1x) up to maxGainCode at maxLines.
struct ExposureLadder {
  TuningExposureEntry entry[TUNING_EXPOSURE_TABLE_ENTRIES];
  uint16_t count;
};
constexpr uint16_t kUnityGainCode = 32;

constexpr ExposureLadder BuildExposureLadder(int stepsPerEv, uint32_t maxLines, uint32_t maxGainCode) {
  ExposureLadder t{};
  double step = Exp(kLn2 / stepsPerEv), target = 1.0;
  uint32_t lastLines = 0, lastGain = 0;
  while (t.count < TUNING_EXPOSURE_TABLE_ENTRIES) {
    uint32_t lines = maxLines, gain = kUnityGainCode;
    if (target <= maxLines + 0.5) {
      lines = static_cast<uint32_t>(Round(target));
    } else {
      gain = static_cast<uint32_t>(Round(kUnityGainCode * target / maxLines));
    }
    if (gain > maxGainCode) break;
    if (lines != lastLines || gain != lastGain) {
      t.entry[t.count].Gain = static_cast<uint16_t>(gain);
      t.entry[t.count].LineCount = lines;
      ++t.count;
      lastLines = lines;
      lastGain = gain;
    }
    target *= step;
  }
  return t;
}

// The first entry giving at least lines x gain code.
constexpr int32_t ExposureIndex(const ExposureLadder& t, uint32_t lines, uint32_t gainCode) {
  for (int32_t i = 0; i < t.count; ++i)
    if (uint64_t(t.entry[i].LineCount) * t.entry[i].Gain >= uint64_t(lines) * gainCode) return i;
  return t.count - 1;
}

// ---- Lens shading ----

// Radial table with unity gains: 32 radii evenly spaced (as squares) from the
// centre to the corner of a width x height array.
constexpr TuningRolloffTable FlatRolloffTable(uint16_t width, uint16_t height) {
  TuningRolloffTable t{};
  t.CenterX = width / 2;
  t.CenterY = height / 2;
  t.Width = width;
  t.Height = height;
  t.Intervals = 32;
  uint64_t cornerSq = uint64_t(t.CenterX) * t.CenterX + uint64_t(t.CenterY) * t.CenterY;
  for (uint32_t i = 0; i < 32; ++i) {
    t.RSqTable[i] = static_cast<uint32_t>(cornerSq * i / 31);
    t.RedTable[i] = t.GreenTable[i] = t.BlueTable[i] = 1.0;
  }
  return t;
}

constexpr TuningRolloffMesh FlatRolloffMesh() {
  TuningRolloffMesh m{};
  m.TableSize = TUNING_ROLLOFF_MESH_GAINS;
  for (uint32_t i = 0; i < TUNING_ROLLOFF_MESH_GAINS; ++i) m.RGain[i] = m.GRGain[i] = m.GBGain[i] = m.BGain[i] = 1.0f;
  return m;
}

// ---- Noise filter ----

// Twenty steps from the start of the low-light range (entry 0) to its end
// (entry 19): the low-pass threshold and the blend ratio grow linearly.
constexpr TuningAbfFilterData AbfRamp(uint16_t thresholdFrom, uint16_t thresholdTo, float ratioFrom, float ratioTo) {
  TuningAbfFilterData f{};
  f.Shift = 3;
  for (int i = 0; i < 20; ++i) {
    f.LPThr[i] = static_cast<uint16_t>(thresholdFrom + (thresholdTo - thresholdFrom) * i / 19);
    f.Ratio[i] = ratioFrom + (ratioTo - ratioFrom) * i / 19.0f;
    f.Min[i] = 0;
    f.Max[i] = 1023;
  }
  return f;
}

}  // namespace s5k3e2fxtuning
