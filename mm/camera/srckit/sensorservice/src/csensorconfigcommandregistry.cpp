#include "csensorconfigcommandregistry.h"

#include "csensorconfigurer.h"

namespace {

using Registry = CSensorConfigCommandRegistry;
using Accessor = PvlResult (ISensorConfigurationSet::*)(ISensorConfiguration**);

// Configuration identifier ZUEUID_CONFIG_BASE + k to its slot.
constexpr int kSlotOfOffset[30] = {
    Registry::kAntibanding, Registry::kExposure,   Registry::kExposureCompensation, Registry::kExposureMetering,
    Registry::kFocus,       Registry::kFocusMode, Registry::kFocusState,         Registry::kFrameInterval,
    Registry::kIso,         Registry::kApertureShutter, Registry::kOpticalZoom,  Registry::kWhiteBalance,
    -1, -1, -1,
    Registry::kBrightness,  Registry::kContrast,  Registry::kGamma,              -1,
    Registry::kHue,         -1, -1,               Registry::kImageEffect,        -1,
    Registry::kSaturation,  -1,                   Registry::kSharpness,          -1,
    Registry::kVideo,       Registry::kSnapshot,
};

struct SlotMaker {
  Accessor value;  // whose support decides whether the slot is made
  Registry::Factory create;
};

// Slots 0-18 in order; each made only when its value is supported.
const SlotMaker kMakers[Registry::kVideo] = {
    {&ISensorConfigurationSet::GetBrightness, &CSensorBrightnessConfigurer::Create},
    {&ISensorConfigurationSet::GetContrast, &CSensorContrastConfigurer::Create},
    {&ISensorConfigurationSet::GetGamma, &CSensorGammaConfigurer::Create},
    {&ISensorConfigurationSet::GetHue, &CSensorHueConfigurer::Create},
    {&ISensorConfigurationSet::GetImageEffect, &CSensorImageEffectConfigurer::Create},
    {&ISensorConfigurationSet::GetSaturation, &CSensorSaturationConfigurer::Create},
    {&ISensorConfigurationSet::GetSharpness, &CSensorSharpnessConfigurer::Create},
    {&ISensorConfigurationSet::GetAntibanding, &CSensorAntibandingConfigurer::Create},
    {&ISensorConfigurationSet::GetExposure, &CSensorExposureConfigurer::Create},
    {&ISensorConfigurationSet::GetExposureCompensation, &CSensorExposureCompensationConfigurer::Create},
    {&ISensorConfigurationSet::GetExposureMetering, &CSensorExposureMeteringConfigurer::Create},
    {&ISensorConfigurationSet::GetFocus, &CSensorFocusConfigurer::Create},
    {&ISensorConfigurationSet::GetFocusMode, &CSensorFocusModeConfigurer::Create},
    {&ISensorConfigurationSet::GetFocusState, &CSensorFocusStateConfigurer::Create},
    {&ISensorConfigurationSet::GetFrameInterval, &CSensorFrameIntervalConfigurer::Create},
    {&ISensorConfigurationSet::GetIso, &CSensorIsoConfigurer::Create},
    {&ISensorConfigurationSet::GetApertureShutter, &CSensorApertureShutterConfigurer::Create},
    {&ISensorConfigurationSet::GetOpticalZoom, &CSensorOpticalZoomConfigurer::Create},
    {&ISensorConfigurationSet::GetWhiteBalance, &CSensorWhiteBalanceConfigurer::Create},
};

}  // namespace

int CSensorConfigCommandRegistry::SlotOf(uint32_t configuration) const {
  const uint32_t offset = configuration - ZUEUID_CONFIG_BASE;  // below the base wraps to a large number
  return offset < 30 ? kSlotOfOffset[offset] : -1;
}

PvlResult CSensorConfigCommandRegistry::MakeConfigurers() {
  size_t slot = 0;
  for (const SlotMaker& maker : kMakers) {
    CPvlPtr<ISensorConfiguration> value;
    PvlResult r = (GetSet()->*maker.value)(&value);
    if (r != PVL_OK) return r;
    if (value && value->IsSupported()) {
      r = Make(slot, maker.create);
      if (r != PVL_OK) return r;
    }
    ++slot;
  }
  // The two modes exist whatever the driver supports.
  PvlResult r = Make(kVideo, &CSensorVideoConfigurer::Create);
  if (r != PVL_OK) return r;
  return Make(kSnapshot, &CSensorSnapshotConfigurer::Create);
}
