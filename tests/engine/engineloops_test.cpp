// The camera's automatic loops as a user meets them: the real engine, built
// from the device's configuration (the Bayrox exposure, white-balance and
// focus plug-ins), driven through its front end on the simulated board. The
// preview finds its exposure from a start far too dark or too bright, greys
// come out grey under the board's light sources, a focus run finds the chart's
// sharp lens position and tells its listener, and the still taken after the
// loops settled shows the chart's colours.
//
// Frames are counted by the sensor's own frame numbers, never by wall time.
// The board starts each frame only once the last one's statistics were
// handled, as the phone's hardware keeps pace, so a frame is a statistics
// update however loaded the machine is.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "board_sensor.h"
#include "board_sim.h"
#include "board_vfe.h"
#include "camerapropertyids.h"
#include "camerasettings.h"
#include "ccameraengine.h"
#include "cenginesettings.h"
#include "chartcolour.h"
#include "chipset.h"
#include "cpvlmediabuffer.h"
#include "engineboard.h"
#include "icamerabuffermanager.h"
#include "icameraport.h"
#include "ienv.h"
#include "isignalqueue.h"
#include "orbhost_test.h"
#include "plindor.h"

namespace {

using namespace engineboard;
using camera::test::Ciede2000;
using camera::test::Nv21MeanRgb;
using camera::test::Rgb;
using camera::test::SrgbToLab;

// Exposure as the sensor latched it for a frame: lines x gain.
double FrameExposure(const BoardFrameInfo& info) { return double(info.integrationLines) * info.gainCode / 32.0; }

// Every frame's exposure, from the sensor's start-of-frame events.
class ExposureLog {
 public:
  ExposureLog() { m_id = BoardSensorAddFrameListener(&ExposureLog::OnEvent, this); }
  ~ExposureLog() { BoardSensorRemoveFrameListener(m_id); }
  std::vector<std::pair<uint32_t, double>> Frames() {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_frames;
  }
  void Clear() {
    std::lock_guard<std::mutex> hold(m_lock);
    m_frames.clear();
  }
  // The latest frame number seen, 0 before any.
  uint32_t Latest() {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_frames.empty() ? 0 : m_frames.back().first;
  }

 private:
  static void OnEvent(void* context, const BoardFrameEvent& event) {
    if (event.kind != kBoardStartOfFrame) return;
    BoardFrameInfo info;
    if (!BoardSensorFrame(event.frame, &info)) return;
    auto* self = static_cast<ExposureLog*>(context);
    std::lock_guard<std::mutex> hold(self->m_lock);
    self->m_frames.emplace_back(event.frame, FrameExposure(info));
  }
  std::mutex m_lock;
  std::vector<std::pair<uint32_t, double>> m_frames;
  int m_id = 0;
};

class EngineLoopsTest : public EngineBoardFixture {
 protected:
  void SetUp() override {
    OrbhostTest_UnregisterAllClasses();
    BoardSimReset();
    BoardVfeReset();
    // Each frame's statistics are handled before the next frame starts, as on
    // the phone, however slowly this machine runs the board and the engine.
    BoardVfeSetStatsLockStep(true);
    ASSERT_NE(0, VantorInitBufferManager());
    // The device's own configuration: the Bayrox plug-ins.
    MakeEngine(nullptr);
  }

  void TearDown() override {
    if (paced_) ExpectPacingHeld();
    EngineBoardFixture::TearDown();
    buffers_.Free();
    env_.Reset();
    BoardVfeReset();
    BoardSimReset();
  }

  // The board never ran ahead of the engine's loop.
  void ExpectPacingHeld() {
    const BoardVfeCounters counts = BoardVfeCounts();
    EXPECT_EQ(0u, counts.framesMissed) << "the VFE model let sensor frames pass";
    EXPECT_EQ(0u, counts.serviceTimeouts) << BoardVfeLastTimeout();
  }

  // Frames free-running again (a still's statistics get no update command).
  void FreeFrames() {
    ExpectPacingHeld();
    BoardVfeSetStatsLockStep(false);
    paced_ = false;
  }

  void Initialize() {
    InitializePorts();
    ASSERT_EQ(4u, ports_.size()) << "two video ports, main image, thumbnail";
  }

  // Initialised and the preview running and read.
  void Preview() {
    Initialize();
    buffers_.Arm(env_.Get(), ports_[0], Nv21Format(kPreviewW, kPreviewH, kFrameIntervalUs));
    ReadPreview();
  }

  // Waits until the exposure has not moved for `frames` frames in a row; the
  // exposure it rests at.
  double SettledExposure(int frames = 8) {
    double settled = 0;
    EXPECT_TRUE(WaitFor([&] {
      const auto seen = log_.Frames();
      if (seen.size() < size_t(frames) + 4) return false;
      const double last = seen.back().second;
      for (size_t i = seen.size() - frames; i < seen.size(); ++i)
        if (std::fabs(seen[i].second / last - 1) > 0.01) return false;
      settled = last;
      return true;
    })) << "the exposure never came to rest";
    return settled;
  }

  // Waits until the frame `more` frames after the latest one has ended.
  void WaitFrames(uint32_t more) {
    const uint32_t target = log_.Latest() + more;
    EXPECT_TRUE(WaitFor([&] { return log_.Latest() >= target + 1; })) << "frames stopped";
  }

  static Rgb PatchRgb(const std::vector<uint8_t>& nv21, uint32_t w, uint32_t h, const BoardChartPatch& p) {
    const uint32_t x = uint32_t(double(p.centreX) * w / kSensorArrayWidth);
    const uint32_t y = uint32_t(double(p.centreY) * h / kSensorArrayHeight);
    // Well inside the patch: a quarter of its side around the centre.
    const uint32_t half = uint32_t(double(kChartPatchSize) * w / kSensorArrayWidth / 4);
    return Nv21MeanRgb(nv21.data(), w, h, x, y, half);
  }

  ClientBuffers buffers_;
  ExposureLog log_;
  bool paced_ = true;
};

// From a start 8x too dark and 8x too bright, the exposure is where the loop
// rests (the chart's mean luma on its target, which the statistics see
// linearly in exposure) within 8 % from the tenth frame on.
TEST_F(EngineLoopsTest, ExposureReachesTheTargetWithinTenFrames) {
  Preview();
  const double good = SettledExposure();
  ASSERT_GT(good, 0);
  const struct {
    const char* name;
    double factor;
  } kCases[] = {{"8x too dark", 1.0 / 8}, {"8x too bright", 8.0}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(PVL_OK, control_->Stop());
    // The exposure the next preview starts from, as the sensor service takes it.
    const double start = good * c.factor;
    const uint32_t lines = uint32_t(std::max(1.0, std::min(start, 900.0)));
    ASSERT_EQ(PVL_OK, engine_->Settings()->SetExposureLineCount(lines));
    ASSERT_EQ(PVL_OK, engine_->Settings()->SetExposureGain(CFixedPoint(8u, start / lines)));
    log_.Clear();
    ASSERT_EQ(PVL_OK, control_->StartVideo());
    uint32_t first = 0;
    ASSERT_TRUE(WaitFor([&] {
      const auto seen = log_.Frames();
      for (const auto& f : seen)
        if (first == 0 && std::fabs(f.second / start - 1) < 0.1) first = f.first;
      return first != 0 && !seen.empty() && seen.back().first >= first + 16;
    })) << "the start exposure never showed, or the frames stopped";
    for (const auto& f : log_.Frames()) {
      if (f.first < first + 10) continue;
      EXPECT_NEAR(good, f.second, 0.08 * good) << "frame " << f.first - first << " after the start";
    }
  }
}

// In automatic white balance, the chart's greys come out grey under the
// board's daylight and under incandescent light.
TEST_F(EngineLoopsTest, AutoWhiteBalanceMakesTheGreysGrey) {
  const struct {
    const char* name;
    BoardIlluminant light;
  } kCases[] = {{"daylight", kIlluminantDaylight}, {"incandescent", kIlluminantIncandescent}};
  Preview();
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    BoardSceneSetIlluminant(c.light);
    SettledExposure();
    WaitFrames(20);
    ASSERT_TRUE(reader_->WaitForMore(2));
    const std::vector<uint8_t> frame = reader_->Latest();
    ASSERT_GE(frame.size(), size_t(kPreviewW) * kPreviewH * 3 / 2);
    for (int i = 19; i <= 22; ++i) {
      const Rgb rgb = PatchRgb(frame, kPreviewW, kPreviewH, kChartPatches[i]);
      EXPECT_NEAR(rgb.g, rgb.r, 4.0) << kChartPatches[i].name << ": " << rgb.r << " " << rgb.g << " " << rgb.b;
      EXPECT_NEAR(rgb.g, rgb.b, 4.0) << kChartPatches[i].name << ": " << rgb.r << " " << rgb.g << " " << rgb.b;
    }
  }
}

// A focus run the client starts through the engine climbs to the chart's
// sharpest lens position and tells the listener, once.
TEST_F(EngineLoopsTest, FocusFindsTheSharpLensCodeAndTellsTheListener) {
  Preview();
  // Sharpness read while the exposure still moves would fall with it.
  SettledExposure(8);
  ASSERT_EQ(PVL_OK, control_->StartFocus(1, focusListener_.Cookie()));
  ASSERT_TRUE(WaitFor([&] { return focusListener_.told.load() > 0; })) << "the focus listener was not told";
  EXPECT_NEAR(double(kSceneFocusLensCode), double(BoardSensorState().lensCode), 16.0);
  WaitFrames(3);
  EXPECT_EQ(1, focusListener_.told.load());
  ASSERT_EQ(PVL_OK, control_->Stop());
}

// A camera driver hands the engine a host signal control, not a listener: the end of
// the focus run fires that signal (called through its own interface, never as an
// object of another type).
TEST_F(EngineLoopsTest, FocusFiresAHostSignalHandedAsTheListener) {
  CPvlPtr<ISignalQueue> queue;
  ASSERT_EQ(PVL_OK, env_->CreateInstance(ZUEUID_CLASS_SIGNAL_QUEUE, reinterpret_cast<void**>(queue.Out())));
  CPvlPtr<ISignalControl> control;
  CPvlPtr<ISignal> signal;
  ASSERT_EQ(PVL_OK, queue->CreateSignal(nullptr, 0, &control, &signal));
  std::atomic<bool> fired{false};
  std::thread waiter([&] {
    PvlSignalWaitRecord record{};
    fired = queue->Wait(&record) == PVL_OK;
  });
  Preview();
  SettledExposure(8);
  ASSERT_EQ(PVL_OK, control_->StartFocus(1, reinterpret_cast<uintptr_t>(control.Get())));
  EXPECT_TRUE(WaitFor([&] { return fired.load(); })) << "the signal was not fired";
  ASSERT_EQ(PVL_OK, control_->Stop());
  if (!fired) control->Fire();  // let the waiter go
  waiter.join();
}

// The still taken once the loops settled: the 24 patches close to their sRGB
// values (CIEDE2000 mean under 5, none over 10), the grey ramp never falling from left
// to right (its white end may clip) and rising over its length.
// A client's property set while the loops update the VFE every frame is taken: the
// loops' update still waiting for the frame start does not refuse the client's (a
// picture control, and the focus window mode that reprograms the whole VFE).
TEST_F(EngineLoopsTest, ClientPropertiesSetWhileTheLoopsRunAreTaken) {
  Preview();
  SettledExposure();
  for (int i = 0; i < 8; ++i) {
    PvlValueRecord brightness{};
    brightness.type = PVL_VT_SINT32;
    brightness.payload.i32 = i % 2 ? 2000 : -2000;
    EXPECT_EQ(PVL_OK, control_->SetProperty(ZUEUID_PROPERTY_BRIGHTNESS, &brightness)) << "brightness " << i;
    WaitFrames(1);
    PvlValueRecord window{};
    window.type = PVL_VT_SINT32;
    window.payload.i32 = i % 2 ? 2 : 0;
    EXPECT_EQ(PVL_OK, control_->SetProperty(ZUEUID_PROPERTY_FOCUS_RECT_MODE, &window)) << "focus window " << i;
    WaitFrames(1);
  }
  ASSERT_EQ(PVL_OK, control_->Stop());
}

// Sets back to back, without a frame between them, are never lost: one the VFE
// refuses while an update is pending is applied with a later frame, so the
// preview ends at the last value set, whichever way it went. Brightness moves the
// mean luma; sharpness (whose filter no general update carries) the edge detail.
TEST_F(EngineLoopsTest, BackToBackClientSetsEndAtTheLastValue) {
  using Measure = double (*)(const std::vector<uint8_t>&);
  struct SetCase {
    const char* name;
    uint32_t property;
    int32_t high, low;
    Measure measure;
    double apart;  // the least the measure moves between the two values
  };
  const SetCase cases[] = {
      {"brightness", ZUEUID_PROPERTY_BRIGHTNESS, 2000, -2000,
       [](const std::vector<uint8_t>& y) {
         double sum = 0;
         for (size_t i = 0; i < size_t(kPreviewW) * kPreviewH; ++i) sum += y[i];
         return sum / (double(kPreviewW) * kPreviewH);
       },
       10},
      {"sharpness", ZUEUID_PROPERTY_SHARPNESS, 10000, -10000,
       [](const std::vector<uint8_t>& y) {
         double sum = 0;
         for (uint32_t r = 0; r < kPreviewH; ++r)
           for (uint32_t c = 1; c < kPreviewW; ++c)
             sum += std::abs(int(y[r * kPreviewW + c]) - int(y[r * kPreviewW + c - 1]));
         return sum / (double(kPreviewW - 1) * kPreviewH);
       },
       0.2},
  };
  Preview();
  SettledExposure();
  for (const SetCase& c : cases) {
    SCOPED_TRACE(c.name);
    double last[2] = {0, 0};
    for (int round = 0; round < 2; ++round) {
      const int32_t target = round ? c.low : c.high;
      for (int i = 0; i < 40; ++i) {
        PvlValueRecord value{};
        value.type = PVL_VT_SINT32;
        value.payload.i32 = i == 39 ? target : (i % 2 ? c.high : c.low);
        ASSERT_EQ(PVL_OK, control_->SetProperty(c.property, &value)) << "set " << i;
      }
      WaitFrames(3);
      ASSERT_TRUE(reader_->WaitForMore(2));
      const std::vector<uint8_t> frame = reader_->Latest();
      ASSERT_GE(frame.size(), size_t(kPreviewW) * kPreviewH);
      last[round] = c.measure(frame);
    }
    EXPECT_GT(last[0], last[1] + c.apart) << "high " << last[0] << " low " << last[1];
  }
  ASSERT_EQ(PVL_OK, control_->Stop());
}

TEST_F(EngineLoopsTest, TheSettledStillShowsTheChartsColours) {
  Preview();
  SettledExposure();
  WaitFrames(20);
  FreeFrames();
  buffers_.Arm(env_.Get(), ports_[2], Nv21Format(kStillW, kStillH, kFrameIntervalUs));
  ASSERT_EQ(PVL_OK, control_->StartStill(1));
  IPvlMediaBuffer* frame = NextFrame(ports_[2]);
  ASSERT_NE(nullptr, frame) << "no still came";
  const Bytes b = Contents(frame);
  std::vector<uint8_t> still(b.data, b.data + std::min<size_t>(b.size, size_t(kStillW) * kStillH * 3 / 2));
  frame->Release();
  ASSERT_EQ(still.size(), size_t(kStillW) * kStillH * 3 / 2);
  camera::test::WriteRgbPng(std::string(ENGINE_OUTPUT_DIR) + "/engine-loops-still.png",
                            camera::test::Nv21ToRgb(still.data(), kStillW, kStillH), kStillW, kStillH);

  double sum = 0, worst = 0;
  const char* worstName = "";
  for (const BoardChartPatch& p : kChartPatches) {
    const Rgb rgb = PatchRgb(still, kStillW, kStillH, p);
    const double d = Ciede2000(SrgbToLab({double(p.srgb[0]), double(p.srgb[1]), double(p.srgb[2])}), SrgbToLab(rgb));
    std::printf("  %-14s want %3d %3d %3d  got %5.1f %5.1f %5.1f  dE00 %5.2f\n", p.name, p.srgb[0], p.srgb[1],
                p.srgb[2], rgb.r, rgb.g, rgb.b, d);
    sum += d;
    if (d > worst) {
      worst = d;
      worstName = p.name;
    }
  }
  const double mean = sum / 24;
  std::printf("CIEDE2000 of the 24 patches: mean %.2f, worst %.2f (%s)\n", mean, worst, worstName);
  EXPECT_LT(mean, 5.0);
  EXPECT_LT(worst, 10.0) << worstName;

  // The ramp in 16 steps along its middle row, each step's luma above the last.
  const uint32_t steps = 16;
  double previous = -1, first = 0;
  for (uint32_t s = 0; s < steps; ++s) {
    const uint32_t x = uint32_t((kChartGreyRamp.x + (s + 0.5) * kChartGreyRamp.width / steps) * kStillW / kSensorArrayWidth);
    const uint32_t y = uint32_t((kChartGreyRamp.y + kChartGreyRamp.height / 2.0) * kStillH / kSensorArrayHeight);
    const Rgb rgb = Nv21MeanRgb(still.data(), kStillW, kStillH, x, y, 8);
    const double luma = 0.299 * rgb.r + 0.587 * rgb.g + 0.114 * rgb.b;
    EXPECT_GE(luma, previous - 0.5) << "ramp step " << s;
    if (s == 0) first = luma;
    previous = luma;
  }
  EXPECT_GT(previous, first + 150) << "the ramp is flat";
  ASSERT_EQ(PVL_OK, control_->Stop());
}

}  // namespace
