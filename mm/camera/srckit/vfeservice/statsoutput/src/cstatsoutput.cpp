// CStatsOutput: the pool, the VFE-held list and the owed acks of one kind of
// VFE statistics.
#include "cstatsoutput.h"

#include "ccameralockguard.h"
#include "ienv.h"
#include "pvllog.h"
#include "vfedriver.h"

PvlResult CStatsSourceBase::Ack(IPvlMediaBuffer* buffer) {
  if (!buffer) return PVL_E_NULLPTR;
  uint64_t physical = 0;
  PvlResult r = buffer->GetPhysicalAddress(&physical);
  if (r == PVL_OK) {
    VfeStatsAckCmd ack{static_cast<uint32_t>(physical)};
    r = m_service->SendCommand(m_ackCommand, &ack, sizeof ack);
  }
  if (r != PVL_OK) CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "%s", m_ackFailure);
  return r;
}

ISignalControl* CStatsSourceBase::GetReadySignal() {
  return m_service->GetAckSignal(m_readySignal);
}

CStatsOutput::CStatsOutput(IVfeOutputHost* service, CStatsSource* source)
    : CPvlObject(service->GetEnv()), m_service(service), m_source(source), m_owed(0), m_started(0) {}

PvlResult CStatsOutput::Create(IVfeOutputHost* service, CStatsSource* source, CStatsOutput** out) {
  if (!source) return PVL_E_NULLPTR;
  if (!service || !out) {
    delete source;
    return PVL_E_BADARG;
  }
  CStatsOutput* self = new CStatsOutput(service, source);
  self->AddRef();
  PvlResult r = self->Construct();
  if (r != PVL_OK) {
    self->Release();
    return r;
  }
  *out = self;
  return PVL_OK;
}

PvlResult CStatsOutput::Construct() {
  m_ready = m_source->GetReadySignal();
  PvlResult r = GetEnv()->CreateInstance(ZUEUID_CLASS_BUFFER_MANAGER, m_pool.Out());
  if (r != PVL_OK) return r;
  CPvlPtr<ICameraBufferNotify> notify;
  r = m_pool->QueryInterface(ZUEUID_IFACE_BUFFER_NOTIFY, notify.Out());
  if (r != PVL_OK) return r;
  if (!m_ready) return PVL_OK;  // nothing to fire: the service has no signals
  return notify->Register(m_ready, &m_registration);
}

CStatsOutput::~CStatsOutput() {
  m_vfeHeld.clear();
  if (m_started && m_pool) m_pool->Free();
  m_registration.Reset();
  m_pool.Reset();
  m_ready.Reset();
  delete m_source;
}

ILock* CStatsOutput::Lock() const { return m_service->GetLock(); }

PvlResult CStatsOutput::Start() {
  if (!m_pool) return PVL_E_NOTREADY;
  BufferRequest request{};
  PvlResult r = m_source->GetBufferRequest(&request);
  if (r != PVL_OK) return r;
  r = m_pool->InitRequirements(&request, 0, 0);
  if (r != PVL_OK) return r;
  r = m_pool->Allocate();
  if (r != PVL_OK) return r;
  m_started = 1;
  return PVL_OK;
}

PvlResult CStatsOutput::Stop() {
  if (!m_pool) return PVL_E_NOTREADY;
  Reset();
  PvlResult r = m_pool->Free();
  if (r == PVL_OK) m_started = 0;
  return r;
}

void CStatsOutput::Reset() {
  std::vector<CPvlPtr<IPvlMediaBuffer>> dropped;
  {
    CCameraLockGuard guard(Lock());
    dropped.swap(m_vfeHeld);
    m_owed = 0;
    m_sparesOwed = 0;
  }
}

PvlResult CStatsOutput::QueueNewBuffer(uint32_t* address) {
  if (!address) return PVL_E_BADARG;
  if (!m_pool) return PVL_E_NOTREADY;
  CPvlPtr<IPvlMediaBuffer> buffer;
  PvlResult r = m_pool->GetBuffer(1, &buffer);
  if (r != PVL_OK) return r;
  uint64_t physical = 0;
  uint32_t offset = 0;
  r = buffer->GetPhysicalAddress(&physical);
  if (r == PVL_OK) r = buffer->GetOffset(&offset);
  if (r != PVL_OK) return r;
  *address = static_cast<uint32_t>(physical) + offset;
  CCameraLockGuard guard(Lock());
  m_vfeHeld.push_back(buffer);
  return PVL_OK;
}

PvlResult CStatsOutput::QueueSpareBuffer(uint32_t* address) {
  PvlResult r = QueueNewBuffer(address);
  if (r != CAMERA_BM_E_NO_FREE_BUFFER) return r;
  CCameraLockGuard guard(Lock());
  *address = 0;  // the VFE skips a frame's statistics until it has a spare
  ++m_sparesOwed;
  return PVL_OK;
}

PvlResult CStatsOutput::OnVfeStarted() {
  {
    CCameraLockGuard guard(Lock());
    m_owed += m_sparesOwed;
    m_sparesOwed = 0;
  }
  return SendPendingAcks();
}

PvlResult CStatsOutput::OnMessage(uint32_t frameCounter, uint32_t address) {
  CPvlPtr<IPvlMediaBuffer> filled;
  {
    CCameraLockGuard guard(Lock());
    if (m_vfeHeld.empty()) return PVL_E_FAIL;
    for (auto it = m_vfeHeld.begin(); it != m_vfeHeld.end(); ++it) {
      uint64_t physical = 0;
      if ((*it)->GetPhysicalAddress(&physical) != PVL_OK) continue;
      if (physical == address) {
        filled = it->Get();
        m_vfeHeld.erase(it);
        ++m_owed;
        break;
      }
    }
  }
  if (!filled) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_NOTABLE, "Statistics buffer 0x%x is not the VFE's: message dropped", address);
    return PVL_OK;
  }
  m_source->OnStats(frameCounter, filled);
  filled.Reset();
  return SendPendingAcks();
}

PvlResult CStatsOutput::SendPendingAcks() {
  CCameraLockGuard guard(Lock());
  if (m_owed == 0) return PVL_OK;
  CPvlPtr<IPvlMediaBuffer> buffer;
  PvlResult r = m_pool->GetBuffer(1, &buffer);
  if (r == CAMERA_BM_E_NO_FREE_BUFFER) {
    CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "SendPendingAcks: all buffers are busy with VFE/APP");
    return PVL_OK;
  }
  if (r != PVL_OK) return r;
  r = m_source->Ack(buffer);
  if (r != PVL_OK) return r;
  m_vfeHeld.push_back(buffer);
  --m_owed;
  return PVL_OK;
}
