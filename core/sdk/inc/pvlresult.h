// Result codes of the framework: a signed 32-bit value, 0 for success.
#ifndef PVLRESULT_H
#define PVLRESULT_H

#include <stdint.h>

typedef int32_t PvlResult;

#define PVL_OK                    0
#define PVL_E_FAIL                1           // general failure
#define PVL_E_OUTOFMEMORY         2
#define PVL_E_NOTSUPPORTED        3           // class or interface not supported
#define PVL_E_DETACHED            10          // proxy whose object or store is gone
#define PVL_E_TIMEOUT             12
#define PVL_E_NOTREADY            13          // not allowed in the current state
#define PVL_E_BADARG              14          // bad argument, size or index
#define PVL_E_NOTREPRESENTABLE    16          // fixed-point value lost bits or Q out of range
#define PVL_E_UNSUPPORTED         20          // operation not supported / plug-in: not handled
#define PVL_E_NULLPTR             29          // null pointer argument
#define PVL_E_BUFFERTOOSMALL      38
#define PVL_E_NOTFOUND            39          // no port for the output; missing attribute
#define PVL_E_OUTERREFUSED        43          // owned object refused an outer; shallow descriptor asked to copy deeply
#define PVL_E_STOPPED             47          // port stopped or closed while a reader waited
#define PVL_E_BUFFERSALLOCATED    0x03C19301  // frame-buffer manager refuses a change after allocation
#define PVL_E_VALUENOTPRESENT     0x03C19309  // media buffer field not present
#define PVL_E_CAPTURE_FAILED      0x03C1930A  // a still capture ended without its image
#define PVL_E_DEVICE_LOST         0x03C1930B  // the camera module stopped answering while it streamed

#define PVL_SUCCEEDED(r) ((r) == PVL_OK)
#define PVL_FAILED(r) ((r) != PVL_OK)

#endif
