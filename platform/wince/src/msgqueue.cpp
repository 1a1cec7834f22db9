// Point-to-point message queues: a shared, bounded queue of messages with read and
// write ends that are handles of their own.
#include <cstring>
#include <deque>
#include <map>
#include <vector>

#include "internal.h"

namespace cesim {
namespace {

struct Queue {
  std::u16string key;   // lower-cased name, empty when unnamed
  DWORD flags = 0;
  DWORD maxMessages = 0;
  DWORD cbMaxMessage = 0;
  DWORD maxSeen = 0;
  struct Message {
    std::vector<BYTE> data;
    DWORD flags;
  };
  std::deque<Message> messages;
  DWORD readers = 0;
  DWORD writers = 0;
  WakeList wakes;   // the waits on any of its ends: messages and ends are their state
  bool HasRoom() const { return maxMessages == 0 || messages.size() < maxMessages; }
};

struct QueueEnd : KObject {
  QueueEnd(std::shared_ptr<Queue> queue, bool reader, DWORD flags)
      : KObject(Kind::QueueEnd), q(std::move(queue)), read(reader), handleFlags(flags) {
    if (read) ++q->readers;
    else ++q->writers;
  }
  std::shared_ptr<Queue> q;
  bool read;
  DWORD handleFlags;
  bool closed = false;
  bool Waitable() const override { return true; }
  bool Signaled() const override { return read ? !q->messages.empty() : q->HasRoom(); }
  WakeList& Wakes() override { return q->wakes; }
  void Closed() override {
    if (closed) return;
    closed = true;
    if (read) --q->readers;
    else --q->writers;
  }
  bool AllowBroken() const { return ((q->flags | handleFlags) & MSGQUEUE_ALLOW_BROKEN) != 0; }
  // True when the other side has no open end and the queue does not allow that.
  bool Broken() const { return !AllowBroken() && (read ? q->writers == 0 : q->readers == 0); }
};

std::map<std::u16string, std::weak_ptr<Queue>>& QueueNames() {
  static auto* n = new std::map<std::u16string, std::weak_ptr<Queue>>;
  return *n;
}

bool CheckOptions(const MSGQUEUEOPTIONS* o) {
  if (o == nullptr || o->dwSize != sizeof(MSGQUEUEOPTIONS)) return false;
  return true;
}

}  // namespace
}  // namespace cesim

using namespace cesim;

extern "C" {

HANDLE CreateMsgQueue(LPCWSTR name, LPMSGQUEUEOPTIONS options) {
  if (!CheckOptions(options) || options->cbMaxMessage == 0 ||
      (options->dwFlags & ~(MSGQUEUE_NOPRECOMMIT | MSGQUEUE_ALLOW_BROKEN)) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (name != nullptr && wcslen(name) >= MAX_PATH) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::lock_guard<std::mutex> lk(KernelLock());
  std::shared_ptr<Queue> q;
  bool existed = false;
  std::u16string key = (name != nullptr) ? LowerCase(name) : std::u16string();
  if (!key.empty()) {
    auto it = QueueNames().find(key);
    if (it != QueueNames().end()) q = it->second.lock();
    existed = q != nullptr;
  }
  if (!q) {
    q = std::make_shared<Queue>();
    q->key = key;
    q->flags = options->dwFlags;
    q->maxMessages = options->dwMaxMessages;
    q->cbMaxMessage = options->cbMaxMessage;
    if (!key.empty()) QueueNames()[key] = q;
  }
  auto end = std::make_shared<QueueEnd>(q, options->bReadAccess != FALSE, options->dwFlags);
  HANDLE h = AddHandleLocked(end);
  end->Changed();
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return h;
}

HANDLE OpenMsgQueue(HANDLE /*sourceProcess*/, HANDLE queue, LPMSGQUEUEOPTIONS options) {
  if (!CheckOptions(options)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::lock_guard<std::mutex> lk(KernelLock());
  auto src = FindAsLocked<QueueEnd>(queue, Kind::QueueEnd);
  if (!src) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  auto end = std::make_shared<QueueEnd>(src->q, options->bReadAccess != FALSE, options->dwFlags);
  HANDLE h = AddHandleLocked(end);
  end->Changed();
  SetLastError(ERROR_SUCCESS);
  return h;
}

BOOL ReadMsgQueue(HANDLE queue, LPVOID buffer, DWORD bufferSize, LPDWORD bytesRead, DWORD timeoutMs, DWORD* flags) {
  std::unique_lock<std::mutex> lk(KernelLock());
  auto end = FindAsLocked<QueueEnd>(queue, Kind::QueueEnd);
  if (!end) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!end->read) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (buffer == nullptr || bytesRead == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Queue& q = *end->q;
  // Messages already written are delivered even when the writers have gone.
  bool ok = WaitLocked(lk, timeoutMs, q.wakes, [&] { return !q.messages.empty() || end->Broken() || end->closed; });
  if (end->closed) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (q.messages.empty()) {
    SetLastError(ok ? ERROR_PIPE_NOT_CONNECTED : ERROR_TIMEOUT);
    return FALSE;
  }
  auto& m = q.messages.front();
  if (m.data.size() > bufferSize) {
    // The message stays queued: nothing is lost, the reader can retry with room.
    *bytesRead = static_cast<DWORD>(m.data.size());
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (!m.data.empty()) std::memcpy(buffer, m.data.data(), m.data.size());
  *bytesRead = static_cast<DWORD>(m.data.size());
  if (flags) *flags = m.flags;
  q.messages.pop_front();
  q.wakes.Changed();
  return TRUE;
}

BOOL WriteMsgQueue(HANDLE queue, LPVOID buffer, DWORD dataSize, DWORD timeoutMs, DWORD flags) {
  std::unique_lock<std::mutex> lk(KernelLock());
  auto end = FindAsLocked<QueueEnd>(queue, Kind::QueueEnd);
  if (!end) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (end->read) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (buffer == nullptr && dataSize != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Queue& q = *end->q;
  if (dataSize > q.cbMaxMessage) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  if (end->Broken()) {
    SetLastError(ERROR_PIPE_NOT_CONNECTED);
    return FALSE;
  }
  bool ok = WaitLocked(lk, timeoutMs, q.wakes, [&] { return q.HasRoom() || end->Broken() || end->closed; });
  if (end->closed) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (end->Broken()) {
    SetLastError(ERROR_PIPE_NOT_CONNECTED);
    return FALSE;
  }
  if (!ok) {
    SetLastError(ERROR_TIMEOUT);
    return FALSE;
  }
  const BYTE* b = static_cast<const BYTE*>(buffer);
  q.messages.push_back({std::vector<BYTE>(b, b + dataSize), flags});
  if (q.messages.size() > q.maxSeen) q.maxSeen = static_cast<DWORD>(q.messages.size());
  q.wakes.Changed();
  return TRUE;
}

BOOL GetMsgQueueInfo(HANDLE queue, LPMSGQUEUEINFO info) {
  std::lock_guard<std::mutex> lk(KernelLock());
  auto end = FindAsLocked<QueueEnd>(queue, Kind::QueueEnd);
  if (!end) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (info == nullptr || info->dwSize != sizeof(MSGQUEUEINFO)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const Queue& q = *end->q;
  info->dwFlags = q.flags;
  info->dwMaxMessages = q.maxMessages;
  info->cbMaxMessage = q.cbMaxMessage;
  info->dwCurrentMessages = static_cast<DWORD>(q.messages.size());
  info->dwMaxQueueMessages = q.maxSeen;
  info->wNumReaders = static_cast<WORD>(q.readers);
  info->wNumWriters = static_cast<WORD>(q.writers);
  return TRUE;
}

BOOL CloseMsgQueue(HANDLE queue) {
  {
    std::lock_guard<std::mutex> lk(KernelLock());
    auto end = FindAsLocked<QueueEnd>(queue, Kind::QueueEnd);
    if (!end) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
  }
  return CloseHandle(queue);
}

}  // extern "C"
