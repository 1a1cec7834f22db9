#include "tunvexclient.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

using namespace tunvex;

TunvexClient::~TunvexClient() { Close(); }

void TunvexClient::Close() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
}

bool TunvexClient::Fail(const std::string& what) {
  m_error = what;
  Close();
  return false;
}

bool TunvexClient::Connect(const std::string& host, uint16_t port) {
  Close();
  m_error.clear();
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &res);
  if (rc != 0 || !res) return Fail("cannot resolve " + host + ": " + gai_strerror(rc));

  m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (m_fd < 0) {
    ::freeaddrinfo(res);
    return Fail(std::string("socket: ") + std::strerror(errno));
  }
  int flags = ::fcntl(m_fd, F_GETFL, 0);
  ::fcntl(m_fd, F_SETFL, flags | O_NONBLOCK);
  rc = ::connect(m_fd, res->ai_addr, res->ai_addrlen);
  ::freeaddrinfo(res);
  if (rc != 0 && errno != EINPROGRESS) return Fail(std::string("connect: ") + std::strerror(errno));
  if (rc != 0) {
    pollfd p{m_fd, POLLOUT, 0};
    rc = ::poll(&p, 1, m_timeoutMs);
    if (rc == 0) return Fail("connect: timed out");
    int err = 0;
    socklen_t len = sizeof err;
    ::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &err, &len);
    if (rc < 0 || err != 0) return Fail(std::string("connect: ") + std::strerror(err ? err : errno));
  }
  // Each request goes out in one piece: the server reads the header as two
  // receives and drops a connection whose header arrives split.
  int one = 1;
  ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

  uint8_t ack[kAckSize];
  if (!ReceiveAll(ack, sizeof ack)) return false;
  if (!IsAck(ack, sizeof ack)) return Fail("the server's acknowledgement is not 01 00 01 00 00 00");
  return true;
}

bool TunvexClient::SendAll(const uint8_t* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::send(m_fd, data + done, size - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += size_t(n);
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
      pollfd p{m_fd, POLLOUT, 0};
      int rc = ::poll(&p, 1, m_timeoutMs);
      if (rc == 0) return Fail("send: timed out");
      if (rc < 0 && errno != EINTR) return Fail(std::string("send: ") + std::strerror(errno));
      continue;
    }
    return Fail(std::string("send: ") + std::strerror(errno));
  }
  return true;
}

bool TunvexClient::ReceiveAll(uint8_t* data, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::recv(m_fd, data + done, size - done, 0);
    if (n > 0) {
      done += size_t(n);
      continue;
    }
    if (n == 0) return Fail("the server closed the connection");
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
      pollfd p{m_fd, POLLIN, 0};
      int rc = ::poll(&p, 1, m_timeoutMs);
      if (rc == 0) return Fail("no answer from the server (timed out)");
      if (rc < 0 && errno != EINTR) return Fail(std::string("receive: ") + std::strerror(errno));
      continue;
    }
    return Fail(std::string("receive: ") + std::strerror(errno));
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

bool TunvexClient::ListAll(std::vector<ListEntry>* items) {
  items->clear();
  uint32_t next = 0;
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
      items->push_back(std::move(e));
    }
    if (!page.more || next > 0xFFFF) break;
    if (page.entries.empty()) return Fail("list reply makes no progress");
  }
  return true;
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
    for (size_t i = 0; i < a.values.size(); ++i) {
      const ParmRef& want = refs[at + i];
      if (a.values[i].id != want.id || a.values[i].index != want.index) return Fail("read reply out of order");
      (*texts)[at + i] = std::move(a.values[i].text);
    }
    at += a.values.size();
    // The server stops at the first element it cannot answer: skip that one.
    if (a.values.size() < taken) ++at;
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
