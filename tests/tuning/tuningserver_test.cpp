// The tuning-data service with the real tuning server (module Calbrook),
// enabled by its flag file in the device image.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hostsymbols.h"
#include "ienv.h"
#include "image_copy.h"
#include "orbhost_test.h"
#include "cpvlptr.h"
#include "tunvex.h"
#include "tuningdata.h"
#include "tuningdoubles.h"

using namespace tuningtest;

namespace {

std::string JpegText(ITunvex* server) {
  uint32_t needed = 0;
  EXPECT_EQ(PVL_OK, server->SendDataToJPEG(nullptr, 0, &needed, nullptr));
  std::vector<char> text(needed + 1);
  uint32_t written = 0;
  EXPECT_EQ(PVL_OK, server->SendDataToJPEG(text.data(), static_cast<uint32_t>(text.size()), nullptr, &written));
  return std::string(text.data());
}

}  // namespace

TEST(TuningDataWithTheTuningServer, GroupOfferedAndWithdrawn) {
  camera::test::WriteImageFile("fs/~0x0106fa8a/_TunvexEnabled.flg", "");
  CPvlPtr<IEnv> env;
  ASSERT_EQ(PVL_OK, env_env_CreateInstance(ZUEUID_CLASS_ENV, env.Out()));
  OrbhostTest_RegisterClass(kProviderClass, &ProviderFactory);
  ProviderTable() = TuningDataTable{};
  ProviderTable().Block.ColorCorrControl = 1;
  CPvlPtr<ITunvex> server;
  ASSERT_EQ(PVL_OK, env->CreateInstance(ZUEUID_CLASS_TUNINGSERVER, server.Out()));
  {
    CPvlPtr<ITuningData> service;
    ASSERT_EQ(PVL_OK, env->CreateInstance(ZUEUID_CLASS_TUNING_DATA, service.Out()));
    CPvlPtr<IRuntimeTuning> keys;
    ASSERT_EQ(PVL_OK, service->QueryInterface(ZUEUID_RUNTIME_TUNING, keys.Out()));
    uint16_t n = 0;
    ASSERT_EQ(PVL_OK, keys->GetNumItems(&n));
    EXPECT_EQ(n, 986);
    ASSERT_EQ(PVL_OK, service->SelectTuningData(kProviderClass));
    std::string text = JpegText(server);
    EXPECT_NE(text.find("ColorCorr-Control=1"), std::string::npos);
  }
  // The service is gone and its group with it: the server reads nothing of it.
  std::string text = JpegText(server);
  EXPECT_EQ(text.find("ColorCorr-Control"), std::string::npos);
  server.Reset();
  OrbhostTest_UnregisterAllClasses();
  camera::test::RemoveImageFile("fs/~0x0106fa8a/_TunvexEnabled.flg");
}

TEST(TuningDataWithTheTuningServer, NoFlagFileNoKeys) {
  camera::test::RemoveImageFile("fs/~0x0106fa8a/_TunvexEnabled.flg");
  CPvlPtr<IEnv> env;
  ASSERT_EQ(PVL_OK, env_env_CreateInstance(ZUEUID_CLASS_ENV, env.Out()));
  CPvlPtr<ITuningData> service;
  ASSERT_EQ(PVL_OK, env->CreateInstance(ZUEUID_CLASS_TUNING_DATA, service.Out()));
  CPvlPtr<IRuntimeTuning> keys;
  EXPECT_EQ(PVL_E_UNSUPPORTED, service->QueryInterface(ZUEUID_RUNTIME_TUNING, keys.Out()));
}
