// The assertion break: reports to the host's debugger and returns.
#include "hostsymbols.h"
#include "pvllog.h"

void PvlAssertBreak(uintptr_t value) { dbg_dbg_Break(value); }
