// CCameraEngine: the camera engine, one per process. It owns everything the
// camera needs (configuration, front end, state machine, sensor and VFE
// services, flash and statistics plug-ins, ports, tuning data, the settings
// objects and the tuning server) and does each piece of work the engine states
// ask for: initialise the services, start and stop the sensor, video and
// stills, route frames and statistics, apply properties. It never decides
// whether an operation is allowed now: the state machine does, because every
// operation but the frame path runs inside one of its events, under its lock.
//
// Clients get the front end's faces only. The VFE service gets the event sink
// face, on which its receive thread reports frames, statistics and the end of
// a snapshot; the engine turns each report into a state-machine event.
//
// The engine's reference count lives in the host's singleton registry (one
// engine per process, whichever of the two classes was asked for).
#pragma once

#include <stdint.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "csensorwatchdog.h"
#include "icameraengineeventsink.h"
#include "icameraengineinternal.h"
#include "icameraportformatsource.h"
#include "icamerasensorservice.h"
#include "ielfs.h"
#include "ipropertystore.h"
#include "isingletonregistry.h"
#include "ivfeservice.h"
#include "tuningdata.h"
#include "tunvex.h"

// The parts the engine holds are other components' classes; their headers are
// the engine's sources' business (and a test's that looks at a part).
class CCameraBestShot;
class CCameraELFSManager;
class CCameraEngineConfig;
class CCameraEngineFrontEnd;
class CCameraPortManager;
class CEngineSettings;
class CEngineStateMachine;
class CSensorInfoProxy;
class CUserData;
class CUserDataAggregate;

class CCameraEngine final : public ICameraEngineInternal, public ICameraEngineEventSink {
 public:
  // The class switch's entries: the one engine of the process (made on first
  // use, the debug one with the services' simulator classes), as its front
  // end's control face with one reference.
  static int32_t CreateInstance(IEnv* env, ZUEUID clsid, void* argument, void** out);
  static int32_t CreateDebugInstance(IEnv* env, ZUEUID clsid, void* argument, void** out);

  // IPvlBase (both faces): the count is the registry's.
  int32_t AddRef() override;
  int32_t Release() override;
  // The internal face, the event sink; 20 otherwise.
  PvlResult QueryInterface(ZUEUID iid, void** out) override;

  // ICameraEngineInternal.
  PvlResult Initialize() override;
  PvlResult Uninitialize() override;
  PvlResult StartSensor() override;
  PvlResult StopSensor() override;
  PvlResult OnStartVideo() override;
  PvlResult OnStopVideo() override;
  PvlResult OnStartSnapshot() override;
  PvlResult OnStopSnapshot() override;
  PvlResult OnReserved() override { return PVL_E_UNSUPPORTED; }
  PvlResult SetSnapshotCount(uint32_t count) override;
  PvlResult SetCameraId(uint32_t cameraId) override;
  PvlResult OnApplyPropertyYuv(uint32_t propertyId) override;
  PvlResult OnApplyProperty(uint32_t propertyId) override;
  PvlResult OnStartFocus(uint8_t continuous, ICameraSettingsListener* listener) override;
  PvlResult OnStopFocus() override;
  PvlResult GetPorts(ICameraPort** ports, uint32_t capacity, uint32_t* count) override;
  PvlResult OnFrameAvailable(uint32_t outputId, IPvlMediaBuffer* buffer) override;
  PvlResult OnSnapshotFrameAvailable(uint32_t outputId, IPvlMediaBuffer* buffer) override;
  PvlResult OnVideoStatsAvailable(uint32_t kind, IPvlBase* statistics) override;
  PvlResult OnSnapshotStatsAvailable(uint32_t kind, IPvlBase* statistics) override;
  PvlResult GetEnabledPortFormats(CameraPortFormat* formats, uint32_t capacity, uint32_t* count) override;
  PvlResult GetCurrentPortFormats(CameraPortFormat* formats, uint32_t capacity, uint32_t* count) override;
  PvlResult Suspend() override;
  PvlResult Resume() override;
  PvlResult ApplyRuntimeTuning() override;
  PvlResult StartPreSnapshotFlash(ICameraSettingsListener* listener) override;
  PvlResult StopPreSnapshotFlash() override;
  ~CCameraEngine() override;
  PvlResult GetCameras(CameraSensorDescriptor* cameras, uint32_t capacity, uint32_t* count) override;
  PvlResult GetFlashDevices(CameraFlashDevice* devices, uint32_t capacity, uint32_t* count) override;
  PvlResult GetStateMachine(CEngineStateMachine** machine) override;

  // ICameraEngineEventSink.
  PvlResult OnEvent(uint32_t kind, uint32_t argument, IPvlBase* object) override;

  // For the engine's own tests: the parts a state or a test looks at.
  CCameraEngineFrontEnd* FrontEnd() { return &m_frontEnd; }
  CUserData* UserData() { return &m_userData; }
  CEngineSettings* Settings() { return &m_settings; }
  CSensorInfoProxy* SensorInfo() { return &m_proxy; }
  CCameraELFSManager* ElfsManager() { return m_elfs.get(); }
  CCameraPortManager* PortManager() { return m_portManager.Get(); }
  IVfeService* VfeService() { return m_vfe.Get(); }
  ICameraSensorService* SensorService() { return m_sensor.Get(); }
  uint32_t GetDefaultTuningData() const { return m_defaultTuningData; }
  const std::map<uint32_t, uint32_t>& BestShotTable() const { return m_bestShotTable; }
  bool BestShotApplied() const;

  // Builds an engine: counted once in *out, its configuration read from
  // `configPath` (null: the device's file). The registry's creator makes the
  // camera's one engine with it; tests make engines of their own.
  static PvlResult CreateUnregistered(IEnv* env, bool debug, const char* configPath, CCameraEngine** out);

 private:
  // The user data reads the enabled formats through the machine; this face
  // is embedded and counts nothing (the engine owns the user data).
  class FormatSource final : public ICameraPortFormatSource {
   public:
    explicit FormatSource(CCameraEngine* engine) : m_engine(engine) {}
    int32_t AddRef() override { return 1; }
    int32_t Release() override { return 1; }
    PvlResult QueryInterface(ZUEUID, void** out) override {
      if (out) *out = nullptr;
      return PVL_E_UNSUPPORTED;
    }
    PvlResult GetEnabledPortFormats(CameraPortFormat* formats, uint32_t capacity, uint32_t* count) override;

   private:
    CCameraEngine* m_engine;
  };

  struct CreatorContext {
    IEnv* env;
    bool debug;
  };
  static int32_t Create(IEnv* env, void** out, bool debug);
  static PvlResult Creator(void* context, ZUEUID clsid, void** out);

  CCameraEngine(ISingletonRegistry* registry, IEnv* env, bool debug, const char* configPath, PvlResult* result);
  PvlResult Construct();

  // Services and configurers.
  PvlResult RunConfigurer(IConfigCommand* configurer);
  PvlResult RunSensorConfigurer(uint32_t configuration);
  PvlResult RunVfeConfigurer(uint32_t configuration);
  // The sensor for a YUV sensor, the VFE otherwise.
  PvlResult RunPictureConfigurer(uint32_t configuration);
  // A VFE configurer for a client's property while frames flow (waits out the loops'
  // pending update).
  PvlResult RunVfeConfigurerForClient(uint32_t configuration);
  void ApplyPendingClientConfiguration();
  // Undoes what a failed Initialize left: plug-ins, ports, VFE, proxy, sensor.
  void UndoInitialize(bool sensorInitialised, bool vfeInitialised);
  // What a lost frame's way to its port may use (it runs without the machine's
  // lock): copies taken under m_frameGuard.
  void FramePath(CPvlPtr<CCameraPortManager>& ports, std::shared_ptr<CCameraELFSManager>& elfs, uint32_t& firstOutput);

  // A lost sensor (a write that failed while streaming, or frames that stopped):
  // the sensor is asked whether it still answers; one that does not ends the
  // video ports' streams. Under the machine's lock. False once it is lost.
  bool SensorStillThere();
  // The watchdog's check, on its thread: the machine's lock taken like a delivery.
  bool CheckSilentSensor();
  void StartWatchdog();
  void StopWatchdog();

  // Part of the property application (ccameraengineproperties.cpp).
  PvlResult SelectTuningData(uint32_t cameraId);
  PvlResult ApplyBestShotMode();
  PvlResult SetUpElfs();
  PvlResult CreateElfs(uint32_t classId, CPvlPtr<IELFS>& out);
  PvlResult FocusStep();

  CPvlPtr<ISingletonRegistry> m_registry;
  CPvlPtr<IEnv> m_env;
  volatile int32_t m_count = 0;
  const bool m_debug;
  PvlResult m_configResult = PVL_OK;
  PvlResult m_frontEndResult = PVL_OK;
  // The parts the engine holds by value, in one block of their own so that
  // this header needs only their names; the references are the engine's way
  // to them and live exactly as long.
  struct Parts;
  std::unique_ptr<Parts> m_parts;
  CCameraEngineConfig& m_config;
  CCameraEngineFrontEnd& m_frontEnd;
  CUserData& m_userData;
  CEngineSettings& m_settings;
  CSensorInfoProxy& m_proxy;
  std::shared_ptr<CCameraELFSManager> m_elfs;
  CCameraBestShot& m_bestShot;
  FormatSource m_formats{this};

  CPvlPtr<IProperties> m_store;
  CPvlPtr<ITuningData> m_tuningData;
  CPvlPtr<CEngineStateMachine> m_machine;
  CPvlPtr<CUserDataAggregate> m_aggregate;
  CPvlPtr<ICameraSensorService> m_sensor;
  CPvlPtr<IELFS> m_flash;
  CPvlPtr<IVfeService> m_vfe;
  CPvlPtr<CCameraPortManager> m_portManager;
  CPvlPtr<ITunvex> m_tuningServer;

  // Guards the port and ELFS managers for what reads them on the receive thread
  // without the machine's lock (a lost frame): Initialize and Uninitialize
  // change them while the receive thread may be delivering.
  std::mutex m_frameGuard;

  bool m_sensorStarted = false;
  bool m_sensorLost = false;  // since the stream's start
  CSensorWatchdog m_watchdog;
  // A client's configuration the VFE refused while an update was pending.
  std::mutex m_pendingGuard;
  std::vector<uint32_t> m_pendingConfigurations;
  // Whether m_pendingConfigurations has any, written under the guard: a frame
  // that finds none does not take it.
  std::atomic<bool> m_anyPending{false};
  uint32_t m_cameraId = 0;
  uint32_t m_firstOutput = 0;   // the preview's (video) or the main image's (still)
  uint32_t m_secondOutput = 0;  // the thumbnail's
  uint32_t m_defaultTuningData = 0;
  std::map<uint32_t, uint32_t> m_bestShotTable;  // best-shot mode -> tuning-data class
};
