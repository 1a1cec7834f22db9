// Format translation between port formats and the protocol's video headers and
// data ranges, checked on the formats the engine's ports offer.
#include <gtest/gtest.h>

#include "formattranslation.h"
#include "image_copy.h"
#include "wince_sim.h"

namespace {

CameraPortFormat Port(uint32_t fourcc, uint32_t w, uint32_t h, uint32_t depth = 12, uint32_t interval = 66666) {
  CameraPortFormat f{};
  f.idColorSpace = ZUEUID_COLORSPACE_YUV;
  f.FourCC = fourcc;
  f.Depth = depth;
  f.Width = w;
  f.Height = h;
  f.HorizontalSampling = f.VerticalSampling = 2;
  f.FrameInterval = interval;
  f.ClipRight = int32_t(w);
  f.ClipBottom = int32_t(h);
  return f;
}

TEST(FormatTranslation, Nv21PreviewBecomesYv12AndBack) {
  CS_VIDEOINFOHEADER vih;
  PortFormatToVideoInfo(Port(kFourccNV21, 640, 480), &vih);
  EXPECT_EQ(vih.bmiHeader.biCompression, kFourccYV12);
  EXPECT_EQ(vih.bmiHeader.biPlanes, 3);
  EXPECT_EQ(vih.bmiHeader.biBitCount, 12);
  EXPECT_EQ(vih.bmiHeader.biSizeImage, 460800u);
  EXPECT_EQ(vih.AvgTimePerFrame, 666660);
  EXPECT_EQ(vih.rcSource.right, 640);

  CS_DATARANGE_VIDEO range;
  VideoInfoToDataRange(vih, &range);
  EXPECT_EQ(range.DataRange.FormatSize, 1336u);
  EXPECT_EQ(range.DataRange.SampleSize, 460800u);
  EXPECT_EQ(range.ConfigCaps.MinFrameInterval, 666660);
  EXPECT_EQ(range.ConfigCaps.MaxFrameInterval, 10000000);
  EXPECT_TRUE(CsGuidEqual(range.DataRange.SubFormat, CsSubtypeOfFourcc(kFourccYV12)));
  EXPECT_TRUE(CsGuidEqual(range.DataRange.MajorFormat, CSDATAFORMAT_TYPE_VIDEO));
  EXPECT_LE(range.ConfigCaps.MinBitsPerSecond, range.ConfigCaps.MaxBitsPerSecond);

  CameraPortFormat back;
  VideoInfoToPortFormat(vih, &back);
  EXPECT_EQ(back.FourCC, kFourccNV21);
  EXPECT_EQ(back.Width, 640u);
  EXPECT_EQ(back.Height, 480u);
  EXPECT_EQ(back.Depth, 12u);
  EXPECT_EQ(back.HorizontalSampling, 2u);
  EXPECT_EQ(back.Stride, 960u);
  EXPECT_EQ(back.FrameInterval, 66666u);
}

TEST(FormatTranslation, ANegativeHeightGivesAPositivePortHeight) {
  CS_VIDEOINFOHEADER vih;
  PortFormatToVideoInfo(Port(kFourccNV21, 640, 480), &vih);
  CS_DATARANGE_VIDEO upright;
  VideoInfoToDataRange(vih, &upright);
  vih.bmiHeader.biHeight = -480;
  CS_DATARANGE_VIDEO flipped;
  VideoInfoToDataRange(vih, &flipped);
  EXPECT_EQ(flipped.DataRange.SampleSize, upright.DataRange.SampleSize);
  CameraPortFormat back;
  VideoInfoToPortFormat(vih, &back);
  EXPECT_EQ(back.Height, 480u);
}

TEST(FormatTranslation, OtherCodesCarryThePrivateBit) {
  CS_VIDEOINFOHEADER vih;
  PortFormatToVideoInfo(Port(kFourccNV12, 320, 240), &vih);
  EXPECT_EQ(vih.bmiHeader.biCompression, 0x3231D64Eu);
  EXPECT_EQ(VideoInfoCompressionCode(vih), kFourccNV12);
  CS_DATARANGE_VIDEO range;
  VideoInfoToDataRange(vih, &range);
  EXPECT_TRUE(CsGuidEqual(range.DataRange.SubFormat, CsSubtypeOfFourcc(kFourccNV12)));
}

TEST(FormatTranslation, JpegAndBayerSizes) {
  struct Case {
    const char* name;
    CameraPortFormat format;
    uint32_t imageSize;
    uint16_t planes;
  } cases[] = {
      {"Jpeg", Port(kFourccIJPG, 2592, 1944, 8), 2592u * 1944, 1},
      {"Bayer", Port(kFourccGRBG, 2592, 1944, 10), 2592u * 1944, 1},
      {"RawZero", Port(0, 2592, 1944, 10), 2592u * 1944, 1},
  };
  for (const Case& c : cases) {
    CS_VIDEOINFOHEADER vih;
    PortFormatToVideoInfo(c.format, &vih);
    EXPECT_EQ(vih.bmiHeader.biSizeImage, c.imageSize) << c.name;
    EXPECT_EQ(vih.bmiHeader.biPlanes, c.planes) << c.name;
  }
}

TEST(FormatTranslation, AnUnknownCodeIsLoggedAndSizedZero) {
  camera::test::DebugCapture capture;
  CameraPortFormat f = Port(CAMERA_FOURCC('A', 'B', 'C', 'D'), 64, 64);
  EXPECT_EQ(PortFormatImageSize(f), 0u);
  EXPECT_EQ(FourccPlanes(f.FourCC), 1);
  CsGuid zero{};
  EXPECT_TRUE(CsGuidEqual(FourccSubtype(f.FourCC), zero));
  EXPECT_TRUE(CeSimDebugCapturedContains("Got unrecognized FOURCC code!"));
}

TEST(FormatTranslation, ABrokenSamplingDivisorDoesNotDivideByZero) {
  CameraPortFormat f = Port(kFourccNV21, 640, 480);
  f.HorizontalSampling = 0;
  EXPECT_EQ(PortFormatImageSize(f), 307200u) << "luma only";
}

}  // namespace
