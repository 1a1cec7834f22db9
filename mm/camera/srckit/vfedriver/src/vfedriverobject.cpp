// The VFE driver object, its command gate and dispatch, and the START, RESET,
// STOP and UPDATE sequences (see vfedriverobject.h for its place in the camera).
#include "vfedriverobject.h"

#include <string.h>

#include <new>

#include "hostsymbols.h"
#include "isignalqueue.h"
#include "plindor.h"
#include "pvllog.h"
#include "wince.h"

VfeDriverState g_vfe;
VfeDriverLinks* g_vfeLinks = nullptr;

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
uint32_t U32(const uint8_t* p, uint32_t n) {
  uint32_t v;
  memcpy(&v, p + n, 4);
  return v;
}
uint32_t U16(const uint8_t* p, uint32_t n) { return uint32_t(p[n]) | (uint32_t(p[n + 1]) << 8); }

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
  const uint32_t inputPath = U32(p, 0), snapshot = U32(p, 4), pixelOrder = U32(p, 12);
  const uint8_t frames = p[8];
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
  if (pixelOrder <= 3) g_vfe.statsEnable[5] = 1;
  VfeWriteStatsEnables();
  if (pixelOrder >= 4) g_vfe.moduleEnable[3] = 1;
  g_vfe.moduleEnable[2] = 1;
  g_vfe.moduleEnable[5] = (g_vfe.statsEnable[0] | g_vfe.statsEnable[1]) & 1;
  VfeWriteModuleEnables();
  if (inputPath == 2) {
    g_vfe.outputControl.byte0 = 1;
    g_vfe.startControl[0] = 1;
    g_vfe.outputControl.word2 = g_vfe.block2Mode;
  } else {
    VfeWriteCamifConfig();
  }
  VfeWriteOutputControl();
  VfeWrite(0x014, (pixelOrder & 7) | ((inputPath & 3) << 16));
  VfeWrite(0x1DC, U32(p, 16) & 1);
  VfeWrite(0x0F8, 216);
  VfeWrite(0x01C, 0xFFFFFFFF);
  VfeWriteOutputSelect();
  g_vfe.irqEnable[1] = g_vfe.irqEnable[8] = g_vfe.irqEnable[9] = 1;
  g_vfe.irqMask = VfePackMask();
  VfeWrite(0x018, g_vfe.irqMask);
  memcpy(g_vfe.writeMasterStart, g_vfe.outputControl.planes, 4);
  VfeWriteWriteMasterStart();
  VfeTransition(VfePhase::Starting);
  VfeArmPaths(needed);
  VfeWrite(0x0F4, 0);
  VfeWrite(0x0F8, 188);
  VfeWrite(0x0FC, 0);
  g_vfe.startControl[1] = 1;
  if (g_vfe.moduleEnable[5]) {
    g_vfe.startControl[2] = 1;
    g_vfe.statsRunning = true;
  }
  VfeWrite(0x190, 1);
  VfeWriteStartControl();
  if (inputPath != 2) {
    VfeWrite(0x110, 4);
    VfeWrite(0x110, 1);
  }
  if (g_vfe.block23Deferred) {
    g_vfe.block23Deferred = false;
    VfeWrite(0x36C, 1);
  }
  if (g_vfe.outputMode == 3) {
    if (!Poll(d->links.lock, 0x0DC, 0xFF, kRawArmPollMs)) return PVL_E_TIMEOUT;
    SetEvent(d->links.ackEvent);
  }
  return PVL_OK;
}

PvlResult ResetSequence() {
  ResetValues();
  VfeTransition(VfePhase::Resetting);
  g_vfe.irqEnable[9] = 1;
  g_vfe.irqMask = VfePackMask();
  VfeWrite(0x018, 0);
  VfeWrite(0x01C, 0xFFFFFFFF);
  VfeWrite(0x018, g_vfe.irqMask);
  VfeWrite(0x004, 0x3FF);
  return PVL_OK;
}

PvlResult StopSequence(VfeDriverObject* d) {
  VfeTransition(VfePhase::Stopping);
  g_vfe.statsRunning = false;
  VfeWrite(0x0C8, 2);
  VfeWrite(0x018, 0);
  VfeWrite(0x110, 2);
  VfeWrite(0x00C, 0);
  VfeWrite(0x104, 1);
  VfeWrite(0x36C, 2);
  // A stop status that never comes does not hold the stop: the reset below and
  // its acknowledge decide.
  if (!Poll(d->links.lock, 0x10C, 0x20, kStopPollMs))
    CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "VFE stop status did not come within %d ms", int(kStopPollMs));
  VfeWrite(0x104, 0);
  VfeWrite(0x01C, 0xFFFFFFFF);
  VfeWrite(0x018, 0x3C000200);
  VfeWrite(0x004, 0x3EF);
  return PVL_OK;
}

PvlResult UpdateSequence() {
  g_vfe.moduleEnable[5] = (g_vfe.statsEnable[0] | g_vfe.statsEnable[1]) & 1;
  VfeWriteModuleEnables();
  VfeWriteStatsEnables();
  g_vfe.irqMask = VfePackMask();
  VfeWrite(0x018, g_vfe.irqMask);
  if (g_vfe.moduleEnable[5] && !g_vfe.statsRunning) {
    g_vfe.statsRunning = true;
    g_vfe.startControl[2] = 1;
    VfeWriteStartControl();
  }
  VfeTransition(VfePhase::UpdatePending);
  VfeWrite(0x190, 1);
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
      VfeWrite(0x110, 2);
      VfeWrite(0x0C8, 2);
      VfeTransition(VfePhase::Idle);
    }
  }
  if (r != PVL_OK && r != VFE_E_TOO_FEW_BUFFERS && r != PVL_E_BADARG)
    CAMERA_DEBUG_LOG(CAMERA_LOG_ERROR, "VFE command %d not acknowledged: %d", int(command), int(r));
  return r;
}

void SetEnable(uint32_t flag, const uint8_t* p) { g_vfe.moduleEnable[flag] = p[0]; }

PvlResult SetNotify(VfeDriverObject* d, uint32_t ring, const uint8_t* p) {
  IPvlBase* object;
  memcpy(&object, p, sizeof object);
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

void Output(const uint8_t* p) {
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
  out1.fragments = p[12] ? p[12] : 1;
  out2.fragments = p[30] ? p[30] : 1;
  if (p[12] > 1) out1.multiFragment = true;
  if (p[30] > 1) out2.multiFragment = true;
  const uint32_t burst = U32(p, 8);
  g_vfe.outputControl.word2 = burst;
  if (burst == 0) g_vfe.burstDivisor = 8;
  if (burst == 1) g_vfe.burstDivisor = 6;
  if (burst == 2) g_vfe.burstDivisor = 5;
  const uint32_t mode = U32(p, 4);
  g_vfe.outputMode = mode;
  if (mode <= 5) {
    const ModeRow& m = kModes[mode];
    out1.enabled = m.out1;
    out2.enabled = m.out2;
    memcpy(g_vfe.outputControl.planes, m.planes, 4);
    g_vfe.irqEnable[18] = m.irq18;
    g_vfe.irqEnable[19] = m.irq19;
    memcpy(g_vfe.camifBytes, m.camif, 2);
    g_vfe.outputControl.word3 = m.word3;
    memcpy(g_vfe.outputSelect, m.select, 2);
    // Planes on a multi-fragment path: OUT2 luma 10, OUT2 chroma 11, OUT1 luma 12, OUT1 chroma 13.
    for (uint32_t i = 0; i < 4; ++i) {
      const VfeOutputPath& path = i < 2 ? out2 : out1;
      if (m.planes[i] && path.multiFragment) g_vfe.irqEnable[10 + i] = 1;
    }
  }
  VfeFreshPingPong(out1);
  VfeFreshPingPong(out2);
  VfeWriteOutput(p);
}

void Camif(const uint8_t* p) {
  const uint32_t frame = U16(p, 26);
  if (p[48] == 1 && U16(p, 50) <= frame) g_vfe.irqEnable[4] = 1;
  if (p[52] == 1 && U16(p, 54) <= frame) g_vfe.irqEnable[5] = 1;
  memcpy(g_vfe.camifKept, p, sizeof g_vfe.camifKept);
  VfeWriteCamif(p);
}

void WbExpStats(const uint8_t* p) {
  for (uint32_t i = 0; i < 2; ++i) {
    VfeStatsSlot& s = g_vfe.stats[i];
    uint32_t at = i == 0 ? 12 : 24;
    s.buffer[0] = U32(p, at);
    s.buffer[1] = U32(p, at + 4);
    s.next = U32(p, at + 8);
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
      g_vfe.irqEnable[14] = 1;
      uint32_t mode = U32(p, 40);
      g_vfe.block2Mode = mode == 1 || mode == 2 ? mode : 0;
      VfeWriteBlock2(p);
      VfeWrite(0x0C0, 15);
      return PVL_OK;
    }
    case VFE_CMD_CAMIF: Camif(p); return PVL_OK;
    case VFE_CMD_OUTPUT:
      // A buffer's fragments fill at most half of a path's eight addresses.
      if (p[12] > 4 || p[30] > 4) return PVL_E_BADARG;
      Output(p);
      return PVL_OK;
    case VFE_CMD_BLACK_LEVEL:
    case VFE_CMD_BLACK_LEVEL_UPDATE: SetEnable(0, p); VfeWriteBlackLevel(p); return PVL_OK;
    case VFE_CMD_ROLLOFF: SetEnable(1, p); VfeWriteRolloff(p); return PVL_OK;
    case VFE_CMD_CHANNEL_GAIN:
    case VFE_CMD_CHANNEL_GAIN_UPDATE: VfeWriteChannelGain(p); return PVL_OK;
    case VFE_CMD_DEMOSAIC: SetEnable(4, p); VfeWriteDemosaic(p); return PVL_OK;
    case VFE_CMD_DEMOSAIC_UPDATE1: VfeWriteDemosaicUpdate1(p); return PVL_OK;
    case VFE_CMD_DEMOSAIC_UPDATE2: VfeWriteDemosaicUpdate2(p); return PVL_OK;
    case VFE_CMD_FOV_CROP:
    case VFE_CMD_FOV_CROP_UPDATE: SetEnable(6, p); VfeWriteFovCrop(p); return PVL_OK;
    case VFE_CMD_MAIN_SCALER:
    case VFE_CMD_MAIN_SCALER_UPDATE: SetEnable(7, p); VfeWriteMainScaler(p); return PVL_OK;
    case VFE_CMD_WHITE_BALANCE:
    case VFE_CMD_WHITE_BALANCE_UPDATE: SetEnable(8, p); VfeWriteWhiteBalance(p); return PVL_OK;
    case VFE_CMD_COLOR_CORR:
    case VFE_CMD_COLOR_CORR_UPDATE: SetEnable(9, p); VfeWriteColorCorr(p); return PVL_OK;
    case VFE_CMD_LUMA_ADAPTATION: SetEnable(12, p); VfeWriteLumaTable(g_vfe.lumaBank, p); return PVL_OK;
    case VFE_CMD_LUMA_ADAPTATION_UPDATE:
      SetEnable(12, p);
      g_vfe.lumaBank ^= 1;
      VfeWriteLumaTable(g_vfe.lumaBank, p);
      return PVL_OK;
    case VFE_CMD_GAMMA: SetEnable(13, p); VfeWriteGammaTables(p, false); return PVL_OK;
    case VFE_CMD_GAMMA_UPDATE: SetEnable(13, p); VfeWriteGammaTables(p, true); return PVL_OK;
    case VFE_CMD_COLOR_CONV:
    case VFE_CMD_COLOR_CONV_UPDATE: SetEnable(14, p); VfeWriteColorConv(p); return PVL_OK;
    case VFE_CMD_CHROMA_SUPP:
    case VFE_CMD_CHROMA_SUPP_UPDATE: SetEnable(16, p); VfeWriteChromaSupp(p); return PVL_OK;
    case VFE_CMD_ASF: SetEnable(15, p); VfeWriteAsf(p, true); return PVL_OK;
    case VFE_CMD_ASF_UPDATE: SetEnable(15, p); VfeWriteAsf(p, false); return PVL_OK;
    case VFE_CMD_OUTPUT_Y_SCALER:
    case VFE_CMD_OUTPUT_Y_SCALER_UPDATE: SetEnable(18, p); VfeWriteOutputScaler(0x28C, p); return PVL_OK;
    case VFE_CMD_OUTPUT_CBCR_SCALER:
    case VFE_CMD_OUTPUT_CBCR_SCALER_UPDATE: SetEnable(19, p); VfeWriteOutputScaler(0x2A0, p); return PVL_OK;
    case VFE_CMD_BLOCK20: SetEnable(17, p); VfeWriteBlock20(p); return PVL_OK;
    case VFE_CMD_FRAME_DROP:
      memcpy(&g_vfe.frameDrop, p, sizeof g_vfe.frameDrop);
      VfeWriteFrameDrop(p);
      return PVL_OK;
    case VFE_CMD_FRAME_DROP_UPDATE: VfeWriteFrameDropUpdate(p); return PVL_OK;
    case VFE_CMD_BLOCK22: VfeWriteBlock22(p); return PVL_OK;
    case VFE_CMD_BLOCK23:
      VfeWriteBlock23(p);
      if (VfeRunningFlag())
        VfeWrite(0x36C, 1);
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
      s.next = U32(p, 0);
      s.busy = false;
      return PVL_OK;
    }
    case VFE_CMD_GET_HW_INFO: {
      uint32_t v = VfeRead(0x000);
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
      g_vfe.statsEnable[0] = p[0];
      g_vfe.irqEnable[15] = 1;
      VfeWriteAfStats(p);
      return PVL_OK;
    case VFE_CMD_AF_STATS_STOP:
      VfeWrite(0x2F8, 0);
      g_vfe.statsEnable[0] = 0;
      g_vfe.irqEnable[15] = 0;
      return PVL_OK;
    case VFE_CMD_AWBEXT_STATS:
      g_vfe.statsEnable[1] = p[0];
      g_vfe.irqEnable[16] = 1;
      VfeWriteAwbExtStats(p);
      return PVL_OK;
    case VFE_CMD_AWBEXT_STATS_STOP:
      g_vfe.statsEnable[1] = 0;
      g_vfe.irqEnable[16] = 0;
      return PVL_OK;
    case VFE_CMD_ACK_OUTPUT_MODE1:
    case VFE_CMD_ACK_OUTPUT: {
      VfeAckOutputCmd cmd;
      memcpy(&cmd, p, sizeof cmd);
      return VfeQueueBuffers(command - VFE_CMD_ACK_OUTPUT_MODE1, cmd);
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
