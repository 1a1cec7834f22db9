// The chipset GPIO driver over the GPIO bank registers.
#include <gtest/gtest.h>

#include <vector>

#include "board_sim.h"
#include "chipset_sim.h"
#include "tlmm_gpio.h"

namespace {

class TlmmGpioTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BoardSimReset();
    ChipSimClearMessages();
    ChipSimTakeTrace();
  }
  static void Trace(bool on) {
    for (uint32_t w : kTlmmWindowPhys) ChipSimTraceWindow(w, on);
  }
};

TEST_F(TlmmGpioTest, OutputSetsOnlyItsBitInItsBank) {
  gpio_out(600, 1);  // GPIO 144: bank 6 starts at 122
  EXPECT_EQ(BoardTlmmRead(6, kTlmmOut), 1u << 22);
  for (int b = 0; b < 8; ++b) {
    if (b != 6) {
      EXPECT_EQ(BoardTlmmRead(b, kTlmmOut), 0u) << b;
    }
  }
  gpio_out(588, 1);  // GPIO 142 in the same bank: the other bit stays
  EXPECT_EQ(BoardTlmmRead(6, kTlmmOut), (1u << 22) | (1u << 20));
  gpio_out(600, 0);
  EXPECT_EQ(BoardTlmmRead(6, kTlmmOut), 1u << 20);
}

TEST_F(TlmmGpioTest, ConfigurationAppliesOutputEnableAndDrive) {
  BoardTlmmSetInput(0, 0);
  gpio_out(92, 1);  // GPIO 15's output bit, set beforehand
  gpio_tlmm_config(92);  // 0x10f10: output enabled, drive left alone
  EXPECT_EQ(BoardTlmmRead(0, kTlmmOutputEnable), 1u << 15);
  EXPECT_EQ(BoardTlmmRead(0, kTlmmOut), 1u << 15);
  EXPECT_EQ(gpio_shadow_config(15), 0x10f10u);
  EXPECT_EQ(gpio_shadow_config(16), 0x2ff10u);  // untouched GPIOs keep the initial word
  // A word that drives low clears the output bit.
  gpio_out(600, 1);
  gpio_tlmm_config(600);
  EXPECT_EQ(BoardTlmmRead(6, kTlmmOutputEnable), 1u << 22);
  EXPECT_EQ(BoardTlmmRead(6, kTlmmOut), 0u);
}

TEST_F(TlmmGpioTest, BankOneHasItsOwnWindow) {
  gpio_out(101, 1);  // GPIO 17: bank 1, bit 1
  EXPECT_EQ(BoardTlmmRead(1, kTlmmOut), 1u << 1);
  EXPECT_EQ(gpio_in(101), 0u);  // not an output: the pad reads the test's level
  BoardTlmmSetInput(1, 1u << 1);
  EXPECT_EQ(gpio_in(101), 1u);
  BoardTlmmSetInput(1, ~(1u << 1));
  EXPECT_EQ(gpio_in(101), 0u);
}

TEST_F(TlmmGpioTest, UnmappedSignalsTouchNoRegisterAndAreReported) {
  Trace(true);
  gpio_tlmm_config(684);
  gpio_out(684, 1);
  EXPECT_EQ(gpio_in(684), 0u);
  gpio_out(5000, 1);  // beyond the table
  gpio_out(7, 1);     // a signal without a pin on this board
  Trace(false);
  EXPECT_TRUE(ChipSimTakeTrace().empty());
  auto m = ChipSimMessages();
  ASSERT_EQ(m.size(), 4u);
  EXPECT_EQ(m[0].text, "gpio_tlmm_config:  GPIO does not have a mapping.");
  EXPECT_EQ(m[1].text, "gpio_out():  GPIO Client or Signal is invalid.");
  EXPECT_EQ(m[2].text, "gpio_in():  Cannot read GPIO (may be invalid).");
  EXPECT_EQ(m[0].kind, 3);
}

// Whether the interrupt lock was held while a bank register was written.
void NoteLockAtWrite(void* context, int, uint32_t, uint32_t, uint32_t) {
  static_cast<std::vector<bool>*>(context)->push_back(ChipSimIntLockHeldByCaller());
}

TEST_F(TlmmGpioTest, ReadModifyWriteRunsUnderTheInterruptLock) {
  std::vector<bool> lockedAtWrite;
  const int observer = BoardTlmmAddObserver(NoteLockAtWrite, &lockedAtWrite);
  Trace(true);
  gpio_out(600, 1);
  gpio_tlmm_config(600);
  Trace(false);
  BoardTlmmRemoveObserver(observer);
  EXPECT_EQ(lockedAtWrite, (std::vector<bool>{true, true, true}));  // the output, then enable and drive
  ChipSimTakeTrace();
  Trace(true);
  gpio_out(600, 1);
  Trace(false);
  auto t = ChipSimTakeTrace();
  ASSERT_EQ(t.size(), 2u);  // one read, one write
  EXPECT_FALSE(t[0].write);
  EXPECT_TRUE(t[1].write);
  EXPECT_EQ(t[1].physical, kTlmmWindowPhys[2] + 20);
  EXPECT_FALSE(ChipSimIntLockHeldByCaller());
  // Held by the caller already: the driver neither blocks nor releases it.
  ASSERT_EQ(chip_int_lock(), 0);
  gpio_out(600, 0);
  EXPECT_TRUE(ChipSimIntLockHeldByCaller());
  chip_int_free();
}

TEST(TlmmTables, GpioNumbersMapToTheirSignals) {
  const struct {
    uint32_t gpio, signal;
  } cases[] = {{15, 92}, {17, 101}, {27, 143}, {33, 159}, {142, 588}, {143, 594}, {144, 600},
               {0, GPIO_NO_MAPPING}, {164, GPIO_NO_MAPPING}, {165, GPIO_NO_MAPPING}, {255, GPIO_NO_MAPPING}};
  for (const auto& c : cases) EXPECT_EQ(gpio_default_signal(c.gpio), c.signal) << c.gpio;
  EXPECT_EQ(gpio_signal_config(92), 0x10f10u);
  EXPECT_EQ((gpio_signal_config(600) >> 8) & 0xff, 144u);
  EXPECT_EQ(gpio_signal_config(684), 0u);
}

}  // namespace
