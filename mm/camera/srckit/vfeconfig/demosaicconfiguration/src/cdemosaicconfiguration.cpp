#include "cdemosaicconfiguration.h"

#include "camerasettings.h"
#include "cfixedpoint.h"
#include "vfetuningkeys.h"

namespace {

constexpr TuningParamId kSlopeShift = 0x80F00000u;
constexpr TuningParamId kAbfControl = 0x80B00F00u;
constexpr TuningParamId kBpcControl = 0x80C00F00u;
constexpr TuningParamId kBpcMaxFactor = 0x80C00001u;
constexpr TuningParamId kBpcMinFactor = 0x80C00000u;

struct DemosaicIds {
  TuningParamId abfEnableLux, abfTrigger, abfTable, bpcTrigger, bpcNormal, bpcLowLight;
};
constexpr DemosaicIds kPreview = {0x80B00F03u, 0x80B00F01u, 0x80B00001u, 0x80C00F01u, 0x80C00100u, 0x80C00101u};
constexpr DemosaicIds kSnapshot = {0x80B00F04u, 0x80B00F02u, 0x80B00000u, 0x80C00F02u, 0x80C00102u, 0x80C00103u};

const DemosaicIds& IdsFor(VfeChain chain) { return chain == VfeChain::Snapshot ? kSnapshot : kPreview; }

// The ABF ratio is a 6-fraction-bit field of at most 0.25.
uint8_t RatioQ6(float ratio) {
  CFixedPoint q12 = ratio < 0.25f ? CFixedPoint(ratio) : CFixedPoint(0.25);
  int32_t raw = 0;
  VfeMust(q12.GetRawAtQ(6, &raw));
  return static_cast<uint8_t>(raw);
}

}  // namespace

CDemosaicConfiguration::CDemosaicConfiguration(IVfeServiceInternal* service, PvlResult* result)
    : CVfeConfiguration(service, result) {
  if (*result == PVL_OK)
    VfeTuningKeys_Register(service, VfeKeyBlock::Demosaic, &m_payload, &m_enable, &m_controlEnable);
}

bool CDemosaicConfiguration::HasTuningChanged() const {
  return m_enable.changed || m_controlEnable.changed || m_abfOn.changed || m_abfControl.changed ||
         m_bpcOn.changed || m_bpcControl.changed;
}

void CDemosaicConfiguration::ClearTuningChanged() {
  for (CTuningFlag* f : {&m_enable, &m_controlEnable, &m_abfOn, &m_abfControl, &m_bpcOn, &m_bpcControl})
    f->changed = 0;
}

// The record's names are the register fields they land in; here they carry,
// in order: slope shift (+1), ABF low-pass threshold (+6), max (+8), min
// (+10), ratio (+12); BPC maximum (+16) and minimum (+18) factors and the
// red (+20), blue (+22) and green (+24) difference thresholds.
void CDemosaicConfiguration::SetDefaults() {
  memset(&m_payload, 0, sizeof m_payload);
  m_payload.enable = 1;
  m_payload.shift = 3;
  m_payload.abfThreshold = 1023;
  m_payload.field8 = 1023;
  m_payload.field10 = 0;
  m_payload.field12 = 15;
  m_payload.slopeHigh = 127;
  m_payload.slopeLow = 0;
  m_payload.bpcMin = 4095;
  m_payload.bpcMax = 4095;
  m_payload.field24 = 4095;
}

namespace {

uint32_t ClampedRow(double quotient) {
  constexpr uint32_t kLast = CDemosaicConfiguration::kAbfEntries - 1;
  if (!(quotient < static_cast<double>(kLast))) return kLast;  // also NaN
  return quotient > 0.0 ? static_cast<uint32_t>(quotient) : 0;
}

}  // namespace

uint32_t CDemosaicConfiguration::AbfLuxRow(int32_t lux, int32_t start, int32_t end) {
  if (lux <= start) return 0;
  if (lux >= end) return kAbfEntries - 1;
  const float step = static_cast<float>(static_cast<double>(end) - start) / static_cast<float>(kAbfEntries);
  return ClampedRow(static_cast<double>(lux) / (static_cast<double>(step) + 0.5));
}

uint32_t CDemosaicConfiguration::AbfGainRow(float gain, float start, float end) {
  if (gain <= start) return 0;
  if (gain >= end) return kAbfEntries - 1;
  const float step = (end - start) / static_cast<float>(kAbfEntries);
  if (!(step > 0.0f)) return kAbfEntries - 1;
  return ClampedRow(static_cast<double>(gain / step + 0.5f));
}

PvlResult CDemosaicConfiguration::Configure(IVfeSettings* settings, VfeChain chain) {
  SetDefaults();
  if (!ByteToBool(m_enable.value)) {
    m_payload.enable = 0;
    return PVL_OK;
  }
  if (!settings) return PVL_E_NULLPTR;
  m_payload.enable = 1;
  return VfeGuarded([&] {
    if (ByteToBool(m_controlEnable.value))
      m_payload.mode = static_cast<uint8_t>(TuningData_MustGetIntParam(kSlopeShift));
    ConfigureAbf(settings, chain);
    ConfigureBpc(settings, chain);
  });
}

void CDemosaicConfiguration::ConfigureAbf(IVfeSettings* settings, VfeChain chain) {
  const DemosaicIds& ids = IdsFor(chain);
  if (!ByteToBool(m_abfOn.value)) {
    m_payload.abfEnable = 0;
    ClearTuningChanged();
    return;
  }
  m_payload.abfEnable = 1;
  if (ByteToBool(m_abfControl.value)) {
    uint32_t lux = 0;
    VfeMust(settings->GetAecIndex(&lux));
    const int32_t enableLux = TuningData_MustGetIntParam(ids.abfEnableLux);
    if (static_cast<int32_t>(lux) > enableLux) {
      const uint32_t control = TuningData_MustGetModuleEnable(kAbfControl);
      TuningTrigger trigger{};
      CVfeTuning::MustGetValue(ids.abfTrigger, &trigger);
      TuningAbfFilterData table{};
      VfeMustRead([&](ITuningParams* p) { return p->GetAbfFilterData(ids.abfTable, &table); });
      uint32_t i = 0;
      if (control == 0) {
        i = AbfLuxRow(static_cast<int32_t>(lux), trigger.LuxIndexStart, trigger.LuxIndexEnd);
      } else {
        CFixedPoint gain;
        VfeMust(settings->GetExposureGain(&gain));
        // The ends compare in fixed point, as the gain is kept.
        if (gain <= CFixedPoint(trigger.GainStart)) {
          i = 0;
        } else if (gain >= CFixedPoint(trigger.GainEnd)) {
          i = kAbfEntries - 1;
        } else {
          float g = 0.0f;
          VfeMust(gain.GetFloat(&g));
          i = AbfGainRow(g, trigger.GainStart, trigger.GainEnd);
        }
      }
      m_payload.flag3 = 0;
      m_payload.shift = table.Shift > 3 ? 3 : table.Shift;
      m_payload.abfThreshold = table.LPThr[i];
      m_payload.field8 = table.Max[i];
      m_payload.field10 = table.Min[i];
      m_payload.field12 = RatioQ6(table.Ratio[i]);
    }
  }
  ClearTuningChanged();
}

void CDemosaicConfiguration::ConfigureBpc(IVfeSettings* settings, VfeChain chain) {
  const DemosaicIds& ids = IdsFor(chain);
  if (!ByteToBool(m_bpcOn.value)) {
    m_payload.bpcEnable = 0;
    return;
  }
  m_payload.bpcEnable = 1;
  if (!ByteToBool(m_bpcControl.value)) return;
  m_payload.slopeHigh = static_cast<uint16_t>(TuningData_MustGetIntParam(kBpcMaxFactor));
  m_payload.slopeLow = static_cast<uint16_t>(TuningData_MustGetIntParam(kBpcMinFactor));
  const uint32_t control = TuningData_MustGetModuleEnable(kBpcControl);
  TuningTrigger trigger{};
  CVfeTuning::MustGetValue(ids.bpcTrigger, &trigger);
  float ratio = 0.0f;
  VfeMust(VfeTriggerRatio(settings, control, trigger, &ratio));
  TuningBpcThresholds normal{}, lowLight{}, t{};
  if (ratio <= 0.0f) {
    VfeMustRead([&](ITuningParams* p) { return p->GetBpcThresholds(ids.bpcNormal, &t); });
  } else if (ratio >= 1.0f) {
    VfeMustRead([&](ITuningParams* p) { return p->GetBpcThresholds(ids.bpcLowLight, &t); });
  } else {
    VfeMustRead([&](ITuningParams* p) { return p->GetBpcThresholds(ids.bpcNormal, &normal); });
    VfeMustRead([&](ITuningParams* p) { return p->GetBpcThresholds(ids.bpcLowLight, &lowLight); });
    auto blend = [ratio](uint16_t a, uint16_t b) {
      const float v = static_cast<float>(a) + ratio * (static_cast<float>(b) - static_cast<float>(a));
      return static_cast<uint16_t>(static_cast<uint32_t>(v));
    };
    t.Red = blend(normal.Red, lowLight.Red);
    t.Green = blend(normal.Green, lowLight.Green);
    t.Blue = blend(normal.Blue, lowLight.Blue);
  }
  // The hardware takes them red, blue, green.
  m_payload.bpcMin = t.Red;
  m_payload.bpcMax = t.Blue;
  m_payload.field24 = t.Green;
}

PvlResult CDemosaicConfiguration::SendUpdate() {
  if (!m_service) return PVL_E_NOTREADY;
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&m_payload);
  PvlResult r = m_service->SendCommand(VFE_CMD_DEMOSAIC_UPDATE1, bytes + 2, sizeof(VfeDemosaicUpdate1Cmd));
  if (r != PVL_OK) return r;
  return m_service->SendCommand(VFE_CMD_DEMOSAIC_UPDATE2, bytes + 14, sizeof(VfeDemosaicUpdate2Cmd));
}
