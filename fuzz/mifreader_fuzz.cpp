// The host's reader of module information files (".mif").
#include <cstddef>
#include <cstdint>
#include <string>

#include "mif.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > orbhost::kMifMaxSize) return 0;  // the loader refuses larger files before parsing
  orbhost::MifInfo info;
  std::string why;
  bool ok = orbhost::ParseMif(data, size, &info, &why);
  if (!ok && why.empty()) __builtin_trap();  // a refusal must say why
  return 0;
}
