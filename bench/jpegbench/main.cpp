// jpegbench: speed of the host's JPEG encoder on a 5-megapixel NV21 frame, side by side
// with libjpeg-turbo's tjbench on the same picture.
//
// Both sides compress 4:2:0 planar YCbCr at the same quality with the standard Huffman
// tables and exclude file I/O: ours encodes the NV21 frame in memory; tjbench is given
// the frame converted to RGB (PPM) and run with -yuv, whose "Comp from YUV" figure times
// only the compression of its planar 4:2:0 copy of that picture (the RGB-to-YUV step is
// timed separately and not counted).
//
// The host encoder runs its fastest path (AVX2 where the processor has it); --all-paths
// also times the SSE2 and the portable path.
//
//   jpegbench [--input frame.nv21 --size WxH] [--seconds S] [--no-tjbench] [--all-paths]
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "benchargs.h"
#include "jpegencoder.h"

using namespace orbhost::services;
using Clock = std::chrono::steady_clock;

namespace {

// A synthetic camera picture: sky gradient, textured ground, hard-edged shapes, fine
// stripes and sensor noise, so that every part of the coder is exercised.
std::vector<uint8_t> MakeScene(uint32_t w, uint32_t h) {
  std::vector<uint8_t> p(static_cast<size_t>(Nv21Frame::PackedSize(w, h)));
  uint32_t rnd = 12345;
  auto next = [&]() { return rnd = rnd * 1664525u + 1013904223u; };
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      double v;
      if (y < h * 2 / 5) {
        v = 200 - 60.0 * y / h + 10 * std::sin(x * 0.004);  // sky
      } else {
        double t = std::sin(x * 0.35) * std::cos(y * 0.27) + std::sin((x + y) * 0.11);
        v = 90 + 25 * t + static_cast<int>((next() >> 24) % 24) - 12;  // textured ground
      }
      uint32_t bx = x / 200, by = y / 150;
      if ((bx * 7 + by * 3) % 11 == 0 && y > h / 3) v = 60 + (x % 200 < 4 ? 120 : 0);  // buildings
      if (x > w / 2 && x < w / 2 + 400 && y > h / 2 && y < h / 2 + 100) v = ((x / 3) % 2) ? 230 : 30;  // stripes
      v += static_cast<int>((next() >> 28) % 5) - 2;  // sensor noise
      p[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
    }
  }
  uint8_t* vu = p.data() + static_cast<size_t>(w) * h;
  for (uint32_t y = 0; y < h / 2; ++y) {
    for (uint32_t x = 0; x < w / 2; ++x) {
      bool sky = y < h / 5;
      double cr = sky ? 110 : 135 + 15 * std::sin(x * 0.05);
      double cb = sky ? 160 : 100 + 10 * std::cos(y * 0.07);
      cr += static_cast<int>((next() >> 28) % 3) - 1;
      vu[static_cast<size_t>(y) * w + 2 * x] = static_cast<uint8_t>(cr);
      vu[static_cast<size_t>(y) * w + 2 * x + 1] = static_cast<uint8_t>(cb);
    }
  }
  return p;
}

bool WritePpm(const std::string& path, const std::vector<uint8_t>& nv21, uint32_t w, uint32_t h) {
  std::ofstream f(path, std::ios::binary);
  f << "P6\n" << w << " " << h << "\n255\n";
  std::vector<uint8_t> row(static_cast<size_t>(w) * 3);
  const uint8_t* vu = nv21.data() + static_cast<size_t>(w) * h;
  auto c = [](double v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : std::lround(v)); };
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      double Y = nv21[static_cast<size_t>(y) * w + x];
      double Cr = vu[static_cast<size_t>(y / 2) * w + (x / 2) * 2] - 128.0;
      double Cb = vu[static_cast<size_t>(y / 2) * w + (x / 2) * 2 + 1] - 128.0;
      row[x * 3] = c(Y + 1.402 * Cr);
      row[x * 3 + 1] = c(Y - 0.344136 * Cb - 0.714136 * Cr);
      row[x * 3 + 2] = c(Y + 1.772 * Cb);
    }
    f.write(reinterpret_cast<const char*>(row.data()), static_cast<std::streamsize>(row.size()));
  }
  return static_cast<bool>(f);
}

struct Result {
  bool ok = false;
  double msPerFrame = 0, mpPerSec = 0;
  double bytes = 0;
  std::string note;
};

Result BenchOurs(const std::vector<uint8_t>& frame, uint32_t w, uint32_t h, int quality, double seconds,
                 JpegKernels kernels) {
  Result r;
  JpegEncoder enc;
  JpegEncoder::Options opt;
  opt.quality = quality;
  opt.kernels = kernels;
  std::vector<uint8_t> out;
  Nv21Frame f = Nv21Frame::Packed(frame.data(), w, h);
  std::string why;
  for (int i = 0; i < 3; ++i) {  // warm-up: caches, output buffer
    if (enc.Encode(f, opt, out, &why) != JpegStatus::kOk) {
      r.note = why;
      return r;
    }
  }
  int n = 0;
  auto t0 = Clock::now();
  double elapsed = 0;
  do {
    enc.Encode(f, opt, out);
    ++n;
    elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
  } while (elapsed < seconds || n < 5);
  r.ok = true;
  r.msPerFrame = elapsed * 1000.0 / n;
  r.mpPerSec = static_cast<double>(w) * h / 1e6 / (elapsed / n);
  r.bytes = static_cast<double>(out.size());
  return r;
}

// Only the accurate integer DCT: tjbench's -fastdct leaves compression unchanged (byte for
// byte the same files), so a "fast" run would time the same code again under another name.
Result BenchTurbo(const std::string& ppm, uint32_t w, uint32_t h, int quality, double seconds) {
  Result r;
  std::ostringstream cmd;
  cmd << "tjbench '" << ppm << "' " << quality << " -yuv -subsamp 420 -componly -nowrite -quiet"
      << " -benchtime " << seconds << " -warmup 0.5 2>&1";
  FILE* p = ::popen(cmd.str().c_str(), "r");
  if (!p) {
    r.note = "cannot run tjbench";
    return r;
  }
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
  int st = ::pclose(p);
  if (!WIFEXITED(st) || WEXITSTATUS(st) != 0) {
    r.note = "tjbench failed (is libjpeg-turbo-progs installed?)";
    return r;
  }
  // Quiet output row: format, subsampling, quality, width, height, encode-YUV perf,
  // compression perf (Mpixels/s), compression ratio, ...
  std::istringstream ls(text);
  std::string line;
  while (std::getline(ls, line)) {
    size_t at = line.find("4:2:0");
    if (at == std::string::npos) continue;
    std::istringstream ts(line.substr(at + 5));
    int q;
    unsigned tw, th;
    std::string encPerf;
    double compPerf, ratio;
    if (ts >> q >> tw >> th >> encPerf >> compPerf >> ratio && q == quality && tw == w && th == h && compPerf > 0) {
      r.ok = true;
      r.mpPerSec = compPerf;
      r.msPerFrame = static_cast<double>(w) * h / 1e6 / compPerf * 1000.0;
      r.bytes = static_cast<double>(w) * h * 3.0 / ratio;  // from the printed ratio: about 0.1% off
      return r;
    }
  }
  r.note = "unexpected tjbench output";
  return r;
}

void Print(const char* who, int q, const Result& r) {
  if (!r.ok) {
    std::printf("  %-34s q%-3d  %s\n", who, q, r.note.c_str());
    return;
  }
  std::printf("  %-34s q%-3d  %8.2f ms/frame  %8.1f MP/s  %9.0f bytes\n", who, q, r.msPerFrame, r.mpPerSec, r.bytes);
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t w = 2592, h = 1944;
  std::string input;
  double seconds = 2.0;
  bool turbo = true;
  bool allPaths = false;
  const char usage[] = "usage: jpegbench [--input frame.nv21 --size WxH] [--seconds S] [--no-tjbench] [--all-paths]\n";
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    const bool valued = a == "--input" || a == "--size" || a == "--seconds";
    if (valued && i + 1 >= argc) return BenchUsage("jpegbench", a + " needs a value", usage);
    if (BenchAsksHelp(argv[i])) {
      return BenchHelp(usage);
    } else if (a == "--input") {
      input = argv[++i];
    } else if (a == "--size") {
      if (std::sscanf(argv[++i], "%ux%u", &w, &h) != 2) return BenchUsage("jpegbench", "--size needs WxH", usage);
    } else if (a == "--seconds") {
      seconds = std::atof(argv[++i]);
    } else if (a == "--no-tjbench") {
      turbo = false;
    } else if (a == "--all-paths") {
      allPaths = true;
    } else {
      return BenchUsage("jpegbench", "unknown option " + a, usage);
    }
  }
  if ((w & 1) || (h & 1) || w == 0 || h == 0 || Nv21Frame::PackedSize(w, h) > JpegEncoder::kMaxFrameBytes) {
    std::fprintf(stderr, "jpegbench: NV21 sizes must be even, the frame at most 2 GB\n");
    return 2;
  }
  std::vector<uint8_t> frame;
  if (!input.empty()) {
    std::ifstream f(input, std::ios::binary);
    frame.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    if (frame.size() != Nv21Frame::PackedSize(w, h)) {
      std::fprintf(stderr, "jpegbench: %s is not a %ux%u NV21 frame\n", input.c_str(), w, h);
      return 1;
    }
  } else {
    frame = MakeScene(w, h);
  }
  std::string ppm;
  if (turbo) {
    char tmpl[] = "/tmp/jpegbench-XXXXXX";
    int fd = ::mkstemp(tmpl);
    if (fd >= 0) ::close(fd);
    ppm = std::string(tmpl);
    if (fd < 0 || !WritePpm(ppm, frame, w, h)) {
      std::fprintf(stderr, "jpegbench: cannot write the picture for tjbench; comparing skipped\n");
      turbo = false;
    }
  }
  std::printf("jpegbench: %ux%u NV21 (%.2f MP), 4:2:0 baseline, standard Huffman tables, %.1f s per run\n", w, h,
              w * h / 1e6, seconds);
  if (turbo) {
    std::printf("  tjbench gets the same frame as RGB and runs -yuv -subsamp 420 -componly: its figure is the\n"
                "  compression of its planar 4:2:0 copy (RGB-to-YUV not counted); no file I/O on either side;\n"
                "  the host encoder runs in this %d-bit build, tjbench is Debian's 64-bit build with its SIMD\n",
                int(sizeof(void*) * 8));
  }
  const char* best = JpegEncoder::KernelsAvailable(JpegKernels::kAvx2) ? "host encoder (AVX2 path)" : "host encoder (SSE2 path)";
  for (int q : {75, 95}) {
    Result ours = BenchOurs(frame, w, h, q, seconds, JpegKernels::kBest);
    Print(best, q, ours);
    if (allPaths) {
      if (JpegEncoder::KernelsAvailable(JpegKernels::kAvx2)) {
        Print("host encoder (SSE2 path)", q, BenchOurs(frame, w, h, q, seconds, JpegKernels::kSse2));
      }
      Print("host encoder (portable path)", q, BenchOurs(frame, w, h, q, seconds, JpegKernels::kScalar));
    }
    if (turbo) {
      Result slow = BenchTurbo(ppm, w, h, q, seconds);
      Print("libjpeg-turbo tjbench (islow DCT)", q, slow);
      if (ours.ok && slow.ok) {
        std::printf("  -> host encoder takes %.2fx libjpeg-turbo's time\n", ours.msPerFrame / slow.msPerFrame);
      }
    }
  }
  if (!ppm.empty()) std::remove(ppm.c_str());
  return 0;
}
