// The phone's board as simulated devices: the sensor I2C bus "CI2C1:" with its
// slave devices, the GPIO device "CGIO1:", the board description word, the
// flash window's free-running counter, the chipset's GPIO bank registers and
// the VFE interrupt line. The board registers its devices and windows when the
// library is loaded (the chipset stand-in loads it), so a process that uses the
// chipset gets a working board without further calls; CAMERA_NO_BOARD=1 in the
// environment keeps the chipset from loading it. Tests use the controls below;
// the system's code never does.
#ifndef BOARD_SIM_H
#define BOARD_SIM_H

#include <stdint.h>

#include <memory>
#include <string>
#include <vector>

#include "wince.h"

// ---- Addresses and lines (the board's wiring) -------------------------------
constexpr uint32_t kBoardDescriptionPhys = 0x70000000;  // 4 KB, board description
constexpr uint32_t kBoardSelectedGpioOffset = 484;      // u16: a GPIO number, 255 = none
constexpr uint32_t kFlashWindowPhys = 0xac100000;       // 4 KB, flash LED block
constexpr uint32_t kFlashCounterOffset = 0x0;           // free-running counter, 1 MHz
constexpr uint32_t kFlashCounterHz = 1000000;
constexpr uint32_t kVfeRegistersPhys = 0xa0f00000;      // 4 KB, VFE registers (passive until a VFE model hooks it)
constexpr uint32_t kVfeInputRegisterPhys = 0xaa500000;  // 4 KB, VFE input and clock register
constexpr uint32_t kSharedStatusPhys = 0x81000;         // 16,388 bytes, plain memory
constexpr uint32_t kSharedStatusSize = 16388;
constexpr uint32_t kTlmmWindowPhys[4] = {0xa8e00000, 0xa8f00400, 0xa9000800, 0xa9100c00};  // 8 KB each
constexpr uint32_t kTlmmWindowSize = 0x2000;
constexpr DWORD kVfeInterrupt = 70;
constexpr uint8_t kSensorSlave = 0x20;
constexpr uint16_t kSensorChipId = 0x3E2F;

// Registers the board's devices and windows; idempotent. Runs when the
// library is loaded.
extern "C" BOOL BoardSimInit(void);
// Puts every board device back to its power-on state and clears the records
// (failure settings off, speed-up 1, the sensor model back at slave 0x20 in
// reset, the LED off, the settings file read again).
extern "C" void BoardSimReset(void);

// ---- I2C bus "CI2C1:" ---------------------------------------------------------
// A slave device on the bus. Register addresses are 16-bit, data is bytes;
// transfers auto-increment. Return false to not acknowledge (NACK).
class BoardI2cDevice {
 public:
  virtual ~BoardI2cDevice() = default;
  virtual bool Write(uint16_t reg, const uint8_t* data, uint16_t length) = 0;
  virtual bool Read(uint16_t reg, uint8_t* data, uint16_t length) = 0;
};

// Attaching to an occupied address replaces the device there.
void BoardI2cAttach(uint8_t slave, std::shared_ptr<BoardI2cDevice> device);
void BoardI2cDetach(uint8_t slave);
std::shared_ptr<BoardI2cDevice> BoardI2cDeviceAt(uint8_t slave);

// The sensor model sits at slave 0x20 (board_sensor.h); the LED model watches
// lines 143 and 159 (board_led.h).

struct BoardI2cTransfer {
  uint8_t slave;
  uint16_t reg;
  bool write;
  bool ack;
  std::vector<uint8_t> data;
  uint32_t busMode;
  uint32_t flags;
  int64_t timeNs;  // board time (board_sensor.h)
};
struct BoardI2cControl {
  DWORD code;
  DWORD value;    // bus parameter value (0x220C00, 0x220C04)
  DWORD records;  // records in a multi-write (0x220C24)
  bool ok;
};
// The latest kBoardI2cLogCapacity of each, oldest first.
constexpr size_t kBoardI2cLogCapacity = 100000;
std::vector<BoardI2cTransfer> BoardI2cTransfers();
std::vector<BoardI2cControl> BoardI2cControls();
void BoardI2cClearRecords();
// Faults: the bus device cannot be opened; every transfer is refused; the
// next `count` transfers are refused.
void BoardI2cSetPresent(bool present);
void BoardI2cSetNoAnswer(bool noAnswer);
void BoardI2cNackNext(int count);
int BoardI2cOpenCount();  // handles open now

// ---- GPIO device "CGIO1:" -------------------------------------------------------
struct BoardGpioLine {
  bool configured = false;
  uint32_t config = 0;
  int level = 0;              // 0 low, 1 high
  uint32_t rises = 0;         // low-to-high edges (pulses)
  uint32_t falls = 0;
  uint32_t unconfiguredDrives = 0;
};
struct BoardGpioEvent {
  uint32_t line;
  int level;
  int64_t timeNs;  // monotonic
};
BoardGpioLine BoardGpioLineState(uint32_t line);
std::vector<BoardGpioEvent> BoardGpioEvents();  // the latest 100,000
void BoardGpioClearRecords();                  // counts and events; levels stay
void BoardGpioSetPresent(bool present);        // false: opening "CGIO1:" fails
void BoardGpioSetFailing(bool failing);        // true: every control fails
int BoardGpioOpenCount();

// ---- Board description and flash counter ---------------------------------------
void BoardSetSelectedGpio(uint16_t gpio);
uint32_t BoardFlashCounter(void);

// ---- Shared status area -----------------------------------------------------------
// The test-mode (LTK) word of the shared status area: what a factory test tool
// sets while it runs (the platform library reads its low byte).
constexpr uint32_t kSharedStatusTestModeOffset = 6308;
void BoardSetCameraTestMode(bool on);

// ---- GPIO bank registers ---------------------------------------------------------
// Banks 0..7 of 16, 27, 25, 27, 9, 18, 31 and 12 GPIOs from GPIO 0, 16, 43, 68,
// 95, 104, 122, 153. The input register reads the pad: driven lines read their
// output bit, others what the test put on them.
enum BoardTlmmRegister { kTlmmOut = 0, kTlmmOutputEnable = 1, kTlmmIn = 2 };
uint32_t BoardTlmmRead(int bank, BoardTlmmRegister which);
void BoardTlmmSetInput(int bank, uint32_t bits);
// An observer sees every change of a bank's output or output-enable register,
// on the writing thread (a sensor model watches its reset line here).
typedef void (*BoardTlmmObserver)(void* context, int bank, uint32_t oldOut, uint32_t newOut, uint32_t outputEnable);
int BoardTlmmAddObserver(BoardTlmmObserver observer, void* context);
void BoardTlmmRemoveObserver(int id);

// ---- Interrupts -----------------------------------------------------------------
// Raises a board interrupt line through the OS (CeSimRaiseInterrupt). FALSE when
// the raise was lost (see BoardLoseInterrupts) or the OS refused it.
extern "C" BOOL BoardRaiseInterrupt(DWORD line);
// The next `count` raises of the line are lost.
void BoardLoseInterrupts(DWORD line, int count);

#endif  // BOARD_SIM_H
