// Luma adaptation: the inverse gamma with its interpolation and ends, the
// mapping carried through the gamma curve into Q6 ratios with 6-bit steps,
// and the mode and switch that leave the payload alone.
#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "vfeconfigfixture.h"

namespace vfeconfigtest {
namespace {

std::array<uint8_t, 256> Identity() {
  std::array<uint8_t, 256> a{};
  for (int i = 0; i < 256; ++i) a[i] = static_cast<uint8_t>(i);
  return a;
}

struct InverseCase {
  const char* name;
  std::array<uint8_t, 256> gamma;
  uint8_t at;
  uint8_t expected;
};

// Every level doubled up to 254, 255 above: odd levels are gaps of one.
std::array<uint8_t, 256> Doubled() {
  std::array<uint8_t, 256> a{};
  for (int i = 0; i < 256; ++i) a[i] = static_cast<uint8_t>(2 * i > 254 ? 255 : 2 * i);
  return a;
}
// Every level tripled up to 255: gaps of two.
std::array<uint8_t, 256> Tripled() {
  std::array<uint8_t, 256> a{};
  for (int i = 0; i < 256; ++i) a[i] = static_cast<uint8_t>(3 * i > 255 ? 255 : 3 * i);
  return a;
}
// A curve from 20 to 200 only: no reached value below 20 or above 200.
std::array<uint8_t, 256> Narrow() {
  std::array<uint8_t, 256> a{};
  for (int i = 0; i < 256; ++i) a[i] = static_cast<uint8_t>(20 + (180 * i) / 255);
  return a;
}

const InverseCase kInverseCases[] = {
    {"IdentityIsItsOwnInverse", Identity(), 77, 77},
    {"ExactWhereReached", Doubled(), 100, 50},
    // Gap of one between 50 and 51: (1 x 50 + 1 x 51) x 2048 + 2048 >> 12 = 51.
    {"GapOfOneRoundsHalfUp", Doubled(), 101, 51},
    // Gap of two: d1 = 1, d2 = 2 to 3 and 4 -> ((2 x 1 + 1 x 2) x 1365 + 2048) >> 12 = 1.
    {"GapOfTwoWeighsTheNearer", Tripled(), 4, 1},
    {"GapOfTwoFarSide", Tripled(), 5, 2},
    {"LaterLevelsWinAReachedValue", Doubled(), 255, 255},
    {"BelowTheLowestReachedTakesIt", Narrow(), 5, 1},
    {"AboveTheHighestReachedTakesIt", Narrow(), 250, 255},
};

class InverseGammaTest : public ::testing::TestWithParam<InverseCase> {};

TEST_P(InverseGammaTest, Inverts) {
  const InverseCase& c = GetParam();
  uint8_t inverse[256];
  ASSERT_EQ(PVL_OK, CLumaAdaptationConfiguration::InverseGamma(c.gamma.data(), inverse));
  EXPECT_EQ(c.expected, inverse[c.at]);
}

INSTANTIATE_TEST_SUITE_P(Cases, InverseGammaTest, ::testing::ValuesIn(kInverseCases), CaseName<InverseCase>);

TEST(LumaRatioTableTest, IdentityGivesUnityRatiosAndAFirstStepOf16) {
  const auto g = Identity();
  int16_t table[256];
  ASSERT_EQ(PVL_OK, CLumaAdaptationConfiguration::BuildRatioTable(g.data(), g.data(), table));
  EXPECT_EQ(48 + (16 << 8), table[0]);
  for (int i = 1; i < 256; ++i) ASSERT_EQ(64, table[i]) << "level " << i;
}

TEST(LumaRatioTableTest, RatiosAreLimitedAndStepsAreSixBitTwosComplement) {
  const auto g = Identity();
  std::array<uint8_t, 256> y = Identity();
  for (int i = 90; i <= 110; ++i) y[i] = 0;    // ratio 0: held at 48
  for (int i = 140; i <= 160; ++i) y[i] = 255;  // 255 x 64 / 150 = 108 at level 150
  for (int i = 15; i <= 25; ++i) y[i] = 255;    // 816 at level 20: held at 196
  int16_t table[256];
  ASSERT_EQ(PVL_OK, CLumaAdaptationConfiguration::BuildRatioTable(g.data(), y.data(), table));
  EXPECT_EQ(48, table[100] & 0xFF);
  EXPECT_EQ(108, table[150] & 0xFF);
  EXPECT_EQ(196, table[20] & 0xFF);
  // 64 -> 48 is -16 (0x30); 48 -> 64 is +16; 64 -> 196 limited to +31;
  // 196 -> 64 limited to -32 (0x20).
  EXPECT_EQ(64 | (0x30 << 8), table[88]);
  EXPECT_EQ(48 | (16 << 8), table[110]);
  EXPECT_EQ(64 | (31 << 8), table[13]);
  EXPECT_EQ(196 | (0x20 << 8), table[25]);
  EXPECT_EQ(64, table[255]) << "the last entry has no step";
  for (int i = 0; i < 256; ++i) ASSERT_EQ(0, table[i] & 0xC000) << "level " << i;
}

TEST(LumaRatioTableTest, NullTablesAreRefused) {
  const auto g = Identity();
  int16_t table[256];
  EXPECT_EQ(PVL_E_NULLPTR, CLumaAdaptationConfiguration::BuildRatioTable(nullptr, g.data(), table));
  EXPECT_EQ(PVL_E_NULLPTR, CLumaAdaptationConfiguration::BuildRatioTable(g.data(), g.data(), nullptr));
}

// A gamma-encoded mapping that lifts every level by a third: the linear
// ratios come out above 1.0 and never below it.
TEST(LumaRatioTableTest, ALiftThroughARealGammaGivesGainsAboveOne) {
  std::array<uint8_t, 256> g{}, y{};
  for (int i = 0; i < 256; ++i) {
    g[i] = static_cast<uint8_t>(std::lround(255.0 * std::pow(i / 255.0, 0.45)));
    y[i] = static_cast<uint8_t>(std::min(255, i + i / 3));
  }
  int16_t table[256];
  ASSERT_EQ(PVL_OK, CLumaAdaptationConfiguration::BuildRatioTable(g.data(), y.data(), table));
  for (int i = 1; i < 200; ++i) ASSERT_GE(table[i] & 0xFF, 64) << "level " << i;
  EXPECT_GT(table[50] & 0xFF, 80);
}

class LumaAdaptationTest : public VfeBlockTest {
 protected:
  void SetUp() override {
    VfeBlockTest::SetUp();
    // The gamma payload the adaptation reads: the identity curve.
    VfeGammaCmd& gamma = service_->gamma->GetPayload();
    for (int i = 0; i < 256; ++i) gamma.table[i] = static_cast<int16_t>(i + (i < 255 ? 256 : 0));
    const auto id = Identity();
    settings_.lumaMapping.assign(id.begin(), id.end());
    settings_.lumaAdaptationMode = 1;
  }
  const VfeLumaAdaptationCmd& Payload() { return service_->lumaAdaptation->GetPayload(); }
};

TEST_F(LumaAdaptationTest, BuildsTheTableFromTheGammaPayload) {
  ASSERT_EQ(PVL_OK, service_->lumaAdaptation->Configure(&settings_, VfeChain::Snapshot));
  EXPECT_EQ(1, Payload().enable);
  EXPECT_EQ(4144, Payload().table[0]);
  EXPECT_EQ(64, Payload().table[128]);
}

TEST_F(LumaAdaptationTest, ModeOffLeavesThePayloadAndReadsNothingMore) {
  settings_.lumaAdaptationMode = 0;
  const std::vector<uint8_t> before = Bytes(Payload());
  ASSERT_EQ(PVL_OK, service_->lumaAdaptation->Configure(&settings_, VfeChain::Snapshot));
  EXPECT_EQ(before, Bytes(Payload()));
  EXPECT_EQ(0, settings_.reads["GetVfeBlock"]);
}

TEST_F(LumaAdaptationTest, SwitchedOffClearsTheEnable) {
  ASSERT_EQ(PVL_OK, service_->lumaAdaptation->Configure(&settings_, VfeChain::Snapshot));
  service_->lumaAdaptation->Enable().value = 0;
  service_->lumaAdaptation->Enable().changed = 1;
  ASSERT_EQ(PVL_OK, service_->lumaAdaptation->Configure(&settings_, VfeChain::Snapshot));
  EXPECT_EQ(0, Payload().enable);
  EXPECT_FALSE(service_->lumaAdaptation->HasTuningChanged());
}

TEST_F(LumaAdaptationTest, BadBlocksAndFailedReadsKeepThePayload) {
  const std::vector<uint8_t> before = Bytes(Payload());
  settings_.lumaMapping.resize(255);
  EXPECT_EQ(PVL_E_FAIL, service_->lumaAdaptation->Configure(&settings_, VfeChain::Snapshot));
  settings_.fail["GetVfeBlock"] = 38;
  EXPECT_EQ(38, service_->lumaAdaptation->Configure(&settings_, VfeChain::Snapshot));
  settings_.fail["GetLumaAdaptationMode"] = 29;
  EXPECT_EQ(29, service_->lumaAdaptation->Configure(&settings_, VfeChain::Snapshot));
  EXPECT_EQ(before, Bytes(Payload()));
}

}  // namespace
}  // namespace vfeconfigtest
