// What the device manager's test driver observed (read by the test through
// the exported TestDriverGetState).
#pragma once

#include <string>

#include "wince.h"

struct TestDriverState {
  int attaches;
  int detaches;
  int tstInits;
  int tstDeinits;
  int tspInits;
  int tspDeinits;
  WCHAR tstActiveKey[64];
  WCHAR tspActiveKey[64];
  DWORD tstContext;      // what TST_Init returned
  LPCVOID tspBusContext;  // what TSP_Init was given
  HANDLE subDevice;      // the device TST_Init activated
  DWORD subDeviceError;
  HANDLE lastOpenCaller;
  int opens;
  int closes;
  DWORD powerState;
  DWORD indexFromDeviceKey;
  // TEST_IOCTL_BLOCK: sets `entered`, waits for `release` (set by
  // TST_PreDeinit), then notes how many Deinits it saw.
  HANDLE entered;
  HANDLE release;
  int preDeinits;
  int deinitsSeenByBlockedCall;
};

typedef TestDriverState* (*TestDriverGetStateFn)();

// Control codes of the test driver.
#define TEST_IOCTL_CALLER 1u
#define TEST_IOCTL_BLOCK 2u
