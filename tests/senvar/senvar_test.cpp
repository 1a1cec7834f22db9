// The Senvar module as the host maps it: its module-information file, its
// class switch, and a sensor driver created through the host on the board.
#include <fstream>
#include <iterator>

#include "image_copy.h"
#include "senvar_fixture.h"
#include "tuningdata.h"

namespace senvartest {
namespace {

class SenvarModuleTest : public SenvarTest {
 protected:
  void SetUp() override {
    SenvarTest::SetUp();
    // Every class from the module itself, none from this test's copy.
    OrbhostTest_UnregisterAllClasses();
  }
};

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}
uint32_t Word(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t(b[at + 3]) << 24);
}

TEST_F(SenvarModuleTest, InformationFileListsTheFourClasses) {
  std::vector<uint8_t> mif = ReadFile(camera::test::ImagePath("Windows/Senvar.mif"));
  ASSERT_EQ(mif.size(), 112u);
  // The class section follows the 40-byte first section.
  const uint32_t firstSection = Word(mif, 24);
  const uint32_t classes = firstSection + 40;
  EXPECT_EQ(Word(mif, classes), 0x0108AED0u);
  EXPECT_EQ(Word(mif, classes + 4), 0x0108AECEu);
  EXPECT_EQ(Word(mif, classes + 8), 0x0108AECFu);
  EXPECT_EQ(Word(mif, classes + 12), 0x0106C427u);
  EXPECT_EQ(Word(mif, classes + 16), 0u);
}

TEST_F(SenvarModuleTest, TheHostMapsItForASensorDriver) {
  CPvlPtr<ICameraDriver> sensor;
  ASSERT_EQ(PVL_OK, env_->CreateInstance(ZUEUID_CLASS_S5K3E2FX_SENSOR_DRIVER, reinterpret_cast<void**>(sensor.Out())));
  EXPECT_EQ(1, OrbhostTest_IsModuleMapped("Senvar"));
  ASSERT_EQ(PVL_OK, Run(sensor.Get(), ZUEUID_SENSOR_CMD_POWER_UP));
  EXPECT_TRUE(BoardSensorState().streaming);
  SensorModeRecord preview{};
  preview.resolution = {1296, 972};
  preview.exposureConfig = {256, 500};
  ASSERT_EQ(PVL_OK, Apply(sensor.Get(), ZUEUID_SENSOR_CMD_SENSOR_MODE, preview));
  // Its lens driver comes from the module too and moves the lens.
  SensorFocusRecord home{0, 0, {1, {0, 0, 0}}};
  ASSERT_EQ(PVL_OK, Apply(sensor.Get(), ZUEUID_SENSOR_CMD_FOCUS, home));
  SensorFocusRecord up{1, 4, {0, {0, 0, 0}}};
  ASSERT_EQ(PVL_OK, Apply(sensor.Get(), ZUEUID_SENSOR_CMD_FOCUS, up));
  EXPECT_EQ(BoardSensorState().lensTarget, 108u);
  sensor.Reset();
  EXPECT_TRUE(BoardSensorState().inReset);
  EXPECT_EQ(BoardI2cOpenCount(), 0);
}

TEST_F(SenvarModuleTest, TheClassSwitch) {
  void* out = &out;
  EXPECT_EQ(PVL_E_NOTSUPPORTED, Mod_ClassFactory(env_.Get(), ZUEUID_CLASS_TUNING_DATA, nullptr, &out));
  for (ZUEUID clsid : {ZUEUID_CLASS_WHITE_LED_FLASH_DRIVER, ZUEUID_CLASS_S5K3E2FX_AF_DRIVER}) {
    CPvlPtr<ICameraDriver> driver;
    EXPECT_EQ(PVL_OK, Mod_ClassFactory(env_.Get(), clsid, nullptr, reinterpret_cast<void**>(driver.Out())));
    EXPECT_TRUE(driver) << std::hex << clsid;
  }
  EXPECT_EQ(OrbhostTest_LiveBlocks(nullptr), liveBlocks_);
}

}  // namespace
}  // namespace senvartest
