#include "cblock22configuration.h"

PvlResult CBlock22Configuration::Configure() {
  memset(&m_payload, 0, sizeof m_payload);
  for (uint8_t& m : m_payload.maximum) m = 0xFF;
  return PVL_OK;
}
