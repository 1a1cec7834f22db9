// Doubles of the engine's services for the engine's own tests: a sensor
// service, a VFE service (over the frame-plumbing tests' fake video outputs),
// the flash plug-in, the tuning-data service and the tuning server. Each one
// writes what it was asked into one shared call log (so that a test reads the
// order across services) and can be told to fail a named call. They are put in
// place of their classes through the host's test hook; the engine is built
// in debug mode so that it asks for the simulator classes of the sensor and
// VFE services.
#pragma once

#include <stdint.h>

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "camerasettings.h"
#include "enginefakes.h"
#include "icameraengineeventsink.h"
#include "icameraflashservice.h"
#include "icamerasensorservice.h"
#include "ielfs.h"
#include "ivfeservice.h"
#include "tuningdata.h"
#include "tuningdatadouble.h"
#include "tunvex.h"
#include "vfeconfigurerids.h"

namespace enginetest {

// The calls of every double, in order; "Service.Call(argument)".
struct CallLog {
  std::vector<std::string> calls;
  std::map<std::string, PvlResult> failures;  // call text -> result

  PvlResult Record(const std::string& call) {
    calls.push_back(call);
    auto it = failures.find(call);
    return it == failures.end() ? PVL_OK : it->second;
  }
  bool Has(const std::string& call) const;
  size_t Count(const std::string& call) const;
  // Index of the first call, or -1.
  int IndexOf(const std::string& call) const;
};

std::string Hex(uint32_t value);

// A configurer of a service: Configure records "<owner>.Configure(0x...)".
class ConfigurerDouble final : public ISnapshotConfigCommand {
 public:
  ConfigurerDouble(CallLog* log, std::string owner, uint32_t id, bool snapshotFace)
      : m_log(log), m_owner(std::move(owner)), m_id(id), m_snapshotFace(snapshotFace) {}
  int32_t AddRef() override { return ++m_refs; }
  int32_t Release() override {
    int32_t n = --m_refs;
    if (n == 0) delete this;
    return n;
  }
  PvlResult QueryInterface(ZUEUID iid, void** out) override;
  PvlResult Configure() override { return m_log->Record(m_owner + ".Configure(" + Hex(m_id) + ")"); }
  PvlResult GetCaptureCount(uint32_t*) override { return PVL_E_UNSUPPORTED; }
  PvlResult SetCaptureCount(int32_t count) override {
    return m_log->Record(m_owner + ".SetCaptureCount(" + std::to_string(count) + ")");
  }

 private:
  CallLog* m_log;
  std::string m_owner;
  uint32_t m_id;
  bool m_snapshotFace;
  std::atomic<int32_t> m_refs{0};
};

class SensorDouble final : public Counted<ICameraSensorService> {
 public:
  explicit SensorDouble(CallLog* log) : log(log) {}
  PvlResult QueryInterface(ZUEUID iid, void** out) override;
  PvlResult Initialize(uint32_t sensorClass, IPvlBase* client) override;
  PvlResult Uninitialize() override;
  PvlResult Start() override { return log->Record("Sensor.Start"); }
  PvlResult Stop() override { return log->Record("Sensor.Stop"); }
  PvlResult Reset() override { return log->Record("Sensor.Reset"); }
  PvlResult GetConfigurer(uint32_t configuration, IConfigCommand** out) override;
  PvlResult Suspend() override { return log->Record("Sensor.Suspend"); }
  PvlResult Resume() override { return log->Record("Sensor.Resume"); }
  PvlResult GetSensors(CameraSensorDescriptor* sensors, uint32_t capacity, uint32_t* count) override;
  PvlResult GetCapabilities(SensorCapabilities* out) override;
  PvlResult GetIdentity(SensorIdentity* record) override;
  PvlResult GetOptics(SensorOptics* out) override;
  PvlResult GetExtraInfo(uint32_t*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetOutputFormat(SensorOutputFormat* out) override;
  PvlResult GetTiming(SensorTiming* out, uint32_t) override;
  PvlResult GetGeometry(SensorGeometry*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetModeInfo(SensorModeInfo*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetGainInfo(SensorGainInfo*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetFrameTiming(const SensorFrameTimingRequest*, SensorFrameTimingAnswer*) override {
    return PVL_E_UNSUPPORTED;
  }
  // Counted apart from the call log: the engine's frame watchdog may ask from
  // its own thread.
  PvlResult CheckPresence() override {
    ++presenceChecks;
    return presence.load();
  }

  // Words: 0 on-sensor exposure (1), 2 on-sensor antibanding (1), 4 focus
  // (2 on-sensor, 4 by algorithm, else fixed), 6 on-sensor white balance (1).
  void SetYuv(bool yuv) { format.Words[0] = yuv ? 5 : 3; }
  CallLog* log;
  SensorCapabilities capabilities{};
  SensorOutputFormat format{{3, 0, 0}};
  uint32_t focusStatus = 0;  // 1 done, 2 failed, else still focusing
  std::atomic<PvlResult> presence{PVL_OK};  // CheckPresence's answer
  std::atomic<uint32_t> presenceChecks{0};
  bool initialised = false;
};

class VfeDouble final : public Counted<IVfeService> {
 public:
  VfeDouble(CallLog* log, std::vector<FakeVideoOutput*> outputs) : log(log), outputs(std::move(outputs)) {}
  PvlResult QueryInterface(ZUEUID iid, void** out) override;
  PvlResult Initialize(uint32_t device, IPvlBase* source) override;
  PvlResult Uninitialize() override;
  PvlResult Start() override { return log->Record("Vfe.Start"); }
  PvlResult Stop() override { return log->Record("Vfe.Stop"); }
  PvlResult Reset() override { return log->Record("Vfe.Reset"); }
  PvlResult GetConfigurer(uint32_t configuration, IConfigCommand** out) override;
  PvlResult Suspend() override { return log->Record("Vfe.Suspend"); }
  PvlResult Resume() override { return log->Record("Vfe.Resume"); }
  PvlResult GetOutputs(IVideoOutput** out, int32_t capacity, uint32_t* count) override;
  PvlResult GetLimits(VfeLimits*) override { return PVL_OK; }
  PvlResult SetEventSink(ICameraEngineEventSink* sink) override;

  CallLog* log;
  std::vector<FakeVideoOutput*> outputs;
  CPvlPtr<ICameraEngineEventSink> sink;
  bool initialised = false;
};

// The flash plug-in: its IELFS face and the flash-service face the engine asks it for.
class FlashDouble final : public Counted<IELFS>, public ICameraFlashService {
 public:
  explicit FlashDouble(CallLog* log) : log(log) {}
  int32_t AddRef() override { return Counted<IELFS>::AddRef(); }
  int32_t Release() override { return Counted<IELFS>::Release(); }
  PvlResult QueryInterface(ZUEUID iid, void** out) override;
  // IELFS
  PvlResult Initialize(IPvlBase* client) override;
  PvlResult Configure() override { return log->Record("Flash.Configure"); }
  PvlResult OnStartVideo(const CameraPortFormat*) override { return log->Record("Flash.OnStartVideo"); }
  PvlResult OnFrame(IPvlMediaBuffer*) override { return log->Record("Flash.OnFrame"); }
  PvlResult OnStats(IPvlBase*) override { return PVL_E_UNSUPPORTED; }
  PvlResult OnStopVideo() override { return log->Record("Flash.OnStopVideo"); }
  PvlResult OnStartSnapshot(const CameraPortFormat*, const CameraPortFormat*) override {
    return log->Record("Flash.OnStartSnapshot");
  }
  PvlResult OnSnapshotMainFrame(IPvlMediaBuffer*, uint8_t*) override { return PVL_E_UNSUPPORTED; }
  PvlResult OnSnapshotSecondFrame(IPvlMediaBuffer*, uint8_t*) override { return PVL_E_UNSUPPORTED; }
  PvlResult OnSnapshotStats(IPvlBase*) override { return PVL_E_UNSUPPORTED; }
  PvlResult OnStopSnapshot() override { return log->Record("Flash.OnStopSnapshot"); }
  PvlResult Reserved14(uint32_t, uint32_t) override { return PVL_E_UNSUPPORTED; }
  // ICameraFlashService
  PvlResult Initialize(uint32_t, IPvlBase*) override { return PVL_OK; }
  PvlResult Uninitialize() override { return PVL_OK; }
  PvlResult Start() override { return log->Record("Flash.Start"); }
  PvlResult Stop() override { return log->Record("Flash.Stop"); }
  PvlResult Reset() override { return PVL_OK; }
  PvlResult GetConfigurer(uint32_t, IConfigCommand**) override { return PVL_E_UNSUPPORTED; }
  PvlResult Suspend() override { return log->Record("Flash.Suspend"); }
  PvlResult Resume() override { return log->Record("Flash.Resume"); }
  PvlResult GetFlashDevices(CameraFlashDevice* devices, int32_t capacity, uint32_t* count) override;
  PvlResult GetDeviceType(uint32_t*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetDeviceFlags(uint32_t*) override { return PVL_E_UNSUPPORTED; }
  PvlResult GetDeviceExtra(uint32_t*) override { return PVL_E_UNSUPPORTED; }
  PvlResult SetDeviceState(uint32_t, uint32_t) override { return PVL_E_UNSUPPORTED; }

  CallLog* log;
};

// A statistics plug-in of the configuration (any role): records under its name.
class PluginDouble final : public Counted<IELFS> {
 public:
  PluginDouble(CallLog* log, std::string name) : log(log), name(std::move(name)) {}
  PvlResult QueryInterface(ZUEUID iid, void** out) override;
  PvlResult Initialize(IPvlBase*) override { return log->Record(name + ".Initialize"); }
  PvlResult Configure() override { return log->Record(name + ".Configure"); }
  PvlResult OnStartVideo(const CameraPortFormat*) override { return log->Record(name + ".OnStartVideo"); }
  PvlResult OnFrame(IPvlMediaBuffer*) override { return log->Record(name + ".OnFrame"); }
  PvlResult OnStats(IPvlBase*) override { return log->Record(name + ".OnStats"); }
  PvlResult OnStopVideo() override { return log->Record(name + ".OnStopVideo"); }
  PvlResult OnStartSnapshot(const CameraPortFormat*, const CameraPortFormat*) override { return PVL_OK; }
  PvlResult OnSnapshotMainFrame(IPvlMediaBuffer*, uint8_t*) override { return PVL_OK; }
  PvlResult OnSnapshotSecondFrame(IPvlMediaBuffer*, uint8_t*) override { return PVL_OK; }
  PvlResult OnSnapshotStats(IPvlBase*) override { return PVL_OK; }
  PvlResult OnStopSnapshot() override { return PVL_OK; }
  PvlResult Reserved14(uint32_t, uint32_t) override { return PVL_E_UNSUPPORTED; }

  CallLog* log;
  std::string name;
};

class TuningDataDouble final : public Counted<camera::test::TuningDataSlots> {
 public:
  explicit TuningDataDouble(CallLog* log) : log(log) {}
  PvlResult QueryInterface(ZUEUID iid, void** out) override;
  PvlResult SelectTuningData(ZUEUID providerClass) override {
    return log->Record("TuningData.Select(" + Hex(providerClass) + ")");
  }

  // The best-shot override face: records the scene's row.
  class BestShotFace final : public IBestShotTuning {
   public:
    explicit BestShotFace(TuningDataDouble* owner) : m_owner(owner) {}
    int32_t AddRef() override { return m_owner->AddRef(); }
    int32_t Release() override { return m_owner->Release(); }
    PvlResult QueryInterface(ZUEUID iid, void** out) override { return m_owner->QueryInterface(iid, out); }
    PvlResult SetBestShotOverride(uint8_t enable, const BestShotRecord* record) override {
      return m_owner->log->Record("TuningData.Override(" + std::to_string(enable && record ? record->Words[0] : 0) +
                                  ")");
    }

   private:
    TuningDataDouble* m_owner;
  };

  CallLog* log;
  BestShotFace bestShot{this};
};

class TunvexDouble final : public Counted<ITunvex> {
 public:
  explicit TunvexDouble(CallLog* log) : log(log) {}
  PvlResult QueryInterface(ZUEUID iid, void** out) override;
  PvlResult Register(IRuntimeTuning*, const char*) override { return PVL_OK; }
  PvlResult Start() override { return log->Record("Tunvex.Start"); }
  PvlResult SendDataToJPEG(char*, uint32_t, uint32_t* needed, uint32_t* written) override;
  PvlResult Unregister(IRuntimeTuning*) override { return PVL_OK; }

  CallLog* log;
};

// The doubles of one test, registered for their classes while it lives.
// Outputs: raw 2592 x 1944 (id 0) and YUV outputs 1 (1296 x 972) and 2
// (640 x 480); `extraYuv` adds more YUV outputs (ids 3...).
class EngineDoubles {
 public:
  explicit EngineDoubles(uint32_t extraYuv = 0);
  ~EngineDoubles();
  EngineDoubles(const EngineDoubles&) = delete;
  EngineDoubles& operator=(const EngineDoubles&) = delete;

  // A class answers `result` instead of its double (e.g. 3: the class does not exist).
  void FailCreation(ZUEUID clsid, PvlResult result) { creationFailures[clsid] = result; }
  // How often the class was asked for.
  uint32_t Creations(ZUEUID clsid) const;
  // References the engine still holds on the doubles (0 when it let all go).
  int32_t HeldReferences() const;

  CallLog log;
  std::vector<std::unique_ptr<FakeVideoOutput>> outputs;
  SensorDouble sensor{&log};
  std::unique_ptr<VfeDouble> vfe;
  FlashDouble flash{&log};
  TuningDataDouble tuning{&log};
  TunvexDouble tunvex{&log};
  std::map<ZUEUID, std::unique_ptr<PluginDouble>> plugins;  // by class
  std::map<ZUEUID, PvlResult> creationFailures;
  std::map<ZUEUID, uint32_t> creations;
};

// A configuration file with one sensor entry for `sensorClass` (its default
// tuning data and best-shot sets) and the given plug-ins, written into the
// image; returns its fs:/ path.
struct ElfsLine {
  uint32_t classId;
  const char* role;
};
std::string WriteEngineConfig(const char* name, uint32_t sensorClass, uint32_t defaultTuning,
                              const std::vector<std::pair<uint32_t, uint32_t>>& bestShots,
                              const std::vector<ElfsLine>& elfs);

constexpr uint32_t kSensorClass = 0x0108aed0u;
constexpr uint32_t kDefaultTuning = 0x0108aeceu;

}  // namespace enginetest
