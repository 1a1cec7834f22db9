// The configurer framework: which configurer an identifier makes, the state
// and lock rules of Configure, and the faces a configurer answers.
#include <gtest/gtest.h>

#include "vfeconfigfixture.h"
#include "vfeconfigurerids.h"

namespace vfeconfigtest {
namespace {

class VfeConfigurerTest : public VfeBlockTest {
 protected:
  void SetUp() override {
    VfeBlockTest::SetUp();
    settings_.SetActive(0, 0, 1296, 972);
    Output1(320, 240);
  }
};

TEST_F(VfeConfigurerTest, UnknownIdentifiersMakeNothing) {
  IConfigCommand* out = reinterpret_cast<IConfigCommand*>(1);
  EXPECT_EQ(PVL_E_BADARG, VfeConfigurer_Create(service_, 0x12345678u, &out));
  EXPECT_EQ(nullptr, out);
  EXPECT_EQ(PVL_E_BADARG, VfeConfigurer_Create(service_, ZUEUID_CONFIG_VIDEO, nullptr));
}

TEST_F(VfeConfigurerTest, NothingIsSentUnlessTheServiceIsInitialised) {
  service_->state.initialized = false;
  for (uint32_t id : {ZUEUID_CONFIG_VIDEO, ZUEUID_CONFIG_CROP, ZUEUID_CONFIG_UNSUPPORTED}) {
    EXPECT_EQ(PVL_E_NOTREADY, RunConfigurer(id)) << std::hex << id;
  }
  EXPECT_TRUE(service_->sent.empty());
  EXPECT_EQ(0, service_->lock.held) << "the lock is given back on every path";
}

TEST_F(VfeConfigurerTest, TheUnsupportedConfigurerAnswers20) {
  EXPECT_EQ(PVL_E_UNSUPPORTED, RunConfigurer(ZUEUID_CONFIG_UNSUPPORTED));
  EXPECT_TRUE(service_->sent.empty());
}

TEST_F(VfeConfigurerTest, ConfigureHoldsTheServiceLockWhileSending) {
  ASSERT_EQ(PVL_OK, RunConfigurer(ZUEUID_CONFIG_VIDEO));
  EXPECT_FALSE(service_->sent.empty());
  EXPECT_TRUE(service_->heldWhileSending);
  EXPECT_EQ(1, service_->lock.taken);
  EXPECT_EQ(0, service_->lock.held);
}

TEST_F(VfeConfigurerTest, AConfigurerAnswersTheConfigCommandFace) {
  IConfigCommand* configurer = nullptr;
  ASSERT_EQ(PVL_OK, VfeConfigurer_Create(service_, ZUEUID_CONFIG_CROP, &configurer));
  void* out = nullptr;
  ASSERT_EQ(PVL_OK, configurer->QueryInterface(ZUEUID_IFACE_CONFIG_COMMAND, &out));
  EXPECT_EQ(static_cast<void*>(configurer), out);
  configurer->Release();
  EXPECT_EQ(PVL_E_BADARG, configurer->QueryInterface(ZUEUID_IFACE_CONFIG_COMMAND, nullptr));
  EXPECT_EQ(PVL_E_NOTSUPPORTED, configurer->QueryInterface(0x0106298eu, &out));
  EXPECT_EQ(0, configurer->Release());
}

TEST_F(VfeConfigurerTest, ASensorReadFailureFailsTheCreation) {
  settings_.fail["GetSensorModeInfo"] = PVL_E_NOTREADY;
  IConfigCommand* out = nullptr;
  EXPECT_EQ(PVL_E_NOTREADY, VfeConfigurer_Create(service_, ZUEUID_CONFIG_VIDEO, &out));
  EXPECT_EQ(nullptr, out);
}

}  // namespace
}  // namespace vfeconfigtest
