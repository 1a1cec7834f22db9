// The process's singleton registry.
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "internal.h"
#include "isingletonregistry.h"

namespace orbhost {
namespace {

class SingletonRegistry final : public ISingletonRegistry {
 public:
  // One static object: counted for honesty, never destroyed.
  int32_t AddRef() override { return m_count.fetch_add(1) + 1; }
  int32_t Release() override {
    int32_t n = m_count.fetch_sub(1) - 1;
    if (n < 1) {
      m_count.fetch_add(1);
      n = 1;
    }
    return n;
  }

  PvlResult QueryInterface(ZUEUID iid, void** out) override {
    if (!out) return PVL_E_NULLPTR;
    if (iid == ZUEUID_IFACE_BASE || iid == ZUEUID_IFACE_SINGLETON_REGISTRY) {
      AddRef();
      *out = static_cast<ISingletonRegistry*>(this);
      return PVL_OK;
    }
    if (iid == ZUEUID_IFACE_ENV) {
      IEnv* env = ProcessEnv();
      env->AddRef();
      *out = env;
      return PVL_OK;
    }
    *out = nullptr;
    return PVL_E_NOTSUPPORTED;
  }

  PvlResult GetOrCreate(ZUEUID clsid, void** out, PvlSingletonCreator creator, void* context) override {
    if (!out || !creator) return PVL_E_NULLPTR;
    const std::thread::id self = std::this_thread::get_id();
    std::unique_lock<std::recursive_mutex> lock(m_mutex);
    for (;;) {
      auto it = m_entries.find(clsid);
      if (it == m_entries.end()) break;
      Entry& e = it->second;
      if (e.creating) {
        if (e.creator == self) {
          Log("class 0x%08x asked for again while it is being created", clsid);
          *out = nullptr;
          return PVL_E_NOTREADY;
        }
        m_created.wait(lock);
        continue;
      }
      // A live instance: the caller gets a counted reference of its own. An entry
      // whose count reached 0 was removed in that same step, so it is never here.
      if (e.count) {
        __atomic_add_fetch(e.count, 1, __ATOMIC_SEQ_CST);
      } else {
        // An instance that never reported its count word; it counts by itself.
        static_cast<IPvlBase*>(e.object)->AddRef();
      }
      *out = e.object;
      return PVL_OK;
    }

    Entry& fresh = m_entries[clsid];
    fresh.creating = true;
    fresh.creator = self;
    lock.unlock();
    void* object = nullptr;
    PvlResult r = creator(context, clsid, &object);
    lock.lock();
    auto it = m_entries.find(clsid);  // still there: only its creator removes it
    if (r == PVL_OK && object && !it->second.dead) {
      it->second.creating = false;
      it->second.object = object;
      *out = object;
    } else {
      if (r == PVL_OK) {
        Log("creator of class 0x%08x gave no live instance", clsid);
        r = PVL_E_FAIL;
      }
      m_entries.erase(it);
      *out = nullptr;
    }
    m_created.notify_all();
    return r;
  }

  int32_t AdjustRefCount(ZUEUID clsid, volatile int32_t* count, int32_t delta) override {
    if (!count) {
      dbg_dbg_Break(clsid);
      return -1;
    }
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    int32_t n = __atomic_add_fetch(count, delta, __ATOMIC_SEQ_CST);
    auto it = m_entries.find(clsid);
    if (it == m_entries.end()) return n;
    Entry& e = it->second;
    if (!e.count) e.count = count;  // learnt at its first adjustment (during creation)
    if (e.count != count || n != 0) return n;
    if (e.creating) {
      e.dead = true;  // died inside its creator
      e.count = nullptr;
    } else {
      m_entries.erase(it);
    }
    return n;
  }

 private:
  struct Entry {
    bool creating = false;
    bool dead = false;
    std::thread::id creator;
    void* object = nullptr;
    volatile int32_t* count = nullptr;
  };

  std::atomic<int32_t> m_count{1};
  std::recursive_mutex m_mutex;
  std::condition_variable_any m_created;
  std::unordered_map<ZUEUID, Entry> m_entries;
};

SingletonRegistry g_registry;

}  // namespace

ISingletonRegistry* Registry() { return &g_registry; }

}  // namespace orbhost
