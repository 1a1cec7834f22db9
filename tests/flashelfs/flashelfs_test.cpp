// The flash plug-in: which device it drives, the torch by lamp mode, the LED
// following the pre-snapshot sequence, the strobe decision (automatic flash
// from what the preview frames found), the strobe put out after the still, a
// suspend with the torch on, and a board without a white LED. The flash
// service is a double that behaves like the service (start needs a device,
// suspend needs the output off) and records what it was asked.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "board_led.h"
#include "board_sim.h"
#include "camerasettings.h"
#include "ccameraflashelfs.h"
#include "hostsymbols.h"
#include "icameradriver.h"
#include "ienv.h"
#include "orbhost_test.h"
#include "plindor.h"
#include "wince_sim.h"

namespace {

std::vector<std::string> g_journal;

template <class I>
class Counted : public I {
 public:
  int32_t AddRef() override { return ++refs; }
  int32_t Release() override { return --refs; }
  int32_t refs = 0;
};

class FakeConfigurer final : public Counted<IConfigCommand> {
 public:
  explicit FakeConfigurer(std::string name) : name(std::move(name)) {}
  PvlResult QueryInterface(ZUEUID, void** out) override {
    *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }
  PvlResult Configure() override {
    g_journal.push_back("configure " + name);
    return result;
  }
  std::string name;
  PvlResult result = PVL_OK;
};

// The flash service as the plug-in sees it: not initialised, initialised with
// a device, started (LED on) or suspended.
class FakeFlashService final : public Counted<ICameraFlashService> {
 public:
  enum class State { Detected, Initialized, Started, Suspended };
  PvlResult QueryInterface(ZUEUID, void** out) override {
    *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }
  PvlResult Initialize(uint32_t device, IPvlBase* client) override {
    g_journal.push_back("initialize " + std::to_string(device));
    if (state != State::Detected || !client) return PVL_E_NOTREADY;
    this->device = device;
    state = State::Initialized;
    return PVL_OK;
  }
  PvlResult Uninitialize() override {
    g_journal.push_back("uninitialize");
    state = State::Detected;
    device = 0;
    return PVL_OK;
  }
  PvlResult Start() override {
    g_journal.push_back("start");
    if (state == State::Started) return PVL_OK;
    if (state != State::Initialized) return PVL_E_NOTREADY;
    state = State::Started;
    return PVL_OK;
  }
  PvlResult Stop() override {
    g_journal.push_back("stop");
    if (state == State::Initialized) return PVL_OK;
    if (state != State::Started) return PVL_E_NOTREADY;
    state = State::Initialized;
    return PVL_OK;
  }
  PvlResult Reset() override { return PVL_OK; }
  PvlResult GetConfigurer(uint32_t id, IConfigCommand** out) override {
    FakeConfigurer* c = id == ZUEUID_CONFIG_VIDEO      ? &video
                        : id == ZUEUID_CONFIG_SNAPSHOT ? &snapshot
                        : id == ZUEUID_CONFIG_LAMP     ? &lamp
                        : id == ZUEUID_CONFIG_STROBE   ? &strobe
                                                       : nullptr;
    if (!c) return PVL_E_BADARG;
    if (state == State::Detected) return PVL_E_NOTREADY;
    c->AddRef();
    *out = c;
    return PVL_OK;
  }
  PvlResult Suspend() override {
    g_journal.push_back("suspend");
    if (state == State::Suspended) return PVL_OK;
    if (state != State::Initialized) return PVL_E_NOTREADY;  // refuses with the LED on
    state = State::Suspended;
    return PVL_OK;
  }
  PvlResult Resume() override {
    g_journal.push_back("resume");
    if (state != State::Suspended) return PVL_E_NOTREADY;
    state = State::Initialized;
    return PVL_OK;
  }
  PvlResult GetFlashDevices(CameraFlashDevice* d, int32_t capacity, uint32_t* count) override {
    if (!count || (!d && capacity)) return PVL_E_NULLPTR;
    *count = uint32_t(devices.size());
    for (int32_t i = 0; i < capacity && size_t(i) < devices.size(); ++i) d[i] = devices[i];
    return PVL_OK;
  }
  PvlResult GetDeviceType(uint32_t* out) override {
    *out = 2;
    return PVL_OK;
  }
  PvlResult GetDeviceFlags(uint32_t*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetDeviceExtra(uint32_t*) override { return PVL_E_UNSUPPORTED; }
  PvlResult SetDeviceState(uint32_t, uint32_t) override { return PVL_E_UNSUPPORTED; }

  bool LedOn() const { return state == State::Started; }

  State state = State::Detected;
  uint32_t device = 0;
  std::vector<CameraFlashDevice> devices = {{1, 0x0a00}, {2, 0x0106c427}, {2, 0x0b00}};
  FakeConfigurer video{"video"}, snapshot{"snapshot"}, lamp{"lamp"}, strobe{"strobe"};
};

class FakeFlashSettings final : public Counted<IFlashSettings> {
 public:
  PvlResult QueryInterface(ZUEUID iid, void** out) override {
    if (iid == ZUEUID_FLASH_SETTINGS || iid == ZUEUID_IFACE_BASE) {
      AddRef();
      *out = static_cast<IFlashSettings*>(this);
      return PVL_OK;
    }
    *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }
  PvlResult GetLampIntensity(CameraRange* out) override {
    *out = lampIntensity;
    return PVL_OK;
  }
  PvlResult GetSnapshotFlashIntensity(CameraRange* out) override {
    *out = flashIntensity;
    return PVL_OK;
  }
  PvlResult GetRedEyeReductionMode(uint32_t* out) override {
    *out = 0;
    return PVL_OK;
  }
  PvlResult GetUnsupportedD(void*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetUnsupportedE(void*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetLampMode(uint32_t* out) override {
    *out = lampMode;
    return PVL_OK;
  }
  PvlResult GetSnapshotFlashMode(uint32_t* out) override {
    *out = flashMode;
    return PVL_OK;
  }
  PvlResult GetCurrentFlashDeviceId(uint32_t* out) override {
    *out = currentDevice;
    return PVL_OK;
  }
  PvlResult IsFlashRequired(uint8_t* out) override {
    *out = flashRequired;
    return PVL_OK;
  }
  // The exposure's flag: in automatic lamp mode the same answer as IsFlashRequired.
  PvlResult GetFlashNeeded(uint8_t* out) override {
    *out = flashRequired;
    return PVL_OK;
  }
  PvlResult SetFlashWord(uint32_t word) override {
    words.push_back(word);
    return PVL_OK;
  }
  PvlResult GetPreSnapshotState(uint32_t* out) override {
    *out = preSnapshot;
    return PVL_OK;
  }
  uint32_t lampMode = 0, flashMode = 0, currentDevice = 0x0106c427, preSnapshot = 0;
  uint8_t flashRequired = 0;
  std::vector<uint32_t> words;  // flash output states reported
  CameraRange lampIntensity{0, 10000, 1, 0, 5000}, flashIntensity{0, 10000, 1, 0, 10000};
};

FakeFlashService* g_service = nullptr;
PvlResult g_serviceResult = PVL_OK;

int32_t ServiceFactory(IEnv*, ZUEUID, void*, void** out) {
  *out = nullptr;
  if (g_serviceResult != PVL_OK) return g_serviceResult;
  g_service->AddRef();
  *out = static_cast<ICameraFlashService*>(g_service);
  return PVL_OK;
}

class FlashElfsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(PVL_OK, env_env_CreateInstance(ZUEUID_CLASS_ENV, env.Out()));
    g_service = &service;
    g_serviceResult = PVL_OK;
    g_journal.clear();
    ASSERT_EQ(PVL_OK, OrbhostTest_RegisterClass(ZUEUID_CLASS_FLASH_SERVICE, &ServiceFactory));
    SetSnapshotStatus(0);
    SetAutoFlashRequired(0);
    blocks_ = OrbhostTest_LiveBlocks(nullptr);
  }
  void TearDown() override {
    plugin.Reset();
    EXPECT_EQ(0, service.refs);
    EXPECT_EQ(0, settings.refs);
    for (FakeConfigurer* c : {&service.video, &service.snapshot, &service.lamp, &service.strobe}) EXPECT_EQ(0, c->refs);
    OrbhostTest_UnregisterAllClasses();
    SetSnapshotStatus(0);
    SetAutoFlashRequired(0);
    EXPECT_EQ(OrbhostTest_LiveBlocks(nullptr), blocks_) << "framework heap blocks left behind";
  }
  // The plug-in made through its class entry and initialised with the settings.
  void Make() {
    void* out = nullptr;
    ASSERT_EQ(PVL_OK, CCameraFlashELFS::ClassEntry(env, ZUEUID_CLASS_FLASH_ELFS, env, &out));
    elfs = static_cast<IELFS*>(out);
    plugin = static_cast<CCameraFlashELFS*>(elfs);
    elfs->Release();  // plugin holds it
    ASSERT_EQ(PVL_OK, elfs->Initialize(static_cast<IFlashSettings*>(&settings)));
    g_journal.clear();
  }
  bool Has(const std::string& entry) const {
    for (const std::string& j : g_journal)
      if (j == entry) return true;
    return false;
  }

  CPvlPtr<IEnv> env;
  FakeFlashService service;
  FakeFlashSettings settings;
  CPvlPtr<CCameraFlashELFS> plugin;
  IELFS* elfs = nullptr;

 private:
  uint32_t blocks_ = 0;
};

TEST_F(FlashElfsTest, AnswersThePluginAndTheFlashServiceFaces) {
  Make();
  void* out = nullptr;
  ASSERT_EQ(PVL_OK, elfs->QueryInterface(ZUEUID_IFACE_ELFS, &out));
  EXPECT_EQ(static_cast<void*>(elfs), out);
  static_cast<IPvlBase*>(out)->Release();
  void* flashFace = nullptr;
  ASSERT_EQ(PVL_OK, elfs->QueryInterface(ZUEUID_IFACE_FLASH_SERVICE, &flashFace));
  for (ZUEUID iid : {ZUEUID_IFACE_CAMERA_SERVICE, ZUEUID_IFACE_CAMERA_COMPONENT}) {
    ASSERT_EQ(PVL_OK, elfs->QueryInterface(iid, &out)) << std::hex << iid;
    EXPECT_EQ(flashFace, out);
    static_cast<IPvlBase*>(out)->Release();
  }
  static_cast<IPvlBase*>(flashFace)->Release();
  EXPECT_EQ(PVL_E_NOTSUPPORTED, elfs->QueryInterface(ZUEUID_FLASH_SETTINGS, &out));
  EXPECT_EQ(PVL_E_NULLPTR, elfs->Initialize(nullptr));
}

TEST_F(FlashElfsTest, DrivesTheFirstWhiteLedTheServiceReports) {
  Make();
  EXPECT_EQ(0x0106c427u, plugin->GetDetectedDevice());
  EXPECT_EQ(0u, plugin->GetSelectedDevice());
}

// Configure by lamp mode: the LED, the output state reported, and the
// snapshot status cleared (not for an unknown mode).
TEST_F(FlashElfsTest, ConfigureFollowsTheLampMode) {
  struct Case {
    const char* name;
    uint32_t lampMode;
    PvlResult result;
    bool ledOn;
    uint32_t snapshotStatusAfter;
  };
  const Case cases[] = {
      {"off", 0, PVL_OK, false, 0},
      {"on: torch", 1, PVL_OK, true, 0},
      {"automatic: off while previewing", 2, PVL_OK, false, 0},
      {"unknown mode", 3, PVL_E_BADARG, false, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Make();
    settings.lampMode = c.lampMode;
    settings.words.clear();
    SetSnapshotStatus(5);
    EXPECT_EQ(c.result, elfs->Configure());
    EXPECT_EQ(c.ledOn, service.LedOn());
    EXPECT_TRUE(Has("configure lamp"));
    EXPECT_EQ(c.snapshotStatusAfter, GetSnapshotStatus());
    if (c.ledOn) {
      EXPECT_EQ(std::vector<uint32_t>{1}, settings.words);
    }
    plugin.Reset();
    EXPECT_FALSE(service.LedOn());
    EXPECT_EQ(FakeFlashService::State::Detected, service.state) << "destruction deselects";
  }
}

// Every preview frame: the LED follows the pre-snapshot sequence, or the lamp
// mode when no sequence runs.
TEST_F(FlashElfsTest, OnFrameFollowsThePreSnapshotSequence) {
  // The lamp mode is set before the preview starts (a change of it comes with
  // Configure); `before` is the sequence's state of an earlier frame, if any.
  constexpr int32_t kNoFrame = -1;
  struct Case {
    const char* name;
    uint32_t lampMode;
    int32_t before;
    bool ledBefore;
    uint32_t preSnapshot;
    bool ledAfter;
  };
  const Case cases[] = {
      {"pre-flash lights it with the lamp off", 0, kNoFrame, false, 6, true},
      {"pre-flash lights it in automatic mode", 2, kNoFrame, false, 6, true},
      {"lamp on, no sequence: the torch stays lit", 1, kNoFrame, true, 0, true},
      {"lamp on: the torch comes back when the sequence ends", 1, 4, false, 0, true},
      {"white balance decided puts it out", 0, 6, true, 4, false},
      {"white balance decided puts out the torch too", 1, kNoFrame, true, 4, false},
      {"a pre-flash cancelled with the lamp off goes out", 0, 6, true, 0, false},
      {"a pre-flash cancelled in automatic mode goes out", 2, 6, true, 0, false},
      {"metering without the LED: left as it is", 0, kNoFrame, false, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Make();
    settings.lampMode = c.lampMode;
    ASSERT_EQ(PVL_OK, elfs->OnStartVideo(nullptr));
    if (c.before != kNoFrame) {
      settings.preSnapshot = uint32_t(c.before);
      ASSERT_EQ(PVL_OK, elfs->OnFrame(nullptr));
    }
    ASSERT_EQ(c.ledBefore, service.LedOn());
    settings.preSnapshot = c.preSnapshot;
    EXPECT_EQ(PVL_OK, elfs->OnFrame(nullptr));
    EXPECT_EQ(c.ledAfter, service.LedOn());
    EXPECT_EQ(PVL_OK, elfs->OnStopVideo());
    EXPECT_FALSE(service.LedOn());
    settings.lampMode = 0;
    settings.preSnapshot = 0;
    plugin.Reset();
  }
}

// The frame pass uses the lamp mode that Configure (which the engine runs for
// every lamp-mode change) or OnStartVideo read, and a torch already lit is
// neither configured nor reported again on every frame.
TEST_F(FlashElfsTest, FramesFollowTheLampModeConfigureRead) {
  struct Case {
    const char* name;
    uint32_t lampMode;  // changed during the preview, then Configure
    bool led;
  };
  const Case cases[] = {
      {"torch switched on", 1, true},
      {"torch switched off", 0, false},
      {"automatic", 2, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Make();
    settings.lampMode = c.lampMode == 1 ? 0 : 1;
    ASSERT_EQ(PVL_OK, elfs->OnStartVideo(nullptr));
    ASSERT_EQ(PVL_OK, elfs->OnFrame(nullptr));
    settings.lampMode = c.lampMode;
    ASSERT_EQ(PVL_OK, elfs->Configure());
    EXPECT_EQ(c.led, service.LedOn());
    g_journal.clear();
    settings.words.clear();
    for (int frame = 0; frame < 3; ++frame) ASSERT_EQ(PVL_OK, elfs->OnFrame(nullptr));
    EXPECT_EQ(c.led, service.LedOn());
    EXPECT_TRUE(g_journal.empty()) << "the LED was switched or configured again by a frame";
    EXPECT_TRUE(settings.words.empty()) << "the flash word was written again by a frame";
    EXPECT_EQ(PVL_OK, elfs->OnStopVideo());
    settings.lampMode = 0;
    plugin.Reset();
  }
}

// The strobe: flash mode on always fires it; automatic fires it when the last
// preview frame (lamp mode automatic, no still under way) found flash required.
TEST_F(FlashElfsTest, StrobeDecision) {
  struct Case {
    const char* name;
    uint32_t flashMode;
    uint8_t required;        // what the settings answer during the preview
    uint32_t snapshotStatus;  // the driver's still flag while the frame came
    bool strobe;
  };
  const Case cases[] = {
      {"on", 1, 0, 0, true},
      {"automatic, dark", 2, 1, 0, true},
      {"automatic, bright", 2, 0, 0, false},
      {"automatic, dark but a still already under way", 2, 1, 1, false},
      {"off", 0, 1, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Make();
    settings.lampMode = 2;
    settings.flashMode = c.flashMode;
    settings.flashRequired = c.required;
    settings.words.clear();
    ASSERT_EQ(PVL_OK, elfs->OnStartVideo(nullptr));
    SetSnapshotStatus(c.snapshotStatus);
    ASSERT_EQ(PVL_OK, elfs->OnFrame(nullptr));
    EXPECT_EQ(c.snapshotStatus ? 0u : c.required, GetAutoFlashRequired()) << "published for the driver";
    settings.flashRequired = 0;  // what it says at the still does not decide
    g_journal.clear();
    EXPECT_EQ(PVL_OK, elfs->OnStartSnapshot(nullptr, nullptr));
    EXPECT_EQ(c.strobe, service.LedOn());
    EXPECT_EQ(c.strobe, Has("configure strobe"));
    if (c.strobe) {
      EXPECT_TRUE(Has("configure snapshot"));
      EXPECT_EQ(std::vector<uint32_t>{2}, settings.words);
    }
    EXPECT_EQ(PVL_OK, elfs->OnStopSnapshot());
    EXPECT_FALSE(service.LedOn()) << "the strobe stays on after the still";
    SetSnapshotStatus(0);
    SetAutoFlashRequired(0);
    plugin.Reset();
  }
}

// A still taken straight from Ready: the strobe goes out with the capture and
// the engine can be suspended afterwards.
TEST_F(FlashElfsTest, TheStrobeGoesOutAfterAStillFromReady) {
  Make();
  settings.flashMode = 1;
  ASSERT_EQ(PVL_OK, elfs->Configure());
  ASSERT_EQ(PVL_OK, elfs->OnStartSnapshot(nullptr, nullptr));
  ASSERT_TRUE(service.LedOn());
  settings.words.clear();
  EXPECT_EQ(PVL_OK, elfs->OnStopSnapshot());
  EXPECT_FALSE(service.LedOn());
  EXPECT_EQ(std::vector<uint32_t>{0}, settings.words);
  EXPECT_EQ(PVL_OK, plugin->Suspend());
}

// Suspend with the torch on: the LED goes out first, so the service powers
// down instead of refusing after the rest of the camera already has.
TEST_F(FlashElfsTest, SuspendWithTheTorchOnPutsItOutFirst) {
  Make();
  settings.lampMode = 1;
  ASSERT_EQ(PVL_OK, elfs->Configure());
  ASSERT_TRUE(service.LedOn());
  EXPECT_EQ(PVL_OK, plugin->Suspend());
  EXPECT_EQ(FakeFlashService::State::Suspended, service.state);
  EXPECT_EQ(PVL_OK, plugin->Resume());
  EXPECT_EQ(FakeFlashService::State::Initialized, service.state);
  // The next frame lights the torch again.
  EXPECT_EQ(PVL_OK, elfs->OnFrame(nullptr));
  EXPECT_TRUE(service.LedOn());
}

TEST_F(FlashElfsTest, SelectingTheSelectedDeviceLeavesTheLedAlone) {
  Make();
  settings.lampMode = 1;
  ASSERT_EQ(PVL_OK, elfs->Configure());
  g_journal.clear();
  EXPECT_EQ(PVL_OK, elfs->Configure());
  EXPECT_FALSE(Has("stop"));
  EXPECT_FALSE(Has("uninitialize"));
  EXPECT_TRUE(service.LedOn());
}

TEST_F(FlashElfsTest, DestructionDeselectsAndSaysSo) {
  Make();
  settings.lampMode = 1;
  ASSERT_EQ(PVL_OK, elfs->Configure());
  g_journal.clear();
  OrbhostTest_MessageCaptureBegin();
  plugin.Reset();
  bool logged = false;
  for (const OrbhostTestMessage& m : OrbhostTest_MessageCaptureEnd())
    logged = logged || m.text == "~CCameraFlashELFS Destructor!";
  EXPECT_TRUE(logged);
  EXPECT_EQ((std::vector<std::string>{"stop", "uninitialize"}), g_journal);
}

// A board without a white LED still has a camera: no step fails for lack of
// a device, and nothing is switched.
TEST_F(FlashElfsTest, WithoutAWhiteLedNothingFails) {
  struct Case {
    const char* name;
    PvlResult serviceResult;
    std::vector<CameraFlashDevice> devices;
  };
  const Case cases[] = {
      {"the service reports another kind of flash", PVL_OK, {{1, 0x0a00}}},
      {"the service finds no device at all", PVL_E_NODEVICE, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    g_serviceResult = c.serviceResult;
    service.devices = c.devices;
    settings.lampMode = 1;
    settings.preSnapshot = 6;
    settings.flashMode = 1;
    settings.currentDevice = 0;
    Make();
    EXPECT_EQ(0u, plugin->GetDetectedDevice());
    EXPECT_EQ(PVL_OK, elfs->Configure());
    EXPECT_EQ(PVL_OK, elfs->OnStartVideo(nullptr));
    EXPECT_EQ(PVL_OK, elfs->OnFrame(nullptr));
    EXPECT_EQ(PVL_OK, elfs->OnStopVideo());
    EXPECT_EQ(PVL_OK, elfs->OnStopSnapshot());
    EXPECT_EQ(PVL_OK, plugin->Suspend());
    EXPECT_EQ(PVL_OK, plugin->Resume());
    uint32_t count = 9;
    EXPECT_EQ(PVL_OK, plugin->GetFlashDevices(nullptr, 0, &count));
    EXPECT_EQ(c.devices.size(), count);
    EXPECT_FALSE(service.LedOn());
    EXPECT_FALSE(Has("start"));
    plugin.Reset();
  }
}

TEST_F(FlashElfsTest, AServiceThatCannotBeMadeFailsTheCreation) {
  g_serviceResult = PVL_E_OUTOFMEMORY;
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(PVL_E_OUTOFMEMORY, CCameraFlashELFS::ClassEntry(env, ZUEUID_CLASS_FLASH_ELFS, env, &out));
  EXPECT_EQ(nullptr, out);
}

// ---- Over the flash service, the white-LED driver and the board's LED --------------

class FlashElfsBoardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BoardSimReset();
    CeSimClearFaults();
    OrbhostTest_UnregisterAllClasses();
    SetSnapshotStatus(0);
    ASSERT_EQ(InitFlashLight(), 1);
    ASSERT_EQ(PVL_OK, env_env_CreateInstance(ZUEUID_CLASS_ENV, env.Out()));
    void* out = nullptr;
    ASSERT_EQ(PVL_OK, CCameraFlashELFS::ClassEntry(env, ZUEUID_CLASS_FLASH_ELFS, env, &out));
    elfs = static_cast<IELFS*>(out);
    plugin = static_cast<CCameraFlashELFS*>(elfs);
    elfs->Release();
    ASSERT_EQ(PVL_OK, elfs->Initialize(static_cast<IFlashSettings*>(&settings)));
  }
  void TearDown() override {
    plugin.Reset();
    EXPECT_EQ(0, settings.refs);
    EXPECT_EQ(LedSettlesOn(kLedOff), kLedOff) << "the LED was left on";
    PMICFlashLED_SetCurrent(0);
    SetSnapshotStatus(0);
  }
  // The torch is decoded from pulses: it shows a moment after the call.
  static BoardLedMode LedSettlesOn(BoardLedMode expected) {
    BoardLedState s = BoardLedNow();
    for (int i = 0; i < 400 && s.mode != expected; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      s = BoardLedNow();
    }
    return s.mode;
  }

  CPvlPtr<IEnv> env;
  FakeFlashSettings settings;
  CPvlPtr<CCameraFlashELFS> plugin;
  IELFS* elfs = nullptr;
};

TEST_F(FlashElfsBoardTest, TorchPreFlashStrobeAndSuspendOnTheBoard) {
  EXPECT_EQ(ZUEUID_CLASS_WHITE_LED_FLASH_DRIVER, plugin->GetDetectedDevice());
  // Preview with the lamp on: the torch.
  settings.lampMode = 1;
  ASSERT_EQ(PVL_OK, elfs->Configure());
  ASSERT_EQ(PVL_OK, elfs->OnStartVideo(nullptr));
  EXPECT_EQ(LedSettlesOn(kLedTorch), kLedTorch);
  // Suspended with the torch on: dark, and back after the next frame.
  ASSERT_EQ(PVL_OK, plugin->Suspend());
  EXPECT_EQ(LedSettlesOn(kLedOff), kLedOff);
  ASSERT_EQ(PVL_OK, plugin->Resume());
  ASSERT_EQ(PVL_OK, elfs->OnFrame(nullptr));
  EXPECT_EQ(LedSettlesOn(kLedTorch), kLedTorch);
  // Lamp off; white balance decided under the pre-flash: dark.
  settings.lampMode = 0;
  settings.preSnapshot = 4;
  ASSERT_EQ(PVL_OK, elfs->OnFrame(nullptr));
  EXPECT_EQ(LedSettlesOn(kLedOff), kLedOff);
  ASSERT_EQ(PVL_OK, elfs->OnStopVideo());
  // A still with the flash on, taken from Ready: the strobe, then dark again.
  settings.preSnapshot = 0;
  settings.flashMode = 1;
  ASSERT_EQ(PVL_OK, elfs->OnStartSnapshot(nullptr, nullptr));
  EXPECT_EQ(LedSettlesOn(kLedFlash), kLedFlash);
  ASSERT_EQ(PVL_OK, elfs->OnStopSnapshot());
  EXPECT_EQ(LedSettlesOn(kLedOff), kLedOff);
  EXPECT_EQ(PVL_OK, plugin->Suspend());
  EXPECT_EQ(PVL_OK, plugin->Resume());
}

}  // namespace
