// Worker threads that share a frame's work with the model's engine thread: a
// frame's row stages run as stripes of rows, its statistics beside them. The
// result does not depend on how many stripes there are.
#ifndef VFE_STRIPES_H
#define VFE_STRIPES_H

#include <stdint.h>

#include <functional>

namespace board::vfe {

// Threads a frame's work runs on, the engine thread's included (1: it alone).
uint32_t ThreadCount();
// 0 restores the machine's default.
void SetThreadCount(uint32_t count);
// Stripes a frame's row stages are split into: a few per thread, so that a
// thread the machine holds back does not hold the frame.
uint32_t StripeCount();

// Runs task(0) .. task(count - 1) on the workers and the calling thread and
// returns when all have ended; adds the workers' CPU time to *workerCpuNs.
// While another caller's tasks run, these run on the calling thread alone.
void RunTasks(uint32_t count, const std::function<void(uint32_t)>& task, uint64_t* workerCpuNs);

// Row range of stripe i of n over `rows`, boundaries on multiples of `align`.
struct RowRange {
  uint32_t first, end;
};
RowRange StripeRows(uint32_t i, uint32_t n, uint32_t rows, uint32_t align);

}  // namespace board::vfe

#endif  // VFE_STRIPES_H
