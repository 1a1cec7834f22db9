// A tuning-data provider: an object, created by class identifier, that hands
// out one read-only table: the 32,184-byte tuning parameter block followed by
// the 124-byte exposure-stretch record (tuningblock.h).
#pragma once

#include "pvlbase.h"

#define ZUEUID_IFACE_TUNING_DATA_PROVIDER 0x01072fc6u
#define ZUEUID_CLASS_S5K3E2FX_TUNING_DATA 0x0108aeceu

// Slots 3 and 4 both store the table's address and return 0; the tuning-data
// service calls slot 4 (GetTableEx). QueryInterface answers only
// ZUEUID_IFACE_TUNING_DATA_PROVIDER (14 for a null out, 20 otherwise).
class ITuningDataProvider : public IPvlBase {
 public:
  virtual PvlResult GetTable(const void** table) = 0;    // 3
  virtual PvlResult GetTableEx(const void** table) = 0;  // 4

 protected:
  ~ITuningDataProvider() = default;
};
