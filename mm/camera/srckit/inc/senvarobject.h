// What the Senvar drivers share as framework objects: their memory comes from
// the environment's tagged allocator (tag: source file and line), zeroed, and
// goes back to it only after the object's own clean-up ran.
#pragma once

#include <string.h>

#include <new>

#include "hostsymbols.h"
#include "icameradriver.h"
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

// The camera-driver object plumbing the Senvar drivers share. T is the driver:
// it answers the commands that passed the argument check in Execute and
// brings itself to rest in Stop; a driver with more to undo than its
// environment reference hides Destroy with its own and ends in this one.
template <class T>
struct SenvarDriver : ICameraDriver {
  int32_t AddRef() override {
    if (!self) return PVL_E_NULLPTR;
    return atomic_atomic_Add(&self->refs, 1);
  }

  int32_t Release() override {
    if (!self) return PVL_E_NULLPTR;
    int32_t n = atomic_atomic_Add(&self->refs, -1);
    if (n == 0) T::Destroy(self, self->env);
    return n;
  }

  PvlResult QueryInterface(ZUEUID iid, void** out) override {
    if (!self || !out) return PVL_E_NULLPTR;
    if (iid != ZUEUID_IFACE_BASE && iid != ZUEUID_IFACE_CAMERA_DRIVER) {
      *out = nullptr;
      return PVL_E_NOTSUPPORTED;
    }
    *out = static_cast<ICameraDriver*>(self);
    self->AddRef();
    return PVL_OK;
  }

  // None of these drivers has optional values.
  PvlResult OptionalQueryA(void* buffer, uint32_t bufferSize, uint32_t* length) override {
    if (!self) return PVL_E_NULLPTR;
    if (!CameraDriverQueryArgumentsValid(buffer, bufferSize, length)) return PVL_E_NULLPTR;
    *length = 0;
    return PVL_E_UNSUPPORTED;
  }

  PvlResult OptionalSetA(void* value) override {
    if (!self || !value) return PVL_E_NULLPTR;
    return PVL_E_UNSUPPORTED;
  }

  PvlResult OptionalQueryB(void* buffer, uint32_t bufferSize, uint32_t* length) override {
    return OptionalQueryA(buffer, bufferSize, length);
  }

  PvlResult OptionalSetB(void* value) override { return OptionalSetA(value); }

  PvlResult Command(uint32_t command, void* input, uint32_t inputSize, void* output, uint32_t outputSize,
                    uint32_t* outputLength) override {
    if (!self) return PVL_E_NULLPTR;
    if (!CameraDriverCommandArgumentsValid(input, inputSize, output, outputSize, outputLength)) return PVL_E_NULLPTR;
    return self->Execute(command, input, inputSize, output, outputSize, outputLength);
  }

  // The environment stays referenced until its allocator has the block back.
  static void Destroy(T* d, IEnv* allocator) {
    IEnv* held = d->env;
    SenvarFree(d, allocator);
    if (held) held->Release();
  }

  T* self;                // checked by every operation
  volatile int32_t refs;  // 0 after construction, 1 when handed out
  IEnv* env;              // one reference while the object lives
};

// Allocates a T, runs `construct` and hands the object out with its first
// reference; a failed construction is undone through T::Destroy.
template <class T>
PvlResult SenvarCreate(IEnv* env, const char* tag, PvlResult (*construct)(T*, IEnv*), void** out) {
  T* d = nullptr;
  PvlResult r = SenvarAllocate(env, tag, &d);
  if (r != PVL_OK) return r;
  r = construct(d, env);
  if (r != PVL_OK) {
    T::Destroy(d, env);
    return r;
  }
  *out = static_cast<ICameraDriver*>(d);
  d->AddRef();
  return PVL_OK;
}
