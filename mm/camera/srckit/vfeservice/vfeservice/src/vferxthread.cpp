// The VFE service's receive thread, "Camera VFE RxThread": the one reader of
// the driver's message ring. It hands frames to the video outputs, statistics
// to the statistics outputs and the end of a snapshot to the engine, and gives
// buffers back to the VFE when they return to their pools.
#include "ccameralockguard.h"
#include "cvfeservice.h"
#include "pvllog.h"

uint32_t CVfeService::RxThreadEntry(void* context) {
  if (!context) return PVL_E_BADARG;
  return static_cast<uint32_t>(static_cast<CVfeService*>(context)->RxThreadProc());
}

PvlResult CVfeService::RxThreadProc() {
  CPvlPtr<ISignalQueue> queue;
  PvlResult r = m_thread->GetSignalQueue(&queue);
  if (r != PVL_OK) return r;
  for (;;) {
    PvlSignalWaitRecord record{};
    r = queue->Wait(&record);
    if (r != PVL_OK) return r;
    // A signal taken and not yet re-armed drops its fires: re-arm before the
    // handler reads, so that what comes in meanwhile fires it again.
    switch (record.id) {
      case PVL_THREAD_STOP_SIGNAL:
        CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "RxThreadProc is exiting: OUTPUT1=%u, OUTPUT2=%u", m_messageCount[0],
                         m_messageCount[1]);
        return PVL_OK;
      case ZUEUID_SIGNAL_VFE_MESSAGE:
        m_signals[kSignalMessage].signal->ReArm();
        OnAsyncEvent();
        break;
      case ZUEUID_SIGNAL_ACK_OUTPUT1:
        m_signals[kSignalAckOutput1].signal->ReArm();
        OnReadyToAck(kSignalAckOutput1);
        break;
      case ZUEUID_SIGNAL_ACK_OUTPUT2:
        m_signals[kSignalAckOutput2].signal->ReArm();
        OnReadyToAck(kSignalAckOutput2);
        break;
      case ZUEUID_SIGNAL_ACK_AF_STATS:
        m_signals[kSignalAckAF].signal->ReArm();
        OnReadyToAck(kSignalAckAF);
        break;
      case ZUEUID_SIGNAL_ACK_WB_EXP_STATS:
        m_signals[kSignalAckWBExp].signal->ReArm();
        OnReadyToAck(kSignalAckWBExp);
        break;
      default:
        break;
    }
  }
}

// Drains the ring while the service runs; messages that come while it does
// not stay in the ring for the next signal after Start.
PvlResult CVfeService::OnAsyncEvent() {
  CPvlPtr<ICameraDriver> driver;
  {
    // The driver may be dropped by Suspend on another thread: read through our own reference.
    CCameraLockGuard guard(m_lock);
    if (!IsRunning()) return PVL_OK;
    driver = m_driver.Get();
  }
  if (!driver) return PVL_E_NOTREADY;
  for (;;) {
    VfeMessage message;
    PvlResult r = driver->Command(VFE_CMD_READ_MESSAGE, &message, sizeof message, nullptr, 0, nullptr);
    if (r != PVL_OK) return r;
    DispatchMessage(message);
  }
}

namespace {

uint64_t Time64(const uint32_t (&words)[2]) { return uint64_t{words[0]} | uint64_t{words[1]} << 32; }

}  // namespace

void CVfeService::DispatchMessage(const VfeMessage& message) {
  switch (message.id) {
    case MSG_VFE_UPDATE_ACK:
    case MSG_VFE_CAMIF_IRQ1:
    case MSG_VFE_CAMIF_IRQ2:
      return;
    case MSG_VFE_OUTPUT1: {
      ++m_messageCount[0];
      const VfeFrameRecord& f = message.payload.frame;
      CVideoOutput* output = m_outputs[m_order[0]].Get();
      PvlResult r = output->OnOutput(f.luma, f.chroma, Time64(f.startOfFrameTime), Time64(f.messageTime));
      if (r != PVL_OK) CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Error processing OUTPUT1 message: %d", static_cast<int>(r));
      return;
    }
    case MSG_VFE_OUTPUT2: {
      ++m_messageCount[1];
      const VfeFrameRecord& f = message.payload.frame;
      CVideoOutput* raw = m_outputs[0].Get();
      if (raw->IsCurrentModeEnabled()) {
        PvlResult r = raw->OnOutput(f.luma, f.chroma, Time64(f.startOfFrameTime), Time64(f.messageTime));
        if (r != PVL_OK) CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Error processing OUTPUT0 message: %d", static_cast<int>(r));
      } else {
        CVideoOutput* output = m_outputs[m_order[1]].Get();
        PvlResult r = output->OnOutput(f.luma, f.chroma, Time64(f.startOfFrameTime), Time64(f.messageTime));
        if (r != PVL_OK) CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Error processing OUTPUT2 message: %d", static_cast<int>(r));
      }
      return;
    }
    case MSG_VFE_SNAPSHOT_DONE:
      DispatchSnapshotDone();
      return;
    case MSG_VFE_OUTPUT_LOST: {
      const VfeLostRecord& l = message.payload.lost;
      if (l.path > 1) return;
      // OUTPUT2 feeds the raw output while it runs, which has no stream to tell.
      if (l.path == 1 && m_outputs[0]->IsCurrentModeEnabled()) return;
      PvlResult r = m_outputs[m_order[l.path]]->OnFramesLost(l.lost);
      if (r != PVL_OK) CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Error processing lost frames message: %d", static_cast<int>(r));
      return;
    }
    case MSG_VFE_STATS_AF: {
      PvlResult r = m_afStats ? m_afStats->OnMessage(message.payload.stats.frameCounter, message.payload.stats.buffer)
                              : PVL_E_NOTREADY;
      if (r != PVL_OK) CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Error processing AF stats message: %d", static_cast<int>(r));
      return;
    }
    case MSG_VFE_STATS_WB_EXP: {
      PvlResult r = m_wbExpStats
                        ? m_wbExpStats->OnMessage(message.payload.stats.frameCounter, message.payload.stats.buffer)
                        : PVL_E_NOTREADY;
      if (r != PVL_OK)
        CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Error processing WB Exp stats message: %d", static_cast<int>(r));
      return;
    }
    default:
      CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Unrecognized async event: 0x%x", message.id);
      return;
  }
}

// The outputs hear of the end under the service lock; the engine hears of it
// after the lock is given up, since its own calls into the service come with
// the engine's lock held and would otherwise wait on each other.
void CVfeService::DispatchSnapshotDone() {
  {
    CCameraLockGuard guard(m_lock);
    for (uint32_t i = 0; i < kOutputCount; ++i) {
      PvlResult r = m_outputs[i]->OnSnapshotDone(0);
      if (r != PVL_OK)
        CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Error dispatching MSG_VFE_SNAPSHOT_DONE to output %d: %d",
                         static_cast<int>(i + 1), static_cast<int>(r));
    }
  }
  PvlResult r = RaiseEvent(EVENT_SNAPSHOT_DONE, 0, nullptr);
  if (r != PVL_OK)
    CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "Error dispatching EVENT_SNAPSHOT_DONE callback to engine: %d",
                     static_cast<int>(r));
}

void CVfeService::OnReadyToAck(Signal signal) {
  CCameraLockGuard guard(m_lock);
  if (!IsRunning()) return;
  PvlResult r = PVL_OK;
  switch (signal) {
    case kSignalAckOutput1:
      r = m_outputs[m_order[0]]->ReArm();
      if (r != PVL_OK) CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "OnReadyToAckOutput1: %d", static_cast<int>(r));
      break;
    case kSignalAckOutput2:
      r = m_outputs[m_order[1]]->ReArm();
      if (r != PVL_OK) CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "OnReadyToAckOutput2: %d", static_cast<int>(r));
      break;
    case kSignalAckWBExp:
      r = m_wbExpStats ? m_wbExpStats->SendPendingAcks() : PVL_OK;
      if (r != PVL_OK) CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "OnReadyToAckWBExpStats: %d", static_cast<int>(r));
      break;
    case kSignalAckAF:
      r = m_afStats ? m_afStats->SendPendingAcks() : PVL_OK;
      if (r != PVL_OK) CAMERA_DEBUG_LOG(CAMERA_LOG_DETAIL, "OnReadyToAckAutofocusStats: %d", static_cast<int>(r));
      break;
    default:
      break;
  }
}
