// What the VFE hardware model's device functions share: the register map, the
// model's state behind one lock, and the calls between the register file, the
// interrupt logic, the frame engine, the image pipeline and the statistics.
#ifndef VFE_MODEL_H
#define VFE_MODEL_H

#include <stdint.h>

#include <array>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "board_sensor.h"
#include "board_vfe.h"

namespace board::vfe {

// ---- Register map (byte offsets) ---------------------------------------------------
enum Reg : uint32_t {
  kRegVersion = 0x000,
  kRegResetCmd = 0x004,
  kRegClockEnable = 0x00C,
  kRegModuleEnable = 0x010,
  kRegInputFormat = 0x014,
  kRegIrqMask = 0x018,
  kRegIrqClear = 0x01C,
  kRegIrqStatus = 0x020,
  kRegOutputSelect = 0x024,
  kRegStartControl = 0x028,
  kRegOutputControl = 0x02C,
  kRegOut2YPing = 0x030,
  kRegOut2YPong = 0x034,
  kRegOut2YGeometry = 0x038,
  kRegOut2CPing = 0x040,
  kRegOut2CPong = 0x044,
  kRegOut2CGeometry = 0x048,
  kRegOut1YPing = 0x050,
  kRegOut1YPong = 0x054,
  kRegOut1YGeometry = 0x058,
  kRegOut1CPing = 0x060,
  kRegOut1CPong = 0x064,
  kRegOut1CGeometry = 0x068,
  kRegAfPing = 0x070,
  kRegAfPong = 0x074,
  kRegWbPing = 0x078,
  kRegWbPong = 0x07C,
  kRegPingPongStatus = 0x0C4,
  kRegWriteMasterCmd = 0x0C8,
  kRegWriteMasterEnables = 0x0CC,
  kRegPathStatusOut2 = 0x0D0,  // four words
  kRegPathStatusOut1 = 0x0E0,  // four words
  kRegStopRequest = 0x104,
  kRegStopStatus = 0x10C,
  kRegCamifCommand = 0x110,
  kRegCamifPixels = 0x120,
  kRegCamifLines = 0x124,
  kRegCamifSkip = 0x128,
  kRegCamifStatus = 0x134,
  kRegUpdate = 0x190,
  kRegBlackLevel = 0x194,  // four words
  kRegRolloffGrid = 0x1A4,
  kRegChannelGain = 0x1B4, // two words
  kRegDemosaic = 0x1C4,    // ABF and bad-pixel switches, bad-pixel factors
  kRegAbfThreshold = 0x1C8,
  kRegAbfLevels = 0x1CC,
  kRegBpcRedBlue = 0x1D0,
  kRegBpcGreen = 0x1D4,
  kRegStatus1D8 = 0x1D8,
  kRegFovPixels = 0x1E0,
  kRegFovLines = 0x1E4,
  kRegColourCorrection = 0x1E8,  // nine coefficients, three offsets, Q
  kRegLumaBank = 0x21C,
  kRegGammaBanks = 0x220,
  kRegColourConversion = 0x224,  // nine words
  kRegAsf = 0x248,               // seven words
  kRegStatus264 = 0x264,
  kRegMainScaler = 0x270,
  kRegYScaler = 0x28C,
  kRegCbCrScaler = 0x2A0,
  kRegWhiteBalance = 0x2B4,
  kRegChromaSuppression = 0x2B8,  // two words
  kRegOut2DropPeriod = 0x2CC,
  kRegOut2DropPattern = 0x2D4,
  kRegOut1DropPeriod = 0x2DC,
  kRegOut1DropPattern = 0x2E4,
  kRegClampMax = 0x2EC,
  kRegClampMin = 0x2F0,
  kRegStatsEnable = 0x2F4,
  kRegAfWindow = 0x2F8,
  kRegAfCells = 0x2FC,
  kRegAfSelect = 0x300,  // four words
  kRegAfFilter = 0x314,
  kRegAfTaps = 0x318,
  kRegAwbConfig = 0x31C,
  kRegAwbSlopes = 0x324,
  kRegAwbOffsets12 = 0x328,
  kRegAwbOffsets34 = 0x32C,
  kRegStatsArea = 0x33C,
  kRegTableSelect = 0x340,
  kRegTableIndex = 0x344,
  kRegTableData = 0x34C,
  kRegBlock23Control = 0x36C,
};
constexpr uint32_t kRegWords = kVfeRegisterSpan / 4;
constexpr uint32_t kTableCount = 16;
constexpr uint32_t kTableWords = 512;
// Table port codes: roll-off is kRolloffTable (row edges, then its steps from
// word kRolloffStepsAt); gamma channel c bank b is kTableGamma + 2c + b; luma
// adaptation bank b is kTableLumaAdaptation + b.
constexpr uint32_t kRolloffTable = 1;
constexpr uint32_t kRolloffStepsAt = 32;
constexpr uint32_t kTableGamma = 2;
constexpr uint32_t kTableLumaAdaptation = 14;

// Camera-interface commands (0x110) and write-master commands (0x0C8).
enum CamifCommand : uint32_t {
  kCamifStopAfterFrame = 0,
  kCamifStart = 1,
  kCamifStopNow = 2,
  kCamifRestart = 3,
  kCamifArmStart = 4,
  kCamifArmRestart = 7,
};
enum WriteMasterCommand : uint32_t { kWriteMastersStart = 1, kWriteMastersStop = 2 };
constexpr uint32_t kStopAcknowledged = 1u << 5;  // 0x10C
// Ping-pong status bits (0x0C4): set when the side just written was the ping side.
constexpr uint32_t kPingPongOut2 = 1u << 5;
constexpr uint32_t kPingPongOut1 = 1u << 7;
constexpr uint32_t kPingPongAf = 1u << 8;
constexpr uint32_t kPingPongWb = 1u << 9;

// Module enable bits (0x010).
constexpr uint32_t kModBlackLevel = 1u << 0;
constexpr uint32_t kModRolloff = 1u << 1;
constexpr uint32_t kModDemosaic = 1u << 4;
constexpr uint32_t kModMainScaler = 1u << 7;
constexpr uint32_t kModWhiteBalance = 1u << 8;
constexpr uint32_t kModColourCorrection = 1u << 9;
constexpr uint32_t kModLumaAdaptation = 1u << 12;
constexpr uint32_t kModGamma = 1u << 13;
constexpr uint32_t kModColourConversion = 1u << 14;
constexpr uint32_t kModAsf = 1u << 15;
constexpr uint32_t kModChromaSuppression = 1u << 16;
constexpr uint32_t kModStatistics = 1u << 5;
constexpr uint32_t kModYScaler = 1u << 18;
constexpr uint32_t kModCbCrScaler = 1u << 19;
// Statistics enables (0x2F4).
constexpr uint32_t kStatsAf = 1u << 0;
constexpr uint32_t kStatsWbExp = 1u << 1;

// ---- State --------------------------------------------------------------------------
struct PathState {
  bool pingNext = true;     // the side the next kept frame goes to
  uint32_t dropIndex = 0;   // frame index within the drop period
  int overrunNext = 0;
  int busErrorNext = 0;
  bool stalled = false;
};

struct StatsSide {
  bool pingNext = true;
};

// One frame between its start and its end.
struct FrameInFlight {
  bool valid = false;
  bool aborted = false;
  bool late = false;          // its end was put off (fault hook)
  BoardFrameInfo info;
  uint32_t serial = 0;        // model frame number (head word of statistics)
  bool keep[2] = {};          // per path, from the drop pattern
  bool droppedByAll = false;  // outputs are on and every one drops it (a still's settling frame)
  bool pingSide[2] = {};      // per path, the side sampled at the start
  uint32_t yAddress[2] = {};  // sampled at the start
  uint32_t cAddress[2] = {};
  uint32_t generation = 0;    // reset count at the start
};

enum class EventKind { kStartOfFrame, kEndOfFrame, kResetDone };
struct Event {
  EventKind kind;
  int64_t dueNs;  // board time
  BoardFrameInfo info;
  uint32_t generation = 0;
};

// The latest register accesses, oldest first once full: a ring whose memory
// comes with the first access, so that an access allocates nothing.
class AccessLog {
 public:
  static constexpr size_t kCapacity = 100000;
  void Add(const BoardVfeAccess& a) {
    if (ring_.empty()) ring_.resize(kCapacity);
    size_t at = start_ + size_;
    if (at >= kCapacity) at -= kCapacity;
    ring_[at] = a;
    if (size_ < kCapacity) {
      ++size_;
    } else if (++start_ == kCapacity) {
      start_ = 0;
    }
  }
  std::vector<BoardVfeAccess> Snapshot() const {
    std::vector<BoardVfeAccess> out;
    out.reserve(size_);
    for (size_t i = 0; i < size_; ++i) out.push_back(ring_[(start_ + i) % kCapacity]);
    return out;
  }
  void Clear() { start_ = size_ = 0; }

 private:
  std::vector<BoardVfeAccess> ring_;
  size_t start_ = 0, size_ = 0;
};

struct Model {
  std::mutex lock;
  std::condition_variable cv;
  bool hooked = false;
  int listenerId = 0;

  std::array<uint32_t, kRegWords> written{};
  std::array<uint32_t, kRegWords> active{};
  uint32_t status = 0;
  uint32_t pingPong = 0;
  uint32_t stopStatus = 0;
  std::array<uint32_t, 8> pathStatus{};  // 0x0D0..0x0EC
  uint32_t camifStatus = 0;
  std::array<std::vector<uint32_t>, kTableCount> tables;
  uint32_t tableSelect = 0, tableIndex = 0;

  bool updatePending = false;
  bool pipelineStarted = false, statsStarted = false;
  bool writeMastersRunning = false;
  bool camifArmed = false, camifRunning = false, camifStopAfterFrame = false;
  // Board time of the latest sensor frame start before the camera interface's
  // start: that frame, however late the model hears of it, is not captured.
  int64_t camifStartedAfterNs = INT64_MIN;
  bool stopRequested = false;
  bool writing = false;
  uint32_t generation = 0;
  uint32_t serial = 0;
  PathState path[2];
  StatsSide statsSide[2];
  FrameInFlight frame;

  std::deque<Event> events;  // in due order
  std::thread engine;
  bool quit = false;
  bool lockStep = false;
  int lockStepTimeoutMs = 5000;
  std::string lastTimeout;  // what the latest service wait that ran out waited for

  BoardVfeCounters counters;
  AccessLog accesses;
  int loseInterrupts = 0;
  uint32_t withheldBits = 0;
  bool withholdStopAck = false;
  bool lastRaiseLost = false;  // the latest interrupt never reached the system
  int delayNextFrameMs = 0;
  std::function<void(const BoardVfeTappedFrame&)> tap;
};

Model& M();

// Statistics lock-step (BoardVfeSetStatsLockStep): what the sensor's frame
// starts wait for. Its own lock, taken last (under the model's or the
// sensor's), so the sensor never waits for the model's lock.
struct StatsGate {
  std::mutex lock;
  bool on = false;
  bool awaitUpdates = true;  // false: pacing, a start waits for the frame before only
  bool paced = false;        // pacing stays when the statistics lock-step is turned off
  int timeoutMs = 5000;
  uint32_t endedFrame = 0;       // the latest sensor frame whose end the model has done
  bool awaitingUpdate = false;   // WB/exposure statistics written, no update command since
  bool modelLate = false;        // the frame before ends late by the model's own delay
  uint32_t heldAfter = 0;        // the start being held follows this frame...
  int64_t heldSinceNs = 0;       // ...since this monotonic time
  int64_t answerSinceNs = 0;     // the model ended the frame before at this time (0: not yet)
  uint32_t timeouts = 0;
  std::string lastTimeout;  // what the latest wait that ran out waited for
  // Client lock-step (BoardVfeSetClientLockStep).
  bool clientStep = false;
  int clientPath = 0;
  uint32_t clientAhead = 1;
  uint32_t written = 0;   // frames written on the client's path since it was turned on
  uint32_t returned = 0;  // frames the client gave back since then
};
StatsGate& Gate();
// The model's side of the gate.
void GateFrameEnded(uint32_t frame);
void GateAwaitUpdate(bool awaiting);
// The model ends its frame late on purpose (board time): the next start waits
// for it with board time running.
void GateModelLate();
// A frame was written on `path`.
void GateFrameWritten(int path);

// Register file (registers.cpp).
void HookWindow();
bool ClockOn();
inline uint32_t Active(const Model& m, uint32_t offset) { return m.active[offset / 4]; }
inline uint32_t Written(const Model& m, uint32_t offset) { return m.written[offset / 4]; }
void LatchUpdate(Model& m);
void ResetRunState(Model& m);

// Interrupts (interrupts.cpp). SetStatus returns true when the line must be
// raised; Raise is called without the model lock, with the reset generation
// the bits were set in (a reset in between takes the raise back).
bool SetStatus(Model& m, uint32_t bits);
bool LineWanted(const Model& m);
void Raise(uint32_t generation);
// Lock-step: waits, with the lock held by `lk`, until the driver serviced.
void WaitForService(Model& m, std::unique_lock<std::mutex>& lk);

// Frame engine (frame_engine.cpp).
void EnsureEngine(Model& m);
void Schedule(Model& m, const Event& e);
void StopEngine();
void OnSensorFrame(void* context, const BoardFrameEvent& event);

}  // namespace board::vfe

#endif  // VFE_MODEL_H
