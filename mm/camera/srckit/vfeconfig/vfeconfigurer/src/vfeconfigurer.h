// The base of every VFE configurer: a framework object behind IConfigCommand
// that takes the service's lock for the whole Configure, answers 13 unless the
// service is initialised, and keeps the settings view and the sensor
// information read when it was made.
#pragma once

#include <new>

#include "ivfeservice.h"
#include "pvlobject.h"
#include "sensorinfo.h"
#include "vfeconfigurerids.h"
#include "vfedriver.h"

class IVfeSettings;

class CVfeConfigurer : public IConfigCommand, public CPvlObject {
 public:
  int32_t AddRef() override { return CPvlObject::AddRef(); }
  int32_t Release() override { return CPvlObject::Release(); }
  PvlResult QueryInterface(ZUEUID iid, void** out) override;
  PvlResult Configure() override;

  virtual PvlResult ConfigureCore() { return ConfigureOutputs(); }
  virtual PvlResult ConfigureOutputs() = 0;

  const CSensorInfo& SensorInfo() const { return m_sensor; }

 protected:
  CVfeConfigurer(IVfeServiceInternal* service, PvlResult* result);
  ~CVfeConfigurer() override = default;

  // Writes the service's VFE_CMD_START record: 1 for a sensor kind outside 1-8.
  PvlResult SetOperationMode(uint32_t first, uint32_t mode, uint32_t count);

  template <class Derived>
  static PvlResult CreateAs(IVfeServiceInternal* service, IConfigCommand** out) {
    if (!out) return PVL_E_NULLPTR;
    PvlResult result = PVL_E_FAIL;
    Derived* object = new (std::nothrow) Derived(service, &result);
    if (!object) return PVL_E_OUTOFMEMORY;
    if (result != PVL_OK) {
      delete object;
      return result;
    }
    IConfigCommand* face = object;
    face->AddRef();
    *out = face;
    return PVL_OK;
  }

  IVfeSettings* m_settings;
  CSensorInfo m_sensor;
  IVfeServiceInternal* m_service;
};

// Answers 20 whenever the service is initialised.
class CUnsupportedConfigurer final : public CVfeConfigurer {
 public:
  static PvlResult Create(IVfeServiceInternal* service, IConfigCommand** out) {
    return CreateAs<CUnsupportedConfigurer>(service, out);
  }
  PvlResult ConfigureCore() override { return PVL_E_UNSUPPORTED; }
  PvlResult ConfigureOutputs() override { return PVL_E_UNSUPPORTED; }

  CUnsupportedConfigurer(IVfeServiceInternal* service, PvlResult* result) : CVfeConfigurer(service, result) {}
};
