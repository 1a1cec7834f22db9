// The VFE driver's module-wide state (there is one VFE and one driver) and the
// entry points its three parts share: the object and command dispatch
// (vfedriverobject.cpp), the interrupt routine with the message rings, output
// paths and statistics slots (vfeinterrupt.cpp), and the register programming
// (vferegisters.cpp). Everything the interrupt routine touches is here,
// preallocated: no memory is allocated on the interrupt path.
#pragma once

#include <stdint.h>
#include <string.h>

#include <type_traits>

#include "ilock.h"
#include "vfedriver.h"
#include "wince.h"

// The driver's phases. The gate (VfeGateAllows) and the interrupt routine read
// the phase; every change goes through VfeTransition.
enum class VfePhase : uint32_t {
  Idle,           // after creation, reset and stop: configuration accepted
  Starting,       // START programmed; the first register update completes it
  Running,        // frames flow
  UpdatePending,  // UPDATE written; the register-update interrupt ends it
  Stopping,       // STOP written; the reset acknowledge ends it (also after a time-out)
  Resetting,      // RESET written; the reset acknowledge ends it
};

// One plane's ping-pong addresses of an output path.
struct VfeAddressSet {
  uint32_t address[8];      // buffer b fragment i at b x fragments + i
  uint16_t fragmentIndex;
  uint8_t pingPong;         // 0: the next fragment goes to the ping register
  uint32_t pingRegister;
  uint32_t pongRegister;
};

struct VfeOutputPath {
  uint32_t identity;        // 0 OUTPUT1, 1 OUTPUT2
  bool enabled;
  bool multiFragment;
  uint8_t fragments;
  uint8_t pingPongIndex;    // multi-fragment: the buffer the next frame done completes
  VfeAddressSet luma, chroma;
  // What the driver placed in the ping (0) and pong (1) registers of a
  // single-fragment path, and whether that buffer is still the driver's: a frame
  // message names only a buffer the driver gave and has not given back yet.
  uint32_t armedLuma[2], armedChroma[2];
  bool armedValid[2];
  uint8_t snapshotLeft;
  uint8_t pingPongBit;      // 0x0C4: 7 OUTPUT1, 5 OUTPUT2
  uint32_t dropped;
  uint32_t overflowsSeen;   // the path's lost-frame counter (status word 1) at the last interrupt
  VfeBufferEntry ring[kVfeFreeBufferRingSize];
  uint32_t ringRead, ringWrite, ringCount;
};

struct VfeStatsSlot {
  bool busy;
  uint32_t buffer[2];       // what the ping and pong registers hold
  uint32_t next;            // placed at the next statistics interrupt; 0 none
  uint32_t pingPongBit;     // 0x0C4: 8 AF, 9 WB/exposure
  uint32_t registers[2];
  uint32_t overflows;
  uint32_t lastFilled;
};

struct VfeMessageRing {
  VfeMessage slot[kVfeMessageRingSize];
  uint32_t read, write, count;
};

struct VfeDriverState {
  VfePhase phase;
  bool ackWaiting;          // an acknowledged command waits: no second one meanwhile
  bool statsRunning;
  uint8_t moduleEnable[20];
  uint8_t statsEnable[6];
  uint8_t irqEnable[32];
  uint32_t irqMask;
  uint32_t outputMode;
  uint16_t burstDivisor;
  struct {
    uint8_t byte0;
    uint8_t planes[4];      // OUT2 luma, OUT2 chroma, OUT1 luma, OUT1 chroma
    uint32_t word2;
    uint32_t word3;
  } outputControl;
  uint8_t camifBytes[2];
  VfeCamifCmd camif;        // the last VFE_CMD_CAMIF: START takes its head (0x114)
  uint8_t writeMasterStart[4];
  uint8_t outputSelect[3];
  uint8_t startControl[3];
  bool snapshot;
  uint8_t snapshotFramesLeft;
  uint8_t periodInForce;
  uint32_t patternInForce;
  uint32_t frameIndex;
  VfeFrameDropCmd frameDrop;
  uint8_t gammaBank[3];
  uint32_t lumaBank;
  bool block23Deferred;
  uint32_t block2Mode;
  uint32_t frameCounter;
  uint64_t startOfFrameTime;
  // Status read at the latest interrupt.
  uint32_t status1D8[2], status264[2], status134[3], pathStatus[8];
  VfeOutputPath path[2];
  VfeStatsSlot stats[2];    // 0 AF, 1 WB/exposure
  VfeMessageRing ring[2];
};

extern VfeDriverState g_vfe;

// The pieces of the driver object the interrupt side reaches.
struct VfeDriverLinks {
  ILock* lock;
  HANDLE ackEvent;
  IPvlBase* notify[2];  // ISignalControl
};
extern VfeDriverLinks* g_vfeLinks;

// ---- State (vfedriverobject.cpp) --------------------------------------------------------
void VfeTransition(VfePhase to);
bool VfeRunningFlag();  // the hardware runs: Running, UpdatePending or Stopping

// ---- Rings, paths and the interrupt routine (vfeinterrupt.cpp) --------------------------
void VfeClearRings();
// Resets both output paths and statistics slots to their post-RESET records.
void VfeResetPathsAndSlots();
// Stores a message; false when the ring is full. Notifies are fired later by
// VfeFireNotifies, outside the lock.
bool VfePost(uint32_t ring, const VfeMessage& message);
PvlResult VfeReadMessage(uint32_t ring, VfeMessage* out);
PvlResult VfeQueueBuffers(uint32_t path, const VfeAckOutputCmd& cmd);
// Gives the path fresh ping-pong state and its address registers (VFE_CMD_OUTPUT).
void VfeFreshPingPong(VfeOutputPath& p);
// START: do the enabled paths hold the buffers they need?
bool VfeBuffersForStart(uint32_t needed);
// START: takes the first buffers from the rings and writes both paths' registers.
void VfeArmPaths(uint32_t needed);
void VfeInterruptRoutine(uint32_t argument);

// A command's payload as its record. The caller's buffer may be unaligned, so
// the record is copied out rather than pointed at.
template <class Record>
Record VfePayload(const void* p) {
  static_assert(std::is_trivially_copyable_v<Record>);
  Record r;
  memcpy(&r, p, sizeof r);
  return r;
}

// ---- Registers (vferegisters.cpp) --------------------------------------------------------
void VfeMapRegisters();
uint32_t VfeRead(uint32_t offset);
void VfeWrite(uint32_t offset, uint32_t value);
void VfeCopyWords(uint32_t offset, const uint32_t* words, uint32_t count);

uint32_t VfePackMask();
void VfeWriteModuleEnables();
void VfeWriteStatsEnables();
void VfeWriteStartControl();
void VfeWriteOutputControl();
void VfeWriteCamifConfig();
void VfeWriteWriteMasterStart();
void VfeWriteOutputSelect();
void VfeWriteGammaBanks();
void VfeWriteResetDefaults();

// Block writers: each packs a payload (already size-checked) into its registers.
void VfeWriteBlock2(const uint8_t* p);
void VfeWriteCamif(const uint8_t* p);
void VfeWriteCamifUpdate(const uint8_t* p);
void VfeWriteOutput(const uint8_t* p);
void VfeWriteBlackLevel(const uint8_t* p);
void VfeWriteRolloff(const uint8_t* p);
void VfeWriteChannelGain(const uint8_t* p);
void VfeWriteDemosaic(const uint8_t* p);
void VfeWriteDemosaicUpdate1(const uint8_t* p);
void VfeWriteDemosaicUpdate2(const uint8_t* p);
void VfeWriteFovCrop(const uint8_t* p);
void VfeWriteMainScaler(const uint8_t* p);
void VfeWriteOutputScaler(uint32_t base, const uint8_t* p);
void VfeWriteWhiteBalance(const uint8_t* p);
void VfeWriteColorCorr(const uint8_t* p);
void VfeWriteLumaTable(uint32_t bank, const uint8_t* p);
// Writes the gamma table into `bank` of every selected channel; false when the
// selector names no channel.
void VfeWriteGammaTables(const uint8_t* p, bool flipBanks);
void VfeWriteColorConv(const uint8_t* p);
void VfeWriteChromaSupp(const uint8_t* p);
void VfeWriteAsf(const uint8_t* p, bool withSizes);
void VfeWriteBlock20(const uint8_t* p);
void VfeWriteFrameDrop(const uint8_t* p);
void VfeWriteFrameDropUpdate(const uint8_t* p);
void VfeWriteBlock22(const uint8_t* p);
void VfeWriteBlock23(const uint8_t* p);
void VfeWriteAfStatsUpdate(const uint8_t* p);
void VfeWriteAwbExtStatsUpdate(const uint8_t* p);
void VfeWriteWbExpStats(const uint8_t* p);
void VfeWriteAfStats(const uint8_t* p);
void VfeWriteAwbExtStats(const uint8_t* p);
void VfeWriteStartValues(uint32_t pixelOrder);
