// The VFE driver object, its command gate and dispatch, and the START, RESET,
// STOP and UPDATE sequences (see vfedriverobject.h for its place in the camera).
#include "vfedriverobject.h"

#include <string.h>

#include <new>

#include "hostsymbols.h"
#include "isignalqueue.h"
#include "plindor.h"
#include "pvllog.h"
#include "vferegistermap.h"
#include "wince.h"

VfeDriverState g_vfe;
VfeDriverLinks* g_vfeLinks = nullptr;

using namespace vfereg;

namespace {

#define VFE_STRINGIFY2(x) #x
#define VFE_STRINGIFY(x) VFE_STRINGIFY2(x)
#define VFE_ALLOCATION_TAG __FILE__ ":" VFE_STRINGIFY(__LINE__)

VfeDriverObject* g_current = nullptr;

// Bounds of the two register polls: the stop status and the raw-mode arming.
constexpr DWORD kStopPollMs = 200;
constexpr DWORD kRawArmPollMs = 200;

struct LockGuard {
  ILock* lock;
  explicit LockGuard(ILock* l) : lock(l) { lock->Lock(); }
  ~LockGuard() { lock->Unlock(); }
};

// The lock given up for a wait, taken again when the scope ends.
struct Unlocked {
  ILock* lock;
  explicit Unlocked(ILock* l) : lock(l) { lock->Unlock(); }
  ~Unlocked() { lock->Lock(); }
};

// ---- Payload sizes ---------------------------------------------------------------------
enum class SizeRule : uint8_t { Unknown, None, Exact, AtLeast };
struct CommandSize {
  SizeRule rule;
  uint16_t size;
};
constexpr CommandSize kSizes[65] = {
    {SizeRule::Exact, sizeof(VfeOperationMode)},     // 0
    {SizeRule::None, 0},                             // 1
    {SizeRule::AtLeast, sizeof(VfeBlock2Cmd)},       // 2
    {SizeRule::Exact, sizeof(VfeCamifCmd)},          // 3
    {SizeRule::Exact, sizeof(VfeOutputCmd)},         // 4
    {SizeRule::Exact, sizeof(VfeBlackLevelCmd)},     // 5
    {SizeRule::Exact, sizeof(VfeRolloffCmd)},        // 6
    {SizeRule::Exact, sizeof(VfeChannelGainCmd)},    // 7
    {SizeRule::Exact, sizeof(VfeDemosaicCmd)},       // 8
    {SizeRule::Exact, sizeof(VfeFovCropCmd)},        // 9
    {SizeRule::Exact, sizeof(VfeMainScalerCmd)},     // 10
    {SizeRule::Exact, sizeof(VfeWhiteBalanceCmd)},   // 11
    {SizeRule::Exact, sizeof(VfeColorCorrCmd)},      // 12
    {SizeRule::Exact, sizeof(VfeLumaAdaptationCmd)}, // 13
    {SizeRule::Exact, sizeof(VfeGammaCmd)},          // 14
    {SizeRule::Exact, sizeof(VfeColorConvCmd)},      // 15
    {SizeRule::Exact, sizeof(VfeChromaSuppCmd)},     // 16
    {SizeRule::Exact, sizeof(VfeAsfCmd)},            // 17
    {SizeRule::Exact, sizeof(VfeOutputScalerCmd)},   // 18
    {SizeRule::Exact, sizeof(VfeOutputScalerCmd)},   // 19
    {SizeRule::Exact, sizeof(VfeBlock20Cmd)},        // 20
    {SizeRule::Exact, sizeof(VfeFrameDropCmd)},      // 21
    {SizeRule::Exact, sizeof(VfeBlock22Cmd)},        // 22
    {SizeRule::Exact, sizeof(VfeBlock23Cmd)},        // 23
    {SizeRule::Exact, sizeof(VfeNotifyCmd)},         // 24
    {SizeRule::Exact, sizeof(VfeNotifyCmd)},         // 25
    {SizeRule::None, 0},                             // 26
    {SizeRule::Exact, sizeof(VfeBlackLevelCmd)},     // 27
    {SizeRule::Exact, sizeof(VfeChannelGainCmd)},    // 28
    {SizeRule::Exact, sizeof(VfeDemosaicUpdate2Cmd)},// 29
    {SizeRule::Exact, sizeof(VfeDemosaicUpdate1Cmd)},// 30
    {SizeRule::Exact, sizeof(VfeFovCropCmd)},        // 31
    {SizeRule::Exact, sizeof(VfeWhiteBalanceCmd)},   // 32
    {SizeRule::Exact, sizeof(VfeColorCorrCmd)},      // 33
    {SizeRule::Exact, sizeof(VfeLumaAdaptationCmd)}, // 34
    {SizeRule::Exact, sizeof(VfeGammaCmd)},          // 35
    {SizeRule::Exact, sizeof(VfeColorConvCmd)},      // 36
    {SizeRule::Exact, sizeof(VfeChromaSuppCmd)},     // 37
    {SizeRule::Exact, sizeof(VfeMainScalerCmd)},     // 38
    {SizeRule::Exact, sizeof(VfeOutputScalerCmd)},   // 39
    {SizeRule::Exact, sizeof(VfeOutputScalerCmd)},   // 40
    {SizeRule::Exact, sizeof(VfeAsfUpdateCmd)},      // 41
    {SizeRule::Exact, sizeof(VfeFrameDropUpdateCmd)},// 42
    {SizeRule::Exact, sizeof(VfeCamifUpdateCmd)},    // 43
    {SizeRule::Exact, sizeof(VfeAfStatsUpdateCmd)},  // 44
    {SizeRule::Exact, sizeof(VfeAwbExtStatsUpdateCmd)}, // 45
    {SizeRule::Unknown, 0},                          // 46
    {SizeRule::Unknown, 0},                          // 47
    {SizeRule::Exact, sizeof(VfeStatsAckCmd)},       // 48
    {SizeRule::Exact, sizeof(VfeStatsAckCmd)},       // 49
    {SizeRule::Unknown, 0},                          // 50
    {SizeRule::None, 0},                             // 51
    {SizeRule::AtLeast, sizeof(VfeHwInfo)},          // 52
    {SizeRule::AtLeast, sizeof(VfeMessage)},         // 53
    {SizeRule::AtLeast, sizeof(VfeMessage)},         // 54
    {SizeRule::AtLeast, sizeof(VfeOutputQuery)},     // 55
    {SizeRule::Exact, sizeof(VfeWbExpStatsCmd)},     // 56
    {SizeRule::Exact, sizeof(VfeAfStatsCmd)},        // 57
    {SizeRule::None, 0},                             // 58
    {SizeRule::Exact, sizeof(VfeAwbExtStatsCmd)},    // 59
    {SizeRule::None, 0},                             // 60
    {SizeRule::Unknown, 0},                          // 61
    {SizeRule::Unknown, 0},                          // 62
    {SizeRule::Exact, sizeof(VfeAckOutputCmd)},      // 63
    {SizeRule::Exact, sizeof(VfeAckOutputCmd)},      // 64
};

bool SizeFits(uint32_t command, uint32_t size) {
  if (command > 64) return true;  // unknown: answered 20 whatever it carries
  const CommandSize& c = kSizes[command];
  switch (c.rule) {
    case SizeRule::Unknown: return true;
    case SizeRule::None: return size == 0;
    case SizeRule::Exact: return size == c.size;
    case SizeRule::AtLeast: return size >= c.size;
  }
  return false;
}

// ---- The gate ------------------------------------------------------------------------------
// 0 when the command may run in the driver's phase, else 1. Configuration
// (0-25) only while idle and no acknowledged command waits; runtime commands
// (26-50) only while running, the block updates (26-45) not while an update is
// pending nor while stopping; the statistics configuration (57-60) not while an
// update is pending or stopping; STOP not while another acknowledged command
// waits.
PvlResult Gate(uint32_t command) {
  const VfePhase phase = g_vfe.phase;
  const bool running = VfeRunningFlag();
  if (command <= 25) return running || g_vfe.ackWaiting ? PVL_E_FAIL : PVL_OK;
  if (command <= 50) {
    if (!running || phase == VfePhase::Stopping) return PVL_E_FAIL;
    if (phase == VfePhase::UpdatePending && command <= 45) return PVL_E_FAIL;
    return PVL_OK;
  }
  if (command == VFE_CMD_STOP) return g_vfe.ackWaiting ? PVL_E_FAIL : PVL_OK;
  if (command >= 57 && command <= 60)
    return phase == VfePhase::UpdatePending || phase == VfePhase::Stopping ? PVL_E_FAIL : PVL_OK;
  return PVL_OK;
}

// ---- Helpers ---------------------------------------------------------------------------------
// Reads `offset` until (value & mask) is non-zero, at most `boundMs`, with the
// driver lock given up between reads so that the interrupt side goes on.
bool Poll(ILock* lock, uint32_t offset, uint32_t mask, DWORD boundMs) {
  DWORD start = GetTickCount();
  for (;;) {
    if (VfeRead(offset) & mask) return true;
    if (GetTickCount() - start >= boundMs) return false;
    Unlocked open(lock);
    Sleep(1);
  }
}

// The values RESET returns the state to (also the state of a new driver). The
// command-2 mode, the message rings, the phase and the acknowledge mark are not
// part of it.
void ResetValues() {
  const uint32_t block2Mode = g_vfe.block2Mode;
  const VfePhase phase = g_vfe.phase;
  const bool ackWaiting = g_vfe.ackWaiting;
  VfeMessageRing rings[2];
  memcpy(rings, g_vfe.ring, sizeof rings);
  memset(&g_vfe, 0, sizeof g_vfe);
  memcpy(g_vfe.ring, rings, sizeof rings);
  g_vfe.phase = phase;
  g_vfe.ackWaiting = ackWaiting;
  g_vfe.block2Mode = block2Mode;
  g_vfe.outputSelect[0] = g_vfe.outputSelect[1] = 3;
  g_vfe.outputMode = 6;
  g_vfe.frameDrop.output1Period = g_vfe.frameDrop.output2Period = 31;
  g_vfe.frameDrop.output1Pattern = g_vfe.frameDrop.output2Pattern = 0xFFFFFFFF;
  g_vfe.periodInForce = 31;
  g_vfe.patternInForce = 0xFFFFFFFF;
  g_vfe.burstDivisor = 8;
  VfeResetPathsAndSlots();
}

// ---- Sequences -------------------------------------------------------------------------------
PvlResult StartSequence(VfeDriverObject* d, const uint8_t* p) {
  const auto mode = VfePayload<VfeOperationMode>(p);
  const uint32_t inputPath = mode.inputPath, snapshot = mode.snapshot, pixelOrder = mode.pixelOrder;
  const uint8_t frames = mode.snapshotFrames;
  if (snapshot == 1 && frames == 0) return PVL_E_BADARG;
  // Checked before anything is programmed or taken, so that a refused START
  // leaves the rings and the hardware as they were.
  const uint32_t needed = snapshot == 1 ? (frames < 2 ? frames : 2) : 2;
  if (!VfeBuffersForStart(needed)) return VFE_E_TOO_FEW_BUFFERS;

  VfeWriteStartValues(pixelOrder);
  VfeWriteGammaBanks();
  g_vfe.snapshot = snapshot == 1;
  g_vfe.frameIndex = 0;
  // A path this START does not count for keeps 0, so that it never holds the end back.
  g_vfe.path[0].snapshotLeft = g_vfe.path[1].snapshotLeft = 0;
  if (g_vfe.snapshot) {
    g_vfe.snapshotFramesLeft = frames;
    if (g_vfe.path[0].enabled) {
      g_vfe.path[0].snapshotLeft = frames;
      g_vfe.periodInForce = g_vfe.frameDrop.output1Period;
      g_vfe.patternInForce = g_vfe.frameDrop.output1Pattern;
    }
    if (g_vfe.path[1].enabled) {
      g_vfe.path[1].snapshotLeft = frames;
      g_vfe.periodInForce = g_vfe.frameDrop.output2Period;
      g_vfe.patternInForce = g_vfe.frameDrop.output2Pattern;
    }
  }
  if (pixelOrder <= 3) g_vfe.statsEnable[kStatsBayer] = 1;
  VfeWriteStatsEnables();
  if (pixelOrder >= 4) g_vfe.moduleEnable[kModYuvInput] = 1;
  g_vfe.moduleEnable[kModPipeline] = 1;
  g_vfe.moduleEnable[kModStatistics] = (g_vfe.statsEnable[kStatsAf] | g_vfe.statsEnable[kStatsAwbExt]) & 1;
  VfeWriteModuleEnables();
  if (inputPath == 2) {
    g_vfe.outputControl.byte0 = 1;
    g_vfe.startControl[0] = 1;
    g_vfe.outputControl.word2 = g_vfe.block2Mode;
  } else {
    VfeWriteCamifConfig();
  }
  VfeWriteOutputControl();
  VfeWrite(kInputFormat, (pixelOrder & 7) | ((inputPath & 3) << 16));
  VfeWrite(kYuvFlag, mode.yuvFlag & 1);
  VfeWrite(kStartDefaults1, 216);
  VfeWrite(kIrqClear, 0xFFFFFFFF);
  VfeWriteOutputSelect();
  g_vfe.irqEnable[kIrqStartOfFrame] = g_vfe.irqEnable[kIrqUpdate] = g_vfe.irqEnable[kIrqResetDone] = 1;
  g_vfe.irqMask = VfePackMask();
  VfeWrite(kIrqMask, g_vfe.irqMask);
  memcpy(g_vfe.writeMasterStart, g_vfe.outputControl.planes, 4);
  VfeWriteWriteMasterStart();
  VfeTransition(VfePhase::Starting);
  VfeArmPaths(needed);
  VfeWrite(kStartDefaults0, 0);
  VfeWrite(kStartDefaults1, 188);
  VfeWrite(kStartDefaults2, 0);
  g_vfe.startControl[1] = 1;
  if (g_vfe.moduleEnable[kModStatistics]) {
    g_vfe.startControl[2] = 1;
    g_vfe.statsRunning = true;
  }
  VfeWrite(kUpdate, 1);
  VfeWriteStartControl();
  if (inputPath != 2) {
    VfeWrite(kCamifCommand, kCamifArmStart);
    VfeWrite(kCamifCommand, kCamifStart);
  }
  if (g_vfe.block23Deferred) {
    g_vfe.block23Deferred = false;
    VfeWrite(kBlock23Control, kBlock23Start);
  }
  if (g_vfe.outputMode == 3) {
    if (!Poll(d->links.lock, kOutput2Armed, kArmedMask, kRawArmPollMs)) return PVL_E_TIMEOUT;
    SetEvent(d->links.ackEvent);
  }
  return PVL_OK;
}

PvlResult ResetSequence() {
  ResetValues();
  VfeTransition(VfePhase::Resetting);
  g_vfe.irqEnable[kIrqResetDone] = 1;
  g_vfe.irqMask = VfePackMask();
  VfeWrite(kIrqMask, 0);
  VfeWrite(kIrqClear, 0xFFFFFFFF);
  VfeWrite(kIrqMask, g_vfe.irqMask);
  VfeWrite(kResetCmd, kResetAll);
  return PVL_OK;
}

PvlResult StopSequence(VfeDriverObject* d) {
  VfeTransition(VfePhase::Stopping);
  g_vfe.statsRunning = false;
  VfeWrite(kWriteMasterCmd, kWriteMastersStop);
  VfeWrite(kIrqMask, 0);
  VfeWrite(kCamifCommand, kCamifStopNow);
  VfeWrite(kClockEnable, 0);
  VfeWrite(kStopRequest, 1);
  VfeWrite(kBlock23Control, kBlock23Stop);
  // A stop status that never comes does not hold the stop: the reset below and
  // its acknowledge decide.
  if (!Poll(d->links.lock, kStopStatus, kStopAcknowledged, kStopPollMs))
    CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "VFE stop status did not come within %d ms", int(kStopPollMs));
  VfeWrite(kStopRequest, 0);
  VfeWrite(kIrqClear, 0xFFFFFFFF);
  VfeWrite(kIrqMask, kIrqStoppingBits);
  VfeWrite(kResetCmd, kResetAfterStop);
  return PVL_OK;
}

PvlResult UpdateSequence() {
  g_vfe.moduleEnable[kModStatistics] = (g_vfe.statsEnable[kStatsAf] | g_vfe.statsEnable[kStatsAwbExt]) & 1;
  VfeWriteModuleEnables();
  VfeWriteStatsEnables();
  g_vfe.irqMask = VfePackMask();
  VfeWrite(kIrqMask, g_vfe.irqMask);
  if (g_vfe.moduleEnable[kModStatistics] && !g_vfe.statsRunning) {
    g_vfe.statsRunning = true;
    g_vfe.startControl[2] = 1;
    VfeWriteStartControl();
  }
  VfeTransition(VfePhase::UpdatePending);
  VfeWrite(kUpdate, 1);
  return PVL_OK;
}

// START, RESET and STOP: the sequence, then the acknowledge wait with the lock
// given up. Nothing else that needs an acknowledge runs meanwhile.
PvlResult Acknowledged(VfeDriverObject* d, uint32_t command, const uint8_t* p) {
  if (!ResetEvent(d->links.ackEvent)) return PVL_E_FAIL;
  g_vfe.ackWaiting = true;
  PvlResult r = command == VFE_CMD_START ? StartSequence(d, p)
                : command == VFE_CMD_RESET ? ResetSequence()
                                           : StopSequence(d);
  if (r == PVL_OK) {
    DWORD w;
    {
      Unlocked open(d->links.lock);
      w = WaitForSingleObject(d->links.ackEvent, kVfeAckTimeoutMs);
    }
    r = w == WAIT_OBJECT_0 ? PVL_OK : w == WAIT_TIMEOUT ? PVL_E_TIMEOUT : PVL_E_FAIL;
  }
  g_vfe.ackWaiting = false;
  if (command == VFE_CMD_START) {
    if (r == PVL_OK && g_vfe.phase == VfePhase::Starting) VfeTransition(VfePhase::Running);
    if (r != PVL_OK && g_vfe.phase == VfePhase::Starting) {
      // The camera interface may already run: stop it, so that no frame flows
      // into buffers while the driver reports idle.
      VfeWrite(kCamifCommand, kCamifStopNow);
      VfeWrite(kWriteMasterCmd, kWriteMastersStop);
      VfeTransition(VfePhase::Idle);
    }
  }
  if (r != PVL_OK && r != VFE_E_TOO_FEW_BUFFERS && r != PVL_E_BADARG)
    CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "VFE command %d not acknowledged: %d", int(command), int(r));
  return r;
}

// A block command's enable flag, kept for the next START or UPDATE.
template <class Record>
void SetEnable(ModuleBit flag, const uint8_t* p) {
  g_vfe.moduleEnable[flag] = VfePayload<Record>(p).enable;
}

PvlResult SetNotify(VfeDriverObject* d, uint32_t ring, const uint8_t* p) {
  IPvlBase* object = VfePayload<VfeNotifyCmd>(p).notify;
  IPvlBase* control = nullptr;
  if (object) {
    void* out = nullptr;
    PvlResult r = object->QueryInterface(ZUEUID_IFACE_SIGNAL_CONTROL, &out);
    if (r != PVL_OK || !out) return r != PVL_OK ? r : PVL_E_NOTSUPPORTED;
    control = static_cast<IPvlBase*>(static_cast<ISignalControl*>(out));
  }
  IPvlBase* old = d->links.notify[ring];
  d->links.notify[ring] = control;
  if (old) old->Release();
  return PVL_OK;
}

PvlResult Output(const uint8_t* p) {
  struct ModeRow {
    uint8_t out1, out2, planes[4], irq18, irq19, camif[2], word3, select[2];
  };
  static constexpr ModeRow kModes[6] = {
      {1, 0, {0, 0, 1, 1}, 0, 1, {1, 0}, 0, {3, 3}}, {0, 1, {1, 1, 0, 0}, 1, 0, {1, 0}, 0, {3, 3}},
      {1, 1, {1, 1, 1, 1}, 1, 1, {1, 0}, 0, {3, 3}}, {0, 1, {0, 1, 0, 0}, 1, 0, {0, 1}, 1, {2, 3}},
      {1, 1, {1, 1, 0, 1}, 1, 1, {1, 1}, 2, {3, 2}}, {1, 1, {0, 1, 1, 1}, 1, 1, {1, 1}, 1, {2, 3}},
  };
  VfeOutputPath& out1 = g_vfe.path[0];
  VfeOutputPath& out2 = g_vfe.path[1];
  const auto c = VfePayload<VfeOutputCmd>(p);
  // A buffer's fragments fill at most half of a path's eight addresses.
  if (c.output1.fragmentCount > 4 || c.output2.fragmentCount > 4) return PVL_E_BADARG;
  const uint8_t fragments1 = c.output1.fragmentCount, fragments2 = c.output2.fragmentCount;
  out1.fragments = fragments1 ? fragments1 : 1;
  out2.fragments = fragments2 ? fragments2 : 1;
  if (fragments1 > 1) out1.multiFragment = true;
  if (fragments2 > 1) out2.multiFragment = true;
  const uint32_t burst = c.burstCode;
  g_vfe.outputControl.word2 = burst;
  if (burst == 0) g_vfe.burstDivisor = 8;
  if (burst == 1) g_vfe.burstDivisor = 6;
  if (burst == 2) g_vfe.burstDivisor = 5;
  const uint32_t mode = c.outputMode;
  g_vfe.outputMode = mode;
  if (mode <= 5) {
    const ModeRow& m = kModes[mode];
    out1.enabled = m.out1;
    out2.enabled = m.out2;
    memcpy(g_vfe.outputControl.planes, m.planes, 4);
    g_vfe.irqEnable[kIrqOutput2Done] = m.irq18;
    g_vfe.irqEnable[kIrqOutput1Done] = m.irq19;
    memcpy(g_vfe.camifBytes, m.camif, 2);
    g_vfe.outputControl.word3 = m.word3;
    memcpy(g_vfe.outputSelect, m.select, 2);
    // Planes on a multi-fragment path: OUT2 luma 10, OUT2 chroma 11, OUT1 luma 12, OUT1 chroma 13.
    for (uint32_t i = 0; i < 4; ++i) {
      const VfeOutputPath& path = i < 2 ? out2 : out1;
      if (m.planes[i] && path.multiFragment) g_vfe.irqEnable[kIrqOutput2Y + i] = 1;
    }
  }
  VfeFreshPingPong(out1);
  VfeFreshPingPong(out2);
  VfeWriteOutput(p);
  return PVL_OK;
}

void Camif(const uint8_t* p) {
  const auto c = VfePayload<VfeCamifCmd>(p);
  const uint32_t frame = c.frameGeometry1;
  if (c.irq1Enable == 1 && c.irq1Line <= frame) g_vfe.irqEnable[kIrqCamif1] = 1;
  if (c.irq2Enable == 1 && c.irq2Line <= frame) g_vfe.irqEnable[kIrqCamif2] = 1;
  g_vfe.camif = c;
  VfeWriteCamif(p);
}

void WbExpStats(const uint8_t* p) {
  const auto c = VfePayload<VfeWbExpStatsCmd>(p);
  for (uint32_t i = 0; i < 2; ++i) {
    VfeStatsSlot& s = g_vfe.stats[i];
    const uint32_t* buffers = i == 0 ? c.afBuffer : c.wbExpBuffer;
    s.buffer[0] = buffers[0];
    s.buffer[1] = buffers[1];
    s.next = buffers[2];
    s.busy = false;
  }
  VfeWriteWbExpStats(p);
}

PvlResult Handle(VfeDriverObject* d, uint32_t command, uint8_t* p) {
  switch (command) {
    case VFE_CMD_START:
    case VFE_CMD_RESET:
    case VFE_CMD_STOP:
      return Acknowledged(d, command, p);
    case VFE_CMD_BLOCK2: {
      g_vfe.irqEnable[kIrqBlock2] = 1;
      const uint32_t mode = VfePayload<VfeBlock2Cmd>(p).burst;
      g_vfe.block2Mode = mode == 1 || mode == 2 ? mode : 0;
      VfeWriteBlock2(p);
      VfeWrite(kBlock2Control, 15);
      return PVL_OK;
    }
    case VFE_CMD_CAMIF: Camif(p); return PVL_OK;
    case VFE_CMD_OUTPUT: return Output(p);
    case VFE_CMD_BLACK_LEVEL:
    case VFE_CMD_BLACK_LEVEL_UPDATE: SetEnable<VfeBlackLevelCmd>(kModBlackLevel, p); VfeWriteBlackLevel(p); return PVL_OK;
    case VFE_CMD_ROLLOFF: SetEnable<VfeRolloffCmd>(kModRolloff, p); VfeWriteRolloff(p); return PVL_OK;
    case VFE_CMD_CHANNEL_GAIN:
    case VFE_CMD_CHANNEL_GAIN_UPDATE: VfeWriteChannelGain(p); return PVL_OK;
    case VFE_CMD_DEMOSAIC: SetEnable<VfeDemosaicCmd>(kModDemosaic, p); VfeWriteDemosaic(p); return PVL_OK;
    case VFE_CMD_DEMOSAIC_UPDATE1: VfeWriteDemosaicUpdate1(p); return PVL_OK;
    case VFE_CMD_DEMOSAIC_UPDATE2: VfeWriteDemosaicUpdate2(p); return PVL_OK;
    case VFE_CMD_FOV_CROP:
    case VFE_CMD_FOV_CROP_UPDATE: SetEnable<VfeFovCropCmd>(kModFovCrop, p); VfeWriteFovCrop(p); return PVL_OK;
    case VFE_CMD_MAIN_SCALER:
    case VFE_CMD_MAIN_SCALER_UPDATE: SetEnable<VfeMainScalerCmd>(kModMainScaler, p); VfeWriteMainScaler(p); return PVL_OK;
    case VFE_CMD_WHITE_BALANCE:
    case VFE_CMD_WHITE_BALANCE_UPDATE: SetEnable<VfeWhiteBalanceCmd>(kModWhiteBalance, p); VfeWriteWhiteBalance(p); return PVL_OK;
    case VFE_CMD_COLOR_CORR:
    case VFE_CMD_COLOR_CORR_UPDATE: SetEnable<VfeColorCorrCmd>(kModColourCorrection, p); VfeWriteColorCorr(p); return PVL_OK;
    case VFE_CMD_LUMA_ADAPTATION: SetEnable<VfeLumaAdaptationCmd>(kModLumaAdaptation, p); VfeWriteLumaTable(g_vfe.lumaBank, p); return PVL_OK;
    case VFE_CMD_LUMA_ADAPTATION_UPDATE:
      SetEnable<VfeLumaAdaptationCmd>(kModLumaAdaptation, p);
      g_vfe.lumaBank ^= 1;
      VfeWriteLumaTable(g_vfe.lumaBank, p);
      return PVL_OK;
    case VFE_CMD_GAMMA: SetEnable<VfeGammaCmd>(kModGamma, p); VfeWriteGammaTables(p, false); return PVL_OK;
    case VFE_CMD_GAMMA_UPDATE: SetEnable<VfeGammaCmd>(kModGamma, p); VfeWriteGammaTables(p, true); return PVL_OK;
    case VFE_CMD_COLOR_CONV:
    case VFE_CMD_COLOR_CONV_UPDATE: SetEnable<VfeColorConvCmd>(kModColourConversion, p); VfeWriteColorConv(p); return PVL_OK;
    case VFE_CMD_CHROMA_SUPP:
    case VFE_CMD_CHROMA_SUPP_UPDATE: SetEnable<VfeChromaSuppCmd>(kModChromaSuppression, p); VfeWriteChromaSupp(p); return PVL_OK;
    case VFE_CMD_ASF: SetEnable<VfeAsfCmd>(kModAsf, p); VfeWriteAsf(p, true); return PVL_OK;
    case VFE_CMD_ASF_UPDATE: SetEnable<VfeAsfUpdateCmd>(kModAsf, p); VfeWriteAsf(p, false); return PVL_OK;
    case VFE_CMD_OUTPUT_Y_SCALER:
    case VFE_CMD_OUTPUT_Y_SCALER_UPDATE: SetEnable<VfeOutputScalerCmd>(kModYScaler, p); VfeWriteOutputScaler(kYScaler, p); return PVL_OK;
    case VFE_CMD_OUTPUT_CBCR_SCALER:
    case VFE_CMD_OUTPUT_CBCR_SCALER_UPDATE: SetEnable<VfeOutputScalerCmd>(kModCbCrScaler, p); VfeWriteOutputScaler(kCbCrScaler, p); return PVL_OK;
    case VFE_CMD_BLOCK20: SetEnable<VfeBlock20Cmd>(kModBlock20, p); VfeWriteBlock20(p); return PVL_OK;
    case VFE_CMD_FRAME_DROP:
      g_vfe.frameDrop = VfePayload<VfeFrameDropCmd>(p);
      VfeWriteFrameDrop(p);
      return PVL_OK;
    case VFE_CMD_FRAME_DROP_UPDATE: VfeWriteFrameDropUpdate(p); return PVL_OK;
    case VFE_CMD_BLOCK22: VfeWriteBlock22(p); return PVL_OK;
    case VFE_CMD_BLOCK23:
      VfeWriteBlock23(p);
      if (VfeRunningFlag())
        VfeWrite(kBlock23Control, kBlock23Start);
      else
        g_vfe.block23Deferred = true;
      return PVL_OK;
    case VFE_CMD_SET_NOTIFY: return SetNotify(d, 0, p);
    case VFE_CMD_SET_NOTIFY2: return SetNotify(d, 1, p);
    case VFE_CMD_UPDATE: return UpdateSequence();
    case VFE_CMD_CAMIF_UPDATE: VfeWriteCamifUpdate(p); return PVL_OK;
    case VFE_CMD_AF_STATS_UPDATE: VfeWriteAfStatsUpdate(p); return PVL_OK;
    case VFE_CMD_AWBEXT_STATS_UPDATE: VfeWriteAwbExtStatsUpdate(p); return PVL_OK;
    case VFE_CMD_ACK_STATS_AF:
    case VFE_CMD_ACK_STATS_WB_EXP: {
      VfeStatsSlot& s = g_vfe.stats[command - VFE_CMD_ACK_STATS_AF];
      s.next = VfePayload<VfeStatsAckCmd>(p).buffer;
      s.busy = false;
      return PVL_OK;
    }
    case VFE_CMD_GET_HW_INFO: {
      uint32_t v = VfeRead(kVersion);
      VfeHwInfo info{v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xF};
      memcpy(p, &info, sizeof info);
      return PVL_OK;
    }
    case VFE_CMD_READ_MESSAGE:
    case VFE_CMD_READ_MESSAGE2: {
      VfeMessage m;
      PvlResult r = VfeReadMessage(command - VFE_CMD_READ_MESSAGE, &m);
      if (r == PVL_OK) memcpy(p, &m, sizeof m);
      return r;
    }
    case VFE_CMD_QUERY_OUTPUT: {
      VfeOutputQuery q{g_vfe.frameCounter, g_vfe.path[0].dropped, g_vfe.path[1].dropped};
      memcpy(p, &q, sizeof q);
      return PVL_OK;
    }
    case VFE_CMD_WB_EXP_STATS: WbExpStats(p); return PVL_OK;
    case VFE_CMD_AF_STATS:
      g_vfe.statsEnable[kStatsAf] = VfePayload<VfeAfStatsCmd>(p).enable;
      g_vfe.irqEnable[kIrqAfDone] = 1;
      VfeWriteAfStats(p);
      return PVL_OK;
    case VFE_CMD_AF_STATS_STOP:
      VfeWrite(kAfWindow, 0);
      g_vfe.statsEnable[kStatsAf] = 0;
      g_vfe.irqEnable[kIrqAfDone] = 0;
      return PVL_OK;
    case VFE_CMD_AWBEXT_STATS:
      g_vfe.statsEnable[kStatsAwbExt] = VfePayload<VfeAwbExtStatsCmd>(p).enable;
      g_vfe.irqEnable[kIrqWbExpDone] = 1;
      VfeWriteAwbExtStats(p);
      return PVL_OK;
    case VFE_CMD_AWBEXT_STATS_STOP:
      g_vfe.statsEnable[kStatsAwbExt] = 0;
      g_vfe.irqEnable[kIrqWbExpDone] = 0;
      return PVL_OK;
    case VFE_CMD_ACK_OUTPUT_MODE1:
    case VFE_CMD_ACK_OUTPUT: {
      return VfeQueueBuffers(command - VFE_CMD_ACK_OUTPUT_MODE1, VfePayload<VfeAckOutputCmd>(p));
    }
    default:
      return PVL_E_UNSUPPORTED;
  }
}

void ReleaseResources(VfeDriverObject* d) {
  for (int r = 1; r >= 0; --r) {
    if (d->links.notify[r]) d->links.notify[r]->Release();
    d->links.notify[r] = nullptr;
  }
  if (d->links.ackEvent) CloseHandle(d->links.ackEvent);
  d->links.ackEvent = nullptr;
  if (d->links.lock) d->links.lock->Release();
  d->links.lock = nullptr;
}

// Undoes what construction did and gives the memory back.
void Destroy(VfeDriverObject* d) {
  IEnv* env = d->env;
  if (env) env->AddRef();
  if (g_current == d) {
    g_vfeLinks = nullptr;
    g_current = nullptr;
  }
  if (d->hardwareOn) vfe_unconfig_clks();
  ReleaseResources(d);
  if (d->env) d->env->Release();
  void* block = d;
  d->~VfeDriverObject();
  if (env) {
    env->Realloc(0, &block);
    env->Release();
  }
}

PvlResult Construct(VfeDriverObject* d, IEnv* env) {
  d->self = d;
  d->refs = 0;
  d->env = env;
  env->AddRef();
  void* lock = nullptr;
  PvlResult r = env->CreateInstance(ZUEUID_CLASS_LOCK, &lock);
  if (r != PVL_OK) return r;
  if (!lock) return PVL_E_FAIL;
  d->links.lock = static_cast<ILock*>(lock);
  d->links.ackEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!d->links.ackEvent) return PVL_E_FAIL;

  VfeMapRegisters();
  vfe_config_clks_common(4);
  vfe_config_clks_sensor();
  d->hardwareOn = true;
  const VfeMessageRing empty[2] = {};
  memcpy(g_vfe.ring, empty, sizeof empty);
  g_vfe.phase = VfePhase::Idle;
  g_vfe.ackWaiting = false;
  ResetValues();
  g_vfeLinks = &d->links;
  g_current = d;
  if (vfe_init(&VfeInterruptRoutine, nullptr) != 0) return PVL_E_FAIL;
  return PVL_OK;
}

}  // namespace

void VfeTransition(VfePhase to) { g_vfe.phase = to; }

bool VfeRunningFlag() {
  VfePhase p = g_vfe.phase;
  return p == VfePhase::Running || p == VfePhase::UpdatePending || p == VfePhase::Stopping;
}

const VfeDriverState& VfeDriverStateForTest() { return g_vfe; }

PvlResult VfeDriver_CreateInstance(IEnv* env, ZUEUID clsid, void*, void** out) {
  if (clsid != ZUEUID_CLASS_VFE_DRIVER) return PVL_E_NOTSUPPORTED;
  if (!env || !out) return PVL_E_NULLPTR;
  // One VFE, one driver: a second one would re-clock the running front end and
  // clear the live driver's rings.
  if (g_current) return PVL_E_NOTREADY;
  void* block = nullptr;
  PvlResult r = env->ReallocTagged(sizeof(VfeDriverObject), &block, VFE_ALLOCATION_TAG);
  if (r != PVL_OK || !block) {
    if (block) env->Realloc(0, &block);
    return r != PVL_OK ? r : PVL_E_OUTOFMEMORY;
  }
  memset(block, 0, sizeof(VfeDriverObject));
  VfeDriverObject* d = new (block) VfeDriverObject();
  r = Construct(d, env);
  if (r != PVL_OK) {
    Destroy(d);
    return r;
  }
  *out = static_cast<ICameraDriver*>(d);
  d->AddRef();
  return PVL_OK;
}

int32_t VfeDriverObject::AddRef() {
  if (!self) return 0;
  return atomic_atomic_Add(&self->refs, 1);
}

int32_t VfeDriverObject::Release() {
  if (!self) return 0;
  int32_t n = atomic_atomic_Add(&self->refs, -1);
  if (n == 0) Destroy(self);
  return n;
}

PvlResult VfeDriverObject::QueryInterface(ZUEUID iid, void** out) {
  if (!self) return PVL_E_NULLPTR;
  if (!out) return PVL_E_NULLPTR;
  if (iid != ZUEUID_IFACE_BASE && iid != ZUEUID_IFACE_CAMERA_DRIVER) {
    *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }
  *out = static_cast<ICameraDriver*>(self);
  self->AddRef();
  return PVL_OK;
}

// The VFE driver offers none of the optional operations.
PvlResult VfeDriverObject::OptionalQueryA(void*, uint32_t, uint32_t*) { return PVL_E_UNSUPPORTED; }
PvlResult VfeDriverObject::OptionalSetA(void*) { return PVL_E_UNSUPPORTED; }
PvlResult VfeDriverObject::OptionalQueryB(void*, uint32_t, uint32_t*) { return PVL_E_UNSUPPORTED; }
PvlResult VfeDriverObject::OptionalSetB(void*) { return PVL_E_UNSUPPORTED; }

PvlResult VfeDriverObject::Command(uint32_t command, void* input, uint32_t inputSize, void*, uint32_t, uint32_t*) {
  if (!self) return PVL_E_NULLPTR;
  if ((!input && inputSize) || (input && !inputSize)) return PVL_E_NULLPTR;
  if (!SizeFits(command, inputSize)) return PVL_E_BADARG;
  VfeDriverObject* d = self;
  LockGuard guard(d->links.lock);
  PvlResult gate = Gate(command);
  if (gate != PVL_OK) return gate;
  return Handle(d, command, static_cast<uint8_t*>(input));
}

PvlResult VfeDriverObject::Stop() {
  if (!self) return PVL_E_NULLPTR;
  return vfe_stop() != 0 ? PVL_E_FAIL : PVL_OK;
}
