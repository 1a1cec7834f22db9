// Best-shot modes: the tuning override and the six client properties.
#include <gtest/gtest.h>

#include <string>

#include "ccamerabestshot.h"
#include "ccameratuningdata.h"
#include "camerapropertyids.h"
#include "hostsymbols.h"
#include "ienv.h"
#include "orbhost_test.h"
#include "cpvlptr.h"
#include "tuningdoubles.h"
#include "tuningpattern.h"

using namespace tuningtest;

namespace {

PvlValueRecord Int(int32_t v) {
  PvlValueRecord r{};
  r.type = PVL_VT_SINT32;
  r.payload.i32 = v;
  return r;
}

struct Prop {
  int32_t value;
  uint32_t mode;
};

class BestShotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(PVL_OK, env_env_CreateInstance(ZUEUID_CLASS_ENV, env.Out()));
    OrbhostTest_RegisterClass(ZUEUID_CLASS_TUNING_DATA, &CCameraTuningData::ClassEntry);
    OrbhostTest_RegisterClass(ZUEUID_CLASS_TUNINGSERVER, &RefusingServerFactory);
    OrbhostTest_RegisterClass(kProviderClass, &ProviderFactory);
    ProviderTable() = TuningDataTable{};
    ProviderTable().Block.AECDefault = 50;
    ASSERT_EQ(PVL_OK, env->CreateInstance(ZUEUID_CLASS_TUNING_DATA, tuning.Out()));
    ASSERT_EQ(PVL_OK, tuning->SelectTuningData(kProviderClass));
    CPvlPtr<IPvlBase> object;
    ASSERT_EQ(PVL_OK, env->CreateInstance(ZUEUID_CLASS_PROPERTY_STORE, object.Out()));
    ASSERT_EQ(PVL_OK, object->QueryInterface(ZUEUID_IFACE_PROPERTY_STORE, store.Out()));
    // The user's own settings.
    Define(ZUEUID_PROPERTY_SNAPSHOT_HAND_JITTER_REDUCTION_MODE, {0, 3});
    Define(ZUEUID_PROPERTY_ISO_MODE, {200, 2});
    Define(ZUEUID_PROPERTY_EXPOSURE_METERING_MODE, {2, 1});
    Define(ZUEUID_PROPERTY_FOCUS_MODE, {0, 1});
    Define(ZUEUID_PROPERTY_WHITE_BALANCE_MODE, {5000, 3});
    Define(ZUEUID_PROPERTY_LUMA_ADAPTATION_MODE, {0, 3});
    Define(ZUEUID_PROPERTY_FOCUS_STEP, {40, 0}, 7);
  }
  void TearDown() override {
    tuning.Reset();
    OrbhostTest_UnregisterAllClasses();
  }
  void Define(uint32_t id, Prop p, int32_t minimum = 0) {
    PvlValueRecord v = Int(p.value), lo = Int(minimum), hi = Int(100000), step = Int(1);
    CPvlPropertyDesc d(id, "p", "d", &v, &lo, &hi, &v, &step, p.mode, 0, PVL_DESC_COPY_DEEP);
    ASSERT_EQ(PVL_OK, store->AddProperty(&d, 0, PVL_PROPERTY_ADD_REPLACE));
  }
  Prop Get(uint32_t id) {
    PvlValueRecord z = Int(0);
    CPvlPropertyDesc d(id, "", "", &z, &z, &z, &z, &z, 0, 0, PVL_DESC_COPY_DEEP);
    EXPECT_EQ(PVL_OK, store->GetProperties(&d, 1, nullptr));
    return Prop{d.GetValue()->payload.i32, d.GetAttribute()};
  }
  int32_t Luma() {
    int32_t v = 0;
    EXPECT_EQ(PVL_OK, tuning->GetIntParam(0x00300002, &v));
    return v;
  }
  void ExpectUserSettings() {
    EXPECT_EQ(Get(ZUEUID_PROPERTY_SNAPSHOT_HAND_JITTER_REDUCTION_MODE).mode, 3u);
    EXPECT_EQ(Get(ZUEUID_PROPERTY_ISO_MODE).value, 200);
    EXPECT_EQ(Get(ZUEUID_PROPERTY_ISO_MODE).mode, 2u);
    EXPECT_EQ(Get(ZUEUID_PROPERTY_EXPOSURE_METERING_MODE).value, 2);
    EXPECT_EQ(Get(ZUEUID_PROPERTY_EXPOSURE_METERING_MODE).mode, 1u);
    EXPECT_EQ(Get(ZUEUID_PROPERTY_WHITE_BALANCE_MODE).value, 5000);
    EXPECT_EQ(Get(ZUEUID_PROPERTY_WHITE_BALANCE_MODE).mode, 3u);
    EXPECT_EQ(Get(ZUEUID_PROPERTY_LUMA_ADAPTATION_MODE).mode, 3u);
  }

  CPvlPtr<IEnv> env;
  CPvlPtr<ITuningData> tuning;
  CPvlPtr<IPropertyStore> store;
  CCameraBestShot bestShot;
};

}  // namespace

TEST_F(BestShotTest, ModesOutsideTheTableChangeNothing) {
  for (int32_t mode : {0, 12, -3}) {
    EXPECT_EQ(PVL_E_BADARG, bestShot.Apply(mode, store.Get())) << mode;
    EXPECT_EQ(Luma(), 50);
    EXPECT_FALSE(bestShot.IsApplied());
  }
  EXPECT_EQ(PVL_OK, bestShot.Restore(store.Get()));  // nothing applied: nothing to do
  ExpectUserSettings();
}

TEST_F(BestShotTest, SportsSetsIso400AndTheTuningOverride) {
  OrbhostTest_MessageCaptureBegin();
  ASSERT_EQ(PVL_OK, bestShot.Apply(CAMERA_BESTSHOT_SPORTS, store.Get()));
  auto messages = OrbhostTest_MessageCaptureEnd();
  bool named = false;
  for (auto& m : messages) named |= m.text.find("Bestshot - Mode CAMERA_BESTSHOT_SPORTS") != std::string::npos;
  EXPECT_TRUE(named);
  EXPECT_EQ(Get(ZUEUID_PROPERTY_ISO_MODE).value, 400);
  EXPECT_EQ(Get(ZUEUID_PROPERTY_ISO_MODE).mode, 2u);
  EXPECT_EQ(Get(ZUEUID_PROPERTY_SNAPSHOT_HAND_JITTER_REDUCTION_MODE).mode, 0u);
  EXPECT_EQ(Get(ZUEUID_PROPERTY_EXPOSURE_METERING_MODE).value, 1);
  EXPECT_EQ(Get(ZUEUID_PROPERTY_EXPOSURE_METERING_MODE).mode, 3u);
  EXPECT_EQ(Get(ZUEUID_PROPERTY_WHITE_BALANCE_MODE).mode, 4u);
  // Focus to infinity: the focus step goes to its minimum.
  EXPECT_EQ(Get(ZUEUID_PROPERTY_FOCUS_STEP).value, 7);
  EXPECT_EQ(Get(ZUEUID_PROPERTY_FOCUS_STEP).mode, 2u);
}

TEST_F(BestShotTest, AntishakeKeepsTheUsersIso) {
  ASSERT_EQ(PVL_OK, bestShot.Apply(CAMERA_BESTSHOT_ANTISHAKE, store.Get()));
  EXPECT_EQ(Get(ZUEUID_PROPERTY_SNAPSHOT_HAND_JITTER_REDUCTION_MODE).mode, 1u);
  EXPECT_EQ(Get(ZUEUID_PROPERTY_ISO_MODE).value, 200);
  EXPECT_EQ(Get(ZUEUID_PROPERTY_ISO_MODE).mode, 2u);
  EXPECT_EQ(Get(ZUEUID_PROPERTY_FOCUS_MODE).value, 1);
}

TEST_F(BestShotTest, RestoreBringsBackTheValuesFromBeforeTheFirstMode) {
  ASSERT_EQ(PVL_OK, bestShot.Apply(CAMERA_BESTSHOT_SUNSET, store.Get()));
  EXPECT_EQ(Luma(), 40);
  EXPECT_EQ(Get(ZUEUID_PROPERTY_WHITE_BALANCE_MODE).value, 2800);
  EXPECT_EQ(Get(ZUEUID_PROPERTY_LUMA_ADAPTATION_MODE).mode, 0u);
  ASSERT_EQ(PVL_OK, bestShot.Apply(CAMERA_BESTSHOT_PORTRAIT, store.Get()));
  EXPECT_EQ(Luma(), 50);
  EXPECT_EQ(Get(ZUEUID_PROPERTY_WHITE_BALANCE_MODE).mode, 6u);
  ASSERT_EQ(PVL_OK, bestShot.Restore(store.Get()));
  EXPECT_FALSE(bestShot.IsApplied());
  ExpectUserSettings();
  ASSERT_EQ(PVL_OK, bestShot.Apply(CAMERA_BESTSHOT_SNOW, store.Get()));
  EXPECT_EQ(Luma(), 60);
  ASSERT_EQ(PVL_OK, bestShot.Restore(store.Get()));
  EXPECT_EQ(Luma(), 50);
}

TEST_F(BestShotTest, AFailedSaveLeavesNoSceneTuningBehind) {
  // A store that lacks one of the six properties cannot save the user's values.
  CPvlPtr<IPvlBase> object;
  ASSERT_EQ(PVL_OK, env->CreateInstance(ZUEUID_CLASS_PROPERTY_STORE, object.Out()));
  CPvlPtr<IPropertyStore> partial;
  ASSERT_EQ(PVL_OK, object->QueryInterface(ZUEUID_IFACE_PROPERTY_STORE, partial.Out()));
  EXPECT_NE(PVL_OK, bestShot.Apply(CAMERA_BESTSHOT_SNOW, partial.Get()));
  EXPECT_FALSE(bestShot.IsApplied());
  EXPECT_EQ(Luma(), 50);
  // The next Apply saves again.
  ASSERT_EQ(PVL_OK, bestShot.Apply(CAMERA_BESTSHOT_SNOW, store.Get()));
  EXPECT_EQ(Luma(), 60);
}

TEST_F(BestShotTest, WithoutTheTuningServiceNothingChanges) {
  tuning.Reset();
  OrbhostTest_RegisterClass(ZUEUID_CLASS_TUNING_DATA, &RefusingServerFactory);  // refuses any class
  EXPECT_NE(PVL_OK, bestShot.Apply(CAMERA_BESTSHOT_NIGHT, store.Get()));
  ExpectUserSettings();
}

// Each mode's six properties, and the focus step that the infinity modes move.
TEST_F(BestShotTest, EveryModeSetsItsProperties) {
  struct Case {
    int32_t mode;
    Prop hjr, iso, metering, focus, whiteBalance, luma;
    bool infinity;
    int32_t lumaTarget;
  } cases[] = {
      {CAMERA_BESTSHOT_LANDSCAPE, {0, 0}, {200, 3}, {0, 3}, {0, 1}, {5000, 4}, {0, 3}, true, 50},
      {CAMERA_BESTSHOT_SNOW, {0, 0}, {200, 3}, {0, 3}, {1, 1}, {5000, 4}, {0, 3}, false, 60},
      {CAMERA_BESTSHOT_BEACH, {0, 0}, {200, 3}, {0, 3}, {1, 1}, {5000, 4}, {0, 3}, false, 60},
      {CAMERA_BESTSHOT_SUNSET, {0, 1}, {200, 2}, {0, 3}, {0, 1}, {2800, 2}, {0, 0}, true, 40},
      {CAMERA_BESTSHOT_NIGHT, {0, 1}, {200, 2}, {1, 3}, {1, 1}, {5000, 5}, {0, 3}, false, 50},
      {CAMERA_BESTSHOT_PORTRAIT, {0, 0}, {200, 3}, {1, 3}, {1, 1}, {5000, 6}, {0, 3}, false, 50},
      {CAMERA_BESTSHOT_BACKLIGHT, {0, 0}, {200, 3}, {1, 3}, {1, 1}, {5000, 3}, {0, 0}, false, 50},
      {CAMERA_BESTSHOT_SPORTS, {0, 0}, {400, 2}, {1, 3}, {0, 1}, {5000, 4}, {0, 3}, true, 50},
      {CAMERA_BESTSHOT_ANTISHAKE, {0, 1}, {200, 2}, {1, 3}, {1, 1}, {5000, 3}, {0, 3}, false, 50},
      {CAMERA_BESTSHOT_FLOWERS, {0, 0}, {200, 3}, {1, 3}, {0, 1}, {5000, 3}, {0, 0}, false, 50},
      {CAMERA_BESTSHOT_CANDLELIGHT, {0, 1}, {200, 2}, {1, 3}, {1, 1}, {2800, 2}, {0, 0}, false, 40},
  };
  auto expect = [this](uint32_t id, Prop p, int32_t mode) {
    Prop got = Get(id);
    EXPECT_EQ(got.value, p.value) << "mode " << mode << " property " << std::hex << id;
    EXPECT_EQ(got.mode, p.mode) << "mode " << mode << " property " << std::hex << id;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "best-shot mode " << c.mode);
    Define(ZUEUID_PROPERTY_FOCUS_STEP, {40, 0}, 7);
    ASSERT_EQ(PVL_OK, bestShot.Apply(c.mode, store.Get())) << c.mode;
    expect(ZUEUID_PROPERTY_SNAPSHOT_HAND_JITTER_REDUCTION_MODE, c.hjr, c.mode);
    expect(ZUEUID_PROPERTY_ISO_MODE, c.iso, c.mode);
    expect(ZUEUID_PROPERTY_EXPOSURE_METERING_MODE, c.metering, c.mode);
    expect(ZUEUID_PROPERTY_FOCUS_MODE, c.focus, c.mode);
    expect(ZUEUID_PROPERTY_WHITE_BALANCE_MODE, c.whiteBalance, c.mode);
    expect(ZUEUID_PROPERTY_LUMA_ADAPTATION_MODE, c.luma, c.mode);
    if (c.infinity) expect(ZUEUID_PROPERTY_FOCUS_STEP, Prop{7, 2}, c.mode);
    else EXPECT_EQ(Get(ZUEUID_PROPERTY_FOCUS_STEP).value, 40) << c.mode;
    EXPECT_EQ(Luma(), c.lumaTarget) << c.mode;
    ASSERT_EQ(PVL_OK, bestShot.Restore(store.Get())) << c.mode;
    ExpectUserSettings();
    EXPECT_EQ(Luma(), 50);
  }
}
