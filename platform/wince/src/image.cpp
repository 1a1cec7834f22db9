// The device image: its root directory and the mapping of device paths into it.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "internal.h"

#ifndef CAMERA_DEFAULT_IMAGE_ROOT
#error "CAMERA_DEFAULT_IMAGE_ROOT must name the build's image directory"
#endif

namespace {

std::mutex g_rootLock;
std::string g_root;
bool g_rootSet = false;
// CeSimImageRoot hands out a C string; old roots stay alive so that a caller's pointer
// never dangles.
std::vector<std::unique_ptr<std::string>> g_rootHistory;

std::string DefaultRoot() {
  const char* env = std::getenv("CAMERA_IMAGE_ROOT");
  if (env != nullptr && env[0] != '\0') return env;
  return CAMERA_DEFAULT_IMAGE_ROOT;
}

std::string StripSlash(std::string s) {
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

bool IsDir(const std::string& p) {
  struct stat st;
  return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& p) {
  struct stat st;
  return ::lstat(p.c_str(), &st) == 0;
}

}  // namespace

namespace cesim {

std::string ImageRoot() {
  std::lock_guard<std::mutex> lk(g_rootLock);
  if (!g_rootSet) {
    g_root = StripSlash(DefaultRoot());
    g_rootSet = true;
  }
  return g_root;
}

std::string FindNoCase(const std::string& dir, const std::string& name) {
  if (Exists(dir + "/" + name)) return name;
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return "";
  std::string want = LowerCaseAscii(name);
  std::string found;
  while (dirent* e = ::readdir(d)) {
    if (LowerCaseAscii(e->d_name) == want) {
      found = e->d_name;
      break;
    }
  }
  ::closedir(d);
  return found;
}

}  // namespace cesim

extern "C" {

const char* CeSimImageRoot(void) {
  std::string r = cesim::ImageRoot();
  std::lock_guard<std::mutex> lk(g_rootLock);
  if (g_rootHistory.empty() || *g_rootHistory.back() != r) g_rootHistory.push_back(std::make_unique<std::string>(r));
  return g_rootHistory.back()->c_str();
}

BOOL CeSimSetImageRoot(const char* root) {
  {
    std::lock_guard<std::mutex> lk(g_rootLock);
    g_root = StripSlash(root != nullptr && root[0] != '\0' ? std::string(root) : DefaultRoot());
    g_rootSet = true;
  }
  cesim::RegistryImageChanged();
  return TRUE;
}

BOOL CeSimMapPath(const WCHAR* path, char* out, DWORD outLen) {
  if (path == nullptr || out == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string p = cesim::Narrow(std::u16string_view(path, wcslen(path)));
  std::string base = cesim::ImageRoot();
  std::string rest;
  if (p.size() >= 3 && cesim::LowerCaseAscii(p.substr(0, 3)) == "fs:") {
    base += "/fs";
    rest = p.substr(3);
  } else if (!p.empty() && (p[0] == '\\' || p[0] == '/')) {
    rest = p;
  } else {
    SetLastError(ERROR_INVALID_NAME);
    return FALSE;
  }
  std::string host = base;
  size_t i = 0;
  while (i <= rest.size()) {
    size_t j = rest.find_first_of("\\/", i);
    if (j == std::string::npos) j = rest.size();
    std::string comp = rest.substr(i, j - i);
    i = j + 1;
    if (comp.empty() || comp == ".") continue;
    if (comp == ".." || comp.find(':') != std::string::npos) {
      SetLastError(ERROR_INVALID_NAME);
      return FALSE;
    }
    // CE names do not depend on case: take an existing entry that matches.
    std::string match = IsDir(host) ? cesim::FindNoCase(host, comp) : std::string();
    host += "/";
    host += match.empty() ? comp : match;
  }
  if (host.size() + 1 > outLen) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(out, host.c_str(), host.size() + 1);
  return TRUE;
}

}  // extern "C"

std::string CeSimHostPath(std::u16string_view path) {
  std::u16string p(path);
  std::vector<char> buf(4096 + p.size() * 4);
  if (!CeSimMapPath(p.c_str(), buf.data(), static_cast<DWORD>(buf.size()))) return "";
  return buf.data();
}

std::string CeSimHostPath(const WCHAR* path) {
  if (path == nullptr) return "";
  return CeSimHostPath(std::u16string_view(path, wcslen(path)));
}
