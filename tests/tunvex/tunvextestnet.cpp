#include "tunvextestnet.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <dirent.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

namespace {

int Remaining(std::chrono::steady_clock::time_point end) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
  return left > 0 ? int(left) : 0;
}

}  // namespace

uint16_t FreeLoopbackPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = 0;
  sa.sin_addr.s_addr = htonl(INADDR_ANY);
  socklen_t len = sizeof sa;
  uint16_t port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0)
    port = ntohs(sa.sin_port);
  ::close(fd);
  return port;
}

void ConnectionBurst(uint16_t port, int count) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::vector<int> fds;
  for (int i = 0; i < count; ++i) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) break;
    ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);  // in progress, done or refused
    fds.push_back(fd);
  }
  for (size_t i = 0; i < fds.size(); ++i) {
    if (i % 2 == 0) {
      linger reset{1, 0};
      ::setsockopt(fds[i], SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    }
    ::close(fds[i]);
  }
}

int OpenDescriptors() {
  DIR* d = ::opendir("/proc/self/fd");
  if (!d) return -1;
  int n = 0;
  while (dirent* e = ::readdir(d))
    if (e->d_name[0] != '.') ++n;
  ::closedir(d);
  return n - 1;  // the directory's own descriptor
}

RawConnection::~RawConnection() { Close(); }

void RawConnection::Close() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
}

bool RawConnection::Connect(uint16_t port, int timeoutMs) {
  Close();
  m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (m_fd < 0) return false;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  ::setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  if (::connect(m_fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    Close();
    return false;
  }
  int one = 1;
  ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return true;
}

bool RawConnection::Send(const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

bool RawConnection::Receive(size_t size, std::vector<uint8_t>* out, int timeoutMs) {
  out->assign(size, 0);
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  size_t done = 0;
  while (done < size) {
    pollfd p{m_fd, POLLIN, 0};
    int rc = ::poll(&p, 1, Remaining(end));
    if (rc <= 0) return false;
    ssize_t n = ::recv(m_fd, out->data() + done, size - done, 0);
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

bool RawConnection::WaitClosed(int timeoutMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  uint8_t buf[4096];
  for (;;) {
    pollfd p{m_fd, POLLIN, 0};
    int rc = ::poll(&p, 1, Remaining(end));
    if (rc <= 0) return false;
    ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
    if (n == 0) return true;
    if (n < 0) return errno == ECONNRESET;
  }
}
