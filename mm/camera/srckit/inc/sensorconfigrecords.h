// The sensor driver's commands and the configuration records it reads. Each
// record is at once the input (apply) and the output (read back) of one
// command: little-endian, no header, exactly the size asserted here. The
// read-only property records the driver writes are in csensorinfo.h.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "csensorinfo.h"

// Power and state commands (no records).
#define ZUEUID_SENSOR_CMD_POWER_UP 0x0106c447u
#define ZUEUID_SENSOR_CMD_POWER_DOWN 0x0106c448u
#define ZUEUID_SENSOR_CMD_START 0x0106c449u
#define ZUEUID_SENSOR_CMD_STOP 0x0106c44au
#define ZUEUID_SENSOR_CMD_RESET 0x0106c44bu
// Asks the powered sensor whether it still answers on its bus (its chip
// identifier is read): 0 when it does, PVL_E_DEVICE_LOST when it does not, 13
// when it is not powered.
#define ZUEUID_SENSOR_CMD_CHECK_PRESENCE 0x0106c46bu
// Frame timing of a size: SensorFrameTimingRequest in, SensorFrameTimingAnswer out.
#define ZUEUID_SENSOR_CMD_GET_FRAME_TIMING ZUEUID_SENSOR_PROPERTY_FRAME_TIMING

// Configuration commands, one per record below, in record order.
#define ZUEUID_SENSOR_CMD_ANTIBANDING 0x0106c456u
#define ZUEUID_SENSOR_CMD_BRIGHTNESS 0x0106c457u
#define ZUEUID_SENSOR_CMD_CONTRAST 0x0106c458u
#define ZUEUID_SENSOR_CMD_EXPOSURE 0x0106c459u
#define ZUEUID_SENSOR_CMD_EXPOSURE_COMPENSATION 0x0106c45au
#define ZUEUID_SENSOR_CMD_EXPOSURE_METERING 0x0106c45bu
#define ZUEUID_SENSOR_CMD_FOCUS 0x0106c45cu
#define ZUEUID_SENSOR_CMD_FOCUS_MODE 0x0106c45du
#define ZUEUID_SENSOR_CMD_FOCUS_STATE 0x0106c45eu
#define ZUEUID_SENSOR_CMD_FRAME_INTERVAL 0x0106c45fu
#define ZUEUID_SENSOR_CMD_GAMMA 0x0106c460u
#define ZUEUID_SENSOR_CMD_HUE 0x0106c461u
#define ZUEUID_SENSOR_CMD_IMAGE_EFFECT 0x0106c462u
#define ZUEUID_SENSOR_CMD_ISO 0x0106c463u
#define ZUEUID_SENSOR_CMD_APERTURE_SHUTTER 0x0106c464u
#define ZUEUID_SENSOR_CMD_OPTICAL_ZOOM 0x0106c465u
#define ZUEUID_SENSOR_CMD_SENSOR_MODE 0x0106c466u
#define ZUEUID_SENSOR_CMD_SATURATION 0x0106c467u
#define ZUEUID_SENSOR_CMD_SHARPNESS 0x0106c468u
#define ZUEUID_SENSOR_CMD_WHITE_BALANCE 0x0106c469u

// One byte holding 0 or 1, padded to a word.
struct SensorBool8 {
  uint8_t value;
  uint8_t pad[3];
};
static_assert(sizeof(SensorBool8) == 4);

struct SensorAntibandingRecord {
  int32_t antibandingMode;
  int32_t nUserFlickerFrequency;  // mains frequency chosen by the user
};

// Range triples: the driver reports minimum and maximum, the value is applied.
struct SensorBrightnessRecord {
  int32_t nMinimumBrightness;
  int32_t nBrightness;
  int32_t nMaximumBrightness;
};
struct SensorContrastRecord {
  int32_t nMinimumContrast;
  int32_t nContrast;
  int32_t nMaximumContrast;
};

struct SensorExposureRecord {
  int32_t nGain;                  // 1/256 units: 256 is a gain of 1.0
  int32_t nIntegrationLineCount;  // exposure time in sensor lines
};

struct SensorExposureCompensation {
  int32_t num;
  int32_t denom;
};
struct SensorExposureCompensationRecord {
  SensorExposureCompensation exposureCompensation;
};

struct SensorRect {
  int32_t left, top, right, bottom;
};
struct SensorExposureMeteringRecord {
  int32_t exposureMeteringMode;
  SensorRect centerRect;        // centre rectangle of centre-weighted metering
  float nCenterRectWeighting;   // a float despite its name
};

struct SensorFocusRecord {
  int32_t focusDirection;  // 1 or 2: the actuator's two directions of travel
  int32_t nFocusSteps;
  SensorBool8 bResetFocus;  // 1: home the lens instead of moving it
};

struct SensorFocusModeRecord {
  int32_t focusMode;
};
struct SensorFocusStateRecord {
  int32_t focusState;
};

struct SensorFrameIntervalRecord {
  SensorBool8 bAutoFrameInterval;
  int32_t nFrameInterval;  // microseconds
};

struct SensorGammaRecord {
  float fMinimumGamma;
  float fGamma;
  float fMaximumGamma;
};
struct SensorHueRecord {
  float fMinimumHue;
  float fHue;
  float fMaximumHue;
};

struct SensorImageEffectRecord {
  int32_t imageEffect;
  int32_t nMinimumCbOffset, nCbOffset, nMaximumCbOffset;
  int32_t nMinimumCrOffset, nCrOffset, nMaximumCrOffset;
};

struct SensorIsoRecord {
  int32_t ISOMode;
  int32_t nISOValue;
};

struct SensorApertureShutterRecord {
  float fApertureStop;  // F-number
  int32_t nShutterTime;
};

struct SensorZoomStep {
  int32_t nMinimumZoomStep;
  int32_t nZoomStep;
  int32_t nMaximumZoomStep;
};
// zoomType says which member of the union is meant: 1 magnification, 2 steps.
struct SensorOpticalZoomRecord {
  int32_t zoomType;
  union {
    float fMagnificationFactor;
    SensorZoomStep nZoomStep;
  } _u;
};

struct SensorResolution {
  int32_t width;
  int32_t height;
};
struct SensorDecimation {
  int32_t nXDecimation;
  int32_t nYDecimation;
  int32_t decimationMode;  // stored after the two factors
};
struct SensorModeRecord {
  SensorResolution resolution;
  SensorDecimation decimation;
  SensorExposureRecord exposureConfig;
  SensorFrameIntervalRecord frameIntervalConfig;
};

struct SensorSaturationRecord {
  int32_t nMinimumSaturation;
  int32_t nSaturation;
  int32_t nMaximumSaturation;
};
struct SensorSharpnessRecord {
  int32_t nMinimumSharpness;
  int32_t nSharpness;
  int32_t nMaximumSharpness;
};

struct SensorWhiteBalanceRecord {
  int32_t whiteBalance;
  int32_t nWhiteBalance;  // the value that goes with the mode
};

// Input of the zoom-step conversion: minimum, value, maximum.
struct SensorZoomStepRange {
  int32_t minimum;
  int32_t value;
  int32_t maximum;
};

static_assert(sizeof(SensorAntibandingRecord) == 8);
static_assert(sizeof(SensorBrightnessRecord) == 12);
static_assert(sizeof(SensorContrastRecord) == 12);
static_assert(sizeof(SensorExposureRecord) == 8);
static_assert(sizeof(SensorExposureCompensationRecord) == 8);
static_assert(sizeof(SensorExposureMeteringRecord) == 24);
static_assert(offsetof(SensorExposureMeteringRecord, centerRect) == 4);
static_assert(offsetof(SensorExposureMeteringRecord, nCenterRectWeighting) == 20);
static_assert(sizeof(SensorFocusRecord) == 12);
static_assert(offsetof(SensorFocusRecord, bResetFocus) == 8);
static_assert(sizeof(SensorFocusModeRecord) == 4);
static_assert(sizeof(SensorFocusStateRecord) == 4);
static_assert(sizeof(SensorFrameIntervalRecord) == 8);
static_assert(offsetof(SensorFrameIntervalRecord, nFrameInterval) == 4);
static_assert(sizeof(SensorGammaRecord) == 12);
static_assert(sizeof(SensorHueRecord) == 12);
static_assert(sizeof(SensorImageEffectRecord) == 28);
static_assert(offsetof(SensorImageEffectRecord, nMinimumCrOffset) == 16);
static_assert(sizeof(SensorIsoRecord) == 8);
static_assert(sizeof(SensorApertureShutterRecord) == 8);
static_assert(sizeof(SensorOpticalZoomRecord) == 16);
static_assert(offsetof(SensorOpticalZoomRecord, _u) == 4);
static_assert(sizeof(SensorModeRecord) == 36);
static_assert(offsetof(SensorModeRecord, decimation) == 8);
static_assert(offsetof(SensorModeRecord, decimation.decimationMode) == 16);
static_assert(offsetof(SensorModeRecord, exposureConfig) == 20);
static_assert(offsetof(SensorModeRecord, frameIntervalConfig) == 28);
static_assert(offsetof(SensorModeRecord, frameIntervalConfig.nFrameInterval) == 32);
static_assert(sizeof(SensorSaturationRecord) == 12);
static_assert(sizeof(SensorSharpnessRecord) == 12);
static_assert(sizeof(SensorWhiteBalanceRecord) == 8);
static_assert(sizeof(SensorZoomStepRange) == 12);
