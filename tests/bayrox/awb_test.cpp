// Auto white balance: the gains from one delivery of statistics (which
// regions vote, which illuminant wins), a chart under each of the board's
// illuminants coming out grey, and the pre-flash hand-over.
#include <cmath>

#include "bayroxrig.h"

namespace bayroxtest {
namespace {

constexpr uint32_t kQuads = 1200;

// A region whose quads average (r, g, b) on the 8-bit scale.
Region Colour(double r, double g, double b) {
  Region x;
  x.r = uint32_t(r * kQuads);
  x.g = uint32_t(g * kQuads);
  x.b = uint32_t(b * kQuads);
  return x;
}

struct Gains {
  double red, green, blue;
};

class AwbTest : public BayroxTest {
 protected:
  Gains Current() {
    CFixedPoint r, g, b;
    es.GetWhiteBalanceGains(&r, &g, &b);
    Gains x{};
    r.GetDouble(&x.red);
    g.GetDouble(&x.green);
    b.GetDouble(&x.blue);
    return x;
  }
};

TEST_F(AwbTest, GainsFromOneDelivery) {
  // The engine's starting gains stay when nothing is grey.
  const Gains kStart{343 / 256.0, 1.0, 486 / 256.0};
  const struct {
    const char* name;
    // Regions: `grey` of them at the grey point, the rest `other`.
    int grey;
    Region greyRegion, other;
    Gains want;
  } kCases[] = {
      {"daylight grey among colours", 60, Colour(60, 100, 75), Colour(120, 40, 30), {1 / 0.6, 1, 1 / 0.75}},
      {"incandescent grey", 80, Colour(95, 100, 40), Colour(30, 90, 140), {1 / 0.95, 1, 1 / 0.4}},
      {"fluorescent grey", 80, Colour(75, 100, 55), Colour(30, 90, 140), {1 / 0.75, 1, 1 / 0.55}},
      {"neutral grey", 40, Colour(100, 100, 100), Colour(20, 120, 30), {1, 1, 1}},
      {"a grey between the known points", 50, Colour(66, 100, 70), Colour(150, 40, 20), {1 / 0.66, 1, 1 / 0.7}},
      {"nothing grey: gains kept", 0, Region{}, Colour(150, 40, 20), kStart},
      {"grey too dark to trust: gains kept", 100, Colour(3, 5, 3.75), Colour(150, 40, 20), kStart},
      {"grey clipped: gains kept", 100, Colour(250, 250, 250), Colour(150, 40, 20), kStart},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    es.SetWhiteBalanceGains(CFixedPoint(8u, kStart.red), CFixedPoint(8u, 1.0), CFixedPoint(8u, kStart.blue));
    IELFS* awb = Make<CBayroxAWB>();
    WbExpStatsDouble wb;
    for (uint32_t i = 0; i < kRegions; ++i) wb.regions[i] = int(i) < c.grey ? c.greyRegion : c.other;
    ASSERT_EQ(PVL_OK, awb->OnStats(&wb));
    const Gains g = Current();
    EXPECT_NEAR(c.want.red, g.red, 0.01);
    EXPECT_NEAR(c.want.green, g.green, 0.01);
    EXPECT_NEAR(c.want.blue, g.blue, 0.01);
    EXPECT_EQ(0, wb.refs.load());
  }
}

// The illuminant with the most grey light wins over a smaller cluster of
// colour that happens to sit near another illuminant's grey point.
TEST_F(AwbTest, TheLargerGreyClusterWins) {
  IELFS* awb = Make<CBayroxAWB>();
  WbExpStatsDouble wb;
  for (uint32_t i = 0; i < kRegions; ++i)
    wb.regions[i] = i < 100 ? Colour(60, 100, 75) : i < 130 ? Colour(95, 100, 40) : Colour(200, 30, 30);
  ASSERT_EQ(PVL_OK, awb->OnStats(&wb));
  const Gains g = Current();
  EXPECT_NEAR(1 / 0.6, g.red, 0.01);
  EXPECT_NEAR(1 / 0.75, g.blue, 0.01);
}

// The board's chart: 24 colour-checker patches, a grey background and a grey
// ramp, seen through the sensor's colour response under an illuminant. Each
// region sees one surface or a mix of a patch and the background; after the
// gains, every grey surface must come out grey.
TEST_F(AwbTest, TheChartsGreysComeOutGreyUnderEachIlluminant) {
  static const uint8_t kPatches[24][3] = {
      {115, 82, 68},   {194, 150, 130}, {98, 122, 157},  {87, 108, 67},   {133, 128, 177}, {103, 189, 170},
      {214, 126, 44},  {80, 91, 166},   {193, 90, 99},   {94, 60, 108},   {157, 188, 64},  {224, 163, 46},
      {56, 61, 150},   {70, 148, 73},   {175, 54, 60},   {231, 199, 31},  {187, 86, 149},  {8, 133, 161},
      {243, 243, 242}, {200, 200, 200}, {160, 160, 160}, {122, 122, 121}, {85, 85, 85},    {52, 52, 52}};
  const double M[3][3] = {{0.80, 0.15, 0.05}, {0.10, 0.80, 0.10}, {0.05, 0.20, 0.75}};
  auto linear = [](double v) {
    v /= 255;
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
  };
  const struct {
    const char* name;
    double light[3];
  } kCases[] = {{"daylight", {0.60, 1.00, 0.75}},
                {"incandescent", {0.95, 1.00, 0.40}},
                {"fluorescent", {0.75, 1.00, 0.55}},
                {"neutral", {1.00, 1.00, 1.00}}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    auto sensor = [&](const uint8_t srgb[3], double out[3]) {
      double lin[3] = {linear(srgb[0]), linear(srgb[1]), linear(srgb[2])};
      for (int k = 0; k < 3; ++k)
        out[k] = 255 * 1.4 * c.light[k] * (M[k][0] * lin[0] + M[k][1] * lin[1] + M[k][2] * lin[2]);
    };
    const uint8_t background[3] = {60, 60, 60};
    double bg[3];
    sensor(background, bg);
    WbExpStatsDouble wb;
    for (uint32_t i = 0; i < kRegions; ++i) {
      // Patches, patch edges over the background, background, and the ramp.
      double rgb[3];
      const uint8_t* p = kPatches[i % 24];
      uint8_t ramp[3] = {uint8_t(i), uint8_t(i), uint8_t(i)};
      if (i < 96) {
        sensor(p, rgb);
      } else if (i < 144) {
        sensor(p, rgb);
        for (int k = 0; k < 3; ++k) rgb[k] = 0.5 * rgb[k] + 0.5 * bg[k];
      } else if (i < 208) {
        for (int k = 0; k < 3; ++k) rgb[k] = bg[k];
      } else {
        sensor(ramp, rgb);
      }
      wb.regions[i] = Colour(rgb[0], rgb[1], rgb[2]);
    }
    IELFS* awb = Make<CBayroxAWB>();
    ASSERT_EQ(PVL_OK, awb->OnStats(&wb));
    const Gains g = Current();
    for (int patch = 18; patch < 24; ++patch) {
      double rgb[3];
      sensor(kPatches[patch], rgb);
      EXPECT_NEAR(1.0, g.red * rgb[0] / (g.green * rgb[1]), 0.03) << "patch " << patch;
      EXPECT_NEAR(1.0, g.blue * rgb[2] / (g.green * rgb[1]), 0.03) << "patch " << patch;
    }
  }
}

// In the pre-flash sequence white balance answers once exposure has metered
// the lit frames (8), and only then.
TEST_F(AwbTest, PreFlashHandOver) {
  const struct {
    const char* name;
    uint32_t state, want;
  } kCases[] = {{"idle", 0, 0}, {"LED asked for", 6, 6}, {"LED metered: decided", 8, 4}, {"done", 10, 10}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    IELFS* awb = Make<CBayroxAWB>();
    es.SetPreSnapshotState(c.state);
    WbExpStatsDouble wb;
    for (Region& r : wb.regions) r = Colour(60, 100, 75);
    ASSERT_EQ(PVL_OK, awb->OnStats(&wb));
    EXPECT_EQ(c.want, PreSnapshotState());
  }
}

}  // namespace
}  // namespace bayroxtest
