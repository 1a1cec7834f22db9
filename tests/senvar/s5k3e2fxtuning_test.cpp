// The S5K3E2FX tuning-data provider: its interface, its one table, and the
// tuning-data service (in Corvane) taking the table from it through the host.
#include <cstddef>

#include "cs5k3e2fxtuningdata.h"
#include "senvar_fixture.h"
#include "tuningdata.h"

namespace senvartest {
namespace {

class TuningProviderTest : public SenvarTest {
 protected:
  CPvlPtr<ITuningDataProvider> Provider() {
    CPvlPtr<ITuningDataProvider> p;
    EXPECT_EQ(PVL_OK, Mod_ClassFactory(env_.Get(), ZUEUID_CLASS_S5K3E2FX_TUNING_DATA, nullptr,
                                          reinterpret_cast<void**>(p.Out())));
    return p;
  }
};

TEST_F(TuningProviderTest, HandsOutOneConstantTable) {
  CPvlPtr<ITuningDataProvider> first = Provider(), second = Provider();
  const void* a = nullptr;
  const void* b = nullptr;
  const void* c = nullptr;
  ASSERT_EQ(PVL_OK, first->GetTable(&a));
  ASSERT_EQ(PVL_OK, first->GetTableEx(&b));
  ASSERT_EQ(PVL_OK, second->GetTableEx(&c));
  EXPECT_EQ(a, b);
  EXPECT_EQ(a, c);
  const TuningDataTable* table = static_cast<const TuningDataTable*>(a);
  EXPECT_EQ(table->Block.MiscVarnixVersion, 0x0202);
  EXPECT_EQ(offsetof(TuningDataTable, ExposureStretch) + sizeof(TuningExposureStretch), 32308u);
  // The provider does not come from the environment's allocator.
  EXPECT_EQ(OrbhostTest_LiveBlocks(nullptr), liveBlocks_);
}

TEST_F(TuningProviderTest, AnswersOnlyItsOwnInterface) {
  CPvlPtr<ITuningDataProvider> p = Provider();
  void* out = &out;
  EXPECT_EQ(PVL_E_UNSUPPORTED, p->QueryInterface(ZUEUID_IFACE_BASE, &out));
  EXPECT_EQ(out, &out);  // left as it was
  EXPECT_EQ(PVL_E_UNSUPPORTED, p->QueryInterface(ZUEUID_IFACE_CAMERA_DRIVER, &out));
  EXPECT_EQ(PVL_E_BADARG, p->QueryInterface(ZUEUID_IFACE_TUNING_DATA_PROVIDER, nullptr));
  ASSERT_EQ(PVL_OK, p->QueryInterface(ZUEUID_IFACE_TUNING_DATA_PROVIDER, &out));
  EXPECT_EQ(out, p.Get());
  EXPECT_EQ(p->Release(), 1);
  EXPECT_EQ(PVL_E_NULLPTR, S5K3E2FX_TuningData_CreateInstance(env_.Get(), ZUEUID_CLASS_S5K3E2FX_TUNING_DATA, nullptr, nullptr));
}

// The whole path as the camera takes it: the tuning-data service in the Corvane
// module creates the provider by class, so the host maps Senvar for it.
TEST_F(TuningProviderTest, TheTuningDataServiceServesTheTable) {
  OrbhostTest_UnregisterAllClasses();
  CPvlPtr<ITuningData> service;
  ASSERT_EQ(PVL_OK, env_->CreateInstance(ZUEUID_CLASS_TUNING_DATA, reinterpret_cast<void**>(service.Out())));
  ASSERT_EQ(PVL_OK, service->SelectTuningData(ZUEUID_CLASS_S5K3E2FX_TUNING_DATA));
  EXPECT_EQ(1, OrbhostTest_IsModuleMapped("Senvar"));
  uint32_t version = 0;
  ASSERT_EQ(PVL_OK, service->GetVersion(&version));
  EXPECT_EQ(version, 0x0202u);
}

}  // namespace
}  // namespace senvartest
