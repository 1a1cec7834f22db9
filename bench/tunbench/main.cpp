// tunbench: how fast the tuning server answers a tuning tool. Starts tunserve (the server
// of the camera's Calbrook module, over the host, serving the tuning-data service's table)
// and times it from outside with a plain socket client of its own:
//   - one small request (the version),
//   - 381 values: one read request as full as a request can be (381 references), plus
//     the requests that fetch what did not fit in its answer,
//   - the whole table: every page of the list, then every element of every item.
//
//   tunbench [--tunserve PATH] [--port PORT] [--seconds S]
//
// PATH defaults to the tunserve beside this program; PORT 0 (the default) lets tunserve
// take any free port. Each figure is the median over repeated runs (at least S seconds,
// default 2, or enough runs).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "benchargs.h"
#include "tunvexprotocol.h"

extern char** environ;

using namespace tunvex;
using Clock = std::chrono::steady_clock;

namespace {

// The most references one read request holds: (1529 - 2) / 4.
constexpr size_t kRefsPerRequest = (kParmsRequestMax - 2) / 4;

// tunserve as a child whose stdout we read; stopped with SIGTERM at the end.
struct Server {
  pid_t pid = 0;
  int out = -1;
  ~Server() {
    if (pid > 0) {
      kill(pid, SIGTERM);
      waitpid(pid, nullptr, 0);
    }
    if (out >= 0) close(out);
  }
  // The port from its "listening on port N" line; 0 when it does not start.
  uint16_t Start(const std::string& path, unsigned port) {
    int fds[2];
    if (pipe(fds) != 0) return 0;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::string portText = std::to_string(port);
    const char* argv[] = {path.c_str(), "--port", portText.c_str(), nullptr};
    int rc = posix_spawn(&pid, path.c_str(), &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    out = fds[0];
    if (rc != 0) {
      pid = 0;
      return 0;
    }
    const std::string marker = "listening on port ";
    std::string line;
    char ch = 0;
    for (;;) {
      pollfd p{out, POLLIN, 0};
      if (poll(&p, 1, 60000) <= 0 || read(out, &ch, 1) != 1) return 0;
      if (ch != '\n') {
        line += ch;
        continue;
      }
      size_t at = line.find(marker);
      if (at != std::string::npos) return uint16_t(std::atoi(line.c_str() + at + marker.size()));
      line.clear();
    }
  }
};

// A blocking loopback connection that sends each request in one piece.
class Tool {
 public:
  ~Tool() {
    if (m_fd >= 0) close(m_fd);
  }
  bool Connect(uint16_t port) {
    m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (m_fd < 0 || connect(m_fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) return false;
    int one = 1;
    setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    timeval tv{30, 0};
    setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    std::vector<uint8_t> ack(kAckSize);
    return Receive(ack.data(), ack.size()) && IsAck(ack.data(), ack.size());
  }
  // The response block of a request answered with success.
  bool Exchange(const std::vector<uint8_t>& request, uint16_t code, std::vector<uint8_t>* response) {
    if (send(m_fd, request.data(), request.size(), MSG_NOSIGNAL) != ssize_t(request.size())) return false;
    std::vector<uint8_t> reply(ReplySize(code));
    if (!Receive(reply.data(), reply.size()) || reply[0] != 1) return false;
    response->assign(reply.begin() + 1, reply.end());
    ++requests;
    return true;
  }
  size_t requests = 0;

 private:
  bool Receive(uint8_t* p, size_t size) {
    for (size_t done = 0; done < size;) {
      ssize_t n = recv(m_fd, p + done, size - done, 0);
      if (n <= 0) return false;
      done += size_t(n);
    }
    return true;
  }
  int m_fd = -1;
};

bool ListAll(Tool& tool, std::vector<ListEntry>* items) {
  items->clear();
  uint32_t next = 0;
  for (;;) {
    std::vector<uint8_t> r;
    ListPage page;
    if (!tool.Exchange(EncodeGetList(uint16_t(next)), kCodeGetList, &r) ||
        !DecodeGetList(r.data(), r.size(), &page))
      return false;
    for (ListEntry& e : page.entries) {
      next = uint32_t(e.id) + 1;
      items->push_back(std::move(e));
    }
    if (!page.more || page.entries.empty()) return true;
  }
}

// Reads every reference, as many per request as a request holds; an answer cut
// short for want of room is asked again from where it stopped, an element the
// server cannot answer is skipped. The number of texts answered.
size_t ReadValues(Tool& tool, const std::vector<ParmRef>& refs) {
  size_t answered = 0;
  size_t at = 0;
  while (at < refs.size()) {
    size_t n = std::min(kRefsPerRequest, refs.size() - at);
    std::vector<uint8_t> payload(2 + 4 * n);
    PutU16(payload.data(), uint16_t(n));
    for (size_t i = 0; i < n; ++i) {
      PutU16(payload.data() + 2 + 4 * i, refs[at + i].id);
      PutU16(payload.data() + 4 + 4 * i, refs[at + i].index);
    }
    std::vector<uint8_t> r;
    ParmsAnswer a;
    if (!tool.Exchange(EncodeRequest(kCodeGetParms, payload.data(), uint32_t(payload.size())), kCodeGetParms,
                       &r) ||
        !DecodeGetParms(r.data(), r.size(), &a))
      return answered;
    size_t used = 3;
    for (const ParmValue& v : a.values) used += 4 + v.text.size() + 1;
    answered += a.values.size();
    at += a.values.size();
    if (a.values.size() < n && (a.values.empty() || kResponseSize - used >= 4 + kMaxValueText + 1)) ++at;
  }
  return answered;
}

struct Figure {
  double medianMs = 0;
  double minMs = 0;
  size_t runs = 0;
};

// Runs `once` for at least `seconds` (and 5 times), at most 10000 times.
Figure Time(double seconds, const std::function<bool()>& once) {
  std::vector<double> ms;
  auto start = Clock::now();
  while (ms.size() < 10000) {
    auto t0 = Clock::now();
    if (!once()) return {};
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    if (ms.size() >= 5 && std::chrono::duration<double>(Clock::now() - start).count() >= seconds) break;
  }
  std::sort(ms.begin(), ms.end());
  return {ms[ms.size() / 2], ms.front(), ms.size()};
}

void Print(const char* what, const Figure& f, size_t requests) {
  if (f.runs == 0) {
    std::printf("%-40s failed\n", what);
    return;
  }
  std::printf("%-40s median %9.3f ms  min %9.3f ms  (%zu runs, %zu requests each)\n", what, f.medianMs, f.minMs,
              f.runs, requests);
}

}  // namespace

int main(int argc, char** argv) {
  std::string self = argv[0];
  std::string tunserve = self.substr(0, self.rfind('/') + 1) + "tunserve";
  unsigned port = 0;
  double seconds = 2;
  const char usage[] = "usage: tunbench [--tunserve PATH] [--port PORT] [--seconds S]\n";
  for (int i = 1; i < argc; ++i) {
    std::string opt = argv[i];
    if (BenchAsksHelp(argv[i])) return BenchHelp(usage);
    if (opt != "--tunserve" && opt != "--port" && opt != "--seconds")
      return BenchUsage("tunbench", "unknown option " + opt, usage);
    if (i + 1 >= argc) return BenchUsage("tunbench", opt + " needs a value", usage);
    if (opt == "--tunserve") {
      tunserve = argv[++i];
    } else if (opt == "--port") {
      port = unsigned(std::atoi(argv[++i]));
    } else {
      seconds = std::atof(argv[++i]);
    }
  }

  Server server;
  uint16_t bound = server.Start(tunserve, port);
  if (bound == 0) {
    std::fprintf(stderr, "tunbench: %s does not start\n", tunserve.c_str());
    return 1;
  }
  Tool tool;
  if (!tool.Connect(bound)) {
    std::fprintf(stderr, "tunbench: no connection to port %u\n", bound);
    return 1;
  }
  std::vector<ListEntry> items;
  if (!ListAll(tool, &items)) {
    std::fprintf(stderr, "tunbench: the list fails\n");
    return 1;
  }
  std::vector<ParmRef> all;
  for (const ListEntry& e : items)
    for (uint32_t k = 0; k < e.count; ++k) all.push_back({e.id, uint16_t(k)});
  std::vector<ParmRef> first(all.begin(), all.begin() + ptrdiff_t(std::min(kRefsPerRequest, all.size())));
  std::printf("tunbench: tunserve on port %u: %zu items, %zu elements\n", bound, items.size(), all.size());

  std::vector<uint8_t> version = EncodeMiscCommand(kMiscVersion);
  std::vector<uint8_t> r;
  size_t before = tool.requests;
  Figure small = Time(seconds, [&] { return tool.Exchange(version, kCodeMiscCommand, &r); });
  Print("one small request (version)", small, small.runs ? (tool.requests - before) / small.runs : 0);

  size_t answered = 0;
  before = tool.requests;
  Figure some = Time(seconds, [&] {
    answered = ReadValues(tool, first);
    return answered > 0;
  });
  char what[64];
  std::snprintf(what, sizeof what, "%zu values (%zu answered)", first.size(), answered);
  Print(what, some, some.runs ? (tool.requests - before) / some.runs : 0);

  before = tool.requests;
  Figure whole = Time(seconds, [&] {
    std::vector<ListEntry> listed;
    return ListAll(tool, &listed) && ReadValues(tool, all) > 0;
  });
  Print("whole table (list, every element)", whole, whole.runs ? (tool.requests - before) / whole.runs : 0);
  return small.runs && some.runs && whole.runs ? 0 : 1;
}
