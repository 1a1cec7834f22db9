// CreateFileW and friends: registered named devices, and plain files of the image.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <vector>

#include "internal.h"

namespace cesim {
namespace {

struct Device {
  std::u16string name;
  CeSimDeviceOps ops;
  void* devCtx;
  bool registered = true;
};

struct DeviceHandle : KObject {
  DeviceHandle(std::shared_ptr<Device> d, void* ctx) : KObject(Kind::Device), dev(std::move(d)), openCtx(ctx) {}
  std::shared_ptr<Device> dev;
  void* openCtx;
};

struct FileHandle : KObject {
  explicit FileHandle(int f) : KObject(Kind::File), fd(f) {}
  ~FileHandle() override {
    if (fd >= 0) ::close(fd);
  }
  int fd;
};

std::mutex g_devLock;
std::map<std::u16string, std::shared_ptr<Device>>& Devices() {
  static auto* d = new std::map<std::u16string, std::shared_ptr<Device>>;
  return *d;
}

std::shared_ptr<Device> FindDevice(const std::u16string& name) {
  std::lock_guard<std::mutex> lk(g_devLock);
  auto it = Devices().find(LowerCase(name));
  return it == Devices().end() ? nullptr : it->second;
}

DWORD ErrnoToError(int e) {
  switch (e) {
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    case EEXIST:
      return ERROR_FILE_EXISTS;
    case ENOTEMPTY:
      return ERROR_ACCESS_DENIED;
    case ENOSPC:
      return 112;   // ERROR_DISK_FULL
    case ENAMETOOLONG:
      return ERROR_INVALID_NAME;
    default:
      return ERROR_GEN_FAILURE;
  }
}

// A name of the form "XXXn:" (three letters, an index, a colon) names a device.
bool LooksLikeDevice(const std::u16string& n) {
  return n.size() == 5 && n[4] == u':' && n[3] >= u'0' && n[3] <= u'9';
}

bool HostPath(LPCWSTR name, std::string* out) {
  *out = CeSimHostPath(name);
  if (out->empty()) {
    if (GetLastError() == ERROR_SUCCESS) SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  return true;
}

std::shared_ptr<FileHandle> FileOf(HANDLE h) {
  auto f = FindAs<FileHandle>(h, Kind::File);
  if (!f) SetLastError(ERROR_INVALID_HANDLE);
  return f;
}

// The file or device behind `h`; null with ERROR_INVALID_HANDLE for any other handle
// and for a device unregistered since it was opened.
std::shared_ptr<KObject> IoObject(HANDLE h) {
  std::lock_guard<std::mutex> lk(KernelLock());
  auto obj = FindHandleLocked(h);
  bool usable = obj && (obj->kind == Kind::File ||
                        (obj->kind == Kind::Device && static_cast<DeviceHandle&>(*obj).dev->registered));
  if (!usable) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return obj;
}

// ReadFile and WriteFile: a device's read or write operation, or the whole transfer on
// a file (a read stops early only at the end of the file).
BOOL Transfer(HANDLE h, void* buffer, DWORD length, LPDWORD done, bool write) {
  auto obj = IoObject(h);
  if (!obj) return FALSE;
  if (done) *done = 0;
  if (buffer == nullptr && length != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (obj->kind == Kind::Device) {
    auto d = std::static_pointer_cast<DeviceHandle>(obj);
    if (write ? d->dev->ops.write == nullptr : d->dev->ops.read == nullptr) {
      SetLastError(ERROR_NOT_SUPPORTED);
      return FALSE;
    }
    DWORD n = write ? d->dev->ops.write(d->openCtx, buffer, length) : d->dev->ops.read(d->openCtx, buffer, length);
    if (n == static_cast<DWORD>(-1)) return FALSE;
    if (done) *done = n;
    return TRUE;
  }
  int fd = std::static_pointer_cast<FileHandle>(obj)->fd;
  char* p = static_cast<char*>(buffer);
  DWORD total = 0;
  while (total < length) {
    ssize_t n = write ? ::write(fd, p + total, length - total) : ::read(fd, p + total, length - total);
    if (n < 0) {
      if (errno == EINTR) continue;
      SetLastError(errno == EBADF ? ERROR_ACCESS_DENIED : ErrnoToError(errno));
      if (done) *done = total;
      return FALSE;
    }
    if (n == 0 && !write) break;
    total += static_cast<DWORD>(n);
  }
  if (done) *done = total;
  return TRUE;
}

}  // namespace

BOOL CloseFileLike(HANDLE h, const std::shared_ptr<KObject>& obj) {
  {
    std::lock_guard<std::mutex> lk(KernelLock());
    if (!RemoveHandleLocked(h)) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
  }
  if (obj->kind == Kind::Device) {
    auto d = std::static_pointer_cast<DeviceHandle>(obj);
    if (d->dev->ops.close != nullptr) return d->dev->ops.close(d->openCtx);
  }
  return TRUE;   // a file closes when its last reference goes
}

}  // namespace cesim

using namespace cesim;

extern "C" {

BOOL CeSimRegisterDevice(const WCHAR* name, const CeSimDeviceOps* ops, void* devCtx) {
  if (name == nullptr || name[0] == 0 || ops == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto d = std::make_shared<Device>();
  d->name = name;
  d->ops = *ops;
  d->devCtx = devCtx;
  std::lock_guard<std::mutex> lk(g_devLock);
  auto key = LowerCase(name);
  if (Devices().count(key)) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return FALSE;
  }
  Devices()[key] = d;
  return TRUE;
}

BOOL CeSimUnregisterDevice(const WCHAR* name) {
  if (name == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::lock_guard<std::mutex> lk(g_devLock);
  auto it = Devices().find(LowerCase(name));
  if (it == Devices().end()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  {
    std::lock_guard<std::mutex> klk(KernelLock());
    it->second->registered = false;
  }
  Devices().erase(it);
  return TRUE;
}

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD creation, DWORD flags,
                   HANDLE) {
  if (name == nullptr || name[0] == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::u16string n(name);
  if (auto dev = FindDevice(n)) {
    void* ctx = nullptr;
    if (dev->ops.open == nullptr) {
      SetLastError(ERROR_NOT_SUPPORTED);
      return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    ctx = dev->ops.open(dev->devCtx, access, share);
    if (ctx == nullptr) {
      if (GetLastError() == ERROR_SUCCESS) SetLastError(ERROR_GEN_FAILURE);
      return INVALID_HANDLE_VALUE;
    }
    return AddHandle(std::make_shared<DeviceHandle>(dev, ctx));
  }
  if (LooksLikeDevice(n)) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  std::string path;
  if (!HostPath(name, &path)) return INVALID_HANDLE_VALUE;
  int oflags = O_CLOEXEC;
  bool rd = (access & (GENERIC_READ | GENERIC_ALL)) != 0;
  bool wr = (access & (GENERIC_WRITE | GENERIC_ALL)) != 0;
  oflags |= (rd && wr) ? O_RDWR : (wr ? O_WRONLY : O_RDONLY);
  bool existed = ::access(path.c_str(), F_OK) == 0;
  switch (creation) {
    case CREATE_NEW:
      oflags |= O_CREAT | O_EXCL;
      break;
    case CREATE_ALWAYS:
      oflags |= O_CREAT | O_TRUNC;
      break;
    case OPEN_EXISTING:
      break;
    case OPEN_ALWAYS:
      oflags |= O_CREAT;
      break;
    case TRUNCATE_EXISTING:
      if (!wr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
      }
      oflags |= O_TRUNC;
      break;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return INVALID_HANDLE_VALUE;
  }
  (void)flags;
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  int fd = ::open(path.c_str(), oflags, 0644);
  if (fd < 0) {
    SetLastError(ErrnoToError(errno));
    return INVALID_HANDLE_VALUE;
  }
  HANDLE h = AddHandle(std::make_shared<FileHandle>(fd));
  // CE reports an existing file on the "always" creations.
  SetLastError((existed && (creation == CREATE_ALWAYS || creation == OPEN_ALWAYS)) ? ERROR_ALREADY_EXISTS
                                                                                  : ERROR_SUCCESS);
  return h;
}

BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID in, DWORD inLen, LPVOID out, DWORD outLen, LPDWORD returned,
                     LPOVERLAPPED) {
  auto obj = IoObject(device);
  if (!obj) return FALSE;
  if (obj->kind == Kind::File) {
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
  }
  auto d = std::static_pointer_cast<DeviceHandle>(obj);
  if (d->dev->ops.ioctl == nullptr) {
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
  }
  DWORD dummy = 0;
  return d->dev->ops.ioctl(d->openCtx, code, in, inLen, out, outLen, returned ? returned : &dummy);
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED) {
  return Transfer(file, buffer, toRead, read, false);
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED) {
  return Transfer(file, const_cast<void*>(buffer), toWrite, written, true);
}

DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh) {
  auto f = FileOf(file);
  if (!f) return INVALID_FILE_SIZE;
  struct stat st;
  if (::fstat(f->fd, &st) != 0) {
    SetLastError(ErrnoToError(errno));
    return INVALID_FILE_SIZE;
  }
  uint64_t size = static_cast<uint64_t>(st.st_size);
  if (sizeHigh) *sizeHigh = static_cast<DWORD>(size >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(size);
}

DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method) {
  auto f = FileOf(file);
  if (!f) return INVALID_SET_FILE_POINTER;
  int64_t dist = distanceHigh ? ((static_cast<int64_t>(*distanceHigh) << 32) | static_cast<uint32_t>(distance))
                              : static_cast<int64_t>(distance);
  int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : method == FILE_END ? SEEK_END : -1;
  if (whence < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_SET_FILE_POINTER;
  }
  off64_t pos = ::lseek64(f->fd, dist, whence);
  if (pos < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);   // ERROR_NEGATIVE_SEEK on the phone
    return INVALID_SET_FILE_POINTER;
  }
  if (distanceHigh) *distanceHigh = static_cast<LONG>(pos >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(pos);
}

BOOL SetEndOfFile(HANDLE file) {
  auto f = FileOf(file);
  if (!f) return FALSE;
  off64_t pos = ::lseek64(f->fd, 0, SEEK_CUR);
  if (pos < 0 || ::ftruncate64(f->fd, pos) != 0) {
    SetLastError(ErrnoToError(errno));
    return FALSE;
  }
  return TRUE;
}

BOOL FlushFileBuffers(HANDLE file) {
  auto f = FileOf(file);
  if (!f) return FALSE;
  ::fsync(f->fd);
  return TRUE;
}

BOOL DeleteFileW(LPCWSTR name) {
  std::string path;
  if (name == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!HostPath(name, &path)) return FALSE;
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (::unlink(path.c_str()) != 0) {
    SetLastError(ErrnoToError(errno));
    return FALSE;
  }
  return TRUE;
}

BOOL CreateDirectoryW(LPCWSTR name, LPSECURITY_ATTRIBUTES) {
  std::string path;
  if (name == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!HostPath(name, &path)) return FALSE;
  if (::mkdir(path.c_str(), 0755) != 0) {
    SetLastError(errno == EEXIST ? ERROR_ALREADY_EXISTS : ErrnoToError(errno));
    return FALSE;
  }
  return TRUE;
}

BOOL RemoveDirectoryW(LPCWSTR name) {
  std::string path;
  if (name == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!HostPath(name, &path)) return FALSE;
  if (::rmdir(path.c_str()) != 0) {
    SetLastError(ErrnoToError(errno));
    return FALSE;
  }
  return TRUE;
}

DWORD GetFileAttributesW(LPCWSTR name) {
  std::string path;
  if (name == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_FILE_ATTRIBUTES;
  }
  if (!HostPath(name, &path)) return INVALID_FILE_ATTRIBUTES;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    SetLastError(ErrnoToError(errno));
    return INVALID_FILE_ATTRIBUTES;
  }
  DWORD a = S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_NORMAL;
  if (!S_ISDIR(st.st_mode) && (st.st_mode & S_IWUSR) == 0) a = FILE_ATTRIBUTE_READONLY;
  return a;
}

BOOL MoveFileW(LPCWSTR from, LPCWSTR to) {
  std::string a, b;
  if (from == nullptr || to == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!HostPath(from, &a) || !HostPath(to, &b)) return FALSE;
  if (::access(b.c_str(), F_OK) == 0) {
    SetLastError(ERROR_ALREADY_EXISTS);
    return FALSE;
  }
  if (::rename(a.c_str(), b.c_str()) != 0) {
    SetLastError(ErrnoToError(errno));
    return FALSE;
  }
  return TRUE;
}

BOOL CopyFileW(LPCWSTR from, LPCWSTR to, BOOL failIfExists) {
  std::string a, b;
  if (from == nullptr || to == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!HostPath(from, &a) || !HostPath(to, &b)) return FALSE;
  int in = ::open(a.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    SetLastError(ErrnoToError(errno));
    return FALSE;
  }
  int out = ::open(b.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (failIfExists ? O_EXCL : O_TRUNC), 0644);
  if (out < 0) {
    SetLastError(errno == EEXIST ? ERROR_FILE_EXISTS : ErrnoToError(errno));
    ::close(in);
    return FALSE;
  }
  char buf[65536];
  BOOL ok = TRUE;
  for (;;) {
    ssize_t n = ::read(in, buf, sizeof buf);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      SetLastError(ErrnoToError(errno));
      ok = FALSE;
      break;
    }
    ssize_t done = 0;
    while (done < n) {
      ssize_t w = ::write(out, buf + done, static_cast<size_t>(n - done));
      if (w < 0) {
        if (errno == EINTR) continue;
        SetLastError(ErrnoToError(errno));
        ok = FALSE;
        break;
      }
      done += w;
    }
    if (!ok) break;
  }
  ::close(in);
  ::close(out);
  return ok;
}

}  // extern "C"
