// A started host for the tests that run over it: the image's start-up script read,
// the environment taken, and on the way out the environment released and the host
// stopped, whatever the test did in between (the host's OrbhostSession). Header
// only: the programs that use it link the host already.
#pragma once

#include <gtest/gtest.h>

#include "ienv.h"
#include "orbhost.h"

namespace camera::test {

// The host's own session guard, with the creation the tests need.
class HostSession : public OrbhostSession {
 public:
  // An instance of a class through the host (null when it cannot be made; the
  // host's answer in *result).
  template <class T>
  T* Create(ZUEUID clsid, PvlResult* result = nullptr) const {
    void* out = nullptr;
    PvlResult r = env() ? env()->CreateInstance(clsid, &out) : PVL_E_NOTREADY;
    if (result) *result = r;
    return r == PVL_OK ? static_cast<T*>(out) : nullptr;
  }
};

// A GoogleTest fixture over one session: env_ is the host's environment.
class HostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(PVL_OK, host_.Start());
    env_ = host_.env();
  }
  void TearDown() override {
    env_ = nullptr;
    host_.Stop();
  }
  // An instance the test expects the host to make; a failure names the class.
  template <class T>
  T* Create(ZUEUID clsid) {
    PvlResult r = PVL_OK;
    T* made = host_.Create<T>(clsid, &r);
    EXPECT_EQ(PVL_OK, r) << "class 0x" << std::hex << clsid;
    return made;
  }

  HostSession host_;
  IEnv* env_ = nullptr;
};

}  // namespace camera::test
