// Tuning parameter queries over the loaded block.
#include "ctuningparamreader.h"

#include <cmath>
#include <cstddef>
#include <cstring>

namespace {

enum FieldKind : uint8_t {
  FIELD_U8,
  FIELD_U16,
  FIELD_I16,
  FIELD_I32,
  FIELD_U32,
  FIELD_F32_TRUNCATED,  // float key handed out as an integer, truncated toward zero
  FIELD_U8_LUMA,        // luma target: best-shot adjustment applies
  FIELD_U16_WORD,       // the byte of the key with the padding byte after it
};

struct IntParam {
  TuningParamId id;
  uint32_t offset;
  FieldKind kind;
};

#define FIELD(member) static_cast<uint32_t>(offsetof(TuningParameterBlock, member))

const IntParam kIntParams[] = {
    // AWB
    {0x00100200, FIELD(AWBIndoorIndex), FIELD_I32},
    {0x00100201, FIELD(AWBOutdoorIndex), FIELD_I32},
    {0x00100204, FIELD(AWBOutlierDist), FIELD_I32},
    {0x00100205, FIELD(AWBGreenOffRG), FIELD_I32},
    {0x00100206, FIELD(AWBGreenOffBG), FIELD_I32},
    {0x00100207, FIELD(AWBSkipFramesAfterChangingVFE), FIELD_U8},
    // AWBExt
    {0x00200000, FIELD(AWBExtCClusterDistSq), FIELD_U16},
    {0x00200001, FIELD(AWBExtCClusterToRefSq), FIELD_U16},
    {0x00200002, FIELD(AWBExtAClusterThresh), FIELD_U8},
    {0x00200003, FIELD(AWBExtFClusterThresh), FIELD_U8},
    {0x00200004, FIELD(AWBExtDayClusterThresh), FIELD_U8},
    {0x00200005, FIELD(AWBExtOutdoorGThresh), FIELD_U8},
    {0x00200006, FIELD(AWBExtOutdoorGThrBrtF), FIELD_U8},
    {0x00200007, FIELD(AWBExtOutdoorGThrDarkF), FIELD_U8},
    {0x00200008, FIELD(AWBExtDayClusterThrF), FIELD_U8},
    {0x00200009, FIELD(AWBExtWBAllowFLine), FIELD_U8},
    {0x0020000A, FIELD(AWBExtOutValidSamplesThr), FIELD_U8},
    {0x0020000B, FIELD(AWBExtOutGreenUpThresh), FIELD_U8},
    {0x0020000C, FIELD(AWBExtRadiusSquaredThr), FIELD_I16},
    {0x0020000D, FIELD(AWBExtOutGThreshBrightA), FIELD_U8},
    {0x0020000E, FIELD(AWBExtOutGThreshDarkA), FIELD_U8},
    {0x0020000F, FIELD(AWBExtDayClusterThrA), FIELD_U8},
    {0x00200015, FIELD(AWBExtWhiteWorldYMinRatio), FIELD_I32},
    {0x00200016, FIELD(AWBExtAgressiveness), FIELD_U8},
    // AEC
    {0x00300000, FIELD(AECIndoorIndex), FIELD_I32},
    {0x00300002, FIELD(AECDefault), FIELD_U8_LUMA},
    {0x00300003, FIELD(AECOutdoor), FIELD_U8_LUMA},
    {0x00300004, FIELD(AECLowLight), FIELD_U8_LUMA},
    {0x00300005, FIELD(AECBacklightLuma), FIELD_U8_LUMA},
    {0x00300006, FIELD(AECLumaTolerance), FIELD_I32},
    {0x00300008, FIELD(AECISO100Gain), FIELD_F32_TRUNCATED},
    {0x0030000A, FIELD(AECOutdoorIndex), FIELD_I32},
    {0x00300011, FIELD(AECFixFpsTableIndex), FIELD_U16},
    {0x00300013, FIELD(AECHighLumaRegionThresh), FIELD_U32},
    // HJR
    {0x00600000, FIELD(HJRMaxFrames), FIELD_U8},
    {0x00600001, FIELD(HJR1to2FrameOffset), FIELD_U8},
    {0x00600002, FIELD(HJRFlatAreaNoise), FIELD_U8},
    {0x00600003, FIELD(HJRTextureNoise), FIELD_U8},
    {0x00600004, FIELD(HJRTextureThresh), FIELD_U8},
    {0x00600006, FIELD(HJRBayerFilterEnable), FIELD_U8},
    // AF
    {0x00800000, FIELD(AFPositionNearEnd), FIELD_U16},
    {0x00800001, FIELD(AFPositionFarEnd), FIELD_U16},
    {0x00800002, FIELD(AFPositionBoundary), FIELD_U16},
    {0x00800003, FIELD(AFNumGrossStepsBetwStatPoints), FIELD_U16},
    {0x00800004, FIELD(AFNumFineStepsBetwStatPoints), FIELD_U16},
    {0x00800005, FIELD(AFNumFineSearchPoints), FIELD_U16},
    {0x00800007, FIELD(AFUndershootAdjust), FIELD_U16},
    {0x00800008, FIELD(AFProcessType), FIELD_U16},
    {0x00800009, FIELD(AFPositionDefaultInMacro), FIELD_U16},
    {0x0080000A, FIELD(AFPositionDefaultInNormal), FIELD_U16},
    {0x0080000B, FIELD(AFTotalSteps), FIELD_U16},
    {0x0080000C, FIELD(AFNumStepsNearToFar), FIELD_U16},
    {0x0080000E, FIELD(AFInitialCurrent), FIELD_U16},
    // VFE modules
    {0x80400004, FIELD(GammaSolarizeReflection), FIELD_U8},
    {0x80500000, FIELD(BlackLevelPreview.MaxIncrease), FIELD_U16},
    {0x80500100, FIELD(BlackLevelSnapshot.MaxIncrease), FIELD_U16},
    {0x80600F02, FIELD(RolloffLuxIndexLowLight), FIELD_I32},
    {0x80900000, FIELD(LumaAdaptNumIterations), FIELD_U8},
    {0x80900001, FIELD(LumaAdaptLowPercentage), FIELD_U8},
    {0x80900002, FIELD(LumaAdaptLowRange), FIELD_U8},
    {0x80900003, FIELD(LumaAdaptHighPercentage), FIELD_U8},
    {0x80900004, FIELD(LumaAdaptHighRange), FIELD_U8},
    {0x80B00F03, FIELD(ABFPreviewEnableLuxIndex), FIELD_U8},
    {0x80B00F04, FIELD(ABFSnapshotEnableLuxIndex), FIELD_U8},
    {0x80C00000, FIELD(BPCMinFactor), FIELD_U8},
    {0x80C00001, FIELD(BPCMaxFactor), FIELD_U8},
    {0x80D00002, FIELD(AFFVMetric), FIELD_U16_WORD},
    {0x80E00008, FIELD(SkintoneT0), FIELD_U8},
    {0x80F00000, FIELD(DemosaicSlopeShift), FIELD_U8},
};
static_assert(sizeof(kIntParams) / sizeof(kIntParams[0]) == 69);

struct FieldRef {
  TuningParamId id;
  uint32_t offset;
};

constexpr uint32_t kBlueAdjust = 0xFFFFFFFF;  // marker offsets of the two computed words
constexpr uint32_t kRedAdjust = 0xFFFFFFFE;

const FieldRef kWordParams[] = {
    {0x00100202, FIELD(AWBSnowBlueGainAdj)},
    {0x00100203, FIELD(AWBBeachBlueGainAdj)},
    {0x00300007, FIELD(AECExpIndexAdjStep)},
    {0x0030000B, FIELD(AECMaxPreviewGainAllowed)},
    {0x0030000C, FIELD(AECMinPreviewGainAllowed)},
    {0x0030000D, FIELD(AECMaxSnapshotGainAllowed)},
    {0x0030000E, FIELD(AECMinSnapshotGainAllowed)},
    {0x0030000F, FIELD(AECMaxSnapshotExposureTimeAllowed)},
    {0x00300010, FIELD(AECAgressiveness)},
    {0x0080000D, FIELD(AFStepsGain)},
    {0x80100100, FIELD(BSMColorConvSatFactor)},
    {0x80210000, kRedAdjust},
    {0x80210001, kBlueAdjust},
    {0x80300201, FIELD(AWBExtCCGlobalGain)},
    {0x80600F01, FIELD(RolloffGainLowLight)},
    {0x80700100, FIELD(Asf3x3SharpMaxFactor)},
    {0x80700F03, FIELD(Asf3x3SharpMinDSFactor)},
    {0x80700F04, FIELD(Asf3x3SharpMaxDSFactor)},
    {0x80800000, FIELD(Asf5x5SoftFocusDegree)},
    {0x80800001, FIELD(Asf5x5SharpMaxFactor)},
    {0x80800F03, FIELD(Asf5x5SharpMinDSFactor)},
    {0x80800F04, FIELD(Asf5x5SharpMaxDSFactor)},
    {0x80E00000, FIELD(SkintoneHMin)},
    {0x80E00001, FIELD(SkintoneHMax)},
    {0x80E00002, FIELD(SkintoneYMin)},
    {0x80E00003, FIELD(SkintoneYMax)},
    {0x80E00004, FIELD(SkintoneSHYMin)},
    {0x80E00005, FIELD(SkintoneSHYMax)},
    {0x80E00006, FIELD(SkintoneSLYMin)},
    {0x80E00007, FIELD(SkintoneSLYMax)},
};
static_assert(sizeof(kWordParams) / sizeof(kWordParams[0]) == 30);

const FieldRef kBoolParams[] = {
    {0x00200017, FIELD(AWBExtSelfCalEnable)},
    {0x00300012, FIELD(AECLinearAFRSupport)},
    {0x00300014, FIELD(AECDigitalGainSupported)},
    {0x00800006, FIELD(AFUndershootProtect)},
    {0x0080000F, FIELD(AFResetLensAfterSnap)},
};

const FieldRef kTriggers[] = {
    {0x80000F01, FIELD(ColorCorrSnapshotTrigger)},
    {0x80000F02, FIELD(ColorCorrPreviewTrigger)},
    {0x80100F01, FIELD(ColorConvTrigger)},
    {0x80400F01, FIELD(GammaSnapshotLowLightTrigger)},
    {0x80400F02, FIELD(GammaSnapshotOutdoorTrigger)},
    {0x80400F03, FIELD(GammaPreviewLowLightTrigger)},
    {0x80400F04, FIELD(GammaPreviewOutdoorTrigger)},
    {0x80500F01, FIELD(BlackLevelPreviewLowLightTrigger)},
    {0x80500F02, FIELD(BlackLevelSnapshotLowLightTrigger)},
    {0x80700F01, FIELD(Asf3x3LowLightTrigger)},
    {0x80700F02, FIELD(Asf3x3OutdoorTrigger)},
    {0x80800F01, FIELD(Asf5x5LowLightTrigger)},
    {0x80800F02, FIELD(Asf5x5OutdoorTrigger)},
    {0x80A00F01, FIELD(ChromaSuppSnapshotLowLightTrigger)},
    {0x80A00F02, FIELD(ChromaSuppPreviewLowLightTrigger)},
    {0x80B00F01, FIELD(ABFPreviewIndex)},
    {0x80B00F02, FIELD(ABFSnapshotIndex)},
    {0x80C00F01, FIELD(BPCPreviewLowLightTrigger)},
    {0x80C00F02, FIELD(BPCSnapshotLowLightTrigger)},
};

const FieldRef kModuleEnables[] = {
    {0x80000F00, FIELD(ColorCorrControl)},  {0x80100F00, FIELD(ColorConvControl)},
    {0x80400F00, FIELD(GammaControl)},      {0x80500F00, FIELD(BlackLevelControl)},
    {0x80600F00, FIELD(RolloffControl)},    {0x80700F00, FIELD(Asf3x3Control)},
    {0x80800F00, FIELD(Asf5x5Control)},     {0x80A00F00, FIELD(ChromaSuppControl)},
    {0x80B00F00, FIELD(ABFControl)},        {0x80C00F00, FIELD(BPCControl)},
};

#undef FIELD

template <size_t N>
const FieldRef* Find(const FieldRef (&table)[N], TuningParamId id) {
  for (const FieldRef& f : table)
    if (f.id == id) return &f;
  return nullptr;
}

const uint8_t* At(const TuningParameterBlock* block, uint32_t offset) {
  return reinterpret_cast<const uint8_t*>(block) + offset;
}

template <class T>
T Load(const TuningParameterBlock* block, uint32_t offset) {
  T v;
  std::memcpy(&v, At(block, offset), sizeof v);
  return v;
}

// Float to integer truncated toward zero; out-of-range values saturate and
// NaN gives 0, where a plain conversion would be undefined.
int32_t TruncateToInt32(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(v);
}

uint16_t TruncateToUint16(float v) {
  if (std::isnan(v) || v <= 0.0f) return 0;
  if (v >= 65535.0f) return 65535;
  return static_cast<uint16_t>(v);
}

uint32_t FloatBits(float f) {
  uint32_t w;
  std::memcpy(&w, &f, sizeof w);
  return w;
}

// Index II of an identifier base + II, when below count.
bool IndexOf(TuningParamId id, TuningParamId base, uint32_t count, uint32_t* index) {
  if (id < base || id - base >= count) return false;
  *index = id - base;
  return true;
}

}  // namespace

template <class T>
PvlResult CTuningParamReader::Single(TuningParamId id, TuningParamId key, T TuningParameterBlock::*field,
                                     T* out) const {
  if (PvlResult r = Precheck(out)) return r;
  if (id != key) return PVL_E_BADARG;
  *out = m_block->*field;
  return PVL_OK;
}

template <class T, size_t N>
PvlResult CTuningParamReader::Indexed(TuningParamId id, TuningParamId base, T (TuningParameterBlock::*array)[N],
                                      T* out) const {
  if (PvlResult r = Precheck(out)) return r;
  uint32_t i;
  if (!IndexOf(id, base, N, &i)) return PVL_E_BADARG;
  *out = (m_block->*array)[i];
  return PVL_OK;
}

PvlResult CTuningParamReader::GetIntParam(TuningParamId id, int32_t* out) const {
  if (PvlResult r = Precheck(out)) return r;
  for (const IntParam& p : kIntParams) {
    if (p.id != id) continue;
    int32_t v = 0;
    switch (p.kind) {
      case FIELD_U8: v = Load<uint8_t>(m_block, p.offset); break;
      case FIELD_U16:
      case FIELD_U16_WORD: v = Load<uint16_t>(m_block, p.offset); break;
      case FIELD_I16: v = Load<int16_t>(m_block, p.offset); break;
      case FIELD_I32: v = Load<int32_t>(m_block, p.offset); break;
      case FIELD_U32: v = static_cast<int32_t>(Load<uint32_t>(m_block, p.offset)); break;
      case FIELD_F32_TRUNCATED: v = TruncateToInt32(Load<float>(m_block, p.offset)); break;
      case FIELD_U8_LUMA: {
        v = Load<uint8_t>(m_block, p.offset);
        int32_t adjust = Column(BESTSHOT_COL_LUMA_TARGET);
        if (adjust == 1) v = TruncateToInt32(v * 0.8);
        else if (adjust == 2) v = TruncateToInt32(v * 1.2);
        break;
      }
    }
    *out = v;
    return PVL_OK;
  }
  return PVL_E_BADARG;
}

PvlResult CTuningParamReader::GetWordParam(TuningParamId id, uint32_t* out) const {
  if (PvlResult r = Precheck(out)) return r;
  const FieldRef* f = Find(kWordParams, id);
  if (!f) return PVL_E_BADARG;
  if (f->offset == kRedAdjust) {
    *out = FloatBits(1.0f);
  } else if (f->offset == kBlueAdjust) {
    int32_t column = Column(BESTSHOT_COL_BLUE_GAIN);
    if (column == 1) *out = FloatBits(m_block->AWBSnowBlueGainAdj);
    else if (column == 2) *out = FloatBits(m_block->AWBBeachBlueGainAdj);
    else *out = FloatBits(1.0f);
  } else {
    *out = Load<uint32_t>(m_block, f->offset);
  }
  return PVL_OK;
}

PvlResult CTuningParamReader::GetBoolParam(TuningParamId id, uint8_t* out) const {
  if (PvlResult r = Precheck(out)) return r;
  const FieldRef* f = Find(kBoolParams, id);
  if (!f) return PVL_E_BADARG;
  *out = Load<uint8_t>(m_block, f->offset);
  return PVL_OK;
}

PvlResult CTuningParamReader::GetAwbRefPoint(TuningParamId id, TuningAwbRefPoint* out) const {
  return Indexed(id, TUNING_ID_AWB_REFPOINT_BASE, &TuningParameterBlock::AWBRefPoints, out);
}

PvlResult CTuningParamReader::GetAwbExtGains(TuningParamId id, TuningGainTriple* out) const {
  if (PvlResult r = Precheck(out)) return r;
  if (id == TUNING_ID_AWBEXT_MIN_GAINS) *out = m_block->AWBExtMinGains;
  else if (id == TUNING_ID_AWBEXT_MAX_GAINS) *out = m_block->AWBExtMaxGains;
  else return PVL_E_BADARG;
  return PVL_OK;
}

PvlResult CTuningParamReader::GetAwbExtSampleInfluence(TuningParamId id, TuningSampleInfluence* out) const {
  return Single(id, TUNING_ID_AWBEXT_SAMPLE_INFLUENCE, &TuningParameterBlock::AWBExtSampleInfluence, out);
}

PvlResult CTuningParamReader::GetAwbExtWeightVector(TuningParamId id, TuningWeightVector* out) const {
  return Indexed(id, TUNING_ID_AWBEXT_WEIGHT_VECTOR_BASE, &TuningParameterBlock::AWBExtWeightVector, out);
}

PvlResult CTuningParamReader::GetExposureTable(TuningParamId id, TuningExposureEntry* entries, int32_t capacity,
                                               uint32_t* count) const {
  if (!m_block) return PVL_E_NOTREADY;
  if (!count || (!entries && capacity >= 1)) return PVL_E_NULLPTR;
  if (id != TUNING_ID_AEC_EXPOSURE_TABLE) return PVL_E_BADARG;
  // The valid-entry count is writable from the tuning tool: never read past the
  // table, whatever it says.
  uint32_t valid = m_block->AECTableValidEntries;
  if (valid > TUNING_EXPOSURE_TABLE_ENTRIES) valid = TUNING_EXPOSURE_TABLE_ENTRIES;
  uint32_t n = capacity > 0 ? static_cast<uint32_t>(capacity) : 0;
  if (n > valid) n = valid;
  for (uint32_t i = 0; i < n; ++i) entries[i] = m_block->AECExposureTable[i];
  *count = valid;
  return PVL_OK;
}

PvlResult CTuningParamReader::GetBrightRegion(TuningParamId id, TuningBrightRegion* out) const {
  if (PvlResult r = Precheck(out)) return r;
  if (id != TUNING_ID_AEC_BRIGHT_REGION) return PVL_E_BADARG;
  out->Supported = m_block->AECBrightRegionSupported;
  out->Reduction = m_block->AECBrightRegionReduction;
  out->ThreshLo = m_block->AECBrightRegionThreshLo;
  out->ThreshHi = m_block->AECBrightRegionThreshHi;
  out->DiscardRatio = m_block->AECBrightRegionDiscardRatio;
  return PVL_OK;
}

PvlResult CTuningParamReader::GetDarkRegion(TuningParamId id, TuningDarkRegion* out) const {
  if (PvlResult r = Precheck(out)) return r;
  if (id != TUNING_ID_AEC_DARK_REGION) return PVL_E_BADARG;
  out->Supported = m_block->AECDarkRegionSupported;
  out->ThreshLo = m_block->AECDarkRegionThreshLo;
  out->ThreshHi = m_block->AECDarkRegionThreshHi;
  out->DiscardRatio = m_block->AECDarkRegionDiscardRatio;
  out->Reduction0 = m_block->AECDarkRegionReduction[0];
  out->Reduction1 = m_block->AECDarkRegionReduction[1];
  out->Reduction2 = m_block->AECDarkRegionReduction[2];
  out->Reduction3 = m_block->AECDarkRegionReduction[3];
  return PVL_OK;
}

PvlResult CTuningParamReader::GetExposureStretch(TuningParamId id, TuningExposureStretch* out) const {
  if (PvlResult r = Precheck(out)) return r;
  if (id != TUNING_ID_AEC_EXPOSURE_STRETCH) return PVL_E_BADARG;
  if (!m_stretch) return PVL_E_NOTREADY;
  *out = *m_stretch;
  return PVL_OK;
}

PvlResult CTuningParamReader::GetAfdParams(TuningParamId id, TuningAfdParams* out) const {
  if (PvlResult r = Precheck(out)) return r;
  if (id != TUNING_ID_AFD_PARAMS) return PVL_E_BADARG;
  out->StdThresh = m_block->AFDDetectionDataStdThresh;
  out->PctThresh = m_block->AFDDetectionDataPctThresh;
  out->DiffThresh = m_block->AFDDetectionDataDiffThresh;
  out->FrameCtThresh = m_block->AFDDetectionDataFrameCtThresh;
  return PVL_OK;
}

PvlResult CTuningParamReader::GetHjrKTable(TuningParamId id, TuningHjrKTable* out) const {
  return Single(id, TUNING_ID_HJR_KTABLE, &TuningParameterBlock::HJRKTable, out);
}

PvlResult CTuningParamReader::GetAfrTable(TuningParamId id, TuningAfrEntry* entries, int32_t capacity,
                                          uint32_t* count) const {
  if (!m_block) return PVL_E_NOTREADY;
  if (!count || (!entries && capacity >= 1)) return PVL_E_NULLPTR;
  if (id != TUNING_ID_AFR_TABLE) return PVL_E_BADARG;
  uint32_t n = capacity > 0 ? static_cast<uint32_t>(capacity) : 0;
  if (n > TUNING_AFR_ENTRIES) n = TUNING_AFR_ENTRIES;
  for (uint32_t i = 0; i < n; ++i) {
    const TuningAfrStored& s = m_block->AFR[i];
    TuningAfrEntry e{};
    e.FPS = TruncateToUint16(s.FPS);
    e.UseInAutoFrameRate = s.UseInAutoFrameRate;
    e.Reserved = s.Reserved[0];
    e.FasterFPSGainTrigger = s.FasterFPSGainTrigger;
    e.SlowerFPSGainTrigger = s.SlowerFPSGainTrigger;
    e.FasterExpTableIndexMod = s.FasterExpTableIndexMod;
    e.SlowerExpTableIndexMod = s.SlowerExpTableIndexMod;
    entries[i] = e;
  }
  *count = TUNING_AFR_ENTRIES;
  return PVL_OK;
}

PvlResult CTuningParamReader::GetModuleEnable(TuningParamId id, uint32_t* out) const {
  if (PvlResult r = Precheck(out)) return r;
  const FieldRef* f = Find(kModuleEnables, id);
  if (!f) return PVL_E_BADARG;
  *out = Load<uint8_t>(m_block, f->offset) != 0 ? 1u : 0u;
  return PVL_OK;
}

PvlResult CTuningParamReader::GetTrigger(TuningParamId id, TuningTrigger* out) const {
  if (PvlResult r = Precheck(out)) return r;
  const FieldRef* f = Find(kTriggers, id);
  if (!f) return PVL_E_BADARG;
  std::memcpy(out, At(m_block, f->offset), sizeof *out);
  return PVL_OK;
}

PvlResult CTuningParamReader::GetColorCorrMatrix(TuningParamId id, TuningColorCorrMatrix* out) const {
  if (PvlResult r = Precheck(out)) return r;
  uint32_t i;
  if (!IndexOf(id, TUNING_ID_COLORCORR_BASE, 4, &i)) return PVL_E_BADARG;
  if (Column(BESTSHOT_COL_COLOR_CORRECTION) == 1) i |= 1;  // the low-light matrix of the same kind
  const TuningColorCorrMatrix* m[4] = {&m_block->ColorCorrPreviewDefault, &m_block->ColorCorrPreviewLowLight,
                                       &m_block->ColorCorrSnapshotDefault, &m_block->ColorCorrSnapshotLowLight};
  *out = *m[i];
  return PVL_OK;
}

PvlResult CTuningParamReader::GetColorConvMatrix(TuningParamId id, TuningColorConvMatrix* out) const {
  if (PvlResult r = Precheck(out)) return r;
  uint32_t i;
  if (!IndexOf(id, TUNING_ID_COLORCONV_BASE, uint32_t(CCONV_COUNT) + uint32_t(BSM_COUNT), &i)) return PVL_E_BADARG;
  const TuningColorConvMatrix* m =
      i < CCONV_COUNT ? &m_block->ColorConv[i] : &m_block->BSMColorConv[i - CCONV_COUNT];
  float saturation = 1.0f;
  switch (Column(BESTSHOT_COL_COLOR_CONVERSION)) {
    case 1:
      m = &m_block->BSMColorConv[BSM_SUNSET];
      break;
    case 2:
      if (id == TUNING_ID_COLORCONV_BASE + CCONV_A) m = &m_block->BSMColorConv[BSM_SKIN_A];
      else if (id == TUNING_ID_COLORCONV_BASE + CCONV_D65) m = &m_block->BSMColorConv[BSM_SKIN_D65];
      else m = &m_block->BSMColorConv[BSM_SKIN_TL84];
      break;
    case 3:
      saturation = m_block->BSMColorConvSatFactor;
      break;
    default:
      break;
  }
  TuningColorConvMatrix r = *m;
  r.CbScalingNegative_am *= saturation;
  r.CbScalingPositive_ap *= saturation;
  r.CrScalingNegative_cm *= saturation;
  r.CrScalingPositive_cp *= saturation;
  *out = r;
  return PVL_OK;
}

PvlResult CTuningParamReader::GetMwbGains(TuningParamId id, TuningMwbGains* out) const {
  return Indexed(id, TUNING_ID_MWB_BASE, &TuningParameterBlock::MWB, out);
}

PvlResult CTuningParamReader::GetChannelGains(TuningParamId id, TuningChannelGains* out) const {
  return Single(id, TUNING_ID_CHANNEL_GAINS, &TuningParameterBlock::AWBChannelGain, out);
}

PvlResult CTuningParamReader::GetAwbStatConfig(TuningParamId id, TuningAwbStatConfig* out) const {
  if (PvlResult r = Precheck(out)) return r;
  uint32_t i;
  if (!IndexOf(id, TUNING_ID_AWB_STAT_CONFIG_BASE, STATCFG_COUNT, &i)) return PVL_E_BADARG;
  const TuningAwbStatConfigStored& s = m_block->AWBStatConfig[i];
  out->LumaMin = s.LumaMin;
  out->LumaMax = s.LumaMax;
  out->Slope1 = s.Slope1;
  out->Slope2 = s.Slope2;
  out->Slope3 = s.Slope3;
  out->Slope4 = s.Slope4;
  out->CbOffset1 = s.CbOffset1;
  out->CrOffset2 = s.CrOffset2;
  out->CbOffset3 = s.CbOffset3;
  out->CrOffset4 = s.CrOffset4;
  return PVL_OK;
}

PvlResult CTuningParamReader::GetAfWindow(TuningParamId id, TuningAfWindow* out) const {
  return Single(id, TUNING_ID_AF_WINDOW, &TuningParameterBlock::AFConfig, out);
}

PvlResult CTuningParamReader::GetAfHpf(TuningParamId id, TuningAfHpf* out) const {
  if (PvlResult r = Precheck(out)) return r;
  if (id != TUNING_ID_AF_HPF) return PVL_E_BADARG;
  const int8_t* h = m_block->AFVfeHpf;
  *out = TuningAfHpf{h[0], h[1], h[2], h[3], h[4], h[5], h[6], h[7]};
  return PVL_OK;
}

PvlResult CTuningParamReader::GetGammaTable(TuningParamId id, TuningGammaTable* out) const {
  if (PvlResult r = Precheck(out)) return r;
  uint32_t i;
  bool preview;
  if (IndexOf(id, TUNING_ID_GAMMA_PREVIEW_BASE, 4, &i)) preview = true;
  else if (IndexOf(id, TUNING_ID_GAMMA_SNAPSHOT_BASE, 3, &i)) preview = false;
  else return PVL_E_BADARG;
  switch (Column(BESTSHOT_COL_GAMMA)) {
    case 1: i = GAMMA_OUTDOOR; break;
    case 2: i = GAMMA_LOWLIGHT; break;
    case 3: i = GAMMA_BACKLIGHT; preview = true; break;  // the preview backlight table for both kinds
    default: break;
  }
  const TuningGammaStored& g = preview ? m_block->GammaPreview[i] : m_block->GammaSnapshot[i];
  out->Mode = g.Mode;
  std::memcpy(out->Table, g.Table, sizeof out->Table);
  return PVL_OK;
}

PvlResult CTuningParamReader::GetBlackLevelOffsets(TuningParamId id, TuningBlackLevelOffsets* out) const {
  if (PvlResult r = Precheck(out)) return r;
  if (id == 0x80500001) *out = m_block->BlackLevelPreview.NormalLightOffset;
  else if (id == 0x80500101) *out = m_block->BlackLevelSnapshot.NormalLightOffset;
  else return PVL_E_BADARG;
  return PVL_OK;
}

PvlResult CTuningParamReader::GetBlackLevel4Channel(TuningParamId id, TuningBlackLevel4Channel* out) const {
  if (PvlResult r = Precheck(out)) return r;
  if (id == 0x80500003) *out = m_block->BlackLevelPreview.NormalLight4Channel;
  else if (id == 0x80500103) *out = m_block->BlackLevelSnapshot.NormalLight4Channel;
  else return PVL_E_BADARG;
  return PVL_OK;
}

PvlResult CTuningParamReader::GetRolloffTable(TuningParamId id, TuningRolloffTable* out) const {
  return Indexed(id, TUNING_ID_ROLLOFF_TABLE_BASE, &TuningParameterBlock::RolloffTable, out);
}

PvlResult CTuningParamReader::GetRolloffMesh(TuningParamId id, TuningRolloffMesh* out) const {
  return Indexed(id, TUNING_ID_ROLLOFF_MESH_BASE, &TuningParameterBlock::RolloffMesh, out);
}

PvlResult CTuningParamReader::GetAsf3x3Filter(TuningParamId id, TuningAsf3x3Filter* out) const {
  if (PvlResult r = Precheck(out)) return r;
  uint32_t i;
  if (!IndexOf(id, TUNING_ID_ASF3X3_REGULAR, 2, &i)) return PVL_E_BADARG;
  const TuningAsf3x3FilterStored& s = m_block->Asf3x3[i];
  TuningAsf3x3Filter f{};
  std::memcpy(f.EdgeA, s.EdgeA, sizeof f.EdgeA);
  std::memcpy(f.NoiseA, s.NoiseA, sizeof f.NoiseA);
  f.EdgeThresh = s.EdgeThresh;
  f.NoiseThresh = s.NoiseThresh;
  f.Reserved[0] = s.Reserved[0];
  f.Reserved[1] = s.Reserved[1];
  f.EdgeFlag = s.EdgeFlag;
  *out = f;
  return PVL_OK;
}

PvlResult CTuningParamReader::GetAsf5x5Filter(TuningParamId id, TuningAsf5x5Filter* out) const {
  if (PvlResult r = Precheck(out)) return r;
  bool snapshot;
  if (id == TUNING_ID_ASF5X5_SNAPSHOT_FILTER) snapshot = true;
  else if (id == TUNING_ID_ASF5X5_PREVIEW_FILTER) snapshot = false;
  else return PVL_E_BADARG;
  const TuningAsf5x5FilterStored& s = snapshot ? m_block->Asf5x5SnapshotFilter : m_block->Asf5x5PreviewFilter;
  TuningAsf5x5Filter f{};
  f.FilterMode = static_cast<int32_t>(s.FilterMode);
  for (int k = 0; k < 9; ++k) {
    f.SmoothFltr[k] = s.SmoothFltr[k];
    f.LapFltr[k] = s.LapFltr[k];
  }
  f.Normal1 = s.Normal1;
  f.Normal2 = s.Normal2;
  std::memcpy(f.Filter1, s.Filter1, sizeof f.Filter1);
  std::memcpy(f.Filter2, s.Filter2, sizeof f.Filter2);
  // Signed for the snapshot filter, unsigned for the preview filter.
  f.ExtrFactor = snapshot ? static_cast<int16_t>(static_cast<int8_t>(s.ExtrFactor)) : static_cast<int16_t>(s.ExtrFactor);
  *out = f;
  return PVL_OK;
}

PvlResult CTuningParamReader::GetAsf5x5Setting(TuningParamId id, TuningAsf5x5Setting* out) const {
  if (PvlResult r = Precheck(out)) return r;
  uint32_t ss;
  const TuningAsf5x5FilterStored* filter;
  if (IndexOf(id, TUNING_ID_ASF5X5_SNAPSHOT_SETTING_BASE + 1, 3, &ss)) filter = &m_block->Asf5x5SnapshotFilter;
  else if (IndexOf(id, TUNING_ID_ASF5X5_PREVIEW_SETTING_BASE + 1, 3, &ss)) filter = &m_block->Asf5x5PreviewFilter;
  else return PVL_E_BADARG;
  const TuningAsf5x5SettingStored& s = filter->Setting[ss];
  float softFocus = Column(BESTSHOT_COL_SOFT_FOCUS) == 1 ? m_block->Asf5x5SoftFocusDegree : 1.0f;
  TuningAsf5x5Setting r{};
  r.LowThresh = s.LowThresh;
  r.UpThresh = s.UpThresh;
  r.NegThresh = s.NegThresh;
  r.UpThreshF2 = s.UpThreshF2;
  r.NegThreshF2 = s.NegThreshF2;
  r.SharpAmtF1 = s.SharpAmtF1 * softFocus;
  r.SharpAmtF2 = s.SharpAmtF2 * softFocus;
  r.SmoothPct = s.SmoothPct;
  *out = r;
  return PVL_OK;
}

PvlResult CTuningParamReader::GetAbfFilterData(TuningParamId id, TuningAbfFilterData* out) const {
  if (PvlResult r = Precheck(out)) return r;
  if (id == 0x80B00000) *out = m_block->ABFSnapshotFilterData;
  else if (id == 0x80B00001) *out = m_block->ABFPreviewFilterData;
  else return PVL_E_BADARG;
  return PVL_OK;
}

PvlResult CTuningParamReader::GetBpcThresholds(TuningParamId id, TuningBpcThresholds* out) const {
  if (PvlResult r = Precheck(out)) return r;
  switch (id) {
    case 0x80C00100: *out = m_block->BPCPreview.Normal; break;
    case 0x80C00101: *out = m_block->BPCPreview.LowLight; break;
    case 0x80C00102: *out = m_block->BPCSnapshot.Normal; break;
    case 0x80C00103: *out = m_block->BPCSnapshot.LowLight; break;
    default: return PVL_E_BADARG;
  }
  return PVL_OK;
}

PvlResult CTuningParamReader::GetChromaSupp(TuningParamId id, TuningChromaSupp* out) const {
  if (PvlResult r = Precheck(out)) return r;
  switch (id) {
    case 0x80A00000: *out = m_block->ChromaSuppPreviewNormalLight; break;
    case 0x80A00001: *out = m_block->ChromaSuppPreviewLowLight; break;
    case 0x80A00002: *out = m_block->ChromaSuppSnapshotNormalLight; break;
    case 0x80A00003: *out = m_block->ChromaSuppSnapshotLowLight; break;
    default: return PVL_E_BADARG;
  }
  return PVL_OK;
}
