// The host library's exports, for code that links the host instead of loading it
// (the tools, the tests and the installer).
#pragma once

#include <stdint.h>

#include "ienv.h"

extern "C" {
int32_t Orbhost_Start(const char* script, uint32_t reserved, IEnv** env);
int32_t Orbhost_Stop(void);
}

// The host started for the length of a scope: the environment released and the host
// stopped however the scope is left.
class OrbhostSession {
 public:
  OrbhostSession() = default;
  ~OrbhostSession() { Stop(); }
  OrbhostSession(const OrbhostSession&) = delete;
  OrbhostSession& operator=(const OrbhostSession&) = delete;

  // The host's answer to Orbhost_Start; the session holds the environment on success.
  int32_t Start(const char* script = "\\device.cs") {
    Stop();
    int32_t r = Orbhost_Start(script, 0, &env_);
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

 private:
  IEnv* env_ = nullptr;
};
