// The engine over its service doubles: one engine per test, built in debug
// mode from a configuration file the test chooses, and on the way out the
// checks that matter for every test: the engine let go of every double, and
// no framework block is left.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ccameraengine.h"
#include "ccameraenginefrontend.h"
#include "cenginestatemachine.h"
#include "cpvlptr.h"
#include "enginedoubles.h"
#include "ienv.h"
#include "orbhost_test.h"

namespace enginetest {

template <class Case, class = decltype(std::declval<const Case&>().name)>
std::ostream& operator<<(std::ostream& os, const Case& c) {
  return os << c.name;
}

// Public: the tables of cases arrange the doubles through it.
class EngineFixture : public ::testing::Test {
 public:
  void SetUp() override {
    ASSERT_EQ(PVL_OK, env_env_CreateInstance(ZUEUID_CLASS_ENV, env_.Out()));
    doubles_ = std::make_unique<EngineDoubles>(ExtraYuvOutputs());
    blocks_ = OrbhostTest_LiveBlocks(nullptr);
  }

  void TearDown() override {
    ReleaseEngine();
    EXPECT_EQ(doubles_->HeldReferences(), 0) << "the engine kept a service double";
    EXPECT_EQ(OrbhostTest_LiveBlocks(nullptr), blocks_) << "framework blocks left";
    doubles_.reset();
    env_.Reset();
  }

  virtual uint32_t ExtraYuvOutputs() const { return 0; }

  // For a table of cases: the checks of the way out, then new doubles.
  void Fresh() {
    ReleaseEngine();
    EXPECT_EQ(doubles_->HeldReferences(), 0) << "the engine kept a service double";
    EXPECT_EQ(OrbhostTest_LiveBlocks(nullptr), blocks_) << "framework blocks left";
    doubles_.reset();
    doubles_ = std::make_unique<EngineDoubles>(ExtraYuvOutputs());
    blocks_ = OrbhostTest_LiveBlocks(nullptr);
  }

  // The default configuration: the sensor with its tuning and best-shot
  // sets, and the flash plug-in.
  std::string DefaultConfig() {
    return WriteEngineConfig("EngineTest.xml", kSensorClass, kDefaultTuning, {{3, 0x0108aecfu}, {5, 0x0108aed1u}},
                             {{ZUEUID_CLASS_FLASH_ELFS, "Flash"}});
  }

  PvlResult Make(const std::string& config) {
    return CCameraEngine::CreateUnregistered(env_.Get(), true, config.c_str(), &engine_);
  }
  void MakeDefault() { ASSERT_EQ(PVL_OK, Make(DefaultConfig())); }

  // Initialize and StartSensor through the machine: the engine in Ready.
  void MakeReady() {
    MakeDefault();
    ASSERT_EQ(PVL_OK, engine_->FrontEnd()->Initialize(kSensorClass));
    ASSERT_EQ(State(), 1);
  }

  int32_t State() {
    CPvlPtr<CEngineStateMachine> machine;
    if (engine_->GetStateMachine(&machine) != PVL_OK) return -1;
    return machine->GetCurrentStateId();
  }

  void ReleaseEngine() {
    if (!engine_) return;
    // A test that left the engine initialised: the VFE double holds its sink.
    if (engine_->VfeService()) engine_->FrontEnd()->Uninitialize();
    if (engine_->VfeService()) engine_->Uninitialize();
    engine_->Release();
    engine_ = nullptr;
  }

  // Stores a value and mode word straight into the engine's store (no range
  // check, no apply): what a client set before.
  void Store(uint32_t id, const PvlValueRecord& value, uint32_t mode = 1) {
    PvlPropertyValueRecord record{};
    record.id = id;
    record.value = value;
    record.mode = mode;
    CPvlPtr<IProperties> store;
    ASSERT_EQ(PVL_OK, engine_->FrontEnd()->GetPropertyStore(&store));
    ASSERT_EQ(PVL_OK, store->SetProperties(&record, 1));
  }
  static PvlValueRecord Int(int32_t v) {
    PvlValueRecord r{};
    r.type = PVL_VT_SINT32;
    r.payload.i32 = v;
    return r;
  }

  CPvlPtr<IEnv> env_;
  std::unique_ptr<EngineDoubles> doubles_;
  CCameraEngine* engine_ = nullptr;
  uint32_t blocks_ = 0;
};

// The lines logged while it lives.
class LogCapture {
 public:
  LogCapture() { OrbhostTest_MessageCaptureBegin(); }
  ~LogCapture() { Stop(); }
  const std::vector<OrbhostTestMessage>& Stop() {
    if (!m_stopped) {
      m_lines = OrbhostTest_MessageCaptureEnd();
      m_stopped = true;
    }
    return m_lines;
  }
  bool Has(const std::string& text) {
    for (const OrbhostTestMessage& m : Stop())
      if (m.text.find(text) != std::string::npos) return true;
    return false;
  }

 private:
  bool m_stopped = false;
  std::vector<OrbhostTestMessage> m_lines;
};

}  // namespace enginetest
