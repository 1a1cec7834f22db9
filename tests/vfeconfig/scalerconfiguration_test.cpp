// The scalers: one direction's phase step, the main scaler towards the larger
// output, the OUTPUT1 luma and chroma scalers, and block 22.
#include <gtest/gtest.h>

#include "vfeconfigfixture.h"

namespace vfeconfigtest {
namespace {

struct ScaleCase {
  const char* name;
  uint32_t in, out;
  PvlResult result;
  uint8_t enable;
  uint32_t phaseStep;
  uint8_t n;
};
class ScaleFactorTest : public ::testing::TestWithParam<ScaleCase> {};

TEST_P(ScaleFactorTest, FillsTheRecord) {
  const ScaleCase& c = GetParam();
  VfeScaleRecord r{};
  EXPECT_EQ(c.result, ComputeScaleFactor(&r, c.in, c.out));
  EXPECT_EQ(c.enable, r.enable);
  EXPECT_EQ(c.in, r.inputSize);
  EXPECT_EQ(c.out, r.outputSize);
  EXPECT_EQ(c.phaseStep, r.phaseStep);
  EXPECT_EQ(c.n, r.fractionBits);
}

INSTANTIATE_TEST_SUITE_P(
    Ratios, ScaleFactorTest,
    ::testing::Values(ScaleCase{"Window1284To640", 1284, 640, PVL_OK, 1, 65744, 3},
                      ScaleCase{"Window966To480", 966, 480, PVL_OK, 1, 65944, 3},
                      ScaleCase{"Exactly4", 640, 160, PVL_OK, 1, 65536, 2},
                      ScaleCase{"Ratio8", 640, 80, PVL_OK, 1, 65536, 1},
                      ScaleCase{"Ratio32Point5", 650, 20, PVL_OK, 1, 133120, 0},
                      ScaleCase{"Ratio33Refused", 660, 20, PVL_E_FAIL, 1, 0, 0},
                      ScaleCase{"EnlargingRefused", 320, 640, PVL_E_FAIL, 1, 0, 0},
                      ScaleCase{"EqualSizeIsOff", 640, 640, PVL_OK, 0, 0, 0}),
    CaseName<ScaleCase>);

TEST(ScaleFactorZeroTest, AZeroSizeLeavesTheRecordUntouched) {
  VfeScaleRecord r{};
  EXPECT_EQ(PVL_E_FAIL, ComputeScaleFactor(&r, 0, 640));
  EXPECT_EQ(PVL_E_FAIL, ComputeScaleFactor(&r, 640, 0));
  EXPECT_EQ(Bytes(VfeScaleRecord{}), Bytes(r));
}

class ScalerTest : public VfeBlockTest {
 protected:
  // Crop window 1284 x 966 (a 1296 x 972 Bayer camif window).
  void Window() {
    settings_.SetActive(0, 0, 1296, 972);
    ASSERT_EQ(PVL_OK, service_->camif->Configure(&settings_));
    ASSERT_EQ(PVL_OK, service_->crop->SetDefaultWindow(&settings_));
  }
};

TEST_F(ScalerTest, MainScalerShrinksToTheLargerOutput) {
  Output1(320, 240);
  service_->out2.enabled = true;
  service_->out2.size = {640, 480};
  Window();
  ASSERT_EQ(PVL_OK, service_->mainScaler->Compute());
  const VfeMainScalerCmd& m = service_->mainScaler->GetPayload();
  EXPECT_EQ(1, m.enable);
  EXPECT_EQ(640, m.horizontal.outputSize);
  EXPECT_EQ(65744u, m.horizontal.phaseStep);
  EXPECT_EQ(480, m.vertical.outputSize);
  EXPECT_EQ(65944u, m.vertical.phaseStep);

  // OUTPUT1 then takes 640 x 480 down to 320 x 240, its chroma to 160 x 120.
  ASSERT_EQ(PVL_OK, service_->yScaler->Compute());
  const VfeOutputScalerCmd& y = service_->yScaler->GetPayload();
  EXPECT_EQ(1, y.enable);
  EXPECT_EQ(320, y.horizontal.outputSize);
  EXPECT_EQ(240, y.vertical.outputSize);
  ASSERT_EQ(PVL_OK, service_->cbcrScaler->Compute());
  const VfeOutputScalerCmd& c = service_->cbcrScaler->GetPayload();
  EXPECT_EQ(160, c.horizontal.outputSize);
  EXPECT_EQ(120, c.vertical.outputSize);
  EXPECT_EQ(4u << 12 << 2, c.horizontal.phaseStep);
}

TEST_F(ScalerTest, LumaOffWhenOutput1MatchesTheMainScalerButChromaStillHalves) {
  Output1(640, 480);
  Window();
  ASSERT_EQ(PVL_OK, service_->mainScaler->Compute());
  ASSERT_EQ(PVL_OK, service_->yScaler->Compute());
  EXPECT_EQ(Bytes(VfeOutputScalerCmd{}), Bytes(service_->yScaler->GetPayload()));
  ASSERT_EQ(PVL_OK, service_->cbcrScaler->Compute());
  EXPECT_EQ(1, service_->cbcrScaler->GetPayload().enable);
  EXPECT_EQ(320, service_->cbcrScaler->GetPayload().horizontal.outputSize);
}

TEST_F(ScalerTest, Output1OffLeavesItsScalersOff) {
  service_->out2.enabled = true;
  service_->out2.size = {640, 480};
  Window();
  ASSERT_EQ(PVL_OK, service_->mainScaler->Compute());
  EXPECT_EQ(PVL_OK, service_->yScaler->Compute());
  EXPECT_EQ(PVL_OK, service_->cbcrScaler->Compute());
  EXPECT_EQ(Bytes(VfeOutputScalerCmd{}), Bytes(service_->yScaler->GetPayload()));
  EXPECT_EQ(Bytes(VfeOutputScalerCmd{}), Bytes(service_->cbcrScaler->GetPayload()));
}

TEST_F(ScalerTest, MainScalerRefusesToEnlargeOrRunWithoutOutputs) {
  Output1(2000, 480);
  Window();
  EXPECT_EQ(PVL_E_FAIL, service_->mainScaler->Compute());
  service_->out1.enabled = false;
  EXPECT_EQ(PVL_E_FAIL, service_->mainScaler->Compute());
}

TEST_F(ScalerTest, UpdatesGoOutOnTheirOwnCommands) {
  EXPECT_EQ(PVL_OK, service_->mainScaler->SendUpdate());
  EXPECT_EQ(PVL_OK, service_->yScaler->SendUpdate());
  EXPECT_EQ(PVL_OK, service_->cbcrScaler->SendUpdate());
  ASSERT_EQ(3u, service_->sent.size());
  EXPECT_EQ(VFE_CMD_MAIN_SCALER_UPDATE, service_->sent[0].command);
  EXPECT_EQ(44u, service_->sent[0].payload.size());
  EXPECT_EQ(VFE_CMD_OUTPUT_Y_SCALER_UPDATE, service_->sent[1].command);
  EXPECT_EQ(VFE_CMD_OUTPUT_CBCR_SCALER_UPDATE, service_->sent[2].command);
  EXPECT_EQ(36u, service_->sent[2].payload.size());
}

TEST_F(ScalerTest, Block22ClampsToTheFullRange) {
  ASSERT_EQ(PVL_OK, service_->block22->Configure());
  VfeBlock22Cmd expected{{0, 0, 0}, {0xFF, 0xFF, 0xFF}};
  EXPECT_EQ(Bytes(expected), Bytes(service_->block22->GetPayload()));
}

}  // namespace
}  // namespace vfeconfigtest
