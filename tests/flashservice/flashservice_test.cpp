// The flash service and the flash configurations: first against a scripted
// driver and a flash settings double (detection, the intensity scaling, which
// configurers exist, the service's states and refusals, what it holds after
// each failure), then over the real white-LED driver and the board's LED:
// torch, flash and off.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "board_led.h"
#include "board_sim.h"
#include "cameraflashserviceconfigurations.h"
#include "ccameraflashservice.h"
#include "cpvlptr.h"
#include "hostsymbols.h"
#include "lifecycletable.h"
#include "orbhost_test.h"
#include "plindor.h"
#include "pvllog.h"
#include "scripteddriver.h"
#include "scriptedservicefixture.h"
#include "wince_sim.h"

using camera::test::CurrentDriverScript;
using camera::test::DriverScript;
using camera::test::ScriptedDriverFactory;

namespace {

template <class Case, class = decltype(std::declval<const Case&>().name)>
std::ostream& operator<<(std::ostream& os, const Case& c) {
  return os << c.name;
}

bool EndsWith(const std::string& s, const std::string& end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

class FlashViewDouble final : public IFlashSettings {
 public:
  int32_t AddRef() override { return ++refs; }
  int32_t Release() override { return --refs; }
  PvlResult QueryInterface(ZUEUID iid, void** out) override {
    if (!out) return PVL_E_NULLPTR;
    if (iid == ZUEUID_IFACE_BASE || (iid == ZUEUID_FLASH_SETTINGS && answersSettings)) {
      AddRef();
      *out = static_cast<IFlashSettings*>(this);
      return PVL_OK;
    }
    *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }
  PvlResult GetLampIntensity(CameraRange* out) override { return Give("lamp", out, lamp); }
  PvlResult GetSnapshotFlashIntensity(CameraRange* out) override { return Give("flash", out, flash); }
  PvlResult GetRedEyeReductionMode(uint32_t* out) override { return Give("strobeMode", out, strobeMode); }
  // Preflash count and charging mode: not offered, as in the system's view.
  PvlResult GetUnsupportedD(void* out) override { return out ? PVL_E_UNSUPPORTED : PVL_E_NULLPTR; }
  PvlResult GetUnsupportedE(void* out) override { return out ? PVL_E_UNSUPPORTED : PVL_E_NULLPTR; }
  PvlResult GetLampMode(uint32_t*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetSnapshotFlashMode(uint32_t*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetCurrentFlashDeviceId(uint32_t*) override { return PVL_E_UNSUPPORTED; }
  PvlResult IsFlashRequired(uint8_t*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetFlashNeeded(uint8_t*) override { return PVL_E_UNSUPPORTED; }
  PvlResult SetFlashWord(uint32_t) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetPreSnapshotState(uint32_t*) override { return PVL_E_UNSUPPORTED; }

  std::atomic<int32_t> refs{0};
  bool answersSettings = true;
  std::map<std::string, PvlResult> fail;
  CameraRange lamp{0, 10000, 1, 0, 0}, flash{0, 10000, 1, 0, 0};
  uint32_t strobeMode = 0;

 private:
  template <class T>
  PvlResult Give(const char* name, T* out, const T& value) {
    if (!out) return PVL_E_NULLPTR;
    auto f = fail.find(name);
    if (f != fail.end()) return f->second;
    *out = value;
    return PVL_OK;
  }
};

// ---- Over a scripted driver -------------------------------------------------------------

class FlashServiceTest
    : public camera::test::ScriptedServiceTest<CCameraFlashService, ICameraFlashService, ZUEUID_CLASS_FLASH_SERVICE,
                                               FlashViewDouble> {
 protected:
  void SetUp() override {
    SetUpScript(ZUEUID_CLASS_WHITE_LED_FLASH_DRIVER);
    script_.SetOutput(ZUEUID_FLASH_PROPERTY_DEVICE_TYPE, uint32_t{2});
    script_.SetOutput(ZUEUID_FLASH_CMD_LAMP_INTENSITY, FlashIntensityRecord{0, 0, 150});
    script_.SetOutput(ZUEUID_FLASH_CMD_STROBE_INTENSITY, FlashIntensityRecord{0, 0, 290});
    // What the white LED refuses.
    script_.Answer({ZUEUID_FLASH_CMD_DEVICE_STATE, ZUEUID_FLASH_CMD_STROBE_MODE, ZUEUID_FLASH_CMD_STROBE_CHARGING},
                   PVL_E_UNSUPPORTED);
    CountBlocks();
  }
  void Initialized() {
    ASSERT_EQ(PVL_OK, Create());
    ASSERT_EQ(PVL_OK, service_->Initialize(ZUEUID_CLASS_WHITE_LED_FLASH_DRIVER, &view_));
    script_.calls.clear();
  }
  CCameraFlashService::State State() { return Self()->GetState(); }
};

TEST_F(FlashServiceTest, DetectsTheLedAndListsIt) {
  OrbhostTest_MessageCaptureBegin();
  ASSERT_EQ(PVL_OK, Create());
  std::vector<OrbhostTestMessage> lines;
  for (const OrbhostTestMessage& m : OrbhostTest_MessageCaptureEnd())
    if (EndsWith(m.fileName, "/ccameraflashservice.cpp")) lines.push_back(m);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].text, "Detected flash device: Type=2, ID=0x0106c427");
  EXPECT_EQ(lines[0].line, 540);
  EXPECT_EQ(lines[1].text, "Number of flash devices detected: 1");
  EXPECT_EQ(lines[1].line, 545);
  EXPECT_EQ(script_.live, 0);

  uint32_t count = 0;
  ASSERT_EQ(PVL_OK, service_->GetFlashDevices(nullptr, 0, &count));
  EXPECT_EQ(count, 1u);
  CameraFlashDevice devices[3];
  memset(devices, 0xAB, sizeof devices);
  ASSERT_EQ(PVL_OK, service_->GetFlashDevices(devices, 3, &count));
  EXPECT_EQ(devices[0].deviceType, 2u);
  EXPECT_EQ(devices[0].driverClass, ZUEUID_CLASS_WHITE_LED_FLASH_DRIVER);
  EXPECT_EQ(devices[1].deviceType, 0u);  // the empty second slot copies as zeros
  EXPECT_EQ(devices[1].driverClass, 0u);
  EXPECT_EQ(devices[2].driverClass, 0xABABABABu);  // never past the two slots
  EXPECT_EQ(PVL_E_NULLPTR, service_->GetFlashDevices(nullptr, 1, &count));
  EXPECT_EQ(PVL_E_NULLPTR, service_->GetFlashDevices(devices, 1, nullptr));
  EXPECT_EQ(PVL_OK, service_->GetFlashDevices(devices, -1, &count));
}

TEST_F(FlashServiceTest, NoDeviceNoService) {
  script_.createResult = PVL_E_FAIL;
  OrbhostTest_MessageCaptureBegin();
  EXPECT_EQ(PVL_E_NODEVICE, Create());
  std::vector<OrbhostTestMessage> lines = OrbhostTest_MessageCaptureEnd();
  EXPECT_FALSE(service_);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().text, "Number of flash devices detected: 0");
}

TEST_F(FlashServiceTest, OnlyTwoDevicesAreRecordedButEveryCandidateIsTried) {
  for (ZUEUID clsid : {0x0106C440u, 0x0106C441u, 0x0106C2CAu})
    ASSERT_EQ(PVL_OK, OrbhostTest_RegisterClass(clsid, &ScriptedDriverFactory));
  ASSERT_EQ(PVL_OK, Create());
  EXPECT_EQ(script_.created, 4);
  EXPECT_EQ(script_.live, 0);
  CameraFlashDevice devices[2];
  uint32_t count = 0;
  ASSERT_EQ(PVL_OK, service_->GetFlashDevices(devices, 2, &count));
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(devices[0].driverClass, ZUEUID_CLASS_WHITE_LED_FLASH_DRIVER);
  EXPECT_EQ(devices[1].driverClass, 0x0106C440u);
}

TEST_F(FlashServiceTest, ADeviceWithoutTypeFailsTheCreation) {
  script_.answers[ZUEUID_FLASH_PROPERTY_DEVICE_TYPE] = PVL_E_FAIL;
  EXPECT_EQ(PVL_E_FAIL, Create());
  EXPECT_FALSE(service_);
  script_.answers.erase(ZUEUID_FLASH_PROPERTY_DEVICE_TYPE);
  script_.reportedLength[ZUEUID_FLASH_PROPERTY_DEVICE_TYPE] = 8;
  EXPECT_EQ(PVL_E_FAIL, Create());
}

TEST_F(FlashServiceTest, CreationRefusals) {
  void* out = nullptr;
  EXPECT_EQ(PVL_E_NULLPTR, CCameraFlashService::CreateInstance(nullptr, ZUEUID_CLASS_FLASH_SERVICE, env_.Get(), &out));
  EXPECT_EQ(PVL_E_NULLPTR, CCameraFlashService::CreateInstance(env_.Get(), ZUEUID_CLASS_FLASH_SERVICE, nullptr, &out));
  EXPECT_EQ(PVL_E_NULLPTR, CCameraFlashService::CreateInstance(env_.Get(), ZUEUID_CLASS_FLASH_SERVICE, env_.Get(), nullptr));
  EXPECT_EQ(PVL_E_NOTSUPPORTED, CCameraFlashService::CreateInstance(env_.Get(), 0x010707a1u, env_.Get(), &out));
  EXPECT_EQ(out, nullptr);
}

TEST_F(FlashServiceTest, InitializeBuildsTheLedsFourConfigurers) {
  ASSERT_EQ(PVL_OK, Create());
  EXPECT_EQ(PVL_E_NODEVICE, service_->Initialize(0x0106C440u, &view_));
  EXPECT_EQ(PVL_E_NULLPTR, service_->Initialize(ZUEUID_CLASS_WHITE_LED_FLASH_DRIVER, nullptr));
  EXPECT_EQ(State(), CCameraFlashService::State::Detected);
  CPvlPtr<IConfigCommand> configurer;
  EXPECT_EQ(PVL_E_NOTREADY, service_->GetConfigurer(ZUEUID_CONFIG_LAMP, &configurer));
  script_.calls.clear();
  ASSERT_EQ(PVL_OK, service_->Initialize(ZUEUID_CLASS_WHITE_LED_FLASH_DRIVER, &view_));
  EXPECT_EQ(State(), CCameraFlashService::State::Initialized);
  // The six first reads in creation order, then the power-up.
  EXPECT_EQ(script_.Commands(),
            (std::vector<uint32_t>{ZUEUID_FLASH_CMD_DEVICE_STATE, ZUEUID_FLASH_CMD_LAMP_INTENSITY,
                                   ZUEUID_FLASH_CMD_STROBE_INTENSITY, ZUEUID_FLASH_CMD_STROBE_MODE,
                                   ZUEUID_FLASH_CMD_STROBE_CHARGING, ZUEUID_FLASH_CMD_OUTPUT_MODE,
                                   ZUEUID_FLASH_CMD_POWER_UP}));
  const int created = script_.created;
  EXPECT_EQ(PVL_OK, service_->Initialize(ZUEUID_CLASS_WHITE_LED_FLASH_DRIVER, &view_));  // already: nothing new
  EXPECT_EQ(script_.created, created);

  for (uint32_t id : {ZUEUID_CONFIG_LAMP, ZUEUID_CONFIG_STROBE, ZUEUID_CONFIG_VIDEO, ZUEUID_CONFIG_SNAPSHOT}) {
    CPvlPtr<IConfigCommand> c;
    EXPECT_EQ(PVL_OK, service_->GetConfigurer(id, &c)) << std::hex << id;
  }
  EXPECT_EQ(PVL_E_UNSUPPORTED, service_->GetConfigurer(ZUEUID_CONFIG_STROBE_MODE, &configurer));
  EXPECT_EQ(PVL_E_UNSUPPORTED, service_->GetConfigurer(ZUEUID_CONFIG_STROBE_CHARGING, &configurer));
  EXPECT_EQ(PVL_E_BADARG, service_->GetConfigurer(ZUEUID_CONFIG_EXPOSURE, &configurer));
  EXPECT_EQ(PVL_E_NULLPTR, service_->GetConfigurer(ZUEUID_CONFIG_LAMP, nullptr));
}

struct ScaleCase {
  const char* name;
  uint32_t configuration;
  FlashIntensityRecord driver;
  CameraRange setting;
  std::vector<int32_t> sent;
};
class IntensityTest : public FlashServiceTest, public ::testing::WithParamInterface<ScaleCase> {};

TEST_P(IntensityTest, SendsTheDriversRangeWithTheScaledValue) {
  const ScaleCase& c = GetParam();
  const uint32_t command =
      c.configuration == ZUEUID_CONFIG_LAMP ? ZUEUID_FLASH_CMD_LAMP_INTENSITY : ZUEUID_FLASH_CMD_STROBE_INTENSITY;
  script_.SetOutput(command, c.driver);
  Initialized();
  view_.lamp = view_.flash = c.setting;
  ASSERT_EQ(PVL_OK, Run(c.configuration));
  EXPECT_EQ(script_.CountOf(command), 1u);
  EXPECT_EQ(script_.SentWords(command), c.sent);
}

INSTANTIATE_TEST_SUITE_P(
    Flash, IntensityTest,
    ::testing::Values(ScaleCase{"TorchHalf", ZUEUID_CONFIG_LAMP, {0, 0, 150}, {0, 10000, 1, 0, 5000}, {0, 75, 150}},
                      ScaleCase{"TorchLowest", ZUEUID_CONFIG_LAMP, {0, 0, 150}, {0, 10000, 1, 0, 34}, {0, 1, 150}},
                      ScaleCase{"FlashTwoThirds", ZUEUID_CONFIG_STROBE, {0, 0, 290}, {0, 10000, 1, 0, 6667},
                                {0, 193, 290}},
                      ScaleCase{"FlashFull", ZUEUID_CONFIG_STROBE, {0, 0, 290}, {0, 10000, 1, 0, 10000}, {0, 290, 290}},
                      ScaleCase{"EqualRangesKeepTheValue", ZUEUID_CONFIG_LAMP, {0, 0, 150}, {0, 150, 1, 0, 42},
                                {0, 42, 150}},
                      ScaleCase{"EmptyDriverRange", ZUEUID_CONFIG_LAMP, {7, 0, 7}, {0, 10000, 1, 0, 9000}, {7, 7, 7}},
                      // The middle of the driver's range, never outside it.
                      ScaleCase{"EmptySettingRange", ZUEUID_CONFIG_STROBE, {10, 0, 20}, {5, 5, 1, 5, 5},
                                {10, 15, 20}}),
    [](const ::testing::TestParamInfo<ScaleCase>& info) { return std::string(info.param.name); });

TEST_F(FlashServiceTest, OutputModeForStillAndPreview) {
  Initialized();
  ASSERT_EQ(PVL_OK, Run(ZUEUID_CONFIG_SNAPSHOT));
  EXPECT_EQ(script_.SentWords(ZUEUID_FLASH_CMD_OUTPUT_MODE), std::vector<int32_t>{1});
  ASSERT_EQ(PVL_OK, Run(ZUEUID_CONFIG_VIDEO));
  EXPECT_EQ(script_.SentWords(ZUEUID_FLASH_CMD_OUTPUT_MODE), std::vector<int32_t>{0});
  EXPECT_EQ(script_.CountOf(ZUEUID_FLASH_CMD_OUTPUT_MODE), 2u);
}

TEST_F(FlashServiceTest, StrobeModeAndChargingOnADriverThatTakesThem) {
  script_.answers.clear();
  Initialized();
  view_.strobeMode = 1;
  // The view offers no preflash count nor charging mode: nothing reaches the driver.
  EXPECT_EQ(PVL_E_UNSUPPORTED, Run(ZUEUID_CONFIG_STROBE_MODE));
  EXPECT_EQ(PVL_E_UNSUPPORTED, Run(ZUEUID_CONFIG_STROBE_CHARGING));
  view_.fail["strobeMode"] = PVL_E_FAIL;  // a property value the view does not know
  EXPECT_EQ(PVL_E_FAIL, Run(ZUEUID_CONFIG_STROBE_MODE));
  EXPECT_EQ(script_.CountOf(ZUEUID_FLASH_CMD_STROBE_MODE), 0u);
  EXPECT_EQ(script_.CountOf(ZUEUID_FLASH_CMD_STROBE_CHARGING), 0u);
}

TEST_F(FlashServiceTest, ASettingsReadFailureSendsNothing) {
  Initialized();
  view_.fail["lamp"] = PVL_E_NOTREADY;
  EXPECT_EQ(PVL_E_NOTREADY, Run(ZUEUID_CONFIG_LAMP));
  EXPECT_EQ(script_.CountOf(ZUEUID_FLASH_CMD_LAMP_INTENSITY), 0u);
}

TEST_F(FlashServiceTest, LifeCycle) {
  Initialized();
  uint32_t word = 0;
  ASSERT_EQ(PVL_OK, service_->Start());
  EXPECT_EQ(PVL_OK, service_->Start());
  EXPECT_EQ(script_.CountOf(ZUEUID_FLASH_CMD_START), 1u);
  EXPECT_EQ(PVL_E_NOTREADY, service_->Suspend());
  EXPECT_EQ(PVL_E_NOTREADY, service_->Resume());
  EXPECT_EQ(PVL_E_NOTREADY, service_->GetDeviceType(&word));
  CPvlPtr<IConfigCommand> lamp;
  EXPECT_EQ(PVL_OK, service_->GetConfigurer(ZUEUID_CONFIG_LAMP, &lamp));
  lamp.Reset();
  ASSERT_EQ(PVL_OK, service_->Stop());
  EXPECT_EQ(PVL_OK, service_->Stop());
  EXPECT_EQ(script_.CountOf(ZUEUID_FLASH_CMD_STOP), 1u);
  EXPECT_EQ(PVL_OK, service_->Resume());  // initialised: nothing to do
  ASSERT_EQ(PVL_OK, service_->GetDeviceType(&word));
  EXPECT_EQ(word, 2u);

  script_.calls.clear();
  ASSERT_EQ(PVL_OK, service_->Suspend());
  EXPECT_EQ(script_.Commands(), std::vector<uint32_t>{ZUEUID_FLASH_CMD_POWER_DOWN});
  ExpectClosed(true);
  EXPECT_EQ(PVL_OK, service_->Suspend());
  EXPECT_EQ(PVL_E_NOTREADY, service_->GetConfigurer(ZUEUID_CONFIG_LAMP, &lamp));
  EXPECT_EQ(PVL_E_NOTREADY, service_->Start());
  EXPECT_EQ(PVL_E_NOTREADY, service_->Reset());
  const int created = script_.created;
  ASSERT_EQ(PVL_OK, service_->Resume());
  EXPECT_EQ(script_.created, created + 1);
  EXPECT_EQ(script_.CountOf(ZUEUID_FLASH_CMD_POWER_UP), 1u);
  EXPECT_EQ(PVL_OK, Run(ZUEUID_CONFIG_LAMP));

  ASSERT_EQ(PVL_OK, service_->Start());
  script_.calls.clear();
  ASSERT_EQ(PVL_OK, service_->Uninitialize());
  EXPECT_EQ(script_.Commands(), (std::vector<uint32_t>{ZUEUID_FLASH_CMD_STOP, ZUEUID_FLASH_CMD_POWER_DOWN}));
  ExpectClosed(false);
  EXPECT_EQ(PVL_OK, service_->Uninitialize());
  EXPECT_EQ(PVL_E_NOTREADY, service_->Resume());
  ASSERT_EQ(PVL_OK, service_->Initialize(ZUEUID_CLASS_WHITE_LED_FLASH_DRIVER, &view_));
  ASSERT_EQ(PVL_OK, service_->Uninitialize());
}

TEST_F(FlashServiceTest, ResetAndDeviceQueries) {
  ASSERT_EQ(PVL_OK, Create());
  uint32_t word = 0;
  EXPECT_EQ(PVL_E_NOTREADY, service_->Reset());  // no driver to reset
  EXPECT_EQ(PVL_E_NULLPTR, service_->GetDeviceFlags(nullptr));
  EXPECT_EQ(PVL_E_NOTREADY, service_->GetDeviceFlags(&word));
  ASSERT_EQ(PVL_OK, service_->Initialize(ZUEUID_CLASS_WHITE_LED_FLASH_DRIVER, &view_));
  script_.calls.clear();
  ASSERT_EQ(PVL_OK, service_->Start());
  ASSERT_EQ(PVL_OK, service_->Reset());  // stops first
  EXPECT_EQ(script_.Commands(),
            (std::vector<uint32_t>{ZUEUID_FLASH_CMD_START, ZUEUID_FLASH_CMD_STOP, ZUEUID_FLASH_CMD_RESET}));
  EXPECT_EQ(State(), CCameraFlashService::State::Initialized);
  script_.SetOutput(ZUEUID_FLASH_PROPERTY_DEVICE_EXTRA, uint32_t{77});
  ASSERT_EQ(PVL_OK, service_->GetDeviceExtra(&word));
  EXPECT_EQ(word, 77u);
  script_.reportedLength[ZUEUID_FLASH_PROPERTY_DEVICE_FLAGS] = 5;
  EXPECT_EQ(PVL_E_FAIL, service_->GetDeviceFlags(&word));
  service_->Uninitialize();
}

TEST_F(FlashServiceTest, SetDeviceState) {
  ASSERT_EQ(PVL_OK, Create());
  EXPECT_EQ(PVL_E_NULLPTR, service_->SetDeviceState(1, 0));  // in every state
  EXPECT_EQ(PVL_E_NOTREADY, service_->SetDeviceState(1, 5));
  ASSERT_EQ(PVL_OK, service_->Initialize(ZUEUID_CLASS_WHITE_LED_FLASH_DRIVER, &view_));
  EXPECT_EQ(PVL_E_NULLPTR, service_->SetDeviceState(1, 0));
  EXPECT_EQ(PVL_E_UNSUPPORTED, service_->SetDeviceState(1, 5));  // the LED has no device state
  script_.answers.erase(ZUEUID_FLASH_CMD_DEVICE_STATE);
  ASSERT_EQ(PVL_OK, service_->Start());
  ASSERT_EQ(PVL_OK, service_->SetDeviceState(3, 0x80));
  EXPECT_EQ(script_.SentWords(ZUEUID_FLASH_CMD_DEVICE_STATE), (std::vector<int32_t>{3, 0x80}));
  script_.reportedLength[ZUEUID_FLASH_CMD_DEVICE_STATE] = 9;
  EXPECT_EQ(PVL_E_FAIL, service_->SetDeviceState(3, 0x80));
  service_->Uninitialize();
}

struct FlashInitFailure {
  const char* name;
  std::function<void(DriverScript&, FlashViewDouble&)> fault;
  PvlResult expected;
};
class FlashInitializeFailureTest : public FlashServiceTest, public ::testing::WithParamInterface<FlashInitFailure> {};

TEST_P(FlashInitializeFailureTest, RollsBackAndCanBeRetried) {
  ASSERT_EQ(PVL_OK, Create());
  GetParam().fault(script_, view_);
  EXPECT_EQ(GetParam().expected, service_->Initialize(ZUEUID_CLASS_WHITE_LED_FLASH_DRIVER, &view_));
  EXPECT_EQ(State(), CCameraFlashService::State::Detected);
  ExpectClosed(false);
  script_.answers.clear();
  script_.createResult = PVL_OK;
  view_.answersSettings = true;
  const uint32_t breaks = OrbhostTest_BreakCount();
  ASSERT_EQ(PVL_OK, service_->Initialize(ZUEUID_CLASS_WHITE_LED_FLASH_DRIVER, &view_));
  EXPECT_EQ(OrbhostTest_BreakCount(), breaks) << "a holder was filled twice";
  ASSERT_EQ(PVL_OK, service_->Uninitialize());
}

INSTANTIATE_TEST_SUITE_P(
    Flash, FlashInitializeFailureTest,
    ::testing::Values(
        FlashInitFailure{"DriverCannotBeMade", [](DriverScript& s, FlashViewDouble&) { s.createResult = PVL_E_FAIL; },
                         PVL_E_FAIL},
        FlashInitFailure{"ClientWithoutSettings",
                         [](DriverScript&, FlashViewDouble& v) { v.answersSettings = false; }, PVL_E_NOTSUPPORTED},
        FlashInitFailure{"AValueFailsItsFirstRead",
                         [](DriverScript& s, FlashViewDouble&) { s.answers[ZUEUID_FLASH_CMD_LAMP_INTENSITY] = 14; },
                         PVL_E_BADARG},
        FlashInitFailure{"PowerUpFails",
                         [](DriverScript& s, FlashViewDouble&) { s.answers[ZUEUID_FLASH_CMD_POWER_UP] = 1; },
                         PVL_E_FAIL}),
    [](const ::testing::TestParamInfo<FlashInitFailure>& info) { return std::string(info.param.name); });

TEST_F(FlashServiceTest, AFailedResumeStaysSuspendedAndCanBeRetried) {
  Initialized();
  ASSERT_EQ(PVL_OK, service_->Suspend());
  script_.answers[ZUEUID_FLASH_CMD_POWER_UP] = PVL_E_FAIL;
  EXPECT_EQ(PVL_E_FAIL, service_->Resume());
  EXPECT_EQ(State(), CCameraFlashService::State::Suspended);
  ExpectClosed(true);
  script_.answers.erase(ZUEUID_FLASH_CMD_POWER_UP);
  ASSERT_EQ(PVL_OK, service_->Resume());
  ASSERT_EQ(PVL_OK, service_->Uninitialize());
}

TEST_F(FlashServiceTest, ARefusedPowerDownStillClosesTheService) {
  Initialized();
  script_.answers[ZUEUID_FLASH_CMD_POWER_DOWN] = PVL_E_FAIL;
  EXPECT_EQ(PVL_E_FAIL, service_->Uninitialize());
  EXPECT_EQ(State(), CCameraFlashService::State::Detected);
  ExpectClosed(false);
  script_.answers.erase(ZUEUID_FLASH_CMD_POWER_DOWN);
  ASSERT_EQ(PVL_OK, service_->Initialize(ZUEUID_CLASS_WHITE_LED_FLASH_DRIVER, &view_));
  ASSERT_EQ(PVL_OK, service_->Uninitialize());
}

TEST_F(FlashServiceTest, ARefusedStopKeepsItStarted) {
  Initialized();
  ASSERT_EQ(PVL_OK, service_->Start());
  script_.answers[ZUEUID_FLASH_CMD_STOP] = PVL_E_FAIL;
  EXPECT_EQ(PVL_E_FAIL, service_->Stop());
  EXPECT_EQ(PVL_E_FAIL, service_->Uninitialize());
  EXPECT_EQ(State(), CCameraFlashService::State::Started);
  script_.answers.erase(ZUEUID_FLASH_CMD_STOP);
  ASSERT_EQ(PVL_OK, service_->Uninitialize());
}

TEST_F(FlashServiceTest, ReleasedWhileOpenItLetsEverythingGo) {
  Initialized();
  ASSERT_EQ(PVL_OK, service_->Start());
  service_.Reset();
  EXPECT_EQ(script_.CountOf(ZUEUID_FLASH_CMD_POWER_DOWN), 1u);  // the LED goes dark
  // TearDown: no driver, no view, no block left.
}

// The flash's life cycle, row by row: a repeated operation answers 0, and a
// stop the LED refuses leaves the service started.
constexpr uint32_t kUp = ZUEUID_FLASH_CMD_POWER_UP, kDown = ZUEUID_FLASH_CMD_POWER_DOWN,
                   kStart = ZUEUID_FLASH_CMD_START, kStop = ZUEUID_FLASH_CMD_STOP, kReset = ZUEUID_FLASH_CMD_RESET;

const char* FlashCommandName(uint32_t command) {
  switch (command) {
    case kUp: return "PowerUp";
    case kDown: return "PowerDown";
    case kStart: return "Start";
    case kStop: return "Stop";
    case kReset: return "Reset";
  }
  return "Other";
}

class FlashLifeCycleTest : public camera::test::LifeCycleTableTest<FlashServiceTest> {};

TEST_P(FlashLifeCycleTest, FollowsItsRow) { CheckRow(ZUEUID_CLASS_WHITE_LED_FLASH_DRIVER, {kUp, kDown, kStart, kStop, kReset}); }

using Op = ServiceOperation;
using St = ServiceState;
using Row = camera::test::LifeCycleRow;
INSTANTIATE_TEST_SUITE_P(
    Flash, FlashLifeCycleTest,
    ::testing::Values(
        // from, operation, refused, answer, sent, to
        Row{St::Detected, Op::Initialize, 0, PVL_OK, {kUp}, St::Initialized},
        Row{St::Detected, Op::Initialize, kUp, PVL_E_FAIL, {kUp}, St::Detected},
        Row{St::Detected, Op::Uninitialize, 0, PVL_OK, {}, St::Detected},
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
        Row{St::Suspended, Op::Suspend, 0, PVL_OK, {}, St::Suspended},
        Row{St::Suspended, Op::Resume, 0, PVL_OK, {kUp}, St::Initialized},
        Row{St::Suspended, Op::Resume, kUp, PVL_E_FAIL, {kUp}, St::Suspended},

        Row{St::Initialized, Op::Initialize, 0, PVL_OK, {}, St::Initialized},
        Row{St::Initialized, Op::Uninitialize, 0, PVL_OK, {kDown}, St::Detected},
        Row{St::Initialized, Op::Uninitialize, kDown, PVL_E_FAIL, {kDown}, St::Detected},
        Row{St::Initialized, Op::Start, 0, PVL_OK, {kStart}, St::Started},
        Row{St::Initialized, Op::Start, kStart, PVL_E_FAIL, {kStart}, St::Initialized},
        Row{St::Initialized, Op::Stop, 0, PVL_OK, {}, St::Initialized},
        Row{St::Initialized, Op::Reset, 0, PVL_OK, {kReset}, St::Initialized},
        Row{St::Initialized, Op::Reset, kReset, PVL_E_FAIL, {kReset}, St::Initialized},
        Row{St::Initialized, Op::Suspend, 0, PVL_OK, {kDown}, St::Suspended},
        Row{St::Initialized, Op::Suspend, kDown, PVL_E_FAIL, {kDown}, St::Initialized},
        Row{St::Initialized, Op::Resume, 0, PVL_OK, {}, St::Initialized},

        Row{St::Started, Op::Initialize, 0, PVL_E_NOTREADY, {}, St::Started},
        Row{St::Started, Op::Uninitialize, 0, PVL_OK, {kStop, kDown}, St::Detected},
        Row{St::Started, Op::Uninitialize, kStop, PVL_E_FAIL, {kStop}, St::Started},
        Row{St::Started, Op::Uninitialize, kDown, PVL_E_FAIL, {kStop, kDown}, St::Detected},
        Row{St::Started, Op::Start, 0, PVL_OK, {}, St::Started},
        Row{St::Started, Op::Stop, 0, PVL_OK, {kStop}, St::Initialized},
        Row{St::Started, Op::Stop, kStop, PVL_E_FAIL, {kStop}, St::Started},
        Row{St::Started, Op::Reset, 0, PVL_OK, {kStop, kReset}, St::Initialized},
        Row{St::Started, Op::Reset, kStop, PVL_OK, {kStop, kReset}, St::Started},
        Row{St::Started, Op::Suspend, 0, PVL_E_NOTREADY, {}, St::Started},
        Row{St::Started, Op::Resume, 0, PVL_E_NOTREADY, {}, St::Started}),
    [](const ::testing::TestParamInfo<Row>& info) {
      return camera::test::RowName(info.param, FlashCommandName(info.param.refused));
    });

TEST_F(FlashServiceTest, DumpLinesAndFaces) {
  Initialized();
  IFlashConfigurationSet* none = nullptr;
  EXPECT_EQ(PVL_E_NULLPTR, CFlashConfigurationSet::Create(env_.Get(), nullptr, &none));
  ASSERT_EQ(PVL_OK, Run(ZUEUID_CONFIG_LAMP));
  CPvlPtr<IConfigCommand> c;
  void* out = &out;
  ASSERT_EQ(PVL_OK, service_->GetConfigurer(ZUEUID_CONFIG_LAMP, &c));
  EXPECT_EQ(PVL_E_BADARG, c->QueryInterface(ZUEUID_IFACE_CONFIG_COMMAND, nullptr));
  EXPECT_EQ(PVL_E_NOTSUPPORTED, c->QueryInterface(ZUEUID_IFACE_FLASH_CONFIGURATION, &out));
  for (ZUEUID iid : {ZUEUID_IFACE_FLASH_SERVICE, 0x0103ED71u, 0x0108A2BBu}) {
    out = nullptr;
    ASSERT_EQ(PVL_OK, service_->QueryInterface(iid, &out)) << std::hex << iid;
    EXPECT_EQ(out, static_cast<void*>(service_.Get()));
    static_cast<IPvlBase*>(out)->Release();
  }
  EXPECT_EQ(PVL_E_NULLPTR, service_->QueryInterface(ZUEUID_IFACE_FLASH_SERVICE, nullptr));
  service_->Uninitialize();
}

TEST(FlashDumps, LinesKeepTheirPlacesAndFormats) {
  CPvlPtr<IEnv> env;
  ASSERT_EQ(PVL_OK, env_env_CreateInstance(ZUEUID_CLASS_ENV, env.Out()));
  DriverScript script;
  script.SetOutput(ZUEUID_FLASH_CMD_LAMP_INTENSITY, FlashIntensityRecord{0, 75, 150});
  script.SetOutput(ZUEUID_FLASH_CMD_DEVICE_STATE, FlashDeviceStateRecord{3, 0x1f});
  camera::test::ScriptedDriver* driver = new camera::test::ScriptedDriver(&script);
  driver->AddRef();
  {
    CPvlPtr<IFlashConfigurationSet> set;
    ASSERT_EQ(PVL_OK, CFlashConfigurationSet::Create(env.Get(), driver, &set));
    CPvlPtr<IFlashConfiguration> lamp, state, charging;
    ASSERT_EQ(PVL_OK, set->GetLampIntensity(&lamp));
    ASSERT_EQ(PVL_OK, set->GetDeviceState(&state));
    ASSERT_EQ(PVL_OK, set->GetStrobeCharging(&charging));
    OrbhostTest_MessageCaptureBegin();
    lamp->Dump();
    state->Dump();
    charging->Dump();
    std::vector<OrbhostTestMessage> lines = OrbhostTest_MessageCaptureEnd();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].text, "nMinimumLampIntensity: 0; nLampIntensity: 75;" + std::string(26, ' ') +
                                 "nMaximumLampIntensity: 150");
    EXPECT_EQ(lines[0].line, 113);
    EXPECT_TRUE(EndsWith(lines[0].fileName, "/cameraflashserviceconfigurations.cpp"));
    EXPECT_EQ(lines[1].text, "deviceState: 3; signal: 1f");
    EXPECT_EQ(lines[1].line, 79);
    EXPECT_EQ(lines[2].line, 457);
    EXPECT_EQ(lines[0].level, CAMERA_LOG_NOTABLE);
  }
  driver->Release();
  EXPECT_EQ(script.live, 0);
}

// ---- Over the white-LED driver and the board's LED ------------------------------------------

class FlashBoardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BoardSimReset();
    CeSimClearFaults();
    OrbhostTest_UnregisterAllClasses();
    ASSERT_EQ(InitFlashLight(), 1);
    ASSERT_EQ(PVL_OK, env_env_CreateInstance(ZUEUID_CLASS_ENV, env_.Out()));
    // Mapping a module keeps blocks of its own for the process: map it first.
    Create();
    service_.Reset();
    BoardLedClearRecords();
    blocks_ = OrbhostTest_LiveBlocks(nullptr);
  }
  void TearDown() override {
    service_.Reset();
    EXPECT_EQ(view_.refs, 0);
    EXPECT_EQ(LedSettlesOn(kLedOff), kLedOff) << "the LED was left on";
    EXPECT_EQ(OrbhostTest_LiveBlocks(nullptr), blocks_) << "framework blocks left";
    PMICFlashLED_SetCurrent(0);
    env_.Reset();
  }
  void Create() {
    ASSERT_EQ(PVL_OK, env_->CreateInstance(ZUEUID_CLASS_FLASH_SERVICE, service_.Out()));
    ASSERT_TRUE(service_);
  }
  PvlResult Run(uint32_t configuration) {
    CPvlPtr<IConfigCommand> configurer;
    PvlResult r = service_->GetConfigurer(configuration, &configurer);
    return r != PVL_OK ? r : configurer->Configure();
  }
  // The LED's state once it settled on `expected` (the torch is decoded from
  // pulses, so it shows a moment after the call); the last state seen else.
  static BoardLedMode LedSettlesOn(BoardLedMode expected) {
    BoardLedState s = BoardLedNow();
    for (int i = 0; i < 400 && s.mode != expected; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      s = BoardLedNow();
    }
    return s.mode;
  }

  CPvlPtr<IEnv> env_;
  uint32_t blocks_ = 0;
  FlashViewDouble view_;
  CPvlPtr<ICameraFlashService> service_;
};

TEST_F(FlashBoardTest, TorchFlashAndOff) {
  Create();
  EXPECT_EQ(1, OrbhostTest_IsModuleMapped("Corvane"));
  CameraFlashDevice device{};
  uint32_t count = 0;
  ASSERT_EQ(PVL_OK, service_->GetFlashDevices(&device, 1, &count));
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(device.deviceType, 2u);
  EXPECT_EQ(device.driverClass, ZUEUID_CLASS_WHITE_LED_FLASH_DRIVER);

  ASSERT_EQ(PVL_OK, service_->Initialize(ZUEUID_CLASS_WHITE_LED_FLASH_DRIVER, &view_));
  EXPECT_EQ(BoardLedNow().mode, kLedOff);
  CPvlPtr<IConfigCommand> configurer;
  EXPECT_EQ(PVL_E_UNSUPPORTED, service_->GetConfigurer(ZUEUID_CONFIG_STROBE_MODE, &configurer));

  // Torch: the lamp at half its setting, preview mode, started.
  view_.lamp = {0, 10000, 1, 0, 5000};
  ASSERT_EQ(PVL_OK, Run(ZUEUID_CONFIG_LAMP));
  ASSERT_EQ(PVL_OK, Run(ZUEUID_CONFIG_VIDEO));
  ASSERT_EQ(PVL_OK, service_->Start());
  EXPECT_EQ(LedSettlesOn(kLedTorch), kLedTorch);
  ASSERT_EQ(PVL_OK, service_->Stop());
  EXPECT_EQ(LedSettlesOn(kLedOff), kLedOff);

  // Strobe: the flash intensity and the still's mode.
  view_.flash = {0, 10000, 1, 0, 10000};
  ASSERT_EQ(PVL_OK, Run(ZUEUID_CONFIG_STROBE));
  ASSERT_EQ(PVL_OK, Run(ZUEUID_CONFIG_SNAPSHOT));
  ASSERT_EQ(PVL_OK, service_->Start());
  EXPECT_EQ(LedSettlesOn(kLedFlash), kLedFlash);
  ASSERT_EQ(PVL_OK, service_->Stop());
  EXPECT_EQ(LedSettlesOn(kLedOff), kLedOff);

  // Lit again, then suspended and uninitialised: dark.
  ASSERT_EQ(PVL_OK, Run(ZUEUID_CONFIG_VIDEO));
  ASSERT_EQ(PVL_OK, service_->Start());
  EXPECT_EQ(LedSettlesOn(kLedTorch), kLedTorch);
  ASSERT_EQ(PVL_OK, service_->Uninitialize());
  EXPECT_EQ(LedSettlesOn(kLedOff), kLedOff);
}

TEST_F(FlashBoardTest, SuspendAndResumeKeepItDark) {
  Create();
  ASSERT_EQ(PVL_OK, service_->Initialize(ZUEUID_CLASS_WHITE_LED_FLASH_DRIVER, &view_));
  ASSERT_EQ(PVL_OK, service_->Suspend());
  ASSERT_EQ(PVL_OK, service_->Resume());
  EXPECT_EQ(BoardLedNow().mode, kLedOff);
  view_.lamp = {0, 10000, 1, 0, 10000};
  ASSERT_EQ(PVL_OK, Run(ZUEUID_CONFIG_LAMP));
  ASSERT_EQ(PVL_OK, Run(ZUEUID_CONFIG_VIDEO));
  ASSERT_EQ(PVL_OK, service_->Start());
  EXPECT_EQ(LedSettlesOn(kLedTorch), kLedTorch);
  ASSERT_EQ(PVL_OK, service_->Stop());
  EXPECT_EQ(LedSettlesOn(kLedOff), kLedOff);
  ASSERT_EQ(PVL_OK, service_->Uninitialize());
}

}  // namespace

namespace {

TEST_F(FlashBoardTest, AnOwnerThatNeverUninitialisesLeavesTheLedDark) {
  Create();
  ASSERT_EQ(PVL_OK, service_->Initialize(ZUEUID_CLASS_WHITE_LED_FLASH_DRIVER, &view_));
  view_.lamp = {0, 10000, 1, 0, 10000};
  ASSERT_EQ(PVL_OK, Run(ZUEUID_CONFIG_LAMP));
  ASSERT_EQ(PVL_OK, Run(ZUEUID_CONFIG_VIDEO));
  ASSERT_EQ(PVL_OK, service_->Start());
  EXPECT_EQ(LedSettlesOn(kLedTorch), kLedTorch);
  service_.Reset();
  // TearDown: the LED off, the view and every block released.
}

}  // namespace
