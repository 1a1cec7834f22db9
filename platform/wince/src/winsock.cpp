// The Winsock stand-in over the host's sockets.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#define CE_WINSOCK_IMPLEMENTATION
#include "internal.h"
#include "wince_winsock.h"

namespace {

// Winsock's values (the host's differ).
constexpr SOCKET kInvalidSocket = ~0u;
constexpr int kSocketError = -1;
constexpr int kWsSolSocket = 0xffff;
constexpr int kWsIpprotoTcp = 6;
constexpr long kFionbio = static_cast<long>(0x8004667EUL);
constexpr long kFionread = 0x4004667FL;
constexpr int kWsMsgOob = 0x1, kWsMsgPeek = 0x2, kWsMsgDontRoute = 0x4;

enum : int {
  kWSAEINTR = 10004, kWSAEACCES = 10013, kWSAEFAULT = 10014, kWSAEINVAL = 10022, kWSAEMFILE = 10024,
  kWSAEWOULDBLOCK = 10035, kWSAEALREADY = 10037, kWSAENOTSOCK = 10038, kWSAEDESTADDRREQ = 10039,
  kWSAEMSGSIZE = 10040, kWSAEPROTOTYPE = 10041, kWSAENOPROTOOPT = 10042, kWSAEPROTONOSUPPORT = 10043,
  kWSAESOCKTNOSUPPORT = 10044, kWSAEOPNOTSUPP = 10045, kWSAEAFNOSUPPORT = 10047, kWSAEADDRINUSE = 10048,
  kWSAEADDRNOTAVAIL = 10049, kWSAENETDOWN = 10050, kWSAENETUNREACH = 10051, kWSAENETRESET = 10052,
  kWSAECONNABORTED = 10053, kWSAECONNRESET = 10054, kWSAENOBUFS = 10055, kWSAEISCONN = 10056,
  kWSAENOTCONN = 10057, kWSAESHUTDOWN = 10058, kWSAETIMEDOUT = 10060, kWSAECONNREFUSED = 10061,
  kWSAEHOSTUNREACH = 10065, kWSAVERNOTSUPPORTED = 10092, kWSANOTINITIALISED = 10093
};

struct Sock {
  explicit Sock(int f, int t) : fd(f), type(t) {}
  ~Sock() { ::close(fd); }
  int fd;
  int type;
  bool nonBlocking = false;
  std::atomic<bool> connecting{false};   // a non-blocking connect is under way
  std::atomic<bool> sendShut{false};     // shutdown() ended this side's sending
  std::atomic<u_short> port{0};          // bound and listening, or asked for by a failed bind
  std::atomic<bool> listening{false};
  std::atomic<int> bindError{0};
};

std::mutex g_lock;
int g_startups = 0;
SOCKET g_next = 0x100;
std::map<SOCKET, std::shared_ptr<Sock>>& Sockets() {
  static auto* s = new std::map<SOCKET, std::shared_ptr<Sock>>;
  return *s;
}

int Fail(int wsaError) {
  SetLastError(static_cast<DWORD>(wsaError));
  return kSocketError;
}

int MapErrno(int e) {
  switch (e) {
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EINPROGRESS:
      return kWSAEWOULDBLOCK;
    case EINTR: return kWSAEINTR;
    case EACCES: case EPERM: return kWSAEACCES;
    case EFAULT: return kWSAEFAULT;
    case EINVAL: return kWSAEINVAL;
    case EMFILE: case ENFILE: return kWSAEMFILE;
    case EALREADY: return kWSAEALREADY;
    case EBADF: case ENOTSOCK: return kWSAENOTSOCK;
    case EDESTADDRREQ: return kWSAEDESTADDRREQ;
    case EMSGSIZE: return kWSAEMSGSIZE;
    case EPROTOTYPE: return kWSAEPROTOTYPE;
    case ENOPROTOOPT: return kWSAENOPROTOOPT;
    case EPROTONOSUPPORT: return kWSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT: return kWSAESOCKTNOSUPPORT;
    case EOPNOTSUPP: return kWSAEOPNOTSUPP;
    case EAFNOSUPPORT: return kWSAEAFNOSUPPORT;
    case EADDRINUSE: return kWSAEADDRINUSE;
    case EADDRNOTAVAIL: return kWSAEADDRNOTAVAIL;
    case ENETDOWN: return kWSAENETDOWN;
    case ENETUNREACH: return kWSAENETUNREACH;
    case ENETRESET: return kWSAENETRESET;
    case ECONNABORTED: return kWSAECONNABORTED;
    case ECONNRESET: case EPIPE: return kWSAECONNRESET;
    case ENOBUFS: case ENOMEM: return kWSAENOBUFS;
    case EISCONN: return kWSAEISCONN;
    case ENOTCONN: return kWSAENOTCONN;
    case ESHUTDOWN: return kWSAESHUTDOWN;
    case ETIMEDOUT: return kWSAETIMEDOUT;
    case ECONNREFUSED: return kWSAECONNREFUSED;
    case EHOSTUNREACH: return kWSAEHOSTUNREACH;
    default: return kWSAEINVAL;
  }
}

int FailErrno() { return Fail(MapErrno(errno)); }

// The socket behind `s`, or null with the error set (not started, not a socket).
std::shared_ptr<Sock> Get(SOCKET s) {
  std::lock_guard<std::mutex> lk(g_lock);
  if (g_startups == 0) {
    Fail(kWSANOTINITIALISED);
    return nullptr;
  }
  auto it = Sockets().find(s);
  if (it == Sockets().end()) {
    Fail(kWSAENOTSOCK);
    return nullptr;
  }
  return it->second;
}

SOCKET Add(int fd, int type, bool nonBlocking) {
  std::lock_guard<std::mutex> lk(g_lock);
  SOCKET s = g_next;
  g_next += 4;
  if (g_next >= 0x7FFFFFF0u) g_next = 0x100;
  auto sock = std::make_shared<Sock>(fd, type);
  sock->nonBlocking = nonBlocking;
  Sockets()[s] = sock;
  return s;
}

int HostFlags(int flags) {
  int f = MSG_NOSIGNAL;
  if (flags & kWsMsgOob) f |= MSG_OOB;
  if (flags & kWsMsgPeek) f |= MSG_PEEK;
  if (flags & kWsMsgDontRoute) f |= MSG_DONTROUTE;
  return f;
}

bool CheckAddr(const struct sockaddr* name, int len) {
  if (name == nullptr || len < static_cast<int>(sizeof(sockaddr_in))) {
    Fail(kWSAEFAULT);
    return false;
  }
  if (name->sa_family != AF_INET) {
    Fail(kWSAEAFNOSUPPORT);
    return false;
  }
  return true;
}

// Maps a Winsock option to the host's; false when unknown.
bool HostOption(int level, int name, int* hostLevel, int* hostName) {
  if (level == kWsSolSocket) {
    *hostLevel = SOL_SOCKET;
    switch (name) {
      case 0x0001: *hostName = SO_DEBUG; return true;
      case 0x0004: *hostName = SO_REUSEADDR; return true;
      case 0x0008: *hostName = SO_KEEPALIVE; return true;
      case 0x0020: *hostName = SO_BROADCAST; return true;
      case 0x0080: *hostName = SO_LINGER; return true;
      case 0x1001: *hostName = SO_SNDBUF; return true;
      case 0x1002: *hostName = SO_RCVBUF; return true;
      case 0x1007: *hostName = SO_ERROR; return true;
      case 0x1008: *hostName = SO_TYPE; return true;
      default: return false;
    }
  }
  if (level == kWsIpprotoTcp && name == 0x0001) {
    *hostLevel = IPPROTO_TCP;
    *hostName = TCP_NODELAY;
    return true;
  }
  return false;
}

}  // namespace

extern "C" {

int CeWs_WSAStartup(WORD version, LPWSADATA data) {
  if (data == nullptr) return kWSAEFAULT;
  BYTE major = LOBYTE(version), minor = HIBYTE(version);
  if (major < 1 || (major == 1 && minor < 1)) return kWSAVERNOTSUPPORTED;
  std::memset(data, 0, sizeof *data);
  data->wVersion = (major > 2 || (major == 2 && minor >= 2)) ? MAKEWORD(2, 2) : version;
  data->wHighVersion = MAKEWORD(2, 2);
  std::strcpy(data->szDescription, "Winsock 2.2 over host sockets");
  std::strcpy(data->szSystemStatus, "Running");
  data->iMaxSockets = 0x7FFF;
  data->iMaxUdpDg = 65467;
  std::lock_guard<std::mutex> lk(g_lock);
  ++g_startups;
  return 0;
}

int CeWs_WSACleanup(void) {
  std::map<SOCKET, std::shared_ptr<Sock>> left;
  {
    std::lock_guard<std::mutex> lk(g_lock);
    if (g_startups == 0) return Fail(kWSANOTINITIALISED);
    if (--g_startups == 0) left.swap(Sockets());
  }
  // The last clean-up closes what the process left open, as closesocket would.
  for (auto& [s, k] : left) ::shutdown(k->fd, SHUT_RDWR);
  return 0;
}

int CeWs_WSAGetLastError(void) { return static_cast<int>(GetLastError()); }
void CeWs_WSASetLastError(int error) { SetLastError(static_cast<DWORD>(error)); }

SOCKET CeWs_socket(int af, int type, int protocol) {
  {
    std::lock_guard<std::mutex> lk(g_lock);
    if (g_startups == 0) {
      Fail(kWSANOTINITIALISED);
      return kInvalidSocket;
    }
  }
  if (af != AF_INET) {
    Fail(kWSAEAFNOSUPPORT);
    return kInvalidSocket;
  }
  if (type != SOCK_STREAM && type != SOCK_DGRAM) {
    Fail(kWSAESOCKTNOSUPPORT);
    return kInvalidSocket;
  }
  if (protocol != 0 && protocol != IPPROTO_TCP && protocol != IPPROTO_UDP) {
    Fail(kWSAEPROTONOSUPPORT);
    return kInvalidSocket;
  }
  int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, protocol);
  if (fd < 0) {
    FailErrno();
    return kInvalidSocket;
  }
  return Add(fd, type, false);
}

int CeWs_bind(SOCKET s, const struct sockaddr* name, int nameLen) {
  auto k = Get(s);
  if (!k) return kSocketError;
  if (!CheckAddr(name, nameLen)) return kSocketError;
  if (k->type == SOCK_STREAM) {
    // A restarted server must bind again while old connections sit in TIME_WAIT.
    int one = 1;
    ::setsockopt(k->fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  }
  if (::bind(k->fd, name, sizeof(sockaddr_in)) != 0) {
    int r = FailErrno();
    k->port = ntohs(reinterpret_cast<const sockaddr_in*>(name)->sin_port);
    k->bindError = static_cast<int>(GetLastError());
    return r;
  }
  k->bindError = 0;
  return 0;
}

int CeWs_listen(SOCKET s, int backlog) {
  auto k = Get(s);
  if (!k) return kSocketError;
  int one = 1;
  ::setsockopt(k->fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  // Winsock refuses a connection its backlog cannot take. Linux may instead
  // answer with a SYN cookie and then drop the client's ACK while the accept
  // queue is full: the client believes it is connected and waits out its
  // time-out. A little more room keeps a few tools arriving together from that.
  constexpr int kLeastKernelBacklog = 4;
  if (::listen(k->fd, backlog < kLeastKernelBacklog ? kLeastKernelBacklog : backlog) != 0) return FailErrno();
  sockaddr_in bound{};
  socklen_t len = sizeof bound;
  if (::getsockname(k->fd, reinterpret_cast<sockaddr*>(&bound), &len) == 0) k->port = ntohs(bound.sin_port);
  k->listening = true;
  return 0;
}

SOCKET CeWs_accept(SOCKET s, struct sockaddr* addr, int* addrLen) {
  auto k = Get(s);
  if (!k) return kInvalidSocket;
  if (addr != nullptr && (addrLen == nullptr || *addrLen < static_cast<int>(sizeof(sockaddr_in)))) {
    Fail(kWSAEFAULT);
    return kInvalidSocket;
  }
  sockaddr_in peer{};
  socklen_t len = sizeof peer;
  int fd;
  do {
    // Winsock hands the listening socket's blocking mode on to the accepted one.
    fd = ::accept4(k->fd, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC | (k->nonBlocking ? SOCK_NONBLOCK : 0));
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    FailErrno();
    return kInvalidSocket;
  }
  if (addr != nullptr) {
    std::memcpy(addr, &peer, sizeof peer);
    *addrLen = sizeof peer;
  }
  return Add(fd, k->type, k->nonBlocking);
}

int CeWs_connect(SOCKET s, const struct sockaddr* name, int nameLen) {
  auto k = Get(s);
  if (!k) return kSocketError;
  if (!CheckAddr(name, nameLen)) return kSocketError;
  int r;
  do {
    r = ::connect(k->fd, name, sizeof(sockaddr_in));
  } while (r != 0 && errno == EINTR && !k->nonBlocking);
  if (r != 0) {
    if (errno == EINPROGRESS) k->connecting = true;
    return FailErrno();
  }
  return 0;
}

int CeWs_recv(SOCKET s, char* buf, int len, int flags) {
  auto k = Get(s);
  if (!k) return kSocketError;
  if (len < 0 || (buf == nullptr && len > 0)) return Fail(kWSAEFAULT);
  ssize_t n;
  do {
    n = ::recv(k->fd, buf, static_cast<size_t>(len), HostFlags(flags) & ~MSG_NOSIGNAL);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return FailErrno();
  return static_cast<int>(n);
}

int CeWs_send(SOCKET s, const char* buf, int len, int flags) {
  auto k = Get(s);
  if (!k) return kSocketError;
  if (len < 0 || (buf == nullptr && len > 0)) return Fail(kWSAEFAULT);
  ssize_t n;
  do {
    n = ::send(k->fd, buf, static_cast<size_t>(len), HostFlags(flags));
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    // The host says EPIPE for both; Winsock tells our own shutdown from the peer's reset.
    if (errno == EPIPE) return Fail(k->sendShut ? kWSAESHUTDOWN : kWSAECONNRESET);
    return FailErrno();
  }
  return static_cast<int>(n);
}

int CeWs_closesocket(SOCKET s) {
  std::shared_ptr<Sock> k;
  {
    std::lock_guard<std::mutex> lk(g_lock);
    if (g_startups == 0) return Fail(kWSANOTINITIALISED);
    auto it = Sockets().find(s);
    if (it == Sockets().end()) return Fail(kWSAENOTSOCK);
    k = std::move(it->second);
    Sockets().erase(it);
  }
  // Wakes a call blocked on the socket in another thread; the descriptor itself closes
  // when that call has returned.
  ::shutdown(k->fd, SHUT_RDWR);
  return 0;
}

int CeWs_shutdown(SOCKET s, int how) {
  auto k = Get(s);
  if (!k) return kSocketError;
  int h = how == 0 ? SHUT_RD : how == 1 ? SHUT_WR : how == 2 ? SHUT_RDWR : -1;
  if (h < 0) return Fail(kWSAEINVAL);
  if (::shutdown(k->fd, h) != 0) return FailErrno();
  if (h != SHUT_RD) k->sendShut = true;
  return 0;
}

int CeWs_setsockopt(SOCKET s, int level, int name, const char* value, int len) {
  auto k = Get(s);
  if (!k) return kSocketError;
  if (value == nullptr || len <= 0) return Fail(kWSAEFAULT);
  int hl, hn;
  if (!HostOption(level, name, &hl, &hn)) return Fail(kWSAENOPROTOOPT);
  int r;
  if (hn == SO_LINGER && hl == SOL_SOCKET) {
    if (len < 4) return Fail(kWSAEFAULT);
    u_short w[2];
    std::memcpy(w, value, sizeof w);
    ::linger l{w[0], w[1]};
    r = ::setsockopt(k->fd, hl, hn, &l, sizeof l);
  } else {
    int v = 0;
    if (len >= 4) std::memcpy(&v, value, 4);
    else v = static_cast<unsigned char>(value[0]);
    r = ::setsockopt(k->fd, hl, hn, &v, sizeof v);
  }
  if (r != 0) return FailErrno();
  return 0;
}

int CeWs_getsockopt(SOCKET s, int level, int name, char* value, int* len) {
  auto k = Get(s);
  if (!k) return kSocketError;
  if (value == nullptr || len == nullptr || *len < 4) return Fail(kWSAEFAULT);
  int hl, hn;
  if (!HostOption(level, name, &hl, &hn)) return Fail(kWSAENOPROTOOPT);
  if (hn == SO_LINGER && hl == SOL_SOCKET) {
    ::linger l{};
    socklen_t sl = sizeof l;
    if (::getsockopt(k->fd, hl, hn, &l, &sl) != 0) return FailErrno();
    u_short w[2] = {static_cast<u_short>(l.l_onoff), static_cast<u_short>(l.l_linger)};
    std::memcpy(value, w, sizeof w);
    *len = sizeof w;
    return 0;
  }
  int v = 0;
  socklen_t sl = sizeof v;
  if (::getsockopt(k->fd, hl, hn, &v, &sl) != 0) return FailErrno();
  if (hn == SO_ERROR && hl == SOL_SOCKET && v != 0) v = MapErrno(v);
  std::memcpy(value, &v, 4);
  *len = 4;
  return 0;
}

static int NameCall(SOCKET s, struct sockaddr* name, int* nameLen, bool peer) {
  auto k = Get(s);
  if (!k) return kSocketError;
  if (name == nullptr || nameLen == nullptr || *nameLen < static_cast<int>(sizeof(sockaddr_in))) return Fail(kWSAEFAULT);
  sockaddr_in a{};
  socklen_t len = sizeof a;
  int r = peer ? ::getpeername(k->fd, reinterpret_cast<sockaddr*>(&a), &len)
               : ::getsockname(k->fd, reinterpret_cast<sockaddr*>(&a), &len);
  if (r != 0) return FailErrno();
  std::memcpy(name, &a, sizeof a);
  *nameLen = sizeof a;
  return 0;
}

int CeWs_getsockname(SOCKET s, struct sockaddr* name, int* nameLen) { return NameCall(s, name, nameLen, false); }
int CeWs_getpeername(SOCKET s, struct sockaddr* name, int* nameLen) { return NameCall(s, name, nameLen, true); }

int CeWs_ioctlsocket(SOCKET s, long cmd, u_long* arg) {
  auto k = Get(s);
  if (!k) return kSocketError;
  if (arg == nullptr) return Fail(kWSAEFAULT);
  if (cmd == kFionbio) {
    int fl = ::fcntl(k->fd, F_GETFL);
    if (fl < 0) return FailErrno();
    fl = *arg ? (fl | O_NONBLOCK) : (fl & ~O_NONBLOCK);
    if (::fcntl(k->fd, F_SETFL, fl) != 0) return FailErrno();
    k->nonBlocking = *arg != 0;
    return 0;
  }
  if (cmd == kFionread) {
    int n = 0;
    if (::ioctl(k->fd, FIONREAD, &n) != 0) return FailErrno();
    *arg = static_cast<u_long>(n);
    return 0;
  }
  return Fail(kWSAEINVAL);
}

int CeWs_select(int, CeWsFdSet* readSet, CeWsFdSet* writeSet, CeWsFdSet* exceptSet, const struct timeval* timeout) {
  {
    std::lock_guard<std::mutex> lk(g_lock);
    if (g_startups == 0) return Fail(kWSANOTINITIALISED);
  }
  CeWsFdSet* sets[3] = {readSet, writeSet, exceptSet};
  std::vector<pollfd> fds;
  std::vector<std::shared_ptr<Sock>> held;   // keeps descriptors open during the wait
  std::vector<std::pair<int, u_int>> where;  // (set, index) of each poll entry
  for (int i = 0; i < 3; ++i) {
    if (sets[i] == nullptr) continue;
    if (sets[i]->fd_count > CE_WS_FD_SETSIZE) return Fail(kWSAEINVAL);
    for (u_int j = 0; j < sets[i]->fd_count; ++j) {
      auto k = Get(sets[i]->fd_array[j]);
      if (!k) return kSocketError;
      short ev = i == 0 ? POLLIN : i == 1 ? POLLOUT : POLLPRI;
      fds.push_back(pollfd{k->fd, ev, 0});
      held.push_back(k);
      where.emplace_back(i, j);
    }
  }
  if (fds.empty()) return Fail(kWSAEINVAL);
  long long waitMs = -1;
  if (timeout != nullptr) {
    if (timeout->tv_sec < 0 || timeout->tv_usec < 0) return Fail(kWSAEINVAL);
    waitMs = static_cast<long long>(timeout->tv_sec) * 1000 + (timeout->tv_usec + 999) / 1000;
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs < 0 ? 0 : waitMs);
  // Winsock: readable also when the peer closed or failed. Writable when a send would
  // not block, also when it would fail at once on a reset connection; but a connect
  // under way that failed is reported in "except" only (with urgent data).
  std::vector<CeWsFdSet> out(3);
  int total = 0;
  for (;;) {
    int ms = -1;
    if (waitMs >= 0) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      ms = left < 0 ? 0 : static_cast<int>(std::min<long long>(left, 0x7FFFFFFF));
    }
    int r = ::poll(fds.data(), fds.size(), ms);
    if (r < 0) {
      if (errno == EINTR) continue;
      return FailErrno();
    }
    for (auto& o : out) o.fd_count = 0;
    for (size_t n = 0; n < fds.size(); ++n) {
      auto [i, j] = where[n];
      short re = fds[n].revents;
      if (re == 0) continue;
      const bool failed = (re & (POLLERR | POLLHUP)) != 0;
      Sock& k = *held[n];
      bool hit = false;
      if (i == 0) hit = (re & POLLIN) != 0 || failed;
      if (i == 1) {
        hit = k.connecting ? (re & POLLOUT) != 0 && !failed : (re & POLLOUT) != 0 || failed;
        if (hit) k.connecting = false;   // connected
      }
      if (i == 2) hit = (re & POLLPRI) != 0 || (k.connecting && failed);
      if (hit) {
        out[i].fd_array[out[i].fd_count++] = sets[i]->fd_array[j];
        ++total;
      } else {
        // A state this set does not report (a failed connect asked for writing, say):
        // stop watching the entry, or poll would answer at once again and again.
        fds[n].fd = -1;
      }
    }
    if (total > 0 || r == 0) break;
  }
  for (int i = 0; i < 3; ++i)
    if (sets[i] != nullptr) {
      sets[i]->fd_count = out[i].fd_count;
      std::memcpy(sets[i]->fd_array, out[i].fd_array, out[i].fd_count * sizeof(SOCKET));
    }
  return total;
}

int CeWs_WSAFDIsSet(SOCKET s, CeWsFdSet* set) {
  if (set == nullptr) return 0;
  u_int n = set->fd_count > CE_WS_FD_SETSIZE ? CE_WS_FD_SETSIZE : set->fd_count;
  for (u_int i = 0; i < n; ++i)
    if (set->fd_array[i] == s) return 1;
  return 0;
}

u_long CeWs_inet_addr(const char* text) {
  in_addr a{};
  if (text == nullptr || ::inet_aton(text, &a) == 0) return 0xFFFFFFFFul;
  return a.s_addr;
}

int CeWs_ServerSockets(CeWsServerSocket* entries, int max) {
  std::lock_guard<std::mutex> lk(g_lock);
  int n = 0;
  for (const auto& [s, k] : Sockets()) {
    if (k->type != SOCK_STREAM || (!k->listening && k->bindError == 0)) continue;
    if (entries != nullptr && n < max) entries[n] = {k->port.load(), k->listening ? 1 : 0, k->bindError.load()};
    ++n;
  }
  return n;
}

u_short CeWs_ServerPort(u_short defaultPort) {
  const char* env = std::getenv("TUNVEX_PORT");
  if (env == nullptr || *env == '\0') return defaultPort;
  char* end = nullptr;
  errno = 0;
  unsigned long v = std::strtoul(env, &end, 10);
  if (errno != 0 || *end != '\0' || v > 65535 || env[0] == '-' || env[0] == '+' || env[0] == ' ') return defaultPort;
  return static_cast<u_short>(v);
}

}  // extern "C"
