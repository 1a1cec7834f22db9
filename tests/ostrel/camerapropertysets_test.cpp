// The camera's control sets through the client on the stand-in engine: camera
// control (ranges, the focus machine, the driver's own controls, zoom limits), the
// advanced set, video proc amp with its re-mapping, video compression on the still
// port, and the maker's coded values turned into requests of the other sets.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "ostrel_fixture.h"

namespace ostrel_test {
namespace {

constexpr DWORD kInvalidOperation = 4317;

class SetsTest : public DriverTest {
 protected:
  void SetUp() override {
    DriverTest::SetUp();
    LoadAndOpen();
  }
  int32_t EngineInt(uint32_t id, uint32_t* mode = nullptr) {
    PvlValueRecord v{};
    EXPECT_TRUE(FakeCameraEngine::PropertyValue(id, &v, mode)) << std::hex << id;
    return v.payload.i32;
  }
  float EngineFloat(uint32_t id) {
    PvlValueRecord v{};
    EXPECT_TRUE(FakeCameraEngine::PropertyValue(id, &v)) << std::hex << id;
    return v.payload.f;
  }
  // The still pin instantiated with its JPEG format.
  void OpenStill(camclient::Pin& still) {
    ASSERT_EQ(still.Open(), ERROR_SUCCESS);
    ASSERT_EQ(still.Instantiate(CS_PIN_STILL), ERROR_SUCCESS);
  }
};

// ---- Camera control -------------------------------------------------------------------------

struct ValueCase {
  const char* name;
  uint32_t id;
  int32_t value;
  uint32_t flags;
  DWORD result;
};

class CameraControlSetTest : public SetsTest, public ::testing::WithParamInterface<ValueCase> {};

TEST_P(CameraControlSetTest, RangeAndFlags) {
  const ValueCase& c = GetParam();
  EXPECT_EQ(camera_.SetValue(PROPSETID_VIDCAP_CAMERACONTROL, c.id, c.value, c.flags), c.result);
}

INSTANTIATE_TEST_SUITE_P(
    Sets, CameraControlSetTest,
    ::testing::Values(ValueCase{"ExposureAutoIsClamped", 4, -20, 1, ERROR_SUCCESS},
                      ValueCase{"ExposureManualOutOfRange", 4, -20, 2, ERROR_INVALID_PARAMETER},
                      ValueCase{"ExposureSelectorTheTranslatorRefuses", 4, -4, 4, ERROR_INVALID_PARAMETER},
                      ValueCase{"ExposureManualInRange", 4, -5, 2, ERROR_SUCCESS},
                      ValueCase{"FlagsNotOneOfFour", 4, -4, 3, ERROR_INVALID_PARAMETER},
                      ValueCase{"PanIsNotSupported", 0, 0, 1, ERROR_NOT_SUPPORTED},
                      ValueCase{"IdBetweenTheTables", 8, 0, 1, ERROR_INVALID_PARAMETER},
                      ValueCase{"IdPastTheTable", 279, 0, 1, ERROR_INVALID_PARAMETER},
                      ValueCase{"AnglesAreReadOnly", CSPROPERTY_CAMERACONTROL_PAN_ANGLE, 0, 1, ERROR_NOT_SUPPORTED},
                      ValueCase{"MeteringManual", CSPROPERTY_CAMERACONTROL_METERING, 4, 1, ERROR_SUCCESS}),
    [](const ::testing::TestParamInfo<ValueCase>& i) { return std::string(i.param.name); });

TEST_F(SetsTest, ExposureReachesTheEngineInMicroseconds) {
  ASSERT_EQ(camera_.SetValue(PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_EXPOSURE, -20, 1), ERROR_SUCCESS);
  EXPECT_EQ(EngineInt(ZUEUID_PROPERTY_SNAPSHOT_SHUTTER_SPEED), 1953) << "clamped to -9: 1/512 s";
  int32_t value = 0;
  uint32_t flags = 0;
  ASSERT_EQ(camera_.GetValue(PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_EXPOSURE, &value, &flags), ERROR_SUCCESS);
  EXPECT_EQ(value, -9);
  EXPECT_EQ(flags, 1u);
}

TEST_F(SetsTest, TheFocusMachine) {
  struct Step {
    const char* name;
    int32_t value;
    DWORD result;
    int32_t state;
  } steps[] = {
      {"StopWhileIdle", 4, kInvalidOperation, 0}, {"SingleFocus", 1, ERROR_SUCCESS, 3},
      {"StartWhileFocusing", 1, kInvalidOperation, 3}, {"Stop", 4, ERROR_SUCCESS, 0},
      {"Continuous", 2, ERROR_SUCCESS, 3},           {"OtherValue", 3, kInvalidOperation, 3},
  };
  for (const Step& s : steps) {
    EXPECT_EQ(camera_.SetValue(PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_FOCUS_CONTROL, s.value, 2), s.result) << s.name;
    int32_t state = -1;
    ASSERT_EQ(camera_.GetValue(PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_FOCUS_CONTROL, &state), ERROR_SUCCESS);
    EXPECT_EQ(state, s.state) << s.name;
  }
  EXPECT_EQ(FakeCameraEngine::CallCount("StartFocus"), 1);
  EXPECT_EQ(FakeCameraEngine::CallCount("StartFocus(continuous)"), 1);
  EXPECT_NE(FakeCameraEngine::LastFocusSignalControl(), 0u) << "the focus thread's signal goes with the run";
}

TEST_F(SetsTest, AFailedFocusRunDoesNotLeaveFocusDead) {
  FakeCameraEngine::SetControlResult("StartFocus", 1);
  EXPECT_EQ(camera_.SetValue(PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_FOCUS_CONTROL, 2, 2), DWORD(ERROR_FUNCTION_FAILED));
  int32_t state = -1;
  ASSERT_EQ(camera_.GetValue(PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_FOCUS_CONTROL, &state), ERROR_SUCCESS);
  EXPECT_EQ(state, 5);
  FakeCameraEngine::SetControlResult("StartFocus", 0);
  EXPECT_EQ(camera_.SetValue(PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_FOCUS_CONTROL, 1, 2), ERROR_SUCCESS) << "a new run starts";
  ASSERT_EQ(camera_.GetValue(PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_FOCUS_CONTROL, &state), ERROR_SUCCESS);
  EXPECT_EQ(state, 3);
}

TEST_F(SetsTest, TheDriversOwnControls) {
  int32_t value = 0;
  uint32_t flags = 0;
  ASSERT_EQ(camera_.GetValue(PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_PAN_ANGLE, &value, &flags), ERROR_SUCCESS);
  EXPECT_EQ(value, 1);
  EXPECT_EQ(flags, 1u);
  // An unchecked power value is kept and changes nothing.
  EXPECT_EQ(camera_.SetValue(PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_POWER, 5, 4), ERROR_SUCCESS);
  ASSERT_EQ(camera_.GetValue(PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_POWER, &value), ERROR_SUCCESS);
  EXPECT_EQ(value, 5);
  EXPECT_EQ(FakeCameraEngine::CallCount("Suspend"), 0);
  EXPECT_EQ(camera_.SetValue(PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_POWER, 0, 2), ERROR_SUCCESS);
  EXPECT_EQ(FakeCameraEngine::CallCount("Suspend"), 1) << "0 is D4";
  EXPECT_EQ(camera_.SetValue(PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_POWER, 1, 2), ERROR_SUCCESS);
  EXPECT_EQ(FakeCameraEngine::CallCount("Resume"), 1) << "1 is D0";
}

TEST_F(SetsTest, ZoomFollowsTheEnginesLimits) {
  int32_t minimum = 0, maximum = 0, def = 0;
  ASSERT_EQ(camera_.Range(PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_ZOOM_MAGNIFICATION, &minimum, &maximum, &def), ERROR_SUCCESS);
  EXPECT_EQ(minimum, 100);
  EXPECT_EQ(maximum, 400) << "the engine's 4x, not the table's 100x";
  EXPECT_EQ(camera_.SetValue(PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_ZOOM_MAGNIFICATION, 401, 2), DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(camera_.SetValue(PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_ZOOM_MAGNIFICATION, 250, 2), ERROR_SUCCESS);
  EXPECT_FLOAT_EQ(EngineFloat(ZUEUID_PROPERTY_ZOOM_MAGNIFICATION), 2.5f);
}

// ---- Advanced camera control ------------------------------------------------------------------

TEST_F(SetsTest, AdvancedFocusRectangles) {
  struct Rects {
    uint32_t total, count;
    int32_t r[2][4];
  } rects{40, 2, {{1, 2, 3, 4}, {5, 6, 7, 8}}};
  CSPROPERTY header{};
  EXPECT_EQ(camera_.Property(KORCSPROPSETID_EX_CAMERACONTROL_ADV, 1, CSPROPERTY_TYPE_SET, &header, sizeof header,
                             &rects, sizeof rects),
            ERROR_SUCCESS);
  ASSERT_EQ(FakeCameraEngine::FocusRects().size(), 2u);
  EXPECT_EQ(FakeCameraEngine::FocusRects()[1].right, 7);
  Rects back{};
  DWORD returned = 0;
  EXPECT_EQ(camera_.Property(KORCSPROPSETID_EX_CAMERACONTROL_ADV, 1, CSPROPERTY_TYPE_GET, &header, sizeof header,
                             &back, sizeof back - 1, &returned),
            DWORD(ERROR_MORE_DATA))
      << "one byte short of count x 16 + 8";
  EXPECT_EQ(returned, 40u);
  ASSERT_EQ(camera_.Property(KORCSPROPSETID_EX_CAMERACONTROL_ADV, 1, CSPROPERTY_TYPE_GET, &header, sizeof header,
                             &back, sizeof back, &returned),
            ERROR_SUCCESS);
  EXPECT_EQ(back.count, 2u);
  EXPECT_EQ(back.r[1][0], 5);
  // A count that names more rectangles than the buffer holds is refused before use.
  Rects lying = rects;
  lying.count = 1000000;
  EXPECT_EQ(camera_.Property(KORCSPROPSETID_EX_CAMERACONTROL_ADV, 1, CSPROPERTY_TYPE_SET, &header, sizeof header,
                             &lying, sizeof lying),
            DWORD(ERROR_MORE_DATA));
  EXPECT_EQ(FakeCameraEngine::FocusRects().size(), 2u);
}

TEST_F(SetsTest, AdvancedStillCountAndStopBeforeStill) {
  CSPROPERTY header{};
  uint32_t count = 3;
  EXPECT_EQ(camera_.Property(KORCSPROPSETID_EX_CAMERACONTROL_ADV, 2, CSPROPERTY_TYPE_SET, &header, sizeof header,
                             &count, sizeof count),
            ERROR_SUCCESS);
  EXPECT_EQ(camera_.Property(KORCSPROPSETID_EX_CAMERACONTROL_ADV, 2, CSPROPERTY_TYPE_GET, &header, sizeof header,
                             &count, sizeof count),
            DWORD(ERROR_INVALID_PARAMETER))
      << "the count is set only";
  uint8_t stop = 7;
  ASSERT_EQ(camera_.Property(KORCSPROPSETID_EX_CAMERACONTROL_ADV, 4, CSPROPERTY_TYPE_GET, &header, sizeof header,
                             &stop, 1),
            ERROR_SUCCESS);
  EXPECT_EQ(stop, 1);
  stop = 0;
  ASSERT_EQ(camera_.Property(KORCSPROPSETID_EX_CAMERACONTROL_ADV, 4, CSPROPERTY_TYPE_SET, &header, sizeof header,
                             &stop, 1),
            ERROR_SUCCESS);
  ASSERT_EQ(camera_.Property(KORCSPROPSETID_EX_CAMERACONTROL_ADV, 4, CSPROPERTY_TYPE_GET, &header, sizeof header,
                             &stop, 1),
            ERROR_SUCCESS);
  EXPECT_EQ(stop, 0);
  EXPECT_EQ(camera_.Property(KORCSPROPSETID_EX_CAMERACONTROL_ADV, 6, CSPROPERTY_TYPE_GET, &header, sizeof header,
                             &stop, 1),
            DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(camera_.Property(KORCSPROPSETID_EX_CAMERACONTROL_ADV, 5, CSPROPERTY_TYPE_SET, &header, sizeof header,
                             nullptr, 0),
            ERROR_SUCCESS);
  EXPECT_EQ(FakeCameraEngine::CallCount("StartVideo"), 1) << "video restarted";
}

// ---- Video proc amp ------------------------------------------------------------------------------

struct ProcAmpCase {
  const char* name;
  uint32_t id;
  int32_t value;
  uint32_t flags;
  uint32_t property;
  int32_t engine;  // the fake engine's 0..100 value after translation
};

class ProcAmpTest : public SetsTest, public ::testing::WithParamInterface<ProcAmpCase> {};

TEST_P(ProcAmpTest, ReachesTheEngine) {
  const ProcAmpCase& c = GetParam();
  ASSERT_EQ(camera_.SetValue(PROPSETID_VIDCAP_VIDEOPROCAMP, c.id, c.value, c.flags), ERROR_SUCCESS);
  EXPECT_EQ(EngineInt(c.property), c.engine);
}

INSTANTIATE_TEST_SUITE_P(
    Sets, ProcAmpTest,
    ::testing::Values(
        // Brightness -10000..10000 is bent onto -3000..3000 before the engine's 0..100.
        ProcAmpCase{"BrightnessTop", 0, 10000, 2, ZUEUID_PROPERTY_BRIGHTNESS, 65},
        ProcAmpCase{"BrightnessBottom", 0, -10000, 2, ZUEUID_PROPERTY_BRIGHTNESS, 35},
        ProcAmpCase{"BrightnessDefault", 0, 0, 2, ZUEUID_PROPERTY_BRIGHTNESS, 50},
        // Contrast and saturation are bent below their default 100 (onto 60..100
        // and 1..100); above it they are the engine's percent, unchanged.
        ProcAmpCase{"SaturationAboveTheDefault", 3, 5000, 2, ZUEUID_PROPERTY_SATURATION, 50},
        ProcAmpCase{"ContrastAboveTheDefault", 1, 7000, 2, ZUEUID_PROPERTY_CONTRAST, 70},
        ProcAmpCase{"ContrastBottom", 1, 0, 2, ZUEUID_PROPERTY_CONTRAST, 1},
        ProcAmpCase{"SharpnessNotBent", 4, 70, 2, ZUEUID_PROPERTY_SHARPNESS, 70}),
    [](const ::testing::TestParamInfo<ProcAmpCase>& i) { return std::string(i.param.name); });

TEST_F(SetsTest, ProcAmpRefusalsAreReported) {
  EXPECT_EQ(camera_.SetValue(PROPSETID_VIDCAP_VIDEOPROCAMP, CSPROPERTY_VIDEOPROCAMP_BRIGHTNESS, 10001, 2), DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(camera_.SetValue(PROPSETID_VIDCAP_VIDEOPROCAMP, 6, 0, 2), DWORD(ERROR_NOT_SUPPORTED));
  EXPECT_EQ(camera_.SetValue(PROPSETID_VIDCAP_VIDEOPROCAMP, CSPROPERTY_VIDEOPROCAMP_SATURATION, 5000, 1), DWORD(ERROR_INVALID_PARAMETER))
      << "saturation is manual only";
  EXPECT_EQ(camera_.SetValue(PROPSETID_VIDCAP_VIDEOPROCAMP, 10, 0, 2), DWORD(ERROR_INVALID_PARAMETER));
  FakeCameraEngine::SetPropertyResult(ZUEUID_PROPERTY_BRIGHTNESS, 13);
  EXPECT_EQ(camera_.SetValue(PROPSETID_VIDCAP_VIDEOPROCAMP, CSPROPERTY_VIDEOPROCAMP_BRIGHTNESS, 100, 2), DWORD(ERROR_INVALID_PARAMETER))
      << "a value the engine refused is not reported as set";
}

// ---- The opening every table set shares ----------------------------------------------------------

// Set support is answered before the id is looked at; a short input before anything.
TEST_F(SetsTest, TableSetsAnswerSetSupportForAnyId) {
  struct Set {
    const char* name;
    const CsGuid* set;
  } const kSets[] = {{"CameraControl", &PROPSETID_VIDCAP_CAMERACONTROL},
                     {"Advanced", &KORCSPROPSETID_EX_CAMERACONTROL_ADV},
                     {"ProcAmp", &PROPSETID_VIDCAP_VIDEOPROCAMP},
                     {"Compression", &PROPSETID_VIDCAP_VIDEOCOMPRESSION},
                     {"VideoControl", &PROPSETID_VIDCAP_VIDEOCONTROL}};
  for (const Set& s : kSets) {
    uint8_t in[40] = {};
    uint8_t out[64] = {};
    DWORD returned = 7;
    EXPECT_EQ(camera_.Property(*s.set, 9999, CSPROPERTY_TYPE_SETSUPPORT, in, sizeof in, out, sizeof out, &returned),
              ERROR_SUCCESS)
        << s.name;
    EXPECT_EQ(returned, 0u) << s.name;
    CSPROPERTY header{*s.set, 9999, CSPROPERTY_TYPE_SETSUPPORT};
    EXPECT_EQ(camera_.IoControl(IOCTL_CS_PROPERTY, &header, sizeof header - 1, out, sizeof out, &returned),
              DWORD(ERROR_INVALID_PARAMETER))
        << s.name;
  }
}

// ---- Engine rows: the code and the log line of each step ----------------------------------------

// Camera control and proc amp share their engine steps (fetch, translate, write) but
// not every line: camera control's reads end their lines with a comma.
struct EngineRowCase {
  const char* name;
  bool procAmp;
  bool get;
  uint32_t id;
  int32_t value;
  uint32_t flags;
  uint32_t property;  // the engine property behind the id
  bool refused;       // the engine refuses its set
  DWORD result;
  const char* line;  // printf form, the engine id its one argument
};

class EngineRowTest : public SetsTest, public ::testing::WithParamInterface<EngineRowCase> {
 protected:
  void TearDown() override {
    CeSimDebugCaptureEnd();
    SetsTest::TearDown();
  }
};

TEST_P(EngineRowTest, AnswersAndLogs) {
  const EngineRowCase& c = GetParam();
  const CsGuid& set = c.procAmp ? PROPSETID_VIDCAP_VIDEOPROCAMP : PROPSETID_VIDCAP_CAMERACONTROL;
  if (c.refused) FakeCameraEngine::SetPropertyResult(c.property, 13);
  CeSimDebugCaptureBegin();
  int32_t value = 0;
  EXPECT_EQ(c.get ? camera_.GetValue(set, c.id, &value) : camera_.SetValue(set, c.id, c.value, c.flags), c.result);
  char line[160];
  snprintf(line, sizeof line, c.line, c.property);
  const std::vector<std::string> lines = CeSimDebugCaptured();
  EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
}

INSTANTIATE_TEST_SUITE_P(
    Sets, EngineRowTest,
    ::testing::Values(
        EngineRowCase{"CameraControlGet", false, true, CSPROPERTY_CAMERACONTROL_METERING, 0, 0, ZUEUID_PROPERTY_EXPOSURE_METERING_MODE, false,
                      ERROR_SUCCESS, "Property successfully retrieved from Camera Engine: PVLID=%x, result=0,"},
        EngineRowCase{"CameraControlSet", false, false, CSPROPERTY_CAMERACONTROL_METERING, 4, 2, ZUEUID_PROPERTY_EXPOSURE_METERING_MODE, false,
                      ERROR_SUCCESS, "Property successfully set on Camera Engine: PVLID=%x, result=0"},
        EngineRowCase{"CameraControlTranslationRefused", false, false, 4, -4, 4,
                      ZUEUID_PROPERTY_SNAPSHOT_SHUTTER_SPEED, false, ERROR_INVALID_PARAMETER,
                      "Translation from DS to PVL property failed: PVLID=%x, result=14"},
        EngineRowCase{"CameraControlEngineRefused", false, false, CSPROPERTY_CAMERACONTROL_METERING, 4, 2,
                      ZUEUID_PROPERTY_EXPOSURE_METERING_MODE, true, ERROR_INVALID_PARAMETER,
                      "Could not set property on Camera Engine: PVLID=%x, result=13"},
        EngineRowCase{"ProcAmpGet", true, true, 4, 0, 0, ZUEUID_PROPERTY_SHARPNESS, false, ERROR_SUCCESS,
                      "Property successfully retrieved from Camera Engine: PVLID=%x, result=0"},
        EngineRowCase{"ProcAmpSet", true, false, 4, 70, 2, ZUEUID_PROPERTY_SHARPNESS, false, ERROR_SUCCESS,
                      "Property successfully set on Camera Engine: PVLID=%x, result=0"},
        EngineRowCase{"ProcAmpTranslationRefused", true, false, 0, 0, 4, ZUEUID_PROPERTY_BRIGHTNESS, false,
                      ERROR_INVALID_PARAMETER, "Translation from DS to PVL property failed: PVLID=%x, result=14"},
        EngineRowCase{"ProcAmpEngineRefused", true, false, 4, 70, 2, ZUEUID_PROPERTY_SHARPNESS, true,
                      ERROR_INVALID_PARAMETER, "Could not set property on Camera Engine: PVLID=%x, result=13"}),
    [](const ::testing::TestParamInfo<EngineRowCase>& i) { return std::string(i.param.name); });

// ---- Video compression --------------------------------------------------------------------------

TEST_F(SetsTest, CompressionServesTheStillPinOnly) {
  CSPROPERTY_VIDEOCOMPRESSION_GETINFO_S info{};
  info.StreamIndex = CS_PIN_CAPTURE;
  EXPECT_EQ(camera_.Get(PROPSETID_VIDCAP_VIDEOCOMPRESSION, 0, &info, sizeof info), DWORD(ERROR_INVALID_PARAMETER));
  info.StreamIndex = CS_PIN_STILL;
  EXPECT_EQ(camera_.Get(PROPSETID_VIDCAP_VIDEOCOMPRESSION, 0, &info, sizeof info), DWORD(ERROR_INVALID_STATE))
      << "no still stream yet";
  camclient::Pin still;
  OpenStill(still);
  ASSERT_EQ(camera_.Get(PROPSETID_VIDCAP_VIDEOCOMPRESSION, 0, &info, sizeof info), ERROR_SUCCESS);
  EXPECT_EQ(info.DefaultKeyFrameRate, 1);
  EXPECT_EQ(info.DefaultPFrameRate, 1);
  EXPECT_EQ(info.DefaultQuality, 7475);
  EXPECT_EQ(info.NumberOfQualitySettings, 10001);
  EXPECT_EQ(info.Capabilities, 1);

  CSPROPERTY_VIDEOCOMPRESSION_S quality{};
  quality.StreamIndex = CS_PIN_STILL;
  quality.Value = 10000;
  ASSERT_EQ(camera_.Set(PROPSETID_VIDCAP_VIDEOCOMPRESSION, 3, &quality, sizeof quality), ERROR_SUCCESS);
  uint32_t main = 0, thumb = 0;
  ASSERT_TRUE(FakeCameraEngine::StillPortValue(ZUEUID_PROPERTY_JPEG_QUALITY, &main));
  ASSERT_TRUE(FakeCameraEngine::StillPortValue(ZUEUID_PROPERTY_JPEG_THUMBNAIL_QUALITY, &thumb));
  EXPECT_EQ(main, 100u);
  EXPECT_EQ(thumb, 100u);
  quality.Value = 10001;
  EXPECT_EQ(camera_.Set(PROPSETID_VIDCAP_VIDEOCOMPRESSION, 3, &quality, sizeof quality),
            DWORD(ERROR_INVALID_PARAMETER));
  CSPROPERTY_VIDEOCOMPRESSION_S back{};
  back.StreamIndex = CS_PIN_STILL;
  ASSERT_EQ(camera_.Get(PROPSETID_VIDCAP_VIDEOCOMPRESSION, 3, &back, sizeof back), ERROR_SUCCESS);
  EXPECT_EQ(back.Value, 10000);
}

// ---- The maker's set ------------------------------------------------------------------------------

struct MakerCase {
  const char* name;
  uint32_t id;
  uint32_t value;
  DWORD result;
  uint32_t property;  // 0: none checked
  int32_t engine;
  uint32_t mode;      // the engine's control mode afterwards (99: not checked)
};

class MakerTest : public SetsTest, public ::testing::WithParamInterface<MakerCase> {};

TEST_P(MakerTest, CodedValues) {
  const MakerCase& c = GetParam();
  EXPECT_EQ(camera_.MakerSet(c.id, c.value), c.result);
  if (!c.property) return;
  uint32_t mode = 0;
  EXPECT_EQ(EngineInt(c.property, &mode), c.engine);
  if (c.mode != 99) {
    EXPECT_EQ(mode, c.mode);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sets, MakerTest,
    ::testing::Values(
        MakerCase{"Antibanding50", VANTOR_PROPERTY_ANTIBANDING, 2, ERROR_SUCCESS, ZUEUID_PROPERTY_ANTIBANDING_MODE, 50, 99},
        MakerCase{"AntibandingUnknown", VANTOR_PROPERTY_ANTIBANDING, 3, ERROR_INVALID_PARAMETER, 0, 0, 0},
        MakerCase{"ImageEffect16", VANTOR_PROPERTY_IMAGE_EFFECT, 16, ERROR_SUCCESS, ZUEUID_PROPERTY_IMAGE_EFFECT_MODE, 2, 1},
        MakerCase{"ImageEffect32", VANTOR_PROPERTY_IMAGE_EFFECT, 32, ERROR_INVALID_PARAMETER, 0, 0, 0},
        MakerCase{"MeteringSpot", VANTOR_PROPERTY_METERING, 1, ERROR_SUCCESS, ZUEUID_PROPERTY_EXPOSURE_METERING_MODE, 1, 2},
        MakerCase{"FlashAuto", VANTOR_PROPERTY_FLASH_MODE, 3, ERROR_SUCCESS, ZUEUID_PROPERTY_LAMP_MODE, 0, 3},
        MakerCase{"FlashUnknown", VANTOR_PROPERTY_FLASH_MODE, 5, ERROR_INVALID_PARAMETER, 0, 0, 0},
        MakerCase{"TouchExposureTopMiddle", VANTOR_PROPERTY_TOUCH_EXPOSURE, 0x0500, ERROR_SUCCESS, ZUEUID_PROPERTY_EXPOSURE_METERING_MODE, 4,
                  99},
        MakerCase{"TouchExposureLowerRight", VANTOR_PROPERTY_TOUCH_EXPOSURE, 0xB900, ERROR_SUCCESS, ZUEUID_PROPERTY_EXPOSURE_METERING_MODE,
                  11, 99},
        MakerCase{"TouchExposureFarRightColumn", VANTOR_PROPERTY_TOUCH_EXPOSURE, 0x0F00, ERROR_SUCCESS,
                  ZUEUID_PROPERTY_EXPOSURE_METERING_MODE, 5, 99},
        MakerCase{"FlashIntensity", VANTOR_PROPERTY_FLASH_INTENSITY, 1, ERROR_SUCCESS, 0, 0, 0},
        MakerCase{"UnservedId", 0x1002, 1, ERROR_SUCCESS, 0, 0, 0},
        MakerCase{"IdOutsideTheSet", 0x2000, 1, ERROR_SUCCESS, 0, 0, 0},
        MakerCase{"JpegWithoutAStillPin", VANTOR_PROPERTY_JPEG_QUALITY, 80, ERROR_INVALID_STATE, 0, 0, 0},
        MakerCase{"ExifWithoutAStillPin", VANTOR_PROPERTY_EXIF_INFORMATION, 0, ERROR_INVALID_PARAMETER, 0, 0, 0}),
    [](const ::testing::TestParamInfo<MakerCase>& i) { return std::string(i.param.name); });

TEST_F(SetsTest, MakerFocusZones) {
  struct Case {
    const char* name;
    uint32_t value;
    size_t rects;
    CPvlRect first;
  } cases[] = {{"OneCell", 0x7800, 1, {8, 7, 9, 8}}, {"TheCentreIsSixteen", 0x8700, 16, {4, 4, 5, 5}}};
  for (const Case& c : cases) {
    FakeCameraEngine::ClearCalls();
    ASSERT_EQ(camera_.MakerSet(VANTOR_PROPERTY_AUTO_FOCUS, c.value), ERROR_SUCCESS) << c.name;
    std::vector<CPvlRect> rects = FakeCameraEngine::FocusRects();
    ASSERT_EQ(rects.size(), c.rects) << c.name;
    EXPECT_EQ(rects[0].left, c.first.left) << c.name;
    EXPECT_EQ(rects[0].top, c.first.top) << c.name;
    EXPECT_EQ(rects[0].right, c.first.right) << c.name;
    EXPECT_EQ(rects.back().bottom, c.rects == 16 ? 11 : c.first.bottom) << c.name;
    EXPECT_EQ(FakeCameraEngine::CallCount("StartFocus"), 1) << c.name;
    ASSERT_EQ(camera_.MakerSet(VANTOR_PROPERTY_AUTO_FOCUS, 0), ERROR_SUCCESS) << "focus stopped";
  }
}

TEST_F(SetsTest, MakerZoomSteps) {
  ASSERT_EQ(camera_.MakerSet(VANTOR_PROPERTY_ZOOM, 3), ERROR_SUCCESS);
  EXPECT_NEAR(EngineFloat(ZUEUID_PROPERTY_ZOOM_MAGNIFICATION), 1.07f, 1e-6) << "1.023^3, in hundredths";
  ASSERT_EQ(camera_.MakerSet(VANTOR_PROPERTY_ZOOM, 0), ERROR_SUCCESS);
  EXPECT_NEAR(EngineFloat(ZUEUID_PROPERTY_ZOOM_MAGNIFICATION), 1.0f, 1e-6) << "back, held at the minimum";
  ASSERT_EQ(camera_.MakerSet(VANTOR_PROPERTY_ZOOM, 0xFFFFFFFF), ERROR_SUCCESS);
  EXPECT_NEAR(EngineFloat(ZUEUID_PROPERTY_ZOOM_MAGNIFICATION), 4.0f, 1e-6) << "a huge step stops at the maximum";
}

TEST_F(SetsTest, MakerGetsOnlyTheAutoFlashAnswer) {
  CSPROPERTY header{};
  uint32_t out = 99;
  DWORD returned = 0;
  EXPECT_EQ(camera_.Property(VANTOR_PROPSETID_CAMERA, VANTOR_PROPERTY_FLASH_MODE, CSPROPERTY_TYPE_GET, &header, sizeof header, &out,
                             sizeof out, &returned),
            ERROR_SUCCESS);
  EXPECT_EQ(out, 0u);
  EXPECT_EQ(camera_.Property(VANTOR_PROPSETID_CAMERA, VANTOR_PROPERTY_ANTIBANDING, CSPROPERTY_TYPE_GET, &header, sizeof header, &out,
                             sizeof out, &returned),
            DWORD(ERROR_INVALID_PARAMETER));
}

}  // namespace
}  // namespace ostrel_test
