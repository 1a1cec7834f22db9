// The tuning server as the camera gets it: created by class through the host
// (which maps Calbrook), enabled by its flag file, serving a registry on a
// loopback port, applying through the engine, and tunclient against it.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cfixedpoint.h"
#include "icameratuning.h"
#include "ienv.h"
#include "hostsession.h"
#include "image_copy.h"
#include "orbhost_test.h"
#include "cruntimetuning.h"
#include "tunvex.h"
#include "tunvexclient.h"
#include "tunvextestnet.h"
#include "wince.h"
#include "wince_sim.h"


namespace {

// Each test process serves on a port of its own: test runs of several build
// trees may go on at once on this machine.
const uint16_t kPort = FreeLoopbackPort();

// The camera engine's tuning face, standing in for the engine.
struct EngineDouble final : ICameraTuning {
  std::atomic<int32_t> refs{0};
  std::atomic<int> applies{0};
  std::atomic<PvlResult> answer{0};
  int32_t AddRef() override { return ++refs; }
  int32_t Release() override { return --refs; }
  PvlResult QueryInterface(ZUEUID iid, void** out) override {
    if (!out) return PVL_E_NULLPTR;
    if (iid == ZUEUID_IFACE_BASE || iid == ZUEUID_IFACE_CAMERATUNING) {
      AddRef();
      *out = static_cast<ICameraTuning*>(this);
      return PVL_OK;
    }
    return PVL_E_UNSUPPORTED;
  }
  PvlResult Reserved3(uint32_t) override { return PVL_E_UNSUPPORTED; }
  PvlResult ApplyRuntimeTuningChanges() override {
    ++applies;
    // The engine letting go of the server while it applies.
    if (ITunvex* server = releaseOnApply.exchange(nullptr)) server->Release();
    return answer.load();
  }
  std::atomic<ITunvex*> releaseOnApply{nullptr};
};
EngineDouble g_engine;

int32_t EngineFactory(IEnv*, ZUEUID, void*, void** out) {
  g_engine.AddRef();
  *out = static_cast<ICameraTuning*>(&g_engine);
  return PVL_OK;
}

// A registrant: owns its values and aggregates its registry.
struct Registrant final : IPvlBase {
  int32_t refs = 1;
  CRuntimeTuning* registry = nullptr;
  uint8_t u8 = 7;
  int16_t s16 = -2;
  uint32_t table[4] = {10, 20, 30, 40};
  float luma = 0.5f;
  CFixedPoint fixed{12u, 0.25};
  int32_t q10 = 2048;
  double exposure = 0.125;
  int64_t wide = 1;

  int32_t AddRef() override { return ++refs; }
  int32_t Release() override { return --refs; }
  PvlResult QueryInterface(ZUEUID iid, void** out) override {
    if (iid == ZUEUID_RUNTIME_TUNING && registry) return registry->QueryInterface(iid, out);
    if (out) *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }
  bool Build(IEnv* env) {
    if (CRuntimeTuning::New(env, &registry) != PVL_OK) return false;
    registry->SetOuter(this);
    registry->Register("Demo-U8", &u8, TUNING_TYPE_U8, 1, 0);
    registry->Register("Demo-S16", &s16, TUNING_TYPE_S16, 1, 0);
    registry->Register("Demo-Table", table, TUNING_TYPE_U32, 4, 0);
    registry->Register("Demo-Luma", &luma, TUNING_TYPE_FLOAT, 1, 0x80);
    registry->Register("Demo-Fixed", &fixed, TUNING_TYPE_FIXED, 1, 0);
    registry->Register("Demo-Q10", &q10, TUNING_TYPE_Q10, 1, 0x20);
    registry->Register("Demo-Exposure", &exposure, TUNING_TYPE_DOUBLE, 1, 0x08);
    registry->Register("Demo-Wide", &wide, TUNING_TYPE_S64, 1, 0);
    return true;
  }
  ~Registrant() {
    if (registry) registry->Release();
  }
};

// The protocol thread opens its socket a moment after Start: try until it listens.
bool ConnectWhenListening(TunvexClient& c) {
  for (int i = 0; i < 600; ++i) {
    if (c.Connect("127.0.0.1", kPort)) return true;
    Sleep(50);
  }
  return false;
}

class TunvexModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(kPort, 0);
    setenv("TUNVEX_PORT", std::to_string(kPort).c_str(), 1);
    g_engine.applies = 0;
    g_engine.answer = 0;
    ASSERT_EQ(host.Start(), PVL_OK);
  }
  void TearDown() override {
    OrbhostTest_UnregisterAllClasses();
    host.Stop();
  }
  static void EnableServer() {
    camera::test::WriteImageFile("fs/~0x0106fa8a/_TunvexEnabled.flg", "");
  }
  ITunvex* CreateServer(PvlResult* result = nullptr) {
    return host.Create<ITunvex>(ZUEUID_CLASS_TUNINGSERVER, result);
  }
  // The flag file, the engine double when asked for, the owner's registry
  // registered as "Demo" and the protocol thread started.
  ITunvex* Serve(Registrant& owner, bool withEngine) {
    EnableServer();
    if (withEngine) {
      EXPECT_EQ(OrbhostTest_RegisterClass(ZUEUID_CLASS_CAMERAENGINE, &EngineFactory), PVL_OK);
    }
    if (!owner.Build(host.env())) return nullptr;
    ITunvex* server = CreateServer();
    if (!server) return nullptr;
    EXPECT_EQ(server->Register(owner.registry->Face(), "Demo"), PVL_OK);
    EXPECT_EQ(server->Start(), PVL_OK);
    return server;
  }
  static std::string Run(const std::string& args, int* status) {
    std::string cmd = std::string(TUNCLIENT_PATH) + " --port " + std::to_string(kPort) + " " + args + " 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    std::string out;
    char buf[512];
    while (p && fgets(buf, sizeof buf, p)) out += buf;
    int rc = p ? pclose(p) : -1;
    *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
  }

  camera::test::HostSession host;
};

}  // namespace

// 0x01074a8d stands in Calbrook's list (and Bayrox's) but no code makes it: the host maps
// Calbrook, hears "not made here" and answers 3 with no object.
TEST_F(TunvexModuleTest, TheClassListedWithoutCodeAnswersNotSupported) {
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(host.env()->CreateInstance(0x01074a8du, &out), PVL_E_NOTSUPPORTED);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(OrbhostTest_IsModuleMapped("Calbrook"), 1);
}

TEST_F(TunvexModuleTest, WithoutTheFlagFileThereIsNoServer) {
  camera::test::RemoveImageFile("fs/~0x0106fa8a/_TunvexEnabled.flg");
  PvlResult r = 0;
  EXPECT_EQ(CreateServer(&r), nullptr);
  EXPECT_EQ(r, PVL_E_FAIL);
}

// Only the host's file system says whether the flag file is there.
int32_t FailingFileSystem(IEnv*, ZUEUID, void*, void** out) {
  *out = nullptr;
  return PVL_E_OUTOFMEMORY;
}

TEST_F(TunvexModuleTest, WithoutAFileSystemThereIsNoServer) {
  EnableServer();
  ASSERT_EQ(OrbhostTest_RegisterClass(ZUEUID_CLASS_FILESYSTEM, &FailingFileSystem), PVL_OK);
  PvlResult r = 0;
  EXPECT_EQ(CreateServer(&r), nullptr);
  EXPECT_EQ(r, PVL_E_FAIL);
  ASSERT_EQ(OrbhostTest_UnregisterClass(ZUEUID_CLASS_FILESYSTEM), PVL_OK);
  ITunvex* server = CreateServer();
  ASSERT_NE(server, nullptr);
  server->Release();
}

TEST_F(TunvexModuleTest, OneServerPerEnvironment) {
  EnableServer();
  ITunvex* a = CreateServer();
  ITunvex* b = CreateServer();
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a, b);
  void* out = reinterpret_cast<void*>(0x1234);
  EXPECT_EQ(a->QueryInterface(ZUEUID_RUNTIME_TUNING, &out), PVL_E_UNSUPPORTED);
  EXPECT_EQ(out, reinterpret_cast<void*>(0x1234));  // left untouched
  ASSERT_EQ(a->QueryInterface(ZUEUID_ITUNVEX, &out), PVL_OK);
  EXPECT_EQ(out, static_cast<void*>(a));
  a->Release();
  EXPECT_EQ(a->Register(nullptr, "X"), PVL_E_BADARG);
  b->Release();
  a->Release();
}

TEST_F(TunvexModuleTest, ServesRegisteredValuesUntilReleased) {
  Registrant owner;
  ITunvex* server = Serve(owner, true);
  ASSERT_NE(server, nullptr);

  TunvexClient c;
  c.SetTimeout(30000);
  ASSERT_TRUE(ConnectWhenListening(c)) << c.Error();
  std::string version;
  ASSERT_TRUE(c.Version(&version)) << c.Error();
  EXPECT_EQ(version, "2.1.0");
  std::vector<tunvex::ListEntry> items;
  ASSERT_TRUE(c.ListAll(&items)) << c.Error();
  std::vector<std::string> names;
  for (auto& e : items) names.push_back(e.name);
  EXPECT_EQ(names, (std::vector<std::string>{"3A", "Demo-U8", "Demo-S16", "Demo-Table", "Demo-Fixed", "Demo-Q10",
                                             "Demo-Wide"}));
  std::vector<std::optional<std::string>> texts;
  bool pending = true;
  ASSERT_TRUE(c.Get({{0, 0}, {3, 2}, {5, 0}, {6, 0}}, &texts, &pending)) << c.Error();
  EXPECT_EQ(texts[0].value_or("?"), "Demo-Luma:0.500000");
  EXPECT_EQ(texts[1].value_or("?"), "30");
  EXPECT_EQ(texts[2].value_or("?"), "0.250000");
  EXPECT_EQ(texts[3].value_or("?"), "2.000000");
  EXPECT_FALSE(pending);

  ASSERT_TRUE(c.Set({{3, 3, "41"}, {2, 0, "-300"}}, &pending)) << c.Error();
  EXPECT_TRUE(pending);
  EXPECT_EQ(owner.table[3], 41u);
  EXPECT_EQ(owner.s16, -300);
  ASSERT_TRUE(c.Apply(&pending)) << c.Error();
  EXPECT_FALSE(pending);
  EXPECT_EQ(g_engine.applies.load(), 1);
  c.Close();

  // The JPEG text: every value once, hidden items too, summary and 0x20 items not.
  uint32_t needed = 0;
  ASSERT_EQ(server->SendDataToJPEG(nullptr, 0, &needed, nullptr), PVL_OK);
  std::vector<char> text(needed);
  uint32_t written = 0;
  ASSERT_EQ(server->SendDataToJPEG(text.data(), needed, nullptr, &written), PVL_OK);
  EXPECT_STREQ(text.data(),
               "3A=Demo-Luma:0.500000\nDemo-U8=7\nDemo-S16=-300\nDemo-Table=10,20,30,41\nDemo-Fixed=0.250000\n"
               "Demo-Exposure=0.125000\nDemo-Wide=<err>\n");

  // The registrant withdraws before its registry goes; the server lives on.
  ASSERT_EQ(server->Unregister(owner.registry->Face()), PVL_OK);
  ASSERT_TRUE(c.Connect("127.0.0.1", kPort)) << c.Error();
  ASSERT_TRUE(c.ListAll(&items)) << c.Error();
  EXPECT_EQ(items.size(), 1u);
  c.Close();

  // The last release ends the protocol thread before the server's memory goes.
  server->Release();
  EXPECT_FALSE(c.Connect("127.0.0.1", kPort));
  EXPECT_EQ(g_engine.refs.load(), 0);
}

// The last reference on the server may go on its own protocol thread, inside
// Apply: the server then goes once that request is done, without the thread
// waiting for itself (which would hang it for good), and a new one can serve.
TEST_F(TunvexModuleTest, TheLastReleaseMayComeDuringApply) {
  Registrant owner;
  ITunvex* server = Serve(owner, true);
  ASSERT_NE(server, nullptr);
  TunvexClient c;
  c.SetTimeout(30000);
  ASSERT_TRUE(ConnectWhenListening(c)) << c.Error();
  CeSimDebugCaptureBegin();
  g_engine.releaseOnApply = server;  // the engine holds the last reference
  bool pending = true;
  c.Apply(&pending);  // the answer may be cut short by the server's going
  c.Close();
  EXPECT_EQ(g_engine.applies.load(), 1);
  // The thread ends (rather than waiting for itself) and the server goes.
  bool destroyed = false;
  for (int i = 0; i < 600 && !destroyed; ++i) {
    destroyed = CeSimDebugCapturedContains("ThreadProc ended normally") &&
                CeSimDebugCapturedContains("Tunvex destructor called");
    if (!destroyed) Sleep(50);
  }
  CeSimDebugCaptureEnd();
  ASSERT_TRUE(destroyed);
  EXPECT_EQ(g_engine.refs.load(), 0);

  ITunvex* next = CreateServer();
  ASSERT_NE(next, nullptr);
  ASSERT_EQ(next->Start(), PVL_OK);
  ASSERT_TRUE(ConnectWhenListening(c)) << c.Error();
  std::string version;
  EXPECT_TRUE(c.Version(&version)) << c.Error();
  c.Close();
  next->Release();
}

TEST_F(TunvexModuleTest, ApplyWithoutAnEngineLeavesChangesPending) {
  Registrant owner;
  ITunvex* server = Serve(owner, false);
  ASSERT_NE(server, nullptr);
  TunvexClient c;
  c.SetTimeout(30000);
  ASSERT_TRUE(ConnectWhenListening(c)) << c.Error();
  bool pending = false;
  ASSERT_TRUE(c.Set({{1, 0, "9"}}, &pending)) << c.Error();
  EXPECT_TRUE(pending);
  ASSERT_TRUE(c.Apply(&pending)) << c.Error();
  EXPECT_TRUE(pending);
  c.Close();
  server->Unregister(owner.registry->Face());
  server->Release();
}

TEST_F(TunvexModuleTest, TunclientListsReadsWritesAndApplies) {
  Registrant owner;
  ITunvex* server = Serve(owner, true);
  ASSERT_NE(server, nullptr);
  {
    TunvexClient probe;
    ASSERT_TRUE(ConnectWhenListening(probe)) << probe.Error();
  }

  struct Case {
    const char* args;
    int status;
    const char* output;
  } cases[] = {
      {"version", 0, "2.1.0\n"},
      {"list", 0,
       "0\t1\t0x01\t3A\n1\t1\t0x00\tDemo-U8\n2\t1\t0x00\tDemo-S16\n3\t4\t0x00\tDemo-Table\n"
       "5\t1\t0x00\tDemo-Fixed\n6\t1\t0x20\tDemo-Q10\n8\t1\t0x00\tDemo-Wide\n"},
      {"get Demo-Table", 0, "Demo-Table=10,20,30,40\n"},
      {"get 3 1", 0, "Demo-Table[1]=20\n"},
      {"set Demo-Table 2 33 44", 0, "Demo-Table[2]=33,44\nchanges pending: yes\n"},
      {"set Demo-Q10 0 -1.5", 0, "Demo-Q10[0]=-1.500000\nchanges pending: yes\n"},
      {"apply", 0, "applied\n"},
      {"get Demo-Wide", 3, "Demo-Wide=<err>\ntunclient: some elements of Demo-Wide could not be read\n"},
      {"get Demo-Table 4", 3, "tunclient: Demo-Table has 4 elements; no element 4\n"},
      {"get Nope", 3, "tunclient: no item Nope\n"},
      {"set 3A 0 1", 3, "tunclient: 3A is read-only\n"},
      {"frobnicate", 2, nullptr},
  };
  for (const Case& k : cases) {
    int status = -1;
    std::string out = Run(k.args, &status);
    EXPECT_EQ(status, k.status) << k.args << "\n" << out;
    if (k.output) {
      EXPECT_EQ(out, k.output) << k.args;
    }
  }
  EXPECT_EQ(owner.table[2], 33u);
  EXPECT_EQ(owner.table[3], 44u);
  EXPECT_EQ(owner.q10, -1536);
  EXPECT_EQ(g_engine.applies.load(), 1);

  server->Unregister(owner.registry->Face());
  server->Release();
  int status = 0;
  Run("version", &status);
  EXPECT_EQ(status, 1);  // nobody listens any more
}

namespace {

// tunserve as a child process with its standard output on a pipe; killed at
// the end whatever happened.
struct TunserveChild {
  pid_t pid = 0;
  int out = -1;
  ~TunserveChild() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    if (out >= 0) close(out);
  }
  bool Spawn(const std::string& port) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    const char* argv[] = {TUNSERVE_PATH, "--port", port.c_str(), "--sample", nullptr};
    int rc = posix_spawn(&pid, TUNSERVE_PATH, &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    out = fds[0];
    if (rc != 0) pid = 0;
    return rc == 0;
  }
  // The first message of tunserve's own ("tunserve: ..." to the end of its line); empty
  // when the output ends first. The server's debug lines come from other threads on the
  // same stream and may run into it, so the message is looked for anywhere in a line.
  std::string Line() {
    std::string line;
    char ch = 0;
    while (read(out, &ch, 1) == 1) {
      if (ch != '\n') {
        line += ch;
        continue;
      }
      const size_t at = line.find("tunserve:");
      if (at != std::string::npos) return line.substr(at);
      line.clear();
    }
    return "";
  }
  // Its exit status; -1 when it did not exit normally.
  int Wait() {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    pid = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

}  // namespace

// tunserve brings the host up on the (private) image, writes the flag file,
// takes any free port when asked for port 0 and says which, serves until it is
// told to stop and removes the flag file again.
TEST(Tunserve, ServesOnAnyFreePortUntilStopped) {
  camera::test::RemoveImageFile("fs/~0x0106fa8a/_TunvexEnabled.flg");
  TunserveChild child;
  ASSERT_TRUE(child.Spawn("0"));
  const std::string prefix = "tunserve: tuning server 2.1.0 listening on port ";
  std::string line = child.Line();
  ASSERT_EQ(line.rfind(prefix, 0), 0u) << line;
  const int port = std::atoi(line.c_str() + prefix.size());
  ASSERT_GT(port, 0) << line;
  std::string contents;
  EXPECT_TRUE(camera::test::ReadImageFile("fs/~0x0106fa8a/_TunvexEnabled.flg", &contents));

  TunvexClient c;
  c.SetTimeout(30000);
  ASSERT_TRUE(c.Connect("127.0.0.1", uint16_t(port))) << c.Error();
  std::vector<std::optional<std::string>> texts;
  std::vector<tunvex::ListEntry> items;
  ASSERT_TRUE(c.ListAll(&items)) << c.Error();
  ASSERT_GT(items.size(), 10u);
  EXPECT_EQ(items[1].name, "Sample-Offset");
  ASSERT_TRUE(c.Set({{items[1].id, 0, "-7"}}, nullptr));
  ASSERT_TRUE(c.Get({{items[1].id, 0}}, &texts, nullptr));
  EXPECT_EQ(texts[0].value_or("?"), "-7");
  c.Close();

  // A second tunserve on the same port does not own it: it says so and fails,
  // and the first one goes on serving.
  {
    TunserveChild second;
    ASSERT_TRUE(second.Spawn(std::to_string(port)));
    line = second.Line();
    EXPECT_EQ(line, "tunserve: cannot listen on port " + std::to_string(port) + ": the port is in use");
    EXPECT_EQ(second.Wait(), 1);
  }
  ASSERT_TRUE(c.Connect("127.0.0.1", uint16_t(port))) << c.Error();
  c.Close();

  ASSERT_EQ(kill(child.pid, SIGTERM), 0);
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_FALSE(c.Connect("127.0.0.1", uint16_t(port)));
  // The image is left as it was: no flag file to enable a server later.
  EXPECT_FALSE(camera::test::ReadImageFile("fs/~0x0106fa8a/_TunvexEnabled.flg", &contents));
}
