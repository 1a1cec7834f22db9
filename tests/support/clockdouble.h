// The host's millisecond clock as a double, for the code that logs how long
// its steps took: each reading moves it on by `step` (0: it stands still
// unless the test moves it), and the first `failures` creations are refused.
// The test registers ClockFactory<its clock> as the host's clock class.
#pragma once

#include <atomic>

#include "iclock.h"
#include "ienv.h"

namespace camera::test {

class ClockDouble final : public IClock {
 public:
  ClockDouble(uint32_t start, uint32_t step_) : now(start), step(step_) {}
  int32_t AddRef() override { return ++refs; }
  int32_t Release() override { return --refs; }
  PvlResult QueryInterface(ZUEUID, void** out) override {
    if (out) *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }
  PvlResult GetTime(uint32_t* ms) override {
    *ms = now += step;
    return PVL_OK;
  }
  std::atomic<int32_t> refs{0};
  std::atomic<uint32_t> now;
  std::atomic<uint32_t> step;
  int failures = 0;
};

template <ClockDouble& kClock>
int32_t ClockFactory(IEnv*, ZUEUID, void*, void** out) {
  if (kClock.failures > 0) {
    --kClock.failures;
    *out = nullptr;
    return PVL_E_OUTOFMEMORY;
  }
  kClock.AddRef();
  *out = static_cast<IClock*>(&kClock);
  return PVL_OK;
}

}  // namespace camera::test
