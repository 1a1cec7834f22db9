// The S5K3E2FX focus actuator driver object. See sensorafdriver_s5k3e2fx.h.
#include "sensorafdriver_s5k3e2fx.h"

#include "hostsymbols.h"
#include "pvllog.h"
#include "senvarobject.h"

namespace {

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
  return SenvarCreate(env, SENVAR_ALLOCATION_TAG, Construct, out);
}

PvlResult S5K3E2FXAFDriver::Execute(uint32_t command, void* input, uint32_t inputSize, void* output,
                                    uint32_t outputSize, uint32_t* outputLength) {
  if (command != ZUEUID_SENSOR_CMD_FOCUS) return PVL_E_UNSUPPORTED;
  return S5K3E2FX_AF_Focus(self, input, inputSize, output, outputSize, outputLength);
}

// The actuator has nothing to bring to rest.
PvlResult S5K3E2FXAFDriver::Stop() {
  if (!self) return PVL_E_NULLPTR;
  return PVL_E_UNSUPPORTED;
}
