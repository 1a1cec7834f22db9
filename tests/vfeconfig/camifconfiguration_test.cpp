// The camera interface: sync fields, window and the skip factors and patterns
// the outputs' sizes call for. A stored factor is always the one its pattern
// really keeps (16 over the samples kept), because the crop and the statistics
// area divide the window by it.
#include <gtest/gtest.h>

#include <bitset>

#include "vfeconfigfixture.h"

namespace vfeconfigtest {
namespace {

struct SkipCase {
  const char* name;
  uint32_t kind;             // sensor output kind
  uint32_t outW, outH;       // OUTPUT1's size
  bool raw;                  // raw output enabled
  uint32_t pixelFactor, lineFactor;
  uint16_t pixelPattern, linePattern;
  uint8_t subsample;
};

using CamifSkipTest = VfeBlockTableTest<SkipCase>;

TEST_P(CamifSkipTest, ChoosesFactorAndPattern) {
  const SkipCase& c = GetParam();
  settings_.format.Words[0] = c.kind;
  Output1(c.outW, c.outH);
  service_->raw.enabled = c.raw;
  CCamifConfiguration* camif = service_->camif;
  ASSERT_EQ(PVL_OK, camif->Configure(&settings_));
  const VfeCamifCmd& p = camif->GetPayload();
  EXPECT_EQ(c.pixelFactor, camif->GetPixelSkipFactor());
  EXPECT_EQ(c.lineFactor, camif->GetLineSkipFactor());
  EXPECT_EQ(c.pixelPattern, p.pixelSkipPattern);
  EXPECT_EQ(c.linePattern, p.lineSkipPattern);
  EXPECT_EQ(c.subsample, p.subsampleEnable);
  // The pattern keeps exactly 1/factor of every 16 samples.
  EXPECT_EQ(16u / c.pixelFactor, std::bitset<16>(p.pixelSkipPattern).count());
  EXPECT_EQ(16u / c.lineFactor, std::bitset<16>(p.lineSkipPattern).count());
}

// Sensor 2592 x 1944 (YUV: 1296 pixels of two bytes per line).
INSTANTIATE_TEST_SUITE_P(
    Decimation, CamifSkipTest,
    ::testing::Values(SkipCase{"Bayer320x240NoSkip", 3, 320, 240, false, 1, 1, 0xFFFF, 0xFFFF, 0},
                      SkipCase{"BayerX33Halves", 3, 79, 240, false, 2, 1, 0xCCCC, 0xFFFF, 1},
                      SkipCase{"YuvX33Halves", 5, 40, 240, false, 2, 1, 0xF0F0, 0xFFFF, 1},
                      SkipCase{"BayerX100Quarters", 3, 26, 240, false, 4, 1, 0xC0C0, 0xFFFF, 1},
                      SkipCase{"BayerFactor3KeepsAQuarter", 3, 30, 240, false, 4, 1, 0xC0C0, 0xFFFF, 1},
                      SkipCase{"BayerFactor6KeepsAnEighth", 3, 15, 240, false, 8, 1, 0xC000, 0xFFFF, 1},
                      SkipCase{"BayerFactor9KeepsAnEighth", 3, 9, 240, false, 8, 1, 0xC000, 0xFFFF, 1},
                      SkipCase{"YuvFactor3KeepsAQuarter", 5, 15, 240, false, 4, 1, 0xF000, 0xFFFF, 1},
                      SkipCase{"LineFactor2", 3, 320, 40, false, 1, 2, 0xFFFF, 0xCCCC, 1},
                      SkipCase{"LineFactor3KeepsAQuarter", 3, 320, 25, false, 1, 4, 0xFFFF, 0xC0C0, 1},
                      SkipCase{"LineFactor5KeepsAnEighth", 3, 320, 13, false, 1, 8, 0xFFFF, 0xC000, 1},
                      SkipCase{"RawOutputKeepsAll", 3, 9, 9, true, 1, 1, 0xFFFF, 0xFFFF, 0}),
    CaseName<SkipCase>);

using CamifConfigurationTest = VfeBlockTest;

TEST_F(CamifConfigurationTest, PayloadCarriesSyncModeInfoAndWindow) {
  settings_.SetActive(8, 4, 1304, 976);
  settings_.modeInfo.Words[0] = 3;  // sync mode 3 -> 2
  settings_.modeInfo.Words[2] = 2;  // polarity B 0
  settings_.modeInfo.Words[3] = 1;  // polarity A 1
  for (uint32_t i = 4; i < 8; ++i) settings_.modeInfo.Words[i] = 0x100 + i;
  settings_.geometry.Words[1] = 1400;
  settings_.geometry.Words[2] = 1000;
  Output1(640, 480);
  service_->camif->SetPatternSelector(5);
  ASSERT_EQ(PVL_OK, service_->camif->Configure(&settings_));

  VfeCamifCmd expected{};
  expected.polarityA = 1;
  expected.polarityB = 0;
  expected.syncMode = 2;
  expected.subsampleEnable = 1;  // the selector asks for it
  expected.patternEnable = 1;
  expected.modeInfo[0] = 7;
  expected.modeInfo[1] = 6;
  expected.modeInfo[2] = 5;
  expected.modeInfo[3] = 4;
  expected.frameGeometry2 = 1000;
  expected.frameGeometry1 = 1400;
  expected.firstPixel = 8;
  expected.lastPixel = 1303;
  expected.firstLine = 4;
  expected.lastLine = 975;
  expected.pixelSkipPattern = 0xFFFF;
  expected.lineSkipPattern = 0xFFFF;
  expected.patternSelector = 5;
  EXPECT_EQ(Bytes(expected), Bytes(service_->camif->GetPayload()));
  EXPECT_EQ(1296u, service_->camif->GetWindowWidth());
  EXPECT_EQ(972u, service_->camif->GetWindowHeight());
  EXPECT_TRUE(service_->sent.empty()) << "Configure computes only";
}

TEST_F(CamifConfigurationTest, PatternSelectorOutOfRangeIsStoredAsZero) {
  service_->camif->SetPatternSelector(16);
  EXPECT_EQ(0u, service_->camif->GetPatternSelector());
  service_->camif->SetPatternSelector(15);
  EXPECT_EQ(15u, service_->camif->GetPatternSelector());
}

struct FailCase {
  const char* name;
  uint32_t syncMode, polarityA, polarityB;
  bool out1;
  uint32_t outW, outH;
  PvlResult expected;
};
using CamifFailureTest = VfeBlockTableTest<FailCase>;

TEST_P(CamifFailureTest, RefusesWhatTheInterfaceCannotTake) {
  const FailCase& c = GetParam();
  settings_.modeInfo.Words[0] = c.syncMode;
  settings_.modeInfo.Words[3] = c.polarityA;
  settings_.modeInfo.Words[2] = c.polarityB;
  service_->out1.enabled = c.out1;
  service_->out1.size = {c.outW, c.outH};
  EXPECT_EQ(c.expected, service_->camif->Configure(&settings_));
  EXPECT_TRUE(service_->sent.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, CamifFailureTest,
    ::testing::Values(FailCase{"SyncMode4", 4, 1, 1, true, 320, 240, PVL_E_FAIL},
                      FailCase{"PolarityA0", 1, 0, 1, true, 320, 240, PVL_E_FAIL},
                      FailCase{"PolarityB3", 1, 1, 3, true, 320, 240, PVL_E_FAIL},
                      FailCase{"NoOutputEnabled", 1, 1, 1, false, 320, 240, PVL_E_FAIL},
                      FailCase{"OutputOfZeroWidth", 1, 1, 1, true, 0, 240, PVL_E_FAIL}),
    CaseName<FailCase>);

TEST_F(CamifConfigurationTest, ASensorReadFailureIsReturned) {
  settings_.fail["GetSensorGeometry"] = PVL_E_NOTREADY;
  Output1(320, 240);
  EXPECT_EQ(PVL_E_NOTREADY, service_->camif->Configure(&settings_));
}

TEST_F(CamifConfigurationTest, BothOutputsDecimateToTheSmallerSize) {
  settings_.SetActive(0, 0, 1296, 972);
  Output1(640, 480);
  service_->out2.enabled = true;
  service_->out2.size = {176, 144};
  CSensorInfo sensor;
  ASSERT_EQ(PVL_OK, sensor.Fill(&settings_));
  uint32_t x = 0, y = 0;
  ASSERT_EQ(PVL_OK, service_->camif->GetDecimation(sensor, &x, &y));
  EXPECT_EQ(8u, x);  // ceil(1296 / 176)
  EXPECT_EQ(7u, y);  // ceil(972 / 144)
}

}  // namespace
}  // namespace vfeconfigtest
