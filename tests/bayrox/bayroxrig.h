// What Bayrox's plug-ins meet in the engine, without the engine: the real
// settings objects (engine settings, sensor-information proxy, user data and
// the aggregate with its views) over a sensor-service double with this
// sensor's records, the tuning data (the lens's home position), a tuning
// server double, and statistics doubles that answer like the VFE service's
// objects: one WB/exposure object with both views, one focus object.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "ccameratuningdata.h"
#include "camerapropertyids.h"
#include "cbayroxaec.h"
#include "cbayroxaf.h"
#include "cbayroxawb.h"
#include "cbayroxpassiveelfs.h"
#include "cuserdataaggregate.h"
#include "hostsymbols.h"
#include "ienv.h"
#include "ipropertystore.h"
#include "ivfestats.h"
#include "orbhost_test.h"
#include "cpvlptr.h"
#include "settingsdoubles.h"
#include "tuningdoubles.h"

namespace bayroxtest {

constexpr uint32_t kRegions = 256;
constexpr ZUEUID kAecClass = 0x01046293u;
constexpr ZUEUID kAwbClass = 0x010460c4u;
constexpr ZUEUID kAfClass = 0x01045ccfu;
constexpr ZUEUID kHjrClass = 0x01070674u;
constexpr ZUEUID kLumaClass = 0x010757acu;

// One region of the WB/exposure statistics, the VFE's eight words.
struct Region {
  uint32_t y = 0, cb = 0, cr = 0, grey = 0, yAll = 0, r = 0, g = 0, b = 0;
};

// The WB/exposure statistics object: the exposure view is the primary face,
// the white-balance view the second; both share one count.
class WbExpStatsDouble final : public IWBExpStats {
 public:
  std::vector<Region> regions = std::vector<Region>(kRegions);
  uint32_t pixelsPerRegion = 4 * 1200;
  uint32_t frame = 0;
  std::atomic<int32_t> refs{0};

  int32_t AddRef() override { return ++refs; }
  int32_t Release() override { return --refs; }
  PvlResult QueryInterface(ZUEUID iid, void** out) override {
    if (iid == ZUEUID_IFACE_BASE || iid == ZUEUID_IFACE_WB_EXP_STATS) {
      *out = static_cast<IWBExpStats*>(this);
    } else if (iid == ZUEUID_IFACE_WB_EXP_STATS2) {
      *out = &m_second;
    } else {
      *out = nullptr;
      return PVL_E_UNSUPPORTED;
    }
    AddRef();
    return PVL_OK;
  }
  PvlResult GetRegionCount(uint32_t* c) override { *c = kRegions; return PVL_OK; }
  PvlResult GetRegionWord4(uint32_t* v, int32_t cap, uint32_t* c) override { return Words(&Region::yAll, v, cap, c); }
  PvlResult GetPixelsPerRegion(uint32_t* p) override { *p = pixelsPerRegion; return PVL_OK; }
  PvlResult GetRegionWord7(uint32_t* v, int32_t cap, uint32_t* c) override { return Words(&Region::b, v, cap, c); }
  PvlResult GetRegionWord6(uint32_t* v, int32_t cap, uint32_t* c) override { return Words(&Region::g, v, cap, c); }
  PvlResult GetRegionWord5(uint32_t* v, int32_t cap, uint32_t* c) override { return Words(&Region::r, v, cap, c); }
  PvlResult GetFrameId(uint32_t* f) override { *f = frame; return PVL_OK; }

  PvlResult Words(uint32_t Region::*w, uint32_t* v, int32_t cap, uint32_t* c) {
    if (!c || (cap > 0 && !v)) return PVL_E_NULLPTR;
    *c = kRegions;
    for (int32_t i = 0; i < cap && i < int32_t(kRegions); ++i) v[i] = regions[i].*w;
    return PVL_OK;
  }

 private:
  class Second final : public IWBExpStats2 {
   public:
    explicit Second(WbExpStatsDouble* s) : s_(s) {}
    int32_t AddRef() override { return s_->AddRef(); }
    int32_t Release() override { return s_->Release(); }
    PvlResult QueryInterface(ZUEUID iid, void** out) override { return s_->QueryInterface(iid, out); }
    PvlResult GetRegionCount(uint32_t* c) override { return s_->GetRegionCount(c); }
    PvlResult GetSumCbs(uint32_t* v, int32_t cap, uint32_t* c) override { return s_->Words(&Region::cb, v, cap, c); }
    PvlResult GetSumCrs(uint32_t* v, int32_t cap, uint32_t* c) override { return s_->Words(&Region::cr, v, cap, c); }
    PvlResult GetSumYg(uint32_t* v, int32_t cap, uint32_t* c) override { return s_->Words(&Region::y, v, cap, c); }
    PvlResult GetGreyPixelsPerRegion(uint32_t* v, int32_t cap, uint32_t* c) override {
      return s_->Words(&Region::grey, v, cap, c);
    }
    PvlResult Reserved8() override { return PVL_E_UNSUPPORTED; }
    PvlResult Reserved9() override { return PVL_E_UNSUPPORTED; }
    PvlResult Reserved10() override { return PVL_E_UNSUPPORTED; }
    PvlResult Reserved11() override { return PVL_E_UNSUPPORTED; }
    PvlResult GetFrameId(uint32_t* f) override { return s_->GetFrameId(f); }

   private:
    WbExpStatsDouble* s_;
  };
  Second m_second{this};
};

// The focus statistics object in whole-window mode: one value.
class AfStatsDouble final : public IAFStats {
 public:
  uint32_t value = 0;
  uint32_t frame = 0;
  std::atomic<int32_t> refs{0};

  int32_t AddRef() override { return ++refs; }
  int32_t Release() override { return --refs; }
  PvlResult QueryInterface(ZUEUID iid, void** out) override {
    if (iid == ZUEUID_IFACE_BASE || iid == ZUEUID_IFACE_AF_STATS) {
      *out = static_cast<IAFStats*>(this);
      AddRef();
      return PVL_OK;
    }
    *out = nullptr;
    return PVL_E_UNSUPPORTED;
  }
  PvlResult GetAFWindowConfig(uint8_t* w, int32_t cap, int32_t* c) override {
    if (!c) return PVL_E_BADARG;
    *c = 1;
    if (w && cap > 0) w[0] = 1;
    return PVL_OK;
  }
  PvlResult GetFocusValues(uint32_t* v, int32_t cap, int32_t* c) override {
    if (!c || (cap > 0 && !v)) return PVL_E_NULLPTR;
    *c = 1;
    if (cap > 0) v[0] = value;
    return PVL_OK;
  }
  PvlResult GetFrameId(uint32_t* f) override { *f = frame; return PVL_OK; }
};

// The settings objects as the engine holds them, and the plug-ins over them.
class BayroxTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A plug-in made through its class entry and initialised with the aggregate.
  template <class T>
  IELFS* Make() {
    void* out = nullptr;
    EXPECT_EQ(PVL_OK, T::ClassEntry(env.Get(), 0, nullptr, &out));
    auto* plugin = static_cast<IELFS*>(out);
    if (plugin) {
      EXPECT_EQ(PVL_OK, plugin->Initialize(aggregate));
      plugins.push_back(plugin);
    }
    return plugin;
  }
  template <class T>
  CPvlPtr<T> View(ZUEUID iid) {
    CPvlPtr<T> v;
    EXPECT_EQ(PVL_OK, aggregate->QueryInterface(iid, v.Out()));
    return v;
  }
  uint32_t Lines() const {
    uint32_t l = 0;
    es.GetExposureLineCount(&l);
    return l;
  }
  double Gain() const {
    CFixedPoint g;
    es.GetExposureGain(&g);
    double d = 0;
    g.GetDouble(&d);
    return d;
  }
  uint32_t PreSnapshotState() const {
    uint32_t s = 0;
    es.GetPreSnapshotState(&s);
    return s;
  }
  void SetExposure(uint32_t lines, double gain) {
    es.SetExposureLineCount(lines);
    es.SetExposureGain(CFixedPoint(8u, gain));
    es.ClearExposureChanged();
  }

  CPvlPtr<IEnv> env;
  CPvlPtr<IPropertyStore> store;
  tuningtest::PortFormatsDouble formats;
  tuningtest::SensorServiceDouble sensor;
  CUserData ud;
  CEngineSettings es;
  CSensorInfoProxy sip;
  CUserDataAggregate* aggregate = nullptr;
  CPvlPtr<ITuningData> tuning;
  std::vector<IELFS*> plugins;
};

}  // namespace bayroxtest
