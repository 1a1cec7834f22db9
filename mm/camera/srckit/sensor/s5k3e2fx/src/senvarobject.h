// What the Senvar drivers share as framework objects: their memory comes from
// the environment's tagged allocator (tag: source file and line), zeroed, and
// goes back to it only after the object's own clean-up ran.
#pragma once

#include <string.h>

#include <new>

#include "ienv.h"

#define SENVAR_STRINGIFY2(x) #x
#define SENVAR_STRINGIFY(x) SENVAR_STRINGIFY2(x)
#define SENVAR_ALLOCATION_TAG __FILE__ ":" SENVAR_STRINGIFY(__LINE__)

// Builds a T in a zeroed block of the environment's allocator: 0 with *out, or
// the allocator's result (a block handed back despite a failure is freed).
template <class T>
PvlResult SenvarAllocate(IEnv* env, const char* tag, T** out) {
  void* block = nullptr;
  PvlResult r = env->ReallocTagged(sizeof(T), &block, tag);
  if (r != PVL_OK || !block) {
    if (block) env->Realloc(0, &block);
    return r != PVL_OK ? r : PVL_E_OUTOFMEMORY;
  }
  memset(block, 0, sizeof(T));
  *out = new (block) T();
  return PVL_OK;
}

// Ends the object's life and gives its block back to `allocator`.
template <class T>
void SenvarFree(T* object, IEnv* allocator) {
  void* block = object;
  object->~T();
  allocator->Realloc(0, &block);
}
