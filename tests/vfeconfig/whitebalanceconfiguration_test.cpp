// White balance: the AWB gains at Q7 in the order red, blue, green; the
// still's digital gain on all three channels, at most 3.99; the switch.
#include <gtest/gtest.h>

#include "vfeconfigfixture.h"

namespace vfeconfigtest {
namespace {

struct WhiteBalanceCase {
  const char* name;
  VfeChain chain;
  CFixedPoint red, green, blue, digital;
  VfeWhiteBalanceCmd expected;
  bool logged;
};

CFixedPoint Q8(int32_t raw) {
  CFixedPoint f;
  f.SetQ(8);
  f.SetRawValue(raw);
  return f;
}

const WhiteBalanceCase kWhiteBalanceCases[] = {
    {"UnityGains", VfeChain::Video, CFixedPoint(1.0), CFixedPoint(1.0), CFixedPoint(1.0), CFixedPoint(1.0),
     {1, 0, 128, 128, 128}, false},
    // The engine's first gains (Q8 343, 256, 486) round half away to Q7.
    {"InitialAwbGains", VfeChain::Video, Q8(343), Q8(256), Q8(486), CFixedPoint(1.0), {1, 0, 172, 243, 128}, false},
    {"RedBlueGreenOrder", VfeChain::Runtime, CFixedPoint(2.0), CFixedPoint(1.0), CFixedPoint(1.5), CFixedPoint(1.0),
     {1, 0, 256, 192, 128}, false},
    {"SnapshotTakesTheDigitalGain", VfeChain::Snapshot, CFixedPoint(2.0), CFixedPoint(1.0), CFixedPoint(1.5),
     CFixedPoint(2.5), {1, 0, 320, 320, 320}, false},
    {"SnapshotAt399IsNotLimited", VfeChain::Snapshot, CFixedPoint(1.0), CFixedPoint(1.0), CFixedPoint(1.0),
     CFixedPoint(3.99), {1, 0, 511, 511, 511}, false},
    {"SnapshotAbove399IsLimitedAndLogged", VfeChain::Snapshot, CFixedPoint(1.0), CFixedPoint(1.0), CFixedPoint(1.0),
     CFixedPoint(4.5), {1, 0, 511, 511, 511}, true},
};

class WhiteBalanceTest : public VfeBlockTableTest<WhiteBalanceCase> {};

TEST_P(WhiteBalanceTest, ComputesTheGains) {
  const WhiteBalanceCase& c = GetParam();
  settings_.wbRed = c.red;
  settings_.wbGreen = c.green;
  settings_.wbBlue = c.blue;
  settings_.digitalGain = c.digital;
  OrbhostTest_MessageCaptureBegin();
  ASSERT_EQ(PVL_OK, service_->whiteBalance->Configure(&settings_, c.chain));
  bool logged = false;
  for (const OrbhostTestMessage& m : OrbhostTest_MessageCaptureEnd()) {
    logged = logged || m.text.find("Snapshot digital gain greater than 3.99, only 3.99 is applied in white "
                                   "balance module") != std::string::npos;
  }
  EXPECT_EQ(Bytes(c.expected), Bytes(service_->whiteBalance->GetPayload()));
  EXPECT_EQ(c.logged, logged);
}

INSTANTIATE_TEST_SUITE_P(Cases, WhiteBalanceTest, ::testing::ValuesIn(kWhiteBalanceCases),
                         CaseName<WhiteBalanceCase>);

using WhiteBalanceBlockTest = VfeBlockTest;

TEST_F(WhiteBalanceBlockTest, SwitchedOffKeepsTheGainsAndClearsTheMarkers) {
  settings_.wbRed = CFixedPoint(2.0);
  CWhiteBalanceConfiguration* block = service_->whiteBalance;
  ASSERT_EQ(PVL_OK, block->Configure(&settings_, VfeChain::Video));
  block->Enable().value = 0;
  block->Enable().changed = block->ControlEnable().changed = 1;
  ASSERT_EQ(PVL_OK, block->Configure(&settings_, VfeChain::Video));
  EXPECT_EQ(Bytes(VfeWhiteBalanceCmd{0, 0, 256, 128, 128}), Bytes(block->GetPayload()));
  EXPECT_FALSE(block->HasTuningChanged());
}

TEST_F(WhiteBalanceBlockTest, AFailedGainReadLeavesThePayload) {
  CWhiteBalanceConfiguration* block = service_->whiteBalance;
  ASSERT_EQ(PVL_OK, block->Configure(&settings_, VfeChain::Video));
  const std::vector<uint8_t> before = Bytes(block->GetPayload());
  settings_.wbRed = CFixedPoint(3.0);
  settings_.fail["GetWhiteBalanceGains"] = 13;
  EXPECT_EQ(13, block->Configure(&settings_, VfeChain::Runtime));
  EXPECT_EQ(before, Bytes(block->GetPayload()));
  settings_.fail["GetDigitalGain"] = 29;
  EXPECT_EQ(29, block->Configure(&settings_, VfeChain::Snapshot));
  EXPECT_EQ(before, Bytes(block->GetPayload()));
}

TEST_F(WhiteBalanceBlockTest, UpdateSendsCommand32) {
  ASSERT_EQ(PVL_OK, service_->whiteBalance->Configure(&settings_, VfeChain::Runtime));
  ASSERT_EQ(PVL_OK, service_->whiteBalance->SendUpdate());
  ASSERT_EQ(1u, service_->sent.size());
  EXPECT_EQ(VFE_CMD_WHITE_BALANCE_UPDATE, service_->sent[0].command);
  EXPECT_EQ(Bytes(VfeWhiteBalanceCmd{1, 0, 128, 128, 128}), service_->sent[0].payload);
}

}  // namespace
}  // namespace vfeconfigtest
