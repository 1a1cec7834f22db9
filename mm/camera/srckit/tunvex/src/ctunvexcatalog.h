// The tuning server's view of all registered tables: the groups with their
// one 16-bit Id space, the summary ("3A") items, the JPEG text and the request
// handlers of the tuning protocol. The protocol thread, the registrants and the
// capture thread all come through here; one lock keeps them apart.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <mutex>
#include <vector>

#include "cruntimetuning.h"
#include "tunvex.h"

class CTunvexCatalog {
 public:
  static constexpr uint32_t kGroupNameSize = 20;  // 19 characters
  static constexpr uint32_t kCumNameSize = 10;    // 9 characters
  static constexpr uint32_t kFormat3ASize = 80;
  static constexpr uint32_t kValueTextSize = 80;  // texts answered by GetParms
  static constexpr uint32_t kNameBufferSize = 100;
  static constexpr uint32_t kMaxItems = 0xFFFF;   // Ids are 16 bits

  struct Group {
    uint16_t id;
    char name[kGroupNameSize];
    IRuntimeTuning* provider;  // not referenced
    uint16_t itemCount;
    uint32_t flags;            // bit 0: "TuningData"
  };
  struct CumItem {
    IRuntimeTuning* provider;  // not referenced
    uint16_t item;
    char name[kCumNameSize];
  };

  // Apply hook: makes the engine take over changed values; 0 on success.
  typedef PvlResult (*ApplyFn)(void* context);
  // Log sink for the server's own log; null drops every message.
  typedef void (*LogFn)(void* context, const char* text);

  CTunvexCatalog();
  CTunvexCatalog(const CTunvexCatalog&) = delete;
  CTunvexCatalog& operator=(const CTunvexCatalog&) = delete;

  void SetApply(ApplyFn fn, void* context);
  void SetLog(LogFn fn, void* context);

  PvlResult Register(IRuntimeTuning* provider, const char* name);
  PvlResult Unregister(IRuntimeTuning* provider);

  uint16_t GroupCount() const;
  uint16_t TotalItems() const;
  bool ChangesPending() const { return m_changesPending.load() != 0; }

  // Group and item of an Id; 1 for an Id at or beyond the total.
  PvlResult FindItem(uint16_t id, uint16_t* group, uint16_t* item) const;

  PvlResult Format3A(char* buffer, uint32_t size);
  PvlResult SendDataToJPEG(char* buffer, uint32_t size, uint32_t* needed, uint32_t* written);

  // Request handlers. `requestSize` is the number of payload bytes that came
  // with the request; nothing beyond it is read.
  PvlResult GetList(const uint8_t* request, uint32_t requestSize, uint8_t* response, uint32_t size);
  PvlResult GetParms(const uint8_t* request, uint32_t requestSize, uint8_t* response, uint32_t size);
  PvlResult SetParms(const uint8_t* request, uint32_t requestSize, uint8_t* status, uint32_t size);
  PvlResult MiscCommand(const uint8_t* request, uint32_t requestSize, uint8_t* response, uint32_t size);
  // Runs the handler of a valid control code; 16 for a code without one.
  PvlResult Dispatch(uint16_t code, const uint8_t* request, uint32_t requestSize, uint8_t* response,
                     uint32_t size);

  void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));

 private:
  uint16_t TotalLocked() const;
  PvlResult FindLocked(uint16_t id, size_t* group, uint16_t* item) const;
  // The item of an Id whose element `index` exists; a failure to read the
  // item's information is logged under the handler's name.
  bool FindElementLocked(const char* handler, uint16_t id, uint16_t index, size_t* group, uint16_t* item);
  PvlResult Format3ALocked(char* buffer, uint32_t size);
  PvlResult Apply();

  mutable std::recursive_mutex m_lock;
  std::vector<Group> m_groups;
  std::vector<CumItem> m_cumItems;
  std::atomic<uint8_t> m_changesPending{0};
  ApplyFn m_apply = nullptr;
  void* m_applyContext = nullptr;
  LogFn m_log = nullptr;
  void* m_logContext = nullptr;
};
