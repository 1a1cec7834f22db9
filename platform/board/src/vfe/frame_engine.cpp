// The VFE's frame engine: one thread that follows the sensor's frames and
// the model's own timed events in order. At a frame start it latches a pending
// update, applies each path's frame-drop pattern, samples the ping or pong
// addresses and raises the start-of-frame interrupt; at the frame end it runs
// the frame through the pipeline, writes the outputs and statistics through
// the write masters into contiguous memory, flips the ping-pong status and
// raises the end-of-frame bits as one interrupt. A stop request is
// acknowledged once no frame write is under way; the reset acknowledgement
// comes a fixed board time after the reset command.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>

#include "../board_internal.h"
#include "chipset_sim.h"
#include "vfe_model.h"
#include "vfe_pipeline.h"

namespace board::vfe {
namespace {

constexpr uint32_t kDoneBit[2] = {1u << kVfeIrqOutput1Done, 1u << kVfeIrqOutput2Done};
constexpr uint32_t kPingPongBit[2] = {kPingPongOut1, kPingPongOut2};
constexpr uint32_t kYPing[2] = {kRegOut1YPing, kRegOut2YPing};
constexpr uint32_t kYPong[2] = {kRegOut1YPong, kRegOut2YPong};
constexpr uint32_t kCPing[2] = {kRegOut1CPing, kRegOut2CPing};
constexpr uint32_t kCPong[2] = {kRegOut1CPong, kRegOut2CPong};
constexpr uint32_t kYGeometry[2] = {kRegOut1YGeometry, kRegOut2YGeometry};
constexpr uint32_t kCGeometry[2] = {kRegOut1CGeometry, kRegOut2CGeometry};
constexpr uint32_t kDropPeriod[2] = {kRegOut1DropPeriod, kRegOut2DropPeriod};
constexpr uint32_t kDropPattern[2] = {kRegOut1DropPattern, kRegOut2DropPattern};

// CPU time of the calling thread: the model's cost, whatever else the machine runs.
int64_t ThreadCpuNs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

int64_t WallNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Events the engine may have queued before new sensor frames are let pass.
constexpr size_t kMaxQueuedEvents = 8;

uint32_t* PathStatusWords(Model& m, int path) { return &m.pathStatus[path == kVfeOutput2 ? 0 : 4]; }

uint32_t Planes(uint32_t outputControl, int path) {
  return path == kVfeOutput2 ? (outputControl >> 4) & 3 : (outputControl >> 6) & 3;
}
uint32_t BurstDivisor(uint32_t outputControl) {
  static const uint32_t kDivisor[4] = {8, 6, 5, 8};
  return kDivisor[(outputControl >> 8) & 3];
}

// Copies into contiguous memory when the whole range lies inside one pmem block.
bool WritePhysical(uint32_t physical, const uint8_t* data, size_t length) {
  if (physical == 0 || length == 0) return physical != 0;
  uint64_t end = uint64_t(physical) + length;
  for (const ChipSimPmemBlock& b : ChipSimPmemBlocks()) {
    if (physical >= b.physical && end <= uint64_t(b.physical) + b.size) {
      void* dst = ChipSimPhysToVirt(physical, uint32_t(length));
      if (!dst) return false;
      std::memcpy(dst, data, length);
      return true;
    }
  }
  return false;
}

enum class PlaneResult { kWritten, kRefused };

// Writes one plane (width x lines, stride width) through a write master whose
// geometry word allows `lines` lines of `words` x divisor bytes; larger images
// are clipped and flagged.
PlaneResult WritePlane(Model& m, int path, uint32_t geometry, uint32_t divisor, uint32_t address,
                       const std::vector<uint8_t>& data, uint32_t width, uint32_t lines) {
  uint32_t wmLines = geometry & 0xFFF;
  uint32_t wmWidth = ((geometry >> 16) & 0x3FF) * divisor;
  uint32_t w = std::min(width, wmWidth), h = std::min(lines, wmLines);
  uint32_t* st = PathStatusWords(m, path);
  if (w < width || h < lines) {
    ++m.counters.geometryMismatches;
    st[0] |= kVfePathGeometryMismatch;
  }
  if (w == 0 || h == 0) return PlaneResult::kWritten;
  std::vector<uint8_t> clipped;
  const uint8_t* src = data.data();
  if (w < width) {
    clipped.resize(size_t(w) * h);
    for (uint32_t r = 0; r < h; ++r) std::memcpy(&clipped[size_t(r) * w], &data[size_t(r) * width], w);
    src = clipped.data();
  }
  size_t bytes = size_t(w) * h;
  if (!WritePhysical(address, src, bytes)) {
    ++m.counters.refusedWrites;
    st[0] |= kVfePathAddressRefused;
    st[2] = address;
    return PlaneResult::kRefused;
  }
  m.counters.bytesWritten += bytes;
  return PlaneResult::kWritten;
}

void HandleResetDone(Model& m, const Event& e, std::unique_lock<std::mutex>& lk) {
  if (e.generation != m.generation) return;  // a later reset owns the acknowledgement
  bool raise = SetStatus(m, 1u << kVfeIrqResetDone);
  if (!raise) return;
  uint32_t generation = m.generation;
  lk.unlock();
  Raise(generation);
  lk.lock();
  WaitForService(m, lk);
}

void CamifError(Model& m, uint32_t detail) {
  m.camifStatus = 0x80000000u | detail;
  ++m.counters.camifErrors;
}

// A frame's work starts at its start of frame, on a thread of its own, from
// what is active then, as the hardware processes lines while they are read
// out; its end of frame takes those products when nothing they depend on has
// changed since (registers, tables, paths and statistics wanted, the scene),
// and else works the frame out again. Either way the products are the same.
struct FrameWork {
  RegisterImage regs;
  TableImage tables;
  FrameRequest request;
  uint64_t sceneChanges = 0;
  FrameProducts products;
  uint64_t cpuNs = 0, wallNs = 0;

  // The request of frame `f` from the model's state now.
  void Take(const Model& m, const FrameInFlight& f) {
    regs = m.active;
    tables = m.tables;
    request = FrameRequest{};
    request.regs = &regs;
    request.tables = &tables;
    request.info = f.info;
    request.serial = f.serial;
    uint32_t statsEnables = regs[kRegStatsEnable / 4];
    bool stats = m.statsStarted && (regs[kRegModuleEnable / 4] & kModStatistics) != 0;
    for (int p = 0; p < 2; ++p) request.wantPath[p] = f.keep[p] && !m.path[p].stalled;
    request.wantAf = stats && (statsEnables & kStatsAf) != 0;
    request.wantWb = stats && (statsEnables & kStatsWbExp) != 0;
    sceneChanges = SceneChanges();
  }
  // Commands, statuses and write-master addresses: the pipeline reads none of them.
  static bool Ignored(uint32_t offset) {
    switch (offset) {
      case kRegResetCmd: case kRegIrqMask: case kRegIrqClear: case kRegIrqStatus: case kRegPingPongStatus:
      case kRegWriteMasterCmd: case kRegStopRequest: case kRegStopStatus: case kRegCamifCommand:
      case kRegCamifStatus: case kRegUpdate: case kRegTableSelect: case kRegTableIndex: case kRegTableData:
        return true;
      default:
        return offset >= kRegOut2YPing && offset <= kRegWbPong;
    }
  }
  bool SameRegisters(const RegisterImage& o) const {
    for (uint32_t i = 0; i < kRegWords; ++i)
      if (regs[i] != o[i] && !Ignored(4 * i)) return false;
    return true;
  }
  bool SameAs(const FrameWork& o) const {
    return request.serial == o.request.serial && request.info.frame == o.request.info.frame && SameRegisters(o.regs) &&
           tables == o.tables && request.wantPath[0] == o.request.wantPath[0] &&
           request.wantPath[1] == o.request.wantPath[1] && request.wantAf == o.request.wantAf &&
           request.wantWb == o.request.wantWb && sceneChanges == o.sceneChanges;
  }
  void Run() {
    int64_t t0 = ThreadCpuNs(), wall0 = WallNs();
    RunFrame(request, &products);
    cpuNs = uint64_t(ThreadCpuNs() - t0) + products.workerCpuNs;
    wallNs = uint64_t(WallNs() - wall0);
  }
};

// The thread that works frames out from their start; one frame at a time.
class EarlyWork {
 public:
  // Starts frame work `w` (taken from the model) once the last one is done.
  void Start(const Model& m, const FrameInFlight& f) {
    std::unique_lock<std::mutex> lk(lock_);
    idle_.wait(lk, [&] { return !busy_; });
    work_.Take(m, f);
    busy_ = true;
    ready_ = false;
    if (!thread_.joinable()) thread_ = std::thread([this] { Loop(); });
    wake_.notify_all();
  }
  // Prepares the working memory for frames of width x height on this thread
  // before its next frame; never waits (the sensor calls it under its lock),
  // and nothing that holds the model waits for it: a frame started meanwhile
  // is worked out once the memory is ready.
  void Prepare(uint32_t width, uint32_t height) {
    std::lock_guard<std::mutex> lk(lock_);
    prepareWidth_ = std::max(prepareWidth_, width);
    prepareHeight_ = std::max(prepareHeight_, height);
    prepareWanted_ = true;
    if (!thread_.joinable()) thread_ = std::thread([this] { Loop(); });
    wake_.notify_all();
  }
  // Waits for the work in flight; true with its products moved into `into`
  // when it was the same work as `wanted`.
  bool Finish(const FrameWork& wanted, FrameWork* into) {
    std::unique_lock<std::mutex> lk(lock_);
    idle_.wait(lk, [&] { return !busy_; });
    if (!ready_ || !work_.SameAs(wanted)) return false;
    ready_ = false;
    std::swap(into->products, work_.products);
    into->cpuNs = work_.cpuNs;
    into->wallNs = work_.wallNs;
    return true;
  }

 private:
  void Loop() {
    NameModelThread("vfe early");
    std::unique_lock<std::mutex> lk(lock_);
    for (;;) {
      wake_.wait(lk, [&] { return busy_ || prepareWanted_; });
      if (prepareWanted_ && !busy_) {
        prepareWanted_ = false;
        const uint32_t w = prepareWidth_, h = prepareHeight_;
        lk.unlock();
        PrepareFrameMemory(w, h);
        lk.lock();
        continue;
      }
      lk.unlock();
      work_.Run();
      lk.lock();
      busy_ = false;
      ready_ = true;
      idle_.notify_all();
    }
  }
  std::mutex lock_;
  std::condition_variable wake_, idle_;
  std::thread thread_;  // never joined: it may outlive static destruction at exit
  bool busy_ = false, ready_ = false;
  bool prepareWanted_ = false;
  uint32_t prepareWidth_ = 0, prepareHeight_ = 0;
  FrameWork work_;
};

EarlyWork& Early() {
  static EarlyWork* early = new EarlyWork;
  return *early;
}

void HandleStart(Model& m, const Event& e, std::unique_lock<std::mutex>& lk) {
  if (m.frame.valid && m.frame.late) return;  // still busy with the late frame: this one is lost
  m.frame.valid = false;
  if (!(m.camifRunning && m.pipelineStarted && m.writeMastersRunning)) return;
  // Under way when the interface was started: its start reaches the model late.
  if (e.dueNs <= m.camifStartedAfterNs) return;
  if (!ClockOn() || ChipSimClocks().vfeSource != kVfeSensorSource) return;
  uint32_t bits = 0;
  if (m.updatePending) {
    LatchUpdate(m);
    m.updatePending = false;
    bits |= 1u << kVfeIrqUpdate;
  }
  // The window must lie inside what the sensor delivers.
  uint32_t px = Active(m, kRegCamifPixels), ln = Active(m, kRegCamifLines);
  uint32_t firstPixel = (px >> 16) & 0x3FFF, lastPixel = px & 0x3FFF;
  uint32_t firstLine = (ln >> 16) & 0x3FFF, lastLine = ln & 0x3FFF;
  bool windowOk = firstPixel <= lastPixel && firstLine <= lastLine && lastPixel < e.info.width &&
                  lastLine < e.info.height && lastPixel - firstPixel + 1 > 2 * kDemosaicMarginX + 1 &&
                  lastLine - firstLine + 1 > 2 * kDemosaicMarginY + 1;
  if (!windowOk) {
    CamifError(m, (lastLine & 0x3FFF) << 16 | (lastPixel & 0x3FFF));
    bits |= 1u << kVfeIrqCamifError;
  } else {
    bits |= 1u << kVfeIrqStartOfFrame;
    ++m.counters.framesStarted;
    FrameInFlight f;
    f.valid = true;
    f.info = e.info;
    f.serial = ++m.serial;
    f.generation = m.generation;
    uint32_t control = Active(m, kRegOutputControl);
    for (int p = 0; p < 2; ++p) {
      if (!Planes(control, p)) continue;
      PathState& ps = m.path[p];
      uint32_t period = Active(m, kDropPeriod[p]) & 0x1F;
      uint32_t pattern = Active(m, kDropPattern[p]);
      f.keep[p] = ((pattern >> ps.dropIndex) & 1) != 0;
      ps.dropIndex = ps.dropIndex >= period ? 0 : ps.dropIndex + 1;
      if (!f.keep[p]) {
        ++m.counters.framesDropped[p];
        continue;
      }
      f.pingSide[p] = ps.pingNext;
      f.yAddress[p] = Written(m, ps.pingNext ? kYPing[p] : kYPong[p]);
      f.cAddress[p] = Written(m, ps.pingNext ? kCPing[p] : kCPong[p]);
    }
    f.droppedByAll = (Planes(control, 0) || Planes(control, 1)) && !f.keep[0] && !f.keep[1];
    m.frame = f;
    if (m.writeMastersRunning) Early().Start(m, f);
  }
  if (!SetStatus(m, bits)) return;
  uint32_t generation = m.generation;
  lk.unlock();
  Raise(generation);
  lk.lock();
  WaitForService(m, lk);
}

void FinishWriting(Model& m) {
  m.writing = false;
  if (m.stopRequested && !m.withholdStopAck) m.stopStatus |= kStopAcknowledged;
}

void HandleEnd(Model& m, const Event& e, std::unique_lock<std::mutex>& lk) {
  if (!m.frame.valid || m.frame.info.frame != e.info.frame) return;
  if (m.delayNextFrameMs > 0) {
    Event later = e;
    later.dueNs = BoardNowNs() + int64_t(m.delayNextFrameMs) * 1000000;
    m.delayNextFrameMs = 0;
    m.frame.late = true;
    GateModelLate();
    Schedule(m, later);
    return;
  }
  FrameInFlight f = m.frame;
  m.frame.valid = false;
  if (m.camifStopAfterFrame) {
    m.camifRunning = false;
    m.camifStopAfterFrame = false;
  }
  if (f.aborted || f.generation != m.generation || !m.writeMastersRunning) return;

  // Work out the frame outside the lock; register writes go on meanwhile.
  // The engine thread's working copy; never destroyed, as the thread may
  // outlive static destruction at process exit.
  static FrameWork* work = new FrameWork;
  work->Take(m, f);
  RegisterImage& regs = work->regs;
  FrameRequest& req = work->request;
  FrameProducts& products = work->products;
  uint32_t control = regs[kRegOutputControl / 4];
  m.writing = true;
  lk.unlock();
  if (!Early().Finish(*work, work)) work->Run();
  uint64_t workNs = work->cpuNs, wallNs = work->wallNs;
  lk.lock();
  m.counters.frameWorkNs += workNs;
  m.counters.frameWorkMaxNs = std::max(m.counters.frameWorkMaxNs, workNs);
  m.counters.frameWallNs += wallNs;
  m.counters.frameWallMaxNs = std::max(m.counters.frameWallMaxNs, wallNs);
  for (uint32_t s = 0; s < kVfeStageCount; ++s) m.counters.stageNs[s] += products.stageNs[s];
  if (f.generation != m.generation || !m.writeMastersRunning) {
    FinishWriting(m);
    return;
  }
  if (products.unsupported) ++m.counters.unsupported;

  uint32_t bits = 0;
  uint32_t divisor = BurstDivisor(control);
  std::vector<BoardVfeTappedFrame> tapped;
  for (int p = 0; p < 2; ++p) {
    const OutputImage& img = products.out[p];
    PathState& ps = m.path[p];
    uint32_t* st = PathStatusWords(m, p);
    if (req.wantPath[p] && products.refused[p]) {
      // A payload the pipeline cannot run: no frame, the path's status says why.
      ++m.counters.refusedPayloads;
      st[0] |= kVfePathPayloadRefused;
      ++st[1];
      bits |= 1u << kVfeIrqOutputStatus;
      continue;
    }
    if (f.keep[p] && !req.wantPath[p]) {
      // The write masters cannot drain: the frame overflows the path.
      ++m.counters.overflows;
      ++st[1];
      st[0] |= kVfePathOverflow;
      bits |= 1u << kVfeIrqOutputStatus;
      continue;
    }
    if (!req.wantPath[p] || !img.present) continue;
    // Free-running, a frame done the driver has not serviced yet blocks the path.
    bool unserviced = (m.status & kDoneBit[p]) != 0 && !m.lockStep;
    if (unserviced || ps.overrunNext > 0) {
      if (!unserviced) --ps.overrunNext;
      ++m.counters.overflows;
      ++st[1];
      st[0] |= kVfePathOverflow;
      bits |= 1u << kVfeIrqOutputStatus;
      continue;
    }
    if (ps.busErrorNext > 0) {
      --ps.busErrorNext;
      ++m.counters.busErrors;
      st[0] |= kVfePathBusError;
      ++st[1];
      st[2] = f.yAddress[p];
      bits |= 1u << kVfeIrqOutputStatus;
      continue;
    }
    uint32_t planes = Planes(control, p);
    PlaneResult r = PlaneResult::kWritten;
    if (img.raw) {
      r = WritePlane(m, p, regs[kCGeometry[p] / 4], divisor, f.cAddress[p], img.y, img.width, img.height);
    } else {
      if (planes & 1) r = WritePlane(m, p, regs[kYGeometry[p] / 4], divisor, f.yAddress[p], img.y, img.width, img.height);
      if ((planes & 2) && r == PlaneResult::kWritten)
        r = WritePlane(m, p, regs[kCGeometry[p] / 4], divisor, f.cAddress[p], img.cbcr, img.width, img.height / 2);
    }
    if (r == PlaneResult::kRefused) {
      ++st[1];
      bits |= 1u << kVfeIrqOutputStatus;
      continue;
    }
    if (f.pingSide[p]) {
      m.pingPong |= kPingPongBit[p];
    } else {
      m.pingPong &= ~kPingPongBit[p];
    }
    ps.pingNext = !f.pingSide[p];
    ++m.counters.framesDone[p];
    GateFrameWritten(p);
    bits |= kDoneBit[p];
    if (m.tap) {
      BoardVfeTappedFrame t;
      t.path = BoardVfePath(p);
      t.raw = img.raw;
      t.width = img.width;
      t.height = img.height;
      t.yAddress = img.raw ? 0 : f.yAddress[p];
      t.cbcrAddress = f.cAddress[p];
      t.sensorFrame = f.info.frame;
      t.y = img.y;
      t.cbcr = img.cbcr;
      tapped.push_back(std::move(t));
    }
  }
  struct StatsTarget {
    bool want;
    const std::vector<uint32_t>* words;
    uint32_t ping, pong, ppBit, irqBit;
    int side;
  };
  const StatsTarget targets[2] = {
      {req.wantAf, &products.af, kRegAfPing, kRegAfPong, kPingPongAf, 1u << kVfeIrqAfDone, 0},
      {req.wantWb, &products.wb, kRegWbPing, kRegWbPong, kPingPongWb, 1u << kVfeIrqWbExpDone, 1}};
  for (const StatsTarget& t : targets) {
    if (!t.want || t.words->empty()) continue;
    StatsSide& side = m.statsSide[t.side];
    uint32_t address = Written(m, side.pingNext ? t.ping : t.pong);
    size_t bytes = t.words->size() * 4;
    if (!WritePhysical(address, reinterpret_cast<const uint8_t*>(t.words->data()), bytes)) {
      ++m.counters.refusedWrites;
      continue;
    }
    m.counters.bytesWritten += bytes;
    if (side.pingNext) {
      m.pingPong |= t.ppBit;
    } else {
      m.pingPong &= ~t.ppBit;
    }
    side.pingNext = !side.pingNext;
    ++m.counters.statsDone[t.side];
    bits |= t.irqBit;
    // An update still waiting for the frame start refuses the driver's next
    // one: then the start itself is what the statistics wait for. A frame that
    // every output drops (a still's settling frame) feeds no preview: nothing
    // answers its statistics with an update, so nothing waits for one.
    if (t.side == 1) GateAwaitUpdate(!m.updatePending && !f.droppedByAll);
  }
  FinishWriting(m);
  auto tap = m.tap;
  bool raise = SetStatus(m, bits);
  uint32_t generation = m.generation;
  lk.unlock();
  if (tap)
    for (const auto& t : tapped) tap(t);
  if (raise) Raise(generation);
  lk.lock();
  if (raise) WaitForService(m, lk);
}

void Run() {
  NameModelThread("vfe");
  Model& m = M();
  std::unique_lock<std::mutex> lk(m.lock);
  while (!m.quit) {
    if (m.events.empty()) {
      m.cv.wait(lk);
      continue;
    }
    int64_t wait = RealNsUntil(m.events.front().dueNs);
    if (wait > 0) {
      m.cv.wait_for(lk, std::chrono::nanoseconds(wait));
      continue;
    }
    Event e = m.events.front();
    m.events.pop_front();
    switch (e.kind) {
      case EventKind::kResetDone: HandleResetDone(m, e, lk); break;
      case EventKind::kStartOfFrame: HandleStart(m, e, lk); break;
      case EventKind::kEndOfFrame:
        HandleEnd(m, e, lk);
        // A frame put off (fault hook) has not ended yet.
        if (!(m.frame.valid && m.frame.info.frame == e.info.frame)) GateFrameEnded(e.info.frame);
        break;
    }
  }
}

}  // namespace

void EnsureEngine(Model& m) {
  if (!m.engine.joinable() && !m.quit) m.engine = std::thread(Run);
}

void Schedule(Model& m, const Event& e) {
  auto it = std::upper_bound(m.events.begin(), m.events.end(), e.dueNs,
                             [](int64_t due, const Event& x) { return due < x.dueNs; });
  m.events.insert(it, e);
  EnsureEngine(m);
  m.cv.notify_all();
}

void StopEngine() {
  Model& m = M();
  std::thread t;
  {
    std::lock_guard<std::mutex> g(m.lock);
    m.quit = true;
    m.cv.notify_all();
    t = std::move(m.engine);
  }
  if (t.joinable()) t.join();
}

void OnSensorFrame(void*, const BoardFrameEvent& event) {
  Event e{event.kind == kBoardStartOfFrame ? EventKind::kStartOfFrame : EventKind::kEndOfFrame, event.timeNs, {}, 0};
  if (e.kind == EventKind::kStartOfFrame) {
    if (!BoardSensorLatestFrame(&e.info) || e.info.frame != event.frame) return;
  } else {
    e.info.frame = event.frame;
  }
  Model& m = M();
  std::lock_guard<std::mutex> g(m.lock);
  // A model that has fallen this far behind lets the new frame pass, as the
  // hardware would; its end finds no frame in flight and is ignored.
  if (e.kind == EventKind::kStartOfFrame && m.events.size() >= kMaxQueuedEvents) {
    ++m.counters.framesMissed;
    return;
  }
  Schedule(m, e);
}

}  // namespace board::vfe

namespace board {
void VfePrepare(uint32_t width, uint32_t height) { vfe::Early().Prepare(width, height); }
}  // namespace board

using namespace board::vfe;

void BoardVfeOverrunNext(BoardVfePath path, int count) {
  Model& m = M();
  std::lock_guard<std::mutex> g(m.lock);
  m.path[path & 1].overrunNext = std::max(0, count);
}

void BoardVfeBusErrorNext(BoardVfePath path, int count) {
  Model& m = M();
  std::lock_guard<std::mutex> g(m.lock);
  m.path[path & 1].busErrorNext = std::max(0, count);
}

void BoardVfeStallOutput(BoardVfePath path, bool stall) {
  Model& m = M();
  std::lock_guard<std::mutex> g(m.lock);
  m.path[path & 1].stalled = stall;
}

void BoardVfeDelayNextFrame(int delayMs) {
  Model& m = M();
  std::lock_guard<std::mutex> g(m.lock);
  m.delayNextFrameMs = std::max(0, delayMs);
}
