// Chroma suppression: thresholds from the normal or low-light table or their
// blend, widths rounded to powers of two from 8-bit differences; switches.
#include <gtest/gtest.h>

#include <array>

#include "vfeconfigfixture.h"

namespace vfeconfigtest {
namespace {

struct PowerCase {
  const char* name;
  uint8_t x, expected;
};

const PowerCase kPowerCases[] = {
    {"Zero", 0, 0},     {"One", 1, 1},          {"Three", 3, 4},         {"Five", 5, 4},
    {"Six", 6, 8},      {"Eleven", 11, 8},      {"Twelve", 12, 16},      {"Sixteen", 16, 16},
    {"Top181", 181, 128}, {"From182Wraps", 182, 0}, {"Max255Wraps", 255, 0},
};

class RoundToPowerOfTwoTest : public ::testing::TestWithParam<PowerCase> {};

TEST_P(RoundToPowerOfTwoTest, Rounds) {
  EXPECT_EQ(GetParam().expected, CChromaSuppConfiguration::RoundToPowerOfTwo(GetParam().x));
}

INSTANTIATE_TEST_SUITE_P(Cases, RoundToPowerOfTwoTest, ::testing::ValuesIn(kPowerCases), CaseName<PowerCase>);

struct ChromaSuppCase {
  const char* name;
  uint8_t enable, controlEnable;
  TuningChromaSupp normal, low;
  uint32_t lux;  // trigger over lux index 100..300
  VfeChain chain;
  std::array<uint8_t, 7> expected;  // enable, m1, m3, n1, n3, nn1, mm1
};

const ChromaSuppCase kChromaSuppCases[] = {
    {"NormalLight", 1, 1, {10, 26, 230, 246, 12, 20}, {24, 40, 220, 236, 16, 32}, 100, VfeChain::Video,
     {1, 10, 230, 16, 16, 8, 12}},
    {"LowLight", 1, 1, {10, 26, 230, 246, 12, 20}, {24, 40, 220, 236, 16, 32}, 300, VfeChain::Video,
     {1, 24, 220, 16, 16, 16, 16}},
    {"HalfwayBlendsAndTruncates", 1, 1, {10, 26, 230, 246, 12, 20}, {25, 40, 220, 236, 17, 32}, 200,
     VfeChain::Runtime, {1, 17, 225, 16, 16, 16, 14}},
    {"DifferenceWrapsModulo256", 1, 1, {10, 5, 230, 246, 12, 20}, {10, 5, 230, 246, 12, 20}, 100, VfeChain::Video,
     {1, 10, 230, 0, 16, 8, 12}},
    {"SwitchedOffKeepsTheResetValues", 0, 1, {1, 2, 3, 4, 5, 6}, {1, 2, 3, 4, 5, 6}, 100, VfeChain::Video,
     {0, 10, 230, 16, 16, 8, 12}},
    {"ControlOffKeepsTheResetValues", 1, 0, {1, 2, 3, 4, 5, 6}, {1, 2, 3, 4, 5, 6}, 100, VfeChain::Video,
     {1, 10, 230, 16, 16, 8, 12}},
};

class ChromaSuppTest : public VfeBlockTableTest<ChromaSuppCase> {};

TEST_P(ChromaSuppTest, ComputesThePayload) {
  const ChromaSuppCase& c = GetParam();
  TuningParameterBlock& t = Tuning();
  t.ChromaSuppControl = 0;
  t.ChromaSuppPreviewLowLightTrigger = {2.0f, 4.0f, 100, 300};
  t.ChromaSuppPreviewNormalLight = c.normal;
  t.ChromaSuppPreviewLowLight = c.low;
  ASSERT_EQ(PVL_OK, LoadTuning());
  settings_.aecIndex = c.lux;
  CChromaSuppConfiguration* block = service_->chromaSupp;
  block->Enable().value = c.enable;
  block->ControlEnable().value = c.controlEnable;
  ASSERT_EQ(PVL_OK, block->Configure(&settings_, c.chain));
  const std::vector<uint8_t> expected(c.expected.begin(), c.expected.end());
  EXPECT_EQ(expected, Bytes(block->GetPayload()));
}

INSTANTIATE_TEST_SUITE_P(Cases, ChromaSuppTest, ::testing::ValuesIn(kChromaSuppCases), CaseName<ChromaSuppCase>);

using ChromaSuppBlockTest = VfeBlockTest;

TEST_F(ChromaSuppBlockTest, SnapshotReadsItsOwnTablesAndTrigger) {
  TuningParameterBlock& t = Tuning();
  t.ChromaSuppControl = 1;
  t.ChromaSuppPreviewLowLightTrigger = {2.0f, 4.0f, 100, 300};
  t.ChromaSuppSnapshotLowLightTrigger = {8.0f, 16.0f, 100, 300};
  t.ChromaSuppSnapshotNormalLight = {20, 52, 200, 216, 30, 31};
  t.ChromaSuppSnapshotLowLight = {0, 0, 0, 0, 0, 0};
  ASSERT_EQ(PVL_OK, LoadTuning());
  settings_.exposureGain = CFixedPoint(6.0);  // low light for the preview trigger, not for the still's
  ASSERT_EQ(PVL_OK, service_->chromaSupp->Configure(&settings_, VfeChain::Snapshot));
  const std::vector<uint8_t> expected = {1, 20, 200, 32, 16, 1, 30};
  EXPECT_EQ(expected, Bytes(service_->chromaSupp->GetPayload()));
}

TEST_F(ChromaSuppBlockTest, AFailureKeepsTheResetValuesAndMarkers) {
  UnloadTuning();
  service_->chromaSupp->Enable().changed = 1;
  EXPECT_EQ(PVL_E_NOTREADY, service_->chromaSupp->Configure(&settings_, VfeChain::Video));
  const std::vector<uint8_t> reset = {1, 10, 230, 16, 16, 8, 12};
  EXPECT_EQ(reset, Bytes(service_->chromaSupp->GetPayload()));
  EXPECT_TRUE(service_->chromaSupp->HasTuningChanged());
}

TEST_F(ChromaSuppBlockTest, UpdateSendsCommand37WithSevenBytes) {
  ASSERT_EQ(PVL_OK, service_->chromaSupp->Configure(&settings_, VfeChain::Runtime));
  ASSERT_EQ(PVL_OK, service_->chromaSupp->SendUpdate());
  ASSERT_EQ(1u, service_->sent.size());
  EXPECT_EQ(VFE_CMD_CHROMA_SUPP_UPDATE, service_->sent[0].command);
  EXPECT_EQ(7u, service_->sent[0].payload.size());
}

}  // namespace
}  // namespace vfeconfigtest
