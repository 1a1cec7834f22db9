#include "cwhitebalanceconfiguration.h"

#include "camerasettings.h"
#include "pvllog.h"
#include "vfetuningkeys.h"

CWhiteBalanceConfiguration::CWhiteBalanceConfiguration(IVfeServiceInternal* service, PvlResult* result)
    : CVfeSwitchedConfiguration(service, result) {
  if (*result == PVL_OK)
    VfeTuningKeys_Register(service, VfeKeyBlock::WhiteBalance, &m_payload, &m_enable, &m_controlEnable);
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
  if (SwitchedOff()) return PVL_OK;
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
