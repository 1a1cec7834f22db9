// The driver's load, sensor probe, open and close, one owner at a time, the roll-back
// of a failed preparation, the request routing and the caller-buffer checks, all
// through the device manager as a capture application reaches them.
#include <cstring>
#include <thread>

#include "orbhost_test.h"
#include "ostrel_fixture.h"

namespace ostrel_test {
namespace {

const WCHAR kCameraKey[] = u"Drivers\\BuiltIn\\Camera";

// ---- Load and probe ----------------------------------------------------------------------

struct ProbeCase {
  const char* name;
  void (*board)();
  DWORD sensorType;
  const char* line;
};

class ProbeTest : public DriverTest, public ::testing::WithParamInterface<ProbeCase> {};

TEST_P(ProbeTest, RecordsTheSensorFoundAndKeepsTheDriverLoaded) {
  const ProbeCase& c = GetParam();
  c.board();
  camera::test::DebugCapture capture;
  Load();
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, kCameraKey, u"SensorType"), c.sensorType);
  EXPECT_TRUE(CeSimDebugCapturedContains(c.line)) << c.line;
  // The probe reads the identifier register at the sensor's address and leaves the bus released.
  bool readId = false;
  for (const BoardI2cTransfer& t : BoardI2cTransfers()) readId |= t.slave == 0x20;
  EXPECT_TRUE(readId || c.sensorType == 0);
  EXPECT_EQ(BoardI2cOpenCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Sensor, ProbeTest,
    ::testing::Values(ProbeCase{"Answers", [] {}, 16, "FOUND S5K3E2FX"},
                      ProbeCase{"Missing", [] { BoardSensorSetPresent(false); }, 0, "No any camera exists"},
                      ProbeCase{"WrongChip", [] { BoardSensorSetChipId(0x1234); }, 0, "No matched sensor ID"},
                      ProbeCase{"BusDown", [] { BoardI2cSetPresent(false); }, 0, "CameraSensorI2C_Init FAIL"}),
    [](const ::testing::TestParamInfo<ProbeCase>& i) { return std::string(i.param.name); });

TEST_F(DriverTest, AnUntrustedLoaderGetsNoCameraButTheSensorIsStillProbed) {
  CeSimSetCallerTrust(OEM_CERTIFY_RUN);
  EXPECT_EQ(ActivateDeviceEx(kCameraKey, nullptr, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
  EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, kCameraKey, u"SensorType"), 16u);
  EXPECT_EQ(DevMgrFindDevice(u"CAM1:"), nullptr);
}

TEST_F(DriverTest, ACameraNumberOtherThanOneOrTwoIsRefused) {
  WriteDword(kCameraKey, u"Index", 3);
  camera::test::DebugCapture capture;
  EXPECT_EQ(ActivateDeviceEx(kCameraKey, nullptr, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
  EXPECT_TRUE(CeSimDebugCapturedContains("Invalid camera device ID"));
}

TEST_F(DriverTest, LoadingRegistersWithTheKernelAndActivatesThePins) {
  Load();
  ASSERT_NE(Device(), nullptr);
  EXPECT_EQ(Device()->m_cookie, kCookie);
  EXPECT_FALSE(Device()->IsPrepared()) << "an idle camera holds no engine";
  EXPECT_EQ(FakeCameraEngine::OutsideReferences(), 0);
}

// ---- Open, close, one owner ---------------------------------------------------------------

TEST_F(DriverTest, OpenPreparesTheEngineAndCloseUndoesEverything) {
  LoadAndOpen();
  EXPECT_TRUE(Device()->IsPrepared());
  EXPECT_TRUE(FakeCameraEngine::Initialized());
  EXPECT_EQ(KernelCodes().back(), kOemCameraOpened);
  EXPECT_EQ(CeSimLiveThreadsSince(threadMark_), 2u) << "the focus and pre-flash threads";

  EXPECT_EQ(camera_.Close(), ERROR_SUCCESS);
  EXPECT_FALSE(Device()->IsPrepared());
  EXPECT_FALSE(FakeCameraEngine::Initialized());
  EXPECT_EQ(FakeCameraEngine::CallCount("Stop"), 1);
  EXPECT_EQ(FakeCameraEngine::OutsideReferences(), 0) << "every engine, face and port reference returned";
  EXPECT_EQ(KernelCodes().back(), kOemCameraClosed);
  EXPECT_EQ(ExtraThreads(), 0u);

  ASSERT_EQ(camera_.Open(), ERROR_SUCCESS) << "the camera opens again after a close";
  EXPECT_EQ(FakeCameraEngine::CallCount("Initialize"), 2);
}

TEST_F(DriverTest, ASecondOpenIsRefusedWithoutTouchingTheOwnersEngine) {
  LoadAndOpen();
  FakeCameraEngine::ClearCalls();
  int32_t refs = FakeCameraEngine::OutsideReferences();
  camclient::Camera second;
  EXPECT_EQ(second.Open(), DWORD(ERROR_ALREADY_INITIALIZED));
  EXPECT_TRUE(FakeCameraEngine::Calls().empty());
  EXPECT_EQ(FakeCameraEngine::OutsideReferences(), refs);
  // The owner's camera still answers and closes cleanly.
  uint32_t version = 0;
  EXPECT_EQ(camera_.Version(&version), ERROR_SUCCESS);
  EXPECT_EQ(camera_.Close(), ERROR_SUCCESS);
  EXPECT_EQ(FakeCameraEngine::OutsideReferences(), 0);
  EXPECT_EQ(second.Open(), ERROR_SUCCESS) << "the next client may own it";
}

TEST_F(DriverTest, ConcurrentOpensMakeExactlyOneOwner) {
  Load();
  constexpr int kClients = 6;
  camclient::Camera cameras[kClients];
  DWORD results[kClients];
  std::vector<std::thread> threads;
  for (int i = 0; i < kClients; ++i) threads.emplace_back([&, i] { results[i] = cameras[i].Open(); });
  for (auto& t : threads) t.join();
  int owners = 0;
  for (DWORD r : results) {
    owners += r == ERROR_SUCCESS;
    EXPECT_TRUE(r == ERROR_SUCCESS || r == ERROR_ALREADY_INITIALIZED) << r;
  }
  EXPECT_EQ(owners, 1);
  EXPECT_EQ(FakeCameraEngine::CallCount("Initialize"), 1);
}

// A preparation that fails part way leaves nothing behind: the engine is
// uninitialised and released, no thread runs, and the next open works.
struct PrepareFailure {
  const char* name;
  void (*fail)();
  void (*heal)();
};

class PrepareRollbackTest : public DriverTest, public ::testing::WithParamInterface<PrepareFailure> {};

TEST_P(PrepareRollbackTest, LeavesNothingBehindAndTheNextOpenWorks) {
  Load();
  GetParam().fail();
  EXPECT_EQ(camera_.Open(), DWORD(ERROR_OPEN_FAILED));
  EXPECT_FALSE(FakeCameraEngine::Initialized());
  EXPECT_EQ(FakeCameraEngine::OutsideReferences(), 0);
  EXPECT_EQ(ExtraThreads(), 0u);
  EXPECT_FALSE(Device()->IsOwned());
  EXPECT_EQ(KernelCodes().back(), kOemCameraClosed);
  GetParam().heal();
  EXPECT_EQ(camera_.Open(), ERROR_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(
    Step, PrepareRollbackTest,
    ::testing::Values(
        PrepareFailure{"EngineInitialize", [] { FakeCameraEngine::SetInitializeResult(13); },
                       [] { FakeCameraEngine::SetInitializeResult(0); }},
        PrepareFailure{"PortsAfterInitialize", [] { FakeCameraEngine::SetGetPortsResult(1); },
                       [] { FakeCameraEngine::SetGetPortsResult(0); }},
        PrepareFailure{"DefaultRefused", [] { FakeCameraEngine::SetPropertyResult(ZUEUID_PROPERTY_CONTRAST, 1); },
                       [] { FakeCameraEngine::SetPropertyResult(ZUEUID_PROPERTY_CONTRAST, 0); }},
        // The image's Corvane has the engine: a class that cannot be made stands for none.
        PrepareFailure{"NoEngineClass",
                       [] {
                         OrbhostTest_RegisterClass(ZUEUID_CLASS_CAMERAENGINE,
                                                   [](IEnv*, ZUEUID, void*, void** out) -> int32_t {
                                                     *out = nullptr;
                                                     return PVL_E_FAIL;
                                                   });
                       },
                       [] { FakeCameraEngine::Install(); }}),
    [](const ::testing::TestParamInfo<PrepareFailure>& i) { return std::string(i.param.name); });

// An engine with fewer ports than the four fixed pin places: the pins it has are
// served, the places it lacks hold nothing.
TEST_F(DriverTest, AnEngineWithTwoPortsOpensWithoutTheMissingPins) {
  FakeEngineConfig two;
  two.ports = camera::test::DefaultPorts();
  two.ports.erase(two.ports.begin() + 1);  // no capture port
  two.ports.pop_back();                    // no thumbnail port
  ASSERT_EQ(two.ports.size(), 2u);
  Reset(two);
  LoadAndOpen();
  EXPECT_EQ(Device()->PinCount(), 2u);
  std::vector<CS_DATARANGE_VIDEO> ranges;
  EXPECT_EQ(camera_.PinDataRanges(CS_PIN_STILL, &ranges), ERROR_SUCCESS);
  EXPECT_EQ(ranges.size(), 1u);
  EXPECT_EQ(camera_.PinDataRanges(CS_PIN_CAPTURE, &ranges), ERROR_SUCCESS);
  EXPECT_TRUE(ranges.empty()) << "no port behind the capture pin";
  EXPECT_EQ(camera_.PinDataRanges(CS_PIN_PREVIEW, &ranges), DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(camera_.Close(), ERROR_SUCCESS);
  EXPECT_EQ(FakeCameraEngine::OutsideReferences(), 0);
}

TEST_F(DriverTest, UnloadingWithTheCameraOpenReleasesTheEngine) {
  LoadAndOpen();
  DevMgrDeactivateAll();
  EXPECT_EQ(FakeCameraEngine::OutsideReferences(), 0);
  EXPECT_FALSE(FakeCameraEngine::Initialized());
  EXPECT_EQ(ExtraThreads(), 0u);
}

// ---- Routing and the caller's buffers -------------------------------------------------------

struct RouteCase {
  const char* name;
  const CsGuid* set;
  uint32_t id;
  uint32_t flags;
  DWORD result;
};

class RoutingTest : public DriverTest, public ::testing::WithParamInterface<RouteCase> {};

TEST_P(RoutingTest, EachSetReachesItsHandler) {
  LoadAndOpen();
  const RouteCase& c = GetParam();
  uint8_t in[40] = {};
  uint8_t out[64] = {};
  DWORD returned = 0;
  EXPECT_EQ(camera_.Property(*c.set, c.id, c.flags, in, sizeof in, out, sizeof out, &returned), c.result);
}

const CsGuid kUnknownSet = {0x12345678, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

INSTANTIATE_TEST_SUITE_P(
    Sets, RoutingTest,
    ::testing::Values(
        RouteCase{"Pin", &CSPROPSETID_Pin, CSPROPERTY_PIN_CTYPES, CSPROPERTY_TYPE_GET, ERROR_SUCCESS},
        RouteCase{"Version", &CSPROPSETID_VERSION, 0, CSPROPERTY_TYPE_GET, ERROR_SUCCESS},
        RouteCase{"VideoControlSetSupport", &PROPSETID_VIDCAP_VIDEOCONTROL, 0, CSPROPERTY_TYPE_SETSUPPORT,
                  ERROR_SUCCESS},
        RouteCase{"DroppedFramesWithoutCapturePin", &PROPSETID_VIDCAP_DROPPEDFRAMES, 0, CSPROPERTY_TYPE_GET,
                  ERROR_INVALID_PARAMETER},
        RouteCase{"CameraControlExposure", &PROPSETID_VIDCAP_CAMERACONTROL, CSPROPERTY_CAMERACONTROL_EXPOSURE, CSPROPERTY_TYPE_GET, ERROR_SUCCESS},
        RouteCase{"AdvancedFocusGrid", &KORCSPROPSETID_EX_CAMERACONTROL_ADV, 0, CSPROPERTY_TYPE_GET, ERROR_SUCCESS},
        RouteCase{"ProcAmpBrightness", &PROPSETID_VIDCAP_VIDEOPROCAMP, CSPROPERTY_VIDEOPROCAMP_BRIGHTNESS, CSPROPERTY_TYPE_GET, ERROR_SUCCESS},
        RouteCase{"CompressionQualityOnCapturePin", &PROPSETID_VIDCAP_VIDEOCOMPRESSION, 3, CSPROPERTY_TYPE_GET,
                  ERROR_INVALID_PARAMETER},
        RouteCase{"MakerGetOfAnUnservedId", &VANTOR_PROPSETID_CAMERA, VANTOR_PROPERTY_ANTIBANDING, CSPROPERTY_TYPE_GET,
                  ERROR_INVALID_PARAMETER},
        RouteCase{"UnknownSet", &kUnknownSet, 0, CSPROPERTY_TYPE_GET, ERROR_NOT_SUPPORTED}),
    [](const ::testing::TestParamInfo<RouteCase>& i) { return std::string(i.param.name); });

TEST_F(DriverTest, RequestsTheDriverCannotReadAreRefused) {
  LoadAndOpen();
  CSPROPERTY header{CSPROPSETID_VERSION, 0, CSPROPERTY_TYPE_GET};
  uint32_t out = 0;
  DWORD returned = 0;
  // One byte short of a property header.
  EXPECT_EQ(camera_.IoControl(IOCTL_CS_PROPERTY, &header, sizeof header - 1, &out, sizeof out, &returned),
            DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(camera_.IoControl(IOCTL_CS_PROPERTY, nullptr, sizeof header, &out, sizeof out, &returned),
            DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(camera_.IoControl(IOCTL_STREAM_INSTANTIATE, &header, sizeof header, &out, sizeof out, &returned),
            DWORD(ERROR_NOT_SUPPORTED));
}

struct MappingFault {
  const char* name;
  CeSimFault fault;
  DWORD skip;
};

class CallerBufferTest : public DriverTest, public ::testing::WithParamInterface<MappingFault> {};

TEST_P(CallerBufferTest, AFailedAccessIsAnErrorAndWritesNothing) {
  LoadAndOpen();
  CSP_PIN request{};
  request.PinId = CS_PIN_PREVIEW;
  std::vector<uint8_t> out(8 + 4 * sizeof(CS_DATARANGE_VIDEO), 0xAB);
  DWORD returned = 0;
  CeSimInjectFault(GetParam().fault, GetParam().skip, 0xFFFFFFFF);
  DWORD r = camera_.Property(CSPROPSETID_Pin, CSPROPERTY_PIN_DATARANGES, CSPROPERTY_TYPE_GET, &request, sizeof request,
                             out.data(), DWORD(out.size()), &returned);
  CeSimClearFaults();
  EXPECT_NE(r, DWORD(ERROR_SUCCESS));
  EXPECT_TRUE(r == ERROR_INVALID_PARAMETER || r == ERROR_MORE_DATA || r == ERROR_INVALID_USER_BUFFER) << r;
  EXPECT_EQ(out[0], 0xAB) << "nothing written into the caller's buffer";
}

INSTANTIATE_TEST_SUITE_P(
    Faults, CallerBufferTest,
    ::testing::Values(MappingFault{"InBufferMapping", CE_SIM_FAULT_MAP_CALLER_PTR, 0},
                      MappingFault{"OutBufferMapping", CE_SIM_FAULT_MAP_CALLER_PTR, 1},
                      MappingFault{"BytesReturnedMapping", CE_SIM_FAULT_MAP_CALLER_PTR, 2},
                      MappingFault{"PinRequestMapping", CE_SIM_FAULT_MAP_CALLER_PTR, 3},
                      MappingFault{"HeaderCopy", CE_SIM_FAULT_SAFE_COPY, 0},
                      MappingFault{"PinRequestCopy", CE_SIM_FAULT_SAFE_COPY, 2}),
    [](const ::testing::TestParamInfo<MappingFault>& i) { return std::string(i.param.name); });

// ---- The pin device's entry checks ------------------------------------------------------------

TEST_F(DriverTest, PinRequestsAreCheckedBeforeAnyStreamWork) {
  LoadAndOpen();
  camclient::Pin pin;
  ASSERT_EQ(pin.Open(), ERROR_SUCCESS);
  CSPROPERTY_STREAMEX_S instantiate{};
  instantiate.CsPin = {CSPROPSETID_StreamEx, 0, CSPROPERTY_TYPE_SET};
  instantiate.PinId = CS_PIN_PREVIEW;
  DWORD returned = 0;
  struct Case {
    const char* name;
    CSPROPERTY_STREAMEX_S request;
    DWORD length;
    DWORD result;
  };
  CSPROPERTY_STREAMEX_S wrongSet = instantiate, wrongId = instantiate;
  wrongSet.CsPin.Set = CSPROPSETID_Pin;
  wrongId.CsPin.Id = 1;
  const Case cases[] = {
      {"ShortRequest", instantiate, sizeof instantiate - 1, ERROR_INVALID_PARAMETER},
      {"WrongSet", wrongSet, sizeof wrongSet, ERROR_NOT_SUPPORTED},
      {"IdNotZero", wrongId, sizeof wrongId, ERROR_INVALID_PARAMETER},
  };
  for (const Case& c : cases)
    EXPECT_EQ(pin.IoControl(IOCTL_STREAM_INSTANTIATE, &c.request, c.length, nullptr, 0, &returned), c.result)
        << c.name;

  uint32_t command = CS_ALLOCATE;
  CS_STREAM_DESCRIPTOR descriptor{};
  returned = 0;
  EXPECT_EQ(pin.IoControl(IOCTL_CS_BUFFERS, &command, sizeof command, &descriptor, sizeof descriptor - 1, &returned),
            DWORD(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(returned, sizeof(CS_STREAM_DESCRIPTOR)) << "the size a buffer request needs";
  EXPECT_EQ(pin.IoControl(0x1234, nullptr, 0, nullptr, 0, &returned), DWORD(ERROR_NOT_SUPPORTED));
  EXPECT_EQ(pin.Close(), ERROR_SUCCESS);
}

}  // namespace
}  // namespace ostrel_test
