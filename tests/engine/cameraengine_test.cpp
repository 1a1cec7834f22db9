// The camera engine over its service doubles: creation through the singleton
// registry, Initialize and its undo, the port list, the event sink, the stream
// and pre-flash operations, and the sensor-information proxy's unbinding.
//
// Then the engine end to end on the simulated board: made by class from the
// device image's modules, over the real sensor, flash and VFE services, driven
// as a capture client drives it (ports, formats, buffers, StartVideo,
// StartStill). It checks what a user would see: preview frames at the size
// asked for, showing the chart's patches where the chart has them, and a JPEG
// still at the sensor's full size with EXIF. One preview frame and the still
// are kept in the build directory to look at.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "board_sensor.h"
#include "board_sim.h"
#include "board_vfe.h"
#include "cameraportformat.h"
#include "ccameraportmanager.h"
#include "ccamerastillport.h"
#include "cenginesettings.h"
#include "chartcolour.h"
#include "chipset.h"
#include "cpvlmediabuffer.h"
#include "cpvlptr.h"
#include "csensorinfoproxy.h"
#include "csensorwatchdog.h"
#include "engineboard.h"
#include "enginefixture.h"
#include "icamerabuffermanager.h"
#include "icameraengine.h"
#include "icameraport.h"
#include "ienv.h"
#include "ijpegservice.h"
#include "image_copy.h"
#include "orbhost_test.h"
#include "plindor.h"
#include "tuningtoolsession.h"
#include "tunvexclient.h"
#include "tunvextestnet.h"

namespace enginetest {
namespace {

// ---- Creation ----

class EngineCreationTest : public EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    WriteDeviceConfig();
  }
  // The registry's classes read the device's own file.
  void WriteDeviceConfig() {
    camera::test::WriteImageFile("fs/~0x01061a6f/CameraEngineConfig.xml",
                                 "<CameraEngineConfig><SensorConfig ClassID=\"0x0108AED0\">"
                                 "<DefaultTuningData ClassID=\"0x0108AECE\"/></SensorConfig>"
                                 "<ELFS><Plugin ClassID=\"0x01089A8C\" Role=\"Flash\" OfflineProc=\"FALSE\"/></ELFS>"
                                 "</CameraEngineConfig>");
  }
};

TEST_F(EngineCreationTest, BothCreationsGiveTheOneEngine) {
  void* first = nullptr;
  void* second = nullptr;
  ASSERT_EQ(PVL_OK, CCameraEngine::CreateInstance(env_.Get(), ZUEUID_CLASS_CAMERAENGINE, nullptr, &first));
  ASSERT_EQ(PVL_OK, CCameraEngine::CreateInstance(env_.Get(), ZUEUID_CLASS_CAMERAENGINE, nullptr, &second));
  EXPECT_EQ(first, second);
  EXPECT_EQ(doubles_->Creations(ZUEUID_CLASS_SENSOR_SERVICE), 1u) << "made once";
  EXPECT_EQ(doubles_->Creations(ZUEUID_CLASS_SENSOR_SIMULATOR), 0u);
  // The handed-out face is the control face; it reaches the others.
  auto* control = static_cast<ICameraEngine*>(first);
  CPvlPtr<IProperties> properties;
  EXPECT_EQ(PVL_OK, control->QueryInterface(ZUEUID_IFACE_PROPERTIES, properties.Out()));
  properties.Reset();
  control->Release();
  static_cast<ICameraEngine*>(second)->Release();
  // The last reference gone, the next creation makes a new engine.
  void* third = nullptr;
  ASSERT_EQ(PVL_OK, CCameraEngine::CreateInstance(env_.Get(), ZUEUID_CLASS_CAMERAENGINE, nullptr, &third));
  EXPECT_EQ(doubles_->Creations(ZUEUID_CLASS_SENSOR_SERVICE), 2u);
  static_cast<ICameraEngine*>(third)->Release();
}

TEST_F(EngineCreationTest, TheDebugClassFirstMakesTheEngineOnTheSimulators) {
  LogCapture log;
  void* debug = nullptr;
  void* normal = nullptr;
  ASSERT_EQ(PVL_OK, CCameraEngine::CreateDebugInstance(env_.Get(), ZUEUID_CLASS_CAMERA_ENGINE_DEBUG, nullptr, &debug));
  ASSERT_EQ(PVL_OK, CCameraEngine::CreateInstance(env_.Get(), ZUEUID_CLASS_CAMERAENGINE, nullptr, &normal));
  EXPECT_EQ(debug, normal);
  EXPECT_EQ(doubles_->Creations(ZUEUID_CLASS_SENSOR_SIMULATOR), 1u);
  EXPECT_EQ(doubles_->Creations(ZUEUID_CLASS_SENSOR_SERVICE), 0u);
  EXPECT_TRUE(log.Has("Create in Debug Mode. Loading Sensor Service simulator!"));
  static_cast<ICameraEngine*>(debug)->Release();
  static_cast<ICameraEngine*>(normal)->Release();
}

TEST_F(EngineCreationTest, AFailedConstructionLeavesNothing) {
  struct Case {
    const char* name;
    std::function<void(EngineDoubles&)> arrange;
    PvlResult expected;
  };
  const Case cases[] = {
      {"NoConfigurationFile", [](EngineDoubles&) { camera::test::RemoveImageFile("fs/~0x01061a6f/CameraEngineConfig.xml"); },
       PVL_E_NOTFOUND},
      // (A double answering 3 would hand the class on to the image's module.)
      {"NoSensorService", [](EngineDoubles& d) { d.FailCreation(ZUEUID_CLASS_SENSOR_SERVICE, PVL_E_FAIL); },
       PVL_E_FAIL},
      {"NoFlashPlugin", [](EngineDoubles& d) { d.FailCreation(ZUEUID_CLASS_FLASH_ELFS, 2); },
       PVL_E_OUTOFMEMORY},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    WriteDeviceConfig();
    c.arrange(*doubles_);
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(c.expected, CCameraEngine::CreateInstance(env_.Get(), ZUEUID_CLASS_CAMERAENGINE, nullptr, &out));
    EXPECT_EQ(out, nullptr);
  }
}

// ---- Initialize and its undo ----

class EngineInitializeTest : public EngineFixture {};

TEST_F(EngineInitializeTest, InitializeBringsTheServicesUpInOrder) {
  MakeDefault();
  engine_->SetCameraId(kSensorClass);
  ASSERT_EQ(PVL_OK, engine_->Initialize());
  const CallLog& log = doubles_->log;
  const char* order[] = {"TuningData.Select(0x0108aece)", "Sensor.Initialize(0x0108aed0)", "Sensor.GetCapabilities",
                         "Vfe.Initialize(0)", "Vfe.SetEventSink(engine)", "Vfe.GetOutputs", "Flash.Initialize",
                         "Tunvex.Start"};
  int previous = -1;
  for (const char* call : order) {
    int at = log.IndexOf(call);
    EXPECT_GT(at, previous) << call;
    previous = at;
  }
  EXPECT_NE(engine_->PortManager(), nullptr);
  // Uninitialize takes everything but the sensor service down again.
  ASSERT_EQ(PVL_OK, engine_->Uninitialize());
  EXPECT_TRUE(log.Has("Vfe.SetEventSink(null)"));
  EXPECT_TRUE(log.Has("Vfe.Uninitialize"));
  EXPECT_TRUE(log.Has("Sensor.Uninitialize"));
  EXPECT_EQ(engine_->VfeService(), nullptr);
  EXPECT_EQ(engine_->PortManager(), nullptr);
  EXPECT_EQ(doubles_->vfe->refs, 0);
  EXPECT_NE(engine_->SensorService(), nullptr);
}

// Every failing step: the result comes back, nothing stays up or held, and
// the engine can be initialised again.
TEST_F(EngineInitializeTest, AFailingStepIsUndone) {
  struct Case {
    const char* name;
    std::function<void(EngineDoubles&)> arrange;
    PvlResult expected;
    bool sensorWasUp;
  };
  const Case cases[] = {
      {"TuningDataSelection", [](EngineDoubles& d) { d.log.failures["TuningData.Select(0x0108aece)"] = 1; }, 1, false},
      {"SensorInitialize", [](EngineDoubles& d) { d.log.failures["Sensor.Initialize(0x0108aed0)"] = 5; }, 5, false},
      {"ProxyBinding", [](EngineDoubles& d) { d.log.failures["Sensor.GetCapabilities"] = 1; }, 1, true},
      {"VfeCreation", [](EngineDoubles& d) { d.FailCreation(ZUEUID_CLASS_VFE_SIMULATOR, 3); }, 3, true},
      {"VfeInitialize", [](EngineDoubles& d) { d.log.failures["Vfe.Initialize(0)"] = 12; }, 12, true},
      {"EventSink", [](EngineDoubles& d) { d.log.failures["Vfe.SetEventSink(engine)"] = 1; }, 1, true},
      {"PortManager", [](EngineDoubles& d) { d.log.failures["Vfe.GetOutputs"] = 14; }, 14, true},
      {"ElfsSetUp", [](EngineDoubles& d) { d.log.failures["Flash.Initialize"] = 1; }, 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    MakeDefault();
    engine_->SetCameraId(kSensorClass);
    c.arrange(*doubles_);
    LogCapture log;
    EXPECT_EQ(c.expected, engine_->Initialize());
    EXPECT_EQ(c.sensorWasUp, log.Has("Initialize not successful. Uninitialize camera sensor!"));
    EXPECT_FALSE(doubles_->sensor.initialised) << "sensor left initialised";
    EXPECT_FALSE(doubles_->vfe->initialised) << "VFE left initialised";
    EXPECT_EQ(engine_->VfeService(), nullptr);
    EXPECT_EQ(engine_->PortManager(), nullptr);
    EXPECT_EQ(doubles_->vfe->refs, 0) << "VFE still held";
    for (auto& o : doubles_->outputs) EXPECT_EQ(o->refs, 0) << "output " << o->id << " still held";
    EXPECT_EQ(engine_->SensorInfo()->IsYuvSensor(), 0);
    uint8_t flag = 0;
    EXPECT_EQ(PVL_E_NOTREADY, engine_->SensorInfo()->IsOnSensorAutoExposure(&flag)) << "proxy still bound";
    // Mended, the same engine initialises.
    doubles_->log.failures.clear();
    doubles_->creationFailures.clear();
    doubles_->log.calls.clear();
    EXPECT_EQ(PVL_OK, engine_->Initialize());
    EXPECT_EQ(doubles_->log.Count("Flash.Initialize"), 1u);
    EXPECT_EQ(PVL_OK, engine_->Uninitialize());
  }
}

TEST_F(EngineInitializeTest, AFailedInitializeThroughTheMachineLeavesItInUninit) {
  MakeDefault();
  doubles_->log.failures["Vfe.Initialize(0)"] = 1;
  EXPECT_EQ(1, engine_->FrontEnd()->Initialize(kSensorClass));
  EXPECT_EQ(State(), 0);
  doubles_->log.failures.clear();
  EXPECT_EQ(PVL_OK, engine_->FrontEnd()->Initialize(kSensorClass));
  EXPECT_EQ(State(), 1);
}

// A phone without the JPEG encoder still has a camera: the stills lose the
// IJPG format and the EXIF collection is skipped.
TEST_F(EngineInitializeTest, WithoutAJpegServiceInitializeSucceedsWithoutIjpg) {
  // (3 would hand the class on to the host's own service.)
  OrbhostTest_RegisterClass(ZUEUID_CLASS_JPEGSERVICE, [](IEnv*, ZUEUID, void*, void** out) -> int32_t {
    *out = nullptr;
    return PVL_E_FAIL;
  });
  MakeDefault();
  engine_->SetCameraId(kSensorClass);
  ASSERT_EQ(PVL_OK, engine_->Initialize());
  CPvlPtr<IPropertyStore> jpeg;
  EXPECT_EQ(PVL_E_UNSUPPORTED, engine_->PortManager()->GetJpegProperties(&jpeg));
  CCameraMainImagePort* main = engine_->PortManager()->MainImagePort();
  ASSERT_NE(main, nullptr);
  CameraPortFormat format{};
  ASSERT_EQ(PVL_OK, main->GetFormat(&format));
  format.FourCC = CAMERA_FOURCC_IJPG;
  EXPECT_EQ(PVL_E_UNSUPPORTED, main->SetFormat(&format));
  EXPECT_EQ(PVL_OK, engine_->Uninitialize());
}

TEST_F(EngineInitializeTest, WithTheJpegServiceTheSensorTagsGoToTheStillsStore) {
  MakeDefault();
  engine_->SetCameraId(kSensorClass);
  ASSERT_EQ(PVL_OK, engine_->Initialize());
  CPvlPtr<IPropertyStore> jpeg;
  EXPECT_EQ(PVL_OK, engine_->PortManager()->GetJpegProperties(&jpeg));
  EXPECT_EQ(PVL_OK, engine_->Uninitialize());
}

// Uninitialize lets the sensor go: the proxy's sensor queries answer 13
// (instead of reading a sensor that is no longer initialised), and binding
// to nothing is still refused.
TEST_F(EngineInitializeTest, UninitializeUnbindsTheSensorInformation) {
  doubles_->sensor.capabilities.Words[0] = 1;
  MakeDefault();
  engine_->SetCameraId(kSensorClass);
  ASSERT_EQ(PVL_OK, engine_->Initialize());
  CSensorInfoProxy* proxy = engine_->SensorInfo();
  uint8_t flag = 0;
  EXPECT_EQ(PVL_OK, proxy->IsOnSensorAutoExposure(&flag));
  EXPECT_EQ(flag, 1);
  ASSERT_EQ(PVL_OK, engine_->Uninitialize());
  EXPECT_EQ(PVL_E_NOTREADY, proxy->IsOnSensorAutoExposure(&flag));
  SensorTiming timing{};
  EXPECT_EQ(PVL_E_NOTREADY, proxy->GetSensorTiming(&timing));
  EXPECT_EQ(PVL_E_BADARG, proxy->SetSensorService(nullptr));
  EXPECT_EQ(doubles_->sensor.refs, 1) << "only the engine's own reference is left";
}

// ---- Ports ----

class EnginePortsTest : public EngineFixture {};

TEST_F(EnginePortsTest, GetPortsArguments) {
  struct Case {
    const char* name;
    bool initialised;
    bool array;
    uint32_t capacity;
    bool countPointer;
    PvlResult expected;
    uint32_t count;
  };
  const Case cases[] = {
      {"NullCount", true, true, 4, false, PVL_E_BADARG, 0},
      {"NullArrayWithCapacity", true, false, 1, true, PVL_E_BADARG, 0},
      {"NoPortManager", false, true, 4, true, PVL_E_NOTREADY, 0},
      {"CapacityZeroCountsOnly", true, false, 0, true, PVL_OK, 4},
      {"SmallArray", true, true, 2, true, PVL_OK, 4},
      {"AllPorts", true, true, 5, true, PVL_OK, 4},
  };
  MakeDefault();
  engine_->SetCameraId(kSensorClass);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.initialised && !engine_->PortManager()) {
      ASSERT_EQ(PVL_OK, engine_->Initialize());
    }
    if (!c.initialised && engine_->PortManager()) {
      ASSERT_EQ(PVL_OK, engine_->Uninitialize());
    }
    ICameraPort* ports[5] = {};
    uint32_t count = 99;
    EXPECT_EQ(c.expected, engine_->GetPorts(c.array ? ports : nullptr, c.capacity, c.countPointer ? &count : nullptr));
    if (c.expected != PVL_OK) continue;
    EXPECT_EQ(count, c.count);
    // Video ports first, then the main image and the thumbnail; only up to the capacity.
    const uint32_t expectedTypes[] = {ZUEUID_CAMERA_PORT_VIDEO, ZUEUID_CAMERA_PORT_VIDEO, ZUEUID_CAMERA_PORT_MAIN_IMAGE,
                                      ZUEUID_CAMERA_PORT_THUMBNAIL};
    for (uint32_t i = 0; i < 5; ++i) {
      if (!c.array || i >= c.capacity || i >= count) {
        EXPECT_EQ(ports[i], nullptr) << "port " << i;
        continue;
      }
      ASSERT_NE(ports[i], nullptr);
      uint32_t type = 0;
      EXPECT_EQ(PVL_OK, ports[i]->GetPortType(&type));
      EXPECT_EQ(type, expectedTypes[i]) << "port " << i;
      ports[i]->Release();
    }
  }
}

class EngineManyPortsTest : public EngineFixture {
 protected:
  uint32_t ExtraYuvOutputs() const override { return 3; }  // 5 video ports, main image, thumbnail
};

TEST_F(EngineManyPortsTest, MoreThanFivePortsAreCutToFive) {
  MakeDefault();
  engine_->SetCameraId(kSensorClass);
  ASSERT_EQ(PVL_OK, engine_->Initialize());
  LogCapture log;
  ICameraPort* ports[5] = {};
  uint32_t count = 0;
  EXPECT_EQ(PVL_OK, engine_->GetPorts(ports, 5, &count));
  EXPECT_EQ(count, 5u);
  EXPECT_TRUE(log.Has("ERROR, More ports: 7 than MAX: 5"));
  for (ICameraPort* p : ports) {
    ASSERT_NE(p, nullptr);
    p->Release();
  }
}

// ---- Event sink ----

class EngineEventTest : public EngineFixture {};

struct NotAFrame final : public IPvlBase {
  int32_t AddRef() override { return 1; }
  int32_t Release() override { return 1; }
  PvlResult QueryInterface(ZUEUID, void** out) override {
    *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }
};

TEST_F(EngineEventTest, EventKinds) {
  MakeReady();
  NotAFrame notAFrame;
  ICameraEngineEventSink* sink = nullptr;
  ASSERT_EQ(PVL_OK, engine_->QueryInterface(ZUEUID_IFACE_CAMERAENGINE_EVENTSINK, reinterpret_cast<void**>(&sink)));
  struct Case {
    const char* name;
    uint32_t kind;
    IPvlBase* object;
    PvlResult expected;
    const char* line;
  };
  const Case cases[] = {
      {"UnknownKind", EVENT_OUTPUT_LOST + 1, nullptr, PVL_E_UNSUPPORTED, nullptr},
      // Only a streaming port waits for the lost frame's report.
      {"LostFrameInReady", EVENT_OUTPUT_LOST, nullptr, PVL_OK, nullptr},
      {"OutputThatIsNoFrame", EVENT_OUTPUT, &notAFrame, PVL_E_NOTSUPPORTED, nullptr},
      // Ready takes no capture completion: the machine refuses it.
      {"SnapshotDoneInReady", EVENT_SNAPSHOT_DONE, nullptr, PVL_E_NOTREADY, "Got Snapshot done Event"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture log;
    EXPECT_EQ(c.expected, sink->OnEvent(c.kind, 1, c.object));
    if (c.line) {
      EXPECT_TRUE(log.Has(c.line));
    }
  }
  EXPECT_EQ(State(), 1);
  sink->Release();
}

// ---- The frame watchdog ----

// The silence that has the sensor checked: thirty frame periods, never less
// than half a second; a period that cannot be true counts as the preview's.
TEST(SensorWatchdogTest, TheSilenceLimitFollowsTheFramePeriod) {
  const struct {
    uint32_t periodUs, limitMs;
  } cases[] = {{33333, 1000}, {66666, 2000}, {10000, 500}, {0, 1000}, {5000000, 1000}, {4000000, 120000}};
  for (const auto& c : cases) EXPECT_EQ(CSensorWatchdog::SilenceLimitMs(c.periodUs), c.limitMs) << c.periodUs;
}

// A check is due once the signs stood still for the limit; each sign, and each
// check, starts the count again. The millisecond clock may wrap meanwhile.
TEST(SensorWatchdogTest, ACheckIsDueOnlyAfterTheLimitWithoutASign) {
  for (uint32_t start : {100u, 0xFFFFFF00u}) {
    SCOPED_TRACE(start);
    CSensorWatchdog::Decision d;
    d.Arm(1000, start, 7);
    EXPECT_FALSE(d.Due(start + 999, 7));
    EXPECT_TRUE(d.Due(start + 1000, 7));
    EXPECT_FALSE(d.Due(start + 1001, 7)) << "checked again at once";
    EXPECT_FALSE(d.Due(start + 1500, 8)) << "a sign came";
    EXPECT_FALSE(d.Due(start + 2499, 8));
    EXPECT_TRUE(d.Due(start + 2500, 8));
    EXPECT_TRUE(d.Due(start + 3500, 8)) << "a sensor that answers is asked again after another limit";
  }
}

// The watch over the host of a fresh environment; on the way out, every block
// the watch took from the host was given back.
class SensorWatchdogHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(PVL_OK, env_env_CreateInstance(ZUEUID_CLASS_ENV, env_.Out()));
    blocks_ = OrbhostTest_LiveBlocks(nullptr);
  }
  void TearDown() override {
    EXPECT_EQ(OrbhostTest_LiveBlocks(nullptr), blocks_) << "framework blocks left";
    env_.Reset();
  }
  CPvlPtr<IEnv> env_;
  uint32_t blocks_ = 0;
};

// Frames that stopped have the check run on the watchdog's thread; a check that
// finds the sensor lost ends the watch.
TEST_F(SensorWatchdogHostTest, SilenceRunsTheCheckUntilItFindsTheSensorLost) {
  CSensorWatchdog watchdog;
  std::atomic<int> checks{0};
  std::atomic<bool> ended{false};
  ASSERT_TRUE(watchdog.Start(env_.Get(), 1, [&] {
    if (++checks < 2) return true;
    ended = true;
    return false;
  }));
  while (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  watchdog.Stop();
  EXPECT_EQ(checks.load(), 2);
}

// A check that waits (for the engine's lock) gives up once a stop was asked
// for, so that the stop, made from an event holding that lock, can end the watch.
TEST_F(SensorWatchdogHostTest, AStopEndsAWatchWhoseCheckWaits) {
  CSensorWatchdog watchdog;
  std::atomic<bool> waiting{false};
  ASSERT_TRUE(watchdog.Start(env_.Get(), 1, [&] {
    waiting = true;
    while (!watchdog.Stopping()) std::this_thread::yield();
    return false;
  }));
  while (!waiting) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  watchdog.Stop();
  EXPECT_TRUE(watchdog.Stopping());
}

// A second start ends the first watch (its check is let go) before the new one
// runs; stops before any start, and after the last, do nothing.
TEST_F(SensorWatchdogHostTest, AStartEndsTheWatchBefore) {
  CSensorWatchdog watchdog;
  watchdog.Stop();
  auto first = std::make_shared<int>(0);
  ASSERT_TRUE(watchdog.Start(env_.Get(), 1, [first] { return true; }));
  std::atomic<bool> checked{false};
  ASSERT_TRUE(watchdog.Start(env_.Get(), 1, [&] {
    checked = true;
    return false;
  }));
  EXPECT_EQ(first.use_count(), 1) << "the first watch's check is still held";
  while (!checked) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  watchdog.Stop();
  watchdog.Stop();
}

// Without an environment there is no host thread: the stream runs unwatched.
TEST(SensorWatchdogTest, WithoutAnEnvironmentNoWatchStarts) {
  CSensorWatchdog watchdog;
  bool called = false;
  EXPECT_FALSE(watchdog.Start(nullptr, 33333, [&] { return called = true; }));
  watchdog.Stop();
  EXPECT_FALSE(called);
}

// ---- Stream operations ----

class EngineStreamTest : public EngineFixture {};

TEST_F(EngineStreamTest, OnStopVideoAnswersForThePlugInsNotTheVfe) {
  struct Case {
    const char* name;
    const char* failing;
    PvlResult expected;
  };
  const Case cases[] = {
      {"VfeStopFails", "Vfe.Stop", PVL_OK},
      {"PluginStopFails", "Flash.OnStopVideo", 7},
  };
  MakeDefault();
  engine_->SetCameraId(kSensorClass);
  ASSERT_EQ(PVL_OK, engine_->Initialize());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    doubles_->log.failures.clear();
    doubles_->log.failures[c.failing] = c.expected == PVL_OK ? 1 : c.expected;
    EXPECT_EQ(c.expected, engine_->OnStopVideo());
  }
  doubles_->log.failures.clear();
}

TEST_F(EngineStreamTest, StartVideoRunsTheConfigurersThenStartsTheVfe) {
  MakeReady();
  // The client starts the preview port before the stream.
  ICameraPort* ports[5] = {};
  uint32_t count = 0;
  ASSERT_EQ(PVL_OK, engine_->FrontEnd()->GetPorts(ports, 5, &count));
  ASSERT_EQ(PVL_OK, ports[0]->Start());
  doubles_->log.calls.clear();
  ASSERT_EQ(PVL_OK, engine_->FrontEnd()->StartVideo());
  EXPECT_EQ(State(), 2);
  const CallLog& log = doubles_->log;
  const char* order[] = {"Sensor.Configure(0x0106298d)", "Flash.Configure", "Flash.OnStartVideo",
                         "Sensor.Configure(0x01062972)", "Vfe.Configure(0x0106298d)", "Vfe.Start"};
  int previous = -1;
  for (const char* call : order) {
    int at = log.IndexOf(call);
    EXPECT_GT(at, previous) << call;
    previous = at;
  }
  ASSERT_EQ(PVL_OK, engine_->FrontEnd()->Stop());
  EXPECT_EQ(State(), 1);
  for (uint32_t i = 0; i < count; ++i) {
    ports[i]->Stop();
    ports[i]->Release();
  }
}

// An exposure write the sensor refuses while the stream runs has the sensor
// asked whether it is still there; only one that no longer answers ends the
// video ports' streams (the reader hears of it instead of waiting for frames).
TEST_F(EngineStreamTest, ARefusedExposureWriteHasTheSensorChecked) {
  struct Case {
    const char* name;
    PvlResult presence;
    bool lost;
  };
  const Case cases[] = {
      {"TheSensorAnswers", PVL_OK, false},
      {"TheSensorIsGone", PVL_E_DEVICE_LOST, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    MakeReady();
    ICameraPort* ports[5] = {};
    uint32_t count = 0;
    ASSERT_EQ(PVL_OK, engine_->FrontEnd()->GetPorts(ports, 5, &count));
    ASSERT_EQ(PVL_OK, ports[0]->Start());
    ASSERT_EQ(PVL_OK, engine_->FrontEnd()->StartVideo());
    ASSERT_EQ(State(), 2);
    doubles_->sensor.presence = c.presence;
    doubles_->log.failures["Sensor.Configure(0x01062972)"] = PVL_E_FAIL;
    const uint32_t checks = doubles_->sensor.presenceChecks;
    engine_->Settings()->SetExposureLineCount(1234);
    ICameraEngineEventSink* sink = nullptr;
    ASSERT_EQ(PVL_OK, engine_->QueryInterface(ZUEUID_IFACE_CAMERAENGINE_EVENTSINK, reinterpret_cast<void**>(&sink)));
    sink->OnEvent(EVENT_STATS_AVAILABLE, 1, nullptr);
    sink->Release();
    EXPECT_GT(doubles_->sensor.presenceChecks, checks) << "the refused write was not followed by a check";
    IPvlMediaBuffer* frame = nullptr;
    if (c.lost) {
      EXPECT_EQ(PVL_E_DEVICE_LOST, ports[0]->GetNextFrame(&frame));
    } else {
      // Nothing to report: the reader waits until the port stops.
      std::atomic<PvlResult> waited{PVL_OK};
      std::thread reader([&] { waited = ports[0]->GetNextFrame(&frame); });
      ports[0]->Stop();
      reader.join();
      EXPECT_NE(PVL_E_DEVICE_LOST, waited.load());
    }
    EXPECT_EQ(frame, nullptr);
    doubles_->log.failures.clear();
    ASSERT_EQ(PVL_OK, engine_->FrontEnd()->Stop());
    for (uint32_t i = 0; i < count; ++i) {
      ports[i]->Stop();
      ports[i]->Release();
    }
  }
}

TEST_F(EngineStreamTest, SuspendThatFailsHalfWayResumesWhatItSuspended) {
  MakeReady();
  doubles_->log.failures["Flash.Suspend"] = 13;
  doubles_->log.calls.clear();
  EXPECT_EQ(13, engine_->Suspend());
  EXPECT_TRUE(doubles_->log.Has("Sensor.Resume"));
  EXPECT_TRUE(doubles_->log.Has("Vfe.Resume"));
  doubles_->log.failures.clear();
}

TEST_F(EngineStreamTest, PreSnapshotFlashWhileASequenceRunsChangesNothing) {
  MakeReady();
  CEngineSettings* settings = engine_->Settings();
  // Flash mode off: the sequence runs without the LED, with a focus run.
  ASSERT_EQ(PVL_OK, engine_->StartPreSnapshotFlash(nullptr));
  uint32_t state = 0;
  uint32_t focus = 0;
  settings->GetPreSnapshotState(&state);
  engine_->SensorInfo()->GetFocusState(&focus);
  EXPECT_EQ(state, 1u);
  EXPECT_EQ(focus, 1u);
  // A second request while it runs: 0, and nothing moves.
  engine_->SensorInfo()->SetFocusState(0);
  EXPECT_EQ(PVL_OK, engine_->StartPreSnapshotFlash(nullptr));
  settings->GetPreSnapshotState(&state);
  engine_->SensorInfo()->GetFocusState(&focus);
  EXPECT_EQ(state, 1u);
  EXPECT_EQ(focus, 0u);
  EXPECT_EQ(PVL_OK, engine_->StopPreSnapshotFlash());
  settings->GetPreSnapshotState(&state);
  EXPECT_EQ(state, 0u);
}

// A sensor that focuses by itself reports its result with the frames: the
// frame path turns "done" and "failed" into the end of the focus run.
TEST_F(EngineStreamTest, OnSensorFocusResultsComeWithTheFrames) {
  struct Case {
    const char* name;
    uint32_t sensorStatus;  // 1 done, 2 failed, 0 still focusing
    PvlResult expected;
    uint32_t state;
    const char* line;
  };
  const Case cases[] = {
      {"Done", 1, PVL_OK, 3, "On-sensor auto-focus completed successfully"},
      {"Failed", 2, PVL_OK, 4, "On-sensor auto-focus failed"},
      {"StillFocusing", 0, PVL_E_FAIL, 1, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fresh();
    doubles_->sensor.capabilities.Words[4] = 2;
    MakeReady();
    ASSERT_EQ(PVL_OK, engine_->SensorInfo()->SetFocusState(1));
    doubles_->sensor.focusStatus = c.sensorStatus;
    // A frame of an output without a port: only the focus part has work.
    struct Owner final : IPvlMediaBufferOwner {
      void BufferReturned(CPvlMediaBuffer*) override {}
    } owner;
    CPvlMediaBuffer frame(&owner, env_.Get());
    frame.AddRef();
    LogCapture log;
    EXPECT_EQ(c.expected, engine_->OnFrameAvailable(99, &frame));
    uint32_t state = 0;
    engine_->SensorInfo()->GetFocusState(&state);
    EXPECT_EQ(state, c.state);
    if (c.line) {
      EXPECT_TRUE(log.Has(c.line));
    }
  }
}

TEST_F(EngineStreamTest, ListsComeFromTheSensorAndFlashServices) {
  MakeDefault();
  CameraSensorDescriptor cameras[2] = {};
  uint32_t count = 0;
  ASSERT_EQ(PVL_OK, engine_->FrontEnd()->GetCameras(cameras, 2, &count));
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(cameras[0].DriverClass, kSensorClass);
  CameraFlashDevice devices[2] = {};
  ASSERT_EQ(PVL_OK, engine_->FrontEnd()->GetFlashDevices(devices, 2, &count));
  EXPECT_EQ(count, 1u);
  EXPECT_TRUE(doubles_->log.Has("Flash.GetFlashDevices"));
}

}  // namespace
}  // namespace enginetest

// ---- End to end on the board ----

namespace board {
namespace {

using namespace engineboard;

constexpr uint32_t kSensorClass = 0x0108aed0u;

// ---- Reading frames ----

struct Yuv {
  double y, cb, cr;
};
// The mean of an NV21 frame around a point (a 9 x 9 window).
Yuv MeanAt(const uint8_t* nv21, uint32_t w, uint32_t h, uint32_t cx, uint32_t cy) {
  Yuv m{0, 0, 0};
  int n = 0;
  for (uint32_t y = cy - 4; y <= cy + 4; ++y)
    for (uint32_t x = cx - 4; x <= cx + 4; ++x) {
      const uint8_t* vu = nv21 + size_t(w) * h + size_t(y / 2) * w + (x & ~1u);
      m.y += nv21[size_t(y) * w + x];
      m.cr += vu[0];
      m.cb += vu[1];
      ++n;
    }
  return {m.y / n, m.cb / n, m.cr / n};
}

// A chart patch's centre in a frame that shows the sensor's whole array.
void PatchCentre(const BoardChartPatch& p, uint32_t w, uint32_t h, uint32_t* x, uint32_t* y) {
  *x = uint32_t(double(p.centreX) * w / kSensorArrayWidth);
  *y = uint32_t(double(p.centreY) * h / kSensorArrayHeight);
}

// The size in a JPEG's start-of-frame, and whether it carries an EXIF segment.
bool JpegInfo(const Bytes& b, uint32_t* w, uint32_t* h, bool* exif) {
  *exif = false;
  if (b.size < 4 || b.data[0] != 0xFF || b.data[1] != 0xD8) return false;
  size_t at = 2;
  while (at + 4 <= b.size) {
    if (b.data[at] != 0xFF) return false;
    const uint8_t marker = b.data[at + 1];
    const size_t length = size_t(b.data[at + 2]) << 8 | b.data[at + 3];
    if (marker == 0xE1 && at + 10 <= b.size && memcmp(b.data + at + 4, "Exif", 4) == 0) *exif = true;
    if (marker == 0xC0 || marker == 0xC1) {
      *h = uint32_t(b.data[at + 5]) << 8 | b.data[at + 6];
      *w = uint32_t(b.data[at + 7]) << 8 | b.data[at + 8];
      return true;
    }
    at += 2 + length;
  }
  return false;
}

// ---- The fixture ----

class EngineBoardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OrbhostTest_UnregisterAllClasses();
    BoardSimReset();
    BoardVfeReset();
    // Without a statistics plug-in the white balance keeps the engine's start
    // gains (red 1.34, blue 1.90), which suit fluorescent light.
    BoardSceneSetIlluminant(kIlluminantFluorescent);
    BoardSetSpeedUp(4);
    // The platform's fixed contiguous buffers, as the driver lays them out when it loads.
    ASSERT_NE(0, VantorInitBufferManager());
    ASSERT_EQ(PVL_OK, env_env_CreateInstance(ZUEUID_CLASS_ENV, env_.Out()));
    ASSERT_EQ(PVL_OK, env_->CreateInstance(ZUEUID_CLASS_CAMERAENGINE, reinterpret_cast<void**>(&engine_)));
    ASSERT_NE(engine_, nullptr);
  }
  void TearDown() override {
    for (ICameraPort* p : ports_) {
      p->Stop();
      p->Release();
    }
    ports_.clear();
    if (engine_) {
      engine_->Stop();
      EXPECT_EQ(PVL_OK, engine_->Uninitialize());
      engine_->Release();
    }
    buffers_.Free();
    env_.Reset();
    BoardSetSpeedUp(1);
    BoardVfeReset();
    BoardSimReset();
  }

  void Initialize() {
    ASSERT_EQ(PVL_OK, engine_->Initialize(kSensorClass));
    uint32_t count = 0;
    ICameraPort* ports[5] = {};
    ASSERT_EQ(PVL_OK, engine_->GetPorts(ports, 5, &count));
    ASSERT_EQ(count, 4u) << "two video ports, main image, thumbnail";
    ports_.assign(ports, ports + count);
  }

  void Arm(ICameraPort* port, const CameraPortFormat& format) { buffers_.Arm(env_.Get(), port, format); }

  // The chart's patches where the chart has them. Without a statistics
  // plug-in the exposure stays at its start value and the chart comes out
  // bright: the checks compare patches with each other.
  static void CheckChart(const uint8_t* nv21, uint32_t w, uint32_t h) {
    auto at = [&](int index) {
      uint32_t x = 0, y = 0;
      PatchCentre(kChartPatches[index], w, h, &x, &y);
      return MeanAt(nv21, w, h, x, y);
    };
    const Yuv white = at(18), black = at(23), red = at(14), blue = at(12), grey = at(21);
    EXPECT_GT(white.y, black.y + 40) << "white (Y " << white.y << ") against black (Y " << black.y << ")";
    EXPECT_GT(red.cr, red.cb + 10) << "red: Cb " << red.cb << ", Cr " << red.cr;
    EXPECT_GT(blue.cb, blue.cr + 10) << "blue: Cb " << blue.cb << ", Cr " << blue.cr;
    EXPECT_NEAR(grey.cb, 128, 8) << "a neutral patch has no colour";
    EXPECT_NEAR(grey.cr, 128, 8) << "a neutral patch has no colour";
  }

  // Preview frames: the size asked for, and the chart's patches in their places.
  void CheckPreview(const char* keep) {
    ICameraPort* preview = ports_[0];
    // The first frames come while exposure settles; take a later one.
    IPvlMediaBuffer* frame = nullptr;
    for (int i = 0; i < 8; ++i) {
      if (frame) frame->Release();
      frame = NextFrame(preview);
      ASSERT_NE(frame, nullptr) << "preview frame " << i;
    }
    Bytes b = Contents(frame);
    ASSERT_GE(b.size, kPreviewW * kPreviewH * 3 / 2) << "an NV21 frame of the size asked for";
    if (keep)
      camera::test::WriteRgbPng(std::string(ENGINE_OUTPUT_DIR) + "/" + keep,
                                camera::test::Nv21ToRgb(b.data, kPreviewW, kPreviewH), kPreviewW, kPreviewH);
    CheckChart(b.data, kPreviewW, kPreviewH);
    frame->Release();
  }

  // A still of one image: a JPEG at the full size with EXIF in the main port.
  void TakeStill(const char* keep) {
    ICameraPort* main = ports_[2];
    CameraPortFormat jpeg = Nv21Format(kStillW, kStillH, kFrameIntervalUs);
    jpeg.FourCC = CAMERA_FOURCC_IJPG;
    Arm(main, jpeg);
    ASSERT_EQ(PVL_OK, engine_->StartStill(1));
    IPvlMediaBuffer* frame = NextFrame(main);
    ASSERT_NE(frame, nullptr) << "no still came";
    Bytes b = Contents(frame);
    uint32_t w = 0, h = 0;
    bool exif = false;
    EXPECT_TRUE(JpegInfo(b, &w, &h, &exif)) << "a JPEG";
    EXPECT_EQ(w, kStillW);
    EXPECT_EQ(h, kStillH);
    EXPECT_TRUE(exif) << "with EXIF";
    if (keep) {
      FILE* f = fopen((std::string(ENGINE_OUTPUT_DIR) + "/" + keep).c_str(), "wb");
      if (f) {
        fwrite(b.data, 1, b.size, f);
        fclose(f);
      }
    }
    frame->Release();
  }

  CPvlPtr<IEnv> env_;
  ICameraEngine* engine_ = nullptr;
  std::vector<ICameraPort*> ports_;
  ClientBuffers buffers_;
};

TEST_F(EngineBoardTest, PreviewShowsTheChartAtTheSizeAskedFor) {
  Initialize();
  Arm(ports_[0], Nv21Format(kPreviewW, kPreviewH, kFrameIntervalUs));
  ASSERT_EQ(PVL_OK, engine_->StartVideo());
  CheckPreview("engine-preview.png");
  EXPECT_EQ(PVL_OK, engine_->Stop());
}

// An uncompressed still: the main image at the sensor's full size, the chart in place.
TEST_F(EngineBoardTest, UncompressedStillShowsTheChart) {
  Initialize();
  Arm(ports_[2], Nv21Format(kStillW, kStillH, kFrameIntervalUs));
  ASSERT_EQ(PVL_OK, engine_->StartStill(1));
  IPvlMediaBuffer* frame = NextFrame(ports_[2]);
  ASSERT_NE(frame, nullptr) << "no still came";
  Bytes b = Contents(frame);
  ASSERT_GE(b.size, kStillW * kStillH * 3 / 2);
  CheckChart(b.data, kStillW, kStillH);
  frame->Release();
}

TEST_F(EngineBoardTest, StillFromReady) {
  Initialize();
  TakeStill("engine-still.jpg");
  // CaptureComplete took the engine back to Ready: a preview starts.
  Arm(ports_[0], Nv21Format(kPreviewW, kPreviewH, kFrameIntervalUs));
  ASSERT_EQ(PVL_OK, engine_->StartVideo());
  IPvlMediaBuffer* frame = NextFrame(ports_[0]);
  ASSERT_NE(frame, nullptr);
  frame->Release();
  EXPECT_EQ(PVL_OK, engine_->Stop());
}

TEST_F(EngineBoardTest, StillFromVideoThenTheStreamGoesOn) {
  Initialize();
  Arm(ports_[0], Nv21Format(kPreviewW, kPreviewH, kFrameIntervalUs));
  ASSERT_EQ(PVL_OK, engine_->StartVideo());
  IPvlMediaBuffer* frame = NextFrame(ports_[0]);
  ASSERT_NE(frame, nullptr);
  frame->Release();
  TakeStill(nullptr);
  // Back in Video: preview frames come again.
  CheckPreview(nullptr);
  EXPECT_EQ(PVL_OK, engine_->Stop());
}

// The tuning tool's "apply" reaches the engine through the tuning server
// that the engine's Initialize started: with the camera up, the changes are
// taken over (not left pending), and the stream goes on.
TEST_F(EngineBoardTest, TheTuningToolsApplyReachesTheEngine) {
  TuningToolSession tool;
  ASSERT_NE(0, tool.port);
  Initialize();
  TunvexClient& client = tool.client;
  ASSERT_TRUE(tool.Connect()) << client.Error();
  bool pending = true;
  ASSERT_TRUE(client.Apply(&pending)) << client.Error();
  EXPECT_FALSE(pending) << "Ready takes the changes over at the next stream";
  // While video runs the engine re-applies at once and streams on.
  Arm(ports_[0], Nv21Format(kPreviewW, kPreviewH, kFrameIntervalUs));
  ASSERT_EQ(PVL_OK, engine_->StartVideo());
  pending = true;
  ASSERT_TRUE(client.Apply(&pending)) << client.Error();
  EXPECT_FALSE(pending);
  IPvlMediaBuffer* frame = NextFrame(ports_[0]);
  ASSERT_NE(frame, nullptr) << "no frame after the re-apply";
  frame->Release();
  client.Close();
  EXPECT_EQ(PVL_OK, engine_->Stop());
}

}  // namespace
}  // namespace board
