// The chipset stand-in: contiguous memory with 32-bit physical addresses,
// register windows with per-window models, clocks, camera pins, diagnostics
// and the interrupt lock. Every call is recorded for tests.
#include "chipset.h"
#include "chipset_sim.h"

#include <dlfcn.h>
#include <sched.h>
#include <sys/mman.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kPage = 4096;
// Contiguous memory lives in its own physical range, apart from every register window.
constexpr uint32_t kPmemPhysBase = 0x10000000;
constexpr uint32_t kPmemPhysEnd = 0x60000000;
constexpr size_t kMaxCalls = 20000;
constexpr size_t kMaxMessages = 20000;

uint32_t RoundUp(uint32_t v, uint32_t a) { return (v + a - 1) & ~(a - 1); }

// The latest `capacity` entries, oldest first. Slots are set aside once and reused:
// a steady stream of records (a log line per frame) allocates nothing. While the
// ring grows, callers that may wait set up to kSlotsAhead fresh slots aside ahead
// of need, so that a real-time caller (the torch's pulse writer, timed in
// microseconds) takes a slot in memory already written: the first write to a
// fresh page can cost a loaded machine a millisecond, on the CPU, where no
// correction for time spent waiting to run sees it.
template <class T>
class Ring {
 public:
  static constexpr size_t kSlotsAhead = 256;  // a torch program records about 100 calls

  explicit Ring(size_t capacity) : m_capacity(capacity) {}
  // The slot of a new entry; it still holds an old entry's values. `mayWait()` is
  // asked only while the ring grows: a full ring costs its callers no question.
  template <class MayWait>
  T& Next(MayWait mayWait) {
    if (m_count < m_used) return m_slots[(m_first + m_count++) % m_used];
    if (m_used < m_capacity) {  // not yet full: the oldest is slot 0
      if (m_slots.capacity() < m_capacity) m_slots.reserve(m_capacity);
      if (m_used == m_slots.size()) m_slots.emplace_back();
      if (mayWait())
        while (m_slots.size() < m_capacity && m_slots.size() <= m_used + kSlotsAhead) m_slots.emplace_back();
      ++m_count;
      return m_slots[m_used++];
    }
    T& slot = m_slots[m_first];
    m_first = (m_first + 1) % m_used;
    return slot;
  }
  template <class Out>
  std::vector<Out> Snapshot() const {
    std::vector<Out> out;
    out.reserve(m_count);
    for (size_t i = 0; i < m_count; ++i) out.push_back(m_slots[(m_first + i) % m_used].Get());
    return out;
  }
  void Clear() {
    m_first = 0;
    m_count = 0;
  }

 private:
  size_t m_capacity;
  std::vector<T> m_slots;  // the slots in use, then those set aside
  size_t m_used = 0;       // slots that have held an entry
  size_t m_first = 0, m_count = 0;
};

// False for a thread scheduled in the real-time band, which must not wait for
// the log's housekeeping.
bool CallerMayWait() {
  const int policy = sched_getscheduler(0);
  return policy != SCHED_FIFO && policy != SCHED_RR;
}

// Text kept in place up to N - 1 characters (a log line is cut to 127), on the
// heap beyond.
template <size_t N>
class Text {
 public:
  void Assign(const char* text) {
    const size_t n = std::strlen(text);
    m_long = n >= N;
    if (m_long) {
      m_heap.assign(text, n);
    } else {
      std::memcpy(m_inline, text, n + 1);
    }
  }
  void Get(std::string* out) const {
    if (m_long) {
      out->assign(m_heap);
    } else {
      out->assign(m_inline);
    }
  }

 private:
  char m_inline[N] = {};
  bool m_long = false;
  std::string m_heap;
};

// A recorded call as the log keeps it.
struct StoredCall {
  static constexpr size_t kInlineArgs = 4;
  Text<32> name;
  Text<128> text;
  uint32_t argCount = 0;
  uint32_t args[kInlineArgs] = {};
  std::vector<uint32_t> moreArgs;  // a call with more arguments keeps them all here

  void Fill(const char* n, const uint32_t* a, size_t count, const char* t) {
    name.Assign(n);
    text.Assign(t ? t : "");
    argCount = uint32_t(count);
    if (count <= kInlineArgs) {
      std::copy(a, a + count, args);
    } else {
      moreArgs.assign(a, a + count);
    }
  }
  void Get(ChipSimCall* out) const {
    name.Get(&out->name);
    text.Get(&out->text);
    if (argCount <= kInlineArgs) {
      out->args.assign(args, args + argCount);
    } else {
      out->args = moreArgs;
    }
  }
  ChipSimCall Get() const {
    ChipSimCall out;
    Get(&out);
    return out;
  }
};

struct StoredMessage {
  int kind = 0;
  uint16_t line = 0;
  uint16_t subsystem = 0;
  uint32_t levelMask = 0;
  Text<128> text;
  Text<64> fileName;
  uint32_t args[3] = {};

  ChipSimMessage Get() const {
    ChipSimMessage out{};
    out.kind = kind;
    out.line = line;
    out.subsystem = subsystem;
    out.levelMask = levelMask;
    text.Get(&out.text);
    fileName.Get(&out.fileName);
    std::copy(args, args + 3, out.args);
    return out;
  }
};

struct Window {
  uint32_t phys = 0;
  uint32_t size = 0;
  uint8_t* mem = nullptr;
  ChipSimWindowHooks hooks{};
  void* context = nullptr;
  bool traced = false;
};

struct PmemBlock {
  uint32_t phys;
  uint8_t* virt;
  uint32_t size;
  uint32_t flags;
};

struct State {
  std::mutex lock;
  // Windows never go away once created (they are the chip's registers).
  std::vector<Window*> windows;  // sorted by phys
  std::map<uint32_t, PmemBlock> pmemByPhys;
  std::map<uintptr_t, PmemBlock> pmemByVirt;
  int pmemFailNext = 0;
  Ring<StoredCall> calls{kMaxCalls};
  std::vector<std::pair<int, std::pair<ChipSimCallListener, void*>>> listeners;
  int nextListener = 1;
  Ring<StoredMessage> messages{kMaxMessages};
  std::vector<ChipSimRegAccess> trace;
  std::set<uint32_t> regimes;
  // The enabled regimes for lock-free readers (register accesses ask on every
  // access): regime + 1 per slot, 0 free; written under the lock.
  std::atomic<uint32_t> regimeSlots[32] = {};
  std::atomic<bool> regimeOverflow{false};  // more regimes than slots: readers use the set
  std::atomic<uint32_t> regimeVersion{0};   // odd while the slots change
  std::atomic<uint64_t> lowRegimes{0};      // regimes 0-63 as bits, one load to ask
  uint32_t vfeClock = 0, vfeSource = 0, camclk = 0;
  std::vector<std::string> devmanClients;
  std::atomic<int> windowCount{0};
  // Changes with every window, hook or trace change: a thread's remembered
  // window stays good while it holds (register accesses ask on every access).
  std::atomic<uint64_t> windowGeneration{1};
  int displayResult = 0;
};

State& S() {
  static State* s = new State;  // never destroyed: models may run during exit
  return *s;
}

std::mutex& IntLock() {
  static std::mutex* m = new std::mutex;
  return *m;
}
thread_local bool tIntLockHeld = false;

// What a thread hands its listeners, kept for its next call.
struct PublishScratch {
  ChipSimCall call;
  std::vector<std::pair<ChipSimCallListener, void*>> listeners;
};
// Plain data, readable after the thread's destructors ran: calls recorded while a
// process ends (a library's detach) find the scratch gone and use their own.
thread_local bool t_scratchGone = false;
thread_local int t_publishDepth = 0;
struct ThreadScratch {
  PublishScratch scratch;
  ~ThreadScratch() { t_scratchGone = true; }
};
thread_local ThreadScratch t_thread;

// With listeners, `hold` is given up and they hear of the call just stored. The
// call is handed over in a copy the thread reuses (a listener that records a call
// of its own gets a fresh one).
void Publish(State& s, std::unique_lock<std::mutex>& hold, const StoredCall& slot) {
  if (s.listeners.empty()) return;
  PublishScratch fresh;
  PublishScratch& scratch = t_publishDepth == 0 && !t_scratchGone ? t_thread.scratch : fresh;
  slot.Get(&scratch.call);
  scratch.listeners.clear();
  for (auto& l : s.listeners) scratch.listeners.push_back(l.second);
  hold.unlock();
  ++t_publishDepth;
  for (auto& l : scratch.listeners) l.first(l.second, scratch.call);
  --t_publishDepth;
}

void Record(const char* name, std::initializer_list<uint32_t> args, const char* text = nullptr) {
  State& s = S();
  std::unique_lock<std::mutex> hold(s.lock);
  StoredCall& slot = s.calls.Next(CallerMayWait);
  slot.Fill(name, args.begin(), args.size(), text);
  Publish(s, hold, slot);
}

// A diagnostic message: recorded as a call and as a message, in one go.
void RecordMessage(const char* name, std::initializer_list<uint32_t> callArgs, int kind, const msg_desc_type* desc,
                   uint32_t levelMask, const char* text, uint32_t a0, uint32_t a1, uint32_t a2) {
  if (!text) text = desc && desc->text ? desc->text : "";
  State& s = S();
  std::unique_lock<std::mutex> hold(s.lock);
  StoredMessage& m = s.messages.Next(CallerMayWait);
  m.kind = kind;
  m.line = desc ? desc->line : 0;
  m.subsystem = desc ? desc->subsystem : 0;
  m.levelMask = levelMask;
  m.text.Assign(text);
  m.fileName.Assign(desc && desc->fileName ? desc->fileName : "");
  m.args[0] = a0;
  m.args[1] = a1;
  m.args[2] = a2;
  StoredCall& slot = s.calls.Next(CallerMayWait);
  slot.Fill(name, callArgs.begin(), callArgs.size(), text);
  Publish(s, hold, slot);
}

// The window holding [phys, phys + len), or null. Caller holds the lock.
Window* FindWindowPhys(State& s, uint32_t phys, uint32_t len) {
  for (Window* w : s.windows) {
    if (phys >= w->phys && uint64_t(phys) + len <= uint64_t(w->phys) + w->size) return w;
  }
  return nullptr;
}

bool OverlapsWindow(State& s, uint32_t phys, uint32_t size) {
  for (Window* w : s.windows) {
    if (uint64_t(phys) < uint64_t(w->phys) + w->size && uint64_t(w->phys) < uint64_t(phys) + size) return true;
  }
  return false;
}

Window* CreateWindow(State& s, uint32_t phys, uint32_t size) {
  auto* w = new Window;
  w->phys = phys;
  w->size = size;
  uint32_t bytes = RoundUp(size, kPage);
  w->mem = static_cast<uint8_t*>(std::aligned_alloc(kPage, bytes));
  if (!w->mem) {
    delete w;
    return nullptr;
  }
  std::memset(w->mem, 0, bytes);
  auto pos = std::lower_bound(s.windows.begin(), s.windows.end(), w,
                              [](const Window* a, const Window* b) { return a->phys < b->phys; });
  s.windows.insert(pos, w);
  s.windowCount.store(int(s.windows.size()), std::memory_order_release);
  s.windowGeneration.fetch_add(1, std::memory_order_acq_rel);
  return w;
}

// The window whose memory holds addr (a copy of what the access needs).
struct Hit {
  bool found = false;
  uint32_t offset = 0;
  uint32_t phys = 0;
  ChipSimWindowHooks hooks{};
  void* context = nullptr;
  bool traced = false;
};

// The window a thread found last, as it was at `generation`.
struct RememberedWindow {
  uint64_t generation = 0;
  uintptr_t base = 0;
  uint32_t size = 0;
  uint32_t phys = 0;
  ChipSimWindowHooks hooks{};
  void* context = nullptr;
  bool traced = false;
};
thread_local RememberedWindow t_window;

Hit FindByAddress(const volatile void* addr) {
  Hit hit;
  State& s = S();
  if (s.windowCount.load(std::memory_order_acquire) == 0) return hit;
  uintptr_t a = reinterpret_cast<uintptr_t>(addr);
  RememberedWindow& r = t_window;
  if (r.generation != s.windowGeneration.load(std::memory_order_acquire) || a < r.base || a >= r.base + r.size) {
    std::lock_guard<std::mutex> g(s.lock);
    Window* found = nullptr;
    for (Window* w : s.windows) {
      uintptr_t base = reinterpret_cast<uintptr_t>(w->mem);
      if (a >= base && a < base + w->size) {
        found = w;
        break;
      }
    }
    if (!found) return hit;
    // Read under the lock that every change of it holds: still current then.
    r.generation = s.windowGeneration.load(std::memory_order_relaxed);
    r.base = reinterpret_cast<uintptr_t>(found->mem);
    r.size = found->size;
    r.phys = found->phys;
    r.hooks = found->hooks;
    r.context = found->context;
    r.traced = found->traced;
  }
  hit.found = true;
  hit.offset = uint32_t(a - r.base);
  hit.phys = r.phys + hit.offset;
  hit.hooks = r.hooks;
  hit.context = r.context;
  hit.traced = r.traced;
  return hit;
}

void AddTrace(uint32_t phys, uint32_t value, bool write) {
  State& s = S();
  std::lock_guard<std::mutex> g(s.lock);
  s.trace.push_back({phys, value, write});
}

// Caller holds the lock.
void PublishRegimes(State& s) {
  constexpr size_t n = sizeof s.regimeSlots / sizeof s.regimeSlots[0];
  s.regimeVersion.fetch_add(1, std::memory_order_acq_rel);
  size_t i = 0;
  for (uint32_t r : s.regimes) {
    if (i == n) break;
    s.regimeSlots[i++].store(r + 1, std::memory_order_release);
  }
  s.regimeOverflow.store(s.regimes.size() > n, std::memory_order_release);
  uint64_t low = 0;
  for (uint32_t r : s.regimes)
    if (r < 64) low |= uint64_t(1) << r;
  s.lowRegimes.store(low, std::memory_order_release);
  for (; i < n; ++i) s.regimeSlots[i].store(0, std::memory_order_release);
  s.regimeVersion.fetch_add(1, std::memory_order_release);
}

// The board's models come with the chip: load them beside this library.
__attribute__((constructor)) void LoadBoard() {
  const char* off = std::getenv("CAMERA_NO_BOARD");
  if (off && *off && std::strcmp(off, "0") != 0) return;
  Dl_info info{};
  if (!dladdr(reinterpret_cast<void*>(&LoadBoard), &info) || !info.dli_fname) return;
  std::string path = info.dli_fname;
  size_t slash = path.rfind('/');
  path = (slash == std::string::npos ? std::string(".") : path.substr(0, slash)) + "/board.dll";
  if (!dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL | RTLD_NODELETE)) {
    std::fprintf(stderr, "chipset: no board models (%s)\n", dlerror());
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Contiguous memory

namespace {

// The phone maps contiguous memory into a 32-bit address space, and the camera's
// records and shared words carry its virtual addresses in 32 bits. A 64-bit build
// keeps that true by mapping the blocks in the low 2 GB.
uint8_t* PmemMap(uint32_t bytes) {
#if INTPTR_MAX == INT32_MAX
  return static_cast<uint8_t*>(std::aligned_alloc(kPage, bytes));
#else
  void* mem = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
  return mem == MAP_FAILED ? nullptr : static_cast<uint8_t*>(mem);
#endif
}

void PmemUnmap(uint8_t* mem, uint32_t bytes) {
#if INTPTR_MAX == INT32_MAX
  (void)bytes;
  std::free(mem);
#else
  munmap(mem, bytes);
#endif
}

}  // namespace

extern "C" void* pmem_malloc(uint32_t size, uint32_t flags) {
  Record("pmem_malloc", {size, flags});
  if (size == 0 || size > kPmemPhysEnd - kPmemPhysBase) return nullptr;
  uint32_t bytes = RoundUp(size, kPage);
  State& s = S();
  std::lock_guard<std::mutex> g(s.lock);
  if (s.pmemFailNext > 0) {
    --s.pmemFailNext;
    return nullptr;
  }
  // First fit in the physical range.
  uint32_t phys = kPmemPhysBase;
  bool found = false;
  for (auto& [p, b] : s.pmemByPhys) {
    if (uint64_t(phys) + bytes <= p) {
      found = true;
      break;
    }
    phys = RoundUp(p + b.size, kPage);
  }
  if (!found && uint64_t(phys) + bytes > kPmemPhysEnd) return nullptr;
  uint8_t* mem = PmemMap(bytes);
  if (!mem) return nullptr;
  std::memset(mem, 0, bytes);
  PmemBlock block{phys, mem, bytes, flags};
  s.pmemByPhys[phys] = block;
  s.pmemByVirt[reinterpret_cast<uintptr_t>(mem)] = block;
  return mem;
}

extern "C" void pmem_free(void* virtualAddress) {
  Record("pmem_free", {uint32_t(reinterpret_cast<uintptr_t>(virtualAddress))});
  if (!virtualAddress) return;
  uint8_t* mem = nullptr;
  uint32_t bytes = 0;
  {
    State& s = S();
    std::lock_guard<std::mutex> g(s.lock);
    auto it = s.pmemByVirt.find(reinterpret_cast<uintptr_t>(virtualAddress));
    if (it == s.pmemByVirt.end()) return;  // not ours, or not a block start
    mem = it->second.virt;
    bytes = it->second.size;
    s.pmemByPhys.erase(it->second.phys);
    s.pmemByVirt.erase(it);
  }
  PmemUnmap(mem, bytes);
}

extern "C" uint32_t pmem_get_phys_addr(void* virtualAddress) {
  uintptr_t a = reinterpret_cast<uintptr_t>(virtualAddress);
  State& s = S();
  std::lock_guard<std::mutex> g(s.lock);
  auto it = s.pmemByVirt.upper_bound(a);
  if (it == s.pmemByVirt.begin()) return 0;
  --it;
  const PmemBlock& b = it->second;
  if (a >= it->first + b.size) return 0;
  return b.phys + uint32_t(a - it->first);
}

// ---------------------------------------------------------------------------
// Register windows

extern "C" volatile void* get_virtual_address(uint32_t physicalAddress, uint32_t size) {
  Record("get_virtual_address", {physicalAddress, size});
  if (size == 0 || uint64_t(physicalAddress) + size > 0x100000000ull) return nullptr;
  State& s = S();
  std::lock_guard<std::mutex> g(s.lock);
  if (Window* w = FindWindowPhys(s, physicalAddress, size)) return w->mem + (physicalAddress - w->phys);
  // Contiguous memory is reachable by its physical address too.
  auto it = s.pmemByPhys.upper_bound(physicalAddress);
  if (it != s.pmemByPhys.begin()) {
    --it;
    if (uint64_t(physicalAddress) + size <= uint64_t(it->first) + it->second.size)
      return it->second.virt + (physicalAddress - it->first);
  }
  if (OverlapsWindow(s, physicalAddress, size)) return nullptr;
  if (physicalAddress < kPmemPhysEnd && uint64_t(physicalAddress) + size > kPmemPhysBase) return nullptr;
  Window* w = CreateWindow(s, physicalAddress, size);
  return w ? w->mem : nullptr;
}

extern "C" void free_virtual_address(volatile void* virtualAddress) {
  // The registers stay: unmapping only ends this caller's use of them.
  Record("free_virtual_address", {uint32_t(reinterpret_cast<uintptr_t>(virtualAddress))});
}

extern "C" uint32_t chip_reg_read32(volatile void* address) {
  Hit hit = FindByAddress(address);
  volatile uint32_t* cell = static_cast<volatile uint32_t*>(address);
  uint32_t v = (hit.found && hit.hooks.read32) ? hit.hooks.read32(hit.context, hit.offset, cell) : *cell;
  if (hit.traced) AddTrace(hit.phys, v, false);
  return v;
}

extern "C" void chip_reg_write32(volatile void* address, uint32_t value) {
  Hit hit = FindByAddress(address);
  volatile uint32_t* cell = static_cast<volatile uint32_t*>(address);
  if (hit.traced) AddTrace(hit.phys, value, true);
  if (hit.found && hit.hooks.write32)
    hit.hooks.write32(hit.context, hit.offset, value, cell);
  else
    *cell = value;
}

// ---------------------------------------------------------------------------
// Clocks

extern "C" void clk_regime_krs_enable(uint32_t regime) {
  {
    std::lock_guard<std::mutex> g(S().lock);
    S().regimes.insert(regime);
    PublishRegimes(S());
  }
  Record("clk_regime_krs_enable", {regime});
}

extern "C" void clk_regime_krs_disable(uint32_t regime) {
  {
    std::lock_guard<std::mutex> g(S().lock);
    S().regimes.erase(regime);
    PublishRegimes(S());
  }
  Record("clk_regime_krs_disable", {regime});
}

extern "C" void clk_regime_sel_vfe_clk(uint32_t selection) {
  {
    std::lock_guard<std::mutex> g(S().lock);
    S().vfeClock = selection;
  }
  Record("clk_regime_sel_vfe_clk", {selection});
}

extern "C" void clk_regime_sel_vfe_src(uint32_t source) {
  {
    std::lock_guard<std::mutex> g(S().lock);
    S().vfeSource = source;
  }
  Record("clk_regime_sel_vfe_src", {source});
}

extern "C" void clk_regime_krs_sel_camclk(uint32_t frequency, uint32_t b) {
  {
    std::lock_guard<std::mutex> g(S().lock);
    S().camclk = frequency;
  }
  Record("clk_regime_krs_sel_camclk", {frequency, b});
}

extern "C" int clk_regime_devman_register(const char* client) {
  if (!client) return 0;
  {
    std::lock_guard<std::mutex> g(S().lock);
    auto& c = S().devmanClients;
    if (std::find(c.begin(), c.end(), client) == c.end()) c.push_back(client);
  }
  Record("clk_regime_devman_register", {}, client);
  return 1;
}

extern "C" int clk_regime_devman_deregister(const char* client) {
  if (!client) return 0;
  bool known;
  {
    std::lock_guard<std::mutex> g(S().lock);
    auto& c = S().devmanClients;
    auto it = std::find(c.begin(), c.end(), client);
    known = it != c.end();
    if (known) c.erase(it);
  }
  Record("clk_regime_devman_deregister", {}, client);
  return known ? 1 : 0;
}

extern "C" int clk_regime_devman_request(const char* client, uint32_t resource, uint32_t flags) {
  if (!client) return 0;
  bool known;
  {
    std::lock_guard<std::mutex> g(S().lock);
    auto& c = S().devmanClients;
    known = std::find(c.begin(), c.end(), client) != c.end();
  }
  Record("clk_regime_devman_request", {resource, flags}, client);
  return known ? 1 : 0;
}

extern "C" void clk_pause(uint32_t microseconds) {
  Record("clk_pause", {microseconds});
  if (microseconds == 0) return;
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  const int64_t end = int64_t(start.tv_sec) * 1000000000 + start.tv_nsec + int64_t(microseconds) * 1000;
  for (;;) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    int64_t t = int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
    if (t >= end) return;
    if (end - t > 200000) {  // long pauses need not spin
      timespec nap{0, long(end - t - 100000)};
      nanosleep(&nap, nullptr);
    }
  }
}

// ---------------------------------------------------------------------------
// Camera pins

extern "C" void gpio_camera_config(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  Record("gpio_camera_config", {a, b, c, d});
}

extern "C" void gpio_camera_un_config(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
  Record("gpio_camera_un_config", {a, b, c, d});
}

// ---------------------------------------------------------------------------
// Diagnostics

extern "C" void msg_send_1(const msg_desc_type* desc, uint32_t argument, uint32_t levelMask, const char* text) {
  RecordMessage("msg_send_1", {argument, levelMask}, 1, desc, levelMask, text, argument, 0, 0);
}

extern "C" void msg_send_3(const msg_desc_type* desc, uint32_t argument1, uint32_t argument2, uint32_t argument3) {
  RecordMessage("msg_send_3", {argument1, argument2, argument3}, 3, desc, desc ? desc->levelMask : 0, nullptr, argument1,
                argument2, argument3);
}

// ---------------------------------------------------------------------------
// Display

extern "C" int ddi_disp2d_blt(const void* source, const void* destination, const void* parameters, uint32_t flags) {
  if (!source || !destination || !parameters) {
    Record("ddi_disp2d_blt", {flags});
    return -1;
  }
  ChipSimCall call{"ddi_disp2d_blt", {}, ""};
  auto words = [&](const void* p, int n) {
    for (int i = 0; i < n; ++i) {
      uint32_t w;
      std::memcpy(&w, static_cast<const uint8_t*>(p) + 4 * i, 4);
      call.args.push_back(w);
    }
  };
  words(source, 11);
  words(destination, 11);
  words(parameters, 4);
  call.args.push_back(flags);
  int result;
  State& s = S();
  std::unique_lock<std::mutex> hold(s.lock);
  result = s.displayResult;
  StoredCall& slot = s.calls.Next(CallerMayWait);
  slot.Fill(call.name.c_str(), call.args.data(), call.args.size(), nullptr);
  Publish(s, hold, slot);
  return result;
}

// ---------------------------------------------------------------------------
// Interrupt lock

extern "C" int chip_int_lock(void) {
  if (tIntLockHeld) return 1;
  IntLock().lock();
  tIntLockHeld = true;
  return 0;
}

extern "C" void chip_int_free(void) {
  if (!tIntLockHeld) return;
  tIntLockHeld = false;
  IntLock().unlock();
}

// ---------------------------------------------------------------------------
// Simulation controls

bool ChipSimAddWindow(uint32_t physical, uint32_t size, const ChipSimWindowHooks* hooks, void* context) {
  if (size == 0 || uint64_t(physical) + size > 0x100000000ull) return false;
  State& s = S();
  std::lock_guard<std::mutex> g(s.lock);
  Window* w = nullptr;
  for (Window* x : s.windows)
    if (x->phys == physical && x->size == size) w = x;
  if (!w) {
    if (OverlapsWindow(s, physical, size)) return false;
    w = CreateWindow(s, physical, size);
    if (!w) return false;
  }
  w->hooks = hooks ? *hooks : ChipSimWindowHooks{};
  w->context = context;
  s.windowGeneration.fetch_add(1, std::memory_order_acq_rel);
  return true;
}

bool ChipSimSetWindowHooks(uint32_t physical, const ChipSimWindowHooks* hooks, void* context) {
  State& s = S();
  std::lock_guard<std::mutex> g(s.lock);
  for (Window* w : s.windows) {
    if (w->phys == physical) {
      w->hooks = hooks ? *hooks : ChipSimWindowHooks{};
      w->context = context;
      s.windowGeneration.fetch_add(1, std::memory_order_acq_rel);
      return true;
    }
  }
  return false;
}

void* ChipSimPhysToVirt(uint32_t physical, uint32_t length) {
  if (physical == 0 || uint64_t(physical) + length > 0x100000000ull) return nullptr;
  State& s = S();
  std::lock_guard<std::mutex> g(s.lock);
  auto it = s.pmemByPhys.upper_bound(physical);
  if (it != s.pmemByPhys.begin()) {
    --it;
    if (uint64_t(physical) + length <= uint64_t(it->first) + it->second.size)
      return it->second.virt + (physical - it->first);
  }
  if (Window* w = FindWindowPhys(s, physical, length)) return w->mem + (physical - w->phys);
  return nullptr;
}

void ChipSimTraceWindow(uint32_t physical, bool on) {
  State& s = S();
  std::lock_guard<std::mutex> g(s.lock);
  for (Window* w : s.windows)
    if (w->phys == physical) w->traced = on;
  s.windowGeneration.fetch_add(1, std::memory_order_acq_rel);
}

std::vector<ChipSimRegAccess> ChipSimTakeTrace() {
  State& s = S();
  std::lock_guard<std::mutex> g(s.lock);
  std::vector<ChipSimRegAccess> out;
  out.swap(s.trace);
  return out;
}

std::vector<ChipSimPmemBlock> ChipSimPmemBlocks() {
  State& s = S();
  std::lock_guard<std::mutex> g(s.lock);
  std::vector<ChipSimPmemBlock> out;
  for (auto& [p, b] : s.pmemByPhys) out.push_back({b.phys, b.virt, b.size, b.flags});
  return out;
}

void ChipSimPmemFailNext(int count) {
  std::lock_guard<std::mutex> g(S().lock);
  S().pmemFailNext = count < 0 ? 0 : count;
}

std::vector<ChipSimCall> ChipSimCalls() {
  std::lock_guard<std::mutex> g(S().lock);
  return S().calls.Snapshot<ChipSimCall>();
}

void ChipSimClearCalls() {
  std::lock_guard<std::mutex> g(S().lock);
  S().calls.Clear();
}

int ChipSimAddCallListener(ChipSimCallListener listener, void* context) {
  if (!listener) return 0;
  std::lock_guard<std::mutex> g(S().lock);
  int id = S().nextListener++;
  S().listeners.push_back({id, {listener, context}});
  return id;
}

void ChipSimRemoveCallListener(int id) {
  std::lock_guard<std::mutex> g(S().lock);
  auto& l = S().listeners;
  l.erase(std::remove_if(l.begin(), l.end(), [id](auto& e) { return e.first == id; }), l.end());
}

ChipSimClockState ChipSimClocks() {
  std::lock_guard<std::mutex> g(S().lock);
  ChipSimClockState st;
  st.enabledRegimes.assign(S().regimes.begin(), S().regimes.end());
  st.vfeClock = S().vfeClock;
  st.vfeSource = S().vfeSource;
  st.cameraClockHz = S().camclk;
  st.devmanClients = S().devmanClients;
  return st;
}

uint64_t ChipSimLowRegimesEnabled() { return S().lowRegimes.load(std::memory_order_acquire); }

bool ChipSimRegimeEnabled(uint32_t regime) {
  State& s = S();
  if (regime < 64) return (s.lowRegimes.load(std::memory_order_acquire) >> regime) & 1;
  for (int attempt = 0; attempt < 8 && regime != 0xFFFFFFFFu; ++attempt) {
    const uint32_t version = s.regimeVersion.load(std::memory_order_acquire);
    if (version & 1) continue;
    if (s.regimeOverflow.load(std::memory_order_acquire)) break;
    bool found = false;
    for (const auto& slot : s.regimeSlots) {
      const uint32_t v = slot.load(std::memory_order_acquire);
      if (v == 0) break;
      if (v == regime + 1) {
        found = true;
        break;
      }
    }
    if (s.regimeVersion.load(std::memory_order_acquire) == version) return found;
  }
  std::lock_guard<std::mutex> g(s.lock);
  return S().regimes.count(regime) != 0;
}

std::vector<ChipSimMessage> ChipSimMessages() {
  std::lock_guard<std::mutex> g(S().lock);
  return S().messages.Snapshot<ChipSimMessage>();
}

void ChipSimClearMessages() {
  std::lock_guard<std::mutex> g(S().lock);
  S().messages.Clear();
}

bool ChipSimIntLockHeldByCaller() { return tIntLockHeld; }

void ChipSimSetDisplayResult(int result) {
  std::lock_guard<std::mutex> g(S().lock);
  S().displayResult = result;
}
