// Test controls of the framework host. Only tests call these; system code never does.
#pragma once

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "hostsymbols.h"
#include "pvlbase.h"

extern "C" {

// --- Class doubles ---------------------------------------------------------
// Registers a factory for a class identifier. Registered factories come before the
// host's own classes and the modules, so a test can put a double in place of a
// module class or of a host service (a clock, say). The host calls
// factory(environment, clsid, environment, &out); it returns 0 with *out holding one
// reference, or a code. A second registration replaces the first. 29 for a null
// factory.
int32_t OrbhostTest_RegisterClass(ZUEUID clsid, PvlClassFactory factory);
// 14 when the class has no registered factory.
int32_t OrbhostTest_UnregisterClass(ZUEUID clsid);
void OrbhostTest_UnregisterAllClasses(void);

// --- Allocator ---------------------------------------------------------------
// Blocks of the environment's allocator alive now: with this tag, or all (null).
uint32_t OrbhostTest_LiveBlocks(const char* tag);
// The n-th allocation or growth request from now fails with 2 (1: the next one);
// 0 cancels.
void OrbhostTest_FailAllocation(uint32_t n);

// --- Host objects --------------------------------------------------------------
// Objects of the host's own classes alive now (locks, clocks, signal queues and
// their signals, thread hosts, property stores and faces).
int32_t OrbhostTest_LiveHostObjects(void);

// --- Module loader -------------------------------------------------------------
// Scans another module directory (a host path) for module information files
// instead of the start-up script's; null goes back to the script's. Modules already
// mapped stay mapped and keep serving their classes when listed again.
int32_t OrbhostTest_SetModuleDirectory(const char* hostDirectory);
// 1 when the module of this base name (without ".mif", any case) is mapped and
// bound, else 0.
int32_t OrbhostTest_IsModuleMapped(const char* name);
// How many times a module's image was mapped since the process started.
uint32_t OrbhostTest_ModuleMapCount(const char* name);

// --- Debug output ------------------------------------------------------------------
// Assertion breaks (dbg_dbg_Break) seen, and the value of the last one.
uint32_t OrbhostTest_BreakCount(void);
uintptr_t OrbhostTest_LastBreakValue(void);
}

// Lines given to dbg_dbg_Message while a capture runs.
struct OrbhostTestMessage {
  std::string text;
  int32_t level;
  std::string fileName;
  int32_t line;
};
void OrbhostTest_MessageCaptureBegin();
std::vector<OrbhostTestMessage> OrbhostTest_MessageCaptureEnd();

// Live block counts by tag (tags with live blocks only).
std::vector<std::pair<std::string, uint32_t>> OrbhostTest_LiveBlocksByTag();
