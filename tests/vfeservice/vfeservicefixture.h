// Common set-up of the VFE service tests: the board with its VFE hardware
// model and sensor, a host environment in which the VFE driver and the
// engine's buffer manager are created through their class entries, a settings
// view double, a recording event sink, and one service object.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sensor_bus.h"
#include "board_sensor.h"
#include "board_sim.h"
#include "board_vfe.h"
#include "camera_module_power.h"
#include "camerasettings.h"
#include "chipset.h"
#include "chipset_sim.h"
#include "plindor.h"
#include "cmcamerabuffermanager.h"
#include "ienv.h"
#include "vfeconfigurerids.h"
#include "orbhost_test.h"
#include "cpvlptr.h"
#include "vfedriver.h"
#include "vfepreviewpipeline.h"
#include "cvfeservice.h"
#include "nv21frame.h"
#include "vfesettingsdouble.h"
#include "vfetuningfixture.h"
#include "wince.h"

namespace vfeservicetest {

using camera::test::Nv21Format;

template <class Case, class = decltype(std::declval<const Case&>().name)>
std::ostream& operator<<(std::ostream& os, const Case& c) {
  return os << c.name;
}

// The settings view as the service tests had it: the preview read-out's
// active region, neutral picture settings, focus cells 5 and 6, and no
// answer from the slots the service's outputs do not need.
class SettingsDouble : public vfeconfigtest::VfeSettingsDouble {
 public:
  SettingsDouble() {
    SetActive(0, 0, 1296, 972);
    contrast = {0, 10000, 1, 100, 100};
    brightness = {-10000, 10000, 1, 0, 0};
    saturation = {0, 10000, 1, 100, 100};
    afWholeFrame = 0;
    afCellCount = 2;
    afCells[0] = 5;
    afCells[1] = 6;
    for (const char* slot : {"GetFixedCbOffset", "GetFixedCrOffset", "GetLumaAdaptationMode", "GetModeTimingWord0"})
      fail[slot] = PVL_E_UNSUPPORTED;
  }
};

struct Event {
  uint32_t kind;
  uint32_t argument;
  IPvlBase* object;
};

// Records every event. Frames are released at once unless `holdFrames`;
// statistics objects are kept (one reference) while `holdStats`.
class RecordingSink final : public ICameraEngineEventSink {
 public:
  bool holdFrames = false;
  bool holdStats = false;
  PvlResult answer = PVL_OK;
  // Called inside OnEvent, on the receive thread.
  std::function<void(const Event&)> during;

  int32_t AddRef() override { return 1; }
  int32_t Release() override { return 1; }
  PvlResult QueryInterface(ZUEUID, void** out) override {
    *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }
  PvlResult OnEvent(uint32_t kind, uint32_t argument, IPvlBase* object) override {
    Event e{kind, argument, object};
    if (during) during(e);
    {
      std::lock_guard<std::mutex> hold(m_);
      if (object && ((kind == EVENT_OUTPUT && holdFrames) || (kind == EVENT_STATS_AVAILABLE && holdStats))) {
        object->AddRef();
        held.push_back(object);
      }
      events.push_back(e);
    }
    cv_.notify_all();
    return answer;
  }
  // Waits (generously: the machine is loaded) until `n` events of a kind came.
  bool WaitFor(uint32_t kind, size_t n, int seconds = 20) {
    std::unique_lock<std::mutex> hold(m_);
    return cv_.wait_for(hold, std::chrono::seconds(seconds), [&] { return CountLocked(kind) >= n; });
  }
  size_t Count(uint32_t kind) {
    std::lock_guard<std::mutex> hold(m_);
    return CountLocked(kind);
  }
  std::vector<Event> Events() {
    std::lock_guard<std::mutex> hold(m_);
    return events;
  }
  void ReleaseHeld() {
    std::vector<IPvlBase*> out;
    {
      std::lock_guard<std::mutex> hold(m_);
      out.swap(held);
    }
    for (IPvlBase* o : out) o->Release();
  }
  std::vector<IPvlBase*> held;
  std::vector<Event> events;

 private:
  size_t CountLocked(uint32_t kind) const {
    size_t n = 0;
    for (const Event& e : events) n += e.kind == kind;
    return n;
  }
  std::mutex m_;
  std::condition_variable cv_;
};

// The preview read-out of the model's sensor, its demosaic area, the main
// scaler to half and OUTPUT1 at 320 x 240.
using namespace vfepipeline;

class VfeServiceTest : public ::testing::Test, public vfeconfigtest::VfeTuningFixture {
 protected:
  void SetUp() override {
    BoardSimReset();
    BoardVfeReset();
    BoardSceneSetIlluminant(kIlluminantNeutral);
    ASSERT_EQ(CameraSensorI2C_Init(), 1);
    ASSERT_TRUE(camera::test::PowerUpCameraModule());
    BoardSetSpeedUp(4);
    // Contiguous memory straight from the chipset, as under the camera test tool.
    BoardSetCameraTestMode(true);
    pmemBlocks_ = ChipSimPmemBlocks().size();
    ASSERT_EQ(PVL_OK, env_env_CreateInstance(ZUEUID_CLASS_ENV, env_.Out()));
    ASSERT_EQ(PVL_OK, OrbhostTest_RegisterClass(ZUEUID_CLASS_VFE_DRIVER, &VfeDriver_CreateInstance));
    ASSERT_EQ(PVL_OK, OrbhostTest_RegisterClass(ZUEUID_CLASS_BUFFER_MANAGER, &CMCameraBufferManager::CreateInstance));
    SetUpTuning();
    ASSERT_EQ(PVL_OK, VfeService_CreateInstance(env_.Get(), ZUEUID_CLASS_VFE_SERVICE, nullptr, service_.Out()));
    svc_ = static_cast<CVfeService*>(service_.Get());
  }

  void TearDown() override {
    SensorWrite(0x0100, 0);
    if (service_) {
      service_->Stop();
      service_->Uninitialize();
    }
    sink_.ReleaseHeld();
    bms_.clear();
    service_.Reset();
    TearDownTuning();
    EXPECT_EQ(pmemBlocks_, ChipSimPmemBlocks().size()) << "contiguous memory left behind";
    BoardSetCameraTestMode(false);
    BoardVfeReset();
    while (CameraSensorI2C_DeInit() == 1 && BoardI2cOpenCount() > 0) {
    }
    BoardSimReset();
    OrbhostTest_UnregisterAllClasses();
    env_.Reset();
  }

  PvlResult Init() {
    PvlResult r = service_->Initialize(0, &settings_);
    if (r == PVL_OK) service_->SetEventSink(&sink_);
    return r;
  }

  // ---- Sensor ----
  static bool SensorWrite(uint16_t reg, uint8_t value) { return camera::test::SensorWrite(reg, value); }
  static void StartSensor() { camera::test::StartSensorStreaming(); }

  // ---- Commands through the service's command path ----
  template <class T>
  void Send(uint32_t id, const T& record) {
    ASSERT_EQ(PVL_OK, svc_->SendCommand(static_cast<int32_t>(id), &record, sizeof record));
  }
  // What the configure chain of video start does, in payloads: OUTPUT1 at
  // 320 x 240 (outputMode 0), or OUTPUT1 and OUTPUT2 (2).
  void ConfigurePipeline(uint32_t outputMode) {
    ASSERT_EQ(PVL_OK, svc_->SendReset());
    vfepipeline::SendPreview(
        [this](uint32_t id, void* record, uint32_t size) {
          return svc_->SendCommand(static_cast<int32_t>(id), record, size);
        },
        outputMode);
    svc_->GetOperationMode()->pixelOrder = kSensorVfePixelOrder;
  }

  // The engine's side of one output mode: format, enable, a pool allocated
  // from the output's buffer information, given as its buffer manager.
  CPvlPtr<ICameraBufferManager> SetUpMode(CVideoOutput* output, uint32_t mode, const CameraPortFormat& format) {
    CPvlPtr<ICameraBufferManager> bm;
    EXPECT_EQ(PVL_OK, output->Enable(mode, 1));
    EXPECT_EQ(PVL_OK, output->SetFormat(mode, &format));
    BufferRequest request{};
    uint32_t count = 0;
    EXPECT_EQ(PVL_OK, output->GetBufferInfo(mode, &request, 1, &count));
    EXPECT_EQ(PVL_OK, env_->CreateInstance(ZUEUID_CLASS_BUFFER_MANAGER, bm.Out()));
    if (!bm) return bm;
    EXPECT_EQ(PVL_OK, bm->InitRequirements(&request, 0, 0));
    EXPECT_EQ(PVL_OK, bm->Allocate());
    EXPECT_EQ(PVL_OK, output->SetBufferManager(mode, bm));
    bms_.push_back(bm);
    return bm;
  }

  // The output configuration's part of the chain: the mode current and its
  // first buffers given to the VFE.
  void ArmOutput(CVideoOutput* output, uint32_t mode, uint32_t buffers) {
    ASSERT_EQ(PVL_OK, output->SetCurrentMode(mode, 0));
    for (uint32_t i = 0; i < buffers; ++i) {
      IPvlMediaBuffer* b = nullptr;  // the output's; no reference of ours
      ASSERT_EQ(PVL_OK, output->QueueNewBuffer(&b));
      ASSERT_EQ(PVL_OK, output->AckBuffer(b));
    }
  }

  // Preview on output 1 at 320 x 240 with three buffers queued, running.
  CPvlPtr<ICameraBufferManager> StartPreview() {
    EXPECT_EQ(PVL_OK, Init());
    CVideoOutput* out1 = svc_->GetOutput(1);
    CPvlPtr<ICameraBufferManager> bm = SetUpMode(out1, VIDEO_OUTPUT_MODE_VIDEO, Nv21Format(kOut1W, kOut1H));
    ConfigurePipeline(0);
    svc_->UpdateOutputOrder(VIDEO_OUTPUT_MODE_VIDEO);
    ArmOutput(out1, VIDEO_OUTPUT_MODE_VIDEO, 3);
    EXPECT_EQ(PVL_OK, service_->Start());
    StartSensor();
    return bm;
  }

  static uint32_t FreeCount(ICameraBufferManager* bm) {
    uint32_t total = 0, free = 0;
    bm->GetCounts(&total, &free);
    return free;
  }
  static bool WaitAllHome(ICameraBufferManager* bm, uint32_t total) {
    for (int i = 0; i < 20000; ++i) {
      if (FreeCount(bm) == total) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }

  CPvlPtr<IEnv> env_;
  CPvlPtr<IVfeService> service_;
  CVfeService* svc_ = nullptr;
  SettingsDouble settings_;
  RecordingSink sink_;
  std::vector<CPvlPtr<ICameraBufferManager>> bms_;
  size_t pmemBlocks_ = 0;
};

}  // namespace vfeservicetest
