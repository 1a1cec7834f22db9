// The Corvane module as the host loads it: its class switch creates the
// tuning-data service, which then reaches the rest of the system through the host.
#include <gtest/gtest.h>

#include "cpvlptr.h"
#include "hostsymbols.h"
#include "ienv.h"
#include "orbhost_test.h"
#include "tuningdata.h"
#include "tuningdoubles.h"

using namespace tuningtest;

// The sensor simulator's class is in no module's table: Corvane's switch answers 3 and
// leaves no stale pointer.
TEST(CorvaneModule, TheSwitchAnswersNotSupportedForASimulatorClass) {
  CPvlPtr<IEnv> env;
  ASSERT_EQ(PVL_OK, env_env_CreateInstance(ZUEUID_CLASS_ENV, env.Out()));
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(PVL_E_NOTSUPPORTED, Mod_ClassFactory(env.Get(), 0x01060c21u, env.Get(), &out));
  EXPECT_EQ(nullptr, out);
}

TEST(CorvaneModule, CreatesTheTuningDataService) {
  CPvlPtr<IEnv> env;
  ASSERT_EQ(PVL_OK, env_env_CreateInstance(ZUEUID_CLASS_ENV, env.Out()));
  OrbhostTest_RegisterClass(ZUEUID_CLASS_TUNINGSERVER, &RefusingServerFactory);
  OrbhostTest_RegisterClass(kProviderClass, &ProviderFactory);
  ProviderTable() = TuningDataTable{};
  ProviderTable().Block.MiscVarnixVersion = 0x0202;
  ProviderTable().Block.AFPositionFarEnd = 321;
  {
    CPvlPtr<ITuningData> service;
    ASSERT_EQ(PVL_OK, env->CreateInstance(ZUEUID_CLASS_TUNING_DATA, service.Out()));
    EXPECT_EQ(1, OrbhostTest_IsModuleMapped("Corvane"));
    CPvlPtr<ITuningData> again;
    ASSERT_EQ(PVL_OK, env->CreateInstance(ZUEUID_CLASS_TUNING_DATA, again.Out()));
    EXPECT_EQ(again.Get(), service.Get());
    ASSERT_EQ(PVL_OK, service->SelectTuningData(kProviderClass));
    uint32_t version = 0;
    ASSERT_EQ(PVL_OK, service->GetVersion(&version));
    EXPECT_EQ(version, 0x0202u);
    int32_t farEnd = 0;
    ASSERT_EQ(PVL_OK, service->GetIntParam(0x00800001, &farEnd));
    EXPECT_EQ(farEnd, 321);
  }
  EXPECT_EQ(LiveProviders(), 0);
  OrbhostTest_UnregisterAllClasses();
}
