// The PNG writer of pngfile.h: no compression, which keeps it short and a
// picture of the camera's size small enough.
#include "pngfile.h"

#include <algorithm>
#include <cstdio>

namespace camera {
namespace {

struct CrcTable {
  uint32_t entry[256];
  CrcTable() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      entry[i] = c;
    }
  }
};

uint32_t Crc(const uint8_t* p, size_t n) {
  // Made once, safely when two threads keep pictures at the same time.
  static const CrcTable kTable;
  const uint32_t* table = kTable.entry;
  uint32_t crc = ~0u;
  for (size_t i = 0; i < n; ++i) crc = table[(crc ^ p[i]) & 0xff] ^ (crc >> 8);
  return ~crc;
}
void Be32(std::vector<uint8_t>& out, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(uint8_t(v >> s));
}
void Chunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& data) {
  Be32(png, uint32_t(data.size()));
  std::vector<uint8_t> body(type, type + 4);
  body.insert(body.end(), data.begin(), data.end());
  png.insert(png.end(), body.begin(), body.end());
  Be32(png, Crc(body.data(), body.size()));
}

}  // namespace

bool WriteRgbPng(const std::string& path, const std::vector<uint8_t>& rgb, uint32_t width, uint32_t height) {
  // A picture with fewer pixels than its size says is not read past its end.
  if (width == 0 || height == 0 || rgb.size() / 3 / width < height) return false;
  std::vector<uint8_t> raw;
  raw.reserve((size_t(width) * 3 + 1) * height);
  for (uint32_t y = 0; y < height; ++y) {
    raw.push_back(0);
    raw.insert(raw.end(), rgb.begin() + size_t(y) * width * 3, rgb.begin() + size_t(y + 1) * width * 3);
  }
  std::vector<uint8_t> z = {0x78, 0x01};
  for (size_t at = 0; at < raw.size();) {
    const size_t n = std::min<size_t>(65535, raw.size() - at);
    z.push_back(at + n == raw.size() ? 1 : 0);
    z.push_back(uint8_t(n));
    z.push_back(uint8_t(n >> 8));
    z.push_back(uint8_t(~n));
    z.push_back(uint8_t(~n >> 8));
    z.insert(z.end(), raw.begin() + at, raw.begin() + at + n);
    at += n;
  }
  uint32_t a = 1, b = 0;
  for (uint8_t c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  Be32(z, b << 16 | a);
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  std::vector<uint8_t> header;
  Be32(header, width);
  Be32(header, height);
  header.insert(header.end(), {8, 2, 0, 0, 0});
  Chunk(png, "IHDR", header);
  Chunk(png, "IDAT", z);
  Chunk(png, "IEND", {});
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(png.data(), 1, png.size(), f) == png.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace camera
