// The VFE's image pipeline: the camera-interface window with its skip
// patterns, the Bayer stages (black level, channel gain), an edge-directed demosaic
// of the programmed Bayer order limited to the field-of-view crop, the main
// scaler, the colour stages and the colour conversion to YCbCr, the output
// clamp, and the OUTPUT1 luma and chroma scalers; outputs are NV21 (luma plane,
// then interleaved Cr, Cb at half resolution) or, on the raw path, 8-bit Bayer.
// Each stage is a function of its own that honours its block's registers and
// tables as the driver programmed them (board_vfe.h says how); a payload the
// scalers cannot run is refused rather than guessed at.
#include <emmintrin.h>
#include <sys/mman.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>

#include "../board_internal.h"
#include "stripes.h"
#include "vfe_pipeline.h"

namespace board::vfe {
namespace {

uint32_t RegAt(const RegisterImage& r, uint32_t offset) { return r[offset / 4]; }
inline __m128i Load8(const uint16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void Store8(uint16_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// ---- Camera interface -------------------------------------------------------------
// Keeps sample i of a line (line i of the frame) when bit i mod 16 of its
// pattern is set; an all-zero pattern is taken as keep-all.
BayerView CamifWindow(const RegisterImage& regs, const FrameVector<uint16_t>& raw, uint32_t rawWidth,
                      FrameVector<uint16_t>* skipped) {
  uint32_t px = RegAt(regs, kRegCamifPixels), ln = RegAt(regs, kRegCamifLines);
  uint32_t x0 = (px >> 16) & 0x3FFF, x1 = px & 0x3FFF, y0 = (ln >> 16) & 0x3FFF, y1 = ln & 0x3FFF;
  uint32_t skip = RegAt(regs, kRegCamifSkip);
  uint16_t pixelPattern = uint16_t(skip), linePattern = uint16_t(skip >> 16);
  if (pixelPattern == 0) pixelPattern = 0xFFFF;
  if (linePattern == 0) linePattern = 0xFFFF;
  BayerView v;
  v.order = RegAt(regs, kRegInputFormat) & 3;
  if (pixelPattern == 0xFFFF && linePattern == 0xFFFF) {
    v.data = raw.data() + size_t(y0) * rawWidth + x0;
    v.stride = rawWidth;
    v.width = x1 - x0 + 1;
    v.height = y1 - y0 + 1;
    return v;
  }
  std::vector<uint32_t> cols, rows;
  for (uint32_t x = x0; x <= x1; ++x)
    if ((pixelPattern >> ((x - x0) & 15)) & 1) cols.push_back(x);
  for (uint32_t y = y0; y <= y1; ++y)
    if ((linePattern >> ((y - y0) & 15)) & 1) rows.push_back(y);
  skipped->resize(cols.size() * rows.size());
  for (size_t r = 0; r < rows.size(); ++r) {
    const uint16_t* src = raw.data() + size_t(rows[r]) * rawWidth;
    uint16_t* dst = skipped->data() + r * cols.size();
    for (size_t c = 0; c < cols.size(); ++c) dst[c] = src[cols[c]];
  }
  v.data = skipped->data();
  v.stride = cols.size();
  v.width = uint32_t(cols.size());
  v.height = uint32_t(rows.size());
  return v;
}

// ---- Bayer stages -----------------------------------------------------------------
// Black level per 2x2 phase of the window (module bit 0; 0x194-0x1A0 top left,
// top right, bottom left, bottom right, 9 bits): subtracted, nothing below
// black wraps (it is 0), and the remaining range stretched back to 0..1023.
void BlackLevelStage(const RegisterImage& regs, BayerLut* lut) {
  bool on = (RegAt(regs, kRegModuleEnable) & kModBlackLevel) != 0;
  for (int p = 0; p < 4; ++p) {
    uint32_t black = on ? RegAt(regs, kRegBlackLevel + 4 * p) & 0x1FF : 0;
    double scale = 1023.0 / double(1023 - black);
    for (uint32_t v = 0; v < 1024; ++v) {
      double out = v <= black ? 0.0 : (v - black) * scale;
      lut->phase[p][v] = uint16_t(std::min(1023.0, out + 0.5));
    }
  }
}

// Channel gains, always on (10-bit Q7 fields): 0x1B4 green of even rows bits
// 0-9 and green of odd rows 16-25; 0x1B8 blue bits 0-9, red 16-25. Each site
// is scaled by its colour's gain and clipped at 1023.
void ChannelGainStage(const RegisterImage& regs, BayerLut* lut) {
  uint32_t greens = RegAt(regs, kRegChannelGain), blueRed = RegAt(regs, kRegChannelGain + 4);
  uint32_t order = RegAt(regs, kRegInputFormat) & 3;
  for (uint32_t p = 0; p < 4; ++p) {
    uint32_t x = p & 1, y = p >> 1;
    uint32_t gain;
    switch (BayerColour(order, x, y)) {
      case 0: gain = (blueRed >> 16) & 0x3FF; break;
      case 2: gain = blueRed & 0x3FF; break;
      default: gain = y == 0 ? greens & 0x3FF : (greens >> 16) & 0x3FF; break;
    }
    if (gain == 128) continue;
    for (uint32_t v = 0; v < 1024; ++v)
      lut->phase[p][v] = uint16_t(std::min<uint32_t>(1023, (lut->phase[p][v] * gain + 64) >> 7));
  }
}

// ---- Demosaic ---------------------------------------------------------------------
// Over the demosaic area (the window less 6 samples on
// each side and 3 lines at top and bottom), computed only inside the crop.
}  // namespace

Crop FovCrop(const RegisterImage& regs, const BayerView& win) {
  uint32_t areaW = win.width - 2 * kDemosaicMarginX, areaH = win.height - 2 * kDemosaicMarginY;
  uint32_t px = RegAt(regs, kRegFovPixels), ln = RegAt(regs, kRegFovLines);
  uint32_t x0 = (px >> 16) & 0xFFF, x1 = px & 0xFFF, y0 = (ln >> 16) & 0xFFF, y1 = ln & 0xFFF;
  if (px == 0 && ln == 0) return {0, 0, areaW, areaH};
  x1 = std::min(x1, areaW - 1);
  y1 = std::min(y1, areaH - 1);
  if (x0 > x1 || y0 > y1) return {0, 0, areaW, areaH};
  return {x0, y0, x1 - x0 + 1, y1 - y0 + 1};
}

namespace {

// A frame's planes of one kind: R, G, B (uint16) or Y, Cb, Cr (uint8).
template <typename T>
struct Planes {
  uint32_t width = 0, height = 0;
  FrameVector<T> c[3];
  void Resize(uint32_t w, uint32_t h) {
    width = w;
    height = h;
    for (auto& p : c) p.resize(size_t(w) * h);
  }
};

// The crop plus a one-sample border, through the Bayer stages' tables, one
// row at a time: the three rows the demosaic needs stay in a small ring.
class LinearRows {
 public:
  LinearRows(const BayerView& win, const BayerLut& lut, const Crop& crop)
      : win_(win), lut_(lut), x0_(kDemosaicMarginX + crop.x - 1), y0_(kDemosaicMarginY + crop.y - 1),
        width_(crop.width + 2) {
    for (auto& r : ring_) r.resize(width_);
  }
  uint32_t x0() const { return x0_; }
  uint32_t y0() const { return y0_; }
  uint32_t width() const { return width_; }
  // Row i of the bordered crop (window row y0 + i).
  const uint16_t* Row(uint32_t i) {
    uint32_t slot = i % 3;
    if (have_[slot] == i) return ring_[slot].data();
    have_[slot] = i;
    uint16_t* dst = ring_[slot].data();
    uint32_t wy = y0_ + i;
    const uint16_t* src = win_.data + size_t(wy) * win_.stride + x0_;
    const uint16_t* even = lut_.phase[((wy & 1) << 1) | (x0_ & 1)];
    const uint16_t* odd = lut_.phase[((wy & 1) << 1) | ((x0_ + 1) & 1)];
    uint32_t x = 0;
    for (; x + 1 < width_; x += 2) {
      dst[x] = even[src[x] & 1023];
      dst[x + 1] = odd[src[x + 1] & 1023];
    }
    if (x < width_) dst[x] = even[src[x] & 1023];
    return dst;
  }

 private:
  const BayerView& win_;
  const BayerLut& lut_;
  uint32_t x0_, y0_, width_;
  std::vector<uint16_t> ring_[3];
  uint32_t have_[3] = {~0u, ~0u, ~0u};
};

// Means weighted by 1 / q (q >= 1), with a single division: over two values
// (a q1 + b q0) / (q0 + q1); over four the same with the other three q's
// products. Plain and four lanes at a time.
inline float Mean2(float a, float qa, float b, float qb) { return (a * qb + b * qa) / (qa + qb); }
inline float Mean4(const float v[4], const float q[4]) {
  float p01 = q[0] * q[1], p23 = q[2] * q[3];
  float num = (v[0] * q[1] + v[1] * q[0]) * p23 + (v[2] * q[3] + v[3] * q[2]) * p01;
  return num / ((q[0] + q[1]) * p23 + (q[2] + q[3]) * p01);
}
inline __m128 Mean2(__m128 a, __m128 qa, __m128 b, __m128 qb) {
  return _mm_div_ps(_mm_add_ps(_mm_mul_ps(a, qb), _mm_mul_ps(b, qa)), _mm_add_ps(qa, qb));
}
inline __m128 Mean4(const __m128 v[4], const __m128 q[4]) {
  __m128 p01 = _mm_mul_ps(q[0], q[1]), p23 = _mm_mul_ps(q[2], q[3]);
  __m128 num = _mm_add_ps(_mm_mul_ps(_mm_add_ps(_mm_mul_ps(v[0], q[1]), _mm_mul_ps(v[1], q[0])), p23),
                          _mm_mul_ps(_mm_add_ps(_mm_mul_ps(v[2], q[3]), _mm_mul_ps(v[3], q[2])), p01));
  return _mm_div_ps(num, _mm_add_ps(_mm_mul_ps(_mm_add_ps(q[0], q[1]), p23), _mm_mul_ps(_mm_add_ps(q[2], q[3]), p01)));
}

// The demosaic. Green at a red or blue site is a weighted mean of the
// estimates from its four sides, each the green there corrected by the
// site's own colour's change towards that side, the smoother sides weighing
// most (so an edge or a corner is interpolated along, never across); red and
// blue are green plus the colour differences of the nearest sites of their
// colour, those whose green is nearest this site's weighing most. The differences are taken white-balanced
// (with the white-balance block's gains), so that on a grey edge they are
// nil and all three colours keep the edge where it is: interpolating red and
// blue on their own sparse grids (bilinearly) puts them half a sample to
// either side of a sharp edge, and a neutral edge comes out fringed.
class DemosaicRows {
 public:
  static constexpr uint32_t kBorder = 3;  // samples around the crop the demosaic reads
  DemosaicRows(const BayerView& win, const BayerLut& lut, const Crop& crop, const float gains[3])
      : win_(win), lut_(lut), x0_(kDemosaicMarginX + crop.x - kBorder), y0_(kDemosaicMarginY + crop.y - kBorder),
        width_(crop.width + 2 * kBorder) {
    for (int c = 0; c < 3; ++c) {
      gain_[c] = gains[c];
      inverse_[c] = 1.0f / gains[c];
    }
    for (auto& r : raw_) r.resize(width_);
    for (auto& r : green_) r.assign(width_, 0.0f);
    for (auto& r : diff_) r.assign(width_, 0.0f);
    for (auto* v : {&across_, &along_, &diagonal_}) v->assign(width_, 0.0f);
  }

  // Crop row y into three rows of crop.width samples.
  void Row(uint32_t y, uint16_t* r, uint16_t* g, uint16_t* b) {
    const uint32_t j = y + kBorder;
    const float* __restrict raw = Raw(j);
    const float* __restrict green = Green(j);
    const float* __restrict greenUp = Green(j - 1);
    const float* __restrict greenDn = Green(j + 1);
    const float* __restrict up = Diff(j - 1);
    const float* __restrict mid = Diff(j);
    const float* __restrict dn = Diff(j + 1);
    const uint32_t wy = y0_ + j, n = width_ - 2 * kBorder;
    // The neighbours' differences, each weighted by how close its green is
    // to this site's (those on the site's side of an edge count), for every
    // site: across and along its row (used at green sites) and diagonally
    // (at red and blue ones).
    float* __restrict across = across_.data();
    float* __restrict along = along_.data();
    float* __restrict diagonal = diagonal_.data();
    auto q = [](float a, float b) { return 1.0f + (a - b) * (a - b); };
    const __m128 one = _mm_set1_ps(1.0f);
    auto q4 = [&](__m128 a, __m128 b) {
      __m128 d = _mm_sub_ps(a, b);
      return _mm_add_ps(one, _mm_mul_ps(d, d));
    };
    auto at = [](const float* p) { return _mm_loadu_ps(p); };
    uint32_t i = 2;
    for (; i + 4 + 2 <= width_; i += 4) {
      const __m128 c = at(green + i);
      _mm_storeu_ps(across + i, Mean2(at(mid + i - 1), q4(c, at(green + i - 1)), at(mid + i + 1), q4(c, at(green + i + 1))));
      _mm_storeu_ps(along + i, Mean2(at(up + i), q4(c, at(greenUp + i)), at(dn + i), q4(c, at(greenDn + i))));
      const __m128 v[4] = {at(up + i - 1), at(up + i + 1), at(dn + i - 1), at(dn + i + 1)};
      const __m128 w[4] = {q4(c, at(greenUp + i - 1)), q4(c, at(greenUp + i + 1)), q4(c, at(greenDn + i - 1)),
                           q4(c, at(greenDn + i + 1))};
      _mm_storeu_ps(diagonal + i, Mean4(v, w));
    }
    for (; i + 2 < width_; ++i) {
      const float c = green[i];
      across[i] = Mean2(mid[i - 1], q(c, green[i - 1]), mid[i + 1], q(c, green[i + 1]));
      along[i] = Mean2(up[i], q(c, greenUp[i]), dn[i], q(c, greenDn[i]));
      const float v[4] = {up[i - 1], up[i + 1], dn[i - 1], dn[i + 1]};
      const float w[4] = {q(c, greenUp[i - 1]), q(c, greenUp[i + 1]), q(c, greenDn[i - 1]), q(c, greenDn[i + 1])};
      diagonal[i] = Mean4(v, w);
    }
    // Each site keeps what its kind needs: green is the green row (a green
    // site's own sample); the row's colour C is its own sample at a C site;
    // the other colour O comes from above and below at a green site and
    // diagonally at a C site.
    const uint32_t firstIsGreen = BayerColour(win_.order, x0_ + kBorder, wy) == 1;
    const int rowColour = BayerColour(win_.order, x0_ + kBorder + firstIsGreen, wy), other = 2 - rowColour;
    uint16_t* out[3] = {r, g, b};
    uint16_t* __restrict cOut = out[rowColour];
    uint16_t* __restrict oOut = out[other];
    const float ic = inverse_[rowColour], io = inverse_[other], ig = inverse_[1];
    const __m128 half = _mm_set1_ps(0.5f), top = _mm_set1_ps(1023.0f), zero = _mm_setzero_ps();
    const __m128 greenLanes = _mm_castsi128_ps(firstIsGreen ? _mm_set_epi32(0, -1, 0, -1) : _mm_set_epi32(-1, 0, -1, 0));
    auto pick = [&](__m128 atGreen, __m128 atColour) {
      return _mm_or_ps(_mm_and_ps(greenLanes, atGreen), _mm_andnot_ps(greenLanes, atColour));
    };
    auto store = [&](uint16_t* dst, __m128 v, float inverse) {
      v = _mm_min_ps(_mm_max_ps(_mm_add_ps(_mm_mul_ps(v, _mm_set1_ps(inverse)), half), zero), top);
      __m128i q = _mm_cvttps_epi32(v);
      _mm_storel_epi64(reinterpret_cast<__m128i*>(dst), _mm_packs_epi32(q, q));
    };
    uint32_t x = 0;
    for (; x + 4 <= n; x += 4) {
      const uint32_t i = x + kBorder;
      const __m128 gv = at(green + i);
      store(g + x, gv, ig);
      store(cOut + x, pick(_mm_add_ps(gv, at(across + i)), at(raw + i)), ic);
      store(oOut + x, _mm_add_ps(gv, pick(at(along + i), at(diagonal + i))), io);
    }
    for (; x < n; ++x) {
      const uint32_t i = x + kBorder;
      const bool greenSite = (x & 1) == (firstIsGreen ? 0u : 1u);
      g[x] = Sample(green[i] * ig);
      cOut[x] = Sample((greenSite ? green[i] + across[i] : raw[i]) * ic);
      oOut[x] = Sample((green[i] + (greenSite ? along[i] : diagonal[i])) * io);
    }
  }

 private:
  static uint16_t Sample(float v) { return uint16_t(std::clamp(v + 0.5f, 0.0f, 1023.0f)); }
  // Bordered row j (window row y0 + j), linear and white-balanced.
  const float* Raw(uint32_t j) {
    uint32_t slot = j % 7;
    if (haveRaw_[slot] == j) return raw_[slot].data();
    haveRaw_[slot] = j;
    float* dst = raw_[slot].data();
    const uint32_t wy = y0_ + j;
    const uint16_t* src = win_.data + size_t(wy) * win_.stride + x0_;
    for (uint32_t p = 0; p < 2; ++p) {
      const uint16_t* table = lut_.phase[((wy & 1) << 1) | ((x0_ + p) & 1)];
      const float gain = gain_[BayerColour(win_.order, x0_ + p, wy)];
      for (uint32_t i = p; i < width_; i += 2) dst[i] = float(table[src[i] & 1023]) * gain;
    }
    return dst;
  }
  // Green of bordered row j at columns 2 .. width - 3: from each side of a red
  // or blue site, the green next to it plus half the change of the site's
  // colour towards that side, weighted by how little changes on that side.
  const float* Green(uint32_t j) {
    uint32_t slot = j % 3;
    if (haveGreen_[slot] == j) return green_[slot].data();
    haveGreen_[slot] = j;
    float* __restrict dst = green_[slot].data();
    const float* __restrict u2 = Raw(j - 2);
    const float* __restrict u1 = Raw(j - 1);
    const float* __restrict m = Raw(j);
    const float* __restrict d1 = Raw(j + 1);
    const float* __restrict d2 = Raw(j + 2);
    const uint32_t wy = y0_ + j;
    // Odd or even columns are green.
    const uint32_t greenParity = BayerColour(win_.order, x0_, wy) == 1 ? 0 : 1;
    // From the sides left, right, up, down: the estimate, and 1 + the
    // square of the change on that side.
    auto side = [](float c, float g, float opposite, float far, float* estimate) {
      float step = 2 * std::fabs(c - far) + std::fabs(g - opposite);
      *estimate = g + 0.5f * (c - far);
      return 1.0f + step * step;
    };
    const __m128 one = _mm_set1_ps(1.0f), two = _mm_set1_ps(2.0f), halfStep = _mm_set1_ps(0.5f), zero = _mm_setzero_ps();
    const __m128 sign = _mm_set1_ps(-0.0f);
    auto side4 = [&](__m128 c, __m128 g, __m128 opposite, __m128 far, __m128* estimate) {
      __m128 step = _mm_add_ps(_mm_mul_ps(two, _mm_andnot_ps(sign, _mm_sub_ps(c, far))),
                               _mm_andnot_ps(sign, _mm_sub_ps(g, opposite)));
      *estimate = _mm_add_ps(g, _mm_mul_ps(halfStep, _mm_sub_ps(c, far)));
      return _mm_add_ps(one, _mm_mul_ps(step, step));
    };
    auto at = [](const float* p) { return _mm_loadu_ps(p); };
    const __m128 greenLanes = _mm_castsi128_ps(greenParity == 0 ? _mm_set_epi32(0, -1, 0, -1) : _mm_set_epi32(-1, 0, -1, 0));
    uint32_t i = 2;
    for (; i + 4 + 2 <= width_; i += 4) {  // i stays even: lane 0 is an even column
      const __m128 c = at(m + i), l = at(m + i - 1), r = at(m + i + 1), u = at(u1 + i), d = at(d1 + i);
      __m128 v[4], q[4];
      q[0] = side4(c, l, r, at(m + i - 2), &v[0]);
      q[1] = side4(c, r, l, at(m + i + 2), &v[1]);
      q[2] = side4(c, u, d, at(u2 + i), &v[2]);
      q[3] = side4(c, d, u, at(d2 + i), &v[3]);
      __m128 estimate = _mm_max_ps(zero, Mean4(v, q));
      _mm_storeu_ps(dst + i, _mm_or_ps(_mm_and_ps(greenLanes, c), _mm_andnot_ps(greenLanes, estimate)));
    }
    for (; i + 2 < width_; ++i) {
      const float c = m[i];
      float v[4], q[4];
      q[0] = side(c, m[i - 1], m[i + 1], m[i - 2], &v[0]);
      q[1] = side(c, m[i + 1], m[i - 1], m[i + 2], &v[1]);
      q[2] = side(c, u1[i], d1[i], u2[i], &v[2]);
      q[3] = side(c, d1[i], u1[i], d2[i], &v[3]);
      dst[i] = (i & 1) == greenParity ? c : std::max(0.0f, Mean4(v, q));
    }
    return dst;
  }
  // Colour minus green of bordered row j at its red and blue sites (0 at green).
  const float* Diff(uint32_t j) {
    uint32_t slot = j % 3;
    if (haveDiff_[slot] == j) return diff_[slot].data();
    const float* __restrict green = Green(j);
    const float* __restrict raw = Raw(j);
    haveDiff_[slot] = j;
    float* __restrict dst = diff_[slot].data();
    const uint32_t greenParity = BayerColour(win_.order, x0_, y0_ + j) == 1 ? 0 : 1;
    for (uint32_t i = 2; i + 2 < width_; ++i) dst[i] = (i & 1) == greenParity ? 0.0f : raw[i] - green[i];
    return dst;
  }

  const BayerView& win_;
  const BayerLut& lut_;
  uint32_t x0_, y0_, width_;
  float gain_[3], inverse_[3];
  std::vector<float> raw_[7], green_[3], diff_[3];
  std::vector<float> across_, along_, diagonal_;
  uint32_t haveRaw_[7] = {~0u, ~0u, ~0u, ~0u, ~0u, ~0u, ~0u};
  uint32_t haveGreen_[3] = {~0u, ~0u, ~0u}, haveDiff_[3] = {~0u, ~0u, ~0u};
};

// Demosaic off: every colour of a pixel is its own sample.
void MosaicRow(LinearRows& lin, uint32_t y, uint16_t* r, uint16_t* g, uint16_t* b) {
  uint32_t w = lin.width() - 2;
  const uint16_t* mid = lin.Row(y + 1) + 1;
  for (uint32_t x = 0; x < w; ++x) r[x] = g[x] = b[x] = mid[x];
}

// The crop's rows of R, G, B, demosaiced or (module bit 4 off) not.
class CropRows {
 public:
  CropRows(const BayerView& win, const BayerLut& lut, const Crop& crop, bool demosaic, const float gains[3]) {
    if (demosaic)
      demosaic_.emplace(win, lut, crop, gains);
    else
      mosaic_.emplace(win, lut, crop);
  }
  void Row(uint32_t y, uint16_t* r, uint16_t* g, uint16_t* b) {
    if (demosaic_)
      demosaic_->Row(y, r, g, b);
    else
      MosaicRow(*mosaic_, y, r, g, b);
  }

 private:
  std::optional<DemosaicRows> demosaic_;
  std::optional<LinearRows> mosaic_;
};

// The white-balance block's gains (R, G, B) as the demosaic weighs its colour
// differences: unity with the block off, and a zero gain taken as unity.
void DemosaicGains(const RegisterImage& regs, float gains[3]) {
  uint32_t v = RegAt(regs, kRegWhiteBalance);
  bool on = (RegAt(regs, kRegModuleEnable) & kModWhiteBalance) != 0;
  uint32_t field[3] = {(v >> 18) & 0x1FF, v & 0x1FF, (v >> 9) & 0x1FF};
  for (int c = 0; c < 3; ++c) gains[c] = on && field[c] ? float(field[c]) / 128.0f : 1.0f;
}

// ---- Scalers ----------------------------------------------------------------------
// Area resampling: each output sample is the mean of the input it covers.
struct Taps {
  std::vector<uint32_t> first, count, offset;
  std::vector<float> weight;  // count[i] weights per output, flattened
};

Taps MakeTaps(uint32_t in, uint32_t out) {
  Taps t;
  double ratio = double(in) / double(out);
  for (uint32_t i = 0; i < out; ++i) {
    double a = i * ratio, b = (i + 1) * ratio;
    uint32_t first = uint32_t(a), last = std::min(in - 1, uint32_t(std::ceil(b) - 1));
    t.first.push_back(first);
    t.count.push_back(last - first + 1);
    t.offset.push_back(uint32_t(t.weight.size()));
    for (uint32_t k = first; k <= last; ++k) {
      double lo = std::max(a, double(k)), hi = std::min(b, double(k + 1));
      t.weight.push_back(float((hi - lo) / ratio));
    }
  }
  return t;
}

// Columns first: each output row sums its input rows across the whole width
// (four samples at a time), then the row's outputs sum their columns.
// Output rows [j0, j1) only (all by default), so that stripes may share the work.
template <typename T>
void AreaScale(const T* src, uint32_t sw, uint32_t sh, T* dst, uint32_t dw, uint32_t dh, uint32_t j0 = 0,
               uint32_t j1 = ~0u) {
  j1 = std::min(j1, dh);
  if (j0 >= j1) return;
  if (sw == dw && sh == dh) {
    std::memcpy(dst + size_t(j0) * sw, src + size_t(j0) * sw, sizeof(T) * sw * (j1 - j0));
    return;
  }
  Taps h = MakeTaps(sw, dw), v = MakeTaps(sh, dh);
  std::vector<float> column(sw);
  float* __restrict acc = column.data();
  for (uint32_t j = j0; j < j1; ++j) {
    std::fill(column.begin(), column.end(), 0.0f);
    const float* w = &v.weight[v.offset[j]];
    for (uint32_t k = 0; k < v.count[j]; ++k) {
      const T* __restrict row = src + size_t(v.first[j] + k) * sw;
      const float wk = w[k];
      for (uint32_t x = 0; x < sw; ++x) acc[x] += wk * float(row[x]);
    }
    T* o = dst + size_t(j) * dw;
    for (uint32_t i = 0; i < dw; ++i) {
      const float* hw = &h.weight[h.offset[i]];
      const float* c = acc + h.first[i];
      float sum = 0;
      for (uint32_t k = 0; k < h.count[i]; ++k) sum += hw[k] * c[k];
      o[i] = T(sum + 0.5f);
    }
  }
}

// A scaler (module bit, then word 0: bit 0 horizontal, bit 1 vertical
// enable; per direction a size word with the output in bits 16-27 and a phase
// word with the step in bits 0-17 and N in bits 20-21). A running direction
// steps through its input by phase / 2^(12 + N) per output sample; it only
// shrinks, by at most 32. It refuses (no output) an output of 0 or larger
// than its input, a ratio above 32, a step below 1, and a step that would run
// off or stop short of the input by more than one step.
struct ScalerResult {
  uint32_t width, height;
  bool refused;
};
bool DirectionRefused(uint32_t sizeWord, uint32_t phaseWord, uint32_t in, uint32_t* out) {
  uint32_t o = (sizeWord >> 16) & 0xFFF;
  uint64_t phase = phaseWord & 0x3FFFF, unit = 1ull << (12 + ((phaseWord >> 20) & 3));
  *out = o;
  if (o == 0 || o > in || in / o > 32 || phase < unit) return true;
  int64_t miss = int64_t(o * phase) - int64_t(in * unit);
  return uint64_t(miss < 0 ? -miss : miss) > phase;
}
ScalerResult Scaler(const RegisterImage& regs, uint32_t base, uint32_t hWord, uint32_t vWord, bool module, uint32_t inW,
                    uint32_t inH) {
  ScalerResult r{inW, inH, false};
  if (!module) return r;
  uint32_t en = RegAt(regs, base);
  if (en & 1) r.refused |= DirectionRefused(RegAt(regs, hWord), RegAt(regs, hWord + 4), inW, &r.width);
  if (en & 2) r.refused |= DirectionRefused(RegAt(regs, vWord), RegAt(regs, vWord + 4), inH, &r.height);
  return r;
}

// ---- Colour stages ------------------------------------------------------------------
// In the hardware's order: white balance, colour correction and luma
// adaptation on 10-bit linear R, G, B; gamma to 8 bits; colour conversion to
// Y, Cb, Cr; chroma suppression; the output clamp. Each stage reads its own
// registers (and tables) once per frame into a setup, then works row by row
// (loops kept simple so that they run four or eight samples at a time).
struct RgbRow {
  uint16_t* r;
  uint16_t* g;
  uint16_t* b;
  uint32_t n;
};

// Sign extension of a `bits`-wide register field.
inline int32_t Signed(uint32_t v, uint32_t bits) {
  uint32_t m = 1u << (bits - 1);
  v &= (1u << bits) - 1;
  return int32_t(v ^ m) - int32_t(m);
}

// Eight samples at a time: pairs of 16-bit lanes multiplied and summed into
// 32 bits (a x p + b x q), which holds every product of a 10-bit sample and a
// 12-bit coefficient exactly.
inline __m128i Pairs(int32_t a, int32_t b) { return _mm_set1_epi32(int32_t((uint32_t(b) << 16) | (uint32_t(a) & 0xFFFF))); }
// (x, y) lane pairs of eight samples: the low four and the high four.
struct Interleaved {
  __m128i lo, hi;
  Interleaved(__m128i x, __m128i y) : lo(_mm_unpacklo_epi16(x, y)), hi(_mm_unpackhi_epi16(x, y)) {}
};
// a x p + b x q + c x r + d x s >> shift, per sample, packed back to 16 bits
// (signed saturation) for the eight samples of `pq` (p, q) and `rs` (r, s).
inline __m128i Madd8(const Interleaved& pq, __m128i ab, const Interleaved& rs, __m128i cd, __m128i shift) {
  __m128i lo = _mm_sra_epi32(_mm_add_epi32(_mm_madd_epi16(pq.lo, ab), _mm_madd_epi16(rs.lo, cd)), shift);
  __m128i hi = _mm_sra_epi32(_mm_add_epi32(_mm_madd_epi16(pq.hi, ab), _mm_madd_epi16(rs.hi, cd)), shift);
  return _mm_packs_epi32(lo, hi);
}

// White balance (module bit 8): 0x2B4 G bits 0-8, B 9-17, R 18-26, Q7.
struct WhiteBalance {
  bool on = false;
  int32_t r = 128, g = 128, b = 128;
};
WhiteBalance WhiteBalanceOf(const RegisterImage& regs) {
  WhiteBalance w;
  w.on = (RegAt(regs, kRegModuleEnable) & kModWhiteBalance) != 0;
  uint32_t v = RegAt(regs, kRegWhiteBalance);
  w.g = int32_t(v & 0x1FF);
  w.b = int32_t((v >> 9) & 0x1FF);
  w.r = int32_t((v >> 18) & 0x1FF);
  return w;
}
// min(1023, round(v x gain / 128)), halves up.
inline void ScaleChannel(uint16_t* __restrict p, uint32_t n, int32_t gain) {
  const __m128i gainRound = Pairs(gain, 64), one = _mm_set1_epi16(1), zero = _mm_setzero_si128();
  const __m128i top = _mm_set1_epi16(1023), shift = _mm_cvtsi32_si128(7);
  uint32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    Interleaved v(Load8(p + i), one);
    Store8(p + i, _mm_min_epi16(Madd8(v, gainRound, v, zero, shift), top));
  }
  for (; i < n; ++i) p[i] = uint16_t(std::min<int32_t>(1023, (int32_t(p[i]) * gain + 64) >> 7));
}
void WhiteBalanceStage(const WhiteBalance& w, const RgbRow& row) {
  if (!w.on) return;
  ScaleChannel(row.r, row.n, w.r);
  ScaleChannel(row.g, row.n, w.g);
  ScaleChannel(row.b, row.n, w.b);
}

// Colour correction (module bit 9): nine 12-bit coefficients from 0x1E8 in the
// hardware's order (rows G, B, R; columns G, B, R) with Q + 7 fraction bits
// (Q in 0x218 bits 0-1), then 11-bit offsets G, B, R (0x20C-0x214) on the
// 10-bit scale; each output rounded (halves up) and clipped to 0..1023.
struct ColourCorrection {
  bool on = false;
  int32_t m[3][3] = {};    // [output R, G, B][input R, G, B]
  int32_t offset[3] = {};  // R, G, B
  int32_t shift = 7;
};
ColourCorrection ColourCorrectionOf(const RegisterImage& regs) {
  ColourCorrection c;
  c.on = (RegAt(regs, kRegModuleEnable) & kModColourCorrection) != 0;
  static const int kHw[3] = {1, 2, 0};  // hardware row/column k is colour kHw[k] (G, B, R)
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col)
      c.m[kHw[row]][kHw[col]] = Signed(RegAt(regs, kRegColourCorrection + 4 * (3 * row + col)), 12);
    c.offset[kHw[row]] = Signed(RegAt(regs, kRegColourCorrection + 36 + 4 * row), 11);
  }
  c.shift = 7 + int32_t(RegAt(regs, kRegColourCorrection + 48) & 3);
  return c;
}
void ColourCorrectionStage(const ColourCorrection& c, const RgbRow& row) {
  if (!c.on) return;
  uint16_t* __restrict r = row.r;
  uint16_t* __restrict g = row.g;
  uint16_t* __restrict b = row.b;
  const int32_t half = 1 << (c.shift - 1);
  __m128i rg[3], b1[3], offset[3];
  for (int k = 0; k < 3; ++k) {
    rg[k] = Pairs(c.m[k][0], c.m[k][1]);
    b1[k] = Pairs(c.m[k][2], half);
    offset[k] = _mm_set1_epi16(int16_t(c.offset[k]));
  }
  const __m128i one = _mm_set1_epi16(1), zero = _mm_setzero_si128(), top = _mm_set1_epi16(1023);
  const __m128i shift = _mm_cvtsi32_si128(c.shift);
  uint32_t i = 0;
  for (; i + 8 <= row.n; i += 8) {
    Interleaved vrg(Load8(r + i), Load8(g + i)), vb1(Load8(b + i), one);
    __m128i out[3];
    for (int k = 0; k < 3; ++k)
      out[k] = _mm_min_epi16(_mm_max_epi16(_mm_adds_epi16(Madd8(vrg, rg[k], vb1, b1[k], shift), offset[k]), zero), top);
    Store8(r + i, out[0]);
    Store8(g + i, out[1]);
    Store8(b + i, out[2]);
  }
  for (; i < row.n; ++i) {
    int32_t vr = r[i], vg = g[i], vb = b[i];
    int32_t o[3];
    for (int k = 0; k < 3; ++k) o[k] = ((c.m[k][0] * vr + c.m[k][1] * vg + c.m[k][2] * vb + half) >> c.shift) + c.offset[k];
    r[i] = uint16_t(std::clamp(o[0], 0, 1023));
    g[i] = uint16_t(std::clamp(o[1], 0, 1023));
    b[i] = uint16_t(std::clamp(o[2], 0, 1023));
  }
}

// Luma adaptation (module bit 12): table 14 + bank (0x21C bit 0), one entry
// per 8-bit luma level: bits 0-7 the gain (Q6), bits 8-13 the signed step to
// the next level's gain, interpolated over the two bits below the level. The
// luma is the BT.601 luma of the linear pixel.
struct LumaAdaptation {
  bool on = false;
  uint16_t gain[1024];  // Q8, by 10-bit luma
};
void LumaAdaptationOf(const RegisterImage& regs, const std::array<std::vector<uint32_t>, kTableCount>& tables,
                      LumaAdaptation* la) {
  // A table never written leaves the block off.
  const std::vector<uint32_t>& t = tables[kTableLumaAdaptation + (RegAt(regs, kRegLumaBank) & 1)];
  la->on = (RegAt(regs, kRegModuleEnable) & kModLumaAdaptation) != 0 && !t.empty();
  if (!la->on) return;
  for (uint32_t x = 0; x < 1024; ++x) {
    uint32_t e = x / 4 < t.size() ? t[x / 4] : 0;
    int32_t g = 4 * int32_t(e & 0xFF) + Signed(e >> 8, 6) * int32_t(x & 3);
    la->gain[x] = uint16_t(std::max(0, g));
  }
}
void LumaAdaptationStage(const LumaAdaptation& la, const RgbRow& row, uint16_t* __restrict gain) {
  if (!la.on) return;
  uint16_t* __restrict r = row.r;
  uint16_t* __restrict g = row.g;
  uint16_t* __restrict b = row.b;
  const __m128i one = _mm_set1_epi16(1), round = _mm_set1_epi16(128), top = _mm_set1_epi16(1023);
  const __m128i shift = _mm_cvtsi32_si128(8), rg = Pairs(77, 150), b1 = Pairs(29, 128);
  uint32_t i = 0;
  for (; i + 8 <= row.n; i += 8)
    Store8(gain + i, Madd8(Interleaved(Load8(r + i), Load8(g + i)), rg, Interleaved(Load8(b + i), one), b1, shift));
  for (; i < row.n; ++i) gain[i] = uint16_t((77 * r[i] + 150 * g[i] + 29 * b[i] + 128) >> 8);
  for (i = 0; i < row.n; ++i) gain[i] = la.gain[gain[i] & 1023];
  for (i = 0; i + 8 <= row.n; i += 8) {
    Interleaved k(Load8(gain + i), round);  // (gain, 128) against (sample, 1)
    uint16_t* planes[3] = {r, g, b};
    for (uint16_t* p : planes) {
      Interleaved v(Load8(p + i), one);
      __m128i lo = _mm_srai_epi32(_mm_madd_epi16(v.lo, k.lo), 8), hi = _mm_srai_epi32(_mm_madd_epi16(v.hi, k.hi), 8);
      Store8(p + i, _mm_min_epi16(_mm_packs_epi32(lo, hi), top));
    }
  }
  for (; i < row.n; ++i) {
    int32_t k = gain[i];
    r[i] = uint16_t(std::min<int32_t>(1023, (r[i] * k + 128) >> 8));
    g[i] = uint16_t(std::min<int32_t>(1023, (g[i] * k + 128) >> 8));
    b[i] = uint16_t(std::min<int32_t>(1023, (b[i] * k + 128) >> 8));
  }
}

// Gamma (module bit 13): per channel (0 G, 1 B, 2 R) table 2 + 2 x channel +
// its bank (0x220 bit channel); 256 entries of the value (bits 0-7) at four
// input points and the signed step to the next (bits 8-15), interpolated over
// the two low input bits. Off, or with its table never written, a channel
// passes the top 8 of the 10 bits.
struct Gamma {
  uint8_t lut[3][1024];  // R, G, B
};
void GammaOf(const RegisterImage& regs, const std::array<std::vector<uint32_t>, kTableCount>& tables, Gamma* gm) {
  bool on = (RegAt(regs, kRegModuleEnable) & kModGamma) != 0;
  uint32_t banks = RegAt(regs, kRegGammaBanks);
  static const int kColour[3] = {1, 2, 0};
  for (uint32_t ch = 0; ch < 3; ++ch) {
    uint8_t* lut = gm->lut[kColour[ch]];
    // A channel whose table was never written passes as with the block off.
    const std::vector<uint32_t>& t = tables[kTableGamma + 2 * ch + ((banks >> ch) & 1)];
    if (!on || t.empty()) {
      for (uint32_t x = 0; x < 1024; ++x) lut[x] = uint8_t(x >> 2);
      continue;
    }
    for (uint32_t x = 0; x < 1024; ++x) {
      uint32_t e = x / 4 < t.size() ? t[x / 4] : 0;
      int32_t v = 4 * int32_t(e & 0xFF) + Signed(e >> 8, 8) * int32_t(x & 3);
      lut[x] = uint8_t(std::clamp((v + 2) >> 2, 0, 255));
    }
  }
}
void GammaStage(const Gamma& gm, const RgbRow& in, uint8_t* const out[3]) {
  const uint16_t* planes[3] = {in.r, in.g, in.b};
  for (int k = 0; k < 3; ++k) {
    const uint16_t* __restrict p = planes[k];
    const uint8_t* __restrict lut = gm.lut[k];
    uint8_t* __restrict o = out[k];
    for (uint32_t i = 0; i < in.n; ++i) o[i] = lut[p[i] & 1023];
  }
}

// Colour conversion (module bit 14), Q8 coefficients:
//   Y  = RtoY R + GtoY G + BtoY B + Yoffset;
//   Cb = a (t) + k_cb, t = (B - G) + b (R - G);
//   Cr = c (t) + k_cr, t = d (B - G) + (R - G);
// each with its "p" pair (a, b or c, d) where t computed with the p shear is
// not negative, else with its "m" pair. 0x224-0x230: p bits 0-10, m bits 16-26
// for a, b, c, d; 0x234 k_cb bits 0-10, k_cr 16-26; 0x238-0x240 RtoY, GtoY,
// BtoY (12 bits); 0x244 Yoffset. Off, the fixed full-range BT.601.
struct ColourConversion {
  int32_t ap = 128, am = 128, bp = -87, bm = -87, cp = 128, cm = 128, dp = -41, dm = -41;
  int32_t kcb = 128, kcr = 128;
  int32_t ry = 77, gy = 150, by = 29, yoffset = 0;
};
ColourConversion ColourConversionOf(const RegisterImage& regs) {
  ColourConversion c;
  if (!(RegAt(regs, kRegModuleEnable) & kModColourConversion)) return c;
  auto pair = [&](uint32_t word, int32_t* p, int32_t* m) {
    uint32_t v = RegAt(regs, kRegColourConversion + 4 * word);
    *p = Signed(v, 11);
    *m = Signed(v >> 16, 11);
  };
  pair(0, &c.ap, &c.am);
  pair(1, &c.bp, &c.bm);
  pair(2, &c.cp, &c.cm);
  pair(3, &c.dp, &c.dm);
  pair(4, &c.kcb, &c.kcr);
  c.ry = Signed(RegAt(regs, kRegColourConversion + 20), 12);
  c.gy = Signed(RegAt(regs, kRegColourConversion + 24), 12);
  c.by = Signed(RegAt(regs, kRegColourConversion + 28), 12);
  c.yoffset = int32_t(RegAt(regs, kRegColourConversion + 32) & 0xFF);
  return c;
}
// v / 2^shift rounded, halves up.
inline int32_t ShiftRound(int32_t v, uint32_t shift) { return (v + (1 << (shift - 1))) >> shift; }
// Luma of one pixel (8-bit R, G, B), unclamped.
inline int32_t LumaOf(const ColourConversion& c, int32_t r, int32_t g, int32_t b) {
  return ((c.ry * r + c.gy * g + c.by * b + 128) >> 8) + c.yoffset;
}
// Cb and Cr (unclamped) of 2x2 blocks from the pair sums of their two rows,
// and each block's luma for the chroma suppression (when `luma` is given),
// eight blocks at a time. a x t / 2^18 is rounded (halves up) in single
// precision: t is exact there, the product within a ten-thousandth.
constexpr int32_t kChromaBias = 8192;  // keeps the sum positive, where truncation is the floor
inline int32_t ChromaTerm(int32_t tp, int32_t tm, float sp, float sm, float k) {
  return int32_t((tp >= 0 ? float(tp) * sp : float(tm) * sm) + k) - kChromaBias;
}
void BlockChroma(const ColourConversion& c, const uint16_t* const even[3], const uint16_t* const odd[3], uint32_t n,
                 int16_t* cb, int16_t* cr, int16_t* luma) {
  const float scale = 1.0f / 262144.0f;
  const float sap = float(c.ap) * scale, sam = float(c.am) * scale, scp = float(c.cp) * scale, scm = float(c.cm) * scale;
  const float kcb = float(c.kcb) + 0.5f + float(kChromaBias), kcr = float(c.kcr) + 0.5f + float(kChromaBias);
  const __m128i cbP = Pairs(256, c.bp), cbM = Pairs(256, c.bm), crP = Pairs(c.dp, 256), crM = Pairs(c.dm, 256);
  const __m128i rg = Pairs(c.ry, c.gy), b1 = Pairs(c.by, 512), one = _mm_set1_epi16(1), zero = _mm_setzero_si128();
  const __m128i bias = _mm_set1_epi32(kChromaBias), yoffset = _mm_set1_epi16(int16_t(c.yoffset));
  const __m128i ten = _mm_cvtsi32_si128(10);
  auto term = [&](__m128i tp, __m128i tm, float sp, float sm, float k) {
    __m128 vp = _mm_mul_ps(_mm_cvtepi32_ps(tp), _mm_set1_ps(sp)), vm = _mm_mul_ps(_mm_cvtepi32_ps(tm), _mm_set1_ps(sm));
    __m128 neg = _mm_castsi128_ps(_mm_cmplt_epi32(tp, zero));
    __m128 v = _mm_or_ps(_mm_and_ps(neg, vm), _mm_andnot_ps(neg, vp));
    return _mm_sub_epi32(_mm_cvttps_epi32(_mm_add_ps(v, _mm_set1_ps(k))), bias);
  };
  uint32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    __m128i r = _mm_add_epi16(Load8(even[0] + i), Load8(odd[0] + i));
    __m128i g = _mm_add_epi16(Load8(even[1] + i), Load8(odd[1] + i));
    __m128i b = _mm_add_epi16(Load8(even[2] + i), Load8(odd[2] + i));
    Interleaved xy(_mm_sub_epi16(b, g), _mm_sub_epi16(r, g));
    __m128i u = _mm_packs_epi32(term(_mm_madd_epi16(xy.lo, cbP), _mm_madd_epi16(xy.lo, cbM), sap, sam, kcb),
                                term(_mm_madd_epi16(xy.hi, cbP), _mm_madd_epi16(xy.hi, cbM), sap, sam, kcb));
    __m128i v = _mm_packs_epi32(term(_mm_madd_epi16(xy.lo, crP), _mm_madd_epi16(xy.lo, crM), scp, scm, kcr),
                                term(_mm_madd_epi16(xy.hi, crP), _mm_madd_epi16(xy.hi, crM), scp, scm, kcr));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(cb + i), u);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(cr + i), v);
    if (luma)
      _mm_storeu_si128(reinterpret_cast<__m128i*>(luma + i),
                       _mm_adds_epi16(Madd8(Interleaved(r, g), rg, Interleaved(b, one), b1, ten), yoffset));
  }
  for (; i < n; ++i) {
    int32_t r = even[0][i] + odd[0][i], g = even[1][i] + odd[1][i], b = even[2][i] + odd[2][i];
    int32_t x = b - g, y = r - g;
    cb[i] = int16_t(ChromaTerm(256 * x + c.bp * y, 256 * x + c.bm * y, sap, sam, kcb));
    cr[i] = int16_t(ChromaTerm(c.dp * x + 256 * y, c.dm * x + 256 * y, scp, scm, kcr));
    if (luma) luma[i] = int16_t(ShiftRound(c.ry * r + c.gy * g + c.by * b, 10) + c.yoffset);
  }
}

// The output clamp (0x2EC maximum, 0x2F0 minimum; Y, Cb, Cr in bytes 0-2).
struct Clamp {
  int lo[3], hi[3];
};
Clamp OutputClamp(const RegisterImage& regs) {
  uint32_t hi = RegAt(regs, kRegClampMax), lo = RegAt(regs, kRegClampMin);
  Clamp c;
  for (int k = 0; k < 3; ++k) {
    c.lo[k] = int((lo >> (8 * k)) & 0xFF);
    c.hi[k] = hi == 0 ? 255 : std::max(c.lo[k], int((hi >> (8 * k)) & 0xFF));
  }
  return c;
}

// Y of each pixel of the row; the row's R, G, B summed in horizontal pairs
// for the half-resolution chroma.
void ColourConversionStage(const ColourConversion& conv, const Clamp& clamp, const uint8_t* r, const uint8_t* g,
                           const uint8_t* b, uint32_t n, uint8_t* y, uint16_t* pairR, uint16_t* pairG, uint16_t* pairB) {
  const __m128i zero = _mm_setzero_si128(), one = _mm_set1_epi16(1), shift = _mm_cvtsi32_si128(8);
  const __m128i rg = Pairs(conv.ry, conv.gy), b1 = Pairs(conv.by, 128), offset = _mm_set1_epi16(int16_t(conv.yoffset));
  const __m128i lo = _mm_set1_epi16(int16_t(clamp.lo[0])), hi = _mm_set1_epi16(int16_t(clamp.hi[0]));
  auto load = [](const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
  auto store = [](uint16_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); };
  uint32_t i = 0;
  for (; i + 16 <= n; i += 16) {
    __m128i vr = load(r + i), vg = load(g + i), vb = load(b + i);
    __m128i r16[2] = {_mm_unpacklo_epi8(vr, zero), _mm_unpackhi_epi8(vr, zero)};
    __m128i g16[2] = {_mm_unpacklo_epi8(vg, zero), _mm_unpackhi_epi8(vg, zero)};
    __m128i b16[2] = {_mm_unpacklo_epi8(vb, zero), _mm_unpackhi_epi8(vb, zero)};
    __m128i luma[2];
    for (int h = 0; h < 2; ++h) {
      luma[h] = _mm_adds_epi16(Madd8(Interleaved(r16[h], g16[h]), rg, Interleaved(b16[h], one), b1, shift), offset);
      luma[h] = _mm_min_epi16(_mm_max_epi16(luma[h], lo), hi);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(y + i), _mm_packus_epi16(luma[0], luma[1]));
    // Horizontal pair sums, eight per sixteen samples.
    store(pairR + i / 2, _mm_packs_epi32(_mm_madd_epi16(r16[0], one), _mm_madd_epi16(r16[1], one)));
    store(pairG + i / 2, _mm_packs_epi32(_mm_madd_epi16(g16[0], one), _mm_madd_epi16(g16[1], one)));
    store(pairB + i / 2, _mm_packs_epi32(_mm_madd_epi16(b16[0], one), _mm_madd_epi16(b16[1], one)));
  }
  const uint32_t pairsFrom = i;
  for (; i < n; ++i) y[i] = uint8_t(std::clamp(LumaOf(conv, r[i], g[i], b[i]), clamp.lo[0], clamp.hi[0]));
  for (i = pairsFrom; i + 1 < n; i += 2) {
    pairR[i / 2] = uint16_t(r[i] + r[i + 1]);
    pairG[i / 2] = uint16_t(g[i] + g[i + 1]);
    pairB[i / 2] = uint16_t(b[i] + b[i + 1]);
  }
}

// Chroma suppression (module bit 16): colour fades towards grey in the dark
// (luma below m1, ramping in over 2^n1 levels) and in the bright (above m3,
// ramping out over 2^n3 levels), except where the chroma is strong (its
// larger distance from 128 above mm1, ramping over 2^nn1 levels keeps it).
// 0x2B8: m1 bits 0-7, m3 8-15, n1 16-18, n3 20-22; 0x2BC: mm1 bits 0-7, nn1
// 8-10. Works on a block's luma and chroma.
struct ChromaSuppression {
  bool on = false;
  int32_t m1 = 0, m3 = 255, mm1 = 0;
  uint32_t n1 = 0, n3 = 0, nn1 = 0;
};
ChromaSuppression ChromaSuppressionOf(const RegisterImage& regs) {
  ChromaSuppression s;
  s.on = (RegAt(regs, kRegModuleEnable) & kModChromaSuppression) != 0;
  uint32_t a = RegAt(regs, kRegChromaSuppression), b = RegAt(regs, kRegChromaSuppression + 4);
  s.m1 = int32_t(a & 0xFF);
  s.m3 = int32_t((a >> 8) & 0xFF);
  s.n1 = (a >> 16) & 7;
  s.n3 = (a >> 20) & 7;
  s.mm1 = int32_t(b & 0xFF);
  s.nn1 = (b >> 8) & 7;
  return s;
}
// Fraction kept (Q8) rising from 0 at `start` to 256 at start + 2^shift.
inline int32_t Ramp(int32_t v, int32_t start, uint32_t shift) {
  if (v <= start) return 0;
  int32_t d = v - start;
  return d >= (1 << shift) ? 256 : (d << 8) >> shift;
}
void ChromaSuppressionOne(const ChromaSuppression& s, int32_t y, int32_t* cb, int32_t* cr) {
  int32_t keepLuma = std::min(Ramp(y, s.m1, s.n1), Ramp(s.m3 + (1 << s.n3), y, s.n3));
  if (keepLuma >= 256) return;
  int32_t strength = std::max(std::abs(*cb - 128), std::abs(*cr - 128));
  int32_t keep = std::max(keepLuma, Ramp(strength, s.mm1, s.nn1));
  *cb = 128 + ShiftRound((*cb - 128) * keep, 8);
  *cr = 128 + ShiftRound((*cr - 128) * keep, 8);
}
// The suppression (when on) and the clamp of a row of blocks into bytes, eight
// at a time; Ramp(v, start, shift) is min(max(v - start, 0), 2^shift) x
// 2^(8 - shift) there.
void ChromaSuppressionStage(const ChromaSuppression& s, const Clamp& clamp, const int16_t* cb, const int16_t* cr,
                            const int16_t* luma, uint32_t n, uint8_t* cbOut, uint8_t* crOut) {
  const __m128i c128 = _mm_set1_epi16(128), one = _mm_set1_epi16(1), zero = _mm_setzero_si128();
  const __m128i cbLo = _mm_set1_epi16(int16_t(clamp.lo[1])), cbHi = _mm_set1_epi16(int16_t(clamp.hi[1]));
  const __m128i crLo = _mm_set1_epi16(int16_t(clamp.lo[2])), crHi = _mm_set1_epi16(int16_t(clamp.hi[2]));
  auto ramp = [&](__m128i d, uint32_t shift) {
    __m128i held = _mm_min_epi16(_mm_max_epi16(d, zero), _mm_set1_epi16(int16_t(1 << shift)));
    return _mm_sll_epi16(held, _mm_cvtsi32_si128(int(8 - shift)));
  };
  auto scaled = [&](__m128i d, __m128i keep) {  // (d x keep + 128) >> 8
    Interleaved dv(d, one), kv(keep, c128);
    return _mm_packs_epi32(_mm_srai_epi32(_mm_madd_epi16(dv.lo, kv.lo), 8), _mm_srai_epi32(_mm_madd_epi16(dv.hi, kv.hi), 8));
  };
  uint32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cb + i));
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cr + i));
    if (s.on) {
      __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(luma + i));
      __m128i du = _mm_sub_epi16(u, c128), dv = _mm_sub_epi16(v, c128);
      __m128i strength = _mm_max_epi16(_mm_max_epi16(du, _mm_sub_epi16(zero, du)), _mm_max_epi16(dv, _mm_sub_epi16(zero, dv)));
      __m128i keepLuma = _mm_min_epi16(ramp(_mm_sub_epi16(y, _mm_set1_epi16(int16_t(s.m1))), s.n1),
                                       ramp(_mm_sub_epi16(_mm_set1_epi16(int16_t(s.m3 + (1 << s.n3))), y), s.n3));
      __m128i keep = _mm_max_epi16(keepLuma, ramp(_mm_sub_epi16(strength, _mm_set1_epi16(int16_t(s.mm1))), s.nn1));
      u = _mm_add_epi16(c128, scaled(du, keep));
      v = _mm_add_epi16(c128, scaled(dv, keep));
    }
    u = _mm_min_epi16(_mm_max_epi16(u, cbLo), cbHi);
    v = _mm_min_epi16(_mm_max_epi16(v, crLo), crHi);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(cbOut + i), _mm_packus_epi16(u, u));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(crOut + i), _mm_packus_epi16(v, v));
  }
  for (; i < n; ++i) {
    int32_t u = cb[i], v = cr[i];
    if (s.on) ChromaSuppressionOne(s, luma[i], &u, &v);
    cbOut[i] = uint8_t(std::clamp(u, clamp.lo[1], clamp.hi[1]));
    crOut[i] = uint8_t(std::clamp(v, clamp.lo[2], clamp.hi[2]));
  }
}

// The main image: Y at full resolution, Cb and Cr of 2x2 blocks.
struct MainImage {
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> y, cb, cr;  // cb, cr: (width / 2) x (height / 2)
};

// Runs the colour stages over rows of R, G, B and collects the main image.
class ColourSink {
 public:
  ColourSink(const RegisterImage& regs, const std::array<std::vector<uint32_t>, kTableCount>& tables, uint32_t width,
             MainImage* out, StageClock* clock)
      : wb_(WhiteBalanceOf(regs)), cc_(ColourCorrectionOf(regs)), conv_(ColourConversionOf(regs)),
        cs_(ChromaSuppressionOf(regs)), clamp_(OutputClamp(regs)), out_(out), clock_(clock) {
    LumaAdaptationOf(regs, tables, &la_);
    GammaOf(regs, tables, &gamma_);
    for (auto& row : rgb8_) row.resize(width);
    gain_.resize(width);
    for (auto& row : pairs_) row.resize(width / 2 + 1);
    for (auto* v : {&cb_, &cr_, &luma_}) v->resize(width / 2 + 1);
  }
  void Row(uint32_t y, const RgbRow& row) {
    clock_->Lap();
    WhiteBalanceStage(wb_, row);
    clock_->Lap(kVfeStageWhiteBalance);
    ColourCorrectionStage(cc_, row);
    clock_->Lap(kVfeStageColourCorrection);
    LumaAdaptationStage(la_, row, gain_.data());
    clock_->Lap(kVfeStageLumaAdaptation);
    uint8_t* const rgb8[3] = {rgb8_[0].data(), rgb8_[1].data(), rgb8_[2].data()};
    GammaStage(gamma_, row, rgb8);
    clock_->Lap(kVfeStageGamma);
    int slot = (y & 1) * 3;
    ColourConversionStage(conv_, clamp_, rgb8_[0].data(), rgb8_[1].data(), rgb8_[2].data(), row.n,
                          &out_->y[size_t(y) * out_->width], pairs_[slot].data(), pairs_[slot + 1].data(),
                          pairs_[slot + 2].data());
    if ((y & 1) == 0 || y / 2 >= out_->height / 2) {
      clock_->Lap(kVfeStageColourConversion);
      return;
    }
    // The blocks' chroma and, for the suppression, their luma; then the
    // suppression and the clamp.
    uint32_t cw = out_->width / 2;
    const uint16_t* even[3] = {pairs_[0].data(), pairs_[1].data(), pairs_[2].data()};
    const uint16_t* odd[3] = {pairs_[3].data(), pairs_[4].data(), pairs_[5].data()};
    BlockChroma(conv_, even, odd, cw, cb_.data(), cr_.data(), cs_.on ? luma_.data() : nullptr);
    clock_->Lap(kVfeStageColourConversion);
    ChromaSuppressionStage(cs_, clamp_, cb_.data(), cr_.data(), luma_.data(), cw, &out_->cb[size_t(y / 2) * cw],
                           &out_->cr[size_t(y / 2) * cw]);
    clock_->Lap(kVfeStageChromaSuppression);
  }

 private:
  WhiteBalance wb_;
  ColourCorrection cc_;
  LumaAdaptation la_;
  Gamma gamma_;
  ColourConversion conv_;
  ChromaSuppression cs_;
  Clamp clamp_;
  MainImage* out_;
  StageClock* clock_;
  std::vector<uint8_t> rgb8_[3];
  std::vector<uint16_t> gain_;
  std::vector<uint16_t> pairs_[6];  // R, G, B pair sums of the even row, then of the odd row
  std::vector<int16_t> cb_, cr_, luma_;  // a row of blocks before the suppression
};

void SizeMain(MainImage* m, uint32_t width, uint32_t height) {
  m->width = width;
  m->height = height;
  m->y.resize(size_t(width) * height);
  m->cb.resize(size_t(width / 2) * (height / 2));
  m->cr.resize(m->cb.size());
}

// NV21 of an output of width x height from the main image: its planes sized
// first, then the luma and the chroma made apart (so that they may run at once).
void SizeNv21(uint32_t width, uint32_t height, OutputImage* out) {
  out->present = true;
  out->raw = false;
  out->width = width;
  out->height = height;
  out->y.resize(size_t(width) * height);
  out->cbcr.resize(size_t(width) * (height / 2));
}
void Nv21Luma(const MainImage& main, OutputImage* out, uint32_t j0 = 0, uint32_t j1 = ~0u) {
  AreaScale(main.y.data(), main.width, main.height, out->y.data(), out->width, out->height, j0, j1);
}
void Nv21Chroma(const MainImage& main, OutputImage* out) {
  uint32_t width = out->width, cw = width / 2, ch = out->height / 2;
  std::fill(out->cbcr.begin(), out->cbcr.end(), uint8_t(128));
  uint32_t mcw = main.width / 2, mch = main.height / 2;
  if (cw == 0 || ch == 0 || mcw == 0 || mch == 0) return;
  std::vector<uint8_t> cb(size_t(cw) * ch), cr(size_t(cw) * ch);
  AreaScale(main.cb.data(), mcw, mch, cb.data(), cw, ch);
  AreaScale(main.cr.data(), mcw, mch, cr.data(), cw, ch);
  for (uint32_t y = 0; y < ch; ++y) {
    uint8_t* row = &out->cbcr[size_t(y) * width];
    for (uint32_t x = 0; x < cw; ++x) {
      row[2 * x] = cr[size_t(y) * cw + x];
      row[2 * x + 1] = cb[size_t(y) * cw + x];
    }
  }
}

void RawOutput(const BayerView& win, OutputImage* out) {
  out->present = true;
  out->raw = true;
  out->width = win.width;
  out->height = win.height;
  out->y.resize(size_t(win.width) * win.height);
  for (uint32_t y = 0; y < win.height; ++y) {
    const uint16_t* src = win.data + size_t(y) * win.stride;
    uint8_t* dst = &out->y[size_t(y) * win.width];
    for (uint32_t x = 0; x < win.width; ++x) dst[x] = uint8_t((src[x] & 1023) >> 2);
  }
  out->cbcr.clear();
}

}  // namespace

namespace {
// Working buffers of the frame work (one frame at a time), kept from frame to
// frame and never destroyed (the thread may outlive static destruction at exit).
struct Work {
  FrameVector<uint16_t> raw, skipped;
  BayerLut lut;
  BayerPlanes bayer;
  Planes<uint16_t> demosaiced, scaled;
  MainImage main;
  std::vector<uint8_t> filtered;  // the main luma after the adaptive spatial filter
};

Work& FrameMemory() {
  static Work* work = new Work;
  return *work;
}
// Held while the buffers are used: a frame, or their preparation.
std::mutex& FrameMemoryLock() {
  static auto* lock = new std::mutex;
  return *lock;
}
}  // namespace

void* AllocateFrameMemory(size_t bytes) {
  constexpr size_t kLarge = size_t(2) << 20;
  if (bytes < kLarge / 2) {
    void* p = std::malloc(bytes ? bytes : 1);
    if (!p) throw std::bad_alloc();
    return p;
  }
  const size_t rounded = (bytes + kLarge - 1) & ~(kLarge - 1);
  void* p = std::aligned_alloc(kLarge, rounded);
  if (!p) throw std::bad_alloc();
  madvise(p, rounded, MADV_HUGEPAGE);
  return p;
}

void FreeFrameMemory(void* p) { std::free(p); }

void BuildBayerLut(const RegisterImage& regs, BayerLut* lut) {
  BlackLevelStage(regs, lut);
  ChannelGainStage(regs, lut);
}

void PrepareFrameMemory(uint32_t width, uint32_t height) {
  std::lock_guard<std::mutex> hold(FrameMemoryLock());
  Work& w = FrameMemory();
  const size_t n = size_t(width) * height;
  // At the read-out's size: the scaled image and the focus window are smaller.
  PrepareMemory(&w.raw, n);
  PrepareMemory(&w.bayer.a, n);
  PrepareMemory(&w.bayer.b, n);
  for (int k = 0; k < 3; ++k) {
    PrepareMemory(&w.demosaiced.c[k], n);
    PrepareMemory(&w.scaled.c[k], n);
  }
  PrepareStatisticsMemory(n);
}

void RunFrame(const FrameRequest& rq, FrameProducts* out) {
  std::lock_guard<std::mutex> hold(FrameMemoryLock());
  const RegisterImage& regs = *rq.regs;
  for (auto& o : out->out) o.present = false;
  out->refused[0] = out->refused[1] = false;
  out->af.clear();
  out->wb.clear();
  out->unsupported = false;
  std::fill(std::begin(out->stageNs), std::end(out->stageNs), 0);
  out->workerCpuNs = 0;
  StageClock clock(out->stageNs);
  if ((RegAt(regs, kRegInputFormat) & 7) >= 4) {
    out->unsupported = true;
    return;
  }
  Work* work = &FrameMemory();
  work->raw.resize(size_t(rq.info.width) * rq.info.height);
  auto striped = [&](uint32_t height, const std::function<void(uint32_t, uint32_t)>& rows) {
    const uint32_t stripes = StripeCount();
    RunTasks(stripes, [&](uint32_t i) {
      RowRange r = StripeRows(i, stripes, height, 2);
      rows(r.first, r.end);
    }, &out->workerCpuNs);
  };
  if (!SensorRenderFrame(rq.info, work->raw.data(), rq.info.width, striped)) {
    out->unsupported = true;
    return;
  }
  clock.Lap(kVfeStageRender);
  BayerView win = CamifWindow(regs, work->raw, rq.info.width, &work->skipped);
  if (win.width <= 2 * kDemosaicMarginX + 1 || win.height <= 2 * kDemosaicMarginY + 1) {
    out->unsupported = true;
    return;
  }
  BuildBayerLut(regs, &work->lut);
  uint32_t type = (RegAt(regs, kRegOutputControl) >> 10) & 3;
  if (type == 1 && rq.wantPath[kVfeOutput2]) RawOutput(win, &out->out[kVfeOutput2]);
  const BayerLut* lut = &work->lut;
  BayerSpatialStages(regs, *rq.tables, &win, &lut, &work->bayer, &out->workerCpuNs);
  clock.Lap(kVfeStageBayer);
  // The statistics read the corrected window only: they run beside the image.
  std::vector<std::function<void(StageClock&)>> statistics;
  if (rq.wantWb) statistics.push_back([&](StageClock&) { ComputeWbExpStats(regs, win, *lut, rq.serial, &out->wb); });
  if (rq.wantAf)
    statistics.push_back([&](StageClock&) { ComputeAfStats(regs, win, *lut, rq.info.height, rq.serial, &out->af); });
  // Runs the statistics and `count` stripes of `stripe` as one batch of tasks,
  // each on a clock of its own; their stage times add up.
  std::vector<std::array<uint64_t, kVfeStageCount>> laps;
  auto batch = [&](uint32_t count, const std::function<void(uint32_t, StageClock&)>& stripe) {
    uint32_t extra = uint32_t(statistics.size());
    laps.assign(count + extra, {});
    RunTasks(count + extra, [&](uint32_t i) {
      StageClock own(laps[i].data());
      if (i < extra) {
        statistics[i](own);
        own.Lap(kVfeStageStatistics);
      } else {
        stripe(i - extra, own);
      }
    }, &out->workerCpuNs);
    statistics.clear();
    for (const auto& l : laps)
      for (uint32_t k = 0; k < kVfeStageCount; ++k) out->stageNs[k] += l[k];
    clock.Lap();
  };
  auto statisticsOnly = [&] {
    if (!statistics.empty()) batch(0, {});
  };

  if (type == 1) return statisticsOnly();
  if (type != 0) {
    statisticsOnly();
    out->unsupported = true;
    return;
  }
  if (!rq.wantPath[0] && !rq.wantPath[1]) return statisticsOnly();

  Crop crop = FovCrop(regs, win);
  uint32_t module = RegAt(regs, kRegModuleEnable);
  ScalerResult mainScaler = Scaler(regs, kRegMainScaler, kRegMainScaler + 4, kRegMainScaler + 16,
                                   (module & kModMainScaler) != 0, crop.width, crop.height);
  if (mainScaler.refused) {
    statisticsOnly();
    out->refused[0] = rq.wantPath[0];
    out->refused[1] = rq.wantPath[1];
    return;
  }
  uint32_t mw = mainScaler.width, mh = mainScaler.height;
  ScalerResult y1 = Scaler(regs, kRegYScaler, kRegYScaler + 4, kRegYScaler + 12, (module & kModYScaler) != 0, mw, mh);
  ScalerResult c1 = Scaler(regs, kRegCbCrScaler, kRegCbCrScaler + 4, kRegCbCrScaler + 12,
                           (module & kModCbCrScaler) != 0, mw, mh);
  // OUTPUT1's chroma scaler must give half its luma in each direction.
  if ((module & kModCbCrScaler) && !c1.refused && (c1.width != y1.width / 2 || c1.height != y1.height / 2))
    c1.refused = true;
  bool want1 = rq.wantPath[kVfeOutput1] && !y1.refused && !c1.refused;
  out->refused[kVfeOutput1] = rq.wantPath[kVfeOutput1] && !want1;
  if (!want1 && !rq.wantPath[kVfeOutput2]) return statisticsOnly();

  const bool demosaic = DemosaicEnabled(regs);
  float gains[3];
  DemosaicGains(regs, gains);
  const uint32_t stripes = StripeCount();
  SizeMain(&work->main, mw, mh);
  clock.Lap();
  // Stripes of the main image start on even rows: a chroma block's two rows
  // stay in one stripe.
  if (mw == crop.width && mh == crop.height) {
    // No main scaling: straight from the demosaic, row by row.
    batch(stripes, [&](uint32_t i, StageClock& own) {
      RowRange rows = StripeRows(i, stripes, mh, 2);
      if (rows.first == rows.end) return;
      CropRows source(win, *lut, crop, demosaic, gains);
      ColourSink sink(regs, *rq.tables, mw, &work->main, &own);
      std::vector<uint16_t> rgb[3];
      for (auto& r : rgb) r.resize(mw);
      for (uint32_t y = rows.first; y < rows.end; ++y) {
        own.Lap();
        source.Row(y, rgb[0].data(), rgb[1].data(), rgb[2].data());
        own.Lap(kVfeStageDemosaic);
        sink.Row(y, {rgb[0].data(), rgb[1].data(), rgb[2].data(), mw});
      }
    });
  } else {
    Planes<uint16_t>& d = work->demosaiced;
    Planes<uint16_t>& s = work->scaled;
    d.Resize(crop.width, crop.height);
    batch(stripes, [&](uint32_t i, StageClock& own) {
      RowRange rows = StripeRows(i, stripes, crop.height, 1);
      if (rows.first == rows.end) return;
      CropRows source(win, *lut, crop, demosaic, gains);
      for (uint32_t y = rows.first; y < rows.end; ++y) {
        size_t o = size_t(y) * crop.width;
        source.Row(y, &d.c[0][o], &d.c[1][o], &d.c[2][o]);
      }
      own.Lap(kVfeStageDemosaic);
    });
    s.Resize(mw, mh);
    batch(stripes, [&](uint32_t i, StageClock& own) {
      RowRange rows = StripeRows(i, stripes, mh, 2);
      if (rows.first == rows.end) return;
      for (int k = 0; k < 3; ++k)
        AreaScale(d.c[k].data(), crop.width, crop.height, s.c[k].data(), mw, mh, rows.first, rows.end);
      own.Lap(kVfeStageMainScaler);
      ColourSink sink(regs, *rq.tables, mw, &work->main, &own);
      for (uint32_t y = rows.first; y < rows.end; ++y) {
        size_t o = size_t(y) * mw;
        sink.Row(y, {&s.c[0][o], &s.c[1][o], &s.c[2][o], mw});
      }
    });
  }
  if (AdaptiveSpatialFilterOn(regs, mw, mh)) {
    work->filtered.resize(work->main.y.size());
    batch(stripes, [&](uint32_t i, StageClock& own) {
      RowRange rows = StripeRows(i, stripes, mh, 1);
      AdaptiveSpatialFilter(regs, work->main.y.data(), work->filtered.data(), mw, mh, rows.first, rows.end);
      own.Lap(kVfeStageAsf);
    });
    work->main.y.swap(work->filtered);
  }
  // The outputs: each one's luma in stripes, its chroma as one task.
  std::vector<OutputImage*> outputs;
  if (rq.wantPath[kVfeOutput2]) {
    SizeNv21(mw, mh, &out->out[kVfeOutput2]);
    outputs.push_back(&out->out[kVfeOutput2]);
  }
  if (want1) {
    SizeNv21(y1.width, y1.height, &out->out[kVfeOutput1]);
    outputs.push_back(&out->out[kVfeOutput1]);
  }
  const uint32_t lumaStripes = stripes;
  batch(uint32_t(outputs.size()) * (lumaStripes + 1), [&](uint32_t i, StageClock& own) {
    OutputImage* o = outputs[i / (lumaStripes + 1)];
    uint32_t part = i % (lumaStripes + 1);
    if (part == lumaStripes) {
      Nv21Chroma(work->main, o);
    } else {
      RowRange rows = StripeRows(part, lumaStripes, o->height, 1);
      Nv21Luma(work->main, o, rows.first, rows.end);
    }
    own.Lap(kVfeStageOutput);
  });
}

}  // namespace board::vfe

const char* BoardVfeStageName(BoardVfeStage stage) {
  static const char* const kNames[kVfeStageCount] = {
      "render",      "bayer",         "statistics",       "demosaic",          "main scaler",         "white balance",
      "colour corr", "luma adapt",    "gamma",            "colour conv",       "chroma supp",         "ASF",
      "output"};
  return stage < kVfeStageCount ? kNames[stage] : "?";
}
