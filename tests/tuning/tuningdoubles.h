// Doubles for the tuning-data service's neighbours: a tuning-data provider
// and a tuning server, both created through the host's class doubles.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "hostsymbols.h"
#include "tunvex.h"
#include "tuningblock.h"
#include "tuningdataprovider.h"

namespace tuningtest {

constexpr ZUEUID kProviderClass = ZUEUID_CLASS_S5K3E2FX_TUNING_DATA;
constexpr ZUEUID kOtherProviderClass = 0x0108AECFu;
constexpr ZUEUID kNullTableProviderClass = 0x0108AED0u;
constexpr ZUEUID kMissingProviderClass = 0x0108AED1u;

// The table the provider doubles serve (the test may change it before a select).
TuningDataTable& ProviderTable();
TuningDataTable& OtherProviderTable();
int ProviderCreations();
int LiveProviders();

int32_t ProviderFactory(IEnv* env, ZUEUID clsid, void* argument, void** out);

// The tuning server double records its groups.
struct ServerGroup {
  IRuntimeTuning* provider;
  std::string name;
};
std::vector<ServerGroup>& ServerGroups();
int ServerUnregistrations();
int LiveServers();
int32_t ServerFactory(IEnv* env, ZUEUID clsid, void* argument, void** out);
// The server's creation refused, as without its flag file.
int32_t RefusingServerFactory(IEnv* env, ZUEUID clsid, void* argument, void** out);

}  // namespace tuningtest
