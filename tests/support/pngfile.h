// A picture to look at by eye: packed 8-bit RGB written as a PNG. The tests
// that keep a frame and the board's frame tool write their pictures with it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace camera {

// Writes packed 8-bit RGB as a PNG (stored, uncompressed deflate blocks);
// false when the file cannot be written.
bool WriteRgbPng(const std::string& path, const std::vector<uint8_t>& rgb, uint32_t width, uint32_t height);

}  // namespace camera
