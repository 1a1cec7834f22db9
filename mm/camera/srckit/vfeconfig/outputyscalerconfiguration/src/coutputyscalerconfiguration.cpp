#include "coutputyscalerconfiguration.h"

#include "cmainscalerconfiguration.h"

PvlResult COutputYScalerConfiguration::Compute() { return ComputeOutput1Scaler(m_service, 1, true, &m_payload); }
