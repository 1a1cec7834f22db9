// Format translation: port formats <-> video information headers and data ranges.
// The ports speak NV21 with a microsecond frame interval; clients see YV12 (the
// protocol's name for the same 12-bit planar family) with 100 ns intervals.
#include "formattranslation.h"

#include <cstdlib>
#include <cstring>

#include "plindor.h"
#include "wince.h"

namespace {

bool IsBayer(uint32_t fourcc) {
  return fourcc == kFourccRGGB || fourcc == kFourccGRBG || fourcc == kFourccGBRG || fourcc == kFourccBGGR ||
         fourcc == 0;
}

void LogUnknown(uint32_t fourcc) { NKDbgPrintfW(u"Got unrecognized FOURCC code! 0x%x\r\n", fourcc); }

}  // namespace

uint16_t FourccPlanes(uint32_t fourcc) {
  if (fourcc == kFourccNV12 || fourcc == kFourccNV21) return 2;
  if (fourcc == kFourccYV12) return 3;
  return 1;
}

uint32_t PortFormatImageSize(const CameraPortFormat& f) {
  uint32_t fourcc = f.FourCC;
  if (fourcc == kFourccNV12 || fourcc == kFourccNV21 || fourcc == kFourccYV12) {
    // A zero sampling divisor would be a broken port format: count no chroma then.
    uint64_t chroma = 0;
    if (f.HorizontalSampling && f.VerticalSampling)
      chroma = 2ull * (f.Width / f.HorizontalSampling) * (f.Height / f.VerticalSampling);
    uint64_t size = (uint64_t(f.Width) * f.Height + chroma + 7) & ~uint64_t(7);
    return size > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(size);
  }
  if (IsBayer(fourcc)) return f.Width * f.Height;
  if (fourcc == kFourccIJPG) return uint32_t(uint64_t(f.Width) * f.Height * (f.Depth & 0xFFFF) / 8);
  LogUnknown(fourcc);
  return 0;
}

CsGuid FourccSubtype(uint32_t fourcc) {
  if (fourcc == kFourccNV21) return CsSubtypeOfFourcc(kFourccYV12);
  if (fourcc == kFourccNV12 || fourcc == kFourccYV12 || IsBayer(fourcc) || fourcc == kFourccIJPG)
    return CsSubtypeOfFourcc(fourcc);
  LogUnknown(fourcc);
  return CsGuid{};
}

uint32_t VideoInfoCompressionCode(const CS_VIDEOINFOHEADER& vih) {
  return vih.bmiHeader.biCompression & ~kCompressionPrivateBit;
}

void PortFormatToVideoInfo(const CameraPortFormat& f, CS_VIDEOINFOHEADER* vih) {
  std::memset(vih, 0, sizeof *vih);
  vih->rcSource = {f.ClipLeft, f.ClipTop, f.ClipRight, f.ClipBottom};
  vih->rcTarget = vih->rcSource;
  vih->AvgTimePerFrame = int64_t(f.FrameInterval) * 10;
  CS_BITMAPINFOHEADER& bmi = vih->bmiHeader;
  bmi.biSize = sizeof(CS_BITMAPINFOHEADER);
  bmi.biWidth = int32_t(f.Width);
  bmi.biHeight = int32_t(f.Height);
  bmi.biBitCount = uint16_t(f.Depth);
  if (f.FourCC == kFourccNV21 || (f.FourCC == kFourccIJPG && VantorIsCameraLTKRunning() == 1)) {
    bmi.biCompression = kFourccYV12;
    bmi.biPlanes = FourccPlanes(kFourccYV12);
  } else if (f.FourCC == kFourccIJPG) {
    bmi.biCompression = kFourccIJPG;
    bmi.biPlanes = FourccPlanes(kFourccIJPG);
  } else {
    bmi.biCompression = f.FourCC | kCompressionPrivateBit;
    bmi.biPlanes = FourccPlanes(f.FourCC);
  }
  bmi.biSizeImage = PortFormatImageSize(f);
}

void VideoInfoToDataRange(const CS_VIDEOINFOHEADER& vih, CS_DATARANGE_VIDEO* range) {
  std::memset(range, 0, sizeof *range);
  const CS_BITMAPINFOHEADER& bmi = vih.bmiHeader;
  int32_t width = bmi.biWidth;
  int32_t height = bmi.biHeight;
  uint64_t frameBits = uint64_t(uint32_t(width)) * uint32_t(std::abs(height)) * bmi.biBitCount;
  range->DataRange.FormatSize = sizeof(CS_DATARANGE_VIDEO);
  range->DataRange.SampleSize = uint32_t(frameBits / 8);
  range->DataRange.MajorFormat = CSDATAFORMAT_TYPE_VIDEO;
  range->DataRange.SubFormat = FourccSubtype(VideoInfoCompressionCode(vih));
  range->DataRange.Specifier = CSDATAFORMAT_SPECIFIER_VIDEOINFO;
  range->bFixedSizeSamples = 1;
  range->bTemporalCompression = 1;
  range->StreamDescriptionFlags = 2;
  range->MemoryAllocationFlags = 0;
  CS_VIDEO_STREAM_CONFIG_CAPS& caps = range->ConfigCaps;
  caps.guid = CSDATAFORMAT_SPECIFIER_VIDEOINFO;
  caps.InputSize = caps.MinCroppingSize = caps.MaxCroppingSize = {width, height};
  caps.CropGranularityX = caps.CropGranularityY = caps.CropAlignX = caps.CropAlignY = 1;
  caps.MinOutputSize = caps.MaxOutputSize = {width, height};
  caps.OutputGranularityX = width;
  caps.OutputGranularityY = height;
  caps.MinFrameInterval = vih.AvgTimePerFrame;
  caps.MaxFrameInterval = 10000000;
  // Bits of one frame at the slowest and the fastest rate, clipped to the field.
  auto bitsPerSecond = [&](int64_t interval) -> int32_t {
    if (interval <= 0) return 0;
    uint64_t bps = frameBits * 10000000ull / uint64_t(interval);
    return bps > 0x7FFFFFFFull ? 0x7FFFFFFF : int32_t(bps);
  };
  caps.MinBitsPerSecond = bitsPerSecond(caps.MaxFrameInterval);
  caps.MaxBitsPerSecond = bitsPerSecond(caps.MinFrameInterval);
  range->VideoInfoHeader = vih;
}

void VideoInfoToPortFormat(const CS_VIDEOINFOHEADER& vih, CameraPortFormat* f) {
  std::memset(f, 0, sizeof *f);
  f->ClipLeft = vih.rcSource.left;
  f->ClipTop = std::abs(vih.rcSource.top);
  f->ClipRight = vih.rcSource.right;
  f->ClipBottom = std::abs(vih.rcSource.bottom);
  f->Width = uint32_t(vih.bmiHeader.biWidth);
  f->Height = uint32_t(std::abs(vih.bmiHeader.biHeight));
  f->FrameInterval = uint32_t(uint64_t(vih.AvgTimePerFrame) & 0xFFFFFFFFu) / 10;
  uint32_t code = VideoInfoCompressionCode(vih);
  if (code == kFourccNV12 || code == kFourccNV21 || code == kFourccYV12) {
    f->idColorSpace = ZUEUID_COLORSPACE_YUV;
    f->FourCC = code == kFourccYV12 ? kFourccNV21 : code;
    f->Depth = 12;
    f->HorizontalSampling = f->VerticalSampling = 2;
  } else if (IsBayer(code)) {
    f->idColorSpace = ZUEUID_COLORSPACE_RGB;
    f->FourCC = code;
    f->Depth = 32;
    f->HorizontalSampling = f->VerticalSampling = 1;
  } else if (code == kFourccIJPG) {
    f->idColorSpace = ZUEUID_COLORSPACE_YUV;
    f->FourCC = code;
    f->Depth = vih.bmiHeader.biBitCount;
    f->HorizontalSampling = f->VerticalSampling = 2;
  } else {
    LogUnknown(code);
  }
  f->Stride = f->Width * f->Depth / 8;
}
