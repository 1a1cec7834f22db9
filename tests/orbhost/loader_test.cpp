// The module loader: module information files, mapping on first use, binding of the
// host symbols, refusals, shared classes, nested and concurrent creations.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "ienv.h"
#include "image_copy.h"
#include "orbhost.h"
#include "orbhost_test.h"
#include "probe.h"
#include "wince_sim.h"

namespace {

namespace fs = std::filesystem;

void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = v & 0xFF;
  b[at + 1] = v >> 8;
}
void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = (v >> (8 * i)) & 0xFF;
}

// A module information file as the module build writes it.
std::vector<uint8_t> Mif(const std::vector<uint32_t>& classes, const char* rule = nullptr) {
  const uint32_t n = rule ? 2 : 1;
  const uint32_t s = rule ? 3 : 2;
  const uint32_t attr = 0x20;
  const uint32_t table = attr + 8 * n;
  const uint32_t first = table + 4 * (s + 1);
  const uint32_t s1 = first, s2 = s1 + 40, s3 = s2 + 4 * (classes.size() + 1);
  const uint32_t end = rule ? s3 + strlen(rule) + 2 : s3;
  std::vector<uint8_t> b(end, 0);
  Put16(b, 0, 0x11);
  Put16(b, 2, 1);
  Put16(b, 4, 1);
  Put16(b, 6, n);
  Put32(b, 8, attr);
  Put32(b, 12, 8 * n);
  Put32(b, 16, table);
  Put32(b, 20, s);
  Put32(b, 24, first);
  Put32(b, 28, end - first);
  Put32(b, attr, 0x5000);
  Put32(b, attr + 4, 1);
  if (rule) {
    Put32(b, attr + 8, 0x0b5000);
    Put32(b, attr + 12, 0x20000);
  }
  Put32(b, table, s1);
  Put32(b, table + 4, s2);
  if (rule) Put32(b, table + 8, s3);
  Put32(b, table + 4 * s, end);
  Put32(b, s1, 0x1002);
  Put16(b, s1 + 26, static_cast<uint16_t>(classes.size()));
  for (size_t i = 0; i < classes.size(); ++i) Put32(b, s2 + 4 * i, classes[i]);
  if (rule) memcpy(&b[s3], rule, strlen(rule));
  return b;
}

class LoaderTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = camera::test::ImagePath("testmodules");
    fs::create_directories(dir);
    for (const char* name : {"ModAlpha", "ModBeta", "ModBadSymbol", "ModNoNew", "ModFailNew", "ModGlobalCtor"}) {
      fs::path link = fs::path(dir) / (std::string(name) + ".dll");
      fs::remove(link);
      fs::create_symlink(fs::path(ORBHOST_FAKE_DIR) / (std::string(name) + ".dll"), link);
    }
    Write("ModAlpha.mif", Mif({FAKE_CLASS_ALPHA_PROBE, FAKE_CLASS_ALPHA_NESTED, FAKE_CLASS_SHARED}, "0x0 = r/rw:/"));
    Write("ModBeta.mif", Mif({FAKE_CLASS_BETA_PROBE, FAKE_CLASS_SHARED}));
    Write("ModBadSymbol.mif", Mif({FAKE_CLASS_BAD_SYMBOL}));
    Write("ModNoNew.mif", Mif({FAKE_CLASS_NO_NEW}));
    Write("ModFailNew.mif", Mif({FAKE_CLASS_FAIL_NEW}));
    Write("ModGlobalCtor.mif", Mif({FAKE_CLASS_GLOBAL_CTOR}));
  }
  static void Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    FILE* f = fopen((dir + "/" + name).c_str(), "wb");
    ASSERT_NE(nullptr, f);
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
  }
  void SetUp() override {
    ASSERT_EQ(PVL_OK, Orbhost_Start("\\device.cs", 0, &env));
    ASSERT_EQ(PVL_OK, OrbhostTest_SetModuleDirectory(dir.c_str()));
  }
  void TearDown() override {
    env->Release();
    Orbhost_Stop();
  }
  IFakeProbe* Create(ZUEUID clsid, PvlResult want = PVL_OK) {
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(want, env->CreateInstance(clsid, &out)) << std::hex << clsid;
    if (want != PVL_OK) {
      EXPECT_EQ(nullptr, out);
    }
    return static_cast<IFakeProbe*>(out);
  }
  static std::string dir;
  IEnv* env = nullptr;
};
std::string LoaderTest::dir;

TEST_F(LoaderTest, MapsOnFirstCreationAndBindsBeforeIModNew) {
  EXPECT_EQ(0, OrbhostTest_IsModuleMapped("ModBeta"));
  IFakeProbe* p = Create(FAKE_CLASS_BETA_PROBE);
  ASSERT_NE(nullptr, p);
  EXPECT_STREQ("ModBeta", p->ModuleName());
  EXPECT_EQ(1, p->BoundBeforeNew());
  EXPECT_EQ(env, p->CreationArgument());  // a non-null creation argument
  EXPECT_EQ(1, OrbhostTest_IsModuleMapped("modbeta"));
  IFakeProbe* q = Create(FAKE_CLASS_BETA_PROBE);
  EXPECT_NE(p, q);
  EXPECT_EQ(1u, OrbhostTest_ModuleMapCount("ModBeta"));  // mapped once
  // A class nobody lists does not map anything.
  Create(0x01060c21u, PVL_E_NOTSUPPORTED);
  EXPECT_EQ(0, OrbhostTest_IsModuleMapped("ModAlpha"));
  p->Release();
  q->Release();
}

TEST_F(LoaderTest, ModulesThatCannotBindAreNotUsed) {
  struct Case {
    ZUEUID clsid;
    const char* module;
    const char* logged;
  } cases[] = {
      {FAKE_CLASS_BAD_SYMBOL, "ModBadSymbol", "unknown name atomic_atomic_Bogus"},
      {FAKE_CLASS_NO_NEW, "ModNoNew", "lacks IMod_New"},
      {FAKE_CLASS_FAIL_NEW, "ModFailNew", "IMod_New failed (result 2)"},
      // Refused before dlopen: its constructors would abort the process.
      {FAKE_CLASS_GLOBAL_CTOR, "ModGlobalCtor",
       "\"ModGlobalCtor\" not used: its image has static constructors (_GLOBAL__sub_I_fakemodule.cpp)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.module);
    camera::test::DebugCapture capture;
    Create(c.clsid, PVL_E_FAIL);
    EXPECT_TRUE(CeSimDebugCapturedContains(c.logged)) << c.module;
    EXPECT_EQ(0, OrbhostTest_IsModuleMapped(c.module));
    Create(c.clsid, PVL_E_FAIL);  // and stays unused
  }
}

TEST_F(LoaderTest, ASharedClassGoesToTheFirstModuleThatMakesIt) {
  // Alpha comes first by name and lists the class but answers 3 for it; Beta makes it.
  IFakeProbe* p = Create(FAKE_CLASS_SHARED);
  ASSERT_NE(nullptr, p);
  EXPECT_STREQ("ModBeta", p->ModuleName());
  EXPECT_EQ(1, OrbhostTest_IsModuleMapped("ModAlpha"));
  p->Release();
}

// A module that cannot be bound, listed first for a class, passes it on to the
// next module that lists it.
TEST_F(LoaderTest, AModuleThatCannotBindPassesASharedClassOn) {
  const std::string shared = camera::test::ImagePath("sharedmodules");
  fs::create_directories(shared);
  const struct {
    const char* name;
    const char* image;
  } modules[] = {{"A1Unbound", "ModBadSymbol"}, {"B2Maker", "ModBeta"}};
  for (const auto& m : modules) {
    SCOPED_TRACE(m.name);
    const fs::path link = fs::path(shared) / (std::string(m.name) + ".dll");
    fs::remove(link);
    fs::create_symlink(fs::path(ORBHOST_FAKE_DIR) / (std::string(m.image) + ".dll"), link);
    const std::vector<uint8_t> mif = Mif({FAKE_CLASS_SHARED});
    FILE* f = fopen((shared + "/" + m.name + ".mif").c_str(), "wb");
    ASSERT_NE(nullptr, f);
    fwrite(mif.data(), 1, mif.size(), f);
    fclose(f);
  }
  camera::test::DebugCapture capture;
  ASSERT_EQ(PVL_OK, OrbhostTest_SetModuleDirectory(shared.c_str()));
  EXPECT_TRUE(CeSimDebugCapturedContains("listed by \"A1Unbound\" and \"B2Maker\""));
  IFakeProbe* p = Create(FAKE_CLASS_SHARED);
  ASSERT_NE(nullptr, p);
  EXPECT_STREQ("ModBeta", p->ModuleName());
  EXPECT_EQ(0, OrbhostTest_IsModuleMapped("A1Unbound"));
  EXPECT_EQ(1, OrbhostTest_IsModuleMapped("B2Maker"));
  p->Release();
}

TEST_F(LoaderTest, NestedCreationReachesAnotherModule) {
  IFakeProbe* p = Create(FAKE_CLASS_ALPHA_NESTED);
  ASSERT_NE(nullptr, p);
  ASSERT_NE(nullptr, p->Inner());
  IFakeProbe* inner = nullptr;
  ASSERT_EQ(PVL_OK, p->Inner()->QueryInterface(FAKE_IFACE_PROBE, reinterpret_cast<void**>(&inner)));
  EXPECT_STREQ("ModBeta", inner->ModuleName());
  inner->Release();
  p->Release();
}

TEST_F(LoaderTest, ConcurrentFirstCreationsMapOnce) {
  // Alpha's IMod_New takes a while, so the threads meet while it is being mapped.
  const int kThreads = 8;
  std::vector<IFakeProbe*> got(kThreads, nullptr);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i)
    threads.emplace_back([&, i] {
      void* out = nullptr;
      EXPECT_EQ(PVL_OK, env->CreateInstance(FAKE_CLASS_ALPHA_PROBE, &out));
      got[i] = static_cast<IFakeProbe*>(out);
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(1u, OrbhostTest_ModuleMapCount("ModAlpha"));
  for (IFakeProbe* p : got) {
    ASSERT_NE(nullptr, p);
    EXPECT_STREQ("ModAlpha", p->ModuleName());
    p->Release();
  }
}

TEST_F(LoaderTest, MalformedInformationFilesAreRefusedWithALogLine) {
  std::vector<uint8_t> good = Mif({0x7e5710a1u});
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    const char* reason;
  };
  std::vector<Case> cases;
  cases.push_back({"empty", {}, "shorter than its 32-byte header"});
  cases.push_back({"header only", std::vector<uint8_t>(good.begin(), good.begin() + 32), "outside the file"});
  auto bad = good;
  Put16(bad, 0, 0x12);
  cases.push_back({"signature", bad, "wrong signature"});
  bad = good;
  Put32(bad, 12, 0x7FFFFFF8u);
  cases.push_back({"attribute size", bad, "does not match its count"});
  bad = good;
  Put32(bad, 20, 0xFFFFFFFFu);
  cases.push_back({"section count", bad, "section count out of range"});
  bad = good;
  Put32(bad, 28, 4);
  cases.push_back({"sections size", bad, "do not add up"});
  bad = good;
  Put32(bad, 0x2C, 0x7FFFFFF0u);  // second section offset
  cases.push_back({"section offsets", bad, "out of order"});
  bad = good;
  Put32(bad, 0x34, 0x1003);  // section 1 tag
  cases.push_back({"section 1 tag", bad, "0x1002"});
  bad = good;
  Put16(bad, 0x34 + 26, 500);  // class count far beyond the list
  cases.push_back({"class count", bad, "shorter than its count"});
  bad = good;
  Put16(bad, 0x34 + 26, 0);
  cases.push_back({"no classes", bad, "longer than its count"});
  bad = Mif({0x7e5710a1u}, "0x0 = r/rw:/");
  bad[bad.size() - 1] = 'x';
  bad[bad.size() - 2] = 'x';
  cases.push_back({"access rule", bad, "not terminated"});

  const std::string badDir = camera::test::ImagePath("badmodules");
  fs::create_directories(badDir);
  fs::remove(fs::path(badDir) / "Bad.dll");
  fs::create_symlink(fs::path(ORBHOST_FAKE_DIR) / "ModBeta.dll", fs::path(badDir) / "Bad.dll");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FILE* f = fopen((badDir + "/Bad.mif").c_str(), "wb");
    ASSERT_NE(nullptr, f);
    if (!c.bytes.empty()) fwrite(c.bytes.data(), 1, c.bytes.size(), f);
    fclose(f);
    camera::test::DebugCapture capture;
    ASSERT_EQ(PVL_OK, OrbhostTest_SetModuleDirectory(badDir.c_str()));
    EXPECT_TRUE(CeSimDebugCapturedContains("\"Bad.mif\" refused")) << c.what;
    EXPECT_TRUE(CeSimDebugCapturedContains(c.reason)) << c.what;
    Create(0x7e5710a1u, PVL_E_NOTSUPPORTED);
  }
  // The well-formed file is taken (its image is Beta's, which answers 3 for the class).
  FILE* f = fopen((badDir + "/Bad.mif").c_str(), "wb");
  fwrite(good.data(), 1, good.size(), f);
  fclose(f);
  camera::test::DebugCapture capture;
  ASSERT_EQ(PVL_OK, OrbhostTest_SetModuleDirectory(badDir.c_str()));
  EXPECT_FALSE(CeSimDebugCapturedContains("refused"));
  // An information file without its image is refused too.
  fs::remove(fs::path(badDir) / "Bad.dll");
  ASSERT_EQ(PVL_OK, OrbhostTest_SetModuleDirectory(badDir.c_str()));
  EXPECT_TRUE(CeSimDebugCapturedContains("no image \"Bad.dll\""));
}

TEST_F(LoaderTest, ModulesStayMappedAcrossStopAndRescan) {
  IFakeProbe* p = Create(FAKE_CLASS_BETA_PROBE);
  ASSERT_NE(nullptr, p);
  Orbhost_Stop();
  IEnv* again = nullptr;
  ASSERT_EQ(PVL_OK, Orbhost_Start("\\device.cs", 0, &again));
  again->Release();
  ASSERT_EQ(PVL_OK, OrbhostTest_SetModuleDirectory(dir.c_str()));
  EXPECT_EQ(1, OrbhostTest_IsModuleMapped("ModBeta"));
  EXPECT_STREQ("ModBeta", p->ModuleName());  // its code is still there
  IFakeProbe* q = Create(FAKE_CLASS_BETA_PROBE);
  EXPECT_EQ(1u, OrbhostTest_ModuleMapCount("ModBeta"));
  q->Release();
  p->Release();
}

}  // namespace
