// The VFE's stages that look at a sample's place in the frame or at its
// neighbours rather than at its value alone:
//  - roll-off (module bit 1; 0x1A4 grid, table 1 gains): lifts each Bayer
//    channel by a gain that the grid interpolates over the window, to undo
//    the lens's darker corners;
//  - bad-pixel correction (0x1C4 bit 1, factors and per-colour thresholds in
//    0x1C4/0x1D0/0x1D4): pulls a sample that stands out of all eight
//    same-colour neighbours back to their range;
//  - the adaptive Bayer filter (0x1C4 bit 0, 0x1C8/0x1CC): smooths a sample
//    towards the same-colour neighbours that lie within its threshold, so
//    noise goes and edges stay;
//  - the demosaic switch (module bit 4): off, every colour of a pixel is its
//    own Bayer sample;
//  - the adaptive spatial filter (module bit 15, 0x248-0x260): smooths the
//    main image's luma with a centre/surround kernel and adds back the edges
//    two 5x5 filters find, cored and clipped by its thresholds.
// The Bayer stages run in the hardware's order on the linearised window
// (after black level and channel gain), and everything after them (the
// statistics and the demosaic) sees their result.
#include <algorithm>
#include <functional>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <emmintrin.h>

#include "stripes.h"
#include "vfe_pipeline.h"

namespace board::vfe {
namespace {

uint32_t RegAt(const RegisterImage& r, uint32_t offset) { return r[offset / 4]; }
int32_t Signed(uint32_t v, uint32_t bits) {
  uint32_t m = 1u << (bits - 1);
  v &= (1u << bits) - 1;
  return int32_t(v ^ m) - int32_t(m);
}

// ---- Roll-off -------------------------------------------------------------------------
// The grid is laid over the window in half-resolution units (2x2 quads): 16
// cells across of `cellW` quads and 12 down of `cellH`. Per channel (the
// 2x2 phase in raster order) and grid row r there is the gain at the row's
// left edge (Q13) and, per cell, the gain's change per quad (Q20). Between
// two grid rows the gain is blended by (quad row within the cell) x 1/cellH
// (Q12); past the last cell the last step goes on, past the last grid row its
// gains hold.
struct Rolloff {
  uint32_t cellW = 1, cellH = 1, inverseH = 0;
  int32_t edge[4][13];
  int32_t step[4][13][16];
};

Rolloff ReadRolloff(const RegisterImage& regs, const TableImage& tables) {
  Rolloff r;
  uint32_t grid = RegAt(regs, kRegRolloffGrid);
  r.cellW = (grid & 0x1FF) + 1;
  r.cellH = ((grid >> 9) & 0x1FF) + 1;
  r.inverseH = (grid >> 18) & 0x1FF;
  const std::vector<uint32_t>& t = tables[kRolloffTable];
  auto word = [&](uint32_t i) { return i < t.size() ? t[i] : 0u; };  // unwritten table memory reads 0
  for (uint32_t i = 0; i < 13; ++i) {
    uint32_t w01 = word(2 * i), w23 = word(2 * i + 1);
    r.edge[0][i] = int32_t(w01 & 0xFFFF);
    r.edge[1][i] = int32_t(w01 >> 16);
    r.edge[2][i] = int32_t(w23 & 0xFFFF);
    r.edge[3][i] = int32_t(w23 >> 16);
  }
  for (uint32_t i = 0; i < 208; ++i) {
    uint32_t w01 = word(kRolloffStepsAt + 2 * i), w23 = word(kRolloffStepsAt + 2 * i + 1);
    int32_t* s[4] = {&r.step[0][i / 16][i % 16], &r.step[1][i / 16][i % 16], &r.step[2][i / 16][i % 16],
                     &r.step[3][i / 16][i % 16]};
    *s[0] = int16_t(w01 & 0xFFFF);
    *s[1] = int16_t(w01 >> 16);
    *s[2] = int16_t(w23 & 0xFFFF);
    *s[3] = int16_t(w23 >> 16);
  }
  return r;
}

// Window row y through the Bayer stages' tables.
void LineariseRow(const BayerView& w, const BayerLut& lut, uint32_t y, uint16_t* dst) {
  const uint16_t* src = w.data + size_t(y) * w.stride;
  const uint16_t* even = lut.phase[(y & 1) << 1];
  const uint16_t* odd = lut.phase[((y & 1) << 1) | 1];
  uint32_t x = 0;
  for (; x + 1 < w.width; x += 2) {
    dst[x] = even[src[x] & 1023];
    dst[x + 1] = odd[src[x + 1] & 1023];
  }
  if (x < w.width) dst[x] = even[src[x] & 1023];
}

// Gains (Q12) of channel `c` along grid row `row` for quads 0..quads-1.
void GridRowGains(const Rolloff& r, int c, uint32_t row, uint32_t quads, int32_t* out) {
  int64_t g = int64_t(r.edge[c][row]) << 7;  // Q20
  uint32_t q = 0;
  for (uint32_t cell = 0; q < quads; ++cell) {
    int32_t step = r.step[c][row][std::min(cell, 15u)];
    uint32_t end = cell >= 15 ? quads : std::min(quads, q + r.cellW);
    for (; q < end; ++q, g += step) out[q] = int32_t(g >> 8);
  }
}

// Applies the roll-off gains to the linear window rows in place. The gains of
// every grid row are laid out once per frame, per row parity with the two
// channels of that parity interleaved as the samples are; each window row
// blends its two grid rows (in single precision) and multiplies eight
// samples at a time, the product truncated.
void RolloffStage(const RegisterImage& regs, const TableImage& tables, const BayerView& window, const BayerLut& lut,
                  uint16_t* plane, uint32_t first, uint32_t end) {
  const uint32_t width = window.width, height = window.height;
  Rolloff r = ReadRolloff(regs, tables);
  const uint32_t quads = (width + 1) / 2, padded = (width + 7) & ~7u;
  std::vector<int32_t> channel(quads);
  std::vector<float> grid(size_t(2) * 13 * padded, 0.0f);  // [parity][grid row][sample]
  for (uint32_t parity = 0; parity < 2; ++parity)
    for (uint32_t row = 0; row < 13; ++row)
      for (uint32_t phase = 0; phase < 2; ++phase) {
        GridRowGains(r, int(parity << 1 | phase), row, quads, channel.data());
        float* out = &grid[(size_t(parity) * 13 + row) * padded];
        for (uint32_t q = 0; 2 * q + phase < width; ++q)
          out[2 * q + phase] = float(std::clamp(channel[q], 0, 65535)) / 4096.0f;
      }
  const __m128i limit = _mm_set1_epi16(1023), zero = _mm_setzero_si128();
  std::vector<uint16_t> row(padded, 0);
  for (uint32_t y = first; y < std::min(end, height); ++y) {
    uint32_t qy = y >> 1;
    uint32_t gridRow = std::min(qy / r.cellH, 11u);
    float t = float(std::min<int64_t>(int64_t(qy - gridRow * r.cellH) * r.inverseH, 4096)) / 4096.0f;
    const float* above = &grid[(size_t(y & 1) * 13 + gridRow) * padded];
    const float* below = above + padded;
    const __m128 blend = _mm_set1_ps(t);
    uint16_t* s = plane + size_t(y) * width;
    LineariseRow(window, lut, y, row.data());
    for (uint32_t x = 0; x < width; x += 8) {
      __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&row[x]));
      __m128 a0 = _mm_loadu_ps(above + x), a1 = _mm_loadu_ps(above + x + 4);
      __m128 g0 = _mm_add_ps(a0, _mm_mul_ps(_mm_sub_ps(_mm_loadu_ps(below + x), a0), blend));
      __m128 g1 = _mm_add_ps(a1, _mm_mul_ps(_mm_sub_ps(_mm_loadu_ps(below + x + 4), a1), blend));
      __m128i lo = _mm_cvttps_epi32(_mm_mul_ps(_mm_cvtepi32_ps(_mm_unpacklo_epi16(v, zero)), g0));
      __m128i hi = _mm_cvttps_epi32(_mm_mul_ps(_mm_cvtepi32_ps(_mm_unpackhi_epi16(v, zero)), g1));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(&row[x]), _mm_min_epi16(_mm_packs_epi32(lo, hi), limit));
    }
    std::memcpy(s, row.data(), sizeof(uint16_t) * width);
  }
}

// ---- Bad-pixel correction and the adaptive Bayer filter ------------------------------
// Both look at the eight samples of the same colour two steps away (across,
// down and diagonally); samples closer than two to the window's edge pass.
constexpr int kNeighbours = 8;

struct Bpc {
  bool on = false;
  int32_t maxFactor = 127, minFactor = 0;  // Q6
  int32_t threshold[3] = {4095, 4095, 4095};  // by colour R, G, B
};
Bpc ReadBpc(const RegisterImage& regs) {
  Bpc b;
  uint32_t d = RegAt(regs, kRegDemosaic);
  b.on = (d >> 1) & 1;
  b.minFactor = int32_t((d >> 8) & 0x7F);
  b.maxFactor = int32_t((d >> 16) & 0x7F);
  uint32_t rb = RegAt(regs, kRegBpcRedBlue);
  b.threshold[0] = int32_t((rb >> 12) & 0xFFF);
  b.threshold[2] = int32_t(rb & 0xFFF);
  b.threshold[1] = int32_t(RegAt(regs, kRegBpcGreen) & 0xFFF);
  return b;
}
// A correction that can never fire (every threshold beyond the sample range) is skipped.
bool BpcCanFire(const Bpc& b) {
  return b.on && std::min({b.threshold[0], b.threshold[1], b.threshold[2]}) < 1023;
}

// The samples closer than two to the window's edge pass unchanged (rows
// [first, end) of them).
void CopyBorder(const uint16_t* in, uint16_t* out, uint32_t width, uint32_t height, uint32_t first, uint32_t end) {
  for (uint32_t y = first; y < end; ++y) {
    size_t o = size_t(y) * width;
    if (y < 2 || y + 2 >= height) {
      std::memcpy(out + o, in + o, sizeof(uint16_t) * width);
      continue;
    }
    for (uint32_t x : {0u, 1u, width - 2, width - 1}) out[o + x] = in[o + x];
  }
}

// Loads of the eight same-colour neighbours of samples x..x+7.
struct Ring {
  __m128i n[kNeighbours];
};
inline Ring LoadRing(const uint16_t* up, const uint16_t* mid, const uint16_t* dn, uint32_t x) {
  auto at = [](const uint16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); };
  return {{at(up + x - 2), at(up + x), at(up + x + 2), at(mid + x - 2), at(mid + x + 2), at(dn + x - 2), at(dn + x),
           at(dn + x + 2)}};
}
inline __m128i Select(__m128i mask, __m128i a, __m128i b) {
  return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
}

// A sample above max(neighbour max x maxFactor, neighbour max + threshold) is
// hot and becomes the neighbours' maximum; one below min(neighbour min x
// minFactor, neighbour min - threshold) is dead and becomes their minimum
// (factors Q6, thresholds by the sample's colour).
void BpcStage(const Bpc& b, uint32_t order, const uint16_t* in, uint16_t* out, uint32_t width, uint32_t height,
              uint32_t first, uint32_t end) {
  end = std::min(end, height);
  if (first >= end) return;
  if (width < 12 || height < 5) {
    std::memcpy(out + size_t(first) * width, in + size_t(first) * width, sizeof(uint16_t) * width * (end - first));
    return;
  }
  CopyBorder(in, out, width, height, first, end);
  // (v x 32) x (factor x 32) / 65536 = v x factor / 64.
  const __m128i maxFactor = _mm_set1_epi16(int16_t(b.maxFactor << 5)), minFactor = _mm_set1_epi16(int16_t(b.minFactor << 5));
  for (uint32_t y = std::max(first, 2u); y + 2 < height && y < end; ++y) {
    const uint16_t* up = in + size_t(y - 2) * width;
    const uint16_t* mid = in + size_t(y) * width;
    const uint16_t* dn = in + size_t(y + 2) * width;
    uint16_t* o = out + size_t(y) * width;
    int16_t t0 = int16_t(b.threshold[BayerColour(order, 0, y)]), t1 = int16_t(b.threshold[BayerColour(order, 1, y)]);
    const __m128i threshold = _mm_set_epi16(t1, t0, t1, t0, t1, t0, t1, t0);  // lane 0 is an even column
    uint32_t x = 2;
    for (; x + 8 + 2 <= width; x += 8) {
      Ring r = LoadRing(up, mid, dn, x);
      __m128i hi = r.n[0], lo = r.n[0];
      for (int k = 1; k < kNeighbours; ++k) {
        hi = _mm_max_epi16(hi, r.n[k]);
        lo = _mm_min_epi16(lo, r.n[k]);
      }
      __m128i hiLimit = _mm_max_epi16(_mm_mulhi_epi16(_mm_slli_epi16(hi, 5), maxFactor), _mm_add_epi16(hi, threshold));
      __m128i loLimit = _mm_min_epi16(_mm_mulhi_epi16(_mm_slli_epi16(lo, 5), minFactor), _mm_sub_epi16(lo, threshold));
      __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(mid + x));
      __m128i v = Select(_mm_cmpgt_epi16(p, hiLimit), hi, p);
      v = Select(_mm_cmplt_epi16(p, loLimit), lo, v);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(o + x), v);
    }
    for (; x + 2 < width; ++x) {
      int32_t n[kNeighbours] = {up[x - 2], up[x], up[x + 2], mid[x - 2], mid[x + 2], dn[x - 2], dn[x], dn[x + 2]};
      int32_t hi = *std::max_element(n, n + kNeighbours), lo = *std::min_element(n, n + kNeighbours);
      int32_t t = b.threshold[BayerColour(order, x, y)], p = mid[x];
      if (p > std::max((hi * b.maxFactor) >> 6, hi + t))
        o[x] = uint16_t(hi);
      else if (p < std::min((lo * b.minFactor) >> 6, lo - t))
        o[x] = uint16_t(lo);
      else
        o[x] = uint16_t(p);
    }
  }
}

struct Abf {
  bool on = false;
  int32_t shift = 3, threshold = 1023, maximum = 1023, minimum = 0, ratio = 15;
};
Abf ReadAbf(const RegisterImage& regs) {
  Abf a;
  uint32_t d = RegAt(regs, kRegDemosaic);
  a.on = d & 1;
  a.shift = int32_t((d >> 4) & 0xF);
  a.threshold = int32_t(RegAt(regs, kRegAbfThreshold) & 0x3FF);
  uint32_t l = RegAt(regs, kRegAbfLevels);
  a.ratio = int32_t(l & 0xF);
  a.minimum = int32_t((l >> 4) & 0x3FF);
  a.maximum = int32_t((l >> 16) & 0x3FF);
  return a;
}
// A threshold of 0 lets only equal neighbours in: nothing moves.
bool AbfCanAct(const Abf& a) { return a.on && a.threshold > 0 && a.minimum <= a.maximum; }

// For a sample within [minimum, maximum]: the neighbours within `threshold`
// of it join; their summed differences, shifted right by `shift` (rounding
// down), are the correction, of which (16 - ratio) sixteenths are applied
// (rounding down). The reset values (shift 3, threshold 1023, ratio 15) so
// nudge each sample a sixteenth of the way to its neighbours' mean; a ratio
// of 0 moves it all the way.
inline int32_t AbfOne(const Abf& a, int32_t p, const int32_t* n) {
  if (p < a.minimum || p > a.maximum) return p;
  int32_t sum = 0;
  for (int k = 0; k < kNeighbours; ++k) {
    int32_t d = n[k] - p;
    sum += std::abs(d) <= a.threshold ? d : 0;
  }
  int32_t c = std::clamp(sum >> a.shift, -1023, 1023);
  return std::clamp(p + ((c * (16 - a.ratio)) >> 4), 0, 1023);
}

void AbfStage(const Abf& a, const uint16_t* in, uint16_t* out, uint32_t width, uint32_t height, uint32_t first,
              uint32_t end) {
  end = std::min(end, height);
  if (first >= end) return;
  if (width < 12 || height < 5) {
    std::memcpy(out + size_t(first) * width, in + size_t(first) * width, sizeof(uint16_t) * width * (end - first));
    return;
  }
  CopyBorder(in, out, width, height, first, end);
  const __m128i threshold = _mm_set1_epi16(int16_t(a.threshold + 1));
  const __m128i below = _mm_set1_epi16(int16_t(a.minimum - 1)), above = _mm_set1_epi16(int16_t(a.maximum + 1));
  const __m128i keep = _mm_set1_epi16(int16_t(16 - a.ratio));
  const __m128i top = _mm_set1_epi16(1023), bottom = _mm_set1_epi16(-1023), zero = _mm_setzero_si128();
  const __m128i shift = _mm_cvtsi32_si128(a.shift);
  for (uint32_t y = std::max(first, 2u); y + 2 < height && y < end; ++y) {
    const uint16_t* up = in + size_t(y - 2) * width;
    const uint16_t* mid = in + size_t(y) * width;
    const uint16_t* dn = in + size_t(y + 2) * width;
    uint16_t* o = out + size_t(y) * width;
    uint32_t x = 2;
    for (; x + 8 + 2 <= width; x += 8) {
      Ring r = LoadRing(up, mid, dn, x);
      __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(mid + x));
      __m128i sum = zero;
      for (int k = 0; k < kNeighbours; ++k) {
        __m128i d = _mm_sub_epi16(r.n[k], p);
        __m128i size = _mm_max_epi16(d, _mm_sub_epi16(zero, d));
        sum = _mm_add_epi16(sum, _mm_and_si128(_mm_cmplt_epi16(size, threshold), d));
      }
      __m128i c = _mm_min_epi16(_mm_max_epi16(_mm_sra_epi16(sum, shift), bottom), top);
      __m128i moved = _mm_add_epi16(p, _mm_srai_epi16(_mm_mullo_epi16(c, keep), 4));
      moved = _mm_min_epi16(_mm_max_epi16(moved, zero), top);
      __m128i inRange = _mm_and_si128(_mm_cmpgt_epi16(p, below), _mm_cmplt_epi16(p, above));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(o + x), Select(inRange, moved, p));
    }
    for (; x + 2 < width; ++x) {
      int32_t n[kNeighbours] = {up[x - 2], up[x], up[x + 2], mid[x - 2], mid[x + 2], dn[x - 2], dn[x], dn[x + 2]};
      o[x] = uint16_t(AbfOne(a, mid[x], n));
    }
  }
}

const BayerLut& IdentityLut() {
  static const BayerLut* lut = [] {
    auto* l = new BayerLut;
    for (auto& phase : l->phase)
      for (uint32_t v = 0; v < 1024; ++v) phase[v] = uint16_t(v);
    return l;
  }();
  return *lut;
}

// ---- Adaptive spatial filter ---------------------------------------------------------------
// Each edge filter's 3 x 3 coefficients (Q4) are the top-left quadrant of a
// 5 x 5 kernel symmetric about its centre row and column: coefficient (i, j)
// weighs the samples at rows +-(2 - i) and columns +-(2 - j). The reset
// filters are so the zero-sum [-2 -6 16 -6 -2] / 16 across (filter 1) and
// down (filter 2), five rows or columns deep.
struct Asf {
  uint32_t mode = 2;
  int32_t centre = 96, surround = 4;
  int32_t normalise = 0;
  int32_t amount[2] = {8, 8};  // Q3
  int32_t lowThreshold = 20;
  int32_t upper[2] = {40, 40}, negative[2] = {-35, -35};
  int32_t coef[2][3][3] = {};
};
Asf ReadAsf(const RegisterImage& regs) {
  Asf a;
  uint32_t w0 = RegAt(regs, kRegAsf), w1 = RegAt(regs, kRegAsf + 4), w2 = RegAt(regs, kRegAsf + 8);
  a.mode = (w0 >> 1) & 3;
  a.surround = int32_t((w0 >> 4) & 0xF);
  a.centre = int32_t((w0 >> 8) & 0xFF);
  a.lowThreshold = int32_t(w1 & 0x7F);
  a.amount[0] = int32_t((w1 >> 8) & 0x1F);
  a.amount[1] = int32_t((w1 >> 16) & 0x1F);
  a.normalise = int32_t((w1 >> 24) & 0x7F);
  a.upper[0] = Signed(w2, 8);
  a.negative[0] = Signed(w2 >> 8, 8);
  a.upper[1] = Signed(w2 >> 16, 8);
  a.negative[1] = Signed(w2 >> 24, 8);
  for (int f = 0; f < 2; ++f) {
    uint32_t lo = RegAt(regs, kRegAsf + 12 + 8 * f), hi = RegAt(regs, kRegAsf + 16 + 8 * f);
    int32_t c[9];
    for (int k = 0; k < 5; ++k) c[k] = Signed(lo >> (6 * k), 6);
    for (int k = 0; k < 3; ++k) c[5 + k] = Signed(hi >> (6 * k), 6);
    c[8] = Signed(hi >> 18, 7);
    for (int k = 0; k < 9; ++k) a.coef[f][k / 3][k % 3] = c[k];
  }
  return a;
}

}  // namespace

bool BayerSpatialStages(const RegisterImage& regs, const TableImage& tables, BayerView* window, const BayerLut** lut,
                        BayerPlanes* work, uint64_t* workerCpuNs) {
  bool rolloff = (RegAt(regs, kRegModuleEnable) & kModRolloff) != 0;
  Bpc bpc = ReadBpc(regs);
  Abf abf = ReadAbf(regs);
  bool demosaic = (RegAt(regs, kRegModuleEnable) & kModDemosaic) != 0;
  bool bpcOn = demosaic && BpcCanFire(bpc), abfOn = demosaic && AbfCanAct(abf);
  if (!rolloff && !bpcOn && !abfOn) return false;
  const BayerView& w = *window;
  size_t n = size_t(w.width) * w.height;
  work->a.resize(n);
  work->b.resize(n);
  uint16_t* cur = work->a.data();
  uint16_t* other = work->b.data();
  // Each stage in stripes of rows; the next starts when all of them are done.
  const uint32_t stripes = StripeCount();
  auto striped = [&](Stage stage, const std::function<void(uint32_t, uint32_t)>& rows) {
    RunTasks(stripes, [&](uint32_t i) {
      RowRange r = StripeRows(i, stripes, w.height, 2);
      StageTimer timer(stage, i == 0);
      rows(r.first, r.end);
    }, workerCpuNs);
  };
  const BayerLut& linear = **lut;
  if (rolloff) {
    striped(kStageRolloff, [&](uint32_t first, uint32_t end) { RolloffStage(regs, tables, w, linear, cur, first, end); });
  } else {
    striped(kStageBayerLinear, [&](uint32_t first, uint32_t end) {
      for (uint32_t y = first; y < end; ++y) LineariseRow(w, linear, y, cur + size_t(y) * w.width);
    });
  }
  if (bpcOn) {
    striped(kStageBadPixel, [&](uint32_t first, uint32_t end) { BpcStage(bpc, w.order, cur, other, w.width, w.height, first, end); });
    std::swap(cur, other);
  }
  if (abfOn) {
    striped(kStageAbf, [&](uint32_t first, uint32_t end) { AbfStage(abf, cur, other, w.width, w.height, first, end); });
    std::swap(cur, other);
  }
  window->data = cur;
  window->stride = w.width;
  *lut = &IdentityLut();
  return true;
}

bool DemosaicEnabled(const RegisterImage& regs) { return (RegAt(regs, kRegModuleEnable) & kModDemosaic) != 0; }

bool AdaptiveSpatialFilterOn(const RegisterImage& regs, uint32_t width, uint32_t height) {
  return (RegAt(regs, kRegModuleEnable) & kModAsf) && width >= 5 && height >= 5;
}

void AdaptiveSpatialFilter(const RegisterImage& regs, const uint8_t* luma, uint8_t* result, uint32_t width,
                           uint32_t height, uint32_t first, uint32_t end) {
  end = std::min(end, height);
  if (!AdaptiveSpatialFilterOn(regs, width, height) || first >= end) return;
  StageTimer timer(kStageAsf, first == 0);
  const Asf a = ReadAsf(regs);
  const bool smooth = a.mode != 1 && a.centre + 8 * a.surround > 0, sharpen = a.mode != 0;
  // Per image row its three symmetric horizontal sums (the samples two away,
  // one away, the sample), for a ring of five rows; rows beyond the edges
  // repeat the edge row. Padded so that eight lanes may always be read.
  const uint32_t padded = (width + 7) & ~7u;
  std::vector<int16_t> h[5][3];
  for (auto& row : h)
    for (auto& v : row) v.assign(padded, 0);
  auto sums = [&](uint32_t y, std::vector<int16_t>* out) {
    const uint8_t* p = luma + size_t(y) * width;
    int16_t* o0 = out[0].data();
    int16_t* o1 = out[1].data();
    int16_t* o2 = out[2].data();
    for (uint32_t x = 2; x + 2 < width; ++x) {
      o0[x] = int16_t(p[x - 2] + p[x + 2]);
      o1[x] = int16_t(p[x - 1] + p[x + 1]);
      o2[x] = int16_t(p[x]);
    }
    for (uint32_t x : {0u, 1u, width - 2, width - 1}) {  // the edge columns repeat
      uint32_t l2 = x >= 2 ? x - 2 : 0, l1 = x >= 1 ? x - 1 : 0;
      uint32_t r1 = std::min(x + 1, width - 1), r2 = std::min(x + 2, width - 1);
      o0[x] = int16_t(p[l2] + p[r2]);
      o1[x] = int16_t(p[l1] + p[r1]);
      o2[x] = int16_t(p[x]);
    }
  };
  auto clampRow = [&](int64_t y) { return uint32_t(std::clamp<int64_t>(y, 0, int64_t(height) - 1)); };
  for (int64_t y = int64_t(first) - 2; y <= int64_t(first) + 1; ++y) sums(clampRow(y), h[clampRow(y) % 5]);

  // Coefficient pairs for the pairwise multiply-adds: the nine symmetric sums
  // V[i][j] go in pairs (V00 V01) (V02 V10) (V11 V12) (V20 V21) (V22 0).
  auto pairs = [](const int32_t c[3][3], __m128i out[5]) {
    const int32_t flat[10] = {c[0][0], c[0][1], c[0][2], c[1][0], c[1][1], c[1][2], c[2][0], c[2][1], c[2][2], 0};
    for (int k = 0; k < 5; ++k)
      out[k] = _mm_set1_epi32(int32_t(uint32_t(uint16_t(flat[2 * k])) | (uint32_t(uint16_t(flat[2 * k + 1])) << 16)));
  };
  __m128i c1[5], c2[5];
  pairs(a.coef[0], c1);
  pairs(a.coef[1], c2);
  const __m128i shift = _mm_cvtsi32_si128(4 + std::min(a.normalise, 15));
  const __m128i low = _mm_set1_epi16(int16_t(a.lowThreshold));
  const __m128i up1 = _mm_set1_epi16(int16_t(std::max(a.negative[0], a.upper[0]))), neg1 = _mm_set1_epi16(int16_t(a.negative[0]));
  const __m128i up2 = _mm_set1_epi16(int16_t(std::max(a.negative[1], a.upper[1]))), neg2 = _mm_set1_epi16(int16_t(a.negative[1]));
  const __m128i amount1 = _mm_set1_epi16(int16_t(a.amount[0])), amount2 = _mm_set1_epi16(int16_t(a.amount[1]));
  const __m128i smoothPair = _mm_set1_epi32(int32_t(uint32_t(uint16_t(a.centre)) | (uint32_t(uint16_t(a.surround)) << 16)));
  const __m128 inverse = _mm_set1_ps(smooth ? 1.0f / float(a.centre + 8 * a.surround) : 1.0f);
  const __m128i zero = _mm_setzero_si128(), four = _mm_set1_epi16(4);

  // One filter's edge response for eight samples, cored and clipped.
  auto edge = [&](const __m128i pv[10], const __m128i c[5], __m128i up, __m128i neg) {
    __m128i lo = zero, hi = zero;
    for (int k = 0; k < 5; ++k) {
      lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_unpacklo_epi16(pv[2 * k], pv[2 * k + 1]), c[k]));
      hi = _mm_add_epi32(hi, _mm_madd_epi16(_mm_unpackhi_epi16(pv[2 * k], pv[2 * k + 1]), c[k]));
    }
    __m128i e = _mm_packs_epi32(_mm_sra_epi32(lo, shift), _mm_sra_epi32(hi, shift));
    __m128i size = _mm_max_epi16(e, _mm_sub_epi16(zero, e));
    e = _mm_andnot_si128(_mm_cmplt_epi16(size, low), e);
    return _mm_min_epi16(_mm_max_epi16(e, neg), up);
  };

  std::vector<uint8_t> out(padded);
  for (uint32_t y = first; y < end; ++y) {
    if (y + 2 < height) sums(y + 2, h[(y + 2) % 5]);
    const int16_t* r[5][3];  // rows y-2 .. y+2, sums 0..2
    for (int k = 0; k < 5; ++k)
      for (int j = 0; j < 3; ++j) r[k][j] = h[clampRow(int64_t(y) + k - 2) % 5][j].data();
    for (uint32_t x = 0; x < width; x += 8) {
      auto at = [&](int k, int j) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(r[k][j] + x)); };
      // V[i][j]: rows +-(2 - i), columns +-(2 - j).
      __m128i v[3][3];
      for (int j = 0; j < 3; ++j) {
        v[0][j] = _mm_add_epi16(at(0, j), at(4, j));
        v[1][j] = _mm_add_epi16(at(1, j), at(3, j));
        v[2][j] = at(2, j);
      }
      const __m128i pv[10] = {v[0][0], v[0][1], v[0][2], v[1][0], v[1][1], v[1][2], v[2][0], v[2][1], v[2][2], zero};
      __m128i p = v[2][2];
      __m128i base = p;
      if (smooth) {
        // centre x sample + surround x the eight around it, over their weights.
        __m128i ring = _mm_add_epi16(_mm_add_epi16(v[1][1], v[1][2]), v[2][1]);
        __m128i lo = _mm_madd_epi16(_mm_unpacklo_epi16(p, ring), smoothPair);
        __m128i hi = _mm_madd_epi16(_mm_unpackhi_epi16(p, ring), smoothPair);
        base = _mm_packs_epi32(_mm_cvtps_epi32(_mm_mul_ps(_mm_cvtepi32_ps(lo), inverse)),
                               _mm_cvtps_epi32(_mm_mul_ps(_mm_cvtepi32_ps(hi), inverse)));
      }
      if (sharpen) {
        __m128i add = _mm_add_epi16(_mm_mullo_epi16(edge(pv, c1, up1, neg1), amount1),
                                    _mm_mullo_epi16(edge(pv, c2, up2, neg2), amount2));
        base = _mm_add_epi16(base, _mm_srai_epi16(_mm_add_epi16(add, four), 3));  // Q3, rounded
      }
      _mm_storel_epi64(reinterpret_cast<__m128i*>(&out[x]), _mm_packus_epi16(base, zero));
    }
    std::memcpy(result + size_t(y) * width, out.data(), width);
  }
}

// ---- Stage costs ------------------------------------------------------------------------
namespace {
struct StageCost {
  std::atomic<uint64_t> ns{0};
  std::atomic<uint32_t> runs{0};
};
StageCost* Costs() {
  static StageCost* costs = new StageCost[kStageCount];  // read after the engine thread may have ended
  return costs;
}
const char* const kStageNames[kStageCount] = {"bayer linearise", "roll-off", "bad-pixel correction", "ABF", "ASF"};
int64_t ThreadNs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}
}  // namespace

void AddStageTime(Stage stage, int64_t ns, bool countsRun) {
  Costs()[stage].ns += uint64_t(std::max<int64_t>(ns, 0));
  if (countsRun) ++Costs()[stage].runs;
}
StageTimer::StageTimer(Stage stage, bool countsRun) : stage_(stage), start_(ThreadNs()), countsRun_(countsRun) {}
StageTimer::~StageTimer() { AddStageTime(stage_, ThreadNs() - start_, countsRun_); }

}  // namespace board::vfe

std::vector<BoardVfeStageCost> BoardVfeStageCosts() {
  std::vector<BoardVfeStageCost> out;
  for (int s = 0; s < board::vfe::kStageCount; ++s)
    out.push_back({board::vfe::kStageNames[s], board::vfe::Costs()[s].ns.load(), board::vfe::Costs()[s].runs.load()});
  return out;
}

void BoardVfeClearStageCosts() {
  for (int s = 0; s < board::vfe::kStageCount; ++s) {
    board::vfe::Costs()[s].ns = 0;
    board::vfe::Costs()[s].runs = 0;
  }
}
