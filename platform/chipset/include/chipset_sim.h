// Simulation and test controls of the chipset stand-in. Board models and
// tests use these; the system's code never does.
#ifndef CHIPSET_SIM_H
#define CHIPSET_SIM_H

#include <stdint.h>

#include <string>
#include <vector>

#include "chipset.h"

// ---- Register windows and models --------------------------------------------
// A window is a range of physical addresses backed by plain memory (its
// registers' stored values). A model may hook the window: chip_reg_read32 /
// chip_reg_write32 on an address inside it then call the hooks instead of the
// plain access. `cell` is the register's stored word, which the hook may read
// and update. Hooks run on the accessing thread, outside every chipset lock.
struct ChipSimWindowHooks {
  uint32_t (*read32)(void* context, uint32_t offset, volatile uint32_t* cell);            // may be null
  void (*write32)(void* context, uint32_t offset, uint32_t value, volatile uint32_t* cell);  // may be null
};

// Creates the window [physical, physical + size) (plain, zeroed memory) or,
// when exactly that window exists, keeps its memory. Hooks may be null (a
// passive window). False when the range overlaps another window differently,
// is empty or wraps.
bool ChipSimAddWindow(uint32_t physical, uint32_t size, const ChipSimWindowHooks* hooks, void* context);
// Replaces the hooks of the window that starts at physical (null: passive).
bool ChipSimSetWindowHooks(uint32_t physical, const ChipSimWindowHooks* hooks, void* context);

// The virtual address of physical memory: inside a contiguous-memory block or
// a register window, when [physical, physical + length) lies inside one of
// them; otherwise null. Board models use it to write into frame buffers.
void* ChipSimPhysToVirt(uint32_t physical, uint32_t length);

// Register access trace of one window (by its start address).
struct ChipSimRegAccess {
  uint32_t physical;
  uint32_t value;
  bool write;
};
void ChipSimTraceWindow(uint32_t physical, bool on);
std::vector<ChipSimRegAccess> ChipSimTakeTrace();

// ---- Contiguous memory ---------------------------------------------------------
struct ChipSimPmemBlock {
  uint32_t physical;
  void* virtualAddress;
  uint32_t size;
  uint32_t flags;
};
std::vector<ChipSimPmemBlock> ChipSimPmemBlocks();
// The next `count` pmem_malloc calls fail (0 clears).
void ChipSimPmemFailNext(int count);

// ---- Recorded calls -------------------------------------------------------------
// Every chipset call (except register reads and writes) is recorded with its
// arguments, in order; the log keeps the latest 20,000 calls.
struct ChipSimCall {
  std::string name;
  std::vector<uint32_t> args;
  std::string text;  // the string argument, if any
};
std::vector<ChipSimCall> ChipSimCalls();
void ChipSimClearCalls();
// A listener sees every recorded call as it happens (on the caller's thread,
// outside the chipset's locks). Returns an id for removal.
typedef void (*ChipSimCallListener)(void* context, const ChipSimCall& call);
int ChipSimAddCallListener(ChipSimCallListener listener, void* context);
void ChipSimRemoveCallListener(int id);

// ---- Clock state -------------------------------------------------------------
struct ChipSimClockState {
  std::vector<uint32_t> enabledRegimes;  // ascending
  uint32_t vfeClock = 0;                 // last clk_regime_sel_vfe_clk
  uint32_t vfeSource = 0;                // last clk_regime_sel_vfe_src
  uint32_t cameraClockHz = 0;            // last clk_regime_krs_sel_camclk
  std::vector<std::string> devmanClients;
};
ChipSimClockState ChipSimClocks();
bool ChipSimRegimeEnabled(uint32_t regime);
// The enabled regimes 0-63 as bits (bit n: regime n), in one read.
uint64_t ChipSimLowRegimesEnabled();

// ---- Diagnostic messages -------------------------------------------------------
struct ChipSimMessage {
  int kind;  // 1 for msg_send_1, 3 for msg_send_3
  uint16_t line;
  uint16_t subsystem;
  uint32_t levelMask;
  std::string text;
  std::string fileName;
  uint32_t args[3];
};
std::vector<ChipSimMessage> ChipSimMessages();
void ChipSimClearMessages();

// ---- Display ----------------------------------------------------------------------
// ddi_disp2d_blt is recorded as a call whose args are the 11 words of the
// source, the 11 of the destination, the 4 parameter words and the flags.
// It answers `result` from now on (0 by default); null records always fail.
void ChipSimSetDisplayResult(int result);

// ---- Interrupt lock --------------------------------------------------------------
bool ChipSimIntLockHeldByCaller();

#endif  // CHIPSET_SIM_H
