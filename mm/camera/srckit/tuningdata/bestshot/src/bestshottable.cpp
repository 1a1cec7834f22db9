// The best-shot table and mode names.
#include "bestshot.h"

// clang-format off
const BestShotRecord g_BestShotTable[CAMERA_BESTSHOT_LAST] = {
    //  mode gamma ISO luma meter focus WB  CC  CConv HJR LA  blue soft
    {{  1,   1,    0,  0,   0,    3,    1,  0,  0,    0,  0,  0,   0 }},  // LANDSCAPE
    {{  2,   1,    0,  2,   0,    1,    1,  0,  0,    0,  0,  1,   0 }},  // SNOW
    {{  3,   1,    0,  2,   0,    1,    1,  0,  0,    0,  0,  2,   0 }},  // BEACH
    {{  4,   0,    0,  1,   0,    3,    2,  0,  1,    1,  2,  0,   0 }},  // SUNSET
    {{  5,   2,    0,  0,   1,    1,    3,  1,  0,    1,  0,  0,   0 }},  // NIGHT
    {{  6,   0,    0,  0,   1,    1,    4,  0,  2,    2,  0,  0,   1 }},  // PORTRAIT
    {{  7,   3,    0,  0,   1,    1,    0,  0,  0,    0,  2,  0,   0 }},  // BACKLIGHT
    {{  8,   1,    3,  0,   1,    3,    1,  0,  0,    2,  0,  0,   0 }},  // SPORTS
    {{  9,   0,    0,  0,   1,    1,    0,  0,  0,    1,  0,  0,   0 }},  // ANTISHAKE
    {{ 10,   0,    0,  0,   1,    2,    0,  0,  3,    0,  2,  0,   0 }},  // FLOWERS
    {{ 11,   0,    0,  1,   1,    1,    2,  0,  1,    1,  2,  0,   0 }},  // CANDLELIGHT
};
// clang-format on

const BestShotRecord* BestShotRecordForMode(int32_t mode) {
  if (mode < CAMERA_BESTSHOT_FIRST || mode > CAMERA_BESTSHOT_LAST) return nullptr;
  return &g_BestShotTable[mode - 1];
}

const char* BestShotModeName(int32_t mode) {
  static const char* const kNames[CAMERA_BESTSHOT_LAST] = {
      "CAMERA_BESTSHOT_LANDSCAPE", "CAMERA_BESTSHOT_SNOW",     "CAMERA_BESTSHOT_BEACH",
      "CAMERA_BESTSHOT_SUNSET",    "CAMERA_BESTSHOT_NIGHT",    "CAMERA_BESTSHOT_PORTRAIT",
      "CAMERA_BESTSHOT_BACKLIGHT", "CAMERA_BESTSHOT_SPORTS",   "CAMERA_BESTSHOT_ANTISHAKE",
      "CAMERA_BESTSHOT_FLOWERS",   "CAMERA_BESTSHOT_CANDLELIGHT"};
  if (mode < CAMERA_BESTSHOT_FIRST || mode > CAMERA_BESTSHOT_LAST) return "OTHER";
  return kNames[mode - 1];
}
