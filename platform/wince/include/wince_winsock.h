// Winsock 2 (the subset the phone's code uses), over the host's sockets.
//
// Names and values are Winsock's: SOCKET handles, fd_set as a counted array of sockets,
// SOL_SOCKET 0xFFFF, FIONBIO, WSAGetLastError with WSAE* codes. The calls are C++ inline
// functions over the stand-in's CeWs_* entry points, so that they never take the place
// of the C library's own socket functions in the process. Do not include the host's
// <sys/socket.h> or <netinet/in.h> in the same source file.
//
// Behaviour kept from Winsock where the host differs:
//  - an accepted socket inherits the listening socket's non-blocking mode;
//  - select leaves its timeval untouched and waits with poll (any socket value);
//  - send never raises SIGPIPE;
//  - a listening socket always has address reuse, so a restarted server can bind again.
#pragma once

#include <sys/select.h>   // first: the C library's fd_set must not be declared after ours
#include <sys/time.h>

#include "wince.h"

typedef unsigned char u_char;
typedef unsigned short u_short;
typedef unsigned int u_int;
// 32 bits on every Windows, whatever a long is here (the C library's u_long is a long).
typedef uint32_t CeWsULong;
#define u_long CeWsULong
typedef u_int SOCKET;

#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128

typedef struct WSAData {
  WORD wVersion;
  WORD wHighVersion;
  char szDescription[WSADESCRIPTION_LEN + 1];
  char szSystemStatus[WSASYS_STATUS_LEN + 1];
  unsigned short iMaxSockets;
  unsigned short iMaxUdpDg;
  char* lpVendorInfo;
} WSADATA, *LPWSADATA;

#define CE_WS_FD_SETSIZE 64
struct CeWsFdSet {
  u_int fd_count;
  SOCKET fd_array[CE_WS_FD_SETSIZE];
};
static_assert(sizeof(CeWsFdSet) == 4 + 4 * CE_WS_FD_SETSIZE, "fd_set is a count and an array of sockets");

struct sockaddr;

extern "C" {
int CeWs_WSAStartup(WORD version, LPWSADATA data);
int CeWs_WSACleanup(void);
int CeWs_WSAGetLastError(void);
void CeWs_WSASetLastError(int error);
SOCKET CeWs_socket(int af, int type, int protocol);
int CeWs_bind(SOCKET s, const struct sockaddr* name, int nameLen);
int CeWs_listen(SOCKET s, int backlog);
SOCKET CeWs_accept(SOCKET s, struct sockaddr* addr, int* addrLen);
int CeWs_connect(SOCKET s, const struct sockaddr* name, int nameLen);
int CeWs_recv(SOCKET s, char* buf, int len, int flags);
int CeWs_send(SOCKET s, const char* buf, int len, int flags);
int CeWs_closesocket(SOCKET s);
int CeWs_shutdown(SOCKET s, int how);
int CeWs_setsockopt(SOCKET s, int level, int name, const char* value, int len);
int CeWs_getsockopt(SOCKET s, int level, int name, char* value, int* len);
int CeWs_getsockname(SOCKET s, struct sockaddr* name, int* nameLen);
int CeWs_getpeername(SOCKET s, struct sockaddr* name, int* nameLen);
int CeWs_ioctlsocket(SOCKET s, long cmd, u_long* arg);
int CeWs_select(int nfds, CeWsFdSet* readSet, CeWsFdSet* writeSet, CeWsFdSet* exceptSet, const struct timeval* timeout);
int CeWs_WSAFDIsSet(SOCKET s, CeWsFdSet* set);
u_long CeWs_inet_addr(const char* text);
// The port a server listens on: the TUNVEX_PORT environment variable when it holds a
// number from 0 to 65535 (0: any free port; read the real one with getsockname), else
// `defaultPort`. Tests use it to run servers side by side.
u_short CeWs_ServerPort(u_short defaultPort);
// What this process's stream sockets serve, as `ss -lt` shows it: one entry per socket
// that listens (its bound port) or whose last bind failed (the port it asked for and the
// error). A tool that starts a server in its own process learns from it where the
// server listens, or that it could not. Fills at most `max` entries; returns how many
// there are.
typedef struct CeWsServerSocket {
  u_short port;
  int listening;  // nonzero: listening on `port`
  int bindError;  // nonzero: the Winsock error of a failed bind to `port`
} CeWsServerSocket;
int CeWs_ServerSockets(CeWsServerSocket* entries, int max);
}

#ifndef CE_WINSOCK_IMPLEMENTATION

#undef FD_SETSIZE
#undef FD_SET
#undef FD_CLR
#undef FD_ISSET
#undef FD_ZERO
#define FD_SETSIZE CE_WS_FD_SETSIZE
#define fd_set CeWsFdSet

struct in_addr {
  union {
    struct {
      u_char s_b1, s_b2, s_b3, s_b4;
    } S_un_b;
    struct {
      u_short s_w1, s_w2;
    } S_un_w;
    u_long S_addr;
  } S_un;
};
#define s_addr S_un.S_addr

struct sockaddr {
  u_short sa_family;
  char sa_data[14];
};

struct sockaddr_in {
  short sin_family;
  u_short sin_port;
  struct in_addr sin_addr;
  char sin_zero[8];
};
static_assert(sizeof(sockaddr_in) == 16 && sizeof(sockaddr) == 16, "Winsock address records are 16 bytes");

typedef struct sockaddr SOCKADDR, *PSOCKADDR, *LPSOCKADDR;
typedef struct sockaddr_in SOCKADDR_IN, *PSOCKADDR_IN, *LPSOCKADDR_IN;
typedef struct timeval TIMEVAL;

#define INVALID_SOCKET ((SOCKET)(~0u))
#define SOCKET_ERROR (-1)
#define AF_UNSPEC 0
#define AF_INET 2
#define PF_INET AF_INET
#define SOCK_STREAM 1
#define SOCK_DGRAM 2
#define IPPROTO_IP 0
#define IPPROTO_TCP 6
#define IPPROTO_UDP 17
#define INADDR_ANY ((u_long)0x00000000)
#define INADDR_LOOPBACK ((u_long)0x7f000001)
#define INADDR_NONE ((u_long)0xffffffff)
#define SOMAXCONN 5
#define SOL_SOCKET 0xffff
#define SO_DEBUG 0x0001
#define SO_REUSEADDR 0x0004
#define SO_KEEPALIVE 0x0008
#define SO_BROADCAST 0x0020
#define SO_LINGER 0x0080
#define SO_SNDBUF 0x1001
#define SO_RCVBUF 0x1002
#define SO_ERROR 0x1007
#define SO_TYPE 0x1008
#define TCP_NODELAY 0x0001
#define MSG_OOB 0x1
#define MSG_PEEK 0x2
#define MSG_DONTROUTE 0x4
#define SD_RECEIVE 0
#define SD_SEND 1
#define SD_BOTH 2
#define FIONREAD 0x4004667FL
#define FIONBIO ((long)0x8004667EUL)

struct linger {
  u_short l_onoff;
  u_short l_linger;
};

#define WSABASEERR 10000
#define WSAEINTR 10004
#define WSAEBADF 10009
#define WSAEACCES 10013
#define WSAEFAULT 10014
#define WSAEINVAL 10022
#define WSAEMFILE 10024
#define WSAEWOULDBLOCK 10035
#define WSAEINPROGRESS 10036
#define WSAEALREADY 10037
#define WSAENOTSOCK 10038
#define WSAEDESTADDRREQ 10039
#define WSAEMSGSIZE 10040
#define WSAEPROTOTYPE 10041
#define WSAENOPROTOOPT 10042
#define WSAEPROTONOSUPPORT 10043
#define WSAESOCKTNOSUPPORT 10044
#define WSAEOPNOTSUPP 10045
#define WSAEAFNOSUPPORT 10047
#define WSAEADDRINUSE 10048
#define WSAEADDRNOTAVAIL 10049
#define WSAENETDOWN 10050
#define WSAENETUNREACH 10051
#define WSAENETRESET 10052
#define WSAECONNABORTED 10053
#define WSAECONNRESET 10054
#define WSAENOBUFS 10055
#define WSAEISCONN 10056
#define WSAENOTCONN 10057
#define WSAESHUTDOWN 10058
#define WSAETIMEDOUT 10060
#define WSAECONNREFUSED 10061
#define WSAEHOSTUNREACH 10065
#define WSASYSNOTREADY 10091
#define WSAVERNOTSUPPORTED 10092
#define WSANOTINITIALISED 10093

inline int WSAStartup(WORD version, LPWSADATA data) { return CeWs_WSAStartup(version, data); }
inline int WSACleanup() { return CeWs_WSACleanup(); }
inline int WSAGetLastError() { return CeWs_WSAGetLastError(); }
inline void WSASetLastError(int error) { CeWs_WSASetLastError(error); }
inline SOCKET socket(int af, int type, int protocol) { return CeWs_socket(af, type, protocol); }
inline int bind(SOCKET s, const struct sockaddr* name, int nameLen) { return CeWs_bind(s, name, nameLen); }
inline int listen(SOCKET s, int backlog) { return CeWs_listen(s, backlog); }
inline SOCKET accept(SOCKET s, struct sockaddr* addr, int* addrLen) { return CeWs_accept(s, addr, addrLen); }
inline int connect(SOCKET s, const struct sockaddr* name, int nameLen) { return CeWs_connect(s, name, nameLen); }
inline int recv(SOCKET s, char* buf, int len, int flags) { return CeWs_recv(s, buf, len, flags); }
inline int send(SOCKET s, const char* buf, int len, int flags) { return CeWs_send(s, buf, len, flags); }
inline int closesocket(SOCKET s) { return CeWs_closesocket(s); }
inline int shutdown(SOCKET s, int how) { return CeWs_shutdown(s, how); }
inline int setsockopt(SOCKET s, int level, int name, const char* value, int len) {
  return CeWs_setsockopt(s, level, name, value, len);
}
inline int getsockopt(SOCKET s, int level, int name, char* value, int* len) {
  return CeWs_getsockopt(s, level, name, value, len);
}
inline int getsockname(SOCKET s, struct sockaddr* name, int* nameLen) { return CeWs_getsockname(s, name, nameLen); }
inline int getpeername(SOCKET s, struct sockaddr* name, int* nameLen) { return CeWs_getpeername(s, name, nameLen); }
inline int ioctlsocket(SOCKET s, long cmd, u_long* arg) { return CeWs_ioctlsocket(s, cmd, arg); }
// The timeval is only read; nfds is ignored, as on Winsock.
inline int select(int nfds, fd_set* readSet, fd_set* writeSet, fd_set* exceptSet, const struct timeval* timeout) {
  return CeWs_select(nfds, readSet, writeSet, exceptSet, timeout);
}
inline int __WSAFDIsSet(SOCKET s, fd_set* set) { return CeWs_WSAFDIsSet(s, set); }
inline u_long inet_addr(const char* text) { return CeWs_inet_addr(text); }

inline u_short htons(u_short v) { return static_cast<u_short>((v << 8) | (v >> 8)); }
inline u_short ntohs(u_short v) { return htons(v); }
inline u_long htonl(u_long v) {
  return ((v & 0xFFu) << 24) | ((v & 0xFF00u) << 8) | ((v >> 8) & 0xFF00u) | ((v >> 24) & 0xFFu);
}
inline u_long ntohl(u_long v) { return htonl(v); }

#define FD_ZERO(set) (((fd_set*)(set))->fd_count = 0)
#define FD_ISSET(s, set) __WSAFDIsSet((SOCKET)(s), (fd_set*)(set))
#define FD_CLR(s, set)                                                         \
  do {                                                                         \
    fd_set* ce_set_ = (fd_set*)(set);                                          \
    for (u_int ce_i_ = 0; ce_i_ < ce_set_->fd_count; ++ce_i_) {                \
      if (ce_set_->fd_array[ce_i_] == (SOCKET)(s)) {                           \
        for (; ce_i_ + 1 < ce_set_->fd_count; ++ce_i_)                         \
          ce_set_->fd_array[ce_i_] = ce_set_->fd_array[ce_i_ + 1];             \
        ce_set_->fd_count--;                                                   \
        break;                                                                 \
      }                                                                        \
    }                                                                          \
  } while (0)
// Adds a socket once; a full set stays as it is.
#define FD_SET(s, set)                                                          \
  do {                                                                          \
    fd_set* ce_set_ = (fd_set*)(set);                                           \
    u_int ce_i_ = 0;                                                            \
    for (; ce_i_ < ce_set_->fd_count; ++ce_i_)                                  \
      if (ce_set_->fd_array[ce_i_] == (SOCKET)(s)) break;                       \
    if (ce_i_ == ce_set_->fd_count && ce_set_->fd_count < FD_SETSIZE)           \
      ce_set_->fd_array[ce_set_->fd_count++] = (SOCKET)(s);                     \
  } while (0)

#endif  // CE_WINSOCK_IMPLEMENTATION
