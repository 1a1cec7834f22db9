// A started host for the service tests.
#pragma once

#include <gtest/gtest.h>

#include "ienv.h"

extern "C" int32_t Orbhost_Start(const char* script, uint32_t reserved, IEnv** env);
extern "C" int32_t Orbhost_Stop(void);

namespace hostsvc::test {

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(PVL_OK, Orbhost_Start("\\device.cs", 0, &env_)); }
  void TearDown() override {
    if (env_) env_->Release();
    Orbhost_Stop();
  }
  template <class T>
  T* Create(ZUEUID clsid) {
    void* out = nullptr;
    PvlResult r = env_->CreateInstance(clsid, &out);
    EXPECT_EQ(PVL_OK, r) << std::hex << clsid;
    return static_cast<T*>(out);
  }
  IEnv* env_ = nullptr;
};

}  // namespace hostsvc::test
