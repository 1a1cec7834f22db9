// Best-shot (scene) modes: one row of the best-shot table per mode, handed to
// the tuning-data service as its best-shot override.
#pragma once

#include <cstddef>
#include <cstdint>

enum CameraBestShotMode : int32_t {
  CAMERA_BESTSHOT_OFF = 0,
  CAMERA_BESTSHOT_LANDSCAPE = 1,
  CAMERA_BESTSHOT_SNOW = 2,
  CAMERA_BESTSHOT_BEACH = 3,
  CAMERA_BESTSHOT_SUNSET = 4,
  CAMERA_BESTSHOT_NIGHT = 5,
  CAMERA_BESTSHOT_PORTRAIT = 6,
  CAMERA_BESTSHOT_BACKLIGHT = 7,
  CAMERA_BESTSHOT_SPORTS = 8,
  CAMERA_BESTSHOT_ANTISHAKE = 9,
  CAMERA_BESTSHOT_FLOWERS = 10,
  CAMERA_BESTSHOT_CANDLELIGHT = 11,
};
constexpr int32_t CAMERA_BESTSHOT_FIRST = 1;
constexpr int32_t CAMERA_BESTSHOT_LAST = 11;

// Word 0 is the mode; the other words are the columns below.
struct BestShotRecord {
  int32_t Words[13];
};
static_assert(sizeof(BestShotRecord) == 52);

enum BestShotColumn {
  BESTSHOT_COL_MODE = 0,
  BESTSHOT_COL_GAMMA = 1,              // 1 outdoor, 2 low light, 3 backlight table
  BESTSHOT_COL_ISO = 2,                // 0 automatic, 1 100, 2 200, 3 400, 4 800
  BESTSHOT_COL_LUMA_TARGET = 3,        // 1 x0.8, 2 x1.2
  BESTSHOT_COL_METERING = 4,           // 0 frame average, 1 centre weighted, 2 centre spot
  BESTSHOT_COL_FOCUS = 5,              // 1 normal, 2 macro, 3 infinity
  BESTSHOT_COL_WHITE_BALANCE = 6,      // 0 auto, 1 mode word 4, 2 incandescent 2800 K, 3 mode word 5, 4 mode word 6
  BESTSHOT_COL_COLOR_CORRECTION = 7,   // 1 low-light matrix
  BESTSHOT_COL_COLOR_CONVERSION = 8,   // 1 sunset, 2 skin by illuminant, 3 saturation factor
  BESTSHOT_COL_HJR = 9,                // 1 on
  BESTSHOT_COL_LUMA_ADAPTATION = 10,   // 1 on, 2 off, 0 unchanged
  BESTSHOT_COL_BLUE_GAIN = 11,         // 1 snow, 2 beach
  BESTSHOT_COL_SOFT_FOCUS = 12,        // 1 on
};

// The constant table: mode n in row n - 1.
extern const BestShotRecord g_BestShotTable[CAMERA_BESTSHOT_LAST];

// The mode's row, or null for a mode outside 1..11.
const BestShotRecord* BestShotRecordForMode(int32_t mode);

// "CAMERA_BESTSHOT_LANDSCAPE" ... or "OTHER".
const char* BestShotModeName(int32_t mode);
