// nv21jpeg: encodes a raw NV21 frame into a JPEG file with the host's still encoder.
//
//   nv21jpeg --size 2592x1944 [--quality 90] [--crop 0,0,1295,971] [--thumbnail 320x240]
//            [--thumbnail-quality 75] [--exif 0x010F=ascii:Samsung ...] [--tuning file]
//            input.nv21 output.jpg
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "exifargs.h"
#include "stillencoder.h"

using namespace orbhost::services;

namespace {

const char kUsage[] =
    "usage: nv21jpeg --size WxH [options] input.nv21 output.jpg\n"
    "  -s, --size WxH              frame size (even numbers); the input holds W*H*3/2 bytes\n"
    "  -q, --quality N             JPEG quality 1..100 (default 75)\n"
    "  -c, --crop L,T,R,B          encode only this inclusive rectangle of the frame\n"
    "  -t, --thumbnail WxH         embed a thumbnail of this size (scaled from the encoded area)\n"
    "      --thumbnail-quality N   thumbnail quality 1..100 (default 75)\n"
    "  -e, --exif TAG=TYPE:VALUE   add an EXIF tag; TYPE is byte, ascii, short, long, rational,\n"
    "                              sbyte, undefined (hex bytes), sshort, slong or srational;\n"
    "                              several values are separated by commas, rationals are N/D\n"
    "      --tuning FILE           write FILE's bytes as the tuning text (maker note)\n"
    "  -h, --help                  this text\n";

int Usage(const std::string& why) {
  std::fprintf(stderr, "nv21jpeg: %s\n%s", why.c_str(), kUsage);
  return 2;
}

bool ParseSize(const std::string& s, uint32_t& w, uint32_t& h) {
  unsigned a, b;
  char x, extra;
  if (std::sscanf(s.c_str(), "%u%c%u%c", &a, &x, &b, &extra) != 3 || (x != 'x' && x != 'X')) return false;
  w = a;
  h = b;
  return true;
}

bool ParseCrop(const std::string& s, CropRect& c) {
  char extra;
  return std::sscanf(s.c_str(), "%d,%d,%d,%d%c", &c.left, &c.top, &c.right, &c.bottom, &extra) == 4;
}

bool ParseQuality(const std::string& s, int& q) {
  char* end = nullptr;
  long v = std::strtol(s.c_str(), &end, 10);
  if (s.empty() || *end != 0 || v < 1 || v > 100) return false;
  q = static_cast<int>(v);
  return true;
}

bool ReadAll(const std::string& path, std::vector<uint8_t>& data) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  data.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  return !f.bad();
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t width = 0, height = 0, thumbW = 0, thumbH = 0;
  int quality = JpegEncoder::kDefaultQuality, thumbQuality = JpegEncoder::kDefaultQuality;
  CropRect crop;
  ExifBuilder exif;
  bool anyExif = false;
  std::string tuningPath;
  std::vector<std::string> files;

  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](std::string& v) {
      if (i + 1 >= argc) return false;
      v = argv[++i];
      return true;
    };
    std::string v;
    if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "-s" || a == "--size") {
      if (!value(v) || !ParseSize(v, width, height)) return Usage("bad --size (expected WxH)");
    } else if (a == "-q" || a == "--quality") {
      if (!value(v) || !ParseQuality(v, quality)) return Usage("bad --quality (expected 1..100)");
    } else if (a == "-c" || a == "--crop") {
      if (!value(v) || !ParseCrop(v, crop)) return Usage("bad --crop (expected L,T,R,B)");
    } else if (a == "-t" || a == "--thumbnail") {
      if (!value(v) || !ParseSize(v, thumbW, thumbH)) return Usage("bad --thumbnail (expected WxH)");
    } else if (a == "--thumbnail-quality") {
      if (!value(v) || !ParseQuality(v, thumbQuality)) return Usage("bad --thumbnail-quality (expected 1..100)");
    } else if (a == "-e" || a == "--exif") {
      ExifEntry e;
      std::string why;
      if (!value(v)) return Usage("--exif needs a value");
      if (!nv21jpeg::ParseExifArg(v, e, &why)) return Usage(why);
      if (!exif.Set(e, &why)) return Usage("tag " + v + ": " + why);
      anyExif = true;
    } else if (a == "--tuning") {
      if (!value(tuningPath)) return Usage("--tuning needs a file");
    } else if (!a.empty() && a[0] == '-') {
      return Usage("unknown option " + a);
    } else {
      files.push_back(a);
    }
  }
  if (files.size() != 2) return Usage("expected an input and an output file");
  if (width == 0 || height == 0) return Usage("--size is required");

  std::vector<uint8_t> frame;
  if (!ReadAll(files[0], frame)) {
    std::fprintf(stderr, "nv21jpeg: cannot read %s\n", files[0].c_str());
    return 1;
  }
  if ((width & 1) || (height & 1)) {
    std::fprintf(stderr, "nv21jpeg: NV21 frame size %ux%u is odd\n", width, height);
    return 1;
  }
  if (frame.size() != Nv21Frame::PackedSize(width, height)) {
    std::fprintf(stderr, "nv21jpeg: %s holds %zu bytes; a %ux%u NV21 frame is %zu bytes\n", files[0].c_str(),
                 frame.size(), width, height, Nv21Frame::PackedSize(width, height));
    return 1;
  }

  StillRequest req;
  req.main = Nv21Frame::Packed(frame.data(), width, height);
  req.mainCrop = crop;
  req.mainQuality = quality;
  std::string why;
  if (JpegEncoder::Validate(req.main, {quality, crop, true, nullptr, 0}, &why) != JpegStatus::kOk) {
    std::fprintf(stderr, "nv21jpeg: %s\n", why.c_str());
    return 1;
  }
  std::vector<uint8_t> thumb;
  Nv21Frame thumbFrame;
  if (thumbW || thumbH) {
    if (!ScaleNv21(req.main, crop, thumbW, thumbH, thumb)) {
      std::fprintf(stderr, "nv21jpeg: cannot make a %ux%u thumbnail (sizes must be even, at least 2)\n", thumbW, thumbH);
      return 1;
    }
    thumbFrame = Nv21Frame::Packed(thumb.data(), thumbW, thumbH);
    req.thumbnail = &thumbFrame;
    req.thumbnailQuality = thumbQuality;
    anyExif = true;
  }
  if (!tuningPath.empty()) {
    if (!ReadAll(tuningPath, req.tuningText)) {
      std::fprintf(stderr, "nv21jpeg: cannot read %s\n", tuningPath.c_str());
      return 1;
    }
    anyExif = true;
  }
  if (anyExif) req.exif = &exif;

  StillEncoder enc;
  std::vector<uint8_t> jpeg;
  std::vector<std::string> notes;
  JpegStatus st = enc.Encode(req, jpeg, notes, &why);
  for (const std::string& n : notes) std::fprintf(stderr, "nv21jpeg: note: %s\n", n.c_str());
  if (st != JpegStatus::kOk) {
    std::fprintf(stderr, "nv21jpeg: encoding failed: %s\n", why.c_str());
    return 1;
  }
  FILE* out = std::fopen(files[1].c_str(), "wb");
  if (!out || std::fwrite(jpeg.data(), 1, jpeg.size(), out) != jpeg.size() || std::fclose(out) != 0) {
    std::fprintf(stderr, "nv21jpeg: cannot write %s\n", files[1].c_str());
    return 1;
  }
  std::printf("%s: %ux%u, %zu bytes\n", files[1].c_str(),
              crop.IsEmpty() ? width : static_cast<uint32_t>(crop.right - crop.left + 1),
              crop.IsEmpty() ? height : static_cast<uint32_t>(crop.bottom - crop.top + 1), jpeg.size());
  return 0;
}
