// The white-LED flash driver object and its commands. See
// ccamerawhiteledflashdriver.h.
#include "ccamerawhiteledflashdriver.h"

#include <string.h>

#include "hostsymbols.h"
#include "plindor.h"
#include "senvarobject.h"

namespace {

constexpr uint32_t kLampLevel = 30;
constexpr uint32_t kLampMaximum = 150;
constexpr uint32_t kStrobeLevel = 100;
constexpr uint32_t kStrobeMaximum = 290;
constexpr uint32_t kDeviceType = 2;
constexpr uint32_t kDeviceFlags = 0;
constexpr int32_t kStrobeMode = 1;

uint32_t SelectedLevel(const WhiteLEDFlashDriver* d) {
  return (d->outputMode.outputMode == kStrobeMode ? d->strobeCurrent : d->lampCurrent) & 0xFFFF;
}

// The LED goes to `level`; the on flag follows only a change that took.
PvlResult ChangeLed(WhiteLEDFlashDriver* d, uint32_t level, uint8_t on) {
  if (!PMICFlashLED_SetMode(0) || !PMICFlashLED_SetCurrent(level)) return PVL_E_FAIL;
  d->ledOn = on;
  return PVL_OK;
}

PvlResult ReadWord(uint32_t value, void* output, uint32_t outputSize, uint32_t* outputLength) {
  if (outputLength) *outputLength = sizeof value;
  if (!output) return PVL_OK;
  if (outputSize != sizeof value) return PVL_E_BADARG;
  memcpy(output, &value, sizeof value);
  return PVL_OK;
}

// Lamp and strobe intensity: any 12-byte request sets the LED's one level for
// that use; the reply carries the driver's range around it.
PvlResult Intensity(WhiteLEDFlashDriver* d, uint32_t* current, uint32_t level, uint32_t maximum, const void* input,
                    uint32_t inputSize, void* output, uint32_t outputSize, uint32_t* outputLength) {
  uint32_t reported = 0;
  if (input) {
    if (inputSize != sizeof(FlashIntensityRecord)) return PVL_E_BADARG;
    *current = level;
    if (d->ledOn) {
      PvlResult r = ChangeLed(d, level, 1);
      if (r != PVL_OK) return r;
    }
    reported = level;
  }
  if (outputLength) *outputLength = sizeof(FlashIntensityRecord);
  if (!output) return PVL_OK;
  if (outputSize != sizeof(FlashIntensityRecord)) return PVL_E_BADARG;
  FlashIntensityRecord reply{0, int32_t(reported), int32_t(maximum)};
  memcpy(output, &reply, sizeof reply);
  return PVL_OK;
}

PvlResult OutputMode(WhiteLEDFlashDriver* d, const void* input, uint32_t inputSize, void* output, uint32_t outputSize,
                     uint32_t* outputLength) {
  if (input) {
    if (inputSize != sizeof(FlashOutputModeRecord)) return PVL_E_BADARG;
    memcpy(&d->outputMode, input, sizeof d->outputMode);
    if (d->ledOn) {
      PvlResult r = ChangeLed(d, SelectedLevel(d), 1);
      if (r != PVL_OK) return r;
    }
  }
  if (outputLength) *outputLength = sizeof(FlashOutputModeRecord);
  if (!output) return PVL_OK;
  if (outputSize != sizeof(FlashOutputModeRecord)) return PVL_E_BADARG;
  memcpy(output, &d->outputMode, sizeof d->outputMode);
  return PVL_OK;
}

PvlResult Construct(WhiteLEDFlashDriver* d, IEnv* env) {
  if (!d || !env) return PVL_E_NULLPTR;
  d->self = d;
  d->refs = 0;
  d->env = env;
  env->AddRef();
  // Until the flash service configures it, START lights the torch at its one
  // level rather than putting an unset current on the flash line.
  d->lampCurrent = kLampLevel;
  d->strobeCurrent = kStrobeLevel;
  d->outputMode = FlashOutputModeRecord{0};
  d->ledOn = 0;
  return PVL_OK;
}

}  // namespace

PvlResult WhiteLEDFlash_CreateInstance(IEnv* env, ZUEUID clsid, void*, void** out) {
  if (clsid != ZUEUID_CLASS_WHITE_LED_FLASH_DRIVER) return PVL_E_NOTSUPPORTED;
  if (!env || !out) return PVL_E_NULLPTR;
  return SenvarCreate(env, SENVAR_ALLOCATION_TAG, Construct, out);
}

PvlResult WhiteLEDFlashDriver::Execute(uint32_t command, void* input, uint32_t inputSize, void* output,
                                       uint32_t outputSize, uint32_t* outputLength) {
  WhiteLEDFlashDriver* d = self;
  switch (command) {
    case ZUEUID_FLASH_CMD_POWER_UP:
    case ZUEUID_FLASH_CMD_POWER_DOWN:
    case ZUEUID_FLASH_CMD_STOP:
      return ChangeLed(d, 0, 0);
    case ZUEUID_FLASH_CMD_START:
      return ChangeLed(d, SelectedLevel(d), 1);
    case ZUEUID_FLASH_CMD_RESET:
      return PMICFlashLED_SetMode(0) ? PVL_OK : PVL_E_FAIL;
    case ZUEUID_FLASH_PROPERTY_DEVICE_TYPE:
      return ReadWord(kDeviceType, output, outputSize, outputLength);
    case ZUEUID_FLASH_PROPERTY_DEVICE_FLAGS:
      return ReadWord(kDeviceFlags, output, outputSize, outputLength);
    case ZUEUID_FLASH_CMD_LAMP_INTENSITY:
      return Intensity(d, &d->lampCurrent, kLampLevel, kLampMaximum, input, inputSize, output, outputSize,
                       outputLength);
    case ZUEUID_FLASH_CMD_STROBE_INTENSITY:
      return Intensity(d, &d->strobeCurrent, kStrobeLevel, kStrobeMaximum, input, inputSize, output, outputSize,
                       outputLength);
    case ZUEUID_FLASH_CMD_OUTPUT_MODE:
      return OutputMode(d, input, inputSize, output, outputSize, outputLength);
    default:
      // The flash commands this LED has no use for answer 20; anything outside
      // the flash range is not a flash command at all.
      return command >= ZUEUID_FLASH_CMD_FIRST && command <= ZUEUID_FLASH_CMD_LAST ? PVL_E_UNSUPPORTED
                                                                                   : PVL_E_BADARG;
  }
}

PvlResult WhiteLEDFlashDriver::Stop() {
  if (!self) return PVL_E_NULLPTR;
  return PVL_OK;
}
