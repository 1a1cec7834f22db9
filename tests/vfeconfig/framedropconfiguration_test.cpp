// Frame drop: the video patterns from the frame intervals, the snapshot
// helpers that clear frames, and the keep-pattern table itself.
#include <gtest/gtest.h>

#include <bitset>

#include "vfeconfigfixture.h"

namespace vfeconfigtest {
namespace {

struct IntervalCase {
  const char* name;
  uint32_t sensor, output;
  uint32_t pattern;
};
using FrameDropVideoTest = VfeBlockTableTest<IntervalCase>;

TEST_P(FrameDropVideoTest, PatternFollowsTheIntervals) {
  const IntervalCase& c = GetParam();
  settings_.timing.Words[0] = c.sensor;
  Output1(320, 240);
  service_->out1.frameInterval = c.output;
  service_->out2.enabled = true;
  service_->out2.frameInterval = c.output;
  ASSERT_EQ(PVL_OK, service_->frameDrop->ConfigureVideo(&settings_));
  VfeFrameDropCmd expected{};
  expected.output1Period = 30;
  expected.output1Pattern = c.pattern;
  expected.output2Period = 30;
  expected.output2Pattern = c.pattern;
  EXPECT_EQ(Bytes(expected), Bytes(service_->frameDrop->GetPayload()));
}

INSTANTIATE_TEST_SUITE_P(
    Intervals, FrameDropVideoTest,
    ::testing::Values(IntervalCase{"HalfRate", 33333, 66666, 0x2AAAAAAA},
                      IntervalCase{"SameRateKeepsAll", 33333, 33333, 0x7FFFFFFF},
                      IntervalCase{"FasterOutputKeepsAll", 66666, 33333, 0x7FFFFFFF},
                      IntervalCase{"ZeroOutputIntervalKeepsAll", 33333, 0, 0x7FFFFFFF},
                      IntervalCase{"ThirdRate", 33333, 100000, 0x09249249},
                      IntervalCase{"VerySlowOutputDropsAll", 1, 0xFFFFFFFF, 0x00000000}),
    CaseName<IntervalCase>);

using FrameDropConfigurationTest = VfeBlockTest;

TEST_F(FrameDropConfigurationTest, ADisabledOutputKeepsItsPattern) {
  service_->frameDrop->Reset();
  Output1(320, 240);
  service_->out1.frameInterval = 66666;
  ASSERT_EQ(PVL_OK, service_->frameDrop->ConfigureVideo(&settings_));
  const VfeFrameDropCmd& p = service_->frameDrop->GetPayload();
  EXPECT_EQ(0x2AAAAAAAu, p.output1Pattern);
  EXPECT_EQ(31, p.output2Period);
  EXPECT_EQ(0xFFFFFFFFu, p.output2Pattern);
}

TEST_F(FrameDropConfigurationTest, ATimingFailureWritesNothing) {
  service_->frameDrop->Reset();
  Output1(320, 240);
  service_->out1.frameInterval = 66666;
  settings_.fail["GetSensorTiming"] = PVL_E_NOTREADY;
  EXPECT_EQ(PVL_E_NOTREADY, service_->frameDrop->ConfigureVideo(&settings_));
  EXPECT_EQ(0xFFFFFFFFu, service_->frameDrop->GetPayload().output1Pattern);
}

TEST_F(FrameDropConfigurationTest, ResetKeepsEveryFrame) {
  ASSERT_EQ(PVL_OK, service_->frameDrop->Reset());
  VfeFrameDropCmd expected{};
  expected.output1Period = expected.output2Period = 31;
  expected.output1Pattern = expected.output2Pattern = 0xFFFFFFFFu;
  EXPECT_EQ(Bytes(expected), Bytes(service_->frameDrop->GetPayload()));
}

TEST(FrameDropPatternTest, SnapshotHelpersClearFramesAndRefuseBit32) {
  uint32_t p = 0xFFFFFFFFu;
  ASSERT_EQ(PVL_OK, CFrameDropConfiguration::DropLeadingFrames(&p, 3));
  EXPECT_EQ(0xFFFFFFF8u, p);
  p = 0xFFFFFFFFu;
  ASSERT_EQ(PVL_OK, CFrameDropConfiguration::DropFrame(&p, 31));
  EXPECT_EQ(0x7FFFFFFFu, p);
  EXPECT_EQ(PVL_E_BADARG, CFrameDropConfiguration::DropFrame(&p, 32));
  EXPECT_EQ(PVL_E_BADARG, CFrameDropConfiguration::DropLeadingFrames(&p, 32));
  EXPECT_EQ(0x7FFFFFFFu, p) << "unchanged";
  ASSERT_EQ(PVL_OK, CFrameDropConfiguration::DropLeadingFrames(&p, 0));
  EXPECT_EQ(0x7FFFFFFFu, p);
}

// Entry d of the table drops d of every 30 frames: it keeps 30 - d (entry 0
// keeps all 31 the period counts). Entry 8 once kept 24.
TEST(FrameDropPatternTest, EveryEntryKeepsThirtyMinusItsIndex) {
  EXPECT_EQ(31u, std::bitset<32>(CFrameDropConfiguration::PatternFor(0)).count());
  for (uint32_t d = 1; d <= 30; ++d) {
    EXPECT_EQ(30u - d, std::bitset<32>(CFrameDropConfiguration::PatternFor(d)).count()) << "entry " << d;
  }
}

}  // namespace
}  // namespace vfeconfigtest
