// CRawVideoOutput. The raw output: the sensor's Bayer frames, whole, out of VFE path 2.
#include "cvideooutput.h"
#include "vfedriver.h"

namespace {
constexpr VideoOutputTraits kTraits{0, 0, ZUEUID_COLORSPACE_RAW, 0, 8, 1, VFE_CMD_ACK_OUTPUT, false, false, 0, 0};
}  // namespace

CRawVideoOutput::CRawVideoOutput(IVfeOutputHost* service, PvlResult* result) : CVideoOutput(service, kTraits, result) {}

PvlResult CRawVideoOutput::Create(IVfeOutputHost* service, CVideoOutput** out) { return CreateAs<CRawVideoOutput>(service, out); }
