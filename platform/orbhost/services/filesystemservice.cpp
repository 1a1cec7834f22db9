// The host's file system (ZUEUID_CLASS_FILESYSTEM): files of the device image, opened
// for reading or appending by device path ("\...") or file-space path ("fs:/...").
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>
#include <new>

#include "ifilesystem.h"
#include "servicesinternal.h"

namespace orbhost::services {
namespace {

class File final : public HostObject<IFile> {
 public:
  File(int fd, uint32_t mode, std::string path) : m_fd(fd), m_mode(mode), m_path(std::move(path)) {}
  ~File() override {
    if (m_fd >= 0) ::close(m_fd);
  }

  PvlResult QueryInterface(ZUEUID iid, void** out) override { return AnswerQuery(iid, out, ZUEUID_IFACE_FILE); }

  PvlResult Read(void* buffer, uint32_t size, uint32_t* read) override {
    if (!read || (!buffer && size)) return PVL_E_NULLPTR;
    *read = 0;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_fd < 0) return PVL_E_NOTREADY;
    if (m_mode != PVL_FILE_READ) return PVL_E_UNSUPPORTED;
    uint32_t done = 0;
    while (done < size) {
      ssize_t n = ::read(m_fd, static_cast<uint8_t*>(buffer) + done, size - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        Log("file: reading %s failed: %s", m_path.c_str(), std::strerror(errno));
        *read = done;
        return PVL_E_FAIL;
      }
      if (n == 0) break;
      done += static_cast<uint32_t>(n);
    }
    *read = done;
    return PVL_OK;
  }

  PvlResult Write(const void* buffer, uint32_t size, uint32_t* written) override {
    if (written) *written = 0;
    if (!buffer && size) return PVL_E_NULLPTR;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_fd < 0) return PVL_E_NOTREADY;
    if (m_mode != PVL_FILE_APPEND) return PVL_E_UNSUPPORTED;
    uint32_t done = 0;
    while (done < size) {
      ssize_t n = ::write(m_fd, static_cast<const uint8_t*>(buffer) + done, size - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        Log("file: writing %s failed: %s", m_path.c_str(), n < 0 ? std::strerror(errno) : "nothing written");
        if (written) *written = done;
        return PVL_E_FAIL;
      }
      done += static_cast<uint32_t>(n);
    }
    if (written) *written = done;
    return PVL_OK;
  }

  PvlResult Close() override {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_fd < 0) return PVL_E_NOTREADY;
    int r = ::close(m_fd);
    m_fd = -1;
    if (r != 0) {
      Log("file: closing %s failed: %s", m_path.c_str(), std::strerror(errno));
      return PVL_E_FAIL;
    }
    return PVL_OK;
  }

 private:
  std::mutex m_mutex;
  int m_fd;
  uint32_t m_mode;
  std::string m_path;
};

class FileSystem final : public HostObject<IFileSystem> {
 public:
  PvlResult QueryInterface(ZUEUID iid, void** out) override { return AnswerQuery(iid, out, ZUEUID_IFACE_FILESYSTEM); }

  PvlResult Open(const char* path, uint32_t mode, IFile** file) override {
    if (file) *file = nullptr;
    if (!path || !file) return PVL_E_NULLPTR;
    if (mode != PVL_FILE_READ && mode != PVL_FILE_APPEND) {
      Log("file: open of \"%s\" with unknown mode %u", path, mode);
      return PVL_E_BADARG;
    }
    std::string hostPath;
    if (!HostPath(path, &hostPath)) {
      Log("file: \"%s\" is not a path of the device", path);
      return PVL_E_BADARG;
    }
    int fd;
    if (mode == PVL_FILE_READ) {
      fd = ::open(hostPath.c_str(), O_RDONLY | O_CLOEXEC);
    } else {
      // Appending creates the file, and its directory in the file space when missing.
      std::error_code ec;
      std::filesystem::create_directories(std::filesystem::path(hostPath).parent_path(), ec);
      fd = ::open(hostPath.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    }
    if (fd < 0) {
      int e = errno;
      if (mode == PVL_FILE_READ && (e == ENOENT || e == ENOTDIR)) return PVL_E_NOTFOUND;  // callers probe flag files
      Log("file: cannot open \"%s\": %s", path, std::strerror(e));
      return PVL_E_FAIL;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(fd);
      Log("file: \"%s\" is not a file", path);
      return PVL_E_FAIL;
    }
    File* f = new (std::nothrow) File(fd, mode, hostPath);
    if (!f) {
      ::close(fd);
      return PVL_E_OUTOFMEMORY;
    }
    *file = f;
    return PVL_OK;
  }
};

}  // namespace

PvlResult CreateFileSystem(void** out) {
  FileSystem* fs = new (std::nothrow) FileSystem;
  if (!fs) return PVL_E_OUTOFMEMORY;
  *out = static_cast<IFileSystem*>(fs);
  return PVL_OK;
}

}  // namespace orbhost::services
