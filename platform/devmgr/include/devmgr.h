// The device manager: loads stream-interface drivers from their registry keys
// and routes clients' file calls on the device names ("CAM1:") to the
// drivers' entry points.
#ifndef DEVMGR_H
#define DEVMGR_H

#include "wince.h"

extern "C" {

// The calls a driver makes.
// Loads the driver of the key (a path under HKEY_LOCAL_MACHINE: "Prefix",
// "Dll", "Index"), creates its active key and calls <Prefix>_Init(active key
// path, busContext). The handle identifies the device; on failure it is
// INVALID_HANDLE_VALUE (never null) with the last error set. A driver's Init
// may activate further devices, also of its own library.
HANDLE ActivateDeviceEx(LPCWSTR deviceKey, LPCVOID registryEntries, DWORD entryCount, LPVOID busContext);
HANDLE ActivateDevice(LPCWSTR deviceKey, DWORD clientInfo);
// Removes the device's name, calls <Prefix>_PreDeinit (when exported), waits
// until no client call is inside the driver, calls <Prefix>_Deinit, removes
// the active key and drops the library. Handles still open then fail with
// ERROR_INVALID_HANDLE, and closing them never reaches the driver: its Deinit
// frees what open handles held.
BOOL DeactivateDevice(HANDLE device);
// The device key named by an active key ("Drivers\Active\NN"), opened for
// reading; null when there is none.
HKEY OpenDeviceKey(LPCWSTR activeKey);

}  // extern "C"

// Stream-interface power requests (the power manager's codes).
#define IOCTL_POWER_CAPABILITIES 0x00321000u
#define IOCTL_POWER_GET 0x00321004u
#define IOCTL_POWER_SET 0x00321008u
#define IOCTL_POWER_QUERY 0x0032100Cu

// ---- The device manager's own side (hosts, the power manager, tests) -----------
extern "C" {

// Activates every key under HKEY_LOCAL_MACHINE\Drivers\BuiltIn that names a
// "Dll", in ascending "Order" (then by name). Returns the number activated.
DWORD DevMgrActivateBuiltIn(void);
// Deactivates every device still active, newest first.
void DevMgrDeactivateAll(void);
// The device handle of an active device name ("CAM1:"), or null.
HANDLE DevMgrFindDevice(LPCWSTR deviceName);
// The active key path of a device ("Drivers\Active\NN"), or null.
LPCWSTR DevMgrActiveKeyPath(HANDLE device);
// The value its Init returned.
DWORD_PTR DevMgrDeviceContext(HANDLE device);

// The power manager's path: opens the device as the power manager's process,
// sends one request with <Prefix>_IOControl and closes it again. The last
// error is the driver's.
BOOL DevMgrPowerIoControl(LPCWSTR deviceName, DWORD code, LPVOID in, DWORD inLen, LPVOID out, DWORD outLen,
                          LPDWORD returned);
// The process identity of the power manager (what GetCallerProcess answers in
// the driver during DevMgrPowerIoControl).
HANDLE DevMgrPowerManagerProcess(void);

}  // extern "C"

#endif  // DEVMGR_H
