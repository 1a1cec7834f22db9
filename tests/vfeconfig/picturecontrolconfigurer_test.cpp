// Picture controls during video: which blocks each control updates, where the
// saturation goes, and that a step that fails is reported and not latched.
#include <gtest/gtest.h>

#include "vfeconfigfixture.h"
#include "vfeconfigurerids.h"

namespace vfeconfigtest {
namespace {

struct ControlCase {
  const char* name;
  uint32_t id;
  float hue;
  int32_t saturation;
  std::vector<int32_t> commands;
};
using PictureControlTest = VfeBlockTableTest<ControlCase>;

TEST_P(PictureControlTest, UpdatesItsBlocksThenLatches) {
  const ControlCase& c = GetParam();
  settings_.hue.Value = c.hue;
  settings_.saturation.Value = c.saturation;
  Output1(320, 240);  // the sharpening is scaled for the output's width
  ASSERT_EQ(PVL_OK, RunConfigurer(c.id));
  EXPECT_EQ(c.commands, service_->Commands());
}

INSTANTIATE_TEST_SUITE_P(
    Controls, PictureControlTest,
    ::testing::Values(
        ControlCase{"Brightness", ZUEUID_CONFIG_BRIGHTNESS, 0, 5, {VFE_CMD_GAMMA_UPDATE, VFE_CMD_UPDATE}},
        ControlCase{"Contrast", ZUEUID_CONFIG_CONTRAST, 0, 5, {VFE_CMD_GAMMA_UPDATE, VFE_CMD_UPDATE}},
        ControlCase{"Gamma", ZUEUID_CONFIG_GAMMA, 0, 5, {VFE_CMD_GAMMA_UPDATE, VFE_CMD_UPDATE}},
        ControlCase{"Hue", ZUEUID_CONFIG_HUE, 30, 5, {VFE_CMD_COLOR_CONV_UPDATE, VFE_CMD_UPDATE}},
        ControlCase{"Sharpness", ZUEUID_CONFIG_SHARPNESS, 0, 5, {VFE_CMD_ASF_UPDATE, VFE_CMD_UPDATE}},
        ControlCase{"ImageEffect", ZUEUID_CONFIG_IMAGE_EFFECT, 0, 5,
                    {VFE_CMD_COLOR_CONV_UPDATE, VFE_CMD_GAMMA_UPDATE, VFE_CMD_UPDATE}},
        // At the neutral hue only the colour conversion applies saturation.
        ControlCase{"SaturationAtNeutralHue", ZUEUID_CONFIG_SATURATION, 0, 5,
                    {VFE_CMD_COLOR_CONV_UPDATE, VFE_CMD_UPDATE}},
        ControlCase{"SaturationWithHueRotated", ZUEUID_CONFIG_SATURATION, 30, 5,
                    {VFE_CMD_COLOR_CORR_UPDATE, VFE_CMD_UPDATE}},
        ControlCase{"SaturationMode2", ZUEUID_CONFIG_SATURATION, 30, 2,
                    {VFE_CMD_COLOR_CONV_UPDATE, VFE_CMD_UPDATE}}),
    CaseName<ControlCase>);

using PictureControlFailureTest = VfeBlockTest;

// While an earlier update waits, the driver refuses the next: the change is
// reported rather than lost, and nothing is latched.
TEST_F(PictureControlFailureTest, ARefusedUpdateIsReportedAndNotLatched) {
  service_->answers[VFE_CMD_COLOR_CONV_UPDATE] = PVL_E_FAIL;
  EXPECT_EQ(PVL_E_FAIL, RunConfigurer(ZUEUID_CONFIG_IMAGE_EFFECT));
  EXPECT_EQ(std::vector<int32_t>{VFE_CMD_COLOR_CONV_UPDATE}, service_->Commands());
}

TEST_F(PictureControlFailureTest, ARefusedLatchIsReported) {
  service_->answers[VFE_CMD_UPDATE] = PVL_E_FAIL;
  EXPECT_EQ(PVL_E_FAIL, RunConfigurer(ZUEUID_CONFIG_BRIGHTNESS));
}

TEST_F(PictureControlFailureTest, AFailedHueReadSendsNothing) {
  settings_.fail["GetHueAngle"] = PVL_E_NOTREADY;
  EXPECT_EQ(PVL_E_NOTREADY, RunConfigurer(ZUEUID_CONFIG_HUE));
  EXPECT_EQ(PVL_E_NOTREADY, RunConfigurer(ZUEUID_CONFIG_SATURATION));
  EXPECT_TRUE(service_->sent.empty());
}

}  // namespace
}  // namespace vfeconfigtest
