// The VFE driver's interrupt side. The platform library's VFE interrupt thread
// calls the routine once per interrupt of line 70; it reads and clears the
// status, completes the acknowledged commands (register update for START, reset
// done for RESET and STOP), exchanges output buffers at each frame done, swaps
// statistics buffers, counts frames and turns every event into a VfeMessage on
// ring 1 (frames, statistics, snapshot end, update acknowledge) or ring 2
// (error and status reports). The VFE service drains the rings with commands
// 53 and 54 after their notify signals fire, and gives buffers back with
// commands 48, 49, 63 and 64.
//
// Lock: the routine holds the driver lock while it changes the driver state, so
// that it never interleaves with a command handler (handlers give the lock up
// while they wait for an acknowledge); the notify signals fire after the lock is
// released.
#include <string.h>

#include "isignalqueue.h"
#include "plindor.h"
#include "vfedriverstate.h"
#include "vferegistermap.h"

using namespace vfereg;

namespace {

constexpr uint32_t kAlwaysHandled = 0xC0700041;  // bits 0, 6, 20-22, 30, 31
constexpr uint32_t kOutput1Bits = (1u << kIrqOutput1Y) | (1u << kIrqOutput1C) | (1u << kIrqOutput1Done);
constexpr uint32_t kOutput2Bits = (1u << kIrqOutput2Y) | (1u << kIrqOutput2C) | (1u << kIrqOutput2Done);
static_assert(kOutput1Bits == 0x00083000 && kOutput2Bits == 0x00040C00);

// Notifies owed by posts made under the lock, fired once it is released.
uint32_t g_owedNotify[2];

uint32_t RingOf(uint32_t id) {
  if (id == MSG_VFE_UPDATE_ACK || id == MSG_VFE_SNAPSHOT_DONE || (id >= 9 && id <= 17)) return 0;
  if (id >= 18 && id <= 22) return 1;
  return 2;  // nowhere
}

void PostSimple(uint32_t id) {
  uint32_t ring = RingOf(id);
  if (ring > 1) return;
  VfeMessage m{};
  m.id = id;
  VfePost(ring, m);
}

// Takes the owed notifies under the lock, each with a reference so that a
// concurrent VFE_CMD_SET_NOTIFY cannot free it while it fires.
void TakeOwed(IPvlBase* out[2]) {
  for (uint32_t r = 0; r < 2; ++r) {
    out[r] = nullptr;
    if (g_owedNotify[r] && g_vfeLinks && g_vfeLinks->notify[r]) {
      out[r] = g_vfeLinks->notify[r];
      out[r]->AddRef();
    }
    g_owedNotify[r] = 0;
  }
}

// A signal fires once until its receiver re-arms it: one fire per interrupt is enough.
void FireOwed(IPvlBase* const owed[2]) {
  for (uint32_t r = 0; r < 2; ++r) {
    if (!owed[r]) continue;
    static_cast<ISignalControl*>(owed[r])->Fire();
    owed[r]->Release();
  }
}

struct LockGuard {
  ILock* lock;
  explicit LockGuard(ILock* l) : lock(l) {
    if (lock) lock->Lock();
  }
  ~LockGuard() {
    if (lock) lock->Unlock();
  }
};

uint64_t Now() {
  uint64_t t = 0;
  CameraGetTime(&t);
  return t;
}

void PostFrame(VfeOutputPath& p, uint32_t luma, uint32_t chroma) {
  if (!VfeRunningFlag()) return;
  VfeMessage m{};
  m.id = p.identity == 0 ? MSG_VFE_OUTPUT1 : MSG_VFE_OUTPUT2;
  VfeFrameRecord& f = m.payload.frame;
  f.luma = luma;
  f.chroma = chroma;
  f.status1D8Low = g_vfe.status1D8[0];
  f.status1D8High = g_vfe.status1D8[1];
  f.status264Low = g_vfe.status264[0];
  f.status264High = g_vfe.status264[1];
  f.frameCounter = g_vfe.frameCounter;
  const uint32_t* s = g_vfe.pathStatus + (p.identity == 0 ? kPathStatusOutput1 - kPathStatusOutput2 : 0) / 4;
  memcpy(f.pathStatus, s, sizeof f.pathStatus);
  f.startOfFrameTime[0] = uint32_t(g_vfe.startOfFrameTime);
  f.startOfFrameTime[1] = uint32_t(g_vfe.startOfFrameTime >> 32);
  uint64_t now = Now();
  f.messageTime[0] = uint32_t(now);
  f.messageTime[1] = uint32_t(now >> 32);
  VfePost(0, m);
}

bool TakeEntry(VfeOutputPath& p, VfeBufferEntry* out) {
  if (p.ringCount == 0) return false;
  *out = p.ring[p.ringRead];
  p.ringRead = (p.ringRead + 1) % kVfeFreeBufferRingSize;
  --p.ringCount;
  return true;
}

// A single-fragment frame done. The completed side is the one 0x0C4 names; the
// message carries the pair the driver itself placed there, and a side whose
// buffer was already delivered (not replaced since) yields no message.
void SingleFrameDone(VfeOutputPath& p) {
  uint32_t side = (VfeRead(kPingPongStatus) >> p.pingPongBit) & 1 ? 0 : 1;
  uint32_t lumaRegister = side == 0 ? p.luma.pingRegister : p.luma.pongRegister;
  uint32_t chromaRegister = side == 0 ? p.chroma.pingRegister : p.chroma.pongRegister;
  // In a snapshot the other side still holds a buffer for the one frame after
  // this: with two or fewer frames left no replacement is needed.
  bool lastFrames = g_vfe.snapshot && p.snapshotLeft <= 2;
  VfeBufferEntry entry;
  if (p.armedValid[side] && (p.ringCount > 0 || lastFrames)) {
    uint32_t luma = p.armedLuma[side], chroma = p.armedChroma[side];
    if (TakeEntry(p, &entry)) {
      p.armedLuma[side] = entry.luma[0];
      p.armedChroma[side] = entry.chroma[0];
      VfeWrite(lumaRegister, entry.luma[0]);
      VfeWrite(chromaRegister, entry.chroma[0]);
    } else {
      // Nothing new to give: the registers keep the delivered buffer, which the
      // hardware must not write again; the side is marked spent.
      p.armedValid[side] = false;
    }
    PostFrame(p, luma, chroma);
  } else {
    ++p.dropped;
  }
  if (g_vfe.snapshot && p.snapshotLeft) --p.snapshotLeft;
}

void AdvanceSet(VfeOutputPath& p, VfeAddressSet& s) {
  uint32_t span = 2u * p.fragments;
  uint32_t i = span ? s.fragmentIndex % span : 0;
  s.fragmentIndex = uint16_t(i + 1);
  uint32_t address = i < 8 ? s.address[i] : 0;
  VfeWrite(s.pingPong == 0 ? s.pingRegister : s.pongRegister, address);
  s.pingPong ^= 1;
}

void MultiFrameDone(VfeOutputPath& p) {
  uint32_t base = uint32_t(p.pingPongIndex) * p.fragments;
  VfeBufferEntry entry;
  if (base < 8 && TakeEntry(p, &entry)) {
    uint32_t luma = p.luma.address[base], chroma = p.chroma.address[base];
    for (uint32_t i = 0; i < p.fragments && base + i < 8; ++i) {
      p.luma.address[base + i] = entry.luma[i];
      p.chroma.address[base + i] = entry.chroma[i];
    }
    PostFrame(p, luma, chroma);
  } else {
    ++p.dropped;
  }
  p.pingPongIndex ^= 1;
  if (g_vfe.snapshot && p.snapshotLeft) --p.snapshotLeft;
}

// A frame the path lost in the hardware (an overrun, a stalled or failed write,
// a payload it could not run) is lost as surely as one that found no free
// buffer: it counts with the path's drops, so that the client hears of the gap.
// In a snapshot it also uses up one of the path's frames (the camera interface
// stops after the last one whatever became of it), so that the snapshot still
// ends. The hardware's counter restarts at reset. While video streams the
// service hears of the loss at once: a stalled path sends no frame that could
// carry the count. The frames lost here.
uint32_t CountLostFrames(VfeOutputPath& p, uint32_t lostSinceReset) {
  const uint32_t lost =
      VfeRunningFlag() && lostSinceReset > p.overflowsSeen ? lostSinceReset - p.overflowsSeen : 0;
  p.overflowsSeen = lostSinceReset;
  if (lost == 0) return 0;
  p.dropped += lost;
  if (g_vfe.snapshot) {
    p.snapshotLeft = uint8_t(p.snapshotLeft > lost ? p.snapshotLeft - lost : 0);
  } else {
    VfeMessage m{};
    m.id = MSG_VFE_OUTPUT_LOST;
    m.payload.lost = {p.identity == 0 ? 0u : 1u, lost};
    VfePost(0, m);
  }
  return lost;
}

void HandleOutput(VfeOutputPath& p, uint32_t bits) {
  const uint32_t lumaBit = p.identity == 0 ? kIrqOutput1Y : kIrqOutput2Y;
  const uint32_t chromaBit = p.identity == 0 ? kIrqOutput1C : kIrqOutput2C;
  const uint32_t doneBit = p.identity == 0 ? kIrqOutput1Done : kIrqOutput2Done;
  if (p.multiFragment) {
    if (bits & (1u << chromaBit)) AdvanceSet(p, p.chroma);
    if (bits & (1u << lumaBit)) AdvanceSet(p, p.luma);
    if (bits & (1u << doneBit)) MultiFrameDone(p);
  } else if (bits & (1u << doneBit)) {
    SingleFrameDone(p);
  }
}

// A statistics buffer filled. The swap writes the next buffer into the side the
// hardware just left; once that happened the slot is busy until the service
// gives a buffer back, whether or not the message could be posted, so that one
// buffer never sits in both registers.
void HandleStats(uint32_t which) {
  VfeStatsSlot& s = g_vfe.stats[which];
  if (s.busy || s.next == 0) {
    ++s.overflows;
    return;
  }
  uint32_t index = (VfeRead(kPingPongStatus) >> s.pingPongBit) & 1;
  uint32_t side = index ^ 1;
  uint32_t filled = s.buffer[side];
  VfeWrite(s.registers[side], s.next);
  s.buffer[side] = s.next;
  s.next = 0;
  s.busy = true;
  s.lastFilled = filled;
  VfeMessage m{};
  m.id = which == 0 ? MSG_VFE_STATS_AF : MSG_VFE_STATS_WB_EXP;
  m.payload.stats.buffer = filled;
  m.payload.stats.frameCounter = g_vfe.frameCounter;
  VfePost(0, m);
}

}  // namespace

void VfeClearRings() { memset(g_vfe.ring, 0, sizeof g_vfe.ring); }

void VfeFreshPingPong(VfeOutputPath& p) {
  static constexpr uint32_t kRegisters[2][4] = {{kOut1YPing, kOut1YPong, kOut1CPing, kOut1CPong},
                                                {kOut2YPing, kOut2YPong, kOut2CPing, kOut2CPong}};
  const uint32_t* r = kRegisters[p.identity];
  p.luma.pingRegister = r[0];
  p.luma.pongRegister = r[1];
  p.chroma.pingRegister = r[2];
  p.chroma.pongRegister = r[3];
  p.pingPongIndex = 0;
  p.luma.fragmentIndex = p.chroma.fragmentIndex = 2;
  p.luma.pingPong = p.chroma.pingPong = 0;
}

void VfeResetPathsAndSlots() {
  for (uint32_t i = 0; i < 2; ++i) {
    VfeOutputPath& p = g_vfe.path[i];
    memset(&p, 0, sizeof p);
    p.identity = i;
    p.pingPongBit = i == 0 ? kPingPongOutput1 : kPingPongOutput2;
    VfeStatsSlot& s = g_vfe.stats[i];
    memset(&s, 0, sizeof s);
    s.pingPongBit = i == 0 ? kPingPongAf : kPingPongWbExp;
    s.registers[0] = i == 0 ? kAfPing : kWbExpPing;
    s.registers[1] = i == 0 ? kAfPong : kWbExpPong;
  }
}

bool VfePost(uint32_t ring, const VfeMessage& message) {
  VfeMessageRing& r = g_vfe.ring[ring];
  if (r.count >= kVfeMessageRingSize) return false;
  r.slot[r.write] = message;
  r.write = (r.write + 1) % kVfeMessageRingSize;
  ++r.count;
  ++g_owedNotify[ring];
  return true;
}

PvlResult VfeReadMessage(uint32_t ring, VfeMessage* out) {
  VfeMessageRing& r = g_vfe.ring[ring];
  if (r.count == 0) return PVL_E_STOPPED;
  *out = r.slot[r.read];
  r.read = (r.read + 1) % kVfeMessageRingSize;
  --r.count;
  return PVL_OK;
}

PvlResult VfeQueueBuffers(uint32_t path, const VfeAckOutputCmd& cmd) {
  VfeOutputPath& p = g_vfe.path[path];
  if (cmd.count == 0) return PVL_OK;
  if (!cmd.entries) return PVL_E_NULLPTR;
  if (cmd.count > kVfeFreeBufferRingSize - p.ringCount) return VFE_E_RING_FULL;
  for (uint32_t i = 0; i < cmd.count; ++i) {
    p.ring[p.ringWrite] = cmd.entries[i];
    p.ringWrite = (p.ringWrite + 1) % kVfeFreeBufferRingSize;
    ++p.ringCount;
  }
  return PVL_OK;
}

bool VfeBuffersForStart(uint32_t needed) {
  for (const VfeOutputPath& p : g_vfe.path)
    if (p.enabled && p.ringCount < needed) return false;
  return true;
}

void VfeArmPaths(uint32_t needed) {
  for (VfeOutputPath& p : g_vfe.path) {
    p.armedValid[0] = p.armedValid[1] = false;
    if (!p.enabled) continue;
    uint32_t fragments = p.fragments ? p.fragments : 1;
    for (uint32_t b = 0; b < needed; ++b) {
      VfeBufferEntry e;
      if (!TakeEntry(p, &e)) break;
      for (uint32_t i = 0; i < fragments && b * fragments + i < 8; ++i) {
        p.luma.address[b * fragments + i] = e.luma[i];
        p.chroma.address[b * fragments + i] = e.chroma[i];
      }
      p.armedLuma[b] = e.luma[0];
      p.armedChroma[b] = e.chroma[0];
      p.armedValid[b] = true;
    }
  }
  for (VfeOutputPath& p : g_vfe.path) {
    uint32_t lumaPong = p.luma.address[1] ? p.luma.address[1] : p.luma.address[0];
    uint32_t chromaPong = p.chroma.address[1] ? p.chroma.address[1] : p.chroma.address[0];
    VfeWrite(p.luma.pingRegister, p.luma.address[0]);
    VfeWrite(p.luma.pongRegister, lumaPong);
    VfeWrite(p.chroma.pingRegister, p.chroma.address[0]);
    VfeWrite(p.chroma.pongRegister, chromaPong);
    if (!p.multiFragment && p.armedValid[0] && !p.armedValid[1]) {
      // One buffer in both registers: whichever side completes, it is that buffer,
      // delivered once.
      p.armedLuma[1] = p.armedLuma[0];
      p.armedChroma[1] = p.armedChroma[0];
    }
  }
}

void VfeInterruptRoutine(uint32_t) {
  IPvlBase* owed[2];
  {
    LockGuard guard(g_vfeLinks ? g_vfeLinks->lock : nullptr);
    uint32_t status = VfeRead(kIrqStatus);
    uint32_t r134 = VfeRead(kCamifStatus), r1D8 = VfeRead(kStatus1D8), r264 = VfeRead(kStatus264);
    uint32_t pathStatus[2 * kPathStatusWords];
    for (uint32_t i = 0; i < 2 * kPathStatusWords; ++i) pathStatus[i] = VfeRead(kPathStatusOutput2 + 4 * i);
    VfeWrite(kIrqClear, status);
    if (status != 0) {
      uint32_t bits = g_vfe.phase == VfePhase::Stopping ? status & kIrqStoppingBits
                                                         : status & (g_vfe.irqMask | kAlwaysHandled);
      g_vfe.status264[0] = r264 & 0x1FFF;
      g_vfe.status264[1] = (r264 >> 16) & 0xFFF;
      g_vfe.status1D8[0] = r1D8 & 0xFF;
      g_vfe.status1D8[1] = (r1D8 >> 16) & 0xFF;
      g_vfe.status134[0] = r134 >> 31;
      g_vfe.status134[1] = r134 & 0x3FFF;
      g_vfe.status134[2] = (r134 >> 16) & 0x3FFF;
      memcpy(g_vfe.pathStatus, pathStatus, sizeof pathStatus);
      auto word = [&](uint32_t offset) { return pathStatus[(offset - kPathStatusOutput2) / 4]; };
      const bool lost1 = CountLostFrames(g_vfe.path[0], word(kOutput1LostFrames)) > 0;
      const bool lost2 = CountLostFrames(g_vfe.path[1], word(kOutput2LostFrames)) > 0;
      auto bit = [&](uint32_t b) { return (bits >> b) & 1; };

      if (bit(kIrqUpdate)) {
        if (g_vfe.phase == VfePhase::Starting) {
          VfeTransition(VfePhase::Running);
          if (g_vfeLinks) SetEvent(g_vfeLinks->ackEvent);
        } else {
          PostSimple(MSG_VFE_UPDATE_ACK);
          if (g_vfe.phase == VfePhase::UpdatePending) VfeTransition(VfePhase::Running);
        }
      }
      if (bit(kIrqResetDone)) {
        bool stopping = g_vfe.phase == VfePhase::Stopping;
        VfeTransition(VfePhase::Idle);
        VfeClearRings();
        if (!stopping) VfeWriteResetDefaults();
        if (g_vfeLinks) SetEvent(g_vfeLinks->ackEvent);
      }
      if (bit(kIrqCamif1)) PostSimple(MSG_VFE_CAMIF_IRQ1);
      if (bit(kIrqCamif2)) PostSimple(MSG_VFE_CAMIF_IRQ2);

      if (VfeRunningFlag()) {
        if (bits & kOutput1Bits) HandleOutput(g_vfe.path[0], bits);
        if (bits & kOutput2Bits) HandleOutput(g_vfe.path[1], bits);
        const bool pathsMoved = (bits & (kOutput1Bits | kOutput2Bits)) || lost1 || lost2;
        if (pathsMoved && g_vfe.snapshot && g_vfe.path[0].snapshotLeft == 0 && g_vfe.path[1].snapshotLeft == 0) {
          VfeTransition(VfePhase::Idle);
          PostSimple(MSG_VFE_SNAPSHOT_DONE);
          VfeWrite(kBlock23Control, kBlock23Stop);
          VfeWrite(kWriteMasterCmd, kWriteMastersStop);
        }
        if (bit(kIrqAfDone)) HandleStats(0);
        if (bit(kIrqWbExpDone)) HandleStats(1);
      }

      if (bits & kAlwaysHandled) {
        if (bit(21)) PostSimple(MSG_VFE_STATUS_18);
        if (bit(22)) PostSimple(MSG_VFE_STATUS_19);
        if (bit(30)) PostSimple(MSG_VFE_STATUS_20);
        if (bit(kIrqOutputStatus)) {
          VfeMessage m{};
          m.id = MSG_VFE_OUTPUT_STATUS;
          memcpy(m.payload.words, g_vfe.pathStatus, sizeof g_vfe.pathStatus);
          VfePost(1, m);
        }
        if (bit(kIrqCamifError)) {
          VfeWrite(kCamifCommand, kCamifArmRestart);
          VfeWrite(kCamifCommand, kCamifRestart);
          VfeMessage m{};
          m.id = MSG_VFE_CAMIF_STATUS;
          memcpy(m.payload.words, g_vfe.status134, sizeof g_vfe.status134);
          VfePost(1, m);
        }
        if (bit(6)) PostSimple(MSG_VFE_STATUS_21);
        if (bit(31)) PostSimple(MSG_VFE_STATUS_22);
      }
      for (uint32_t b = 23; b <= 25; ++b)
        if (bit(b)) PostSimple(MSG_VFE_STATUS_11 + (b - 23));
      for (uint32_t b = 26; b <= 29; ++b)
        if (bit(b)) PostSimple(MSG_VFE_STATUS_14 + (b - 26));

      if (bit(kIrqStartOfFrame)) {
        ++g_vfe.frameCounter;
        g_vfe.startOfFrameTime = Now();
        if (g_vfe.snapshot) {
          if (((g_vfe.patternInForce >> (g_vfe.frameIndex & 31)) & 1) && g_vfe.snapshotFramesLeft) {
            // The last kept frame: the camera interface stops after it.
            if (--g_vfe.snapshotFramesLeft == 0) VfeWrite(kCamifCommand, kCamifStopAfterFrame);
          }
          g_vfe.frameIndex = g_vfe.frameIndex >= g_vfe.periodInForce ? 0 : g_vfe.frameIndex + 1;
        }
      }
    }
    TakeOwed(owed);
  }
  FireOwed(owed);
}
