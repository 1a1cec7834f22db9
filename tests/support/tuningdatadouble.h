// The base of the tuning-data service's doubles: every value slot answers 20
// (not offered), so that a double writes only the slots its test looks at
// and how it is counted and reached.
#pragma once

#include "tuningdata.h"

namespace camera::test {

class TuningDataSlots : public ITuningData {
 public:
  PvlResult GetVersion(uint32_t*) override { return PVL_E_UNSUPPORTED; }
  PvlResult SelectTuningData(ZUEUID) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetIntParam(TuningParamId, int32_t*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetWordParam(TuningParamId, uint32_t*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetBoolParam(TuningParamId, uint8_t*) override { return PVL_E_UNSUPPORTED; }
  PvlResult CalibrateWhiteBalance(float, float, float, float) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetAwbRefPoint(TuningParamId, TuningAwbRefPoint*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetAwbExtGains(TuningParamId, TuningGainTriple*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetAwbExtSampleInfluence(TuningParamId, TuningSampleInfluence*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetAwbExtWeightVector(TuningParamId, TuningWeightVector*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetExposureTable(TuningParamId, TuningExposureEntry*, int32_t, uint32_t*) override {
    return PVL_E_UNSUPPORTED;
  }
  PvlResult GetBrightRegion(TuningParamId, TuningBrightRegion*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetDarkRegion(TuningParamId, TuningDarkRegion*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetExposureStretch(TuningParamId, TuningExposureStretch*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetAfdParams(TuningParamId, TuningAfdParams*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetHjrKTable(TuningParamId, TuningHjrKTable*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetAfrTable(TuningParamId, TuningAfrEntry*, int32_t, uint32_t*) override { return PVL_E_UNSUPPORTED; }
};

}  // namespace camera::test
