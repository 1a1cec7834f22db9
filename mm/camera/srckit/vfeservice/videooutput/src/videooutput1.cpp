// CVideoOutput1. Output 1: NV21 frames of at most 1024 x 768 (the preview and video path).
#include "cvideooutput.h"
#include "vfedriver.h"

namespace {
constexpr VideoOutputTraits kTraits{1, 1, ZUEUID_COLORSPACE_YUV, CAMERA_FOURCC_NV21, 12, 2, VFE_CMD_ACK_OUTPUT_MODE1, true, true, ZUEUID_SIGNAL_ACK_OUTPUT1, 1};
}  // namespace

CVideoOutput1::CVideoOutput1(IVfeOutputHost* service, PvlResult* result) : CVideoOutput(service, kTraits, result) {}

PvlResult CVideoOutput1::Create(IVfeOutputHost* service, CVideoOutput** out) { return CreateAs<CVideoOutput1>(service, out); }
