#include "cameraflashserviceconfigurations.h"

#include "configrange.h"
#include "pvllog.h"

#define G26 "                          "

// The dump lines name fixed places in this file.
#define FLASH_DUMP_AT(line, ...)                                                             \
  do {                                                                                       \
    static const CameraLogRecord flash_dump_record_ = {CAMERA_LOG_NOTABLE, __FILE__, (line)}; \
    CameraDebugLog(&flash_dump_record_, __VA_ARGS__);                                        \
  } while (0)

int32_t ScaleIntensity(const FlashIntensityRecord& driver, const CameraRange& setting) {
  return ConfigMapRange(driver.nMinimumLampIntensity, driver.nMaximumLampIntensity, setting.Minimum, setting.Maximum,
                        setting.Value);
}

void CFlashLampIntensityValue::SetIntensity(const CameraRange& setting) {
  Rec().nLampIntensity = ScaleIntensity(Rec(), setting);
}
void CFlashStrobeIntensityValue::SetIntensity(const CameraRange& setting) {
  Rec().nLampIntensity = ScaleIntensity(Rec(), setting);
}

PvlResult CFlashDeviceStateValue::Dump() {
  FLASH_DUMP_AT(79, "deviceState: %d; signal: %x", Rec().deviceState, Rec().signal);
  return PVL_OK;
}
PvlResult CFlashLampIntensityValue::Dump() {
  FLASH_DUMP_AT(113, "nMinimumLampIntensity: %d; nLampIntensity: %d;" G26 "nMaximumLampIntensity: %d",
                Rec().nMinimumLampIntensity, Rec().nLampIntensity, Rec().nMaximumLampIntensity);
  return PVL_OK;
}
PvlResult CFlashStrobeIntensityValue::Dump() {
  FLASH_DUMP_AT(259, "nMinimumStrobeIntensity: %d; nStrobeIntensity: %d;" G26 "nMaximumStrobeIntensity: %d",
                Rec().nMinimumLampIntensity, Rec().nLampIntensity, Rec().nMaximumLampIntensity);
  return PVL_OK;
}
PvlResult CFlashOutputModeValue::Dump() {
  FLASH_DUMP_AT(402, "outputMode: %d", Rec().outputMode);
  return PVL_OK;
}
PvlResult CFlashStrobeModeValue::Dump() {
  FLASH_DUMP_AT(423, "strobeOperationalMode: %d; nNumPreflashes: %d", Rec().strobeOperationalMode,
                Rec().nNumPreflashes);
  return PVL_OK;
}
PvlResult CFlashStrobeChargingValue::Dump() {
  FLASH_DUMP_AT(457, "strobeChargingMode.num: %d", Rec().strobeChargingMode);
  return PVL_OK;
}

// Device state, lamp, strobe, strobe mode, strobe charging, output mode.
const ConfigValueMaker<IFlashConfiguration> CFlashConfigurationSet::kCreation[6] = {
    {kDeviceState, &CFlashDeviceStateValue::Create},   {kLampIntensity, &CFlashLampIntensityValue::Create},
    {kStrobeIntensity, &CFlashStrobeIntensityValue::Create}, {kStrobeMode, &CFlashStrobeModeValue::Create},
    {kStrobeCharging, &CFlashStrobeChargingValue::Create},   {kOutputMode, &CFlashOutputModeValue::Create},
};

int CFlashConfigCommandRegistry::SlotOf(uint32_t configuration) const {
  switch (configuration) {
    case ZUEUID_CONFIG_LAMP: return kLamp;
    case ZUEUID_CONFIG_STROBE: return kStrobe;
    case ZUEUID_CONFIG_VIDEO: return kVideo;
    case ZUEUID_CONFIG_SNAPSHOT: return kSnapshot;
    case ZUEUID_CONFIG_STROBE_MODE: return kStrobeMode;
    case ZUEUID_CONFIG_STROBE_CHARGING: return kStrobeCharging;
    default: return -1;
  }
}

PvlResult CFlashConfigCommandRegistry::MakeConfigurers() {
  struct Step {
    PvlResult (IFlashConfigurationSet::*value)(IFlashConfiguration**);
    Slot slot;
    Factory create;
  };
  // The device-state value has no configurer: the service sends it itself.
  static const Step kSteps[] = {
      {&IFlashConfigurationSet::GetLampIntensity, kLamp, &CFlashLampConfigurer::Create},
      {&IFlashConfigurationSet::GetStrobeIntensity, kStrobe, &CFlashStrobeConfigurer::Create},
      {&IFlashConfigurationSet::GetOutputMode, kVideo, &CFlashVideoConfigurer::Create},
      {&IFlashConfigurationSet::GetOutputMode, kSnapshot, &CFlashSnapshotConfigurer::Create},
      {&IFlashConfigurationSet::GetStrobeMode, kStrobeMode, &CFlashStrobeModeConfigurer::Create},
      {&IFlashConfigurationSet::GetStrobeCharging, kStrobeCharging, &CFlashStrobeChargingConfigurer::Create},
  };
  for (const Step& step : kSteps) {
    CPvlPtr<IFlashConfiguration> value;
    RETURN_IF_FAILED((GetSet()->*step.value)(&value));
    if (!value || !value->IsSupported()) continue;
    RETURN_IF_FAILED(Make(step.slot, step.create));
  }
  return PVL_OK;
}

PvlResult CFlashLampConfigurer::Configure() {
  return WithValue<CFlashLampIntensityValue>(&IFlashConfigurationSet::GetLampIntensity,
                                             [&](CFlashLampIntensityValue& v) {
                                               CameraRange s{};
                                               RETURN_IF_FAILED(m_view->GetLampIntensity(&s));
                                               v.SetIntensity(s);
                                               return v.Apply();
                                             });
}

PvlResult CFlashStrobeConfigurer::Configure() {
  return WithValue<CFlashStrobeIntensityValue>(&IFlashConfigurationSet::GetStrobeIntensity,
                                               [&](CFlashStrobeIntensityValue& v) {
                                                 CameraRange s{};
                                                 RETURN_IF_FAILED(m_view->GetSnapshotFlashIntensity(&s));
                                                 v.SetIntensity(s);
                                                 return v.Apply();
                                               });
}

PvlResult CFlashVideoConfigurer::Configure() {
  return WithValue<CFlashOutputModeValue>(&IFlashConfigurationSet::GetOutputMode, [](CFlashOutputModeValue& v) {
    v.SetOutputMode(0);
    return v.Apply();
  });
}

PvlResult CFlashSnapshotConfigurer::Configure() {
  return WithValue<CFlashOutputModeValue>(&IFlashConfigurationSet::GetOutputMode, [](CFlashOutputModeValue& v) {
    v.SetOutputMode(1);
    return v.Apply();
  });
}

PvlResult CFlashStrobeModeConfigurer::Configure() {
  return WithValue<CFlashStrobeModeValue>(&IFlashConfigurationSet::GetStrobeMode, [&](CFlashStrobeModeValue& v) {
    uint32_t mode = 0, preflashes = 0;
    RETURN_IF_FAILED(m_view->GetRedEyeReductionMode(&mode));
    RETURN_IF_FAILED(m_view->GetUnsupportedD(&preflashes));
    v.SetStrobeOperationalMode(static_cast<int32_t>(mode));
    v.SetNumPreflashes(static_cast<int32_t>(preflashes));
    return v.Apply();
  });
}

PvlResult CFlashStrobeChargingConfigurer::Configure() {
  return WithValue<CFlashStrobeChargingValue>(&IFlashConfigurationSet::GetStrobeCharging,
                                              [&](CFlashStrobeChargingValue& v) {
                                                uint32_t mode = 0;
                                                RETURN_IF_FAILED(m_view->GetUnsupportedE(&mode));
                                                v.SetStrobeChargingMode(static_cast<int32_t>(mode));
                                                return v.Apply();
                                              });
}
