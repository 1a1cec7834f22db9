// AWB-extended statistics: normal- or low-light boundaries by lux index or
// gain (no blend), the luma floor from the AWB algorithm, the region count,
// the switches, failures and the 16-byte update.
#include <gtest/gtest.h>

#include "tunedblockfixture.h"

namespace vfeconfigtest {
namespace {

const std::vector<uint8_t> kDefaults = {0x01, 0x01, 0x01, 0x00, 0xFF, 0x10, 0xF0, 0x10, 0xF0, 0x00,
                                        0x27, 0x00, 0xA5, 0x00, 0x96, 0xFF, 0x01, 0x01, 0x7F, 0x00};

class AwbExtFixture : public TunedBlockFixture {
 public:
  void SetUpAwbExt() {
    tuning_double_.enables[0x80000F00] = 0;
    tuning_double_.triggers[0x80000F02] = {1.0f, 4.0f, 200, 400};  // preview
    tuning_double_.triggers[0x80000F01] = {1.0f, 2.0f, 200, 300};  // still
    tuning_double_.awbStats[0x80300101] = {40, 230, 10, -11, 12, -13, 100, 200, -300, 400};
    tuning_double_.awbStats[0x80300100] = {40, 220, 20, -21, 22, -300, 101, 201, -301, 401};
    settings_.awbLumaFloor = 9;
  }
  CAWBExtStatsConfiguration* Block() { return service_->awbExtStats; }
  std::vector<uint8_t> Payload() { return Bytes(Block()->GetPayload()); }
  BlockTuningDouble& Tuning() { return tuning_double_; }
  VfeSettingsDouble& Settings() { return settings_; }
};

class AwbExtTest : public ::testing::Test, public AwbExtFixture {
 protected:
  void SetUp() override {
    SetUpTuned();
    SetUpAwbExt();
  }
  void TearDown() override { TearDownTuned(); }
};

// Normal light: luma 9..230, slopes 10, -11, 12, -13, offsets 100, 200, -300, 400.
const std::vector<uint8_t> kNormal = {0x01, 0x01, 0x01, 0x09, 0xE6, 0x0A, 0xF5, 0x0C, 0xF3, 0x00,
                                      0x64, 0x00, 0xC8, 0x00, 0xD4, 0xFE, 0x90, 0x01, 0x7F, 0x00};
// Low light: luma 9..220, slopes 20, -21, 22, -300 (low byte 0xD4), offsets 101, 201, -301, 401.
const std::vector<uint8_t> kLowLight = {0x01, 0x01, 0x01, 0x09, 0xDC, 0x14, 0xEB, 0x16, 0xD4, 0x00,
                                        0x65, 0x00, 0xC9, 0x00, 0xD3, 0xFE, 0x91, 0x01, 0x7F, 0x00};

struct AwbExtCase {
  const char* name;
  VfeChain chain;
  uint32_t selector;
  uint32_t lux;
  double gain;
  const std::vector<uint8_t>* expected;
};
class AwbExtLightTest : public ::testing::WithParamInterface<AwbExtCase>, public AwbExtTest {};

TEST_P(AwbExtLightTest, TakesTheBoundariesForItsLight) {
  const AwbExtCase& c = GetParam();
  tuning_double_.enables[0x80000F00] = c.selector;
  settings_.aecIndex = c.lux;
  settings_.exposureGain = CFixedPoint(c.gain);
  ASSERT_EQ(PVL_OK, Block()->Configure(&settings_, c.chain));
  EXPECT_EQ(*c.expected, Payload());
  EXPECT_EQ(256u, service_->wbExpOutput.statsCount);
}

INSTANTIATE_TEST_SUITE_P(
    Light, AwbExtLightTest,
    ::testing::Values(AwbExtCase{"LuxOneBelowTheEndIsNormal", VfeChain::Video, 0, 399, 8.0, &kNormal},
                      AwbExtCase{"LuxAtTheEndIsLowLight", VfeChain::Video, 0, 400, 1.0, &kLowLight},
                      AwbExtCase{"LuxBelowTheStartIsNormalToo", VfeChain::Video, 0, 100, 1.0, &kNormal},
                      AwbExtCase{"GainJustBelowTheEndIsNormal", VfeChain::Video, 1, 999, 3.99, &kNormal},
                      AwbExtCase{"GainAtTheEndIsLowLight", VfeChain::Video, 1, 0, 4.0, &kLowLight},
                      AwbExtCase{"TheUpdateUsesThePreviewTrigger", VfeChain::Runtime, 0, 300, 1.0, &kNormal},
                      AwbExtCase{"AStillUsesItsOwnTrigger", VfeChain::Snapshot, 0, 300, 1.0, &kLowLight}),
    CaseName<AwbExtCase>);

TEST_F(AwbExtTest, TheLumaFloorIsTheAlgorithmsNotTheTuned) {
  settings_.awbLumaFloor = 77;
  ASSERT_EQ(PVL_OK, Block()->Configure(&settings_, VfeChain::Video));
  EXPECT_EQ(77, U8At(&Block()->GetPayload(), 3));
}

TEST_F(AwbExtTest, WithoutControlTheDefaultsGoOutWithTheRegionCount) {
  Block()->ControlEnable() = CTuningFlag(0);
  ASSERT_EQ(PVL_OK, Block()->Configure(&settings_, VfeChain::Video));
  EXPECT_EQ(kDefaults, Payload());
  EXPECT_EQ(256u, service_->wbExpOutput.statsCount);
}

TEST_F(AwbExtTest, OffClearsOnlyTheEnable) {
  Block()->Enable() = CTuningFlag(0);
  ASSERT_EQ(PVL_OK, Block()->Configure(&settings_, VfeChain::Video));
  std::vector<uint8_t> expected = kDefaults;
  expected[0] = 0;
  EXPECT_EQ(expected, Payload());
}

TEST_F(AwbExtTest, AFailingReadLeavesTheDefaultsAndTheMarkers) {
  Block()->Enable().changed = 1;
  settings_.fail["GetAecIndex"] = 20;
  EXPECT_EQ(20, Block()->Configure(&settings_, VfeChain::Video));
  EXPECT_EQ(kDefaults, Payload());
  EXPECT_TRUE(Block()->HasTuningChanged());
  EXPECT_EQ(256u, service_->wbExpOutput.statsCount) << "set before any read";
  settings_.fail.clear();
  tuning_double_.awbStats.clear();
  EXPECT_EQ(PVL_E_BADARG, Block()->Configure(&settings_, VfeChain::Video));
  EXPECT_EQ(kDefaults, Payload());
}

TEST_F(AwbExtTest, TheUpdateLeavesOutTheEnableAndTheConstant) {
  Block()->ControlEnable() = CTuningFlag(0);
  ASSERT_EQ(PVL_OK, Block()->Configure(&settings_, VfeChain::Runtime));
  service_->sent.clear();
  ASSERT_EQ(PVL_OK, Block()->SendUpdate());
  ASSERT_EQ((std::vector<int32_t>{VFE_CMD_AWBEXT_STATS_UPDATE}), service_->Commands());
  EXPECT_EQ((std::vector<uint8_t>{0x01, 0x01, 0x00, 0xFF, 0x10, 0xF0, 0x10, 0xF0, 0x27, 0x00, 0xA5, 0x00, 0x96, 0xFF,
                                  0x01, 0x01}),
            service_->sent[0].payload);
}

}  // namespace
}  // namespace vfeconfigtest
