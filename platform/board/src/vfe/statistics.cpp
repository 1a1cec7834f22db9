// The VFE's statistics engines, computed from the frame's own samples.
//
// White balance / exposure: a 16 x 16 grid of regions over the statistics
// area (0x33C) from the demosaic area's origin, worked on 2x2 Bayer quads
// after black level: per region the sums of Y, Cb and Cr over the near-grey
// quads and their count, then the sum of Y and the sums of R, G and B over all
// quads (board_vfe.h gives the classification and the scales).
//
// Auto focus: a high-pass filter over the green samples of the focus window
// (0x2F8/0x2FC, in demosaic-area coordinates like the crop), summed per line pair,
// either over the whole window or over 16 selected cells of a 16 x 16 grid.
#include <algorithm>
#include <cstdlib>

#include "vfe_pipeline.h"

namespace board::vfe {
namespace {

uint32_t RegAt(const RegisterImage& r, uint32_t offset) { return r[offset / 4]; }
uint32_t Saturate(uint64_t v, uint32_t bits) { return uint32_t(std::min<uint64_t>(v, (1ull << bits) - 1)); }
int32_t Signed(uint32_t v, uint32_t bits) {
  uint32_t m = 1u << (bits - 1);
  v &= (1u << bits) - 1;
  return int32_t(v ^ m) - int32_t(m);
}

constexpr uint32_t kGrid = 16;
constexpr uint32_t kWordsPerRegion = 8;

struct Region {
  uint64_t y = 0, cb = 0, cr = 0, count = 0, yAll = 0, r = 0, g = 0, b = 0;
};

// Near-grey test of the AWB-extended block (0x31C-0x32C) on the 8-bit scale
// the payload is written in: Y in [luma min, luma max] when 0x31C bit 0 is
// set, and inside the four chroma lines when bit 1 is set, with Cb and Cr
// centred on 128:
//   Cb <= m1 Cr / 16 + c1,  Cr >= m2 Cb / 16 + c2,
//   Cb >= m3 Cr / 16 + c3,  Cr <= m4 Cb / 16 + c4.
// With the block's reset values (16, -16, 16, -16; 39, 165, -106, 257) this is
// the band 165 <= Cb + Cr <= 257, -106 <= Cb - Cr <= 39 around grey, wide
// towards green and warm light where uncorrected greys fall.
struct GreyBox {
  bool lumaTest = false, chromaTest = false;
  int32_t yMin = 0, yMax = 255;
  int32_t slope[4] = {};   // Q4
  int32_t offset[4] = {};
  // y, cb, cr on the 10-bit scale with Cb, Cr centred on 0.
  bool Inside(int32_t y10, int32_t cb10, int32_t cr10) const {
    if (lumaTest) {
      int32_t y = y10 >> 2;
      if (y < yMin || y > yMax) return false;
    }
    if (!chromaTest) return true;
    // 8-bit Cb, Cr centred on 128, kept in quarter steps (x4) for the comparisons.
    int32_t cb = cb10 + 512, cr = cr10 + 512;
    return 16 * cb <= slope[0] * cr + 64 * offset[0] && 16 * cr >= slope[1] * cb + 64 * offset[1] &&
           16 * cb >= slope[2] * cr + 64 * offset[2] && 16 * cr <= slope[3] * cb + 64 * offset[3];
  }
};

GreyBox MakeGreyBox(const RegisterImage& regs) {
  GreyBox g;
  uint32_t cfg = RegAt(regs, kRegAwbConfig);
  g.lumaTest = (cfg & 1) != 0;
  g.chromaTest = (cfg & 2) != 0;
  g.yMin = int32_t((cfg >> 16) & 0xFF);
  g.yMax = int32_t((cfg >> 24) & 0xFF);
  uint32_t s = RegAt(regs, kRegAwbSlopes);
  for (int k = 0; k < 4; ++k) g.slope[k] = Signed(s >> (24 - 8 * k), 8);
  uint32_t o12 = RegAt(regs, kRegAwbOffsets12), o34 = RegAt(regs, kRegAwbOffsets34);
  g.offset[0] = Signed(o12 >> 16, 12);
  g.offset[1] = Signed(o12, 12);
  g.offset[2] = Signed(o34 >> 16, 12);
  g.offset[3] = Signed(o34, 12);
  return g;
}

// The linearised sample of the window at (x, y).
inline uint32_t Sample(const BayerView& w, const BayerLut& lut, uint32_t x, uint32_t y) {
  return lut.phase[((y & 1) << 1) | (x & 1)][w.data[size_t(y) * w.stride + x] & 1023];
}

inline uint32_t Green(const BayerView& w, const BayerLut& lut, uint32_t x, uint32_t y) {
  if (BayerColour(w.order, x, y) == 1) return Sample(w, lut, x, y);
  return (Sample(w, lut, x - 1, y) + Sample(w, lut, x + 1, y) + Sample(w, lut, x, y - 1) + Sample(w, lut, x, y + 1) + 2) >> 2;
}

}  // namespace

void ComputeWbExpStats(const RegisterImage& regs, const BayerView& win, const BayerLut& lut, uint32_t serial,
                       std::vector<uint32_t>* words) {
  uint32_t areaW = win.width - 2 * kDemosaicMarginX, areaH = win.height - 2 * kDemosaicMarginY;
  uint32_t area = RegAt(regs, kRegStatsArea);
  uint32_t w = std::min(areaW, (area & 0xFFF) + 1), h = std::min(areaH, ((area >> 16) & 0xFFF) + 1);
  uint32_t qw = w / 2, qh = h / 2;
  std::vector<Region> regions(kGrid * kGrid);
  GreyBox grey = MakeGreyBox(regs);
  if (qw >= kGrid && qh >= kGrid) {
    // Every quad starts on the same Bayer phase: its four colours and tables are fixed.
    int colour[4];
    const uint16_t* table[4];
    for (uint32_t k = 0; k < 4; ++k) {
      uint32_t sx = kDemosaicMarginX + (k & 1), sy = kDemosaicMarginY + (k >> 1);
      colour[k] = BayerColour(win.order, sx, sy);
      table[k] = lut.phase[((sy & 1) << 1) | (sx & 1)];
    }
    for (uint32_t qy = 0; qy < qh; ++qy) {
      const uint16_t* rows[2];
      rows[0] = win.data + size_t(kDemosaicMarginY + 2 * qy) * win.stride + kDemosaicMarginX;
      rows[1] = rows[0] + win.stride;
      Region* row = &regions[(qy * kGrid / qh) * kGrid];
      // One region's span of the line at a time, summed in registers.
      for (uint32_t rx = 0; rx < kGrid; ++rx) {
        uint32_t q0 = (rx * qw + kGrid - 1) / kGrid, q1 = ((rx + 1) * qw + kGrid - 1) / kGrid;
        uint32_t sy = 0, scb = 0, scr = 0, n = 0, yAll = 0, sr = 0, sg = 0, sb = 0;
        for (uint32_t qx = q0; qx < q1; ++qx) {
          int32_t c[3] = {0, 0, 0};
          for (uint32_t k = 0; k < 4; ++k) c[colour[k]] += table[k][rows[k >> 1][2 * qx + (k & 1)] & 1023];
          int32_t r = c[0], g = c[1] >> 1, b = c[2];
          // Q10 of 0.299, 0.587, 0.114; 0.564 and 0.713.
          int32_t yv = (306 * r + 601 * g + 117 * b + 512) >> 10;
          int32_t cb = (578 * (b - yv)) >> 10, cr = (730 * (r - yv)) >> 10;
          if (grey.Inside(yv, cb, cr)) {
            sy += uint32_t(yv);
            scb += uint32_t(std::clamp(cb + 512, 0, 1023));
            scr += uint32_t(std::clamp(cr + 512, 0, 1023));
            ++n;
          }
          yAll += uint32_t(yv);
          sr += uint32_t(r) >> 2;
          sg += uint32_t(g) >> 2;
          sb += uint32_t(b) >> 2;
        }
        Region& reg = row[rx];
        reg.y += sy;
        reg.cb += scb;
        reg.cr += scr;
        reg.count += n;
        reg.yAll += yAll;
        reg.r += sr;
        reg.g += sg;
        reg.b += sb;
      }
    }
  }
  words->assign(1 + kGrid * kGrid * kWordsPerRegion, 0);
  (*words)[0] = serial;
  for (uint32_t i = 0; i < kGrid * kGrid; ++i) {
    const Region& r = regions[i];
    uint32_t* o = &(*words)[1 + i * kWordsPerRegion];
    o[0] = Saturate(r.y, 25);
    o[1] = Saturate(r.cb, 25);
    o[2] = Saturate(r.cr, 25);
    o[3] = Saturate(r.count, 17);
    o[4] = Saturate(r.yAll, 25);
    o[5] = Saturate(r.r, 21);
    o[6] = Saturate(r.g, 21);
    o[7] = Saturate(r.b, 21);
  }
}

namespace {
FrameVector<int32_t>& GreenBuffer() {
  static auto* green = new FrameVector<int32_t>;  // one frame at a time; never destroyed
  return *green;
}
}  // namespace

void PrepareStatisticsMemory(size_t samples) { PrepareMemory(&GreenBuffer(), samples); }

void ComputeAfStats(const RegisterImage& regs, const BayerView& win, const BayerLut& lut, uint32_t sensorHeight,
                    uint32_t serial, std::vector<uint32_t>* words) {
  uint32_t wnd = RegAt(regs, kRegAfWindow), size = RegAt(regs, kRegAfCells);
  bool cellMode = (wnd >> 31) != 0;
  // The window is given in demosaic-area coordinates, as the field-of-view
  // crop is (the configuration places it inside the crop itself); here it goes
  // to window-sample coordinates, kept two samples clear of the edges.
  uint32_t left = kDemosaicMarginX + ((wnd >> 16) & 0xFFF);
  uint32_t top = kDemosaicMarginY + (wnd & 0xFFF);
  uint32_t width = (size >> 16) & 0xFFF, height = size & 0xFFF;
  left = std::max(left, 3u);
  top = std::max(top, 3u);
  if (left >= win.width - 3 || top >= win.height - 1) width = height = 0;
  width = std::min(width, win.width - 3 - left);
  height = std::min(height, win.height - 1 - top);

  uint32_t filter = RegAt(regs, kRegAfFilter), taps = RegAt(regs, kRegAfTaps);
  int32_t a00 = Signed(filter, 5), a04 = Signed(filter >> 5, 5);
  int32_t a2[5];
  for (int k = 0; k < 5; ++k) a2[k] = Signed(taps >> (5 * k), 5);
  int32_t clip = int32_t((filter >> 10) & 0x7FF);
  bool squares = (filter >> 21) & 1;

  // The green plane of the focus window with a two-sample border left, right
  // and above, computed once.
  uint32_t gx0 = left - 2, gy0 = top - 2, gw = width + 4, gh = height + 2;
  FrameVector<int32_t>& green = GreenBuffer();
  green.resize(size_t(gw) * gh);
  for (uint32_t y = 0; y < gh && width >= 5 && height >= 3; ++y)
    for (uint32_t x = 0; x < gw; ++x) green[size_t(y) * gw + x] = int32_t(Green(win, lut, gx0 + x, gy0 + y));

  // The focus value of the line pair ending at window row y over columns [x0, x1).
  auto linePair = [&](uint32_t y, uint32_t x0, uint32_t x1) {
    uint64_t sum = 0;
    const int32_t* above = &green[size_t(y - 2 - gy0) * gw];
    const int32_t* row = &green[size_t(y - gy0) * gw];
    for (uint32_t wx = x0; wx < x1; ++wx) {
      uint32_t x = wx - gx0;
      int32_t v = a00 * above[x - 2] + a04 * above[x + 2] + a2[0] * row[x - 2] + a2[1] * row[x - 1] + a2[2] * row[x] +
                  a2[3] * row[x + 1] + a2[4] * row[x + 2];
      int32_t m = std::min(std::abs(v), clip);
      sum += squares ? (uint64_t(m) * m) >> 8 : uint64_t(m);
    }
    return sum;
  };

  uint32_t capacity = (sensorHeight - 1) / 2 + 1;
  words->assign(1, serial);
  if (width < 5 || height < 3) return;
  if (!cellMode) {
    uint32_t pairs = (height - 1) / 2;
    for (uint32_t k = 0; k < pairs && words->size() < capacity; ++k)
      words->push_back(Saturate(linePair(top + 2 + 2 * k, left + 2, left + width - 2), 22));
    return;
  }
  uint32_t cellW = width / kGrid, cellH = height / kGrid;
  uint32_t pairs = cellH >= 1 ? (cellH - 1) / 2 : 0;
  for (uint32_t i = 0; i < 16; ++i) {
    uint32_t cell = (RegAt(regs, kRegAfSelect + 4 * (i / 4)) >> (8 * (i % 4))) & 0xFF;
    uint32_t cx = left + (cell % kGrid) * cellW, cy = top + (cell / kGrid) * cellH;
    for (uint32_t k = 0; k < pairs && words->size() < capacity; ++k) {
      uint32_t x0 = std::max(cx, left + 2), x1 = std::min(cx + cellW, left + width - 2);
      uint64_t v = x1 > x0 ? linePair(cy + 2 + 2 * k, x0, x1) : 0;
      words->push_back((cell << 24) | Saturate(v, 19));
    }
  }
}

}  // namespace board::vfe
