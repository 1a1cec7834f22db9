// Range conversions and dumps of the sensor configuration values. A range
// conversion writes only the value word of a record's triple: the ends stay
// what the driver reported at its last read, so the driver gets its own range
// back with the value placed in it.
#include "camerasensorserviceconfigurations.h"

#include "configrange.h"
#include "pvllog.h"

// The dump formats keep their long lines in fixed runs of blanks.
#define G26 "                          "
#define G30 "                              "

namespace {

void MapTriple(int32_t dMin, int32_t* value, int32_t dMax, const CameraRange& s) {
  *value = ConfigMapRange(dMin, dMax, s.Minimum, s.Maximum, s.Value);
}
void MapTriple(float dMin, float* value, float dMax, const CameraFloatRange& s) {
  *value = ConfigMapRangeFloat(dMin, dMax, s.Minimum, s.Maximum, s.Value);
}

}  // namespace

void CSensorBrightnessValue::MapFromRange(const CameraRange& s) {
  MapTriple(Rec().nMinimumBrightness, &Rec().nBrightness, Rec().nMaximumBrightness, s);
}
void CSensorSharpnessValue::MapFromRange(const CameraRange& s) {
  MapTriple(Rec().nMinimumSharpness, &Rec().nSharpness, Rec().nMaximumSharpness, s);
}
void CSensorGammaValue::MapFromRange(const CameraFloatRange& s) {
  MapTriple(Rec().fMinimumGamma, &Rec().fGamma, Rec().fMaximumGamma, s);
}
void CSensorHueValue::MapFromRange(const CameraFloatRange& s) {
  MapTriple(Rec().fMinimumHue, &Rec().fHue, Rec().fMaximumHue, s);
}
void CSensorImageEffectValue::MapCbOffsetFromRange(const CameraRange& s) {
  MapTriple(Rec().nMinimumCbOffset, &Rec().nCbOffset, Rec().nMaximumCbOffset, s);
}
void CSensorImageEffectValue::MapCrOffsetFromRange(const CameraRange& s) {
  MapTriple(Rec().nMinimumCrOffset, &Rec().nCrOffset, Rec().nMaximumCrOffset, s);
}

// The triple's words are taken as they stand, also when the record held a
// magnification factor before.
void CSensorOpticalZoomValue::MapZoomStepFromRange(const SensorZoomStepRange& z) {
  SensorZoomStep& step = Rec()._u.nZoomStep;
  if (Rec().zoomType == 2 && step.nMinimumZoomStep == z.minimum && step.nZoomStep == z.value &&
      step.nMaximumZoomStep == z.maximum)
    return;
  Rec().zoomType = 2;
  step.nZoomStep = ConfigMapRange(step.nMinimumZoomStep, step.nMaximumZoomStep, z.minimum, z.maximum, z.value);
}

PvlResult CSensorAntibandingValue::Dump() {
  CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "antibandingMode: %d; nUserFlickerFrequency: %d", Rec().antibandingMode,
                   Rec().nUserFlickerFrequency);
  return PVL_OK;
}
PvlResult CSensorBrightnessValue::Dump() {
  CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "nMinimumBrightness: %d; nBrightness:" G26 "%d; nMaximumBrightness %d",
                   Rec().nMinimumBrightness, Rec().nBrightness, Rec().nMaximumBrightness);
  return PVL_OK;
}
PvlResult CSensorContrastValue::Dump() {
  CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "nMinimumContrast: %d; nContrast: %d;" G26 "nMaximumContrast %d",
                   Rec().nMinimumContrast, Rec().nContrast, Rec().nMaximumContrast);
  return PVL_OK;
}
PvlResult CSensorExposureValue::Dump() {
  CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "nGain: %d; nIntegrationLineCount %d", Rec().nGain,
                   Rec().nIntegrationLineCount);
  return PVL_OK;
}
PvlResult CSensorExposureCompensationValue::Dump() {
  CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "exposureCompensation.num: %d;" G26 "exposureCompensation.denom: %d",
                   Rec().exposureCompensation.num, Rec().exposureCompensation.denom);
  return PVL_OK;
}
PvlResult CSensorExposureMeteringValue::Dump() {
  const SensorExposureMeteringRecord& r = Rec();
  CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE,
                   "exposureMeteringMode: %d; centerRect.left: %d; centerRect.top: %d;" G26
                   "centerRect.right: %d; centerRect.bottom: %d; nCenterRectWeighting: %f",
                   r.exposureMeteringMode, r.centerRect.left, r.centerRect.top, r.centerRect.right,
                   r.centerRect.bottom, static_cast<double>(r.nCenterRectWeighting));
  return PVL_OK;
}
PvlResult CSensorFocusValue::Dump() {
  CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "focusDirection: %d; nFocusSteps: %d; bResetFocus: %d", Rec().focusDirection,
                   Rec().nFocusSteps, Rec().bResetFocus.value);
  return PVL_OK;
}
PvlResult CSensorFocusModeValue::Dump() {
  CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "focusMode: %d", Rec().focusMode);
  return PVL_OK;
}
PvlResult CSensorFocusStateValue::Dump() {
  CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "focusState: %d", Rec().focusState);
  return PVL_OK;
}
PvlResult CSensorFrameIntervalValue::Dump() {
  CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "bAutoFrameInterval: %d; nFrameInterval: %d", Rec().bAutoFrameInterval.value,
                   Rec().nFrameInterval);
  return PVL_OK;
}
PvlResult CSensorGammaValue::Dump() {
  CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "fMinimumGamma: %f; fGamma: %f; fMaximumGamma: %f",
                   static_cast<double>(Rec().fMinimumGamma), static_cast<double>(Rec().fGamma),
                   static_cast<double>(Rec().fMaximumGamma));
  return PVL_OK;
}
PvlResult CSensorHueValue::Dump() {
  CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "fMinimumHue: %f; fHue: %f; fMaximumHue: %f",
                   static_cast<double>(Rec().fMinimumHue), static_cast<double>(Rec().fHue),
                   static_cast<double>(Rec().fMaximumHue));
  return PVL_OK;
}
PvlResult CSensorImageEffectValue::Dump() {
  CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "imageEffect: %d; nCbOffset: %d; nCrOffset: %d", Rec().imageEffect,
                   Rec().nCbOffset, Rec().nCrOffset);
  return PVL_OK;
}
PvlResult CSensorIsoValue::Dump() {
  CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "ISOMode: %d; nISOValue: %d", Rec().ISOMode, Rec().nISOValue);
  return PVL_OK;
}
PvlResult CSensorApertureShutterValue::Dump() {
  CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "fApertureStop: %f; nShutterTime: %d", static_cast<double>(Rec().fApertureStop),
                   Rec().nShutterTime);
  return PVL_OK;
}
PvlResult CSensorOpticalZoomValue::Dump() {
  const SensorOpticalZoomRecord& r = Rec();
  if (r.zoomType == 1) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "opticalZoomSetting._u.fMagnificationFactor: %f",
                     static_cast<double>(r._u.fMagnificationFactor));
  } else if (r.zoomType == 2) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE,
                     "opticalZoomSetting._u.nZoomStep.nMinimumZoomStep: %d;" G30
                     "opticalZoomSetting._u.nZoomStep.nZoomStep: %d;" G30
                     "opticalZoomSetting._u.nZoomStep.nMaximumZoomStep: %d",
                     r._u.nZoomStep.nMinimumZoomStep, r._u.nZoomStep.nZoomStep, r._u.nZoomStep.nMaximumZoomStep);
  }
  return PVL_OK;
}
PvlResult CSensorModeValue::Dump() {
  const SensorModeRecord& r = Rec();
  CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE,
                   "resolution.width: %d; resolution.height: %d;" G26 "decimation.decimationMode: %d;" G26
                   "decimation.nXDecimation: %d; decimation.nYDecimation: %d;" G26
                   "exposureConfig.nGain: %d; exposureConfig.nIntegrationLineCount: %d;" G26
                   "frameIntervalConfig.bAutoFrameInterval: %d; frameIntervalConfig.nFrameInterval: %d",
                   r.resolution.width, r.resolution.height, r.decimation.decimationMode, r.decimation.nXDecimation,
                   r.decimation.nYDecimation, r.exposureConfig.nGain, r.exposureConfig.nIntegrationLineCount,
                   r.frameIntervalConfig.bAutoFrameInterval.value, r.frameIntervalConfig.nFrameInterval);
  return PVL_OK;
}
PvlResult CSensorSaturationValue::Dump() {
  CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "nMinimumSaturation: %d; nSaturation: %d;" G26 "nMaximumSaturation: %d",
                   Rec().nMinimumSaturation, Rec().nSaturation, Rec().nMaximumSaturation);
  return PVL_OK;
}
PvlResult CSensorSharpnessValue::Dump() {
  CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "nMinimumSharpness: %d; nSharpness: %d;" G26 "nMaximumSharpness: %d",
                   Rec().nMinimumSharpness, Rec().nSharpness, Rec().nMaximumSharpness);
  return PVL_OK;
}
PvlResult CSensorWhiteBalanceValue::Dump() {
  CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "whiteBalance: %d; nWhiteBalance: %d", Rec().whiteBalance, Rec().nWhiteBalance);
  return PVL_OK;
}
