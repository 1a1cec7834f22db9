// The engine's front end (see the header).
#include "ccameraenginefrontend.h"

#include <math.h>
#include <string.h>

#include <atomic>
#include <new>

#include "camerasettings.h"
#include "ccameraenginepropertytable.h"
#include "cenginestatemachine.h"
#include "icameraengineinternal.h"
#include "ienv.h"
#include "isignalqueue.h"
#include "pvllog.h"

namespace {

constexpr uint32_t kTypeDouble = 6;  // 64-bit float, as a client may send it

// A numeric value as a double; false for a type that has no single number.
bool AsNumber(const PvlValueRecord& v, double* out) {
  switch (v.type) {
    case kTypeDouble: {
      double d;
      memcpy(&d, v.payload.bytes, sizeof d);
      *out = d;
      return true;
    }
    case PVL_VT_FLOAT:
      *out = v.payload.f;
      return true;
    case PVL_VT_SINT32:
      *out = v.payload.i32;
      return true;
    case PVL_VT_INT32:
    case PVL_VT_UINT32:
      *out = v.payload.u32;
      return true;
    default:
      return false;
  }
}

// A pair as its quotient, in 32-bit float as the table's ranges are meant.
bool Quotient(const PvlValueRecord& v, float* out) {
  if (v.type != PVL_VT_PAIR || v.payload.pair.second == 0) return false;
  *out = static_cast<float>(v.payload.pair.first) / static_cast<float>(v.payload.pair.second);
  return true;
}

bool Within(double v, double lo, double hi) { return v >= lo && v <= hi; }

}  // namespace

CCameraEngineFrontEnd::CCameraEngineFrontEnd(IEnv* env, PvlResult* result) : CPvlObject(env) {
  PvlResult r = env->CreateInstance(ZUEUID_CLASS_PROPERTY_STORE, m_store.Out());
  if (r == PVL_OK) r = CCameraEnginePropertyTable::Register(m_store.Get());
  if (r == PVL_OK) {
    CPvlPtr<IProperties> check;
    r = m_store->QueryInterface(ZUEUID_IFACE_PROPERTIES, check.Out());
  }
  if (result) *result = r;
}

CCameraEngineFrontEnd::~CCameraEngineFrontEnd() {
  CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "CCameraEngineFrontEnd Destructor");
  m_engine = nullptr;
  m_store.Reset();
}

PvlResult CCameraEngineFrontEnd::GetPropertyStore(IProperties** store) {
  if (!store) return PVL_E_NULLPTR;
  if (!m_store) return PVL_E_NOTREADY;
  *store = m_store.Get();
  (*store)->AddRef();
  return PVL_OK;
}

int32_t CCameraEngineFrontEnd::AddRef() { return m_engine ? m_engine->AddRef() : 0; }
int32_t CCameraEngineFrontEnd::Release() { return m_engine ? m_engine->Release() : 0; }

PvlResult CCameraEngineFrontEnd::QueryInterface(ZUEUID iid, void** out) {
  if (!out) return PVL_E_NULLPTR;
  void* face = nullptr;
  switch (iid) {
    case ZUEUID_IFACE_PROPERTIES:
    case ZUEUID_IFACE_PROPERTIES_ALT:
      face = static_cast<IProperties*>(this);
      break;
    case ZUEUID_IFACE_CAMERAENGINE:
    case ZUEUID_IFACE_CAMERAENGINE_CONTROL:
      face = static_cast<ICameraEngine*>(this);
      break;
    case ZUEUID_IFACE_CAMERATUNING:
      face = static_cast<ICameraTuning*>(this);
      break;
    default:
      return PVL_E_UNSUPPORTED;
  }
  *out = face;
  AddRef();
  return PVL_OK;
}

// (1) the engine must be set, (2) its machine fetched (13 without), (3) the
// event raised, (4) the machine let go.
template <class Event>
PvlResult CCameraEngineFrontEnd::Raise(Event event) {
  if (!m_engine) {
    PvlAssertBreak(0);
    return PVL_E_NOTREADY;
  }
  CPvlPtr<CEngineStateMachine> machine;
  PvlResult r = m_engine->GetStateMachine(&machine);
  if (r != PVL_OK) return r;
  if (!machine) return PVL_E_NOTREADY;
  return event(machine.Get());
}

// ---- ICameraEngine ----

PvlResult CCameraEngineFrontEnd::GetCameras(CameraSensorDescriptor* cameras, uint32_t capacity, uint32_t* count) {
  if (!m_engine) {
    PvlAssertBreak(0);
    return PVL_E_NOTREADY;
  }
  return m_engine->GetCameras(cameras, capacity, count);
}

PvlResult CCameraEngineFrontEnd::GetFlashDevices(CameraFlashDevice* devices, uint32_t capacity, uint32_t* count) {
  if (!m_engine) {
    PvlAssertBreak(0);
    return PVL_E_NOTREADY;
  }
  return m_engine->GetFlashDevices(devices, capacity, count);
}

PvlResult CCameraEngineFrontEnd::Initialize(uint32_t sensorClass) {
  return Raise([&](CEngineStateMachine* m) { return m->Initialize(sensorClass); });
}

PvlResult CCameraEngineFrontEnd::Uninitialize() {
  return Raise([](CEngineStateMachine* m) { return m->Uninitialize(); });
}

PvlResult CCameraEngineFrontEnd::GetPorts(ICameraPort** ports, uint32_t capacity, uint32_t* count) {
  PvlResult r = Raise([&](CEngineStateMachine* m) { return m->GetPorts(ports, capacity, count); });
  if (r == PVL_E_NOTREADY && m_engine) {
    CPvlPtr<CEngineStateMachine> machine;
    if (m_engine->GetStateMachine(&machine) != PVL_OK || !machine)
      CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "ERROR m_pStateMachine is NULL!!!");
  }
  return r;
}

namespace {

// A host signal control seen as the engine's listener: the end of the run fires it.
class SignalListener final : public ICameraSettingsListener {
 public:
  explicit SignalListener(ISignalControl* control) : m_control(control) { m_control->AddRef(); }
  int32_t AddRef() override { return ++m_refs; }
  int32_t Release() override {
    const int32_t left = --m_refs;
    if (left == 0) delete this;
    return left;
  }
  PvlResult QueryInterface(ZUEUID, void** out) override {
    if (out) *out = nullptr;
    return PVL_E_UNSUPPORTED;
  }
  PvlResult Notify() override { return m_control->Fire(); }

 private:
  ~SignalListener() { m_control->Release(); }
  ISignalControl* m_control;
  std::atomic<int32_t> m_refs{0};
};

// The value is the client's object: a host signal control
// (what the camera driver hands over) is asked for by its interface and fired through
// an adapter, since calling it as a listener would call an object of another type;
// any other object is the listener itself.
PvlResult ListenerOf(uintptr_t value, CPvlPtr<ICameraSettingsListener>& listener) {
  auto* object = reinterpret_cast<IPvlBase*>(value);
  if (!object) return PVL_OK;
  ISignalControl* control = nullptr;
  if (object->QueryInterface(ZUEUID_IFACE_SIGNAL_CONTROL, reinterpret_cast<void**>(&control)) == PVL_OK && control) {
    auto* adapter = new (std::nothrow) SignalListener(control);
    control->Release();
    if (!adapter) return PVL_E_OUTOFMEMORY;
    listener = adapter;
    return PVL_OK;
  }
  listener = reinterpret_cast<ICameraSettingsListener*>(object);
  return PVL_OK;
}

}  // namespace

PvlResult CCameraEngineFrontEnd::StartFocus(uint8_t mode, uintptr_t signalControl) {
  CPvlPtr<ICameraSettingsListener> listener;
  PvlResult r = ListenerOf(signalControl, listener);
  if (r != PVL_OK) return r;
  return Raise([&](CEngineStateMachine* m) { return m->StartFocus(mode, listener.Get()); });
}

PvlResult CCameraEngineFrontEnd::StopFocus() {
  return Raise([](CEngineStateMachine* m) { return m->StopFocus(); });
}

PvlResult CCameraEngineFrontEnd::StartVideo() {
  return Raise([](CEngineStateMachine* m) { return m->StartVideo(); });
}

PvlResult CCameraEngineFrontEnd::StartStill(uint32_t count) {
  return Raise([&](CEngineStateMachine* m) { return m->StartSnapshot(count); });
}

PvlResult CCameraEngineFrontEnd::Stop() {
  return Raise([](CEngineStateMachine* m) { return m->Stop(); });
}

PvlResult CCameraEngineFrontEnd::StartPreSnapshotFlash(uintptr_t signalControl) {
  CPvlPtr<ICameraSettingsListener> listener;
  PvlResult r = ListenerOf(signalControl, listener);
  if (r != PVL_OK) return r;
  return Raise([&](CEngineStateMachine* m) { return m->StartPreSnapshotFlash(listener.Get()); });
}

PvlResult CCameraEngineFrontEnd::StopPreSnapshotFlash() {
  return Raise([](CEngineStateMachine* m) { return m->StopPreSnapshotFlash(); });
}

PvlResult CCameraEngineFrontEnd::Suspend() {
  return Raise([](CEngineStateMachine* m) { return m->Suspend(); });
}

PvlResult CCameraEngineFrontEnd::Resume() {
  return Raise([](CEngineStateMachine* m) { return m->Resume(); });
}

// ---- ICameraTuning ----

PvlResult CCameraEngineFrontEnd::Reserved3(uint32_t) { return PVL_E_UNSUPPORTED; }

PvlResult CCameraEngineFrontEnd::ApplyRuntimeTuningChanges() {
  return Raise([](CEngineStateMachine* m) { return m->ApplyRuntimeTuningChanges(); });
}

// ---- IProperties ----

PvlResult CCameraEngineFrontEnd::Reserved3(uint32_t, uint32_t) { return PVL_E_UNSUPPORTED; }
PvlResult CCameraEngineFrontEnd::Reserved7(uint32_t, uint32_t) { return PVL_E_UNSUPPORTED; }
PvlResult CCameraEngineFrontEnd::Reserved8(uint32_t, uint32_t) { return PVL_E_UNSUPPORTED; }
PvlResult CCameraEngineFrontEnd::Reserved13(uint32_t, uint32_t, uint32_t) { return PVL_E_UNSUPPORTED; }
PvlResult CCameraEngineFrontEnd::Reserved14(uint32_t, uint32_t) { return PVL_E_UNSUPPORTED; }

PvlResult CCameraEngineFrontEnd::GetProperty(uint32_t id, PvlValueRecord* value) {
  return m_store ? m_store->GetProperty(id, value) : PVL_E_NOTREADY;
}

PvlResult CCameraEngineFrontEnd::AddProperty(const CPvlPropertyDesc* desc, uint32_t group, uint32_t flags) {
  return m_store ? m_store->AddProperty(desc, group, flags) : PVL_E_NOTREADY;
}

PvlResult CCameraEngineFrontEnd::GetProperties(CPvlPropertyDesc* descs, uint32_t count, PvlResult* results) {
  return m_store ? m_store->GetProperties(descs, count, results) : PVL_E_NOTREADY;
}

PvlResult CCameraEngineFrontEnd::SetRanges(const PvlPropertyRangeRecord* records, uint32_t count) {
  return m_store ? m_store->SetRanges(records, count) : PVL_E_NOTREADY;
}

PvlResult CCameraEngineFrontEnd::RegisterGroup(CPvlPropertyDesc* const* descs, uint32_t count, uint32_t group) {
  return m_store ? m_store->RegisterGroup(descs, count, group) : PVL_E_NOTREADY;
}

PvlResult CCameraEngineFrontEnd::CheckRange(uint32_t id, const PvlValueRecord* value) {
  if (!m_store) return PVL_E_NOTREADY;
  if (!value) return PVL_E_NULLPTR;
  // The registered bounds; the value records ask for whatever type is stored.
  PvlPropertyDescHead head{};
  head.id = id;
  head.name = PvlDescText("");
  head.description = PvlDescText("");
  PvlResult r = m_store->GetProperties(PvlPropertyDescOf(&head), 1, nullptr);
  if (r != PVL_OK) return r;
  const PvlValueRecord& lo = head.values[1];
  const PvlValueRecord& hi = head.values[2];
  switch (value->type) {
    case kTypeDouble:
    case PVL_VT_FLOAT:
    case PVL_VT_SINT32: {
      double v = 0, a = 0, b = 0;
      if (!AsNumber(*value, &v) || !AsNumber(lo, &a) || !AsNumber(hi, &b)) return PVL_E_BADARG;
      // A NaN compares false with both bounds: refuse it rather than let it in.
      return isnan(v) || !Within(v, a, b) ? PVL_E_BADARG : PVL_OK;
    }
    case PVL_VT_8BYTES: {
      const int32_t* v = reinterpret_cast<const int32_t*>(value->payload.bytes);
      const int32_t* a = reinterpret_cast<const int32_t*>(lo.payload.bytes);
      const int32_t* b = reinterpret_cast<const int32_t*>(hi.payload.bytes);
      for (int i = 0; i < 2; ++i)
        if (v[i] < a[i] || v[i] > b[i]) return PVL_E_BADARG;
      return PVL_OK;
    }
    case PVL_VT_PAIR: {
      // Compared as quotients; a zero second word has none (it would reach the
      // exposure algorithm as a division by zero).
      float v = 0, a = 0, b = 0;
      if (!Quotient(*value, &v) || !Quotient(lo, &a) || !Quotient(hi, &b)) return PVL_E_BADARG;
      return v < a || v > b ? PVL_E_BADARG : PVL_OK;
    }
    default:
      return PVL_OK;
  }
}

PvlResult CCameraEngineFrontEnd::SetProperty(uint32_t id, const PvlValueRecord* value) {
  if (!m_store) return PVL_E_NOTREADY;
  CAMERA_DEBUG_LOG(CAMERA_LOG_INFO, "Set Property: %x", id);
  PvlResult r = CheckRange(id, value);
  if (r != PVL_OK) return r;
  r = m_store->SetProperty(id, value);
  if (r != PVL_OK) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "Error saving property %x", id);
    return r;
  }
  if (!m_engine) return PVL_OK;
  CPvlPtr<CEngineStateMachine> machine;
  r = m_engine->GetStateMachine(&machine);
  if (r != PVL_OK) return r;
  return machine->ApplyProperty(id);
}

PvlResult CCameraEngineFrontEnd::SetProperties(const PvlPropertyValueRecord* records, uint32_t count) {
  if (!m_store) return PVL_E_NOTREADY;
  if (!records) return PVL_E_NULLPTR;
  // Every checked record first: one value out of range stores nothing.
  for (uint32_t i = 0; i < count; ++i) {
    if (records[i].mode != 1 && records[i].mode != 2) continue;
    PvlResult r = CheckRange(records[i].id, &records[i].value);
    if (r != PVL_OK) return r;
  }
  PvlResult r = m_store->SetProperties(records, count);
  if (r != PVL_OK || !m_engine) return r;
  for (uint32_t i = 0; i < count; ++i) {
    CPvlPtr<CEngineStateMachine> machine;
    r = m_engine->GetStateMachine(&machine);
    if (r == PVL_OK) r = machine->ApplyProperty(records[i].id);
    if (r != PVL_OK) return r;
  }
  return PVL_OK;
}
