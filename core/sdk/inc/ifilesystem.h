// IFileSystem (class ZUEUID_CLASS_FILESYSTEM): files of the device, "fs:/..." or "\...".
#ifndef IFILESYSTEM_H
#define IFILESYSTEM_H

#include <stdint.h>

#include "pvlbase.h"

#define ZUEUID_IFACE_FILESYSTEM ZUEUID_CLASS_FILESYSTEM
#define ZUEUID_IFACE_FILE 0x01072402u

// Open modes.
#define PVL_FILE_READ 1u    // an existing file, from its start
#define PVL_FILE_APPEND 2u  // created when missing; writes go to its end

class IFile : public IPvlBase {
 public:
  // Reads up to size bytes; *read receives the count (0 at the end of the file).
  virtual PvlResult Read(void* buffer, uint32_t size, uint32_t* read) = 0;            // 3
  // Writes size bytes; *written receives the count (may be null).
  virtual PvlResult Write(const void* buffer, uint32_t size, uint32_t* written) = 0;  // 4
  // Closes the file; later reads and writes give 13. Release also closes.
  virtual PvlResult Close() = 0;  // 5

 protected:
  ~IFile() = default;
};

class IFileSystem : public IPvlBase {
 public:
  // 29 for a null path or out; 14 for an unknown mode or a path that does not map;
  // 39 when a file opened for reading does not exist; 1 for other failures.
  virtual PvlResult Open(const char* path, uint32_t mode, IFile** file) = 0;  // 3

 protected:
  ~IFileSystem() = default;
};

#endif
