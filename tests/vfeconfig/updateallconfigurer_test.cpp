// Update-all while video runs: what the first run sends, what a second run
// with nothing changed sends, which change brings back which blocks, and that
// a refused latch makes the next run repeat everything.
#include <gtest/gtest.h>

#include <algorithm>

#include "cupdateallconfigurer.h"
#include "vfeconfigfixture.h"
#include "vfeconfigurerids.h"

namespace vfeconfigtest {
namespace {

const std::vector<int32_t> kGeometry = {VFE_CMD_FOV_CROP_UPDATE, VFE_CMD_MAIN_SCALER_UPDATE,
                                        VFE_CMD_OUTPUT_Y_SCALER_UPDATE, VFE_CMD_OUTPUT_CBCR_SCALER_UPDATE};

std::vector<int32_t> With(std::initializer_list<int32_t> blocks) {
  std::vector<int32_t> all = kGeometry;
  all.insert(all.end(), blocks.begin(), blocks.end());
  all.push_back(VFE_CMD_UPDATE);
  return all;
}

const std::vector<int32_t> kUnchanged =
    With({VFE_CMD_WHITE_BALANCE_UPDATE, VFE_CMD_COLOR_CONV_UPDATE, VFE_CMD_AWBEXT_STATS_UPDATE});

// The camera interface configured for the preview read-out and OUTPUT1 at
// 320 x 240, and nothing applied by an earlier run.
template <class Base>
class UpdateAllFixture : public Base {
 protected:
  void SetUp() override {
    Base::SetUp();
    CUpdateAllConfigurer::ResetLastApplied();
    this->settings_.SetActive(0, 0, 1296, 972);
    this->Output1(320, 240);
    ASSERT_EQ(PVL_OK, this->service_->camif->Configure(&this->settings_));
  }
  void TearDown() override {
    CUpdateAllConfigurer::ResetLastApplied();
    Base::TearDown();
  }
  PvlResult Run() {
    this->service_->sent.clear();
    return Base::RunConfigurer(ZUEUID_CONFIG_UPDATE_ALL);
  }
};
using UpdateAllTest = UpdateAllFixture<VfeBlockTest>;

TEST_F(UpdateAllTest, FirstRunSendsEverythingThenOnlyTheAlwaysSentBlocks) {
  ASSERT_EQ(PVL_OK, Run());
  EXPECT_EQ(With({VFE_CMD_BLACK_LEVEL_UPDATE, VFE_CMD_CHANNEL_GAIN_UPDATE, VFE_CMD_DEMOSAIC_UPDATE1,
                  VFE_CMD_DEMOSAIC_UPDATE2, VFE_CMD_WHITE_BALANCE_UPDATE, VFE_CMD_COLOR_CORR_UPDATE,
                  VFE_CMD_GAMMA_UPDATE, VFE_CMD_COLOR_CONV_UPDATE, VFE_CMD_ASF_UPDATE, VFE_CMD_CHROMA_SUPP_UPDATE,
                  VFE_CMD_AWBEXT_STATS_UPDATE}),
            service_->Commands());
  ASSERT_EQ(PVL_OK, Run());
  EXPECT_EQ(kUnchanged, service_->Commands());
}

struct ChangeCase {
  const char* name;
  void (*change)(VfeSettingsDouble*);
  std::vector<int32_t> commands;
};
using UpdateAllChangeTest = UpdateAllFixture<VfeBlockTableTest<ChangeCase>>;

TEST_P(UpdateAllChangeTest, ResendsTheBlocksTheChangeFeeds) {
  IConfigCommand* configurer = nullptr;
  ASSERT_EQ(PVL_OK, VfeConfigurer_Create(service_, ZUEUID_CONFIG_UPDATE_ALL, &configurer));
  ASSERT_EQ(PVL_OK, configurer->Configure());
  GetParam().change(&settings_);
  service_->sent.clear();
  ASSERT_EQ(PVL_OK, configurer->Configure());
  configurer->Release();
  EXPECT_EQ(GetParam().commands, service_->Commands());
}

INSTANTIATE_TEST_SUITE_P(
    Changes, UpdateAllChangeTest,
    ::testing::Values(
        ChangeCase{"Brightness", [](VfeSettingsDouble* s) { s->brightness.Value = 7; },
                   With({VFE_CMD_WHITE_BALANCE_UPDATE, VFE_CMD_GAMMA_UPDATE, VFE_CMD_COLOR_CONV_UPDATE,
                         VFE_CMD_AWBEXT_STATS_UPDATE})},
        ChangeCase{"AecIndex", [](VfeSettingsDouble* s) { s->aecIndex = 250; },
                   With({VFE_CMD_BLACK_LEVEL_UPDATE, VFE_CMD_DEMOSAIC_UPDATE1, VFE_CMD_DEMOSAIC_UPDATE2,
                         VFE_CMD_WHITE_BALANCE_UPDATE, VFE_CMD_COLOR_CORR_UPDATE, VFE_CMD_GAMMA_UPDATE,
                         VFE_CMD_COLOR_CONV_UPDATE, VFE_CMD_ASF_UPDATE, VFE_CMD_CHROMA_SUPP_UPDATE,
                         VFE_CMD_AWBEXT_STATS_UPDATE})},
        ChangeCase{"DigitalGain", [](VfeSettingsDouble* s) { s->digitalGain = CFixedPoint(1.5); },
                   With({VFE_CMD_CHANNEL_GAIN_UPDATE, VFE_CMD_WHITE_BALANCE_UPDATE, VFE_CMD_COLOR_CONV_UPDATE,
                         VFE_CMD_AWBEXT_STATS_UPDATE})},
        ChangeCase{"AfWindow", [](VfeSettingsDouble* s) { s->afWholeFrame = 0; },
                   With({VFE_CMD_WHITE_BALANCE_UPDATE, VFE_CMD_COLOR_CONV_UPDATE, VFE_CMD_AWBEXT_STATS_UPDATE,
                         VFE_CMD_AF_STATS_UPDATE})},
        ChangeCase{"Nothing", [](VfeSettingsDouble*) {}, kUnchanged}),
    CaseName<ChangeCase>);

// A switch the tuning tool wrote with its changed marker brings its block
// back although no setting changed; the run clears the marker again.
struct SwitchCase {
  const char* name;
  CTuningFlag& (*flag)(VfeServiceDouble*);
  int32_t update;
};

using UpdateAllSwitchTest = UpdateAllFixture<VfeBlockTableTest<SwitchCase>>;

TEST_P(UpdateAllSwitchTest, AChangedSwitchResendsItsBlockOnce) {
  IConfigCommand* configurer = nullptr;
  ASSERT_EQ(PVL_OK, VfeConfigurer_Create(service_, ZUEUID_CONFIG_UPDATE_ALL, &configurer));
  ASSERT_EQ(PVL_OK, configurer->Configure());
  GetParam().flag(service_).changed = 1;
  service_->sent.clear();
  ASSERT_EQ(PVL_OK, configurer->Configure());
  std::vector<int32_t> commands = service_->Commands();
  EXPECT_NE(commands.end(), std::find(commands.begin(), commands.end(), GetParam().update));
  service_->sent.clear();
  ASSERT_EQ(PVL_OK, configurer->Configure());
  configurer->Release();
  EXPECT_EQ(kUnchanged, service_->Commands());
}

INSTANTIATE_TEST_SUITE_P(
    Switches, UpdateAllSwitchTest,
    ::testing::Values(
        SwitchCase{"BlackLevel", [](VfeServiceDouble* s) -> CTuningFlag& { return s->blackLevel->Enable(); },
                   VFE_CMD_BLACK_LEVEL_UPDATE},
        SwitchCase{"ChannelGain",
                   [](VfeServiceDouble* s) -> CTuningFlag& { return s->channelGain->ControlEnable(); },
                   VFE_CMD_CHANNEL_GAIN_UPDATE},
        SwitchCase{"ColorCorr", [](VfeServiceDouble* s) -> CTuningFlag& { return s->colorCorr->ControlEnable(); },
                   VFE_CMD_COLOR_CORR_UPDATE},
        SwitchCase{"Gamma", [](VfeServiceDouble* s) -> CTuningFlag& { return s->gamma->Enable(); },
                   VFE_CMD_GAMMA_UPDATE},
        SwitchCase{"ChromaSupp", [](VfeServiceDouble* s) -> CTuningFlag& { return s->chromaSupp->Enable(); },
                   VFE_CMD_CHROMA_SUPP_UPDATE}),
    CaseName<SwitchCase>);

// The updates carry what the blocks computed, not stand-in payloads.
TEST_F(UpdateAllTest, TheUpdatesCarryTheComputedPayloads) {
  settings_.wbRed = CFixedPoint(2.0);
  ASSERT_EQ(PVL_OK, Run());
  for (const SentCommand& c : service_->sent) {
    if (c.command == VFE_CMD_WHITE_BALANCE_UPDATE) {
      EXPECT_EQ(Bytes(VfeWhiteBalanceCmd{1, 0, 256, 128, 128}), c.payload);
    }
    if (c.command == VFE_CMD_BLACK_LEVEL_UPDATE) {
      EXPECT_EQ(Bytes(VfeBlackLevelCmd{1, 0, {64, 64, 64, 64}}), c.payload);
    }
  }
}

TEST_F(UpdateAllTest, ARefusedLatchMakesTheNextRunRepeatEveryUpdate) {
  service_->answers[VFE_CMD_UPDATE] = PVL_E_FAIL;
  EXPECT_EQ(PVL_E_FAIL, Run());
  const std::vector<int32_t> first = service_->Commands();
  service_->answers.erase(VFE_CMD_UPDATE);
  ASSERT_EQ(PVL_OK, Run());
  EXPECT_EQ(first, service_->Commands());
}

TEST_F(UpdateAllTest, AnOptionalBlockFailureDoesNotChangeTheResult) {
  service_->answers[VFE_CMD_BLACK_LEVEL_UPDATE] = PVL_E_BADARG;
  EXPECT_EQ(PVL_OK, Run());
}

TEST_F(UpdateAllTest, AFailingReadSendsNothing) {
  settings_.fail["GetWhiteBalanceGains"] = PVL_E_NOTREADY;
  EXPECT_EQ(PVL_E_NOTREADY, Run());
  EXPECT_TRUE(service_->sent.empty());
}

// Outside video the driver refuses the crop update: the run ends there.
TEST_F(UpdateAllTest, ARefusedCropUpdateEndsTheRun) {
  service_->answers[VFE_CMD_FOV_CROP_UPDATE] = PVL_E_FAIL;
  EXPECT_EQ(PVL_E_FAIL, Run());
  EXPECT_EQ(std::vector<int32_t>{VFE_CMD_FOV_CROP_UPDATE}, service_->Commands());
}

// A tuning write that marks a block changed (257 through the "VFE" table)
// brings that block back on the next run, and only once.
struct TuningWriteCase {
  const char* name;
  CTuningFlag& (*flag)(VfeServiceDouble*);
  std::vector<int32_t> commands;
};
class UpdateAllTuningWriteTest : public ::testing::TestWithParam<TuningWriteCase>, public VfeBlockFixture {
 protected:
  void SetUp() override {
    SetUpBlocks();
    CUpdateAllConfigurer::ResetLastApplied();
    settings_.SetActive(0, 0, 1296, 972);
    Output1(320, 240);
    ASSERT_EQ(PVL_OK, service_->camif->Configure(&settings_));
  }
  void TearDown() override {
    CUpdateAllConfigurer::ResetLastApplied();
    TearDownBlocks();
  }
};

TEST_P(UpdateAllTuningWriteTest, ResendsTheWrittenBlockOnce) {
  IConfigCommand* configurer = nullptr;
  ASSERT_EQ(PVL_OK, VfeConfigurer_Create(service_, ZUEUID_CONFIG_UPDATE_ALL, &configurer));
  ASSERT_EQ(PVL_OK, configurer->Configure());
  GetParam().flag(service_) = CTuningFlag(1);
  GetParam().flag(service_).changed = 1;
  service_->sent.clear();
  ASSERT_EQ(PVL_OK, configurer->Configure());
  EXPECT_EQ(GetParam().commands, service_->Commands());
  service_->sent.clear();
  ASSERT_EQ(PVL_OK, configurer->Configure());
  configurer->Release();
  EXPECT_EQ(kUnchanged, service_->Commands());
}

INSTANTIATE_TEST_SUITE_P(
    Writes, UpdateAllTuningWriteTest,
    ::testing::Values(
        TuningWriteCase{"DemosaicEnable", [](VfeServiceDouble* s) -> CTuningFlag& { return s->demosaic->Enable(); },
                        With({VFE_CMD_DEMOSAIC_UPDATE1, VFE_CMD_DEMOSAIC_UPDATE2, VFE_CMD_WHITE_BALANCE_UPDATE,
                              VFE_CMD_COLOR_CONV_UPDATE, VFE_CMD_AWBEXT_STATS_UPDATE})},
        TuningWriteCase{"AsfControlEnable",
                        [](VfeServiceDouble* s) -> CTuningFlag& { return s->asf->ControlEnable(); },
                        With({VFE_CMD_WHITE_BALANCE_UPDATE, VFE_CMD_COLOR_CONV_UPDATE, VFE_CMD_ASF_UPDATE,
                              VFE_CMD_AWBEXT_STATS_UPDATE})},
        TuningWriteCase{"AfEnable", [](VfeServiceDouble* s) -> CTuningFlag& { return s->afStats->Enable(); },
                        With({VFE_CMD_WHITE_BALANCE_UPDATE, VFE_CMD_COLOR_CONV_UPDATE, VFE_CMD_AWBEXT_STATS_UPDATE,
                              VFE_CMD_AF_STATS_UPDATE})}),
    CaseName<TuningWriteCase>);

TEST_F(UpdateAllTest, ARefusedFilterHalfDropsTheBadPixelHalfButNotTheRun) {
  service_->answers[VFE_CMD_DEMOSAIC_UPDATE1] = PVL_E_NOTREADY;
  EXPECT_EQ(PVL_OK, Run());
  const std::vector<int32_t> sent = service_->Commands();
  EXPECT_EQ(1, std::count(sent.begin(), sent.end(), VFE_CMD_DEMOSAIC_UPDATE1));
  EXPECT_EQ(0, std::count(sent.begin(), sent.end(), VFE_CMD_DEMOSAIC_UPDATE2));
  EXPECT_EQ(VFE_CMD_UPDATE, sent.back());
}

}  // namespace
}  // namespace vfeconfigtest
