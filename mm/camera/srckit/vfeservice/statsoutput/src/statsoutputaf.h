// CStatsOutputAF: the auto-focus kind of VFE statistics. Each filled buffer
// (a head word, then one focus value a word) becomes the statistics object
// CAFStats that the focus algorithm reads; statistics arriving while it holds
// the object are dropped.
#pragma once

#include <stdint.h>

#include "ivfestats.h"
#include "statsoutput.h"

class CStatsOutputAF;

class CAFStats final : public IAFStats {
 public:
  explicit CAFStats(CStatsOutputAF* source) : m_source(source) {}

  int32_t AddRef() override { return __atomic_add_fetch(&m_count, 1, __ATOMIC_ACQ_REL); }
  int32_t Release() override;
  PvlResult QueryInterface(ZUEUID iid, void** out) override;
  PvlResult GetAFWindowConfig(uint8_t* windows, int32_t capacity, int32_t* count) override;
  PvlResult GetFocusValues(uint32_t* values, int32_t capacity, int32_t* count) override;
  PvlResult GetFrameId(uint32_t* frame) override;

  bool InUse() const { return __atomic_load_n(&m_count, __ATOMIC_ACQUIRE) != 0; }
  void Fill(uint32_t frame, uint32_t gridA, uint32_t gridB, IPvlMediaBuffer* buffer);

 private:
  CStatsOutputAF* m_source;
  int32_t m_count = 0;
  uint32_t m_frame = 0;
  uint32_t m_gridA = 0;
  uint32_t m_gridB = 0;
  CPvlPtr<IPvlMediaBuffer> m_buffer;
};

class CStatsOutputAF final : public CStatsSourceBase {
 public:
  explicit CStatsOutputAF(CVfeService* service);

  PvlResult OnStats(uint32_t frameCounter, IPvlMediaBuffer* buffer) override;
  PvlResult GetBufferRequest(BufferRequest* request) override;

  CAFStats& Stats() { return m_stats; }

 private:
  CAFStats m_stats;
};
