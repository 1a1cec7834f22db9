// Client helpers of the tuning-data service for code that holds no service
// pointer: each reaches the environment's one service and lets it go again.
#include <new>

#include "cpvlptr.h"
#include "hostsymbols.h"
#include "ienv.h"
#include "pvllog.h"
#include "tuningdata.h"

PvlResult TuningData_GetService(ITuningData** out) {
  if (!out) return PVL_E_NULLPTR;
  *out = nullptr;
  CPvlPtr<IEnv> env;
  PvlResult r = env_env_CreateInstance(ZUEUID_CLASS_ENV, env.Out());
  if (r != PVL_OK) return r;
  return env->CreateInstance(ZUEUID_CLASS_TUNING_DATA, reinterpret_cast<void**>(out));
}

PvlResult TuningData_GetParamsInterface(ITuningParams** out) {
  if (!out) return PVL_E_NULLPTR;
  *out = nullptr;
  CPvlPtr<ITuningData> service;
  PvlResult r = TuningData_GetService(&service);
  if (r != PVL_OK) return r;
  return service->QueryInterface(ZUEUID_IFACE_TUNING_PARAMS, reinterpret_cast<void**>(out));
}

PvlResult TuningData_GetIntParam(TuningParamId id, int32_t* out) {
  CPvlPtr<ITuningData> service;
  PvlResult r = TuningData_GetService(&service);
  if (r != PVL_OK) return r;
  return service->GetIntParam(id, out);
}

PvlResult TuningData_GetWordParam(TuningParamId id, uint32_t* out) {
  CPvlPtr<ITuningData> service;
  PvlResult r = TuningData_GetService(&service);
  if (r != PVL_OK) return r;
  return service->GetWordParam(id, out);
}

PvlResult TuningData_GetModuleEnable(TuningParamId id, uint32_t* out) {
  CPvlPtr<ITuningParams> params;
  PvlResult r = TuningData_GetParamsInterface(&params);
  if (r != PVL_OK) return r;
  return params->GetModuleEnable(id, out);
}

namespace {

// The throwing form of a helper: the value, or Camera::CZUEException with the code.
template <class T>
T MustGet(PvlResult (*get)(TuningParamId, T*), TuningParamId id) {
  T v = 0;
  PvlResult r = get(id, &v);
  if (r != PVL_OK) throw Camera::CZUEException(r);
  return v;
}

}  // namespace

int32_t TuningData_MustGetIntParam(TuningParamId id) { return MustGet(&TuningData_GetIntParam, id); }
uint32_t TuningData_MustGetWordParam(TuningParamId id) { return MustGet(&TuningData_GetWordParam, id); }
uint32_t TuningData_MustGetModuleEnable(TuningParamId id) { return MustGet(&TuningData_GetModuleEnable, id); }
