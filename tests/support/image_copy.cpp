#include "image_copy.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "wince_sim.h"

namespace fs = std::filesystem;

namespace camera::test {
namespace {

std::string g_root;

// Copies the image at `from` into `to`, linking Windows/ instead of copying it.
void MakeCopy(const fs::path& from, const fs::path& to) {
  for (const auto& entry : fs::directory_iterator(from)) {
    fs::path target = to / entry.path().filename();
    if (entry.path().filename() == "Windows") {
      fs::create_directory_symlink(fs::absolute(entry.path()), target);
    } else if (entry.is_directory()) {
      fs::copy(entry.path(), target, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    } else {
      fs::copy(entry.path(), target, fs::copy_options::copy_symlinks);
    }
  }
  if (!fs::exists(to / "Windows")) fs::create_directories(to / "Windows");
  if (!fs::exists(to / "fs")) fs::create_directories(to / "fs");
}

class ImageCopyEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    fs::path source = CeSimImageRoot();
    std::string tmpl = (fs::temp_directory_path() / "camera-image-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("cannot make a temporary image directory");
    g_root = tmpl;
    if (fs::is_directory(source)) MakeCopy(source, g_root);
    ::setenv("CAMERA_IMAGE_ROOT", g_root.c_str(), 1);
    CeSimSetImageRoot(g_root.c_str());
  }

  void TearDown() override {
    if (g_root.empty()) return;
    std::error_code ec;
    fs::remove_all(g_root, ec);   // removes the Windows/ link, never what it points at
  }
};

[[maybe_unused]] ::testing::Environment* const g_env =
    ::testing::AddGlobalTestEnvironment(new ImageCopyEnvironment);

}  // namespace

const std::string& ImageRoot() { return g_root; }

std::string ImagePath(std::string_view relative) {
  std::string p = g_root;
  if (!relative.empty() && relative.front() != '/') p += '/';
  p += relative;
  return p;
}

void WriteImageFile(std::string_view relative, std::string_view contents) {
  fs::path p = ImagePath(relative);
  fs::create_directories(p.parent_path());
  std::ofstream f(p, std::ios::binary | std::ios::trunc);
  f.write(contents.data(), static_cast<std::streamsize>(contents.size()));
  if (!f) throw std::runtime_error("cannot write " + p.string());
}

bool ReadImageFile(std::string_view relative, std::string* contents) {
  std::ifstream f(ImagePath(relative), std::ios::binary);
  if (!f) return false;
  std::ostringstream s;
  s << f.rdbuf();
  if (contents) *contents = s.str();
  return true;
}

void RemoveImageFile(std::string_view relative) {
  std::error_code ec;
  fs::remove(ImagePath(relative), ec);
}

DebugCapture::DebugCapture() { CeSimDebugCaptureBegin(); }
DebugCapture::~DebugCapture() { CeSimDebugCaptureEnd(); }

}  // namespace camera::test
