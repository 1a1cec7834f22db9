// The base of every VFE configurer: a framework object behind IConfigCommand
// (or the still configurer's ISnapshotConfigCommand) that takes the service's
// lock for the whole Configure, answers 13 unless the service is initialised,
// and keeps the settings view and the sensor information read when it was
// made.
#pragma once

#include <string.h>

#include <new>
#include <span>

#include "ccameralockguard.h"
#include "ivfeservice.h"
#include "cpvlobject.h"
#include "csensorinfo.h"
#include "vfeconfigurerids.h"
#include "cvfeconfiguration.h"
#include "vfedriver.h"
#include "cvfetuning.h"

class IVfeSettings;

// One step of a chain: computes a block, then sends it only when the computation
// succeeded; a block the service does not hold ends the chain with 13.
template <class Compute>
PvlResult VfeComputeThenApply(IVfeConfiguration* block, Compute compute) {
  if (!block) return PVL_E_NOTREADY;
  PvlResult r = compute();
  return r != PVL_OK ? r : block->Apply();
}

// A block's step of a configure chain: its computation for the chain, then
// its configure command.
template <class Block>
PvlResult VfeConfigureBlock(Block* block, IVfeSettings* settings, VfeChain chain) {
  return VfeComputeThenApply(block, [&] { return block->Configure(settings, chain); });
}

// A block's step while frames flow: its runtime computation, then its update
// command.
template <class Block>
PvlResult VfeUpdateBlock(Block* block, IVfeSettings* settings) {
  if (!block) return PVL_E_NOTREADY;
  PvlResult r = block->Configure(settings, VfeChain::Runtime);
  return r != PVL_OK ? r : block->SendUpdate();
}

// One Bayer image block's step of the video or snapshot chain, by its
// configure command; 14 for a command that is not a Bayer block's.
PvlResult VfeBayerBlockStep(IVfeServiceInternal* service, IVfeSettings* settings, VfeChain chain, int32_t command);

// The steps the video and the still chain share.
// The outputs: the service orders them for the mode, then every output enabled
// for it enters it (count: the still's frames, 0 for video).
PvlResult VfeEnterOutputMode(IVfeServiceInternal* service, uint32_t mode, uint32_t count);
// The window the VFE takes from the sensor and the scalers that size it for the
// outputs: camif, field-of-view crop, main, Y and CbCr output scalers.
PvlResult VfeConfigureWindowAndScalers(IVfeServiceInternal* service, IVfeSettings* settings);
// The Bayer image blocks in the chain's order, then the white-balance/exposure
// statistics over the camif window.
PvlResult VfeConfigureBayerChain(IVfeServiceInternal* service, IVfeSettings* settings, VfeChain chain,
                                 std::span<const int32_t> commands);

template <class Face>
class CVfeConfigurerOn : public Face, public CPvlObject {
 public:
  int32_t AddRef() override { return CPvlObject::AddRef(); }
  int32_t Release() override { return CPvlObject::Release(); }
  PvlResult QueryInterface(ZUEUID iid, void** out) override {
    if (!out) return PVL_E_BADARG;
    if (iid == ZUEUID_IFACE_CONFIG_COMMAND || (iid == m_ownFace && m_ownFace != 0)) {
      Face* face = this;
      face->AddRef();
      *out = face;
      return PVL_OK;
    }
    return CPvlObject::QueryInterface(iid, out);
  }
  PvlResult Configure() override {
    CCameraLockGuard hold(m_service->GetLock());
    IVfeState* state = m_service->GetCurrentState();
    if (!state || !state->IsInitialized()) return PVL_E_NOTREADY;
    return ConfigureCore();
  }

  virtual PvlResult ConfigureCore() { return ConfigureOutputs(); }
  virtual PvlResult ConfigureOutputs() = 0;

  const CSensorInfo& SensorInfo() const { return m_sensor; }

 protected:
  CVfeConfigurerOn(IVfeServiceInternal* service, PvlResult* result, ZUEUID ownFace = 0)
      : CPvlObject(service ? service->GetEnv() : nullptr),
        m_settings(service ? service->GetVfeSettings() : nullptr),
        m_service(service),
        m_ownFace(ownFace) {
    *result = GetEnv() ? m_sensor.Fill(m_settings) : PVL_E_FAIL;
  }
  ~CVfeConfigurerOn() override = default;

  // Writes the service's VFE_CMD_START record: 1 for a sensor kind outside 1-8.
  PvlResult SetOperationMode(uint32_t first, uint32_t mode, uint32_t count) {
    VfeOperationMode* record = m_service->GetOperationMode();
    if (!record) return PVL_E_NOTREADY;
    memset(record, 0, sizeof *record);
    record->inputPath = first;
    record->snapshot = mode;
    record->snapshotFrames = static_cast<uint8_t>(count);
    // Sensor output kind 1-8 to the VFE's input format code.
    static constexpr uint32_t kInputFormat[9] = {0, 3, 2, 1, 0, 4, 5, 6, 7};
    uint32_t kind = m_sensor.Format().Words[0];
    if (kind < 1 || kind > 8) return PVL_E_FAIL;
    record->pixelOrder = kInputFormat[kind];
    if (m_sensor.IsYUV()) record->yuvFlag = m_sensor.Format().Words[1] == 1 ? 0 : 1;
    return PVL_OK;
  }

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

 private:
  ZUEUID m_ownFace;
};

using CVfeConfigurer = CVfeConfigurerOn<IConfigCommand>;
using CVfeConfigurer2 = CVfeConfigurerOn<ISnapshotConfigCommand>;

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
