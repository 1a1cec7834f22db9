// ISingletonRegistry: one instance per class per process (asked of IEnv with
// ZUEUID_IFACE_SINGLETON_REGISTRY).
//
// A singleton keeps its reference count in a 32-bit word of its own and changes it
// only through AdjustRefCount, so that the registry can forget the instance in the
// same step in which its count reaches 0 and never hands out a dying one.
#ifndef ISINGLETONREGISTRY_H
#define ISINGLETONREGISTRY_H

#include <stdint.h>

#include "pvlbase.h"

// Called by GetOrCreate when no instance of the class exists: (the context given to
// GetOrCreate, the class identifier, &out). It returns 0 with *out holding the one
// reference that goes to GetOrCreate's caller, or a failure code.
typedef PvlResult (*PvlSingletonCreator)(void* context, ZUEUID clsid, void** out);

class ISingletonRegistry : public IPvlBase {
 public:
  // QueryInterface: ZUEUID_IFACE_BASE and ZUEUID_IFACE_SINGLETON_REGISTRY give the
  // registry, ZUEUID_IFACE_ENV the process environment, each with one reference.

  // Hands out the class's live instance with one counted reference added for the
  // caller (+1 through the instance's count word), or, when there is none, calls
  // creator(context, clsid, out) once: concurrent callers for the same class wait
  // for that creation and then share its instance. The creator runs without any
  // registry lock held and may itself create other singletons. Results: 0, 29 for a
  // null out or creator (*out is then left alone), 13 when the creator asks for its
  // own class again on the same thread, else the creator's failure (*out null).
  virtual PvlResult GetOrCreate(ZUEUID clsid, void** out, PvlSingletonCreator creator,
                                void* context) = 0;  // 3
  // Adds delta (+1 or -1) to *count atomically and returns the new value. The
  // registry learns the word as the class's count word: when it reaches 0 the class
  // is forgotten before the call returns (the caller then destroys the instance)
  // and a later GetOrCreate creates a new one. A null count gives -1 (no count
  // changes, nothing is destroyed).
  virtual int32_t AdjustRefCount(ZUEUID clsid, volatile int32_t* count, int32_t delta) = 0;  // 4

 protected:
  ~ISingletonRegistry() = default;
};

#endif
