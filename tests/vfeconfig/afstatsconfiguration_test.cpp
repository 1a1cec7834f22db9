// AF statistics: the focus window from the crop window and the tuned ratios,
// the picked cells (none picked keeps the defaults), the metric and high-pass
// taps, the grid handed to the AF output, the switches, failures and the
// 10-byte update.
#include <gtest/gtest.h>

#include "tunedblockfixture.h"

namespace vfeconfigtest {
namespace {

const std::vector<uint8_t> kDefaults = {
    0x01, 0x01, 0x90, 0x01, 0x2C, 0x01, 0x20, 0x03, 0x58, 0x02,                         // 400, 300, 800, 600
    0x00, 0x19, 0x22, 0x3B, 0x44, 0x5D, 0x66, 0x7F, 0x88, 0x91, 0xAA, 0xB3, 0xCC, 0xD5, 0xEE, 0xF7,  // cells
    0x01, 0x00, 0xFF, 0x07, 0xFE, 0xFE, 0xFF, 0xFF, 0x08, 0xFF, 0xFF, 0x4F};

class AfFixture : public TunedBlockFixture {
 public:
  void SetUpAf() {
    tuning_double_.hpf[0x80D00000] = {-3, 99, -4, -5, -6, 20, -7, -8};
    tuning_double_.afWindows[0x80D00001] = {10, 200, 0.25f, 0.25f, 0.5f, 0.5f};
    tuning_double_.ints[0x80D00002] = 1;
    // A 1600 x 1200 crop window starting at (6, 3).
    VfeFovCropCmd& crop = service_->crop->GetPayload();
    crop.firstPixel = 6;
    crop.lastPixel = 1605;
    crop.firstLine = 3;
    crop.lastLine = 1202;
  }
  void Cells(std::initializer_list<uint8_t> cells, int32_t count) {
    settings_.afWholeFrame = 0;
    settings_.afCellCount = count;
    int i = 0;
    for (uint8_t c : cells) settings_.afCells[i++] = c;
  }
  CAFStatsConfiguration* Block() { return service_->afStats; }
  std::vector<uint8_t> Payload() { return Bytes(Block()->GetPayload()); }
  BlockTuningDouble& Tuning() { return tuning_double_; }
};

class AfTest : public ::testing::Test, public AfFixture {
 protected:
  void SetUp() override {
    SetUpTuned();
    SetUpAf();
  }
  void TearDown() override { TearDownTuned(); }
};

struct AfCase {
  const char* name;
  void (*setUp)(AfFixture*);
  uint8_t mode;
  uint16_t x, y, w, h;
  std::vector<uint8_t> cells;
  uint32_t gridW, gridH;
};
class AfWindowTest : public ::testing::WithParamInterface<AfCase>, public AfTest {};

TEST_P(AfWindowTest, PlacesTheWindow) {
  const AfCase& c = GetParam();
  c.setUp(this);
  ASSERT_EQ(PVL_OK, Block()->Configure(&settings_));
  const VfeAfStatsCmd& p = Block()->GetPayload();
  EXPECT_EQ(c.mode, U8At(&p, 1));
  EXPECT_EQ(c.x, U16At(&p, 2));
  EXPECT_EQ(c.y, U16At(&p, 4));
  EXPECT_EQ(c.w, U16At(&p, 6));
  EXPECT_EQ(c.h, U16At(&p, 8));
  const std::vector<uint8_t> all = Payload();
  EXPECT_EQ(c.cells, std::vector<uint8_t>(all.begin() + 10, all.begin() + 26));
  EXPECT_EQ(c.gridW, service_->afOutput.gridWidth);
  EXPECT_EQ(c.gridH, service_->afOutput.gridHeight);
}

const std::vector<uint8_t> kDefaultCells(kDefaults.begin() + 10, kDefaults.begin() + 26);

INSTANTIATE_TEST_SUITE_P(
    Windows, AfWindowTest,
    ::testing::Values(
        AfCase{"WholeFrameTakesTheTunedCentre", [](AfFixture*) {}, 0, 406, 303, 800, 600, kDefaultCells, 800, 600},
        AfCase{"ThreeCellsFillTheRestWithTheFirst", [](AfFixture* f) { f->Cells({5, 6, 7}, 3); }, 1, 6, 3, 1600,
               1200, {5, 6, 7, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5}, 1600, 1200},
        AfCase{"NoCellPickedKeepsTheDefaultCells", [](AfFixture* f) { f->Cells({}, 0); }, 1, 6, 3, 1600, 1200,
               kDefaultCells, 1600, 1200},
        AfCase{"SixteenCellsAtMost",
               [](AfFixture* f) {
                 f->Cells({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}, 20);
               },
               1, 6, 3, 1600, 1200, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}, 1600, 1200}),
    CaseName<AfCase>);

TEST_F(AfTest, WithoutControlThePayloadIsTheDefaultTable) {
  Block()->ControlEnable() = CTuningFlag(0);
  ASSERT_EQ(PVL_OK, Block()->Configure(&settings_));
  EXPECT_EQ(kDefaults, Payload());
}

TEST_F(AfTest, OffClearsOnlyTheEnable) {
  Block()->Enable() = CTuningFlag(0);
  ASSERT_EQ(PVL_OK, Block()->Configure(&settings_));
  std::vector<uint8_t> expected = kDefaults;
  expected[0] = 0;
  EXPECT_EQ(expected, Payload());
}

TEST_F(AfTest, TheTapsAreTheLowBytesWithoutA02) {
  ASSERT_EQ(PVL_OK, Block()->Configure(&settings_));
  const std::vector<uint8_t> all = Payload();
  EXPECT_EQ((std::vector<uint8_t>{0xFD, 0xFC, 0xFB, 0xFA, 0x14, 0xF9, 0xF8}),
            std::vector<uint8_t>(all.begin() + 30, all.begin() + 37));
  EXPECT_EQ(2047, U16At(all.data(), 28));
  EXPECT_EQ(79, all[37]);
}

TEST_F(AfTest, AnyNonZeroMetricSetsTheFlag) {
  for (int32_t metric : {0, 1, 7}) {
    tuning_double_.ints[0x80D00002] = metric;
    ASSERT_EQ(PVL_OK, Block()->Configure(&settings_));
    EXPECT_EQ(metric != 0 ? 1 : 0, U8At(&Block()->GetPayload(), 26)) << "metric " << metric;
  }
}

TEST_F(AfTest, FailuresAreReturnedAndKeepTheMarkers) {
  Block()->ControlEnable().changed = 1;
  tuning_double_.afWindows.clear();
  EXPECT_EQ(PVL_E_BADARG, Block()->Configure(&settings_));
  EXPECT_TRUE(Block()->HasTuningChanged());
  EXPECT_EQ(kDefaults, Payload());
  SetUpAf();
  settings_.fail["GetAFWindowConfig"] = 20;
  EXPECT_EQ(20, Block()->Configure(&settings_));
  EXPECT_TRUE(Block()->HasTuningChanged());
  settings_.fail.clear();
  ASSERT_EQ(PVL_OK, Block()->Configure(&settings_));
  EXPECT_FALSE(Block()->HasTuningChanged());
}

TEST_F(AfTest, TheUpdateCarriesTheModeAndTheWindow) {
  Cells({5}, 1);
  ASSERT_EQ(PVL_OK, Block()->Configure(&settings_));
  service_->sent.clear();
  ASSERT_EQ(PVL_OK, Block()->SendUpdate());
  ASSERT_EQ((std::vector<int32_t>{VFE_CMD_AF_STATS_UPDATE}), service_->Commands());
  EXPECT_EQ((std::vector<uint8_t>{1, 0, 6, 0, 3, 0, 0x40, 0x06, 0xB0, 0x04}), service_->sent[0].payload);
}

}  // namespace
}  // namespace vfeconfigtest
