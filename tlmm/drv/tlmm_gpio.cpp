// GPIO driver over the chipset's pin multiplexer tables and bank registers.
#include "tlmm_gpio.h"

#include <mutex>

#include "chipset.h"

namespace {

// Configuration word: bits 0-3 function, 4-7 drive (2 high, 3 low), 8-15 GPIO, 16 output enable.
constexpr uint32_t kDriveHigh = 2;
constexpr uint32_t kDriveLow = 3;
constexpr uint32_t kOutputEnable = 1u << 16;
// A signal without a pin: GPIO 255 is never valid, so nothing is touched.
constexpr uint32_t kUnmappedWord = 0x0ff00;
constexpr uint32_t kShadowInit = 0x2ff10;

constexpr uint32_t Word(uint32_t gpio, bool outputEnable, uint32_t drive) {
  return (outputEnable ? kOutputEnable : 0) | (gpio << 8) | (drive << 4);
}

struct SignalRow {
  uint32_t signal;
  uint32_t word;
};
// The rows of the camera's signals; every other signal has no pin on this board.
constexpr SignalRow kCameraSignals[] = {
    {92, 0x10f10},                   // GPIO 15, master clock: output, drive left alone
    {101, Word(17, false, 0)},       // GPIO 17
    {143, Word(27, true, kDriveLow)},
    {159, Word(33, true, kDriveLow)},
    {588, Word(142, true, kDriveLow)},
    {594, Word(143, true, kDriveLow)},
    {600, Word(144, true, kDriveLow)},  // sensor reset
};

struct Tables {
  uint32_t signalWord[GPIO_SIGNAL_COUNT];
  uint32_t gpioDefaultSignal[GPIO_NUMBER_COUNT];  // first word of the GPIO record
  uint8_t bank[GPIO_NUMBER_COUNT];
  uint8_t bankValid[GPIO_NUMBER_COUNT];
};

constexpr uint32_t kBankFirst[8] = {0, 16, 43, 68, 95, 104, 122, 153};
constexpr uint32_t kBankMask[8] = {0xffff, 0x7ffffff, 0x1ffffff, 0x7ffffff, 0x1ff, 0x3ffff, 0x7fffffff, 0xfff};

constexpr Tables MakeTables() {
  Tables t{};
  for (auto& w : t.signalWord) w = kUnmappedWord;
  for (auto& s : t.gpioDefaultSignal) s = GPIO_NO_MAPPING;
  for (const SignalRow& r : kCameraSignals) {
    t.signalWord[r.signal] = r.word;
    t.gpioDefaultSignal[(r.word >> 8) & 0xff] = r.signal;
  }
  for (uint32_t g = 0; g < GPIO_NUMBER_COUNT; ++g) {
    uint8_t b = 0;
    for (uint8_t i = 0; i < 8; ++i)
      if (g >= kBankFirst[i]) b = i;
    t.bank[g] = b;
    t.bankValid[g] = 1;
  }
  return t;
}
constexpr Tables kTables = MakeTables();
static_assert(kTables.gpioDefaultSignal[144] == 600);
static_assert(kTables.bank[144] == 6 && kTables.bank[164] == 7 && kTables.bank[17] == 1);
static_assert(kTables.signalWord[92] == 0x10f10);

// Register windows (8 KB each).
constexpr uint32_t kWindowPhys[4] = {0xa8e00000, 0xa8f00400, 0xa9000800, 0xa9100c00};
constexpr uint32_t kWindowSize = 0x2000;
// Bank 1 lives in window 3; the other banks in window 2 at these steps.
constexpr uint32_t kBankStep[8] = {0, 0, 4, 8, 12, 16, 20, 24};
enum Reg { kOut, kOutEnable, kIn };

struct State {
  volatile uint8_t* window[4] = {};
  uint32_t shadow[GPIO_NUMBER_COUNT];
  uint32_t shadowCopy[GPIO_NUMBER_COUNT];
};

State gState;
std::once_flag gInit;

void Message(const char* text, uint16_t line) {
  const msg_desc_type desc{line, 41, 0x8, text, "tlmm_gpio.cpp"};
  msg_send_3(&desc, 0, 0, 0);
}

void Init() {
  std::call_once(gInit, [] {
    int locked = chip_int_lock();
    for (int w = 0; w < 4; ++w)
      gState.window[w] = static_cast<volatile uint8_t*>(get_virtual_address(kWindowPhys[w], kWindowSize));
    for (uint32_t g = 0; g < GPIO_NUMBER_COUNT; ++g) gState.shadow[g] = gState.shadowCopy[g] = kShadowInit;
    if (locked == 0) chip_int_free();
  });
}

volatile void* Register(uint32_t bank, Reg reg) {
  if (bank == 1) {
    volatile uint8_t* w = gState.window[3];
    if (!w) return nullptr;
    return w + (reg == kOut ? 0 : reg == kOutEnable ? 8 : 32);
  }
  volatile uint8_t* w = gState.window[2];
  if (!w) return nullptr;
  return w + kBankStep[bank] + (reg == kOut ? 0 : reg == kOutEnable ? 32 : 80);
}

// A GPIO we may touch: a number below 165 whose bank entry is valid.
bool Valid(uint32_t gpio) { return gpio < GPIO_NUMBER_COUNT && kTables.bankValid[gpio]; }

uint32_t Bit(uint32_t gpio) { return 1u << (gpio - kBankFirst[kTables.bank[gpio]]); }

void ReadModifyWrite(uint32_t gpio, Reg reg, bool set) {
  uint32_t bank = kTables.bank[gpio];
  volatile void* r = Register(bank, reg);
  if (!r) return;
  uint32_t bit = Bit(gpio);
  int locked = chip_int_lock();
  uint32_t old = chip_reg_read32(r);
  uint32_t value = set ? 0xffffffffu : 0;
  chip_reg_write32(r, (old & ~bit & kBankMask[bank]) | (value & bit));
  if (locked == 0) chip_int_free();
}

uint32_t GpioOf(uint32_t signal) { return (kTables.signalWord[signal] >> 8) & 0xff; }

}  // namespace

extern "C" void gpio_tlmm_config(uint32_t signal) {
  Init();
  if (signal >= GPIO_NO_MAPPING) {
    Message("gpio_tlmm_config:  GPIO does not have a mapping.", __LINE__);
    return;
  }
  uint32_t word = kTables.signalWord[signal];
  uint32_t gpio = (word >> 8) & 0xff;
  if (!Valid(gpio)) return;
  ReadModifyWrite(gpio, kOutEnable, (word & kOutputEnable) != 0);
  uint32_t drive = (word >> 4) & 0xf;
  if (drive == kDriveHigh || drive == kDriveLow) ReadModifyWrite(gpio, kOut, drive == kDriveHigh);
  gState.shadow[gpio] = word;
  gState.shadowCopy[gpio] = word;
}

extern "C" void gpio_out(uint32_t signal, uint32_t value) {
  Init();
  if (signal >= GPIO_NO_MAPPING) {
    Message("gpio_out():  GPIO Client or Signal is invalid.", __LINE__);
    return;
  }
  uint32_t gpio = GpioOf(signal);
  if (!Valid(gpio)) return;
  ReadModifyWrite(gpio, kOut, value != 0);
}

extern "C" uint32_t gpio_in(uint32_t signal) {
  Init();
  if (signal >= GPIO_NO_MAPPING) {
    Message("gpio_in():  Cannot read GPIO (may be invalid).", __LINE__);
    return 0;
  }
  uint32_t gpio = GpioOf(signal);
  if (!Valid(gpio)) return 0;
  volatile void* r = Register(kTables.bank[gpio], kIn);
  if (!r) return 0;
  return (chip_reg_read32(r) & Bit(gpio)) ? 1 : 0;
}

extern "C" uint32_t gpio_default_signal(uint32_t gpio) {
  return gpio < GPIO_NUMBER_COUNT ? kTables.gpioDefaultSignal[gpio] : uint32_t(GPIO_NO_MAPPING);
}

extern "C" uint32_t gpio_signal_config(uint32_t signal) {
  return signal < GPIO_SIGNAL_COUNT ? kTables.signalWord[signal] : 0;
}

extern "C" uint32_t gpio_shadow_config(uint32_t gpio) {
  Init();
  return gpio < GPIO_NUMBER_COUNT ? gState.shadow[gpio] : 0;
}
