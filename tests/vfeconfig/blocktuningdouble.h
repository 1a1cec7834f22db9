// A tuning-data service double for the block computations' golden tables:
// the values a case sets, by identifier, behind both faces the blocks reach
// (the primary one and the tuning-parameter face); every identifier not set
// answers 14, like the real service's unknown ones. Put in place of the
// service through the host's class doubles.
#pragma once

#include <cstring>
#include <map>

#include "orbhost_test.h"
#include "tuningdata.h"

namespace vfeconfigtest {

class BlockTuningDouble final : public ITuningData {
 public:
  std::map<TuningParamId, int32_t> ints;
  std::map<TuningParamId, uint32_t> words;
  std::map<TuningParamId, uint32_t> enables;
  std::map<TuningParamId, TuningTrigger> triggers;
  std::map<TuningParamId, TuningAbfFilterData> abf;
  std::map<TuningParamId, TuningBpcThresholds> bpc;
  std::map<TuningParamId, TuningAsf5x5Setting> asfSettings;
  std::map<TuningParamId, TuningAsf5x5Filter> asfFilters;
  std::map<TuningParamId, TuningRolloffMesh> meshes;
  std::map<TuningParamId, TuningAfHpf> hpf;
  std::map<TuningParamId, TuningAfWindow> afWindows;
  std::map<TuningParamId, TuningAwbStatConfig> awbStats;
  std::map<TuningParamId, int> reads;  // per identifier, every getter

  void SetFloatWord(TuningParamId id, float f) {
    uint32_t w;
    memcpy(&w, &f, sizeof w);
    words[id] = w;
  }

  // The one instance the host hands out while Install holds.
  static BlockTuningDouble*& Current() {
    static BlockTuningDouble* current = nullptr;
    return current;
  }
  void Install() {
    Current() = this;
    OrbhostTest_RegisterClass(ZUEUID_CLASS_TUNING_DATA, &Factory);
  }
  void Uninstall() {
    OrbhostTest_UnregisterClass(ZUEUID_CLASS_TUNING_DATA);
    Current() = nullptr;
  }

  int32_t AddRef() override { return 1; }
  int32_t Release() override { return 1; }
  PvlResult QueryInterface(ZUEUID iid, void** out) override {
    if (!out) return PVL_E_BADARG;
    if (iid == ZUEUID_IFACE_TUNING_PARAMS) {
      *out = static_cast<ITuningParams*>(&params_);
      return PVL_OK;
    }
    if (iid == ZUEUID_IFACE_BASE || iid == ZUEUID_IFACE_TUNING_DATA) {
      *out = static_cast<ITuningData*>(this);
      return PVL_OK;
    }
    *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }
  PvlResult GetVersion(uint32_t*) override { return PVL_E_UNSUPPORTED; }
  PvlResult SelectTuningData(ZUEUID) override { return PVL_OK; }
  PvlResult GetIntParam(TuningParamId id, int32_t* out) override { return Find(ints, id, out); }
  PvlResult GetWordParam(TuningParamId id, uint32_t* out) override { return Find(words, id, out); }
  PvlResult GetBoolParam(TuningParamId, uint8_t*) override { return PVL_E_BADARG; }
  PvlResult CalibrateWhiteBalance(float, float, float, float) override { return PVL_E_UNSUPPORTED; }
#define NO_RECORD(Name, Type) \
  PvlResult Name(TuningParamId, Type*) override { return PVL_E_BADARG; }
  NO_RECORD(GetAwbRefPoint, TuningAwbRefPoint)
  NO_RECORD(GetAwbExtGains, TuningGainTriple)
  NO_RECORD(GetAwbExtSampleInfluence, TuningSampleInfluence)
  NO_RECORD(GetAwbExtWeightVector, TuningWeightVector)
  NO_RECORD(GetBrightRegion, TuningBrightRegion)
  NO_RECORD(GetDarkRegion, TuningDarkRegion)
  NO_RECORD(GetExposureStretch, TuningExposureStretch)
  NO_RECORD(GetAfdParams, TuningAfdParams)
  NO_RECORD(GetHjrKTable, TuningHjrKTable)
  PvlResult GetExposureTable(TuningParamId, TuningExposureEntry*, int32_t, uint32_t*) override {
    return PVL_E_BADARG;
  }
  PvlResult GetAfrTable(TuningParamId, TuningAfrEntry*, int32_t, uint32_t*) override { return PVL_E_BADARG; }

  template <class T>
  PvlResult Find(const std::map<TuningParamId, T>& values, TuningParamId id, T* out) {
    ++reads[id];
    auto v = values.find(id);
    if (v == values.end()) return PVL_E_BADARG;
    *out = v->second;
    return PVL_OK;
  }

 private:
  static int32_t Factory(IEnv*, ZUEUID, void*, void** out) {
    if (!Current()) return PVL_E_NOTREADY;
    *out = static_cast<ITuningData*>(Current());
    return PVL_OK;
  }

  class Params final : public ITuningParams {
   public:
    explicit Params(BlockTuningDouble* owner) : o_(owner) {}
    int32_t AddRef() override { return 1; }
    int32_t Release() override { return 1; }
    PvlResult QueryInterface(ZUEUID iid, void** out) override { return o_->QueryInterface(iid, out); }
    PvlResult GetVersion(uint32_t*) override { return PVL_E_UNSUPPORTED; }
    PvlResult SelectTuningData(ZUEUID) override { return PVL_OK; }
    PvlResult GetIntParam(TuningParamId id, int32_t* out) override { return o_->Find(o_->ints, id, out); }
    PvlResult GetWordParam(TuningParamId id, uint32_t* out) override { return o_->Find(o_->words, id, out); }
    PvlResult GetBoolParam(TuningParamId, uint8_t*) override { return PVL_E_BADARG; }
    PvlResult CalibrateWhiteBalance(float, float, float, float) override { return PVL_E_UNSUPPORTED; }
    PvlResult GetModuleEnable(TuningParamId id, uint32_t* out) override { return o_->Find(o_->enables, id, out); }
    PvlResult GetTrigger(TuningParamId id, TuningTrigger* out) override { return o_->Find(o_->triggers, id, out); }
    NO_RECORD(GetColorCorrMatrix, TuningColorCorrMatrix)
    NO_RECORD(GetColorConvMatrix, TuningColorConvMatrix)
    NO_RECORD(GetMwbGains, TuningMwbGains)
    NO_RECORD(GetChannelGains, TuningChannelGains)
    PvlResult GetAwbStatConfig(TuningParamId id, TuningAwbStatConfig* out) override {
      return o_->Find(o_->awbStats, id, out);
    }
    PvlResult GetAfWindow(TuningParamId id, TuningAfWindow* out) override { return o_->Find(o_->afWindows, id, out); }
    PvlResult GetAfHpf(TuningParamId id, TuningAfHpf* out) override { return o_->Find(o_->hpf, id, out); }
    NO_RECORD(GetGammaTable, TuningGammaTable)
    NO_RECORD(GetBlackLevelOffsets, TuningBlackLevelOffsets)
    NO_RECORD(GetBlackLevel4Channel, TuningBlackLevel4Channel)
    NO_RECORD(GetRolloffTable, TuningRolloffTable)
    PvlResult GetRolloffMesh(TuningParamId id, TuningRolloffMesh* out) override {
      return o_->Find(o_->meshes, id, out);
    }
    NO_RECORD(GetAsf3x3Filter, TuningAsf3x3Filter)
    PvlResult GetAsf5x5Filter(TuningParamId id, TuningAsf5x5Filter* out) override {
      return o_->Find(o_->asfFilters, id, out);
    }
    PvlResult GetAsf5x5Setting(TuningParamId id, TuningAsf5x5Setting* out) override {
      return o_->Find(o_->asfSettings, id, out);
    }
    PvlResult GetAbfFilterData(TuningParamId id, TuningAbfFilterData* out) override {
      return o_->Find(o_->abf, id, out);
    }
    PvlResult GetBpcThresholds(TuningParamId id, TuningBpcThresholds* out) override {
      return o_->Find(o_->bpc, id, out);
    }
    NO_RECORD(GetChromaSupp, TuningChromaSupp)

   private:
    BlockTuningDouble* o_;
  };
#undef NO_RECORD
  Params params_{this};
};

}  // namespace vfeconfigtest
