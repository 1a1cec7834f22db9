// Tuning access: the wrapper's codes for every way the source or the getter
// fails, and the light-range rule at its edges.
#include <gtest/gtest.h>

#include <stdexcept>

#include "cvfetuning.h"
#include "vfeconfigfixture.h"

namespace vfeconfigtest {
namespace {

// A tuning-parameter face whose trigger getter answers a set code; only the
// trigger and channel-gain getters are reached.
class TuningParamsDouble final : public ITuningParams {
 public:
  PvlResult answer = PVL_OK;
  bool throwOther = false;
  TuningTrigger trigger{1.0f, 4.0f, 100, 300};
  int refs = 0;
  int32_t AddRef() override { return ++refs; }
  int32_t Release() override { return --refs; }
  PvlResult QueryInterface(ZUEUID, void** out) override {
    if (out) *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }
#define NO_GETTER(Name, Type) \
  PvlResult Name(TuningParamId, Type*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetTrigger(TuningParamId, TuningTrigger* out) override {
    if (throwOther) throw std::runtime_error("not a camera failure");
    if (answer == PVL_OK) *out = trigger;
    return answer;
  }
  PvlResult GetVersion(uint32_t*) override { return PVL_E_UNSUPPORTED; }
  PvlResult SelectTuningData(ZUEUID) override { return PVL_E_UNSUPPORTED; }
  NO_GETTER(GetIntParam, int32_t)
  NO_GETTER(GetWordParam, uint32_t)
  NO_GETTER(GetBoolParam, uint8_t)
  PvlResult CalibrateWhiteBalance(float, float, float, float) override { return PVL_E_UNSUPPORTED; }
  NO_GETTER(GetModuleEnable, uint32_t)
  NO_GETTER(GetColorCorrMatrix, TuningColorCorrMatrix)
  NO_GETTER(GetColorConvMatrix, TuningColorConvMatrix)
  NO_GETTER(GetMwbGains, TuningMwbGains)
  NO_GETTER(GetChannelGains, TuningChannelGains)
  NO_GETTER(GetAwbStatConfig, TuningAwbStatConfig)
  NO_GETTER(GetAfWindow, TuningAfWindow)
  NO_GETTER(GetAfHpf, TuningAfHpf)
  NO_GETTER(GetGammaTable, TuningGammaTable)
  NO_GETTER(GetBlackLevelOffsets, TuningBlackLevelOffsets)
  NO_GETTER(GetBlackLevel4Channel, TuningBlackLevel4Channel)
  NO_GETTER(GetRolloffTable, TuningRolloffTable)
  NO_GETTER(GetRolloffMesh, TuningRolloffMesh)
  NO_GETTER(GetAsf3x3Filter, TuningAsf3x3Filter)
  NO_GETTER(GetAsf5x5Filter, TuningAsf5x5Filter)
  NO_GETTER(GetAsf5x5Setting, TuningAsf5x5Setting)
  NO_GETTER(GetAbfFilterData, TuningAbfFilterData)
  NO_GETTER(GetBpcThresholds, TuningBpcThresholds)
  NO_GETTER(GetChromaSupp, TuningChromaSupp)
#undef NO_GETTER
};

TuningParamsDouble g_params;
PvlResult g_sourceAnswer = PVL_OK;
bool g_sourceGivesNull = false;

PvlResult Source(ITuningParams** out) {
  *out = nullptr;
  if (g_sourceAnswer != PVL_OK) return g_sourceAnswer;
  if (!g_sourceGivesNull) {
    g_params.AddRef();
    *out = &g_params;
  }
  return PVL_OK;
}

struct AccessCase {
  const char* name;
  PvlResult source;
  bool sourceGivesNull;
  PvlResult getter;
  bool throwOther;
  PvlResult expected;
};
class VfeTuningAccessTest : public ::testing::TestWithParam<AccessCase> {};

TEST_P(VfeTuningAccessTest, TurnsEveryFailureIntoACode) {
  const AccessCase& c = GetParam();
  g_sourceAnswer = c.source;
  g_sourceGivesNull = c.sourceGivesNull;
  g_params.answer = c.getter;
  g_params.throwOther = c.throwOther;
  PvlResult r = 99;
  TuningTrigger t = CVfeTuning::GetValue(0x80500F01u, &r, Source);
  EXPECT_EQ(c.expected, r);
  if (r == PVL_OK) {
    EXPECT_EQ(300, t.LuxIndexEnd);
  }
  EXPECT_EQ(0, g_params.refs) << "the face is released on every path";
}

INSTANTIATE_TEST_SUITE_P(
    Paths, VfeTuningAccessTest,
    ::testing::Values(AccessCase{"Read", PVL_OK, false, PVL_OK, false, PVL_OK},
                      AccessCase{"NoService", PVL_E_NOTREADY, false, PVL_OK, false, PVL_E_NOTREADY},
                      // A source that succeeds without a face has nothing to read.
                      AccessCase{"NullFace", PVL_OK, true, PVL_OK, false, PVL_E_NOTREADY},
                      AccessCase{"UnknownIdentifier", PVL_OK, false, PVL_E_BADARG, false, PVL_E_BADARG},
                      AccessCase{"OtherException", PVL_OK, false, PVL_OK, true, PVL_E_FAIL}),
    CaseName<AccessCase>);

struct RatioCase {
  const char* name;
  uint32_t selector;
  uint32_t lux;
  double gain;
  TuningTrigger trigger;
  PvlResult result;
  float ratio;
};
using VfeTriggerTest = VfeBlockTableTest<RatioCase>;

TEST_P(VfeTriggerTest, PicksOrBlends) {
  const RatioCase& c = GetParam();
  settings_.aecIndex = c.lux;
  settings_.exposureGain = CFixedPoint(c.gain);
  float ratio = -1.0f;
  ASSERT_EQ(c.result, VfeTriggerRatio(&settings_, c.selector, c.trigger, &ratio));
  if (c.result == PVL_OK) {
    EXPECT_FLOAT_EQ(c.ratio, ratio);
  }
}

constexpr TuningTrigger kRange{1.0f, 4.0f, 100, 300};
constexpr TuningTrigger kPoint{1.0f, 1.0f, 200, 200};

INSTANTIATE_TEST_SUITE_P(
    Edges, VfeTriggerTest,
    ::testing::Values(RatioCase{"LuxAtStartTakesA", 0, 100, 1.0, kRange, PVL_OK, 0.0f},
                      RatioCase{"LuxAtEndTakesB", 0, 300, 1.0, kRange, PVL_OK, 1.0f},
                      RatioCase{"LuxOneBelowEndBlends", 0, 299, 1.0, kRange, PVL_OK, 199.0f / 200.0f},
                      RatioCase{"LuxAboveAPointTakesB", 0, 250, 1.0, kPoint, PVL_OK, 1.0f},
                      RatioCase{"GainAtStartTakesA", 1, 0, 1.0, kRange, PVL_OK, 0.0f},
                      RatioCase{"GainMidBlends", 1, 0, 2.5, kRange, PVL_OK, 0.5f},
                      RatioCase{"GainAboveEndTakesB", 1, 0, 8.0, kRange, PVL_OK, 1.0f},
                      RatioCase{"UnknownSelector", 2, 0, 1.0, kRange, PVL_E_NOTREPRESENTABLE, 0.0f}),
    CaseName<RatioCase>);

}  // namespace
}  // namespace vfeconfigtest
