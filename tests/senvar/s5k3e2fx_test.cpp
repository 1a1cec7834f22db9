// The S5K3E2FX sensor driver object against the board's sensor model: the
// chip-identifier probe and what a failed creation leaves behind, the power
// sequences, the argument rules of ICameraDriver, the property records, frame
// timing per size and the size classification of the mode command.
#include <cstring>

#include "ccamerasensordriver_s5k3e2fx_5m_bayer.h"
#include "senvar_fixture.h"

namespace senvartest {
namespace {

using senvartest::operator<<;

class SensorDriverTest : public SenvarTest {};

TEST_F(SensorDriverTest, CreationPowersUpAndProbesTheChip) {
  CPvlPtr<ICameraDriver> sensor;
  std::vector<std::string> log = LogLines([&] { ASSERT_EQ(PVL_OK, CreateSensor(sensor)); });
  EXPECT_EQ(CountContaining(log, "Detected S5K3E2FX chipid = 3e2f"), 1u);
  // Out of reset and clocked at 24 MHz; the probe is the only transfer.
  BoardSensorSummary s = BoardSensorState();
  EXPECT_FALSE(s.inReset);
  EXPECT_TRUE(s.ready);
  EXPECT_EQ(s.mclkHz, 24000000u);
  EXPECT_EQ(ReadRegisters(), std::vector<uint16_t>{0x0000});
  EXPECT_TRUE(Writes().empty());
  // The focus command reaches the lens driver, which checks the record's size.
  uint32_t wrong = 0;
  EXPECT_EQ(PVL_E_BADARG, Apply(sensor.Get(), ZUEUID_SENSOR_CMD_FOCUS, wrong));
}

TEST_F(SensorDriverTest, LastReleasePowersDownAndClosesTheBus) {
  CPvlPtr<ICameraDriver> sensor;
  ASSERT_EQ(PVL_OK, CreateSensor(sensor));
  EXPECT_EQ(BoardI2cOpenCount(), 1);
  sensor.Reset();
  EXPECT_TRUE(BoardSensorState().inReset);
  EXPECT_EQ(BoardI2cOpenCount(), 0);
  EXPECT_EQ(OrbhostTest_LiveBlocks(nullptr), liveBlocks_);
}

// A creation that fails undoes exactly what it did: the sensor back in reset,
// the bus closed, no block and no reference left behind.
struct CreationFailure {
  const char* name;
  void (*arrange)();
  PvlResult expected;
  const char* logged;  // a line the failure logs, or null
};

PvlResult RefusingLensFactory(IEnv*, ZUEUID, void*, void** out) {
  *out = nullptr;
  return PVL_E_OUTOFMEMORY;
}

class CreationFailureTest : public SensorDriverTest, public ::testing::WithParamInterface<CreationFailure> {};

TEST_P(CreationFailureTest, LeavesNothingBehind) {
  const CreationFailure& c = GetParam();
  c.arrange();
  CPvlPtr<ICameraDriver> sensor;
  PvlResult r = PVL_OK;
  std::vector<std::string> log = LogLines([&] { r = CreateSensor(sensor); });
  EXPECT_EQ(r, c.expected);
  EXPECT_FALSE(sensor);
  if (c.logged) {
    EXPECT_EQ(CountContaining(log, c.logged), 1u);
  }
  EXPECT_TRUE(BoardSensorState().inReset);
  EXPECT_EQ(BoardI2cOpenCount(), 0);
  OrbhostTest_FailAllocation(0);
  EXPECT_EQ(OrbhostTest_LiveBlocks(nullptr), liveBlocks_);
}

INSTANTIATE_TEST_SUITE_P(
    Sensor, CreationFailureTest,
    ::testing::Values(
        CreationFailure{"AnotherChip", [] { BoardSensorSetChipId(0x1234); }, PVL_E_UNSUPPORTED, nullptr},
        CreationFailure{"NoSensorOnTheBus", [] { BoardSensorSetPresent(false); }, PVL_E_UNSUPPORTED,
                        "I2C reading failed with register = 0"},
        CreationFailure{"BusRefusesEveryTransfer", [] { BoardI2cSetNoAnswer(true); }, PVL_E_UNSUPPORTED,
                        "I2C reading failed with register = 0"},
        CreationFailure{"SensorStaysInReset", [] { BoardSensorStayInReset(true); }, PVL_E_UNSUPPORTED, nullptr},
        CreationFailure{"NoBusDevice", [] { BoardI2cSetPresent(false); }, PVL_E_FAIL, nullptr},
        CreationFailure{"LensDriverCannotBeMade",
                        [] { OrbhostTest_RegisterClass(ZUEUID_CLASS_S5K3E2FX_AF_DRIVER, &RefusingLensFactory); },
                        PVL_E_OUTOFMEMORY, "Failed CreateInstance AF clsid = 108aecf, AF id = 108aecf"},
        CreationFailure{"NoMemory", [] { OrbhostTest_FailAllocation(1); }, PVL_E_OUTOFMEMORY, nullptr}),
    [](const ::testing::TestParamInfo<CreationFailure>& info) { return std::string(info.param.name); });

TEST_F(SensorDriverTest, CreationRefusesOtherClassesAndNullArguments) {
  void* out = nullptr;
  EXPECT_EQ(PVL_E_NOTSUPPORTED, S5K3E2FX_5M_CreateInstance(env_.Get(), ZUEUID_CLASS_S5K3E2FX_AF_DRIVER, nullptr, &out));
  // No environment: nothing is touched, nothing released.
  EXPECT_EQ(PVL_E_NULLPTR, S5K3E2FX_5M_CreateInstance(nullptr, ZUEUID_CLASS_S5K3E2FX_SENSOR_DRIVER, nullptr, &out));
  EXPECT_EQ(PVL_E_NULLPTR, S5K3E2FX_5M_CreateInstance(env_.Get(), ZUEUID_CLASS_S5K3E2FX_SENSOR_DRIVER, nullptr, nullptr));
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(BoardI2cOpenCount(), 0);
  EXPECT_TRUE(BoardI2cTransfers().empty());
}

TEST_F(SensorDriverTest, PowerDownAndUpDriveTheResetLine) {
  CPvlPtr<ICameraDriver> sensor;
  ASSERT_EQ(PVL_OK, CreateSensor(sensor));
  EXPECT_EQ(PVL_OK, Run(sensor.Get(), ZUEUID_SENSOR_CMD_POWER_DOWN));
  EXPECT_TRUE(BoardSensorState().inReset);
  // Already down: Stop touches nothing.
  ChipSimClearCalls();
  EXPECT_EQ(PVL_OK, sensor->Stop());
  EXPECT_TRUE(ChipSimCalls().empty());
  EXPECT_EQ(PVL_OK, Run(sensor.Get(), ZUEUID_SENSOR_CMD_POWER_UP));
  BoardSensorSummary s = BoardSensorState();
  EXPECT_FALSE(s.inReset);
  EXPECT_TRUE(s.streaming);
  EXPECT_EQ(PVL_OK, sensor->Stop());
  EXPECT_TRUE(BoardSensorState().inReset);
}

TEST_F(SensorDriverTest, StartAndStopTouchNothing) {
  CPvlPtr<ICameraDriver> sensor = PoweredSensor();
  EXPECT_EQ(PVL_OK, Run(sensor.Get(), ZUEUID_SENSOR_CMD_START));
  EXPECT_EQ(PVL_OK, Run(sensor.Get(), ZUEUID_SENSOR_CMD_STOP));
  EXPECT_TRUE(Transfers().empty());
}

TEST_F(SensorDriverTest, InterfaceAndArgumentRules) {
  CPvlPtr<ICameraDriver> sensor;
  ASSERT_EQ(PVL_OK, CreateSensor(sensor));
  ICameraDriver* d = sensor.Get();
  for (ZUEUID iid : {ZUEUID_IFACE_BASE, ZUEUID_IFACE_CAMERA_DRIVER}) {
    void* out = nullptr;
    EXPECT_EQ(PVL_OK, d->QueryInterface(iid, &out)) << std::hex << iid;
    EXPECT_EQ(out, d);
    EXPECT_EQ(d->Release(), 1);
  }
  void* out = d;
  EXPECT_EQ(PVL_E_NOTSUPPORTED, d->QueryInterface(ZUEUID_IFACE_TUNING_DATA_PROVIDER, &out));
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(PVL_E_NULLPTR, d->QueryInterface(ZUEUID_IFACE_BASE, nullptr));

  uint32_t length = 7;
  uint8_t buffer[4];
  EXPECT_EQ(PVL_E_UNSUPPORTED, d->OptionalQueryA(nullptr, 0, &length));
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(PVL_E_NULLPTR, d->OptionalQueryA(buffer, 4, nullptr));
  EXPECT_EQ(PVL_E_NULLPTR, d->OptionalQueryB(nullptr, 4, &length));
  EXPECT_EQ(PVL_E_UNSUPPORTED, d->OptionalSetA(buffer));
  EXPECT_EQ(PVL_E_NULLPTR, d->OptionalSetB(nullptr));

  // Command's own rule runs before any handler.
  SensorCapabilities caps;
  EXPECT_EQ(PVL_E_NULLPTR, d->Command(ZUEUID_SENSOR_PROPERTY_CAPABILITIES, nullptr, 0, &caps, sizeof caps, nullptr));
  EXPECT_EQ(PVL_E_NULLPTR, d->Command(ZUEUID_SENSOR_CMD_EXPOSURE, nullptr, 8, nullptr, 0, nullptr));
  EXPECT_EQ(PVL_E_NULLPTR, d->Command(ZUEUID_SENSOR_CMD_EXPOSURE, nullptr, 0, nullptr, 8, &length));
  // Commands this sensor has no use for.
  for (uint32_t c : {ZUEUID_SENSOR_CMD_ANTIBANDING, ZUEUID_SENSOR_CMD_WHITE_BALANCE, ZUEUID_SENSOR_CMD_ISO,
                     ZUEUID_SENSOR_PROPERTY_WB_CALIBRATION, 0u})
    EXPECT_EQ(PVL_E_UNSUPPORTED, d->Command(c, nullptr, 0, nullptr, 0, &length)) << std::hex << c;
}

struct PropertyCase {
  const char* name;
  uint32_t command;
  std::vector<uint32_t> words;  // the record at creation, as words
};

class PropertyTest : public SensorDriverTest, public ::testing::WithParamInterface<PropertyCase> {};

TEST_P(PropertyTest, SizeQueryWrongSizeAndResetValues) {
  const PropertyCase& c = GetParam();
  CPvlPtr<ICameraDriver> sensor;
  ASSERT_EQ(PVL_OK, CreateSensor(sensor));
  const uint32_t size = uint32_t(c.words.size() * 4);
  uint32_t length = 0;
  EXPECT_EQ(PVL_OK, sensor->Command(c.command, nullptr, 0, nullptr, 0, &length));
  EXPECT_EQ(length, size);
  std::vector<uint32_t> record(c.words.size() + 1, 0xDEADBEEF);
  length = 0;
  EXPECT_EQ(PVL_E_BADARG, sensor->Command(c.command, nullptr, 0, record.data(), size + 4, &length));
  EXPECT_EQ(length, size);
  EXPECT_EQ(PVL_OK, sensor->Command(c.command, nullptr, 0, record.data(), size, &length));
  record.pop_back();
  EXPECT_EQ(record, c.words);
}

uint32_t FloatWord(float f) {
  uint32_t w;
  std::memcpy(&w, &f, 4);
  return w;
}

INSTANTIATE_TEST_SUITE_P(
    Sensor, PropertyTest,
    ::testing::Values(
        PropertyCase{"Capabilities", ZUEUID_SENSOR_PROPERTY_CAPABILITIES, {2, 2, 2, 2, 4, 2, 2, 0}},
        PropertyCase{"Optics", ZUEUID_SENSOR_PROPERTY_OPTICS,
                     {1, 0, FloatWord(3.2f), FloatWord(3.2f), FloatWord(3.2f), 0, 0, 0}},
        PropertyCase{"ExtraInfo", ZUEUID_SENSOR_PROPERTY_EXTRA_INFO, {0, 0, 0}},
        PropertyCase{"OutputFormat", ZUEUID_SENSOR_PROPERTY_OUTPUT_FORMAT, {3, 2, 12}},
        PropertyCase{"Timing", ZUEUID_SENSOR_PROPERTY_TIMING, {33333, 33333, 80000000, 80000000}},
        PropertyCase{"Geometry", ZUEUID_SENSOR_PROPERTY_GEOMETRY,
                     {2732, 972, 1296, 0, 0, 972, 1296, 1296, 972, 2608, 1960, 2, 2, 2}},
        PropertyCase{"ModeInfo", ZUEUID_SENSOR_PROPERTY_MODE_INFO, {1, 1, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0}},
        PropertyCase{"GainInfo", ZUEUID_SENSOR_PROPERTY_GAIN_INFO, {0, 0, 511, 0, 0}}),
    [](const ::testing::TestParamInfo<PropertyCase>& info) { return std::string(info.param.name); });

TEST_F(SensorDriverTest, IdentityFillsOnlyBuffersThatHoldTheText) {
  CPvlPtr<ICameraDriver> sensor;
  ASSERT_EQ(PVL_OK, CreateSensor(sensor));
  uint32_t length = 0;
  EXPECT_EQ(PVL_OK, sensor->Command(ZUEUID_SENSOR_PROPERTY_IDENTITY, nullptr, 0, nullptr, 0, &length));
  EXPECT_EQ(length, sizeof(SensorIdentity));  // 40 on the phone

  SensorIdentity id{};
  ASSERT_EQ(PVL_OK, Read(sensor.Get(), ZUEUID_SENSOR_PROPERTY_IDENTITY, &id));
  EXPECT_EQ(id.Kind, 1u);
  EXPECT_EQ(id.Maker.Length, 8u);
  EXPECT_EQ(id.Model.Length, 20u);
  EXPECT_EQ(id.Identifier.Length, 27u);

  char maker[8], model[19], identifier[64];
  std::memset(model, 'x', sizeof model);
  id = SensorIdentity{};
  id.Maker = {reinterpret_cast<uintptr_t>(maker), sizeof maker, 0};
  id.Model = {reinterpret_cast<uintptr_t>(model), sizeof model, 0};  // one byte short
  id.Identifier = {reinterpret_cast<uintptr_t>(identifier), sizeof identifier, 0};
  ASSERT_EQ(PVL_OK, Read(sensor.Get(), ZUEUID_SENSOR_PROPERTY_IDENTITY, &id));
  EXPECT_STREQ(maker, "Samsung");
  EXPECT_STREQ(identifier, "Samsung_S5K3E2FX_5MP_BAYER");
  EXPECT_EQ(model[0], 'x');
  EXPECT_EQ(id.Model.Length, 20u);
  char full[20];
  id.Model = {reinterpret_cast<uintptr_t>(full), sizeof full, 0};
  ASSERT_EQ(PVL_OK, Read(sensor.Get(), ZUEUID_SENSOR_PROPERTY_IDENTITY, &id));
  EXPECT_STREQ(full, "S5K3E2FX 5MP BAYER)");
}

// Frame timing by requested size. A size is full resolution only when both
// sides fit the array: one fitting side alone is no mode of this sensor.
struct TimingCase {
  const char* name;
  uint32_t width, height;
  PvlResult result;
  std::vector<uint32_t> words;
};

class FrameTimingTest : public SensorDriverTest, public ::testing::WithParamInterface<TimingCase> {};

const std::vector<uint32_t> kPreviewTiming = {1, 994, 2732, 1296, 972, 80000000, 33945, 33945};
const std::vector<uint32_t> kFullTiming = {1, 1974, 2732, 2608, 1960, 80000000, 67412, 67412};

TEST_P(FrameTimingTest, ClassifiesTheSize) {
  const TimingCase& c = GetParam();
  CPvlPtr<ICameraDriver> sensor;
  ASSERT_EQ(PVL_OK, CreateSensor(sensor));
  BoardI2cClearRecords();
  SensorFrameTimingRequest request{c.width, c.height, 0, 0};
  SensorFrameTimingAnswer answer{};
  uint32_t length = 99;
  EXPECT_EQ(c.result, sensor->Command(ZUEUID_SENSOR_CMD_GET_FRAME_TIMING, &request, sizeof request, &answer,
                                      sizeof answer, &length));
  EXPECT_EQ(length, 0u);  // this handler reports no length
  if (c.result == PVL_OK) {
    EXPECT_EQ(std::vector<uint32_t>(answer.Words, answer.Words + 8), c.words);
  }
  EXPECT_TRUE(Transfers().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Sensor, FrameTimingTest,
    ::testing::Values(TimingCase{"Preview", 1296, 972, PVL_OK, kPreviewTiming},
                      TimingCase{"SmallPreview", 1, 1, PVL_OK, kPreviewTiming},
                      TimingCase{"WidthAbovePreview", 1297, 100, PVL_OK, kFullTiming},
                      TimingCase{"HeightAbovePreview", 640, 973, PVL_OK, kFullTiming},
                      TimingCase{"Full", 2608, 1960, PVL_OK, kFullTiming},
                      TimingCase{"Empty", 0, 0, PVL_E_BADARG, {}},
                      TimingCase{"BothTooLarge", 3000, 2000, PVL_E_BADARG, {}},
                      TimingCase{"WidthTooLarge", 3000, 1000, PVL_E_BADARG, {}},
                      TimingCase{"HeightTooLarge", 2000, 2500, PVL_E_BADARG, {}},
                      TimingCase{"ZeroWidth", 0, 1000, PVL_E_BADARG, {}}),
    [](const ::testing::TestParamInfo<TimingCase>& info) { return std::string(info.param.name); });

TEST_F(SensorDriverTest, FrameTimingChecksItsRecords) {
  CPvlPtr<ICameraDriver> sensor;
  ASSERT_EQ(PVL_OK, CreateSensor(sensor));
  SensorFrameTimingRequest request{640, 480, 0, 0};
  SensorFrameTimingAnswer answer{};
  uint32_t length = 0;
  EXPECT_EQ(PVL_E_NULLPTR, sensor->Command(ZUEUID_SENSOR_CMD_GET_FRAME_TIMING, nullptr, 0, &answer, 32, &length));
  EXPECT_EQ(PVL_OK, sensor->Command(ZUEUID_SENSOR_CMD_GET_FRAME_TIMING, &request, 16, nullptr, 0, &length));
  EXPECT_EQ(PVL_E_BADARG, sensor->Command(ZUEUID_SENSOR_CMD_GET_FRAME_TIMING, &request, 12, &answer, 32, &length));
  EXPECT_EQ(PVL_E_BADARG, sensor->Command(ZUEUID_SENSOR_CMD_GET_FRAME_TIMING, &request, 16, &answer, 28, &length));
}

// The mode command's sizes: an impossible size is refused before any transfer.
struct ModeSizeCase {
  const char* name;
  int32_t width, height;
  PvlResult result;
  uint32_t outputWidth;  // the mode chosen (0 when refused)
  int32_t lines = 500;   // the mode's exposure
};

class ModeSizeTest : public SensorDriverTest, public ::testing::WithParamInterface<ModeSizeCase> {};

TEST_P(ModeSizeTest, SelectsTheModeOrRefusesWithoutTraffic) {
  const ModeSizeCase& c = GetParam();
  CPvlPtr<ICameraDriver> sensor = PoweredSensor();
  SensorModeRecord request{};
  request.resolution = {c.width, c.height};
  request.exposureConfig = {256, c.lines};
  SensorModeRecord reply{};
  uint32_t length = 0;
  EXPECT_EQ(c.result, sensor->Command(ZUEUID_SENSOR_CMD_SENSOR_MODE, &request, sizeof request, &reply, sizeof reply,
                                      &length));
  if (c.result != PVL_OK) {
    EXPECT_TRUE(Transfers().empty());
    return;
  }
  EXPECT_EQ(uint32_t(reply.resolution.width), c.outputWidth);
  EXPECT_EQ(Register16(0x034C), c.outputWidth);
}

INSTANTIATE_TEST_SUITE_P(Sensor, ModeSizeTest,
                         ::testing::Values(ModeSizeCase{"Vga", 640, 480, PVL_OK, 1296},
                                           ModeSizeCase{"Full", 2608, 1960, PVL_OK, 2608},
                                           ModeSizeCase{"JustAboveFull", 2609, 1961, PVL_E_BADARG, 0},
                                           ModeSizeCase{"OneSideTooLarge", 3000, 1000, PVL_E_BADARG, 0},
                                           ModeSizeCase{"NoWidth", 0, 1000, PVL_E_BADARG, 0},
                                           ModeSizeCase{"Negative", -640, 480, PVL_E_BADARG, 0},
                                           ModeSizeCase{"NegativeLineCount", 640, 480, PVL_E_BADARG, 0, -1}),
                         [](const ::testing::TestParamInfo<ModeSizeCase>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(SensorDriverTest, ModeAndExposureRecordRules) {
  CPvlPtr<ICameraDriver> sensor = PoweredSensor();
  ICameraDriver* d = sensor.Get();
  uint32_t length = 0;
  SensorModeRecord mode{};
  // Neither side: nothing to do is an error; wrong sizes on either side.
  EXPECT_EQ(PVL_E_BADARG, d->Command(ZUEUID_SENSOR_CMD_SENSOR_MODE, nullptr, 0, nullptr, 0, &length));
  EXPECT_EQ(length, 36u);
  EXPECT_EQ(PVL_E_BADARG, d->Command(ZUEUID_SENSOR_CMD_SENSOR_MODE, &mode, 32, nullptr, 0, nullptr));
  EXPECT_EQ(PVL_E_BADARG, d->Command(ZUEUID_SENSOR_CMD_SENSOR_MODE, nullptr, 0, &mode, 40, &length));
  SensorExposureRecord exposure{};
  EXPECT_EQ(PVL_E_BADARG, d->Command(ZUEUID_SENSOR_CMD_EXPOSURE, nullptr, 0, nullptr, 0, &length));
  EXPECT_EQ(length, 8u);
  EXPECT_EQ(PVL_E_BADARG, d->Command(ZUEUID_SENSOR_CMD_EXPOSURE, &exposure, 4, nullptr, 0, nullptr));
  EXPECT_EQ(PVL_E_BADARG, d->Command(ZUEUID_SENSOR_CMD_EXPOSURE, nullptr, 0, &exposure, 12, &length));
  // A negative line count is no exposure.
  EXPECT_EQ(PVL_E_BADARG, Apply(d, ZUEUID_SENSOR_CMD_EXPOSURE, SensorExposureRecord{256, -1}));
  EXPECT_TRUE(Transfers().empty());

  // Before the first mode every word of the stored mode record reads 0, and
  // the exposure record reports nothing applied yet.
  std::memset(&mode, 0x5A, sizeof mode);
  ASSERT_EQ(PVL_OK, Read(d, ZUEUID_SENSOR_CMD_SENSOR_MODE, &mode));
  const SensorModeRecord zero{};
  EXPECT_EQ(0, std::memcmp(&mode, &zero, sizeof mode));
  ASSERT_EQ(PVL_OK, Read(d, ZUEUID_SENSOR_CMD_EXPOSURE, &exposure));
  EXPECT_EQ(exposure.nGain, 0);
  EXPECT_EQ(exposure.nIntegrationLineCount, 0);
}

TEST_F(SensorDriverTest, ModeReplyCarriesTheModeAndTheRequestedYDecimation) {
  CPvlPtr<ICameraDriver> sensor = PoweredSensor();
  SensorModeRecord request{};
  request.resolution = {2000, 1500};
  request.decimation = {4, 3, 7};
  request.exposureConfig = {512, 1000};
  request.frameIntervalConfig.nFrameInterval = 66666;
  SensorModeRecord reply{};
  uint32_t length = 0;
  ASSERT_EQ(PVL_OK, sensor->Command(ZUEUID_SENSOR_CMD_SENSOR_MODE, &request, sizeof request, &reply, sizeof reply,
                                    &length));
  EXPECT_EQ(length, 36u);
  EXPECT_EQ(reply.resolution.width, 2608);
  EXPECT_EQ(reply.resolution.height, 1960);
  EXPECT_EQ(reply.decimation.nXDecimation, 1);
  EXPECT_EQ(reply.decimation.nYDecimation, 3);
  EXPECT_EQ(reply.decimation.decimationMode, 1);
  // The driver keeps no exposure or frame interval in its mode record.
  EXPECT_EQ(reply.exposureConfig.nGain, 0);
  EXPECT_EQ(reply.frameIntervalConfig.nFrameInterval, 0);
  SensorGeometry g{};
  ASSERT_EQ(PVL_OK, Read(sensor.Get(), ZUEUID_SENSOR_PROPERTY_GEOMETRY, &g));
  EXPECT_EQ(g.Words[13], 3u);
}

TEST_F(SensorDriverTest, ResetReturnsTheRecordsToPreview) {
  CPvlPtr<ICameraDriver> sensor = PoweredSensor();
  SensorModeRecord full{};
  full.resolution = {2608, 1960};
  full.exposureConfig = {256, 500};
  ASSERT_EQ(PVL_OK, Apply(sensor.Get(), ZUEUID_SENSOR_CMD_SENSOR_MODE, full));
  ASSERT_EQ(PVL_OK, Run(sensor.Get(), ZUEUID_SENSOR_CMD_RESET));
  SensorTiming t{};
  ASSERT_EQ(PVL_OK, Read(sensor.Get(), ZUEUID_SENSOR_PROPERTY_TIMING, &t));
  EXPECT_EQ(t.Words[0], 33333u);
  SensorGeometry g{};
  ASSERT_EQ(PVL_OK, Read(sensor.Get(), ZUEUID_SENSOR_PROPERTY_GEOMETRY, &g));
  EXPECT_EQ(g.Words[1], 972u);
  EXPECT_EQ(g.Words[2], 1296u);
  // And the sensor runs the preview set again.
  BoardSensorSummary s = BoardSensorState();
  EXPECT_EQ(s.width, 1296u);
  EXPECT_EQ(s.fll, 994u);
  EXPECT_TRUE(s.streaming);
}

}  // namespace
}  // namespace senvartest
