// pvlheap: the module-wide heap layer over the environment's allocator.
//
// Every block carries an 8-byte header in front of the user pointer: the
// environment that owns it and whether the heap holds a reference on that
// environment for the block. Tags name the source location of the request.
#ifndef PVLHEAP_H
#define PVLHEAP_H

#include <stddef.h>
#include <stdint.h>

#include "pvlbase.h"

class IEnv;

struct pvlheap_BlockHeaderRecord {
  IEnv* env;           // the environment that allocated the block
  uint32_t holdsRef;   // 1 when the heap created (and holds) that environment
};
#if INTPTR_MAX == INT32_MAX  // the phone's layout: a 64-bit build widens its pointers
static_assert(sizeof(pvlheap_BlockHeaderRecord) == 8, "block header is 8 bytes");
static_assert(offsetof(pvlheap_BlockHeaderRecord, env) == 0, "");
static_assert(offsetof(pvlheap_BlockHeaderRecord, holdsRef) == 4, "");
#endif

// The largest request: the header must fit in the 32-bit size.
#define PVLHEAP_MAX_REQUEST (0xFFFFFFFFu - sizeof(pvlheap_BlockHeaderRecord))

// The header of a user pointer (the pointer minus 8).
pvlheap_BlockHeaderRecord* pvlheap_BlockHeader(void* user);

// Allocates (old null), resizes (keeping the contents) or frees (size 0) a
// block; null on failure, in which case the old block is left untouched.
void* pvlheap_Realloc(void* old, uint32_t size, IEnv* env, const char* tag);
// Allocation; size 0 counts as 1; null on failure, never throws.
void* pvlheap_Malloc(uint32_t size, IEnv* env, const char* tag);
// The allocation operators: std::bad_alloc ("bad allocation") on failure.
void* pvlheap_New(size_t size);
void* pvlheap_NewArray(size_t size);
void* pvlheap_NewOrThrow(void* block);
// Null on failure.
void* pvlheap_NewNoThrow(size_t size);
// The release operators; a null pointer does nothing.
void pvlheap_Free(void* p);
void pvlheap_FreeArray(void* p);
void pvlheap_FreeScalar(void* p);

// Raw blocks of the environment's allocator (IEnv Realloc), no header.
PvlResult Heap_AllocBlock(IEnv* heap, uint32_t size, void** out);
PvlResult Heap_FreeBlock(IEnv* heap, void** block);

#endif
