// Helpers of the host-service tests: reading encoder output back with the standard
// tools (djpeg for pixels, exiftool for tags). The NV21 pictures come from
// tests/support (nv21frame.h).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace hostsvc::test {

struct Decoded {
  bool ok = false;
  std::string error;
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> pixels;  // gray (1 byte) or RGB (3 bytes) per pixel
};

// Writes `jpeg` to a temporary file and decodes it with djpeg (grayscale: the Y channel).
Decoded DecodeWithDjpeg(const std::vector<uint8_t>& jpeg, bool grayscale);

// PSNR of the decoded luma against the luma of `nv21` inside the rectangle starting at
// (x0, y0) of size of the decoded picture.
double LumaPsnr(const Decoded& gray, const std::vector<uint8_t>& nv21, uint32_t width, uint32_t x0, uint32_t y0);

// PSNR of the decoded RGB against the JFIF RGB conversion of the NV21 source.
double RgbPsnr(const Decoded& rgb, const std::vector<uint8_t>& nv21, uint32_t width, uint32_t height, uint32_t x0,
               uint32_t y0);

// Tags as exiftool prints them with -n (numbers unformatted), keyed "Group:Name".
std::map<std::string, std::string> ReadExif(const std::vector<uint8_t>& jpeg, std::string* warnings = nullptr);

// exiftool's structural check of the metadata: "OK", or its warnings.
std::string ValidateExif(const std::vector<uint8_t>& jpeg);

// The embedded thumbnail image, extracted with exiftool -b.
std::vector<uint8_t> ExtractThumbnail(const std::vector<uint8_t>& jpeg);

// A binary value (e.g. the maker note) extracted with exiftool -b.
std::vector<uint8_t> ExtractBinary(const std::vector<uint8_t>& jpeg, const std::string& tag);

// A unique temporary path inside the test's private image.
std::string TempPath(const std::string& suffix);

bool ReadFile(const std::string& path, std::vector<uint8_t>& out);
bool WriteFile(const std::string& path, const std::vector<uint8_t>& data);

// Runs a shell command, returning its exit status and standard output.
int Run(const std::string& command, std::string* out);

}  // namespace hostsvc::test
