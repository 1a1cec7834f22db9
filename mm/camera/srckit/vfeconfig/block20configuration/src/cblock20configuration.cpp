#include "cblock20configuration.h"

PvlResult CBlock20Configuration::Configure(IVfeSettings*) {
  memset(&m_payload, 0, sizeof m_payload);
  IVideoOutputControl* out2 = m_service->GetCurrentOutput2();
  if (out2 && out2->IsCurrentModeEnabled()) {
    static constexpr uint8_t kOn[6] = {1, 0, 1, 1, 0, 0};
    m_payload.enable = kOn[0];
    for (int i = 0; i < 5; ++i) m_payload.flags[i] = kOn[i + 1];
  }
  return PVL_OK;
}
