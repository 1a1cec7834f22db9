// driverframe: what the camera stack costs in CPU per preview frame delivered
// through the driver to a capture client, without the board's models (a program,
// not a test).
//
// The whole road as an application uses it: the device manager loads the driver,
// a client opens CAM1: and PIN1:, and the real engine streams the sensor's chart
// through the VFE into the client's buffers. Two ways of delivering a frame:
//   zero-copy  the client's buffers are physically contiguous: they are the frame
//              buffers the VFE writes, the pin only tells the client (for its YV12
//              format it rearranges the chroma rows in place);
//   copy       plain heap buffers: the pool owns its memory and the pin's capture
//              thread converts each frame into the client's buffer (YV12).
// Beside them: one memcpy of the frame, the least any copy path can cost.
//
// Method: every thread's CPU time (/proc/self/task/<tid>/schedstat, nanoseconds)
// over a window of frames. The board's model threads (the sensor, which also
// raises the VFE's frame events, the VFE engine and its stripe workers) are known
// by their names ("board ...") and by ids read in callbacks the board runs on
// them, and left out; so is the client's own
// thread, except for the time it spends inside its calls into the driver
// (enqueue, reading the buffer message), read on its CPU clock around each call.
// Everything else is the stack: the pin's capture thread, the VFE service's
// receive thread, the platform library's VFE interrupt thread, the engine and
// host threads, the driver's notification threads. Model code that runs inside a
// register access on a stack thread is counted with that thread (small: the
// register file's bookkeeping). The copy mode's extra work is also read on the
// capture thread alone, the one thread whose work differs between the modes; and
// the log lines that reach the diagnostic channel per frame are counted.
//
//   driverframe [--size WxH] [--frames N] [--speed-up F]
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "board_sensor.h"
#include "board_sim.h"
#include "benchargs.h"
#include "benchdriver.h"
#include "board_vfe.h"
#include "camclient.h"
#include "chipset_sim.h"
#include "devmgr.h"
#include "wince_sim.h"

namespace {

using camclient::BufferMemory;
using camclient::Pin;

constexpr DWORD kWait = 20000;  // generous: the machine is shared

double ThreadCpuNs() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
}

pid_t Tid() { return pid_t(syscall(SYS_gettid)); }

std::string ReadLine(const std::string& path) {
  FILE* f = fopen(path.c_str(), "r");
  if (!f) return "";
  char buf[256] = {};
  if (!fgets(buf, sizeof buf, f)) buf[0] = 0;
  fclose(f);
  std::string s = buf;
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

struct ThreadCpu {
  std::string name;
  double ns = 0;
};

// Every thread of the process with its CPU time so far.
std::map<pid_t, ThreadCpu> Threads() {
  std::map<pid_t, ThreadCpu> out;
  DIR* d = opendir("/proc/self/task");
  if (!d) return out;
  while (dirent* e = readdir(d)) {
    const pid_t tid = pid_t(atoi(e->d_name));
    if (tid <= 0) continue;
    const std::string base = std::string("/proc/self/task/") + e->d_name;
    const std::string stat = ReadLine(base + "/schedstat");
    if (stat.empty()) continue;
    out[tid] = ThreadCpu{ReadLine(base + "/comm"), strtod(stat.c_str(), nullptr)};
  }
  closedir(d);
  return out;
}

// The board's model threads, as they show themselves in the board's callbacks.
struct BoardThreads {
  std::mutex lock;
  std::set<pid_t> ids;
  void Note() {
    std::lock_guard<std::mutex> hold(lock);
    ids.insert(Tid());
  }
  bool Has(pid_t tid) {
    std::lock_guard<std::mutex> hold(lock);
    return ids.count(tid) != 0;
  }
  size_t Count() {
    std::lock_guard<std::mutex> hold(lock);
    return ids.size();
  }
};
BoardThreads g_board;

// Lines the stack logs reach the chipset's diagnostic channel: counted, as one of
// the receive thread's costs.
std::atomic<uint64_t> g_logLines{0};
void OnChipCall(void*, const ChipSimCall& call) {
  if (call.name == "msg_send_1") g_logLines.fetch_add(1, std::memory_order_relaxed);
}

void OnSensorFrame(void*, const BoardFrameEvent&) { g_board.Note(); }

struct Figures {
  double stackNs = 0;    // the stack's threads, per frame
  double clientNs = 0;   // the client's enqueue and message reads, per frame
  double boardNs = 0;    // the board's models, per frame (not counted)
  double frameBytes = 0;
  uint32_t frames = 0;
  int64_t drops = 0;
  double captureNs = 0;   // the pin's capture thread, per frame
  double logLines = 0;    // lines that reached the diagnostic channel, per frame
  std::vector<std::pair<std::string, double>> perThread;  // stack threads, per frame
};

// When each thread came: with the driver, with the camera's opening (the host, the
// engine, the VFE service and interrupt threads) or with the stream (the pin's
// capture thread).
std::map<pid_t, const char*> g_origin;
std::string g_processName;
void NoteThreads(const char* origin) {
  for (const auto& [tid, cpu] : Threads()) g_origin.emplace(tid, origin);
}

// Streams `warm` frames, then measures `frames` more; the client gives each buffer
// back at once, as a preview client that draws from it would after drawing.
bool Measure(const camclient::Camera& camera, BufferMemory memory, uint32_t w, uint32_t h, uint32_t frames,
             Figures* f) {
  Pin pin;
  if (pin.Open() != ERROR_SUCCESS || pin.Instantiate(CS_PIN_PREVIEW) != ERROR_SUCCESS) return false;
  std::vector<CS_DATARANGE_VIDEO> ranges;
  if (camera.PinDataRanges(CS_PIN_PREVIEW, &ranges) != ERROR_SUCCESS) return false;
  const CS_DATARANGE_VIDEO* range = camclient::FindRange(ranges, w, h, 0);
  if (!range) {
    fprintf(stderr, "driverframe: the preview pin offers no %ux%u\n", w, h);
    return false;
  }
  if (pin.SetFormat(camclient::FormatOfRange(*range)) != ERROR_SUCCESS || pin.SetState(CSSTATE_PAUSE) != ERROR_SUCCESS ||
      pin.AllocateBuffers(memory) != ERROR_SUCCESS || pin.SetState(CSSTATE_RUN) != ERROR_SUCCESS ||
      pin.EnqueueAll() != ERROR_SUCCESS) {
    fprintf(stderr, "driverframe: the preview did not start\n");
    return false;
  }
  double clientNs = 0;
  int64_t firstDrops = 0, lastDrops = 0;
  std::map<pid_t, ThreadCpu> start;
  const uint32_t warm = 30;
  for (uint32_t i = 0; i < warm + frames; ++i) {
    if (i == warm) {
      start = Threads();
      clientNs = 0;
      g_logLines = 0;
    }
    CS_STREAM_DESCRIPTOR* d = nullptr;
    double t0 = ThreadCpuNs();
    DWORD r = pin.NextBuffer(&d, kWait);
    clientNs += ThreadCpuNs() - t0;
    if (r != ERROR_SUCCESS) {
      fprintf(stderr, "driverframe: no frame %u (%lu)\n", i, static_cast<unsigned long>(r));
      return false;
    }
    if (i == warm) firstDrops = d->CsFrameInfo.DropCount;
    lastDrops = d->CsFrameInfo.DropCount;
    f->frameBytes = d->CsStreamHeader.DataUsed;
    t0 = ThreadCpuNs();
    r = pin.Enqueue(d);
    clientNs += ThreadCpuNs() - t0;
    if (r != ERROR_SUCCESS) return false;
  }
  const auto end = Threads();
  f->logLines = double(g_logLines.load()) / frames;
  pin.SetState(CSSTATE_STOP);
  pin.DeallocateBuffers();

  const pid_t self = Tid();
  double stack = 0, board = 0;
  for (const auto& [tid, now] : end) {
    auto was = start.find(tid);
    const double spent = now.ns - (was == start.end() ? 0.0 : was->second.ns);
    if (tid == self) continue;
    if (g_board.Has(tid) || now.name.rfind("board ", 0) == 0) {
      board += spent;
      continue;
    }
    stack += spent;
    auto origin = g_origin.find(tid);
    // Of the threads the stream starts, the pin's capture thread is the one without a
    // name of its own (the host names its threads, such as the engine's watchdog).
    if (origin == g_origin.end() && now.name == g_processName) f->captureNs += spent / frames;
    const std::string label = "\"" + now.name + "\" " + std::to_string(tid) + ", started with " +
                              (origin == g_origin.end() ? (now.name == g_processName ? "the stream (the pin's capture thread)" : "the stream")
                                                         : origin->second);
    f->perThread.emplace_back(label, spent / frames);
  }
  std::sort(f->perThread.begin(), f->perThread.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
  f->frames = frames;
  f->stackNs = stack / frames;
  f->clientNs = clientNs / frames;
  f->boardNs = board / frames;
  f->drops = lastDrops - firstDrops;
  return true;
}

// One memcpy of a frame, best of many batches on this thread's CPU clock; each
// copy takes the next of four frames into the next of four buffers, as frames
// turn over in the pool and the client's buffers.
double MemcpyNs(size_t bytes) {
  std::vector<std::vector<uint8_t>> from(4, std::vector<uint8_t>(bytes, 1)), to(4, std::vector<uint8_t>(bytes, 2));
  double best = 1e300;
  for (int batch = 0; batch < 15; ++batch) {
    const int reps = 40;
    const double t0 = ThreadCpuNs();
    for (int i = 0; i < reps; ++i) {
      memcpy(to[i % 4].data(), from[i % 4].data(), bytes);
      asm volatile("" : : "r"(to[i % 4].data()) : "memory");
    }
    best = std::min(best, (ThreadCpuNs() - t0) / reps);
  }
  return best;
}

void Print(const char* mode, const Figures& f, double memcpyNs) {
  printf("  %-9s stack %7.1f us/frame = %5.1f x memcpy (the client's enqueue and message reads %.1f us of it); "
         "board models %.0f us/frame, not counted; %u frames, %lld dropped\n",
         mode, (f.stackNs + f.clientNs) / 1e3, (f.stackNs + f.clientNs) / memcpyNs, f.clientNs / 1e3, f.boardNs / 1e3,
         f.frames, static_cast<long long>(f.drops));
  for (const auto& [label, ns] : f.perThread)
    if (ns >= 20) printf("            %8.1f us  %s\n", ns / 1e3, label.c_str());
  printf("            %8.1f log lines a frame reach the diagnostic channel\n", f.logLines);
}

}  // namespace

const char kUsage[] = "usage: driverframe [--size WxH] [--frames N] [--speed-up F>=1]\n";

int main(int argc, char** argv) {
  uint32_t w = 640, h = 480, frames = 300;
  double speedUp = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool more = i + 1 < argc;
    if (BenchAsksHelp(argv[i])) {
      return BenchHelp(kUsage);
    } else if (a == "--size") {
      if (!more || sscanf(argv[i + 1], "%ux%u", &w, &h) != 2)
        return BenchUsage("driverframe", "--size needs WxH", kUsage);
      ++i;
    } else if (a == "--frames") {
      if (!more || atoi(argv[i + 1]) <= 0) return BenchUsage("driverframe", "--frames needs N > 0", kUsage);
      frames = uint32_t(atoi(argv[++i]));
    } else if (a == "--speed-up") {
      if (!more || !(atof(argv[i + 1]) >= 1)) return BenchUsage("driverframe", "--speed-up needs F >= 1", kUsage);
      speedUp = atof(argv[++i]);
    } else {
      return BenchUsage("driverframe", "unknown option " + a, kUsage);
    }
  }
  CeSimDebugSetQuiet(getenv("DRIVERFRAME_VERBOSE") ? FALSE : TRUE);
  BenchResetBoard(speedUp);
  const int listener = BoardSensorAddFrameListener(&OnSensorFrame, nullptr);
  const int chipListener = ChipSimAddCallListener(&OnChipCall, nullptr);
  BoardVfeSetTap([](const BoardVfeTappedFrame&) { g_board.Note(); });
  NoteThreads("the process");
  g_processName = ReadLine("/proc/self/comm");
  if (!BenchLoadDriver("driverframe")) return 1;
  NoteThreads("the driver");
  camclient::Camera camera;
  if (camera.Open() != ERROR_SUCCESS) {
    fprintf(stderr, "driverframe: the camera did not open\n");
    return 1;
  }
  NoteThreads("the camera's opening");
  Figures zero, copy;
  bool ok = Measure(camera, BufferMemory::Contiguous, w, h, frames, &zero);
  // Both model threads have shown themselves by now: the tap's frame copies stop.
  BoardVfeSetTap(nullptr);
  ok = ok && g_board.Count() == 2 && Measure(camera, BufferMemory::Heap, w, h, frames, &copy);
  camera.Close();
  BoardSensorRemoveFrameListener(listener);
  ChipSimRemoveCallListener(chipListener);
  DevMgrDeactivateAll();
  if (!ok) {
    fprintf(stderr, "driverframe: the measurement did not complete (board threads seen: %zu)\n", g_board.Count());
    return 1;
  }
  const double memcpyNs = MemcpyNs(size_t(zero.frameBytes));
  printf("driverframe: %ux%u preview through the driver, board at speed-up %.0f; CPU of the stack's threads per "
         "frame delivered, board models excluded\n",
         w, h, speedUp);
  printf("  memcpy of one frame (%.0f bytes): %.1f us\n", zero.frameBytes, memcpyNs / 1e3);
  Print("zero-copy", zero, memcpyNs);
  Print("copy", copy, memcpyNs);
  const double extra = (copy.stackNs + copy.clientNs) - (zero.stackNs + zero.clientNs);
  printf("  the copy mode's extra work, the difference of the two totals: %.1f us/frame = %.1f x memcpy (within the "
         "noise of the other threads)\n",
         extra / 1e3, extra / memcpyNs);
  // The capture thread does the same per frame in both modes but for the frame's way
  // into the client's buffer: its own difference is the copy's cost.
  const double captureExtra = copy.captureNs - zero.captureNs;
  printf("  the copy mode's extra work on the capture thread's own CPU: %.1f us/frame (%.1f us against %.1f us) = %.2f "
         "x memcpy of the frame (yv12convert shows where the conversion's time goes)\n",
         captureExtra / 1e3, copy.captureNs / 1e3, zero.captureNs / 1e3, captureExtra / memcpyNs);
  printf("aim: zero-copy, the stack's CPU within 100 us/frame: %s\n",
         zero.stackNs + zero.clientNs <= 100e3 ? "met" : "MISSED");
  printf("aim: zero-copy moves no frame (the copy mode costs at least one memcpy more): %s\n",
         extra >= memcpyNs ? "met" : "MISSED");
  printf("aim: the copy mode's extra work on the capture thread within 1.5 x memcpy: %s\n",
         captureExtra <= 1.5 * memcpyNs ? "met" : "MISSED");
  return 0;
}
