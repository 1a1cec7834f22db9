// The video chain: its command log for Bayer and YUV sensors, the operation
// mode it records, where it stops on a failure, and the statistics area.
#include <gtest/gtest.h>

#include "vfeconfigfixture.h"
#include "vfeconfigurerids.h"

namespace vfeconfigtest {
namespace {

const std::vector<int32_t> kGeometry = {VFE_CMD_RESET,        VFE_CMD_CAMIF,          VFE_CMD_FOV_CROP,
                                        VFE_CMD_MAIN_SCALER,  VFE_CMD_OUTPUT_Y_SCALER, VFE_CMD_OUTPUT_CBCR_SCALER,
                                        VFE_CMD_FRAME_DROP,   VFE_CMD_BLOCK22,        VFE_CMD_OUTPUT};
const std::vector<int32_t> kBayer = {VFE_CMD_BLACK_LEVEL, VFE_CMD_ROLLOFF,     VFE_CMD_CHANNEL_GAIN,
                                     VFE_CMD_DEMOSAIC,    VFE_CMD_WHITE_BALANCE, VFE_CMD_COLOR_CORR,
                                     VFE_CMD_GAMMA,       VFE_CMD_COLOR_CONV,  VFE_CMD_ASF,
                                     VFE_CMD_CHROMA_SUPP, VFE_CMD_AF_STATS,    VFE_CMD_AWBEXT_STATS,
                                     VFE_CMD_WB_EXP_STATS};

std::vector<int32_t> Concat(std::vector<int32_t> a, const std::vector<int32_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class VideoConfigurerTest : public VfeBlockTest {
 protected:
  void SetUp() override {
    VfeBlockTest::SetUp();
    settings_.SetActive(0, 0, 1296, 972);
    Output1(320, 240);
    service_->out1.frameInterval = 66666;
    service_->operationMode.snapshot = 0xEE;  // what an earlier chain left
  }
  PvlResult RunVideo() {
    IConfigCommand* configurer = nullptr;
    PvlResult r = VfeConfigurer_Create(service_, ZUEUID_CONFIG_VIDEO, &configurer);
    if (r != PVL_OK) return r;
    r = configurer->Configure();
    configurer->Release();
    return r;
  }
  const SentCommand* Find(int32_t command) const {
    for (const SentCommand& c : service_->sent)
      if (c.command == command) return &c;
    return nullptr;
  }
};

TEST_F(VideoConfigurerTest, BayerChainProgramsEveryBlockInOrder) {
  ASSERT_EQ(PVL_OK, RunVideo());
  EXPECT_EQ(Concat(kGeometry, kBayer), service_->Commands());
  EXPECT_EQ(1u, service_->out1.currentMode) << "OUTPUT1 switched to video";
  EXPECT_EQ(99u, service_->out2.currentMode) << "a disabled output is left alone";

  VfeOperationMode expected{};
  expected.pixelOrder = 1;  // kind 3
  EXPECT_EQ(Bytes(expected), Bytes(service_->operationMode));

  // Geometry: the camif window, the crop 1284 x 966, OUTPUT1's half-rate pattern.
  EXPECT_EQ(Bytes(service_->camif->GetPayload()), Find(VFE_CMD_CAMIF)->payload);
  EXPECT_EQ(1284u, service_->crop->GetWindowWidth());
  EXPECT_EQ(0x2AAAAAAAu, service_->frameDrop->GetPayload().output1Pattern);

  // The statistics area, its grid, and AF buffers before WB/exposure buffers.
  EXPECT_EQ(1284u, service_->wbExpOutput.gridWidth);
  EXPECT_EQ(966u, service_->wbExpOutput.gridHeight);
  VfeWbExpStatsCmd stats{};
  stats.areaWidth = 1283;
  stats.areaHeight = 965;
  const uint8_t config[6] = {1, 7, 1, 7, 1, 7};
  std::memcpy(stats.config, config, sizeof config);
  stats.afBuffer[0] = 0x1000;
  stats.afBuffer[1] = 0x2000;
  stats.afBuffer[2] = 0x3000;
  stats.wbExpBuffer[0] = 0x1000;
  stats.wbExpBuffer[1] = 0x2000;
  stats.wbExpBuffer[2] = 0x3000;
  EXPECT_EQ(Bytes(stats), Find(VFE_CMD_WB_EXP_STATS)->payload);
}

TEST_F(VideoConfigurerTest, YuvChainSendsNoBayerBlock) {
  settings_.format.Words[0] = 6;
  settings_.format.Words[1] = 1;
  ASSERT_EQ(PVL_OK, RunVideo());
  EXPECT_EQ(kGeometry, service_->Commands());
  VfeOperationMode expected{};
  expected.pixelOrder = 5;
  expected.yuvFlag = 0;
  EXPECT_EQ(Bytes(expected), Bytes(service_->operationMode));
  settings_.format.Words[1] = 2;
  service_->out1.pool = 4;
  service_->sent.clear();
  ASSERT_EQ(PVL_OK, RunVideo());
  EXPECT_EQ(1u, service_->operationMode.yuvFlag);
}

TEST_F(VideoConfigurerTest, Block20OnlyWhileOutput2Runs) {
  service_->out2.enabled = true;
  service_->out2.size = {640, 480};
  ASSERT_EQ(PVL_OK, RunVideo());
  std::vector<int32_t> geometry = kGeometry;
  geometry.insert(geometry.begin() + 6, VFE_CMD_BLOCK20);
  EXPECT_EQ(Concat(geometry, kBayer), service_->Commands());
  VfeBlock20Cmd block20{1, {0, 1, 1, 0, 0, 0, 0}, {0, 0, 0, 0}};
  EXPECT_EQ(Bytes(block20), Find(VFE_CMD_BLOCK20)->payload);
}

TEST_F(VideoConfigurerTest, NotIdleEndsAfterTheReset) {
  service_->answers[VFE_CMD_RESET] = PVL_E_NOTREADY;
  EXPECT_EQ(PVL_E_NOTREADY, RunVideo());
  EXPECT_EQ(std::vector<int32_t>{VFE_CMD_RESET}, service_->Commands());
  EXPECT_EQ(0xEEu, service_->operationMode.snapshot) << "operation mode not rewritten";
}

TEST_F(VideoConfigurerTest, AFailingBlockEndsTheChainAndKeepsTheOperationMode) {
  service_->answers[VFE_CMD_WHITE_BALANCE] = PVL_E_BADARG;
  EXPECT_EQ(PVL_E_BADARG, RunVideo());
  std::vector<int32_t> upTo = Concat(kGeometry, kBayer);
  upTo.resize(kGeometry.size() + 5);
  EXPECT_EQ(upTo, service_->Commands());
  EXPECT_EQ(0xEEu, service_->operationMode.snapshot);
}

TEST_F(VideoConfigurerTest, AComputationFailureSendsNothingOfThatBlock) {
  service_->out1.size = {2000, 240};  // the main scaler would have to enlarge
  EXPECT_EQ(PVL_E_FAIL, RunVideo());
  EXPECT_EQ(std::vector<int32_t>({VFE_CMD_RESET, VFE_CMD_CAMIF, VFE_CMD_FOV_CROP}), service_->Commands());
}

TEST_F(VideoConfigurerTest, AnUnknownSensorKindSendsTheGeometryAndAnswers1) {
  settings_.format.Words[0] = 9;
  EXPECT_EQ(PVL_E_FAIL, RunVideo());
  EXPECT_EQ(kGeometry, service_->Commands());
}

TEST_F(VideoConfigurerTest, AnEmptyStatisticsPoolFailsTheChain) {
  service_->afOutput.pool = 1;
  EXPECT_EQ(516, RunVideo());
  EXPECT_EQ(Concat(kGeometry, std::vector<int32_t>(kBayer.begin(), kBayer.end() - 1)), service_->Commands());
}

// A reader may still hold one statistics buffer of each kind when the VFE
// restarts: the two it writes into are enough, the spare is owed.
TEST_F(VideoConfigurerTest, AStatisticsBufferStillHeldLeavesTheSpareOwed) {
  service_->afOutput.pool = 2;
  service_->wbExpOutput.pool = 2;
  ASSERT_EQ(PVL_OK, RunVideo());
  EXPECT_EQ(Concat(kGeometry, kBayer), service_->Commands());
  VfeWbExpStatsCmd sent{};
  const std::vector<uint8_t>& payload = Find(VFE_CMD_WB_EXP_STATS)->payload;
  ASSERT_EQ(sizeof sent, payload.size());
  std::memcpy(&sent, payload.data(), sizeof sent);
  EXPECT_EQ(0x1000u, sent.afBuffer[0]);
  EXPECT_EQ(0x2000u, sent.afBuffer[1]);
  EXPECT_EQ(0u, sent.afBuffer[2]);
  EXPECT_EQ(0u, sent.wbExpBuffer[2]);
  EXPECT_EQ(1, service_->afOutput.sparesOwed);
  EXPECT_EQ(1, service_->wbExpOutput.sparesOwed);
}

}  // namespace
}  // namespace vfeconfigtest
