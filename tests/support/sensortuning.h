// The sensor's own tuning table in the tuning-data service, as the engine
// loads it at start-up: the service and the S5K3E2FX provider as class doubles
// of the host, the provider selected, and one reference held so that the
// blocks' reads all reach the loaded table.
#pragma once

#include "cameratuningdata.h"
#include "cs5k3e2fxtuningdata.h"
#include "ienv.h"
#include "orbhost_test.h"
#include "pvlptr.h"
#include "tuningdata.h"

namespace camera::test {

class SensorTuning {
 public:
  PvlResult Load(IEnv* env) {
    PvlResult r = OrbhostTest_RegisterClass(ZUEUID_CLASS_TUNING_DATA, &CCameraTuningData::ClassEntry);
    if (r == PVL_OK)
      r = OrbhostTest_RegisterClass(ZUEUID_CLASS_S5K3E2FX_TUNING_DATA, &S5K3E2FX_TuningData_CreateInstance);
    if (r == PVL_OK) r = env->CreateInstance(ZUEUID_CLASS_TUNING_DATA, reinterpret_cast<void**>(service_.Out()));
    if (r == PVL_OK) r = service_->SelectTuningData(ZUEUID_CLASS_S5K3E2FX_TUNING_DATA);
    return r;
  }
  void Unload() {
    service_.Reset();
    OrbhostTest_UnregisterClass(ZUEUID_CLASS_TUNING_DATA);
    OrbhostTest_UnregisterClass(ZUEUID_CLASS_S5K3E2FX_TUNING_DATA);
  }
  ~SensorTuning() { Unload(); }

 private:
  CPvlPtr<ITuningData> service_;
};

}  // namespace camera::test
