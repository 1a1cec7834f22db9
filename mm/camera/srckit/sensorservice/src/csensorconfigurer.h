// The sensor configurers: each turns the current user and 3A settings for one
// configuration identifier into one sensor driver command. Configure reads the
// sensor settings view at that moment (one read per datum, in a fixed order),
// writes the value's record and applies it; a mode the driver has no code for
// ends it with 14 before the driver is reached. Video and snapshot first
// re-apply the picture configurations through their registry, then send the
// sensor mode with the output size, the exposure and the frame interval.
#pragma once

#include "camerasettings.h"
#include "configurationbase.h"
#include "icamerasensorservice.h"

class CSensorConfigurer : public CConfigurer<ISensorConfigurationSet, ISensorSettings> {
 public:
  CSensorConfigurer(IEnv* env, ISensorConfigurationSet* set, IConfigCommandRegistry* registry, ISensorSettings* view)
      : CConfigurer(env, set, registry, view) {}

 protected:
  // Takes the value through its accessor, runs `body` on it, and releases it on
  // every path.
  template <class Value, class Body>
  PvlResult WithValue(PvlResult (ISensorConfigurationSet::*accessor)(ISensorConfiguration**), Body body) {
    CPvlPtr<ISensorConfiguration> value;
    PvlResult r = (m_set.Get()->*accessor)(&value);
    if (r != PVL_OK) return r;
    if (!value) return PVL_E_NOTREADY;
    return body(*static_cast<Value*>(value.Get()));
  }
  // The sensor gain with 8 fraction bits, whatever the view's gain carries.
  PvlResult ReadGainQ8(int32_t* gain);
  // Video and snapshot: re-applies the listed configurations, skipping those
  // that are not supported, then sends the sensor mode.
  PvlResult ConfigureMode(const uint32_t* reapply, size_t count);
};

#define SENSOR_CONFIGURER_CLASS(Name)                                                                  \
  class Name final : public CSensorConfigurer {                                                        \
   public:                                                                                              \
    using CSensorConfigurer::CSensorConfigurer;                                                         \
    static PvlResult Create(IEnv* env, ISensorConfigurationSet* set, IConfigCommandRegistry* registry, \
                            ISensorSettings* view, IConfigCommand** out) {                             \
      return CreateAs<Name>(env, set, registry, view, out);                                             \
    }                                                                                                   \
    PvlResult Configure() override;                                                                     \
  };

SENSOR_CONFIGURER_CLASS(CSensorBrightnessConfigurer)
SENSOR_CONFIGURER_CLASS(CSensorContrastConfigurer)
SENSOR_CONFIGURER_CLASS(CSensorGammaConfigurer)
SENSOR_CONFIGURER_CLASS(CSensorHueConfigurer)
SENSOR_CONFIGURER_CLASS(CSensorImageEffectConfigurer)
SENSOR_CONFIGURER_CLASS(CSensorSaturationConfigurer)
SENSOR_CONFIGURER_CLASS(CSensorSharpnessConfigurer)
SENSOR_CONFIGURER_CLASS(CSensorAntibandingConfigurer)
SENSOR_CONFIGURER_CLASS(CSensorExposureConfigurer)
SENSOR_CONFIGURER_CLASS(CSensorExposureCompensationConfigurer)
SENSOR_CONFIGURER_CLASS(CSensorExposureMeteringConfigurer)
SENSOR_CONFIGURER_CLASS(CSensorFocusConfigurer)
SENSOR_CONFIGURER_CLASS(CSensorFocusModeConfigurer)
SENSOR_CONFIGURER_CLASS(CSensorFocusStateConfigurer)
SENSOR_CONFIGURER_CLASS(CSensorFrameIntervalConfigurer)
SENSOR_CONFIGURER_CLASS(CSensorIsoConfigurer)
SENSOR_CONFIGURER_CLASS(CSensorApertureShutterConfigurer)
SENSOR_CONFIGURER_CLASS(CSensorOpticalZoomConfigurer)
SENSOR_CONFIGURER_CLASS(CSensorWhiteBalanceConfigurer)
SENSOR_CONFIGURER_CLASS(CSensorVideoConfigurer)
SENSOR_CONFIGURER_CLASS(CSensorSnapshotConfigurer)

#undef SENSOR_CONFIGURER_CLASS
