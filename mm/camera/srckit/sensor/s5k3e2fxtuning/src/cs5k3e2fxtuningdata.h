// The S5K3E2FX camera's tuning data: one constant table (the 32,184-byte
// tuning parameter block, then the 124-byte exposure-stretch record) and a
// three-word provider object that hands it out. The tuning-data service
// creates the provider by the class the engine configuration names, asks for
// the table (GetTableEx) and copies it into its own parameter block, which the
// VFE blocks, 3A and the tuning server then read. The provider keeps no copy
// and never changes the table.
#pragma once

#include <stdint.h>

#include "ienv.h"
#include "tuningblock.h"
#include "tuningdataprovider.h"

// The table's values (s5k3e2fxtuningtable.cpp).
extern const TuningDataTable g_S5K3E2FXTuningTable;

struct CS5K3E2FXTuningData final : ITuningDataProvider {
  int32_t AddRef() override;
  int32_t Release() override;
  // Only ZUEUID_IFACE_TUNING_DATA_PROVIDER (the base interface included, every
  // other identifier answers 20); 14 for a null out.
  PvlResult QueryInterface(ZUEUID iid, void** out) override;
  PvlResult GetTable(const void** table) override;
  PvlResult GetTableEx(const void** table) override;

  const TuningDataTable* table;
  volatile int32_t refs;
};
#if INTPTR_MAX == INT32_MAX  // the phone's layout: a 64-bit build widens its pointers
static_assert(sizeof(CS5K3E2FXTuningData) == 12, "function table, table pointer, count");
#endif

// Creator behind ZUEUID_CLASS_S5K3E2FX_TUNING_DATA: 29 for a null out, 2 when
// the process heap is exhausted.
PvlResult S5K3E2FX_TuningData_CreateInstance(IEnv* env, ZUEUID clsid, void* argument, void** out);
