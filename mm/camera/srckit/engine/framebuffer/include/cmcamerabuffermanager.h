// The frame-buffer manager: a pool of equally sized frame buffers.
//
// Every frame the camera moves lives in one of these pools: the VFE outputs
// take a free buffer, the hardware fills it by physical address, and the frame
// goes through a port to its client without a copy. The buffer comes home on
// its last Release, and a signal registered with the manager (the VFE output's
// ready-to-ack signal) fires so that the hardware gets it again. Memory comes
// from the platform library's contiguous memory (so the VFE can reach it) or,
// for the heap source, from the framework heap; a client may also bring its
// own memory buffer by buffer.
#pragma once

#include <stdint.h>

#include "cpvlmediabuffer.h"
#include "cpvlobject.h"
#include "icamerabuffermanager.h"
#include "ilock.h"
#include "isignalqueue.h"

class IEnv;

class CMCameraBufferManager final : public CPvlObject, public ICameraBufferManager, public IPvlMediaBufferOwner {
 public:
  // The class switch's entry for ZUEUID_CLASS_BUFFER_MANAGER: hands out the
  // buffer-manager interface with one reference.
  static PvlResult CreateInstance(IEnv* env, ZUEUID clsid, void* argument, void** out);

  PVL_FORWARD_IPVLBASE_TO(CPvlObject)
  PvlResult QueryInterface(ZUEUID iid, void** out) override;

  PvlResult GetRequirements(BufferRequest* request) override;
  PvlResult SetRequirements(const BufferRequest* request) override;
  PvlResult Allocate() override;
  PvlResult Free() override;
  PvlResult GetBuffer(uint8_t noWait, IPvlMediaBuffer** buffer) override;
  PvlResult Attach(ISignalControl* control, IPvlBase** registration) override;
  PvlResult InitRequirements(const BufferRequest* request, uint8_t externalMemory, uint8_t mayShrink) override;
  PvlResult AddExternalBuffer(uintptr_t virtualAddress, uint32_t physicalAddress, uint8_t physicalValid,
                              uint32_t capacity, IPvlMediaBuffer** buffer) override;
  PvlResult GetNotify(ICameraBufferNotify** notify) override;
  PvlResult GetCounts(uint32_t* total, uint32_t* free) override;

  void BufferReturned(CPvlMediaBuffer* buffer) override;

  // The aligned size of `size` for alignment exponent `alignment`; false when
  // the exponent is over 31 or the result does not fit 32 bits.
  static bool AlignedSize(uint32_t size, uint8_t alignment, uint32_t* aligned);

 private:
  class CNotifyFace final : public ICameraBufferNotify {
   public:
    explicit CNotifyFace(CMCameraBufferManager* owner) : m_owner(owner) {}
    int32_t AddRef() override { return m_owner->AddRef(); }
    int32_t Release() override { return m_owner->Release(); }
    PvlResult QueryInterface(ZUEUID iid, void** out) override { return m_owner->QueryInterface(iid, out); }
    PvlResult Register(ISignalControl* control, IPvlBase** registration) override {
      return m_owner->Attach(control, registration);
    }

   private:
    CMCameraBufferManager* m_owner;
  };
  struct Waiter;

  explicit CMCameraBufferManager(IEnv* env);
  ~CMCameraBufferManager() override;
  PvlResult Construct();

  PvlResult TakeRequirements(const BufferRequest* request);
  PvlResult AllocateLocked();
  PvlResult MakeBuffers();
  PvlResult AllocateMemory();
  // Gives everything back; the pool is empty afterwards.
  void Clear();
  void LogFreeing(const char* what);
  void PushFree(CPvlMediaBuffer* buffer);
  CPvlMediaBuffer* PopFree();
  bool Owns(CPvlMediaBuffer* buffer) const;

  CNotifyFace m_notifyFace;
  CPvlPtr<ILock> m_lock;
  CPvlPtr<ISignalQueue> m_notifyQueue;  // registered controls fire on every return

  BufferRequest m_request;
  uint32_t m_alignedSize;
  bool m_requirementsSet;
  bool m_external;   // the client supplies the memory
  bool m_mayShrink;
  bool m_allocated;
  bool m_freePending;

  CPvlMediaBuffer** m_buffers;  // m_built of them
  uint32_t m_built;
  CPvlMediaBuffer* m_freeHead;  // linked through the buffers' link words
  uint32_t m_freeCount;

  // Memory: one block, or one per buffer (m_perBuffer), from the heap or pmem.
  bool m_fromHeap;
  bool m_perBuffer;
  void* m_block;
  void** m_perBufferMemory;

  Waiter* m_idleWaiters;
};
