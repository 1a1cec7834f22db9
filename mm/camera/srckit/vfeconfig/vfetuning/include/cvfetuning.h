// How the block computations read tuning records: a throwing core
// (Camera::CZUEException with the failing code) under a wrapper that turns any
// failure into a result code, and the rule by which a block takes its
// normal-light table, its low-light table or a blend of both.
#pragma once

#include <stdint.h>

#include "cpvlptr.h"
#include "pvllog.h"
#include "tuningblock.h"
#include "tuningdata.h"
#include "tuningparamid.h"

class IVfeSettings;

// Which chain computes a block: it picks the tuning identifiers (preview or
// snapshot) and the variant's behaviour (smoothing, snapshot gains, the
// update command while video runs).
enum class VfeChain : uint8_t { Video, Snapshot, Runtime };

// Where the tuning-parameter face comes from (the environment's tuning-data
// service, or a test's).
typedef PvlResult (*VfeTuningSource)(ITuningParams** out);

class CVfeTuning {
 public:
  // Never throw: 0, the exception's code, or 1 for any other exception.
  static TuningTrigger GetValue(TuningParamId id, PvlResult* result, VfeTuningSource source = nullptr);
  static PvlResult GetChannelGains(TuningParamId id, TuningChannelGains* out, VfeTuningSource source = nullptr);
  static PvlResult GetChromaSuppTable(TuningParamId id, TuningChromaSupp* out, VfeTuningSource source = nullptr);
  static PvlResult GetColorConvTable(TuningParamId id, TuningColorConvMatrix* out, VfeTuningSource source = nullptr);
  static PvlResult GetColorCorrMatrix(TuningParamId id, TuningColorCorrMatrix* out, VfeTuningSource source = nullptr);
  static PvlResult GetBlackLevelValue(TuningParamId id, TuningBlackLevel4Channel* out,
                                     VfeTuningSource source = nullptr);
  static PvlResult GetGammaTable(TuningParamId id, TuningGammaTable* out, VfeTuningSource source = nullptr);

  // Throw Camera::CZUEException with the failing code. A source that succeeds
  // without an interface counts as no tuning data (13).
  static void MustGetValue(TuningParamId id, TuningTrigger* out, VfeTuningSource source = nullptr);
};

// The light-range rule: *ratio 0 takes table A (at and below the start), 1
// table B (at and above the end), anything between blends A + ratio (B - A).
// selector 0 reads the lux index, 1 the sensor gain; any other selector 16.
PvlResult VfeTriggerRatio(IVfeSettings* settings, uint32_t selector, const TuningTrigger& trigger, float* ratio);
// The same for a block whose selector and trigger sit in the tuning under the
// given identifiers: the first failing read's code, else the ratio's.
PvlResult VfeReadTriggerRatio(IVfeSettings* settings, TuningParamId selectorId, TuningParamId triggerId, float* ratio);

// A step of a throwing block computation: a failure ends it with its code.
inline void VfeMust(PvlResult r) {
  if (r != PVL_OK) throw Camera::CZUEException(r);
}

// Runs one getter on the tuning-parameter face (the environment's, or the
// given source's); throws Camera::CZUEException with its failure (13 when no
// tuning data is there).
template <class Get>
void VfeMustRead(Get get, VfeTuningSource source = nullptr) {
  CPvlPtr<ITuningParams> params;
  PvlResult r = (source ? source : TuningData_GetParamsInterface)(&params);
  if (r != PVL_OK) throw Camera::CZUEException(r);
  // Success without a face: there is no tuning data to read.
  if (!params) throw Camera::CZUEException(PVL_E_NOTREADY);
  r = get(params.Get());
  if (r != PVL_OK) throw Camera::CZUEException(r);
}

// Runs a throwing block computation: 0, the exception's code, or 1 for any
// other exception.
template <class Body>
PvlResult VfeGuarded(Body body) {
  try {
    body();
    return PVL_OK;
  } catch (const Camera::CZUEException& e) {
    return e.GetResult();
  } catch (...) {
    return PVL_E_FAIL;
  }
}
