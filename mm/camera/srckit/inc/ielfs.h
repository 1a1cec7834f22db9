// IELFS: an engine plug-in (exposure, white balance, focus, flash, ...). The
// engine's ELFS manager calls every plug-in through this face in a fixed order.
// Result convention: 0 done, 20 not handled (the pass goes on), anything else
// a failure that ends the pass and becomes the engine operation's result.
// The statistics plug-ins live in a separately built module: this slot order
// is a binary contract with it.
#pragma once

#include <stdint.h>

#include "pvlbase.h"

struct CameraPortFormat;
class IPvlMediaBuffer;

#define ZUEUID_IFACE_ELFS 0x010460c5u
#define ZUEUID_CLASS_FLASH_ELFS 0x01089a8cu

// Roles of a configured plug-in (the configuration file's Role attribute).
#define ELFS_ROLE_AWB 0u
#define ELFS_ROLE_AEC 1u
#define ELFS_ROLE_AF 2u
#define ELFS_ROLE_OTHER 3u

class IELFS : public IPvlBase {
 public:
  // `client` is the user-data aggregate's base object: the plug-in queries its
  // settings view from it.
  virtual PvlResult Initialize(IPvlBase* client) = 0;                                // 3
  virtual PvlResult Configure() = 0;                                                 // 4
  virtual PvlResult OnStartVideo(const CameraPortFormat* preview) = 0;               // 5
  virtual PvlResult OnFrame(IPvlMediaBuffer* frame) = 0;                             // 6
  virtual PvlResult OnStats(IPvlBase* statistics) = 0;                               // 7
  virtual PvlResult OnStopVideo() = 0;                                               // 8
  virtual PvlResult OnStartSnapshot(const CameraPortFormat* main, const CameraPortFormat* thumbnail) = 0;  // 9
  // `deliver` starts at 1; a plug-in clears it to keep the frame from the port.
  virtual PvlResult OnSnapshotMainFrame(IPvlMediaBuffer* frame, uint8_t* deliver) = 0;    // 10
  virtual PvlResult OnSnapshotSecondFrame(IPvlMediaBuffer* frame, uint8_t* deliver) = 0;  // 11
  virtual PvlResult OnSnapshotStats(IPvlBase* statistics) = 0;                            // 12
  virtual PvlResult OnStopSnapshot() = 0;                                                 // 13
  // Not called by the engine.
  virtual PvlResult Reserved14(uint32_t a, uint32_t b) = 0;  // 14

 protected:
  ~IELFS() = default;
};
