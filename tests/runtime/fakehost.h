// A small stand-in for the host behind the runtime's unit tests: the host
// symbols, an environment whose allocator counts blocks by tag and can be told
// to fail, and class registration by identifier.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "ienv.h"

namespace runtime_test {

class FakeEnv final : public IEnv {
 public:
  int32_t AddRef() override;
  int32_t Release() override;
  PvlResult QueryInterface(ZUEUID iid, void** out) override;
  PvlResult Realloc(uint32_t size, void** block) override;
  PvlResult ReallocTagged(uint32_t size, void** block, const char* tag) override;
  PvlResult Reserved5() override { return PVL_E_UNSUPPORTED; }
  PvlResult Reserved6() override { return PVL_E_UNSUPPORTED; }
  PvlResult CreateInstance(ZUEUID clsid, void** out) override;

  // Test controls.
  void Reset();
  int32_t RefCount();
  size_t LiveBlocks();
  size_t LiveBlocksTagged(const std::string& suffix);
  uint32_t LastSize();
  std::string LastTag();
  uint32_t ReallocCalls();
  // The n-th allocation or resize from now (1 = the next) fails with 2; 0: none.
  void FailNth(uint32_t n);
  using Factory = std::function<PvlResult(void** out)>;
  void Register(ZUEUID clsid, Factory factory);

 private:
  PvlResult DoRealloc(uint32_t size, void** block, const char* tag);

  std::mutex m_mutex;
  int32_t m_refs = 1;
  std::map<void*, std::string> m_blocks;
  uint32_t m_lastSize = 0;
  std::string m_lastTag;
  uint32_t m_calls = 0;
  uint32_t m_failIn = 0;
  std::map<ZUEUID, Factory> m_factories;
};

// The one environment of the fake host (what env_env_CreateInstance hands out).
FakeEnv& Env();

// Captured output of the host's debug entries and the diagnostic channel.
struct DebugLine {
  std::string text;
  int32_t level;
  std::string file;
  int32_t line;
};
struct DiagLine {
  std::string name;
  uint32_t line;
  uint32_t mask;
  std::string text;
};
std::vector<DebugLine> DebugLines();
std::vector<DiagLine> DiagLines();
uint32_t BreakCount();
uintptr_t LastBreakValue();
// Clears the captures and the environment.
void ResetHost();

}  // namespace runtime_test
