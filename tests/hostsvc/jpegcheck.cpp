#include "jpegcheck.h"

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "image_copy.h"

namespace hostsvc::test {

std::string TempPath(const std::string& suffix) {
  static std::atomic<int> counter{0};
  return camera::test::ImagePath("hostsvc-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + suffix);
}

bool ReadFile(const std::string& path, std::vector<uint8_t>& out) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  out.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  return true;
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& data) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  return static_cast<bool>(f);
}

int Run(const std::string& command, std::string* out) {
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return -1;
  std::string s;
  char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) s.append(buf, n);
  int st = ::pclose(p);
  if (out) *out = std::move(s);
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

Decoded DecodeWithDjpeg(const std::vector<uint8_t>& jpeg, bool gray) {
  Decoded d;
  std::string in = TempPath(".jpg");
  if (!WriteFile(in, jpeg)) {
    d.error = "cannot write " + in;
    return d;
  }
  std::string out;
  std::string err = TempPath(".err");
  int rc = Run(std::string("djpeg ") + (gray ? "-grayscale " : "") + "-pnm '" + in + "' 2>'" + err + "'", &out);
  std::vector<uint8_t> errText;
  ReadFile(err, errText);
  std::remove(in.c_str());
  std::remove(err.c_str());
  if (rc != 0 || !errText.empty()) {
    d.error = "djpeg exit " + std::to_string(rc) + ": " + std::string(errText.begin(), errText.end());
    return d;
  }
  // "P5\nW H\n255\n" or "P6..."
  std::istringstream hs(out);
  std::string magic;
  int maxv = 0;
  hs >> magic >> d.width >> d.height >> maxv;
  size_t bpp = magic == "P5" ? 1 : magic == "P6" ? 3 : 0;
  size_t header = static_cast<size_t>(hs.tellg()) + 1;
  if (bpp == 0 || maxv != 255 || out.size() != header + bpp * d.width * d.height) {
    d.error = "unexpected djpeg output";
    return d;
  }
  d.pixels.assign(out.begin() + static_cast<std::ptrdiff_t>(header), out.end());
  d.ok = true;
  return d;
}

static double Psnr(double se, double n) {
  if (n == 0) return 0;
  if (se == 0) return 99.0;
  return 10.0 * std::log10(255.0 * 255.0 / (se / n));
}

double LumaPsnr(const Decoded& g, const std::vector<uint8_t>& nv21, uint32_t w, uint32_t x0, uint32_t y0) {
  double se = 0;
  for (uint32_t y = 0; y < g.height; ++y) {
    for (uint32_t x = 0; x < g.width; ++x) {
      double d = static_cast<double>(g.pixels[static_cast<size_t>(y) * g.width + x]) -
                 nv21[static_cast<size_t>(y0 + y) * w + x0 + x];
      se += d * d;
    }
  }
  return Psnr(se, static_cast<double>(g.width) * g.height);
}

double RgbPsnr(const Decoded& rgb, const std::vector<uint8_t>& nv21, uint32_t w, uint32_t h, uint32_t x0, uint32_t y0) {
  const uint8_t* vu = nv21.data() + static_cast<size_t>(w) * h;
  double se = 0;
  auto clamp = [](double v) { return v < 0 ? 0.0 : v > 255 ? 255.0 : std::round(v); };
  for (uint32_t y = 0; y < rgb.height; ++y) {
    for (uint32_t x = 0; x < rgb.width; ++x) {
      uint32_t sx = x0 + x, sy = y0 + y;
      double Y = nv21[static_cast<size_t>(sy) * w + sx];
      double Cr = vu[static_cast<size_t>(sy / 2) * w + (sx / 2) * 2] - 128.0;
      double Cb = vu[static_cast<size_t>(sy / 2) * w + (sx / 2) * 2 + 1] - 128.0;
      double ref[3] = {clamp(Y + 1.402 * Cr), clamp(Y - 0.344136 * Cb - 0.714136 * Cr), clamp(Y + 1.772 * Cb)};
      for (int c = 0; c < 3; ++c) {
        double d = rgb.pixels[(static_cast<size_t>(y) * rgb.width + x) * 3 + c] - ref[c];
        se += d * d;
      }
    }
  }
  return Psnr(se, 3.0 * rgb.width * rgb.height);
}

std::map<std::string, std::string> ReadExif(const std::vector<uint8_t>& jpeg, std::string* warnings) {
  std::map<std::string, std::string> tags;
  std::string in = TempPath(".jpg");
  if (!WriteFile(in, jpeg)) return tags;
  std::string out;
  Run("exiftool -a -n -G1 -s -charset exif=latin1 '" + in + "' 2>&1", &out);
  std::remove(in.c_str());
  std::istringstream ls(out);
  std::string line;
  while (std::getline(ls, line)) {
    // "[Group]  Name    : value"
    size_t gEnd = line.find(']');
    size_t colon = line.find(" : ");
    if (line.empty() || line[0] != '[' || gEnd == std::string::npos || colon == std::string::npos) {
      if (warnings && !line.empty()) *warnings += line + "\n";
      continue;
    }
    std::string group = line.substr(1, gEnd - 1);
    std::string name = line.substr(gEnd + 1, colon - gEnd - 1);
    name.erase(0, name.find_first_not_of(' '));
    name.erase(name.find_last_not_of(' ') + 1);
    std::string value = line.substr(colon + 3);
    if (name == "Warning" && warnings) *warnings += value + "\n";
    tags[group + ":" + name] = value;
  }
  return tags;
}

std::string ValidateExif(const std::vector<uint8_t>& jpeg) {
  std::string in = TempPath(".jpg");
  if (!WriteFile(in, jpeg)) return "cannot write " + in;
  std::string out;
  Run("exiftool -validate -warning -a -s3 '" + in + "' 2>&1", &out);
  std::remove(in.c_str());
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

std::vector<uint8_t> ExtractBinary(const std::vector<uint8_t>& jpeg, const std::string& tag) {
  std::vector<uint8_t> result;
  std::string in = TempPath(".jpg");
  if (!WriteFile(in, jpeg)) return result;
  std::string out;
  if (Run("exiftool -b -" + tag + " '" + in + "' 2>/dev/null", &out) == 0) result.assign(out.begin(), out.end());
  std::remove(in.c_str());
  return result;
}

std::vector<uint8_t> ExtractThumbnail(const std::vector<uint8_t>& jpeg) { return ExtractBinary(jpeg, "ThumbnailImage"); }

}  // namespace hostsvc::test
