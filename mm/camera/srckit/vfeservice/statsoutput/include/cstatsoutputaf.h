// CStatsOutputAF: the auto-focus kind of VFE statistics. Each filled buffer
// (a head word, then one focus value a word) becomes the statistics object
// CAFStats that the focus algorithm reads; statistics arriving while it holds
// the object are dropped.
#pragma once

#include <stdint.h>

#include "cstatsoutput.h"
#include "ivfestats.h"

class CStatsOutputAF;

class CAFStats final : public CStatsObject<IAFStats> {
 public:
  explicit CAFStats(CStatsOutputAF* source) : m_source(source) {}

  PvlResult QueryInterface(ZUEUID iid, void** out) override;
  PvlResult GetAFWindowConfig(uint8_t* windows, int32_t capacity, int32_t* count) override;
  PvlResult GetFocusValues(uint32_t* values, int32_t capacity, int32_t* count) override;

 private:
  CStatsOutputAF* m_source;
};

class CStatsOutputAF final : public CStatsSourceBase {
 public:
  explicit CStatsOutputAF(IVfeOutputHost* service);

  PvlResult OnStats(uint32_t frameCounter, IPvlMediaBuffer* buffer) override;
  PvlResult GetBufferRequest(BufferRequest* request) override;

  CAFStats& Stats() { return m_stats; }

 private:
  CAFStats m_stats;
};
