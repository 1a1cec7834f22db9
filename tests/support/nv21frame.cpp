#include "nv21frame.h"

#include <algorithm>
#include <cmath>

namespace camera::test {

std::vector<uint8_t> Nv21Picture(uint32_t w, uint32_t h, uint32_t seed) {
  std::vector<uint8_t> p(static_cast<size_t>(w) * h * 3 / 2);
  uint32_t rnd = seed * 2654435761u + 1;
  auto noise = [&]() {
    rnd = rnd * 1103515245u + 12345u;
    return static_cast<int>((rnd >> 16) % 7) - 3;
  };
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      double v = 110 + 70 * std::sin(x * 0.021 + seed) * std::cos(y * 0.017) + 30.0 * x / (w + 1);
      double dx = x - w * 0.6, dy = y - h * 0.4;
      if (dx * dx + dy * dy < (w * h) / 30.0) v = 220 - 0.1 * (y % 64);  // a bright disc with a hard edge
      if ((x / 16 + y / 16) % 7 == 0) v -= 40;                              // a few dark tiles
      int iv = static_cast<int>(v) + noise();
      p[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(iv < 16 ? 16 : iv > 235 ? 235 : iv);
    }
  }
  uint8_t* vu = p.data() + static_cast<size_t>(w) * h;
  for (uint32_t y = 0; y < h / 2; ++y) {
    for (uint32_t x = 0; x < w / 2; ++x) {
      double v = 128 + 50 * std::sin(x * 0.03 + 1.0);
      double u = 128 + 50 * std::cos(y * 0.025 + seed);
      vu[static_cast<size_t>(y) * w + 2 * x] = static_cast<uint8_t>(v);
      vu[static_cast<size_t>(y) * w + 2 * x + 1] = static_cast<uint8_t>(u);
    }
  }
  return p;
}

std::vector<uint8_t> Nv21Flat(uint32_t w, uint32_t h, uint8_t y, uint8_t v, uint8_t u) {
  const size_t luma = static_cast<size_t>(w) * h;
  std::vector<uint8_t> p(luma * 3 / 2);
  std::fill_n(p.begin(), luma, y);
  for (size_t i = luma; i + 1 < p.size(); i += 2) {
    p[i] = v;
    p[i + 1] = u;
  }
  return p;
}

std::vector<uint8_t> Nv21Noise(uint32_t w, uint32_t h, uint32_t seed) {
  std::vector<uint8_t> p(static_cast<size_t>(w) * h * 3 / 2);
  uint32_t r = seed;
  for (uint8_t& b : p) b = static_cast<uint8_t>((r = r * 1103515245u + 12345u) >> 24);
  return p;
}

}  // namespace camera::test
