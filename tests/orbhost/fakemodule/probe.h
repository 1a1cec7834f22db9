// The objects of the loader tests' small modules.
#pragma once

#include "pvlbase.h"

#define FAKE_IFACE_PROBE 0x7e57ff01u

// Alpha: probe, nested (creates Beta's probe while being created), shared class
// that Alpha lists but does not make.
#define FAKE_CLASS_ALPHA_PROBE 0x7e570001u
#define FAKE_CLASS_ALPHA_NESTED 0x7e570002u
#define FAKE_CLASS_SHARED 0x7e5700d0u
// Beta: probe and the shared class.
#define FAKE_CLASS_BETA_PROBE 0x7e570011u
// Modules that must not be used.
#define FAKE_CLASS_BAD_SYMBOL 0x7e570021u
#define FAKE_CLASS_NO_NEW 0x7e570031u
#define FAKE_CLASS_FAIL_NEW 0x7e570041u
#define FAKE_CLASS_GLOBAL_CTOR 0x7e570051u

class IFakeProbe : public IPvlBase {
 public:
  virtual const char* ModuleName() = 0;
  // 1 when every host symbol was bound before IMod_New ran.
  virtual int32_t BoundBeforeNew() = 0;
  // The creation argument the module's class switch received.
  virtual void* CreationArgument() = 0;
  // The object made during this one's creation (nested class only), or null.
  virtual IPvlBase* Inner() = 0;

 protected:
  ~IFakeProbe() = default;
};
