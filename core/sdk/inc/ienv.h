// IEnv: the host's environment, handed to every module object and to the driver.
//
// Table order: AddRef, Release, QueryInterface, Realloc, ReallocTagged, two
// reserved operations, CreateInstance. Every operation returns 0 or a result code.
#ifndef IENV_H
#define IENV_H

#include <stdint.h>

#include "pvlbase.h"

// Host classes created by identifier besides those of pvlbase.h.
#define ZUEUID_CLASS_JPEGSERVICE 0x01061b27u
#define ZUEUID_CLASS_FILESYSTEM 0x01072401u

class IEnv : public IPvlBase {
 public:
  // QueryInterface: ZUEUID_IFACE_BASE, ZUEUID_IFACE_ENV and ZUEUID_CLASS_ENV give the
  // environment; ZUEUID_IFACE_SINGLETON_REGISTRY gives the process's singleton
  // registry (ISingletonRegistry); each with one reference. Anything else: 3.

  // The environment's allocator. *block null and size > 0 allocates; *block set and
  // size > 0 resizes, keeping the contents; size 0 frees *block (null does nothing)
  // and clears it. On failure *block is left as it was: 2 out of memory, 14 a
  // block this allocator does not know, 29 a null block address.
  virtual PvlResult Realloc(uint32_t size, void** block) = 0;                          // 3
  // The same with a tag naming the requesting source location (file:line); the
  // allocator counts live blocks by tag. A null tag counts as "untagged".
  virtual PvlResult ReallocTagged(uint32_t size, void** block, const char* tag) = 0;  // 4
  virtual PvlResult Reserved5() = 0;                                                   // 5: answers 20
  virtual PvlResult Reserved6() = 0;                                                   // 6: answers 20
  // Creates an object of a class: 0 with *out holding one reference, else a code
  // with *out null (3 for a class that neither the host nor a module provides, 1
  // when the only modules listing it could not be mapped and bound). Module classes
  // go through the module object's CreateInstance with this environment as the
  // creation argument. A class listed by several module information files is
  // offered to those modules in the order of their file names (without regard to
  // case); one that answers 3, or that cannot be mapped and bound, passes it on to
  // the next.
  virtual PvlResult CreateInstance(ZUEUID clsid, void** out) = 0;                      // 7

 protected:
  ~IEnv() = default;
};

// The host library's two exports (the driver finds them with GetProcAddress).
// Orbhost_Start(script, 0, &env): the first call reads the start-up script (a
// device path such as "\device.cs") and scans the module directory; every call
// hands out the one process environment with one reference added. A failure gives
// a non-zero result with *env null. Orbhost_Stop: ends one start; the modules stay
// mapped and objects made through the host stay valid.
typedef int32_t (*PvlOrbhostStartFn)(const char* script, uint32_t reserved, IEnv** env);
typedef int32_t (*PvlOrbhostStopFn)(void);
#define PVL_EXPORT_ORBHOST_START "Orbhost_Start"
#define PVL_EXPORT_ORBHOST_STOP "Orbhost_Stop"

#endif
