// vfebench: how much CPU the VFE driver itself spends per frame, against the
// time of one memcpy of a frame.
//
// The bench plays the hardware on a passive register window (the VFE model is
// never attached): per frame it sets the status of a start of frame and a frame
// done on both output paths, flips the ping-pong bits and calls the driver's
// interrupt routine on its own thread; then it plays the VFE service: reads the
// messages and hands each delivered buffer back. Everything timed is the
// driver's work (routine, message reads, buffer returns) plus the bench's
// register pokes, measured as this thread's CPU time.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "benchargs.h"
#include "board_sim.h"
#include "chipset.h"
#include "chipset_sim.h"
#include "ienv.h"
#include "orbhost_test.h"
#include "plindor.h"
#include "vfedriver.h"
#include "vfedriverobject.h"

namespace {

double ThreadCpuNs() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
}

volatile uint8_t* g_regs;
void Poke(uint32_t offset, uint32_t value) { chip_reg_write32(g_regs + offset, value); }

// Runs an acknowledged command on a helper thread and acknowledges it with
// `bit` once the driver waits.
PvlResult Acknowledged(ICameraDriver* d, uint32_t command, void* payload, uint32_t size, uint32_t bit) {
  std::atomic<PvlResult> result{-1};
  std::thread t([&] { result = d->Command(command, payload, size, nullptr, 0, nullptr); });
  while (!VfeDriverStateForTest().ackWaiting && result.load() == -1) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  Poke(0x020, 1u << bit);
  VfeInterruptRoutine(0);
  Poke(0x020, 0);
  t.join();
  return result.load();
}

}  // namespace

const char kUsage[] = "usage: vfebench [FRAMES]   (default 200000)\n";

int main(int argc, char** argv) {
  if (argc > 1 && BenchAsksHelp(argv[1])) return BenchHelp(kUsage);
  if (argc > 2) return BenchUsage("vfebench", std::string("unexpected argument ") + argv[2], kUsage);
  int frames = 200000;
  if (argc > 1) {
    char* end = nullptr;
    const long n = strtol(argv[1], &end, 10);
    if (argv[1][0] == '-') return BenchUsage("vfebench", std::string("unknown option ") + argv[1], kUsage);
    if (*end || end == argv[1] || n < 1 || n > 100000000)
      return BenchUsage("vfebench", std::string("not a frame count: ") + argv[1], kUsage);
    frames = int(n);
  }
  // The register window without the VFE model: plain memory the bench drives.
  ChipSimSetWindowHooks(kVfeRegistersPhys, nullptr, nullptr);
  IEnv* env = nullptr;
  if (env_env_CreateInstance(ZUEUID_CLASS_ENV, reinterpret_cast<void**>(&env)) != PVL_OK) return 1;
  void* out = nullptr;
  if (VfeDriver_CreateInstance(env, ZUEUID_CLASS_VFE_DRIVER, nullptr, &out) != PVL_OK) {
    fprintf(stderr, "vfebench: no VFE driver\n");
    return 1;
  }
  ICameraDriver* d = static_cast<ICameraDriver*>(out);
  g_regs = static_cast<volatile uint8_t*>(vfe_get_virtual_address());

  if (Acknowledged(d, VFE_CMD_RESET, nullptr, 0, 9) != PVL_OK) return 1;
  VfeOutputCmd o{};
  o.outputMode = 2;  // both paths
  o.output1 = VfeOutputPathRecord{1, 0, 320, 240, 240, 320, 320, 120, 120, 320};
  o.output2 = VfeOutputPathRecord{1, 0, 1296, 972, 972, 1296, 1296, 486, 486, 1296};
  d->Command(VFE_CMD_OUTPUT, &o, sizeof o, nullptr, 0, nullptr);
  // Four buffers per path (addresses only: nothing is written on a passive window).
  for (uint32_t path = 0; path < 2; ++path) {
    std::vector<VfeBufferEntry> entries(4);
    for (uint32_t i = 0; i < 4; ++i) {
      entries[i].luma[0] = 0x10000000 + (path * 16 + i) * 0x200000;
      entries[i].chroma[0] = entries[i].luma[0] + 0x140000;
    }
    VfeAckOutputCmd a{uint8_t(entries.size()), {}, entries.data()};
    d->Command(path ? VFE_CMD_ACK_OUTPUT : VFE_CMD_ACK_OUTPUT_MODE1, &a, sizeof a, nullptr, 0, nullptr);
  }
  VfeOperationMode start{};
  start.pixelOrder = 1;
  if (Acknowledged(d, VFE_CMD_START, &start, sizeof start, 8) != PVL_OK) {
    fprintf(stderr, "vfebench: START failed\n");
    return 1;
  }

  uint32_t delivered = 0;
  double t0 = ThreadCpuNs();
  for (int f = 0; f < frames; ++f) {
    // Hardware: start of frame and both frame dones; the ping-pong bits say which
    // side was just completed.
    Poke(0x0C4, (f & 1) ? 0 : (1u << 5) | (1u << 7));
    Poke(0x020, (1u << 1) | (1u << 18) | (1u << 19));
    VfeInterruptRoutine(0);
    Poke(0x020, 0);
    // Service: read ring 1, give each buffer back.
    VfeMessage m;
    while (d->Command(VFE_CMD_READ_MESSAGE, &m, sizeof m, nullptr, 0, nullptr) == PVL_OK) {
      if (m.id != MSG_VFE_OUTPUT1 && m.id != MSG_VFE_OUTPUT2) continue;
      ++delivered;
      VfeBufferEntry e{};
      e.luma[0] = m.payload.frame.luma;
      e.chroma[0] = m.payload.frame.chroma;
      VfeAckOutputCmd a{1, {}, &e};
      d->Command(m.id == MSG_VFE_OUTPUT1 ? VFE_CMD_ACK_OUTPUT_MODE1 : VFE_CMD_ACK_OUTPUT, &a, sizeof a, nullptr, 0,
                 nullptr);
    }
  }
  double driverNs = (ThreadCpuNs() - t0) / frames;

  // One memcpy of a preview frame (1296 x 972 NV21), warm.
  const size_t frameBytes = 1296 * 972 * 3 / 2;
  std::vector<uint8_t> src(frameBytes, 0x5A), dst(frameBytes);
  memcpy(dst.data(), src.data(), frameBytes);
  const int copies = 200;
  double c0 = ThreadCpuNs();
  for (int i = 0; i < copies; ++i) {
    src[i] = uint8_t(i);
    memcpy(dst.data(), src.data(), frameBytes);
  }
  double copyNs = (ThreadCpuNs() - c0) / copies;

  VfeOutputQuery q{};
  d->Command(VFE_CMD_QUERY_OUTPUT, &q, sizeof q, nullptr, 0, nullptr);
  printf("frames: %d (both paths; %u buffers delivered and returned; dropped %u/%u)\n", frames, delivered,
         q.output1Dropped, q.output2Dropped);
  printf("driver per frame: %.2f us (interrupt routine, message reads, buffer returns)\n", driverNs / 1000);
  printf("memcpy of one 1296x972 NV21 frame: %.2f us\n", copyNs / 1000);
  printf("driver share: %.1f %% of one frame copy (goal: below 100 %%)\n", 100.0 * driverNs / copyNs);

  Poke(0x10C, 0x20);  // the stop status, so that STOP does not poll
  Acknowledged(d, VFE_CMD_STOP, nullptr, 0, 9);
  d->Stop();
  d->Release();
  env->Release();
  return driverNs < copyNs ? 0 : 2;
}
