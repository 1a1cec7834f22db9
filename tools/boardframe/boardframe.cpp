// boardframe: renders one frame of the board's sensor model and writes it as a
// picture a person can look at (PNG, or PPM by the file name's extension).
//
// The raw GRBG frame is developed the simplest way that shows the scene
// faithfully: black level removed, each 2 x 2 cell made one RGB pixel (half
// size), the illuminant's white-balance gains applied, the sensor's colour
// response undone (the inverse of its matrix) and the result sRGB-encoded.
// With --raw the sensor's own colours are shown instead (no white balance, no
// colour correction), which is what a pipeline starts from.
//
//   boardframe [--full] [--illuminant neutral|daylight|incandescent|fluorescent]
//              [--exposure-ms N] [--gain-code N] [--lens N] [--led off|torch|flash]
//              [--raw] out.png|out.ppm
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "board_led.h"
#include "board_sensor.h"
#include "pngfile.h"

namespace {

const char kUsage[] =
    "usage: boardframe [--full] [--illuminant neutral|daylight|incandescent|fluorescent]\n"
    "                  [--exposure-ms N] [--gain-code N] [--lens N] [--led off|torch|flash]\n"
    "                  [--raw] out.png|out.ppm\n"
    "  --full           the whole array instead of the 2 x 2 binned preview\n"
    "  --illuminant L   the scene's light (default daylight)\n"
    "  --exposure-ms N  the exposure (default 12)\n"
    "  --gain-code N    the analogue gain code, 32..512 (default 32)\n"
    "  --lens N         the lens step, 0..1023 (default: the chart in focus)\n"
    "  --led MODE       the white LED (default off)\n"
    "  --raw            the sensor's own colours, undeveloped\n"
    "  -h, --help       this text\n";

int Usage(const std::string& why) {
  std::fprintf(stderr, "boardframe: %s\n%s", why.c_str(), kUsage);
  return 2;
}

uint8_t Encode(double linear) {
  linear = std::min(1.0, std::max(0.0, linear));
  double v = linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
  return uint8_t(v * 255 + 0.5);
}

void Invert(const float m[3][3], double inv[3][3]) {
  double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
               m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) {
      int r1 = (c + 1) % 3, r2 = (c + 2) % 3, c1 = (r + 1) % 3, c2 = (r + 2) % 3;
      inv[r][c] = (m[r1][c1] * m[r2][c2] - m[r1][c2] * m[r2][c1]) / det;
    }
}

}  // namespace

int main(int argc, char** argv) {
  BoardFrameInfo f;
  f.width = 1296;
  f.height = 972;
  f.binning = 2;
  f.illuminant = kDefaultIlluminant;
  f.exposureSeconds = 0.012;
  f.gainCode = 32;
  f.lensCode = kSceneFocusLensCode;
  bool raw = false;
  std::string out;
  static const char* const kIlluminants[kIlluminantCount] = {"neutral", "daylight", "incandescent", "fluorescent"};
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    bool more = i + 1 < argc;
    const bool valued =
        a == "--illuminant" || a == "--exposure-ms" || a == "--gain-code" || a == "--lens" || a == "--led";
    if (valued && !more) return Usage(a + " needs a value");
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "--full") {
      f.width = kSensorArrayWidth;
      f.height = kSensorArrayHeight;
      f.binning = 1;
    } else if (a == "--raw") {
      raw = true;
    } else if (a == "--illuminant") {
      std::string name = argv[++i];
      int k = 0;
      while (k < kIlluminantCount && name != kIlluminants[k]) ++k;
      if (k == kIlluminantCount) return Usage("unknown illuminant " + name);
      f.illuminant = BoardIlluminant(k);
    } else if (a == "--exposure-ms") {
      f.exposureSeconds = std::atof(argv[++i]) / 1000.0;
      if (!(f.exposureSeconds >= 0)) return Usage("--exposure-ms needs a number of 0 or more");
    } else if (a == "--gain-code") {
      f.gainCode = uint32_t(std::atoi(argv[++i]));
      if (f.gainCode < 32 || f.gainCode > 512) return Usage("--gain-code needs 32..512");
    } else if (a == "--lens") {
      f.lensCode = uint32_t(std::atoi(argv[++i]));
      if (f.lensCode > 1023) return Usage("--lens needs 0..1023");
    } else if (a == "--led") {
      std::string led = argv[++i];
      if (led == "off") f.ledLight = 0;
      else if (led == "torch") f.ledLight = kLedTorchLight;
      else if (led == "flash") f.ledLight = kLedFlashLight;
      else return Usage("--led needs off, torch or flash");
    } else if (!a.empty() && a[0] == '-') {
      return Usage("unknown option " + a);
    } else if (!out.empty()) {
      return Usage("one output file only, not also " + a);
    } else {
      out = a;
    }
  }
  if (out.empty()) return Usage("an output file is needed");

  std::vector<uint16_t> frame(size_t(f.width) * f.height);
  if (!BoardSensorRenderFrame(f, frame.data(), f.width)) {
    std::fprintf(stderr, "boardframe: the sensor cannot render these settings\n");
    return 1;
  }
  // Back to the scene's linear light: divide by the exposure, undo the
  // illuminant (white balance) and the sensor's colour mix.
  const double scale = kSceneScale * f.exposureSeconds * f.gainCode / 32.0;
  double balance[3], ccm[3][3];
  Invert(kSensorColourMatrix, ccm);
  for (int c = 0; c < 3; ++c) balance[c] = raw ? 1.0 : 1.0 / (kIlluminantRgb[f.illuminant][c] + f.ledLight);
  const uint32_t w = f.width / 2, h = f.height / 2;
  std::vector<uint8_t> rgb(size_t(w) * h * 3);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      auto at = [&](uint32_t dx, uint32_t dy) {
        return (double(frame[size_t(2 * y + dy) * f.width + 2 * x + dx]) - kSensorBlackLevel) / scale;
      };
      double cam[3] = {at(1, 0), (at(0, 0) + at(1, 1)) / 2, at(0, 1)};  // G R / B G
      for (int c = 0; c < 3; ++c) cam[c] *= balance[c];
      for (int c = 0; c < 3; ++c) {
        double v = raw ? cam[c] : ccm[c][0] * cam[0] + ccm[c][1] * cam[1] + ccm[c][2] * cam[2];
        rgb[(size_t(y) * w + x) * 3 + c] = Encode(v);
      }
    }

  bool written = false;
  if (out.size() >= 4 && out.compare(out.size() - 4, 4, ".ppm") == 0) {
    const std::string header = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    FILE* file = std::fopen(out.c_str(), "wb");
    written = file && std::fwrite(header.data(), 1, header.size(), file) == header.size() &&
              std::fwrite(rgb.data(), 1, rgb.size(), file) == rgb.size();
    if (file && std::fclose(file) != 0) written = false;
  } else {
    written = camera::WriteRgbPng(out, rgb, w, h);
  }
  if (!written) {
    std::fprintf(stderr, "boardframe: cannot write %s\n", out.c_str());
    return 1;
  }
  std::printf("boardframe: %ux%u frame (%s, %s illuminant, %.2f ms, gain code %u, lens %u) developed to %ux%u in %s\n",
              f.width, f.height, f.binning == 2 ? "preview" : "full", kIlluminants[f.illuminant],
              f.exposureSeconds * 1000, f.gainCode, f.lensCode, w, h, out.c_str());
  return 0;
}
