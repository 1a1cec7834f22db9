// Tuning parameter identifiers: the 32-bit keys by which every reader names a
// value or record of the loaded tuning parameter block.
//
//   0x00G0SSII  statistics parameters: G group, SS sub-table, II index
//   0x80M0SSII  VFE module parameters: M module, SS section, II index
//
// Section 0F of a module holds its control fields: 0x80M00F00 is the module's
// enable byte, 0x80M00F01 and up its triggers and lux-index switches.
#pragma once

#include <cstdint>

typedef uint32_t TuningParamId;

constexpr TuningParamId TuningStatsParamId(uint32_t group, uint32_t sub, uint32_t index) {
  return (group << 20) | (sub << 8) | index;
}
constexpr TuningParamId TuningVfeParamId(uint32_t module, uint32_t section, uint32_t index) {
  return 0x80000000u | (module << 20) | (section << 8) | index;
}

// Statistics groups.
enum : uint32_t {
  TUNING_GROUP_AWB = 1,
  TUNING_GROUP_AWBEXT = 2,
  TUNING_GROUP_AEC = 3,
  TUNING_GROUP_HJR = 6,
  TUNING_GROUP_AFD = 7,
  TUNING_GROUP_AF = 8,
  TUNING_GROUP_AFR = 9,
};

// VFE modules.
enum : uint32_t {
  TUNING_MODULE_COLORCORR = 0x0,
  TUNING_MODULE_COLORCONV = 0x1,
  TUNING_MODULE_MWB = 0x2,
  TUNING_MODULE_AWB = 0x3,
  TUNING_MODULE_GAMMA = 0x4,
  TUNING_MODULE_BLACKLEVEL = 0x5,
  TUNING_MODULE_ROLLOFF = 0x6,
  TUNING_MODULE_ASF3X3 = 0x7,
  TUNING_MODULE_ASF5X5 = 0x8,
  TUNING_MODULE_LUMAADAPT = 0x9,
  TUNING_MODULE_CHROMASUPP = 0xA,
  TUNING_MODULE_ABF = 0xB,
  TUNING_MODULE_BPC = 0xC,
  TUNING_MODULE_AFSTATS = 0xD,
  TUNING_MODULE_SKINTONE = 0xE,
  TUNING_MODULE_DEMOSAIC = 0xF,
};

// A module's enable byte ("-Control" key).
constexpr TuningParamId TuningModuleEnableId(uint32_t module) { return TuningVfeParamId(module, 0x0F, 0); }

// Identifiers that several components name.
constexpr TuningParamId TUNING_ID_AWB_REFPOINT_BASE = 0x00100100;        // + II (0-8)
constexpr TuningParamId TUNING_ID_AWBEXT_MIN_GAINS = 0x00200011;
constexpr TuningParamId TUNING_ID_AWBEXT_MAX_GAINS = 0x00200012;
constexpr TuningParamId TUNING_ID_AWBEXT_SAMPLE_INFLUENCE = 0x00200013;
constexpr TuningParamId TUNING_ID_AWBEXT_WEIGHT_VECTOR_BASE = 0x00200100;  // + II (0-9)
constexpr TuningParamId TUNING_ID_AEC_EXPOSURE_TABLE = 0x00300001;
constexpr TuningParamId TUNING_ID_AEC_DEFAULT_LUMA = 0x00300002;
constexpr TuningParamId TUNING_ID_AEC_ISO100_GAIN = 0x00300008;
constexpr TuningParamId TUNING_ID_AEC_BRIGHT_REGION = 0x00300015;
constexpr TuningParamId TUNING_ID_AEC_DARK_REGION = 0x00300016;
constexpr TuningParamId TUNING_ID_AEC_EXPOSURE_STRETCH = 0x00300017;
constexpr TuningParamId TUNING_ID_HJR_KTABLE = 0x00600005;
constexpr TuningParamId TUNING_ID_AFD_PARAMS = 0x00700000;
constexpr TuningParamId TUNING_ID_AF_POSITION_FAR_END = 0x00800001;
constexpr TuningParamId TUNING_ID_AFR_TABLE = 0x00900000;
constexpr TuningParamId TUNING_ID_COLORCORR_BASE = 0x80000000;    // + II: 0 Preview-Default, 1 Preview-LowLight, 2 Snapshot-Default, 3 Snapshot-LowLight
constexpr TuningParamId TUNING_ID_COLORCONV_BASE = 0x80100000;    // + II (0-11)
constexpr TuningParamId TUNING_ID_BSM_SAT_FACTOR = 0x80100100;
constexpr TuningParamId TUNING_ID_MWB_BASE = 0x80200000;          // + II (0-5)
constexpr TuningParamId TUNING_ID_WB_RED_ADJUST = 0x80210000;     // always 1.0
constexpr TuningParamId TUNING_ID_WB_BLUE_ADJUST = 0x80210001;    // best-shot blue-gain factor
constexpr TuningParamId TUNING_ID_CHANNEL_GAINS = 0x80300000;
constexpr TuningParamId TUNING_ID_AWB_STAT_CONFIG_BASE = 0x80300100;  // + II (0-2)
constexpr TuningParamId TUNING_ID_GAMMA_PREVIEW_BASE = 0x80400000;    // + II: Default, LowLight, Outdoor, Backlight
constexpr TuningParamId TUNING_ID_GAMMA_SNAPSHOT_BASE = 0x80400100;   // + II: Default, LowLight, Outdoor
constexpr TuningParamId TUNING_ID_ROLLOFF_TABLE_BASE = 0x80600000;    // + II: TL84, A, D65, LowLight
constexpr TuningParamId TUNING_ID_ROLLOFF_MESH_BASE = 0x80600100;     // + II
constexpr TuningParamId TUNING_ID_ASF3X3_REGULAR = 0x80700000;
constexpr TuningParamId TUNING_ID_ASF3X3_LOWLIGHT = 0x80700001;
constexpr TuningParamId TUNING_ID_ASF5X5_SNAPSHOT_FILTER = 0x80800100;
constexpr TuningParamId TUNING_ID_ASF5X5_PREVIEW_FILTER = 0x80800200;
constexpr TuningParamId TUNING_ID_ASF5X5_SNAPSHOT_SETTING_BASE = 0x80800100;  // + SS: 1 LowLight, 2 Normal, 3 Bright
constexpr TuningParamId TUNING_ID_ASF5X5_PREVIEW_SETTING_BASE = 0x80800200;   // + SS
constexpr TuningParamId TUNING_ID_AF_HPF = 0x80D00000;
constexpr TuningParamId TUNING_ID_AF_WINDOW = 0x80D00001;
