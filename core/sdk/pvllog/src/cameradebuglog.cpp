// CameraDebugLog: the log function shared by every module.
#include <stdarg.h>

#include "hostsymbols.h"
#include "plindor.h"
#include "pvllog.h"
#include "pvlstring.h"

namespace {

const char* AfterLast(const char* path, char c) {
  const char* name = path;
  for (const char* p = path; *p; ++p) {
    if (*p == c) name = p + 1;
  }
  return name;
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
