// The engine end to end on the simulated board, with the real sensor, VFE and
// flash services: a stream suspended and resumed (frames stop and come back),
// and the flash plug-in's decisions as the board's LED shows them (the torch
// for the preview, the pre-flash of a still's metering, the strobe of a still).
// The statistics plug-ins are doubles, registered through the host's test hook
// and named in the engine's configuration, that play the exposure and focus
// algorithms' part: they end a focus run and walk the pre-flash sequence to its
// end, so that the focus and pre-flash listeners are told.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "board_led.h"
#include "board_sensor.h"
#include "board_sim.h"
#include "camerapropertyids.h"
#include "camerasettings.h"
#include "ccameraengine.h"
#include "cpvlmediabuffer.h"
#include "engineboard.h"
#include "icamerabuffermanager.h"
#include "icameraport.h"
#include "ielfs.h"
#include "ienv.h"
#include "image_copy.h"
#include "ipropertystore.h"
#include "orbhost_test.h"
#include "plindor.h"

namespace {

using namespace engineboard;

constexpr uint32_t kAecDouble = 0x01046293u;
constexpr uint32_t kAfDouble = 0x01045ccfu;

// A statistics plug-in double: answers 20 to what it does not play, and on each
// preview frame takes one step of its part.
class PluginDouble : public IELFS {
 public:
  int32_t AddRef() override { return ++refs; }
  int32_t Release() override {
    const int32_t n = --refs;
    if (n == 0) delete this;
    return n;
  }
  PvlResult QueryInterface(ZUEUID iid, void** out) override {
    if (iid != ZUEUID_IFACE_ELFS && iid != ZUEUID_IFACE_BASE) {
      *out = nullptr;
      return PVL_E_UNSUPPORTED;
    }
    AddRef();
    *out = static_cast<IELFS*>(this);
    return PVL_OK;
  }
  PvlResult Configure() override { return PVL_OK; }
  PvlResult OnStartVideo(const CameraPortFormat*) override { return PVL_E_UNSUPPORTED; }
  PvlResult OnStats(IPvlBase*) override { return PVL_E_UNSUPPORTED; }
  PvlResult OnStopVideo() override { return PVL_E_UNSUPPORTED; }
  PvlResult OnStartSnapshot(const CameraPortFormat*, const CameraPortFormat*) override { return PVL_E_UNSUPPORTED; }
  PvlResult OnSnapshotMainFrame(IPvlMediaBuffer*, uint8_t*) override { return PVL_E_UNSUPPORTED; }
  PvlResult OnSnapshotSecondFrame(IPvlMediaBuffer*, uint8_t*) override { return PVL_E_UNSUPPORTED; }
  PvlResult OnSnapshotStats(IPvlBase*) override { return PVL_E_UNSUPPORTED; }
  PvlResult OnStopSnapshot() override { return PVL_E_UNSUPPORTED; }
  PvlResult Reserved14(uint32_t, uint32_t) override { return PVL_E_UNSUPPORTED; }
  virtual ~PluginDouble() = default;

  std::atomic<int32_t> refs{0};
};

// The exposure algorithm's part of the pre-flash: it meters a few frames with
// the LED on (state 6), reports its exposure and white-balance decisions with
// the LED on (7, then 9, after which the flash plug-in puts the LED out at 4),
// meters one frame with the LED off and reports it (5: the engine settings
// tell the pre-flash listener).
class AecDouble final : public PluginDouble {
 public:
  static AecDouble* last;
  AecDouble() { last = this; }
  ~AecDouble() override {
    if (last == this) last = nullptr;
  }
  PvlResult Initialize(IPvlBase* client) override {
    if (!client) return PVL_E_NULLPTR;
    return client->QueryInterface(ZUEUID_AEC_SETTINGS, m_view.Out());
  }
  PvlResult OnFrame(IPvlMediaBuffer*) override {
    uint32_t state = 0;
    PvlResult r = m_view->GetPreSnapshotState(&state);
    if (r != PVL_OK) return r;
    if (state != m_lastState) m_framesInState = 0;
    m_lastState = state;
    ++m_framesInState;
    seen.push_back(state);
    // Each decision after the flash plug-in has seen the state for two frames.
    if (m_framesInState < 3) return PVL_OK;
    switch (state) {
      case 6:
        return m_view->SetPreSnapshotState(7);  // stored as 8
      case 8:
        return m_view->SetPreSnapshotState(9);  // stored as 4: the flash plug-in puts the LED out
      case 4:
        return m_view->SetPreSnapshotState(5);  // stored as 10, the listener told
      default:
        return PVL_OK;
    }
  }

  std::vector<uint32_t> seen;

 private:
  CPvlPtr<IAecSettings> m_view;
  uint32_t m_lastState = 0xffffffffu;
  uint32_t m_framesInState = 0;
};
AecDouble* AecDouble::last = nullptr;

// The focus algorithm's part: a run the engine started (state 1 or 2) ends
// with success on the next frame.
class AfDouble final : public PluginDouble {
 public:
  PvlResult Initialize(IPvlBase* client) override {
    if (!client) return PVL_E_NULLPTR;
    return client->QueryInterface(ZUEUID_AF_SETTINGS, m_view.Out());
  }
  PvlResult OnFrame(IPvlMediaBuffer*) override {
    uint32_t state = 0;
    PvlResult r = m_view->GetFocusState(&state);
    if (r != PVL_OK) return r;
    if (state == 1 || state == 2) return m_view->SetFocusState(3);
    return PVL_OK;
  }

 private:
  CPvlPtr<IAfSettings> m_view;
};

template <class T>
int32_t DoubleFactory(IEnv*, ZUEUID, void*, void** out) {
  auto* made = new T;
  made->AddRef();
  *out = static_cast<IELFS*>(made);
  return PVL_OK;
}

// The engine over the real services and the board, its configuration naming
// the two plug-in doubles and the flash plug-in.
class EngineFlashTest : public EngineBoardFixture {
 protected:
  void SetUp() override {
    BoardSimReset();
    BoardLedClearRecords();
    // What the driver sets up when it loads: the camera's buffers and the flash LED.
    ASSERT_EQ(1, VantorInitBufferManager());
    ASSERT_EQ(1, InitFlashLight());
    ASSERT_EQ(PVL_OK, OrbhostTest_RegisterClass(kAecDouble, &DoubleFactory<AecDouble>));
    ASSERT_EQ(PVL_OK, OrbhostTest_RegisterClass(kAfDouble, &DoubleFactory<AfDouble>));
    const std::string xml =
        "<?xml version=\"1.0\"?>\n<CameraEngineConfig>\n"
        "  <SensorConfig ClassID=\"0x0108AED0\">\n"
        "    <DefaultTuningData ClassID=\"0x0108AECE\"/>\n"
        "  </SensorConfig>\n  <ELFS>\n"
        "    <Plugin ClassID=\"0x01046293\" Role=\"AEC\" OfflineProc=\"FALSE\"/>\n"
        "    <Plugin ClassID=\"0x01045CCF\" Role=\"AF\" OfflineProc=\"FALSE\"/>\n"
        "    <Plugin ClassID=\"0x01089A8C\" Role=\"Flash\" OfflineProc=\"FALSE\"/>\n"
        "  </ELFS>\n</CameraEngineConfig>\n";
    camera::test::WriteImageFile("fs/~0x01061a6f/EngineFlashTest.xml", xml);
    MakeEngine("fs:/~0x01061a6f/EngineFlashTest.xml");
  }

  void TearDown() override {
    EngineBoardFixture::TearDown();
    EXPECT_EQ(0, preFlashListener_.refs.load()) << "the engine kept the pre-flash listener";
    for (ICameraBufferManager* b : buffers_) b->Release();
    buffers_.clear();
    OrbhostTest_UnregisterClass(kAecDouble);
    OrbhostTest_UnregisterClass(kAfDouble);
    env_.Reset();
    EXPECT_TRUE(WaitFor([] { return BoardLedNow().mode == kLedOff; }, 2s))
        << "the LED was left " << BoardLedStateName(BoardLedNow());
  }

  // What a client set before: a mode word straight into the engine's store.
  void SetMode(uint32_t id, uint32_t mode) {
    PvlPropertyValueRecord record{};
    record.id = id;
    record.value.type = PVL_VT_SINT32;
    record.mode = mode;
    CPvlPtr<IProperties> store;
    ASSERT_EQ(PVL_OK, control_->GetPropertyStore(&store));
    ASSERT_EQ(PVL_OK, store->SetProperties(&record, 1));
  }

  // Initialised, the ports fetched and the preview's given buffers as the driver's pins do.
  void Initialize() {
    InitializePorts();
    ASSERT_GT(ports_.size(), 0u);
    GiveBuffers(ports_[0]);
  }
  void GiveBuffers(ICameraPort* port) {
    CameraPortFormat format{};
    uint32_t formats = 0;
    ASSERT_EQ(PVL_OK, port->GetSupportedFormats(&format, 1, &formats));
    ASSERT_GT(formats, 0u);
    ASSERT_EQ(PVL_OK, port->SetFormat(&format));
    BufferRequest request{};
    uint32_t requests = 0;
    ASSERT_EQ(PVL_OK, port->GetBufferRequirements(&request, 1, &requests));
    ICameraBufferManager* buffers = nullptr;
    ASSERT_EQ(PVL_OK, env_->CreateInstance(ZUEUID_CLASS_BUFFER_MANAGER, reinterpret_cast<void**>(&buffers)));
    buffers_.push_back(buffers);
    ASSERT_EQ(PVL_OK, buffers->InitRequirements(&request, 0, 0));
    ASSERT_EQ(PVL_OK, buffers->Allocate());
    ASSERT_EQ(PVL_OK, port->SetBufferManager(buffers));
  }

  // The preview running and read: frames reach the port.
  void Stream() {
    Initialize();
    ASSERT_EQ(PVL_OK, ports_[0]->Start());
    ReadPreview();
  }

  // The LED modes the board saw, in order, each once per change.
  static std::vector<BoardLedMode> LedModes() {
    std::vector<BoardLedMode> modes;
    for (const BoardLedState& s : BoardLedHistory())
      if (modes.empty() || modes.back() != s.mode) modes.push_back(s.mode);
    return modes;
  }

  std::vector<ICameraBufferManager*> buffers_;
  // The engine keeps it (counted) until it goes.
  CountingListener preFlashListener_;
};

TEST_F(EngineFlashTest, SuspendStopsTheFramesAndResumeBringsThemBack) {
  Stream();
  ASSERT_EQ(PVL_OK, control_->Suspend());
  EXPECT_EQ(ENGINE_STATE_VIDEO, State());
  // Frames on their way when the stream stopped may still land; then none.
  std::this_thread::sleep_for(100ms);
  const int atRest = reader_->frames.load();
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(atRest, reader_->frames.load()) << "frames came while suspended";
  EXPECT_TRUE(BoardSensorState().inReset) << "the sensor stayed powered while suspended";
  ASSERT_EQ(PVL_OK, control_->Resume());
  EXPECT_TRUE(reader_->WaitForMore(5)) << "no frames after Resume";
  EXPECT_EQ(ENGINE_STATE_VIDEO, State());
  ASSERT_EQ(PVL_OK, control_->Stop());
  EXPECT_EQ(ENGINE_STATE_READY, State());
}

// Lamp mode on: the flash plug-in lights the torch when the preview starts and
// puts it out when the preview stops.
TEST_F(EngineFlashTest, TheTorchBurnsWhileThePreviewRuns) {
  SetMode(ZUEUID_PROPERTY_LAMP_MODE, 1);
  Stream();
  EXPECT_TRUE(WaitFor([] { return BoardLedNow().mode == kLedTorch; })) << BoardLedStateName(BoardLedNow());
  ASSERT_EQ(PVL_OK, control_->Stop());
  EXPECT_TRUE(WaitFor([] { return BoardLedNow().mode == kLedOff; })) << BoardLedStateName(BoardLedNow());
  EXPECT_EQ((std::vector<BoardLedMode>{kLedTorch, kLedOff}), LedModes());
}

// Snapshot flash on, lamp off: the pre-flash lights the LED for the metering
// (state 6), the white-balance decision puts it out (state 4), the metering
// without it ends the sequence and the pre-flash listener is told, once.
TEST_F(EngineFlashTest, ThePreFlashLightsTheLedForTheMeteringAndTellsTheListener) {
  SetMode(ZUEUID_PROPERTY_LAMP_MODE, 0);
  SetMode(ZUEUID_PROPERTY_SNAPSHOT_FLASH_MODE, 1);
  Stream();
  EXPECT_EQ(kLedOff, BoardLedNow().mode) << "the torch burns with the lamp off";
  CountingListener& listener = preFlashListener_;
  ASSERT_EQ(PVL_OK, control_->StartPreSnapshotFlash(listener.Cookie()));
  ASSERT_TRUE(WaitFor([&] { return listener.told.load() > 0; })) << "the pre-flash listener was not told";
  ASSERT_TRUE(reader_->WaitForMore(3));
  EXPECT_EQ(1, listener.told.load());
  EXPECT_TRUE(WaitFor([] { return BoardLedNow().mode == kLedOff; })) << BoardLedStateName(BoardLedNow());
  EXPECT_EQ((std::vector<BoardLedMode>{kLedTorch, kLedOff}), LedModes());
  ASSERT_EQ(PVL_OK, control_->StopPreSnapshotFlash());
  ASSERT_EQ(PVL_OK, control_->Stop());
  // The sequence as the exposure plug-in saw it.
  ASSERT_NE(nullptr, AecDouble::last);
  std::vector<uint32_t> steps;
  for (uint32_t state : AecDouble::last->seen)
    if (steps.empty() || steps.back() != state) steps.push_back(state);
  EXPECT_EQ((std::vector<uint32_t>{0, 6, 8, 4, 10}), steps);
}

// A focus run the client starts ends when the focus plug-in says so; the
// focus listener is told once.
TEST_F(EngineFlashTest, AFocusRunEndsAndTellsTheListener) {
  Stream();
  CountingListener& listener = focusListener_;
  ASSERT_EQ(PVL_OK, control_->StartFocus(1, listener.Cookie()));
  ASSERT_TRUE(WaitFor([&] { return listener.told.load() > 0; })) << "the focus listener was not told";
  ASSERT_TRUE(reader_->WaitForMore(3));
  EXPECT_EQ(1, listener.told.load());
  ASSERT_EQ(PVL_OK, control_->Stop());
}

// Snapshot flash on: a still taken from Ready fires the strobe, and when the
// still is done the LED is off.
TEST_F(EngineFlashTest, AStillWithTheStrobeLeavesTheLedOff) {
  SetMode(ZUEUID_PROPERTY_LAMP_MODE, 0);
  SetMode(ZUEUID_PROPERTY_SNAPSHOT_FLASH_MODE, 1);
  Initialize();
  for (size_t i = 1; i < ports_.size(); ++i) GiveBuffers(ports_[i]);
  for (ICameraPort* port : ports_) ASSERT_EQ(PVL_OK, port->Start());
  ASSERT_EQ(PVL_OK, control_->StartStill(1));
  ASSERT_TRUE(WaitFor([&] { return State() == ENGINE_STATE_READY; })) << "the still did not complete";
  const std::vector<BoardLedMode> modes = LedModes();
  EXPECT_NE(modes.end(), std::find(modes.begin(), modes.end(), kLedFlash)) << "no strobe";
  EXPECT_TRUE(WaitFor([] { return BoardLedNow().mode == kLedOff; }, 2s))
      << "the LED was left " << BoardLedStateName(BoardLedNow());
  for (ICameraPort* port : ports_) port->Stop();
}

}  // namespace
