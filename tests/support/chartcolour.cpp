// The colour measures of chartcolour.h.
#include "chartcolour.h"

#include <algorithm>
#include <cmath>

namespace camera::test {
namespace {

constexpr double kPi = 3.14159265358979323846;

double Clamp8(double v) { return std::min(255.0, std::max(0.0, v)); }

// Full-range BT.601, the VFE's output range.
Rgb YuvToRgb(double y, double cb, double cr) {
  const double u = cb - 128.0, v = cr - 128.0;
  return {Clamp8(y + 1.402 * v), Clamp8(y - 0.344136 * u - 0.714136 * v), Clamp8(y + 1.772 * u)};
}

double Linear(double code) {
  const double c = code / 255.0;
  return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double LabF(double t) {
  constexpr double e = 216.0 / 24389.0, k = 24389.0 / 27.0;
  return t > e ? std::cbrt(t) : (k * t + 16.0) / 116.0;
}

double Degrees(double radians) { return radians * 180.0 / kPi; }
double Radians(double degrees) { return degrees * kPi / 180.0; }

}  // namespace

Rgb Nv21MeanRgb(const uint8_t* nv21, uint32_t width, uint32_t height, uint32_t cx, uint32_t cy, uint32_t half) {
  const uint32_t x0 = cx > half ? cx - half : 0, y0 = cy > half ? cy - half : 0;
  const uint32_t x1 = std::min(width - 1, cx + half), y1 = std::min(height - 1, cy + half);
  double y = 0, cb = 0, cr = 0;
  double n = 0;
  for (uint32_t row = y0; row <= y1; ++row)
    for (uint32_t x = x0; x <= x1; ++x) {
      const uint8_t* vu = nv21 + size_t(width) * height + size_t(row / 2) * width + (x & ~1u);
      y += nv21[size_t(row) * width + x];
      cr += vu[0];
      cb += vu[1];
      ++n;
    }
  return YuvToRgb(y / n, cb / n, cr / n);
}

std::vector<uint8_t> Nv21ToRgb(const uint8_t* nv21, uint32_t width, uint32_t height) {
  std::vector<uint8_t> rgb(size_t(width) * height * 3);
  for (uint32_t row = 0; row < height; ++row)
    for (uint32_t x = 0; x < width; ++x) {
      const uint8_t* vu = nv21 + size_t(width) * height + size_t(row / 2) * width + (x & ~1u);
      const Rgb c = YuvToRgb(nv21[size_t(row) * width + x], vu[1], vu[0]);
      uint8_t* p = &rgb[(size_t(row) * width + x) * 3];
      p[0] = uint8_t(c.r + 0.5);
      p[1] = uint8_t(c.g + 0.5);
      p[2] = uint8_t(c.b + 0.5);
    }
  return rgb;
}

Lab SrgbToLab(const Rgb& rgb) {
  const double r = Linear(rgb.r), g = Linear(rgb.g), b = Linear(rgb.b);
  const double x = 0.4124564 * r + 0.3575761 * g + 0.1804375 * b;
  const double y = 0.2126729 * r + 0.7151522 * g + 0.0721750 * b;
  const double z = 0.0193339 * r + 0.1191920 * g + 0.9503041 * b;
  const double fx = LabF(x / 0.95047), fy = LabF(y), fz = LabF(z / 1.08883);
  return {116.0 * fy - 16.0, 500.0 * (fx - fy), 200.0 * (fy - fz)};
}

double Ciede2000(const Lab& p, const Lab& q) {
  const double c1 = std::hypot(p.a, p.b), c2 = std::hypot(q.a, q.b);
  const double cMean7 = std::pow((c1 + c2) / 2.0, 7.0);
  const double g = 0.5 * (1.0 - std::sqrt(cMean7 / (cMean7 + std::pow(25.0, 7.0))));
  const double a1 = (1.0 + g) * p.a, a2 = (1.0 + g) * q.a;
  const double cp1 = std::hypot(a1, p.b), cp2 = std::hypot(a2, q.b);
  auto hue = [](double b, double a) {
    if (a == 0 && b == 0) return 0.0;
    double h = Degrees(std::atan2(b, a));
    return h < 0 ? h + 360.0 : h;
  };
  const double h1 = hue(p.b, a1), h2 = hue(q.b, a2);
  const double dL = q.l - p.l, dC = cp2 - cp1;
  double dh = 0;
  if (cp1 * cp2 != 0) {
    dh = h2 - h1;
    if (dh > 180) dh -= 360;
    if (dh < -180) dh += 360;
  }
  const double dH = 2.0 * std::sqrt(cp1 * cp2) * std::sin(Radians(dh / 2.0));
  const double lMean = (p.l + q.l) / 2.0, cpMean = (cp1 + cp2) / 2.0;
  double hMean = h1 + h2;
  if (cp1 * cp2 != 0) {
    if (std::fabs(h1 - h2) <= 180) hMean /= 2.0;
    else hMean = hMean < 360 ? (hMean + 360) / 2.0 : (hMean - 360) / 2.0;
  }
  const double t = 1 - 0.17 * std::cos(Radians(hMean - 30)) + 0.24 * std::cos(Radians(2 * hMean)) +
                   0.32 * std::cos(Radians(3 * hMean + 6)) - 0.20 * std::cos(Radians(4 * hMean - 63));
  const double dTheta = 30 * std::exp(-std::pow((hMean - 275) / 25, 2));
  const double cpMean7 = std::pow(cpMean, 7.0);
  const double rc = 2 * std::sqrt(cpMean7 / (cpMean7 + std::pow(25.0, 7.0)));
  const double l50 = (lMean - 50) * (lMean - 50);
  const double sl = 1 + 0.015 * l50 / std::sqrt(20 + l50);
  const double sc = 1 + 0.045 * cpMean, sh = 1 + 0.015 * cpMean * t;
  const double rt = -std::sin(Radians(2 * dTheta)) * rc;
  const double tl = dL / sl, tc = dC / sc, th = dH / sh;
  return std::sqrt(tl * tl + tc * tc + th * th + rt * tc * th);
}

}  // namespace camera::test
