// VFE clocks, input selection and the interrupt thread.
#include <atomic>

#include "plindor_fixture.h"

namespace {

class VfeClockTest : public PlindorTest {};

TEST_F(VfeClockTest, CommonSetUpSelectsTheClockByType) {
  const uint32_t expected[] = {1, 2, 3, 4, 5, 5, 5, 5};
  for (uint32_t type = 0; type < 8; ++type) {
    ChipSimClearCalls();
    EXPECT_EQ(vfe_config_clks_common(type), 1);
    auto calls = ChipSimCalls();
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(CallNames(), (std::vector<std::string>{"clk_regime_krs_enable", "clk_regime_krs_enable",
                                                     "clk_regime_sel_vfe_clk", "clk_regime_krs_enable",
                                                     "clk_regime_krs_enable"}));
    EXPECT_EQ(calls[0].args[0], 24u);
    EXPECT_EQ(calls[1].args[0], 41u);
    EXPECT_EQ(calls[2].args[0], expected[type]) << type;
    EXPECT_EQ(calls[3].args[0], 40u);
    EXPECT_EQ(calls[4].args[0], 53u);
  }
}

TEST_F(VfeClockTest, UnconfigureUndoesInReverseAndRestoresTheCameraClock) {
  vfe_config_clks_common(4);
  ChipSimClearCalls();
  EXPECT_EQ(vfe_unconfig_clks(), 1);
  auto calls = ChipSimCalls();
  ASSERT_EQ(calls.size(), 6u);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(calls[i].name, "clk_regime_krs_disable");
  EXPECT_EQ(calls[0].args[0], 53u);
  EXPECT_EQ(calls[1].args[0], 40u);
  EXPECT_EQ(calls[2].args[0], 41u);
  EXPECT_EQ(calls[3].args[0], 24u);
  EXPECT_EQ(calls[4].name, "clk_regime_sel_vfe_src");
  EXPECT_EQ(calls[4].args[0], 0u);
  EXPECT_EQ(calls[5].name, "clk_regime_krs_sel_camclk");
  EXPECT_EQ(calls[5].args[0], 19200000u);
  EXPECT_TRUE(ChipSimClocks().enabledRegimes.empty());
}

TEST_F(VfeClockTest, SensorInputPulsesTheResetBitAroundTheSelection) {
  auto* input = static_cast<volatile uint8_t*>(get_virtual_address(0xaa500000, 4096));
  ASSERT_NE(input, nullptr);
  struct Case {
    const char* name;
    int (*select)();
    uint32_t inputBits;
    uint32_t source;
  } cases[] = {{"sensor", vfe_config_clks_sensor, 0x60002, 1}, {"test generator", vfe_config_clks_testgen, 0x60080, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    chip_reg_write32(input, 0xFFFFFFFF);
    ChipSimTraceWindow(0xaa500000, true);
    ChipSimTakeTrace();
    ChipSimClearCalls();
    EXPECT_EQ(c.select(), 1);
    ChipSimTraceWindow(0xaa500000, false);
    std::vector<uint32_t> writes;
    for (const ChipSimRegAccess& a : ChipSimTakeTrace())
      if (a.write) writes.push_back(a.value);
    const uint32_t configured = (0xFFFFF & 0x107f7d) | c.inputBits;
    EXPECT_EQ(writes, (std::vector<uint32_t>{0x1FFFFF, 0xFFFFF, configured, configured | (1u << 20), configured}));
    auto src = CallsNamed("clk_regime_sel_vfe_src");
    ASSERT_EQ(src.size(), 1u);
    EXPECT_EQ(src[0].args[0], c.source);
    EXPECT_FALSE(ChipSimIntLockHeldByCaller());
  }
}

TEST_F(VfeClockTest, TheRegisterWindowIsTheVfeBlock) {
  EXPECT_EQ(vfe_get_virtual_address(), get_virtual_address(0xa0f00000, 4096));
  EXPECT_NE(vfe_get_virtual_address(), nullptr);
}

// ---- The interrupt thread ---------------------------------------------------------

struct IstProbe {
  std::atomic<int> calls{0};
  std::atomic<DWORD> thread{0};
  std::atomic<int> priority{-1};
  std::atomic<bool> maskedDuringCall{false};
  std::atomic<uint32_t> argument{0xFFFFFFFF};
  HANDLE done = nullptr;
};
IstProbe* gProbe = nullptr;

void Callback(uint32_t argument) {
  gProbe->argument = argument;
  gProbe->thread = GetCurrentThreadId();
  gProbe->priority = CeGetThreadPriority(GetCurrentThread());
  gProbe->maskedDuringCall = CeSimInterruptMasked(kVfeInterrupt) != FALSE;
  ++gProbe->calls;
  SetEvent(gProbe->done);
}

class VfeInterruptTest : public PlindorTest {
 protected:
  void SetUp() override {
    PlindorTest::SetUp();
    probe_.done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    gProbe = &probe_;
  }
  void TearDown() override {
    vfe_stop();
    CloseHandle(probe_.done);
    gProbe = nullptr;
    PlindorTest::TearDown();
  }
  // Raises the line and waits until the callback has run for it.
  bool RaiseAndWait() {
    if (!BoardRaiseInterrupt(kVfeInterrupt)) return false;
    return WaitForSingleObject(probe_.done, 10000) == WAIT_OBJECT_0;
  }
  IstProbe probe_;
};

TEST_F(VfeInterruptTest, EachInterruptCallsTheCallbackOnTheInterruptThread) {
  ASSERT_EQ(vfe_init(Callback, nullptr), 0);
  for (int i = 1; i <= 5; ++i) {
    ASSERT_TRUE(RaiseAndWait());
    EXPECT_EQ(probe_.calls.load(), i);
  }
  EXPECT_NE(probe_.thread.load(), GetCurrentThreadId());
  EXPECT_EQ(probe_.priority.load(), 80);
  EXPECT_EQ(probe_.argument.load(), 0u);
  // The line stays masked while the callback runs and is completed after it.
  EXPECT_TRUE(probe_.maskedDuringCall.load());
  EXPECT_TRUE(CeSimDebugCapturedContains("InterruptInitialize for VFE success."));
}

std::atomic<int> gRaisedInside{0};

void RaisingCallback(uint32_t argument) {
  // The first call raises the line again while it is being serviced.
  if (gProbe->calls.load() == 0) gRaisedInside = BoardRaiseInterrupt(kVfeInterrupt) ? 1 : 0;
  Callback(argument);
}

TEST_F(VfeInterruptTest, AnInterruptDuringTheCallbackComesAfterIt) {
  ASSERT_EQ(vfe_init(RaisingCallback, nullptr), 0);
  ASSERT_TRUE(BoardRaiseInterrupt(kVfeInterrupt));
  // Both calls may have run before this thread wakes (the event then fired once).
  while (probe_.calls.load() < 2 && WaitForSingleObject(probe_.done, 10000) == WAIT_OBJECT_0) {
  }
  EXPECT_EQ(gRaisedInside.load(), 1);
  EXPECT_EQ(probe_.calls.load(), 2);
}

TEST_F(VfeInterruptTest, ASecondInitIsRefusedAndTheFirstThreadRuns) {
  ASSERT_EQ(vfe_init(Callback, nullptr), 0);
  EXPECT_EQ(vfe_init(Callback, nullptr), 1);
  EXPECT_TRUE(CeSimDebugCapturedContains("VFE driver thread already exists."));
  ASSERT_TRUE(RaiseAndWait());
  EXPECT_EQ(probe_.calls.load(), 1);
}

TEST_F(VfeInterruptTest, StopEndsTheThreadWithoutACallbackAndAllowsARestart) {
  ASSERT_EQ(vfe_init(Callback, nullptr), 0);
  ASSERT_TRUE(RaiseAndWait());
  EXPECT_EQ(vfe_stop(), 0);
  EXPECT_TRUE(CeSimDebugCapturedContains("VFE driver exiting the thread."));
  EXPECT_TRUE(CeSimDebugCapturedContains("wait for vfe driver ist to exit."));
  EXPECT_EQ(probe_.calls.load(), 1);
  // The line is off: nothing is delivered.
  EXPECT_FALSE(BoardRaiseInterrupt(kVfeInterrupt));
  ASSERT_EQ(vfe_init(Callback, nullptr), 0);
  ASSERT_TRUE(RaiseAndWait());
  EXPECT_EQ(probe_.calls.load(), 2);
}

TEST_F(VfeInterruptTest, StopWithoutAThreadDoesNothing) {
  CeSimDebugCaptureBegin();
  EXPECT_EQ(vfe_stop(), 0);
  EXPECT_EQ(vfe_stop(), 0);
  EXPECT_FALSE(CeSimDebugCapturedContains("VFE Driver to stop the winmobile thread!"));
}

TEST_F(VfeInterruptTest, WithoutACallbackInterruptsAreStillCompleted) {
  ASSERT_EQ(vfe_init(nullptr, nullptr), 0);
  ASSERT_TRUE(BoardRaiseInterrupt(kVfeInterrupt));
  // The thread logs and completes the interrupt; wait for the line to open again.
  for (int i = 0; i < 10000 && !CeSimDebugCapturedContains("vfe_control.istCB is NULL."); ++i) Sleep(1);
  EXPECT_TRUE(CeSimDebugCapturedContains("vfe_control.istCB is NULL."));
  // The line is logged before the completion: wait for the line to be unmasked.
  for (int i = 0; i < 10000 && CeSimInterruptMasked(kVfeInterrupt); ++i) Sleep(1);
  EXPECT_FALSE(CeSimInterruptMasked(kVfeInterrupt));
}

TEST_F(VfeInterruptTest, AFailedInitLeavesNothingBehind) {
  // Another object holds the event's name, so the event cannot be made.
  HANDLE squatter = CreateMutexW(nullptr, FALSE, u"vfe_driver_ist_event");
  ASSERT_NE(squatter, nullptr);
  EXPECT_EQ(vfe_init(Callback, nullptr), 1);
  EXPECT_TRUE(CeSimDebugCapturedContains("VFE Driver Event Creation Failed!"));
  CloseHandle(squatter);
  ASSERT_EQ(vfe_init(Callback, nullptr), 0);
  ASSERT_TRUE(RaiseAndWait());
}

}  // namespace
