// The log function, the assertion break and the exception type.
#ifndef PVLLOG_H
#define PVLLOG_H

#include <stdint.h>

#include "pvlbase.h"

// Log levels.
#define CAMERA_LOG_DETAIL 0   // buffer requirements, timing averages
#define CAMERA_LOG_INFO 1     // engine events, service start and stop
#define CAMERA_LOG_NOTABLE 2  // notable outcomes and warnings
#define CAMERA_LOG_ERROR 3    // errors and refused events

// Built at each call site: level, source path, line.
struct CameraLogRecord {
  int32_t level;
  const char* file;
  int32_t line;
};
#if INTPTR_MAX == INT32_MAX  // the phone's layout: a 64-bit build widens its pointers
static_assert(sizeof(CameraLogRecord) == 12, "log record is three words");
#endif

// printf-style (the bounded formatter); the text is cut to 127 characters.
// Goes to the host's debug output and to the diagnostic channel (mask 4).
// A null record or format does nothing.
void CameraDebugLog(const CameraLogRecord* record, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// Logs with this source location.
#define CAMERA_DEBUG_LOG(level, ...)                                         \
  do {                                                                       \
    static const CameraLogRecord camera_log_record_ = {(level), __FILE__, __LINE__}; \
    CameraDebugLog(&camera_log_record_, __VA_ARGS__);                        \
  } while (0)

// The assertion break: reports a broken precondition and returns.
void PvlAssertBreak(uintptr_t value);

namespace Camera {

// Carries one result code out of accessors that must not fail.
class __attribute__((visibility("default"))) CZUEException {
 public:
  explicit CZUEException(PvlResult result) : m_result(result) {}
  PvlResult GetResult() const { return m_result; }

 private:
  PvlResult m_result;
};

}  // namespace Camera

#endif
