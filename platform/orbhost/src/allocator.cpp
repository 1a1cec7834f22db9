// The environment's allocator: tagged blocks, live counts by tag, fault injection.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "internal.h"
#include "orbhost_test.h"
#include "pvlheap.h"

namespace orbhost {
namespace {

// Requests above this fail with 2: nothing on the phone asks for a gigabyte, and a
// wrapped size must not reach the C library.
constexpr uint32_t kMaxBlock = 0x40000000u;
const char kUntagged[] = "untagged";

struct TagEntry {
  std::string name;
  uint32_t live = 0;
};

struct Block {
  uint32_t size;
  TagEntry* tag;
};

class Allocator {
 public:
  PvlResult Realloc(uint32_t size, void** block, const char* tag) {
    if (!block) return PVL_E_NULLPTR;
    if (!tag) tag = kUntagged;
    std::lock_guard<std::mutex> lock(m_mutex);
    void* old = *block;
    if (size == 0) {
      if (!old) return PVL_OK;
      auto it = m_blocks.find(old);
      if (it == m_blocks.end()) {
        Log("free of a block this allocator does not know: %p (%s)", old, tag);
        return PVL_E_BADARG;
      }
      it->second.tag->live--;
      m_blocks.erase(it);
      std::free(old);
      *block = nullptr;
      return PVL_OK;
    }
    if (old && m_blocks.find(old) == m_blocks.end()) {
      Log("resize of a block this allocator does not know: %p (%s)", old, tag);
      return PVL_E_BADARG;
    }
    if (size > kMaxBlock || InjectedFailure()) return PVL_E_OUTOFMEMORY;
    if (!old) {
      void* p = std::malloc(size);
      if (!p) return PVL_E_OUTOFMEMORY;
      TagEntry* t = Tag(tag);
      t->live++;
      m_blocks.emplace(p, Block{size, t});
      *block = p;
      return PVL_OK;
    }
    auto node = m_blocks.extract(old);
    void* p = std::realloc(old, size);
    if (!p) {
      m_blocks.insert(std::move(node));  // the old block stays
      return PVL_E_OUTOFMEMORY;
    }
    node.key() = p;
    node.mapped().size = size;
    m_blocks.insert(std::move(node));
    *block = p;
    return PVL_OK;
  }

  uint32_t Live(const char* tag) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!tag) return static_cast<uint32_t>(m_blocks.size());
    auto it = m_tags.find(tag);
    return it == m_tags.end() ? 0 : it->second->live;
  }

  std::vector<std::pair<std::string, uint32_t>> LiveByTag() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::pair<std::string, uint32_t>> out;
    for (auto& [name, entry] : m_tags)
      if (entry->live) out.emplace_back(name, entry->live);
    return out;
  }

  void FailAllocation(uint32_t n) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failCountdown = n;
  }

 private:
  bool InjectedFailure() {
    if (m_failCountdown == 0) return false;
    return --m_failCountdown == 0;
  }

  // Tags are mostly string literals of the modules, which stay mapped; the text is
  // compared anyway, since a tag may also be a buffer that is re-used.
  TagEntry* Tag(const char* tag) {
    auto hit = m_tagByAddress.find(tag);
    if (hit != m_tagByAddress.end() && hit->second->name == tag) return hit->second;
    auto& slot = m_tags[tag];
    if (!slot) {
      slot = std::make_unique<TagEntry>();
      slot->name = tag;
    }
    m_tagByAddress[tag] = slot.get();
    return slot.get();
  }

  std::mutex m_mutex;
  std::unordered_map<void*, Block> m_blocks;
  std::unordered_map<std::string, std::unique_ptr<TagEntry>> m_tags;
  std::unordered_map<const char*, TagEntry*> m_tagByAddress;
  uint32_t m_failCountdown = 0;
};

Allocator& TheAllocator() {
  static Allocator* allocator = new Allocator;  // lives as long as the process
  return *allocator;
}

}  // namespace

PvlResult AllocatorRealloc(uint32_t size, void** block, const char* tag) {
  return TheAllocator().Realloc(size, block, tag);
}

void* AllocatorHeapBlock(uint32_t size, const char* tag) {
  if (size > kMaxBlock) return nullptr;
  void* block = nullptr;
  if (TheAllocator().Realloc(size + sizeof(pvlheap_BlockHeaderRecord), &block, tag) != PVL_OK)
    return nullptr;
  auto* header = static_cast<pvlheap_BlockHeaderRecord*>(block);
  header->env = ProcessEnv();
  header->holdsRef = 0;
  return header + 1;
}

void AllocatorHeapFree(void* user) {
  if (!user) return;
  void* block = static_cast<pvlheap_BlockHeaderRecord*>(user) - 1;
  TheAllocator().Realloc(0, &block, nullptr);
}

}  // namespace orbhost

extern "C" uint32_t OrbhostTest_LiveBlocks(const char* tag) { return orbhost::TheAllocator().Live(tag); }

extern "C" void OrbhostTest_FailAllocation(uint32_t n) { orbhost::TheAllocator().FailAllocation(n); }

std::vector<std::pair<std::string, uint32_t>> OrbhostTest_LiveBlocksByTag() {
  return orbhost::TheAllocator().LiveByTag();
}
