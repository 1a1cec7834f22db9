// CPvlMediaBuffer: the description of one frame buffer (answered as
// ZUEUID_IFACE_MEDIA_BUFFER). A queued frame is this object itself. Its last
// Release does not destroy it: the buffer goes back to its owner, which
// re-uses it.
#ifndef CPVLMEDIABUFFER_H
#define CPVLMEDIABUFFER_H

#include <stddef.h>
#include <stdint.h>

#include <new>

#include "cpvlptr.h"
#include "pvlbase.h"

class IEnv;
class CPvlMediaBuffer;

// Flags.
#define PVL_MB_FLAG_CLIENT1 0x01u
#define PVL_MB_FLAG_CLIENT2 0x02u
#define PVL_MB_FLAG_PHYSICAL 0x04u  // physical address valid
#define PVL_MB_FLAG_TIME1 0x08u
#define PVL_MB_FLAG_TIME2 0x10u
#define PVL_MB_FLAG_TIME3 0x20u
#define PVL_MB_FLAG_CLIENT64 0x40u
#define PVL_MB_CLIENT_FLAGS 0x43u   // what SetFlags may change
#define PVL_MB_INFO_FLAGS 0x7Bu     // what SetInfo may change

// Identifiers answered through an attached object (none is attached by the system).
#define ZUEUID_IFACE_MEDIA_ATTACHED_A 0x0101f4d1u
#define ZUEUID_IFACE_MEDIA_ATTACHED_B 0x0106e2e1u

struct CPvlMediaBufferInfo {
  alignas(8) uint64_t virtualAddress;
  alignas(8) uint64_t physicalAddress;  // 0 unless PVL_MB_FLAG_PHYSICAL
  uint32_t capacity;
  uint32_t actualSize;
  uint32_t offset;
  uint32_t reserved1;
  alignas(8) uint64_t time1;  // 0 unless PVL_MB_FLAG_TIME1
  alignas(8) uint64_t time2;
  alignas(8) uint64_t time3;
  uint32_t flags;
  uint32_t reserved2;
};
static_assert(sizeof(CPvlMediaBufferInfo) == 64, "the info record is 64 bytes");
static_assert(offsetof(CPvlMediaBufferInfo, physicalAddress) == 8, "");
static_assert(offsetof(CPvlMediaBufferInfo, capacity) == 16, "");
static_assert(offsetof(CPvlMediaBufferInfo, actualSize) == 20, "");
static_assert(offsetof(CPvlMediaBufferInfo, offset) == 24, "");
static_assert(offsetof(CPvlMediaBufferInfo, time1) == 32, "");
static_assert(offsetof(CPvlMediaBufferInfo, time2) == 40, "");
static_assert(offsetof(CPvlMediaBufferInfo, time3) == 48, "");
static_assert(offsetof(CPvlMediaBufferInfo, flags) == 56, "");

// The owner's face: its first operation takes back a buffer whose last
// reference went.
class IPvlMediaBufferOwner {
 public:
  virtual void BufferReturned(CPvlMediaBuffer* buffer) = 0;  // 0

 protected:
  ~IPvlMediaBufferOwner() = default;
};

class IPvlMediaBuffer : public IPvlBase {
 public:
  // 29 on a null out-pointer everywhere; PVL_E_VALUENOTPRESENT for an absent value.
  virtual PvlResult GetVirtualAddress(uint64_t* address) = 0;    // 3
  virtual PvlResult GetPhysicalAddress(uint64_t* address) = 0;   // 4
  virtual PvlResult GetCapacity(uint32_t* capacity) = 0;         // 5
  virtual PvlResult GetActualSize(uint32_t* size) = 0;           // 6
  virtual PvlResult SetActualSize(uint32_t size) = 0;            // 7: 14 when offset + size exceed the capacity
  virtual PvlResult GetOffset(uint32_t* offset) = 0;             // 8
  virtual PvlResult SetOffset(uint32_t offset) = 0;              // 9: 14 when offset + actual size exceed the capacity
  virtual PvlResult GetTime1(uint64_t* time) = 0;                // 10
  virtual PvlResult SetTime1(uint64_t time) = 0;                 // 11
  virtual PvlResult GetTime2(uint64_t* time) = 0;                // 12
  virtual PvlResult SetTime2(uint64_t time) = 0;                 // 13
  virtual PvlResult GetTime3(uint64_t* time) = 0;                // 14
  virtual PvlResult SetTime3(uint64_t time) = 0;                 // 15
  virtual PvlResult GetFlags(uint32_t* flags) = 0;               // 16
  virtual PvlResult SetFlags(uint32_t flags) = 0;                // 17: bits 0x43 only
  virtual PvlResult GetInfo(CPvlMediaBufferInfo* info) = 0;      // 18
  // 14 when offset + actual size exceed the capacity; takes actual size,
  // offset, the flagged times and the flag bits 0x7B.
  virtual PvlResult SetInfo(const CPvlMediaBufferInfo* info) = 0;  // 19
  virtual PvlResult ClearTimes() = 0;                              // 20

 protected:
  ~IPvlMediaBuffer() = default;
};

class CPvlMediaBuffer : public IPvlMediaBuffer {
 public:
  CPvlMediaBuffer(IPvlMediaBufferOwner* owner, IEnv* env);
  virtual ~CPvlMediaBuffer();

  int32_t AddRef() override;
  // At 0 hands the buffer to its owner; a release with no reference left
  // changes nothing and fires the assertion break. Always returns 0.
  int32_t Release() override;
  PvlResult QueryInterface(ZUEUID iid, void** out) override;
  PvlResult GetVirtualAddress(uint64_t* address) override;
  PvlResult GetPhysicalAddress(uint64_t* address) override;
  PvlResult GetCapacity(uint32_t* capacity) override;
  PvlResult GetActualSize(uint32_t* size) override;
  PvlResult SetActualSize(uint32_t size) override;
  PvlResult GetOffset(uint32_t* offset) override;
  PvlResult SetOffset(uint32_t offset) override;
  PvlResult GetTime1(uint64_t* time) override;
  PvlResult SetTime1(uint64_t time) override;
  PvlResult GetTime2(uint64_t* time) override;
  PvlResult SetTime2(uint64_t time) override;
  PvlResult GetTime3(uint64_t* time) override;
  PvlResult SetTime3(uint64_t time) override;
  PvlResult GetFlags(uint32_t* flags) override;
  PvlResult SetFlags(uint32_t flags) override;
  PvlResult GetInfo(CPvlMediaBufferInfo* info) override;
  PvlResult SetInfo(const CPvlMediaBufferInfo* info) override;
  PvlResult ClearTimes() override;

  // Owner side.
  void SetMemory(uint64_t virtualAddress, uint64_t physicalAddress, bool physicalValid, uint32_t capacity);
  void Reset();  // actual size and offset 0, flags reduced to the physical bit
  uintptr_t GetLink() const { return m_link; }
  void SetLink(uintptr_t link) { m_link = link; }
  int32_t GetRefCount() const { return m_count; }

  CPvlMediaBuffer(const CPvlMediaBuffer&) = delete;
  CPvlMediaBuffer& operator=(const CPvlMediaBuffer&) = delete;

  // Memory comes from the framework heap.
  static void* operator new(size_t size);
  static void* operator new(size_t size, const std::nothrow_t&) noexcept;
  static void* operator new(size_t, void* where) noexcept { return where; }
  static void operator delete(void* p) noexcept;
  static void operator delete(void* p, const std::nothrow_t&) noexcept;
  static void operator delete(void*, void*) noexcept {}

 private:
  PvlResult GetTime(const uint64_t& value, uint32_t flag, uint64_t* time) const;

  uintptr_t m_link;
  volatile int32_t m_count;
  IPvlMediaBufferOwner* m_owner;
  alignas(8) uint64_t m_virtual;
  alignas(8) uint64_t m_physical;
  uint32_t m_capacity;
  uint32_t m_actualSize;
  uint32_t m_offset;
  alignas(8) uint64_t m_time1;
  alignas(8) uint64_t m_time2;
  alignas(8) uint64_t m_time3;
  uint32_t m_flags;
  CPvlPtr<IEnv> m_env;
  IPvlBase* volatile m_propertyFace;  // one reference; made on demand
  CPvlPtr<IPvlBase> m_attached;
  CPvlPtr<IPvlBase> m_second;
  uint32_t m_attachedFlag;

  friend struct CPvlMediaBufferLayout;
};

// GCC lays out this single-inheritance class predictably; check the phone's offsets.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
struct CPvlMediaBufferLayout {
#if INTPTR_MAX == INT32_MAX  // the phone's layout: a 64-bit build widens its pointers
  static_assert(sizeof(CPvlMediaBuffer) == 96, "a media buffer is 96 bytes");
  static_assert(offsetof(CPvlMediaBuffer, m_link) == 4, "");
  static_assert(offsetof(CPvlMediaBuffer, m_count) == 8, "");
  static_assert(offsetof(CPvlMediaBuffer, m_owner) == 12, "");
  static_assert(offsetof(CPvlMediaBuffer, m_virtual) == 16, "");
  static_assert(offsetof(CPvlMediaBuffer, m_physical) == 24, "");
  static_assert(offsetof(CPvlMediaBuffer, m_capacity) == 32, "");
  static_assert(offsetof(CPvlMediaBuffer, m_time1) == 48, "");
  static_assert(offsetof(CPvlMediaBuffer, m_flags) == 72, "");
  static_assert(offsetof(CPvlMediaBuffer, m_attachedFlag) == 92, "");
#endif
};
#pragma GCC diagnostic pop

#endif
