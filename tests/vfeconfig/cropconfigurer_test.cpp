// Zoom during video: the crop and the three scalers go out as updates and are
// latched together, or not at all.
#include <gtest/gtest.h>

#include "vfeconfigfixture.h"
#include "vfeconfigurerids.h"

namespace vfeconfigtest {
namespace {

const std::vector<int32_t> kZoom = {VFE_CMD_FOV_CROP_UPDATE, VFE_CMD_MAIN_SCALER_UPDATE,
                                    VFE_CMD_OUTPUT_Y_SCALER_UPDATE, VFE_CMD_OUTPUT_CBCR_SCALER_UPDATE,
                                    VFE_CMD_UPDATE};

class CropConfigurerTest : public VfeBlockTest {
 protected:
  void SetUp() override {
    VfeBlockTest::SetUp();
    settings_.SetActive(0, 0, 1296, 972);
    Output1(320, 240);
    ASSERT_EQ(PVL_OK, RunConfigurer(ZUEUID_CONFIG_VIDEO));
    service_->sent.clear();
  }
};

TEST_F(CropConfigurerTest, ZoomSendsTheUpdatesThenLatchesThem) {
  settings_.crop = CFixedPoint(2.0);
  ASSERT_EQ(PVL_OK, RunConfigurer(ZUEUID_CONFIG_CROP));
  EXPECT_EQ(kZoom, service_->Commands());
  VfeFovCropCmd window{1, 0, 321, 962, 242, 723};
  EXPECT_EQ(Bytes(window), service_->sent[0].payload);
  // The main scaler now takes 642 x 482 to 320 x 240.
  EXPECT_EQ(642, service_->mainScaler->GetPayload().horizontal.inputSize);
  EXPECT_EQ(Bytes(service_->mainScaler->GetPayload()), service_->sent[1].payload);
  EXPECT_TRUE(service_->sent[4].payload.empty());
}

TEST_F(CropConfigurerTest, ABadCropFactorSendsNothing) {
  settings_.crop = CFixedPoint(0.5);
  EXPECT_EQ(PVL_E_BADARG, RunConfigurer(ZUEUID_CONFIG_CROP));
  EXPECT_TRUE(service_->sent.empty());
}

// Without its crop factor the zoom has no window: scalers sized for the full
// window would not match the crop the hardware keeps, so nothing goes out and
// the failure is reported.
TEST_F(CropConfigurerTest, AnUnreadableCropFactorSendsNothingAndIsReported) {
  settings_.crop = CFixedPoint(2.0);
  settings_.fail["GetCropFactor"] = PVL_E_NOTREADY;
  EXPECT_EQ(PVL_E_NOTREADY, RunConfigurer(ZUEUID_CONFIG_CROP));
  EXPECT_TRUE(service_->sent.empty());
}

TEST_F(CropConfigurerTest, AFailedScalerComputationSendsNothing) {
  service_->out1.size = {2000, 240};
  EXPECT_EQ(PVL_E_FAIL, RunConfigurer(ZUEUID_CONFIG_CROP));
  EXPECT_TRUE(service_->sent.empty()) << "no crop without its scalers, no latch";
}

// While an earlier update is pending the driver refuses update commands: the
// zoom reports that, and latches nothing.
TEST_F(CropConfigurerTest, ARefusedUpdateIsReportedAndNotLatched) {
  service_->answers[VFE_CMD_MAIN_SCALER_UPDATE] = PVL_E_FAIL;
  settings_.crop = CFixedPoint(2.0);
  EXPECT_EQ(PVL_E_FAIL, RunConfigurer(ZUEUID_CONFIG_CROP));
  EXPECT_EQ(std::vector<int32_t>({VFE_CMD_FOV_CROP_UPDATE, VFE_CMD_MAIN_SCALER_UPDATE}), service_->Commands());
}

TEST_F(CropConfigurerTest, ARefusedLatchIsReported) {
  service_->answers[VFE_CMD_UPDATE] = PVL_E_FAIL;
  EXPECT_EQ(PVL_E_FAIL, RunConfigurer(ZUEUID_CONFIG_CROP));
}

}  // namespace
}  // namespace vfeconfigtest
