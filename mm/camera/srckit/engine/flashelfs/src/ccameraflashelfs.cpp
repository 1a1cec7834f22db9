#include "ccameraflashelfs.h"

#include <new>
#include <vector>

#include "ienv.h"
#include "plindor.h"
#include "pvllog.h"

namespace {

constexpr uint32_t kWhiteLed = 2;  // the flash device type this plug-in drives

// Lamp modes (the lamp-mode property's control mode).
constexpr uint32_t kLampOff = 0;
constexpr uint32_t kLampOn = 1;
constexpr uint32_t kLampAuto = 2;

// Snapshot flash modes.
constexpr uint32_t kFlashOn = 1;
constexpr uint32_t kFlashAuto = 2;

// Pre-snapshot states of the engine's sequence that the LED follows.
constexpr uint32_t kPreSnapshotIdle = 0;
constexpr uint32_t kPreSnapshotLedOff = 4;  // white balance decided under the LED
constexpr uint32_t kPreSnapshotLedOn = 6;   // pre-flash metering

// Flash output states reported to the settings.
constexpr uint32_t kOutputOff = 0;
constexpr uint32_t kOutputLamp = 1;
constexpr uint32_t kOutputStrobe = 2;

}  // namespace

int32_t CCameraFlashELFS::ClassEntry(IEnv* env, ZUEUID, void*, void** out) {
  if (!out) return PVL_E_NULLPTR;
  *out = nullptr;
  CCameraFlashELFS* self = nullptr;
  PvlResult r = Create(env, &self);
  if (r == PVL_OK) *out = static_cast<IELFS*>(self);
  return r;
}

PvlResult CCameraFlashELFS::Create(IEnv* env, CCameraFlashELFS** out) {
  if (!out) return PVL_E_NULLPTR;
  *out = nullptr;
  if (!env) return PVL_E_NULLPTR;
  auto* self = new (std::nothrow) CCameraFlashELFS(env);
  if (!self) return PVL_E_OUTOFMEMORY;
  self->CCameraELFSBase::AddRef();
  PvlResult r = self->Construct();
  if (r != PVL_OK) {
    self->CCameraELFSBase::Release();
    return r;
  }
  *out = self;
  return PVL_OK;
}

PvlResult CCameraFlashELFS::Construct() {
  PvlResult r = GetEnv()->CreateInstance(ZUEUID_CLASS_FLASH_SERVICE, m_service.Out());
  if (r == PVL_E_NODEVICE) {
    // No flash on this board: the camera works without one.
    CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "No flash device detected");
    m_service.Reset();
    return PVL_OK;
  }
  if (r != PVL_OK) return r;
  uint32_t count = 0;
  r = m_service->GetFlashDevices(nullptr, 0, &count);
  if (r != PVL_OK) return r;
  std::vector<CameraFlashDevice> devices;
  try {
    devices.resize(count);
  } catch (const std::bad_alloc&) {
    return PVL_E_OUTOFMEMORY;
  }
  r = m_service->GetFlashDevices(devices.data(), int32_t(count), &count);
  if (r != PVL_OK) return r;
  for (uint32_t i = 0; i < count && i < devices.size(); ++i) {
    if (devices[i].deviceType == kWhiteLed) {
      m_detected = devices[i].driverClass;
      break;
    }
  }
  return PVL_OK;
}

CCameraFlashELFS::~CCameraFlashELFS() {
  SelectDevice(0);
  CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "~CCameraFlashELFS Destructor!");
  m_service.Reset();
  m_settings.Reset();
}

PvlResult CCameraFlashELFS::QueryInterface(ZUEUID iid, void** out) {
  if (!out) return PVL_E_NULLPTR;
  IPvlBase* face = nullptr;
  if (iid == ZUEUID_IFACE_ELFS) face = static_cast<IELFS*>(this);
  else if (iid == ZUEUID_IFACE_CAMERA_SERVICE || iid == ZUEUID_IFACE_FLASH_SERVICE ||
           iid == ZUEUID_IFACE_CAMERA_COMPONENT)
    face = static_cast<ICameraFlashService*>(this);
  if (!face) return CCameraELFSBase::QueryInterface(iid, out);
  AddRef();
  *out = face;
  return PVL_OK;
}

// 1. The device already selected: nothing changes (the LED stays as it is).
// 2. Another one selected: stop and uninitialise the service.
// 3. Initialise the service with the new device (0 only deselects).
PvlResult CCameraFlashELFS::SelectDevice(uint32_t device) {
  if (device == m_selected) return PVL_OK;
  if (!m_service) return device ? PvlResult(PVL_E_NOTREADY) : PvlResult(PVL_OK);
  PvlResult r = PVL_OK;
  if (m_selected) {
    r = Stop();
    if (r == PVL_OK) r = m_service->Uninitialize();
    if (r != PVL_OK) return r;
    m_selected = 0;
  }
  if (device) {
    r = m_service->Initialize(device, m_settings.Get());
    if (r != PVL_OK) return r;
  }
  m_selected = device;
  return PVL_OK;
}

PvlResult CCameraFlashELFS::RunConfigurer(uint32_t configuration) {
  if (!m_service) return PVL_E_NOTREADY;
  CPvlPtr<IConfigCommand> configurer;
  PvlResult r = m_service->GetConfigurer(configuration, &configurer);
  if (r == PVL_OK) r = configurer->Configure();
  return r;
}

PvlResult CCameraFlashELFS::StartOutput(uint32_t configuration, uint32_t outputState) {
  PvlResult r = RunConfigurer(configuration);
  if (r == PVL_OK) r = Start();
  if (r != PVL_OK) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "Error starting lamp: %d", int(r));
    return r;
  }
  m_outputState = outputState;
  return m_settings ? m_settings->SetFlashWord(outputState) : PvlResult(PVL_OK);
}

// ---- IELFS -------------------------------------------------------------------

PvlResult CCameraFlashELFS::Initialize(IPvlBase* client) {
  if (!client) return PVL_E_NULLPTR;
  m_settings.Reset();
  return client->QueryInterface(ZUEUID_FLASH_SETTINGS, m_settings.Out());
}

PvlResult CCameraFlashELFS::Configure() {
  if (!m_settings) return PVL_E_NOTREADY;
  PvlResult r = SelectDevice(m_detected);
  if (r != PVL_OK) return r;
  if (m_selected) {
    r = RunConfigurer(ZUEUID_CONFIG_LAMP);
    if (r != PVL_OK) return r;
  }
  uint32_t lampMode = 0;
  r = m_settings->GetLampMode(&lampMode);
  if (r != PVL_OK) return r;
  m_lampMode = lampMode;
  if (lampMode == kLampOff || lampMode == kLampAuto) r = StopOutput();
  else if (lampMode == kLampOn) r = m_selected ? StartOutput(ZUEUID_CONFIG_VIDEO, kOutputLamp) : PvlResult(PVL_OK);
  else return PVL_E_BADARG;
  SetSnapshotStatus(0);
  return r;
}

PvlResult CCameraFlashELFS::OnStartVideo(const CameraPortFormat*) {
  if (!m_detected) return PVL_OK;
  if (!m_settings) return PVL_E_NOTREADY;
  PvlResult r = SelectDevice(m_detected);
  if (r != PVL_OK) return r;
  uint32_t lampMode = 0;
  r = m_settings->GetLampMode(&lampMode);
  if (r != PVL_OK) return r;
  m_lampMode = lampMode;
  return lampMode == kLampOn ? StartOutput(ZUEUID_CONFIG_VIDEO, kOutputLamp) : PvlResult(PVL_OK);
}

// The LED follows the engine's pre-snapshot sequence, and the lamp mode when no
// sequence runs. In automatic mode every frame refreshes the flag the driver
// reads to tell the user that the still will flash.
// This runs for every preview frame: the lamp mode is the one Configure or
// OnStartVideo read (a change of it always comes through Configure), only the
// engine's own flags are read here, and a lamp that is lit stays as it is.
PvlResult CCameraFlashELFS::OnFrame(IPvlMediaBuffer*) {
  if (!m_detected) return PVL_OK;
  if (!m_settings) return PVL_E_NOTREADY;
  const uint32_t lampMode = m_lampMode;
  uint32_t preSnapshot = 0;
  PvlResult r = m_settings->GetPreSnapshotState(&preSnapshot);
  if (r != PVL_OK) return r;
  if (lampMode == kLampAuto) {
    m_snapshotStatus = uint8_t(GetSnapshotStatus());
    if (m_snapshotStatus == 0) {
      // What the view's IsFlashRequired answers in automatic mode, without
      // reading the lamp mode again.
      r = m_settings->GetFlashNeeded(&m_autoFlashRequired);
      if (r != PVL_OK) return r;
      m_autoFlashRequired = m_autoFlashRequired != 0 ? 1 : 0;
      SetAutoFlashRequired(m_autoFlashRequired);
    }
  }
  if ((lampMode == kLampOn && preSnapshot == kPreSnapshotIdle) || preSnapshot == kPreSnapshotLedOn) {
    if (m_outputOn && m_outputState == kOutputLamp) return PVL_OK;
    r = StartOutput(ZUEUID_CONFIG_VIDEO, kOutputLamp);
    if (r != PVL_OK) CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "Error enabling lamp: %d", int(r));
  } else if (preSnapshot == kPreSnapshotLedOff || (preSnapshot == kPreSnapshotIdle && m_outputOn)) {
    // Also when no sequence runs and the lamp is not on: a pre-flash that was
    // cancelled while the LED was lit must not leave it lit.
    r = StopOutput();
    if (r != PVL_OK) CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "Error turning off lamp: %d", int(r));
  }
  return r;
}

PvlResult CCameraFlashELFS::OnStopVideo() { return StopOutput(); }

PvlResult CCameraFlashELFS::OnStartSnapshot(const CameraPortFormat*, const CameraPortFormat*) {
  if (!m_settings) return PVL_E_NOTREADY;
  uint32_t device = 0;
  PvlResult r = m_settings->GetCurrentFlashDeviceId(&device);
  if (r != PVL_OK) return r;
  if (device) {
    r = SelectDevice(device);
    if (r != PVL_OK) return r;
  } else {
    // No device chosen by the client: the service's first one.
    uint32_t count = 0;
    r = GetFlashDevices(nullptr, 0, &count);
    if (r == PVL_OK && count > 0) {
      std::vector<CameraFlashDevice> devices;
      try {
        devices.resize(count);
      } catch (const std::bad_alloc&) {
        return PVL_E_FAIL;
      }
      r = GetFlashDevices(devices.data(), int32_t(count), &count);
      if (r == PVL_OK) device = devices[0].driverClass;
    }
  }
  if (!device) return r;
  uint32_t flashMode = 0;
  r = m_settings->GetSnapshotFlashMode(&flashMode);
  if (r != PVL_OK) return r;
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "PreSnapshot Flash Mode is %d", int(flashMode));
  uint8_t required = 0;
  r = m_settings->IsFlashRequired(&required);
  if (flashMode == kFlashOn || (flashMode == kFlashAuto && m_autoFlashRequired)) {
    r = RunConfigurer(ZUEUID_CONFIG_STROBE);
    if (r == PVL_OK) r = StartOutput(ZUEUID_CONFIG_SNAPSHOT, kOutputStrobe);
  }
  return r;
}

// The strobe is put out when the capture ends, whichever state it was taken
// from; a preview that resumes lights the torch again by its lamp mode.
PvlResult CCameraFlashELFS::OnStopSnapshot() { return StopOutput(); }

// ---- ICameraFlashService -------------------------------------------------------

PvlResult CCameraFlashELFS::Initialize(uint32_t flashClass, IPvlBase* client) {
  if (!m_service) return PVL_E_NOTREADY;
  return m_service->Initialize(flashClass, client);
}

PvlResult CCameraFlashELFS::Uninitialize() {
  if (!m_service) return PVL_E_NOTREADY;
  return m_service->Uninitialize();
}

PvlResult CCameraFlashELFS::Start() {
  if (!m_selected || !m_service) return PVL_E_NOTREADY;
  if (m_outputOn) return PVL_OK;
  PvlResult r = m_service->Start();
  if (r == PVL_OK) m_outputOn = 1;
  return r;
}

PvlResult CCameraFlashELFS::Stop() {
  if (!m_selected || !m_service) return PVL_E_NOTREADY;
  if (!m_outputOn) return PVL_OK;
  PvlResult r = m_service->Stop();
  if (r != PVL_OK) return r;
  m_outputOn = 0;
  m_outputState = kOutputOff;
  return m_settings ? m_settings->SetFlashWord(kOutputOff) : PvlResult(PVL_OK);
}

PvlResult CCameraFlashELFS::Reset() {
  if (!m_service) return PVL_E_NOTREADY;
  return m_service->Reset();
}

PvlResult CCameraFlashELFS::GetConfigurer(uint32_t configuration, IConfigCommand** out) {
  if (!m_service) return PVL_E_NOTREADY;
  return m_service->GetConfigurer(configuration, out);
}

// The service powers down only with its output off: a torch left on must not
// make the engine's suspend fail half-way, after the sensor is already down.
PvlResult CCameraFlashELFS::Suspend() {
  if (!m_selected || !m_service) return PVL_OK;
  PvlResult r = Stop();
  if (r != PVL_OK) return r;
  return m_service->Suspend();
}

PvlResult CCameraFlashELFS::Resume() {
  if (!m_selected || !m_service) return PVL_OK;
  return m_service->Resume();
}

// Without a flash service the list is empty.
PvlResult CCameraFlashELFS::GetFlashDevices(CameraFlashDevice* devices, int32_t capacity, uint32_t* count) {
  if (m_service) return m_service->GetFlashDevices(devices, capacity, count);
  if (!count || (!devices && capacity != 0)) return PVL_E_NULLPTR;
  *count = 0;
  return PVL_OK;
}

PvlResult CCameraFlashELFS::GetDeviceType(uint32_t* out) {
  if (!m_service) return PVL_E_NOTREADY;
  return m_service->GetDeviceType(out);
}

PvlResult CCameraFlashELFS::GetDeviceFlags(uint32_t* out) {
  if (!m_service) return PVL_E_NOTREADY;
  return m_service->GetDeviceFlags(out);
}

PvlResult CCameraFlashELFS::GetDeviceExtra(uint32_t* out) {
  if (!m_service) return PVL_E_NOTREADY;
  return m_service->GetDeviceExtra(out);
}

PvlResult CCameraFlashELFS::SetDeviceState(uint32_t deviceState, uint32_t signal) {
  if (!m_service) return PVL_E_NOTREADY;
  return m_service->SetDeviceState(deviceState, signal);
}
