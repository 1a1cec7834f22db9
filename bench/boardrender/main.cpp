// boardrender: how fast the board's sensor model renders frames, against the
// rates the VFE model pulls them at (preview 1296 x 972 at 29.46 fps, full
// 2608 x 1960 at 14.83 fps) on one core. The first frame of a read-out builds
// the scene's plane and is timed apart; the steady state alternates the lens
// code and exposure as a running camera would.
//
//   boardrender [--seconds S]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "benchargs.h"
#include "board_sensor.h"

using Clock = std::chrono::steady_clock;

namespace {

struct Mode {
  const char* name;
  uint32_t width, height, binning;
  double fps;
};

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

}  // namespace

const char kUsage[] = "usage: boardrender [--seconds S]\n";

int main(int argc, char** argv) {
  double seconds = 2.0;
  for (int i = 1; i < argc; ++i) {
    if (BenchAsksHelp(argv[i])) return BenchHelp(kUsage);
    if (!std::strcmp(argv[i], "--seconds")) {
      if (i + 1 >= argc || !(std::atof(argv[i + 1]) > 0))
        return BenchUsage("boardrender", "--seconds needs S > 0", kUsage);
      seconds = std::atof(argv[++i]);
    } else {
      return BenchUsage("boardrender", std::string("unknown option ") + argv[i], kUsage);
    }
  }
  const Mode modes[] = {{"preview", 1296, 972, 2, 29.46}, {"full", 2608, 1960, 1, 14.83}};
  int rc = 0;
  for (const Mode& m : modes) {
    std::vector<uint16_t> frame(size_t(m.width) * m.height);
    BoardFrameInfo f;
    f.width = m.width;
    f.height = m.height;
    f.binning = m.binning;
    f.exposureSeconds = 0.012;
    f.gainCode = 32;
    auto t0 = Clock::now();
    BoardSensorRenderFrame(f, frame.data(), m.width);
    double firstMs = Ms(Clock::now() - t0);
    int frames = 0;
    auto start = Clock::now();
    while (Ms(Clock::now() - start) < seconds * 1000 / 2) {
      f.lensCode = uint32_t(frames * 37 % 1024);
      f.exposureSeconds = 0.004 + 0.001 * (frames % 10);
      BoardSensorRenderFrame(f, frame.data(), m.width);
      ++frames;
    }
    double perFrame = Ms(Clock::now() - start) / frames;
    double budget = 1000.0 / m.fps;
    std::printf("%-8s %4ux%-4u first frame %7.1f ms, then %6.2f ms a frame (%6.1f fps); budget %5.1f ms: %4.1f%% of one core\n",
                m.name, m.width, m.height, firstMs, perFrame, 1000.0 / perFrame, budget, 100 * perFrame / budget);
    if (perFrame > budget / 2) rc = 1;  // not enough room left for the VFE model's own work
  }
  return rc;
}
