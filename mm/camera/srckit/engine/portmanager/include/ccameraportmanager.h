// The port manager: turns the VFE service's video outputs into the engine's
// client-facing ports and routes every finished frame to its port.
//
// One video port per YUV output; the main-image port on the largest YUV output
// and the thumbnail port on the second; the raw (Bayer) output feeds the
// main-image port. In a still capture it lets through only the requested
// number of frames of each still output, stamps the platform's date/time
// overlay into the main image and sends main image and thumbnail either
// straight to their ports or into JPEG encoding. No lock of its own: every
// call runs inside an engine event, under the engine's lock.
#pragma once

#include <stdint.h>

#include <map>

#include "ccamerastillport.h"
#include "ccameravideoport.h"
#include "cpvlobject.h"
#include "icamerasensorservice.h"
#include "icamerastatemachine.h"
#include "ivfeservice.h"

// Overlay layouts.
#define CAMERA_STAMP_SEMIPLANAR_420 0x10001u  // luma, then one interleaved chroma plane
#define CAMERA_STAMP_PLANAR_420_CRCB 0x20001u  // luma, Cr plane, Cb plane
#define CAMERA_STAMP_PLANAR_420 0x40001u       // luma, Cb plane, Cr plane
#define CAMERA_STAMP_PACKED_422 0x40002u       // Y0 Cr Y1 Cb per pixel pair

class CCameraPortManager final : public CPvlObject {
 public:
  // 29 without an environment or VFE service; 2 out of memory; the first
  // failing construction step.
  static PvlResult Create(IEnv* env, ICameraStateMachine* machine, IVfeService* vfe, ICameraSensorService* sensor,
                          CCameraPortManager** manager);

  // Video ports by ascending output identifier, then the main-image port, then
  // the thumbnail port; each stored (one reference) while count < capacity.
  PvlResult GetPorts(ICameraPort** ports, uint32_t capacity, uint32_t* count);
  PvlResult GetMainVideoOutput(uint32_t* outputId, CameraPortFormat* format);
  PvlResult GetSnapshotMainFormat(uint32_t* outputId, CameraPortFormat* format);
  PvlResult GetSnapshotThumbnailFormat(uint32_t* outputId, CameraPortFormat* format);
  PvlResult SetSnapshotCount(uint32_t count);
  uint32_t GetSnapshotCount() const { return m_snapshotCount; }
  // 20 without a JPEG manager (no JPEG service).
  PvlResult GetJpegProperties(IPropertyStore** store);
  bool IsJpegOutput();
  PvlResult SetPortMode(uint8_t mode);
  PvlResult GetEnabledVideoFormats(CameraPortFormat* formats, uint32_t capacity, uint32_t* count);
  PvlResult GetEnabledSnapshotFormats(CameraPortFormat* formats, uint32_t capacity, uint32_t* count);
  PvlResult QueueVideoFrame(uint32_t outputId, IPvlMediaBuffer* buffer);
  // The VFE lost a frame of the output's video stream.
  PvlResult VideoFrameLost(uint32_t outputId);
  // The sensor stopped answering: every started video port ends its stream.
  void VideoDeviceLost();
  PvlResult QueueSnapshotFrame(uint32_t outputId, IPvlMediaBuffer* buffer);
  PvlResult StartSnapshot();
  PvlResult StopSnapshot();

  CCameraMainImagePort* MainImagePort() const { return m_mainImagePort.Get(); }
  CCameraThumbnailPort* ThumbnailPort() const { return m_thumbnailPort.Get(); }

  // Blends a 24-bit R, G, B stamp (rows packed) into a frame of image width x
  // height at (x, y); pixels whose R is 0 (4:2:2: any byte 0) are transparent.
  // The stamp is clipped to the frame and the frame's size is checked against
  // frameSize; 4:2:0 layouts place it on even coordinates. crFirst: the frame
  // stores Cr before Cb (NV21). Returns 1 when it drew, 0 when nothing was done.
  static uint32_t OverlayTimeStamp(const uint8_t* source, uint8_t* destination, uint32_t frameSize,
                                   uint32_t stampWidth, uint32_t stampHeight, uint32_t imageWidth,
                                   uint32_t imageHeight, uint32_t x, uint32_t y, uint32_t format, bool crFirst);

 private:
  struct Record {
    CPvlPtr<IVideoOutput> output;
    CPvlPtr<ICameraPort> video;
    CPvlPtr<ICameraPort> still;
  };

  CCameraPortManager(IEnv* env, ICameraStateMachine* machine, IVfeService* vfe, ICameraSensorService* sensor);
  ~CCameraPortManager() override;
  PvlResult Construct();
  // First format's area; raises CZUEException with the query's failure.
  static uint64_t Area(IVideoOutput* output);
  void StampMainFrame(IPvlMediaBuffer* buffer);
  PvlResult RouteSnapshotFrame(uint32_t outputId, IPvlMediaBuffer* buffer);

  CPvlPtr<ICameraStateMachine> m_machine;
  CPvlPtr<IVfeService> m_vfe;
  CPvlPtr<ICameraSensorService> m_sensor;
  CPvlPtr<CCameraMainImagePort> m_mainImagePort;
  CPvlPtr<CCameraThumbnailPort> m_thumbnailPort;
  uint32_t m_mainOutputId;
  uint32_t m_thumbnailOutputId;
  uint32_t m_snapshotCount;
  uint32_t m_mainDelivered;
  uint32_t m_thumbnailDelivered;
  std::map<uint32_t, Record> m_ports;
};
