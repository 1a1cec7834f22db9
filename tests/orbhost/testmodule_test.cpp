// The loader with a module built like the real ones (the runtime's test module):
// mapped from its .mif in the image's module directory and asked for objects.
#include <gtest/gtest.h>

#include <filesystem>

#include "hostsession.h"
#include "ienv.h"
#include "image_copy.h"
#include "orbhost.h"
#include "orbhost_test.h"
#include "wince.h"

#if __has_include("testmodule.h")
#include "testmodule.h"

namespace {

class TestModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(camera::test::ImagePath("Windows/" TESTMOD_DEVICE_NAME ".mif")))
      GTEST_SKIP() << "the runtime's test module is not built";
    ASSERT_EQ(PVL_OK, host.Start());
    env = host.env();
    ASSERT_EQ(PVL_OK, OrbhostTest_SetModuleDirectory(nullptr));  // the script's module directory
  }
  camera::test::HostSession host;
  IEnv* env = nullptr;
};

TEST_F(TestModuleTest, MapsTheModuleAndCreatesItsObjects) {
  ITestModEcho* echo = nullptr;
  ASSERT_EQ(PVL_OK, env->CreateInstance(TESTMOD_CLASS_ECHO, reinterpret_cast<void**>(&echo)));
  ASSERT_NE(nullptr, echo);
  EXPECT_EQ(1, OrbhostTest_IsModuleMapped(TESTMOD_DEVICE_NAME));
  EXPECT_EQ(42, echo->Echo(42));
  EXPECT_EQ(env, echo->CreationArgument());
  EXPECT_EQ(1, echo->LiveObjects());
  // The module's heap goes through the environment's allocator.
  EXPECT_EQ(3000, echo->HeapRoundTrip("abc", 1000));

  ITestModEcho* nested = nullptr;
  ASSERT_EQ(PVL_OK, env->CreateInstance(TESTMOD_CLASS_NESTED, reinterpret_cast<void**>(&nested)));
  ITestModEcho* inner = nested->Inner();
  ASSERT_NE(nullptr, inner);
  EXPECT_EQ(7, inner->Echo(7));
  EXPECT_EQ(3, echo->LiveObjects());
  inner->Release();
  nested->Release();

  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(PVL_E_NOTSUPPORTED, env->CreateInstance(TESTMOD_CLASS_LISTED_ONLY, &out));
  EXPECT_EQ(nullptr, out);
  EXPECT_EQ(1, echo->LiveObjects());
  echo->Release();
  EXPECT_EQ(1u, OrbhostTest_ModuleMapCount(TESTMOD_DEVICE_NAME));
}

TEST_F(TestModuleTest, TheDriverWayReachesTheSameHost) {
  // The driver loads the host by name and finds its start by name.
  HMODULE host = LoadLibraryW(u"Orbhost.dll");
  ASSERT_NE(nullptr, host);
  // Through a generic function type: the export's own type is not FARPROC's.
  auto start = reinterpret_cast<PvlOrbhostStartFn>(reinterpret_cast<void (*)()>(GetProcAddressW(host, u"Orbhost_Start")));
  auto stop = reinterpret_cast<PvlOrbhostStopFn>(reinterpret_cast<void (*)()>(GetProcAddressW(host, u"Orbhost_Stop")));
  ASSERT_NE(nullptr, start);
  ASSERT_NE(nullptr, stop);
  IEnv* second = nullptr;
  ASSERT_EQ(PVL_OK, start("\\device.cs", 0, &second));
  EXPECT_EQ(env, second);
  ITestModEcho* echo = nullptr;
  ASSERT_EQ(PVL_OK, second->CreateInstance(TESTMOD_CLASS_ECHO, reinterpret_cast<void**>(&echo)));
  echo->Release();
  second->Release();
  EXPECT_EQ(PVL_OK, stop());
  FreeLibrary(host);
}

}  // namespace
#endif
