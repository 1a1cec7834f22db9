// The host's start-up script (device.cs): the input is the script's text; its settings
// are then mapped into the device as the host's start does.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzzinput.h"
#include "internal.h"
#include "wince_sim.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  camera::fuzz::MakeFuzzImage();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  orbhost::StartupScript s =
      orbhost::ParseStartupScript(std::string_view(reinterpret_cast<const char*>(data), size), "device.cs");
  // Both are device paths: whatever they say must map inside the image or not at all.
  const std::string root = CeSimImageRoot();
  for (const std::string* path : {&s.moduleDirectory, &s.fileSpaceRoot}) {
    std::string host = CeSimHostPath(CeSimWiden(*path));
    if (!host.empty() && host.compare(0, root.size(), root) != 0) __builtin_trap();
  }
  return 0;
}
