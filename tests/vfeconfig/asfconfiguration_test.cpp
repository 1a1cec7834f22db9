// Adaptive spatial filter: the setting chosen or blended by lux and gain, the
// soft-focus bytes, the sharpening scaled by the user's sharpness and the
// downscale ratio, the kernels as Q4 bytes, the snapshot variant's choices,
// the threshold check, its failures and the 32-byte update.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "orbhost_test.h"
#include "tunedblockfixture.h"

namespace vfeconfigtest {
namespace {

constexpr uint8_t kDefaults[40] = {1,    0,    2,    0x60, 4,    0,    8,    8,    0x14, 0x28, 0xDD, 0x28, 0xDD, 0xFE,
                                   0xFA, 0x10, 0xFE, 0xFA, 0x10, 0xFE, 0xFA, 0x10, 0xFE, 0xFE, 0xFE, 0xFA, 0xFA, 0xFA,
                                   0x10, 0x10, 0x10, 0,    0,    0,    0,    0,    0,    0,    0,    0};

TuningAsf5x5Setting Setting(int16_t e1, int16_t e2, int16_t e3, int16_t e4, int16_t e5, float a1, float a2,
                            uint8_t degree) {
  TuningAsf5x5Setting s{};
  s.LowThresh = e1;
  s.UpThresh = e2;
  s.NegThresh = e3;
  s.UpThreshF2 = e4;
  s.NegThreshF2 = e5;
  s.SharpAmtF1 = a1;
  s.SharpAmtF2 = a2;
  s.SmoothPct = degree;
  return s;
}

TuningAsf5x5Filter Filter(int16_t first1, float scale1, int16_t first2, float scale2) {
  TuningAsf5x5Filter f{};
  f.Normal1 = scale1;
  f.Normal2 = scale2;
  for (int row = 0; row < 5; ++row)
    for (int col = 0; col < 5; ++col) {
      // Values outside the top-left 3 x 3 must never reach the payload.
      const bool used = row < 3 && col < 3;
      f.Filter1[row * 5 + col] = used ? static_cast<int16_t>(first1 - row * 3 - col) : 77;
      f.Filter2[row * 5 + col] = used ? static_cast<int16_t>(first2 + row * 3 + col) : 77;
    }
  return f;
}

class AsfFixture : public TunedBlockFixture {
 public:
  void SetUpAsf() {
    BlockTuningDouble& t = tuning_double_;
    t.enables[0x80800F00] = 0;
    t.triggers[0x80800F02] = {2.0f, 1.0f, 150, 100};  // bright: at and below the end
    t.triggers[0x80800F01] = {4.0f, 8.0f, 300, 400};  // low light: at and above the end
    t.asfSettings[0x80800203] = Setting(10, 20, -30, 25, -35, 1.0f, 2.0f, 100);
    t.asfSettings[0x80800202] = Setting(20, 40, -40, 40, -40, 2.0f, 4.0f, 50);
    t.asfSettings[0x80800201] = Setting(30, 60, -50, 60, -50, 3.0f, 6.0f, 0);
    t.asfSettings[0x80800103] = Setting(11, 21, -31, 26, -36, 1.0f, 2.0f, 100);
    t.asfSettings[0x80800102] = Setting(21, 41, -41, 41, -41, 2.0f, 4.0f, 50);
    t.asfSettings[0x80800101] = Setting(31, 61, -51, 61, -51, 3.0f, 6.0f, 0);
    t.asfFilters[0x80800200] = Filter(9, 1.0f, 4, 0.5f);
    t.asfFilters[0x80800100] = Filter(5, 1.0f, 2, 1.0f);
    t.SetFloatWord(0x80700F03, 0.5f);
    t.SetFloatWord(0x80700F04, 4.0f);
    t.SetFloatWord(0x80700100, 1.0f);
    t.SetFloatWord(0x80800F03, 0.5f);
    t.SetFloatWord(0x80800F04, 4.0f);
    t.SetFloatWord(0x80800001, 1.0f);
    Output1(320, 240);
    Window(320);
  }
  void Window(uint16_t width) {
    service_->crop->GetPayload().firstPixel = 0;
    service_->crop->GetPayload().lastPixel = static_cast<uint16_t>(width - 1);
  }
  void Output2(uint32_t width) {
    service_->out2.enabled = true;
    service_->out2.size = {width, width * 3 / 4};
  }
  VfeServiceDouble* Service() { return service_; }
  CASFConfiguration* Block() { return service_->asf; }
  const uint8_t* Bytes() { return reinterpret_cast<const uint8_t*>(&Block()->GetPayload()); }
};

struct AsfCase {
  const char* name;
  void (*setUp)(AsfFixture*, BlockTuningDouble*, VfeSettingsDouble*);
  VfeChain chain;
  std::vector<std::pair<int, int>> bytes;  // payload offset, expected byte
};

class AsfCaseTest : public ::testing::TestWithParam<AsfCase>, public AsfFixture {
 protected:
  void SetUp() override {
    SetUpTuned();
    SetUpAsf();
  }
  void TearDown() override { TearDownTuned(); }
};

TEST_P(AsfCaseTest, ComputesThePayload) {
  const AsfCase& c = GetParam();
  settings_.aecIndex = 200;
  if (c.setUp) c.setUp(this, &tuning_double_, &settings_);
  ASSERT_EQ(PVL_OK, Block()->Configure(&settings_, c.chain));
  for (const auto& [offset, value] : c.bytes)
    EXPECT_EQ(value, Bytes()[offset]) << "payload byte " << offset;
}

// The normal setting at lux 200: E 20, 40, -40, 40, -40; amounts 2 and 4 (Q3
// 16 and 32); degree 50 (bytes 72, 7).
const std::vector<std::pair<int, int>> kNormal = {{0, 1}, {1, 1}, {2, 2}, {3, 72}, {4, 7}, {5, 0}, {6, 16}, {7, 32},
                                                  {8, 20}, {9, 40}, {10, 0xD8}, {11, 40}, {12, 0xD8}, {31, 0}};

INSTANTIATE_TEST_SUITE_P(
    Settings, AsfCaseTest,
    ::testing::Values(
        AsfCase{"LuxBetweenTheTriggersTakesTheNormalSetting", nullptr, VfeChain::Video, kNormal},
        AsfCase{"LuxAtTheBrightEndTakesTheBrightSetting",
                [](AsfFixture*, BlockTuningDouble*, VfeSettingsDouble* s) { s->aecIndex = 100; }, VfeChain::Video,
                {{3, 16}, {4, 14}, {6, 8}, {7, 16}, {8, 10}, {9, 20}, {10, 0xE2}, {11, 25}, {12, 0xDD}}},
        AsfCase{"LuxAtTheBrightStartTakesTheNormalSetting",
                [](AsfFixture*, BlockTuningDouble*, VfeSettingsDouble* s) { s->aecIndex = 150; }, VfeChain::Video,
                kNormal},
        AsfCase{"LuxHalfWayIntoLowLightBlends",
                [](AsfFixture*, BlockTuningDouble*, VfeSettingsDouble* s) { s->aecIndex = 350; }, VfeChain::Video,
                // E 25, 50, -45, 50, -45; amounts 2.5 and 5 (Q3 20, 40); degree 25: k = 10 (96, 4)
                {{3, 96}, {4, 4}, {6, 20}, {7, 40}, {8, 25}, {9, 50}, {10, 0xD3}, {11, 50}, {12, 0xD3}}},
        AsfCase{"LuxAtTheLowLightEndTakesTheLowLightSetting",
                [](AsfFixture*, BlockTuningDouble*, VfeSettingsDouble* s) { s->aecIndex = 400; }, VfeChain::Video,
                {{3, 128}, {4, 0}, {6, 24}, {7, 48}, {8, 30}, {9, 60}, {10, 0xCE}}},
        AsfCase{"GainAtTheBrightEndTakesTheBrightSettingExactly",
                [](AsfFixture*, BlockTuningDouble* t, VfeSettingsDouble* s) {
                  t->enables[0x80800F00] = 1;
                  s->exposureGain = CFixedPoint(1.0);
                },
                VfeChain::Video, {{3, 16}, {4, 14}, {6, 8}, {8, 10}}},
        AsfCase{"GainAtTheBrightStartTakesTheNormalSetting",
                [](AsfFixture*, BlockTuningDouble* t, VfeSettingsDouble* s) {
                  t->enables[0x80800F00] = 1;
                  s->exposureGain = CFixedPoint(2.0);
                },
                VfeChain::Video, kNormal},
        AsfCase{"GainHalfWayFromBrightBlendsTowardZeroOnTheThresholds",
                [](AsfFixture*, BlockTuningDouble* t, VfeSettingsDouble* s) {
                  t->enables[0x80800F00] = 1;
                  s->exposureGain = CFixedPoint(1.5);
                },
                // E 15, 30, -35, 32.5 -> 32, -37.5 -> -37; amounts 1.5 and 3 (12, 24); degree 75: k = 3 (40, 11)
                VfeChain::Video,
                {{3, 40}, {4, 11}, {6, 12}, {7, 24}, {8, 15}, {9, 30}, {10, 0xDD}, {11, 32}, {12, 0xDB}}},
        AsfCase{"KernelsAreTheTopLeftThreeByThreeTimesTheirScaleInQ4", nullptr, VfeChain::Video,
                // Filter 1: 9, 8, 7 / 6, 5, 4 / 3, 2, 1 (x 16); filter 2: 4..12 x 0.5 (x 16)
                {{13, 0x90}, {14, 0x80}, {15, 0x70}, {16, 0x60}, {17, 0x50}, {18, 0x40}, {19, 0x30}, {20, 0x20},
                 {21, 0x10}, {22, 32}, {23, 40}, {24, 48}, {25, 56}, {26, 64}, {27, 72}, {28, 80}, {29, 88},
                 {30, 96}}},
        AsfCase{"FullSharpnessDoublesTheAmounts",
                [](AsfFixture*, BlockTuningDouble*, VfeSettingsDouble* s) { s->sharpness.Value = 10; },
                VfeChain::Video, {{6, 32}, {7, 64}}},
        AsfCase{"LeastSharpnessHalvesTheAmounts",
                [](AsfFixture*, BlockTuningDouble*, VfeSettingsDouble* s) { s->sharpness.Value = 0; },
                VfeChain::Video, {{6, 8}, {7, 16}}},
        AsfCase{"ARatioAtTheTopOfItsRangeGivesNoSharpening",
                [](AsfFixture* f, BlockTuningDouble*, VfeSettingsDouble*) { f->Window(1280); }, VfeChain::Video,
                {{6, 0}, {7, 0}}},
        AsfCase{"AShrinkOfTwoSharpensTwoThirds",
                [](AsfFixture* f, BlockTuningDouble*, VfeSettingsDouble*) { f->Window(640); }, VfeChain::Video,
                // g = 1 - 1 / 3: amounts 1.333 and 2.667 (Q3 10.7 -> 11, 21.3 -> 21)
                {{6, 11}, {7, 21}}},
        AsfCase{"ARatioAtTheBottomOfItsRangeGivesNoSharpening",
                [](AsfFixture* f, BlockTuningDouble*, VfeSettingsDouble*) { f->Window(160); }, VfeChain::Video,
                {{6, 0}, {7, 0}}},
        AsfCase{"AnEnlargementHalfWayUpItsRangeSharpensHalf",
                [](AsfFixture* f, BlockTuningDouble*, VfeSettingsDouble*) { f->Window(240); }, VfeChain::Video,
                // r = 0.75: g = (0.75 - 0.5) / 0.5
                {{6, 8}, {7, 16}}},
        AsfCase{"PreviewSharpensForTheSmallerOfTwoOutputs",
                [](AsfFixture* f, BlockTuningDouble*, VfeSettingsDouble*) {
                  f->Window(640);
                  f->Output2(640);
                },
                VfeChain::Video, {{6, 11}, {7, 21}}},
        AsfCase{"AStillSharpensForTheLargerOutputWithItsOwnTables",
                [](AsfFixture* f, BlockTuningDouble*, VfeSettingsDouble*) {
                  f->Window(640);
                  f->Output2(640);
                },
                // ratio 1: g = 1; the snapshot's normal setting and filter set 0x80800100
                VfeChain::Snapshot, {{6, 16}, {7, 32}, {8, 21}, {13, 0x50}, {22, 32}}},
        AsfCase{"AStillShrunkByMoreThanTwoTakesThePreviewFilterSet",
                [](AsfFixture* f, BlockTuningDouble*, VfeSettingsDouble*) { f->Window(1000); }, VfeChain::Snapshot,
                {{13, 0x90}, {22, 32}}},
        AsfCase{"ADegreeAbove100SmoothsNoLessThan100",
                [](AsfFixture*, BlockTuningDouble* t, VfeSettingsDouble*) {
                  t->asfSettings[0x80800202].SmoothPct = 250;
                },
                VfeChain::Video, {{3, 16}, {4, 14}}}),
    CaseName<AsfCase>);

using AsfTest = AsfCaseTest;

TEST_F(AsfTest, OffChangesOnlyTheEnableByte) {
  Block()->Enable() = CTuningFlag(0);
  ASSERT_EQ(PVL_OK, Block()->Configure(&settings_, VfeChain::Video));
  std::vector<uint8_t> expected(kDefaults, kDefaults + 40);
  expected[0] = 0;
  EXPECT_EQ(expected, vfeconfigtest::Bytes(Block()->GetPayload()));
}

TEST_F(AsfTest, WithoutControlTheDefaultsGoOutEnabled) {
  Block()->ControlEnable() = CTuningFlag(0);
  Block()->ControlEnable().changed = 1;
  ASSERT_EQ(PVL_OK, Block()->Configure(&settings_, VfeChain::Video));
  EXPECT_EQ(std::vector<uint8_t>(kDefaults, kDefaults + 40), vfeconfigtest::Bytes(Block()->GetPayload()));
  EXPECT_FALSE(Block()->HasTuningChanged());
}

TEST_F(AsfTest, InvalidThresholdsAreLoggedAndKept) {
  tuning_double_.asfSettings[0x80800202] = Setting(20, 40, -10, 40, -40, 2.0f, 4.0f, 50);
  OrbhostTest_MessageCaptureBegin();
  ASSERT_EQ(PVL_OK, Block()->Configure(&settings_, VfeChain::Video));
  auto messages = OrbhostTest_MessageCaptureEnd();
  int first = 0, second = 0;
  for (auto& m : messages) {
    first += m.text.find("Invalid ASF E1, E2, E3 coefficients") != std::string::npos;
    second += m.text.find("Invalid ASF E1, E4, E5 coefficients") != std::string::npos;
  }
  EXPECT_EQ(1, first);
  EXPECT_EQ(0, second);
  EXPECT_EQ(-10, S8At(&Block()->GetPayload(), 10));
}

struct AsfFailureCase {
  const char* name;
  void (*setUp)(AsfFixture*, BlockTuningDouble*, VfeSettingsDouble*);
  PvlResult result;
};
class AsfFailureTest : public ::testing::TestWithParam<AsfFailureCase>, public AsfFixture {
 protected:
  void SetUp() override {
    SetUpTuned();
    SetUpAsf();
  }
  void TearDown() override { TearDownTuned(); }
};

TEST_P(AsfFailureTest, FailsWithItsCodeAndKeepsTheMarkers) {
  const AsfFailureCase& c = GetParam();
  c.setUp(this, &tuning_double_, &settings_);
  Block()->Enable().changed = 1;
  EXPECT_EQ(c.result, Block()->Configure(&settings_, VfeChain::Video));
  EXPECT_TRUE(Block()->HasTuningChanged());
}

INSTANTIATE_TEST_SUITE_P(
    Failures, AsfFailureTest,
    ::testing::Values(
        AsfFailureCase{"NoOutputEnabled",
                       [](AsfFixture* f, BlockTuningDouble*, VfeSettingsDouble*) {
                         f->Service()->out1.enabled = false;
                       },
                       PVL_E_FAIL},
        AsfFailureCase{"ASharpnessRangeOfNoWidth",
                       [](AsfFixture*, BlockTuningDouble*, VfeSettingsDouble* s) { s->sharpness = {5, 5, 1, 5, 5}; },
                       PVL_E_FAIL},
        AsfFailureCase{"AMissingSetting",
                       [](AsfFixture*, BlockTuningDouble* t, VfeSettingsDouble*) {
                         t->asfSettings.erase(0x80800202);
                       },
                       PVL_E_BADARG},
        AsfFailureCase{"ASharpnessReadFailure",
                       [](AsfFixture*, BlockTuningDouble*, VfeSettingsDouble* s) { s->fail["GetSharpness"] = 20; },
                       20}),
    CaseName<AsfFailureCase>);

TEST_F(AsfTest, TheUpdateCarriesTheFirst32Bytes) {
  ASSERT_EQ(PVL_OK, Block()->Configure(&settings_, VfeChain::Runtime));
  service_->sent.clear();
  ASSERT_EQ(PVL_OK, Block()->SendUpdate());
  ASSERT_EQ((std::vector<int32_t>{VFE_CMD_ASF_UPDATE}), service_->Commands());
  const std::vector<uint8_t> all = vfeconfigtest::Bytes(Block()->GetPayload());
  EXPECT_EQ(std::vector<uint8_t>(all.begin(), all.begin() + 32), service_->sent[0].payload);
}

// With the sensor's own tuning: each payload kernel is the quadrant of a 5 x 5
// kernel symmetric about its centre (tap (i, j) weighs 4, 2 or 1 samples), and
// must sum to zero over all 25 taps, or the filter brightens flat areas.
class AsfSensorTuningTest : public ::testing::TestWithParam<VfeChain>, public VfeBlockFixture {
 protected:
  void SetUp() override { SetUpBlocks(); }
  void TearDown() override { TearDownBlocks(); }
};

TEST_P(AsfSensorTuningTest, TheSensorsKernelsPassFlatAreas) {
  Output1(320, 240);
  service_->crop->GetPayload().lastPixel = 1279;
  settings_.exposureGain = CFixedPoint(1.5);
  ASSERT_EQ(PVL_OK, service_->asf->Configure(&settings_, GetParam()));
  const uint8_t* p = reinterpret_cast<const uint8_t*>(&service_->asf->GetPayload());
  ASSERT_EQ(1, p[1]) << "computed from the tuning";
  static constexpr int kTaps[3][3] = {{4, 4, 2}, {4, 4, 2}, {2, 2, 1}};
  for (int filter = 0; filter < 2; ++filter) {
    int dc = 0, energy = 0;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) {
        const int c = S8At(p, 13 + 9 * filter + 3 * i + j);
        dc += kTaps[i][j] * c;
        energy += c * c;
      }
    EXPECT_EQ(0, dc) << "filter " << filter + 1;
    EXPECT_GT(energy, 0) << "filter " << filter + 1 << " does something";
  }
}

INSTANTIATE_TEST_SUITE_P(Chains, AsfSensorTuningTest, ::testing::Values(VfeChain::Video, VfeChain::Snapshot),
                         [](const ::testing::TestParamInfo<VfeChain>& info) {
                           return std::string(info.param == VfeChain::Video ? "Preview" : "Still");
                         });

}  // namespace
}  // namespace vfeconfigtest
