// Scoped clean-up for the driver: a step that fails part way undoes what it made
// when it leaves, so no path can skip the release.
#pragma once

#include <utility>

// Runs a function at scope exit unless dismissed.
template <typename F>
class ScopeExit {
 public:
  explicit ScopeExit(F f) : f_(std::move(f)) {}
  ~ScopeExit() {
    if (armed_) f_();
  }
  void Dismiss() { armed_ = false; }
  ScopeExit(const ScopeExit&) = delete;
  ScopeExit& operator=(const ScopeExit&) = delete;

 private:
  F f_;
  bool armed_ = true;
};
