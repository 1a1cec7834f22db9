#include "tunvexprotocolthread.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "tunvexprotocol.h"

namespace {

constexpr DWORD kPauseMs = 500;
constexpr long kSelectMicroseconds = 500000;
constexpr int kWouldBlock = 10035;  // WSAEWOULDBLOCK

bool WouldBlock() { return WSAGetLastError() == kWouldBlock; }

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
  m_receive = new (std::nothrow) uint8_t[tunvex::kReceiveBufferSize];
  m_response = new (std::nothrow) uint8_t[tunvex::kResponseSize];
  if (!m_receive || !m_response) {
    delete[] m_receive;
    delete[] m_response;
    m_receive = m_response = nullptr;
    EventModify(m_ready, EVENT_SET);
    return 0;
  }
  std::memset(m_response, 0, tunvex::kResponseSize);

  bool started = false;
  int setup = OpenSocket(&started);
  EventModify(m_ready, EVENT_SET);

  while (m_run.load()) {
    if (setup != 0) {
      Sleep(kPauseMs);
    } else if (ProcessSocket() == 1) {
      Sleep(kPauseMs);
    }
  }

  if (m_listen != INVALID_SOCKET) closesocket(m_listen);
  if (m_client != INVALID_SOCKET) closesocket(m_client);
  m_listen = m_client = INVALID_SOCKET;
  if (started) WSACleanup();
  delete[] m_receive;
  delete[] m_response;
  m_receive = m_response = nullptr;
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
  m_listen = socket(AF_INET, SOCK_STREAM, 0);
  if (m_listen == INVALID_SOCKET) {
    r = WSAGetLastError();
    m_catalog->Log("Call to socket failed, error %i\r\n", r);
    return r;
  }
  sockaddr_in addr;
  std::memset(&addr, 0, sizeof addr);
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_ANY);
  addr.sin_port = htons(port);
  if (bind(m_listen, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == SOCKET_ERROR) {
    r = WSAGetLastError();
    m_catalog->Log("Call to bind failed, error %i\r\n", r);
    return r;
  }
  if (listen(m_listen, 1) == SOCKET_ERROR) {
    r = WSAGetLastError();
    m_catalog->Log("Call to listen failed, error %i\r\n", r);
    return r;
  }
  u_long nonBlocking = 1;
  if (ioctlsocket(m_listen, FIONBIO, &nonBlocking) == SOCKET_ERROR) {
    r = WSAGetLastError();
    m_catalog->Log("Call to ioctlsocket failed, error %i\r\n", r);
    return r;
  }
  // The port actually bound (an override of 0 takes a free one).
  sockaddr_in bound;
  int len = sizeof bound;
  if (getsockname(m_listen, reinterpret_cast<sockaddr*>(&bound), &len) == 0) port = ntohs(bound.sin_port);
  m_port.store(port);
  return 0;
}

int CTunvexProtocolThread::SelectOne(SOCKET s, bool forWrite) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval timeout;
  timeout.tv_sec = 0;
  timeout.tv_usec = kSelectMicroseconds;
  int n = select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, nullptr, &timeout);
  if (n == SOCKET_ERROR) return -1;
  return n > 0 && FD_ISSET(s, &set) ? 1 : 0;
}

int CTunvexProtocolThread::CloseClient() {
  if (m_client != INVALID_SOCKET) closesocket(m_client);
  m_client = INVALID_SOCKET;
  return 1;
}

void CTunvexProtocolThread::Progress() { m_lastProgress = GetTickCount(); }

bool CTunvexProtocolThread::Stalled() const {
  bool midRequest = m_ackPending || m_sending || !m_expectingCode || m_expectedPayload > 0;
  return midRequest && GetTickCount() - m_lastProgress >= m_stallTimeoutMs;
}

int CTunvexProtocolThread::ProcessSocket() {
  CTunvexCatalog& log = *m_catalog;
  log.Log("Process socket\r\n");

  if (m_client == INVALID_SOCKET) {
    log.Log("  waiting for connection\r\n");
    int s = SelectOne(m_listen, false);
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
    m_client = c;
    log.Log("  accept succeeded; socket_connected = %i\r\n", int(c));
    m_received = 0;
    m_expectedPayload = 0;
    m_ackPending = true;
    m_ackSent = 0;
    m_sending = true;
    m_expectingCode = true;
    Progress();
    return 0;
  }

  if (Stalled()) {
    log.Log("  request stalled; closing the connection\r\n");
    return CloseClient();
  }

  if (!m_sending) {
    int s = SelectOne(m_client, false);
    if (s < 0) return CloseClient();
    if (s == 0) {
      log.Log("  select to read timed out\r\n");
      return 0;
    }
    log.Log("  select to read succeded\r\n");
    if (m_expectedPayload == 0) {
      uint8_t header[4];
      int want = m_expectingCode ? 2 : 4;
      int n = recv(m_client, reinterpret_cast<char*>(header), want, 0);
      if (n == SOCKET_ERROR && WouldBlock()) {
        log.Log("  recv header got WOULDBLOCK\r\n");
        return 0;
      }
      if (n == SOCKET_ERROR) {
        log.Log("  recv header failed, error %i\r\n", WSAGetLastError());
        return CloseClient();
      }
      if (n == 0) {
        log.Log("  recv header got 0 (socket closed)\r\n");
        return CloseClient();
      }
      if (n < want) {
        log.Log("  recv header got %i bytes, ", n);
        log.Log("expected %i\r\n", want);
        return CloseClient();
      }
      log.Log("  recv header succeeded; got %i bytes\r\n", n);
      Progress();
      if (m_expectingCode) {
        m_code = tunvex::GetU16(header);
        m_expectingCode = false;
      } else {
        uint32_t length = tunvex::GetU32(header);
        m_expectingCode = true;
        uint32_t requestMax = 0;
        uint32_t responseSize = 0;
        if (tunvex::CheckControlCode(m_code, &requestMax, &responseSize) != 0) {
          // The payload is not read: what follows is taken as the next header.
          // Answered at once, without the pause of a failed step, so that a
          // stream of garbage cannot hold the server for minutes.
          log.Log("  got invalid control code %i\r\n", int(m_code));
          std::memset(m_response, 0, tunvex::kResponseSize);
          m_successByte = 0;
          m_responseSize = tunvex::kResponseSize;
          m_successSent = false;
          m_responseSent = 0;
          m_sending = true;
          return 0;
        }
        log.Log("  got control code %i\r\n", int(m_code));
        m_requestSize = length < requestMax ? length : requestMax;
        m_responseSize = responseSize;
        m_expectedPayload = m_requestSize + tunvex::kTrailerSize;
        m_received = 0;
        log.Log("  Receive buffer size is %i\r\n", int(m_expectedPayload));
      }
    } else {
      int n = recv(m_client, reinterpret_cast<char*>(m_receive + m_received), int(m_expectedPayload - m_received), 0);
      if (n == SOCKET_ERROR && WouldBlock()) {
        log.Log("  recv payload got WOULDBLOCK\r\n");
        return 0;
      }
      if (n == SOCKET_ERROR) {
        log.Log("  recv payload failed, error %i\r\n", WSAGetLastError());
        return CloseClient();
      }
      if (n == 0) {
        log.Log("  recv payload got 0 (socket closed)\r\n");
        return CloseClient();
      }
      Progress();
      m_received += uint32_t(n);
      log.Log("  recv payload got %i bytes ", n);
      log.Log("(%i total)\r\n ", int(m_received));
      if (m_received >= m_expectedPayload) {
        // The response block goes out whole: clear it so that no earlier
        // answer (perhaps another tool's) travels in its unused bytes.
        std::memset(m_response, 0, tunvex::kResponseSize);
        PvlResult r = m_catalog->Dispatch(m_code, m_receive, m_requestSize, m_response, m_responseSize);
        m_successByte = r == PVL_OK ? 1 : 0;
        m_responseSent = 0;
        m_successSent = false;
        m_sending = true;
        m_expectedPayload = 0;
        m_received = 0;
        log.Log("  Dispatch returned %i. Ready to send response\r\n", int(r));
      }
    }
  }

  if (!m_sending) return 0;
  int s = SelectOne(m_client, true);
  if (s < 0) {
    log.Log("  select to send failed, error %i\r\n", WSAGetLastError());
    return CloseClient();
  }
  if (s == 0) {
    log.Log("  select to send timed out\r\n");
    return 0;
  }
  log.Log("  select to send succeded\r\n");

  if (m_ackPending) {
    uint8_t ack[tunvex::kAckSize];
    tunvex::EncodeAck(ack);
    int n = send(m_client, reinterpret_cast<const char*>(ack + m_ackSent), int(sizeof ack - m_ackSent), 0);
    if (n == SOCKET_ERROR && WouldBlock()) {
      log.Log("  send ack got WOULDBLOCK\r\n");
      return 0;
    }
    if (n == SOCKET_ERROR) {
      log.Log("  send ack flag failed, error %i\r\n", WSAGetLastError());
      return CloseClient();
    }
    Progress();
    m_ackSent += uint32_t(n);
    if (m_ackSent < sizeof ack) return 0;  // the rest goes with the next step
    m_ackPending = false;
    m_sending = false;
    log.Log("  send ack succeeded\r\n");
    return 0;
  }

  if (!m_successSent) {
    int n = send(m_client, reinterpret_cast<const char*>(&m_successByte), 1, 0);
    if (n == SOCKET_ERROR && WouldBlock()) {
      log.Log("  send success flag got WOULDBLOCK\r\n");
      return 0;
    }
    if (n == SOCKET_ERROR) {
      log.Log("  send success flag failed, error %i\r\n", WSAGetLastError());
      return CloseClient();
    }
    if (n < 1) return 0;
    Progress();
    m_successSent = true;
    log.Log("  send success flag succeeded\r\n");
    return 0;
  }

  int n = send(m_client, reinterpret_cast<const char*>(m_response + m_responseSent), int(m_responseSize - m_responseSent),
               0);
  if (n == SOCKET_ERROR && WouldBlock()) {
    log.Log("  send response got WOULDBLOCK\r\n");
    return 0;
  }
  if (n == SOCKET_ERROR) {
    log.Log("  send response failed, error %i\r\n", WSAGetLastError());
    return CloseClient();
  }
  Progress();
  m_responseSent += uint32_t(n);
  log.Log("  send response sent %i bytes ", n);
  log.Log("(%i total)\r\n ", int(m_responseSent));
  if (m_responseSent >= m_responseSize) {
    m_sending = false;
    m_received = 0;
    m_expectedPayload = 0;
    log.Log("  send response completed\r\n");
  }
  return 0;
}
