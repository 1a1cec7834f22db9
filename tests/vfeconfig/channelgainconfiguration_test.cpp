// Channel gain: tuning gains times the global gain and the digital gain,
// capped below 7.99 with the excess left for the colour correction; the
// snapshot's white-balance gains and its 3.99 digital-gain scaling.
#include <gtest/gtest.h>

#include "vfeconfigfixture.h"

namespace vfeconfigtest {
namespace {

struct ChannelGainCase {
  const char* name;
  TuningChannelGains tuned;  // green even, green odd, red, blue
  float global;
  double digital;
  double wbRed, wbGreen, wbBlue;
  VfeChain chain;
  uint16_t expected[4];  // payload order: green even, green odd, blue, red
  float residual;
  float limit;
};

const ChannelGainCase kChannelGainCases[] = {
    {"UnityEverywhere", {1.0f, 1.0f, 1.0f, 1.0f}, 1.0f, 1.0, 1, 1, 1, VfeChain::Video, {128, 128, 128, 128}, 0.0f, 6.0f},
    {"TuningOrderBecomesPayloadOrder", {1.0f, 1.25f, 1.5f, 2.0f}, 1.0f, 1.0, 1, 1, 1, VfeChain::Video,
     {128, 160, 256, 192}, 0.0f, 6.0f},
    {"GlobalGainScalesAll", {1.0f, 1.0f, 1.5f, 2.0f}, 1.5f, 1.0, 1, 1, 1, VfeChain::Video, {192, 192, 384, 288},
     0.0f, 6.0f},
    {"DigitalGainWithinHeadroom", {1.0f, 1.0f, 1.5f, 2.0f}, 1.0f, 2.0, 1, 1, 1, VfeChain::Video,
     {256, 256, 512, 384}, 0.0f, 6.0f},
    // M = 2.0, headroom 3.995: the gains stop there and 8.0 / 3.995 is left over.
    {"DigitalGainBeyondHeadroomLeavesAResidual", {1.0f, 1.0f, 1.5f, 2.0f}, 1.0f, 8.0, 1, 1, 1, VfeChain::Video,
     {511, 511, 1023, 767}, 8.0f / 3.995f, 6.0f},
    {"RuntimeLikeVideo", {1.0f, 1.0f, 1.5f, 2.0f}, 1.0f, 8.0, 1, 1, 1, VfeChain::Runtime, {511, 511, 1023, 767},
     8.0f / 3.995f, 6.0f},
    // The still folds in white balance; a digital gain up to 3.99 is the sensor's.
    {"SnapshotFoldsInWhiteBalance", {1.0f, 1.0f, 1.0f, 1.0f}, 1.0f, 3.0, 1.5, 1.0, 2.0, VfeChain::Snapshot,
     {128, 128, 256, 192}, 0.0f, 16.0f},
    {"SnapshotScalesDigitalGainAbove399", {1.0f, 1.0f, 1.0f, 1.0f}, 1.0f, 7.98, 1, 1, 1, VfeChain::Snapshot,
     {256, 256, 256, 256}, 0.0f, 16.0f},
};

class ChannelGainTest : public VfeBlockTableTest<ChannelGainCase> {};

TEST_P(ChannelGainTest, ComputesQ7Gains) {
  const ChannelGainCase& c = GetParam();
  Tuning().AWBChannelGain = c.tuned;
  Tuning().AWBExtCCGlobalGain = c.global;
  ASSERT_EQ(PVL_OK, LoadTuning());
  settings_.digitalGain = CFixedPoint(c.digital);
  settings_.wbRed = CFixedPoint(c.wbRed);
  settings_.wbGreen = CFixedPoint(c.wbGreen);
  settings_.wbBlue = CFixedPoint(c.wbBlue);
  CChannelGainConfiguration* block = service_->channelGain;
  ASSERT_EQ(PVL_OK, block->Configure(&settings_, c.chain));
  VfeChannelGainCmd expected{{c.expected[0], c.expected[1], c.expected[2], c.expected[3]}};
  EXPECT_EQ(Bytes(expected), Bytes(block->GetPayload()));
  EXPECT_FLOAT_EQ(c.residual, block->GetDigitalGain());
  EXPECT_FLOAT_EQ(c.limit, block->GetGainLimit());
}

INSTANTIATE_TEST_SUITE_P(Cases, ChannelGainTest, ::testing::ValuesIn(kChannelGainCases), CaseName<ChannelGainCase>);

using ChannelGainBlockTest = VfeBlockTest;

TEST_F(ChannelGainBlockTest, ControlOffSendsUnityAndKeepsTheResidual) {
  Tuning().AWBChannelGain = {1.0f, 1.0f, 1.5f, 2.0f};
  ASSERT_EQ(PVL_OK, LoadTuning());
  settings_.digitalGain = CFixedPoint(8.0);
  CChannelGainConfiguration* block = service_->channelGain;
  ASSERT_EQ(PVL_OK, block->Configure(&settings_, VfeChain::Video));
  const float residual = block->GetDigitalGain();
  ASSERT_GT(residual, 0.0f);
  block->ControlEnable().value = 0;
  block->ControlEnable().changed = 1;
  ASSERT_EQ(PVL_OK, block->Configure(&settings_, VfeChain::Video));
  EXPECT_EQ(Bytes(VfeChannelGainCmd{{128, 128, 128, 128}}), Bytes(block->GetPayload()));
  // The colour correction goes on with the excess it had.
  EXPECT_EQ(residual, block->GetDigitalGain());
  EXPECT_FALSE(block->HasTuningChanged());
}

TEST_F(ChannelGainBlockTest, AllZeroGainsAreRefusedAndLeaveUnity) {
  Tuning().AWBChannelGain = {0.0f, 0.0f, 0.0f, 0.0f};
  ASSERT_EQ(PVL_OK, LoadTuning());
  EXPECT_EQ(PVL_E_BADARG, service_->channelGain->Configure(&settings_, VfeChain::Video));
  EXPECT_EQ(Bytes(VfeChannelGainCmd{{128, 128, 128, 128}}), Bytes(service_->channelGain->GetPayload()));
}

TEST_F(ChannelGainBlockTest, FailedReadsEndWithTheirCodes) {
  settings_.fail["GetDigitalGain"] = 29;
  EXPECT_EQ(29, service_->channelGain->Configure(&settings_, VfeChain::Video));
  settings_.fail.clear();
  settings_.fail["GetWhiteBalanceGains"] = 20;
  EXPECT_EQ(20, service_->channelGain->Configure(&settings_, VfeChain::Snapshot));
  EXPECT_EQ(PVL_OK, service_->channelGain->Configure(&settings_, VfeChain::Video)) << "video reads no WB gains";
  UnloadTuning();
  EXPECT_EQ(PVL_E_NOTREADY, service_->channelGain->Configure(&settings_, VfeChain::Video));
}

TEST_F(ChannelGainBlockTest, UpdateSendsCommand28WithThePayload) {
  Tuning().AWBChannelGain = {1.0f, 1.0f, 1.5f, 2.0f};
  ASSERT_EQ(PVL_OK, LoadTuning());
  settings_.digitalGain = CFixedPoint(8.0);
  ASSERT_EQ(PVL_OK, service_->channelGain->Configure(&settings_, VfeChain::Runtime));
  ASSERT_EQ(PVL_OK, service_->channelGain->SendUpdate());
  ASSERT_EQ(1u, service_->sent.size());
  EXPECT_EQ(VFE_CMD_CHANNEL_GAIN_UPDATE, service_->sent[0].command);
  EXPECT_EQ(Bytes(service_->channelGain->GetPayload()), service_->sent[0].payload);
}

}  // namespace
}  // namespace vfeconfigtest
