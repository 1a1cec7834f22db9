#include "internal.h"
namespace orbhost {
PvlResult CreatePropertyStore(void**) { return PVL_E_NOTSUPPORTED; }
}
