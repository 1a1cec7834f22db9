#include "tuningdoubles.h"

#include <algorithm>

#include "tuningproviderdouble.h"

namespace tuningtest {
namespace {

std::atomic<int> g_providerCreations{0};
std::atomic<int> g_liveProviders{0};
std::atomic<int> g_liveServers{0};
std::atomic<int> g_unregistrations{0};

class ServerDouble final : public ITunvex {
 public:
  ServerDouble() { ++g_liveServers; }
  int32_t AddRef() override { return ++m_refs; }
  int32_t Release() override {
    int32_t n = --m_refs;
    if (n == 0) delete this;
    return n;
  }
  PvlResult QueryInterface(ZUEUID iid, void** out) override {
    if (!out) return PVL_E_NULLPTR;
    *out = nullptr;
    if (iid != ZUEUID_ITUNVEX && iid != ZUEUID_IFACE_BASE) return PVL_E_NOTSUPPORTED;
    *out = static_cast<ITunvex*>(this);
    AddRef();
    return PVL_OK;
  }
  PvlResult Register(IRuntimeTuning* provider, const char* name) override {
    if (!provider || !name) return PVL_E_BADARG;
    ServerGroups().push_back({provider, name});
    return PVL_OK;
  }
  PvlResult Start() override { return PVL_OK; }
  PvlResult SendDataToJPEG(char*, uint32_t, uint32_t* needed, uint32_t* written) override {
    if (needed) *needed = 0;
    if (written) *written = 0;
    return PVL_OK;
  }
  PvlResult Unregister(IRuntimeTuning* provider) override {
    auto& g = ServerGroups();
    auto it = std::remove_if(g.begin(), g.end(), [&](const ServerGroup& s) { return s.provider == provider; });
    if (it == g.end()) return PVL_E_BADARG;
    g.erase(it, g.end());
    ++g_unregistrations;
    return PVL_OK;
  }

 private:
  ~ServerDouble() { --g_liveServers; }
  std::atomic<int32_t> m_refs{1};
};

}  // namespace

TuningDataTable& ProviderTable() {
  static TuningDataTable* t = new TuningDataTable{};
  return *t;
}
TuningDataTable& OtherProviderTable() {
  static TuningDataTable* t = new TuningDataTable{};
  return *t;
}
int ProviderCreations() { return g_providerCreations; }
int LiveProviders() { return g_liveProviders; }

int32_t ProviderFactory(IEnv*, ZUEUID clsid, void*, void** out) {
  if (!out) return PVL_E_NULLPTR;
  ++g_providerCreations;
  const void* table = clsid == kProviderClass ? static_cast<const void*>(&ProviderTable())
                      : clsid == kOtherProviderClass ? static_cast<const void*>(&OtherProviderTable())
                                                     : nullptr;
  *out = static_cast<ITuningDataProvider*>(new camera::test::TuningProviderDouble(table, &g_liveProviders));
  return PVL_OK;
}

std::vector<ServerGroup>& ServerGroups() {
  static std::vector<ServerGroup> groups;
  return groups;
}
int ServerUnregistrations() { return g_unregistrations; }
int LiveServers() { return g_liveServers; }

int32_t ServerFactory(IEnv*, ZUEUID, void*, void** out) {
  if (!out) return PVL_E_NULLPTR;
  *out = static_cast<ITunvex*>(new ServerDouble());
  return PVL_OK;
}

int32_t RefusingServerFactory(IEnv*, ZUEUID, void*, void** out) {
  if (out) *out = nullptr;
  return PVL_E_FAIL;
}

}  // namespace tuningtest
