// Interrupt lines: a board model raises a line, the bound event fires and the line stays
// masked until the driver's InterruptDone.
#include <map>

#include "internal.h"

namespace cesim {
namespace {

struct Line {
  std::shared_ptr<EventObj> event;   // null while not initialised
  bool disabled = false;             // switched off by InterruptDisable
  bool masked = false;
  bool pending = false;
};

// Under the kernel lock.
std::map<DWORD, Line>& Lines() {
  static auto* l = new std::map<DWORD, Line>;
  return *l;
}

void DeliverLocked(Line& l) {
  l.pending = false;
  l.masked = true;
  SetEventObjLocked(*l.event);
}

}  // namespace
}  // namespace cesim

using namespace cesim;

extern "C" {

BOOL InterruptInitialize(DWORD sysIntr, HANDLE event, LPVOID, DWORD) {
  auto e = FindEvent(event);
  if (!e || sysIntr == SYSINTR_UNDEFINED || sysIntr == SYSINTR_NOP) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> lk(KernelLock());
  Line& l = Lines()[sysIntr];
  if (l.event) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return FALSE;
  }
  l.event = e;
  l.disabled = false;
  l.masked = false;
  if (l.pending) DeliverLocked(l);
  return TRUE;
}

void InterruptDone(DWORD sysIntr) {
  std::lock_guard<std::mutex> lk(KernelLock());
  auto it = Lines().find(sysIntr);
  if (it == Lines().end() || !it->second.event) return;
  Line& l = it->second;
  l.masked = false;
  if (l.pending) DeliverLocked(l);
}

void InterruptDisable(DWORD sysIntr) {
  std::lock_guard<std::mutex> lk(KernelLock());
  Line& l = Lines()[sysIntr];
  l.event.reset();
  l.disabled = true;
  l.masked = false;
  l.pending = false;
}

BOOL CeSimRaiseInterrupt(DWORD sysIntr) {
  std::lock_guard<std::mutex> lk(KernelLock());
  Line& l = Lines()[sysIntr];
  if (l.disabled) return FALSE;
  if (!l.event || l.masked) {
    l.pending = true;
    return TRUE;
  }
  DeliverLocked(l);
  return TRUE;
}

BOOL CeSimInterruptMasked(DWORD sysIntr) {
  std::lock_guard<std::mutex> lk(KernelLock());
  auto it = Lines().find(sysIntr);
  return it != Lines().end() && it->second.masked;
}

BOOL CeSimInterruptPending(DWORD sysIntr) {
  std::lock_guard<std::mutex> lk(KernelLock());
  auto it = Lines().find(sysIntr);
  return it != Lines().end() && it->second.pending;
}

}  // extern "C"
