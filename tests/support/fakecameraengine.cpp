// The fake camera engine: one object per install with an engine face, a property
// face and four ports, counting the references others hold.
#include "fakecameraengine.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <thread>

#include "cpvlmediabuffer.h"
#include "cpvlvariant.h"
#include "ijpegservice.h"
#include "isignalqueue.h"
#include "orbhost_test.h"

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

// A port: its format, the pool the driver hands it, and a queue of frames that a
// producer fills from that pool (video ports: one frame per interval while the
// engine runs video; the main-image port: one JPEG per still). Its property face
// carries the two frame counters and, for the main-image port, the JPEG settings
// and the EXIF tags a client declares.
class FakePort final : public ICameraPort, public IProperties {
 public:
  FakePort(Engine* engine, FakePortSpec spec) : engine_(engine), spec_(std::move(spec)) {
    if (!spec_.formats.empty()) format_ = spec_.formats[0];
    values_[ZUEUID_PROPERTY_PORT_FRAME_COUNT] = Int(PVL_VT_UINT32, 0);
    values_[ZUEUID_PROPERTY_PORT_STATUS_2] = Int(PVL_VT_UINT32, 0);
  }
  ~FakePort() {
    std::lock_guard<std::mutex> g(lock_);
    stopping_ = true;
    wake_.notify_all();
    if (producer_.joinable()) producer_.detach();
  }
  int32_t AddRef() override;
  int32_t Release() override;
  PvlResult QueryInterface(ZUEUID iid, void** out) override;
  PvlResult GetPortType(uint32_t* type) override {
    if (!type) return PVL_E_NULLPTR;
    *type = spec_.type;
    return PVL_OK;
  }
  PvlResult GetFormat(CameraPortFormat* format) override {
    std::lock_guard<std::mutex> g(lock_);
    if (!format) return PVL_E_NULLPTR;
    *format = format_;
    return PVL_OK;
  }
  PvlResult SetFormat(const CameraPortFormat* format) override {
    if (!format) return PVL_E_NULLPTR;
    std::lock_guard<std::mutex> g(lock_);
    if (format->Width == 0 || format->Height == 0) return PVL_E_BADARG;
    format_ = *format;
    formatsSet_.push_back(*format);
    return PVL_OK;
  }
  PvlResult GetBufferRequirements(BufferRequest* records, uint32_t capacity, uint32_t* count) override {
    if (!count || (!records && capacity)) return PVL_E_NULLPTR;
    *count = 1;
    if (records && capacity) {
      std::lock_guard<std::mutex> g(lock_);
      BufferRequest r{};
      bool still = spec_.type == ZUEUID_CAMERA_PORT_MAIN_IMAGE;
      r.count = still ? 1 : 4;
      r.size = FrameBytes();
      r.source = still ? ZUEUID_BUFFER_SOURCE_CONTIGUOUS : 0x0106E42Au;
      r.alignment = 5;
      records[0] = r;
    }
    return PVL_OK;
  }
  PvlResult GetBufferAllocator(ICameraBufferManager**) override { return PVL_E_UNSUPPORTED; }
  PvlResult SetBufferManager(ICameraBufferManager* manager) override {
    if (!manager) return PVL_E_NULLPTR;
    std::lock_guard<std::mutex> g(lock_);
    manager->AddRef();
    if (manager_) manager_->Release();
    manager_ = manager;
    return PVL_OK;
  }
  PvlResult GetSupportedFormats(CameraPortFormat* formats, uint32_t capacity, uint32_t* count) override {
    if (!count) return PVL_E_BADARG;
    *count = uint32_t(spec_.formats.size());
    for (uint32_t i = 0; formats && i < capacity && i < spec_.formats.size(); ++i) formats[i] = spec_.formats[i];
    return PVL_OK;
  }
  PvlResult Start() override {
    std::unique_lock<std::mutex> g(lock_);
    ++starts_;
    if (started_) return PVL_OK;
    started_ = true;
    stopping_ = false;
    if (!producer_.joinable()) producer_ = std::thread([this] { Produce(); });
    return PVL_OK;
  }
  PvlResult Stop() override {
    std::thread producer;
    {
      std::lock_guard<std::mutex> g(lock_);
      ++stops_;
      started_ = false;
      stopping_ = true;
      for (IPvlMediaBuffer* f : queue_) f->Release();
      queue_.clear();
      producer.swap(producer_);
      if (manager_) manager_->Release();
      manager_ = nullptr;
    }
    wake_.notify_all();
    if (producer.joinable()) producer.join();
    return PVL_OK;
  }
  PvlResult GetNextFrame(IPvlMediaBuffer** buffer) override {
    if (!buffer) return PVL_E_NULLPTR;
    std::unique_lock<std::mutex> g(lock_);
    if (!started_) return PVL_E_NOTREADY;
    wake_.wait(g, [&] { return !queue_.empty() || !started_; });
    if (queue_.empty()) return PVL_E_STOPPED;
    *buffer = queue_.front();
    queue_.erase(queue_.begin());
    return PVL_OK;
  }
  PvlResult Attach(IVideoOutput*, ICameraSensorService*) override { return PVL_E_UNSUPPORTED; }
  PvlResult SetMode(uint8_t) override { return PVL_OK; }
  uint8_t IsStarted() override { return started_ ? 1 : 0; }
  PvlResult GetOutput(IVideoOutput**) override { return PVL_E_UNSUPPORTED; }
  PvlResult QueueFrame(IPvlMediaBuffer*) override { return PVL_E_UNSUPPORTED; }
  ICameraPort* GetProxy() override { return nullptr; }
  IPvlBase* SetProxyOuter(IPvlBase*) override { return nullptr; }
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
    if (!values_.count(id) || id == ZUEUID_PROPERTY_PORT_FRAME_COUNT || id == ZUEUID_PROPERTY_PORT_STATUS_2)
      return PVL_E_BADARG;
    values_[id] = *value;
    if (exifTags_.count(id)) exifTags_[id] = Describe(*value);
    return PVL_OK;
  }
  PvlResult AddProperty(const CPvlPropertyDesc* desc, uint32_t group, uint32_t) override {
    if (!desc || spec_.type != ZUEUID_CAMERA_PORT_MAIN_IMAGE) return PVL_E_UNSUPPORTED;
    auto* head = reinterpret_cast<const PvlPropertyDescHead*>(desc);
    std::lock_guard<std::mutex> g(lock_);
    if (group == ZUEUID_PROPERTY_GROUP_EXIF) exifTags_[head->id] = "";
    values_[head->id] = head->values[0];
    return PVL_OK;
  }
  PvlResult Reserved7(uint32_t, uint32_t) override { return PVL_E_UNSUPPORTED; }
  PvlResult Reserved8(uint32_t, uint32_t) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetProperties(CPvlPropertyDesc*, uint32_t, PvlResult*) override { return PVL_E_UNSUPPORTED; }
  PvlResult SetProperties(const PvlPropertyValueRecord*, uint32_t) override { return PVL_E_UNSUPPORTED; }
  PvlResult SetRanges(const PvlPropertyRangeRecord*, uint32_t) override { return PVL_E_UNSUPPORTED; }
  PvlResult RegisterGroup(CPvlPropertyDesc* const*, uint32_t, uint32_t) override { return PVL_E_UNSUPPORTED; }
  PvlResult Reserved13(uint32_t, uint32_t, uint32_t) override { return PVL_E_UNSUPPORTED; }
  PvlResult Reserved14(uint32_t, uint32_t) override { return PVL_E_UNSUPPORTED; }

  bool Value(uint32_t id, PvlValueRecord* v) {
    std::lock_guard<std::mutex> g(lock_);
    auto it = values_.find(id);
    if (it == values_.end()) return false;
    *v = it->second;
    return true;
  }
  void InitStillProperties() {
    values_[ZUEUID_PROPERTY_JPEG_QUALITY] = Int(PVL_VT_UINT32, 90);
    values_[ZUEUID_PROPERTY_JPEG_THUMBNAIL_QUALITY] = Int(PVL_VT_UINT32, 90);
    values_[ZUEUID_PROPERTY_JPEG_ROTATION] = Int(PVL_VT_INT32, 0);
    values_[ZUEUID_PROPERTY_JPEG_OPTION] = Int(PVL_VT_UINT8, 0);
    PvlValueRecord crop{};
    crop.type = PVL_VT_RECT;
    values_[ZUEUID_PROPERTY_JPEG_MAIN_CROP] = crop;
  }
  // One still (the main-image port) or one frame with these times (manual mode).
  bool Deliver(uint64_t t1, uint64_t t2) {
    std::lock_guard<std::mutex> g(lock_);
    return DeliverLocked(t1, t2);
  }
  void RequestStill() {
    std::lock_guard<std::mutex> g(lock_);
    ++stillsWanted_;
    wake_.notify_all();
  }
  void SetVideoRunning(bool running) {
    std::lock_guard<std::mutex> g(lock_);
    videoRunning_ = running;
    wake_.notify_all();
  }
  std::map<uint32_t, std::string> ExifTags() {
    std::lock_guard<std::mutex> g(lock_);
    return exifTags_;
  }
  std::vector<CameraPortFormat> FormatsSet() {
    std::lock_guard<std::mutex> g(lock_);
    return formatsSet_;
  }
  int Starts() { std::lock_guard<std::mutex> g(lock_); return starts_; }
  bool Running() { std::lock_guard<std::mutex> g(lock_); return started_; }
  bool HasManager() { std::lock_guard<std::mutex> g(lock_); return manager_ != nullptr; }
  size_t Queued() { std::lock_guard<std::mutex> g(lock_); return queue_.size(); }

  bool manual = false;
  uint32_t periodMs = 5;

 private:
  uint32_t FrameBytes() const {
    if (format_.FourCC == CAMERA_FOURCC_IJPG) return format_.Width * format_.Height / 4 + 4096;
    return format_.Width * format_.Height * 3 / 2;
  }
  // A value as the test reads it back: text for strings, numbers otherwise.
  static std::string Describe(const PvlValueRecord& v) {
    if (v.type == PVL_VT_STRING || v.type == PVL_VT_BLOCK) {
      const char* p = static_cast<const char*>(v.payload.array.data);
      return p ? std::string(p, strnlen(p, size_t(v.payload.array.filled))) : std::string();
    }
    if (v.type == PVL_VT_ARRAY) {
      std::string s;
      auto* e = static_cast<const PvlValueRecord*>(v.payload.array.data);
      for (int32_t i = 0; e && i < v.payload.array.filled; ++i) s += (i ? "," : "") + std::to_string(e[i].payload.u16);
      return s;
    }
    return std::to_string(v.type == PVL_VT_UINT16 ? v.payload.u16 : v.payload.u32);
  }
  // Fills a buffer of the driver's pool: an NV21 ramp that moves with the frame
  // number, or a small JPEG (SOI, a comment naming the frame, EOI).
  bool DeliverLocked(uint64_t t1, uint64_t t2) {
    if (!manager_) return false;
    IPvlMediaBuffer* buffer = nullptr;
    if (manager_->GetBuffer(1, &buffer) != PVL_OK || !buffer) {
      ++values_[ZUEUID_PROPERTY_PORT_STATUS_2].payload.u32;
      return false;
    }
    uint64_t address = 0;
    uint32_t capacity = 0;
    buffer->GetVirtualAddress(&address);
    buffer->GetCapacity(&capacity);
    auto* p = reinterpret_cast<uint8_t*>(uintptr_t(address));
    const uint32_t n = ++values_[ZUEUID_PROPERTY_PORT_FRAME_COUNT].payload.u32;
    uint32_t size = 0;
    if (format_.FourCC == CAMERA_FOURCC_IJPG) {
      std::string comment = "fake still " + std::to_string(n);
      const uint8_t head[] = {0xFF, 0xD8, 0xFF, 0xFE, 0, uint8_t(comment.size() + 2)};
      std::memcpy(p, head, sizeof head);
      std::memcpy(p + sizeof head, comment.data(), comment.size());
      size = uint32_t(sizeof head + comment.size());
      p[size++] = 0xFF;
      p[size++] = 0xD9;
    } else {
      const uint32_t w = format_.Width, h = format_.Height;
      size = w * h * 3 / 2;
      if (size > capacity) size = capacity;
      for (uint32_t y = 0; y < h && (y + 1) * w <= size; ++y)
        for (uint32_t x = 0; x < w; ++x) p[y * w + x] = uint8_t(x + y + n);
      for (uint32_t i = w * h; i < size; ++i) p[i] = (i & 1) ? 0x40 : 0xC0;  // V, U
    }
    buffer->SetActualSize(size);
    buffer->SetTime1(t1);
    buffer->SetTime2(t2);
    queue_.push_back(buffer);
    wake_.notify_all();
    return true;
  }
  void Produce() {
    std::unique_lock<std::mutex> g(lock_);
    uint64_t t = 1000000;
    while (!stopping_) {
      if (manual) {
        wake_.wait(g, [&] { return stopping_; });
        break;
      }
      // The still ports deliver per still: the main image, and the review image on a
      // thumbnail port its client started.
      if (spec_.type == ZUEUID_CAMERA_PORT_MAIN_IMAGE || spec_.type == ZUEUID_CAMERA_PORT_THUMBNAIL) {
        wake_.wait(g, [&] { return stopping_ || stillsWanted_ > 0; });
        if (stopping_) break;
        if (DeliverLocked(t, t + 1)) --stillsWanted_;
        else wake_.wait_for(g, std::chrono::milliseconds(2));
        continue;
      }
      wake_.wait_for(g, std::chrono::milliseconds(periodMs), [&] { return stopping_; });
      if (stopping_) break;
      if (!videoRunning_) continue;
      const uint64_t interval = uint64_t(format_.FrameInterval ? format_.FrameInterval : 33333) * 10;
      DeliverLocked(t, t + interval);
      t += interval;
    }
  }

  Engine* engine_;
  FakePortSpec spec_;
  std::mutex lock_;
  std::condition_variable wake_;
  std::map<uint32_t, PvlValueRecord> values_;
  std::map<uint32_t, std::string> exifTags_;
  std::vector<CameraPortFormat> formatsSet_;
  CameraPortFormat format_{};
  ICameraBufferManager* manager_ = nullptr;
  std::vector<IPvlMediaBuffer*> queue_;
  std::thread producer_;
  bool started_ = false;
  bool stopping_ = false;
  bool videoRunning_ = false;
  int stillsWanted_ = 0;
  int starts_ = 0;
  int stops_ = 0;
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
      ports_.back()->manual = config_.manualFrames;
      ports_.back()->periodMs = config_.framePeriodMs;
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
  PvlResult StartFocus(uint8_t mode, uintptr_t control) override {
    Record(mode ? "StartFocus(continuous)" : "StartFocus");
    focusControl_ = control;
    PvlResult r = Answer("StartFocus");
    if (r == PVL_OK && control && config_.focusEndsAtOnce)
      reinterpret_cast<ISignalControl*>(control)->Fire();
    return r;
  }
  PvlResult StopFocus() override { return Record("StopFocus"), Answer("StopFocus"); }
  PvlResult Answer(const std::string& call) {
    std::lock_guard<std::mutex> g(lock_);
    auto it = answers_.find(call);
    return it == answers_.end() ? PVL_OK : it->second;
  }
  PvlResult StartVideo() override {
    Record("StartVideo");
    for (auto& p : ports_) p->SetVideoRunning(true);
    return PVL_OK;
  }
  PvlResult StartStill(uint32_t) override {
    Record("StartStill");
    for (auto& p : ports_) {
      uint32_t type = 0;
      p->GetPortType(&type);
      if (type == ZUEUID_CAMERA_PORT_MAIN_IMAGE || (type == ZUEUID_CAMERA_PORT_THUMBNAIL && p->Running()))
        p->RequestStill();
    }
    return PVL_OK;
  }
  PvlResult Stop() override {
    Record("Stop");
    if (config_.stopResult) return config_.stopResult;
    for (auto& p : ports_) p->SetVideoRunning(false);
    return PVL_OK;
  }
  PvlResult StartPreSnapshotFlash(uintptr_t) override { return Record("StartPreSnapshotFlash"), PVL_OK; }
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
  std::map<std::string, PvlResult> answers_;
  std::vector<CPvlRect> focusRects_;
  bool initialized_ = false;
  uint32_t initializedWith_ = 0;
  uintptr_t focusControl_ = 0;
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
  if (iid == ZUEUID_IFACE_PROPERTIES_ALT || iid == ZUEUID_IFACE_PROPERTIES) {
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
  if (id == ZUEUID_PROPERTY_FOCUS_RECT_GRID && value) {
    value->type = PVL_VT_8BYTES;
    value->payload.u32 = 16;  // a 16 x 16 grid
    value->payload.bytes[4] = 16;
    return PVL_OK;
  }
  if (id == ZUEUID_PROPERTY_FOCUS_RECTS && value) {
    // An empty array asks for the count; a sized one is filled.
    auto* out = static_cast<PvlValueRecord*>(value->payload.array.data);
    int32_t n = int32_t(engine_->focusRects_.size());
    if (value->payload.array.capacity == 0 || !out) {
      value->payload.array.filled = n;
      return PVL_OK;
    }
    for (int32_t i = 0; i < n && i < value->payload.array.capacity; ++i) out[i].payload.rect = engine_->focusRects_[i];
    value->payload.array.filled = n;
    return PVL_OK;
  }
  auto it = engine_->props_.find(id);
  if (!value) return PVL_E_NULLPTR;
  if (it == engine_->props_.end()) return PVL_E_BADARG;
  *value = it->second.value;
  return PVL_OK;
}

PvlResult PropertiesFace::SetProperty(uint32_t id, const PvlValueRecord* value) {
  std::lock_guard<std::mutex> g(engine_->lock_);
  if (id == ZUEUID_PROPERTY_FOCUS_RECTS && value && value->type == PVL_VT_ARRAY) {
    engine_->focusRects_.clear();
    auto* in = static_cast<const PvlValueRecord*>(value->payload.array.data);
    for (int32_t i = 0; in && i < value->payload.array.filled; ++i) engine_->focusRects_.push_back(in[i].payload.rect);
    engine_->propertiesSet_.push_back(id);
    return PVL_OK;
  }
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

std::vector<FakePortSpec> DefaultPorts() {
  CameraPortFormat jpeg = Nv21Format(2592, 1944, 200000);
  jpeg.FourCC = CAMERA_FOURCC_IJPG;
  jpeg.Depth = 8;
  jpeg.Stride = jpeg.Width;  // the still formats' stride as the fake has always given it
  CameraPortFormat raw = jpeg;
  raw.FourCC = 0;
  raw.Depth = 10;
  return {
      {ZUEUID_CAMERA_PORT_VIDEO,
       {Nv21Format(1280, 960, kFakeFrameIntervalUs), Nv21Format(640, 480, kFakeFrameIntervalUs),
        Nv21Format(320, 240, kFakeFrameIntervalUs)}},
      {ZUEUID_CAMERA_PORT_VIDEO, {Nv21Format(640, 480, kFakeFrameIntervalUs)}},
      {ZUEUID_CAMERA_PORT_MAIN_IMAGE, {jpeg, raw}},
      // The thumbnail port shares the preview's output: the same sizes.
      {ZUEUID_CAMERA_PORT_THUMBNAIL,
       {Nv21Format(1280, 960, kFakeFrameIntervalUs), Nv21Format(640, 480, kFakeFrameIntervalUs),
        Nv21Format(320, 240, kFakeFrameIntervalUs)}},
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

namespace {
FakePort* PortOf(Engine* e, uint32_t type, uint32_t nth = 0) {
  if (!e) return nullptr;
  for (auto& p : e->ports_) {
    uint32_t t = 0;
    p->GetPortType(&t);
    if (t == type && nth-- == 0) return p.get();
  }
  return nullptr;
}
FakePort* PortForPin(uint32_t pin) {
  Engine* e = Current();
  switch (pin) {
    case 0: return PortOf(e, ZUEUID_CAMERA_PORT_VIDEO, 1);
    case 1: return PortOf(e, ZUEUID_CAMERA_PORT_MAIN_IMAGE);
    case 2: return PortOf(e, ZUEUID_CAMERA_PORT_VIDEO, 0);
    case 3: return PortOf(e, ZUEUID_CAMERA_PORT_THUMBNAIL);
  }
  return nullptr;
}
}  // namespace

bool FakeCameraEngine::StillPortValue(uint32_t id, uint32_t* value) {
  PvlValueRecord v{};
  if (!StillPortValue(id, &v)) return false;
  *value = v.payload.u32;
  return true;
}

bool FakeCameraEngine::StillPortValue(uint32_t id, PvlValueRecord* value) {
  FakePort* p = PortForPin(1);
  return p && p->Value(id, value);
}

std::map<uint32_t, std::string> FakeCameraEngine::ExifTags() {
  FakePort* p = PortForPin(1);
  return p ? p->ExifTags() : std::map<uint32_t, std::string>{};
}

bool FakeCameraEngine::DeliverFrame(uint32_t pin, uint64_t time1, uint64_t time2) {
  FakePort* p = PortForPin(pin);
  return p && p->Deliver(time1, time2);
}

std::vector<CameraPortFormat> FakeCameraEngine::FormatsSet(uint32_t pin) {
  FakePort* p = PortForPin(pin);
  return p ? p->FormatsSet() : std::vector<CameraPortFormat>{};
}

int FakeCameraEngine::PortStarts(uint32_t pin) {
  FakePort* p = PortForPin(pin);
  return p ? p->Starts() : 0;
}

bool FakeCameraEngine::PortHasBufferManager(uint32_t pin) {
  FakePort* p = PortForPin(pin);
  return p && p->HasManager();
}

void FakeCameraEngine::SetControlResult(const std::string& call, PvlResult result) {
  Engine* e = Current();
  if (!e) return;
  std::lock_guard<std::mutex> g(e->lock_);
  e->answers_[call] = result;
}

std::vector<CPvlRect> FakeCameraEngine::FocusRects() {
  Engine* e = Current();
  if (!e) return {};
  std::lock_guard<std::mutex> g(e->lock_);
  return e->focusRects_;
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

uintptr_t FakeCameraEngine::LastFocusSignalControl() {
  Engine* e = Current();
  return e ? e->focusControl_ : 0;
}

}  // namespace camera::test
