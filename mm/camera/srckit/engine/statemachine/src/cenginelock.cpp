#include "cenginelock.h"

#include "ienv.h"

PvlResult CEngineLock::Create(IEnv* env, CEngineLock** out) {
  if (!env || !out) return PVL_E_NULLPTR;
  *out = nullptr;
  auto* self = new (std::nothrow) CEngineLock(env);
  if (!self) return PVL_E_OUTOFMEMORY;
  self->AddRef();
  PvlResult r = env->CreateInstance(ZUEUID_CLASS_LOCK, self->m_host.Out());
  if (r != PVL_OK) {
    self->Release();
    return r;
  }
  *out = self;
  return PVL_OK;
}

PvlResult CEngineLock::QueryInterface(ZUEUID iid, void** out) {
  if (!out) return PVL_E_BADARG;
  if (iid == ZUEUID_IFACE_LOCK) {
    *out = static_cast<ILock*>(this);
    AddRef();
    return PVL_OK;
  }
  return CPvlObject::QueryInterface(iid, out);
}

// The gate decides who owns the lock; the host lock under it is taken by the
// owner alone and so never blocks.
void CEngineLock::TakeLocked(std::unique_lock<std::mutex>& gate) {
  m_owner = std::this_thread::get_id();
  m_depth = 1;
  gate.unlock();
  m_host->Lock();
}

PvlResult CEngineLock::Lock() {
  std::unique_lock<std::mutex> gate(m_gate);
  if (m_depth != 0 && m_owner == std::this_thread::get_id()) {
    ++m_depth;
    return PVL_OK;
  }
  m_changed.wait(gate, [this] { return m_depth == 0; });
  TakeLocked(gate);
  return PVL_OK;
}

bool CEngineLock::LockUnless(GiveUp giveUp, void* context) {
  std::unique_lock<std::mutex> gate(m_gate);
  if (m_depth != 0 && m_owner == std::this_thread::get_id()) {
    ++m_depth;
    return true;
  }
  for (;;) {
    if (m_depth == 0) {
      TakeLocked(gate);
      return true;
    }
    if (giveUp && giveUp(context)) return false;
    m_changed.wait(gate);
  }
}

PvlResult CEngineLock::Unlock() {
  std::lock_guard<std::mutex> gate(m_gate);
  if (m_depth == 0 || m_owner != std::this_thread::get_id()) return PVL_E_NOTREADY;
  if (--m_depth != 0) return PVL_OK;
  m_host->Unlock();
  m_owner = std::thread::id();
  m_changed.notify_all();
  return PVL_OK;
}

void CEngineLock::Wake() {
  std::lock_guard<std::mutex> gate(m_gate);
  m_changed.notify_all();
}
