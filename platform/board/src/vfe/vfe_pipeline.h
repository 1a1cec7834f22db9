// The VFE hardware model's frame path as the frame engine calls it: one sensor
// frame in, the output images and statistics records of that frame out, all
// from a copy of the active registers.
#ifndef VFE_PIPELINE_H
#define VFE_PIPELINE_H

#include <stdint.h>

#include <time.h>

#include <array>
#include <vector>

#include "vfe_model.h"

namespace board::vfe {

// The frame work's large buffers: fresh memory is what a first frame waits for
// most (each small page faulted in on its own), so a buffer of a megabyte or
// more is aligned to and backed by large pages where the system gives them.
void* AllocateFrameMemory(size_t bytes);
void FreeFrameMemory(void* p);
template <typename T>
struct FrameAllocator {
  using value_type = T;
  FrameAllocator() = default;
  template <typename U>
  FrameAllocator(const FrameAllocator<U>&) {}
  T* allocate(size_t n) { return static_cast<T*>(AllocateFrameMemory(n * sizeof(T))); }
  void deallocate(T* p, size_t) { FreeFrameMemory(p); }
  template <typename U>
  bool operator==(const FrameAllocator<U>&) const { return true; }
};
template <typename T>
using FrameVector = std::vector<T, FrameAllocator<T>>;

using RegisterImage = std::array<uint32_t, kRegWords>;

struct OutputImage {
  bool present = false;
  bool raw = false;
  uint32_t width = 0, height = 0;  // luma (raw: Bayer) plane
  std::vector<uint8_t> y;          // width x height
  std::vector<uint8_t> cbcr;       // width x height / 2, Cr first (empty for raw)
};

struct FrameRequest {
  const RegisterImage* regs = nullptr;
  const std::array<std::vector<uint32_t>, kTableCount>* tables = nullptr;
  BoardFrameInfo info;
  bool wantPath[2] = {};  // BoardVfePath
  bool wantAf = false, wantWb = false;
  uint32_t serial = 0;
};

struct FrameProducts {
  OutputImage out[2];
  std::vector<uint32_t> af, wb;
  bool unsupported = false;
  bool refused[2] = {};  // per path: a block's payload the hardware cannot run
  uint64_t stageNs[kVfeStageCount] = {};  // this frame's time in each stage, summed over the threads
  uint64_t workerCpuNs = 0;  // CPU time the worker threads spent on this frame
};

// Time spent in each stage of a frame (the model thread's wall clock): Lap()
// starts a lap, Lap(stage) adds the lap to the stage and starts the next.
class StageClock {
 public:
  explicit StageClock(uint64_t* ns) : ns_(ns), t_(Now()) {}
  void Lap() { t_ = Now(); }
  void Lap(BoardVfeStage stage) {
    int64_t now = Now();
    ns_[stage] += uint64_t(now - t_);
    t_ = now;
  }

 private:
  static int64_t Now() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
  }
  uint64_t* ns_;
  int64_t t_;
};

// Renders the sensor frame and runs it through the pipeline (pipeline.cpp).
void RunFrame(const FrameRequest& request, FrameProducts* products);
// Sizes the frame work's buffers for frames of up to width x height and
// touches them, so that a first frame does not wait for fresh memory (a frame
// in the works finishes first).
void PrepareFrameMemory(uint32_t width, uint32_t height);
void PrepareStatisticsMemory(size_t samples);
// Grows `v` to at least n elements, touched once.
template <typename V>
void PrepareMemory(V* v, size_t n) {
  if (v->size() < n) v->resize(n);
}

// The Bayer window the camera interface passes on (after skip patterns).
struct BayerView {
  const uint16_t* data = nullptr;
  size_t stride = 0;  // samples
  uint32_t width = 0, height = 0;
  uint32_t order = 1;  // code of the first sample (0 RGGB, 1 GRBG, 2 BGGR, 3 GBRG)
};
// Colour (0 R, 1 G, 2 B) of the window sample at (x, y).
inline int BayerColour(uint32_t order, uint32_t x, uint32_t y) {
  static const int kOrders[4][4] = {{0, 1, 1, 2}, {1, 0, 2, 1}, {2, 1, 1, 0}, {1, 2, 0, 1}};
  return kOrders[order & 3][((y & 1) << 1) | (x & 1)];
}

// Per-site linearisation of the Bayer samples: black level and channel gain
// folded into one table per 2x2 phase, output 0..1023 on the black-subtracted
// scale stretched back to full range.
struct BayerLut {
  uint16_t phase[4][1024];
};
void BuildBayerLut(const RegisterImage& regs, BayerLut* lut);

// The field-of-view crop in demosaic-area coordinates (pipeline.cpp); an
// unprogrammed crop is the whole area.
struct Crop {
  uint32_t x, y, width, height;
};
Crop FovCrop(const RegisterImage& regs, const BayerView& window);

// Statistics (statistics.cpp). The demosaic area starts 6 samples right of and
// 3 lines below the window origin.
void ComputeWbExpStats(const RegisterImage& regs, const BayerView& window, const BayerLut& lut, uint32_t serial,
                       std::vector<uint32_t>* words);
// The AF window lies in demosaic-area coordinates, as the crop does.
void ComputeAfStats(const RegisterImage& regs, const BayerView& window, const BayerLut& lut, uint32_t sensorHeight,
                    uint32_t serial, std::vector<uint32_t>* words);

constexpr uint32_t kDemosaicMarginX = 6;
constexpr uint32_t kDemosaicMarginY = 3;

// ---- Spatial stages (spatial.cpp) ------------------------------------------------------
using TableImage = std::array<std::vector<uint32_t>, kTableCount>;

// Working planes of the Bayer stages, kept by the caller from frame to frame.
struct BayerPlanes {
  FrameVector<uint16_t> a, b;
};
// Roll-off, bad-pixel correction and the adaptive Bayer filter, in that order,
// over the whole window. When any of them is on, the window is linearised
// through `*lut` into `work`, corrected there, and `*window` and `*lut` are
// pointed at the result and at the identity table (true); else nothing
// changes (false).
// The stages run in stripes of rows; the workers' CPU time is added to
// *workerCpuNs.
bool BayerSpatialStages(const RegisterImage& regs, const TableImage& tables, BayerView* window, const BayerLut** lut,
                        BayerPlanes* work, uint64_t* workerCpuNs);
// Module bit 4: with the demosaic off every colour of a pixel is its own sample.
bool DemosaicEnabled(const RegisterImage& regs);
// The adaptive spatial filter on the main image's luma (module bit 15): whether
// it runs on an image of this size, and its rows [first, end) of `out` made
// from the whole of `luma`.
bool AdaptiveSpatialFilterOn(const RegisterImage& regs, uint32_t width, uint32_t height);
void AdaptiveSpatialFilter(const RegisterImage& regs, const uint8_t* luma, uint8_t* out, uint32_t width,
                           uint32_t height, uint32_t first, uint32_t end);

// ---- Stage costs ------------------------------------------------------------------------
// CPU time of the engine thread per stage, for the benchmark (board_vfe.h).
enum Stage : int { kStageBayerLinear, kStageRolloff, kStageBadPixel, kStageAbf, kStageAsf, kStageCount };
// A stage split into stripes counts one run, from its first stripe.
void AddStageTime(Stage stage, int64_t ns, bool countsRun = true);
class StageTimer {
 public:
  explicit StageTimer(Stage stage, bool countsRun = true);
  ~StageTimer();
  StageTimer(const StageTimer&) = delete;
  StageTimer& operator=(const StageTimer&) = delete;

 private:
  Stage stage_;
  int64_t start_;
  bool countsRun_;
};

}  // namespace board::vfe

#endif  // VFE_PIPELINE_H
