// OUTPUT1 luma scaler: brings the main scaler's result down to OUTPUT1's size.
// Sends VFE_CMD_OUTPUT_Y_SCALER (18), or VFE_CMD_OUTPUT_Y_SCALER_UPDATE (40)
// while frames flow, with 36 bytes; no tuning keys; fed by the main scaler's
// output size and OUTPUT1's enable and size.
#pragma once

#include "cvfeconfiguration.h"

class COutputYScalerConfiguration : public CVfeConfiguration<VfeOutputScalerCmd>, public IVfeScaler {
 public:
  int32_t GetCommandId() override { return VFE_CMD_OUTPUT_Y_SCALER; }
  PvlResult Compute() override;
  PvlResult SendUpdate() {
    return m_service->SendCommand(VFE_CMD_OUTPUT_Y_SCALER_UPDATE, &m_payload, sizeof m_payload);
  }

  COutputYScalerConfiguration(IVfeServiceInternal* service, PvlResult* result)
      : CVfeConfiguration(service, result) {}
};
