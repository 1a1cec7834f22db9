// The tuning server's protocol thread: listens on TCP, serves one tool at a
// time with non-blocking sockets and 0.5 s selects, and hands each complete
// request to the catalog's handlers.
#pragma once

#include <atomic>
#include <cstdint>

#include "tunvexcatalog.h"
#include "wince.h"
#include "wince_winsock.h"

class CTunvexProtocolThread {
 public:
  // A request or reply that makes no progress for this long ends its connection,
  // so that a stalled or vanished tool cannot keep the next one out.
  static constexpr DWORD kDefaultStallTimeoutMs = 10000;

  explicit CTunvexProtocolThread(CTunvexCatalog* catalog);
  ~CTunvexProtocolThread();  // ends the thread first
  CTunvexProtocolThread(const CTunvexProtocolThread&) = delete;
  CTunvexProtocolThread& operator=(const CTunvexProtocolThread&) = delete;

  // 13 when the thread exists; the thread's start failure; else 0.
  PvlResult CreateProtocolThread();
  // Clears the run flag and waits until the thread has ended (the current step
  // finishes first: at most about a second). 13 without a thread. Called on
  // the protocol thread itself (only from the owner's deletion that
  // DeleteOwnerOnExit handed to it), it lets go of the thread without waiting.
  PvlResult EndProtocolThread();

  // True on the protocol thread.
  bool OnProtocolThread() const;
  // For an owner whose last reference goes on the protocol thread (in a
  // request handler): the thread ends after its current step and then calls
  // `deleteOwner`, as the very last thing it does.
  typedef void (*DeleteOwnerFn)(void* owner);
  void DeleteOwnerOnExit(DeleteOwnerFn deleteOwner, void* owner);

  // The port listened on (55555 unless overridden); 0 until the socket is set up.
  uint16_t Port() const { return m_port.load(); }
  // Waits until the socket set-up has finished, well or not; TRUE when listening.
  BOOL WaitListening(DWORD milliseconds);
  void SetStallTimeout(DWORD milliseconds) { m_stallTimeoutMs = milliseconds; }

 private:
  static DWORD ThreadEntry(LPVOID self);
  DWORD ThreadProc();
  int OpenSocket(bool* started);
  int ProcessSocket();
  int CloseClient();
  // 1 ready, 0 timed out, -1 failed.
  int SelectOne(SOCKET s, bool forWrite);
  bool Stalled() const;
  void Progress();

  CTunvexCatalog* m_catalog;
  HANDLE m_thread = nullptr;
  std::atomic<DWORD> m_threadId{0};
  DeleteOwnerFn m_deleteOwner = nullptr;  // set and read on the protocol thread
  void* m_owner = nullptr;
  HANDLE m_ready = nullptr;  // set when the socket set-up has finished
  std::atomic<bool> m_run{false};
  std::atomic<uint16_t> m_port{0};
  DWORD m_stallTimeoutMs = kDefaultStallTimeoutMs;

  // Owned by the protocol thread.
  uint8_t* m_receive = nullptr;
  uint8_t* m_response = nullptr;
  SOCKET m_listen = INVALID_SOCKET;
  SOCKET m_client = INVALID_SOCKET;
  bool m_ackPending = false;
  uint32_t m_ackSent = 0;
  bool m_sending = false;
  bool m_expectingCode = true;
  uint16_t m_code = 0;
  uint32_t m_requestSize = 0;         // payload bytes the handler may read
  uint32_t m_expectedPayload = 0;     // 0 while reading a header
  uint32_t m_received = 0;
  uint32_t m_responseSize = 0;
  uint8_t m_successByte = 0;
  bool m_successSent = false;
  uint32_t m_responseSent = 0;
  DWORD m_lastProgress = 0;
};
