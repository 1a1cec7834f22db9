// IClock (class ZUEUID_CLASS_CLOCK): a monotonic millisecond clock.
#ifndef ICLOCK_H
#define ICLOCK_H

#include <stdint.h>

#include "pvlbase.h"

// The clock's interface identifier is its class identifier.
#define ZUEUID_IFACE_CLOCK ZUEUID_CLASS_CLOCK

class IClock : public IPvlBase {
 public:
  // Milliseconds since an arbitrary start; the count wraps at 2^32, so callers take
  // 32-bit differences. 29 for a null out.
  virtual PvlResult GetTime(uint32_t* milliseconds) = 0;  // 3

 protected:
  ~IClock() = default;
};

#endif
