#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "fuzzinput.h"
#include "wince_sim.h"

namespace camera::fuzz {

std::string MakeFuzzImage() {
  ::setenv("CAMERA_DEBUG_QUIET", "1", 1);
  char tmpl[] = "/tmp/camera-fuzz-XXXXXX";
  if (!::mkdtemp(tmpl)) {
    std::perror("mkdtemp");
    std::abort();
  }
  std::string root = tmpl;
  for (const char* d : {"/Windows", "/fs", "/registry.d"}) ::mkdir((root + d).c_str(), 0755);
  ::setenv("CAMERA_IMAGE_ROOT", root.c_str(), 1);
  CeSimSetImageRoot(root.c_str());
  return root;
}

void WriteImageFile(const std::string& root, const std::string& relative, std::string_view contents) {
  std::ofstream f(root + "/" + relative, std::ios::binary | std::ios::trunc);
  f.write(contents.data(), static_cast<std::streamsize>(contents.size()));
  if (!f) {
    std::perror(relative.c_str());
    std::abort();
  }
}

}  // namespace camera::fuzz
