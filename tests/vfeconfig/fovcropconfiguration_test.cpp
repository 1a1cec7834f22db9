// The field-of-view crop: the default window from the camera interface, the
// zoom window in Q12 (products floor, quotients truncate, positions round half
// away from zero) and the largest crop factor.
#include <gtest/gtest.h>

#include "vfeconfigfixture.h"

namespace vfeconfigtest {
namespace {

VfeFovCropCmd Window(uint16_t x0, uint16_t x1, uint16_t y0, uint16_t y1) {
  VfeFovCropCmd w{};
  w.enable = 1;
  w.firstPixel = x0;
  w.lastPixel = x1;
  w.firstLine = y0;
  w.lastLine = y1;
  return w;
}

class FovCropFixture : public VfeBlockFixture {
 protected:
  // A Bayer camif window of 1296 x 972 with skip factors 1: default 1284 x 966.
  void ConfigureCamif(uint32_t kind = 3, uint32_t width = 1296) {
    settings_.format.Words[0] = kind;
    settings_.SetActive(0, 0, width, 972);
    if (!service_->out1.enabled && !service_->out2.enabled) Output1(640, 480);
    ASSERT_EQ(PVL_OK, service_->camif->Configure(&settings_));
  }
};

struct ZoomCase {
  const char* name;
  double crop;
  uint32_t w1, h1;  // 0: OUTPUT1 off
  uint32_t w2, h2;  // 0: OUTPUT2 off
  VfeFovCropCmd expected;
};
class FovCropZoomTest : public ::testing::TestWithParam<ZoomCase>, public FovCropFixture {
 protected:
  void SetUp() override { SetUpBlocks(); }
  void TearDown() override { TearDownBlocks(); }
};

TEST_P(FovCropZoomTest, NarrowsAndCentresTheWindow) {
  const ZoomCase& c = GetParam();
  service_->out1.enabled = c.w1 != 0;
  service_->out1.size = {c.w1, c.h1};
  service_->out2.enabled = c.w2 != 0;
  service_->out2.size = {c.w2, c.h2};
  ConfigureCamif();
  settings_.crop = CFixedPoint(c.crop);
  ASSERT_EQ(PVL_OK, service_->crop->Recompute(&settings_));
  EXPECT_EQ(Bytes(c.expected), Bytes(service_->crop->GetPayload()));
}

INSTANTIATE_TEST_SUITE_P(
    Windows, FovCropZoomTest,
    ::testing::Values(
        ZoomCase{"SameAspectNoZoomKeepsDefault", 1.0, 642, 483, 0, 0, Window(0, 1283, 0, 965)},
        ZoomCase{"WideOutputShrinksHeight", 1.0, 640, 360, 0, 0, Window(0, 1283, 122, 843)},
        ZoomCase{"Zoom2At4To3", 2.0, 320, 240, 0, 0, Window(321, 962, 242, 723)},
        ZoomCase{"PortraitOutputShrinksWidth", 2.0, 240, 320, 0, 0, Window(461, 822, 242, 724)},
        ZoomCase{"ZoomClampedToTheOutputSize", 8.0, 640, 480, 0, 0, Window(322, 961, 243, 722)},
        ZoomCase{"Output2AloneGivesBothRatios", 1.0, 0, 0, 640, 360, Window(0, 1283, 122, 843)},
        ZoomCase{"DifferentRatiosUseTheExtremes", 1.5, 320, 240, 640, 360, Window(214, 1069, 242, 723)}),
    CaseName<ZoomCase>);

class FovCropConfigurationTest : public ::testing::Test, public FovCropFixture {
 protected:
  void SetUp() override { SetUpBlocks(); }
  void TearDown() override { TearDownBlocks(); }
};

TEST_F(FovCropConfigurationTest, YuvDefaultWindowIsHalfTheEvenWidth) {
  ConfigureCamif(5, 1282);
  ASSERT_EQ(PVL_OK, service_->crop->SetDefaultWindow(&settings_));
  EXPECT_EQ(640u, service_->crop->GetWindowWidth());
  EXPECT_EQ(972u, service_->crop->GetWindowHeight());
}

TEST_F(FovCropConfigurationTest, SkippedCamifWindowIsDividedByTheFactors) {
  settings_.SetActive(0, 0, 2592, 1944);
  Output1(40, 30);  // X = 65, Y = 65: factors 4 and 4
  ASSERT_EQ(PVL_OK, service_->camif->Configure(&settings_));
  ASSERT_EQ(PVL_OK, service_->crop->SetDefaultWindow(&settings_));
  EXPECT_EQ(2592u / 4 - 12, service_->crop->GetWindowWidth());
  EXPECT_EQ(1944u / 4 - 6, service_->crop->GetWindowHeight());
}

// Without a camif window the crop falls back on block 23, which no chain
// fills: its 1 x 1 window has no room for the Bayer borders and must not wrap
// into a 65535-wide window reported as success.
TEST_F(FovCropConfigurationTest, ABayerWindowWithoutRoomForTheBordersIsRefused) {
  Output1(640, 480);
  EXPECT_EQ(PVL_E_BADARG, service_->crop->SetDefaultWindow(&settings_));
  EXPECT_EQ(Bytes(VfeFovCropCmd{}), Bytes(service_->crop->GetPayload())) << "window unchanged";
}

TEST_F(FovCropConfigurationTest, BadCropFactorsAreRefusedAndTheWindowKept) {
  ConfigureCamif();
  ASSERT_EQ(PVL_OK, service_->crop->SetDefaultWindow(&settings_));
  const std::vector<uint8_t> before = Bytes(service_->crop->GetPayload());
  for (double crop : {0.5, 0.0, -2.0}) {
    settings_.crop = CFixedPoint(crop);
    EXPECT_EQ(PVL_E_BADARG, service_->crop->GetCropWindow(&settings_)) << crop;
    EXPECT_EQ(before, Bytes(service_->crop->GetPayload())) << crop;
  }
  settings_.fail["GetCropFactor"] = PVL_E_NOTREADY;
  EXPECT_EQ(PVL_E_NOTREADY, service_->crop->GetCropWindow(&settings_));
  EXPECT_EQ(before, Bytes(service_->crop->GetPayload()));
  EXPECT_TRUE(service_->sent.empty());
}

TEST_F(FovCropConfigurationTest, NoEnabledOutputKeepsTheDefaultWindow) {
  ConfigureCamif();
  service_->out1.enabled = false;
  EXPECT_EQ(PVL_E_FAIL, service_->crop->Recompute(&settings_));
  EXPECT_EQ(1284u, service_->crop->GetWindowWidth());
}

TEST_F(FovCropConfigurationTest, AnEnabledOutputOfNoSizeIsRefused) {
  ConfigureCamif();
  service_->out1.size = {640, 0};
  EXPECT_EQ(PVL_E_BADARG, service_->crop->Recompute(&settings_));
}

TEST_F(FovCropConfigurationTest, SendUpdateCarriesTheWindowOnCommand31) {
  ConfigureCamif();
  ASSERT_EQ(PVL_OK, service_->crop->Recompute(&settings_));
  ASSERT_EQ(PVL_OK, service_->crop->SendUpdate());
  ASSERT_EQ(1u, service_->sent.size());
  EXPECT_EQ(VFE_CMD_FOV_CROP_UPDATE, service_->sent[0].command);
  EXPECT_EQ(Bytes(service_->crop->GetPayload()), service_->sent[0].payload);
}

struct MaxCase {
  const char* name;
  uint32_t kind, activeW, activeH;
  uint32_t w1, h1, w2, h2;  // mode-1 sizes; 0 width: off
  float expected;
};
class FovCropMaxTest : public ::testing::TestWithParam<MaxCase>, public FovCropFixture {
 protected:
  void SetUp() override { SetUpBlocks(); }
  void TearDown() override { TearDownBlocks(); }
};

TEST_P(FovCropMaxTest, IsTheWindowOverTheLargestOutput) {
  const MaxCase& c = GetParam();
  settings_.format.Words[0] = c.kind;
  settings_.SetActive(0, 0, c.activeW, c.activeH);
  service_->out1.enabled = c.w1 != 0;
  service_->out1.mode1 = {c.w1, c.h1};
  service_->out2.enabled = c.w2 != 0;
  service_->out2.mode1 = {c.w2, c.h2};
  EXPECT_FLOAT_EQ(c.expected, service_->crop->GetMaxCropFactor());
}

INSTANTIATE_TEST_SUITE_P(
    Factors, FovCropMaxTest,
    ::testing::Values(
        // (1296 - 12) / 320 = 4.0125, (972 - 6) / 240 = 4.025
        MaxCase{"BayerOneOutput", 3, 1296, 972, 320, 240, 0, 0, 4.0125f},
        // Decimation 41 needs a second stage of 2: (1296 - 12) / 640 = 2.00625 ...
        MaxCase{"BayerSecondStage", 3, 2592, 1944, 64, 48, 640, 480, (1296.0f - 12) / 640},
        // YUV 1280 bytes: 640 pixels, (640 - 0) / 2 = 320 over 160
        MaxCase{"YuvHalvesTheWidth", 5, 1280, 960, 160, 120, 0, 0, 2.0f},
        MaxCase{"NoOutputSizeOffersNoZoom", 3, 1296, 972, 0, 0, 0, 0, 1.0f}),
    CaseName<MaxCase>);

}  // namespace
}  // namespace vfeconfigtest
