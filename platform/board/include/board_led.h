// The white LED on the board, watched on its two "CGIO1:" lines.
//
// Line 143 is the flash (strobe) enable: the LED flashes while it is high. Line
// 159 programmes the torch: the LED driver counts rising edges in bursts (a gap
// of at least 250 us ends a burst); a program is two (register, value) pairs,
// four bursts, and the torch lights once the fourth burst has ended and the line
// rests high (a shorter program after the line has rested high for 50 ms).
// Pulling the line low for 2 ms or more switches the torch off. The LED
// answers nothing back; the state, its time-stamped history and a warning when
// the flash is held too long are for tests, and the sensor model reads the state
// at each frame start to add the LED's light to the frame.
#ifndef BOARD_LED_H
#define BOARD_LED_H

#include <stdint.h>

#include <string>
#include <vector>

constexpr uint32_t kLedFlashGpio = 143;
constexpr uint32_t kLedTorchGpio = 159;
// Real time: the driver's pulses are not scaled by the board's speed-up.
constexpr int64_t kLedBurstGapNs = 250000;
constexpr uint32_t kLedProgramBursts = 4;
constexpr int64_t kLedProgramEndNs = 50000000;  // a program of fewer bursts ends
constexpr int64_t kLedOffNs = 2000000;          // a low this long switches the torch off
constexpr int64_t kLedFlashLimitNs = 1000000000;  // board time the flash may stay on
// Light the LED adds to a frame, in units of the scene illuminant's green level
// on a white surface (white light, so every channel alike).
constexpr float kLedTorchLight = 0.5f;
constexpr float kLedFlashLight = 4.0f;

enum BoardLedMode { kLedOff = 0, kLedTorch, kLedFlash, kLedTorchAndFlash };
struct BoardLedState {
  BoardLedMode mode = kLedOff;
  // Torch level: the pulse count of the program's last burst; the whole
  // program's burst counts are kept too (Plindor sends 20, 5, 19, 4).
  uint32_t torchLevel = 0;
  std::vector<uint32_t> torchProgram;
  int64_t sinceNs = 0;  // board time the state began
};
BoardLedState BoardLedNow();
std::vector<BoardLedState> BoardLedHistory();  // every change, oldest first
// "flash held on for N ms" when line 143 stayed high longer than the limit
// (noticed at the fall, or while still held, when the state is read).
std::vector<std::string> BoardLedWarnings();
std::string BoardLedStateName(const BoardLedState& state);  // "off", "torch(4)", "flash", "torch(4)+flash"
float BoardLedLight(const BoardLedState& state);
void BoardLedClearRecords();  // history (the current state stays) and warnings

#endif  // BOARD_LED_H
