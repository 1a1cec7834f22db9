// The camera's notification queue "CamAsyncMSGQueue" and the two threads that feed
// it. Auto-focus and the pre-snapshot flash finish asynchronously in the engine; the
// engine fires a host signal, a driver thread wakes and tells the camera
// application with a 20-byte AsyncCameraMessage. The pins' capture threads post
// their post-capture notices to the same queue.
#pragma once

#include <atomic>

#include "csprotocol.h"
#include "wince.h"

class CAsyncMsgQueue {
 public:
  CAsyncMsgQueue() = default;
  ~CAsyncMsgQueue();
  CAsyncMsgQueue(const CAsyncMsgQueue&) = delete;
  CAsyncMsgQueue& operator=(const CAsyncMsgQueue&) = delete;

  // Creates the queue's write end (10 messages of 20 bytes, readers may come and go).
  bool CreateAsyncMSGQueue();
  // Waits for room, then writes the message whole. A set `abort` event ends the wait
  // (the device is shutting its threads down): FALSE, nothing written.
  bool SendAsyncMSG(const AsyncCameraMessage& message, HANDLE abort = nullptr);
  HANDLE Handle() const { return m_queue; }

 private:
  HANDLE m_queue = nullptr;
};

// Set by the maker's set when it starts a focus in an auto-flash auto-focus mode;
// the focus thread reports that focus with status 3 and clears it.
extern std::atomic<uint8_t> g_autoFlashFocus;

// Thread entries; the argument is the CCameraDevice. Exit codes: 0 after an exit
// request, 1627 after a failed wait or re-arm, 87 for a null device.
DWORD FocusThread(LPVOID device);
DWORD PreFlashThread(LPVOID device);
