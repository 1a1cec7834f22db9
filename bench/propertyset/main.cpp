// propertyset: a client's proc-amp set (brightness) against the preview stream,
// through the device manager and the driver, on the board (a program, not a test).
//
// Three figures, each against its aim:
//   idle set      the wall time of one set with no stream (for comparison);
//   streaming set the wall time of one set while preview streams: median <= 2 ms;
//   kept frames   preview frames delivered over a window while another thread
//                 sets brightness back to back, against the frames of the same
//                 window length without the setter: >= 95 %.
// Wall times are the client's, as an application would see them. Exit code 0
// whether or not the aims are met; 1 when the camera could not be driven.
//
//   propertyset [--sets N] [--window-ms MS] [--speed-up F]
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "benchargs.h"
#include "benchdriver.h"
#include "camclient.h"
#include "csprotocol.h"
#include "devmgr.h"
#include "wince_sim.h"

namespace {

using camclient::BufferMemory;
using camclient::Pin;
using Clock = std::chrono::steady_clock;

constexpr DWORD kWait = 20000;       // generous: the machine is shared
constexpr uint32_t kBrightness = 0;  // proc-amp property id

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct Spread {
  double median = 0, p90 = 0, max = 0;
};
Spread SpreadOf(std::vector<double> v) {
  Spread s;
  if (v.empty()) return s;
  std::sort(v.begin(), v.end());
  s.median = v[v.size() / 2];
  s.p90 = v[std::min(v.size() - 1, v.size() * 9 / 10)];
  s.max = v.back();
  return s;
}

// `n` sets alternating between two values; each one's wall time in ms.
bool TimeSets(const camclient::Camera& camera, uint32_t n, std::vector<double>* out) {
  for (uint32_t i = 0; i < n; ++i) {
    const auto t0 = Clock::now();
    DWORD r = camera.SetValue(PROPSETID_VIDCAP_VIDEOPROCAMP, kBrightness, (i & 1) ? 1000 : -1000);
    out->push_back(Ms(Clock::now() - t0));
    if (r != ERROR_SUCCESS) {
      fprintf(stderr, "propertyset: set %u failed (%lu)\n", i, static_cast<unsigned long>(r));
      return false;
    }
  }
  return true;
}

// Delivers preview frames on its own thread and gives each back at once.
class Reader {
 public:
  explicit Reader(Pin& pin) : pin_(pin), thread_([this] { Run(); }) {}
  ~Reader() {
    quit_ = true;
    thread_.join();
  }
  uint32_t Frames() const { return frames_.load(); }
  bool Failed() const { return failed_.load(); }

 private:
  void Run() {
    while (!quit_) {
      CS_STREAM_DESCRIPTOR* d = nullptr;
      DWORD r = pin_.NextBuffer(&d, 200);
      if (r == ERROR_TIMEOUT) continue;
      if (r != ERROR_SUCCESS || pin_.Enqueue(d) != ERROR_SUCCESS) {
        failed_ = true;
        return;
      }
      ++frames_;
    }
  }
  Pin& pin_;
  std::atomic<bool> quit_{false}, failed_{false};
  std::atomic<uint32_t> frames_{0};
  std::thread thread_;
};

// Frames delivered over `windowMs` of wall time.
uint32_t FramesOver(const Reader& reader, int windowMs) {
  const uint32_t before = reader.Frames();
  std::this_thread::sleep_for(std::chrono::milliseconds(windowMs));
  return reader.Frames() - before;
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t sets = 200;
  int windowMs = 4000;
  double speedUp = 1;
  const char usage[] = "usage: propertyset [--sets N] [--window-ms MS] [--speed-up F>=1]\n";
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool more = i + 1 < argc;
    if (BenchAsksHelp(argv[i])) {
      return BenchHelp(usage);
    } else if (a == "--sets") {
      if (!more || atoi(argv[i + 1]) <= 0) return BenchUsage("propertyset", "--sets needs N > 0", usage);
      sets = uint32_t(atoi(argv[++i]));
    } else if (a == "--window-ms") {
      if (!more || atoi(argv[i + 1]) <= 0) return BenchUsage("propertyset", "--window-ms needs MS > 0", usage);
      windowMs = atoi(argv[++i]);
    } else if (a == "--speed-up") {
      if (!more || !(atof(argv[i + 1]) >= 1)) return BenchUsage("propertyset", "--speed-up needs F >= 1", usage);
      speedUp = atof(argv[++i]);
    } else {
      return BenchUsage("propertyset", "unknown option " + a, usage);
    }
  }
  CeSimDebugSetQuiet(getenv("PROPERTYSET_VERBOSE") ? FALSE : TRUE);
  BenchResetBoard(speedUp);
  if (!BenchLoadDriver("propertyset")) return 1;
  camclient::Camera camera;
  if (camera.Open() != ERROR_SUCCESS) {
    fprintf(stderr, "propertyset: the camera did not open\n");
    return 1;
  }
  std::vector<double> idle, streaming;
  bool ok = TimeSets(camera, std::min<uint32_t>(sets, 50), &idle);

  Pin pin;
  std::vector<CS_DATARANGE_VIDEO> ranges;
  const CS_DATARANGE_VIDEO* range = nullptr;
  if (ok) ok = pin.Open() == ERROR_SUCCESS && pin.Instantiate(CS_PIN_PREVIEW) == ERROR_SUCCESS &&
               camera.PinDataRanges(CS_PIN_PREVIEW, &ranges) == ERROR_SUCCESS;
  if (ok) ok = (range = camclient::FindRange(ranges, 320, 240, 0)) != nullptr || (range = &ranges.front()) != nullptr;
  if (ok) ok = pin.SetFormat(camclient::FormatOfRange(*range)) == ERROR_SUCCESS &&
               pin.SetState(CSSTATE_PAUSE) == ERROR_SUCCESS && pin.AllocateBuffers(BufferMemory::Contiguous) == ERROR_SUCCESS &&
               pin.SetState(CSSTATE_RUN) == ERROR_SUCCESS && pin.EnqueueAll() == ERROR_SUCCESS;
  uint32_t alone = 0, withSetter = 0, setterSets = 0;
  if (ok) {
    Reader reader(pin);
    // Warm: the stream and the exposure loop settle.
    const auto warmEnd = Clock::now() + std::chrono::seconds(kWait / 1000);
    while (reader.Frames() < 30 && !reader.Failed() && Clock::now() < warmEnd)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ok = reader.Frames() >= 30;
    if (ok) ok = TimeSets(camera, sets, &streaming);
    if (ok) alone = FramesOver(reader, windowMs);
    if (ok) {
      std::atomic<bool> stop{false};
      std::thread setter([&] {
        for (int32_t i = 0; !stop; ++i) {
          camera.SetValue(PROPSETID_VIDCAP_VIDEOPROCAMP, kBrightness, (i & 1) ? 1000 : -1000);
          ++setterSets;
        }
      });
      withSetter = FramesOver(reader, windowMs);
      stop = true;
      setter.join();
    }
    ok = ok && !reader.Failed();
  }
  pin.SetState(CSSTATE_STOP);
  pin.DeallocateBuffers();
  pin.Close();
  camera.SetValue(PROPSETID_VIDCAP_VIDEOPROCAMP, kBrightness, 0);
  camera.Close();
  DevMgrDeactivateAll();
  if (!ok) {
    fprintf(stderr, "propertyset: the preview could not be driven\n");
    return 1;
  }
  const Spread i = SpreadOf(idle), s = SpreadOf(streaming);
  const double kept = alone ? 100.0 * withSetter / alone : 0;
  printf("propertyset: brightness sets through CAM1:, preview %ldx%ld, board speed-up %.1f\n",
         long(range->VideoInfoHeader.bmiHeader.biWidth), long(std::labs(range->VideoInfoHeader.bmiHeader.biHeight)),
         speedUp);
  printf("  idle set       median %7.3f ms  p90 %7.3f ms  max %7.3f ms  (%zu sets)\n", i.median, i.p90, i.max,
         idle.size());
  printf("  streaming set  median %7.3f ms  p90 %7.3f ms  max %7.3f ms  (%zu sets)  aim: median <= 2 ms  %s\n",
         s.median, s.p90, s.max, streaming.size(), s.median <= 2.0 ? "met" : "NOT MET");
  printf("  preview over %d ms: %u frames alone, %u with a back-to-back setter (%u sets): %.1f %% kept  "
         "aim: >= 95 %%  %s\n",
         windowMs, alone, withSetter, setterSets, kept, kept >= 95.0 ? "met" : "NOT MET");
  return 0;
}
