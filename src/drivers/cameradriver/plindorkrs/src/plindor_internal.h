// Module state shared by the platform library's source files.
#ifndef PLINDOR_INTERNAL_H
#define PLINDOR_INTERNAL_H

#include <stdint.h>

#include "chipset.h"
#include "plindor.h"
#include "wince.h"

namespace plindor {

// Register windows mapped when the library loads.
constexpr uint32_t kBoardDescriptionPhys = 0x70000000;
constexpr uint32_t kBoardSelectedGpioOffset = 484;
constexpr uint32_t kVfeRegistersPhys = 0xa0f00000;
constexpr uint32_t kVfeInputPhys = 0xaa500000;
constexpr uint32_t kFlashPhys = 0xac100000;
constexpr uint32_t kWindowSize = 0x1000;
// The flash block's free-running counter: offset 0, 1 MHz.
constexpr uint32_t kFlashCounterOffset = 0;
constexpr uint32_t kFlashCounterTicksPerMs = 1000;

extern volatile uint8_t* gBoardWindow;
extern volatile uint8_t* gVfeWindow;
extern volatile uint8_t* gVfeInputWindow;
extern volatile uint8_t* gSharedArea;
extern volatile uint8_t* gFlashWindow;

// A word of the shared status area (0 when it is not mapped).
uint32_t SharedRead(uint32_t offset);
void SharedWrite(uint32_t offset, uint32_t value);

// Waits for the given microseconds: the chipset's clock pause for the part
// under a millisecond, the flash counter for whole milliseconds.
void FlashWait(uint32_t microseconds);

}  // namespace plindor

#endif  // PLINDOR_INTERNAL_H
