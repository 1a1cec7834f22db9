// Bayrox on the board: the plug-ins run on the VFE service's receive thread as
// the engine runs them (focus, exposure, the sensor's exposure configurer when
// exposure changed, white balance), over the real VFE service and driver with
// the board's VFE model, the real sensor service with the Senvar sensor and
// lens drivers on the board's sensor, the real tuning data and the real
// settings objects. The VFE is programmed for statistics only (no output
// path), the way the video configure chain programmes its statistics blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "bayroxrig.h"
#include "board_sensor.h"
#include "board_sim.h"
#include "board_led.h"
#include "board_vfe.h"
#include "ccameraflashelfs.h"
#include "image_copy.h"
#include "plindor.h"
#include "cmcamerabuffermanager.h"
#include "iconfigcommand.h"
#include "icameraengineeventsink.h"
#include "icamerasensorservice.h"
#include "vfedriver.h"
#include "vfepreviewpipeline.h"
#include "cvfeservice.h"
#include "wince_sim.h"

namespace bayroxtest {
namespace {

using namespace std::chrono_literals;

// The statistics area inside the demosaic margins of the preview read-out.
using vfepipeline::kAreaH;
using vfepipeline::kAreaW;
// The chart's fine-detail area in preview coordinates (half the array's),
// inside the statistics area: where the user points the focus.
constexpr uint16_t kFocusX = 1045, kFocusY = 60, kFocusW = 190, kFocusH = 560;

// The engine's statistics handler, on the receive thread.
class EngineStandIn final : public ICameraEngineEventSink {
 public:
  IELFS* aec = nullptr;
  IELFS* awb = nullptr;
  IELFS* af = nullptr;
  // Sees a preview frame with each WB/exposure delivery (there is no output path).
  IELFS* flash = nullptr;
  CEngineSettings* es = nullptr;
  ICameraSensorService* sensor = nullptr;
  // Gets the per-frame update command once the statistics are handled, as the
  // engine's loops send it.
  CVfeService* vfe = nullptr;
  // While set, the exposure plug-in sits out deliveries until one whose mean luma
  // it accepts (frames exposed before a change the test made do not count).
  std::function<bool(uint32_t mean)> aecWaitsFor;
  // Called with each WB/exposure delivery's frame id and mean luma, after the plug-ins.
  std::function<void(uint32_t frame, uint32_t mean)> onExposureStats;

  int32_t AddRef() override { return 1; }
  int32_t Release() override { return 1; }
  PvlResult QueryInterface(ZUEUID, void** out) override {
    *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }
  PvlResult OnEvent(uint32_t kind, uint32_t, IPvlBase* object) override {
    if (kind != EVENT_STATS_AVAILABLE || !object) return PVL_OK;
    std::lock_guard<std::mutex> hold(m_lock);
    PvlResult r = PVL_OK;
    CPvlPtr<IWBExpStats> stats;
    const bool frameStats = object->QueryInterface(ZUEUID_IFACE_WB_EXP_STATS, stats.Out()) == PVL_OK;
    uint32_t frame = 0, mean = 0;
    bool measured = false;
    if (frameStats) {
      // The mean the exposure plug-in meters: green (the luma a grey has
      // once white balanced), on the 10-bit scale.
      uint32_t values[kRegions] = {}, count = 0, pixels = 0;
      stats->GetRegionWord6(values, kRegions, &count);
      stats->GetPixelsPerRegion(&pixels);
      stats->GetFrameId(&frame);
      uint64_t sum = 0;
      for (uint32_t i = 0; i < std::min(count, kRegions); ++i) sum += uint64_t(values[i]) * 4;
      uint64_t quads = uint64_t(pixels / 4) * std::min(count, kRegions);
      measured = quads != 0;
      if (measured) mean = uint32_t(sum / quads);
    }
    if (flash && frameStats) {
      r = Pass(flash->OnFrame(nullptr));
      if (BoardLedNow().mode != kLedOff) litDeliveries++;
    }
    if (r == PVL_OK && af) r = Pass(af->OnStats(object));
    bool aecNow = aec != nullptr;
    if (aecNow && aecWaitsFor) {
      aecNow = measured && aecWaitsFor(mean);
      if (aecNow) aecWaitsFor = nullptr;
    }
    if (r == PVL_OK && aecNow) r = Pass(aec->OnStats(object));
    if (r == PVL_OK && es->IsExposureChanged()) {
      CPvlPtr<IConfigCommand> exposure;
      if (sensor->GetConfigurer(ZUEUID_CONFIG_EXPOSURE, &exposure) == PVL_OK) exposure->Configure();
      es->ClearExposureChanged();
    }
    if (r == PVL_OK && awb) r = Pass(awb->OnStats(object));
    if (r != PVL_OK) failures++;
    if (frameStats && vfe) vfe->SendCommand(VFE_CMD_UPDATE, nullptr, 0);
    if (measured && onExposureStats) onExposureStats(frame, mean);
    {
      std::lock_guard<std::mutex> waiters(m_waitLock);
      ++deliveries;
    }
    m_cv.notify_all();
    return r;
  }
  // Runs `f` between deliveries.
  void Held(const std::function<void()>& f) {
    std::lock_guard<std::mutex> hold(m_lock);
    f();
  }
  // Waits (real time, generously) until `done` says so after a delivery.
  bool WaitUntil(const std::function<bool()>& done, std::chrono::seconds limit = 60s) {
    std::unique_lock<std::mutex> hold(m_waitLock);
    return m_cv.wait_for(hold, limit, [&] { return done(); });
  }
  std::atomic<int> failures{0};
  std::atomic<int> litDeliveries{0};
  uint64_t deliveries = 0;

 private:
  static PvlResult Pass(PvlResult r) { return r == PVL_E_UNSUPPORTED ? PVL_OK : r; }
  std::mutex m_lock;
  std::mutex m_waitLock;
  std::condition_variable m_cv;
};

class BayroxBoardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BoardSimReset();
    CeSimClearFaults();
    BoardVfeReset();
    OrbhostTest_UnregisterAllClasses();
    // Real time: the plug-ins assume statistics handled within a frame, as on the phone.
    BoardSetSpeedUp(1);
    BoardSetCameraTestMode(true);
    ASSERT_EQ(PVL_OK, env_env_CreateInstance(ZUEUID_CLASS_ENV, env.Out()));
    ASSERT_EQ(PVL_OK, OrbhostTest_RegisterClass(ZUEUID_CLASS_VFE_DRIVER, &VfeDriver_CreateInstance));
    ASSERT_EQ(PVL_OK, OrbhostTest_RegisterClass(ZUEUID_CLASS_BUFFER_MANAGER, &CMCameraBufferManager::CreateInstance));
    // The sensor's tuning, from its own module.
    ASSERT_EQ(PVL_OK, env->CreateInstance(ZUEUID_CLASS_TUNING_DATA, tuning.Out()));
    ASSERT_EQ(PVL_OK, tuning->SelectTuningData(ZUEUID_CLASS_S5K3E2FX_TUNING_DATA));
    // The properties the views read, with the engine's defaults.
    CPvlPtr<IPvlBase> object;
    ASSERT_EQ(PVL_OK, env->CreateInstance(ZUEUID_CLASS_PROPERTY_STORE, object.Out()));
    ASSERT_EQ(PVL_OK, object->QueryInterface(ZUEUID_IFACE_PROPERTY_STORE, store.Out()));
    for (uint32_t id : {ZUEUID_PROPERTY_FOCUS_STEP, ZUEUID_PROPERTY_FOCUS_MODE, ZUEUID_PROPERTY_FOCUS_RECT_MODE,
                        ZUEUID_PROPERTY_EXPOSURE_METERING_MODE, ZUEUID_PROPERTY_LAMP_MODE,
                        ZUEUID_PROPERTY_SNAPSHOT_FLASH_MODE, ZUEUID_PROPERTY_SNAPSHOT_FLASH_MODE2})
      Define(id, 0);
    Define(ZUEUID_PROPERTY_LAMP_INTENSITY, 50);
    Define(ZUEUID_PROPERTY_SNAPSHOT_FLASH_INTENSITY, 100);
    // The whole frame as the one focus rectangle of a 1 x 1 grid.
    PvlValueRecord grid{};
    grid.type = 13;
    grid.payload.pair = CPvlPair{1, 1};
    Define(ZUEUID_PROPERTY_FOCUS_RECT_GRID, grid);
    PvlValueRecord rect{};
    rect.type = PVL_VT_RECT;
    rect.payload.rect = CPvlRect{0, 0, 1, 1};
    PvlValueRecord rects{};
    rects.type = PVL_VT_ARRAY;
    rects.payload.array.data = &rect;
    rects.payload.array.capacity = 1;
    rects.payload.array.filled = 1;
    Define(ZUEUID_PROPERTY_FOCUS_RECTS, rects);
    formats.enabled = {tuningtest::Format(652, 486, 33333, 0)};
    ud.SetSources(store.Get(), &formats);
    ASSERT_EQ(PVL_OK, CUserDataAggregate::New(env, &ud, &es, &sip, &aggregate));
    // The sensor service as the engine makes and starts it.
    ASSERT_EQ(PVL_OK, env->CreateInstance(ZUEUID_CLASS_SENSOR_SERVICE, sensor.Out()));
    ASSERT_EQ(PVL_OK, sensor->Initialize(ZUEUID_CLASS_S5K3E2FX_SENSOR_DRIVER, aggregate));
    ASSERT_EQ(PVL_OK, sip.SetSensorService(sensor.Get()));
    ASSERT_EQ(PVL_OK, Run(ZUEUID_CONFIG_VIDEO));
    ASSERT_EQ(PVL_OK, Run(ZUEUID_CONFIG_EXPOSURE));
    es.ClearExposureChanged();
    ASSERT_EQ(PVL_OK, VfeService_CreateInstance(env.Get(), ZUEUID_CLASS_VFE_SERVICE, nullptr, vfe.Out()));
    svc = static_cast<CVfeService*>(vfe.Get());
    ASSERT_EQ(PVL_OK, vfe->Initialize(0, aggregate));
    ASSERT_EQ(PVL_OK, vfe->SetEventSink(&engine));
    engine.es = &es;
    engine.sensor = sensor.Get();
    engine.vfe = svc;
    // Each frame waits for the answer to the statistics before, as the phone's
    // frame period gives the loop time however busy this machine is.
    BoardVfeSetStatsLockStep(true);
  }
  void TearDown() override {
    if (vfe) {
      vfe->Stop();
      vfe->SetEventSink(nullptr);
      vfe->Uninitialize();
    }
    vfe.Reset();
    for (IELFS* p : plugins) p->Release();
    if (sensor) {
      sensor->Stop();
      sensor->Uninitialize();
    }
    sip.SetFocusListener(nullptr);
    sensor.Reset();
    if (aggregate) aggregate->Release();
    tuning.Reset();
    store.Reset();
    BoardSetCameraTestMode(false);
    BoardSensorSetSlowFrames(1.0);
    BoardVfeReset();
    BoardSimReset();
    OrbhostTest_UnregisterAllClasses();
    env.Reset();
  }

  void Define(uint32_t id, int32_t value) {
    PvlValueRecord v{};
    v.type = PVL_VT_SINT32;
    v.payload.i32 = value;
    Define(id, v);
  }
  void Define(uint32_t id, PvlValueRecord v) {
    CPvlPropertyDesc d(id, "p", "d", &v, &v, &v, &v, &v, 0, 0, PVL_DESC_COPY_DEEP);
    ASSERT_EQ(PVL_OK, store->AddProperty(&d, 0, PVL_PROPERTY_ADD_REPLACE));
  }
  PvlResult Run(uint32_t configuration) {
    CPvlPtr<IConfigCommand> configurer;
    PvlResult r = sensor->GetConfigurer(configuration, &configurer);
    return r != PVL_OK ? r : configurer->Configure();
  }
  template <class T>
  IELFS* Plugin() {
    void* out = nullptr;
    EXPECT_EQ(PVL_OK, T::ClassEntry(env.Get(), 0, nullptr, &out));
    auto* p = static_cast<IELFS*>(out);
    if (!p) return nullptr;
    EXPECT_EQ(PVL_OK, p->Initialize(aggregate));
    EXPECT_EQ(PVL_OK, p->Configure());
    plugins.push_back(p);
    return p;
  }
  template <class T>
  void Send(uint32_t id, const T& record) {
    ASSERT_EQ(PVL_OK, svc->SendCommand(static_cast<int32_t>(id), &record, sizeof record));
  }
  // The statistics part of the video chain: camera interface, black level,
  // demosaic and crop, both statistics streams with their first buffers, no
  // output path; then the VFE runs.
  void StartStatistics() {
    ASSERT_EQ(PVL_OK, svc->SendReset());
    vfepipeline::SendFront([this](uint32_t id, void* record, uint32_t size) {
      return svc->SendCommand(static_cast<int32_t>(id), record, size);
    });
    VfeOutputCmd out{};
    out.fixedWord = 4;
    out.outputMode = 6;
    Send(VFE_CMD_OUTPUT, out);
    svc->GetOperationMode()->pixelOrder = kSensorVfePixelOrder;

    CStatsOutput* wb = svc->GetWBExpStats();
    CStatsOutput* af = svc->GetAFStats();
    ASSERT_NE(nullptr, wb);
    ASSERT_NE(nullptr, af);
    wb->SetStatsCount(256);
    wb->SetStatsGrid(kAreaW, kAreaH);
    af->SetStatsGrid(kFocusW, kFocusH);
    VfeWbExpStatsCmd s{};
    s.areaWidth = kAreaW - 1;
    s.areaHeight = kAreaH - 1;
    for (uint32_t& b : s.afBuffer) ASSERT_EQ(PVL_OK, af->QueueNewBuffer(&b));
    for (uint32_t& b : s.wbExpBuffer) ASSERT_EQ(PVL_OK, wb->QueueNewBuffer(&b));
    Send(VFE_CMD_WB_EXP_STATS, s);
    VfeAwbExtStatsCmd ext{};
    ext.enable = 1;
    ext.lumaMax = 255;
    Send(VFE_CMD_AWBEXT_STATS, ext);
    // Whole-window focus statistics over the fine detail (payload: first
    // pixel, first line, width, height), the default high-pass filter.
    VfeAfStatsCmd focus{};
    focus.enable = 1;
    focus.gridMode = 0;
    focus.firstPixel = kFocusX;
    focus.lastPixel = kFocusY;
    focus.firstLine = kFocusW;
    focus.lastLine = kFocusH;
    focus.clip = 2047;
    focus.tap0 = uint8_t(-2);
    focus.tap4 = uint8_t(-2);
    const int8_t taps[5] = {-1, -1, 8, -1, -1};
    for (int i = 0; i < 5; ++i) focus.taps[i] = uint8_t(taps[i]);
    focus.field37 = 79;
    Send(VFE_CMD_AF_STATS, focus);
    ASSERT_EQ(PVL_OK, vfe->Start());
  }
  // Exposure in lines x gain as the sensor holds it.
  static double SensorExposure() {
    BoardSensorSummary s = BoardSensorState();
    return double(s.integrationLines) * s.gainCode / 32.0;
  }
  void SetExposure(double exposure) {
    uint32_t lines = uint32_t(std::min(exposure, 990.0));
    es.SetExposureLineCount(lines);
    es.SetExposureGain(CFixedPoint(8u, exposure / lines));
    ASSERT_EQ(PVL_OK, Run(ZUEUID_CONFIG_EXPOSURE));
    es.ClearExposureChanged();
  }

  CPvlPtr<IEnv> env;
  CPvlPtr<ITuningData> tuning;
  CPvlPtr<IPropertyStore> store;
  tuningtest::PortFormatsDouble formats;
  CUserData ud;
  CEngineSettings es;
  tuningtest::ListenerDouble focusListener;  // outlives the proxy that holds it
  CSensorInfoProxy sip;
  CUserDataAggregate* aggregate = nullptr;
  CPvlPtr<ICameraSensorService> sensor;
  CPvlPtr<IVfeService> vfe;
  CVfeService* svc = nullptr;
  EngineStandIn engine;
  std::vector<IELFS*> plugins;
};

// From 8x too dark and 8x too bright the chart's mean luma reaches the target
// within 10 frames.
TEST_F(BayroxBoardTest, ExposureReachesTheTargetWithinTenFrames) {
  auto* aec = Plugin<CBayroxAEC>();
  ASSERT_NE(nullptr, aec);
  engine.aec = aec;
  std::mutex lock;
  std::vector<std::pair<uint32_t, uint32_t>> seen;  // frame, mean
  engine.onExposureStats = [&](uint32_t frame, uint32_t mean) {
    std::lock_guard<std::mutex> hold(lock);
    seen.emplace_back(frame, mean);
  };
  const uint32_t target = static_cast<CBayroxAEC*>(aec)->LumaTarget();
  StartStatistics();
  // Settle from the engine's defaults first to learn the exposure this chart wants.
  ASSERT_TRUE(engine.WaitUntil([&] {
    std::lock_guard<std::mutex> hold(lock);
    if (seen.size() < 12) return false;
    for (size_t i = seen.size() - 3; i < seen.size(); ++i)
      if (std::abs(int(seen[i].second) - int(target)) > int(target) * 8 / 100) return false;
    return true;
  }));
  const double good = SensorExposure();
  const struct {
    const char* name;
    double factor;
  } kCases[] = {{"8x too dark", 1.0 / 8}, {"8x too bright", 8.0}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    // The exposure is the test's while it sets the start: no delivery is being
    // handled meanwhile, so the plug-in's last change cannot land over it.
    const bool dark = c.factor < 1;
    engine.Held([&] {
      // The plug-in's start sets its own first exposure: the test's comes after.
      ASSERT_EQ(PVL_OK, aec->OnStartVideo(nullptr));
      SetExposure(good * c.factor);
      engine.aecWaitsFor = [=](uint32_t mean) { return dark ? mean < target / 3 : mean > target * 2; };
      std::lock_guard<std::mutex> hold(lock);
      seen.clear();
    });
    ASSERT_TRUE(engine.WaitUntil([&] {
      std::lock_guard<std::mutex> hold(lock);
      return seen.size() >= 18;
    }));
    std::vector<std::pair<uint32_t, uint32_t>> copy;
    {
      std::lock_guard<std::mutex> hold(lock);
      copy = seen;
    }
    // Statistics frames count from the first frame the start exposure reached.
    uint32_t first = 0;
    for (auto& s : copy) {
      if (first == 0 && (dark ? s.second < target / 3 : s.second > target * 2)) first = s.first;
    }
    ASSERT_NE(0u, first) << "the start exposure never showed";
    for (auto& s : copy) {
      if (s.first >= first + 10) {
        EXPECT_NEAR(double(target), double(s.second), 0.08 * target) << "frame " << s.first - first;
      }
    }
  }
  EXPECT_EQ(0, engine.failures.load());
}

// Under each of the board's light sources the gains make the chart's greys
// grey: G/R and G/B of the illuminant.
TEST_F(BayroxBoardTest, WhiteBalanceMakesTheGreysGrey) {
  const struct {
    const char* name;
    BoardIlluminant light;
  } kCases[] = {{"daylight (the board's default)", kIlluminantDaylight},
                {"incandescent", kIlluminantIncandescent},
                {"fluorescent", kIlluminantFluorescent}};
  engine.aec = Plugin<CBayroxAEC>();
  engine.awb = Plugin<CBayroxAWB>();
  StartStatistics();
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    BoardSceneSetIlluminant(c.light);
    const float* rgb = kIlluminantRgb[c.light];
    const double wantRed = rgb[1] / rgb[0], wantBlue = rgb[1] / rgb[2];
    auto gains = [&](double* red, double* blue) {
      CFixedPoint r, g, b;
      es.GetWhiteBalanceGains(&r, &g, &b);
      double gg = 1;
      r.GetDouble(red);
      g.GetDouble(&gg);
      b.GetDouble(blue);
      *red /= gg;
      *blue /= gg;
    };
    // The light changes at a frame start; the gains follow within a few frames.
    const uint64_t start = engine.deliveries;
    EXPECT_TRUE(engine.WaitUntil([&] {
      double red = 0, blue = 0;
      gains(&red, &blue);
      return engine.deliveries >= start + 10 && std::fabs(red / wantRed - 1) < 0.03 &&
             std::fabs(blue / wantBlue - 1) < 0.03;
    }));
    double red = 0, blue = 0;
    gains(&red, &blue);
    EXPECT_NEAR(wantRed, red, 0.03 * wantRed);
    EXPECT_NEAR(wantBlue, blue, 0.03 * wantBlue);
  }
  EXPECT_EQ(0, engine.failures.load());
}

// A focus request: the lens climbs to the chart's best focus (code 400) and
// the focus listener hears that the run ended.
TEST_F(BayroxBoardTest, FocusFindsTheBestLensCodeAndTellsTheListener) {
  engine.aec = Plugin<CBayroxAEC>();
  engine.af = Plugin<CBayroxAF>();
  sip.SetFocusListener(&focusListener);
  // Exposure first: sharpness read while the exposure still moves would fall
  // with it and look like the far side of the peak.
  const uint32_t target = static_cast<CBayroxAEC*>(engine.aec)->LumaTarget();
  std::atomic<int> steady{0};
  engine.onExposureStats = [&](uint32_t, uint32_t mean) {
    steady = std::abs(int(mean) - int(target)) <= int(target) * 4 / 100 ? steady + 1 : 0;
  };
  StartStatistics();
  ASSERT_TRUE(engine.WaitUntil([&] { return steady >= 4; }));
  ASSERT_EQ(PVL_OK, engine.af->OnStartVideo(nullptr));
  ASSERT_EQ(PVL_OK, sip.SetFocusState(1));
  ASSERT_TRUE(engine.WaitUntil([&] {
    uint32_t state = 0;
    sip.GetFocusState(&state);
    return state != 1;
  }));
  uint32_t state = 0;
  sip.GetFocusState(&state);
  EXPECT_EQ(3u, state);
  EXPECT_NEAR(double(kSceneFocusLensCode), double(BoardSensorState().lensCode), 16.0);
  EXPECT_EQ(1, focusListener.notified);
  EXPECT_EQ(0, engine.failures.load());
}

// The pre-flash before a still with the flash on: the engine asks for the LED
// (state 6), the flash plug-in lights it, exposure meters the lit frames,
// white balance decides, the LED goes out and the listener hears the end.
TEST_F(BayroxBoardTest, PreFlashRunsWithTheLedLitAndEndsWithTheListener) {
  ASSERT_EQ(1, InitFlashLight());
  SetSnapshotStatus(0);
  engine.aec = Plugin<CBayroxAEC>();
  engine.awb = Plugin<CBayroxAWB>();
  void* out = nullptr;
  ASSERT_EQ(PVL_OK, CCameraFlashELFS::ClassEntry(env.Get(), ZUEUID_CLASS_FLASH_ELFS, env.Get(), &out));
  auto* flash = static_cast<IELFS*>(out);
  plugins.push_back(flash);
  ASSERT_EQ(PVL_OK, flash->Initialize(aggregate));
  ASSERT_EQ(PVL_OK, flash->Configure());
  ASSERT_EQ(PVL_OK, flash->OnStartVideo(nullptr));
  engine.flash = flash;
  tuningtest::ListenerDouble listener;
  es.SetPreSnapshotListener(&listener);
  StartStatistics();
  const uint64_t start = engine.deliveries;
  ASSERT_TRUE(engine.WaitUntil([&] { return engine.deliveries >= start + 6; }));
  EXPECT_EQ(kLedOff, BoardLedNow().mode);
  BoardLedClearRecords();
  // The engine's StartPreSnapshotFlash with the flash on.
  ASSERT_EQ(PVL_OK, es.SetPreSnapshotState(6));
  EXPECT_TRUE(engine.WaitUntil([&] { return listener.notified > 0; }));
  EXPECT_EQ(1, listener.notified);
  uint32_t state = 0;
  es.GetPreSnapshotState(&state);
  EXPECT_EQ(10u, state);
  EXPECT_GE(engine.litDeliveries.load(), 3) << "exposure metered frames the LED did not light";
  bool lit = false;
  for (const BoardLedState& st : BoardLedHistory()) lit = lit || st.mode != kLedOff;
  EXPECT_TRUE(lit);
  // Put out once white balance decided (the torch's pulses stop a moment later).
  for (int i = 0; i < 400 && BoardLedNow().mode != kLedOff; ++i) std::this_thread::sleep_for(5ms);
  EXPECT_EQ(kLedOff, BoardLedNow().mode);
  es.SetPreSnapshotListener(nullptr);
  ASSERT_EQ(PVL_OK, vfe->Stop());
  ASSERT_EQ(PVL_OK, flash->OnStopVideo());
  EXPECT_EQ(0, engine.failures.load());
}

// Automatic flash: a scene that stays dark at the longest exposure and the
// highest gain wants the strobe; the chart, which exposure can reach, does not.
TEST_F(BayroxBoardTest, AutoFlashOnlyWhenTheSceneStaysDark) {
  // A near-black picture stretched over the array: sRGB 1 everywhere.
  std::string dark = "P6\n16 16\n255\n" + std::string(16 * 16 * 3, char(1));
  camera::test::WriteImageFile("fs/dark.ppm", dark);
  const struct {
    const char* name;
    bool darkScene;
    uint8_t want;
  } kCases[] = {{"the chart", false, 0}, {"a dark room", true, 1}};
  engine.aec = Plugin<CBayroxAEC>();
  StartStatistics();
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    if (c.darkScene) {
      ASSERT_TRUE(BoardSceneUsePpm(camera::test::ImagePath("fs/dark.ppm")));
    } else {
      BoardSceneUseChart();
    }
    const uint64_t start = engine.deliveries;
    ASSERT_TRUE(engine.WaitUntil([&] { return engine.deliveries >= start + 30; }));
    uint8_t needed = 9;
    es.GetFlashNeeded(&needed);
    EXPECT_EQ(c.want, needed);
    BoardSensorSummary st = BoardSensorState();
    if (c.darkScene) {
      EXPECT_EQ(990u, st.integrationLines);
      EXPECT_EQ(512u, st.gainCode);
    }
  }
  BoardSceneUseChart();
  EXPECT_EQ(0, engine.failures.load());
}

}  // namespace
}  // namespace bayroxtest
