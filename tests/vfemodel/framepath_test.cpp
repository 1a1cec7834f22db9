// The VFE model's frame path called directly:
//  - it gives the same bytes however many threads share a frame: each
//    programme runs once on the engine thread alone (the reference) and again
//    split over several threads, and every product of the frame (both
//    outputs, both statistics records, refusals) must match;
//  - the demosaic keeps neutral edges neutral: a grey scene of sharp edges at
//    every phase of the Bayer pattern comes out of the full read-out with
//    little chroma (CIELAB C*) anywhere along them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "board_vfe.h"
#include "vfe_pipeline.h"

namespace board::vfe {
namespace {

constexpr uint32_t kDemosaic = 1u << 4, kRolloff = 1u << 1, kAsf = 1u << 15;
constexpr uint32_t kColour = kModWhiteBalance | kModColourCorrection | kModGamma | kModColourConversion |
                             kModChromaSuppression;

struct Case {
  const char* name;
  uint32_t binning;
  uint32_t width, height;  // read-out
  uint32_t modules;        // beside black level, statistics and the colour stages
  uint32_t out2W, out2H;   // main scaler output (0: unscaled)
  uint32_t fovX, fovY, fovW, fovH;  // 0 width: the whole demosaic area
  uint32_t skip;           // camera-interface skip patterns
  uint32_t order;          // Bayer order code
  uint32_t outputType;     // 0 YCbCr, 1 raw
  bool cellAf;
  BoardIlluminant illuminant = kIlluminantDaylight;
  uint32_t wbGains = 128 | (171u << 9) | (213u << 18);  // G, B, R (Q7)
  uint32_t channelGains[2] = {131 | (125u << 16), 171 | (213u << 16)};  // Bayer stage: greens; blue, red
  bool bayerFilters = true;  // bad-pixel correction and the ABF
};

std::ostream& operator<<(std::ostream& os, const Case& c) { return os << c.name; }

class Programme {
 public:
  explicit Programme(const Case& c) : c_(c) {
    regs_.fill(0);
    Set(kRegCamifPixels, c.width - 1);
    Set(kRegCamifLines, c.height - 1);
    Set(kRegCamifSkip, c.skip);
    Set(kRegInputFormat, c.order);
    for (uint32_t r = 0; r < 4; ++r) Set(kRegBlackLevel + 4 * r, 64);
    Set(kRegChannelGain, c.channelGains[0]);
    Set(kRegChannelGain + 4, c.channelGains[1]);
    uint32_t areaW = Kept(c.width, c.skip & 0xFFFF) - 12, areaH = Kept(c.height, c.skip >> 16) - 6;
    uint32_t cropW = c.fovW ? c.fovW : areaW, cropH = c.fovW ? c.fovH : areaH;
    if (c.fovW) {
      Set(kRegFovPixels, (c.fovX << 16) | (c.fovX + c.fovW - 1));
      Set(kRegFovLines, (c.fovY << 16) | (c.fovY + c.fovH - 1));
    }
    uint32_t modules = kModBlackLevel | kModStatistics | kColour | kModLumaAdaptation | kModYScaler | kModCbCrScaler |
                       c.modules;
    uint32_t mw = cropW, mh = cropH;
    if (c.out2W) {
      modules |= kModMainScaler;
      Scaler(kRegMainScaler, kRegMainScaler + 4, kRegMainScaler + 16, cropW, cropH, c.out2W, c.out2H);
      mw = c.out2W;
      mh = c.out2H;
    }
    Scaler(kRegYScaler, kRegYScaler + 4, kRegYScaler + 12, mw, mh, 320, 240);
    Scaler(kRegCbCrScaler, kRegCbCrScaler + 4, kRegCbCrScaler + 12, mw, mh, 160, 120);
    Set(kRegModuleEnable, modules);
    Set(kRegOutputControl, c.outputType << 10);
    // Colour stages with a daylight preview's payloads.
    Set(kRegWhiteBalance, c.wbGains);
    const int16_t cc[9] = {169, -21, -20, -43, 177, -6, -29, -7, 164};
    for (int i = 0; i < 9; ++i) Set(kRegColourCorrection + 4 * i, uint32_t(cc[i]) & 0xFFF);
    const uint32_t conv[9] = {128 | (128u << 16), (uint32_t(-87) & 0x7FF) | ((uint32_t(-87) & 0x7FF) << 16),
                              128 | (128u << 16), (uint32_t(-41) & 0x7FF) | ((uint32_t(-41) & 0x7FF) << 16),
                              128 | (128u << 16), 77, 150, 29, 0};
    for (int i = 0; i < 9; ++i) Set(kRegColourConversion + 4 * i, conv[i]);
    Set(kRegChromaSuppression, 10 | (230u << 8) | (4u << 16) | (4u << 20));
    Set(kRegChromaSuppression + 4, 12 | (3u << 8));
    Set(kRegClampMax, 0x00FFFFFF);
    std::vector<uint32_t> gamma(256), luma(256);
    for (int i = 0; i < 256; ++i) {
      auto curve = [](int x) {
        double v = std::min(1.0, x / 1023.0);
        return int(std::lround(255 * (v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055)));
      };
      int v = curve(4 * i), next = i < 255 ? curve(4 * i + 4) : v;
      gamma[i] = uint32_t(int32_t(int16_t(v | ((next - v) << 8))));
      luma[i] = uint32_t(48 + i / 8);  // a gain that rises with luma, so the block changes the picture
    }
    for (uint32_t code = kTableGamma; code < kTableGamma + 6; ++code) tables_[code] = gamma;
    tables_[kTableLumaAdaptation] = luma;
    // Roll-off: gains rising towards the corners.
    uint32_t cellW = (c.width / 2 + 15) / 16, cellH = (c.height / 2 + 11) / 12;
    Set(0x1A4, (cellW - 1) | ((cellH - 1) << 9) | ((4096 / cellH) << 18));
    std::vector<uint32_t>& rolloff = tables_[1];
    rolloff.assign(kTableWords, 0);
    for (uint32_t i = 0; i < 26; ++i) rolloff[i] = 0x20002000 + (i % 13) * 0x00400040;
    for (uint32_t i = 32; i < 32 + 416; ++i) rolloff[i] = (i % 16) * 3;
    // Bad-pixel correction with working thresholds, the ABF at its reset values.
    Set(0x1C4, (c.bayerFilters ? 1 | (1u << 1) : 0) | (3u << 4) | (32u << 8) | (127u << 16));
    Set(0x1C8, 1023);
    Set(0x1CC, 15 | (1023u << 16));
    Set(0x1D0, 64 | (64u << 12));
    Set(0x1D4, 64);
    // The ASF's reset values.
    Set(0x248, 1 | (2u << 1) | (4u << 4) | (96u << 8));
    Set(0x24C, 20 | (8u << 8) | (8u << 16));
    Set(0x250, 40 | (0xDDu << 8) | (40u << 16) | (0xDDu << 24));
    for (int f = 0; f < 2; ++f) {
      Set(0x254 + 8 * f, 0x3E | (0x3A << 6) | (0x10 << 12) | (0x3E << 18) | (0x3Au << 24));
      Set(0x258 + 8 * f, 0x10 | (0x3E << 6) | (0x3A << 12) | (0x10 << 18));
    }
    // Statistics over the area; the AF window in its middle.
    Set(kRegStatsArea, (areaW - 1) | ((areaH - 1) << 16));
    Set(kRegStatsEnable, kStatsAf | kStatsWbExp);
    Set(kRegAfWindow, (c.cellAf ? 1u << 31 : 0) | (areaW / 4 << 16) | areaH / 4);
    Set(kRegAfCells, (areaW / 2 << 16) | areaH / 2);
    for (uint32_t k = 0; k < 4; ++k) Set(kRegAfSelect + 4 * k, 0x03020100 + 0x11111111 * k);
    Set(kRegAfFilter, 0x1E | (0x1E << 5) | (2047u << 10));
    Set(kRegAfTaps, 0x1F | (0x1F << 5) | (8 << 10) | (0x1F << 15) | (0x1F << 20));
    Set(kRegAwbConfig, 3 | (10u << 16) | (240u << 24));
    Set(kRegAwbSlopes, 0x10F010F0);
    Set(kRegAwbOffsets12, (39u << 16) | 165);
    Set(kRegAwbOffsets34, ((uint32_t(-106) & 0xFFF) << 16) | 257);
  }

  FrameProducts Run(uint32_t threads, double exposureSeconds = 0.02) const {
    FrameRequest rq;
    rq.regs = &regs_;
    rq.tables = &tables_;
    rq.info.frame = 7;
    rq.info.width = c_.width;
    rq.info.height = c_.height;
    rq.info.binning = c_.binning;
    rq.info.gainCode = 64;
    rq.info.exposureSeconds = exposureSeconds;
    rq.info.lensCode = 120;
    rq.info.illuminant = c_.illuminant;
    rq.wantPath[0] = rq.wantPath[1] = true;
    rq.wantAf = rq.wantWb = true;
    rq.serial = 3;
    BoardVfeSetThreads(threads);  // 0: the machine's default
    FrameProducts p;
    RunFrame(rq, &p);
    BoardVfeSetThreads(0);
    return p;
  }

 private:
  void Set(uint32_t offset, uint32_t value) { regs_[offset / 4] = value; }
  // Samples a skip pattern keeps of `n`.
  static uint32_t Kept(uint32_t n, uint32_t pattern) {
    if ((pattern & 0xFFFF) == 0) return n;
    uint32_t kept = 0;
    for (uint32_t i = 0; i < n; ++i) kept += (pattern >> (i & 15)) & 1;
    return kept;
  }
  void Scaler(uint32_t base, uint32_t hWord, uint32_t vWord, uint32_t inW, uint32_t inH, uint32_t outW, uint32_t outH) {
    auto phase = [](uint32_t in, uint32_t out) {
      double ratio = double(in) / out;
      uint32_t k = uint32_t(ratio), n = k < 4 ? 3 : k < 8 ? 2 : k < 16 ? 1 : 0;
      return (uint32_t(std::lround(ratio * 4096)) << n) | (n << 20);
    };
    Set(base, (inW != outW ? 1 : 0) | (inH != outH ? 2 : 0));
    Set(hWord, inW | (outW << 16));
    Set(hWord + 4, phase(inW, outW));
    Set(vWord, inH | (outH << 16));
    Set(vWord + 4, phase(inH, outH));
  }

  Case c_;
  RegisterImage regs_;
  TableImage tables_;
};

class VfeStripes : public ::testing::TestWithParam<Case> {};

void ExpectSameOutput(const OutputImage& a, const OutputImage& b, const std::string& what) {
  ASSERT_EQ(a.present, b.present) << what;
  EXPECT_EQ(a.raw, b.raw) << what;
  EXPECT_EQ(a.width, b.width) << what;
  EXPECT_EQ(a.height, b.height) << what;
  EXPECT_TRUE(a.y == b.y) << what << ": luma differs";
  EXPECT_TRUE(a.cbcr == b.cbcr) << what << ": chroma differs";
}

TEST_P(VfeStripes, EveryThreadCountGivesTheReferenceBytes) {
  const Case& c = GetParam();
  Programme programme(c);
  FrameProducts reference = programme.Run(1);
  ASSERT_FALSE(reference.unsupported);
  // The programme is one that makes a picture and statistics.
  ASSERT_TRUE(reference.out[kVfeOutput2].present);
  EXPECT_GT(reference.af.size(), 1u);
  ASSERT_FALSE(reference.wb.empty());
  for (uint32_t threads : {2u, 3u, 4u, 7u}) {
    SCOPED_TRACE("threads " + std::to_string(threads));
    FrameProducts p = programme.Run(threads);
    EXPECT_EQ(p.unsupported, reference.unsupported);
    for (int k = 0; k < 2; ++k) {
      EXPECT_EQ(p.refused[k], reference.refused[k]);
      ExpectSameOutput(p.out[k], reference.out[k], k == kVfeOutput1 ? "OUTPUT1" : "OUTPUT2");
    }
    EXPECT_TRUE(p.af == reference.af) << "AF statistics differ";
    EXPECT_TRUE(p.wb == reference.wb) << "WB statistics differ";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Programmes, VfeStripes,
    ::testing::Values(
        Case{"PreviewScaled", 2, 1296, 972, kDemosaic | kRolloff | kAsf, 640, 480, 0, 0, 0, 0, 0, 1, 0, false},
        Case{"FullUnscaled", 1, 2608, 1960, kDemosaic | kRolloff | kAsf, 0, 0, 0, 0, 0, 0, 0, 1, 0, true},
        Case{"OddCropUnscaled", 2, 1296, 972, kDemosaic | kAsf, 0, 0, 37, 21, 1001, 733, 0, 1, 0, false},
        Case{"OddScaledHeight", 2, 1296, 972, kDemosaic | kRolloff, 640, 481, 3, 5, 1201, 901, 0, 1, 0, true},
        Case{"DemosaicOff", 2, 1296, 972, kRolloff | kAsf, 0, 0, 0, 0, 0, 0, 0, 1, 0, false},
        Case{"SkippedSamples", 2, 1296, 972, kDemosaic | kAsf, 0, 0, 0, 0, 0, 0, 0x3333CCCC, 1, 0, false},
        Case{"OtherBayerOrder", 2, 1296, 972, kDemosaic | kRolloff, 0, 0, 0, 0, 0, 0, 0, 2, 0, false},
        Case{"RawOutput", 2, 1296, 972, kDemosaic | kRolloff, 0, 0, 0, 0, 0, 0, 0, 1, 1, false}),
    [](const ::testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });

double Linear(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }
double LabF(double t) { return t > 216.0 / 24389 ? std::cbrt(t) : (24389.0 / 27 * t + 16) / 116; }

// CIELAB chroma of a full-range BT.601 pixel.
double Chroma(double y, double cb, double cr) {
  double rgb[3] = {y + 1.402 * (cr - 128), y - 0.344136 * (cb - 128) - 0.714136 * (cr - 128), y + 1.772 * (cb - 128)};
  for (double& v : rgb) v = Linear(std::clamp(v / 255.0, 0.0, 1.0));
  double x = 0.4124 * rgb[0] + 0.3576 * rgb[1] + 0.1805 * rgb[2];
  double yy = 0.2126 * rgb[0] + 0.7152 * rgb[1] + 0.0722 * rgb[2];
  double z = 0.0193 * rgb[0] + 0.1192 * rgb[1] + 0.9505 * rgb[2];
  double fx = LabF(x / 0.95047), fy = LabF(yy), fz = LabF(z / 1.08883);
  return std::hypot(500 * (fx - fy), 200 * (fy - fz));
}

// A grey scene of the full array's size (one scene pixel per site) written
// as a PPM: `level(x, y)` in sRGB.
template <class Level>
std::string WriteScene(const std::string& name, Level level) {
  std::string path = std::string(VFEMODEL_OUTPUT_DIR) + "/" + name + "-" + std::to_string(getpid()) + ".ppm";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return "";
  std::fprintf(f, "P6\n%u %u\n255\n", kSensorArrayWidth, kSensorArrayHeight);
  std::vector<uint8_t> row(size_t(kSensorArrayWidth) * 3);
  for (uint32_t y = 0; y < kSensorArrayHeight; ++y) {
    for (uint32_t x = 0; x < kSensorArrayWidth; ++x) row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = level(x, y);
    std::fwrite(row.data(), 1, row.size(), f);
  }
  std::fclose(f);
  return path;
}

struct EdgeCase {
  const char* name;
  uint8_t dark, bright;
};
std::ostream& operator<<(std::ostream& os, const EdgeCase& c) { return os << c.name; }

class NeutralEdges : public ::testing::TestWithParam<EdgeCase> {
 protected:
  void TearDown() override {
    BoardSceneUseChart();
    if (!path_.empty()) std::remove(path_.c_str());
  }
  std::string path_;
};

// The scene in tiles of 652 x 980, one edge each through its middle: straight
// across at both parities of the Bayer pattern, diagonal, slanted both ways
// (so that the edge meets every phase), and the corners of a square.
constexpr uint32_t kTileW = kSensorArrayWidth / 4, kTileH = kSensorArrayHeight / 2;
bool BrightSide(uint32_t tile, int32_t x, int32_t y) {  // tile coordinates from its middle
  switch (tile) {
    case 0: return x >= 0;
    case 1: return x >= 1;
    case 2: return y >= 0;
    case 3: return y >= 1;
    case 4: return x + y >= 0;
    case 5: return 2 * x - y >= 0;
    case 6: return 8 * x + y >= 0;
    default: return std::abs(x) < 150 && std::abs(y) < 151;
  }
}

TEST_P(NeutralEdges, StayNeutralThroughTheDemosaic) {
  const EdgeCase& e = GetParam();
  path_ = WriteScene(e.name, [&](uint32_t x, uint32_t y) {
    uint32_t tile = (y / kTileH) * 4 + x / kTileW;
    return BrightSide(tile, int32_t(x % kTileW) - int32_t(kTileW / 2), int32_t(y % kTileH) - int32_t(kTileH / 2))
               ? e.bright
               : e.dark;
  });
  ASSERT_FALSE(path_.empty());
  ASSERT_TRUE(BoardSceneUsePpm(path_));
  Case c{"edges", 1, 2608, 1960, kDemosaic, 0, 0, 0, 0, 0, 0, 0, 1, 0, false, kIlluminantNeutral,
         128 | (128u << 9) | (128u << 18), {128 | (128u << 16), 128 | (128u << 16)}, false};
  FrameProducts p = Programme(c).Run(0, 0.0055);
  const OutputImage& o = p.out[kVfeOutput2];
  ASSERT_TRUE(o.present);
  // OUTPUT2 pixel (x, y) is full-array sample (x + 6, y + 3); tile borders,
  // where the tiles' edges meet, are left out.
  for (uint32_t tile = 0; tile < 8; ++tile) {
    double worst = 0, sum = 0;
    uint32_t n = 0;
    for (uint32_t ty = 8; ty + 8 < kTileH; ++ty)
      for (uint32_t tx = 8; tx + 8 < kTileW; ++tx) {
        uint32_t fx = (tile % 4) * kTileW + tx, fy = (tile / 4) * kTileH + ty;
        if (fx < 6 + 4 || fy < 3 + 4 || fx - 6 + 4 >= o.width || fy - 3 + 4 >= o.height) continue;
        uint32_t x = fx - 6, y = fy - 3;
        const uint8_t* pair = &o.cbcr[size_t(y / 2) * o.width + (x & ~1u)];
        double chroma = Chroma(o.y[size_t(y) * o.width + x], pair[1], pair[0]);
        worst = std::max(worst, chroma);
        sum += chroma;
        ++n;
      }
    // The chart's own edges (straight, square corners) stay within 5; a
    // staircase of the sharpest contrast keeps a trace of colour.
    const double limit = tile < 4 ? 1.0 : tile == 7 ? 2.0 : 8.0;
    EXPECT_LE(worst, limit) << "tile " << tile;
    EXPECT_LT(sum / n, 0.05) << "tile " << tile;
    std::printf("%s tile %u: chroma at most %.2f, mean %.3f\n", e.name, tile, worst, sum / n);
  }
}

INSTANTIATE_TEST_SUITE_P(Levels, NeutralEdges,
                         // The chart's white patch on its background, its bars in focus, mid and dark greys.
                         ::testing::Values(EdgeCase{"WhiteOnBackground", 60, 243}, EdgeCase{"Bars", 63, 225},
                                           EdgeCase{"GreyOnGrey", 80, 180}, EdgeCase{"DarkGreys", 10, 70}),
                         [](const ::testing::TestParamInfo<EdgeCase>& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace board::vfe
