// Sensor bus, camera GPIO signals, master clock, waits and the clock device
// manager client.
#include <chrono>
#include <cstring>

#include "plindor_fixture.h"

namespace {

class SensorBusTest : public PlindorTest {
 protected:
  // The sensor answers only clocked and out of reset, as its driver powers it up.
  void SetUp() override {
    PlindorTest::SetUp();
    CameraSensorCLK_ConfigMclk(CAMERA_MCLK_FREQUENCY_HZ, CAMERA_MCLK_ARG);
    CameraSensorGPIO_Out(CAMERA_GPIO_KIND_RESET, 1);
    Plindor_WaitMicroSeconds(10000);
  }
  void TearDown() override {
    while (CameraSensorI2C_DeInit() == 1 && BoardI2cOpenCount() > 0) {
    }
    PlindorTest::TearDown();
  }
  static CameraSensorI2C_Command Command(uint16_t reg, void* data, uint16_t length) {
    CameraSensorI2C_Command c{};
    c.slaveAddress = kSensorSlave;
    c.flags = 0x22;
    c.data = data;
    c.registerAddress = reg;
    c.length = length;
    return c;
  }
};

TEST_F(SensorBusTest, OpeningIsCountedAndSetsTheBusParameters) {
  ASSERT_EQ(CameraSensorI2C_Init(), 1);
  ASSERT_EQ(CameraSensorI2C_Init(), 1);
  EXPECT_EQ(BoardI2cOpenCount(), 1);
  auto controls = BoardI2cControls();
  ASSERT_EQ(controls.size(), 2u);
  EXPECT_EQ(controls[0].code, 0x220C00u);
  EXPECT_EQ(controls[0].value, 0u);
  EXPECT_EQ(controls[1].code, 0x220C04u);
  EXPECT_EQ(controls[1].value, 100u);
  EXPECT_EQ(CameraSensorI2C_DeInit(), 1);
  EXPECT_EQ(BoardI2cOpenCount(), 1);  // still open for the other user
  EXPECT_EQ(CameraSensorI2C_DeInit(), 1);
  EXPECT_EQ(BoardI2cOpenCount(), 0);
  EXPECT_EQ(CameraSensorI2C_DeInit(), 0);  // nothing left to close
}

TEST_F(SensorBusTest, NoTransferAfterTheLastDeInit) {
  uint8_t id[2] = {};
  CameraSensorI2C_Command cmd = Command(0, id, 2);
  EXPECT_EQ(CameraSensorI2C_Read(&cmd), 0);  // never opened
  ASSERT_EQ(CameraSensorI2C_Init(), 1);
  ASSERT_EQ(CameraSensorI2C_DeInit(), 1);
  BoardI2cClearRecords();
  EXPECT_EQ(CameraSensorI2C_Read(&cmd), 0);
  EXPECT_EQ(CameraSensorI2C_Write(&cmd), 0);
  EXPECT_EQ(CameraSensorI2C_Write_MultiCommands(&cmd, 1), 0);
  EXPECT_TRUE(BoardI2cTransfers().empty());
}

TEST_F(SensorBusTest, AMissingBusFailsTheOpen) {
  BoardI2cSetPresent(false);
  EXPECT_EQ(CameraSensorI2C_Init(), 0);
  BoardI2cSetPresent(true);
  EXPECT_EQ(CameraSensorI2C_Init(), 1);
}

TEST_F(SensorBusTest, ReadsTheChipIdentifierAndReportsRefusedTransfers) {
  ASSERT_EQ(CameraSensorI2C_Init(), 1);
  uint8_t id[2] = {};
  CameraSensorI2C_Command cmd = Command(0, id, 2);
  ASSERT_EQ(CameraSensorI2C_Read(&cmd), 1);
  EXPECT_EQ((id[0] << 8) | id[1], 0x3E2F);
  uint8_t value = 1;
  CameraSensorI2C_Command write = Command(0x0100, &value, 1);
  EXPECT_EQ(CameraSensorI2C_Write(&write), 1);
  BoardI2cSetNoAnswer(true);
  EXPECT_EQ(CameraSensorI2C_Read(&cmd), 0);
  EXPECT_EQ(CameraSensorI2C_Write(&write), 0);
  BoardI2cSetNoAnswer(false);
  EXPECT_EQ(CameraSensorI2C_Read(nullptr), 0);
  EXPECT_EQ(CameraSensorI2C_Write(nullptr), 0);
  // The caller's record keeps its own direction word.
  EXPECT_EQ(cmd.direction, 0u);
}

TEST_F(SensorBusTest, RecordsAreNormalisedOnTheWay) {
  ASSERT_EQ(CameraSensorI2C_Init(), 1);
  uint8_t v = 0;
  CameraSensorI2C_Command cmd = Command(0x0202, &v, 1);
  cmd.busMode = 7;
  cmd.flags = 0xFFFF;
  ASSERT_EQ(CameraSensorI2C_Write(&cmd), 1);
  ASSERT_EQ(CameraSensorI2C_Read(&cmd), 1);
  auto t = BoardI2cTransfers();
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(t[0].busMode, 3u);
  EXPECT_EQ(t[0].flags, 0x1FFu);
  EXPECT_TRUE(t[0].write);
  EXPECT_FALSE(t[1].write);
}

TEST(CopyCommand, KeepsKnownValuesAndNormalisesTheRest) {
  struct Case {
    uint32_t mode, flags, direction;
    uint32_t wantMode, wantFlags, wantDirection;
  } cases[] = {
      {0, 0x22, 2, 0, 0x22, 2}, {1, 0x100, 1, 1, 0x100, 1}, {2, 0x200, 5, 2, 0, 1},
      {3, 0xFFFF, 0, 3, 0x1FF, 1}, {7, 0xFFFFFFFF, 2, 3, 0x1FF, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << c.mode << ", flags 0x" << std::hex << c.flags << ", direction " << c.direction);
    CameraSensorI2C_Command src{};
    src.busMode = c.mode;
    src.slaveAddress = 0x20;
    src.flags = c.flags;
    src.direction = c.direction;
    src.data = &src;
    src.registerAddress = 0x1234;
    src.length = 2;
    src.reserved[0] = 1;
    src.reserved[2] = 3;
    CameraSensorI2C_Command dst;
    std::memset(&dst, 0xCC, sizeof dst);
    CameraSensorI2C_CopyCommand(&dst, &src);
    EXPECT_EQ(dst.busMode, c.wantMode) << c.mode;
    EXPECT_EQ(dst.flags, c.wantFlags) << c.flags;
    EXPECT_EQ(dst.direction, c.wantDirection) << c.direction;
    EXPECT_EQ(dst.slaveAddress, 0x20);
    EXPECT_EQ(dst.data, &src);
    EXPECT_EQ(dst.registerAddress, 0x1234);
    EXPECT_EQ(dst.length, 2);
    EXPECT_EQ(dst.reserved[0], 1u);
    EXPECT_EQ(dst.reserved[2], 3u);
  }
  CameraSensorI2C_Command untouched{};
  untouched.busMode = 9;
  CameraSensorI2C_CopyCommand(&untouched, nullptr);
  CameraSensorI2C_CopyCommand(nullptr, &untouched);
  EXPECT_EQ(untouched.busMode, 9u);
}

TEST_F(SensorBusTest, MultiCommandsGoInBatchesOfEight) {
  ASSERT_EQ(CameraSensorI2C_Init(), 1);
  BoardI2cClearRecords();
  uint8_t values[19];
  CameraSensorI2C_Command cmds[19];
  for (int i = 0; i < 19; ++i) {
    values[i] = uint8_t(i);
    cmds[i] = Command(uint16_t(0x3000 + i), &values[i], 1);
  }
  ASSERT_EQ(CameraSensorI2C_Write_MultiCommands(cmds, 19), 1);
  auto c = BoardI2cControls();
  ASSERT_EQ(c.size(), 3u);
  EXPECT_EQ(c[0].records, 8u);
  EXPECT_EQ(c[1].records, 8u);
  EXPECT_EQ(c[2].records, 3u);
  EXPECT_EQ(BoardI2cTransfers().size(), 19u);
  EXPECT_EQ(BoardI2cTransfers().back().reg, 0x3012);

  EXPECT_EQ(CameraSensorI2C_Write_MultiCommands(nullptr, 3), 0);
  EXPECT_EQ(CameraSensorI2C_Write_MultiCommands(cmds, 0), 0);
  EXPECT_EQ(CameraSensorI2C_Write_MultiCommands(cmds, 0x10000), 0);  // the count is 16 bits
  BoardI2cNackNext(9);
  EXPECT_EQ(CameraSensorI2C_Write_MultiCommands(cmds, 19), 0);
}

class SensorGpioTest : public PlindorTest {};

TEST_F(SensorGpioTest, SignalKindsDriveTheirPins) {
  struct Case {
    uint32_t kind;
    int bank;
    uint32_t bit;
  } cases[] = {
      {CAMERA_GPIO_KIND_RESET, 6, 1u << 22},  // signal 600, GPIO 144
      {CAMERA_GPIO_KIND_2, 1, 1u << 1},       // signal 101, GPIO 17
      {CAMERA_GPIO_KIND_4, 6, 1u << 20},      // signal 588, GPIO 142
      {CAMERA_GPIO_KIND_5, 6, 1u << 21},      // signal 594, GPIO 143
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "signal kind " << c.kind);
    BoardSimReset();
    ASSERT_EQ(CameraSensorGPIO_Out(c.kind, 1), 1);
    EXPECT_EQ(BoardTlmmRead(c.bank, kTlmmOut), c.bit) << c.kind;
    ASSERT_EQ(CameraSensorGPIO_Out(c.kind, 0), 1);
    EXPECT_EQ(BoardTlmmRead(c.bank, kTlmmOut), 0u) << c.kind;
  }
  EXPECT_EQ(CameraSensorGPIO_Out(CAMERA_GPIO_KIND_NONE, 1), 1);
  EXPECT_EQ(CameraSensorGPIO_Out(6, 1), 0);
  for (int b = 0; b < 8; ++b) EXPECT_EQ(BoardTlmmRead(b, kTlmmOut), 0u);
}

TEST_F(SensorGpioTest, TheBoardSelectedSignalFollowsTheBoardDescription) {
  // 255: no signal; the GPIO driver refuses it.
  EXPECT_EQ(CameraSensorGPIO_Out(CAMERA_GPIO_KIND_BOARD, 1), 1);
  auto m = ChipSimMessages();
  ASSERT_EQ(m.size(), 1u);
  EXPECT_EQ(m[0].text, "gpio_out():  GPIO Client or Signal is invalid.");
  // A GPIO with a signal.
  BoardSetSelectedGpio(144);
  EXPECT_EQ(CameraSensorGPIO_Out(CAMERA_GPIO_KIND_BOARD, 1), 1);
  EXPECT_EQ(BoardTlmmRead(6, kTlmmOut), 1u << 22);
  // Numbers the chipset does not have are no signal either, never a table overrun.
  for (uint16_t gpio : {165, 200, 254, 256, 0xFFFF}) {
    BoardSimReset();
    ChipSimClearMessages();
    BoardSetSelectedGpio(gpio);
    EXPECT_EQ(CameraSensorGPIO_Out(CAMERA_GPIO_KIND_BOARD, 1), 1);
    EXPECT_EQ(ChipSimMessages().size(), 1u) << gpio;
    for (int b = 0; b < 8; ++b) EXPECT_EQ(BoardTlmmRead(b, kTlmmOut), 0u) << gpio;
  }
}

TEST_F(SensorGpioTest, InputsReadThePads) {
  uint8_t level = 9;
  BoardTlmmSetInput(1, 1u << 1);  // GPIO 17
  ASSERT_EQ(CameraSensorGPIO_In(CAMERA_GPIO_KIND_RESET, &level), 1);
  EXPECT_EQ(level, 1);
  BoardTlmmSetInput(1, 0);
  ASSERT_EQ(CameraSensorGPIO_In(CAMERA_GPIO_KIND_2, &level), 1);
  EXPECT_EQ(level, 0);
  BoardSetSelectedGpio(17);
  BoardTlmmSetInput(1, 1u << 1);
  ASSERT_EQ(CameraSensorGPIO_In(CAMERA_GPIO_KIND_BOARD, &level), 1);
  EXPECT_EQ(level, 1);
  level = 7;
  EXPECT_EQ(CameraSensorGPIO_In(CAMERA_GPIO_KIND_NONE, &level), 1);
  EXPECT_EQ(level, 7);
  EXPECT_EQ(CameraSensorGPIO_In(4, &level), 0);
  EXPECT_EQ(CameraSensorGPIO_In(CAMERA_GPIO_KIND_2, nullptr), 0);
}

TEST_F(SensorGpioTest, ClockAndPinConfigurationReachTheChipset) {
  EXPECT_EQ(CameraSensorGPIO_ConfigParallelCamera(1, 2, 3, 4), 1);
  EXPECT_EQ(CameraSensorGPIO_ConfigDefault(5, 6, 7, 8), 1);
  EXPECT_EQ(CameraSensorCLK_ConfigMclk(24000000, 0), 1);
  EXPECT_EQ(ChipSimClocks().cameraClockHz, 24000000u);
  auto calls = ChipSimCalls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].name, "gpio_camera_config");
  EXPECT_EQ(calls[0].args, (std::vector<uint32_t>{1, 2, 3, 4}));
  EXPECT_EQ(calls[1].name, "gpio_camera_un_config");
  EXPECT_EQ(calls[1].args, (std::vector<uint32_t>{5, 6, 7, 8}));
  // Unconfiguring the clock puts its pin (GPIO 15) back to its plain configuration.
  EXPECT_EQ(CameraSensorCLK_UnConfigMclk(), 1);
  EXPECT_EQ(BoardTlmmRead(0, kTlmmOutputEnable), 1u << 15);
  EXPECT_EQ(BoardTlmmRead(0, kTlmmOut), 0u);
  EXPECT_EQ(CameraSensor_PowerOn(), 1);
  EXPECT_EQ(CameraSensor_PowerOff(), 1);
}

// The values the probe and the sensor driver pass: defined ones, never whatever
// happens to be in a register.
TEST_F(SensorGpioTest, TheCallersDeclaredValuesReachTheChipset) {
  const uint32_t pin = CAMERA_GPIO_CONFIG_ARG;
  EXPECT_EQ(CameraSensorGPIO_ConfigParallelCamera(pin, pin, pin, pin), 1);
  EXPECT_EQ(CameraSensorCLK_ConfigMclk(CAMERA_MCLK_FREQUENCY_HZ, CAMERA_MCLK_ARG), 1);
  EXPECT_EQ(CameraSensorGPIO_ConfigDefault(pin, pin, pin, pin), 1);
  EXPECT_EQ(ChipSimClocks().cameraClockHz, 24000000u);
  auto calls = ChipSimCalls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].args, (std::vector<uint32_t>{0, 0, 0, 0}));
  EXPECT_EQ(calls[1].name, "clk_regime_krs_sel_camclk");
  EXPECT_EQ(calls[1].args, (std::vector<uint32_t>{24000000, 0}));
  EXPECT_EQ(calls[2].args, (std::vector<uint32_t>{0, 0, 0, 0}));
}

TEST_F(SensorGpioTest, WaitsWholeMilliseconds) {
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(Plindor_WaitMicroSeconds(2500), 1);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2));
  EXPECT_EQ(Plindor_WaitMicroSeconds(999), 1);
  EXPECT_EQ(Plindor_WaitMicroSeconds(0), 1);
}

TEST_F(SensorGpioTest, DevmanClientRequestsResourcesByLevel) {
  ASSERT_EQ(CameraDevmanRegister(), 1);
  EXPECT_EQ(ChipSimClocks().devmanClients, (std::vector<std::string>{"CAMERA"}));
  EXPECT_EQ(CameraDevmanSetPerfLevel(10), 1);
  EXPECT_EQ(CameraDevmanSetPerfLevel(0), 1);
  auto req = CallsNamed("clk_regime_devman_request");
  ASSERT_EQ(req.size(), 4u);
  EXPECT_EQ(req[0].args, (std::vector<uint32_t>{0, 0xFFFFFFFF}));
  EXPECT_EQ(req[1].args, (std::vector<uint32_t>{4, 0xFFFFFFFF}));
  EXPECT_EQ(req[2].args, (std::vector<uint32_t>{0, 0}));
  EXPECT_EQ(req[0].text, "CAMERA");
  auto m = ChipSimMessages();
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[0].text, "clk_regime_devman_request done");
  EXPECT_EQ(CameraDevmanDeregister(), 1);
  EXPECT_EQ(CameraDevmanSetPerfLevel(1), 0);  // no longer a client
  EXPECT_EQ(CameraDevmanDeregister(), 0);
}

}  // namespace
