// Roll-off: the grid head for the default frame and for a camera-interface
// window, the edge gains and per-pixel steps from the mesh (channel order,
// truncation, saturation), the still's table choice by light and illuminant,
// and a still that keeps its table getting steps for its own cell width.
#include <gtest/gtest.h>

#include "tunedblockfixture.h"

namespace vfeconfigtest {
namespace {

constexpr uint32_t kGains = TUNING_ROLLOFF_MESH_GAINS;

TuningRolloffMesh Flat(float r, float gr, float gb, float b) {
  TuningRolloffMesh m{};
  for (uint32_t i = 0; i < kGains; ++i) {
    m.RGain[i] = r;
    m.GRGain[i] = gr;
    m.GBGain[i] = gb;
    m.BGain[i] = b;
  }
  return m;
}

class RolloffFixture : public TunedBlockFixture {
 public:
  void SetUpRolloff() {
    BlockTuningDouble& t = tuning_double_;
    // Each table flat at its own gain, so the edge gain names the table.
    t.meshes[0x80600100] = Flat(1.0f, 1.25f, 1.5f, 1.75f);
    t.meshes[0x80600101] = Flat(1.1f, 1.1f, 1.1f, 1.1f);
    t.meshes[0x80600102] = Flat(1.2f, 1.2f, 1.2f, 1.2f);
    t.meshes[0x80600103] = Flat(1.3f, 1.3f, 1.3f, 1.3f);
    t.enables[0x80600F00] = 1;
    t.SetFloatWord(0x80600F01, 4.0f);
    t.ints[0x80600F02] = 300;
    Window(1296, 972);
  }
  void Window(uint16_t w, uint16_t h) {
    VfeCamifCmd& camif = service_->camif->GetPayload();
    camif.firstPixel = 0;
    camif.lastPixel = static_cast<uint16_t>(w - 1);
    camif.firstLine = 0;
    camif.lastLine = static_cast<uint16_t>(h - 1);
  }
  CRolloffConfiguration* Block() { return service_->rolloff; }
  const VfeRolloffCmd& P() { return Block()->GetPayload(); }
  BlockTuningDouble& Tuning() { return tuning_double_; }
  VfeSettingsDouble& Settings() { return settings_; }
};

class RolloffTest : public ::testing::Test, public RolloffFixture {
 protected:
  void SetUp() override {
    SetUpTuned();
    SetUpRolloff();
  }
  void TearDown() override { TearDownTuned(); }
};

struct GridCase {
  const char* name;
  uint16_t width, height;
  bool enabled;
  uint16_t cellWidthLess1, cellHeightLess1, reciprocal;
};
class RolloffGridTest : public ::testing::WithParamInterface<GridCase>, public RolloffTest {};

TEST_P(RolloffGridTest, WritesTheGridHead) {
  const GridCase& c = GetParam();
  Window(c.width, c.height);
  Block()->Enable() = CTuningFlag(c.enabled ? 1 : 0);
  ASSERT_EQ(PVL_OK, Block()->Configure(&settings_, VfeChain::Video));
  EXPECT_EQ(c.enabled ? 1 : 0, U8At(&P(), 0));
  EXPECT_EQ(c.cellWidthLess1, U16At(&P(), 2));
  EXPECT_EQ(c.cellHeightLess1, U16At(&P(), 4));
  EXPECT_EQ(c.reciprocal, U16At(&P(), 6));
  for (size_t offset = 8; offset < 16; ++offset) EXPECT_EQ(0, U8At(&P(), offset)) << "byte " << offset;
}

INSTANTIATE_TEST_SUITE_P(
    Windows, RolloffGridTest,
    ::testing::Values(
        // ceil(40.5) = 41 cells; 4096 / 41 = 99.9 is truncated.
        GridCase{"PreviewWindowTruncatesTheReciprocal", 1296, 972, true, 40, 40, 99},
        // The default 1032 x 771 frame: 33 x 33 cells, 1/33 rounded to 124.
        GridCase{"OffKeepsTheDefaultGridWithItsRoundedReciprocal", 1296, 972, false, 32, 32, 124},
        GridCase{"FullWindow", 2592, 1944, true, 80, 80, 50},
        GridCase{"ExactCells", 1024, 768, true, 31, 31, 128}),
    CaseName<GridCase>);

TEST_F(RolloffTest, FlatMeshesGiveUnityEdgesNoStepsAndTheSwappedChannels) {
  ASSERT_EQ(PVL_OK, Block()->Configure(&settings_, VfeChain::Video));
  // Channels: the meshes at 4, 888, 2656, 1772 (R, GR, B, GB).
  const uint16_t edges[4] = {8192, 10240, 14336, 12288};
  for (int c = 0; c < 4; ++c) {
    for (int r = 0; r < 13; ++r) EXPECT_EQ(edges[c], U16At(&P(), 16 + 26 * c + 2 * r)) << "channel " << c;
    for (int k = 0; k < 208; ++k) ASSERT_EQ(0, S16At(&P(), 120 + 416 * c + 2 * k)) << "channel " << c;
  }
}

struct StepCase {
  const char* name;
  float difference;
  uint16_t width;
  int16_t step;
};
class RolloffStepTest : public ::testing::WithParamInterface<StepCase>, public RolloffTest {};

TEST_P(RolloffStepTest, StepIsTheQ20DifferenceOverTheCellWidth) {
  const StepCase& c = GetParam();
  TuningRolloffMesh& m = tuning_double_.meshes[0x80600100];
  // Row 2 of the red mesh rises between its columns 4 and 5.
  for (int k = 5; k < 17; ++k) m.RGain[2 * 17 + k] = 1.0f + c.difference;
  Window(c.width, 972);
  ASSERT_EQ(PVL_OK, Block()->Configure(&settings_, VfeChain::Video));
  EXPECT_EQ(c.step, S16At(&P(), 120 + 2 * (2 * 16 + 4)));
  EXPECT_EQ(0, S16At(&P(), 120 + 2 * (2 * 16 + 3)));
  EXPECT_EQ(0, S16At(&P(), 120 + 2 * (2 * 16 + 5)));
  EXPECT_EQ(8192, U16At(&P(), 16 + 2 * 2)) << "the row's edge gain";
}

INSTANTIATE_TEST_SUITE_P(
    Steps, RolloffStepTest,
    ::testing::Values(
        // (2048 << 8) / 41 = 12787.5
        StepCase{"HalfOverCellWidth41", 0.5f, 1296, 12787},
        StepCase{"NegativeTruncatesTowardZero", -0.5f, 1296, -12787},
        StepCase{"HalfOverCellWidth81", 0.5f, 2592, 6472},
        // (8192 << 8) / 41 is past 16 bits: the step saturates instead of wrapping.
        StepCase{"SteepMeshSaturates", 2.0f, 1296, 32767}),
    CaseName<StepCase>);

struct ChoiceCase {
  const char* name;
  void (*setUp)(RolloffFixture*);
  TuningParamId table;
  uint16_t edge;
};
class RolloffChoiceTest : public ::testing::WithParamInterface<ChoiceCase>, public RolloffTest {};

TEST_P(RolloffChoiceTest, AStillTakesTheTableForItsLight) {
  const ChoiceCase& c = GetParam();
  settings_.exposureGain = CFixedPoint(2.0);
  settings_.illuminant = 4;
  c.setUp(this);
  ASSERT_EQ(PVL_OK, Block()->Configure(&settings_, VfeChain::Snapshot));
  EXPECT_EQ(c.table, Block()->GetLoadedTable());
  EXPECT_EQ(c.edge, U16At(&P(), 16));
}

INSTANTIATE_TEST_SUITE_P(
    Light, RolloffChoiceTest,
    ::testing::Values(
        ChoiceCase{"OtherIlluminant", [](RolloffFixture*) {}, 0x80600100, 8192},
        ChoiceCase{"IlluminantClass2", [](RolloffFixture* f) { f->Settings().illuminant = 2; }, 0x80600102, 9830},
        ChoiceCase{"IlluminantClass6", [](RolloffFixture* f) { f->Settings().illuminant = 6; }, 0x80600101, 9011},
        ChoiceCase{"GainAtTheLowLightThreshold",
                   [](RolloffFixture* f) { f->Settings().exposureGain = CFixedPoint(4.0); }, 0x80600103, 10650},
        ChoiceCase{"LuxBelowTheLowLightIndex",
                   [](RolloffFixture* f) {
                     f->Tuning().enables[0x80600F00] = 0;
                     f->Settings().aecIndex = 299;
                     f->Settings().illuminant = 7;
                   },
                   0x80600101, 9011},
        ChoiceCase{"LuxAtTheLowLightIndex",
                   [](RolloffFixture* f) {
                     f->Tuning().enables[0x80600F00] = 0;
                     f->Settings().aecIndex = 300;
                   },
                   0x80600103, 10650},
        ChoiceCase{"WithoutControlTheDefaultTable",
                   [](RolloffFixture* f) {
                     f->Block()->ControlEnable() = CTuningFlag(0);
                     f->Settings().exposureGain = CFixedPoint(8.0);
                   },
                   0x80600100, 8192}),
    CaseName<ChoiceCase>);

// A still with luma adaptation keeps the preview's table, but its steps must
// fit the still's wider cells, not the preview's.
TEST_F(RolloffTest, AStillKeepingItsTableGetsStepsForItsOwnCells) {
  TuningRolloffMesh& m = tuning_double_.meshes[0x80600100];
  for (int k = 1; k < 17; ++k) m.RGain[k] = 1.5f;
  ASSERT_EQ(PVL_OK, Block()->Configure(&settings_, VfeChain::Video));
  ASSERT_EQ(12787, S16At(&P(), 120));
  settings_.lumaAdaptationMode = 1;
  settings_.exposureGain = CFixedPoint(8.0);  // would pick the low-light table
  Window(2592, 1944);
  ASSERT_EQ(PVL_OK, Block()->Configure(&settings_, VfeChain::Snapshot));
  EXPECT_EQ(0x80600100u, Block()->GetLoadedTable());
  EXPECT_EQ(80, U16At(&P(), 2));
  EXPECT_EQ(6472, S16At(&P(), 120));
}

TEST_F(RolloffTest, AStillWithEffect4KeepsItsTableToo) {
  ASSERT_EQ(PVL_OK, Block()->Configure(&settings_, VfeChain::Video));
  settings_.effectMode = 1;
  settings_.effect = 4;
  settings_.illuminant = 2;
  ASSERT_EQ(PVL_OK, Block()->Configure(&settings_, VfeChain::Snapshot));
  EXPECT_EQ(0x80600100u, Block()->GetLoadedTable());
}

TEST_F(RolloffTest, AMissingTableIsReturnedAndKeepsTheMarkers) {
  tuning_double_.meshes.erase(0x80600100);
  Block()->Enable().changed = 1;
  EXPECT_EQ(PVL_E_BADARG, Block()->Configure(&settings_, VfeChain::Video));
  EXPECT_TRUE(Block()->HasTuningChanged());
  tuning_double_.meshes[0x80600100] = Flat(1, 1, 1, 1);
  ASSERT_EQ(PVL_OK, Block()->Configure(&settings_, VfeChain::Video));
  EXPECT_FALSE(Block()->HasTuningChanged());
}

TEST_F(RolloffTest, ApplySendsAll1784Bytes) {
  ASSERT_EQ(PVL_OK, Block()->Configure(&settings_, VfeChain::Video));
  service_->sent.clear();
  ASSERT_EQ(PVL_OK, Block()->Apply());
  ASSERT_EQ(1u, service_->sent.size());
  EXPECT_EQ(VFE_CMD_ROLLOFF, service_->sent[0].command);
  EXPECT_EQ(Bytes(P()), service_->sent[0].payload);
  EXPECT_EQ(1784u, service_->sent[0].payload.size());
}

}  // namespace
}  // namespace vfeconfigtest
