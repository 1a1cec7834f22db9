#include "neutralblockstub.h"

namespace {

template <class Record>
PvlResult Send(IVfeServiceInternal* service, int32_t command, const Record& record) {
  return service->SendCommand(command, &record, sizeof record);
}

}  // namespace

PvlResult CNeutralBlockStub::Apply(IVfeServiceInternal* service, int32_t command) {
  if (!service) return PVL_E_NULLPTR;
  switch (command) {
    case VFE_CMD_ROLLOFF: {
      static const VfeRolloffCmd kOff{};
      return Send(service, command, kOff);
    }
    case VFE_CMD_DEMOSAIC: {
      VfeDemosaicCmd demosaic{};
      demosaic.enable = 1;
      return Send(service, command, demosaic);
    }
    case VFE_CMD_ASF:
      return Send(service, command, VfeAsfCmd{});
    case VFE_CMD_ASF_UPDATE:
      return Send(service, command, VfeAsfUpdateCmd{});
    case VFE_CMD_DEMOSAIC_UPDATE1:
      return Send(service, command, VfeDemosaicUpdate1Cmd{});
    case VFE_CMD_DEMOSAIC_UPDATE2:
      return Send(service, command, VfeDemosaicUpdate2Cmd{});
    case VFE_CMD_AF_STATS:
      return Send(service, command, VfeAfStatsCmd{});
    case VFE_CMD_AF_STATS_UPDATE:
      return Send(service, command, VfeAfStatsUpdateCmd{});
    case VFE_CMD_AWBEXT_STATS: {
      // Collecting statistics leaves the picture as it is; the white-balance
      // and exposure statistics run only beside these.
      VfeAwbExtStatsCmd awb{};
      awb.enable = 1;
      return Send(service, command, awb);
    }
    case VFE_CMD_AWBEXT_STATS_UPDATE:
      return Send(service, command, VfeAwbExtStatsUpdateCmd{});
    default:
      return PVL_E_BADARG;
  }
}
