// OUTPUT1 chroma scaler: brings the main scaler's result down to half
// OUTPUT1's size each way, for the NV21 chroma plane. Sends
// VFE_CMD_OUTPUT_CBCR_SCALER (19), or VFE_CMD_OUTPUT_CBCR_SCALER_UPDATE (39)
// while frames flow, with 36 bytes; no tuning keys; fed by the main scaler's
// output size and OUTPUT1's enable and size.
#pragma once

#include "cvfeconfiguration.h"

// Shares its payload type with the luma scaler.
class COutputCbCrScalerConfiguration : public CVfeConfiguration<VfeOutputScalerCmd>, public IVfeScaler {
 public:
  int32_t GetCommandId() override { return VFE_CMD_OUTPUT_CBCR_SCALER; }
  PvlResult Compute() override;
  PvlResult SendUpdate() {
    return m_service->SendCommand(VFE_CMD_OUTPUT_CBCR_SCALER_UPDATE, &m_payload, sizeof m_payload);
  }

  COutputCbCrScalerConfiguration(IVfeServiceInternal* service, PvlResult* result)
      : CVfeConfiguration(service, result) {}
};
