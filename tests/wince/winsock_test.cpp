// The Winsock stand-in over loopback (ephemeral ports only).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "wince.h"
#include "wince_winsock.h"

namespace {

class Winsock : public ::testing::Test {
 protected:
  void SetUp() override {
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    EXPECT_EQ(data.wVersion, MAKEWORD(2, 2));
  }
  void TearDown() override {
    for (SOCKET s : {client, server, listener})
      if (s != INVALID_SOCKET) closesocket(s);
    EXPECT_EQ(WSACleanup(), 0);
  }

  // A listening socket on 127.0.0.1 at a free port; returns the port.
  u_short Listen(bool nonBlocking) {
    listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    EXPECT_NE(listener, INVALID_SOCKET);
    if (nonBlocking) {
      u_long on = 1;
      EXPECT_EQ(ioctlsocket(listener, FIONBIO, &on), 0);
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(0);
    a.sin_addr.s_addr = inet_addr("127.0.0.1");
    EXPECT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    EXPECT_EQ(listen(listener, 1), 0);
    int len = sizeof a;
    EXPECT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len), 0);
    return ntohs(a.sin_port);
  }

  void Connect(u_short port) {
    client = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  }

  // Waits (select) until `s` is readable; true when it is.
  static bool Readable(SOCKET s, long seconds) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv{seconds, 0};
    int r = select(0, &set, nullptr, nullptr, &tv);
    return r == 1 && FD_ISSET(s, &set);
  }

  SOCKET listener = INVALID_SOCKET;
  SOCKET server = INVALID_SOCKET;
  SOCKET client = INVALID_SOCKET;
};

TEST_F(Winsock, ConnectAcceptSendAndReceive) {
  u_short port = Listen(false);
  ASSERT_NE(port, 0);
  Connect(port);
  sockaddr_in peer{};
  int len = sizeof peer;
  server = accept(listener, reinterpret_cast<sockaddr*>(&peer), &len);
  ASSERT_NE(server, INVALID_SOCKET);
  EXPECT_EQ(peer.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
  const char ack[6] = {1, 0, 1, 0, 0, 0};
  EXPECT_EQ(send(server, ack, 6, 0), 6);
  char buf[16] = {};
  ASSERT_TRUE(Readable(client, 10));
  EXPECT_EQ(recv(client, buf, sizeof buf, 0), 6);
  EXPECT_EQ(std::memcmp(buf, ack, 6), 0);
  // An orderly close reads as 0 bytes.
  closesocket(client);
  client = INVALID_SOCKET;
  ASSERT_TRUE(Readable(server, 10));
  EXPECT_EQ(recv(server, buf, sizeof buf, 0), 0);
}

TEST_F(Winsock, NonBlockingModeIsInheritedAndWouldBlockIsReported) {
  u_short port = Listen(true);
  SetLastError(0);
  EXPECT_EQ(accept(listener, nullptr, nullptr), INVALID_SOCKET);
  EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
  Connect(port);
  ASSERT_TRUE(Readable(listener, 10));
  server = accept(listener, nullptr, nullptr);
  ASSERT_NE(server, INVALID_SOCKET);
  char buf[4];
  EXPECT_EQ(recv(server, buf, sizeof buf, 0), SOCKET_ERROR);   // accepted socket is non-blocking too
  EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(WSAEWOULDBLOCK));
}

TEST_F(Winsock, SelectTimesOutAndLeavesTheTimevalAlone) {
  Listen(false);
  fd_set set;
  FD_ZERO(&set);
  FD_SET(listener, &set);
  FD_SET(listener, &set);   // added once
  EXPECT_EQ(set.fd_count, 1u);
  const timeval tv{0, 50000};
  timeval copy = tv;
  EXPECT_EQ(select(0, &set, nullptr, nullptr, &copy), 0);
  EXPECT_EQ(set.fd_count, 0u);
  EXPECT_EQ(copy.tv_sec, tv.tv_sec);
  EXPECT_EQ(copy.tv_usec, tv.tv_usec);
  FD_SET(listener, &set);
  FD_CLR(listener, &set);
  EXPECT_EQ(set.fd_count, 0u);
  EXPECT_EQ(select(0, &set, nullptr, nullptr, &copy), SOCKET_ERROR);   // nothing to wait for
  EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
}

TEST_F(Winsock, SendToAClosedPeerFailsWithoutASignal) {
  u_short port = Listen(false);
  Connect(port);
  server = accept(listener, nullptr, nullptr);
  ASSERT_NE(server, INVALID_SOCKET);
  closesocket(client);
  client = INVALID_SOCKET;
  char buf[4096] = {};
  int r = 0;
  for (int i = 0; i < 100 && r != SOCKET_ERROR; ++i) r = send(server, buf, sizeof buf, 0);
  EXPECT_EQ(r, SOCKET_ERROR);   // and the process is still here
  int e = WSAGetLastError();
  EXPECT_TRUE(e == WSAECONNRESET || e == WSAESHUTDOWN || e == WSAECONNABORTED) << e;
}

// A connection the peer has reset is writable (a send would not block: it fails at
// once), so a server waiting to send learns of the reset instead of waiting for good.
TEST_F(Winsock, AResetConnectionSelectsWritableAndTheSendFails) {
  u_short port = Listen(false);
  Connect(port);
  server = accept(listener, nullptr, nullptr);
  ASSERT_NE(server, INVALID_SOCKET);
  const char linger[4] = {1, 0, 0, 0};   // on, 0 s: the close resets the connection
  ASSERT_EQ(setsockopt(client, SOL_SOCKET, SO_LINGER, linger, sizeof linger), 0);
  closesocket(client);
  client = INVALID_SOCKET;
  ASSERT_TRUE(Readable(server, 10));   // the reset has arrived
  fd_set set;
  FD_ZERO(&set);
  FD_SET(server, &set);
  timeval tv{10, 0};
  ASSERT_EQ(select(0, nullptr, &set, nullptr, &tv), 1);
  EXPECT_TRUE(FD_ISSET(server, &set));
  char b = 0;
  EXPECT_EQ(send(server, &b, 1, 0), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
}

TEST_F(Winsock, NonBlockingConnectEndsWritableOrInExcept) {
  struct Case {
    const char* what;
    bool listening;
  } cases[] = {{"connected", true}, {"refused", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // A bound socket holds the port; only a listening one accepts.
    SOCKET target = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(target, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    if (c.listening) {
      ASSERT_EQ(listen(target, 1), 0);
    }
    int len = sizeof a;
    ASSERT_EQ(getsockname(target, reinterpret_cast<sockaddr*>(&a), &len), 0);
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    u_long on = 1;
    ASSERT_EQ(ioctlsocket(s, FIONBIO, &on), 0);
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == SOCKET_ERROR) {
      int e = WSAGetLastError();
      if (!c.listening && e == WSAECONNREFUSED) {   // refused at once: nothing to select
        closesocket(s);
        closesocket(target);
        continue;
      }
      ASSERT_EQ(e, WSAEWOULDBLOCK);
    }
    fd_set w, x;
    if (!c.listening) {
      // A failed connect is never writable: asked for writing alone, select waits its time.
      FD_ZERO(&w);
      FD_SET(s, &w);
      const timeval brief{0, 100000};
      DWORD before = GetTickCount();
      EXPECT_EQ(select(0, nullptr, &w, nullptr, &brief), 0);
      EXPECT_GE(GetTickCount() - before, 90u);
    }
    FD_ZERO(&w);
    FD_ZERO(&x);
    FD_SET(s, &w);
    FD_SET(s, &x);
    timeval tv{10, 0};
    ASSERT_EQ(select(0, nullptr, &w, &x, &tv), 1);
    EXPECT_EQ(FD_ISSET(s, &w) != 0, c.listening);
    EXPECT_EQ(FD_ISSET(s, &x) != 0, !c.listening);
    closesocket(s);
    closesocket(target);
  }
}

// A few tools arriving together at a server that listens with a backlog of 1
// and accepts one at a time: each connects at once and is accepted in turn,
// none is left believing it is connected to a server that never takes it.
TEST_F(Winsock, AFewClientsArrivingTogetherAllConnectBeforeTheFirstIsAccepted) {
  u_short port = Listen(false);
  constexpr int kClients = 3;
  SOCKET clients[kClients];
  for (SOCKET& c : clients) {
    c = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_NE(c, INVALID_SOCKET);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    u_long on = 1;
    ASSERT_EQ(ioctlsocket(c, FIONBIO, &on), 0);
    connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  for (int i = 0; i < kClients; ++i) {
    SCOPED_TRACE("client " + std::to_string(i));
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(clients[i], &writable);
    timeval tv{5, 0};  // a dropped handshake would wait for a SYN retransmission
    EXPECT_EQ(select(0, nullptr, &writable, nullptr, &tv), 1) << "not connected while the server is busy";
  }
  for (int i = 0; i < kClients; ++i) {
    SOCKET s = accept(listener, nullptr, nullptr);
    EXPECT_NE(s, INVALID_SOCKET);
    if (s != INVALID_SOCKET) closesocket(s);
  }
  for (SOCKET c : clients) closesocket(c);
}

TEST_F(Winsock, SendAfterOwnShutdownFailsWithShutdown) {
  u_short port = Listen(false);
  Connect(port);
  server = accept(listener, nullptr, nullptr);
  ASSERT_NE(server, INVALID_SOCKET);
  ASSERT_EQ(shutdown(server, SD_SEND), 0);
  char b = 0;
  EXPECT_EQ(send(server, &b, 1, 0), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAESHUTDOWN);
}

TEST_F(Winsock, ServerCanRebindItsPortAtOnce) {
  u_short port = Listen(false);
  Connect(port);
  server = accept(listener, nullptr, nullptr);
  closesocket(server);   // the server side closes first: its port sits in TIME_WAIT
  server = INVALID_SOCKET;
  closesocket(listener);
  listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = inet_addr("127.0.0.1");
  EXPECT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0) << WSAGetLastError();
}

// What a tool that starts a server in its own process reads to learn where it
// listens, or that its bind failed.
TEST_F(Winsock, ServerSocketsTellListeningPortsAndFailedBinds) {
  EXPECT_EQ(CeWs_ServerSockets(nullptr, 0), 0);
  u_short port = Listen(false);
  client = socket(AF_INET, SOCK_STREAM, 0);  // neither bound nor listening: not shown
  server = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  ASSERT_EQ(bind(server, reinterpret_cast<sockaddr*>(&a), sizeof a), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEADDRINUSE);

  CeWsServerSocket entries[4] = {};
  ASSERT_EQ(CeWs_ServerSockets(entries, 4), 2);
  bool sawListener = false, sawFailure = false;
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(entries[i].port, port);
    if (entries[i].listening) sawListener = entries[i].bindError == 0;
    else sawFailure = entries[i].bindError == WSAEADDRINUSE;
  }
  EXPECT_TRUE(sawListener);
  EXPECT_TRUE(sawFailure);
  EXPECT_EQ(CeWs_ServerSockets(entries, 1), 2);  // the count, whatever fits

  closesocket(server);
  server = INVALID_SOCKET;
  closesocket(listener);
  listener = INVALID_SOCKET;
  EXPECT_EQ(CeWs_ServerSockets(entries, 4), 0);
}

TEST_F(Winsock, ClosingASocketWakesACallBlockedOnIt) {
  u_short port = Listen(false);
  Connect(port);
  server = accept(listener, nullptr, nullptr);
  ASSERT_NE(server, INVALID_SOCKET);
  HANDLE th = CreateThread(
      nullptr, 0,
      [](LPVOID p) -> DWORD {
        char buf[4];
        return static_cast<DWORD>(recv(static_cast<SOCKET>(reinterpret_cast<uintptr_t>(p)), buf, sizeof buf, 0));
      },
      reinterpret_cast<LPVOID>(static_cast<uintptr_t>(server)), 0, nullptr);
  EXPECT_EQ(WaitForSingleObject(th, 30), WAIT_TIMEOUT);
  EXPECT_EQ(closesocket(server), 0);
  server = INVALID_SOCKET;
  ASSERT_EQ(WaitForSingleObject(th, 10000), WAIT_OBJECT_0);
  DWORD r = 1;
  GetExitCodeThread(th, &r);
  EXPECT_TRUE(r == 0 || r == static_cast<DWORD>(SOCKET_ERROR)) << r;
  CloseHandle(th);
}

TEST_F(Winsock, BadSocketsAndArguments) {
  SetLastError(0);
  EXPECT_EQ(closesocket(0x1234), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
  char buf[4];
  EXPECT_EQ(recv(INVALID_SOCKET, buf, 4, 0), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
  EXPECT_EQ(socket(AF_UNSPEC + 99, SOCK_STREAM, 0), INVALID_SOCKET);
  EXPECT_EQ(WSAGetLastError(), WSAEAFNOSUPPORT);
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  EXPECT_EQ(bind(s, nullptr, 16), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
  EXPECT_EQ(ioctlsocket(s, 0x1234, nullptr), SOCKET_ERROR);
  u_long v = 0;
  EXPECT_EQ(ioctlsocket(s, 0x1234, &v), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
  int one = 1;
  EXPECT_EQ(setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<char*>(&one), sizeof one), 0);
  EXPECT_EQ(setsockopt(s, SOL_SOCKET, 0x7777, reinterpret_cast<char*>(&one), sizeof one), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOPROTOOPT);
  EXPECT_EQ(closesocket(s), 0);
  EXPECT_EQ(closesocket(s), SOCKET_ERROR);
  EXPECT_EQ(inet_addr("not an address"), INADDR_NONE);
  EXPECT_EQ(inet_addr(nullptr), INADDR_NONE);
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);   // a closed socket
  timeval tv{0, 0};
  EXPECT_EQ(select(0, &set, nullptr, nullptr, &tv), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
}

TEST(WinsockStartup, CallsBeforeStartupFail) {
  EXPECT_EQ(socket(AF_INET, SOCK_STREAM, 0), INVALID_SOCKET);
  EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
  EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
  EXPECT_EQ(WSAStartup(MAKEWORD(2, 2), nullptr), WSAEFAULT);
  WSADATA d;
  EXPECT_EQ(WSAStartup(MAKEWORD(1, 0), &d), WSAVERNOTSUPPORTED);
}

TEST(WinsockStartup, LastCleanupClosesTheSocketsLeftOpen) {
  WSADATA d;
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &d), 0);
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &d), 0);
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_NE(s, INVALID_SOCKET);
  EXPECT_EQ(WSACleanup(), 0);   // one start-up is still in force
  u_long v = 0;
  EXPECT_EQ(ioctlsocket(s, FIONREAD, &v), 0);
  EXPECT_EQ(WSACleanup(), 0);
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &d), 0);
  EXPECT_EQ(ioctlsocket(s, FIONREAD, &v), SOCKET_ERROR);
  EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
  EXPECT_EQ(WSACleanup(), 0);
}

TEST(WinsockStartup, ServerPortOverride) {
  ::unsetenv("TUNVEX_PORT");
  EXPECT_EQ(CeWs_ServerPort(55555), 55555);
  ::setenv("TUNVEX_PORT", "0", 1);
  EXPECT_EQ(CeWs_ServerPort(55555), 0);
  ::setenv("TUNVEX_PORT", "6001", 1);
  EXPECT_EQ(CeWs_ServerPort(55555), 6001);
  for (const char* bad : {"", "70000", "-1", "12ab", " 5"}) {
    ::setenv("TUNVEX_PORT", bad, 1);
    EXPECT_EQ(CeWs_ServerPort(55555), 55555) << bad;
  }
  ::unsetenv("TUNVEX_PORT");
}

}  // namespace
