// The VFE driver's register map against the board's hardware model's map. The
// two are written apart on purpose (the driver must not take the model's word
// for where a register is), so one table holds every register, bit and table
// code both of them name, and each row must agree.
#include <gtest/gtest.h>

#include <stdint.h>

#include "board_vfe.h"
#include "vfe_model.h"
#include "vferegistermap.h"

namespace vfedrivertest {
namespace {

namespace drv = vfereg;
namespace hw = board::vfe;

struct Agreement {
  const char* name;
  uint32_t driver;
  uint32_t model;
};

// Offsets first, then bits (the driver names bit numbers, the model masks:
// the driver's side is shifted into a mask), then table codes and commands.
const Agreement kRegisters[] = {
    {"Version", drv::kVersion, hw::kRegVersion},
    {"ResetCmd", drv::kResetCmd, hw::kRegResetCmd},
    {"ClockEnable", drv::kClockEnable, hw::kRegClockEnable},
    {"ModuleEnable", drv::kModuleEnable, hw::kRegModuleEnable},
    {"InputFormat", drv::kInputFormat, hw::kRegInputFormat},
    {"IrqMask", drv::kIrqMask, hw::kRegIrqMask},
    {"IrqClear", drv::kIrqClear, hw::kRegIrqClear},
    {"IrqStatus", drv::kIrqStatus, hw::kRegIrqStatus},
    {"OutputSelect", drv::kOutputSelect, hw::kRegOutputSelect},
    {"StartControl", drv::kStartControl, hw::kRegStartControl},
    {"OutputControl", drv::kOutputControl, hw::kRegOutputControl},
    {"Out2YPing", drv::kOut2YPing, hw::kRegOut2YPing},
    {"Out2YPong", drv::kOut2YPong, hw::kRegOut2YPong},
    {"Out2YGeometry", drv::kOut2YGeometry, hw::kRegOut2YGeometry},
    {"Out2CPing", drv::kOut2CPing, hw::kRegOut2CPing},
    {"Out2CPong", drv::kOut2CPong, hw::kRegOut2CPong},
    {"Out2CGeometry", drv::kOut2CGeometry, hw::kRegOut2CGeometry},
    {"Out1YPing", drv::kOut1YPing, hw::kRegOut1YPing},
    {"Out1YPong", drv::kOut1YPong, hw::kRegOut1YPong},
    {"Out1YGeometry", drv::kOut1YGeometry, hw::kRegOut1YGeometry},
    {"Out1CPing", drv::kOut1CPing, hw::kRegOut1CPing},
    {"Out1CPong", drv::kOut1CPong, hw::kRegOut1CPong},
    {"Out1CGeometry", drv::kOut1CGeometry, hw::kRegOut1CGeometry},
    {"AfPing", drv::kAfPing, hw::kRegAfPing},
    {"AfPong", drv::kAfPong, hw::kRegAfPong},
    {"WbExpPing", drv::kWbExpPing, hw::kRegWbPing},
    {"WbExpPong", drv::kWbExpPong, hw::kRegWbPong},
    {"PingPongStatus", drv::kPingPongStatus, hw::kRegPingPongStatus},
    {"WriteMasterCmd", drv::kWriteMasterCmd, hw::kRegWriteMasterCmd},
    {"WriteMasterEnables", drv::kWriteMasterEnables, hw::kRegWriteMasterEnables},
    {"PathStatusOutput2", drv::kPathStatusOutput2, hw::kRegPathStatusOut2},
    {"PathStatusOutput1", drv::kPathStatusOutput1, hw::kRegPathStatusOut1},
    {"StopRequest", drv::kStopRequest, hw::kRegStopRequest},
    {"StopStatus", drv::kStopStatus, hw::kRegStopStatus},
    {"CamifCommand", drv::kCamifCommand, hw::kRegCamifCommand},
    {"CamifPixels", drv::kCamifPixels, hw::kRegCamifPixels},
    {"CamifLines", drv::kCamifLines, hw::kRegCamifLines},
    {"CamifSkip", drv::kCamifSkip, hw::kRegCamifSkip},
    {"CamifStatus", drv::kCamifStatus, hw::kRegCamifStatus},
    {"Update", drv::kUpdate, hw::kRegUpdate},
    {"BlackLevel", drv::kBlackLevel, hw::kRegBlackLevel},
    {"RolloffGrid", drv::kRolloffGrid, hw::kRegRolloffGrid},
    {"ChannelGain", drv::kChannelGain, hw::kRegChannelGain},
    {"Demosaic", drv::kDemosaic, hw::kRegDemosaic},
    {"AbfThreshold", drv::kAbfThreshold, hw::kRegAbfThreshold},
    {"AbfLevels", drv::kAbfLevels, hw::kRegAbfLevels},
    {"BpcRedBlue", drv::kBpcRedBlue, hw::kRegBpcRedBlue},
    {"BpcGreen", drv::kBpcGreen, hw::kRegBpcGreen},
    {"Status1D8", drv::kStatus1D8, hw::kRegStatus1D8},
    {"FovCropPixels", drv::kFovCrop, hw::kRegFovPixels},
    {"FovCropLines", drv::kFovCrop + 4, hw::kRegFovLines},
    {"ColourCorrection", drv::kColourCorrection, hw::kRegColourCorrection},
    {"LumaBank", drv::kLumaBank, hw::kRegLumaBank},
    {"GammaBanks", drv::kGammaBanks, hw::kRegGammaBanks},
    {"ColourConversion", drv::kColourConversion, hw::kRegColourConversion},
    {"Asf", drv::kAsf, hw::kRegAsf},
    {"Status264", drv::kStatus264, hw::kRegStatus264},
    {"MainScaler", drv::kMainScaler, hw::kRegMainScaler},
    {"YScaler", drv::kYScaler, hw::kRegYScaler},
    {"CbCrScaler", drv::kCbCrScaler, hw::kRegCbCrScaler},
    {"WhiteBalance", drv::kWhiteBalance, hw::kRegWhiteBalance},
    {"ChromaSuppression", drv::kChromaSuppression, hw::kRegChromaSuppression},
    {"Out2DropPeriod", drv::kOut2DropPeriod, hw::kRegOut2DropPeriod},
    {"Out2DropPattern", drv::kOut2DropPattern, hw::kRegOut2DropPattern},
    {"Out1DropPeriod", drv::kOut1DropPeriod, hw::kRegOut1DropPeriod},
    {"Out1DropPattern", drv::kOut1DropPattern, hw::kRegOut1DropPattern},
    {"ClampMax", drv::kClampMax, hw::kRegClampMax},
    {"ClampMin", drv::kClampMin, hw::kRegClampMin},
    {"StatsEnable", drv::kStatsEnable, hw::kRegStatsEnable},
    {"AfWindow", drv::kAfWindow, hw::kRegAfWindow},
    {"AfCellSelect", drv::kAfCellSelect, hw::kRegAfSelect},
    {"AfFilter", drv::kAfFilter, hw::kRegAfFilter},
    {"AfTaps", drv::kAfTaps, hw::kRegAfTaps},
    {"AwbConfig", drv::kAwbConfig, hw::kRegAwbConfig},
    {"AwbSlopes", drv::kAwbSlopes, hw::kRegAwbSlopes},
    {"AwbOffsets12", drv::kAwbOffsets12, hw::kRegAwbOffsets12},
    {"AwbOffsets34", drv::kAwbOffsets34, hw::kRegAwbOffsets34},
    {"StatsArea", drv::kStatsArea, hw::kRegStatsArea},
    {"TableSelect", drv::kTableSelect, hw::kRegTableSelect},
    {"TableIndex", drv::kTableIndex, hw::kRegTableIndex},
    {"TableData", drv::kTableData, hw::kRegTableData},
    {"Block23Control", drv::kBlock23Control, hw::kRegBlock23Control},

    {"ModBlackLevel", 1u << drv::kModBlackLevel, hw::kModBlackLevel},
    {"ModRolloff", 1u << drv::kModRolloff, hw::kModRolloff},
    {"ModDemosaic", 1u << drv::kModDemosaic, hw::kModDemosaic},
    {"ModStatistics", 1u << drv::kModStatistics, hw::kModStatistics},
    {"ModMainScaler", 1u << drv::kModMainScaler, hw::kModMainScaler},
    {"ModWhiteBalance", 1u << drv::kModWhiteBalance, hw::kModWhiteBalance},
    {"ModColourCorrection", 1u << drv::kModColourCorrection, hw::kModColourCorrection},
    {"ModLumaAdaptation", 1u << drv::kModLumaAdaptation, hw::kModLumaAdaptation},
    {"ModGamma", 1u << drv::kModGamma, hw::kModGamma},
    {"ModColourConversion", 1u << drv::kModColourConversion, hw::kModColourConversion},
    {"ModAsf", 1u << drv::kModAsf, hw::kModAsf},
    {"ModChromaSuppression", 1u << drv::kModChromaSuppression, hw::kModChromaSuppression},
    {"ModYScaler", 1u << drv::kModYScaler, hw::kModYScaler},
    {"ModCbCrScaler", 1u << drv::kModCbCrScaler, hw::kModCbCrScaler},
    {"StatsAf", 1u << drv::kStatsAf, hw::kStatsAf},
    {"StatsWbExp", 1u << drv::kStatsAwbExt, hw::kStatsWbExp},
    {"PingPongOutput2", 1u << drv::kPingPongOutput2, hw::kPingPongOut2},
    {"PingPongOutput1", 1u << drv::kPingPongOutput1, hw::kPingPongOut1},
    {"PingPongAf", 1u << drv::kPingPongAf, hw::kPingPongAf},
    {"PingPongWbExp", 1u << drv::kPingPongWbExp, hw::kPingPongWb},
    {"StopAcknowledged", drv::kStopAcknowledged, hw::kStopAcknowledged},
    {"IrqCamifError", drv::kIrqCamifError, kVfeIrqCamifError},
    {"IrqStartOfFrame", drv::kIrqStartOfFrame, kVfeIrqStartOfFrame},
    {"IrqUpdate", drv::kIrqUpdate, kVfeIrqUpdate},
    {"IrqResetDone", drv::kIrqResetDone, kVfeIrqResetDone},
    {"IrqAfDone", drv::kIrqAfDone, kVfeIrqAfDone},
    {"IrqWbExpDone", drv::kIrqWbExpDone, kVfeIrqWbExpDone},
    {"IrqOutput2Done", drv::kIrqOutput2Done, kVfeIrqOutput2Done},
    {"IrqOutput1Done", drv::kIrqOutput1Done, kVfeIrqOutput1Done},
    {"IrqOutputStatus", drv::kIrqOutputStatus, kVfeIrqOutputStatus},
    {"FaultOverflow", drv::kFaultOverflow, kVfePathOverflow},
    {"FaultBusError", drv::kFaultBusError, kVfePathBusError},
    {"FaultGeometryMismatch", drv::kFaultGeometryMismatch, kVfePathGeometryMismatch},
    {"FaultAddressRefused", drv::kFaultAddressRefused, kVfePathAddressRefused},
    {"FaultPayloadRefused", drv::kFaultPayloadRefused, kVfePathPayloadRefused},

    {"TableRolloff", drv::kTableRolloff, hw::kRolloffTable},
    {"RolloffStepsAt", drv::kRolloffStepsAt, hw::kRolloffStepsAt},
    {"TableGamma", drv::kTableGamma, hw::kTableGamma},
    {"TableLumaAdaptation", drv::kTableLumaAdaptation, hw::kTableLumaAdaptation},
    {"CamifStopAfterFrame", drv::kCamifStopAfterFrame, hw::kCamifStopAfterFrame},
    {"CamifStart", drv::kCamifStart, hw::kCamifStart},
    {"CamifStopNow", drv::kCamifStopNow, hw::kCamifStopNow},
    {"CamifRestart", drv::kCamifRestart, hw::kCamifRestart},
    {"CamifArmStart", drv::kCamifArmStart, hw::kCamifArmStart},
    {"CamifArmRestart", drv::kCamifArmRestart, hw::kCamifArmRestart},
    {"WriteMastersStart", drv::kWriteMastersStart, hw::kWriteMastersStart},
    {"WriteMastersStop", drv::kWriteMastersStop, hw::kWriteMastersStop},
};

TEST(RegisterMaps, EveryNameBothMapsGiveAgrees) {
  for (const Agreement& a : kRegisters)
    EXPECT_EQ(a.model, a.driver) << a.name << ": driver 0x" << std::hex << a.driver << ", model 0x" << a.model;
}

}  // namespace
}  // namespace vfedrivertest
