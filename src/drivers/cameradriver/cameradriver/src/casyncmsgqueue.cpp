// The notification queue and the focus and pre-flash threads.
#include "casyncmsgqueue.h"

#include "ccameradevice.h"
#include "isignalqueue.h"

std::atomic<uint8_t> g_autoFlashFocus{0};

CAsyncMsgQueue::~CAsyncMsgQueue() {
  if (m_queue) CloseMsgQueue(m_queue);
}

bool CAsyncMsgQueue::CreateAsyncMSGQueue() {
  MSGQUEUEOPTIONS options{};
  options.dwSize = sizeof options;
  options.dwFlags = MSGQUEUE_ALLOW_BROKEN;
  options.dwMaxMessages = CAM_ASYNC_QUEUE_MAX_MESSAGES;
  options.cbMaxMessage = sizeof(AsyncCameraMessage);
  options.bReadAccess = FALSE;
  m_queue = CreateMsgQueue(CAM_ASYNC_QUEUE_NAME, &options);
  if (!m_queue) {
    NKDbgPrintfW(u"CreateAsyncMSGQueue: Failed to Create g_hAsyncMsgQ\r\n");
    return false;
  }
  return true;
}

bool CAsyncMsgQueue::SendAsyncMSG(const AsyncCameraMessage& message, HANDLE abort) {
  if (!m_queue) return false;
  HANDLE waits[2] = {m_queue, abort};
  DWORD w = WaitForMultipleObjects(abort ? 2 : 1, waits, FALSE, INFINITE);
  if (w != WAIT_OBJECT_0) return false;
  AsyncCameraMessage copy = message;
  if (!WriteMsgQueue(m_queue, &copy, sizeof copy, 0, 0)) {
    NKDbgPrintfW(u"SendAsyncMSG, WriteMsgQueue Fail, %d\r\n", GetLastError());
    return false;
  }
  return true;
}

namespace {

// One notification thread: wait for the engine's signal, tell the application,
// re-arm. The focus thread reports also the wake-up that shutdown causes (the
// application may be waiting for a focus result); the pre-flash thread does not.
DWORD NotifyLoop(CCameraDevice* device, CCameraDevice::Notifier which) {
  const bool focus = which == CCameraDevice::Notifier::Focus;
  NKDbgPrintfW(focus ? u"Focus thread started\r\n" : u"PreFlash thread started\r\n");
  CCameraDevice::NotifierParts parts = device->NotifierFor(which);
  bool ok = true;
  for (;;) {
    if (parts.exit->load()) break;
    PvlSignalWaitRecord record{};
    PvlResult waited = parts.queue->Wait(&record);
    bool exiting = parts.exit->load();
    // Re-armed, then idle, before the notice goes: a client that reads it may
    // start the next run at once, and that run's signal must find the signal armed.
    const bool rearmed = exiting || waited != PVL_OK || parts.signal->ReArm() == PVL_OK;
    if (focus && !exiting && waited == PVL_OK) device->ClearFocusState();
    if (focus) {
      AsyncCameraMessage m{CAM_ASYNC_FOCUS_COMPLETE, sizeof(AsyncCameraMessage), 0, 0, 0};
      if (g_autoFlashFocus.exchange(0) == 1) m.status = CAM_ASYNC_FOCUS_STATUS_AUTO_FLASH;
      device->AsyncQueue()->SendAsyncMSG(m, device->ThreadStopEvent());
    }
    if (exiting || parts.exit->load()) break;
    if (waited != PVL_OK || !rearmed) {
      ok = false;
      break;
    }
    if (focus) {
      NKDbgPrintfW(u"Focusing complete\r\n");
    } else {
      AsyncCameraMessage m{CAM_ASYNC_PRE_FLASH_COMPLETE, sizeof(AsyncCameraMessage), 0, 0, 0};
      device->AsyncQueue()->SendAsyncMSG(m, device->ThreadStopEvent());
      NKDbgPrintfW(u"PreFlash complete\r\n");
    }
  }
  if (focus)
    NKDbgPrintfW(ok ? u"Focus thread exiting successfully\r\n" : u"Focus thread exiting due to error\r\n");
  else
    NKDbgPrintfW(ok ? u"PreFlash thread exiting successfully\r\n" : u"PreFlash thread exiting due to error\r\n");
  return ok ? ERROR_SUCCESS : ERROR_FUNCTION_FAILED;
}

}  // namespace

DWORD FocusThread(LPVOID device) {
  if (!device) return ERROR_INVALID_PARAMETER;
  return NotifyLoop(static_cast<CCameraDevice*>(device), CCameraDevice::Notifier::Focus);
}

DWORD PreFlashThread(LPVOID device) {
  if (!device) return ERROR_INVALID_PARAMETER;
  return NotifyLoop(static_cast<CCameraDevice*>(device), CCameraDevice::Notifier::PreFlash);
}
