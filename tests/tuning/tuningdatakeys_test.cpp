// The "TuningData" key table against the layout rules of the parameter block.
#include <gtest/gtest.h>

#include <cstddef>
#include <map>
#include <set>
#include <string>

#include "tuningblock.h"
#include "tuningdatakeys.h"
#include "tuningpattern.h"

using tuningtest::Key;

namespace {

uint32_t ElementSize(TuningValueType t) {
  switch (t) {
    case TUNING_TYPE_S8: case TUNING_TYPE_U8: return 1;
    case TUNING_TYPE_S16: case TUNING_TYPE_U16: return 2;
    case TUNING_TYPE_S32: case TUNING_TYPE_U32: case TUNING_TYPE_FLOAT: return 4;
    case TUNING_TYPE_DOUBLE: return 8;
    default: return 0;
  }
}

std::string Family(const char* name) {
  std::string s(name);
  return s.substr(0, s.find('-'));
}

// Keys whose place the family descriptions give explicitly instead of by the rule.
const std::map<std::string, uint32_t> kPlaced = {
    {"Misc-VarnixVersion", 0},
    {"ColorConv-Control", 212},
    {"AEC-TableExpTableFlag", 1352},
    {"AEC-TableExposureEntriesLineCt", 1356},
    {"AEC-Default", 5356},
    {"AEC-BrightRegion-Supported", 5416},
    {"AF-TotalSteps", 5490},
    {"AF-Config-MinY", 5528},
    {"AF-WindowType", 5558},
    {"AF-SkinAssisted", 5560},
    {"AF-FVMetric", 5548},
    {"AF-VfeHpf-a00", 5550},
    {"Gamma-Control", 5561},
    {"3X3ASF-Regular-EdgeThresh", 30810},
    {"3X3ASF-Regular-NoiseThresh", 30808},
    {"3X3ASF-Regular-EdgeFlag", 30814},
    {"3X3ASF-LowLight-EdgeThresh", 30890},
    {"3X3ASF-LowLight-NoiseThresh", 30888},
    {"3X3ASF-LowLight-EdgeFlag", 30894},
    {"5X5ASF-Control", 30896},
    {"5X5ASF-SnapshotFilter-SettingLowLightLowThresh", 31068},
    {"5X5ASF-SnapshotFilter-SettingNormalLowThresh", 31088},
    {"5X5ASF-SnapshotFilter-SettingBrightLowThresh", 31108},
    {"5X5ASF-PreviewFilter-SettingLowLightLowThresh", 31268},
    {"5X5ASF-PreviewFilter-SettingNormalLowThresh", 31288},
    {"5X5ASF-PreviewFilter-SettingBrightLowThresh", 31308},
    {"ABF-Snapshot-FilterData-LPThr", 31432},
    {"ABF-Preview-FilterData-LPThr", 31636},
    {"ABF-Snapshot-EnableLuxIndex", 31841},
    {"ABF-Preview-EnableLuxIndex", 31840},
    {"ABF-Snapshot-Index-GainStart", 31860},
    {"ABF-Preview-Index-GainStart", 31844},
    {"AFD-DetectionDataStdThresh", 31876},
    {"Demosaic-SlopeShift", 32180},
};

bool InStretchRecord(const TuningKeyDef& k) { return k.offset >= TUNING_BLOCK_SIZE; }

}  // namespace

TEST(TuningDataKeys, RegistrationOrderNamesAndFlags) {
  EXPECT_STREQ(g_TuningDataKeys[0].name, "ColorCorr-Control");
  const TuningKeyDef& last = g_TuningDataKeys[TUNING_DATA_KEY_COUNT - 1];
  EXPECT_STREQ(last.name, "Misc-VarnixVersion");
  EXPECT_EQ(last.offset, 0u);
  EXPECT_EQ(last.type, TUNING_TYPE_U16);
  EXPECT_EQ(last.flags, 1u);

  std::set<std::string> names;
  for (uint32_t i = 0; i < TUNING_DATA_KEY_COUNT; ++i) {
    const TuningKeyDef& k = g_TuningDataKeys[i];
    EXPECT_TRUE(names.insert(k.name).second) << "duplicate " << k.name;
    EXPECT_LE(std::string(k.name).size(), 59u) << k.name;
    EXPECT_GE(k.count, 1u) << k.name;
    EXPECT_NE(ElementSize(k.type), 0u) << k.name;
    if (i != TUNING_DATA_KEY_COUNT - 1) {
      EXPECT_EQ(k.flags, 0u) << k.name;
    }
  }
}

TEST(TuningDataKeys, FamilyCounts) {
  const std::map<std::string, int> expected = {
      {"ColorCorr", 57}, {"ColorConv", 117}, {"BSMColorConv", 57}, {"MWB", 18}, {"AWB", 78},
      {"AWBExt", 58},    {"AEC", 75},        {"AF", 33},           {"Gamma", 32}, {"BlackLevel", 23},
      {"Rolloff", 59},   {"3X3ASF", 54},     {"5X5ASF", 173},      {"LumaAdapt", 5}, {"ChromaSupp", 33},
      {"HJR", 7},        {"ABF", 21},        {"AFD", 4},           {"BPC", 23},   {"Skintone", 9},
      {"AFR", 48},       {"Demosaic", 1},    {"Misc", 1}};
  std::map<std::string, int> counted;
  std::vector<std::string> order;
  for (const TuningKeyDef& k : g_TuningDataKeys) {
    std::string f = Family(k.name);
    if (order.empty() || order.back() != f) order.push_back(f);
    ++counted[f];
  }
  EXPECT_EQ(counted, expected);
  // Each family is registered as one run, in binding order.
  const std::vector<std::string> binding = {"ColorCorr", "ColorConv", "BSMColorConv", "MWB", "AWB", "AWBExt",
                                            "AEC", "AF", "Gamma", "BlackLevel", "Rolloff", "3X3ASF", "5X5ASF",
                                            "LumaAdapt", "ChromaSupp", "HJR", "ABF", "AFD", "BPC", "Skintone",
                                            "AFR", "Demosaic", "Misc"};
  EXPECT_EQ(order, binding);
}

// Each key follows the end of the previous key in the block, rounded up to its
// element size, unless its place is stated.
TEST(TuningDataKeys, FollowTheLayoutRule) {
  uint32_t end = 0;
  bool first = true;
  for (const TuningKeyDef& k : g_TuningDataKeys) {
    if (InStretchRecord(k)) continue;
    uint32_t size = ElementSize(k.type);
    auto placed = kPlaced.find(k.name);
    if (placed != kPlaced.end()) {
      EXPECT_EQ(k.offset, placed->second) << k.name;
    } else if (first) {
      EXPECT_EQ(k.offset, 2u) << k.name;
    } else {
      EXPECT_EQ(k.offset, (end + size - 1) / size * size) << k.name;
    }
    first = false;
    // The line-count key overlays the gain key's entries.
    if (k.converter != TUNING_KEY_EXPOSURE_LINECOUNT) end = k.offset + size * k.count;
  }
}

TEST(TuningDataKeys, StatedOffsetsAndTotal) {
  const std::map<std::string, uint32_t> stated = {
      {"ColorCorr-Control", 2},       {"ColorConv-Control", 212},          {"BSMColorConv-SatFactor", 648},
      {"MWB-Fluorescent-RGain", 860}, {"AWB-ChannelGain-GreenEvenRow", 932}, {"AWBExt-CClusterDistSq", 1166},
      {"AEC-TableExpTableFlag", 1352}, {"AEC-TableExposureEntriesGain", 1356}, {"AEC-Default", 5356},
      {"AEC-BrightRegion-Supported", 5416}, {"AF-TotalSteps", 5490},       {"Gamma-Control", 5561},
      {"Gamma-Preview-BacklightMode", 12803}, {"BlackLevel-Control", 12805}, {"Rolloff-Control", 12870},
      {"3X3ASF-Control", 30688},      {"5X5ASF-Control", 30896},           {"LumaAdapt-NumIterations", 31340},
      {"ChromaSupp-Control", 31345},  {"HJR-MaxFrames", 31404},            {"ABF-Control", 31430},
      {"AFD-DetectionDataStdThresh", 31876}, {"BPC-MinFactor", 31892},     {"Skintone-HMin", 31952},
      {"AFR-0-FPS", 31988},           {"Demosaic-SlopeShift", 32180},
      {"AEC-ExpStretch-Enable", TUNING_BLOCK_SIZE + 0},
      {"AEC-ExpStretch-ValidEntries", TUNING_BLOCK_SIZE + 2},
      {"AEC-ExpStretch-SnapshotAETable-9-MaxExpTime", TUNING_BLOCK_SIZE + 12 + 12 * 9}};
  for (const auto& [name, offset] : stated) EXPECT_EQ(Key(name).offset, offset) << name;

  // Every key lies inside its record; the block is 32,184 bytes and its last
  // named byte is the demosaic slope shift.
  uint32_t blockEnd = 0;
  for (const TuningKeyDef& k : g_TuningDataKeys) {
    uint32_t size = ElementSize(k.type);
    uint32_t end = k.converter == TUNING_KEY_PLAIN ? k.offset + size * k.count
                                                   : k.offset + sizeof(TuningExposureEntry) * k.count;
    if (InStretchRecord(k)) {
      EXPECT_LE(end, TUNING_TABLE_SIZE) << k.name;
    } else {
      EXPECT_LE(end, TUNING_BLOCK_SIZE) << k.name;
      blockEnd = std::max(blockEnd, end);
    }
  }
  EXPECT_EQ(blockEnd, 32181u);
  EXPECT_EQ(sizeof(TuningParameterBlock), 32184u);
  // A 64-bit build pads the table to its doubles' alignment; the content ends at 32,308.
  EXPECT_EQ(offsetof(TuningDataTable, ExposureStretch) + sizeof(TuningExposureStretch), 32308u);
}

// The block structure that the getters read places fields where the keys say.
TEST(TuningDataKeys, AgreeWithTheBlockStructure) {
#define AT(member) static_cast<uint32_t>(offsetof(TuningDataTable, member))
  const std::map<std::string, uint32_t> fields = {
      {"Misc-VarnixVersion", AT(Block.MiscVarnixVersion)},
      {"ColorCorr-Preview-LowLight-BOffset", AT(Block.ColorCorrPreviewLowLight.BOffset)},
      {"ColorConv-Aqua-Yoffset", AT(Block.ColorConv[CCONV_AQUA].Yoffset)},
      {"BSMColorConv-SkinA-RtoY", AT(Block.BSMColorConv[BSM_SKIN_A].RtoY)},
      {"MWB-LED-BGain", AT(Block.MWB[MWB_LED].BGain)},
      {"AWB-RefPointsNoon-BlueAdj", AT(Block.AWBRefPoints[AWBREF_NOON].BlueAdj)},
      {"AWB-StatConfigOutdoor-CrOffset4", AT(Block.AWBStatConfig[STATCFG_OUTDOOR].CrOffset4)},
      {"AWB-SkipFramesAfterChangingVFE", AT(Block.AWBSkipFramesAfterChangingVFE)},
      {"AWBExt-SampleInfluenceIndoor", AT(Block.AWBExtSampleInfluence.Indoor)},
      {"AWBExt-WeightVectorDaylight-InOut", AT(Block.AWBExtWeightVector[9].InOut)},
      {"AEC-NightshotTableIndex", AT(Block.AECNightshotTableIndex)},
      {"AEC-DarkRegion-Reduction3", AT(Block.AECDarkRegionReduction[3])},
      {"AF-Config-VertClipRatio", AT(Block.AFConfig.VertClipRatio)},
      {"AF-VfeHpf-a24", AT(Block.AFVfeHpf[7])},
      {"Gamma-Snapshot-OutdoorMode", AT(Block.GammaSnapshot[GAMMA_OUTDOOR].Mode)},
      {"Gamma-Preview-LowLightTrigger-LuxIndexEnd", AT(Block.GammaPreviewLowLightTrigger.LuxIndexEnd)},
      {"Gamma-SolarizeReflection", AT(Block.GammaSolarizeReflection)},
      {"BlackLevel-Preview-NormalLight4Channel-BlackOddRowOddCol",
       AT(Block.BlackLevelPreview.NormalLight4Channel.OddRowOddCol)},
      {"Rolloff-TableLowLight-BlueTable", AT(Block.RolloffTable[ROLLOFF_LOWLIGHT].BlueTable)},
      {"Rolloff-MeshLowLight-BGain", AT(Block.RolloffMesh[ROLLOFF_LOWLIGHT].BGain)},
      {"3X3ASF-LowLight-NoiseA33", AT(Block.Asf3x3[1].NoiseA[8])},
      {"5X5ASF-SnapshotFilter-Filter2A55", AT(Block.Asf5x5SnapshotFilter.Filter2[24])},
      {"5X5ASF-SnapshotFilter-ExtrFactor", AT(Block.Asf5x5SnapshotFilter.ExtrFactor)},
      {"5X5ASF-SoftFocusDegree", AT(Block.Asf5x5SoftFocusDegree)},
      {"5X5ASF-PreviewFilter-SettingBrightSmoothPct", AT(Block.Asf5x5PreviewFilter.Setting[ASF_BRIGHT].SmoothPct)},
      {"5X5ASF-SharpMaxFactor", AT(Block.Asf5x5SharpMaxFactor)},
      {"ChromaSupp-Preview-NormalLight-ChromaThresh2", AT(Block.ChromaSuppPreviewNormalLight.ChromaThresh2)},
      {"HJR-BayerFilterEnable", AT(Block.HJRBayerFilterEnable)},
      {"ABF-Preview-FilterData-Max", AT(Block.ABFPreviewFilterData.Max)},
      {"AFD-DetectionDataFrameCtThresh", AT(Block.AFDDetectionDataFrameCtThresh)},
      {"BPC-Preview-DiffThresholdLowLight-Blue", AT(Block.BPCPreview.LowLight.Blue)},
      {"Skintone-T0", AT(Block.SkintoneT0)},
      {"AFR-7-SlowerExpTableIndexMod", AT(Block.AFR[7].SlowerExpTableIndexMod)},
      {"AEC-ExpStretch-SnapshotAETable-3-GainTradeoff", AT(ExposureStretch.SnapshotAETable[3].GainTradeoff)},
  };
#undef AT
  for (const auto& [name, offset] : fields) EXPECT_EQ(Key(name).offset, offset) << name;
}
