// The camera engine over its service doubles: creation through the singleton
// registry, Initialize and its undo, the port list, the event sink, the stream
// and pre-flash operations, and the sensor-information proxy's unbinding.
#include <gtest/gtest.h>

#include <functional>

#include "cameraportformat.h"
#include "enginefixture.h"
#include "image_copy.h"
#include "ijpegservice.h"

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
      {"UnknownKind", 3, nullptr, PVL_E_UNSUPPORTED, nullptr},
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
