// Shared internals of the operating-system stand-in.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "wince.h"
#include "wince_sim.h"

namespace cesim {

// The threads waiting for a change of some kernel state, each by its own condition
// variable. A change wakes only the threads that wait for what changed: with one
// condition for the whole process every thread that waits on anything would wake,
// re-check and sleep again at every change anywhere. Used under KernelLock().
class WakeList {
 public:
  void Add(std::condition_variable* cv) { cvs_.push_back(cv); }
  void Remove(std::condition_variable* cv) {
    for (size_t i = 0; i < cvs_.size(); ++i) {
      if (cvs_[i] == cv) {
        cvs_[i] = cvs_.back();
        cvs_.pop_back();
        return;
      }
    }
  }
  void Changed() const {
    for (auto* cv : cvs_) cv->notify_one();
  }

 private:
  std::vector<std::condition_variable*> cvs_;
};

// Kernel objects behind handles. Every change of a waitable object's state happens under
// KernelLock() and is followed by Changed() on the object's wake list.
enum class Kind { Event, Mutex, Thread, QueueEnd, File, Device, Key };

struct KObject {
  explicit KObject(Kind k) : kind(k) {}
  virtual ~KObject() = default;
  const Kind kind;
  virtual bool Waitable() const { return false; }
  // Called under the kernel lock.
  virtual bool Signaled() const { return false; }
  virtual void Acquire() {}           // a successful wait consumes (auto-reset, mutex)
  virtual void Closed() {}            // the handle was closed (under the kernel lock)
  int waiters = 0;                    // threads waiting on the object now
  virtual void WaitLeft() {}          // a waiter has stopped waiting (under the kernel lock)
  // Who to wake when the object's state changes; objects sharing state share the list.
  virtual WakeList& Wakes() { return wakes_; }
  void Changed() { Wakes().Changed(); }

 private:
  WakeList wakes_;
};

std::mutex& KernelLock();

HANDLE AddHandle(std::shared_ptr<KObject> obj);     // takes the kernel lock
HANDLE AddHandleLocked(std::shared_ptr<KObject> obj);
std::shared_ptr<KObject> FindHandle(HANDLE h);      // takes the kernel lock
std::shared_ptr<KObject> FindHandleLocked(HANDLE h);
std::shared_ptr<KObject> RemoveHandleLocked(HANDLE h);

template <typename T>
std::shared_ptr<T> FindAs(HANDLE h, Kind k) {
  auto o = FindHandle(h);
  if (!o || o->kind != k) return nullptr;
  return std::static_pointer_cast<T>(o);
}
template <typename T>
std::shared_ptr<T> FindAsLocked(HANDLE h, Kind k) {
  auto o = FindHandleLocked(h);
  if (!o || o->kind != k) return nullptr;
  return std::static_pointer_cast<T>(o);
}

// Waits under the held kernel lock until pred() or the time-out; false on time-out.
// The wait wakes when one of `lists` is told of a change (or at the time-out): every
// state pred() reads must be covered by them.
template <typename Lists, typename Pred>
bool WaitLocked(std::unique_lock<std::mutex>& lk, DWORD ms, const Lists& lists, Pred pred) {
  if (pred()) return true;
  if (ms == 0) return false;
  std::condition_variable cv;
  for (WakeList* l : lists) l->Add(&cv);
  bool ok = true;
  if (ms == INFINITE) cv.wait(lk, pred);
  else ok = cv.wait_for(lk, std::chrono::milliseconds(ms), pred);
  for (WakeList* l : lists) l->Remove(&cv);
  return ok;
}
template <typename Pred>
bool WaitLocked(std::unique_lock<std::mutex>& lk, DWORD ms, WakeList& list, Pred pred) {
  WakeList* lists[] = {&list};
  return WaitLocked(lk, ms, lists, pred);
}

// Events (for interrupts).
struct EventObj;
std::shared_ptr<EventObj> FindEvent(HANDLE h);
void SetEventObjLocked(EventObj& e);

// Handle-kind close hooks for CloseHandle.
BOOL CloseFileLike(HANDLE h, const std::shared_ptr<KObject>& obj);   // files and devices
LONG CloseKeyHandle(HKEY h);

// Wide text.
std::u16string VFormat(const char16_t* format, va_list args);
std::string Narrow(std::u16string_view s);
std::u16string Widen(std::string_view s);
char16_t FoldCase(char16_t c);
bool EqualNoCase(std::u16string_view a, std::u16string_view b);
std::u16string LowerCase(std::u16string_view s);
std::string LowerCaseAscii(std::string_view s);

// Debug output.
void DebugLine(std::string_view utf8);   // one line, no line end
bool DebugHeard();                       // false while quiet and nothing captures: a line would go nowhere

// The image.
std::string ImageRoot();
void RegistryImageChanged();
// Finds `name` in host directory `dir`, exactly or else without regard to case; "" when absent.
std::string FindNoCase(const std::string& dir, const std::string& name);

}  // namespace cesim
