// Interrupt lines: raise, mask until done, pending raises.
#include <gtest/gtest.h>

#include "wince.h"
#include "wince_sim.h"

namespace {

constexpr DWORD kVfeIrq = 70;

class Interrupts : public ::testing::Test {
 protected:
  void SetUp() override {
    ev = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_TRUE(InterruptInitialize(kVfeIrq, ev, nullptr, 0));
  }
  void TearDown() override {
    InterruptDisable(kVfeIrq);
    CloseHandle(ev);
  }
  HANDLE ev = nullptr;
};

TEST_F(Interrupts, RaiseSetsTheEventAndMasksUntilDone) {
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(CeSimRaiseInterrupt(kVfeIrq));
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(CeSimInterruptMasked(kVfeIrq));
  // Raised again while masked: held back, not lost.
  EXPECT_TRUE(CeSimRaiseInterrupt(kVfeIrq));
  EXPECT_TRUE(CeSimRaiseInterrupt(kVfeIrq));   // two raises while masked are one interrupt
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(CeSimInterruptPending(kVfeIrq));
  InterruptDone(kVfeIrq);
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(CeSimInterruptMasked(kVfeIrq));
  EXPECT_FALSE(CeSimInterruptPending(kVfeIrq));
  InterruptDone(kVfeIrq);
  EXPECT_FALSE(CeSimInterruptMasked(kVfeIrq));
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT);
}

TEST_F(Interrupts, AnInterruptThreadServesEachRaise) {
  struct Ctx {
    HANDLE ev;
    HANDLE served;
    HANDLE stop;
  } ctx{ev, CreateEventW(nullptr, FALSE, FALSE, nullptr), CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  HANDLE th = CreateThread(
      nullptr, 0,
      [](LPVOID p) -> DWORD {
        auto* c = static_cast<Ctx*>(p);
        HANDLE both[] = {c->stop, c->ev};
        for (;;) {
          DWORD w = WaitForMultipleObjects(2, both, FALSE, INFINITE);
          if (w != WAIT_OBJECT_0 + 1) return 0;
          InterruptDone(kVfeIrq);
          SetEvent(c->served);
        }
      },
      &ctx, 0, nullptr);
  for (int i = 0; i < 5; ++i) {
    EXPECT_TRUE(CeSimRaiseInterrupt(kVfeIrq));
    EXPECT_EQ(WaitForSingleObject(ctx.served, 10000), WAIT_OBJECT_0);
  }
  SetEvent(ctx.stop);
  EXPECT_EQ(WaitForSingleObject(th, 10000), WAIT_OBJECT_0);
  CloseHandle(th);
  CloseHandle(ctx.served);
  CloseHandle(ctx.stop);
}

TEST_F(Interrupts, DisabledLineDropsRaisesAndCanBeInitialisedAgain) {
  InterruptDisable(kVfeIrq);
  EXPECT_FALSE(CeSimRaiseInterrupt(kVfeIrq));
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(InterruptInitialize(kVfeIrq, ev, nullptr, 0));
  EXPECT_TRUE(CeSimRaiseInterrupt(kVfeIrq));
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_OBJECT_0);
}

TEST(InterruptErrors, BadEventsAndDoubleBinding) {
  SetLastError(0);
  EXPECT_FALSE(InterruptInitialize(71, nullptr, nullptr, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  HANDLE ev = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  ASSERT_TRUE(InterruptInitialize(71, ev, nullptr, 0));
  EXPECT_FALSE(InterruptInitialize(71, ev, nullptr, 0));
  InterruptDone(99);   // a line nobody set up: no effect
  InterruptDisable(71);
  CloseHandle(ev);
}

TEST(InterruptErrors, RaiseBeforeInitialiseIsDeliveredAtInitialise) {
  static DWORD line = 200;   // a line never used before, also when the test repeats
  ++line;
  EXPECT_TRUE(CeSimRaiseInterrupt(line));
  HANDLE ev = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  ASSERT_TRUE(InterruptInitialize(line, ev, nullptr, 0));
  EXPECT_EQ(WaitForSingleObject(ev, 0), WAIT_OBJECT_0);
  InterruptDisable(line);
  CloseHandle(ev);
}

}  // namespace
