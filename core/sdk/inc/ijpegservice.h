// IJpegService (class ZUEUID_CLASS_JPEGSERVICE): the host's JPEG encoder, and the
// listener through which it asks for output buffers and reports its work.
#ifndef IJPEGSERVICE_H
#define IJPEGSERVICE_H

#include <stdint.h>

#include "cameraportformat.h"
#include "ienv.h"
#include "pvlbase.h"

class IPvlMediaBuffer;
class IPropertyStore;

#define ZUEUID_IFACE_JPEGSERVICE ZUEUID_CLASS_JPEGSERVICE
#define ZUEUID_IFACE_JPEGSERVICE_LISTENER 0x01058149u

// The settings SetProperties registers in the store and StartEncode reads, and the
// EXIF group whose members become the image's tags.
#define ZUEUID_PROPERTY_JPEG_QUALITY 0x01045579u            // main image, 1..100
#define ZUEUID_PROPERTY_JPEG_THUMBNAIL_QUALITY 0x0104557Au  // 1..100
#define ZUEUID_PROPERTY_JPEG_ROTATION 0x0105F95Du           // degrees
#define ZUEUID_PROPERTY_JPEG_OPTION 0x01062FEFu             // one byte
#define ZUEUID_PROPERTY_JPEG_MAIN_CROP 0x0104596Eu          // rectangle of the main frame
#define ZUEUID_PROPERTY_JPEG_THUMBNAIL_CROP 0x0104596Fu     // rectangle of the thumbnail frame
#define ZUEUID_PROPERTY_GROUP_EXIF 0x0104596Bu
#define ZUEUID_PROPERTY_EXIF_TUNING_DATA 0x01045973u        // block: the tuning text, a member of the group

// Every started image ends with exactly one of these; an Abort always ends with
// EVENT_ENCODE_ABORT, also when no encode was running. An image whose done or error
// event was already on its way when Abort came keeps that event, and the abort event
// follows it: a listener waiting for the abort must not take that done or error event
// as the end of its wait.
#define EVENT_ENCODE_DONE 0x05814800u
#define EVENT_ENCODE_ERROR 0x05814801u
#define EVENT_ENCODE_ABORT 0x05814802u

// Called by the service on threads of its own; `context` is the service itself.
class IJpegServiceListener : public IPvlBase {
 public:
  // An output buffer for the encoded image, with one reference for the service.
  virtual PvlResult GetDeliveryBuffer(void* context, uint32_t flag, IPvlMediaBuffer** buffer) = 0;  // 3
  virtual PvlResult OnEvent(void* context, uint32_t event) = 0;                                     // 4
  // A finished image in a buffer from GetDeliveryBuffer (actual size set).
  virtual PvlResult OutputProducedHandler(void* context, IPvlMediaBuffer* buffer) = 0;              // 5

 protected:
  ~IJpegServiceListener() = default;
};

class IJpegService : public IPvlBase {
 public:
  virtual PvlResult Reserved3() = 0;                                   // 3: answers 20
  virtual PvlResult Reserved4() = 0;                                   // 4: answers 20
  virtual PvlResult SetListener(IJpegServiceListener* listener) = 0;   // 5
  // Both fill a BufferRequest (bufferrequest.h).
  virtual PvlResult QueryBufferInfo(void* requirements) = 0;              // 6
  virtual PvlResult GetOutputBufferRequirements(void* requirements) = 0;  // 7
  virtual PvlResult Reserved8() = 0;                                      // 8: answers 20
  // A format of all zeros means no thumbnail.
  virtual PvlResult SetThumbnailFormat(const CameraPortFormat* format) = 0;  // 9
  virtual PvlResult SetMainFormat(const CameraPortFormat* format) = 0;       // 10
  virtual PvlResult Reserved11() = 0;                                        // 11: answers 20
  virtual PvlResult SetProperties(IPropertyStore* store) = 0;                // 12
  // Begins one image; 0 when accepted.
  virtual PvlResult StartEncode(IPropertyStore* store) = 0;               // 13
  virtual PvlResult Abort() = 0;                                          // 14
  virtual PvlResult DeliverThumbnailFrame(IPvlMediaBuffer* frame) = 0;    // 15
  virtual PvlResult DeliverMainFrame(IPvlMediaBuffer* frame) = 0;         // 16

 protected:
  ~IJpegService() = default;
};

#endif
