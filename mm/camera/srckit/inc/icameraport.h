// ICameraPort: the engine's output port as its client (the driver's pins) sees
// it. A port is bound to one VFE output and hands its frames over, in order,
// without copying: each frame is the output's own buffer with one reference.
#pragma once

#include <stdint.h>

#include "cameraportformat.h"
#include "icamerabuffermanager.h"
#include "ijpegservice.h"  // the JPEG settings store's crop properties
#include "pvlbase.h"

class IPvlMediaBuffer;
class IVideoOutput;
class ICameraSensorService;

#define ZUEUID_IFACE_CAMERA_PORT 0x01046236u

// Port types.
#define ZUEUID_CAMERA_PORT_VIDEO 0x0104520fu
#define ZUEUID_CAMERA_PORT_MAIN_IMAGE 0x010466f3u
#define ZUEUID_CAMERA_PORT_THUMBNAIL 0x010466f4u

// Port properties read through the port's property face (the output's two
// status counters, the first its frame counter); 32-bit values (type 19).
#define ZUEUID_PROPERTY_PORT_FRAME_COUNT 0x010884a3u
#define ZUEUID_PROPERTY_PORT_STATUS_2 0x010884a4u
// Answered 20 by the port's property face.
#define ZUEUID_PROPERTY_PORT_UNSUPPORTED 0x010884abu

class ICameraPort : public IPvlBase {
 public:
  virtual PvlResult GetPortType(uint32_t* type) = 0;                                          // 3
  virtual PvlResult GetFormat(CameraPortFormat* format) = 0;                                  // 4
  virtual PvlResult SetFormat(const CameraPortFormat* format) = 0;                            // 5
  virtual PvlResult GetBufferRequirements(BufferRequest* records, uint32_t capacity, uint32_t* count) = 0;  // 6
  virtual PvlResult GetBufferAllocator(ICameraBufferManager** allocator) = 0;                     // 7
  virtual PvlResult SetBufferManager(ICameraBufferManager* manager) = 0;                         // 8
  // Count of supported formats; up to capacity records copied when formats is set.
  virtual PvlResult GetSupportedFormats(CameraPortFormat* formats, uint32_t capacity, uint32_t* count) = 0;  // 9
  virtual PvlResult Start() = 0;                                                              // 10
  // Empties the queue and wakes a waiting reader (which gets 47).
  virtual PvlResult Stop() = 0;                                                               // 11
  // Blocks until a frame is queued: 0 with the frame and its reference; 13 when
  // not started or closed; 47 when stopped or closed while waiting.
  virtual PvlResult GetNextFrame(IPvlMediaBuffer** buffer) = 0;                               // 12
  // Binds the port to its output once (13 the second time; 29 for null).
  virtual PvlResult Attach(IVideoOutput* output, ICameraSensorService* sensor) = 0;           // 13
  // 0 closes the port (queue emptied, readers refused); non-zero opens it.
  virtual PvlResult SetMode(uint8_t mode) = 0;                                                // 14
  virtual uint8_t IsStarted() = 0;                                                            // 15
  virtual PvlResult GetOutput(IVideoOutput** output) = 0;                                     // 16
  // Appends a frame (one reference taken) and wakes a reader.
  virtual PvlResult QueueFrame(IPvlMediaBuffer* buffer) = 0;                                  // 17
  // The client's face of the port (ports and property face), one reference on the port.
  virtual ICameraPort* GetProxy() = 0;                                                        // 18
  // Aggregates the proxy into `outer`; returns the proxy's base object.
  virtual IPvlBase* SetProxyOuter(IPvlBase* outer) = 0;                                       // 19

 protected:
  ~ICameraPort() = default;
};
