// The statistics objects the VFE service hands to the statistics plug-ins with
// EVENT_STATS_AVAILABLE: the auto-focus statistics (argument 1) and the
// white-balance/exposure statistics (argument 0), which offer an exposure view
// and a white-balance view over the same buffer. A plug-in holds the object
// while it reads; while it is held the next statistics of that kind are dropped.
#pragma once

#include <stdint.h>

#include "pvlbase.h"

#define ZUEUID_IFACE_AF_STATS 0x0106dfb6u
#define ZUEUID_IFACE_WB_EXP_STATS 0x0106e25bu   // the exposure view
#define ZUEUID_IFACE_WB_EXP_STATS2 0x0106e25du  // the white-balance view

// QueryInterface answers 20 for identifiers it does not know.
class IAFStats : public IPvlBase {
 public:
  // 14 for a null count, an array with capacity below 1 or no array with a
  // capacity other than 0.
  virtual PvlResult GetAFWindowConfig(uint8_t* windows, int32_t capacity, int32_t* count) = 0;  // 3
  // 29 for a null count or a null array with capacity 1 or more.
  virtual PvlResult GetFocusValues(uint32_t* values, int32_t capacity, int32_t* count) = 0;     // 4
  virtual PvlResult GetFrameId(uint32_t* frame) = 0;                                          // 5: 29 on null

 protected:
  ~IAFStats() = default;
};

// The value operations: (array, capacity, out count); 29 for a null count or a
// null array with capacity 1 or more; the count is the region count and at
// most capacity entries are written.
class IWBExpStats : public IPvlBase {
 public:
  virtual PvlResult GetRegionCount(uint32_t* count) = 0;                                  // 3
  virtual PvlResult GetRegionWord4(uint32_t* values, int32_t capacity, uint32_t* count) = 0;  // 4
  virtual PvlResult GetPixelsPerRegion(uint32_t* pixels) = 0;                             // 5
  virtual PvlResult GetRegionWord7(uint32_t* values, int32_t capacity, uint32_t* count) = 0;  // 6
  virtual PvlResult GetRegionWord6(uint32_t* values, int32_t capacity, uint32_t* count) = 0;  // 7
  virtual PvlResult GetRegionWord5(uint32_t* values, int32_t capacity, uint32_t* count) = 0;  // 8
  virtual PvlResult GetFrameId(uint32_t* frame) = 0;                                      // 9

 protected:
  ~IWBExpStats() = default;
};

class IWBExpStats2 : public IPvlBase {
 public:
  virtual PvlResult GetRegionCount(uint32_t* count) = 0;                                      // 3
  virtual PvlResult GetSumCbs(uint32_t* values, int32_t capacity, uint32_t* count) = 0;       // 4
  virtual PvlResult GetSumCrs(uint32_t* values, int32_t capacity, uint32_t* count) = 0;       // 5
  virtual PvlResult GetSumYg(uint32_t* values, int32_t capacity, uint32_t* count) = 0;        // 6
  virtual PvlResult GetGreyPixelsPerRegion(uint32_t* values, int32_t capacity, uint32_t* count) = 0;  // 7
  virtual PvlResult Reserved8() = 0;   // 8-11: answer 20
  virtual PvlResult Reserved9() = 0;
  virtual PvlResult Reserved10() = 0;
  virtual PvlResult Reserved11() = 0;
  virtual PvlResult GetFrameId(uint32_t* frame) = 0;                                          // 12

 protected:
  ~IWBExpStats2() = default;
};
