#include "ccamerasensorservice.h"

#include <string.h>

#include "csensorconfigcommandregistry.h"
#include "csensorconfigurationset.h"
#include "pvllog.h"
#include "sensorconfigrecords.h"
#include "tuningdata.h"

namespace {

// The sensor driver classes the service looks for; only the first exists in
// this system, the others fail to create and are passed over.
const uint32_t kSensorCandidates[] = {ZUEUID_CLASS_S5K3E2FX_SENSOR_DRIVER, 0x01061014u, 0x01061015u, 0x01061016u,
                                      0x01061017u, 0x01061018u, 0x0105d293u};

const char kNameTag[] = "ccamerasensorservice.cpp:name";
const char kIdentityTag[] = "ccamerasensorservice.cpp:identity";

// A block of the environment's heap, freed when the holder goes.
class CEnvBlock {
 public:
  CEnvBlock(IEnv* env, const char* tag) : m_env(env), m_tag(tag) {}
  ~CEnvBlock() { Free(); }
  PvlResult Allocate(uint32_t size) { return m_env->ReallocTagged(size, &m_block, m_tag); }
  void Free() {
    if (m_block) m_env->ReallocTagged(0, &m_block, m_tag);
  }
  char* Text() const { return static_cast<char*>(m_block); }
  void* Detach() {
    void* b = m_block;
    m_block = nullptr;
    return b;
  }

 private:
  IEnv* m_env;
  const char* m_tag;
  void* m_block = nullptr;
};

char* NameOf(const CameraSensorDescriptor& d) { return reinterpret_cast<char*>(uintptr_t(d.NameBuffer)); }

// Copies text into a buffer of `capacity` bytes, cutting it and always
// ending it with a zero.
void CopyText(char* to, uint32_t capacity, const char* from) {
  if (capacity == 0) return;
  size_t n = strnlen(from, capacity - 1);
  memcpy(to, from, n);
  to[n] = '\0';
}

// The sensor's life cycle: an operation asked for outside the one state that
// takes it answers 13, and Stop leaves Started before it tells the driver.
using namespace lifecycle;
using A = ServiceAction;
using S = ServiceState;
constexpr ServiceLifeCycle kSensorLifeCycle = {
    // Detecting: nobody holds the service yet.
    {kRefuse, kRefuse, kRefuse, kRefuse, kRefuse, kRefuse, kRefuse},
    // Detected
    {
        /* Initialize   */ Then(A::Open, S::Initialized),
        /* Uninitialize */ kRefuse,
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
        /* Suspend      */ kRefuse,
        /* Resume       */ Then(A::Wake, S::Initialized),
    },
    // Initialized
    {
        /* Initialize   */ kRefuse,
        /* Uninitialize */ MoveThen(S::Detected, A::Close),
        /* Start        */ Then(A::StartDriver, S::Started),
        /* Stop         */ kRefuse,
        /* Reset        */ Only(A::ResetDriver),
        /* Suspend      */ Then(A::Sleep, S::Suspended),
        /* Resume       */ kRefuse,
    },
    // Started
    {
        /* Initialize   */ kRefuse,
        /* Uninitialize */ AfterStop(MoveThen(S::Detected, A::Close)),
        /* Start        */ kRefuse,
        /* Stop         */ MoveThen(S::Initialized, A::StopDriver),
        /* Reset        */ AfterStopAnyway(Only(A::ResetDriver)),
        /* Suspend      */ kRefuse,  // stop first
        /* Resume       */ kRefuse,
    },
};

constexpr DriverServiceProfile kSensorProfile{&kSensorLifeCycle,          ZUEUID_SENSOR_SETTINGS,
                                              ZUEUID_SENSOR_CMD_POWER_UP, ZUEUID_SENSOR_CMD_POWER_DOWN,
                                              ZUEUID_SENSOR_CMD_START,    ZUEUID_SENSOR_CMD_STOP,
                                              ZUEUID_SENSOR_CMD_RESET};

}  // namespace

CCameraSensorService::CCameraSensorService(IEnv* env)
    : CCameraDriverService(env, kSensorProfile, kSensorCandidates,
                           sizeof kSensorCandidates / sizeof kSensorCandidates[0]),
      m_sensors(),
      m_sensorCount(0),
      m_current(0) {}

// The names are the service's own blocks; the driver, its configurers and the
// settings view go in CCameraDriverService's destructor.
CCameraSensorService::~CCameraSensorService() {
  for (CameraSensorDescriptor& d : m_sensors) {
    void* name = NameOf(d);
    if (name) GetEnv()->ReallocTagged(0, &name, kNameTag);
  }
}

PvlResult CCameraSensorService::CreateInstance(IEnv* env, ZUEUID clsid, void* argument, void** out) {
  if (!env || !argument || !out) return PVL_E_NULLPTR;
  if (clsid != ZUEUID_CLASS_SENSOR_SERVICE) return PVL_E_NOTSUPPORTED;
  CCameraSensorService* service = new CCameraSensorService(env);
  PvlResult r = service->DetectSensors();
  if (r != PVL_OK) {
    delete service;
    return r;
  }
  service->CPvlObject::AddRef();
  r = service->QueryInterface(ZUEUID_IFACE_SENSOR_SERVICE, out);
  service->CPvlObject::Release();
  return r;
}

PvlResult CCameraSensorService::QueryInterface(ZUEUID iid, void** out) {
  if (!out) return PVL_E_NULLPTR;
  if (iid == ZUEUID_IFACE_SENSOR_SERVICE || iid == ZUEUID_IFACE_CAMERA_SERVICE || iid == ZUEUID_IFACE_CAMERA_COMPONENT) {
    AddRef();
    *out = static_cast<ICameraSensorService*>(this);
    return PVL_OK;
  }
  return CPvlObject::QueryInterface(iid, out);
}

PvlResult CCameraSensorService::DetectSensors() {
  if (m_state != State::Detecting) return PVL_E_NOTREADY;
  for (uint32_t i = 0; i < m_candidateCount; ++i) {
    CPvlPtr<ICameraDriver> driver;
    if (GetEnv()->CreateInstance(m_candidates[i], driver.Out()) != PVL_OK || !driver) continue;
    if (m_sensorCount >= kMaxSensors) continue;
    PvlResult r = RecordSensor(&m_sensors[m_sensorCount], m_candidates[i], driver.Get());
    if (r != PVL_OK) return r;
    ++m_sensorCount;
    MoveTo(State::Detected);
    CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "Detected sensor: %s", NameOf(m_sensors[m_sensorCount - 1]));
  }
  CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "Number of sensors detected: %d", static_cast<int>(m_sensorCount));
  return m_sensorCount < 1 ? PVL_E_NODEVICE : PVL_OK;
}

// Name "maker model", full size, frame interval and extra words of one driver.
// The maker and model buffers go on every path.
PvlResult CCameraSensorService::RecordSensor(CameraSensorDescriptor* d, ZUEUID driverClass, ICameraDriver* driver) {
  d->DriverClass = driverClass;
  uint32_t length = 0;
  SensorIdentity identity{};
  PvlResult r = driver->Command(ZUEUID_SENSOR_PROPERTY_IDENTITY, nullptr, 0, &identity, sizeof identity, &length);
  if (r != PVL_OK) return r;
  const uint32_t makerLength = identity.Maker.Length;
  const uint32_t modelLength = identity.Model.Length;
  if (makerLength == 0 || modelLength == 0 || makerLength > 0x10000 || modelLength > 0x10000) return PVL_E_FAIL;
  CEnvBlock maker(GetEnv(), kIdentityTag), model(GetEnv(), kIdentityTag);
  if (maker.Allocate(makerLength) != PVL_OK || model.Allocate(modelLength) != PVL_OK) return PVL_E_OUTOFMEMORY;
  identity = SensorIdentity{};
  identity.Maker = {reinterpret_cast<uintptr_t>(maker.Text()), makerLength, 0};
  identity.Model = {reinterpret_cast<uintptr_t>(model.Text()), modelLength, 0};
  r = driver->Command(ZUEUID_SENSOR_PROPERTY_IDENTITY, nullptr, 0, &identity, sizeof identity, &length);
  if (r != PVL_OK) return r;
  maker.Text()[makerLength - 1] = '\0';
  model.Text()[modelLength - 1] = '\0';

  void* old = NameOf(*d);
  if (old) GetEnv()->ReallocTagged(0, &old, kNameTag);
  d->NameBuffer = 0;
  const uint32_t size = makerLength + modelLength;
  CEnvBlock name(GetEnv(), kNameTag);
  if (name.Allocate(size) != PVL_OK) return PVL_E_OUTOFMEMORY;
  CopyText(name.Text(), size, maker.Text());
  const size_t used = strlen(name.Text());
  name.Text()[used] = ' ';
  CopyText(name.Text() + used + 1, size - static_cast<uint32_t>(used) - 1, model.Text());
  d->NameBuffer = reinterpret_cast<uintptr_t>(name.Detach());
  d->NameCapacity = size;
  d->NameLength = size;

  SensorGeometry geometry{};
  SensorTiming timing{};
  SensorExtraInfo extra{};
  uint32_t n = 0;
  r = driver->Command(ZUEUID_SENSOR_PROPERTY_GEOMETRY, nullptr, 0, &geometry, sizeof geometry, &n);
  if (r != PVL_OK) return r;
  d->FullWidth = geometry.Words[9];
  d->FullHeight = geometry.Words[10];
  r = driver->Command(ZUEUID_SENSOR_PROPERTY_TIMING, nullptr, 0, &timing, sizeof timing, &n);
  if (r != PVL_OK) return r;
  d->FrameInterval = timing.Words[1];
  r = driver->Command(ZUEUID_SENSOR_PROPERTY_EXTRA_INFO, nullptr, 0, &extra, sizeof extra, &n);
  if (r != PVL_OK) return r;
  memcpy(d->ExtraInfo, extra.Words, sizeof d->ExtraInfo);
  return PVL_OK;
}

PvlResult CCameraSensorService::SelectDevice(uint32_t sensorClass) {
  uint32_t index = 0;
  while (index < m_sensorCount && m_sensors[index].DriverClass != sensorClass) ++index;
  if (index == m_sensorCount) return PVL_E_NODEVICE;
  m_current = index;
  return PVL_OK;
}

PvlResult CCameraSensorService::OpenDriver() {
  PvlResult r = GetEnv()->CreateInstance(m_sensors[m_current].DriverClass, m_driver.Out());
  if (r != PVL_OK) return r;
  if (!m_driver) return PVL_E_FAIL;
  r = CSensorConfigurationSet::Create(GetEnv(), m_driver.Get(), &m_set);
  if (r != PVL_OK) return r;
  r = CSensorConfigCommandRegistry::Create(GetEnv(), m_set.Get(), m_view.Get(), &m_registry);
  if (r != PVL_OK) return r;
  return m_registry->CreateConfigurers();
}

// A sensor with a white-balance calibration corrects the tuning data's gains;
// one without (the S5K3E2FX answers 20) leaves them.
void CCameraSensorService::Opened() {
  SensorWbCalibrationRecord wb{};
  uint32_t length = 0;
  if (m_driver->Command(ZUEUID_SENSOR_PROPERTY_WB_CALIBRATION, nullptr, 0, &wb, sizeof wb, &length) == PVL_OK &&
      length == sizeof wb) {
    CPvlPtr<ITuningData> tuning;
    if (TuningData_GetService(&tuning) == PVL_OK && tuning)
      tuning->CalibrateWhiteBalance(wb.red, wb.blue, wb.greenOdd, wb.greenEven);
  }
}

// Reports the count, then fills at most as many records as were detected.
PvlResult CCameraSensorService::GetSensors(CameraSensorDescriptor* sensors, uint32_t capacity, uint32_t* count) {
  if (!count || (!sensors && capacity != 0)) return PVL_E_NULLPTR;
  if (m_state == State::Detecting) return PVL_E_NOTREADY;
  *count = m_sensorCount;
  const uint32_t n = capacity < m_sensorCount ? capacity : m_sensorCount;
  for (uint32_t i = 0; i < n; ++i) {
    const CameraSensorDescriptor& from = m_sensors[i];
    CameraSensorDescriptor& to = sensors[i];
    to.DriverClass = from.DriverClass;
    to.NameLength = from.NameLength;
    to.FullWidth = from.FullWidth;
    to.FullHeight = from.FullHeight;
    to.FrameInterval = from.FrameInterval;
    memcpy(to.ExtraInfo, from.ExtraInfo, sizeof to.ExtraInfo);
    char* name = NameOf(to);
    if (name && to.NameCapacity > 0) {
      const uint32_t bound = to.NameCapacity < from.NameLength ? to.NameCapacity : from.NameLength;
      CopyText(name, bound, NameOf(from));
    }
  }
  return PVL_OK;
}

template <class Record>
PvlResult CCameraSensorService::ReadProperty(uint32_t property, Record* out) {
  if (!out) return PVL_E_NULLPTR;
  if (!IsOpen()) return PVL_E_NOTREADY;
  uint32_t length = 0;
  PvlResult r = m_driver->Command(property, nullptr, 0, out, sizeof(Record), &length);
  if (r != PVL_OK) return r;
  return length > sizeof(Record) ? PVL_E_FAIL : PVL_OK;
}

PvlResult CCameraSensorService::GetCapabilities(SensorCapabilities* out) {
  return ReadProperty(ZUEUID_SENSOR_PROPERTY_CAPABILITIES, out);
}
PvlResult CCameraSensorService::GetIdentity(SensorIdentity* record) {
  return ReadProperty(ZUEUID_SENSOR_PROPERTY_IDENTITY, record);
}
PvlResult CCameraSensorService::GetOptics(SensorOptics* out) { return ReadProperty(ZUEUID_SENSOR_PROPERTY_OPTICS, out); }
PvlResult CCameraSensorService::GetExtraInfo(uint32_t* out3) {
  return ReadProperty(ZUEUID_SENSOR_PROPERTY_EXTRA_INFO, reinterpret_cast<SensorExtraInfo*>(out3));
}
PvlResult CCameraSensorService::GetOutputFormat(SensorOutputFormat* out) {
  return ReadProperty(ZUEUID_SENSOR_PROPERTY_OUTPUT_FORMAT, out);
}
PvlResult CCameraSensorService::GetTiming(SensorTiming* out, uint32_t /*reserved*/) {
  return ReadProperty(ZUEUID_SENSOR_PROPERTY_TIMING, out);
}
PvlResult CCameraSensorService::GetGeometry(SensorGeometry* out) {
  return ReadProperty(ZUEUID_SENSOR_PROPERTY_GEOMETRY, out);
}
PvlResult CCameraSensorService::GetModeInfo(SensorModeInfo* out) {
  return ReadProperty(ZUEUID_SENSOR_PROPERTY_MODE_INFO, out);
}
PvlResult CCameraSensorService::GetGainInfo(SensorGainInfo* out) {
  return ReadProperty(ZUEUID_SENSOR_PROPERTY_GAIN_INFO, out);
}

// Not tied to a state, only to an open driver.
PvlResult CCameraSensorService::GetFrameTiming(const SensorFrameTimingRequest* request, SensorFrameTimingAnswer* out) {
  if (!request || !out) return PVL_E_NULLPTR;
  if (!m_driver) return PVL_E_NOTREADY;
  SensorFrameTimingRequest copy = *request;
  uint32_t length = 0;
  PvlResult r = m_driver->Command(ZUEUID_SENSOR_CMD_GET_FRAME_TIMING, &copy, sizeof copy, out, sizeof *out, &length);
  if (r != PVL_OK) return r;
  return length > sizeof *out ? PVL_E_FAIL : PVL_OK;
}
