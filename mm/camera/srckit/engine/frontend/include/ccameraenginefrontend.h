// CCameraEngineFrontEnd: the camera engine as its clients see it. The driver
// holds the control face (ICameraEngine), the property face (IProperties) and
// the tuning server the runtime-tuning face (ICameraTuning); all three live
// here, so that no client ever reaches the engine's own operations directly.
// A control call becomes one event of the engine's state machine, which decides
// whether the current state takes it. A property goes through a range check
// against the engine's property table, is kept in the property store, and is
// then applied by an ApplyProperty event; the front end itself keeps no values.
//
// Embedded in the engine: every reference to one of the faces is a reference
// to the engine (its count lives in the singleton registry).
#pragma once

#include <stdint.h>

#include "cpvlobject.h"
#include "cpvlptr.h"
#include "icameraengine.h"
#include "icameratuning.h"
#include "ipropertystore.h"

class ICameraEngineInternal;

class CCameraEngineFrontEnd final : public CPvlObject,
                                    public ICameraEngine,
                                    public IProperties,
                                    public ICameraTuning {
 public:
  // Creates the property store and registers the engine's properties in it;
  // *result receives the first failure (the store's creation or registration).
  CCameraEngineFrontEnd(IEnv* env, PvlResult* result);
  ~CCameraEngineFrontEnd() override;

  // Set once by the engine at the end of its construction; not counted.
  void SetEngine(ICameraEngineInternal* engine) { m_engine = engine; }
  // The store with one reference; 13 without one.
  PvlResult GetPropertyStore(IProperties** store);

  // The faces' references are the engine's; without an engine they count nothing.
  int32_t AddRef() override;
  int32_t Release() override;
  // The three faces by their identifiers; anything else 20, *out untouched.
  PvlResult QueryInterface(ZUEUID iid, void** out) override;

  // ICameraEngine.
  PvlResult GetCameras(CameraSensorDescriptor* cameras, uint32_t capacity, uint32_t* count) override;
  PvlResult GetFlashDevices(CameraFlashDevice* devices, uint32_t capacity, uint32_t* count) override;
  PvlResult Initialize(uint32_t sensorClass) override;
  PvlResult Uninitialize() override;
  PvlResult GetPorts(ICameraPort** ports, uint32_t capacity, uint32_t* count) override;
  PvlResult StartFocus(uint8_t mode, uintptr_t signalControl) override;
  PvlResult StopFocus() override;
  PvlResult StartVideo() override;
  PvlResult StartStill(uint32_t count) override;
  PvlResult Stop() override;
  PvlResult StartPreSnapshotFlash(uintptr_t signalControl) override;
  PvlResult StopPreSnapshotFlash() override;
  PvlResult Suspend() override;
  PvlResult Resume() override;

  // IProperties: SetProperty and SetProperties are checked and applied; the
  // reserved slots answer 20; the rest are the store's.
  PvlResult Reserved3(uint32_t a, uint32_t b) override;
  PvlResult GetProperty(uint32_t id, PvlValueRecord* value) override;
  PvlResult SetProperty(uint32_t id, const PvlValueRecord* value) override;
  PvlResult AddProperty(const CPvlPropertyDesc* desc, uint32_t group, uint32_t flags) override;
  PvlResult Reserved7(uint32_t a, uint32_t b) override;
  PvlResult Reserved8(uint32_t a, uint32_t b) override;
  PvlResult GetProperties(CPvlPropertyDesc* descs, uint32_t count, PvlResult* results) override;
  PvlResult SetProperties(const PvlPropertyValueRecord* records, uint32_t count) override;
  PvlResult SetRanges(const PvlPropertyRangeRecord* records, uint32_t count) override;
  PvlResult RegisterGroup(CPvlPropertyDesc* const* descs, uint32_t count, uint32_t group) override;
  PvlResult Reserved13(uint32_t a, uint32_t b, uint32_t c) override;
  PvlResult Reserved14(uint32_t a, uint32_t b) override;

  // ICameraTuning.
  PvlResult Reserved3(uint32_t argument) override;
  PvlResult ApplyRuntimeTuningChanges() override;

  // 0 when the value lies within the property's registered range (bounds
  // included), 14 outside it (and for NaN or a pair with a zero second word),
  // the store's failure for a property it does not know. Only signed, float
  // and pair types are checked; other types pass.
  PvlResult CheckRange(uint32_t id, const PvlValueRecord* value);

 private:
  template <class Event>
  PvlResult Raise(Event event);

  ICameraEngineInternal* m_engine = nullptr;
  CPvlPtr<IProperties> m_store;
};
