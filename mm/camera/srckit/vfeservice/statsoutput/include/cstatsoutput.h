// CStatsOutput: one kind of VFE statistics (auto-focus, or white balance and
// exposure). It owns the kind's buffer pool, knows which buffers the VFE holds,
// matches each statistics message to its buffer and hands it to the kind's
// source, which wraps it in the statistics object the plug-ins read. A buffer
// comes back to the pool when the reader releases the object; the pool then
// fires the kind's ready signal and the receive thread gives the VFE a buffer
// in place of every one it delivered.
#pragma once

#include <stdint.h>

#include <vector>

#include "bufferrequest.h"
#include "cpvlmediabuffer.h"
#include "cpvlobject.h"
#include "icamerabuffermanager.h"
#include "isignalqueue.h"
#include "ivfeoutputhost.h"
#include "ivfeservice.h"

// The kind's side of a statistics output.
class CStatsSource {
 public:
  virtual ~CStatsSource() = default;
  virtual void SetStatsCount(uint32_t count) = 0;
  virtual void SetStatsGrid(uint32_t a, uint32_t b) = 0;
  // Gives one buffer to the VFE.
  virtual PvlResult Ack(IPvlMediaBuffer* buffer) = 0;
  // A filled buffer: wrap it and raise EVENT_STATS_AVAILABLE, unless a reader
  // still holds the previous statistics (then the buffer is not kept).
  virtual PvlResult OnStats(uint32_t frameCounter, IPvlMediaBuffer* buffer) = 0;
  virtual ISignalControl* GetReadySignal() = 0;
  virtual PvlResult GetBufferRequest(BufferRequest* request) = 0;
};

// What both kinds' statistics objects share: the reader count (the object is
// its own in-use mark), the frame and grid of the delivery, and its buffer,
// which goes back to its pool when the last reader lets go (the pool's ready
// signal then gives the VFE a buffer again).
template <class... Faces>
class CStatsObject : public Faces... {
 public:
  int32_t AddRef() override { return __atomic_add_fetch(&m_count, 1, __ATOMIC_ACQ_REL); }
  int32_t Release() override {
    int32_t n = __atomic_sub_fetch(&m_count, 1, __ATOMIC_ACQ_REL);
    if (n == 0) m_buffer.Reset();
    return n;
  }
  PvlResult GetFrameId(uint32_t* frame) override {
    if (!frame) return PVL_E_NULLPTR;
    *frame = m_frame;
    return PVL_OK;
  }

  bool InUse() const { return __atomic_load_n(&m_count, __ATOMIC_ACQUIRE) != 0; }
  // Takes the buffer and the values of one delivery.
  void Fill(uint32_t frame, uint32_t gridA, uint32_t gridB, IPvlMediaBuffer* buffer) {
    m_frame = frame;
    m_gridA = gridA;
    m_gridB = gridB;
    m_buffer = buffer;
  }

 protected:
  int32_t m_count = 0;
  uint32_t m_frame = 0;
  uint32_t m_gridA = 0;
  uint32_t m_gridB = 0;
  CPvlPtr<IPvlMediaBuffer> m_buffer;
};

// What both kinds' sources share: the statistics count and grid the configurers
// set, the ack that gives the VFE a buffer (the kind's ack command with the
// buffer's physical address) and the kind's ready signal of the service.
class CStatsSourceBase : public CStatsSource {
 public:
  void SetStatsCount(uint32_t count) override { m_statsCount = count; }
  void SetStatsGrid(uint32_t a, uint32_t b) override {
    m_gridA = a;
    m_gridB = b;
  }
  PvlResult Ack(IPvlMediaBuffer* buffer) override;
  ISignalControl* GetReadySignal() override;

  IVfeOutputHost* GetService() const { return m_service; }

 protected:
  // ackFailure: the error line of a failed ack; readySignal: the kind's ZUEUID_SIGNAL_ACK_*.
  CStatsSourceBase(IVfeOutputHost* service, int32_t ackCommand, ZUEUID readySignal, const char* ackFailure)
      : m_service(service), m_ackCommand(ackCommand), m_readySignal(readySignal), m_ackFailure(ackFailure) {}

  IVfeOutputHost* const m_service;
  uint32_t m_statsCount = 0;
  uint32_t m_gridA = 0;
  uint32_t m_gridB = 0;

 private:
  const int32_t m_ackCommand;
  const ZUEUID m_readySignal;
  const char* const m_ackFailure;
};

class CStatsOutput final : public CPvlObject, public IStatsOutput {
 public:
  // Takes the source. 29 for a null source; else the failure of creating or
  // registering with the pool.
  static PvlResult Create(IVfeOutputHost* service, CStatsSource* source, CStatsOutput** out);

  // IStatsOutput
  PvlResult QueueNewBuffer(uint32_t* address) override;
  PvlResult QueueSpareBuffer(uint32_t* address) override;
  void SetStatsCount(uint32_t count) override { m_source->SetStatsCount(count); }
  void SetStatsGrid(uint32_t width, uint32_t height) override { m_source->SetStatsGrid(width, height); }

  PvlResult Start();
  PvlResult Stop();
  bool IsStarted() const { return m_started != 0; }
  // Forgets the buffers the VFE held and the acks owed (after the VFE stopped or was reset).
  void Reset();
  // The VFE runs: a spare owed since its configuration becomes an owed ack. Not
  // before, because the configuration's payload, sent after the spare was
  // queued, sets the VFE's spare and would overwrite an earlier ack.
  PvlResult OnVfeStarted();
  PvlResult OnMessage(uint32_t frameCounter, uint32_t address);
  PvlResult SendPendingAcks();

  CStatsSource* GetSource() const { return m_source; }
  uint32_t GetOwedAcks() const { return m_owed; }
  uint32_t GetOwedSpares() const { return m_sparesOwed; }
  size_t VfeHeldCount() const { return m_vfeHeld.size(); }
  ICameraBufferManager* GetPool() const { return m_pool.Get(); }

 private:
  CStatsOutput(IVfeOutputHost* service, CStatsSource* source);
  ~CStatsOutput() override;
  PvlResult Construct();
  ILock* Lock() const;

  IVfeOutputHost* m_service;
  CStatsSource* m_source;  // owned
  uint32_t m_owed;
  uint32_t m_sparesOwed = 0;  // queued as 0 while a reader held the buffer
  CPvlPtr<ISignalControl> m_ready;
  CPvlPtr<ICameraBufferManager> m_pool;
  std::vector<CPvlPtr<IPvlMediaBuffer>> m_vfeHeld;
  CPvlPtr<IPvlBase> m_registration;
  uint8_t m_started;
};
