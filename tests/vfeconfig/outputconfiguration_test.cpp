// The output write master: the output mode chosen from the enabled outputs,
// the plane sizes of each record and the first buffers handed to the VFE.
#include <gtest/gtest.h>

#include "vfeconfigfixture.h"

namespace vfeconfigtest {
namespace {

VfeOutputPathRecord Planes(uint16_t w, uint16_t h, bool raw = false) {
  VfeOutputPathRecord r{};
  r.fragmentCount = 1;
  if (!raw) {
    r.lumaWidth = r.lumaWidth2 = w;
    r.lumaHeight = r.lumaHeight2 = h;
  }
  r.chromaWidth = r.chromaWidth2 = w;
  r.chromaHeight = r.chromaHeight2 = raw ? h : static_cast<uint16_t>(h / 2);
  return r;
}

struct ModeCase {
  const char* name;
  bool raw, out1, out2;
  uint32_t mode;
  VfeOutputPathRecord record1, record2;
  int acked1, acked2, ackedRaw;
};
using OutputModeTest = VfeBlockTableTest<ModeCase>;

TEST_P(OutputModeTest, FillsTheRunningPathsAndQueuesTheirPools) {
  const ModeCase& c = GetParam();
  service_->raw.enabled = c.raw;
  service_->raw.size = {2592, 1944};
  service_->out1.enabled = c.out1;
  service_->out1.size = {320, 481};
  service_->out2.enabled = c.out2;
  service_->out2.size = {640, 480};
  ASSERT_EQ(PVL_OK, service_->output->Configure());
  VfeOutputCmd expected{};
  expected.fixedWord = 4;
  expected.outputMode = c.mode;
  expected.output1 = c.record1;
  expected.output2 = c.record2;
  EXPECT_EQ(Bytes(expected), Bytes(service_->output->GetPayload()));
  EXPECT_EQ(c.acked1, service_->out1.acked);
  EXPECT_EQ(c.acked2, service_->out2.acked);
  EXPECT_EQ(c.ackedRaw, service_->raw.acked);
}

// OUTPUT1 is 320 x 481 (an odd height: chroma 240 lines), OUTPUT2 640 x 480,
// the raw output 2592 x 1944; every pool holds four buffers.
INSTANTIATE_TEST_SUITE_P(
    Modes, OutputModeTest,
    ::testing::Values(ModeCase{"Output1Only", false, true, false, 0, Planes(320, 481), {}, 4, 0, 0},
                      ModeCase{"Output2Only", false, false, true, 1, {}, Planes(640, 480), 0, 4, 0},
                      ModeCase{"Both", false, true, true, 2, Planes(320, 481), Planes(640, 480), 4, 4, 0},
                      ModeCase{"RawWinsOverOutput1", true, true, false, 3, {}, Planes(2592, 1944, true), 0, 0,
                               4}),
    CaseName<ModeCase>);

using OutputConfigurationTest = VfeBlockTest;

TEST_F(OutputConfigurationTest, NoOutputEnabledFailsBeforeQueueing) {
  EXPECT_EQ(PVL_E_FAIL, service_->output->Configure());
  EXPECT_EQ(0, service_->raw.acked + service_->out1.acked + service_->out2.acked);
}

TEST_F(OutputConfigurationTest, APoolShorterThanTheMinimumFailsWithNoFreeBuffer) {
  Output1(320, 240);
  service_->out1.bufferCount = 4;  // minimum 2
  service_->out1.pool = 1;
  EXPECT_EQ(516, service_->output->Configure());
  EXPECT_EQ(1, service_->out1.acked) << "what was handed over stays queued";
}

TEST_F(OutputConfigurationTest, ASingleBufferSatisfiesAMinimumOfOne) {
  Output1(320, 240);
  service_->out1.bufferCount = 1;
  service_->out1.pool = 1;
  EXPECT_EQ(PVL_OK, service_->output->Configure());
}

TEST_F(OutputConfigurationTest, AFailedHandOverEndsConfigure) {
  Output1(320, 240);
  service_->out2.enabled = true;
  service_->out2.size = {640, 480};
  service_->out1.ackAnswer = PVL_E_NOTREADY;
  EXPECT_EQ(PVL_E_NOTREADY, service_->output->Configure());
  EXPECT_EQ(0, service_->out2.acked) << "OUTPUT2 is not touched after OUTPUT1 failed";
}

TEST_F(OutputConfigurationTest, ConfigureRebuildsThePayloadFromZero) {
  Output1(320, 240);
  ASSERT_EQ(PVL_OK, service_->output->Configure());
  service_->out1.enabled = false;
  service_->out2.enabled = true;
  service_->out2.size = {176, 144};
  ASSERT_EQ(PVL_OK, service_->output->Configure());
  const VfeOutputCmd& p = service_->output->GetPayload();
  EXPECT_EQ(1u, p.outputMode);
  EXPECT_EQ(Bytes(VfeOutputPathRecord{}), Bytes(p.output1));
}

}  // namespace
}  // namespace vfeconfigtest
