// The tuning parameter block that every tuning-data provider delivers, and the
// records that the tuning-data service hands out of it by TuningParamId.
//
// The block is a stored format: 32,184 bytes, little-endian, followed in a
// provider's table by the 124-byte exposure-stretch record. Field offsets are
// binding for every provider; they are checked below and, key by key, against
// the "TuningData" key table in the tests.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t TUNING_BLOCK_SIZE = 32184;
constexpr uint32_t TUNING_EXPOSURE_STRETCH_SIZE = 124;
constexpr uint32_t TUNING_TABLE_SIZE = TUNING_BLOCK_SIZE + TUNING_EXPOSURE_STRETCH_SIZE;  // 32,308
constexpr uint32_t TUNING_EXPOSURE_TABLE_ENTRIES = 500;
constexpr uint32_t TUNING_AFR_ENTRIES = 8;
constexpr uint32_t TUNING_GAMMA_TABLE_SIZE = 1024;

// ---------------------------------------------------------------------------
// Records handed out by the getters (also the stored form where they agree).

// Light range of a block: the normal table below the start, the low-light (or
// outdoor) table past the end, a blend between.
struct TuningTrigger {
  float GainStart;
  float GainEnd;
  int32_t LuxIndexStart;
  int32_t LuxIndexEnd;
};
static_assert(sizeof(TuningTrigger) == 16);

struct TuningColorCorrMatrix {
  float RtoR, GtoR, BtoR;
  float RtoG, GtoG, BtoG;
  float RtoB, GtoB, BtoB;
  int16_t ROffset, GOffset, BOffset;
  uint8_t Reserved[2];  // not named by any key; carried as the provider stored it
};
static_assert(sizeof(TuningColorCorrMatrix) == 44);
static_assert(offsetof(TuningColorCorrMatrix, ROffset) == 36);
static_assert(offsetof(TuningColorCorrMatrix, Reserved) == 42);

struct TuningColorConvMatrix {
  float CbScalingNegative_am;
  float CbScalingPositive_ap;
  float DiffRGtoCbShearingNegative_bm;
  float DiffRGtoCbShearingPositive_bp;
  float CrScalingNegative_cm;
  float CrScalingPositive_cp;
  float DiffBGtoCrShearingNegative_dm;
  float DiffBGtoCrShearingPositive_dp;
  int16_t CBOffset_k_cb;
  int16_t CROffset_k_cr;
  float RtoY, GtoY, BtoY;
  uint16_t Yoffset;
  uint8_t Reserved[2];
};
static_assert(sizeof(TuningColorConvMatrix) == 52);
static_assert(offsetof(TuningColorConvMatrix, CBOffset_k_cb) == 32);
static_assert(offsetof(TuningColorConvMatrix, RtoY) == 36);
static_assert(offsetof(TuningColorConvMatrix, Yoffset) == 48);

struct TuningMwbGains {
  float RGain, GGain, BGain;
};
static_assert(sizeof(TuningMwbGains) == 12);

struct TuningChannelGains {
  float GreenEvenRow, GreenOddRow, Red, Blue;
};
static_assert(sizeof(TuningChannelGains) == 16);

struct TuningAwbRefPoint {
  float RedG, BlueG, RedAdj, BlueAdj;
};
static_assert(sizeof(TuningAwbRefPoint) == 16);

// AWB statistics configuration as handed out: slopes widened from bytes.
struct TuningAwbStatConfig {
  uint8_t LumaMin;
  uint8_t LumaMax;
  int16_t Slope1, Slope2, Slope3, Slope4;
  int16_t CbOffset1, CrOffset2, CbOffset3, CrOffset4;
};
static_assert(sizeof(TuningAwbStatConfig) == 18);
static_assert(offsetof(TuningAwbStatConfig, Slope1) == 2);
static_assert(offsetof(TuningAwbStatConfig, CbOffset1) == 10);

// ... and as stored in the block.
struct TuningAwbStatConfigStored {
  uint8_t LumaMin;
  uint8_t LumaMax;
  int8_t Slope1, Slope2, Slope3, Slope4;
  int16_t CbOffset1, CrOffset2, CbOffset3, CrOffset4;
};
static_assert(sizeof(TuningAwbStatConfigStored) == 14);
static_assert(offsetof(TuningAwbStatConfigStored, CbOffset1) == 6);

struct TuningGainTriple {
  float R, G, B;
};
static_assert(sizeof(TuningGainTriple) == 12);

struct TuningSampleInfluence {
  float Outdoor;
  float Indoor;
};
static_assert(sizeof(TuningSampleInfluence) == 8);

struct TuningWeightVector {
  int32_t Indoor, Outdoor, InOut;
};
static_assert(sizeof(TuningWeightVector) == 12);

struct TuningExposureEntry {
  uint16_t Gain;
  uint8_t Reserved[2];
  uint32_t LineCount;
};
static_assert(sizeof(TuningExposureEntry) == 8);
static_assert(offsetof(TuningExposureEntry, LineCount) == 4);

struct TuningBrightRegion {
  uint32_t Supported;
  float Reduction;
  uint32_t ThreshLo;
  uint32_t ThreshHi;
  float DiscardRatio;
};
static_assert(sizeof(TuningBrightRegion) == 20);

struct TuningDarkRegion {
  uint32_t Supported;
  float ThreshLo, ThreshHi, DiscardRatio;
  float Reduction0, Reduction1, Reduction2, Reduction3;
};
static_assert(sizeof(TuningDarkRegion) == 32);

struct TuningExposureStretchEntry {
  uint16_t LuxIndex;
  uint8_t Reserved[2];
  float GainTradeoff;
  float MaxExpTime;
};
static_assert(sizeof(TuningExposureStretchEntry) == 12);

struct TuningExposureStretch {
  uint8_t Enable;
  uint8_t ExposureStretchEnable;
  uint8_t ValidEntries;
  uint8_t Reserved;
  TuningExposureStretchEntry SnapshotAETable[10];
};
static_assert(sizeof(TuningExposureStretch) == TUNING_EXPOSURE_STRETCH_SIZE);
static_assert(offsetof(TuningExposureStretch, SnapshotAETable) == 4);

struct TuningAfdParams {
  float StdThresh;
  uint32_t PctThresh;
  uint32_t DiffThresh;
  uint32_t FrameCtThresh;
};
static_assert(sizeof(TuningAfdParams) == 16);

struct TuningHjrKTable {
  uint8_t K[20];
};
static_assert(sizeof(TuningHjrKTable) == 20);

struct TuningAfrEntry {
  uint16_t FPS;
  uint8_t UseInAutoFrameRate;
  uint8_t Reserved;
  float FasterFPSGainTrigger;
  float SlowerFPSGainTrigger;
  int32_t FasterExpTableIndexMod;
  int32_t SlowerExpTableIndexMod;
};
static_assert(sizeof(TuningAfrEntry) == 20);

struct TuningAfWindow {
  uint16_t MinY;
  uint16_t MaxY;
  float HorizOffsetRatio, VertOffsetRatio, HorizClipRatio, VertClipRatio;
};
static_assert(sizeof(TuningAfWindow) == 20);

struct TuningAfHpf {
  int16_t a00, a02, a04, a20, a21, a22, a23, a24;
};
static_assert(sizeof(TuningAfHpf) == 16);

// Gamma as handed out: the mode byte first, then the table.
struct TuningGammaTable {
  uint8_t Mode;
  uint8_t Table[TUNING_GAMMA_TABLE_SIZE];
};
static_assert(sizeof(TuningGammaTable) == 1025);

struct TuningBlackLevelOffsets {
  uint16_t EvenCols;
  uint16_t OddCols;
};
static_assert(sizeof(TuningBlackLevelOffsets) == 4);

struct TuningBlackLevel4Channel {
  uint16_t EvenRowEvenCol, EvenRowOddCol, OddRowEvenCol, OddRowOddCol;
};
static_assert(sizeof(TuningBlackLevel4Channel) == 8);

struct TuningRolloffTable {
  uint16_t CenterX, CenterY, Width, Height;
  uint8_t Intervals;
  uint8_t Reserved[3];
  uint32_t RSqTable[32];
  uint8_t Reserved2[4];  // the double arrays start on multiples of 8 in the block
  double RedTable[32];
  double GreenTable[32];
  double BlueTable[32];
};
static_assert(sizeof(TuningRolloffTable) == 912);
static_assert(offsetof(TuningRolloffTable, RSqTable) == 12);
static_assert(offsetof(TuningRolloffTable, RedTable) == 144);
static_assert(offsetof(TuningRolloffTable, GreenTable) == 400);
static_assert(offsetof(TuningRolloffTable, BlueTable) == 656);

constexpr uint32_t TUNING_ROLLOFF_MESH_GAINS = 221;
struct TuningRolloffMesh {
  uint16_t TableSize;
  uint8_t Reserved[2];
  float RGain[TUNING_ROLLOFF_MESH_GAINS];
  float GRGain[TUNING_ROLLOFF_MESH_GAINS];
  float GBGain[TUNING_ROLLOFF_MESH_GAINS];
  float BGain[TUNING_ROLLOFF_MESH_GAINS];
};
static_assert(sizeof(TuningRolloffMesh) == 3540);
static_assert(offsetof(TuningRolloffMesh, RGain) == 4);

// 3x3 filter as handed out: EdgeThresh before NoiseThresh.
struct TuningAsf3x3Filter {
  float EdgeA[9];   // A11, A12, A13, A21 ... A33
  float NoiseA[9];
  uint16_t EdgeThresh;
  uint16_t NoiseThresh;
  uint8_t Reserved[2];
  uint8_t EdgeFlag;
  uint8_t Pad;
};
static_assert(sizeof(TuningAsf3x3Filter) == 80);
static_assert(offsetof(TuningAsf3x3Filter, EdgeThresh) == 72);
static_assert(offsetof(TuningAsf3x3Filter, EdgeFlag) == 78);

// ... and as stored: NoiseThresh first.
struct TuningAsf3x3FilterStored {
  float EdgeA[9];
  float NoiseA[9];
  uint16_t NoiseThresh;
  uint16_t EdgeThresh;
  uint8_t Reserved[2];
  uint8_t EdgeFlag;
  uint8_t Pad;
};
static_assert(sizeof(TuningAsf3x3FilterStored) == 80);
static_assert(offsetof(TuningAsf3x3FilterStored, NoiseThresh) == 72);
static_assert(offsetof(TuningAsf3x3FilterStored, EdgeThresh) == 74);

// 5x5 filter set as handed out: bytes widened to 16 bits.
struct TuningAsf5x5Filter {
  int32_t FilterMode;
  int16_t SmoothFltr[9];
  int16_t LapFltr[9];
  float Normal1;
  float Normal2;
  int16_t Filter1[25];  // row by row
  int16_t Filter2[25];
  int16_t ExtrFactor;
  uint8_t Pad[2];
};
static_assert(sizeof(TuningAsf5x5Filter) == 152);
static_assert(offsetof(TuningAsf5x5Filter, SmoothFltr) == 4);
static_assert(offsetof(TuningAsf5x5Filter, LapFltr) == 22);
static_assert(offsetof(TuningAsf5x5Filter, Normal1) == 40);
static_assert(offsetof(TuningAsf5x5Filter, Normal2) == 44);
static_assert(offsetof(TuningAsf5x5Filter, Filter1) == 48);
static_assert(offsetof(TuningAsf5x5Filter, Filter2) == 98);
static_assert(offsetof(TuningAsf5x5Filter, ExtrFactor) == 148);

struct TuningAsf5x5Setting {
  int16_t LowThresh, UpThresh, NegThresh, UpThreshF2, NegThreshF2;
  uint8_t Reserved[2];
  float SharpAmtF1;
  float SharpAmtF2;
  uint8_t SmoothPct;
  uint8_t Pad[3];
};
static_assert(sizeof(TuningAsf5x5Setting) == 24);
static_assert(offsetof(TuningAsf5x5Setting, SharpAmtF1) == 12);
static_assert(offsetof(TuningAsf5x5Setting, SmoothPct) == 20);

struct TuningAsf5x5SettingStored {
  int8_t LowThresh, UpThresh, NegThresh, UpThreshF2, NegThreshF2;
  uint8_t Reserved[3];
  float SharpAmtF1;
  float SharpAmtF2;
  uint8_t SmoothPct;
  uint8_t Pad[3];
};
static_assert(sizeof(TuningAsf5x5SettingStored) == 20);

struct TuningAsf5x5FilterStored {
  uint32_t FilterMode;
  int8_t SmoothFltr[9];
  int8_t LapFltr[9];
  uint8_t Reserved0[2];
  float Normal1;
  float Normal2;
  int16_t Filter1[25];
  int16_t Filter2[25];
  uint8_t ExtrFactor;  // signed for the snapshot filter, unsigned for the preview filter
  uint8_t Reserved1[3];
  TuningAsf5x5SettingStored Setting[3];  // LowLight, Normal, Bright
};
static_assert(sizeof(TuningAsf5x5FilterStored) == 196);
static_assert(offsetof(TuningAsf5x5FilterStored, Normal1) == 24);
static_assert(offsetof(TuningAsf5x5FilterStored, Filter1) == 32);
static_assert(offsetof(TuningAsf5x5FilterStored, ExtrFactor) == 132);
static_assert(offsetof(TuningAsf5x5FilterStored, Setting) == 136);

struct TuningAbfFilterData {
  uint16_t LPThr[20];
  uint8_t Shift;
  uint8_t Reserved[3];
  float Ratio[20];
  uint16_t Min[20];
  uint16_t Max[20];
};
static_assert(sizeof(TuningAbfFilterData) == 204);
static_assert(offsetof(TuningAbfFilterData, Ratio) == 44);
static_assert(offsetof(TuningAbfFilterData, Min) == 124);

struct TuningBpcThresholds {
  uint16_t Red, Green, Blue;
};
static_assert(sizeof(TuningBpcThresholds) == 6);

struct TuningChromaSupp {
  uint8_t LumaThresh1, LumaThresh2, LumaThresh3, LumaThresh4;
  uint8_t ChromaThresh1, ChromaThresh2;
};
static_assert(sizeof(TuningChromaSupp) == 6);

// ---------------------------------------------------------------------------
// Stored-only pieces of the block.

struct TuningGammaStored {
  uint8_t Table[TUNING_GAMMA_TABLE_SIZE];
  uint8_t Mode;
};
static_assert(sizeof(TuningGammaStored) == 1025);

struct TuningBlackLevelStored {
  uint16_t MaxIncrease;
  TuningBlackLevelOffsets NormalLightOffset;
  TuningBlackLevel4Channel NormalLight4Channel;
};
static_assert(sizeof(TuningBlackLevelStored) == 14);

struct TuningBpcStored {
  TuningBpcThresholds Normal;
  TuningBpcThresholds LowLight;
};
static_assert(sizeof(TuningBpcStored) == 12);

struct TuningAfrStored {
  float FPS;
  uint8_t UseInAutoFrameRate;
  uint8_t Reserved[3];
  float FasterFPSGainTrigger;
  float SlowerFPSGainTrigger;
  int32_t FasterExpTableIndexMod;
  int32_t SlowerExpTableIndexMod;
};
static_assert(sizeof(TuningAfrStored) == 24);

// Index orders of the arrays below.
enum TuningColorConvIndex { CCONV_TL84, CCONV_A, CCONV_D65, CCONV_LOWLIGHT, CCONV_MONO, CCONV_SEPIA,
                            CCONV_NEGATIVE, CCONV_AQUA, CCONV_COUNT };
enum TuningBsmColorConvIndex { BSM_SUNSET, BSM_SKIN_TL84, BSM_SKIN_D65, BSM_SKIN_A, BSM_COUNT };
enum TuningMwbIndex { MWB_FLUORESCENT, MWB_SUNNY, MWB_TUNGSTEN, MWB_CLOUDY, MWB_STROBE, MWB_LED, MWB_COUNT };
enum TuningAwbRefIndex { AWBREF_D65, AWBREF_D75, AWBREF_A, AWBREF_TL84, AWBREF_CW, AWBREF_H, AWBREF_D50,
                         AWBREF_CUSTFLUO, AWBREF_NOON, AWBREF_COUNT };
enum TuningStatConfigIndex { STATCFG_LOWLIGHT, STATCFG_NORMALLIGHT, STATCFG_OUTDOOR, STATCFG_COUNT };
enum TuningGammaIndex { GAMMA_DEFAULT, GAMMA_LOWLIGHT, GAMMA_OUTDOOR, GAMMA_BACKLIGHT };
enum TuningRolloffIndex { ROLLOFF_TL84, ROLLOFF_A, ROLLOFF_D65, ROLLOFF_LOWLIGHT, ROLLOFF_COUNT };
enum TuningAsfLightIndex { ASF_LOWLIGHT, ASF_NORMAL, ASF_BRIGHT };

// ---------------------------------------------------------------------------
// The parameter block. Member names follow the tuning keys.

struct TuningParameterBlock {
  uint16_t MiscVarnixVersion;  // tuning-format version
  // ColorCorr
  uint8_t ColorCorrControl;
  uint8_t Gap3;
  TuningTrigger ColorCorrSnapshotTrigger;
  TuningColorCorrMatrix ColorCorrSnapshotDefault;
  TuningColorCorrMatrix ColorCorrSnapshotLowLight;
  TuningTrigger ColorCorrPreviewTrigger;
  TuningColorCorrMatrix ColorCorrPreviewDefault;
  TuningColorCorrMatrix ColorCorrPreviewLowLight;
  // ColorConv
  uint8_t ColorConvControl;
  uint8_t Gap213[3];
  TuningTrigger ColorConvTrigger;
  TuningColorConvMatrix ColorConv[CCONV_COUNT];
  // BSMColorConv
  float BSMColorConvSatFactor;
  TuningColorConvMatrix BSMColorConv[BSM_COUNT];
  // MWB
  TuningMwbGains MWB[MWB_COUNT];
  // AWB
  TuningChannelGains AWBChannelGain;
  TuningAwbRefPoint AWBRefPoints[AWBREF_COUNT];
  TuningAwbStatConfigStored AWBStatConfig[STATCFG_COUNT];
  int32_t AWBIndoorIndex;
  int32_t AWBOutdoorIndex;
  float AWBSnowBlueGainAdj;
  float AWBBeachBlueGainAdj;
  int32_t AWBOutlierDist;
  int32_t AWBGreenOffRG;
  int32_t AWBGreenOffBG;
  uint8_t AWBSkipFramesAfterChangingVFE;
  // AWBExt
  uint16_t AWBExtCClusterDistSq;
  uint16_t AWBExtCClusterToRefSq;
  uint8_t AWBExtAClusterThresh;
  uint8_t AWBExtFClusterThresh;
  uint8_t AWBExtDayClusterThresh;
  uint8_t AWBExtOutdoorGThresh;
  uint8_t AWBExtOutdoorGThrBrtF;
  uint8_t AWBExtOutdoorGThrDarkF;
  uint8_t AWBExtDayClusterThrF;
  uint8_t AWBExtWBAllowFLine;
  uint8_t AWBExtOutValidSamplesThr;
  uint8_t AWBExtOutGreenUpThresh;
  int16_t AWBExtRadiusSquaredThr;
  uint8_t AWBExtOutGThreshBrightA;
  uint8_t AWBExtOutGThreshDarkA;
  uint8_t AWBExtDayClusterThrA;
  float AWBExtCCGlobalGain;
  TuningGainTriple AWBExtMinGains;
  TuningGainTriple AWBExtMaxGains;
  TuningSampleInfluence AWBExtSampleInfluence;
  TuningWeightVector AWBExtWeightVector[10];  // D65, D75, A, TL84, CW, H, D50, CustFluo, Noon, Daylight
  int32_t AWBExtWhiteWorldYMinRatio;
  uint8_t AWBExtAgressiveness;
  uint8_t AWBExtSelfCalEnable;
  uint8_t Gap1350[2];
  // AEC
  uint8_t AECTableExpTableFlag;
  uint16_t AECTableValidEntries;
  TuningExposureEntry AECExposureTable[TUNING_EXPOSURE_TABLE_ENTRIES];
  uint8_t AECDefault;
  uint8_t AECOutdoor;
  uint8_t AECLowLight;
  uint8_t AECBacklightLuma;
  int32_t AECLumaTolerance;
  float AECExpIndexAdjStep;
  float AECISO100Gain;
  int32_t AECIndoorIndex;
  int32_t AECOutdoorIndex;
  float AECMaxPreviewGainAllowed;
  float AECMinPreviewGainAllowed;
  float AECMaxSnapshotGainAllowed;
  float AECMinSnapshotGainAllowed;
  float AECMaxSnapshotExposureTimeAllowed;
  float AECAgressiveness;
  uint16_t AECFixFpsTableIndex;
  uint8_t AECLinearAFRSupport;
  uint32_t AECHighLumaRegionThresh;
  uint8_t AECDigitalGainSupported;
  uint8_t Gap5413[3];
  uint8_t AECBrightRegionSupported;
  float AECBrightRegionReduction;
  uint32_t AECBrightRegionThreshLo;
  uint32_t AECBrightRegionThreshHi;
  float AECBrightRegionDiscardRatio;
  uint8_t AECDarkRegionSupported;
  float AECDarkRegionThreshLo;
  float AECDarkRegionThreshHi;
  float AECDarkRegionDiscardRatio;
  float AECDarkRegionReduction[4];
  float AECMaxVideoFPS;
  float AECVideoFPS;
  float AECMaxPreviewFPS;
  float AECPreviewFPS;
  float AECNightshotFPS;
  uint16_t AECNightshotTableIndex;
  // AF
  uint16_t AFTotalSteps;
  uint16_t AFNumGrossStepsBetwStatPoints;
  uint16_t AFNumFineStepsBetwStatPoints;
  uint16_t AFNumFineSearchPoints;
  uint16_t AFProcessType;
  uint16_t AFPositionNearEnd;
  uint16_t AFPositionDefaultInMacro;
  uint16_t AFPositionBoundary;
  uint16_t AFPositionDefaultInNormal;
  uint16_t AFPositionFarEnd;
  float AFStepsGain;
  uint16_t AFInitialCurrent;
  uint16_t AFNumStepsNearToFar;
  uint8_t AFUndershootProtect;
  uint16_t AFUndershootAdjust;
  uint8_t AFResetLensAfterSnap;
  uint8_t Gap5525[3];
  TuningAfWindow AFConfig;
  uint8_t AFFVMetric;
  uint8_t Gap5549;  // read with AF-FVMetric as its 16-bit word
  int8_t AFVfeHpf[8];  // a00, a02, a04, a20, a21, a22, a23, a24
  uint16_t AFWindowType;
  uint8_t AFSkinAssisted;
  // Gamma
  uint8_t GammaControl;
  uint8_t Gap5562[2];
  TuningTrigger GammaSnapshotLowLightTrigger;
  TuningTrigger GammaSnapshotOutdoorTrigger;
  TuningGammaStored GammaSnapshot[3];  // Default, LowLight, Outdoor
  uint8_t Gap8671;
  TuningTrigger GammaPreviewLowLightTrigger;
  TuningTrigger GammaPreviewOutdoorTrigger;
  TuningGammaStored GammaPreview[4];  // Default, LowLight, Outdoor, Backlight
  uint8_t GammaSolarizeReflection;
  // BlackLevel
  uint8_t BlackLevelControl;
  uint8_t Gap12806[2];
  TuningTrigger BlackLevelSnapshotLowLightTrigger;
  TuningBlackLevelStored BlackLevelSnapshot;
  uint8_t Gap12838[2];
  TuningTrigger BlackLevelPreviewLowLightTrigger;
  TuningBlackLevelStored BlackLevelPreview;
  // Rolloff
  uint8_t RolloffControl;
  uint8_t Gap12871;
  float RolloffGainLowLight;
  int32_t RolloffLuxIndexLowLight;
  TuningRolloffTable RolloffTable[ROLLOFF_COUNT];
  TuningRolloffMesh RolloffMesh[ROLLOFF_COUNT];
  // 3X3ASF
  uint8_t Asf3x3Control;
  uint8_t Gap30689[3];
  TuningTrigger Asf3x3LowLightTrigger;
  TuningTrigger Asf3x3OutdoorTrigger;
  float Asf3x3SharpMinDSFactor;
  float Asf3x3SharpMaxDSFactor;
  float Asf3x3SharpMaxFactor;
  TuningAsf3x3FilterStored Asf3x3[2];  // Regular, LowLight
  // 5X5ASF
  uint8_t Asf5x5Control;
  uint8_t Gap30897[3];
  TuningTrigger Asf5x5LowLightTrigger;
  TuningTrigger Asf5x5OutdoorTrigger;
  TuningAsf5x5FilterStored Asf5x5SnapshotFilter;
  float Asf5x5SoftFocusDegree;
  TuningAsf5x5FilterStored Asf5x5PreviewFilter;
  float Asf5x5SharpMinDSFactor;
  float Asf5x5SharpMaxDSFactor;
  float Asf5x5SharpMaxFactor;
  // LumaAdapt
  uint8_t LumaAdaptNumIterations;
  uint8_t LumaAdaptLowPercentage;
  uint8_t LumaAdaptLowRange;
  uint8_t LumaAdaptHighPercentage;
  uint8_t LumaAdaptHighRange;
  // ChromaSupp
  uint8_t ChromaSuppControl;
  uint8_t Gap31346[2];
  TuningTrigger ChromaSuppSnapshotLowLightTrigger;
  TuningChromaSupp ChromaSuppSnapshotLowLight;
  TuningChromaSupp ChromaSuppSnapshotNormalLight;
  TuningTrigger ChromaSuppPreviewLowLightTrigger;
  TuningChromaSupp ChromaSuppPreviewLowLight;
  TuningChromaSupp ChromaSuppPreviewNormalLight;
  // HJR
  uint8_t HJRMaxFrames;
  uint8_t HJR1to2FrameOffset;
  uint8_t HJRFlatAreaNoise;
  uint8_t HJRTextureNoise;
  uint8_t HJRTextureThresh;
  TuningHjrKTable HJRKTable;
  uint8_t HJRBayerFilterEnable;
  // ABF
  uint8_t ABFControl;
  uint8_t Gap31431;
  TuningAbfFilterData ABFSnapshotFilterData;
  TuningAbfFilterData ABFPreviewFilterData;
  uint8_t ABFPreviewEnableLuxIndex;
  uint8_t ABFSnapshotEnableLuxIndex;
  uint8_t Gap31842[2];
  TuningTrigger ABFPreviewIndex;
  TuningTrigger ABFSnapshotIndex;
  // AFD
  float AFDDetectionDataStdThresh;
  uint8_t AFDDetectionDataPctThresh;
  uint32_t AFDDetectionDataDiffThresh;
  uint32_t AFDDetectionDataFrameCtThresh;
  // BPC
  uint8_t BPCMinFactor;
  uint8_t BPCMaxFactor;
  uint8_t BPCControl;
  TuningTrigger BPCSnapshotLowLightTrigger;
  TuningBpcStored BPCSnapshot;
  TuningTrigger BPCPreviewLowLightTrigger;
  TuningBpcStored BPCPreview;
  // Skintone
  float SkintoneHMin, SkintoneHMax, SkintoneYMin, SkintoneYMax;
  float SkintoneSHYMin, SkintoneSHYMax, SkintoneSLYMin, SkintoneSLYMax;
  uint8_t SkintoneT0;
  // AFR
  TuningAfrStored AFR[TUNING_AFR_ENTRIES];
  // Demosaic
  uint8_t DemosaicSlopeShift;
  uint8_t Gap32181[3];
};

// Offsets that the key families state.
static_assert(offsetof(TuningParameterBlock, ColorCorrControl) == 2);
static_assert(offsetof(TuningParameterBlock, ColorCorrSnapshotTrigger) == 4);
static_assert(offsetof(TuningParameterBlock, ColorCorrSnapshotDefault) == 20);
static_assert(offsetof(TuningParameterBlock, ColorCorrPreviewLowLight) == 168);
static_assert(offsetof(TuningParameterBlock, ColorConvControl) == 212);
static_assert(offsetof(TuningParameterBlock, ColorConvTrigger) == 216);
static_assert(offsetof(TuningParameterBlock, ColorConv) == 232);
static_assert(offsetof(TuningParameterBlock, BSMColorConvSatFactor) == 648);
static_assert(offsetof(TuningParameterBlock, MWB) == 860);
static_assert(offsetof(TuningParameterBlock, AWBChannelGain) == 932);
static_assert(offsetof(TuningParameterBlock, AWBStatConfig) == 1092);
static_assert(offsetof(TuningParameterBlock, AWBSkipFramesAfterChangingVFE) == 1164);
static_assert(offsetof(TuningParameterBlock, AWBExtCClusterDistSq) == 1166);
static_assert(offsetof(TuningParameterBlock, AWBExtCCGlobalGain) == 1188);
static_assert(offsetof(TuningParameterBlock, AWBExtWeightVector) == 1224);
static_assert(offsetof(TuningParameterBlock, AWBExtSelfCalEnable) == 1349);
static_assert(offsetof(TuningParameterBlock, AECTableExpTableFlag) == 1352);
static_assert(offsetof(TuningParameterBlock, AECTableValidEntries) == 1354);
static_assert(offsetof(TuningParameterBlock, AECExposureTable) == 1356);
static_assert(offsetof(TuningParameterBlock, AECDefault) == 5356);
static_assert(offsetof(TuningParameterBlock, AECDigitalGainSupported) == 5412);
static_assert(offsetof(TuningParameterBlock, AECBrightRegionSupported) == 5416);
static_assert(offsetof(TuningParameterBlock, AECDarkRegionSupported) == 5436);
static_assert(offsetof(TuningParameterBlock, AECNightshotTableIndex) == 5488);
static_assert(offsetof(TuningParameterBlock, AFTotalSteps) == 5490);
static_assert(offsetof(TuningParameterBlock, AFResetLensAfterSnap) == 5524);
static_assert(offsetof(TuningParameterBlock, AFConfig) == 5528);
static_assert(offsetof(TuningParameterBlock, AFFVMetric) == 5548);
static_assert(offsetof(TuningParameterBlock, AFVfeHpf) == 5550);
static_assert(offsetof(TuningParameterBlock, AFWindowType) == 5558);
static_assert(offsetof(TuningParameterBlock, AFSkinAssisted) == 5560);
static_assert(offsetof(TuningParameterBlock, GammaControl) == 5561);
static_assert(offsetof(TuningParameterBlock, GammaSnapshot) == 5596);
static_assert(offsetof(TuningParameterBlock, GammaPreviewLowLightTrigger) == 8672);
static_assert(offsetof(TuningParameterBlock, GammaPreview) + 3 * sizeof(TuningGammaStored) +
                  offsetof(TuningGammaStored, Mode) == 12803);
static_assert(offsetof(TuningParameterBlock, BlackLevelControl) == 12805);
static_assert(offsetof(TuningParameterBlock, RolloffControl) == 12870);
static_assert(offsetof(TuningParameterBlock, RolloffTable) == 12880);
static_assert(offsetof(TuningParameterBlock, RolloffMesh) == 16528);
static_assert(offsetof(TuningParameterBlock, RolloffTable) % 8 == 0 && sizeof(TuningRolloffTable) % 8 == 0);
static_assert(offsetof(TuningParameterBlock, Asf3x3Control) == 30688);
static_assert(offsetof(TuningParameterBlock, Asf3x3) + offsetof(TuningAsf3x3FilterStored, NoiseThresh) == 30808);
static_assert(offsetof(TuningParameterBlock, Asf3x3) + offsetof(TuningAsf3x3FilterStored, EdgeThresh) == 30810);
static_assert(offsetof(TuningParameterBlock, Asf3x3) + offsetof(TuningAsf3x3FilterStored, EdgeFlag) == 30814);
static_assert(offsetof(TuningParameterBlock, Asf3x3) + sizeof(TuningAsf3x3FilterStored) +
                  offsetof(TuningAsf3x3FilterStored, NoiseThresh) == 30888);
static_assert(offsetof(TuningParameterBlock, Asf3x3) + sizeof(TuningAsf3x3FilterStored) +
                  offsetof(TuningAsf3x3FilterStored, EdgeFlag) == 30894);
static_assert(offsetof(TuningParameterBlock, Asf5x5Control) == 30896);
static_assert(offsetof(TuningParameterBlock, Asf5x5SnapshotFilter) + offsetof(TuningAsf5x5FilterStored, Setting) == 31068);
static_assert(offsetof(TuningParameterBlock, Asf5x5PreviewFilter) + offsetof(TuningAsf5x5FilterStored, Setting) == 31268);
static_assert(offsetof(TuningParameterBlock, LumaAdaptNumIterations) == 31340);
static_assert(offsetof(TuningParameterBlock, ChromaSuppControl) == 31345);
static_assert(offsetof(TuningParameterBlock, HJRMaxFrames) == 31404);
static_assert(offsetof(TuningParameterBlock, ABFControl) == 31430);
static_assert(offsetof(TuningParameterBlock, ABFSnapshotFilterData) == 31432);
static_assert(offsetof(TuningParameterBlock, ABFPreviewFilterData) == 31636);
static_assert(offsetof(TuningParameterBlock, ABFPreviewEnableLuxIndex) == 31840);
static_assert(offsetof(TuningParameterBlock, ABFSnapshotEnableLuxIndex) == 31841);
static_assert(offsetof(TuningParameterBlock, ABFPreviewIndex) == 31844);
static_assert(offsetof(TuningParameterBlock, ABFSnapshotIndex) == 31860);
static_assert(offsetof(TuningParameterBlock, AFDDetectionDataStdThresh) == 31876);
static_assert(offsetof(TuningParameterBlock, BPCMinFactor) == 31892);
static_assert(offsetof(TuningParameterBlock, SkintoneHMin) == 31952);
static_assert(offsetof(TuningParameterBlock, AFR) == 31988);
static_assert(offsetof(TuningParameterBlock, DemosaicSlopeShift) == 32180);
static_assert(sizeof(TuningParameterBlock) == TUNING_BLOCK_SIZE);

// A provider's whole table: the block, then the exposure-stretch record.
struct TuningDataTable {
  TuningParameterBlock Block;
  TuningExposureStretch ExposureStretch;
};
#if INTPTR_MAX == INT32_MAX  // the phone's layout: a 64-bit build widens its pointers
static_assert(offsetof(TuningDataTable, ExposureStretch) == TUNING_BLOCK_SIZE);
static_assert(sizeof(TuningDataTable) == TUNING_TABLE_SIZE);
#endif
