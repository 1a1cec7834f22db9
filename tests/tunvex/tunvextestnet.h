// Raw loopback connections for the tuning server's tests: a client that can
// send anything, including what a well-behaved tool never would.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A loopback port that no socket holds right now, for a server that a test
// starts on a fixed port (through TUNVEX_PORT) in a child or a module.
uint16_t FreeLoopbackPort();

// Opens `count` loopback connections at once without waiting for any, then
// drops them all, half with a reset and half with an orderly close: a burst
// that the listen backlog mostly turns away.
void ConnectionBurst(uint16_t port, int count);

// The number of descriptors this process has open.
int OpenDescriptors();

class RawConnection {
 public:
  RawConnection() = default;
  ~RawConnection();
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  bool Connect(uint16_t port, int timeoutMs = 30000);
  void Close();
  bool Send(const std::vector<uint8_t>& bytes);
  // Exactly `size` bytes, or false when the connection ends or the time runs out.
  bool Receive(size_t size, std::vector<uint8_t>* out, int timeoutMs = 30000);
  // True when the server closes the connection within the time (after
  // discarding whatever it still sends).
  bool WaitClosed(int timeoutMs = 30000);

 private:
  int m_fd = -1;
};
