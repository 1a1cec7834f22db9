// CVideoOutput2. Output 2: NV21 frames up to the sensor's full size (the still path).
#include "cvideooutput.h"
#include "vfedriver.h"

namespace {
constexpr VideoOutputTraits kTraits{2, 1, ZUEUID_COLORSPACE_YUV, CAMERA_FOURCC_NV21, 12, 2, VFE_CMD_ACK_OUTPUT, true, false, ZUEUID_SIGNAL_ACK_OUTPUT2, 2};
}  // namespace

CVideoOutput2::CVideoOutput2(IVfeOutputHost* service, PvlResult* result) : CVideoOutput(service, kTraits, result) {}

PvlResult CVideoOutput2::Create(IVfeOutputHost* service, CVideoOutput** out) { return CreateAs<CVideoOutput2>(service, out); }
