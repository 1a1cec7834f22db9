// The "TuningData" keys: every tunable field of the tuning parameter block and
// of the exposure-stretch record, by name, in registration order.
#pragma once

#include <cstdint>

#include "runtimetuningitem.h"

// Converters of a key: the registry's defaults, or the exposure table's own
// (both exposure-table keys cover the same 500 eight-byte entries).
enum TuningKeyConverter : uint8_t {
  TUNING_KEY_PLAIN = 0,
  TUNING_KEY_EXPOSURE_GAIN = 1,       // u16 at +0 of entry i, entries 8 bytes apart
  TUNING_KEY_EXPOSURE_LINECOUNT = 2,  // u32 at +4 of entry i
};

struct TuningKeyDef {
  const char* name;
  uint32_t offset;  // in the provider's table: the block, then the exposure-stretch record at 32,184
  TuningValueType type;
  uint16_t count;
  uint32_t flags;
  TuningKeyConverter converter = TUNING_KEY_PLAIN;
};

constexpr uint32_t TUNING_DATA_KEY_COUNT = 986;
extern const TuningKeyDef g_TuningDataKeys[TUNING_DATA_KEY_COUNT];

// Group name under which the keys are offered to the tuning server.
constexpr char TUNING_DATA_GROUP_NAME[] = "TuningData";
