// Colour correction: the tuned matrix (or its low-light blend) packed at
// Q + 7 fraction bits in the hardware's green, blue, red order, re-saturated
// while a hue rotation is on, scaled by the channel gain's residual.
#include <gtest/gtest.h>

#include <array>

#include "vfeconfigfixture.h"

namespace vfeconfigtest {
namespace {

TuningColorCorrMatrix Matrix(float diagonal, uint8_t q, int16_t offset = 0) {
  TuningColorCorrMatrix m{};
  m.RtoR = m.GtoG = m.BtoB = diagonal;
  m.ROffset = m.GOffset = m.BOffset = offset;
  m.Reserved[0] = q;
  return m;
}

// Every coefficient different, so that a misplaced one shows.
TuningColorCorrMatrix Distinct() {
  TuningColorCorrMatrix m{};
  m.RtoR = 1.0f, m.GtoR = 0.125f, m.BtoR = 0.25f;
  m.RtoG = 0.375f, m.GtoG = 1.5f, m.BtoG = 0.5f;
  m.RtoB = 0.625f, m.GtoB = 0.75f, m.BtoB = 2.0f;
  m.ROffset = 1, m.GOffset = 2, m.BOffset = 3;
  return m;
}

struct ColorCorrCase {
  const char* name;
  TuningColorCorrMatrix normal, low;
  uint8_t enable, controlEnable;
  uint32_t effectMode;
  uint32_t lux;  // trigger over lux index 100..300
  float hue;
  int32_t saturation;
  uint8_t enableByte;
  uint32_t q;
  std::array<int16_t, 9> coefficients;  // G row, B row, R row
  std::array<int16_t, 3> offsets;       // G, B, R
};

const ColorCorrCase kColorCorrCases[] = {
    {"IdentityAtQ0", Matrix(1.0f, 0), Matrix(0.5f, 0), 1, 1, 0, 100, 0.0f, 100, 1, 0,
     {128, 0, 0, 0, 128, 0, 0, 0, 128}, {0, 0, 0}},
    {"HardwareOrderGreenBlueRed", Distinct(), Distinct(), 1, 1, 0, 100, 0.0f, 100, 1, 0,
     {192, 64, 48, 96, 256, 80, 16, 32, 128}, {2, 3, 1}},
    {"SwitchedOffPacksTheDefault", Matrix(1.0f, 0), Matrix(0.5f, 0), 0, 1, 0, 300, 0.0f, 100, 0, 0,
     {128, 0, 0, 0, 128, 0, 0, 0, 128}, {0, 0, 0}},
    {"LuxAtEndTakesLowLight", Matrix(1.0f, 0), Matrix(0.5f, 0, 8), 1, 1, 0, 300, 0.0f, 100, 1, 0,
     {64, 0, 0, 0, 64, 0, 0, 0, 64}, {8, 8, 8}},
    {"HalfwayMeansAndTruncatesOffsets", Matrix(1.0f, 0, 3), Matrix(0.5f, 0, 8), 1, 1, 0, 200, 0.0f, 100, 1, 0,
     {96, 0, 0, 0, 96, 0, 0, 0, 96}, {5, 5, 5}},
    {"ControlOffTakesTheDefault", Matrix(1.0f, 0), Matrix(0.5f, 0), 1, 0, 0, 300, 0.0f, 100, 1, 0,
     {128, 0, 0, 0, 128, 0, 0, 0, 128}, {0, 0, 0}},
    {"HueRotatedSaturation200", Matrix(1.0f, 0), Matrix(1.0f, 0), 1, 1, 0, 100, 30.0f, 200, 1, 0,
     {181, -15, -38, -75, 241, -38, -75, -15, 218}, {0, 0, 0}},
    {"Saturation250ActsAs200", Matrix(1.0f, 0), Matrix(1.0f, 0), 1, 1, 0, 100, 30.0f, 250, 1, 0,
     {181, -15, -38, -75, 241, -38, -75, -15, 218}, {0, 0, 0}},
    {"Saturation100LeavesTheMatrix", Matrix(1.0f, 0), Matrix(1.0f, 0), 1, 1, 0, 100, 30.0f, 100, 1, 0,
     {128, 0, 0, 0, 128, 0, 0, 0, 128}, {0, 0, 0}},
    {"HueZeroIgnoresSaturation", Matrix(1.0f, 0), Matrix(1.0f, 0), 1, 1, 0, 100, 0.0f, 200, 1, 0,
     {128, 0, 0, 0, 128, 0, 0, 0, 128}, {0, 0, 0}},
    {"EffectTakesTheDefaultUnblendedUnsaturated", Matrix(1.0f, 0), Matrix(0.5f, 0), 1, 1, 1, 300, 30.0f, 200, 1, 0,
     {128, 0, 0, 0, 128, 0, 0, 0, 128}, {0, 0, 0}},
    {"OtherEffectModeLikewise", Matrix(1.0f, 0), Matrix(0.5f, 0), 1, 1, 2, 300, 30.0f, 200, 1, 0,
     {128, 0, 0, 0, 128, 0, 0, 0, 128}, {0, 0, 0}},
    {"Q3GivesTenFractionBits", Matrix(1.0f, 3), Matrix(1.0f, 3), 1, 1, 0, 100, 0.0f, 100, 1, 3,
     {1024, 0, 0, 0, 1024, 0, 0, 0, 1024}, {0, 0, 0}},
    {"RawBeyond16BitsKeepsItsLowBits", Matrix(0.75f, 9), Matrix(0.75f, 9), 1, 1, 0, 100, 0.0f, 100, 1, 9,
     {-16384, 0, 0, 0, -16384, 0, 0, 0, -16384}, {0, 0, 0}},
    {"FractionBitsCapAt31", Matrix(1.0f, 25), Matrix(1.0f, 25), 1, 1, 0, 100, 0.0f, 100, 1, 25,
     {0, 0, 0, 0, 0, 0, 0, 0, 0}, {0, 0, 0}},
};

class ColorCorrTest : public VfeBlockTableTest<ColorCorrCase> {};

TEST_P(ColorCorrTest, ComputesThePayload) {
  const ColorCorrCase& c = GetParam();
  TuningParameterBlock& t = Tuning();
  t.ColorCorrControl = 0;
  t.ColorCorrPreviewTrigger = {2.0f, 4.0f, 100, 300};
  t.ColorCorrPreviewDefault = c.normal;
  t.ColorCorrPreviewLowLight = c.low;
  ASSERT_EQ(PVL_OK, LoadTuning());
  settings_.aecIndex = c.lux;
  settings_.effectMode = c.effectMode;
  settings_.hue.Value = c.hue;
  settings_.saturation.Value = c.saturation;
  CColorCorrConfiguration* block = service_->colorCorr;
  block->Enable().value = c.enable;
  block->ControlEnable().value = c.controlEnable;
  block->ControlEnable().changed = 1;
  ASSERT_EQ(PVL_OK, block->Configure(&settings_, VfeChain::Video));
  const VfeColorCorrCmd& p = block->GetPayload();
  EXPECT_EQ(c.enableByte, p.enable);
  EXPECT_EQ(c.q, p.qFactor);
  EXPECT_EQ(c.coefficients, (std::array<int16_t, 9>{p.coefficient[0], p.coefficient[1], p.coefficient[2],
                                                    p.coefficient[3], p.coefficient[4], p.coefficient[5],
                                                    p.coefficient[6], p.coefficient[7], p.coefficient[8]}));
  EXPECT_EQ(c.offsets, (std::array<int16_t, 3>{p.offset[0], p.offset[1], p.offset[2]}));
  EXPECT_FALSE(block->HasTuningChanged());
}

INSTANTIATE_TEST_SUITE_P(Cases, ColorCorrTest, ::testing::ValuesIn(kColorCorrCases), CaseName<ColorCorrCase>);

using ColorCorrBlockTest = VfeBlockTest;

TEST_F(ColorCorrBlockTest, TheChannelGainsResidualScalesTheCoefficients) {
  Tuning().ColorCorrPreviewDefault = Matrix(1.0f, 0, 4);
  Tuning().AWBChannelGain = {1.0f, 1.0f, 1.0f, 1.0f};
  Tuning().AWBExtCCGlobalGain = 1.0f;
  ASSERT_EQ(PVL_OK, LoadTuning());
  settings_.exposureGain = CFixedPoint(1.0);
  settings_.digitalGain = CFixedPoint(15.98);  // twice the 7.99 the channel gains can carry
  ASSERT_EQ(PVL_OK, service_->channelGain->Configure(&settings_, VfeChain::Video));
  ASSERT_NEAR(2.0f, service_->channelGain->GetDigitalGain(), 1e-4f);
  ASSERT_EQ(PVL_OK, service_->colorCorr->Configure(&settings_, VfeChain::Video));
  const VfeColorCorrCmd& p = service_->colorCorr->GetPayload();
  EXPECT_EQ(256, p.coefficient[0]);
  EXPECT_EQ(256, p.coefficient[4]);
  EXPECT_EQ(256, p.coefficient[8]);
  EXPECT_EQ(4, p.offset[0]) << "offsets are not scaled";
}

TEST_F(ColorCorrBlockTest, SnapshotReadsTheSnapshotMatrices) {
  Tuning().ColorCorrControl = 1;
  Tuning().ColorCorrSnapshotTrigger = {2.0f, 4.0f, 100, 300};
  Tuning().ColorCorrPreviewDefault = Matrix(0.25f, 0);
  Tuning().ColorCorrPreviewLowLight = Matrix(0.25f, 0);
  Tuning().ColorCorrSnapshotDefault = Matrix(1.5f, 0);
  Tuning().ColorCorrSnapshotLowLight = Matrix(0.5f, 0);
  ASSERT_EQ(PVL_OK, LoadTuning());
  settings_.exposureGain = CFixedPoint(3.0);
  ASSERT_EQ(PVL_OK, service_->colorCorr->Configure(&settings_, VfeChain::Snapshot));
  EXPECT_EQ(128, service_->colorCorr->GetPayload().coefficient[0]);
}

TEST_F(ColorCorrBlockTest, FailuresEndWithTheirCodes) {
  settings_.fail["GetImageEffectMode"] = 29;
  EXPECT_EQ(29, service_->colorCorr->Configure(&settings_, VfeChain::Video));
  settings_.fail.clear();
  settings_.hue.Value = 10.0f;
  settings_.fail["GetSaturation"] = 20;
  EXPECT_EQ(20, service_->colorCorr->Configure(&settings_, VfeChain::Video));
  UnloadTuning();
  EXPECT_EQ(PVL_E_NOTREADY, service_->colorCorr->Configure(&settings_, VfeChain::Video));
}

TEST_F(ColorCorrBlockTest, UpdateSendsCommand33) {
  ASSERT_EQ(PVL_OK, service_->colorCorr->Configure(&settings_, VfeChain::Runtime));
  ASSERT_EQ(PVL_OK, service_->colorCorr->SendUpdate());
  ASSERT_EQ(1u, service_->sent.size());
  EXPECT_EQ(VFE_CMD_COLOR_CORR_UPDATE, service_->sent[0].command);
  EXPECT_EQ(Bytes(service_->colorCorr->GetPayload()), service_->sent[0].payload);
}

}  // namespace
}  // namespace vfeconfigtest
