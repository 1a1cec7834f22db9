// The still ports: the captured still images of a snapshot.
//
// The still port binds the port base to mode 0 (still capture) of its VFE
// output. The main-image port carries the full-size image: uncompressed frames,
// raw Bayer frames from the raw output, or (format "IJPG") JPEG files made by
// its JPEG manager from the main output's NV21 frame and a thumbnail. The
// thumbnail port carries the small image to its own client and, while a JPEG
// is made, into the JPEG as its embedded thumbnail, scaled down in software
// when the client asked for a larger one. The output frames of a JPEG capture
// come from per-capture buffer managers that exist only between StartCapture
// and StopCapture.
#pragma once

#include <stdint.h>

#include "ccameraport.h"
#include "cjpegmanager.h"

class CCameraStillPort : public CCameraPort {
 public:
  PvlResult GetFormat(CameraPortFormat* format) override;
  PvlResult SetFormat(const CameraPortFormat* format) override;
  PvlResult GetBufferRequirements(BufferRequest* records, uint32_t capacity, uint32_t* count) override;
  PvlResult GetBufferAllocator(ICameraBufferManager** allocator) override;
  PvlResult SetBufferManager(ICameraBufferManager* manager) override;
  PvlResult Start() override;
  PvlResult Stop() override;
  // The first of the output's still buffer records and, for a non-zero kind,
  // the last one of that kind (1 when there is none, 2 out of memory).
  virtual PvlResult GetBufferRequirement(BufferRequest* record, uint32_t kind);

 protected:
  CCameraStillPort(IEnv* env, uint32_t type, PvlResult* result);
  ~CCameraStillPort() override;
};

class CCameraThumbnailPort final : public CCameraStillPort {
 public:
  static PvlResult Create(IEnv* env, CCameraThumbnailPort** port);

  PvlResult Start() override;
  PvlResult Stop() override;
  // The main-image port's need of the output (while a JPEG takes its thumbnail).
  PvlResult SetActive(uint8_t needed);
  bool IsClientStarted() const { return m_clientStarted != 0; }

 private:
  CCameraThumbnailPort(IEnv* env, PvlResult* result);
  ~CCameraThumbnailPort() override;

  uint8_t m_mainNeedsOutput;
  uint8_t m_clientStarted;
};

class CCameraMainImagePort final : public CCameraStillPort, public CJpegManager::Client {
 public:
  static PvlResult Create(IEnv* env, CCameraMainImagePort** port);

  PvlResult GetFormat(CameraPortFormat* format) override;
  PvlResult SetFormat(const CameraPortFormat* format) override;
  PvlResult GetBufferRequirements(BufferRequest* records, uint32_t capacity, uint32_t* count) override;
  PvlResult GetBufferAllocator(ICameraBufferManager** allocator) override;
  PvlResult SetBufferManager(ICameraBufferManager* manager) override;
  PvlResult GetSupportedFormats(CameraPortFormat* formats, uint32_t capacity, uint32_t* count) override;
  PvlResult QueueFrame(IPvlMediaBuffer* buffer) override { return CCameraPort::QueueFrame(buffer); }

  // Primary operation: the raw (Bayer) output that feeds the raw path.
  virtual PvlResult SetRawOutput(IVideoOutput* output);
  void SetThumbnailPort(CCameraThumbnailPort* port);
  bool IsJpegOutput();
  bool IsRawPath();
  bool IsJpegAvailable() const { return m_jpegAvailable != 0; }

  PvlResult StartCapture(uint32_t count);
  PvlResult StopCapture();
  PvlResult OnMainFrame(IPvlMediaBuffer* frame);
  PvlResult OnThumbnailFrame(IPvlMediaBuffer* frame);
  PvlResult GetDeliveryBuffer(uint32_t flag, IPvlMediaBuffer** buffer) override;
  PvlResult GetJpegProperties(IPropertyStore** store);
  // The JPEG manager (null without the JPEG service); not reference-added.
  CJpegManager* JpegManager() const { return m_jpegManager.Get(); }
  // The thumbnail format going into the JPEG.
  const CameraPortFormat& JpegThumbnailFormat() const { return m_jpegThumbnailFormat; }

  // The predefined JPEG thumbnails: wide (for main images of ratio 1.66 and
  // more) and normal. NV21, as the still outputs deliver.
  static const CameraPortFormat kWideThumbnail;
  static const CameraPortFormat kNormalThumbnail;

  // Nearest-neighbour scaling of a semi-planar 4:2:0 frame (down only; both
  // at least 2 x 2, else 1). A source of another shape gives its centre, cut
  // to the target's aspect, so the picture is never stretched.
  static PvlResult Resize(const uint8_t* source, uint32_t sourceWidth, uint32_t sourceHeight, uint8_t* destination,
                          uint32_t width, uint32_t height);

 private:
  CCameraMainImagePort(IEnv* env, PvlResult* result);
  ~CCameraMainImagePort() override;
  PvlResult Construct();
  PvlResult ComputeThumbnailCrop();
  PvlResult MakeBufferManager(const BufferRequest& request, CPvlPtr<ICameraBufferManager>& manager);
  PvlResult StartJpegCapture();
  PvlResult ResizeIntoThumbnail(IPvlMediaBuffer* frame, ICameraBufferManager* targets);

  CPvlPtr<ICameraBufferManager> m_clientBufferManager;
  CPvlPtr<ICameraBufferManager> m_jpegBufferManager;
  CPvlPtr<ICameraBufferManager> m_thumbnailBufferManager;
  // The JPEG thumbnails cut from the thumbnail output's frames, when the
  // output runs at the main image's aspect (m_thumbnailCut).
  CPvlPtr<ICameraBufferManager> m_thumbnailCutManager;
  CPvlPtr<IVideoOutput> m_rawOutput;
  CPvlPtr<CCameraThumbnailPort> m_thumbnailPort;
  CPvlPtr<CJpegManager> m_jpegManager;
  CPvlPtr<IPvlBase> m_further;
  CameraPortFormat m_currentFormat;
  CameraPortFormat m_jpegThumbnailFormat;
  uint8_t m_thumbnailInJpeg;
  uint8_t m_thumbnailResize;
  uint8_t m_thumbnailCut = 0;
  uint32_t m_captureCount;
  uint32_t m_secondCounter;
  uint8_t m_jpegAvailable;
};
