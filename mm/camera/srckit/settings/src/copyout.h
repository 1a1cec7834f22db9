// The settings records' getter shape: a null output gives 29, else the value.
#pragma once

#include "pvlresult.h"

template <class T>
PvlResult CopyOut(T* out, const T& value) {
  if (!out) return PVL_E_NULLPTR;
  *out = value;
  return PVL_OK;
}
