#include "ccameraflashservice.h"

#include <string.h>

#include "cameraflashserviceconfigurations.h"
#include "pvllog.h"

namespace {

// Flash driver classes looked for; only the white LED exists in this system.
const uint32_t kFlashCandidates[] = {ZUEUID_CLASS_WHITE_LED_FLASH_DRIVER, 0x0106c440u, 0x0106c441u, 0x0106c442u,
                                     0x0106c443u, 0x0106c444u, 0x0106c2cau};

#define FLASH_LOG_AT(line, ...)                                                              \
  do {                                                                                       \
    static const CameraLogRecord flash_log_record_ = {CAMERA_LOG_NOTABLE, __FILE__, (line)}; \
    CameraDebugLog(&flash_log_record_, __VA_ARGS__);                                         \
  } while (0)

PvlResult ReadFlashProperty(ICameraDriver* driver, uint32_t property, uint32_t* out) {
  if (!driver || !out) return PVL_E_NULLPTR;
  uint32_t length = 0;
  PvlResult r = driver->Command(property, nullptr, 0, out, sizeof *out, &length);
  if (r != PVL_OK) return r;
  return length > sizeof *out ? PVL_E_FAIL : PVL_OK;
}

// The flash's life cycle: an operation asked for in the state it leads to
// answers 0, and Stop leaves Started only once the driver has stopped.
using namespace lifecycle;
using A = ServiceAction;
using S = ServiceState;
constexpr ServiceLifeCycle kFlashLifeCycle = {
    // Detecting: nobody holds the service yet.
    {kRefuse, kRefuse, kRefuse, kRefuse, kRefuse, kRefuse, kRefuse},
    // Detected
    {
        /* Initialize   */ Then(A::Open, S::Initialized),
        /* Uninitialize */ kAccept,
        /* Start        */ kRefuse,
        /* Stop         */ kRefuse,
        /* Reset        */ kRefuse,  // no driver to reset
        /* Suspend      */ kRefuse,
        /* Resume       */ kRefuse,
    },
    // Suspended
    {
        /* Initialize   */ kRefuse,
        /* Uninitialize */ kRefuse,
        /* Start        */ kRefuse,
        /* Stop         */ kRefuse,
        /* Reset        */ kRefuse,  // no driver to reset
        /* Suspend      */ kAccept,
        /* Resume       */ Then(A::Wake, S::Initialized),
    },
    // Initialized
    {
        /* Initialize   */ kAccept,
        /* Uninitialize */ MoveThen(S::Detected, A::Close),
        /* Start        */ Then(A::StartDriver, S::Started),
        /* Stop         */ kAccept,
        /* Reset        */ Only(A::ResetDriver),
        /* Suspend      */ Then(A::Sleep, S::Suspended),
        /* Resume       */ kAccept,
    },
    // Started
    {
        /* Initialize   */ kRefuse,
        /* Uninitialize */ AfterStop(MoveThen(S::Detected, A::Close)),
        /* Start        */ kAccept,
        /* Stop         */ Then(A::StopDriver, S::Initialized),
        /* Reset        */ AfterStopAnyway(Only(A::ResetDriver)),
        /* Suspend      */ kRefuse,  // stop first
        /* Resume       */ kRefuse,
    },
};

constexpr DriverServiceProfile kFlashProfile{&kFlashLifeCycle,          ZUEUID_FLASH_SETTINGS,
                                             ZUEUID_FLASH_CMD_POWER_UP, ZUEUID_FLASH_CMD_POWER_DOWN,
                                             ZUEUID_FLASH_CMD_START,    ZUEUID_FLASH_CMD_STOP,
                                             ZUEUID_FLASH_CMD_RESET};

}  // namespace

CCameraFlashService::CCameraFlashService(IEnv* env)
    : CCameraDriverService(env, kFlashProfile, kFlashCandidates, sizeof kFlashCandidates / sizeof kFlashCandidates[0]),
      m_devices(),
      m_deviceCount(0),
      m_selected(0) {}

PvlResult CCameraFlashService::CreateInstance(IEnv* env, ZUEUID clsid, void* argument, void** out) {
  if (!env || !argument || !out) return PVL_E_NULLPTR;
  if (clsid != ZUEUID_CLASS_FLASH_SERVICE) return PVL_E_NOTSUPPORTED;
  CCameraFlashService* service = new CCameraFlashService(env);
  PvlResult r = service->DetectFlashDevices();
  if (r != PVL_OK) {
    delete service;
    return r;
  }
  service->CPvlObject::AddRef();
  r = service->QueryInterface(ZUEUID_IFACE_FLASH_SERVICE, out);
  service->CPvlObject::Release();
  return r;
}

PvlResult CCameraFlashService::QueryInterface(ZUEUID iid, void** out) {
  if (!out) return PVL_E_NULLPTR;
  if (iid == ZUEUID_IFACE_FLASH_SERVICE || iid == ZUEUID_IFACE_CAMERA_SERVICE ||
      iid == ZUEUID_IFACE_CAMERA_COMPONENT) {
    AddRef();
    *out = static_cast<ICameraFlashService*>(this);
    return PVL_OK;
  }
  return CPvlObject::QueryInterface(iid, out);
}

PvlResult CCameraFlashService::DetectFlashDevices() {
  if (m_state != State::Detecting) return PVL_E_NOTREADY;
  for (uint32_t i = 0; i < m_candidateCount; ++i) {
    CPvlPtr<ICameraDriver> driver;
    if (GetEnv()->CreateInstance(m_candidates[i], driver.Out()) != PVL_OK || !driver) continue;
    if (m_deviceCount >= kMaxDevices) continue;  // created and released, not recorded
    CameraFlashDevice& slot = m_devices[m_deviceCount];
    slot.driverClass = m_candidates[i];
    uint32_t type = 0;
    PvlResult r = ReadFlashProperty(driver.Get(), ZUEUID_FLASH_PROPERTY_DEVICE_TYPE, &type);
    if (r != PVL_OK) return r;
    slot.deviceType = type;
    ++m_deviceCount;
    MoveTo(State::Detected);
    FLASH_LOG_AT(540, "Detected flash device: Type=%d, ID=0x%08x", static_cast<int>(type), m_candidates[i]);
  }
  FLASH_LOG_AT(545, "Number of flash devices detected: %d", static_cast<int>(m_deviceCount));
  return m_deviceCount == 0 ? PVL_E_NODEVICE : PVL_OK;
}

PvlResult CCameraFlashService::SelectDevice(uint32_t flashClass) {
  uint32_t index = 0;
  while (index < m_deviceCount && m_devices[index].driverClass != flashClass) ++index;
  if (index == m_deviceCount) return PVL_E_NODEVICE;
  m_selected = index;
  return PVL_OK;
}

PvlResult CCameraFlashService::OpenDriver() {
  PvlResult r = GetEnv()->CreateInstance(m_devices[m_selected].driverClass, m_driver.Out());
  if (r != PVL_OK) return r;
  if (!m_driver) return PVL_E_FAIL;
  r = CFlashConfigurationSet::Create(GetEnv(), m_driver.Get(), &m_set);
  if (r != PVL_OK) return r;
  r = CFlashConfigCommandRegistry::Create(GetEnv(), m_set.Get(), m_view.Get(), &m_registry);
  if (r != PVL_OK) return r;
  return m_registry->CreateConfigurers();
}

// The count, then up to `capacity` of the two slots (an empty slot as zeros).
PvlResult CCameraFlashService::GetFlashDevices(CameraFlashDevice* devices, int32_t capacity, uint32_t* count) {
  if (!count || (!devices && capacity != 0)) return PVL_E_NULLPTR;
  if (m_state == State::Detecting) return PVL_E_NOTREADY;
  *count = m_deviceCount;
  const uint32_t n = capacity <= 0 ? 0 : static_cast<uint32_t>(capacity) < kMaxDevices ? capacity : kMaxDevices;
  if (n) memcpy(devices, m_devices, n * sizeof *devices);
  return PVL_OK;
}

PvlResult CCameraFlashService::ReadDeviceProperty(uint32_t property, uint32_t* out) {
  if (!out) return PVL_E_NULLPTR;
  if (m_state != State::Initialized) return PVL_E_NOTREADY;
  return ReadFlashProperty(m_driver.Get(), property, out);
}
PvlResult CCameraFlashService::GetDeviceType(uint32_t* out) {
  return ReadDeviceProperty(ZUEUID_FLASH_PROPERTY_DEVICE_TYPE, out);
}
PvlResult CCameraFlashService::GetDeviceFlags(uint32_t* out) {
  return ReadDeviceProperty(ZUEUID_FLASH_PROPERTY_DEVICE_FLAGS, out);
}
PvlResult CCameraFlashService::GetDeviceExtra(uint32_t* out) {
  return ReadDeviceProperty(ZUEUID_FLASH_PROPERTY_DEVICE_EXTRA, out);
}

PvlResult CCameraFlashService::SetDeviceState(uint32_t deviceState, uint32_t signal) {
  if (signal == 0) return PVL_E_NULLPTR;
  if (!IsOpen()) return PVL_E_NOTREADY;
  FlashDeviceStateRecord record{static_cast<int32_t>(deviceState), signal};
  uint32_t length = 0;
  PvlResult r = m_driver->Command(ZUEUID_FLASH_CMD_DEVICE_STATE, &record, sizeof record, nullptr, 0, &length);
  if (r != PVL_OK) return r;
  return length > sizeof record ? PVL_E_FAIL : PVL_OK;
}
