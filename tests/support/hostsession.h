// A started host for the tests that run over it: the image's start-up script read,
// the environment taken, and on the way out the environment released and the host
// stopped, whatever the test did in between. Header only: the programs that use it
// link the host already.
#pragma once

#include <gtest/gtest.h>

#include "ienv.h"
#include "orbhost.h"

namespace camera::test {

class HostSession {
 public:
  HostSession() = default;
  ~HostSession() { Stop(); }
  HostSession(const HostSession&) = delete;
  HostSession& operator=(const HostSession&) = delete;

  // The host's answer to Orbhost_Start; the session holds the environment on success.
  PvlResult Start(const char* script = "\\device.cs") {
    Stop();
    PvlResult r = Orbhost_Start(script, 0, &env_);
    if (r != PVL_OK) env_ = nullptr;
    return r;
  }
  void Stop() {
    if (!env_) return;
    env_->Release();
    env_ = nullptr;
    Orbhost_Stop();
  }
  IEnv* env() const { return env_; }

  // An instance of a class through the host (null when it cannot be made; the
  // host's answer in *result).
  template <class T>
  T* Create(ZUEUID clsid, PvlResult* result = nullptr) const {
    void* out = nullptr;
    PvlResult r = env_ ? env_->CreateInstance(clsid, &out) : PVL_E_NOTREADY;
    if (result) *result = r;
    return r == PVL_OK ? static_cast<T*>(out) : nullptr;
  }

 private:
  IEnv* env_ = nullptr;
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
