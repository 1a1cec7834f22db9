// Answers tuning parameter queries by TuningParamId from a loaded parameter
// block, applying the best-shot override where a getter consults it.
//
// Every getter tests, in this order: a loaded block (13), a non-null output (29),
// the identifier (14); it writes its output only on success.
#pragma once

#include <cstddef>
#include <cstdint>

#include "bestshot.h"
#include "pvlresult.h"
#include "tuningblock.h"
#include "tuningparamid.h"

class CTuningParamReader {
 public:
  // block: the loaded block or null (every query then answers 13); stretch: the
  // loaded exposure-stretch record; bestShot: the override row while the
  // override is on, else null.
  CTuningParamReader(const TuningParameterBlock* block, const TuningExposureStretch* stretch,
                     const BestShotRecord* bestShot)
      : m_block(block), m_stretch(stretch), m_bestShot(bestShot) {}

  PvlResult GetIntParam(TuningParamId id, int32_t* out) const;
  PvlResult GetWordParam(TuningParamId id, uint32_t* out) const;
  PvlResult GetBoolParam(TuningParamId id, uint8_t* out) const;

  // Statistics records.
  PvlResult GetAwbRefPoint(TuningParamId id, TuningAwbRefPoint* out) const;
  PvlResult GetAwbExtGains(TuningParamId id, TuningGainTriple* out) const;
  PvlResult GetAwbExtSampleInfluence(TuningParamId id, TuningSampleInfluence* out) const;
  PvlResult GetAwbExtWeightVector(TuningParamId id, TuningWeightVector* out) const;
  // Copies min(count, capacity) entries and reports the full count; a null
  // entries pointer is allowed only with a capacity below 1.
  PvlResult GetExposureTable(TuningParamId id, TuningExposureEntry* entries, int32_t capacity,
                             uint32_t* count) const;
  PvlResult GetBrightRegion(TuningParamId id, TuningBrightRegion* out) const;
  PvlResult GetDarkRegion(TuningParamId id, TuningDarkRegion* out) const;
  PvlResult GetExposureStretch(TuningParamId id, TuningExposureStretch* out) const;
  PvlResult GetAfdParams(TuningParamId id, TuningAfdParams* out) const;
  PvlResult GetHjrKTable(TuningParamId id, TuningHjrKTable* out) const;
  PvlResult GetAfrTable(TuningParamId id, TuningAfrEntry* entries, int32_t capacity, uint32_t* count) const;

  // VFE module records.
  PvlResult GetModuleEnable(TuningParamId id, uint32_t* out) const;
  PvlResult GetTrigger(TuningParamId id, TuningTrigger* out) const;
  PvlResult GetColorCorrMatrix(TuningParamId id, TuningColorCorrMatrix* out) const;
  PvlResult GetColorConvMatrix(TuningParamId id, TuningColorConvMatrix* out) const;
  PvlResult GetMwbGains(TuningParamId id, TuningMwbGains* out) const;
  PvlResult GetChannelGains(TuningParamId id, TuningChannelGains* out) const;
  PvlResult GetAwbStatConfig(TuningParamId id, TuningAwbStatConfig* out) const;
  PvlResult GetAfWindow(TuningParamId id, TuningAfWindow* out) const;
  PvlResult GetAfHpf(TuningParamId id, TuningAfHpf* out) const;
  PvlResult GetGammaTable(TuningParamId id, TuningGammaTable* out) const;
  PvlResult GetBlackLevelOffsets(TuningParamId id, TuningBlackLevelOffsets* out) const;
  PvlResult GetBlackLevel4Channel(TuningParamId id, TuningBlackLevel4Channel* out) const;
  PvlResult GetRolloffTable(TuningParamId id, TuningRolloffTable* out) const;
  PvlResult GetRolloffMesh(TuningParamId id, TuningRolloffMesh* out) const;
  PvlResult GetAsf3x3Filter(TuningParamId id, TuningAsf3x3Filter* out) const;
  PvlResult GetAsf5x5Filter(TuningParamId id, TuningAsf5x5Filter* out) const;
  PvlResult GetAsf5x5Setting(TuningParamId id, TuningAsf5x5Setting* out) const;
  PvlResult GetAbfFilterData(TuningParamId id, TuningAbfFilterData* out) const;
  PvlResult GetBpcThresholds(TuningParamId id, TuningBpcThresholds* out) const;
  PvlResult GetChromaSupp(TuningParamId id, TuningChromaSupp* out) const;

 private:
  int32_t Column(int column) const { return m_bestShot ? m_bestShot->Words[column] : 0; }
  template <class T>
  PvlResult Precheck(const T* out) const {
    if (!m_block) return PVL_E_NOTREADY;
    if (!out) return PVL_E_NULLPTR;
    return PVL_OK;
  }

  // A record stored whole under one identifier.
  template <class T>
  PvlResult Single(TuningParamId id, TuningParamId key, T TuningParameterBlock::*field, T* out) const;
  // A record of an array stored whole, its identifier base + index.
  template <class T, size_t N>
  PvlResult Indexed(TuningParamId id, TuningParamId base, T (TuningParameterBlock::*array)[N], T* out) const;

  const TuningParameterBlock* m_block;
  const TuningExposureStretch* m_stretch;
  const BestShotRecord* m_bestShot;
};
