// Demosaic, ABF and BPC: the payload for each light level and switch setting
// (table entry, ratio and shift caps, threshold blend and order), the split
// update with its refusal, and the tuning-changed markers.
#include <gtest/gtest.h>

#include "tunedblockfixture.h"

namespace vfeconfigtest {
namespace {

// What the payload carries, read at its byte offsets.
struct DemosaicFields {
  uint8_t enable, slopeShift, abfEnable, abfFlag, shift;
  uint16_t lpThreshold, max, min;
  uint8_t ratio, bpcEnable;
  uint16_t bpcMaxFactor, bpcMinFactor, red, blue, green;
  bool operator==(const DemosaicFields&) const = default;
};
std::ostream& operator<<(std::ostream& os, const DemosaicFields& f) {
  return os << "{enable " << +f.enable << ", slope " << +f.slopeShift << ", abf " << +f.abfEnable << "/"
            << +f.abfFlag << ", shift " << +f.shift << ", lp " << f.lpThreshold << ", max " << f.max << ", min "
            << f.min << ", ratio " << +f.ratio << ", bpc " << +f.bpcEnable << ", factors " << f.bpcMaxFactor << "/"
            << f.bpcMinFactor << ", r/b/g " << f.red << "/" << f.blue << "/" << f.green << "}";
}
DemosaicFields Decode(const VfeDemosaicCmd& p) {
  return {U8At(&p, 0),  U8At(&p, 1),  U8At(&p, 2),  U8At(&p, 3),  U8At(&p, 4),
          U16At(&p, 6), U16At(&p, 8), U16At(&p, 10), U8At(&p, 12), U8At(&p, 14),
          U16At(&p, 16), U16At(&p, 18), U16At(&p, 20), U16At(&p, 22), U16At(&p, 24)};
}

constexpr DemosaicFields kDefaults = {1, 0, 0, 0, 3, 1023, 1023, 0, 15, 0, 127, 0, 4095, 4095, 4095};

// Entry i of a table whose values name their entry.
TuningAbfFilterData Table(uint16_t base) {
  TuningAbfFilterData t{};
  for (uint16_t i = 0; i < 20; ++i) {
    t.LPThr[i] = static_cast<uint16_t>(base + i);
    t.Max[i] = static_cast<uint16_t>(base + 500 + i);
    t.Min[i] = i;
    t.Ratio[i] = 0.125f;
  }
  t.Shift = 2;
  return t;
}

class DemosaicTest : public TunedBlockFixture {
 protected:
  void SetUpTuning() {
    BlockTuningDouble& t = tuning_double_;
    t.ints[0x80F00000] = 2;      // slope shift
    t.ints[0x80B00F03] = 100;    // preview: ABF above lux 100
    t.ints[0x80B00F04] = 150;    // snapshot
    t.enables[0x80B00F00] = 0;   // ABF by lux
    t.triggers[0x80B00F01] = {1.0f, 4.0f, 200, 400};
    t.triggers[0x80B00F02] = {1.0f, 4.0f, 200, 400};
    t.abf[0x80B00001] = Table(100);
    t.abf[0x80B00000] = Table(200);
    t.ints[0x80C00001] = 100;    // BPC max factor
    t.ints[0x80C00000] = 5;      // BPC min factor
    t.enables[0x80C00F00] = 0;
    t.triggers[0x80C00F01] = {1.0f, 4.0f, 200, 400};
    t.triggers[0x80C00F02] = {1.0f, 4.0f, 200, 400};
    t.bpc[0x80C00100] = {10, 20, 30};
    t.bpc[0x80C00101] = {110, 220, 330};
    t.bpc[0x80C00102] = {11, 21, 31};
    t.bpc[0x80C00103] = {111, 221, 331};
  }
  CDemosaicConfiguration* Block() { return service_->demosaic; }
};

struct DemosaicCase {
  const char* name;
  VfeChain chain;
  uint32_t control;  // 0 lux, 1 gain
  uint32_t lux;
  double gain;
  void (*tune)(BlockTuningDouble*, CDemosaicConfiguration*);
  DemosaicFields expected;
};

class DemosaicCaseTest : public ::testing::TestWithParam<DemosaicCase>, public DemosaicTest {
 protected:
  void SetUp() override {
    SetUpTuned();
    SetUpTuning();
  }
  void TearDown() override { TearDownTuned(); }
};

TEST_P(DemosaicCaseTest, ComputesThePayload) {
  const DemosaicCase& c = GetParam();
  tuning_double_.enables[0x80B00F00] = c.control;
  tuning_double_.enables[0x80C00F00] = c.control;
  settings_.aecIndex = c.lux;
  settings_.exposureGain = CFixedPoint(c.gain);
  if (c.tune) c.tune(&tuning_double_, Block());
  ASSERT_EQ(PVL_OK, Block()->Configure(&settings_, c.chain));
  EXPECT_EQ(c.expected, Decode(Block()->GetPayload()));
}

void Off(BlockTuningDouble*, CDemosaicConfiguration* b) { b->Enable().value = 0; }
void NoControl(BlockTuningDouble*, CDemosaicConfiguration* b) { b->ControlEnable().value = 0; }
void AbfOff(BlockTuningDouble*, CDemosaicConfiguration* b) { b->AbfOn().value = 0; }
void AbfNoControl(BlockTuningDouble*, CDemosaicConfiguration* b) { b->AbfControl().value = 0; }
void BpcOff(BlockTuningDouble*, CDemosaicConfiguration* b) { b->BpcOn().value = 0; }
void BpcNoControl(BlockTuningDouble*, CDemosaicConfiguration* b) { b->BpcControl().value = 0; }
void RatioAboveCap(BlockTuningDouble* t, CDemosaicConfiguration*) { t->abf[0x80B00001].Ratio[19] = 0.3f; }
void ShiftAboveCap(BlockTuningDouble* t, CDemosaicConfiguration*) { t->abf[0x80B00001].Shift = 7; }
// The filter's light range from zero, as the tables are tuned for.
void AbfFromZero(BlockTuningDouble* t, CDemosaicConfiguration*) { t->triggers[0x80B00F01] = {0.0f, 2.0f, 0, 200}; }

// Lux 450 is past both ranges: ABF entry 19, BPC low-light thresholds.
constexpr DemosaicFields Dark(uint16_t entry, uint8_t ratio = 8, uint8_t shift = 2) {
  return {1, 2, 1, 0, shift, static_cast<uint16_t>(100 + entry), static_cast<uint16_t>(600 + entry), entry, ratio,
          1, 100, 5, 110, 330, 220};
}
constexpr DemosaicFields WithBpc(DemosaicFields f, uint16_t r, uint16_t b, uint16_t g) {
  f.red = r;
  f.blue = b;
  f.green = g;
  return f;
}

INSTANTIATE_TEST_SUITE_P(
    Light, DemosaicCaseTest,
    ::testing::Values(
        DemosaicCase{"DemosaicOffLeavesTheDefaultsWithEnable0", VfeChain::Video, 0, 450, 1.0, &Off,
                     {0, 0, 0, 0, 3, 1023, 1023, 0, 15, 0, 127, 0, 4095, 4095, 4095}},
        DemosaicCase{"NoControlKeepsTheSlopeShiftAtZero", VfeChain::Video, 0, 450, 1.0, &NoControl,
                     [] { DemosaicFields f = Dark(19); f.slopeShift = 0; return f; }()},
        DemosaicCase{"LuxNotAboveTheEnablingLuxKeepsTheFilterDefaults", VfeChain::Video, 0, 100, 1.0, nullptr,
                     {1, 2, 1, 0, 3, 1023, 1023, 0, 15, 1, 100, 5, 10, 30, 20}},
        DemosaicCase{"LuxAtTheStartTakesEntry0AndNormalThresholds", VfeChain::Video, 0, 200, 1.0, nullptr,
                     WithBpc(Dark(0), 10, 30, 20)},
        DemosaicCase{"LuxAtTheEndTakesEntry19AndLowLightThresholds", VfeChain::Video, 0, 400, 1.0, nullptr,
                     Dark(19)},
        // The rows divide the level itself: lux by (step + 0.5), gain by the
        // step and rounded; levels far from zero run past the table.
        DemosaicCase{"LuxInsideDividesByTheStepAndAHalf", VfeChain::Video, 0, 150, 1.0, &AbfFromZero,
                     // 150 / (10 + 0.5) = 14.3; BPC still below its own range
                     WithBpc(Dark(14), 10, 30, 20)},
        DemosaicCase{"LuxQuotientIsTruncated", VfeChain::Video, 0, 104, 1.0, &AbfFromZero,
                     WithBpc(Dark(9), 10, 30, 20)},
        DemosaicCase{"LuxWholeQuotientTakesItsEntry", VfeChain::Video, 0, 105, 1.0, &AbfFromZero,
                     WithBpc(Dark(10), 10, 30, 20)},
        DemosaicCase{"LuxWhoseQuotientPassesTheTableTakesEntry19", VfeChain::Video, 0, 300, 1.0, nullptr,
                     // 300 / 10.5 = 28.6
                     WithBpc(Dark(19), 60, 180, 120)},
        DemosaicCase{"LuxJustBelowTheEndStaysInsideTheTable", VfeChain::Video, 0, 399, 1.0, nullptr,
                     WithBpc(Dark(19), 109, 328, 219)},
        DemosaicCase{"GainAtTheStartTakesEntry0", VfeChain::Video, 1, 450, 1.0, nullptr, WithBpc(Dark(0), 10, 30, 20)},
        DemosaicCase{"GainHalfWayRoundsToEntry10", VfeChain::Video, 1, 450, 1.0, &AbfFromZero,
                     // 1.0 / 0.1 + 0.5; BPC's gain range starts at 1.0
                     WithBpc(Dark(10), 10, 30, 20)},
        DemosaicCase{"GainBelowAHalfStepRoundsDown", VfeChain::Video, 1, 450, 0.94, &AbfFromZero,
                     WithBpc(Dark(9), 10, 30, 20)},
        DemosaicCase{"GainAboveAHalfStepRoundsUp", VfeChain::Video, 1, 450, 0.96, &AbfFromZero,
                     WithBpc(Dark(10), 10, 30, 20)},
        DemosaicCase{"GainInsideARangeFromOneTakesItsQuotient", VfeChain::Video, 1, 450, 2.6, nullptr,
                     // 2.6 / 0.15 + 0.5 = 17.8; thresholds 10 + 53.3, 30 + 160, 20 + 106.7
                     WithBpc(Dark(17), 63, 190, 126)},
        DemosaicCase{"GainJustBelowTheEndStaysInsideTheTable", VfeChain::Video, 1, 450, 3.99, nullptr,
                     WithBpc(Dark(19), 109, 328, 219)},
        DemosaicCase{"GainAtTheEndTakesEntry19", VfeChain::Video, 1, 450, 4.0, nullptr, Dark(19)},
        DemosaicCase{"RatioAboveAQuarterIsCapped", VfeChain::Video, 0, 450, 1.0, &RatioAboveCap, Dark(19, 16)},
        DemosaicCase{"ShiftAbove3IsCapped", VfeChain::Video, 0, 450, 1.0, &ShiftAboveCap, Dark(19, 8, 3)},
        DemosaicCase{"AbfOffClearsOnlyItsEnable", VfeChain::Video, 0, 450, 1.0, &AbfOff,
                     {1, 2, 0, 0, 3, 1023, 1023, 0, 15, 1, 100, 5, 110, 330, 220}},
        DemosaicCase{"AbfWithoutControlIsOnWithDefaults", VfeChain::Video, 0, 450, 1.0, &AbfNoControl,
                     {1, 2, 1, 0, 3, 1023, 1023, 0, 15, 1, 100, 5, 110, 330, 220}},
        DemosaicCase{"BpcOffClearsOnlyItsEnable", VfeChain::Video, 0, 450, 1.0, &BpcOff,
                     [] { DemosaicFields f = Dark(19); f.bpcEnable = 0; f.bpcMaxFactor = 127; f.bpcMinFactor = 0;
                          f.red = f.blue = f.green = 4095; return f; }()},
        DemosaicCase{"BpcWithoutControlIsOnWithDefaults", VfeChain::Video, 0, 450, 1.0, &BpcNoControl,
                     [] { DemosaicFields f = Dark(19); f.bpcMaxFactor = 127; f.bpcMinFactor = 0;
                          f.red = f.blue = f.green = 4095; return f; }()},
        DemosaicCase{"StillUsesTheSnapshotEnablingLux", VfeChain::Snapshot, 0, 120, 1.0, nullptr,
                     {1, 2, 1, 0, 3, 1023, 1023, 0, 15, 1, 100, 5, 11, 31, 21}},
        DemosaicCase{"StillUsesTheSnapshotTables", VfeChain::Snapshot, 0, 450, 1.0, nullptr,
                     {1, 2, 1, 0, 2, 219, 719, 19, 8, 1, 100, 5, 111, 331, 221}}),
    CaseName<DemosaicCase>);

using DemosaicBlockTest = DemosaicCaseTest;

TEST_F(DemosaicBlockTest, AFailingReadIsReturnedAndKeepsTheMarkers) {
  tuning_double_.abf.erase(0x80B00001);
  settings_.aecIndex = 450;
  Block()->ControlEnable().changed = 1;
  EXPECT_EQ(PVL_E_BADARG, Block()->Configure(&settings_, VfeChain::Video));
  EXPECT_TRUE(Block()->HasTuningChanged());
  EXPECT_EQ(1, U8At(&Block()->GetPayload(), 2)) << "ABF on with its defaults";
  EXPECT_EQ(1023, U16At(&Block()->GetPayload(), 6));
  settings_.fail["GetAecIndex"] = 20;
  EXPECT_EQ(20, Block()->Configure(&settings_, VfeChain::Video));
}

TEST_F(DemosaicBlockTest, ARecomputationClearsTheMarkersButAnOffBlockKeepsThem) {
  settings_.aecIndex = 450;
  Block()->Enable().changed = 1;
  Block()->BpcControl().changed = 1;
  ASSERT_EQ(PVL_OK, Block()->Configure(&settings_, VfeChain::Video));
  EXPECT_FALSE(Block()->HasTuningChanged());
  Block()->Enable() = CTuningFlag(0);
  Block()->Enable().changed = 1;
  ASSERT_EQ(PVL_OK, Block()->Configure(&settings_, VfeChain::Video));
  EXPECT_TRUE(Block()->HasTuningChanged());
}

TEST_F(DemosaicBlockTest, TheUpdateSendsTheFilterHalfThenTheBadPixelHalf) {
  settings_.aecIndex = 450;
  ASSERT_EQ(PVL_OK, Block()->Configure(&settings_, VfeChain::Runtime));
  service_->sent.clear();
  ASSERT_EQ(PVL_OK, Block()->SendUpdate());
  ASSERT_EQ((std::vector<int32_t>{VFE_CMD_DEMOSAIC_UPDATE1, VFE_CMD_DEMOSAIC_UPDATE2}), service_->Commands());
  const uint8_t* p = reinterpret_cast<const uint8_t*>(&Block()->GetPayload());
  EXPECT_EQ(std::vector<uint8_t>(p + 2, p + 14), service_->sent[0].payload);
  EXPECT_EQ(std::vector<uint8_t>(p + 14, p + 26), service_->sent[1].payload);
}

TEST_F(DemosaicBlockTest, ARefusedFilterHalfSendsNoBadPixelHalf) {
  service_->answers[VFE_CMD_DEMOSAIC_UPDATE1] = PVL_E_NOTREADY;
  EXPECT_EQ(PVL_E_NOTREADY, Block()->SendUpdate());
  EXPECT_EQ((std::vector<int32_t>{VFE_CMD_DEMOSAIC_UPDATE1}), service_->Commands());
}

}  // namespace
}  // namespace vfeconfigtest
