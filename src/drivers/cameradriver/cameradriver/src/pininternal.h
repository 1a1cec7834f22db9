// What the pin's files share: copies across the client's memory, the buffer
// table's scoped lock, the driver-wide pin values and the waits they use.
#pragma once

#include <stdint.h>

#include "chipset.h"
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

// How a pin kind starts once it is in RUN.
enum class PinStart : uint8_t {
  Video,     // every buffer queued: the port and the engine's video start
  Snapshot,  // every buffer queued: the port starts and the trigger is armed
  Thumbnail, // the port starts with the still; it fills the preview's buffers
};

// What sets one pin kind apart from the others: everything the handle, its
// buffers and its capture thread do differently for it comes from its row.
struct PinKind {
  const WCHAR* name;
  const WCHAR* bufferModeSetting;  // registry value of its allocation mode
  uint32_t defaultBufferMode;
  uint32_t bufferSource;   // the port's pool it asks for
  uint32_t fixedCount;     // buffers it always has (0: the port's count)
  uint32_t extraBuffers;   // added to the port's count
  PinStart start;
  bool startsOnFullQueue;  // the last allocated buffer queued starts it
  bool keepsStartThroughPause;
  bool triggered;          // a frame only for a trigger; counts its own lost captures
  bool stillImage;         // its format picks its buffer mode; the EXIF and JPEG sets are its
  uint32_t screenNotice;   // the async message after the post-capture screen (0: none)
  uint32_t PinGlobals::*noteWidth;  // where its negotiated size is noted (null: nowhere)
  uint32_t PinGlobals::*noteHeight;
};
const PinKind& PinKindOf(uint32_t pinId);

// One block of physical memory, freed with the scope.
class PmemBlock {
 public:
  PmemBlock(uint32_t bytes, uint32_t flags) : m_block(static_cast<uint32_t*>(pmem_malloc(bytes, flags))) {}
  ~PmemBlock() {
    if (m_block) pmem_free(m_block);
  }
  PmemBlock(const PmemBlock&) = delete;
  PmemBlock& operator=(const PmemBlock&) = delete;
  uint32_t* get() const { return m_block; }
  explicit operator bool() const { return m_block != nullptr; }

 private:
  uint32_t* m_block;
};

}  // namespace pinimpl
