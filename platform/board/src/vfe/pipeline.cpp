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

struct Planes3 {
  uint32_t width = 0, height = 0;
  std::vector<uint16_t> c[3];  // R, G, B
  void Resize(uint32_t w, uint32_t h) {
    width = w;
    height = h;
    for (auto& p : c) p.resize(size_t(w) * h);
  }
};

void Demosaic(const BayerView& win, const BayerLut& lut, const Crop& crop, Planes3* out) {
  // Linearise the crop plus a one-sample border.
  uint32_t bx = kDemosaicMarginX + crop.x - 1, by = kDemosaicMarginY + crop.y - 1;
  uint32_t lw = crop.width + 2, lh = crop.height + 2;
  static std::vector<uint16_t> lin;
  lin.resize(size_t(lw) * lh);
  for (uint32_t y = 0; y < lh; ++y) {
    const uint16_t* src = win.data + size_t(by + y) * win.stride + bx;
    uint16_t* dst = &lin[size_t(y) * lw];
    uint32_t wy = by + y;
    const uint16_t* lutEven = lut.phase[((wy & 1) << 1) | (bx & 1)];
    const uint16_t* lutOdd = lut.phase[((wy & 1) << 1) | ((bx + 1) & 1)];
    for (uint32_t x = 0; x + 1 < lw; x += 2) {
      dst[x] = lutEven[src[x] & 1023];
      dst[x + 1] = lutOdd[src[x + 1] & 1023];
    }
    if (lw & 1) dst[lw - 1] = lutEven[src[lw - 1] & 1023];
  }
  out->Resize(crop.width, crop.height);
  uint16_t* planes[3] = {out->c[0].data(), out->c[1].data(), out->c[2].data()};
  for (uint32_t y = 0; y < crop.height; ++y) {
    const uint16_t* up = &lin[size_t(y) * lw + 1];
    const uint16_t* mid = up + lw;
    const uint16_t* dn = mid + lw;
    uint32_t wy = by + 1 + y;
    size_t o = size_t(y) * crop.width;
    for (uint32_t x = 0; x < crop.width; ++x) {
      uint32_t wx = bx + 1 + x;
      int c = BayerColour(win.order, wx, wy);
      uint32_t v = mid[x];
      uint32_t cross = (uint32_t(mid[x - 1]) + mid[x + 1] + up[x] + dn[x] + 2) >> 2;
      uint32_t diag = (uint32_t(up[x - 1]) + up[x + 1] + dn[x - 1] + dn[x + 1] + 2) >> 2;
      uint32_t horiz = (uint32_t(mid[x - 1]) + mid[x + 1] + 1) >> 1;
      uint32_t vert = (uint32_t(up[x]) + dn[x] + 1) >> 1;
      uint32_t r, g, b;
      if (c == 1) {
        g = v;
        // The colour left and right of a green site.
        int side = BayerColour(win.order, wx + 1, wy);
        if (side == 0) {
          r = horiz;
          b = vert;
        } else {
          b = horiz;
          r = vert;
        }
      } else if (c == 0) {
        r = v;
        g = cross;
        b = diag;
      } else {
        b = v;
        g = cross;
        r = diag;
      }
      planes[0][o + x] = uint16_t(r);
      planes[1][o + x] = uint16_t(g);
      planes[2][o + x] = uint16_t(b);
    }
  }
}

// ---- Scalers ----------------------------------------------------------------------
// Area resampling: each output sample is the mean of the input it covers.
struct Taps {
  std::vector<uint32_t> first, count;
  std::vector<float> weight;  // count[i] weights per output, flattened
  std::vector<uint32_t> offset;
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
  std::vector<float> tmp(size_t(dw) * sh);
  for (uint32_t y = 0; y < sh; ++y) {
    const T* row = src + size_t(y) * sw;
    float* o = &tmp[size_t(y) * dw];
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
      const float* row = &tmp[size_t(v.first[j] + k) * dw];
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
struct Rgb {
  float r, g, b;
};
// White balance (0x2B4): neutral for now.
inline Rgb WhiteBalanceStage(Rgb c) { return c; }
// Colour correction (0x1E8-0x218): neutral for now.
inline Rgb ColourCorrectionStage(Rgb c) { return c; }

// Gamma: the standard sRGB curve from 10-bit linear to 8 bits, standing in for
// the gamma tables.
struct GammaLut {
  float v[1024];
};
const GammaLut& Gamma() {
  static const GammaLut lut = [] {
    GammaLut l;
    for (int i = 0; i < 1024; ++i) {
      double x = i / 1023.0;
      double y = x <= 0.0031308 ? 12.92 * x : 1.055 * std::pow(x, 1 / 2.4) - 0.055;
      l.v[i] = float(y * 255.0);
    }
    return l;
  }();
  return lut;
}
inline Rgb GammaStage(Rgb c) {
  const GammaLut& g = Gamma();
  auto at = [&g](float x) { return g.v[std::clamp(int(x + 0.5f), 0, 1023)]; };
  return {at(c.r), at(c.g), at(c.b)};
}

struct Yuv {
  float y, cb, cr;
};
inline Yuv ColourConversionStage(Rgb c) {
  float y = 0.299f * c.r + 0.587f * c.g + 0.114f * c.b;
  return {y, 128.0f + 0.564f * (c.b - y), 128.0f + 0.713f * (c.r - y)};
}

struct Clamp {
  uint8_t lo[3], hi[3];
};
Clamp OutputClamp(const RegisterImage& regs) {
  uint32_t hi = RegAt(regs, kRegClampMax), lo = RegAt(regs, kRegClampMin);
  Clamp c;
  for (int k = 0; k < 3; ++k) {
    c.lo[k] = uint8_t(lo >> (8 * k));
    c.hi[k] = hi == 0 ? 255 : uint8_t(hi >> (8 * k));
    if (c.hi[k] < c.lo[k]) c.hi[k] = c.lo[k];
  }
  return c;
}
inline uint8_t ClampTo(float v, uint8_t lo, uint8_t hi) {
  int i = int(v + 0.5f);
  return uint8_t(std::clamp(i, int(lo), int(hi)));
}

// Full-resolution Y, Cb and Cr planes of the main scaler's output.
void ColourStages(const RegisterImage& regs, const Planes3& rgb, std::vector<uint8_t> yuv[3]) {
  size_t n = size_t(rgb.width) * rgb.height;
  for (int k = 0; k < 3; ++k) yuv[k].resize(n);
  Clamp clamp = OutputClamp(regs);
  for (size_t i = 0; i < n; ++i) {
    Rgb c{float(rgb.c[0][i]), float(rgb.c[1][i]), float(rgb.c[2][i])};
    c = GammaStage(ColourCorrectionStage(WhiteBalanceStage(c)));
    Yuv o = ColourConversionStage(c);
    yuv[0][i] = ClampTo(o.y, clamp.lo[0], clamp.hi[0]);
    yuv[1][i] = ClampTo(o.cb, clamp.lo[1], clamp.hi[1]);
    yuv[2][i] = ClampTo(o.cr, clamp.lo[2], clamp.hi[2]);
  }
}

// NV21 of an output of width x height from the full-resolution planes.
void MakeNv21(const std::vector<uint8_t> yuv[3], uint32_t sw, uint32_t sh, uint32_t width, uint32_t height,
              OutputImage* out) {
  out->present = true;
  out->raw = false;
  out->width = width;
  out->height = height;
  out->y.resize(size_t(width) * height);
  AreaScale(yuv[0].data(), sw, sh, out->y.data(), width, height);
  uint32_t cw = std::max(1u, width / 2), ch = height / 2;
  out->cbcr.assign(size_t(width) * ch, 128);
  if (ch == 0) return;
  std::vector<uint8_t> cb(size_t(cw) * ch), cr(size_t(cw) * ch);
  AreaScale(yuv[1].data(), sw, sh, cb.data(), cw, ch);
  AreaScale(yuv[2].data(), sw, sh, cr.data(), cw, ch);
  for (uint32_t y = 0; y < ch; ++y) {
    uint8_t* row = &out->cbcr[size_t(y) * width];
    for (uint32_t x = 0; x < cw && 2 * x + 1 < width; ++x) {
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
  static std::vector<uint16_t> raw, skipped;
  raw.resize(size_t(rq.info.width) * rq.info.height);
  if (!BoardSensorRenderFrame(rq.info, raw.data(), rq.info.width)) {
    out->unsupported = true;
    return;
  }
  BayerView win = CamifWindow(regs, raw, rq.info.width, &skipped);
  if (win.width <= 2 * kDemosaicMarginX + 1 || win.height <= 2 * kDemosaicMarginY + 1) {
    out->unsupported = true;
    return;
  }
  static BayerLut lut;
  BuildBayerLut(regs, &lut);
  if (rq.wantWb) ComputeWbExpStats(regs, win, lut, rq.serial, &out->wb);
  if (rq.wantAf) ComputeAfStats(regs, win, lut, rq.info.height, rq.serial, &out->af);

  uint32_t control = RegAt(regs, kRegOutputControl);
  uint32_t type = (control >> 10) & 3;
  if (type == 1) {
    if (rq.wantPath[kVfeOutput2]) RawOutput(win, &out->out[kVfeOutput2]);
    return;
  }
  if (type != 0) {
    out->unsupported = true;
    return;
  }
  if (!rq.wantPath[0] && !rq.wantPath[1]) return;

  Crop crop = FovCrop(regs, win);
  static Planes3 demosaiced, scaled;
  Demosaic(win, lut, crop, &demosaiced);
  uint32_t module = RegAt(regs, kRegModuleEnable);
  uint32_t mw, mh;
  ScalerSize(regs, kRegMainScaler, kRegMainScaler + 4, kRegMainScaler + 16, (module & kModMainScaler) != 0,
             crop.width, crop.height, &mw, &mh);
  const Planes3* main = &demosaiced;
  if (mw != crop.width || mh != crop.height) {
    scaled.Resize(mw, mh);
    for (int k = 0; k < 3; ++k)
      AreaScale(demosaiced.c[k].data(), crop.width, crop.height, scaled.c[k].data(), mw, mh);
    main = &scaled;
  }
  static std::vector<uint8_t> yuv[3];
  ColourStages(regs, *main, yuv);
  if (rq.wantPath[kVfeOutput2]) MakeNv21(yuv, mw, mh, mw, mh, &out->out[kVfeOutput2]);
  if (rq.wantPath[kVfeOutput1]) {
    uint32_t w1, h1;
    ScalerSize(regs, kRegYScaler, kRegYScaler + 4, kRegYScaler + 12, (module & kModYScaler) != 0, mw, mh, &w1, &h1);
    MakeNv21(yuv, mw, mh, w1, h1, &out->out[kVfeOutput1]);
  }
}

}  // namespace board::vfe
