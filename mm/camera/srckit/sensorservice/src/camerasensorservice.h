// CCameraSensorService: owns the camera's sensor driver for the engine.
//
// Created through the environment, it detects which sensor drivers exist by
// creating the candidate driver classes in turn and keeps a descriptor of up
// to two (name, full size, frame interval). Initialize opens the driver of the
// chosen class, powers it up and builds the configuration set and configurer
// registry over it, through which the engine and the settings turn user and 3A
// settings into sensor commands; the property reads of the settings views and
// the VFE service are forwarded to the driver. Suspend closes the driver (the
// sensor sleeps) and Resume opens it again with new configurers.
//
// No lock of its own: the engine serialises every call.
#pragma once

#include <stdint.h>

#include "camerasettings.h"
#include "icameradriver.h"
#include "icamerasensorservice.h"
#include "ienv.h"
#include "pvlobject.h"
#include "pvlptr.h"

class CCameraSensorService final : public CPvlObject, public ICameraSensorService {
 public:
  enum class State : uint32_t { NoSensor = 0, Detected = 1, Suspended = 2, Initialized = 3, Started = 4 };
  static constexpr uint32_t kMaxSensors = 2;

  // The class switch's entry: (environment, class, creation argument, &out).
  // 29 for a null environment, argument or out; 3 for another class; the
  // detection's answer when no sensor is found (39).
  static PvlResult CreateInstance(IEnv* env, ZUEUID clsid, void* argument, void** out);

  int32_t AddRef() override { return CPvlObject::AddRef(); }
  int32_t Release() override { return CPvlObject::Release(); }
  PvlResult QueryInterface(ZUEUID iid, void** out) override;

  PvlResult Initialize(uint32_t sensorClass, IPvlBase* client) override;
  PvlResult Uninitialize() override;
  PvlResult Start() override;
  PvlResult Stop() override;
  PvlResult Reset() override;
  PvlResult GetConfigurer(uint32_t configuration, IConfigCommand** out) override;
  PvlResult Suspend() override;
  PvlResult Resume() override;
  PvlResult GetSensors(CameraSensorDescriptor* sensors, uint32_t capacity, uint32_t* count) override;
  PvlResult GetCapabilities(SensorCapabilities* out) override;
  PvlResult GetIdentity(SensorIdentity* record) override;
  PvlResult GetOptics(SensorOptics* out) override;
  PvlResult GetExtraInfo(uint32_t* out3) override;
  PvlResult GetOutputFormat(SensorOutputFormat* out) override;
  PvlResult GetTiming(SensorTiming* out, uint32_t reserved) override;
  PvlResult GetGeometry(SensorGeometry* out) override;
  PvlResult GetModeInfo(SensorModeInfo* out) override;
  PvlResult GetGainInfo(SensorGainInfo* out) override;
  PvlResult GetFrameTiming(const SensorFrameTimingRequest* request, SensorFrameTimingAnswer* out) override;
  PvlResult CheckPresence() override;  // camerasensorservicepresence.cpp

  // For tests.
  State GetState() const { return m_state; }
  bool HoldsDriver() const { return m_driver.Get() != nullptr; }
  bool HoldsConfiguration() const { return m_set.Get() || m_registry.Get(); }
  bool HoldsSettings() const { return m_view.Get() != nullptr; }

 private:
  explicit CCameraSensorService(IEnv* env);
  ~CCameraSensorService() override;

  void MoveTo(State next) { m_state = next; }
  bool IsOpen() const { return m_state == State::Initialized || m_state == State::Started; }

  PvlResult DetectSensors();
  PvlResult RecordSensor(CameraSensorDescriptor* descriptor, ZUEUID driverClass, ICameraDriver* driver);
  // Opens the driver of the current sensor and builds the set, the registry and
  // its configurers over it.
  PvlResult OpenDriver();
  // Drops the configurers, the registry, the set and the driver.
  void CloseDriver();
  PvlResult SendCommand(uint32_t command);
  template <class Record>
  PvlResult ReadProperty(uint32_t property, Record* out);

  State m_state;
  const uint32_t* m_candidates;
  uint32_t m_candidateCount;
  CameraSensorDescriptor m_sensors[kMaxSensors];
  uint32_t m_sensorCount;
  uint32_t m_current;
  CPvlPtr<ICameraDriver> m_driver;
  CPvlPtr<ISensorSettings> m_view;
  CPvlPtr<ISensorConfigurationSet> m_set;
  CPvlPtr<IConfigCommandRegistry> m_registry;
};
