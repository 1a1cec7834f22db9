// Auto focus: the hill climb closed over a model of the lens and the focus
// statistics (the lens driver's 27 codes a step, sharpness peaking at the
// scene's best-focus code), the wait for a moving exposure, the failed run on a
// scene without detail, and a run cancelled half-way.
#include <cmath>
#include <cstdlib>
#include <deque>
#include <functional>

#include "bayroxrig.h"
#include "icamerasensorservice.h"

namespace bayroxtest {
namespace {

constexpr int kCodesPerStep = 27;

class AfTest : public BayroxTest {
 protected:
  // The lens code after the moves the settings sent to the sensor since the last call.
  void FollowLens() {
    for (; m_seen < sensor.configured.size(); ++m_seen) {
      if (sensor.configured[m_seen] != ZUEUID_SENSOR_CONFIG_LENS_MOVE) continue;
      uint8_t reset = 0;
      uint32_t direction = 0, steps = 0;
      sip.GetLensReset(&reset);
      sip.GetLensMoveDirection(&direction);
      sip.GetLensMoveSteps(&steps);
      if (reset) {
        code = 0;
      } else {
        code += (direction == 0 ? 1 : -1) * kCodesPerStep * int(steps);
        code = std::max(0, std::min(1023, code));
      }
      ++moves;
    }
  }
  uint32_t FocusState() {
    uint32_t s = 0;
    sip.GetFocusState(&s);
    return s;
  }
  // Runs frames until the run ends or `frames` have passed: the statistics
  // of frame n show the lens as it was when frame n started, so a move
  // during frame n shows from frame n + 2.
  // `late` more frames of delay model a VFE whose statistics fall behind.
  // `travel`: the frame exposed while the lens moved shows it half-way.
  int Run(IELFS* af, double (*sharpness)(int code, int best), int best, int frames, int late = 0,
          bool travel = false) {
    std::deque<int> exposed(size_t(2 + late), code);
    int n = 0;
    for (; n < frames; ++n) {
      AfStatsDouble stats;
      stats.frame = uint32_t(n);
      stats.value = uint32_t(sharpness(exposed.front(), best) * brightness(n));
      if (exposureMovingFrames > 0) es.SetAecFlagA(n < exposureMovingFrames ? 1 : 2);
      exposed.pop_front();
      EXPECT_EQ(PVL_OK, af->OnStats(&stats));
      EXPECT_EQ(0, stats.refs.load());
      const int before = code;
      FollowLens();
      // The frame before the first that shows the new code was exposed during the move.
      if (travel && code != before && !exposed.empty()) exposed.back() = (before + code) / 2;
      exposed.push_back(code);
      if (FocusState() != 1 && FocusState() != 2) break;
    }
    return n;
  }

  int code = 700;
  // The exposure: the picture's brightness on frame n, and the frames during
  // which the exposure plug-in reports it moving (0: no exposure plug-in).
  std::function<double(int)> brightness = [](int) { return 1.0; };
  int exposureMovingFrames = 0;
  int moves = 0;
  size_t m_seen = 0;
};

// The fine detail's contrast 1 / (1 + |code - best| / 64) over the rest of the scene.
double Detail(int code, int best) { return 20000.0 + 80000.0 / (1.0 + std::abs(code - best) / 64.0); }
double NoDetail(int, int) { return 0; }

TEST_F(AfTest, TheClimbEndsAtTheBestFocusAndTellsTheListener) {
  const struct {
    const char* name;
    int start, best;
    uint32_t request;  // focus state the engine set: 1 single, 2 continuous
    int late;          // frames the statistics lag beyond the expected one
    bool travel = false;  // a frame exposed while the lens moved shows it half-way
  } kCases[] = {
      {"the board's chart", 700, 400, 1, 0},
      {"near subject", 0, 900, 1, 0},
      {"far subject", 1023, 150, 1, 0},
      {"continuous request", 300, 400, 2, 0},
      {"statistics two frames late", 700, 400, 1, 2},
      {"statistics three frames late, near subject", 0, 900, 1, 3},
      {"frames exposed while the lens travelled", 700, 400, 1, 0, true},
      {"frames exposed while the lens travelled, statistics a frame late", 1023, 150, 1, 1, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    IELFS* af = Make<CBayroxAF>();
    ASSERT_EQ(PVL_OK, af->OnStartVideo(nullptr));
    code = c.start;
    tuningtest::ListenerDouble listener;
    sip.SetFocusListener(&listener);
    ASSERT_EQ(PVL_OK, sip.SetFocusState(c.request));
    Run(af, &Detail, c.best, 300, c.late, c.travel);
    EXPECT_EQ(3u, FocusState());
    EXPECT_NEAR(c.best, code, 16);
    EXPECT_EQ(1, listener.notified);
    // The run is over: further statistics leave the lens alone.
    const int movesAfter = moves;
    AfStatsDouble stats;
    stats.frame = 1000;
    ASSERT_EQ(PVL_OK, af->OnStats(&stats));
    FollowLens();
    EXPECT_EQ(movesAfter, moves);
    sip.SetFocusListener(nullptr);
  }
}

// A subject mid-travel, from any start: the run homes, sweeps past the peak
// and closes in on it within a second at 30 frames a second.
TEST_F(AfTest, ARunOnASubjectMidTravelEndsWithinThirtyFrames) {
  for (int start : {0, 400, 700, 1023}) {
    SCOPED_TRACE("from lens code " + std::to_string(start));
    IELFS* af = Make<CBayroxAF>();
    ASSERT_EQ(PVL_OK, af->OnStartVideo(nullptr));
    code = start;
    ASSERT_EQ(PVL_OK, sip.SetFocusState(1));
    const int frames = Run(af, &Detail, 400, 300);
    EXPECT_EQ(3u, FocusState());
    EXPECT_NEAR(400, code, 16);
    EXPECT_LE(frames, 30);
  }
}

// Sharpness follows brightness: a run asked for as the preview starts, while the
// exposure still comes down from too bright, waits at home until the exposure
// holds (at most a second) and then climbs to the best focus.
TEST_F(AfTest, ARunWaitsForTheExposureToHold) {
  const struct {
    const char* name;
    int movingFrames;
    bool settles;  // the brightness falls to its resting value while moving
  } kCases[] = {
      {"exposure settling over the first twelve frames", 12, true},
      {"exposure reported moving for ever", 300, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    IELFS* af = Make<CBayroxAF>();
    ASSERT_EQ(PVL_OK, af->OnStartVideo(nullptr));
    code = 700;
    exposureMovingFrames = c.movingFrames;
    const bool settles = c.settles;
    brightness = [settles](int n) { return settles && n < 12 ? 1.0 + 2.0 * std::pow(0.7, n) : 1.0; };
    ASSERT_EQ(PVL_OK, sip.SetFocusState(1));
    Run(af, &Detail, 400, 300);
    EXPECT_EQ(3u, FocusState());
    EXPECT_NEAR(400, code, 16);
  }
}

TEST_F(AfTest, ASceneWithoutDetailFailsTheRun) {
  IELFS* af = Make<CBayroxAF>();
  tuningtest::ListenerDouble listener;
  sip.SetFocusListener(&listener);
  ASSERT_EQ(PVL_OK, sip.SetFocusState(1));
  Run(af, &NoDetail, 400, 300);
  EXPECT_EQ(4u, FocusState());
  EXPECT_EQ(1, listener.notified);
  sip.SetFocusListener(nullptr);
}

TEST_F(AfTest, NoRunNoMoves) {
  IELFS* af = Make<CBayroxAF>();
  Run(af, &Detail, 400, 10);
  EXPECT_EQ(0, moves);
}

TEST_F(AfTest, ACancelledRunStopsMovingTheLens) {
  IELFS* af = Make<CBayroxAF>();
  ASSERT_EQ(PVL_OK, sip.SetFocusState(1));
  Run(af, &Detail, 900, 6);
  ASSERT_GT(moves, 0);
  ASSERT_EQ(PVL_OK, sip.SetFocusState(0));  // the engine's StopFocus
  const int movesAtCancel = moves;
  Run(af, &Detail, 900, 10);
  EXPECT_EQ(movesAtCancel, moves);
  // A new request starts from home again.
  ASSERT_EQ(PVL_OK, sip.SetFocusState(1));
  Run(af, &Detail, 400, 300);
  EXPECT_EQ(3u, FocusState());
  EXPECT_NEAR(400, code, 16);
}

}  // namespace
}  // namespace bayroxtest
