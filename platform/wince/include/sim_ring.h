// A record of fixed capacity: once full, each new entry replaces the oldest, in
// constant time, so a log kept through a long soak neither grows nor slows.
#ifndef SIM_RING_H
#define SIM_RING_H

#include <stddef.h>

#include <utility>
#include <vector>

template <class T>
class SimRing {
 public:
  explicit SimRing(size_t capacity) : capacity_(capacity ? capacity : 1) {}

  void Push(T entry) {
    if (slots_.size() < capacity_) {
      slots_.push_back(std::move(entry));
      return;
    }
    slots_[oldest_] = std::move(entry);
    oldest_ = (oldest_ + 1) % capacity_;
  }
  void Clear() {
    slots_.clear();
    oldest_ = 0;
  }
  size_t Size() const { return slots_.size(); }
  size_t Capacity() const { return capacity_; }
  template <class F>
  void ForEach(F visit) const {
    for (size_t i = 0; i < slots_.size(); ++i) visit(slots_[(oldest_ + i) % slots_.size()]);
  }
  // The entries, oldest first.
  std::vector<T> Snapshot() const {
    std::vector<T> out;
    out.reserve(slots_.size());
    for (size_t i = 0; i < slots_.size(); ++i) out.push_back(slots_[(oldest_ + i) % slots_.size()]);
    return out;
  }

 private:
  size_t capacity_;
  size_t oldest_ = 0;
  std::vector<T> slots_;
};

#endif  // SIM_RING_H
