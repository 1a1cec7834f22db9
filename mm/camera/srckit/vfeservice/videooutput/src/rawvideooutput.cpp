// CRawVideoOutput. The raw output: the sensor's Bayer frames, whole, out of VFE path 2.
#include "vfeservice.h"
#include "videooutput.h"

namespace {
constexpr VideoOutputTraits kTraits{0, 0, ZUEUID_COLORSPACE_RAW, 0, 8, 1, VFE_CMD_ACK_OUTPUT, false, false, 0, 0};
}  // namespace

CRawVideoOutput::CRawVideoOutput(CVfeService* service, PvlResult* result) : CVideoOutput(service, kTraits, result) {}

PvlResult CRawVideoOutput::Create(CVfeService* service, CVideoOutput** out) { return CreateAs<CRawVideoOutput>(service, out); }
