// CStatsOutputAF and its statistics object CAFStats.
#include "cstatsoutputaf.h"

#include <string.h>

#include "camerasettings.h"
#include "csensorinfo.h"
#include "pvllog.h"
#include "vfedriver.h"

namespace {

constexpr int32_t kMaxWindows = 16;

struct WindowConfig {
  uint8_t wholeFrame = 0;
  uint8_t cells[kMaxWindows] = {};
  int32_t count = 0;
};

PvlResult ReadWindowConfig(IVfeOutputHost* service, WindowConfig* config) {
  IVfeSettings* settings = service->GetVfeSettings();
  if (!settings) return PVL_E_NOTREADY;
  return settings->GetAFWindowConfig(&config->wholeFrame, config->cells, kMaxWindows, &config->count);
}

}  // namespace

// ---- The statistics object ----

PvlResult CAFStats::QueryInterface(ZUEUID iid, void** out) {
  if (!out) return PVL_E_BADARG;
  if (iid != ZUEUID_IFACE_BASE && iid != ZUEUID_IFACE_AF_STATS) return PVL_E_UNSUPPORTED;
  *out = static_cast<IAFStats*>(this);
  AddRef();
  return PVL_OK;
}

PvlResult CAFStats::GetAFWindowConfig(uint8_t* windows, int32_t capacity, int32_t* count) {
  if (!count || (windows && capacity < 1) || (!windows && capacity != 0)) return PVL_E_BADARG;
  WindowConfig config;
  PvlResult r = ReadWindowConfig(m_source->GetService(), &config);
  if (r != PVL_OK) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "***!!! ERROR Getting AFWindowConfig !!!***");
    return r;
  }
  if (config.wholeFrame) {
    *count = 1;
    if (windows) windows[0] = 1;
    return PVL_OK;
  }
  const int32_t n = config.count < kMaxWindows ? config.count : kMaxWindows;
  *count = n;
  if (windows) {
    for (int32_t i = 0; i < capacity; ++i) windows[i] = config.cells[0];
    for (int32_t i = 0; i < n && i < capacity; ++i) windows[i] = config.cells[i];
  }
  return PVL_OK;
}

PvlResult CAFStats::GetFocusValues(uint32_t* values, int32_t capacity, int32_t* count) {
  if ((capacity >= 1 && !values) || !count) return PVL_E_NULLPTR;
  WindowConfig config;
  PvlResult r = ReadWindowConfig(m_source->GetService(), &config);
  if (r != PVL_OK) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "***!!! ERROR Getting AFWindowConfig !!!***");
    return r;
  }
  if (!m_buffer) return PVL_E_FAIL;
  uint32_t bytes = 0;
  uint64_t address = 0;
  r = m_buffer->GetCapacity(&bytes);
  if (r == PVL_OK) r = m_buffer->GetVirtualAddress(&address);
  if (r != PVL_OK) return r;
  if (address == 0) return PVL_E_FAIL;
  if (capacity < 1) return PVL_OK;
  const uint32_t* data = reinterpret_cast<const uint32_t*>(static_cast<uintptr_t>(address)) + 1;
  const uint32_t available = bytes / 4 > 0 ? bytes / 4 - 1 : 0;
  const uint32_t length = m_gridB;
  if (config.wholeFrame) {
    *count = 1;
    const uint32_t words = length >= 1 ? (length - 1) / 2 : 0;
    // Values past the buffer are not there to read: report the short buffer.
    if (words > available) return PVL_E_BUFFERTOOSMALL;
    uint32_t sum = 0;
    for (uint32_t i = 0; i < words; ++i) sum += data[i] & 0x3FFFFFu;
    values[0] = sum;
    return PVL_OK;
  }
  const int32_t windowCount = config.count < kMaxWindows ? config.count : kMaxWindows;
  *count = windowCount;
  for (int32_t i = 0; i < capacity; ++i) values[i] = 0;
  const int32_t rows = static_cast<int32_t>(length / 16) - 1;
  const uint32_t words = rows > 0 ? static_cast<uint32_t>(rows / 2) * static_cast<uint32_t>(windowCount) : 0;
  if (words > available) return PVL_E_BUFFERTOOSMALL;
  const int32_t matched = windowCount < capacity ? windowCount : capacity;
  for (uint32_t i = 0; i < words; ++i) {
    const uint32_t grid = data[i] >> 24;
    for (int32_t w = 0; w < matched; ++w) {
      if (config.cells[w] == grid) {
        values[w] += data[i] & 0x7FFFFu;
        break;
      }
    }
  }
  CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Get Focus Values focusValuesLenReq = %d", static_cast<int>(windowCount));
  for (int32_t i = 0; i < capacity; ++i)
    CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "pFocusValues[%d] = %d, grid index = %d", static_cast<int>(i),
                     static_cast<int>(values[i]), i < windowCount ? static_cast<int>(config.cells[i]) : -1);
  return PVL_OK;
}

// ---- The source ----

CStatsOutputAF::CStatsOutputAF(IVfeOutputHost* service)
    : CStatsSourceBase(service, VFE_CMD_ACK_STATS_AF, ZUEUID_SIGNAL_ACK_AF_STATS, "***!!! ERROR ACKING AF EXP STATS !!!***"),
      m_stats(this) {}

PvlResult CStatsOutputAF::OnStats(uint32_t frameCounter, IPvlMediaBuffer* buffer) {
  if (m_stats.InUse()) return PVL_OK;  // the focus algorithm still reads the last ones
  m_stats.Fill(frameCounter, m_gridA, m_gridB, buffer);
  IAFStats* face = &m_stats;
  face->AddRef();
  PvlResult r = m_service->RaiseEvent(EVENT_STATS_AVAILABLE, 1, face);
  face->Release();
  return r;
}

PvlResult CStatsOutputAF::GetBufferRequest(BufferRequest* request) {
  if (!request) return PVL_E_NULLPTR;
  CSensorInfo info;
  PvlResult r = info.Fill(m_service->GetVfeSettings());
  if (r != PVL_OK) return r;
  const int32_t h = info.GetInputHeight();
  *request = BufferRequest{};
  request->count = 3;
  request->size = static_cast<uint32_t>(((h - 1) / 2 + 1) * 4);
  request->source = ZUEUID_BUFFER_SOURCE_CONTIGUOUS;
  request->alignment = 8;
  return PVL_OK;
}
