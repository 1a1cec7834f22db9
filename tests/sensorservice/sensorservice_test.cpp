// The sensor service and its configurers: first against a scripted driver and a
// settings double (the records each setting turns into, the mode tables, the
// service's states and refusals, what it holds after every failure), then over
// the real Senvar sensor and lens drivers on the board's sensor model.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <chrono>
#include <functional>
#include <thread>
#include <string>
#include <vector>

#include "board_sensor.h"
#include "board_sim.h"
#include "ccamerasensorservice.h"
#include "cpvlptr.h"
#include "csensorconfigcommandregistry.h"
#include "csensorconfigurationset.h"
#include "csensorconfigurer.h"
#include "hostsymbols.h"
#include "lifecycletable.h"
#include "orbhost_test.h"
#include "scripteddriver.h"
#include "scriptedservicefixture.h"
#include "sensorviewdouble.h"
#include "tuningdata.h"
#include "tuningdatadouble.h"
#include "wince_sim.h"

using camera::test::CurrentDriverScript;
using camera::test::DriverScript;
using camera::test::ScriptedDriver;
using camera::test::ScriptedDriverFactory;
using sensortest::SensorViewDouble;

namespace {

// Table cases print as their names.
template <class Case, class = decltype(std::declval<const Case&>().name)>
std::ostream& operator<<(std::ostream& os, const Case& c) {
  return os << c.name;
}

int32_t Bits(float f) {
  int32_t w;
  memcpy(&w, &f, sizeof w);
  return w;
}

// ---- Configurers -------------------------------------------------------------------------

class ConfigurerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(PVL_OK, env_env_CreateInstance(ZUEUID_CLASS_ENV, env_.Out()));
    blocks_ = OrbhostTest_LiveBlocks(nullptr);
    // The driver's ranges, read when the values are made.
    script_.SetOutput(ZUEUID_SENSOR_CMD_BRIGHTNESS, SensorBrightnessRecord{0, 0, 100});
    script_.SetOutput(ZUEUID_SENSOR_CMD_SHARPNESS, SensorSharpnessRecord{0, 0, 255});
    script_.SetOutput(ZUEUID_SENSOR_CMD_GAMMA, SensorGammaRecord{0.5f, 0, 2.5f});
    script_.SetOutput(ZUEUID_SENSOR_CMD_HUE, SensorHueRecord{-180, 0, 180});
    script_.SetOutput(ZUEUID_SENSOR_CMD_IMAGE_EFFECT, SensorImageEffectRecord{0, -100, 0, 100, -50, 0, 50});
    SensorOpticalZoomRecord zoom{};
    zoom.zoomType = 2;
    zoom._u.nZoomStep = {0, 0, 20};
    script_.SetOutput(ZUEUID_SENSOR_CMD_OPTICAL_ZOOM, zoom);
  }
  void TearDown() override {
    if (registry_) registry_->ReleaseConfigurers();
    registry_.Reset();
    set_.Reset();
    if (driver_) driver_->Release();
    EXPECT_EQ(script_.live, 0);
    EXPECT_EQ(view_.refs, 0);
    EXPECT_EQ(OrbhostTest_LiveBlocks(nullptr), blocks_);
    env_.Reset();
  }
  void Build() {
    driver_ = new ScriptedDriver(&script_);
    driver_->AddRef();
    ASSERT_EQ(PVL_OK, CSensorConfigurationSet::Create(env_.Get(), driver_, &set_));
    ASSERT_EQ(PVL_OK, CSensorConfigCommandRegistry::Create(env_.Get(), set_.Get(), &view_, &registry_));
    ASSERT_EQ(PVL_OK, registry_->CreateConfigurers());
    script_.calls.clear();
  }
  void SupportOnly(std::initializer_list<uint32_t> commands) {
    for (uint32_t c = ZUEUID_SENSOR_CMD_ANTIBANDING; c <= ZUEUID_SENSOR_CMD_WHITE_BALANCE; ++c)
      script_.answers[c] = PVL_E_UNSUPPORTED;
    for (uint32_t c : commands) script_.answers.erase(c);
  }
  PvlResult Run(uint32_t configuration) {
    CPvlPtr<IConfigCommand> configurer;
    PvlResult r = registry_->GetConfigurer(configuration, &configurer);
    return r != PVL_OK ? r : configurer->Configure();
  }

  CPvlPtr<IEnv> env_;
  uint32_t blocks_ = 0;
  DriverScript script_;
  ScriptedDriver* driver_ = nullptr;
  SensorViewDouble view_;
  CPvlPtr<ISensorConfigurationSet> set_;
  CPvlPtr<IConfigCommandRegistry> registry_;
};

struct ConfigureCase {
  const char* name;
  uint32_t configuration;
  std::function<void(SensorViewDouble&)> setup;
  PvlResult expected;
  uint32_t command;            // the driver command of the configuration
  std::vector<int32_t> words;  // the record it sends (nothing is sent on failure)
};
class ConfigureTableTest : public ConfigurerTest, public ::testing::WithParamInterface<ConfigureCase> {};

TEST_P(ConfigureTableTest, Sends) {
  const ConfigureCase& c = GetParam();
  Build();
  if (c.setup) c.setup(view_);
  EXPECT_EQ(Run(c.configuration), c.expected);
  if (c.expected == PVL_OK) {
    EXPECT_EQ(script_.SentWords(c.command), c.words);
  } else {
    EXPECT_EQ(script_.CountOf(c.command), 0u) << "nothing may reach the driver";
  }
}

using V = SensorViewDouble;
INSTANTIATE_TEST_SUITE_P(
    Sensor, ConfigureTableTest,
    ::testing::Values(
        ConfigureCase{"BrightnessMapsOntoTheDriversRange", ZUEUID_CONFIG_BRIGHTNESS, nullptr, PVL_OK,
                      ZUEUID_SENSOR_CMD_BRIGHTNESS, {0, 50, 100}},
        ConfigureCase{"SharpnessMapsAndRounds", ZUEUID_CONFIG_SHARPNESS, [](V& v) { v.sharpness = {-10, 10, 1, 0, 3}; },
                      PVL_OK, ZUEUID_SENSOR_CMD_SHARPNESS, {0, 166, 255}},
        ConfigureCase{"ContrastCarriesTheClientsRange", ZUEUID_CONFIG_CONTRAST,
                      [](V& v) { v.contrast = {-5, 5, 1, 0, 2}; }, PVL_OK, ZUEUID_SENSOR_CMD_CONTRAST, {-5, 2, 5}},
        ConfigureCase{"SaturationCarriesTheClientsRange", ZUEUID_CONFIG_SATURATION,
                      [](V& v) { v.saturation = {0, 20, 1, 0, 7}; }, PVL_OK, ZUEUID_SENSOR_CMD_SATURATION, {0, 7, 20}},
        ConfigureCase{"GammaMapsUnrounded", ZUEUID_CONFIG_GAMMA, nullptr, PVL_OK, ZUEUID_SENSOR_CMD_GAMMA,
                      {Bits(0.5f), Bits(1.5f), Bits(2.5f)}},
        ConfigureCase{"HueOnIdenticalRanges", ZUEUID_CONFIG_HUE, [](V& v) { v.hue = {-180, 180, 1, 0, 90}; }, PVL_OK,
                      ZUEUID_SENSOR_CMD_HUE, {Bits(-180), Bits(90), Bits(180)}},
        ConfigureCase{"ImageEffectOffKeepsTheOffsets", ZUEUID_CONFIG_IMAGE_EFFECT, nullptr, PVL_OK,
                      ZUEUID_SENSOR_CMD_IMAGE_EFFECT, {1, -100, 0, 100, -50, 0, 50}},
        ConfigureCase{"ImageEffectFixedColour", ZUEUID_CONFIG_IMAGE_EFFECT,
                      [](V& v) {
                        v.effectSelector = 1;
                        v.effectKind = 0;
                        v.cb = {0, 10, 1, 0, 10};
                        v.cr = {0, 10, 1, 0, 0};
                      },
                      PVL_OK, ZUEUID_SENSOR_CMD_IMAGE_EFFECT, {2, -100, 100, 100, -50, -50, 50}},
        ConfigureCase{"ImageEffectKindThree", ZUEUID_CONFIG_IMAGE_EFFECT,
                      [](V& v) {
                        v.effectSelector = 1;
                        v.effectKind = 3;
                      },
                      PVL_OK, ZUEUID_SENSOR_CMD_IMAGE_EFFECT, {5, -100, 0, 100, -50, 0, 50}},
        ConfigureCase{"ImageEffectUnknownKind", ZUEUID_CONFIG_IMAGE_EFFECT,
                      [](V& v) {
                        v.effectSelector = 1;
                        v.effectKind = 5;
                      },
                      PVL_E_BADARG, ZUEUID_SENSOR_CMD_IMAGE_EFFECT, {}},
        ConfigureCase{"ImageEffectUnknownSelector", ZUEUID_CONFIG_IMAGE_EFFECT, [](V& v) { v.effectSelector = 2; },
                      PVL_E_BADARG, ZUEUID_SENSOR_CMD_IMAGE_EFFECT, {}},
        ConfigureCase{"ImageEffectKindReadFailsEvenWhenOff", ZUEUID_CONFIG_IMAGE_EFFECT,
                      [](V& v) { v.fail["GetImageEffect"] = PVL_E_FAIL; }, PVL_E_FAIL, ZUEUID_SENSOR_CMD_IMAGE_EFFECT,
                      {}},
        ConfigureCase{"AntibandingOff", ZUEUID_CONFIG_ANTIBANDING, nullptr, PVL_OK, ZUEUID_SENSOR_CMD_ANTIBANDING,
                      {1, 0}},
        ConfigureCase{"AntibandingModeOneHasNoCode", ZUEUID_CONFIG_ANTIBANDING, [](V& v) { v.antibandingMode = 1; },
                      PVL_E_BADARG, ZUEUID_SENSOR_CMD_ANTIBANDING, {}},
        ConfigureCase{"AntibandingTwo", ZUEUID_CONFIG_ANTIBANDING, [](V& v) { v.antibandingMode = 2; }, PVL_OK,
                      ZUEUID_SENSOR_CMD_ANTIBANDING, {2, 0}},
        ConfigureCase{"AntibandingUserFrequency", ZUEUID_CONFIG_ANTIBANDING,
                      [](V& v) {
                        v.antibandingMode = 3;
                        v.flicker = 50;
                      },
                      PVL_OK, ZUEUID_SENSOR_CMD_ANTIBANDING, {3, 50}},
        ConfigureCase{"ExposureDefaults", ZUEUID_CONFIG_EXPOSURE, nullptr, PVL_OK, ZUEUID_SENSOR_CMD_EXPOSURE,
                      {768, 900}},
        // A gain kept with 12 fraction bits reaches the driver in 1/256 units.
        ConfigureCase{"ExposureGainAtAnotherPrecision", ZUEUID_CONFIG_EXPOSURE,
                      [](V& v) {
                        v.gain = CFixedPoint(12u, 3.0);
                        v.lines = 400;
                      },
                      PVL_OK, ZUEUID_SENSOR_CMD_EXPOSURE, {768, 400}},
        ConfigureCase{"ExposureLinesReadFails", ZUEUID_CONFIG_EXPOSURE,
                      [](V& v) { v.fail["GetExposureLineCount"] = PVL_E_NOTREADY; }, PVL_E_NOTREADY,
                      ZUEUID_SENSOR_CMD_EXPOSURE, {}},
        ConfigureCase{"ExposureCompensationPair", ZUEUID_CONFIG_EXPOSURE_COMPENSATION,
                      [](V& v) { v.compensation = {-2, 6}; }, PVL_OK, ZUEUID_SENSOR_CMD_EXPOSURE_COMPENSATION, {-2, 6}},
        ConfigureCase{"MeteringAverage", ZUEUID_CONFIG_EXPOSURE_METERING, nullptr, PVL_OK,
                      ZUEUID_SENSOR_CMD_EXPOSURE_METERING, {1, 0, 0, 0, 0, 0}},
        ConfigureCase{"MeteringCentreWithoutRectangle", ZUEUID_CONFIG_EXPOSURE_METERING,
                      [](V& v) { v.metering = 1; }, PVL_E_UNSUPPORTED, ZUEUID_SENSOR_CMD_EXPOSURE_METERING, {}},
        ConfigureCase{"MeteringCentreWithRectangle", ZUEUID_CONFIG_EXPOSURE_METERING,
                      [](V& v) {
                        v.metering = 1;
                        v.providesOptional = true;
                      },
                      PVL_OK, ZUEUID_SENSOR_CMD_EXPOSURE_METERING, {2, 1, 2, 3, 4, Bits(0.5f)}},
        ConfigureCase{"MeteringTwelve", ZUEUID_CONFIG_EXPOSURE_METERING, [](V& v) { v.metering = 12; }, PVL_OK,
                      ZUEUID_SENSOR_CMD_EXPOSURE_METERING, {13, 0, 0, 0, 0, 0}},
        ConfigureCase{"MeteringThirteen", ZUEUID_CONFIG_EXPOSURE_METERING, [](V& v) { v.metering = 13; },
                      PVL_E_BADARG, ZUEUID_SENSOR_CMD_EXPOSURE_METERING, {}},
        ConfigureCase{"FocusNear", ZUEUID_CONFIG_FOCUS, [](V& v) { v.steps = 4; }, PVL_OK, ZUEUID_SENSOR_CMD_FOCUS,
                      {1, 4, 0}},
        ConfigureCase{"FocusFarWithReset", ZUEUID_CONFIG_FOCUS,
                      [](V& v) {
                        v.direction = 1;
                        v.steps = 2;
                        v.lensReset = 1;
                      },
                      PVL_OK, ZUEUID_SENSOR_CMD_FOCUS, {2, 2, 1}},
        ConfigureCase{"FocusUnknownDirection", ZUEUID_CONFIG_FOCUS, [](V& v) { v.direction = 2; }, PVL_E_BADARG,
                      ZUEUID_SENSOR_CMD_FOCUS, {}},
        ConfigureCase{"FocusModeZero", ZUEUID_CONFIG_FOCUS_MODE, nullptr, PVL_OK, ZUEUID_SENSOR_CMD_FOCUS_MODE, {1}},
        ConfigureCase{"FocusModeOne", ZUEUID_CONFIG_FOCUS_MODE, [](V& v) { v.focusMode = 1; }, PVL_OK,
                      ZUEUID_SENSOR_CMD_FOCUS_MODE, {2}},
        ConfigureCase{"FocusModeTwo", ZUEUID_CONFIG_FOCUS_MODE, [](V& v) { v.focusMode = 2; }, PVL_E_BADARG,
                      ZUEUID_SENSOR_CMD_FOCUS_MODE, {}},
        ConfigureCase{"FocusStateZero", ZUEUID_CONFIG_FOCUS_STATE, nullptr, PVL_OK, ZUEUID_SENSOR_CMD_FOCUS_STATE, {1}},
        ConfigureCase{"FocusStateOne", ZUEUID_CONFIG_FOCUS_STATE, [](V& v) { v.focusState = 1; }, PVL_OK,
                      ZUEUID_SENSOR_CMD_FOCUS_STATE, {2}},
        ConfigureCase{"FocusStateTwoAsOne", ZUEUID_CONFIG_FOCUS_STATE, [](V& v) { v.focusState = 2; }, PVL_OK,
                      ZUEUID_SENSOR_CMD_FOCUS_STATE, {2}},
        ConfigureCase{"FocusStateThree", ZUEUID_CONFIG_FOCUS_STATE, [](V& v) { v.focusState = 3; }, PVL_E_BADARG,
                      ZUEUID_SENSOR_CMD_FOCUS_STATE, {}},
        ConfigureCase{"FrameInterval", ZUEUID_CONFIG_FRAME_INTERVAL,
                      [](V& v) {
                        v.autoFrame = 1;
                        v.frameInterval = 66666;
                      },
                      PVL_OK, ZUEUID_SENSOR_CMD_FRAME_INTERVAL, {1, 66666}},
        ConfigureCase{"IsoAutomatic", ZUEUID_CONFIG_ISO, nullptr, PVL_OK, ZUEUID_SENSOR_CMD_ISO, {1, 0}},
        ConfigureCase{"IsoManual", ZUEUID_CONFIG_ISO, [](V& v) { v.isoMode = 3; }, PVL_OK, ZUEUID_SENSOR_CMD_ISO,
                      {2, 100}},
        ConfigureCase{"IsoModeZero", ZUEUID_CONFIG_ISO, [](V& v) { v.isoMode = 0; }, PVL_E_BADARG,
                      ZUEUID_SENSOR_CMD_ISO, {}},
        ConfigureCase{"ApertureAndShutter", ZUEUID_CONFIG_APERTURE_SHUTTER, nullptr, PVL_OK,
                      ZUEUID_SENSOR_CMD_APERTURE_SHUTTER, {Bits(2.8f), 1000}},
        ConfigureCase{"OpticalZoomWithoutRange", ZUEUID_CONFIG_OPTICAL_ZOOM, nullptr, PVL_E_UNSUPPORTED,
                      ZUEUID_SENSOR_CMD_OPTICAL_ZOOM, {}},
        ConfigureCase{"OpticalZoomSteps", ZUEUID_CONFIG_OPTICAL_ZOOM, [](V& v) { v.providesOptional = true; }, PVL_OK,
                      ZUEUID_SENSOR_CMD_OPTICAL_ZOOM, {2, 0, 10, 20}},
        ConfigureCase{"WhiteBalanceAutomatic", ZUEUID_CONFIG_WHITE_BALANCE, nullptr, PVL_OK,
                      ZUEUID_SENSOR_CMD_WHITE_BALANCE, {1, 0}},
        ConfigureCase{"WhiteBalanceManual", ZUEUID_CONFIG_WHITE_BALANCE, [](V& v) { v.wbMode = 3; }, PVL_OK,
                      ZUEUID_SENSOR_CMD_WHITE_BALANCE, {2, 5000}},
        ConfigureCase{"WhiteBalanceModeOne", ZUEUID_CONFIG_WHITE_BALANCE, [](V& v) { v.wbMode = 1; }, PVL_E_BADARG,
                      ZUEUID_SENSOR_CMD_WHITE_BALANCE, {}}),
    [](const ::testing::TestParamInfo<ConfigureCase>& info) { return std::string(info.param.name); });

TEST_F(ConfigurerTest, AnUnmappedDirectionStopsBeforeTheStepsAreRead) {
  Build();
  view_.direction = 2;
  EXPECT_EQ(PVL_E_BADARG, Run(ZUEUID_CONFIG_FOCUS));
  EXPECT_FALSE(view_.Read("GetLensMoveSteps"));
}

const std::vector<uint32_t> kPictureCommands = {
    ZUEUID_SENSOR_CMD_ANTIBANDING, ZUEUID_SENSOR_CMD_BRIGHTNESS, ZUEUID_SENSOR_CMD_CONTRAST,
    ZUEUID_SENSOR_CMD_EXPOSURE_COMPENSATION, ZUEUID_SENSOR_CMD_EXPOSURE_METERING, ZUEUID_SENSOR_CMD_GAMMA,
    ZUEUID_SENSOR_CMD_HUE, ZUEUID_SENSOR_CMD_IMAGE_EFFECT, ZUEUID_SENSOR_CMD_ISO};

TEST_F(ConfigurerTest, VideoAndSnapshotReapplyThePictureThenSendTheMode) {
  Build();
  ASSERT_EQ(PVL_OK, Run(ZUEUID_CONFIG_VIDEO));
  std::vector<uint32_t> video = kPictureCommands;
  video.insert(video.end(), {ZUEUID_SENSOR_CMD_SATURATION, ZUEUID_SENSOR_CMD_SHARPNESS,
                             ZUEUID_SENSOR_CMD_WHITE_BALANCE, ZUEUID_SENSOR_CMD_SENSOR_MODE});
  EXPECT_EQ(script_.Commands(), video);
  const std::vector<int32_t> videoMode = script_.SentWords(ZUEUID_SENSOR_CMD_SENSOR_MODE);
  EXPECT_EQ(videoMode, (std::vector<int32_t>{652, 486, 1, 1, 1, 768, 900, 0, 33333}));

  script_.calls.clear();
  ASSERT_EQ(PVL_OK, Run(ZUEUID_CONFIG_SNAPSHOT));
  std::vector<uint32_t> snapshot = kPictureCommands;
  snapshot.insert(snapshot.end(), {ZUEUID_SENSOR_CMD_APERTURE_SHUTTER, ZUEUID_SENSOR_CMD_SATURATION,
                                   ZUEUID_SENSOR_CMD_SHARPNESS, ZUEUID_SENSOR_CMD_WHITE_BALANCE,
                                   ZUEUID_SENSOR_CMD_SENSOR_MODE});
  EXPECT_EQ(script_.Commands(), snapshot);
  EXPECT_EQ(script_.SentWords(ZUEUID_SENSOR_CMD_SENSOR_MODE), videoMode);
}

TEST_F(ConfigurerTest, VideoOnTheS5K3E2FXsSupportSendsOnlyTheMode) {
  SupportOnly({ZUEUID_SENSOR_CMD_EXPOSURE, ZUEUID_SENSOR_CMD_FOCUS, ZUEUID_SENSOR_CMD_SENSOR_MODE});
  Build();
  view_.outputSize = {2604, 1950};
  view_.autoFrame = 1;
  view_.gain = CFixedPoint(8u, 1.5);
  ASSERT_EQ(PVL_OK, Run(ZUEUID_CONFIG_VIDEO));
  EXPECT_EQ(script_.Commands(), std::vector<uint32_t>{ZUEUID_SENSOR_CMD_SENSOR_MODE});
  EXPECT_EQ(script_.SentWords(ZUEUID_SENSOR_CMD_SENSOR_MODE),
            (std::vector<int32_t>{2604, 1950, 1, 1, 1, 384, 900, 1, 33333}));
}

TEST_F(ConfigurerTest, AFailingPictureConfigurationStopsTheMode) {
  Build();
  view_.antibandingMode = 1;
  EXPECT_EQ(PVL_E_BADARG, Run(ZUEUID_CONFIG_VIDEO));
  EXPECT_EQ(script_.CountOf(ZUEUID_SENSOR_CMD_SENSOR_MODE), 0u);
  EXPECT_EQ(script_.CountOf(ZUEUID_SENSOR_CMD_BRIGHTNESS), 0u);
  // A driver failure other than "not supported" stops it as well.
  view_.antibandingMode = 0;
  script_.answers[ZUEUID_SENSOR_CMD_CONTRAST] = PVL_E_FAIL;
  script_.calls.clear();
  EXPECT_EQ(PVL_E_FAIL, Run(ZUEUID_CONFIG_SNAPSHOT));
  EXPECT_EQ(script_.CountOf(ZUEUID_SENSOR_CMD_GAMMA), 0u);
  EXPECT_EQ(script_.CountOf(ZUEUID_SENSOR_CMD_SENSOR_MODE), 0u);
}

TEST_F(ConfigurerTest, AModeConfigurerWithoutRegistryRefusesToRun) {
  Build();
  CPvlPtr<IConfigCommand> video;
  ASSERT_EQ(PVL_OK, CSensorVideoConfigurer::Create(env_.Get(), set_.Get(), nullptr, &view_, &video));
  EXPECT_EQ(PVL_E_NOTREADY, video->Configure());
  EXPECT_TRUE(script_.calls.empty());
  IConfigCommand* none = nullptr;
  EXPECT_EQ(PVL_E_NULLPTR, CSensorVideoConfigurer::Create(env_.Get(), nullptr, nullptr, &view_, &none));
  EXPECT_EQ(PVL_E_NULLPTR, CSensorVideoConfigurer::Create(env_.Get(), set_.Get(), nullptr, nullptr, &none));
  EXPECT_EQ(PVL_E_NULLPTR, CSensorVideoConfigurer::Create(nullptr, set_.Get(), nullptr, &view_, &none));
  void* out = &out;
  EXPECT_EQ(PVL_E_BADARG, video->QueryInterface(ZUEUID_IFACE_CONFIG_COMMAND, nullptr));
  EXPECT_EQ(PVL_E_NOTSUPPORTED, video->QueryInterface(ZUEUID_IFACE_CONFIG_COMMAND_REGISTRY, &out));
}

// ---- The service over a scripted driver ----------------------------------------------------

// The tuning-data service as the sensor service sees it: it records a calibration.
class TuningDouble final : public camera::test::TuningDataSlots {
 public:
  int32_t AddRef() override { return ++refs; }
  int32_t Release() override { return --refs; }
  PvlResult QueryInterface(ZUEUID, void** out) override {
    AddRef();
    *out = this;
    return PVL_OK;
  }
  PvlResult CalibrateWhiteBalance(float red, float blue, float greenOdd, float greenEven) override {
    calibrations.push_back({red, blue, greenOdd, greenEven});
    return PVL_OK;
  }

  std::atomic<int32_t> refs{0};
  std::vector<std::vector<float>> calibrations;
};

TuningDouble* g_tuning = nullptr;
PvlResult TuningDoubleFactory(IEnv*, ZUEUID, void*, void** out) {
  return g_tuning->QueryInterface(ZUEUID_IFACE_TUNING_DATA, out);
}

class SensorServiceTest
    : public camera::test::ScriptedServiceTest<CCameraSensorService, ICameraSensorService, ZUEUID_CLASS_SENSOR_SERVICE,
                                               SensorViewDouble> {
 protected:
  void SetUp() override {
    SetUpScript(ZUEUID_CLASS_S5K3E2FX_SENSOR_DRIVER);
    g_tuning = &tuning_;
    ASSERT_EQ(PVL_OK, OrbhostTest_RegisterClass(ZUEUID_CLASS_TUNING_DATA, &TuningDoubleFactory));
    SensorGeometry geometry{};
    geometry.Words[9] = 2608;
    geometry.Words[10] = 1960;
    script_.SetOutput(ZUEUID_SENSOR_PROPERTY_GEOMETRY, geometry);
    SensorTiming timing{};
    timing.Words[0] = 33945;
    timing.Words[1] = 33333;
    script_.SetOutput(ZUEUID_SENSOR_PROPERTY_TIMING, timing);
    script_.SetOutput(ZUEUID_SENSOR_PROPERTY_EXTRA_INFO, SensorExtraInfo{{7, 8, 9}});
    script_.answers[ZUEUID_SENSOR_PROPERTY_WB_CALIBRATION] = PVL_E_UNSUPPORTED;
    CountBlocks();
  }
  void TearDown() override {
    OrbhostTest_FailAllocation(0);
    ScriptedServiceTest::TearDown();
    g_tuning = nullptr;
  }
  void Initialized() {
    ASSERT_EQ(PVL_OK, Create());
    ASSERT_EQ(PVL_OK, service_->Initialize(ZUEUID_CLASS_S5K3E2FX_SENSOR_DRIVER, &view_));
  }

  TuningDouble tuning_;
};

TEST_F(SensorServiceTest, DetectsTheSensorAndListsIt) {
  OrbhostTest_MessageCaptureBegin();
  ASSERT_EQ(PVL_OK, Create());
  std::vector<OrbhostTestMessage> lines = OrbhostTest_MessageCaptureEnd();
  std::vector<std::string> texts;
  const std::string source = "/ccamerasensorservice.cpp";
  for (const OrbhostTestMessage& m : lines)
    if (m.fileName.size() > source.size() && m.fileName.compare(m.fileName.size() - source.size(), source.size(), source) == 0)
      texts.push_back(m.text);
  EXPECT_EQ(texts, (std::vector<std::string>{"Detected sensor: Maker Model", "Number of sensors detected: 1"}));
  EXPECT_EQ(script_.live, 0);  // the service keeps no driver after detection
  EXPECT_EQ(Self()->GetState(), CCameraSensorService::State::Detected);

  uint32_t count = 99;
  EXPECT_EQ(PVL_OK, service_->GetSensors(nullptr, 0, &count));
  EXPECT_EQ(count, 1u);

  char name[32];
  CameraSensorDescriptor d{};
  d.NameBuffer = reinterpret_cast<uintptr_t>(name);
  d.NameCapacity = sizeof name;
  ASSERT_EQ(PVL_OK, service_->GetSensors(&d, 1, &count));
  EXPECT_EQ(d.DriverClass, ZUEUID_CLASS_S5K3E2FX_SENSOR_DRIVER);
  EXPECT_STREQ(name, "Maker Model");
  EXPECT_EQ(d.NameLength, 12u);
  EXPECT_EQ(d.NameCapacity, sizeof name);  // the caller's stays
  EXPECT_EQ(d.FullWidth, 2608u);
  EXPECT_EQ(d.FullHeight, 1960u);
  EXPECT_EQ(d.FrameInterval, 33333u);
  EXPECT_EQ(d.ExtraInfo[2], 9u);

  char shortName[10];
  d.NameBuffer = reinterpret_cast<uintptr_t>(shortName);
  d.NameCapacity = sizeof shortName;
  ASSERT_EQ(PVL_OK, service_->GetSensors(&d, 1, &count));
  EXPECT_STREQ(shortName, "Maker Mod");
}

TEST_F(SensorServiceTest, GetSensorsStaysWithinWhatWasDetected) {
  ASSERT_EQ(PVL_OK, Create());
  CameraSensorDescriptor many[5];
  memset(many, 0xAB, sizeof many);
  for (CameraSensorDescriptor& d : many) d.NameBuffer = 0;
  uint32_t count = 0;
  ASSERT_EQ(PVL_OK, service_->GetSensors(many, 5, &count));
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(many[0].FullWidth, 2608u);
  EXPECT_EQ(many[1].FullWidth, 0xABABABABu);  // never written beyond the detected sensor

  char name[4] = {'x', 'x', 'x', 'x'};
  CameraSensorDescriptor d{};
  d.NameBuffer = reinterpret_cast<uintptr_t>(name + 1);
  d.NameCapacity = 0;
  ASSERT_EQ(PVL_OK, service_->GetSensors(&d, 1, &count));
  EXPECT_EQ(name[0], 'x');  // no terminator in front of an empty buffer
  EXPECT_EQ(name[1], 'x');

  EXPECT_EQ(PVL_E_NULLPTR, service_->GetSensors(nullptr, 0, nullptr));
  EXPECT_EQ(PVL_E_NULLPTR, service_->GetSensors(nullptr, 1, &count));
}

TEST_F(SensorServiceTest, NoSensorNoService) {
  script_.createResult = PVL_E_FAIL;  // the class exists but cannot be made
  OrbhostTest_MessageCaptureBegin();
  EXPECT_EQ(PVL_E_NODEVICE, Create());
  std::vector<OrbhostTestMessage> lines = OrbhostTest_MessageCaptureEnd();
  EXPECT_FALSE(service_);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().text, "Number of sensors detected: 0");
}

TEST_F(SensorServiceTest, CreationRefusals) {
  void* out = nullptr;
  EXPECT_EQ(PVL_E_NULLPTR, CCameraSensorService::CreateInstance(nullptr, ZUEUID_CLASS_SENSOR_SERVICE, env_.Get(), &out));
  EXPECT_EQ(PVL_E_NULLPTR, CCameraSensorService::CreateInstance(env_.Get(), ZUEUID_CLASS_SENSOR_SERVICE, nullptr, &out));
  EXPECT_EQ(PVL_E_NULLPTR, CCameraSensorService::CreateInstance(env_.Get(), ZUEUID_CLASS_SENSOR_SERVICE, env_.Get(), nullptr));
  EXPECT_EQ(PVL_E_NOTSUPPORTED, CCameraSensorService::CreateInstance(env_.Get(), 0x010707a7u, env_.Get(), &out));
  EXPECT_EQ(out, nullptr);
}

struct DetectionFailure {
  const char* name;
  std::function<void(DriverScript&)> fault;
};
class DetectionFailureTest : public SensorServiceTest, public ::testing::WithParamInterface<DetectionFailure> {};

// A read that fails half-way through a sensor's record ends the creation with
// its code; the name buffers go with it (TearDown counts the blocks).
TEST_P(DetectionFailureTest, EndsCreationAndLeavesNothing) {
  GetParam().fault(script_);
  EXPECT_EQ(PVL_E_FAIL, Create());
  EXPECT_FALSE(service_);
}

INSTANTIATE_TEST_SUITE_P(
    Sensor, DetectionFailureTest,
    ::testing::Values(DetectionFailure{"IdentityLengths", [](DriverScript& s) { s.identityReadsBeforeFailure = 0; }},
                      DetectionFailure{"IdentityTexts", [](DriverScript& s) { s.identityReadsBeforeFailure = 1; }},
                      DetectionFailure{"Geometry", [](DriverScript& s) { s.answers[ZUEUID_SENSOR_PROPERTY_GEOMETRY] = 1; }},
                      DetectionFailure{"Timing", [](DriverScript& s) { s.answers[ZUEUID_SENSOR_PROPERTY_TIMING] = 1; }},
                      DetectionFailure{"ExtraInfo",
                                       [](DriverScript& s) { s.answers[ZUEUID_SENSOR_PROPERTY_EXTRA_INFO] = 1; }}),
    [](const ::testing::TestParamInfo<DetectionFailure>& info) { return std::string(info.param.name); });

TEST_F(SensorServiceTest, OutOfMemoryForTheNamesAnswersTwo) {
  // The service object takes the first block; the maker, model and name buffers follow.
  for (uint32_t n = 2; n <= 4; ++n) {
    OrbhostTest_FailAllocation(n);
    EXPECT_EQ(PVL_E_OUTOFMEMORY, Create()) << "allocation " << n;
    OrbhostTest_FailAllocation(0);
    EXPECT_FALSE(service_);
    EXPECT_EQ(OrbhostTest_LiveBlocks(nullptr), blocks_) << "allocation " << n;
  }
}

TEST_F(SensorServiceTest, InitializeOpensPowersAndCalibrates) {
  ASSERT_EQ(PVL_OK, Create());
  EXPECT_EQ(PVL_E_NODEVICE, service_->Initialize(0x01061014u, &view_));
  EXPECT_EQ(PVL_E_NULLPTR, service_->Initialize(ZUEUID_CLASS_S5K3E2FX_SENSOR_DRIVER, nullptr));
  EXPECT_EQ(Self()->GetState(), CCameraSensorService::State::Detected);
  script_.calls.clear();
  script_.answers.erase(ZUEUID_SENSOR_PROPERTY_WB_CALIBRATION);
  script_.SetOutput(ZUEUID_SENSOR_PROPERTY_WB_CALIBRATION, SensorWbCalibrationRecord{1.5f, 0.75f, 1.25f, 1.0f});
  ASSERT_EQ(PVL_OK, service_->Initialize(ZUEUID_CLASS_S5K3E2FX_SENSOR_DRIVER, &view_));
  EXPECT_EQ(Self()->GetState(), CCameraSensorService::State::Initialized);
  std::vector<uint32_t> commands = script_.Commands();
  ASSERT_EQ(commands.size(), 22u);  // twenty first reads, power-up, calibration
  EXPECT_EQ(commands[20], ZUEUID_SENSOR_CMD_POWER_UP);
  EXPECT_EQ(commands[21], ZUEUID_SENSOR_PROPERTY_WB_CALIBRATION);
  // Each factor reaches the tuning data as the colour it is for.
  ASSERT_EQ(tuning_.calibrations.size(), 1u);
  EXPECT_EQ(tuning_.calibrations[0], (std::vector<float>{1.5f, 0.75f, 1.25f, 1.0f}));
  EXPECT_EQ(tuning_.refs, 0);
}

TEST_F(SensorServiceTest, ACalibrationOfTheWrongLengthIsNotUsed) {
  script_.answers.erase(ZUEUID_SENSOR_PROPERTY_WB_CALIBRATION);
  script_.reportedLength[ZUEUID_SENSOR_PROPERTY_WB_CALIBRATION] = 12;
  Initialized();
  EXPECT_TRUE(tuning_.calibrations.empty());
}

TEST_F(SensorServiceTest, ASensorWithoutCalibrationLeavesTheTuningAlone) {
  Initialized();
  EXPECT_TRUE(tuning_.calibrations.empty());
}

TEST_F(SensorServiceTest, LifeCycle) {
  Initialized();
  EXPECT_EQ(PVL_E_NOTREADY, service_->Initialize(ZUEUID_CLASS_S5K3E2FX_SENSOR_DRIVER, &view_));
  ASSERT_EQ(PVL_OK, service_->Start());
  EXPECT_EQ(PVL_E_NOTREADY, service_->Start());
  EXPECT_EQ(PVL_E_NOTREADY, service_->Suspend());
  EXPECT_EQ(PVL_E_NOTREADY, service_->Resume());
  ASSERT_EQ(PVL_OK, service_->Stop());
  EXPECT_EQ(PVL_E_NOTREADY, service_->Stop());

  script_.calls.clear();
  ASSERT_EQ(PVL_OK, service_->Suspend());
  EXPECT_EQ(script_.Commands(), std::vector<uint32_t>{ZUEUID_SENSOR_CMD_POWER_DOWN});
  ExpectClosed(true);
  SensorTiming timing{};
  EXPECT_EQ(PVL_E_NOTREADY, service_->GetTiming(&timing, 0));
  CPvlPtr<IConfigCommand> configurer;
  EXPECT_EQ(PVL_E_NOTREADY, service_->GetConfigurer(ZUEUID_CONFIG_EXPOSURE, &configurer));
  EXPECT_EQ(PVL_E_NOTREADY, service_->Reset());
  EXPECT_EQ(PVL_E_NOTREADY, service_->Start());

  const int created = script_.created;
  ASSERT_EQ(PVL_OK, service_->Resume());
  EXPECT_EQ(script_.created, created + 1);  // a new driver with new configurations
  EXPECT_EQ(script_.CountOf(ZUEUID_SENSOR_CMD_POWER_UP), 1u);
  ASSERT_EQ(PVL_OK, service_->GetConfigurer(ZUEUID_CONFIG_EXPOSURE, &configurer));
  EXPECT_EQ(PVL_OK, configurer->Configure());
  configurer.Reset();

  ASSERT_EQ(PVL_OK, service_->Start());
  script_.calls.clear();
  ASSERT_EQ(PVL_OK, service_->Reset());  // a started service stops first
  EXPECT_EQ(script_.Commands(), (std::vector<uint32_t>{ZUEUID_SENSOR_CMD_STOP, ZUEUID_SENSOR_CMD_RESET}));
  EXPECT_EQ(Self()->GetState(), CCameraSensorService::State::Initialized);

  ASSERT_EQ(PVL_OK, service_->Start());
  script_.calls.clear();
  ASSERT_EQ(PVL_OK, service_->Uninitialize());  // from started: stop, then power down
  EXPECT_EQ(script_.Commands(), (std::vector<uint32_t>{ZUEUID_SENSOR_CMD_STOP, ZUEUID_SENSOR_CMD_POWER_DOWN}));
  ExpectClosed(false);
  EXPECT_EQ(PVL_E_NOTREADY, service_->Uninitialize());
  // Initialised again from scratch.
  ASSERT_EQ(PVL_OK, service_->Initialize(ZUEUID_CLASS_S5K3E2FX_SENSOR_DRIVER, &view_));
  ASSERT_EQ(PVL_OK, service_->Uninitialize());
}

TEST_F(SensorServiceTest, AStartTheDriverRefusesKeepsTheServiceInitialised) {
  Initialized();
  script_.answers[ZUEUID_SENSOR_CMD_START] = PVL_E_FAIL;
  EXPECT_EQ(PVL_E_FAIL, service_->Start());
  EXPECT_EQ(Self()->GetState(), CCameraSensorService::State::Initialized);
  script_.answers[ZUEUID_SENSOR_CMD_POWER_DOWN] = PVL_E_FAIL;
  EXPECT_EQ(PVL_E_FAIL, service_->Suspend());
  EXPECT_EQ(Self()->GetState(), CCameraSensorService::State::Initialized);
  EXPECT_TRUE(Self()->HoldsDriver());
}

struct InitFailure {
  const char* name;
  std::function<void(DriverScript&, SensorViewDouble&)> fault;
  PvlResult expected;
};
class InitializeFailureTest : public SensorServiceTest, public ::testing::WithParamInterface<InitFailure> {};

// A failed Initialize takes back what it made, so that the next one starts clean.
TEST_P(InitializeFailureTest, RollsBackAndCanBeRetried) {
  ASSERT_EQ(PVL_OK, Create());
  DriverScript clean;
  GetParam().fault(script_, view_);
  EXPECT_EQ(GetParam().expected, service_->Initialize(ZUEUID_CLASS_S5K3E2FX_SENSOR_DRIVER, &view_));
  EXPECT_EQ(Self()->GetState(), CCameraSensorService::State::Detected);
  ExpectClosed(false);
  script_.answers.clear();
  script_.createResult = PVL_OK;
  view_.answersSettings = true;
  const uint32_t breaks = OrbhostTest_BreakCount();
  ASSERT_EQ(PVL_OK, service_->Initialize(ZUEUID_CLASS_S5K3E2FX_SENSOR_DRIVER, &view_));
  EXPECT_EQ(OrbhostTest_BreakCount(), breaks) << "a holder was filled twice";
  ASSERT_EQ(PVL_OK, service_->Uninitialize());
}

INSTANTIATE_TEST_SUITE_P(
    Sensor, InitializeFailureTest,
    ::testing::Values(
        InitFailure{"DriverCannotBeMade", [](DriverScript& s, SensorViewDouble&) { s.createResult = PVL_E_FAIL; },
                    PVL_E_FAIL},
        InitFailure{"ClientWithoutSettings", [](DriverScript&, SensorViewDouble& v) { v.answersSettings = false; },
                    PVL_E_NOTSUPPORTED},
        InitFailure{"AValueFailsItsFirstRead",
                    [](DriverScript& s, SensorViewDouble&) { s.answers[ZUEUID_SENSOR_CMD_HUE] = PVL_E_BADARG; },
                    PVL_E_BADARG},
        InitFailure{"PowerUpFails",
                    [](DriverScript& s, SensorViewDouble&) { s.answers[ZUEUID_SENSOR_CMD_POWER_UP] = PVL_E_FAIL; },
                    PVL_E_FAIL}),
    [](const ::testing::TestParamInfo<InitFailure>& info) { return std::string(info.param.name); });

TEST_F(SensorServiceTest, AFailedResumeStaysSuspendedAndCanBeRetried) {
  Initialized();
  ASSERT_EQ(PVL_OK, service_->Suspend());
  script_.answers[ZUEUID_SENSOR_CMD_POWER_UP] = PVL_E_FAIL;
  EXPECT_EQ(PVL_E_FAIL, service_->Resume());
  EXPECT_EQ(Self()->GetState(), CCameraSensorService::State::Suspended);
  ExpectClosed(true);
  script_.answers.erase(ZUEUID_SENSOR_CMD_POWER_UP);
  ASSERT_EQ(PVL_OK, service_->Resume());
  EXPECT_EQ(Self()->GetState(), CCameraSensorService::State::Initialized);
}

TEST_F(SensorServiceTest, ARefusedPowerDownStillClosesTheService) {
  Initialized();
  script_.answers[ZUEUID_SENSOR_CMD_POWER_DOWN] = PVL_E_FAIL;
  EXPECT_EQ(PVL_E_FAIL, service_->Uninitialize());
  EXPECT_EQ(Self()->GetState(), CCameraSensorService::State::Detected);
  ExpectClosed(false);
  script_.answers.clear();
  ASSERT_EQ(PVL_OK, service_->Initialize(ZUEUID_CLASS_S5K3E2FX_SENSOR_DRIVER, &view_));
  ASSERT_EQ(PVL_OK, service_->Uninitialize());
}

TEST_F(SensorServiceTest, ReleasedWhileOpenItLetsEverythingGo) {
  Initialized();
  ASSERT_EQ(PVL_OK, service_->Start());
  service_.Reset();
  EXPECT_EQ(script_.CountOf(ZUEUID_SENSOR_CMD_POWER_DOWN), 1u);
  // TearDown: no driver, no view, no block left.
}

// The sensor's life cycle, row by row: each operation is taken in one state
// only, and Stop leaves Started even when the sensor refuses to stop.
constexpr uint32_t kUp = ZUEUID_SENSOR_CMD_POWER_UP, kDown = ZUEUID_SENSOR_CMD_POWER_DOWN,
                   kStart = ZUEUID_SENSOR_CMD_START, kStop = ZUEUID_SENSOR_CMD_STOP,
                   kReset = ZUEUID_SENSOR_CMD_RESET;

const char* SensorCommandName(uint32_t command) {
  switch (command) {
    case kUp: return "PowerUp";
    case kDown: return "PowerDown";
    case kStart: return "Start";
    case kStop: return "Stop";
    case kReset: return "Reset";
  }
  return "Other";
}

class SensorLifeCycleTest : public camera::test::LifeCycleTableTest<SensorServiceTest> {};

TEST_P(SensorLifeCycleTest, FollowsItsRow) {
  CheckRow(ZUEUID_CLASS_S5K3E2FX_SENSOR_DRIVER, {kUp, kDown, kStart, kStop, kReset});
}

using Op = ServiceOperation;
using St = ServiceState;
using Row = camera::test::LifeCycleRow;
INSTANTIATE_TEST_SUITE_P(
    Sensor, SensorLifeCycleTest,
    ::testing::Values(
        // from, operation, refused, answer, sent, to
        Row{St::Detected, Op::Initialize, 0, PVL_OK, {kUp}, St::Initialized},
        Row{St::Detected, Op::Initialize, kUp, PVL_E_FAIL, {kUp}, St::Detected},
        Row{St::Detected, Op::Uninitialize, 0, PVL_E_NOTREADY, {}, St::Detected},
        Row{St::Detected, Op::Start, 0, PVL_E_NOTREADY, {}, St::Detected},
        Row{St::Detected, Op::Stop, 0, PVL_E_NOTREADY, {}, St::Detected},
        Row{St::Detected, Op::Reset, 0, PVL_E_NOTREADY, {}, St::Detected},
        Row{St::Detected, Op::Suspend, 0, PVL_E_NOTREADY, {}, St::Detected},
        Row{St::Detected, Op::Resume, 0, PVL_E_NOTREADY, {}, St::Detected},

        Row{St::Suspended, Op::Initialize, 0, PVL_E_NOTREADY, {}, St::Suspended},
        Row{St::Suspended, Op::Uninitialize, 0, PVL_E_NOTREADY, {}, St::Suspended},
        Row{St::Suspended, Op::Start, 0, PVL_E_NOTREADY, {}, St::Suspended},
        Row{St::Suspended, Op::Stop, 0, PVL_E_NOTREADY, {}, St::Suspended},
        Row{St::Suspended, Op::Reset, 0, PVL_E_NOTREADY, {}, St::Suspended},
        Row{St::Suspended, Op::Suspend, 0, PVL_E_NOTREADY, {}, St::Suspended},
        Row{St::Suspended, Op::Resume, 0, PVL_OK, {kUp}, St::Initialized},
        Row{St::Suspended, Op::Resume, kUp, PVL_E_FAIL, {kUp}, St::Suspended},

        Row{St::Initialized, Op::Initialize, 0, PVL_E_NOTREADY, {}, St::Initialized},
        Row{St::Initialized, Op::Uninitialize, 0, PVL_OK, {kDown}, St::Detected},
        Row{St::Initialized, Op::Uninitialize, kDown, PVL_E_FAIL, {kDown}, St::Detected},
        Row{St::Initialized, Op::Start, 0, PVL_OK, {kStart}, St::Started},
        Row{St::Initialized, Op::Start, kStart, PVL_E_FAIL, {kStart}, St::Initialized},
        Row{St::Initialized, Op::Stop, 0, PVL_E_NOTREADY, {}, St::Initialized},
        Row{St::Initialized, Op::Reset, 0, PVL_OK, {kReset}, St::Initialized},
        Row{St::Initialized, Op::Reset, kReset, PVL_E_FAIL, {kReset}, St::Initialized},
        Row{St::Initialized, Op::Suspend, 0, PVL_OK, {kDown}, St::Suspended},
        Row{St::Initialized, Op::Suspend, kDown, PVL_E_FAIL, {kDown}, St::Initialized},
        Row{St::Initialized, Op::Resume, 0, PVL_E_NOTREADY, {}, St::Initialized},

        Row{St::Started, Op::Initialize, 0, PVL_E_NOTREADY, {}, St::Started},
        Row{St::Started, Op::Uninitialize, 0, PVL_OK, {kStop, kDown}, St::Detected},
        Row{St::Started, Op::Uninitialize, kStop, PVL_E_FAIL, {kStop}, St::Initialized},
        Row{St::Started, Op::Uninitialize, kDown, PVL_E_FAIL, {kStop, kDown}, St::Detected},
        Row{St::Started, Op::Start, 0, PVL_E_NOTREADY, {}, St::Started},
        Row{St::Started, Op::Stop, 0, PVL_OK, {kStop}, St::Initialized},
        Row{St::Started, Op::Stop, kStop, PVL_E_FAIL, {kStop}, St::Initialized},
        Row{St::Started, Op::Reset, 0, PVL_OK, {kStop, kReset}, St::Initialized},
        Row{St::Started, Op::Reset, kStop, PVL_OK, {kStop, kReset}, St::Initialized},
        Row{St::Started, Op::Suspend, 0, PVL_E_NOTREADY, {}, St::Started},
        Row{St::Started, Op::Resume, 0, PVL_E_NOTREADY, {}, St::Started}),
    [](const ::testing::TestParamInfo<Row>& info) {
      return camera::test::RowName(info.param, SensorCommandName(info.param.refused));
    });

struct PropertyCase {
  const char* name;
  uint32_t property;
  uint32_t size;
  std::function<PvlResult(ICameraSensorService*, void*)> read;
};
class PropertyTest : public SensorServiceTest, public ::testing::WithParamInterface<PropertyCase> {};

TEST_P(PropertyTest, ReadsThroughTheDriver) {
  const PropertyCase& c = GetParam();
  uint8_t record[64] = {};
  ASSERT_EQ(PVL_OK, Create());
  EXPECT_EQ(PVL_E_NOTREADY, c.read(service_.Get(), record));
  ASSERT_EQ(PVL_OK, service_->Initialize(ZUEUID_CLASS_S5K3E2FX_SENSOR_DRIVER, &view_));
  EXPECT_EQ(PVL_E_NULLPTR, c.read(service_.Get(), nullptr));
  script_.calls.clear();
  ASSERT_EQ(PVL_OK, c.read(service_.Get(), record));
  ASSERT_EQ(script_.calls.size(), 1u);
  EXPECT_EQ(script_.calls[0].command, c.property);
  EXPECT_EQ(script_.calls[0].outputSize, c.size);
  script_.reportedLength[c.property] = c.size + 1;
  EXPECT_EQ(PVL_E_FAIL, c.read(service_.Get(), record));
  script_.answers[c.property] = PVL_E_BADARG;
  EXPECT_EQ(PVL_E_BADARG, c.read(service_.Get(), record));
  ASSERT_EQ(PVL_OK, service_->Start());
  script_.answers.erase(c.property);
  script_.reportedLength.erase(c.property);
  EXPECT_EQ(PVL_OK, c.read(service_.Get(), record));
  service_->Uninitialize();
}

using S = ICameraSensorService;
INSTANTIATE_TEST_SUITE_P(
    Sensor, PropertyTest,
    ::testing::Values(
        PropertyCase{"Capabilities", ZUEUID_SENSOR_PROPERTY_CAPABILITIES, 32,
                     [](S* s, void* r) { return s->GetCapabilities(static_cast<SensorCapabilities*>(r)); }},
        PropertyCase{"Identity", ZUEUID_SENSOR_PROPERTY_IDENTITY, sizeof(SensorIdentity),
                     [](S* s, void* r) { return s->GetIdentity(static_cast<SensorIdentity*>(r)); }},
        PropertyCase{"Optics", ZUEUID_SENSOR_PROPERTY_OPTICS, 32,
                     [](S* s, void* r) { return s->GetOptics(static_cast<SensorOptics*>(r)); }},
        PropertyCase{"ExtraInfo", ZUEUID_SENSOR_PROPERTY_EXTRA_INFO, 12,
                     [](S* s, void* r) { return s->GetExtraInfo(static_cast<uint32_t*>(r)); }},
        PropertyCase{"OutputFormat", ZUEUID_SENSOR_PROPERTY_OUTPUT_FORMAT, 12,
                     [](S* s, void* r) { return s->GetOutputFormat(static_cast<SensorOutputFormat*>(r)); }},
        PropertyCase{"Timing", ZUEUID_SENSOR_PROPERTY_TIMING, 16,
                     [](S* s, void* r) { return s->GetTiming(static_cast<SensorTiming*>(r), 0); }},
        PropertyCase{"Geometry", ZUEUID_SENSOR_PROPERTY_GEOMETRY, 56,
                     [](S* s, void* r) { return s->GetGeometry(static_cast<SensorGeometry*>(r)); }},
        PropertyCase{"ModeInfo", ZUEUID_SENSOR_PROPERTY_MODE_INFO, 48,
                     [](S* s, void* r) { return s->GetModeInfo(static_cast<SensorModeInfo*>(r)); }},
        PropertyCase{"GainInfo", ZUEUID_SENSOR_PROPERTY_GAIN_INFO, 20,
                     [](S* s, void* r) { return s->GetGainInfo(static_cast<SensorGainInfo*>(r)); }}),
    [](const ::testing::TestParamInfo<PropertyCase>& info) { return std::string(info.param.name); });

TEST_F(SensorServiceTest, FrameTimingNeedsAnOpenDriverOnly) {
  ASSERT_EQ(PVL_OK, Create());
  SensorFrameTimingRequest request{1296, 972, 0, 0};
  SensorFrameTimingAnswer answer{};
  EXPECT_EQ(PVL_E_NOTREADY, service_->GetFrameTiming(&request, &answer));
  EXPECT_EQ(PVL_E_NOTREADY, service_->Reset());
  ASSERT_EQ(PVL_OK, service_->Initialize(ZUEUID_CLASS_S5K3E2FX_SENSOR_DRIVER, &view_));
  EXPECT_EQ(PVL_E_NULLPTR, service_->GetFrameTiming(nullptr, &answer));
  EXPECT_EQ(PVL_E_NULLPTR, service_->GetFrameTiming(&request, nullptr));
  script_.calls.clear();
  ASSERT_EQ(PVL_OK, service_->GetFrameTiming(&request, &answer));
  SensorFrameTimingRequest sent{};
  ASSERT_TRUE(script_.LastInput(ZUEUID_SENSOR_CMD_GET_FRAME_TIMING, &sent));
  EXPECT_EQ(sent.Width, 1296u);
  EXPECT_EQ(script_.calls[0].outputSize, 32u);
  ASSERT_EQ(PVL_OK, service_->Uninitialize());
  EXPECT_EQ(PVL_E_NOTREADY, service_->GetFrameTiming(&request, &answer));
}

TEST_F(SensorServiceTest, AnswersItsThreeFaces) {
  ASSERT_EQ(PVL_OK, Create());
  for (ZUEUID iid : {ZUEUID_IFACE_SENSOR_SERVICE, ZUEUID_IFACE_CAMERA_SERVICE, ZUEUID_IFACE_CAMERA_COMPONENT}) {
    void* out = nullptr;
    ASSERT_EQ(PVL_OK, service_->QueryInterface(iid, &out)) << std::hex << iid;
    EXPECT_EQ(out, static_cast<void*>(service_.Get()));
    static_cast<IPvlBase*>(out)->Release();
  }
  EXPECT_EQ(PVL_E_NULLPTR, service_->QueryInterface(ZUEUID_IFACE_SENSOR_SERVICE, nullptr));
  void* out = &out;
  EXPECT_EQ(PVL_E_NOTSUPPORTED, service_->QueryInterface(0x0106e8f9u, &out));
}

}  // namespace

// ---- The service over the real sensor and lens drivers, on the board's sensor --------------

namespace {

class SensorBoardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BoardSimReset();
    CeSimClearFaults();
    OrbhostTest_UnregisterAllClasses();  // every class from the image's modules
    ASSERT_EQ(PVL_OK, env_env_CreateInstance(ZUEUID_CLASS_ENV, env_.Out()));
    // Mapping a module keeps blocks of its own for the process: map both first.
    Create();
    service_.Reset();
    blocks_ = OrbhostTest_LiveBlocks(nullptr);
  }
  void TearDown() override {
    service_.Reset();
    EXPECT_EQ(view_.refs, 0);
    EXPECT_TRUE(BoardSensorState().inReset) << "the sensor was left powered";
    EXPECT_EQ(BoardI2cOpenCount(), 0) << "the sensor bus was left open";
    EXPECT_EQ(OrbhostTest_LiveBlocks(nullptr), blocks_) << "framework blocks left";
    env_.Reset();
  }
  // The service as the engine makes it: through the environment, from Corvane.
  void Create() {
    ASSERT_EQ(PVL_OK, env_->CreateInstance(ZUEUID_CLASS_SENSOR_SERVICE, service_.Out()));
    ASSERT_TRUE(service_);
  }
  PvlResult Run(uint32_t configuration) {
    CPvlPtr<IConfigCommand> configurer;
    PvlResult r = service_->GetConfigurer(configuration, &configurer);
    return r != PVL_OK ? r : configurer->Configure();
  }
  static size_t AcknowledgedWrites() {
    size_t n = 0;
    for (const BoardI2cTransfer& t : BoardI2cTransfers()) n += t.slave == kSensorSlave && t.write && t.ack;
    return n;
  }
  static double FramesPerSecond() { return 1e9 / static_cast<double>(BoardSensorState().periodNs); }

  CPvlPtr<IEnv> env_;
  uint32_t blocks_ = 0;
  SensorViewDouble view_;
  CPvlPtr<ICameraSensorService> service_;
};

TEST_F(SensorBoardTest, DetectsTheS5K3E2FX) {
  Create();
  EXPECT_EQ(1, OrbhostTest_IsModuleMapped("Corvane"));
  EXPECT_EQ(1, OrbhostTest_IsModuleMapped("Senvar"));
  char name[64];
  CameraSensorDescriptor d{};
  d.NameBuffer = reinterpret_cast<uintptr_t>(name);
  d.NameCapacity = sizeof name;
  uint32_t count = 0;
  ASSERT_EQ(PVL_OK, service_->GetSensors(&d, 1, &count));
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(d.DriverClass, ZUEUID_CLASS_S5K3E2FX_SENSOR_DRIVER);
  EXPECT_STREQ(name, "Samsung S5K3E2FX 5MP BAYER)");
  EXPECT_EQ(d.NameLength, 28u);
  EXPECT_EQ(d.FullWidth, 2608u);
  EXPECT_EQ(d.FullHeight, 1960u);
  EXPECT_EQ(d.FrameInterval, 33333u);
  EXPECT_EQ(d.ExtraInfo[0] | d.ExtraInfo[1] | d.ExtraInfo[2], 0u);
  // Detection keeps no driver: the sensor is back in reset.
  EXPECT_TRUE(BoardSensorState().inReset);
}

TEST_F(SensorBoardTest, DrivesSensorAndLensThroughTheLifeCycle) {
  Create();
  BoardI2cClearRecords();
  ASSERT_EQ(PVL_OK, service_->Initialize(ZUEUID_CLASS_S5K3E2FX_SENSOR_DRIVER, &view_));
  EXPECT_FALSE(BoardSensorState().inReset);
  EXPECT_TRUE(BoardSensorState().streaming);
  EXPECT_GT(AcknowledgedWrites(), 10u) << "the init sequence never reached the sensor";
  // The S5K3E2FX takes only exposure, focus and the modes.
  CPvlPtr<IConfigCommand> configurer;
  EXPECT_EQ(PVL_E_UNSUPPORTED, service_->GetConfigurer(ZUEUID_CONFIG_BRIGHTNESS, &configurer));
  EXPECT_EQ(PVL_E_UNSUPPORTED, service_->GetConfigurer(ZUEUID_CONFIG_ANTIBANDING, &configurer));

  // Video: a VGA preview (with the Bayer margins) picks the binned preview mode.
  view_.outputSize = {652, 486};
  ASSERT_EQ(PVL_OK, Run(ZUEUID_CONFIG_VIDEO));
  BoardSensorSummary s = BoardSensorState();
  EXPECT_EQ(s.width, 1296u);
  EXPECT_EQ(s.height, 972u);
  EXPECT_EQ(s.fll, 994u);
  EXPECT_NEAR(FramesPerSecond(), 29.46, 0.01);
  SensorTiming timing{};
  ASSERT_EQ(PVL_OK, service_->GetTiming(&timing, 0));
  EXPECT_EQ(timing.Words[0], 33945u);

  // Exposure: the 3A defaults, then an exposure longer than the frame.
  ASSERT_EQ(PVL_OK, Run(ZUEUID_CONFIG_EXPOSURE));
  s = BoardSensorState();
  EXPECT_EQ(s.gainCode, 96u);  // 3.0 in the sensor's 1/32 steps
  EXPECT_EQ(s.integrationLines, 900u);
  EXPECT_EQ(s.llp, 2732u);
  view_.lines = 2000;
  view_.gain = CFixedPoint(12u, 1.0);  // another precision, the same gain of 1.0
  ASSERT_EQ(PVL_OK, Run(ZUEUID_CONFIG_EXPOSURE));
  s = BoardSensorState();
  EXPECT_EQ(s.gainCode, 32u);
  EXPECT_EQ(s.llp, 5519u);  // every line stretched, the frame keeps its lines
  EXPECT_EQ(s.integrationLines, 990u);
  EXPECT_LT(FramesPerSecond(), 15.0);

  // Snapshot: a 5-megapixel still switches to the full array.
  view_.lines = 900;
  view_.gain = CFixedPoint(8u, 3.0);
  view_.outputSize = {2604, 1950};
  ASSERT_EQ(PVL_OK, Run(ZUEUID_CONFIG_SNAPSHOT));
  s = BoardSensorState();
  EXPECT_EQ(s.width, 2608u);
  EXPECT_EQ(s.height, 1960u);

  // Focus: home the lens, then four steps; the lens gets there.
  view_.lensReset = 1;
  ASSERT_EQ(PVL_OK, Run(ZUEUID_CONFIG_FOCUS));
  view_.lensReset = 0;
  view_.direction = 0;
  view_.steps = 4;
  ASSERT_EQ(PVL_OK, Run(ZUEUID_CONFIG_FOCUS));
  EXPECT_EQ(BoardSensorState().lensTarget, 108u);
  for (int i = 0; i < 2000 && BoardSensorState().lensCode != 108u; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(BoardSensorState().lensCode, 108u);

  ASSERT_EQ(PVL_OK, service_->Start());
  ASSERT_EQ(PVL_OK, service_->Stop());

  // Suspend puts the sensor to sleep; Resume opens a new driver that wakes it.
  ASSERT_EQ(PVL_OK, service_->Suspend());
  EXPECT_TRUE(BoardSensorState().inReset);
  EXPECT_EQ(BoardI2cOpenCount(), 0);
  ASSERT_EQ(PVL_OK, service_->Resume());
  EXPECT_FALSE(BoardSensorState().inReset);
  EXPECT_TRUE(BoardSensorState().streaming);
  view_.outputSize = {652, 486};
  ASSERT_EQ(PVL_OK, Run(ZUEUID_CONFIG_VIDEO));
  EXPECT_EQ(BoardSensorState().width, 1296u);

  // Uninitialize: the sensor powered down, nothing held (TearDown checks the rest).
  ASSERT_EQ(PVL_OK, service_->Uninitialize());
  EXPECT_TRUE(BoardSensorState().inReset);
  EXPECT_EQ(BoardI2cOpenCount(), 0);
}

TEST_F(SensorBoardTest, AnOwnerThatNeverUninitialisesStillPowersTheSensorDown) {
  Create();
  ASSERT_EQ(PVL_OK, service_->Initialize(ZUEUID_CLASS_S5K3E2FX_SENSOR_DRIVER, &view_));
  ASSERT_EQ(PVL_OK, service_->Start());
  service_.Reset();
  // TearDown: the sensor in reset, the bus closed, no block left.
}

TEST_F(SensorBoardTest, ASensorThatDoesNotAnswerFailsInitializeAndAllowsAnother) {
  Create();
  BoardSensorSetPresent(false);
  EXPECT_NE(PVL_OK, service_->Initialize(ZUEUID_CLASS_S5K3E2FX_SENSOR_DRIVER, &view_));
  EXPECT_EQ(view_.refs, 0);
  EXPECT_EQ(BoardI2cOpenCount(), 0);
  BoardSensorSetPresent(true);
  ASSERT_EQ(PVL_OK, service_->Initialize(ZUEUID_CLASS_S5K3E2FX_SENSOR_DRIVER, &view_));
  ASSERT_EQ(PVL_OK, service_->Uninitialize());
}

}  // namespace
