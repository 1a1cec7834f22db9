// The driver's module-level state shared by its entry points (CAM_, PIN_, CPM_).
#pragma once

#include "wince.h"

class CCameraDevice;

#define OSTREL_EXPORT extern "C" __attribute__((visibility("default")))

// The open camera's device, null while no client has the camera open. Read by the
// power device, which acts on the camera only while it is open.
CCameraDevice* OstrelOpenCameraDevice();
// The device power state (0 = D0, 4 = D4) the power manager last set.
DWORD OstrelDevicePowerState();
void OstrelSetDevicePowerState(DWORD state);
