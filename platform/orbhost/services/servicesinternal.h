// Creation of the host services (the classes the host makes in services/).
#pragma once

#include <algorithm>
#include <cstring>

#include "internal.h"

namespace orbhost::services {

PvlResult CreateXmlParser(void** out);
PvlResult CreateFileSystem(void** out);
PvlResult CreateJpegService(void** out);

}  // namespace orbhost::services
