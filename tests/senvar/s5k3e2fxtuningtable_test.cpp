// The S5K3E2FX default tuning values, read back the way the camera reads them:
// through the tuning-data service's getters after it has loaded the sensor
// module's table. Each check is a property the picture depends on (the colour
// matrix undoes the sensor, the white-balance gains neutralise the board's
// lights, the curves rise, the ranges are ordered), checked against the board's
// sensor model rather than against the table's own numbers.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "image_copy.h"
#include "senvar_fixture.h"
#include "tunvex.h"
#include "tuningdata.h"

namespace senvartest {
namespace {

using senvartest::operator<<;

constexpr uint32_t kAfCodesPerStep = 27;  // the actuator driver's step
constexpr uint32_t kLensCodeMax = 1023;

class TuningTableTest : public SenvarTest {
 protected:
  void SetUp() override {
    SenvarTest::SetUp();
    OrbhostTest_UnregisterAllClasses();
    ASSERT_EQ(PVL_OK, env_->CreateInstance(ZUEUID_CLASS_TUNING_DATA, reinterpret_cast<void**>(data_.Out())));
    ASSERT_EQ(PVL_OK, data_->SelectTuningData(ZUEUID_CLASS_S5K3E2FX_TUNING_DATA));
    ASSERT_EQ(PVL_OK, data_->QueryInterface(ZUEUID_IFACE_TUNING_PARAMS, reinterpret_cast<void**>(params_.Out())));
  }
  void TearDown() override {
    params_.Reset();
    data_.Reset();
    SenvarTest::TearDown();
  }

  int32_t Int(TuningParamId id) {
    int32_t v = -1;
    EXPECT_EQ(PVL_OK, data_->GetIntParam(id, &v)) << std::hex << id;
    return v;
  }
  float Float(TuningParamId id) {
    uint32_t w = 0;
    EXPECT_EQ(PVL_OK, data_->GetWordParam(id, &w)) << std::hex << id;
    float f;
    memcpy(&f, &w, sizeof f);
    return f;
  }
  std::vector<TuningExposureEntry> ExposureTable() {
    uint32_t count = 0;
    EXPECT_EQ(PVL_OK, data_->GetExposureTable(TUNING_ID_AEC_EXPOSURE_TABLE, nullptr, 0, &count));
    std::vector<TuningExposureEntry> entries(count);
    EXPECT_EQ(PVL_OK, data_->GetExposureTable(TUNING_ID_AEC_EXPOSURE_TABLE, entries.data(),
                                              static_cast<int32_t>(count), &count));
    return entries;
  }

  CPvlPtr<ITuningData> data_;
  CPvlPtr<ITuningParams> params_;
};

// ---- Colour ----

// Row r of the matrix record's coefficients (output R, G, B; input R, G, B).
double Coefficient(const TuningColorCorrMatrix& m, int row, int col) {
  const float* c = &m.RtoR;
  return c[row * 3 + col];
}
// A coefficient as the colour-correction block packs it: Q + 7 fraction bits.
double Packed(const TuningColorCorrMatrix& m, int row, int col) {
  double scale = std::ldexp(1.0, m.Reserved[0] + 7);
  return std::round(Coefficient(m, row, col) * scale) / scale;
}

struct MatrixCase {
  const char* name;
  TuningParamId id;
  bool lowLight;
};
class ColourCorrection : public TuningTableTest, public ::testing::WithParamInterface<MatrixCase> {};

TEST_P(ColourCorrection, UndoesTheSensorResponseAndKeepsGreyNeutral) {
  const MatrixCase& c = GetParam();
  TuningColorCorrMatrix m{};
  ASSERT_EQ(PVL_OK, params_->GetColorCorrMatrix(c.id, &m));
  EXPECT_EQ(m.ROffset, 0);
  EXPECT_EQ(m.GOffset, 0);
  EXPECT_EQ(m.BOffset, 0);
  // Packing rounds each coefficient by at most half a step; a column of the
  // product then moves by at most that times the column's sum in the response.
  double halfStep = std::ldexp(0.5, -(m.Reserved[0] + 7));
  for (int i = 0; i < 3; ++i) {
    double rowSum = 0, packedRowSum = 0;
    for (int j = 0; j < 3; ++j) {
      double product = 0, packedProduct = 0, columnSum = 0;
      for (int k = 0; k < 3; ++k) {
        product += Coefficient(m, i, k) * kSensorColourMatrix[k][j];
        packedProduct += Packed(m, i, k) * kSensorColourMatrix[k][j];
        columnSum += kSensorColourMatrix[k][j];
      }
      if (!c.lowLight) {
        EXPECT_NEAR(product, i == j ? 1.0 : 0.0, 1e-5) << "row " << i << " column " << j;
        EXPECT_NEAR(packedProduct, i == j ? 1.0 : 0.0, halfStep * columnSum) << "row " << i << " column " << j;
      } else if (i == j) {
        // Part of the way only: the sensor's mixing is not fully undone.
        EXPECT_GT(product, 0.85) << "row " << i;
        EXPECT_LT(product, 1.0) << "row " << i;
      }
      rowSum += Coefficient(m, i, j);
      packedRowSum += Packed(m, i, j);
    }
    EXPECT_NEAR(rowSum, 1.0, 1e-5) << "row " << i;  // grey in, the same grey out
    EXPECT_NEAR(packedRowSum, 1.0, 3 * halfStep) << "row " << i;
    EXPECT_GE(Coefficient(m, i, i), 1.0) << "row " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Matrices, ColourCorrection,
    ::testing::Values(MatrixCase{"PreviewDefault", TUNING_ID_COLORCORR_BASE + 0, false},
                      MatrixCase{"PreviewLowLight", TUNING_ID_COLORCORR_BASE + 1, true},
                      MatrixCase{"SnapshotDefault", TUNING_ID_COLORCORR_BASE + 2, false},
                      MatrixCase{"SnapshotLowLight", TUNING_ID_COLORCORR_BASE + 3, true}),
    [](const auto& info) { return std::string(info.param.name); });

struct LightCase {
  const char* name;
  TuningParamId mwb;
  TuningParamId refPoint;  // 0: none for this light
  BoardIlluminant light;   // kIlluminantNeutral stands for the board's white LED
};
class WhiteBalance : public TuningTableTest, public ::testing::WithParamInterface<LightCase> {};

TEST_P(WhiteBalance, GainsMakeTheBoardsGreyNeutral) {
  const LightCase& c = GetParam();
  const float* rgb = kIlluminantRgb[c.light];
  TuningMwbGains g{};
  ASSERT_EQ(PVL_OK, params_->GetMwbGains(c.mwb, &g));
  EXPECT_NEAR(g.RGain * rgb[0], g.GGain * rgb[1], 1e-5);
  EXPECT_NEAR(g.BGain * rgb[2], g.GGain * rgb[1], 1e-5);
  EXPECT_FLOAT_EQ(g.GGain, 1.0f);
  if (c.refPoint != 0) {
    TuningAwbRefPoint p{};
    ASSERT_EQ(PVL_OK, data_->GetAwbRefPoint(c.refPoint, &p));
    EXPECT_NEAR(p.RedG * rgb[0], rgb[1], 1e-5);
    EXPECT_NEAR(p.BlueG * rgb[2], rgb[1], 1e-5);
    EXPECT_FLOAT_EQ(p.RedAdj, 1.0f);
    EXPECT_FLOAT_EQ(p.BlueAdj, 1.0f);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lights, WhiteBalance,
    ::testing::Values(
        LightCase{"Sunny", TUNING_ID_MWB_BASE + MWB_SUNNY, TUNING_ID_AWB_REFPOINT_BASE + AWBREF_D65, kIlluminantDaylight},
        LightCase{"Tungsten", TUNING_ID_MWB_BASE + MWB_TUNGSTEN, TUNING_ID_AWB_REFPOINT_BASE + AWBREF_A,
                  kIlluminantIncandescent},
        LightCase{"Fluorescent", TUNING_ID_MWB_BASE + MWB_FLUORESCENT, TUNING_ID_AWB_REFPOINT_BASE + AWBREF_TL84,
                  kIlluminantFluorescent},
        LightCase{"Strobe", TUNING_ID_MWB_BASE + MWB_STROBE, 0, kIlluminantNeutral},
        LightCase{"LED", TUNING_ID_MWB_BASE + MWB_LED, 0, kIlluminantNeutral}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TuningTableTest, AwbBoundsHoldEveryLightOnOneWarmToCoolLine) {
  ASSERT_EQ(kDefaultIlluminant, kIlluminantDaylight);  // what the Sunny case above stands for
  // Unity channel gains: the white-balance block carries the light.
  TuningChannelGains ch{};
  ASSERT_EQ(PVL_OK, params_->GetChannelGains(TUNING_ID_CHANNEL_GAINS, &ch));
  EXPECT_FLOAT_EQ(ch.GreenEvenRow, 1.0f);
  EXPECT_FLOAT_EQ(ch.GreenOddRow, 1.0f);
  EXPECT_FLOAT_EQ(ch.Red, 1.0f);
  EXPECT_FLOAT_EQ(ch.Blue, 1.0f);
  EXPECT_FLOAT_EQ(Float(0x80300201), 1.0f);  // global gain
  TuningGainTriple lo{}, hi{};
  ASSERT_EQ(PVL_OK, data_->GetAwbExtGains(TUNING_ID_AWBEXT_MIN_GAINS, &lo));
  ASSERT_EQ(PVL_OK, data_->GetAwbExtGains(TUNING_ID_AWBEXT_MAX_GAINS, &hi));
  const char* names[AWBREF_COUNT] = {"D65", "D75", "A", "TL84", "CW", "H", "D50", "CustFluo", "Noon"};
  std::vector<std::pair<float, float>> line;  // (red gain, blue gain) of each light
  for (uint32_t i = 0; i < AWBREF_COUNT; ++i) {
    TuningAwbRefPoint p{};
    ASSERT_EQ(PVL_OK, data_->GetAwbRefPoint(TUNING_ID_AWB_REFPOINT_BASE + i, &p));
    EXPECT_GE(p.RedG, lo.R) << names[i];
    EXPECT_LE(p.RedG, hi.R) << names[i];
    EXPECT_GE(p.BlueG, lo.B) << names[i];
    EXPECT_LE(p.BlueG, hi.B) << names[i];
    line.emplace_back(p.RedG, p.BlueG);
  }
  const char* presets[MWB_COUNT] = {"Fluorescent", "Sunny", "Tungsten", "Cloudy", "Strobe", "LED"};
  for (uint32_t i = 0; i < MWB_COUNT; ++i) {
    TuningMwbGains g{};
    ASSERT_EQ(PVL_OK, params_->GetMwbGains(TUNING_ID_MWB_BASE + i, &g));
    EXPECT_GE(g.RGain, lo.R) << presets[i];
    EXPECT_LE(g.RGain, hi.R) << presets[i];
    EXPECT_GE(g.BGain, lo.B) << presets[i];
    EXPECT_LE(g.BGain, hi.B) << presets[i];
  }
  // From the bluest light to the reddest, the red gain falls as the blue gain rises.
  std::sort(line.begin(), line.end());
  for (size_t i = 1; i < line.size(); ++i) EXPECT_GT(line[i - 1].second, line[i].second) << "light " << i;
}

TEST_F(TuningTableTest, ColourConversionKeepsLumaAndGrey) {
  // Every table the normal path can select keeps white at full luma and grey
  // without chroma, with chroma scales the hue rotation can work on (not 0, < 4).
  for (uint32_t i : {0u, 1u, 2u, 3u, 8u, 9u, 10u, 11u}) {
    TuningColorConvMatrix m{};
    ASSERT_EQ(PVL_OK, params_->GetColorConvMatrix(TUNING_ID_COLORCONV_BASE + i, &m));
    EXPECT_NEAR(m.RtoY + m.GtoY + m.BtoY, 1.0f, 1e-5) << "table " << i;
    EXPECT_EQ(m.Yoffset, 0) << "table " << i;
    EXPECT_EQ(m.CBOffset_k_cb, 128) << "table " << i;
    EXPECT_EQ(m.CROffset_k_cr, 128) << "table " << i;
    for (float s : {m.CbScalingNegative_am, m.CbScalingPositive_ap, m.CrScalingNegative_cm, m.CrScalingPositive_cp}) {
      EXPECT_GT(s, 0.0f) << "table " << i;
      EXPECT_LT(s, 4.0f) << "table " << i;
    }
  }
  // The negative effect maps black to white.
  TuningColorConvMatrix neg{};
  ASSERT_EQ(PVL_OK, params_->GetColorConvMatrix(TUNING_ID_COLORCONV_BASE + 6, &neg));
  EXPECT_NEAR(neg.Yoffset + 255 * (neg.RtoY + neg.GtoY + neg.BtoY), 0.0f, 1e-3);
  EXPECT_EQ(neg.Yoffset, 255);
}

// ---- Levels and curves ----

TEST_F(TuningTableTest, BlackLevelIsTheSensors) {
  for (TuningParamId id : {0x80500003u, 0x80500103u}) {
    TuningBlackLevel4Channel b{};
    ASSERT_EQ(PVL_OK, params_->GetBlackLevel4Channel(id, &b));
    EXPECT_EQ(b.EvenRowEvenCol, kSensorBlackLevel) << std::hex << id;
    EXPECT_EQ(b.EvenRowOddCol, kSensorBlackLevel) << std::hex << id;
    EXPECT_EQ(b.OddRowEvenCol, kSensorBlackLevel) << std::hex << id;
    EXPECT_EQ(b.OddRowOddCol, kSensorBlackLevel) << std::hex << id;
  }
  // The low-light level is the normal one minus this: the sensor's does not move.
  EXPECT_EQ(Int(0x80500000), 0);
  EXPECT_EQ(Int(0x80500100), 0);
}

struct GammaCase {
  const char* name;
  TuningParamId id;
};
class GammaCurve : public TuningTableTest, public ::testing::WithParamInterface<GammaCase> {};

TEST_P(GammaCurve, RisesFromBlackToWhite) {
  TuningGammaTable g{};
  ASSERT_EQ(PVL_OK, params_->GetGammaTable(GetParam().id, &g));
  EXPECT_EQ(g.Table[0], 0);
  EXPECT_EQ(g.Table[TUNING_GAMMA_TABLE_SIZE - 1], 255);
  for (uint32_t j = 1; j < TUNING_GAMMA_TABLE_SIZE; ++j) ASSERT_GE(g.Table[j], g.Table[j - 1]) << "point " << j;
  // A gamma curve: concave, above the straight line in the middle.
  EXPECT_GT(g.Table[TUNING_GAMMA_TABLE_SIZE / 2], 160);
}

INSTANTIATE_TEST_SUITE_P(Tables, GammaCurve,
                         ::testing::Values(GammaCase{"PreviewDefault", 0x80400000}, GammaCase{"PreviewLowLight", 0x80400001},
                                           GammaCase{"PreviewOutdoor", 0x80400002}, GammaCase{"PreviewBacklight", 0x80400003},
                                           GammaCase{"SnapshotDefault", 0x80400100},
                                           GammaCase{"SnapshotLowLight", 0x80400101},
                                           GammaCase{"SnapshotOutdoor", 0x80400102}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TuningTableTest, TheDefaultCurveIsSrgb) {
  for (TuningParamId id : {0x80400000u, 0x80400100u}) {
    TuningGammaTable g{};
    ASSERT_EQ(PVL_OK, params_->GetGammaTable(id, &g));
    for (uint32_t j = 0; j < TUNING_GAMMA_TABLE_SIZE; ++j) {
      double x = j / 1023.0;
      double srgb = x <= 0.0031308 ? 12.92 * x : 1.055 * std::pow(x, 1 / 2.4) - 0.055;
      ASSERT_NEAR(g.Table[j], 255 * srgb, 0.51) << std::hex << id << std::dec << " point " << j;
    }
  }
}

TEST_F(TuningTableTest, RolloffIsFlat) {
  for (uint32_t i = 0; i < ROLLOFF_COUNT; ++i) {
    TuningRolloffMesh mesh{};
    ASSERT_EQ(PVL_OK, params_->GetRolloffMesh(0x80600100 + i, &mesh));
    EXPECT_EQ(mesh.TableSize, TUNING_ROLLOFF_MESH_GAINS);
    for (uint32_t k = 0; k < TUNING_ROLLOFF_MESH_GAINS; ++k) {
      ASSERT_EQ(mesh.RGain[k], 1.0f) << "mesh " << i << " gain " << k;
      ASSERT_EQ(mesh.GRGain[k], 1.0f) << "mesh " << i << " gain " << k;
      ASSERT_EQ(mesh.GBGain[k], 1.0f) << "mesh " << i << " gain " << k;
      ASSERT_EQ(mesh.BGain[k], 1.0f) << "mesh " << i << " gain " << k;
    }
    TuningRolloffTable radial{};
    ASSERT_EQ(PVL_OK, params_->GetRolloffTable(0x80600000 + i, &radial));
    for (uint32_t k = 0; k < 32; ++k) {
      ASSERT_EQ(radial.RedTable[k], 1.0) << "table " << i;
      ASSERT_EQ(radial.GreenTable[k], 1.0) << "table " << i;
      ASSERT_EQ(radial.BlueTable[k], 1.0) << "table " << i;
      if (k > 0) { ASSERT_GT(radial.RSqTable[k], radial.RSqTable[k - 1]) << "table " << i; }
    }
  }
}

// ---- Exposure, light ranges and focus ----

TEST_F(TuningTableTest, ExposureTableClimbsThroughLinesThenGain) {
  std::vector<TuningExposureEntry> t = ExposureTable();
  ASSERT_GT(t.size(), 100u);
  ASSERT_LE(t.size(), TUNING_EXPOSURE_TABLE_ENTRIES);
  EXPECT_EQ(t.front().LineCount, 1u);
  EXPECT_EQ(t.front().Gain, 32);
  // The preview's longest exposure without a longer frame: FLL - margin = 990.
  const uint32_t maxLines = 990;
  EXPECT_EQ(t.back().LineCount, maxLines);
  EXPECT_GE(t.back().Gain, 500);  // up to about the sensor's 16x
  for (size_t i = 1; i < t.size(); ++i) {
    const TuningExposureEntry &a = t[i - 1], &b = t[i];
    ASSERT_LE(b.LineCount, maxLines) << "entry " << i;
    ASSERT_GE(b.Gain, 32) << "entry " << i;
    ASSERT_LE(b.Gain, 512) << "entry " << i;
    // Gain only once the lines are used up; every step more exposure, by at
    // most 2x (one line to two) and by ~3 % (one 24th of an EV) past 35 lines.
    if (b.Gain > 32) { ASSERT_EQ(a.LineCount, maxLines) << "entry " << i; }
    double ea = double(a.LineCount) * a.Gain, eb = double(b.LineCount) * b.Gain;
    ASSERT_GT(eb, ea) << "entry " << i;
    ASSERT_LE(eb / ea, a.LineCount * a.Gain >= 35 * 32 ? 1.07 : 2.0) << "entry " << i;
  }
}

TEST_F(TuningTableTest, AecTargetsMidGrey) {
  // 18 % grey is 46 of 255 before gamma; the targets stay near it.
  for (TuningParamId id : {0x00300002u, 0x00300003u, 0x00300004u, 0x00300005u}) {
    EXPECT_GE(Int(id), 36) << std::hex << id;
    EXPECT_LE(Int(id), 64) << std::hex << id;
  }
  EXPECT_LT(Int(0x00300004), Int(0x00300002));  // darker in low light
  EXPECT_GT(Int(0x00300005), Int(0x00300002));  // brighter against a backlight
  // A daylight grey (green level 0.18) at the target needs an exposure inside
  // the line range, well past the table's bright end.
  const double lineSeconds = 33.19e-3 / 972;  // preview: 972 active lines in 33.19 ms
  double target = Int(0x00300002) / 255.0 * (kSensorMaxSample - kSensorBlackLevel);
  double lines = target / (kSceneScale * 0.18 * lineSeconds);
  std::vector<TuningExposureEntry> t = ExposureTable();
  EXPECT_LT(lines, 990);
  EXPECT_GT(lines, t[t.size() / 4].LineCount);
  EXPECT_LT(Int(0x0030000A), Int(0x00300000));  // outdoor brighter than indoor
  EXPECT_LT(Int(0x00300000), static_cast<int32_t>(t.size()));
}

struct TriggerCase {
  const char* name;
  TuningParamId id;
  bool outdoor;  // bright range: its end lies below its start
};
class LightRange : public TuningTableTest, public ::testing::WithParamInterface<TriggerCase> {};

TEST_P(LightRange, IsOrderedAndInsideTheExposureTable) {
  const TriggerCase& c = GetParam();
  TuningTrigger t{};
  ASSERT_EQ(PVL_OK, params_->GetTrigger(c.id, &t));
  int32_t entries = static_cast<int32_t>(ExposureTable().size());
  if (c.outdoor) {
    EXPECT_LT(t.GainEnd, t.GainStart);
    EXPECT_LT(t.LuxIndexEnd, t.LuxIndexStart);
  } else {
    EXPECT_LT(t.GainStart, t.GainEnd);
    EXPECT_LT(t.LuxIndexStart, t.LuxIndexEnd);
  }
  EXPECT_GE(std::min(t.GainStart, t.GainEnd), 1.0f);
  EXPECT_LE(std::max(t.GainStart, t.GainEnd), 16.0f);
  EXPECT_GE(std::min(t.LuxIndexStart, t.LuxIndexEnd), 0);
  EXPECT_LT(std::max(t.LuxIndexStart, t.LuxIndexEnd), entries);
  // The module switches on gain or lux index: 1 or 0.
  uint32_t selector = 2;
  ASSERT_EQ(PVL_OK, params_->GetModuleEnable((c.id & 0xFFF00000u) | 0x00000F00u, &selector));
  EXPECT_LE(selector, 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Triggers, LightRange,
    ::testing::Values(TriggerCase{"ColorCorrSnapshot", 0x80000F01, false},
                      TriggerCase{"ColorCorrPreview", 0x80000F02, false},
                      TriggerCase{"ColorConv", 0x80100F01, false},
                      TriggerCase{"GammaSnapshotLowLight", 0x80400F01, false},
                      TriggerCase{"GammaSnapshotOutdoor", 0x80400F02, true},
                      TriggerCase{"GammaPreviewLowLight", 0x80400F03, false},
                      TriggerCase{"GammaPreviewOutdoor", 0x80400F04, true},
                      TriggerCase{"BlackLevelPreview", 0x80500F01, false},
                      TriggerCase{"BlackLevelSnapshot", 0x80500F02, false},
                      TriggerCase{"Asf3x3LowLight", 0x80700F01, false}, TriggerCase{"Asf3x3Outdoor", 0x80700F02, true},
                      TriggerCase{"Asf5x5LowLight", 0x80800F01, false}, TriggerCase{"Asf5x5Outdoor", 0x80800F02, true},
                      TriggerCase{"ChromaSuppSnapshot", 0x80A00F01, false},
                      TriggerCase{"ChromaSuppPreview", 0x80A00F02, false},
                      TriggerCase{"AbfPreview", 0x80B00F01, false}, TriggerCase{"AbfSnapshot", 0x80B00F02, false},
                      TriggerCase{"BpcPreview", 0x80C00F01, false}, TriggerCase{"BpcSnapshot", 0x80C00F02, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TuningTableTest, FocusSearchReachesTheBoardsSharpestCode) {
  int32_t far = Int(TUNING_ID_AF_POSITION_FAR_END), near = Int(0x00800000), boundary = Int(0x00800002);
  int32_t total = Int(0x0080000B);
  EXPECT_EQ(far, 0);  // the lens homes to code 0
  EXPECT_LE(static_cast<uint32_t>(near) * kAfCodesPerStep, kLensCodeMax);
  EXPECT_EQ(total, near - far);
  EXPECT_GT(boundary, far);
  EXPECT_LT(boundary, near);
  // Normal focus searches from the far end to the macro boundary.
  EXPECT_GT(static_cast<uint32_t>(boundary) * kAfCodesPerStep, kSceneFocusLensCode + kSceneFocusSpread);
  EXPECT_GE(Int(0x0080000A), far);
  EXPECT_LE(Int(0x0080000A), boundary);
  // The focus window holds the chart's detail bars (full-array coordinates).
  TuningAfWindow w{};
  ASSERT_EQ(PVL_OK, params_->GetAfWindow(0x80D00001, &w));
  EXPECT_LE(w.HorizOffsetRatio * kSensorArrayWidth, kChartFineDetail.x);
  EXPECT_GE((w.HorizOffsetRatio + w.HorizClipRatio) * kSensorArrayWidth, kChartFineDetail.x + kChartFineDetail.width);
  EXPECT_LE(w.VertOffsetRatio * kSensorArrayHeight, kChartFineDetail.y);
  EXPECT_GE((w.VertOffsetRatio + w.VertClipRatio) * kSensorArrayHeight, kChartFineDetail.y + kChartFineDetail.height);
  EXPECT_LE(w.HorizOffsetRatio + w.HorizClipRatio, 1.0f);
  EXPECT_LE(w.VertOffsetRatio + w.VertClipRatio, 1.0f);
  // The high-pass filter ignores flat areas.
  TuningAfHpf h{};
  ASSERT_EQ(PVL_OK, params_->GetAfHpf(0x80D00000, &h));
  EXPECT_EQ(h.a00 + h.a04 + h.a20 + h.a21 + h.a22 + h.a23 + h.a24, 0);
}

// ---- Filters ----

TEST_F(TuningTableTest, SharpeningIsMildAndValid) {
  // The downscale window: lo < 1 < hi, so an unscaled picture gets the peak.
  for (auto [lo, hi, peak] : {std::tuple{0x80700F03u, 0x80700F04u, 0x80700100u},
                              std::tuple{0x80800F03u, 0x80800F04u, 0x80800001u}}) {
    EXPECT_LT(Float(lo), 1.0f);
    EXPECT_GT(Float(lo), 0.0f);
    EXPECT_GT(Float(hi), 1.0f);
    EXPECT_GT(Float(peak), 0.0f);
    EXPECT_LE(Float(peak), 1.0f);
  }
  for (TuningParamId id : {0x80800101u, 0x80800102u, 0x80800103u, 0x80800201u, 0x80800202u, 0x80800203u}) {
    TuningAsf5x5Setting s{};
    ASSERT_EQ(PVL_OK, params_->GetAsf5x5Setting(id, &s));
    // What the filter block checks before it runs: E1 >= 0, E2, E4 >= E1, E3, E5 <= -E1.
    EXPECT_GE(s.LowThresh, 0) << std::hex << id;
    EXPECT_GE(s.UpThresh, s.LowThresh) << std::hex << id;
    EXPECT_GE(s.UpThreshF2, s.LowThresh) << std::hex << id;
    EXPECT_LE(s.NegThresh, -s.LowThresh) << std::hex << id;
    EXPECT_LE(s.NegThreshF2, -s.LowThresh) << std::hex << id;
    EXPECT_LE(s.SharpAmtF1, 1.0f) << std::hex << id;  // no more than the block's own default
    EXPECT_LE(s.SmoothPct, 100) << std::hex << id;
  }
  for (TuningParamId id : {0x80800100u, 0x80800200u}) {
    TuningAsf5x5Filter f{};
    ASSERT_EQ(PVL_OK, params_->GetAsf5x5Filter(id, &f));
    // The block uses the top-left 3 x 3 as the quadrant of a kernel symmetric
    // about its centre: tap (r, c) stands for 4, 2 or 1 of its 25 samples.
    static constexpr int kTaps[3][3] = {{4, 4, 2}, {4, 4, 2}, {2, 2, 1}};
    int sum1 = 0, sum2 = 0;
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) {
        sum1 += kTaps[r][c] * f.Filter1[r * 5 + c];
        sum2 += kTaps[r][c] * f.Filter2[r * 5 + c];
      }
    EXPECT_EQ(sum1, 0) << std::hex << id;  // edges only: flat areas pass untouched
    EXPECT_EQ(sum2, 0) << std::hex << id;
  }
}

TEST_F(TuningTableTest, NoiseFiltersGrowWithGain) {
  for (TuningParamId id : {0x80B00000u, 0x80B00001u}) {
    TuningAbfFilterData f{};
    ASSERT_EQ(PVL_OK, params_->GetAbfFilterData(id, &f));
    EXPECT_LE(f.Shift, 3) << std::hex << id;
    for (int i = 0; i < 20; ++i) {
      EXPECT_GT(f.Ratio[i], 0.0f) << std::hex << id << " entry " << i;
      EXPECT_LE(f.Ratio[i], 0.25f) << std::hex << id << " entry " << i;
      EXPECT_LE(f.Min[i], f.Max[i]) << std::hex << id << " entry " << i;
      EXPECT_LE(f.Max[i], kSensorMaxSample) << std::hex << id << " entry " << i;
      if (i > 0) { EXPECT_GE(f.LPThr[i], f.LPThr[i - 1]) << std::hex << id << " entry " << i; }
      if (i > 0) { EXPECT_GE(f.Ratio[i], f.Ratio[i - 1]) << std::hex << id << " entry " << i; }
    }
  }
  // Chroma suppression: each threshold pair ordered, low light suppressing more.
  for (TuningParamId id : {0x80A00000u, 0x80A00001u, 0x80A00002u, 0x80A00003u}) {
    TuningChromaSupp s{};
    ASSERT_EQ(PVL_OK, params_->GetChromaSupp(id, &s));
    EXPECT_LT(s.LumaThresh1, s.LumaThresh2) << std::hex << id;
    EXPECT_LT(s.LumaThresh2, s.LumaThresh3) << std::hex << id;
    EXPECT_LT(s.LumaThresh3, s.LumaThresh4) << std::hex << id;
    EXPECT_LT(s.ChromaThresh1, s.ChromaThresh2) << std::hex << id;
  }
  // Bad-pixel thresholds above the chart's bar edges' noise, higher in low light.
  for (auto [normal, low] : {std::pair{0x80C00100u, 0x80C00101u}, std::pair{0x80C00102u, 0x80C00103u}}) {
    TuningBpcThresholds n{}, l{};
    ASSERT_EQ(PVL_OK, params_->GetBpcThresholds(normal, &n));
    ASSERT_EQ(PVL_OK, params_->GetBpcThresholds(low, &l));
    EXPECT_GE(l.Red, n.Red);
    EXPECT_GE(l.Green, n.Green);
    EXPECT_GE(l.Blue, n.Blue);
    EXPECT_LE(l.Green, kSensorMaxSample);
  }
}

TEST_F(TuningTableTest, FrameRatesArePositive) {
  std::vector<TuningAfrEntry> afr(TUNING_AFR_ENTRIES);
  uint32_t count = 0;
  ASSERT_EQ(PVL_OK, data_->GetAfrTable(TUNING_ID_AFR_TABLE, afr.data(), TUNING_AFR_ENTRIES, &count));
  ASSERT_EQ(count, TUNING_AFR_ENTRIES);
  EXPECT_EQ(afr[0].FPS, 30);
  EXPECT_EQ(afr[0].UseInAutoFrameRate, 1);
  for (uint32_t i = 1; i < count; ++i) {
    EXPECT_GT(afr[i].FPS, 0) << "entry " << i;
    EXPECT_LE(afr[i].FPS, afr[i - 1].FPS) << "entry " << i;
    EXPECT_LT(afr[i].FasterFPSGainTrigger, afr[i].SlowerFPSGainTrigger) << "entry " << i;
  }
}

// ---- The tuning tool's view ----

// The tuning server lists the table's values under "TuningData" (what
// tunserve and tunclient show).
TEST_F(TuningTableTest, TheTuningServerShowsTheValues) {
  const size_t entries = ExposureTable().size();
  // The service registers its keys when it is created: start it again, after
  // the server, as the camera does.
  params_.Reset();
  data_.Reset();
  camera::test::WriteImageFile("fs/~0x0106fa8a/_TunvexEnabled.flg", "");
  setenv("TUNVEX_PORT", "0", 1);  // any free port: other test programs serve at the same time
  std::string text;
  {
    CPvlPtr<ITunvex> server;
    ASSERT_EQ(PVL_OK, env_->CreateInstance(ZUEUID_CLASS_TUNINGSERVER, reinterpret_cast<void**>(server.Out())));
    CPvlPtr<ITuningData> service;
    ASSERT_EQ(PVL_OK, env_->CreateInstance(ZUEUID_CLASS_TUNING_DATA, reinterpret_cast<void**>(service.Out())));
    ASSERT_EQ(PVL_OK, service->SelectTuningData(ZUEUID_CLASS_S5K3E2FX_TUNING_DATA));
    uint32_t needed = 0;
    ASSERT_EQ(PVL_OK, server->SendDataToJPEG(nullptr, 0, &needed, nullptr));
    std::vector<char> buffer(needed + 1);
    uint32_t written = 0;
    ASSERT_EQ(PVL_OK, server->SendDataToJPEG(buffer.data(), static_cast<uint32_t>(buffer.size()), nullptr, &written));
    text.assign(buffer.data());
  }
  camera::test::RemoveImageFile("fs/~0x0106fa8a/_TunvexEnabled.flg");
  EXPECT_NE(text.find("\nBlackLevel-Preview-NormalLight4Channel-BlackEvenRowEvenCol=64\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nAWB-ChannelGain-Red=1"), std::string::npos);
  EXPECT_NE(text.find("\nMWB-Sunny-RGain=1.66"), std::string::npos);
  EXPECT_NE(text.find("\nAEC-TableValidEntries=" + std::to_string(entries) + "\n"), std::string::npos);
}

}  // namespace
}  // namespace senvartest
