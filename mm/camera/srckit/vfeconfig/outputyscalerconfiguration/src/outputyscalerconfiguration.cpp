#include "outputyscalerconfiguration.h"

#include "mainscalerconfiguration.h"

PvlResult COutputYScalerConfiguration::Compute() { return ComputeOutput1Scaler(m_service, 1, true, &m_payload); }
