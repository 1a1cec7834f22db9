// Module information files (".mif"): the classes a module image serves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pvlbase.h"

namespace orbhost {

// Real files are a few hundred bytes; anything much larger is not one.
constexpr size_t kMifMaxSize = 64 * 1024;

struct MifInfo {
  std::vector<std::pair<uint32_t, uint32_t>> attributes;
  std::vector<ZUEUID> classes;
  std::string accessRule;  // section 3, when present
};

// Checks the whole layout; false with the reason in *why for anything malformed.
bool ParseMif(const uint8_t* data, size_t size, MifInfo* info, std::string* why);

}  // namespace orbhost
