// CameraPortFormat: the video format record exchanged by the engine's ports, the
// VFE service's outputs, the driver's format translation and the host's JPEG
// service (which takes the main and thumbnail formats in it). It lives with the
// host's interfaces so that the host needs no camera header.
#ifndef CAMERAPORTFORMAT_H
#define CAMERAPORTFORMAT_H

#include <stddef.h>
#include <stdint.h>

#define ZUEUID_COLORSPACE_YUV 0x01042885u
#define ZUEUID_COLORSPACE_RGB 0x01042886u  // what the raw Bayer output carries

// FourCC codes of the record: four characters, the first in the low byte.
#define CAMERA_FOURCC(a, b, c, d) \
  ((uint32_t)(uint8_t)(a) | (uint32_t)(uint8_t)(b) << 8 | (uint32_t)(uint8_t)(c) << 16 | (uint32_t)(uint8_t)(d) << 24)
#define CAMERA_FOURCC_NV21 CAMERA_FOURCC('N', 'V', '2', '1')  // Y plane, then V/U pairs
#define CAMERA_FOURCC_NV12 CAMERA_FOURCC('N', 'V', '1', '2')  // Y plane, then U/V pairs
#define CAMERA_FOURCC_IJPG CAMERA_FOURCC('I', 'J', 'P', 'G')  // a JPEG port's format

struct CameraPortFormat {
  uint32_t idColorSpace;
  uint32_t FourCC;
  uint32_t Depth;
  uint32_t Width;
  uint32_t Height;
  uint32_t HorizontalSampling;
  uint32_t VerticalSampling;
  uint32_t Stride;
  uint32_t FrameInterval;  // microseconds
  uint8_t AutoFrameRate;   // byte 36
  uint8_t Pad[3];
  int32_t ClipLeft, ClipTop, ClipRight, ClipBottom;
};
static_assert(sizeof(CameraPortFormat) == 56);
static_assert(offsetof(CameraPortFormat, Width) == 12);
static_assert(offsetof(CameraPortFormat, FrameInterval) == 32);
static_assert(offsetof(CameraPortFormat, AutoFrameRate) == 36);

#endif
