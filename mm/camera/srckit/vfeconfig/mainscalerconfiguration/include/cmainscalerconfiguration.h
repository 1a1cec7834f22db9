// Main scaler: shrinks the crop window to the larger of the two outputs.
// Sends VFE_CMD_MAIN_SCALER (10), or VFE_CMD_MAIN_SCALER_UPDATE (38) while
// frames flow, with 44 bytes; no tuning keys; fed by the crop window and the
// outputs' enables and sizes.
#pragma once

#include "cvfeconfiguration.h"

class CMainScalerConfiguration : public CVfeConfiguration<VfeMainScalerCmd>, public IVfeScaler {
 public:
  int32_t GetCommandId() override { return VFE_CMD_MAIN_SCALER; }
  PvlResult Compute() override;
  PvlResult SendUpdate() {
    return m_service->SendCommand(VFE_CMD_MAIN_SCALER_UPDATE, &m_payload, sizeof m_payload);
  }

  CMainScalerConfiguration(IVfeServiceInternal* service, PvlResult* result)
      : CVfeConfiguration(service, result) {}
};

// OUTPUT1's luma and chroma scalers: from the main scaler's output down to
// OUTPUT1's size divided by `divisor` each way. The record stays off while
// OUTPUT1 is off, and, with keepOffAtSameSize, when the sizes already agree
// (its sizes then unwritten); 13 without a main scaler.
PvlResult ComputeOutput1Scaler(IVfeServiceInternal* service, uint32_t divisor, bool keepOffAtSameSize,
                               VfeOutputScalerCmd* payload);
