#include "stillencoder.h"

#include <algorithm>

namespace orbhost::services {

JpegStatus StillEncoder::Encode(const StillRequest& req, std::vector<uint8_t>& out, std::vector<std::string>& notes,
                                std::string* why) {
  out.clear();
  JpegEncoder::Options mainOpt;
  mainOpt.quality = req.mainQuality;
  mainOpt.crop = req.mainCrop;
  JpegStatus st = JpegEncoder::Validate(req.main, mainOpt, why);
  if (st != JpegStatus::kOk) return st;
  const uint32_t outW = req.mainCrop.IsEmpty() ? req.main.width : uint32_t(req.mainCrop.right - req.mainCrop.left + 1);
  const uint32_t outH = req.mainCrop.IsEmpty() ? req.main.height : uint32_t(req.mainCrop.bottom - req.mainCrop.top + 1);

  app1_.clear();
  if (req.exif) {
    ExifBuilder exif = *req.exif;
    // The thumbnail comes before the tuning text: it gets the room first.
    bool tuning = !req.tuningText.empty();
    if (tuning && exif.Has(ExifBuilder::kTagMakerNote)) {
      notes.push_back("maker note set by the client; tuning text not written");
      tuning = false;
    }
    if (req.thumbnail) {
      JpegEncoder::Options t;
      t.quality = req.thumbnailQuality;
      t.crop = req.thumbnailCrop;
      t.jfifHeader = false;
      std::string tw;
      JpegStatus ts = thumb_.Encode(*req.thumbnail, t, thumbJpeg_, &tw);
      if (ts == JpegStatus::kNoMemory) {
        if (why) *why = "thumbnail: " + tw;
        return ts;
      }
      if (ts != JpegStatus::kOk) {
        notes.push_back("thumbnail not embedded: " + tw);
      } else {
        exif.SetThumbnail(thumbJpeg_);
        // Too big for the segment: lower the thumbnail's quality, then leave it out.
        int q = t.quality;
        while (exif.SegmentSize(outW, outH) > ExifBuilder::kMaxSegment && q > kMinThumbnailQuality) {
          q = std::max(kMinThumbnailQuality, q * 2 / 3);
          t.quality = q;
          if (thumb_.Encode(*req.thumbnail, t, thumbJpeg_, nullptr) != JpegStatus::kOk) break;
          exif.SetThumbnail(thumbJpeg_);
        }
        if (exif.SegmentSize(outW, outH) > ExifBuilder::kMaxSegment) {
          exif.SetThumbnail({});
          notes.push_back("thumbnail left out: it does not fit the EXIF segment");
        } else if (q != req.thumbnailQuality) {
          notes.push_back("thumbnail encoded at quality " + std::to_string(q) + " to fit the EXIF segment");
        }
      }
    }
    if (tuning) {
      // Room left for the maker note: its entry (12 bytes) and its value (padded to even).
      size_t base = exif.SegmentSize(outW, outH) + 12 + 1;
      size_t room = base < ExifBuilder::kMaxSegment ? ExifBuilder::kMaxSegment - base : 0;
      size_t keep = std::min(req.tuningText.size(), room);
      if (keep > 0) exif.SetUndefined(ExifBuilder::kTagMakerNote, req.tuningText.data(), keep);
      if (keep < req.tuningText.size()) {
        notes.push_back("tuning text shortened from " + std::to_string(req.tuningText.size()) + " to " +
                        std::to_string(keep) + " bytes to fit the EXIF segment");
      }
    }
    std::string ew;
    if (!exif.Build(outW, outH, app1_, &ew)) {
      notes.push_back("EXIF data left out: " + ew);
      app1_.clear();
    }
  }
  if (!app1_.empty()) {
    mainOpt.app1 = app1_.data();
    mainOpt.app1Size = app1_.size();
  }
  return main_.Encode(req.main, mainOpt, out, why);
}

}  // namespace orbhost::services
