#include "bayroxrig.h"

namespace bayroxtest {

void BayroxTest::SetUp() {
  OrbhostTest_RegisterClass(ZUEUID_CLASS_TUNING_DATA, &CCameraTuningData::ClassEntry);
  OrbhostTest_RegisterClass(ZUEUID_CLASS_TUNINGSERVER, &tuningtest::ServerFactory);
  OrbhostTest_RegisterClass(tuningtest::kProviderClass, &tuningtest::ProviderFactory);
  tuningtest::ProviderTable() = TuningDataTable{};
  tuningtest::ServerGroups().clear();
  ASSERT_EQ(PVL_OK, env_env_CreateInstance(ZUEUID_CLASS_ENV, env.Out()));
  ASSERT_EQ(PVL_OK, env->CreateInstance(ZUEUID_CLASS_TUNING_DATA, tuning.Out()));
  ASSERT_EQ(PVL_OK, tuning->SelectTuningData(tuningtest::kProviderClass));
  CPvlPtr<IPvlBase> object;
  ASSERT_EQ(PVL_OK, env->CreateInstance(ZUEUID_CLASS_PROPERTY_STORE, object.Out()));
  ASSERT_EQ(PVL_OK, object->QueryInterface(ZUEUID_IFACE_PROPERTY_STORE, store.Out()));
  // The focus step the AF view writes back after a lens move.
  PvlValueRecord step{};
  step.type = PVL_VT_SINT32;
  CPvlPropertyDesc d(ZUEUID_PROPERTY_FOCUS_STEP, "p", "d", &step, &step, &step, &step, &step, 0, 0,
                     PVL_DESC_COPY_DEEP);
  ASSERT_EQ(PVL_OK, store->AddProperty(&d, 0, PVL_PROPERTY_ADD_REPLACE));
  formats.enabled = {tuningtest::Format(640, 480, 33333, 0)};
  // This sensor's preview: 994 lines a frame.
  sensor.gainInfo.Words[4] = 994;
  ud.SetSources(store.Get(), &formats);
  ASSERT_EQ(PVL_OK, sip.SetSensorService(&sensor));
  ASSERT_EQ(PVL_OK, CUserDataAggregate::New(env, &ud, &es, &sip, &aggregate));
}

void BayroxTest::TearDown() {
  for (IELFS* p : plugins) {
    EXPECT_EQ(0, p->Release());
  }
  plugins.clear();
  if (aggregate) {
    EXPECT_EQ(0, aggregate->Release());
  }
  tuning.Reset();
  store.Reset();
  env.Reset();
  OrbhostTest_UnregisterAllClasses();
}

}  // namespace bayroxtest
