// Format translation between the engine's port formats and the capture protocol's
// video information headers and data ranges. The camera device builds each pin's
// offered ranges from its port's formats; a pin turns its negotiated format back
// into a port format when it configures the port.
#pragma once

#include <stdint.h>

#include "cameraportformat.h"
#include "csprotocol.h"

// FOURCCs of the formats the driver knows: the ports' own, and the protocol's YV12
// and Bayer orders.
inline constexpr uint32_t kFourccNV12 = CAMERA_FOURCC_NV12;
inline constexpr uint32_t kFourccNV21 = CAMERA_FOURCC_NV21;
inline constexpr uint32_t kFourccIJPG = CAMERA_FOURCC_IJPG;
inline constexpr uint32_t kFourccYV12 = CAMERA_FOURCC('Y', 'V', '1', '2');
inline constexpr uint32_t kFourccRGGB = CAMERA_FOURCC('R', 'G', 'G', 'B');
inline constexpr uint32_t kFourccGRBG = CAMERA_FOURCC('G', 'R', 'B', 'G');
inline constexpr uint32_t kFourccGBRG = CAMERA_FOURCC('G', 'B', 'R', 'G');
inline constexpr uint32_t kFourccBGGR = CAMERA_FOURCC('B', 'G', 'G', 'R');
// A compression code that is not one of the protocol's carries this bit.
inline constexpr uint32_t kCompressionPrivateBit = 0x8000u;

uint16_t FourccPlanes(uint32_t fourcc);
// Image size of a port format: planar YUV rounds to 8 bytes, Bayer is one byte a
// pixel, JPEG width x height x depth / 8, an unknown FOURCC 0 (logged).
uint32_t PortFormatImageSize(const CameraPortFormat& format);
CsGuid FourccSubtype(uint32_t fourcc);
// The block's compression with the private bit cleared.
uint32_t VideoInfoCompressionCode(const CS_VIDEOINFOHEADER& vih);

void PortFormatToVideoInfo(const CameraPortFormat& format, CS_VIDEOINFOHEADER* vih);
void VideoInfoToDataRange(const CS_VIDEOINFOHEADER& vih, CS_DATARANGE_VIDEO* range);
void VideoInfoToPortFormat(const CS_VIDEOINFOHEADER& vih, CameraPortFormat* format);
