// framehandover: the cost of handing one frame to a client, per frame: a buffer
// out of its pool, queued on a video port, taken by the reader (on the same
// thread, and across threads as the driver's capture thread does), released
// back to the pool. Frames are never copied, so the cost is independent of
// the frame size; the target is a few microseconds.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <thread>

#include "ccameravideoport.h"
#include "cmcamerabuffermanager.h"
#include "hostsymbols.h"
#include "ienv.h"
#include "plindor.h"

namespace {

// A video output that only answers what the port asks at attach time.
class Output final : public IVideoOutput {
 public:
  int32_t AddRef() override { return 1; }
  int32_t Release() override { return 1; }
  PvlResult QueryInterface(ZUEUID, void** out) override { return *out = nullptr, PVL_E_NOTSUPPORTED; }
  PvlResult GetFormats(CameraPortFormat* f, int32_t capacity, int32_t* count) override {
    *count = 1;
    if (f && capacity > 0) {
      *f = CameraPortFormat{};
      f->idColorSpace = ZUEUID_COLORSPACE_YUV;
      f->Width = 640;
      f->Height = 480;
    }
    return PVL_OK;
  }
  PvlResult GetOutputId(uint32_t* id) override { return *id = 1, PVL_OK; }
  PvlResult IsEnabled(uint32_t, uint8_t* e) override { return *e = 1, PVL_OK; }
  PvlResult Enable(uint32_t, uint8_t) override { return PVL_OK; }
  PvlResult IsFormatScalable(uint8_t* s, uint32_t) override { return *s = 0, PVL_OK; }
  PvlResult GetBufferInfo(uint32_t, BufferRequest*, int32_t, uint32_t* c) override { return *c = 0, PVL_OK; }
  PvlResult GetBufferAllocator(uint32_t, ICameraBufferManager** a) override { return *a = nullptr, PVL_OK; }
  PvlResult SetBufferManager(uint32_t, ICameraBufferManager*) override { return PVL_OK; }
  PvlResult GetFormat(uint32_t, CameraPortFormat*) override { return PVL_OK; }
  PvlResult SetFormat(uint32_t, const CameraPortFormat*) override { return PVL_OK; }
  PvlResult QueryStatus(uint32_t* a, uint32_t* b) override { return *a = *b = 0, PVL_OK; }
  PvlResult GetReadySignal(ISignalControl** s) override { return *s = nullptr, PVL_OK; }
  uint32_t GetSupportedFormatCount() override { return 0; }
  const CameraPortFormat* GetSupportedFormats() override { return nullptr; }
  PvlResult OnSnapshotDone(uint32_t) override { return PVL_OK; }
  PvlResult AckBuffer(IPvlMediaBuffer*) override { return PVL_OK; }
  PvlResult SetAckMode(uint32_t) override { return PVL_OK; }
};

class Sensor final : public ICameraSensorService {
 public:
  int32_t AddRef() override { return 1; }
  int32_t Release() override { return 1; }
  PvlResult QueryInterface(ZUEUID, void** out) override { return *out = nullptr, PVL_E_NOTSUPPORTED; }
  PvlResult Initialize(uint32_t, IPvlBase*) override { return PVL_OK; }
  PvlResult Uninitialize() override { return PVL_OK; }
  PvlResult Start() override { return PVL_OK; }
  PvlResult Stop() override { return PVL_OK; }
  PvlResult Reset() override { return PVL_OK; }
  PvlResult GetConfigurer(uint32_t, IConfigCommand**) override { return PVL_E_UNSUPPORTED; }
  PvlResult Suspend() override { return PVL_OK; }
  PvlResult Resume() override { return PVL_OK; }
  PvlResult GetSensors(CameraSensorDescriptor*, uint32_t, uint32_t*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetCapabilities(SensorCapabilities* c) override { return *c = SensorCapabilities{}, PVL_OK; }
  PvlResult GetIdentity(SensorIdentity*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetOptics(SensorOptics*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetExtraInfo(uint32_t*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetOutputFormat(SensorOutputFormat*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetTiming(SensorTiming* t, uint32_t) override { return *t = SensorTiming{}, PVL_OK; }
  PvlResult GetGeometry(SensorGeometry*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetModeInfo(SensorModeInfo*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetGainInfo(SensorGainInfo*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetFrameTiming(const SensorFrameTimingRequest*, SensorFrameTimingAnswer*) override {
    return PVL_E_UNSUPPORTED;
  }
  PvlResult CheckPresence() override { return PVL_OK; }
};

double Microseconds(std::chrono::steady_clock::duration d, int frames) {
  return std::chrono::duration<double, std::micro>(d).count() / frames;
}

}  // namespace

int main() {
  VantorInitBufferManager();
  CPvlPtr<IEnv> env;
  if (env_env_CreateInstance(ZUEUID_CLASS_ENV, env.Out()) != PVL_OK) return 1;
  CPvlPtr<ICameraBufferManager> pool;
  if (CMCameraBufferManager::CreateInstance(env, ZUEUID_CLASS_BUFFER_MANAGER, nullptr, pool.Out()) != PVL_OK) return 1;
  BufferRequest request{};
  request.count = 4;
  request.size = 640 * 480 * 3 / 2;  // one VGA NV21 frame
  request.source = ZUEUID_BUFFER_SOURCE_CONTIGUOUS;
  request.alignment = 8;
  if (pool->InitRequirements(&request, 0, 0) != PVL_OK || pool->Allocate() != PVL_OK) return 1;
  Output output;
  Sensor sensor;
  CPvlPtr<ICameraPort> port;
  if (CCameraVideoPort::Create(env, &port) != PVL_OK || port->Attach(&output, &sensor) != PVL_OK) return 1;
  port->SetMode(1);
  port->Start();

  constexpr int kFrames = 200000;
  // One thread: out of the pool, through the port, back.
  auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kFrames; ++i) {
    IPvlMediaBuffer* b = nullptr;
    pool->GetBuffer(1, &b);
    port->QueueFrame(b);
    b->Release();
    IPvlMediaBuffer* got = nullptr;
    port->GetNextFrame(&got);
    got->Release();
  }
  const double sameThread = Microseconds(std::chrono::steady_clock::now() - start, kFrames);

  // Two threads: a producer (the engine) and a reader (the capture thread) that
  // holds each frame briefly, as the driver's pin does.
  constexpr int kCrossFrames = 50000;
  std::thread reader([&] {
    for (int i = 0; i < kCrossFrames; ++i) {
      IPvlMediaBuffer* got = nullptr;
      if (port->GetNextFrame(&got) != PVL_OK) return;
      got->Release();
    }
  });
  start = std::chrono::steady_clock::now();
  for (int i = 0; i < kCrossFrames; ++i) {
    IPvlMediaBuffer* b = nullptr;
    pool->GetBuffer(0, &b);  // waits while the reader holds every buffer
    port->QueueFrame(b);
    b->Release();
  }
  reader.join();
  const double crossThread = Microseconds(std::chrono::steady_clock::now() - start, kCrossFrames);

  port->Stop();
  port.Reset();
  pool->Free();
  std::printf("frame hand-over (pool -> port -> reader -> pool), %u-byte frames, never copied\n", request.size);
  std::printf("  same thread:   %8.2f us per frame (%d frames)\n", sameThread, kFrames);
  std::printf("  across threads: %7.2f us per frame (%d frames, 4 buffers)\n", crossThread, kCrossFrames);
  return 0;
}
