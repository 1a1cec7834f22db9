// The fake camera engine: one object per install with an engine face, a property
// face and four ports, counting the references others hold.
#include "fakecameraengine.h"

#include <atomic>
#include <cstring>
#include <memory>

#include "orbhost_test.h"
#include "pvlvariant.h"

namespace camera::test {
namespace {

PvlValueRecord Int(uint32_t type, int32_t v) {
  PvlValueRecord r{};
  r.type = type;
  r.payload.i32 = v;
  return r;
}
PvlValueRecord Float(float v) {
  PvlValueRecord r{};
  r.type = PVL_VT_FLOAT;
  r.payload.f = v;
  return r;
}

class Engine;

// The base of every face: references go to the engine's one count.
class FakePort final : public ICameraPort, public IProperties {
 public:
  FakePort(Engine* engine, FakePortSpec spec) : engine_(engine), spec_(std::move(spec)) {}
  int32_t AddRef() override;
  int32_t Release() override;
  PvlResult QueryInterface(ZUEUID iid, void** out) override;
  PvlResult GetPortType(uint32_t* type) override {
    if (!type) return PVL_E_NULLPTR;
    *type = spec_.type;
    return PVL_OK;
  }
  PvlResult GetFormat(CameraPortFormat*) override { return PVL_E_UNSUPPORTED; }
  PvlResult SetFormat(const CameraPortFormat*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetBufferRequirements(BufferRequest*, uint32_t, uint32_t*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetBufferAllocator(ICameraBufferManager**) override { return PVL_E_UNSUPPORTED; }
  PvlResult SetBufferManager(ICameraBufferManager*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetSupportedFormats(CameraPortFormat* formats, uint32_t capacity, uint32_t* count) override {
    if (!count) return PVL_E_BADARG;
    *count = uint32_t(spec_.formats.size());
    for (uint32_t i = 0; formats && i < capacity && i < spec_.formats.size(); ++i) formats[i] = spec_.formats[i];
    return PVL_OK;
  }
  PvlResult Start() override { return PVL_E_UNSUPPORTED; }
  PvlResult Stop() override { return PVL_OK; }
  PvlResult GetNextFrame(IPvlMediaBuffer**) override { return PVL_E_STOPPED; }
  PvlResult Attach(IVideoOutput*, ICameraSensorService*) override { return PVL_E_UNSUPPORTED; }
  PvlResult SetMode(uint8_t) override { return PVL_OK; }
  uint8_t IsStarted() override { return 0; }
  PvlResult GetOutput(IVideoOutput**) override { return PVL_E_UNSUPPORTED; }
  PvlResult QueueFrame(IPvlMediaBuffer*) override { return PVL_E_UNSUPPORTED; }
  ICameraPort* GetProxy() override { return nullptr; }
  IPvlBase* SetProxyOuter(IPvlBase*) override { return nullptr; }
  // The still port's property face (the JPEG settings behind it).
  PvlResult Reserved3(uint32_t, uint32_t) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetProperty(uint32_t id, PvlValueRecord* value) override {
    std::lock_guard<std::mutex> g(lock_);
    auto it = values_.find(id);
    if (!value) return PVL_E_NULLPTR;
    if (it == values_.end()) return PVL_E_BADARG;
    *value = it->second;
    return PVL_OK;
  }
  PvlResult SetProperty(uint32_t id, const PvlValueRecord* value) override {
    std::lock_guard<std::mutex> g(lock_);
    if (!value) return PVL_E_NULLPTR;
    if (!values_.count(id)) return PVL_E_BADARG;
    values_[id] = *value;
    return PVL_OK;
  }
  PvlResult AddProperty(const CPvlPropertyDesc*, uint32_t, uint32_t) override { return PVL_E_UNSUPPORTED; }
  PvlResult Reserved7(uint32_t, uint32_t) override { return PVL_E_UNSUPPORTED; }
  PvlResult Reserved8(uint32_t, uint32_t) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetProperties(CPvlPropertyDesc*, uint32_t, PvlResult*) override { return PVL_E_UNSUPPORTED; }
  PvlResult SetProperties(const PvlPropertyValueRecord*, uint32_t) override { return PVL_E_UNSUPPORTED; }
  PvlResult SetRanges(const PvlPropertyRangeRecord*, uint32_t) override { return PVL_E_UNSUPPORTED; }
  PvlResult RegisterGroup(CPvlPropertyDesc* const*, uint32_t, uint32_t) override { return PVL_E_UNSUPPORTED; }
  PvlResult Reserved13(uint32_t, uint32_t, uint32_t) override { return PVL_E_UNSUPPORTED; }
  PvlResult Reserved14(uint32_t, uint32_t) override { return PVL_E_UNSUPPORTED; }

  bool Value(uint32_t id, uint32_t* v) {
    std::lock_guard<std::mutex> g(lock_);
    auto it = values_.find(id);
    if (it == values_.end()) return false;
    *v = it->second.payload.u32;
    return true;
  }
  void InitStillProperties() {
    values_[ZUEUID_PROPERTY_JPEG_QUALITY] = Int(PVL_VT_UINT32, 90);
    values_[ZUEUID_PROPERTY_JPEG_THUMBNAIL_QUALITY] = Int(PVL_VT_UINT32, 90);
  }

 private:
  Engine* engine_;
  FakePortSpec spec_;
  std::mutex lock_;
  std::map<uint32_t, PvlValueRecord> values_;
};

class PropertiesFace final : public IProperties {
 public:
  explicit PropertiesFace(Engine* e) : engine_(e) {}
  int32_t AddRef() override;
  int32_t Release() override;
  PvlResult QueryInterface(ZUEUID iid, void** out) override;
  PvlResult Reserved3(uint32_t, uint32_t) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetProperty(uint32_t id, PvlValueRecord* value) override;
  PvlResult SetProperty(uint32_t id, const PvlValueRecord* value) override;
  PvlResult AddProperty(const CPvlPropertyDesc*, uint32_t, uint32_t) override { return PVL_E_UNSUPPORTED; }
  PvlResult Reserved7(uint32_t, uint32_t) override { return PVL_E_UNSUPPORTED; }
  PvlResult Reserved8(uint32_t, uint32_t) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetProperties(CPvlPropertyDesc* descs, uint32_t count, PvlResult* results) override;
  PvlResult SetProperties(const PvlPropertyValueRecord* records, uint32_t count) override;
  PvlResult SetRanges(const PvlPropertyRangeRecord*, uint32_t) override { return PVL_E_UNSUPPORTED; }
  PvlResult RegisterGroup(CPvlPropertyDesc* const*, uint32_t, uint32_t) override { return PVL_E_UNSUPPORTED; }
  PvlResult Reserved13(uint32_t, uint32_t, uint32_t) override { return PVL_E_UNSUPPORTED; }
  PvlResult Reserved14(uint32_t, uint32_t) override { return PVL_E_UNSUPPORTED; }

 private:
  Engine* engine_;
};

class Engine final : public ICameraEngine {
 public:
  explicit Engine(const FakeEngineConfig& config) : config_(config), properties_(this) {
    if (config_.ports.empty()) config_.ports = DefaultPorts();
    for (const FakePortSpec& spec : config_.ports) {
      ports_.push_back(std::make_unique<FakePort>(this, spec));
      if (spec.type == ZUEUID_CAMERA_PORT_MAIN_IMAGE) ports_.back()->InitStillProperties();
    }
    InitProperties();
  }
  int32_t AddRef() override { return ++refs_; }
  int32_t Release() override { return --refs_; }
  PvlResult QueryInterface(ZUEUID iid, void** out) override {
    if (!out) return PVL_E_NULLPTR;
    if (iid == ZUEUID_IFACE_CAMERAENGINE || iid == ZUEUID_IFACE_CAMERAENGINE_CONTROL) {
      AddRef();
      *out = static_cast<ICameraEngine*>(this);
      return PVL_OK;
    }
    if (iid == ZUEUID_IFACE_PROPERTIES || iid == ZUEUID_IFACE_PROPERTIES_ALT) {
      AddRef();
      *out = static_cast<IProperties*>(&properties_);
      return PVL_OK;
    }
    return PVL_E_UNSUPPORTED;
  }
  PvlResult GetCameras(CameraSensorDescriptor* cameras, uint32_t capacity, uint32_t* count) override {
    Record("GetCameras");
    if (!count) return PVL_E_BADARG;
    *count = config_.cameras;
    for (uint32_t i = 0; cameras && i < capacity && i < config_.cameras; ++i) {
      cameras[i] = CameraSensorDescriptor{};
      cameras[i].DriverClass = config_.sensorClass + i;
      cameras[i].FullWidth = 2592;
      cameras[i].FullHeight = 1944;
    }
    return PVL_OK;
  }
  PvlResult GetFlashDevices(CameraFlashDevice* devices, uint32_t capacity, uint32_t* count) override {
    Record("GetFlashDevices");
    if (!count) return PVL_E_BADARG;
    *count = config_.flashDevices;
    for (uint32_t i = 0; devices && i < capacity && i < config_.flashDevices; ++i)
      devices[i] = {2, config_.flashClass};  // a white LED
    return PVL_OK;
  }
  PvlResult Initialize(uint32_t sensorClass) override {
    Record("Initialize");
    if (config_.initializeResult) return config_.initializeResult;
    if (initialized_) return PVL_E_NOTREADY;  // the engine's Ready state refuses it
    initialized_ = true;
    initializedWith_ = sensorClass;
    return PVL_OK;
  }
  PvlResult Uninitialize() override {
    Record("Uninitialize");
    if (!initialized_) return PVL_E_NOTREADY;
    initialized_ = false;
    return PVL_OK;
  }
  PvlResult GetPorts(ICameraPort** ports, uint32_t capacity, uint32_t* count) override {
    Record("GetPorts");
    if (config_.getPortsResult) return config_.getPortsResult;
    if (!count || (!ports && capacity)) return PVL_E_BADARG;
    *count = uint32_t(ports_.size());
    for (uint32_t i = 0; ports && i < capacity && i < ports_.size(); ++i) {
      ports_[i]->AddRef();
      ports[i] = ports_[i].get();
    }
    return PVL_OK;
  }
  PvlResult StartFocus(uint8_t, uint32_t control) override {
    Record("StartFocus");
    focusControl_ = control;
    return PVL_OK;
  }
  PvlResult StopFocus() override { return Record("StopFocus"), PVL_OK; }
  PvlResult StartVideo() override { return Record("StartVideo"), PVL_OK; }
  PvlResult StartStill(uint32_t) override { return Record("StartStill"), PVL_OK; }
  PvlResult Stop() override { return Record("Stop"), config_.stopResult; }
  PvlResult StartPreSnapshotFlash(uint32_t) override { return Record("StartPreSnapshotFlash"), PVL_OK; }
  PvlResult StopPreSnapshotFlash() override { return Record("StopPreSnapshotFlash"), PVL_OK; }
  PvlResult Suspend() override { return Record("Suspend"), PVL_OK; }
  PvlResult Resume() override { return Record("Resume"), PVL_OK; }

  void Record(const char* call) {
    std::lock_guard<std::mutex> g(lock_);
    calls_.push_back(call);
  }
  void InitProperties() {
    auto add = [&](uint32_t id, PvlValueRecord v, PvlValueRecord lo, PvlValueRecord hi, uint32_t mode = 2) {
      props_[id] = FakeProperty{v, lo, hi, mode, 0};
    };
    auto i = [](int32_t v) { return Int(PVL_VT_SINT32, v); };
    add(ZUEUID_PROPERTY_BRIGHTNESS, i(50), i(0), i(100));
    add(ZUEUID_PROPERTY_CONTRAST, i(50), i(0), i(100));
    add(ZUEUID_PROPERTY_HUE_ANGLE, Float(0), Float(-180), Float(180));
    add(ZUEUID_PROPERTY_SATURATION, i(50), i(0), i(100));
    add(ZUEUID_PROPERTY_SHARPNESS, i(50), i(0), i(100));
    add(ZUEUID_PROPERTY_GAMMA_CURVE, Float(1), Float(0.5f), Float(4));
    add(ZUEUID_PROPERTY_WHITE_BALANCE_MODE, i(0), i(0), i(10000), 3);
    add(ZUEUID_PROPERTY_ISO_MODE, i(0), i(0), i(12800), 3);
    add(ZUEUID_PROPERTY_BEST_SHOT_MODE, i(0), i(0), i(10), 0);
    add(ZUEUID_PROPERTY_FIXED_CB_OFFSET, i(0), i(-128), i(127));
    add(ZUEUID_PROPERTY_FIXED_CR_OFFSET, i(0), i(-128), i(127));
    add(ZUEUID_PROPERTY_IMAGE_EFFECT_MODE, i(0), i(0), i(4), 0);
    add(ZUEUID_PROPERTY_LUMA_ADAPTATION_MODE, i(0), i(0), i(0), 0);
    // The engine's shutter speed starts at 0 (nothing set yet).
    add(ZUEUID_PROPERTY_SNAPSHOT_SHUTTER_SPEED, i(0), i(0), i(16000000), 3);
    add(ZUEUID_PROPERTY_APERTURE, Float(2.8f), Float(0), Float(128), 3);
    add(ZUEUID_PROPERTY_ANTIBANDING_MODE, i(60), i(0), i(240), 0);
    add(ZUEUID_PROPERTY_EXPOSURE_COMPENSATION, Int(PVL_VT_PAIR, 0), Int(PVL_VT_PAIR, -12), Int(PVL_VT_PAIR, 12));
    add(ZUEUID_PROPERTY_EXPOSURE_METERING_MODE, i(0), i(0), i(12), 3);
    add(ZUEUID_PROPERTY_CURRENT_FLASH_DEVICE_ID, Int(PVL_VT_UINT32, 0), Int(PVL_VT_UINT32, 0), Int(PVL_VT_UINT32, -1));
    add(ZUEUID_PROPERTY_SNAPSHOT_FLASH_INTENSITY, i(0), i(0), i(10000), 3);
    add(ZUEUID_PROPERTY_SNAPSHOT_FLASH_MODE, i(0), i(0), i(0), 3);
    add(ZUEUID_PROPERTY_FOCUS_MODE, i(0), i(0), i(1));
    add(ZUEUID_PROPERTY_FOCUS_RECT_MODE, i(0), i(0), i(2));
    add(ZUEUID_PROPERTY_FOCUS_STEP, i(0), i(0), i(10000));
    add(ZUEUID_PROPERTY_HIGH_DYNAMIC_RANGE_MODE, i(0), i(0), i(0), 0);
    add(ZUEUID_PROPERTY_SNAPSHOT_HAND_JITTER_REDUCTION_MODE, i(0), i(0), i(0), 0);
    add(ZUEUID_PROPERTY_LAMP_INTENSITY, i(0), i(0), i(10000));
    add(ZUEUID_PROPERTY_LAMP_MODE, i(0), i(0), i(0), 0);
    add(ZUEUID_PROPERTY_SNAPSHOT_FLASH_MODE2, i(0), i(0), i(2));
    add(ZUEUID_PROPERTY_SNAPSHOT_FLASH_STATE, i(0), i(0), i(12));
    add(ZUEUID_PROPERTY_ZOOM_MAGNIFICATION, Float(1), Float(1), Float(4));
  }

  FakeEngineConfig config_;
  PropertiesFace properties_;
  std::vector<std::unique_ptr<FakePort>> ports_;
  std::atomic<int32_t> refs_{0};
  std::mutex lock_;
  std::vector<std::string> calls_;
  std::map<uint32_t, FakeProperty> props_;
  std::vector<uint32_t> propertiesSet_;
  bool initialized_ = false;
  uint32_t initializedWith_ = 0;
  uint32_t focusControl_ = 0;
};

int32_t FakePort::AddRef() { return engine_->AddRef(); }
int32_t FakePort::Release() { return engine_->Release(); }
PvlResult FakePort::QueryInterface(ZUEUID iid, void** out) {
  if (!out) return PVL_E_NULLPTR;
  if (iid == ZUEUID_IFACE_CAMERA_PORT || iid == ZUEUID_IFACE_BASE) {
    AddRef();
    *out = static_cast<ICameraPort*>(this);
    return PVL_OK;
  }
  if ((iid == ZUEUID_IFACE_PROPERTIES_ALT || iid == ZUEUID_IFACE_PROPERTIES) &&
      spec_.type == ZUEUID_CAMERA_PORT_MAIN_IMAGE) {
    AddRef();
    *out = static_cast<IProperties*>(this);
    return PVL_OK;
  }
  return PVL_E_UNSUPPORTED;
}

int32_t PropertiesFace::AddRef() { return engine_->AddRef(); }
int32_t PropertiesFace::Release() { return engine_->Release(); }
PvlResult PropertiesFace::QueryInterface(ZUEUID iid, void** out) { return engine_->QueryInterface(iid, out); }

PvlResult PropertiesFace::GetProperty(uint32_t id, PvlValueRecord* value) {
  std::lock_guard<std::mutex> g(engine_->lock_);
  auto it = engine_->props_.find(id);
  if (!value) return PVL_E_NULLPTR;
  if (it == engine_->props_.end()) return PVL_E_BADARG;
  *value = it->second.value;
  return PVL_OK;
}

PvlResult PropertiesFace::SetProperty(uint32_t id, const PvlValueRecord* value) {
  std::lock_guard<std::mutex> g(engine_->lock_);
  auto it = engine_->props_.find(id);
  if (!value) return PVL_E_NULLPTR;
  if (it == engine_->props_.end()) return PVL_E_BADARG;
  it->second.value = *value;
  engine_->propertiesSet_.push_back(id);
  return PVL_OK;
}

PvlResult PropertiesFace::GetProperties(CPvlPropertyDesc* descs, uint32_t count, PvlResult* results) {
  if (!descs && count) return PVL_E_NULLPTR;
  std::lock_guard<std::mutex> g(engine_->lock_);
  PvlResult first = PVL_OK;
  for (uint32_t n = 0; n < count; ++n) {
    // One driver record at a time: the descriptor's head.
    auto* head = reinterpret_cast<PvlPropertyDescHead*>(reinterpret_cast<uint8_t*>(descs) + n * sizeof(CPvlPropertyDesc));
    auto it = engine_->props_.find(head->id);
    PvlResult r = it == engine_->props_.end() ? PVL_E_BADARG : PVL_OK;
    if (r == PVL_OK) {
      head->values[0] = it->second.value;
      head->values[1] = it->second.minimum;
      head->values[2] = it->second.maximum;
      head->attribute = it->second.mode;
    }
    if (results) results[n] = r;
    if (r != PVL_OK && first == PVL_OK) first = r;
  }
  return first;
}

PvlResult PropertiesFace::SetProperties(const PvlPropertyValueRecord* records, uint32_t count) {
  if (!records && count) return PVL_E_NULLPTR;
  std::lock_guard<std::mutex> g(engine_->lock_);
  for (uint32_t n = 0; n < count; ++n) {
    auto it = engine_->props_.find(records[n].id);
    if (it == engine_->props_.end()) return PVL_E_BADARG;
    if (it->second.setResult) return it->second.setResult;
  }
  for (uint32_t n = 0; n < count; ++n) {
    FakeProperty& p = engine_->props_[records[n].id];
    p.value = records[n].value;
    p.mode = records[n].mode;
    engine_->propertiesSet_.push_back(records[n].id);
  }
  return PVL_OK;
}

std::mutex g_installLock;
std::unique_ptr<Engine> g_engine;
std::vector<std::unique_ptr<Engine>> g_retired;  // kept: a leaked reference must not crash the test

int32_t Factory(IEnv*, ZUEUID, void*, void** out) {
  std::lock_guard<std::mutex> g(g_installLock);
  if (!out || !g_engine) return PVL_E_NOTSUPPORTED;
  g_engine->AddRef();
  *out = static_cast<ICameraEngine*>(g_engine.get());
  return PVL_OK;
}

Engine* Current() {
  std::lock_guard<std::mutex> g(g_installLock);
  return g_engine.get();
}

}  // namespace

CameraPortFormat Nv21Format(uint32_t width, uint32_t height, uint32_t intervalUs) {
  CameraPortFormat f{};
  f.idColorSpace = ZUEUID_COLORSPACE_YUV;
  f.FourCC = CAMERA_FOURCC_NV21;
  f.Depth = 12;
  f.Width = width;
  f.Height = height;
  f.HorizontalSampling = f.VerticalSampling = 2;
  f.Stride = width;
  f.FrameInterval = intervalUs;
  f.ClipRight = int32_t(width);
  f.ClipBottom = int32_t(height);
  return f;
}

std::vector<FakePortSpec> DefaultPorts() {
  CameraPortFormat jpeg = Nv21Format(2592, 1944, 200000);
  jpeg.FourCC = CAMERA_FOURCC_IJPG;
  jpeg.Depth = 8;
  CameraPortFormat raw = jpeg;
  raw.FourCC = 0;
  raw.Depth = 10;
  return {
      {ZUEUID_CAMERA_PORT_VIDEO, {Nv21Format(1280, 960), Nv21Format(640, 480), Nv21Format(320, 240)}},
      {ZUEUID_CAMERA_PORT_VIDEO, {Nv21Format(640, 480)}},
      {ZUEUID_CAMERA_PORT_MAIN_IMAGE, {jpeg, raw}},
      {ZUEUID_CAMERA_PORT_THUMBNAIL, {Nv21Format(160, 120)}},
  };
}

void FakeCameraEngine::Install(const FakeEngineConfig& config) {
  {
    std::lock_guard<std::mutex> g(g_installLock);
    if (g_engine) g_retired.push_back(std::move(g_engine));
    g_engine = std::make_unique<Engine>(config);
  }
  OrbhostTest_RegisterClass(ZUEUID_CLASS_CAMERAENGINE, &Factory);
}

void FakeCameraEngine::Uninstall() {
  OrbhostTest_UnregisterClass(ZUEUID_CLASS_CAMERAENGINE);
  std::lock_guard<std::mutex> g(g_installLock);
  if (g_engine) g_retired.push_back(std::move(g_engine));
}

std::vector<std::string> FakeCameraEngine::Calls() {
  Engine* e = Current();
  if (!e) return {};
  std::lock_guard<std::mutex> g(e->lock_);
  return e->calls_;
}

int FakeCameraEngine::CallCount(const std::string& name) {
  int n = 0;
  for (const std::string& c : Calls()) n += c == name;
  return n;
}

void FakeCameraEngine::ClearCalls() {
  Engine* e = Current();
  if (!e) return;
  std::lock_guard<std::mutex> g(e->lock_);
  e->calls_.clear();
  e->propertiesSet_.clear();
}

int32_t FakeCameraEngine::OutsideReferences() {
  Engine* e = Current();
  return e ? e->refs_.load() : 0;
}

bool FakeCameraEngine::PropertyValue(uint32_t id, PvlValueRecord* value, uint32_t* mode) {
  Engine* e = Current();
  if (!e) return false;
  std::lock_guard<std::mutex> g(e->lock_);
  auto it = e->props_.find(id);
  if (it == e->props_.end()) return false;
  *value = it->second.value;
  if (mode) *mode = it->second.mode;
  return true;
}

std::vector<uint32_t> FakeCameraEngine::PropertiesSet() {
  Engine* e = Current();
  if (!e) return {};
  std::lock_guard<std::mutex> g(e->lock_);
  return e->propertiesSet_;
}

void FakeCameraEngine::SetPropertyResult(uint32_t id, PvlResult result) {
  Engine* e = Current();
  if (!e) return;
  std::lock_guard<std::mutex> g(e->lock_);
  e->props_[id].setResult = result;
}

bool FakeCameraEngine::StillPortValue(uint32_t id, uint32_t* value) {
  Engine* e = Current();
  if (!e) return false;
  for (auto& p : e->ports_) {
    uint32_t type = 0;
    p->GetPortType(&type);
    if (type == ZUEUID_CAMERA_PORT_MAIN_IMAGE) return p->Value(id, value);
  }
  return false;
}

void FakeCameraEngine::SetGetPortsResult(PvlResult result) {
  if (Engine* e = Current()) e->config_.getPortsResult = result;
}

void FakeCameraEngine::SetInitializeResult(PvlResult result) {
  if (Engine* e = Current()) e->config_.initializeResult = result;
}

bool FakeCameraEngine::Initialized() {
  Engine* e = Current();
  return e && e->initialized_;
}

uint32_t FakeCameraEngine::LastFocusSignalControl() {
  Engine* e = Current();
  return e ? e->focusControl_ : 0;
}

}  // namespace camera::test
