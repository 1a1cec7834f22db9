// Auto exposure: the decision from one delivery of statistics (exposure,
// flash-needed, the pre-flash sequence), then the loop closed over a small
// model of the sensor and the statistics that converges from 8x too dark and
// 8x too bright.
#include <algorithm>
#include <cmath>
#include <deque>

#include "bayroxrig.h"

namespace bayroxtest {
namespace {

constexpr uint32_t kTarget = 160;    // the default LumaTarget
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
