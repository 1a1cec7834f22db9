// The nv21jpeg tool end to end: a raw frame through the host's service into a file.
#include <gtest/gtest.h>

#include <string>

#include "jpegcheck.h"
#include "nv21frame.h"

namespace {

using namespace hostsvc::test;
using namespace camera::test;

struct Frame {
  std::string path = TempPath(".nv21");
  std::vector<uint8_t> pixels = Nv21Picture(320, 240, 5);
  Frame() { WriteFile(path, pixels); }
};

TEST(Nv21JpegTool, EncodesWithCropThumbnailTagsAndTuningText) {
  Frame f;
  std::string out = TempPath(".jpg");
  std::string tuning = TempPath(".txt");
  WriteFile(tuning, {'A', 'E', 'C', '=', '1', '\n'});
  std::string text;
  int rc = hostsvc::test::Run(std::string(NV21JPEG_PATH) + " -s 320x240 -q 90 -c 32,16,287,207 -t 80x60 -e 0x010F=ascii:Samsung" +
                   " -e 0x9209=short:16 -e 0x829A=rational:1/30 --tuning '" + tuning + "' '" + f.path + "' '" + out +
                   "' 2>&1",
               &text);
  ASSERT_EQ(0, rc) << text;
  EXPECT_NE(std::string::npos, text.find("256x192")) << text;
  std::vector<uint8_t> jpeg;
  ASSERT_TRUE(ReadFile(out, jpeg));
  Decoded gray = DecodeWithDjpeg(jpeg, true);
  ASSERT_TRUE(gray.ok) << gray.error;
  EXPECT_EQ(256u, gray.width);
  EXPECT_EQ(192u, gray.height);
  EXPECT_GT(LumaPsnr(gray, f.pixels, 320, 32, 16), 36.0);
  auto tags = ReadExif(jpeg);
  EXPECT_EQ("OK", ValidateExif(jpeg));
  EXPECT_EQ("Samsung", tags["IFD0:Make"]);
  EXPECT_EQ("16", tags["ExifIFD:Flash"]);
  EXPECT_EQ("0.03333333333", tags["ExifIFD:ExposureTime"].substr(0, 13));
  auto note = ExtractBinary(jpeg, "MakerNoteUnknownText");
  EXPECT_EQ("AEC=1\n", std::string(note.begin(), note.end()));
  Decoded thumb = DecodeWithDjpeg(ExtractThumbnail(jpeg), true);
  ASSERT_TRUE(thumb.ok) << thumb.error;
  EXPECT_EQ(80u, thumb.width);
}

TEST(Nv21JpegTool, BadRequestsGiveAnExitCodeAndAMessage) {
  Frame f;
  std::string out = TempPath(".jpg");
  struct Case {
    std::string args;
    int rc;
    const char* words;
  } cases[] = {
      {"-s 321x240", 1, "odd"},
      {"-s 320x238", 1, "a 320x238 NV21 frame is"},
      {"-s 320x240 -c 0,0,320,10", 1, "outside"},
      {"-s 320x240 -q 0", 2, "bad --quality"},
      {"-s 320x240 -t 81x60", 1, "thumbnail"},
      {"-s 320x240 -t 65534x43694", 1, "thumbnail"},  // its size does not fit 32 bits
      {"-s 65534x43694", 1, "a 65534x43694 NV21 frame is 4295163894 bytes"},
      {"-s 320x240 -e 0x9209=short:70000", 2, "bad short value"},
      {"-s 320x240 -e 0x8769=long:5", 2, "written by the EXIF writer"},
      {"", 2, "--size is required"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    std::string text;
    int rc = hostsvc::test::Run(std::string(NV21JPEG_PATH) + " " + c.args + " '" + f.path + "' '" + out + "' 2>&1", &text);
    EXPECT_EQ(c.rc, rc) << text;
    EXPECT_NE(std::string::npos, text.find(c.words)) << text;
  }
  std::string text;
  EXPECT_EQ(1, hostsvc::test::Run(std::string(NV21JPEG_PATH) + " -s 320x240 /nonexistent.nv21 '" + out + "' 2>&1", &text));
  EXPECT_NE(std::string::npos, text.find("cannot read")) << text;
  // An output that cannot be written: a code and a message, not a silent success.
  const std::string unwritable = TempPath("") + "/no-such-directory/out.jpg";
  EXPECT_EQ(1, hostsvc::test::Run(std::string(NV21JPEG_PATH) + " -s 320x240 '" + f.path + "' '" + unwritable + "' 2>&1",
                                  &text));
  EXPECT_NE(std::string::npos, text.find("cannot write")) << text;
}

}  // namespace
