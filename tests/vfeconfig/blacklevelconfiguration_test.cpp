// Black level: the four levels from the tuning's normal table, lowered towards
// the low-light levels by the trigger, for each chain; switches; the update
// command; low light never lowering a level below zero.
#include <gtest/gtest.h>

#include "vfeconfigfixture.h"

namespace vfeconfigtest {
namespace {

struct BlackLevelCase {
  const char* name;
  uint8_t enable, controlEnable;
  uint8_t selector;  // 0 lux index, 1 gain
  uint16_t normal;   // all four channels
  uint16_t maxIncrease;
  uint32_t lux;
  double gain;
  VfeChain chain;
  uint8_t enableByte;
  uint16_t level;  // expected on all four channels
};

// The trigger runs over lux index 100..300 and gain 2.0..4.0.
const BlackLevelCase kBlackLevelCases[] = {
    {"SwitchedOffSendsZeros", 0, 1, 0, 64, 32, 300, 1.0, VfeChain::Video, 0, 0},
    {"ControlOffSendsZeroLevels", 1, 0, 0, 64, 32, 300, 1.0, VfeChain::Video, 1, 0},
    {"LuxAtStartTakesNormal", 1, 1, 0, 64, 32, 100, 1.0, VfeChain::Video, 1, 64},
    {"LuxAtEndTakesLowLight", 1, 1, 0, 64, 32, 300, 1.0, VfeChain::Video, 1, 32},
    {"LuxHalfwayBlends", 1, 1, 0, 64, 32, 200, 1.0, VfeChain::Video, 1, 48},
    {"LuxJustBelowEndTruncates", 1, 1, 0, 64, 32, 299, 1.0, VfeChain::Video, 1, 32},
    {"GainAtStartTakesNormal", 1, 1, 1, 64, 32, 0, 2.0, VfeChain::Video, 1, 64},
    {"GainAboveEndTakesLowLight", 1, 1, 1, 64, 32, 0, 6.0, VfeChain::Video, 1, 32},
    {"GainHalfwayBlends", 1, 1, 1, 64, 32, 0, 3.0, VfeChain::Video, 1, 48},
    {"RuntimeUsesPreviewTables", 1, 1, 0, 64, 32, 300, 1.0, VfeChain::Runtime, 1, 32},
    // A low-light level below zero would wrap to ~65500: a black picture.
    {"MaxIncreaseAboveLevelStopsAtZero", 1, 1, 0, 64, 70, 300, 1.0, VfeChain::Video, 1, 0},
    {"MaxIncreaseAboveLevelBlendsFromZero", 1, 1, 0, 64, 70, 200, 1.0, VfeChain::Video, 1, 32},
};

class BlackLevelTest : public VfeBlockTableTest<BlackLevelCase> {};

TEST_P(BlackLevelTest, ComputesTheFourLevels) {
  const BlackLevelCase& c = GetParam();
  TuningParameterBlock& t = Tuning();
  t.BlackLevelControl = c.selector;
  t.BlackLevelPreviewLowLightTrigger = {2.0f, 4.0f, 100, 300};
  t.BlackLevelPreview.MaxIncrease = c.maxIncrease;
  t.BlackLevelPreview.NormalLight4Channel = {c.normal, c.normal, c.normal, c.normal};
  ASSERT_EQ(PVL_OK, LoadTuning());
  settings_.aecIndex = c.lux;
  settings_.exposureGain = CFixedPoint(c.gain);
  CBlackLevelConfiguration* block = service_->blackLevel;
  block->Enable().value = c.enable;
  block->ControlEnable().value = c.controlEnable;
  block->Enable().changed = 1;
  ASSERT_EQ(PVL_OK, block->Configure(&settings_, c.chain));
  VfeBlackLevelCmd expected{c.enableByte, 0, {c.level, c.level, c.level, c.level}};
  EXPECT_EQ(Bytes(expected), Bytes(block->GetPayload()));
  EXPECT_FALSE(block->HasTuningChanged());
}

INSTANTIATE_TEST_SUITE_P(Cases, BlackLevelTest, ::testing::ValuesIn(kBlackLevelCases), CaseName<BlackLevelCase>);

using BlackLevelBlockTest = VfeBlockTest;

TEST_F(BlackLevelBlockTest, ChannelsKeepTheirOwnLevelsInPayloadOrder) {
  Tuning().BlackLevelPreview.NormalLight4Channel = {60, 61, 62, 63};
  ASSERT_EQ(PVL_OK, LoadTuning());
  settings_.exposureGain = CFixedPoint(1.0);
  ASSERT_EQ(PVL_OK, service_->blackLevel->Configure(&settings_, VfeChain::Video));
  VfeBlackLevelCmd expected{1, 0, {60, 61, 62, 63}};
  EXPECT_EQ(Bytes(expected), Bytes(service_->blackLevel->GetPayload()));
}

TEST_F(BlackLevelBlockTest, SnapshotReadsTheSnapshotTablesAndTrigger) {
  Tuning().BlackLevelControl = 0;
  Tuning().BlackLevelPreviewLowLightTrigger = {2.0f, 4.0f, 100, 300};
  Tuning().BlackLevelSnapshotLowLightTrigger = {2.0f, 4.0f, 400, 600};
  Tuning().BlackLevelPreview.NormalLight4Channel = {64, 64, 64, 64};
  Tuning().BlackLevelSnapshot.NormalLight4Channel = {80, 80, 80, 80};
  Tuning().BlackLevelSnapshot.MaxIncrease = 16;
  ASSERT_EQ(PVL_OK, LoadTuning());
  settings_.aecIndex = 500;
  ASSERT_EQ(PVL_OK, service_->blackLevel->Configure(&settings_, VfeChain::Snapshot));
  VfeBlackLevelCmd expected{1, 0, {72, 72, 72, 72}};
  EXPECT_EQ(Bytes(expected), Bytes(service_->blackLevel->GetPayload()));
}

TEST_F(BlackLevelBlockTest, SwitchedOffReadsNoTuning) {
  UnloadTuning();
  service_->blackLevel->Enable().value = 0;
  EXPECT_EQ(PVL_OK, service_->blackLevel->Configure(&settings_, VfeChain::Video));
  EXPECT_EQ(0, service_->blackLevel->GetPayload().enable);
}

TEST_F(BlackLevelBlockTest, AFailedReadEndsWithItsCodeAndKeepsTheMarkers) {
  UnloadTuning();
  service_->blackLevel->ControlEnable().changed = 1;
  EXPECT_EQ(PVL_E_NOTREADY, service_->blackLevel->Configure(&settings_, VfeChain::Video));
  EXPECT_TRUE(service_->blackLevel->HasTuningChanged());
  ASSERT_EQ(PVL_OK, LoadTuning());
  settings_.fail["GetExposureGain"] = 29;
  EXPECT_EQ(29, service_->blackLevel->Configure(&settings_, VfeChain::Video));
}

TEST_F(BlackLevelBlockTest, UpdateSendsCommand27WithThePayload) {
  ASSERT_EQ(PVL_OK, service_->blackLevel->Configure(&settings_, VfeChain::Runtime));
  ASSERT_EQ(PVL_OK, service_->blackLevel->SendUpdate());
  ASSERT_EQ(1u, service_->sent.size());
  EXPECT_EQ(VFE_CMD_BLACK_LEVEL_UPDATE, service_->sent[0].command);
  EXPECT_EQ(Bytes(service_->blackLevel->GetPayload()), service_->sent[0].payload);
  ASSERT_EQ(PVL_OK, static_cast<IVfeConfiguration*>(service_->blackLevel)->Apply());
  EXPECT_EQ(VFE_CMD_BLACK_LEVEL, service_->sent[1].command);
  EXPECT_EQ(10u, service_->sent[1].payload.size());
}

TEST_F(BlackLevelBlockTest, TheShippedTuningTakesTheSensorsBlackOf64) {
  ASSERT_EQ(PVL_OK, service_->blackLevel->Configure(&settings_, VfeChain::Video));
  VfeBlackLevelCmd expected{1, 0, {64, 64, 64, 64}};
  EXPECT_EQ(Bytes(expected), Bytes(service_->blackLevel->GetPayload()));
}

}  // namespace
}  // namespace vfeconfigtest
