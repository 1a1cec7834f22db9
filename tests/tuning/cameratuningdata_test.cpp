// The tuning-data service through the host: creation, provider selection,
// queries, white-balance calibration, best-shot override and the key table
// offered to the tuning server.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>

#include "ccameratuningdata.h"
#include "cpvlptr.h"
#include "hostsymbols.h"
#include "ienv.h"
#include "orbhost_test.h"
#include "pvllog.h"
#include "tuningdoubles.h"
#include "tuningpattern.h"

using namespace tuningtest;

namespace {

class TuningDataServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(PVL_OK, env_env_CreateInstance(ZUEUID_CLASS_ENV, env.Out()));
    OrbhostTest_RegisterClass(ZUEUID_CLASS_TUNING_DATA, &CCameraTuningData::ClassEntry);
    OrbhostTest_RegisterClass(kProviderClass, &ProviderFactory);
    OrbhostTest_RegisterClass(kOtherProviderClass, &ProviderFactory);
    OrbhostTest_RegisterClass(kNullTableProviderClass, &ProviderFactory);
    UseServer(false);
    auto pattern = MakePatternedTable();
    ProviderTable() = *pattern;
    ProviderTable().Block.MiscVarnixVersion = 0x0202;
    OtherProviderTable() = TuningDataTable{};
    OtherProviderTable().Block.MiscVarnixVersion = 0x0303;
    ServerGroups().clear();
  }
  void TearDown() override {
    service.Reset();
    env.Reset();
    OrbhostTest_UnregisterAllClasses();
    EXPECT_EQ(LiveProviders(), 0);
    EXPECT_EQ(LiveServers(), 0);
  }
  void UseServer(bool on) {
    OrbhostTest_RegisterClass(ZUEUID_CLASS_TUNINGSERVER, on ? &ServerFactory : &RefusingServerFactory);
  }
  void Create() { ASSERT_EQ(PVL_OK, env->CreateInstance(ZUEUID_CLASS_TUNING_DATA, service.Out())); }
  CPvlPtr<ITuningParams> Params() {
    CPvlPtr<ITuningParams> p;
    EXPECT_EQ(PVL_OK, service->QueryInterface(ZUEUID_IFACE_TUNING_PARAMS, p.Out()));
    return p;
  }
  CCameraTuningData* Object() {
    void* o = nullptr;
    EXPECT_EQ(PVL_OK, service->QueryInterface(ZUEUID_IFACE_OBJECT, &o));
    auto* self = static_cast<CCameraTuningData*>(static_cast<CPvlObject*>(static_cast<IPvlBase*>(o)));
    self->Release();
    return self;
  }

  CPvlPtr<IEnv> env;
  CPvlPtr<ITuningData> service;
};

}  // namespace

TEST_F(TuningDataServiceTest, OneServicePerEnvironment) {
  Create();
  CPvlPtr<ITuningData> second;
  ASSERT_EQ(PVL_OK, env->CreateInstance(ZUEUID_CLASS_TUNING_DATA, second.Out()));
  EXPECT_EQ(second.Get(), service.Get());
  void* other = nullptr;
  EXPECT_EQ(PVL_E_UNSUPPORTED, CCameraTuningData::ClassEntry(env, 0x01063091, nullptr, &other));
  EXPECT_EQ(other, nullptr);

  // Faces: every one reaches the same object; an unknown interface gives 20.
  CPvlPtr<IBestShotTuning> bestShot;
  ASSERT_EQ(PVL_OK, service->QueryInterface(ZUEUID_IFACE_BESTSHOT_TUNING, bestShot.Out()));
  CPvlPtr<ITuningData> back;
  ASSERT_EQ(PVL_OK, bestShot->QueryInterface(ZUEUID_IFACE_TUNING_DATA, back.Out()));
  EXPECT_EQ(back.Get(), service.Get());
  CPvlPtr<IPvlBase> none;
  EXPECT_EQ(PVL_E_UNSUPPORTED, service->QueryInterface(0x01234567, none.Out()));
  EXPECT_EQ(none.Get(), nullptr);
}

TEST_F(TuningDataServiceTest, EmptyUntilSelected) {
  Create();
  uint32_t version = 0;
  int32_t v = 0;
  EXPECT_EQ(PVL_E_NOTREADY, service->GetVersion(&version));
  EXPECT_EQ(PVL_E_NOTREADY, service->GetIntParam(0x00300002, nullptr));
  EXPECT_EQ(PVL_OK, service->SelectTuningData(0));  // nothing selected yet: nothing to do
  EXPECT_EQ(PVL_E_NOTREADY, service->GetIntParam(0x00300002, &v));
  EXPECT_EQ(PVL_E_NOTREADY, service->CalibrateWhiteBalance(1, 1, 1, 1));
}

TEST_F(TuningDataServiceTest, SelectCopiesTheProvidersTable) {
  Create();
  int before = ProviderCreations();
  ASSERT_EQ(PVL_OK, service->SelectTuningData(kProviderClass));
  EXPECT_EQ(ProviderCreations(), before + 1);
  uint32_t version = 0;
  ASSERT_EQ(PVL_OK, service->GetVersion(&version));
  EXPECT_EQ(version, 0x0202u);
  EXPECT_EQ(std::memcmp(&Object()->Table(), &ProviderTable(), sizeof(TuningDataTable)), 0);

  // The same class again does nothing, not even create a provider.
  EXPECT_EQ(PVL_OK, service->SelectTuningData(kProviderClass));
  EXPECT_EQ(ProviderCreations(), before + 1);

  // Queries through both faces.
  int32_t luma = 0;
  ASSERT_EQ(PVL_OK, service->GetIntParam(0x00300002, &luma));
  EXPECT_EQ(luma, ReadKey<uint8_t>(ProviderTable(), "AEC-Default"));
  uint32_t enable = 9;
  ASSERT_EQ(PVL_OK, Params()->GetModuleEnable(0x80400F00, &enable));
  EXPECT_EQ(enable, ReadKey<uint8_t>(ProviderTable(), "Gamma-Control") ? 1u : 0u);

  // Another class replaces the whole block.
  ASSERT_EQ(PVL_OK, service->SelectTuningData(kOtherProviderClass));
  ASSERT_EQ(PVL_OK, service->GetVersion(&version));
  EXPECT_EQ(version, 0x0303u);
}

TEST_F(TuningDataServiceTest, FailedSelectLeavesTheServiceEmptyAndRetryable) {
  Create();
  ASSERT_EQ(PVL_OK, service->SelectTuningData(kProviderClass));
  EXPECT_NE(PVL_OK, service->SelectTuningData(kMissingProviderClass));
  uint32_t version;
  EXPECT_EQ(PVL_E_NOTREADY, service->GetVersion(&version));
  // The same class is tried again, and succeeds once it exists.
  OrbhostTest_RegisterClass(kMissingProviderClass, &ProviderFactory);
  int before = ProviderCreations();
  EXPECT_EQ(PVL_E_FAIL, service->SelectTuningData(kMissingProviderClass));  // this provider has no table
  EXPECT_EQ(ProviderCreations(), before + 1);
  EXPECT_EQ(PVL_E_FAIL, service->SelectTuningData(kNullTableProviderClass));
  EXPECT_EQ(PVL_E_FAIL, service->SelectTuningData(kNullTableProviderClass));
  EXPECT_EQ(ProviderCreations(), before + 3);
  EXPECT_EQ(PVL_E_NOTREADY, service->GetVersion(&version));
  EXPECT_EQ(LiveProviders(), 0);
}

TEST_F(TuningDataServiceTest, BestShotOverride) {
  Create();
  ASSERT_EQ(PVL_OK, service->SelectTuningData(kProviderClass));
  WriteKey<uint8_t>(&ProviderTable(), "AEC-Default", 50);
  ASSERT_EQ(PVL_OK, service->SelectTuningData(kOtherProviderClass));
  ASSERT_EQ(PVL_OK, service->SelectTuningData(kProviderClass));
  CPvlPtr<IBestShotTuning> bestShot;
  ASSERT_EQ(PVL_OK, service->QueryInterface(ZUEUID_IFACE_BESTSHOT_TUNING, bestShot.Out()));
  int32_t luma = 0;
  BestShotRecord up{};
  up.Words[BESTSHOT_COL_LUMA_TARGET] = 2;
  ASSERT_EQ(PVL_OK, bestShot->SetBestShotOverride(1, &up));
  ASSERT_EQ(PVL_OK, service->GetIntParam(0x00300002, &luma));
  EXPECT_EQ(luma, 60);
  // No record: refused, the previous override stays.
  EXPECT_EQ(PVL_E_BADARG, bestShot->SetBestShotOverride(1, nullptr));
  ASSERT_EQ(PVL_OK, service->GetIntParam(0x00300002, &luma));
  EXPECT_EQ(luma, 60);
  // Off, whatever record comes with it.
  BestShotRecord down{};
  down.Words[BESTSHOT_COL_LUMA_TARGET] = 1;
  ASSERT_EQ(PVL_OK, bestShot->SetBestShotOverride(0, &down));
  ASSERT_EQ(PVL_OK, service->GetIntParam(0x00300002, &luma));
  EXPECT_EQ(luma, 50);
  // The kept record comes back with the next enable through a new record only.
  ASSERT_EQ(PVL_OK, bestShot->SetBestShotOverride(1, &down));
  ASSERT_EQ(PVL_OK, service->GetIntParam(0x00300002, &luma));
  EXPECT_EQ(luma, 40);
}

TEST_F(TuningDataServiceTest, CalibrateWhiteBalance) {
  TuningDataTable& t = ProviderTable();
  t.Block.AWBChannelGain = {1, 1, 1, 1};
  for (auto& m : t.Block.MWB) m = {1, 1, 1};
  for (auto& r : t.Block.AWBRefPoints) r = {0.5f, 0.25f, 3, 4};
  Create();
  ASSERT_EQ(PVL_OK, service->SelectTuningData(kProviderClass));
  ASSERT_EQ(PVL_OK, service->CalibrateWhiteBalance(2, 1, 1, 1));
  TuningChannelGains g;
  ASSERT_EQ(PVL_OK, Params()->GetChannelGains(0x80300000, &g));
  EXPECT_EQ(g.Red, 2.0f);
  EXPECT_EQ(g.Blue, 1.0f);
  EXPECT_EQ(g.GreenOddRow, 1.0f);
  TuningMwbGains m;
  ASSERT_EQ(PVL_OK, Params()->GetMwbGains(0x80200003, &m));
  EXPECT_EQ(m.RGain, 2.0f);
  EXPECT_EQ(m.GGain, 1.0f);
  EXPECT_EQ(m.BGain, 1.0f);
  TuningAwbRefPoint ref;
  ASSERT_EQ(PVL_OK, service->GetAwbRefPoint(0x00100104, &ref));
  EXPECT_EQ(ref.RedG, 1.0f);
  EXPECT_EQ(ref.BlueG, 0.25f);
  EXPECT_EQ(ref.RedAdj, 3.0f);

  // Dividing by the smallest gain: a blue factor of 0.5 makes blue the smallest.
  ASSERT_EQ(PVL_OK, service->CalibrateWhiteBalance(1, 0.5f, 1, 1));
  ASSERT_EQ(PVL_OK, Params()->GetChannelGains(0x80300000, &g));
  EXPECT_EQ(g.Blue, 1.0f);
  EXPECT_EQ(g.Red, 4.0f);
  EXPECT_EQ(g.GreenEvenRow, 2.0f);

  // A zero, negative or non-finite factor would make gains infinite or NaN:
  // refused, nothing changes.
  const TuningDataTable before = Object()->Table();
  const float kBad[] = {0.0f, -1.0f, std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN()};
  for (float bad : kBad) {
    EXPECT_EQ(PVL_E_BADARG, service->CalibrateWhiteBalance(bad, 1, 1, 1)) << bad;
    EXPECT_EQ(PVL_E_BADARG, service->CalibrateWhiteBalance(1, bad, 1, 1)) << bad;
    EXPECT_EQ(PVL_E_BADARG, service->CalibrateWhiteBalance(1, 1, bad, 1)) << bad;
    EXPECT_EQ(PVL_E_BADARG, service->CalibrateWhiteBalance(1, 1, 1, bad)) << bad;
  }
  EXPECT_EQ(std::memcmp(&before, &Object()->Table(), sizeof before), 0);
}

TEST_F(TuningDataServiceTest, CalibrationRefusesZeroGainsInTheBlock) {
  ProviderTable().Block.AWBChannelGain = {1, 1, 1, 1};
  for (auto& m : ProviderTable().Block.MWB) m = {1, 1, 1};
  ProviderTable().Block.MWB[MWB_STROBE].GGain = 0.0f;
  Create();
  ASSERT_EQ(PVL_OK, service->SelectTuningData(kProviderClass));
  // The zero gain is met only in the last MWB triple but one: nothing of the
  // block is scaled, not even the channel gains and reference points before it.
  const TuningDataTable before = Object()->Table();
  EXPECT_EQ(PVL_E_BADARG, service->CalibrateWhiteBalance(2, 1, 1, 1));
  EXPECT_EQ(std::memcmp(&before, &Object()->Table(), sizeof before), 0);
}

TEST_F(TuningDataServiceTest, WithoutTheTuningServerNoKeysAreBound) {
  Create();
  EXPECT_FALSE(Object()->HasRuntimeTuning());
  CPvlPtr<IRuntimeTuning> keys;
  EXPECT_EQ(PVL_E_UNSUPPORTED, service->QueryInterface(ZUEUID_RUNTIME_TUNING, keys.Out()));
  EXPECT_TRUE(ServerGroups().empty());
}

TEST_F(TuningDataServiceTest, KeysOfferedToTheTuningServer) {
  UseServer(true);
  Create();
  ASSERT_EQ(ServerGroups().size(), 1u);
  EXPECT_EQ(ServerGroups()[0].name, "TuningData");
  IRuntimeTuning* keys = ServerGroups()[0].provider;
  uint16_t n = 0;
  ASSERT_EQ(PVL_OK, keys->GetNumItems(&n));
  EXPECT_EQ(n, 986);
  char name[60];
  uint16_t count;
  uint32_t flags;
  ASSERT_EQ(PVL_OK, keys->GetItemInfo(0, name, sizeof name, nullptr, &count, &flags));
  EXPECT_STREQ(name, "ColorCorr-Control");
  ASSERT_EQ(PVL_OK, keys->GetItemInfo(985, name, sizeof name, nullptr, &count, &flags));
  EXPECT_STREQ(name, "Misc-VarnixVersion");
  EXPECT_EQ(flags, 1u);

  // The keys name the service's own block: what the tool writes, the getters read.
  ASSERT_EQ(PVL_OK, service->SelectTuningData(kProviderClass));
  uint16_t gainItem = 0, lineItem = 0, gammaItem = 0, lumaItem = 0;
  for (uint16_t i = 0; i < n; ++i) {
    ASSERT_EQ(PVL_OK, keys->GetItemInfo(i, name, sizeof name, nullptr, &count, &flags));
    std::string s = name;
    if (s == "AEC-TableExposureEntriesGain") gainItem = i;
    if (s == "AEC-TableExposureEntriesLineCt") lineItem = i;
    if (s == "Gamma-Preview-BacklightGamma") gammaItem = i;
    if (s == "AEC-Default") lumaItem = i;
  }
  const uint8_t* block = reinterpret_cast<const uint8_t*>(&Object()->Table());
  uint16_t gainBefore;
  std::memcpy(&gainBefore, block + 1356 + 24, 2);
  ASSERT_EQ(PVL_OK, keys->SetValue(lineItem, 3, "1000"));
  uint32_t line;
  std::memcpy(&line, block + 1356 + 24 + 4, 4);
  EXPECT_EQ(line, 1000u);
  uint16_t gainAfter;
  std::memcpy(&gainAfter, block + 1356 + 24, 2);
  EXPECT_EQ(gainAfter, gainBefore);
  ASSERT_EQ(PVL_OK, keys->SetValue(gainItem, 499, "65537"));  // stored in 16 bits
  char text[16];
  uint32_t length = 0;
  ASSERT_EQ(PVL_OK, keys->GetValue(gainItem, 499, text, sizeof text, &length));
  EXPECT_STREQ(text, "1");
  EXPECT_EQ(length, 2u);
  EXPECT_EQ(PVL_E_BADARG, keys->GetValue(gainItem, 500, text, sizeof text, &length));
  EXPECT_EQ(PVL_E_BADARG, keys->SetValue(lineItem, 500, "1"));
  EXPECT_EQ(PVL_E_BADARG, keys->GetValue(gammaItem, 1024, text, sizeof text, &length));
  ASSERT_EQ(PVL_OK, keys->SetValue(gammaItem, 1023, "77"));
  EXPECT_EQ(block[12802], 77);
  ASSERT_EQ(PVL_OK, keys->SetValue(lumaItem, 0, "42"));
  int32_t luma = 0;
  ASSERT_EQ(PVL_OK, service->GetIntParam(0x00300002, &luma));
  EXPECT_EQ(luma, 42);
}

TEST_F(TuningDataServiceTest, ExposureTableCountWrittenByTheToolStaysInTheTable) {
  UseServer(true);
  Create();
  ASSERT_EQ(PVL_OK, service->SelectTuningData(kProviderClass));
  IRuntimeTuning* keys = ServerGroups().at(0).provider;
  uint16_t n = 0;
  ASSERT_EQ(PVL_OK, keys->GetNumItems(&n));
  char name[60];
  uint16_t validItem = 0xFFFF;
  for (uint16_t i = 0; i < n; ++i) {
    ASSERT_EQ(PVL_OK, keys->GetItemInfo(i, name, sizeof name, nullptr, nullptr, nullptr));
    if (std::string(name) == "AEC-TableValidEntries") validItem = i;
  }
  ASSERT_NE(validItem, 0xFFFF);
  ASSERT_EQ(PVL_OK, keys->SetValue(validItem, 0, "60000"));
  std::vector<TuningExposureEntry> entries(1000);
  uint32_t count = 0;
  ASSERT_EQ(PVL_OK, service->GetExposureTable(0x00300001, entries.data(), 1000, &count));
  EXPECT_EQ(count, 500u);
}

TEST_F(TuningDataServiceTest, TheRegistryFaceCountsOnTheServiceAndLeavesWithIt) {
  UseServer(true);
  Create();
  CPvlPtr<IRuntimeTuning> keys;
  ASSERT_EQ(PVL_OK, service->QueryInterface(ZUEUID_RUNTIME_TUNING, keys.Out()));
  EXPECT_EQ(keys.Get(), ServerGroups().at(0).provider);
  // Releasing the face releases the service's count, not the service.
  keys.Reset();
  uint32_t version;
  EXPECT_EQ(PVL_E_NOTREADY, service->GetVersion(&version));
  // The last release withdraws the group from the server.
  int before = ServerUnregistrations();
  service.Reset();
  EXPECT_EQ(ServerUnregistrations(), before + 1);
  EXPECT_TRUE(ServerGroups().empty());
  EXPECT_EQ(LiveServers(), 0);
}

TEST_F(TuningDataServiceTest, ClientHelpers) {
  int32_t v = 0;
  // No service held: each helper makes and drops its own.
  EXPECT_EQ(PVL_E_NOTREADY, TuningData_GetIntParam(0x00300002, &v));
  try {
    TuningData_MustGetIntParam(0x00300002);
    ADD_FAILURE() << "no exception";
  } catch (const Camera::CZUEException& e) {
    EXPECT_EQ(e.GetResult(), PVL_E_NOTREADY);
  }
  Create();
  ASSERT_EQ(PVL_OK, service->SelectTuningData(kProviderClass));
  ASSERT_EQ(PVL_OK, TuningData_GetIntParam(0x00800001, &v));
  EXPECT_EQ(v, ReadKey<uint16_t>(ProviderTable(), "AF-Position-FarEnd"));
  EXPECT_EQ(TuningData_MustGetWordParam(0x0080000D), ReadKey<uint32_t>(ProviderTable(), "AF-StepsGain"));
  EXPECT_EQ(TuningData_MustGetModuleEnable(0x80000F00), ReadKey<uint8_t>(ProviderTable(), "ColorCorr-Control") ? 1u : 0u);
  try {
    TuningData_MustGetWordParam(0x12345678);
    ADD_FAILURE() << "no exception";
  } catch (const Camera::CZUEException& e) {
    EXPECT_EQ(e.GetResult(), PVL_E_BADARG);
  }
  CPvlPtr<ITuningParams> params;
  ASSERT_EQ(PVL_OK, TuningData_GetParamsInterface(&params));
  uint32_t version = 0;
  ASSERT_EQ(PVL_OK, params->GetVersion(&version));
  EXPECT_EQ(version, 0x0202u);
}
