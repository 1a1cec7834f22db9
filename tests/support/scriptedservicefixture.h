// A camera service (the sensor's or the flash's) over a scripted driver and
// a settings view double: the script answers the driver's class, and on the
// way out the service must have let go of every driver, the view and every
// framework block it took.
#pragma once

#include <gtest/gtest.h>

#include "cpvlptr.h"
#include "iconfigcommand.h"
#include "ienv.h"
#include "orbhost_test.h"
#include "scripteddriver.h"

namespace camera::test {

template <class Service, class Face, ZUEUID kServiceClass, class View>
class ScriptedServiceTest : public ::testing::Test {
 protected:
  // The environment, and the script answering for the driver's class.
  void SetUpScript(ZUEUID driverClass) {
    ASSERT_EQ(PVL_OK, env_env_CreateInstance(ZUEUID_CLASS_ENV, env_.Out()));
    CurrentDriverScript() = &script_;
    ASSERT_EQ(PVL_OK, OrbhostTest_RegisterClass(driverClass, &ScriptedDriverFactory));
  }
  // From here on every framework block taken must be given back.
  void CountBlocks() { blocks_ = OrbhostTest_LiveBlocks(nullptr); }

  void TearDown() override {
    service_.Reset();
    EXPECT_EQ(script_.live, 0) << "a driver is still held";
    EXPECT_EQ(view_.refs, 0) << "the settings view is still held";
    EXPECT_EQ(OrbhostTest_LiveBlocks(nullptr), blocks_) << "framework blocks left";
    OrbhostTest_UnregisterAllClasses();
    CurrentDriverScript() = nullptr;
    env_.Reset();
  }

  PvlResult Create() { return Service::CreateInstance(env_.Get(), kServiceClass, env_.Get(), service_.Out()); }
  Service* Self() { return static_cast<Service*>(service_.Get()); }
  PvlResult Run(uint32_t configuration) {
    CPvlPtr<IConfigCommand> configurer;
    PvlResult r = service_->GetConfigurer(configuration, &configurer);
    return r != PVL_OK ? r : configurer->Configure();
  }
  // Nothing of an open driver is held; the settings view only when asked.
  void ExpectClosed(bool keepsView) {
    EXPECT_FALSE(Self()->HoldsDriver());
    EXPECT_FALSE(Self()->HoldsConfiguration());
    EXPECT_EQ(Self()->HoldsSettings(), keepsView);
    EXPECT_EQ(script_.live, 0);
  }

  CPvlPtr<IEnv> env_;
  DriverScript script_;
  View view_;
  uint32_t blocks_ = 0;
  CPvlPtr<Face> service_;
};

}  // namespace camera::test
