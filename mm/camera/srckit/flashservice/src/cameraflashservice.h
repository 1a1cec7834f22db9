// CCameraFlashService: owns the flash driver for the flash plug-in and the
// engine.
//
// Created through the environment, it finds the flash drivers that exist by
// creating the candidate driver classes in turn and records up to two (device
// type and class). Initialize opens the chosen driver, powers it up (the LED
// off) and builds the flash configuration set and configurer registry over it;
// the plug-in then runs the lamp, strobe, video and snapshot configurers to
// light the torch, arm the flash and choose which of the two the LED shows.
// Suspend closes the driver and Resume opens it again.
//
// No lock of its own: callers serialise their calls.
#pragma once

#include <stdint.h>

#include "camerasettings.h"
#include "icameradriver.h"
#include "icameraflashservice.h"
#include "ienv.h"
#include "pvlobject.h"
#include "pvlptr.h"

class CCameraFlashService final : public CPvlObject, public ICameraFlashService {
 public:
  enum class State : uint32_t { Detecting = 0, Detected = 1, Suspended = 2, Initialized = 3, Started = 4 };
  static constexpr uint32_t kMaxDevices = 2;

  // The class switch's entry: 29 for a null environment, argument or out; 3
  // for another class; 39 when no flash device exists.
  static PvlResult CreateInstance(IEnv* env, ZUEUID clsid, void* argument, void** out);

  int32_t AddRef() override { return CPvlObject::AddRef(); }
  int32_t Release() override { return CPvlObject::Release(); }
  PvlResult QueryInterface(ZUEUID iid, void** out) override;

  PvlResult Initialize(uint32_t flashClass, IPvlBase* client) override;
  PvlResult Uninitialize() override;
  PvlResult Start() override;
  PvlResult Stop() override;
  PvlResult Reset() override;
  PvlResult GetConfigurer(uint32_t configuration, IConfigCommand** out) override;
  PvlResult Suspend() override;
  PvlResult Resume() override;
  PvlResult GetFlashDevices(CameraFlashDevice* devices, int32_t capacity, uint32_t* count) override;
  PvlResult GetDeviceType(uint32_t* out) override;
  PvlResult GetDeviceFlags(uint32_t* out) override;
  PvlResult GetDeviceExtra(uint32_t* out) override;
  PvlResult SetDeviceState(uint32_t deviceState, uint32_t signal) override;

  // For tests.
  State GetState() const { return m_state; }
  bool HoldsDriver() const { return m_driver.Get() != nullptr; }
  bool HoldsConfiguration() const { return m_set.Get() || m_registry.Get(); }
  bool HoldsSettings() const { return m_view.Get() != nullptr; }

 private:
  explicit CCameraFlashService(IEnv* env);
  ~CCameraFlashService() override;

  void MoveTo(State next) { m_state = next; }
  PvlResult DetectFlashDevices();
  PvlResult OpenDriver();
  void CloseDriver();
  PvlResult SendCommand(uint32_t command);
  PvlResult ReadDeviceProperty(uint32_t property, uint32_t* out);

  State m_state;
  const uint32_t* m_candidates;
  uint32_t m_candidateCount;
  CameraFlashDevice m_devices[kMaxDevices];
  uint32_t m_deviceCount;
  uint32_t m_selected;
  CPvlPtr<ICameraDriver> m_driver;
  CPvlPtr<IFlashSettings> m_view;
  CPvlPtr<IFlashConfigurationSet> m_set;
  CPvlPtr<IConfigCommandRegistry> m_registry;
};
