// stilljpeg: shutter to JPEG through the driver, beside the JPEG encoder's own
// time for the same image (a program, not a test).
//
// A capture application's still: the still pin runs with its buffers queued, the
// client triggers (the video-control set's trigger on CAM1:) and waits until the
// JPEG is in the still pin's buffer. The board runs at real speed. The encoder's
// own time is the host's still encoder (main image, thumbnail in the EXIF block)
// on the very frames the VFE wrote for that still, at the same qualities, on one
// thread with nothing else to do. Aims: shutter to JPEG within +15 % of the
// sensor's own share (mode change, settling frame, read-out), and the stack's
// still path (image written to JPEG delivered) within +25 % of the encoder.
//
// Where the time goes is read from outside the stack: the sensor's frame events
// (its frame thread), the VFE model's counters of frames taken, dropped and
// written, and the CPU time of the JPEG service's worker thread ("JpegService"),
// both sampled every 0.2 ms. The frames for the encoder come from the VFE model's
// tap on one extra still (the tap's copies would slow the timed ones).
//
//   stilljpeg [--stills N] [--size WxH] [--speed-up F]
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "board_sensor.h"
#include "board_sim.h"
#include "benchargs.h"
#include "benchdriver.h"
#include "board_vfe.h"
#include "cameraportformat.h"
#include "camclient.h"
#include "devmgr.h"
#include "exifwriter.h"
#include "stillencoder.h"
#include "wince_sim.h"

namespace {

using camclient::BufferMemory;
using camclient::Pin;
using Clock = std::chrono::steady_clock;
using orbhost::services::ExifBuilder;
using orbhost::services::JpegStatus;
using orbhost::services::Nv21Frame;
using orbhost::services::StillEncoder;
using orbhost::services::StillRequest;

constexpr DWORD kWait = 30000;  // generous: the machine is shared

double Ms(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double, std::milli>(b - a).count(); }

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

// The JPEG service's worker: its thread id, once it exists.
int FindThread(const char* name) {
  DIR* d = opendir("/proc/self/task");
  if (!d) return 0;
  int found = 0;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    if (ReadLine(std::string("/proc/self/task/") + e->d_name + "/comm") == name) found = atoi(e->d_name);
  }
  closedir(d);
  return found;
}

double ThreadCpuNs(int tid) {
  const std::string s = ReadLine("/proc/self/task/" + std::to_string(tid) + "/schedstat");
  return s.empty() ? 0.0 : strtod(s.c_str(), nullptr);
}

// The sensor's frame events, with the real time of each (its frame thread).
struct SensorTrace {
  std::mutex lock;
  struct Event {
    Clock::time_point at;
    BoardFrameEventKind kind;
    uint32_t frame;
  };
  std::vector<Event> events;
};
SensorTrace g_sensor;

void OnSensorFrame(void*, const BoardFrameEvent& e) {
  std::lock_guard<std::mutex> hold(g_sensor.lock);
  g_sensor.events.push_back({Clock::now(), e.kind, e.frame});
}

// The frames the VFE model wrote for one still, kept for the encoder (its tap
// copies every frame on the model's thread, so it is set for that still only).
struct Capture {
  std::mutex lock;
  struct Frame {
    uint32_t width = 0, height = 0, sensorFrame = 0;
    std::vector<uint8_t> nv21;
  };
  Frame main, thumb;
};
Capture g_capture;

void OnVfeFrame(const BoardVfeTappedFrame& f) {
  if (f.raw) return;
  std::lock_guard<std::mutex> hold(g_capture.lock);
  Capture::Frame& c = f.path == kVfeOutput2 ? g_capture.main : g_capture.thumb;
  c.width = f.width;
  c.height = f.height;
  c.sensorFrame = f.sensorFrame;
  c.nv21 = f.y;
  c.nv21.insert(c.nv21.end(), f.cbcr.begin(), f.cbcr.end());
}

// Samples, every 0.2 ms until stopped, the VFE model's counters (frames it
// started, dropped and wrote on the main-image path) and the JPEG worker's CPU
// time: when each changed first.
class Watch {
 public:
  explicit Watch(int jpegTid) : m_tid(jpegTid) {
    m_cpuBase = ThreadCpuNs(m_tid);
    const BoardVfeCounters base = BoardVfeCounts();
    m_thread = std::thread([this, base] {
      double lastCpu = m_cpuBase;
      BoardVfeCounters last = base;
      while (!m_stop.load()) {
        const double cpu = ThreadCpuNs(m_tid);
        const BoardVfeCounters now = BoardVfeCounts();
        const Clock::time_point t = Clock::now();
        if (cpu > lastCpu + 20000) {  // more than 20 us since the last sample: it ran
          if (!m_jpegRan) m_jpegFirst = t;
          m_jpegLast = t;
          m_jpegRan = true;
          lastCpu = cpu;
        }
        if (now.framesStarted != last.framesStarted) {
          if (!m_vfeStarted) m_vfeFirstFrame = t;
          m_vfeStarted = true;
          if (now.framesDropped[kVfeOutput2] != last.framesDropped[kVfeOutput2]) {
            ++m_dropped;
          } else if (!m_kept) {
            m_kept = true;
            m_keptFrame = t;
          }
        }
        if (now.framesDone[kVfeOutput2] != last.framesDone[kVfeOutput2] && !m_written) {
          m_written = true;
          m_writtenAt = t;
        }
        last = now;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    });
  }
  ~Watch() { Stop(); }
  void Stop() {
    if (m_thread.joinable()) {
      m_stop = true;
      m_thread.join();
      m_cpu = ThreadCpuNs(m_tid) - m_cpuBase;
    }
  }

  int m_tid;
  double m_cpuBase = 0, m_cpu = 0;
  bool m_jpegRan = false, m_vfeStarted = false, m_kept = false, m_written = false;
  uint32_t m_dropped = 0;
  Clock::time_point m_jpegFirst{}, m_jpegLast{}, m_vfeFirstFrame{}, m_keptFrame{}, m_writtenAt{};

 private:
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

// One still's time line, in ms after the trigger.
struct Still {
  double total = 0;          // the JPEG in the client's buffer
  double triggerCall = 0;    // the trigger request returned
  double vfeFirstFrame = 0;  // the VFE took its first frame
  double stillStart = 0;     // the frame it keeps (after the settling frames) starts
  double stillEnd = 0;       // ... and is read out
  double written = 0;        // the VFE model wrote the main image
  double jpegFirst = 0, jpegLast = 0, jpegCpu = 0;  // the JPEG worker ran
  uint32_t dropped = 0;      // settling frames
  size_t jpegBytes = 0;
};

// A still; `counted` ones must show every step of their time line.
bool TakeStill(const camclient::Camera& camera, Pin& pin, int jpegTid, bool counted, Still* s) {
  {
    std::lock_guard<std::mutex> hold(g_sensor.lock);
    g_sensor.events.clear();
  }
  Watch watch(jpegTid);
  const Clock::time_point t0 = Clock::now();
  DWORD r = camera.Trigger(CS_PIN_STILL);
  const Clock::time_point t1 = Clock::now();
  CS_STREAM_DESCRIPTOR* d = nullptr;
  if (r == ERROR_SUCCESS) r = pin.NextBuffer(&d, kWait);
  const Clock::time_point t2 = Clock::now();
  watch.Stop();
  if (r != ERROR_SUCCESS) {
    fprintf(stderr, "stilljpeg: no still (%lu)\n", static_cast<unsigned long>(r));
    return false;
  }
  if (counted && (!watch.m_kept || !watch.m_written || !watch.m_jpegRan)) {
    fprintf(stderr, "stilljpeg: the still's frame, its writing or its encoding went unseen\n");
    return false;
  }
  s->total = Ms(t0, t2);
  s->triggerCall = Ms(t0, t1);
  s->vfeFirstFrame = Ms(t0, watch.m_vfeFirstFrame);
  s->stillStart = Ms(t0, watch.m_keptFrame);
  s->written = Ms(t0, watch.m_writtenAt);
  s->jpegFirst = Ms(t0, watch.m_jpegFirst);
  s->jpegLast = Ms(t0, watch.m_jpegLast);
  s->jpegCpu = watch.m_cpu / 1e6;
  s->dropped = watch.m_dropped;
  s->jpegBytes = d->CsStreamHeader.DataUsed;
  {
    // The kept frame's start as the sensor gave it (the counters are sampled), and its end.
    std::lock_guard<std::mutex> hold(g_sensor.lock);
    uint32_t frame = 0;
    for (const auto& e : g_sensor.events)
      if (e.kind == kBoardStartOfFrame && e.at <= watch.m_keptFrame) {
        frame = e.frame;
        s->stillStart = Ms(t0, e.at);
      }
    for (const auto& e : g_sensor.events)
      if (e.kind == kBoardEndOfFrame && e.frame == frame) s->stillEnd = Ms(t0, e.at);
  }
  return pin.Enqueue(d) == ERROR_SUCCESS;
}

// The encoder alone on the captured frames, as the JPEG service runs it (main
// image, thumbnail in the EXIF block): the median of `runs`, in ms. Each run
// takes the next of four copies of the frame, so that, as in the camera, the
// frame does not come from this core's cache.
double EncoderMs(int quality, int thumbQuality, int runs, size_t* bytes) {
  const Capture::Frame& main = g_capture.main;
  const Capture::Frame& thumb = g_capture.thumb;
  const std::vector<std::vector<uint8_t>> copies(4, main.nv21);
  StillEncoder encoder;
  StillRequest req;
  req.mainQuality = quality;
  const Nv21Frame thumbFrame = Nv21Frame::Packed(thumb.nv21.data(), thumb.width, thumb.height);
  if (!thumb.nv21.empty()) {
    req.thumbnail = &thumbFrame;
    req.thumbnailQuality = thumbQuality;
  }
  ExifBuilder exif;
  exif.SetAscii(0x010F, "Vantor");
  exif.SetAscii(0x0132, "2026:01:01 00:00:00");
  req.exif = &exif;
  std::vector<uint8_t> out;
  std::vector<std::string> notes;
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    req.main = Nv21Frame::Packed(copies[size_t(i) % copies.size()].data(), main.width, main.height);
    const Clock::time_point a = Clock::now();
    if (encoder.Encode(req, out, notes) != JpegStatus::kOk) return -1;
    times.push_back(Ms(a, Clock::now()));
  }
  *bytes = out.size();
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int stills = 5;
  uint32_t w = 0, h = 0;
  double speedUp = 1;
  const char usage[] = "usage: stilljpeg [--stills N] [--size WxH] [--speed-up F>=1]\n";
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool more = i + 1 < argc;
    if (BenchAsksHelp(argv[i])) {
      return BenchHelp(usage);
    } else if (a == "--stills") {
      if (!more || atoi(argv[i + 1]) <= 0) return BenchUsage("stilljpeg", "--stills needs N > 0", usage);
      stills = atoi(argv[++i]);
    } else if (a == "--size") {
      if (!more || sscanf(argv[i + 1], "%ux%u", &w, &h) != 2) return BenchUsage("stilljpeg", "--size needs WxH", usage);
      ++i;
    } else if (a == "--speed-up") {
      if (!more || !(atof(argv[i + 1]) >= 1)) return BenchUsage("stilljpeg", "--speed-up needs F >= 1", usage);
      speedUp = atof(argv[++i]);
    } else {
      return BenchUsage("stilljpeg", "unknown option " + a, usage);
    }
  }
  CeSimDebugSetQuiet(getenv("STILLJPEG_VERBOSE") ? FALSE : TRUE);
  BenchResetBoard(speedUp);
  const int listener = BoardSensorAddFrameListener(&OnSensorFrame, nullptr);
  if (!BenchLoadDriver("stilljpeg")) return 1;
  camclient::Camera camera;
  if (camera.Open() != ERROR_SUCCESS) {
    fprintf(stderr, "stilljpeg: the camera did not open\n");
    return 1;
  }
  Pin pin;
  std::vector<CS_DATARANGE_VIDEO> ranges;
  const CS_DATARANGE_VIDEO* range = nullptr;
  if (pin.Open() != ERROR_SUCCESS || pin.Instantiate(CS_PIN_STILL) != ERROR_SUCCESS ||
      camera.PinDataRanges(CS_PIN_STILL, &ranges) != ERROR_SUCCESS ||
      !(range = camclient::FindRange(ranges, w, h, CAMERA_FOURCC_IJPG, w == 0))) {
    fprintf(stderr, "stilljpeg: the still pin offers no such JPEG format\n");
    return 1;
  }
  if (pin.SetFormat(camclient::FormatOfRange(*range)) != ERROR_SUCCESS || pin.SetState(CSSTATE_PAUSE) != ERROR_SUCCESS ||
      pin.AllocateBuffers(BufferMemory::Driver) != ERROR_SUCCESS || pin.SetState(CSSTATE_RUN) != ERROR_SUCCESS ||
      pin.EnqueueAll() != ERROR_SUCCESS) {
    fprintf(stderr, "stilljpeg: the still pin did not start\n");
    return 1;
  }
  // The qualities the still is made with (main image, thumbnail): the pin's JPEG set.
  int qualities[2] = {75, 75};
  for (uint32_t id : {0u, 1u}) {
    CSPROPERTY_VIDEOPROCAMP_S record{};
    DWORD returned = 0;
    if (pin.Property(VANTOR_PROPSETID_JPEG, id, CSPROPERTY_TYPE_GET, &record, sizeof record, &returned) ==
            ERROR_SUCCESS &&
        record.Value > 0)
      qualities[id] = int(record.Value);
  }

  std::vector<Still> results;
  int jpegTid = 0;
  bool ok = true;
  // The first still wakes everything up (the worker thread, first-use allocations)
  // and the last one has the VFE's frames copied for the encoder: neither is counted.
  for (int i = 0; ok && i < stills + 2; ++i) {
    const bool capture = i == stills + 1;
    if (capture) BoardVfeSetTap(&OnVfeFrame);
    Still s;
    ok = TakeStill(camera, pin, jpegTid ? jpegTid : int(getpid()), i > 0 && !capture, &s);
    if (capture) BoardVfeSetTap(nullptr);
    if (ok && i > 0 && !capture) results.push_back(s);
    if (!jpegTid) jpegTid = FindThread("JpegService");
    ok = ok && jpegTid != 0;
  }
  pin.SetState(CSSTATE_STOP);
  pin.DeallocateBuffers();
  camera.Close();
  BoardSensorRemoveFrameListener(listener);
  DevMgrDeactivateAll();
  if (!ok || results.empty() || g_capture.main.nv21.empty()) {
    fprintf(stderr, "stilljpeg: the stills did not complete\n");
    return 1;
  }
  size_t encodedBytes = 0;
  const double encoder = EncoderMs(qualities[0], qualities[1], 7, &encodedBytes);
  if (encoder <= 0) {
    fprintf(stderr, "stilljpeg: the encoder refused the still's frames\n");
    return 1;
  }
  auto median = [&](double Still::*field) {
    std::vector<double> v;
    for (const Still& s : results) v.push_back(s.*field);
    return Median(v);
  };
  const Still& last = results.back();
  const double total = median(&Still::total), written = median(&Still::written);
  printf("stilljpeg: %ux%u JPEG stills (quality %d, thumbnail %ux%u at %d) through the driver, board at speed-up "
         "%.0f; medians of %zu stills, ms after the trigger\n",
         g_capture.main.width, g_capture.main.height, qualities[0], g_capture.thumb.width, g_capture.thumb.height,
         qualities[1], speedUp, results.size());
  printf("  the trigger request returns            %7.1f   (the engine's snapshot set-up: the sensor's mode and its settle wait)\n",
         median(&Still::triggerCall));
  printf("  the VFE takes its first frame          %7.1f   (the next frame start)\n", median(&Still::vfeFirstFrame));
  printf("  the frame it keeps starts              %7.1f   (%u settling frame(s) dropped, as the sensor's mode asks)\n",
         median(&Still::stillStart), last.dropped);
  printf("  ... and is read out                    %7.1f\n", median(&Still::stillEnd));
  printf("  the VFE model has written the image    %7.1f   (the board model's processing; hardware writes during read-out)\n",
         written);
  printf("  the JPEG worker runs                   %7.1f   to %.1f (its CPU %.1f ms)\n", median(&Still::jpegFirst),
         median(&Still::jpegLast), median(&Still::jpegCpu));
  printf("  the JPEG is in the client's buffer     %7.1f   (%zu bytes)\n", total, last.jpegBytes);
  printf("  the encoder alone on the same frames   %7.1f   (%zu bytes, median of 7)\n", encoder, encodedBytes);
  // The sensor's own share (mode change, settling frame, read-out) is what
  // the hardware cannot shorten; the rest is the model's and the stack's.
  const double readOut = median(&Still::stillEnd), sensorLimit = 1.15 * readOut;
  const double afterImage = total - written, overAfter = (afterImage / encoder - 1.0) * 100.0;
  printf("aim: shutter to JPEG within +15 %% of the sensor's own mode change, settling and read-out (%.1f ms, so "
         "%.1f ms): %.1f ms, of it %.1f ms the VFE model after the read-out: %s\n",
         readOut, sensorLimit, total, written - readOut, total <= sensorLimit ? "met" : "MISSED");
  printf("aim: the stack's still path, image written to JPEG delivered, within +25 %% of the encoder's own time: "
         "%.1f ms = %+.0f %%: %s\n",
         afterImage, overAfter, overAfter <= 25.0 ? "met" : "MISSED");
  return 0;
}
