#include "ctunvexprotocolthread.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "tunvexprotocol.h"

namespace {

constexpr DWORD kPauseMs = 500;
constexpr long kSelectMicroseconds = 500000;
constexpr int kWouldBlock = 10035;  // WSAEWOULDBLOCK

bool WouldBlock() { return WSAGetLastError() == kWouldBlock; }

// Per state: its buffer's name in the log, and whether it goes out.
struct StateInfo {
  const char* what;
  bool sends;
};
constexpr StateInfo kStates[] = {
    {"connection", false},  // waiting for a client
    {"ack", true},          // acknowledging
    {"header", false},      // reading a header
    {"payload", false},     // reading a payload
    {"response", true},     // answering
};

DWORD Since(DWORD tick) { return GetTickCount() - tick; }

}  // namespace

CTunvexProtocolThread::CTunvexProtocolThread(CTunvexCatalog* catalog) : m_catalog(catalog) {}

CTunvexProtocolThread::~CTunvexProtocolThread() {
  if (m_thread) EndProtocolThread();
  if (m_ready) CloseHandle(m_ready);
}

PvlResult CTunvexProtocolThread::CreateProtocolThread() {
  if (m_thread) {
    m_catalog->Log("CreateProtocolThread: Thread already exists.\r\n");
    return PVL_E_NOTREADY;
  }
  if (!m_ready) m_ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  else EventModify(m_ready, EVENT_RESET);
  m_port.store(0);
  // Set before the thread starts, so that an EndProtocolThread right after
  // this call is never overtaken by the thread setting it.
  m_run.store(true);
  m_deleteOwner = nullptr;
  m_owner = nullptr;
  DWORD id = 0;
  m_thread = CreateThread(nullptr, 0, &CTunvexProtocolThread::ThreadEntry, this, CREATE_SUSPENDED, &id);
  if (m_thread) {
    // Known before the thread runs: a handler may ask OnProtocolThread at once.
    m_threadId.store(id);
    ResumeThread(m_thread);
  }
  if (!m_thread) {
    m_run.store(false);
    DWORD err = GetLastError();
    m_catalog->Log("Couldnt start thread: error %i\r\n", int(err));
    return PvlResult(err ? err : PVL_E_FAIL);
  }
  return PVL_OK;
}

PvlResult CTunvexProtocolThread::EndProtocolThread() {
  RETAILMSG(1, (u"EndProtocolThread starting... \r\n"));
  if (!m_thread) {
    m_catalog->Log("EndProtocolThread: Thread was NULL\r\n");
    return PVL_E_NOTREADY;
  }
  m_run.store(false);
  if (OnProtocolThread()) {
    // The owner is being deleted by the thread itself on its way out: nothing
    // of it runs after this.
    CloseHandle(m_thread);
    m_thread = nullptr;
    m_threadId.store(0);
    RETAILMSG(1, (u"EndProtocolThread ending... \r\n"));
    return PVL_OK;
  }
  if (WaitForSingleObject(m_thread, kPauseMs) != WAIT_OBJECT_0) {
    // A step can take a select time-out plus a pause: the thread's buffers and
    // this object must outlive it, so wait for it to finish its step.
    WaitForSingleObject(m_thread, INFINITE);
  }
  CloseHandle(m_thread);
  m_thread = nullptr;
  m_threadId.store(0);
  RETAILMSG(1, (u"EndProtocolThread ending... \r\n"));
  return PVL_OK;
}

bool CTunvexProtocolThread::OnProtocolThread() const {
  DWORD id = m_threadId.load();
  return id != 0 && id == GetCurrentThreadId();
}

void CTunvexProtocolThread::DeleteOwnerOnExit(DeleteOwnerFn deleteOwner, void* owner) {
  m_deleteOwner = deleteOwner;
  m_owner = owner;
  m_run.store(false);
}

BOOL CTunvexProtocolThread::WaitListening(DWORD milliseconds) {
  if (!m_ready) return FALSE;
  if (WaitForSingleObject(m_ready, milliseconds) != WAIT_OBJECT_0) return FALSE;
  return m_port.load() != 0;
}

DWORD CTunvexProtocolThread::ThreadEntry(LPVOID self) {
  return static_cast<CTunvexProtocolThread*>(self)->ThreadProc();
}

DWORD CTunvexProtocolThread::ThreadProc() {
  {
    std::unique_ptr<uint8_t[]> receive(new (std::nothrow) uint8_t[tunvex::kReceiveBufferSize]);
    std::unique_ptr<uint8_t[]> reply(new (std::nothrow) uint8_t[kReplySize]);
    if (!receive || !reply) {
      EventModify(m_ready, EVENT_SET);
      return 0;
    }
    m_receive = receive.get();
    m_reply = reply.get();
    std::memset(m_reply, 0, kReplySize);

    // Whatever happens, the sockets close and the buffers go with this scope.
    struct Session {
      CTunvexProtocolThread* self;
      bool started = false;
      ~Session() {
        if (self->m_listen != INVALID_SOCKET) closesocket(self->m_listen);
        if (self->m_client != INVALID_SOCKET) closesocket(self->m_client);
        self->m_listen = self->m_client = INVALID_SOCKET;
        self->m_state = State::kWaitingForClient;
        if (started) WSACleanup();
        self->m_receive = self->m_reply = self->m_buffer = nullptr;
      }
    } session{this};
    int setup = OpenSocket(&session.started);
    EventModify(m_ready, EVENT_SET);

    while (m_run.load()) {
      if (setup != 0 || ProcessSocket() == 1) Sleep(kPauseMs);
    }
  }
  RETAILMSG(1, (u"ThreadProc ended normally \r\n"));
  if (DeleteOwnerFn deleteOwner = m_deleteOwner) deleteOwner(m_owner);  // this object goes with it
  return 0;
}

int CTunvexProtocolThread::OpenSocket(bool* started) {
  m_listen = m_client = INVALID_SOCKET;
  WSADATA data;
  int r = WSAStartup(MAKEWORD(2, 2), &data);
  if (r != 0) {
    m_catalog->Log("WSAStartup failed\r\n");
    *started = false;
    return r;
  }
  *started = true;
  m_catalog->Log("Using sockets version %x\r\n", unsigned(data.wVersion));

  uint16_t port = CeWs_ServerPort(tunvex::kDefaultPort);
  sockaddr_in addr;
  std::memset(&addr, 0, sizeof addr);
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_ANY);
  addr.sin_port = htons(port);
  u_long nonBlocking = 1;
  const char* failed = nullptr;
  if ((m_listen = socket(AF_INET, SOCK_STREAM, 0)) == INVALID_SOCKET) {
    failed = "socket";
  } else if (bind(m_listen, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == SOCKET_ERROR) {
    failed = "bind";
  } else if (listen(m_listen, 1) == SOCKET_ERROR) {
    failed = "listen";
  } else if (ioctlsocket(m_listen, FIONBIO, &nonBlocking) == SOCKET_ERROR) {
    failed = "ioctlsocket";
  }
  if (failed) {
    r = WSAGetLastError();
    m_catalog->Log("Call to %s failed, error %i\r\n", failed, r);
    // Otherwise unseen: the server would sit idle without a word.
    RETAILMSG(1, (u"Tunvex: cannot listen on port %u: %hs failed, error %i\r\n", unsigned(port), failed, r));
    return r;
  }
  // The port actually bound (an override of 0 takes a free one).
  sockaddr_in bound;
  int len = sizeof bound;
  if (getsockname(m_listen, reinterpret_cast<sockaddr*>(&bound), &len) == 0) port = ntohs(bound.sin_port);
  m_port.store(port);
  return 0;
}

int CTunvexProtocolThread::SelectOne(SOCKET s, bool forWrite, long microseconds) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval timeout;
  timeout.tv_sec = 0;
  timeout.tv_usec = microseconds;
  int n = select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, nullptr, &timeout);
  if (n == SOCKET_ERROR) return -1;
  return n > 0 && FD_ISSET(s, &set) ? 1 : 0;
}

int CTunvexProtocolThread::CloseClient() {
  if (m_client != INVALID_SOCKET) closesocket(m_client);
  m_client = INVALID_SOCKET;
  Enter(State::kWaitingForClient);
  return 1;
}

void CTunvexProtocolThread::Enter(State next, uint8_t* buffer, uint32_t size) {
  m_state = next;
  m_buffer = buffer;
  m_size = size;
  m_moved = 0;
}

bool CTunvexProtocolThread::BetweenRequests() const { return m_state == State::kReadingHeader && m_moved == 0; }

bool CTunvexProtocolThread::PastDeadline() const {
  return !BetweenRequests() && Since(m_requestStart) >= m_requestDeadlineMs;
}

bool CTunvexProtocolThread::HandOver() {
  return BetweenRequests() && Since(m_idleSince) >= m_idleHandoverMs && SelectOne(m_listen, false, 0) == 1;
}

int CTunvexProtocolThread::Accept() {
  CTunvexCatalog& log = *m_catalog;
  log.Log("  waiting for connection\r\n");
  int s = SelectOne(m_listen, false, kSelectMicroseconds);
  if (s < 0) {
    log.Log("  select to connect failed, error %i\r\n", WSAGetLastError());
    return 1;
  }
  if (s == 0) {
    log.Log("  select to connect timed out\r\n");
    return 0;
  }
  log.Log("  select to connect succeeded\r\n");
  SOCKET c = accept(m_listen, nullptr, nullptr);
  if (c == INVALID_SOCKET) {
    log.Log("  accept failed, error %i\r\n", WSAGetLastError());
    return 1;
  }
  u_long nonBlocking = 1;
  ioctlsocket(c, FIONBIO, &nonBlocking);
  // Replies go out at once: without this a reply waits for the tool's delayed
  // acknowledgement of the one before it, some 40 ms per request.
  int one = 1;
  setsockopt(c, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  m_client = c;
  log.Log("  accept succeeded; socket_connected = %i\r\n", int(c));
  Transition();
  return 0;
}

CTunvexProtocolThread::Io CTunvexProtocolThread::Move(bool sending) {
  CTunvexCatalog& log = *m_catalog;
  const char* what = kStates[size_t(m_state)].what;
  const char* verb = sending ? "send" : "recv";
  char* at = reinterpret_cast<char*>(m_buffer + m_moved);
  int want = int(m_size - m_moved);
  int n = sending ? send(m_client, at, want, 0) : recv(m_client, at, want, 0);
  if (n == SOCKET_ERROR && WouldBlock()) {
    log.Log("  %s %s got WOULDBLOCK\r\n", verb, what);
    return Io::kWouldBlock;
  }
  if (n == SOCKET_ERROR) {
    log.Log("  %s %s failed, error %i\r\n", verb, what, WSAGetLastError());
    return Io::kFailed;
  }
  if (n == 0 && !sending) {
    log.Log("  recv %s got 0 (socket closed)\r\n", what);
    return Io::kClosed;
  }
  m_moved += uint32_t(n);
  log.Log("  %s %s got %i bytes (%i total)\r\n", verb, what, n, int(m_moved));
  return m_moved >= m_size ? Io::kDone : Io::kPartial;
}

int CTunvexProtocolThread::ProcessSocket() {
  CTunvexCatalog& log = *m_catalog;
  log.Log("Process socket\r\n");
  if (m_state == State::kWaitingForClient) return Accept();

  if (PastDeadline()) {
    log.Log("  %s not done in time; closing the connection\r\n", kStates[size_t(m_state)].what);
    return CloseClient();
  }
  const bool sending = kStates[size_t(m_state)].sends;
  const char* direction = sending ? "send" : "read";
  int s = SelectOne(m_client, sending, kSelectMicroseconds);
  if (s < 0) {
    log.Log("  select to %s failed, error %i\r\n", direction, WSAGetLastError());
    return CloseClient();
  }
  if (s == 0) {
    log.Log("  select to %s timed out\r\n", direction);
    if (!HandOver()) return 0;
    log.Log("  idle while another tool waits; closing the connection\r\n");
    return CloseClient();
  }
  log.Log("  select to %s succeded\r\n", direction);

  const bool fresh = BetweenRequests();
  Io io = Move(sending);
  if (io == Io::kClosed || io == Io::kFailed) {
    // A tool that leaves between requests has not failed: no pause before the next.
    const bool left = io == Io::kClosed && fresh;
    CloseClient();
    return left ? 0 : 1;
  }
  if (io == Io::kWouldBlock) return 0;
  // A request's time runs from its first byte on.
  if (fresh) m_requestStart = GetTickCount();
  if (io == Io::kDone) Transition();
  return 0;
}

void CTunvexProtocolThread::Transition() {
  CTunvexCatalog& log = *m_catalog;
  switch (m_state) {
    case State::kWaitingForClient:  // a tool was accepted
      m_requestStart = GetTickCount();
      tunvex::EncodeAck(m_reply);
      Enter(State::kAcknowledging, m_reply, tunvex::kAckSize);
      break;

    case State::kAcknowledging:
    case State::kAnswering:
      log.Log(m_state == State::kAcknowledging ? "  send ack succeeded\r\n" : "  send response completed\r\n");
      m_idleSince = GetTickCount();
      Enter(State::kReadingHeader, m_header, tunvex::kHeaderSize);
      break;

    case State::kReadingHeader: {
      m_code = tunvex::GetU16(m_header);
      uint32_t length = tunvex::GetU32(m_header + 2);
      uint32_t requestMax = 0;
      if (tunvex::CheckControlCode(m_code, &requestMax, &m_responseSize) != 0) {
        // The payload is not read: what follows is taken as the next header.
        // Answered at once, without the pause of a failed step, so that a
        // stream of garbage cannot hold the server for minutes.
        log.Log("  got invalid control code %i\r\n", int(m_code));
        std::memset(m_reply, 0, kReplySize);
        Enter(State::kAnswering, m_reply, kReplySize);
        break;
      }
      log.Log("  got control code %i\r\n", int(m_code));
      m_requestSize = length < requestMax ? length : requestMax;
      log.Log("  Receive buffer size is %i\r\n", int(m_requestSize + tunvex::kTrailerSize));
      Enter(State::kReadingPayload, m_receive, m_requestSize + tunvex::kTrailerSize);
      break;
    }

    case State::kReadingPayload: {
      // The block goes out whole: cleared, so that no earlier answer (perhaps
      // another tool's) travels in its unused bytes.
      std::memset(m_reply, 0, kReplySize);
      PvlResult r = m_catalog->Dispatch(m_code, m_receive, m_requestSize, m_reply + 1, m_responseSize);
      m_reply[0] = r == PVL_OK ? 1 : 0;
      log.Log("  Dispatch returned %i. Ready to send response\r\n", int(r));
      // However long the handler took (an Apply may take seconds), the tool
      // gets the whole time to take its answer.
      m_requestStart = GetTickCount();
      Enter(State::kAnswering, m_reply, 1 + m_responseSize);
      break;
    }
  }
}
