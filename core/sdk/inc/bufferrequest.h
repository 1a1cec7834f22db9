// BufferRequest: the requirements of a pool of frame buffers (32 bytes). The camera's
// frame-buffer manager takes them, the VFE outputs and the still ports hand them out,
// and the host's JPEG service answers its buffer queries in them; so the record lives
// with the host's interfaces.
#ifndef BUFFERREQUEST_H
#define BUFFERREQUEST_H

#include <stddef.h>
#include <stdint.h>

// Memory sources of the record. 0 also means the framework heap.
#define ZUEUID_BUFFER_SOURCE_HEAP 0x0106093du
#define ZUEUID_BUFFER_SOURCE_CONTIGUOUS 0x0106e429u

struct BufferRequest {
  uint32_t count;      // number of buffers
  uint32_t size;       // bytes per buffer
  uint32_t source;     // 0 or ZUEUID_BUFFER_SOURCE_HEAP: framework heap; else contiguous memory
  uint32_t passThrough0;
  uint8_t passThrough1[8];
  uint8_t alignment;   // each buffer's size is raised to a multiple of 2^alignment (at most 31)
  uint8_t reserved[7];
};
static_assert(sizeof(BufferRequest) == 32, "a buffer request is 32 bytes");
static_assert(offsetof(BufferRequest, source) == 8, "");
static_assert(offsetof(BufferRequest, passThrough0) == 12, "");
static_assert(offsetof(BufferRequest, passThrough1) == 16, "");
static_assert(offsetof(BufferRequest, alignment) == 24, "");

#endif
