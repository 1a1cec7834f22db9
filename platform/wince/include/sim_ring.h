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
  // A ring given `setAside` writes that many fresh slots ahead of need while it
  // grows, from callers that may wait: a real-time caller then writes into memory
  // already written, as the first write to a fresh page can cost a loaded
  // machine a millisecond.
  explicit SimRing(size_t capacity, size_t setAside = 0)
      : capacity_(capacity ? capacity : 1), setAside_(setAside) {}

  void Push(T entry, bool mayWait = true) {
    if (used_ < capacity_) {
      if (setAside_ && slots_.capacity() < capacity_) slots_.reserve(capacity_);
      if (used_ == slots_.size()) slots_.emplace_back();
      if (mayWait)
        while (slots_.size() < capacity_ && slots_.size() <= used_ + setAside_) slots_.emplace_back();
      slots_[used_++] = std::move(entry);
      return;
    }
    slots_[oldest_] = std::move(entry);
    oldest_ = (oldest_ + 1) % capacity_;
  }
  void Clear() {
    if (!setAside_) slots_.clear();  // a ring that sets slots aside keeps them written
    used_ = 0;
    oldest_ = 0;
  }
  size_t Size() const { return used_; }
  size_t Capacity() const { return capacity_; }
  template <class F>
  void ForEach(F visit) const {
    for (size_t i = 0; i < used_; ++i) visit(slots_[(oldest_ + i) % used_]);
  }
  // The entries, oldest first.
  std::vector<T> Snapshot() const {
    std::vector<T> out;
    out.reserve(used_);
    for (size_t i = 0; i < used_; ++i) out.push_back(slots_[(oldest_ + i) % used_]);
    return out;
  }

 private:
  size_t capacity_;
  size_t setAside_;
  size_t used_ = 0;  // slots holding an entry; those after them are set aside
  size_t oldest_ = 0;
  std::vector<T> slots_;
};

#endif  // SIM_RING_H
