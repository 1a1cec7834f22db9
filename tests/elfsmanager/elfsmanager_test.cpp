// The ELFS manager: the order it calls its plug-ins in, the result rule (0 and
// 20 go on, anything else ends the pass), the operations that skip the role
// plug-ins or reach only one, the timing lines, and the plug-in base's answers.
// The plug-ins are doubles derived from the base and made by class identifier
// through the host, as the engine makes them from its configuration.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ccameraelfsbase.h"
#include "clockdouble.h"
#include "ccameraelfsmanager.h"
#include "hostsymbols.h"
#include "ienv.h"
#include "orbhost_test.h"
#include "pvllog.h"

namespace {

std::vector<std::string> g_journal;

// Reads move on by `step` ms.
camera::test::ClockDouble g_clock{0, 3};
constexpr auto& ClockFactory = camera::test::ClockFactory<g_clock>;
// Not 3: the host would take that as "not mine" and hand out its own clock.
int g_noClockCalls = 0;
int32_t NoClock(IEnv*, ZUEUID, void*, void** out) {
  ++g_noClockCalls;
  *out = nullptr;
  return PVL_E_OUTOFMEMORY;
}

// Plug-in classes of the doubles, by name.
const std::map<ZUEUID, std::string> kPluginClasses = {
    {0x0a000001, "AEC"}, {0x0a000002, "AWB"}, {0x0a000003, "AF"}, {0x0a000004, "O1"}, {0x0a000005, "O2"}};
// What a double answers, by "name.Operation"; absent: the base's answer.
std::map<std::string, PvlResult> g_answers;

class DoublePlugin final : public CCameraELFSBase {
 public:
  DoublePlugin(IEnv* env, std::string name) : CCameraELFSBase(env), m_name(std::move(name)) {}
  ~DoublePlugin() override { g_journal.push_back("~" + m_name); }

  PvlResult Configure() override { return Call("Configure", [&] { return CCameraELFSBase::Configure(); }); }
  PvlResult OnStartVideo(const CameraPortFormat* f) override {
    return Call("OnStartVideo", [&] { return CCameraELFSBase::OnStartVideo(f); });
  }
  PvlResult OnFrame(IPvlMediaBuffer* b) override { return Call("OnFrame", [&] { return CCameraELFSBase::OnFrame(b); }); }
  PvlResult OnStats(IPvlBase* s) override { return Call("OnStats", [&] { return CCameraELFSBase::OnStats(s); }); }
  PvlResult OnStopVideo() override { return Call("OnStopVideo", [&] { return CCameraELFSBase::OnStopVideo(); }); }
  PvlResult OnStartSnapshot(const CameraPortFormat* a, const CameraPortFormat* b) override {
    return Call("OnStartSnapshot", [&] { return CCameraELFSBase::OnStartSnapshot(a, b); });
  }
  PvlResult OnSnapshotMainFrame(IPvlMediaBuffer* b, uint8_t* d) override {
    return Call("OnSnapshotMainFrame", [&] { return CCameraELFSBase::OnSnapshotMainFrame(b, d); });
  }
  PvlResult OnSnapshotSecondFrame(IPvlMediaBuffer* b, uint8_t* d) override {
    return Call("OnSnapshotSecondFrame", [&] { return CCameraELFSBase::OnSnapshotSecondFrame(b, d); });
  }
  PvlResult OnSnapshotStats(IPvlBase* s) override {
    return Call("OnSnapshotStats", [&] { return CCameraELFSBase::OnSnapshotStats(s); });
  }
  PvlResult OnStopSnapshot() override {
    return Call("OnStopSnapshot", [&] { return CCameraELFSBase::OnStopSnapshot(); });
  }
  PvlResult QueryInterface(ZUEUID iid, void** out) override {
    if (iid == ZUEUID_IFACE_ELFS && out) {
      *out = ElfsFace();
      AddRef();
      return PVL_OK;
    }
    return CCameraELFSBase::QueryInterface(iid, out);
  }

 private:
  PvlResult Call(const char* op, const std::function<PvlResult()>& base) {
    const std::string key = m_name + "." + op;
    g_journal.push_back(key);
    auto it = g_answers.find(key);
    return it != g_answers.end() ? it->second : base();
  }
  std::string m_name;
};

int32_t PluginFactory(IEnv* env, ZUEUID clsid, void*, void** out) {
  auto* p = new (std::nothrow) DoublePlugin(env, kPluginClasses.at(clsid));
  if (!p) return PVL_E_OUTOFMEMORY;
  p->AddRef();
  *out = static_cast<IELFS*>(p);
  return PVL_OK;
}

// A plug-in that overrides nothing.
class BarePlugin final : public CCameraELFSBase {
 public:
  explicit BarePlugin(IEnv* env) : CCameraELFSBase(env) {}
};

class ElfsManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(PVL_OK, env_env_CreateInstance(ZUEUID_CLASS_ENV, env.Out()));
    ASSERT_EQ(PVL_OK, OrbhostTest_RegisterClass(ZUEUID_CLASS_CLOCK, &ClockFactory));
    for (const auto& entry : kPluginClasses) ASSERT_EQ(PVL_OK, OrbhostTest_RegisterClass(entry.first, &PluginFactory));
    g_journal.clear();
    g_answers.clear();
    g_clock.step = 3;
    blocks_ = OrbhostTest_LiveBlocks(nullptr);
  }
  void TearDown() override {
    delete manager;
    EXPECT_EQ(0, g_clock.refs.load());
    OrbhostTest_UnregisterAllClasses();
    EXPECT_EQ(OrbhostTest_LiveBlocks(nullptr), blocks_) << "framework heap blocks left behind";
  }
  CPvlPtr<IELFS> Make(ZUEUID clsid) {
    CPvlPtr<IELFS> p;
    EXPECT_EQ(PVL_OK, env->CreateInstance(clsid, p.Out()));
    return p;
  }
  // A manager with all five doubles: AEC, AWB, AF and two further plug-ins.
  void MakeFull() {
    manager = new CCameraELFSManager;
    manager->SetAEC(Make(0x0a000001));
    manager->SetAWB(Make(0x0a000002));
    manager->SetAF(Make(0x0a000003));
    manager->AddELFS(Make(0x0a000004));
    manager->AddELFS(Make(0x0a000005));
    g_journal.clear();
  }
  static std::vector<std::string> Lines(const std::function<void()>& f) {
    OrbhostTest_MessageCaptureBegin();
    f();
    std::vector<std::string> lines;
    for (const OrbhostTestMessage& m : OrbhostTest_MessageCaptureEnd()) lines.push_back(m.text);
    return lines;
  }

  CPvlPtr<IEnv> env;
  CCameraELFSManager* manager = nullptr;

 private:
  uint32_t blocks_ = 0;
};

struct Operation {
  const char* call;  // the manager's operation
  const char* name;  // the plug-in operation it reaches
  std::function<PvlResult(CCameraELFSManager*)> run;
  std::vector<std::string> reaches;  // which plug-ins, in order, when all go on
};

const std::vector<Operation>& Operations() {
  static const std::vector<Operation> ops = {
      {"Configure", "Configure", [](CCameraELFSManager* m) { return m->Configure(); }, {"AEC", "AWB", "AF", "O1", "O2"}},
      {"OnStartVideo", "OnStartVideo", [](CCameraELFSManager* m) { return m->OnStartVideo(nullptr); }, {"AEC", "AWB", "AF", "O1", "O2"}},
      {"OnFrame", "OnFrame", [](CCameraELFSManager* m) { return m->OnFrame(nullptr); }, {"AEC", "AWB", "AF", "O1", "O2"}},
      {"OnStartSnapshot", "OnStartSnapshot", [](CCameraELFSManager* m) { return m->OnStartSnapshot(nullptr, nullptr); },
       {"AEC", "AWB", "AF", "O1", "O2"}},
      {"OnSnapshotMainFrame", "OnSnapshotMainFrame",
       [](CCameraELFSManager* m) {
         uint8_t deliver = 1;
         return m->OnSnapshotMainFrame(nullptr, &deliver);
       },
       {"AEC", "AWB", "AF", "O1", "O2"}},
      {"OnSnapshotSecondFrame", "OnSnapshotSecondFrame",
       [](CCameraELFSManager* m) {
         uint8_t deliver = 1;
         return m->OnSnapshotSecondFrame(nullptr, &deliver);
       },
       {"AEC", "AWB", "AF", "O1", "O2"}},
      {"OnStopSnapshot", "OnStopSnapshot", [](CCameraELFSManager* m) { return m->OnStopSnapshot(); }, {"AEC", "AWB", "AF", "O1", "O2"}},
      {"OnStopVideo", "OnStopVideo", [](CCameraELFSManager* m) { return m->OnStopVideo(); }, {"O1", "O2"}},
      {"OnStatsAEC", "OnStats", [](CCameraELFSManager* m) { return m->OnStatsAEC(nullptr); }, {"AEC"}},
      {"OnStatsAWB", "OnStats", [](CCameraELFSManager* m) { return m->OnStatsAWB(nullptr); }, {"AWB"}},
      {"OnStatsAF", "OnStats", [](CCameraELFSManager* m) { return m->OnStatsAF(nullptr); }, {"AF"}},
      {"OnStatsOthers", "OnStats", [](CCameraELFSManager* m) { return m->OnStatsOthers(nullptr); }, {"O1", "O2"}},
      {"OnSnapshotStats", "OnSnapshotStats", [](CCameraELFSManager* m) { return m->OnSnapshotStats(nullptr); }, {"AEC"}},
      {"ConfigureAEC", "Configure", [](CCameraELFSManager* m) { return m->ConfigureAEC(); }, {"AEC"}},
      {"ConfigureAF", "Configure", [](CCameraELFSManager* m) { return m->ConfigureAF(); }, {"AF"}},
  };
  return ops;
}


// With every plug-in answering its base answer (0 or 20), each operation
// reaches its plug-ins in order and succeeds: 20 is never passed on.
TEST_F(ElfsManagerTest, EachOperationReachesItsPluginsInOrder) {
  MakeFull();
  for (size_t i = 0; i < Operations().size(); ++i) {
    const Operation& op = Operations()[i];
    SCOPED_TRACE(op.call);
    g_journal.clear();
    EXPECT_EQ(PVL_OK, op.run(manager));
    std::vector<std::string> expected;
    for (const std::string& p : op.reaches) expected.push_back(p + "." + op.name);
    EXPECT_EQ(expected, g_journal);
  }
}

// A failing plug-in ends the pass with its result; the ones after it are not called.
TEST_F(ElfsManagerTest, AFailureEndsThePass) {
  MakeFull();
  for (size_t i = 0; i < Operations().size(); ++i) {
    const Operation& op = Operations()[i];
    SCOPED_TRACE(op.call);
    const std::string failing = op.reaches.front();
    g_answers = {{failing + "." + op.name, 7}};
    g_journal.clear();
    EXPECT_EQ(7, op.run(manager));
    EXPECT_EQ(std::vector<std::string>{failing + "." + op.name}, g_journal);
  }
}

TEST_F(ElfsManagerTest, NotHandledGoesOnAndTheFirstFailureWins) {
  MakeFull();
  g_answers = {{"AEC.OnStartSnapshot", PVL_E_UNSUPPORTED}, {"AWB.OnStartSnapshot", 1}};
  EXPECT_EQ(1, manager->OnStartSnapshot(nullptr, nullptr));
  EXPECT_EQ((std::vector<std::string>{"AEC.OnStartSnapshot", "AWB.OnStartSnapshot"}), g_journal);
}

TEST_F(ElfsManagerTest, SnapshotStatsTurnNotHandledIntoDone) {
  MakeFull();
  g_answers = {{"AEC.OnSnapshotStats", PVL_E_UNSUPPORTED}};
  EXPECT_EQ(PVL_OK, manager->OnSnapshotStats(nullptr));
  g_answers = {{"AEC.OnSnapshotStats", 5}};
  EXPECT_EQ(5, manager->OnSnapshotStats(nullptr));
}

// Without plug-ins every pass succeeds; only the single-role configurations
// say that nobody handled them (and never call through the empty slot).
TEST_F(ElfsManagerTest, AnEmptyManagerSucceedsButTheRoleConfiguresSayNotHandled) {
  manager = new CCameraELFSManager;
  for (size_t i = 0; i < Operations().size(); ++i) {
    const Operation& op = Operations()[i];
    SCOPED_TRACE(op.call);
    const std::string call = op.call;
    const bool singleRoleConfigure = call == "ConfigureAEC" || call == "ConfigureAF";
    EXPECT_EQ(singleRoleConfigure ? PVL_E_UNSUPPORTED : PVL_OK, op.run(manager));
  }
}

TEST_F(ElfsManagerTest, StartVideoLogsItsTimingOnlyWhenThePassCompletes) {
  MakeFull();
  std::vector<std::string> lines = Lines([&] { EXPECT_EQ(PVL_OK, manager->OnStartVideo(nullptr)); });
  EXPECT_EQ(std::vector<std::string>{"FRAME TIMING - AEC Time: 3, AWB Time: 3 Af Time: 3 Other ELFS Time 3 Total "
                                     "Time 12"},
            lines);
  g_answers = {{"O2.OnStartVideo", 4}};
  lines = Lines([&] { EXPECT_EQ(4, manager->OnStartVideo(nullptr)); });
  EXPECT_TRUE(lines.empty());
}

TEST_F(ElfsManagerTest, WithoutAClockTheTimesAreZero) {
  ASSERT_EQ(PVL_OK, OrbhostTest_RegisterClass(ZUEUID_CLASS_CLOCK, &NoClock));
  g_noClockCalls = 0;
  MakeFull();
  EXPECT_EQ(1, g_noClockCalls);
  std::vector<std::string> lines = Lines([&] { EXPECT_EQ(PVL_OK, manager->OnStartVideo(nullptr)); });
  EXPECT_EQ(std::vector<std::string>{"FRAME TIMING - AEC Time: 0, AWB Time: 0 Af Time: 0 Other ELFS Time 0 Total "
                                     "Time 0"},
            lines);
}

// Every 100 passes of a role its average is logged and the count starts again;
// a failed pass is not counted; a role without a plug-in is counted too.
TEST_F(ElfsManagerTest, StatisticsAveragesEveryHundredPasses) {
  struct Role {
    const char* line;
    std::function<PvlResult(CCameraELFSManager*)> pass;
    const char* failKey;
  };
  const Role roles[] = {
      {"Average AEC Time: 3", [](CCameraELFSManager* m) { return m->OnStatsAEC(nullptr); }, "AEC.OnStats"},
      {"Average AF Time: 3", [](CCameraELFSManager* m) { return m->OnStatsAF(nullptr); }, "AF.OnStats"},
      {"Average AWB Time: 3", [](CCameraELFSManager* m) { return m->OnStatsAWB(nullptr); }, "AWB.OnStats"},
      {"Average Other ELFS Time: 3", [](CCameraELFSManager* m) { return m->OnStatsOthers(nullptr); }, "O1.OnStats"},
  };
  MakeFull();
  for (const Role& role : roles) {
    SCOPED_TRACE(role.line);
    std::vector<std::string> lines = Lines([&] {
      for (int i = 0; i < 99; ++i) role.pass(manager);
      g_answers = {{role.failKey, 6}};
      EXPECT_EQ(6, role.pass(manager));
      g_answers.clear();
    });
    EXPECT_TRUE(lines.empty()) << "a failed pass was counted";
    lines = Lines([&] { role.pass(manager); });
    EXPECT_EQ(std::vector<std::string>{role.line}, lines);
    lines = Lines([&] {
      for (int i = 0; i < 99; ++i) role.pass(manager);
    });
    EXPECT_TRUE(lines.empty());
    lines = Lines([&] { role.pass(manager); });
    EXPECT_EQ(std::vector<std::string>{role.line}, lines);
  }
  delete manager;
  manager = new CCameraELFSManager;  // no plug-ins: still timed
  g_clock.step = 2;
  std::vector<std::string> lines = Lines([&] {
    for (int i = 0; i < 100; ++i) manager->OnStatsAEC(nullptr);
  });
  EXPECT_EQ(std::vector<std::string>{"Average AEC Time: 2"}, lines);
}

TEST_F(ElfsManagerTest, ReleasesOthersThenAfAwbAec) {
  MakeFull();
  delete manager;
  manager = nullptr;
  EXPECT_EQ((std::vector<std::string>{"~O1", "~O2", "~AF", "~AWB", "~AEC"}), g_journal);
}

TEST_F(ElfsManagerTest, ABarePluginAnswersTheBaseDefaults) {
  auto* bare = new BarePlugin(env);
  bare->AddRef();
  IELFS* p = bare;
  uint8_t deliver = 1;
  struct Case {
    const char* name;
    PvlResult result;
  };
  const Case cases[] = {
      {"Initialize", p->Initialize(nullptr)},
      {"Configure", p->Configure()},
      {"OnStartVideo", p->OnStartVideo(nullptr)},
      {"OnFrame", p->OnFrame(nullptr)},
      {"OnStats", p->OnStats(nullptr)},
      {"OnStopVideo", p->OnStopVideo()},
      {"OnStartSnapshot", p->OnStartSnapshot(nullptr, nullptr)},
      {"OnSnapshotMainFrame", p->OnSnapshotMainFrame(nullptr, &deliver)},
      {"OnSnapshotSecondFrame", p->OnSnapshotSecondFrame(nullptr, &deliver)},
      {"OnSnapshotStats", p->OnSnapshotStats(nullptr)},
      {"OnStopSnapshot", p->OnStopSnapshot()},
      {"last operation", p->Reserved14(0, 0)},
  };
  for (const Case& c : cases) {
    const bool zero = std::string(c.name) == "Initialize" || std::string(c.name) == "Configure";
    EXPECT_EQ(zero ? PVL_OK : PVL_E_UNSUPPORTED, c.result) << c.name;
  }
  EXPECT_EQ(1, deliver);
  // The plug-in interface is the derived plug-in's to answer.
  void* out = nullptr;
  EXPECT_EQ(PVL_E_NOTSUPPORTED, p->QueryInterface(ZUEUID_IFACE_ELFS, &out));
  ASSERT_EQ(PVL_OK, p->QueryInterface(ZUEUID_IFACE_BASE, &out));
  static_cast<IPvlBase*>(out)->Release();
  EXPECT_EQ(0, p->Release());
}

}  // namespace
