// Scoped hold of a framework lock (ILock): taken on construction, given up on
// destruction or by Unlock. A null lock does nothing.
#pragma once

#include "ilock.h"

class CCameraLockGuard {
 public:
  explicit CCameraLockGuard(ILock* lock) : m_lock(lock) {
    if (m_lock) m_lock->Lock();
    m_held = m_lock != nullptr;
  }
  ~CCameraLockGuard() { Unlock(); }
  void Unlock() {
    if (m_held) m_lock->Unlock();
    m_held = false;
  }
  void Lock() {
    if (m_lock && !m_held) m_lock->Lock();
    m_held = m_lock != nullptr;
  }
  CCameraLockGuard(const CCameraLockGuard&) = delete;
  CCameraLockGuard& operator=(const CCameraLockGuard&) = delete;

 private:
  ILock* m_lock;
  bool m_held;
};
