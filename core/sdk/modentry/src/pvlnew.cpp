// The module's global allocation and release operators: the framework heap.
// Linked into modules only (hidden there, so each module keeps its own).
#include <new>

#include "pvlheap.h"

void* operator new(size_t size) { return pvlheap_New(size); }
void* operator new[](size_t size) { return pvlheap_NewArray(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return pvlheap_NewNoThrow(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return pvlheap_NewNoThrow(size); }
void operator delete(void* p) noexcept { pvlheap_FreeScalar(p); }
void operator delete[](void* p) noexcept { pvlheap_FreeArray(p); }
void operator delete(void* p, size_t) noexcept { pvlheap_FreeScalar(p); }
void operator delete[](void* p, size_t) noexcept { pvlheap_FreeArray(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { pvlheap_FreeScalar(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { pvlheap_FreeArray(p); }
