#include "ctunvexcatalog.h"

#include <cstdio>
#include <cstring>

#include "tunvexprotocol.h"

namespace {

constexpr char kSummaryName[] = "3A";
constexpr char kTuningDataName[] = "TuningData";
constexpr char kErrText[] = "<err>";

void CopyBounded(char* dst, size_t size, const char* src) {
  if (size == 0) return;
  size_t n = std::strlen(src);
  if (n > size - 1) n = size - 1;
  std::memcpy(dst, src, n);
  dst[n] = '\0';
}

// Appends formatted text at *pos, never past `end` (the last byte of the
// buffer, kept for the terminator); advances by what was stored.
void AppendBounded(char** pos, char* end, const char* format, const char* text) {
  if (*pos >= end) return;
  size_t room = size_t(end - *pos) + 1;
  int n = std::snprintf(*pos, room, format, text);
  if (n < 0) return;
  size_t stored = size_t(n) < room - 1 ? size_t(n) : room - 1;
  *pos += stored;
}

}  // namespace

CTunvexCatalog::CTunvexCatalog() {
  Group summary{};
  summary.id = 0;
  CopyBounded(summary.name, sizeof summary.name, kSummaryName);
  summary.provider = nullptr;
  summary.itemCount = 1;
  summary.flags = 0;
  m_groups.push_back(summary);
}

void CTunvexCatalog::SetApply(ApplyFn fn, void* context) {
  std::lock_guard<std::recursive_mutex> g(m_lock);
  m_apply = fn;
  m_applyContext = context;
}

void CTunvexCatalog::SetLog(LogFn fn, void* context) {
  std::lock_guard<std::recursive_mutex> g(m_lock);
  m_log = fn;
  m_logContext = context;
}

void CTunvexCatalog::Log(const char* format, ...) {
  LogFn fn;
  void* ctx;
  {
    std::lock_guard<std::recursive_mutex> g(m_lock);
    fn = m_log;
    ctx = m_logContext;
  }
  if (!fn) return;
  char text[256];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  fn(ctx, text);
}

uint16_t CTunvexCatalog::TotalLocked() const {
  uint32_t total = 0;
  for (const Group& g : m_groups) total += g.itemCount;
  return uint16_t(total);
}

uint16_t CTunvexCatalog::GroupCount() const {
  std::lock_guard<std::recursive_mutex> g(m_lock);
  return uint16_t(m_groups.size());
}

uint16_t CTunvexCatalog::TotalItems() const {
  std::lock_guard<std::recursive_mutex> g(m_lock);
  return TotalLocked();
}

PvlResult CTunvexCatalog::Register(IRuntimeTuning* provider, const char* name) {
  if (!provider) {
    Log("Register got NULL as RuntimeTuning parm\r\n");
    return PVL_E_BADARG;
  }
  if (!name) {
    Log("Register got NULL as Name parm\r\n");
    return PVL_E_BADARG;
  }
  uint16_t count = 0;
  PvlResult r = provider->GetNumItems(&count);
  if (r != PVL_OK) {
    Log("Register call to GetNumItems for name '%s' failed: error %i\r\n", name, int(r));
    return r;
  }

  std::lock_guard<std::recursive_mutex> g(m_lock);
  // Ids are 16 bits: a group that would take them past the last one is refused.
  if (uint32_t(TotalLocked()) + count > kMaxItems) {
    Log("Register: group '%s' with %u items exceeds the item Ids\r\n", name, unsigned(count));
    return PVL_E_BADARG;
  }
  Group group{};
  group.id = uint16_t(m_groups.size());
  CopyBounded(group.name, sizeof group.name, name);
  group.provider = provider;
  group.itemCount = count;
  group.flags = 0;

  if (std::strcmp(name, kTuningDataName) == 0) {
    group.flags |= 1;
  } else {
    for (uint16_t k = 0; k < count; ++k) {
      char itemName[kNameBufferSize];
      uint16_t n = 0;
      uint32_t flags = 0;
      PvlResult ri = provider->GetItemInfo(k, itemName, sizeof itemName, nullptr, &n, &flags);
      if (ri != PVL_OK) {
        Log("Register call to GetItemInfo for name '%s' parm %hu failed: error %i\r\n", name, k, int(ri));
        continue;
      }
      if (flags & TUNVEX_FLAG_SUMMARY) {
        CumItem cum{};
        cum.provider = provider;
        cum.item = k;
        CopyBounded(cum.name, sizeof cum.name, itemName);
        m_cumItems.push_back(cum);
      }
    }
  }
  m_groups.push_back(group);
  return PVL_OK;
}

PvlResult CTunvexCatalog::Unregister(IRuntimeTuning* provider) {
  if (!provider) return PVL_E_BADARG;
  std::lock_guard<std::recursive_mutex> g(m_lock);
  bool found = false;
  for (size_t i = 1; i < m_groups.size();) {
    if (m_groups[i].provider == provider) {
      m_groups.erase(m_groups.begin() + ptrdiff_t(i));
      found = true;
    } else {
      ++i;
    }
  }
  for (size_t i = 0; i < m_cumItems.size();) {
    if (m_cumItems[i].provider == provider) m_cumItems.erase(m_cumItems.begin() + ptrdiff_t(i));
    else ++i;
  }
  for (size_t i = 0; i < m_groups.size(); ++i) m_groups[i].id = uint16_t(i);
  return found ? PVL_OK : PVL_E_BADARG;
}

PvlResult CTunvexCatalog::FindLocked(uint16_t id, size_t* group, uint16_t* item) const {
  uint32_t sum = 0;
  for (size_t g = 0; g < m_groups.size(); ++g) {
    uint32_t next = sum + m_groups[g].itemCount;
    if (id < next) {
      *group = g;
      *item = uint16_t(id - sum);
      return PVL_OK;
    }
    sum = next;
  }
  return PVL_E_FAIL;
}

bool CTunvexCatalog::FindElementLocked(const char* handler, uint16_t id, uint16_t index, size_t* group,
                                       uint16_t* item) {
  if (FindLocked(id, group, item) != PVL_OK) return false;
  if (*group == 0) return index < 1;  // the summary item has one element
  uint16_t count = 0;
  uint32_t flags = 0;
  PvlResult r = m_groups[*group].provider->GetItemInfo(*item, nullptr, 0, nullptr, &count, &flags);
  if (r != PVL_OK) {
    Log("%s couldn't get info for Id %hu (group %hu, item %hu): error %i\r\n", handler, id, uint16_t(*group), *item,
        int(r));
    return false;
  }
  return index < count;
}

PvlResult CTunvexCatalog::FindItem(uint16_t id, uint16_t* group, uint16_t* item) const {
  std::lock_guard<std::recursive_mutex> g(m_lock);
  size_t gi = 0;
  uint16_t it = 0;
  PvlResult r = FindLocked(id, &gi, &it);
  if (r != PVL_OK) return r;
  if (group) *group = uint16_t(gi);
  if (item) *item = it;
  return PVL_OK;
}

PvlResult CTunvexCatalog::Format3A(char* buffer, uint32_t size) {
  std::lock_guard<std::recursive_mutex> g(m_lock);
  return Format3ALocked(buffer, size);
}

PvlResult CTunvexCatalog::Format3ALocked(char* buffer, uint32_t size) {
  if (!buffer || size == 0) return PVL_E_BADARG;
  buffer[0] = '\0';
  char* pos = buffer;
  char* end = buffer + size - 1;  // room for the terminator
  PvlResult result = PVL_OK;
  for (size_t i = 0; i < m_cumItems.size() && pos < end; ++i) {
    const CumItem& cum = m_cumItems[i];
    if (i > 0) AppendBounded(&pos, end, "%s", ", ");
    AppendBounded(&pos, end, "%s:", cum.name);
    if (pos >= end) break;
    uint32_t room = uint32_t(end - pos) + 1;
    PvlResult r = cum.provider->GetValue(cum.item, 0, pos, room, nullptr);
    if (r == PVL_OK) {
      // Advance by what the converter stored, not by the full length it reports.
      pos += strnlen(pos, room - 1);
      *pos = '\0';
    } else {
      *pos = '\0';
      AppendBounded(&pos, end, "%s", kErrText);
      Log("Format3A couldn't get summary value %s: error %i\r\n", cum.name, int(r));
      result = r;
      break;
    }
  }
  return result;
}

PvlResult CTunvexCatalog::SendDataToJPEG(char* buffer, uint32_t size, uint32_t* needed, uint32_t* written) {
  std::lock_guard<std::recursive_mutex> g(m_lock);
  if (written) *written = 0;

  if (needed) {
    uint32_t sum = 0;
    char summary[kFormat3ASize];
    Format3ALocked(summary, sizeof summary);
    sum += uint32_t(std::strlen(kSummaryName)) + 1 + uint32_t(std::strlen(summary)) + 1;
    for (size_t gi = 1; gi < m_groups.size(); ++gi) {
      const Group& grp = m_groups[gi];
      for (uint16_t k = 0; k < grp.itemCount; ++k) {
        uint32_t nameLen = 0;
        uint16_t count = 0;
        uint32_t flags = 0;
        PvlResult r = grp.provider->GetItemInfo(k, nullptr, 0, &nameLen, &count, &flags);
        if (r != PVL_OK) {
          Log("SendDataToJPEG couldn't get item name size for cum item %i: error %i\r\n", int(k), int(r));
          continue;
        }
        if (flags & (TUNVEX_FLAG_SUMMARY | TUNVEX_FLAG_NO_JPEG)) continue;
        // nameLength already counts the NUL, which stands for the '='; each
        // element's length counts its ',' or '\n'. Every element is measured:
        // the first one's length times the count falls short when later
        // elements have longer texts.
        sum += nameLen + (count == 0 ? 1 : 0);
        for (uint16_t e = 0; e < count; ++e) {
          uint32_t len = 0;
          if (grp.provider->GetValue(k, e, nullptr, 0, &len) != PVL_OK || len == 0) len = sizeof kErrText;
          sum += len;
        }
      }
    }
    *needed = 2 * sum;
  }

  if (buffer && size > 0) {
    buffer[0] = '\0';
    char* pos = buffer;
    char* end = buffer + size - 1;
    char summary[kFormat3ASize];
    Format3ALocked(summary, sizeof summary);
    AppendBounded(&pos, end, "%s=", kSummaryName);
    AppendBounded(&pos, end, "%s\n", summary);
    for (size_t gi = 1; gi < m_groups.size() && pos < end; ++gi) {
      const Group& grp = m_groups[gi];
      for (uint16_t k = 0; k < grp.itemCount && pos < end; ++k) {
        char name[kNameBufferSize];
        uint16_t count = 0;
        uint32_t flags = 0;
        PvlResult r = grp.provider->GetItemInfo(k, name, sizeof name, nullptr, &count, &flags);
        if (r != PVL_OK) {
          Log("SendDataToJPEG couldn't get item name for cum item %i: error %i\r\n", int(k), int(r));
          continue;
        }
        if (flags & (TUNVEX_FLAG_SUMMARY | TUNVEX_FLAG_NO_JPEG)) continue;
        AppendBounded(&pos, end, "%s=", name);
        for (uint16_t e = 0; e < count && pos < end; ++e) {
          char text[kNameBufferSize];
          if (grp.provider->GetValue(k, e, text, sizeof text, nullptr) != PVL_OK) CopyBounded(text, sizeof text, kErrText);
          AppendBounded(&pos, end, e + 1 < count ? "%s," : "%s\n", text);
        }
        if (count == 0) AppendBounded(&pos, end, "%s", "\n");
      }
    }
    *pos = '\0';
    if (written) *written = uint32_t(pos - buffer);
  }
  return PVL_OK;
}

PvlResult CTunvexCatalog::GetList(const uint8_t* request, uint32_t requestSize, uint8_t* response, uint32_t size) {
  if (!response) {
    Log("GetList buffer is NULL\r\n");
    return PVL_E_BADARG;
  }
  if (size < 3) {
    Log("GetList response buffer too small\r\n");
    return PVL_E_BUFFERTOOSMALL;
  }
  if (!request || requestSize < 2) {
    Log("GetList request buffer too small\r\n");
    return PVL_E_BUFFERTOOSMALL;
  }
  uint16_t firstId = tunvex::GetU16(request);

  std::lock_guard<std::recursive_mutex> g(m_lock);
  uint32_t at = 3;
  uint16_t entries = 0;
  bool more = false;
  size_t gi = 0;
  uint16_t item = 0;
  if (FindLocked(firstId, &gi, &item) == PVL_OK) {
    uint32_t id = firstId;
    for (; gi < m_groups.size() && !more; ++gi, item = 0) {
      const Group& grp = m_groups[gi];
      for (; item < grp.itemCount; ++item, ++id) {
        char name[kNameBufferSize];
        uint16_t count = 1;
        uint32_t flags = tunvex::kFlagInfo;
        if (gi == 0) {
          CopyBounded(name, sizeof name, kSummaryName);
        } else {
          if (grp.provider->GetItemInfo(item, name, sizeof name, nullptr, &count, &flags) != PVL_OK) continue;
          if (flags & (TUNVEX_FLAG_HIDDEN | TUNVEX_FLAG_SUMMARY)) continue;
          if (grp.flags & 1) flags |= TUNVEX_FLAG_TUNINGDATA;
        }
        uint32_t len = uint32_t(strnlen(name, sizeof name - 1));
        uint32_t entry = 8 + len + 1;
        if (entry > size - at) {
          more = true;
          break;
        }
        tunvex::PutU16(response + at, uint16_t(id));
        tunvex::PutU16(response + at + 2, count);
        tunvex::PutU32(response + at + 4, flags);
        std::memcpy(response + at + 8, name, len);
        response[at + 8 + len] = 0;
        at += entry;
        ++entries;
      }
    }
  }
  response[0] = more ? 1 : 0;
  tunvex::PutU16(response + 1, entries);
  return PVL_OK;
}

PvlResult CTunvexCatalog::GetParms(const uint8_t* request, uint32_t requestSize, uint8_t* response,
                                   uint32_t size) {
  if (!request || !response) {
    Log("GetParms request or response buffer is NULL\r\n");
    return PVL_E_BADARG;
  }
  if (requestSize < 2) {
    Log("GetParms request buffer too small\r\n");
    return PVL_E_BUFFERTOOSMALL;
  }
  if (size < 3) {
    Log("GetParms response buffer too small\r\n");
    return PVL_E_BUFFERTOOSMALL;
  }
  uint16_t n = tunvex::GetU16(request);

  std::lock_guard<std::recursive_mutex> g(m_lock);
  uint32_t in = 2;
  uint32_t out = 3;
  uint16_t answered = 0;
  while (answered < n && requestSize - in >= 4) {
    uint16_t id = tunvex::GetU16(request + in);
    uint16_t index = tunvex::GetU16(request + in + 2);
    in += 4;
    size_t gi = 0;
    uint16_t item = 0;
    if (!FindElementLocked("GetParms", id, index, &gi, &item)) break;
    char text[kValueTextSize];
    if (gi == 0) {
      Format3ALocked(text, sizeof text);
    } else {
      const Group& grp = m_groups[gi];
      PvlResult r = grp.provider->GetValue(item, index, text, sizeof text, nullptr);
      if (r != PVL_OK) {
        Log("GetParms couldn't get value for Id %hu, index %hu (group %hu, item %hu): error %i\r\n", id, index,
            uint16_t(gi), item, int(r));
        break;
      }
    }
    uint32_t len = uint32_t(strnlen(text, sizeof text - 1));
    uint32_t entry = 4 + len + 1;
    if (entry > size - out) break;
    tunvex::PutU16(response + out, id);
    tunvex::PutU16(response + out + 2, index);
    std::memcpy(response + out + 4, text, len);
    response[out + 4 + len] = 0;
    out += entry;
    ++answered;
  }
  response[0] = m_changesPending.load();
  tunvex::PutU16(response + 1, answered);
  return PVL_OK;
}

PvlResult CTunvexCatalog::SetParms(const uint8_t* request, uint32_t requestSize, uint8_t* status, uint32_t size) {
  if (!request || !status || size < 1) {
    Log("SetParms request or status buffer is NULL\r\n");
    return PVL_E_BADARG;
  }
  if (requestSize < 2) return PVL_E_BUFFERTOOSMALL;
  uint16_t n = tunvex::GetU16(request);

  std::lock_guard<std::recursive_mutex> g(m_lock);
  uint32_t in = 2;
  uint16_t processed = 0;
  while (processed < n && requestSize - in >= 4) {
    uint16_t id = tunvex::GetU16(request + in);
    uint16_t index = tunvex::GetU16(request + in + 2);
    size_t gi = 0;
    uint16_t item = 0;
    // The summary item is read-only.
    if (id == 0 || !FindElementLocked("SetParms", id, index, &gi, &item)) break;
    const Group& grp = m_groups[gi];
    const char* text = reinterpret_cast<const char*>(request + in + 4);
    const void* nul = std::memchr(text, 0, requestSize - in - 4);
    if (!nul) break;
    PvlResult r = grp.provider->SetValue(item, index, text);
    if (r != PVL_OK) {
      Log("SetParms couldn't set value '%s' for Id %hu, index %hu (group %hu, item %hu): error %i\r\n", text, id,
          index, uint16_t(gi), item, int(r));
    } else {
      m_changesPending.store(1);
    }
    in = uint32_t(static_cast<const uint8_t*>(nul) - request) + 1;
    ++processed;
  }
  status[0] = m_changesPending.load();
  return PVL_OK;
}

PvlResult CTunvexCatalog::Apply() {
  ApplyFn fn;
  void* ctx;
  {
    std::lock_guard<std::recursive_mutex> g(m_lock);
    fn = m_apply;
    ctx = m_applyContext;
  }
  if (!fn) return PVL_E_FAIL;
  // Called without the catalog's lock: the engine may be on its way into
  // SendDataToJPEG under its own lock.
  PvlResult r = fn(ctx);
  if (r == PVL_OK) m_changesPending.store(0);
  return r;
}

PvlResult CTunvexCatalog::MiscCommand(const uint8_t* request, uint32_t requestSize, uint8_t* response,
                                      uint32_t size) {
  if (!request || !response) {
    Log("MiscCommand request or response buffer is NULL\r\n");
    return PVL_E_BADARG;
  }
  if (requestSize == 0) {
    Log("MiscCommand request buffer too small\r\n");
    return PVL_E_BUFFERTOOSMALL;
  }
  switch (request[0]) {
    case tunvex::kMiscVersion:
      if (size < sizeof tunvex::kServerVersion) return PVL_E_BUFFERTOOSMALL;
      std::memcpy(response, tunvex::kServerVersion, sizeof tunvex::kServerVersion);
      return PVL_OK;
    case tunvex::kMiscApply: {
      PvlResult r = Apply();
      if (r != PVL_OK) Log("Apply failed: error %i\r\n", int(r));
      if (size > 0) response[0] = m_changesPending.load();
      return PVL_OK;
    }
    default:
      return PVL_E_BADARG;
  }
}

PvlResult CTunvexCatalog::Dispatch(uint16_t code, const uint8_t* request, uint32_t requestSize, uint8_t* response,
                                   uint32_t size) {
  switch (code) {
    case tunvex::kCodeGetList: return GetList(request, requestSize, response, size);
    case tunvex::kCodeGetParms: return GetParms(request, requestSize, response, size);
    case tunvex::kCodeSetParms: return SetParms(request, requestSize, response, size);
    case tunvex::kCodeMiscCommand: return MiscCommand(request, requestSize, response, size);
    default:
      Log("Unrecognized command code\r\n");
      return PVL_E_NOTREPRESENTABLE;
  }
}
