// Colour conversion: the table of the white-balance light, the low-light
// table or blend when the exposure allows it, runtime smoothing, image
// effects, hue rotation and saturation with the fall-back to the plain
// record, Q8 packing (luma coefficients R, G, B from byte 22).
#include <gtest/gtest.h>

#include <array>

#include "cruntimetuning.h"
#include "vfeconfigfixture.h"

namespace vfeconfigtest {
namespace {

enum { kTL84, kA, kD65, kLowLight, kMono, kSepia, kNegative, kAqua };

// The plain BT.601 record with a marker in k_cb that names the table.
TuningColorConvMatrix Table(int16_t marker, float scale = 0.5f) {
  TuningColorConvMatrix r{};
  r.CbScalingNegative_am = r.CbScalingPositive_ap = scale;
  r.DiffRGtoCbShearingNegative_bm = r.DiffRGtoCbShearingPositive_bp = -0.338f;
  r.CrScalingNegative_cm = r.CrScalingPositive_cp = scale;
  r.DiffBGtoCrShearingNegative_dm = r.DiffBGtoCrShearingPositive_dp = -0.162f;
  r.CBOffset_k_cb = marker;
  r.CROffset_k_cr = 128;
  r.RtoY = 0.299f, r.GtoY = 0.587f, r.BtoY = 0.114f;
  r.Yoffset = 0;
  return r;
}

struct Payload {
  std::array<int16_t, 8> chroma;
  int16_t kcr, kcb;
  std::array<int16_t, 3> luma;  // R, G, B
  uint8_t yOffset;
};

Payload Read(const VfeColorConvCmd& p) {
  Payload out{};
  for (int i = 0; i < 8; ++i) out.chroma[i] = p.matrix[i];
  out.kcr = p.matrix[kColorConvKcr];
  out.kcb = p.matrix[kColorConvKcb];
  out.luma = {p.offset[kColorConvRtoY], p.offset[kColorConvGtoY], p.offset[kColorConvBtoY]};
  out.yOffset = p.field28;
  return out;
}

constexpr std::array<int16_t, 8> kPlainChroma = {128, 128, -87, -87, 128, 128, -42, -42};
constexpr std::array<int16_t, 3> kPlainLuma = {77, 150, 29};

struct ColorConvCase {
  const char* name;
  uint32_t illuminant;
  uint32_t effectMode, effect;
  float hue;
  int32_t saturation;
  uint32_t lux;            // trigger over lux index 100..300
  uint32_t settled;        // frames since the exposure settled
  uint8_t dark;
  VfeChain chain;
  std::array<int16_t, 8> chroma;
  int16_t kcb;
};

const ColorConvCase kColorConvCases[] = {
    {"IlluminantTableAsTuned", 10, 0, 0, 0.0f, 100, 100, 30, 0, VfeChain::Video, kPlainChroma, 100},
    {"Illuminant2IsD65", 2, 0, 0, 0.0f, 100, 100, 30, 0, VfeChain::Video, kPlainChroma, 120},
    {"Illuminant5IsTL84", 5, 0, 0, 0.0f, 100, 100, 30, 0, VfeChain::Video, kPlainChroma, 100},
    {"Illuminant6IsA", 6, 0, 0, 0.0f, 100, 100, 30, 0, VfeChain::Snapshot, kPlainChroma, 110},
    {"LowLightWhileTheExposureSettlesTakesTheLowLightTable", 10, 0, 0, 0.0f, 100, 300, 5, 0, VfeChain::Video,
     {64, 64, -87, -87, 64, 64, -42, -42}, 130},
    {"LowLightWhenDarkTakesTheLowLightTable", 10, 0, 0, 0.0f, 100, 300, 30, 1, VfeChain::Video,
     {64, 64, -87, -87, 64, 64, -42, -42}, 130},
    {"LowLightHalfwayBlends", 10, 0, 0, 0.0f, 100, 200, 5, 0, VfeChain::Video, {96, 96, -87, -87, 96, 96, -42, -42},
     115},
    // A settled exposure keeps the record chosen before (the plain one at first).
    {"LowLightNotAllowedKeepsTheStoredRecord", 10, 0, 0, 0.0f, 100, 300, 30, 0, VfeChain::Video, kPlainChroma, 128},
    {"Saturation200DoublesTheScales", 10, 0, 0, 0.0f, 200, 100, 30, 0, VfeChain::Video,
     {256, 256, -87, -87, 256, 256, -42, -42}, 100},
    {"Saturation300IsTakenAs200", 10, 0, 0, 0.0f, 300, 100, 30, 0, VfeChain::Video,
     {256, 256, -87, -87, 256, 256, -42, -42}, 100},
    // Hue 90 turns the plain record, not the tuned table.
    {"Hue90TurnsThePlainRecord", 10, 0, 0, 90.0f, 100, 100, 30, 0, VfeChain::Video,
     {21, 21, -1580, -1580, -43, -43, -757, -757}, 128},
    // Near -80.8 degrees the Cb scale nearly vanishes and its shear runs to
    // about -20000: the plain record is taken instead of a wrapped value.
    {"HueWithAVanishingScaleFallsBackToThePlainRecord", 10, 0, 0, -80.8f, 100, 100, 30, 0, VfeChain::Video,
     kPlainChroma, 128},
    {"MonoEffect", 10, 1, 1, 0.0f, 100, 100, 30, 0, VfeChain::Video, {0, 0, -87, -87, 0, 0, -42, -42}, 140},
    {"EffectZeroTakesTheUsersFixedOffsets", 10, 1, 0, 30.0f, 200, 100, 30, 0, VfeChain::Video,
     {0, 0, -87, -87, 0, 0, -42, -42}, 90},
    {"NegativeEffect", 10, 1, 2, 0.0f, 100, 100, 30, 0, VfeChain::Video, {-128, -128, -87, -87, -128, -128, -42, -42},
     150},
    {"SepiaEffect", 10, 1, 3, 0.0f, 100, 100, 30, 0, VfeChain::Video, {0, 0, -87, -87, 0, 0, -42, -42}, 160},
    {"Effect4IsTL84", 10, 1, 4, 0.0f, 100, 100, 30, 0, VfeChain::Video, kPlainChroma, 100},
};

class ColorConvTest : public VfeBlockTableTest<ColorConvCase> {
 protected:
  void LoadTables() {
    TuningParameterBlock& t = Tuning();
    t.ColorConvControl = 0;
    t.ColorConvTrigger = {2.0f, 4.0f, 100, 300};
    t.ColorConv[kTL84] = Table(100);
    t.ColorConv[kA] = Table(110);
    t.ColorConv[kD65] = Table(120);
    t.ColorConv[kLowLight] = Table(130, 0.25f);
    t.ColorConv[kMono] = Table(140, 0.0f);
    t.ColorConv[kNegative] = Table(150, -0.5f);
    t.ColorConv[kSepia] = Table(160, 0.0f);
    t.ColorConv[kAqua] = Table(170, 0.0f);
    ASSERT_EQ(PVL_OK, LoadTuning());
    // Normal light, neutral hue and saturation.
    settings_.aecIndex = 100;
    settings_.saturation.Value = 100;
  }
};

TEST_P(ColorConvTest, ComputesThePayload) {
  const ColorConvCase& c = GetParam();
  LoadTables();
  settings_.illuminant = c.illuminant;
  settings_.effectMode = c.effectMode;
  settings_.effect = c.effect;
  settings_.hue.Value = c.hue;
  settings_.saturation.Value = c.saturation;
  settings_.aecIndex = c.lux;
  settings_.aecSettled = c.settled;
  settings_.aecDark = c.dark;
  settings_.fixedCb.Value = 90;
  ASSERT_EQ(PVL_OK, service_->colorConv->Configure(&settings_, c.chain));
  const Payload p = Read(service_->colorConv->GetPayload());
  EXPECT_EQ(1, service_->colorConv->GetPayload().enable);
  EXPECT_EQ(c.chroma, p.chroma);
  EXPECT_EQ(c.kcb, p.kcb);
  EXPECT_EQ(kPlainLuma, p.luma);
}

INSTANTIATE_TEST_SUITE_P(Cases, ColorConvTest, ::testing::ValuesIn(kColorConvCases), CaseName<ColorConvCase>);

using ColorConvBlockTest = ColorConvTest;

TEST_F(ColorConvBlockTest, RuntimeUpdatesMoveFivePercentTowardsTheTable) {
  Tuning().AWBExtAgressiveness = 0;
  LoadTables();
  ServedTuningTable().Block.ColorConv[kTL84] = Table(228, 1.5f);
  ASSERT_EQ(PVL_OK, LoadTuning());
  // From the plain record (0.5, k_cb 128): 0.05 x 1.5 + 0.95 x 0.5 = 0.55 -> 141; 133.
  ASSERT_EQ(PVL_OK, service_->colorConv->Configure(&settings_, VfeChain::Runtime));
  Payload p = Read(service_->colorConv->GetPayload());
  EXPECT_EQ(141, p.chroma[0]);
  EXPECT_EQ(133, p.kcb);
  ASSERT_EQ(PVL_OK, service_->colorConv->Configure(&settings_, VfeChain::Runtime));
  p = Read(service_->colorConv->GetPayload());
  EXPECT_EQ(153, p.chroma[0]);  // 0.05 x 1.5 + 0.95 x 0.55 = 0.5975
}

TEST_F(ColorConvBlockTest, ASpeedOf2MovesFortyFivePercent) {
  Tuning().AWBExtAgressiveness = 2;
  LoadTables();
  ServedTuningTable().Block.ColorConv[kTL84] = Table(128, 1.5f);
  ASSERT_EQ(PVL_OK, LoadTuning());
  ASSERT_EQ(PVL_OK, service_->colorConv->Configure(&settings_, VfeChain::Runtime));
  EXPECT_EQ(243, Read(service_->colorConv->GetPayload()).chroma[0]);  // 0.45 x 1.5 + 0.55 x 0.5 = 0.95
}

TEST_F(ColorConvBlockTest, YOffsetIsClampedAndTheExcessKept) {
  LoadTables();
  ServedTuningTable().Block.ColorConv[kTL84].Yoffset = 300;
  ASSERT_EQ(PVL_OK, LoadTuning());
  ASSERT_EQ(PVL_OK, service_->colorConv->Configure(&settings_, VfeChain::Video));
  EXPECT_EQ(255, service_->colorConv->GetPayload().field28);
  EXPECT_EQ(-45, service_->colorConv->GetYOffsetResidual());
}

// Switched off, the preview sends the tuned table's Y offset as its low byte:
// the hardware ignores it then, and nothing is left over for the gamma.
TEST_F(ColorConvBlockTest, APreviewSwitchedOffKeepsTheYOffsetsLowByte) {
  LoadTables();
  ServedTuningTable().Block.ColorConv[kTL84].Yoffset = 300;
  ASSERT_EQ(PVL_OK, LoadTuning());
  service_->colorConv->Enable() = CTuningFlag(0);
  ASSERT_EQ(PVL_OK, service_->colorConv->Configure(&settings_, VfeChain::Video));
  EXPECT_EQ(0, service_->colorConv->GetPayload().enable);
  EXPECT_EQ(0x2C, service_->colorConv->GetPayload().field28);
  EXPECT_EQ(0, service_->colorConv->GetYOffsetResidual());
}

// Shear terms down to -128, the lowest the signed Q8 field holds, are
// packed; one below would wrap, so the plain record is taken instead.
TEST(ColorConvShear, TermsDownToTheFieldsLowestArePacked) {
  const struct {
    const char* name;
    float shear;
    bool kept;
  } kCases[] = {{"JustAbove", -127.9f, true}, {"Lowest", -128.0f, true}, {"RoundsToLowest", -128.001f, true},
                {"Wraps", -128.01f, false}, {"FarBelow", -200.0f, false}, {"AtTheHardwareTop", 4.0f, false}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    TuningColorConvMatrix r = CColorConvConfiguration::DefaultRecord();
    r.DiffRGtoCbShearingNegative_bm = c.shear;
    const TuningColorConvMatrix out = CColorConvConfiguration::HueSaturation(r, 1.0f, 0.0);
    EXPECT_EQ(c.kept ? c.shear : CColorConvConfiguration::DefaultRecord().DiffRGtoCbShearingNegative_bm,
              out.DiffRGtoCbShearingNegative_bm);
  }
}

TEST_F(ColorConvBlockTest, PayloadBytesInTheDriversLayout) {
  LoadTables();
  ASSERT_EQ(PVL_OK, service_->colorConv->Configure(&settings_, VfeChain::Video));
  const std::vector<uint8_t> b = Bytes(service_->colorConv->GetPayload());
  auto word = [&b](size_t at) { return static_cast<int16_t>(b[at] | b[at + 1] << 8); };
  EXPECT_EQ(128, word(2)) << "am";
  EXPECT_EQ(-87, word(6)) << "bm";
  EXPECT_EQ(-42, word(16)) << "dp";
  EXPECT_EQ(128, word(18)) << "k_cr";
  EXPECT_EQ(100, word(20)) << "k_cb";
  EXPECT_EQ(77, word(22)) << "RtoY";
  EXPECT_EQ(150, word(24)) << "GtoY";
  EXPECT_EQ(29, word(26)) << "BtoY";
}

// The tuning tool's keys reach the fields they name: the luma keys the
// coefficient of their colour, wherever the list puts them.
TEST_F(ColorConvBlockTest, KeysReachTheFieldsTheyName) {
  CRuntimeTuning* registry = nullptr;
  ASSERT_EQ(PVL_OK, CRuntimeTuning::New(env_.Get(), &registry));
  CColorConvConfiguration* block = nullptr;
  service_->registry = registry;
  ASSERT_EQ(PVL_OK, CColorConvConfiguration::Create(service_, &block));
  service_->registry = nullptr;
  const uint8_t* payload = reinterpret_cast<const uint8_t*>(&block->GetPayload());
  const struct {
    const char* name;
    size_t offset;
  } kKeys[] = {{"ColorConv-Current-CbScalingNegative_am", 2}, {"ColorConv-Current-DiffBGtoCrShearingPositive_dp", 16},
               {"ColorConv-Current-CROffset_k_cr", 18},        {"ColorConv-Current-CBOffset_k_cb", 20},
               {"ColorConv-Current-RtoY", 22},                 {"ColorConv-Current-GtoY", 24},
               {"ColorConv-Current-BtoY", 26},                 {"ColorConv-Current-Yoffset", 28}};
  ASSERT_EQ(16u, registry->ItemCount());
  EXPECT_EQ(std::string("ColorConv-Enable"), registry->Item(0)->name);
  EXPECT_EQ(static_cast<void*>(&block->Enable()), registry->Item(0)->value);
  EXPECT_EQ(std::string("ColorConv-Current-GtoY"), registry->Item(12)->name) << "the tool's order is kept";
  for (const auto& k : kKeys) {
    const RuntimeTuningItem* item = nullptr;
    for (uint16_t i = 0; i < registry->ItemCount(); ++i) {
      if (std::string(registry->Item(i)->name) == k.name) item = registry->Item(i);
    }
    ASSERT_NE(nullptr, item) << k.name;
    EXPECT_EQ(static_cast<const void*>(payload + k.offset), item->value) << k.name;
  }
  static_cast<IVfeConfiguration*>(block)->Release();
  registry->Release();
}

TEST_F(ColorConvBlockTest, AScaleReaching4FallsBackToThePlainRecord) {
  LoadTables();
  ServedTuningTable().Block.ColorConv[kTL84] = Table(100, 2.0f);
  ASSERT_EQ(PVL_OK, LoadTuning());
  settings_.saturation.Value = 200;
  ASSERT_EQ(PVL_OK, service_->colorConv->Configure(&settings_, VfeChain::Video));
  EXPECT_EQ(kPlainChroma, Read(service_->colorConv->GetPayload()).chroma);
  EXPECT_EQ(128, Read(service_->colorConv->GetPayload()).kcb);
}

TEST_F(ColorConvBlockTest, SwitchedOffSendsTheTL84TableDisabled) {
  LoadTables();
  service_->colorConv->Enable().value = 0;
  ASSERT_EQ(PVL_OK, service_->colorConv->Configure(&settings_, VfeChain::Video));
  EXPECT_EQ(0, service_->colorConv->GetPayload().enable);
  EXPECT_EQ(100, Read(service_->colorConv->GetPayload()).kcb);
}

TEST_F(ColorConvBlockTest, FailuresEndWithTheirCodes) {
  LoadTables();
  settings_.effectMode = 2;
  EXPECT_EQ(PVL_E_FAIL, service_->colorConv->Configure(&settings_, VfeChain::Video));
  settings_.effectMode = 0;
  settings_.fail["GetWhiteBalanceIlluminant"] = 29;
  EXPECT_EQ(29, service_->colorConv->Configure(&settings_, VfeChain::Video));
  settings_.fail.clear();
  settings_.fail["GetAecPair"] = 20;
  EXPECT_EQ(20, service_->colorConv->Configure(&settings_, VfeChain::Video));
}

TEST_F(ColorConvBlockTest, UpdateSendsCommand36WithThirtyBytes) {
  LoadTables();
  ASSERT_EQ(PVL_OK, service_->colorConv->Configure(&settings_, VfeChain::Runtime));
  ASSERT_EQ(PVL_OK, service_->colorConv->SendUpdate());
  ASSERT_EQ(1u, service_->sent.size());
  EXPECT_EQ(VFE_CMD_COLOR_CONV_UPDATE, service_->sent[0].command);
  EXPECT_EQ(30u, service_->sent[0].payload.size());
}

}  // namespace
}  // namespace vfeconfigtest
