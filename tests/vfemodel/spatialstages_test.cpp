// The model's spatial stages as their payloads program them: roll-off lifts
// the frame by its grid, bad-pixel correction and the adaptive Bayer filter
// remove defects and keep edges, the demosaic switch, and the adaptive spatial
// filter sharpening fine detail while flat areas stay.
#include "stages_fixture.h"

namespace vfetest {
namespace {

using SpatialStages = StagesTest;

// ---- Roll-off ---------------------------------------------------------------------------------

// A mesh of 13 x 17 gains per channel (the 2x2 phase in raster order).
using Mesh = std::function<double(int channel, int row, int column)>;

// Grid of the preview window: cells of 41 x 41 quads, 1/41 in Q12 truncated.
constexpr uint32_t kCell = 41, kInverseCell = 4096 / kCell;

// Command 6 for a mesh, laid out as the roll-off configuration computes it.
Payload RolloffPayload(const Mesh& mesh) {
  Payload p(1784);
  p.U8(0, 1).U16(2, kCell - 1).U16(4, kCell - 1).U16(6, kInverseCell);
  auto round = [](double v) { return int32_t(std::lround(v)); };
  for (int c = 0; c < 4; ++c) {
    for (int r = 0; r < 13; ++r) {
      p.U16(16 + 26 * c + 2 * r, round(mesh(c, r, 0) * 8192));
      for (int k = 0; k < 16; ++k) {
        int32_t q12 = round((mesh(c, r, k + 1) - mesh(c, r, k)) * 4096);
        p.U16(120 + 416 * c + 2 * (r * 16 + k), int32_t(double(q12) * 256 / kCell));
      }
    }
  }
  return p;
}

// The mesh's gain at quad (qx, qy), as the grid interpolates it.
double MeshAt(const Mesh& mesh, int channel, double qx, double qy) {
  double gx = qx / kCell, gy = qy / kCell;
  int k = std::min(int(gx), 15), r = std::min(int(gy), 11);
  double fx = gx - k, fy = std::min(1.0, (qy - r * double(kCell)) * kInverseCell / 4096);
  double top = mesh(channel, r, k) + fx * (mesh(channel, r, k + 1) - mesh(channel, r, k));
  double bottom = mesh(channel, r + 1, k) + fx * (mesh(channel, r + 1, k + 1) - mesh(channel, r + 1, k));
  return top + fy * (bottom - top);
}

struct RolloffCase {
  const char* name;
  Mesh mesh;
};

class Rolloff : public SpatialStages, public ::testing::WithParamInterface<RolloffCase> {};

// The WB/exposure statistics see the Bayer data after roll-off: each region's
// green and red sums grow by the mesh's gain there.
TEST_P(Rolloff, LiftsEachRegionByTheGridGain) {
  const Mesh& mesh = GetParam().mesh;
  BoardSceneSetIlluminant(kIlluminantNeutral);
  Write(0x2F4, 0x2);  // every quad counts: 0x31C is 0
  VfeWriteRolloff(RolloffPayload(mesh).data());
  Run(kBaseModules, 0x2);
  // Half the exposure: the lifted white patch stays below full scale.
  ASSERT_TRUE(SensorWrite(0x0202, 0));
  ASSERT_TRUE(SensorWrite(0x0203, 175));
  Captured plain = Next(BoardSensorState().frames + 1);
  Write(0x010, kBaseModules | kModuleRolloff);
  Update();
  Captured lifted = Next(plain.sensorFrame + 1);
  ASSERT_FALSE(plain.wb.empty());
  ASSERT_FALSE(lifted.wb.empty());
  const uint32_t qw = kAreaW / 2, qh = kAreaH / 2;
  int checked = 0;
  for (uint32_t ry = 0; ry < 16; ++ry) {
    for (uint32_t rx = 0; rx < 16; ++rx) {
      const uint32_t* before = &plain.wb[1 + (ry * 16 + rx) * 8];
      const uint32_t* after = &lifted.wb[1 + (ry * 16 + rx) * 8];
      // The region's centre in window quads (the demosaic area starts 3 quads in, 1.5 down).
      double cx = 3 + (rx + 0.5) * qw / 16.0, cy = 1.5 + (ry + 0.5) * qh / 16.0;
      uint32_t quads = (qw / 16) * (qh / 16);
      if (before[5] < 40 * quads || before[6] < 40 * quads) continue;  // too dark to measure to 1 %
      SCOPED_TRACE("region " + std::to_string(rx) + "," + std::to_string(ry));
      // Each quad's value is truncated to 8 bits: half a step low on average.
      auto ratio = [&](int word) { return (after[word] + 0.5 * quads) / (before[word] + 0.5 * quads); };
      // GRBG: green sums both green phases (0 and 3), red is phase 1.
      double green = (MeshAt(mesh, 0, cx, cy) + MeshAt(mesh, 3, cx, cy)) / 2, red = MeshAt(mesh, 1, cx, cy);
      EXPECT_NEAR(ratio(6), green, 0.03 * green);
      EXPECT_NEAR(ratio(5), red, 0.03 * red);
      ++checked;
    }
  }
  EXPECT_GT(checked, 30);
}

INSTANTIATE_TEST_SUITE_P(
    Meshes, Rolloff,
    ::testing::Values(
        RolloffCase{"FlatMeshKeepsTheFrame", [](int, int, int) { return 1.0; }},
        RolloffCase{"CornersLiftedCentreKept",
                    [](int, int r, int k) {
                      double dx = (k - 8) / 8.0, dy = (r - 6) / 6.0;
                      return 1.0 + 0.3 * (dx * dx + dy * dy);
                    }},
        RolloffCase{"EachChannelItsOwnMesh",
                    [](int c, int r, int k) { return c == 1 ? 1.25 + 0.02 * k : c == 2 ? 0.8 : 1.0 - 0.01 * r; }}),
    [](const auto& info) { return std::string(info.param.name); });

// The picture itself: the corners of a flat-lit frame come up by the mesh's
// corner gain, the centre stays.
TEST_F(SpatialStages, RolloffBrightensTheCornersOfThePicture) {
  Mesh corners = [](int, int r, int k) {
    double dx = (k - 8) / 8.0, dy = (r - 6) / 6.0;
    return 1.0 + 0.3 * (dx * dx + dy * dy);
  };
  VfeWriteRolloff(RolloffPayload(corners).data());
  Run(kBaseModules);
  Captured plain = Next();
  Write(0x010, kBaseModules | kModuleRolloff);
  Update();
  Captured lifted = Next(plain.sensorFrame + 1);
  // Background at the top-left corner and in the middle between patches.
  Spread cornerBefore = LumaSpread(plain, 4, 4, 20, 20), cornerAfter = LumaSpread(lifted, 4, 4, 20, 20);
  uint32_t mx = AreaX(kChartPatchOrigin + 2 * kChartPatchPitch + kChartPatchPitch / 2) - 8;
  uint32_t my = AreaY(kChartPatchOrigin + kChartPatchPitch + kChartPatchPitch / 2) - 8;
  Spread middleBefore = LumaSpread(plain, mx, my, 16, 16), middleAfter = LumaSpread(lifted, mx, my, 16, 16);
  EXPECT_GT(cornerAfter.mean, cornerBefore.mean + 10) << "corner " << cornerBefore.mean << " -> " << cornerAfter.mean;
  EXPECT_NEAR(middleAfter.mean, middleBefore.mean, 3.0);
}

// ---- Demosaic and its Bayer filters -------------------------------------------------------

// Command 8 with the given ABF and BPC fields (slope shift 0).
struct DemosaicFields {
  uint8_t abf = 0, shift = 3;
  uint16_t abfThreshold = 1023, abfMax = 1023, abfMin = 0;
  uint8_t ratio = 15;
  uint8_t bpc = 0;
  uint16_t maxFactor = 127, minFactor = 0, red = 4095, blue = 4095, green = 4095;
};
Payload DemosaicPayload(const DemosaicFields& f) {
  Payload p(26);
  p.U8(0, 1).U8(2, f.abf).U8(4, f.shift).U16(6, f.abfThreshold).U16(8, f.abfMax).U16(10, f.abfMin).U8(12, f.ratio);
  p.U8(14, f.bpc).U16(16, f.maxFactor).U16(18, f.minFactor).U16(20, f.red).U16(22, f.blue).U16(24, f.green);
  return p;
}
// Commands 30 and 29: bytes 2-13 and 14-25 of the same payload.
void SendDemosaicUpdates(const DemosaicFields& f) {
  Payload p = DemosaicPayload(f);
  VfeWriteDemosaicUpdate1(p.data() + 2);
  VfeWriteDemosaicUpdate2(p.data() + 14);
}

TEST_F(SpatialStages, DemosaicOffPassesTheMosaicAsGrey) {
  VfeWriteDemosaic(DemosaicPayload({}).data());
  Run(kBaseModules);
  Captured on = Next();
  Write(0x010, kBaseModules & ~kModuleDemosaic);
  Update();
  Captured off = Next(on.sensorFrame + 1);
  // Inside the red patch: neighbouring pixels are green and red samples.
  const BoardChartPatch& red = kChartPatches[14];
  uint32_t x0 = AreaX(red.centreX) - 20, y0 = AreaY(red.centreY) - 20;
  auto ripple = [&](const Captured& c) {
    double sum = 0;
    for (uint32_t y = y0; y < y0 + 40; ++y)
      for (uint32_t x = x0; x < x0 + 40; ++x) sum += std::abs(int(Luma(c, x, y)) - int(Luma(c, x + 1, y)));
    return sum / 1600;
  };
  EXPECT_LT(ripple(on), 2.0);
  EXPECT_GT(ripple(off), 20.0) << "the mosaic shows";
  // Chroma of the red patch (NV21: Cr first): red with the demosaic, grey without.
  auto cr = [&](const Captured& c) { return c.chroma[size_t(AreaY(red.centreY) / 2) * kAreaW + (AreaX(red.centreX) & ~1u)]; };
  EXPECT_GT(cr(on), 150);
  EXPECT_NEAR(cr(off), 128, 3);
}

// Positions (output coordinates of the sensor) inside flat patches, one per
// Bayer phase and both kinds of defect.
struct Defect {
  int patch;
  uint32_t dx, dy;  // from the patch centre
  uint16_t value;
};
constexpr Defect kDefects[] = {{21, 0, 0, 1023}, {21, 11, 4, 1023}, {20, 6, 9, 1023}, {20, 3, 14, 0},
                               {22, 12, 7, 1023}, {19, 5, 2, 0},     {8, 2, 8, 1023},  {3, 9, 3, 1023}};

std::vector<BoardPixelDefect> SensorDefects(int offset = -1) {
  std::vector<BoardPixelDefect> out;
  for (const Defect& d : kDefects) {
    uint32_t x = kChartPatches[d.patch].centreX / 2 + d.dx, y = kChartPatches[d.patch].centreY / 2 + d.dy;
    uint16_t value = d.value;
    if (offset >= 0) {
      // A moderate defect: `offset` above what the site sees.
      std::vector<uint16_t> frame(size_t(kWindowW) * kWindowH);
      BoardFrameInfo info;
      EXPECT_TRUE(BoardSensorLatestFrame(&info));
      EXPECT_TRUE(BoardSensorRenderFrame(info, frame.data(), kWindowW));
      value = uint16_t(frame[size_t(y) * kWindowW + x] + offset);
    }
    out.push_back({x, y, value});
  }
  return out;
}

// Largest luma difference between two frames in the 5 x 5 around each defect.
int WorstAroundDefects(const Captured& a, const Captured& b, const std::vector<BoardPixelDefect>& defects) {
  int worst = 0;
  for (const BoardPixelDefect& d : defects)
    for (uint32_t y = d.y - 3 - 2; y <= d.y - 3 + 2; ++y)
      for (uint32_t x = d.x - 6 - 2; x <= d.x - 6 + 2; ++x)
        worst = std::max(worst, std::abs(int(StagesTest::Luma(a, x, y)) - int(StagesTest::Luma(b, x, y))));
  return worst;
}
// Largest luma difference over a rectangle.
int WorstIn(const Captured& a, const Captured& b, uint32_t x0, uint32_t y0, uint32_t w, uint32_t h) {
  int worst = 0;
  for (uint32_t y = y0; y < y0 + h; ++y)
    for (uint32_t x = x0; x < x0 + w; ++x)
      worst = std::max(worst, std::abs(int(StagesTest::Luma(a, x, y)) - int(StagesTest::Luma(b, x, y))));
  return worst;
}

// The fine-detail bars, sharp (lens at its best code).
void FocusTheBars(StagesTest* t) {
  ASSERT_TRUE(t->SensorWrite(0x3130, 0x03));
  ASSERT_TRUE(t->SensorWrite(0x3146, 0x80));
  ASSERT_TRUE(t->SensorWrite(0x3131, uint8_t(kSceneFocusLensCode >> 8)));
  ASSERT_TRUE(t->SensorWrite(0x3132, uint8_t(kSceneFocusLensCode)));
}
const uint32_t kDetailX = StagesTest::AreaX(kChartFineDetail.x) + 4, kDetailY = StagesTest::AreaY(kChartFineDetail.y) + 4;
const uint32_t kDetailW = kChartFineDetail.width / 2 - 8, kDetailH = kChartFineDetail.height / 2 - 8;

struct FilterCase {
  const char* name;
  DemosaicFields fields;
  int defectOffset;  // -1: the hot and dead sites of kDefects
};

class BayerFilters : public SpatialStages, public ::testing::WithParamInterface<FilterCase> {};

// Frames: clean with the filter off, defective with it off, defective with it
// on (sent by the two update commands while streaming), clean with it on.
TEST_P(BayerFilters, RemoveDefectsAndKeepTheBarsEdges) {
  FocusTheBars(this);
  VfeWriteDemosaic(DemosaicPayload({}).data());
  Run(kBaseModules);
  Captured clean = Next(BoardSensorState().frames + 1);
  std::vector<BoardPixelDefect> defects = SensorDefects(GetParam().defectOffset);
  BoardSensorSetDefects(defects);
  Captured broken = Next(BoardSensorState().frames + 1);
  SendDemosaicUpdates(GetParam().fields);
  Update();
  Captured mended = Next(BoardSensorState().frames + 1);
  BoardSensorSetDefects({});
  Captured cleanFiltered = Next(BoardSensorState().frames + 1);

  EXPECT_GT(WorstAroundDefects(broken, clean, defects), 8) << "the defects show without the filter";
  EXPECT_LE(WorstAroundDefects(mended, clean, defects), 3) << "and are gone with it";
  EXPECT_LE(WorstIn(cleanFiltered, clean, kDetailX, kDetailY, kDetailW, kDetailH), 1) << "the bars keep their edges";
}

INSTANTIATE_TEST_SUITE_P(
    Filters, BayerFilters,
    ::testing::Values(
        FilterCase{"BadPixelCorrectionHotAndDead",
                   [] {
                     DemosaicFields f;
                     f.bpc = 1;
                     f.minFactor = 32;
                     f.red = f.blue = f.green = 64;
                     return f;
                   }(),
                   -1},
        FilterCase{"AdaptiveBayerFilterSmallDefects",
                   [] {
                     DemosaicFields f;
                     f.abf = 1;
                     f.abfThreshold = 64;
                     f.ratio = 0;
                     return f;
                   }(),
                   40}),
    [](const auto& info) { return std::string(info.param.name); });

// Each colour has its own threshold: with red's beyond the sample range a
// hot red site stays while hot green and blue sites go.
TEST_F(SpatialStages, BadPixelThresholdsActPerColour) {
  const BoardChartPatch& grey = kChartPatches[21];
  const uint32_t cx = grey.centreX / 2, cy = grey.centreY / 2;  // even: a green site (GRBG)
  const std::vector<BoardPixelDefect> defects = {
      {cx + 1, cy, 1023},      // red: even row, odd column
      {cx + 8, cy + 9, 1023},  // blue: odd row, even column
      {cx + 16, cy, 1023}};    // green
  VfeWriteDemosaic(DemosaicPayload({}).data());
  Run(kBaseModules);
  Captured clean = Next(BoardSensorState().frames + 1);
  BoardSensorSetDefects(defects);
  DemosaicFields f;
  f.bpc = 1;
  f.red = 4095;
  f.blue = f.green = 64;
  SendDemosaicUpdates(f);
  Update();
  Captured mended = Next(BoardSensorState().frames + 1);
  EXPECT_GT(WorstAroundDefects(mended, clean, {defects[0]}), 8) << "red threshold 4095: kept";
  EXPECT_LE(WorstAroundDefects(mended, clean, {defects[1]}), 2) << "blue";
  EXPECT_LE(WorstAroundDefects(mended, clean, {defects[2]}), 2) << "green";
}

// The reset values of the demosaic block leave flat areas as they are and
// the bars nearly so: BPC thresholds beyond the sample range, ABF a sixteenth
// of the way.
TEST_F(SpatialStages, ResetDemosaicFieldsBarelyTouchTheFrame) {
  FocusTheBars(this);
  VfeWriteDemosaic(DemosaicPayload({}).data());
  Run(kBaseModules);
  Captured plain = Next(BoardSensorState().frames + 1);
  DemosaicFields reset;
  reset.abf = 1;
  reset.bpc = 1;
  SendDemosaicUpdates(reset);
  Update();
  Captured filtered = Next(plain.sensorFrame + 1);
  double before = LumaSpread(plain, kDetailX, kDetailY, kDetailW, kDetailH / 2).deviation;
  double after = LumaSpread(filtered, kDetailX, kDetailY, kDetailW, kDetailH / 2).deviation;
  EXPECT_GT(after, 0.9 * before) << "the sharp bars stay sharp";
  for (int i : {14, 21}) {
    const BoardChartPatch& p = kChartPatches[i];
    EXPECT_LE(WorstIn(filtered, plain, AreaX(p.centreX) - 40, AreaY(p.centreY) - 40, 80, 80), 1) << p.name;
  }
}

// ---- Adaptive spatial filter ----------------------------------------------------------------

// Command 17 fields (bytes 1-30), the reset values by default.
struct AsfFields {
  uint8_t mode = 2, centre = 96, surround = 4, normalise = 0, amount1 = 8, amount2 = 8;
  int8_t e[5] = {20, 40, -35, 40, -35};
  int8_t f1[9] = {-2, -6, 16, -2, -6, 16, -2, -6, 16};
  int8_t f2[9] = {-2, -2, -2, -6, -6, -6, 16, 16, 16};
};
Payload AsfPayload(const AsfFields& a) {
  Payload p(40);
  p.U8(0, 1).U8(1, 1).U8(2, a.mode).U8(3, a.centre).U8(4, a.surround).U8(5, a.normalise).U8(6, a.amount1);
  p.U8(7, a.amount2);
  for (int i = 0; i < 5; ++i) p.U8(8 + i, uint8_t(a.e[i]));
  for (int i = 0; i < 9; ++i) p.U8(13 + i, uint8_t(a.f1[i])).U8(22 + i, uint8_t(a.f2[i]));
  return p;
}

struct AsfCase {
  const char* name;
  AsfFields fields;
  double minGain, maxGain;  // of the bars' deviation
};

class AdaptiveSpatialFilter : public SpatialStages, public ::testing::WithParamInterface<AsfCase> {};

// Soft bars (lens far from focus) against the flat patches: the filter, sent
// as command 41 while streaming, changes the bars' contrast as its fields say
// and leaves flat areas flat.
TEST_P(AdaptiveSpatialFilter, ChangesTheFineDetailAndLeavesFlatAreas) {
  VfeWriteAsf(AsfPayload(AsfFields{}).data(), true);
  Run(kBaseModules);
  Captured plain = Next();
  Write(0x010, kBaseModules | kModuleAsf);
  VfeWriteAsf(AsfPayload(GetParam().fields).data(), false);
  Update();
  Captured filtered = Next(plain.sensorFrame + 1);
  Spread before = LumaSpread(plain, kDetailX, kDetailY, kDetailW, kDetailH / 2 - 8);
  Spread after = LumaSpread(filtered, kDetailX, kDetailY, kDetailW, kDetailH / 2 - 8);
  ASSERT_GT(before.deviation, 2.0);
  double gain = after.deviation / before.deviation;
  EXPECT_GE(gain, GetParam().minGain) << before.deviation << " -> " << after.deviation;
  EXPECT_LE(gain, GetParam().maxGain) << before.deviation << " -> " << after.deviation;
  // E2 above E3 lets bright overshoots a little further than dark ones.
  EXPECT_NEAR(after.mean, before.mean, 6.0);
  for (int i : {14, 19, 21}) {
    const BoardChartPatch& p = kChartPatches[i];
    Spread flatBefore = LumaSpread(plain, AreaX(p.centreX) - 30, AreaY(p.centreY) - 30, 60, 60);
    Spread flatAfter = LumaSpread(filtered, AreaX(p.centreX) - 30, AreaY(p.centreY) - 30, 60, 60);
    EXPECT_NEAR(flatAfter.mean, flatBefore.mean, 1.0) << p.name;
    EXPECT_LE(flatAfter.deviation, flatBefore.deviation + 0.5) << p.name;
  }
}

// Filter 1 alone (filter 2's amount 0, no smoothing) works across: it
// sharpens the vertical bars of the fine-detail area and leaves the
// horizontal ones below them.
TEST_F(SpatialStages, AsfFilterOneWorksAcrossTheRows) {
  AsfFields f;
  f.amount2 = 0;
  f.centre = 128;
  f.surround = 0;
  VfeWriteAsf(AsfPayload(f).data(), true);
  Run(kBaseModules);
  Captured plain = Next();
  Write(0x010, kBaseModules | kModuleAsf);
  Update();
  Captured filtered = Next(plain.sensorFrame + 1);
  const uint32_t half = kDetailH / 2;
  double verticalBefore = LumaSpread(plain, kDetailX, kDetailY, kDetailW, half - 8).deviation;
  double verticalAfter = LumaSpread(filtered, kDetailX, kDetailY, kDetailW, half - 8).deviation;
  double horizontalBefore = LumaSpread(plain, kDetailX, kDetailY + half + 8, kDetailW, half - 16).deviation;
  double horizontalAfter = LumaSpread(filtered, kDetailX, kDetailY + half + 8, kDetailW, half - 16).deviation;
  EXPECT_GT(verticalAfter, 1.3 * verticalBefore);
  EXPECT_NEAR(horizontalAfter, horizontalBefore, 0.02 * horizontalBefore);
}

AsfFields SmoothOnly() {
  AsfFields a;
  a.mode = 0;
  a.centre = 16;  // soft focus at its strongest: 16 and 14
  a.surround = 14;
  return a;
}
AsfFields NoSharpening() {
  AsfFields a;
  a.amount1 = a.amount2 = 0;
  a.centre = 128;
  a.surround = 0;
  return a;
}
AsfFields StrongerSharpening() {
  AsfFields a;
  a.amount1 = a.amount2 = 16;
  return a;
}

INSTANTIATE_TEST_SUITE_P(Fields, AdaptiveSpatialFilter,
                         ::testing::Values(AsfCase{"ResetValuesSharpen", AsfFields{}, 1.3, 10},
                                           AsfCase{"TwiceTheAmountSharpensMore", StrongerSharpening(), 1.6, 10},
                                           AsfCase{"SmoothingOnlySoftens", SmoothOnly(), 0, 0.8},
                                           AsfCase{"NoAmountNoSmoothingKeeps", NoSharpening(), 0.99, 1.01}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vfetest
