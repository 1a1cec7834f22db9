// CSensorConfigCommandRegistry: the sensor service's 21 configurers, one slot
// per configuration identifier it serves, made for the values the driver
// supports (video and snapshot always). The engine and the sensor-information
// proxy ask for them through the sensor service.
#pragma once

#include "camerasettings.h"
#include "configurationbase.h"
#include "icamerasensorservice.h"

class CSensorConfigCommandRegistry final
    : public CConfigCommandRegistry<CSensorConfigCommandRegistry, ISensorConfigurationSet, ISensorSettings, 21> {
 public:
  // Slots in creation order.
  enum Slot {
    kBrightness, kContrast, kGamma, kHue, kImageEffect, kSaturation, kSharpness, kAntibanding, kExposure,
    kExposureCompensation, kExposureMetering, kFocus, kFocusMode, kFocusState, kFrameInterval, kIso,
    kApertureShutter, kOpticalZoom, kWhiteBalance, kVideo, kSnapshot, kSlotCount
  };

  CSensorConfigCommandRegistry(IEnv* env, ISensorConfigurationSet* set, ISensorSettings* view)
      : CConfigCommandRegistry(env, set, view) {}

  // -1 for an identifier without a configurer here.
  int SlotOf(uint32_t configuration) const;
  PvlResult MakeConfigurers();
};
