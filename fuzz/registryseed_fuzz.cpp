// The registry seed: the input is the image's only registry.d file, loaded as at start-up;
// then every key and value it made is read back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzzinput.h"
#include "wince.h"
#include "wince_sim.h"

namespace {

std::string g_root;

void Walk(HKEY key, int depth) {
  for (DWORD i = 0; i < 64; ++i) {
    WCHAR name[260];
    DWORD nameChars = 260, type = 0, dataSize = 512;
    BYTE data[512];
    if (RegEnumValueW(key, i, name, &nameChars, nullptr, &type, data, &dataSize) != ERROR_SUCCESS) break;
    DWORD size = 0;
    RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
  }
  if (depth > 16) return;
  for (DWORD i = 0; i < 64; ++i) {
    WCHAR name[260];
    DWORD nameChars = 260;
    if (RegEnumKeyExW(key, i, name, &nameChars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    HKEY sub;
    if (RegOpenKeyExW(key, name, 0, 0, &sub) == ERROR_SUCCESS) {
      Walk(sub, depth + 1);
      RegCloseKey(sub);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  g_root = camera::fuzz::MakeFuzzImage();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  camera::fuzz::WriteImageFile(g_root, "registry.d/50-fuzz.reg",
                               std::string_view(reinterpret_cast<const char*>(data), size));
  CeSimReloadRegistry();
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_CLASSES_ROOT, HKEY_USERS}) Walk(root, 0);
  return 0;
}
