// CCameraTuningData: the tuning-data service, one per environment (kept by
// the host's singleton registry, which also keeps its reference count).
#pragma once

#include <stdint.h>

#include "ienv.h"
#include "isingletonregistry.h"
#include "cpvlobject.h"
#include "cpvlptr.h"
#include "cruntimetuning.h"
#include "tunvex.h"
#include "tuningdata.h"
#include "tuningdataprovider.h"
#include "ctuningparamreader.h"

class CCameraTuningData final : public CPvlObject {
 public:
  // The class switch's entry: (environment, class, unused argument, &out).
  // Any class other than ZUEUID_CLASS_TUNING_DATA gives 20.
  static PvlResult ClassEntry(IEnv* env, ZUEUID clsid, void* argument, void** out);

  // Reference counting goes through the singleton registry; these also serve
  // the aggregated registry's face, whose outer this object is.
  int32_t AddRef() override;
  int32_t Release() override;
  PvlResult QueryInterface(ZUEUID iid, void** out) override;

  // ITuningDataCommon
  PvlResult GetVersion(uint32_t* version);
  PvlResult SelectTuningData(ZUEUID providerClass);
  PvlResult CalibrateWhiteBalance(float red, float blue, float greenOdd, float greenEven);
  // IBestShotTuning
  PvlResult SetBestShotOverride(uint8_t enable, const BestShotRecord* record);

  // Every getter of both faces, over the loaded block.
  CTuningParamReader Reader() const {
    return CTuningParamReader(m_active ? &m_table.Block : nullptr, m_active ? &m_table.ExposureStretch : nullptr,
                              m_overrideOn ? &m_override : nullptr);
  }

  // For tests: the block itself and whether the server took the key table.
  const TuningDataTable& Table() const { return m_table; }
  bool HasRuntimeTuning() const { return m_runtimeTuning != nullptr; }

 private:
  static PvlResult Creator(void* context, ZUEUID clsid, void** out);
  CCameraTuningData(ISingletonRegistry* registry, IEnv* env);
  ~CCameraTuningData() override;
  PvlResult BindKeys();

  // Slots 0-8, the same on both getter faces.
  template <class Face>
  class CCommonFace : public Face {
   public:
    explicit CCommonFace(CCameraTuningData* self) : m_self(self) {}
    int32_t AddRef() override { return m_self->AddRef(); }
    int32_t Release() override { return m_self->Release(); }
    PvlResult QueryInterface(ZUEUID iid, void** out) override { return m_self->QueryInterface(iid, out); }
    PvlResult GetVersion(uint32_t* v) override { return m_self->GetVersion(v); }
    PvlResult SelectTuningData(ZUEUID c) override { return m_self->SelectTuningData(c); }
    PvlResult GetIntParam(TuningParamId id, int32_t* o) override { return m_self->Reader().GetIntParam(id, o); }
    PvlResult GetWordParam(TuningParamId id, uint32_t* o) override { return m_self->Reader().GetWordParam(id, o); }
    PvlResult GetBoolParam(TuningParamId id, uint8_t* o) override { return m_self->Reader().GetBoolParam(id, o); }
    PvlResult CalibrateWhiteBalance(float r, float b, float go, float ge) override {
      return m_self->CalibrateWhiteBalance(r, b, go, ge);
    }

   protected:
    CCameraTuningData* m_self;
  };

  class CDataFace final : public CCommonFace<ITuningData> {
   public:
    using CCommonFace::CCommonFace;
    PvlResult GetAwbRefPoint(TuningParamId id, TuningAwbRefPoint* o) override { return m_self->Reader().GetAwbRefPoint(id, o); }
    PvlResult GetAwbExtGains(TuningParamId id, TuningGainTriple* o) override { return m_self->Reader().GetAwbExtGains(id, o); }
    PvlResult GetAwbExtSampleInfluence(TuningParamId id, TuningSampleInfluence* o) override {
      return m_self->Reader().GetAwbExtSampleInfluence(id, o);
    }
    PvlResult GetAwbExtWeightVector(TuningParamId id, TuningWeightVector* o) override {
      return m_self->Reader().GetAwbExtWeightVector(id, o);
    }
    PvlResult GetExposureTable(TuningParamId id, TuningExposureEntry* e, int32_t cap, uint32_t* n) override {
      return m_self->Reader().GetExposureTable(id, e, cap, n);
    }
    PvlResult GetBrightRegion(TuningParamId id, TuningBrightRegion* o) override { return m_self->Reader().GetBrightRegion(id, o); }
    PvlResult GetDarkRegion(TuningParamId id, TuningDarkRegion* o) override { return m_self->Reader().GetDarkRegion(id, o); }
    PvlResult GetExposureStretch(TuningParamId id, TuningExposureStretch* o) override {
      return m_self->Reader().GetExposureStretch(id, o);
    }
    PvlResult GetAfdParams(TuningParamId id, TuningAfdParams* o) override { return m_self->Reader().GetAfdParams(id, o); }
    PvlResult GetHjrKTable(TuningParamId id, TuningHjrKTable* o) override { return m_self->Reader().GetHjrKTable(id, o); }
    PvlResult GetAfrTable(TuningParamId id, TuningAfrEntry* e, int32_t cap, uint32_t* n) override {
      return m_self->Reader().GetAfrTable(id, e, cap, n);
    }
  };

  class CParamsFace final : public CCommonFace<ITuningParams> {
   public:
    using CCommonFace::CCommonFace;
    PvlResult GetModuleEnable(TuningParamId id, uint32_t* o) override { return m_self->Reader().GetModuleEnable(id, o); }
    PvlResult GetTrigger(TuningParamId id, TuningTrigger* o) override { return m_self->Reader().GetTrigger(id, o); }
    PvlResult GetColorCorrMatrix(TuningParamId id, TuningColorCorrMatrix* o) override {
      return m_self->Reader().GetColorCorrMatrix(id, o);
    }
    PvlResult GetColorConvMatrix(TuningParamId id, TuningColorConvMatrix* o) override {
      return m_self->Reader().GetColorConvMatrix(id, o);
    }
    PvlResult GetMwbGains(TuningParamId id, TuningMwbGains* o) override { return m_self->Reader().GetMwbGains(id, o); }
    PvlResult GetChannelGains(TuningParamId id, TuningChannelGains* o) override { return m_self->Reader().GetChannelGains(id, o); }
    PvlResult GetAwbStatConfig(TuningParamId id, TuningAwbStatConfig* o) override { return m_self->Reader().GetAwbStatConfig(id, o); }
    PvlResult GetAfWindow(TuningParamId id, TuningAfWindow* o) override { return m_self->Reader().GetAfWindow(id, o); }
    PvlResult GetAfHpf(TuningParamId id, TuningAfHpf* o) override { return m_self->Reader().GetAfHpf(id, o); }
    PvlResult GetGammaTable(TuningParamId id, TuningGammaTable* o) override { return m_self->Reader().GetGammaTable(id, o); }
    PvlResult GetBlackLevelOffsets(TuningParamId id, TuningBlackLevelOffsets* o) override {
      return m_self->Reader().GetBlackLevelOffsets(id, o);
    }
    PvlResult GetBlackLevel4Channel(TuningParamId id, TuningBlackLevel4Channel* o) override {
      return m_self->Reader().GetBlackLevel4Channel(id, o);
    }
    PvlResult GetRolloffTable(TuningParamId id, TuningRolloffTable* o) override { return m_self->Reader().GetRolloffTable(id, o); }
    PvlResult GetRolloffMesh(TuningParamId id, TuningRolloffMesh* o) override { return m_self->Reader().GetRolloffMesh(id, o); }
    PvlResult GetAsf3x3Filter(TuningParamId id, TuningAsf3x3Filter* o) override { return m_self->Reader().GetAsf3x3Filter(id, o); }
    PvlResult GetAsf5x5Filter(TuningParamId id, TuningAsf5x5Filter* o) override { return m_self->Reader().GetAsf5x5Filter(id, o); }
    PvlResult GetAsf5x5Setting(TuningParamId id, TuningAsf5x5Setting* o) override {
      return m_self->Reader().GetAsf5x5Setting(id, o);
    }
    PvlResult GetAbfFilterData(TuningParamId id, TuningAbfFilterData* o) override {
      return m_self->Reader().GetAbfFilterData(id, o);
    }
    PvlResult GetBpcThresholds(TuningParamId id, TuningBpcThresholds* o) override {
      return m_self->Reader().GetBpcThresholds(id, o);
    }
    PvlResult GetChromaSupp(TuningParamId id, TuningChromaSupp* o) override { return m_self->Reader().GetChromaSupp(id, o); }
  };

  class CBestShotFace final : public IBestShotTuning {
   public:
    explicit CBestShotFace(CCameraTuningData* self) : m_self(self) {}
    int32_t AddRef() override { return m_self->AddRef(); }
    int32_t Release() override { return m_self->Release(); }
    PvlResult QueryInterface(ZUEUID iid, void** out) override { return m_self->QueryInterface(iid, out); }
    PvlResult SetBestShotOverride(uint8_t enable, const BestShotRecord* record) override {
      return m_self->SetBestShotOverride(enable, record);
    }

   private:
    CCameraTuningData* m_self;
  };

  CDataFace m_dataFace;
  CParamsFace m_paramsFace;
  CBestShotFace m_bestShotFace;
  CPvlPtr<ISingletonRegistry> m_registry;
  volatile int32_t m_count;
  CRuntimeTuning* m_runtimeTuning;  // aggregated; one reference of its own
  CPvlPtr<ITunvex> m_tunvex;
  ZUEUID m_selectedClass;
  CPvlPtr<ITuningDataProvider> m_provider;
  bool m_active;
  uint8_t m_overrideOn;
  BestShotRecord m_override;
  TuningDataTable m_table;  // the block, then the exposure-stretch record
};
