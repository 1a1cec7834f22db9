// Still captures: the processed chain with its capture count and frame-drop
// pattern, and the raw chain the still identifier picks when the raw output
// is enabled.
#include <gtest/gtest.h>

#include "vfeconfigfixture.h"
#include "vfeconfigurerids.h"

namespace vfeconfigtest {
namespace {

const std::vector<int32_t> kStillGeometry = {
    VFE_CMD_RESET,        VFE_CMD_CAMIF,   VFE_CMD_FOV_CROP, VFE_CMD_MAIN_SCALER, VFE_CMD_OUTPUT_Y_SCALER,
    VFE_CMD_OUTPUT_CBCR_SCALER, VFE_CMD_BLOCK20, VFE_CMD_FRAME_DROP, VFE_CMD_BLOCK22, VFE_CMD_OUTPUT};
const std::vector<int32_t> kStillBayer = {
    VFE_CMD_BLACK_LEVEL, VFE_CMD_ROLLOFF,  VFE_CMD_CHANNEL_GAIN, VFE_CMD_DEMOSAIC, VFE_CMD_WHITE_BALANCE,
    VFE_CMD_COLOR_CORR,  VFE_CMD_LUMA_ADAPTATION, VFE_CMD_GAMMA, VFE_CMD_COLOR_CONV, VFE_CMD_ASF,
    VFE_CMD_CHROMA_SUPP, VFE_CMD_AWBEXT_STATS, VFE_CMD_AF_STATS, VFE_CMD_WB_EXP_STATS};

class SnapshotFixture : public VfeBlockFixture {
 protected:
  void Prepare() {
    settings_.SetActive(0, 0, 2592, 1944);
    Output1(2592 - 12, 1944 - 6);
  }
  // Makes the still configurer, sets the count when asked (0: not set), runs it.
  PvlResult RunStill(int32_t count) {
    IConfigCommand* configurer = nullptr;
    PvlResult r = VfeConfigurer_Create(service_, ZUEUID_CONFIG_SNAPSHOT, &configurer);
    if (r != PVL_OK) return r;
    if (count != 0) {
      ISnapshotConfigCommand* still = nullptr;
      r = configurer->QueryInterface(ZUEUID_IFACE_SNAPSHOT_CONFIG_COMMAND, reinterpret_cast<void**>(&still));
      if (r == PVL_OK) {
        r = still->SetCaptureCount(count);
        still->Release();
      }
    }
    if (r == PVL_OK) r = configurer->Configure();
    configurer->Release();
    return r;
  }
};

class SnapshotConfigurerTest : public ::testing::Test, public SnapshotFixture {
 protected:
  void SetUp() override {
    SetUpBlocks();
    Prepare();
  }
  void TearDown() override { TearDownBlocks(); }
};

TEST_F(SnapshotConfigurerTest, TakesAFullResolutionStill) {
  ASSERT_EQ(PVL_OK, RunStill(1));
  std::vector<int32_t> all = kStillGeometry;
  all.insert(all.end(), kStillBayer.begin(), kStillBayer.end());
  EXPECT_EQ(all, service_->Commands());
  EXPECT_EQ(0u, service_->out1.currentMode) << "OUTPUT1 switched to its still mode";
  VfeOperationMode expected{};
  expected.snapshot = 1;
  expected.snapshotFrames = 1;
  expected.pixelOrder = 1;
  EXPECT_EQ(Bytes(expected), Bytes(service_->operationMode));
  // The whole active area reaches OUTPUT1 unscaled.
  EXPECT_EQ(0, service_->mainScaler->GetPayload().enable);
  EXPECT_EQ(2580u, service_->crop->GetWindowWidth());
  EXPECT_EQ(1938u, service_->crop->GetWindowHeight());
}

TEST_F(SnapshotConfigurerTest, WithoutACaptureCountNothingIsSent) {
  EXPECT_EQ(PVL_E_NOTREADY, RunStill(0));
  EXPECT_TRUE(service_->sent.empty());
}

TEST_F(SnapshotConfigurerTest, CaptureCountIsCheckedAndLimitedTo255) {
  IConfigCommand* configurer = nullptr;
  ASSERT_EQ(PVL_OK, VfeConfigurer_Create(service_, ZUEUID_CONFIG_SNAPSHOT, &configurer));
  ISnapshotConfigCommand* still = nullptr;
  ASSERT_EQ(PVL_OK, configurer->QueryInterface(ZUEUID_IFACE_SNAPSHOT_CONFIG_COMMAND, reinterpret_cast<void**>(&still)));
  EXPECT_EQ(PVL_E_BADARG, still->SetCaptureCount(0));
  EXPECT_EQ(PVL_E_BADARG, still->SetCaptureCount(-3));
  EXPECT_EQ(PVL_E_BADARG, still->GetCaptureCount(nullptr));
  uint32_t count = 9;
  ASSERT_EQ(PVL_OK, still->GetCaptureCount(&count));
  EXPECT_EQ(0u, count);
  ASSERT_EQ(PVL_OK, still->SetCaptureCount(300));
  service_->out1.pool = 400;
  ASSERT_EQ(PVL_OK, still->Configure());
  EXPECT_EQ(255, service_->operationMode.snapshotFrames);
  still->Release();
  configurer->Release();
}

TEST_F(SnapshotConfigurerTest, TooManySettlingFramesEndTheChainAtTheFrameDrop) {
  settings_.settleFrames = 32;
  EXPECT_EQ(PVL_E_BADARG, RunStill(1));
  EXPECT_EQ(std::vector<int32_t>(kStillGeometry.begin(), kStillGeometry.begin() + 7), service_->Commands());
}

struct BurstCase {
  const char* name;
  int32_t count;
  uint32_t settle;
  uint32_t pattern;
};
class SnapshotBurstTest : public ::testing::TestWithParam<BurstCase>, public SnapshotFixture {
 protected:
  void SetUp() override {
    SetUpBlocks();
    Prepare();
  }
  void TearDown() override { TearDownBlocks(); }
};

TEST_P(SnapshotBurstTest, DropsSettlingFramesAndThinsLongBursts) {
  const BurstCase& c = GetParam();
  settings_.settleFrames = c.settle;
  service_->out1.pool = 64;
  ASSERT_EQ(PVL_OK, RunStill(c.count));
  const VfeFrameDropCmd& p = service_->frameDrop->GetPayload();
  EXPECT_EQ(c.pattern, p.output1Pattern);
  EXPECT_EQ(c.pattern, p.output2Pattern);
  EXPECT_EQ(31, p.output1Period);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, SnapshotBurstTest,
    ::testing::Values(BurstCase{"Single", 1, 1, 0xFFFFFFFE}, BurstCase{"ThreeNotThinned", 3, 1, 0xFFFFFFFE},
                      // Frames 1, 5, 9, 13 and everything from 17 on.
                      BurstCase{"FourKeepsOneInFour", 4, 1, 0xFFFE2222},
                      BurstCase{"NoSettling", 1, 0, 0xFFFFFFFF},
                      // The thinning stops at bit 31.
                      BurstCase{"LongBurstStopsAtBit31", 20, 2, 0x44444444}),
    CaseName<BurstCase>);

TEST_F(SnapshotConfigurerTest, RawOutputEnabledPicksTheRawChain) {
  service_->out1.enabled = false;
  service_->raw.enabled = true;
  service_->raw.size = {2592, 1944};
  settings_.timing.Words[0] = 1000;  // a short wait
  ASSERT_EQ(PVL_OK, RunStill(0)) << "no capture count on the raw chain";
  EXPECT_EQ(std::vector<int32_t>({VFE_CMD_RESET, VFE_CMD_FRAME_DROP, VFE_CMD_CAMIF, VFE_CMD_OUTPUT}),
            service_->Commands());
  EXPECT_EQ(0u, service_->raw.currentMode);
  EXPECT_EQ(3u, service_->output->GetPayload().outputMode);
  VfeOperationMode expected{};
  expected.snapshot = 1;
  expected.snapshotFrames = 1;
  expected.pixelOrder = 1;
  EXPECT_EQ(Bytes(expected), Bytes(service_->operationMode));
}

TEST_F(SnapshotConfigurerTest, OnlyTheProcessedStillAnswersTheCountFace) {
  void* out = nullptr;
  IConfigCommand* raw = nullptr;
  ASSERT_EQ(PVL_OK, VfeConfigurer_Create(service_, ZUEUID_CONFIG_RAW_SNAPSHOT, &raw));
  EXPECT_EQ(PVL_E_NOTSUPPORTED, raw->QueryInterface(ZUEUID_IFACE_SNAPSHOT_CONFIG_COMMAND, &out));
  EXPECT_EQ(PVL_OK, raw->QueryInterface(ZUEUID_IFACE_CONFIG_COMMAND, &out));
  raw->Release();
  EXPECT_EQ(0, raw->Release());
}

}  // namespace
}  // namespace vfeconfigtest
