// Tuning parameter queries by identifier against a patterned block.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "bestshot.h"
#include "ctuningparamreader.h"
#include "tuningpattern.h"

using namespace tuningtest;

namespace {

class TuningParamReaderTest : public ::testing::Test {
 protected:
  void SetUp() override { table = MakePatternedTable(); }
  CTuningParamReader Reader(const BestShotRecord* bestShot = nullptr) const {
    return CTuningParamReader(&table->Block, &table->ExposureStretch, bestShot);
  }
  BestShotRecord Override(int column, int32_t value) const {
    BestShotRecord r{};
    r.Words[column] = value;
    return r;
  }
  std::unique_ptr<TuningDataTable> table;
};

struct IntCase {
  TuningParamId id;
  const char* key;
};

// The 69 integer identifiers and the keys they read.
const IntCase kIntCases[] = {
    {0x00100200, "AWB-IndoorIndex"}, {0x00100201, "AWB-OutdoorIndex"}, {0x00100204, "AWB-OutlierDist"},
    {0x00100205, "AWB-GreenOffRG"}, {0x00100206, "AWB-GreenOffBG"}, {0x00100207, "AWB-SkipFramesAfterChangingVFE"},
    {0x00200000, "AWBExt-CClusterDistSq"}, {0x00200001, "AWBExt-CClusterToRefSq"},
    {0x00200002, "AWBExt-AClusterThresh"}, {0x00200003, "AWBExt-FClusterThresh"},
    {0x00200004, "AWBExt-DayClusterThresh"}, {0x00200005, "AWBExt-OutdoorGThresh"},
    {0x00200006, "AWBExt-OutdoorGThrBrtF"}, {0x00200007, "AWBExt-OutdoorGThrDarkF"},
    {0x00200008, "AWBExt-DayClusterThrF"}, {0x00200009, "AWBExt-WBAllowFLine"},
    {0x0020000A, "AWBExt-OutValidSamplesThr"}, {0x0020000B, "AWBExt-OutGreenUpThresh"},
    {0x0020000C, "AWBExt-RadiusSquaredThr"}, {0x0020000D, "AWBExt-OutGThreshBrightA"},
    {0x0020000E, "AWBExt-OutGThreshDarkA"}, {0x0020000F, "AWBExt-DayClusterThrA"},
    {0x00200015, "AWBExt-WhiteWorldYMinRatio"}, {0x00200016, "AWBExt-Agressiveness"},
    {0x00300000, "AEC-IndoorIndex"}, {0x00300002, "AEC-Default"}, {0x00300003, "AEC-Outdoor"},
    {0x00300004, "AEC-LowLight"}, {0x00300005, "AEC-BacklightLuma"}, {0x00300006, "AEC-LumaTolerance"},
    {0x00300008, "AEC-ISO100Gain"}, {0x0030000A, "AEC-OutdoorIndex"}, {0x00300011, "AEC-FixFpsTableIndex"},
    {0x00300013, "AEC-HighLumaRegionThresh"},
    {0x00600000, "HJR-MaxFrames"}, {0x00600001, "HJR-1to2FrameOffset"}, {0x00600002, "HJR-FlatAreaNoise"},
    {0x00600003, "HJR-TextureNoise"}, {0x00600004, "HJR-TextureThresh"}, {0x00600006, "HJR-BayerFilterEnable"},
    {0x00800000, "AF-Position-NearEnd"}, {0x00800001, "AF-Position-FarEnd"}, {0x00800002, "AF-Position-Boundary"},
    {0x00800003, "AF-NumGrossStepsBetwStatPoints"}, {0x00800004, "AF-NumFineStepsBetwStatPoints"},
    {0x00800005, "AF-NumFineSearchPoints"}, {0x00800007, "AF-UndershootAdjust"}, {0x00800008, "AF-ProcessType"},
    {0x00800009, "AF-Position-DefaultInMacro"}, {0x0080000A, "AF-Position-DefaultInNormal"},
    {0x0080000B, "AF-TotalSteps"}, {0x0080000C, "AF-NumStepsNearToFar"}, {0x0080000E, "AF-InitialCurrent"},
    {0x80400004, "Gamma-SolarizeReflection"}, {0x80500000, "BlackLevel-Preview-MaxIncrease"},
    {0x80500100, "BlackLevel-Snapshot-MaxIncrease"}, {0x80600F02, "Rolloff-LuxIndexLowLight"},
    {0x80900000, "LumaAdapt-NumIterations"}, {0x80900001, "LumaAdapt-LowPercentage"},
    {0x80900002, "LumaAdapt-LowRange"}, {0x80900003, "LumaAdapt-HighPercentage"},
    {0x80900004, "LumaAdapt-HighRange"}, {0x80B00F03, "ABF-Preview-EnableLuxIndex"},
    {0x80B00F04, "ABF-Snapshot-EnableLuxIndex"}, {0x80C00000, "BPC-MinFactor"}, {0x80C00001, "BPC-MaxFactor"},
    {0x80D00002, "AF-FVMetric"}, {0x80E00008, "Skintone-T0"}, {0x80F00000, "Demosaic-SlopeShift"},
};

const IntCase kWordCases[] = {
    {0x00100202, "AWB-SnowBlueGainAdj"}, {0x00100203, "AWB-BeachBlueGainAdj"},
    {0x00300007, "AEC-ExpIndexAdjStep"}, {0x0030000B, "AEC-MaxPreviewGainAllowed"},
    {0x0030000C, "AEC-MinPreviewGainAllowed"}, {0x0030000D, "AEC-MaxSnapshotGainAllowed"},
    {0x0030000E, "AEC-MinSnapshotGainAllowed"}, {0x0030000F, "AEC-MaxSnapshotExposureTimeAllowed"},
    {0x00300010, "AEC-Agressiveness"}, {0x0080000D, "AF-StepsGain"}, {0x80100100, "BSMColorConv-SatFactor"},
    {0x80300201, "AWBExt-CCGlobalGain"}, {0x80600F01, "Rolloff-GainLowLight"},
    {0x80700100, "3X3ASF-SharpMaxFactor"}, {0x80700F03, "3X3ASF-SharpMinDSFactor"},
    {0x80700F04, "3X3ASF-SharpMaxDSFactor"}, {0x80800000, "5X5ASF-SoftFocusDegree"},
    {0x80800001, "5X5ASF-SharpMaxFactor"}, {0x80800F03, "5X5ASF-SharpMinDSFactor"},
    {0x80800F04, "5X5ASF-SharpMaxDSFactor"}, {0x80E00000, "Skintone-HMin"}, {0x80E00001, "Skintone-HMax"},
    {0x80E00002, "Skintone-YMin"}, {0x80E00003, "Skintone-YMax"}, {0x80E00004, "Skintone-SHYMin"},
    {0x80E00005, "Skintone-SHYMax"}, {0x80E00006, "Skintone-SLYMin"}, {0x80E00007, "Skintone-SLYMax"},
};

const IntCase kBoolCases[] = {
    {0x00200017, "AWBExt-SelfCalEnable"}, {0x00300012, "AEC-LinearAFRSupport"},
    {0x00300014, "AEC-DigitalGainSupported"}, {0x00800006, "AF-UndershootProtect"},
    {0x0080000F, "AF-ResetLensAfterSnap"},
};

int32_t ExpectedInt(const TuningDataTable& t, const char* name) {
  const TuningKeyDef& k = Key(name);
  if (std::string(name) == "AF-FVMetric") return ReadAt<uint16_t>(t, k.offset);  // with the byte after it
  switch (k.type) {
    case TUNING_TYPE_U8: return ReadAt<uint8_t>(t, k.offset);
    case TUNING_TYPE_U16: return ReadAt<uint16_t>(t, k.offset);
    case TUNING_TYPE_S16: return ReadAt<int16_t>(t, k.offset);
    case TUNING_TYPE_S32:
    case TUNING_TYPE_U32: return ReadAt<int32_t>(t, k.offset);
    default: ADD_FAILURE() << name; return 0;
  }
}

}  // namespace

TEST_F(TuningParamReaderTest, SingleValuesReadTheirKeys) {
  // Give the float key a value with an integer part so that truncation shows.
  WriteKey<float>(table.get(), "AEC-ISO100Gain", 2.75f);
  CTuningParamReader r = Reader();
  for (const IntCase& c : kIntCases) {
    int32_t v = -12345;
    ASSERT_EQ(r.GetIntParam(c.id, &v), PVL_OK) << c.key;
    int32_t expected = std::string(c.key) == "AEC-ISO100Gain" ? 2 : ExpectedInt(*table, c.key);
    EXPECT_EQ(v, expected) << c.key;
  }
  for (const IntCase& c : kWordCases) {
    uint32_t v = 0;
    ASSERT_EQ(r.GetWordParam(c.id, &v), PVL_OK) << c.key;
    EXPECT_EQ(v, ReadKey<uint32_t>(*table, c.key)) << c.key;
  }
  for (const IntCase& c : kBoolCases) {
    uint8_t v = 0xEE;
    ASSERT_EQ(r.GetBoolParam(c.id, &v), PVL_OK) << c.key;
    EXPECT_EQ(v, ReadKey<uint8_t>(*table, c.key)) << c.key;
  }
}

TEST_F(TuningParamReaderTest, EachIdentifierBelongsToOneGetter) {
  CTuningParamReader r = Reader();
  int32_t i = 7;
  uint32_t w = 7;
  uint8_t b = 7;
  EXPECT_EQ(r.GetIntParam(0x00300007, &i), PVL_E_BADARG);  // a word identifier
  EXPECT_EQ(r.GetWordParam(0x00300002, &w), PVL_E_BADARG);
  EXPECT_EQ(r.GetBoolParam(0x00300008, &b), PVL_E_BADARG);
  EXPECT_EQ(i, 7);
  EXPECT_EQ(w, 7u);
  EXPECT_EQ(b, 7u);
  TuningAwbRefPoint ref{};
  TuningWeightVector wv{};
  EXPECT_EQ(r.GetAwbRefPoint(0x00100109, &ref), PVL_E_BADARG);
  EXPECT_EQ(r.GetAwbExtWeightVector(0x0020010A, &wv), PVL_E_BADARG);
  TuningGammaTable g{};
  EXPECT_EQ(r.GetGammaTable(0x80400103, &g), PVL_E_BADARG);  // no snapshot backlight table
}

TEST_F(TuningParamReaderTest, NoDataThenNullOutputThenIdentifier) {
  CTuningParamReader empty(nullptr, nullptr, nullptr);
  CTuningParamReader loaded = Reader();
  uint32_t count = 0;
  // Each call: (reader, output or null, a valid identifier).
  struct Call {
    const char* name;
    std::function<PvlResult(const CTuningParamReader&, bool)> run;
  };
  std::vector<Call> calls = {
      {"GetIntParam", [](const CTuningParamReader& r, bool n) { int32_t v; return r.GetIntParam(0x00300002, n ? nullptr : &v); }},
      {"GetWordParam", [](const CTuningParamReader& r, bool n) { uint32_t v; return r.GetWordParam(0x0080000D, n ? nullptr : &v); }},
      {"GetBoolParam", [](const CTuningParamReader& r, bool n) { uint8_t v; return r.GetBoolParam(0x00300012, n ? nullptr : &v); }},
      {"GetHjrKTable", [](const CTuningParamReader& r, bool n) { TuningHjrKTable v; return r.GetHjrKTable(0x00600005, n ? nullptr : &v); }},
      {"GetTrigger", [](const CTuningParamReader& r, bool n) { TuningTrigger v; return r.GetTrigger(0x80000F01, n ? nullptr : &v); }},
      {"GetGammaTable", [](const CTuningParamReader& r, bool n) { TuningGammaTable v; return r.GetGammaTable(0x80400000, n ? nullptr : &v); }},
      {"GetExposureStretch", [](const CTuningParamReader& r, bool n) { TuningExposureStretch v; return r.GetExposureStretch(0x00300017, n ? nullptr : &v); }},
      {"GetExposureTable", [&count](const CTuningParamReader& r, bool n) { return r.GetExposureTable(0x00300001, nullptr, 0, n ? nullptr : &count); }},
      {"GetAfrTable", [&count](const CTuningParamReader& r, bool n) { return r.GetAfrTable(0x00900000, nullptr, 0, n ? nullptr : &count); }},
  };
  for (const Call& c : calls) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.run(empty, true), PVL_E_NOTREADY);
    EXPECT_EQ(c.run(empty, false), PVL_E_NOTREADY);
    EXPECT_EQ(c.run(loaded, true), PVL_E_NULLPTR);
    EXPECT_EQ(c.run(loaded, false), PVL_OK);
  }
}

TEST_F(TuningParamReaderTest, LumaTargetsFollowTheBestShotColumn) {
  WriteKey<uint8_t>(table.get(), "AEC-Default", 50);
  struct { int32_t column; int32_t expected; } cases[] = {{0, 50}, {1, 40}, {2, 60}, {3, 50}};
  for (auto c : cases) {
    SCOPED_TRACE(testing::Message() << "best-shot column " << c.column);
    BestShotRecord o = Override(BESTSHOT_COL_LUMA_TARGET, c.column);
    int32_t v = 0;
    ASSERT_EQ(Reader(&o).GetIntParam(0x00300002, &v), PVL_OK);
    EXPECT_EQ(v, c.expected) << c.column;
  }
}

TEST_F(TuningParamReaderTest, ExposureTableNeverReadsPastItsEntries) {
  std::vector<TuningExposureEntry> out(700);
  uint32_t count = 0;
  WriteKey<uint16_t>(table.get(), "AEC-TableValidEntries", 3);
  ASSERT_EQ(Reader().GetExposureTable(0x00300001, out.data(), 700, &count), PVL_OK);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(std::memcmp(&out[2], &table->Block.AECExposureTable[2], 8), 0);

  // A count written by the tuning tool beyond the table is held to the table.
  WriteKey<uint16_t>(table.get(), "AEC-TableValidEntries", 65535);
  std::memset(out.data(), 0xAB, out.size() * sizeof out[0]);
  ASSERT_EQ(Reader().GetExposureTable(0x00300001, out.data(), 700, &count), PVL_OK);
  EXPECT_EQ(count, 500u);
  EXPECT_EQ(std::memcmp(&out[499], &table->Block.AECExposureTable[499], 8), 0);
  EXPECT_EQ(out[500].LineCount, 0xABABABABu);

  // A small capacity copies less and still reports the count; capacity 0 may pass no entries.
  WriteKey<uint16_t>(table.get(), "AEC-TableValidEntries", 10);
  ASSERT_EQ(Reader().GetExposureTable(0x00300001, out.data(), 2, &count), PVL_OK);
  EXPECT_EQ(count, 10u);
  ASSERT_EQ(Reader().GetExposureTable(0x00300001, nullptr, 0, &count), PVL_OK);
  EXPECT_EQ(Reader().GetExposureTable(0x00300001, nullptr, 1, &count), PVL_E_NULLPTR);
}

TEST_F(TuningParamReaderTest, AfrTableTruncatesFramesPerSecond) {
  WriteKey<float>(table.get(), "AFR-1-FPS", 29.97f);
  WriteKey<float>(table.get(), "AFR-2-FPS", -3.0f);
  WriteKey<float>(table.get(), "AFR-3-FPS", 1e9f);
  TuningAfrEntry e[10];
  uint32_t count = 0;
  ASSERT_EQ(Reader().GetAfrTable(0x00900000, e, 10, &count), PVL_OK);
  EXPECT_EQ(count, 8u);
  EXPECT_EQ(e[1].FPS, 29);
  EXPECT_EQ(e[2].FPS, 0);
  EXPECT_EQ(e[3].FPS, 65535);
  EXPECT_EQ(e[7].UseInAutoFrameRate, ReadKey<uint8_t>(*table, "AFR-7-UseInAutoFrameRate"));
  EXPECT_EQ(e[7].SlowerExpTableIndexMod, ReadKey<int32_t>(*table, "AFR-7-SlowerExpTableIndexMod"));
  EXPECT_EQ(Bits(e[0].FasterFPSGainTrigger), ReadKey<uint32_t>(*table, "AFR-0-FasterFPSGainTrigger"));
}

TEST_F(TuningParamReaderTest, StatisticsRecords) {
  CTuningParamReader r = Reader();
  TuningAwbRefPoint ref;
  ASSERT_EQ(r.GetAwbRefPoint(0x00100108, &ref), PVL_OK);
  EXPECT_EQ(Bits(ref.RedG), ReadKey<uint32_t>(*table, "AWB-RefPointsNoon-RedG"));
  EXPECT_EQ(Bits(ref.BlueAdj), ReadKey<uint32_t>(*table, "AWB-RefPointsNoon-BlueAdj"));
  TuningGainTriple max;
  ASSERT_EQ(r.GetAwbExtGains(0x00200012, &max), PVL_OK);
  EXPECT_EQ(Bits(max.B), ReadKey<uint32_t>(*table, "AWBExt-MaxGainsBGain"));
  TuningSampleInfluence si;
  ASSERT_EQ(r.GetAwbExtSampleInfluence(0x00200013, &si), PVL_OK);
  EXPECT_EQ(Bits(si.Indoor), ReadKey<uint32_t>(*table, "AWBExt-SampleInfluenceIndoor"));
  TuningWeightVector wv;
  ASSERT_EQ(r.GetAwbExtWeightVector(0x00200109, &wv), PVL_OK);
  EXPECT_EQ(wv.InOut, ReadKey<int32_t>(*table, "AWBExt-WeightVectorDaylight-InOut"));
  TuningBrightRegion br;
  ASSERT_EQ(r.GetBrightRegion(0x00300015, &br), PVL_OK);
  EXPECT_EQ(br.Supported, ReadKey<uint8_t>(*table, "AEC-BrightRegion-Supported"));
  EXPECT_EQ(br.ThreshHi, ReadKey<uint32_t>(*table, "AEC-BrightRegion-ThreshHi"));
  TuningDarkRegion dr;
  ASSERT_EQ(r.GetDarkRegion(0x00300016, &dr), PVL_OK);
  EXPECT_EQ(dr.Supported, ReadKey<uint8_t>(*table, "AEC-DarkRegion-Supported"));
  EXPECT_EQ(Bits(dr.Reduction3), ReadKey<uint32_t>(*table, "AEC-DarkRegion-Reduction3"));
  TuningExposureStretch es;
  ASSERT_EQ(r.GetExposureStretch(0x00300017, &es), PVL_OK);
  EXPECT_EQ(es.SnapshotAETable[9].LuxIndex, ReadKey<uint16_t>(*table, "AEC-ExpStretch-SnapshotAETable-9-LuxIndex"));
  TuningAfdParams afd;
  ASSERT_EQ(r.GetAfdParams(0x00700000, &afd), PVL_OK);
  EXPECT_EQ(afd.PctThresh, ReadKey<uint8_t>(*table, "AFD-DetectionDataPctThresh"));
  EXPECT_EQ(afd.FrameCtThresh, ReadKey<uint32_t>(*table, "AFD-DetectionDataFrameCtThresh"));
  TuningHjrKTable k;
  ASSERT_EQ(r.GetHjrKTable(0x00600005, &k), PVL_OK);
  EXPECT_EQ(k.K[19], ReadKey<uint8_t>(*table, "HJR-KTable", 19));
}

TEST_F(TuningParamReaderTest, ModuleEnablesAndTriggers) {
  CTuningParamReader r = Reader();
  struct { TuningParamId id; const char* key; } enables[] = {
      {0x80000F00, "ColorCorr-Control"}, {0x80100F00, "ColorConv-Control"}, {0x80400F00, "Gamma-Control"},
      {0x80500F00, "BlackLevel-Control"}, {0x80600F00, "Rolloff-Control"}, {0x80700F00, "3X3ASF-Control"},
      {0x80800F00, "5X5ASF-Control"}, {0x80A00F00, "ChromaSupp-Control"}, {0x80B00F00, "ABF-Control"},
      {0x80C00F00, "BPC-Control"}};
  for (auto e : enables) {
    SCOPED_TRACE(e.key);
    WriteKey<uint8_t>(table.get(), e.key, 0x40);
    uint32_t v = 9;
    ASSERT_EQ(r.GetModuleEnable(e.id, &v), PVL_OK) << e.key;
    EXPECT_EQ(v, 1u) << e.key;
    WriteKey<uint8_t>(table.get(), e.key, 0);
    ASSERT_EQ(r.GetModuleEnable(e.id, &v), PVL_OK);
    EXPECT_EQ(v, 0u) << e.key;
  }
  uint32_t v;
  EXPECT_EQ(r.GetModuleEnable(0x80200F00, &v), PVL_E_BADARG);

  struct { TuningParamId id; const char* prefix; } triggers[] = {
      {0x80000F01, "ColorCorr-Snapshot-Trigger"}, {0x80000F02, "ColorCorr-Preview-Trigger"},
      {0x80100F01, "ColorConv-Trigger"}, {0x80400F01, "Gamma-Snapshot-LowLightTrigger"},
      {0x80400F02, "Gamma-Snapshot-OutdoorTrigger"}, {0x80400F03, "Gamma-Preview-LowLightTrigger"},
      {0x80400F04, "Gamma-Preview-OutdoorTrigger"}, {0x80500F01, "BlackLevel-Preview-LowLightTrigger"},
      {0x80500F02, "BlackLevel-Snapshot-LowLightTrigger"}, {0x80700F01, "3X3ASF-LowLightTrigger"},
      {0x80700F02, "3X3ASF-OutdoorTrigger"}, {0x80800F01, "5X5ASF-LowLightTrigger"},
      {0x80800F02, "5X5ASF-OutdoorTrigger"}, {0x80A00F01, "ChromaSupp-Snapshot-LowLightTrigger"},
      {0x80A00F02, "ChromaSupp-Preview-LowLightTrigger"}, {0x80B00F01, "ABF-Preview-Index"},
      {0x80B00F02, "ABF-Snapshot-Index"}, {0x80C00F01, "BPC-Preview-LowLightTrigger"},
      {0x80C00F02, "BPC-Snapshot-LowLightTrigger"}};
  for (auto t : triggers) {
    TuningTrigger tr;
    ASSERT_EQ(r.GetTrigger(t.id, &tr), PVL_OK) << t.prefix;
    std::string p = t.prefix;
    EXPECT_EQ(Bits(tr.GainStart), ReadKey<uint32_t>(*table, p + "-GainStart")) << p;
    EXPECT_EQ(tr.LuxIndexEnd, ReadKey<int32_t>(*table, p + "-LuxIndexEnd")) << p;
  }
}

TEST_F(TuningParamReaderTest, ColourMatricesAndTheirBestShotSelection) {
  struct { TuningParamId id; int32_t column; const char* key; } cc[] = {
      {0x80000000, 0, "ColorCorr-Preview-Default-RtoR"}, {0x80000001, 0, "ColorCorr-Preview-LowLight-RtoR"},
      {0x80000002, 0, "ColorCorr-Snapshot-Default-RtoR"}, {0x80000003, 0, "ColorCorr-Snapshot-LowLight-RtoR"},
      {0x80000000, 1, "ColorCorr-Preview-LowLight-RtoR"}, {0x80000002, 1, "ColorCorr-Snapshot-LowLight-RtoR"}};
  for (auto c : cc) {
    SCOPED_TRACE(testing::Message() << c.key << " in column " << c.column);
    BestShotRecord o = Override(BESTSHOT_COL_COLOR_CORRECTION, c.column);
    TuningColorCorrMatrix m;
    ASSERT_EQ(Reader(&o).GetColorCorrMatrix(c.id, &m), PVL_OK);
    EXPECT_EQ(Bits(m.RtoR), ReadKey<uint32_t>(*table, c.key)) << c.key;
  }

  struct { TuningParamId id; int32_t column; const char* set; } conv[] = {
      {0x80100000, 0, "ColorConv-TL84"}, {0x80100007, 0, "ColorConv-Aqua"}, {0x80100008, 0, "BSMColorConv-Sunset"},
      {0x8010000B, 0, "BSMColorConv-SkinA"}, {0x80100005, 1, "BSMColorConv-Sunset"},
      {0x80100001, 2, "BSMColorConv-SkinA"}, {0x80100002, 2, "BSMColorConv-SkinD65"},
      {0x80100000, 2, "BSMColorConv-SkinTL84"}, {0x80100004, 2, "BSMColorConv-SkinTL84"}};
  for (auto c : conv) {
    SCOPED_TRACE(testing::Message() << c.set << " in column " << c.column);
    BestShotRecord o = Override(BESTSHOT_COL_COLOR_CONVERSION, c.column);
    TuningColorConvMatrix m;
    ASSERT_EQ(Reader(&o).GetColorConvMatrix(c.id, &m), PVL_OK);
    std::string s = c.set;
    EXPECT_EQ(Bits(m.DiffRGtoCbShearingNegative_bm), ReadKey<uint32_t>(*table, s + "-DiffRGtoCbShearingNegative_bm")) << s;
    EXPECT_EQ(m.CROffset_k_cr, ReadKey<int16_t>(*table, s + "-CROffset_k_cr")) << s;
    EXPECT_EQ(m.Yoffset, ReadKey<uint16_t>(*table, s + "-Yoffset")) << s;
  }
  TuningColorConvMatrix m;
  EXPECT_EQ(Reader().GetColorConvMatrix(0x8010000C, &m), PVL_E_BADARG);

  // Column 3 scales am, ap, cm and cp of the requested matrix by the saturation factor.
  WriteKey<float>(table.get(), "BSMColorConv-SatFactor", 1.5f);
  WriteKey<float>(table.get(), "ColorConv-D65-CbScalingNegative_am", 2.0f);
  WriteKey<float>(table.get(), "ColorConv-D65-CrScalingPositive_cp", -1.0f);
  WriteKey<float>(table.get(), "ColorConv-D65-DiffRGtoCbShearingNegative_bm", 0.25f);
  BestShotRecord o = Override(BESTSHOT_COL_COLOR_CONVERSION, 3);
  ASSERT_EQ(Reader(&o).GetColorConvMatrix(0x80100002, &m), PVL_OK);
  EXPECT_EQ(m.CbScalingNegative_am, 3.0f);
  EXPECT_EQ(m.CrScalingPositive_cp, -1.5f);
  EXPECT_EQ(m.DiffRGtoCbShearingNegative_bm, 0.25f);
}

TEST_F(TuningParamReaderTest, WhiteBalanceRecords) {
  CTuningParamReader r = Reader();
  TuningMwbGains mwb;
  ASSERT_EQ(r.GetMwbGains(0x80200005, &mwb), PVL_OK);
  EXPECT_EQ(Bits(mwb.GGain), ReadKey<uint32_t>(*table, "MWB-LED-GGain"));
  EXPECT_EQ(r.GetMwbGains(0x80200006, &mwb), PVL_E_BADARG);
  TuningChannelGains cg;
  ASSERT_EQ(r.GetChannelGains(0x80300000, &cg), PVL_OK);
  EXPECT_EQ(Bits(cg.Red), ReadKey<uint32_t>(*table, "AWB-ChannelGain-Red"));
  WriteKey<int8_t>(table.get(), "AWB-StatConfigNormalLight-Slope2", -5);
  TuningAwbStatConfig sc;
  ASSERT_EQ(r.GetAwbStatConfig(0x80300101, &sc), PVL_OK);
  EXPECT_EQ(sc.Slope2, -5);
  EXPECT_EQ(sc.LumaMax, ReadKey<uint8_t>(*table, "AWB-StatConfigNormalLight-LumaMax"));
  EXPECT_EQ(sc.CrOffset4, ReadKey<int16_t>(*table, "AWB-StatConfigNormalLight-CrOffset4"));

  // The blue-gain factor and the fixed red factor.
  WriteKey<float>(table.get(), "AWB-SnowBlueGainAdj", 1.25f);
  WriteKey<float>(table.get(), "AWB-BeachBlueGainAdj", 1.5f);
  struct { int32_t column; float expected; } blue[] = {{0, 1.0f}, {1, 1.25f}, {2, 1.5f}, {3, 1.0f}};
  for (auto b : blue) {
    SCOPED_TRACE(testing::Message() << "best-shot column " << b.column);
    BestShotRecord o = Override(BESTSHOT_COL_BLUE_GAIN, b.column);
    uint32_t w = 0;
    ASSERT_EQ(Reader(&o).GetWordParam(0x80210001, &w), PVL_OK);
    EXPECT_EQ(w, Bits(b.expected)) << b.column;
    ASSERT_EQ(Reader(&o).GetWordParam(0x80210000, &w), PVL_OK);
    EXPECT_EQ(w, Bits(1.0f));
  }
}

TEST_F(TuningParamReaderTest, GammaTablesModeFirstAndBestShotSelection) {
  struct { TuningParamId id; int32_t column; const char* table; } cases[] = {
      {0x80400000, 0, "Gamma-Preview-Default"}, {0x80400003, 0, "Gamma-Preview-Backlight"},
      {0x80400102, 0, "Gamma-Snapshot-Outdoor"}, {0x80400100, 1, "Gamma-Snapshot-Outdoor"},
      {0x80400001, 1, "Gamma-Preview-Outdoor"}, {0x80400100, 2, "Gamma-Snapshot-LowLight"},
      {0x80400100, 3, "Gamma-Preview-Backlight"}, {0x80400002, 3, "Gamma-Preview-Backlight"},
      {0x80400101, 4, "Gamma-Snapshot-LowLight"}};
  for (auto c : cases) {
    SCOPED_TRACE(testing::Message() << c.table << " in column " << c.column);
    BestShotRecord o = Override(BESTSHOT_COL_GAMMA, c.column);
    auto g = std::make_unique<TuningGammaTable>();
    ASSERT_EQ(Reader(&o).GetGammaTable(c.id, g.get()), PVL_OK);
    std::string t = c.table;
    EXPECT_EQ(g->Mode, ReadKey<uint8_t>(*table, t + "Mode")) << t;
    EXPECT_EQ(std::memcmp(g->Table, Bytes(table.get()) + Key(t + "Gamma").offset, 1024), 0) << t;
  }
}

TEST_F(TuningParamReaderTest, BlockRecords) {
  CTuningParamReader r = Reader();
  TuningBlackLevelOffsets off;
  ASSERT_EQ(r.GetBlackLevelOffsets(0x80500101, &off), PVL_OK);
  EXPECT_EQ(off.OddCols, ReadKey<uint16_t>(*table, "BlackLevel-Snapshot-NormalLightBlackLevelOffset-OddCols"));
  TuningBlackLevel4Channel bl;
  ASSERT_EQ(r.GetBlackLevel4Channel(0x80500003, &bl), PVL_OK);
  EXPECT_EQ(bl.EvenRowOddCol, ReadKey<uint16_t>(*table, "BlackLevel-Preview-NormalLight4Channel-BlackEvenRowOddCol"));
  auto rt = std::make_unique<TuningRolloffTable>();
  ASSERT_EQ(r.GetRolloffTable(0x80600002, rt.get()), PVL_OK);
  EXPECT_EQ(rt->Intervals, ReadKey<uint8_t>(*table, "Rolloff-TableD65-Intervals"));
  EXPECT_EQ(std::memcmp(&rt->GreenTable[31], Bytes(table.get()) + Key("Rolloff-TableD65-GreenTable").offset + 31 * 8, 8), 0);
  auto mesh = std::make_unique<TuningRolloffMesh>();
  ASSERT_EQ(r.GetRolloffMesh(0x80600103, mesh.get()), PVL_OK);
  EXPECT_EQ(Bits(mesh->BGain[220]), ReadKey<uint32_t>(*table, "Rolloff-MeshLowLight-BGain", 220));
  EXPECT_EQ(r.GetRolloffMesh(0x80600104, mesh.get()), PVL_E_BADARG);

  TuningAfWindow win;
  ASSERT_EQ(r.GetAfWindow(0x80D00001, &win), PVL_OK);
  EXPECT_EQ(win.MaxY, ReadKey<uint16_t>(*table, "AF-Config-MaxY"));
  WriteKey<int8_t>(table.get(), "AF-VfeHpf-a23", -7);
  TuningAfHpf hpf;
  ASSERT_EQ(r.GetAfHpf(0x80D00000, &hpf), PVL_OK);
  EXPECT_EQ(hpf.a23, -7);
  EXPECT_EQ(hpf.a00, ReadKey<int8_t>(*table, "AF-VfeHpf-a00"));

  auto abf = std::make_unique<TuningAbfFilterData>();
  ASSERT_EQ(r.GetAbfFilterData(0x80B00001, abf.get()), PVL_OK);
  EXPECT_EQ(std::memcmp(abf.get(), Bytes(table.get()) + 31636, 204), 0);

  struct { TuningParamId id; const char* prefix; } bpc[] = {
      {0x80C00100, "BPC-Preview-DiffThresholdNormal"}, {0x80C00101, "BPC-Preview-DiffThresholdLowLight"},
      {0x80C00102, "BPC-Snapshot-DiffThresholdNormal"}, {0x80C00103, "BPC-Snapshot-DiffThresholdLowLight"}};
  for (auto b : bpc) {
    SCOPED_TRACE(b.prefix);
    TuningBpcThresholds t;
    ASSERT_EQ(r.GetBpcThresholds(b.id, &t), PVL_OK);
    EXPECT_EQ(t.Blue, ReadKey<uint16_t>(*table, std::string(b.prefix) + "-Blue")) << b.prefix;
  }
  struct { TuningParamId id; const char* prefix; } cs[] = {
      {0x80A00000, "ChromaSupp-Preview-NormalLight"}, {0x80A00001, "ChromaSupp-Preview-LowLight"},
      {0x80A00002, "ChromaSupp-Snapshot-NormalLight"}, {0x80A00003, "ChromaSupp-Snapshot-LowLight"}};
  for (auto c : cs) {
    SCOPED_TRACE(c.prefix);
    TuningChromaSupp t;
    ASSERT_EQ(r.GetChromaSupp(c.id, &t), PVL_OK);
    EXPECT_EQ(t.ChromaThresh2, ReadKey<uint8_t>(*table, std::string(c.prefix) + "-ChromaThresh2")) << c.prefix;
    EXPECT_EQ(t.LumaThresh1, ReadKey<uint8_t>(*table, std::string(c.prefix) + "-LumaThresh1")) << c.prefix;
  }
}

TEST_F(TuningParamReaderTest, AdaptiveSpatialFilterRecords) {
  CTuningParamReader r = Reader();
  TuningAsf3x3Filter f3;
  ASSERT_EQ(r.GetAsf3x3Filter(0x80700001, &f3), PVL_OK);
  EXPECT_EQ(f3.EdgeThresh, ReadKey<uint16_t>(*table, "3X3ASF-LowLight-EdgeThresh"));
  EXPECT_EQ(f3.NoiseThresh, ReadKey<uint16_t>(*table, "3X3ASF-LowLight-NoiseThresh"));
  EXPECT_EQ(f3.EdgeFlag, ReadKey<uint8_t>(*table, "3X3ASF-LowLight-EdgeFlag"));
  EXPECT_EQ(Bits(f3.NoiseA[4]), ReadKey<uint32_t>(*table, "3X3ASF-LowLight-NoiseA22"));

  WriteKey<int8_t>(table.get(), "5X5ASF-SnapshotFilter-LapFltr", -9, 8);
  WriteKey<int8_t>(table.get(), "5X5ASF-SnapshotFilter-ExtrFactor", -2);
  WriteKey<uint8_t>(table.get(), "5X5ASF-PreviewFilter-ExtrFactor", 200);
  TuningAsf5x5Filter f5;
  ASSERT_EQ(r.GetAsf5x5Filter(0x80800100, &f5), PVL_OK);
  EXPECT_EQ(f5.LapFltr[8], -9);
  EXPECT_EQ(f5.ExtrFactor, -2);
  EXPECT_EQ(f5.Filter1[6], ReadKey<int16_t>(*table, "5X5ASF-SnapshotFilter-Filter1A22"));
  EXPECT_EQ(Bits(f5.Normal2), ReadKey<uint32_t>(*table, "5X5ASF-SnapshotFilter-Normal2"));
  ASSERT_EQ(r.GetAsf5x5Filter(0x80800200, &f5), PVL_OK);
  EXPECT_EQ(f5.ExtrFactor, 200);
  EXPECT_EQ(f5.FilterMode, ReadKey<int32_t>(*table, "5X5ASF-PreviewFilter-FilterMode"));

  WriteKey<float>(table.get(), "5X5ASF-SoftFocusDegree", 0.5f);
  WriteKey<float>(table.get(), "5X5ASF-PreviewFilter-SettingBrightSharpAmtF1", 3.0f);
  WriteKey<int8_t>(table.get(), "5X5ASF-PreviewFilter-SettingBrightNegThresh", -20);
  for (int32_t column : {0, 1}) {
    BestShotRecord o = Override(BESTSHOT_COL_SOFT_FOCUS, column);
    TuningAsf5x5Setting s;
    ASSERT_EQ(Reader(&o).GetAsf5x5Setting(0x80800203, &s), PVL_OK);
    EXPECT_EQ(s.SharpAmtF1, column == 1 ? 1.5f : 3.0f);
    EXPECT_EQ(s.NegThresh, -20);
    EXPECT_EQ(s.SmoothPct, ReadKey<uint8_t>(*table, "5X5ASF-PreviewFilter-SettingBrightSmoothPct"));
  }
  TuningAsf5x5Setting s;
  ASSERT_EQ(r.GetAsf5x5Setting(0x80800101, &s), PVL_OK);
  EXPECT_EQ(s.UpThreshF2, ReadKey<int8_t>(*table, "5X5ASF-SnapshotFilter-SettingLowLightUpThreshF2"));
  EXPECT_EQ(r.GetAsf5x5Setting(0x80800100, &s), PVL_E_BADARG);
  EXPECT_EQ(r.GetAsf5x5Setting(0x80800204, &s), PVL_E_BADARG);
}
