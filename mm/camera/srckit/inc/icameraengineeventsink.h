// The engine's event sink: where the VFE service's receive thread reports
// finished frames, statistics and the end of a snapshot. The result of OnEvent
// becomes the result of the raising operation.
#pragma once

#include <stdint.h>

#include "pvlbase.h"

#define ZUEUID_IFACE_CAMERAENGINE_EVENTSINK 0x010753c6u

// Event kinds: (argument, object).
#define EVENT_OUTPUT 0           // (output identifier, the frame's media buffer)
#define EVENT_STATS_AVAILABLE 1  // (1 auto-focus / 0 white balance and exposure, the statistics object)
#define EVENT_SNAPSHOT_DONE 2    // (0, null)
#define EVENT_OUTPUT_LOST 3      // (output identifier, null): the VFE lost frames of a streaming output

class ICameraEngineEventSink : public IPvlBase {
 public:
  // Other kinds answer 20.
  virtual PvlResult OnEvent(uint32_t kind, uint32_t argument, IPvlBase* object) = 0;  // 3

 protected:
  ~ICameraEngineEventSink() = default;
};
