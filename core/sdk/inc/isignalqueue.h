// ISignalQueue (class ZUEUID_CLASS_SIGNAL_QUEUE) and its signals.
//
// A queue owns any number of signals. Each signal has two sides: its control
// (ISignalControl), which fires it from any thread, and the signal itself (ISignal),
// which the waiting side re-arms after handling a fire. A signal starts armed:
//   - Fire on an armed signal makes it pending and queues it (first in, first out);
//     a pending fire stays until a Wait takes it, also when nobody waits yet.
//   - Fire on a pending or taken but not yet re-armed signal does nothing (0): a
//     signal fires once until it is re-armed.
//   - Wait takes the oldest pending signal and reports it.
//   - ReArm makes a taken signal ready to fire again; on a pending signal it
//     withdraws the fire that has not been taken yet.
// Controls and signals keep their queue's state alive: once the queue's last
// reference is gone, Fire and ReArm answer 10 and a blocked Wait returns 10.
#ifndef ISIGNALQUEUE_H
#define ISIGNALQUEUE_H

#include <stddef.h>
#include <stdint.h>

#include "pvlbase.h"

// The queue's interface identifier is its class identifier; the two sides of a
// signal have their own.
#define ZUEUID_IFACE_SIGNAL_QUEUE ZUEUID_CLASS_SIGNAL_QUEUE
#define ZUEUID_IFACE_SIGNAL_CONTROL 0x010285f5u
#define ZUEUID_IFACE_SIGNAL 0x010285f6u

// What Wait reports: two words, the context given to CreateSignal (null, an
// object, or a callback of the receiver's own), then the signal's identifier.
struct PvlSignalWaitRecord {
  void* context;
  ZUEUID id;
};
#if INTPTR_MAX == INT32_MAX  // the phone's layout: a 64-bit build widens its pointers
static_assert(sizeof(PvlSignalWaitRecord) == 8, "the wait record is two words");
static_assert(offsetof(PvlSignalWaitRecord, context) == 0, "");
static_assert(offsetof(PvlSignalWaitRecord, id) == 4, "");
#endif

// Flags of RegisterControl.
#define PVL_SIGNAL_REGISTER_ONCE 1u  // the registration ends after its first fire

class ISignalControl : public IPvlBase {
 public:
  // Fires the signal (see above); 0, or 10 when its queue is gone.
  virtual PvlResult Fire() = 0;  // 3

 protected:
  ~ISignalControl() = default;
};

class ISignal : public IPvlBase {
 public:
  // Makes the signal ready to fire again; 0, or 10 when its queue is gone.
  virtual PvlResult ReArm() = 0;  // 3

 protected:
  ~ISignal() = default;
};

class ISignalQueue : public IPvlBase {
 public:
  // Blocks, without a time-out, until one of the queue's signals is pending, takes
  // it and fills *record. 29 for a null record; 13 when the queue has no signal
  // that could ever fire (at once, or when its last signal goes while waiting); 10
  // when the queue goes away while waiting.
  virtual PvlResult Wait(PvlSignalWaitRecord* record) = 0;  // 3
  // Makes a signal with this identifier and context; *control and *signal receive
  // one reference each. 29 when either address is null (nothing is made).
  virtual PvlResult CreateSignal(void* context, ZUEUID id, ISignalControl** control,
                                 ISignal** signal) = 0;  // 4
  // Fires every registered control (in registration order); 0. A control whose own
  // queue is gone is skipped.
  virtual PvlResult FireRegistered() = 0;  // 5
  virtual PvlResult Reserved6() = 0;       // 6: answers 20
  // Registers an outside control (of any queue) to be fired by FireRegistered; the
  // queue holds a reference on it until it is unregistered or the queue goes away.
  // flags: 0 or PVL_SIGNAL_REGISTER_ONCE. 29 for a null control, 14 for other flags.
  virtual PvlResult RegisterControl(ISignalControl* control, uint32_t flags) = 0;  // 7
  // Ends the oldest registration of this control; 14 when it has none.
  virtual PvlResult UnregisterControl(ISignalControl* control) = 0;  // 8

 protected:
  ~ISignalQueue() = default;
};

#endif
