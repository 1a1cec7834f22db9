// The plug-ins as the engine meets them: what each answers for its role, the
// interface it hands out, its tunables with the tuning server for as long as
// it lives, and the module as the host maps it.
#include <string>
#include <vector>

#include "bayroxrig.h"
#include "hostsession.h"

namespace bayroxtest {
namespace {

class RoleTest : public BayroxTest {
 public:
  IELFS* Aec() { return Make<CBayroxAEC>(); }
  IELFS* Awb() { return Make<CBayroxAWB>(); }
  IELFS* Af() { return Make<CBayroxAF>(); }
  IELFS* Passive() { return Make<CBayroxPassiveELFS>(); }
};

// Each plug-in class and what it answers to the engine's passes. Focus
// statistics go to the exposure and white-balance plug-ins, WB/exposure
// statistics to the focus plug-in: neither is theirs.
TEST_F(RoleTest, EachPluginAnswersForItsRoleAndPassesOnTheRest) {
  const struct {
    const char* name;
    IELFS* (RoleTest::*make)();
    PvlResult configure, startVideo, otherStats;
    PvlResult snapshot;  // start and stop: the exposure plug-in sets the still's own shutter time
  } kCases[] = {
      {"exposure", &RoleTest::Aec, PVL_OK, PVL_OK, PVL_E_UNSUPPORTED, PVL_OK},
      {"white balance", &RoleTest::Awb, PVL_OK, PVL_E_UNSUPPORTED, PVL_E_UNSUPPORTED, PVL_E_UNSUPPORTED},
      {"focus", &RoleTest::Af, PVL_OK, PVL_OK, PVL_E_UNSUPPORTED, PVL_E_UNSUPPORTED},
      {"hand-jitter and luma", &RoleTest::Passive, PVL_E_UNSUPPORTED, PVL_E_UNSUPPORTED, PVL_E_UNSUPPORTED,
       PVL_E_UNSUPPORTED},
  };
  WbExpStatsDouble wb;
  AfStatsDouble af;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    IELFS* p = (this->*c.make)();
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(c.configure, p->Configure());
    EXPECT_EQ(c.startVideo, p->OnStartVideo(nullptr));
    // The statistics of the other kind (focus plug-in: WB/exposure; others: focus).
    IPvlBase* other = c.make == &RoleTest::Af ? static_cast<IPvlBase*>(&wb) : static_cast<IPvlBase*>(&af);
    EXPECT_EQ(c.otherStats, p->OnStats(other));
    uint8_t deliver = 1;
    EXPECT_EQ(PVL_E_UNSUPPORTED, p->OnFrame(nullptr));
    EXPECT_EQ(PVL_E_UNSUPPORTED, p->OnStopVideo());
    EXPECT_EQ(c.snapshot, p->OnStartSnapshot(nullptr, nullptr));
    EXPECT_EQ(PVL_E_UNSUPPORTED, p->OnSnapshotMainFrame(nullptr, &deliver));
    EXPECT_EQ(PVL_E_UNSUPPORTED, p->OnSnapshotSecondFrame(nullptr, &deliver));
    EXPECT_EQ(1, deliver) << "a plug-in that does not handle a frame keeps it for the port";
    EXPECT_EQ(PVL_E_UNSUPPORTED, p->OnSnapshotStats(&wb));
    EXPECT_EQ(c.snapshot, p->OnStopSnapshot());
    EXPECT_EQ(PVL_E_UNSUPPORTED, p->Reserved14(0, 0));
    // Nothing held after a pass: the next statistics would be dropped.
    EXPECT_EQ(0, wb.refs.load());
    EXPECT_EQ(0, af.refs.load());
    // The face the engine asks for is the one it was given.
    void* face = nullptr;
    ASSERT_EQ(PVL_OK, p->QueryInterface(ZUEUID_IFACE_ELFS, &face));
    EXPECT_EQ(static_cast<void*>(p), face);
    p->Release();
  }
}

TEST_F(RoleTest, InitializeWithoutAClientIsRefused) {
  for (auto make : {&RoleTest::Aec, &RoleTest::Awb, &RoleTest::Af, &RoleTest::Passive}) {
    IELFS* p = (this->*make)();
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(PVL_E_NULLPTR, p->Initialize(nullptr));
  }
}

// A client that offers the plug-in's own view but not the sensor view the
// exposure plug-in also needs: refused, and nothing half-bound stays behind.
TEST_F(RoleTest, AClientWithoutEveryViewIsRefusedWhole) {
  class OnlyAecView final : public IPvlBase {
   public:
    explicit OnlyAecView(IPvlBase* inner) : inner_(inner) {}
    int32_t AddRef() override { return 1; }
    int32_t Release() override { return 1; }
    PvlResult QueryInterface(ZUEUID iid, void** out) override {
      if (iid == ZUEUID_AEC_SETTINGS) return inner_->QueryInterface(iid, out);
      *out = nullptr;
      return PVL_E_UNSUPPORTED;
    }

   private:
    IPvlBase* inner_;
  } client(aggregate);
  void* out = nullptr;
  ASSERT_EQ(PVL_OK, CBayroxAEC::ClassEntry(env.Get(), 0, nullptr, &out));
  auto* aec = static_cast<IELFS*>(out);
  EXPECT_EQ(PVL_E_UNSUPPORTED, aec->Initialize(&client));
  EXPECT_EQ(PVL_E_NOTREADY, aec->Configure());
  WbExpStatsDouble wb;
  EXPECT_EQ(PVL_E_NOTREADY, aec->OnStats(&wb));
  EXPECT_EQ(0, aec->Release());
}

TEST_F(RoleTest, AStatisticsPluginUsedBeforeInitializeIsNotReady) {
  void* out = nullptr;
  ASSERT_EQ(PVL_OK, CBayroxAEC::ClassEntry(env.Get(), 0, nullptr, &out));
  auto* aec = static_cast<IELFS*>(out);
  WbExpStatsDouble wb;
  EXPECT_EQ(PVL_E_NOTREADY, aec->Configure());
  EXPECT_EQ(PVL_E_NOTREADY, aec->OnStats(&wb));
  EXPECT_EQ(0, aec->Release());
}

// Each statistics plug-in lists its tunables under its group while it lives
// and withdraws them before it goes.
TEST_F(BayroxTest, TunablesAreRegisteredWhileThePluginLives) {
  const struct {
    const char* group;
    int32_t (*entry)(IEnv*, ZUEUID, void*, void**);
    const char* someItem;
  } kCases[] = {
      {"AEC", &CBayroxAEC::ClassEntry, "LumaTarget"},
      {"AWB", &CBayroxAWB::ClassEntry, "GreyPoints"},
      {"AF", &CBayroxAF::ClassEntry, "StepSize"},
  };
  // The groups of this name the server holds (the tuning data has its own).
  auto groups = [](const char* name) {
    std::vector<IRuntimeTuning*> found;
    for (const auto& g : tuningtest::ServerGroups())
      if (g.name == name) found.push_back(g.provider);
    return found;
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.group);
    void* out = nullptr;
    ASSERT_EQ(PVL_OK, c.entry(env.Get(), 0, nullptr, &out));
    auto* p = static_cast<IELFS*>(out);
    ASSERT_EQ(1u, groups(c.group).size());
    // The table the server lists is the plug-in's own.
    CPvlPtr<IRuntimeTuning> table;
    ASSERT_EQ(PVL_OK, p->QueryInterface(ZUEUID_RUNTIME_TUNING, reinterpret_cast<void**>(table.Out())));
    EXPECT_EQ(table.Get(), groups(c.group)[0]);
    uint16_t count = 0;
    ASSERT_EQ(PVL_OK, table->GetNumItems(&count));
    bool found = false;
    for (uint16_t i = 0; i < count; ++i) {
      char name[64] = {};
      uint32_t length = 0, flags = 0;
      uint16_t elements = 0;
      ASSERT_EQ(PVL_OK, table->GetItemInfo(i, name, sizeof name, &length, &elements, &flags));
      found = found || std::string(name) == c.someItem;
    }
    EXPECT_TRUE(found) << c.someItem;
    table.Reset();
    EXPECT_EQ(0, p->Release());
    EXPECT_TRUE(groups(c.group).empty());
  }
}

TEST_F(BayroxTest, WithoutATuningServerThePluginsWorkUntuned) {
  OrbhostTest_RegisterClass(ZUEUID_CLASS_TUNINGSERVER, &tuningtest::RefusingServerFactory);
  IELFS* aec = Make<CBayroxAEC>();
  ASSERT_NE(nullptr, aec);
  void* table = nullptr;
  EXPECT_EQ(PVL_E_NOTSUPPORTED, aec->QueryInterface(ZUEUID_RUNTIME_TUNING, &table));
  EXPECT_EQ(nullptr, table);
  EXPECT_EQ(PVL_OK, aec->Configure());
}

// A tunable written as the tuning tool writes it changes the decision.
TEST_F(BayroxTest, ATunedTargetMovesTheExposure) {
  IELFS* aec = Make<CBayroxAEC>();
  CPvlPtr<IRuntimeTuning> table;
  ASSERT_EQ(PVL_OK, aec->QueryInterface(ZUEUID_RUNTIME_TUNING, reinterpret_cast<void**>(table.Out())));
  uint16_t count = 0;
  table->GetNumItems(&count);
  for (uint16_t i = 0; i < count; ++i) {
    char name[64] = {};
    uint32_t length = 0, flags = 0;
    uint16_t elements = 0;
    table->GetItemInfo(i, name, sizeof name, &length, &elements, &flags);
    if (std::string(name) == "LumaTarget") {
      ASSERT_EQ(PVL_OK, table->SetValue(i, 0, "240"));
    }
  }
  SetExposure(300, 1.0);
  ASSERT_EQ(PVL_OK, aec->Configure());
  WbExpStatsDouble wb;
  for (Region& r : wb.regions) r.yAll = 120 * 1200;  // half the target set above
  ASSERT_EQ(PVL_OK, aec->OnStats(&wb));
  EXPECT_EQ(600u, Lines());
}

// The module as the host maps it: every class of its table, the plug-ins
// handing out their IELFS face, the class without code answering 3.
TEST(BayroxModule, TheHostMakesEveryPluginClass) {
  camera::test::HostSession host;
  ASSERT_EQ(PVL_OK, host.Start());
  const struct {
    const char* name;
    ZUEUID clsid;
    PvlResult result;
  } kCases[] = {
      {"exposure", kAecClass, PVL_OK},   {"white balance", kAwbClass, PVL_OK},
      {"focus", kAfClass, PVL_OK},       {"hand-jitter reduction", kHjrClass, PVL_OK},
      {"luma", kLumaClass, PVL_OK},      {"listed without code", 0x01074a8du, PVL_E_NOTSUPPORTED},
  };
  for (const auto& c : kCases) {
    PvlResult r = PVL_E_FAIL;
    auto* p = host.Create<IELFS>(c.clsid, &r);
    EXPECT_EQ(c.result, r) << c.name;
    if (!p) continue;
    void* face = nullptr;
    EXPECT_EQ(PVL_OK, p->QueryInterface(ZUEUID_IFACE_ELFS, &face)) << c.name;
    EXPECT_EQ(static_cast<void*>(p), face) << c.name;
    p->Release();
    EXPECT_EQ(0, p->Release()) << c.name;
  }
  EXPECT_EQ(1, OrbhostTest_IsModuleMapped("Bayrox"));
  host.Stop();
}

}  // namespace
}  // namespace bayroxtest
