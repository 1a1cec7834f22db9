// The S5K3E2FX tuning-data provider object. See cs5k3e2fxtuningdata.h.
#include "cs5k3e2fxtuningdata.h"

#include <stdlib.h>

#include <new>

#include "hostsymbols.h"

PvlResult S5K3E2FX_TuningData_CreateInstance(IEnv*, ZUEUID, void*, void** out) {
  if (!out) return PVL_E_NULLPTR;
  // From the process heap: the provider is not the environment's to count.
  void* block = malloc(sizeof(CS5K3E2FXTuningData));
  if (!block) return PVL_E_OUTOFMEMORY;
  CS5K3E2FXTuningData* provider = new (block) CS5K3E2FXTuningData();
  provider->table = &g_S5K3E2FXTuningTable;
  provider->refs = 0;
  *out = static_cast<ITuningDataProvider*>(provider);
  provider->AddRef();
  return PVL_OK;
}

int32_t CS5K3E2FXTuningData::AddRef() { return atomic_atomic_Add(&refs, 1); }

int32_t CS5K3E2FXTuningData::Release() {
  int32_t n = atomic_atomic_Add(&refs, -1);
  if (n == 0) {
    this->~CS5K3E2FXTuningData();
    free(this);
  }
  return n;
}

PvlResult CS5K3E2FXTuningData::QueryInterface(ZUEUID iid, void** out) {
  if (!out) return PVL_E_BADARG;
  if (iid != ZUEUID_IFACE_TUNING_DATA_PROVIDER) return PVL_E_UNSUPPORTED;
  *out = static_cast<ITuningDataProvider*>(this);
  AddRef();
  return PVL_OK;
}

PvlResult CS5K3E2FXTuningData::GetTable(const void** out) {
  if (!out) return PVL_E_NULLPTR;
  *out = table;
  return PVL_OK;
}

PvlResult CS5K3E2FXTuningData::GetTableEx(const void** out) { return GetTable(out); }
