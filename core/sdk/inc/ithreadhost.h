// IThreadHost (class ZUEUID_CLASS_THREAD): one host thread, driven by CPvlThread.
#ifndef ITHREADHOST_H
#define ITHREADHOST_H

#include <stddef.h>
#include <stdint.h>

#include "pvlbase.h"

class ISignalControl;

// The thread host's interface identifier is its class identifier.
#define ZUEUID_IFACE_THREAD_HOST ZUEUID_CLASS_THREAD

// A thread body: runs with the context of the start record; its result is the
// thread's exit code.
typedef uint32_t (*PvlThreadEntry)(void* context);

// The start record handed to Start: the first two words of the thread's start
// information (4 and 0, passed through), the body, its context, the stack block and
// its size. The host runs the body on a stack of its own (the block is never
// smaller than what the platform needs, so it is not used for the stack).
struct PvlThreadStartRecord {
  uint32_t word0;
  uint32_t word1;
  PvlThreadEntry entry;
  void* context;
  void* stack;
  uint32_t stackSize;
};
#if INTPTR_MAX == INT32_MAX  // the phone's layout: a 64-bit build widens its pointers
static_assert(sizeof(PvlThreadStartRecord) == 24, "the start record is six words");
static_assert(offsetof(PvlThreadStartRecord, entry) == 8, "");
static_assert(offsetof(PvlThreadStartRecord, context) == 12, "");
static_assert(offsetof(PvlThreadStartRecord, stack) == 16, "");
static_assert(offsetof(PvlThreadStartRecord, stackSize) == 20, "");
#endif

class IThreadHost : public IPvlBase {
 public:
  // Starts the body on a new thread named `name` (may be null; cut to 15
  // characters). 29 for a null record or entry, 13 while an earlier start has not
  // been joined, 1 when the platform cannot make the thread.
  virtual PvlResult Start(const PvlThreadStartRecord* record, const char* name) = 0;  // 3
  // Threads cannot be suspended from outside here: 20.
  virtual PvlResult Suspend(uint32_t argument, uint32_t reserved) = 0;  // 4
  // Nothing is ever suspended, so there is nothing to resume: 0.
  virtual PvlResult Resume(uint32_t argument) = 0;  // 5
  virtual PvlResult Reserved6() = 0;                // 6: answers 20
  // Fires exitControl once the body has returned (at once when it already has; a
  // null control is allowed) and waits for the thread to end. 13 when nothing was
  // started, or when called from the thread itself.
  virtual PvlResult Join(ISignalControl* exitControl) = 0;  // 7
  // Operations passed through by CPvlThread; none is offered here: 20.
  virtual PvlResult PassThrough8(uint32_t a, uint32_t b, uint32_t c) = 0;  // 8
  virtual PvlResult PassThrough9(uint32_t a, uint32_t b) = 0;              // 9
  virtual PvlResult PassThrough10(uint32_t a) = 0;                         // 10
  virtual PvlResult PassThrough11(uint32_t a, uint32_t b, uint32_t c) = 0; // 11

 protected:
  ~IThreadHost() = default;
};

#endif
