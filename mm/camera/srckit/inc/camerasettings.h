// The settings views: one interface per client over the user-data aggregate
// that the engine hands to its services and plug-ins. A view's AddRef, Release
// and QueryInterface act on the aggregate, so a client holding one view can
// reach every other.
//
// Shared rules: a null out-pointer gives 29 (an operation with several checks
// all of them first); an operation the system does not offer gives 20; a slot
// that only forwards passes the forwarded result on. Slot numbers are given
// beside each operation; the statistics module relies on them.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "cfixedpoint.h"
#include "csensorinfo.h"
#include "pvlbase.h"

#define ZUEUID_VFE_SETTINGS 0x01063f9au
#define ZUEUID_SENSOR_SETTINGS 0x01063f9cu
#define ZUEUID_FLASH_SETTINGS 0x0106c1fcu
#define ZUEUID_AWB_SETTINGS 0x01063f99u
#define ZUEUID_AF_SETTINGS 0x01063182u
#define ZUEUID_AEC_SETTINGS 0x01063181u

// Minimum, maximum, step, default and value of a client property.
struct CameraRange {
  int32_t Minimum, Maximum, Step, Default, Value;
};
struct CameraFloatRange {
  float Minimum, Maximum, Step, Default, Value;
};
struct CameraFraction {
  int32_t Numerator;
  int32_t Denominator;
};
struct CameraSize {
  uint32_t Width;
  uint32_t Height;
};
// The largest enabled output: size, frame interval and its automatic-frame-rate flag.
struct CameraOutputDescription {
  uint32_t Width;
  uint32_t Height;
  uint32_t FrameInterval;  // microseconds
  uint8_t Flag;
  uint8_t Pad[3];
};
static_assert(sizeof(CameraRange) == 20);
static_assert(sizeof(CameraFloatRange) == 20);
static_assert(sizeof(CameraFraction) == 8);
static_assert(sizeof(CameraSize) == 8);
static_assert(sizeof(CameraOutputDescription) == 16);
static_assert(offsetof(CameraOutputDescription, Flag) == 12);

constexpr uint32_t CAMERA_VFE_BLOCK_SIZE = 256;

class IVfeSettings : public IPvlBase {
 public:
  virtual PvlResult GetContrast(CameraRange* out) = 0;                     // 3
  virtual PvlResult GetBrightness(CameraRange* out) = 0;                   // 4
  virtual PvlResult GetGammaCurve(CameraFloatRange* out) = 0;              // 5
  virtual PvlResult GetImageEffectMode(uint32_t* out) = 0;                 // 6
  virtual PvlResult GetImageEffect(uint32_t* out) = 0;                     // 7
  virtual PvlResult GetFixedCbOffset(CameraRange* out) = 0;                // 8
  virtual PvlResult GetFixedCrOffset(CameraRange* out) = 0;                // 9
  virtual PvlResult GetSaturation(CameraRange* out) = 0;                   // 10
  virtual PvlResult GetHueAngle(CameraFloatRange* out) = 0;                // 11
  virtual PvlResult GetSharpness(CameraRange* out) = 0;                    // 12
  // Exposure gain over the sensor's base gain (1.0 while the sensor reports none).
  virtual PvlResult GetDigitalGain(CFixedPoint* out) = 0;                  // 13
  virtual PvlResult GetCropFactor(CFixedPoint* out) = 0;                   // 14
  virtual PvlResult SetMaxCropFactor(const CFixedPoint* factor) = 0;       // 15
  virtual PvlResult GetReservedFlag(uint8_t* out) = 0;                     // 16
  virtual PvlResult GetSensorFormat(SensorOutputFormat* out) = 0;          // 17
  virtual PvlResult GetSensorTiming(SensorTiming* out) = 0;                // 18
  virtual PvlResult GetSensorGeometry(SensorGeometry* out) = 0;            // 19
  virtual PvlResult GetSensorModeInfo(SensorModeInfo* out) = 0;            // 20
  virtual PvlResult GetWhiteBalanceGains(CFixedPoint* red, CFixedPoint* green, CFixedPoint* blue) = 0;  // 21
  virtual PvlResult GetWhiteBalanceIlluminant(uint32_t* out) = 0;          // 22
  virtual PvlResult GetAwbFlagB(uint8_t* out) = 0;                         // 23
  virtual PvlResult GetAecIndex(uint32_t* out) = 0;                        // 24
  virtual PvlResult GetAecFlagA(uint8_t* out) = 0;                         // 25
  virtual PvlResult GetAecPair(uint32_t* word, uint8_t* byte) = 0;         // 26
  virtual PvlResult GetFlashNeeded(uint8_t* out) = 0;                      // 27
  virtual PvlResult GetFocusState(uint32_t* out) = 0;                      // 28
  virtual PvlResult GetExposureGain(CFixedPoint* out) = 0;                 // 29
  virtual PvlResult GetAecWordB(uint32_t* out) = 0;                        // 30
  // Whole-frame flag (14 for a null flag pointer); then, when a count pointer is
  // given, the focus cells.
  virtual PvlResult GetAFWindowConfig(uint8_t* wholeFrame, uint8_t* cells, int32_t capacity, int32_t* count) = 0;  // 31
  // The 256-byte VFE block: a buffer smaller than that gives 38.
  virtual PvlResult GetVfeBlock(void* buffer, int32_t size, uint32_t* sizeOut) = 0;  // 32
  virtual PvlResult SetVfeBlock(const void* buffer, uint32_t size) = 0;    // 33
  virtual PvlResult GetLumaAdaptationMode(uint32_t* out) = 0;              // 34
  virtual PvlResult GetOutputDescription(CameraOutputDescription* out) = 0;  // 35
  virtual PvlResult GetModeTimingWord0(uint32_t* out) = 0;                 // 36

 protected:
  ~IVfeSettings() = default;
};

class ISensorSettings : public IPvlBase {
 public:
  virtual PvlResult GetAntibandingMode(uint32_t* out) = 0;                 // 3
  virtual PvlResult GetAntibanding(uint32_t* out) = 0;                     // 4
  virtual PvlResult GetBrightness(CameraRange* out) = 0;                   // 5
  virtual PvlResult GetContrast(CameraRange* out) = 0;                     // 6
  virtual PvlResult GetExposureGain(CFixedPoint* out) = 0;                 // 7
  virtual PvlResult GetExposureLineCount(uint32_t* out) = 0;               // 8
  virtual PvlResult GetExposureCompensation(CameraFraction* out) = 0;      // 9
  virtual PvlResult GetExposureMeteringMode(uint32_t* out) = 0;            // 10
  virtual PvlResult GetUnsupportedA(void* out) = 0;                        // 11: 20
  virtual PvlResult GetUnsupportedB(void* out) = 0;                        // 12: 20
  virtual PvlResult GetLensMoveDirection(uint32_t* out) = 0;               // 13
  virtual PvlResult GetLensMoveSteps(uint32_t* out) = 0;                   // 14
  virtual PvlResult GetLensReset(uint8_t* out) = 0;                        // 15
  virtual PvlResult GetAFSearchMode(uint32_t* out) = 0;                    // 16
  virtual PvlResult GetFocusState(uint32_t* out) = 0;                      // 17
  virtual PvlResult AreAllOutputsFlagged(uint8_t* out) = 0;                // 18
  // Microseconds per frame to program.
  virtual PvlResult GetFrameInterval(uint32_t* out) = 0;                   // 19
  virtual PvlResult GetGammaCurve(CameraFloatRange* out) = 0;              // 20
  virtual PvlResult GetHueAngle(CameraFloatRange* out) = 0;                // 21
  virtual PvlResult GetImageEffectMode(uint32_t* out) = 0;                 // 22
  virtual PvlResult GetImageEffect(uint32_t* out) = 0;                     // 23
  virtual PvlResult GetFixedCbOffset(CameraRange* out) = 0;                // 24
  virtual PvlResult GetFixedCrOffset(CameraRange* out) = 0;                // 25
  virtual PvlResult GetISOMode(uint32_t* out) = 0;                         // 26
  virtual PvlResult GetISO(uint32_t* out) = 0;                             // 27
  virtual PvlResult GetAperture(float* out) = 0;                           // 28
  virtual PvlResult GetSnapshotShutterSpeed(uint32_t* out) = 0;            // 29
  virtual PvlResult GetUnsupportedC(void* out) = 0;                        // 30: 20
  virtual PvlResult GetOutputSize(CameraSize* out) = 0;                    // 31
  virtual PvlResult GetSaturation(CameraRange* out) = 0;                   // 32
  virtual PvlResult GetSharpness(CameraRange* out) = 0;                    // 33
  virtual PvlResult GetWhiteBalanceMode(uint32_t* out) = 0;                // 34: 3 manual, else 2
  virtual PvlResult GetWhiteBalanceValue(uint32_t* out) = 0;               // 35

 protected:
  ~ISensorSettings() = default;
};

class IFlashSettings : public IPvlBase {
 public:
  virtual PvlResult GetLampIntensity(CameraRange* out) = 0;                // 3
  virtual PvlResult GetSnapshotFlashIntensity(CameraRange* out) = 0;       // 4
  virtual PvlResult GetRedEyeReductionMode(uint32_t* out) = 0;             // 5
  virtual PvlResult GetUnsupportedD(void* out) = 0;                        // 6: 20
  virtual PvlResult GetUnsupportedE(void* out) = 0;                        // 7: 20
  virtual PvlResult GetLampMode(uint32_t* out) = 0;                        // 8
  virtual PvlResult GetSnapshotFlashMode(uint32_t* out) = 0;               // 9
  virtual PvlResult GetCurrentFlashDeviceId(uint32_t* out) = 0;            // 10
  virtual PvlResult IsFlashRequired(uint8_t* out) = 0;                     // 11
  virtual PvlResult GetFlashNeeded(uint8_t* out) = 0;                      // 12
  // The flash output state (0 off, 1 lamp on, 2 strobe on); always 0.
  virtual PvlResult SetFlashWord(uint32_t word) = 0;                       // 13
  virtual PvlResult GetPreSnapshotState(uint32_t* out) = 0;                // 14

 protected:
  ~IFlashSettings() = default;
};

class IAwbSettings : public IPvlBase {
 public:
  virtual PvlResult GetWhiteBalanceMode(uint32_t* out) = 0;                // 3
  virtual PvlResult GetAecIndex(uint32_t* out) = 0;                        // 4
  virtual PvlResult SetAwbWordA(uint32_t word) = 0;                        // 5
  virtual PvlResult SetWhiteBalanceGains(const CFixedPoint* red, const CFixedPoint* green, const CFixedPoint* blue) = 0;  // 6
  virtual PvlResult SetAwbFlagB(uint8_t flag) = 0;                         // 7
  virtual PvlResult GetAecFlagC(uint8_t* out) = 0;                         // 8
  virtual PvlResult GetFlashWord(uint32_t* out) = 0;                       // 9
  virtual PvlResult GetGainTripleB(CFixedPoint* a, CFixedPoint* b, CFixedPoint* c) = 0;  // 10
  virtual PvlResult GetPreSnapshotState(uint32_t* out) = 0;                // 11
  virtual PvlResult SetPreSnapshotState(uint32_t state) = 0;               // 12
  virtual PvlResult IsAwbSupported(uint32_t* out) = 0;                     // 13

 protected:
  ~IAwbSettings() = default;
};

class IAfSettings : public IPvlBase {
 public:
  virtual PvlResult GetFocusMode(uint32_t* out) = 0;                       // 3
  virtual PvlResult GetFocusState(uint32_t* out) = 0;                      // 4
  virtual PvlResult GetLensPosition(uint32_t* out) = 0;                    // 5
  virtual PvlResult GetLensReset(uint8_t* out) = 0;                        // 6
  virtual PvlResult GetOnSensorFocusResult(uint32_t* out) = 0;             // 7
  virtual PvlResult GetFrameRateA(CFixedPoint* out) = 0;                   // 8
  virtual PvlResult GetAecFlagA(uint8_t* out) = 0;                         // 9
  virtual PvlResult GetAecPair(uint32_t* word, uint8_t* byte) = 0;         // 10
  virtual PvlResult SetFocusState(uint32_t state) = 0;                     // 11
  virtual PvlResult MoveLens(uint32_t direction, uint32_t steps, uint8_t reset) = 0;  // 12
  virtual PvlResult GetPreSnapshotState(uint32_t* out) = 0;                // 13
  virtual PvlResult SetPreSnapshotState(uint32_t state) = 0;               // 14
  virtual PvlResult GetSensorGeometry(SensorGeometry* out) = 0;            // 15
  virtual PvlResult GetAecIndex(uint32_t* out) = 0;                        // 16

 protected:
  ~IAfSettings() = default;
};

class IAecSettings : public IPvlBase {
 public:
  virtual PvlResult GetAntibandingMode(uint32_t* out) = 0;                 // 3
  virtual PvlResult GetAntibanding(uint32_t* out) = 0;                     // 4
  virtual PvlResult GetExposureMeteringMode(uint32_t* out) = 0;            // 5
  virtual PvlResult GetExposureCompensation(CameraFraction* out) = 0;      // 6
  virtual PvlResult AreAllOutputsFlagged(uint8_t* out) = 0;                // 7
  virtual PvlResult GetUnityFactor(CFixedPoint* out) = 0;                  // 8
  virtual PvlResult GetMaxFrameRate(CFixedPoint* out) = 0;                 // 9
  virtual PvlResult GetFrameRateB(CFixedPoint* out) = 0;                   // 10
  virtual PvlResult GetISOMode(uint32_t* out) = 0;                         // 11
  virtual PvlResult GetISO(uint32_t* out) = 0;                             // 12
  virtual PvlResult GetSnapshotHJRMode(uint32_t* out) = 0;                 // 13
  virtual PvlResult GetFrameRateA(CFixedPoint* out) = 0;                   // 14
  virtual PvlResult GetPixelClock(uint32_t* out) = 0;                      // 15
  virtual PvlResult GetLineLength(uint32_t* out) = 0;                      // 16
  virtual PvlResult GetGainInfoWord4(uint32_t* out) = 0;                   // 17
  virtual PvlResult GetModeFrameRateA(CFixedPoint* out) = 0;               // 18
  virtual PvlResult GetModeFrameRateB(CFixedPoint* out) = 0;               // 19
  virtual PvlResult GetModeTimingWord5(uint32_t* out) = 0;                 // 20
  virtual PvlResult GetModeTimingWord2(uint32_t* out) = 0;                 // 21
  virtual PvlResult GetModeTimingWord1(uint32_t* out) = 0;                 // 22
  virtual PvlResult GetOutputDescription(CameraOutputDescription* out) = 0;  // 23
  virtual PvlResult GetUnsupportedF(void* out) = 0;                        // 24: 20
  virtual PvlResult GetFixedCount(uint32_t* out) = 0;                      // 25: 256
  virtual PvlResult SetExposureGain(const CFixedPoint* gain) = 0;          // 26
  virtual PvlResult SetExposureLineCount(uint32_t lines) = 0;              // 27
  // The frame rate (frames per second) that the AEC plug-in asks of the sensor;
  // 0 leaves the frame interval to the outputs.
  virtual PvlResult SetExposureValueB(const CFixedPoint* value) = 0;       // 28
  virtual PvlResult SetAecIndex(uint32_t index) = 0;                       // 29
  virtual PvlResult SetAecFlagA(uint8_t flag) = 0;                         // 30
  virtual PvlResult SetAecPair(uint32_t word, uint8_t byte) = 0;           // 31
  virtual PvlResult SetFlashNeeded(uint8_t needed) = 0;                    // 32
  virtual PvlResult SetAecWordB(uint32_t word) = 0;                        // 33
  virtual PvlResult GetAecWordB(uint32_t* out) = 0;                        // 34
  virtual PvlResult SetHJRFrameCount(uint32_t count) = 0;                  // 35
  virtual PvlResult GetHJRFrameCount(uint32_t* out) = 0;                   // 36
  virtual PvlResult SetExposureCompensationRange(uint32_t denominator, uint32_t step, uint32_t minimum,
                                                 uint32_t maximum) = 0;    // 37
  virtual PvlResult SetAecFlagC(uint8_t flag) = 0;                         // 38
  virtual PvlResult GetAecFlagC(uint8_t* out) = 0;                         // 39
  virtual PvlResult IsBurstWithoutHJR(uint8_t* out) = 0;                   // 40
  virtual PvlResult SetGainTripleB(const CFixedPoint* a, const CFixedPoint* b, const CFixedPoint* c) = 0;  // 41
  virtual PvlResult GetFlashWord(uint32_t* out) = 0;                       // 42
  virtual PvlResult GetPreSnapshotState(uint32_t* out) = 0;                // 43
  virtual PvlResult SetPreSnapshotState(uint32_t state) = 0;               // 44
  virtual PvlResult IsAwbSupported(uint32_t* out) = 0;                     // 45
  virtual PvlResult GetLampMode(uint32_t* out) = 0;                        // 46
  virtual PvlResult GetLensPosition(uint32_t* out) = 0;                    // 47

 protected:
  ~IAecSettings() = default;
};

// What the engine settings and the sensor-information proxy notify: a focus
// run that ended, a pre-snapshot state that needs the engine. Slot 3, no arguments.
class ICameraSettingsListener : public IPvlBase {
 public:
  virtual PvlResult Notify() = 0;  // 3

 protected:
  ~ICameraSettingsListener() = default;
};
