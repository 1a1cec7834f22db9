#include "csensorconfigurer.h"

#include "camerasensorserviceconfigurations.h"
#include "cfixedpoint.h"

using Set = ISensorConfigurationSet;

PvlResult CSensorConfigurer::ReadGainQ8(int32_t* gain) {
  CFixedPoint fixed;
  RETURN_IF_FAILED(m_view->GetExposureGain(&fixed));
  // The 3A state keeps the gain at whatever precision its writer chose; the
  // driver counts in 1/256.
  return fixed.GetRawAtQ(8, gain);
}

PvlResult CSensorBrightnessConfigurer::Configure() {
  return WithValue<CSensorBrightnessValue>(&Set::GetBrightness, [&](CSensorBrightnessValue& v) {
    CameraRange s{};
    RETURN_IF_FAILED(m_view->GetBrightness(&s));
    v.MapFromRange(s);
    return v.Apply();
  });
}

PvlResult CSensorContrastConfigurer::Configure() {
  return WithValue<CSensorContrastValue>(&Set::GetContrast, [&](CSensorContrastValue& v) {
    CameraRange s{};
    RETURN_IF_FAILED(m_view->GetContrast(&s));
    v.SetMinimumContrast(s.Minimum);
    v.SetContrast(s.Value);
    v.SetMaximumContrast(s.Maximum);
    return v.Apply();
  });
}

PvlResult CSensorGammaConfigurer::Configure() {
  return WithValue<CSensorGammaValue>(&Set::GetGamma, [&](CSensorGammaValue& v) {
    CameraFloatRange s{};
    RETURN_IF_FAILED(m_view->GetGammaCurve(&s));
    v.MapFromRange(s);
    return v.Apply();
  });
}

PvlResult CSensorHueConfigurer::Configure() {
  return WithValue<CSensorHueValue>(&Set::GetHue, [&](CSensorHueValue& v) {
    CameraFloatRange s{};
    RETURN_IF_FAILED(m_view->GetHueAngle(&s));
    v.MapFromRange(s);
    return v.Apply();
  });
}

PvlResult CSensorImageEffectConfigurer::Configure() {
  return WithValue<CSensorImageEffectValue>(&Set::GetImageEffect, [&](CSensorImageEffectValue& v) {
    uint32_t selector = 0, kind = 0;
    RETURN_IF_FAILED(m_view->GetImageEffectMode(&selector));
    RETURN_IF_FAILED(m_view->GetImageEffect(&kind));
    if (selector == 0) {
      v.SetImageEffect(1);
    } else if (selector == 1 && kind == 0) {
      // A fixed colour: both offsets from their settings.
      CameraRange cb{}, cr{};
      RETURN_IF_FAILED(m_view->GetFixedCbOffset(&cb));
      RETURN_IF_FAILED(m_view->GetFixedCrOffset(&cr));
      v.SetImageEffect(2);
      v.MapCbOffsetFromRange(cb);
      v.MapCrOffsetFromRange(cr);
    } else if (selector == 1 && kind <= 4) {
      v.SetImageEffect(static_cast<int32_t>(kind) + 2);
    } else {
      return PVL_E_BADARG;
    }
    return v.Apply();
  });
}

PvlResult CSensorSaturationConfigurer::Configure() {
  return WithValue<CSensorSaturationValue>(&Set::GetSaturation, [&](CSensorSaturationValue& v) {
    CameraRange s{};
    RETURN_IF_FAILED(m_view->GetSaturation(&s));
    v.SetMinimumSaturation(s.Minimum);
    v.SetSaturation(s.Value);
    v.SetMaximumSaturation(s.Maximum);
    return v.Apply();
  });
}

PvlResult CSensorSharpnessConfigurer::Configure() {
  return WithValue<CSensorSharpnessValue>(&Set::GetSharpness, [&](CSensorSharpnessValue& v) {
    CameraRange s{};
    RETURN_IF_FAILED(m_view->GetSharpness(&s));
    v.MapFromRange(s);
    return v.Apply();
  });
}

// View 0 -> 1, 2 -> 2, 3 -> 3 with the user's flicker frequency; 1 has no code.
PvlResult CSensorAntibandingConfigurer::Configure() {
  return WithValue<CSensorAntibandingValue>(&Set::GetAntibanding, [&](CSensorAntibandingValue& v) {
    uint32_t mode = 0;
    RETURN_IF_FAILED(m_view->GetAntibandingMode(&mode));
    if (mode != 0 && mode != 2 && mode != 3) return PVL_E_BADARG;
    if (mode == 3) {
      uint32_t frequency = 0;
      RETURN_IF_FAILED(m_view->GetAntibanding(&frequency));
      v.SetUserFlickerFrequency(static_cast<int32_t>(frequency));
    }
    v.SetAntibandingMode(mode == 0 ? 1 : static_cast<int32_t>(mode));
    return v.Apply();
  });
}

PvlResult CSensorExposureConfigurer::Configure() {
  return WithValue<CSensorExposureValue>(&Set::GetExposure, [&](CSensorExposureValue& v) {
    int32_t gain = 0;
    uint32_t lines = 0;
    RETURN_IF_FAILED(ReadGainQ8(&gain));
    RETURN_IF_FAILED(m_view->GetExposureLineCount(&lines));
    v.SetGain(gain);
    v.SetIntegrationLineCount(static_cast<int32_t>(lines));
    return v.Apply();
  });
}

PvlResult CSensorExposureCompensationConfigurer::Configure() {
  return WithValue<CSensorExposureCompensationValue>(
      &Set::GetExposureCompensation, [&](CSensorExposureCompensationValue& v) {
        CameraFraction f{};
        RETURN_IF_FAILED(m_view->GetExposureCompensation(&f));
        v.SetExposureCompensation({f.Numerator, f.Denominator});
        return v.Apply();
      });
}

// View m -> m + 1 for m up to 12; centre-weighted (1) also takes the centre
// rectangle and its weighting.
PvlResult CSensorExposureMeteringConfigurer::Configure() {
  return WithValue<CSensorExposureMeteringValue>(&Set::GetExposureMetering, [&](CSensorExposureMeteringValue& v) {
    uint32_t mode = 0;
    RETURN_IF_FAILED(m_view->GetExposureMeteringMode(&mode));
    if (mode > 12) return PVL_E_BADARG;
    if (mode == 1) {
      SensorRect rect{};
      float weighting = 0;
      RETURN_IF_FAILED(m_view->GetUnsupportedA(&rect));
      RETURN_IF_FAILED(m_view->GetUnsupportedB(&weighting));
      v.SetCenterRect(rect);
      v.SetCenterRectWeighting(weighting);
    }
    v.SetExposureMeteringMode(static_cast<int32_t>(mode) + 1);
    return v.Apply();
  });
}

// Directions 0 (near) and 1 (far) are the actuator's travel 1 and 2.
PvlResult CSensorFocusConfigurer::Configure() {
  return WithValue<CSensorFocusValue>(&Set::GetFocus, [&](CSensorFocusValue& v) {
    uint32_t direction = 0, steps = 0;
    uint8_t reset = 0;
    RETURN_IF_FAILED(m_view->GetLensMoveDirection(&direction));
    if (direction > 1) return PVL_E_BADARG;
    RETURN_IF_FAILED(m_view->GetLensMoveSteps(&steps));
    RETURN_IF_FAILED(m_view->GetLensReset(&reset));
    v.SetFocusDirection(static_cast<int32_t>(direction) + 1);
    v.SetFocusSteps(static_cast<int32_t>(steps));
    v.SetResetFocus(reset != 0);
    return v.Apply();
  });
}

PvlResult CSensorFocusModeConfigurer::Configure() {
  return WithValue<CSensorFocusModeValue>(&Set::GetFocusMode, [&](CSensorFocusModeValue& v) {
    uint32_t mode = 0;
    RETURN_IF_FAILED(m_view->GetAFSearchMode(&mode));
    if (mode > 1) return PVL_E_BADARG;
    v.SetFocusMode(static_cast<int32_t>(mode) + 1);
    return v.Apply();
  });
}

// States 1 and 2 are the same to the driver.
PvlResult CSensorFocusStateConfigurer::Configure() {
  return WithValue<CSensorFocusStateValue>(&Set::GetFocusState, [&](CSensorFocusStateValue& v) {
    uint32_t state = 0;
    RETURN_IF_FAILED(m_view->GetFocusState(&state));
    if (state > 2) return PVL_E_BADARG;
    v.SetFocusState(state == 0 ? 1 : 2);
    return v.Apply();
  });
}

PvlResult CSensorFrameIntervalConfigurer::Configure() {
  return WithValue<CSensorFrameIntervalValue>(&Set::GetFrameInterval, [&](CSensorFrameIntervalValue& v) {
    uint8_t automatic = 0;
    uint32_t interval = 0;
    RETURN_IF_FAILED(m_view->AreAllOutputsFlagged(&automatic));
    RETURN_IF_FAILED(m_view->GetFrameInterval(&interval));
    v.SetAutoFrameInterval(automatic != 0);
    v.SetFrameInterval(static_cast<int32_t>(interval));
    return v.Apply();
  });
}

// View 2 -> 1 (automatic), 3 -> 2 with the ISO value.
PvlResult CSensorIsoConfigurer::Configure() {
  return WithValue<CSensorIsoValue>(&Set::GetIso, [&](CSensorIsoValue& v) {
    uint32_t mode = 0;
    RETURN_IF_FAILED(m_view->GetISOMode(&mode));
    if (mode != 2 && mode != 3) return PVL_E_BADARG;
    if (mode == 3) {
      uint32_t value = 0;
      RETURN_IF_FAILED(m_view->GetISO(&value));
      v.SetISOValue(static_cast<int32_t>(value));
    }
    v.SetISOMode(mode == 2 ? 1 : 2);
    return v.Apply();
  });
}

PvlResult CSensorApertureShutterConfigurer::Configure() {
  return WithValue<CSensorApertureShutterValue>(&Set::GetApertureShutter, [&](CSensorApertureShutterValue& v) {
    float aperture = 0;
    uint32_t shutter = 0;
    RETURN_IF_FAILED(m_view->GetAperture(&aperture));
    RETURN_IF_FAILED(m_view->GetSnapshotShutterSpeed(&shutter));
    v.SetApertureStop(aperture);
    v.SetShutterTime(static_cast<int32_t>(shutter));
    return v.Apply();
  });
}

PvlResult CSensorOpticalZoomConfigurer::Configure() {
  return WithValue<CSensorOpticalZoomValue>(&Set::GetOpticalZoom, [&](CSensorOpticalZoomValue& v) {
    CameraRange s{};
    RETURN_IF_FAILED(m_view->GetUnsupportedC(&s));
    v.MapZoomStepFromRange({s.Minimum, s.Value, s.Maximum});
    return v.Apply();
  });
}

// View 2 -> 1 (automatic), 3 -> 2 with the manual value.
PvlResult CSensorWhiteBalanceConfigurer::Configure() {
  return WithValue<CSensorWhiteBalanceValue>(&Set::GetWhiteBalance, [&](CSensorWhiteBalanceValue& v) {
    uint32_t mode = 0;
    RETURN_IF_FAILED(m_view->GetWhiteBalanceMode(&mode));
    if (mode != 2 && mode != 3) return PVL_E_BADARG;
    if (mode == 3) {
      uint32_t value = 0;
      RETURN_IF_FAILED(m_view->GetWhiteBalanceValue(&value));
      v.SetWhiteBalanceValue(static_cast<int32_t>(value));
    }
    v.SetWhiteBalance(mode == 2 ? 1 : 2);
    return v.Apply();
  });
}

PvlResult CSensorConfigurer::ConfigureMode(const uint32_t* reapply, size_t count) {
  // Made without a registry, a mode configurer cannot re-apply the picture.
  if (!m_registry) return PVL_E_NOTREADY;
  for (size_t i = 0; i < count; ++i) {
    CPvlPtr<IConfigCommand> configurer;
    PvlResult r = m_registry->GetConfigurer(reapply[i], &configurer);
    if (r == PVL_OK) r = configurer->Configure();
    if (r != PVL_OK && r != PVL_E_UNSUPPORTED) return r;
  }
  return WithValue<CSensorModeValue>(&Set::GetSensorMode, [&](CSensorModeValue& v) {
    CameraSize size{};
    RETURN_IF_FAILED(m_view->GetOutputSize(&size));
    v.SetResolution({static_cast<int32_t>(size.Width), static_cast<int32_t>(size.Height)});
    v.SetDecimation({1, 1, 1});
    int32_t gain = 0;
    uint32_t lines = 0;
    RETURN_IF_FAILED(ReadGainQ8(&gain));
    RETURN_IF_FAILED(m_view->GetExposureLineCount(&lines));
    v.SetExposureConfig({gain, static_cast<int32_t>(lines)});
    uint8_t automatic = 0;
    uint32_t interval = 0;
    RETURN_IF_FAILED(m_view->AreAllOutputsFlagged(&automatic));
    RETURN_IF_FAILED(m_view->GetFrameInterval(&interval));
    SensorFrameIntervalRecord frame{};
    frame.bAutoFrameInterval.value = automatic ? 1 : 0;
    frame.nFrameInterval = static_cast<int32_t>(interval);
    v.SetFrameIntervalConfig(frame);
    return v.Apply();
  });
}

namespace {
const uint32_t kVideoReapply[] = {
    ZUEUID_CONFIG_ANTIBANDING, ZUEUID_CONFIG_BRIGHTNESS, ZUEUID_CONFIG_CONTRAST, ZUEUID_CONFIG_EXPOSURE_COMPENSATION,
    ZUEUID_CONFIG_EXPOSURE_METERING, ZUEUID_CONFIG_GAMMA, ZUEUID_CONFIG_HUE, ZUEUID_CONFIG_IMAGE_EFFECT,
    ZUEUID_CONFIG_ISO, ZUEUID_CONFIG_SATURATION, ZUEUID_CONFIG_SHARPNESS, ZUEUID_CONFIG_WHITE_BALANCE,
};
// A still also takes the aperture and shutter, between ISO and saturation.
const uint32_t kSnapshotReapply[] = {
    ZUEUID_CONFIG_ANTIBANDING, ZUEUID_CONFIG_BRIGHTNESS, ZUEUID_CONFIG_CONTRAST, ZUEUID_CONFIG_EXPOSURE_COMPENSATION,
    ZUEUID_CONFIG_EXPOSURE_METERING, ZUEUID_CONFIG_GAMMA, ZUEUID_CONFIG_HUE, ZUEUID_CONFIG_IMAGE_EFFECT,
    ZUEUID_CONFIG_ISO, ZUEUID_CONFIG_APERTURE_SHUTTER, ZUEUID_CONFIG_SATURATION, ZUEUID_CONFIG_SHARPNESS,
    ZUEUID_CONFIG_WHITE_BALANCE,
};
}  // namespace

PvlResult CSensorVideoConfigurer::Configure() {
  return ConfigureMode(kVideoReapply, sizeof kVideoReapply / sizeof kVideoReapply[0]);
}
PvlResult CSensorSnapshotConfigurer::Configure() {
  return ConfigureMode(kSnapshotReapply, sizeof kSnapshotReapply / sizeof kSnapshotReapply[0]);
}
