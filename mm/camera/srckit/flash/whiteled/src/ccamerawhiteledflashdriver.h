// The white-LED flash driver. One LED serves as the torch (lamp) for preview
// and focus assistance and as the flash (strobe) for stills; the platform
// library's PMICFlashLED_SetCurrent runs the torch program for levels 1-30,
// raises the flash line above 30 and switches both off at 0. The flash service
// sets the lamp or strobe intensity and the output mode (0 preview: lamp,
// exactly 1 snapshot: strobe) and then starts and stops the LED; while the LED
// is on, a new intensity or mode takes effect at once.
//
// This LED has one torch level (30) and one flash level (100): the intensity
// commands report {0, level, maximum} whatever value they are given.
#pragma once

#include <stdint.h>

#include "flashconfigrecords.h"
#include "icameradriver.h"
#include "ienv.h"
#include "senvarobject.h"

// The last Release leaves the LED as it is.
struct WhiteLEDFlashDriver final : SenvarDriver<WhiteLEDFlashDriver> {
  PvlResult Execute(uint32_t command, void* input, uint32_t inputSize, void* output, uint32_t outputSize,
                    uint32_t* outputLength);
  PvlResult Stop() override;

  uint32_t lampCurrent;    // low 16 bits: the torch level
  uint32_t strobeCurrent;  // low 16 bits: the flash level
  FlashOutputModeRecord outputMode;
  uint8_t ledOn;           // 1 after START lit the LED, 0 once it is off
};

PvlResult WhiteLEDFlash_CreateInstance(IEnv* env, ZUEUID clsid, void* argument, void** out);
