// CCameraDriverService: what the sensor and flash services share. Each detects
// its devices when it is created, and from Initialize on owns the driver of the
// one chosen, the client's settings view and a configuration set with a
// configurer registry over that driver. The life cycle (Initialize to Resume)
// is the service's table (servicelifecycle.h), run here with the service's own
// driver commands; the service finds its device, builds its set and registry,
// and answers its own queries.
//
// Suspend lets the driver go and keeps the settings view; Resume opens the
// same device again with new configurers. Released while open, the service
// powers its device down first: a driver let go keeps its device as it was.
//
// No lock of its own: callers serialise their calls.
#pragma once

#include <stdint.h>

#include "cpvlobject.h"
#include "cpvlptr.h"
#include "icameradriver.h"
#include "iconfigcommand.h"
#include "servicelifecycle.h"

// What sets one service's life cycle apart: its table, the interface its
// client's settings view answers, and its driver's commands.
struct DriverServiceProfile {
  const ServiceLifeCycle* rules;
  ZUEUID settings;
  uint32_t powerUp;
  uint32_t powerDown;
  uint32_t start;
  uint32_t stop;
  uint32_t reset;
};

template <class Face, class View, class Set>
class CCameraDriverService : public CPvlObject, public Face {
 public:
  using State = ServiceState;

  int32_t AddRef() override { return CPvlObject::AddRef(); }
  int32_t Release() override { return CPvlObject::Release(); }

  PvlResult Initialize(uint32_t driverClass, IPvlBase* client) override {
    return Run(ServiceOperation::Initialize, driverClass, client);
  }
  PvlResult Uninitialize() override { return Run(ServiceOperation::Uninitialize); }
  PvlResult Start() override { return Run(ServiceOperation::Start); }
  PvlResult Stop() override { return Run(ServiceOperation::Stop); }
  PvlResult Reset() override { return Run(ServiceOperation::Reset); }
  PvlResult Suspend() override { return Run(ServiceOperation::Suspend); }
  PvlResult Resume() override { return Run(ServiceOperation::Resume); }
  PvlResult GetConfigurer(uint32_t configuration, IConfigCommand** out) override {
    if (!IsOpen()) return PVL_E_NOTREADY;
    return m_registry->GetConfigurer(configuration, out);
  }

  // For tests.
  State GetState() const { return m_state; }
  bool HoldsDriver() const { return m_driver.Get() != nullptr; }
  bool HoldsConfiguration() const { return m_set.Get() || m_registry.Get(); }
  bool HoldsSettings() const { return m_view.Get() != nullptr; }

 protected:
  CCameraDriverService(IEnv* env, const DriverServiceProfile& profile, const uint32_t* candidates,
                       uint32_t candidateCount)
      : CPvlObject(env),
        m_state(State::Detecting),
        m_candidates(candidates),
        m_candidateCount(candidateCount),
        m_profile(&profile) {}

  // An owner that never uninitialised still gets its device back to rest, and
  // the registry's cycle with its configurers is broken, since otherwise the
  // set and the driver would never go.
  ~CCameraDriverService() override {
    if (IsOpen()) SendCommand(m_profile->powerDown);
    if (m_registry) m_registry->ReleaseConfigurers();
    m_registry.Reset();
    m_set.Reset();
    m_driver.Reset();
    m_view.Reset();
  }

  // Chooses the detected device of `driverClass` for OpenDriver: 39 when none is.
  virtual PvlResult SelectDevice(uint32_t driverClass) = 0;
  // Creates the chosen device's driver and builds the set, the registry and
  // its configurers over it.
  virtual PvlResult OpenDriver() = 0;
  // Initialize has opened and powered the driver.
  virtual void Opened() {}

  void MoveTo(State next) { m_state = next; }
  bool IsOpen() const { return m_state == State::Initialized || m_state == State::Started; }
  PvlResult SendCommand(uint32_t command) {
    if (!m_driver) return PVL_E_NOTREADY;
    return m_driver->Command(command, nullptr, 0, nullptr, 0, nullptr);
  }
  // Drops the configurers, the registry, the set and the driver.
  void CloseDriver() {
    if (m_registry) m_registry->ReleaseConfigurers();
    m_registry.Reset();
    m_set.Reset();
    m_driver.Reset();
  }

  State m_state;
  const uint32_t* m_candidates;
  uint32_t m_candidateCount;
  CPvlPtr<ICameraDriver> m_driver;
  CPvlPtr<View> m_view;
  CPvlPtr<Set> m_set;
  CPvlPtr<IConfigCommandRegistry> m_registry;

 private:
  PvlResult Run(ServiceOperation operation, uint32_t driverClass = 0, IPvlBase* client = nullptr) {
    auto perform = [&](ServiceAction action) { return Perform(action, driverClass, client); };
    return RunLifeCycle(*m_profile->rules, m_state, operation, perform);
  }

  PvlResult Perform(ServiceAction action, uint32_t driverClass, IPvlBase* client) {
    switch (action) {
      case ServiceAction::Open:
        return Open(driverClass, client);
      case ServiceAction::Close: {
        // A device that refuses to power down still leaves the service closed.
        const PvlResult r = SendCommand(m_profile->powerDown);
        CloseDriver();
        m_view.Reset();
        return r;
      }
      case ServiceAction::StartDriver:
        return SendCommand(m_profile->start);
      case ServiceAction::StopDriver:
        return SendCommand(m_profile->stop);
      case ServiceAction::ResetDriver:
        return SendCommand(m_profile->reset);
      case ServiceAction::Sleep: {
        const PvlResult r = SendCommand(m_profile->powerDown);
        if (r != PVL_OK) return r;
        CloseDriver();
        return PVL_OK;
      }
      case ServiceAction::Wake: {
        PvlResult r = OpenDriver();
        if (r == PVL_OK) r = SendCommand(m_profile->powerUp);
        if (r != PVL_OK) CloseDriver();  // stays suspended, ready for another Resume
        return r;
      }
      case ServiceAction::Refuse:
      case ServiceAction::Accept:
        break;
    }
    return PVL_E_NOTREADY;
  }

  PvlResult Open(uint32_t driverClass, IPvlBase* client) {
    if (!client) return PVL_E_NULLPTR;
    PvlResult r = SelectDevice(driverClass);
    if (r != PVL_OK) return r;
    // A failed step takes back what the earlier ones made, so a retry starts clean.
    r = client->QueryInterface(m_profile->settings, m_view.Out());
    if (r == PVL_OK && !m_view) r = PVL_E_NOTSUPPORTED;
    if (r == PVL_OK) r = OpenDriver();
    if (r == PVL_OK) r = SendCommand(m_profile->powerUp);
    if (r != PVL_OK) {
      CloseDriver();
      m_view.Reset();
      return r;
    }
    Opened();
    return PVL_OK;
  }

  const DriverServiceProfile* m_profile;
};
