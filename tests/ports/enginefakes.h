// Doubles of the engine's neighbours for the frame-plumbing tests: a VFE
// service with fake video outputs that keep their formats, buffer requests and
// buffer managers like the real ones and produce NV21 frames from their pools,
// a sensor service answering timing and capabilities, and a state machine
// that counts Stop events.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "cameraportformat.h"
#include "cpvlmediabuffer.h"
#include "cpvlptr.h"
#include "icamerabuffermanager.h"
#include "icameraport.h"
#include "icamerasensorservice.h"
#include "icamerastatemachine.h"
#include "ivfeservice.h"
#include "ivideooutput.h"
#include "nv21frame.h"

namespace enginetest {

template <class Iface>
class Counted : public Iface {
 public:
  int32_t AddRef() override { return ++refs; }
  int32_t Release() override { return --refs; }
  std::atomic<int32_t> refs{0};
};

// The frame period the fake outputs run at (30 frames a second).
inline constexpr uint32_t kFrameIntervalUs = 33333;
using camera::test::Nv21Format;
CameraPortFormat BayerFormat(uint32_t width, uint32_t height);

class FakeVideoOutput final : public Counted<IVideoOutput> {
 public:
  FakeVideoOutput(uint32_t id, const CameraPortFormat& supported, bool scalable = true);

  PvlResult QueryInterface(ZUEUID iid, void** out) override;
  PvlResult GetFormats(CameraPortFormat* formats, int32_t capacity, int32_t* count) override;
  PvlResult GetOutputId(uint32_t* id) override;
  PvlResult IsEnabled(uint32_t mode, uint8_t* enabled) override;
  PvlResult Enable(uint32_t mode, uint8_t on) override;
  PvlResult IsFormatScalable(uint8_t* scalable, uint32_t index) override;
  PvlResult GetBufferInfo(uint32_t mode, BufferRequest* records, int32_t capacity, uint32_t* count) override;
  PvlResult GetBufferAllocator(uint32_t mode, ICameraBufferManager** allocator) override;
  PvlResult SetBufferManager(uint32_t mode, ICameraBufferManager* manager) override;
  PvlResult GetFormat(uint32_t mode, CameraPortFormat* format) override;
  PvlResult SetFormat(uint32_t mode, const CameraPortFormat* format) override;
  PvlResult QueryStatus(uint32_t* first, uint32_t* second) override;
  PvlResult GetReadySignal(ISignalControl** signal) override;
  uint32_t GetSupportedFormatCount() override { return 1; }
  const CameraPortFormat* GetSupportedFormats() override { return &supported; }
  PvlResult OnSnapshotDone(uint32_t) override { return PVL_OK; }
  PvlResult AckBuffer(IPvlMediaBuffer*) override { return PVL_OK; }
  PvlResult SetAckMode(uint32_t) override { return PVL_OK; }

  // A filled frame of the mode's current format from its buffer manager, with
  // one reference for the receiver (as the VFE hands frames to the engine);
  // null when the pool has none free. fill(luma, width, height) draws it.
  IPvlMediaBuffer* Produce(uint32_t mode, const std::function<void(uint8_t*, uint32_t, uint32_t)>& fill = {});

  struct Mode {
    CameraPortFormat format{};
    uint8_t enabled = 0;
    CPvlPtr<ICameraBufferManager> manager;
    BufferRequest request{};
  };
  uint32_t id;
  CameraPortFormat supported;
  bool scalable;
  Mode modes[2];
  uint32_t stillCount = 1;
  uint32_t frameCounter = 0;
  uint32_t status2 = 0;
  PvlResult formatsResult = PVL_OK;
  std::vector<std::string> calls;  // "Enable(1,0)", "SetBufferManager(0,null)", ...
};

class FakeVfeService final : public Counted<IVfeService> {
 public:
  explicit FakeVfeService(std::vector<FakeVideoOutput*> outputs) : outputs(std::move(outputs)) {}
  PvlResult QueryInterface(ZUEUID, void** out) override {
    if (out) *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }
  PvlResult Initialize(uint32_t, IPvlBase*) override { return PVL_OK; }
  PvlResult Uninitialize() override { return PVL_OK; }
  PvlResult Start() override { return PVL_OK; }
  PvlResult Stop() override { return PVL_OK; }
  PvlResult Reset() override { return PVL_OK; }
  PvlResult GetConfigurer(uint32_t, IConfigCommand**) override { return PVL_E_BADARG; }
  PvlResult Suspend() override { return PVL_OK; }
  PvlResult Resume() override { return PVL_OK; }
  PvlResult GetOutputs(IVideoOutput** out, int32_t capacity, uint32_t* count) override;
  PvlResult GetLimits(VfeLimits*) override { return PVL_OK; }
  PvlResult SetEventSink(ICameraEngineEventSink*) override { return PVL_OK; }

  std::vector<FakeVideoOutput*> outputs;
};

class FakeSensorService final : public Counted<ICameraSensorService> {
 public:
  PvlResult QueryInterface(ZUEUID, void** out) override {
    if (out) *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }
  PvlResult Initialize(uint32_t, IPvlBase*) override { return PVL_OK; }
  PvlResult Uninitialize() override { return PVL_OK; }
  PvlResult Start() override { return PVL_OK; }
  PvlResult Stop() override { return PVL_OK; }
  PvlResult Reset() override { return PVL_OK; }
  PvlResult GetConfigurer(uint32_t, IConfigCommand**) override { return PVL_E_BADARG; }
  PvlResult Suspend() override { return PVL_OK; }
  PvlResult Resume() override { return PVL_OK; }
  PvlResult GetSensors(CameraSensorDescriptor*, uint32_t, uint32_t*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetCapabilities(SensorCapabilities* out) override {
    *out = SensorCapabilities{};
    out->Words[5] = autoFrameRate ? 1 : 0;
    return capabilitiesResult;
  }
  PvlResult GetIdentity(SensorIdentity*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetOptics(SensorOptics*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetExtraInfo(uint32_t*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetOutputFormat(SensorOutputFormat*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetTiming(SensorTiming* out, uint32_t) override {
    *out = SensorTiming{};
    out->Words[1] = frameInterval;
    return timingResult;
  }
  PvlResult GetGeometry(SensorGeometry*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetModeInfo(SensorModeInfo*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetGainInfo(SensorGainInfo*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetFrameTiming(const SensorFrameTimingRequest*, SensorFrameTimingAnswer*) override {
    return PVL_E_UNSUPPORTED;
  }
  PvlResult CheckPresence() override { return PVL_OK; }

  uint32_t frameInterval = 66666;
  bool autoFrameRate = true;
  PvlResult timingResult = PVL_OK;
  PvlResult capabilitiesResult = PVL_OK;
};

class FakeStateMachine final : public Counted<ICameraStateMachine> {
 public:
  PvlResult QueryInterface(ZUEUID, void** out) override {
    if (out) *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }
  PvlResult RaiseStop() override {
    ++stops;
    return PVL_OK;
  }
  int stops = 0;
};

// Colour bars (NV21) for a frame the tests can recognise.
void DrawBars(uint8_t* luma, uint32_t width, uint32_t height);

}  // namespace enginetest
