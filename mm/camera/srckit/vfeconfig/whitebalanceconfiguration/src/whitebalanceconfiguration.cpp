#include "whitebalanceconfiguration.h"

#include "camerasettings.h"
#include "pvllog.h"

CWhiteBalanceConfiguration::CWhiteBalanceConfiguration(IVfeServiceInternal* service, PvlResult* result)
    : CVfeConfiguration(service, result), m_enable(1), m_controlEnable(1) {
  if (*result != PVL_OK) return;
  uint8_t* p = reinterpret_cast<uint8_t*>(&m_payload);
  VfeRegisterFlag(service, "AWB-Enable", &m_enable);
  VfeRegisterFlag(service, "AWB-ControlEnable", &m_controlEnable);
  VfeRegisterField(service, "AWB-rGain", p + 2, TUNING_TYPE_U16);
  VfeRegisterField(service, "AWB-gGain", p + 6, TUNING_TYPE_U16);
  VfeRegisterField(service, "AWB-bGain", p + 4, TUNING_TYPE_U16);
}

PvlResult CWhiteBalanceConfiguration::SetGains(const CFixedPoint& red, const CFixedPoint& green,
                                               const CFixedPoint& blue) {
  int32_t raw = 0;
  PvlResult r = red.GetRawAtQ(7, &raw);
  if (r != PVL_OK) return r;
  m_payload.gainR = static_cast<uint16_t>(raw);
  r = green.GetRawAtQ(7, &raw);
  if (r != PVL_OK) return r;
  m_payload.gainG = static_cast<uint16_t>(raw);
  r = blue.GetRawAtQ(7, &raw);
  if (r != PVL_OK) return r;
  m_payload.gainB = static_cast<uint16_t>(raw);
  return PVL_OK;
}

PvlResult CWhiteBalanceConfiguration::Configure(IVfeSettings* settings, VfeChain chain) {
  if (!m_enable.value) {
    m_payload.enable = 0;
    ClearTuningChanged();
    return PVL_OK;
  }
  if (!settings) return PVL_E_NULLPTR;
  PvlResult result = PVL_OK;
  if (chain != VfeChain::Snapshot) {
    CFixedPoint red, green, blue;
    result = settings->GetWhiteBalanceGains(&red, &green, &blue);
    if (result == PVL_OK) {
      result = SetGains(red, green, blue);
      m_payload.enable = ByteToBool(1);
    }
    ClearTuningChanged();
    return result;
  }
  CFixedPoint digital;
  result = settings->GetDigitalGain(&digital);
  if (result != PVL_OK) return result;
  const CFixedPoint limit(3.99);
  if (digital <= limit) {
    result = SetGains(digital, digital, digital);
  } else {
    CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE,
                     "Snapshot digital gain greater than 3.99, only 3.99 is applied in white balance module");
    result = SetGains(limit, limit, limit);
  }
  m_payload.enable = ByteToBool(1);
  ClearTuningChanged();
  return result;
}

PvlResult CWhiteBalanceConfiguration::SendUpdate() {
  return m_service->SendCommand(VFE_CMD_WHITE_BALANCE_UPDATE, &m_payload, sizeof m_payload);
}
