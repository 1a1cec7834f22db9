// Value records: copy (deep or shallow) and clear.
#include "cpvlvariant.h"
#include "pvlheap.h"
#include "pvlstring.h"

namespace {

inline int32_t Min32(int32_t a, int32_t b) { return a < b ? a : b; }

// Elements of a type-26 array that hold something (bounded by the capacity).
inline int32_t LiveElements(const PvlValueArray& a) {
  if (!a.data || a.filled < 1 || a.capacity < 1) return 0;
  return Min32(a.filled, a.capacity);
}

PvlResult CopyArray(PvlValueRecord* dst, const PvlValueRecord* src, bool deep) {
  const uint32_t type = src->type;
  const PvlValueArray& s = src->payload.array;
  if ((!s.data && s.filled != 0) || s.filled < 0 || s.capacity < 0) return PVL_E_BADARG;
  if (s.data && s.filled > s.capacity) return PVL_E_BADARG;  // would read past the source
  if (!deep) {
    const PvlValueArray& d = dst->payload.array;
    if ((!d.data && d.capacity != 0) || d.capacity < 0) return PVL_E_BADARG;
  }
  const uint32_t elementSize = PvlValue_ElementSize(type);

  if (!s.data || s.filled < 1) {
    dst->type = type;
    if (deep) {
      dst->payload.array.data = nullptr;
      dst->payload.array.capacity = 0;
    }
    dst->payload.array.filled = 0;
    return PVL_OK;
  }

  PvlValueArray target = dst->payload.array;
  const bool isString = type == PVL_VT_STRING || type == PVL_VT_WSTRING;
  if (deep) {
    // Strings get room for their terminator whether or not the count has it.
    const int32_t capacity = isString && s.filled < 0x7fffffff ? s.filled + 1 : s.filled;
    if (static_cast<uint64_t>(capacity) * elementSize > PVLHEAP_MAX_REQUEST) return PVL_E_OUTOFMEMORY;
    void* block = pvlheap_NewNoThrow(static_cast<size_t>(capacity) * elementSize);
    if (!block) return PVL_E_OUTOFMEMORY;
    pvl_memset(block, 0, static_cast<int32_t>(static_cast<uint32_t>(capacity) * elementSize));
    target.data = block;
    target.capacity = capacity;
  }

  const int32_t n = Min32(s.filled, target.capacity);
  switch (type) {
    case PVL_VT_STRING: {
      // Bounded by both buffers, always terminated.
      char* d = static_cast<char*>(target.data);
      const char* from = static_cast<const char*>(s.data);
      int32_t i = 0;
      for (; i < target.capacity - 1 && i < s.capacity && from[i]; ++i) d[i] = from[i];
      if (target.capacity > 0) d[i] = '\0';
      break;
    }
    case PVL_VT_WSTRING: {
      char16_t* d = static_cast<char16_t*>(target.data);
      const char16_t* from = static_cast<const char16_t*>(s.data);
      int32_t i = 0;
      for (; i < target.capacity - 1 && i < s.capacity && from[i]; ++i) d[i] = from[i];
      if (target.capacity > 0) d[i] = u'\0';
      break;
    }
    case PVL_VT_ARRAY: {
      PvlValueRecord* d = static_cast<PvlValueRecord*>(target.data);
      const PvlValueRecord* from = static_cast<const PvlValueRecord*>(s.data);
      for (int32_t i = 0; i < n; ++i) {
        if (deep) d[i] = PvlValueRecord{};
        const PvlResult r = PvlValue_Copy(&d[i], &from[i], deep);
        if (r != PVL_OK) {
          if (deep) {
            for (int32_t j = 0; j < i; ++j) PvlValue_Clear(&d[j]);
            pvlheap_Free(target.data);
            dst->type = type;
            dst->payload.array.data = nullptr;
            dst->payload.array.capacity = 0;
            dst->payload.array.filled = 0;
          }
          return r;
        }
      }
      break;
    }
    default:
      pvl_memmove(target.data, s.data, static_cast<int32_t>(static_cast<uint32_t>(n) * elementSize));
      break;
  }
  dst->type = type;
  dst->payload.array.data = target.data;
  dst->payload.array.capacity = target.capacity;
  dst->payload.array.filled = n;  // what was copied, never more than the capacity
  return PVL_OK;
}

}  // namespace

PvlResult PvlValue_Copy(PvlValueRecord* destination, const PvlValueRecord* source, bool deep) {
  if (!destination || !source) return PVL_E_NULLPTR;
  if (destination == source) return PVL_OK;
  if (!deep && destination->type != source->type) return PVL_E_BADARG;

  if (source->type == PVL_VT_INTERFACE) {
    IPvlBase* incoming = source->payload.iface;
    IPvlBase* old = destination->type == PVL_VT_INTERFACE ? destination->payload.iface : nullptr;
    if (incoming) incoming->AddRef();
    destination->type = PVL_VT_INTERFACE;
    destination->payload = PvlValuePayload{};
    destination->payload.iface = incoming;
    if (old) old->Release();
    return PVL_OK;
  }
  if (PvlValue_IsArrayType(source->type)) return CopyArray(destination, source, deep);

  destination->type = source->type;
  destination->payload = source->payload;
  return PVL_OK;
}

void PvlValue_Clear(PvlValueRecord* record) {
  if (!record) return;
  if (record->type == PVL_VT_INTERFACE) {
    IPvlBase* p = record->payload.iface;
    record->payload = PvlValuePayload{};
    if (p) p->Release();
    return;
  }
  if (PvlValue_IsArrayType(record->type)) {
    PvlValueArray& a = record->payload.array;
    if (record->type == PVL_VT_ARRAY) {
      PvlValueRecord* elements = static_cast<PvlValueRecord*>(a.data);
      const int32_t live = LiveElements(a);
      for (int32_t i = 0; i < live; ++i) PvlValue_Clear(&elements[i]);
    }
    if (a.data) pvlheap_Free(a.data);
  }
  record->payload = PvlValuePayload{};
}
