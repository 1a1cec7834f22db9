#include "cvfetuning.h"

#include "camerasettings.h"
#include "cfixedpoint.h"
#include "cpvlptr.h"
#include "pvllog.h"

void CVfeTuning::MustGetValue(TuningParamId id, TuningTrigger* out, VfeTuningSource source) {
  VfeMustRead([&](ITuningParams* p) { return p->GetTrigger(id, out); }, source);
}

TuningTrigger CVfeTuning::GetValue(TuningParamId id, PvlResult* result, VfeTuningSource source) {
  TuningTrigger trigger{};
  PvlResult r = VfeGuarded([&] { MustGetValue(id, &trigger, source); });
  if (result) *result = r;
  return trigger;
}

PvlResult CVfeTuning::GetChannelGains(TuningParamId id, TuningChannelGains* out, VfeTuningSource source) {
  return VfeGuarded([&] { VfeMustRead([&](ITuningParams* p) { return p->GetChannelGains(id, out); }, source); });
}

PvlResult CVfeTuning::GetChromaSuppTable(TuningParamId id, TuningChromaSupp* out, VfeTuningSource source) {
  return VfeGuarded([&] { VfeMustRead([&](ITuningParams* p) { return p->GetChromaSupp(id, out); }, source); });
}

PvlResult CVfeTuning::GetColorConvTable(TuningParamId id, TuningColorConvMatrix* out, VfeTuningSource source) {
  return VfeGuarded([&] { VfeMustRead([&](ITuningParams* p) { return p->GetColorConvMatrix(id, out); }, source); });
}

PvlResult CVfeTuning::GetColorCorrMatrix(TuningParamId id, TuningColorCorrMatrix* out, VfeTuningSource source) {
  return VfeGuarded([&] { VfeMustRead([&](ITuningParams* p) { return p->GetColorCorrMatrix(id, out); }, source); });
}

PvlResult CVfeTuning::GetBlackLevelValue(TuningParamId id, TuningBlackLevel4Channel* out, VfeTuningSource source) {
  return VfeGuarded([&] { VfeMustRead([&](ITuningParams* p) { return p->GetBlackLevel4Channel(id, out); }, source); });
}

PvlResult CVfeTuning::GetGammaTable(TuningParamId id, TuningGammaTable* out, VfeTuningSource source) {
  return VfeGuarded([&] { VfeMustRead([&](ITuningParams* p) { return p->GetGammaTable(id, out); }, source); });
}

PvlResult VfeTriggerRatio(IVfeSettings* settings, uint32_t selector, const TuningTrigger& trigger, float* ratio) {
  if (!settings || !ratio) return PVL_E_NULLPTR;
  if (selector == 0) {
    uint32_t lux = 0;
    PvlResult r = settings->GetAecIndex(&lux);
    if (r != PVL_OK) return r;
    int32_t index = static_cast<int32_t>(lux);
    if (index <= trigger.LuxIndexStart) {
      *ratio = 0.0f;
    } else if (index >= trigger.LuxIndexEnd) {
      *ratio = 1.0f;
    } else {
      int32_t span = trigger.LuxIndexEnd - trigger.LuxIndexStart;
      if (span == 0) return PVL_E_BADARG;
      *ratio = static_cast<float>(index - trigger.LuxIndexStart) / static_cast<float>(span);
    }
    return PVL_OK;
  }
  if (selector == 1) {
    CFixedPoint gain;
    PvlResult r = settings->GetExposureGain(&gain);
    if (r != PVL_OK) return r;
    CFixedPoint start(static_cast<double>(trigger.GainStart)), end(static_cast<double>(trigger.GainEnd));
    if (gain <= start) {
      *ratio = 0.0f;
    } else if (gain >= end) {
      *ratio = 1.0f;
    } else {
      float g = 0.0f;
      r = gain.GetFloat(&g);
      if (r != PVL_OK) return r;
      if (trigger.GainEnd == trigger.GainStart) return PVL_E_BADARG;
      *ratio = (g - trigger.GainStart) / (trigger.GainEnd - trigger.GainStart);
    }
    return PVL_OK;
  }
  return PVL_E_NOTREPRESENTABLE;
}

PvlResult VfeReadTriggerRatio(IVfeSettings* settings, TuningParamId selectorId, TuningParamId triggerId, float* ratio) {
  uint32_t selector = 0;
  PvlResult r = TuningData_GetModuleEnable(selectorId, &selector);
  if (r != PVL_OK) return r;
  const TuningTrigger trigger = CVfeTuning::GetValue(triggerId, &r);
  if (r != PVL_OK) return r;
  return VfeTriggerRatio(settings, selector, trigger, ratio);
}
