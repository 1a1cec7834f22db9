// CSensorConfigurationSet: the twenty sensor configuration values over the
// driver the sensor service opened, made in accessor order when the set is
// made (the first failing value fails the set). A service that opens its
// driver again (resume) builds a new set.
#pragma once

#include "camerasensorserviceconfigurations.h"
#include "configurationbase.h"
#include "icamerasensorservice.h"

class CSensorConfigurationSet final
    : public CConfigurationSet<CSensorConfigurationSet, ISensorConfigurationSet, ZUEUID_IFACE_SENSOR_CONFIGURATION_SET,
                               ISensorConfiguration, 20> {
 public:
  static const ConfigValueMaker<ISensorConfiguration> kCreation[20];

  CSensorConfigurationSet(IEnv* env, ICameraDriver* driver) : CConfigurationSet(env, driver) {}

  PvlResult GetAntibanding(ISensorConfiguration** out) override { return Give(0, out); }
  PvlResult GetBrightness(ISensorConfiguration** out) override { return Give(1, out); }
  PvlResult GetContrast(ISensorConfiguration** out) override { return Give(2, out); }
  PvlResult GetExposure(ISensorConfiguration** out) override { return Give(3, out); }
  PvlResult GetExposureCompensation(ISensorConfiguration** out) override { return Give(4, out); }
  PvlResult GetExposureMetering(ISensorConfiguration** out) override { return Give(5, out); }
  PvlResult GetFocus(ISensorConfiguration** out) override { return Give(6, out); }
  PvlResult GetFocusMode(ISensorConfiguration** out) override { return Give(7, out); }
  PvlResult GetFocusState(ISensorConfiguration** out) override { return Give(8, out); }
  PvlResult GetFrameInterval(ISensorConfiguration** out) override { return Give(9, out); }
  PvlResult GetGamma(ISensorConfiguration** out) override { return Give(10, out); }
  PvlResult GetHue(ISensorConfiguration** out) override { return Give(11, out); }
  PvlResult GetImageEffect(ISensorConfiguration** out) override { return Give(12, out); }
  PvlResult GetIso(ISensorConfiguration** out) override { return Give(13, out); }
  PvlResult GetApertureShutter(ISensorConfiguration** out) override { return Give(14, out); }
  PvlResult GetOpticalZoom(ISensorConfiguration** out) override { return Give(15, out); }
  PvlResult GetSensorMode(ISensorConfiguration** out) override { return Give(16, out); }
  PvlResult GetSaturation(ISensorConfiguration** out) override { return Give(17, out); }
  PvlResult GetSharpness(ISensorConfiguration** out) override { return Give(18, out); }
  PvlResult GetWhiteBalance(ISensorConfiguration** out) override { return Give(19, out); }
};
