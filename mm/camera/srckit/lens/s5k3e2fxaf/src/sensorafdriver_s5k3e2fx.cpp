// The S5K3E2FX focus actuator driver object. See sensorafdriver_s5k3e2fx.h.
#include "sensorafdriver_s5k3e2fx.h"

#include "hostsymbols.h"
#include "pvllog.h"
#include "senvarobject.h"

namespace {

// The lens stays where it is and the module-wide state stays.
void Destroy(S5K3E2FXAFDriver* d, IEnv* allocator) {
  IEnv* held = d->env;
  SenvarFree(d, allocator);
  if (held) held->Release();
}

PvlResult Construct(S5K3E2FXAFDriver* d, IEnv* env) {
  if (!d || !env) return PVL_E_NULLPTR;
  d->self = d;
  d->refs = 0;
  d->env = env;
  env->AddRef();
  return PVL_OK;
}

}  // namespace

PvlResult S5K3E2FX_AF_CreateInstance(IEnv* env, ZUEUID clsid, void*, void** out) {
  CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "CreateInstance S5K3E2FX AF driver clsid = %x, S5K3E2FX id = %x", clsid,
                   ZUEUID_CLASS_S5K3E2FX_AF_DRIVER);
  if (clsid != ZUEUID_CLASS_S5K3E2FX_AF_DRIVER) return PVL_E_NOTSUPPORTED;
  if (!env || !out) return PVL_E_NULLPTR;
  S5K3E2FXAFDriver* d = nullptr;
  PvlResult r = SenvarAllocate(env, SENVAR_ALLOCATION_TAG, &d);
  if (r != PVL_OK) return r;
  r = Construct(d, env);
  if (r != PVL_OK) {
    Destroy(d, env);
    return r;
  }
  *out = static_cast<ICameraDriver*>(d);
  d->AddRef();
  return PVL_OK;
}

int32_t S5K3E2FXAFDriver::AddRef() {
  if (!self) return PVL_E_NULLPTR;
  return atomic_atomic_Add(&self->refs, 1);
}

int32_t S5K3E2FXAFDriver::Release() {
  if (!self) return PVL_E_NULLPTR;
  int32_t n = atomic_atomic_Add(&self->refs, -1);
  if (n == 0) Destroy(self, self->env);
  return n;
}

PvlResult S5K3E2FXAFDriver::QueryInterface(ZUEUID iid, void** out) {
  if (!self || !out) return PVL_E_NULLPTR;
  if (iid != ZUEUID_IFACE_BASE && iid != ZUEUID_IFACE_CAMERA_DRIVER) {
    *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }
  *out = static_cast<ICameraDriver*>(self);
  self->AddRef();
  return PVL_OK;
}

PvlResult S5K3E2FXAFDriver::OptionalQueryA(void* buffer, uint32_t bufferSize, uint32_t* length) {
  if (!self) return PVL_E_NULLPTR;
  if (!CameraDriverQueryArgumentsValid(buffer, bufferSize, length)) return PVL_E_NULLPTR;
  *length = 0;
  return PVL_E_UNSUPPORTED;
}

PvlResult S5K3E2FXAFDriver::OptionalSetA(void* value) {
  if (!self || !value) return PVL_E_NULLPTR;
  return PVL_E_UNSUPPORTED;
}

PvlResult S5K3E2FXAFDriver::OptionalQueryB(void* buffer, uint32_t bufferSize, uint32_t* length) {
  return OptionalQueryA(buffer, bufferSize, length);
}

PvlResult S5K3E2FXAFDriver::OptionalSetB(void* value) { return OptionalSetA(value); }

PvlResult S5K3E2FXAFDriver::Command(uint32_t command, void* input, uint32_t inputSize, void* output,
                                    uint32_t outputSize, uint32_t* outputLength) {
  if (!self) return PVL_E_NULLPTR;
  if (!CameraDriverCommandArgumentsValid(input, inputSize, output, outputSize, outputLength)) return PVL_E_NULLPTR;
  if (command != ZUEUID_SENSOR_CMD_FOCUS) return PVL_E_UNSUPPORTED;
  return S5K3E2FX_AF_Focus(self, input, inputSize, output, outputSize, outputLength);
}

// The actuator has nothing to bring to rest.
PvlResult S5K3E2FXAFDriver::Stop() {
  if (!self) return PVL_E_NULLPTR;
  return PVL_E_UNSUPPORTED;
}
