// Auto exposure: the decision from one delivery of statistics (exposure,
// flash-needed, the pre-flash sequence), then the loop closed over a small
// model of the sensor and the statistics that converges from 8x too dark and
// 8x too bright.
#include <algorithm>
#include <cmath>
#include <deque>
#include <functional>

#include "bayroxrig.h"

namespace bayroxtest {
namespace {

constexpr uint32_t kTarget = 192;    // the default LumaTarget
constexpr uint32_t kQuads = 1200;    // quads per region of the doubles
constexpr uint32_t kMaxLines = 990;  // 994-line frame less the 4-line margin

void FillMean(WbExpStatsDouble* wb, uint32_t mean) {
  for (Region& r : wb->regions) r.yAll = mean * kQuads;
}

TEST_F(BayroxTest, ExposureDecisionFromOneDelivery) {
  const struct {
    const char* name;
    uint32_t lines;
    double gain;
    uint32_t mean;
    uint32_t wantLines;
    double wantGain;
    uint8_t wantFlash;
  } kCases[] = {
      {"on target: nothing changes", 400, 1.0, kTarget, 400, 1.0, 0},
      {"inside the tolerance: nothing changes", 400, 1.0, kTarget + 4, 400, 1.0, 0},
      {"twice too bright: half the lines", 400, 1.0, 2 * kTarget, 200, 1.0, 0},
      {"twice too dark: twice the lines", 200, 1.0, kTarget / 2, 400, 1.0, 0},
      {"lines at their longest: gain makes up the rest", 600, 1.0, kTarget / 4, kMaxLines, 2.4375, 0},
      {"too bright with gain: gain goes first", kMaxLines, 4.0, 2 * kTarget, kMaxLines, 2.0, 0},
      {"black frame: the largest step", 10, 1.0, 0, 160, 1.0, 0},
      {"blinding: the largest step down", 800, 1.0, 1023 * 20, 50, 1.0, 0},
      {"dark at the longest exposure and highest gain: flash", kMaxLines, 16.0, kTarget / 2, kMaxLines, 16.0, 1},
      {"dark but with room left: no flash", kMaxLines, 8.0, kTarget / 2, kMaxLines, 16.0, 0},
      {"on target at the longest exposure: no flash", kMaxLines, 16.0, kTarget, kMaxLines, 16.0, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    IELFS* aec = Make<CBayroxAEC>();
    SetExposure(c.lines, c.gain);
    es.SetFlashNeeded(7);
    ASSERT_EQ(PVL_OK, aec->Configure());
    WbExpStatsDouble wb;
    FillMean(&wb, c.mean);
    ASSERT_EQ(PVL_OK, aec->OnStats(&wb));
    EXPECT_EQ(c.wantLines, Lines());
    EXPECT_NEAR(c.wantGain, Gain(), 1.0 / 64);
    const bool changed = c.lines != c.wantLines || c.gain != c.wantGain;
    EXPECT_EQ(changed, es.IsExposureChanged());
    uint8_t exposure = 0;
    es.GetAecFlagA(&exposure);
    EXPECT_EQ(changed ? kBayroxExposureMoving : kBayroxExposureSteady, exposure) << "what the focus plug-in sees";
    uint8_t flash = 0;
    es.GetFlashNeeded(&flash);
    EXPECT_EQ(c.wantFlash, flash);
    EXPECT_EQ(0, wb.refs.load());
  }
}

// After a change the statistics of the frame already running show the old
// exposure: correcting them again would overshoot. Statistics handled late
// can show it for longer; they are waited out, but not for ever.
TEST_F(BayroxTest, StatisticsOfTheOldExposureAreNotCorrectedAgain) {
  const struct {
    uint32_t frame;
    uint32_t mean;
    uint32_t wantLines;
    const char* why;
  } kSteps[] = {
      {10, 2 * kTarget, 200, "twice too bright: half the lines"},
      {11, 2 * kTarget, 200, "the frame running during the change"},
      {12, 2 * kTarget, 200, "late: still the old mean"},
      {13, 2 * kTarget, 200, "late: still the old mean"},
      {14, 2 * kTarget, 200, "late: still the old mean"},
      {15, 2 * kTarget, 100, "the change did not take: corrected again"},
      {16, 2 * kTarget, 100, "the frame running during the change"},
      {17, kTarget + kTarget / 2, 67, "the new exposure, still too bright"},
  };
  IELFS* aec = Make<CBayroxAEC>();
  SetExposure(400, 1.0);
  ASSERT_EQ(PVL_OK, aec->Configure());
  WbExpStatsDouble wb;
  for (const auto& s : kSteps) {
    FillMean(&wb, s.mean);
    wb.frame = s.frame;
    ASSERT_EQ(PVL_OK, aec->OnStats(&wb));
    EXPECT_EQ(s.wantLines, Lines()) << "frame " << s.frame << ": " << s.why;
  }
}

// A VFE restarted between two deliveries numbers its frames from 0 again:
// the loop must not wait for the old numbers to come back.
TEST_F(BayroxTest, ARestartedFrameCounterDoesNotStallTheLoop) {
  IELFS* aec = Make<CBayroxAEC>();
  SetExposure(400, 1.0);
  ASSERT_EQ(PVL_OK, aec->Configure());
  WbExpStatsDouble wb;
  FillMean(&wb, 2 * kTarget);
  wb.frame = 500;
  ASSERT_EQ(PVL_OK, aec->OnStats(&wb));
  ASSERT_EQ(200u, Lines());
  wb.frame = 0;
  ASSERT_EQ(PVL_OK, aec->OnStats(&wb));
  EXPECT_EQ(100u, Lines());
}

// Statistics of a VFE whose statistics are not configured yet: no exposure
// decision, but the pre-flash sequence still goes on.
TEST_F(BayroxTest, StatisticsWithoutPixelsChangeNothingButThePreFlashGoesOn) {
  IELFS* aec = Make<CBayroxAEC>();
  SetExposure(400, 1.0);
  ASSERT_EQ(PVL_OK, aec->Configure());
  tuningtest::ListenerDouble listener;
  es.SetPreSnapshotListener(&listener);
  es.SetPreSnapshotState(1);
  WbExpStatsDouble wb;
  wb.pixelsPerRegion = 0;
  EXPECT_EQ(PVL_OK, aec->OnStats(&wb));
  EXPECT_EQ(400u, Lines());
  EXPECT_FALSE(es.IsExposureChanged());
  EXPECT_EQ(10u, PreSnapshotState());
  EXPECT_EQ(1, listener.notified);
  es.SetPreSnapshotListener(nullptr);
}

// The statistics side of the engine's pre-flash sequence.
TEST_F(BayroxTest, PreFlashStatesFromTheExposurePlugin) {
  const struct {
    const char* name;
    uint32_t state;
    uint32_t flashWord;  // what the flash plug-in reported (1: LED lit)
    int deliveries;
    uint32_t wantState;
    int wantNotified;
  } kCases[] = {
      {"no pre-snapshot sequence", 0, 0, 3, 0, 0},
      {"metering without flash: done at once", 1, 0, 1, 10, 1},
      {"LED out after white balance: done", 4, 0, 1, 10, 1},
      {"LED asked for but not lit yet: waits", 6, 0, 5, 6, 0},
      {"LED lit, first lit frames still metering", 6, 1, 2, 6, 0},
      {"LED lit long enough: white balance's turn", 6, 1, 3, 8, 0},
      {"white balance deciding: left alone", 8, 1, 3, 8, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    IELFS* aec = Make<CBayroxAEC>();
    tuningtest::ListenerDouble listener;
    es.SetPreSnapshotListener(&listener);
    es.SetPreSnapshotState(c.state);
    es.SetFlashWord(c.flashWord);
    SetExposure(400, 1.0);
    ASSERT_EQ(PVL_OK, aec->Configure());
    WbExpStatsDouble wb;
    FillMean(&wb, kTarget);
    for (int i = 0; i < c.deliveries; ++i) {
      wb.frame = i;
      ASSERT_EQ(PVL_OK, aec->OnStats(&wb));
    }
    EXPECT_EQ(c.wantState, PreSnapshotState());
    EXPECT_EQ(c.wantNotified, listener.notified);
    es.SetPreSnapshotListener(nullptr);
  }
}

// The sensor and the VFE in a few lines: a chart of regions whose brightness
// is proportional to exposure and clips at full scale; an exposure written
// during frame n acts from frame n + 2 (the sensor latches it at the next
// frame start, and frame n + 1 has started already).
class ExposurePlant {
 public:
  ExposurePlant() {
    // Background, patches from black to white, a few highlights that clip first.
    for (uint32_t i = 0; i < kRegions; ++i) m_reflectance[i] = 0.02 + 0.9 * double((i * 37) % 97) / 96.0;
  }
  // Mean luma (what word 4 averages to) at an exposure in lines x gain.
  double Mean(double exposure) const {
    double sum = 0;
    for (double r : m_reflectance) sum += std::min(1023.0, m_scale * r * exposure);
    return sum / kRegions;
  }
  // The exposure that meets the target on this chart.
  double TargetExposure(double target) const {
    double lo = 1, hi = kMaxLines * 16.0;
    for (int i = 0; i < 60; ++i) {
      double mid = std::sqrt(lo * hi);
      (Mean(mid) < target ? lo : hi) = mid;
    }
    return lo;
  }
  void Fill(WbExpStatsDouble* wb, double exposure) const {
    for (uint32_t i = 0; i < kRegions; ++i)
      wb->regions[i].yAll = uint32_t(std::min(1023.0, m_scale * m_reflectance[i] * exposure)) * kQuads;
  }

 private:
  double m_reflectance[kRegions];
  double m_scale = 0.75;  // luma per unit reflectance per line at gain 1
};

// Exposure as the sensor takes it: whole lines, gain in 1/32 steps.
double SensorExposure(uint32_t lines, double gain) { return lines * std::floor(gain * 32) / 32; }

TEST_F(BayroxTest, ExposureConvergesWithinTenFramesFromEightTimesOff) {
  const ExposurePlant plant;
  const double good = plant.TargetExposure(kTarget);
  const struct {
    const char* name;
    double start;
  } kCases[] = {{"8x too dark", good / 8}, {"8x too bright", good * 8}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    IELFS* aec = Make<CBayroxAEC>();
    uint32_t lines = uint32_t(std::min<double>(c.start, kMaxLines));
    SetExposure(lines, c.start / lines);
    ASSERT_EQ(PVL_OK, aec->Configure());
    ASSERT_EQ(PVL_OK, aec->OnStartVideo(nullptr));
    std::deque<double> pipeline(2, SensorExposure(Lines(), Gain()));  // frames already started
    double mean = 0;
    int frame = 0;
    for (; frame < 10; ++frame) {
      double exposed = pipeline.front();
      pipeline.pop_front();
      mean = plant.Mean(exposed);
      WbExpStatsDouble wb;
      wb.frame = uint32_t(frame);
      plant.Fill(&wb, exposed);
      ASSERT_EQ(PVL_OK, aec->OnStats(&wb));
      // The engine applies a changed exposure at once; it reaches frame + 2.
      es.ClearExposureChanged();
      pipeline.push_back(SensorExposure(Lines(), Gain()));
    }
    // The frame that the last decision reaches.
    while (!pipeline.empty()) {
      mean = plant.Mean(pipeline.front());
      pipeline.pop_front();
    }
    EXPECT_NEAR(kTarget, mean, 0.08 * kTarget) << "after " << frame << " frames";
  }
}

}  // namespace
}  // namespace bayroxtest

namespace bayroxtest {
namespace {

// ---- The user's controls ---------------------------------------------------------------

// A line of 2000 clocks at 60 MHz: 33.3 us, so a 50 Hz half-period is 300
// lines and a 60 Hz one 250.
class AecControlsTest : public BayroxTest {
 public:
  void SetUp() override {
    BayroxTest::SetUp();
    sensor.geometry.Words[0] = 2000;
    sensor.timing.Words[2] = 60000000;
  }
  // A property as the engine's front end holds it, set as a client sets it:
  // mode 2 manual, 3 automatic.
  void Control(uint32_t id, int32_t value, uint32_t mode = 2, uint32_t type = PVL_VT_SINT32, int32_t second = 0) {
    auto record = [&](int32_t v) {
      PvlValueRecord r{};
      r.type = type;
      if (type == PVL_VT_PAIR) {
        r.payload.rational.numerator = uint32_t(v);
        r.payload.rational.denominator = uint32_t(second);
      } else {
        r.payload.i32 = v;
      }
      return r;
    };
    const PvlValueRecord low = record(-100000000), high = record(100000000), v = record(value);
    CPvlPropertyDesc d(id, "p", "d", &v, &low, &high, &v, &v, mode, 0, PVL_DESC_COPY_DEEP);
    ASSERT_EQ(PVL_OK, store->AddProperty(&d, 0, 0));
    PvlPropertyValueRecord set{};
    set.id = id;
    set.value = v;
    set.mode = mode;
    ASSERT_EQ(PVL_OK, store->SetProperties(&set, 1));
  }
  // The engine's (steps, 6) over its -600..600: 50 steps an EV.
  void Ev(int32_t sixths) { Control(ZUEUID_PROPERTY_EXPOSURE_COMPENSATION, sixths * 50, 2, PVL_VT_PAIR, 6); }
};

// Each control takes effect as the engine applies it (Configure), from an
// exposure of 400 lines at gain 1 (or 2 where the row says).
TEST_F(AecControlsTest, EachControlMovesTheExposureAtOnce) {
  const struct {
    const char* name;
    std::function<void(AecControlsTest*)> set;
    double startGain;
    uint32_t wantLines;
    double wantGain;
  } kCases[] = {
      {"+1 EV doubles the exposure", [](AecControlsTest* t) { t->Ev(6); }, 1.0, 800, 1.0},
      {"-2 EV quarters it", [](AecControlsTest* t) { t->Ev(-12); }, 1.0, 100, 1.0},
      {"+1/6 EV", [](AecControlsTest* t) { t->Ev(1); }, 1.0, 449, 1.0},
      {"ISO 800: gain 8, the lines take the rest",
       [](AecControlsTest* t) { t->Control(ZUEUID_PROPERTY_ISO_MODE, 800); }, 1.0, 50, 8.0},
      {"ISO 100: gain 1", [](AecControlsTest* t) { t->Control(ZUEUID_PROPERTY_ISO_MODE, 100); }, 2.0, 800, 1.0},
      {"ISO automatic: nothing changes", [](AecControlsTest* t) { t->Control(ZUEUID_PROPERTY_ISO_MODE, 800, 3); },
       1.0, 400, 1.0},
      {"antibanding 50 Hz: one half-period, the gain makes up the rest",
       [](AecControlsTest* t) { t->Control(ZUEUID_PROPERTY_ANTIBANDING_MODE, 50); }, 1.0, 300, 1.34375},
      {"antibanding 60 Hz: one half-period", [](AecControlsTest* t) { t->Control(ZUEUID_PROPERTY_ANTIBANDING_MODE, 60); },
       1.0, 250, 1.59375},
      {"antibanding 60 Hz: three half-periods", [](AecControlsTest* t) { t->Control(ZUEUID_PROPERTY_ANTIBANDING_MODE, 60); },
       2.0, 750, 1.0625},
      {"antibanding at a frequency that is no mains': off",
       [](AecControlsTest* t) { t->Control(ZUEUID_PROPERTY_ANTIBANDING_MODE, 45); }, 1.0, 400, 1.0},
      {"antibanding not set by hand: off",
       [](AecControlsTest* t) { t->Control(ZUEUID_PROPERTY_ANTIBANDING_MODE, 50, 0); }, 1.0, 400, 1.0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Ev(0);
    Control(ZUEUID_PROPERTY_ISO_MODE, 80, 3);
    Control(ZUEUID_PROPERTY_ANTIBANDING_MODE, 60, 0);
    IELFS* aec = Make<CBayroxAEC>();
    SetExposure(400, c.startGain);
    ASSERT_EQ(PVL_OK, aec->Configure());
    c.set(this);
    ASSERT_EQ(PVL_OK, aec->Configure());
    EXPECT_EQ(c.wantLines, Lines());
    EXPECT_NEAR(c.wantGain, Gain(), 1.0 / 64);
  }
}

// The loop steers the metered mean to the target under the compensation.
TEST_F(AecControlsTest, TheLoopHoldsTheCompensatedTarget) {
  IELFS* aec = Make<CBayroxAEC>();
  SetExposure(200, 1.0);
  Ev(6);
  ASSERT_EQ(PVL_OK, aec->Configure());
  ASSERT_EQ(400u, Lines());
  WbExpStatsDouble wb;
  FillMean(&wb, 2 * kTarget);
  ASSERT_EQ(PVL_OK, aec->OnStats(&wb));
  EXPECT_EQ(400u, Lines()) << "twice the target is on target at +1 EV";
  FillMean(&wb, kTarget);
  wb.frame = 10;
  ASSERT_EQ(PVL_OK, aec->OnStats(&wb));
  EXPECT_EQ(800u, Lines());
}

// A frame of mid-grey with one bright spot: the metering mode decides how much
// the spot counts.
TEST_F(AecControlsTest, MeteringWeighsTheRegions) {
  const struct {
    const char* name;
    uint32_t mode;
    uint32_t brightFirstRow, brightFirstColumn;  // a 2 x 2 block four times the target
    uint32_t wantLines;
  } kCases[] = {
      {"average: the spot hardly counts", 0, 7, 7, 381},
      {"centre-weighted: it counts more", 1, 7, 7, 367},
      {"spot: only it counts", 2, 7, 7, 100},
      {"spot in the middle misses a corner", 2, 0, 0, 400},
      {"top-left zone (rows 0-4, columns 0-3) meters the corner", 3, 0, 0, 250},
      {"bottom-right zone (rows 11-15, columns 9-12)", 11, 12, 10, 250},
      {"a mode the plug-in does not know: average", 12, 7, 7, 381},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    IELFS* aec = Make<CBayroxAEC>();
    Control(ZUEUID_PROPERTY_EXPOSURE_METERING_MODE, int32_t(c.mode), 2);
    SetExposure(400, 1.0);
    ASSERT_EQ(PVL_OK, aec->Configure());
    WbExpStatsDouble wb;
    FillMean(&wb, kTarget);
    for (uint32_t r = c.brightFirstRow; r < c.brightFirstRow + 2; ++r)
      for (uint32_t col = c.brightFirstColumn; col < c.brightFirstColumn + 2; ++col)
        wb.regions[r * 16 + col].yAll = 4 * kTarget * kQuads;
    ASSERT_EQ(PVL_OK, aec->OnStats(&wb));
    EXPECT_NEAR(double(c.wantLines), double(Lines()), 2.0);
  }
}

// A still with its own shutter time: the gain keeps the brightness, and the
// preview's exposure comes back when the still ends.
TEST_F(AecControlsTest, TheSnapshotShutterSpeedFixesTheStillsExposureTime) {
  const struct {
    const char* name;
    uint32_t mode;
    int32_t microseconds;
    uint32_t wantLines;
    double wantGain;
  } kCases[] = {
      {"20 ms by hand: 600 lines, gain 4/3", 2, 20000, 600, 1.34375},
      {"1 ms: 30 lines, the gain at its limit", 2, 1000, 30, 16.0},
      {"automatic: the preview's exposure", 3, 20000, 400, 2.0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    IELFS* aec = Make<CBayroxAEC>();
    Control(ZUEUID_PROPERTY_SNAPSHOT_SHUTTER_SPEED, c.microseconds, c.mode);
    SetExposure(400, 2.0);
    ASSERT_EQ(PVL_OK, aec->Configure());
    ASSERT_EQ(PVL_OK, aec->OnStartVideo(nullptr));
    SetExposure(400, 2.0);
    ASSERT_EQ(PVL_OK, aec->Configure());
    ASSERT_EQ(PVL_OK, aec->OnStartSnapshot(nullptr, nullptr));
    EXPECT_EQ(c.wantLines, Lines());
    EXPECT_NEAR(c.wantGain, Gain(), 1.0 / 64);
    ASSERT_EQ(PVL_OK, aec->OnStopSnapshot());
    EXPECT_EQ(400u, Lines());
    EXPECT_NEAR(2.0, Gain(), 1.0 / 64);
  }
}

// The first preview starts from the tuned exposure, under the compensation.
TEST_F(AecControlsTest, TheFirstPreviewStartsFromTheTunedExposure) {
  IELFS* aec = Make<CBayroxAEC>();
  SetExposure(900, 3.0);  // what the engine is built with
  Ev(-6);
  ASSERT_EQ(PVL_OK, aec->Configure());
  ASSERT_EQ(PVL_OK, aec->OnStartVideo(nullptr));
  EXPECT_EQ(200u, Lines());
  EXPECT_NEAR(1.0, Gain(), 1.0 / 64);
  SetExposure(333, 1.0);
  ASSERT_EQ(PVL_OK, aec->OnStartVideo(nullptr));
  EXPECT_EQ(333u, Lines()) << "a later preview keeps the loop's exposure";
}

}  // namespace
}  // namespace bayroxtest
