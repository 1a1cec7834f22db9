// The flash driver's commands and the records it exchanges: little-endian
// 32-bit words, no header, exactly the sizes asserted here. An intensity record
// carries the driver's range around the value to apply.
#pragma once

#include <stddef.h>
#include <stdint.h>

#define ZUEUID_FLASH_CMD_POWER_UP 0x0106c304u
#define ZUEUID_FLASH_CMD_POWER_DOWN 0x0106c305u
#define ZUEUID_FLASH_CMD_START 0x0106c306u
#define ZUEUID_FLASH_CMD_STOP 0x0106c307u
#define ZUEUID_FLASH_CMD_RESET 0x0106c308u
#define ZUEUID_FLASH_PROPERTY_DEVICE_TYPE 0x0106c309u   // u32 out
#define ZUEUID_FLASH_PROPERTY_DEVICE_FLAGS 0x0106c30au  // u32 out
#define ZUEUID_FLASH_PROPERTY_DEVICE_EXTRA 0x0106c30bu
#define ZUEUID_FLASH_CMD_DEVICE_STATE 0x0106c30cu
#define ZUEUID_FLASH_CMD_LAMP_INTENSITY 0x0106c30du
#define ZUEUID_FLASH_CMD_STROBE_INTENSITY 0x0106c30eu
#define ZUEUID_FLASH_CMD_STROBE_MODE 0x0106c30fu
#define ZUEUID_FLASH_CMD_STROBE_CHARGING 0x0106c310u
#define ZUEUID_FLASH_CMD_OUTPUT_MODE 0x0106c311u
// Flash commands run from POWER_UP to OUTPUT_MODE; the LED driver answers
// identifiers outside that range with 14.
#define ZUEUID_FLASH_CMD_FIRST ZUEUID_FLASH_CMD_POWER_UP
#define ZUEUID_FLASH_CMD_LAST ZUEUID_FLASH_CMD_OUTPUT_MODE

struct FlashDeviceStateRecord {
  int32_t deviceState;
  uint32_t signal;
};

// The lamp (torch) and the strobe (flash) share the layout; the field names
// below are the lamp's, the strobe's are nMinimumStrobeIntensity,
// nStrobeIntensity and nMaximumStrobeIntensity.
struct FlashIntensityRecord {
  int32_t nMinimumLampIntensity;
  int32_t nLampIntensity;
  int32_t nMaximumLampIntensity;
};

// outputMode 0 video (preview), 1 snapshot. The LED driver sees a 16-bit mode
// and two bytes and compares the whole word: exactly 1 selects the strobe
// current, anything else the lamp current.
struct FlashOutputModeRecord {
  int32_t outputMode;
};

struct FlashStrobeModeRecord {
  int32_t strobeOperationalMode;
  int32_t nNumPreflashes;
};

struct FlashStrobeChargingRecord {
  int32_t strobeChargingMode;
};

static_assert(sizeof(FlashDeviceStateRecord) == 8);
static_assert(sizeof(FlashIntensityRecord) == 12);
static_assert(offsetof(FlashIntensityRecord, nLampIntensity) == 4);
static_assert(sizeof(FlashOutputModeRecord) == 4);
static_assert(sizeof(FlashStrobeModeRecord) == 8);
static_assert(sizeof(FlashStrobeChargingRecord) == 4);
