// The tuning data the block tests read: the real tuning-data service over a
// copy of the S5K3E2FX camera's table (taken from the Senvar module the way
// the engine gets it), served by a provider double so that a test can change
// values and load them again.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "ccameratuningdata.h"
#include "cpvlptr.h"
#include "ienv.h"
#include "orbhost_test.h"
#include "tuningblock.h"
#include "tuningdata.h"
#include "tuningdataprovider.h"
#include "tuningproviderdouble.h"

namespace vfeconfigtest {

// (Shared by the block tests and the VFE service tests.)

constexpr ZUEUID kTestTuningProvider = 0x0108AEF7u;

// The table as the camera ships it (read once) and the copy served.
inline TuningDataTable& ShippedTuningTable() {
  static std::unique_ptr<TuningDataTable> table;
  if (!table) {
    table = std::make_unique<TuningDataTable>();
    std::memset(table.get(), 0, sizeof *table);
    CPvlPtr<IEnv> env;
    CPvlPtr<ITuningDataProvider> provider;
    const void* data = nullptr;
    if (env_env_CreateInstance(ZUEUID_CLASS_ENV, env.Out()) == PVL_OK &&
        env->CreateInstance(ZUEUID_CLASS_S5K3E2FX_TUNING_DATA, provider.Out()) == PVL_OK &&
        provider->GetTableEx(&data) == PVL_OK && data) {
      std::memcpy(table.get(), data, sizeof *table);
    }
  }
  return *table;
}
inline TuningDataTable& ServedTuningTable() {
  static TuningDataTable table;
  return table;
}

// The provider of the served table.
inline int32_t ServedTableProvider(IEnv*, ZUEUID, void*, void** out) {
  if (!out) return PVL_E_NULLPTR;
  *out = static_cast<ITuningDataProvider*>(new camera::test::TuningProviderDouble(&ServedTuningTable()));
  return PVL_OK;
}

// Holds the service (it lives while someone holds it) with the served table loaded.
class VfeTuningFixture {
 protected:
  // The shipped values, loaded.
  void SetUpTuning() {
    ServedTuningTable() = ShippedTuningTable();
    ASSERT_EQ(255, ServedTuningTable().Block.GammaPreview[0].Table[1023]) << "the camera's table was not read";
    ASSERT_EQ(PVL_OK, OrbhostTest_RegisterClass(ZUEUID_CLASS_TUNING_DATA, &CCameraTuningData::ClassEntry));
    ASSERT_EQ(PVL_OK, OrbhostTest_RegisterClass(kTestTuningProvider, &ServedTableProvider));
    ASSERT_EQ(PVL_OK, LoadTuning());
  }
  void TearDownTuning() {
    tuning_.Reset();
    OrbhostTest_UnregisterClass(kTestTuningProvider);
    OrbhostTest_UnregisterClass(ZUEUID_CLASS_TUNING_DATA);
  }
  // Loads the served table as it is now into a fresh service.
  PvlResult LoadTuning() {
    tuning_.Reset();
    PvlResult r = TuningData_GetService(reinterpret_cast<ITuningData**>(tuning_.Out()));
    return r != PVL_OK ? r : tuning_->SelectTuningData(kTestTuningProvider);
  }
  // No tuning data at all: every read answers 13.
  void UnloadTuning() {
    tuning_.Reset();
    (void)TuningData_GetService(reinterpret_cast<ITuningData**>(tuning_.Out()));
  }
  TuningParameterBlock& Tuning() { return ServedTuningTable().Block; }

  CPvlPtr<ITuningData> tuning_;
};

}  // namespace vfeconfigtest
