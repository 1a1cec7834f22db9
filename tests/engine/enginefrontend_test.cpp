// The engine's front end: its faces, the range check of every engine
// property, SetProperties' all-or-nothing check and in-order apply, and the
// control operations without a state machine.
#include <gtest/gtest.h>

#include <math.h>

#include <functional>

#include "camerapropertyids.h"
#include "ccameraenginefrontend.h"
#include "enginefixture.h"

namespace enginetest {
namespace {

class FrontEndTest : public EngineFixture {
 public:
  CCameraEngineFrontEnd* FrontEnd() { return engine_->FrontEnd(); }

  // The property's current value, minimum and maximum as the store holds them.
  PvlPropertyDescHead Read(uint32_t id, PvlResult* result = nullptr) {
    PvlPropertyDescHead head{};
    head.id = id;
    head.name = PvlDescText("");
    head.description = PvlDescText("");
    PvlResult r = FrontEnd()->GetProperties(PvlPropertyDescOf(&head), 1, nullptr);
    if (result) *result = r;
    return head;
  }
  static PvlValueRecord Float(float v) {
    PvlValueRecord r{};
    r.type = PVL_VT_FLOAT;
    r.payload.f = v;
    return r;
  }
  static PvlValueRecord Pair(int32_t a, int32_t b) {
    PvlValueRecord r{};
    r.type = PVL_VT_PAIR;
    r.payload.pair = {a, b};
    return r;
  }
  static PvlValueRecord Words(int32_t a, int32_t b) {
    PvlValueRecord r{};
    r.type = PVL_VT_8BYTES;
    r.payload.i32 = a;
    memcpy(r.payload.bytes + 4, &b, 4);
    return r;
  }
  static PvlValueRecord Word(uint32_t v) {
    PvlValueRecord r{};
    r.type = PVL_VT_UINT32;
    r.payload.u32 = v;
    return r;
  }
  static bool Same(const PvlValueRecord& a, const PvlValueRecord& b) {
    return a.type == b.type && memcmp(a.payload.bytes, b.payload.bytes, 8) == 0;
  }
};

// ---- Faces ----

TEST_F(FrontEndTest, QueryInterface) {
  MakeDefault();
  ICameraEngine* control = FrontEnd();
  struct Case {
    const char* name;
    ZUEUID iid;
    PvlResult expected;
    void* face;
  };
  const Case cases[] = {
      {"Properties", ZUEUID_IFACE_PROPERTIES, PVL_OK, static_cast<IProperties*>(FrontEnd())},
      {"PropertiesSecondId", ZUEUID_IFACE_PROPERTIES_ALT, PVL_OK, static_cast<IProperties*>(FrontEnd())},
      {"Control", ZUEUID_IFACE_CAMERAENGINE, PVL_OK, static_cast<ICameraEngine*>(FrontEnd())},
      {"ControlSecondId", ZUEUID_IFACE_CAMERAENGINE_CONTROL, PVL_OK, static_cast<ICameraEngine*>(FrontEnd())},
      {"Tuning", ZUEUID_IFACE_CAMERATUNING, PVL_OK, static_cast<ICameraTuning*>(FrontEnd())},
      {"BaseIsNotHandedOut", ZUEUID_IFACE_BASE, PVL_E_UNSUPPORTED, nullptr},
      {"InternalFaceIsNotHandedOut", ZUEUID_IFACE_CAMERAENGINE_INTERNAL, PVL_E_UNSUPPORTED, nullptr},
      {"Unknown", 0x01234567u, PVL_E_UNSUPPORTED, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    void* out = reinterpret_cast<void*>(0x5a5a);
    EXPECT_EQ(c.expected, control->QueryInterface(c.iid, &out));
    if (c.expected != PVL_OK) {
      EXPECT_EQ(out, reinterpret_cast<void*>(0x5a5a)) << "the out-pointer is left alone";
      continue;
    }
    EXPECT_EQ(out, c.face);
    static_cast<IPvlBase*>(out)->Release();
  }
}

// A reference to a face is a reference to the engine.
TEST_F(FrontEndTest, AFaceKeepsTheEngineAlive) {
  MakeDefault();
  IProperties* properties = nullptr;
  ASSERT_EQ(PVL_OK, FrontEnd()->QueryInterface(ZUEUID_IFACE_PROPERTIES, reinterpret_cast<void**>(&properties)));
  engine_->Release();
  engine_ = nullptr;
  PvlResult r = PVL_OK;
  PvlPropertyDescHead head{};
  head.id = ZUEUID_PROPERTY_BRIGHTNESS;
  head.name = PvlDescText("");
  head.description = PvlDescText("");
  r = properties->GetProperties(PvlPropertyDescOf(&head), 1, nullptr);
  EXPECT_EQ(r, PVL_OK);
  EXPECT_EQ(head.values[0].payload.i32, 750);
  EXPECT_GT(doubles_->HeldReferences(), 0) << "the engine is still there";
  properties->Release();
  EXPECT_EQ(doubles_->HeldReferences(), 0) << "the last face reference ends the engine";
}

// ---- The range check, over every engine property ----

TEST_F(FrontEndTest, EveryPropertyTakesItsBoundsAndRefusesBeyondThem) {
  MakeReady();
  const uint32_t ids[] = {
      ZUEUID_PROPERTY_ANTIBANDING_MODE, ZUEUID_PROPERTY_APERTURE, ZUEUID_PROPERTY_BEST_SHOT_MODE,
      ZUEUID_PROPERTY_BRIGHTNESS, ZUEUID_PROPERTY_CONTRAST, ZUEUID_PROPERTY_EXPOSURE_COMPENSATION,
      ZUEUID_PROPERTY_EXPOSURE_METERING_MODE, ZUEUID_PROPERTY_EXPOSURE_METERING_RECT_GRID,
      ZUEUID_PROPERTY_EXPOSURE_RECTS, ZUEUID_PROPERTY_EXPOSURE_RECT_WEIGHTINGS, ZUEUID_PROPERTY_FIXED_CB_OFFSET,
      ZUEUID_PROPERTY_FIXED_CR_OFFSET, ZUEUID_PROPERTY_FOCUS_MODE, ZUEUID_PROPERTY_FOCUS_RECT_GRID,
      ZUEUID_PROPERTY_FOCUS_RECT_MODE, ZUEUID_PROPERTY_FOCUS_RECTS, ZUEUID_PROPERTY_FOCUS_STEP,
      ZUEUID_PROPERTY_GAMMA_CURVE, ZUEUID_PROPERTY_HIGH_DYNAMIC_RANGE_MODE, ZUEUID_PROPERTY_HUE_ANGLE,
      ZUEUID_PROPERTY_IMAGE_EFFECT_MODE, ZUEUID_PROPERTY_ISO_MODE, ZUEUID_PROPERTY_LAMP_INTENSITY,
      ZUEUID_PROPERTY_LAMP_MODE, ZUEUID_PROPERTY_LUMA_ADAPTATION_MODE, ZUEUID_PROPERTY_SATURATION,
      ZUEUID_PROPERTY_SHARPNESS, ZUEUID_PROPERTY_WHITE_BALANCE_MODE, ZUEUID_PROPERTY_ZOOM_MAGNIFICATION,
      ZUEUID_PROPERTY_CURRENT_FLASH_DEVICE_ID, ZUEUID_PROPERTY_SNAPSHOT_FLASH_INTENSITY,
      ZUEUID_PROPERTY_SNAPSHOT_FLASH_MODE, ZUEUID_PROPERTY_SNAPSHOT_HAND_JITTER_REDUCTION_MODE,
      ZUEUID_PROPERTY_SNAPSHOT_SHUTTER_SPEED, ZUEUID_PROPERTY_SNAPSHOT_FLASH_MODE2,
      ZUEUID_PROPERTY_SNAPSHOT_FLASH_STATE};
  static_assert(sizeof ids / sizeof ids[0] == 36);
  for (uint32_t id : ids) {
    char name[16];
    snprintf(name, sizeof name, "0x%08x", id);
    SCOPED_TRACE(name);
    PvlResult r = PVL_OK;
    const PvlPropertyDescHead head = Read(id, &r);
    ASSERT_EQ(PVL_OK, r);
    const PvlValueRecord& lo = head.values[1];
    const PvlValueRecord& hi = head.values[2];
    std::vector<PvlValueRecord> beyond;
    switch (head.values[0].type) {
      case PVL_VT_SINT32:
        if (lo.payload.i32 > INT32_MIN) beyond.push_back(Int(lo.payload.i32 - 1));
        if (hi.payload.i32 < INT32_MAX) beyond.push_back(Int(hi.payload.i32 + 1));
        break;
      case PVL_VT_FLOAT:
        beyond.push_back(Float(nextafterf(lo.payload.f, -INFINITY)));
        beyond.push_back(Float(nextafterf(hi.payload.f, INFINITY)));
        beyond.push_back(Float(NAN));
        break;
      case PVL_VT_PAIR:
        beyond.push_back(Pair(lo.payload.pair.first - 1, lo.payload.pair.second));
        beyond.push_back(Pair(hi.payload.pair.first + 1, hi.payload.pair.second));
        beyond.push_back(Pair(0, 0));
        break;
      case PVL_VT_8BYTES:
        beyond.push_back(Words(2, 1));
        beyond.push_back(Words(1, 0));
        break;
      case PVL_VT_UINT32:
        // Not range-checked: any value.
        EXPECT_EQ(PVL_OK, FrontEnd()->SetProperty(id, &hi));
        EXPECT_EQ(PVL_OK, FrontEnd()->SetProperty(id, &lo));
        continue;
      default:  // arrays are not range-checked
        continue;
    }
    EXPECT_EQ(PVL_OK, FrontEnd()->SetProperty(id, &lo)) << "minimum";
    EXPECT_EQ(PVL_OK, FrontEnd()->SetProperty(id, &hi)) << "maximum";
    for (const PvlValueRecord& v : beyond) {
      EXPECT_EQ(PVL_E_BADARG, FrontEnd()->SetProperty(id, &v));
      EXPECT_TRUE(Same(Read(id).values[0], hi)) << "a refused value is not stored";
    }
  }
}

TEST_F(FrontEndTest, RangeEdgeCases) {
  MakeReady();
  struct Case {
    const char* name;
    uint32_t id;
    PvlValueRecord value;
    PvlResult expected;
  };
  const Case cases[] = {
      {"BrightnessLowest", ZUEUID_PROPERTY_BRIGHTNESS, Int(-10000), PVL_OK},
      {"BrightnessHighest", ZUEUID_PROPERTY_BRIGHTNESS, Int(10000), PVL_OK},
      {"BrightnessBeyond", ZUEUID_PROPERTY_BRIGHTNESS, Int(10001), PVL_E_BADARG},
      {"CompensationQuotientBelow", ZUEUID_PROPERTY_EXPOSURE_COMPENSATION, Pair(-601, 6), PVL_E_BADARG},
      {"CompensationQuotientInside", ZUEUID_PROPERTY_EXPOSURE_COMPENSATION, Pair(-100, 1), PVL_OK},
      {"CompensationNoDenominator", ZUEUID_PROPERTY_EXPOSURE_COMPENSATION, Pair(0, 0), PVL_E_BADARG},
      {"CompensationZeroDenominator", ZUEUID_PROPERTY_EXPOSURE_COMPENSATION, Pair(5, 0), PVL_E_BADARG},
      {"HueNaN", ZUEUID_PROPERTY_HUE_ANGLE, Float(NAN), PVL_E_BADARG},
      {"ZoomOne", ZUEUID_PROPERTY_ZOOM_MAGNIFICATION, Float(1.0f), PVL_OK},
      {"ZoomMore", ZUEUID_PROPERTY_ZOOM_MAGNIFICATION, Float(1.1f), PVL_E_BADARG},
      {"FlashDeviceAnyValue", ZUEUID_PROPERTY_CURRENT_FLASH_DEVICE_ID, Word(0xFFFFFFFFu), PVL_OK},
      {"RedEyeFlashModeTwo", ZUEUID_PROPERTY_SNAPSHOT_FLASH_MODE2, Int(2), PVL_OK},
      {"SnapshotFlashModeOne", ZUEUID_PROPERTY_SNAPSHOT_FLASH_MODE, Int(1), PVL_E_BADARG},
      {"GridOneByOne", ZUEUID_PROPERTY_FOCUS_RECT_GRID, Words(1, 1), PVL_OK},
      {"UnknownProperty", 0x0103f4e3u, Int(0), PVL_E_BADARG},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.expected, FrontEnd()->SetProperty(c.id, &c.value));
  }
}

// Stored first, then applied: in Uninit the value is kept and the apply refused.
TEST_F(FrontEndTest, SetPropertyStoresBeforeItApplies) {
  MakeDefault();
  PvlValueRecord v = Int(1234);
  EXPECT_EQ(PVL_E_NOTREADY, FrontEnd()->SetProperty(ZUEUID_PROPERTY_BRIGHTNESS, &v));
  EXPECT_EQ(Read(ZUEUID_PROPERTY_BRIGHTNESS).values[0].payload.i32, 1234);
}

// Before Initialize only Initialize is taken: every other control event is
// refused by the state and changes nothing.
TEST_F(FrontEndTest, ControlEventsBeforeInitializeAreRefused) {
  MakeDefault();
  ICameraPort* ports[1] = {};
  uint32_t count = 0;
  struct Case {
    const char* name;
    std::function<PvlResult()> call;
  };
  const Case cases[] = {
      {"StartVideo", [&] { return FrontEnd()->StartVideo(); }},
      {"StartStill", [&] { return FrontEnd()->StartStill(1); }},
      {"GetPorts", [&] { return FrontEnd()->GetPorts(ports, 1, &count); }},
      {"StartFocus", [&] { return FrontEnd()->StartFocus(1, 0); }},
      {"Uninitialize", [&] { return FrontEnd()->Uninitialize(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(PVL_E_NOTREADY, c.call());
    EXPECT_EQ(State(), 0);
  }
}

// ---- SetProperties ----

class FrontEndYuvTest : public FrontEndTest {
 public:
  // A YUV sensor: Ready applies picture properties to the sensor at once.
  void SetUp() override {
    FrontEndTest::SetUp();
    doubles_->sensor.SetYuv(true);
  }
  static PvlPropertyValueRecord Record(uint32_t id, int32_t value, uint32_t mode = 1) {
    PvlPropertyValueRecord r{};
    r.id = id;
    r.value = Int(value);
    r.mode = mode;
    return r;
  }
};

TEST_F(FrontEndYuvTest, SetPropertiesChecksAllBeforeItStoresAny) {
  MakeReady();
  const PvlPropertyValueRecord records[] = {Record(ZUEUID_PROPERTY_BRIGHTNESS, 10),
                                            Record(ZUEUID_PROPERTY_CONTRAST, 20),
                                            Record(ZUEUID_PROPERTY_SATURATION, 10001)};
  doubles_->log.calls.clear();
  EXPECT_EQ(PVL_E_BADARG, FrontEnd()->SetProperties(records, 3));
  EXPECT_EQ(Read(ZUEUID_PROPERTY_BRIGHTNESS).values[0].payload.i32, 750);
  EXPECT_EQ(Read(ZUEUID_PROPERTY_CONTRAST).values[0].payload.i32, 100);
  EXPECT_TRUE(doubles_->log.calls.empty()) << "nothing applied";
  // A record whose operation flag asks for no check passes unchecked.
  const PvlPropertyValueRecord unchecked = Record(ZUEUID_PROPERTY_SATURATION, 10001, 0);
  EXPECT_EQ(PVL_OK, FrontEnd()->SetProperties(&unchecked, 1));
  EXPECT_EQ(PVL_E_NULLPTR, FrontEnd()->SetProperties(nullptr, 1));
}

TEST_F(FrontEndYuvTest, SetPropertiesStoresAllThenAppliesInOrderUntilOneFails) {
  MakeReady();
  doubles_->log.failures["Sensor.Configure(0x01062981)"] = 7;  // contrast
  const PvlPropertyValueRecord records[] = {Record(ZUEUID_PROPERTY_BRIGHTNESS, 10),
                                            Record(ZUEUID_PROPERTY_CONTRAST, 20),
                                            Record(ZUEUID_PROPERTY_SATURATION, 30)};
  doubles_->log.calls.clear();
  EXPECT_EQ(7, FrontEnd()->SetProperties(records, 3));
  EXPECT_EQ(Read(ZUEUID_PROPERTY_BRIGHTNESS).values[0].payload.i32, 10);
  EXPECT_EQ(Read(ZUEUID_PROPERTY_CONTRAST).values[0].payload.i32, 20);
  EXPECT_EQ(Read(ZUEUID_PROPERTY_SATURATION).values[0].payload.i32, 30);
  EXPECT_TRUE(doubles_->log.Has("Sensor.Configure(0x01062980)"));
  EXPECT_FALSE(doubles_->log.Has("Sensor.Configure(0x01062989)")) << "saturation was applied after the failure";
  doubles_->log.failures.clear();
}

// ---- Without a state machine ----

// An engine that has no state machine (answers 13 for it) and nothing else.
class NoMachineEngine final : public ICameraEngineInternal {
 public:
  int32_t AddRef() override { return 1; }
  int32_t Release() override { return 1; }
  PvlResult QueryInterface(ZUEUID, void**) override { return PVL_E_UNSUPPORTED; }
#define NO(Name, ...) \
  PvlResult Name(__VA_ARGS__) override { return PVL_E_UNSUPPORTED; }
  NO(Initialize)
  NO(Uninitialize)
  NO(StartSensor)
  NO(StopSensor)
  NO(OnStartVideo)
  NO(OnStopVideo)
  NO(OnStartSnapshot)
  NO(OnStopSnapshot)
  NO(OnReserved)
  NO(SetSnapshotCount, uint32_t)
  NO(SetCameraId, uint32_t)
  NO(OnApplyPropertyYuv, uint32_t)
  NO(OnApplyProperty, uint32_t)
  NO(OnStartFocus, uint8_t, ICameraSettingsListener*)
  NO(OnStopFocus)
  NO(GetPorts, ICameraPort**, uint32_t, uint32_t*)
  NO(OnFrameAvailable, uint32_t, IPvlMediaBuffer*)
  NO(OnSnapshotFrameAvailable, uint32_t, IPvlMediaBuffer*)
  NO(OnVideoStatsAvailable, uint32_t, IPvlBase*)
  NO(OnSnapshotStatsAvailable, uint32_t, IPvlBase*)
  NO(GetEnabledPortFormats, CameraPortFormat*, uint32_t, uint32_t*)
  NO(GetCurrentPortFormats, CameraPortFormat*, uint32_t, uint32_t*)
  NO(Suspend)
  NO(Resume)
  NO(ApplyRuntimeTuning)
  NO(StartPreSnapshotFlash, ICameraSettingsListener*)
  NO(StopPreSnapshotFlash)
  NO(GetCameras, CameraSensorDescriptor*, uint32_t, uint32_t*)
  NO(GetFlashDevices, CameraFlashDevice*, uint32_t, uint32_t*)
#undef NO
  PvlResult GetStateMachine(CEngineStateMachine**) override { return PVL_E_NOTREADY; }
};

TEST(FrontEndWithoutMachineTest, EveryEngineOperationAnswers13) {
  CPvlPtr<IEnv> env;
  ASSERT_EQ(PVL_OK, env_env_CreateInstance(ZUEUID_CLASS_ENV, env.Out()));
  PvlResult constructed = PVL_E_FAIL;
  {
    CCameraEngineFrontEnd frontEnd(env.Get(), &constructed);
    ASSERT_EQ(PVL_OK, constructed);
    NoMachineEngine engine;
    frontEnd.SetEngine(&engine);
    ICameraPort* ports[1] = {};
    uint32_t count = 0;
    struct Case {
      const char* name;
      std::function<PvlResult()> call;
    };
    const Case cases[] = {
        {"Initialize", [&] { return frontEnd.Initialize(0x0108aed0u); }},
        {"Uninitialize", [&] { return frontEnd.Uninitialize(); }},
        {"StartFocus", [&] { return frontEnd.StartFocus(1, 0); }},
        {"StopFocus", [&] { return frontEnd.StopFocus(); }},
        {"StartVideo", [&] { return frontEnd.StartVideo(); }},
        {"StartStill", [&] { return frontEnd.StartStill(1); }},
        {"Stop", [&] { return frontEnd.Stop(); }},
        {"StartPreSnapshotFlash", [&] { return frontEnd.StartPreSnapshotFlash(0); }},
        {"StopPreSnapshotFlash", [&] { return frontEnd.StopPreSnapshotFlash(); }},
        {"Suspend", [&] { return frontEnd.Suspend(); }},
        {"Resume", [&] { return frontEnd.Resume(); }},
        {"ApplyRuntimeTuningChanges", [&] { return frontEnd.ApplyRuntimeTuningChanges(); }},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      EXPECT_EQ(PVL_E_NOTREADY, c.call());
    }
    LogCapture log;
    EXPECT_EQ(PVL_E_NOTREADY, frontEnd.GetPorts(ports, 1, &count));
    EXPECT_TRUE(log.Has("ERROR m_pStateMachine is NULL!!!"));
    // A property is still kept; there is nothing to apply it with.
    PvlValueRecord v{};
    v.type = PVL_VT_SINT32;
    v.payload.i32 = 5;
    EXPECT_EQ(PVL_E_NOTREADY, frontEnd.SetProperty(ZUEUID_PROPERTY_BRIGHTNESS, &v));
    frontEnd.SetEngine(nullptr);
    EXPECT_EQ(PVL_OK, frontEnd.SetProperty(ZUEUID_PROPERTY_BRIGHTNESS, &v));
    // The unnamed slots answer 20.
    EXPECT_EQ(PVL_E_UNSUPPORTED, frontEnd.Reserved3(0u, 0u));
    EXPECT_EQ(PVL_E_UNSUPPORTED, frontEnd.Reserved13(0, 0, 0));
    EXPECT_EQ(PVL_E_UNSUPPORTED, static_cast<ICameraTuning&>(frontEnd).Reserved3(0u));
  }
}

}  // namespace
}  // namespace enginetest
