// What the pin's files share: copies across the client's memory, the buffer
// table's scoped lock, the driver-wide pin values and the waits they use.
#pragma once

#include <stdint.h>

#include "cpindevice.h"
#include "wince.h"

namespace pinimpl {

constexpr DWORD kNotActive = 1062;
constexpr DWORD kThreadEndWaitMs = 1000;
constexpr DWORD kMessageWriteTimeoutMs = 250;

template <typename T>
void ReleaseAndClear(T*& p) {
  if (p) p->Release();
  p = nullptr;
}

inline bool CopyIn(void* dst, const void* src, DWORD length) { return src && CeSafeCopyMemory(dst, src, length); }
inline bool CopyOut(void* dst, const void* src, DWORD length) { return dst && CeSafeCopyMemory(dst, src, length); }

// The buffer table's lock for one scope.
class TableLock {
 public:
  explicit TableLock(PinBufferTable* table) : m_lock(&table->lock) { EnterCriticalSection(m_lock); }
  ~TableLock() { LeaveCriticalSection(m_lock); }
  TableLock(const TableLock&) = delete;
  TableLock& operator=(const TableLock&) = delete;

 private:
  CRITICAL_SECTION* m_lock;
};

extern PinGlobals g_pinGlobals;

}  // namespace pinimpl
