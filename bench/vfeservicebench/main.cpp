// vfeservicebench: how much CPU the VFE service spends per preview frame.
//
// The VFE hardware model produces 320 x 240 preview frames on OUTPUT1 (on its
// own threads, not counted). Everything per frame that runs on the service's
// receive thread is counted: reading the driver's message, matching the
// buffer, raising EVENT_OUTPUT, the engine releasing the frame at once (as a
// port that copies it would), the ready signal, and the re-arm that gives the
// VFE the buffer again. The driver's own command work on that thread is part
// of it; the model's is not. Measured as the receive thread's CPU time between
// the first and the last frame event.
#include <stdio.h>
#include <sys/resource.h>
#include <stdlib.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "benchargs.h"
#include "board_sensor.h"
#include "board_sim.h"
#include "board_vfe.h"
#include "camera_module_power.h"
#include "camerasettings.h"
#include "chipset.h"
#include "chipset_sim.h"
#include "cmcamerabuffermanager.h"
#include "cvfeservice.h"
#include "ienv.h"
#include "orbhost_test.h"
#include "plindor.h"
#include "vfedriver.h"

namespace {

// User and system time of the calling thread, in nanoseconds.
void ThreadTimes(double* user, double* system) {
  rusage u;
  getrusage(RUSAGE_THREAD, &u);
  *user = double(u.ru_utime.tv_sec) * 1e9 + double(u.ru_utime.tv_usec) * 1e3;
  *system = double(u.ru_stime.tv_sec) * 1e9 + double(u.ru_stime.tv_usec) * 1e3;
}

double ThreadCpuNs() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
}

class Settings final : public IVfeSettings {
 public:
  SensorOutputFormat format{{3, 0, 0}};
  SensorTiming timing{{33333, 0, 0, 0}};
  SensorGeometry geometry{};
  SensorModeInfo modeInfo{};
  Settings() {
    geometry.Words[9] = 1296;
    geometry.Words[10] = 972;
  }
  int32_t AddRef() override { return 1; }
  int32_t Release() override { return 1; }
  PvlResult QueryInterface(ZUEUID iid, void** out) override {
    *out = iid == ZUEUID_VFE_SETTINGS ? static_cast<IVfeSettings*>(this) : nullptr;
    return *out ? PVL_OK : PVL_E_NOTSUPPORTED;
  }
#define F(Name, Type, field) \
  PvlResult Name(Type* out) override { *out = field; return PVL_OK; }
  F(GetSensorFormat, SensorOutputFormat, format)
  F(GetSensorTiming, SensorTiming, timing)
  F(GetSensorGeometry, SensorGeometry, geometry)
  F(GetSensorModeInfo, SensorModeInfo, modeInfo)
#undef F
#define N(Name, Type) \
  PvlResult Name(Type*) override { return PVL_E_UNSUPPORTED; }
  N(GetContrast, CameraRange) N(GetBrightness, CameraRange) N(GetGammaCurve, CameraFloatRange)
  N(GetImageEffectMode, uint32_t) N(GetImageEffect, uint32_t) N(GetFixedCbOffset, CameraRange)
  N(GetFixedCrOffset, CameraRange) N(GetSaturation, CameraRange) N(GetHueAngle, CameraFloatRange)
  N(GetSharpness, CameraRange) N(GetDigitalGain, CFixedPoint) N(GetCropFactor, CFixedPoint)
  N(GetReservedFlag, uint8_t) N(GetWhiteBalanceIlluminant, uint32_t) N(GetAwbFlagB, uint8_t)
  N(GetAecIndex, uint32_t) N(GetAecFlagA, uint8_t) N(GetFlashNeeded, uint8_t) N(GetFocusState, uint32_t)
  N(GetExposureGain, CFixedPoint) N(GetAecWordB, uint32_t) N(GetLumaAdaptationMode, uint32_t)
  N(GetOutputDescription, CameraOutputDescription) N(GetModeTimingWord0, uint32_t)
#undef N
  PvlResult SetMaxCropFactor(const CFixedPoint*) override { return PVL_OK; }
  PvlResult GetWhiteBalanceGains(CFixedPoint*, CFixedPoint*, CFixedPoint*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetAecPair(uint32_t*, uint8_t*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetAFWindowConfig(uint8_t*, uint8_t*, int32_t, int32_t*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetVfeBlock(void*, int32_t, uint32_t*) override { return PVL_E_UNSUPPORTED; }
  PvlResult SetVfeBlock(const void*, uint32_t) override { return PVL_E_UNSUPPORTED; }
};

// Releases every frame at once; notes the receive thread's CPU time at the
// first and the last frame it counts.
class Sink final : public ICameraEngineEventSink {
 public:
  explicit Sink(int frames) : m_frames(frames) {}
  int32_t AddRef() override { return 1; }
  int32_t Release() override { return 1; }
  PvlResult QueryInterface(ZUEUID, void** out) override {
    *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }
  PvlResult OnEvent(uint32_t kind, uint32_t, IPvlBase*) override {
    if (kind != EVENT_OUTPUT) return PVL_OK;
    const int n = ++m_seen;
    if (n == 1) {
      m_first = ThreadCpuNs();
      ThreadTimes(&m_user0, &m_sys0);
    }
    if (n == m_frames + 1) {
      m_last = ThreadCpuNs();
      ThreadTimes(&m_user1, &m_sys1);
      m_done = true;
    }
    return PVL_OK;
  }
  bool Done() const { return m_done; }
  double PerFrameNs() const { return (m_last - m_first) / m_frames; }
  double UserPerFrameNs() const { return (m_user1 - m_user0) / m_frames; }
  double SystemPerFrameNs() const { return (m_sys1 - m_sys0) / m_frames; }

 private:
  int m_frames;
  std::atomic<int> m_seen{0};
  std::atomic<bool> m_done{false};
  double m_first = 0, m_last = 0;
  double m_user0 = 0, m_sys0 = 0, m_user1 = 0, m_sys1 = 0;
};

bool SensorWrite(uint16_t reg, uint8_t value) {
  CameraSensorI2C_Command c{};
  c.slaveAddress = kSensorSlave;
  c.flags = 0x22;
  c.data = &value;
  c.registerAddress = reg;
  c.length = 1;
  return CameraSensorI2C_Write(&c) == 1;
}

template <class T>
bool Send(CVfeService* s, uint32_t id, const T& record) {
  return s->SendCommand(static_cast<int32_t>(id), &record, sizeof record) == PVL_OK;
}

VfeScaleRecord Scale(uint16_t in, uint16_t out) {
  VfeScaleRecord r{};
  r.enable = in != out;
  r.inputSize = in;
  r.outputSize = out;
  r.phaseStep = (uint32_t(in) << 12) / out;
  return r;
}

}  // namespace

const char kUsage[] = "usage: vfeservicebench [FRAMES]   (default 600)\n";

int main(int argc, char** argv) {
  if (argc > 1 && BenchAsksHelp(argv[1])) return BenchHelp(kUsage);
  if (argc > 2) return BenchUsage("vfeservicebench", std::string("unexpected argument ") + argv[2], kUsage);
  int frames = 600;
  if (argc > 1) {
    char* end = nullptr;
    const long n = strtol(argv[1], &end, 10);
    if (argv[1][0] == '-') return BenchUsage("vfeservicebench", std::string("unknown option ") + argv[1], kUsage);
    if (*end || end == argv[1] || n < 1 || n > 1000000)
      return BenchUsage("vfeservicebench", std::string("not a frame count: ") + argv[1], kUsage);
    frames = int(n);
  }
  BoardSimReset();
  BoardVfeReset();
  if (CameraSensorI2C_Init() != 1 || !camera::test::PowerUpCameraModule()) return 1;
  BoardSetSpeedUp(8);
  BoardSetCameraTestMode(true);
  IEnv* env = nullptr;
  if (env_env_CreateInstance(ZUEUID_CLASS_ENV, reinterpret_cast<void**>(&env)) != PVL_OK) return 1;
  OrbhostTest_RegisterClass(ZUEUID_CLASS_VFE_DRIVER, &VfeDriver_CreateInstance);
  OrbhostTest_RegisterClass(ZUEUID_CLASS_BUFFER_MANAGER, &CMCameraBufferManager::CreateInstance);
  IVfeService* service = nullptr;
  if (VfeService_CreateInstance(env, ZUEUID_CLASS_VFE_SERVICE, nullptr, reinterpret_cast<void**>(&service)) != PVL_OK)
    return 1;
  CVfeService* svc = static_cast<CVfeService*>(service);
  Settings settings;
  Sink sink(frames);
  if (service->Initialize(0, &settings) != PVL_OK) return 1;
  service->SetEventSink(&sink);

  // Output 1 at 320 x 240 with the engine's pool of four.
  CVideoOutput* out1 = svc->GetOutput(1);
  CameraPortFormat f{};
  f.idColorSpace = ZUEUID_COLORSPACE_YUV;
  f.FourCC = CAMERA_FOURCC_NV21;
  f.Depth = 12;
  f.Width = 320;
  f.Height = 240;
  f.HorizontalSampling = f.VerticalSampling = 2;
  f.ClipRight = 320;
  f.ClipBottom = 240;
  out1->Enable(VIDEO_OUTPUT_MODE_VIDEO, 1);
  out1->SetFormat(VIDEO_OUTPUT_MODE_VIDEO, &f);
  BufferRequest request{};
  uint32_t count = 0;
  out1->GetBufferInfo(VIDEO_OUTPUT_MODE_VIDEO, &request, 1, &count);
  ICameraBufferManager* bm = nullptr;
  env->CreateInstance(ZUEUID_CLASS_BUFFER_MANAGER, reinterpret_cast<void**>(&bm));
  bm->InitRequirements(&request, 0, 0);
  bm->Allocate();
  out1->SetBufferManager(VIDEO_OUTPUT_MODE_VIDEO, bm);

  svc->SendReset();
  const uint16_t w = 1296, h = 972, aw = w - 12, ah = h - 6, mw = 642, mh = 483;
  VfeCamifCmd camif{};
  camif.lastPixel = w - 1;
  camif.lastLine = h - 1;
  camif.pixelSkipPattern = camif.lineSkipPattern = 0xFFFF;
  Send(svc, VFE_CMD_CAMIF, camif);
  VfeDemosaicCmd demosaic{};
  demosaic.enable = 1;
  Send(svc, VFE_CMD_DEMOSAIC, demosaic);
  VfeFovCropCmd crop{1, 0, 0, uint16_t(aw - 1), 0, uint16_t(ah - 1)};
  Send(svc, VFE_CMD_FOV_CROP, crop);
  VfeMainScalerCmd main{};
  main.enable = 1;
  main.horizontal = Scale(aw, mw);
  main.vertical = Scale(ah, mh);
  Send(svc, VFE_CMD_MAIN_SCALER, main);
  VfeOutputScalerCmd y{};
  y.enable = 1;
  y.horizontal = Scale(mw, 320);
  y.vertical = Scale(mh, 240);
  Send(svc, VFE_CMD_OUTPUT_Y_SCALER, y);
  VfeOutputScalerCmd c{};
  c.enable = 1;
  c.horizontal = Scale(mw, 160);
  c.vertical = Scale(mh, 120);
  Send(svc, VFE_CMD_OUTPUT_CBCR_SCALER, c);
  VfeOutputCmd out{};
  out.fixedWord = 4;
  out.outputMode = 0;
  out.output1 = VfeOutputPathRecord{1, 0, 320, 240, 240, 320, 320, 120, 120, 320};
  Send(svc, VFE_CMD_OUTPUT, out);
  svc->GetOperationMode()->pixelOrder = kSensorVfePixelOrder;
  svc->UpdateOutputOrder(VIDEO_OUTPUT_MODE_VIDEO);
  out1->SetCurrentMode(VIDEO_OUTPUT_MODE_VIDEO, 0);
  for (int i = 0; i < 3; ++i) {
    IPvlMediaBuffer* b = nullptr;
    if (out1->QueueNewBuffer(&b) != PVL_OK) return 1;
    out1->AckBuffer(b);
    b->Release();
  }
  if (service->Start() != PVL_OK) return 1;
  SensorWrite(0x0202, 351 >> 8);
  SensorWrite(0x0203, 351 & 0xFF);
  SensorWrite(0x0100, 1);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
  while (!sink.Done() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  SensorWrite(0x0100, 0);
  service->Stop();
  service->Uninitialize();
  if (!sink.Done()) {
    fprintf(stderr, "vfeservicebench: frames did not come\n");
    return 1;
  }
  printf("vfeservicebench: %d preview frames, receive thread CPU per frame %.2f us (user %.2f, kernel %.2f)\n",
         frames, sink.PerFrameNs() / 1000.0, sink.UserPerFrameNs() / 1000.0, sink.SystemPerFrameNs() / 1000.0);
  bm->Release();
  service->Release();
  BoardVfeReset();
  env->Release();
  return 0;
}
