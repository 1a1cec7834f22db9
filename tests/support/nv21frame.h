// NV21 frames for the tests: packed pictures (Y plane, then interleaved V/U at
// half resolution, no row padding) and the port format that describes one.
#pragma once

#include <cstdint>
#include <vector>

#include "cameraportformat.h"

namespace camera::test {

// A picture with smooth gradients, a bright disc with a hard edge, dark tiles and a
// little noise: enough detail for the encoder's quality to show. Same seed, same bytes.
std::vector<uint8_t> Nv21Picture(uint32_t width, uint32_t height, uint32_t seed = 1);

// One colour everywhere.
std::vector<uint8_t> Nv21Flat(uint32_t width, uint32_t height, uint8_t y, uint8_t v, uint8_t u);

// Noise in every byte (what no encoder can squeeze much).
std::vector<uint8_t> Nv21Noise(uint32_t width, uint32_t height, uint32_t seed = 7);

// The port format of a packed NV21 frame of that size, its rows Width * Depth / 8
// bytes apart as the engine's ports and the driver count them, at `intervalUs` per
// frame (0: no rate said). Every test builds its NV21 formats here.
inline CameraPortFormat Nv21Format(uint32_t width, uint32_t height, uint32_t intervalUs = 0) {
  CameraPortFormat f{};
  f.idColorSpace = ZUEUID_COLORSPACE_YUV;
  f.FourCC = CAMERA_FOURCC_NV21;
  f.Depth = 12;
  f.Width = width;
  f.Height = height;
  f.HorizontalSampling = f.VerticalSampling = 2;
  f.Stride = width * 12 / 8;
  f.FrameInterval = intervalUs;
  f.ClipRight = static_cast<int32_t>(width);
  f.ClipBottom = static_cast<int32_t>(height);
  return f;
}

}  // namespace camera::test
