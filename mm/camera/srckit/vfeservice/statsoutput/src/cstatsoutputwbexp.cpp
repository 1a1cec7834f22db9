// CStatsOutputWBExp and its statistics object CWBExpStats.
#include "cstatsoutputwbexp.h"

#include "pvllog.h"
#include "vfedriver.h"

// ---- The statistics object ----

PvlResult CWBExpStats::QueryInterface(ZUEUID iid, void** out) {
  if (!out) return PVL_E_BADARG;
  switch (iid) {
    case ZUEUID_IFACE_BASE:
    case ZUEUID_IFACE_WB_EXP_STATS:
      *out = static_cast<IWBExpStats*>(this);
      break;
    case ZUEUID_IFACE_WB_EXP_STATS2:
      *out = static_cast<IWBExpStats2*>(this);
      break;
    default:
      return PVL_E_UNSUPPORTED;
  }
  AddRef();
  return PVL_OK;
}

void CWBExpStats::Fill(uint32_t frame, uint32_t regions, uint32_t gridA, uint32_t gridB, IPvlMediaBuffer* buffer) {
  m_regions = regions;
  CStatsObject::Fill(frame, gridA, gridB, buffer);
}

PvlResult CWBExpStats::GetRegionCount(uint32_t* count) {
  if (!count) return PVL_E_NULLPTR;
  *count = m_regions;
  return PVL_OK;
}

PvlResult CWBExpStats::GetPixelsPerRegion(uint32_t* pixels) {
  if (!pixels) return PVL_E_NULLPTR;
  *pixels = m_regions ? (m_gridA * m_gridB) / m_regions : 0;
  return PVL_OK;
}

PvlResult CWBExpStats::RegionValues(uint32_t word, uint32_t mask, uint32_t* values, int32_t capacity,
                                    uint32_t* count) {
  if ((capacity >= 1 && !values) || !count) return PVL_E_NULLPTR;
  if (!m_buffer) return PVL_E_FAIL;
  uint64_t address = 0;
  PvlResult r = m_buffer->GetVirtualAddress(&address);
  if (r != PVL_OK) return r;
  if (address == 0) return PVL_E_FAIL;
  uint32_t bytes = 0;
  r = m_buffer->GetCapacity(&bytes);
  if (r != PVL_OK) return r;
  const uint32_t* data = reinterpret_cast<const uint32_t*>(static_cast<uintptr_t>(address));
  *count = m_regions;
  // Never past the buffer, whatever the region count claims.
  const uint32_t words = bytes / 4;
  for (uint32_t i = 0; static_cast<int32_t>(i) < capacity && i < m_regions; ++i) {
    const uint32_t at = 1 + 8 * i + word;
    if (at >= words) return PVL_E_BUFFERTOOSMALL;
    values[i] = data[at] & mask;
  }
  return PVL_OK;
}

// ---- The source ----

CStatsOutputWBExp::CStatsOutputWBExp(IVfeOutputHost* service)
    : CStatsSourceBase(service, VFE_CMD_ACK_STATS_WB_EXP, ZUEUID_SIGNAL_ACK_WB_EXP_STATS,
                       "***!!! ERROR ACKING AWB EXP STATS !!!***"),
      m_stats(this) {}

PvlResult CStatsOutputWBExp::OnStats(uint32_t frameCounter, IPvlMediaBuffer* buffer) {
  if (m_stats.InUse()) return PVL_OK;  // a reader still holds the last ones: these are lost
  m_stats.Fill(frameCounter, m_statsCount, m_gridA, m_gridB, buffer);
  IWBExpStats* view = &m_stats;
  view->AddRef();
  PvlResult r = m_service->RaiseEvent(EVENT_STATS_AVAILABLE, 0, view);
  view->Release();
  return r;
}

PvlResult CStatsOutputWBExp::GetBufferRequest(BufferRequest* request) {
  if (!request) return PVL_E_NULLPTR;
  *request = BufferRequest{};
  request->count = 3;
  request->size = 0x2004;
  request->source = ZUEUID_BUFFER_SOURCE_CONTIGUOUS;
  request->alignment = 8;
  return PVL_OK;
}
