// The tuning server's protocol thread: listens on TCP, serves one tool at a
// time with non-blocking sockets and 0.5 s selects, and hands each complete
// request to the catalog's handlers.
//
// A connection is always in one of five named states, each moving one buffer
// in one direction: waiting for a client (accept), acknowledging (the 6-byte
// ack out), reading a header (6 bytes in), reading a payload (its bytes and
// the 4 trailing ones in), answering (success byte and response block out, in
// one piece). A finished buffer goes through the one transition function.
#pragma once

#include <atomic>
#include <cstdint>

#include "ctunvexcatalog.h"
#include "tunvexprotocol.h"
#include "wince.h"
#include "wince_winsock.h"

class CTunvexProtocolThread {
 public:
  // A request must have come in whole within this long of its first byte, and
  // the tool must take the reply (or, after accept, the ack) within this long:
  // a tool that stalls or trickles cannot hold the one-tool-at-a-time server.
  // The handler's own time does not count.
  static constexpr DWORD kDefaultRequestDeadlineMs = 10000;
  // A tool idle between requests keeps the server until another tool has
  // waited for it this long.
  static constexpr DWORD kDefaultIdleHandoverMs = 30000;

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
  void SetRequestDeadline(DWORD milliseconds) { m_requestDeadlineMs = milliseconds; }
  void SetIdleHandover(DWORD milliseconds) { m_idleHandoverMs = milliseconds; }

 private:
  enum class State : uint8_t { kWaitingForClient, kAcknowledging, kReadingHeader, kReadingPayload, kAnswering };
  // What one receive or send of the current buffer came to.
  enum class Io : uint8_t { kDone, kPartial, kWouldBlock, kClosed, kFailed };
  static constexpr uint32_t kReplySize = 1 + tunvex::kResponseSize;  // success byte + block

  static DWORD ThreadEntry(LPVOID self);
  DWORD ThreadProc();
  int OpenSocket(bool* started);
  int ProcessSocket();
  int Accept();
  // The one transition function: what the finished buffer of the current
  // state (or, waiting for a client, the accept) means, and the state that
  // follows. Any failure goes back to waiting for a client (CloseClient).
  void Transition();
  // Enters a state with its buffer, nothing of it moved yet.
  void Enter(State next, uint8_t* buffer = nullptr, uint32_t size = 0);
  // One receive or send of what is left of the current buffer.
  Io Move(bool sending);
  int CloseClient();
  // 1 ready, 0 timed out, -1 failed.
  int SelectOne(SOCKET s, bool forWrite, long microseconds);
  // Reading a header of which nothing has come yet.
  bool BetweenRequests() const;
  bool PastDeadline() const;
  bool HandOver();

  CTunvexCatalog* m_catalog;
  HANDLE m_thread = nullptr;
  std::atomic<DWORD> m_threadId{0};
  DeleteOwnerFn m_deleteOwner = nullptr;  // set and read on the protocol thread
  void* m_owner = nullptr;
  HANDLE m_ready = nullptr;  // set when the socket set-up has finished
  std::atomic<bool> m_run{false};
  std::atomic<uint16_t> m_port{0};
  std::atomic<DWORD> m_requestDeadlineMs{kDefaultRequestDeadlineMs};
  std::atomic<DWORD> m_idleHandoverMs{kDefaultIdleHandoverMs};

  // Owned by the protocol thread.
  uint8_t* m_receive = nullptr;  // payload and trailer
  uint8_t* m_reply = nullptr;    // ack, or success byte and response block
  uint8_t m_header[tunvex::kHeaderSize] = {};
  SOCKET m_listen = INVALID_SOCKET;
  SOCKET m_client = INVALID_SOCKET;
  State m_state = State::kWaitingForClient;
  uint8_t* m_buffer = nullptr;  // the current state's buffer
  uint32_t m_size = 0;
  uint32_t m_moved = 0;
  uint16_t m_code = 0;
  uint32_t m_requestSize = 0;   // payload bytes the handler may read
  uint32_t m_responseSize = 0;  // the code's response block
  DWORD m_requestStart = 0;     // accept, or the first byte of a header
  DWORD m_idleSince = 0;        // the last reply's end
};
