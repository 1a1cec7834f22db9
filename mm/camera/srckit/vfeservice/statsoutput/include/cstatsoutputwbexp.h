// CStatsOutputWBExp: the white-balance/exposure kind of VFE statistics. Each
// filled buffer (a grid of regions, eight words a region) becomes the
// statistics object CWBExpStats, read through an exposure view and a
// white-balance view; the object is the in-use mark, so statistics arriving
// while a reader holds it are dropped.
#pragma once

#include <stdint.h>

#include "cstatsoutput.h"
#include "ivfestats.h"

class CStatsOutputWBExp;

class CWBExpStats final : public CStatsObject<IWBExpStats, IWBExpStats2> {
 public:
  explicit CWBExpStats(CStatsOutputWBExp* source) : m_source(source) {}

  PvlResult QueryInterface(ZUEUID iid, void** out) override;

  PvlResult GetRegionCount(uint32_t* count) override;
  PvlResult GetRegionWord4(uint32_t* values, int32_t capacity, uint32_t* count) override {
    return RegionValues(4, 0x1FFFFFFu, values, capacity, count);
  }
  PvlResult GetPixelsPerRegion(uint32_t* pixels) override;
  PvlResult GetRegionWord7(uint32_t* values, int32_t capacity, uint32_t* count) override {
    return RegionValues(7, 0x1FFFFFu, values, capacity, count);
  }
  PvlResult GetRegionWord6(uint32_t* values, int32_t capacity, uint32_t* count) override {
    return RegionValues(6, 0x1FFFFFu, values, capacity, count);
  }
  PvlResult GetRegionWord5(uint32_t* values, int32_t capacity, uint32_t* count) override {
    return RegionValues(5, 0x1FFFFFu, values, capacity, count);
  }
  PvlResult GetSumCbs(uint32_t* values, int32_t capacity, uint32_t* count) override {
    return RegionValues(1, 0x1FFFFFFu, values, capacity, count);
  }
  PvlResult GetSumCrs(uint32_t* values, int32_t capacity, uint32_t* count) override {
    return RegionValues(2, 0x1FFFFFFu, values, capacity, count);
  }
  PvlResult GetSumYg(uint32_t* values, int32_t capacity, uint32_t* count) override {
    return RegionValues(0, 0x1FFFFFFu, values, capacity, count);
  }
  PvlResult GetGreyPixelsPerRegion(uint32_t* values, int32_t capacity, uint32_t* count) override {
    return RegionValues(3, 0x1FFFFu, values, capacity, count);
  }
  PvlResult Reserved8() override { return PVL_E_UNSUPPORTED; }
  PvlResult Reserved9() override { return PVL_E_UNSUPPORTED; }
  PvlResult Reserved10() override { return PVL_E_UNSUPPORTED; }
  PvlResult Reserved11() override { return PVL_E_UNSUPPORTED; }

  // Takes the buffer and the values of one delivery.
  void Fill(uint32_t frame, uint32_t regions, uint32_t gridA, uint32_t gridB, IPvlMediaBuffer* buffer);

 private:
  PvlResult RegionValues(uint32_t word, uint32_t mask, uint32_t* values, int32_t capacity, uint32_t* count);

  CStatsOutputWBExp* m_source;
  uint32_t m_regions = 1;
};

class CStatsOutputWBExp final : public CStatsSourceBase {
 public:
  explicit CStatsOutputWBExp(IVfeOutputHost* service);

  PvlResult OnStats(uint32_t frameCounter, IPvlMediaBuffer* buffer) override;
  PvlResult GetBufferRequest(BufferRequest* request) override;

  CWBExpStats& Stats() { return m_stats; }

 private:
  CWBExpStats m_stats;
};
