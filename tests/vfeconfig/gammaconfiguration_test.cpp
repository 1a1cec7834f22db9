// Gamma: packing 1024 points into value-and-step entries, the contrast
// S-curve and the brightness shift, the brightness ladder between the bright,
// normal and low-light curves (both blends), solarize, and a still with luma
// adaptation keeping the preview's curve.
#include <gtest/gtest.h>

#include <array>

#include "cruntimetuning.h"
#include "vfeconfigfixture.h"

namespace vfeconfigtest {
namespace {

uint8_t Value(int16_t entry) { return static_cast<uint8_t>(entry & 0xFF); }
int8_t Step(int16_t entry) { return static_cast<int8_t>(static_cast<uint16_t>(entry) >> 8); }

void Ramp(TuningGammaStored* t) {
  for (uint32_t j = 0; j < 1024; ++j) t->Table[j] = static_cast<uint8_t>(j / 4);
}
void Flat(TuningGammaStored* t, uint8_t v) {
  for (uint8_t& b : t->Table) b = v;
}

TEST(GammaPackTest, ARampPacksToValueAndStepOne) {
  TuningGammaStored ramp{};
  Ramp(&ramp);
  int16_t entries[256];
  CGammaConfiguration::Pack(ramp.Table, entries);
  for (int i = 0; i < 255; ++i) ASSERT_EQ(i + 256, entries[i]) << "entry " << i;
  EXPECT_EQ(255, entries[255]);
}

TEST(GammaPackTest, AFallingCurveGetsNegativeSteps) {
  uint8_t points[1024];
  for (uint32_t j = 0; j < 1024; ++j) points[j] = static_cast<uint8_t>(255 - j / 4);
  int16_t entries[256];
  CGammaConfiguration::Pack(points, entries);
  EXPECT_EQ(255, Value(entries[0]));
  EXPECT_EQ(-1, Step(entries[0]));
  EXPECT_EQ(0, Step(entries[255]));
}

struct CurveCase {
  const char* name;
  int32_t contrast, brightness;
  uint8_t in;
  uint8_t out;
  float gamma = 1.0f;  // the user's, bent in before the contrast
};

// On a ramp curve: entry i has the value i.
const CurveCase kCurveCases[] = {
    {"Contrast100LeavesTheCurve", 100, 0, 64, 64},
    {"Contrast200DarkensShadows", 200, 0, 64, 32},
    {"Contrast200LiftsHighlights", 200, 0, 191, 222},
    {"Contrast200KeepsBlack", 200, 0, 0, 0},
    {"Contrast200KeepsWhite", 200, 0, 255, 255},
    {"Contrast50LiftsShadows", 50, 0, 64, 90},
    {"ContrastZeroStaysInRange", 0, 0, 10, 127},
    {"Brightness1000Adds10", 100, 1000, 64, 74},
    {"Brightness1000ClampsAt255", 100, 1000, 250, 255},
    {"BrightnessMinus550Subtracts5", 100, -550, 64, 59},
    {"BrightnessMinus550ClampsAt0", 100, -550, 3, 0},
    {"Gamma2LiftsMidTones", 100, 0, 64, 127, 2.0f},
    {"GammaHalfDarkensMidTones", 100, 0, 128, 64, 0.5f},
    {"Gamma2KeepsBlack", 100, 0, 0, 0, 2.0f},
    {"Gamma2KeepsWhite", 100, 0, 255, 255, 2.0f},
    {"GammaZeroKeepsTheCurve", 100, 0, 64, 64, 0.0f},
    {"Gamma2ThenContrast200", 200, 0, 64, 126, 2.0f},  // 127 from the gamma, then bent
};

class GammaCurveTest : public ::testing::TestWithParam<CurveCase> {};

TEST_P(GammaCurveTest, BendsAndShifts) {
  const CurveCase& c = GetParam();
  TuningGammaStored ramp{};
  Ramp(&ramp);
  int16_t entries[256];
  CGammaConfiguration::Pack(ramp.Table, entries);
  CGammaConfiguration::ApplyGamma(entries, c.gamma);
  CGammaConfiguration::ApplyContrast(entries, c.contrast);
  CGammaConfiguration::ApplyBrightness(entries, c.brightness);
  EXPECT_EQ(c.out, Value(entries[c.in]));
  if (c.in < 255 && c.brightness == 0) {
    EXPECT_EQ(Value(entries[c.in + 1]) - Value(entries[c.in]), Step(entries[c.in])) << "step to the next";
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, GammaCurveTest, ::testing::ValuesIn(kCurveCases), CaseName<CurveCase>);

TEST(GammaCurveShiftTest, BrightnessKeepsTheSteps) {
  TuningGammaStored ramp{};
  Ramp(&ramp);
  int16_t entries[256];
  CGammaConfiguration::Pack(ramp.Table, entries);
  CGammaConfiguration::ApplyBrightness(entries, 1000);
  EXPECT_EQ(1, Step(entries[100]));
}

// The ladder: bright up to gain 1.0, blend to 2.0, normal to 4.0, blend to
// 8.0, low light beyond (lux index: bright to 100, blend to 300, normal to
// 400, blend to 600). Curves are flat: bright 200, normal 100, low 50.
struct LadderCase {
  const char* name;
  uint8_t selector;
  double gain;
  uint32_t lux;
  uint32_t settled;
  uint8_t dark;
  uint8_t value;
};

const LadderCase kLadderCases[] = {
    {"GainBrightest", 1, 1.0, 0, 0, 0, 200},
    {"GainBetweenBrightAndNormalBlends", 1, 1.5, 0, 0, 0, 150},
    {"GainAtBrightStartIsNormal", 1, 2.0, 0, 0, 0, 100},
    {"GainNormal", 1, 3.0, 0, 0, 0, 100},
    {"GainBetweenNormalAndLowBlends", 1, 6.0, 0, 0, 0, 75},
    {"GainLowLight", 1, 10.0, 0, 0, 0, 50},
    {"LuxBrightest", 0, 1.0, 50, 0, 0, 200},
    {"LuxBetweenBrightAndNormalBlends", 0, 1.0, 200, 0, 0, 150},
    {"LuxNormal", 0, 1.0, 400, 0, 0, 100},
    {"LuxBetweenNormalAndLowBlends", 0, 1.0, 500, 0, 0, 75},
    {"LuxLowLight", 0, 1.0, 600, 0, 0, 50},
    {"SettledExposureKeepsTheNormalCurve", 1, 10.0, 0, 25, 0, 100},
    {"DarkSceneRunsTheLadder", 1, 10.0, 0, 25, 1, 50},
    {"UnsettledExposureRunsTheLadder", 1, 10.0, 0, 10, 0, 50},
};

class GammaLadderTest : public VfeBlockTableTest<LadderCase> {};

TEST_P(GammaLadderTest, ChoosesTheCurveByBrightness) {
  const LadderCase& c = GetParam();
  TuningParameterBlock& t = Tuning();
  t.GammaControl = c.selector;
  t.GammaPreviewOutdoorTrigger = {2.0f, 1.0f, 300, 100};
  t.GammaPreviewLowLightTrigger = {4.0f, 8.0f, 400, 600};
  Flat(&t.GammaPreview[0], 100);
  Flat(&t.GammaPreview[1], 50);
  Flat(&t.GammaPreview[2], 200);
  ASSERT_EQ(PVL_OK, LoadTuning());
  settings_.exposureGain = CFixedPoint(c.gain);
  settings_.aecIndex = c.lux;
  settings_.aecSettled = c.settled;
  settings_.aecDark = c.dark;
  settings_.contrast.Value = 100;
  settings_.brightness.Value = 0;
  ASSERT_EQ(PVL_OK, service_->gamma->Configure(&settings_, VfeChain::Video));
  const VfeGammaCmd& p = service_->gamma->GetPayload();
  EXPECT_EQ(1, p.enable);
  EXPECT_EQ(6u, p.channels);
  EXPECT_EQ(c.value, Value(p.table[0]));
  EXPECT_EQ(c.value, Value(p.table[255]));
}

INSTANTIATE_TEST_SUITE_P(Cases, GammaLadderTest, ::testing::ValuesIn(kLadderCases), CaseName<LadderCase>);

// The gain meets the triggers in Q12: a trigger end of 0.99999 is 1.0 there, so
// gain 1.0 is bright, not a blend that truncates the bright curve to 199; a
// low-light start of 3.99999 is 4.0, so gain 4.0 keeps the normal curve.
TEST_F(GammaLadderTest, TheGainMeetsTheTriggersInFixedPoint) {
  struct Case {
    const char* name;
    double gain;
    uint8_t value;
  } cases[] = {{"AtTheBrightEnd", 1.0, 200}, {"AtTheLowLightStart", 4.0, 100}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TuningParameterBlock& t = Tuning();
    t.GammaControl = 1;
    t.GammaPreviewOutdoorTrigger = {2.0f, 0.99999f, 300, 100};
    t.GammaPreviewLowLightTrigger = {3.99999f, 8.0f, 400, 600};
    Flat(&t.GammaPreview[0], 100);
    Flat(&t.GammaPreview[1], 50);
    Flat(&t.GammaPreview[2], 200);
    ASSERT_EQ(PVL_OK, LoadTuning());
    settings_.exposureGain = CFixedPoint(c.gain);
    settings_.aecSettled = 0;
    settings_.contrast.Value = 100;
    settings_.brightness.Value = 0;
    ASSERT_EQ(PVL_OK, service_->gamma->Configure(&settings_, VfeChain::Video));
    EXPECT_EQ(c.value, Value(service_->gamma->GetPayload().table[128]));
  }
}

class GammaTest : public VfeBlockTest {
 protected:
  void SetUp() override {
    VfeBlockTest::SetUp();
    TuningParameterBlock& t = Tuning();
    Ramp(&t.GammaPreview[0]);
    Ramp(&t.GammaSnapshot[0]);
    t.GammaSolarizeReflection = 128;
    ASSERT_EQ(PVL_OK, LoadTuning());
    settings_.contrast.Value = 100;
    settings_.brightness.Value = 0;
  }
  const VfeGammaCmd& Payload() { return service_->gamma->GetPayload(); }
};

TEST_F(GammaTest, SwitchedOffSendsThePackedNormalCurveDisabled) {
  service_->gamma->Enable().value = 0;
  settings_.contrast.Value = 200;
  ASSERT_EQ(PVL_OK, service_->gamma->Configure(&settings_, VfeChain::Video));
  EXPECT_EQ(0, Payload().enable);
  EXPECT_EQ(6u, Payload().channels);
  EXPECT_EQ(64 + 256, Payload().table[64]);
}

TEST_F(GammaTest, SolarizeReflectsTheUpperCurveAndSkipsTheContrast) {
  settings_.effectMode = 1;
  settings_.effect = 4;
  settings_.contrast.Value = 200;
  ASSERT_EQ(PVL_OK, service_->gamma->Configure(&settings_, VfeChain::Video));
  // K = T(511) = 127; T(512) = (255 - 128) x 127 / 128 = 126.
  EXPECT_EQ(126, Value(Payload().table[128]));
  EXPECT_EQ(64, Value(Payload().table[64])) << "no contrast on a solarized curve";
  EXPECT_TRUE(service_->gamma->IsSolarized());
}

TEST_F(GammaTest, ContrastReturnsOnceTheSolarizeEffectEnds) {
  settings_.effectMode = 1;
  settings_.effect = 4;
  settings_.contrast.Value = 200;
  ASSERT_EQ(PVL_OK, service_->gamma->Configure(&settings_, VfeChain::Video));
  settings_.effectMode = 0;
  settings_.effect = 0;
  ASSERT_EQ(PVL_OK, service_->gamma->Configure(&settings_, VfeChain::Runtime));
  EXPECT_FALSE(service_->gamma->IsSolarized());
  EXPECT_EQ(32, Value(Payload().table[64]));
}

TEST_F(GammaTest, ASolarizePointOutsideTheCurveKeepsTheTunedCurve) {
  ServedTuningTable().Block.GammaSolarizeReflection = 0;
  ASSERT_EQ(PVL_OK, LoadTuning());
  settings_.effectMode = 1;
  settings_.effect = 4;
  ASSERT_EQ(PVL_OK, service_->gamma->Configure(&settings_, VfeChain::Video));
  EXPECT_EQ(200, Value(Payload().table[200]));
  EXPECT_FALSE(service_->gamma->IsSolarized());
}

TEST_F(GammaTest, AWhiteKneeKeepsTheTunedCurve) {
  Flat(&ServedTuningTable().Block.GammaPreview[0], 255);
  ASSERT_EQ(PVL_OK, LoadTuning());
  settings_.effectMode = 1;
  settings_.effect = 4;
  ASSERT_EQ(PVL_OK, service_->gamma->Configure(&settings_, VfeChain::Video));
  EXPECT_EQ(255, Value(Payload().table[200]));
}

TEST_F(GammaTest, AStillWithLumaAdaptationSendsThePreviewsCurveUnbentAgain) {
  settings_.contrast.Value = 200;
  settings_.brightness.Value = 1000;
  ASSERT_EQ(PVL_OK, service_->gamma->Configure(&settings_, VfeChain::Video));
  const std::vector<uint8_t> preview = Bytes(Payload());
  ASSERT_EQ(42, Value(Payload().table[64]));  // 32 + 10
  settings_.lumaAdaptationMode = 1;
  ASSERT_EQ(PVL_OK, service_->gamma->Configure(&settings_, VfeChain::Snapshot));
  EXPECT_EQ(preview, Bytes(Payload())) << "contrast and brightness applied once";
}

TEST_F(GammaTest, AStillWithoutLumaAdaptationComputesItsOwnCurve) {
  Flat(&ServedTuningTable().Block.GammaSnapshot[0], 77);
  ASSERT_EQ(PVL_OK, LoadTuning());
  ASSERT_EQ(PVL_OK, service_->gamma->Configure(&settings_, VfeChain::Video));
  ASSERT_EQ(PVL_OK, service_->gamma->Configure(&settings_, VfeChain::Snapshot));
  EXPECT_EQ(77, Value(Payload().table[10]));
}

TEST_F(GammaTest, AStillWithLumaAdaptationButNoPreviewCurveComputesOne) {
  settings_.lumaAdaptationMode = 1;
  ASSERT_EQ(PVL_OK, service_->gamma->Configure(&settings_, VfeChain::Snapshot));
  EXPECT_EQ(6u, Payload().channels);
  EXPECT_EQ(64, Value(Payload().table[64]));
}

// The tool writes a switch as one u16: 257 turns it on and marks it changed,
// which makes the next update-all recompute the curve; 0 turns it off quietly.
TEST_F(GammaTest, TheToolWritesTheSwitchesWithTheirMarkers) {
  CRuntimeTuning* registry = nullptr;
  ASSERT_EQ(PVL_OK, CRuntimeTuning::New(env_.Get(), &registry));
  CGammaConfiguration* block = nullptr;
  service_->registry = registry;
  ASSERT_EQ(PVL_OK, CGammaConfiguration::Create(service_, &block));
  service_->registry = nullptr;
  ASSERT_EQ(2u, registry->ItemCount());
  EXPECT_EQ(std::string("Gamma-Enable"), registry->Item(0)->name);
  EXPECT_EQ(std::string("Gamma-ControlEnable"), registry->Item(1)->name);
  ASSERT_EQ(PVL_OK, registry->Face()->SetValue(0, 0, "0"));
  EXPECT_EQ(0, block->Enable().value);
  EXPECT_FALSE(block->HasTuningChanged());
  ASSERT_EQ(PVL_OK, registry->Face()->SetValue(0, 0, "257"));
  EXPECT_EQ(1, block->Enable().value);
  EXPECT_TRUE(block->HasTuningChanged());
  static_cast<IVfeConfiguration*>(block)->Release();
  registry->Release();
}

TEST_F(GammaTest, FailuresEndWithTheirCodes) {
  settings_.fail["GetContrast"] = 29;
  EXPECT_EQ(29, service_->gamma->Configure(&settings_, VfeChain::Video));
  settings_.fail.clear();
  settings_.fail["GetAecPair"] = 20;
  EXPECT_EQ(20, service_->gamma->Configure(&settings_, VfeChain::Video));
  UnloadTuning();
  EXPECT_EQ(PVL_E_NOTREADY, service_->gamma->Configure(&settings_, VfeChain::Video));
}

TEST_F(GammaTest, UpdateSendsCommand35WithTheWholePayload) {
  ASSERT_EQ(PVL_OK, service_->gamma->Configure(&settings_, VfeChain::Runtime));
  ASSERT_EQ(PVL_OK, service_->gamma->SendUpdate());
  ASSERT_EQ(1u, service_->sent.size());
  EXPECT_EQ(VFE_CMD_GAMMA_UPDATE, service_->sent[0].command);
  EXPECT_EQ(520u, service_->sent[0].payload.size());
}

}  // namespace
}  // namespace vfeconfigtest
