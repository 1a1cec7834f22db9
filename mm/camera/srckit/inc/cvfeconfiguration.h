// The VFE block configurations: one object per VFE hardware block holding the
// block's fixed-size command payload (the records of vfedriver.h), sent to the
// driver by Apply. The block code and the configurers compute the payloads;
// Apply only sends what the payload holds at that moment.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <new>

#include "cpvlobject.h"
#include "iconfigcommand.h"
#include "ienv.h"
#include "ivfeservice.h"
#include "runtimetuningitem.h"
#include "vfedriver.h"

#define ZUEUID_IFACE_VFE_CONFIGURATION 0x0104ef6cu

class IVfeConfiguration : public IConfiguration {
 public:
  virtual int32_t GetCommandId() = 0;  // 4

 protected:
  ~IVfeConfiguration() = default;
};

// A block's switch as the tuning tool sees it: one u16 written over both bytes,
// the low byte the value, the high byte the changed marker (257: on and changed).
struct CTuningFlag {
  uint8_t value;
  uint8_t changed;
  explicit constexpr CTuningFlag(uint8_t initial = 1) : value(initial), changed(0) {}
};
static_assert(sizeof(CTuningFlag) == 2, "one u16 in the registry");
static_assert(offsetof(CTuningFlag, changed) == 1, "marker is the high byte");

// Every boolean payload byte is written through this: 0 or 1.
inline uint8_t ByteToBool(uint32_t value) { return (value & 0xFFu) != 0 ? 1 : 0; }
inline bool IsSucceeded(PvlResult r) { return r == PVL_OK; }
inline bool IsFailed(PvlResult r) { return r != PVL_OK; }

// (x - lower) / (upper - lower) in single precision, not clamped; equal bounds 14.
PvlResult GetInterpolationFactor(int32_t x, int32_t lower, int32_t upper, float* out);
PvlResult GetInterpolationFactorF(float x, float lower, float upper, float* out);
float GetColorConvStep(uint32_t index);

// One direction of a scaler: in to out pixels or lines. 1 for a zero size (the
// record untouched), for enlarging or for shrinking by more than 32; an equal
// size leaves the record off with its sizes written.
PvlResult ComputeScaleFactor(VfeScaleRecord* record, uint32_t in, uint32_t out);

// The scalers' recomputation from the current crop window and outputs.
class IVfeScaler {
 public:
  virtual ~IVfeScaler() = default;
  virtual PvlResult Compute() = 0;
};

// One block: its payload record, zero-filled at construction, and the service
// it sends through (not counted: the service owns its configurations).
template <class Payload>
class CVfeConfiguration : public IVfeConfiguration, public CPvlObject {
 public:
  // Both faces count on the one CPvlObject count; a configuration is never
  // aggregated, so its outer is itself.
  int32_t AddRef() override { return CPvlObject::AddRef(); }
  int32_t Release() override { return CPvlObject::Release(); }
  PvlResult QueryInterface(ZUEUID iid, void** out) override {
    if (!out) return PVL_E_BADARG;
    if (iid == ZUEUID_IFACE_VFE_CONFIGURATION) {
      IVfeConfiguration* face = this;
      face->AddRef();
      *out = face;
      return PVL_OK;
    }
    return CPvlObject::QueryInterface(iid, out);
  }

  PvlResult Apply() override {
    if (!m_service) return PVL_E_NOTREADY;
    return m_service->SendCommand(GetCommandId(), &m_payload, static_cast<uint32_t>(sizeof(Payload)));
  }

  Payload& GetPayload() { return m_payload; }
  const Payload& GetPayload() const { return m_payload; }
  IVfeServiceInternal* GetService() const { return m_service; }

  // Every block's factory, called on the block's class: 2 when the heap is
  // empty; a failed construction destroys the object and leaves *out
  // untouched; else *out holds one reference.
  template <class Derived>
  static PvlResult Create(IVfeServiceInternal* service, Derived** out) {
    if (!out) return PVL_E_NULLPTR;
    PvlResult result = PVL_E_FAIL;
    Derived* object = new (std::nothrow) Derived(service, &result);
    if (!object) return PVL_E_OUTOFMEMORY;
    if (result != PVL_OK) {
      delete object;
      return result;
    }
    object->AddRef();
    *out = object;
    return PVL_OK;
  }

 protected:
  CVfeConfiguration(IVfeServiceInternal* service, PvlResult* result)
      : CPvlObject(service ? service->GetEnv() : nullptr), m_payload(), m_service(service) {
    memset(&m_payload, 0, sizeof m_payload);
    *result = GetEnv() ? PVL_OK : PVL_E_BADARG;
  }
  ~CVfeConfiguration() override = default;

  Payload m_payload;
  IVfeServiceInternal* m_service;
};

// A block the tuning tool can switch: Enable turns the block off, ControlEnable
// its computation from the tuning. A changed marker asks the update pass for a
// new Configure, which clears the markers.
template <class Payload>
class CVfeSwitchedConfiguration : public CVfeConfiguration<Payload> {
 public:
  bool HasTuningChanged() const { return m_enable.changed || m_controlEnable.changed; }
  void ClearTuningChanged() { m_enable.changed = m_controlEnable.changed = 0; }
  CTuningFlag& Enable() { return m_enable; }
  CTuningFlag& ControlEnable() { return m_controlEnable; }

 protected:
  using CVfeConfiguration<Payload>::CVfeConfiguration;

  // The opening of a Configure: a block the tuning tool switched off is sent
  // as off, with nothing left for the update pass to redo. True then, and the
  // computation is done.
  bool SwitchedOff() {
    if (m_enable.value) return false;
    this->m_payload.enable = 0;
    ClearTuningChanged();
    return true;
  }
  ~CVfeSwitchedConfiguration() override = default;

  CTuningFlag m_enable;
  CTuningFlag m_controlEnable;
};

// Offsets the block code relies on beyond those the driver pins.
static_assert(offsetof(VfeCamifCmd, firstPixel) == 28 && offsetof(VfeCamifCmd, lastLine) == 34, "window");
static_assert(offsetof(VfeCamifCmd, pixelSkipPattern) == 36 && offsetof(VfeCamifCmd, lineSkipPattern) == 38,
              "skip patterns");
static_assert(offsetof(VfeFovCropCmd, firstPixel) == 2 && offsetof(VfeFovCropCmd, lastLine) == 8, "crop window");
static_assert(offsetof(VfeOutputPathRecord, lumaWidth) == 2 && offsetof(VfeOutputPathRecord, chromaWidth2) == 16,
              "write master record");
static_assert(offsetof(VfeFrameDropCmd, output1Pattern) == 4 && offsetof(VfeFrameDropCmd, output2Period) == 8 &&
                  offsetof(VfeFrameDropCmd, output2Pattern) == 12,
              "frame-drop words");
static_assert(offsetof(VfeBlock23Cmd, field20) == 20 && offsetof(VfeBlock23Cmd, field22) == 22,
              "block-23 window (sizes minus one)");
