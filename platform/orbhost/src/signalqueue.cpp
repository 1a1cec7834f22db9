// Signal queues, their signals, and the registration of outside controls.
//
// State lives in two shared cores: the queue core (pending list, waiters,
// registrations) and one core per signal. A signal core keeps its queue core alive,
// so a control may fire after the queue object has been released: the queue core is
// then closed and the fire answers 10 instead of touching freed memory.
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "internal.h"
#include "isignalqueue.h"

namespace orbhost {
namespace {

struct SignalCore;

struct Registration {
  ISignalControl* control;  // one reference held
  uint32_t flags;
};

struct QueueCore {
  std::mutex mutex;
  std::condition_variable ready;
  std::deque<SignalCore*> pending;  // fired, not yet taken
  uint32_t signals = 0;             // signal cores alive
  bool closed = false;
  std::vector<Registration> registrations;
};

enum class SignalState { kArmed, kPending, kTaken };

struct SignalCore {
  SignalCore(std::shared_ptr<QueueCore> q, void* c, ZUEUID i) : queue(std::move(q)), context(c), id(i) {}
  ~SignalCore() {
    bool last = false;
    {
      std::lock_guard<std::mutex> lock(queue->mutex);
      if (state == SignalState::kPending)
        queue->pending.erase(std::find(queue->pending.begin(), queue->pending.end(), this));
      last = --queue->signals == 0;
    }
    // A wait blocked on a queue whose last signal is gone would never end.
    if (last) queue->ready.notify_all();
  }

  PvlResult Fire() {
    {
      std::lock_guard<std::mutex> lock(queue->mutex);
      if (queue->closed) return PVL_E_DETACHED;
      if (state != SignalState::kArmed) return PVL_OK;  // once until re-armed
      state = SignalState::kPending;
      queue->pending.push_back(this);
    }
    queue->ready.notify_one();
    return PVL_OK;
  }

  PvlResult ReArm() {
    std::lock_guard<std::mutex> lock(queue->mutex);
    if (queue->closed) return PVL_E_DETACHED;
    if (state == SignalState::kPending)
      queue->pending.erase(std::find(queue->pending.begin(), queue->pending.end(), this));
    state = SignalState::kArmed;
    return PVL_OK;
  }

  const std::shared_ptr<QueueCore> queue;
  void* const context;
  const ZUEUID id;
  SignalState state = SignalState::kArmed;  // guarded by queue->mutex
};

class SignalControl final : public HostObject<ISignalControl> {
 public:
  explicit SignalControl(std::shared_ptr<SignalCore> core) : m_core(std::move(core)) {}
  PvlResult QueryInterface(ZUEUID iid, void** out) override {
    return AnswerQuery(iid, out, ZUEUID_IFACE_SIGNAL_CONTROL);
  }
  PvlResult Fire() override { return m_core->Fire(); }

 private:
  std::shared_ptr<SignalCore> m_core;
};

class Signal final : public HostObject<ISignal> {
 public:
  explicit Signal(std::shared_ptr<SignalCore> core) : m_core(std::move(core)) {}
  PvlResult QueryInterface(ZUEUID iid, void** out) override { return AnswerQuery(iid, out, ZUEUID_IFACE_SIGNAL); }
  PvlResult ReArm() override { return m_core->ReArm(); }

 private:
  std::shared_ptr<SignalCore> m_core;
};

class SignalQueue final : public HostObject<ISignalQueue> {
 public:
  SignalQueue() : m_core(std::make_shared<QueueCore>()) {}

  PvlResult QueryInterface(ZUEUID iid, void** out) override {
    return AnswerQuery(iid, out, ZUEUID_IFACE_SIGNAL_QUEUE);
  }

  PvlResult Wait(PvlSignalWaitRecord* record) override {
    if (!record) return PVL_E_NULLPTR;
    // The core, not this object, carries the wait: a wait still blocked when the
    // owner releases the queue ends with 10 on a core that outlives the object.
    std::shared_ptr<QueueCore> core = m_core;
    std::unique_lock<std::mutex> lock(core->mutex);
    for (;;) {
      if (core->closed) return PVL_E_DETACHED;
      if (!core->pending.empty()) {
        SignalCore* signal = core->pending.front();
        core->pending.pop_front();
        signal->state = SignalState::kTaken;
        record->context = signal->context;
        record->id = signal->id;
        return PVL_OK;
      }
      if (core->signals == 0) return PVL_E_NOTREADY;  // nothing could ever fire
      core->ready.wait(lock);
    }
  }

  PvlResult CreateSignal(void* context, ZUEUID id, ISignalControl** control, ISignal** signal) override {
    if (!control || !signal) return PVL_E_NULLPTR;
    *control = nullptr;
    *signal = nullptr;
    std::shared_ptr<SignalCore> core;
    SignalControl* c = nullptr;
    Signal* s = nullptr;
    try {
      {
        std::lock_guard<std::mutex> lock(m_core->mutex);
        m_core->signals++;  // undone by the core's destructor
      }
      core = std::make_shared<SignalCore>(m_core, context, id);
      c = new SignalControl(core);
      s = new Signal(core);
    } catch (const std::bad_alloc&) {
      if (c) c->Release();
      if (!core) {
        std::lock_guard<std::mutex> lock(m_core->mutex);
        m_core->signals--;
      }
      return PVL_E_OUTOFMEMORY;
    }
    *control = c;
    *signal = s;
    return PVL_OK;
  }

  PvlResult FireRegistered() override {
    std::vector<ISignalControl*> fire;
    {
      std::lock_guard<std::mutex> lock(m_core->mutex);
      auto& regs = m_core->registrations;
      for (const Registration& r : regs) {
        r.control->AddRef();
        fire.push_back(r.control);
      }
      for (auto it = regs.begin(); it != regs.end();) {
        if (it->flags & PVL_SIGNAL_REGISTER_ONCE) {
          it->control->Release();  // `fire` still holds one
          it = regs.erase(it);
        } else {
          ++it;
        }
      }
    }
    // Fired outside the lock: a control may belong to this very queue.
    for (ISignalControl* control : fire) {
      control->Fire();
      control->Release();
    }
    return PVL_OK;
  }

  PvlResult Reserved6() override { return PVL_E_UNSUPPORTED; }

  PvlResult RegisterControl(ISignalControl* control, uint32_t flags) override {
    if (!control) return PVL_E_NULLPTR;
    if (flags & ~PVL_SIGNAL_REGISTER_ONCE) return PVL_E_BADARG;
    std::lock_guard<std::mutex> lock(m_core->mutex);
    m_core->registrations.push_back(Registration{control, flags});
    control->AddRef();
    return PVL_OK;
  }

  PvlResult UnregisterControl(ISignalControl* control) override {
    ISignalControl* found = nullptr;
    {
      std::lock_guard<std::mutex> lock(m_core->mutex);
      auto& regs = m_core->registrations;
      auto it = std::find_if(regs.begin(), regs.end(), [&](const Registration& r) { return r.control == control; });
      if (it == regs.end()) return PVL_E_BADARG;
      found = it->control;
      regs.erase(it);
    }
    found->Release();
    return PVL_OK;
  }

 protected:
  ~SignalQueue() override {
    std::vector<Registration> regs;
    {
      std::lock_guard<std::mutex> lock(m_core->mutex);
      m_core->closed = true;
      regs.swap(m_core->registrations);
    }
    m_core->ready.notify_all();
    for (const Registration& r : regs) r.control->Release();
  }

 private:
  std::shared_ptr<QueueCore> m_core;
};

}  // namespace

PvlResult CreateSignalQueue(void** out) {
  try {
    *out = static_cast<ISignalQueue*>(new SignalQueue);
  } catch (const std::bad_alloc&) {
    return PVL_E_OUTOFMEMORY;
  }
  return PVL_OK;
}

}  // namespace orbhost
