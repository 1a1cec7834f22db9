// The configuration pattern shared by the services, seen through the sensor
// family: how a setting lands in a driver's range, what a value does when the
// driver supports its command or not, how the set is made and unmade, and the
// registry's identifiers, states and reference cycle.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "camerasensorserviceconfigurations.h"
#include "configrange.h"
#include "cpvlptr.h"
#include "csensorconfigcommandregistry.h"
#include "csensorconfigurationset.h"
#include "hostsymbols.h"
#include "orbhost_test.h"
#include "pvllog.h"
#include "scripteddriver.h"
#include "sensorviewdouble.h"

using camera::test::DriverScript;
using camera::test::ScriptedDriver;

namespace {

bool EndsWith(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// Table cases print as their names.
template <class Case, class = decltype(std::declval<const Case&>().name)>
std::ostream& operator<<(std::ostream& os, const Case& c) {
  return os << c.name;
}

template <class Case, class = decltype(std::declval<const Case&>().name)>
std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  return info.param.name;
}

// ---- Range mapping ----------------------------------------------------------------------

struct MapCase {
  const char* name;
  int32_t dMin, dMax, rMin, rMax, rVal;
  int32_t expected;
};
class RangeMapTest : public ::testing::TestWithParam<MapCase> {};

TEST_P(RangeMapTest, Maps) {
  const MapCase& c = GetParam();
  EXPECT_EQ(ConfigMapRange(c.dMin, c.dMax, c.rMin, c.rMax, c.rVal), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Integer, RangeMapTest,
    ::testing::Values(MapCase{"Proportional", 0, 100, 0, 10, 5, 50},
                      MapCase{"NegativeSettingRange", 0, 255, -10, 10, 3, 166},
                      MapCase{"HalfRoundsUp", 0, 5, 0, 10, 5, 3},
                      MapCase{"NegativeHalfRoundsDown", -5, 0, 0, 10, 5, -3},
                      MapCase{"ZeroStaysZero", -5, 5, 0, 10, 5, 0},
                      MapCase{"EmptyDriverRange", 7, 7, 0, 10, 3, 7},
                      // The middle of the driver's range, never a value outside it.
                      MapCase{"EmptySettingRangeGivesTheMiddle", 10, 30, 5, 5, 5, 20},
                      MapCase{"EmptySettingRangeFromZero", 0, 150, 0, 0, 0, 75},
                      MapCase{"IdenticalRangesKeepTheValue", 0, 10, 0, 10, 20, 20},
                      MapCase{"NoClamping", 0, 100, 0, 10, 20, 200},
                      MapCase{"FarOutsideSaturates", 0, 2000000000, 0, 1, 2000000000, INT32_MAX},
                      // The flash intensities: 0..10000 onto the LED's torch and flash ranges.
                      MapCase{"Torch0", 0, 150, 0, 10000, 0, 0}, MapCase{"Torch33", 0, 150, 0, 10000, 33, 0},
                      MapCase{"Torch34", 0, 150, 0, 10000, 34, 1}, MapCase{"Torch100", 0, 150, 0, 10000, 100, 2},
                      MapCase{"Torch5000", 0, 150, 0, 10000, 5000, 75},
                      MapCase{"Torch9999", 0, 150, 0, 10000, 9999, 150},
                      MapCase{"Torch10000", 0, 150, 0, 10000, 10000, 150},
                      MapCase{"Flash33", 0, 290, 0, 10000, 33, 1}, MapCase{"Flash5000", 0, 290, 0, 10000, 5000, 145},
                      MapCase{"Flash6667", 0, 290, 0, 10000, 6667, 193},
                      MapCase{"Flash10000", 0, 290, 0, 10000, 10000, 290}),
    CaseName<MapCase>);

TEST(RangeMapFloat, MapsUnrounded) {
  EXPECT_EQ(ConfigMapRangeFloat(0.5f, 2.5f, 0, 100, 50), 1.5f);
  EXPECT_EQ(ConfigMapRangeFloat(0.5f, 2.5f, 0, 100, 100), 2.5f);
  EXPECT_EQ(ConfigMapRangeFloat(0.5f, 2.5f, 3, 3, 3), 1.5f);  // the middle, as for integers
  EXPECT_EQ(ConfigMapRangeFloat(1.0f, 1.0f, 0, 100, 30), 1.0f);
  EXPECT_EQ(ConfigMapRangeFloat(0, 100, 0, 100, 130), 130.0f);
}

// ---- Values, set, registry ------------------------------------------------------------------

class ConfigurationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(PVL_OK, env_env_CreateInstance(ZUEUID_CLASS_ENV, env_.Out()));
    blocks_ = OrbhostTest_LiveBlocks(nullptr);
    driver_ = new ScriptedDriver(&script_);
    driver_->AddRef();
  }
  void TearDown() override {
    driver_->Release();
    EXPECT_EQ(script_.live, 0) << "a driver is still held";
    EXPECT_EQ(OrbhostTest_LiveBlocks(nullptr), blocks_) << "framework blocks left";
    env_.Reset();
  }
  // Only these configuration commands are supported; the others answer 20.
  void Support(std::initializer_list<uint32_t> commands) {
    for (uint32_t c = ZUEUID_SENSOR_CMD_ANTIBANDING; c <= ZUEUID_SENSOR_CMD_WHITE_BALANCE; ++c)
      script_.answers[c] = PVL_E_UNSUPPORTED;
    for (uint32_t c : commands) script_.answers.erase(c);
  }

  CPvlPtr<IEnv> env_;
  uint32_t blocks_ = 0;
  DriverScript script_;
  ScriptedDriver* driver_ = nullptr;
};

TEST_F(ConfigurationTest, SupportedValueReadsTheDriversRecordAndAppliesIt) {
  script_.SetOutput(ZUEUID_SENSOR_CMD_BRIGHTNESS, SensorBrightnessRecord{-4, 9, 40});
  CPvlPtr<ISensorConfiguration> value;
  ASSERT_EQ(PVL_OK, CSensorBrightnessValue::Create(driver_, &value));
  ASSERT_TRUE(value->IsSupported());
  ASSERT_EQ(script_.calls.size(), 1u);
  EXPECT_EQ(script_.calls[0].outputSize, sizeof(SensorBrightnessRecord));
  SensorBrightnessRecord record{};
  ASSERT_EQ(PVL_OK, value->Get(&record));
  EXPECT_EQ(record.nMinimumBrightness, -4);
  EXPECT_EQ(record.nMaximumBrightness, 40);

  static_cast<CSensorBrightnessValue*>(value.Get())->MapFromRange({0, 10, 1, 5, 10});
  ASSERT_EQ(PVL_OK, value->Apply());
  SensorBrightnessRecord sent{};
  ASSERT_TRUE(script_.LastInput(ZUEUID_SENSOR_CMD_BRIGHTNESS, &sent));
  EXPECT_EQ(sent.nMinimumBrightness, -4);
  EXPECT_EQ(sent.nBrightness, 40);
  EXPECT_EQ(sent.nMaximumBrightness, 40);

  SensorBrightnessRecord mine{1, 2, 3};
  ASSERT_EQ(PVL_OK, value->Set(&mine));
  ASSERT_EQ(PVL_OK, value->Get(&record));
  EXPECT_EQ(record.nBrightness, 2);
  EXPECT_EQ(PVL_E_NULLPTR, value->Set(nullptr));

  script_.answers[ZUEUID_SENSOR_CMD_BRIGHTNESS] = PVL_E_FAIL;
  EXPECT_EQ(PVL_E_FAIL, value->Apply());
}

TEST_F(ConfigurationTest, UnsupportedValueExistsButNeverReachesTheDriver) {
  script_.answers[ZUEUID_SENSOR_CMD_FOCUS] = PVL_E_UNSUPPORTED;
  CPvlPtr<ISensorConfiguration> value;
  ASSERT_EQ(PVL_OK, CSensorFocusValue::Create(driver_, &value));
  EXPECT_FALSE(value->IsSupported());
  const size_t calls = script_.calls.size();
  SensorFocusRecord record{1, 2, {1, {0, 0, 0}}};
  EXPECT_EQ(PVL_E_UNSUPPORTED, value->Apply());
  EXPECT_EQ(PVL_E_UNSUPPORTED, value->Refresh());
  EXPECT_EQ(PVL_E_UNSUPPORTED, value->Set(&record));
  EXPECT_EQ(PVL_E_UNSUPPORTED, value->Get(&record));
  EXPECT_EQ(script_.calls.size(), calls);
  // Its setters and Dump still work on the record.
  static_cast<CSensorFocusValue*>(value.Get())->SetFocusSteps(7);
  EXPECT_EQ(static_cast<CSensorFocusValue*>(value.Get())->Rec().nFocusSteps, 7);
  EXPECT_EQ(PVL_OK, value->Reset());
  EXPECT_EQ(static_cast<CSensorFocusValue*>(value.Get())->Rec().nFocusSteps, 0);
  OrbhostTest_MessageCaptureBegin();
  EXPECT_EQ(PVL_OK, value->Dump());
  std::vector<OrbhostTestMessage> lines = OrbhostTest_MessageCaptureEnd();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].text.find("focusDirection: 0; nFocusSteps: 0; bResetFocus: 0"), std::string::npos);
  EXPECT_TRUE(EndsWith(lines[0].fileName, "/camerasensorserviceconfigurations.cpp")) << lines[0].fileName;
  EXPECT_EQ(lines[0].level, CAMERA_LOG_NOTABLE);
}

TEST_F(ConfigurationTest, ValueCreationRefusals) {
  ISensorConfiguration* untouched = reinterpret_cast<ISensorConfiguration*>(0x1234);
  EXPECT_EQ(PVL_E_NULLPTR, CSensorExposureValue::Create(nullptr, &untouched));
  script_.answers[ZUEUID_SENSOR_CMD_EXPOSURE] = PVL_E_BADARG;
  EXPECT_EQ(PVL_E_BADARG, CSensorExposureValue::Create(driver_, &untouched));
  EXPECT_EQ(untouched, reinterpret_cast<ISensorConfiguration*>(0x1234));
  EXPECT_EQ(script_.live, 1);

  script_.answers.clear();
  CPvlPtr<ISensorConfiguration> value;
  ASSERT_EQ(PVL_OK, CSensorExposureValue::Create(driver_, &value));
  void* out = &out;
  EXPECT_EQ(PVL_E_BADARG, value->QueryInterface(ZUEUID_IFACE_SENSOR_CONFIGURATION, nullptr));
  EXPECT_EQ(PVL_E_NOTSUPPORTED, value->QueryInterface(0x0106C37Bu, &out));
  EXPECT_EQ(out, nullptr);
  ASSERT_EQ(PVL_OK, value->QueryInterface(ZUEUID_IFACE_BASE, &out));
  static_cast<IPvlBase*>(out)->Release();
}

TEST_F(ConfigurationTest, DumpsKeepTheirFormats) {
  CPvlPtr<ISensorConfiguration> mode, brightness;
  ASSERT_EQ(PVL_OK, CSensorModeValue::Create(driver_, &mode));
  ASSERT_EQ(PVL_OK, CSensorBrightnessValue::Create(driver_, &brightness));
  SensorModeRecord record{};
  record.resolution = {652, 486};
  record.decimation = {2, 3, 4};
  ASSERT_EQ(PVL_OK, mode->Set(&record));
  OrbhostTest_MessageCaptureBegin();
  mode->Dump();
  brightness->Dump();
  std::vector<OrbhostTestMessage> lines = OrbhostTest_MessageCaptureEnd();
  ASSERT_EQ(lines.size(), 2u);
  const std::string gap(26, ' ');
  // The mode prints the decimation mode (stored after the factors) first; the
  // log cuts the long line.
  EXPECT_EQ(lines[0].text.rfind("resolution.width: 652; resolution.height: 486;" + gap + "decimation.decimationMode: 4;" + gap,
                                0),
            0u)
      << lines[0].text;
  EXPECT_LE(lines[0].text.size(), 127u);
  EXPECT_EQ(lines[1].text, "nMinimumBrightness: 0; nBrightness:" + gap + "0; nMaximumBrightness 0");
}

TEST_F(ConfigurationTest, SetMakesTheTwentyValuesInAccessorOrder) {
  Support({ZUEUID_SENSOR_CMD_EXPOSURE, ZUEUID_SENSOR_CMD_FOCUS, ZUEUID_SENSOR_CMD_SENSOR_MODE});
  CPvlPtr<ISensorConfigurationSet> set;
  ASSERT_EQ(PVL_OK, CSensorConfigurationSet::Create(env_.Get(), driver_, &set));
  ASSERT_EQ(script_.calls.size(), 20u);
  for (uint32_t i = 0; i < 20; ++i) EXPECT_EQ(script_.calls[i].command, ZUEUID_SENSOR_CMD_ANTIBANDING + i) << i;

  using Accessor = PvlResult (ISensorConfigurationSet::*)(ISensorConfiguration**);
  const Accessor accessors[20] = {
      &ISensorConfigurationSet::GetAntibanding,  &ISensorConfigurationSet::GetBrightness,
      &ISensorConfigurationSet::GetContrast,     &ISensorConfigurationSet::GetExposure,
      &ISensorConfigurationSet::GetExposureCompensation, &ISensorConfigurationSet::GetExposureMetering,
      &ISensorConfigurationSet::GetFocus,        &ISensorConfigurationSet::GetFocusMode,
      &ISensorConfigurationSet::GetFocusState,   &ISensorConfigurationSet::GetFrameInterval,
      &ISensorConfigurationSet::GetGamma,        &ISensorConfigurationSet::GetHue,
      &ISensorConfigurationSet::GetImageEffect,  &ISensorConfigurationSet::GetIso,
      &ISensorConfigurationSet::GetApertureShutter, &ISensorConfigurationSet::GetOpticalZoom,
      &ISensorConfigurationSet::GetSensorMode,   &ISensorConfigurationSet::GetSaturation,
      &ISensorConfigurationSet::GetSharpness,    &ISensorConfigurationSet::GetWhiteBalance};
  uint32_t i = 0;
  for (Accessor accessor : accessors) {
    CPvlPtr<ISensorConfiguration> value;
    ASSERT_EQ(PVL_OK, (set.Get()->*accessor)(&value));
    const uint32_t command = ZUEUID_SENSOR_CMD_ANTIBANDING + i;
    const bool supported = command == ZUEUID_SENSOR_CMD_EXPOSURE || command == ZUEUID_SENSOR_CMD_FOCUS ||
                           command == ZUEUID_SENSOR_CMD_SENSOR_MODE;
    EXPECT_EQ(value->IsSupported(), supported) << i;
    // Each value applies its own command.
    script_.calls.clear();
    value->Apply();
    if (supported) {
      EXPECT_EQ(script_.Commands(), std::vector<uint32_t>{command}) << i;
    }
    ++i;
  }
}

TEST_F(ConfigurationTest, ResetAllZeroesEveryRecord) {
  script_.SetOutput(ZUEUID_SENSOR_CMD_EXPOSURE, SensorExposureRecord{256, 400});
  CPvlPtr<ISensorConfigurationSet> set;
  ASSERT_EQ(PVL_OK, CSensorConfigurationSet::Create(env_.Get(), driver_, &set));
  CPvlPtr<ISensorConfiguration> exposure;
  ASSERT_EQ(PVL_OK, set->GetExposure(&exposure));
  EXPECT_EQ(static_cast<CSensorExposureValue*>(exposure.Get())->Rec().nGain, 256);
  EXPECT_EQ(PVL_OK, set->ResetAll());
  EXPECT_EQ(static_cast<CSensorExposureValue*>(exposure.Get())->Rec().nGain, 0);
  EXPECT_EQ(static_cast<CSensorExposureValue*>(exposure.Get())->Rec().nIntegrationLineCount, 0);
}

TEST_F(ConfigurationTest, AFailingValueUnmakesTheSet) {
  script_.answers[ZUEUID_SENSOR_CMD_EXPOSURE_METERING] = PVL_E_BADARG;  // value 5
  ISensorConfigurationSet* untouched = nullptr;
  EXPECT_EQ(PVL_E_BADARG, CSensorConfigurationSet::Create(env_.Get(), driver_, &untouched));
  EXPECT_EQ(untouched, nullptr);
  EXPECT_EQ(script_.calls.size(), 6u);  // values 0 to 5 were asked, no more
  EXPECT_EQ(PVL_E_NULLPTR, CSensorConfigurationSet::Create(nullptr, driver_, &untouched));
  EXPECT_EQ(PVL_E_NULLPTR, CSensorConfigurationSet::Create(env_.Get(), nullptr, &untouched));
  // TearDown: the driver and every block are back.
}

class RegistryTest : public ConfigurationTest {
 protected:
  void Build() {
    ASSERT_EQ(PVL_OK, CSensorConfigurationSet::Create(env_.Get(), driver_, &set_));
    ASSERT_EQ(PVL_OK, CSensorConfigCommandRegistry::Create(env_.Get(), set_.Get(), &view_, &registry_));
  }
  void TearDown() override {
    if (registry_) registry_->ReleaseConfigurers();
    registry_.Reset();
    set_.Reset();
    EXPECT_EQ(view_.refs, 0);
    ConfigurationTest::TearDown();
  }
  sensortest::SensorViewDouble view_;
  CPvlPtr<ISensorConfigurationSet> set_;
  CPvlPtr<IConfigCommandRegistry> registry_;
};

struct IdCase {
  const char* name;
  uint32_t configuration;
  PvlResult expected;  // with the S5K3E2FX's support: exposure, focus, mode
};
class RegistryIdTest : public RegistryTest, public ::testing::WithParamInterface<IdCase> {};

TEST_P(RegistryIdTest, HandsOut) {
  Support({ZUEUID_SENSOR_CMD_EXPOSURE, ZUEUID_SENSOR_CMD_FOCUS, ZUEUID_SENSOR_CMD_SENSOR_MODE});
  Build();
  ASSERT_EQ(PVL_OK, registry_->CreateConfigurers());
  IConfigCommand* out = reinterpret_cast<IConfigCommand*>(0x1234);
  EXPECT_EQ(registry_->GetConfigurer(GetParam().configuration, &out), GetParam().expected);
  EXPECT_EQ(out != nullptr, GetParam().expected == PVL_OK);
  if (out) out->Release();
}

INSTANTIATE_TEST_SUITE_P(
    Identifiers, RegistryIdTest,
    ::testing::Values(IdCase{"Exposure", ZUEUID_CONFIG_EXPOSURE, PVL_OK}, IdCase{"Focus", ZUEUID_CONFIG_FOCUS, PVL_OK},
                      IdCase{"Video", ZUEUID_CONFIG_VIDEO, PVL_OK}, IdCase{"Snapshot", ZUEUID_CONFIG_SNAPSHOT, PVL_OK},
                      IdCase{"AntibandingUnsupported", ZUEUID_CONFIG_ANTIBANDING, PVL_E_UNSUPPORTED},
                      IdCase{"BrightnessUnsupported", ZUEUID_CONFIG_BRIGHTNESS, PVL_E_UNSUPPORTED},
                      IdCase{"WhiteBalanceUnsupported", ZUEUID_CONFIG_WHITE_BALANCE, PVL_E_UNSUPPORTED},
                      IdCase{"SharpnessUnsupported", ZUEUID_CONFIG_SHARPNESS, PVL_E_UNSUPPORTED},
                      IdCase{"GapWithoutConfigurer", 0x0106297Du, PVL_E_BADARG},
                      IdCase{"GapAtEighteen", 0x01062983u, PVL_E_BADARG},
                      IdCase{"BelowTheBaseWraps", 0x01062970u, PVL_E_BADARG},
                      IdCase{"PastTheLast", 0x0106298Fu, PVL_E_BADARG},
                      IdCase{"FlashLamp", 0x0106C316u, PVL_E_BADARG}),
    CaseName<IdCase>);

TEST_F(RegistryTest, NotReadyBeforeAndAfter) {
  Build();
  EXPECT_EQ(PVL_E_NOTREADY, registry_->GetConfigurer(ZUEUID_CONFIG_VIDEO, nullptr));
  ASSERT_EQ(PVL_OK, registry_->CreateConfigurers());
  EXPECT_EQ(PVL_E_NULLPTR, registry_->GetConfigurer(ZUEUID_CONFIG_VIDEO, nullptr));
  // A second run on a ready registry changes nothing.
  EXPECT_EQ(PVL_E_NOTREADY, registry_->CreateConfigurers());
  EXPECT_EQ(PVL_OK, registry_->ReleaseConfigurers());
  EXPECT_EQ(PVL_E_NOTREADY, registry_->GetConfigurer(ZUEUID_CONFIG_VIDEO, nullptr));
  // Ready again on a new run.
  ASSERT_EQ(PVL_OK, registry_->CreateConfigurers());
  CPvlPtr<IConfigCommand> video;
  EXPECT_EQ(PVL_OK, registry_->GetConfigurer(ZUEUID_CONFIG_VIDEO, &video));
}

TEST_F(RegistryTest, ADriverSupportingNothingStillGetsBothModes) {
  Support({});
  Build();
  ASSERT_EQ(PVL_OK, registry_->CreateConfigurers());
  auto* registry = static_cast<CSensorConfigCommandRegistry*>(registry_.Get());
  for (size_t slot = 0; slot < CSensorConfigCommandRegistry::kSlotCount; ++slot)
    EXPECT_EQ(registry->SlotFilled(slot), slot >= CSensorConfigCommandRegistry::kVideo) << slot;
  CPvlPtr<IConfigCommand> video, snapshot;
  ASSERT_EQ(PVL_OK, registry_->GetConfigurer(ZUEUID_CONFIG_VIDEO, &video));
  ASSERT_EQ(PVL_OK, registry_->GetConfigurer(ZUEUID_CONFIG_SNAPSHOT, &snapshot));
  EXPECT_NE(video.Get(), snapshot.Get());
}

TEST_F(RegistryTest, FactoriesRefuseNullArguments) {
  Build();
  IConfigCommandRegistry* registry = nullptr;
  EXPECT_EQ(PVL_E_NULLPTR, CSensorConfigCommandRegistry::Create(nullptr, set_.Get(), &view_, &registry));
  EXPECT_EQ(PVL_E_NULLPTR, CSensorConfigCommandRegistry::Create(env_.Get(), nullptr, &view_, &registry));
  EXPECT_EQ(PVL_E_NULLPTR, CSensorConfigCommandRegistry::Create(env_.Get(), set_.Get(), nullptr, &registry));
  EXPECT_EQ(registry, nullptr);
}

TEST_F(RegistryTest, ConfigurersKeepTheirRegistryUntilReleased) {
  Build();
  ASSERT_EQ(PVL_OK, registry_->CreateConfigurers());
  IConfigCommandRegistry* registry = registry_.Get();
  registry_.Reset();
  // Without ReleaseConfigurers the cycle holds: the registry and the set live on.
  EXPECT_GT(registry->AddRef(), 1);
  registry->Release();
  const int32_t setRefs = set_->AddRef();
  set_->Release();
  EXPECT_GT(setRefs, 2);
  EXPECT_EQ(PVL_OK, registry->ReleaseConfigurers());  // the last references go, the registry with them
  EXPECT_EQ(set_->AddRef(), 2);  // ours and this one: the registry let go too
  set_->Release();
}

TEST_F(RegistryTest, QueryInterfaceRules) {
  Build();
  void* out = &out;
  EXPECT_EQ(PVL_E_BADARG, registry_->QueryInterface(ZUEUID_IFACE_CONFIG_COMMAND_REGISTRY, nullptr));
  EXPECT_EQ(PVL_E_NOTSUPPORTED, registry_->QueryInterface(ZUEUID_IFACE_CONFIG_COMMAND, &out));
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(PVL_E_BADARG, set_->QueryInterface(ZUEUID_IFACE_SENSOR_CONFIGURATION_SET, nullptr));
  ASSERT_EQ(PVL_OK, set_->QueryInterface(ZUEUID_IFACE_SENSOR_CONFIGURATION_SET, &out));
  static_cast<IPvlBase*>(out)->Release();
}

}  // namespace
