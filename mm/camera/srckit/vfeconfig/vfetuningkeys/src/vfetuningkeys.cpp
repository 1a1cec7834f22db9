#include "vfetuningkeys.h"

#include "cruntimetuning.h"
#include "cvfeconfiguration.h"

namespace {

using B = VfeKeyBlock;
constexpr VfeKeyField kEnable = VfeKeyField::Enable;
constexpr VfeKeyField kControl = VfeKeyField::ControlEnable;
constexpr VfeKeyField kField = VfeKeyField::Payload;

constexpr uint32_t ElementSize(TuningValueType type) {
  return type == TUNING_TYPE_S8 || type == TUNING_TYPE_U8 ? 1 : type == TUNING_TYPE_S16 || type == TUNING_TYPE_U16 ? 2 : 4;
}

}  // namespace

// Switch keys carry flag word 0 except the filter's, which the tool shows as
// it does the filter's fields.
const VfeTuningKey kVfeTuningKeys[kVfeTuningKeyCount] = {
    {"ASF-Enable", B::ASF, kEnable, 0, TUNING_TYPE_U16, 1, 1},
    {"ASF-ControlEnable", B::ASF, kControl, 0, TUNING_TYPE_U16, 1, 1},
    {"ASF-SettingCurrentSmoothCoefSurr", B::ASF, kField, 4, TUNING_TYPE_U8, 1, 1},
    {"ASF-SettingCurrentSmoothCoefCenter", B::ASF, kField, 3, TUNING_TYPE_U8, 1, 1},
    {"ASF-SettingCurrentNormalizeFactor", B::ASF, kField, 5, TUNING_TYPE_U8, 1, 1},
    {"ASF-SettingCurrentSharpAmtF1", B::ASF, kField, 6, TUNING_TYPE_U8, 1, 1},
    {"ASF-SettingCurrentSharpAmtF2", B::ASF, kField, 7, TUNING_TYPE_U8, 1, 1},
    {"ASF-SettingCurrentLowThresh", B::ASF, kField, 8, TUNING_TYPE_U8, 1, 1},
    {"ASF-SettingCurrentUpThresh", B::ASF, kField, 9, TUNING_TYPE_S8, 1, 1},
    {"ASF-SettingCurrentNegThresh", B::ASF, kField, 10, TUNING_TYPE_S8, 1, 1},
    {"ASF-SettingCurrentUpThreshF2", B::ASF, kField, 11, TUNING_TYPE_S8, 1, 1},
    {"ASF-SettingCurrentNegThreshF2", B::ASF, kField, 12, TUNING_TYPE_S8, 1, 1},
    {"ASF-SettingCurrentFilter1Coefficients", B::ASF, kField, 13, TUNING_TYPE_S8, 9, 1},
    {"ASF-SettingCurrentFilter2Coefficients", B::ASF, kField, 22, TUNING_TYPE_S8, 9, 1},

    {"BlackLevel-Enable", B::BlackLevel, kEnable, 0, TUNING_TYPE_U16, 1, 0},
    {"BlackLevel-ControlEnable", B::BlackLevel, kControl, 0, TUNING_TYPE_U16, 1, 0},
    {"BlackLevel-Current4Channel-BlackEvenRowEvenCol", B::BlackLevel, kField, 2, TUNING_TYPE_U16, 1, 1},
    {"BlackLevel-Current4Channel-BlackEvenRowOddCol", B::BlackLevel, kField, 4, TUNING_TYPE_U16, 1, 1},
    {"BlackLevel-Current4Channel-BlackOddRowEvenCol", B::BlackLevel, kField, 6, TUNING_TYPE_U16, 1, 1},
    {"BlackLevel-Current4Channel-BlackOddRowOddCol", B::BlackLevel, kField, 8, TUNING_TYPE_U16, 1, 1},

    {"ChannelGain-ControlEnable", B::ChannelGain, kControl, 0, TUNING_TYPE_U16, 1, 0},
    {"ChannelGain-GreenEvenRow", B::ChannelGain, kField, 0, TUNING_TYPE_U16, 1, 1},
    {"ChannelGain-GreenOddRow", B::ChannelGain, kField, 2, TUNING_TYPE_U16, 1, 1},
    {"ChannelGain-Blue", B::ChannelGain, kField, 4, TUNING_TYPE_U16, 1, 1},
    {"ChannelGain-Red", B::ChannelGain, kField, 6, TUNING_TYPE_U16, 1, 1},

    {"ChromaSupp-Enable", B::ChromaSupp, kEnable, 0, TUNING_TYPE_U16, 1, 0},
    {"ChromaSupp-ControlEnable", B::ChromaSupp, kControl, 0, TUNING_TYPE_U16, 1, 0},
    {"ChromaSupp-m1", B::ChromaSupp, kField, 1, TUNING_TYPE_U8, 1, 1},
    {"ChromaSupp-n1", B::ChromaSupp, kField, 3, TUNING_TYPE_U8, 1, 1},
    {"ChromaSupp-m3", B::ChromaSupp, kField, 2, TUNING_TYPE_U8, 1, 1},
    {"ChromaSupp-n3", B::ChromaSupp, kField, 4, TUNING_TYPE_U8, 1, 1},
    {"ChromaSupp-mm1", B::ChromaSupp, kField, 6, TUNING_TYPE_U8, 1, 1},
    {"ChromaSupp-nn1", B::ChromaSupp, kField, 5, TUNING_TYPE_U8, 1, 1},

    {"ColorConv-Enable", B::ColorConv, kEnable, 0, TUNING_TYPE_U16, 1, 0},
    {"ColorConv-ControlEnable", B::ColorConv, kControl, 0, TUNING_TYPE_U16, 1, 0},
    {"ColorConv-Current-CbScalingNegative_am", B::ColorConv, kField, 2, TUNING_TYPE_S16, 1, 1},
    {"ColorConv-Current-CbScalingPositive_ap", B::ColorConv, kField, 4, TUNING_TYPE_S16, 1, 1},
    {"ColorConv-Current-DiffRGtoCbShearingNegative_bm", B::ColorConv, kField, 6, TUNING_TYPE_S16, 1, 1},
    {"ColorConv-Current-DiffRGtoCbShearingPositive_bp", B::ColorConv, kField, 8, TUNING_TYPE_S16, 1, 1},
    {"ColorConv-Current-CrScalingNegative_cm", B::ColorConv, kField, 10, TUNING_TYPE_S16, 1, 1},
    {"ColorConv-Current-CrScalingPositive_cp", B::ColorConv, kField, 12, TUNING_TYPE_S16, 1, 1},
    {"ColorConv-Current-DiffBGtoCrShearingNegative_dm", B::ColorConv, kField, 14, TUNING_TYPE_S16, 1, 1},
    {"ColorConv-Current-DiffBGtoCrShearingPositive_dp", B::ColorConv, kField, 16, TUNING_TYPE_S16, 1, 1},
    {"ColorConv-Current-CROffset_k_cr", B::ColorConv, kField, 18, TUNING_TYPE_S16, 1, 1},
    {"ColorConv-Current-CBOffset_k_cb", B::ColorConv, kField, 20, TUNING_TYPE_S16, 1, 1},
    {"ColorConv-Current-GtoY", B::ColorConv, kField, 24, TUNING_TYPE_S16, 1, 1},
    {"ColorConv-Current-BtoY", B::ColorConv, kField, 26, TUNING_TYPE_S16, 1, 1},
    {"ColorConv-Current-RtoY", B::ColorConv, kField, 22, TUNING_TYPE_S16, 1, 1},
    {"ColorConv-Current-Yoffset", B::ColorConv, kField, 28, TUNING_TYPE_U8, 1, 1},

    {"ColorCorr-Enable", B::ColorCorr, kEnable, 0, TUNING_TYPE_U16, 1, 0},
    {"ColorCorr-ControlEnable", B::ColorCorr, kControl, 0, TUNING_TYPE_U16, 1, 0},
    {"ColorCorr-Current-coefQFactor", B::ColorCorr, kField, 4, TUNING_TYPE_S16, 1, 1},
    {"ColorCorr-Current-GtoG", B::ColorCorr, kField, 8, TUNING_TYPE_S16, 1, 1},
    {"ColorCorr-Current-BtoG", B::ColorCorr, kField, 10, TUNING_TYPE_S16, 1, 1},
    {"ColorCorr-Current-RtoG", B::ColorCorr, kField, 12, TUNING_TYPE_S16, 1, 1},
    {"ColorCorr-Current-GtoB", B::ColorCorr, kField, 14, TUNING_TYPE_S16, 1, 1},
    {"ColorCorr-Current-BtoB", B::ColorCorr, kField, 16, TUNING_TYPE_S16, 1, 1},
    {"ColorCorr-Current-RtoB", B::ColorCorr, kField, 18, TUNING_TYPE_S16, 1, 1},
    {"ColorCorr-Current-GtoR", B::ColorCorr, kField, 20, TUNING_TYPE_S16, 1, 1},
    {"ColorCorr-Current-BtoR", B::ColorCorr, kField, 22, TUNING_TYPE_S16, 1, 1},
    {"ColorCorr-Current-RtoR", B::ColorCorr, kField, 24, TUNING_TYPE_S16, 1, 1},
    {"ColorCorr-Current-GOffset", B::ColorCorr, kField, 26, TUNING_TYPE_S16, 1, 1},
    {"ColorCorr-Current-BOffset", B::ColorCorr, kField, 28, TUNING_TYPE_S16, 1, 1},
    {"ColorCorr-Current-ROffset", B::ColorCorr, kField, 30, TUNING_TYPE_S16, 1, 1},

    {"Demosaic-Enable", B::Demosaic, kEnable, 0, TUNING_TYPE_U16, 1, 0},
    {"Demosaic-ControlEnable", B::Demosaic, kControl, 0, TUNING_TYPE_U16, 1, 0},
    {"ABF-shift", B::Demosaic, kField, 4, TUNING_TYPE_U8, 1, 1},
    {"ABF-lpThreshold", B::Demosaic, kField, 6, TUNING_TYPE_U16, 1, 1},
    {"ABF-max", B::Demosaic, kField, 8, TUNING_TYPE_U16, 1, 1},
    {"ABF-min", B::Demosaic, kField, 10, TUNING_TYPE_U16, 1, 1},
    {"ABF-ratio", B::Demosaic, kField, 12, TUNING_TYPE_U8, 1, 1},

    {"Gamma-Enable", B::Gamma, kEnable, 0, TUNING_TYPE_U16, 1, 0},
    {"Gamma-ControlEnable", B::Gamma, kControl, 0, TUNING_TYPE_U16, 1, 0},
    {"Rolloff-Enable", B::Rolloff, kEnable, 0, TUNING_TYPE_U16, 1, 0},
    {"Rolloff-ControlEnable", B::Rolloff, kControl, 0, TUNING_TYPE_U16, 1, 0},
    {"AF-Enable", B::AFStats, kEnable, 0, TUNING_TYPE_U16, 1, 0},
    {"AF-ControlEnable", B::AFStats, kControl, 0, TUNING_TYPE_U16, 1, 0},
    {"AWBExt-Enable", B::AWBExtStats, kEnable, 0, TUNING_TYPE_U16, 1, 0},
    {"AWBExt-ControlEnable", B::AWBExtStats, kControl, 0, TUNING_TYPE_U16, 1, 0},

    {"AWB-Enable", B::WhiteBalance, kEnable, 0, TUNING_TYPE_U16, 1, 0},
    {"AWB-ControlEnable", B::WhiteBalance, kControl, 0, TUNING_TYPE_U16, 1, 0},
    {"AWB-rGain", B::WhiteBalance, kField, 2, TUNING_TYPE_U16, 1, 1},
    {"AWB-gGain", B::WhiteBalance, kField, 6, TUNING_TYPE_U16, 1, 1},
    {"AWB-bGain", B::WhiteBalance, kField, 4, TUNING_TYPE_U16, 1, 1},

    {"LumaAdaptation-Enable", B::LumaAdaptation, kEnable, 0, TUNING_TYPE_U16, 1, 0},
    {"LumaAdaptation-ControlEnable", B::LumaAdaptation, kControl, 0, TUNING_TYPE_U16, 1, 0},
};

void VfeTuningKeys_Register(CRuntimeTuning* registry, VfeKeyBlock block, void* payload, uint32_t payloadSize,
                            CTuningFlag* enable, CTuningFlag* controlEnable) {
  if (!registry) return;
  // A switch is one u16 over its two bytes: the value low, the changed marker high.
  const TuningValueType flagType = registry->TypeFromSize(sizeof(CTuningFlag), 0);
  uint8_t* bytes = static_cast<uint8_t*>(payload);
  for (const VfeTuningKey& key : kVfeTuningKeys) {
    if (key.block != block) continue;
    switch (key.field) {
      case VfeKeyField::Enable:
        if (enable) (void)registry->Register(key.name, enable, flagType, 1, key.flags);
        break;
      case VfeKeyField::ControlEnable:
        if (controlEnable) (void)registry->Register(key.name, controlEnable, flagType, 1, key.flags);
        break;
      case VfeKeyField::Payload:
        if (bytes && key.offset + ElementSize(key.type) * key.count <= payloadSize)
          (void)registry->Register(key.name, bytes + key.offset, key.type, key.count, key.flags);
        break;
    }
  }
}
