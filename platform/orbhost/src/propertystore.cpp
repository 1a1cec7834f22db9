// The property store and its faces.
#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "internal.h"
#include "ipropertystore.h"

namespace orbhost {
namespace {

const char kTag[] = "orbhost/propertystore";

// The store touches only a descriptor's head, so a 160-byte driver record is safe.
using DescHead = PvlPropertyDescHead;

const DescHead* Head(const CPvlPropertyDesc* d) { return reinterpret_cast<const DescHead*>(d); }
DescHead* Head(CPvlPropertyDesc* d) { return reinterpret_cast<DescHead*>(d); }

bool IsInt32(uint32_t type) { return type == PVL_VT_INT32 || type == PVL_VT_SINT32 || type == PVL_VT_UINT32; }

// A deep copy into an empty record; the copy owns what it points to. 14 for a
// malformed source, 2 out of memory (the destination then stays empty).
PvlResult DeepCopy(PvlValueRecord* dst, const PvlValueRecord* src) {
  memset(dst, 0, sizeof *dst);
  dst->type = src->type;
  dst->reserved = src->reserved;
  if (src->type == PVL_VT_INTERFACE) {
    dst->payload.iface = src->payload.iface;
    if (dst->payload.iface) dst->payload.iface->AddRef();
    return PVL_OK;
  }
  if (!PvlValue_IsArrayType(src->type)) {
    dst->payload = src->payload;
    return PVL_OK;
  }
  const PvlValueArray& a = src->payload.array;
  if (a.filled < 0 || a.capacity < 0 || a.filled > a.capacity || (!a.data && a.filled != 0)) return PVL_E_BADARG;
  if (!a.data || a.filled == 0) return PVL_OK;
  const uint32_t size = PvlValue_ElementSize(src->type);
  if (static_cast<uint64_t>(a.filled) * size > 0x40000000u) return PVL_E_OUTOFMEMORY;
  void* data = AllocatorHeapBlock(a.filled * size, kTag);
  if (!data) return PVL_E_OUTOFMEMORY;
  if (src->type == PVL_VT_ARRAY) {
    // Every element is empty before it is copied, so a failure part-way frees what
    // was copied so far and nothing else.
    memset(data, 0, a.filled * size);
    dst->payload.array.data = data;
    dst->payload.array.capacity = a.filled;
    dst->payload.array.filled = a.filled;
    auto* to = static_cast<PvlValueRecord*>(data);
    const auto* from = static_cast<const PvlValueRecord*>(a.data);
    for (int32_t i = 0; i < a.filled; ++i) {
      PvlResult r = DeepCopy(&to[i], &from[i]);
      if (r != PVL_OK) {
        PvlValue_Clear(dst);
        return r;
      }
    }
  } else {
    memcpy(data, a.data, a.filled * size);
    dst->payload.array.data = data;
    dst->payload.array.capacity = a.filled;
  }
  dst->payload.array.filled = a.filled;
  return PVL_OK;
}

// A value that owns its copy.
class Value {
 public:
  Value() { memset(&m_record, 0, sizeof m_record); }
  ~Value() { PvlValue_Clear(&m_record); }
  Value(const Value&) = delete;
  Value& operator=(const Value&) = delete;
  Value(Value&& other) noexcept : m_record(other.m_record) { memset(&other.m_record, 0, sizeof other.m_record); }
  Value& operator=(Value&& other) noexcept {
    if (this != &other) {
      PvlValue_Clear(&m_record);
      m_record = other.m_record;
      memset(&other.m_record, 0, sizeof other.m_record);
    }
    return *this;
  }
  PvlResult Assign(const PvlValueRecord* src) {
    Value fresh;
    if (src) {
      PvlResult r = DeepCopy(&fresh.m_record, src);
      if (r != PVL_OK) return r;
    }
    *this = std::move(fresh);
    return PVL_OK;
  }
  const PvlValueRecord& Record() const { return m_record; }

 private:
  PvlValueRecord m_record;
};

// Hands a stored value to a caller's record, which selects the type wanted.
// allocate: whether a string or array may be allocated for the caller.
bool Compatible(uint32_t stored, uint32_t want) {
  return want == PVL_VT_EMPTY || want == stored || (IsInt32(want) && IsInt32(stored));
}

PvlResult Deliver(const PvlValueRecord& stored, PvlValueRecord* out, bool allocate) {
  if (!Compatible(stored.type, out->type)) return PVL_E_BADARG;
  out->type = out->type == PVL_VT_EMPTY ? stored.type : out->type;
  if (!PvlValue_IsArrayType(stored.type)) {
    if (stored.type == PVL_VT_INTERFACE && stored.payload.iface) stored.payload.iface->AddRef();
    out->payload = stored.payload;
    return PVL_OK;
  }
  const PvlValueArray& from = stored.payload.array;
  PvlValueArray& to = out->payload.array;
  if (to.data && to.capacity > 0) {
    // Into the caller's buffer, cut to its capacity.
    const int32_t n = std::min(from.filled, to.capacity);
    if (stored.type == PVL_VT_ARRAY) {
      auto* dst = static_cast<PvlValueRecord*>(to.data);
      const auto* src = static_cast<const PvlValueRecord*>(from.data);
      for (int32_t i = 0; i < n; ++i) {
        PvlResult r = DeepCopy(&dst[i], &src[i]);
        if (r != PVL_OK) {
          for (int32_t j = 0; j < i; ++j) PvlValue_Clear(&dst[j]);
          return r;
        }
      }
    } else if (n > 0) {
      memcpy(to.data, from.data, static_cast<size_t>(n) * PvlValue_ElementSize(stored.type));
    }
    if (stored.type == PVL_VT_STRING && n > 0 && n < from.filled)
      static_cast<char*>(to.data)[n - 1] = 0;  // a cut string stays terminated
    if (stored.type == PVL_VT_WSTRING && n > 0 && n < from.filled)
      static_cast<char16_t*>(to.data)[n - 1] = 0;
    to.filled = n;
    return PVL_OK;
  }
  if (!allocate) {
    memset(&out->payload, 0, sizeof out->payload);
    out->payload.array.filled = from.filled;
    return PVL_OK;
  }
  PvlValueRecord copy;
  PvlResult r = DeepCopy(&copy, &stored);
  if (r != PVL_OK) return r;
  out->payload = copy.payload;
  return PVL_OK;
}

struct Property {
  std::string name;
  std::string description;
  Value values[5];
  uint32_t byteAttribute = 0;
  uint32_t attribute = 0;

  PvlResult Define(const DescHead* d) {
    Property fresh;
    for (int i = 0; i < 5; ++i) {
      PvlResult r = fresh.values[i].Assign(&d->values[i]);
      if (r != PVL_OK) return r;
    }
    if (d->name.text) fresh.name = d->name.text;
    if (d->description.text) fresh.description = d->description.text;
    fresh.byteAttribute = d->byteAttribute;
    fresh.attribute = d->attribute;
    *this = std::move(fresh);
    return PVL_OK;
  }
};

// The properties, shared by a store and the faces made from it.
struct Core {
  std::recursive_mutex mutex;
  std::unordered_map<uint32_t, Property> properties;
  std::map<uint32_t, std::vector<uint32_t>> groups;

  void Join(uint32_t group, uint32_t id) {
    if (group == 0) return;
    auto& members = groups[group];
    if (std::find(members.begin(), members.end(), id) == members.end()) members.push_back(id);
  }
};

template <class Iface>
class PropertyOps : public HostObject<Iface> {
 public:
  explicit PropertyOps(std::shared_ptr<Core> core) : m_core(std::move(core)) {}

  PvlResult Reserved3(uint32_t, uint32_t) override { return PVL_E_UNSUPPORTED; }

  PvlResult GetProperty(uint32_t id, PvlValueRecord* value) override {
    if (!value) return PVL_E_NULLPTR;
    std::lock_guard<std::recursive_mutex> lock(m_core->mutex);
    auto it = m_core->properties.find(id);
    if (it == m_core->properties.end()) return PVL_E_BADARG;
    return Deliver(it->second.values[0].Record(), value, true);
  }

  PvlResult SetProperty(uint32_t id, const PvlValueRecord* value) override {
    if (!value) return PVL_E_NULLPTR;
    Value copy;
    PvlResult r = copy.Assign(value);
    if (r != PVL_OK) return r;
    std::lock_guard<std::recursive_mutex> lock(m_core->mutex);
    auto it = m_core->properties.find(id);
    if (it == m_core->properties.end()) return PVL_E_BADARG;
    std::swap(it->second.values[0], copy);  // the old value is freed with `copy`, after the lock
    return PVL_OK;
  }

  PvlResult AddProperty(const CPvlPropertyDesc* desc, uint32_t group, uint32_t flags) override {
    if (!desc) return PVL_E_NULLPTR;
    if (flags & ~PVL_PROPERTY_ADD_REPLACE) return PVL_E_BADARG;
    const DescHead* d = Head(desc);
    Property fresh;
    PvlResult r = fresh.Define(d);
    if (r != PVL_OK) return r;
    std::lock_guard<std::recursive_mutex> lock(m_core->mutex);
    auto it = m_core->properties.find(d->id);
    if (it == m_core->properties.end()) {
      m_core->properties.emplace(d->id, std::move(fresh));
    } else if (flags & PVL_PROPERTY_ADD_REPLACE) {
      std::swap(it->second.values[0], fresh.values[0]);
    }
    m_core->Join(group, d->id);
    return PVL_OK;
  }

  PvlResult Reserved7(uint32_t, uint32_t) override { return PVL_E_UNSUPPORTED; }
  PvlResult Reserved8(uint32_t, uint32_t) override { return PVL_E_UNSUPPORTED; }

  PvlResult GetProperties(CPvlPropertyDesc* descs, uint32_t count, PvlResult* results) override {
    if (count == 0) return PVL_OK;
    if (!descs) return PVL_E_NULLPTR;
    PvlResult first = PVL_OK;
    std::lock_guard<std::recursive_mutex> lock(m_core->mutex);
    for (uint32_t i = 0; i < count; ++i) {
      DescHead* d = Head(&descs[i]);
      PvlResult r = PVL_E_BADARG;
      auto it = m_core->properties.find(d->id);
      if (it != m_core->properties.end()) {
        // Checked first, so that a refused descriptor is left as it was.
        r = PVL_OK;
        for (int v = 0; v < 5; ++v)
          if (!Compatible(it->second.values[v].Record().type, d->values[v].type)) r = PVL_E_BADARG;
        for (int v = 0; v < 5 && r == PVL_OK; ++v) r = Deliver(it->second.values[v].Record(), &d->values[v], false);
        if (r == PVL_OK) {
          d->byteAttribute = it->second.byteAttribute;
          d->attribute = it->second.attribute;
        }
      }
      if (results) results[i] = r;
      if (r != PVL_OK && first == PVL_OK) first = r;
    }
    return first;
  }

  PvlResult SetProperties(const PvlPropertyValueRecord* records, uint32_t count) override {
    if (count == 0) return PVL_OK;
    if (!records) return PVL_E_NULLPTR;
    std::vector<Value> copies(count);
    for (uint32_t i = 0; i < count; ++i) {
      PvlResult r = copies[i].Assign(&records[i].value);
      if (r != PVL_OK) return r;
    }
    std::lock_guard<std::recursive_mutex> lock(m_core->mutex);
    for (uint32_t i = 0; i < count; ++i)
      if (!m_core->properties.count(records[i].id)) return PVL_E_BADARG;
    for (uint32_t i = 0; i < count; ++i) {
      Property& p = m_core->properties[records[i].id];
      std::swap(p.values[0], copies[i]);
      p.attribute = records[i].mode;
    }
    return PVL_OK;
  }

  PvlResult SetRanges(const PvlPropertyRangeRecord* records, uint32_t count) override {
    if (count == 0) return PVL_OK;
    if (!records) return PVL_E_NULLPTR;
    std::vector<Value> copies(4 * static_cast<size_t>(count));
    for (uint32_t i = 0; i < count; ++i) {
      const PvlValueRecord* parts[4] = {&records[i].minimum, &records[i].maximum, &records[i].def, &records[i].step};
      for (int k = 0; k < 4; ++k) {
        PvlResult r = copies[4 * i + k].Assign(parts[k]);
        if (r != PVL_OK) return r;
      }
    }
    std::lock_guard<std::recursive_mutex> lock(m_core->mutex);
    for (uint32_t i = 0; i < count; ++i)
      if (!m_core->properties.count(records[i].id)) return PVL_E_BADARG;
    for (uint32_t i = 0; i < count; ++i) {
      Property& p = m_core->properties[records[i].id];
      for (int k = 0; k < 4; ++k) std::swap(p.values[1 + k], copies[4 * i + k]);
    }
    return PVL_OK;
  }

  PvlResult RegisterGroup(CPvlPropertyDesc* const* descs, uint32_t count, uint32_t group) override {
    if (count == 0) return PVL_OK;
    if (!descs) return PVL_E_NULLPTR;
    std::vector<std::pair<uint32_t, Property>> fresh(count);
    for (uint32_t i = 0; i < count; ++i) {
      if (!descs[i]) return PVL_E_NULLPTR;
      fresh[i].first = Head(descs[i])->id;
      PvlResult r = fresh[i].second.Define(Head(descs[i]));
      if (r != PVL_OK) return r;
    }
    std::lock_guard<std::recursive_mutex> lock(m_core->mutex);
    for (auto& [id, property] : fresh) {
      std::swap(m_core->properties[id], property);
      m_core->Join(group, id);
    }
    return PVL_OK;
  }

  PvlResult Reserved13(uint32_t, uint32_t, uint32_t) override { return PVL_E_UNSUPPORTED; }
  PvlResult Reserved14(uint32_t, uint32_t) override { return PVL_E_UNSUPPORTED; }

 protected:
  std::shared_ptr<Core> m_core;
};

class PropertyFace final : public PropertyOps<IProperties> {
 public:
  PropertyFace(std::shared_ptr<Core> core, IPvlBase* owner) : PropertyOps(std::move(core)), m_owner(owner) {}
  PvlResult QueryInterface(ZUEUID iid, void** out) override {
    if (iid == ZUEUID_IFACE_PROPERTIES_ALT) iid = ZUEUID_IFACE_PROPERTIES;
    return AnswerQuery(iid, out, ZUEUID_IFACE_PROPERTIES);
  }

 private:
  IPvlBase* m_owner;  // not counted: the owner holds the face, never the reverse
};

class PropertyStore final : public PropertyOps<IPropertyStore> {
 public:
  PropertyStore() : PropertyOps(std::make_shared<Core>()) {}

  PvlResult QueryInterface(ZUEUID iid, void** out) override {
    if (iid == ZUEUID_IFACE_PROPERTIES || iid == ZUEUID_IFACE_PROPERTIES_ALT) iid = ZUEUID_IFACE_PROPERTY_STORE;
    return AnswerQuery(iid, out, ZUEUID_IFACE_PROPERTY_STORE);
  }

  PvlResult GetGroupMembers(uint32_t group, uint32_t* ids, uint32_t capacity, uint32_t* count) override {
    if (!count) return PVL_E_NULLPTR;
    std::lock_guard<std::recursive_mutex> lock(m_core->mutex);
    auto it = m_core->groups.find(group);
    const uint32_t n = it == m_core->groups.end() ? 0 : static_cast<uint32_t>(it->second.size());
    *count = n;
    if (ids)
      for (uint32_t i = 0; i < n && i < capacity; ++i) ids[i] = it->second[i];
    return PVL_OK;
  }

  PvlResult Reserved16() override { return PVL_E_UNSUPPORTED; }
  PvlResult Reserved17() override { return PVL_E_UNSUPPORTED; }
  PvlResult Reserved18() override { return PVL_E_UNSUPPORTED; }
  PvlResult Reserved19() override { return PVL_E_UNSUPPORTED; }
  PvlResult Reserved20() override { return PVL_E_UNSUPPORTED; }

  PvlResult CreateBoundFace(IPvlBase* owner, IProperties** face) override {
    if (!owner || !face) return PVL_E_NULLPTR;
    *face = nullptr;
    try {
      *face = new PropertyFace(m_core, owner);
    } catch (const std::bad_alloc&) {
      return PVL_E_OUTOFMEMORY;
    }
    return PVL_OK;
  }
};

}  // namespace

PvlResult CreatePropertyStore(void** out) {
  try {
    *out = static_cast<IPropertyStore*>(new PropertyStore);
  } catch (const std::bad_alloc&) {
    return PVL_E_OUTOFMEMORY;
  }
  return PVL_OK;
}

}  // namespace orbhost
