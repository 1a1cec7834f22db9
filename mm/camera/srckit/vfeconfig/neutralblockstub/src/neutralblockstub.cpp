#include "neutralblockstub.h"

namespace {

template <class Record>
PvlResult Send(IVfeServiceInternal* service, int32_t command, const Record& record) {
  return service->SendCommand(command, &record, sizeof record);
}

// Q7 unity.
constexpr uint16_t kUnityGain = 0x80;

}  // namespace

PvlResult CNeutralBlockStub::Apply(IVfeServiceInternal* service, int32_t command) {
  if (!service) return PVL_E_NULLPTR;
  switch (command) {
    case VFE_CMD_BLACK_LEVEL:
    case VFE_CMD_BLACK_LEVEL_UPDATE:
      return Send(service, command, VfeBlackLevelCmd{});
    case VFE_CMD_CHANNEL_GAIN:
    case VFE_CMD_CHANNEL_GAIN_UPDATE:
      return Send(service, command, VfeChannelGainCmd{{kUnityGain, kUnityGain, kUnityGain, kUnityGain}});
    case VFE_CMD_WHITE_BALANCE:
    case VFE_CMD_WHITE_BALANCE_UPDATE:
      return Send(service, command, VfeWhiteBalanceCmd{});
    case VFE_CMD_COLOR_CORR:
    case VFE_CMD_COLOR_CORR_UPDATE:
      return Send(service, command, VfeColorCorrCmd{});
    case VFE_CMD_GAMMA:
    case VFE_CMD_GAMMA_UPDATE: {
      static const VfeGammaCmd kOff{};
      return Send(service, command, kOff);
    }
    case VFE_CMD_COLOR_CONV:
    case VFE_CMD_COLOR_CONV_UPDATE:
      return Send(service, command, VfeColorConvCmd{});
    case VFE_CMD_CHROMA_SUPP:
    case VFE_CMD_CHROMA_SUPP_UPDATE:
      return Send(service, command, VfeChromaSuppCmd{});
    case VFE_CMD_LUMA_ADAPTATION:
    case VFE_CMD_LUMA_ADAPTATION_UPDATE: {
      static const VfeLumaAdaptationCmd kOff{};
      return Send(service, command, kOff);
    }
    default:
      return PVL_E_BADARG;
  }
}
