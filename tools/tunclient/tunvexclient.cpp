#include "tunvexclient.h"

#include <cstring>
#include <string>

#include "wince_winsock.h"

using namespace tunvex;

TunvexClient::~TunvexClient() { Close(); }

namespace {

SOCKET Sock(int fd) { return SOCKET(fd); }

// 1 ready, 0 timed out, -1 failed.
int WaitOne(int fd, bool forWrite, int timeoutMs) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(Sock(fd), &set);
  timeval tv;
  tv.tv_sec = timeoutMs / 1000;
  tv.tv_usec = (timeoutMs % 1000) * 1000;
  int n = select(0, forWrite ? nullptr : &set, forWrite ? &set : nullptr, nullptr, &tv);
  if (n == SOCKET_ERROR) return -1;
  return n > 0 ? 1 : 0;
}

std::string ErrorText(const char* what) { return std::string(what) + ": error " + std::to_string(WSAGetLastError()); }

}  // namespace

void TunvexClient::Close() {
  if (m_fd >= 0) closesocket(Sock(m_fd));
  m_fd = -1;
  if (m_started) WSACleanup();
  m_started = false;
}

bool TunvexClient::Fail(const std::string& what) {
  m_error = what;
  Close();
  return false;
}

bool TunvexClient::Connect(const std::string& host, uint16_t port) {
  Close();
  m_error.clear();
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return Fail("socket start-up failed");
  m_started = true;
  u_long addr = inet_addr(host == "localhost" ? "127.0.0.1" : host.c_str());
  if (addr == INADDR_NONE) return Fail("not an IPv4 address: " + host);

  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return Fail(ErrorText("socket"));
  m_fd = int(s);
  u_long nonBlocking = 1;
  ioctlsocket(s, FIONBIO, &nonBlocking);
  sockaddr_in sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = addr;
  sa.sin_port = htons(port);
  if (connect(s, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == SOCKET_ERROR) {
    int err = WSAGetLastError();
    if (err == WSAECONNREFUSED) return Fail("connect: connection refused (is the tuning server running?)");
    if (err != WSAEWOULDBLOCK && err != WSAEINPROGRESS) return Fail("connect: error " + std::to_string(err));
    // A connection that fails shows in the exception set, one that succeeds
    // in the write set.
    fd_set writeSet, exceptSet;
    FD_ZERO(&writeSet);
    FD_ZERO(&exceptSet);
    FD_SET(s, &writeSet);
    FD_SET(s, &exceptSet);
    timeval tv;
    tv.tv_sec = m_timeoutMs / 1000;
    tv.tv_usec = (m_timeoutMs % 1000) * 1000;
    int rc = select(0, nullptr, &writeSet, &exceptSet, &tv);
    if (rc == 0) return Fail("connect: timed out");
    if (rc > 0 && FD_ISSET(s, &exceptSet)) rc = -1;
    int soError = 0;
    int len = sizeof soError;
    getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &len);
    if (soError == WSAECONNREFUSED) return Fail("connect: connection refused (is the tuning server running?)");
    if (rc < 0 || soError != 0) return Fail("connect: error " + std::to_string(soError ? soError : WSAGetLastError()));
  }
  // Each request goes out at once, without waiting for the server to
  // acknowledge the one before.
  int one = 1;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);

  uint8_t ack[kAckSize];
  if (!ReceiveAll(ack, sizeof ack)) return false;
  if (!IsAck(ack, sizeof ack)) return Fail("the server's acknowledgement is not 01 00 01 00 00 00");
  return true;
}

bool TunvexClient::SendAll(const uint8_t* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    int n = send(Sock(m_fd), reinterpret_cast<const char*>(data + done), int(size - done), 0);
    if (n > 0) {
      done += size_t(n);
      continue;
    }
    if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
      int rc = WaitOne(m_fd, true, m_timeoutMs);
      if (rc == 0) return Fail("send: timed out");
      if (rc < 0) return Fail(ErrorText("send"));
      continue;
    }
    return Fail(ErrorText("send"));
  }
  return true;
}

bool TunvexClient::ReceiveAll(uint8_t* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    int n = recv(Sock(m_fd), reinterpret_cast<char*>(data + done), int(size - done), 0);
    if (n > 0) {
      done += size_t(n);
      continue;
    }
    if (n == 0) return Fail("the server closed the connection");
    if (WSAGetLastError() == WSAEWOULDBLOCK) {
      int rc = WaitOne(m_fd, false, m_timeoutMs);
      if (rc == 0) return Fail("no answer from the server (timed out)");
      if (rc < 0) return Fail(ErrorText("receive"));
      continue;
    }
    return Fail(ErrorText("receive"));
  }
  return true;
}

bool TunvexClient::Exchange(const std::vector<uint8_t>& request, uint16_t code, bool* success,
                            std::vector<uint8_t>* response) {
  if (m_fd < 0) return Fail("not connected");
  if (!SendAll(request.data(), request.size())) return false;
  std::vector<uint8_t> reply(ReplySize(code));
  if (!ReceiveAll(reply.data(), reply.size())) return false;
  if (success) *success = reply[0] == 1;
  if (response) response->assign(reply.begin() + 1, reply.end());
  return true;
}

bool TunvexClient::Version(std::string* version) {
  bool ok = false;
  std::vector<uint8_t> r;
  if (!Exchange(EncodeMiscCommand(kMiscVersion), kCodeMiscCommand, &ok, &r)) return false;
  if (!ok) return Fail("the server refused the version request");
  if (!DecodeVersion(r.data(), r.size(), version)) return Fail("malformed version reply");
  return true;
}

bool TunvexClient::Walk(uint16_t first, const std::function<bool(ListEntry&)>& visit) {
  uint32_t next = first;
  for (;;) {
    bool ok = false;
    std::vector<uint8_t> r;
    if (!Exchange(EncodeGetList(uint16_t(next)), kCodeGetList, &ok, &r)) return false;
    if (!ok) return Fail("the server refused the list request");
    ListPage page;
    if (!DecodeGetList(r.data(), r.size(), &page)) return Fail("malformed list reply");
    for (ListEntry& e : page.entries) {
      if (e.id < next) return Fail("list reply goes backwards");
      next = uint32_t(e.id) + 1;
      if (visit(e)) return true;
    }
    if (!page.more || next > 0xFFFF) return true;
    if (page.entries.empty()) return Fail("list reply makes no progress");
  }
}

bool TunvexClient::ListAll(std::vector<ListEntry>* items) {
  items->clear();
  return Walk(0, [items](ListEntry& e) {
    items->push_back(std::move(e));
    return false;
  });
}

bool TunvexClient::FindById(uint16_t id, std::optional<ListEntry>* item) {
  item->reset();
  // The page from `id` on starts with it when it is listed.
  return Walk(id, [&](ListEntry& e) {
    if (e.id == id) *item = std::move(e);
    return true;
  });
}

bool TunvexClient::FindByName(const std::string& name, std::optional<ListEntry>* item) {
  item->reset();
  return Walk(0, [&](ListEntry& e) {
    if (e.name != name) return false;
    *item = std::move(e);
    return true;
  });
}

bool TunvexClient::Get(const std::vector<ParmRef>& refs, std::vector<std::optional<std::string>>* texts,
                       bool* changesPending) {
  texts->assign(refs.size(), std::nullopt);
  size_t at = 0;
  while (at < refs.size()) {
    size_t taken = 0;
    std::vector<uint8_t> req = EncodeGetParms(refs.data() + at, refs.size() - at, &taken);
    bool ok = false;
    std::vector<uint8_t> r;
    if (!Exchange(req, kCodeGetParms, &ok, &r)) return false;
    if (!ok) return Fail("the server refused the read request");
    ParmsAnswer a;
    if (!DecodeGetParms(r.data(), r.size(), &a) || a.values.size() > taken) return Fail("malformed read reply");
    if (changesPending) *changesPending = a.changesPending;
    // The server stops at the first element it cannot answer (skip that one)
    // or when its block is full (ask again from there).
    const bool skip = a.values.size() < taken && !ParmsAnswerFull(a);
    for (size_t i = 0; i < a.values.size(); ++i) {
      const ParmRef& want = refs[at + i];
      if (a.values[i].id != want.id || a.values[i].index != want.index) return Fail("read reply out of order");
      (*texts)[at + i] = std::move(a.values[i].text);
    }
    at += a.values.size() + (skip ? 1 : 0);
  }
  return true;
}

bool TunvexClient::Set(const std::vector<ParmWrite>& writes, bool* changesPending) {
  size_t at = 0;
  while (at < writes.size()) {
    size_t taken = 0;
    std::vector<uint8_t> req = EncodeSetParms(writes.data() + at, writes.size() - at, &taken);
    if (taken == 0) return Fail("value text too long or not a plain text: " + writes[at].text.substr(0, 40));
    bool ok = false;
    std::vector<uint8_t> r;
    if (!Exchange(req, kCodeSetParms, &ok, &r)) return false;
    if (!ok) return Fail("the server refused the write request");
    bool pending = false;
    if (!DecodePendingFlag(r.data(), r.size(), &pending)) return Fail("malformed write reply");
    if (changesPending) *changesPending = pending;
    at += taken;
  }
  return true;
}

bool TunvexClient::Apply(bool* changesPending) {
  bool ok = false;
  std::vector<uint8_t> r;
  if (!Exchange(EncodeMiscCommand(kMiscApply), kCodeMiscCommand, &ok, &r)) return false;
  if (!ok) return Fail("the server refused the apply request");
  bool pending = false;
  if (!DecodePendingFlag(r.data(), r.size(), &pending)) return Fail("malformed apply reply");
  if (changesPending) *changesPending = pending;
  return true;
}
