// The flash family of configurations: six values, one per configurable flash
// driver record (flashconfigrecords.h), the set that holds them, and the
// registry with its configurers, which turn the client's flash settings
// (IFlashSettings) into driver records: torch (lamp) intensity, flash (strobe)
// intensity, the output mode for preview and for a still, strobe mode and
// strobe charging. An intensity record carries the driver's range around the
// value (read once at construction), so the configurers only place the
// setting inside it. The white-LED driver refuses the device-state, strobe
// mode and charging commands: with it only the lamp, strobe, video and
// snapshot configurers exist.
#pragma once

#include <stdint.h>

#include "camerasettings.h"
#include "configurationbase.h"
#include "flashconfigrecords.h"
#include "icameraflashservice.h"

template <class Derived, class Record, uint32_t Command>
class CFlashConfigurationValue
    : public CConfigurationValue<IFlashConfiguration, ZUEUID_IFACE_FLASH_CONFIGURATION, Record, Command> {
  using Base = CConfigurationValue<IFlashConfiguration, ZUEUID_IFACE_FLASH_CONFIGURATION, Record, Command>;

 public:
  static PvlResult Create(ICameraDriver* driver, IFlashConfiguration** out) {
    return Base::template CreateAs<Derived>(driver, out);
  }
  explicit CFlashConfigurationValue(ICameraDriver* driver) : Base(driver) {}
};

#define FLASH_VALUE_CLASS(Name, Record, Command)                                               \
  class Name final : public CFlashConfigurationValue<Name, Record, Command> {                  \
   public:                                                                                      \
    explicit Name(ICameraDriver* driver) : CFlashConfigurationValue(driver) {}                 \
    PvlResult Dump() override;

FLASH_VALUE_CLASS(CFlashDeviceStateValue, FlashDeviceStateRecord, ZUEUID_FLASH_CMD_DEVICE_STATE)
};
FLASH_VALUE_CLASS(CFlashLampIntensityValue, FlashIntensityRecord, ZUEUID_FLASH_CMD_LAMP_INTENSITY)
  // Places the setting's value in the driver's range (see ScaleIntensity).
  void SetIntensity(const CameraRange& setting);
};
FLASH_VALUE_CLASS(CFlashStrobeIntensityValue, FlashIntensityRecord, ZUEUID_FLASH_CMD_STROBE_INTENSITY)
  void SetIntensity(const CameraRange& setting);
};
FLASH_VALUE_CLASS(CFlashOutputModeValue, FlashOutputModeRecord, ZUEUID_FLASH_CMD_OUTPUT_MODE)
  void SetOutputMode(int32_t mode) { Rec().outputMode = mode; }
};
FLASH_VALUE_CLASS(CFlashStrobeModeValue, FlashStrobeModeRecord, ZUEUID_FLASH_CMD_STROBE_MODE)
  void SetStrobeOperationalMode(int32_t mode) { Rec().strobeOperationalMode = mode; }
  void SetNumPreflashes(int32_t count) { Rec().nNumPreflashes = count; }
};
FLASH_VALUE_CLASS(CFlashStrobeChargingValue, FlashStrobeChargingRecord, ZUEUID_FLASH_CMD_STROBE_CHARGING)
  void SetStrobeChargingMode(int32_t mode) { Rec().strobeChargingMode = mode; }
};

#undef FLASH_VALUE_CLASS

// The setting's value v of smin..smax on the driver's dmin..dmax.
int32_t ScaleIntensity(const FlashIntensityRecord& driver, const CameraRange& setting);

class CFlashConfigurationSet final
    : public CConfigurationSet<CFlashConfigurationSet, IFlashConfigurationSet, ZUEUID_IFACE_FLASH_CONFIGURATION_SET,
                               IFlashConfiguration, 6> {
 public:
  enum Index { kDeviceState, kLampIntensity, kStrobeIntensity, kOutputMode, kStrobeMode, kStrobeCharging };
  static const ConfigValueMaker<IFlashConfiguration> kCreation[6];

  CFlashConfigurationSet(IEnv* env, ICameraDriver* driver) : CConfigurationSet(env, driver) {}

  PvlResult GetDeviceState(IFlashConfiguration** out) override { return Give(kDeviceState, out); }
  PvlResult GetLampIntensity(IFlashConfiguration** out) override { return Give(kLampIntensity, out); }
  PvlResult GetStrobeIntensity(IFlashConfiguration** out) override { return Give(kStrobeIntensity, out); }
  PvlResult GetOutputMode(IFlashConfiguration** out) override { return Give(kOutputMode, out); }
  PvlResult GetStrobeMode(IFlashConfiguration** out) override { return Give(kStrobeMode, out); }
  PvlResult GetStrobeCharging(IFlashConfiguration** out) override { return Give(kStrobeCharging, out); }
};

class CFlashConfigCommandRegistry final
    : public CConfigCommandRegistry<CFlashConfigCommandRegistry, IFlashConfigurationSet, IFlashSettings, 6> {
 public:
  enum Slot { kLamp, kStrobe, kVideo, kSnapshot, kStrobeMode, kStrobeCharging };

  CFlashConfigCommandRegistry(IEnv* env, IFlashConfigurationSet* set, IFlashSettings* view)
      : CConfigCommandRegistry(env, set, view) {}

  int SlotOf(uint32_t configuration) const;
  PvlResult MakeConfigurers();
};

class CFlashConfigurer : public CConfigurer<IFlashConfigurationSet, IFlashSettings> {
 public:
  CFlashConfigurer(IEnv* env, IFlashConfigurationSet* set, IConfigCommandRegistry* registry, IFlashSettings* view)
      : CConfigurer(env, set, registry, view) {}

 protected:
  template <class Value, class Body>
  PvlResult WithValue(PvlResult (IFlashConfigurationSet::*accessor)(IFlashConfiguration**), Body body) {
    CPvlPtr<IFlashConfiguration> value;
    PvlResult r = (m_set.Get()->*accessor)(&value);
    if (r != PVL_OK) return r;
    if (!value) return PVL_E_NOTREADY;
    return body(*static_cast<Value*>(value.Get()));
  }
};

#define FLASH_CONFIGURER_CLASS(Name)                                                                   \
  class Name final : public CFlashConfigurer {                                                         \
   public:                                                                                              \
    using CFlashConfigurer::CFlashConfigurer;                                                           \
    static PvlResult Create(IEnv* env, IFlashConfigurationSet* set, IConfigCommandRegistry* registry,  \
                            IFlashSettings* view, IConfigCommand** out) {                              \
      return CreateAs<Name>(env, set, registry, view, out);                                             \
    }                                                                                                   \
    PvlResult Configure() override;                                                                     \
  };

FLASH_CONFIGURER_CLASS(CFlashLampConfigurer)
FLASH_CONFIGURER_CLASS(CFlashStrobeConfigurer)
FLASH_CONFIGURER_CLASS(CFlashVideoConfigurer)
FLASH_CONFIGURER_CLASS(CFlashSnapshotConfigurer)
FLASH_CONFIGURER_CLASS(CFlashStrobeModeConfigurer)
FLASH_CONFIGURER_CLASS(CFlashStrobeChargingConfigurer)

#undef FLASH_CONFIGURER_CLASS
