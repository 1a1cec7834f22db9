#include "stripes.h"

#include "board_vfe.h"
#include "../board_internal.h"

#include <time.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace board::vfe {
namespace {

int64_t ThreadCpuNs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

uint32_t DefaultThreads() {
  uint32_t cores = std::thread::hardware_concurrency();
  return std::clamp<uint32_t>(cores > 1 ? cores - 1 : 1, 1, 4);
}

std::atomic<uint32_t> gThreads{0};

// Workers are started on first need and never end: the engine thread may run
// frames while the process exits.
class Pool {
 public:
  void Run(uint32_t count, const std::function<void(uint32_t)>& task, uint64_t* workerCpuNs) {
    std::unique_lock<std::mutex> busy(busy_, std::try_to_lock);
    uint32_t helpers = std::min(ThreadCount(), count) - 1;
    if (!busy.owns_lock() || helpers == 0) {
      for (uint32_t i = 0; i < count; ++i) task(i);
      return;
    }
    std::unique_lock<std::mutex> lk(lock_);
    while (threads_ < helpers) {
      std::thread([this] { Loop(); }).detach();
      ++threads_;
    }
    task_ = &task;
    count_ = count;
    next_ = 0;
    pending_ = count;
    cpu_ = 0;
    work_.notify_all();
    while (next_ < count_) {
      uint32_t i = next_++;
      lk.unlock();
      task(i);
      lk.lock();
      --pending_;
    }
    done_.wait(lk, [&] { return pending_ == 0; });
    task_ = nullptr;
    if (workerCpuNs) *workerCpuNs += cpu_;
  }

 private:
  void Loop() {
    NameModelThread("vfe work");
    std::unique_lock<std::mutex> lk(lock_);
    for (;;) {
      work_.wait(lk, [&] { return task_ && next_ < count_; });
      uint32_t i = next_++;
      const std::function<void(uint32_t)>* task = task_;
      lk.unlock();
      int64_t t0 = ThreadCpuNs();
      (*task)(i);
      int64_t spent = ThreadCpuNs() - t0;
      lk.lock();
      cpu_ += uint64_t(std::max<int64_t>(spent, 0));
      if (--pending_ == 0) done_.notify_all();
    }
  }

  std::mutex busy_, lock_;
  std::condition_variable work_, done_;
  const std::function<void(uint32_t)>* task_ = nullptr;
  uint32_t count_ = 0, next_ = 0, pending_ = 0, threads_ = 0;
  uint64_t cpu_ = 0;
};

Pool& ThePool() {
  static Pool* pool = new Pool;
  return *pool;
}

}  // namespace

uint32_t ThreadCount() {
  uint32_t n = gThreads.load();
  return n ? n : DefaultThreads();
}

void SetThreadCount(uint32_t count) { gThreads = std::min<uint32_t>(count, 16); }

uint32_t StripeCount() {
  uint32_t threads = ThreadCount();
  return threads == 1 ? 1 : 3 * threads;
}

void RunTasks(uint32_t count, const std::function<void(uint32_t)>& task, uint64_t* workerCpuNs) {
  if (count == 0) return;
  ThePool().Run(count, task, workerCpuNs);
}

RowRange StripeRows(uint32_t i, uint32_t n, uint32_t rows, uint32_t align) {
  uint32_t units = (rows + align - 1) / align;
  auto at = [&](uint32_t k) { return std::min(rows, uint32_t(uint64_t(units) * k / n) * align); };
  return {at(i), at(i + 1)};
}

}  // namespace board::vfe

uint32_t BoardVfeThreads() { return board::vfe::ThreadCount(); }
void BoardVfeSetThreads(uint32_t threads) { board::vfe::SetThreadCount(threads); }
