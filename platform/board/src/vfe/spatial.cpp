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
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "vfe_pipeline.h"

namespace board::vfe {
namespace {

uint32_t RegAt(const RegisterImage& r, uint32_t offset) { return r[offset / 4]; }
int32_t Signed(uint32_t v, uint32_t bits) {
  uint32_t m = 1u << (bits - 1);
  v &= (1u << bits) - 1;
  return int32_t(v ^ m) - int32_t(m);
}

constexpr uint32_t kModRolloff = 1u << 1;
constexpr uint32_t kModDemosaic = 1u << 4;
constexpr uint32_t kModAsf = 1u << 15;
constexpr uint32_t kRegRolloffGrid = 0x1A4;
constexpr uint32_t kRegDemosaic = 0x1C4;
constexpr uint32_t kRegAbfThreshold = 0x1C8;
constexpr uint32_t kRegAbfLevels = 0x1CC;
constexpr uint32_t kRegBpcRedBlue = 0x1D0;
constexpr uint32_t kRegBpcGreen = 0x1D4;
constexpr uint32_t kRegAsf = 0x248;
constexpr uint32_t kRolloffTable = 1;
constexpr uint32_t kRolloffStepsAt = 32;

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

// Applies the roll-off gains to the linear window rows in place.
void RolloffStage(const RegisterImage& regs, const TableImage& tables, uint16_t* plane, uint32_t width,
                  uint32_t height) {
  Rolloff r = ReadRolloff(regs, tables);
  uint32_t quads = (width + 1) / 2;
  std::vector<int32_t> above(quads), below(quads), gains(quads);
  for (uint32_t y = 0; y < height; ++y) {
    uint32_t qy = y >> 1;
    uint32_t row = std::min(qy / r.cellH, 11u);
    int64_t t = std::min<int64_t>(int64_t(qy - row * r.cellH) * r.inverseH, 4096);
    for (uint32_t phase = 0; phase < 2; ++phase) {
      int c = int((y & 1) << 1 | phase);
      GridRowGains(r, c, row, quads, above.data());
      GridRowGains(r, c, row + 1, quads, below.data());
      uint16_t* s = plane + size_t(y) * width + phase;
      for (uint32_t q = 0; 2 * q + phase < width; ++q) {
        int64_t g = above[q] + (((int64_t(below[q]) - above[q]) * t) >> 12);
        int64_t v = (int64_t(s[2 * q]) * std::max<int64_t>(g, 0) + 2048) >> 12;
        s[2 * q] = uint16_t(std::min<int64_t>(v, 1023));
      }
    }
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

// A sample above max(neighbour max x maxFactor, neighbour max + threshold) is
// hot and becomes the neighbours' maximum; one below min(neighbour min x
// minFactor, neighbour min - threshold) is dead and becomes their minimum.
void BpcStage(const Bpc& b, uint32_t order, const uint16_t* in, uint16_t* out, uint32_t width, uint32_t height) {
  std::memcpy(out, in, sizeof(uint16_t) * width * height);
  if (width < 5 || height < 5) return;
  for (uint32_t y = 2; y + 2 < height; ++y) {
    const uint16_t* up = in + size_t(y - 2) * width;
    const uint16_t* mid = in + size_t(y) * width;
    const uint16_t* dn = in + size_t(y + 2) * width;
    uint16_t* o = out + size_t(y) * width;
    for (uint32_t phase = 0; phase < 2; ++phase) {
      int32_t t = b.threshold[BayerColour(order, phase, y)];
      for (uint32_t x = 2 + phase; x + 2 < width; x += 2) {
        int32_t n[kNeighbours] = {up[x - 2], up[x], up[x + 2], mid[x - 2], mid[x + 2], dn[x - 2], dn[x], dn[x + 2]};
        int32_t hi = n[0], lo = n[0];
        for (int k = 1; k < kNeighbours; ++k) {
          hi = std::max(hi, n[k]);
          lo = std::min(lo, n[k]);
        }
        int32_t p = mid[x];
        if (p > std::max((hi * b.maxFactor) >> 6, hi + t))
          o[x] = uint16_t(hi);
        else if (p < std::min((lo * b.minFactor) >> 6, lo - t))
          o[x] = uint16_t(lo);
      }
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
// of it join; their summed differences, shifted right by `shift`, are the
// correction, of which (16 - ratio) sixteenths are applied. The reset values
// (shift 3, threshold 1023, ratio 15) so nudge each sample a sixteenth of the
// way to its neighbours' mean; a ratio of 0 moves it all the way.
void AbfStage(const Abf& a, const uint16_t* in, uint16_t* out, uint32_t width, uint32_t height) {
  std::memcpy(out, in, sizeof(uint16_t) * width * height);
  if (width < 5 || height < 5) return;
  const int32_t keep = 16 - a.ratio;
  for (uint32_t y = 2; y + 2 < height; ++y) {
    const uint16_t* up = in + size_t(y - 2) * width;
    const uint16_t* mid = in + size_t(y) * width;
    const uint16_t* dn = in + size_t(y + 2) * width;
    uint16_t* o = out + size_t(y) * width;
    for (uint32_t x = 2; x + 2 < width; ++x) {
      int32_t p = mid[x];
      if (p < a.minimum || p > a.maximum) continue;
      int32_t n[kNeighbours] = {up[x - 2], up[x], up[x + 2], mid[x - 2], mid[x + 2], dn[x - 2], dn[x], dn[x + 2]};
      int32_t sum = 0;
      for (int k = 0; k < kNeighbours; ++k) {
        int32_t d = n[k] - p;
        sum += std::abs(d) <= a.threshold ? d : 0;
      }
      int32_t c = sum >= 0 ? (sum >> a.shift) : -((-sum) >> a.shift);
      o[x] = uint16_t(std::clamp(p + c * keep / 16, 0, 1023));
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

// Coring and clipping of one edge response: below the low threshold in size
// it is noise (0); above the upper or below the negative threshold it is held
// there.
inline int32_t Edge(int32_t v, int32_t low, int32_t upper, int32_t negative) {
  if (v < low && v > -low) return 0;
  return std::clamp(v, negative, std::max(negative, upper));
}

}  // namespace

bool BayerSpatialStages(const RegisterImage& regs, const TableImage& tables, BayerView* window, const BayerLut** lut,
                        BayerPlanes* work) {
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
  {
    StageTimer timer(kStageBayerLinear);
    for (uint32_t y = 0; y < w.height; ++y) {
      const uint16_t* src = w.data + size_t(y) * w.stride;
      uint16_t* dst = cur + size_t(y) * w.width;
      const uint16_t* even = (*lut)->phase[(y & 1) << 1];
      const uint16_t* odd = (*lut)->phase[((y & 1) << 1) | 1];
      uint32_t x = 0;
      for (; x + 1 < w.width; x += 2) {
        dst[x] = even[src[x] & 1023];
        dst[x + 1] = odd[src[x + 1] & 1023];
      }
      if (x < w.width) dst[x] = even[src[x] & 1023];
    }
  }
  if (rolloff) {
    StageTimer timer(kStageRolloff);
    RolloffStage(regs, tables, cur, w.width, w.height);
  }
  if (bpcOn) {
    StageTimer timer(kStageBadPixel);
    BpcStage(bpc, w.order, cur, other, w.width, w.height);
    std::swap(cur, other);
  }
  if (abfOn) {
    StageTimer timer(kStageAbf);
    AbfStage(abf, cur, other, w.width, w.height);
    std::swap(cur, other);
  }
  window->data = cur;
  window->stride = w.width;
  *lut = &IdentityLut();
  return true;
}

bool DemosaicEnabled(const RegisterImage& regs) { return (RegAt(regs, kRegModuleEnable) & kModDemosaic) != 0; }

void AdaptiveSpatialFilter(const RegisterImage& regs, uint8_t* luma, uint32_t width, uint32_t height) {
  if (!(RegAt(regs, kRegModuleEnable) & kModAsf) || width < 5 || height < 5) return;
  StageTimer timer(kStageAsf);
  Asf a = ReadAsf(regs);
  bool smooth = a.mode != 1, sharpen = a.mode != 0;
  // Per row of the image, its three symmetric horizontal sums: h[0] the
  // samples two away, h[1] one away, h[2] the sample; kept for five rows.
  std::vector<int16_t> h[5][3];
  for (auto& row : h)
    for (auto& v : row) v.assign(width, 0);
  auto sums = [&](uint32_t y, std::vector<int16_t>* out) {
    const uint8_t* p = luma + size_t(y) * width;
    for (uint32_t x = 0; x < width; ++x) {
      uint32_t l2 = x >= 2 ? x - 2 : 0, l1 = x >= 1 ? x - 1 : 0;
      uint32_t r1 = std::min(x + 1, width - 1), r2 = std::min(x + 2, width - 1);
      out[0][x] = int16_t(p[l2] + p[r2]);
      out[1][x] = int16_t(p[l1] + p[r1]);
      out[2][x] = int16_t(p[x]);
    }
  };
  // Rows beyond the edges repeat the edge row.
  auto slot = [&](int64_t y) { return uint32_t(std::clamp<int64_t>(y, 0, height - 1)) % 5; };
  for (int64_t y = -2; y <= 1; ++y) sums(uint32_t(std::clamp<int64_t>(y, 0, height - 1)), h[slot(y)]);
  std::vector<uint8_t> out(width);
  const int32_t denominator = a.centre + 8 * a.surround;
  const uint32_t shift = 4 + uint32_t(std::min(a.normalise, 15));
  for (uint32_t y = 0; y < height; ++y) {
    if (y + 2 < height) sums(y + 2, h[(y + 2) % 5]);
    const std::vector<int16_t>* r[5];  // rows y-2 .. y+2
    for (int k = 0; k < 5; ++k) r[k] = h[slot(int64_t(y) + k - 2)];
    for (uint32_t x = 0; x < width; ++x) {
      // Symmetric sums V[i][j]: rows +-(2 - i), columns +-(2 - j).
      int32_t v[3][3];
      for (int j = 0; j < 3; ++j) {
        v[0][j] = r[0][j][x] + r[4][j][x];
        v[1][j] = r[1][j][x] + r[3][j][x];
        v[2][j] = r[2][j][x];
      }
      int32_t p = v[2][2];
      int32_t base = p;
      if (smooth && denominator > 0) {
        int32_t ring = v[1][1] + v[1][2] + v[2][1];  // the eight around the sample
        base = (a.centre * p + a.surround * ring + denominator / 2) / denominator;
      }
      int32_t add = 0;
      if (sharpen) {
        for (int f = 0; f < 2; ++f) {
          int32_t e = 0;
          for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j) e += a.coef[f][i][j] * v[i][j];
          e = e >= 0 ? e >> shift : -((-e) >> shift);
          add += Edge(e, a.lowThreshold, a.upper[f], a.negative[f]) * a.amount[f];
        }
        add = add >= 0 ? (add + 4) >> 3 : -((-add + 4) >> 3);
      }
      out[x] = uint8_t(std::clamp(base + add, 0, 255));
    }
    // Row y is no longer read as input once rows y-2..y+2 are done with it:
    // its sums are kept in the ring, so the output can go in place.
    std::memcpy(luma + size_t(y) * width, out.data(), width);
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

void AddStageTime(Stage stage, int64_t ns) {
  Costs()[stage].ns += uint64_t(std::max<int64_t>(ns, 0));
  ++Costs()[stage].runs;
}
StageTimer::StageTimer(Stage stage) : stage_(stage), start_(ThreadNs()) {}
StageTimer::~StageTimer() { AddStageTime(stage_, ThreadNs() - start_); }

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
