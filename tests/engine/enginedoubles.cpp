// The engine's service doubles (see the header).
#include "enginedoubles.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "image_copy.h"
#include "orbhost_test.h"

namespace enginetest {

namespace {

EngineDoubles* g_current = nullptr;

template <class T>
PvlResult Hand(T* object, void** out) {
  object->AddRef();
  *out = object;
  return PVL_OK;
}

int32_t Factory(IEnv*, ZUEUID clsid, void*, void** out) {
  if (!out) return PVL_E_NULLPTR;
  *out = nullptr;
  EngineDoubles* d = g_current;
  if (!d) return PVL_E_NOTSUPPORTED;
  ++d->creations[clsid];
  auto failure = d->creationFailures.find(clsid);
  if (failure != d->creationFailures.end()) return failure->second;
  switch (clsid) {
    case ZUEUID_CLASS_SENSOR_SIMULATOR:
    case ZUEUID_CLASS_SENSOR_SERVICE:
      return Hand(static_cast<ICameraSensorService*>(&d->sensor), out);
    case ZUEUID_CLASS_VFE_SIMULATOR:
    case ZUEUID_CLASS_VFE_SERVICE:
      return Hand(static_cast<IVfeService*>(d->vfe.get()), out);
    case ZUEUID_CLASS_FLASH_ELFS:
      return Hand(static_cast<IELFS*>(&d->flash), out);
    case ZUEUID_CLASS_TUNING_DATA:
      return Hand(static_cast<ITuningData*>(&d->tuning), out);
    case ZUEUID_CLASS_TUNINGSERVER:
      return Hand(static_cast<ITunvex*>(&d->tunvex), out);
    default: {
      auto it = d->plugins.find(clsid);
      if (it == d->plugins.end()) return PVL_E_NOTSUPPORTED;
      return Hand(static_cast<IELFS*>(it->second.get()), out);
    }
  }
}

const ZUEUID kClasses[] = {ZUEUID_CLASS_SENSOR_SIMULATOR, ZUEUID_CLASS_SENSOR_SERVICE, ZUEUID_CLASS_VFE_SIMULATOR,
                           ZUEUID_CLASS_VFE_SERVICE, ZUEUID_CLASS_FLASH_ELFS,
                           ZUEUID_CLASS_TUNING_DATA, ZUEUID_CLASS_TUNINGSERVER};
// Classes the configuration files of the tests name for their plug-ins.
const ZUEUID kPluginClasses[] = {0x01046293u, 0x010460c4u, 0x01045ccfu, 0x01045cd0u};
const char* const kPluginNames[] = {"AEC", "AWB", "AF", "Other"};

}  // namespace

bool CallLog::Has(const std::string& call) const { return IndexOf(call) >= 0; }

size_t CallLog::Count(const std::string& call) const { return std::count(calls.begin(), calls.end(), call); }

int CallLog::IndexOf(const std::string& call) const {
  auto it = std::find(calls.begin(), calls.end(), call);
  return it == calls.end() ? -1 : static_cast<int>(it - calls.begin());
}

std::string Hex(uint32_t value) {
  char text[16];
  snprintf(text, sizeof text, "0x%08x", value);
  return text;
}

PvlResult ConfigurerDouble::QueryInterface(ZUEUID iid, void** out) {
  if (!out) return PVL_E_NULLPTR;
  *out = nullptr;
  if (iid == ZUEUID_IFACE_CONFIG_COMMAND || (m_snapshotFace && iid == ZUEUID_IFACE_SNAPSHOT_CONFIG_COMMAND)) {
    AddRef();
    *out = static_cast<ISnapshotConfigCommand*>(this);
    return PVL_OK;
  }
  return PVL_E_NOTSUPPORTED;
}

namespace {
PvlResult MakeConfigurer(CallLog* log, const char* owner, uint32_t id, bool snapshotFace, IConfigCommand** out) {
  if (!out) return PVL_E_NULLPTR;
  PvlResult r = log->Record(std::string(owner) + ".GetConfigurer(" + Hex(id) + ")");
  if (r != PVL_OK) return r;
  auto* c = new ConfigurerDouble(log, owner, id, snapshotFace);
  c->AddRef();
  *out = c;
  return PVL_OK;
}
}  // namespace

// ---- Sensor ----

PvlResult SensorDouble::QueryInterface(ZUEUID iid, void** out) {
  if (!out) return PVL_E_NULLPTR;
  *out = nullptr;
  if (iid != ZUEUID_IFACE_SENSOR_SERVICE) return PVL_E_NOTSUPPORTED;
  AddRef();
  *out = static_cast<ICameraSensorService*>(this);
  return PVL_OK;
}

PvlResult SensorDouble::Initialize(uint32_t sensorClass, IPvlBase*) {
  PvlResult r = log->Record("Sensor.Initialize(" + Hex(sensorClass) + ")");
  if (r == PVL_OK) initialised = true;
  return r;
}

PvlResult SensorDouble::Uninitialize() {
  initialised = false;
  return log->Record("Sensor.Uninitialize");
}

PvlResult SensorDouble::GetConfigurer(uint32_t configuration, IConfigCommand** out) {
  return MakeConfigurer(log, "Sensor", configuration, false, out);
}

PvlResult SensorDouble::GetSensors(CameraSensorDescriptor* sensors, uint32_t capacity, uint32_t* count) {
  if (!count) return PVL_E_NULLPTR;
  *count = 1;
  if (sensors && capacity >= 1) {
    sensors[0] = CameraSensorDescriptor{};
    sensors[0].DriverClass = kSensorClass;
    sensors[0].FullWidth = 2608;
    sensors[0].FullHeight = 1960;
  }
  return PVL_OK;
}

PvlResult SensorDouble::GetCapabilities(SensorCapabilities* out) {
  PvlResult r = log->Record("Sensor.GetCapabilities");
  if (r == PVL_OK) *out = capabilities;
  return r;
}

namespace {
void PutText(SensorIdentityText* slot, const char* text) {
  const uint32_t length = static_cast<uint32_t>(strlen(text)) + 1;
  slot->Length = length;
  if (slot->Buffer && slot->Capacity >= length)
    memcpy(reinterpret_cast<char*>(static_cast<uintptr_t>(slot->Buffer)), text, length);
}
}  // namespace

PvlResult SensorDouble::GetIdentity(SensorIdentity* record) {
  PutText(&record->Maker, "Samsung");
  PutText(&record->Model, "S5K3E2FX");
  return PVL_OK;
}

PvlResult SensorDouble::GetOptics(SensorOptics* out) {
  *out = SensorOptics{};
  out->FocusStatus = focusStatus;
  out->FNumber = 2.8f;
  out->MaxApertureValue = 2.97f;
  return PVL_OK;
}

PvlResult SensorDouble::GetOutputFormat(SensorOutputFormat* out) {
  *out = format;
  return PVL_OK;
}

PvlResult SensorDouble::GetTiming(SensorTiming* out, uint32_t) {
  *out = SensorTiming{};
  out->Words[0] = out->Words[1] = 33333;
  return PVL_OK;
}

// ---- VFE ----

PvlResult VfeDouble::QueryInterface(ZUEUID iid, void** out) {
  if (!out) return PVL_E_NULLPTR;
  *out = nullptr;
  if (iid != ZUEUID_IFACE_VFE_SERVICE) return PVL_E_NOTSUPPORTED;
  AddRef();
  *out = static_cast<IVfeService*>(this);
  return PVL_OK;
}

PvlResult VfeDouble::Initialize(uint32_t device, IPvlBase*) {
  PvlResult r = log->Record("Vfe.Initialize(" + std::to_string(device) + ")");
  if (r == PVL_OK) initialised = true;
  return r;
}

PvlResult VfeDouble::Uninitialize() {
  initialised = false;
  return log->Record("Vfe.Uninitialize");
}

PvlResult VfeDouble::GetConfigurer(uint32_t configuration, IConfigCommand** out) {
  return MakeConfigurer(log, "Vfe", configuration, configuration == ZUEUID_CONFIG_SNAPSHOT, out);
}

PvlResult VfeDouble::GetOutputs(IVideoOutput** out, int32_t capacity, uint32_t* count) {
  if (!count) return PVL_E_BADARG;
  PvlResult r = log->Record(out ? "Vfe.GetOutputs" : "Vfe.CountOutputs");
  if (r != PVL_OK) return r;
  *count = static_cast<uint32_t>(outputs.size());
  for (int32_t i = 0; out && i < capacity && i < static_cast<int32_t>(outputs.size()); ++i) {
    outputs[i]->AddRef();
    out[i] = outputs[i];
  }
  return PVL_OK;
}

PvlResult VfeDouble::SetEventSink(ICameraEngineEventSink* s) {
  PvlResult r = log->Record(s ? "Vfe.SetEventSink(engine)" : "Vfe.SetEventSink(null)");
  if (r == PVL_OK) sink = s;
  return r;
}

// ---- Flash plug-in, plug-ins, tuning data, tuning server ----

PvlResult FlashDouble::QueryInterface(ZUEUID iid, void** out) {
  if (!out) return PVL_E_NULLPTR;
  *out = nullptr;
  if (iid == ZUEUID_IFACE_ELFS) {
    *out = static_cast<IELFS*>(this);
  } else if (iid == ZUEUID_IFACE_FLASH_SERVICE) {
    *out = static_cast<ICameraFlashService*>(this);
  } else {
    return PVL_E_NOTSUPPORTED;
  }
  AddRef();
  return PVL_OK;
}

PvlResult FlashDouble::Initialize(IPvlBase* client) {
  if (!client) return PVL_E_NULLPTR;
  return log->Record("Flash.Initialize");
}

PvlResult FlashDouble::GetFlashDevices(CameraFlashDevice* devices, int32_t capacity, uint32_t* count) {
  if (!count) return PVL_E_NULLPTR;
  *count = 1;
  if (devices && capacity >= 1) devices[0] = CameraFlashDevice{};
  return log->Record("Flash.GetFlashDevices");
}

PvlResult PluginDouble::QueryInterface(ZUEUID iid, void** out) {
  if (!out) return PVL_E_NULLPTR;
  *out = nullptr;
  if (iid != ZUEUID_IFACE_ELFS) return PVL_E_NOTSUPPORTED;
  AddRef();
  *out = static_cast<IELFS*>(this);
  return PVL_OK;
}

PvlResult TuningDataDouble::QueryInterface(ZUEUID iid, void** out) {
  if (!out) return PVL_E_NULLPTR;
  *out = nullptr;
  if (iid == ZUEUID_IFACE_BESTSHOT_TUNING) {
    AddRef();
    *out = static_cast<IBestShotTuning*>(&bestShot);
    return PVL_OK;
  }
  if (iid != ZUEUID_IFACE_TUNING_DATA) return PVL_E_NOTSUPPORTED;
  AddRef();
  *out = static_cast<ITuningData*>(this);
  return PVL_OK;
}

PvlResult TunvexDouble::QueryInterface(ZUEUID iid, void** out) {
  if (!out) return PVL_E_NULLPTR;
  *out = nullptr;
  if (iid != ZUEUID_ITUNVEX) return PVL_E_NOTSUPPORTED;
  AddRef();
  *out = static_cast<ITunvex*>(this);
  return PVL_OK;
}

PvlResult TunvexDouble::SendDataToJPEG(char* buffer, uint32_t size, uint32_t* needed, uint32_t* written) {
  static const char kText[] = "Tuning=1\n";
  if (needed) *needed = sizeof kText;
  if (buffer && size) {
    uint32_t n = std::min<uint32_t>(size - 1, sizeof kText - 1);
    memcpy(buffer, kText, n);
    buffer[n] = 0;
    if (written) *written = n + 1;
  }
  return PVL_OK;
}

// ---- The set ----

EngineDoubles::EngineDoubles(uint32_t extraYuv) {
  outputs.push_back(std::make_unique<FakeVideoOutput>(0, BayerFormat(2592, 1944)));
  outputs.push_back(std::make_unique<FakeVideoOutput>(1, Nv21Format(1296, 972, kFrameIntervalUs)));
  outputs.push_back(std::make_unique<FakeVideoOutput>(2, Nv21Format(640, 480, kFrameIntervalUs)));
  for (uint32_t i = 0; i < extraYuv; ++i)
    outputs.push_back(std::make_unique<FakeVideoOutput>(3 + i, Nv21Format(320, 240, kFrameIntervalUs)));
  std::vector<FakeVideoOutput*> raw;
  for (auto& o : outputs) raw.push_back(o.get());
  vfe = std::make_unique<VfeDouble>(&log, raw);
  for (size_t i = 0; i < sizeof kPluginClasses / sizeof kPluginClasses[0]; ++i)
    plugins[kPluginClasses[i]] = std::make_unique<PluginDouble>(&log, kPluginNames[i]);
  g_current = this;
  for (ZUEUID clsid : kClasses) OrbhostTest_RegisterClass(clsid, &Factory);
  for (ZUEUID clsid : kPluginClasses) OrbhostTest_RegisterClass(clsid, &Factory);
}

EngineDoubles::~EngineDoubles() {
  OrbhostTest_UnregisterAllClasses();
  g_current = nullptr;
}

uint32_t EngineDoubles::Creations(ZUEUID clsid) const {
  auto it = creations.find(clsid);
  return it == creations.end() ? 0 : it->second;
}

int32_t EngineDoubles::HeldReferences() const {
  int32_t n = sensor.refs + vfe->refs + flash.refs + tuning.refs + tunvex.refs;
  for (auto& p : plugins) n += p.second->refs;
  for (auto& o : outputs) n += o->refs;
  return n;
}

std::string WriteEngineConfig(const char* name, uint32_t sensorClass, uint32_t defaultTuning,
                              const std::vector<std::pair<uint32_t, uint32_t>>& bestShots,
                              const std::vector<ElfsLine>& elfs) {
  std::string xml = "<?xml version=\"1.0\"?>\n<CameraEngineConfig>\n";
  xml += "  <SensorConfig ClassID=\"" + Hex(sensorClass) + "\">\n";
  xml += "    <DefaultTuningData ClassID=\"" + Hex(defaultTuning) + "\"/>\n";
  for (auto& b : bestShots)
    xml += "    <BestShotConfig Name=\"Set\" Index=\"" + std::to_string(b.first) + "\" ClassID=\"" + Hex(b.second) +
           "\"/>\n";
  xml += "  </SensorConfig>\n  <ELFS>\n";
  for (auto& e : elfs)
    xml += "    <Plugin ClassID=\"" + Hex(e.classId) + "\" Role=\"" + e.role + "\" OfflineProc=\"FALSE\"/>\n";
  xml += "  </ELFS>\n</CameraEngineConfig>\n";
  std::string relative = std::string("fs/~0x01061a6f/") + name;
  camera::test::WriteImageFile(relative, xml);
  return std::string("fs:/~0x01061a6f/") + name;
}

}  // namespace enginetest
