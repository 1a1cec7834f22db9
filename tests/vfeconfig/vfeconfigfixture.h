// The fixture of the block tests: a host environment, the settings double and
// the recording service with its blocks built over them.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "casename.h"
#include "cpvlptr.h"
#include "hostsymbols.h"
#include "orbhost_test.h"
#include "vfeconfigdoubles.h"
#include "vfeconfigurerids.h"
#include "vfetuningfixture.h"

namespace vfeconfigtest {

// Table cases print as their names.
template <class Case, class = decltype(std::declval<const Case&>().name)>
std::ostream& operator<<(std::ostream& os, const Case& c) {
  return os << c.name;
}
using camera::test::CaseName;

class VfeBlockFixture : public VfeTuningFixture {
 protected:
  void SetUpBlocks() {
    ASSERT_EQ(PVL_OK, env_env_CreateInstance(ZUEUID_CLASS_ENV, env_.Out()));
    SetUpTuning();
    blocks_ = OrbhostTest_LiveBlocks(nullptr);
    service_ = new VfeServiceDouble(env_.Get());
    service_->settings = &settings_;
    ASSERT_EQ(PVL_OK, service_->CreateBlocks());
  }
  void TearDownBlocks() {
    delete service_;
    service_ = nullptr;
    EXPECT_EQ(OrbhostTest_LiveBlocks(nullptr), blocks_) << "framework blocks left";
    TearDownTuning();
    env_.Reset();
  }
  // Makes, runs once and releases the configurer of an identifier.
  PvlResult RunConfigurer(uint32_t id) {
    IConfigCommand* configurer = nullptr;
    PvlResult r = VfeConfigurer_Create(service_, id, &configurer);
    if (r != PVL_OK) return r;
    r = configurer->Configure();
    configurer->Release();
    return r;
  }
  // OUTPUT1 alone, running at this size.
  void Output1(uint32_t w, uint32_t h) {
    service_->out1.enabled = true;
    service_->out1.size = service_->out1.mode1 = {w, h};
  }

  CPvlPtr<IEnv> env_;
  uint32_t blocks_ = 0;
  VfeSettingsDouble settings_;
  VfeServiceDouble* service_ = nullptr;
};

class VfeBlockTest : public ::testing::Test, public VfeBlockFixture {
 protected:
  void SetUp() override { SetUpBlocks(); }
  void TearDown() override { TearDownBlocks(); }
};

template <class Case>
class VfeBlockTableTest : public ::testing::TestWithParam<Case>, public VfeBlockFixture {
 protected:
  void SetUp() override { this->SetUpBlocks(); }
  void TearDown() override { this->TearDownBlocks(); }
};

}  // namespace vfeconfigtest
