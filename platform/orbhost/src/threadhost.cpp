// The thread host: one platform thread per start, joined on request.
#include <pthread.h>

#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "internal.h"
#include "isignalqueue.h"
#include "ithreadhost.h"

namespace orbhost {
namespace {

// Shared by the host object and its running thread, so that a thread host released
// while its thread runs (the thread is then detached) leaves nothing dangling.
struct ThreadState {
  std::mutex mutex;
  PvlThreadEntry entry = nullptr;
  void* context = nullptr;
  char name[16] = {};
  bool started = false;   // a thread exists that has not been joined
  bool finished = false;  // its body returned
  bool joining = false;
  uint32_t exitCode = 0;
  ISignalControl* exitControl = nullptr;  // fired when the body returns; one reference
  pthread_t thread{};
};

void* ThreadMain(void* arg) {
  auto* holder = static_cast<std::shared_ptr<ThreadState>*>(arg);
  std::shared_ptr<ThreadState> state = std::move(*holder);
  delete holder;
  if (state->name[0]) pthread_setname_np(pthread_self(), state->name);
  uint32_t code = state->entry(state->context);
  ISignalControl* control = nullptr;
  {
    std::lock_guard<std::mutex> lock(state->mutex);
    state->finished = true;
    state->exitCode = code;
    control = state->exitControl;
    state->exitControl = nullptr;
  }
  if (control) {
    control->Fire();
    control->Release();
  }
  return nullptr;
}

class ThreadHost final : public HostObject<IThreadHost> {
 public:
  PvlResult QueryInterface(ZUEUID iid, void** out) override {
    return AnswerQuery(iid, out, ZUEUID_IFACE_THREAD_HOST);
  }

  PvlResult Start(const PvlThreadStartRecord* record, const char* name) override {
    if (!record || !record->entry) return PVL_E_NULLPTR;
    std::lock_guard<std::mutex> lock(m_state->mutex);
    if (m_state->started) return PVL_E_NOTREADY;
    m_state->entry = record->entry;
    m_state->context = record->context;
    m_state->finished = false;
    m_state->exitCode = 0;
    memset(m_state->name, 0, sizeof m_state->name);
    if (name) strncpy(m_state->name, name, sizeof m_state->name - 1);
    auto* holder = new (std::nothrow) std::shared_ptr<ThreadState>(m_state);
    if (!holder) return PVL_E_OUTOFMEMORY;
    if (pthread_create(&m_state->thread, nullptr, ThreadMain, holder) != 0) {
      delete holder;
      Log("cannot start thread \"%s\"", m_state->name);
      return PVL_E_FAIL;
    }
    m_state->started = true;
    return PVL_OK;
  }

  PvlResult Suspend(uint32_t, uint32_t) override { return PVL_E_UNSUPPORTED; }
  PvlResult Resume(uint32_t) override { return PVL_OK; }
  PvlResult Reserved6() override { return PVL_E_UNSUPPORTED; }

  PvlResult Join(ISignalControl* exitControl) override {
    pthread_t thread;
    bool fireNow = false;
    {
      std::lock_guard<std::mutex> lock(m_state->mutex);
      if (!m_state->started || m_state->joining) return PVL_E_NOTREADY;
      if (pthread_equal(m_state->thread, pthread_self())) return PVL_E_NOTREADY;
      m_state->joining = true;
      thread = m_state->thread;
      if (exitControl) {
        if (m_state->finished) {
          fireNow = true;
        } else {
          exitControl->AddRef();
          m_state->exitControl = exitControl;
        }
      }
    }
    if (fireNow) exitControl->Fire();
    pthread_join(thread, nullptr);
    std::lock_guard<std::mutex> lock(m_state->mutex);
    m_state->started = false;
    m_state->joining = false;
    return PVL_OK;
  }

  PvlResult PassThrough8(uint32_t, uint32_t, uint32_t) override { return PVL_E_UNSUPPORTED; }
  PvlResult PassThrough9(uint32_t, uint32_t) override { return PVL_E_UNSUPPORTED; }
  PvlResult PassThrough10(uint32_t) override { return PVL_E_UNSUPPORTED; }
  PvlResult PassThrough11(uint32_t, uint32_t, uint32_t) override { return PVL_E_UNSUPPORTED; }

 protected:
  ~ThreadHost() override {
    std::lock_guard<std::mutex> lock(m_state->mutex);
    if (m_state->started && !m_state->joining) {
      // Released while its thread still runs: the thread keeps the shared state and
      // ends on its own.
      Log("thread \"%s\" released before it was joined; detached", m_state->name);
      pthread_detach(m_state->thread);
    }
  }

 private:
  std::shared_ptr<ThreadState> m_state = std::make_shared<ThreadState>();
};

}  // namespace

PvlResult CreateThreadHost(void** out) {
  try {
    *out = static_cast<IThreadHost*>(new ThreadHost);
  } catch (const std::bad_alloc&) {
    return PVL_E_OUTOFMEMORY;
  }
  return PVL_OK;
}

}  // namespace orbhost
