// Board models: I2C bus with its slaves, GPIO device, board description,
// flash counter, GPIO bank registers and interrupt lines. The camera module's
// devices live in files of their own (sensor, scene, LED, clock).
#include "board_sim.h"

#include <time.h>

#include <cstddef>
#include <cstring>
#include <map>
#include <mutex>

#include "board_internal.h"
#include "sim_ring.h"
#include "chipset_sim.h"
#include "wince_sim.h"

namespace {

// ---------------------------------------------------------------------------
// I2C

// The bus device's transfer record (36 bytes).
struct I2cRecord {
  uint32_t busMode;
  uint8_t slave;
  uint8_t pad[3];
  uint32_t flags;
  uint32_t direction;
  uint8_t* data;
  uint16_t reg;
  uint16_t length;
  uint32_t reserved[3];
};
#if INTPTR_MAX == INT32_MAX  // the phone's layout: a 64-bit build widens its pointers
static_assert(sizeof(I2cRecord) == 36);
static_assert(offsetof(I2cRecord, data) == 16);
static_assert(offsetof(I2cRecord, reg) == 20);
#endif

constexpr DWORD kI2cParam0 = 0x220C00;
constexpr DWORD kI2cParam1 = 0x220C04;
constexpr DWORD kI2cMulti = 0x220C24;
constexpr DWORD kI2cMaxBatch = 8;

struct I2cBus {
  std::mutex lock;
  std::map<uint8_t, std::shared_ptr<BoardI2cDevice>> slaves;
  SimRing<BoardI2cTransfer> transfers{kBoardI2cLogCapacity};
  SimRing<BoardI2cControl> controls{kBoardI2cLogCapacity};
  bool present = true;
  bool noAnswer = false;
  int nackNext = 0;
  int openCount = 0;
};

I2cBus& Bus() {
  static I2cBus* b = new I2cBus;
  return *b;
}

// One transfer to a slave; false when it is not acknowledged.
bool Transfer(const I2cRecord& rec, bool write) {
  I2cBus& bus = Bus();
  std::shared_ptr<BoardI2cDevice> dev;
  bool refuse;
  {
    std::lock_guard<std::mutex> g(bus.lock);
    refuse = bus.noAnswer || bus.nackNext > 0;
    if (bus.nackNext > 0) --bus.nackNext;
    auto it = bus.slaves.find(rec.slave);
    if (it != bus.slaves.end()) dev = it->second;
  }
  bool ack = false;
  if (!refuse && dev)
    ack = write ? dev->Write(rec.reg, rec.data, rec.length) : dev->Read(rec.reg, rec.data, rec.length);
  BoardI2cTransfer t{rec.slave, rec.reg, write, ack, {}, rec.busMode, rec.flags, BoardNowNs()};
  if (ack || write) t.data.assign(rec.data, rec.data + rec.length);
  std::lock_guard<std::mutex> g(bus.lock);
  bus.transfers.Push(std::move(t));
  return ack;
}

bool ValidRecord(const I2cRecord& rec) { return rec.length == 0 || rec.data != nullptr; }

void* I2cOpen(void*, DWORD, DWORD) {
  I2cBus& bus = Bus();
  std::lock_guard<std::mutex> g(bus.lock);
  if (!bus.present) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  ++bus.openCount;
  return &bus;
}

BOOL I2cClose(void*) {
  std::lock_guard<std::mutex> g(Bus().lock);
  --Bus().openCount;
  return TRUE;
}

void RecordControl(const BoardI2cControl& c) {
  std::lock_guard<std::mutex> g(Bus().lock);
  Bus().controls.Push(c);
}

BOOL I2cIoctl(void*, DWORD code, void* in, DWORD inLen, void*, DWORD, DWORD* returned) {
  if (returned) *returned = 0;
  if (code == kI2cParam0 || code == kI2cParam1) {
    if (!in || inLen < sizeof(I2cRecord)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    I2cRecord rec;
    std::memcpy(&rec, in, sizeof rec);
    if (!rec.data || rec.length < 4) {
      SetLastError(ERROR_INVALID_PARAMETER);
      RecordControl({code, 0, 0, false});
      return FALSE;
    }
    DWORD value;
    std::memcpy(&value, rec.data, 4);
    RecordControl({code, value, 0, true});
    return TRUE;
  }
  if (code == kI2cMulti) {
    DWORD n = inLen / sizeof(I2cRecord);
    if (!in || n == 0 || n > kI2cMaxBatch || inLen % sizeof(I2cRecord) != 0) {
      SetLastError(ERROR_INVALID_PARAMETER);
      RecordControl({code, 0, n, false});
      return FALSE;
    }
    bool ok = true;
    for (DWORD i = 0; i < n && ok; ++i) {
      I2cRecord rec;
      std::memcpy(&rec, static_cast<uint8_t*>(in) + i * sizeof rec, sizeof rec);
      ok = ValidRecord(rec) && Transfer(rec, true);
    }
    RecordControl({code, 0, n, ok});
    if (!ok) SetLastError(ERROR_GEN_FAILURE);
    return ok ? TRUE : FALSE;
  }
  SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}

DWORD I2cRw(const void* buf, DWORD len, bool write) {
  if (!buf || len != sizeof(I2cRecord)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return DWORD(-1);
  }
  I2cRecord rec;
  std::memcpy(&rec, buf, sizeof rec);
  if (rec.direction != (write ? 1u : 2u) || !ValidRecord(rec)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return DWORD(-1);
  }
  if (!Transfer(rec, write)) {
    SetLastError(ERROR_GEN_FAILURE);
    return DWORD(-1);
  }
  return len;
}

DWORD I2cRead(void*, void* buf, DWORD len) { return I2cRw(buf, len, false); }
DWORD I2cWrite(void*, const void* buf, DWORD len) { return I2cRw(buf, len, true); }

// ---------------------------------------------------------------------------
// GPIO device

constexpr DWORD kGpioHigh = 0x220C00;
constexpr DWORD kGpioLow = 0x220C04;
constexpr DWORD kGpioConfig = 0x220C10;
constexpr size_t kGpioEvents = 100000;  // the latest drives kept

struct GpioDev {
  std::mutex lock;
  std::map<uint32_t, BoardGpioLine> lines;
  SimRing<BoardGpioEvent> events{kGpioEvents, 256};  // a torch program drives 96 edges
  bool present = true;
  bool failing = false;
  int openCount = 0;
};

GpioDev& Gpio() {
  static GpioDev* g = new GpioDev;
  return *g;
}

void* GpioOpen(void*, DWORD, DWORD) {
  GpioDev& d = Gpio();
  std::lock_guard<std::mutex> g(d.lock);
  if (!d.present) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  ++d.openCount;
  return &d;
}

BOOL GpioClose(void*) {
  std::lock_guard<std::mutex> g(Gpio().lock);
  --Gpio().openCount;
  return TRUE;
}

BOOL GpioIoctl(void*, DWORD code, void* in, DWORD inLen, void*, DWORD, DWORD* returned) {
  if (returned) *returned = 0;
  GpioDev& d = Gpio();
  if (code != kGpioHigh && code != kGpioLow && code != kGpioConfig) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  DWORD need = code == kGpioConfig ? 8 : 4;
  if (!in || inLen < need) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD words[2] = {0, 0};
  std::memcpy(words, in, need);
  std::lock_guard<std::mutex> g(d.lock);
  if (d.failing) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  BoardGpioLine& line = d.lines[words[0]];
  if (code == kGpioConfig) {
    line.configured = true;
    line.config = words[1];
    return TRUE;
  }
  if (!line.configured) ++line.unconfiguredDrives;
  int level = code == kGpioHigh ? 1 : 0;
  if (level && !line.level) ++line.rises;
  if (!level && line.level) ++line.falls;
  line.level = level;
  int64_t now = board::MonoNs();
  const board::LineWriter writer = board::CurrentLineWriter();
  d.events.Push({words[0], level, now}, !writer.realTime);
  board::LedOnLine(words[0], level, now, writer);
  return TRUE;
}

// ---------------------------------------------------------------------------
// Flash counter

uint32_t FlashRead(void*, uint32_t offset, volatile uint32_t* cell) {
  if (offset == kFlashCounterOffset) return BoardFlashCounter();
  return *cell;
}

// ---------------------------------------------------------------------------
// GPIO bank registers

constexpr uint32_t kBankMask[8] = {0xffff, 0x7ffffff, 0x1ffffff, 0x7ffffff, 0x1ff, 0x3ffff, 0x7fffffff, 0xfff};
// Banks 0, 2..7 in window 2 at these steps; bank 1 in window 3.
constexpr int kBankStep[8] = {0, -1, 4, 8, 12, 16, 20, 24};

struct Tlmm {
  std::mutex lock;
  uint32_t input[8] = {};
  std::vector<std::pair<int, std::pair<BoardTlmmObserver, void*>>> observers;
  int nextId = 1;
};

Tlmm& T() {
  static Tlmm* t = new Tlmm;
  return *t;
}

struct RegAt {
  int bank = -1;
  BoardTlmmRegister which = kTlmmOut;
};

// Which bank register lies at offset of TLMM window w (2 or 3).
RegAt Decode(int w, uint32_t offset) {
  RegAt r;
  if (w == 3) {
    if (offset == 0) r = {1, kTlmmOut};
    if (offset == 8) r = {1, kTlmmOutputEnable};
    if (offset == 32) r = {1, kTlmmIn};
    return r;
  }
  for (int b = 0; b < 8; ++b) {
    if (kBankStep[b] < 0) continue;
    if (offset == uint32_t(kBankStep[b])) r = {b, kTlmmOut};
    if (offset == 32u + kBankStep[b]) r = {b, kTlmmOutputEnable};
    if (offset == 80u + kBankStep[b]) r = {b, kTlmmIn};
  }
  return r;
}

volatile uint32_t* BankCell(int bank, BoardTlmmRegister which) {
  uint32_t off;
  int w;
  if (bank == 1) {
    w = 3;
    off = which == kTlmmOut ? 0 : which == kTlmmOutputEnable ? 8 : 32;
  } else {
    w = 2;
    off = uint32_t(kBankStep[bank]) + (which == kTlmmOut ? 0 : which == kTlmmOutputEnable ? 32 : 80);
  }
  auto* base = static_cast<uint8_t*>(ChipSimPhysToVirt(kTlmmWindowPhys[w], kTlmmWindowSize));
  return base ? reinterpret_cast<volatile uint32_t*>(base + off) : nullptr;
}

uint32_t PadLevels(int bank) {
  volatile uint32_t* out = BankCell(bank, kTlmmOut);
  volatile uint32_t* oe = BankCell(bank, kTlmmOutputEnable);
  uint32_t o = out ? *out : 0, e = oe ? *oe : 0;
  std::lock_guard<std::mutex> g(T().lock);
  return ((T().input[bank] & ~e) | (o & e)) & kBankMask[bank];
}

uint32_t TlmmRead(void* ctx, uint32_t offset, volatile uint32_t* cell) {
  RegAt r = Decode(int(reinterpret_cast<intptr_t>(ctx)), offset);
  if (r.bank >= 0 && r.which == kTlmmIn) return PadLevels(r.bank);
  return *cell;
}

void TlmmWrite(void* ctx, uint32_t offset, uint32_t value, volatile uint32_t* cell) {
  RegAt r = Decode(int(reinterpret_cast<intptr_t>(ctx)), offset);
  if (r.bank < 0) {
    *cell = value;
    return;
  }
  if (r.which == kTlmmIn) return;  // read-only
  uint32_t oldOut = *BankCell(r.bank, kTlmmOut);
  *cell = value & kBankMask[r.bank];
  uint32_t newOut = *BankCell(r.bank, kTlmmOut);
  uint32_t oe = *BankCell(r.bank, kTlmmOutputEnable);
  std::vector<std::pair<BoardTlmmObserver, void*>> obs;
  {
    std::lock_guard<std::mutex> g(T().lock);
    for (auto& o : T().observers) obs.push_back(o.second);
  }
  for (auto& o : obs) o.first(o.second, r.bank, oldOut, newOut, oe);
}

// ---------------------------------------------------------------------------
// Interrupts

std::mutex& IrqLock() {
  static std::mutex* m = new std::mutex;
  return *m;
}
std::map<DWORD, int>& LostIrqs() {
  static auto* m = new std::map<DWORD, int>;
  return *m;
}

void WriteBoardWord(uint16_t gpio) {
  auto* base = static_cast<uint8_t*>(ChipSimPhysToVirt(kBoardDescriptionPhys, 4096));
  if (base) std::memcpy(base + kBoardSelectedGpioOffset, &gpio, sizeof gpio);
}

std::once_flag gInitOnce;
BOOL gInitOk = FALSE;

__attribute__((constructor)) void LoadBoard() { BoardSimInit(); }
__attribute__((destructor)) void UnloadBoard() { board::SensorStopThread(); }

// The camera module's devices at power-on.
void ResetCameraModule() {
  board::ResetTime();
  board::LedReset();
  board::SceneReset();
  board::SensorReset();
}

}  // namespace

// ---------------------------------------------------------------------------

extern "C" BOOL BoardSimInit(void) {
  std::call_once(gInitOnce, [] {
    bool ok = true;
    static const CeSimDeviceOps i2cOps{I2cOpen, I2cClose, I2cIoctl, I2cRead, I2cWrite};
    static const CeSimDeviceOps gpioOps{GpioOpen, GpioClose, GpioIoctl, nullptr, nullptr};
    ok &= CeSimRegisterDevice(u"CI2C1:", &i2cOps, &Bus()) != FALSE;
    ok &= CeSimRegisterDevice(u"CGIO1:", &gpioOps, &Gpio()) != FALSE;

    ok &= ChipSimAddWindow(kBoardDescriptionPhys, 4096, nullptr, nullptr);
    static const ChipSimWindowHooks flashHooks{FlashRead, nullptr};
    ok &= ChipSimAddWindow(kFlashWindowPhys, 4096, &flashHooks, nullptr);
    ok &= ChipSimAddWindow(kVfeRegistersPhys, 4096, nullptr, nullptr);
    ok &= ChipSimAddWindow(kVfeInputRegisterPhys, 4096, nullptr, nullptr);
    ok &= ChipSimAddWindow(kSharedStatusPhys, kSharedStatusSize, nullptr, nullptr);
    static const ChipSimWindowHooks tlmmHooks{TlmmRead, TlmmWrite};
    for (int w = 0; w < 4; ++w)
      ok &= ChipSimAddWindow(kTlmmWindowPhys[w], kTlmmWindowSize, w >= 2 ? &tlmmHooks : nullptr,
                             reinterpret_cast<void*>(intptr_t(w)));
    {
      std::lock_guard<std::mutex> g(Bus().lock);
      Bus().slaves[kSensorSlave] = board::SensorDevice();
    }
    WriteBoardWord(255);
    board::SensorInit();
    board::LedReset();
    board::SceneReset();
    gInitOk = ok ? TRUE : FALSE;
  });
  return gInitOk;
}

extern "C" void BoardSimReset(void) {
  BoardSimInit();
  {
    I2cBus& bus = Bus();
    std::lock_guard<std::mutex> g(bus.lock);
    bus.slaves.clear();
    bus.slaves[kSensorSlave] = board::SensorDevice();
    bus.transfers.Clear();
    bus.controls.Clear();
    bus.present = true;
    bus.noAnswer = false;
    bus.nackNext = 0;
  }
  {
    GpioDev& d = Gpio();
    std::lock_guard<std::mutex> g(d.lock);
    d.lines.clear();
    d.events.Clear();
    d.present = true;
    d.failing = false;
  }
  for (int b = 0; b < 8; ++b) {
    *BankCell(b, kTlmmOut) = 0;
    *BankCell(b, kTlmmOutputEnable) = 0;
  }
  {
    std::lock_guard<std::mutex> g(T().lock);
    std::memset(T().input, 0, sizeof T().input);
  }
  {
    std::lock_guard<std::mutex> g(IrqLock());
    LostIrqs().clear();
  }
  WriteBoardWord(255);
  ResetCameraModule();
}

void BoardI2cAttach(uint8_t slave, std::shared_ptr<BoardI2cDevice> device) {
  std::lock_guard<std::mutex> g(Bus().lock);
  if (device)
    Bus().slaves[slave] = std::move(device);
  else
    Bus().slaves.erase(slave);
}

void BoardI2cDetach(uint8_t slave) {
  std::lock_guard<std::mutex> g(Bus().lock);
  Bus().slaves.erase(slave);
}

std::shared_ptr<BoardI2cDevice> BoardI2cDeviceAt(uint8_t slave) {
  std::lock_guard<std::mutex> g(Bus().lock);
  auto it = Bus().slaves.find(slave);
  return it == Bus().slaves.end() ? nullptr : it->second;
}

std::vector<BoardI2cTransfer> BoardI2cTransfers() {
  std::lock_guard<std::mutex> g(Bus().lock);
  return Bus().transfers.Snapshot();
}

std::vector<BoardI2cControl> BoardI2cControls() {
  std::lock_guard<std::mutex> g(Bus().lock);
  return Bus().controls.Snapshot();
}

void BoardI2cClearRecords() {
  std::lock_guard<std::mutex> g(Bus().lock);
  Bus().transfers.Clear();
  Bus().controls.Clear();
}

void BoardI2cSetPresent(bool present) {
  std::lock_guard<std::mutex> g(Bus().lock);
  Bus().present = present;
}

void BoardI2cSetNoAnswer(bool noAnswer) {
  std::lock_guard<std::mutex> g(Bus().lock);
  Bus().noAnswer = noAnswer;
}

void BoardI2cNackNext(int count) {
  std::lock_guard<std::mutex> g(Bus().lock);
  Bus().nackNext = count < 0 ? 0 : count;
}

int BoardI2cOpenCount() {
  std::lock_guard<std::mutex> g(Bus().lock);
  return Bus().openCount;
}

BoardGpioLine BoardGpioLineState(uint32_t line) {
  std::lock_guard<std::mutex> g(Gpio().lock);
  auto it = Gpio().lines.find(line);
  return it == Gpio().lines.end() ? BoardGpioLine{} : it->second;
}

std::vector<BoardGpioEvent> BoardGpioEvents() {
  std::lock_guard<std::mutex> g(Gpio().lock);
  return Gpio().events.Snapshot();
}

void BoardGpioClearRecords() {
  std::lock_guard<std::mutex> g(Gpio().lock);
  Gpio().events.Clear();
  for (auto& [n, line] : Gpio().lines) {
    line.rises = line.falls = line.unconfiguredDrives = 0;
  }
}

void BoardGpioSetPresent(bool present) {
  std::lock_guard<std::mutex> g(Gpio().lock);
  Gpio().present = present;
}

void BoardGpioSetFailing(bool failing) {
  std::lock_guard<std::mutex> g(Gpio().lock);
  Gpio().failing = failing;
}

int BoardGpioOpenCount() {
  std::lock_guard<std::mutex> g(Gpio().lock);
  return Gpio().openCount;
}

void BoardSetSelectedGpio(uint16_t gpio) { WriteBoardWord(gpio); }

uint32_t BoardFlashCounter(void) {
  return uint32_t(uint64_t(board::MonoNs()) / (1000000000ull / kFlashCounterHz));
}

uint32_t BoardTlmmRead(int bank, BoardTlmmRegister which) {
  if (bank < 0 || bank > 7) return 0;
  if (which == kTlmmIn) return PadLevels(bank);
  volatile uint32_t* c = BankCell(bank, which);
  return c ? *c : 0;
}

void BoardTlmmSetInput(int bank, uint32_t bits) {
  if (bank < 0 || bank > 7) return;
  std::lock_guard<std::mutex> g(T().lock);
  T().input[bank] = bits & kBankMask[bank];
}

int BoardTlmmAddObserver(BoardTlmmObserver observer, void* context) {
  if (!observer) return 0;
  std::lock_guard<std::mutex> g(T().lock);
  int id = T().nextId++;
  T().observers.push_back({id, {observer, context}});
  return id;
}

void BoardTlmmRemoveObserver(int id) {
  std::lock_guard<std::mutex> g(T().lock);
  auto& o = T().observers;
  for (auto it = o.begin(); it != o.end(); ++it) {
    if (it->first == id) {
      o.erase(it);
      return;
    }
  }
}

extern "C" BOOL BoardRaiseInterrupt(DWORD line) {
  {
    std::lock_guard<std::mutex> g(IrqLock());
    auto it = LostIrqs().find(line);
    if (it != LostIrqs().end() && it->second > 0) {
      --it->second;
      return FALSE;
    }
  }
  return CeSimRaiseInterrupt(line);
}

void BoardLoseInterrupts(DWORD line, int count) {
  std::lock_guard<std::mutex> g(IrqLock());
  LostIrqs()[line] = count < 0 ? 0 : count;
}

void BoardSetCameraTestMode(bool on) {
  auto* word = static_cast<volatile uint32_t*>(ChipSimPhysToVirt(kSharedStatusPhys + kSharedStatusTestModeOffset, 4));
  if (word) *word = on ? 1u : 0u;
}
