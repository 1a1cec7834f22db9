// The white-LED flash driver against the board's LED model: the LED's state
// after each command sequence (torch, flash, off), the intensity and
// output-mode records, and the command range.
#include <chrono>
#include <thread>

#include "ccamerawhiteledflashdriver.h"
#include "flashconfigrecords.h"
#include "senvar_fixture.h"

namespace senvartest {
namespace {

using senvartest::operator<<;

class WhiteLedTest : public SenvarTest {
 protected:
  void SetUp() override {
    SenvarTest::SetUp();
    ASSERT_EQ(InitFlashLight(), 1);
    ASSERT_EQ(PVL_OK, Mod_ClassFactory(env_.Get(), ZUEUID_CLASS_WHITE_LED_FLASH_DRIVER, nullptr,
                                          reinterpret_cast<void**>(led_.Out())));
    BoardLedClearRecords();
  }
  void TearDown() override {
    led_.Reset();
    PMICFlashLED_SetCurrent(0);
    SenvarTest::TearDown();
  }
  // The LED's state once it settled on `expected` (the torch is decoded from
  // pulses, so it shows a moment after the call); the last state seen else.
  static BoardLedMode LedSettlesOn(BoardLedMode expected) {
    BoardLedState s = BoardLedNow();
    for (int i = 0; i < 400 && s.mode != expected; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      s = BoardLedNow();
    }
    return s.mode;
  }
  PvlResult Intensity(uint32_t command, FlashIntensityRecord* reply = nullptr) {
    FlashIntensityRecord request{0, 90, 150};
    uint32_t length = 0;
    return led_->Command(command, &request, sizeof request, reply, reply ? sizeof *reply : 0,
                         reply ? &length : nullptr);
  }
  PvlResult Mode(uint32_t word) { return Apply(led_.Get(), ZUEUID_FLASH_CMD_OUTPUT_MODE, word); }

  CPvlPtr<ICameraDriver> led_;
};

// Command sequences and where they leave the LED.
struct TraceCase {
  const char* name;
  std::vector<uint32_t> steps;  // commands; the intensities and modes use fixed records
  BoardLedMode result;
};

// Pseudo commands of the trace table for the output-mode words.
constexpr uint32_t kModeVideo = 1;
constexpr uint32_t kModeSnapshot = 2;
constexpr uint32_t kModeOddBytes = 3;  // mode 1 with a non-zero byte: not the strobe

class LedTraceTest : public WhiteLedTest, public ::testing::WithParamInterface<TraceCase> {};

TEST_P(LedTraceTest, EndsIn) {
  const TraceCase& c = GetParam();
  for (uint32_t step : c.steps) {
    PvlResult r;
    switch (step) {
      case kModeVideo: r = Mode(0); break;
      case kModeSnapshot: r = Mode(1); break;
      case kModeOddBytes: r = Mode(0x00010001); break;
      case ZUEUID_FLASH_CMD_LAMP_INTENSITY:
      case ZUEUID_FLASH_CMD_STROBE_INTENSITY: r = Intensity(step); break;
      default: r = Run(led_.Get(), step); break;
    }
    ASSERT_EQ(r, PVL_OK) << std::hex << step;
  }
  EXPECT_EQ(LedSettlesOn(c.result), c.result) << BoardLedStateName(BoardLedNow());
  EXPECT_TRUE(BoardLedWarnings().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Led, LedTraceTest,
    ::testing::Values(
        TraceCase{"PowerUpIsOff", {ZUEUID_FLASH_CMD_POWER_UP}, kLedOff},
        // Nothing configured yet: the torch, never an unset current on the flash line.
        TraceCase{"StartBeforeConfigurationIsTheTorch", {ZUEUID_FLASH_CMD_START}, kLedTorch},
        TraceCase{"Torch",
                  {ZUEUID_FLASH_CMD_POWER_UP, ZUEUID_FLASH_CMD_LAMP_INTENSITY, kModeVideo, ZUEUID_FLASH_CMD_START},
                  kLedTorch},
        TraceCase{"Strobe",
                  {ZUEUID_FLASH_CMD_POWER_UP, ZUEUID_FLASH_CMD_STROBE_INTENSITY, kModeSnapshot,
                   ZUEUID_FLASH_CMD_START},
                  kLedFlash},
        TraceCase{"OddModeBytesSelectTheLamp",
                  {ZUEUID_FLASH_CMD_STROBE_INTENSITY, kModeOddBytes, ZUEUID_FLASH_CMD_START}, kLedTorch},
        TraceCase{"TorchThenStop",
                  {ZUEUID_FLASH_CMD_LAMP_INTENSITY, kModeVideo, ZUEUID_FLASH_CMD_START, ZUEUID_FLASH_CMD_STOP},
                  kLedOff},
        TraceCase{"StrobeThenStop",
                  {ZUEUID_FLASH_CMD_STROBE_INTENSITY, kModeSnapshot, ZUEUID_FLASH_CMD_START, ZUEUID_FLASH_CMD_STOP},
                  kLedOff},
        TraceCase{"StrobeThenPowerDown",
                  {ZUEUID_FLASH_CMD_STROBE_INTENSITY, kModeSnapshot, ZUEUID_FLASH_CMD_START,
                   ZUEUID_FLASH_CMD_POWER_DOWN},
                  kLedOff},
        // While the torch is on, a strobe intensity takes effect at once.
        TraceCase{"StrobeIntensityWhileTheTorchIsOn",
                  {ZUEUID_FLASH_CMD_LAMP_INTENSITY, kModeVideo, ZUEUID_FLASH_CMD_START,
                   ZUEUID_FLASH_CMD_STROBE_INTENSITY},
                  kLedTorchAndFlash},
        // A snapshot mode while lit switches to the strobe current at once.
        TraceCase{"SnapshotModeWhileLit", {ZUEUID_FLASH_CMD_START, kModeSnapshot}, kLedTorchAndFlash},
        // Intensities and modes only store while the LED is off.
        TraceCase{"ConfigurationAloneKeepsItDark",
                  {ZUEUID_FLASH_CMD_STROBE_INTENSITY, kModeSnapshot, ZUEUID_FLASH_CMD_LAMP_INTENSITY}, kLedOff}),
    [](const ::testing::TestParamInfo<TraceCase>& info) { return std::string(info.param.name); });

TEST_F(WhiteLedTest, StopAndResetLeaveTheLedAlone) {
  ASSERT_EQ(PVL_OK, Run(led_.Get(), ZUEUID_FLASH_CMD_START));
  ASSERT_EQ(LedSettlesOn(kLedTorch), kLedTorch);
  BoardLedClearRecords();
  EXPECT_EQ(PVL_OK, led_->Stop());
  EXPECT_EQ(PVL_OK, Run(led_.Get(), ZUEUID_FLASH_CMD_RESET));
  EXPECT_TRUE(BoardLedHistory().empty());
  EXPECT_EQ(BoardLedNow().mode, kLedTorch);
}

// The intensity replies: this LED has one level per use, whatever is asked.
struct IntensityCase {
  const char* name;
  uint32_t command;
  bool withInput;
  FlashIntensityRecord reply;
};

class IntensityTest : public WhiteLedTest, public ::testing::WithParamInterface<IntensityCase> {};

TEST_P(IntensityTest, Reply) {
  const IntensityCase& c = GetParam();
  FlashIntensityRecord request{0, 90, 150}, reply{-1, -1, -1};
  uint32_t length = 0;
  ASSERT_EQ(PVL_OK, led_->Command(c.command, c.withInput ? &request : nullptr, c.withInput ? 12 : 0, &reply, 12,
                                  &length));
  EXPECT_EQ(length, 12u);
  EXPECT_EQ(reply.nMinimumLampIntensity, c.reply.nMinimumLampIntensity);
  EXPECT_EQ(reply.nLampIntensity, c.reply.nLampIntensity);
  EXPECT_EQ(reply.nMaximumLampIntensity, c.reply.nMaximumLampIntensity);
}

INSTANTIATE_TEST_SUITE_P(
    Led, IntensityTest,
    ::testing::Values(IntensityCase{"LampSet", ZUEUID_FLASH_CMD_LAMP_INTENSITY, true, {0, 30, 150}},
                      IntensityCase{"LampQuery", ZUEUID_FLASH_CMD_LAMP_INTENSITY, false, {0, 0, 150}},
                      IntensityCase{"StrobeSet", ZUEUID_FLASH_CMD_STROBE_INTENSITY, true, {0, 100, 290}},
                      IntensityCase{"StrobeQuery", ZUEUID_FLASH_CMD_STROBE_INTENSITY, false, {0, 0, 290}}),
    [](const ::testing::TestParamInfo<IntensityCase>& info) { return std::string(info.param.name); });

TEST_F(WhiteLedTest, RecordSizesAndProperties) {
  ICameraDriver* d = led_.Get();
  uint32_t length = 0, word = 7;
  FlashIntensityRecord intensity{};
  EXPECT_EQ(PVL_E_BADARG, d->Command(ZUEUID_FLASH_CMD_LAMP_INTENSITY, &intensity, 8, nullptr, 0, nullptr));
  EXPECT_EQ(PVL_E_BADARG, d->Command(ZUEUID_FLASH_CMD_STROBE_INTENSITY, nullptr, 0, &intensity, 16, &length));
  EXPECT_EQ(PVL_OK, d->Command(ZUEUID_FLASH_CMD_LAMP_INTENSITY, nullptr, 0, nullptr, 0, &length));
  EXPECT_EQ(length, 12u);
  EXPECT_EQ(PVL_E_BADARG, d->Command(ZUEUID_FLASH_CMD_OUTPUT_MODE, &intensity, 12, nullptr, 0, nullptr));
  EXPECT_EQ(PVL_E_BADARG, d->Command(ZUEUID_FLASH_CMD_OUTPUT_MODE, nullptr, 0, &intensity, 12, &length));
  // The mode reads back as stored.
  ASSERT_EQ(PVL_OK, Mode(0x00010001));
  ASSERT_EQ(PVL_OK, Read(d, ZUEUID_FLASH_CMD_OUTPUT_MODE, &word));
  EXPECT_EQ(word, 0x00010001u);

  ASSERT_EQ(PVL_OK, Read(d, ZUEUID_FLASH_PROPERTY_DEVICE_TYPE, &word));
  EXPECT_EQ(word, 2u);
  ASSERT_EQ(PVL_OK, Read(d, ZUEUID_FLASH_PROPERTY_DEVICE_FLAGS, &word));
  EXPECT_EQ(word, 0u);
  EXPECT_EQ(PVL_OK, d->Command(ZUEUID_FLASH_PROPERTY_DEVICE_TYPE, nullptr, 0, nullptr, 0, &length));
  EXPECT_EQ(length, 4u);
  EXPECT_EQ(PVL_E_BADARG, d->Command(ZUEUID_FLASH_PROPERTY_DEVICE_FLAGS, nullptr, 0, &intensity, 12, &length));
  EXPECT_EQ(PVL_E_NULLPTR, d->Command(ZUEUID_FLASH_PROPERTY_DEVICE_TYPE, nullptr, 0, &word, 4, nullptr));
}

TEST_F(WhiteLedTest, CommandRange) {
  struct {
    uint32_t command;
    PvlResult result;
  } cases[] = {
      {ZUEUID_FLASH_PROPERTY_DEVICE_EXTRA, PVL_E_UNSUPPORTED}, {ZUEUID_FLASH_CMD_DEVICE_STATE, PVL_E_UNSUPPORTED},
      {ZUEUID_FLASH_CMD_STROBE_MODE, PVL_E_UNSUPPORTED},       {ZUEUID_FLASH_CMD_STROBE_CHARGING, PVL_E_UNSUPPORTED},
      {ZUEUID_FLASH_CMD_POWER_UP - 1, PVL_E_BADARG},           {ZUEUID_FLASH_CMD_OUTPUT_MODE + 1, PVL_E_BADARG},
      {ZUEUID_SENSOR_CMD_POWER_UP, PVL_E_BADARG},
  };
  uint32_t length = 0;
  for (const auto& c : cases)
    EXPECT_EQ(c.result, led_->Command(c.command, nullptr, 0, nullptr, 0, &length)) << std::hex << c.command;
}

TEST_F(WhiteLedTest, InterfaceAndCreation) {
  void* out = nullptr;
  EXPECT_EQ(PVL_OK, led_->QueryInterface(ZUEUID_IFACE_CAMERA_DRIVER, &out));
  EXPECT_EQ(out, led_.Get());
  led_->Release();
  EXPECT_EQ(PVL_E_NOTSUPPORTED, led_->QueryInterface(ZUEUID_IFACE_TUNING_DATA_PROVIDER, &out));
  EXPECT_EQ(out, nullptr);
  uint32_t length = 3;
  EXPECT_EQ(PVL_E_UNSUPPORTED, led_->OptionalQueryA(nullptr, 0, &length));
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(PVL_E_NULLPTR, led_->OptionalSetB(nullptr));

  EXPECT_EQ(PVL_E_NOTSUPPORTED, WhiteLEDFlash_CreateInstance(env_.Get(), ZUEUID_CLASS_S5K3E2FX_AF_DRIVER, nullptr, &out));
  EXPECT_EQ(PVL_E_NULLPTR, WhiteLEDFlash_CreateInstance(nullptr, ZUEUID_CLASS_WHITE_LED_FLASH_DRIVER, nullptr, &out));
  uint32_t blocks = OrbhostTest_LiveBlocks(nullptr);
  OrbhostTest_FailAllocation(1);
  out = nullptr;
  EXPECT_EQ(PVL_E_OUTOFMEMORY, WhiteLEDFlash_CreateInstance(env_.Get(), ZUEUID_CLASS_WHITE_LED_FLASH_DRIVER, nullptr, &out));
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(OrbhostTest_LiveBlocks(nullptr), blocks);
  led_.Reset();
  EXPECT_EQ(OrbhostTest_LiveBlocks(nullptr), liveBlocks_);
}

}  // namespace
}  // namespace senvartest
