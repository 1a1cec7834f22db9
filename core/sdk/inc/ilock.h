// ILock (class ZUEUID_CLASS_LOCK): a lock that its owning thread may take again.
#ifndef ILOCK_H
#define ILOCK_H

#include <stdint.h>

#include "pvlbase.h"

// The lock's interface identifier is its class identifier.
#define ZUEUID_IFACE_LOCK ZUEUID_CLASS_LOCK

class ILock : public IPvlBase {
 public:
  // Blocks until the lock is free or already held by this thread; 0.
  virtual PvlResult Lock() = 0;    // 3
  // Gives up one level of the calling thread's hold; 13 when this thread does not
  // hold the lock (nothing changes).
  virtual PvlResult Unlock() = 0;  // 4

 protected:
  ~ILock() = default;
};

#endif
