// The frame-buffer manager's faces: a pool of equally sized frame buffers that
// the VFE outputs fill and the ports hand to clients. A client sets the pool's
// requirements, has it allocated, takes buffers out, and gets each one back
// when its last reference goes.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "bufferrequest.h"
#include "pvlbase.h"

class IPvlMediaBuffer;
class ISignalControl;

#define ZUEUID_CLASS_BUFFER_MANAGER 0x01070f77u
#define ZUEUID_IFACE_CAMERABUFFERMANAGER 0x010710a3u
// The buffer-return notification face (answered by QueryInterface).
#define ZUEUID_IFACE_BUFFER_NOTIFY 0x0106cd23u

// Results of the manager besides the framework's.
#define CAMERA_BM_E_NO_FREE_BUFFER 516            // GetBuffer without waiting: the pool is empty
#define CAMERA_BM_E_NOT_ALLOCATED 0x03C19306      // no pool (not allocated, or being freed)

// The requirements of a pool: BufferRequest (bufferrequest.h). The VFE outputs hand
// these out as their buffer information; the still ports as their buffer requirements.

// Registration of a signal that fires each time a buffer returns to the pool.
class ICameraBufferNotify : public IPvlBase {
 public:
  // 29 when either is null. *registration holds the registration; its last
  // Release ends it.
  virtual PvlResult Register(ISignalControl* control, IPvlBase** registration) = 0;  // 3

 protected:
  ~ICameraBufferNotify() = default;
};

class ICameraBufferManager : public IPvlBase {
 public:
  // Count, aligned size, source, pass-through words and alignment; 29 on null.
  virtual PvlResult GetRequirements(BufferRequest* request) = 0;  // 3
  // 0x03C19301 once allocated; 29 on null; 14 for an alignment over 31 or a pool
  // whose size overflows 32 bits; 38 for fewer or smaller buffers than set,
  // unless the manager was initialised with shrinking allowed.
  virtual PvlResult SetRequirements(const BufferRequest* request) = 0;  // 4
  virtual PvlResult Allocate() = 0;  // 5
  // Frees now when every buffer is home, otherwise when the last one comes back.
  // Buffers are refused (0x03C19306) from the moment freeing is pending.
  virtual PvlResult Free() = 0;  // 6
  // 29 on null; 0x03C19306 without a pool; 516 when empty and noWait is set;
  // otherwise waits for a buffer to come back.
  virtual PvlResult GetBuffer(uint8_t noWait, IPvlMediaBuffer** buffer) = 0;  // 7
  // Same as the notify face's Register.
  virtual PvlResult Attach(ISignalControl* control, IPvlBase** registration) = 0;  // 8
  // externalMemory: the client supplies each buffer's memory (AddExternalBuffer)
  // and Allocate does nothing; mayShrink: later requests may ask for less.
  virtual PvlResult InitRequirements(const BufferRequest* request, uint8_t externalMemory,
                                     uint8_t mayShrink) = 0;  // 9
  // One more buffer over client memory, up to the required count (13 beyond it).
  virtual PvlResult AddExternalBuffer(uintptr_t virtualAddress, uint32_t physicalAddress, uint8_t physicalValid,
                                      uint32_t capacity, IPvlMediaBuffer** buffer) = 0;  // 10
  // The notify face, one reference added.
  virtual PvlResult GetNotify(ICameraBufferNotify** notify) = 0;  // 11
  // Buffers of the pool and how many are home now; 29 when either is null.
  virtual PvlResult GetCounts(uint32_t* total, uint32_t* free) = 0;  // 12

 protected:
  ~ICameraBufferManager() = default;
};
