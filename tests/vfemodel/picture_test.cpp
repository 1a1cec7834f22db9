// The picture the VFE hardware model makes of the chart under the neutral
// illuminant with the sensor's colour correction and the sRGB gamma curve
// programmed: grey patches grey, colour patches at their hue, every patch
// where the programmed crop and scaling put it. The
// frame is saved as vfemodel-chart.png in the build directory to look at.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "pngfile.h"
#include "vfe_driver_fixture.h"

namespace vfetest {
namespace {

using VfePicture = VfeModelTest;

struct Nv21 {
  uint32_t w, h;
  std::vector<uint8_t> y, c;
  uint8_t Y(uint32_t x, uint32_t yy) const { return y[size_t(yy) * w + x]; }
  // An odd last luma line shares the chroma line above it.
  size_t Row(uint32_t yy) const { return size_t(std::min(yy / 2, h / 2 - 1)) * w; }
  uint8_t U(uint32_t x, uint32_t yy) const { return c[Row(yy) + (x & ~1u) + 1]; }
  uint8_t V(uint32_t x, uint32_t yy) const { return c[Row(yy) + (x & ~1u)]; }
};

// The frame as the picture kept to look at (full-range BT.601).
bool SavePng(const std::string& path, const Nv21& f) {
  std::vector<uint8_t> rgb;
  rgb.reserve(size_t(f.w) * f.h * 3);
  for (uint32_t y = 0; y < f.h; ++y)
    for (uint32_t x = 0; x < f.w; ++x) {
      double Y = f.Y(x, y), U = f.U(x, y) - 128.0, V = f.V(x, y) - 128.0;
      double c[3] = {Y + 1.402 * V, Y - 0.344 * U - 0.714 * V, Y + 1.772 * U};
      for (double v : c) rgb.push_back(uint8_t(std::lround(std::fmin(255, std::fmax(0, v)))));
    }
  return camera::WriteRgbPng(path, rgb, f.w, f.h);
}

// Hue angle (degrees) of a chroma pair.
double Hue(double u, double v) { return std::atan2(v, u) * 180.0 / M_PI; }
double HueOfSrgb(const uint8_t s[3]) {
  double y = 0.299 * s[0] + 0.587 * s[1] + 0.114 * s[2];
  return Hue(0.564 * (s[2] - y), 0.713 * (s[0] - y));
}
double AngleBetween(double a, double b) { return std::fabs(std::remainder(a - b, 360.0)); }

TEST_F(VfePicture, TheChartComesOutGreyColouredAndInPlace) {
  Reset();
  ConfigurePipeline();
  ConfigureOutputs();
  ProgramColour();
  ArmOutputs();
  // The tap runs on the model's thread and may outlive this scope.
  struct Tapped {
    std::mutex lock;
    std::vector<std::pair<uint32_t, uint32_t>> sizes;
  };
  auto tapped = std::make_shared<Tapped>();
  BoardVfeSetTap([tapped](const BoardVfeTappedFrame& t) {
    std::lock_guard<std::mutex> g(tapped->lock);
    tapped->sizes.push_back({t.width, t.height});
  });
  StartSensor();
  Start(0x30, kModules | kColourModules, kFrameMask);
  // The frame is copied inside the routine, before the next one can come.
  Nv21 f{kMainW, kMainH, {}, {}};
  auto routine = [&](uint32_t status) {
    if (!(status & Bit(18)) || !f.y.empty()) return;
    int side = (Read(0x0C4) >> 5) & 1 ? 0 : 1;
    f.y = Bytes(out2_.y[side], kMainW * kMainH);
    f.c = Bytes(out2_.c[side], kMainW * (kMainH / 2));
  };
  ASSERT_TRUE(Service(Bit(18), 20000, routine) & Bit(18));
  BoardVfeSetTap(nullptr);
  {
    std::lock_guard<std::mutex> g(tapped->lock);
    ASSERT_FALSE(tapped->sizes.empty());
    EXPECT_EQ(tapped->sizes[0], std::make_pair(kMainW, kMainH)) << "the main scaler's programmed size";
  }
  std::string png = std::string(VFEMODEL_OUTPUT_DIR) + "/vfemodel-chart.png";
  EXPECT_TRUE(SavePng(png, f)) << png;

  // Where a chart point lands: preview halves the array, the demosaic area
  // starts at (6, 3) of the window, the main scaler halves again.
  auto mapX = [](double x) { return (x / 2 - 6) / 2; };
  auto mapY = [](double y) { return (y / 2 - 3) / 2; };
  const double patch = kChartPatchSize / 4.0;
  for (const BoardChartPatch& p : kChartPatches) {
    SCOPED_TRACE(p.name);
    double ex = mapX(p.centreX - 0.5), ey = mapY(p.centreY - 0.5);
    // Mean colour of the patch's middle.
    double sy = 0, su = 0, sv = 0;
    int n = 0;
    for (int dy = -10; dy <= 10; ++dy)
      for (int dx = -10; dx <= 10; ++dx) {
        uint32_t x = uint32_t(std::lround(ex) + dx), y = uint32_t(std::lround(ey) + dy);
        sy += f.Y(x, y);
        su += f.U(x, y);
        sv += f.V(x, y);
        ++n;
      }
    double my = sy / n, mu = su / n - 128, mv = sv / n - 128;
    bool grey = std::abs(int(p.srgb[0]) - int(p.srgb[1])) <= 1 && std::abs(int(p.srgb[1]) - int(p.srgb[2])) <= 1;
    if (grey) {
      EXPECT_LE(std::fabs(mu), 3.0) << "U";
      EXPECT_LE(std::fabs(mv), 3.0) << "V";
    } else {
      EXPECT_LE(AngleBetween(Hue(mu, mv), HueOfSrgb(p.srgb)), 10.0)
          << "hue " << Hue(mu, mv) << " expected " << HueOfSrgb(p.srgb);
    }
    // The patch's centre: centroid of the pixels of its colour around it.
    double cx = 0, cy = 0;
    int m = 0;
    int reach = int(patch * 0.5 + 10);
    for (int dy = -reach; dy <= reach; ++dy)
      for (int dx = -reach; dx <= reach; ++dx) {
        int x = int(std::lround(ex)) + dx, y = int(std::lround(ey)) + dy;
        if (x < 0 || y < 0 || x >= int(f.w) || y >= int(f.h)) continue;
        if (std::fabs(f.Y(x, y) - my) < 4 && std::fabs(f.U(x, y) - 128 - mu) < 5 && std::fabs(f.V(x, y) - 128 - mv) < 5) {
          cx += x;
          cy += y;
          ++m;
        }
      }
    ASSERT_GT(m, 0);
    EXPECT_NEAR(cx / m, ex, 2.0) << "centre x";
    EXPECT_NEAR(cy / m, ey, 2.0) << "centre y";
    EXPECT_NEAR(m, patch * patch, patch * patch * 0.25) << "patch area";
  }
}

}  // namespace
}  // namespace vfetest
