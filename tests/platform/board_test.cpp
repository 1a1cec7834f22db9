// The board's devices as a driver reaches them: the I2C bus, the GPIO device,
// the board description, the flash counter, the GPIO bank registers and the
// interrupt line.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "board_sensor.h"
#include "board_sim.h"
#include "camera_module_power.h"
#include "chipset_sim.h"
#include "wince_sim.h"

namespace {

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
#endif

class BoardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BoardSimReset();
    ASSERT_TRUE(camera::test::PowerUpCameraModule());
  }
  void TearDown() override {
    if (i2c_ != INVALID_HANDLE_VALUE) CloseHandle(i2c_);
    if (gpio_ != INVALID_HANDLE_VALUE) CloseHandle(gpio_);
    BoardSimReset();
  }
  HANDLE OpenI2c() {
    i2c_ = CreateFileW(u"CI2C1:", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
    return i2c_;
  }
  HANDLE OpenGpio() {
    gpio_ = CreateFileW(u"CGIO1:", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    return gpio_;
  }
  static I2cRecord Record(uint8_t slave, uint16_t reg, uint8_t* data, uint16_t len, uint32_t direction) {
    I2cRecord r{};
    r.slave = slave;
    r.flags = 0x22;
    r.direction = direction;
    r.data = data;
    r.reg = reg;
    r.length = len;
    return r;
  }
  bool Read(uint8_t slave, uint16_t reg, uint8_t* data, uint16_t len) {
    I2cRecord r = Record(slave, reg, data, len, 2);
    DWORD got = 0;
    return ReadFile(i2c_, &r, sizeof r, &got, nullptr) && got == sizeof r;
  }
  bool Write(uint8_t slave, uint16_t reg, uint8_t* data, uint16_t len) {
    I2cRecord r = Record(slave, reg, data, len, 1);
    DWORD put = 0;
    return WriteFile(i2c_, &r, sizeof r, &put, nullptr) && put == sizeof r;
  }
  BOOL Gpio(DWORD code, std::vector<uint32_t> in) {
    DWORD ret = 0;
    return DeviceIoControl(gpio_, code, in.data(), DWORD(in.size() * 4), nullptr, 0, &ret, nullptr);
  }

  HANDLE i2c_ = INVALID_HANDLE_VALUE;
  HANDLE gpio_ = INVALID_HANDLE_VALUE;
};

TEST_F(BoardTest, SensorAnswersItsChipIdentifierHighByteFirst) {
  ASSERT_NE(OpenI2c(), INVALID_HANDLE_VALUE);
  uint8_t id[2] = {};
  ASSERT_TRUE(Read(kSensorSlave, 0, id, 2));
  EXPECT_EQ(id[0], 0x3E);
  EXPECT_EQ(id[1], 0x2F);
  // Registers store what is written; the identifier does not change.
  uint8_t v[2] = {0x12, 0x34};
  ASSERT_TRUE(Write(kSensorSlave, 0x0000, v, 2));
  ASSERT_TRUE(Write(kSensorSlave, 0x0340, v, 2));
  uint8_t back[2] = {};
  ASSERT_TRUE(Read(kSensorSlave, 0x0340, back, 2));
  EXPECT_EQ(back[1], 0x34);
  ASSERT_TRUE(Read(kSensorSlave, 0, id, 2));
  EXPECT_EQ(id[0], 0x3E);
  auto t = BoardI2cTransfers();
  ASSERT_FALSE(t.empty());
  EXPECT_EQ(t.back().slave, kSensorSlave);
  EXPECT_EQ(t.back().flags, 0x22u);
}

// The transfer record keeps the latest transfers, oldest first, however long
// the run: a full record costs no more per transfer than an empty one.
TEST_F(BoardTest, TheTransferRecordKeepsTheLatestTransfersInOrder) {
  ASSERT_NE(OpenI2c(), INVALID_HANDLE_VALUE);
  BoardI2cClearRecords();
  const size_t extra = 3;
  for (size_t i = 0; i < kBoardI2cLogCapacity + extra; ++i) {
    uint8_t v[2] = {uint8_t(i >> 8), uint8_t(i)};
    ASSERT_TRUE(Write(kSensorSlave, 0x0340, v, 2));
  }
  auto t = BoardI2cTransfers();
  ASSERT_EQ(t.size(), kBoardI2cLogCapacity);
  auto number = [](const BoardI2cTransfer& x) { return size_t(x.data.at(0)) << 8 | x.data.at(1); };
  EXPECT_EQ(number(t.front()), extra & 0xFFFF);
  EXPECT_EQ(number(t.back()), (kBoardI2cLogCapacity + extra - 1) & 0xFFFF);
  for (size_t i = 1; i < t.size(); ++i) ASSERT_EQ(number(t[i]), (number(t[i - 1]) + 1) & 0xFFFF) << i;
  BoardI2cClearRecords();
  EXPECT_TRUE(BoardI2cTransfers().empty());
}

TEST_F(BoardTest, BusFaultsAreSeenByTheDriver) {
  uint8_t id[2] = {};
  // No device at another address.
  ASSERT_NE(OpenI2c(), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(Read(0x21, 0, id, 2));
  // Wrong identifier.
  BoardSensorSetChipId(0x1234);
  ASSERT_TRUE(Read(kSensorSlave, 0, id, 2));
  EXPECT_EQ(id[0], 0x12);
  // No answer at all, then the next two transfers only.
  BoardI2cSetNoAnswer(true);
  EXPECT_FALSE(Read(kSensorSlave, 0, id, 2));
  BoardI2cSetNoAnswer(false);
  BoardI2cNackNext(2);
  EXPECT_FALSE(Read(kSensorSlave, 0, id, 2));
  EXPECT_FALSE(Read(kSensorSlave, 0, id, 2));
  EXPECT_TRUE(Read(kSensorSlave, 0, id, 2));
  int refused = 0;
  for (const BoardI2cTransfer& t : BoardI2cTransfers()) refused += t.ack ? 0 : 1;
  EXPECT_EQ(refused, 4);
  // The bus itself missing.
  BoardI2cSetPresent(false);
  HANDLE h = CreateFileW(u"CI2C1:", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_TRUE(h == INVALID_HANDLE_VALUE || h == nullptr);
}

TEST_F(BoardTest, MalformedTransfersAreRefused) {
  ASSERT_NE(OpenI2c(), INVALID_HANDLE_VALUE);
  uint8_t data[2] = {};
  I2cRecord r = Record(kSensorSlave, 0, data, 2, 2);
  DWORD got = 0;
  EXPECT_FALSE(ReadFile(i2c_, &r, 35, &got, nullptr));  // short record
  r.direction = 1;
  EXPECT_FALSE(ReadFile(i2c_, &r, sizeof r, &got, nullptr));  // a write record read
  r.direction = 2;
  r.data = nullptr;
  EXPECT_FALSE(ReadFile(i2c_, &r, sizeof r, &got, nullptr));  // no buffer
  DWORD ret = 0;
  EXPECT_FALSE(DeviceIoControl(i2c_, 0x123, nullptr, 0, nullptr, 0, &ret, nullptr));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_SUPPORTED));
}

TEST_F(BoardTest, BusParametersAndMultiWritesAreApplied) {
  ASSERT_NE(OpenI2c(), INVALID_HANDLE_VALUE);
  uint32_t value = 100;
  I2cRecord p = Record(0, 0, reinterpret_cast<uint8_t*>(&value), 4, 0);
  DWORD ret = 0;
  ASSERT_TRUE(DeviceIoControl(i2c_, 0x220C04, &p, sizeof p, nullptr, 0, &ret, nullptr));
  uint8_t bytes[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  I2cRecord batch[9];
  for (int i = 0; i < 9; ++i) batch[i] = Record(kSensorSlave, uint16_t(0x100 + i), &bytes[i], 1, 1);
  EXPECT_TRUE(DeviceIoControl(i2c_, 0x220C24, batch, 8 * sizeof(I2cRecord), nullptr, 0, &ret, nullptr));
  EXPECT_FALSE(DeviceIoControl(i2c_, 0x220C24, batch, 9 * sizeof(I2cRecord), nullptr, 0, &ret, nullptr));
  EXPECT_FALSE(DeviceIoControl(i2c_, 0x220C24, batch, sizeof(I2cRecord) + 4, nullptr, 0, &ret, nullptr));
  uint8_t back = 0;
  ASSERT_TRUE(Read(kSensorSlave, 0x107, &back, 1));
  EXPECT_EQ(back, 8);
  auto c = BoardI2cControls();
  ASSERT_EQ(c.size(), 4u);
  EXPECT_EQ(c[0].value, 100u);
  EXPECT_EQ(c[1].records, 8u);
  EXPECT_TRUE(c[1].ok);
  EXPECT_FALSE(c[2].ok);
}

TEST_F(BoardTest, ASlaveModelCanReplaceTheSensorModel) {
  struct Echo : BoardI2cDevice {
    bool Write(uint16_t reg, const uint8_t*, uint16_t) override {
      last = reg;
      return true;
    }
    bool Read(uint16_t, uint8_t* data, uint16_t length) override {
      std::memset(data, 0x5A, length);
      return true;
    }
    uint16_t last = 0;
  };
  auto echo = std::make_shared<Echo>();
  BoardI2cAttach(kSensorSlave, echo);
  ASSERT_NE(OpenI2c(), INVALID_HANDLE_VALUE);
  uint8_t b[2] = {};
  ASSERT_TRUE(Read(kSensorSlave, 0, b, 2));
  EXPECT_EQ(b[0], 0x5A);
  ASSERT_TRUE(Write(kSensorSlave, 0x3130, b, 1));
  EXPECT_EQ(echo->last, 0x3130);
  BoardI2cDetach(kSensorSlave);
  EXPECT_FALSE(Read(kSensorSlave, 0, b, 2));
}

TEST_F(BoardTest, GpioDeviceRecordsLevelsAndPulses) {
  ASSERT_NE(OpenGpio(), INVALID_HANDLE_VALUE);
  EXPECT_TRUE(Gpio(0x220C10, {159, 0x9000}));
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(Gpio(0x220C04, {159}));
    EXPECT_TRUE(Gpio(0x220C00, {159}));
  }
  EXPECT_TRUE(Gpio(0x220C00, {143}));  // never configured
  BoardGpioLine torch = BoardGpioLineState(159);
  EXPECT_TRUE(torch.configured);
  EXPECT_EQ(torch.config, 0x9000u);
  EXPECT_EQ(torch.level, 1);
  EXPECT_EQ(torch.rises, 3u);
  EXPECT_EQ(torch.falls, 2u);  // it started low
  BoardGpioLine flash = BoardGpioLineState(143);
  EXPECT_EQ(flash.level, 1);
  EXPECT_EQ(flash.unconfiguredDrives, 1u);
  EXPECT_EQ(BoardGpioEvents().size(), 7u);
}

// The drive log keeps the latest 100,000 drives in order, and a real-time
// writer (the torch's pulse writer) logs its drives into memory already written,
// so it never pays for a fresh page between two pulses.
TEST_F(BoardTest, GpioDriveLogKeepsTheLatestInOrderAndSparesRealTimeWritersFreshMemory) {
  ASSERT_NE(OpenGpio(), INVALID_HANDLE_VALUE);
  constexpr uint32_t kLine = 30;  // no LED behind it
  const auto drive = [this](uint32_t line, bool high) {
    DWORD ret = 0;
    return DeviceIoControl(gpio_, high ? 0x220C00 : 0x220C04, &line, sizeof line, nullptr, 0, &ret, nullptr) != FALSE;
  };
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(drive(kLine, i % 2 == 0));
  BoardGpioClearRecords();
  ASSERT_TRUE(drive(kLine, true));
  ASSERT_TRUE(drive(kLine, false));
  auto events = BoardGpioEvents();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].level, 1);
  EXPECT_EQ(events[1].level, 0);

  bool realTime = false;
  long faults = -1;
  std::thread writer([&] {
    drive(kLine, true);  // code and stack in place, as the driver's thread has them
    sched_param p{};
    p.sched_priority = 1;
    realTime = pthread_setschedparam(pthread_self(), SCHED_FIFO, &p) == 0;
    if (!realTime) return;
    drive(kLine, false);  // the real-time path's own code in place
    rusage before{}, after{};
    getrusage(RUSAGE_THREAD, &before);
    for (int i = 0; i < 96; ++i) drive(kLine, i % 2 == 0);  // a torch program's edges
    getrusage(RUSAGE_THREAD, &after);
    p.sched_priority = 0;
    pthread_setschedparam(pthread_self(), SCHED_OTHER, &p);
    faults = (after.ru_minflt + after.ru_majflt) - (before.ru_minflt + before.ru_majflt);
  });
  writer.join();
  if (realTime) {
    EXPECT_EQ(faults, 0);
  }
  // Past the capacity the oldest go, and the rest stay in order.
  for (int i = 0; i < 100000; ++i) ASSERT_TRUE(drive(kLine, i % 2 != 0));
  events = BoardGpioEvents();
  ASSERT_EQ(events.size(), 100000u);
  EXPECT_EQ(events.front().level, 0);
  EXPECT_EQ(events.back().level, 1);
  for (size_t i = 1; i < events.size(); ++i) ASSERT_LE(events[i - 1].timeNs, events[i].timeNs) << i;
}

TEST_F(BoardTest, GpioDeviceRefusesBadRequestsAndCanFail) {
  ASSERT_NE(OpenGpio(), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(Gpio(0x220C10, {159}));  // short configuration
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_FALSE(Gpio(0x220C08, {159}));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_SUPPORTED));
  BoardGpioSetFailing(true);
  EXPECT_FALSE(Gpio(0x220C00, {159}));
  EXPECT_EQ(BoardGpioLineState(159).level, 0);
  BoardGpioSetPresent(false);
  HANDLE h = CreateFileW(u"CGIO1:", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_TRUE(h == INVALID_HANDLE_VALUE || h == nullptr);
}

TEST_F(BoardTest, BoardDescriptionNamesNoSignalUntilSet) {
  auto* board = static_cast<volatile uint8_t*>(get_virtual_address(kBoardDescriptionPhys, 4096));
  ASSERT_NE(board, nullptr);
  EXPECT_EQ(chip_reg_read32(board + kBoardSelectedGpioOffset) & 0xFFFF, 255u);
  BoardSetSelectedGpio(144);
  EXPECT_EQ(chip_reg_read32(board + kBoardSelectedGpioOffset) & 0xFFFF, 144u);
}

TEST_F(BoardTest, FlashCounterRunsAtOneMegahertz) {
  auto* flash = static_cast<volatile uint8_t*>(get_virtual_address(kFlashWindowPhys, 4096));
  ASSERT_NE(flash, nullptr);
  uint32_t a = chip_reg_read32(flash + kFlashCounterOffset);
  Sleep(3);
  uint32_t b = chip_reg_read32(flash + kFlashCounterOffset);
  EXPECT_GE(b - a, 2000u);
  EXPECT_LT(b - a, 5000000u);
}

TEST_F(BoardTest, GpioBankRegistersKeepValidBitsAndReadThePads) {
  auto* w2 = static_cast<volatile uint8_t*>(get_virtual_address(kTlmmWindowPhys[2], kTlmmWindowSize));
  auto* w3 = static_cast<volatile uint8_t*>(get_virtual_address(kTlmmWindowPhys[3], kTlmmWindowSize));
  ASSERT_NE(w2, nullptr);
  ASSERT_NE(w3, nullptr);
  struct Seen {
    int bank = -1;
    uint32_t newOut = 0;
  } seen;
  int id = BoardTlmmAddObserver(
      [](void* ctx, int bank, uint32_t, uint32_t newOut, uint32_t) {
        static_cast<Seen*>(ctx)->bank = bank;
        static_cast<Seen*>(ctx)->newOut = newOut;
      },
      &seen);
  chip_reg_write32(w2 + 20, 0xFFFFFFFF);  // bank 6 output: 31 valid bits
  EXPECT_EQ(BoardTlmmRead(6, kTlmmOut), 0x7FFFFFFFu);
  EXPECT_EQ(seen.bank, 6);
  EXPECT_EQ(seen.newOut, 0x7FFFFFFFu);
  BoardTlmmRemoveObserver(id);
  // Bank 1 lives in its own window: pads read the test's levels unless driven.
  BoardTlmmSetInput(1, 0x2);
  EXPECT_EQ(chip_reg_read32(w3 + 32), 0x2u);
  chip_reg_write32(w3 + 8, 0x4);  // output enable of bit 2
  chip_reg_write32(w3 + 0, 0x4);
  EXPECT_EQ(chip_reg_read32(w3 + 32), 0x6u);
  chip_reg_write32(w3 + 32, 0);  // the input register is read-only
  EXPECT_EQ(chip_reg_read32(w3 + 32), 0x6u);
}

TEST_F(BoardTest, InterruptLineSetsTheBoundEventAndCanBeLost) {
  HANDLE ev = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  ASSERT_NE(ev, nullptr);
  ASSERT_TRUE(InterruptInitialize(kVfeInterrupt, ev, nullptr, 0));
  EXPECT_TRUE(BoardRaiseInterrupt(kVfeInterrupt));
  EXPECT_EQ(WaitForSingleObject(ev, 10000), WAIT_OBJECT_0);
  InterruptDone(kVfeInterrupt);
  BoardLoseInterrupts(kVfeInterrupt, 1);
  EXPECT_FALSE(BoardRaiseInterrupt(kVfeInterrupt));
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(BoardRaiseInterrupt(kVfeInterrupt));
  EXPECT_EQ(WaitForSingleObject(ev, 10000), WAIT_OBJECT_0);
  InterruptDone(kVfeInterrupt);
  InterruptDisable(kVfeInterrupt);
  CloseHandle(ev);
}

}  // namespace
