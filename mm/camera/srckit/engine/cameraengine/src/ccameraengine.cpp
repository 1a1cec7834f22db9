// The camera engine (see the header); property application, tuning-data
// selection, best-shot modes and the plug-in set-up are in
// ccameraengineproperties.cpp.
#include "ccameraengine.h"

#include <chrono>
#include <new>
#include <thread>

#include "ccamerabestshot.h"
#include "ccameraelfsmanager.h"
#include "ccameraengineconfig.h"
#include "ccameraenginefrontend.h"
#include "ccameraportmanager.h"
#include "cenginesettings.h"
#include "cenginestatemachine.h"
#include "cexifdata.h"
#include "csensorinfoproxy.h"
#include "cuserdata.h"
#include "cuserdataaggregate.h"
#include "ienv.h"
#include "plindor.h"
#include "pvllog.h"
#include "vfeconfigurerids.h"

namespace {

constexpr uint32_t kMaxPorts = 5;
constexpr uint32_t kDevmanPerfLevel = 10;

// A violated precondition is the caller's bug: it stops in the debugger and,
// where the break returns, the operation refuses with 13.
#define ENGINE_REQUIRE(condition)            \
  do {                                       \
    if (!(condition)) {                      \
      PvlAssertBreak(__LINE__);              \
      return PVL_E_NOTREADY;                 \
    }                                        \
  } while (0)

// Runs a clean-up when it goes out of scope unless dismissed.
template <class F>
class ScopeGuard {
 public:
  explicit ScopeGuard(F f) : m_f(f) {}
  ~ScopeGuard() {
    if (m_armed) m_f();
  }
  void Dismiss() { m_armed = false; }
  ScopeGuard(const ScopeGuard&) = delete;
  ScopeGuard& operator=(const ScopeGuard&) = delete;

 private:
  F m_f;
  bool m_armed = true;
};

}  // namespace

// ---- Creation ----

int32_t CCameraEngine::CreateInstance(IEnv* env, ZUEUID, void*, void** out) { return Create(env, out, false); }

int32_t CCameraEngine::CreateDebugInstance(IEnv* env, ZUEUID, void*, void** out) { return Create(env, out, true); }

// Both classes share one registry entry: whichever is asked for first decides
// whether the engine runs on the services or on their simulators.
int32_t CCameraEngine::Create(IEnv* env, void** out, bool debug) {
  if (!out) return PVL_E_NULLPTR;
  *out = nullptr;
  if (!env) return PVL_E_NULLPTR;
  CPvlPtr<ISingletonRegistry> registry;
  PvlResult r = env->QueryInterface(ZUEUID_IFACE_SINGLETON_REGISTRY, registry.Out());
  if (r != PVL_OK) return r;
  CreatorContext context{env, debug};
  return registry->GetOrCreate(ZUEUID_CLASS_CAMERAENGINE, out, &CCameraEngine::Creator, &context);
}

PvlResult CCameraEngine::Creator(void* context, ZUEUID, void** out) {
  auto* c = static_cast<CreatorContext*>(context);
  CCameraEngine* engine = nullptr;
  PvlResult r = CreateUnregistered(c->env, c->debug, nullptr, &engine);
  if (r != PVL_OK) return r;
  *out = static_cast<ICameraEngine*>(engine->FrontEnd());
  return PVL_OK;
}

PvlResult CCameraEngine::CreateUnregistered(IEnv* env, bool debug, const char* configPath, CCameraEngine** out) {
  if (!out) return PVL_E_NULLPTR;
  *out = nullptr;
  if (!env) return PVL_E_NULLPTR;
  CPvlPtr<ISingletonRegistry> registry;
  PvlResult r = env->QueryInterface(ZUEUID_IFACE_SINGLETON_REGISTRY, registry.Out());
  if (r != PVL_OK) return r;
  auto* engine = new (std::nothrow) CCameraEngine(registry.Get(), env, debug, configPath, &r);
  if (!engine) return PVL_E_OUTOFMEMORY;
  // The first count: the registry learns the count word here.
  engine->AddRef();
  if (r == PVL_OK) r = engine->Construct();
  if (r != PVL_OK) {
    engine->Release();
    return r;
  }
  *out = engine;
  return PVL_OK;
}

// The faces, the configuration (its result first), the front end, the
// settings objects; the rest is Construct.
struct CCameraEngine::Parts {
  Parts(IEnv* env, const char* configPath, PvlResult* configResult, PvlResult* frontEndResult)
      : config(env, configPath, configResult), frontEnd(env, frontEndResult) {}
  CCameraEngineConfig config;
  CCameraEngineFrontEnd frontEnd;
  CUserData userData;
  CEngineSettings settings;
  CSensorInfoProxy proxy;
  CCameraBestShot bestShot;
};

CCameraEngine::CCameraEngine(ISingletonRegistry* registry, IEnv* env, bool debug, const char* configPath,
                             PvlResult* result)
    : m_registry(registry),
      m_env(env),
      m_debug(debug),
      m_parts(std::make_unique<Parts>(env, configPath ? configPath : CAMERA_ENGINE_CONFIG_PATH, &m_configResult,
                                      &m_frontEndResult)),
      m_config(m_parts->config),
      m_frontEnd(m_parts->frontEnd),
      m_userData(m_parts->userData),
      m_settings(m_parts->settings),
      m_proxy(m_parts->proxy),
      m_elfs(std::make_shared<CCameraELFSManager>()),
      m_bestShot(m_parts->bestShot) {
  *result = m_configResult != PVL_OK ? m_configResult : m_frontEndResult;
}

PvlResult CCameraEngine::Construct() {
  PvlResult r = m_frontEnd.GetPropertyStore(&m_store);
  if (r == PVL_OK) r = TuningData_GetService(&m_tuningData);
  if (r == PVL_OK)
    r = CEngineStateMachine::Create(m_env.Get(), static_cast<ICameraEngineInternal*>(this), &m_machine);
  if (r == PVL_OK) m_userData.SetSources(m_store.Get(), &m_formats);
  if (r == PVL_OK) r = CUserDataAggregate::New(m_env.Get(), &m_userData, &m_settings, &m_proxy, &m_aggregate);
  if (r == PVL_OK) {
    ZUEUID sensorClass = ZUEUID_CLASS_SENSOR_SERVICE;
    if (m_debug) {
      CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "Create in Debug Mode. Loading Sensor Service simulator!");
      sensorClass = ZUEUID_CLASS_SENSOR_SIMULATOR;
    }
    r = m_env->CreateInstance(sensorClass, m_sensor.Out());
  }
  if (r == PVL_OK) r = m_env->CreateInstance(ZUEUID_CLASS_FLASH_ELFS, m_flash.Out());
  if (r != PVL_OK) return r;
  m_frontEnd.SetEngine(this);
  m_machine->Start();
  return PVL_OK;
}

CCameraEngine::~CCameraEngine() {
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "CCameraEngine Destructor!");
  StopWatchdog();
  // From here no face may count the engine again.
  m_frontEnd.SetEngine(nullptr);
  m_aggregate.Reset();
  m_elfs.reset();
  m_sensor.Reset();
  m_vfe.Reset();
  m_flash.Reset();
  m_portManager.Reset();
  m_machine.Reset();
  m_proxy.Unbind();
  m_userData.SetSources(nullptr, nullptr);
  m_tuningData.Reset();
  m_bestShotTable.clear();
  m_store.Reset();
  m_tuningServer.Reset();
}

int32_t CCameraEngine::AddRef() { return m_registry->AdjustRefCount(ZUEUID_CLASS_CAMERAENGINE, &m_count, 1); }

int32_t CCameraEngine::Release() {
  // The registry forgets the engine in the step that takes the count to 0.
  const int32_t n = m_registry->AdjustRefCount(ZUEUID_CLASS_CAMERAENGINE, &m_count, -1);
  if (n == 0) delete this;
  return n;
}

PvlResult CCameraEngine::QueryInterface(ZUEUID iid, void** out) {
  if (!out) return PVL_E_NULLPTR;
  switch (iid) {
    case ZUEUID_IFACE_BASE:
    case ZUEUID_IFACE_CAMERAENGINE_INTERNAL:
      *out = static_cast<ICameraEngineInternal*>(this);
      break;
    case ZUEUID_IFACE_CAMERAENGINE_EVENTSINK:
      *out = static_cast<ICameraEngineEventSink*>(this);
      break;
    default:
      return PVL_E_UNSUPPORTED;
  }
  AddRef();
  return PVL_OK;
}

PvlResult CCameraEngine::GetStateMachine(CEngineStateMachine** machine) {
  if (!machine) return PVL_E_NULLPTR;
  if (!m_machine) return PVL_E_NOTREADY;
  *machine = m_machine.Get();
  (*machine)->AddRef();
  return PVL_OK;
}

PvlResult CCameraEngine::FormatSource::GetEnabledPortFormats(CameraPortFormat* formats, uint32_t capacity,
                                                             uint32_t* count) {
  if (!m_engine->m_machine) return PVL_E_NOTREADY;
  return m_engine->m_machine->GetEnabledPortFormats(formats, capacity, count);
}

// ---- Configurers ----

PvlResult CCameraEngine::RunConfigurer(IConfigCommand* configurer) {
  return configurer ? configurer->Configure() : PVL_E_FAIL;
}

PvlResult CCameraEngine::RunSensorConfigurer(uint32_t configuration) {
  if (!m_sensor) return PVL_E_NOTREADY;
  CPvlPtr<IConfigCommand> configurer;
  PvlResult r = m_sensor->GetConfigurer(configuration, &configurer);
  return r != PVL_OK ? r : RunConfigurer(configurer.Get());
}

PvlResult CCameraEngine::RunVfeConfigurer(uint32_t configuration) {
  if (!m_vfe) return PVL_E_NOTREADY;
  CPvlPtr<IConfigCommand> configurer;
  PvlResult r = m_vfe->GetConfigurer(configuration, &configurer);
  return r != PVL_OK ? r : RunConfigurer(configurer.Get());
}

// A client's property comes at any moment, while the loops' per-frame update may
// still wait for the next frame start: until it lands the VFE refuses every block
// update. That refusal means "not yet": while the stream runs, the change stays
// pending and the next preview frame (which follows the update's acknowledgement)
// applies it, so the client never waits out a frame and nothing is lost.
PvlResult CCameraEngine::RunVfeConfigurerForClient(uint32_t configuration) {
  PvlResult r = RunVfeConfigurer(configuration);
  if (r != PVL_E_FAIL || !m_sensorStarted) return r;
  std::lock_guard<std::mutex> hold(m_pendingGuard);
  // Each refused configurer is run again itself: a general update does not
  // carry every block a configurer sends (the sharpness filter, for one).
  if (std::find(m_pendingConfigurations.begin(), m_pendingConfigurations.end(), configuration) ==
      m_pendingConfigurations.end())
    m_pendingConfigurations.push_back(configuration);
  m_anyPending.store(true);
  return PVL_OK;
}

// Runs the pending client configurations in the order they came; one the VFE
// still refuses stays pending for the next frame.
void CCameraEngine::ApplyPendingClientConfiguration() {
  // Nearly every frame finds nothing pending; one queued meanwhile is the next
  // frame's, as when it came just after the guard.
  if (!m_anyPending.load()) return;
  std::vector<uint32_t> pending;
  {
    std::lock_guard<std::mutex> hold(m_pendingGuard);
    pending.swap(m_pendingConfigurations);
    m_anyPending.store(false);
  }
  if (pending.empty()) return;
  std::vector<uint32_t> refused;
  for (uint32_t configuration : pending)
    if (RunVfeConfigurer(configuration) == PVL_E_FAIL) refused.push_back(configuration);
  if (refused.empty()) return;
  std::lock_guard<std::mutex> hold(m_pendingGuard);
  // Keep the order: what was refused came before anything queued meanwhile.
  for (uint32_t configuration : m_pendingConfigurations)
    if (std::find(refused.begin(), refused.end(), configuration) == refused.end()) refused.push_back(configuration);
  m_pendingConfigurations.swap(refused);
  m_anyPending.store(true);
}

PvlResult CCameraEngine::RunPictureConfigurer(uint32_t configuration) {
  return m_proxy.IsYuvSensor() ? RunSensorConfigurer(configuration) : RunVfeConfigurerForClient(configuration);
}

// ---- Initialize and Uninitialize ----

void CCameraEngine::UndoInitialize(bool sensorInitialised, bool vfeInitialised) {
  if (sensorInitialised) CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "Initialize not successful. Uninitialize camera sensor!");
  if (vfeInitialised) CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "Initialize not successful. Uninitialize VFE!");
  CPvlPtr<CCameraPortManager> ports;
  CPvlPtr<IVfeService> vfe;
  {
    std::lock_guard<std::mutex> hold(m_frameGuard);
    ports = std::move(m_portManager);
    vfe = std::move(m_vfe);
    // Plug-ins registered by a failed set-up must not be registered twice by the next.
    m_elfs = std::make_shared<CCameraELFSManager>();
  }
  if (vfe) vfe->SetEventSink(nullptr);
  if (ports) ports->SetPortMode(0);
  ports.Reset();
  if (vfe && vfeInitialised) vfe->Uninitialize();
  vfe.Reset();
  if (sensorInitialised) {
    m_proxy.Unbind();
    m_sensor->Uninitialize();
    m_sensorStarted = false;
  }
  CameraDevmanSetPerfLevel(0);
  CameraDevmanDeregister();
}

PvlResult CCameraEngine::Initialize() {
  ENGINE_REQUIRE(m_sensor && !m_vfe && !m_portManager);
  CameraDevmanRegister();
  CameraDevmanSetPerfLevel(kDevmanPerfLevel);

  // Whatever a failure leaves is undone on the way out: the engine is then as
  // after Uninitialize and can be initialised again.
  bool sensorInitialised = false;
  bool vfeInitialised = false;
  ScopeGuard undo([&] { UndoInitialize(sensorInitialised, vfeInitialised); });

  PvlResult r = SelectTuningData(m_cameraId);
  if (r != PVL_OK) return r;
  r = m_sensor->Initialize(m_cameraId, static_cast<CPvlObject*>(m_aggregate.Get()));
  if (r != PVL_OK) return r;
  sensorInitialised = true;
  r = m_proxy.SetSensorService(m_sensor.Get());
  if (r != PVL_OK) return r;

  CPvlPtr<IVfeService> vfe;
  ZUEUID vfeClass = ZUEUID_CLASS_VFE_SERVICE;
  if (m_debug) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "Initialize in Debug Mode. Loading VFE simulator!");
    vfeClass = ZUEUID_CLASS_VFE_SIMULATOR;
  }
  r = m_env->CreateInstance(vfeClass, vfe.Out());
  if (r != PVL_OK) return r;
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "Initialzing VFE Service with device ID %d", 0);
  // Held by the engine from here, so that the undo finds it.
  {
    std::lock_guard<std::mutex> hold(m_frameGuard);
    m_vfe = vfe;
  }
  vfeInitialised = true;
  r = vfe->Initialize(0, static_cast<CPvlObject*>(m_aggregate.Get()));
  if (r != PVL_OK) return r;
  r = vfe->SetEventSink(static_cast<ICameraEngineEventSink*>(this));
  if (r != PVL_OK) return r;

  CPvlPtr<CCameraPortManager> ports;
  r = CCameraPortManager::Create(m_env.Get(), m_machine.Get(), vfe.Get(), m_sensor.Get(), &ports);
  if (r != PVL_OK) return r;
  {
    std::lock_guard<std::mutex> hold(m_frameGuard);
    m_portManager = ports;
  }
  r = SetUpElfs();
  if (r != PVL_OK) return r;

  // The tuning server is optional: without one the camera still works.
  if (!m_tuningServer) {
    CPvlPtr<ITunvex> server;
    if (m_env->CreateInstance(ZUEUID_CLASS_TUNINGSERVER, server.Out()) == PVL_OK && server) {
      server->Start();
      m_tuningServer = server;
    }
  }

  r = ports->SetPortMode(1);
  if (r != PVL_OK) return r;

  // The sensor's make and model go into the still's EXIF. Without a JPEG
  // service there is no JPEG store (the port manager answers 20): the camera
  // then has no IJPG format but works otherwise.
  CPvlPtr<IPropertyStore> jpeg;
  r = ports->GetJpegProperties(&jpeg);
  if (r == PVL_OK) {
    CExifData exif(m_env.Get(), &m_userData, &m_settings, &m_proxy);
    r = exif.GetSensorExifTags(jpeg.Get());
  } else if (r == PVL_E_UNSUPPORTED) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "No JPEG service: sensor EXIF tags not collected");
    r = PVL_OK;
  }
  if (r != PVL_OK) return r;
  undo.Dismiss();
  return PVL_OK;
}

PvlResult CCameraEngine::Uninitialize() {
  ENGINE_REQUIRE(m_sensor && m_vfe && m_portManager);
  StopWatchdog();
  m_vfe->SetEventSink(nullptr);
  m_portManager->SetPortMode(0);
  m_proxy.Unbind();
  CPvlPtr<CCameraPortManager> ports;
  CPvlPtr<IVfeService> vfe;
  {
    std::lock_guard<std::mutex> hold(m_frameGuard);
    ports = std::move(m_portManager);
    vfe = std::move(m_vfe);
    // The plug-ins go with the ports; the next Initialize registers them anew.
    m_elfs = std::make_shared<CCameraELFSManager>();
  }
  ports.Reset();
  vfe->Uninitialize();
  vfe.Reset();
  m_sensor->Uninitialize();
  m_sensorStarted = false;
  CameraDevmanSetPerfLevel(0);
  CameraDevmanDeregister();
  return PVL_OK;
}

// ---- Sensor, video, still ----

PvlResult CCameraEngine::StartSensor() {
  ENGINE_REQUIRE(m_sensor && m_vfe);
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "Starting Camera Sensor");
  PvlResult r = m_sensor->Start();
  if (r != PVL_OK) return r;
  r = m_elfs->Configure();
  if (r == PVL_OK) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "Reset VFE Service");
    r = m_vfe->Reset();
  }
  if (r != PVL_OK) {
    m_sensor->Stop();
    return r;
  }
  m_sensorStarted = true;
  return PVL_OK;
}

PvlResult CCameraEngine::StopSensor() {
  ENGINE_REQUIRE(m_sensor);
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "Stopping Camera Sensor");
  // Uninitialize stops the sensor with the rest, and Ready's way down stops it
  // again afterwards: a sensor that is not running is stopped already (the
  // service itself would refuse with 13 and keep the engine from going down).
  if (!m_sensorStarted) return PVL_OK;
  m_sensorStarted = false;
  return m_sensor->Stop();
}

PvlResult CCameraEngine::OnStartVideo() {
  ENGINE_REQUIRE(m_sensor && m_vfe && m_portManager);
  PvlResult r = ApplyBestShotMode();
  if (r != PVL_OK) return r;
  CPvlPtr<IConfigCommand> sensorVideo;
  CPvlPtr<IConfigCommand> vfeVideo;
  r = m_sensor->GetConfigurer(ZUEUID_CONFIG_VIDEO, &sensorVideo);
  if (r == PVL_OK) r = m_vfe->GetConfigurer(ZUEUID_CONFIG_VIDEO, &vfeVideo);
  if (r == PVL_OK) r = RunConfigurer(sensorVideo.Get());
  if (r != PVL_OK) return r;
  CameraPortFormat preview{};
  uint32_t output = 0;
  r = m_portManager->GetMainVideoOutput(&output, &preview);
  if (r != PVL_OK) return r;
  m_firstOutput = output;
  r = m_elfs->Configure();
  if (r == PVL_OK) r = m_elfs->OnStartVideo(&preview);
  if (r == PVL_OK && !m_proxy.IsYuvSensor()) r = RunSensorConfigurer(ZUEUID_CONFIG_EXPOSURE);
  if (r == PVL_OK) r = RunConfigurer(vfeVideo.Get());
  if (r == PVL_OK) r = m_vfe->Start();
  if (r == PVL_OK) {
    m_sensorLost = false;
    StartWatchdog();
  }
  return r;
}

PvlResult CCameraEngine::OnStopVideo() {
  ENGINE_REQUIRE(m_sensor && m_vfe && m_portManager);
  CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "Enter OnStopVideo");
  StopWatchdog();
  PvlResult stopped = m_vfe->Stop();
  CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "VFE service stopped with result %d", static_cast<int>(stopped));
  PvlResult r = m_settings.SetPreSnapshotState(0);
  if (r == PVL_OK) r = m_elfs->OnStopVideo();
  return r;
}

PvlResult CCameraEngine::OnStartSnapshot() {
  ENGINE_REQUIRE(m_sensor && m_vfe && m_portManager);
  CameraPortFormat main{};
  CameraPortFormat thumbnail{};
  uint32_t mainOutput = 0;
  uint32_t thumbnailOutput = 0;
  PvlResult r = m_portManager->GetSnapshotMainFormat(&mainOutput, &main);
  if (r == PVL_OK) r = m_portManager->GetSnapshotThumbnailFormat(&thumbnailOutput, &thumbnail);
  if (r != PVL_OK) return r;
  m_firstOutput = mainOutput;
  m_secondOutput = thumbnailOutput;
  r = m_elfs->OnStartSnapshot(&main, &thumbnail);
  if (r != PVL_OK) return r;

  uint32_t hjr = 0;
  if (m_userData.GetSnapshotHJRMode(&hjr) == PVL_OK && hjr == 1) {
    uint32_t frames = 0;
    if (m_settings.GetHJRFrameCount(&frames) != PVL_OK || frames == 0) frames = 1;
    r = m_portManager->SetSnapshotCount(m_portManager->GetSnapshotCount() * frames);
    if (r != PVL_OK) return r;
  }
  r = m_portManager->StartSnapshot();
  if (r == PVL_OK) r = RunSensorConfigurer(ZUEUID_CONFIG_SNAPSHOT);
  if (r != PVL_OK) return r;

  CPvlPtr<IConfigCommand> vfeSnapshot;
  r = m_vfe->GetConfigurer(ZUEUID_CONFIG_SNAPSHOT, &vfeSnapshot);
  if (r != PVL_OK) return r;
  if (!vfeSnapshot) return PVL_E_FAIL;
  CPvlPtr<ISnapshotConfigCommand> counted;
  if (vfeSnapshot->QueryInterface(ZUEUID_IFACE_SNAPSHOT_CONFIG_COMMAND, counted.Out()) == PVL_OK && counted) {
    r = counted->SetCaptureCount(static_cast<int32_t>(m_portManager->GetSnapshotCount()));
    if (r != PVL_OK) return r;
  }
  r = vfeSnapshot->Configure();
  if (r != PVL_OK) return r;

  if (m_portManager->IsJpegOutput()) {
    CPvlPtr<IPropertyStore> jpeg;
    r = m_portManager->GetJpegProperties(&jpeg);
    if (r != PVL_OK) return r;
    CExifData exif(m_env.Get(), &m_userData, &m_settings, &m_proxy);
    r = exif.CollectCaptureExif(jpeg.Get());
    if (r == PVL_OK) r = exif.AddTuningData(jpeg.Get(), m_tuningServer.Get());
    if (r != PVL_OK) return r;
  }
  return m_vfe->Start();
}

PvlResult CCameraEngine::OnStopSnapshot() {
  ENGINE_REQUIRE(m_sensor && m_vfe && m_portManager);
  PvlResult last = PVL_OK;
  PvlResult r = m_vfe->Stop();
  if (r != PVL_OK) last = r;
  r = m_portManager->StopSnapshot();
  if (r != PVL_OK) last = r;
  r = m_elfs->OnStopSnapshot();
  if (r != PVL_OK) last = r;
  return last;
}

PvlResult CCameraEngine::SetSnapshotCount(uint32_t count) {
  ENGINE_REQUIRE(m_portManager);
  m_userData.SetSnapshotCount(count);
  return m_portManager->SetSnapshotCount(count);
}

PvlResult CCameraEngine::SetCameraId(uint32_t cameraId) {
  m_cameraId = cameraId;
  return PVL_OK;
}

// ---- Focus ----

PvlResult CCameraEngine::OnStartFocus(uint8_t continuous, ICameraSettingsListener* listener) {
  uint8_t fixed = 1;
  PvlResult r = m_proxy.IsFixedFocus(&fixed);
  if (r != PVL_OK) return r;
  if (fixed) return PVL_E_UNSUPPORTED;
  uint32_t rectangles = 0;
  r = m_userData.GetFocusRectangleMode(&rectangles);
  if (r != PVL_OK) return r;
  if (rectangles == 1) {
    ENGINE_REQUIRE(m_vfe);
    PvlResult stopped = m_vfe->Stop();
    CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "VFE service stopped with result %d", static_cast<int>(stopped));
    if (stopped != PVL_OK) return stopped;
    r = RunVfeConfigurer(ZUEUID_CONFIG_VIDEO);
    if (r == PVL_OK) r = m_vfe->Start();
    if (r != PVL_OK) return r;
  }
  m_proxy.SetFocusListener(listener);
  return m_proxy.SetFocusState(continuous ? 2 : 1);
}

PvlResult CCameraEngine::OnStopFocus() { return m_proxy.SetFocusState(0); }

// ---- Ports and formats ----

PvlResult CCameraEngine::GetPorts(ICameraPort** ports, uint32_t capacity, uint32_t* count) {
  if (!count || (!ports && capacity >= 1)) return PVL_E_BADARG;
  if (!m_portManager) return PVL_E_NOTREADY;
  ICameraPort* fetched[kMaxPorts] = {};
  uint32_t n = 0;
  PvlResult r = m_portManager->GetPorts(fetched, kMaxPorts, &n);
  if (n > kMaxPorts) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "ERROR, More ports: %d than MAX: %d", static_cast<int>(n),
                     static_cast<int>(kMaxPorts));
    n = kMaxPorts;
  }
  for (uint32_t i = 0; i < n; ++i) {
    if (!fetched[i]) continue;
    if (i < capacity) ports[i] = fetched[i]->GetProxy();  // counted
    fetched[i]->Release();
  }
  *count = n;
  return r;
}

PvlResult CCameraEngine::GetEnabledPortFormats(CameraPortFormat* formats, uint32_t capacity, uint32_t* count) {
  ENGINE_REQUIRE(m_portManager);
  return m_portManager->GetEnabledVideoFormats(formats, capacity, count);
}

PvlResult CCameraEngine::GetCurrentPortFormats(CameraPortFormat* formats, uint32_t capacity, uint32_t* count) {
  ENGINE_REQUIRE(m_portManager);
  return m_portManager->GetEnabledSnapshotFormats(formats, capacity, count);
}

// ---- Frames and statistics ----

void CCameraEngine::FramePath(CPvlPtr<CCameraPortManager>& ports, std::shared_ptr<CCameraELFSManager>& elfs,
                              uint32_t& firstOutput) {
  std::lock_guard<std::mutex> hold(m_frameGuard);
  ports = m_portManager;
  elfs = m_elfs;
  firstOutput = m_firstOutput;
}

// Frames: the machine hands them over on the receive thread without its lock,
// so that a frame never waits in the machine for a client event; the state
// that takes frames (Video) calls this pass under the machine's lock, because
// the plug-ins' OnFrame is not free of the events (the flash plug-in switches
// its LED here). That lock also keeps what the pass reads in place: the port
// manager, the plug-in list and the preview output change only in events
// (Initialize, Uninitialize, the stream starts), which hold it, so the pass
// reads them as they are, without copies or counts of its own. The rest it
// reaches is safe without that lock: the ports' queues (each port has its own
// lock), the pending configurations (their own guard) and the proxy's
// focus-state word.
PvlResult CCameraEngine::OnFrameAvailable(uint32_t outputId, IPvlMediaBuffer* buffer) {
  CCameraPortManager* ports = m_portManager.Get();
  if (!ports) return PVL_E_NOTREADY;
  const uint32_t preview = m_firstOutput;
  PvlResult r = PVL_OK;
  if (outputId == preview && m_elfs) r = m_elfs->OnFrame(buffer);
  if (r == PVL_OK) r = ports->QueueVideoFrame(outputId, buffer);
  if (outputId == preview) ApplyPendingClientConfiguration();

  uint8_t onSensor = 0;
  uint8_t fixed = 1;
  uint32_t state = 0;
  if (m_proxy.IsOnSensorAutoFocus(&onSensor) == PVL_OK && onSensor && m_proxy.IsFixedFocus(&fixed) == PVL_OK &&
      !fixed && m_proxy.GetFocusState(&state) == PVL_OK && (state == 1 || state == 2)) {
    uint32_t result = 0;
    r = m_proxy.GetOnSensorFocusResult(&result);
    if (r == PVL_OK && result == 2) {
      CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "On-sensor auto-focus failed");
      r = m_proxy.SetFocusState(4);
    } else if (r == PVL_OK && result == 1) {
      CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "On-sensor auto-focus completed successfully");
      r = m_proxy.SetFocusState(3);
    }
  }
  return r;
}

PvlResult CCameraEngine::OnSnapshotFrameAvailable(uint32_t outputId, IPvlMediaBuffer* buffer) {
  ENGINE_REQUIRE(m_portManager);
  uint8_t deliver = 1;
  PvlResult r = PVL_OK;
  if (outputId == m_firstOutput) {
    r = m_elfs->OnSnapshotMainFrame(buffer, &deliver);
  } else if (outputId == m_secondOutput) {
    r = m_elfs->OnSnapshotSecondFrame(buffer, &deliver);
  }
  if (r != PVL_OK || !deliver) return r;
  return m_portManager->QueueSnapshotFrame(outputId, buffer);
}

PvlResult CCameraEngine::OnVideoStatsAvailable(uint32_t kind, IPvlBase* statistics) {
  PvlResult r = m_elfs->OnStatsAF(statistics);
  if (r != PVL_OK) return r;
  r = m_elfs->OnStatsAEC(statistics);
  if (r != PVL_OK) return r;
  if (m_settings.IsExposureChanged()) {
    // A refused write is the first sign of a sensor gone mid-stream.
    if (RunSensorConfigurer(ZUEUID_CONFIG_EXPOSURE) != PVL_OK) SensorStillThere();
    m_settings.ClearExposureChanged();
  }
  r = m_elfs->OnStatsAWB(statistics);
  if (r == PVL_OK) r = m_elfs->OnStatsOthers(statistics);
  if (r != PVL_OK || kind != 0) return r;
  r = RunVfeConfigurer(ZUEUID_CONFIG_UPDATE_ALL);
  m_settings.ClearVfeChanged();
  return r;
}

bool CCameraEngine::SensorStillThere() {
  if (m_sensorLost) return false;
  if (!m_sensor || m_sensor->CheckPresence() != PVL_E_DEVICE_LOST) return true;
  CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "Camera sensor lost while streaming: the video streams end");
  m_sensorLost = true;
  if (m_portManager) m_portManager->VideoDeviceLost();
  return false;
}

bool CCameraEngine::CheckSilentSensor() {
  CPvlPtr<CEngineStateMachine> machine = m_machine;
  auto stopping = [](void* watchdog) { return static_cast<CSensorWatchdog*>(watchdog)->Stopping(); };
  if (!machine || !machine->LockForDeliveryUnless(stopping, &m_watchdog)) return false;
  struct Unlock {
    CEngineStateMachine* machine;
    ~Unlock() { machine->Unlock(); }
  } unlock{machine.Get()};
  if (machine->GetCurrentStateId() != ENGINE_STATE_VIDEO) return true;
  CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "No frame from the sensor for a while: is it still there?");
  return SensorStillThere();
}

// The silence that asks for a check is counted in the sensor's frame periods.
void CCameraEngine::StartWatchdog() {
  SensorTiming timing{};
  const uint32_t period = m_sensor && m_sensor->GetTiming(&timing, 0) == PVL_OK ? timing.Words[0] : 0;
  if (!m_watchdog.Start(m_env.Get(), period, [this] { return CheckSilentSensor(); }))
    CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "No frame watchdog: a sensor lost in a steady stream goes unreported");
}

// From an event that holds the machine's lock: a check waiting for it gives up.
void CCameraEngine::StopWatchdog() {
  m_watchdog.RequestStop();
  if (m_machine) m_machine->DeliveriesChanged();
  m_watchdog.Stop();
}

PvlResult CCameraEngine::OnSnapshotStatsAvailable(uint32_t, IPvlBase* statistics) {
  PvlResult r = m_elfs->OnSnapshotStats(statistics);
  if (r != PVL_OK) return r;
  if (!m_settings.IsExposureChanged()) return PVL_OK;
  r = RunSensorConfigurer(ZUEUID_CONFIG_EXPOSURE);
  m_settings.ClearExposureChanged();
  return r;
}

// ---- Suspend, resume, runtime tuning, pre-snapshot flash ----

PvlResult CCameraEngine::Suspend() {
  ENGINE_REQUIRE(m_sensor && m_vfe);
  PvlResult r = m_vfe->Suspend();
  if (r != PVL_OK) return r;
  r = m_sensor->Suspend();
  if (r == PVL_OK) {
    CPvlPtr<ICameraFlashService> flash;
    r = m_flash ? m_flash->QueryInterface(ZUEUID_IFACE_FLASH_SERVICE, flash.Out()) : PVL_E_NOTREADY;
    if (r == PVL_OK) r = flash->Suspend();
    if (r == PVL_OK) return PVL_OK;
    m_sensor->Resume();
  }
  // Half a suspend would leave the engine stuck (its state thinks it runs):
  // what was suspended is resumed again.
  m_vfe->Resume();
  return r;
}

PvlResult CCameraEngine::Resume() {
  ENGINE_REQUIRE(m_sensor && m_vfe);
  CPvlPtr<ICameraFlashService> flash;
  if (m_flash && m_flash->QueryInterface(ZUEUID_IFACE_FLASH_SERVICE, flash.Out()) == PVL_OK) flash->Resume();
  PvlResult r = m_sensor->Resume();
  if (r == PVL_OK) r = m_vfe->Resume();
  return r;
}

PvlResult CCameraEngine::ApplyRuntimeTuning() {
  PvlResult r = m_elfs->Configure();
  if (r == PVL_OK) r = OnStopVideo();
  if (r == PVL_OK) r = OnStartVideo();
  return r;
}

PvlResult CCameraEngine::StartPreSnapshotFlash(ICameraSettingsListener* listener) {
  CPvlPtr<IFlashSettings> view;
  PvlResult r = m_aggregate->QueryInterface(ZUEUID_FLASH_SETTINGS, view.Out());
  if (r != PVL_OK) return r;
  uint32_t state = 0;
  r = m_settings.GetPreSnapshotState(&state);
  if (r != PVL_OK) return r;
  if (state != 0) return PVL_OK;  // a sequence runs already
  uint32_t mode = 0;
  uint8_t needed = 0;
  r = view->GetSnapshotFlashMode(&mode);
  if (r == PVL_OK) r = view->GetFlashNeeded(&needed);
  if (r != PVL_OK) return r;
  m_settings.SetPreSnapshotListener(listener);
  if (mode == 1 || (mode == 2 && needed)) return m_settings.SetPreSnapshotState(6);
  r = m_settings.SetPreSnapshotState(1);
  if (r == PVL_OK) r = m_proxy.SetFocusState(1);
  return r;
}

PvlResult CCameraEngine::StopPreSnapshotFlash() { return m_settings.SetPreSnapshotState(0); }

// ---- Lists ----

PvlResult CCameraEngine::GetCameras(CameraSensorDescriptor* cameras, uint32_t capacity, uint32_t* count) {
  if (!m_sensor) return PVL_E_NOTREADY;
  return m_sensor->GetSensors(cameras, capacity, count);
}

PvlResult CCameraEngine::GetFlashDevices(CameraFlashDevice* devices, uint32_t capacity, uint32_t* count) {
  if (!m_flash) return PVL_E_NOTREADY;
  CPvlPtr<ICameraFlashService> flash;
  PvlResult r = m_flash->QueryInterface(ZUEUID_IFACE_FLASH_SERVICE, flash.Out());
  if (r != PVL_OK) return r;
  return flash->GetFlashDevices(devices, static_cast<int32_t>(capacity), count);
}

// ---- Event sink ----

PvlResult CCameraEngine::OnEvent(uint32_t kind, uint32_t argument, IPvlBase* object) {
  // Not counted: events come between Initialize's SetEventSink and the one
  // that forgets the sink, and the engine holds its machine all that time.
  CEngineStateMachine* machine = m_machine.Get();
  if (!machine) return PVL_E_NOTREADY;
  // Each of these follows a start of frame at the VFE: the sensor still sends.
  if (kind == EVENT_OUTPUT || kind == EVENT_STATS_AVAILABLE || kind == EVENT_OUTPUT_LOST) m_watchdog.NoteSign();
  switch (kind) {
    case EVENT_OUTPUT: {
      if (!object) return PVL_E_NULLPTR;
      CPvlPtr<IPvlMediaBuffer> frame;
      PvlResult r = object->QueryInterface(ZUEUID_IFACE_MEDIA_BUFFER, frame.Out());
      if (r != PVL_OK) return r;
      return machine->FrameAvailable(argument, frame.Get());
    }
    case EVENT_STATS_AVAILABLE:
      return machine->StatsAvailable(argument, object);
    case EVENT_SNAPSHOT_DONE:
      CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Got Snapshot done Event");
      return machine->CaptureComplete();
    case EVENT_OUTPUT_LOST: {
      // Only a streaming port has a reader waiting for the frame; a still's lost
      // images reach its port with the end of the capture.
      if (machine->GetCurrentStateId() != ENGINE_STATE_VIDEO) return PVL_OK;
      CPvlPtr<CCameraPortManager> ports;
      std::shared_ptr<CCameraELFSManager> elfs;
      uint32_t preview = 0;
      FramePath(ports, elfs, preview);
      return ports ? ports->VideoFrameLost(argument) : PVL_E_NOTREADY;
    }
    default:
      return PVL_E_UNSUPPORTED;
  }
}
