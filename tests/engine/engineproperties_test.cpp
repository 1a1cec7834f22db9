// The engine's property application over service doubles: where each client
// property goes (sensor, VFE, plug-in, lens), the tuning-data selection and
// best-shot modes, and which statistics plug-ins the configuration brings.
#include <gtest/gtest.h>

#include <functional>

#include "camerapropertyids.h"
#include "ccameraelfsmanager.h"
#include "ccameratuningdata.h"
#include "csensorinfoproxy.h"
#include "enginefixture.h"
#include "tuningdataprovider.h"

namespace enginetest {
namespace {

class EnginePropertiesTest : public EngineFixture {
 public:
  // Capability words of the sensor double.
  void OnSensorExposure() { doubles_->sensor.capabilities.Words[0] = 1; }
  void OnSensorAntibanding() { doubles_->sensor.capabilities.Words[2] = 1; }
  void FocusByAlgorithm() { doubles_->sensor.capabilities.Words[4] = 4; }
  void FocusOnSensor() { doubles_->sensor.capabilities.Words[4] = 2; }
  void OnSensorWhiteBalance() { doubles_->sensor.capabilities.Words[6] = 1; }

  // The engine initialised (the machine in Ready) on a configuration with the
  // given plug-ins.
  void ReadyWith(const std::vector<ElfsLine>& elfs) {
    std::string config = WriteEngineConfig("Properties.xml", kSensorClass, kDefaultTuning,
                                           {{3, 0x0108aecfu}, {5, 0x0108aed1u}}, elfs);
    ASSERT_EQ(PVL_OK, Make(config));
    ASSERT_EQ(PVL_OK, engine_->FrontEnd()->Initialize(kSensorClass));
    ASSERT_EQ(State(), 1);
  }
  void Ready() { ReadyWith({{ZUEUID_CLASS_FLASH_ELFS, "Flash"}, {0x01046293u, "AEC"}}); }
};

constexpr uint32_t kAec = 0x01046293u;
constexpr uint32_t kAwb = 0x010460c4u;
constexpr uint32_t kAf = 0x01045ccfu;
constexpr uint32_t kOther = 0x01045cd0u;

// One property, one sensor: the call that must reach a service (or none).
TEST_F(EnginePropertiesTest, EachPropertyGoesWhereTheWorkIsDone) {
  struct Case {
    const char* name;
    std::function<void(EnginePropertiesTest*)> sensor;
    std::vector<ElfsLine> elfs;
    uint32_t property;
    PvlResult expected;
    const char* call;  // null: no configurer and no plug-in is run
  };
  auto bayer = [](EnginePropertiesTest*) {};
  auto yuv = [](EnginePropertiesTest* t) { t->doubles_->sensor.SetYuv(true); };
  const std::vector<ElfsLine> flashOnly = {{ZUEUID_CLASS_FLASH_ELFS, "Flash"}};
  const std::vector<ElfsLine> withAec = {{ZUEUID_CLASS_FLASH_ELFS, "Flash"}, {kAec, "AEC"}};
  const std::vector<ElfsLine> withAf = {{ZUEUID_CLASS_FLASH_ELFS, "Flash"}, {kAf, "AF"}};
  const Case cases[] = {
      {"BrightnessOnBayerGoesToTheVfe", bayer, flashOnly, ZUEUID_PROPERTY_BRIGHTNESS, PVL_OK,
       "Vfe.Configure(0x01062980)"},
      {"BrightnessOnYuvGoesToTheSensor", yuv, flashOnly, ZUEUID_PROPERTY_BRIGHTNESS, PVL_OK,
       "Sensor.Configure(0x01062980)"},
      {"SharpnessOnYuvGoesToTheSensor", yuv, flashOnly, ZUEUID_PROPERTY_SHARPNESS, PVL_OK,
       "Sensor.Configure(0x0106298b)"},
      {"ImageEffectOnBayerGoesToTheVfe", bayer, flashOnly, ZUEUID_PROPERTY_IMAGE_EFFECT_MODE, PVL_OK,
       "Vfe.Configure(0x01062987)"},
      {"ApertureIsNotApplied", bayer, flashOnly, ZUEUID_PROPERTY_APERTURE, PVL_OK, nullptr},
      {"HighDynamicRangeIsNotApplied", bayer, flashOnly, ZUEUID_PROPERTY_HIGH_DYNAMIC_RANGE_MODE, PVL_OK, nullptr},
      {"BeyondTheTableIsNotApplied", bayer, flashOnly, ZUEUID_PROPERTY_ZOOM_MAGNIFICATION + 1, PVL_OK, nullptr},
      {"SnapshotPropertyIsNotApplied", bayer, flashOnly, ZUEUID_PROPERTY_SNAPSHOT_FLASH_MODE, PVL_OK, nullptr},
      {"AntibandingByThePlugin", bayer, withAec, ZUEUID_PROPERTY_ANTIBANDING_MODE, PVL_OK, "AEC.Configure"},
      {"AntibandingWithoutAnExposurePlugin", bayer, flashOnly, ZUEUID_PROPERTY_ANTIBANDING_MODE, PVL_E_UNSUPPORTED,
       nullptr},
      {"AntibandingOnTheSensor",
       [](EnginePropertiesTest* t) {
         t->OnSensorExposure();
         t->OnSensorAntibanding();
       },
       withAec, ZUEUID_PROPERTY_ANTIBANDING_MODE, PVL_OK, "Sensor.Configure(0x01062971)"},
      {"AntibandingTheSensorCannotDo", [](EnginePropertiesTest* t) { t->OnSensorExposure(); }, withAec,
       ZUEUID_PROPERTY_ANTIBANDING_MODE, PVL_E_UNSUPPORTED, nullptr},
      {"IsoOnTheSensor", [](EnginePropertiesTest* t) { t->OnSensorExposure(); }, withAec, ZUEUID_PROPERTY_ISO_MODE,
       PVL_OK, "Sensor.Configure(0x01062979)"},
      {"MeteringByThePlugin", bayer, withAec, ZUEUID_PROPERTY_EXPOSURE_RECTS, PVL_OK, "AEC.Configure"},
      {"WhiteBalanceOnTheSensor", [](EnginePropertiesTest* t) { t->OnSensorWhiteBalance(); }, flashOnly,
       ZUEUID_PROPERTY_WHITE_BALANCE_MODE, PVL_OK, "Sensor.Configure(0x0106297c)"},
      {"WhiteBalanceInTheVfe", bayer, flashOnly, ZUEUID_PROPERTY_WHITE_BALANCE_MODE, PVL_OK,
       "Vfe.Configure(0x0106298f)"},
      {"ZoomCropsInTheVfe", bayer, flashOnly, ZUEUID_PROPERTY_ZOOM_MAGNIFICATION, PVL_OK, "Vfe.Configure(0x0105df1e)"},
      {"LampGoesToTheFlashPlugin", bayer, flashOnly, ZUEUID_PROPERTY_LAMP_MODE, PVL_OK, "Flash.Configure"},
      {"FocusModeByThePlugin", [](EnginePropertiesTest* t) { t->FocusByAlgorithm(); }, withAf,
       ZUEUID_PROPERTY_FOCUS_MODE, PVL_OK, "AF.Configure"},
      {"FocusModeWithoutAFocusPlugin", [](EnginePropertiesTest* t) { t->FocusByAlgorithm(); }, flashOnly,
       ZUEUID_PROPERTY_FOCUS_MODE, PVL_E_UNSUPPORTED, nullptr},
      {"FocusModeOnAFixedFocusSensor", bayer, withAf, ZUEUID_PROPERTY_FOCUS_MODE, PVL_OK, nullptr},
      {"FocusStepOnAFixedFocusSensor", bayer, flashOnly, ZUEUID_PROPERTY_FOCUS_STEP, PVL_E_UNSUPPORTED, nullptr},
      {"FocusRectanglesGoToTheVfe", bayer, flashOnly, ZUEUID_PROPERTY_FOCUS_RECT_MODE, PVL_OK,
       "Vfe.Configure(0x0106298f)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    c.sensor(this);
    ReadyWith(c.elfs);
    doubles_->log.calls.clear();
    LogCapture log;
    EXPECT_EQ(c.expected, engine_->OnApplyProperty(c.property));
    char line[96];
    snprintf(line, sizeof line, "CCameraEngine::OnApplyProperty id: %x result %d", c.property, c.expected);
    EXPECT_TRUE(log.Has(line)) << line;
    const CallLog& calls = doubles_->log;
    if (c.call) {
      EXPECT_TRUE(calls.Has(c.call)) << c.call;
    } else {
      for (const std::string& call : calls.calls) {
        EXPECT_EQ(call.find(".Configure"), std::string::npos) << call;
      }
    }
  }
}

// The zoom is the VFE's business even on a YUV sensor; on a Bayer sensor the
// Ready state applies nothing ahead of the stream but the lens, which the
// running sensor moves (a fixed-focus sensor keeps the step stored).
TEST_F(EnginePropertiesTest, ReadyAppliesOnlyForAYuvSensorAndNeverTheZoom) {
  struct Case {
    const char* name;
    bool yuv;
    bool lens;
    uint32_t property;
    const char* call;
  };
  const Case cases[] = {
      {"BayerBrightness", false, false, ZUEUID_PROPERTY_BRIGHTNESS, nullptr},
      {"YuvBrightness", true, false, ZUEUID_PROPERTY_BRIGHTNESS, "Sensor.Configure(0x01062980)"},
      {"YuvZoom", true, false, ZUEUID_PROPERTY_ZOOM_MAGNIFICATION, nullptr},
      {"BayerFocusStep", false, true, ZUEUID_PROPERTY_FOCUS_STEP, "Sensor.Configure(0x01062975)"},
      {"FixedFocusStep", false, false, ZUEUID_PROPERTY_FOCUS_STEP, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    doubles_->sensor.SetYuv(c.yuv);
    if (c.lens) FocusByAlgorithm();
    Ready();
    if (c.property == ZUEUID_PROPERTY_FOCUS_STEP) Store(ZUEUID_PROPERTY_FOCUS_STEP, Int(6));
    doubles_->log.calls.clear();
    EXPECT_EQ(PVL_OK, engine_->OnApplyPropertyYuv(c.property));
    if (c.call) {
      EXPECT_TRUE(doubles_->log.Has(c.call));
    } else {
      EXPECT_TRUE(doubles_->log.calls.empty()) << doubles_->log.calls.front();
    }
  }
}

// Steps count from the far end (0) toward near: the lens goes near by the
// difference to a step beyond its position, far to one below it, and far by 0
// to its own.
TEST_F(EnginePropertiesTest, FocusStepMovesTheLensByTheDifference) {
  struct Case {
    const char* name;
    int32_t step;
    const char* line;
    uint32_t direction;
    uint32_t count;
  };
  const Case cases[] = {
      {"Nearer", 5, "Set Focus Step Value 5, Current Step 3, Step Move 2 NEAR", 0, 2},
      {"Farther", 1, "Set Focus Step Value 1, Current Step 3, Step Move 2 FAR", 1, 2},
      {"Equal", 3, "Set Focus Step Value 3, Current Step 3, Step Move 0 FAR", 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    FocusByAlgorithm();
    Ready();
    CSensorInfoProxy* proxy = engine_->SensorInfo();
    ASSERT_EQ(PVL_OK, proxy->SetLensMove(0, 3, 0));  // the lens at 3
    Store(ZUEUID_PROPERTY_FOCUS_STEP, Int(c.step));
    doubles_->log.calls.clear();
    LogCapture log;
    EXPECT_EQ(PVL_OK, engine_->OnApplyProperty(ZUEUID_PROPERTY_FOCUS_STEP));
    EXPECT_TRUE(log.Has(c.line)) << c.line;
    EXPECT_TRUE(log.Has("SetLensMove result 0"));
    uint32_t direction = 9, count = 9, position = 0;
    proxy->GetLensMoveDirection(&direction);
    proxy->GetLensMoveSteps(&count);
    proxy->GetLensPosition(&position);
    EXPECT_EQ(direction, c.direction);
    EXPECT_EQ(count, c.count);
    EXPECT_EQ(position, static_cast<uint32_t>(c.step));
    EXPECT_TRUE(doubles_->log.Has("Sensor.Configure(0x01062975)")) << "the lens move reached the sensor";
  }
}

TEST_F(EnginePropertiesTest, OnSensorFocusModeGoesToTheSensorsSearchMode) {
  FocusOnSensor();
  Ready();
  Store(ZUEUID_PROPERTY_FOCUS_MODE, Int(0));
  LogCapture log;
  EXPECT_EQ(PVL_OK, engine_->OnApplyProperty(ZUEUID_PROPERTY_FOCUS_MODE));
  EXPECT_TRUE(log.Has("SetAFSearchMode result 0"));
}

// ---- Tuning data and best-shot modes ----

TEST_F(EnginePropertiesTest, InitializeSelectsTheSensorsTuningData) {
  struct Case {
    const char* name;
    bool yuv;
    PvlResult selectResult;
    PvlResult expected;
    size_t bestShots;
  };
  const Case cases[] = {
      {"Bayer", false, PVL_OK, PVL_OK, 2},
      {"SelectionFails", false, 1, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    doubles_->sensor.SetYuv(c.yuv);
    doubles_->log.failures["TuningData.Select(0x0108aece)"] = c.selectResult;
    MakeDefault();
    engine_->SetCameraId(kSensorClass);
    LogCapture log;
    EXPECT_EQ(c.expected, engine_->Initialize());
    EXPECT_EQ(engine_->BestShotTable().size(), c.bestShots);
    if (c.selectResult != PVL_OK) {
      EXPECT_TRUE(log.Has("Error initializing tuning data: 1"));
    }
    if (c.expected == PVL_OK) {
      EXPECT_EQ(PVL_OK, engine_->Uninitialize());
    }
  }
}

// Mode word 0 is "best shot off": the default tuning data comes back and the
// user's own values are restored; a scene with its own tuning set loads it.
TEST_F(EnginePropertiesTest, BestShotModes) {
  struct Case {
    const char* name;
    uint32_t modeWord;
    int32_t value;  // the scene's index in the property's (alphabetical) order
    const char* select;
    const char* line;
  };
  const Case cases[] = {
      {"OffRestoresTheDefault", 0, 5, "TuningData.Select(0x0108aece)", "Bestshot is OFF"},
      {"BeachLoadsItsSet", 1, 2, "TuningData.Select(0x0108aecf)", "Bestshot mode 3 custom tuning data loaded"},
      {"NightLoadsItsSet", 1, 6, "TuningData.Select(0x0108aed1)", "Bestshot mode 5 custom tuning data loaded"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    Ready();
    Store(ZUEUID_PROPERTY_BEST_SHOT_MODE, Int(c.value), c.modeWord);
    doubles_->log.calls.clear();
    LogCapture log;
    EXPECT_EQ(PVL_OK, engine_->OnApplyProperty(ZUEUID_PROPERTY_BEST_SHOT_MODE));
    EXPECT_TRUE(log.Has(c.line)) << c.line;
    EXPECT_TRUE(doubles_->log.Has(c.select)) << c.select;
    EXPECT_EQ(c.modeWord != 0, engine_->BestShotApplied());
    // Then the plug-ins and the VFE take the new settings over.
    EXPECT_GT(doubles_->log.IndexOf("Flash.Configure"), doubles_->log.IndexOf(c.select));
    EXPECT_TRUE(doubles_->log.Has("Vfe.Configure(0x0106298f)"));
  }
}

// ---- Plug-in set-up ----

TEST_F(EnginePropertiesTest, TheConfigurationBringsThePlugins) {
  struct Case {
    const char* name;
    std::function<void(EnginePropertiesTest*)> sensor;
    std::vector<ElfsLine> elfs;
    std::vector<const char*> initialised;
    std::vector<const char*> skipped;
  };
  auto bayer = [](EnginePropertiesTest*) {};
  const std::vector<ElfsLine> all = {
      {kAwb, "AWB"}, {kAec, "AEC"}, {kAf, "AF"}, {ZUEUID_CLASS_FLASH_ELFS, "Flash"}, {kOther, "Other"}};
  const Case cases[] = {
      {"NoEntries", bayer, {}, {}, {"AWB.Initialize", "AEC.Initialize", "Flash.Initialize"}},
      {"AllRolesFocusByAlgorithm", [](EnginePropertiesTest* t) { t->FocusByAlgorithm(); }, all,
       {"AWB.Initialize", "AEC.Initialize", "AF.Initialize", "Flash.Initialize", "Other.Initialize"}, {}},
      {"OnSensorWhiteBalanceSkipsAwb", [](EnginePropertiesTest* t) { t->OnSensorWhiteBalance(); }, all,
       {"AEC.Initialize"}, {"AWB.Initialize"}},
      {"OnSensorExposureSkipsAec", [](EnginePropertiesTest* t) { t->OnSensorExposure(); }, all, {"AWB.Initialize"},
       {"AEC.Initialize"}},
      {"FixedFocusSkipsAf", bayer, all, {"AWB.Initialize"}, {"AF.Initialize"}},
      {"OnSensorFocusSkipsAf", [](EnginePropertiesTest* t) { t->FocusOnSensor(); }, all, {"AWB.Initialize"},
       {"AF.Initialize"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    c.sensor(this);
    ReadyWith(c.elfs);
    for (const char* call : c.initialised) EXPECT_EQ(doubles_->log.Count(call), 1u) << call;
    for (const char* call : c.skipped) EXPECT_FALSE(doubles_->log.Has(call)) << call;
    // The flash entry is the engine's own plug-in, never a second one.
    EXPECT_EQ(doubles_->Creations(ZUEUID_CLASS_FLASH_ELFS), 1u);
    doubles_->log.calls.clear();
    EXPECT_EQ(PVL_OK, engine_->ElfsManager()->Configure());
    for (const char* call : c.initialised) {
      std::string configure = std::string(call).replace(std::string(call).find("Initialize"), 10, "Configure");
      EXPECT_EQ(doubles_->log.Count(configure), 1u) << configure;
    }
  }
}

// Initialize after Uninitialize registers every plug-in once, not twice.
TEST_F(EnginePropertiesTest, PluginsAreNotDoubledByASecondInitialize) {
  ReadyWith({{kAec, "AEC"}, {ZUEUID_CLASS_FLASH_ELFS, "Flash"}, {kOther, "Other"}});
  ASSERT_EQ(PVL_OK, engine_->FrontEnd()->Uninitialize());
  ASSERT_EQ(PVL_OK, engine_->FrontEnd()->Initialize(kSensorClass));
  doubles_->log.calls.clear();
  EXPECT_EQ(PVL_OK, engine_->ElfsManager()->Configure());
  EXPECT_EQ(doubles_->log.Count("AEC.Configure"), 1u);
  EXPECT_EQ(doubles_->log.Count("Flash.Configure"), 1u);
  EXPECT_EQ(doubles_->log.Count("Other.Configure"), 1u);
}

}  // namespace
}  // namespace enginetest

// ---- The tuning-data service's provider without a table ----

namespace enginetest {
namespace {

// The sensor module's tuning-data provider, with a table or without one.
class ProviderDouble final : public ITuningDataProvider {
 public:
  int32_t AddRef() override { return ++refs; }
  int32_t Release() override { return --refs; }
  PvlResult QueryInterface(ZUEUID iid, void** out) override {
    if (!out) return PVL_E_BADARG;
    *out = nullptr;
    if (iid != ZUEUID_IFACE_TUNING_DATA_PROVIDER) return PVL_E_UNSUPPORTED;
    AddRef();
    *out = static_cast<ITuningDataProvider*>(this);
    return PVL_OK;
  }
  PvlResult GetTable(const void** out) override { return GetTableEx(out); }
  PvlResult GetTableEx(const void** out) override {
    *out = table;
    return PVL_OK;
  }
  const void* table = nullptr;
  int32_t refs = 0;
};

ProviderDouble g_provider;
TuningDataTable g_zeroTable;

int32_t ProviderFactory(IEnv*, ZUEUID, void*, void** out) {
  g_provider.AddRef();
  *out = static_cast<ITuningDataProvider*>(&g_provider);
  return PVL_OK;
}

// A provider that hands out no table gives the tuning-data service nothing to
// serve: the selection fails (1) rather than succeeding with a service that
// then answers 13 to every query, so Initialize fails at once, undoes itself,
// and the same class can be selected again once it has a table.
TEST_F(EnginePropertiesTest, AProviderWithoutATableFailsInitializeUntilItHasOne) {
  ASSERT_EQ(PVL_OK, OrbhostTest_RegisterClass(ZUEUID_CLASS_TUNING_DATA, &CCameraTuningData::ClassEntry));
  ASSERT_EQ(PVL_OK, OrbhostTest_RegisterClass(kDefaultTuning, &ProviderFactory));
  g_provider.table = nullptr;
  MakeDefault();
  engine_->SetCameraId(kSensorClass);
  {
    LogCapture log;
    EXPECT_EQ(PVL_E_FAIL, engine_->Initialize());
    EXPECT_TRUE(log.Has("Error initializing tuning data: 1"));
  }
  EXPECT_FALSE(doubles_->log.Has("Sensor.Initialize(0x0108aed0)"));
  EXPECT_EQ(g_provider.refs, 0) << "the provider without a table is let go";
  g_provider.table = &g_zeroTable;
  EXPECT_EQ(PVL_OK, engine_->Initialize());
  CPvlPtr<ITuningData> service;
  ASSERT_EQ(PVL_OK, TuningData_GetService(&service));
  uint32_t version = 99;
  EXPECT_EQ(PVL_OK, service->GetVersion(&version)) << "the service serves the table";
  service.Reset();
  EXPECT_EQ(PVL_OK, engine_->Uninitialize());
  ReleaseEngine();
  EXPECT_EQ(g_provider.refs, 0);
}

}  // namespace
}  // namespace enginetest
