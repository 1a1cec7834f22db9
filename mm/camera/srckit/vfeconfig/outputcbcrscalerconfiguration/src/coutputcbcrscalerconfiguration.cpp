#include "coutputcbcrscalerconfiguration.h"

#include "cmainscalerconfiguration.h"

// Always halves, even when the luma scaler is off.
PvlResult COutputCbCrScalerConfiguration::Compute() { return ComputeOutput1Scaler(m_service, 2, false, &m_payload); }
