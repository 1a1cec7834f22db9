// CPvlPtr: holds one interface pointer and one reference on it.
#ifndef CPVLPTR_H
#define CPVLPTR_H

#include <stdint.h>

#include <memory>

#include "hostsymbols.h"
#include "pvlbase.h"

template <class T>
class CPvlPtr {
 public:
  CPvlPtr() noexcept : m_p(nullptr) {}
  CPvlPtr(T* p) : m_p(p) {  // NOLINT: implicit on purpose, like a raw pointer
    if (m_p) m_p->AddRef();
  }
  CPvlPtr(const CPvlPtr& other) : m_p(other.m_p) {
    if (m_p) m_p->AddRef();
  }
  CPvlPtr(CPvlPtr&& other) noexcept : m_p(other.m_p) { other.m_p = nullptr; }
  ~CPvlPtr() { Reset(); }

  CPvlPtr& operator=(T* p) {
    if (p == m_p) return *this;
    // Take the new reference before dropping the old one: the old object may
    // hold the last reference on the new one.
    if (p) p->AddRef();
    T* old = m_p;
    m_p = p;
    if (old) old->Release();
    return *this;
  }
  CPvlPtr& operator=(const CPvlPtr& other) { return *this = other.m_p; }
  CPvlPtr& operator=(CPvlPtr&& other) noexcept {
    if (this != std::addressof(other)) {
      T* old = m_p;
      m_p = other.m_p;
      other.m_p = nullptr;
      if (old) old->Release();
    }
    return *this;
  }

  // Releases the held pointer (when any) and empties the holder.
  void Reset() {
    T* old = m_p;
    m_p = nullptr;
    if (old) old->Release();
  }

  T* Get() const noexcept { return m_p; }
  operator T*() const noexcept { return m_p; }
  T* operator->() const noexcept { return m_p; }
  explicit operator bool() const noexcept { return m_p != nullptr; }

  // Address for an out-parameter; the holder must be empty. A non-empty holder
  // is a caller's mistake: the break reports it and the old reference is
  // dropped, so that it does not leak when the callee overwrites it.
  T** operator&() {
    if (m_p) {
      dbg_dbg_Break(reinterpret_cast<uintptr_t>(m_p));
      Reset();
    }
    return &m_p;
  }
  // The same, typed for QueryInterface and CreateInstance.
  void** Out() { return reinterpret_cast<void**>(&*this); }

  // Hands the pointer and its reference to the caller.
  T* Detach() noexcept {
    T* p = m_p;
    m_p = nullptr;
    return p;
  }

 private:
  T* m_p;
};

#if INTPTR_MAX == INT32_MAX  // the phone's layout: a 64-bit build widens its pointers
static_assert(sizeof(CPvlPtr<IPvlBase>) == 4, "a CPvlPtr is one pointer");
#endif

#endif
