// EXIF segment and still composition, read back with exiftool and djpeg.
#include "stillencoder.h"

#include <gtest/gtest.h>

#include <cstring>

#include "jpegcheck.h"
#include "nv21frame.h"

using namespace orbhost::services;
using namespace hostsvc::test;
using namespace camera::test;

namespace {

std::vector<uint8_t> Le(std::initializer_list<uint32_t> words) {
  std::vector<uint8_t> b;
  for (uint32_t w : words)
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(w >> (8 * i)));
  return b;
}

ExifEntry Entry(uint16_t tag, uint16_t type, uint32_t count, std::vector<uint8_t> data) {
  ExifEntry e;
  e.tag = tag;
  e.type = type;
  e.count = count;
  e.data = std::move(data);
  return e;
}

struct Still {
  std::vector<uint8_t> main = Nv21Picture(640, 480, 1);
  std::vector<uint8_t> thumb = Nv21Picture(320, 240, 1);
  Nv21Frame thumbFrame = Nv21Frame::Packed(thumb.data(), 320, 240);
  StillRequest Request(const ExifBuilder* exif) {
    StillRequest r;
    r.main = Nv21Frame::Packed(main.data(), 640, 480);
    r.mainQuality = 90;
    r.exif = exif;
    return r;
  }
};

TEST(StillEncoder, WritesTagsOfEveryTypeWhereExiftoolFindsThem) {
  ExifBuilder exif;
  ASSERT_TRUE(exif.SetAscii(0x010F, "Samsung"));                  // Make, IFD0
  ASSERT_TRUE(exif.SetAscii(0x0110, std::string("S5K3E2FX\0", 9)));  // already terminated
  ASSERT_TRUE(exif.SetShort(0x9207, 2));                           // MeteringMode
  ASSERT_TRUE(exif.SetShort(0x9209, 0x19));                        // Flash
  ASSERT_TRUE(exif.SetRational(0x829A, 26, 1024));                 // ExposureTime
  ASSERT_TRUE(exif.SetRational(0x829D, 2867, 1024));               // FNumber
  ASSERT_TRUE(exif.Set(Entry(0x9201, kExifSRational, 1, Le({static_cast<uint32_t>(-3072), 1024})))); // ShutterSpeedValue
  ASSERT_TRUE(exif.Set(Entry(0xA214, kExifShort, 2, {0x40, 0x01, 0xF0, 0x00})));  // SubjectLocation 320,240
  ASSERT_TRUE(exif.Set(Entry(0xA302, kExifUndefined, 8, {0, 2, 0, 2, 1, 0, 2, 1})));  // CFAPattern
  ASSERT_TRUE(exif.SetLong(0xA405, 35));   // a LONG where the standard has SHORT: written as given
  ASSERT_TRUE(exif.Set(Entry(0x0001, kExifAscii, 2, {'N', 0})));  // GPSLatitudeRef
  ASSERT_TRUE(exif.Set(Entry(0x0002, kExifRational, 3, Le({51, 1, 30, 1, 1234, 100}))));  // GPSLatitude
  ASSERT_TRUE(exif.SetShort(0x5039, 2));   // the sensor's private tag goes to the Exif IFD

  Still s;
  StillRequest req = s.Request(&exif);
  req.thumbnail = &s.thumbFrame;
  req.thumbnailQuality = 80;
  std::string tuning = "3A=AEC:5, AWB:2\nGain=1.5,\n";
  req.tuningText.assign(tuning.begin(), tuning.end());
  StillEncoder enc;
  std::vector<uint8_t> jpeg;
  std::vector<std::string> notes;
  std::string why;
  ASSERT_EQ(enc.Encode(req, jpeg, notes, &why), JpegStatus::kOk) << why;
  EXPECT_TRUE(notes.empty());
  ASSERT_GT(jpeg.size(), 4u);
  EXPECT_EQ(jpeg[2], 0xFF);
  EXPECT_EQ(jpeg[3], 0xE1);  // APP1 right after SOI

  std::string warnings;
  auto tags = ReadExif(jpeg, &warnings);
  EXPECT_EQ(warnings, "");
  EXPECT_EQ(tags["IFD0:Make"], "Samsung");
  EXPECT_EQ(tags["IFD0:Model"], "S5K3E2FX");
  EXPECT_EQ(tags["IFD0:XResolution"], "72");
  EXPECT_EQ(tags["IFD0:ResolutionUnit"], "2");
  EXPECT_EQ(tags["ExifIFD:MeteringMode"], "2");
  EXPECT_EQ(tags["ExifIFD:Flash"], "25");
  EXPECT_EQ(tags["ExifIFD:ExposureTime"], "0.025390625");
  EXPECT_EQ(tags["ExifIFD:FNumber"], "2.799804688");
  EXPECT_EQ(tags["ExifIFD:ShutterSpeedValue"], "8");  // 2^3 = 1/8 s, shown as its reciprocal with -n
  EXPECT_EQ(tags["ExifIFD:SubjectLocation"], "320 240");
  EXPECT_EQ(tags["ExifIFD:CFAPattern"], "2 2 1 0 2 1");
  EXPECT_EQ(tags["ExifIFD:FocalLengthIn35mmFormat"], "35");
  EXPECT_EQ(tags["ExifIFD:ExifVersion"], "0220");
  EXPECT_EQ(tags["ExifIFD:ExifImageWidth"], "640");
  EXPECT_EQ(tags["ExifIFD:ExifImageHeight"], "480");
  EXPECT_EQ(tags["ExifIFD:ColorSpace"], "1");
  EXPECT_EQ(tags["GPS:GPSVersionID"], "2 2 0 0");
  EXPECT_EQ(tags["GPS:GPSLatitudeRef"], "N");
  EXPECT_EQ(tags["GPS:GPSLatitude"], "51.5034277777778");
  EXPECT_EQ(tags["IFD1:Compression"], "6");
  EXPECT_TRUE(tags.count("ExifIFD:MakerNoteUnknownText")) << "tuning text";
  EXPECT_EQ(ExtractBinary(jpeg, "MakerNoteUnknownText"), req.tuningText);

  std::vector<uint8_t> thumb = ExtractThumbnail(jpeg);
  Decoded t = DecodeWithDjpeg(thumb, true);
  ASSERT_TRUE(t.ok) << t.error;
  EXPECT_EQ(t.width, 320u);
  EXPECT_EQ(t.height, 240u);
  EXPECT_GT(LumaPsnr(t, s.thumb, 320, 0, 0), 34.0);
  Decoded m = DecodeWithDjpeg(jpeg, true);
  ASSERT_TRUE(m.ok) << m.error;
  EXPECT_GT(LumaPsnr(m, s.main, 640, 0, 0), 36.0);
}

TEST(StillEncoder, CropsMainAndThumbnailAndRecordsTheEncodedSize) {
  ExifBuilder exif;
  Still s;
  StillRequest req = s.Request(&exif);
  req.mainCrop = {160, 120, 479, 359};
  req.thumbnail = &s.thumbFrame;
  req.thumbnailCrop = {80, 60, 239, 179};
  StillEncoder enc;
  std::vector<uint8_t> jpeg;
  std::vector<std::string> notes;
  ASSERT_EQ(enc.Encode(req, jpeg, notes), JpegStatus::kOk);
  auto tags = ReadExif(jpeg);
  EXPECT_EQ("OK", ValidateExif(jpeg));
  EXPECT_EQ(tags["ExifIFD:ExifImageWidth"], "320");
  EXPECT_EQ(tags["ExifIFD:ExifImageHeight"], "240");
  Decoded m = DecodeWithDjpeg(jpeg, true);
  ASSERT_TRUE(m.ok) << m.error;
  EXPECT_EQ(m.width, 320u);
  EXPECT_GT(LumaPsnr(m, s.main, 640, 160, 120), 36.0);
  Decoded t = DecodeWithDjpeg(ExtractThumbnail(jpeg), true);
  ASSERT_TRUE(t.ok) << t.error;
  EXPECT_EQ(t.width, 160u);
  EXPECT_EQ(t.height, 120u);
  EXPECT_GT(LumaPsnr(t, s.thumb, 320, 80, 60), 30.0);
}

TEST(StillEncoder, FitsOversizedThumbnailAndTuningTextIntoOneSegment) {
  ExifBuilder exif;
  exif.SetAscii(0x010F, "Samsung");
  Still s;
  // A noisy 640x480 thumbnail at quality 100 is far beyond 64 KB.
  std::vector<uint8_t> noisy = Nv21Noise(640, 480);
  Nv21Frame noisyFrame = Nv21Frame::Packed(noisy.data(), 640, 480);
  StillRequest req = s.Request(&exif);
  req.thumbnail = &noisyFrame;
  req.thumbnailQuality = 100;
  StillEncoder enc;
  std::vector<uint8_t> jpeg;
  std::vector<std::string> notes;
  ASSERT_EQ(enc.Encode(req, jpeg, notes), JpegStatus::kOk);
  ASSERT_FALSE(notes.empty());
  EXPECT_NE(notes.back().find("thumbnail left out"), std::string::npos) << notes.back();
  auto tags = ReadExif(jpeg);
  EXPECT_EQ(tags["IFD0:Make"], "Samsung");
  EXPECT_EQ(tags.count("IFD1:ThumbnailLength"), 0u);

  // A long tuning text is shortened to what fits, and the thumbnail stays.
  req.thumbnail = &s.thumbFrame;
  req.thumbnailQuality = 75;
  req.tuningText.assign(70000, 'x');
  notes.clear();
  ASSERT_EQ(enc.Encode(req, jpeg, notes), JpegStatus::kOk);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].find("tuning text shortened"), std::string::npos) << notes[0];
  std::vector<uint8_t> note = ExtractBinary(jpeg, "MakerNoteUnknownText");
  EXPECT_GT(note.size(), 30000u);
  EXPECT_LT(note.size(), 65000u);
  Decoded t = DecodeWithDjpeg(ExtractThumbnail(jpeg), true);
  EXPECT_TRUE(t.ok) << t.error;
  // The APP1 length field holds the whole segment.
  uint32_t len = (jpeg[4] << 8) | jpeg[5];
  EXPECT_LE(len, 65535u);
}

TEST(StillEncoder, WithoutExifDataWritesAPlainJfifFile) {
  Still s;
  StillRequest req = s.Request(nullptr);
  StillEncoder enc;
  std::vector<uint8_t> jpeg;
  std::vector<std::string> notes;
  ASSERT_EQ(enc.Encode(req, jpeg, notes), JpegStatus::kOk);
  EXPECT_EQ(jpeg[3], 0xE0);
  EXPECT_EQ(std::memcmp(jpeg.data() + 6, "JFIF", 4), 0);
}

TEST(StillEncoder, BadThumbnailIsLeftOutButBadMainFrameFails) {
  ExifBuilder exif;
  Still s;
  StillRequest req = s.Request(&exif);
  req.thumbnail = &s.thumbFrame;
  req.thumbnailCrop = {0, 0, 400, 100};  // outside the 320x240 thumbnail
  StillEncoder enc;
  std::vector<uint8_t> jpeg;
  std::vector<std::string> notes;
  ASSERT_EQ(enc.Encode(req, jpeg, notes), JpegStatus::kOk);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].find("thumbnail not embedded"), std::string::npos);

  req.mainCrop = {0, 0, 640, 480};
  std::string why;
  EXPECT_EQ(enc.Encode(req, jpeg, notes, &why), JpegStatus::kBadArgument);
  EXPECT_NE(why.find("outside"), std::string::npos);
}

TEST(ExifBuilder, RefusesReservedTagsAndInconsistentEntries) {
  ExifBuilder exif;
  EXPECT_FALSE(exif.SetLong(0x8769, 100));   // the Exif IFD pointer is the writer's
  EXPECT_FALSE(exif.SetLong(0x0201, 100));   // as is the thumbnail offset
  EXPECT_FALSE(exif.Set(Entry(0x9209, 99, 1, {0, 0})));           // unknown type
  EXPECT_FALSE(exif.Set(Entry(0x9209, kExifShort, 2, {0, 0})));   // count and size disagree
  EXPECT_FALSE(exif.Set(Entry(0x9209, kExifShort, 0, {})));
  EXPECT_FALSE(exif.Set(Entry(0x927C, kExifUndefined, 70000, std::vector<uint8_t>(70000))));
  EXPECT_FALSE(exif.Has(0x9209));
  EXPECT_TRUE(exif.SetShort(0x9209, 1));
  EXPECT_TRUE(exif.SetShort(0x9209, 16));  // replaces
  ASSERT_NE(exif.Find(0x9209), nullptr);
  EXPECT_EQ(exif.Find(0x9209)->data[0], 16);

  std::vector<uint8_t> seg;
  ASSERT_TRUE(exif.Build(100, 50, seg));
  EXPECT_EQ(seg.size(), exif.SegmentSize(100, 50));
  EXPECT_EQ(std::memcmp(seg.data() + 4, "Exif\0\0II*\0", 10), 0);
}

}  // namespace
