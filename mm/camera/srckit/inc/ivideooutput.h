// IVideoOutput: one frame sink of the VFE (the raw output and the two processed
// NV21 outputs). Each output has two modes, 0 still capture and 1 video, each
// with its own format, enable flag and buffer pool. The engine's ports read
// formats and buffer needs through it and give each mode its buffer manager.
#pragma once

#include <stdint.h>

#include "cameraportformat.h"
#include "icamerabuffermanager.h"
#include "pvlbase.h"

class IPvlMediaBuffer;
class ISignalControl;

#define ZUEUID_IFACE_VIDEO_OUTPUT 0xdad2487eu

// Colour space of the raw (Bayer) output: the RGB one.
#define ZUEUID_COLORSPACE_RAW ZUEUID_COLORSPACE_RGB

// Output modes.
#define VIDEO_OUTPUT_MODE_STILL 0
#define VIDEO_OUTPUT_MODE_VIDEO 1

// A width-height pair.
struct VfeSize {
  uint32_t width;
  uint32_t height;
};
static_assert(sizeof(VfeSize) == 8, "");

// A mode other than 0 or 1 answers 14 throughout.
class IVideoOutput : public IPvlBase {
 public:
  // (null, 0) gives only the count; otherwise up to capacity records; 14 for
  // other combinations or a null count.
  virtual PvlResult GetFormats(CameraPortFormat* formats, int32_t capacity, int32_t* count) = 0;  // 3
  virtual PvlResult GetOutputId(uint32_t* id) = 0;                                               // 4: 29 on null
  virtual PvlResult IsEnabled(uint32_t mode, uint8_t* enabled) = 0;                              // 5
  virtual PvlResult Enable(uint32_t mode, uint8_t on) = 0;                                       // 6
  // Non-zero when format `index` may be offered in every smaller standard size
  // (the output's flag).
  virtual PvlResult IsFormatScalable(uint8_t* scalable, uint32_t index) = 0;                     // 7
  // The mode's buffer requests: (null, 0) gives only the count.
  virtual PvlResult GetBufferInfo(uint32_t mode, BufferRequest* records, int32_t capacity, uint32_t* count) = 0;  // 8
  virtual PvlResult GetBufferAllocator(uint32_t mode, ICameraBufferManager** allocator) = 0;     // 9
  // Null detaches the mode's manager.
  virtual PvlResult SetBufferManager(uint32_t mode, ICameraBufferManager* manager) = 0;          // 10
  virtual PvlResult GetFormat(uint32_t mode, CameraPortFormat* format) = 0;                      // 11
  virtual PvlResult SetFormat(uint32_t mode, const CameraPortFormat* format) = 0;                // 12
  // Two counters of the output, the first its frame counter.
  virtual PvlResult QueryStatus(uint32_t* first, uint32_t* second) = 0;                          // 13
  // The service's ready-to-ack signal of this output (null: none), one reference.
  virtual PvlResult GetReadySignal(ISignalControl** signal) = 0;                                 // 14
  virtual uint32_t GetSupportedFormatCount() = 0;                                                // 15
  virtual const CameraPortFormat* GetSupportedFormats() = 0;                                     // 16
  // Called for each output when the VFE reports the end of a snapshot.
  virtual PvlResult OnSnapshotDone(uint32_t ignored) = 0;                                        // 17
  // Gives one buffer to the VFE.
  virtual PvlResult AckBuffer(IPvlMediaBuffer* buffer) = 0;                                      // 18
  // Selects the VFE output path that AckBuffer feeds.
  virtual PvlResult SetAckMode(uint32_t path) = 0;                                               // 19

 protected:
  ~IVideoOutput() = default;
};
