// Colour measures for the tests that look at a picture of the board's chart:
// an NV21 frame's mean colour over a patch, sRGB to CIELAB, the CIEDE2000
// difference a viewer would see, and a PNG of a frame to look at by eye.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pngfile.h"

namespace camera::test {

struct Rgb {
  double r, g, b;  // 8-bit sRGB codes, not rounded
};
struct Lab {
  double l, a, b;
};

// The mean of the square of side 2 x half + 1 around (cx, cy) of an NV21
// frame (no row padding), as full-range BT.601 sRGB. The square is cut to the frame.
Rgb Nv21MeanRgb(const uint8_t* nv21, uint32_t width, uint32_t height, uint32_t cx, uint32_t cy, uint32_t half);

// A whole NV21 frame as packed 8-bit RGB.
std::vector<uint8_t> Nv21ToRgb(const uint8_t* nv21, uint32_t width, uint32_t height);

// sRGB (D65) to CIELAB (D65 white).
Lab SrgbToLab(const Rgb& rgb);

// The CIEDE2000 colour difference (kL = kC = kH = 1).
double Ciede2000(const Lab& first, const Lab& second);

// A frame kept to look at.
using camera::WriteRgbPng;

}  // namespace camera::test
