// The VFE's image pipeline: the camera-interface window with its skip
// patterns, the Bayer stages (black level, channel gain), a bilinear demosaic
// of the programmed Bayer order limited to the field-of-view crop, the main
// scaler, the colour stages and the colour conversion to YCbCr, the output
// clamp, and the OUTPUT1 luma and chroma scalers; outputs are NV21 (luma plane,
// then interleaved Cr, Cb at half resolution) or, on the raw path, 8-bit Bayer.
// Each colour stage is a function of its own so that it can honour its block's
// registers; until then white balance, colour correction and the gamma tables
// are neutral and the standard sRGB curve brings the 10-bit data to 8 bits.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "vfe_pipeline.h"

namespace board::vfe {
namespace {

uint32_t RegAt(const RegisterImage& r, uint32_t offset) { return r[offset / 4]; }

// ---- Camera interface -------------------------------------------------------------
// Keeps sample i of a line (line i of the frame) when bit i mod 16 of its
// pattern is set; an all-zero pattern is taken as keep-all.
BayerView CamifWindow(const RegisterImage& regs, const std::vector<uint16_t>& raw, uint32_t rawWidth,
                      std::vector<uint16_t>* skipped) {
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
// Black level per 2x2 phase (module bit 0): subtracted and the remaining range
// stretched back to 0..1023.
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

// Channel gains (0x1B4/0x1B8, Q7): neutral until the colour stages honour
// their payloads.
void ChannelGainStage(const RegisterImage&, BayerLut*) {}

// ---- Demosaic ---------------------------------------------------------------------
// Bilinear interpolation over the demosaic area (the window less 6 samples on
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
  std::vector<T> c[3];
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

// The two kinds of site of a Bayer row: green, whose row neighbours are the
// row's colour C and column neighbours the other colour O; and C, whose four
// neighbours are green and diagonals O.
inline void GreenSite(const uint16_t* up, const uint16_t* mid, const uint16_t* dn, uint32_t x, uint16_t* g,
                      uint16_t* c, uint16_t* o) {
  g[x] = mid[x];
  c[x] = uint16_t((uint32_t(mid[x - 1]) + mid[x + 1] + 1) >> 1);
  o[x] = uint16_t((uint32_t(up[x]) + dn[x] + 1) >> 1);
}
inline void ColourSite(const uint16_t* up, const uint16_t* mid, const uint16_t* dn, uint32_t x, uint16_t* g,
                       uint16_t* c, uint16_t* o) {
  c[x] = mid[x];
  g[x] = uint16_t((uint32_t(mid[x - 1]) + mid[x + 1] + up[x] + dn[x] + 2) >> 2);
  o[x] = uint16_t((uint32_t(up[x - 1]) + up[x + 1] + dn[x - 1] + dn[x + 1] + 2) >> 2);
}

// Bilinear demosaic of crop row y into three rows.
void DemosaicRow(LinearRows& lin, uint32_t order, uint32_t y, uint16_t* r, uint16_t* g, uint16_t* b) {
  uint32_t w = lin.width() - 2;
  const uint16_t* up = lin.Row(y) + 1;
  const uint16_t* mid = lin.Row(y + 1) + 1;
  const uint16_t* dn = lin.Row(y + 2) + 1;
  uint32_t wy = lin.y0() + 1 + y, wx = lin.x0() + 1;
  bool greenFirst = BayerColour(order, wx, wy) == 1;
  int rowColour = BayerColour(order, greenFirst ? wx + 1 : wx, wy);  // R or B
  uint16_t* c = rowColour == 0 ? r : b;
  uint16_t* o = rowColour == 0 ? b : r;
  uint32_t x = 0;
  if (greenFirst) {
    for (; x + 1 < w; x += 2) {
      GreenSite(up, mid, dn, x, g, c, o);
      ColourSite(up, mid, dn, x + 1, g, c, o);
    }
    if (x < w) GreenSite(up, mid, dn, x, g, c, o);
  } else {
    for (; x + 1 < w; x += 2) {
      ColourSite(up, mid, dn, x, g, c, o);
      GreenSite(up, mid, dn, x + 1, g, c, o);
    }
    if (x < w) ColourSite(up, mid, dn, x, g, c, o);
  }
}

// Demosaic off: every colour of a pixel is its own sample.
void MosaicRow(LinearRows& lin, uint32_t, uint32_t y, uint16_t* r, uint16_t* g, uint16_t* b) {
  uint32_t w = lin.width() - 2;
  const uint16_t* mid = lin.Row(y + 1) + 1;
  for (uint32_t x = 0; x < w; ++x) r[x] = g[x] = b[x] = mid[x];
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

template <typename T>
void AreaScale(const T* src, uint32_t sw, uint32_t sh, T* dst, uint32_t dw, uint32_t dh) {
  if (sw == dw && sh == dh) {
    std::memcpy(dst, src, sizeof(T) * sw * sh);
    return;
  }
  Taps h = MakeTaps(sw, dw), v = MakeTaps(sh, dh);
  std::vector<float> rows(size_t(dw) * sh);
  for (uint32_t y = 0; y < sh; ++y) {
    const T* row = src + size_t(y) * sw;
    float* o = &rows[size_t(y) * dw];
    for (uint32_t i = 0; i < dw; ++i) {
      const float* w = &h.weight[h.offset[i]];
      const T* s = row + h.first[i];
      float acc = 0;
      for (uint32_t k = 0; k < h.count[i]; ++k) acc += w[k] * float(s[k]);
      o[i] = acc;
    }
  }
  std::vector<float> acc(dw);
  for (uint32_t j = 0; j < dh; ++j) {
    std::fill(acc.begin(), acc.end(), 0.0f);
    const float* w = &v.weight[v.offset[j]];
    for (uint32_t k = 0; k < v.count[j]; ++k) {
      const float* row = &rows[size_t(v.first[j] + k) * dw];
      for (uint32_t i = 0; i < dw; ++i) acc[i] += w[k] * row[i];
    }
    T* o = dst + size_t(j) * dw;
    for (uint32_t i = 0; i < dw; ++i) o[i] = T(acc[i] + 0.5f);
  }
}

// Output size of a scaler: its programmed output where the module and the
// direction are enabled and the ratio shrinks, else its input.
void ScalerSize(const RegisterImage& regs, uint32_t base, uint32_t hWord, uint32_t vWord, bool module, uint32_t inW,
                uint32_t inH, uint32_t* outW, uint32_t* outH) {
  uint32_t en = RegAt(regs, base);
  uint32_t hOut = (RegAt(regs, hWord) >> 16) & 0xFFF, vOut = (RegAt(regs, vWord) >> 16) & 0xFFF;
  *outW = module && (en & 1) && hOut > 0 && hOut <= inW ? hOut : inW;
  *outH = module && (en & 2) && vOut > 0 && vOut <= inH ? vOut : inH;
}

// ---- Colour stages ------------------------------------------------------------------
// Each works on one row of R, G, B samples (10-bit linear) in place.
struct RgbRow {
  uint16_t* r;
  uint16_t* g;
  uint16_t* b;
  uint32_t n;
};
// White balance (0x2B4): neutral for now.
void WhiteBalanceStage(const RegisterImage&, const RgbRow&) {}
// Colour correction (0x1E8-0x218): neutral for now.
void ColourCorrectionStage(const RegisterImage&, const RgbRow&) {}

// Gamma: 10-bit linear to 8 bits by the standard sRGB curve, standing in for
// the gamma tables.
struct GammaLut {
  uint8_t v[1024];
};
const GammaLut& SrgbCurve() {
  static const GammaLut lut = [] {
    GammaLut l;
    for (int i = 0; i < 1024; ++i) {
      double x = i / 1023.0;
      double y = x <= 0.0031308 ? 12.92 * x : 1.055 * std::pow(x, 1 / 2.4) - 0.055;
      l.v[i] = uint8_t(std::lround(y * 255.0));
    }
    return l;
  }();
  return lut;
}
void GammaStage(const RegisterImage&, const RgbRow& in, uint8_t* r, uint8_t* g, uint8_t* b) {
  const uint8_t* lut = SrgbCurve().v;
  for (uint32_t i = 0; i < in.n; ++i) {
    r[i] = lut[std::min<uint32_t>(in.r[i], 1023)];
    g[i] = lut[std::min<uint32_t>(in.g[i], 1023)];
    b[i] = lut[std::min<uint32_t>(in.b[i], 1023)];
  }
}

// Full-range BT.601 in Q8, then the output clamp (0x2EC/0x2F0).
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
// Y of one pixel, Cb and Cr of a block from the sums of its `count` R, G, B.
inline uint8_t LumaOf(const Clamp& k, uint32_t r, uint32_t g, uint32_t b) {
  int y = int((77 * r + 150 * g + 29 * b + 128) >> 8);
  return uint8_t(std::clamp(y, k.lo[0], k.hi[0]));
}
inline void ChromaOf(const Clamp& k, int r, int g, int b, int count, uint8_t* cb, uint8_t* cr) {
  // The offset 128 x 256 per sample keeps the numerators positive.
  int d = 256 * count, offset = 32768 * count + d / 2;
  int u = (-43 * r - 85 * g + 128 * b + offset) / d;
  int v = (128 * r - 107 * g - 21 * b + offset) / d;
  *cb = uint8_t(std::clamp(u, k.lo[1], k.hi[1]));
  *cr = uint8_t(std::clamp(v, k.lo[2], k.hi[2]));
}

// Full-range BT.601: Y of each pixel of the row; the row's R, G, B summed in
// horizontal pairs for the half-resolution chroma.
void ColourConversionStage(const Clamp& clamp, const uint8_t* r, const uint8_t* g, const uint8_t* b, uint32_t n,
                           uint8_t* y, uint16_t* pairR, uint16_t* pairG, uint16_t* pairB) {
  for (uint32_t i = 0; i < n; ++i) y[i] = LumaOf(clamp, r[i], g[i], b[i]);
  for (uint32_t i = 0; i < n / 2; ++i) {
    pairR[i] = uint16_t(r[2 * i] + r[2 * i + 1]);
    pairG[i] = uint16_t(g[2 * i] + g[2 * i + 1]);
    pairB[i] = uint16_t(b[2 * i] + b[2 * i + 1]);
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
  ColourSink(const RegisterImage& regs, uint32_t width, uint32_t height, MainImage* out)
      : regs_(regs), clamp_(OutputClamp(regs)), out_(out) {
    out->width = width;
    out->height = height;
    out->y.resize(size_t(width) * height);
    out->cb.resize(size_t(width / 2) * (height / 2));
    out->cr.resize(out->cb.size());
    for (auto& row : rgb8_) row.resize(width);
    for (auto& row : pairs_) row.resize(width / 2 + 1);
  }
  void Row(uint32_t y, const RgbRow& row) {
    WhiteBalanceStage(regs_, row);
    ColourCorrectionStage(regs_, row);
    GammaStage(regs_, row, rgb8_[0].data(), rgb8_[1].data(), rgb8_[2].data());
    int slot = (y & 1) * 3;
    ColourConversionStage(clamp_, rgb8_[0].data(), rgb8_[1].data(), rgb8_[2].data(), row.n,
                          &out_->y[size_t(y) * out_->width], pairs_[slot].data(), pairs_[slot + 1].data(),
                          pairs_[slot + 2].data());
    if ((y & 1) == 0 || y / 2 >= out_->height / 2) return;
    uint32_t cw = out_->width / 2;
    uint8_t* cb = &out_->cb[size_t(y / 2) * cw];
    uint8_t* cr = &out_->cr[size_t(y / 2) * cw];
    for (uint32_t x = 0; x < cw; ++x)
      ChromaOf(clamp_, pairs_[0][x] + pairs_[3][x], pairs_[1][x] + pairs_[4][x], pairs_[2][x] + pairs_[5][x], 4, &cb[x],
               &cr[x]);
  }

 private:
  const RegisterImage& regs_;
  Clamp clamp_;
  MainImage* out_;
  std::vector<uint8_t> rgb8_[3];
  std::vector<uint16_t> pairs_[6];  // R, G, B pair sums of the even row, then of the odd row
};

// NV21 of an output of width x height from the main image.
void MakeNv21(const MainImage& main, uint32_t width, uint32_t height, OutputImage* out) {
  out->present = true;
  out->raw = false;
  out->width = width;
  out->height = height;
  out->y.resize(size_t(width) * height);
  AreaScale(main.y.data(), main.width, main.height, out->y.data(), width, height);
  uint32_t cw = width / 2, ch = height / 2;
  out->cbcr.assign(size_t(width) * ch, 128);
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

void BuildBayerLut(const RegisterImage& regs, BayerLut* lut) {
  BlackLevelStage(regs, lut);
  ChannelGainStage(regs, lut);
}

void RunFrame(const FrameRequest& rq, FrameProducts* out) {
  const RegisterImage& regs = *rq.regs;
  for (auto& o : out->out) o.present = false;
  out->af.clear();
  out->wb.clear();
  out->unsupported = false;
  if ((RegAt(regs, kRegInputFormat) & 7) >= 4) {
    out->unsupported = true;
    return;
  }
  // Working buffers of the engine's one thread, kept from frame to frame and
  // never destroyed (the thread may outlive static destruction at exit).
  struct Work {
    std::vector<uint16_t> raw, skipped;
    BayerLut lut;
    BayerPlanes bayer;
    Planes<uint16_t> demosaiced, scaled;
    std::vector<uint16_t> row[3];
    MainImage main;
  };
  static Work* work = new Work;
  work->raw.resize(size_t(rq.info.width) * rq.info.height);
  if (!BoardSensorRenderFrame(rq.info, work->raw.data(), rq.info.width)) {
    out->unsupported = true;
    return;
  }
  BayerView win = CamifWindow(regs, work->raw, rq.info.width, &work->skipped);
  if (win.width <= 2 * kDemosaicMarginX + 1 || win.height <= 2 * kDemosaicMarginY + 1) {
    out->unsupported = true;
    return;
  }
  BuildBayerLut(regs, &work->lut);
  uint32_t type = (RegAt(regs, kRegOutputControl) >> 10) & 3;
  if (type == 1 && rq.wantPath[kVfeOutput2]) RawOutput(win, &out->out[kVfeOutput2]);
  const BayerLut* lut = &work->lut;
  BayerSpatialStages(regs, *rq.tables, &win, &lut, &work->bayer);
  if (rq.wantWb) ComputeWbExpStats(regs, win, *lut, rq.serial, &out->wb);
  if (rq.wantAf) ComputeAfStats(regs, win, *lut, rq.info.height, rq.serial, &out->af);

  if (type == 1) return;
  if (type != 0) {
    out->unsupported = true;
    return;
  }
  if (!rq.wantPath[0] && !rq.wantPath[1]) return;

  Crop crop = FovCrop(regs, win);
  LinearRows lin(win, *lut, crop);
  auto demosaicRow = DemosaicEnabled(regs) ? DemosaicRow : MosaicRow;
  uint32_t module = RegAt(regs, kRegModuleEnable);
  uint32_t mw, mh;
  ScalerSize(regs, kRegMainScaler, kRegMainScaler + 4, kRegMainScaler + 16, (module & kModMainScaler) != 0,
             crop.width, crop.height, &mw, &mh);
  ColourSink sink(regs, mw, mh, &work->main);
  if (mw == crop.width && mh == crop.height) {
    // No main scaling: straight from the demosaic, row by row.
    for (auto& r : work->row) r.resize(mw);
    for (uint32_t y = 0; y < mh; ++y) {
      demosaicRow(lin, win.order, y, work->row[0].data(), work->row[1].data(), work->row[2].data());
      sink.Row(y, {work->row[0].data(), work->row[1].data(), work->row[2].data(), mw});
    }
  } else {
    Planes<uint16_t>& d = work->demosaiced;
    Planes<uint16_t>& s = work->scaled;
    d.Resize(crop.width, crop.height);
    for (uint32_t y = 0; y < crop.height; ++y) {
      size_t o = size_t(y) * crop.width;
      demosaicRow(lin, win.order, y, &d.c[0][o], &d.c[1][o], &d.c[2][o]);
    }
    s.Resize(mw, mh);
    for (int k = 0; k < 3; ++k) AreaScale(d.c[k].data(), crop.width, crop.height, s.c[k].data(), mw, mh);
    for (uint32_t y = 0; y < mh; ++y) {
      size_t o = size_t(y) * mw;
      sink.Row(y, {&s.c[0][o], &s.c[1][o], &s.c[2][o], mw});
    }
  }
  AdaptiveSpatialFilter(regs, work->main.y.data(), mw, mh);
  if (rq.wantPath[kVfeOutput2]) MakeNv21(work->main, mw, mh, &out->out[kVfeOutput2]);
  if (rq.wantPath[kVfeOutput1]) {
    uint32_t w1, h1;
    ScalerSize(regs, kRegYScaler, kRegYScaler + 4, kRegYScaler + 12, (module & kModYScaler) != 0, mw, mh, &w1, &h1);
    MakeNv21(work->main, w1, h1, &out->out[kVfeOutput1]);
  }
}

}  // namespace board::vfe
