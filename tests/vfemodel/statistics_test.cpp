// The model's statistics engines against the chart: the AWB-extended
// classification and the WB/exposure sums as the block's payloads program
// them, and the AF statistics as the AF payload lays out its window.
#include "stages_fixture.h"

namespace vfetest {
namespace {

using Statistics = StagesTest;

// ---- WB/exposure with the AWB-extended classification ----------------------------------

// Command 59 with the block's reset values, or the given record.
struct AwbRecord {
  uint8_t flags[2] = {1, 1};
  uint8_t lumaMin = 0, lumaMax = 255;
  int8_t slope[4] = {16, -16, 16, -16};
  int16_t offset[4] = {39, 165, -106, 257};
};
Payload AwbExtPayload(const AwbRecord& r) {
  Payload p(20);
  p.U8(0, 1).U8(1, r.flags[0]).U8(2, r.flags[1]).U8(3, r.lumaMin).U8(4, r.lumaMax);
  for (int k = 0; k < 4; ++k) p.U8(5 + k, uint8_t(r.slope[k])).U16(10 + 2 * k, r.offset[k]);
  p.U8(18, 127);
  return p;
}
Payload AwbExtUpdatePayload(const AwbRecord& r) {
  Payload p(16);
  p.U8(0, r.flags[0]).U8(1, r.flags[1]).U8(2, r.lumaMin).U8(3, r.lumaMax);
  for (int k = 0; k < 4; ++k) p.U8(4 + k, uint8_t(r.slope[k])).U16(8 + 2 * k, r.offset[k]);
  return p;
}

// The statistics region lying wholly inside a patch of the chart (16 x 16
// regions over the whole demosaic area, each a run of 2x2 quads).
struct Region {
  uint32_t index;
  uint32_t quads;
};
Region RegionInside(const BoardChartPatch& p) {
  const uint32_t qw = kAreaW / 2, qh = kAreaH / 2, half = kChartPatchSize / 2;
  auto find = [](uint32_t quadsAcross, uint32_t lo, uint32_t hi, uint32_t* first, uint32_t* count) {
    for (uint32_t r = 0; r < 16; ++r) {
      uint32_t q0 = (r * quadsAcross + 15) / 16, q1 = ((r + 1) * quadsAcross + 15) / 16;
      if (2 * q0 >= lo && 2 * q1 <= hi) {
        *first = r;
        *count = q1 - q0;
        return true;
      }
    }
    return false;
  };
  uint32_t rx = 0, ry = 0, nx = 0, ny = 0;
  bool found = find(qw, StagesTest::AreaX(p.centreX - half), StagesTest::AreaX(p.centreX + half), &rx, &nx) &&
               find(qh, StagesTest::AreaY(p.centreY - half), StagesTest::AreaY(p.centreY + half), &ry, &ny);
  EXPECT_TRUE(found) << p.name;
  return {ry * 16 + rx, nx * ny};
}
const uint32_t* RegionWords(const Captured& c, const Region& r) { return &c.wb[1 + r.index * 8]; }

// The sensor's response to a patch under an illuminant, per channel.
void PatchResponse(const BoardChartPatch& p, BoardIlluminant illuminant, double out[3]) {
  double lin[3];
  for (int k = 0; k < 3; ++k) lin[k] = BoardSrgbToLinear(p.srgb[k]);
  for (int c = 0; c < 3; ++c) {
    out[c] = 0;
    for (int k = 0; k < 3; ++k) out[c] += kSensorColourMatrix[c][k] * lin[k];
    out[c] *= kIlluminantRgb[illuminant][c];
  }
}

// Smallest distance (8-bit units) of a colour from the edges of the near-grey
// region of the reset values; negative outside.
double GreyMargin(double r, double g, double b) {
  double y = 0.299 * r + 0.587 * g + 0.114 * b;
  double cb = 128 + 0.564 * (b - y), cr = 128 + 0.713 * (r - y);
  return std::min({(cr + 39) - cb, cr - (-cb + 165), cb - (cr - 106), (-cb + 257) - cr}) / std::sqrt(2.0);
}

struct IlluminantCase {
  const char* name;
  BoardIlluminant illuminant;
};

class AwbUnderIlluminant : public Statistics, public ::testing::WithParamInterface<IlluminantCase> {};

TEST_P(AwbUnderIlluminant, SumsFollowThePatchesAndGreysCountAsNearGrey) {
  BoardSceneSetIlluminant(GetParam().illuminant);
  VfeWriteAwbExtStats(AwbExtPayload(AwbRecord{}).data());
  Run(kBaseModules, 0x2);
  Captured c = Next();
  ASSERT_FALSE(c.wb.empty());
  for (const BoardChartPatch& p : kChartPatches) {
    SCOPED_TRACE(p.name);
    Region region = RegionInside(p);
    const uint32_t* w = RegionWords(c, region);
    double expect[3];
    PatchResponse(p, GetParam().illuminant, expect);
    double r = double(w[5]) / region.quads, g = double(w[6]) / region.quads, b = double(w[7]) / region.quads;
    // R, G and B sums over every quad keep the patch's colour (8-bit scale,
    // each quad truncated: half a step low on average).
    if (g > 30) {
      for (int k : {0, 2}) {
        double want = (g + 0.5) * expect[k] / expect[1];
        EXPECT_NEAR((k == 0 ? r : b) + 0.5, want, std::max(0.03 * want, 1.5)) << "channel " << k;
      }
    }
    // A uniform patch is near-grey in all its quads or in none.
    double margin = GreyMargin(r + 0.5, g + 0.5, b + 0.5);
    if (margin > 3) {
      EXPECT_EQ(w[3], region.quads) << "inside the grey band by " << margin;
      EXPECT_EQ(w[0], w[4]) << "near-grey Y sum is the whole region's";
    } else if (margin < -3) {
      EXPECT_EQ(w[3], 0u) << "outside the grey band by " << -margin;
      EXPECT_EQ(w[0], 0u);
    }
  }
  // The chart's greys are grey under every illuminant.
  for (int i = 18; i <= 23; ++i) {
    Region region = RegionInside(kChartPatches[i]);
    EXPECT_EQ(RegionWords(c, region)[3], region.quads) << kChartPatches[i].name;
  }
}

INSTANTIATE_TEST_SUITE_P(Chart, AwbUnderIlluminant,
                         ::testing::Values(IlluminantCase{"Neutral", kIlluminantNeutral},
                                           IlluminantCase{"Daylight", kIlluminantDaylight},
                                           IlluminantCase{"Incandescent", kIlluminantIncandescent},
                                           IlluminantCase{"Fluorescent", kIlluminantFluorescent}),
                         [](const auto& info) { return std::string(info.param.name); });

// A grey patch's near-grey Cb and Cr sums sit where the illuminant puts it.
TEST_F(Statistics, GreyChromaSumsFollowTheIlluminant) {
  BoardSceneSetIlluminant(kIlluminantIncandescent);
  VfeWriteAwbExtStats(AwbExtPayload(AwbRecord{}).data());
  Run(kBaseModules, 0x2);
  Captured c = Next();
  ASSERT_FALSE(c.wb.empty());
  const BoardChartPatch& grey = kChartPatches[20];
  Region region = RegionInside(grey);
  const uint32_t* w = RegionWords(c, region);
  ASSERT_EQ(w[3], region.quads);
  double y = double(w[0]) / w[3], cb = double(w[1]) / w[3] - 512, cr = double(w[2]) / w[3] - 512;
  // Under incandescent light a grey has R/G 0.95 and B/G 0.40.
  const float* k = kIlluminantRgb[kIlluminantIncandescent];
  double g = y / (0.299 * k[0] + 0.587 * k[1] + 0.114 * k[2]);
  EXPECT_NEAR(cb, 0.564 * (k[2] * g - y), 4.0);
  EXPECT_NEAR(cr, 0.713 * (k[0] * g - y), 4.0);
}

struct UpdateCase {
  const char* name;
  AwbRecord record;
  std::vector<std::pair<int, bool>> patches;  // patch, every quad near-grey (else none)
};

class AwbUpdate : public Statistics, public ::testing::WithParamInterface<UpdateCase> {};

// Command 45 replaces the classification while frames flow.
TEST_P(AwbUpdate, ReplacesTheClassificationAtTheNextFrame) {
  BoardSceneSetIlluminant(kIlluminantNeutral);
  VfeWriteAwbExtStats(AwbExtPayload(AwbRecord{}).data());
  Run(kBaseModules, 0x2);
  Captured before = Next();
  VfeWriteAwbExtStatsUpdate(AwbExtUpdatePayload(GetParam().record).data());
  Update();
  Captured c = Next(before.sensorFrame + 1);
  ASSERT_FALSE(c.wb.empty());
  for (const auto& [patch, grey] : GetParam().patches) {
    Region region = RegionInside(kChartPatches[patch]);
    EXPECT_EQ(RegionWords(c, region)[3], grey ? region.quads : 0u) << kChartPatches[patch].name;
  }
}

AwbRecord Narrow() {
  AwbRecord r;
  for (auto& s : r.slope) s = 0;
  r.offset[0] = 131;  // Cb <= 131
  r.offset[1] = 125;  // Cr >= 125
  r.offset[2] = 125;  // Cb >= 125
  r.offset[3] = 131;  // Cr <= 131
  return r;
}
AwbRecord WithLuma(AwbRecord r, uint8_t flag0, uint8_t flag1, uint8_t lumaMin, uint8_t lumaMax) {
  r.flags[0] = flag0;
  r.flags[1] = flag1;
  r.lumaMin = lumaMin;
  r.lumaMax = lumaMax;
  return r;
}
AwbRecord Impossible() {
  AwbRecord r = Narrow();
  r.offset[0] = -200;  // Cb <= -200
  return r;
}

constexpr int kRed = 14, kGreen = 13, kBlue = 12, kYellow = 15, kCyan = 17, kWhite = 18, kNeutral8 = 19,
              kNeutral65 = 20, kNeutral5 = 21, kNeutral35 = 22;

INSTANTIATE_TEST_SUITE_P(
    Classification, AwbUpdate,
    ::testing::Values(
        UpdateCase{"NarrowBandKeepsOnlyGreys", Narrow(),
                   {{kNeutral8, true}, {kNeutral5, true}, {kNeutral35, true}, {kRed, false}, {kGreen, false},
                    {kBlue, false}, {kYellow, false}, {kCyan, false}}},
        UpdateCase{"LumaRangeLeavesOutDarkAndBrightGreys", WithLuma(Narrow(), 1, 1, 64, 160),
                   {{kNeutral8, true}, {kNeutral65, true}, {kNeutral5, false}, {kWhite, false}}},
        UpdateCase{"LumaTestOffIgnoresTheRange", WithLuma(Narrow(), 0, 1, 64, 160),
                   {{kNeutral35, true}, {kWhite, true}, {kRed, false}}},
        UpdateCase{"ChromaTestOffIgnoresTheLines", WithLuma(Impossible(), 1, 0, 0, 255),
                   {{kRed, true}, {kBlue, true}, {kNeutral5, true}}},
        UpdateCase{"LinesNoColourCanMeetCountNothing", Impossible(),
                   {{kRed, false}, {kNeutral5, false}, {kWhite, false}}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- AF statistics ---------------------------------------------------------------------------

// Command 57: whole window or 16 cells of it, the default high-pass filter.
Payload AfPayload(uint32_t x, uint32_t y, uint32_t w, uint32_t h, const uint8_t* cells = nullptr) {
  Payload p(38);
  p.U8(0, 1).U8(1, cells ? 1 : 0).U16(2, int32_t(x)).U16(4, int32_t(y)).U16(6, int32_t(w)).U16(8, int32_t(h));
  for (int i = 0; i < 16; ++i) p.U8(10 + i, cells ? cells[i] : 0);
  p.U8(26, 0).U16(28, 2047);
  const int8_t taps[7] = {-2, -2, -1, -1, 8, -1, -1};
  for (int i = 0; i < 7; ++i) p.U8(30 + i, uint8_t(taps[i]));
  p.U8(37, 79);
  return p;
}

// The window over the vertical bars of the fine-detail area.
const uint32_t kBarsX = StagesTest::AreaX(kChartFineDetail.x) + 8, kBarsY = StagesTest::AreaY(kChartFineDetail.y) + 8;
constexpr uint32_t kBarsW = 200, kBarsH = 200;

uint64_t WholeWindowSum(const Captured& c, uint32_t height) {
  uint64_t sum = 0;
  for (uint32_t k = 1; k <= (height - 1) / 2; ++k) sum += c.af[k] & 0x3FFFFF;
  return sum;
}

TEST_F(Statistics, FocusPeaksAtTheSharpLensCodeAndFallsOffEitherSide) {
  VfeWriteAfStats(AfPayload(kBarsX, kBarsY, kBarsW, kBarsH).data());
  ASSERT_TRUE(SensorWrite(0x3130, 0x03));
  ASSERT_TRUE(SensorWrite(0x3146, 0x80));
  Run(kBaseModules, 0x1);
  const uint32_t codes[] = {240, 320, 400, 480, 560};
  std::vector<uint64_t> sums;
  for (uint32_t code : codes) {
    ASSERT_TRUE(SensorWrite(0x3131, uint8_t(code >> 8)));
    ASSERT_TRUE(SensorWrite(0x3132, uint8_t(code)));
    // Frames are the clock (a paced board's time stands between them): the first
    // frame that started with the lens at rest there.
    Captured c;
    BoardFrameInfo exposed;
    for (int frames = 0; frames < 60; ++frames) {
      c = Next(BoardSensorState().frames + 1);
      if (BoardSensorFrame(c.sensorFrame, &exposed) && exposed.lensCode == code) break;
    }
    ASSERT_EQ(exposed.lensCode, code);
    ASSERT_FALSE(c.af.empty());
    sums.push_back(WholeWindowSum(c, kBarsH));
  }
  for (size_t i = 0; i < sums.size(); ++i) {
    SCOPED_TRACE("lens code " + std::to_string(codes[i]) + ": " + std::to_string(sums[i]));
    if (codes[i] < kSceneFocusLensCode) {
      EXPECT_LT(sums[i], sums[i + 1]);
    } else if (codes[i] > kSceneFocusLensCode) {
      EXPECT_LT(sums[i], sums[i - 1]);
    }
  }
}

// The window is where the payload puts it, in the crop's coordinates: a
// zoomed crop does not move it.
TEST_F(Statistics, FocusWindowStaysPutWhenTheCropMoves) {
  VfeWriteAfStats(AfPayload(kBarsX, kBarsY, kBarsW, kBarsH).data());
  Run(kBaseModules, 0x1);
  uint64_t whole = WholeWindowSum(Next(), kBarsH);
  SetCrop(400, 20, 880, 900);
  Update();
  Captured zoomed = Next(BoardSensorState().frames + 1);
  uint64_t inCrop = WholeWindowSum(zoomed, kBarsH);
  EXPECT_GT(whole, 0u);
  EXPECT_NEAR(double(inCrop), double(whole), 0.02 * double(whole));
}

// Cell mode: the listed cells in order, each with its number, bars against flat.
TEST_F(Statistics, CellModeReportsTheListedCellsInOrder) {
  // 16 x 16 cells of 16 x 20 samples; in rows 2-4, column 1 lies on the
  // bluish-green patch and column 12 on the bars.
  const uint32_t x = kBarsX - 128, y = kBarsY, w = 256, h = 320;
  uint8_t cells[16];
  for (int i = 0; i < 16; ++i) cells[i] = uint8_t((2 + i % 3) * 16 + (i % 2 ? 12 : 1));
  VfeWriteAfStats(AfPayload(x, y, w, h, cells).data());
  Run(kBaseModules, 0x1);
  Captured c = Next();
  ASSERT_FALSE(c.af.empty());
  const uint32_t pairs = (h / 16 - 1) / 2;
  for (int i = 0; i < 16; ++i) {
    uint64_t sum = 0;
    for (uint32_t k = 0; k < pairs; ++k) {
      uint32_t word = c.af[1 + i * pairs + k];
      EXPECT_EQ(word >> 24, cells[i]) << "entry " << i;
      sum += word & 0x7FFFF;
    }
    if (i % 2) {
      EXPECT_GT(sum, 1000u) << "bars in cell " << int(cells[i]);
    } else {
      EXPECT_LT(sum, 50u) << "flat cell " << int(cells[i]);
    }
  }
}

}  // namespace
}  // namespace vfetest
