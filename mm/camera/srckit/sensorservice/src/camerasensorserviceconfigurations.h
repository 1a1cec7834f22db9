// The sensor's twenty configuration values: one framework object per
// configurable sensor driver record (sensorconfigrecords.h), each bound to its
// driver command ZUEUID_SENSOR_CMD_ANTIBANDING + i. The sensor configurers
// fill a value's record through the setters and range conversions below and
// apply it; nothing else in the system builds these records. A driver that
// answers 20 to a value's first read leaves that value unsupported: it still
// exists, its setters and Dump work on the record, but nothing reaches the
// driver (the S5K3E2FX supports only exposure, focus and the sensor mode).
#pragma once

#include <stdint.h>

#include "camerasettings.h"
#include "configurationbase.h"
#include "icamerasensorservice.h"
#include "sensorconfigrecords.h"

template <class Derived, class Record, uint32_t Command>
class CSensorConfigurationValue
    : public CConfigurationValue<ISensorConfiguration, ZUEUID_IFACE_SENSOR_CONFIGURATION, Record, Command> {
  using Base = CConfigurationValue<ISensorConfiguration, ZUEUID_IFACE_SENSOR_CONFIGURATION, Record, Command>;

 public:
  // 29 for a null driver (nothing allocated); a failed first read other than
  // 20 is the answer and *out is left as it was.
  static PvlResult Create(ICameraDriver* driver, ISensorConfiguration** out) {
    return Base::template CreateAs<Derived>(driver, out);
  }
  explicit CSensorConfigurationValue(ICameraDriver* driver) : Base(driver) {}
};

#define SENSOR_VALUE_CLASS(Name, Record, Command)                                                  \
  class Name final : public CSensorConfigurationValue<Name, Record, Command> {                     \
   public:                                                                                          \
    explicit Name(ICameraDriver* driver) : CSensorConfigurationValue(driver) {}                    \
    PvlResult Dump() override;

SENSOR_VALUE_CLASS(CSensorAntibandingValue, SensorAntibandingRecord, ZUEUID_SENSOR_CMD_ANTIBANDING)
  void SetAntibandingMode(int32_t mode) { Rec().antibandingMode = mode; }
  void SetUserFlickerFrequency(int32_t frequency) { Rec().nUserFlickerFrequency = frequency; }
};

SENSOR_VALUE_CLASS(CSensorBrightnessValue, SensorBrightnessRecord, ZUEUID_SENSOR_CMD_BRIGHTNESS)
  void MapFromRange(const CameraRange& setting);
};

// Contrast and saturation carry the client's own range, unconverted.
SENSOR_VALUE_CLASS(CSensorContrastValue, SensorContrastRecord, ZUEUID_SENSOR_CMD_CONTRAST)
  void SetMinimumContrast(int32_t v) { Rec().nMinimumContrast = v; }
  void SetContrast(int32_t v) { Rec().nContrast = v; }
  void SetMaximumContrast(int32_t v) { Rec().nMaximumContrast = v; }
};

SENSOR_VALUE_CLASS(CSensorExposureValue, SensorExposureRecord, ZUEUID_SENSOR_CMD_EXPOSURE)
  void SetGain(int32_t gainQ8) { Rec().nGain = gainQ8; }
  void SetIntegrationLineCount(int32_t lines) { Rec().nIntegrationLineCount = lines; }
};

SENSOR_VALUE_CLASS(CSensorExposureCompensationValue, SensorExposureCompensationRecord,
                   ZUEUID_SENSOR_CMD_EXPOSURE_COMPENSATION)
  void SetExposureCompensation(const SensorExposureCompensation& pair) { Rec().exposureCompensation = pair; }
};

SENSOR_VALUE_CLASS(CSensorExposureMeteringValue, SensorExposureMeteringRecord, ZUEUID_SENSOR_CMD_EXPOSURE_METERING)
  void SetExposureMeteringMode(int32_t mode) { Rec().exposureMeteringMode = mode; }
  void SetCenterRect(const SensorRect& rect) { Rec().centerRect = rect; }
  void SetCenterRectWeighting(float weighting) { Rec().nCenterRectWeighting = weighting; }
};

SENSOR_VALUE_CLASS(CSensorFocusValue, SensorFocusRecord, ZUEUID_SENSOR_CMD_FOCUS)
  void SetFocusDirection(int32_t direction) { Rec().focusDirection = direction; }
  void SetFocusSteps(int32_t steps) { Rec().nFocusSteps = steps; }
  void SetResetFocus(bool reset) { Rec().bResetFocus.value = reset ? 1 : 0; }
};

SENSOR_VALUE_CLASS(CSensorFocusModeValue, SensorFocusModeRecord, ZUEUID_SENSOR_CMD_FOCUS_MODE)
  void SetFocusMode(int32_t mode) { Rec().focusMode = mode; }
};

SENSOR_VALUE_CLASS(CSensorFocusStateValue, SensorFocusStateRecord, ZUEUID_SENSOR_CMD_FOCUS_STATE)
  void SetFocusState(int32_t state) { Rec().focusState = state; }
};

SENSOR_VALUE_CLASS(CSensorFrameIntervalValue, SensorFrameIntervalRecord, ZUEUID_SENSOR_CMD_FRAME_INTERVAL)
  void SetAutoFrameInterval(bool automatic) { Rec().bAutoFrameInterval.value = automatic ? 1 : 0; }
  void SetFrameInterval(int32_t microseconds) { Rec().nFrameInterval = microseconds; }
};

SENSOR_VALUE_CLASS(CSensorGammaValue, SensorGammaRecord, ZUEUID_SENSOR_CMD_GAMMA)
  void MapFromRange(const CameraFloatRange& setting);
};

SENSOR_VALUE_CLASS(CSensorHueValue, SensorHueRecord, ZUEUID_SENSOR_CMD_HUE)
  void MapFromRange(const CameraFloatRange& setting);
};

SENSOR_VALUE_CLASS(CSensorImageEffectValue, SensorImageEffectRecord, ZUEUID_SENSOR_CMD_IMAGE_EFFECT)
  void SetImageEffect(int32_t effect) { Rec().imageEffect = effect; }
  void MapCbOffsetFromRange(const CameraRange& setting);
  void MapCrOffsetFromRange(const CameraRange& setting);
};

SENSOR_VALUE_CLASS(CSensorIsoValue, SensorIsoRecord, ZUEUID_SENSOR_CMD_ISO)
  void SetISOMode(int32_t mode) { Rec().ISOMode = mode; }
  void SetISOValue(int32_t value) { Rec().nISOValue = value; }
};

SENSOR_VALUE_CLASS(CSensorApertureShutterValue, SensorApertureShutterRecord, ZUEUID_SENSOR_CMD_APERTURE_SHUTTER)
  void SetApertureStop(float fNumber) { Rec().fApertureStop = fNumber; }
  void SetShutterTime(int32_t time) { Rec().nShutterTime = time; }
};

SENSOR_VALUE_CLASS(CSensorOpticalZoomValue, SensorOpticalZoomRecord, ZUEUID_SENSOR_CMD_OPTICAL_ZOOM)
  void MapZoomStepFromRange(const SensorZoomStepRange& setting);
};

SENSOR_VALUE_CLASS(CSensorModeValue, SensorModeRecord, ZUEUID_SENSOR_CMD_SENSOR_MODE)
  void SetResolution(const SensorResolution& r) { Rec().resolution = r; }
  void SetDecimation(const SensorDecimation& d) { Rec().decimation = d; }
  void SetExposureConfig(const SensorExposureRecord& e) { Rec().exposureConfig = e; }
  void SetFrameIntervalConfig(const SensorFrameIntervalRecord& f) { Rec().frameIntervalConfig = f; }
};

SENSOR_VALUE_CLASS(CSensorSaturationValue, SensorSaturationRecord, ZUEUID_SENSOR_CMD_SATURATION)
  void SetMinimumSaturation(int32_t v) { Rec().nMinimumSaturation = v; }
  void SetSaturation(int32_t v) { Rec().nSaturation = v; }
  void SetMaximumSaturation(int32_t v) { Rec().nMaximumSaturation = v; }
};

SENSOR_VALUE_CLASS(CSensorSharpnessValue, SensorSharpnessRecord, ZUEUID_SENSOR_CMD_SHARPNESS)
  void MapFromRange(const CameraRange& setting);
};

SENSOR_VALUE_CLASS(CSensorWhiteBalanceValue, SensorWhiteBalanceRecord, ZUEUID_SENSOR_CMD_WHITE_BALANCE)
  void SetWhiteBalance(int32_t mode) { Rec().whiteBalance = mode; }
  void SetWhiteBalanceValue(int32_t value) { Rec().nWhiteBalance = value; }
};

#undef SENSOR_VALUE_CLASS
