#include "image_copy.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cerrno>
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
      // Link the real directory, so that copies made from a copy never chain.
      fs::create_directory_symlink(fs::canonical(entry.path()), target);
    } else if (entry.is_directory()) {
      fs::copy(entry.path(), target, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    } else {
      fs::copy(entry.path(), target, fs::copy_options::copy_symlinks);
    }
  }
  if (!fs::exists(to / "Windows")) fs::create_directories(to / "Windows");
  if (!fs::exists(to / "fs")) fs::create_directories(to / "fs");
}

// Copies are named after their process; a process that ended without its tear-down
// (a crash, a death-test child) leaves one behind, removed here by the next run.
void RemoveStaleCopies(const fs::path& tmp) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(tmp, ec)) {
    std::string name = entry.path().filename().string();
    const std::string prefix = "camera-image-";
    if (name.rfind(prefix, 0) != 0) continue;
    char* end = nullptr;
    long pid = std::strtol(name.c_str() + prefix.size(), &end, 10);
    if (pid <= 0 || end == nullptr || *end != '-') continue;
    if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
      std::error_code rec;
      fs::remove_all(entry.path(), rec);
    }
  }
}

class ImageCopyEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    fs::path source = CeSimImageRoot();
    fs::path tmp = fs::temp_directory_path();
    RemoveStaleCopies(tmp);
    std::string tmpl = (tmp / ("camera-image-" + std::to_string(::getpid()) + "-XXXXXX")).string();
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
