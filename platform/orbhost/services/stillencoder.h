// One still image: the main JPEG with an APP1 EXIF segment that embeds the thumbnail JPEG
// and the tuning text, fitted into the 64 KB that one segment allows.
#pragma once

#include <string>
#include <vector>

#include "exifwriter.h"
#include "jpegencoder.h"

namespace orbhost::services {

struct StillRequest {
  Nv21Frame main;
  CropRect mainCrop;
  int mainQuality = JpegEncoder::kDefaultQuality;
  const Nv21Frame* thumbnail = nullptr;  // none: no thumbnail in the EXIF data
  CropRect thumbnailCrop;
  int thumbnailQuality = JpegEncoder::kDefaultQuality;
  const ExifBuilder* exif = nullptr;     // none: a plain JFIF file
  std::vector<uint8_t> tuningText;       // written as the maker note when not empty
};

class StillEncoder {
 public:
  // Lowest quality tried for a thumbnail that does not fit into the EXIF segment.
  static constexpr int kMinThumbnailQuality = 20;

  // `notes` receives one line per compromise made (thumbnail re-encoded or dropped, tuning
  // text shortened); `why` says what was wrong on failure.
  JpegStatus Encode(const StillRequest& req, std::vector<uint8_t>& out, std::vector<std::string>& notes,
                    std::string* why = nullptr);

 private:
  JpegEncoder main_;
  JpegEncoder thumb_;
  std::vector<uint8_t> thumbJpeg_;
  std::vector<uint8_t> app1_;
};

}  // namespace orbhost::services
