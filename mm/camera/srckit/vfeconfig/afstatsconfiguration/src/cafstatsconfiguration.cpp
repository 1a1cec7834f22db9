#include "cafstatsconfiguration.h"

#include "camerasettings.h"
#include "cfovcropconfiguration.h"
#include "vfetuningkeys.h"

namespace {

constexpr TuningParamId kHighPass = 0x80D00000u;
constexpr TuningParamId kWindow = 0x80D00001u;
constexpr TuningParamId kMetric = 0x80D00002u;
constexpr uint8_t kDefaultCells[CAFStatsConfiguration::kCells] = {0,   25,  34,  59,  68,  93,  102, 127,
                                                                 136, 145, 170, 179, 204, 213, 238, 247};

uint16_t Scaled(uint32_t size, float ratio, uint32_t origin) {
  const float v = static_cast<float>(size) * ratio + static_cast<float>(origin);
  return static_cast<uint16_t>(v > 0.0f ? static_cast<uint32_t>(v) : 0u);
}

}  // namespace

CAFStatsConfiguration::CAFStatsConfiguration(IVfeServiceInternal* service, PvlResult* result)
    : CVfeSwitchedConfiguration(service, result) {
  if (*result == PVL_OK)
    VfeTuningKeys_Register(service, VfeKeyBlock::AFStats, &m_payload, &m_enable, &m_controlEnable);
}

// The record's names are the register fields; the payload carries the
// window's first pixel (+2), first line (+4), width (+6) and height (+8),
// then the high-pass taps a00, a04 (+30, +31) and a20-a24 (+32..+36).
void CAFStatsConfiguration::SetDefaults() {
  memset(&m_payload, 0, sizeof m_payload);
  m_payload.enable = 1;
  m_payload.gridMode = 1;
  m_payload.firstPixel = 400;
  m_payload.lastPixel = 300;
  m_payload.firstLine = 800;
  m_payload.lastLine = 600;
  memcpy(m_payload.cells, kDefaultCells, sizeof kDefaultCells);
  m_payload.metric = 1;
  m_payload.clip = 2047;
  m_payload.tap0 = static_cast<uint8_t>(-2);
  m_payload.tap4 = static_cast<uint8_t>(-2);
  const int8_t taps[5] = {-1, -1, 8, -1, -1};
  memcpy(m_payload.taps, taps, sizeof taps);
  m_payload.field37 = 79;
}

PvlResult CAFStatsConfiguration::Configure(IVfeSettings* settings) {
  SetDefaults();
  if (SwitchedOff()) return PVL_OK;
  m_payload.enable = 1;
  if (!ByteToBool(m_controlEnable.value)) {
    ClearTuningChanged();
    return PVL_OK;
  }
  if (!settings) return PVL_E_NULLPTR;
  PvlResult r = VfeGuarded([&] {
    TuningAfHpf hpf{};
    TuningAfWindow window{};
    VfeMustRead([&](ITuningParams* p) { return p->GetAfHpf(kHighPass, &hpf); });
    VfeMustRead([&](ITuningParams* p) { return p->GetAfWindow(kWindow, &window); });
    const int32_t metric = TuningData_MustGetIntParam(kMetric);

    CFovCropConfiguration* crop = m_service->GetFovCropConfiguration();
    if (!crop) throw Camera::CZUEException(PVL_E_NOTREADY);
    const uint32_t x0 = crop->GetPayload().firstPixel, y0 = crop->GetPayload().firstLine;
    const uint32_t w = crop->GetWindowWidth(), h = crop->GetWindowHeight();
    m_payload.firstPixel = Scaled(w, window.HorizOffsetRatio, x0);
    m_payload.lastPixel = Scaled(h, window.VertOffsetRatio, y0);

    uint8_t wholeFrame = 1;
    uint8_t cells[kCells] = {};
    int32_t count = 0;
    VfeMust(settings->GetAFWindowConfig(&wholeFrame, cells, kCells, &count));
    IStatsOutput* output = m_service->GetAFStatsOutput();
    if (wholeFrame) {
      m_payload.firstLine = Scaled(w, window.HorizClipRatio, 0);
      m_payload.lastLine = Scaled(h, window.VertClipRatio, 0);
      if (output) output->SetStatsGrid(m_payload.firstLine, m_payload.lastLine);
      m_payload.gridMode = 0;
    } else {
      m_payload.firstPixel = static_cast<uint16_t>(x0);
      m_payload.lastPixel = static_cast<uint16_t>(y0);
      m_payload.firstLine = static_cast<uint16_t>(w);
      m_payload.lastLine = static_cast<uint16_t>(h);
      if (output) output->SetStatsGrid(w, h);
      m_payload.gridMode = 1;
      // Without any cell picked there is no first cell to repeat: the default
      // cells stay.
      const int32_t n = count < 0 ? 0 : count > kCells ? kCells : count;
      if (n > 0) {
        memset(m_payload.cells, cells[0], sizeof m_payload.cells);
        memcpy(m_payload.cells, cells, static_cast<size_t>(n));
      }
    }
    m_payload.metric = ByteToBool(metric != 0);
    m_payload.clip = 2047;
    m_payload.tap0 = static_cast<uint8_t>(hpf.a00);
    m_payload.tap4 = static_cast<uint8_t>(hpf.a04);
    const int16_t taps[5] = {hpf.a20, hpf.a21, hpf.a22, hpf.a23, hpf.a24};
    for (int i = 0; i < 5; ++i) m_payload.taps[i] = static_cast<uint8_t>(taps[i]);
    m_payload.field37 = 79;
  });
  if (r == PVL_OK) ClearTuningChanged();
  return r;
}

PvlResult CAFStatsConfiguration::SendUpdate() {
  if (!m_service) return PVL_E_NOTREADY;
  VfeAfStatsUpdateCmd update{};
  update.gridMode = m_payload.gridMode;
  memcpy(&update.firstPixel, &m_payload.firstPixel, 8);
  return m_service->SendCommand(VFE_CMD_AF_STATS_UPDATE, &update, sizeof update);
}
