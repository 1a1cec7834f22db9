// The tuning-data service: one object per environment that holds the loaded
// tuning parameter block and answers parameter queries by TuningParamId.
//
// Getters test, in this order: a loaded block (13), a non-null output (29),
// the identifier (14), and write their output only on success.
#pragma once

#include <stdint.h>

#include "bestshot.h"
#include "pvlbase.h"
#include "tuningblock.h"
#include "tuningparamid.h"

#define ZUEUID_CLASS_TUNING_DATA 0x01063090u
#define ZUEUID_IFACE_TUNING_DATA 0x01062d0du
#define ZUEUID_IFACE_TUNING_DATA_ALT 0x01063406u  // second identifier of the primary face
#define ZUEUID_IFACE_TUNING_PARAMS 0x01062d15u
#define ZUEUID_IFACE_BESTSHOT_TUNING 0x01089c16u

// Slots 3-8, shared by ITuningData and ITuningParams.
class ITuningDataCommon : public IPvlBase {
 public:
  // 13 without a block; else the block's first 16-bit word (the tuning-format version).
  virtual PvlResult GetVersion(uint32_t* version) = 0;                                    // 3
  // Loads the block from the provider class; 0 when the class is already selected.
  virtual PvlResult SelectTuningData(ZUEUID providerClass) = 0;                           // 4
  virtual PvlResult GetIntParam(TuningParamId id, int32_t* out) = 0;                      // 5
  virtual PvlResult GetWordParam(TuningParamId id, uint32_t* out) = 0;                    // 6 (raw word; IEEE single for float keys)
  virtual PvlResult GetBoolParam(TuningParamId id, uint8_t* out) = 0;                     // 7
  // Rescales the white-balance gains of the loaded block.
  virtual PvlResult CalibrateWhiteBalance(float red, float blue, float greenOdd, float greenEven) = 0;  // 8

 protected:
  ~ITuningDataCommon() = default;
};

// The primary face: statistics records.
class ITuningData : public ITuningDataCommon {
 public:
  virtual PvlResult GetAwbRefPoint(TuningParamId id, TuningAwbRefPoint* out) = 0;                    // 9
  virtual PvlResult GetAwbExtGains(TuningParamId id, TuningGainTriple* out) = 0;                     // 10
  virtual PvlResult GetAwbExtSampleInfluence(TuningParamId id, TuningSampleInfluence* out) = 0;      // 11
  virtual PvlResult GetAwbExtWeightVector(TuningParamId id, TuningWeightVector* out) = 0;            // 12
  // Copies min(count, capacity) entries and reports the full count (at most 500);
  // a null entries pointer is allowed only with a capacity below 1.
  virtual PvlResult GetExposureTable(TuningParamId id, TuningExposureEntry* entries, int32_t capacity,
                                     uint32_t* count) = 0;                                           // 13
  virtual PvlResult GetBrightRegion(TuningParamId id, TuningBrightRegion* out) = 0;                  // 14
  virtual PvlResult GetDarkRegion(TuningParamId id, TuningDarkRegion* out) = 0;                      // 15
  virtual PvlResult GetExposureStretch(TuningParamId id, TuningExposureStretch* out) = 0;            // 16
  virtual PvlResult GetAfdParams(TuningParamId id, TuningAfdParams* out) = 0;                        // 17
  virtual PvlResult GetHjrKTable(TuningParamId id, TuningHjrKTable* out) = 0;                        // 18
  // The eight AFR entries; the same capacity rule as the exposure table.
  virtual PvlResult GetAfrTable(TuningParamId id, TuningAfrEntry* entries, int32_t capacity,
                                uint32_t* count) = 0;                                                // 19

 protected:
  ~ITuningData() = default;
};

// The VFE modules' face. Slot numbers are binding: the 5x5 filter set is slot
// 24 and the 5x5 filter setting slot 25.
class ITuningParams : public ITuningDataCommon {
 public:
  virtual PvlResult GetModuleEnable(TuningParamId id, uint32_t* out) = 0;                            // 9
  virtual PvlResult GetTrigger(TuningParamId id, TuningTrigger* out) = 0;                            // 10
  virtual PvlResult GetColorCorrMatrix(TuningParamId id, TuningColorCorrMatrix* out) = 0;            // 11
  virtual PvlResult GetColorConvMatrix(TuningParamId id, TuningColorConvMatrix* out) = 0;            // 12
  virtual PvlResult GetMwbGains(TuningParamId id, TuningMwbGains* out) = 0;                          // 13
  virtual PvlResult GetChannelGains(TuningParamId id, TuningChannelGains* out) = 0;                  // 14
  virtual PvlResult GetAwbStatConfig(TuningParamId id, TuningAwbStatConfig* out) = 0;                // 15
  virtual PvlResult GetAfWindow(TuningParamId id, TuningAfWindow* out) = 0;                          // 16
  virtual PvlResult GetAfHpf(TuningParamId id, TuningAfHpf* out) = 0;                                // 17
  virtual PvlResult GetGammaTable(TuningParamId id, TuningGammaTable* out) = 0;                      // 18
  virtual PvlResult GetBlackLevelOffsets(TuningParamId id, TuningBlackLevelOffsets* out) = 0;        // 19
  virtual PvlResult GetBlackLevel4Channel(TuningParamId id, TuningBlackLevel4Channel* out) = 0;      // 20
  virtual PvlResult GetRolloffTable(TuningParamId id, TuningRolloffTable* out) = 0;                  // 21
  virtual PvlResult GetRolloffMesh(TuningParamId id, TuningRolloffMesh* out) = 0;                    // 22
  virtual PvlResult GetAsf3x3Filter(TuningParamId id, TuningAsf3x3Filter* out) = 0;                  // 23
  virtual PvlResult GetAsf5x5Filter(TuningParamId id, TuningAsf5x5Filter* out) = 0;                  // 24
  virtual PvlResult GetAsf5x5Setting(TuningParamId id, TuningAsf5x5Setting* out) = 0;                // 25
  virtual PvlResult GetAbfFilterData(TuningParamId id, TuningAbfFilterData* out) = 0;                // 26
  virtual PvlResult GetBpcThresholds(TuningParamId id, TuningBpcThresholds* out) = 0;                // 27
  virtual PvlResult GetChromaSupp(TuningParamId id, TuningChromaSupp* out) = 0;                      // 28

 protected:
  ~ITuningParams() = default;
};

class IBestShotTuning : public IPvlBase {
 public:
  // enable 0: override off (the stored record is kept); enable non-zero with a
  // record: override on with a copy of it; enable non-zero without one: 14.
  virtual PvlResult SetBestShotOverride(uint8_t enable, const BestShotRecord* record) = 0;  // 3

 protected:
  ~IBestShotTuning() = default;
};

// --- Client helpers: for code that holds no service pointer. Each takes and
// releases its own references.

// The environment's tuning-data service (one reference for the caller).
PvlResult TuningData_GetService(ITuningData** out);
PvlResult TuningData_GetParamsInterface(ITuningParams** out);
PvlResult TuningData_GetIntParam(TuningParamId id, int32_t* out);
PvlResult TuningData_GetWordParam(TuningParamId id, uint32_t* out);
PvlResult TuningData_GetModuleEnable(TuningParamId id, uint32_t* out);
// The same, returning the value; a non-zero result throws Camera::CZUEException.
int32_t TuningData_MustGetIntParam(TuningParamId id);
uint32_t TuningData_MustGetWordParam(TuningParamId id);
uint32_t TuningData_MustGetModuleEnable(TuningParamId id);
