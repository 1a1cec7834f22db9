// The S5K3E2FX's register sets: the two mode rows and the analogue block that
// the initialisation writes, and the constants of each mode.
#pragma once

#include <stdint.h>

#include <array>

constexpr uint16_t S5K3E2FX_REG_CHIP_ID = 0x0000;
constexpr uint16_t S5K3E2FX_REG_REVISION = 0x0002;
constexpr uint16_t S5K3E2FX_REG_MODE_SELECT = 0x0100;  // 0 standby, 1 streaming
constexpr uint16_t S5K3E2FX_REG_SOFTWARE_RESET = 0x0103;
constexpr uint16_t S5K3E2FX_REG_INTEGRATION = 0x0202;  // lines, two bytes
constexpr uint16_t S5K3E2FX_REG_GAIN = 0x0204;         // code, two bytes
constexpr uint16_t S5K3E2FX_REG_FRAME_LENGTH = 0x0340;
constexpr uint16_t S5K3E2FX_REG_LINE_LENGTH = 0x0342;
constexpr uint16_t S5K3E2FX_CHIP_ID = 0x3E2F;
// The revision the mode rows were tuned on; others get fixed substitutes.
constexpr uint16_t S5K3E2FX_TUNED_REVISION = 0x4009;

constexpr uint32_t S5K3E2FX_MODE_PREVIEW = 0;
constexpr uint32_t S5K3E2FX_MODE_FULL = 1;
constexpr uint32_t S5K3E2FX_MODE_ROW_SIZE = 66;

// Per mode (preview, full).
struct S5K3E2FXModeConstants {
  uint32_t width;
  uint32_t height;
  uint32_t frameLength;  // lines
  uint32_t lineLength;   // pixel clocks
  uint32_t decimation;
  uint32_t pixelClock;   // Hz
};
extern const S5K3E2FXModeConstants g_S5K3E2FXModes[2];

// Row byte i feeds register g_S5K3E2FXRowRegister[i] (0: no register).
extern const uint8_t g_S5K3E2FXModeTable[2][S5K3E2FX_MODE_ROW_SIZE];
extern const uint16_t g_S5K3E2FXRowRegister[S5K3E2FX_MODE_ROW_SIZE];

// The analogue block written register by register from 0x3200.
constexpr uint16_t S5K3E2FX_BLOCK_FIRST = 0x3200;
constexpr uint32_t S5K3E2FX_BLOCK_SIZE = 432;
extern const std::array<uint8_t, S5K3E2FX_BLOCK_SIZE> g_S5K3E2FXBlock;

// The frame period in microseconds of a line and frame length at a pixel clock,
// in single precision as the timing records report it.
uint32_t S5K3E2FX_FrameInterval(uint32_t lineLength, uint32_t frameLength, uint32_t pixelClock);
