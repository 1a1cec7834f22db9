// Why a transition happens. The state that asks for a transition names the
// reason; the machine hands it to Leave of the old and Enter of the new state.
// Only Ready looks at it: entering from Uninit initialises the engine, leaving
// for Uninit or after a fatal error uninitialises it; every other way in or out
// of Ready keeps the sensor running.
#pragma once

#include <stdint.h>

enum EngineTransitionReason : uint32_t {
  ENGINE_REASON_START = 0,               // the machine's Start: Invalid -> Uninit
  ENGINE_REASON_INITIALIZE = 1,          // Uninit -> Ready
  ENGINE_REASON_UNINITIALIZE = 2,        // Ready -> Uninit
  ENGINE_REASON_START_SNAPSHOT = 3,      // Ready -> Snapshot, Video -> SnapshotVideoPaused
  ENGINE_REASON_STOP_CAPTURE = 4,        // any snapshot or offline state -> Ready
  ENGINE_REASON_START_VIDEO = 5,         // Ready -> Video
  ENGINE_REASON_RESTART_VIDEO = 6,       // Video -> Video
  ENGINE_REASON_STOP_VIDEO = 7,          // Video -> Ready
  ENGINE_REASON_CAPTURE_COMPLETE = 9,    // a capture ends: to Ready, or back to Video
  ENGINE_REASON_RAW_CAPTURE = 10,        // a snapshot state -> its offline state
  ENGINE_REASON_FATAL_ERROR = 13,        // Video -> Ready, Ready -> Invalid
};
