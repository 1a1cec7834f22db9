// CameraDebugLog: the log function shared by every module.
#include <stdarg.h>
#include <string.h>

#include "hostsymbols.h"
#include "plindor.h"
#include "pvllog.h"
#include "pvlstring.h"

namespace {

// The library's search, not a byte loop: the path (the compiler's, long) is
// searched twice for every line logged.
const char* AfterLast(const char* path, char c) {
  const char* last = strrchr(path, c);
  return last ? last + 1 : path;
}

}  // namespace

void CameraDebugLog(const CameraLogRecord* record, const char* format, ...) {
  if (!record || !format) return;
  const char* path = record->file ? record->file : "";
  char text[128];
  va_list ap;
  va_start(ap, format);
  pvl_vsnprintf(text, sizeof text, format, ap);
  va_end(ap);
  // The debugger shows the name after the last backslash; the diagnostic
  // channel gets the part after the last '/', or the whole path.
  dbg_dbg_Message(text, record->level, AfterLast(path, '\\'), record->line);
  DiagMessageSend(AfterLast(path, '/'), static_cast<uint32_t>(record->line), 4, text, 0);
}
