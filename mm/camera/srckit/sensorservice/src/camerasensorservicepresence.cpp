// The sensor service's presence check: the engine's question, after a failed
// write or a stream whose frames stopped, whether the sensor is still there.
// Kept apart from the life cycle: it only forwards to the open driver.
#include "ccamerasensorservice.h"
#include "sensorconfigrecords.h"

PvlResult CCameraSensorService::CheckPresence() {
  if (!IsOpen()) return PVL_E_NOTREADY;
  return m_driver->Command(ZUEUID_SENSOR_CMD_CHECK_PRESENCE, nullptr, 0, nullptr, 0, nullptr);
}
